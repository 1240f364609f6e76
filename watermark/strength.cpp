// Choosing alpha for a target PSNR. The embedding is linear in alpha up to the final
// rounding: the marked luminance is Y + alpha * D, where D is the inverse DCT of the
// watermark's changes at alpha 1. So one forward and one inverse transform give a model
// whose PSNR at any alpha costs one pass over the pixels; a bisection on that model
// finds the strength, and one real embedding confirms it.
#include "watermark/strength.h"

#include "base/error.h"
#include "obrada/bytes.h"
#include "obrada/colour.h"
#include "obrada/dct.h"
#include "obrada/selection.h"
#include "watermark/embed.h"
#include "watermark/luminance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace pelinor {

namespace {

class PsnrModel {
public:
    PsnrModel(const Picture& source, const Watermark& watermark)
        : m_pixels(openView(source))
        , m_width(source.width())
        , m_height(source.height())
        , m_topDown(source.topDown())
    {
        PretvoriUYCbCr(m_pixels, m_planes);
        Plane coeffs;
        DirektniDCT(luminancePlane(source), coeffs);
        const double threshold = OdrediPrag(coeffs, watermark.length);
        requireRoomForWatermark(coeffs, threshold, watermark.length);
        Plane change(m_width, m_height);
        double magnitudes = 0.0; // as the embedding checks its marked coefficients
        forEachSignificant(coeffs, threshold, [&](int u, int v, long long i) {
            if (i < watermark.length) change(u, v) = watermark.values[std::size_t(i)] * coeffs(u, v);
            magnitudes += std::fabs(change(u, v));
        });
        if (!(magnitudes <= 1e300))
            throw Error(err::Overflow,
                "Overflow: the marked coefficients are too large to compute with (the watermark's values "
                "times the picture's coefficients are not finite)");
        m_direction.resize(m_width, m_height);
        InverzniDCT(change, m_direction);
        m_work = m_planes;
        m_rgb.resize(m_pixels.n1(), m_pixels.n2());
    }

    // PSNR of the marked picture at strength alpha, all three channels.
    double operator()(double alpha)
    {
        // The plane's rows run from the bottom of the image up, as the embedding's do.
        for (int x = 0; x < m_width; ++x)
            for (int y = 0; y < m_height; ++y) {
                const std::size_t at
                    = std::size_t(m_topDown ? m_height - 1 - y : y) * m_planes.n1() + 3 * std::size_t(x);
                m_work.data()[at] = limitAndRound(m_planes.data()[at] + alpha * m_direction(x, y));
            }
        PretvoriURGB(m_work, m_rgb.view());
        const std::size_t n1 = std::size_t(m_pixels.n1());
        std::uint64_t sum = 0;
        for (int y = 0; y < m_height; ++y)
            sum += squaredDifference(m_pixels.row(y), m_rgb.data() + std::size_t(y) * n1, n1);
        return psnrFromSquaredError(double(sum), double(n1) * m_height);
    }

private:
    ConstByteView m_pixels;
    int m_width;
    int m_height;
    bool m_topDown;
    ByteArray2D m_planes;
    ByteArray2D m_work;
    ByteArray2D m_rgb;
    Plane m_direction;
};

std::string dB(double v)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, std::fabs(v) < 1e6 ? "%.2f dB" : "%.6g dB", v);
    return buf;
}

} // namespace

double alphaForTargetPsnr(const Picture& source, const Watermark& watermark, double targetDb)
{
    if (!std::isfinite(targetDb) || targetDb <= 0.0)
        throw Error(
            err::InvalidCall, "Invalid procedure call: the target PSNR must be a positive number of dB");
    requireUsableWatermark(watermark); // alpha 0 has no sign to keep either
    PsnrModel model(source, watermark);
    const double sign = watermark.alpha < 0 ? -1.0 : 1.0;
    auto at = [&](double a) { return model(sign * a); };

    const double floorPsnr = at(0.0); // the colour conversions alone
    if (floorPsnr < targetDb)
        throw Error(err::InvalidCall,
            "Invalid procedure call: no strength reaches " + dB(targetDb)
                + ": the colour conversion alone already gives " + dB(floorPsnr));
    // Bracket: lo meets the target, hi does not.
    double lo = 0.0, hi = 1e-3;
    while (at(hi) >= targetDb) {
        lo = hi;
        hi *= 2.0;
        if (hi > 1e6)
            throw Error(err::InvalidCall,
                "Invalid procedure call: the strength does not change this picture, so no target PSNR "
                "applies");
    }
    while (hi - lo > 1e-7 * hi) {
        const double mid = 0.5 * (lo + hi);
        (at(mid) >= targetDb ? lo : hi) = mid;
    }
    if (lo <= 0.0)
        throw Error(err::InvalidCall,
            "Invalid procedure call: no positive strength keeps the PSNR at or above " + dB(targetDb));
    return sign * lo;
}

