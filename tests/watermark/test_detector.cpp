// The detection engine: one original prepared for many suspects and watermarks, each
// answering as the step-by-step detection does.
#include "lab/attacks.h"
#include "tests/test_support.h"
#include "watermark/detector.h"
#include "watermark/embed.h"

#include <gtest/gtest.h>
#include <thread>
#include <utility>
#include <vector>

namespace pelinor {
namespace {

class Detector : public ::testing::Test {
protected:
    const PictureRef original = test::texturedPicture(128, 96);
    const Watermark watermark = test::gaussianWatermark(300, 0.3, 7);
    const PictureRef marked = embedWatermark(*original, watermark).marked;
};

// The shared reference gives the step-by-step figures for every suspect, and only the sign
// of alpha matters once the values are extracted.
TEST_F(Detector, AgreesWithTheStepsAndOnlyTheSignOfAlphaMatters)
{
    const Analysis a0 = analysePicture(*original);
    const Reference reference(*original);
    for (const PictureRef& s : {marked, attackJpeg(*marked, 50), attackNoise(*marked, 10, 3),
             attackBlur(*marked, 1.0), attackCrop(*marked, 0.5, *original)}) {
        const Analysis suspect = analysePicture(*s);
        const DetectResult engine = SuspectTest(reference, suspect).detect(watermark, DecisionRule{});
        const DetectResult steps = correlate(a0, watermark, suspect);
        EXPECT_EQ(std::tuple(engine.similarity, engine.found, engine.coefficients, engine.z),
            std::tuple(steps.similarity, steps.found, steps.coefficients, steps.z));
        EXPECT_EQ(detectWatermark(*original, watermark, *s).similarity, steps.similarity);
    }
    const Analysis suspect = analysePicture(*marked);
    SuspectTest test(reference, suspect);
    const double s = test.detect(watermark, DecisionRule{}).similarity;
    EXPECT_GT(s, 0.95);
    for (double alpha : {0.01, 5.0, -0.3}) {
        Watermark w = watermark;
        w.alpha = alpha;
        EXPECT_NEAR(test.detect(w, DecisionRule{}).similarity, alpha < 0 ? -s : s, 1e-15);
    }
}

// Watermarks of many lengths scored from several threads at once against one suspect give
// what each gives alone.
TEST_F(Detector, ManyLengthsFromManyThreads)
{
    const Reference reference(*original);
    const Analysis suspect = analysePicture(*marked);
    std::vector<Watermark> marks;
    for (int k = 0; k < 24; ++k)
        marks.push_back(test::gaussianWatermark(50 + 25 * (k % 6), 0.3, 100 + unsigned(k)));
    std::vector<double> alone;
    for (const Watermark& w : marks)
        alone.push_back(correlate(analysePicture(*original), w, suspect).similarity);
    SuspectTest shared(reference, suspect);
    std::vector<double> together(marks.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t k = std::size_t(t); k < marks.size(); k += 4)
                together[k] = shared.detect(marks[k], DecisionRule{}).similarity;
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(together, alone);
}

// A reference kept for one length refuses another rather than answering for the wrong one,
// and lets its transform go.
TEST_F(Detector, OneLengthReferenceKeepsOnlyItsCoefficients)
{
    const Reference lean(*original, Depths::Only24Bit, 300);
    EXPECT_EQ(lean.significant(300).count(), 300);
    test::expectError([&] { lean.significant(200); }, err::InvalidCall, "300");
    test::expectError([&] { lean.analysis(); }, err::InvalidCall);
}

} // namespace
} // namespace pelinor

