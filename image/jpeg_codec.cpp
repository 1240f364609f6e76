// JPEG through libjpeg-turbo. Its errors arrive by longjmp, so every function that calls
// setjmp holds nothing with a destructor; the C++ objects live one frame up.
#include "base/error.h"
#include "image/image_io.h"

#include <csetjmp>
#include <cstdio> // before jpeglib.h, which needs FILE and size_t
#include <cstdlib>
#include <jerror.h>
#include <jpeglib.h>
#include <string>

namespace pelinor {
namespace {

struct JpegErrors {
    jpeg_error_mgr base; // first, so that the library's pointer is ours
    std::jmp_buf jump;
    char text[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFail(j_common_ptr info)
{
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    errors->base.format_message(info, errors->text);
    std::longjmp(errors->jump, 1);
}

// A file cut short would be filled with grey; refuse it instead. Other warnings
// (stray bytes between markers and the like) are harmless.
void jpegMessage(j_common_ptr info, int level)
{
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) jpegFail(info);
}

void setUpErrors(JpegErrors& errors)
{
    jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegFail;
    errors.base.emit_message = jpegMessage;
    errors.text[0] = '\0';
}

struct JpegReader {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    // Safe on a structure that was never created: it is zero-filled.
    ~JpegReader() { jpeg_destroy_decompress(&info); }
};

bool readHeader(JpegReader& r, std::span<const std::uint8_t> bytes) noexcept
{
    if (setjmp(r.errors.jump)) return false;
    jpeg_create_decompress(&r.info);
    // Memory beyond the pixels (progressive coefficient buffers) is bounded as well.
    r.info.mem->max_memory_to_use = long(kMaxPixelBytes);
    jpeg_mem_src(&r.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&r.info, TRUE);
    return true;
}

bool readPixels(JpegReader& r, Picture& picture) noexcept
{
    if (setjmp(r.errors.jump)) return false;
    r.info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&r.info);
    if (r.info.output_components != 3 || int(r.info.output_width) != picture.width()
        || int(r.info.output_height) != picture.height())
        return false;
    while (r.info.output_scanline < r.info.output_height) {
        JSAMPROW row
            = picture.bits() + std::size_t(picture.storedRow(int(r.info.output_scanline))) * picture.stride();
        jpeg_read_scanlines(&r.info, &row, 1);
    }
    jpeg_finish_decompress(&r.info);
    return true;
}

struct JpegWriter {
    jpeg_compress_struct info{};
    JpegErrors errors{};
    unsigned char* buffer = nullptr; // from jpeg_mem_dest, which uses malloc
    unsigned long size = 0;
    ~JpegWriter()
    {
        jpeg_destroy_compress(&info);
        std::free(buffer);
    }
};

bool writeImage(JpegWriter& w, const Picture& picture, int quality) noexcept
{
    if (setjmp(w.errors.jump)) return false;
    jpeg_create_compress(&w.info);
    jpeg_mem_dest(&w.info, &w.buffer, &w.size);
    w.info.image_width = JDIMENSION(picture.width());
    w.info.image_height = JDIMENSION(picture.height());
    w.info.input_components = 3;
    w.info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&w.info);
    jpeg_set_quality(&w.info, quality, TRUE);
    jpeg_start_compress(&w.info, TRUE);
    while (w.info.next_scanline < w.info.image_height) {
        auto row = const_cast<JSAMPROW>(
            picture.bits() + std::size_t(picture.storedRow(int(w.info.next_scanline))) * picture.stride());
        jpeg_write_scanlines(&w.info, &row, 1);
    }
    jpeg_finish_compress(&w.info);
    return true;
}

} // namespace

PictureRef decodeJpeg(std::span<const std::uint8_t> bytes)
{
    JpegReader r;
    r.info.err = &r.errors.base;
    setUpErrors(r.errors);
    const auto invalid = [&](const std::string& why) {
        return Error(err::InvalidPicture,
            "Invalid picture: JPEG: " + (r.errors.text[0] != '\0' ? r.errors.text : why));
    };
    if (!readHeader(r, bytes)) throw invalid("unreadable header");
    const JDIMENSION width = r.info.image_width, height = r.info.image_height;
    if (!withinPixelLimit(width, height)) throwOverPixelLimit(width, height);
    // Huffman coding spends at least one bit on every block of a scan, and no block
    // covers more than 32 x 32 pixels: a file shorter than that is cut off, and finding
    // out by decoding would first allocate all of its pixels.
    const std::uint64_t minimumBlocks
        = (std::uint64_t(width) + 31) / 32 * ((std::uint64_t(height) + 31) / 32);
    if (!r.info.arith_code && bytes.size() < minimumBlocks / 8)
        throw Error(err::InvalidPicture,
            "Invalid picture: JPEG: the file is too short for " + sizeText(width, height) + " pixels");
    const J_COLOR_SPACE space = r.info.jpeg_color_space;
    if (space != JCS_GRAYSCALE && space != JCS_YCbCr && space != JCS_RGB)
        throw invalid("CMYK and other four-channel JPEG files are not supported");
    PictureRef picture = Picture::create(int(width), int(height), 8 * r.info.num_components, false);
    if (!readPixels(r, *picture)) throw invalid("damaged data");
    return picture;
}

std::vector<std::uint8_t> encodeJpeg(const Picture& picture, int quality)
{
    if (quality < 1 || quality > 100)
        throw Error(err::InvalidCall,
            "Invalid procedure call: JPEG quality " + std::to_string(quality) + " is not 1 to 100");
    if (picture.width() > JPEG_MAX_DIMENSION || picture.height() > JPEG_MAX_DIMENSION)
        throw Error(err::InvalidCall,
            "Invalid procedure call: a JPEG file holds at most " + sizeText(65500, 65500) + " pixels");
    JpegWriter w;
    w.info.err = &w.errors.base;
    setUpErrors(w.errors);
    if (!writeImage(w, picture, quality))
        throw Error(err::PathAccess, std::string("Cannot write JPEG: ") + w.errors.text);
    return std::vector<std::uint8_t>(w.buffer, w.buffer + w.size);
}

} // namespace pelinor
