#include "watermark/embed.h"

#include "base/error.h"
#include "base/parallel.h"
#include "obrada/bytes.h"
#include "obrada/colour.h"
#include "obrada/dct.h"
#include "obrada/selection.h"
#include "watermark/luminance_bands.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace pelinor {

using namespace bands;

namespace {

// Replaces the pixels by the marked ones, band by band: the band's colour planes are made
// again from the pixels (the very bytes the luminance came from, so the chroma is kept
// without being stored), their luminance replaced by the marked plane + 128, and the band
// converted back in the same buffer and copied over the pixels. Returns the sum of squared
// differences between the old and the new bytes, over all three channels.
std::uint64_t writeMarked(const ByteView& pixels, const RowOrder& order, const Plane& lum)
{
    const int width = lum.n1();
    const int height = lum.n2();
    const std::size_t n1 = std::size_t(pixels.n1());
    const std::size_t parts = std::size_t(bandParts(width, height));
    std::vector<ByteArray2D> scratch(parts);
    std::vector<std::uint64_t> squares(parts, 0);
    forEachBand(width, height, [&](int part, int y0, int rows) {
        ByteArray2D& planes = scratch[std::size_t(part)];
        const ByteView stored = order.storedBand(pixels, y0, rows);
        PretvoriUYCbCr(stored, planes);
        std::uint8_t* p = planes.data();
        for (int x = 0; x < width; ++x) {
            const double* column = lum.data() + std::size_t(x) * std::size_t(height) + std::size_t(y0);
            for (int j = 0; j < rows; ++j)
                p[std::size_t(order.inBand(j, rows)) * n1 + 3 * std::size_t(x)]
                    = limitAndRound(column[j] + 128.0);
        }
        PretvoriURGB(planes, planes.view());
        std::uint64_t sum = 0;
        for (int j = 0; j < rows; ++j) {
            const std::uint8_t* marked = p + std::size_t(j) * n1;
            sum += squaredDifference(stored.row(j), marked, n1);
            std::copy(marked, marked + n1, stored.row(j));
        }
        squares[std::size_t(part)] += sum;
    });
    std::uint64_t total = 0;
    for (const std::uint64_t s : squares)
        total += s;
    return total;
}

} // namespace

void requireRoomForWatermark(const Plane& coeffs, double threshold, int length)
{
    // A non-zero threshold means more than `length` non-zero candidates: room enough.
    if (threshold != 0.0) return;
    const long long nonZero = forEachSignificant(coeffs, 0.0, [](int, int, long long) {});
    if (nonZero >= length) return;
    const long long candidates
        = coeffs.n1() > 1 && coeffs.n2() > 1 ? (long long)(coeffs.n1() - 1) * (coeffs.n2() - 1) : 0;
    throw Error(err::TooFewCoefficients,
        "The picture has " + std::to_string(nonZero) + " non-zero coefficients among its "
            + std::to_string(candidates) + " candidates (u, v >= 1) but the watermark has "
            + std::to_string(length) + " values: each value needs a coefficient of its own");
}

void requireCandidates(int width, int height, int length)
{
    const long long candidates = width > 1 && height > 1 ? (long long)(width - 1) * (height - 1) : 0;
    if (candidates >= length) return;
    throw Error(err::TooFewCoefficients,
        "The " + sizeText(width, height) + " picture has " + std::to_string(candidates)
            + " candidate coefficients (u, v >= 1) but the watermark has " + std::to_string(length)
            + " values: each value needs a coefficient of its own");
}

