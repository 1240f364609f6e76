#include "watermark/luminance.h"

#include "obrada/colour.h"
#include "watermark/luminance_bands.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace pelinor {

namespace bands {

int bandParts(int width, int height)
{
    const long long pixels = static_cast<long long>(width) * height;
    const int bands = (height + kBandRows - 1) / kBandRows;
    const int cores = int(std::min(4u, jobCount(0)));
    return pixels < kThreadedPixels ? 1 : std::min(bands, cores);
}

namespace {

bool lowBytesAllZero(const Picture& picture)
{
    const SampleFormat& f = picture.sampleFormat();
    const std::size_t channels = std::size_t(f.channels());
    const std::size_t count = std::size_t(picture.width()) * std::size_t(picture.height());
    const std::uint16_t* s = picture.samples16();
    for (std::size_t i = 0; i < count; ++i, s += channels)
        for (int c = 0; c < f.colours; ++c)
            if ((s[c] & 0xff) != 0) return false;
    return true;
}

} // namespace

DeepLuminance::DeepLuminance(const Picture& picture)
    : m_picture(picture)
    , m_format(picture.sampleFormat())
    , m_twin(m_format.depth == 16 && m_format.colours == 3 && lowBytesAllZero(picture))
{
    if (m_twin) m_high.resize(3 * picture.width(), 1);
}

void DeepLuminance::row(int planeRow, double* out)
{
    const int y = storedRowOfPlane(m_picture, planeRow);
    const int w = m_picture.width();
    const std::size_t channels = std::size_t(m_format.channels());
    if (m_format.depth == 8) { // grey: the grey plane is the luminance
        const std::uint8_t* p = m_picture.bits() + std::size_t(y) * m_picture.stride();
        for (int x = 0; x < w; ++x)
            out[x] = double(p[3 * x]);
        return;
    }
    const std::uint16_t* s = m_picture.samples16() + std::size_t(y) * std::size_t(w) * channels;
    if (m_format.colours == 1) {
        for (int x = 0; x < w; ++x)
            out[x] = double(s[std::size_t(x) * channels]);
    } else if (m_twin) {
        std::uint8_t* h = m_high.data();
        for (int x = 0; x < w; ++x, s += channels) {
            h[3 * x] = std::uint8_t(s[2] >> 8);
            h[3 * x + 1] = std::uint8_t(s[1] >> 8);
            h[3 * x + 2] = std::uint8_t(s[0] >> 8);
        }
        PretvoriUYCbCr(m_high.view(), m_planes);
        for (int x = 0; x < w; ++x)
            out[x] = 256.0 * double(m_planes.data()[3 * x]);
    } else {
        for (int x = 0; x < w; ++x, s += channels)
            out[x] = 0.299 * s[0] + 0.587 * s[1] + 0.114 * s[2];
    }
}

} // namespace bands

using namespace bands;

namespace {

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
void luminanceBands(const ConstByteView& pixels, const RowOrder& order, Plane& lum)
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

} // namespace

bool marksThroughColourMemory(const Picture& picture) noexcept
{
    const SampleFormat& f = picture.sampleFormat();
    return f.colours == 3 && f.depth == 8;
}

void deepLuminanceInto(const Picture& picture, Plane& lum)
{
    const int w = picture.width(), h = picture.height();
    if (lum.n1() != w || lum.n2() != h) lum.resize(w, h);
    const double mid = midValue(picture);
    DeepLuminance luminance(picture);
    std::vector<double> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        luminance.row(y, row.data());
        for (int x = 0; x < w; ++x)
            lum(x, y) = row[std::size_t(x)] - mid;
    }
}

Plane luminancePlane(const Picture& picture)
{
    Plane lum;
    luminanceInto(picture, lum);
    return lum;
}

void colourLuminanceInto(const Picture& picture, Plane& lum)
{
    luminanceBands(openColourView(picture), rowOrderOf(picture), lum);
}

void luminanceInto(const Picture& picture, Plane& lum)
{
    luminanceBands(openView(picture), rowOrderOf(picture), lum);
}

double anyLuminanceInto(const Picture& picture, Plane& lum)
{
    if (marksThroughColourMemory(picture)) {
        colourLuminanceInto(picture, lum);
        return 255.0;
    }
    deepLuminanceInto(picture, lum);
    return picture.sampleFormat().depth == 16 ? 65535.0 : 255.0;
}

} // namespace pelinor
