#include "lab/attacks.h"

#include "base/error.h"
#include "image/image_io.h"
#include "obrada/bytes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

namespace pelinor {

namespace {

// Rows by their position on screen (0 = top), whatever order the picture stores them in.
const std::uint8_t* visualRow(const Picture& p, int y)
{
    return p.bits() + p.stride() * std::size_t(p.storedRow(y));
}
std::uint8_t* visualRow(Picture& p, int y)
{
    return p.bits() + p.stride() * std::size_t(p.storedRow(y));
}

PictureRef blankLike(const Picture& p)
{
    return Picture::create(p.width(), p.height(), 24, p.topDown());
}

// Applies f to every byte of every pixel (the row padding is left alone).
template <class F> PictureRef mapBytes(const Picture& picture, F&& f)
{
    require24Bit(picture);
    PictureRef out = blankLike(picture);
    const std::size_t rowBytes = 3 * std::size_t(picture.width());
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* src = picture.bits() + picture.stride() * std::size_t(y);
        std::uint8_t* dst = out->bits() + out->stride() * std::size_t(y);
        for (std::size_t i = 0; i < rowBytes; ++i)
            dst[i] = f(src[i]);
    }
    return out;
}

// The picture's pixels as a matrix, top row first (a copy), and back into a picture
// stored in the given row order.
cv::Mat toMat(const Picture& p)
{
    cv::Mat m(p.height(), p.width(), CV_8UC3);
    for (int y = 0; y < p.height(); ++y)
        std::copy_n(visualRow(p, y), 3 * std::size_t(p.width()), m.ptr<std::uint8_t>(y));
    return m;
}

PictureRef fromMat(const cv::Mat& m, bool topDown)
{
    PictureRef out = Picture::create(m.cols, m.rows, 24, topDown);
    for (int y = 0; y < m.rows; ++y)
        std::copy_n(m.ptr<std::uint8_t>(y), 3 * std::size_t(m.cols), visualRow(*out, y));
    return out;
}

// The same canvas, the picture moved by the affine map m (source to result), black
// where nothing of it lands.
PictureRef warpOnCanvas(const Picture& picture, const cv::Mat& m)
{
    require24Bit(picture);
    cv::Mat out;
    cv::warpAffine(toMat(picture), out, m, cv::Size(picture.width(), picture.height()), cv::INTER_LINEAR,
        cv::BORDER_CONSTANT, cv::Scalar::all(0));
    return fromMat(out, picture.topDown());
}

// A table applied to every channel value.
template <class F> PictureRef mapValues(const Picture& picture, F&& f)
{
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = limitAndRound(f(double(v)));
    return mapBytes(picture, [&](std::uint8_t v) { return table[v]; });
}

std::string number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

[[noreturn]] void badParameter(const Attack& attack, const char* range)
{
    throw Error(err::InvalidCall,
        "Invalid procedure call: the " + attackName(attack.kind) + " parameter " + number(attack.parameter)
            + " must be " + range);
}

} // namespace

PictureRef attackJpeg(const Picture& picture, int quality)
{
    require24Bit(picture);
    const std::vector<std::uint8_t> bytes = encodePicture(picture, ImageFormat::Jpeg, quality);
    // The picture is in memory already, admitted by the command's budget: only the hard
    // ceiling applies to its own copy.
    const PictureRef decoded = decodePicture(bytes, std::numeric_limits<std::int64_t>::max());
    if (decoded->width() != picture.width() || decoded->height() != picture.height())
        throw Error(err::InvalidPicture, "Invalid picture: the JPEG round trip changed the picture's size");
    // The decoder may store rows in another order; keep the input's.
    PictureRef out = blankLike(picture);
    for (int y = 0; y < picture.height(); ++y)
        std::copy_n(visualRow(*decoded, y), 3 * std::size_t(picture.width()), visualRow(*out, y));
    return out;
}

PictureRef attackNoise(const Picture& picture, double sigma, std::uint64_t seed)
{
    require24Bit(picture);
    if (sigma <= 0.0) return picture.clone();
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    return mapBytes(picture, [&](std::uint8_t v) { return limitAndRound(v + noise(rng)); });
}

