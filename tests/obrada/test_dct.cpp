#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "obrada/dct.h"
#include "obrada/fftw_plans.h"

namespace pelinor {
namespace {

// The direct evaluation of the transform pair, in its reference order of operations,
// with its shortened pi, as the reference for the FFTW-based code.
class LiteralDct {
public:
    static constexpr double kPi = 3.14159265358979;

    void PripremiBazu(int upper2, int upper1)
    {
        build(m_baza1, upper1 + 1);
        build(m_baza2, upper2 + 1);
    }

    void DirektniDCT(const Plane& L, Plane& X)
    {
        const int n1 = L.upper1() + 1, n2 = L.upper2() + 1;
        const double c1 = std::sqrt(1.0 / n1), c2 = std::sqrt(1.0 / n2);
        PripremiBazu(n2 - 1, n1 - 1);
        X.resize(n1, n2);
        double s = 0;
        for (int x = 0; x < n1; ++x)
            for (int y = 0; y < n2; ++y) s += L.at(x, y);
        X.at(0, 0) = (c2 * c1) * s;
        for (int u = 1; u < n1; ++u) {
            s = 0;
            for (int x = 0; x < n1; ++x)
                for (int y = 0; y < n2; ++y) s += L.at(x, y) * m_baza1.at(x, u);
            X.at(u, 0) = c2 * s;
        }
        for (int v = 1; v < n2; ++v) {
            s = 0;
            for (int x = 0; x < n1; ++x)
                for (int y = 0; y < n2; ++y) s += L.at(x, y) * m_baza2.at(y, v);
            X.at(0, v) = c1 * s;
        }
        for (int u = 1; u < n1; ++u)
            for (int v = 1; v < n2; ++v) {
                s = 0;
                for (int y = 0; y < n2; ++y) {
                    double t = 0;
                    for (int x = 0; x < n1; ++x) t += m_baza1.at(x, u) * L.at(x, y);
                    s += t * m_baza2.at(y, v);
                }
                X.at(u, v) = s;
            }
    }

    void InverzniDCT(const Plane& X, Plane& L) const
    {
        const int n1 = L.upper1() + 1, n2 = L.upper2() + 1;
        const double c1 = std::sqrt(1.0 / n1), c2 = std::sqrt(1.0 / n2);
        for (int x = 0; x < n1; ++x)
            for (int y = 0; y < n2; ++y) {
                double s = (c2 * c1) * X.at(0, 0);
                for (int u = 1; u < n1; ++u) s += (c2 * X.at(u, 0)) * m_baza1.at(x, u);
                for (int v = 1; v < n2; ++v) s += (c1 * X.at(0, v)) * m_baza2.at(y, v);
                for (int u = 1; u < n1; ++u) {
                    double t = 0;
                    for (int v = 1; v < n2; ++v) t += X.at(u, v) * m_baza2.at(y, v);
                    s += t * m_baza1.at(x, u);
                }
                L.at(x, y) = s;
            }
    }

private:
    static void build(Plane& baza, int n)
    {
        baza.resize(n, n);
        const double k = std::sqrt(2.0 / n);
        for (int x = 0; x < n; ++x)
            for (int u = 0; u < n; ++u) {
                const int m = (2 * x + 1) * u;
                baza.at(x, u) = std::cos(double(m) * kPi / double(2 * n)) * k;
            }
    }

