#include "base/atomic_file.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "cli/progress.h"
#include "cli/report/report.h"
#include "lab/evaluation.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

namespace pelinor::cli {

namespace {

const Option kOptions[] = {
    {"--out", "DIR", "folder for the reports (created if missing)"},
    {"--random", "K", "never-embedded watermarks to test (default 1000, 0 to skip)"},
    {"--seed", "S", "seed of the noise attacks and the random watermarks (default 1)"},
    {"--threshold", "T", "similarity above which the watermark counts as found (default 0.7)"},
    {"--jobs", "J", "worker threads (default: one per core)"},
    {"--target-psnr", "DB",
        "embed with the alpha that brings the PSNR to DB (10 to 100, as embed\ndoes) instead of the file's "
        "alpha"},
    {"--json", nullptr, "print the summary and the rows as one JSON object instead of the table"},
    kMaxPixelsOption,
};

// Runs the evaluation; a failure is put on the file it concerns: the watermark's numbers on
// the watermark file, a picture too plain for it on the original, and running out of memory
// on neither, named as what it is.
template <class F>
Evaluation evaluateNaming(
    const std::string& originalPath, const std::string& watermarkPath, const Picture& original, F&& run)
{
    const auto outOfMemory = [&](const std::string& what) {
        return Error(err::OutOfMemory,
            what + " (while evaluating the " + sizeText(original.width(), original.height())
                + " picture; --jobs 1 needs the least memory)");
    };
    try {
        return run();
    } catch (const std::bad_alloc&) {
        throw outOfMemory("Out of memory: no memory left for the attacked copies and their transforms");
    } catch (const Error& e) {
        switch (e.number()) {
        case err::OutOfMemory:
            throw outOfMemory(e.what());
        case err::ZeroAlpha:
        case err::ZeroWatermark:
        case err::Overflow:
        case err::NothingEmbedded:
            throw FileError(watermarkPath, e.what());
        case err::TooFewCoefficients:
            throw FileError(originalPath, e.what());
        default:
            throw;
        }
    }
}

int evaluate(const ParsedArgs& a)
{
    a.expectPositional(2, 2, "ORIGINAL WATERMARK.wmk");
    const auto out = a.value("--out");
    if (!out || out->empty()) throw UsageError("--out DIR is required");
    EvaluationOptions options;
    options.randomCount = int(a.integer("--random", 1000, 0, 1000000));
    options.seed = std::uint64_t(a.integer("--seed", 1, 0, (1LL << 62)));
    options.threshold = a.real("--threshold", kDefaultThreshold);
    options.jobs = int(a.integer("--jobs", 0, 0, 256));
    options.targetPsnr = a.real("--target-psnr", 0.0, kMinTargetPsnr, kMaxTargetPsnr);
    const std::string& originalPath = a.positional()[0];
    const std::string& watermarkPath = a.positional()[1];
    const std::string dir = *out;
    const char* const names[] = {"report.csv", "report.md", "report.html"};
    for (const char* name : names)
        refuseReplacingInput((std::filesystem::path(dir) / name).string(), {originalPath, watermarkPath});

    const PictureRef original = loadPictureFile(originalPath, maxPixels(a));
    require24Bit(originalPath, *original);
    const Watermark watermark = readWatermarkFile(watermarkPath);
    // Each random watermark is N draws and a dot product; keep the whole within minutes.
    if (double(options.randomCount) * watermark.length > 5e9)
        throw UsageError("--random " + std::to_string(options.randomCount)
            + " with N = " + std::to_string(watermark.length) + " is too much work (K x N at most 5e9)");
    std::error_code ec;
    std::filesystem::create_directories(*out, ec);
    if (ec || !std::filesystem::is_directory(*out))
        throw FileError(*out, "cannot create the folder: " + ec.message());

    const bool terminal = Progress::stderrIsTerminal();
    const auto start = std::chrono::steady_clock::now();
    const Evaluation ev = evaluateNaming(originalPath, watermarkPath, *original, [&] {
        return evaluateRobustness(
            *original, watermark, options, [&](int done, int total, const std::string& what) {
                std::fprintf(
                    stderr, terminal ? "\r\033[K[%2d/%d] %s" : "[%2d/%d] %s\n", done, total, what.c_str());
            });
    });
    if (terminal) std::fputs("\n", stderr);
    ReportInfo info;
    info.original = originalPath;
    info.watermark = watermarkPath;
    info.seed = options.seed;
    info.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const std::string markdown = reportMarkdown(ev, info);
    // As a set: a full disk must not leave a new CSV beside an old or missing HTML page.
    const auto inDir = [&](const char* name) { return (std::filesystem::path(dir) / name).string(); };
    const FileContents reports[] = {{inDir("report.csv"), reportCsv(ev)}, {inDir("report.md"), markdown},
        {inDir("report.html"), reportHtml(ev, info)}};
    withFile(dir, [&] { writeFilesAtomic(reports); });
    if (a.has("--json")) {
        std::printf("%s\n", reportJson(ev, info, dir).c_str());
        return kExitOk;
    }
    std::fputs(markdown.c_str(), stdout);
    std::printf("\nwrote %s/report.csv, report.md and report.html in %.2f s\n", dir.c_str(), info.seconds);
    return kExitOk;
}

} // namespace

const Command kEvaluateCommand{"evaluate", "robustness report for a picture and a watermark",
    "ORIGINAL WATERMARK.wmk --out DIR [--random K] [--seed S] [--threshold T] [--jobs J] [--target-psnr DB] "
    "[--json]",
    "Embeds the watermark into ORIGINAL, attacks the marked picture with a standard battery\n(JPEG 90, 75, "
    "50, 30, 20, 10, 5; noise sigma 2, 5, 10, 20; blur sigma 0.5, 1, 2; scale 1/2\nand 1/4; crop keeping "
    "75%, 50%, 25% of the area; requantize to 32 and 8 levels) and the\ncopies people make (rotate 1 and 5 "
    "degrees, shift 3 pixels, mirror, crop to 90% per side,\nresize 0.5 and 0.8, brightness/contrast, gamma "
    "0.8, crop + resize + JPEG, a social-network\ncopy), and tests each result as it stands and with "
    "registration, with the unmarked\noriginal as the control. Then K random watermarks that were never "
    "embedded are tested\nagainst the marked picture and every registered copy: the false-positive "
    "side.\n\nWrites DIR/report.csv, DIR/report.md and DIR/report.html (a "
    "self-contained page with\ncharts). Progress goes to stderr, the table to stdout.",
    kOptions, "Exit status: 0 reports written, 2 usage or input error.", evaluate};

} // namespace pelinor::cli
