#include "watermark/tone.h"

#include <algorithm>
#include <cmath>
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

} // namespace pelinor
