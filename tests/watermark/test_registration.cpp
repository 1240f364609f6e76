// Registration: known transforms recovered from pictures rendered exactly under them.
#include "tests/test_support.h"
#include "watermark/detector.h"
#include "watermark/embed.h"
#include "watermark/registration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <numbers>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace pelinor {
namespace {

// Byte c (0 = blue) of pixel x in visual row y.
auto& pixel(auto& p, int x, int y, int c)
{
    return test::pixelAt(p, x, y)[c];
}

// A picture given as a function of continuous coordinates, so that a transformed copy can
// be rendered exactly, with no resampler of its own between it and the truth: a smooth
// background, soft-edged rectangles and ellipses (corners for the features) and, when
// `textured`, a fine pattern. Without shapes and texture only broad blobs remain.
struct Scene {
    struct Shape {
        bool ellipse;
        double cx, cy, a, b, angle;
        std::array<double, 3> colour;
    };
    std::vector<Shape> shapes;
    std::vector<std::array<double, 4>> blobs; // x, y, sigma, height
    bool textured = true;
    int width = 0, height = 0; // O's frame; outside it a transformed copy is black

    static Scene busy(int w, int h, unsigned seed)
    {
        Scene s;
        s.width = w;
        s.height = h;
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        for (int i = 0; i < 90; ++i)
            s.shapes.push_back({u(rng) < 0.5, u(rng) * w, u(rng) * h, 6 + 40 * u(rng), 6 + 30 * u(rng),
                u(rng) * std::numbers::pi, {255 * u(rng), 255 * u(rng), 255 * u(rng)}});
        return s;
    }
    static Scene smooth(int w, int h)
    {
        Scene s;
        s.width = w;
        s.height = h;
        s.textured = false;
        s.blobs = {{0.3 * w, 0.35 * h, 0.12 * w, 60}, {0.7 * w, 0.6 * h, 0.16 * w, -50},
            {0.45 * w, 0.8 * h, 0.08 * w, 40}};
        return s;
    }

