#include "watermark/registration.h"

#include "base/error.h"
#include "image/image_io.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <numbers>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <optional>
#include <utility>
#include <vector>

namespace pelinor {

namespace {

// Working sizes. Candidates are refined by ECC and compared on a small copy, where that
// costs little; the winner is then refined on finer copies up to full size from a sparse
// set of samples, so that a large picture costs hardly more than a small one until the
// final warp.
constexpr int kScreeningSide = 320; // long side of the copy the candidates are compared on
constexpr int kSearchSide = 192; // long side of the copy the scale and shift are searched on
constexpr int kFeatureSide = 1024; // long side of the copies features are taken from
constexpr int kCorrelationSide = 1024; // long side of the copy the reported correlation is measured on
constexpr double kSparseSamples = 50000; // samples of one sparse refinement step
constexpr double kDetailSamples = 50000; // samples of the fine-detail comparison
constexpr double kToneSamples = 250000; // sample pairs the tone curves are fitted from
constexpr double kGainSamples = 60000; // sample pairs the gain field is fitted from
constexpr int kMinInliers = 10; // feature matches a robust fit must keep

using Mat3 = cv::Matx33d;

Mat3 affine(double a, double b, double c, double d, double e, double f)
{
    return Mat3(a, b, c, d, e, f, 0, 0, 1);
}

Mat3 translation(double dx, double dy)
{
    return affine(1, 0, dx, 0, 1, dy);
}

bool isProjective(const Mat3& a)
{
    return std::fabs(a(2, 0)) > 1e-12 || std::fabs(a(2, 1)) > 1e-12;
}

// Scaled so that the last entry is 1.
Mat3 normalised(const Mat3& a)
{
    return std::fabs(a(2, 2)) > 1e-300 ? a * (1.0 / a(2, 2)) : a;
}

Mat3 fromCv(const cv::Mat& m)
{
    cv::Mat d;
    m.convertTo(d, CV_64F);
    Mat3 out = Mat3::eye();
    for (int r = 0; r < d.rows; ++r)
        for (int c = 0; c < 3; ++c)
            out(r, c) = d.at<double>(r, c);
    return normalised(out);
}

// 2 x 3 for an affine transform, 3 x 3 otherwise (or always, with `full`).
cv::Mat toCv(const Mat3& m, int type, bool full = false)
{
    const int rows = full || isProjective(m) ? 3 : 2;
    cv::Mat out(rows, 3, CV_64F);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < 3; ++c)
            out.at<double>(r, c) = m(r, c);
    if (type != CV_64F) out.convertTo(out, type);
    return out;
}

cv::Point2d apply(const Mat3& a, double x, double y)
{
    const double w = a(2, 0) * x + a(2, 1) * y + a(2, 2);
    return {(a(0, 0) * x + a(0, 1) * y + a(0, 2)) / w, (a(1, 0) * x + a(1, 1) * y + a(1, 2)) / w};
}

// The linear part of the transform at (x, y): its derivative there.
cv::Matx22d jacobian(const Mat3& a, double x, double y)
{
    const double w = a(2, 0) * x + a(2, 1) * y + a(2, 2);
    const cv::Point2d p = apply(a, x, y);
    return cv::Matx22d((a(0, 0) - p.x * a(2, 0)) / w, (a(0, 1) - p.x * a(2, 1)) / w,
        (a(1, 0) - p.y * a(2, 0)) / w, (a(1, 1) - p.y * a(2, 1)) / w);
}

// Warps S's copy onto a canvas of `size` under the O-to-S transform.
void warpOnto(const cv::Mat& source, cv::Mat& out, const Mat3& a, cv::Size size, int interpolation,
    int border = cv::BORDER_REPLICATE, const cv::Scalar& value = {})
{
    if (isProjective(a))
        cv::warpPerspective(
            source, out, toCv(a, CV_64F), size, interpolation | cv::WARP_INVERSE_MAP, border, value);
    else
        cv::warpAffine(
            source, out, toCv(a, CV_64F), size, interpolation | cv::WARP_INVERSE_MAP, border, value);
}

// Pixel centres correspond between a picture and its copy resized by (rx, ry).
Mat3 resizeMap(double rx, double ry)
{
    return affine(rx, 0, 0.5 * rx - 0.5, 0, ry, 0.5 * ry - 0.5);
}

// Left-to-right mirror of a picture `width` pixels wide.
Mat3 mirrorMap(int width)
{
    return affine(-1, 0, width - 1, 0, 1, 0);
}

// O (w x h) turned by `quarter` right angles counter-clockwise as seen; the turned frame's
// size in `turned`.
Mat3 orientationMap(int quarter, int w, int h, cv::Size& turned)
{
    turned = quarter % 2 ? cv::Size(h, w) : cv::Size(w, h);
    switch (quarter) {
    case 1:
        return affine(0, 1, 0, -1, 0, w - 1);
    case 2:
        return affine(-1, 0, w - 1, 0, -1, h - 1);
    case 3:
        return affine(0, -1, h - 1, 1, 0, 0);
    default:
        return Mat3::eye();
    }
}

double determinant(const Mat3& a)
{
    return a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0);
}

double scaleOf(const Mat3& a)
{
    return std::sqrt(std::fabs(determinant(a)));
}

// A transform a copy can have been made with: not degenerate, not wildly stretched, and
// for a perspective one, seen from not far off square over the picture.
bool plausible(const Mat3& a)
{
    const cv::Matx22d m(a(0, 0), a(0, 1), a(1, 0), a(1, 1));
    cv::Matx21d w;
    cv::SVD::compute(m, w, cv::SVD::NO_UV);
    if (!std::isfinite(w(0)) || !std::isfinite(w(1)) || w(1) <= 0.0) return false;
    const double scale = std::sqrt(w(0) * w(1));
    return w(0) / w(1) <= 2.0 && scale >= 0.05 && scale <= 20.0 && std::isfinite(a(2, 0))
        && std::isfinite(a(2, 1));
}

// Within O's frame (w x h) the perspective of a changes the local scale by at most a
// factor of 1.5: a copy photographed at a slant, not a degenerate fit.
bool plausibleOver(const Mat3& a, int w, int h)
{
    if (!plausible(a)) return false;
    if (!isProjective(a)) return true;
    double lo = 1e300, hi = 0;
    for (double x : {0.0, w - 1.0})
        for (double y : {0.0, h - 1.0}) {
            const double den = a(2, 0) * x + a(2, 1) * y + a(2, 2);
            if (den <= 0) return false;
            const double s = std::sqrt(std::fabs(cv::determinant(jacobian(a, x, y))));
            lo = std::min(lo, s);
            hi = std::max(hi, s);
        }
    return hi < 1.5 * lo;
}

// Columns [begin, end) of row y of O whose pixels fall inside S under the O-to-S
// transform a: every sample then has all its interpolation neighbours inside S. A row
// maps to a line, and S's frame is convex, so the columns are one run.
struct Span {
    int begin = 0;
    int end = 0;
    int size() const { return std::max(0, end - begin); }
};

Span coveredSpan(const Mat3& a, double y, int widthO, int widthS, int heightS, double margin = 0.0)
{
    double lo = 0.0, hi = widthO - 1.0;
    const double eps = 1e-7;
    // Keeps the x where c1 x + c0 >= 0.
    auto keep = [&](double c1, double c0) {
        if (std::fabs(c1) < 1e-12) {
            if (c0 < 0) hi = -1.0;
            return;
        }
        const double x = -c0 / c1;
        if (c1 > 0)
            lo = std::max(lo, x);
        else
            hi = std::min(hi, x);
    };
    const double w1 = a(2, 0), w0 = a(2, 1) * y + a(2, 2);
    keep(w1, w0 - 1e-9);
    for (int k = 0; k < 2; ++k) {
        const double p1 = a(k, 0), p0 = a(k, 1) * y + a(k, 2);
        const double low = margin - eps, high = (k == 0 ? widthS : heightS) - 1.0 - margin + eps;
        keep(p1 - low * w1, p0 - low * w0);
        keep(high * w1 - p1, high * w0 - p0);
    }
    if (hi < lo) return {};
    return {int(std::ceil(lo)), int(std::floor(hi)) + 1};
}

