#include "image/image_io.h"

#include "base/atomic_file.h"
#include "base/error.h"

#include <algorithm>
#include <cstring>

namespace pelinor {
namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view magic)
{
    return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

} // namespace

PictureRef decodePicture(std::span<const std::uint8_t> bytes)
{
    if (startsWith(bytes, "BM")) return decodeBmp(bytes);
    if (startsWith(bytes, "\x89PNG\r\n\x1a\n")) return decodePng(bytes);
    if (startsWith(bytes, "\xff\xd8\xff")) return decodeJpeg(bytes);
    throw Error(err::InvalidPicture,
        bytes.empty() ? "Invalid picture: the file is empty"
                      : "Invalid picture: not a BMP, PNG or JPEG file");
}

PictureRef loadPicture(const std::string& path)
{
    // The largest sensible file: the pixel limit plus headers, palettes and the like.
    const std::vector<std::uint8_t> bytes = readFileBytes(path, kMaxPixelBytes + (std::size_t(64) << 20));
    try {
        return decodePicture(bytes);
    } catch (const Error& e) {
        if (e.number() != err::InvalidPicture) throw;
        throw Error(e.number(), std::string(e.what()) + " (\"" + path + "\")");
    }
}

ImageFormat formatForPath(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return ImageFormat::Bmp;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
        [](unsigned char c) { return char(c | (c >= 'A' && c <= 'Z' ? 0x20 : 0)); });
    if (ext == "png") return ImageFormat::Png;
    if (ext == "jpg" || ext == "jpeg") return ImageFormat::Jpeg;
    return ImageFormat::Bmp;
}

std::vector<std::uint8_t> encodePicture(const Picture& picture, ImageFormat format, int jpegQuality)
{
    switch (format) {
    case ImageFormat::Png:
        return encodePng(picture);
    case ImageFormat::Jpeg:
        return encodeJpeg(picture, jpegQuality);
    case ImageFormat::Bmp:
        break;
    }
    return encodeBmp(picture);
}

void savePicture(const Picture& picture, const std::string& path, int jpegQuality)
{
    writeFileAtomic(path, encodePicture(picture, formatForPath(path), jpegQuality));
}

} // namespace pelinor