long long embedCoefficients(Plane& coeffs, const Watermark& watermark)
{
    requireUsableWatermark(watermark);
    const double threshold = OdrediPrag(coeffs, watermark.length);
    requireRoomForWatermark(coeffs, threshold, watermark.length);
    const double alpha = watermark.alpha;
    const std::vector<double>& x = watermark.values;
    const long long available = static_cast<long long>(x.size());
    // The magnitudes of the scaled coefficients summed, and the largest factor: the inverse
    // transform adds each output from the coefficients with weights of at most 2, so a
    // finite sum well below the largest double keeps every marked pixel finite too.
    double magnitudes = 0.0;
    double largestStep = 0.0;
    const long long changed = forEachSignificant(coeffs, threshold, [&](int u, int v, long long i) {
        if (i >= available)
            throw Error(err::SubscriptOutOfRange,
                "Subscript out of range: more significant coefficients than the " + std::to_string(available)
                    + " watermark values");
        const double step = alpha * x[std::size_t(i)];
        largestStep = std::max(largestStep, std::fabs(step));
        const double c = (step + 1.0) * coeffs(u, v);
        magnitudes += std::fabs(c);
        coeffs(u, v) = c;
    });
    // Candidates tied at the threshold are all left out, which can leave none at all.
    if (changed == 0)
        throw Error(err::TooFewCoefficients,
            "No coefficient of the picture stands above the threshold " + std::to_string(std::fabs(threshold))
                + " (the largest candidates tie at it): there is nothing to embed the watermark into");
    constexpr double kLargestSum = 1e300;
    if (!(magnitudes <= kLargestSum) || !std::isfinite(largestStep)) {
        char step[32];
        std::snprintf(step, sizeof step, "%.6g", largestStep);
        throw Error(err::Overflow,
            "Overflow: the marked coefficients are too large to compute with (alpha times a watermark "
            "value reaches "
                + std::string(step) + ")");
    }
    return changed;
}

// Refuses a marking that changed no pixel: detection would find nothing in it.
void requireChanged(double squares, double alpha)
{
    if (squares > 0.0) return;
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", alpha);
    throw Error(err::NothingEmbedded,
        "The marked picture is identical to the original: at alpha " + std::string(text)
            + " the watermark changes no pixel, so it could not be detected");
}

namespace {

// The embedding of a picture marked through its 24-bit memory (8-bit colour, with or
// without alpha), into that picture.
EmbedResult markColourInPlace(Picture& picture, const Watermark& watermark)
{
    // One plane of doubles is all the memory added to the picture's own: the luminance, its
    // transform and the transform back all live in it.
    const ByteView pixels = openColourView(picture);
    const RowOrder order = rowOrderOf(picture);
    Plane plane;
    colourLuminanceInto(picture, plane);
    EmbedResult result;
    DirektniDCT(plane, plane);
    result.changed = embedCoefficients(plane, watermark);
    InverzniDCT(plane, plane);
    const std::uint64_t squares = writeMarked(pixels, order, plane);
    requireChanged(double(squares), watermark.alpha);
    result.psnr = psnrFromSquaredError(double(squares), double(pixels.n1()) * double(pixels.n2()));
    return result;
}

} // namespace