// A pixel whose centre lies within half a pixel of S's outer centres is still in S's area.
constexpr double kEdge = -0.5;

double coverageOf(const Mat3& a, int widthO, int heightO, int widthS, int heightS)
{
    double covered = 0.0;
    for (int y = 0; y < heightO; ++y)
        covered += coveredSpan(a, y, widthO, widthS, heightS, kEdge).size();
    return covered / (double(widthO) * heightO);
}

// One copy of a picture's grey values, top row first.
struct Level {
    cv::Mat gray; // CV_8U
    cv::Mat grayFloat; // CV_32F, made when first needed
    double rx = 1.0, ry = 1.0; // its size over the full picture's

    const cv::Mat& asFloat()
    {
        if (grayFloat.empty()) gray.convertTo(grayFloat, CV_32F);
        return grayFloat;
    }
    double longSide() const { return std::max(gray.cols, gray.rows); }
    double pixels() const { return double(gray.cols) * gray.rows; }
    Mat3 fromFull() const { return resizeMap(rx, ry); }
};

// The picture's grey values (top row first) and copies of half the size, down to a few
// dozen pixels.
class Pyramid {
public:
    explicit Pyramid(cv::Mat gray)
    {
        Level full;
        full.gray = std::move(gray);
        const double w = full.gray.cols, h = full.gray.rows;
        m_levels.push_back(std::move(full));
        for (;;) {
            const cv::Mat& last = m_levels.back().gray;
            if (std::max(last.cols, last.rows) <= 64 || std::min(last.cols, last.rows) < 16) break;
            Level next;
            cv::resize(
                last, next.gray, cv::Size((last.cols + 1) / 2, (last.rows + 1) / 2), 0, 0, cv::INTER_AREA);
            next.rx = next.gray.cols / w;
            next.ry = next.gray.rows / h;
            m_levels.push_back(std::move(next));
        }
    }

    int count() const { return int(m_levels.size()); }
    Level& operator[](int k) { return m_levels[std::size_t(k)]; }
    int width() const { return m_levels[0].gray.cols; }
    int height() const { return m_levels[0].gray.rows; }

    // The finest copy whose long side is at most `side` (the coarsest if none is).
    int withLongSide(double side) const
    {
        for (int k = 0; k < count(); ++k)
            if (m_levels[std::size_t(k)].longSide() <= side) return k;
        return count() - 1;
    }
    // The copy whose pixels are closest in size to those of `other`'s copy under a
    // transform of the given scale (S pixels per O pixel), so that neither is aliased.
    int matching(const Level& other, double scale) const
    {
        const double want = std::log(scale / other.rx);
        int best = 0;
        double bestDistance = 1e300;
        for (int k = 0; k < count(); ++k) {
            const double d = std::fabs(std::log(1.0 / m_levels[std::size_t(k)].rx) - want);
            if (d < bestDistance - 1e-9) {
                bestDistance = d;
                best = k;
            }
        }
        return best;
    }

private:
    std::vector<Level> m_levels;
};

Mat3 toLevels(const Mat3& a, const Level& o, const Level& s)
{
    return normalised(s.fromFull() * a * o.fromFull().inv());
}

Mat3 fromLevels(const Mat3& aLevel, const Level& o, const Level& s)
{
    return normalised(s.fromFull().inv() * aLevel * o.fromFull());
}

// The scale of a full-size transform near O's centre.
double scaleNearCentre(const Mat3& a, int w, int h)
{
    return std::sqrt(std::fabs(cv::determinant(jacobian(a, (w - 1) / 2.0, (h - 1) / 2.0))));
}

// Pearson correlation of O's copy and S's copy warped onto it, over the covered area.
// -1 when too little is covered or either side is flat.
double correlationAt(Level& o, Level& s, const Mat3& aLevel)
{
    const cv::Mat& t = o.asFloat();
    cv::Mat warped;
    warpOnto(s.asFloat(), warped, aLevel, t.size(), cv::INTER_LINEAR);
    // O's outermost pixel may blend S's padding (see refineByEcc).
    const int margin = t.cols > 8 && t.rows > 8 ? 1 : 0;
    double n = 0, st = 0, sw = 0, stt = 0, sww = 0, stw = 0;
    for (int y = margin; y < t.rows - margin; ++y) {
        const Span span = coveredSpan(aLevel, y, t.cols, s.gray.cols, s.gray.rows);
        const float* tp = t.ptr<float>(y);
        const float* wp = warped.ptr<float>(y);
        double rst = 0, rsw = 0, rstt = 0, rsww = 0, rstw = 0;
        const int begin = std::max(span.begin, margin), end = std::min(span.end, t.cols - margin);
        for (int x = begin; x < end; ++x) {
            const double tv = tp[x], wv = wp[x];
            rst += tv;
            rsw += wv;
            rstt += tv * tv;
            rsww += wv * wv;
            rstw += tv * wv;
        }
        n += std::max(0, end - begin);
        st += rst;
        sw += rsw;
        stt += rstt;
        sww += rsww;
        stw += rstw;
    }
    if (n < 64) return -1.0;
    const double vt = stt - st * st / n, vw = sww - sw * sw / n, c = stw - st * sw / n;
    if (vt <= 1e-9 * n || vw <= 1e-9 * n) return -1.0;
    return c / std::sqrt(vt * vw);
}

// Whether `after` explains clearly more of the picture than `before`: the misfit 1 - r
// must shrink by at least the given share. Fitting parameters to noise always gains a
// little (about 6 / samples of the misfit), and that must not count. A start that is
// exact for the common copies (the same grid, or the stretch of a resized copy) must be
// left only for a clear gain: free parameters also bend towards whatever else differs
// systematically, such as a strong watermark on a picture of little detail, and a start
// that is already right would only lose by that.
constexpr double kSmallGain = 0.001;
constexpr double kClearGain = 0.02;

bool clearlyBetter(double before, double after, double share)
{
    return after > before && (1.0 - after) < (1.0 - share) * (1.0 - before);
}

// ECC (affine or homography) on the copies, starting from aLevel; false when it fails to
// converge. O's outermost pixels are left out: S may have been padded next to them (a
// rotation on the same canvas fills its corners black), and the method's smoothing would
// carry the padding into them.
bool refineByEcc(Level& o, Level& s, Mat3& aLevel, int motion, int iterations, double epsilon)
{
    constexpr int kMargin = 3;
    const cv::Mat& t = o.asFloat();
    if (t.cols <= 4 * kMargin || t.rows <= 4 * kMargin) return false;
    const Mat3 offset = translation(kMargin, kMargin);
    cv::Mat warp = toCv(normalised(aLevel * offset), CV_32F, motion == cv::MOTION_HOMOGRAPHY);
    if (motion != cv::MOTION_HOMOGRAPHY && warp.rows == 3) return false;
    try {
        cv::findTransformECC(t(cv::Rect(kMargin, kMargin, t.cols - 2 * kMargin, t.rows - 2 * kMargin)),
            s.asFloat(), warp, motion,
            cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, iterations, epsilon),
            cv::noArray(), 5);
    } catch (const cv::Exception&) {
        return false; // no convergence: the candidate keeps its start
    }
    const Mat3 refined = normalised(fromCv(warp) * offset.inv());
    if (!plausible(refined)) return false;
    aLevel = refined;
    return true;
}

