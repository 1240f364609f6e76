#include <gtest/gtest.h>

#include "fixtures.h"
#include "watermark/detect.h"
#include "watermark/embed.h"
#include "watermark/multi_detect.h"

namespace pelinor {
namespace {

using test::gaussianWatermark;

TEST(Detect, MarkedPhotoSavedAsBmpDetectsNearOneAndSurvivesJpeg75)
{
    const PictureRef photo = test::samplePhoto();
    for (const int n : {100, 1000}) {
        SCOPED_TRACE(n);
        const Watermark wm = gaussianWatermark(n, 0.3, unsigned(n));
        const PictureRef marked = embedWatermark(*photo, wm).marked;
        const DetectResult r = detectWatermark(*photo, wm, *decodePicture(encodePicture(*marked, ImageFormat::Bmp)));
        EXPECT_GE(r.similarity, 0.95);
        EXPECT_TRUE(r.found);
        EXPECT_EQ(r.coefficients, n);
        EXPECT_DOUBLE_EQ(r.z, r.similarity * std::sqrt(double(n)));
        EXPECT_LT(r.falsePositive, 1e-10);
        EXPECT_EQ(std::vector<int>({r.originalWidth, r.originalHeight, r.suspectWidth, r.suspectHeight}),
                  std::vector<int>({451, 300, 451, 300}));
        const PictureRef jpeg = decodePicture(encodePicture(*marked, ImageFormat::Jpeg, 75));
        EXPECT_TRUE(detectWatermark(*photo, wm, *jpeg).found);
    }
}

// The sample photo marked with a watermark of 1000 values, analysed once for all tests.
class MarkedPhoto : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const PictureRef photo = test::samplePhoto();
        marked = embedWatermark(*photo, wm);
        original = analysePicture(*photo);
        suspect = analysePicture(*marked.marked);
    }
    static inline const Watermark wm = gaussianWatermark(1000, 0.3, 77);
    static inline EmbedResult marked;
    static inline Analysis original, suspect;
};

// Each extracted value is close to the value the embedding put at that position.
TEST_F(MarkedPhoto, DetectionUsesTheEmbeddingsPositionsInTheSameOrder)
{
    ASSERT_EQ(marked.changed, 1000);
    const Extraction x = extractWatermark(original, wm, suspect);
    EXPECT_EQ(x.significant, 1000);
    ASSERT_EQ(x.values.size(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i) EXPECT_NEAR(x.values[i], wm.values[i], 0.15) << "value " << i;
    // The verdict needs a similarity strictly above the threshold.
    const double s = correlate(original, wm, suspect).similarity;
    EXPECT_FALSE(correlate(original, wm, suspect, s).found);
    EXPECT_TRUE(correlate(original, wm, suspect, std::nextafter(s, 0.0)).found);
}

TEST_F(MarkedPhoto, WatermarksNeverEmbeddedStayFarBelowTheThreshold)
{
    double squares = 0;
    for (unsigned seed = 1000; seed < 1200; ++seed) {
        const DetectResult r = correlate(original, gaussianWatermark(1000, 0.3, seed), suspect);
        EXPECT_LT(r.similarity, 0.5) << "seed " << seed;
        squares += r.similarity * r.similarity;
    }
    // The z-score assumes a deviation of 1/sqrt(N) for such watermarks.
    EXPECT_NEAR(std::sqrt(squares / 200 * 1000), 1.0, 0.3);
}

TEST_F(MarkedPhoto, SuspectIdenticalToTheOriginalIsSimplyNotFound)
{
    const DetectResult r = correlate(original, wm, original);
    EXPECT_EQ(r.similarity, 0.0);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.coefficients, 1000);
    EXPECT_EQ(ReferenceDetector(original, 1000).detect(original, wm).similarity, 0.0);
}

struct Refusal {
    const char* name;
    int number;
    int suspectWidth, suspectHeight;
    double alpha;
    bool zeroValues;
    const char* mentions[2];
};

// Detection and the detector for many watermarks refuse alike.
class DetectRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(DetectRefuses, WithAClearError)
{
    const Refusal& c = GetParam();
    const PictureRef original = test::noisePicture(64, 64, 1);
    const PictureRef suspect = test::noisePicture(c.suspectWidth, c.suspectHeight, 2);
    Watermark wm = gaussianWatermark(100, c.alpha, 3);
    if (c.zeroValues) std::fill(wm.values.begin(), wm.values.end(), 0.0);
    const ReferenceDetector detector(analysePicture(*original), 100);
    for (const char* mention : c.mentions) {
        test::expectError([&] { detectWatermark(*original, wm, *suspect); }, c.number, mention);
        test::expectError([&] { detector.detect(analysePicture(*suspect), wm); }, c.number, mention);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, DetectRefuses,
    ::testing::Values(Refusal{"ZeroAlpha", err::ZeroAlpha, 64, 64, 0.0, false, {"alpha", ""}},
                      Refusal{"ZeroWatermark", err::ZeroWatermark, 64, 64, 0.3, true, {"0", ""}},
                      Refusal{"Crop", err::SizeMismatch, 30, 30, 0.3, false, {"30", "64"}},
                      Refusal{"Wider", err::SizeMismatch, 80, 64, 0.3, false, {"80", "64"}}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(ReferenceDetector, RefusesLengthBelowOne)
{
    test::expectError([] { ReferenceDetector(analysePicture(*test::noisePicture(8, 8, 1)), 0); },
                      err::SubscriptOutOfRange);
}

}  // namespace
}  // namespace pelinor
