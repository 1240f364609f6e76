#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

#include "engine_fixtures.h"
#include "obrada/colour.h"
#include "obrada/dct.h"
#include "obrada/error.h"
#include "obrada/selection.h"
#include "watermark/embed.h"

namespace pelinor {
namespace {

using test::colourRoundTrip;
using test::gaussianWatermark;
using test::noisePicture;
using test::pixelBytes;
using test::samplePhoto;

// The embedding exactly as its steps read, on whole arrays with checked access:
// the oracle for the banded implementation.
std::vector<std::uint8_t> literalEmbed(const Picture& source, const Watermark& wm, long long& changed)
{
    ByteArray2D p;
    PretvoriUYCbCr(openView(source), p);
    const int w = p.upper1() / 3 + 1;
    const int h = p.upper2() + 1;
    Plane l(w, h);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) l.at(x, y) = double(p.at(3 * x, y)) - 128.0;
    Plane c;
    DirektniDCT(l, c);
    const double t = OdrediPrag(c, wm.length);
    changed = 0;
    for (int u = 1; u < w; ++u)
        for (int v = 1; v < h; ++v)
            if (std::fabs(c.at(u, v)) > std::fabs(t))
                c.at(u, v) = (wm.alpha * wm.values.at(std::size_t(changed++)) + 1) * c.at(u, v);
    InverzniDCT(c, l);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            double s = l.at(x, y) + 128;
            s = std::min(255.0, std::max(0.0, s));
            p.at(3 * x, y) = std::uint8_t(std::nearbyint(s));
        }
    }
    PictureRef out = Picture::create(source.width(), source.height(), 24, source.topDown());
    PretvoriURGB(p, openView(*out));
    return pixelBytes(*out);
}

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    double sum = 0;
    for (std::size_t k = 0; k < a.size(); ++k) sum += (double(a[k]) - b[k]) * (double(a[k]) - b[k]);
    if (sum == 0) return std::numeric_limits<double>::infinity();
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

// Width, height, top-down rows, watermark length. Sizes straddle the row bands and
// give odd widths (row padding).
class EmbedMatchesLiteralSteps : public ::testing::TestWithParam<std::tuple<int, int, bool, int>> {};

TEST_P(EmbedMatchesLiteralSteps, ByteForByte)
{
    const auto [width, height, topDown, length] = GetParam();
    const PictureRef source = noisePicture(width, height, unsigned(width * 131 + height), topDown);
    const Watermark wm = gaussianWatermark(length, 0.3, 7);
    long long expectedChanged = 0;
    const std::vector<std::uint8_t> expected = literalEmbed(*source, wm, expectedChanged);

    const EmbedResult r = embedWatermark(*source, wm);
    ASSERT_TRUE(r.marked);
    EXPECT_EQ(r.marked->width(), width);
    EXPECT_EQ(r.marked->height(), height);
    EXPECT_EQ(r.marked->bitsPerPixel(), 24);
    EXPECT_EQ(r.marked->topDown(), topDown);
    EXPECT_EQ(pixelBytes(*r.marked), expected);
    EXPECT_EQ(r.changed, expectedChanged);
    EXPECT_DOUBLE_EQ(r.psnr, psnr(pixelBytes(*source), expected));
}

INSTANTIATE_TEST_SUITE_P(Sizes, EmbedMatchesLiteralSteps,
    ::testing::Values(std::make_tuple(1, 1, false, 1), std::make_tuple(5, 3, false, 3),
        std::make_tuple(33, 17, false, 10), std::make_tuple(31, 70, true, 100),
        std::make_tuple(64, 65, false, 100), std::make_tuple(97, 33, true, 1000)));

TEST(Embed, AlphaZeroGivesBackTheColourConversionsLuminance)
{
    const PictureRef photo = samplePhoto();
    Watermark wm = gaussianWatermark(1000, 0.0, 3);
    const EmbedResult r = embedWatermark(*photo, wm);
    EXPECT_EQ(r.changed, 1000);
    EXPECT_EQ(pixelBytes(*r.marked), pixelBytes(*colourRoundTrip(*photo)));
}

TEST(Embed, ChangesExactlyNCoefficientsOfDistinctMagnitude)
{
    const PictureRef noise = noisePicture(64, 48, 11);
    for (const int n : {100, 1000}) {
        const EmbedResult r = embedWatermark(*noise, gaussianWatermark(n, 0.3, unsigned(n)));
        EXPECT_EQ(r.changed, n) << "N = " << n;
        EXPECT_GT(r.psnr, 20.0);
        EXPECT_LT(r.psnr, 100.0);
    }
}

// Only x(0) is non-zero, so only the first significant coefficient in scan order moves.
TEST(Embed, FirstValueGoesToFirstSignificantCoefficientInScanOrder)
{
    const PictureRef photo = samplePhoto();
    Watermark wm = gaussianWatermark(100, 0.3, 5);
    std::fill(wm.values.begin(), wm.values.end(), 0.0);
    wm.values[0] = 2.0;
    const EmbedResult r = embedWatermark(*photo, wm);

    Plane c0, c1;
    DirektniDCT(luminancePlane(openView(*photo)), c0);
    DirektniDCT(luminancePlane(openView(*r.marked)), c1);
    int firstU = -1, firstV = -1;
    forEachSignificant(c0, OdrediPrag(c0, wm.length), [&](int u, int v, long long i) {
        if (i == 0) firstU = u, firstV = v;
    });
    ASSERT_GE(firstU, 1);
    EXPECT_NEAR(c1(firstU, firstV) / c0(firstU, firstV), 1.6, 0.02);
    forEachSignificant(c0, OdrediPrag(c0, wm.length), [&](int u, int v, long long i) {
        if (i > 0) {
            EXPECT_NEAR(c1(u, v) / c0(u, v), 1.0, 0.02) << "value " << i;
        }
    });
}