    std::array<double, 3> at(double x, double y) const
    {
        std::array<double, 3> v{};
        for (int c = 0; c < 3; ++c)
            v[std::size_t(c)] = 110 + 40 * std::sin(0.011 * x + 0.006 * y + c)
                + 25 * std::cos(0.009 * y - 0.005 * x + 2 * c);
        for (const auto& b : blobs) {
            const double d2 = ((x - b[0]) * (x - b[0]) + (y - b[1]) * (y - b[1])) / (b[2] * b[2]);
            for (double& c : v)
                c += b[3] * std::exp(-0.5 * d2);
        }
        if (textured)
            for (int c = 0; c < 3; ++c)
                v[std::size_t(c)] += 12 * std::sin(0.21 * x + 0.37 * y) * std::cos(0.29 * x - 0.17 * y + c);
        for (const Shape& s : shapes) {
            const double dx = x - s.cx, dy = y - s.cy;
            if (std::fabs(dx) > s.a + s.b + 2 || std::fabs(dy) > s.a + s.b + 2) continue;
            const double lx = std::cos(s.angle) * dx + std::sin(s.angle) * dy;
            const double ly = -std::sin(s.angle) * dx + std::cos(s.angle) * dy;
            const double d = s.ellipse ? (std::hypot(lx / s.a, ly / s.b) - 1.0) * std::min(s.a, s.b)
                                       : std::max(std::fabs(lx) - s.a, std::fabs(ly) - s.b);
            const double alpha = std::clamp(0.5 - d / 1.5, 0.0, 1.0);
            for (int c = 0; c < 3; ++c)
                v[std::size_t(c)] += alpha * (s.colour[std::size_t(c)] - v[std::size_t(c)]);
        }
        return v;
    }
};

// The transform of a test case, in the terms Registration reports it.
struct Geometry {
    double scale = 1, rotationDeg = 0, shiftX = 0, shiftY = 0;
    bool mirrored = false;
    int width = 0, height = 0; // S's size; 0 = O's size times the scale
};

cv::Matx33d oToS(const Geometry& g, int wo, int ho, int ws, int hs)
{
    const double t = g.rotationDeg * std::numbers::pi / 180.0, c = g.scale * std::cos(t),
                 s = g.scale * std::sin(t);
    const double cx = (wo - 1) / 2.0, cy = (ho - 1) / 2.0;
    cv::Matx33d a(c, s, 0, -s, c, 0, 0, 0, 1);
    a(0, 2) = (ws - 1) / 2.0 + g.shiftX - (c * cx + s * cy);
    a(1, 2) = (hs - 1) / 2.0 + g.shiftY - (-s * cx + c * cy);
    if (g.mirrored) a = cv::Matx33d(-1, 0, ws - 1, 0, 1, 0, 0, 0, 1) * a;
    return a;
}

std::uint8_t byte(double v)
{
    return std::uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
}

// O's frame rendered under the transform `a` (O to S, perspective allowed) into a
// ws x hs picture; `fill` (black unless given) where S shows what lies outside O's frame.
PictureRef render(const Scene& scene, const cv::Matx33d& a, int ws, int hs, bool topDown,
    std::array<std::uint8_t, 3> fill = {0, 0, 0})
{
    const cv::Matx33d back = a.inv();
    PictureRef p = Picture::create(ws, hs, 24, topDown);
    for (int y = 0; y < hs; ++y)
        for (int x = 0; x < ws; ++x) {
            const double w = back(2, 0) * x + back(2, 1) * y + back(2, 2);
            const double ox = (back(0, 0) * x + back(0, 1) * y + back(0, 2)) / w;
            const double oy = (back(1, 0) * x + back(1, 1) * y + back(1, 2)) / w;
            if (ox < -0.5 || oy < -0.5 || ox > scene.width - 0.5 || oy > scene.height - 0.5) {
                for (int c = 0; c < 3; ++c)
                    pixel(*p, x, y, c) = fill[std::size_t(c)];
                continue;
            }
            const auto v = scene.at(ox, oy);
            for (int c = 0; c < 3; ++c)
                pixel(*p, x, y, c) = byte(v[std::size_t(c)]);
        }
    return p;
}

PictureRef render(const Scene& scene, bool topDown = false)
{
    return render(scene, cv::Matx33d::eye(), scene.width, scene.height, topDown);
}

// Mean absolute difference of two same-size pictures over the pixels where `where` holds.
double meanDifference(const Picture& a, const Picture& b, const std::function<bool(int, int)>& where)
{
    double sum = 0, n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (where(x, y))
                for (int c = 0; c < 3; ++c) {
                    sum += std::abs(int(pixel(a, x, y, c)) - int(pixel(b, x, y, c)));
                    n += 1;
                }
    return n > 0 ? sum / n : 0.0;
}

// The share of O's pixels that the transform a takes into the area of a ws x hs picture.
double coverage(const cv::Matx33d& a, int wo, int ho, int ws, int hs)
{
    double n = 0;
    for (int y = 0; y < ho; ++y)
        for (int x = 0; x < wo; ++x) {
            const double xs = a(0, 0) * x + a(0, 1) * y + a(0, 2), ys = a(1, 0) * x + a(1, 1) * y + a(1, 2);
            n += xs >= -0.5 && ys >= -0.5 && xs <= ws - 0.5 && ys <= hs - 0.5;
        }
    return n / (double(wo) * ho);
}

std::string describe(const Registration& r)
{
    std::ostringstream out;
    out << r.method << " scale " << r.scale << " rotation " << r.rotationDeg << " shift " << r.shiftX << ", "
        << r.shiftY << (r.mirrored ? " mirrored" : "") << " coverage " << r.coverage << " tone " << r.tone
        << " correlation " << r.imageCorrelation;
    return out.str();
}

struct TransformCase {
    std::string name;
    Geometry g;
    bool suspectTopDown;
};

class Recovered : public ::testing::TestWithParam<TransformCase> { };

// One busy scene for every case: rendering it is the slow part.
const Scene& busyScene()
{
    static const Scene scene = Scene::busy(640, 480, 7);
    return scene;
}
const Picture& busyOriginal()
{
    static const PictureRef picture = render(busyScene());
    return *picture;
}

TEST_P(Recovered, WithinATenthOfAPixel)
{
    const TransformCase& tc = GetParam();
    const Picture& o = busyOriginal();
    const int ws = tc.g.width ? tc.g.width : int(std::lround(o.width() * tc.g.scale));
    const int hs = tc.g.height ? tc.g.height : int(std::lround(o.height() * tc.g.scale));
    const cv::Matx33d a = oToS(tc.g, o.width(), o.height(), ws, hs);
    const PictureRef s = render(busyScene(), a, ws, hs, tc.suspectTopDown);

    const Registered reg = registerPicture(o, *s);
    const Registration& r = reg.registration;
    SCOPED_TRACE(describe(r));
    EXPECT_EQ(r.mirrored, tc.g.mirrored);
    EXPECT_NEAR(r.scale / tc.g.scale, 1.0, 1e-3);
    EXPECT_NEAR(r.rotationDeg, tc.g.rotationDeg, 0.05);
    EXPECT_NEAR(r.shiftX, tc.g.shiftX, 0.1);
    EXPECT_NEAR(r.shiftY, tc.g.shiftY, 0.1);
    // Up to a row or column of pixels on each side.
    EXPECT_NEAR(
        r.coverage, coverage(a, o.width(), o.height(), ws, hs), 2.0 * (ws + hs) / (o.width() * o.height()));
    EXPECT_GT(r.imageCorrelation, 0.98);
    EXPECT_EQ(r.tone, "none");

    // Where S covers O it now shows O (up to the renderings' rounding and the interpolation),
    // and elsewhere O itself.
    ASSERT_EQ(reg.picture->width(), o.width());
    ASSERT_EQ(reg.picture->height(), o.height());
    EXPECT_EQ(reg.picture->topDown(), o.topDown());
    const auto& t = r.transform;
    auto inside = [&](int x, int y, double margin) {
        const double xs = t[0] * x + t[1] * y + t[2], ys = t[3] * x + t[4] * y + t[5];
        return xs >= margin && ys >= margin && xs <= ws - 1 - margin && ys <= hs - 1 - margin;
    };
    EXPECT_LT(meanDifference(o, *reg.picture, [&](int x, int y) { return inside(x, y, 2.0); }),
        tc.g.scale < 0.9 ? 8.0 : 4.0);
    EXPECT_EQ(meanDifference(o, *reg.picture, [&](int x, int y) { return !inside(x, y, -0.5); }), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Registration, Recovered,
    ::testing::Values(TransformCase{"Shift", {1, 0, 3, -2}, false},
        TransformCase{"SubpixelShift", {1, 0, 0.4, 1.7}, true}, TransformCase{"Rotate1", {1, 1, 0, 0}, false},
        TransformCase{"RotateMinus5", {1, -5, 0, 0}, true}, TransformCase{"Scale08", {0.8, 0, 0, 0}, false},
        TransformCase{"Scale05", {0.5, 0, 0, 0}, true}, TransformCase{"Scale125", {1.25, 0, 0, 0}, false},
        TransformCase{"Mirror", {1, 0, 0, 0, true}, false},
        TransformCase{"CropOffCentre", {1, 0, 20, 20, false, 480, 360}, false},
        TransformCase{"ScaleRotateShift", {0.9, -2, 5.5, -3.25}, false},
        TransformCase{"ScaleRotateCropMirror", {0.7, 3, -12, 8, true, 380, 280}, true}),
    [](const auto& param) { return param.param.name; });

// No corners for the features: the stretch to O's size and the intensity refinement must
// find the transform on their own.
TEST(Registration, TexturelessByIntensityAlone)
{
    const Scene scene = Scene::smooth(480, 360);
    const PictureRef o = render(scene);
    const Geometry g{0.75, 2, 4, -3};
    const int ws = 360, hs = 270;
    const PictureRef s = render(scene, oToS(g, o->width(), o->height(), ws, hs), ws, hs, false);
    const Registration r = registerPicture(*o, *s).registration;
    EXPECT_EQ(r.method, "stretch+ecc");
    EXPECT_FALSE(r.mirrored);
    EXPECT_NEAR(r.scale / g.scale, 1.0, 1e-3);
    EXPECT_NEAR(r.rotationDeg, g.rotationDeg, 0.05);
    EXPECT_NEAR(r.shiftX, g.shiftX, 0.1);
    EXPECT_NEAR(r.shiftY, g.shiftY, 0.1);
}

// Brightness, contrast and gamma edits: the curves map S's values back to O's.
TEST(Registration, ToneCurveRecovered)
{
    const PictureRef o = render(busyScene(), true);
    auto edit = [](int v, int c) {
        const double gamma = c == 2 ? 0.7 : 0.85;
        return byte(1.05 * 255.0 * std::pow(v / 255.0, gamma) + 6);
    };
    const PictureRef s = Picture::create(o->width(), o->height(), 24, true);
    for (int y = 0; y < o->height(); ++y)
        for (int x = 0; x < o->width(); ++x)
            for (int c = 0; c < 3; ++c)
                pixel(*s, x, y, c) = edit(pixel(*o, x, y, c), c);
    const Registered reg = registerPicture(*o, *s);
    const Registration& r = reg.registration;
    EXPECT_EQ(r.tone, "curve");
    // The grid stays put: no corner of O moves by a tenth of a pixel.
    const auto& t = r.transform;
    for (int x : {0, o->width() - 1})
        for (int y : {0, o->height() - 1})
            EXPECT_LT(std::hypot(t[0] * x + t[1] * y + t[2] - x, t[3] * x + t[4] * y + t[5] - y), 0.1)
                << describe(r);
    // Over the values the picture really has, the curve undoes the edit to a grey level or two.
    std::array<std::array<int, 256>, 3> seen{};
    for (int y = 0; y < o->height(); ++y)
        for (int x = 0; x < o->width(); ++x)
            for (int c = 0; c < 3; ++c)
                ++seen[std::size_t(c)][pixel(*o, x, y, c)];
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v)
            if (seen[std::size_t(c)][std::size_t(v)] > 200 && edit(v, c) < 250) {
                EXPECT_NEAR(r.toneCurves[std::size_t(c)][edit(v, c)], v, 2.0)
                    << "channel " << c << " value " << v;
            }
    EXPECT_LT(meanDifference(*o, *reg.picture, [](int, int) { return true; }), 1.0);
}

// `source` moved by (dx, dy) whole pixels on the same canvas; `fill` (same size) where it left.
PictureRef moved(const Picture& source, int dx, int dy, const Picture* fill)
{
    PictureRef p = Picture::create(source.width(), source.height(), 24, source.topDown());
    for (int y = 0; y < p->height(); ++y)
        for (int x = 0; x < p->width(); ++x) {
            const int sx = x - dx, sy = y - dy;
            const bool inside = sx >= 0 && sy >= 0 && sx < source.width() && sy < source.height();
            for (int c = 0; c < 3; ++c)
                pixel(*p, x, y, c) = inside ? pixel(source, sx, sy, c) : fill ? pixel(*fill, x, y, c) : 0;
        }
    return p;
}

// The alignment is the pictures' decision. For a watermark that was never embedded, the
// similarity on the suspect's own grid can beat the one after alignment; a detection
// that chose the higher similarity would report the wrong grid (and, over many
// alignments, manufacture false positives). Registration must still report the move the
// pictures show and the similarity found there.
// The detection engine's answer for one watermark, registering as `mode` says.
Detection detectIn(const Picture& original, const Watermark& wm, const Picture& suspect, RegisterMode mode)
{
    DetectOptions options;
    options.mode = mode;
    return detect(Reference(original, Depths::Only24Bit), wm, suspect, DecisionRule{}, options);
}

TEST(Registration, ChosenByThePictureNeverByTheWatermark)
{
    const Picture& o = busyOriginal();
    const PictureRef marked = embedWatermark(o, test::gaussianWatermark(1000, 0.1, 3)).marked;
    const PictureRef suspect = moved(*marked, 3, -2, nullptr);
    const PictureRef aligned = moved(*suspect, -3, 2, &o);
    Watermark other;
    double plain = 0, right = 0;
    for (unsigned seed = 100; seed < 200 && plain <= right + 0.03; ++seed) {
        other = test::gaussianWatermark(1000, 0.1, seed);
        plain = detectWatermark(o, other, *suspect).similarity;
        right = detectWatermark(o, other, *aligned).similarity;
    }
    ASSERT_GT(plain, right + 0.03) << "no watermark preferring the wrong grid";

    const Detection d = detectIn(o, other, *suspect, RegisterMode::Auto);
    ASSERT_TRUE(d.registration.has_value());
    EXPECT_NEAR(d.registration->shiftX, 3, 0.1);
    EXPECT_NEAR(d.registration->shiftY, -2, 0.1);
    EXPECT_NEAR(d.result.similarity, right, 0.01);
    EXPECT_LT(d.result.similarity, plain);
}

struct ModeCase {
    std::string name;
    std::function<PictureRef(const Picture& marked)> suspect;
    RegisterMode mode;
    int error; // 0: none
    bool registered, found;
};

class Modes : public ::testing::TestWithParam<ModeCase> { };

TEST_P(Modes, RegisterOnlyWhenNeeded)
{
    const ModeCase& mc = GetParam();
    const Picture& o = busyOriginal();
    const Watermark wm = test::gaussianWatermark(1000, 0.1, 21);
    const PictureRef marked = embedWatermark(o, wm).marked;
    const PictureRef suspect = mc.suspect(*marked);
    if (mc.error) {
        test::expectError([&] { detectIn(o, wm, *suspect, mc.mode); }, mc.error);
        return;
    }
    const Detection d = detectIn(o, wm, *suspect, mc.mode);
    EXPECT_EQ(d.registration.has_value(), mc.registered);
    EXPECT_EQ(d.result.found, mc.found) << d.result.similarity;
}

PictureRef halfSize(const Picture& p)
{
    PictureRef out = Picture::create(p.width() / 2, p.height() / 2, 24, p.topDown());
    for (int y = 0; y < out->height(); ++y)
        for (int x = 0; x < out->width(); ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int k = 0; k < 4; ++k)
                    sum += pixel(p, 2 * x + k % 2, 2 * y + k / 2, c);
                pixel(*out, x, y, c) = std::uint8_t((sum + 2) / 4);
            }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Registration, Modes,
    ::testing::Values(ModeCase{"SameSizeFoundPlainly", [](const Picture& m) { return m.clone(); },
                          RegisterMode::Auto, 0, false, true},
        ModeCase{"SameSizeAlways", [](const Picture& m) { return m.clone(); }, RegisterMode::Always, 0, true,
            true},
        ModeCase{"MovedRegisteredWhenNotFound", [](const Picture& m) { return moved(m, 3, -2, nullptr); },
            RegisterMode::Auto, 0, true, true},
        ModeCase{"MovedNever", [](const Picture& m) { return moved(m, 3, -2, nullptr); }, RegisterMode::Never,
            0, false, false},
        ModeCase{"HalfSize", halfSize, RegisterMode::Auto, 0, true, true},
        ModeCase{"HalfSizeNever", halfSize, RegisterMode::Never, err::SizeMismatch, false, false},
        ModeCase{"UnrelatedSameSizeKeepsPlain",
            [](const Picture&) { return render(Scene::busy(640, 480, 99)); }, RegisterMode::Auto, 0, false,
            false},
        ModeCase{"UnrelatedSameSizeAlways", [](const Picture&) { return render(Scene::busy(640, 480, 99)); },
            RegisterMode::Always, err::NotAlignable, false, false},
        ModeCase{"UnrelatedOtherSize", [](const Picture&) { return render(Scene::busy(500, 400, 99)); },
            RegisterMode::Auto, err::NotAlignable, false, false}),
    [](const auto& param) { return param.param.name; });

