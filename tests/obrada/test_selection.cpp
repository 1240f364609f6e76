#include "obrada/selection.h"
#include "tests/test_support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

namespace pelinor {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kCap = 100000.0;

// The slot procedure itself, as the reference. Both minimum searches start at `start`:
// kCap in the capped procedure, +infinity in the mended one that OdrediPrag follows.
double literalPrag(const Plane& C, int n, double start, std::vector<double>* slots = nullptr)
{
    std::vector<double> K(std::size_t(n) + 1, 0.0);
    auto smallest = [&](double& b) { // b ends as the smallest slot value; returns its slot
        std::size_t s = 0;
        for (std::size_t k = 0; k < K.size(); ++k)
            if (std::fabs(b) > std::fabs(K[k])) b = K[k], s = k;
        return s;
    };
    for (int u = 1; u < C.n1(); ++u)
        for (int v = 1; v < C.n2(); ++v) {
            double b = start;
            const std::size_t s = smallest(b);
            if (std::fabs(K[s]) < std::fabs(C(u, v))) K[s] = C(u, v);
        }
    double r = start;
    smallest(r);
    if (slots) *slots = K;
    return r;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A matrix whose candidates (u, v >= 1), in scan order, are `values`; row 0 and column 0 hold `border`.
Plane candidates(int n1, int n2, const std::vector<double>& values, double border = 0.0)
{
    Plane C(n1, n2);
    std::size_t k = 0;
    for (int u = 0; u < n1; ++u)
        for (int v = 0; v < n2; ++v)
            C(u, v) = u == 0 || v == 0 ? border : values.at(k++);
    return C;
}

using Hits = std::vector<std::tuple<int, int, long long>>;

Hits scan(const Plane& C, double r)
{
    Hits hits;
    const long long count
        = forEachSignificant(C, r, [&](int u, int v, long long i) { hits.emplace_back(u, v, i); });
    EXPECT_EQ(count, (long long)hits.size());
    return hits;
}

TEST(Selection, WorkedExamples)
{
    struct Example {
        std::vector<double> values; // a single row of candidates u = 1, v = 1..
        int n;
        double result;
        std::vector<int> significantV;
    };
    const Example examples[] = {
        {{5, -9, 3, 9}, 2, 5, {2, 4}}, {{7, 7, 7}, 1, 7, {}}, {{-4, 6, 8}, 1, 6, {3}},
        {{-6, 4, 8}, 1, -6, {3}}, {{3, -8, 8, 2}, 0, -8, {}}, {{0, 0, 0}, 3, 0.0, {}},
        {{1, -2, 0}, 5, 0.0, {1, 2}}, // fewer non-zero candidates than N: all of them
    };
    for (const Example& e : examples) {
        const Plane C = candidates(2, int(e.values.size()) + 1, e.values, 1e6);
        const double r = OdrediPrag(C, e.n);
        EXPECT_TRUE(sameBits(r, e.result) && sameBits(r, literalPrag(C, e.n, kCap))) << r << " " << e.result;
        Hits expected;
        for (int v : e.significantV)
            expected.emplace_back(1, v, (long long)expected.size());
        EXPECT_EQ(scan(C, r), expected);
    }
    std::vector<double> slots;
    literalPrag(candidates(2, 5, {5, -9, 3, 9}), 2, kCap, &slots);
    EXPECT_EQ(slots, (std::vector<double>{5, -9, 9}));

    // No candidates (one pixel wide or one row high, or zeros off row 0 and column 0): 0.0.
    for (auto [n1, n2] : {std::pair{1, 1}, {1, 40}, {40, 1}, {0, 0}, {6, 7}}) {
        Plane B(n1, n2);
        for (int u = 0; u < n1; ++u)
            B(u, 0) = 5e5;
        for (int v = 0; v < n2; ++v)
            B(0, v) = -5e5;
        for (int n : {0, 1, 100})
            EXPECT_TRUE(sameBits(OdrediPrag(B, n), 0.0) && scan(B, 0.0).empty());
    }
    test::expectError([] { OdrediPrag(Plane(4, 4), -1); }, err::SubscriptOutOfRange);

    // Huge counts and sizes beyond 16-bit counters need no huge memory.
    Plane wide(40000, 3);
    wide(39999, 2) = -4.5, wide(20000, 1) = 4.5, wide(35000, 2) = 1.0;
    EXPECT_TRUE(sameBits(OdrediPrag(wide, 1), 4.5) && sameBits(OdrediPrag(wide, 2), 1.0));
    EXPECT_EQ(scan(wide, 1.0), (Hits{{20000, 1, 0}, {39999, 2, 1}}));
    EXPECT_TRUE(sameBits(OdrediPrag(candidates(3, 3, {4, -1, 2, 3}), std::numeric_limits<int>::max()), 0.0));
}

TEST(Selection, MatchesSlotProcedureOnRandomTies)
{
    std::mt19937 rng(2024);
    int checked = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int n1 = 1 + int(rng() % 14), n2 = 1 + int(rng() % 14), levels = 1 + int(rng() % 6);
        // Few distinct magnitudes, both signs, some zeros (and -0.0): many ties.
        Plane C(n1, n2);
        for (std::size_t k = 0; k < C.size(); ++k)
            C.data()[k] = (rng() % 2 ? 1.0 : -1.0) * 0.75 * int(rng() % unsigned(levels + 1));
        const int count = std::max(0, (n1 - 1) * (n2 - 1));
        for (int n : {0, 1, 2, int(rng() % unsigned(count + 3)), count - 1, count, count + 1}) {
            if (n < 0) continue;
            const double fast = OdrediPrag(C, n);
            ASSERT_TRUE(sameBits(fast, literalPrag(C, n, kInf))) << trial << " n=" << n;
            ASSERT_TRUE(sameBits(fast, literalPrag(C, n, kCap))); // far below the cap the two agree
            ASSERT_LE((long long)scan(C, fast).size(), n);
            ++checked;
        }
    }
    EXPECT_GT(checked, 2000);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const std::vector<double>& values :
        {std::vector<double>{nan, 3, nan, -2}, {-kInf, kInf, 5}, {-kInf, -kInf}, {kInf, 1, -kInf, 2}}) {
        const Plane C = candidates(2, int(values.size()) + 1, values);
        for (int n = 0; n < 4; ++n)
            EXPECT_TRUE(sameBits(OdrediPrag(C, n), literalPrag(C, n, kInf)));
    }
}

