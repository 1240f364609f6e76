#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "cli/json.h"
#include "cli/registration_output.h"
#include "watermark/detector.h"

#include <cstdio>
#include <future>
#include <optional>
#include <string>
#include <system_error>

namespace pelinor::cli {

namespace {

const Option kOptions[] = {
    {"--threshold", "T", "similarity above which the watermark counts as found (default 0.7)"},
    {"--json", nullptr, "print one JSON object instead of text (described in docs/json.md)"},
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

void printJson(const DetectResult& r, const ParsedArgs& a, const std::optional<Registration>& registration)
{
    JsonObject files;
    files.add("original", a.positional()[0])
        .add("watermark", a.positional()[1])
        .add("suspect", a.positional()[2]);
    JsonObject o;
    o.add("schema", kJsonSchema)
        .add("similarity", r.similarity)
        .add("found", r.found)
        .add("threshold", r.threshold)
        .add("coefficients", r.coefficients)
        .add("z", r.z)
        .add("false_positive_probability", r.falsePositive)
        .add("verdict", verdictText(r.found))
        .add("original", sizeObject(r.originalWidth, r.originalHeight))
        .add("suspect", sizeObject(r.suspectWidth, r.suspectHeight))
        .add("files", files);
    addRegistration(o, registration);
    std::printf("%s\n", o.str().c_str());
}

void printText(const DetectResult& r, const std::optional<Registration>& registration)
{
    std::printf("similarity: %.15g\n", r.similarity);
    std::printf("verdict: %s\n", verdictText(r.found));
    std::printf("threshold: %g\n", r.threshold);
    std::printf("coefficients: %lld\n", r.coefficients);
    std::printf("z: %.4g\n", r.z);
    std::printf("false positive probability: %.3g\n", r.falsePositive);
    std::printf("%s\n", registrationText(registration).c_str());
}

int detect(const ParsedArgs& a)
{
    a.expectPositional(3, 3, "ORIGINAL WATERMARK.wmk SUSPECT");
    const double threshold = a.real("--threshold", kDefaultThreshold);
    const RegisterMode requested = registerMode(a);
    const std::int64_t limit = maxPixels(a);
    const std::string& originalPath = a.positional()[0];
    const std::string& watermarkPath = a.positional()[1];
    const std::string& suspectPath = a.positional()[2];

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
        [&] { return pelinor::detect(reference, watermark, *suspect, DecisionRule{threshold}, options); });
    const DetectResult& r = d.result;
    const std::optional<Registration>& registration = d.registration;
    if (a.has("--json"))
        printJson(r, a, registration);
    else
        printText(r, registration);
    return r.found ? kExitOk : kExitNotFound;
}

} // namespace

const Command kDetectCommand{"detect", "test a suspect picture for a watermark",
    "ORIGINAL WATERMARK.wmk SUSPECT [--threshold T] [--json] [--register auto|always|never]",
    "Tests SUSPECT for the watermark, against the unmarked ORIGINAL (in any format and depth\n"
    "the tool reads; an 8-bit copy of a 16-bit picture is brought to its scale): the values\n"
    "embedded at the original's significant coefficients are extracted and correlated with\n"
    "the watermark's. A 24-bit suspect that was resized, cropped, rotated, shifted, mirrored\n"
    "or re-toned is first registered onto the original's pixel grid, found from the pictures'\n"
    "content alone (never from the watermark); what was done is reported. Detection works on\n"
    "the stored pixels: an ICC profile is not applied.",
    kOptions,
    "The z-score is similarity * sqrt(N); the false-positive probability is the chance that a\nwatermark "
    "that was never embedded reaches this similarity.\n\nExit status: 0 watermark found, 1 not found, 2 "
    "usage or input error.",
    detect};

} // namespace pelinor::cli
