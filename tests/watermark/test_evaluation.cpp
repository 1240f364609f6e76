#include <gtest/gtest.h>

#include <random>

#include "lab_pictures.h"
#include "obrada/error.h"
#include "watermark/evaluation.h"
#include "watermark/multi_detect.h"

namespace pelinor {
namespace {

using testing::errorNumber;
using testing::texturedPicture;

Watermark gaussianWatermark(int n, double alpha, unsigned seed)
{
    Watermark w;
    w.length = n;
    w.alpha = alpha;
    w.mean = 0.0;
    w.deviation = 1.0;
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int i = 0; i < n; ++i) w.values.push_back(normal(rng));
    return w;
}

class LabFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        original = texturedPicture(128, 96);
        watermark = gaussianWatermark(300, 0.3, 7);
        marked = embedWatermark(*original, watermark).marked;
    }
    PictureRef original;
    PictureRef marked;
    Watermark watermark;
};

TEST_F(LabFixture, ReferenceDetectorAgreesWithTheDetection)
{
    const Analysis a0 = analysePicture(*original);
    const ReferenceDetector detector(a0, watermark.length);
    const std::vector<PictureRef> suspects = {marked, attackJpeg(*marked, 50), attackNoise(*marked, 10, 3),
                                              attackBlur(*marked, 1.0), attackCrop(*marked, 0.5, *original)};
    for (const PictureRef& s : suspects) {
        const DetectResult fast = detector.detect(analysePicture(*s), watermark);
        const DetectResult reference = correlate(a0, watermark, analysePicture(*s));
        EXPECT_NEAR(fast.similarity, reference.similarity, 1e-12);
        EXPECT_EQ(fast.found, reference.found);
        EXPECT_EQ(fast.coefficients, reference.coefficients);
        EXPECT_NEAR(fast.z, reference.z, 1e-9);
    }
    EXPECT_GT(detector.detect(analysePicture(*marked), watermark).similarity, 0.95);
}

TEST_F(LabFixture, ReferenceDetectorFaults)
{
    const Analysis a0 = analysePicture(*original);
    const ReferenceDetector detector(a0, watermark.length);
    // The original itself: every extracted value is 0, a plain "not found".
    const DetectResult same = detector.detect(a0, watermark);
    EXPECT_EQ(same.similarity, 0.0);
    EXPECT_FALSE(same.found);

    Watermark zeroAlpha = watermark;
    zeroAlpha.alpha = 0.0;
    EXPECT_EQ(errorNumber([&] { detector.detect(a0, zeroAlpha); }), err::ZeroAlpha);
    Watermark zeros = watermark;
    std::fill(zeros.values.begin(), zeros.values.end(), 0.0);
    EXPECT_EQ(errorNumber([&] { detector.detect(a0, zeros); }), err::ZeroWatermark);
    const PictureRef other = texturedPicture(128, 95);
    EXPECT_EQ(errorNumber([&] { detector.extract(analysePicture(*other)); }), err::SizeMismatch);
    EXPECT_EQ(errorNumber([&] { ReferenceDetector(a0, 0); }), err::SubscriptOutOfRange);
}

TEST_F(LabFixture, OnlyTheSignOfAlphaMatters)
{
    const ReferenceDetector detector(analysePicture(*original), watermark.length);
    const std::vector<double> x = detector.extract(analysePicture(*marked));
    const double s = detector.detect(x, watermark).similarity;
    for (double alpha : {0.01, 5.0, -0.3}) {
        Watermark w = watermark;
        w.alpha = alpha;
        EXPECT_NEAR(detector.detect(x, w).similarity, alpha < 0 ? -s : s, 1e-15);
    }
}