    Plane m_baza1, m_baza2;
};

Plane randomPlane(int n1, int n2, std::mt19937& rng, double lo = -128, double hi = 127)
{
    std::uniform_real_distribution<double> d(lo, hi);
    Plane p(n1, n2);
    for (std::size_t k = 0; k < p.size(); ++k) p.data()[k] = d(rng);
    return p;
}

double maxAbs(const Plane& p)
{
    double m = 0;
    for (std::size_t k = 0; k < p.size(); ++k) m = std::max(m, std::abs(p.data()[k]));
    return m;
}

double maxDiff(const Plane& a, const Plane& b)
{
    EXPECT_EQ(a.n1(), b.n1());
    EXPECT_EQ(a.n2(), b.n2());
    double m = 0;
    for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k)
        m = std::max(m, std::abs(a.data()[k] - b.data()[k]));
    return m;
}

TEST(Dct, AgreesWithLiteralForEverySizeUpTo24)
{
    std::mt19937 rng(12345);
    LiteralDct literal;
    for (int n1 = 1; n1 <= 24; ++n1)
        for (int n2 = 1; n2 <= 24; ++n2) {
            const Plane plane = randomPlane(n1, n2, rng);
            Plane fast, slow;
            DirektniDCT(plane, fast);
            literal.DirektniDCT(plane, slow);
            ASSERT_LE(maxDiff(fast, slow), 1e-9 * maxAbs(slow)) << n1 << "x" << n2;

            // Inverse of unrelated coefficients, against the tables of the same size.
            const Plane coeffs = randomPlane(n1, n2, rng, -2000, 2000);
            Plane back(n1, n2), backSlow(n1, n2);
            InverzniDCT(coeffs, back);
            literal.InverzniDCT(coeffs, backSlow);
            ASSERT_LE(maxDiff(back, backSlow), 1e-9 * maxAbs(backSlow)) << n1 << "x" << n2;
        }
}

struct Worked {
    int n1, n2;
    std::vector<double> plane;   // first-index-major
    std::vector<double> coeffs;  // first-index-major
};

TEST(Dct, WorkedExamples)
{
    const double r2 = std::sqrt(2.0);
    const Worked cases[] = {
        {1, 1, {42.5}, {42.5}},
        {1, 1, {-128}, {-128}},
        // L(0,0)=1, L(1,0)=2, L(0,1)=3, L(1,1)=4; index (x, y) sits at x * n2 + y.
        {2, 2, {1, 3, 2, 4}, {5, -2, -1, 0}},
        {2, 1, {1, 3}, {2 * r2, -r2}},
        // One row high or one pixel wide: the 1-D orthonormal DCT of the other dimension.
        {1, 2, {1, 3}, {2 * r2, -r2}},
        {3, 1, {1, 2, 3}, {2 * std::sqrt(3.0), -std::sqrt(2.0), 0}},
        {1, 3, {1, 2, 3}, {2 * std::sqrt(3.0), -std::sqrt(2.0), 0}},
        // Constant planes: a * sqrt(N1 * N2) at DC, zero elsewhere.
        {3, 5, std::vector<double>(15, 7.0), [] { std::vector<double> c(15, 0.0); c[0] = 7 * std::sqrt(15.0); return c; }()},
        {4, 4, std::vector<double>(16, -2.0), [] { std::vector<double> c(16, 0.0); c[0] = -8; return c; }()},
    };
    for (const Worked& w : cases) {
        Plane plane(w.n1, w.n2);
        std::copy(w.plane.begin(), w.plane.end(), plane.data());
        Plane coeffs;
        DirektniDCT(plane, coeffs);
        ASSERT_EQ(coeffs.n1(), w.n1);
        ASSERT_EQ(coeffs.n2(), w.n2);
        for (std::size_t k = 0; k < w.coeffs.size(); ++k)
            EXPECT_NEAR(coeffs.data()[k], w.coeffs[k], 1e-13) << w.n1 << "x" << w.n2 << " #" << k;
        Plane back(w.n1, w.n2);
        InverzniDCT(coeffs, back);
        for (std::size_t k = 0; k < w.plane.size(); ++k)
            EXPECT_NEAR(back.data()[k], w.plane[k], 1e-13) << w.n1 << "x" << w.n2 << " #" << k;
    }
}

TEST(Dct, RoundTripsOddPrimeAndThreadedSizes)
{
    std::mt19937 rng(7);
    // 40000 is beyond what 16-bit counters could reach.
    for (auto [n1, n2] : {std::pair{1, 1}, {1, 257}, {131, 1}, {97, 89}, {257, 131}, {300, 200}, {512, 384},
                          {40000, 3}, {2, 40000}}) {
        const Plane plane = randomPlane(n1, n2, rng);
        Plane coeffs, back(n1, n2);
        DirektniDCT(plane, coeffs);
        InverzniDCT(coeffs, back);
        EXPECT_LE(maxDiff(plane, back), 1e-10) << n1 << "x" << n2;
    }
}

TEST(Dct, BasisFunctionGivesOneCoefficient)
{
    // Large enough for FFTW's threads; the literal would take too long here.
    const int n1 = 300, n2 = 211, u0 = 17, v0 = 150;
    Plane plane(n1, n2);
    for (int x = 0; x < n1; ++x)
        for (int y = 0; y < n2; ++y)
            plane(x, y) = std::cos((2 * x + 1) * u0 * std::numbers::pi / (2 * n1)) * std::cos((2 * y + 1) * v0 * std::numbers::pi / (2 * n2));
    Plane coeffs;
    DirektniDCT(plane, coeffs);
    const double expected = std::sqrt(n1 / 2.0) * std::sqrt(n2 / 2.0);
    for (int u = 0; u < n1; ++u)
        for (int v = 0; v < n2; ++v)
            ASSERT_NEAR(coeffs(u, v), u == u0 && v == v0 ? expected : 0.0, 1e-9) << u << "," << v;
}

TEST(Dct, InverseNeedsNoEarlierForward)
{
    // A size no other test transforms: one coefficient gives one scaled basis function.
    const int n1 = 29, n2 = 31;
    const double pi = std::numbers::pi;
    for (auto [u0, v0] : {std::pair{0, 0}, {0, 7}, {11, 0}, {28, 30}}) {
        Plane coeffs(n1, n2), plane(n1, n2);
        coeffs(u0, v0) = 1.0;
        InverzniDCT(coeffs, plane);
        const double a1 = std::sqrt((u0 ? 2.0 : 1.0) / n1), a2 = std::sqrt((v0 ? 2.0 : 1.0) / n2);
        for (int x = 0; x < n1; ++x)
            for (int y = 0; y < n2; ++y)
                ASSERT_NEAR(plane(x, y),
                            a1 * a2 * std::cos((2 * x + 1) * u0 * pi / (2 * n1)) *
                                std::cos((2 * y + 1) * v0 * pi / (2 * n2)),
                            1e-14)
                    << u0 << "," << v0 << " at " << x << "," << y;
    }
}

TEST(Dct, InverseNeedsMatchingOutputSize)
{
    const Plane coeffs(4, 5);
    for (auto [n1, n2] : {std::pair{4, 4}, {5, 5}, {5, 4}, {0, 0}}) {
        Plane out(n1, n2);
        std::fill(out.data(), out.data() + out.size(), 3.0);
        try {
            InverzniDCT(coeffs, out);
            FAIL() << n1 << "x" << n2;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::SubscriptOutOfRange);
        }
        EXPECT_TRUE(std::all_of(out.data(), out.data() + out.size(), [](double d) { return d == 3.0; }));
    }
}

