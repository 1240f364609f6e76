// Windows and OS/2 bitmap files, read and written from the file format itself.
#include "base/error.h"
#include "image/codecs/codecs.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pelinor {
namespace {

[[noreturn]] void invalid(const std::string& why)
{
    throw Error(err::InvalidPicture, "Invalid picture: " + why);
}

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kJpeg = 4, kPng = 5,
                        kAlphaBitFields = 6;
// Beyond this a resolution field is nonsense (about 25,000 dots per inch).
constexpr std::int64_t kMaxPixelsPerMetre = 1000000;

class LittleEndian {
public:
    explicit LittleEndian(std::span<const std::uint8_t> bytes)
        : m_bytes(bytes)
    {
    }
    std::uint16_t u16(std::size_t at) const
    {
        need(at, 2);
        return std::uint16_t(m_bytes[at] | m_bytes[at + 1] << 8);
    }
    std::uint32_t u32(std::size_t at) const
    {
        need(at, 4);
        return std::uint32_t(m_bytes[at]) | std::uint32_t(m_bytes[at + 1]) << 8
            | std::uint32_t(m_bytes[at + 2]) << 16 | std::uint32_t(m_bytes[at + 3]) << 24;
    }
    std::int32_t i32(std::size_t at) const { return static_cast<std::int32_t>(u32(at)); }

private:
    void need(std::size_t at, std::size_t n) const
    {
        if (at > m_bytes.size() || m_bytes.size() - at < n) invalid("the bitmap file is truncated");
    }
    std::span<const std::uint8_t> m_bytes;
};

// One colour channel of a 16- or 32-bit pixel, scaled to 0..255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    static Channel of(std::uint32_t mask)
    {
        Channel c;
        c.mask = mask;
        if (mask == 0) return c;
        c.shift = std::countr_zero(mask);
        c.max = mask >> c.shift;
        return c;
    }
    bool contiguous() const { return mask != 0 && (max & (max + 1)) == 0; }
    std::uint8_t operator()(std::uint32_t pixel) const
    {
        const std::uint64_t v = (pixel & mask) >> shift;
        return std::uint8_t((v * 255 + max / 2) / max);
    }
};

struct Header {
    std::uint32_t offBits = 0;
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // rows, always positive
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t sizeImage = 0;
    std::uint32_t colorsUsed = 0;
    std::uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
    std::size_t paletteStart = 0;
    std::size_t paletteEntrySize = 4;
};

bool knownHeaderSize(std::uint32_t size)
{
    // 12 OS/2 1.x, 16 and 64 OS/2 2.x, 40 Windows 3, 52 and 56 with masks, 108 V4, 124 V5.
    for (std::uint32_t s : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u})
        if (size == s) return true;
    return false;
}

// Size, depth and compression from the information header, whose layout depends on its size.
void readSizeAndDepth(const LittleEndian& le, Header& h)
{
    const std::size_t info = kFileHeaderSize;
    std::int64_t height = 0;
    int planes = 0;
    if (h.headerSize == 12) {
        h.width = le.u16(info + 4);
        height = le.u16(info + 6);
        planes = le.u16(info + 8);
        h.bitCount = le.u16(info + 10);
        h.paletteEntrySize = 3;
    } else {
        h.width = le.i32(info + 4);
        height = le.i32(info + 8);
        planes = le.u16(info + 12);
        h.bitCount = le.u16(info + 14);
        if (h.headerSize >= 40) {
            h.compression = le.u32(info + 16);
            h.sizeImage = le.u32(info + 20);
            const std::int64_t xppm = le.i32(info + 24), ypmm = le.i32(info + 28);
            if (std::max(std::abs(xppm), std::abs(ypmm)) > kMaxPixelsPerMetre)
                invalid("implausible resolution of " + std::to_string(xppm) + " x " + std::to_string(ypmm)
                    + " pixels per metre");
            h.colorsUsed = le.u32(info + 32);
        }
    }
    if (h.width < 1) invalid("width " + std::to_string(h.width) + " is not positive");
    if (height == 0) invalid("height is 0");
    h.topDown = height < 0;
    h.height = h.topDown ? -height : height;
    if (planes != 1) invalid(std::to_string(planes) + " colour planes (must be 1)");
}

