#include "base/parallel.h"
#include "cli/args.h"
#include "cli/catalogue_access.h"
#include "cli/commands.h"
#include "cli/decision.h"
#include "cli/io.h"
#include "cli/json.h"
#include "cli/registration_output.h"
#include "watermark/detector.h"
#include "watermark/evidence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace pelinor::cli {

namespace {

const Option kJobs{
    "--jobs", "J", "threads reading the watermark files (default: one per core)", nullptr, {0, 256, 0}};

const Option kOptions[] = {
    kMaxFalsePositiveOption,
    kThresholdOption,
    {"--json", nullptr, "print one JSON object instead of text (described in docs/json.md)"},
    kJobs,
    {"--register", "M",
        "auto (default): SUSPECT as it stands when the sizes agree, registered\nfirst when they differ or no "
        "watermark is found so; always; never"},
    kMaxPixelsOption,
};

// What the ranking keeps of one watermark file: its length and result, or why it is bad.
// The values are dropped once scored (only regular files are read, so a second ranking
// can read them again).
struct Entry {
    std::string path;
    int length = 0;
    std::string error;
    DetectResult result;
};

// The family-wise figure of the top similarity: the chance that any of the ranked files,
// never embedded, would reach it. NaN when no file was scored or its figure does not hold.
double topFamilyWise(const std::vector<const Entry*>& ranked)
{
    return ranked.empty() ? std::numeric_limits<double>::quiet_NaN() : ranked.front()->result.logFamilyWise;
}

void printText(const std::vector<const Entry*>& ranked, const DecisionRule& rule,
    const std::optional<Registration>& registration)
{
    std::printf("%4s  %10s  %7s  %10s  %11s  %-9s  %s\n", "rank", "similarity", "z", "false pos.",
        "family-wise", "verdict", "watermark");
    int rank = 0;
    for (const Entry* e : ranked)
        std::printf("%4d  %10.4f  %7.2f  %10s  %11s  %-9s  %s\n", ++rank, e->result.similarity, e->result.z,
            formatProbability(e->result.logFalsePositive).c_str(),
            formatProbability(e->result.logFamilyWise).c_str(), e->result.found ? "found" : "not found",
            e->path.c_str());
    if (const double p = topFamilyWise(ranked); !std::isnan(p))
        std::printf("family-wise false-positive probability: %s (any of the %zu files, never embedded, "
                    "reaching %.4f by chance)\n",
            formatProbability(p).c_str(), ranked.size(), ranked.front()->result.similarity);
    std::printf("rule: %s%s\n", ruleText(rule).c_str(),
        rule.kind == DecisionRule::Kind::Evidence ? ", each file by its family-wise figure" : "");
    std::printf("%s\n", registrationText(registration).c_str());
}

void printJson(const std::vector<const Entry*>& ranked, const std::vector<Entry>& entries,
    const std::string (&paths)[2], const DecisionRule& rule, const std::optional<Registration>& registration)
{
    JsonArray list;
    for (const Entry* e : ranked) {
        JsonObject o;
        o.add("watermark", e->path)
            .add("similarity", e->result.similarity)
            .add("found", e->result.found)
            .add("z", e->result.z);
        addFalsePositive(o, e->result);
        o.add("length", e->length);
        addLogProbability(o, "family_wise_false_positive_probability", e->result.logFamilyWise);
        list.add(o);
    }
    JsonArray errors;
    for (const Entry& e : entries)
        if (!e.error.empty()) errors.add(JsonObject().add("watermark", e.path).add("error", e.error));
    JsonObject o;
    o.add("schema", kJsonSchema).add("original", paths[0]).add("suspect", paths[1]);
    addRule(o, rule);
    o.add("files", static_cast<long long>(ranked.size()));
    o.add("found", std::any_of(ranked.begin(), ranked.end(), [](const Entry* e) { return e->result.found; }));
    if (!ranked.empty())
        o.add("top_similarity", ranked.front()->result.similarity);
    else
        o.addNull("top_similarity");
    addLogProbability(o, "family_wise_false_positive_probability", topFamilyWise(ranked));
    o.add("watermarks", list).add("errors", errors);
    addRegistration(o, registration);
    std::printf("%s\n", o.str().c_str());
}

// Reads and scores every watermark file on `jobs` threads, one file in memory per thread at
// a time. A file already bad stays bad; one that fails now keeps its error text and is
// reported on stderr.
void score(
    std::vector<Entry>& entries, SuspectTest& test, const DecisionRule& rule, unsigned jobs, bool& anyBad)
{
    std::vector<char> failed(entries.size(), 0);
    runParallel(entries.size(), jobs, [&](std::size_t i) {
        Entry& e = entries[i];
        if (!e.error.empty()) return;
        try {
            const Watermark watermark = readWatermark(e.path);
            e.length = watermark.length;
            e.result = test.detect(watermark, rule);
        } catch (const std::bad_alloc&) {
            e.error = "Out of memory: reading and scoring the watermark file";
        } catch (const std::exception& err) {
            e.error = err.what();
        }
        if (!e.error.empty()) failed[i] = 1;
    });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!failed[i]) continue;
        anyBad = true;
        std::fprintf(
            stderr, "pelinor-cli identify: %s\n", fileMessage(entries[i].path, entries[i].error).c_str());
    }
}

