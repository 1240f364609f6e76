#include "catalogue/fingerprint.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pelinor {

namespace {

constexpr std::uint8_t kFingerprintVersion = 1;
// The central window every allowed crop keeps, as fractions of each side.
constexpr double kWindowStart = 0.2;
constexpr double kWindowEnd = 0.8;
// The suspect's luminance is looked at on a copy of at most this many pixels a side.
constexpr int kThumbnail = 256;

// Luminance, top row first, area-averaged down to at most kThumbnail a side.
struct Grey {
    int width = 0;
    int height = 0;
    std::vector<float> v; // row-major, top row first
    float at(int x, int y) const { return v[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

Grey thumbnail(const Picture& p)
{
    const int w = p.width(), h = p.height();
    const double shrink = std::max(1.0, double(std::max(w, h)) / kThumbnail);
    Grey g;
    g.width = std::max(1, int(std::lround(w / shrink)));
    g.height = std::max(1, int(std::lround(h / shrink)));
    std::vector<double> sum(std::size_t(g.width) * std::size_t(g.height), 0.0);
    std::vector<double> count(sum.size(), 0.0);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = p.bits() + p.stride() * std::size_t(p.storedRow(y));
        const int ty = std::min(g.height - 1, int(y * std::int64_t(g.height) / h));
        const std::size_t base = std::size_t(ty) * std::size_t(g.width);
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* px = row + 3 * std::size_t(x);
            const int tx = std::min(g.width - 1, int(x * std::int64_t(g.width) / w));
            sum[base + std::size_t(tx)] += 0.114 * px[0] + 0.587 * px[1] + 0.299 * px[2];
            count[base + std::size_t(tx)] += 1.0;
        }
    }
    g.v.resize(sum.size());
    for (std::size_t i = 0; i < sum.size(); ++i)
        g.v[i] = float(count[i] > 0 ? sum[i] / count[i] : 0.0);
    return g;
}

// The eight turns and mirrors: d & 4 transposes, d & 1 mirrors left-right, d & 2 upside down.
Grey turned(const Grey& g, int d)
{
    Grey out;
    const bool transpose = (d & 4) != 0;
    out.width = transpose ? g.height : g.width;
    out.height = transpose ? g.width : g.height;
    out.v.resize(g.v.size());
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            int sx = (d & 1) ? out.width - 1 - x : x;
            int sy = (d & 2) ? out.height - 1 - y : y;
            if (transpose) std::swap(sx, sy);
            out.v[std::size_t(y) * std::size_t(out.width) + std::size_t(x)] = g.at(sx, sy);
        }
    return out;
}

// Sums over rectangles in constant time.
class Integral {
public:
    explicit Integral(const Grey& g)
        : m_width(g.width)
        , m_height(g.height)
        , m_sum(std::size_t(g.width + 1) * std::size_t(g.height + 1), 0.0)
    {
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x)
                m_sum[index(x + 1, y + 1)]
                    = g.at(x, y) + m_sum[index(x, y + 1)] + m_sum[index(x + 1, y)] - m_sum[index(x, y)];
    }
    // The mean over the cell [x0, x1) x [y0, y1) in fractions of the sides.
    double mean(double x0, double x1, double y0, double y1) const
    {
        const int a = std::clamp(int(std::lround(x0 * m_width)), 0, m_width - 1);
        const int b = std::clamp(int(std::lround(x1 * m_width)), a + 1, m_width);
        const int c = std::clamp(int(std::lround(y0 * m_height)), 0, m_height - 1);
        const int d = std::clamp(int(std::lround(y1 * m_height)), c + 1, m_height);
        const double s = m_sum[index(b, d)] - m_sum[index(a, d)] - m_sum[index(b, c)] + m_sum[index(a, c)];
        return s / (double(b - a) * double(d - c));
    }

private:
    std::size_t index(int x, int y) const
    {
        return std::size_t(y) * std::size_t(m_width + 1) + std::size_t(x);
    }
    int m_width;
    int m_height;
    std::vector<double> m_sum;
};

// The window [x0, x1) x [y0, y1) (fractions of the sides) over 8 x 8 cells, mean 0, length 1.
Fingerprint window(const Integral& in, double x0, double x1, double y0, double y1)
{
    Fingerprint f{};
    double mean = 0.0;
    for (int j = 0; j < kFingerprintSide; ++j)
        for (int i = 0; i < kFingerprintSide; ++i) {
            const double cx = (x1 - x0) / kFingerprintSide, cy = (y1 - y0) / kFingerprintSide;
            const double v = in.mean(x0 + i * cx, x0 + (i + 1) * cx, y0 + j * cy, y0 + (j + 1) * cy);
            f[std::size_t(j * kFingerprintSide + i)] = float(v);
            mean += v;
        }
    mean /= kFingerprintSize;
    double norm = 0.0;
    for (float& v : f) {
        v = float(v - mean);
        norm += double(v) * v;
    }
    // A flat window has no content to compare: all zeros, which scores 0 against anything.
    norm = std::sqrt(norm);
    for (float& v : f)
        v = norm > 1e-6 ? float(v / norm) : 0.0f;
    return f;
}