// A marked picture resized, rotated and re-encoded is found after registration, and
// watermarks that were never embedded stay far below the threshold.
TEST(Registration, MarkFoundInAResizedRotatedCopy)
{
    const Picture& o = busyOriginal();
    const Watermark wm = test::gaussianWatermark(1000, 0.1, 11);
    const PictureRef marked = embedWatermark(o, wm).marked;
    const cv::Mat stored(marked->height(), marked->width(), CV_8UC3, marked->bits(), marked->stride());
    cv::Mat rotated;
    const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(319.5f, 239.5f), 2.0, 0.8);
    cv::warpAffine(stored, rotated, m, stored.size(), cv::INTER_AREA);
    cv::Mat small;
    cv::resize(rotated, small, cv::Size(512, 384), 0, 0, cv::INTER_AREA);
    const PictureRef s = Picture::create(512, 384, 24, marked->topDown());
    for (int row = 0; row < 384; ++row)
        std::copy_n(small.ptr<std::uint8_t>(row), 3 * 512, s->bits() + s->stride() * std::size_t(row));

    const Registered reg = registerPicture(o, *s);
    EXPECT_GT(detectWatermark(o, wm, *reg.picture).similarity, 0.7);
    for (unsigned seed = 100; seed < 120; ++seed)
        EXPECT_LT(
            std::fabs(detectWatermark(o, test::gaussianWatermark(1000, 0.1, seed), *reg.picture).similarity),
            0.3);
}