// The compression must suit the depth and the row order.
void checkCompression(const Header& h)
{
    // OS/2 2.x numbers its compressions differently from Windows.
    const bool os2v2 = h.headerSize == 16 || h.headerSize == 64;
    if (os2v2 && h.compression == 3) invalid("Huffman-compressed OS/2 bitmaps are not supported");
    if (os2v2 && h.compression == 4) invalid("24-bit RLE bitmaps are not supported");

    const int bpp = h.bitCount;
    switch (h.compression) {
    case kRgb:
        if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            invalid("unsupported bit count " + std::to_string(bpp));
        break;
    case kRle8:
    case kRle4:
        if (bpp != (h.compression == kRle8 ? 8 : 4))
            invalid("RLE compression with a bit count of " + std::to_string(bpp));
        if (h.topDown) invalid("RLE-compressed bitmaps cannot be stored top-down");
        break;
    case kBitFields:
    case kAlphaBitFields:
        if (bpp != 16 && bpp != 32) invalid("bit fields with a bit count of " + std::to_string(bpp));
        break;
    case kJpeg:
    case kPng:
        if (bpp != 0) invalid("embedded JPEG or PNG data with a bit count of " + std::to_string(bpp));
        break;
    default:
        invalid("unknown compression " + std::to_string(h.compression));
    }
}

Header readHeader(std::span<const std::uint8_t> bytes)
{
    const LittleEndian le(bytes);
    Header h;
    if (bytes.size() < 2 || bytes[0] != 'B' || bytes[1] != 'M') invalid("not a bitmap file");
    h.offBits = le.u32(10);
    h.headerSize = le.u32(14);
    if (!knownHeaderSize(h.headerSize)) invalid("unknown bitmap header size " + std::to_string(h.headerSize));
    le.u32(kFileHeaderSize + h.headerSize - 4); // the whole header must be present

    readSizeAndDepth(le, h);
    checkCompression(h);

    if (!withinPixelLimit(h.width, h.height)) throwOverPixelLimit(h.width, h.height);

    // Bit masks: inside the larger headers, else right after a 40-byte one.
    const int bpp = h.bitCount;
    h.paletteStart = kFileHeaderSize + h.headerSize;
    if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
        const std::size_t at = kFileHeaderSize + 40;
        const int count = h.compression == kAlphaBitFields || h.headerSize >= 56 ? 4 : 3;
        for (int i = 0; i < count; ++i)
            h.masks[i] = le.u32(at + 4 * std::size_t(i));
        if (h.headerSize == 40) h.paletteStart += 4 * std::size_t(count);
    } else if (bpp == 16) {
        h.masks[0] = 0x7c00, h.masks[1] = 0x03e0, h.masks[2] = 0x001f;
    } else if (bpp == 32) {
        h.masks[0] = 0xff0000, h.masks[1] = 0xff00, h.masks[2] = 0xff;
    }
    if (h.offBits < h.paletteStart || h.offBits > bytes.size())
        invalid("the pixel data offset " + std::to_string(h.offBits)
            + " does not lie between the headers and the end of the file");
    if (le.u32(2) > bytes.size())
        invalid("the bitmap file is truncated: its header gives " + std::to_string(le.u32(2))
            + " bytes, the file has " + std::to_string(bytes.size()));
    if (h.sizeImage > bytes.size() - h.offBits)
        invalid("the image size field (" + std::to_string(h.sizeImage) + " bytes) exceeds the file");
    return h;
}

std::vector<Channel> readChannels(const Header& h)
{
    std::vector<Channel> channels;
    std::uint32_t seen = 0;
    const std::uint32_t allowed = h.bitCount == 16 ? 0xffffu : 0xffffffffu;
    for (int i = 0; i < 4; ++i) {
        const Channel c = Channel::of(h.masks[i]);
        if (i < 3 && c.mask == 0) invalid("a colour bit field mask is empty");
        if (c.mask != 0 && (!c.contiguous() || (c.mask & seen) != 0 || (c.mask & ~allowed) != 0))
            invalid("invalid bit field masks");
        seen |= c.mask;
        if (i < 3) channels.push_back(c);
    }
    return channels;
}

struct Bgr {
    std::uint8_t b, g, r;
};

