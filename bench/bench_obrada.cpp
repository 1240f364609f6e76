// Timings of the numeric module at typical picture sizes, with raw FFTW for comparison.
// Run: build/bin/bench_obrada --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "obrada/colour.h"
#include "obrada/dct.h"
#include "obrada/selection.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <fftw3.h>
#include <random>
#include <vector>

namespace pelinor {
namespace {

// A photograph-like luminance plane minus 128: smooth shading, an edge and some noise.
Plane photoPlane(int w, int h)
{
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 4.0);
    Plane p(w, h);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            double v
                = 60.0 * std::sin(x * 0.01) * std::cos(y * 0.013) + (x > w / 3 ? 30.0 : -20.0) + noise(rng);
            p(x, y) = std::fmax(-128.0, std::fmin(127.0, v));
        }
    return p;
}

ByteArray2D randomPixels(int w, int h)
{
    std::mt19937 rng(2);
    ByteArray2D a(3 * w, h);
    for (std::size_t k = 0; k < std::size_t(3) * w * h; ++k)
        a.data()[k] = std::uint8_t(rng());
    return a;
}

// The machine may be shared: with --benchmark_repetitions the minimum is reported
// next to the median, as the figure least disturbed by other work, and the CPU column
// counts every thread of the process, which other load disturbs less than wall time.
void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({512, 512})->Args({2048, 2048})->Args({4096, 3072})->Unit(benchmark::kMillisecond);
    b->UseRealTime()->MeasureProcessCPUTime();
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

void BM_DirektniDCT(benchmark::State& state)
{
    const Plane plane = photoPlane(int(state.range(0)), int(state.range(1)));
    Plane coeffs;
    DirektniDCT(plane, coeffs); // plans once, as a second picture of the same size would
    for (auto _ : state) {
        DirektniDCT(plane, coeffs);
        benchmark::DoNotOptimize(coeffs.data());
    }
}
BENCHMARK(BM_DirektniDCT)->Apply(sizes);

void BM_InverzniDCT(benchmark::State& state)
{
    Plane plane = photoPlane(int(state.range(0)), int(state.range(1)));
    Plane coeffs;
    DirektniDCT(plane, coeffs);
    InverzniDCT(coeffs, plane);
    for (auto _ : state) {
        InverzniDCT(coeffs, plane);
        benchmark::DoNotOptimize(plane.data());
    }
}
BENCHMARK(BM_InverzniDCT)->Apply(sizes);

// FFTW alone: one unnormalised out-of-place REDFT10, ESTIMATE plan, 2 threads.
void BM_RawFftwRedft10(benchmark::State& state)
{
    static const bool threads = fftw_init_threads() != 0;
    if (!threads) state.SkipWithError("FFTW has no threads");
    const int n1 = int(state.range(0)), n2 = int(state.range(1));
    const Plane plane = photoPlane(n1, n2);
    Plane out(n1, n2);
    Plane in = plane;
    fftw_plan_with_nthreads(2);
    fftw_plan plan
        = fftw_plan_r2r_2d(n1, n2, in.data(), out.data(), FFTW_REDFT10, FFTW_REDFT10, FFTW_ESTIMATE);
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out.data());
    }
    fftw_destroy_plan(plan);
}
BENCHMARK(BM_RawFftwRedft10)->Apply(sizes);

void BM_PretvoriUYCbCr(benchmark::State& state)
{
    ByteArray2D pixels = randomPixels(int(state.range(0)), int(state.range(1)));
    ByteArray2D planes;
    for (auto _ : state) {
        PretvoriUYCbCr(pixels.view(), planes);
        benchmark::DoNotOptimize(planes.data());
    }
}
BENCHMARK(BM_PretvoriUYCbCr)->Apply(sizes);

void BM_PretvoriURGB(benchmark::State& state)
{
    ByteArray2D planes = randomPixels(int(state.range(0)), int(state.range(1)));
    ByteArray2D pixels(planes.n1(), planes.n2());
    for (auto _ : state) {
        PretvoriURGB(planes, pixels.view());
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_PretvoriURGB)->Apply(sizes);

void BM_OdrediPrag1000(benchmark::State& state)
{
    Plane coeffs;
    DirektniDCT(photoPlane(int(state.range(0)), int(state.range(1))), coeffs);
    for (auto _ : state)
        benchmark::DoNotOptimize(OdrediPrag(coeffs, 1000));
}
BENCHMARK(BM_OdrediPrag1000)->Apply(sizes);

void BM_SelectionScan1000(benchmark::State& state)
{
    Plane coeffs;
    DirektniDCT(photoPlane(int(state.range(0)), int(state.range(1))), coeffs);
    const double r = OdrediPrag(coeffs, 1000);
    for (auto _ : state) {
        double sum = 0;
        forEachSignificant(coeffs, r, [&](int, int, long long) { sum += 1; });
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_SelectionScan1000)->Apply(sizes);

} // namespace
} // namespace pelinor

BENCHMARK_MAIN();