PictureRef attackBlur(const Picture& picture, double sigma)
{
    require24Bit(picture);
    if (sigma <= 0.0) return picture.clone();
    const int radius = std::max(1, int(std::ceil(3.0 * sigma)));
    cv::Mat out;
    cv::GaussianBlur(
        toMat(picture), out, cv::Size(2 * radius + 1, 2 * radius + 1), sigma, sigma, cv::BORDER_REPLICATE);
    return fromMat(out, picture.topDown());
}

PictureRef resizePicture(const Picture& picture, int width, int height)
{
    require24Bit(picture);
    if (!withinPixelLimit(width, height))
        throw Error(err::OutOfMemory,
            "Out of memory: a picture of " + sizeText(width, height) + " pixels is beyond the limit");
    if (width == picture.width() && height == picture.height()) return picture.clone();
    const bool shrinking = width <= picture.width() && height <= picture.height();
    cv::Mat out;
    cv::resize(
        toMat(picture), out, cv::Size(width, height), 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
    return fromMat(out, picture.topDown());
}

PictureRef attackScale(const Picture& picture, double f)
{
    require24Bit(picture);
    const int w = std::max(1, int(std::lround(picture.width() * f)));
    const int h = std::max(1, int(std::lround(picture.height() * f)));
    const PictureRef small = resizePicture(picture, w, h);
    return resizePicture(*small, picture.width(), picture.height());
}

PictureRef attackCrop(const Picture& picture, double f, const Picture& fill)
{
    require24Bit(picture);
    require24Bit(fill);
    if (fill.width() != picture.width() || fill.height() != picture.height())
        throw Error(err::SizeMismatch,
            "The picture to fill from is " + sizeText(fill.width(), fill.height()) + ", the attacked picture "
                + sizeText(picture.width(), picture.height()));
    const double side = std::sqrt(std::clamp(f, 0.0, 1.0));
    const int keepW = int(std::lround(picture.width() * side));
    const int keepH = int(std::lround(picture.height() * side));
    const int x0 = (picture.width() - keepW) / 2;
    const int y0 = (picture.height() - keepH) / 2;
    PictureRef out = blankLike(picture);
    const std::size_t rowBytes = 3 * std::size_t(picture.width());
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* dst = visualRow(*out, y);
        std::copy_n(visualRow(fill, y), rowBytes, dst);
        if (y >= y0 && y < y0 + keepH)
            std::copy_n(visualRow(picture, y) + 3 * std::size_t(x0), 3 * std::size_t(keepW),
                dst + 3 * std::size_t(x0));
    }
    return out;
}

PictureRef attackRotate(const Picture& picture, double deg)
{
    const cv::Point2f centre(float((picture.width() - 1) / 2.0), float((picture.height() - 1) / 2.0));
    return warpOnCanvas(picture, cv::getRotationMatrix2D(centre, deg, 1.0));
}

PictureRef attackShift(const Picture& picture, double dx, double dy)
{
    return warpOnCanvas(picture, (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy));
}

PictureRef attackMirror(const Picture& picture)
{
    require24Bit(picture);
    cv::Mat out;
    cv::flip(toMat(picture), out, 1);
    return fromMat(out, picture.topDown());
}

PictureRef attackCropTo(const Picture& picture, double f)
{
    require24Bit(picture);
    const int w = std::clamp(int(std::lround(picture.width() * f)), 1, picture.width());
    const int h = std::clamp(int(std::lround(picture.height() * f)), 1, picture.height());
    const int x0 = (picture.width() - w) / 2, y0 = (picture.height() - h) / 2;
    PictureRef out = Picture::create(w, h, 24, picture.topDown());
    for (int y = 0; y < h; ++y)
        std::copy_n(visualRow(picture, y0 + y) + 3 * std::size_t(x0), 3 * std::size_t(w), visualRow(*out, y));
    return out;
}

