// What every picture fuzz target checks: the decoder either refuses the input with a
// pelinor::Error or returns a picture whose memory matches its size and can be read whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/picture.h"
#include "obrada/error.h"

namespace pelinor::fuzz {

template <class Decode>
int checkDecoder(Decode decode, const std::uint8_t* data, std::size_t size)
{
    PictureRef picture;
    try {
        picture = decode(std::span<const std::uint8_t>(data, size));
    } catch (const Error&) {
        return 0;
    }
    if (!picture || picture->width() < 1 || picture->height() < 1 ||
        picture->stride() != Picture::strideFor(picture->width()) ||
        picture->byteCount() < picture->stride() * static_cast<std::size_t>(picture->height()))
        __builtin_trap();
    // Reading every byte lets the sanitizers see uninitialised or short pixel memory.
    unsigned sum = 0;
    for (std::size_t i = 0; i < picture->byteCount(); ++i) sum += picture->bits()[i];
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}

}  // namespace pelinor::fuzz
