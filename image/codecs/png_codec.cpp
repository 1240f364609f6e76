// PNG through libpng. libpng reports errors by longjmp, so every function that calls
// setjmp holds nothing with a destructor; the C++ objects live one frame up.
#include "base/error.h"
#include "image/codecs/codecs.h"

#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <png.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace pelinor {
namespace {

struct PngMessage {
    char text[200] = "";
    char warning[200] = "";
};

[[noreturn]] void pngError(png_structp png, png_const_charp message)
{
    auto* out = static_cast<PngMessage*>(png_get_error_ptr(png));
    std::snprintf(out->text, sizeof out->text, "%s", message);
    png_longjmp(png, 1);
}

// Warnings about damaged or oversized ancillary chunks: the chunk is dropped and the
// last such message is reported with the picture.
void pngWarning(png_structp png, png_const_charp message)
{
    auto* out = static_cast<PngMessage*>(png_get_error_ptr(png));
    std::snprintf(out->warning, sizeof out->warning, "%s", message);
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

// The text chunks (tEXt, zTXt, iTXt), which we read ourselves: libpng bounds each chunk
// but not their sum, so ten compressed chunks of a few kilobytes could inflate to gigabytes.
// All of them together inflate to at most kMaxMetadataBlock bytes and number at most
// kMaxTextChunks; what lies beyond is dropped with a note naming it.
constexpr std::size_t kMaxTextChunks = 1000;

struct TextChunks {
    std::vector<std::pair<std::string, std::string>> entries; // keyword, text
    std::size_t bytes = 0; // kept so far
    std::size_t overBudget = 0; // chunks dropped for the total
    std::size_t overCount = 0; // chunks dropped for their number
    bool damaged = false;
};

// Inflates a zlib stream into `out`, giving up past `room` bytes. False when the stream is
// damaged or would not fit.
bool inflateInto(
    const std::uint8_t* data, std::size_t size, std::size_t room, std::string& out, bool& tooLarge)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    char buffer[65536];
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = sizeof buffer - z.avail_out;
        if (out.size() + got > room) {
            tooLarge = true;
            break;
        }
        out.append(buffer, got);
    }
    inflateEnd(&z);
    return !tooLarge && status == Z_STREAM_END;
}

// libpng's callback for the chunks it hands over as unknown: the three text chunks.
int onTextChunk(png_structp png, png_unknown_chunkp chunk) noexcept
{
    auto* texts = static_cast<TextChunks*>(png_get_user_chunk_ptr(png));
    const std::string name(reinterpret_cast<const char*>(chunk->name), 4);
    if (name != "tEXt" && name != "zTXt" && name != "iTXt") return 0;
    try {
        if (texts->entries.size() >= kMaxTextChunks) {
            ++texts->overCount;
            return 1;
        }
        const std::uint8_t* p = chunk->data;
        const std::size_t size = chunk->size;
        const auto end = p + size;
        // An empty chunk comes with no data at all, not even a pointer to search.
        const auto* nul = size == 0 ? nullptr : static_cast<const std::uint8_t*>(std::memchr(p, 0, size));
        if (nul == nullptr || nul == p || nul - p > 79) {
            texts->damaged = true;
            return 1;
        }
        std::string keyword(reinterpret_cast<const char*>(p), std::size_t(nul - p));
        const std::uint8_t* body = nul + 1;
        bool compressed = name == "zTXt";
        if (name == "zTXt") {
            if (body >= end || *body != 0) { // method 0, deflate, is the only one
                texts->damaged = true;
                return 1;
            }
            ++body;
        } else if (name == "iTXt") {
            // Compression flag and method, then the language tag and the translated keyword.
            if (end - body < 2 || body[1] != 0) {
                texts->damaged = true;
                return 1;
            }
            compressed = body[0] != 0;
            body += 2;
            for (int field = 0; field < 2; ++field) {
                const auto* stop
                    = static_cast<const std::uint8_t*>(std::memchr(body, 0, std::size_t(end - body)));
                if (stop == nullptr) {
                    texts->damaged = true;
                    return 1;
                }
                body = stop + 1;
            }
        }
        const std::size_t room = kMaxMetadataBlock - std::min(texts->bytes, kMaxMetadataBlock);
        std::string text;
        bool tooLarge = false;
        if (compressed) {
            if (!inflateInto(body, std::size_t(end - body), room, text, tooLarge)) {
                if (tooLarge)
                    ++texts->overBudget;
                else
                    texts->damaged = true;
                return 1;
            }
        } else {
            if (std::size_t(end - body) > room) {
                ++texts->overBudget;
                return 1;
            }
            text.assign(reinterpret_cast<const char*>(body), std::size_t(end - body));
        }
        texts->bytes += text.size();
        texts->entries.emplace_back(std::move(keyword), std::move(text));
    } catch (const std::bad_alloc&) {
        ++texts->overBudget;
    }
    return 1;
}