// Where the original's central window lies in a copy that kept [start, start + kept) of a side.
struct Span {
    double from;
    double to;
};
std::vector<Span> windowPlacements()
{
    std::vector<Span> spans;
    for (double kept : {1.0, 0.95, 0.9, 0.85, 0.8})
        for (double part : {0.0, 0.5, 1.0}) {
            const double start = (1.0 - kept) * part;
            spans.push_back({(kWindowStart - start) / kept, (kWindowEnd - start) / kept});
            if (kept == 1.0) break;
        }
    return spans;
}

} // namespace

Fingerprint fingerprintOf(const Picture& picture)
{
    const Integral in(thumbnail(picture));
    return window(in, kWindowStart, kWindowEnd, kWindowStart, kWindowEnd);
}

std::vector<Fingerprint> suspectViews(const Picture& suspect)
{
    const Grey g = thumbnail(suspect);
    const std::vector<Span> spans = windowPlacements();
    std::vector<Fingerprint> views;
    views.reserve(8 * spans.size() * spans.size());
    for (int d = 0; d < 8; ++d) {
        const Integral in(turned(g, d));
        for (const Span& x : spans)
            for (const Span& y : spans)
                views.push_back(window(in, x.from, x.to, y.from, y.to));
    }
    return views;
}

std::vector<std::uint8_t> encodeFingerprint(const Fingerprint& f)
{
    std::vector<std::uint8_t> bytes(1 + 4 * f.size());
    bytes[0] = kFingerprintVersion;
    for (std::size_t i = 0; i < f.size(); ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &f[i], 4);
        for (int b = 0; b < 4; ++b)
            bytes[1 + 4 * i + std::size_t(b)] = std::uint8_t(bits >> (8 * b));
    }
    return bytes;
}

bool decodeFingerprint(std::span<const std::uint8_t> bytes, Fingerprint& out)
{
    if (bytes.size() != 1 + 4 * out.size() || bytes[0] != kFingerprintVersion) return false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::uint32_t bits = 0;
        for (int b = 0; b < 4; ++b)
            bits |= std::uint32_t(bytes[1 + 4 * i + std::size_t(b)]) << (8 * b);
        std::memcpy(&out[i], &bits, 4);
        if (!std::isfinite(out[i])) return false;
    }
    return true;
}

float fingerprintScore(const Fingerprint& a, const Fingerprint& b) noexcept
{
    float s = 0.0f;
    for (std::size_t i = 0; i < a.size(); ++i)
        s += a[i] * b[i];
    return s;
}

void FingerprintIndex::add(long long id, const Fingerprint& f)
{
    m_ids.push_back(id);
    m_values.insert(m_values.end(), f.begin(), f.end());
}

std::vector<FingerprintIndex::Match> FingerprintIndex::search(
    std::span<const Fingerprint> views, float minScore, std::size_t limit) const
{
    // The views' values value by value, so that the inner loop runs over the views without a
    // chain of additions and the compiler can keep many of them in flight.
    const std::size_t count = views.size();
    std::vector<float> byValue(std::size_t(kFingerprintSize) * count);
    for (std::size_t v = 0; v < count; ++v)
        for (std::size_t i = 0; i < std::size_t(kFingerprintSize); ++i)
            byValue[i * count + v] = views[v][i];
    std::vector<float> scores(count);
    std::vector<Match> matches;
    for (std::size_t k = 0; k < m_ids.size() && count > 0; ++k) {
        const float* row = m_values.data() + k * kFingerprintSize;
        std::fill(scores.begin(), scores.end(), 0.0f);
        for (std::size_t i = 0; i < std::size_t(kFingerprintSize); ++i) {
            const float r = row[i];
            const float* column = byValue.data() + i * count;
            for (std::size_t v = 0; v < count; ++v)
                scores[v] += r * column[v];
        }
        const float best = *std::max_element(scores.begin(), scores.end());
        if (best >= minScore) matches.push_back({m_ids[k], best});
    }
    std::sort(
        matches.begin(), matches.end(), [](const Match& a, const Match& b) { return a.score > b.score; });
    if (matches.size() > limit) matches.resize(limit);
    return matches;
}

} // namespace pelinor
