// Files written by libpng and libjpeg themselves, so that our readers meet files they did
// not write. Only 8-bit RGB becomes a 24-bit picture; every other kind keeps its depth
// (and so is refused for watermarking) but shows the same colours.
#include "image/codecs/codecs.h"
#include "image/image_io.h"
#include "tests/libjpeg_file.h"
#include "tests/test_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <png.h>

namespace pelinor {
namespace {

// Sample ch of pixel (x, y) of the PNG files, cut to the bit depth's mask.
unsigned sample(int x, int y, int ch, unsigned mask)
{
    return unsigned(x * 40 + y * 7 + ch * 3) & mask;
}

// A 5 x 3 PNG. 16-bit samples repeat the byte; palette entry v is red 3v, green 255 - v, blue v.
std::vector<std::uint8_t> referencePng(int colourType, int depth, bool interlaced)
{
    const int channels = std::array{1, 0, 3, 1, 2, 0, 4}[std::size_t(colourType)];
    std::vector<png_byte> bytes(3 * 40); // rows of up to 5 pixels x 4 channels x 2 bytes
    for (int y = 0; y < 3; ++y)
        for (int i = 0; i < 5 * channels; ++i) {
            const unsigned v = sample(i / channels, y, i % channels, (1u << std::min(depth, 8)) - 1);
            if (depth == 16)
                bytes[40 * y + 2 * i] = bytes[40 * y + 2 * i + 1] = png_byte(v);
            else
                bytes[40 * y + i * depth / 8] |= png_byte(v << (8 - depth - i * depth % 8));
        }
    std::array<png_bytep, 3> rows = {&bytes[0], &bytes[40], &bytes[80]};
    std::array<png_color, 256> palette;
    for (unsigned v = 0; v < 256; ++v)
        palette[v] = {png_byte(3 * v), png_byte(255 - v), png_byte(v)};
    char* buffer = nullptr;
    std::size_t size = 0;
    FILE* file = ::open_memstream(&buffer, &size);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, 5, 3, depth, colourType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), 1 << depth);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

TEST(PngDecoder, EveryKindLoadsWithItsOwnDepth)
{
    // Colour type, bit depth, interlaced, bits per pixel of the picture.
    const int kinds[][4] = {{PNG_COLOR_TYPE_RGB, 8, 0, 24}, {PNG_COLOR_TYPE_RGB, 8, 1, 24},
        {PNG_COLOR_TYPE_RGBA, 8, 0, 32}, {PNG_COLOR_TYPE_RGB, 16, 0, 48}, {PNG_COLOR_TYPE_RGBA, 16, 1, 64},
        {PNG_COLOR_TYPE_GRAY, 1, 0, 1}, {PNG_COLOR_TYPE_GRAY, 4, 1, 4}, {PNG_COLOR_TYPE_GRAY, 8, 0, 8},
        {PNG_COLOR_TYPE_GRAY, 16, 0, 16}, {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 0, 16},
        {PNG_COLOR_TYPE_PALETTE, 2, 0, 2}, {PNG_COLOR_TYPE_PALETTE, 8, 1, 8}};
    for (const auto [type, depth, interlaced, bitsPerPixel] : kinds) {
        SCOPED_TRACE(testing::Message() << "type " << type << ", " << depth << " bits");
        PictureRef p = decodePng(referencePng(type, depth, interlaced));
        EXPECT_EQ(p->bitsPerPixel(), bitsPerPixel);
        EXPECT_EQ(is24Bit(p.get()), bitsPerPixel == 24);
        ASSERT_EQ(p->width(), 5);
        ASSERT_EQ(p->height(), 3);
        const unsigned mask = (1u << std::min(depth, 8)) - 1;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const unsigned v = sample(x, y, 0, mask), grey = v * 255 / mask; // grey stretched to 0..255
                const std::array<unsigned, 3> bgr = type == PNG_COLOR_TYPE_PALETTE
                    ? std::array{v, 255 - v, 3 * v & 255}
                    : (type & PNG_COLOR_MASK_COLOR)
                    ? std::array{sample(x, y, 2, mask), sample(x, y, 1, mask), v}
                    : std::array{grey, grey, grey};
                const std::uint8_t* px = test::pixelAt(*p, x, y);
                EXPECT_EQ((std::array<unsigned, 3>{px[0], px[1], px[2]}), bgr) << x << "," << y;
            }
    }
}

TEST(JpegDecoder, GreyFilesKeepTheirDepth)
{
    std::vector<JSAMPLE> row(16);
    const PictureRef p = decodeJpeg(test::libjpegFile(16, 16, 1, JCS_GRAYSCALE, nullptr, [&](int y) {
        std::fill(row.begin(), row.end(), JSAMPLE(y * 16)); // dark at the top, light at the bottom
        return row.data();
    }));
    EXPECT_EQ(p->bitsPerPixel(), 8);
    EXPECT_FALSE(is24Bit(p.get()));
    const std::uint8_t *top = test::pixelAt(*p, 3, 0), *bottom = test::pixelAt(*p, 3, 15);
    EXPECT_EQ(top[0], top[1]);
    EXPECT_EQ(top[1], top[2]);
    EXPECT_LT(top[0], 20);
    EXPECT_GT(bottom[0], 220);
}

} // namespace
} // namespace pelinor
