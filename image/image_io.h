// Loading and saving pictures.
#pragma once

#include "base/atomic_file.h"
#include "image/picture.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pelinor {

// How pictures are written, beyond what the file name decides.
struct SaveOptions {
    int quality = 90; // JPEG, and WebP when lossy: 1..100
    bool sameQuality = false; // JPEG: the input JPEG's estimated quality (else `quality`)
    bool lossy = false; // WebP: lossy at `quality` (else lossless, which keeps a watermark exact)
    Subsampling subsampling = Subsampling::None; // JPEG: None is the input JPEG's, else 4:2:0
};

// Loads by content (BMP, PNG, JPEG, TIFF, WebP). Missing file: error 53; not a readable picture:
// 481; more than maxPixels pixels: err::PixelBudget, from the header, before any pixel is
// allocated.
// A file larger than any picture within the limit could need (largestPictureFile) is refused
// from its size, err::PixelBudget, before it is read. The limit may admit the picture's pixels
// to a budget its caller shares with other jobs.
PictureRef loadPicture(const std::string& path, const PixelLimit& limit = kDefaultMaxPixels);
PictureRef decodePicture(std::span<const std::uint8_t> bytes, const PixelLimit& limit = kDefaultMaxPixels);

// The format a file's first bytes announce (kFormatSignatureBytes of them suffice), or
// nothing when they are no picture's that the program reads. Whether the rest decodes is
// not checked.
inline constexpr std::size_t kFormatSignatureBytes = 12;
std::optional<ImageFormat> formatOfContent(std::span<const std::uint8_t> head);

// Saves by extension (.png, .jpg/.jpeg, .tif/.tiff, .webp, anything else BMP), atomically;
// returns what the file replaced could not keep (its owner, group or mode).
WriteNotes savePicture(const Picture& picture, const std::string& path, int jpegQuality = 90);
WriteNotes savePicture(const Picture& picture, const std::string& path, const SaveOptions& options);
ImageFormat formatForPath(const std::string& path);
std::vector<std::uint8_t> encodePicture(const Picture& picture, ImageFormat format, int jpegQuality = 90);
std::vector<std::uint8_t> encodePicture(
    const Picture& picture, ImageFormat format, const SaveOptions& options);

// What a file of `format` cannot hold of the picture, one phrase each ("the alpha
// channel", "the ICC profile", ...); empty when nothing is lost.
std::vector<std::string> lostInFormat(const Picture& picture, ImageFormat format);

// The EXIF Orientation of the picture's file (1 to 8), when it has one.
std::optional<std::uint32_t> exifOrientation(const Picture& picture);

} // namespace pelinor
