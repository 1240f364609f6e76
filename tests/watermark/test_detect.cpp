#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine_fixtures.h"
#include "image/image_io.h"
#include "obrada/error.h"
#include "watermark/detect.h"
#include "watermark/embed.h"

namespace pelinor {
namespace {

using test::gaussianWatermark;
using test::noisePicture;
using test::samplePhoto;

PictureRef throughBmp(const Picture& p)
{
    return decodePicture(encodePicture(p, ImageFormat::Bmp));
}

class DetectMarkedPhoto : public ::testing::TestWithParam<int> {};

TEST_P(DetectMarkedPhoto, SavedAsBmpDetectsNearOne)
{
    const int n = GetParam();
    const PictureRef photo = samplePhoto();
    const Watermark wm = gaussianWatermark(n, 0.3, unsigned(n));
    const PictureRef marked = throughBmp(*embedWatermark(*photo, wm).marked);
    const DetectResult r = detectWatermark(*photo, wm, *marked);
    EXPECT_GE(r.similarity, 0.95);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.coefficients, n);
    EXPECT_DOUBLE_EQ(r.z, r.similarity * std::sqrt(double(n)));
    EXPECT_LT(r.falsePositive, 1e-10);
    EXPECT_EQ(r.originalWidth, 451);
    EXPECT_EQ(r.suspectHeight, 300);
}

TEST_P(DetectMarkedPhoto, SurvivesJpegAtQuality75)
{
    const int n = GetParam();
    const PictureRef photo = samplePhoto();
    const Watermark wm = gaussianWatermark(n, 0.3, unsigned(n) + 1);
    const PictureRef marked = embedWatermark(*photo, wm).marked;
    const PictureRef jpeg = decodePicture(encodePicture(*marked, ImageFormat::Jpeg, 75));
    ASSERT_EQ(jpeg->bitsPerPixel(), 24);
    const DetectResult r = detectWatermark(*photo, wm, *jpeg);
    EXPECT_TRUE(r.found) << "similarity " << r.similarity;
}

INSTANTIATE_TEST_SUITE_P(Lengths, DetectMarkedPhoto, ::testing::Values(100, 1000));

// Detection pairs the original's significant positions, in scan order, with the values
// the embedding put there: each extracted value is close to its own watermark value.
TEST(Detect, UsesTheEmbeddingsPositionsInTheSameOrder)
{
    const PictureRef photo = samplePhoto();
    const Watermark wm = gaussianWatermark(1000, 0.3, 77);
    const EmbedResult e = embedWatermark(*photo, wm);
    ASSERT_EQ(e.changed, 1000);
    const Extraction x = extractWatermark(analysePicture(*photo), wm, analysePicture(*e.marked));
    EXPECT_EQ(x.significant, 1000);
    ASSERT_EQ(x.values.size(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i) EXPECT_NEAR(x.values[i], wm.values[i], 0.15) << "value " << i;
}

TEST(Detect, WatermarksNeverEmbeddedStayFarBelowTheThreshold)
{
    const PictureRef photo = samplePhoto();
    const Watermark embedded = gaussianWatermark(1000, 0.3, 1);
    const Analysis original = analysePicture(*photo);
    const Analysis marked = analysePicture(*embedWatermark(*photo, embedded).marked);
    double sum2 = 0;
    for (unsigned seed = 1000; seed < 1200; ++seed) {
        const DetectResult r = correlate(original, gaussianWatermark(1000, 0.3, seed), marked);
        EXPECT_LT(r.similarity, 0.5) << "seed " << seed;
        EXPECT_FALSE(r.found);
        sum2 += r.similarity * r.similarity;
    }
    // The z-score assumes a deviation of 1/sqrt(N) for such watermarks.
    EXPECT_NEAR(std::sqrt(sum2 / 200) * std::sqrt(1000.0), 1.0, 0.3);
}

TEST(Detect, SuspectIdenticalToOriginalIsSimplyNotFound)
{
    const PictureRef photo = samplePhoto();
    const DetectResult r = detectWatermark(*photo, gaussianWatermark(100, 0.3, 1), *photo);
    EXPECT_EQ(r.similarity, 0.0);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.coefficients, 100);
}

TEST(Detect, VerdictNeedsSimilarityStrictlyAboveTheThreshold)
{
    const PictureRef photo = samplePhoto();
    const Watermark wm = gaussianWatermark(100, 0.3, 8);
    const Analysis a0 = analysePicture(*photo);
    const Analysis a1 = analysePicture(*embedWatermark(*photo, wm).marked);
    const double s = correlate(a0, wm, a1).similarity;
    EXPECT_FALSE(correlate(a0, wm, a1, s).found);
    EXPECT_TRUE(correlate(a0, wm, a1, std::nextafter(s, 0.0)).found);
}

struct Refusal {
    const char* name;
    int number;
    int suspectWidth, suspectHeight;
    double alpha;
    bool zeroValues;
    std::vector<std::string> mentions;
};

class DetectRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(DetectRefuses, WithAClearError)
{
    const Refusal& c = GetParam();
    const PictureRef original = noisePicture(256, 256, 1);
    const PictureRef suspect = noisePicture(c.suspectWidth, c.suspectHeight, 2);
    Watermark wm = gaussianWatermark(100, c.alpha, 3);
    if (c.zeroValues) std::fill(wm.values.begin(), wm.values.end(), 0.0);
    try {
        detectWatermark(*original, wm, *suspect);
        ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), c.number);
        for (const std::string& m : c.mentions)
            EXPECT_NE(std::string(e.what()).find(m), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DetectRefuses,
    ::testing::Values(Refusal{"ZeroAlpha", err::ZeroAlpha, 256, 256, 0.0, false, {"alpha"}},
                      Refusal{"ZeroWatermark", err::ZeroWatermark, 256, 256, 0.3, true, {"0"}},
                      Refusal{"Crop", err::SizeMismatch, 100, 100, 0.3, false, {"100 x 100", "256 x 256"}},
                      Refusal{"Wider", err::SizeMismatch, 300, 256, 0.3, false, {"300 x 256", "256 x 256"}}),
    [](const ::testing::TestParamInfo<Refusal>& p) { return std::string(p.param.name); });

TEST(Detect, RefusesPicturesThatAreNot24Bit)
{
    const PictureRef good = noisePicture(16, 16, 1);
    const PictureRef bad = Picture::create(16, 16, 8);
    const Watermark wm = gaussianWatermark(10, 0.3, 1);
    for (const auto& [original, suspect] : {std::pair{bad, good}, std::pair{good, bad}}) {
        try {
            detectWatermark(*original, wm, *suspect);
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::Not24Bit);
            EXPECT_EQ(std::string(e.what()), std::string(kOnly24BitText));
        }
    }
}

}  // namespace
}  // namespace pelinor
