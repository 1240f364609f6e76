#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "obrada/colour.h"

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
std::uint8_t literalByte(double v)
{
    return static_cast<std::uint8_t>(std::nearbyint(std::clamp(v, 0.0, 255.0)));
}

Triple literalToPlanes(int b, int g, int r)
{
    const double B = b, G = g, R = r;
    const double y = (0.299 * R + 0.587 * G) + 0.114 * B;
    const double cb = ((-0.1687 * R - 0.33126 * G) + 0.5 * B) + 128;
    const double cr = ((0.5 * R - 0.41869 * G) - 0.08131 * B) + 128;
    return {literalByte(y), literalByte(cb), literalByte(cr)};
}

Triple literalToPixel(int y, int cbByte, int crByte)
{
    const double Y = y, Cb = cbByte - 128, Cr = crByte - 128;
    const double r = 1.402 * Cr + Y;
    const double g = (Y - 0.34414 * Cb) - 0.71414 * Cr;
    const double b = 1.772 * Cb + Y;
    return {literalByte(b), literalByte(g), literalByte(r)};
}

// A 4096 x 4096 pixel array holding every colour once: pixel k has b, g, r = the bytes of k.
ByteArray2D everyTriple()
{
    ByteArray2D a(3 * 4096, 4096);
    std::uint8_t* p = a.data();
    for (std::uint32_t k = 0; k < (1u << 24); ++k) {
        p[3 * k] = std::uint8_t(k);
        p[3 * k + 1] = std::uint8_t(k >> 8);
        p[3 * k + 2] = std::uint8_t(k >> 16);
    }
    return a;
}

Triple at(const ByteArray2D& a, int x, int y)
{
    return {a.at(3 * x, y), a.at(3 * x + 1, y), a.at(3 * x + 2, y)};
}

struct ColourCase {
    Triple in;
    Triple out;
    bool toPlanes;
};

TEST(Colour, KnownColours)
{
    const ColourCase cases[] = {
        {{0, 0, 0}, {0, 128, 128}, true},
        {{255, 255, 255}, {255, 128, 128}, true},
        {{255, 0, 0}, {29, 255, 107}, true},
        {{0, 0, 255}, {76, 85, 255}, true},
        {{255, 255, 0}, {179, 171, 0}, true},
        {{128, 128, 128}, {128, 128, 128}, true},
        {{0, 128, 128}, {0, 0, 0}, false},
        {{255, 128, 128}, {255, 255, 255}, false},
        {{0, 0, 0}, {0, 135, 0}, false},
        {{255, 255, 255}, {255, 121, 255}, false},
    };
    for (const ColourCase& c : cases) {
        ByteArray2D src(3, 1);
        for (int k = 0; k < 3; ++k) src.at(k, 0) = std::uint8_t(c.in[std::size_t(k)]);
        ByteArray2D dst;
        if (c.toPlanes) {
            PretvoriUYCbCr(src.view(), dst);
        } else {
            dst.resize(3, 1);
            PretvoriURGB(src, dst.view());
        }
        EXPECT_EQ(at(dst, 0, 0), c.out) << c.in[0] << " " << c.in[1] << " " << c.in[2];
    }
    // Pure blue does not come back unchanged.
    ByteArray2D blue(3, 1), planes, back(3, 1);
    blue.at(0, 0) = 255;
    PretvoriUYCbCr(blue.view(), planes);
    PretvoriURGB(planes, back.view());
    EXPECT_EQ(at(back, 0, 0), (Triple{254, 0, 0}));
}

TEST(Colour, EveryColourMatchesFormulasAndRoundTripsWithinOne)
{
    ByteArray2D pixels = everyTriple();
    ByteArray2D planes;
    PretvoriUYCbCr(pixels.view(), planes);
    ASSERT_EQ(planes.n1(), pixels.n1());
    ASSERT_EQ(planes.n2(), pixels.n2());
    ByteArray2D back(pixels.n1(), pixels.n2());
    PretvoriURGB(planes, back.view());

    long long mismatches = 0, unchanged = 0;
    int maxMove = 0;
    const std::uint8_t* p = pixels.data();
    const std::uint8_t* c = planes.data();
    const std::uint8_t* q = back.data();
    for (std::size_t k = 0; k < (std::size_t(1) << 24); ++k) {
        const std::size_t i = 3 * k;
        const Triple expected = literalToPlanes(p[i], p[i + 1], p[i + 2]);
        if (expected != Triple{c[i], c[i + 1], c[i + 2]}) ++mismatches;
        int move = 0;
        for (int ch = 0; ch < 3; ++ch) move = std::max(move, std::abs(int(p[i + ch]) - int(q[i + ch])));
        maxMove = std::max(maxMove, move);
        if (move == 0) ++unchanged;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(maxMove, 1);
    // About a quarter: the exact count is pinned so any change in the arithmetic shows.
    EXPECT_EQ(unchanged, 3999844) << unchanged;
    RecordProperty("unchanged", std::to_string(unchanged));
}

TEST(Colour, EveryPlaneTripleMatchesInverseFormulas)
{
    // The same array read as (Y, Cb, Cr) triples covers every possible plane value.
    ByteArray2D planes = everyTriple();
    ByteArray2D pixels(planes.n1(), planes.n2());
    PretvoriURGB(planes, pixels.view());
    long long mismatches = 0;
    const std::uint8_t* c = planes.data();
    const std::uint8_t* p = pixels.data();
    for (std::size_t i = 0; i < planes.n1() * std::size_t(planes.n2()); i += 3)
        if (literalToPixel(c[i], c[i + 1], c[i + 2]) != Triple{p[i], p[i + 1], p[i + 2]}) ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

TEST(Colour, DestinationSmallerThanSourceIsRefusedBeforeWriting)
{
    ByteArray2D planes(6, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x) planes.at(x, y) = std::uint8_t(40 * x + y);
    for (auto [w, h] : {std::pair{3, 3}, {6, 2}, {5, 3}, {0, 0}}) {
        std::vector<std::uint8_t> memory(64, 0xAB);
        ByteView dst(memory.data(), w, h, 8);
        try {
            PretvoriURGB(planes, dst);
            FAIL() << w << "x" << h;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::SubscriptOutOfRange);
        }
        EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](std::uint8_t b) { return b == 0xAB; }));
    }
}

