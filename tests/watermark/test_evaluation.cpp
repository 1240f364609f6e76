#include <gtest/gtest.h>

#include "fixtures.h"
#include "watermark/attacks.h"
#include "watermark/evaluation.h"
#include "watermark/multi_detect.h"

namespace pelinor {
namespace {

class Lab : public ::testing::Test {
protected:
    const PictureRef original = test::texturedPicture(128, 96);
    const Watermark watermark = test::gaussianWatermark(300, 0.3, 7);
    const PictureRef marked = embedWatermark(*original, watermark).marked;
};

TEST_F(Lab, ReferenceDetectorAgreesWithCorrelateAndOnlyTheSignOfAlphaMatters)
{
    const Analysis a0 = analysePicture(*original);
    const ReferenceDetector detector(a0, watermark.length);
    for (const PictureRef& s : {marked, attackJpeg(*marked, 50), attackNoise(*marked, 10, 3), attackBlur(*marked, 1.0),
                                attackCrop(*marked, 0.5, *original)}) {
        const DetectResult fast = detector.detect(analysePicture(*s), watermark);
        const DetectResult reference = correlate(a0, watermark, analysePicture(*s));
        EXPECT_NEAR(fast.similarity, reference.similarity, 1e-12);
        EXPECT_EQ(fast.found, reference.found);
        EXPECT_EQ(fast.coefficients, reference.coefficients);
        EXPECT_NEAR(fast.z, reference.z, 1e-9);
    }
    const std::vector<double> x = detector.extract(analysePicture(*marked));
    const double s = detector.detect(x, watermark).similarity;
    EXPECT_GT(s, 0.95);
    for (double alpha : {0.01, 5.0, -0.3}) {
        Watermark w = watermark;
        w.alpha = alpha;
        EXPECT_NEAR(detector.detect(x, w).similarity, alpha < 0 ? -s : s, 1e-15);
    }
}

TEST_F(Lab, EvaluationRowsAndFalsePositives)
{
    EvaluationOptions options;
    options.randomCount = 200;
    int calls = 0, lastDone = 0, lastTotal = 0;
    const Evaluation ev = evaluateRobustness(*original, watermark, options, [&](int done, int total, const std::string&) {
        EXPECT_EQ(done, ++calls);
        lastDone = done;
        lastTotal = total;
    });
    EXPECT_EQ(lastDone, lastTotal);
    ASSERT_EQ(ev.rows.size(), standardBattery().size() + 2);
    EXPECT_EQ(ev.rows[0].family, "none");
    EXPECT_GT(ev.rows[0].result.similarity, 0.95);
    EXPECT_NEAR(ev.rows[0].psnr, ev.markedPsnr, 1e-12);
    EXPECT_EQ(ev.rows[1].family, "control");
    EXPECT_EQ(ev.rows[1].result.similarity, 0.0);
    EXPECT_FALSE(ev.rows[1].result.found);
    EXPECT_EQ(ev.rows[2].label, "JPEG Q=90");
    EXPECT_TRUE(ev.rows[2].result.found);
    for (const EvaluationRow& r : ev.rows) EXPECT_TRUE(r.family == "control" || std::isfinite(r.psnr)) << r.label;

    // Never-embedded watermarks: similarity near normal with deviation 1/sqrt(N).
    ASSERT_EQ(ev.randomSimilarities.size(), 200u);
    double squares = 0;
    for (double s : ev.randomSimilarities) squares += s * s;
    EXPECT_NEAR(std::sqrt(squares / 200 * 300), 1.0, 0.25);
    EXPECT_LT(ev.randomMax, 0.5);
    EXPECT_DOUBLE_EQ(ev.randomP99, percentile(ev.randomSimilarities, 99));
    EXPECT_LE(ev.randomP99, ev.randomMax);
    EXPECT_DOUBLE_EQ(percentile({4, 1, 3, 2, 5}, 50), 3.0);
    EXPECT_DOUBLE_EQ(percentile({1, 2}, 25), 1.25);

    options.jobs = 1;  // the worker count changes nothing
    const Evaluation serial = evaluateRobustness(*original, watermark, options);
    for (std::size_t i = 0; i < ev.rows.size(); ++i)
        EXPECT_EQ(serial.rows[i].result.similarity, ev.rows[i].result.similarity) << ev.rows[i].label;
    EXPECT_EQ(serial.randomSimilarities, ev.randomSimilarities);
}

TEST_F(Lab, TargetPsnrLandsJustAboveTheTarget)
{
    for (const double target : {32.0, 38.0, 44.0}) {
        for (const double fileAlpha : {0.3, -0.3}) {
            SCOPED_TRACE(std::to_string(target) + " dB, alpha " + std::to_string(fileAlpha));
            Watermark w = watermark;
            w.alpha = fileAlpha;
            const TargetPsnrEmbed chosen = embedForTargetPsnr(*original, w, target);
            EXPECT_GE(chosen.embedded.psnr, target);
            EXPECT_LT(chosen.embedded.psnr, target + 0.25);
            EXPECT_EQ(chosen.alpha < 0, fileAlpha < 0);
            w.alpha = chosen.alpha * 1.02;  // a little stronger falls below the target
            EXPECT_LT(embedWatermark(*original, w).psnr, target);
            // The file's alpha still detects the result.
            EXPECT_EQ(detectWatermark(*original, watermark, *chosen.embedded.marked).found, fileAlpha > 0);
        }
    }
    for (const double unreachable : {150.0, -3.0})
        test::expectError([&] { alphaForTargetPsnr(*original, watermark, unreachable); }, err::InvalidCall);
    Watermark zero = watermark;
    zero.alpha = 0.0;
    test::expectError([&] { alphaForTargetPsnr(*original, zero, 40.0); }, err::ZeroAlpha);
}

}  // namespace
}  // namespace pelinor