double bilinear(const cv::Mat& img, double x, double y)
{
    x = std::clamp(x, 0.0, img.cols - 1.000001);
    y = std::clamp(y, 0.0, img.rows - 1.000001);
    const int x0 = int(x), y0 = int(y);
    const double fx = x - x0, fy = y - y0;
    const int x1 = std::min(x0 + 1, img.cols - 1), y1 = std::min(y0 + 1, img.rows - 1);
    const std::uint8_t* r0 = img.ptr<std::uint8_t>(y0);
    const std::uint8_t* r1 = img.ptr<std::uint8_t>(y1);
    const double top = r0[x0] + fx * (r0[x1] - r0[x0]);
    const double bottom = r1[x0] + fx * (r1[x1] - r1[x0]);
    return top + fy * (bottom - top);
}

// Zero-mean normalised correlation of two sample sets.
double zncc(const std::vector<double>& a, const std::vector<double>& b)
{
    const double n = double(a.size());
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sa += a[i];
        sb += b[i];
        saa += a[i] * a[i];
        sbb += b[i] * b[i];
        sab += a[i] * b[i];
    }
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    if (va <= 0.0 || vb <= 0.0) return -1.0;
    return (sab - sa * sb / n) / std::sqrt(va * vb);
}

// Whether a transform is a similarity (possibly mirrored): equal scales on both axes,
// within the relative tolerance.
bool isSimilarity(const Mat3& a, double tolerance = 0.003)
{
    if (isProjective(a)) return false;
    const cv::Matx22d m(a(0, 0), a(0, 1), a(1, 0), a(1, 1));
    cv::Matx21d w;
    cv::SVD::compute(m, w, cv::SVD::NO_UV);
    return w(1) > 0.0 && w(0) / w(1) < 1.0 + tolerance;
}

enum class Model { Similarity, Affine, Homography };

Model modelOf(const Mat3& a)
{
    if (isProjective(a)) return Model::Homography;
    return isSimilarity(a) ? Model::Similarity : Model::Affine;
}

// The intensity refinement on a sparse grid of O's pixels: Gauss-Newton in the
// inverse-compositional form (O's gradients, fixed normal matrix), with S's samples
// brought to O's mean and spread each step, which maximises the same correlation
// coefficient as ECC. Costs a few bilinear samples per grid point and step, whatever the
// picture's size. The model is kept: a similarity stays one (copies are resized,
// rotated, cropped and shifted, and the parameters more of a general transform only
// wander where the picture has little structure in some direction), and only a
// perspective start is refined as a perspective.
bool refineSparse(Level& o, Level& s, Mat3& aLevel, double needed)
{
    const Model model = modelOf(aLevel);
    const int params = model == Model::Similarity ? 4 : model == Model::Affine ? 6 : 8;
    // The 8 homography parameters p = basis * q.
    cv::Mat basis = cv::Mat::zeros(8, params, CV_64F);
    if (model == Model::Similarity) {
        // q = (scale, rotation, shift x, shift y)
        basis.at<double>(0, 0) = basis.at<double>(4, 0) = 1;
        basis.at<double>(1, 1) = -1;
        basis.at<double>(3, 1) = 1;
        basis.at<double>(2, 2) = 1;
        basis.at<double>(5, 3) = 1;
    } else {
        for (int i = 0; i < params; ++i)
            basis.at<double>(i, i) = 1;
    }
    const cv::Mat& t = o.gray;
    const cv::Mat& img = s.gray;
    const int stride = std::max(1, int(std::sqrt(o.pixels() / kSparseSamples)));
    struct Sample {
        double x, y, t;
        cv::Vec<double, 8> sd;
    };
    const double cx = (t.cols - 1) / 2.0, cy = (t.rows - 1) / 2.0, radius = std::max(1.0, o.longSide() / 2.0);
    std::vector<Sample> samples;
    for (int y = 2; y < t.rows - 2; y += stride) {
        const Span span = coveredSpan(aLevel, y, t.cols, img.cols, img.rows, 2.0);
        const std::uint8_t* row = t.ptr<std::uint8_t>(y);
        for (int x = std::max(2, span.begin); x < std::min(span.end, t.cols - 2); x += stride) {
            // O's gradient per unit of the centred, scaled coordinates.
            const double gx = radius * (row[x + 1] - row[x - 1]) / 2.0;
            const double gy = radius * (t.ptr<std::uint8_t>(y + 1)[x] - t.ptr<std::uint8_t>(y - 1)[x]) / 2.0;
            const double u = (x - cx) / radius, v = (y - cy) / radius;
            samples.push_back({double(x), double(y), double(row[x]),
                {gx * u, gx * v, gx, gy * u, gy * v, gy, -(gx * u + gy * v) * u, -(gx * u + gy * v) * v}});
        }
    }
    if (samples.size() < 64) return false;
    cv::Matx<double, 8, 8> normal8 = cv::Matx<double, 8, 8>::zeros();
    std::vector<double> tv(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        normal8 += samples[i].sd * samples[i].sd.t();
        tv[i] = samples[i].t;
    }
    double meanT = 0, varT = 0;
    for (double v : tv)
        meanT += v;
    meanT /= double(tv.size());
    for (double v : tv)
        varT += (v - meanT) * (v - meanT);
    if (varT <= 0.0) return false;
    const cv::Mat reduced = basis.t() * cv::Mat(normal8) * basis;
    cv::Mat inverse;
    if (cv::invert(reduced, inverse, cv::DECOMP_CHOLESKY) == 0.0) return false;
    const cv::Mat solve = basis * inverse * basis.t(); // 8 x 8

    // Pixel coordinates to the centred, scaled ones the parameters act in.
    const Mat3 toNorm = affine(1 / radius, 0, -cx / radius, 0, 1 / radius, -cy / radius);
    const Mat3 fromNorm = toNorm.inv();
    auto sampleAll = [&](const Mat3& a, std::vector<double>& out) {
        out.resize(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const cv::Point2d p = apply(a, samples[i].x, samples[i].y);
            out[i] = bilinear(img, p.x, p.y);
        }
    };
    std::vector<double> iv;
    sampleAll(aLevel, iv);
    const double before = zncc(tv, iv);
    Mat3 a = aLevel;
    for (int iteration = 0; iteration < 30; ++iteration) {
        double meanI = 0, varI = 0;
        for (double v : iv)
            meanI += v;
        meanI /= double(iv.size());
        for (double v : iv)
            varI += (v - meanI) * (v - meanI);
        if (varI <= 0.0) return false;
        const double gain = std::sqrt(varT / varI);
        cv::Vec<double, 8> b = cv::Vec<double, 8>::all(0.0);
        for (std::size_t i = 0; i < samples.size(); ++i)
            b += samples[i].sd * ((iv[i] - meanI) * gain + meanT - tv[i]);
        const cv::Mat pm = solve * cv::Mat(b);
        const double* p = pm.ptr<double>();
        const Mat3 step
            = normalised(fromNorm * Mat3(1 + p[0], p[1], p[2], p[3], 1 + p[4], p[5], p[6], p[7], 1) * toNorm);
        a = normalised(a * step.inv());
        if (model != Model::Homography) a(2, 0) = a(2, 1) = 0.0;
        if (!plausible(a)) return false;
        sampleAll(a, iv);
        // Stop when the step moves no corner of O's copy by a thousandth of a pixel.
        double moved = 0;
        for (double corner : {0.0, 1.0}) {
            for (double cornerY : {0.0, 1.0}) {
                const double x = corner * (t.cols - 1), y = cornerY * (t.rows - 1);
                const cv::Point2d q = apply(step, x, y);
                moved = std::max(moved, std::hypot(q.x - x, q.y - y));
            }
        }
        if (moved < 1e-3) break;
    }
    if (!clearlyBetter(before, zncc(tv, iv), needed)) return false;
    aLevel = a;
    return true;
}

struct Features {
    std::vector<cv::KeyPoint> points;
    cv::Mat descriptors;
};

