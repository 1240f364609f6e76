// Small synthetic pictures for the robustness lab's tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>

#include "image/picture.h"
#include "obrada/error.h"

namespace pelinor::testing {

// value(x, y, channel) with y = 0 the top row and channel 0 = blue.
inline PictureRef makePicture(
    int w, int h, const std::function<int(int, int, int)>& value, bool topDown = false)
{
    PictureRef p = Picture::create(w, h, 24, topDown);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = p->bits() + p->stride() * std::size_t(p->storedRow(y));
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) row[3 * x + c] = static_cast<std::uint8_t>(value(x, y, c));
    }
    return p;
}

inline int pixel(const Picture& p, int x, int y, int c)
{
    return p.bits()[p.stride() * std::size_t(p.storedRow(y)) + 3 * std::size_t(x) + std::size_t(c)];
}

// A smooth, photograph-like picture with texture at several scales.
inline PictureRef texturedPicture(int w, int h, bool topDown = false)
{
    return makePicture(
        w, h,
        [](int x, int y, int c) {
            const double v = 128 + 60 * std::sin(x * 0.07 + c) * std::cos(y * 0.05)
                + 30 * std::sin(x * 0.31 + y * 0.23) + 15 * std::cos(x * 0.9 - y * 0.7 + c);
            return int(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
        },
        topDown);
}

inline bool samePixels(const Picture& a, const Picture& b)
{
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 3; ++c)
                if (pixel(a, x, y, c) != pixel(b, x, y, c)) return false;
    return true;
}

// The error number f throws, 0 if none.
inline int errorNumber(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

}  // namespace pelinor::testing
