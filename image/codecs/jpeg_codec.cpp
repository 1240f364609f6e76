// JPEG through libjpeg-turbo. Its errors arrive by longjmp, so every function that calls
// setjmp holds nothing with a destructor; the C++ objects live one frame up.
#include "base/error.h"
#include "image/codecs/codecs.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio> // before jpeglib.h, which needs FILE and size_t
#include <cstdlib>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>
#include <string>
#include <vector>

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

// A file cut short would be filled with grey; refuse it instead: the end of the file, or
// scan data that stops at a marker (a truncated scan followed by EOI) before the blocks it
// owes. A progression that breaks the rules (AC before DC) is refused as well, so that every
// accepted Huffman-coded file spends at least a bit a block (see decodeJpeg). Other warnings
// (stray bytes between markers and the like) are harmless.
void jpegMessage(j_common_ptr info, int level)
{
    if (level >= 0) return;
    const int code = info->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_BOGUS_PROGRESSION) jpegFail(info);
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
    // Metadata markers are kept whole; each is at most 64 KiB and all of them lie in the file.
    jpeg_save_markers(&r.info, JPEG_COM, 0xffff);
    for (int n = 1; n <= 15; ++n)
        jpeg_save_markers(&r.info, JPEG_APP0 + n, 0xffff);
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

constexpr char kExifPrefix[] = "Exif\0"; // and one more NUL: six bytes
constexpr std::size_t kExifPrefixSize = 6;
constexpr char kXmpPrefix[] = "http://ns.adobe.com/xap/1.0/"; // with its NUL: 29 bytes
constexpr std::size_t kXmpPrefixSize = 29;
constexpr char kPhotoshopPrefix[] = "Photoshop 3.0"; // with its NUL: 14 bytes
constexpr std::size_t kPhotoshopPrefixSize = 14;
// Room in one marker after its length field.
constexpr std::size_t kMarkerRoom = 65533;
// An ICC profile goes in APP2 markers of at most 65519 bytes each, numbered in one byte: at
// most 255 of them (libjpeg's writer would let the count wrap, and nothing could read it back).
constexpr std::size_t kIccMarkerBytes = 65519;
constexpr std::size_t kMaxJpegIcc = 255 * kIccMarkerBytes;

bool hasPrefix(const jpeg_marker_struct* m, const char* prefix, std::size_t size)
{
    return m->data_length >= size && std::memcmp(m->data, prefix, size) == 0;
}

std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The IPTC records (resource 0x0404) among a Photoshop marker's "8BIM" resources.
std::vector<std::uint8_t> iptcFromPhotoshop(const std::uint8_t* data, std::size_t size)
{
    std::size_t at = kPhotoshopPrefixSize;
    while (at + 12 <= size && std::memcmp(data + at, "8BIM", 4) == 0) {
        const unsigned id = unsigned(data[at + 4]) << 8 | data[at + 5];
        std::size_t name = 1 + std::size_t(data[at + 6]); // Pascal string, padded to even
        name += name & 1;
        const std::size_t lengthAt = at + 6 + name;
        if (lengthAt + 4 > size) break;
        const std::size_t length = bigEndian32(data + lengthAt);
        const std::size_t start = lengthAt + 4;
        if (length > size - start) break;
        if (id == 0x0404) return std::vector<std::uint8_t>(data + start, data + start + length);
        at = start + length + (length & 1);
    }
    return {};
}

