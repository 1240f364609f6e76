#include <gtest/gtest.h>

#include <set>

#include "lab_pictures.h"
#include "obrada/error.h"
#include "watermark/attacks.h"
#include "watermark/evaluation.h"

namespace pelinor {
namespace {

using testing::makePicture;
using testing::pixel;
using testing::samePixels;
using testing::errorNumber;
using testing::texturedPicture;

TEST(AttackJpeg, LowerQualityLosesMore)
{
    const PictureRef p = texturedPicture(96, 80);
    double previous = std::numeric_limits<double>::infinity();
    for (int q : {100, 90, 75, 50, 25, 10, 5}) {
        const PictureRef out = attackJpeg(*p, q);
        ASSERT_EQ(out->width(), 96);
        ASSERT_EQ(out->height(), 80);
        EXPECT_EQ(out->bitsPerPixel(), 24);
        const double db = psnr(*p, *out);
        EXPECT_LT(db, previous) << "quality " << q;
        previous = db;
    }
    EXPECT_GT(psnr(*p, *attackJpeg(*p, 95)), 35.0);
}

TEST(AttackJpeg, KeepsRowOrderAndPicture)
{
    for (bool topDown : {false, true}) {
        // Top half dark, bottom half light: a flipped result would be obvious.
        const PictureRef p = makePicture(32, 32, [](int, int y, int) { return y < 16 ? 20 : 230; }, topDown);
        const PictureRef out = attackJpeg(*p, 90);
        EXPECT_EQ(out->topDown(), topDown);
        EXPECT_NEAR(pixel(*out, 5, 3, 1), 20, 4);
        EXPECT_NEAR(pixel(*out, 5, 28, 1), 230, 4);
    }
}

TEST(AttackNoise, SeededAndOfTheRightSize)
{
    const PictureRef p = makePicture(64, 64, [](int, int, int) { return 128; });
    const PictureRef a = attackNoise(*p, 5.0, 42);
    EXPECT_TRUE(samePixels(*a, *attackNoise(*p, 5.0, 42)));
    EXPECT_FALSE(samePixels(*a, *attackNoise(*p, 5.0, 43)));
    EXPECT_TRUE(samePixels(*p, *attackNoise(*p, 0.0, 42)));

    double sum = 0, sumSq = 0;
    const int n = 64 * 64 * 3;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = pixel(*a, x, y, c) - 128;
                sum += d;
                sumSq += d * d;
            }
    EXPECT_NEAR(sum / n, 0.0, 0.3);
    EXPECT_NEAR(std::sqrt(sumSq / n), 5.0, 0.3);  // rounding adds 1/12 to the variance
}

TEST(AttackNoise, LimitsToByteRange)
{
    const PictureRef p = makePicture(16, 16, [](int x, int, int) { return x < 8 ? 0 : 255; });
    const PictureRef out = attackNoise(*p, 50.0, 1);  // would leave 0..255 without the limit
    int atEdges = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) atEdges += pixel(*out, x, y, 0) == (x < 8 ? 0 : 255);
    EXPECT_GT(atEdges, 80);  // about half are pushed past the limit
}

class ConstantBlur : public ::testing::TestWithParam<double> {};

