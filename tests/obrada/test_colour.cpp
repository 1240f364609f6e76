#include "obrada/colour.h"
#include "tests/test_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define PELINOR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELINOR_ASAN 1
#endif
#endif

namespace pelinor {
namespace {

using Triple = std::array<int, 3>;

// The conversions written out directly, as the reference for the table-driven code.
int literalByte(double v)
{
    return int(std::nearbyint(std::clamp(v, 0.0, 255.0)));
}

Triple literalToPlanes(double b, double g, double r)
{
    return {literalByte((0.299 * r + 0.587 * g) + 0.114 * b),
        literalByte(((-0.1687 * r - 0.33126 * g) + 0.5 * b) + 128),
        literalByte(((0.5 * r - 0.41869 * g) - 0.08131 * b) + 128)};
}

Triple literalToPixel(double y, double cb, double cr)
{
    cb -= 128, cr -= 128;
    return {literalByte(1.772 * cb + y), literalByte((y - 0.34414 * cb) - 0.71414 * cr),
        literalByte(1.402 * cr + y)};
}

Triple at(const ByteArray2D& a, int x, int y)
{
    return {a.at(3 * x, y), a.at(3 * x + 1, y), a.at(3 * x + 2, y)};
}

TEST(Colour, KnownColours)
{
    // Pixels as (B, G, R), planes as (Y, Cb, Cr).
    struct Case {
        Triple in, out;
        bool toPlanes;
    };
    const Case cases[] = {
        {{0, 0, 0}, {0, 128, 128}, true}, {{255, 255, 255}, {255, 128, 128}, true},
        {{255, 0, 0}, {29, 255, 107}, true}, {{0, 0, 255}, {76, 85, 255}, true},
        {{255, 255, 0}, {179, 171, 0}, true}, {{128, 128, 128}, {128, 128, 128}, true},
        {{0, 128, 128}, {0, 0, 0}, false}, {{255, 128, 128}, {255, 255, 255}, false},
        {{0, 0, 0}, {0, 135, 0}, false}, {{255, 255, 255}, {255, 121, 255}, false},
        {{29, 255, 107}, {254, 0, 0}, false}, // pure blue does not come back unchanged
    };
    for (const Case& c : cases) {
        ByteArray2D src(3, 1), dst(3, 1);
        for (int k = 0; k < 3; ++k)
            src.at(k, 0) = std::uint8_t(c.in[std::size_t(k)]);
        if (c.toPlanes)
            PretvoriUYCbCr(src.view(), dst);
        else
            PretvoriURGB(src, dst.view());
        EXPECT_EQ(at(dst, 0, 0), c.out) << c.in[0] << " " << c.in[1] << " " << c.in[2];
    }
}

TEST(Colour, AllColoursMatchTheFormulasAndRoundTripWithinOne)
{
    // 4096 x 4096 pixels holding every colour once: pixel k has b, g, r = the bytes of k.
    ByteArray2D pixels(3 * 4096, 4096), planes, back(3 * 4096, 4096), fromPlanes(3 * 4096, 4096);
    std::uint8_t* p = pixels.data();
    for (std::uint32_t k = 0; k < (1u << 24); ++k)
        p[3 * k] = std::uint8_t(k), p[3 * k + 1] = std::uint8_t(k >> 8), p[3 * k + 2] = std::uint8_t(k >> 16);
    PretvoriUYCbCr(pixels.view(), planes);
    ASSERT_TRUE(planes.n1() == pixels.n1() && planes.n2() == pixels.n2());
    PretvoriURGB(planes, back.view());
    PretvoriURGB(pixels, fromPlanes.view()); // the same bytes read as every (Y, Cb, Cr)
    long long toPlanesWrong = 0, toPixelWrong = 0, unchanged = 0;
    int maxMove = 0;
    const std::uint8_t *c = planes.data(), *q = back.data(), *f = fromPlanes.data();
    for (std::size_t i = 0; i < 3 * (std::size_t(1) << 24); i += 3) {
        toPlanesWrong += literalToPlanes(p[i], p[i + 1], p[i + 2]) != Triple{c[i], c[i + 1], c[i + 2]};
        toPixelWrong += literalToPixel(p[i], p[i + 1], p[i + 2]) != Triple{f[i], f[i + 1], f[i + 2]};
        int move = 0;
        for (std::size_t ch = 0; ch < 3; ++ch)
            move = std::max(move, std::abs(int(p[i + ch]) - int(q[i + ch])));
        maxMove = std::max(maxMove, move);
        unchanged += move == 0;
    }
    EXPECT_EQ(toPlanesWrong, 0);
    EXPECT_EQ(toPixelWrong, 0);
    EXPECT_EQ(maxMove, 1);
    EXPECT_EQ(unchanged, 3999844); // about a quarter; pinned so any change in the arithmetic shows
}

TEST(Colour, BadShapesAreRefusedBeforeWriting)
{
    ByteArray2D planes(6, 3);
    for (auto [w, h] : {std::pair{3, 3}, {6, 2}, {5, 3}, {0, 0}}) { // destinations smaller than the source
        std::vector<std::uint8_t> memory(64, 0xAB);
        test::expectError([&, w = w, h = h] { PretvoriURGB(planes, ByteView(memory.data(), w, h, 8)); },
            err::SubscriptOutOfRange);
        EXPECT_EQ(std::count(memory.begin(), memory.end(), 0xAB), 64);
    }
    // A partial pixel in either direction; the planes are left alone.
    ByteArray2D partial(4, 2), small(3, 1);
    small.at(0, 0) = 7;
    test::expectError([&] { PretvoriUYCbCr(partial.view(), small); }, err::SubscriptOutOfRange);
    test::expectError([&] { PretvoriURGB(partial, small.view()); }, err::SubscriptOutOfRange);
#if !defined(PELINOR_ASAN) // AddressSanitizer aborts on allocations this large instead of failing them
    const ByteView huge(small.data(), 3 * 600000000, 2000000000, 3 * 600000000); // never read
    test::expectError([&] { PretvoriUYCbCr(huge, small); }, err::OutOfMemory);
#endif
    EXPECT_TRUE(small.n1() == 3 && small.at(0, 0) == 7);
}

TEST(Colour, StridesAndEmptyArrays)
{
    // Over a padded picture (2 rows of 1 pixel, stride 4) the planes get the view's bounds,
    // and the way back into a larger padded picture writes only over the source's pixels.
    std::vector<std::uint8_t> picture = {255, 0, 0, 0xEE, 0, 0, 255, 0xEE}, wide(3 * 8, 0xAB);
    ByteArray2D planes(30, 30);
    PretvoriUYCbCr(ByteView(picture.data(), 3, 2, 4), planes);
    ASSERT_TRUE(planes.n1() == 3 && planes.n2() == 2);
    EXPECT_EQ(at(planes, 0, 1), (Triple{76, 85, 255}));
    PretvoriURGB(planes, ByteView(wide.data(), 6, 3, 8));
    std::vector<std::uint8_t> expected(3 * 8, 0xAB);
    expected[0] = expected[10] = 254, expected[1] = expected[2] = expected[8] = expected[9] = 0; // blue, red
    EXPECT_EQ(wide, expected);

    for (auto [n1, n2] : {std::pair{0, 0}, {0, 5}, {6, 0}}) {
        ByteArray2D empty(n1, n2), out(3, 3);
        PretvoriUYCbCr(empty.view(), out);
        EXPECT_TRUE(out.n1() == n1 && out.n2() == n2);
        PretvoriURGB(out, empty.view());
    }
}

} // namespace
} // namespace pelinor