void readMetadata(JpegReader& r, Picture& picture)
{
    Metadata& m = picture.metadata();
    for (const jpeg_marker_struct* marker = r.info.marker_list; marker != nullptr; marker = marker->next) {
        const std::uint8_t* data = marker->data;
        const std::size_t size = marker->data_length;
        if (marker->marker == JPEG_APP0 + 1 && hasPrefix(marker, kExifPrefix, kExifPrefixSize)) {
            if (m.exif.empty()) m.exif.assign(data + kExifPrefixSize, data + size);
        } else if (marker->marker == JPEG_APP0 + 1 && hasPrefix(marker, kXmpPrefix, kXmpPrefixSize)) {
            if (m.xmp.empty()) m.xmp.assign(data + kXmpPrefixSize, data + size);
        } else if (marker->marker == JPEG_APP0 + 13
            && hasPrefix(marker, kPhotoshopPrefix, kPhotoshopPrefixSize)) {
            if (m.iptc.empty()) m.iptc = iptcFromPhotoshop(data, size);
        } else if (marker->marker == JPEG_COM) {
            m.text.push_back({"Comment", std::string(reinterpret_cast<const char*>(data), size)});
        }
    }
    // The profile may be split over several markers; libjpeg-turbo joins them.
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (jpeg_read_icc_profile(&r.info, &icc, &iccLength) && icc != nullptr) {
        m.icc.assign(icc, icc + iccLength);
    }
    std::free(icc);
}

// libjpeg's scaling of its standard tables by a quality of 1..100.
int scaledEntry(unsigned base, int quality)
{
    const long scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    return int(std::clamp((long(base) * scale + 50) / 100, 1L, 255L));
}

// The quality whose standard tables are nearest the file's (the sum of absolute
// differences over the luminance table, and the chrominance table when there is one).
int estimateQuality(const jpeg_decompress_struct& info)
{
    static const unsigned kLuminance[64] = {16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
        14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24,
        35, 55, 64, 81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static const unsigned kChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
        24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
        99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
    const JQUANT_TBL* luminance = info.quant_tbl_ptrs[0];
    if (luminance == nullptr) return 0;
    const JQUANT_TBL* chrominance = info.num_components > 1 ? info.quant_tbl_ptrs[1] : nullptr;
    int best = 0;
    long bestError = -1;
    for (int q = 1; q <= 100; ++q) {
        long error = 0;
        // The tables are stored in natural order, as the standard ones above.
        for (int i = 0; i < 64; ++i) {
            error += std::labs(long(luminance->quantval[i]) - scaledEntry(kLuminance[i], q));
            if (chrominance != nullptr)
                error += std::labs(long(chrominance->quantval[i]) - scaledEntry(kChrominance[i], q));
        }
        if (bestError < 0 || error < bestError) bestError = error, best = q;
    }
    return best;
}

Subsampling subsamplingOf(const jpeg_decompress_struct& info)
{
    if (info.num_components != 3) return Subsampling::None;
    const int h = info.comp_info[0].h_samp_factor / std::max(1, info.comp_info[1].h_samp_factor);
    const int v = info.comp_info[0].v_samp_factor / std::max(1, info.comp_info[1].v_samp_factor);
    if (h == 1 && v == 1) return Subsampling::S444;
    if (h == 2 && v == 1) return Subsampling::S422;
    return Subsampling::S420;
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

// The markers written after the frame header, prepared before the setjmp frame.
struct JpegMarkers {
    std::vector<std::uint8_t> exif, xmp, photoshop;
    const std::vector<std::uint8_t>* icc = nullptr;
    std::vector<std::string> comments;
};

void writeMarker(j_compress_ptr info, int code, const std::vector<std::uint8_t>& data)
{
    if (!data.empty()) jpeg_write_marker(info, code, data.data(), unsigned(data.size()));
}

bool writeImage(JpegWriter& w, const Picture& picture, int quality, Subsampling subsampling,
    const JpegMarkers& markers, JSAMPROW greyRow) noexcept
{
    if (setjmp(w.errors.jump)) return false;
    jpeg_create_compress(&w.info);
    jpeg_mem_dest(&w.info, &w.buffer, &w.size);
    const bool grey = greyRow != nullptr;
    w.info.image_width = JDIMENSION(picture.width());
    w.info.image_height = JDIMENSION(picture.height());
    w.info.input_components = grey ? 1 : 3;
    w.info.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&w.info);
    jpeg_set_quality(&w.info, quality, TRUE);
    if (!grey) {
        w.info.comp_info[0].h_samp_factor = subsampling == Subsampling::S444 ? 1 : 2;
        w.info.comp_info[0].v_samp_factor = subsampling == Subsampling::S420 ? 2 : 1;
    }
    // EXIF readers expect their marker first, where a JFIF header would otherwise be.
    if (!markers.exif.empty()) w.info.write_JFIF_header = FALSE;
    jpeg_start_compress(&w.info, TRUE);
    writeMarker(&w.info, JPEG_APP0 + 1, markers.exif);
    writeMarker(&w.info, JPEG_APP0 + 1, markers.xmp);
    if (markers.icc != nullptr && !markers.icc->empty())
        jpeg_write_icc_profile(&w.info, markers.icc->data(), unsigned(markers.icc->size()));
    writeMarker(&w.info, JPEG_APP0 + 13, markers.photoshop);
    for (const std::string& c : markers.comments)
        jpeg_write_marker(&w.info, JPEG_COM, reinterpret_cast<const JOCTET*>(c.data()), unsigned(c.size()));
    while (w.info.next_scanline < w.info.image_height) {
        auto row = const_cast<JSAMPROW>(
            picture.bits() + std::size_t(picture.storedRow(int(w.info.next_scanline))) * picture.stride());
        if (grey) {
            for (int x = 0; x < picture.width(); ++x)
                greyRow[x] = row[3 * x];
            row = greyRow;
        }
        jpeg_write_scanlines(&w.info, &row, 1);
    }
    jpeg_finish_compress(&w.info);
    return true;
}

} // namespace