struct RefusalCase {
    std::string name;
    std::function<PictureRef()> suspect;
    int error;
};

class Refused : public ::testing::TestWithParam<RefusalCase> { };

TEST_P(Refused, WithAClearError)
{
    test::expectError([&] { registerPicture(busyOriginal(), *GetParam().suspect()); }, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Registration, Refused,
    ::testing::Values(
        RefusalCase{"UnrelatedPicture", [] { return render(Scene::busy(600, 400, 99)); }, err::NotAlignable},
        RefusalCase{"FlatPicture",
            [] { return test::makePicture(640, 480, [](int, int, int) { return 90; }); }, err::NotAlignable},
        RefusalCase{"TinyCrop",
            [] {
                return render(busyScene(), oToS({1, 0, 0, 0, false}, 640, 480, 24, 18), 24, 18, false);
            },
            err::NotAlignable},
        RefusalCase{"BlankEightBitSuspect", [] { return Picture::create(640, 480, 8); }, err::NotAlignable}),
    [](const auto& param) { return param.param.name; });

// How far the registration puts O's corners from where the true O-to-S transform puts
// them, in S's pixels.
double cornerError(const Registration& r, const cv::Matx33d& truth, int wo, int ho)
{
    const cv::Matx33d t(r.transform.data());
    double worst = 0;
    for (double x : {0.0, wo - 1.0})
        for (double y : {0.0, ho - 1.0}) {
            const cv::Vec3d p = t * cv::Vec3d(x, y, 1), q = truth * cv::Vec3d(x, y, 1);
            worst = std::max(worst, std::hypot(p[0] / p[2] - q[0] / q[2], p[1] / p[2] - q[1] / q[2]));
        }
    return worst;
}

const Scene& smoothScene()
{
    static const Scene scene = Scene::smooth(480, 360);
    return scene;
}

// O turned by `quarter` right angles counter-clockwise as seen, then mirrored, resized
// to `scale`: the O-to-S transform and S's size.
cv::Matx33d turned(int quarter, bool mirrored, double scale, int wo, int ho, int& ws, int& hs)
{
    const bool across = quarter % 2 == 1;
    ws = int(std::lround((across ? ho : wo) * scale));
    hs = int(std::lround((across ? wo : ho) * scale));
    return oToS({scale, 90.0 * quarter, 0, 0, mirrored}, wo, ho, ws, hs);
}

struct OrientationCase {
    std::string name;
    int quarter;
    bool mirrored;
    bool smooth; // no corners for the features: the frame's orientations must find it
};

class Orientations : public ::testing::TestWithParam<OrientationCase> { };

TEST_P(Orientations, EachRightAngleRecovered)
{
    const OrientationCase& oc = GetParam();
    const Scene& scene = oc.smooth ? smoothScene() : busyScene();
    const PictureRef o = render(scene);
    int ws = 0, hs = 0;
    const cv::Matx33d a = turned(oc.quarter, oc.mirrored, 0.8, o->width(), o->height(), ws, hs);
    const PictureRef s = render(scene, a, ws, hs, false);
    const Registration r = registerPicture(*o, *s).registration;
    SCOPED_TRACE(describe(r));
    EXPECT_EQ(r.orientation, 90 * oc.quarter);
    EXPECT_EQ(r.mirrored, oc.mirrored);
    EXPECT_LT(cornerError(r, a, o->width(), o->height()), 0.15);
    EXPECT_NEAR(r.scale, 0.8, 1e-3);
    EXPECT_GT(r.imageCorrelation, 0.98);
}

std::vector<OrientationCase> orientationCases()
{
    std::vector<OrientationCase> out;
    for (bool smooth : {false, true})
        for (int quarter = 0; quarter < 4; ++quarter)
            for (bool mirrored : {false, true})
                out.push_back({std::string(smooth ? "Smooth" : "Busy") + std::to_string(90 * quarter)
                        + (mirrored ? "Mirrored" : ""),
                    quarter, mirrored, smooth});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Registration, Orientations, ::testing::ValuesIn(orientationCases()),
    [](const auto& param) { return param.param.name; });

// Copies a registration must see through beyond a similarity: perspective, a border or
// bars, a crop without corners, a stretch one way.
struct CopyCase {
    std::string name;
    bool smooth;
    std::function<cv::Matx33d(int wo, int ho, int& ws, int& hs)> transform;
    std::array<std::uint8_t, 3> fill;
    std::string model;
    Registration::Border border; // expected within two pixels
    double tolerance; // of the corners, S's pixels
};

class Copies : public ::testing::TestWithParam<CopyCase> { };

TEST_P(Copies, Recovered)
{
    const CopyCase& cc = GetParam();
    const Scene& scene = cc.smooth ? smoothScene() : busyScene();
    const PictureRef o = render(scene);
    int ws = 0, hs = 0;
    const cv::Matx33d a = cc.transform(o->width(), o->height(), ws, hs);
    const PictureRef s = render(scene, a, ws, hs, true, cc.fill);
    const Registration r = registerPicture(*o, *s).registration;
    SCOPED_TRACE(describe(r));
    EXPECT_EQ(r.model, cc.model);
    EXPECT_LT(cornerError(r, a, o->width(), o->height()), cc.tolerance);
    EXPECT_NEAR(r.border.left, cc.border.left, 2);
    EXPECT_NEAR(r.border.top, cc.border.top, 2);
    EXPECT_NEAR(r.border.right, cc.border.right, 2);
    EXPECT_NEAR(r.border.bottom, cc.border.bottom, 2);
    EXPECT_GT(r.imageCorrelation, 0.97);
}

// A keystone: the top edge narrowed by `share` of the width, as a photograph of a print.
cv::Matx33d keystone(double share, int wo, int ho)
{
    const std::vector<cv::Point2f> from{
        {0, 0}, {float(wo - 1), 0}, {float(wo - 1), float(ho - 1)}, {0, float(ho - 1)}};
    const float in = float(share * wo / 2);
    const std::vector<cv::Point2f> to{
        {in, 0}, {float(wo - 1) - in, 0}, {float(wo - 1), float(ho - 1)}, {0, float(ho - 1)}};
    return cv::Matx33d(cv::getPerspectiveTransform(from, to));
}

INSTANTIATE_TEST_SUITE_P(Registration, Copies,
    ::testing::Values(CopyCase{"Keystone3Percent", false,
                          [](int wo, int ho, int& ws, int& hs) {
                              ws = wo;
                              hs = ho;
                              return keystone(0.03, wo, ho);
                          },
                          {0, 0, 0}, "homography", {}, 0.3},
        CopyCase{"SmoothKeystone", true,
            [](int wo, int ho, int& ws, int& hs) {
                ws = wo;
                hs = ho;
                return keystone(0.03, wo, ho);
            },
            {0, 0, 0}, "homography", {}, 0.5},
        CopyCase{"BlackBorder", false,
            [](int wo, int ho, int& ws, int& hs) {
                ws = wo;
                hs = ho;
                return oToS({0.8, 0, 0, 0}, wo, ho, ws, hs);
            },
            {0, 0, 0}, "similarity", {65, 49, 65, 49}, 0.15},
        CopyCase{"WhiteLetterbox", false,
            [](int wo, int ho, int& ws, int& hs) {
                ws = wo;
                hs = ho * 3 / 2;
                return oToS({1, 0, 0, 0}, wo, ho, ws, hs);
            },
            {255, 255, 255}, "similarity", {0, 121, 0, 121}, 0.15},
        CopyCase{"SmoothCropWithoutCorners", true,
            [](int wo, int ho, int& ws, int& hs) {
                ws = wo * 6 / 10;
                hs = ho * 6 / 10;
                return oToS({1, 0, 30, -20}, wo, ho, ws, hs);
            },
            {0, 0, 0}, "similarity", {}, 0.2},
        CopyCase{"SmoothCropResizedTurned", true,
            [](int wo, int ho, int& ws, int& hs) {
                ws = ho * 6 / 10;
                hs = wo * 6 / 10;
                return oToS({0.85, 90, 10, -12}, wo, ho, ws, hs);
            },
            {0, 0, 0}, "similarity", {}, 0.2},
        CopyCase{"StretchedOneWay", false,
            [](int wo, int ho, int& ws, int& hs) {
                ws = int(std::lround(wo * 0.9));
                hs = ho;
                return cv::Matx33d(0.9, 0, 0.5 * 0.9 - 0.5, 0, 1, 0, 0, 0, 1);
            },
            {0, 0, 0}, "affine", {}, 0.15}),
    [](const auto& param) { return param.param.name; });

// A smooth fall of light towards the corners is undone; a copy merely brightened keeps a
// gain of 1.
TEST(Registration, VignettingUndone)
{
    const Picture& o = busyOriginal();
    auto shaded = [&](double strength) {
        PictureRef s = o.clone();
        const double cx = (o.width() - 1) / 2.0, cy = (o.height() - 1) / 2.0, half = o.width() / 2.0;
        for (int y = 0; y < o.height(); ++y)
            for (int x = 0; x < o.width(); ++x) {
                const double r2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (half * half);
                for (int c = 0; c < 3; ++c)
                    pixel(*s, x, y, c) = byte(pixel(o, x, y, c) * (1.0 - strength * r2));
            }
        return s;
    };
    const Registered reg = registerPicture(o, *shaded(0.35));
    EXPECT_EQ(reg.registration.gain, "polynomial") << describe(reg.registration);
    EXPECT_LT(cornerError(reg.registration, cv::Matx33d::eye(), o.width(), o.height()), 0.05);
    EXPECT_LT(meanDifference(o, *reg.picture, [](int, int) { return true; }), 2.5);
    EXPECT_EQ(registerPicture(o, *shaded(0.0)).registration.gain, "none");
}

// A copy of another kind: grey, grey with alpha, colour with alpha, 16-bit.
PictureRef ofKind(const Picture& colour, const SampleFormat& format)
{
    PictureRef p = Picture::create(colour.width(), colour.height(), format.channels() * format.depth, true);
    p->setSampleFormat(format);
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x) {
            const std::uint8_t* bgr = test::pixelAt(colour, x, y);
            const double grey = 0.114 * bgr[0] + 0.587 * bgr[1] + 0.299 * bgr[2];
            const std::size_t at = std::size_t(y) * std::size_t(colour.width()) + std::size_t(x);
            if (format.depth == 8) {
                for (int c = 0; c < 3; ++c)
                    pixel(*p, x, y, c) = format.colours == 1 ? byte(grey) : bgr[c];
                if (format.alpha) p->alpha8()[at] = 255;
            } else {
                std::uint16_t* out = p->samples16() + at * std::size_t(format.channels());
                if (format.colours == 1)
                    out[0] = std::uint16_t(std::lround(grey * 257));
                else
                    for (int c = 0; c < 3; ++c)
                        out[c] = std::uint16_t(bgr[2 - c] * 257);
                if (format.alpha) out[format.channels() - 1] = 65535;
            }
        }
    if (format.depth == 16) p->refreshFromSamples16();
    return p;
}

