#include "lab/attacks.h"

#include "base/error.h"
#include "image/image_io.h"
#include "obrada/bytes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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

// Filter taps of one output sample along one axis.
struct Taps {
    int first = 0;
    std::vector<double> weights;
};

// A triangle (bilinear) filter; when shrinking it is widened by the reduction factor, so
// every input pixel contributes in proportion to the area it covers. Scale 1 is exact.
std::vector<Taps> resampleTaps(int inSize, int outSize)
{
    const double scale = double(outSize) / double(inSize);
    const double support = scale < 1.0 ? 1.0 / scale : 1.0;
    std::vector<Taps> taps(static_cast<std::size_t>(outSize));
    for (int i = 0; i < outSize; ++i) {
        const double centre = (i + 0.5) / scale;
        const int lo = std::max(0, int(std::floor(centre - support)));
        const int hi = std::min(inSize - 1, int(std::ceil(centre + support)));
        Taps& t = taps[std::size_t(i)];
        t.first = lo;
        double sum = 0.0;
        for (int j = lo; j <= hi; ++j) {
            const double w = std::max(0.0, 1.0 - std::abs((j + 0.5 - centre) / support));
            t.weights.push_back(w);
            sum += w;
        }
        for (double& w : t.weights)
            w /= sum; // the nearest input always has w > 0
    }
    return taps;
}

// Gaussian kernel of radius ceil(3 sigma), normalised to sum 1.
std::vector<double> gaussianKernel(double sigma)
{
    const int radius = std::max(1, int(std::ceil(3.0 * sigma)));
    std::vector<double> k(static_cast<std::size_t>(2 * radius + 1));
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        k[std::size_t(i + radius)] = std::exp(-double(i) * i / (2.0 * sigma * sigma));
        sum += k[std::size_t(i + radius)];
    }
    for (double& w : k)
        w /= sum;
    return k;
}

// Separable filtering through a buffer of doubles: rows (horizontal taps) then columns.
// hTaps has one entry per output column, vTaps one per output row; index clamping is the
// taps' business (they never leave 0..size-1).
PictureRef filterSeparable(const Picture& in, int outW, int outH, const std::vector<Taps>& hTaps,
    const std::vector<Taps>& vTaps, bool topDown)
{
    const int inH = in.height();
    // The rows-only intermediate: 24 bytes per pixel of (output width x input height).
    if (double(outW) * inH * 3 * sizeof(double) > double(kMaxPixelBytes) * 2)
        throw Error(err::OutOfMemory,
            "Out of memory: a picture too large to resample to " + sizeText(outW, outH) + " pixels");
    std::vector<double> mid = allocateElements<double>(std::size_t(outW) * 3, std::size_t(inH));
    for (int y = 0; y < inH; ++y) {
        const std::uint8_t* src = visualRow(in, y);
        double* dst = mid.data() + std::size_t(y) * 3 * std::size_t(outW);
        for (int x = 0; x < outW; ++x) {
            const Taps& t = hTaps[std::size_t(x)];
            double acc[3] = {0.0, 0.0, 0.0};
            for (std::size_t k = 0; k < t.weights.size(); ++k) {
                const std::uint8_t* p = src + 3 * std::size_t(t.first + int(k));
                for (int c = 0; c < 3; ++c)
                    acc[c] += t.weights[k] * p[c];
            }
            for (int c = 0; c < 3; ++c)
                dst[3 * x + c] = acc[c];
        }
    }
    PictureRef out = Picture::create(outW, outH, 24, topDown);
    const std::size_t rowLen = 3 * std::size_t(outW);
    std::vector<double> acc(rowLen);
    for (int y = 0; y < outH; ++y) {
        const Taps& t = vTaps[std::size_t(y)];
        std::fill(acc.begin(), acc.end(), 0.0);
        for (std::size_t k = 0; k < t.weights.size(); ++k) {
            const double* row = mid.data() + std::size_t(t.first + int(k)) * rowLen;
            const double w = t.weights[k];
            for (std::size_t i = 0; i < rowLen; ++i)
                acc[i] += w * row[i];
        }
        std::uint8_t* dst = visualRow(*out, y);
        for (std::size_t i = 0; i < rowLen; ++i)
            dst[i] = limitAndRound(acc[i]);
    }
    return out;
}

// Gaussian taps for one axis with the edges extended: weights that fall outside the
// picture are added to the edge pixel.
std::vector<Taps> gaussianTaps(int size, const std::vector<double>& kernel)
{
    const int radius = int(kernel.size() / 2);
    std::vector<Taps> taps(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
        Taps& t = taps[std::size_t(i)];
        t.first = std::max(0, i - radius);
        const int last = std::min(size - 1, i + radius);
        t.weights.assign(std::size_t(last - t.first + 1), 0.0);
        for (int k = -radius; k <= radius; ++k) {
            const int j = std::clamp(i + k, 0, size - 1);
            t.weights[std::size_t(j - t.first)] += kernel[std::size_t(k + radius)];
        }
    }
    return taps;
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
    const std::vector<std::uint8_t> bytes = encodeJpeg(picture, quality);
    const PictureRef decoded = decodeJpeg(bytes);
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
    const std::vector<double> kernel = gaussianKernel(sigma);
    return filterSeparable(picture, picture.width(), picture.height(), gaussianTaps(picture.width(), kernel),
        gaussianTaps(picture.height(), kernel), picture.topDown());
}

PictureRef resizePicture(const Picture& picture, int width, int height)
{
    require24Bit(picture);
    return filterSeparable(picture, width, height, resampleTaps(picture.width(), width),
        resampleTaps(picture.height(), height), picture.topDown());
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
    }
    return p;
}

void validateAttack(const Attack& attack)
{
    const double p = attack.parameter;
    if (!std::isfinite(p)) badParameter(attack, "a finite number");
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
    }
    throw Error(err::InvalidCall, "Invalid procedure call: an unknown attack");
}

} // namespace pelinor
