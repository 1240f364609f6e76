// The codecs behind image_io.h, one file each in this folder. Only image/ itself, the tests
// and the fuzz targets include this header; everything else reads and writes pictures through
// image/image_io.h, which chooses the codec.
#pragma once

#include "image/picture.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelinor {

// Each decoder has the pixel budget of decodePicture: more than maxPixels pixels is refused
// from the header, before any pixel is allocated.
PictureRef decodeBmp(std::span<const std::uint8_t> bytes, const PixelLimit& limit = kDefaultMaxPixels);
std::vector<std::uint8_t> encodeBmp(const Picture& picture);

PictureRef decodePng(std::span<const std::uint8_t> bytes, const PixelLimit& limit = kDefaultMaxPixels);
std::vector<std::uint8_t> encodePng(const Picture& picture);
// True when libpng would take this ICC profile for a grey or a colour picture.
bool pngTakesProfile(const std::vector<std::uint8_t>& icc, bool grey);

PictureRef decodeJpeg(std::span<const std::uint8_t> bytes, const PixelLimit& limit = kDefaultMaxPixels);
std::vector<std::uint8_t> encodeJpeg(const Picture& picture, int quality = 90);
std::vector<std::uint8_t> encodeJpeg(const Picture& picture, int quality, Subsampling subsampling);
// Metadata blocks too large for one JPEG marker.
std::vector<std::string> jpegDrops(const Metadata& metadata);

PictureRef decodeTiff(std::span<const std::uint8_t> bytes, const PixelLimit& limit = kDefaultMaxPixels);
std::vector<std::uint8_t> encodeTiff(const Picture& picture);
// Metadata a TIFF file cannot hold.
std::vector<std::string> tiffDrops(const Metadata& metadata);

PictureRef decodeWebp(std::span<const std::uint8_t> bytes, const PixelLimit& limit = kDefaultMaxPixels);
// quality 1..100 is lossy, 0 lossless.
std::vector<std::uint8_t> encodeWebp(const Picture& picture, int quality);

} // namespace pelinor