Features orbFeatures(const cv::Mat& gray)
{
    Features f;
    try {
        cv::Ptr<cv::ORB> orb = cv::ORB::create(2000, 1.2f, 8, 31, 0, 2, cv::ORB::HARRIS_SCORE, 31, 12);
        orb->detectAndCompute(gray, cv::noArray(), f.points, f.descriptors);
    } catch (const cv::Exception&) {
        f = Features(); // a picture too small for the detector simply has no features
    }
    return f;
}

// Robust fits (a similarity, a general affine transform and a homography) of matched
// features, O to S, in the copies' coordinates.
void fitFeatures(const Features& o, const Features& s, std::vector<std::pair<std::string, Mat3>>& fits)
{
    if (o.descriptors.rows < kMinInliers || s.descriptors.rows < kMinInliers) return;
    cv::BFMatcher matcher(cv::NORM_HAMMING);
    std::vector<std::vector<cv::DMatch>> knn;
    matcher.knnMatch(o.descriptors, s.descriptors, knn, 2);
    std::vector<cv::Point2f> po, ps;
    for (const auto& m : knn) {
        if (m.size() == 2 && m[0].distance < 0.8f * m[1].distance) {
            po.push_back(o.points[std::size_t(m[0].queryIdx)].pt);
            ps.push_back(s.points[std::size_t(m[0].trainIdx)].pt);
        }
    }
    if (int(po.size()) < kMinInliers) return;
    cv::Mat inliers;
    const cv::Mat similar = cv::estimateAffinePartial2D(po, ps, inliers, cv::RANSAC, 3.0, 2000, 0.995, 10);
    if (!similar.empty() && cv::countNonZero(inliers) >= kMinInliers)
        fits.emplace_back("features", fromCv(similar));
    const cv::Mat general = cv::estimateAffine2D(po, ps, inliers, cv::RANSAC, 3.0, 2000, 0.995, 10);
    if (!general.empty() && cv::countNonZero(inliers) >= kMinInliers)
        fits.emplace_back("features-affine", fromCv(general));
    if (int(po.size()) >= 2 * kMinInliers) {
        const cv::Mat h = cv::findHomography(po, ps, cv::RANSAC, 3.0, inliers, 2000, 0.995);
        if (!h.empty() && cv::countNonZero(inliers) >= 2 * kMinInliers)
            fits.emplace_back("features-homography", fromCv(h));
    }
}

struct Candidate {
    std::string method;
    Mat3 a; // O to S, full-size visual coordinates
    bool exact = false; // the same grid or a stretch: exact for the copies it stands for
    bool refined = false;
    double correlation = -1.0;
    Mat3 start = Mat3::eye(); // as it was found, before any refinement
    // Other exact starts of the same orientation. A stretch whose two scales differ only
    // by the rounding of the copy's sides has its twin at one scale on both axes, exact
    // for a tool that resizes by a factor (a 451-pixel side halved to 226 pixels is scaled
    // by 0.5, not 226/451), the roundest factor first. With a flat margin taken for a
    // border, the whole frame is one too: the margin may be the picture's own (a dark
    // background).
    std::vector<Mat3> twins = {};
};

// Identity and stretch are exact for the copies they stand for, until refined.
bool exactStart(const Candidate& c)
{
    return c.exact && !c.refined;
}

// The similarity (mirrored when a is) nearest to a, taking the centre of its domain (a
// widthO x heightO picture) where a takes it.
Mat3 nearestSimilarity(const Mat3& a, int widthO, int heightO, int widthS)
{
    const bool mirrored = determinant(a) < 0.0;
    const Mat3 m = mirrored ? mirrorMap(widthS) * a : a;
    const double p = (m(0, 0) + m(1, 1)) / 2, q = (m(0, 1) - m(1, 0)) / 2;
    const double cx = (widthO - 1) / 2.0, cy = (heightO - 1) / 2.0;
    const double tx = m(0, 0) * cx + m(0, 1) * cy + m(0, 2), ty = m(1, 0) * cx + m(1, 1) * cy + m(1, 2);
    const Mat3 similar = affine(p, q, tx - (p * cx + q * cy), -q, p, ty - (-q * cx + p * cy));
    return mirrored ? mirrorMap(widthS) * similar : similar;
}

// The EXIF orientation of a camera's file as the turn (quarters counter-clockwise) and
// mirror that make it upright: how a copy seen elsewhere most likely stands.
std::optional<std::pair<int, bool>> exifUpright(const Picture& original)
{
    const std::optional<std::uint32_t> value = exifOrientation(original);
    if (!value) return std::nullopt;
    switch (*value) {
    case 2:
        return std::pair{0, true};
    case 3:
        return std::pair{2, false};
    case 4:
        return std::pair{2, true};
    case 5:
        return std::pair{1, true};
    case 6:
        return std::pair{3, false};
    case 7:
        return std::pair{3, true};
    case 8:
        return std::pair{1, false};
    default:
        return std::nullopt;
    }
}

// O stretched onto S's frame in each of the eight right-angle orientations; the first
// (unturned, unmirrored) is the identity for a copy of O's size. The EXIF hint, when O
// has one, comes right after it.
std::vector<Candidate> orientationCandidates(const Picture& original, int wo, int ho, int ws, int hs)
{
    std::vector<std::pair<int, bool>> order;
    for (int quarter = 0; quarter < 4; ++quarter)
        for (bool mirror : {false, true})
            order.emplace_back(quarter, mirror);
    if (const auto hint = exifUpright(original)) {
        const auto it = std::find(order.begin(), order.end(), *hint);
        std::rotate(order.begin() + 1, it, it + 1);
    }
    std::vector<Candidate> out;
    for (const auto& [quarter, mirror] : order) {
        cv::Size turned;
        const Mat3 turn = orientationMap(quarter, wo, ho, turned);
        Mat3 a = resizeMap(double(ws) / turned.width, double(hs) / turned.height) * turn;
        if (mirror) a = mirrorMap(ws) * a;
        const bool same = quarter == 0 && !mirror && ws == wo && hs == ho;
        out.push_back({same ? "identity" : "stretch", a, true});
        // The scales whose rounding of O's sides gives S's: the roundest of them (a tool's
        // factor, such as 0.5 or 0.7), then each axis' own ratio if it is one of them.
        const double rx = double(ws) / turned.width, ry = double(hs) / turned.height;
        const double lo = std::max((ws - 0.5) / turned.width, (hs - 0.5) / turned.height) - 1e-9;
        const double hi = std::min((ws + 0.5) / turned.width, (hs + 0.5) / turned.height) + 1e-9;
        std::vector<double> factors;
        auto add = [&](double r) {
            if (r >= lo && r <= hi
                && std::ranges::none_of(factors, [&](double f) { return std::fabs(f - r) < 1e-12; }))
                factors.push_back(r);
        };
        for (double step = 0.1; step > 1e-4 && factors.empty(); step /= 10)
            add(std::ceil(lo / step) * step);
        // A fraction of small terms, such as a third.
        for (int q = 3; q <= 9; ++q)
            add(std::round(lo * q) / q);
        for (const double r : {rx, ry})
            add(r);
        for (const double r : factors) {
            if (std::fabs(r - rx) < 1e-12 && std::fabs(r - ry) < 1e-12) continue; // the stretch itself
            Mat3 u = resizeMap(r, r) * turn;
            if (mirror) u = mirrorMap(ws) * u;
            out.back().twins.push_back(u);
        }
    }
    return out;
}

