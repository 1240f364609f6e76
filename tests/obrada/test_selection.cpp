#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "obrada/selection.h"

namespace pelinor {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The slot procedure itself, as the reference. `start` is where both minimum searches
// begin: 100000.0 in the capped procedure, +infinity in the one we use.
double literalPrag(const Plane& C, int n, double start, std::vector<double>* slotsOut = nullptr)
{
    std::vector<double> K(std::size_t(n) + 1, 0.0);
    for (int u = 1; u <= C.upper1(); ++u)
        for (int v = 1; v <= C.upper2(); ++v) {
            const double c = C.at(u, v);
            double b = start;
            int s = 0;
            for (int k = 0; k <= n; ++k)
                if (std::fabs(b) > std::fabs(K[std::size_t(k)])) {
                    b = K[std::size_t(k)];
                    s = k;
                }
            if (std::fabs(K[std::size_t(s)]) < std::fabs(c)) K[std::size_t(s)] = c;
        }
    double r = start;
    for (int k = 0; k <= n; ++k)
        if (std::fabs(r) > std::fabs(K[std::size_t(k)])) r = K[std::size_t(k)];
    if (slotsOut) *slotsOut = K;
    return r;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A matrix whose candidates (u, v >= 1), in scan order, are `values`; row 0 and
// column 0 hold `border`.
Plane candidateMatrix(int n1, int n2, const std::vector<double>& values, double border = 0.0)
{
    Plane C(n1, n2);
    std::size_t k = 0;
    for (int u = 0; u < n1; ++u)
        for (int v = 0; v < n2; ++v) C(u, v) = u == 0 || v == 0 ? border : values.at(k++);
    return C;
}

std::vector<std::tuple<int, int, long long>> scan(const Plane& C, double r)
{
    std::vector<std::tuple<int, int, long long>> hits;
    const long long count = forEachSignificant(C, r, [&](int u, int v, long long i) { hits.emplace_back(u, v, i); });
    EXPECT_EQ(count, (long long)hits.size());
    return hits;
}

struct Example {
    std::vector<double> candidates;  // a single row of frequencies u = 1, v = 1..
    int n;
    double result;
    std::vector<int> significantV;
};

TEST(Selection, WorkedExamples)
{
    const Example examples[] = {
        {{5, -9, 3, 9}, 2, 5, {2, 4}},
        {{7, 7, 7}, 1, 7, {}},
        {{-4, 6, 8}, 1, 6, {3}},
        {{-6, 4, 8}, 1, -6, {3}},
        {{3, -8, 8, 2}, 0, -8, {}},  // N = 0: the first largest-magnitude candidate
        {{0, 0, 0}, 3, 0.0, {}},
        {{1, -2, 0}, 5, 0.0, {1, 2}},  // fewer non-zero candidates than N: all of them
    };
    for (const Example& e : examples) {
        const Plane C = candidateMatrix(2, int(e.candidates.size()) + 1, e.candidates, 1e6);
        const double r = OdrediPrag(C, e.n);
        EXPECT_TRUE(sameBits(r, e.result)) << r << " expected " << e.result;
        EXPECT_TRUE(sameBits(r, literalPrag(C, e.n, 100000.0)));
        std::vector<int> vs;
        for (auto [u, v, i] : scan(C, r)) {
            EXPECT_EQ(u, 1);
            EXPECT_EQ(i, (long long)vs.size());
            vs.push_back(v);
        }
        EXPECT_EQ(vs, e.significantV);
    }
    std::vector<double> slots;
    literalPrag(candidateMatrix(2, 5, {5, -9, 3, 9}), 2, 100000.0, &slots);
    EXPECT_EQ(slots, (std::vector<double>{5, -9, 9}));
}

TEST(Selection, NoCandidatesGiveZero)
{
    // One pixel wide or one row high, or all zeros away from row 0 and column 0.
    for (auto [n1, n2] : {std::pair{1, 1}, {1, 40}, {40, 1}, {0, 0}, {6, 7}}) {
        Plane C(n1, n2);
        for (int u = 0; u < n1; ++u) C(u, 0) = 5e5;
        for (int v = 0; v < n2; ++v) C(0, v) = -5e5;
        for (int n : {0, 1, 100}) {
            EXPECT_TRUE(sameBits(OdrediPrag(C, n), 0.0));
            EXPECT_TRUE(scan(C, 0.0).empty());
        }
    }
}

TEST(Selection, NegativeCountIsSubscriptError)
{
    const Plane C(4, 4);
    try {
        OdrediPrag(C, -1);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::SubscriptOutOfRange);
    }
}

TEST(Selection, HugeCountNeedsNoHugeMemory)
{
    // Dimensions beyond 16-bit counters.
    Plane wide(40000, 3);
    wide(39999, 2) = -4.5;
    wide(20000, 1) = 4.5;
    wide(35000, 2) = 1.0;
    EXPECT_TRUE(sameBits(OdrediPrag(wide, 1), 4.5));
    EXPECT_TRUE(sameBits(OdrediPrag(wide, 2), 1.0));
    EXPECT_EQ(scan(wide, 1.0), (std::vector<std::tuple<int, int, long long>>{{20000, 1, 0}, {39999, 2, 1}}));

    const Plane C = candidateMatrix(3, 3, {4, -1, 2, 3});
    EXPECT_TRUE(sameBits(OdrediPrag(C, std::numeric_limits<int>::max()), 0.0));
    EXPECT_TRUE(sameBits(OdrediPrag(C, 3), -1.0));
    EXPECT_TRUE(sameBits(OdrediPrag(C, 4), 0.0));
}

TEST(Selection, MatchesSlotProcedureOnRandomTies)
{
    std::mt19937 rng(2024);
    int checked = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int n1 = 1 + int(rng() % 14), n2 = 1 + int(rng() % 14);
        // Few distinct magnitudes, both signs, some zeros (and -0.0): many ties.
        const int levels = 1 + int(rng() % 6);
        Plane C(n1, n2);
        for (std::size_t k = 0; k < C.size(); ++k) {
            const int level = int(rng() % unsigned(levels + 1));
            const double sign = rng() % 2 ? 1.0 : -1.0;
            C.data()[k] = sign * (level * 0.75);
        }
        const int candidates = std::max(0, (n1 - 1) * (n2 - 1));
        for (int n : {0, 1, 2, int(rng() % unsigned(candidates + 3)), candidates - 1, candidates, candidates + 1}) {
            if (n < 0) continue;
            const double fast = OdrediPrag(C, n);
            const double slow = literalPrag(C, n, kInf);
            ASSERT_TRUE(sameBits(fast, slow)) << trial << " n=" << n << ": " << fast << " vs " << slow;
            // Magnitudes far below the cap: the capped procedure agrees too.
            ASSERT_TRUE(sameBits(fast, literalPrag(C, n, 100000.0)));
            // Never more than N significant.
            const auto hits = scan(C, fast);
            ASSERT_LE((long long)hits.size(), n);
            ++checked;
        }
    }
    EXPECT_GT(checked, 2000);
}

