#include "watermark/tone.h"

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <vector>

namespace pelinor {

namespace {

// Weighted pool-adjacent-violators: the least-squares nondecreasing fit of y.
std::vector<double> isotonic(const std::vector<double>& y, const std::vector<double>& w)
{
    struct Block {
        double value, weight;
        int count;
    };
    std::vector<Block> blocks;
    for (std::size_t i = 0; i < y.size(); ++i) {
        blocks.push_back({y[i], w[i], 1});
        while (blocks.size() > 1 && blocks[blocks.size() - 2].value > blocks.back().value) {
            const Block b = blocks.back();
            blocks.pop_back();
            Block& a = blocks.back();
            a.value = (a.value * a.weight + b.value * b.weight) / (a.weight + b.weight);
            a.weight += b.weight;
            a.count += b.count;
        }
    }
    std::vector<double> out;
    for (const Block& b : blocks)
        out.insert(out.end(), std::size_t(b.count), b.value);
    return out;
}

// A smooth nondecreasing curve through the mean of y for each x (0..255): the isotonic
// fit, smoothed by local linear regression over a few grey levels, extended with slope 1
// beyond the values seen.
std::array<double, 256> monotoneCurve(
    const std::array<double, 256>& sum, const std::array<double, 256>& count)
{
    std::vector<double> xs, ys, ws;
    for (int v = 0; v < 256; ++v) {
        if (count[std::size_t(v)] > 0) {
            xs.push_back(v);
            ys.push_back(sum[std::size_t(v)] / count[std::size_t(v)]);
            ws.push_back(count[std::size_t(v)]);
        }
    }
    std::array<double, 256> curve{};
    if (xs.empty()) {
        for (int v = 0; v < 256; ++v)
            curve[std::size_t(v)] = v;
        return curve;
    }
    const std::vector<double> fit = isotonic(ys, ws);
    constexpr double kWidth = 6.0;
    auto smooth = [&](double v) {
        double s0 = 0, s1 = 0, s2 = 0, t0 = 0, t1 = 0;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const double d = xs[i] - v;
            if (std::fabs(d) > 4 * kWidth) continue;
            const double k = ws[i] * std::exp(-0.5 * d * d / (kWidth * kWidth));
            s0 += k;
            s1 += k * d;
            s2 += k * d * d;
            t0 += k * fit[i];
            t1 += k * fit[i] * d;
        }
        const double det = s0 * s2 - s1 * s1;
        if (det > 1e-9 * s0 * s0) return (s2 * t0 - s1 * t1) / det;
        return t0 / s0;
    };
    const int lo = int(xs.front()), hi = int(xs.back());
    for (int v = lo; v <= hi; ++v)
        curve[std::size_t(v)] = smooth(v);
    for (int v = lo - 1; v >= 0; --v)
        curve[std::size_t(v)] = curve[std::size_t(lo)] - (lo - v);
    for (int v = hi + 1; v < 256; ++v)
        curve[std::size_t(v)] = curve[std::size_t(hi)] + (v - hi);
    double running = -1e300;
    for (double& c : curve) {
        running = std::max(running, c);
        c = std::clamp(running, 0.0, 255.0);
    }
    return curve;
}

// The inverse of a nondecreasing curve on 0..255: for each value v, the x the curve takes
// to v (the middle of a flat stretch at v), with slope 1 beyond the curve's ends.
std::array<double, 256> inverseCurve(const std::array<double, 256>& f)
{
    std::array<double, 256> g{};
    for (int v = 0; v < 256; ++v) {
        if (v <= f[0]) {
            g[std::size_t(v)] = v - f[0];
            continue;
        }
        if (v >= f[255]) {
            int first = 255;
            while (first > 0 && f[std::size_t(first - 1)] >= f[255])
                --first;
            g[std::size_t(v)] = (first + 255) / 2.0 + (v - f[255]);
            continue;
        }
        int u = 1;
        while (f[std::size_t(u)] < v)
            ++u;
        // f(u - 1) < v <= f(u); a flat stretch at exactly v ends at `last`.
        int last = u;
        while (last < 255 && f[std::size_t(last + 1)] == v)
            ++last;
        if (f[std::size_t(u)] == v)
            g[std::size_t(v)] = (u + last) / 2.0;
        else
            g[std::size_t(v)]
                = u - 1 + (v - f[std::size_t(u - 1)]) / (f[std::size_t(u)] - f[std::size_t(u - 1)]);
    }
    return g;
}

} // namespace

