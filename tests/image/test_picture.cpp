#include "image/picture.h"
#include "image_test_util.h"

#include <gtest/gtest.h>

namespace pelinor {
namespace {

int errorOf(auto&& action)
{
    try {
        action();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

struct LayoutCase {
    int width, height;
    std::size_t stride;
};

class PictureLayout : public ::testing::TestWithParam<LayoutCase> { };

TEST_P(PictureLayout, StrideBoundsAndElementOffsets)
{
    const auto [width, height, stride] = GetParam();
    PictureRef p = Picture::create(width, height);
    EXPECT_EQ(p->stride(), stride);
    EXPECT_EQ(p->byteCount(), stride * std::size_t(height));

    ByteView v = openView(*p);
    EXPECT_EQ(v.upper1(), 3 * width - 1);
    EXPECT_EQ(v.upper2(), height - 1);
    EXPECT_EQ(v.data(), p->bits()); // no copy
    for (int y = 0; y < height; ++y)
        for (int x : {0, 1, 3 * width - 1})
            EXPECT_EQ(&v.at(x, y), p->bits() + std::size_t(y) * stride + std::size_t(x));

    // Checked access stops at the bounds with error 9, padding included.
    for (auto [x, y] : {std::pair{3 * width, 0}, {-1, 0}, {0, height}, {0, -1}})
        EXPECT_EQ(errorOf([&] { v.at(x, y); }), err::SubscriptOutOfRange) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Sizes, PictureLayout,
    ::testing::Values(LayoutCase{1, 1, 4}, LayoutCase{3, 2, 12}, LayoutCase{4, 3, 12}, LayoutCase{5, 1, 16},
        LayoutCase{127, 64, 384}, LayoutCase{2, 5, 8}));

TEST(PixelView, ThreePixelsWideRowsAreTwelveBytesApart)
{
    PictureRef p = Picture::create(3, 2);
    ByteView v = openView(*p);
    EXPECT_EQ(v.upper1(), 8);
    v.at(0, 1) = 0xab;
    EXPECT_EQ(p->bits()[12], 0xab);
    for (std::size_t i = 9; i < 12; ++i)
        EXPECT_EQ(p->bits()[i], 0) << "padding byte " << i;
}

TEST(PixelView, WritesAreSeenByEveryHolderAndSurviveRelease)
{
    PictureRef shown = Picture::create(2, 2);
    PictureRef sameObject = shown;
    ByteView v = openView(*shown);
    v.at(0, 0) = 200; // blue of the first pixel of the first stored row
    v.at(5, 1) = 17;
    EXPECT_EQ(sameObject->bits()[0], 200);
    EXPECT_EQ(queryBitmap(sameObject.get()).bits[8 + 5], 17);

    v.release();
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(v.upper1(), -1);
    EXPECT_EQ(errorOf([&] { v.at(0, 0); }), err::SubscriptOutOfRange);
    EXPECT_EQ(shown->bits()[0], 200);
    EXPECT_EQ(shown->bits()[13], 17);
}

TEST(PixelView, OnlyTwentyFourBitPicturesOpen)
{
    for (int bpp : {1, 4, 8, 16, 32, 48}) {
        PictureRef p = Picture::create(4, 4, bpp);
        EXPECT_FALSE(is24Bit(p.get()));
        try {
            openView(*p);
            FAIL() << bpp;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::Not24Bit);
            EXPECT_STREQ(e.what(), " 24-bit bitmaps only");
        }
    }
    EXPECT_TRUE(is24Bit(Picture::create(1, 1).get()));
    EXPECT_FALSE(is24Bit(nullptr));
}

TEST(Picture, BitmapRecordOfAPictureAndOfNone)
{
    PictureRef p = Picture::create(5, 7, 8);
    const BitmapRecord r = queryBitmap(p.get());
    EXPECT_EQ(r.width, 5);
    EXPECT_EQ(r.height, 7);
    EXPECT_EQ(r.widthBytes, 16);
    EXPECT_EQ(r.planes, 1);
    EXPECT_EQ(r.bitsPixel, 8);
    EXPECT_EQ(r.bits, p->bits());

    const BitmapRecord none = queryBitmap(nullptr);
    EXPECT_EQ(none.width, 0);
    EXPECT_EQ(none.height, 0);
    EXPECT_EQ(none.bitsPixel, 0);
    EXPECT_EQ(none.bits, nullptr);
}

TEST(Picture, CloneIsIndependent)
{
    PictureRef a = test::patternPicture(3, 3, true);
    PictureRef b = a->clone();
    EXPECT_TRUE(b->topDown());
    EXPECT_EQ(std::vector<std::uint8_t>(a->bits(), a->bits() + a->byteCount()),
        std::vector<std::uint8_t>(b->bits(), b->bits() + b->byteCount()));
    b->bits()[0] ^= 0xff;
    EXPECT_NE(a->bits()[0], b->bits()[0]);
}

TEST(Picture, StoredRowFollowsOrientation)
{
    EXPECT_EQ(Picture::create(1, 4)->storedRow(0), 3);
    EXPECT_EQ(Picture::create(1, 4, 24, true)->storedRow(0), 0);
}

TEST(Picture, PixelLimitBoundary)
{
    // 5461 pixels make a 16384-byte row; 65536 such rows are exactly the limit.
    ASSERT_EQ(Picture::strideFor(5461) * 65536, kMaxPixelBytes);
    EXPECT_TRUE(withinPixelLimit(5461, 65536));
    EXPECT_FALSE(withinPixelLimit(5461, 65537));
    EXPECT_FALSE(withinPixelLimit(5462, 65536));
    for (auto [w, h] : {std::pair<std::int64_t, std::int64_t>{0, 1}, {1, 0}, {-1, 5}, {1ll << 32, 1},
             {1, 1ll << 40}, {INT32_MAX, INT32_MAX}})
        EXPECT_FALSE(withinPixelLimit(w, h)) << w << " x " << h;
    try {
        throwOverPixelLimit(70000, 80000);
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::InvalidPicture);
        EXPECT_STREQ(
            e.what(), "Invalid picture: 70000 x 80000 pixels is larger than the pixel limit of 1024 MiB");
    }
}

TEST(Picture, BadSizesAreRefused)
{
    EXPECT_EQ(errorOf([] { Picture::create(0, 1); }), err::InvalidCall);
    EXPECT_EQ(errorOf([] { Picture::create(1, -1); }), err::InvalidCall);
    // Over the pixel limit, and sizes whose byte count would overflow.
    EXPECT_EQ(errorOf([] { Picture::create(20000, 20000); }), err::OutOfMemory);
    EXPECT_EQ(errorOf([] { Picture::create(2147483647, 2147483647); }), err::OutOfMemory);
    EXPECT_EQ(errorOf([] { Picture::create(int(kMaxPixelBytes / 3) + 2, 1); }), err::OutOfMemory);
}

} // namespace
} // namespace pelinor
