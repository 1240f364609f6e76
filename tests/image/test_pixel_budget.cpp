// The pixel budget and the minimum sizes: decompression bombs refused from the header,
// compact valid files still read, JPEG files cut short refused.
#include "base/atomic_file.h"
#include "image/codecs/codecs.h"
#include "image/image_io.h"
#include "tests/libjpeg_file.h"
#include "tests/test_support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

namespace pelinor {
namespace {

using test::failureOf;

// A flat picture: the most compact content every coding has.
PictureRef flatPicture(int width, int height)
{
    PictureRef p = Picture::create(width, height);
    std::memset(p->bits(), 0x80, p->byteCount());
    return p;
}

enum class JpegCoding { Huffman, Progressive, Arithmetic, ArithmeticProgressive };

// JPEG files of the codings encodeJpeg does not write.
std::vector<std::uint8_t> jpegCoded(const Picture& picture, JpegCoding coding)
{
    return test::libjpegFile(
        picture.width(), picture.height(), 3, JCS_EXT_BGR,
        [&](jpeg_compress_struct& info) {
            jpeg_set_quality(&info, 90, TRUE);
            if (coding == JpegCoding::Progressive || coding == JpegCoding::ArithmeticProgressive)
                jpeg_simple_progression(&info);
            info.arith_code = coding == JpegCoding::Arithmetic || coding == JpegCoding::ArithmeticProgressive;
        },
        [&](int y) { return picture.bits() + std::size_t(picture.storedRow(y)) * picture.stride(); });
}

// The frame header's size fields set to width x height (any SOF marker).
void claimJpegSize(std::vector<std::uint8_t>& file, std::uint16_t width, std::uint16_t height)
{
    std::size_t at = 2;
    while (!(file[at] == 0xff && file[at + 1] >= 0xc0 && file[at + 1] <= 0xcf && file[at + 1] != 0xc4
        && file[at + 1] != 0xc8 && file[at + 1] != 0xcc))
        ++at;
    file[at + 5] = std::uint8_t(height >> 8), file[at + 6] = std::uint8_t(height);
    file[at + 7] = std::uint8_t(width >> 8), file[at + 8] = std::uint8_t(width);
}

// Padding that makes a file long enough for the minimum-size checks: a JPEG comment
// after the start marker, a private PNG chunk after the header.
void padJpeg(std::vector<std::uint8_t>& file, std::size_t bytes)
{
    std::vector<std::uint8_t> marker = {0xff, 0xfe, std::uint8_t((bytes + 2) >> 8), std::uint8_t(bytes + 2)};
    marker.resize(4 + bytes, 'x');
    file.insert(file.begin() + 2, marker.begin(), marker.end());
}

void padPng(std::vector<std::uint8_t>& file, std::uint32_t bytes)
{
    std::vector<std::uint8_t> chunk = {
        std::uint8_t(bytes >> 24), std::uint8_t(bytes >> 16), std::uint8_t(bytes >> 8), std::uint8_t(bytes)};
    for (char c : std::string("prVt"))
        chunk.push_back(std::uint8_t(c));
    chunk.resize(8 + bytes, 0);
    const auto crc = std::uint32_t(crc32(0, chunk.data() + 4, bytes + 4));
    for (int i = 3; i >= 0; --i)
        chunk.push_back(std::uint8_t(crc >> 8 * i));
    file.insert(file.begin() + 33, chunk.begin(), chunk.end()); // after the signature and IHDR
}

void claimPngSize(std::vector<std::uint8_t>& file, std::uint32_t width, std::uint32_t height)
{
    for (int i = 0; i < 4; ++i) {
        file[16 + i] = std::uint8_t(width >> 8 * (3 - i));
        file[20 + i] = std::uint8_t(height >> 8 * (3 - i));
    }
    const auto crc = std::uint32_t(crc32(0, file.data() + 12, 17));
    for (int i = 0; i < 4; ++i)
        file[29 + i] = std::uint8_t(crc >> 8 * (3 - i));
}

const std::string kBombText
    = "Out of memory: a 18900 x 18900 picture (357.2 megapixels) is over the limit of 150 megapixels";

// The attack's files: a 383-byte arithmetic-coded JPEG, a 44 KB Huffman one and a 1 MB PNG,
// each declaring 18900 x 18900 pixels with data enough to pass the minimum sizes, and a
// 1 KB RLE bitmap of 201 megapixels. Each once decoded to gigabytes; now the budget
// refuses them from the header, in no time.
TEST(PixelBudget, DecompressionBombsAreRefusedFromTheHeader)
{
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> bombs;
    std::vector<std::uint8_t> arithmetic = jpegCoded(*flatPicture(16, 16), JpegCoding::Arithmetic);
    claimJpegSize(arithmetic, 18900, 18900);
    bombs.emplace_back("arithmetic JPEG", arithmetic);
    std::vector<std::uint8_t> huffman = encodeJpeg(*flatPicture(16, 16));
    claimJpegSize(huffman, 18900, 18900);
    padJpeg(huffman, 45000);
    bombs.emplace_back("Huffman JPEG", huffman);
    std::vector<std::uint8_t> png = encodePng(*flatPicture(16, 16));
    claimPngSize(png, 18900, 18900);
    padPng(png, 1100000);
    bombs.emplace_back("PNG", png);
    for (const auto& [name, bytes] : bombs) {
        SCOPED_TRACE(name);
        const auto [code, message] = failureOf([&bytes = bytes] { decodePicture(bytes); });
        EXPECT_EQ(code, err::PixelBudget);
        EXPECT_EQ(message, kBombText);
    }
    const auto [code, message] = failureOf([&] {
        loadPicture(
            std::string(PELINOR_SOURCE_DIR) + "/tests/regressions/bmp_rle8_604mb_canvas_from_1kb_file.bmp");
    });
    EXPECT_EQ(code, err::PixelBudget);
    EXPECT_EQ(message,
        "Out of memory: a 50331653 x 4 picture (201.3 megapixels) is over the limit of 150 megapixels");
}

// Every codec applies the limit it is given: one pixel more than allowed is refused, the
// limit itself is read; loadPicture passes it on.
TEST(PixelBudget, EveryCodecTakesTheLimitItIsGiven)
{
    const PictureRef p = test::patternPicture(40, 30);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
    for (ImageFormat format :
        {ImageFormat::Bmp, ImageFormat::Png, ImageFormat::Jpeg, ImageFormat::Tiff, ImageFormat::WebP})
        files.emplace_back(formatName(format), encodePicture(*p, format));
    files.emplace_back("RLE8 BMP", readFileBytes(test::kSuite + "g/pal8rle.bmp")); // 127 x 64
    files.emplace_back("arithmetic JPEG", jpegCoded(*p, JpegCoding::Arithmetic));
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const PictureRef read = decodePicture(bytes);
        const std::int64_t pixels = std::int64_t(read->width()) * read->height();
        // A shared budget is told the header's pixels once, before any is allocated.
        std::vector<std::int64_t> admitted;
        const PixelLimit limit(pixels, [&](std::int64_t n) { admitted.push_back(n); });
        EXPECT_EQ(decodePicture(bytes, limit)->width(), read->width());
        EXPECT_EQ(admitted, std::vector<std::int64_t>{pixels});
        const PixelLimit refusing(pixels, [](std::int64_t) { throw Error(err::PixelBudget, "no room"); });
        EXPECT_EQ(
            failureOf([&bytes = bytes, &refusing] { decodePicture(bytes, refusing); }).second, "no room");
        const auto [code, message]
            = failureOf([&bytes = bytes, pixels] { decodePicture(bytes, pixels - 1); });
        EXPECT_EQ(code, err::PixelBudget) << message;
        EXPECT_NE(message.find("is over the limit of"), std::string::npos) << message;
    }
    test::TempDir dir;
    writeFileAtomic(dir.file("p.png"), encodePng(*p));
    const auto [code, message] = failureOf([&] { loadPicture(dir.file("p.png"), 1199); });
    EXPECT_EQ(code, err::PixelBudget);
    EXPECT_EQ(message,
        "Out of memory: a 40 x 30 picture (0.0012 megapixels) is over the limit of 0.001199 megapixels");
}

// A small picture at the head of a huge file (sparse here, costing no disk) was read whole:
// a file larger than any picture within the limit could need is refused from its size.
TEST(PixelBudget, FilesLargerThanThePictureLimitCouldNeedAreRefusedUnread)
{
    test::TempDir dir;
    // A JPEG's size may lie far into the file: only the limit bounds it.
    const std::string path = dir.file("padded.jpg");
    writeFileAtomic(path, encodePicture(*test::patternPicture(40, 30), ImageFormat::Jpeg));
    const std::int64_t limit = 1'000'000;
    const std::uint64_t largest = largestPictureFile(limit);
    EXPECT_EQ(largest, 16'000'000u + (65u << 20));
    EXPECT_EQ(largestPictureFile(kDefaultMaxPixels), kMaxPixelBytes + kMaxMetadataBlock);
    ASSERT_EQ(::truncate(path.c_str(), off_t(largest)), 0);
    EXPECT_EQ(loadPicture(path, limit)->width(), 40); // what follows the end of a JPEG is ignored
    ASSERT_EQ(::truncate(path.c_str(), off_t(1000) << 20), 0);
    const auto [code, message] = failureOf([&] { loadPicture(path, limit); });
    EXPECT_EQ(code, err::PixelBudget);
    EXPECT_EQ(message,
        "Out of memory: \"" + path
            + "\" has 1048576000 bytes, more than any picture within the limit of "
              "1000000 pixels needs ("
            + std::to_string(largest) + " bytes with its metadata)");

    // Within the default limit too, when the header at the start gives the size (PNG, BMP):
    // the file may hold no more than its own picture needs.
    for (const char* name : {"padded.png", "padded.bmp"}) {
        SCOPED_TRACE(name);
        const std::string file = dir.file(name);
        writeFileAtomic(file, encodePicture(*test::patternPicture(40, 30), formatForPath(file)));
        const std::uint64_t needed = largestPictureFile(40 * 30);
        ASSERT_EQ(::truncate(file.c_str(), off_t(needed)), 0);
        EXPECT_EQ(loadPicture(file)->height(), 30);
        ASSERT_EQ(::truncate(file.c_str(), off_t(1000) << 20), 0);
        const auto [number, text] = failureOf([&] { loadPicture(file); });
        EXPECT_EQ(number, err::InvalidPicture);
        EXPECT_EQ(text,
            "Invalid picture: \"" + file
                + "\" has 1048576000 bytes, more than the 40 x 30 picture its header "
                  "declares needs ("
                + std::to_string(needed) + " bytes with its metadata)");
    }

    // Sides that claim 2^32 - 1 each: the size check must not multiply them (the product
    // overflows 64 bits); the decoder then refuses the picture from its header.
    const std::string huge = dir.file("huge.png");
    std::vector<std::uint8_t> head = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D',
        'R', 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 8, 2, 0, 0, 0, 0, 0, 0, 0};
    head.resize(4096);
    writeFileAtomic(huge, head);
    for (const std::int64_t most : {std::int64_t(1000), kDefaultMaxPixels, std::int64_t(1'000'000'000'000)}) {
        const auto [number, text] = failureOf([&] { loadPicture(huge, most); });
        EXPECT_TRUE(number == err::PixelBudget || number == err::InvalidPicture) << number << ": " << text;
    }
}

