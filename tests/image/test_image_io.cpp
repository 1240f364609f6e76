#include "base/atomic_file.h"
#include "image/codecs/codecs.h"
#include "image/image_io.h"
#include "tests/test_support.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <zlib.h>

namespace pelinor {
namespace {

using test::failureOf;

// Saved in the format the name asks for, then loaded by content under a name that says
// nothing: odd widths, both row orders, lossless but for JPEG (whose error on these steep
// little ramps stays well below that of a flipped row or column).
TEST(SaveAndLoad, FormatFollowsTheNameAndIsFoundByContent)
{
    const std::tuple<const char*, const char*, int> names[] = {{"a.bmp", "BM", 0}, {"a.png.bmp", "BM", 0},
        {"a.jpe", "BM", 0}, {"noext", "BM", 0}, {"A.PNG", "\x89PNG", 0}, {".png", "\x89PNG", 0},
        {"a.jpeg", "\xff\xd8\xff", 48}, {"a.Jpg", "\xff\xd8\xff", 48}};
    EXPECT_EQ(formatForPath("dir.png/file"), ImageFormat::Bmp);
    test::TempDir dir;
    for (const auto& [name, magic, tolerance] : names)
        for (auto [width, height] : {std::pair{1, 1}, {2, 3}, {3, 2}, {5, 7}, {127, 64}})
            for (bool topDown : {false, true}) {
                SCOPED_TRACE(testing::Message() << name << " " << width << " x " << height << " " << topDown);
                PictureRef p = test::patternPicture(width, height, topDown);
                savePicture(*p, dir.file(name));
                std::filesystem::rename(dir.file(name), dir.file("loaded"));
                EXPECT_EQ(
                    std::memcmp(readFileBytes(dir.file("loaded")).data(), magic, std::strlen(magic)), 0);
                PictureRef back = loadPicture(dir.file("loaded"));
                EXPECT_EQ(back->bitsPerPixel(), 24);
                EXPECT_LE(test::maxDifference(*back, *p), tolerance);
            }
}

// The first bytes tell the format of every file the encoders write, and nothing else is
// taken for a picture (a watermark file, text, a file too short for a signature).
TEST(FormatOfContent, SignaturesOfEveryFormat)
{
    const PictureRef p = test::patternPicture(5, 4, false);
    for (ImageFormat format :
        {ImageFormat::Bmp, ImageFormat::Png, ImageFormat::Jpeg, ImageFormat::Tiff, ImageFormat::WebP}) {
        const std::vector<std::uint8_t> bytes = encodePicture(*p, format);
        const std::span<const std::uint8_t> head(bytes.data(), kFormatSignatureBytes);
        EXPECT_EQ(formatOfContent(head), format) << formatName(format);
    }
    for (const std::string_view other : {std::string_view("\"CXSG\"\r\n100"), std::string_view("B"),
             std::string_view(""), std::string_view("RIFF....WAVE"), std::string_view("hello")})
        EXPECT_EQ(
            formatOfContent(std::span(reinterpret_cast<const std::uint8_t*>(other.data()), other.size())),
            std::nullopt)
            << other;
}

TEST(SavePicture, PassesTheJpegQualityOn)
{
    test::TempDir dir;
    PictureRef p = test::patternPicture(40, 30);
    savePicture(*p, dir.file("low.jpg"), 10);
    savePicture(*p, dir.file("high.jpg"), 95);
    EXPECT_LT(readFileBytes(dir.file("low.jpg")).size(), readFileBytes(dir.file("high.jpg")).size());
    for (int quality : {0, 101})
        EXPECT_EQ(failureOf([&] { savePicture(*p, dir.file("bad.jpg"), quality); }).first, err::InvalidCall);
}

TEST(LoadPicture, ErrorsNameTheFileAndTheReason)
{
    test::TempDir dir;
    writeFileAtomic(dir.file("text.bmp"), std::string("hello, this is not a picture"));
    writeFileAtomic(dir.file("empty.png"), std::string());
    writeFileAtomic(dir.file("cut.png"), std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    writeFileAtomic(dir.file("cut.jpg"), std::string("\xff\xd8\xff\xe0\0\x10JFIF", 10));
    const std::tuple<std::string, int, const char*> cases[]
        = {{dir.file("missing.bmp"), err::FileNotFound, "File not found"},
            {dir.file("nofolder/x.bmp"), err::PathNotFound, "x.bmp"},
            {dir.file("text.bmp"), err::InvalidPicture,
                "Invalid picture: not a BMP, PNG, JPEG, TIFF or WebP file"},
            {dir.file("empty.png"), err::InvalidPicture, "Invalid picture: the file is empty"},
            {dir.file("cut.png"), err::InvalidPicture, "Invalid picture: PNG: "},
            {dir.file("cut.jpg"), err::InvalidPicture, "Invalid picture: JPEG: "},
            {dir.path(), err::PathAccess, "Cannot read"}};
    for (const auto& [path, number, text] : cases) {
        const auto [code, message] = failureOf([&path = path] { loadPicture(path); });
        EXPECT_EQ(code, number) << message;
        EXPECT_NE(message.find(text), std::string::npos) << message;
        EXPECT_NE(message.find(path), std::string::npos) << message;
    }
}

// Every prefix of a file is refused, never over-read; a damaged byte is refused or read
// (PNG's checksums refuse every one), nothing else.
TEST(DecodePicture, DamagedFilesAreRefused)
{
    const PictureRef p = test::patternPicture(37, 21);
    std::vector<std::vector<std::uint8_t>> files = {encodePng(*p), encodeJpeg(*p), encodeBmp(*p)};
    for (const char* name : {"pal8rle", "pal4rle", "rgb16-565", "pal1", "pal8os2", "pal8v5"})
        files.push_back(readFileBytes(test::kSuite + "g/" + name + ".bmp"));
    for (const auto& bytes : files) {
        SCOPED_TRACE(testing::Message() << "file " << &bytes - files.data());
        const std::size_t tail = bytes[0] == 0xff ? 2 : 0; // libjpeg reads a file lacking only its end marker
        const bool flipsRefused = bytes[0] == 0x89;
        for (std::size_t n = 0; n + tail < bytes.size(); ++n)
            ASSERT_EQ(
                failureOf([&] { decodePicture(std::span(bytes.data(), n)); }).first, err::InvalidPicture)
                << n;
        for (std::size_t at = 0; at < bytes.size(); at += 3) {
            std::vector<std::uint8_t> bad = bytes;
            bad[at] ^= 0xa5;
            const int number = failureOf([&] { decodePicture(bad); }).first;
            EXPECT_TRUE(number == err::InvalidPicture || (number == 0 && !flipsRefused))
                << at << ": " << number;
        }
    }
}

// A small file of the format whose header claims width x height pixels.
std::vector<std::uint8_t> claimingSize(ImageFormat format, std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> file = encodePicture(*test::patternPicture(8, 8), format);
    const auto put = [&](std::size_t at, std::uint32_t value, std::size_t bytes, bool bigEndian) {
        for (std::size_t i = 0; i < bytes; ++i)
            file[at + i] = std::uint8_t(value >> 8 * (bigEndian ? bytes - 1 - i : i));
    };
    if (format == ImageFormat::Bmp) {
        put(18, width, 4, false);
        put(22, height, 4, false);
    } else if (format == ImageFormat::Png) { // IHDR: type at 12, sizes at 16 and 20, checksum at 29
        put(16, width, 4, true);
        put(20, height, 4, true);
        put(29, std::uint32_t(crc32(0, file.data() + 12, 17)), 4, true);
    } else {
        std::size_t at = 2; // the frame header: height at 5, width at 7
        while (!(file[at] == 0xff && file[at + 1] == 0xc0))
            ++at;
        put(at + 5, height, 2, true);
        put(at + 7, width, 2, true);
    }
    return file;
}

// Sizes from a header are checked, against the limit and against the data present,
// before anything is allocated.
TEST(DecodePicture, HeaderSizesAreCheckedBeforeAllocating)
{
    using enum ImageFormat;
    const std::tuple<ImageFormat, std::uint32_t, std::uint32_t, const char*> cases[]
        = {{Bmp, 70000, 70000, "limit"}, {Bmp, INT32_MAX, 1, "limit"}, {Bmp, 1, INT32_MAX, "limit"},
            {Bmp, INT32_MAX, INT32_MAX, "limit"}, {Bmp, INT32_MAX, 0x80000000, "limit"},
            {Bmp, 357913942, 1, "limit"}, // a row of 1,073,741,828 bytes
            {Bmp, 16000, 16000, "truncated: its pixels need 768000000 bytes"}, {Png, 100000, 100000, "limit"},
            {Png, INT32_MAX, 1, "limit"}, {Png, 1, INT32_MAX, "limit"}, {Png, 200000000, 1, "limit"},
            {Png, 16000, 16000, "too short for 16000 x 16000"}, {Jpeg, 65000, 65000, "limit"},
            {Jpeg, 16000, 16000, "too short for 16000 x 16000"}};
    for (const auto& [format, width, height, text] : cases) {
        const auto [code, message] = failureOf([format = format, width = width, height = height] {
            decodePicture(claimingSize(format, width, height));
        });
        EXPECT_EQ(code, err::InvalidPicture) << width << " x " << height;
        EXPECT_NE(message.find(text), std::string::npos) << message;
    }
}

} // namespace
} // namespace pelinor
