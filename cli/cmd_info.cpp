#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace pelinor::cli {

namespace {

const char kHelp[] = "usage: pelinor-cli info IMAGE...\n"
                     "\n"
                     "Describes each picture file: format, size, bits per pixel, and whether it can be\n"
                     "watermarked (24-bit pictures only). An unreadable file is reported and the others\n"
                     "are still described.\n"
                     "\n"
                     "Exit status: 0 success, 2 usage error or any file unreadable.\n";

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

std::string describe(const std::string& path)
{
    const PictureRef picture = loadPictureFile(path);
    const int bits = picture->bitsPerPixel();
    return path + ": " + formatName(path) + ", " + sizeText(picture->width(), picture->height()) + " pixels, "
        + std::to_string(bits) + " bits per pixel, "
        + (bits == 24 ? "can be watermarked" : "cannot be watermarked (24-bit pictures only)");
}

} // namespace

int cmdInfo(const Args& args)
{
    return runCommand("info", kHelp, args, {}, [](const ParsedArgs& a) {
        a.expectPositional(1, a.positional().size(), "IMAGE...");
        int status = kExitOk;
        for (const std::string& path : a.positional()) {
            try {
                std::printf("%s\n", describe(path).c_str());
            } catch (const std::exception& e) {
                std::fflush(stdout);
                std::fprintf(stderr, "pelinor-cli info: %s\n", e.what());
                status = kExitError;
            }
        }
        return status;
    });
}

} // namespace pelinor::cli