PictureRef attackResize(const Picture& picture, double f)
{
    require24Bit(picture);
    return resizePicture(picture, std::max(1, int(std::lround(picture.width() * f))),
        std::max(1, int(std::lround(picture.height() * f))));
}

PictureRef attackTone(const Picture& picture, double gain, double offset)
{
    return mapValues(picture, [&](double v) { return gain * v + offset; });
}

PictureRef attackGamma(const Picture& picture, double g)
{
    return mapValues(picture, [&](double v) { return 255.0 * std::pow(v / 255.0, 1.0 / g); });
}

PictureRef attackSocial(const Picture& picture)
{
    require24Bit(picture);
    constexpr int kLongSide = 1080;
    const int longSide = std::max(picture.width(), picture.height());
    if (longSide <= kLongSide) return attackJpeg(picture, 80);
    const double f = double(kLongSide) / longSide;
    const PictureRef smaller = resizePicture(picture, std::max(1, int(std::lround(picture.width() * f))),
        std::max(1, int(std::lround(picture.height() * f))));
    return attackJpeg(*smaller, 80);
}

PictureRef attackRequantize(const Picture& picture, int levels)
{
    const double step = 255.0 / double(levels - 1);
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = limitAndRound(std::nearbyint(v / step) * step);
    return mapBytes(picture, [&](std::uint8_t v) { return table[v]; });
}

std::string attackName(Attack::Kind kind)
{
    switch (kind) {
    case Attack::Kind::Jpeg:
        return "jpeg";
    case Attack::Kind::Noise:
        return "noise";
    case Attack::Kind::Blur:
        return "blur";
    case Attack::Kind::Scale:
        return "scale";
    case Attack::Kind::Crop:
        return "crop";
    case Attack::Kind::Requantize:
        return "requantize";
    case Attack::Kind::Rotate:
        return "rotate";
    case Attack::Kind::Shift:
        return "shift";
    case Attack::Kind::Mirror:
        return "mirror";
    case Attack::Kind::CropTo:
        return "crop-to";
    case Attack::Kind::Resize:
        return "resize";
    case Attack::Kind::Tone:
        return "tone";
    case Attack::Kind::Gamma:
        return "gamma";
    case Attack::Kind::Social:
        return "social";
    }
    return "?";
}

std::string attackLabel(const Attack& attack)
{
    const std::string p = number(attack.parameter);
    switch (attack.kind) {
    case Attack::Kind::Jpeg:
        return "JPEG Q=" + p;
    case Attack::Kind::Noise:
        return "noise σ=" + p;
    case Attack::Kind::Blur:
        return "blur σ=" + p;
    case Attack::Kind::Scale:
        return "scale ×" + p;
    case Attack::Kind::Crop:
        return "crop " + number(attack.parameter * 100.0) + "%";
    case Attack::Kind::Requantize:
        return "requantize " + p + " levels";
    case Attack::Kind::Rotate:
        return "rotate " + p + "°";
    case Attack::Kind::Shift:
        return "shift " + p + "," + number(attack.second) + " px";
    case Attack::Kind::Mirror:
        return "mirror";
    case Attack::Kind::CropTo:
        return "crop to " + number(attack.parameter * 100.0) + "% per side";
    case Attack::Kind::Resize:
        return "resize ×" + p;
    case Attack::Kind::Tone:
        return "brightness/contrast ×" + p + (attack.second < 0 ? " − " : " + ")
            + number(std::fabs(attack.second));
    case Attack::Kind::Gamma:
        return "gamma " + p;
    case Attack::Kind::Social:
        return "social network (1080 px, JPEG Q=80)";
    }
    return p;
}

std::string chainLabel(const std::vector<Attack>& chain)
{
    std::string label;
    for (const Attack& a : chain)
        label += (label.empty() ? "" : " + ") + attackLabel(a);
    return label;
}

