#include "base/atomic_file.h"
#include "base/parallel.h"
#include "base/pixel_budget.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/decision.h"
#include "cli/io.h"
#include "cli/progress.h"
#include "image/image_io.h"
#include "watermark/embed.h"
#include "watermark/strength.h"
#include "watermark/written_check.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pelinor::cli {

namespace {

namespace fs = std::filesystem;

const Option kJobs{
    "--jobs", "J", "batch: pictures embedded at once (default: one per core)", nullptr, {1, 1024, 0}};
const Option kTargetPsnr{"--target-psnr", "DB",
    "choose alpha for each picture (keeping the sign of the file's) so that\nthe PSNR is as close to DB "
    "(10 to 100) as possible without going below\nit; the alpha used is reported, and the file's alpha "
    "still detects the\nmark",
    nullptr, {kMinTargetPsnr, kMaxTargetPsnr, 0}};

// The shared --quality, whose default here is the input's own: a marked photograph keeps its
// quality unless told otherwise.
const Option kEmbedQuality{kQualityOption.name, kQualityOption.value,
    "JPEG quality 1..100, or 'same' (the default): the input JPEG's own,\nestimated from its quantisation "
    "tables, 90 when the input is no JPEG;\nfor .webp, lossy at Q (without it WebP is written lossless)",
    kQualityOption.section, kQualityOption.bounds};

const Option kOptions[] = {
    kEmbedQuality,
    kSubsamplingOption,
    {"--output-dir", "DIR",
        "batch: write DIR/NAME for every IMAGE (DIR is created if missing);\na bad picture is reported and "
        "the others still run"},
    kJobs,
    {"--format", "F", "batch: write bmp, png, jpg, tif or webp instead of each input's own\nformat"},
    kTargetPsnr,
    {"--min-psnr", "DB",
        "the quality floor: alpha is lowered from the file's where needed so\nthat the PSNR is at least DB "
        "(default 40) and the banding figure\n(the change in flat areas) at most 4 levels; 0 embeds at the "
        "file's\nalpha as it is",
        nullptr, {0, kMaxTargetPsnr, kDefaultMinPsnr}},
    {"--no-verify", nullptr,
        "write a JPEG or lossy WebP output without checking that the mark is\nfound in it"},
    kMaxFalsePositiveOption,
    kThresholdOption,
    kMaxPixelsOption,
};

std::string describe(const EmbedResult& r, const double* chosenAlpha = nullptr)
{
    char text[192];
    if (r.psnr == std::numeric_limits<double>::infinity())
        std::snprintf(
            text, sizeof text, "%lld coefficients changed, PSNR infinite (no pixel changed)", r.changed);
    else
        std::snprintf(text, sizeof text, "%lld coefficients changed, PSNR %.2f dB", r.changed, r.psnr);
    if (chosenAlpha) {
        const std::size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, ", alpha %.6g", *chosenAlpha);
    }
    return text;
}

// --target-psnr DB, checked; none when the option is absent.
std::optional<double> targetPsnr(const ParsedArgs& a)
{
    if (!a.has("--target-psnr")) return std::nullopt;
    return a.real(kTargetPsnr);
}

// What every picture of one command is embedded and written with.
struct EmbedSettings {
    std::string watermarkPath;
    Watermark watermark;
    SaveOptions save;
    std::optional<double> target;
    QualityFloor floor;
    bool verify = true;
    DecisionRule rule;
};

struct Embedded {
    EmbedResult result;
    double alpha = 0.0; // the strength used
    std::optional<double> banding; // of the marked picture, when measured
    std::optional<FloorEmbed> lowered; // the figures at the file's alpha, when it was lowered
    std::optional<WrittenCheck> written; // the file as written, when it was checked
};

// JPEG, and WebP at a quality, may lose the mark in the encoding; the others keep the
// marked pixels exactly.
bool lossyOutput(const std::string& output, const SaveOptions& options)
{
    const ImageFormat format = formatForPath(output);
    return format == ImageFormat::Jpeg || (format == ImageFormat::WebP && options.lossy);
}

// The quality an encoding of `marked` with these options uses (see encodePicture).
int qualityUsed(const Picture& marked, ImageFormat format, const SaveOptions& options)
{
    if (options.sameQuality && format == ImageFormat::Jpeg && marked.source().jpegQuality > 0)
        return marked.source().jpegQuality;
    return options.quality;
}

std::string writtenText(const WrittenCheck& check)
{
    char text[64];
    std::snprintf(text, sizeof text, "PSNR %.2f dB", check.psnr);
    return text;
}

