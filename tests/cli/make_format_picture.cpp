// Writes a photograph-like test picture of one kind for the command-line tests:
// make_format_picture OUTPUT KIND   (KIND: rgb8 rgba8 grey8 greyalpha8 rgb16 grey16 meta cmyk)
// The format follows OUTPUT's extension. "meta" is 8-bit colour carrying EXIF (Copyright
// "(c) Ana Horvat", Orientation 6), an ICC profile and XMP; "cmyk" is a CMYK JPEG.
#include "image/codecs/exif.h"
#include "image/image_io.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <jpeglib.h>
#include <string>

using namespace pelinor;

namespace {

constexpr int kWidth = 160, kHeight = 120;

double value(int x, int y, int c)
{
    return 128 + 55 * std::sin(x * 0.06 + c) * std::cos(y * 0.045) + 30 * std::sin(x * 0.27 + y * 0.19)
        + 14 * std::cos(x * 0.8 - y * 0.6 + c);
}

int writeCmyk(const char* path)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return 2;
    jpeg_stdio_dest(&info, out);
    info.image_width = info.image_height = 16;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    JSAMPLE row[64];
    std::memset(row, 90, sizeof row);
    for (int y = 0; y < 16; ++y) {
        JSAMPROW r = row;
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_format_picture OUTPUT KIND\n");
        return 2;
    }
    const std::string kind = argv[2];
    if (kind == "cmyk") return writeCmyk(argv[1]);
    SampleFormat f;
    f.colours = kind.rfind("grey", 0) == 0 ? 1 : 3;
    f.alpha = kind.find("alpha") != std::string::npos || kind == "rgba8";
    f.depth = kind.find("16") != std::string::npos ? 16 : 8;
    try {
        PictureRef p = Picture::create(kWidth, kHeight, f.channels() * f.depth);
        p->setSampleFormat(f);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const std::size_t stored = std::size_t(p->storedRow(y));
                const std::size_t at = stored * kWidth + std::size_t(x);
                for (int c = 0; c < f.channels(); ++c) {
                    const bool alpha = f.alpha && c == f.channels() - 1;
                    const double v = alpha ? 255 - x : std::fmin(255.0, std::fmax(0.0, value(x, y, c)));
                    if (f.depth == 16) {
                        p->samples16()[at * std::size_t(f.channels()) + std::size_t(c)]
                            = std::uint16_t(std::lround(v * 257));
                    } else if (alpha) {
                        p->alpha8()[at] = std::uint8_t(v);
                    } else {
                        std::uint8_t* bgr = p->bits() + stored * p->stride() + 3 * std::size_t(x);
                        if (f.colours == 1)
                            bgr[0] = bgr[1] = bgr[2] = std::uint8_t(std::lround(v));
                        else
                            bgr[2 - c] = std::uint8_t(std::lround(v));
                    }
                }
            }
        if (f.depth == 16) p->refreshFromSamples16();
        if (kind == "meta") {
            Metadata& m = p->metadata();
            m.exif = writeExifDirectory(
                {{exif::Copyright, "(c) Ana Horvat", std::nullopt}, {exif::Orientation, {}, 6}});
            m.icc.assign(600, 0);
            for (std::size_t i = 132; i < m.icc.size(); ++i)
                m.icc[i] = std::uint8_t(i * 31);
            m.icc[2] = 600 >> 8;
            m.icc[3] = 600 & 0xff;
            std::memcpy(&m.icc[12], "mntrRGB XYZ ", 12);
            std::memcpy(&m.icc[36], "acsp", 4);
            const std::string xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
            m.xmp.assign(xmp.begin(), xmp.end());
        }
        SaveOptions options;
        options.quality = 75;
        options.subsampling = Subsampling::S444;
        savePicture(*p, argv[1], options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_format_picture: %s\n", e.what());
        return 2;
    }
    return 0;
}
