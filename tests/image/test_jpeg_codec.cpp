#include "image/image_io.h"
#include "image_test_util.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <jpeglib.h>

namespace pelinor {
namespace {

// A grey 16 x 16 JPEG, dark at the top and light at the bottom, written by libjpeg itself.
std::vector<std::uint8_t> greyJpeg()
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = info.image_height = 16;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < 16; ++y) {
        std::vector<JSAMPLE> row(16, JSAMPLE(y * 16));
        JSAMPROW rowPointer = row.data();
        jpeg_write_scanlines(&info, &rowPointer, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

TEST(JpegDecoder, GreyFilesKeepTheirDepth)
{
    PictureRef p = decodeJpeg(greyJpeg());
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