TEST(RandomWatermarks, BehaveLikeNeverEmbeddedOnes)
{
    std::vector<double> extracted(1000);
    std::mt19937 rng(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (double& x : extracted) x = normal(rng);
    const Watermark like = gaussianWatermark(1000, 0.3, 1);
    const std::vector<double> s = randomSimilarities(extracted, like, 500, 11);
    ASSERT_EQ(s.size(), 500u);
    EXPECT_EQ(s, randomSimilarities(extracted, like, 500, 11));
    EXPECT_NE(s, randomSimilarities(extracted, like, 500, 12));
    double sum = 0, sumSq = 0;
    for (double v : s) {
        sum += v;
        sumSq += v * v;
    }
    EXPECT_NEAR(sum / 500, 0.0, 0.005);
    EXPECT_NEAR(std::sqrt(sumSq / 500), 1.0 / std::sqrt(1000.0), 0.004);
}

TEST(Percentile, InterpolatesBetweenRanks)
{
    EXPECT_EQ(percentile({}, 50), 0.0);
    EXPECT_EQ(percentile({3.0}, 99), 3.0);
    EXPECT_DOUBLE_EQ(percentile({4, 1, 3, 2, 5}, 50), 3.0);
    EXPECT_DOUBLE_EQ(percentile({4, 1, 3, 2, 5}, 100), 5.0);
    EXPECT_DOUBLE_EQ(percentile({1, 2}, 25), 1.25);
}

TEST_F(LabFixture, EvaluationRowsAndFalsePositives)
{
    EvaluationOptions options;
    options.randomCount = 200;
    int calls = 0, lastDone = 0, lastTotal = 0;
    const Evaluation ev
        = evaluateRobustness(*original, watermark, options, [&](int done, int total, const std::string&) {
              ++calls;
              EXPECT_EQ(done, lastDone + 1);
              lastDone = done;
              lastTotal = total;
          });
    EXPECT_EQ(lastDone, lastTotal);
    EXPECT_EQ(calls, lastTotal);
    ASSERT_EQ(ev.rows.size(), standardBattery().size() + 2);
    EXPECT_EQ(ev.rows[0].family, "none");
    EXPECT_GT(ev.rows[0].result.similarity, 0.95);
    EXPECT_TRUE(ev.rows[0].result.found);
    EXPECT_NEAR(ev.rows[0].psnr, ev.markedPsnr, 1e-12);
    EXPECT_EQ(ev.rows[1].family, "control");
    EXPECT_FALSE(ev.rows[1].result.found);
    EXPECT_EQ(ev.rows[1].result.similarity, 0.0);
    EXPECT_EQ(ev.rows[2].label, "JPEG Q=90");
    EXPECT_TRUE(ev.rows[2].result.found);
    for (const EvaluationRow& r : ev.rows) {
        if (r.family != "control") {
            EXPECT_TRUE(std::isfinite(r.psnr)) << r.label;
        }
        EXPECT_LE(r.result.similarity, 1.0);
    }
    ASSERT_EQ(ev.randomSimilarities.size(), 200u);
    EXPECT_LT(ev.randomMax, 0.5);
    EXPECT_LE(ev.randomP99, ev.randomMax);

    // The worker count changes nothing.
    options.jobs = 1;
    const Evaluation serial = evaluateRobustness(*original, watermark, options);
    for (std::size_t i = 0; i < ev.rows.size(); ++i)
        EXPECT_EQ(serial.rows[i].result.similarity, ev.rows[i].result.similarity) << ev.rows[i].label;
    EXPECT_EQ(serial.randomSimilarities, ev.randomSimilarities);
}

class TargetPsnr : public LabFixture, public ::testing::WithParamInterface<double> {};

TEST_P(TargetPsnr, LandsJustAboveTheTarget)
{
    const double target = GetParam();
    for (double fileAlpha : {0.3, -0.3}) {
        Watermark w = watermark;
        w.alpha = fileAlpha;
        const TargetPsnrEmbed chosen = embedForTargetPsnr(*original, w, target);
        EXPECT_GE(chosen.embedded.psnr, target);
        EXPECT_LT(chosen.embedded.psnr, target + 0.25);
        EXPECT_EQ(chosen.alpha < 0, fileAlpha < 0);
        // A little stronger falls below the target.
        w.alpha = chosen.alpha * 1.02;
        EXPECT_LT(embedWatermark(*original, w).psnr, target);
        // And the file's own alpha still detects the result.
        EXPECT_TRUE(detectWatermark(*original, watermark, *chosen.embedded.marked).found == (fileAlpha > 0));
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, TargetPsnr, ::testing::Values(32.0, 38.0, 44.0));

TEST_F(LabFixture, UnreachableTargetIsRefused)
{
    EXPECT_EQ(errorNumber([&] { alphaForTargetPsnr(*original, watermark, 150.0); }), err::InvalidCall);
    EXPECT_EQ(errorNumber([&] { alphaForTargetPsnr(*original, watermark, -3.0); }), err::InvalidCall);
    Watermark zero = watermark;
    zero.alpha = 0.0;
    EXPECT_EQ(errorNumber([&] { alphaForTargetPsnr(*original, zero, 40.0); }), err::ZeroAlpha);
}

}  // namespace
}  // namespace pelinor
