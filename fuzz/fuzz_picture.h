// What every picture fuzz target checks: the decoder either refuses the input with a
// pelinor::Error or returns a picture whose memory matches its size.
#pragma once

#include "base/error.h"
#include "image/picture.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace pelinor::fuzz {

// The pixel budget the targets decode under: small, so that a few bytes claiming a large
// but allowed picture are refused from the header (the budget's own path) instead of
// costing the fuzzer seconds of decoding.
inline constexpr std::int64_t kMaxPixels = std::int64_t(1) << 22;

template <class Decode> int checkDecoder(Decode decode, const std::uint8_t* data, std::size_t size)
{
    PictureRef picture;
    try {
        picture = decode(std::span<const std::uint8_t>(data, size), kMaxPixels);
    } catch (const Error&) {
        return 0;
    }
    if (!picture || picture->width() < 1 || picture->height() < 1
        || picture->stride() != Picture::strideFor(picture->width())
        || picture->byteCount() < picture->stride() * static_cast<std::size_t>(picture->height()))
        __builtin_trap();
    // Touch both ends of the pixel memory so that the address sanitizer checks them.
    volatile std::uint8_t ends = picture->bits()[0] ^ picture->bits()[picture->byteCount() - 1];
    (void)ends;
    const std::size_t pixels = std::size_t(picture->width()) * std::size_t(picture->height());
    if (picture->samples16()) {
        volatile std::uint16_t last
            = picture->samples16()[pixels * std::size_t(picture->sampleFormat().channels()) - 1];
        (void)last;
    }
    if (picture->alpha8()) {
        volatile std::uint8_t last = picture->alpha8()[pixels - 1];
        (void)last;
    }
    return 0;
}

} // namespace pelinor::fuzz