TEST(Colour, LargerPaddedDestinationIsWrittenOnlyOverTheSource)
{
    ByteArray2D planes(3, 2);
    planes.at(0, 0) = 255, planes.at(1, 0) = 128, planes.at(2, 0) = 128;  // white
    planes.at(0, 1) = 0, planes.at(1, 1) = 128, planes.at(2, 1) = 128;    // black
    std::vector<std::uint8_t> memory(3 * 8, 0xAB);
    ByteView dst(memory.data(), 6, 3, 8);
    PretvoriURGB(planes, dst);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x) {
            const std::uint8_t expected = y == 0 && x < 3 ? 255 : y == 1 && x < 3 ? 0 : 0xAB;
            EXPECT_EQ(memory[std::size_t(8 * y + x)], expected) << x << "," << y;
        }
}

TEST(Colour, PartialPixelIsRefusedAndLeavesPlanesAlone)
{
    ByteArray2D pixels(4, 2);
    ByteArray2D planes(3, 1);
    planes.at(0, 0) = 7;
    for (int direction = 0; direction < 2; ++direction) {
        try {
            if (direction == 0)
                PretvoriUYCbCr(pixels.view(), planes);
            else
                PretvoriURGB(pixels, planes.view());
            FAIL();
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::SubscriptOutOfRange);
        }
        EXPECT_EQ(planes.n1(), 3);
        EXPECT_EQ(planes.at(0, 0), 7);
    }
}

TEST(Colour, PlanesTooLargeForMemoryAreOutOfMemory)
{
#if defined(PELINOR_ASAN)
    GTEST_SKIP() << "AddressSanitizer aborts on allocations this large instead of failing them";
#endif
    std::uint8_t pixel[3] = {1, 2, 3};
    const ByteView huge(pixel, 3 * 600000000, 2000000000, 3 * 600000000);  // never read
    ByteArray2D planes(3, 1);
    try {
        PretvoriUYCbCr(huge, planes);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::OutOfMemory);
    }
    EXPECT_EQ(planes.n1(), 3);
}

TEST(Colour, ConvertsInPlaceAndReshapesPlanes)
{
    // Over a padded picture: planes get the view's bounds, not its stride.
    std::vector<std::uint8_t> picture = {255, 0, 0, 0, 0, 0, 255, 0xEE};  // 2 rows of 1 pixel, stride 4
    ByteView view(picture.data(), 3, 2, 4);
    ByteArray2D planes(30, 30);
    PretvoriUYCbCr(view, planes);
    ASSERT_EQ(planes.n1(), 3);
    ASSERT_EQ(planes.n2(), 2);
    EXPECT_EQ(at(planes, 0, 0), (Triple{29, 255, 107}));
    EXPECT_EQ(at(planes, 0, 1), (Triple{76, 85, 255}));

    // A view of the planes themselves as source and destination.
    PretvoriUYCbCr(planes.view(), planes);
    EXPECT_EQ(at(planes, 0, 0), literalToPlanes(29, 255, 107));
    const Triple before = at(planes, 0, 1);
    PretvoriURGB(planes, planes.view());
    EXPECT_EQ(at(planes, 0, 1), literalToPixel(before[0], before[1], before[2]));

    // Planes of the same size that already hold something are overwritten whole.
    ByteArray2D pixels = everyTriple(), fresh, reused;
    const ByteView small(pixels.data(), 3 * 77, 33, std::size_t(pixels.n1()));
    PretvoriUYCbCr(small, fresh);
    reused.resize(3 * 77, 33);
    std::fill(reused.data(), reused.data() + 3 * 77 * 33, 0x5A);
    PretvoriUYCbCr(small, reused);
    EXPECT_TRUE(std::equal(fresh.data(), fresh.data() + 3 * 77 * 33, reused.data()));

    for (auto [n1, n2] : {std::pair{0, 0}, {0, 5}, {6, 0}}) {
        ByteArray2D empty(n1, n2), out(3, 3);
        PretvoriUYCbCr(empty.view(), out);
        EXPECT_EQ(out.n1(), n1);
        EXPECT_EQ(out.n2(), n2);
        PretvoriURGB(out, empty.view());
    }
}

}  // namespace
}  // namespace pelinor