// The feature-free search: S brought onto O's copy at a ladder of scales in each
// orientation, the shift found by phase correlation, each result judged by the image
// correlation. For photographs with too few corners for features (sky, fog, blur) that
// are also cropped, where no stretch of the frame fits.
std::vector<Candidate> searchScaleShift(Pyramid& po, Pyramid& ps, const std::vector<Candidate>& turns)
{
    Level& o = po[po.withLongSide(kSearchSide)];
    const cv::Mat& t = o.asFloat();
    cv::Mat window;
    cv::createHanningWindow(window, t.size(), CV_32F);
    const int wo = po.width(), ho = po.height(), ws = ps.width(), hs = ps.height();
    std::vector<Candidate> found;
    for (const Candidate& turn : turns) {
        // S's frame holds at most O's (a crop), so the stretch is the smallest scale; the
        // largest leaves S a sixth of O's area.
        const double stretch = scaleNearCentre(turn.a, wo, ho);
        for (double scale = 0.92 * stretch; scale <= 2.5 * stretch; scale *= 1.07) {
            // O's centre on S's centre, at this scale, in this orientation.
            const double f = scale / stretch;
            const Mat3 about = translation((ws - 1) / 2.0, (hs - 1) / 2.0) * affine(f, 0, 0, 0, f, 0)
                * translation(-(ws - 1) / 2.0, -(hs - 1) / 2.0);
            const Mat3 a0 = about * turn.a;
            Level& s = ps[ps.matching(o, scale)];
            const Mat3 a0Level = toLevels(a0, o, s);
            cv::Mat warped;
            const cv::Scalar mean = cv::mean(s.asFloat());
            warpOnto(s.asFloat(), warped, a0Level, t.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, mean);
            double response = 0;
            const cv::Point2d d = cv::phaseCorrelate(t, warped, window, &response);
            if (!std::isfinite(d.x) || !std::isfinite(d.y)) continue;
            // warped(x) = O(x - d), so S(a x) = O(x) for a = a0 moved by d on O's grid.
            const Mat3 aLevel = a0Level * translation(d.x, d.y);
            const double r = correlationAt(o, s, aLevel);
            if (r > -1.0) found.push_back({"search", fromLevels(aLevel, o, s), false, false, r});
        }
    }
    std::sort(found.begin(), found.end(),
        [](const Candidate& x, const Candidate& y) { return x.correlation > y.correlation; });
    if (found.size() > 3) found.resize(3);
    return found;
}

// Refines a full-size transform on O's copy k by `refine`, keeping the result only where
// it correlates clearly better there.
template <class Refine>
bool refineAt(Pyramid& po, Pyramid& ps, int k, Mat3& a, double gain, const Refine& refine)
{
    Level& o = po[k];
    Level& s = ps[ps.matching(o, scaleOf(a))];
    Mat3 aLevel = toLevels(a, o, s);
    // Above the size the correlation is reported at, a dense correlation would cost more
    // than all the rest: the refinement's own check on its samples decides there.
    const bool dense = o.longSide() <= kCorrelationSide;
    const double before = dense ? correlationAt(o, s, aLevel) : 0.0;
    if (!refine(o, s, aLevel)) return false;
    const Mat3 refined = fromLevels(aLevel, o, s);
    if (!plausible(refined) || (dense && !clearlyBetter(before, correlationAt(o, s, aLevel), gain)))
        return false;
    a = refined;
    return true;
}

// Fine detail (each pixel less the mean of its 3 x 3 neighbourhood) compared between O
// and S under a transform, on the pixels of whichever of the two is coarser, as they
// are: the finer one is smoothed to the coarser one's pixel size and resampled onto them.
// Resampling the coarser side instead would smooth its detail by an amount that depends
// on where the transform puts its samples between pixels, and so favour whichever
// transform puts them on pixels (a halved copy's stretch over its exact factor). The
// watermark changes a picture's largest, coarsest coefficients and leaves its fine detail
// alone, so this tells whether a copy stands on O's grid as it is, however strong the
// mark and however little detail the picture has.
class DetailCheck {
public:
    // For transforms near `a` (O to S, full size).
    DetailCheck(Pyramid& po, Pyramid& ps, const Mat3& a)
    {
        const double scale = scaleOf(a);
        m_sOnNative = scale <= 1.0;
        Pyramid& coarse = m_sOnNative ? ps : po;
        Pyramid& fine = m_sOnNative ? po : ps;
        // Coarse pixels per fine pixel, as a full-size factor.
        const double ratio = m_sOnNative ? scale : 1.0 / scale;
        // The coarsest copy of the finer picture with at least two pixels to the coarser
        // one's, or its full size.
        int k = 0;
        while (k + 1 < fine.count() && fine[k + 1].rx >= 2.0 * ratio)
            ++k;
        m_native = &coarse[0];
        m_fine = &fine[k];
        // An area reduction by r adds a spread of (r^2 - 1) / 12 square pixels to the
        // one each pixel already has; below a third of a pixel it hardly shows. The grey
        // values stay 8-bit: a large picture in floating point costs more to make than the
        // rest of the check, and the rounding is the same for every transform compared.
        const double r = m_fine->rx / ratio;
        const double sigma = std::sqrt(std::max(0.0, r * r - 1.0) / 12.0);
        if (sigma >= 1.0 / 3.0)
            cv::GaussianBlur(m_fine->gray, m_smoothed, cv::Size(), sigma, sigma, cv::BORDER_REPLICATE);
        else
            m_smoothed = m_fine->gray;
    }

    double correlation(const Mat3& a) const
    {
        // The map from the native picture's full size to the finer picture's copy.
        const Mat3 full = m_sOnNative ? normalised(a.inv()) : a;
        const Mat3 map = normalised(m_fine->fromFull() * full);
        const cv::Mat& t = m_native->gray;
        const int stride = std::max(1, int(std::sqrt(m_native->pixels() / kDetailSamples)));
        const double margin = 2.0;
        const int wf = m_smoothed.cols, hf = m_smoothed.rows;
        std::vector<double> tv;
        std::vector<float> xs, ys;
        for (int y = 2; y < t.rows - 2; y += stride)
            for (int x = 2; x < t.cols - 2; x += stride) {
                bool inside = true;
                float px[9], py[9];
                for (int i = 0; i < 9 && inside; ++i) {
                    const cv::Point2d p = apply(map, x + i % 3 - 1, y + i / 3 - 1);
                    inside
                        = p.x >= margin && p.y >= margin && p.x <= wf - 1 - margin && p.y <= hf - 1 - margin;
                    px[i] = float(p.x);
                    py[i] = float(p.y);
                }
                if (!inside) continue;
                double around = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        around += t.ptr<std::uint8_t>(y + dy)[x + dx];
                tv.push_back(t.ptr<std::uint8_t>(y)[x] - around / 9.0);
                xs.insert(xs.end(), px, px + 9);
                ys.insert(ys.end(), py, py + 9);
            }
        if (tv.size() < 64) return -1.0;
        // remap takes maps of fewer than 2^15 columns.
        constexpr int kRow = 9 * 1024;
        const std::size_t padded = (xs.size() + kRow - 1) / kRow * kRow;
        xs.resize(padded, xs.front());
        ys.resize(padded, ys.front());
        cv::Mat sampled;
        cv::remap(m_smoothed, sampled, cv::Mat(int(padded / kRow), kRow, CV_32F, xs.data()),
            cv::Mat(int(padded / kRow), kRow, CV_32F, ys.data()), cv::INTER_CUBIC, cv::BORDER_REPLICATE);
        const std::uint8_t* v = sampled.ptr<std::uint8_t>(0);
        std::vector<double> fv(tv.size());
        for (std::size_t j = 0; j < tv.size(); ++j) {
            double around = 0;
            for (int i = 0; i < 9; ++i)
                around += v[9 * j + std::size_t(i)];
            fv[j] = v[9 * j + 4] - around / 9.0;
        }
        return zncc(tv, fv);
    }

private:
    bool m_sOnNative = true; // S is the coarser picture
    Level* m_native = nullptr;
    Level* m_fine = nullptr;
    cv::Mat m_smoothed; // CV_8U
};

// Whether the exact start (the same grid, or a resized copy's stretch) should stand
// instead of the transform found, `distance` away from it (S's pixels at O's corners).
// Compared on fine detail, the start yields only to clear evidence. A picture without any
// fine detail (not even grain) cannot tell a strong mark from a move: there the start
// stands against a small move only.
constexpr double kSomeDetail = 0.2; // a detail correlation below this tells nothing

