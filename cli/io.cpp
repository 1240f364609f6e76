#include "cli/io.h"

#include "cli/args.h"
#include "image/image_io.h"

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

PictureRef loadPictureFile(const std::string& path)
{
    return withFile(path, [&] { return loadPicture(path); });
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

Watermark readWatermarkFile(const std::string& path)
{
    return withFile(path, [&] { return readWatermark(path); });
}

} // namespace pelinor::cli
