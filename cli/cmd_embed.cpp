#include "base/parallel.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "cli/progress.h"
#include "image/image_io.h"
#include "watermark/embed.h"
#include "watermark/strength.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
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

const Option kOptions[] = {
    kQualityOption,
    kSubsamplingOption,
    {"--output-dir", "DIR",
        "batch: write DIR/NAME for every IMAGE (DIR is created if missing);\na bad picture is reported and "
        "the others still run"},
    kJobs,
    {"--format", "F", "batch: write bmp, png, jpg, tif or webp instead of each input's own\nformat"},
    kTargetPsnr,
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

// With a target PSNR the strength is chosen for this picture; `alpha` receives the one used.
// Without one the picture is marked in place: the source is not needed afterwards, and a
// second picture would be a quarter of the memory of a whole embedding.
EmbedResult embedAndSave(const std::string& input, PictureRef source, const std::string& watermarkPath,
    const Watermark& watermark, const std::string& output, const SaveOptions& options,
    std::optional<double> target, double& alpha)
{
    alpha = watermark.alpha;
    noteInput("embed", input, *source);
    // A failure is put on the watermark file when it lies in the watermark's numbers.
    const auto embed = [&](auto&& step) {
        try {
            return step();
        } catch (const Error& e) {
            throw FileError(concernsWatermark(e) ? watermarkPath : input, e.what());
        }
    };
    EmbedResult r = embed([&] {
        if (!target && is24Bit(source.get())) {
            EmbedResult marked = embedWatermarkInPlace(*source, watermark);
            marked.marked = source;
            return marked;
        }
        if (!target) return embedWatermark(*source, watermark, Depths::Any);
        if (!is24Bit(source.get()))
            throw Error(err::Not24Bit,
                "--target-psnr works on 24-bit RGB pictures only (this one has "
                    + std::to_string(source->bitsPerPixel())
                    + " bits per pixel); give alpha in the watermark file instead");
        TargetPsnrEmbed t = embedForTargetPsnr(*source, watermark, *target);
        alpha = t.alpha;
        return std::move(t.embedded);
    });
    source.reset(); // not needed while the output is encoded
    savePictureFile("embed", output, *r.marked, options);
    return r;
}

int embedOne(const ParsedArgs& a, const SaveOptions& options)
{
    if (a.has("--jobs") || a.has("--format")) throw UsageError("--jobs and --format need --output-dir");
    a.expectPositional(3, 3, "IMAGE WATERMARK.wmk OUTPUT");
    const std::string& input = a.positional()[0];
    const std::string& output = a.positional()[2];
    // The unmarked original is what every later detection needs: never replace it (or the key).
    refuseReplacingInput(output, {input, a.positional()[1]});
    PictureRef source = loadPictureFile(input, maxPixels(a));
    const Watermark watermark = readWatermarkFile(a.positional()[1]);
    const std::optional<double> target = targetPsnr(a);
    double alpha = 0.0;
    const EmbedResult r = embedAndSave(
        input, std::move(source), a.positional()[1], watermark, output, options, target, alpha);
    std::printf("%s: %s\n", output.c_str(), describe(r, target ? &alpha : nullptr).c_str());
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

int embedBatch(const ParsedArgs& a, const SaveOptions& options)
{
    const std::string dir = *a.value("--output-dir");
    if (dir.empty()) throw UsageError("--output-dir needs a folder");
    std::string format = lowerCase(a.value("--format").value_or(""));
    if (format == "jpeg") format = "jpg";
    if (format == "tiff") format = "tif";
    if (!format.empty() && format != "bmp" && format != "png" && format != "jpg" && format != "tif"
        && format != "webp")
        throw UsageError("--format: '" + format + "' is not one of bmp, png, jpg");
    const unsigned jobs = jobCount(a.integer(kJobs));
    a.expectPositional(2, std::numeric_limits<std::size_t>::max(), "WATERMARK.wmk IMAGE...");

    const Watermark watermark = readWatermarkFile(a.positional()[0]);
    const std::optional<double> target = targetPsnr(a);
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

    std::atomic<std::size_t> failed{0};
    {
        Progress progress(items.size(), Progress::stderrIsTerminal());
        runParallel(items.size(), jobs, [&](std::size_t i) {
            const BatchItem& item = items[i];
            try {
                PictureRef source = loadPictureFile(item.input, limit);
                double alpha = 0.0;
                const EmbedResult r = embedAndSave(item.input, std::move(source), a.positional()[0],
                    watermark, item.output, options, target, alpha);
                progress.print(stdout, item.output + ": " + describe(r, target ? &alpha : nullptr));
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
    const SaveOptions options = saveOptions(a);
    return a.has("--output-dir") ? embedBatch(a, options) : embedOne(a, options);
}

} // namespace

const Command kEmbedCommand{"embed", "embed a watermark into one or more pictures",
    "IMAGE WATERMARK.wmk OUTPUT [--quality Q|same] [--subsampling S]\n--output-dir DIR WATERMARK.wmk "
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
    "they are stored.",
    kOptions,
    "An output is never the same file as an input (followed through links): such a command\nis refused and "
    "writes nothing.\n\nExit status: 0 success, 2 usage or input error (in a batch: any picture failed).",
    embed};

} // namespace pelinor::cli
