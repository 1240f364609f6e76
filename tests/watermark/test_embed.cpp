#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures.h"
#include "obrada/colour.h"
#include "obrada/dct.h"
#include "obrada/selection.h"
#include "watermark/attacks.h"
#include "watermark/detect.h"
#include "watermark/embed.h"
#include "watermark/evaluation.h"

namespace pelinor {
namespace {

using test::gaussianWatermark;
using test::pixels;

PictureRef colourRoundTrip(const Picture& source)
{
    ByteArray2D planes;
    PretvoriUYCbCr(openView(source), planes);
    PictureRef out = Picture::create(source.width(), source.height(), 24, source.topDown());
    PretvoriURGB(planes, openView(*out));
    return out;
}

// The embedding's steps as they read, on whole arrays with checked access.
PictureRef literalEmbed(const Picture& source, const Watermark& wm, long long& changed)
{
    ByteArray2D p;
    PretvoriUYCbCr(openView(source), p);
    const int w = source.width(), h = source.height();
    Plane l(w, h), c;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) l.at(x, y) = double(p.at(3 * x, y)) - 128.0;
    DirektniDCT(l, c);
    const double t = OdrediPrag(c, wm.length);
    changed = 0;
    for (int u = 1; u < w; ++u)
        for (int v = 1; v < h; ++v)
            if (std::fabs(c.at(u, v)) > std::fabs(t))
                c.at(u, v) = (wm.alpha * wm.values.at(std::size_t(changed++)) + 1) * c.at(u, v);
    InverzniDCT(c, l);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) p.at(3 * x, y) = std::uint8_t(std::nearbyint(std::clamp(l.at(x, y) + 128, 0.0, 255.0)));
    PictureRef out = Picture::create(w, h, 24, source.topDown());
    PretvoriURGB(p, openView(*out));
    return out;
}

struct Shape {
    int width, height;
    bool topDown;
    int length;
};

// Sizes straddle the row bands and give odd widths (row padding); one pixel wide or one
// row high leaves no candidate coefficient.
class EmbedMatchesLiteralSteps : public ::testing::TestWithParam<Shape> {};