struct KindCase {
    std::string name;
    SampleFormat suspect;
    bool greyOriginal;
};

class Kinds : public ::testing::TestWithParam<KindCase> { };

// The marked picture resized and rotated, then saved as another kind: registered on its
// luminance and found.
TEST_P(Kinds, RegisteredOnLuminance)
{
    const KindCase& kc = GetParam();
    const PictureRef colour = render(busyScene());
    const PictureRef o = kc.greyOriginal ? ofKind(*colour, {1, false, 8, false}) : colour;
    const Watermark wm = test::gaussianWatermark(1000, 0.1, 5);
    const PictureRef marked = embedWatermark(*o, wm, Depths::Any).marked;
    const cv::Mat stored(marked->height(), marked->width(), CV_8UC3, marked->bits(), marked->stride());
    cv::Mat small;
    cv::warpAffine(stored, small, cv::getRotationMatrix2D(cv::Point2f(319.5f, 239.5f), 2.0, 0.8),
        stored.size(), cv::INTER_AREA);
    const PictureRef moved = Picture::create(640, 480, 24, marked->topDown());
    for (int row = 0; row < 480; ++row)
        std::copy_n(
            small.ptr<std::uint8_t>(row), 3 * 640, moved->bits() + moved->stride() * std::size_t(row));
    const PictureRef s = ofKind(*moved, kc.suspect);

    const Registered reg = registerPicture(*o, *s);
    SCOPED_TRACE(describe(reg.registration));
    EXPECT_NEAR(reg.registration.scale, 0.8, 2e-3);
    EXPECT_NEAR(std::fabs(reg.registration.rotationDeg), 2.0, 0.05);
    EXPECT_GT(detectWatermark(*o, wm, *reg.picture, kDefaultThreshold, Depths::Any).similarity, 0.7);
    // The detection engine registers such a copy too, rather than testing it as it stands.
    const Detection d = detect(Reference(*o, Depths::Any), wm, *s, DecisionRule{});
    EXPECT_TRUE(d.registration.has_value());
    EXPECT_TRUE(d.result.found) << d.result.similarity;
}