bool isGeometric(Attack::Kind kind)
{
    switch (kind) {
    case Attack::Kind::Rotate:
    case Attack::Kind::Shift:
    case Attack::Kind::Mirror:
    case Attack::Kind::CropTo:
    case Attack::Kind::Resize:
    case Attack::Kind::Social:
        return true;
    default:
        return false;
    }
}

void validateAttack(const Attack& attack)
{
    const double p = attack.parameter;
    if (!std::isfinite(p) || !std::isfinite(attack.second)) badParameter(attack, "a finite number");
    const bool whole = p == std::floor(p);
    switch (attack.kind) {
    case Attack::Kind::Jpeg:
        if (!whole || p < 1 || p > 100) badParameter(attack, "a whole number from 1 to 100");
        break;
    case Attack::Kind::Noise:
        if (p < 0 || p > 1000) badParameter(attack, "from 0 to 1000");
        break;
    case Attack::Kind::Blur:
        if (p < 0 || p > 20) badParameter(attack, "from 0 to 20");
        break;
    case Attack::Kind::Scale:
        if (p <= 0 || p > 4) badParameter(attack, "above 0 and at most 4");
        break;
    case Attack::Kind::Crop:
        if (p < 0 || p > 1) badParameter(attack, "from 0 to 1");
        break;
    case Attack::Kind::Requantize:
        if (!whole || p < 2 || p > 256) badParameter(attack, "a whole number from 2 to 256");
        break;
    case Attack::Kind::Rotate:
        if (p < -360 || p > 360) badParameter(attack, "from -360 to 360 degrees");
        break;
    case Attack::Kind::Shift:
        if (std::fabs(p) > 1e5 || std::fabs(attack.second) > 1e5)
            badParameter(attack, "at most 100000 pixels");
        break;
    case Attack::Kind::CropTo:
        if (p <= 0 || p > 1) badParameter(attack, "above 0 and at most 1");
        break;
    case Attack::Kind::Resize:
        if (p <= 0 || p > 4) badParameter(attack, "above 0 and at most 4");
        break;
    case Attack::Kind::Tone:
        if (p <= 0 || p > 10 || std::fabs(attack.second) > 255)
            badParameter(attack, "a gain above 0 and at most 10 and an offset from -255 to 255");
        break;
    case Attack::Kind::Gamma:
        if (p < 0.05 || p > 20) badParameter(attack, "from 0.05 to 20");
        break;
    case Attack::Kind::Mirror:
    case Attack::Kind::Social:
        break;
    }
}

PictureRef applyAttack(
    const Picture& picture, const Attack& attack, const Picture* original, std::uint64_t seed)
{
    validateAttack(attack);
    switch (attack.kind) {
    case Attack::Kind::Jpeg:
        return attackJpeg(picture, int(attack.parameter));
    case Attack::Kind::Noise:
        return attackNoise(picture, attack.parameter, seed);
    case Attack::Kind::Blur:
        return attackBlur(picture, attack.parameter);
    case Attack::Kind::Scale:
        return attackScale(picture, attack.parameter);
    case Attack::Kind::Crop:
        if (original == nullptr)
            throw Error(err::InvalidCall,
                "Invalid procedure call: crop needs a picture to fill the cut-away area from");
        return attackCrop(picture, attack.parameter, *original);
    case Attack::Kind::Requantize:
        return attackRequantize(picture, int(attack.parameter));
    case Attack::Kind::Rotate:
        return attackRotate(picture, attack.parameter);
    case Attack::Kind::Shift:
        return attackShift(picture, attack.parameter, attack.second);
    case Attack::Kind::Mirror:
        return attackMirror(picture);
    case Attack::Kind::CropTo:
        return attackCropTo(picture, attack.parameter);
    case Attack::Kind::Resize:
        return attackResize(picture, attack.parameter);
    case Attack::Kind::Tone:
        return attackTone(picture, attack.parameter, attack.second);
    case Attack::Kind::Gamma:
        return attackGamma(picture, attack.parameter);
    case Attack::Kind::Social:
        return attackSocial(picture);
    }
    throw Error(err::InvalidCall, "Invalid procedure call: an unknown attack");
}

} // namespace pelinor