TEST(Selection, LargeCoefficientsAreNotCapped)
{
    // The capped procedure with N = 0 and two candidates above the cap, the second larger:
    // slot 0 ends holding the second, yet the result is the cap. Mended: the largest candidate.
    const Plane two = candidates(2, 3, {150000.0, -210000.0});
    std::vector<double> slots;
    EXPECT_EQ(literalPrag(two, 0, kCap, &slots), kCap);
    EXPECT_EQ(slots, std::vector<double>{-210000.0});
    EXPECT_TRUE(sameBits(OdrediPrag(two, 0), -210000.0) && scan(two, -210000.0).empty());

    // Two gratings as a large photograph gives them, among small coefficients: with N = 1
    // the capped threshold makes both significant, more than N; the mended one only the larger.
    std::vector<double> values(9 * 9, 3.0);
    values[17] = 111731.5, values[60] = -111702.25;
    const Plane C = candidates(10, 10, values);
    EXPECT_TRUE(literalPrag(C, 1, kCap) == kCap && scan(C, kCap).size() == 2);
    EXPECT_TRUE(sameBits(OdrediPrag(C, 1), -111702.25));
    EXPECT_EQ(scan(C, OdrediPrag(C, 1)), (Hits{{2, 9, 0}}));
}

} // namespace
} // namespace pelinor