namespace pelinor {
namespace {

// Short watermarks reach a similarity of 0.7 by chance all too often (a 1-value watermark
// always gives +-1): by evidence, and by the desktop program's guarded rule, 1 to 10 values
// never find an unmarked picture, while the bare similarity rule does.
TEST(ShortWatermarks, NeverFindAnUnmarkedPicture)
{
    const PictureRef original = test::texturedPicture(96, 64);
    const Reference reference(*original);
    int bySimilarity = 0;
    for (unsigned copy = 0; copy < 20; ++copy) {
        const PictureRef unmarked = attackNoise(*original, 4, copy + 1);
        const Analysis suspect = analysePicture(*unmarked);
        SuspectTest test(reference, suspect);
        for (int n = 1; n <= 10; ++n) {
            const Watermark w = test::gaussianWatermark(n, 0.1, 100 * copy + unsigned(n));
            EXPECT_FALSE(test.detect(w, DecisionRule::byEvidence()).found) << n << " values, copy " << copy;
            EXPECT_FALSE(test.detect(w, DecisionRule::desktop()).found) << n << " values, copy " << copy;
            bySimilarity += test.detect(w, DecisionRule::bySimilarity()).found;
        }
    }
    EXPECT_GT(bySimilarity, 0) << "the bare similarity rule was expected to be fooled at least once";
}

// The desktop program's figure for a suspect of the original's size is the step-by-step
// detection's: the similarity and verdict of the step-by-step detection, whatever the registration mode,
// and the guard changes nothing for a watermark of 300 values.
TEST(ShortWatermarks, DesktopRuleKeepsTheDesignsFigure)
{
    const PictureRef original = test::texturedPicture(128, 96);
    const Watermark w = test::gaussianWatermark(300, 0.3, 7);
    const PictureRef marked = embedWatermark(*original, w).marked;
    const Reference reference(*original);
    for (const PictureRef& s : {marked, attackJpeg(*marked, 30), attackNoise(*marked, 20, 5), original}) {
        const DetectResult plain = detectWatermark(*original, w, *s);
        const Detection d = detect(reference, w, *s, DecisionRule::desktop(),
            DetectOptions{.mode = RegisterMode::SizesDiffer, .registration = {}, .parallel = false});
        EXPECT_FALSE(d.registration.has_value());
        EXPECT_EQ(d.result.similarity, plain.similarity);
        EXPECT_EQ(d.result.found, plain.found);
    }
}

// Never-embedded watermarks against attacked copies of a marked picture: none is found, by
// its own figure or the family-wise one; the one embedded is.
TEST(Evidence, HundredStrangersAgainstAttackedCopies)
{
    const PictureRef original = test::texturedPicture(128, 96);
    const Watermark mark = test::gaussianWatermark(1000, 0.4, 1);
    const PictureRef marked = embedWatermark(*original, mark).marked;
    const Reference reference(*original);
    for (const PictureRef& s :
        {marked, attackJpeg(*marked, 40), attackBlur(*marked, 1.0), attackNoise(*marked, 8, 2)}) {
        const Analysis suspect = analysePicture(*s);
        SuspectTest test(reference, suspect);
        std::vector<DetectResult> results{test.detect(mark, DecisionRule::byEvidence())};
        for (unsigned k = 0; k < 100; ++k)
            results.push_back(
                test.detect(test::gaussianWatermark(1000, 0.2, 1000 + k), DecisionRule::byEvidence()));
        for (std::size_t k = 1; k < results.size(); ++k)
            EXPECT_FALSE(results[k].found) << k;
        EXPECT_TRUE(results[0].found) << results[0].similarity;
        std::vector<DetectResult*> all;
        for (DetectResult& r : results)
            all.push_back(&r);
        const std::vector<int> lengths(results.size(), 1000);
        decideTogether(all, lengths, DecisionRule::byEvidence());
        EXPECT_TRUE(results[0].found) << results[0].similarity;
        for (std::size_t k = 1; k < results.size(); ++k)
            EXPECT_FALSE(results[k].found) << k;
    }
}

// Two recipients average their copies to hide who leaked: each mark is then at about half
// strength, far below 0.7, yet both are overwhelming evidence and both are found together.
TEST(Evidence, BothColludersFound)
{
    const PictureRef original = test::texturedPicture(128, 96);
    const Watermark a = test::gaussianWatermark(1000, 0.2, 11), b = test::gaussianWatermark(1000, 0.2, 12);
    const PictureRef ma = embedWatermark(*original, a).marked, mb = embedWatermark(*original, b).marked;
    const PictureRef averaged
        = test::makePicture(original->width(), original->height(), [&](int x, int y, int c) {
              return (test::pixelAt(*ma, x, y)[c] + test::pixelAt(*mb, x, y)[c] + 1) / 2;
          });
    const Reference reference(*original);
    const Analysis suspect = analysePicture(*averaged);
    SuspectTest test(reference, suspect);
    std::vector<DetectResult> results{
        test.detect(a, DecisionRule::byEvidence()), test.detect(b, DecisionRule::byEvidence())};
    for (unsigned k = 0; k < 20; ++k)
        results.push_back(
            test.detect(test::gaussianWatermark(1000, 0.2, 500 + k), DecisionRule::byEvidence()));
    EXPECT_LT(results[0].similarity, 0.7);
    EXPECT_LT(results[1].similarity, 0.7);
    std::vector<DetectResult*> all;
    for (DetectResult& r : results)
        all.push_back(&r);
    decideTogether(all, std::vector<int>(results.size(), 1000), DecisionRule::byEvidence());
    EXPECT_TRUE(results[0].found && results[1].found)
        << results[0].similarity << " " << results[1].similarity;
    for (std::size_t k = 2; k < results.size(); ++k)
        EXPECT_FALSE(results[k].found) << k;
}

} // namespace
} // namespace pelinor

namespace pelinor {
namespace {

// A watermark drawn with a mean other than 0 has no false-positive figure in any front end's
// engine call: the similarity decides, under every rule.
TEST(Evidence, MeanNotZeroFallsBackOnTheSimilarity)
{
    const PictureRef original = test::texturedPicture(128, 96);
    Watermark biased = test::gaussianWatermark(300, 0.3, 3);
    biased.mean = 2.0;
    for (double& v : biased.values)
        v += 2.0;
    const PictureRef marked = embedWatermark(*original, biased).marked;
    const Reference reference(*original);
    for (const PictureRef& s : {marked, original}) {
        const Analysis suspect = analysePicture(*s);
        SuspectTest test(reference, suspect);
        for (const DecisionRule& rule : {DecisionRule::byEvidence(), DecisionRule::desktop()}) {
            const DetectResult r = test.detect(biased, rule);
            EXPECT_TRUE(std::isnan(r.logFalsePositive));
            EXPECT_EQ(r.found, r.similarity > 0.7) << r.similarity;
        }
    }
}

} // namespace
} // namespace pelinor
