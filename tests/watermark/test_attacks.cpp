#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "fixtures.h"
#include "watermark/attacks.h"
#include "watermark/evaluation.h"

namespace pelinor {
namespace {

using test::makePicture;
using test::pixel;
using test::pixels;
using K = Attack::Kind;
constexpr double kSame = INFINITY;  // PSNR of an unchanged picture

struct AttackCase {
    const char* name;
    Attack attack;
    bool keepsConstant;  // a picture of one colour comes out exactly as it went in
    double minDb, maxDb;  // PSNR of the result on a textured picture
};

class AttackProperties : public ::testing::TestWithParam<AttackCase> {};

// Every attack returns a new picture of the same size, depth and row order, leaves its
// input alone and repeats itself exactly; what it costs in PSNR is in the table.
TEST_P(AttackProperties, Hold)
{
    const AttackCase& c = GetParam();
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        const PictureRef p = test::texturedPicture(64, 48, topDown);
        const PictureRef fill = makePicture(64, 48, [](int x, int y, int) { return (x * 7 + y * 3) % 256; });
        const std::vector<std::uint8_t> before = pixels(*p);
        const PictureRef out = applyAttack(*p, c.attack, fill.get(), 9);
        EXPECT_NE(out.get(), p.get());
        EXPECT_EQ(std::vector<int>({out->width(), out->height(), out->bitsPerPixel(), out->topDown()}),
                  std::vector<int>({64, 48, 24, topDown}));
        EXPECT_EQ(pixels(*p), before);
        EXPECT_EQ(pixels(*applyAttack(*p, c.attack, fill.get(), 9)), pixels(*out));
        const double db = psnr(*p, *out);
        EXPECT_GE(db, c.minDb);
        EXPECT_LE(db, c.maxDb);
        const PictureRef constant = makePicture(23, 17, [](int, int, int ch) { return 37 + 90 * ch; }, topDown);
        if (c.keepsConstant) {
            EXPECT_EQ(pixels(*applyAttack(*constant, c.attack, constant.get(), 9)), pixels(*constant));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, AttackProperties,
    ::testing::Values(AttackCase{"Jpeg100", {K::Jpeg, 100}, false, 35, 37.5},
                      AttackCase{"Jpeg75", {K::Jpeg, 75}, false, 29, 31},
                      AttackCase{"Jpeg10", {K::Jpeg, 10}, false, 24.5, 26.5},
                      AttackCase{"Noise0", {K::Noise, 0}, true, kSame, kSame},
                      AttackCase{"Noise5", {K::Noise, 5}, false, 33.8, 34.3},
                      AttackCase{"Noise40", {K::Noise, 40}, false, 15.8, 16.8},
                      AttackCase{"Blur0", {K::Blur, 0}, true, kSame, kSame},
                      AttackCase{"Blur0p5", {K::Blur, 0.5}, true, 44, 46.5},
                      AttackCase{"Blur2", {K::Blur, 2}, true, 26.5, 28},
                      AttackCase{"Blur20", {K::Blur, 20}, true, 18, 19.5},
                      AttackCase{"Scale1", {K::Scale, 1}, true, kSame, kSame},
                      AttackCase{"Scale2", {K::Scale, 2}, true, 39.5, 41.5},
                      AttackCase{"ScaleHalf", {K::Scale, 0.5}, true, 30.3, 31.8},
                      AttackCase{"ScaleQuarter", {K::Scale, 0.25}, true, 25.3, 26.7},
                      AttackCase{"ScaleTiny", {K::Scale, 0.001}, true, 16.3, 17.8},
                      AttackCase{"Crop1", {K::Crop, 1}, true, kSame, kSame},
                      AttackCase{"CropHalf", {K::Crop, 0.5}, true, 11.5, 12.5},
                      AttackCase{"Requantize256", {K::Requantize, 256}, true, kSame, kSame},
                      AttackCase{"Requantize8", {K::Requantize, 8}, false, 27.3, 28.1}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(Attacks, NoiseFollowsItsSeedAndResultsAreLimitedAndRoundedHalfToEven)
{
    const PictureRef p = test::texturedPicture(16, 16);
    EXPECT_NE(pixels(*attackNoise(*p, 5.0, 42)), pixels(*attackNoise(*p, 5.0, 43)));
    const std::pair<double, int> bytes[] = {{-5, 0}, {NAN, 0}, {300, 255}, {2.5, 2}, {3.5, 4}, {254.6, 255}};
    for (const auto& [value, byte] : bytes) EXPECT_EQ(limitAndRound(value), byte) << value;
}

TEST(Attacks, ShrinkingAveragesAreas)
{
    const PictureRef stripes = makePicture(40, 20, [](int x, int, int) { return x % 2 ? 255 : 0; });
    const PictureRef half = resizePicture(*stripes, 20, 10);
    for (int x = 2; x < 18; ++x) EXPECT_NEAR(pixel(*half, x, 5, 2), 128, 1) << x;
}

TEST(Attacks, CropKeepsTheCentreFractionAndFillsFromTheOriginal)
{
    const PictureRef marked = makePicture(40, 30, [](int, int, int) { return 200; });
    const PictureRef original = makePicture(40, 30, [](int, int, int) { return 10; }, true);
    EXPECT_EQ(pixels(*attackCrop(*marked, 0.0, *original)), pixels(*original));
    for (double f : {0.75, 0.5, 0.25}) {
        const PictureRef out = attackCrop(*marked, f, *original);
        int kept = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) kept += pixel(*out, x, y, 1) == 200;
        EXPECT_NEAR(kept / 1200.0, f, 0.03) << f;
        EXPECT_EQ(std::vector<int>({pixel(*out, 20, 15, 0), pixel(*out, 0, 0, 0), pixel(*out, 39, 29, 0)}),
                  std::vector<int>({200, 10, 10})) << f;
    }
    test::expectError([&] { attackCrop(*marked, 0.5, *makePicture(40, 31, [](int, int, int) { return 0; })); },
                      err::SizeMismatch);
    test::expectError([&] { applyAttack(*marked, {K::Crop, 0.5}, nullptr, 0); }, err::InvalidCall);
}

TEST(Attacks, RequantizeGivesExactlyThatManyLevels)
{
    const PictureRef ramp = makePicture(256, 1, [](int x, int, int) { return x; });
    for (const int levels : {2, 3, 8, 32, 100, 256}) {
        const PictureRef out = attackRequantize(*ramp, levels);
        std::set<int> seen;
        for (int x = 0; x < 256; ++x) {
            seen.insert(pixel(*out, x, 0, 0));
            EXPECT_LE(std::abs(pixel(*out, x, 0, 0) - x), 128 / (levels - 1) + 1) << x;
        }
        EXPECT_EQ(int(seen.size()), levels);
        EXPECT_EQ(std::pair(*seen.begin(), *seen.rbegin()), std::pair(0, 255));
    }
}

TEST(Attacks, ParametersAreChecked)
{
    const std::pair<Attack, bool> cases[] = {{{K::Jpeg, 1}, true}, {{K::Jpeg, 100}, true}, {{K::Jpeg, 0}, false},
        {{K::Jpeg, 101}, false}, {{K::Jpeg, 50.5}, false}, {{K::Noise, 0}, true}, {{K::Noise, -1}, false},
        {{K::Noise, NAN}, false}, {{K::Blur, 20}, true}, {{K::Blur, 1e9}, false}, {{K::Scale, 0}, false},
        {{K::Scale, 0.25}, true}, {{K::Scale, 4.5}, false}, {{K::Scale, INFINITY}, false}, {{K::Crop, 1}, true},
        {{K::Crop, 1.01}, false}, {{K::Requantize, 1}, false}, {{K::Requantize, 2}, true},
        {{K::Requantize, 257}, false}};
    for (const auto& [attack, valid] : cases) {
        SCOPED_TRACE(attackName(attack.kind) + " " + std::to_string(attack.parameter));
        if (valid) {
            EXPECT_NO_THROW(validateAttack(attack));
        } else {
            test::expectError([&] { validateAttack(attack); }, err::InvalidCall, attackName(attack.kind));
        }
    }
}

TEST(Psnr, KnownValuesAndSizeMismatch)
{
    const PictureRef a = makePicture(10, 10, [](int, int, int) { return 100; });
    const PictureRef b = makePicture(10, 10, [](int, int, int) { return 110; }, true);
    EXPECT_EQ(psnr(*a, *a), kSame);
    EXPECT_NEAR(psnr(*a, *b), 10 * std::log10(255.0 * 255.0 / 100.0), 1e-12);
    test::expectError([&] { psnr(*a, *makePicture(10, 9, [](int, int, int) { return 0; })); }, err::SizeMismatch);
}

}  // namespace
}  // namespace pelinor
