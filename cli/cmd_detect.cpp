#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "cli/json.h"
#include "watermark/detect.h"

#include <cstdio>
#include <future>
#include <string>

namespace pelinor::cli {

namespace {

const Option kOptions[] = {
    {"--threshold", "T", "similarity above which the watermark counts as found (default 0.7)"},
    {"--json", nullptr, "print one JSON object instead of text (described in docs/json.md)"},
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

void printJson(const DetectResult& r, const ParsedArgs& a)
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
    std::printf("%s\n", o.str().c_str());
}

void printText(const DetectResult& r)
{
    std::printf("similarity: %.15g\n", r.similarity);
    std::printf("verdict: %s\n", verdictText(r.found));
    std::printf("threshold: %g\n", r.threshold);
    std::printf("coefficients: %lld\n", r.coefficients);
    std::printf("z: %.4g\n", r.z);
    std::printf("false positive probability: %.3g\n", r.falsePositive);
}

int detect(const ParsedArgs& a)
{
    a.expectPositional(3, 3, "ORIGINAL WATERMARK.wmk SUSPECT");
    const double threshold = a.real("--threshold", kDefaultThreshold);
    const std::string& originalPath = a.positional()[0];
    const std::string& watermarkPath = a.positional()[1];
    const std::string& suspectPath = a.positional()[2];

    // The two pictures are read at once; a failure of the original still comes first.
    std::future<PictureRef> suspectLoad
        = std::async(std::launch::async, [&] { return loadPictureFile(suspectPath); });
    const PictureRef original = loadPictureFile(originalPath);
    const PictureRef suspect = suspectLoad.get();
    const Watermark watermark = readWatermarkFile(watermarkPath);
    try {
        checkComparable(
            watermark, original->width(), original->height(), suspect->width(), suspect->height());
    } catch (const Error& e) {
        throw FileError(e.number() == err::SizeMismatch ? suspectPath : watermarkPath, e.what());
    }
    const DetectResult r = detectWatermark(*original, watermark, *suspect, threshold, Depths::Any);
    if (a.has("--json"))
        printJson(r, a);
    else
        printText(r);
    return r.found ? kExitOk : kExitNotFound;
}

} // namespace

const Command kDetectCommand{"detect", "test a suspect picture for a watermark",
    "ORIGINAL WATERMARK.wmk SUSPECT [--threshold T] [--json]",
    "Tests SUSPECT for the watermark, against the unmarked ORIGINAL (pictures of the same\n"
    "size, in any format and depth the tool reads; an 8-bit copy of a 16-bit picture is\n"
    "brought to its scale): the values embedded at the original's significant coefficients\n"
    "are extracted and correlated with the watermark's. Detection works on the stored\n"
    "pixels: an ICC profile is not applied.",
    kOptions,
    "The z-score is similarity * sqrt(N); the false-positive probability is the chance that a\nwatermark "
    "that was never embedded reaches this similarity.\n\nExit status: 0 watermark found, 1 not found, 2 "
    "usage or input error.",
    detect};

} // namespace pelinor::cli
