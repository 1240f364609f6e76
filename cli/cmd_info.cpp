#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "cli/json.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace pelinor::cli {

namespace {

const Option kOptions[] = {
    {"--json", nullptr, "print one JSON object instead of text (described in docs/json.md)"},
};

// The container, from the file's first bytes.
std::string formatName(const std::string& path)
{
    unsigned char head[4] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(head), sizeof head);
    if (head[0] == 'B' && head[1] == 'M') return "BMP";
    if (head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return "PNG";
    if (head[0] == 0xFF && head[1] == 0xD8) return "JPEG";
    return "unknown";
}

struct Description {
    std::string format;
    int width = 0, height = 0, bits = 0;
};

Description describe(const std::string& path)
{
    const PictureRef picture = loadPictureFile(path);
    return {formatName(path), picture->width(), picture->height(), picture->bitsPerPixel()};
}

std::string text(const std::string& path, const Description& d)
{
    return path + ": " + d.format + ", " + sizeText(d.width, d.height) + " pixels, " + std::to_string(d.bits)
        + " bits per pixel, "
        + (d.bits == 24 ? "can be watermarked" : "cannot be watermarked (24-bit pictures only)");
}

JsonObject json(const std::string& path, const Description& d)
{
    JsonObject o;
    o.add("file", path)
        .add("format", d.format)
        .add("width", d.width)
        .add("height", d.height)
        .add("bits_per_pixel", d.bits)
        .add("can_be_watermarked", d.bits == 24);
    return o;
}

int info(const ParsedArgs& a)
{
    a.expectPositional(1, a.positional().size(), "IMAGE...");
    const bool asJson = a.has("--json");
    int status = kExitOk;
    JsonArray files, errors;
    for (const std::string& path : a.positional()) {
        try {
            const Description d = describe(path);
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
    "Describes each picture file: format, size, bits per pixel, and whether it can be\nwatermarked (24-bit "
    "pictures only). An unreadable file is reported and the others\nare still described.",
    kOptions, "Exit status: 0 success, 2 usage error or any file unreadable.", info};

} // namespace pelinor::cli