std::vector<Bgr> readPalette(std::span<const std::uint8_t> bytes, const Header& h)
{
    const std::size_t maxEntries = std::size_t(1) << h.bitCount;
    const std::size_t room = (h.offBits - h.paletteStart) / h.paletteEntrySize;
    std::size_t count = h.colorsUsed != 0 ? h.colorsUsed : maxEntries;
    if (count > room) {
        if (h.colorsUsed != 0)
            invalid("the palette of " + std::to_string(h.colorsUsed) + " colours does not fit the file");
        count = room; // an implied full palette may be cut short by the data offset
    }
    count = std::min(count, maxEntries);
    if (count == 0) invalid("the palette is empty");
    std::vector<Bgr> palette(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = bytes.data() + h.paletteStart + i * h.paletteEntrySize;
        palette[i] = {p[0], p[1], p[2]};
    }
    return palette;
}

[[noreturn]] void badIndex(unsigned index, std::size_t count)
{
    invalid("palette index " + std::to_string(index) + " is outside the palette of " + std::to_string(count)
        + " colours");
}

// Bytes of one stored row of an uncompressed file, padded to four.
std::uint64_t sourceStride(const Header& h)
{
    return (std::uint64_t(h.width) * std::uint64_t(h.bitCount) + 31) / 32 * 4;
}

void checkUncompressedSize(std::span<const std::uint8_t> bytes, const Header& h)
{
    // The pixel limit bounds width and height, so this cannot overflow.
    const std::uint64_t needed = sourceStride(h) * std::uint64_t(h.height);
    if (needed > bytes.size() - h.offBits)
        invalid("the bitmap file is truncated: its pixels need " + std::to_string(needed) + " bytes, "
            + std::to_string(bytes.size() - h.offBits) + " are present");
}

void decodeUncompressed(std::span<const std::uint8_t> bytes, const Header& h, const std::vector<Bgr>& palette,
    const std::vector<Channel>& channels, Picture& picture)
{
    const int width = picture.width();
    const int bpp = h.bitCount;
    const std::uint64_t srcStride = sourceStride(h);

    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* src = bytes.data() + h.offBits + std::size_t(y) * srcStride;
        std::uint8_t* dst = picture.bits() + std::size_t(y) * picture.stride();
        if (bpp == 24) {
            std::memcpy(dst, src, 3 * std::size_t(width));
        } else if (bpp <= 8) {
            const unsigned perByte = 8 / unsigned(bpp), mask = (1u << bpp) - 1;
            for (int x = 0; x < width; ++x) {
                const unsigned shift = 8 - unsigned(bpp) * (1 + unsigned(x) % perByte);
                const unsigned index = (src[unsigned(x) / perByte] >> shift) & mask;
                if (index >= palette.size()) badIndex(index, palette.size());
                dst[3 * x] = palette[index].b, dst[3 * x + 1] = palette[index].g,
                        dst[3 * x + 2] = palette[index].r;
            }
        } else {
            const std::size_t bytesPerPixel = std::size_t(bpp) / 8;
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = src + std::size_t(x) * bytesPerPixel;
                std::uint32_t pixel = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
                if (bpp == 32) pixel |= std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
                dst[3 * x] = channels[2](pixel), dst[3 * x + 1] = channels[1](pixel),
                        dst[3 * x + 2] = channels[0](pixel);
            }
        }
    }
}

// RLE8 and RLE4: rows bottom-up; pixels the stream skips (delta, early end of line or
// of bitmap) stay black. Without a picture the stream is only checked, so that a bad
// stream is refused before a large picture is allocated for it.
void decodeRle(
    std::span<const std::uint8_t> bytes, const Header& h, const std::vector<Bgr>& palette, Picture* picture)
{
    const bool rle4 = h.compression == kRle4;
    const std::size_t end = h.sizeImage != 0 ? h.offBits + std::size_t(h.sizeImage) : bytes.size();
    const std::int64_t width = h.width, height = h.height;
    std::size_t pos = h.offBits;
    std::int64_t x = 0, y = 0;
    const auto put = [&](unsigned index) {
        if (y >= height) invalid("the RLE data runs past the edge of the image");
        if (index >= palette.size()) badIndex(index, palette.size());
        // Some writers let a run cover the row's padding; those pixels are dropped.
        if (x < width && picture != nullptr) {
            std::uint8_t* dst = picture->bits() + std::size_t(y) * picture->stride() + 3 * std::size_t(x);
            dst[0] = palette[index].b, dst[1] = palette[index].g, dst[2] = palette[index].r;
        }
        ++x;
    };
    const auto need = [&](std::size_t n) {
        if (end - pos < n) invalid("the RLE data ends without an end-of-bitmap mark");
    };
    for (;;) {
        need(2);
        const unsigned count = bytes[pos], value = bytes[pos + 1];
        pos += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i)
                put(rle4 ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            need(2);
            x += bytes[pos];
            y += bytes[pos + 1];
            pos += 2;
            if (x > width || y > height) invalid("an RLE delta moves past the edge of the image");
        } else {
            const std::size_t dataBytes = rle4 ? (value + 1) / 2 : value;
            need(dataBytes + dataBytes % 2);
            for (unsigned i = 0; i < value; ++i) {
                const unsigned byte = bytes[pos + (rle4 ? i / 2 : i)];
                put(rle4 ? (i % 2 == 0 ? byte >> 4 : byte & 15) : byte);
            }
            pos += dataBytes + dataBytes % 2;
        }
    }
}

void putLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

} // namespace

PictureRef decodeBmp(std::span<const std::uint8_t> bytes, const PixelLimit& limit)
{
    const Header h = readHeader(bytes);
    if (h.compression == kJpeg || h.compression == kPng) {
        const std::size_t size = h.sizeImage != 0 ? h.sizeImage : bytes.size() - h.offBits;
        const auto inner = bytes.subspan(h.offBits, size);
        return h.compression == kJpeg ? decodeJpeg(inner, limit) : decodePng(inner, limit);
    }
    // Everything the header promises is checked before the pixel memory is allocated.
    // Uncompressed rows must all be there. RLE has no such bound: an end-of-bitmap mark in
    // two bytes leaves every remaining pixel black, so a few bytes may rightly describe any
    // canvas, and only the pixel budget stands between such a file and the memory.
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    if (!rle) checkUncompressedSize(bytes, h);
    checkPixelBudget(h.width, h.height, limit);
    std::vector<Bgr> palette;
    if (h.bitCount <= 8) palette = readPalette(bytes, h);
    std::vector<Channel> channels;
    if (h.bitCount == 16 || h.bitCount == 32) channels = readChannels(h);
    if (rle) decodeRle(bytes, h, palette, nullptr);
    PictureRef picture = Picture::create(int(h.width), int(h.height), h.bitCount, h.topDown);
    if (rle)
        decodeRle(bytes, h, palette, picture.get());
    else
        decodeUncompressed(bytes, h, palette, channels, *picture);
    if (!palette.empty()) {
        // Palette pixels are expanded here; a palette of greys makes a grey picture.
        const bool grey = std::all_of(
            palette.begin(), palette.end(), [](const Bgr& c) { return c.b == c.g && c.g == c.r; });
        picture->setSampleFormat({grey ? 1 : 3, false, 8, true});
    }
    picture->source().known = true;
    picture->source().format = ImageFormat::Bmp;
    return picture;
}

std::vector<std::uint8_t> encodeBmp(const Picture& picture)
{
    const std::size_t stride = picture.stride();
    const std::size_t imageSize = stride * std::size_t(picture.height());
    const std::size_t headers = kFileHeaderSize + 40;
    std::vector<std::uint8_t> out;
    out.reserve(headers + imageSize);
    out.push_back('B');
    out.push_back('M');
    putLe(out, std::uint32_t(headers + imageSize), 4);
    putLe(out, 0, 4); // reserved
    putLe(out, std::uint32_t(headers), 4);
    putLe(out, 40, 4);
    putLe(out, std::uint32_t(picture.width()), 4);
    putLe(out, std::uint32_t(picture.height()), 4); // positive: bottom row first
    putLe(out, 1, 2); // planes
    putLe(out, 24, 2); // bits per pixel
    putLe(out, kRgb, 4);
    putLe(out, std::uint32_t(imageSize), 4);
    putLe(out, 2835, 4); // 72 dots per inch
    putLe(out, 2835, 4);
    putLe(out, 0, 4); // colours used
    putLe(out, 0, 4); // important colours
    out.resize(headers + imageSize); // padding bytes stay zero
    const std::size_t rowBytes = 3 * std::size_t(picture.width());
    for (int fileRow = 0; fileRow < picture.height(); ++fileRow) {
        const int stored = picture.storedRow(picture.height() - 1 - fileRow);
        std::memcpy(out.data() + headers + std::size_t(fileRow) * stride,
            picture.bits() + std::size_t(stored) * stride, rowBytes);
    }
    return out;
}

} // namespace pelinor
