#include "obrada/dct.h"
#include "obrada/fftw_plans.h"
#include "tests/test_support.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace pelinor {
namespace {

// The transform pair summed directly, about (N1 N2)^2 operations, with the shortened pi of
// the reference tables: the oracle for the FFTW-based code on small sizes.
std::vector<double> basis(int n) // element (x, u) at x * n + u, the factor of u included
{
    std::vector<double> b(std::size_t(n) * n);
    for (int x = 0; x < n; ++x)
        for (int u = 0; u < n; ++u)
            b[std::size_t(x) * n + u] = u
                ? std::cos((2 * x + 1) * u * 3.14159265358979 / (2 * n)) * std::sqrt(2.0 / n)
                : std::sqrt(1.0 / n);
    return b;
}

Plane literalDct(const Plane& in, bool forward)
{
    const int n1 = in.n1(), n2 = in.n2();
    const std::vector<double> b1 = basis(n1), b2 = basis(n2);
    auto at = [](const std::vector<double>& b, int n, int x, int u) { return b[std::size_t(x) * n + u]; };
    Plane out(n1, n2);
    for (int p = 0; p < n1; ++p)
        for (int q = 0; q < n2; ++q)
            for (int a = 0; a < n1; ++a)
                for (int c = 0; c < n2; ++c)
                    out(p, q) += in(a, c)
                        * (forward ? at(b1, n1, a, p) * at(b2, n2, c, q)
                                   : at(b1, n1, p, a) * at(b2, n2, q, c));
    return out;
}

Plane randomPlane(int n1, int n2, std::mt19937& rng, double range = 128)
{
    std::uniform_real_distribution<double> d(-range, range);
    Plane p(n1, n2);
    std::generate(p.data(), p.data() + p.size(), [&] { return d(rng); });
    return p;
}

// The largest |a - b|, divided by the largest |b| when `relative`.
double maxDiff(const Plane& a, const Plane& b, bool relative = false)
{
    EXPECT_TRUE(a.n1() == b.n1() && a.n2() == b.n2());
    double d = 0, m = 0;
    for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k)
        d = std::max(d, std::abs(a.data()[k] - b.data()[k])), m = std::max(m, std::abs(b.data()[k]));
    return relative ? d / m : d;
}

Plane forward(const Plane& p)
{
    Plane c;
    DirektniDCT(p, c);
    return c;
}

Plane inverse(const Plane& c)
{
    Plane p(c.n1(), c.n2());
    InverzniDCT(c, p);
    return p;
}

TEST(Dct, AgreesWithLiteralForEverySizeUpTo24)
{
    std::mt19937 rng(12345);
    for (int n1 = 1; n1 <= 24; ++n1)
        for (int n2 = 1; n2 <= 24; ++n2) {
            const Plane plane = randomPlane(n1, n2, rng), coeffs = randomPlane(n1, n2, rng, 2000);
            EXPECT_LE(maxDiff(forward(plane), literalDct(plane, true), true), 1e-9) << n1 << "x" << n2;
            EXPECT_LE(maxDiff(inverse(coeffs), literalDct(coeffs, false), true), 1e-9) << n1 << "x" << n2;
        }
}

