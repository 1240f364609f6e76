#include "image/codecs/codecs.h"
#include "image/image_io.h"
#include "tests/test_support.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace pelinor {
namespace {

using test::failureOf;
using test::kSuite;
using test::maxDifference;

// FNV-1a over the pixels as seen, top row first, padding left out.
std::uint64_t visualHash(const Picture& p)
{
    std::uint64_t h = 14695981039346656037ull;
    for (int y = 0; y < p.height(); ++y)
        for (int i = 0; i < 3 * p.width(); ++i)
            h = (h ^ test::pixelAt(p, 0, y)[i]) * 1099511628211ull;
    return h;
}

// The tables name every file of their folder (each name once).
void expectFileCount(const char* folder, std::size_t count)
{
    const std::filesystem::directory_iterator files(kSuite + folder);
    EXPECT_EQ(std::size_t(std::distance(begin(files), end(files))), count) << folder;
}

// Every good file: its depth, the largest channel difference from rgb24.bmp (256: a
// different picture), and the hash of what it decodes to. The hashes were taken after
// checking our decoder pixel for pixel against an independent reader (ImageMagick):
// palette files matched exactly, 16-bit files differ only by the rounding of 5- and 6-bit
// channels, which the difference from rgb24.bmp bounds.
const std::tuple<const char*, int, int, std::uint64_t> kGood[] = {{"pal1.bmp", 1, 256, 0x93cb10c47d28db4dull},
    {"pal1bg.bmp", 1, 256, 0x73d1797f92f7bce5ull}, {"pal1wb.bmp", 1, 256, 0x93cb10c47d28db4dull},
    {"pal4.bmp", 4, 256, 0x0bd8ec6cc66e5211ull}, {"pal4gs.bmp", 4, 256, 0x84584472fec80434ull},
    {"pal4rle.bmp", 4, 256, 0x0bd8ec6cc66e5211ull}, {"pal8-0.bmp", 8, 50, 0x811529b078c66aecull},
    {"pal8.bmp", 8, 50, 0x811529b078c66aecull}, {"pal8gs.bmp", 8, 256, 0x13c463af6d9a108full},
    {"pal8nonsquare.bmp", 8, 256, 0xaa33f4a48d7c26d8ull}, {"pal8os2.bmp", 8, 50, 0x811529b078c66aecull},
    {"pal8rle.bmp", 8, 50, 0x811529b078c66aecull}, {"pal8topdown.bmp", 8, 50, 0x811529b078c66aecull},
    {"pal8v4.bmp", 8, 50, 0x811529b078c66aecull}, {"pal8v5.bmp", 8, 50, 0x811529b078c66aecull},
    {"pal8w124.bmp", 8, 256, 0x02876ffab9e1ea2dull}, {"pal8w125.bmp", 8, 256, 0xa59a729925872727ull},
    {"pal8w126.bmp", 8, 256, 0x890b560482769da5ull}, {"rgb16-565.bmp", 16, 4, 0xdffef481b8e6c802ull},
    {"rgb16-565pal.bmp", 16, 4, 0xdffef481b8e6c802ull}, {"rgb16.bmp", 16, 4, 0x2dc16352b4fbf35eull},
    {"rgb16bfdef.bmp", 16, 4, 0x2dc16352b4fbf35eull}, {"rgb24.bmp", 24, 0, 0x02b2eb409fb10057ull},
    {"rgb24pal.bmp", 24, 0, 0x02b2eb409fb10057ull}, {"rgb32.bmp", 32, 0, 0x02b2eb409fb10057ull},
    {"rgb32bf.bmp", 32, 0, 0x02b2eb409fb10057ull}, {"rgb32bfdef.bmp", 32, 0, 0x02b2eb409fb10057ull}};

// Each is also written back, as a 24-bit BITMAPINFOHEADER file whose rows run bottom-up
// whatever the picture's order, padded with zeros (the widths give every padding length).
TEST(BmpSuite, GoodFilesDecodeToTheirPictureAndAreWrittenBack)
{
    expectFileCount("g", std::size(kGood));
    const PictureRef reference = loadPicture(kSuite + "g/rgb24.bmp");
    for (const auto& [name, bitsPerPixel, maxFromRgb24, hash] : kGood) {
        SCOPED_TRACE(name);
        PictureRef p = loadPicture(kSuite + "g/" + name);
        EXPECT_EQ(p->bitsPerPixel(), bitsPerPixel);
        EXPECT_EQ(is24Bit(p.get()), bitsPerPixel == 24);
        EXPECT_EQ(p->topDown(), std::strstr(name, "topdown") != nullptr); // kept as the file stores it
        EXPECT_EQ(visualHash(*p), hash);
        EXPECT_LE(maxDifference(*p, *reference), maxFromRgb24);

        const std::size_t stride = p->stride(), rowBytes = 3 * std::size_t(p->width());
        for (std::size_t i = 0; i < p->byteCount(); ++i)
            if (i % stride >= rowBytes) p->bits()[i] = 0xee; // the picture's padding must not leak
        const std::vector<std::uint8_t> file = encodeBmp(*p);
        ASSERT_EQ(file.size(), 54 + p->byteCount());
        for (int row = 0; row < p->height(); ++row) {
            const std::uint8_t* stored = file.data() + 54 + std::size_t(row) * stride;
            EXPECT_EQ(std::memcmp(stored, test::pixelAt(*p, 0, p->height() - 1 - row), rowBytes), 0) << row;
            EXPECT_TRUE(std::all_of(stored + rowBytes, stored + stride, [](auto b) { return b == 0; }))
                << row;
        }
        // The header is then the 54 bytes our reader checks field by field.
        const PictureRef back = decodeBmp(file);
        EXPECT_EQ(back->bitsPerPixel(), 24);
        EXPECT_FALSE(back->topDown());
    }
}

// Questionable files are read, except three refused clearly. Most equal a g/ file within
// a tolerance, but for a number of pixels that a cut or skipping RLE stream leaves black.
TEST(BmpSuite, QuestionableFilesAreReadOrRefusedClearly)
{
    struct Case {
        const char* file;
        const char* reference = ""; // nullptr: refused; "": read, no reference
        int tolerance = 0, black = 0;
    };
    const Case cases[] = {{"pal1huffmsb.bmp", nullptr}, {"rgb24rle24.bmp", nullptr}, {"rgba64.bmp", nullptr},
        {"pal1p1.bmp"}, {"pal2.bmp"}, {"pal2color.bmp"}, {"rgb16-231.bmp"}, {"rgb24prof2.bmp"},
        {"rgba16-1924.bmp"}, {"rgba16-4444.bmp"}, {"rgba32-1.bmp"}, {"rgba32-1010102.bmp"}, {"rgba32-2.bmp"},
        {"rgba32-61754.bmp"}, {"rgba32-81284.bmp"}, {"rgba32abf.bmp"}, {"rgba32h56.bmp"},
        {"pal4rlecut.bmp", "pal4.bmp", 0, 1696}, {"pal4rletrns.bmp", "pal4.bmp", 0, 416},
        {"pal8rlecut.bmp", "pal8.bmp", 0, 1657}, {"pal8rletrns.bmp", "pal8.bmp", 0, 416},
        {"pal8offs.bmp", "pal8.bmp"}, {"pal8os2-hs.bmp", "pal8.bmp"}, {"pal8os2-sz.bmp", "pal8.bmp"},
        {"pal8os2sp.bmp", "pal8.bmp"}, {"pal8os2v2-16.bmp", "pal8.bmp"}, {"pal8os2v2-40sz.bmp", "pal8.bmp"},
        {"pal8os2v2-sz.bmp", "pal8.bmp"}, {"pal8os2v2.bmp", "pal8.bmp"}, {"pal8oversizepal.bmp", "pal8.bmp"},
        {"rgb16faketrns.bmp", "rgb16.bmp"}, {"rgba16-5551.bmp", "rgb16.bmp"},
        {"rgb16-3103.bmp", "rgb24.bmp", 36, 8}, {"rgb24jpeg.bmp", "rgb24.bmp", 74},
        {"rgb24largepal.bmp", "rgb24.bmp"}, {"rgb24lprof.bmp", "rgb24.bmp"}, {"rgb24png.bmp", "rgb24.bmp"},
        {"rgb24prof.bmp", "rgb24.bmp"}, {"rgb32-111110.bmp", "rgb24.bmp", 1},
        {"rgb32-7187.bmp", "rgb24.bmp", 1}, {"rgb32-xbgr.bmp", "rgb24.bmp"},
        {"rgb32fakealpha.bmp", "rgb24.bmp"}, {"rgb32h52.bmp", "rgb24.bmp"}};
    expectFileCount("q", std::size(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = kSuite + "q/" + c.file;
        if (c.reference == nullptr) {
            const auto [code, message] = failureOf([&] { loadPicture(path); });
            EXPECT_EQ(code, err::InvalidPicture);
            EXPECT_EQ(message.rfind("Invalid picture: ", 0), 0u) << message;
            continue;
        }
        PictureRef p = loadPicture(path);
        EXPECT_EQ(p->width(), 127);
        EXPECT_EQ(p->height(), 64);
        if (*c.reference == '\0') continue;
        int black = 0;
        EXPECT_LE(maxDifference(*p, *loadPicture(kSuite + "g/" + c.reference), &black), c.tolerance);
        EXPECT_EQ(black, c.black);
    }
}

TEST(BmpSuite, BadFilesAreRefusedWithTheirReason)
{
    struct Case {
        const char* file;
        const char* reason;
    };
    const Case cases[] = {{"badbitcount.bmp", "bit count 30000"}, {"badbitssize.bmp", "image size field"},
        {"baddens1.bmp", "resolution"}, {"baddens2.bmp", "resolution"}, {"badfilesize.bmp", "truncated"},
        {"badheadersize.bmp", "header size 66"}, {"badpalettesize.bmp", "palette"},
        {"badplanes.bmp", "planes"}, {"badrle.bmp", "RLE delta"}, {"badrle4.bmp", "RLE delta"},
        {"badrle4bis.bmp", "RLE delta"}, {"badrle4ter.bmp", "RLE delta"}, {"badrlebis.bmp", "RLE delta"},
        {"badrleter.bmp", "RLE delta"}, {"badwidth.bmp", "width -127"}, {"pal8badindex.bmp", "palette index"},
        {"reallybig.bmp", "3000000 x 2000000 pixels is larger than the pixel limit of 1024 MiB"},
        {"rgb16-880.bmp", "mask"}, {"rletopdown.bmp", "top-down"}, {"shortfile.bmp", "truncated"}};
    expectFileCount("b", std::size(cases));
    for (const Case& c : cases) {
        const auto [code, message] = failureOf([&] { loadPicture(kSuite + "b/" + c.file); });
        EXPECT_EQ(code, err::InvalidPicture) << c.file;
        EXPECT_EQ(message.rfind("Invalid picture: ", 0), 0u) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_NE(message.find(c.file), std::string::npos) << message;
    }
}

// An RLE delta moves up as well as right; the suite's files that are read move only right.
// A 2 x 2 RLE8 file with a black and white palette and the given stream.
PictureRef decodeRle8(std::initializer_list<std::uint8_t> stream)
{
    std::vector<std::uint8_t> file = encodeBmp(*Picture::create(2, 2)); // 70 bytes, as the new file
    file.resize(54);
    file[10] = 62; // pixels after the palette
    file[28] = 8;
    file[30] = 1; // RLE8
    file[34] = std::uint8_t(stream.size());
    file[46] = 2; // colours used
    file.insert(file.end(), {0, 0, 0, 0, 255, 255, 255, 0});
    file.insert(file.end(), stream);
    return decodeBmp(file);
}

TEST(BmpDecoder, RleDeltaMovesUpAndRight)
{
    PictureRef p = decodeRle8({0, 2, 1, 1, 1, 1, 0, 1});
    EXPECT_EQ(test::pixelAt(*p, 1, 0)[0], 255); // the second row up is the top row
    EXPECT_EQ(test::pixelAt(*p, 0, 0)[0] | test::pixelAt(*p, 0, 1)[0] | test::pixelAt(*p, 1, 1)[0], 0);
}

// Some writers (ImageMagick among them) let a run cover the row's padding: the pixels
// past the edge are dropped, the rest of the picture is read.
TEST(BmpDecoder, RleRunIntoRowPaddingIsClipped)
{
    PictureRef p = decodeRle8({4, 1, 0, 0, 3, 1, 0, 1});
    for (int x = 0; x < 2; ++x)
        for (int y = 0; y < 2; ++y)
            EXPECT_EQ(test::pixelAt(*p, x, y)[0], 255) << x << "," << y;
}

// A width x height RLE file (RLE8, or RLE4 with `rle4`) with the palette black, white, grey.
PictureRef decodeRle(int width, int height, bool rle4, std::initializer_list<std::uint8_t> stream)
{
    std::vector<std::uint8_t> file = encodeBmp(*Picture::create(width, height));
    file.resize(54);
    file[10] = 66; // pixels after the three palette entries
    file[28] = rle4 ? 4 : 8;
    file[30] = rle4 ? 2 : 1;
    const std::uint32_t size = std::uint32_t(stream.size());
    for (int i = 0; i < 4; ++i)
        file[34 + std::size_t(i)] = std::uint8_t(size >> (8 * i));
    file[46] = 3; // colours used
    file.insert(file.end(), {0, 0, 0, 0, 255, 255, 255, 0, 128, 128, 128, 0});
    file.insert(file.end(), stream);
    for (int i = 0; i < 4; ++i)
        file[2 + std::size_t(i)] = std::uint8_t(file.size() >> (8 * i));
    return decodeBmp(file);
}

// At a width whose rows have no padding (3 x 4 = 12 bytes), a run past the row's end
// would land in the next row's first pixels, or past the memory on the last row: those
// pixels are dropped, the next row keeps what its own data says (black where it says
// nothing), and the last row ends at its edge. Rows bottom-up: 0 is the bottom row.
TEST(BmpDecoder, RleRunPastTheRowEndWithoutPaddingIsDropped)
{
    const std::uint8_t white = 1, grey = 2;
    for (const bool rle4 : {false, true}) {
        SCOPED_TRACE(rle4 ? "RLE4" : "RLE8");
        const auto run = [&](int count, std::uint8_t index) {
            return std::pair<std::uint8_t, std::uint8_t>(
                std::uint8_t(count), rle4 ? std::uint8_t(index << 4 | index) : index);
        };
        const auto [bottomCount, bottomValue] = run(6, white);
        const auto [greyCount, greyValue] = run(2, grey);
        const auto [lastCount, lastValue] = run(5, white);
        // Bottom row: six white (two past the edge), end of line; the middle row says nothing;
        // the top row: two grey, then five white (three past the edge), end of bitmap.
        const PictureRef p = decodeRle(4, 3, rle4,
            {bottomCount, bottomValue, 0, 0, 0, 0, greyCount, greyValue, lastCount, lastValue, 0, 1});
        ASSERT_EQ(p->stride(), 12u);
        const int expected[3][4]
            = {{128, 128, 255, 255}, {0, 0, 0, 0}, {255, 255, 255, 255}}; // top row first
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(test::pixelAt(*p, x, y)[c], expected[y][x]) << x << "," << y << "," << c;
    }
}

} // namespace
} // namespace pelinor