INSTANTIATE_TEST_SUITE_P(Registration, Kinds,
    ::testing::Values(KindCase{"Grey", {1, false, 8, false}, false},
        KindCase{"GreyAlpha", {1, true, 8, false}, false}, KindCase{"Rgba", {3, true, 8, false}, false},
        KindCase{"Colour16", {3, false, 16, false}, false}, KindCase{"Grey16", {1, false, 16, false}, false},
        KindCase{"ColourAgainstGreyOriginal", {3, false, 8, false}, true}),
    [](const auto& param) { return param.param.name; });

struct DriftCase {
    std::string name;
    bool smooth;
    double alpha;
    // The copy's size over O's by a tool's factor (OpenCV's area reduction), or 1: not moved.
    double factor = 1.0;
    // Odd sides (one pixel off each): the copy's sides are rounded, so its scale is the
    // factor and not its sides' ratio.
    bool oddSides = false;
    // A square picture, whose stretch has the same ratio on both axes, and yet not the
    // factor.
    bool square = false;
    // A black margin of the picture's own down both sides, as round a fundus photograph:
    // taken for a border, but the copy stands where it is.
    bool darkMargin = false;
};

// Failures name the case rather than dump its bytes.
void PrintTo(const DriftCase& c, std::ostream* os)
{
    *os << c.name;
}