namespace {

// Limits to 0..65535, then rounds to nearest with ties to even.
inline std::uint16_t toWord(double v) noexcept
{
    v = v > 65535.0 ? 65535.0 : v;
    v = v >= 0.0 ? v : 0.0;
    return static_cast<std::uint16_t>(std::nearbyint(v));
}

// The marked samples of a grey or 16-bit picture from the marked luminance plane.
// Returns the sum of squared differences of the colour samples.
double writeDeepMarked(const Picture& source, const Plane& lum, Picture& marked)
{
    const int w = source.width(), h = source.height();
    const SampleFormat& f = source.sampleFormat();
    const std::size_t channels = std::size_t(f.channels());
    const double mid = midValue(source);
    DeepLuminance luminance(source);
    std::vector<double> before(std::size_t(w), 0.0);
    double squares = 0.0;
    for (int planeRow = 0; planeRow < h; ++planeRow) {
        const int y = storedRowOfPlane(source, planeRow);
        if (f.depth == 8) {
            const std::uint8_t* src = source.bits() + std::size_t(y) * source.stride();
            std::uint8_t* dst = marked.bits() + std::size_t(y) * marked.stride();
            for (int x = 0; x < w; ++x) {
                const std::uint8_t g = limitAndRound(lum(x, planeRow) + mid);
                dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = g;
                const double d = double(g) - double(src[3 * x]);
                squares += d * d;
            }
            continue;
        }
        luminance.row(planeRow, before.data());
        const std::size_t at = std::size_t(y) * std::size_t(w) * channels;
        const std::uint16_t* src = source.samples16() + at;
        std::uint16_t* dst = marked.samples16() + at;
        for (int x = 0; x < w; ++x, src += channels, dst += channels) {
            const double after = lum(x, planeRow) + mid;
            if (f.colours == 1) {
                dst[0] = toWord(after);
            } else {
                // Equal steps in red, green and blue move the luminance by that step and
                // leave both colour differences as they were.
                const double change = after - before[std::size_t(x)];
                for (int c = 0; c < 3; ++c)
                    dst[c] = toWord(double(src[c]) + change);
            }
            for (int c = 0; c < f.colours; ++c) {
                const double d = double(dst[c]) - double(src[c]);
                squares += d * d;
            }
            if (f.alpha) dst[channels - 1] = src[channels - 1];
        }
    }
    return squares;
}

EmbedResult embedDeep(const Picture& source, const Watermark& watermark)
{
    const SampleFormat& f = source.sampleFormat();
    Plane lum;
    deepLuminanceInto(source, lum);
    EmbedResult result;
    {
        Plane coeffs;
        DirektniDCT(lum, coeffs);
        result.changed = embedCoefficients(coeffs, watermark);
        InverzniDCT(coeffs, lum);
    }
    result.marked
        = Picture::create(source.width(), source.height(), f.channels() * f.depth, source.topDown());
    SampleFormat markedFormat = f;
    markedFormat.palette = false;
    result.marked->setSampleFormat(markedFormat);
    const double squares = writeDeepMarked(source, lum, *result.marked);
    requireChanged(squares, watermark.alpha);
    if (f.depth == 16) result.marked->refreshFromSamples16();
    if (f.alpha && f.depth == 8)
        std::copy_n(source.alpha8(), std::size_t(source.width()) * std::size_t(source.height()),
            result.marked->alpha8());
    const double count = double(source.width()) * double(source.height()) * f.colours;
    const double peak = f.depth == 16 ? 65535.0 : 255.0;
    result.psnr = squares <= 0.0 ? std::numeric_limits<double>::infinity()
                                 : 10.0 * std::log10(peak * peak * count / squares);
    return result;
}

} // namespace

EmbedResult embedWatermarkInPlace(Picture& picture, const Watermark& watermark)
{
    require24Bit(picture); // before anything is read
    requireUsableWatermark(watermark);
    return markColourInPlace(picture, watermark);
}

EmbedResult embedWatermark(const Picture& source, const Watermark& watermark, Depths depths)
{
    if (depths == Depths::Only24Bit) require24Bit(source);
    requireUsableWatermark(watermark); // before the transforms, as detection refuses it
    EmbedResult result;
    if (marksThroughColourMemory(source)) {
        PictureRef copy = source.clone();
        if (copy->sampleFormat().palette) { // marked, it is colour (its alpha kept)
            SampleFormat format = copy->sampleFormat();
            format.palette = false;
            const std::size_t pixels = std::size_t(copy->width()) * std::size_t(copy->height());
            std::vector<std::uint8_t> alpha;
            if (copy->alpha8()) alpha.assign(copy->alpha8(), copy->alpha8() + pixels);
            copy->setSampleFormat(format);
            if (!alpha.empty()) std::copy(alpha.begin(), alpha.end(), copy->alpha8());
        }
        result = markColourInPlace(*copy, watermark);
        result.marked = std::move(copy);
    } else {
        result = embedDeep(source, watermark);
    }
    result.marked->metadata() = source.metadata();
    result.marked->source() = source.source();
    result.marked->source().notes.clear();
    return result;
}

} // namespace pelinor