bool exactStands(const DetailCheck& check, const Mat3& exact, const Mat3& found, double distance, double near)
{
    const double atExact = check.correlation(exact);
    const double atFound = check.correlation(found);
    if (std::max(atExact, atFound) < kSomeDetail) return distance < near;
    return atFound - atExact <= std::max(0.02, 0.05 * (1.0 - atExact));
}

// How far apart two transforms put O's corners in S, in S's pixels.
double cornerDistance(const Mat3& a, const Mat3& b, int w, int h)
{
    double d = 0;
    for (double x : {0.0, w - 1.0})
        for (double y : {0.0, h - 1.0}) {
            const cv::Point2d p = apply(a, x, y), q = apply(b, x, y);
            d = std::max(d, std::hypot(p.x - q.x, p.y - q.y));
        }
    return d;
}

Registration::Border findBorder(const cv::Mat& gray)
{
    // A line is flat when nearly all of it lies within a few grey levels of its median,
    // which must be the first line's (one colour all round a side).
    constexpr int kTolerance = 6;
    auto flat = [&](const cv::Mat& line, int& value) {
        std::array<int, 256> histogram{};
        const int n = int(line.total());
        for (int i = 0; i < n; ++i)
            ++histogram[line.isContinuous() ? line.ptr<std::uint8_t>()[i] : line.at<std::uint8_t>(i)];
        int median = 0;
        for (int seen = 0; median < 256; ++median)
            if ((seen += histogram[std::size_t(median)]) * 2 >= n) break;
        int near = 0;
        for (int v = std::max(0, median - kTolerance); v <= std::min(255, median + kTolerance); ++v)
            near += histogram[std::size_t(v)];
        value = median;
        return near >= 0.98 * n;
    };
    auto depth = [&](auto line, int count) {
        int first = -1, k = 0;
        for (; k < count; ++k) {
            int value = 0;
            if (!flat(line(k), value)) break;
            if (first < 0) first = value;
            if (std::abs(value - first) > kTolerance) break;
        }
        // A margin of a line or two may be the picture's own; the next line may be blended.
        return k >= 2 ? k + 1 : 0;
    };
    Registration::Border b;
    const int w = gray.cols, h = gray.rows;
    cv::Mat columnCopy;
    b.top = depth([&](int k) { return gray.row(k); }, h / 3);
    b.bottom = depth([&](int k) { return gray.row(h - 1 - k); }, h / 3);
    const cv::Range rows(b.top, h - b.bottom);
    b.left = depth(
        [&](int k) {
            columnCopy = gray(rows, cv::Range(k, k + 1)).clone();
            return columnCopy;
        },
        w / 3);
    b.right = depth(
        [&](int k) {
            columnCopy = gray(rows, cv::Range(w - 1 - k, w - k)).clone();
            return columnCopy;
        },
        w / 3);
    return b;
}

// The luminance of a picture of any kind, top row first, from the 8-bit memory every
// picture is shown from (grey there in all three bytes).
cv::Mat luminanceOf(const Picture& p)
{
    const cv::Mat bgr(p.height(), p.width(), CV_8UC3, const_cast<std::uint8_t*>(p.bits()), p.stride());
    cv::Mat gray;
    cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
    if (!p.topDown()) cv::flip(gray, gray, 0);
    return gray;
}

// True when nearly every pixel of the picture is grey (its three values within 2).
bool looksGrey(const Picture& p)
{
    if (p.sampleFormat().colours == 1) return true;
    const int step = std::max(1, int(std::sqrt(double(p.width()) * p.height() / 20000.0)));
    double n = 0, grey = 0;
    for (int y = 0; y < p.height(); y += step) {
        const std::uint8_t* row = p.bits() + p.stride() * std::size_t(y);
        for (int x = 0; x < p.width(); x += step) {
            const std::uint8_t* q = row + 3 * x;
            grey += std::max({q[0], q[1], q[2]}) - std::min({q[0], q[1], q[2]}) <= 2;
            n += 1;
        }
    }
    return grey >= 0.99 * n;
}

int interpolationOf(Resampler r)
{
    switch (r) {
    case Resampler::Linear:
        return cv::INTER_LINEAR;
    case Resampler::Lanczos:
        return cv::INTER_LANCZOS4;
    default:
        return cv::INTER_CUBIC;
    }
}

struct Assembly {
    PictureRef picture;
    GainField gain;
    ToneFit tone;
};

// S (its content, top row first: BGR, or its luminance when the pictures are compared on
// luminance), warped onto O's grid, its gain field and tone curves undone where they
// clearly fit; O where S does not reach.
Assembly assemble(const Picture& original, const cv::Mat& lumO, cv::Mat source, Mat3 a, Resampler resampler)
{
    const int wo = original.width(), ho = original.height();
    const int channels = source.channels();
    // A suspect larger than O is first reduced by area averaging, so that the warp does
    // not alias its finer detail.
    const double scale = scaleNearCentre(a, wo, ho);
    if (scale > 1.25) {
        cv::Mat reduced;
        const cv::Size size(std::max(1, int(std::lround(source.cols / scale))),
            std::max(1, int(std::lround(source.rows / scale))));
        cv::resize(source, reduced, size, 0, 0, cv::INTER_AREA);
        a = normalised(resizeMap(double(size.width) / source.cols, double(size.height) / source.rows) * a);
        source = reduced;
    }
    const int ws = source.cols, hs = source.rows;
    cv::Mat warped;
    const bool sameGrid = ws == wo && hs == ho && a == Mat3::eye();
    if (sameGrid)
        warped = source;
    else
        warpOnto(source, warped, a, cv::Size(wo, ho), interpolationOf(resampler));
    std::vector<Span> spans(static_cast<std::size_t>(ho));
    for (int y = 0; y < ho; ++y)
        spans[std::size_t(y)] = coveredSpan(a, y, wo, ws, hs, kEdge);
    auto luma = [&](const std::uint8_t* p) {
        return channels == 1 ? double(p[0]) : 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
    };

    Assembly out;
    const double half = std::max(wo, ho) / 2.0, cx = (wo - 1) / 2.0, cy = (ho - 1) / 2.0;
    {
        GainSamples samples;
        const int stride = std::max(1, int(std::sqrt(double(wo) * ho / kGainSamples)));
        for (int y = 0; y < ho; y += stride) {
            const Span span = spans[std::size_t(y)];
            const std::uint8_t* w = warped.ptr<std::uint8_t>(y);
            const std::uint8_t* o = lumO.ptr<std::uint8_t>(y);
            for (int x = span.begin + (stride - span.begin % stride) % stride; x < span.end; x += stride)
                samples.add((x - cx) / half, (y - cy) / half, o[x], luma(w + channels * x));
        }
        out.gain = fitGain(samples);
    }
    if (out.gain.used) {
        if (sameGrid) warped = warped.clone();
        for (int y = 0; y < ho; ++y) {
            const Span span = spans[std::size_t(y)];
            std::uint8_t* w = warped.ptr<std::uint8_t>(y);
            for (int x = span.begin; x < span.end; ++x) {
                const double g = out.gain.at((x - cx) / half, (y - cy) / half);
                for (int c = 0; c < channels; ++c)
                    w[channels * x + c] = cv::saturate_cast<std::uint8_t>(w[channels * x + c] / g);
            }
        }
    }
    {
        ToneSamples samples;
        const int stride = std::max(1, int(std::sqrt(double(wo) * ho / kToneSamples)));
        for (int y = 0; y < ho; y += stride) {
            const Span span = spans[std::size_t(y)];
            const std::uint8_t* w = warped.ptr<std::uint8_t>(y);
            const std::uint8_t* orow
                = original.bits() + original.stride() * std::size_t(original.storedRow(y));
            const std::uint8_t* lrow = lumO.ptr<std::uint8_t>(y);
            for (int x = span.begin + (stride - span.begin % stride) % stride; x < span.end; x += stride) {
                if (channels == 1)
                    samples.add(0, lrow[x], w[x]);
                else
                    for (int c = 0; c < 3; ++c)
                        samples.add(c, orow[3 * x + c], w[3 * x + c]);
            }
        }
        out.tone = fitTone(samples);
    }
    const ToneCurves& curves = out.tone.curves;
    out.picture = Picture::create(wo, ho, 24, original.topDown());
    for (int y = 0; y < ho; ++y) {
        const int row = original.storedRow(y);
        std::uint8_t* dst = out.picture->bits() + out.picture->stride() * std::size_t(row);
        const std::uint8_t* fill = original.bits() + original.stride() * std::size_t(row);
        std::copy_n(fill, 3 * std::size_t(wo), dst);
        const Span span = spans[std::size_t(y)];
        const std::uint8_t* src = warped.ptr<std::uint8_t>(y);
        for (int x = span.begin; x < span.end; ++x) {
            if (channels == 1) {
                const std::uint8_t g = curves[0][src[x]];
                dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = g;
            } else {
                for (int c = 0; c < 3; ++c)
                    dst[3 * x + c] = curves[std::size_t(c)][src[3 * x + c]];
            }
        }
    }
    return out;
}