// Owns the read structures; destroyed after the setjmp frames have returned.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMessage message;
    MemoryInput input{};
    TextChunks texts;
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

struct PngHeader {
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0, channels = 0;
    bool transparency = false; // a tRNS chunk
    bool greyPalette = false; // every palette entry is grey
};

bool readHeader(PngReader& r, PngHeader& h) noexcept
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_set_read_fn(r.png, &r.input, readFromMemory);
    // The pixel limit is checked by the caller; these stop absurd headers early. A
    // metadata chunk up to the carried limit is read (one over it is dropped with a warning).
    png_set_user_limits(r.png, 0x7fffffff, 0x7fffffff);
    png_set_chunk_malloc_max(r.png, kMaxMetadataBlock + 4096);
    static const png_byte kTextChunkNames[] = "tEXt\0zTXt\0iTXt";
    png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_ALWAYS, kTextChunkNames, 3);
    png_set_read_user_chunk_fn(r.png, &r.texts, onTextChunk);
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
    h.transparency = png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0;
    png_colorp palette = nullptr;
    int entries = 0;
    if (h.colourType == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(r.png, r.info, &palette, &entries) != 0) {
        h.greyPalette = entries > 0;
        for (int i = 0; i < entries; ++i)
            h.greyPalette
                = h.greyPalette && palette[i].red == palette[i].green && palette[i].green == palette[i].blue;
    }
    return true;
}

// 8-bit colour without transparency goes straight into the 24-bit memory.
bool isPlainRgb(const PngHeader& h) noexcept
{
    return h.colourType == PNG_COLOR_TYPE_RGB && h.bitDepth == 8 && !h.transparency;
}

// Plain RGB becomes blue-green-red; everything else is expanded to 8 or 16 bits per
// sample (palette to colour, low-depth grey to 8 bits, transparency to alpha) and read
// as it is. libpng sizes its row buffers here, so this comes after the size check.
bool setUpTransforms(PngReader& r, const PngHeader& h, int& channels, int& depth) noexcept
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    if (isPlainRgb(h)) {
        png_set_bgr(r.png);
    } else {
        if (h.colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
        if (h.colourType == PNG_COLOR_TYPE_GRAY && h.bitDepth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
        if (h.transparency) png_set_tRNS_to_alpha(r.png);
        if (h.bitDepth == 16 && std::endian::native == std::endian::little) png_set_swap(r.png);
    }
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    channels = png_get_channels(r.png, r.info);
    depth = png_get_bit_depth(r.png, r.info);
    return (depth == 8 || depth == 16) && channels >= 1 && channels <= 4
        && png_get_rowbytes(r.png, r.info) == std::size_t(channels) * std::size_t(depth / 8) * h.width;
}

bool readRows(PngReader& r, png_bytepp rows) noexcept
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_read_image(r.png, rows);
    // Chunks after the pixels (text, often) are kept as well.
    png_read_end(r.png, r.info);
    return true;
}

[[noreturn]] void invalid(const PngReader& r, const char* fallback)
{
    throw Error(err::InvalidPicture,
        std::string("Invalid picture: PNG: ") + (r.message.text[0] != '\0' ? r.message.text : fallback));
}

