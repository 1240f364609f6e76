#include "watermark/embed.h"

#include "base/error.h"
#include "base/parallel.h"
#include "obrada/bytes.h"
#include "obrada/colour.h"
#include "obrada/dct.h"
#include "obrada/selection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace pelinor {

namespace {

// Rows converted at a time: a band of colour planes stays in cache while its luminance
// is moved to or from the column-major plane, and the bands split evenly over threads.
constexpr int kBandRows = 32;
// Below this many pixels a second thread costs more than it saves.
constexpr long long kThreadedPixels = 1LL << 16;

ByteView band(const ByteView& pixels, int firstRow, int rows) noexcept
{
    return ByteView(pixels.row(firstRow), pixels.n1(), rows, pixels.stride());
}

// The plane's rows run from the bottom of the image up, as an ordinary bitmap stores them,
// whatever order the picture keeps. A picture stored top-down therefore meets its plane rows
// in reverse: plane rows y0.. are the stored band ending at stored row height - 1 - y0, read
// backwards. Without this a top-down original and its bottom-up marked copy would be compared
// mirror-wise.
struct RowOrder {
    bool reversed = false;
    int height = 0;
    // The stored rows that hold plane rows y0 .. y0 + rows - 1.
    ByteView storedBand(const ByteView& pixels, int y0, int rows) const noexcept
    {
        return band(pixels, reversed ? height - y0 - rows : y0, rows);
    }
    // Index within such a band of plane row y0 + j.
    int inBand(int j, int rows) const noexcept { return reversed ? rows - 1 - j : j; }
};

// How many threads share the bands of a picture.
int bandParts(int width, int height)
{
    const long long pixels = static_cast<long long>(width) * height;
    const int bands = (height + kBandRows - 1) / kBandRows;
    const int cores = int(std::min(4u, jobCount(0)));
    return pixels < kThreadedPixels ? 1 : std::min(bands, cores);
}

// Calls work(part, firstRow, rows) for every band of rows, the bands split into
// contiguous parts, one per thread. Bands touch disjoint rows and disjoint stretches of
// each plane column, so the parts need no locking. Rethrows the first failure.
template <class F> void forEachBand(int width, int height, F&& work)
{
    const int bands = (height + kBandRows - 1) / kBandRows;
    const int parts = bandParts(width, height);
    auto runPart = [&](int part) {
        const int first = bands * part / parts;
        const int last = bands * (part + 1) / parts;
        for (int b = first; b < last; ++b) {
            const int y0 = b * kBandRows;
            work(part, y0, std::min(kBandRows, height - y0));
        }
    };
    runParallel(std::size_t(parts), unsigned(parts), [&](std::size_t part) { runPart(int(part)); });
}

// The luminance of one band of colour planes, minus 128, into its stretch of each plane column.
void fillLuminance(const ByteArray2D& planes, Plane& lum, int y0, const RowOrder& order)
{
    const std::uint8_t* p = planes.data();
    const std::size_t n1 = std::size_t(planes.n1());
    const int height = lum.n2();
    const int rows = planes.n2();
    for (int x = 0; x < lum.n1(); ++x) {
        double* column = lum.data() + std::size_t(x) * std::size_t(height) + std::size_t(y0);
        for (int j = 0; j < rows; ++j)
            column[j] = double(p[std::size_t(order.inBand(j, rows)) * n1 + 3 * std::size_t(x)]) - 128.0;
    }
}

// L = luminance - 128 into `lum`, band by band through one small colour-planes buffer per thread.
void luminanceBands(const ByteView& pixels, const RowOrder& order, Plane& lum)
{
    const int width = pixels.n1() / 3;
    const int height = pixels.n2();
    if (lum.n1() != width || lum.n2() != height) lum.resize(width, height);
    std::vector<ByteArray2D> scratch(std::size_t(bandParts(width, height)));
    forEachBand(width, height, [&](int part, int y0, int rows) {
        ByteArray2D& planes = scratch[std::size_t(part)];
        PretvoriUYCbCr(order.storedBand(pixels, y0, rows), planes);
        fillLuminance(planes, lum, y0, order);
    });
}

RowOrder rowOrderOf(const Picture& picture) noexcept
{
    return RowOrder{picture.topDown(), picture.height()};
}

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

Plane luminancePlane(const Picture& picture)
{
    Plane lum;
    luminanceInto(picture, lum);
    return lum;
}

void luminanceInto(const Picture& picture, Plane& lum)
{
    luminanceBands(openView(picture), rowOrderOf(picture), lum);
}

long long embedCoefficients(Plane& coeffs, const Watermark& watermark)
{
    const double threshold = OdrediPrag(coeffs, watermark.length);
    const double alpha = watermark.alpha;
    const std::vector<double>& x = watermark.values;
    const long long available = static_cast<long long>(x.size());
    return forEachSignificant(coeffs, threshold, [&](int u, int v, long long i) {
        if (i >= available)
            throw Error(err::SubscriptOutOfRange,
                "Subscript out of range: more significant coefficients than the " + std::to_string(available)
                    + " watermark values");
        coeffs(u, v) = (alpha * x[std::size_t(i)] + 1.0) * coeffs(u, v);
    });
}

EmbedResult embedWatermarkInPlace(const PictureRef& picture, const Watermark& watermark)
{
    // One plane of doubles is all the memory added to the picture's own: the luminance, its
    // transform and the transform back all live in it.
    const ByteView pixels = openView(*picture);
    const RowOrder order = rowOrderOf(*picture);
    Plane plane;
    luminanceBands(pixels, order, plane);
    EmbedResult result;
    DirektniDCT(plane, plane);
    result.changed = embedCoefficients(plane, watermark);
    InverzniDCT(plane, plane);
    const std::uint64_t squares = writeMarked(pixels, order, plane);
    result.psnr = psnrFromSquaredError(double(squares), double(pixels.n1()) * double(pixels.n2()));
    result.marked = picture;
    return result;
}

EmbedResult embedWatermark(const Picture& source, const Watermark& watermark)
{
    require24Bit(source);
    return embedWatermarkInPlace(source.clone(), watermark);
}

} // namespace pelinor
