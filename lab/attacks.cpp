#include "lab/attacks.h"

#include "base/error.h"
#include "image/image_io.h"
#include "obrada/bytes.h"

#include <algorithm>
#include <cctype>
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

[[noreturn]] void badParameter(const Attack& attack, const std::string& range)
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

namespace {

// A side resized by f: rounded, at least one pixel.
int scaledSide(int side, double f)
{
    return std::max(1, int(std::lround(side * f)));
}

// The social network's long side.
constexpr int kSocialLongSide = 1080;

} // namespace

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
    const PictureRef small
        = resizePicture(picture, scaledSide(picture.width(), f), scaledSide(picture.height(), f));
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
    return resizePicture(picture, scaledSide(picture.width(), f), scaledSide(picture.height(), f));
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
    const int longSide = std::max(picture.width(), picture.height());
    if (longSide <= kSocialLongSide) return attackJpeg(picture, 80);
    const double f = double(kSocialLongSide) / longSide;
    const PictureRef smaller
        = resizePicture(picture, scaledSide(picture.width(), f), scaledSide(picture.height(), f));
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

namespace {

using K = Attack::Kind;
constexpr ParameterRange kNone{};

// Labels and applications that need more than the table's plain fields.
std::string cropLabel(const Attack& a)
{
    return "crop " + number(a.parameter * 100.0) + "%";
}
std::string toneLabel(const Attack& a)
{
    return "brightness/contrast ×" + number(a.parameter) + (a.second < 0 ? " − " : " + ")
        + number(std::fabs(a.second));
}
PictureRef applyCrop(const Picture& picture, const Attack& a, const Picture* original, std::uint64_t)
{
    if (original == nullptr)
        throw Error(
            err::InvalidCall, "Invalid procedure call: crop needs a picture to fill the cut-away area from");
    return attackCrop(picture, a.parameter, *original);
}

const AttackEntry kAttacks[] = {
    {K::Jpeg, "jpeg", "Q", 1, {1, 100, false, true}, kNone, "",
        "re-encode as JPEG at quality Q ({range}) and decode", AttackFamily::Signal,
        [](const Attack& a) { return "JPEG Q=" + number(a.parameter); },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackJpeg(p, int(a.parameter));
        }},
    {K::Noise, "noise", "SIGMA", 1, {0, 1000}, kNone, "",
        "add Gaussian noise of deviation SIGMA grey levels ({range}) to each channel", AttackFamily::Signal,
        [](const Attack& a) { return "noise σ=" + number(a.parameter); },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t seed) {
            return attackNoise(p, a.parameter, seed);
        }},
    {K::Blur, "blur", "SIGMA", 1, {0, 20}, kNone, "", "Gaussian blur of deviation SIGMA pixels ({range})",
        AttackFamily::Signal, [](const Attack& a) { return "blur σ=" + number(a.parameter); },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackBlur(p, a.parameter);
        }},
    {K::Scale, "scale", "F", 1, {0, 4, true}, kNone, "",
        "resize by the factor F ({range}) and back to the original size", AttackFamily::Signal,
        [](const Attack& a) { return "scale ×" + number(a.parameter); },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackScale(p, a.parameter);
        }},
    {K::Crop, "crop", "F", 1, {0, 1}, kNone, "",
        "keep the centred fraction F ({range}) of the area; the rest comes from\nthe picture given with "
        "--fill-from (as Cox et al. did)",
        AttackFamily::Signal, cropLabel, applyCrop},
    {K::Requantize, "requantize", "L", 1, {2, 256, false, true}, kNone, "", "L levels ({range}) per channel",
        AttackFamily::Signal, [](const Attack& a) { return "requantize " + number(a.parameter) + " levels"; },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackRequantize(p, int(a.parameter));
        }},
    {K::Rotate, "rotate", "DEG", 1, {-360, 360}, kNone, "degrees",
        "rotate by DEG degrees ({range}, counter-clockwise) on the same\ncanvas, corners black",
        AttackFamily::Geometric, [](const Attack& a) { return "rotate " + number(a.parameter) + "°"; },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackRotate(p, a.parameter);
        }},
    {K::Shift, "shift", "DX,DY", 2, {-1e5, 1e5}, {-1e5, 1e5}, "pixels",
        "move the content DX pixels right and DY down, black where it left\n({range})",
        AttackFamily::Geometric,
        [](const Attack& a) { return "shift " + number(a.parameter) + "," + number(a.second) + " px"; },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackShift(p, a.parameter, a.second);
        }},
    {K::Mirror, "mirror", nullptr, 0, kNone, kNone, "", "exchange left and right", AttackFamily::Geometric,
        [](const Attack&) { return std::string("mirror"); },
        [](const Picture& p, const Attack&, const Picture*, std::uint64_t) { return attackMirror(p); }},
    {K::CropTo, "crop-to", "F", 1, {0, 1, true}, kNone, "",
        "keep the centred fraction F ({range}) of each side: a smaller picture", AttackFamily::Geometric,
        [](const Attack& a) { return "crop to " + number(a.parameter * 100.0) + "% per side"; },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackCropTo(p, a.parameter);
        }},
    {K::Resize, "resize", "F", 1, {0, 4, true}, kNone, "", "resize by the factor F ({range}), not restored",
        AttackFamily::Geometric, [](const Attack& a) { return "resize ×" + number(a.parameter); },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackResize(p, a.parameter);
        }},
    {K::Tone, "tone", "GAIN,OFFSET", 2, {0, 10, true}, {-255, 255}, "",
        "every channel value v to GAIN * v + OFFSET ({range};\nbrightness, contrast)", AttackFamily::Tone,
        toneLabel,
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackTone(p, a.parameter, a.second);
        }},
    {K::Gamma, "gamma", "G", 1, {0.05, 20}, kNone, "",
        "every channel value v to 255 (v / 255)^(1 / G) ({range}; above 1 brightens)", AttackFamily::Tone,
        [](const Attack& a) { return "gamma " + number(a.parameter); },
        [](const Picture& p, const Attack& a, const Picture*, std::uint64_t) {
            return attackGamma(p, a.parameter);
        }},
    {K::Social, "social", nullptr, 0, kNone, kNone, "",
        "as a social network serves an upload: the long side to 1080 pixels\n(when longer), then JPEG at "
        "quality 80",
        AttackFamily::Geometric,
        [](const Attack&) { return std::string("social network (1080 px, JPEG Q=80)"); },
        [](const Picture& p, const Attack&, const Picture*, std::uint64_t) { return attackSocial(p); }},
};

