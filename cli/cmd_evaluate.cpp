#include "base/atomic_file.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/decision.h"
#include "cli/io.h"
#include "cli/progress.h"
#include "cli/report/report.h"
#include "lab/evaluation.h"
#include "watermark/strength.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

namespace pelinor::cli {

namespace {

// The most K x N that --random takes: at about 30 ns a value on one core, 1e9 values against
// each of the 34 pictures is a quarter of an hour of one core's time.
constexpr double kMaxRandomWork = 1e9;

const Option kRandom{"--random", "K",
    "never-embedded watermarks to test (default 1000, 0 to skip); K x N\nat most 1e9 (about a quarter of "
    "an "
    "hour of one core's time)",
    nullptr, {0, 1000000, 1000}};
const Option kSeed{"--seed", "S", "seed of the noise attacks and the random watermarks (default 1)", nullptr,
    {0, 0x1p62, 1}};
const Option kJobs{"--jobs", "J", "worker threads (default: one per core)", nullptr, {0, 256, 0}};
const Option kTargetPsnr{"--target-psnr", "DB",
    "embed with the alpha that brings the PSNR to DB (10 to 100, as embed\ndoes) instead of the file's "
    "alpha",
    nullptr, {kMinTargetPsnr, kMaxTargetPsnr, 0}};

const Option kOptions[] = {
    {"--out", "DIR", "folder for the reports (created if missing)"},
    kRandom,
    kSeed,
    kMaxFalsePositiveOption,
    kThresholdOption,
    kJobs,
    kTargetPsnr,
    {"--min-psnr", "DB",
        "without --target-psnr: the quality floor embed keeps (default 40, and\na banding figure of at most "
        "4 levels), lowering the file's alpha where\nneeded; 0 embeds at the file's alpha",
        nullptr, {0, kMaxTargetPsnr, kDefaultMinPsnr}},
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
        if (e.number() == err::OutOfMemory) throw outOfMemory(e.what());
        if (concernsWatermark(e)) throw FileError(watermarkPath, e.what());
        if (e.number() == err::TooFewCoefficients) throw FileError(originalPath, e.what());
        throw;
    }
}

int evaluate(const ParsedArgs& a)
{
    a.expectPositional(2, 2, "ORIGINAL WATERMARK.wmk");
    const auto out = a.value("--out");
    if (!out || out->empty()) throw UsageError("--out DIR is required");
    EvaluationOptions options;
    options.randomCount = int(a.integer(kRandom));
    options.seed = std::uint64_t(a.integer(kSeed));
    options.rule = decisionRule(a);
    options.jobs = int(a.integer(kJobs));
    options.targetPsnr = a.real(kTargetPsnr);
    if (!a.has("--target-psnr")) options.floor.minPsnr = minPsnr(a);
    const std::string& originalPath = a.positional()[0];
    const std::string& watermarkPath = a.positional()[1];
    const std::string dir = *out;
    const char* const names[] = {"report.csv", "report.md", "report.html"};
    for (const char* name : names)
        refuseReplacingInput((std::filesystem::path(dir) / name).string(), {originalPath, watermarkPath});

    const PictureRef original = loadPictureFile(originalPath, maxPixels(a));
    // The workers' copies share the budget of one picture.
    PixelBudget budget(maxPixels(a));
    options.budget = &budget;
    require24Bit(originalPath, *original);
    const Watermark watermark = readWatermarkFile(watermarkPath);
    // Each random watermark is N draws and a dot product, repeated for the marked picture and
    // every registered copy: refused before any work when that cannot end within minutes.
    if (double(options.randomCount) * watermark.length > kMaxRandomWork)
        throw UsageError("--random " + std::to_string(options.randomCount)
            + " with N = " + std::to_string(watermark.length)
            + " is too much work: K x N is at most 1e9 (K watermarks of N values, each tested against up to "
            + std::to_string(randomWatermarkTotal(options) / std::max(options.randomCount, 1))
            + " pictures)");
    std::error_code ec;
    std::filesystem::create_directories(*out, ec);
    if (ec || !std::filesystem::is_directory(*out))
        throw FileError(*out, "cannot create the folder: " + ec.message());

    const bool terminal = Progress::stderrIsTerminal();
    const auto start = std::chrono::steady_clock::now();
    // On a terminal, one line: the last step and the never-embedded watermarks tested, with
    // an estimate of the time left, redrawn a few times a second. Elsewhere one line a step.
    std::string lastStep;
    auto lastDrawn = start;
    auto draw = [&](long long done, long long total) {
        const double elapsed
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "\r\033[K%s", lastStep.c_str());
        if (total > 0)
            std::fprintf(stderr, " | random watermarks %lld/%lld, %s", done, total,
                Progress::timeLeftText(elapsed, done, total).c_str());
        std::fflush(stderr);
    };
    long long randomDone = 0, randomTotal = options.randomCount > 0 ? randomWatermarkTotal(options) : 0;
    if (terminal && options.randomCount > 0)
        options.randomProgress = [&](long long done, long long total) {
            randomDone = done;
            randomTotal = total;
            const auto now = std::chrono::steady_clock::now();
            if (done < total && now - lastDrawn < std::chrono::milliseconds(200)) return;
            lastDrawn = now;
            draw(done, total);
        };
    const Evaluation ev = evaluateNaming(originalPath, watermarkPath, *original, [&] {
        return evaluateRobustness(
            *original, watermark, options, [&](int done, int total, const std::string& what) {
                char step[32];
                std::snprintf(step, sizeof step, "[%2d/%d] ", done, total);
                lastStep = step + what;
                if (terminal)
                    draw(randomDone, randomTotal);
                else
                    std::fprintf(stderr, "%s\n", lastStep.c_str());
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
    // The notes name their files.
    warnReplaced("evaluate", "", withFile(dir, [&] { return writeFilesAtomic(reports); }));
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
    "ORIGINAL WATERMARK.wmk --out DIR [--random K] [--seed S] [--max-false-positive P | --threshold T] "
    "[--jobs J] [--target-psnr DB] "
    "[--json]",
    "Embeds the watermark into ORIGINAL, attacks the marked picture with a standard battery\n(JPEG 90, 75, "
    "50, 30, 20, 10, 5; noise sigma 2, 5, 10, 20; blur sigma 0.5, 1, 2; scale 1/2\nand 1/4; crop keeping "
    "75%, 50%, 25% of the area; requantize to 32 and 8 levels) and the\ncopies people make (rotate 1 and 5 "
    "degrees, shift 3 pixels, mirror, crop to 90% per side,\nresize 0.5 and 0.8, brightness/contrast, gamma "
    "0.8, crop + resize + JPEG, a social-network\ncopy), and tests each result as it stands and with "
    "registration, with the unmarked\noriginal as the control. Then K random watermarks that were never "
    "embedded are tested\nagainst the marked picture and every registered copy: the false-positive "
    "side.\n\nWrites DIR/report.csv, DIR/report.md and DIR/report.html (a "
    "self-contained page with\ncharts). Progress goes to stderr (on a terminal with the random watermarks "
    "tested and\nan estimate of the time left), the table to stdout.",
    kOptions, "Exit status: 0 reports written, 2 usage or input error.", evaluate};

} // namespace pelinor::cli
