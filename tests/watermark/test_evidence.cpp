// The evidence of a similarity: exact false-positive probabilities against closed forms and
// against chance itself, family-wise figures, and their printing.
#include "watermark/detect.h"
#include "watermark/detector.h"
#include "watermark/evidence.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

namespace pelinor {
namespace {

constexpr double kPi = std::numbers::pi;

// ln of the binomial tail P(Bin(m, x) <= k), summed term by term in logarithms: for odd
// N = 2a + 1 the beta of the statistic has integer parameters and its tail is exactly this.
double logBinomialLowerTail(int m, int k, double x)
{
    double hi = -INFINITY;
    std::vector<double> terms;
    for (int j = 0; j <= k; ++j) {
        const double t = std::lgamma(m + 1.0) - std::lgamma(j + 1.0) - std::lgamma(m - j + 1.0)
            + j * std::log(x) + (m - j) * std::log1p(-x);
        terms.push_back(t);
        hi = std::max(hi, t);
    }
    double sum = 0.0;
    for (const double t : terms)
        sum += std::exp(t - hi);
    return hi + std::log(sum);
}

// P(S >= s) for odd N = 2a + 1: (1 + s) / 2 ~ Beta(a, a), so the tail is P(Bin(2a - 1, x) <= a - 1).
double closedOddTail(int n, double s)
{
    const int a = (n - 1) / 2;
    return logBinomialLowerTail(2 * a - 1, a - 1, 0.5 * (1.0 + s));
}

struct ClosedForm {
    const char* name;
    int n;
    double (*logP)(double s, int n);
};

const ClosedForm kClosedForms[] = {
    {"N=1: +1 or -1, half each", 1,
        [](double s, int) { return s <= -1 ? 0.0
                                : s > 1    ? -INFINITY
                                           : std::log(0.5); }},
    {"N=2: Cauchy in t, 1/2 - asin(s)/pi", 2,
        [](double s, int) { return std::log(0.5 - std::asin(s) / kPi); }},
    {"N=3: uniform, (1 - s)/2", 3, [](double s, int) { return std::log(0.5 * (1.0 - s)); }},
    {"N=11: binomial sum", 11, [](double s, int n) { return closedOddTail(n, s); }},
    {"N=101: binomial sum", 101, [](double s, int n) { return closedOddTail(n, s); }},
    {"N=1001: binomial sum", 1001, [](double s, int n) { return closedOddTail(n, s); }},
};

TEST(Evidence, ExactAgainstClosedForms)
{
    for (const ClosedForm& c : kClosedForms)
        for (const double s : {-0.999, -0.7, -0.2, -1e-3, 0.0, 1e-3, 0.05, 0.2, 0.45, 0.7, 0.9, 0.999}) {
            const double expected = c.logP(s, c.n), got = logFalsePositive(s, c.n);
            // Relative accuracy of the probability itself, even where it is 1e-400.
            EXPECT_NEAR(got, expected, 1e-10 * std::max(1.0, std::fabs(expected))) << c.name << " s=" << s;
        }
}

// The figure is the chance itself: random watermarks against one fixed extracted sequence
// reach each similarity as often as it says (within five binomial deviations).
TEST(Evidence, MatchesChance)
{
    std::mt19937_64 random(20261207);
    std::normal_distribution<double> gauss;
    for (const int n : {2, 10, 100}) {
        std::vector<double> extracted(n), values(n);
        for (double& v : extracted)
            v = gauss(random) + 0.5; // any fixed sequence, not centred
        const double levels[] = {-0.5, 0.0, 0.1, 0.3, 0.6};
        std::vector<int> reached(std::size(levels), 0);
        const int trials = n <= 10 ? 1'000'000 : 200'000;
        for (int t = 0; t < trials; ++t) {
            for (double& v : values)
                v = gauss(random);
            const double s = normalisedCorrelation(extracted, values);
            for (std::size_t k = 0; k < std::size(levels); ++k)
                reached[k] += s >= levels[k];
        }
        for (std::size_t k = 0; k < std::size(levels); ++k) {
            const double p = std::exp(logFalsePositive(levels[k], n));
            const double seen = double(reached[k]) / trials;
            EXPECT_NEAR(seen, p, 5.0 * std::sqrt(p * (1 - p) / trials) + 1e-6)
                << "N=" << n << " s=" << levels[k];
        }
    }
}

// Tiny figures stay finite in logarithms and keep falling as the evidence grows.
TEST(Evidence, TinyFiguresStayInLogarithms)
{
    double previous = 0.0;
    for (const double s : {0.5, 0.7, 0.9, 0.99, 0.999999}) {
        const double lp = logFalsePositive(s, 100'000);
        EXPECT_TRUE(std::isfinite(lp)) << s;
        EXPECT_LT(lp, previous) << s;
        previous = lp;
    }
    // (1 - s^2)^((N - 2) / 2) dominates: about 10^-6247.
    EXPECT_NEAR(logFalsePositive(0.5, 100'000) / std::numbers::ln10, -6249.5, 1.0);
    EXPECT_EQ(logFalsePositive(1.0, 1000), -INFINITY);
    EXPECT_EQ(logFalsePositive(-1.0, 1000), 0.0);
    EXPECT_TRUE(std::isnan(logFalsePositive(NAN, 1000)));
}

// Many files tested at once: one file is its own figure; K files of one length are
// 1 - (1 - p)^K; mixed lengths multiply; tiny figures are K * p, not 0; a certainty stays 1.
TEST(Evidence, FamilyWise)
{
    const double p = std::exp(logFalsePositive(0.1, 300)), q = std::exp(logFalsePositive(0.1, 1000));
    const int one[] = {300}, five[] = {300, 300, 300, 300, 300}, mixed[] = {300, 1000};
    EXPECT_NEAR(logFamilyWise(0.1, one), std::log(p), 1e-12);
    EXPECT_NEAR(std::exp(logFamilyWise(0.1, five)), 1 - std::pow(1 - p, 5), 1e-14);
    EXPECT_NEAR(std::exp(logFamilyWise(0.1, mixed)), 1 - (1 - p) * (1 - q), 1e-14);
    const std::vector<int> thousand(1000, 1000);
    EXPECT_NEAR(logFamilyWise(0.5, thousand), logFalsePositive(0.5, 1000) + std::log(1000.0), 1e-9);
    const std::vector<int> huge(10, 100'000);
    EXPECT_NEAR(logFamilyWise(0.5, huge), logFalsePositive(0.5, 100'000) + std::log(10.0), 1e-6);
    EXPECT_EQ(logFamilyWise(-1.0, five), 0.0);
    EXPECT_EQ(logFamilyWise(0.3, {}), -INFINITY);
}

TEST(Evidence, Printing)
{
    const struct {
        double logP;
        const char* text;
    } rows[] = {
        {std::log(0.159), "0.159"},
        {std::log(2.7e-80), "2.7e-80"},
        {std::log(1e-9), "1e-09"},
        {std::log(3.1) - 412 * std::numbers::ln10, "3.1e-412"},
        {std::log(9.9996) - 413 * std::numbers::ln10, "1e-412"},
        {-INFINITY, "0"},
        {NAN, "n/a"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(formatProbability(r.logP), r.text) << r.text;
}

// The shortest watermark for which a similarity is evidence: the length found is enough and
// one less is not.
TEST(Evidence, ShortestLength)
{
    const struct {
        double s, maxFP;
        int n;
    } rows[] = {{0.99, 1e-9, 11}, {0.7, 1e-6, 36}, {0.2, 1e-9, 0}, {0.05, 1e-9, 0}};
    for (const auto& r : rows) {
        const int n = shortestLengthFor(r.s, r.maxFP);
        if (r.n) {
            EXPECT_EQ(n, r.n) << r.s;
        }
        EXPECT_LE(logFalsePositive(r.s, n), std::log(r.maxFP)) << r.s;
        EXPECT_GT(logFalsePositive(r.s, n - 1), std::log(r.maxFP)) << r.s;
    }
}

// The verdicts: by evidence a short watermark's perfect similarity is not enough; the
// desktop rule is the classic 0.7 with a guard against such watermarks; a watermark whose
// mean is not 0 has no figure and falls back on the similarity.
TEST(Evidence, DecisionRules)
{
    const struct {
        const char* name;
        DecisionRule rule;
        double s;
        int n;
        bool holds, found;
    } rows[] = {
        {"evidence, long, weak similarity", DecisionRule::byEvidence(1e-9), 0.25, 1000, true, true},
        {"evidence, long, chance similarity", DecisionRule::byEvidence(1e-9), 0.1, 1000, true, false},
        {"evidence, one value, s = 1", DecisionRule::byEvidence(1e-9), 1.0, 1, true, false},
        {"evidence, five values, s = 0.99", DecisionRule::byEvidence(1e-9), 0.99, 5, true, false},
        {"similarity, long, above 0.7", DecisionRule::bySimilarity(0.7), 0.71, 1000, true, true},
        {"similarity, long, weak", DecisionRule::bySimilarity(0.7), 0.25, 1000, true, false},
        {"desktop, long, above 0.7", DecisionRule::desktop(), 0.71, 1000, true, true},
        {"desktop, one value, s = 1", DecisionRule::desktop(), 1.0, 1, true, false},
        {"desktop, ten values, s = 0.95", DecisionRule::desktop(), 0.95, 10, true, false},
        {"evidence, mean not 0: by similarity", DecisionRule::byEvidence(1e-9), 0.75, 1000, false, true},
        {"evidence, mean not 0, weak", DecisionRule::byEvidence(1e-9), 0.3, 1000, false, false},
    };
    for (const auto& r : rows) {
        const DetectResult d = decide(r.s, r.rule, 100000, r.n, r.holds);
        EXPECT_EQ(d.found, r.found) << r.name;
        EXPECT_EQ(std::isnan(d.logFalsePositive), !r.holds) << r.name;
    }
}

} // namespace
} // namespace pelinor
