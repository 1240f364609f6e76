#include "image/picture.h"

#include "base/error.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace pelinor {

std::shared_ptr<Picture> Picture::create(int width, int height, int bitsPerPixel, bool topDown)
{
    if (width < 1 || height < 1)
        throw Error(
            err::InvalidCall, "Invalid procedure call: a picture of " + sizeText(width, height) + " pixels");
    if (bitsPerPixel < 1 || bitsPerPixel > 64)
        throw Error(
            err::InvalidCall, "Invalid procedure call: " + std::to_string(bitsPerPixel) + " bits per pixel");
    if (!withinPixelLimit(width, height))
        throw Error(err::OutOfMemory,
            "Out of memory: a picture of " + sizeText(width, height) + " pixels exceeds the pixel limit of "
                + std::to_string(kMaxPixelBytes >> 20) + " MiB");
    const std::size_t stride = strideFor(width);
    std::shared_ptr<Picture> picture(new Picture);
    picture->m_bits
        = allocateElements<std::uint8_t, AlignedAllocator<std::uint8_t>>(stride, std::size_t(height));
    picture->m_width = width;
    picture->m_height = height;
    picture->m_bitsPerPixel = bitsPerPixel;
    picture->m_topDown = topDown;
    picture->m_stride = stride;
    return picture;
}

std::shared_ptr<Picture> Picture::clone() const
{
    std::shared_ptr<Picture> copy = create(m_width, m_height, m_bitsPerPixel, m_topDown);
    copy->m_bits = m_bits;
    copy->m_format = m_format;
    copy->m_alpha8 = m_alpha8;
    copy->m_samples16 = m_samples16;
    copy->m_metadata = m_metadata;
    copy->m_source = m_source;
    return copy;
}

void Picture::setSampleFormat(const SampleFormat& format)
{
    if ((format.colours != 1 && format.colours != 3) || (format.depth != 8 && format.depth != 16))
        throw Error(err::InvalidCall,
            "Invalid sample format: " + std::to_string(format.colours) + " colours of "
                + std::to_string(format.depth) + " bits");
    const std::size_t pixels = std::size_t(m_width) * std::size_t(m_height);
    std::vector<std::uint8_t> alpha;
    std::vector<std::uint16_t> samples;
    if (format.depth == 16)
        samples = allocateElements<std::uint16_t>(pixels, std::size_t(format.channels()));
    else if (format.alpha)
        alpha = allocateElements<std::uint8_t>(pixels, 1);
    m_alpha8 = std::move(alpha);
    m_samples16 = std::move(samples);
    m_format = format;
}

void Picture::refreshFromSamples16() noexcept
{
    if (m_samples16.empty()) return;
    const int channels = m_format.channels();
    for (int y = 0; y < m_height; ++y) {
        const std::uint16_t* src
            = m_samples16.data() + std::size_t(y) * std::size_t(m_width) * std::size_t(channels);
        std::uint8_t* dst = m_bits.data() + std::size_t(y) * m_stride;
        for (int x = 0; x < m_width; ++x, src += channels, dst += 3) {
            if (m_format.colours == 1) {
                dst[0] = dst[1] = dst[2] = reduceTo8(src[0]);
            } else {
                dst[0] = reduceTo8(src[2]);
                dst[1] = reduceTo8(src[1]);
                dst[2] = reduceTo8(src[0]);
            }
        }
    }
}

bool withinPixelLimit(std::int64_t width, std::int64_t height) noexcept
{
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return false;
    return Picture::strideFor(int(width)) <= kMaxPixelBytes / std::uint64_t(height);
}

void throwOverPixelLimit(std::int64_t width, std::int64_t height)
{
    throw Error(err::InvalidPicture,
        "Invalid picture: " + sizeText(width, height) + " pixels is larger than the pixel limit of "
            + std::to_string(kMaxPixelBytes >> 20) + " MiB");
}

// "357", "0.5", "150.3": whole megapixels when exact, else one decimal (four significant digits below one).
std::string megapixelText(std::int64_t pixels)
{
    if (pixels % 1000000 == 0) return std::to_string(pixels / 1000000);
    char text[32];
    std::snprintf(text, sizeof text, pixels < 1000000 ? "%.4g" : "%.1f", double(pixels) / 1e6);
    return text;
}

void checkPixelBudget(std::int64_t width, std::int64_t height, const PixelLimit& limit)
{
    // Header values fit in 32 bits, so the product cannot overflow.
    const std::int64_t pixels = std::max<std::int64_t>(width, 0) * std::max<std::int64_t>(height, 0);
    if (pixels > limit.max)
        throw Error(err::PixelBudget,
            "Out of memory: a " + sizeText(width, height) + " picture (" + megapixelText(pixels)
                + " megapixels) is over the limit of " + megapixelText(limit.max) + " megapixels");
    if (limit.admit) limit.admit(pixels);
}

std::uint64_t largestPictureFile(std::int64_t maxPixels) noexcept
{
    const std::uint64_t ceiling = kMaxPixelBytes + kMaxMetadataBlock;
    const std::uint64_t pixels = std::uint64_t(std::clamp<std::int64_t>(maxPixels, 0, std::int64_t(ceiling)));
    return std::min(ceiling, pixels * 16 + kMaxMetadataBlock + (std::uint64_t(1) << 20));
}

bool is24Bit(const Picture* picture) noexcept
{
    return picture != nullptr && picture->bitsPerPixel() == 24;
}

void require24Bit(const Picture& picture)
{
    if (!is24Bit(&picture)) throw Error(err::Not24Bit, std::string(kOnly24BitText));
}

ConstByteView openView(const Picture& picture)
{
    require24Bit(picture);
    return openColourView(picture);
}

ByteView openView(Picture& picture)
{
    require24Bit(picture);
    return openColourView(picture);
}

ConstByteView openColourView(const Picture& picture) noexcept
{
    return ConstByteView(picture.bits(), 3 * picture.width(), picture.height(), picture.stride());
}

ByteView openColourView(Picture& picture) noexcept
{
    return ByteView(picture.bits(), 3 * picture.width(), picture.height(), picture.stride());
}

const char* formatName(ImageFormat format) noexcept
{
    switch (format) {
    case ImageFormat::Png:
        return "PNG";
    case ImageFormat::Jpeg:
        return "JPEG";
    case ImageFormat::Tiff:
        return "TIFF";
    case ImageFormat::WebP:
        return "WebP";
    case ImageFormat::Bmp:
        break;
    }
    return "BMP";
}

std::string channelsName(const SampleFormat& format)
{
    if (format.colours == 1) return format.alpha ? "grey + alpha" : "grey";
    return format.alpha ? "RGBA" : "RGB";
}

} // namespace pelinor
