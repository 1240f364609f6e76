#include "cli/io.h"

#include "cli/args.h"
#include "image/image_io.h"

namespace pelinor::cli {

PictureRef loadPictureFile(const std::string& path)
{
    return withFile(path, [&] { return loadPicture(path); });
}

void require24Bit(const std::string& path, const Picture& picture)
{
    if (!is24Bit(&picture))
        throw FileError(path,
            std::string(kOnly24BitText) + " (this one has " + std::to_string(picture.bitsPerPixel())
                + " bits per pixel)");
}

Watermark readWatermarkFile(const std::string& path)
{
    return withFile(path, [&] { return readWatermark(path); });
}

std::string sizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

} // namespace pelinor::cli