TEST(Dct, WorkedExamples)
{
    const double r2 = std::sqrt(2.0), r3 = std::sqrt(3.0);
    struct Worked {
        int n1, n2;
        std::vector<double> plane, coeffs; // element (i, j) at i * n2 + j
    };
    const Worked cases[] = {
        {1, 1, {42.5}, {42.5}},
        {2, 2, {1, 3, 2, 4}, {5, -2, -1, 0}}, // L(0,0)=1, L(1,0)=2, L(0,1)=3, L(1,1)=4
        {2, 1, {1, 3}, {2 * r2, -r2}},
        {1, 2, {1, 3}, {2 * r2, -r2}}, // one pixel wide: the 1-D transform of the other dimension
        {3, 1, {1, 2, 3}, {2 * r3, -r2, 0}},
        {1, 3, {1, 2, 3}, {2 * r3, -r2, 0}},
        {3, 5, std::vector<double>(15, 7.0), {7 * std::sqrt(15.0), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Worked& w : cases) {
        Plane plane(w.n1, w.n2);
        std::copy(w.plane.begin(), w.plane.end(), plane.data());
        const Plane coeffs = forward(plane), back = inverse(coeffs);
        for (std::size_t k = 0; k < w.coeffs.size(); ++k) {
            EXPECT_NEAR(coeffs.data()[k], w.coeffs[k], 1e-13) << w.n1 << "x" << w.n2 << " #" << k;
            EXPECT_NEAR(back.data()[k], w.plane[k], 1e-13) << w.n1 << "x" << w.n2 << " #" << k;
        }
    }
}

TEST(Dct, BasisFunctionsAtLargeSizesInAndOutOfPlace)
{
    // Beyond the oracle's reach: partial row batches and column blocks, two threads, and
    // 40000 beyond 16-bit counters. An inverse comes first, at sizes nothing transformed
    // before: one coefficient gives one scaled basis function, whose transform is that
    // coefficient alone. The cosines of large arguments limit the reference to ~1e-11.
    auto a = [](int n, int u, int x) {
        return std::sqrt((u ? 2.0 : 1.0) / n) * std::cos((2.0 * x + 1) * u * std::numbers::pi / (2 * n));
    };
    for (auto [n1, n2] : {std::pair{517, 389}, {40000, 3}, {2, 40000}})
        for (auto [u0, v0] : {std::pair{0, 0}, {1, n2 - 1}, {n1 - 1, 0}, {n1 / 3, n2 / 2}}) {
            Plane unit(n1, n2), expected(n1, n2);
            unit(u0, v0) = 1.0;
            for (int x = 0; x < n1; ++x)
                for (int y = 0; y < n2; ++y)
                    expected(x, y) = a(n1, u0, x) * a(n2, v0, y);
            const Plane plane = inverse(unit);
            EXPECT_LE(maxDiff(plane, expected, true), 1e-10) << n1 << "x" << n2 << " at " << u0 << "," << v0;
            EXPECT_LE(maxDiff(forward(plane), unit), 1e-12) << n1 << "x" << n2 << " at " << u0 << "," << v0;
            // In place, both ways give the very bits of the transforms between two arrays.
            Plane same = unit;
            InverzniDCT(same, same);
            EXPECT_EQ(maxDiff(same, plane), 0.0);
            DirektniDCT(same, same);
            EXPECT_EQ(maxDiff(same, forward(plane)), 0.0);
        }
}

TEST(Dct, EmptyPlanesMismatchedOutputAndImpossiblePlans)
{
    for (auto [n1, n2] : {std::pair{0, 0}, {0, 5}, {5, 0}}) {
        Plane plane(n1, n2), coeffs(3, 3);
        DirektniDCT(plane, coeffs);
        EXPECT_TRUE(coeffs.n1() == n1 && coeffs.n2() == n2);
        InverzniDCT(coeffs, plane);
    }
    // The output plane is neither re-dimensioned nor touched.
    const Plane coeffs(4, 5);
    for (auto [n1, n2] : {std::pair{4, 4}, {5, 5}, {5, 4}, {0, 0}}) {
        Plane out(n1, n2);
        std::fill(out.data(), out.data() + out.size(), 3.0);
        test::expectError([&] { InverzniDCT(coeffs, out); }, err::SubscriptOutOfRange);
        EXPECT_TRUE(out.n1() == n1 && std::count(out.data(), out.data() + out.size(), 3.0) == n1 * n2);
    }
    test::expectError(
        [] {
            cosinePlan({2000000000, 2000000000, 1, 2000000000, CosineKind::Forward, false, true});
        },
        err::OutOfMemory);
}

TEST(Dct, ConcurrentTransformsAndEvictedPlansStayCorrect)
{
    // More sizes than the plan cache keeps, from several threads at once.
    std::vector<double> worst(4, 0.0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 rng{unsigned(t)};
            for (int k = int(t % 2); k < 36; k += 2) {
                const Plane plane = randomPlane(20 + 7 * (k % 12), 150 - 5 * (k % 12), rng);
                worst[t] = std::max(worst[t], maxDiff(inverse(forward(plane)), plane));
            }
        });
    for (auto& th : threads)
        th.join();
    for (double w : worst)
        EXPECT_LE(w, 1e-10);
}

} // namespace
} // namespace pelinor
