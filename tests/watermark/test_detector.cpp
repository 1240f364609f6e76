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