// Why an output that loses the mark is not written, and the quality that would keep it.
std::string refusal(const WrittenCheck& check, int quality, std::optional<int> enough)
{
    std::string text = "the mark would not be found in the file as written at quality "
        + std::to_string(quality) + " (" + writtenText(check) + ", " + verdictReason(check.result) + "); ";
    if (enough)
        text += "--quality " + std::to_string(*enough) + " or higher keeps the mark findable";
    else
        text += "no quality keeps the mark findable: write a lossless format (.png, .tif, .bmp) or "
                "embed more strongly";
    return text + "; nothing written (--no-verify writes it anyway)";
}

// With a target PSNR the strength is chosen for this picture. Without one, and when the
// output needs no check, the picture is marked in place: the source is not needed
// afterwards, and a second picture would be a quarter of the memory of a whole embedding.
// A lossy output is encoded in memory, decoded and tested against the source before
// anything is written; one that loses the mark is refused (FileError naming the output).
Embedded embedAndSaveOrThrow(
    const std::string& input, PictureRef source, const EmbedSettings& settings, const std::string& output)
{
    const Watermark& watermark = settings.watermark;
    const bool verify = settings.verify && lossyOutput(output, settings.save);
    Embedded done;
    done.alpha = watermark.alpha;
    noteInput("embed", input, *source);
    // A failure is put on the watermark file when it lies in the watermark's numbers.
    const auto embed = [&](auto&& step) {
        try {
            return step();
        } catch (const Error& e) {
            throw FileError(concernsWatermark(e) ? settings.watermarkPath : input, e.what());
        }
    };
    const bool floor = !settings.target && settings.floor.minPsnr > 0.0;
    done.result = embed([&] {
        if (floor) {
            FloorEmbed f = embedWithinFloor(*source, watermark, settings.floor, Depths::Any);
            done.alpha = f.alpha;
            done.banding = f.banding;
            EmbedResult r = std::move(f.embedded);
            if (f.lowered) done.lowered = std::move(f);
            return r;
        }
        if (!settings.target && !verify && is24Bit(source.get())) {
            EmbedResult marked = embedWatermarkInPlace(*source, watermark);
            marked.marked = source;
            return marked;
        }
        if (!settings.target) return embedWatermark(*source, watermark, Depths::Any);
        if (!is24Bit(source.get()))
            throw Error(err::Not24Bit,
                "--target-psnr works on 24-bit RGB pictures only (this one has "
                    + std::to_string(source->bitsPerPixel())
                    + " bits per pixel); give alpha in the watermark file instead");
        TargetPsnrEmbed t = embedForTargetPsnr(*source, watermark, *settings.target);
        done.alpha = t.alpha;
        done.banding = banding(*source, *t.embedded.marked);
        return std::move(t.embedded);
    });
    const Picture& marked = *done.result.marked;
    const ImageFormat format = formatForPath(output);
    const std::vector<std::uint8_t> bytes
        = withFile(output, [&] { return encodePicture(marked, format, settings.save); });
    if (verify) {
        // The strength actually embedded is the one the file must show.
        Watermark used = watermark;
        used.alpha = done.alpha;
        withFile(output, [&] {
            const Reference original(*source, Depths::Any, used.length);
            done.written = checkWritten(original, used, bytes, settings.rule);
            if (done.written->result.found) return;
            const auto encodeAt = [&](int q) {
                SaveOptions options = settings.save;
                options.sameQuality = false;
                options.lossy = true;
                options.quality = q;
                return encodePicture(marked, format, options);
            };
            const int quality = qualityUsed(marked, format, settings.save);
            const std::optional<int> enough
                = lowestFindableQuality(original, used, settings.rule, encodeAt, quality);
            throw FileError(output, refusal(*done.written, quality, enough));
        });
    }
    source.reset(); // not needed while the output is written
    warnLosses("embed", output, marked);
    warnReplaced("embed", output, withFile(output, [&] { return writeFileAtomic(output, bytes); }));
    return done;
}

// The floor and the written check hold a second picture and planes of their own: running
// out of memory there is said as such, for the picture it concerns.
Embedded embedAndSave(
    const std::string& input, PictureRef source, const EmbedSettings& settings, const std::string& output)
{
    try {
        return embedAndSaveOrThrow(input, std::move(source), settings, output);
    } catch (const std::bad_alloc&) {
        throw FileError(input, "Out of memory: no memory left to embed this picture and check it");
    }
}