class NoDrift : public ::testing::TestWithParam<DriftCase> { };

PictureRef cropped(const Picture& o, int w, int h)
{
    PictureRef out = Picture::create(w, h, 24, true);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                pixel(*out, x, y, c) = pixel(o, x, y, c);
    return out;
}

// A marked copy that was not moved, or was resized exactly, stays where it is: the mark's
// own change of the coarse content must not pull the alignment.
TEST_P(NoDrift, WithinAFewHundredthsOfAPixel)
{
    const DriftCase& dc = GetParam();
    // Photographs have grain, even where they are smooth.
    PictureRef o = render(dc.smooth ? smoothScene() : busyScene());
    if (dc.oddSides) o = cropped(*o, o->width() - 1, o->height() - 1);
    if (dc.square) o = cropped(*o, o->height() - 2, o->height() - 2);
    if (dc.darkMargin)
        for (int y = 0; y < o->height(); ++y)
            for (int x : {0, 1, 2, 3, 4, 5, o->width() - 6, o->width() - 5, o->width() - 4, o->width() - 3,
                     o->width() - 2, o->width() - 1})
                for (int c = 0; c < 3; ++c)
                    pixel(*o, x, y, c) = 0;
    std::mt19937 rng(3);
    std::normal_distribution<double> grain(0.0, 2.0);
    for (int y = 0; y < o->height(); ++y)
        for (int x = 0; x < o->width(); ++x)
            for (int c = 0; c < 3; ++c)
                pixel(*o, x, y, c) = byte(pixel(*o, x, y, c) + grain(rng));
    const PictureRef marked = embedWatermark(*o, test::gaussianWatermark(1000, dc.alpha, 17)).marked;
    PictureRef s = marked;
    cv::Matx33d truth = cv::Matx33d::eye();
    if (dc.factor != 1.0) {
        const cv::Mat stored(marked->height(), marked->width(), CV_8UC3, marked->bits(), marked->stride());
        cv::Mat resized;
        cv::resize(stored, resized, cv::Size(), dc.factor, dc.factor, cv::INTER_AREA);
        s = Picture::create(resized.cols, resized.rows, 24, marked->topDown());
        for (int row = 0; row < resized.rows; ++row)
            std::copy_n(
                resized.ptr<std::uint8_t>(row), 3 * resized.cols, s->bits() + s->stride() * std::size_t(row));
        const double f = dc.factor, shift = 0.5 * f - 0.5;
        truth = cv::Matx33d(f, 0, shift, 0, f, shift, 0, 0, 1);
    }
    const Registration r = registerPicture(*o, *s).registration;
    EXPECT_LT(cornerError(r, truth, o->width(), o->height()), 0.05) << describe(r);
}

