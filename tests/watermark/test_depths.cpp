// Pictures as people keep them: grey, with alpha, 16 bits per sample, palettes, and the
// same watermark found across formats and depths.
#include "tests/libjpeg_file.h"
#include "tests/test_support.h"
#include "watermark/detector.h"
#include "watermark/embed.h"

#include <gtest/gtest.h>

namespace pelinor {
namespace {

using test::gaussianWatermark;

// A photograph-like picture of the given kind. 8-bit samples follow the textured 24-bit
// picture; 16-bit samples add a fine ramp in the low bytes so that they are really 16-bit.
PictureRef pictureOf(const SampleFormat& format, int w = 96, int h = 80)
{
    const PictureRef colour = test::texturedPicture(w, h);
    PictureRef p = Picture::create(w, h, format.channels() * format.depth);
    p->setSampleFormat(format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t stored = std::size_t(p->storedRow(y));
            const std::uint8_t* bgr
                = colour->bits() + std::size_t(colour->storedRow(y)) * colour->stride() + 3 * std::size_t(x);
            const std::uint8_t alpha = std::uint8_t((x * 5 + y * 3) & 0xff);
            const std::size_t at = stored * std::size_t(w) + std::size_t(x);
            if (format.depth == 8) {
                std::uint8_t* out = p->bits() + stored * p->stride() + 3 * std::size_t(x);
                for (int c = 0; c < 3; ++c)
                    out[c] = format.colours == 1 ? bgr[1] : bgr[c];
                if (format.alpha) p->alpha8()[at] = alpha;
            } else {
                std::uint16_t* out = p->samples16() + at * std::size_t(format.channels());
                const std::uint16_t low = std::uint16_t((x * 37 + y * 11) & 0xff);
                if (format.colours == 1) {
                    out[0] = std::uint16_t(bgr[1] << 8 | low);
                } else {
                    for (int c = 0; c < 3; ++c)
                        out[c] = std::uint16_t(bgr[2 - c] << 8 | low);
                }
                if (format.alpha) out[format.channels() - 1] = std::uint16_t(alpha * 257);
            }
        }
    if (format.depth == 16) p->refreshFromSamples16();
    return p;
}

std::vector<std::uint8_t> alphaOf(const Picture& p)
{
    const SampleFormat& f = p.sampleFormat();
    std::vector<std::uint8_t> out;
    const std::size_t n = std::size_t(p.width()) * std::size_t(p.height());
    for (std::size_t i = 0; i < n; ++i) {
        if (f.depth == 8)
            out.push_back(p.alpha8()[i]);
        else {
            const std::uint16_t a
                = p.samples16()[i * std::size_t(f.channels()) + std::size_t(f.channels() - 1)];
            out.push_back(std::uint8_t(a >> 8));
            out.push_back(std::uint8_t(a));
        }
    }
    return out;
}

struct DepthCase {
    const char* name;
    SampleFormat format;
};

const DepthCase kDepths[] = {
    {"Rgb8", {3, false, 8, false}},
    {"Rgba8", {3, true, 8, false}},
    {"Grey8", {1, false, 8, false}},
    {"GreyAlpha8", {1, true, 8, false}},
    {"Rgb16", {3, false, 16, false}},
    {"Rgba16", {3, true, 16, false}},
    {"Grey16", {1, false, 16, false}},
    {"GreyAlpha16", {1, true, 16, false}},
};

const ImageFormat kLosslessFormats[] = {ImageFormat::Png, ImageFormat::Tiff};

// Every depth through every lossless format that holds it: embedded, written, read back
// and detected, with channels, depth and alpha unchanged.
TEST(Depths, RoundTripThroughEmbedAndDetect)
{
    const Watermark wm = gaussianWatermark(300, 0.2, 11);
    for (const DepthCase& d : kDepths)
        for (const ImageFormat format : kLosslessFormats) {
            SCOPED_TRACE(std::string(d.name) + " as " + formatName(format));
            const PictureRef original = pictureOf(d.format);
            const EmbedResult e = embedWatermark(*original, wm, Depths::Any);
            EXPECT_EQ(e.changed, 300);
            EXPECT_GT(e.psnr, 25.0);
            EXPECT_EQ(e.marked->sampleFormat(), d.format);
            const PictureRef back = decodePicture(encodePicture(*e.marked, format));
            ASSERT_EQ(back->sampleFormat(), d.format);
            if (d.format.alpha) {
                EXPECT_EQ(alphaOf(*back), alphaOf(*original));
            }
            const DetectResult r = detectWatermark(*original, wm, *back, kDefaultThreshold, Depths::Any);
            EXPECT_GT(r.similarity, 0.95);
            EXPECT_TRUE(r.found);
            // The unmarked picture against itself: nothing extracted.
            EXPECT_EQ(
                detectWatermark(*original, wm, *original, kDefaultThreshold, Depths::Any).similarity, 0.0);
        }
}

// 8-bit colour through the general entry is the 24-bit embedding, byte for byte.
TEST(Depths, EightBitColourIsTheTwentyFourBitPath)
{
    const PictureRef photo = test::texturedPicture(64, 48);
    const Watermark wm = gaussianWatermark(200, 0.3, 2);
    const EmbedResult a = embedWatermark(*photo, wm);
    const EmbedResult b = embedWatermark(*photo, wm, Depths::Any);
    EXPECT_EQ(test::pixels(*a.marked), test::pixels(*b.marked));
    EXPECT_EQ(a.psnr, b.psnr);
    EXPECT_EQ(b.marked->bitsPerPixel(), 24);
}

// Grey: the grey plane is the luminance, and the marked picture is grey in every byte.
TEST(Depths, GreyIsItsOwnLuminance)
{
    const PictureRef grey = pictureOf({1, false, 8, false}, 40, 30);
    Plane lum;
    deepLuminanceInto(*grey, lum);
    EXPECT_EQ(lum(3, 4), double(grey->bits()[4 * grey->stride() + 9]) - 128.0);
    const EmbedResult e = embedWatermark(*grey, gaussianWatermark(100, 0.3, 5), Depths::Any);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const std::uint8_t* p
                = e.marked->bits() + std::size_t(y) * e.marked->stride() + 3 * std::size_t(x);
            ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;
        }
}

// A 16-bit picture whose low bytes are zero holds its 8-bit twin; both detect alike.
TEST(Depths, SixteenBitTwinOfAnEightBitPictureDetectsAlike)
{
    const PictureRef photo = test::texturedPicture(80, 64);
    const Watermark wm = gaussianWatermark(400, 0.2, 9);
    for (const int colours : {3, 1}) {
        SCOPED_TRACE(colours);
        const auto twin = [&](const Picture& p8) {
            PictureRef p = Picture::create(p8.width(), p8.height(), colours * 16);
            p->setSampleFormat({colours, false, 16, false});
            for (int y = 0; y < p8.height(); ++y)
                for (int x = 0; x < p8.width(); ++x) {
                    const std::uint8_t* bgr = p8.bits() + std::size_t(y) * p8.stride() + 3 * std::size_t(x);
                    std::uint16_t* s = p->samples16()
                        + (std::size_t(y) * std::size_t(p8.width()) + std::size_t(x)) * std::size_t(colours);
                    for (int c = 0; c < colours; ++c)
                        s[c] = std::uint16_t(bgr[colours == 1 ? 0 : 2 - c] << 8);
                }
            p->refreshFromSamples16();
            return p;
        };
        const auto grey8 = [&](const Picture& p8) { // grey from the blue byte, as the twin
            PictureRef p = p8.clone();
            p->setSampleFormat({1, false, 8, false});
            for (int y = 0; y < p->height(); ++y)
                for (int x = 0; x < p->width(); ++x) {
                    std::uint8_t* b = p->bits() + std::size_t(y) * p->stride() + 3 * std::size_t(x);
                    b[1] = b[2] = b[0];
                }
            return p;
        };
        const PictureRef o8 = colours == 3 ? photo : grey8(*photo);
        const PictureRef m8 = embedWatermark(*o8, wm, Depths::Any).marked;
        const double s8 = detectWatermark(*o8, wm, *m8, kDefaultThreshold, Depths::Any).similarity;
        const double s16
            = detectWatermark(*twin(*o8), wm, *twin(*m8), kDefaultThreshold, Depths::Any).similarity;
        EXPECT_GT(s8, 0.5);
        EXPECT_NEAR(s16, s8, 1e-6);
    }
}

// Marked as 16-bit PNG, found in an 8-bit JPEG copy, and in the 16-bit file itself.
TEST(Depths, SixteenBitMarkFoundInEightBitJpegCopy)
{
    const PictureRef original = pictureOf({3, false, 16, false}, 128, 96);
    const Watermark wm = gaussianWatermark(500, 0.3, 21);
    const EmbedResult e = embedWatermark(*original, wm, Depths::Any);
    const PictureRef png = decodePicture(encodePicture(*e.marked, ImageFormat::Png));
    EXPECT_EQ(png->sampleFormat().depth, 16);
    const PictureRef jpeg = decodePicture(encodePicture(*png, ImageFormat::Jpeg, 92));
    EXPECT_EQ(jpeg->sampleFormat().depth, 8);
    EXPECT_GT(detectWatermark(*original, wm, *png, kDefaultThreshold, Depths::Any).similarity, 0.99);
    const DetectResult r = detectWatermark(*original, wm, *jpeg, kDefaultThreshold, Depths::Any);
    EXPECT_TRUE(r.found) << r.similarity;
}

// Small strengths survive at 16 bits where 8-bit rounding would bury them.
TEST(Depths, SixteenBitKeepsWeakMarks)
{
    const PictureRef original = pictureOf({3, false, 16, false}, 96, 80);
    const Watermark wm = gaussianWatermark(300, 0.002, 4);
    const EmbedResult e = embedWatermark(*original, wm, Depths::Any);
    EXPECT_GT(detectWatermark(*original, wm, *e.marked, kDefaultThreshold, Depths::Any).similarity, 0.95);
}

// The desktop program's rule stays: only 24-bit pictures unless told otherwise.
TEST(Depths, TwentyFourBitRuleStaysTheDefault)
{
    const PictureRef grey = pictureOf({1, false, 8, false}, 16, 16);
    const Watermark wm = gaussianWatermark(10, 0.3, 1);
    test::expectError([&] { embedWatermark(*grey, wm); }, err::Not24Bit);
    test::expectError([&] { detectWatermark(*grey, wm, *grey); }, err::Not24Bit);
}

std::vector<std::uint8_t> cmykJpeg()
{
    const std::vector<JSAMPLE> row(32, 100);
    return test::libjpegFile(8, 8, 4, JCS_CMYK, nullptr, [&](int) { return row.data(); });
}

TEST(Depths, CmykJpegIsRefusedClearly)
{
    test::expectError([] { decodePicture(cmykJpeg()); }, err::InvalidPicture, "CMYK");
}

} // namespace
} // namespace pelinor