// "Raw profile type NAME" text: a line with the name, a line with the length, then hex digits.
std::vector<std::uint8_t> fromRawProfile(const char* text, std::size_t length)
{
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    int newlines = 0;
    while (i < length && newlines < 3)
        newlines += text[i++] == '\n';
    int high = -1;
    for (; i < length && out.size() <= kMaxMetadataBlock; ++i) {
        const char c = text[i];
        const int v = c >= '0' && c <= '9' ? c - '0'
            : c >= 'a' && c <= 'f'         ? c - 'a' + 10
            : c >= 'A' && c <= 'F'         ? c - 'A' + 10
                                           : -1;
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(std::uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

std::string toRawProfile(const char* name, const std::vector<std::uint8_t>& bytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text = std::string("\n") + name + "\n" + std::to_string(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 36 == 0) text += '\n';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    text += '\n';
    return text;
}

void readMetadata(PngReader& r, Picture& picture)
{
    Metadata& m = picture.metadata();
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(r.png, r.info, &name, &compression, &profile, &profileLength) != 0)
        m.icc.assign(profile, profile + profileLength);
#ifdef PNG_eXIf_SUPPORTED
    png_bytep exif = nullptr;
    png_uint_32 exifLength = 0;
    if (png_get_eXIf_1(r.png, r.info, &exifLength, &exif) != 0 && exif != nullptr)
        m.exif.assign(exif, exif + exifLength);
#endif
    for (const auto& [keyword, entry] : r.texts.entries) {
        // Text chunks hold no NUL of their own; what follows one is not text.
        const char* text = entry.c_str();
        const std::size_t length = std::strlen(text);
        if (keyword == "XML:com.adobe.xmp")
            m.xmp.assign(text, text + length);
        else if (keyword == "Raw profile type iptc")
            m.iptc = fromRawProfile(text, length);
        else if (keyword == "Raw profile type exif" || keyword == "Raw profile type APP1") {
            if (m.exif.empty()) {
                m.exif = fromRawProfile(text, length);
                if (m.exif.size() >= 6 && std::memcmp(m.exif.data(), "Exif\0\0", 6) == 0)
                    m.exif.erase(m.exif.begin(), m.exif.begin() + 6);
            }
        } else
            m.text.push_back({keyword, std::string(text, length)});
    }
    // libpng's other warnings are remarks about chunks it kept; a chunk over the limit is not kept.
    const std::string warning = r.message.warning;
    if (warning.find("too large") != std::string::npos || warning.find("memory") != std::string::npos
        || warning.find("truncated") != std::string::npos || warning.find("exceeds") != std::string::npos)
        picture.source().notes.push_back("PNG: " + warning + "; that chunk was dropped");
    const TextChunks& t = r.texts;
    if (t.overBudget > 0)
        picture.source().notes.push_back("PNG: " + std::to_string(t.overBudget)
            + " text chunk(s) dropped: all text together may take at most "
            + std::to_string(kMaxMetadataBlock >> 20) + " MiB");
    if (t.overCount > 0)
        picture.source().notes.push_back("PNG: " + std::to_string(t.overCount)
            + " text chunk(s) dropped beyond the first " + std::to_string(kMaxTextChunks));
    if (t.damaged) picture.source().notes.push_back("PNG: a damaged text chunk was dropped");
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

// What goes into the file besides the pixels; the strings are owned here, libpng copies them.
struct PngExtras {
    const Metadata* metadata = nullptr;
    std::vector<png_text> texts;
    std::string iptcText;
    std::string xmpText;
};

// Every row is made by `makeRow` into libpng's input form just before it is written, so
// no second copy of the picture is held.
struct RowSource {
    const Picture* picture;
    std::vector<png_byte> row;
    png_bytep make(int y);
};

png_bytep RowSource::make(int y)
{
    const Picture& p = *picture;
    const SampleFormat& f = p.sampleFormat();
    const std::size_t stored = std::size_t(p.storedRow(y));
    const std::size_t w = std::size_t(p.width());
    if (f.depth == 8 && f.colours == 3 && !f.alpha)
        return const_cast<png_bytep>(p.bits()) + stored * p.stride(); // written with png_set_bgr
    const std::uint8_t* bgr = p.bits() + stored * p.stride();
    if (f.depth == 8) {
        const std::uint8_t* alpha = p.alpha8() ? p.alpha8() + stored * w : nullptr;
        std::size_t k = 0;
        for (std::size_t x = 0; x < w; ++x) {
            if (f.colours == 1) {
                row[k++] = bgr[3 * x];
            } else {
                row[k++] = bgr[3 * x + 2];
                row[k++] = bgr[3 * x + 1];
                row[k++] = bgr[3 * x];
            }
            if (f.alpha) row[k++] = alpha ? alpha[x] : 255;
        }
    } else {
        const std::size_t n = w * std::size_t(f.channels());
        const std::uint16_t* src = p.samples16() + stored * n;
        for (std::size_t i = 0; i < n; ++i) { // PNG is big-endian
            row[2 * i] = png_byte(src[i] >> 8);
            row[2 * i + 1] = png_byte(src[i] & 0xff);
        }
    }
    return row.data();
}

bool writeImage(PngWriter& w, MemoryOutput& out, RowSource& rows, PngExtras& extras) noexcept
{
    if (setjmp(png_jmpbuf(w.png))) return false;
    const Picture& p = *rows.picture;
    const SampleFormat& f = p.sampleFormat();
    const int type
        = (f.colours == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB) | (f.alpha ? PNG_COLOR_MASK_ALPHA : 0);
    png_set_write_fn(w.png, &out, writeToMemory, flushMemory);
    png_set_IHDR(w.png, w.info, png_uint_32(p.width()), png_uint_32(p.height()), f.depth, type,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const Metadata& m = *extras.metadata;
    // A chunk libpng finds fault with is left out (with a warning) rather than failing the file.
    png_set_benign_errors(w.png, 1);
    if (pngTakesProfile(m.icc, f.colours == 1))
        png_set_iCCP(
            w.png, w.info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, m.icc.data(), png_uint_32(m.icc.size()));
#ifdef PNG_eXIf_SUPPORTED
    if (!m.exif.empty())
        png_set_eXIf_1(w.png, w.info, png_uint_32(m.exif.size()), const_cast<png_bytep>(m.exif.data()));
#endif
    if (!extras.texts.empty()) png_set_text(w.png, w.info, extras.texts.data(), int(extras.texts.size()));
    png_write_info(w.png, w.info);
    if (f.depth == 8 && f.colours == 3 && !f.alpha) png_set_bgr(w.png);
    for (int y = 0; y < p.height(); ++y)
        png_write_row(w.png, rows.make(y));
    png_write_end(w.png, nullptr);
    return true;
}

} // namespace

bool pngTakesProfile(const std::vector<std::uint8_t>& icc, bool grey)
{
    if (icc.size() < 132 || icc.size() > 0x7fffffff) return false;
    const std::uint32_t length
        = std::uint32_t(icc[0]) << 24 | std::uint32_t(icc[1]) << 16 | std::uint32_t(icc[2]) << 8 | icc[3];
    const std::uint32_t tags = std::uint32_t(icc[128]) << 24 | std::uint32_t(icc[129]) << 16
        | std::uint32_t(icc[130]) << 8 | icc[131];
    return length == icc.size() && std::memcmp(&icc[36], "acsp", 4) == 0
        && std::memcmp(&icc[16], grey ? "GRAY" : "RGB ", 4) == 0
        && (std::memcmp(&icc[20], "XYZ ", 4) == 0 || std::memcmp(&icc[20], "Lab ", 4) == 0) && icc[67] < 4
        && tags <= (icc.size() - 132) / 12;
}

namespace {

png_text textChunk(const char* keyword, const char* text, std::size_t length, bool international)
{
    png_text t{};
    t.compression = international ? PNG_ITXT_COMPRESSION_NONE
                                  : (length > 1024 ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE);
    t.key = const_cast<png_charp>(keyword);
    t.text = const_cast<png_charp>(text);
    if (international)
        t.itxt_length = length;
    else
        t.text_length = length;
    return t;
}

bool isAscii(const std::string& s)
{
    for (const unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

} // namespace

namespace {

// Every chunk must lie inside the file: libpng sizes a chunk's buffer from its length
// field before reading it, so a few bytes claiming a gigabyte of text would cost that
// much memory only to find the file short.
void checkChunkLengths(std::span<const std::uint8_t> bytes)
{
    std::size_t at = 8;
    while (bytes.size() >= 12 && at <= bytes.size() - 12) {
        const std::uint32_t length = std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16
            | std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length > bytes.size() - at - 12)
            throw Error(err::InvalidPicture,
                "Invalid picture: PNG: a chunk of " + std::to_string(length)
                    + " bytes runs past the end of the file");
        if (std::memcmp(bytes.data() + at + 4, "IEND", 4) == 0) return;
        at += 12 + std::size_t(length);
    }
}

} // namespace

PictureRef decodePng(std::span<const std::uint8_t> bytes, const PixelLimit& limit)
{
    checkChunkLengths(bytes);
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
    checkPixelBudget(h.width, h.height, limit);
    int channels = 0, depth = 0;
    if (!setUpTransforms(r, h, channels, depth)) invalid(r, "unsupported pixel format");

    // Rows go in bottom-up, as from a BMP file, so that the same picture has the same
    // stored order whichever format it came from.
    PictureRef picture = Picture::create(int(h.width), int(h.height), bitsPerPixel, false);
    std::vector<png_bytep> rows(h.height);
    if (isPlainRgb(h)) {
        for (png_uint_32 y = 0; y < h.height; ++y)
            rows[y] = picture->bits() + std::size_t(picture->storedRow(int(y))) * picture->stride();
        if (!readRows(r, rows.data())) invalid(r, "damaged data");
    } else {
        const std::size_t rowBytes = std::size_t(channels) * std::size_t(depth / 8) * h.width;
        std::vector<png_byte> samples = allocateElements<png_byte>(rowBytes, h.height);
        for (png_uint_32 y = 0; y < h.height; ++y)
            rows[y] = samples.data() + std::size_t(picture->storedRow(int(y))) * rowBytes;
        if (!readRows(r, rows.data())) invalid(r, "damaged data");
        SampleFormat f;
        f.alpha = channels == 2 || channels == 4;
        f.colours = channels >= 3 && !h.greyPalette ? 3 : 1;
        f.depth = depth;
        f.palette = h.colourType == PNG_COLOR_TYPE_PALETTE;
        picture->setSampleFormat(f);
        // A grey palette expands to equal red, green and blue: red is the grey.
        const std::size_t w = h.width, step = std::size_t(channels);
        for (png_uint_32 y = 0; y < h.height; ++y) {
            const png_byte* src = samples.data() + std::size_t(y) * rowBytes;
            std::uint8_t* bgr = picture->bits() + std::size_t(y) * picture->stride();
            if (depth == 16) {
                const auto* in = reinterpret_cast<const std::uint16_t*>(src);
                std::uint16_t* out = picture->samples16() + std::size_t(y) * w * std::size_t(f.channels());
                for (std::size_t x = 0; x < w; ++x, in += step) {
                    *out++ = in[0];
                    if (f.colours == 3) *out++ = in[1], *out++ = in[2];
                    if (f.alpha) *out++ = in[step - 1];
                }
                continue;
            }
            std::uint8_t* alpha = f.alpha ? picture->alpha8() + std::size_t(y) * w : nullptr;
            for (std::size_t x = 0; x < w; ++x, src += step) {
                if (channels >= 3) {
                    bgr[3 * x] = src[2], bgr[3 * x + 1] = src[1], bgr[3 * x + 2] = src[0];
                } else {
                    bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = src[0];
                }
                if (alpha) alpha[x] = src[step - 1];
            }
        }
        if (depth == 16) picture->refreshFromSamples16();
    }
    readMetadata(r, *picture);
    picture->source().known = true;
    picture->source().format = ImageFormat::Png;
    return picture;
}

std::vector<std::uint8_t> encodePng(const Picture& picture)
{
    PngWriter w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w.message, pngError, pngWarning);
    if (w.png != nullptr) w.info = png_create_info_struct(w.png);
    if (w.info == nullptr) throw Error(err::OutOfMemory, "Out of memory writing a PNG file");

    const SampleFormat& f = picture.sampleFormat();
    RowSource rows{&picture, {}};
    rows.row.resize(std::size_t(picture.width()) * std::size_t(f.channels()) * std::size_t(f.depth / 8));
    PngExtras extras;
    const Metadata& m = picture.metadata();
    extras.metadata = &m;
    // XMP goes into iTXt as its standard says; IPTC as the hex "raw profile" most tools read.
    if (!m.xmp.empty()) {
        // libpng measures every text with strlen: each one is handed over with its NUL.
        extras.xmpText.assign(m.xmp.begin(), m.xmp.end());
        extras.texts.push_back(
            textChunk("XML:com.adobe.xmp", extras.xmpText.c_str(), extras.xmpText.size(), true));
    }
    if (!m.iptc.empty()) {
        extras.iptcText = toRawProfile("iptc", m.iptc);
        extras.texts.push_back(
            textChunk("Raw profile type iptc", extras.iptcText.data(), extras.iptcText.size(), false));
    }
    for (const TextEntry& t : m.text) {
        if (t.keyword.empty() || t.keyword.size() > 79) continue;
        extras.texts.push_back(textChunk(t.keyword.c_str(), t.text.data(), t.text.size(), !isAscii(t.text)));
    }
    std::vector<std::uint8_t> bytes;
    MemoryOutput out{&bytes};
    if (!writeImage(w, out, rows, extras))
        throw Error(err::OutOfMemory, std::string("Cannot write PNG: ") + w.message.text);
    return bytes;
}

} // namespace pelinor
