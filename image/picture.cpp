#include "image/picture.h"

#include "base/error.h"

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
    return copy;
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

bool is24Bit(const Picture* picture) noexcept
{
    return picture != nullptr && picture->bitsPerPixel() == 24;
}

void require24Bit(const Picture& picture)
{
    if (!is24Bit(&picture)) throw Error(err::Not24Bit, std::string(kOnly24BitText));
}

ByteView openView(const Picture& picture)
{
    require24Bit(picture);
    // A view writes into the picture by design; the picture object itself is not changed.
    auto* base = const_cast<std::uint8_t*>(picture.bits());
    return ByteView(base, 3 * picture.width(), picture.height(), picture.stride());
}

} // namespace pelinor
