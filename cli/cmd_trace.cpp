#include "base/atomic_file.h"
#include "catalogue/sha256.h"
#include "catalogue/trace.h"
#include "cli/args.h"
#include "cli/catalogue_access.h"
#include "cli/commands.h"
#include "cli/decision.h"
#include "cli/io.h"
#include "cli/json.h"
#include "cli/registration_output.h"
#include "cli/report/evidence.h"
#include "watermark/evidence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <optional>
#include <string>

namespace pelinor::cli {

namespace {

namespace fs = std::filesystem;

const Option kOptions[] = {
    {"--report", "FILE.html", "also write the evidence report: one self-contained page to read and print"},
    {"--json", nullptr, "print one JSON object instead of text (described in docs/json.md)"},
    {"--max-false-positive", "P",
        "a key counts as found when the chance that any of the keys tested,\nnever embedded, scores as high "
        "is at most P (default 1e-9)"},
    kThresholdOption,
    {"--register", "M",
        "auto (default): SUSPECT as it stands when the sizes agree, registered\nfirst when they differ or no "
        "key is found so; always; never"},
    kCatalogueOption,
    kMaxPixelsOption,
};

std::string nameOf(const std::string& path)
{
    return fs::path(path).filename().string();
}

std::string dayOf(const std::string& iso)
{
    return iso.substr(0, 10);
}

// A probability from its logarithm, "n/a" where the figure does not hold.
std::string probability(double logP)
{
    return std::isnan(logP) ? std::string("n/a") : formatProbability(logP);
}

// "marked for Client B on 2026-11-03", or for an imported key "key of Client B (imported ...)".
std::string whose(const TracedKey& k)
{
    if (k.mark) return "marked for " + k.recipient + " on " + dayOf(k.mark->created);
    return "key of " + k.recipient + " (recorded " + dayOf(k.key.created) + ")";
}

// The answer for one candidate, in one line; "" when it was not tried.
std::string candidateLine(const TracedOriginal& c, std::size_t keysTested)
{
    const std::string photo = "photo " + nameOf(c.original.path);
    if (!c.tested || c.keys.empty()) return photo + ": not tried: " + c.note;
    std::string lines;
    for (const TracedKey& k : c.keys) {
        if (!k.found()) continue;
        char text[200];
        std::snprintf(text, sizeof text,
            ": found (similarity %.2f, false-positive probability %s over %zu keys)", k.result.similarity,
            probability(k.result.logFamilyWise).c_str(), keysTested);
        lines += (lines.empty() ? "" : "\n") + photo + ", " + whose(k) + text;
    }
    if (!lines.empty()) return lines;
    const TracedKey& best = c.keys.front();
    char text[200];
    std::snprintf(text, sizeof text, ", similarity %.2f, false-positive probability %s over %zu keys)",
        best.result.similarity, probability(best.result.logFamilyWise).c_str(), keysTested);
    return photo + ": none of its " + std::to_string(c.keys.size()) + " keys found (best: " + best.recipient
        + text;
}

std::string notFoundLine(const TraceResult& r, const std::string& suspectPath)
{
    return suspectPath + ": not found: none of the " + std::to_string(r.originalsSearched)
        + " originals in the catalogue resembles it";
}

void printText(const TraceResult& r, const std::string& suspectPath)
{
    if (r.candidates.empty()) {
        std::printf("%s\n", notFoundLine(r, suspectPath).c_str());
        return;
    }
    // Once a recipient is named, the other originals tried are left to --json.
    const bool found = !r.found().empty();
    for (const TracedOriginal& c : r.candidates) {
        if (found && std::none_of(c.keys.begin(), c.keys.end(), [](const TracedKey& k) { return k.found(); }))
            continue;
        std::printf("%s\n", candidateLine(c, r.keysTested).c_str());
        if (!c.tested || c.keys.empty()) continue;
        std::printf("  original %s (fingerprint %.2f), %s\n", c.original.path.c_str(), c.fingerprintScore,
            registrationText(c.registration).c_str());
        if (!c.note.empty()) std::printf("  note: %s\n", c.note.c_str());
    }
}

// The candidate the report shows: the first with a key found, else the first tested.
const TracedOriginal* shownCandidate(const TraceResult& r)
{
    for (const TracedOriginal& c : r.candidates)
        for (const TracedKey& k : c.keys)
            if (k.found()) return &c;
    for (const TracedOriginal& c : r.candidates)
        if (c.tested) return &c;
    return nullptr;
}

std::string commandLine(const ParsedArgs& a)
{
    std::vector<std::string> words{"pelinor-cli", "trace"};
    words.insert(words.end(), a.positional().begin(), a.positional().end());
    for (const auto& [name, value] : a.inOrder()) {
        words.push_back(name);
        if (!value.empty()) words.push_back(value);
    }
    return shellLine(words);
}

// The rule in words, as the report and the JSON state it.
std::string ruleWords(const DecisionRule& rule)
{
    return ruleText(rule)
        + (rule.kind == DecisionRule::Kind::Evidence
                ? ", each key by its family-wise figure over every key tested"
                : "");
}

void writeReport(const std::string& path, const TraceResult& r, const Picture& suspect,
    const std::string& suspectPath, const std::string& suspectSha, const DecisionRule& rule,
    const std::string& command, const std::string& date)
{
    EvidencePage page;
    page.suspectPath = suspectPath;
    page.suspectSha256 = suspectSha;
    page.suspect = &suspect;
    page.keysTested = r.keysTested;
    page.rule = ruleWords(rule);
    page.commandLine = command;
    page.date = date;
    const TracedOriginal* c = shownCandidate(r);
    if (!c) {
        page.verdict
            = r.candidates.empty() ? notFoundLine(r, suspectPath) : candidateLine(r.candidates[0], 0);
    } else {
        page.verdict = candidateLine(*c, r.keysTested);
        page.originalPath = c->original.path;
        page.originalSha256 = c->original.sha256;
        page.original = c->picture.get();
        page.onGrid = c->suspectOnGrid.get();
        page.registration = c->registration;
        page.note = c->note;
        for (const TracedKey& k : c->keys) {
            EvidenceKey e;
            e.recipient = k.recipient;
            e.found = k.found();
            e.similarity = k.result.similarity;
            e.z = k.result.z;
            e.logFalsePositive = k.result.logFalsePositive;
            e.logFamilyWise = k.result.logFamilyWise;
            e.length = k.key.length;
            e.alpha = k.key.alpha;
            e.keySha256 = k.key.sha256;
            if (k.mark) {
                e.marked = k.mark->created;
                e.output = k.mark->output;
                e.outputSha256 = k.mark->outputSha256;
                e.psnr = k.mark->psnr;
            }
            page.keys.push_back(std::move(e));
        }
    }
    withFile(path, [&] { writeFileAtomic(path, evidenceHtml(page)); });
}

JsonObject keyJson(const TracedKey& k)
{
    JsonObject o;
    o.add("recipient", k.recipient)
        .add("found", k.found())
        .add("similarity", k.result.similarity)
        .add("z", k.result.z);
    addFalsePositive(o, k.result);
    addLogProbability(o, "family_wise_false_positive_probability", k.result.logFamilyWise);
    o.add("length", k.key.length)
        .add("alpha", k.key.alpha)
        .add("key_sha256", k.key.sha256)
        .add("key_created", k.key.created);
    if (k.mark)
        o.add("marked", k.mark->created)
            .add("output", k.mark->output)
            .add("output_sha256", k.mark->outputSha256);
    else
        o.addNull("marked").addNull("output").addNull("output_sha256");
    return o;
}

void printJson(const TraceResult& r, const std::string& suspectPath, const std::string& suspectSha,
    const DecisionRule& rule, const std::string& identical, const std::string& command,
    const std::string& date, const std::string& report)
{
    JsonArray candidates;
    bool found = false;
    for (const TracedOriginal& c : r.candidates) {
        JsonArray keys;
        for (const TracedKey& k : c.keys) {
            keys.add(keyJson(k));
            found = found || k.found();
        }
        JsonObject o;
        o.add("original", c.original.path)
            .add("original_sha256", c.original.sha256)
            .add("fingerprint_score", static_cast<double>(c.fingerprintScore))
            .add("tested", c.tested)
            .add("note", c.note)
            .add("keys", keys);
        addRegistration(o, c.registration);
        candidates.add(o);
    }
    JsonObject o;
    o.add("schema", kJsonSchema).add("suspect", suspectPath).add("suspect_sha256", suspectSha);
    addRule(o, rule);
    o.add("rule_text", ruleWords(rule))
        .add("originals_searched", static_cast<long long>(r.originalsSearched))
        .add("keys_tested", static_cast<long long>(r.keysTested))
        .add("found", found)
        .add("identical_to", identical)
        .add("tool_version", PELINOR_VERSION)
        .add("command_line", command)
        .add("date", date)
        .add("report", report)
        .add("candidates", candidates);
    std::printf("%s\n", o.str().c_str());
}

int trace(const ParsedArgs& a)
{
    a.expectPositional(1, 1, "SUSPECT");
    const std::string& suspectPath = a.positional()[0];
    TraceOptions options;
    options.rule = decisionRule(a);
    options.mode = registerMode(a);
    options.maxPixels = maxPixels(a);
    const std::string report = a.value("--report").value_or("");
    if (a.has("--report") && report.empty()) throw UsageError("--report needs a file");
    refuseReplacingInput(report, {suspectPath});
    options.keepPictures = !report.empty();
    const PictureRef suspect = loadPictureFile(suspectPath, options.maxPixels);
    noteInput("trace", suspectPath, *suspect);
    const std::string suspectSha = withFile(suspectPath, [&] { return sha256File(suspectPath); });
    const std::unique_ptr<Catalogue> catalogue = openCatalogue(a, "trace", false);

    // A file the catalogue knows byte for byte needs no detection to be named, but is
    // traced all the same: the figures are the evidence.
    std::string identical;
    if (const auto original = catalogue->findOriginal(suspectSha)) {
        identical = "original " + original->path;
        std::fprintf(stderr,
            "pelinor-cli trace: warning: %s is the original %s itself, byte for byte, not a marked copy\n",
            suspectPath.c_str(), original->path.c_str());
    } else if (const auto mark = catalogue->markByOutput(suspectSha)) {
        identical = "copy " + mark->mark.output;
        std::fprintf(stderr, "pelinor-cli trace: %s is, byte for byte, the copy written for %s on %s (%s)\n",
            suspectPath.c_str(), mark->recipient.c_str(), dayOf(mark->mark.created).c_str(),
            mark->mark.output.c_str());
    }

    const TraceResult result
        = withFile(suspectPath, [&] { return traceSuspect(*catalogue, *suspect, options); });
    const std::string command = commandLine(a);
    const std::string date = isoNow();
    if (!report.empty())
        writeReport(report, result, *suspect, suspectPath, suspectSha, options.rule, command, date);
    if (a.has("--json"))
        printJson(result, suspectPath, suspectSha, options.rule, identical, command, date, report);
    else
        printText(result, suspectPath);
    return result.found().empty() ? kExitNotFound : kExitOk;
}

} // namespace

const Command kTraceCommand{"trace", "tell whose marked copy a picture is, from the catalogue",
    "SUSPECT [--report FILE.html] [--json] [--max-false-positive P | --threshold T] [--register "
    "auto|always|never]",
    "Finds which of the catalogue's originals SUSPECT was made from, by its content alone (a\n"
    "copy resized, recompressed, re-toned, mirrored, turned by right angles or cropped to 80 %\n"
    "of each side is still found), confirms it by registering SUSPECT onto that original, and\n"
    "tests the key of every recipient it was marked for. A key counts as found when the chance\n"
    "that any of the keys tested, never embedded, reaches its similarity is at most P: the\n"
    "family-wise false-positive probability (with --threshold, when its similarity is above T). Several "
    "originals that look alike are each\n"
    "tried; copies averaged by several recipients show each of them. With --report, the\n"
    "evidence for a third party: the pictures side by side, the registration, every key's\n"
    "figures, the hashes of the files, the catalogue's record and the rule that decided.",
    kOptions,
    "The originals are read from where they were when they were marked; one that moved or\n"
    "changed since is named and left out.\n\n"
    "Exit status: 0 a recipient found, 1 none found, 2 usage or input error.",
    trace};

} // namespace pelinor::cli