TEST(Selection, ScanYieldsTheNLargestWhenTheBoundaryIsNotTied)
{
    std::mt19937 rng(11);
    std::normal_distribution<double> d(0.0, 50.0);
    Plane C(40, 33);
    for (std::size_t k = 0; k < C.size(); ++k) C.data()[k] = d(rng);
    std::vector<double> mags;
    for (int u = 1; u < 40; ++u)
        for (int v = 1; v < 33; ++v) mags.push_back(std::fabs(C(u, v)));
    std::sort(mags.rbegin(), mags.rend());
    for (int n : {1, 10, 100, 1000}) {
        const double r = OdrediPrag(C, n);
        EXPECT_EQ(std::fabs(r), mags[std::size_t(n)]);
        const auto hits = scan(C, r);
        ASSERT_EQ((long long)hits.size(), n);
        for (auto [u, v, i] : hits) EXPECT_GE(std::fabs(C(u, v)), mags[std::size_t(n - 1)]);
    }
}

TEST(Selection, LargeCoefficientsAreNotCapped)
{
    // The capped procedure, with both searches starting at 100000.0: N = 0 and two
    // candidates above it, the second larger: slot 0 ends holding the second, yet the
    // result is 100000.0 itself. Now the result is the largest candidate.
    const Plane two = candidateMatrix(2, 3, {150000.0, -210000.0});
    std::vector<double> slots;
    EXPECT_EQ(literalPrag(two, 0, 100000.0, &slots), 100000.0);
    EXPECT_EQ(slots, std::vector<double>{-210000.0});
    EXPECT_TRUE(sameBits(OdrediPrag(two, 0), -210000.0));
    EXPECT_TRUE(scan(two, OdrediPrag(two, 0)).empty());

    // Two gratings as a large photograph gives them (about 111,700 each) among small
    // coefficients: with N = 1 the capped threshold makes both significant, more than
    // N; the mended one makes exactly the larger one significant.
    std::vector<double> values(9 * 9, 3.0);
    values[17] = 111731.5;
    values[60] = -111702.25;
    const Plane C = candidateMatrix(10, 10, values);
    EXPECT_EQ(literalPrag(C, 1, 100000.0), 100000.0);
    EXPECT_EQ(scan(C, 100000.0).size(), 2u);
    const double r = OdrediPrag(C, 1);
    EXPECT_TRUE(sameBits(r, -111702.25));
    EXPECT_TRUE(sameBits(r, literalPrag(C, 1, kInf)));
    const auto hits = scan(C, r);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0], std::make_tuple(2, 9, 0LL));

    // Random large values with ties: always the uncapped slot procedure.
    std::mt19937 rng(77);
    for (int trial = 0; trial < 100; ++trial) {
        Plane M(1 + int(rng() % 9), 1 + int(rng() % 9));
        for (std::size_t k = 0; k < M.size(); ++k)
            M.data()[k] = (rng() % 2 ? 1.0 : -1.0) * 60000.0 * double(rng() % 5);
        for (int n = 0; n < 6; ++n) ASSERT_TRUE(sameBits(OdrediPrag(M, n), literalPrag(M, n, kInf))) << trial;
    }
}

TEST(Selection, NonFiniteCandidatesBehaveAsTheSlotProcedure)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<double>> rows = {
        {nan, 3, nan, -2},
        {-kInf, kInf, 5},
        {-kInf, -kInf},
        {kInf, 1, -kInf, 2},
    };
    for (const auto& values : rows) {
        const Plane C = candidateMatrix(2, int(values.size()) + 1, values);
        for (int n = 0; n < 4; ++n) EXPECT_TRUE(sameBits(OdrediPrag(C, n), literalPrag(C, n, kInf)));
    }
}

}  // namespace
}  // namespace pelinor