ToneCurves identityCurves()
{
    ToneCurves c{};
    for (auto& channel : c)
        for (int v = 0; v < 256; ++v)
            channel[std::size_t(v)] = std::uint8_t(v);
    return c;
}

ToneFit fitTone(const ToneSamples& samples)
{
    ToneFit fit;
    fit.curves = identityCurves();
    double errorAsIs = 0, errorCurve = 0, n = 0;
    for (std::size_t c = 0; c < 3; ++c) {
        const std::array<double, 256> forward = monotoneCurve(samples.sum[c], samples.count[c]);
        for (std::size_t u = 0; u < 256; ++u) {
            // Sum over the bin of (S - f)^2 = sum S^2 - 2 f sum S + n f^2.
            auto error = [&](double f) {
                return samples.sumSquares[c][u] - 2 * f * samples.sum[c][u] + samples.count[c][u] * f * f;
            };
            errorAsIs += error(double(u));
            errorCurve += error(forward[u]);
            n += samples.count[c][u];
        }
        const std::array<double, 256> back = inverseCurve(forward);
        for (std::size_t v = 0; v < 256; ++v)
            fit.curves[c][v] = std::uint8_t(std::lround(std::clamp(back[v], 0.0, 255.0)));
    }
    // Grey levels squared per sample the curves must save, and the share of the error.
    fit.used = n > 0 && errorAsIs - errorCurve > 1.0 * n && errorCurve < 0.8 * errorAsIs;
    if (!fit.used) fit.curves = identityCurves();
    return fit;
}

namespace {

std::array<double, GainField::kTerms> gainTerms(double u, double v)
{
    const double r2 = u * u + v * v;
    return {1.0, u, v, u * u, u * v, v * v, r2 * r2};
}

} // namespace

double GainField::at(double u, double v) const
{
    if (!used) return 1.0;
    const auto t = gainTerms(u, v);
    double sum = 0;
    for (int k = 0; k < kTerms; ++k)
        sum += coefficients[std::size_t(k)] * t[std::size_t(k)];
    return std::exp(sum);
}

GainField fitGain(const GainSamples& samples)
{
    constexpr int n = GainField::kTerms;
    GainField field;
    // Values near black carry no ratio worth the name, and clipped ones a false one.
    cv::Matx<double, n, n> normal = cv::Matx<double, n, n>::zeros();
    cv::Matx<double, n, 1> rhs = cv::Matx<double, n, 1>::zeros();
    double count = 0, sum = 0, sumSquares = 0;
    std::vector<std::array<double, 3>> used; // u, v, log ratio
    for (const auto& [u, v, o, s] : samples.pairs) {
        if (o < 24 || o > 232 || s < 8 || s > 250) continue;
        const double r = std::log(s / o);
        used.push_back({u, v, r});
        const auto t = gainTerms(u, v);
        for (int i = 0; i < n; ++i) {
            rhs(i) += t[std::size_t(i)] * r;
            for (int j = 0; j < n; ++j)
                normal(i, j) += t[std::size_t(i)] * t[std::size_t(j)];
        }
        count += 1;
        sum += r;
        sumSquares += r * r;
    }
    if (count < 1000) return field;
    cv::Matx<double, n, 1> c;
    if (!cv::solve(normal, rhs, c, cv::DECOMP_CHOLESKY)) return field;
    double residual = 0, lo = 1e300, hi = -1e300;
    for (const auto& [u, v, r] : used) {
        const auto t = gainTerms(u, v);
        double fit = 0;
        for (int i = 0; i < n; ++i)
            fit += c(i) * t[std::size_t(i)];
        residual += (r - fit) * (r - fit);
        lo = std::min(lo, fit);
        hi = std::max(hi, fit);
    }
    const double aroundMean = sumSquares - sum * sum / count;
    // A third of the spread explained, and at least 5 % of gain between the brightest and
    // the darkest place.
    field.used = residual < (2.0 / 3.0) * aroundMean && hi - lo > std::log(1.05);
    if (field.used)
        for (int i = 0; i < n; ++i)
            field.coefficients[std::size_t(i)] = c(i);
    return field;
}

} // namespace pelinor
