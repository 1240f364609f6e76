// Reals stored as bytes, and how far two runs of bytes lie apart.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace pelinor {

// Limits to 0..255, then rounds to the nearest whole number with ties to even: how every
// real result is stored as a byte. Adding and removing 1.5 * 2^52 leaves exactly that whole
// number under the default rounding mode, as std::nearbyint would, without a library call
// per byte. A NaN fails both comparisons and becomes 0, like any value below the range.
inline std::uint8_t limitAndRound(double v) noexcept
{
    constexpr double kRound = 6755399441055744.0;
    v = v > 255.0 ? 255.0 : v;
    v = v >= 0.0 ? v : 0.0;
    return static_cast<std::uint8_t>(static_cast<int>((v + kRound) - kRound));
}

// The sum of (a[k] - b[k])^2 over n bytes.
inline std::uint64_t squaredDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) noexcept
{
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const int d = int(a[k]) - int(b[k]);
        sum += std::uint64_t(d * d);
    }
    return sum;
}

// Peak signal-to-noise ratio in dB of `count` bytes whose squared differences add up to
// sumSquares; infinity when they are all equal.
inline double psnrFromSquaredError(double sumSquares, double count)
{
    if (sumSquares <= 0.0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 * count / sumSquares);
}

} // namespace pelinor
