// Registration against plain detection on a 4096 x 3072 picture. The goal: registering a
// copy resized to 0.8 and rotated by 2 degrees, or turned by a right angle and resized,
// and detecting in it costs at most three plain detections.
// Run: build/bin/bench_registration --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "watermark/detector.h"
#include "watermark/embed.h"
#include "watermark/registration.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

namespace pelinor {
namespace {

constexpr int kWidth = 4096, kHeight = 3072;

PictureRef fromMat(const cv::Mat& m)
{
    PictureRef p = Picture::create(m.cols, m.rows, 24, true);
    for (int y = 0; y < m.rows; ++y)
        std::copy_n(
            m.ptr<std::uint8_t>(y), 3 * std::size_t(m.cols), p->bits() + p->stride() * std::size_t(y));
    return p;
}

cv::Mat toMat(const Picture& p)
{
    return cv::Mat(p.height(), p.width(), CV_8UC3, const_cast<std::uint8_t*>(p.bits()), p.stride()).clone();
}

// Photograph-like: shading, a few hundred objects with soft edges, sensor noise.
PictureRef photo()
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    cv::Mat m(kHeight, kWidth, CV_8UC3);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            m.at<cv::Vec3b>(y, x)
                = cv::Vec3b(cv::saturate_cast<std::uint8_t>(100 + 60 * std::sin(x * 0.0013)),
                    cv::saturate_cast<std::uint8_t>(120 + 50 * std::cos(y * 0.0017)),
                    cv::saturate_cast<std::uint8_t>(110 + 40 * std::sin((x + y) * 0.0009)));
    for (int i = 0; i < 600; ++i) {
        const cv::Scalar colour(255 * u(rng), 255 * u(rng), 255 * u(rng));
        const cv::Point centre(int(u(rng) * kWidth), int(u(rng) * kHeight));
        const cv::Size axes(int(20 + 200 * u(rng)), int(20 + 150 * u(rng)));
        if (u(rng) < 0.5)
            cv::ellipse(m, centre, axes, 360 * u(rng), 0, 360, colour, cv::FILLED, cv::LINE_AA);
        else
            cv::rectangle(m, cv::Rect(centre, axes), colour, cv::FILLED, cv::LINE_AA);
    }
    cv::GaussianBlur(m, m, cv::Size(0, 0), 1.2);
    cv::Mat noise(m.size(), CV_16SC3);
    cv::randn(noise, 0, 3);
    m.convertTo(m, CV_16SC3);
    m += noise;
    m.convertTo(m, CV_8UC3);
    return fromMat(m);
}

struct Pictures {
    PictureRef original, marked, suspect, turned;
    Watermark watermark;
};

const Pictures& pictures()
{
    static const Pictures p = [] {
        Pictures out;
        out.original = photo();
        out.watermark = Watermark{"", 1000, 0.1, 0.0, 1.0, std::vector<double>(1000)};
        std::mt19937 rng(9);
        std::normal_distribution<double> normal;
        for (double& w : out.watermark.values)
            w = normal(rng);
        out.marked = embedWatermark(*out.original, out.watermark).marked;
        cv::Mat rotated, small;
        const cv::Mat m = toMat(*out.marked);
        cv::warpAffine(m, rotated,
            cv::getRotationMatrix2D(cv::Point2f(kWidth / 2.f, kHeight / 2.f), 2.0, 1.0), m.size());
        cv::resize(rotated, small, cv::Size(), 0.8, 0.8, cv::INTER_AREA);
        out.suspect = fromMat(small);
        // A portrait copy of a photograph stored on its side.
        cv::Mat quarter;
        cv::rotate(m, quarter, cv::ROTATE_90_CLOCKWISE);
        cv::resize(quarter, small, cv::Size(), 0.8, 0.8, cv::INTER_AREA);
        out.turned = fromMat(small);
        return out;
    }();
    return p;
}

void setUp(benchmark::State& state)
{
    state.counters["similarity"] = 0;
}

// The machine may be shared: with --benchmark_repetitions the minimum is reported next to
// the median, as the figure least disturbed by other work.
void timing(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(3);
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

// Today's detection of a same-size copy: both transforms and the correlation.
void BM_PlainDetection(benchmark::State& state)
{
    const Pictures& p = pictures();
    setUp(state);
    detectWatermark(*p.original, p.watermark, *p.marked); // plans the transforms once
    for (auto _ : state)
        state.counters["similarity"] = detectWatermark(*p.original, p.watermark, *p.marked).similarity;
}
BENCHMARK(BM_PlainDetection)->Apply(timing);

// Bringing the resized, rotated copy onto the original's grid, the warp included.
void BM_Registration(benchmark::State& state)
{
    const Pictures& p = pictures();
    for (auto _ : state)
        benchmark::DoNotOptimize(registerPicture(*p.original, *p.suspect).picture.get());
}
BENCHMARK(BM_Registration)->Apply(timing);

// What the user waits for: registration, then the detection.
void BM_RegisteredDetection(benchmark::State& state)
{
    const Pictures& p = pictures();
    setUp(state);
    detectWatermark(*p.original, p.watermark, *p.marked);
    for (auto _ : state) {
        const Registered r = registerPicture(*p.original, *p.suspect);
        state.counters["similarity"] = detectWatermark(*p.original, p.watermark, *r.picture).similarity;
    }
}
BENCHMARK(BM_RegisteredDetection)->Apply(timing);

// The same for the copy turned by a right angle.
void BM_RegistrationTurned(benchmark::State& state)
{
    const Pictures& p = pictures();
    for (auto _ : state)
        benchmark::DoNotOptimize(registerPicture(*p.original, *p.turned).picture.get());
}
BENCHMARK(BM_RegistrationTurned)->Apply(timing);

void BM_RegisteredDetectionTurned(benchmark::State& state)
{
    const Pictures& p = pictures();
    setUp(state);
    detectWatermark(*p.original, p.watermark, *p.marked);
    for (auto _ : state) {
        const Registered r = registerPicture(*p.original, *p.turned);
        state.counters["similarity"] = detectWatermark(*p.original, p.watermark, *r.picture).similarity;
    }
}
BENCHMARK(BM_RegisteredDetectionTurned)->Apply(timing);

} // namespace
} // namespace pelinor

BENCHMARK_MAIN();