// The names the metavariable gives the values: "GAIN,OFFSET" -> GAIN, OFFSET.
std::string valueName(const AttackEntry& entry, int which)
{
    const std::string all = entry.metavar ? entry.metavar : "";
    const std::size_t comma = all.find(',');
    if (comma == std::string::npos) return all;
    return which == 0 ? all.substr(0, comma) : all.substr(comma + 1);
}

bool sameRange(const ParameterRange& a, const ParameterRange& b)
{
    return a.min == b.min && a.max == b.max && a.aboveMin == b.aboveMin && a.whole == b.whole;
}

std::string noteOf(const ParameterRange& r, const std::string& name, bool named)
{
    if (r.aboveMin) return number(r.min) + " < " + name + " <= " + number(r.max);
    if (named) return number(r.min) + " <= " + name + " <= " + number(r.max);
    return number(r.min) + ".." + number(r.max);
}

std::string textOf(const ParameterRange& r)
{
    if (r.whole) return "a whole number from " + number(r.min) + " to " + number(r.max);
    if (r.aboveMin) return "above " + number(r.min) + " and at most " + number(r.max);
    return "from " + number(r.min) + " to " + number(r.max);
}

std::string withArticle(std::string word)
{
    for (char& c : word)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return (std::string("aeiou").find(word.front()) != std::string::npos ? "an " : "a ") + word;
}

} // namespace

bool ParameterRange::contains(double v) const noexcept
{
    if (!std::isfinite(v)) return false;
    if (whole && v != std::floor(v)) return false;
    return (aboveMin ? v > min : v >= min) && v <= max;
}

