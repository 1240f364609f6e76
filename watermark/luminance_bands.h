// Internal to watermark/: how the luminance readers and the embedding's writers walk a
// picture's rows. Reading and writing must agree on the row order and the band split, so
// both take them from here.
#pragma once

#include "base/parallel.h"
#include "image/picture.h"
#include "obrada/array2d.h"
#include "obrada/bytes.h"

#include <algorithm>
#include <cstddef>

namespace pelinor::bands {

// Rows converted at a time: a band of colour planes stays in cache while its luminance
// is moved to or from the column-major plane, and the bands split evenly over threads.
inline constexpr int kBandRows = 32;
// Below this many pixels a second thread costs more than it saves.
inline constexpr long long kThreadedPixels = 1LL << 16;

template <class Byte>
BasicByteView<Byte> band(const BasicByteView<Byte>& pixels, int firstRow, int rows) noexcept
{
    return BasicByteView<Byte>(pixels.row(firstRow), pixels.n1(), rows, pixels.stride());
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
    template <class Byte>
    BasicByteView<Byte> storedBand(const BasicByteView<Byte>& pixels, int y0, int rows) const noexcept
    {
        return band(pixels, reversed ? height - y0 - rows : y0, rows);
    }
    // Index within such a band of plane row y0 + j.
    int inBand(int j, int rows) const noexcept { return reversed ? rows - 1 - j : j; }
};

inline RowOrder rowOrderOf(const Picture& picture) noexcept
{
    return RowOrder{picture.topDown(), picture.height()};
}

// How many threads share the bands of a picture.
int bandParts(int width, int height);

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

// The stored row holding plane row y (plane rows run from the bottom of the image up).
inline int storedRowOfPlane(const Picture& picture, int y) noexcept
{
    return picture.topDown() ? picture.height() - 1 - y : y;
}

// The luminance's mid-value: 128, or 32768 for 16-bit samples.
inline double midValue(const Picture& picture)
{
    return picture.sampleFormat().depth == 16 ? 32768.0 : 128.0;
}

// Luminance of one plane row of a grey or 16-bit picture, on its own scale (not offset).
class DeepLuminance {
public:
    explicit DeepLuminance(const Picture& picture);

    // Plane row y, counted from the bottom of the image like the colour path's planes.
    void row(int planeRow, double* out);

private:
    const Picture& m_picture;
    SampleFormat m_format;
    bool m_twin;
    ByteArray2D m_high, m_planes;
};

} // namespace pelinor::bands
