#include "image/image_io.h"
#include "image_test_util.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <jpeglib.h>

namespace pelinor {
namespace {

using test::pixelAt;

// A smooth picture: JPEG's errors on it are small and measurable.
PictureRef smoothPicture(int width, int height, bool topDown = false)
{
    PictureRef p = Picture::create(width, height, 24, topDown);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* px = p->bits() + std::size_t(p->storedRow(y)) * p->stride() + 3 * std::size_t(x);
            px[0] = std::uint8_t(40 + 150 * x / width);
            px[1] = std::uint8_t(200 - 150 * y / height);
            px[2] = std::uint8_t(60 + 100 * (x + y) / (width + height));
        }
    return p;
}

double meanError(const Picture& a, const Picture& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int i = 0; i < 3 * a.width(); ++i)
            sum += std::abs(pixelAt(a, 0, y)[i] - pixelAt(b, 0, y)[i]);
    return sum / (3.0 * a.width() * a.height());
}

class JpegRoundTrip : public ::testing::TestWithParam<std::pair<int, int>> { };

TEST_P(JpegRoundTrip, StaysCloseAndUpright)
{
    const auto [width, height] = GetParam();
    for (bool topDown : {false, true}) {
        PictureRef p = smoothPicture(width, height, topDown);
        const std::vector<std::uint8_t> file = encodeJpeg(*p);
        ASSERT_GE(file.size(), 3u);
        EXPECT_EQ(std::memcmp(file.data(), "\xff\xd8\xff", 3), 0);
        PictureRef back = decodeJpeg(file);
        EXPECT_EQ(back->bitsPerPixel(), 24);
        EXPECT_FALSE(back->topDown());
        ASSERT_EQ(back->width(), width);
        ASSERT_EQ(back->height(), height);
        EXPECT_LT(meanError(*back, *p), 3.0);
        // Orientation: the top-left corner stays top-left.
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(pixelAt(*back, 0, 0)[c], pixelAt(*p, 0, 0)[c], 12) << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, JpegRoundTrip,
    ::testing::Values(std::pair{1, 1}, std::pair{17, 9}, std::pair{33, 16}, std::pair{127, 64}));

TEST(JpegEncoder, QualityDecidesSizeAndError)
{
    PictureRef p = test::patternPicture(64, 48);
    const std::vector<std::uint8_t> low = encodeJpeg(*p, 20), standard = encodeJpeg(*p),
                                    high = encodeJpeg(*p, 100);
    EXPECT_LT(low.size(), standard.size());
    EXPECT_LT(standard.size(), high.size());
    EXPECT_EQ(encodeJpeg(*p, 90), standard); // 90 is the default
    EXPECT_GT(meanError(*decodeJpeg(low), *p), meanError(*decodeJpeg(high), *p));
    for (int bad : {0, -5, 101}) {
        try {
            encodeJpeg(*p, bad);
            FAIL() << bad;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::InvalidCall);
        }
    }
}

std::vector<std::uint8_t> greyJpeg(int width, int height)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(std::size_t(width), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            row[std::size_t(x)] = std::uint8_t(y * 255 / height);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

TEST(JpegDecoder, GreyFilesLoadAtEightBitsAndAreRefusedForWatermarking)
{
    PictureRef p = decodeJpeg(greyJpeg(16, 16));
    EXPECT_EQ(p->bitsPerPixel(), 8);
    EXPECT_FALSE(is24Bit(p.get()));
    const std::uint8_t* top = pixelAt(*p, 3, 0);
    const std::uint8_t* bottom = pixelAt(*p, 3, 15);
    EXPECT_EQ(top[0], top[1]);
    EXPECT_EQ(top[1], top[2]);
    EXPECT_LT(top[0], 20);
    EXPECT_GT(bottom[0], 220);
}

int decodeError(std::span<const std::uint8_t> file, std::string* text = nullptr)
{
    try {
        decodeJpeg(file);
    } catch (const Error& e) {
        if (text) *text = e.what();
        return e.number();
    }
    return 0;
}

TEST(JpegDecoder, DamagedFilesAreRefused)
{
    const std::vector<std::uint8_t> good = encodeJpeg(*test::patternPicture(40, 24));
    for (std::size_t n = 0; n + 2 < good.size(); ++n)
        ASSERT_EQ(decodeError(std::span(good.data(), n)), err::InvalidPicture) << "cut to " << n;
    std::string text;
    decodeError(std::span(good.data(), good.size() / 2), &text);
    EXPECT_EQ(text.rfind("Invalid picture: JPEG: ", 0), 0u) << text;
    // Damaged bytes either decode to something or are refused; nothing else.
    for (std::size_t at = 2; at < good.size(); at += 3) {
        std::vector<std::uint8_t> bad = good;
        bad[at] ^= 0xa5;
        const int number = decodeError(bad);
        EXPECT_TRUE(number == 0 || number == err::InvalidPicture) << at << ": " << number;
    }
}

TEST(JpegDecoder, HugeHeaderIsRefusedBeforeAllocating)
{
    std::vector<std::uint8_t> file = encodeJpeg(*test::patternPicture(8, 8));
    // Find the SOF0 marker and make the frame 65000 x 65000.
    std::size_t at = 2;
    while (at + 9 < file.size() && !(file[at] == 0xff && file[at + 1] == 0xc0))
        ++at;
    ASSERT_LT(at + 9, file.size());
    const auto setSize = [&](int width, int height) {
        file[at + 5] = std::uint8_t(height >> 8), file[at + 6] = std::uint8_t(height);
        file[at + 7] = std::uint8_t(width >> 8), file[at + 8] = std::uint8_t(width);
    };
    setSize(65000, 65000);
    std::string text;
    EXPECT_EQ(decodeError(file, &text), err::InvalidPicture);
    EXPECT_NE(text.find("limit"), std::string::npos) << text;
    // Within the limit, but far more blocks than the few bytes could code.
    setSize(16000, 16000);
    EXPECT_EQ(decodeError(file, &text), err::InvalidPicture);
    EXPECT_NE(text.find("too short for 16000 x 16000"), std::string::npos) << text;
}

} // namespace
} // namespace pelinor
