#include "watermark/embed.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "obrada/colour.h"
#include "obrada/dct.h"
#include "obrada/error.h"
#include "obrada/selection.h"

namespace pelinor {

namespace {

// Rows converted at a time: the colour planes are only ever held for one band, so the
// conversions cost no whole-picture array, and the band stays in cache while its
// luminance is moved to or from the column-major plane.
constexpr int kBandRows = 32;

ByteView band(const ByteView& pixels, int firstRow, int rows) noexcept
{
    return ByteView(pixels.row(firstRow), pixels.n1(), rows, pixels.stride());
}

// Limits to 0..255, then rounds to nearest with ties to even (the default rounding mode).
inline std::uint8_t toByte(double v) noexcept
{
    v = v > 255.0 ? 255.0 : v;
    v = v < 0.0 ? 0.0 : v;
    return static_cast<std::uint8_t>(std::nearbyint(v));
}

// Writes the marked pixels: for each band the source is converted again, which gives the
// very chroma bytes of the first conversion, its luminance is replaced by the marked
// plane + 128, and the planes are converted back into `marked`. Returns the sum of
// squared differences between source and marked bytes, over all three channels.
std::uint64_t writeMarked(const ByteView& source, const Plane& lum, const ByteView& marked)
{
    const int width = lum.n1();
    const int height = lum.n2();
    const int n1 = source.n1();
    std::uint64_t squares = 0;
    ByteArray2D planes;
    for (int y0 = 0; y0 < height; y0 += kBandRows) {
        const int rows = std::min(kBandRows, height - y0);
        PretvoriUYCbCr(band(source, y0, rows), planes);
        std::uint8_t* p = planes.data();
        for (int x = 0; x < width; ++x) {
            const double* column = lum.data() + std::size_t(x) * std::size_t(height) + std::size_t(y0);
            for (int j = 0; j < rows; ++j) p[std::size_t(j) * std::size_t(n1) + 3 * std::size_t(x)] = toByte(column[j] + 128.0);
        }
        PretvoriURGB(planes, band(marked, y0, rows));
        for (int j = 0; j < rows; ++j) {
            const std::uint8_t* a = source.row(y0 + j);
            const std::uint8_t* b = marked.row(y0 + j);
            for (int k = 0; k < n1; ++k) {
                const int d = int(a[k]) - int(b[k]);
                squares += std::uint64_t(d * d);
            }
        }
    }
    return squares;
}

double psnrFor(std::uint64_t squares, std::size_t bytes)
{
    if (squares == 0) return std::numeric_limits<double>::infinity();
    const double mse = double(squares) / double(bytes);
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

Plane luminancePlane(const ByteView& pixels)
{
    const int width = pixels.n1() / 3;
    const int height = pixels.n2();
    Plane lum(width, height);
    ByteArray2D planes;
    for (int y0 = 0; y0 < height; y0 += kBandRows) {
        const int rows = std::min(kBandRows, height - y0);
        PretvoriUYCbCr(band(pixels, y0, rows), planes);
        const std::uint8_t* p = planes.data();
        const std::size_t n1 = std::size_t(planes.n1());
        for (int x = 0; x < width; ++x) {
            double* column = lum.data() + std::size_t(x) * std::size_t(height) + std::size_t(y0);
            for (int j = 0; j < rows; ++j) column[j] = double(p[std::size_t(j) * n1 + 3 * std::size_t(x)]) - 128.0;
        }
    }
    return lum;
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
                        "Subscript out of range: more significant coefficients than the " +
                            std::to_string(available) + " watermark values");
        coeffs(u, v) = (alpha * x[std::size_t(i)] + 1.0) * coeffs(u, v);
    });
}

EmbedResult embedWatermark(const Picture& source, const Watermark& watermark)
{
    const ByteView pixels = openView(source);
    Plane lum = luminancePlane(pixels);
    EmbedResult result;
    {
        Plane coeffs;
        DirektniDCT(lum, coeffs);
        result.changed = embedCoefficients(coeffs, watermark);
        InverzniDCT(coeffs, lum);
    }
    result.marked = Picture::create(source.width(), source.height(), 24, source.topDown());
    const std::uint64_t squares = writeMarked(pixels, lum, openView(*result.marked));
    result.psnr = psnrFor(squares, std::size_t(pixels.n1()) * std::size_t(pixels.n2()));
    return result;
}

}  // namespace pelinor