// The scored entries, best first, each with its family-wise figure over all of them and,
// by the evidence, its verdict by that figure.
std::vector<const Entry*> ranking(std::vector<Entry>& entries, const DecisionRule& rule)
{
    std::vector<DetectResult*> results;
    std::vector<int> lengths;
    for (Entry& e : entries) {
        if (!e.error.empty()) continue;
        results.push_back(&e.result);
        if (!std::isnan(e.result.logFalsePositive)) lengths.push_back(e.length);
    }
    decideTogether(results, lengths, rule);
    std::vector<const Entry*> ranked;
    for (const Entry& e : entries)
        if (e.error.empty()) ranked.push_back(&e);
    std::stable_sort(ranked.begin(), ranked.end(),
        [](const Entry* x, const Entry* y) { return x->result.similarity > y->result.similarity; });
    return ranked;
}

int identify(const ParsedArgs& a)
{
    a.expectPositional(3, std::size_t(-1), "ORIGINAL SUSPECT WATERMARK.wmk...");
    const DecisionRule rule = decisionRule(a);
    const unsigned jobs = jobCount(a.integer(kJobs));
    const RegisterMode mode = registerMode(a);
    const std::int64_t limit = maxPixels(a);
    const std::string paths[2] = {a.positional()[0], a.positional()[1]};
    PictureRef pictures[2] = {loadPictureFile(paths[0], limit), loadPictureFile(paths[1], limit)};
    require24Bit(paths[0], *pictures[0]);
    require24Bit(paths[1], *pictures[1]);
    warnIfNotMarkedOriginal("identify", paths[0], *pictures[0]);
    const Picture& original = *pictures[0];
    const PictureRef suspect = pictures[1];
    if (mode == RegisterMode::Never)
        withFile(paths[1], [&] {
            requireSameSize(original.width(), original.height(), suspect->width(), suspect->height());
        });

    std::vector<Entry> entries(a.positional().size() - 2);
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i].path = a.positional()[i + 2];
    // The suspect is registered once, whatever the number of watermark files; when it is
    // first tested as it stands and nothing is found, the files are read again.
    const Reference reference(original);
    DetectOptions options;
    options.mode = mode;
    options.parallel = jobs > 1;
    bool anyBad = false;
    std::vector<const Entry*> ranked;
    auto anyFound = [&] {
        return std::any_of(ranked.begin(), ranked.end(), [](const Entry* e) { return e->result.found; });
    };
    const SuspectTesting tested = withRegistrationNamed(original, *suspect, paths[1], [&] {
        return testSuspect(
            reference, *suspect,
            [&](const SuspectOnGrid& s) {
                SuspectTest test(reference, s.analysis);
                score(entries, test, rule, jobs, anyBad);
                ranked = ranking(entries, rule);
                // With no file to score there is nothing a registration could change.
                return ranked.empty() || anyFound();
            },
            options);
    });
    const std::optional<Registration>& registration = tested.registration;
    if (a.has("--json"))
        printJson(ranked, entries, paths, rule, registration);
    else
        printText(ranked, rule, registration);
    if (anyBad) return kExitError;
    return anyFound() ? kExitOk : kExitNotFound;
}

} // namespace

const Command kIdentifyCommand{"identify", "rank many watermark files against one suspect",
    "ORIGINAL SUSPECT WATERMARK.wmk... [--max-false-positive P | --threshold T] [--json] [--jobs J] "
    "[--register "
    "auto|always|never]",
    "Tests one SUSPECT picture against many watermark files (for example one issued to each\nrecipient of "
    "ORIGINAL) and lists them ranked by similarity, with their verdicts, z-scores\nand false-positive "
    "probabilities. Because many files are tested at once, each also has its\nfamily-wise figure: the chance "
    "that any of them, never embedded, would reach its\nsimilarity by chance. By the evidence every file "
    "whose "
    "family-wise figure is at most P\nis found (the copy that colluders averaged shows each of their marks). "
    "ORIGINAL and SUSPECT are "
    "transformed once, whatever the number of files,\nand a SUSPECT that needs registering onto ORIGINAL "
    "(see detect --help) is registered once.",
    kOptions,
    "A watermark file that cannot be used is reported on stderr and left out of the ranking.\nExit status: 0 "
    "at least one watermark found, 1 none found, 2 usage or input error\n(also when any watermark file was "
    "bad).",
    identify};

} // namespace pelinor::cli
