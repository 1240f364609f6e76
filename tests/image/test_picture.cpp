#include "image/picture.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <type_traits>
#include <utility>

namespace pelinor {
namespace {

using test::failureOf;

TEST(PixelView, BoundsAndElementsFollowTheStride)
{
    // Width, height, stride. Three pixels wide: rows 12 bytes apart, element (0, 1) is byte 12.
    const int layouts[][3] = {{1, 1, 4}, {3, 2, 12}, {4, 3, 12}, {5, 1, 16}, {2, 5, 8}, {127, 64, 384}};
    for (const auto [width, height, stride] : layouts) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        PictureRef p = Picture::create(width, height);
        EXPECT_EQ(p->stride(), std::size_t(stride));
        EXPECT_EQ(p->byteCount(), std::size_t(stride * height));
        ByteView v = openView(*p);
        EXPECT_EQ(v.upper1(), 3 * width - 1);
        EXPECT_EQ(v.upper2(), height - 1);
        for (int y = 0; y < height; ++y)
            for (int x : {0, 1, 3 * width - 1})
                EXPECT_EQ(&v.at(x, y), p->bits() + y * stride + x); // the picture's own memory
        for (auto [x, y] : {std::pair{3 * width, 0}, {-1, 0}, {0, height}, {0, -1}})
            EXPECT_EQ(failureOf([&v, x = x, y = y] { v.at(x, y); }).first, err::SubscriptOutOfRange)
                << x << "," << y;
    }
}

TEST(PixelView, WritesAreSeenByEveryHolderAndSurviveRelease)
{
    PictureRef shown = Picture::create(2, 2);
    PictureRef sameObject = shown;
    PictureRef copy = shown->clone();
    ByteView v = openView(*shown);
    v.at(5, 1) = 17;
    EXPECT_EQ(sameObject->bits()[8 + 5], 17);
    EXPECT_EQ(copy->bits()[8 + 5], 0); // a clone has memory of its own
    v.release();
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(failureOf([&] { v.at(0, 0); }).first, err::SubscriptOutOfRange);
    EXPECT_EQ(shown->bits()[8 + 5], 17);
}

// Only a picture that may be written gives a view that writes.
static_assert(std::is_same_v<decltype(openView(std::declval<const Picture&>())), ConstByteView>);
static_assert(std::is_same_v<decltype(openView(std::declval<Picture&>())), ByteView>);
static_assert(std::is_same_v<decltype(openColourView(std::declval<const Picture&>())), ConstByteView>);
static_assert(std::is_convertible_v<ByteView, ConstByteView>);
static_assert(!std::is_convertible_v<ConstByteView, ByteView>);
static_assert(std::is_same_v<decltype(ConstByteView().at(0, 0)), const std::uint8_t&>);

TEST(PixelView, OnlyTwentyFourBitPicturesOpen)
{
    for (int bpp : {1, 4, 8, 16, 32, 48}) {
        PictureRef p = Picture::create(4, 4, bpp);
        EXPECT_FALSE(is24Bit(p.get()));
        EXPECT_EQ(p->bitsPerPixel(), bpp);
        const auto [code, message] = failureOf([&] { openView(*p); });
        EXPECT_EQ(code, err::Not24Bit) << bpp;
        EXPECT_EQ(message, " 24-bit bitmaps only");
    }
    EXPECT_TRUE(is24Bit(Picture::create(1, 1).get()));
    EXPECT_FALSE(is24Bit(nullptr));
}

TEST(Picture, SizesBeyondThePixelLimitAreRefused)
{
    // 5461 pixels make a 16384-byte row; 65536 such rows are exactly the limit.
    ASSERT_EQ(Picture::strideFor(5461) * 65536, kMaxPixelBytes);
    EXPECT_TRUE(withinPixelLimit(5461, 65536));
    for (auto [w, h] : {std::pair<std::int64_t, std::int64_t>{5461, 65537}, {5462, 65536}, {0, 1}, {-1, 5},
             {1ll << 32, 1}, {INT32_MAX, INT32_MAX}})
        EXPECT_FALSE(withinPixelLimit(w, h)) << w << " x " << h;
    EXPECT_EQ(failureOf([] { Picture::create(0, 1); }).first, err::InvalidCall);
    EXPECT_EQ(failureOf([] { Picture::create(int(kMaxPixelBytes / 3) + 2, 1); }).first, err::OutOfMemory);
}

} // namespace
} // namespace pelinor
