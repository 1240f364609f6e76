// Reading the command line's input files, with errors that name the file.
#pragma once

#include "image/picture.h"
#include "watermark/watermark_file.h"

#include <string>

namespace pelinor::cli {

// Throws FileError naming `path` and the reason.
PictureRef loadPictureFile(const std::string& path);
// Throws FileError (" 24-bit bitmaps only", with the depth found) unless the picture is 24-bit.
void require24Bit(const std::string& path, const Picture& picture);
Watermark readWatermarkFile(const std::string& path);

// "512 x 384"
std::string sizeText(int width, int height);

} // namespace pelinor::cli
