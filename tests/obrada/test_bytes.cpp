// Reals to bytes, and the PSNR of two runs of bytes.
#include "obrada/bytes.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace pelinor {
namespace {

TEST(Bytes, LimitThenRoundHalfToEvenAndNaNToZero)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int byte;
    } cases[] = {{-0.2, 0}, {-0.0, 0}, {-1e300, 0}, {-inf, 0}, {0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4},
        {127.49999999999999, 127}, {253.5, 254}, {254.5, 254}, {254.6, 255}, {255.5, 255}, {300, 255},
        {1e300, 255}, {inf, 255}, {std::nan(""), 0}, {-std::nan(""), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(limitAndRound(c.value), c.byte) << c.value;
    // Every value the colour conversion and the embedding can meet agrees with the library's rounding.
    for (double v = -3.0; v <= 258.0; v += 0.125)
        EXPECT_EQ(limitAndRound(v), int(std::nearbyint(std::fmin(255.0, std::fmax(0.0, v))))) << v;
}

TEST(Bytes, SquaredDifferenceAndPsnr)
{
    const std::vector<std::uint8_t> a{0, 10, 255, 7}, b{3, 10, 0, 7};
    EXPECT_EQ(squaredDifference(a.data(), b.data(), a.size()), 9u + 255u * 255u);
    EXPECT_EQ(squaredDifference(a.data(), a.data(), a.size()), 0u);
    EXPECT_EQ(psnrFromSquaredError(0.0, 4.0), std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(psnrFromSquaredError(100.0, 1.0), 10 * std::log10(255.0 * 255.0 / 100.0));
    EXPECT_DOUBLE_EQ(psnrFromSquaredError(4.0 * 255 * 255, 4.0), 0.0); // every byte off by the whole range
}

} // namespace
} // namespace pelinor
