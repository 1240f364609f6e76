#include "cli/io.h"

#include "cli/args.h"
#include "image/image_io.h"
#include "watermark/strength.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>

namespace pelinor::cli {

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat x {
    }, y{};
    if (::stat(a.c_str(), &x) != 0 || ::stat(b.c_str(), &y) != 0) return false;
    return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

void refuseReplacingInput(const std::string& output, const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs)
        if (sameFile(output, input))
            throw FileError(output,
                "the output " + output
                    + (output == input ? " is also an input of this command"
                                       : " is the same file as the input " + input)
                    + "; refusing to replace it");
}

std::int64_t maxPixels(const ParsedArgs& a)
{
    return a.integer(kMaxPixelsOption);
}

PictureRef loadPictureFile(const std::string& path, const PixelLimit& limit)
{
    return withFile(path, [&] {
        try {
            return loadPicture(path, limit);
        } catch (const Error& e) {
            // The budget is ours to change; say how.
            if (e.number() != err::PixelBudget) throw;
            throw Error(e.number(), e.what() + std::string(" (--max-pixels raises it)"));
        }
    });
}

void require24Bit(const std::string& path, const Picture& picture)
{
    try {
        pelinor::require24Bit(picture);
    } catch (const Error& e) {
        throw FileError(path,
            e.what() + std::string(" (this one has ") + std::to_string(picture.bitsPerPixel())
                + " bits per pixel)");
    }
}

double minPsnr(const ParsedArgs& a)
{
    const double db = a.real("--min-psnr", kDefaultMinPsnr, 0.0, kMaxTargetPsnr);
    if (db > 0.0 && db < kMinTargetPsnr)
        throw UsageError("--min-psnr: give 0 (no floor) or " + std::to_string(int(kMinTargetPsnr)) + " to "
            + std::to_string(int(kMaxTargetPsnr)) + " dB");
    return db;
}

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string outputExtension(const std::string& input, const std::string& format)
{
    if (!format.empty()) return "." + format;
    const std::string ext = std::filesystem::path(input).extension().string();
    const std::string lower = lowerCase(ext);
    if (lower == ".bmp" || lower == ".png" || lower == ".jpg" || lower == ".jpeg" || lower == ".tif"
        || lower == ".tiff" || lower == ".webp")
        return ext;
    return ".bmp";
}

SaveOptions saveOptions(const ParsedArgs& a)
{
    SaveOptions options;
    if (const auto q = a.value("--quality")) {
        if (*q == "same") {
            options.sameQuality = true;
        } else {
            options.quality = int(a.integer(kQualityOption));
            options.lossy = true;
        }
    }
    if (const auto s = a.value("--subsampling")) {
        if (*s == "444")
            options.subsampling = Subsampling::S444;
        else if (*s == "422")
            options.subsampling = Subsampling::S422;
        else if (*s == "420")
            options.subsampling = Subsampling::S420;
        else
            throw UsageError("--subsampling: '" + *s + "' is not one of 444, 422, 420");
    }
    return options;
}

void noteInput(const char* command, const std::string& input, const Picture& picture)
{
    for (const std::string& note : picture.source().notes)
        std::fprintf(stderr, "pelinor-cli %s: warning: %s\n", command, fileMessage(input, note).c_str());
    if (picture.sampleFormat().palette)
        std::fprintf(stderr, "pelinor-cli %s: note: %s\n", command,
            fileMessage(input,
                std::string("a palette picture, converted to ")
                    + (picture.sampleFormat().colours == 1 ? "grey" : "RGB") + " for marking")
                .c_str());
}

void warnLosses(const char* command, const std::string& output, const Picture& picture)
{
    const ImageFormat format = formatForPath(output);
    const std::vector<std::string> lost = lostInFormat(picture, format);
    if (lost.empty()) return;
    std::string list;
    for (const std::string& l : lost) {
        if (!list.empty()) list += ", ";
        list += l;
    }
    std::fprintf(stderr, "pelinor-cli %s: warning: %s\n", command,
        fileMessage(
            output, std::string("a ") + formatName(format) + " file cannot hold " + list + "; dropped")
            .c_str());
}

void savePictureFile(
    const char* command, const std::string& output, const Picture& picture, const SaveOptions& options)
{
    warnLosses(command, output, picture);
    warnReplaced(command, output, withFile(output, [&] { return savePicture(picture, output, options); }));
}

void warnReplaced(const char* command, const std::string& output, const WriteNotes& notes)
{
    for (const std::string& note : notes)
        std::fprintf(stderr, "pelinor-cli %s: warning: %s\n", command, fileMessage(output, note).c_str());
}

Watermark readWatermarkFile(const std::string& path)
{
    return withFile(path, [&] { return readWatermark(path); });
}

} // namespace pelinor::cli