std::string describe(const Embedded& e, bool chosenAlpha)
{
    std::string text = describe(e.result, chosenAlpha ? &e.alpha : nullptr);
    char figures[256];
    if (e.banding) {
        std::snprintf(figures, sizeof figures, ", banding %.1f levels", *e.banding);
        text += figures;
    }
    if (e.lowered) {
        const FloorEmbed& key = *e.lowered;
        const double keyAlpha = e.alpha / key.scale;
        std::snprintf(figures, sizeof figures,
            "; alpha lowered from %.6g to %.6g (%.0f %% weaker) for the quality floor: at %.6g, PSNR %.2f "
            "dB, "
            "banding %.1f levels",
            keyAlpha, e.alpha, 100.0 * (1.0 - key.scale), keyAlpha, key.keyPsnr, key.keyBanding);
        text += figures;
    }
    if (e.written)
        text += "; as written: " + writtenText(*e.written) + ", " + verdictReason(e.written->result);
    return text;
}

EmbedSettings embedSettings(const ParsedArgs& a, const std::string& watermarkPath)
{
    EmbedSettings settings;
    settings.watermarkPath = watermarkPath;
    settings.save = saveOptions(a);
    // A marked photograph keeps its JPEG quality unless told otherwise: a camera's quality 98
    // recompressed at 90 loses more than the watermark changes.
    if (!a.has("--quality")) settings.save.sameQuality = true;
    settings.target = targetPsnr(a);
    settings.floor.minPsnr = minPsnr(a);
    settings.verify = !a.has("--no-verify");
    settings.rule = decisionRule(a);
    return settings;
}

int embedOne(const ParsedArgs& a)
{
    if (a.has("--jobs") || a.has("--format")) throw UsageError("--jobs and --format need --output-dir");
    a.expectPositional(3, 3, "IMAGE WATERMARK.wmk OUTPUT");
    const std::string& input = a.positional()[0];
    const std::string& output = a.positional()[2];
    // The unmarked original is what every later detection needs: never replace it (or the key).
    refuseReplacingInput(output, {input, a.positional()[1]});
    EmbedSettings settings = embedSettings(a, a.positional()[1]);
    PictureRef source = loadPictureFile(input, maxPixels(a));
    settings.watermark = readWatermarkFile(settings.watermarkPath);
    const Embedded e = embedAndSave(input, std::move(source), settings, output);
    std::printf("%s: %s\n", output.c_str(), describe(e, settings.target.has_value()).c_str());
    return kExitOk;
}

struct BatchItem {
    std::string input;
    std::string output;
    std::string refusal; // set when the item must not run
};

// Output names, refusing an output that would replace an input (its own, another item's, or
// the watermark file) or another item's output.
std::vector<BatchItem> planBatch(const std::vector<std::string>& inputs, const std::string& watermarkPath,
    const fs::path& dir, const std::string& format)
{
    std::vector<BatchItem> items;
    std::set<fs::path> taken;
    std::vector<std::string> everyInput = inputs;
    everyInput.push_back(watermarkPath);
    for (const std::string& input : inputs) {
        const fs::path in(input);
        BatchItem item{input, (dir / in.stem()).string() + outputExtension(input, format), {}};
        std::error_code ec;
        fs::path key = fs::weakly_canonical(item.output, ec);
        if (ec) key = fs::path(item.output).lexically_normal();
        const auto replaced = std::find_if(everyInput.begin(), everyInput.end(),
            [&](const std::string& other) { return sameFile(item.output, other); });
        if (replaced != everyInput.end() && sameFile(item.output, input))
            item.refusal
                = fileMessage(input, "the output " + item.output + " would replace this input picture");
        else if (replaced != everyInput.end())
            item.refusal
                = fileMessage(input, "the output " + item.output + " would replace the input " + *replaced);
        else if (!taken.insert(key).second)
            item.refusal = fileMessage(input, "another input already writes " + item.output);
        items.push_back(std::move(item));
    }
    return items;
}

