// Pictures and watermarks for the embedding and detection tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "image/image_io.h"
#include "image/picture.h"
#include "obrada/colour.h"
#include "watermark/watermark_file.h"

namespace pelinor::test {

// The sample photograph shipped with the sources (451 x 300, 24-bit).
inline PictureRef samplePhoto()
{
    return loadPicture(std::string(PELINOR_SOURCE_DIR) + "/samples/chelsea.png");
}

inline PictureRef noisePicture(int width, int height, unsigned seed, bool topDown = false)
{
    PictureRef p = Picture::create(width, height, 24, topDown);
    std::mt19937 rng(seed);
    const ByteView v = openView(*p);
    for (int y = 0; y < v.n2(); ++y)
        for (int x = 0; x < v.n1(); ++x) v.row(y)[x] = std::uint8_t(rng() & 0xFF);
    return p;
}

inline Watermark gaussianWatermark(int length, double alpha, unsigned seed)
{
    Watermark w;
    w.length = length;
    w.alpha = alpha;
    w.deviation = 1.0;
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int i = 0; i < length; ++i) w.values.push_back(normal(rng));
    return w;
}

// The pixel bytes of a picture, row by row, without the row padding.
inline std::vector<std::uint8_t> pixelBytes(const Picture& p)
{
    const ByteView v = openView(p);
    std::vector<std::uint8_t> out;
    for (int y = 0; y < v.n2(); ++y) out.insert(out.end(), v.row(y), v.row(y) + v.n1());
    return out;
}

// The picture after the colour conversion there and back, nothing else.
inline PictureRef colourRoundTrip(const Picture& source)
{
    ByteArray2D planes;
    PretvoriUYCbCr(openView(source), planes);
    PictureRef out = Picture::create(source.width(), source.height(), 24, source.topDown());
    PretvoriURGB(planes, openView(*out));
    return out;
}

}  // namespace pelinor::test
