#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "cli/json.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace pelinor::cli {

namespace {

const Option kOptions[] = {
    {"--json", nullptr, "print one JSON object instead of text (described in docs/json.md)"},
    kMaxPixelsOption,
};

std::vector<std::string> metadataNames(const Metadata& m)
{
    std::vector<std::string> names;
    if (!m.exif.empty()) names.push_back("EXIF");
    if (!m.icc.empty()) names.push_back("ICC");
    if (!m.xmp.empty()) names.push_back("XMP");
    if (!m.iptc.empty()) names.push_back("IPTC");
    if (!m.text.empty()) names.push_back("text");
    return names;
}

const char* subsamplingText(Subsampling s)
{
    switch (s) {
    case Subsampling::S444:
        return "4:4:4";
    case Subsampling::S422:
        return "4:2:2";
    case Subsampling::S420:
        return "4:2:0";
    case Subsampling::None:
        break;
    }
    return "none";
}

struct Description {
    int width = 0, height = 0, bits = 0;
    SampleFormat samples;
    SourceInfo source;
    std::vector<std::string> metadata;
};

Description describe(const std::string& path, std::int64_t maxPixels)
{
    const PictureRef picture = loadPictureFile(path, maxPixels);
    return {picture->width(), picture->height(), picture->bitsPerPixel(), picture->sampleFormat(),
        picture->source(), metadataNames(picture->metadata())};
}

std::string text(const std::string& path, const Description& d)
{
    std::string metadata;
    for (const std::string& name : d.metadata) {
        if (!metadata.empty()) metadata += ' ';
        metadata += name;
    }
    std::string t = path + ": " + formatName(d.source.format) + ", " + sizeText(d.width, d.height)
        + " pixels, " + std::to_string(d.bits) + " bits per pixel, "
        + (d.samples.palette ? "palette of " : "") + channelsName(d.samples) + ", "
        + std::to_string(d.samples.depth)
        + " bits per sample, metadata: " + (metadata.empty() ? "none" : metadata);
    if (d.source.format == ImageFormat::Jpeg && d.source.jpegQuality > 0)
        t += "; JPEG quality about " + std::to_string(d.source.jpegQuality) + ", subsampling "
            + subsamplingText(d.source.subsampling);
    if (d.source.format == ImageFormat::WebP) t += d.source.lossless ? "; lossless" : "; lossy";
    return t;
}

JsonObject json(const std::string& path, const Description& d)
{
    JsonObject metadata;
    for (const char* name : {"EXIF", "ICC", "XMP", "IPTC", "text"}) {
        std::string key = name;
        for (char& c : key)
            c = char(c | 0x20);
        metadata.add(key, std::find(d.metadata.begin(), d.metadata.end(), name) != d.metadata.end());
    }
    JsonObject o;
    o.add("file", path)
        .add("format", std::string(formatName(d.source.format)))
        .add("width", d.width)
        .add("height", d.height)
        .add("bits_per_pixel", d.bits)
        .add("can_be_watermarked", d.bits == 24)
        .add("channels", channelsName(d.samples))
        .add("bits_per_sample", d.samples.depth)
        .add("palette", d.samples.palette)
        .add("metadata", metadata);
    if (d.source.format == ImageFormat::Jpeg)
        o.add("jpeg_quality", d.source.jpegQuality)
            .add("subsampling", std::string(subsamplingText(d.source.subsampling)));
    if (d.source.format == ImageFormat::WebP) o.add("lossless", d.source.lossless);
    return o;
}

int info(const ParsedArgs& a)
{
    a.expectPositional(1, a.positional().size(), "IMAGE...");
    const bool asJson = a.has("--json");
    const std::int64_t limit = maxPixels(a);
    int status = kExitOk;
    JsonArray files, errors;
    for (const std::string& path : a.positional()) {
        try {
            const Description d = describe(path, limit);
            if (asJson)
                files.add(json(path, d));
            else
                std::printf("%s\n", text(path, d).c_str());
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "pelinor-cli info: %s\n", e.what());
            if (asJson) errors.add(JsonObject().add("file", path).add("error", e.what()));
            status = kExitError;
        }
    }
    if (asJson)
        std::printf("%s\n",
            JsonObject().add("schema", kJsonSchema).add("files", files).add("errors", errors).str().c_str());
    return status;
}

} // namespace

const Command kInfoCommand{"info", "describe picture files", "IMAGE... [--json]",
    "Describes each picture file: format, size, bits per pixel, channels and bits per sample,\n"
    "and the metadata it carries (EXIF, ICC, XMP, IPTC, text entries), e.g.\n"
    "  photo.jpg: JPEG, 4032 x 3024 pixels, 24 bits per pixel, RGB, 8 bits per sample,\n"
    "  metadata: EXIF ICC; JPEG quality about 92, subsampling 4:2:0\n"
    "Every picture it reads can be watermarked by the command line; the desktop program\n"
    "takes 24-bit pictures only. An unreadable file is reported and the others are still\n"
    "described.",
    kOptions, "Exit status: 0 success, 2 usage error or any file unreadable.", info};

} // namespace pelinor::cli
