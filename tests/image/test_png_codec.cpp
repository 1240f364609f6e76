#include "image/image_io.h"
#include "image_test_util.h"

#include <array>
#include <gtest/gtest.h>
#include <png.h>

namespace pelinor {
namespace {

// Sample ch of pixel (x, y) in the reference files, cut to the bit depth's mask.
unsigned sample(int x, int y, int ch, unsigned mask)
{
    return unsigned(x * 40 + y * 7 + ch * 3) & mask;
}

// A 5 x 3 PNG written by libpng itself, so that the reader meets files it did not write.
// 16-bit samples repeat the byte; palette entry v is red 3v, green 255 - v, blue v.
std::vector<std::uint8_t> referencePng(int colourType, int depth, bool interlaced)
{
    const int channels = std::array{1, 0, 3, 1, 2, 0, 4}[std::size_t(colourType)];
    const unsigned mask = (1u << std::min(depth, 8)) - 1;
    std::vector<std::vector<png_byte>> rows(
        3, std::vector<png_byte>(std::size_t(5 * channels * depth + 7) / 8));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < 3; ++y) {
        for (int i = 0; i < 5 * channels; ++i) {
            const unsigned v = sample(i / channels, y, i % channels, mask);
            if (depth == 16)
                rows[y][2 * i] = rows[y][2 * i + 1] = png_byte(v);
            else
                rows[y][i * depth / 8] |= png_byte(v << (8 - depth - i * depth % 8));
        }
        pointers.push_back(rows[y].data());
    }
    std::vector<png_color> palette;
    for (unsigned v = 0; v <= mask; ++v)
        palette.push_back({png_byte(3 * v), png_byte(255 - v), png_byte(v)});
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* o = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, 5, 3, depth, colourType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Only 8-bit RGB becomes a 24-bit picture; every other kind keeps its depth (and so is
// refused for watermarking) but shows the same colours.
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

} // namespace
} // namespace pelinor