std::vector<DriftCase> driftCases()
{
    std::vector<DriftCase> out;
    auto strength = [](double alpha) { return "Alpha" + std::to_string(int(std::lround(alpha * 10))); };
    for (bool smooth : {false, true}) {
        const std::string scene = smooth ? "Smooth" : "Busy";
        for (double alpha : {0.1, 0.3, 1.0})
            for (double factor : {1.0, 0.5})
                out.push_back({scene + strength(alpha) + (factor == 1.0 ? "Unmoved" : "Halved"), smooth,
                    alpha, factor});
        for (double alpha : {0.1, 1.0}) {
            out.push_back({scene + strength(alpha) + "OddSidesHalved", smooth, alpha, 0.5, true});
            out.push_back(
                {scene + strength(alpha) + "SquareThreeQuarters", smooth, alpha, 0.75, false, true});
            out.push_back({scene + strength(alpha) + "OddSidesThird", smooth, alpha, 1.0 / 3.0, true});
        }
    }
    for (double alpha : {0.1, 1.0})
        out.push_back({"DarkMargin" + strength(alpha) + "Unmoved", true, alpha, 1.0, false, false, true});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Registration, NoDrift, ::testing::ValuesIn(driftCases()),
    [](const auto& param) { return param.param.name; });

} // namespace
} // namespace pelinor