TEST_P(ConstantBlur, LeavesAConstantPictureUnchanged)
{
    const PictureRef p = makePicture(23, 17, [](int, int, int c) { return 37 + 90 * c; });
    EXPECT_TRUE(samePixels(*p, *attackBlur(*p, GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Sigmas, ConstantBlur, ::testing::Values(0.0, 0.5, 1.0, 2.0, 7.5, 20.0));

TEST(AttackBlur, SmoothsAndPreservesTheMean)
{
    const PictureRef p = makePicture(40, 40, [](int x, int y, int) { return (x + y) % 2 ? 200 : 40; });
    const PictureRef out = attackBlur(*p, 1.0);
    double mean = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) mean += pixel(*out, x, y, 0);
    EXPECT_NEAR(mean / 1600, 120.0, 1.0);
    EXPECT_NEAR(pixel(*out, 20, 20, 0), 120, 10);  // the checkerboard is almost gone
}

TEST(AttackBlur, EdgeIsExtendedNotDarkened)
{
    const PictureRef p = makePicture(20, 20, [](int x, int, int) { return x < 10 ? 250 : 0; });
    const PictureRef out = attackBlur(*p, 2.0);
    EXPECT_EQ(pixel(*out, 0, 10, 0), 250);
    EXPECT_EQ(pixel(*out, 19, 10, 0), 0);
}

TEST(AttackScale, FactorOneIsIdentity)
{
    const PictureRef p = texturedPicture(37, 29);
    EXPECT_TRUE(samePixels(*p, *attackScale(*p, 1.0)));
}

TEST(AttackScale, ShrinkingAveragesAreas)
{
    const PictureRef stripes = makePicture(40, 20, [](int x, int, int) { return x % 2 ? 255 : 0; });
    const PictureRef half = resizePicture(*stripes, 20, 10);
    for (int x = 2; x < 18; ++x) EXPECT_NEAR(pixel(*half, x, 5, 2), 128, 1) << x;
}

TEST(AttackScale, LosesDetailButKeepsThePicture)
{
    const PictureRef p = texturedPicture(64, 48);
    double previous = std::numeric_limits<double>::infinity();
    for (double f : {1.0, 0.5, 0.25}) {
        const PictureRef out = attackScale(*p, f);
        ASSERT_EQ(out->width(), 64);
        ASSERT_EQ(out->height(), 48);
        const double db = psnr(*p, *out);
        EXPECT_LE(db, previous);
        EXPECT_GT(db, 15.0);
        previous = db;
    }
    // Enlarging and back loses almost nothing; a 1-pixel result still works.
    EXPECT_GT(psnr(*p, *attackScale(*p, 2.0)), 30.0);
    EXPECT_EQ(attackScale(*p, 0.001)->width(), 64);
}

TEST(AttackCrop, KeepsTheCentreFraction)
{
    const PictureRef marked = makePicture(40, 30, [](int, int, int) { return 200; });
    const PictureRef original = makePicture(40, 30, [](int, int, int) { return 10; }, true);
    EXPECT_TRUE(samePixels(*marked, *attackCrop(*marked, 1.0, *original)));
    EXPECT_TRUE(samePixels(*original, *attackCrop(*marked, 0.0, *original)));
    for (double f : {0.75, 0.5, 0.25}) {
        const PictureRef out = attackCrop(*marked, f, *original);
        int kept = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) kept += pixel(*out, x, y, 1) == 200;
        EXPECT_NEAR(kept / 1200.0, f, 0.03) << f;
        EXPECT_EQ(pixel(*out, 20, 15, 0), 200);  // centre kept
        EXPECT_EQ(pixel(*out, 0, 0, 0), 10);     // corner from the original
        EXPECT_EQ(pixel(*out, 39, 29, 0), 10);
    }
}

TEST(AttackCrop, RefusesAFillOfAnotherSize)
{
    const PictureRef a = makePicture(10, 10, [](int, int, int) { return 0; });
    const PictureRef b = makePicture(10, 11, [](int, int, int) { return 0; });
    EXPECT_EQ(errorNumber([&] { attackCrop(*a, 0.5, *b); }), err::SizeMismatch);
    EXPECT_EQ(errorNumber([&] { applyAttack(*a, {Attack::Kind::Crop, 0.5}, nullptr, 0); }), err::InvalidCall);
}

class Requantize : public ::testing::TestWithParam<int> {};

TEST_P(Requantize, GivesExactlyThatManyLevels)
{
    const PictureRef ramp = makePicture(256, 1, [](int x, int, int) { return x; });
    const PictureRef out = attackRequantize(*ramp, GetParam());
    std::set<int> levels;
    for (int x = 0; x < 256; ++x) {
        levels.insert(pixel(*out, x, 0, 0));
        EXPECT_LE(std::abs(pixel(*out, x, 0, 0) - x), 128 / (GetParam() - 1) + 1);
    }
    EXPECT_EQ(int(levels.size()), GetParam());
    EXPECT_EQ(*levels.begin(), 0);
    EXPECT_EQ(*levels.rbegin(), 255);
}

INSTANTIATE_TEST_SUITE_P(Levels, Requantize, ::testing::Values(2, 3, 8, 32, 100, 256));

TEST(Requantize, AllLevelsIsIdentity)
{
    const PictureRef p = texturedPicture(20, 20);
    EXPECT_TRUE(samePixels(*p, *attackRequantize(*p, 256)));
}

struct ParameterCase {
    Attack::Kind kind;
    double value;
    bool valid;
};

class AttackParameters : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(AttackParameters, AreChecked)
{
    const ParameterCase& c = GetParam();
    const int expected = c.valid ? 0 : err::InvalidCall;
    EXPECT_EQ(errorNumber([&] { validateAttack({c.kind, c.value}); }), expected)
        << attackName(c.kind) << " " << c.value;
}

using K = Attack::Kind;
INSTANTIATE_TEST_SUITE_P(Table, AttackParameters,
    ::testing::Values(ParameterCase{K::Jpeg, 1, true}, ParameterCase{K::Jpeg, 100, true},
        ParameterCase{K::Jpeg, 0, false}, ParameterCase{K::Jpeg, 101, false},
        ParameterCase{K::Jpeg, 50.5, false}, ParameterCase{K::Noise, 0, true},
        ParameterCase{K::Noise, -1, false}, ParameterCase{K::Noise, NAN, false},
        ParameterCase{K::Blur, 20, true}, ParameterCase{K::Blur, 1e9, false},
        ParameterCase{K::Scale, 0, false}, ParameterCase{K::Scale, 0.25, true},
        ParameterCase{K::Scale, 4.5, false}, ParameterCase{K::Scale, INFINITY, false},
        ParameterCase{K::Crop, 1, true}, ParameterCase{K::Crop, 1.01, false},
        ParameterCase{K::Requantize, 1, false}, ParameterCase{K::Requantize, 2, true},
        ParameterCase{K::Requantize, 257, false}));

TEST(Attacks, RefuseOtherDepthsAndKeepTheInput)
{
    const PictureRef eight = Picture::create(8, 8, 8);
    for (const Attack& a : standardBattery())
        EXPECT_EQ(errorNumber([&] { applyAttack(*eight, a, eight.get(), 1); }), err::Not24Bit)
            << attackLabel(a);

    const PictureRef p = texturedPicture(24, 24);
    const PictureRef copy = p->clone();
    for (const Attack& a : standardBattery()) {
        const PictureRef out = applyAttack(*p, a, copy.get(), 1);
        EXPECT_NE(out.get(), p.get());
        EXPECT_EQ(out->bitsPerPixel(), 24);
        EXPECT_EQ(out->topDown(), p->topDown());
    }
    EXPECT_TRUE(samePixels(*p, *copy));
}

TEST(Psnr, KnownValues)
{
    const PictureRef a = makePicture(10, 10, [](int, int, int) { return 100; });
    const PictureRef b = makePicture(10, 10, [](int, int, int) { return 110; }, true);
    EXPECT_TRUE(std::isinf(psnr(*a, *a)));
    EXPECT_NEAR(psnr(*a, *b), 10 * std::log10(255.0 * 255.0 / 100.0), 1e-12);
    const PictureRef c = makePicture(10, 9, [](int, int, int) { return 0; });
    EXPECT_EQ(errorNumber([&] { psnr(*a, *c); }), err::SizeMismatch);
}

}  // namespace
}  // namespace pelinor
