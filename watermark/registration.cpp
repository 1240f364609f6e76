#include "watermark/registration.h"

#include "base/error.h"

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
#include <utility>
#include <vector>

namespace pelinor {

namespace {

// Working sizes. Candidates are refined by ECC and compared on a small copy, where that
// costs little; the winner is then refined on finer copies up to full size from a sparse
// set of samples, so that a large picture costs hardly more than a small one until the
// final warp.
constexpr int kScreeningSide = 320; // long side of the copy the candidates are compared on
constexpr int kFeatureSide = 1024; // long side of the copies features are taken from
constexpr int kCorrelationSide = 1024; // long side of the copy the reported correlation is measured on
constexpr double kSparseSamples = 50000; // samples of one sparse refinement step
constexpr double kToneSamples = 250000; // sample pairs the tone curves are fitted from
constexpr int kMinInliers = 10; // feature matches a robust fit must keep

using Mat3 = cv::Matx33d;

Mat3 affine(double a, double b, double c, double d, double e, double f)
{
    return Mat3(a, b, c, d, e, f, 0, 0, 1);
}

Mat3 fromCv(const cv::Mat& m)
{
    cv::Mat d;
    m.convertTo(d, CV_64F);
    return affine(d.at<double>(0, 0), d.at<double>(0, 1), d.at<double>(0, 2), d.at<double>(1, 0),
        d.at<double>(1, 1), d.at<double>(1, 2));
}

cv::Mat toCv(const Mat3& m, int type)
{
    cv::Mat out(2, 3, CV_64F);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            out.at<double>(r, c) = m(r, c);
    if (type != CV_64F) out.convertTo(out, type);
    return out;
}

std::array<double, 6> toArray(const Mat3& m)
{
    return {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2)};
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

// Between visual rows (0 = top) and stored rows, either way.
Mat3 rowOrderMap(const Picture& p)
{
    return p.topDown() ? Mat3::eye() : affine(1, 0, 0, 0, -1, p.height() - 1);
}

double determinant(const Mat3& a)
{
    return a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0);
}

double scaleOf(const Mat3& a)
{
    return std::sqrt(std::fabs(determinant(a)));
}

// A transform a copy can have been made with: not degenerate, not wildly stretched.
bool plausible(const Mat3& a)
{
    const cv::Matx22d m(a(0, 0), a(0, 1), a(1, 0), a(1, 1));
    cv::Matx21d w;
    cv::SVD::compute(m, w, cv::SVD::NO_UV);
    if (!std::isfinite(w(0)) || !std::isfinite(w(1)) || w(1) <= 0.0) return false;
    const double scale = std::sqrt(w(0) * w(1));
    return w(0) / w(1) <= 2.0 && scale >= 0.05 && scale <= 20.0;
}

// Columns [begin, end) of row y of O whose pixels fall inside S under the O-to-S
// transform a: every sample then has all its interpolation neighbours inside S.
struct Span {
    int begin = 0;
    int end = 0;
    int size() const { return std::max(0, end - begin); }
};

Span coveredSpan(const Mat3& a, double y, int widthO, int widthS, int heightS, double margin = 0.0)
{
    double lo = 0.0, hi = widthO - 1.0;
    const double eps = 1e-7;
    auto limit = [&](double p, double q, double size) {
        const double low = margin - eps, high = size - 1.0 - margin + eps;
        if (std::fabs(p) < 1e-12) {
            if (q < low || q > high) hi = -1.0;
            return;
        }
        double xa = (low - q) / p, xb = (high - q) / p;
        if (xa > xb) std::swap(xa, xb);
        lo = std::max(lo, xa);
        hi = std::min(hi, xb);
    };
    limit(a(0, 0), a(0, 1) * y + a(0, 2), widthS);
    limit(a(1, 0), a(1, 1) * y + a(1, 2), heightS);
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

// The picture's grey values and copies of half the size, down to a few dozen pixels.
class Pyramid {
public:
    explicit Pyramid(const Picture& picture)
    {
        const cv::Mat bgr(picture.height(), picture.width(), CV_8UC3,
            const_cast<std::uint8_t*>(picture.bits()), picture.stride());
        cv::Mat gray;
        cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
        Level full;
        if (picture.topDown())
            full.gray = gray;
        else
            cv::flip(gray, full.gray, 0);
        m_levels.push_back(std::move(full));
        for (;;) {
            const cv::Mat& last = m_levels.back().gray;
            if (std::max(last.cols, last.rows) <= 64 || std::min(last.cols, last.rows) < 16) break;
            Level next;
            cv::resize(
                last, next.gray, cv::Size((last.cols + 1) / 2, (last.rows + 1) / 2), 0, 0, cv::INTER_AREA);
            next.rx = double(next.gray.cols) / picture.width();
            next.ry = double(next.gray.rows) / picture.height();
            m_levels.push_back(std::move(next));
        }
    }

    int count() const { return int(m_levels.size()); }
    Level& operator[](int k) { return m_levels[std::size_t(k)]; }

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
            if (d < bestDistance) {
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
    return s.fromFull() * a * o.fromFull().inv();
}

Mat3 fromLevels(const Mat3& aLevel, const Level& o, const Level& s)
{
    return s.fromFull().inv() * aLevel * o.fromFull();
}

// Pearson correlation of O's copy and S's copy warped onto it, over the covered area.
// -1 when too little is covered or either side is flat.
double correlationAt(Level& o, Level& s, const Mat3& aLevel)
{
    const cv::Mat& t = o.asFloat();
    cv::Mat warped;
    cv::warpAffine(s.asFloat(), warped, toCv(aLevel, CV_64F), t.size(),
        cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
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

// ECC (affine) on the copies, starting from aLevel; false when it fails to converge.
// O's outermost pixels are left out: S may have been padded next to them (a rotation on
// the same canvas fills its corners black), and the method's smoothing would carry the
// padding into them.
bool refineByEcc(Level& o, Level& s, Mat3& aLevel, int iterations, double epsilon)
{
    constexpr int kMargin = 3;
    const cv::Mat& t = o.asFloat();
    if (t.cols <= 4 * kMargin || t.rows <= 4 * kMargin) return false;
    const Mat3 offset = affine(1, 0, kMargin, 0, 1, kMargin);
    cv::Mat warp = toCv(aLevel * offset, CV_32F);
    try {
        cv::findTransformECC(t(cv::Rect(kMargin, kMargin, t.cols - 2 * kMargin, t.rows - 2 * kMargin)),
            s.asFloat(), warp, cv::MOTION_AFFINE,
            cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, iterations, epsilon),
            cv::noArray(), 5);
    } catch (const cv::Exception&) {
        return false; // no convergence: the candidate keeps its start
    }
    const Mat3 refined = fromCv(warp) * offset.inv();
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
    const cv::Matx22d m(a(0, 0), a(0, 1), a(1, 0), a(1, 1));
    cv::Matx21d w;
    cv::SVD::compute(m, w, cv::SVD::NO_UV);
    return w(1) > 0.0 && w(0) / w(1) < 1.0 + tolerance;
}

// The intensity refinement on a sparse grid of O's pixels: Gauss-Newton in the
// inverse-compositional form (O's gradients, fixed normal matrix), with S's samples
// brought to O's mean and spread each step, which maximises the same correlation
// coefficient as ECC. Costs a few bilinear samples per grid point and step, whatever the
// picture's size. A transform that is a similarity stays one: copies are resized,
// rotated, cropped and shifted, and the two parameters more of a general affine
// transform only wander where the picture has little structure in some direction.
bool refineSparse(Level& o, Level& s, Mat3& aLevel, double needed)
{
    // Affine parameters p = basis * q for the similarity's q = (scale, rotation, shift x, shift y).
    const bool similarity = isSimilarity(aLevel);
    static constexpr double kBasis[24]
        = {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    const cv::Matx<double, 6, 4> basis(kBasis);
    const cv::Mat& t = o.gray;
    const cv::Mat& img = s.gray;
    const int stride = std::max(1, int(std::sqrt(o.pixels() / kSparseSamples)));
    struct Sample {
        double x, y, t;
        cv::Vec<double, 6> sd;
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
            samples.push_back(
                {double(x), double(y), double(row[x]), {gx * u, gx * v, gx, gy * u, gy * v, gy}});
        }
    }
    if (samples.size() < 64) return false;
    cv::Matx66d normal = cv::Matx66d::zeros();
    std::vector<double> tv(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        normal += samples[i].sd * samples[i].sd.t();
        tv[i] = samples[i].t;
    }
    double meanT = 0, varT = 0;
    for (double v : tv)
        meanT += v;
    meanT /= double(tv.size());
    for (double v : tv)
        varT += (v - meanT) * (v - meanT);
    cv::Matx66d inverse;
    cv::Matx44d inverseSimilar;
    if (varT <= 0.0) return false;
    if (similarity ? cv::invert(basis.t() * normal * basis, inverseSimilar, cv::DECOMP_CHOLESKY) == 0.0
                   : cv::invert(normal, inverse, cv::DECOMP_CHOLESKY) == 0.0)
        return false;

    // Pixel coordinates to the centred, scaled ones the parameters act in.
    const Mat3 toNorm = affine(1 / radius, 0, -cx / radius, 0, 1 / radius, -cy / radius);
    const Mat3 fromNorm = toNorm.inv();
    auto sampleAll = [&](const Mat3& a, std::vector<double>& out) {
        out.resize(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double x = samples[i].x, y = samples[i].y;
            out[i] = bilinear(img, a(0, 0) * x + a(0, 1) * y + a(0, 2), a(1, 0) * x + a(1, 1) * y + a(1, 2));
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
        cv::Vec<double, 6> b = cv::Vec<double, 6>::all(0.0);
        for (std::size_t i = 0; i < samples.size(); ++i)
            b += samples[i].sd * ((iv[i] - meanI) * gain + meanT - tv[i]);
        const cv::Vec<double, 6> p = similarity
            ? cv::Vec<double, 6>(basis * (inverseSimilar * (basis.t() * b)))
            : cv::Vec<double, 6>(inverse * b);
        const Mat3 step = fromNorm * affine(1 + p[0], p[1], p[2], p[3], 1 + p[4], p[5]) * toNorm;
        a = a * step.inv();
        if (!plausible(a)) return false;
        sampleAll(a, iv);
        // Stop when the step moves no corner of O's copy by a thousandth of a pixel.
        double moved = 0;
        for (double corner : {0.0, 1.0}) {
            for (double cornerY : {0.0, 1.0}) {
                const double x = corner * (t.cols - 1), y = cornerY * (t.rows - 1);
                moved = std::max(moved,
                    std::hypot(step(0, 0) * x + step(0, 1) * y + step(0, 2) - x,
                        step(1, 0) * x + step(1, 1) * y + step(1, 2) - y));
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

// Robust fits (a similarity, then a general affine) of matched features, O to S, in
// the copies' coordinates.
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
}

struct Candidate {
    std::string method;
    Mat3 a; // O to S, full-size visual coordinates
    bool refined = false;
    double correlation = -1.0;
    Mat3 start = Mat3::eye(); // as it was found, before any refinement
};

// Identity and stretch are exact for the copies they stand for, until refined.
bool exactStart(const Candidate& c)
{
    return !c.refined && (c.method == "identity" || c.method == "stretch");
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

std::vector<Candidate> initialCandidates(
    const Picture& original, const Picture& suspect, Pyramid& po, Pyramid& ps)
{
    const int wo = original.width(), ho = original.height(), ws = suspect.width(), hs = suspect.height();
    std::vector<Candidate> out;
    const Mat3 mirror = mirrorMap(ws);
    if (wo == ws && ho == hs) {
        out.push_back({"identity", Mat3::eye()});
        out.push_back({"identity", mirror});
    } else {
        const Mat3 stretch = resizeMap(double(ws) / wo, double(hs) / ho);
        out.push_back({"stretch", stretch});
        out.push_back({"stretch", mirror * stretch});
    }
    Level& fo = po[po.withLongSide(kFeatureSide)];
    const int js = ps.withLongSide(kFeatureSide);
    Level& fs = ps[js];
    const Features featuresO = orbFeatures(fo.gray);
    if (featuresO.points.empty()) return out;
    std::vector<std::pair<std::string, Mat3>> fits;
    fitFeatures(featuresO, orbFeatures(fs.gray), fits);
    for (const auto& [method, aLevel] : fits)
        out.push_back({method, fromLevels(aLevel, fo, fs)});
    cv::Mat flipped;
    cv::flip(fs.gray, flipped, 1);
    fits.clear();
    fitFeatures(featuresO, orbFeatures(flipped), fits);
    for (const auto& [method, aLevel] : fits)
        out.push_back({method, fromLevels(mirrorMap(fs.gray.cols) * aLevel, fo, fs)});
    return out;
}

// Refines a full-size transform on O's copy k by `refine`, keeping the result only where
// it correlates clearly better there.
template <class Refine>
bool refineAt(Pyramid& po, Pyramid& ps, int k, Mat3& a, double gain, const Refine& refine)
{
    Level& o = po[k];
    Level& s = ps[ps.matching(o, scaleOf(a))];
    Mat3 aLevel = toLevels(a, o, s);
    const double before = correlationAt(o, s, aLevel);
    if (!refine(o, s, aLevel)) return false;
    const Mat3 refined = fromLevels(aLevel, o, s);
    if (!plausible(refined) || !clearlyBetter(before, correlationAt(o, s, aLevel), gain)) return false;
    a = refined;
    return true;
}

// Pairs of values at the same place, on a grid of O's pixels, for the tone fit.
ToneFit fitToneAt(const Picture& original, const Picture& suspect, const Mat3& a)
{
    const int wo = original.width(), ho = original.height(), ws = suspect.width(), hs = suspect.height();
    const int stride = std::max(1, int(std::sqrt(double(wo) * ho / kToneSamples)));
    ToneSamples samples;
    for (int y = 0; y < ho; y += stride) {
        const Span span = coveredSpan(a, y, wo, ws, hs);
        const std::uint8_t* orow = original.bits() + original.stride() * std::size_t(original.storedRow(y));
        const int first = span.begin + (stride - span.begin % stride) % stride;
        for (int x = first; x < span.end; x += stride) {
            const double xs = a(0, 0) * x + a(0, 1) * y + a(0, 2);
            const double ys = a(1, 0) * x + a(1, 1) * y + a(1, 2);
            const int x0 = std::clamp(int(xs), 0, ws - 1), y0 = std::clamp(int(ys), 0, hs - 1);
            const int x1 = std::min(x0 + 1, ws - 1), y1 = std::min(y0 + 1, hs - 1);
            const double fx = std::clamp(xs - x0, 0.0, 1.0), fy = std::clamp(ys - y0, 0.0, 1.0);
            const std::uint8_t* r0 = suspect.bits() + suspect.stride() * std::size_t(suspect.storedRow(y0));
            const std::uint8_t* r1 = suspect.bits() + suspect.stride() * std::size_t(suspect.storedRow(y1));
            for (int c = 0; c < 3; ++c) {
                const double top = r0[3 * x0 + c] + fx * (r0[3 * x1 + c] - r0[3 * x0 + c]);
                const double bottom = r1[3 * x0 + c] + fx * (r1[3 * x1 + c] - r1[3 * x0 + c]);
                const double sv = top + fy * (bottom - top);
                samples.add(c, orow[3 * x + c], sv);
            }
        }
    }
    return fitTone(samples);
}

// S, through the tone curves, warped onto O's grid; O where S does not reach.
PictureRef assemble(const Picture& original, const Picture& suspect, const Mat3& a, const ToneFit& tone)
{
    const cv::Mat stored(suspect.height(), suspect.width(), CV_8UC3,
        const_cast<std::uint8_t*>(suspect.bits()), suspect.stride());
    cv::Mat source = stored;
    if (tone.used) {
        cv::Mat lut(1, 256, CV_8UC3);
        for (int v = 0; v < 256; ++v)
            for (int c = 0; c < 3; ++c)
                lut.at<cv::Vec3b>(0, v)[c] = tone.curves[std::size_t(c)][std::size_t(v)];
        cv::LUT(stored, lut, source);
    }
    const int wo = original.width(), ho = original.height();
    PictureRef out = Picture::create(wo, ho, 24, original.topDown());
    const bool sameGrid = suspect.width() == wo && suspect.height() == ho && a == Mat3::eye();
    cv::Mat warped;
    if (!sameGrid) {
        // The warp reads and writes stored rows; the transform is between visual ones.
        const Mat3 stored2stored = rowOrderMap(suspect) * a * rowOrderMap(original);
        cv::warpAffine(source, warped, toCv(stored2stored, CV_64F), cv::Size(wo, ho),
            cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    }
    for (int y = 0; y < ho; ++y) {
        const int row = original.storedRow(y);
        std::uint8_t* dst = out->bits() + out->stride() * std::size_t(row);
        const std::uint8_t* fill = original.bits() + original.stride() * std::size_t(row);
        std::copy_n(fill, 3 * std::size_t(wo), dst);
        const Span span = coveredSpan(a, y, wo, suspect.width(), suspect.height(), kEdge);
        if (span.size() == 0) continue;
        const std::uint8_t* src
            = sameGrid ? source.ptr<std::uint8_t>(suspect.storedRow(y)) : warped.ptr<std::uint8_t>(row);
        std::copy(src + 3 * std::size_t(span.begin), src + 3 * std::size_t(span.end),
            dst + 3 * std::size_t(span.begin));
    }
    return out;
}

std::string percent(double share)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * share);
    return text;
}

Registered registerChecked(const Picture& original, const Picture& suspect, const RegisterOptions& options)
{
    Pyramid po(original), ps(suspect);
    std::vector<Candidate> candidates = initialCandidates(original, suspect, po, ps);

    // Every candidate is refined on a small copy and judged there by the image correlation.
    const int screening = po.withLongSide(kScreeningSide);
    for (Candidate& c : candidates) {
        if (!plausible(c.a)) continue;
        c.start = c.a;
        Level& o = po[screening];
        Level& s = ps[ps.matching(o, scaleOf(c.a))];
        const Mat3 start = toLevels(c.a, o, s);
        c.correlation = correlationAt(o, s, start);
        Mat3 aLevel = start;
        if (refineByEcc(o, s, aLevel, 40, 1e-4)) {
            const double refined = correlationAt(o, s, aLevel);
            if (clearlyBetter(c.correlation, refined, exactStart(c) ? kClearGain : kSmallGain)) {
                c.correlation = refined;
                c.a = fromLevels(aLevel, o, s);
                c.refined = true;
            }
        }
    }
    // The simpler candidates come first and keep their place unless a later one is clearly
    // better; an exact start (see clearlyBetter) only for a clear gain.
    const Candidate* best = nullptr;
    for (const Candidate& c : candidates)
        if (c.correlation > -1.0
            && (!best
                || clearlyBetter(
                    best->correlation, c.correlation, exactStart(*best) ? kClearGain : kSmallGain)))
            best = &c;
    if (!best)
        throw Error(err::NotAlignable,
            "The suspect picture cannot be aligned with the original: no transform brings them together");
    Candidate chosen = *best;
    // Copies are resized, rotated, cropped and shifted: what the refinement added to the
    // winner's start goes on as a similarity (the start keeps its own slight stretch, such
    // as the rounding of a resized copy's sides). The general affine refinement on the
    // small copy may have bent it a little towards whatever else differs (the watermark
    // itself, at high strength, on a picture of little detail).
    if (chosen.refined && isSimilarity(chosen.start, 0.01)) {
        if (chosen.method == "stretch") {
            const Mat3 added = chosen.a * chosen.start.inv(); // S to S
            chosen.a
                = nearestSimilarity(added, suspect.width(), suspect.height(), suspect.width()) * chosen.start;
        } else {
            chosen.a = nearestSimilarity(chosen.a, original.width(), original.height(), suspect.width());
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

    Registration r;
    r.method = chosen.method + (chosen.refined ? "+ecc" : "");
    r.transform = toArray(chosen.a);
    describeTransform(r.transform, original.width(), original.height(), suspect.width(), suspect.height(), r);
    r.coverage = coverageOf(chosen.a, original.width(), original.height(), suspect.width(), suspect.height());
    {
        Level& o = po[po.withLongSide(kCorrelationSide)];
        Level& s = ps[ps.matching(o, scaleOf(chosen.a))];
        r.imageCorrelation = correlationAt(o, s, toLevels(chosen.a, o, s));
    }
    if (r.coverage < options.minCoverage || r.imageCorrelation < options.minCorrelation)
        throw Error(err::NotAlignable,
            "The suspect picture cannot be aligned with the original: at best it covers "
                + percent(r.coverage) + " of it with an image correlation of "
                + std::to_string(r.imageCorrelation).substr(0, 5)
                + ", so it does not look like a copy of it");

    const ToneFit tone = fitToneAt(original, suspect, chosen.a);
    r.tone = tone.used ? "curve" : "none";
    r.toneCurves = tone.curves;
    return {assemble(original, suspect, chosen.a, tone), r};
}

} // namespace

void describeTransform(const std::array<double, 6>& transform, int originalWidth, int originalHeight,
    int suspectWidth, int suspectHeight, Registration& out)
{
    Mat3 a = affine(transform[0], transform[1], transform[2], transform[3], transform[4], transform[5]);
    const double det = determinant(a);
    out.mirrored = det < 0.0;
    if (out.mirrored) a = mirrorMap(suspectWidth) * a;
    out.scale = std::sqrt(std::fabs(det));
    out.rotationDeg = std::atan2(a(0, 1) - a(1, 0), a(0, 0) + a(1, 1)) * 180.0 / std::numbers::pi;
    const double cx = (originalWidth - 1) / 2.0, cy = (originalHeight - 1) / 2.0;
    out.shiftX = a(0, 0) * cx + a(0, 1) * cy + a(0, 2) - (suspectWidth - 1) / 2.0;
    out.shiftY = a(1, 0) * cx + a(1, 1) * cy + a(1, 2) - (suspectHeight - 1) / 2.0;
}

bool registrable(const Picture& original, const Picture& suspect) noexcept
{
    return original.bitsPerPixel() == 24 && suspect.bitsPerPixel() == 24;
}

Registered registerPicture(const Picture& original, const Picture& suspect, const RegisterOptions& options)
{
    for (const Picture* p : {&original, &suspect})
        if (!is24Bit(p)) throw Error(err::Not24Bit, std::string(kOnly24BitText));
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