TEST(Dct, SameArrayAsInputAndOutput)
{
    std::mt19937 rng(3);
    const Plane plane = randomPlane(9, 14, rng);
    Plane expected;
    DirektniDCT(plane, expected);
    Plane p = plane;
    DirektniDCT(p, p);
    EXPECT_EQ(maxDiff(p, expected), 0.0);
    InverzniDCT(p, p);
    EXPECT_LE(maxDiff(p, plane), 1e-12);
}

TEST(Dct, EmptyPlaneGivesEmptyMatrix)
{
    for (auto [n1, n2] : {std::pair{0, 0}, {0, 5}, {5, 0}}) {
        Plane plane(n1, n2), coeffs(3, 3);
        DirektniDCT(plane, coeffs);
        EXPECT_EQ(coeffs.n1(), n1);
        EXPECT_EQ(coeffs.n2(), n2);
        InverzniDCT(coeffs, plane);
    }
}

TEST(Dct, ConcurrentTransformsAndEvictedPlansStayCorrect)
{
    // More sizes than the plan cache keeps, from several threads at once.
    std::mt19937 rng(99);
    std::vector<Plane> planes, expected;
    for (int k = 0; k < 12; ++k) {
        planes.push_back(randomPlane(20 + 7 * k, 150 - 5 * k, rng));
        expected.emplace_back();
        DirektniDCT(planes.back(), expected.back());
    }
    std::vector<double> worst(4, 0.0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (std::size_t k = std::size_t(t); k < planes.size(); k += 2) {
                    Plane c, back(planes[k].n1(), planes[k].n2());
                    DirektniDCT(planes[k], c);
                    InverzniDCT(c, back);
                    worst[std::size_t(t)] = std::max({worst[std::size_t(t)], maxDiff(c, expected[k]) / 1e3,
                                                      maxDiff(back, planes[k])});
                }
        });
    for (auto& th : threads) th.join();
    for (double w : worst) EXPECT_LE(w, 1e-10);
}

TEST(Dct, ImpossibleTransformIsOutOfMemory)
{
    try {
        cosinePlan({2000000000, 2000000000, 1, 2000000000, CosineKind::Forward, false, true});
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::OutOfMemory);
    }
}

TEST(Dct, UnalignedPlansRunOnUnalignedArrays)
{
    const int n1 = 6, n2 = 10;
    std::mt19937 rng(5);
    const Plane plane = randomPlane(n1, n2, rng);
    Plane raw;
    DirektniDCT(plane, raw);  // scaled, but the unscaled values differ by fixed factors only
    std::vector<double> in(n1 * n2 + 1), out(n1 * n2 + 1);
    double* pin = in.data() + (fftwAligned(in.data()) ? 1 : 0);
    double* pout = out.data() + (fftwAligned(out.data()) ? 1 : 0);
    ASSERT_FALSE(fftwAligned(pin));
    std::copy(plane.data(), plane.data() + plane.size(), pin);
    fftw_execute_r2r(cosinePlan({n2, n1, 1, n2, CosineKind::Forward, false, false}).get(), pin, pout);
    std::copy(pout, pout + n1 * n2, pin);
    fftw_execute_r2r(cosinePlan({n1, n2, n2, 1, CosineKind::Forward, false, false}).get(), pin, pout);
    for (int u = 0; u < n1; ++u)
        for (int v = 0; v < n2; ++v) {
            const double f = (u ? std::sqrt(1.0 / (2 * n1)) : std::sqrt(1.0 / (4 * n1))) *
                             (v ? std::sqrt(1.0 / (2 * n2)) : std::sqrt(1.0 / (4 * n2)));
            EXPECT_NEAR(pout[u * n2 + v] * f, raw(u, v), 1e-12);
        }
}

}  // namespace
}  // namespace pelinor
