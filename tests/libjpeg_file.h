// JPEG files written through libjpeg itself, for what encodeJpeg does not write: grey and
// CMYK files, progressive and arithmetic coding.
#pragma once

#include <cstdint>
#include <cstdio> // before jpeglib.h
#include <cstdlib>
#include <functional>
#include <jpeglib.h>
#include <vector>

namespace pelinor::test {

// A width x height JPEG of `components` samples a pixel in `space`. `configure` adjusts the
// compressor after its defaults; `row(y)` gives the samples of row y, top row first.
inline std::vector<std::uint8_t> libjpegFile(int width, int height, int components, J_COLOR_SPACE space,
    const std::function<void(jpeg_compress_struct&)>& configure,
    const std::function<const JSAMPLE*(int y)>& row)
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
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    if (configure) configure(info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto samples = const_cast<JSAMPROW>(row(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &samples, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

} // namespace pelinor::test