TEST(EmbedCoefficients, ScalesTheNLargestInScanOrder)
{
    Plane c(20, 15);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> d(-500, 500);
    for (std::size_t k = 0; k < c.size(); ++k) c.data()[k] = d(rng);
    const Plane before = c;
    const Watermark wm = gaussianWatermark(30, 0.25, 1);

    std::vector<double> magnitudes;
    for (int u = 1; u < 20; ++u)
        for (int v = 1; v < 15; ++v) magnitudes.push_back(std::fabs(before(u, v)));
    std::sort(magnitudes.rbegin(), magnitudes.rend());
    const double cut = magnitudes[30];

    EXPECT_EQ(embedCoefficients(c, wm), 30);
    std::size_t i = 0;
    for (int u = 0; u < 20; ++u) {
        for (int v = 0; v < 15; ++v) {
            const bool significant = u >= 1 && v >= 1 && std::fabs(before(u, v)) > cut;
            const double expected = significant ? (0.25 * wm.values[i++] + 1) * before(u, v) : before(u, v);
            EXPECT_EQ(c(u, v), expected) << u << ", " << v;
        }
    }
    EXPECT_EQ(i, 30u);
}

TEST(EmbedCoefficients, TiesAtTheThresholdChangeFewer)
{
    // Candidates (u, v >= 1) in scan order: 9, 8, 7, 7, 7; the row and column 0 hold
    // large values that never count.
    Plane c(2, 6);
    const double column[6] = {1000, 9, 8, 7, 7, 7};
    for (int v = 0; v < 6; ++v) c(1, v) = column[v];
    for (int v = 0; v < 6; ++v) c(0, v) = 5000;
    Watermark wm = gaussianWatermark(3, 0.5, 2);
    EXPECT_EQ(embedCoefficients(c, wm), 2);  // the third and fourth largest tie at 7
    EXPECT_EQ(c(1, 3), 7);

    wm = gaussianWatermark(1, 0.5, 2);
    Plane sevens(2, 4);
    sevens(1, 1) = sevens(1, 2) = sevens(1, 3) = 7;
    EXPECT_EQ(embedCoefficients(sevens, wm), 0);
}

TEST(Embed, OnePixelWideOrOneRowHighChangesNothing)
{
    for (const auto& [w, h] : {std::pair{1, 40}, std::pair{40, 1}}) {
        const PictureRef p = noisePicture(w, h, 4);
        const EmbedResult r = embedWatermark(*p, gaussianWatermark(100, 0.3, 4));
        EXPECT_EQ(r.changed, 0);
        EXPECT_EQ(pixelBytes(*r.marked), pixelBytes(*colourRoundTrip(*p))) << w << " x " << h;
    }
}

TEST(Embed, RefusesPicturesThatAreNot24Bit)
{
    for (const int bits : {1, 4, 8, 16, 32}) {
        const PictureRef p = Picture::create(8, 8, bits);
        try {
            embedWatermark(*p, gaussianWatermark(10, 0.3, 1));
            ADD_FAILURE() << bits << " bits accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::Not24Bit);
            EXPECT_EQ(std::string(e.what()), std::string(kOnly24BitText));
        }
    }
}

// Every result is a new picture: a second embedding from the same source leaves the
// source and the first result as they were.
TEST(Embed, NeverModifiesTheSourceOrAnEarlierResult)
{
    const PictureRef photo = samplePhoto();
    const std::vector<std::uint8_t> original = pixelBytes(*photo);
    const EmbedResult first = embedWatermark(*photo, gaussianWatermark(100, 0.3, 1));
    const std::vector<std::uint8_t> firstBytes = pixelBytes(*first.marked);
    const EmbedResult second = embedWatermark(*photo, gaussianWatermark(100, 0.3, 2));
    EXPECT_NE(first.marked.get(), photo.get());
    EXPECT_NE(second.marked.get(), first.marked.get());
    EXPECT_EQ(pixelBytes(*photo), original);
    EXPECT_EQ(pixelBytes(*first.marked), firstBytes);
    EXPECT_NE(pixelBytes(*second.marked), firstBytes);
    // Embedding from a marked picture leaves that picture alone too.
    embedWatermark(*first.marked, gaussianWatermark(100, 0.3, 3));
    EXPECT_EQ(pixelBytes(*first.marked), firstBytes);
}

// Values that overflow the coefficients to infinities and NaNs still give bytes 0..255.
TEST(Embed, AbsurdWatermarkValuesStillGivePixels)
{
    const PictureRef noise = noisePicture(32, 32, 6);
    Watermark wm = gaussianWatermark(50, 10.0, 6);
    for (std::size_t i = 0; i < wm.values.size(); ++i) wm.values[i] = i % 2 ? 1e308 : -1e308;
    const EmbedResult r = embedWatermark(*noise, wm);
    EXPECT_EQ(r.changed, 50);
    EXPECT_EQ(pixelBytes(*r.marked).size(), 32u * 32u * 3u);
}

TEST(Embed, PsnrOfAnIdenticalResultIsInfinite)
{
    // A grey picture survives the colour round trip, and its coefficients outside
    // row and column 0 are zero up to rounding: scaling them moves no byte.
    const PictureRef grey = Picture::create(16, 16);
    const ByteView v = openView(*grey);
    for (int y = 0; y < 16; ++y) std::fill(v.row(y), v.row(y) + v.n1(), std::uint8_t(100));
    const EmbedResult r = embedWatermark(*grey, gaussianWatermark(10, 0.3, 1));
    EXPECT_EQ(r.psnr, std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace pelinor
