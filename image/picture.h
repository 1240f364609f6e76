// Pictures: shared, reference-counted bitmaps.
#pragma once

#include "image/picture_format.h"
#include "obrada/array2d.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelinor {

// The refusal every user of a pixel view shows; the leading blank belongs to it.
inline constexpr std::string_view kOnly24BitText = " 24-bit bitmaps only";

// Every picture holds its pixels as 24-bit blue-green-red rows padded to
// stride = 4 * ((3 * width + 3) / 4) bytes, in the order the source stored them
// (bottom row first for an ordinary BMP; see topDown()). bitsPerPixel() is the
// depth of the source, which is what the 24-bit check looks at: a picture from an
// 8-bit or 32-bit file is shown from the same 24-bit memory but refused for watermarking.
class Picture {
public:
    // A zero-filled picture. width, height >= 1; throws error 7 beyond the pixel limit.
    static std::shared_ptr<Picture> create(
        int width, int height, int bitsPerPixel = 24, bool topDown = false);

    int width() const noexcept { return m_width; }
    int height() const noexcept { return m_height; }
    int bitsPerPixel() const noexcept { return m_bitsPerPixel; }
    bool topDown() const noexcept { return m_topDown; }
    std::size_t stride() const noexcept { return m_stride; }
    std::uint8_t* bits() noexcept { return m_bits.data(); }
    const std::uint8_t* bits() const noexcept { return m_bits.data(); }
    std::size_t byteCount() const noexcept { return m_bits.size(); }

    // Stored row that holds the visual row `visualRow` (0 = top of the image).
    int storedRow(int visualRow) const noexcept { return m_topDown ? visualRow : m_height - 1 - visualRow; }

    std::shared_ptr<Picture> clone() const;

    static std::size_t strideFor(int width) noexcept { return 4 * ((3 * std::size_t(width) + 3) / 4); }

    // The samples beyond the 24-bit memory (picture_format.h). A new picture is 8-bit colour.
    const SampleFormat& sampleFormat() const noexcept { return m_format; }
    // Sets the format and sizes the planes it needs, zero-filled (error 7 beyond memory).
    void setSampleFormat(const SampleFormat& format);
    // 8-bit alpha, one byte a pixel, rows in stored order; null unless 8-bit with alpha.
    std::uint8_t* alpha8() noexcept { return m_alpha8.empty() ? nullptr : m_alpha8.data(); }
    const std::uint8_t* alpha8() const noexcept { return m_alpha8.empty() ? nullptr : m_alpha8.data(); }
    // 16-bit samples, channels() a pixel (grey or red, green, blue; then alpha), rows in
    // stored order without padding; null unless 16-bit.
    std::uint16_t* samples16() noexcept { return m_samples16.empty() ? nullptr : m_samples16.data(); }
    const std::uint16_t* samples16() const noexcept
    {
        return m_samples16.empty() ? nullptr : m_samples16.data();
    }
    // The 24-bit memory made anew from the 16-bit samples, each to its nearest 8-bit value.
    void refreshFromSamples16() noexcept;

    Metadata& metadata() noexcept { return m_metadata; }
    const Metadata& metadata() const noexcept { return m_metadata; }
    SourceInfo& source() noexcept { return m_source; }
    const SourceInfo& source() const noexcept { return m_source; }

private:
    Picture() = default;
    int m_width = 0;
    int m_height = 0;
    int m_bitsPerPixel = 24;
    bool m_topDown = false;
    std::size_t m_stride = 0;
    std::vector<std::uint8_t, AlignedAllocator<std::uint8_t>> m_bits;
    SampleFormat m_format;
    std::vector<std::uint8_t> m_alpha8;
    std::vector<std::uint16_t> m_samples16;
    Metadata m_metadata;
    SourceInfo m_source;
};

using PictureRef = std::shared_ptr<Picture>;

// Largest pixel memory a picture may have; headers asking for more are refused.
inline constexpr std::size_t kMaxPixelBytes = std::size_t(1) << 30;

// True when a width x height picture (any values, as a file header gives them) has
// between 1 and kMaxPixelBytes bytes of pixel memory.
bool withinPixelLimit(std::int64_t width, std::int64_t height) noexcept;
// Error 481 naming the size, for a file whose header asks for more than the limit.
[[noreturn]] void throwOverPixelLimit(std::int64_t width, std::int64_t height);

// The memory budget of a whole command, as the largest picture it takes, in pixels. Embedding,
// detection and the desktop window hold some 12 to 22 bytes a pixel at their peak (the
// picture, its copies, the luminance and its transform in doubles); 150 megapixels keeps that
// near 3 GB, so a 100-megapixel photograph goes through on a machine with 8 GB. Commands pass
// their own limit down (pelinor-cli --max-pixels); kMaxPixelBytes stays the absolute ceiling.
inline constexpr std::int64_t kDefaultMaxPixels = 150'000'000;

// The limit a decoder works under: at most `max` pixels. When `admit` is set it is called
// with the picture's pixel count once the header passed that limit, still before any pixel
// is allocated: jobs sharing one budget wait there until their picture fits (pixel_budget.h).
struct PixelLimit {
    std::int64_t max = kDefaultMaxPixels;
    std::function<void(std::int64_t pixels)> admit;

    PixelLimit(std::int64_t maxPixels = kDefaultMaxPixels) // NOLINT: a bare number is a limit
        : max(maxPixels)
    {
    }
    PixelLimit(std::int64_t maxPixels, std::function<void(std::int64_t pixels)> admitPixels)
        : max(maxPixels)
        , admit(std::move(admitPixels))
    {
    }
};

// A number of pixels in megapixels as the refusals give it: "150", "10.5", "0.0012".
std::string megapixelText(std::int64_t pixels);

// Error err::PixelBudget naming the size and the limit when a width x height picture has more
// than limit.max pixels; otherwise the limit admits it. Decoders call it from the header, before
// any pixel is allocated. The text reads "Out of memory: a W x H picture (P megapixels) is over
// the limit of M megapixels".
void checkPixelBudget(std::int64_t width, std::int64_t height, const PixelLimit& limit);

// The largest file a picture of at most maxPixels pixels can need: twice the deepest layout
// the decoders take (16-bit RGBA, 8 bytes a pixel) for compressions that grow noisy data,
// the metadata bound and a megabyte of headers; never more than the ceiling of any picture.
std::uint64_t largestPictureFile(std::int64_t maxPixels) noexcept;

bool is24Bit(const Picture* picture) noexcept;
// The refusal of every watermarking step: Error(err::Not24Bit, kOnly24BitText) unless 24-bit.
void require24Bit(const Picture& picture);

// A view over a 24-bit picture's own memory: bounds 0..3*width-1, 0..height-1, no copy;
// writable only over a picture that is. Throws Error(err::Not24Bit, kOnly24BitText) for any
// other depth.
ConstByteView openView(const Picture& picture);
ByteView openView(Picture& picture);
// The same views over the 24-bit memory of a picture of any depth.
ConstByteView openColourView(const Picture& picture) noexcept;
ByteView openColourView(Picture& picture) noexcept;

// The nearest 8-bit value of a 16-bit sample (v * 255 / 65535, rounded).
inline std::uint8_t reduceTo8(std::uint16_t v) noexcept
{
    return std::uint8_t((std::uint32_t(v) * 255 + 32767) / 65535);
}

} // namespace pelinor
