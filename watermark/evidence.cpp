#include "watermark/evidence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace pelinor {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The continued fraction of the incomplete beta function (modified Lentz), which converges
// quickly for x < (a + 1) / (a + b + 2).
double betaFraction(double a, double b, double x)
{
    constexpr double tiny = 1e-300;
    constexpr double eps = 1e-16;
    const double qab = a + b, qap = a + 1.0, qam = a - 1.0;
    double c = 1.0;
    double d = 1.0 - qab * x / qap;
    if (std::fabs(d) < tiny) d = tiny;
    d = 1.0 / d;
    double h = d;
    // About sqrt(a) terms are needed; the bound only guards against a runaway.
    const int limit = 1000 + int(20.0 * std::sqrt(std::max(a, b)));
    for (int m = 1; m <= limit; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < tiny) d = tiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        h *= d * c;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < tiny) d = tiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < eps) break;
    }
    return h;
}

// ln I_x(a, a), the regularised incomplete beta function of a symmetric beta, for
// 0 < x <= 1/2, where the continued fraction converges.
double logLowerTail(double a, double x)
{
    const double logBeta = 2.0 * std::lgamma(a) - std::lgamma(2.0 * a);
    return a * std::log(x) + a * std::log1p(-x) - std::log(a) - logBeta + std::log(betaFraction(a, a, x));
}

// ln(exp(x) + exp(y)) without overflow or underflow.
double logAdd(double x, double y)
{
    if (x == -kInf) return y;
    if (y == -kInf) return x;
    const double hi = std::max(x, y), lo = std::min(x, y);
    return hi + std::log1p(std::exp(lo - hi));
}

} // namespace

double logFalsePositive(double s, int n)
{
    if (std::isnan(s)) return std::numeric_limits<double>::quiet_NaN();
    if (s <= -1.0) return 0.0;
    if (n <= 1) return s > 1.0 ? -kInf : std::log(0.5);
    if (s >= 1.0) return -kInf;
    const double a = 0.5 * (double(n) - 1.0);
    if (s > 0.0) return logLowerTail(a, 0.5 * (1.0 - s));
    // P(S >= s) = 1 - P(S >= -s) by symmetry, the subtracted part at most 1/2.
    if (s == 0.0) return std::log(0.5);
    return std::log1p(-std::exp(logLowerTail(a, 0.5 * (1.0 + s))));
}

double logFamilyWise(double s, std::span<const int> lengths)
{
    if (lengths.empty()) return -kInf;
    // 1 - prod(1 - p_k) = 1 - exp(T) with T = sum ln(1 - p_k) <= 0. -T is summed in logarithms,
    // each term as ln p_k + ln(-ln(1 - p_k) / p_k), so that tiny p_k keep their size.
    double logMinusT = -kInf;
    for (const int n : lengths) {
        const double lp = logFalsePositive(s, n);
        if (lp == 0.0) return 0.0; // one of them certainly reaches s
        if (lp == -kInf) continue;
        const double p = std::exp(lp);
        const double ratio = p > 0.0 ? -std::log1p(-p) / p : 1.0;
        logMinusT = logAdd(logMinusT, lp + std::log(ratio));
    }
    if (logMinusT == -kInf) return -kInf;
    const double minusT = std::exp(logMinusT);
    // ln(1 - exp(T)) = ln(-T) + ln((1 - exp(T)) / -T); the second term is 0 for tiny T.
    if (minusT == 0.0) return logMinusT;
    return logMinusT + std::log(-std::expm1(-minusT) / minusT);
}

std::string formatProbability(double logP)
{
    if (std::isnan(logP)) return "n/a";
    if (logP == -kInf) return "0";
    char text[48];
    const double p = std::exp(logP);
    if (p >= 1e-300) {
        std::snprintf(text, sizeof text, "%.3g", p);
        return text;
    }
    const double log10p = logP / std::numbers::ln10;
    double exponent = std::floor(log10p);
    double mantissa = std::pow(10.0, log10p - exponent);
    if (mantissa >= 9.995) { // "10e-413" is written "1e-412"
        mantissa /= 10.0;
        exponent += 1.0;
    }
    std::snprintf(text, sizeof text, "%.3ge%.0f", mantissa, exponent);
    return text;
}

double similarityFor(double maxFalsePositive, int n)
{
    const double bound = std::log(maxFalsePositive);
    if (logFalsePositive(1.0, n) > bound) return kInf;
    double lo = -1.0, hi = 1.0; // P(S >= lo) > bound >= P(S >= hi)
    for (int i = 0; i < 80; ++i) {
        const double mid = 0.5 * (lo + hi);
        (logFalsePositive(mid, n) > bound ? lo : hi) = mid;
    }
    return hi;
}

int shortestLengthFor(double s, double maxFalsePositive)
{
    const double bound = std::log(maxFalsePositive);
    int n = 1;
    while (n < (1 << 24) && logFalsePositive(s, n) > bound)
        n = n < 16 ? n + 1 : n + std::max(1, n / 16);
    // Back down to the shortest, the steps above having been coarse.
    int lo = std::max(1, n - std::max(1, n / 16)), hi = n;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (logFalsePositive(s, mid) <= bound)
            hi = mid;
        else
            lo = mid + 1;
    }
    return hi;
}

} // namespace pelinor