PictureRef decodeJpeg(std::span<const std::uint8_t> bytes, const PixelLimit& limit)
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
    // Huffman coding, sequential or progressive, spends at least one bit on every block of a
    // scan (a progressive file's first scan of a component codes its DC, a symbol a block;
    // runs of empty blocks come only in later AC scans), and no block covers more than
    // 32 x 32 pixels (8 x 8 samples at a quarter of the largest sampling factor): a file
    // shorter than that is cut off, and finding out by decoding would first allocate all of
    // its pixels. Arithmetic coding has no such bound: a decision of the more probable value
    // leaves the code register as it is, the encoder drops the zero bytes that end its output,
    // so a flat picture of any size fits in a few dozen bytes. The pixel budget bounds those.
    const std::uint64_t minimumBlocks
        = (std::uint64_t(width) + 31) / 32 * ((std::uint64_t(height) + 31) / 32);
    if (!r.info.arith_code && bytes.size() < minimumBlocks / 8)
        throw Error(err::InvalidPicture,
            "Invalid picture: JPEG: the file is too short for " + sizeText(width, height) + " pixels");
    checkPixelBudget(width, height, limit);
    const J_COLOR_SPACE space = r.info.jpeg_color_space;
    if (space == JCS_CMYK || space == JCS_YCCK)
        throw Error(err::InvalidPicture,
            "Invalid picture: JPEG: CMYK pictures (print separations) are not supported; convert it to RGB "
            "first");
    if (space != JCS_GRAYSCALE && space != JCS_YCbCr && space != JCS_RGB)
        throw invalid("JPEG files of this colour space are not supported");
    PictureRef picture = Picture::create(int(width), int(height), 8 * r.info.num_components, false);
    if (space == JCS_GRAYSCALE) picture->setSampleFormat({1, false, 8, false});
    // The saved markers and the component descriptions live in the image's memory pool,
    // which finishing the decompression frees: everything is read from them first.
    readMetadata(r, *picture);
    SourceInfo& source = picture->source();
    source.known = true;
    source.format = ImageFormat::Jpeg;
    source.jpegQuality = estimateQuality(r.info);
    source.subsampling = subsamplingOf(r.info);
    if (!readPixels(r, *picture)) throw invalid("damaged data");
    return picture;
}

