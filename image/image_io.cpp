#include "image/image_io.h"

#include "base/atomic_file.h"
#include "base/error.h"
#include "image/codecs/codecs.h"
#include "image/codecs/exif.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pelinor {
namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view magic)
{
    return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

std::uint32_t be32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::int64_t le32(const std::uint8_t* p)
{
    return std::int32_t(
        std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
}

// The width and height a PNG or BMP header at the very start of a file declares; 0 x 0 when
// the file is another kind (whose size may lie far into the file) or too short to say.
std::pair<std::int64_t, std::int64_t> declaredSize(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {0, 0};
    std::uint8_t head[26] = {};
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    const std::span<const std::uint8_t> bytes(head, sizeof head);
    if (n != ssize_t(sizeof head)) return {0, 0};
    if (startsWith(bytes, "\x89PNG\r\n\x1a\n") && std::memcmp(head + 12, "IHDR", 4) == 0)
        return {be32(head + 16), be32(head + 20)};
    if (startsWith(bytes, "BM") && le32(head + 14) >= 40) // not the 16-bit sizes of OS/2's header
        return {std::abs(le32(head + 18)), std::abs(le32(head + 22))};
    return {0, 0};
}

} // namespace

std::optional<ImageFormat> formatOfContent(std::span<const std::uint8_t> head)
{
    if (startsWith(head, "BM")) return ImageFormat::Bmp;
    if (startsWith(head, "\x89PNG\r\n\x1a\n")) return ImageFormat::Png;
    if (startsWith(head, "\xff\xd8\xff")) return ImageFormat::Jpeg;
    // Classic TIFF (42) and BigTIFF (43, 64-bit offsets), both read by libtiff.
    if (startsWith(head, std::string_view("II*\0", 4)) || startsWith(head, std::string_view("MM\0*", 4))
        || startsWith(head, std::string_view("II+\0", 4)) || startsWith(head, std::string_view("MM\0+", 4)))
        return ImageFormat::Tiff;
    if (head.size() >= 12 && startsWith(head, "RIFF") && std::memcmp(head.data() + 8, "WEBP", 4) == 0)
        return ImageFormat::WebP;
    return std::nullopt;
}

PictureRef decodePicture(std::span<const std::uint8_t> bytes, const PixelLimit& limit)
{
    if (const std::optional<ImageFormat> format = formatOfContent(bytes)) {
        switch (*format) {
        case ImageFormat::Bmp:
            return decodeBmp(bytes, limit);
        case ImageFormat::Png:
            return decodePng(bytes, limit);
        case ImageFormat::Jpeg:
            return decodeJpeg(bytes, limit);
        case ImageFormat::Tiff:
            return decodeTiff(bytes, limit);
        case ImageFormat::WebP:
            return decodeWebp(bytes, limit);
        }
    }
    throw Error(err::InvalidPicture,
        bytes.empty() ? "Invalid picture: the file is empty"
                      : "Invalid picture: not a BMP, PNG, JPEG, TIFF or WebP file");
}

PictureRef loadPicture(const std::string& path, const PixelLimit& limit)
{
    // A small picture followed by a gigabyte (sparse on disk, or padding) would be read whole.
    const std::uint64_t largest = largestPictureFile(limit.max);
    struct stat info { };
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && std::uint64_t(info.st_size) > largest)
        throw Error(err::PixelBudget,
            "Out of memory: \"" + path + "\" has " + std::to_string(info.st_size)
                + " bytes, more than any picture within the limit of " + std::to_string(limit.max)
                + " pixels needs (" + std::to_string(largest) + " bytes with its metadata)");
    // Where the header says the size at once, the file may hold no more than that picture needs.
    if (const auto [width, height] = declaredSize(path);
        width > 0 && height > 0 && width <= limit.max / height) { // no product of two 32-bit sides
        const std::uint64_t needed = largestPictureFile(width * height);
        if (std::uint64_t(info.st_size) > needed)
            throw Error(err::InvalidPicture,
                "Invalid picture: \"" + path + "\" has " + std::to_string(info.st_size)
                    + " bytes, more than the " + sizeText(width, height)
                    + " picture its header declares needs (" + std::to_string(needed)
                    + " bytes with its metadata)");
    }
    const std::vector<std::uint8_t> bytes = readFileBytes(path, largest);
    try {
        return decodePicture(bytes, limit);
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
    if (ext == "tif" || ext == "tiff") return ImageFormat::Tiff;
    if (ext == "webp") return ImageFormat::WebP;
    return ImageFormat::Bmp;
}

std::vector<std::uint8_t> encodePicture(const Picture& picture, ImageFormat format, int jpegQuality)
{
    SaveOptions options;
    options.quality = jpegQuality;
    return encodePicture(picture, format, options);
}

std::vector<std::uint8_t> encodePicture(
    const Picture& picture, ImageFormat format, const SaveOptions& options)
{
    switch (format) {
    case ImageFormat::Png:
        return encodePng(picture);
    case ImageFormat::Jpeg: {
        const int estimated = picture.source().jpegQuality;
        const int quality = options.sameQuality && estimated > 0 ? estimated : options.quality;
        return encodeJpeg(picture, quality, options.subsampling);
    }
    case ImageFormat::Tiff:
        return encodeTiff(picture);
    case ImageFormat::WebP:
        return encodeWebp(picture, options.lossy ? options.quality : 0);
    case ImageFormat::Bmp:
        break;
    }
    return encodeBmp(picture);
}

WriteNotes savePicture(const Picture& picture, const std::string& path, int jpegQuality)
{
    return writeFileAtomic(path, encodePicture(picture, formatForPath(path), jpegQuality));
}

WriteNotes savePicture(const Picture& picture, const std::string& path, const SaveOptions& options)
{
    return writeFileAtomic(path, encodePicture(picture, formatForPath(path), options));
}

std::vector<std::string> lostInFormat(const Picture& picture, ImageFormat format)
{
    const SampleFormat& f = picture.sampleFormat();
    const Metadata& m = picture.metadata();
    std::vector<std::string> lost;
    const bool alpha
        = format == ImageFormat::Png || format == ImageFormat::Tiff || format == ImageFormat::WebP;
    const bool deep = format == ImageFormat::Png || format == ImageFormat::Tiff;
    const bool grey = format != ImageFormat::Bmp && format != ImageFormat::WebP;
    if (f.alpha && !alpha) lost.push_back("the alpha channel");
    if (f.depth == 16 && !deep) lost.push_back("16-bit samples (written as 8-bit)");
    if (f.colours == 1 && !grey) lost.push_back("grey (written as RGB)");
    switch (format) {
    case ImageFormat::Bmp:
        if (!m.exif.empty()) lost.push_back("EXIF");
        if (!m.icc.empty()) lost.push_back("the ICC profile");
        if (!m.xmp.empty()) lost.push_back("XMP");
        if (!m.iptc.empty()) lost.push_back("IPTC");
        if (!m.text.empty()) lost.push_back("text entries");
        break;
    case ImageFormat::Jpeg:
        for (std::string& s : jpegDrops(m))
            lost.push_back(std::move(s));
        break;
    case ImageFormat::Tiff:
        for (std::string& s : tiffDrops(m))
            lost.push_back(std::move(s));
        break;
    case ImageFormat::WebP:
        if (!m.iptc.empty()) lost.push_back("IPTC");
        if (!m.text.empty()) lost.push_back("text entries");
        break;
    case ImageFormat::Png:
        if (!m.icc.empty() && !pngTakesProfile(m.icc, f.colours == 1))
            lost.push_back(std::string("the ICC profile (not one for ") + (f.colours == 1 ? "grey" : "RGB")
                + " pictures, as PNG requires)");
        break;
    }
    return lost;
}

std::optional<std::uint32_t> exifOrientation(const Picture& picture)
{
    if (picture.metadata().exif.empty()) return std::nullopt;
    return exifNumber(picture.metadata().exif, exif::Orientation);
}

} // namespace pelinor