std::span<const AttackEntry> attackTable() noexcept
{
    return kAttacks;
}

const AttackEntry& attackEntry(Attack::Kind kind)
{
    for (const AttackEntry& entry : kAttacks)
        if (entry.kind == kind) return entry;
    throw Error(err::InvalidCall, "Invalid procedure call: an unknown attack");
}

std::string rangeNote(const AttackEntry& entry)
{
    if (entry.values < 2) return entry.values == 1 ? noteOf(entry.first, valueName(entry, 0), false) : "";
    if (sameRange(entry.first, entry.second))
        return noteOf(entry.first, valueName(entry, 0) + ", " + valueName(entry, 1), true);
    return noteOf(entry.first, valueName(entry, 0), true) + ", "
        + noteOf(entry.second, valueName(entry, 1), true);
}

std::string rangeText(const AttackEntry& entry)
{
    const std::string unit = *entry.unit ? std::string(" ") + entry.unit : "";
    if (entry.values < 2) return textOf(entry.first) + unit;
    if (sameRange(entry.first, entry.second)) return "each " + textOf(entry.first) + unit;
    return withArticle(valueName(entry, 0)) + " " + textOf(entry.first) + " and "
        + withArticle(valueName(entry, 1)) + " " + textOf(entry.second) + unit;
}

std::string attackHelp(const AttackEntry& entry)
{
    std::string help = entry.help;
    const std::size_t at = help.find("{range}");
    if (at != std::string::npos) help.replace(at, 7, rangeNote(entry));
    return help;
}

std::string attackName(Attack::Kind kind)
{
    return attackEntry(kind).name;
}

std::string attackLabel(const Attack& attack)
{
    return attackEntry(attack.kind).label(attack);
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
    return attackEntry(kind).family == AttackFamily::Geometric;
}

void validateAttack(const Attack& attack)
{
    const AttackEntry& entry = attackEntry(attack.kind);
    if (!std::isfinite(attack.parameter) || !std::isfinite(attack.second))
        badParameter(attack, "a finite number");
    if (entry.values >= 1 && !entry.first.contains(attack.parameter)) badParameter(attack, rangeText(entry));
    if (entry.values >= 2 && !entry.second.contains(attack.second)) badParameter(attack, rangeText(entry));
}

AttackSize attackResultSize(const Attack& attack, int width, int height)
{
    const auto size = [](int w, int h, std::int64_t peak) {
        return AttackSize{w, h, std::max(peak, std::int64_t(w) * h)};
    };
    const std::int64_t pixels = std::int64_t(width) * height;
    const double f = attack.parameter;
    switch (attack.kind) {
    case K::Scale: // there and back: the resized copy is the largest
        return size(width, height, std::int64_t(scaledSide(width, f)) * scaledSide(height, f));
    case K::Resize:
        return size(scaledSide(width, f), scaledSide(height, f), pixels);
    case K::CropTo:
        return size(
            std::clamp(scaledSide(width, f), 1, width), std::clamp(scaledSide(height, f), 1, height), pixels);
    case K::Social: {
        const int longSide = std::max(width, height);
        if (longSide <= kSocialLongSide) return size(width, height, pixels);
        const double g = double(kSocialLongSide) / longSide;
        return size(scaledSide(width, g), scaledSide(height, g), pixels);
    }
    default:
        return size(width, height, pixels);
    }
}

std::int64_t chainPeakPixels(const std::vector<Attack>& chain, int width, int height)
{
    std::int64_t peak = std::int64_t(width) * height;
    for (const Attack& a : chain) {
        const AttackSize size = attackResultSize(a, width, height);
        peak = std::max(peak, size.peakPixels);
        width = size.width;
        height = size.height;
    }
    return peak;
}

PictureRef applyAttack(
    const Picture& picture, const Attack& attack, const Picture* original, std::uint64_t seed)
{
    validateAttack(attack);
    return attackEntry(attack.kind).apply(picture, attack, original, seed);
}

} // namespace pelinor
