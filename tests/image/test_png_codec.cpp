#include "image/image_io.h"
#include "image_test_util.h"

#include <cstring>
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

namespace pelinor {
namespace {

using test::pixelAt;

// Writes a PNG of any kind with plain libpng, so that the reader is checked against
// files it did not write. rows: packed samples as libpng expects them, top row first.
std::vector<std::uint8_t> makePng(int width, int height, int colourType, int bitDepth, bool interlaced,
    const std::vector<std::vector<std::uint8_t>>& rows, const std::vector<png_color>& palette = {})
{
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
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colourType,
        interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    std::vector<png_bytep> pointers;
    for (const auto& row : rows)
        pointers.push_back(const_cast<png_bytep>(row.data()));
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct FormatCase {
    const char* name;
    int colourType, bitDepth;
    bool interlaced;
    int bitsPerPixel;
};

std::ostream& operator<<(std::ostream& os, const FormatCase& c)
{
    return os << c.name;
}

class PngFormats : public ::testing::TestWithParam<FormatCase> { };

// Every kind of PNG loads at its own depth and shows the same colours: sample value
// v(x, y) = (x * 40 + y * 7) & mask, grey where the file has no colour.
TEST_P(PngFormats, LoadWithTheirOwnDepth)
{
    const FormatCase& c = GetParam();
    const int width = 5, height = 3;
    const bool palette = c.colourType == PNG_COLOR_TYPE_PALETTE;
    const int channels = palette                    ? 1
        : c.colourType == PNG_COLOR_TYPE_GRAY       ? 1
        : c.colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
        : c.colourType == PNG_COLOR_TYPE_RGB        ? 3
                                                    : 4;
    const unsigned mask = (1u << std::min(c.bitDepth, 8)) - 1;
    const auto sample = [&](int x, int y, int ch) { return unsigned(x * 40 + y * 7 + ch * 3) & mask; };
    std::vector<std::vector<std::uint8_t>> rows;
    for (int y = 0; y < height; ++y) {
        std::vector<std::uint8_t> row(std::size_t(width * channels * c.bitDepth + 7) / 8);
        for (int x = 0; x < width; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                const unsigned v = sample(x, y, ch);
                const std::size_t i = std::size_t(x * channels + ch);
                if (c.bitDepth == 16) {
                    row[2 * i] = std::uint8_t(v), row[2 * i + 1] = std::uint8_t(v); // 0xvv.vv scales to 0xvv
                } else if (c.bitDepth == 8) {
                    row[i] = std::uint8_t(v);
                } else {
                    const int perByte = 8 / c.bitDepth;
                    row[i / std::size_t(perByte)]
                        |= std::uint8_t(v << (8 - c.bitDepth * (1 + int(i) % perByte)));
                }
            }
        rows.push_back(row);
    }
    std::vector<png_color> colours;
    if (palette)
        for (unsigned i = 0; i <= mask; ++i)
            colours.push_back({png_byte(i * 3), png_byte(255 - i), png_byte(i)});

    PictureRef p = decodePng(makePng(width, height, c.colourType, c.bitDepth, c.interlaced, rows, colours));
    EXPECT_EQ(p->bitsPerPixel(), c.bitsPerPixel);
    EXPECT_EQ(is24Bit(p.get()), c.bitsPerPixel == 24);
    EXPECT_FALSE(p->topDown());
    ASSERT_EQ(p->width(), width);
    ASSERT_EQ(p->height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned r, g, b;
            if (palette) {
                const png_color& pc = colours[sample(x, y, 0)];
                r = pc.red, g = pc.green, b = pc.blue;
            } else if (channels <= 2) {
                // Grey below 8 bits is stretched to 0..255.
                r = g = b = sample(x, y, 0) * 255 / mask;
            } else {
                r = sample(x, y, 0), g = sample(x, y, 1), b = sample(x, y, 2);
            }
            const std::uint8_t* px = pixelAt(*p, x, y);
            EXPECT_EQ(px[0], b) << x << "," << y;
            EXPECT_EQ(px[1], g) << x << "," << y;
            EXPECT_EQ(px[2], r) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngFormats,
    ::testing::Values(FormatCase{"Rgb8", PNG_COLOR_TYPE_RGB, 8, false, 24},
        FormatCase{"Rgb8Interlaced", PNG_COLOR_TYPE_RGB, 8, true, 24},
        FormatCase{"Rgba8", PNG_COLOR_TYPE_RGBA, 8, false, 32},
        FormatCase{"Rgb16", PNG_COLOR_TYPE_RGB, 16, false, 48},
        FormatCase{"Rgba16", PNG_COLOR_TYPE_RGBA, 16, true, 64},
        FormatCase{"Grey1", PNG_COLOR_TYPE_GRAY, 1, false, 1},
        FormatCase{"Grey4", PNG_COLOR_TYPE_GRAY, 4, true, 4},
        FormatCase{"Grey8", PNG_COLOR_TYPE_GRAY, 8, false, 8},
        FormatCase{"Grey16", PNG_COLOR_TYPE_GRAY, 16, false, 16},
        FormatCase{"GreyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 16},
        FormatCase{"Palette2", PNG_COLOR_TYPE_PALETTE, 2, false, 2},
        FormatCase{"Palette8", PNG_COLOR_TYPE_PALETTE, 8, true, 8}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

class PngRoundTrip : public ::testing::TestWithParam<std::pair<int, int>> { };

TEST_P(PngRoundTrip, IsLossless)
{
    const auto [width, height] = GetParam();
    for (bool topDown : {false, true}) {
        PictureRef p = test::patternPicture(width, height, topDown);
        const std::vector<std::uint8_t> file = encodePng(*p);
        ASSERT_GT(file.size(), 8u);
        EXPECT_EQ(std::memcmp(file.data(), "\x89PNG\r\n\x1a\n", 8), 0);
        PictureRef back = decodePng(file);
        EXPECT_EQ(back->bitsPerPixel(), 24);
        ASSERT_EQ(back->width(), width);
        ASSERT_EQ(back->height(), height);
        for (int y = 0; y < height; ++y)
            EXPECT_EQ(std::memcmp(pixelAt(*back, 0, y), pixelAt(*p, 0, y), 3 * std::size_t(width)), 0) << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PngRoundTrip,
    ::testing::Values(
        std::pair{1, 1}, std::pair{2, 3}, std::pair{3, 2}, std::pair{5, 7}, std::pair{127, 64}));

void fixChunkCrc(std::vector<std::uint8_t>& file, std::size_t chunkStart)
{
    const std::uint32_t length = std::uint32_t(file[chunkStart]) << 24 | file[chunkStart + 1] << 16
        | file[chunkStart + 2] << 8 | file[chunkStart + 3];
    const uLong crc = crc32(0, file.data() + chunkStart + 4, uInt(length + 4));
    for (int i = 0; i < 4; ++i)
        file[chunkStart + 8 + length + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
}

int decodeError(const std::vector<std::uint8_t>& file, std::string* text = nullptr)
{
    try {
        decodePng(file);
    } catch (const Error& e) {
        if (text) *text = e.what();
        return e.number();
    }
    return 0;
}

TEST(PngDecoder, HugeHeaderIsRefusedBeforeAllocating)
{
    for (auto [width, height] :
        {std::pair{100000u, 100000u}, {0x7fffffffu, 1u}, {1u, 0x7fffffffu}, {200000000u, 1u}}) {
        std::vector<std::uint8_t> file = encodePng(*test::patternPicture(2, 2));
        // IHDR data starts at byte 16: width, height, big-endian.
        for (int i = 0; i < 4; ++i) {
            file[16 + std::size_t(i)] = std::uint8_t(width >> (24 - 8 * i));
            file[20 + std::size_t(i)] = std::uint8_t(height >> (24 - 8 * i));
        }
        fixChunkCrc(file, 8);
        std::string text;
        EXPECT_EQ(decodeError(file, &text), err::InvalidPicture) << width << " x " << height;
        EXPECT_NE(text.find("limit"), std::string::npos) << text;
    }
}

TEST(PngDecoder, HeaderLargerThanTheDataCouldHoldIsRefused)
{
    std::vector<std::uint8_t> file = encodePng(*test::patternPicture(2, 2));
    for (int i = 0; i < 4; ++i)
        file[16 + std::size_t(i)] = file[20 + std::size_t(i)] = std::uint8_t(16000 >> (24 - 8 * i));
    fixChunkCrc(file, 8);
    std::string text;
    EXPECT_EQ(decodeError(file, &text), err::InvalidPicture);
    EXPECT_NE(text.find("too short for 16000 x 16000"), std::string::npos) << text;
}

TEST(PngDecoder, DamagedFilesAreRefused)
{
    const std::vector<std::uint8_t> good = encodePng(*test::patternPicture(37, 21));
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + std::ptrdiff_t(n));
        ASSERT_EQ(decodeError(cut), err::InvalidPicture) << "cut to " << n;
    }
    for (std::size_t at = 8; at < good.size(); at += 5) {
        std::vector<std::uint8_t> bad = good;
        bad[at] ^= 0x55;
        const int number = decodeError(bad);
        EXPECT_TRUE(number == err::InvalidPicture) << "byte " << at << " gave " << number;
    }
    std::string text;
    decodeError(std::vector<std::uint8_t>(good.begin(), good.end() - 30), &text);
    EXPECT_EQ(text.rfind("Invalid picture: PNG: ", 0), 0u) << text;
}

} // namespace
} // namespace pelinor
