#include "base/atomic_file.h"
#include "catalogue/catalogue.h"
#include "catalogue/sha256.h"
#include "cli/args.h"
#include "cli/catalogue_access.h"
#include "cli/commands.h"
#include "cli/decision.h"
#include "cli/io.h"
#include "cli/json.h"
#include "cli/registration_output.h"
#include "cli/report/evidence.h"
#include "watermark/detector.h"
#include "watermark/evidence.h"
#include "watermark/registration.h"

#include <cstdio>
#include <future>
#include <limits>
#include <optional>
#include <string>
#include <system_error>

namespace pelinor::cli {

namespace {

const Option kOptions[] = {
    kMaxFalsePositiveOption,
    kThresholdOption,
    {"--json", nullptr, "print one JSON object instead of text (described in docs/json.md)"},
    {"--report", "FILE.html", "also write the evidence report: one self-contained page to read and print"},
    {"--register", "M",
        "auto (default): test SUSPECT as it stands when the sizes agree, and\nregister it first when they "
        "differ or the watermark is not found so;\nalways: register first; never: only as it stands"},
    kMaxPixelsOption,
};

// The command line speaks English; the Croatian verdicts belong to the desktop program.
const char* verdictText(bool found)
{
    return found ? "found" : "not found";
}

JsonObject sizeObject(int width, int height)
{
    JsonObject o;
    o.add("width", width).add("height", height);
    return o;
}

void printJson(const DetectResult& r, const DecisionRule& rule, const ParsedArgs& a,
    const std::optional<Registration>& registration)
{
    JsonObject files;
    files.add("original", a.positional()[0])
        .add("watermark", a.positional()[1])
        .add("suspect", a.positional()[2]);
    JsonObject o;
    o.add("schema", kJsonSchema).add("similarity", r.similarity).add("found", r.found);
    addRule(o, rule);
    o.add("coefficients", r.coefficients).add("z", r.z);
    addFalsePositive(o, r);
    o.add("verdict", verdictText(r.found))
        .add("reason", verdictReason(r))
        .add("original", sizeObject(r.originalWidth, r.originalHeight))
        .add("suspect", sizeObject(r.suspectWidth, r.suspectHeight))
        .add("files", files);
    addRegistration(o, registration);
    std::printf("%s\n", o.str().c_str());
}

void printText(
    const DetectResult& r, const DecisionRule& rule, const std::optional<Registration>& registration)
{
    std::printf("similarity: %.15g\n", r.similarity);
    std::printf("verdict: %s\n", verdictReason(r).c_str());
    std::printf("rule: %s\n", ruleText(rule).c_str());
    std::printf("coefficients: %lld\n", r.coefficients);
    std::printf("z: %.4g\n", r.z);
    std::printf("false positive probability: %s\n", formatProbability(r.logFalsePositive).c_str());
    std::printf("%s\n", registrationText(registration).c_str());
}

// The evidence report of one detection. The registered suspect is made again for the
// pictures: the detection keeps only its figures.
void writeReport(const ParsedArgs& a, const std::string& path, const Picture& original,
    const Picture& suspect, const Watermark& watermark, const DetectResult& r, const DecisionRule& rule,
    const std::optional<Registration>& registration)
{
    const std::string& originalPath = a.positional()[0];
    const std::string& watermarkPath = a.positional()[1];
    const std::string& suspectPath = a.positional()[2];
    EvidencePage page;
    page.suspectPath = suspectPath;
    page.suspectSha256 = withFile(suspectPath, [&] { return sha256File(suspectPath); });
    page.originalPath = originalPath;
    page.originalSha256 = withFile(originalPath, [&] { return sha256File(originalPath); });
    page.original = &original;
    page.suspect = &suspect;
    PictureRef onGrid;
    if (registration) {
        onGrid = registerPicture(original, suspect).picture;
        page.onGrid = onGrid.get();
    } else if (suspect.width() == original.width() && suspect.height() == original.height()) {
        page.onGrid = &suspect;
    }
    page.registration = registration;
    EvidenceKey k;
    k.recipient = watermarkPath;
    k.found = r.found;
    k.similarity = r.similarity;
    k.z = r.z;
    k.logFalsePositive = r.logFalsePositive;
    k.logFamilyWise = std::numeric_limits<double>::quiet_NaN();
    k.length = watermark.length;
    k.alpha = watermark.alpha;
    k.keySha256 = withFile(watermarkPath, [&] { return sha256File(watermarkPath); });
    if (const auto owner = keyOwner(k.keySha256)) {
        k.recipient = owner->recipient + " (" + watermarkPath + ")";
        if (owner->mark) {
            k.marked = owner->mark->mark.created;
            k.output = owner->mark->mark.output;
            k.outputSha256 = owner->mark->mark.outputSha256;
            k.psnr = owner->mark->mark.psnr;
        }
    }
    page.keys.push_back(k);
    page.keysTested = 1;
    page.verdict = watermarkPath + " in " + suspectPath + ": " + verdictReason(r);
    page.rule = ruleText(rule);
    std::vector<std::string> words{"pelinor-cli", "detect"};
    words.insert(words.end(), a.positional().begin(), a.positional().end());
    for (const auto& [name, value] : a.inOrder()) {
        words.push_back(name);
        if (!value.empty()) words.push_back(value);
    }
    page.commandLine = shellLine(words);
    page.date = isoNow();
    withFile(path, [&] { writeFileAtomic(path, evidenceHtml(page)); });
}

int detect(const ParsedArgs& a)
{
    a.expectPositional(3, 3, "ORIGINAL WATERMARK.wmk SUSPECT");
    const DecisionRule rule = decisionRule(a);
    const RegisterMode requested = registerMode(a);
    const std::int64_t limit = maxPixels(a);
    const std::string& originalPath = a.positional()[0];
    const std::string& watermarkPath = a.positional()[1];
    const std::string& suspectPath = a.positional()[2];
    const std::string report = a.value("--report").value_or("");
    if (a.has("--report") && report.empty()) throw UsageError("--report needs a file");
    refuseReplacingInput(report, {originalPath, watermarkPath, suspectPath});

    // The two pictures are read at once; a failure of the original still comes first.
    // Without a thread to be had (low memory) the suspect is read afterwards instead.
    const auto loadSuspect = [&] { return loadPictureFile(suspectPath, limit); };
    std::future<PictureRef> suspectLoad;
    try {
        suspectLoad = std::async(std::launch::async, loadSuspect);
    } catch (const std::system_error&) {
        suspectLoad = std::async(std::launch::deferred, loadSuspect);
    }
    const PictureRef original = loadPictureFile(originalPath, limit);
    warnIfNotMarkedOriginal("detect", originalPath, *original);
    const PictureRef suspect = suspectLoad.get();
    const Watermark watermark = readWatermarkFile(watermarkPath);
    // Only a detection that never registers needs the sizes to agree.
    const bool sizesMatter = requested == RegisterMode::Never || !registrable(*original, *suspect);
    const int width = original->width(), height = original->height();
    try {
        checkComparable(watermark, width, height, sizesMatter ? suspect->width() : width,
            sizesMatter ? suspect->height() : height);
    } catch (const Error& e) {
        throw FileError(e.number() == err::SizeMismatch ? suspectPath : watermarkPath, e.what());
    }
    const Reference reference(*original, Depths::Any, int(watermark.values.size()));
    DetectOptions options;
    options.mode = requested;
    const Detection d = withRegistrationNamed(*original, *suspect, suspectPath,
        [&] { return pelinor::detect(reference, watermark, *suspect, rule, options); });
    const DetectResult& r = d.result;
    const std::optional<Registration>& registration = d.registration;
    if (!report.empty()) writeReport(a, report, *original, *suspect, watermark, r, rule, registration);
    if (a.has("--json"))
        printJson(r, rule, a, registration);
    else
        printText(r, rule, registration);
    return r.found ? kExitOk : kExitNotFound;
}

} // namespace

const Command kDetectCommand{"detect", "test a suspect picture for a watermark",
    "ORIGINAL WATERMARK.wmk SUSPECT [--max-false-positive P | --threshold T] [--json] [--report FILE.html] "
    "[--register auto|always|never]",
    "Tests SUSPECT for the watermark, against the unmarked ORIGINAL (in any format and depth\n"
    "the tool reads; an 8-bit copy of a 16-bit picture is brought to its scale): the values\n"
    "embedded at the original's significant coefficients are extracted and correlated with\n"
    "the watermark's. A 24-bit suspect that was resized, cropped, rotated, shifted, mirrored\n"
    "or re-toned is first registered onto the original's pixel grid, found from the pictures'\n"
    "content alone (never from the watermark); what was done is reported. Detection works on\n"
    "the stored pixels: an ICC profile is not applied.",
    kOptions,
    "The verdict is decided by the evidence: the false-positive probability is the exact chance\n"
    "that a watermark that was never embedded reaches this similarity (for N independent\n"
    "zero-mean Gaussian values, (1 + s) / 2 follows Beta((N - 1) / 2, (N - 1) / 2)); found when it\n"
    "is at most P. For a watermark whose mean is not 0 that figure does not hold (n/a) and the\n"
    "similarity decides. The z-score is similarity * sqrt(N).\n\nExit status: 0 watermark found, 1 not "
    "found, 2 usage or input error.",
    detect};

} // namespace pelinor::cli