TEST_P(EmbedMatchesLiteralSteps, ByteForByte)
{
    const auto [width, height, topDown, length] = GetParam();
    const PictureRef source = test::noisePicture(width, height, unsigned(width * 131 + height), topDown);
    const Watermark wm = gaussianWatermark(length, 0.3, 7);
    long long expectedChanged = 0;
    const PictureRef expected = literalEmbed(*source, wm, expectedChanged);
    const EmbedResult r = embedWatermark(*source, wm);
    EXPECT_EQ(r.marked->topDown(), topDown);
    EXPECT_EQ(pixels(*r.marked), pixels(*expected));
    EXPECT_EQ(r.changed, expectedChanged);
    EXPECT_EQ(r.changed, std::min<long long>(length, (width - 1LL) * (height - 1)));  // distinct magnitudes
    EXPECT_DOUBLE_EQ(r.psnr, psnr(*source, *expected));
    if (r.changed == 0) {
        EXPECT_EQ(pixels(*r.marked), pixels(*colourRoundTrip(*source)));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, EmbedMatchesLiteralSteps,
    ::testing::Values(Shape{1, 1, false, 1}, Shape{5, 3, false, 3}, Shape{1, 40, false, 100},
                      Shape{40, 1, true, 100}, Shape{31, 70, true, 100}, Shape{64, 65, false, 100},
                      Shape{97, 33, true, 1000}),
    [](const auto& c) {
        const Shape& s = c.param;
        return std::to_string(s.width) + "x" + std::to_string(s.height) + (s.topDown ? "TopDown" : "") + "N" +
               std::to_string(s.length);
    });

// The N largest magnitudes outside row and column 0, found by sorting, each scaled by
// its own value in scan order (u outer, v inner); nothing else moves.
TEST(EmbedCoefficients, ScalesTheNLargestInScanOrder)
{
    for (const int n : {100, 1000}) {
        Plane c(64, 48);
        std::mt19937 rng(static_cast<unsigned>(n));
        std::uniform_real_distribution<double> d(-500, 500);
        for (std::size_t k = 0; k < c.size(); ++k) c.data()[k] = d(rng);
        const Plane before = c;
        const Watermark wm = gaussianWatermark(n, 0.25, 1);
        std::vector<double> magnitudes;
        for (int u = 1; u < 64; ++u)
            for (int v = 1; v < 48; ++v) magnitudes.push_back(std::fabs(before(u, v)));
        std::sort(magnitudes.rbegin(), magnitudes.rend());

        EXPECT_EQ(embedCoefficients(c, wm), n);
        std::size_t i = 0;
        for (int u = 0; u < 64; ++u)
            for (int v = 0; v < 48; ++v) {
                const bool significant = u >= 1 && v >= 1 && std::fabs(before(u, v)) > magnitudes[std::size_t(n)];
                EXPECT_EQ(c(u, v), significant ? (0.25 * wm.values[i++] + 1) * before(u, v) : before(u, v));
            }
        EXPECT_EQ(i, std::size_t(n));
    }
}

TEST(EmbedCoefficients, TiesAtTheThresholdChangeFewer)
{
    // Candidates in scan order 9, 8, 7, 7, 7; row and column 0 hold large values that never count.
    Plane c(2, 6);
    const double column[6] = {1000, 9, 8, 7, 7, 7};
    for (int v = 0; v < 6; ++v) c(0, v) = 5000, c(1, v) = column[v];
    EXPECT_EQ(embedCoefficients(c, gaussianWatermark(3, 0.5, 2)), 2);  // the third and fourth largest tie
    EXPECT_EQ(c(1, 3), 7);
    Plane sevens(2, 4);
    sevens(1, 1) = sevens(1, 2) = sevens(1, 3) = 7;
    EXPECT_EQ(embedCoefficients(sevens, gaussianWatermark(1, 0.5, 2)), 0);
}

TEST(Embed, AlphaZeroGivesTheColourConversionAndNoResultTouchesItsSource)
{
    const PictureRef photo = test::samplePhoto();
    const std::vector<std::uint8_t> original = pixels(*photo);
    const EmbedResult zero = embedWatermark(*photo, gaussianWatermark(1000, 0.0, 3));
    EXPECT_EQ(zero.changed, 1000);
    EXPECT_EQ(pixels(*zero.marked), pixels(*colourRoundTrip(*photo)));

    // A second embedding from the same source, and one from a marked picture, leave the
    // source and the earlier result as they were.
    const EmbedResult first = embedWatermark(*photo, gaussianWatermark(100, 0.3, 1));
    const std::vector<std::uint8_t> firstBytes = pixels(*first.marked);
    const EmbedResult second = embedWatermark(*photo, gaussianWatermark(100, 0.3, 2));
    embedWatermark(*first.marked, gaussianWatermark(100, 0.3, 3));
    EXPECT_EQ(pixels(*photo), original);
    EXPECT_EQ(pixels(*first.marked), firstBytes);
    EXPECT_NE(pixels(*second.marked), firstBytes);
}

// Values that overflow the coefficients to infinities and NaNs still give bytes.
TEST(Embed, AbsurdWatermarkValuesStillGivePixels)
{
    Watermark wm = gaussianWatermark(50, 10.0, 6);
    for (std::size_t i = 0; i < wm.values.size(); ++i) wm.values[i] = i % 2 ? 1e308 : -1e308;
    EXPECT_EQ(embedWatermark(*test::noisePicture(32, 32, 6), wm).changed, 50);
}

TEST(Engine, RefusesPicturesThatAreNot24Bit)
{
    const PictureRef good = test::noisePicture(8, 8, 1);
    const Watermark wm = gaussianWatermark(10, 0.3, 1);
    const std::string text(kOnly24BitText);
    for (const int bits : {1, 8, 16, 32}) {
        SCOPED_TRACE(bits);
        const PictureRef bad = Picture::create(8, 8, bits);
        test::expectError([&] { embedWatermark(*bad, wm); }, err::Not24Bit, text);
        try { embedWatermark(*bad, wm); } catch (const Error& e) { EXPECT_EQ(e.what(), text); }
        test::expectError([&] { detectWatermark(*bad, wm, *good); }, err::Not24Bit, text);
        test::expectError([&] { detectWatermark(*good, wm, *bad); }, err::Not24Bit, text);
        for (const Attack& a : standardBattery())
            test::expectError([&] { applyAttack(*bad, a, good.get(), 1); }, err::Not24Bit, text);
    }
}

}  // namespace
}  // namespace pelinor