int embedBatch(const ParsedArgs& a)
{
    const std::string dir = *a.value("--output-dir");
    if (dir.empty()) throw UsageError("--output-dir needs a folder");
    std::string format = lowerCase(a.value("--format").value_or(""));
    if (format == "jpeg") format = "jpg";
    if (format == "tiff") format = "tif";
    if (!format.empty() && format != "bmp" && format != "png" && format != "jpg" && format != "tif"
        && format != "webp")
        throw UsageError("--format: '" + format + "' is not one of bmp, png, jpg, tif, webp");
    const unsigned jobs = jobCount(a.integer(kJobs));
    a.expectPositional(2, std::numeric_limits<std::size_t>::max(), "WATERMARK.wmk IMAGE...");

    EmbedSettings settings = embedSettings(a, a.positional()[0]);
    settings.watermark = readWatermarkFile(settings.watermarkPath);
    const std::int64_t limit = maxPixels(a);
    const std::vector<std::string> inputs(a.positional().begin() + 1, a.positional().end());
    const std::vector<BatchItem> items = planBatch(inputs, a.positional()[0], dir, format);
    // A plan that would replace an input or write one file twice is a mistake in the command,
    // not in a picture: nothing runs and nothing is written.
    std::size_t refused = 0;
    for (const BatchItem& item : items)
        if (!item.refusal.empty()) {
            std::fprintf(stderr, "pelinor-cli embed: %s\n", item.refusal.c_str());
            ++refused;
        }
    if (refused > 0) {
        std::fprintf(stderr, "pelinor-cli embed: nothing written (%zu of %zu outputs refused)\n", refused,
            items.size());
        return kExitError;
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) throw FileError(dir, ec ? ec.message() : "not a folder");

    // One budget for all the jobs: a job decodes its picture only when the header's pixels fit
    // in what the running jobs leave, and holds them until its output is written.
    PixelBudget budget(limit);
    std::atomic<std::size_t> failed{0};
    {
        Progress progress(items.size(), Progress::stderrIsTerminal());
        runParallel(items.size(), jobs, [&](std::size_t i) {
            const BatchItem& item = items[i];
            PixelBudget::Lease lease;
            const PixelLimit admitted(limit, [&](std::int64_t pixels) {
                lease.reset(); // a second header in one file replaces the first
                lease = budget.acquire(pixels);
            });
            try {
                PictureRef source = loadPictureFile(item.input, admitted);
                const Embedded e = embedAndSave(item.input, std::move(source), settings, item.output);
                progress.print(stdout, item.output + ": " + describe(e, settings.target.has_value()));
            } catch (const std::exception& e) {
                ++failed;
                progress.print(stderr, std::string("pelinor-cli embed: ") + e.what());
            } catch (...) {
                ++failed;
                progress.print(stderr, "pelinor-cli embed: " + item.input + ": unexpected failure");
            }
            progress.advance();
        });
    }
    if (failed == 0) return kExitOk;
    std::fprintf(stderr, "pelinor-cli embed: %zu of %zu pictures failed\n", failed.load(), items.size());
    return kExitError;
}

int embed(const ParsedArgs& a)
{
    return a.has("--output-dir") ? embedBatch(a) : embedOne(a);
}

} // namespace

const Command kEmbedCommand{"embed", "embed a watermark into one or more pictures",
    "IMAGE WATERMARK.wmk OUTPUT [--quality Q|same] [--subsampling S] [--no-verify]\n--output-dir DIR "
    "WATERMARK.wmk "
    "IMAGE... "
    "[--jobs J] [--format bmp|png|jpg|tif|webp] [--quality Q|same]",
    "Embeds the watermark into the luminance of each picture and writes the marked picture.\n"
    "Pictures are read by content (BMP, PNG, JPEG, TIFF, WebP): RGB, grey, with alpha, 8 or\n"
    "16 bits per sample. Grey is its own luminance; alpha is copied unchanged; 16-bit\n"
    "pictures are marked at 16-bit precision and stay 16-bit. A palette picture is marked as\n"
    "RGB (or grey). The output format follows OUTPUT's extension (.png, .jpg/.jpeg,\n"
    ".tif/.tiff, .webp, otherwise BMP). EXIF (Orientation as it was), the ICC profile, XMP,\n"
    "IPTC and text entries are carried over where the output format can hold them; what it\n"
    "cannot hold is named in a warning. The ICC profile is not applied: pixels are marked as\n"
    "they are stored.\n\n"
    "The watermark file's alpha is the strongest embedding allowed: it is lowered where\n"
    "needed so that the marked picture keeps the quality floor (--min-psnr, 40 dB by default,\n"
    "and a banding figure, the change in flat areas, of at most 4 levels); the output says\n"
    "when and by how much. Detection needs no change: the file's alpha finds the mark.\n\n"
    "A JPEG or lossy WebP output is encoded in memory and checked before it is written: the\n"
    "encoded picture is decoded, its PSNR reported and the mark detected in it by the rule of\n"
    "detect (--max-false-positive, or --threshold). When the mark would not be found, nothing\n"
    "is written and the reason is given with the lowest quality that keeps the mark findable.",
    kOptions,
    "An output is never the same file as an input (followed through links): such a command\nis refused and "
    "writes nothing.\n\nExit status: 0 success, 2 usage or input error, or an output that would lose\nthe "
    "mark "
    "(in a batch: any picture failed).",
    embed};

} // namespace pelinor::cli