namespace {

std::vector<std::uint8_t> prefixed(
    const char* prefix, std::size_t prefixSize, const std::vector<std::uint8_t>& data)
{
    if (data.empty() || data.size() + prefixSize > kMarkerRoom) return {};
    std::vector<std::uint8_t> out(prefix, prefix + prefixSize);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<std::uint8_t> photoshopMarker(const std::vector<std::uint8_t>& iptc)
{
    if (iptc.empty() || iptc.size() + kPhotoshopPrefixSize + 13 > kMarkerRoom) return {};
    std::vector<std::uint8_t> out(kPhotoshopPrefix, kPhotoshopPrefix + kPhotoshopPrefixSize);
    const std::uint32_t n = std::uint32_t(iptc.size());
    const std::uint8_t head[] = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, std::uint8_t(n >> 24),
        std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
    out.insert(out.end(), head, head + sizeof head);
    out.insert(out.end(), iptc.begin(), iptc.end());
    if (n & 1) out.push_back(0);
    return out;
}

} // namespace

std::vector<std::string> jpegDrops(const Metadata& m)
{
    std::vector<std::string> lost;
    if (!m.exif.empty() && m.exif.size() + kExifPrefixSize > kMarkerRoom)
        lost.push_back("EXIF (over 64 KiB)");
    if (!m.xmp.empty() && m.xmp.size() + kXmpPrefixSize > kMarkerRoom) lost.push_back("XMP (over 64 KiB)");
    if (m.icc.size() > kMaxJpegIcc) lost.push_back("the ICC profile (over 255 markers, about 16 MB)");
    if (!m.iptc.empty() && m.iptc.size() + kPhotoshopPrefixSize + 13 > kMarkerRoom)
        lost.push_back("IPTC (over 64 KiB)");
    for (const TextEntry& t : m.text)
        if (t.keyword.size() + t.text.size() + 2 > kMarkerRoom) {
            lost.push_back("a text entry over 64 KiB");
            break;
        }
    return lost;
}

std::vector<std::uint8_t> encodeJpeg(const Picture& picture, int quality)
{
    return encodeJpeg(picture, quality, Subsampling::None);
}

std::vector<std::uint8_t> encodeJpeg(const Picture& picture, int quality, Subsampling subsampling)
{
    if (quality < 1 || quality > 100)
        throw Error(err::InvalidCall,
            "Invalid procedure call: JPEG quality " + std::to_string(quality) + " is not 1 to 100");
    if (picture.width() > JPEG_MAX_DIMENSION || picture.height() > JPEG_MAX_DIMENSION)
        throw Error(err::InvalidCall,
            "Invalid procedure call: a JPEG file holds at most " + sizeText(65500, 65500) + " pixels");
    const Metadata& m = picture.metadata();
    JpegMarkers markers;
    markers.exif = prefixed(kExifPrefix, kExifPrefixSize, m.exif);
    markers.xmp = prefixed(kXmpPrefix, kXmpPrefixSize, m.xmp);
    markers.photoshop = photoshopMarker(m.iptc);
    if (m.icc.size() <= kMaxJpegIcc) markers.icc = &m.icc;
    for (const TextEntry& t : m.text) {
        std::string c = t.keyword == "Comment" ? t.text : t.keyword + ": " + t.text;
        if (c.size() <= kMarkerRoom) markers.comments.push_back(std::move(c));
    }
    if (subsampling == Subsampling::None)
        subsampling = picture.source().subsampling != Subsampling::None ? picture.source().subsampling
                                                                        : Subsampling::S420;
    std::vector<JSAMPLE> greyRow;
    if (picture.sampleFormat().colours == 1) greyRow.resize(std::size_t(picture.width()));
    JpegWriter w;
    w.info.err = &w.errors.base;
    setUpErrors(w.errors);
    if (!writeImage(w, picture, quality, subsampling, markers, greyRow.empty() ? nullptr : greyRow.data()))
        throw Error(err::PathAccess, std::string("Cannot write JPEG: ") + w.errors.text);
    return std::vector<std::uint8_t>(w.buffer, w.buffer + w.size);
}

} // namespace pelinor