// With a budget that lets it through, the kept 34-byte WebP claiming 305 megapixels still
// fails in libwebp before any memory of ours is allocated for it.
TEST(PixelBudget, WebpDataIsCheckedBeforeOurPixels)
{
    const std::vector<std::uint8_t> bytes = readFileBytes(
        std::string(PELINOR_SOURCE_DIR) + "/tests/regressions/webp_34_bytes_claiming_a_huge_canvas.webp");
    const auto [code, message] = failureOf([&] { decodePicture(bytes, std::int64_t(1) << 40); });
    EXPECT_EQ(code, err::InvalidPicture);
    EXPECT_EQ(message, "Invalid picture: WebP: damaged data");
}

// The minimum sizes never refuse a real file: flat pictures, the most compact there are,
// in every coding, read back whole.
TEST(PixelBudget, CompactValidFilesAreRead)
{
    const PictureRef flat = flatPicture(3000, 2000);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files
        = {{"PNG", encodePng(*flat)}, {"TIFF", encodeTiff(*flat)}, {"WebP", encodeWebp(*flat, 0)},
            {"JPEG", jpegCoded(*flat, JpegCoding::Huffman)},
            {"progressive JPEG", jpegCoded(*flat, JpegCoding::Progressive)},
            {"arithmetic JPEG", jpegCoded(*flat, JpegCoding::Arithmetic)},
            {"progressive arithmetic JPEG", jpegCoded(*flat, JpegCoding::ArithmeticProgressive)}};
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name + ", " + std::to_string(bytes.size()) + " bytes");
        const auto [code, message] = failureOf([&bytes = bytes] {
            const PictureRef read = decodePicture(bytes);
            EXPECT_EQ(read->width(), 3000);
            EXPECT_EQ(read->height(), 2000);
            EXPECT_NEAR(read->bits()[read->byteCount() / 2], 0x80, 1);
        });
        EXPECT_EQ(code, 0) << message;
    }
}

// A JPEG cut short in its scan data and closed by an end marker was read, its missing
// blocks grey; libjpeg only warns. Refused now, whatever the Huffman coding.
TEST(PixelBudget, JpegCutShortBeforeItsEndMarkerIsRefused)
{
    const PictureRef p = test::patternPicture(256, 192);
    for (const JpegCoding coding : {JpegCoding::Huffman, JpegCoding::Progressive}) {
        SCOPED_TRACE(int(coding));
        std::vector<std::uint8_t> bytes = jpegCoded(*p, coding);
        ASSERT_EQ(failureOf([&bytes = bytes] { decodePicture(bytes); }).first, 0);
        bytes.resize(bytes.size() * 3 / 5);
        // No marker in what is left of the last scan, or the cut would not be plain.
        while (bytes.back() == 0xff)
            bytes.pop_back();
        bytes.push_back(0xff);
        bytes.push_back(0xd9);
        const auto [code, message] = failureOf([&bytes = bytes] { decodePicture(bytes); });
        EXPECT_EQ(code, err::InvalidPicture) << message;
        EXPECT_NE(message.find("premature end of data segment"), std::string::npos) << message;
    }
}

} // namespace
} // namespace pelinor