std::string percent(double share)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * share);
    return text;
}

std::string modelName(Model m)
{
    switch (m) {
    case Model::Homography:
        return "homography";
    case Model::Affine:
        return "affine";
    default:
        return "similarity";
    }
}

Registered registerChecked(const Picture& original, const Picture& suspect, const RegisterOptions& options)
{
    const int wo = original.width(), ho = original.height();
    const cv::Mat lumO = luminanceOf(original);
    const cv::Mat lumS = luminanceOf(suspect);
    const Registration::Border border = findBorder(lumS);
    const cv::Rect content(border.left, border.top, suspect.width() - border.left - border.right,
        suspect.height() - border.top - border.bottom);
    Pyramid po(lumO);
    Pyramid ps(border.any() ? cv::Mat(lumS(content).clone()) : lumS);
    const int ws = content.width, hs = content.height;

    // The eight orientations of the frame, then the fits of features (if the pictures
    // have corners), each also for the mirror image.
    std::vector<Candidate> candidates = orientationCandidates(original, wo, ho, ws, hs);
    if (border.any()) {
        const std::vector<Candidate> whole
            = orientationCandidates(original, wo, ho, suspect.width(), suspect.height());
        const Mat3 intoContent = translation(-border.left, -border.top);
        for (std::size_t i = 0; i < 8; ++i) {
            candidates[i].twins.push_back(normalised(intoContent * whole[i].a));
            for (const Mat3& t : whole[i].twins)
                candidates[i].twins.push_back(normalised(intoContent * t));
        }
    }
    {
        Level& fo = po[po.withLongSide(kFeatureSide)];
        Level& fs = ps[ps.withLongSide(kFeatureSide)];
        const Features featuresO = orbFeatures(fo.gray);
        if (!featuresO.points.empty()) {
            std::vector<std::pair<std::string, Mat3>> fits;
            fitFeatures(featuresO, orbFeatures(fs.gray), fits);
            for (const auto& [method, aLevel] : fits)
                candidates.push_back({method, fromLevels(aLevel, fo, fs)});
            cv::Mat flipped;
            cv::flip(fs.gray, flipped, 1);
            fits.clear();
            fitFeatures(featuresO, orbFeatures(flipped), fits);
            for (const auto& [method, aLevel] : fits)
                candidates.push_back({method, fromLevels(mirrorMap(fs.gray.cols) * aLevel, fo, fs)});
        }
    }

    // Every candidate is judged on a small copy by the image correlation, cheaply as it
    // starts; the exact start, the fits of features and the best two other orientations
    // are then refined by ECC there.
    const int screening = po.withLongSide(kScreeningSide);
    auto judge = [&](Candidate& c) {
        c.start = c.a;
        if (!plausibleOver(c.a, wo, ho)) return;
        Level& o = po[screening];
        Level& s = ps[ps.matching(o, scaleNearCentre(c.a, wo, ho))];
        c.correlation = correlationAt(o, s, toLevels(c.a, o, s));
    };
    auto refine = [&](Candidate& c) {
        if (c.correlation <= -1.0) return;
        Level& o = po[screening];
        Level& s = ps[ps.matching(o, scaleNearCentre(c.a, wo, ho))];
        Mat3 aLevel = toLevels(c.a, o, s);
        const int motion = isProjective(c.a) ? cv::MOTION_HOMOGRAPHY : cv::MOTION_AFFINE;
        if (refineByEcc(o, s, aLevel, motion, 40, 1e-4)) {
            const double refined = correlationAt(o, s, aLevel);
            const Mat3 a = fromLevels(aLevel, o, s);
            if (plausibleOver(a, wo, ho)
                && clearlyBetter(c.correlation, refined, c.exact ? kClearGain : kSmallGain)) {
                c.correlation = refined;
                c.a = a;
                c.refined = true;
            }
        }
    };
    for (Candidate& c : candidates)
        judge(c);
    {
        std::vector<Candidate*> turns;
        for (std::size_t i = 1; i < 8; ++i)
            turns.push_back(&candidates[i]);
        std::sort(turns.begin(), turns.end(),
            [](const Candidate* x, const Candidate* y) { return x->correlation > y->correlation; });
        std::vector<Candidate*> chosen{&candidates[0], turns[0], turns[1]};
        for (std::size_t i = 8; i < candidates.size(); ++i)
            chosen.push_back(&candidates[i]);
        for (Candidate* c : chosen)
            refine(*c);
    }
    // The simpler candidates come first and keep their place unless a later one is clearly
    // better; an exact start (see clearlyBetter) only for a clear gain.
    auto best = [](const std::vector<Candidate>& list) {
        const Candidate* b = nullptr;
        for (const Candidate& c : list)
            if (c.correlation > -1.0
                && (!b
                    || clearlyBetter(
                        b->correlation, c.correlation, exactStart(*b) ? kClearGain : kSmallGain)))
                b = &c;
        return b;
    };
    const Candidate* winner = best(candidates);
    // Nothing fits well: the scale and shift searched without features, in every
    // orientation (a cropped copy of a photograph without corners).
    constexpr double kGoodFit = 0.9;
    if (!winner || winner->correlation < kGoodFit) {
        std::vector<Candidate> turns(candidates.begin(), candidates.begin() + 8);
        for (Candidate found : searchScaleShift(po, ps, turns)) {
            judge(found);
            refine(found);
            candidates.push_back(found);
        }
        winner = best(candidates);
    }
    if (!winner)
        throw Error(err::NotAlignable,
            "The suspect picture cannot be aligned with the original: no transform brings them together");
    Candidate chosen = *winner;
    // Copies are resized, rotated, cropped and shifted: what the refinement added to the
    // winner's start goes on as a similarity (the start keeps its own slight stretch, such
    // as the rounding of a resized copy's sides). The general affine refinement on the
    // small copy may have bent it a little towards whatever else differs (the watermark
    // itself, at high strength, on a picture of little detail). A copy photographed or
    // corrected at a slant needs the perspective: tried from the winner, kept only for a
    // clear gain.
    if (chosen.refined && !isProjective(chosen.start) && isSimilarity(chosen.start, 0.01)) {
        if (chosen.exact) {
            const Mat3 added = chosen.a * chosen.start.inv(); // S to S
            chosen.a = nearestSimilarity(added, ws, hs, ws) * chosen.start;
        } else {
            chosen.a = nearestSimilarity(chosen.a, wo, ho, ws);
        }
    }
    if (!isProjective(chosen.a) && !exactStart(chosen)) {
        Level& o = po[screening];
        Level& s = ps[ps.matching(o, scaleNearCentre(chosen.a, wo, ho))];
        Mat3 aLevel = toLevels(chosen.a, o, s);
        const double before = correlationAt(o, s, aLevel);
        constexpr double kPerspectiveGain = 0.1;
        if (refineByEcc(o, s, aLevel, cv::MOTION_HOMOGRAPHY, 40, 1e-4)
            && clearlyBetter(before, correlationAt(o, s, aLevel), kPerspectiveGain)
            && plausibleOver(fromLevels(aLevel, o, s), wo, ho)) {
            chosen.a = fromLevels(aLevel, o, s);
            chosen.refined = true;
        }
    }
    // The winner on its copy and each finer one up to full size, by sparse steps that cost
    // the same on any size and stop on the movement of the corners rather than on the
    // correlation, which hardly changes on a smooth picture.
    for (int k = screening; k >= 0; --k)
        chosen.refined |= refineAt(po, ps, k, chosen.a, exactStart(chosen) ? kClearGain : kSmallGain,
            [&](Level& o, Level& s, Mat3& aLevel) {
                return refineSparse(o, s, aLevel, exactStart(chosen) ? kClearGain : kSmallGain);
            });
    // Never move a copy that needs no move: a mark's own change of the coarse content pulls
    // an intensity alignment, so an exact start near the result stands unless the fine
    // detail, which the mark leaves alone, shows the move.
    const double diagonal = std::hypot(ws, hs);
    if (chosen.refined) {
        // The exact starts near the result, and all those of the orientation nearest it
        // (a refinement pulled far off by a strong mark on a smooth picture): of those, the
        // one whose fine detail agrees best (a halved copy's stretch and its exact factor
        // lie close together), the nearest where the picture has no detail to tell them
        // apart.
        struct Near {
            const Candidate* candidate;
            Mat3 a;
            double distance;
        };
        std::vector<Near> all;
        for (int i = 0; i < 8; ++i) {
            const Candidate& exact = candidates[std::size_t(i)];
            all.push_back({&exact, exact.start, cornerDistance(exact.start, chosen.a, wo, ho)});
            for (const Mat3& a : exact.twins)
                all.push_back({&exact, a, cornerDistance(a, chosen.a, wo, ho)});
        }
        std::sort(
            all.begin(), all.end(), [](const Near& x, const Near& y) { return x.distance < y.distance; });
        std::vector<Near> near;
        for (const Near& n : all)
            if (n.distance < 0.1 * diagonal || n.candidate == all.front().candidate) near.push_back(n);
        const DetailCheck check(po, ps, near.front().a);
        const Near* pick = &near.front();
        double agreement = check.correlation(pick->a);
        for (std::size_t i = 1; i < near.size(); ++i) {
            const double c = check.correlation(near[i].a);
            if (c > agreement && c >= kSomeDetail) {
                agreement = c;
                pick = &near[i];
            }
        }
        if (exactStands(check, pick->a, chosen.a, pick->distance, std::max(3.0, 0.02 * diagonal))) {
            chosen.a = pick->a;
            chosen.method = pick->candidate->method;
            chosen.refined = false;
        }
    } else if (chosen.exact && !chosen.twins.empty()) {
        // A stretch that nothing refined, or one of its twins: whichever the fine detail
        // agrees with best. Where the picture has no detail to tell, the stretch: most tools
        // and services resize a picture to given sides.
        const DetailCheck check(po, ps, chosen.a);
        double agreement = std::max(kSomeDetail, check.correlation(chosen.a));
        for (const Mat3& u : chosen.twins)
            if (const double c = check.correlation(u); c > agreement) {
                agreement = c;
                chosen.a = u;
            }
    }

    Registration r;
    r.method = chosen.method + (chosen.refined ? "+ecc" : "");
    r.model = modelName(modelOf(chosen.a));
    r.border = border;
    r.coverage = coverageOf(chosen.a, wo, ho, ws, hs);
    {
        Level& o = po[po.withLongSide(kCorrelationSide)];
        Level& s = ps[ps.matching(o, scaleNearCentre(chosen.a, wo, ho))];
        r.imageCorrelation = correlationAt(o, s, toLevels(chosen.a, o, s));
    }
    if (r.coverage < options.minCoverage || r.imageCorrelation < options.minCorrelation)
        throw Error(err::NotAlignable,
            "The suspect picture cannot be aligned with the original: at best it covers "
                + percent(r.coverage) + " of it with an image correlation of "
                + std::to_string(r.imageCorrelation).substr(0, 5)
                + ", so it does not look like a copy of it");
    const Mat3 full = normalised(translation(border.left, border.top) * chosen.a);
    for (int i = 0; i < 9; ++i)
        r.transform[std::size_t(i)] = full(i / 3, i % 3);
    describeTransform(r.transform, wo, ho, suspect.width(), suspect.height(), r);

    // Grey against colour is compared on luminance alone.
    const bool luminanceOnly = looksGrey(suspect) != looksGrey(original)
        || original.sampleFormat().colours == 1 || suspect.sampleFormat().colours == 1;
    cv::Mat source;
    if (luminanceOnly) {
        source = border.any() ? cv::Mat(lumS(content)) : lumS;
    } else {
        const cv::Mat bgr(suspect.height(), suspect.width(), CV_8UC3,
            const_cast<std::uint8_t*>(suspect.bits()), suspect.stride());
        if (suspect.topDown()) {
            source = bgr;
        } else {
            cv::flip(bgr, source, 0);
        }
        if (border.any()) source = source(content);
    }
    Assembly assembly = assemble(original, lumO, source, chosen.a, options.resampler);
    r.gain = assembly.gain.used ? "polynomial" : "none";
    r.tone = assembly.tone.used ? "curve" : "none";
    r.toneCurves = assembly.tone.curves;
    return {std::move(assembly.picture), r};
}

} // namespace