TargetPsnrEmbed embedForTargetPsnr(const Picture& source, const Watermark& watermark, double targetDb)
{
    Watermark chosen = watermark;
    chosen.alpha = alphaForTargetPsnr(source, watermark, targetDb);
    // The model rounds like the embedding but not bit for bit; step down until it holds.
    for (int attempt = 0; attempt < 50; ++attempt) {
        EmbedResult r = embedWatermark(source, chosen);
        if (r.psnr >= targetDb) return {chosen.alpha, std::move(r)};
        chosen.alpha *= 0.999;
    }
    throw Error(err::InvalidCall,
        "Invalid procedure call: no strength found that keeps the PSNR at or above " + dB(targetDb));
}

double banding(const Picture& original, const Picture& changed)
{
    if (original.width() != changed.width() || original.height() != changed.height())
        throw Error(err::SizeMismatch,
            "Cannot compare a " + sizeText(original.width(), original.height()) + " picture with a "
                + sizeText(changed.width(), changed.height()) + " one");
    Plane before, after;
    const double scale = 255.0 / anyLuminanceInto(original, before);
    const double scaleAfter = 255.0 / anyLuminanceInto(changed, after);
    constexpr int kBlock = 8;
    const double flatVariance = kFlatBlockDeviation * kFlatBlockDeviation;
    std::vector<double> changes;
    for (int bx = 0; bx + kBlock <= before.n1(); bx += kBlock)
        for (int by = 0; by + kBlock <= before.n2(); by += kBlock) {
            double sum = 0.0, squares = 0.0;
            for (int x = bx; x < bx + kBlock; ++x)
                for (int y = by; y < by + kBlock; ++y) {
                    const double v = before(x, y) * scale;
                    sum += v;
                    squares += v * v;
                }
            const double n = kBlock * kBlock;
            const double mean = sum / n;
            if (squares / n - mean * mean > flatVariance) continue;
            double change = 0.0;
            for (int x = bx; x < bx + kBlock; ++x)
                for (int y = by; y < by + kBlock; ++y)
                    change += after(x, y) * scaleAfter - before(x, y) * scale;
            changes.push_back(std::fabs(change / n));
        }
    if (changes.empty()) return 0.0;
    const std::size_t at = std::min(changes.size() - 1, std::size_t(0.99 * double(changes.size())));
    std::nth_element(changes.begin(), changes.begin() + std::ptrdiff_t(at), changes.end());
    return changes[at];
}

FloorEmbed embedWithinFloor(
    const Picture& source, const Watermark& watermark, const QualityFloor& floor, Depths depths)
{
    FloorEmbed out;
    Watermark tried = watermark;
    for (int attempt = 0; attempt < 16; ++attempt) {
        EmbedResult r;
        try {
            r = embedWatermark(source, tried, depths);
        } catch (const Error& e) {
            // Lowered so far that no pixel moves: the floor is out of reach.
            if (attempt == 0 || e.number() != err::NothingEmbedded) throw;
            break;
        }
        const double seen = floor.minPsnr > 0.0 ? banding(source, *r.marked) : 0.0;
        if (attempt == 0) {
            out.keyPsnr = r.psnr;
            out.keyBanding = seen;
        }
        if (floor.minPsnr <= 0.0 || (r.psnr >= floor.minPsnr && seen <= floor.maxBanding)) {
            out.alpha = tried.alpha;
            out.embedded = std::move(r);
            out.banding = seen;
            out.lowered = attempt > 0;
            out.scale = tried.alpha / watermark.alpha;
            return out;
        }
        // The change is linear in alpha: the PSNR falls by 20 log10 of its factor and the
        // banding figure grows with it. Aim a little below, and always step down.
        double factor = 1.0;
        if (r.psnr < floor.minPsnr)
            factor = std::min(factor, std::pow(10.0, (r.psnr - floor.minPsnr) / 20.0));
        if (seen > floor.maxBanding) factor = std::min(factor, floor.maxBanding / seen);
        tried.alpha *= std::min(0.98, 0.99 * factor);
    }
    throw Error(err::InvalidCall,
        "Invalid procedure call: no strength keeps the PSNR at or above " + dB(floor.minPsnr)
            + " with a banding figure of at most " + std::to_string(floor.maxBanding).substr(0, 4)
            + " levels");
}

} // namespace pelinor
