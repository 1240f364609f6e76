// Loading and saving pictures.
#pragma once

#include "image/picture.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelinor {

enum class ImageFormat { Bmp, Png, Jpeg };

// Loads by content (BMP, PNG, JPEG). Missing file: error 53; not a readable picture: 481.
PictureRef loadPicture(const std::string& path);
PictureRef decodePicture(std::span<const std::uint8_t> bytes);

// Saves by extension (.png, .jpg/.jpeg, anything else BMP), atomically.
void savePicture(const Picture& picture, const std::string& path, int jpegQuality = 90);
ImageFormat formatForPath(const std::string& path);
std::vector<std::uint8_t> encodePicture(const Picture& picture, ImageFormat format, int jpegQuality = 90);

// The individual codecs.
PictureRef decodeBmp(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> encodeBmp(const Picture& picture);
PictureRef decodePng(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> encodePng(const Picture& picture);
PictureRef decodeJpeg(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> encodeJpeg(const Picture& picture, int quality = 90);

} // namespace pelinor