void describeTransform(const std::array<double, 9>& transform, int originalWidth, int originalHeight,
    int suspectWidth, int suspectHeight, Registration& out)
{
    const Mat3 t(transform.data());
    const double cx = (originalWidth - 1) / 2.0, cy = (originalHeight - 1) / 2.0;
    cv::Matx22d m = jacobian(t, cx, cy);
    const double det = m(0, 0) * m(1, 1) - m(0, 1) * m(1, 0);
    out.mirrored = det < 0.0;
    if (out.mirrored) m = cv::Matx22d(-1, 0, 0, 1) * m;
    out.scale = std::sqrt(std::fabs(det));
    out.scaleX = std::hypot(m(0, 0), m(1, 0));
    out.scaleY = std::hypot(m(0, 1), m(1, 1));
    out.rotationDeg = std::atan2(m(0, 1) - m(1, 0), m(0, 0) + m(1, 1)) * 180.0 / std::numbers::pi;
    out.orientation = (int(std::lround(out.rotationDeg / 90.0)) % 4 + 4) % 4 * 90;
    const cv::Point2d c = apply(t, cx, cy);
    out.shiftX = (out.mirrored ? suspectWidth - 1 - c.x : c.x) - (suspectWidth - 1) / 2.0;
    out.shiftY = c.y - (suspectHeight - 1) / 2.0;
}

bool registrable(const Picture& original, const Picture& suspect) noexcept
{
    return original.width() > 0 && original.height() > 0 && suspect.width() > 0 && suspect.height() > 0;
}

Registered registerPicture(const Picture& original, const Picture& suspect, const RegisterOptions& options)
{
    try {
        return registerChecked(original, suspect, options);
    } catch (const std::bad_alloc&) {
        throw Error(err::OutOfMemory, "Out of memory while registering the suspect picture");
    } catch (const cv::Exception& e) {
        if (e.code == cv::Error::StsNoMem)
            throw Error(err::OutOfMemory, "Out of memory while registering the suspect picture");
        throw Error(err::NotAlignable, "The suspect picture cannot be aligned with the original: " + e.err);
    }
}

} // namespace pelinor
