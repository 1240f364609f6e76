// PNG through libpng. libpng reports errors by longjmp, so every function that calls
// setjmp holds nothing with a destructor; the C++ objects live one frame up.
#include "base/error.h"
#include "image/image_io.h"

#include <csetjmp>
#include <cstring>
#include <new>
#include <png.h>
#include <string>

namespace pelinor {
namespace {

struct PngMessage {
    char text[200] = "";
};

[[noreturn]] void pngError(png_structp png, png_const_charp message)
{
    auto* out = static_cast<PngMessage*>(png_get_error_ptr(png));
    std::snprintf(out->text, sizeof out->text, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp)
{
}

struct MemoryInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length)
{
    auto* in = static_cast<MemoryInput*>(png_get_io_ptr(png));
    if (in->size - in->pos < length) png_error(png, "the file is truncated");
    std::memcpy(out, in->data + in->pos, length);
    in->pos += length;
}

// Owns the read structures; destroyed after the setjmp frames have returned.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMessage message;
    MemoryInput input{};
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

struct PngHeader {
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0, channels = 0;
};

bool readHeader(PngReader& r, PngHeader& h) noexcept
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_set_read_fn(r.png, &r.input, readFromMemory);
    // The pixel limit is checked by the caller; these stop absurd headers early.
    png_set_user_limits(r.png, 0x7fffffff, 0x7fffffff);
    png_set_chunk_malloc_max(r.png, 8 << 20);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Lets a fuzzer's mutations get past the checksums to the code behind them.
    png_set_crc_action(r.png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#endif
    png_read_info(r.png, r.info);
    h.width = png_get_image_width(r.png, r.info);
    h.height = png_get_image_height(r.png, r.info);
    h.bitDepth = png_get_bit_depth(r.png, r.info);
    h.colourType = png_get_color_type(r.png, r.info);
    h.channels = png_get_channels(r.png, r.info);
    return true;
}

// Whatever the file holds becomes 8-bit blue-green-red. libpng sizes its row buffers
// here, so this comes after the size check.
bool setUpTransforms(PngReader& r, const PngHeader& h) noexcept
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    if (h.colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
    if (h.colourType == PNG_COLOR_TYPE_GRAY && h.bitDepth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
    if (h.bitDepth == 16) png_set_scale_16(r.png);
    if (h.colourType == PNG_COLOR_TYPE_GRAY || h.colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(r.png);
    png_set_strip_alpha(r.png);
    png_set_bgr(r.png);
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    return png_get_rowbytes(r.png, r.info) == 3 * std::size_t(h.width);
}

bool readRows(PngReader& r, png_bytepp rows) noexcept
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_read_image(r.png, rows);
    png_read_end(r.png, nullptr);
    return true;
}

[[noreturn]] void invalid(const PngReader& r, const char* fallback)
{
    throw Error(err::InvalidPicture,
        std::string("Invalid picture: PNG: ") + (r.message.text[0] != '\0' ? r.message.text : fallback));
}

struct MemoryOutput {
    std::vector<std::uint8_t>* bytes;
};

void writeToMemory(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<MemoryOutput*>(png_get_io_ptr(png));
    try {
        out->bytes->insert(out->bytes->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void flushMemory(png_structp)
{
}

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMessage message;
    ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

bool writeImage(
    PngWriter& w, MemoryOutput& out, png_uint_32 width, png_uint_32 height, png_bytepp rows) noexcept
{
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_set_write_fn(w.png, &out, writeToMemory, flushMemory);
    png_set_IHDR(w.png, w.info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    png_set_bgr(w.png);
    png_write_image(w.png, rows);
    png_write_end(w.png, nullptr);
    return true;
}

} // namespace

PictureRef decodePng(std::span<const std::uint8_t> bytes)
{
    PngReader r;
    r.input = {bytes.data(), bytes.size(), 0};
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r.message, pngError, pngWarning);
    if (r.png != nullptr) r.info = png_create_info_struct(r.png);
    if (r.info == nullptr) throw Error(err::OutOfMemory, "Out of memory reading a PNG file");

    PngHeader h;
    if (!readHeader(r, h)) invalid(r, "unreadable header");
    // Source depth as stored: 1-8 palette, 1-16 grey, 16/32 grey with alpha, 24/48 RGB, 32/64 RGBA.
    const int bitsPerPixel = h.channels * h.bitDepth;
    // libpng's own row buffers hold up to 8 bytes a pixel.
    if (h.width > kMaxPixelBytes / 8 || !withinPixelLimit(h.width, h.height))
        throwOverPixelLimit(h.width, h.height);
    // Deflate expands at most 1032 to 1: a file too short for its rows would only make
    // us allocate the pixels to find that out.
    const std::uint64_t rawBytes
        = std::uint64_t(h.height) * (1 + (std::uint64_t(h.width) * unsigned(bitsPerPixel) + 7) / 8);
    if (rawBytes / 1032 > bytes.size())
        throw Error(err::InvalidPicture,
            "Invalid picture: PNG: the file is too short for " + sizeText(h.width, h.height) + " pixels");
    if (!setUpTransforms(r, h)) invalid(r, "unsupported pixel format");

    // Rows go in bottom-up, as from a BMP file, so that the same picture has the same
    // stored order whichever format it came from.
    PictureRef picture = Picture::create(int(h.width), int(h.height), bitsPerPixel, false);
    std::vector<png_bytep> rows(h.height);
    for (png_uint_32 y = 0; y < h.height; ++y)
        rows[y] = picture->bits() + std::size_t(picture->storedRow(int(y))) * picture->stride();
    if (!readRows(r, rows.data())) invalid(r, "damaged data");
    return picture;
}

std::vector<std::uint8_t> encodePng(const Picture& picture)
{
    PngWriter w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w.message, pngError, pngWarning);
    if (w.png != nullptr) w.info = png_create_info_struct(w.png);
    if (w.info == nullptr) throw Error(err::OutOfMemory, "Out of memory writing a PNG file");

    std::vector<png_bytep> rows(std::size_t(picture.height()));
    for (int y = 0; y < picture.height(); ++y)
        rows[std::size_t(y)]
            = const_cast<png_bytep>(picture.bits()) + std::size_t(picture.storedRow(y)) * picture.stride();
    std::vector<std::uint8_t> bytes;
    MemoryOutput out{&bytes};
    if (!writeImage(w, out, png_uint_32(picture.width()), png_uint_32(picture.height()), rows.data()))
        throw Error(err::OutOfMemory, std::string("Cannot write PNG: ") + w.message.text);
    return bytes;
}

} // namespace pelinor
