// TIFF and WebP files, metadata carried from file to file, and the JPEG settings that
// follow the input.
#include "base/error.h"
#include "image/codecs/codecs.h"
#include "image/codecs/exif.h"
#include "image/image_io.h"
#include "tests/test_support.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

namespace pelinor {
namespace {

std::vector<std::uint8_t> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct TempFile {
    std::string path = (std::filesystem::temp_directory_path()
        / ("pelinor-formats-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tif"))
                           .string();
    ~TempFile() { std::remove(path.c_str()); }
    static inline int counter = 0;
};

unsigned sampleAt(int x, int y, int s, int bits)
{
    const unsigned v = unsigned(x * 29 + y * 13 + s * 71);
    return bits == 16 ? (v * 257 + unsigned(x)) & 0xffff : v & 0xff;
}

// How the samples of a test TIFF are meant: grey or RGB as the sample count says, grey with
// white at zero, or palette indices through a map of distinct colours or of greys.
enum class Tone { Plain, MinIsWhite, ColourMap, GreyMap };

// Palette entry i of the test maps, as 16-bit map values (v * 257 reads back as v).
std::array<unsigned, 3> mapEntry(Tone tone, unsigned i)
{
    if (tone == Tone::GreyMap) {
        const unsigned grey = (i * 7 + 5) & 255;
        return {grey * 257, grey * 257, grey * 257};
    }
    return {i * 257, (255 - i) * 257, ((i * 3 + 100) & 255) * 257};
}

// A 37 x 23 TIFF written by libtiff itself; `big`: a BigTIFF (64-bit offsets).
std::vector<std::uint8_t> libtiffFile(
    int samples, int bits, std::uint16_t compression, bool tiled, bool big = false, Tone tone = Tone::Plain)
{
    const int w = 37, h = 23;
    TempFile file;
    TIFF* tif = TIFFOpen(file.path.c_str(), big ? "w8" : "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    const bool palette = tone == Tone::ColourMap || tone == Tone::GreyMap;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
        palette                        ? PHOTOMETRIC_PALETTE
            : tone == Tone::MinIsWhite ? PHOTOMETRIC_MINISWHITE
            : samples >= 3             ? PHOTOMETRIC_RGB
                                       : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (palette) {
        std::array<std::array<std::uint16_t, 256>, 3> map;
        for (unsigned i = 0; i < 256; ++i)
            for (std::size_t c = 0; c < 3; ++c)
                map[c][i] = std::uint16_t(mapEntry(tone, i)[c]);
        TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    if (samples == 2 || samples == 4) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const std::size_t bytes = std::size_t(bits / 8);
    const auto fill = [&](std::uint8_t* out, int x, int y) {
        for (int s = 0; s < samples; ++s) {
            const unsigned v = sampleAt(x, y, s, bits);
            if (bits == 16)
                reinterpret_cast<std::uint16_t*>(out)[s] = std::uint16_t(v);
            else
                out[s] = std::uint8_t(v);
        }
    };
    if (tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
        std::vector<std::uint8_t> tile(16 * 16 * std::size_t(samples) * bytes);
        for (int ty = 0; ty < h; ty += 16)
            for (int tx = 0; tx < w; tx += 16) {
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        fill(&tile[(std::size_t(y) * 16 + std::size_t(x)) * std::size_t(samples) * bytes],
                            tx + x, ty + y);
                TIFFWriteTile(tif, tile.data(), std::uint32_t(tx), std::uint32_t(ty), 0, 0);
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 5);
        std::vector<std::uint8_t> row(std::size_t(w) * std::size_t(samples) * bytes);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                fill(&row[std::size_t(x) * std::size_t(samples) * bytes], x, y);
            TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0);
        }
    }
    TIFFClose(tif);
    return readAll(file.path);
}

// Every layout is read sample for sample: min-is-white grey turned over at its own depth
// (65535, not 255, at 16 bits) with alpha left alone, and palette indices through each of
// the map's own red, green and blue; a map of greys gives one channel.
TEST(TiffDecoder, EveryLayoutAndCompression)
{
    struct Layout {
        int samples, bits;
        Tone tone;
    };
    const Layout layouts[] = {{1, 8, Tone::Plain}, {2, 8, Tone::Plain}, {3, 8, Tone::Plain},
        {4, 8, Tone::Plain}, {3, 16, Tone::Plain}, {1, 16, Tone::Plain}, {4, 16, Tone::Plain},
        {1, 8, Tone::MinIsWhite}, {1, 16, Tone::MinIsWhite}, {2, 16, Tone::MinIsWhite},
        {1, 8, Tone::ColourMap}, {1, 8, Tone::GreyMap}};
    for (const bool big : {false, true})
        for (const std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE})
            for (const bool tiled : {false, true})
                for (const auto& [samples, bits, tone] : layouts) {
                    SCOPED_TRACE(testing::Message() << (big ? "BigTIFF " : "") << "compression "
                                                    << compression << (tiled ? " tiled " : " strips ")
                                                    << samples << " x " << bits << " tone " << int(tone));
                    const std::vector<std::uint8_t> file
                        = libtiffFile(samples, bits, compression, tiled, big, tone);
                    ASSERT_EQ(file.at(2), big ? 43 : 42); // the magic number says which
                    const PictureRef p = decodePicture(file);
                    ASSERT_EQ(p->width(), 37);
                    ASSERT_EQ(p->height(), 23);
                    const SampleFormat& f = p->sampleFormat();
                    const bool palette = tone == Tone::ColourMap || tone == Tone::GreyMap;
                    const int channels = tone == Tone::ColourMap ? 3 : samples;
                    EXPECT_EQ(f.channels(), channels);
                    EXPECT_EQ(f.depth, bits);
                    EXPECT_EQ(f.palette, palette);
                    // Sample s (grey or red, green, blue; then alpha) as the picture should hold it.
                    // Copies: a lambda may not capture structured bindings before clang 16.
                    const auto expected = [&, bits = bits, tone = tone](int x, int y, int s) {
                        const unsigned v = sampleAt(x, y, s, bits);
                        if (palette) return mapEntry(tone, sampleAt(x, y, 0, 8))[std::size_t(s)] / 257;
                        if (tone == Tone::MinIsWhite && s == 0) return (bits == 16 ? 0xffffu : 0xffu) - v;
                        return v;
                    };
                    for (int y = 0; y < 23; ++y)
                        for (int x = 0; x < 37; ++x) {
                            const std::size_t stored = std::size_t(p->storedRow(y));
                            const std::uint8_t* bgr = test::pixelAt(*p, x, y);
                            if (f.colours == 1) {
                                ASSERT_EQ(bgr[0], bgr[1]);
                                ASSERT_EQ(bgr[1], bgr[2]);
                            }
                            for (int s = 0; s < channels; ++s) {
                                unsigned got = 0;
                                if (bits == 16) {
                                    got = p->samples16()[(stored * 37 + std::size_t(x))
                                            * std::size_t(channels)
                                        + std::size_t(s)];
                                } else if (s == channels - 1 && f.alpha) {
                                    got = p->alpha8()[stored * 37 + std::size_t(x)];
                                } else {
                                    got = bgr[channels >= 3 ? 2 - s : 0];
                                }
                                ASSERT_EQ(got, expected(x, y, s)) << x << "," << y << " sample " << s;
                            }
                        }
                    // And back through our own writer, unchanged (as plain colours or grey), the
                    // written picture too: libtiff's predictor works in the row it is given.
                    const PictureRef again = decodePicture(encodeTiff(*p));
                    SampleFormat unpaletted = f;
                    unpaletted.palette = false;
                    EXPECT_EQ(again->sampleFormat(), unpaletted);
                    EXPECT_EQ(test::maxDifference(*p, *again), 0);
                    if (bits == 16) {
                        const std::size_t n = 37 * 23 * std::size_t(channels);
                        EXPECT_TRUE(std::equal(p->samples16(), p->samples16() + n, again->samples16()));
                    }
                }
}

// Patches the 32-bit value of tag `tag` in the first directory of a little-endian TIFF.
void patchTag(std::vector<std::uint8_t>& file, std::uint16_t tag, std::uint32_t value)
{
    const std::uint32_t dir = file[4] | file[5] << 8 | file[6] << 16 | std::uint32_t(file[7]) << 24;
    const unsigned count = file[dir] | file[dir + 1] << 8;
    for (unsigned i = 0; i < count; ++i) {
        std::uint8_t* e = &file[dir + 2 + 12 * i];
        if ((e[0] | e[1] << 8) != tag) continue;
        const unsigned type = e[2] | e[3] << 8;
        if (type == 3) { // SHORT: the value would not hold, so make it LONG
            e[2] = 4;
        }
        e[8] = std::uint8_t(value), e[9] = std::uint8_t(value >> 8), e[10] = std::uint8_t(value >> 16),
        e[11] = std::uint8_t(value >> 24);
        return;
    }
    FAIL() << "no tag " << tag;
}

// Patches entry `index` of the SHORT or LONG array of tag `tag` in the first directory of a
// little-endian TIFF (its values lie elsewhere in the file).
void patchArray(std::vector<std::uint8_t>& file, std::uint16_t tag, std::size_t index, std::uint32_t value)
{
    const auto u16 = [&](std::size_t at) { return unsigned(file[at] | file[at + 1] << 8); };
    const auto u32 = [&](std::size_t at) { return std::uint32_t(u16(at) | u16(at + 2) << 16); };
    const std::uint32_t dir = u32(4);
    for (unsigned i = 0; i < u16(dir); ++i) {
        const std::size_t e = dir + 2 + 12 * i;
        if (u16(e) != tag) continue;
        ASSERT_TRUE(u16(e + 2) == 3 || u16(e + 2) == 4) << "type " << u16(e + 2);
        ASSERT_LT(index, u32(e + 4));
        const std::size_t size = u16(e + 2) == 3 ? 2 : 4;
        ASSERT_GT(u32(e + 4) * size, 4u) << "the values are in the entry";
        ASSERT_TRUE(size == 4 || value <= 0xffff);
        const std::size_t at = u32(e + 8) + index * size;
        for (std::size_t b = 0; b < size; ++b)
            file.at(at + b) = std::uint8_t(value >> (8 * b));
        return;
    }
    FAIL() << "no tag " << tag;
}

// Lying headers are refused from the header and the strip table, before the pixels are
// allocated.
// A TIFF of several pages gives its first and says the others were left out.
TEST(TiffDecoder, PagesBeyondTheFirstAreNamed)
{
    for (const int pages : {1, 3}) {
        SCOPED_TRACE(pages);
        TempFile file;
        TIFF* tif = TIFFOpen(file.path.c_str(), "w");
        for (int page = 0; page < pages; ++page) {
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4 + page);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 3);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 3);
            std::uint8_t row[8] = {};
            for (std::uint32_t y = 0; y < 3; ++y)
                TIFFWriteScanline(tif, row, y, 0);
            TIFFWriteDirectory(tif);
        }
        TIFFClose(tif);
        const PictureRef p = decodePicture(readAll(file.path));
        EXPECT_EQ(p->width(), 4);
        const std::vector<std::string> expected = pages == 1
            ? std::vector<std::string>()
            : std::vector<std::string>{
                "TIFF: only the first of its 3 pages is read; the other 2 are left out"};
        EXPECT_EQ(p->source().notes, expected);
    }
}

// Lying headers are refused from the header and the strip table, before the pixels are
// allocated (the budget is asked for them only after every check), each with its own words:
// a strip whose offset is in the file but whose length runs past its end, and uncompressed
// strips too short for the picture, in a file of five strips.
TEST(TiffDecoder, LyingHeadersAreRefusedBeforeAllocating)
{
    const std::vector<std::uint8_t> good = libtiffFile(3, 8, COMPRESSION_NONE, false);
    ASSERT_EQ(decodePicture(good)->height(), 23);
    constexpr int kValue = -1; // the tag's own value, not an entry of its array
    struct Case {
        const char* name;
        std::uint16_t tag;
        int index;
        std::uint32_t value;
        const char* part;
    };
    const std::uint32_t size = std::uint32_t(good.size());
    const Case cases[] = {
        {"huge width", TIFFTAG_IMAGEWIDTH, kValue, 40000000, "pixel limit"},
        {"huge height", TIFFTAG_IMAGELENGTH, kValue, 30000000, "TIFF"},
        {"strip table past the end", TIFFTAG_STRIPOFFSETS, kValue, 0x7fff0000, "TIFF"},
        {"bigger picture than data", TIFFTAG_IMAGELENGTH, kValue, 20000, "TIFF"},
        {"first strip past the end", TIFFTAG_STRIPOFFSETS, 0, size, "strip 0 lies past the end of the file"},
        {"last strip longer than the file", TIFFTAG_STRIPBYTECOUNTS, 4, 0xffff,
            "strip 4 lies past the end of the file"},
        {"middle strip running past the end", TIFFTAG_STRIPBYTECOUNTS, 2, size - 600,
            "strip 2 lies past the end of the file"},
        {"one strip short", TIFFTAG_STRIPBYTECOUNTS, 1, 100, "the file is too short for 37 x 23 pixels"},
        {"last strip empty", TIFFTAG_STRIPBYTECOUNTS, 4, 0, "the file is too short for 37 x 23 pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> file = good;
        if (c.index == kValue)
            patchTag(file, c.tag, c.value);
        else
            patchArray(file, c.tag, std::size_t(c.index), c.value);
        bool admitted = false;
        const PixelLimit limit(kDefaultMaxPixels, [&](std::int64_t) { admitted = true; });
        test::expectError([&] { decodePicture(file, limit); }, err::InvalidPicture, c.part);
        EXPECT_FALSE(admitted) << "refused only after the pixels were admitted";
    }
    // No rows per strip: read as one strip or refused, but never a loop without end.
    std::vector<std::uint8_t> zeroRows = good;
    patchTag(zeroRows, TIFFTAG_ROWSPERSTRIP, 0);
    try {
        decodePicture(zeroRows);
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::InvalidPicture) << e.what();
    }
    std::vector<std::uint8_t> tiled = libtiffFile(3, 8, COMPRESSION_NONE, true);
    patchTag(tiled, TIFFTAG_TILEWIDTH, 1 << 20);
    try {
        decodePicture(tiled);
        ADD_FAILURE() << "accepted a tile larger than the picture";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::InvalidPicture) << e.what();
    }
}

TEST(Webp, LosslessIsExactAndLossyIsClose)
{
    for (const bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        PictureRef p = test::patternPicture(41, 27);
        if (alpha) {
            p->setSampleFormat({3, true, 8, false});
            for (int i = 0; i < 41 * 27; ++i)
                p->alpha8()[i] = std::uint8_t(i * 7);
        }
        const PictureRef lossless = decodePicture(encodeWebp(*p, 0));
        EXPECT_TRUE(lossless->source().lossless);
        EXPECT_EQ(lossless->sampleFormat().alpha, alpha);
        EXPECT_EQ(test::maxDifference(*p, *lossless), 0);
        if (alpha) {
            EXPECT_TRUE(std::equal(p->alpha8(), p->alpha8() + 41 * 27, lossless->alpha8()));
        }
        const PictureRef lossy = decodePicture(encodeWebp(*p, 90));
        EXPECT_FALSE(lossy->source().lossless);
        EXPECT_LT(test::maxDifference(*p, *lossy), 40);
    }
    try {
        decodePicture(
            std::vector<std::uint8_t>{'R', 'I', 'F', 'F', 9, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8'});
        ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::InvalidPicture);
        EXPECT_NE(std::string(e.what()).find("WebP"), std::string::npos) << e.what();
    }
}

// Alpha goes into a WebP from the picture's own alpha sample at every depth: 8-bit alpha,
// 16-bit RGBA and 16-bit grey + alpha, each alpha distinct from every colour sample.
TEST(Webp, AlphaComesFromTheAlphaSample)
{
    const int w = 19, h = 11;
    for (const SampleFormat format : {SampleFormat{3, true, 8, false}, SampleFormat{3, true, 16, false},
             SampleFormat{1, true, 16, false}}) {
        SCOPED_TRACE(testing::Message() << format.channels() << " x " << format.depth);
        PictureRef p = Picture::create(w, h, format.channels() * format.depth, false);
        p->setSampleFormat(format);
        const std::size_t channels = std::size_t(format.channels());
        std::vector<std::uint8_t> alpha(std::size_t(w) * h);
        for (std::size_t i = 0; i < alpha.size(); ++i) {
            alpha[i] = std::uint8_t(i * 7 + 200);
            if (format.depth == 8) {
                for (int c = 0; c < 3; ++c)
                    p->bits()[(i / w) * p->stride() + 3 * (i % w) + std::size_t(c)]
                        = std::uint8_t(i * 37 + c * 91);
                p->alpha8()[i] = alpha[i];
                continue;
            }
            // Each 16-bit value reads back as its high byte; the low one varies too.
            const auto wide
                = [i](std::size_t byte) { return std::uint16_t(byte * 257 + (byte < 255 ? i & 63 : 0)); };
            for (std::size_t c = 0; c + 1 < channels; ++c)
                p->samples16()[i * channels + c] = wide((i * 37 + c * 91) & 255);
            p->samples16()[i * channels + channels - 1] = wide(alpha[i]);
        }
        if (format.depth == 16) p->refreshFromSamples16();
        const PictureRef back = decodePicture(encodeWebp(*p, 0));
        ASSERT_TRUE(back->sampleFormat().alpha);
        EXPECT_EQ(test::maxDifference(*p, *back), 0);
        std::vector<std::uint8_t> got(alpha.size());
        for (int y = 0; y < h; ++y) // the same pixels in visual order, whatever the row order
            for (int x = 0; x < w; ++x)
                got[std::size_t(p->storedRow(y)) * w + std::size_t(x)]
                    = back->alpha8()[std::size_t(back->storedRow(y)) * w + std::size_t(x)];
        EXPECT_EQ(got, alpha);
    }
}

// A WebP EXIF chunk written with JPEG's "Exif\0\0" in front is read without it: the
// directory reads back, and goes on into other formats as one.
TEST(Metadata, WebpExifWithItsJpegPrefixIsReadBare)
{
    const std::vector<std::uint8_t> directory = writeExifDirectory(
        {{exif::Copyright, "(c) Ana Horvat 2024", std::nullopt}, {exif::Orientation, {}, 3}});
    for (const bool prefixed : {false, true}) {
        SCOPED_TRACE(prefixed);
        PictureRef p = test::patternPicture(8, 8);
        if (prefixed) p->metadata().exif = {'E', 'x', 'i', 'f', 0, 0};
        p->metadata().exif.insert(p->metadata().exif.end(), directory.begin(), directory.end());
        const PictureRef read = decodePicture(encodeWebp(*p, 0));
        EXPECT_EQ(read->metadata().exif, directory);
        for (const ImageFormat to : {ImageFormat::WebP, ImageFormat::Jpeg, ImageFormat::Png}) {
            const Metadata m = decodePicture(encodePicture(*read, to))->metadata();
            EXPECT_EQ(exifText(m.exif, exif::Copyright), "(c) Ana Horvat 2024") << formatName(to);
            EXPECT_EQ(exifNumber(m.exif, exif::Orientation), 3u) << formatName(to);
        }
    }
}

// An ICC profile as libpng checks it: size, signature, colour space, connection space;
// no tags, the rest filler.
std::vector<std::uint8_t> iccProfile(const char* space, std::size_t size)
{
    std::vector<std::uint8_t> p(size);
    for (std::size_t i = 132; i < size; ++i)
        p[i] = std::uint8_t(i * 31);
    p[0] = std::uint8_t(size >> 24), p[1] = std::uint8_t(size >> 16), p[2] = std::uint8_t(size >> 8),
    p[3] = std::uint8_t(size);
    std::memcpy(&p[8], "\x02\x10\0\0", 4);
    std::memcpy(&p[12], "mntr", 4);
    std::memcpy(&p[16], space, 4);
    std::memcpy(&p[20], "XYZ ", 4);
    std::memcpy(&p[36], "acsp", 4);
    return p;
}

Metadata sampleMetadata()
{
    Metadata m;
    m.exif = writeExifDirectory({{exif::Copyright, "(c) Ana Horvat 2024", std::nullopt},
        {exif::Artist, "Ana Horvat", std::nullopt}, {exif::Orientation, {}, 6}});
    m.icc = iccProfile("RGB ", 3000);
    const std::string xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF/></x:xmpmeta>";
    m.xmp.assign(xmp.begin(), xmp.end());
    m.iptc = {0x1c, 0x02, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1c, 0x02, 0x74, 0x00, 0x03, 'A', 'n', 'a'};
    m.text = {{"Comment", "taken at the lake"}};
    return m;
}

// Metadata survives each conversion that can hold it, read back from the written file.
TEST(Metadata, CarriedFromFileToFile)
{
    struct Route {
        ImageFormat from, to;
        bool iptc, text;
    };
    using enum ImageFormat;
    const Route routes[] = {{Jpeg, Jpeg, true, true}, {Png, Png, true, true}, {Tiff, Tiff, true, false},
        {Jpeg, Png, true, true}, {Png, Jpeg, true, true}, {Jpeg, Tiff, true, false},
        {Tiff, Jpeg, true, false}, {Jpeg, WebP, false, false}, {WebP, Png, false, false}};
    for (const Route& r : routes) {
        SCOPED_TRACE(std::string(formatName(r.from)) + " to " + formatName(r.to));
        PictureRef p = test::patternPicture(24, 16);
        p->metadata() = sampleMetadata();
        const PictureRef first = decodePicture(encodePicture(*p, r.from));
        const PictureRef second = decodePicture(encodePicture(*first, r.to));
        const Metadata& m = second->metadata();
        EXPECT_EQ(exifText(m.exif, exif::Copyright), "(c) Ana Horvat 2024");
        EXPECT_EQ(exifText(m.exif, exif::Artist), "Ana Horvat");
        EXPECT_EQ(exifNumber(m.exif, exif::Orientation), 6u);
        EXPECT_EQ(m.icc, p->metadata().icc);
        EXPECT_EQ(std::string(m.xmp.begin(), m.xmp.end()),
            std::string(p->metadata().xmp.begin(), p->metadata().xmp.end()));
        if (r.iptc) {
            EXPECT_EQ(std::vector<std::uint8_t>(
                          m.iptc.begin(), m.iptc.begin() + std::min<std::size_t>(m.iptc.size(), 15)),
                p->metadata().iptc);
        }
        if (r.text) {
            EXPECT_EQ(m.text, p->metadata().text);
        }
        EXPECT_TRUE(lostInFormat(*first, r.to).empty() || r.to == Tiff || r.to == WebP);
    }
}

TEST(Metadata, WhatAFormatCannotHoldIsNamed)
{
    {
        // A CMYK profile, or none at all, cannot go into a PNG; the picture is still written.
        PictureRef q = test::patternPicture(8, 8);
        q->metadata().icc = iccProfile("CMYK", 400);
        EXPECT_FALSE(lostInFormat(*q, ImageFormat::Png).empty());
        EXPECT_TRUE(decodePicture(encodePng(*q))->metadata().icc.empty());
        q->metadata().icc = {1, 2, 3};
        EXPECT_TRUE(decodePicture(encodePng(*q))->metadata().icc.empty());
    }
    PictureRef p = test::patternPicture(8, 8);
    p->metadata() = sampleMetadata();
    const auto has = [](const std::vector<std::string>& list, const std::string& part) {
        return std::any_of(list.begin(), list.end(),
            [&](const std::string& s) { return s.find(part) != std::string::npos; });
    };
    const std::vector<std::string> bmp = lostInFormat(*p, ImageFormat::Bmp);
    for (const char* part : {"EXIF", "ICC", "XMP", "IPTC", "text"})
        EXPECT_TRUE(has(bmp, part)) << part;
    EXPECT_TRUE(lostInFormat(*p, ImageFormat::Png).empty());
    EXPECT_TRUE(has(lostInFormat(*p, ImageFormat::WebP), "IPTC"));
    PictureRef camera = p->clone();
    camera->metadata().exif = writeExifDirectory({{exif::Copyright, "x", std::nullopt}, {0x829a, "", 1}});
    EXPECT_TRUE(has(lostInFormat(*camera, ImageFormat::Tiff), "EXIF camera"));
    PictureRef deep = Picture::create(4, 4, 64);
    deep->setSampleFormat({3, true, 16, false});
    EXPECT_TRUE(has(lostInFormat(*deep, ImageFormat::Jpeg), "alpha"));
    EXPECT_TRUE(has(lostInFormat(*deep, ImageFormat::Jpeg), "16-bit"));
    EXPECT_TRUE(lostInFormat(*deep, ImageFormat::Tiff).empty());
}

// A PNG text chunk beyond the carried limit is dropped with a note; the picture loads.
TEST(Metadata, OversizedBlockIsDroppedWithAWarning)
{
    PictureRef p = test::patternPicture(8, 8);
    p->metadata().text = {{"Huge", std::string(kMaxMetadataBlock + 8192, 'a')}};
    const PictureRef back = decodePicture(encodePng(*p));
    EXPECT_TRUE(back->metadata().text.empty());
    ASSERT_FALSE(back->source().notes.empty());
    EXPECT_NE(back->source().notes[0].find("dropped"), std::string::npos);
}

// An ICC profile fills at most 255 APP2 markers, numbered in one byte: up to that it is
// read back whole, beyond it it is left out and named, never written with a wrapped count.
TEST(Jpeg, IccProfilesUpTo255MarkersAreKeptLargerOnesNamed)
{
    constexpr std::size_t kPerMarker = 65519;
    for (const std::size_t size :
        {kPerMarker, 4 * kPerMarker + 1, 255 * kPerMarker, 255 * kPerMarker + 1, std::size_t(20) << 20}) {
        SCOPED_TRACE(size);
        PictureRef p = test::patternPicture(8, 8);
        p->metadata().icc = iccProfile("RGB ", size);
        const bool fits = size <= 255 * kPerMarker;
        const std::vector<std::string> lost = lostInFormat(*p, ImageFormat::Jpeg);
        EXPECT_EQ(lost.empty(), fits);
        EXPECT_EQ(!lost.empty() && lost[0].find("ICC profile") != std::string::npos, !fits);
        const PictureRef back = decodePicture(encodeJpeg(*p, 90));
        EXPECT_EQ(back->metadata().icc, fits ? p->metadata().icc : std::vector<std::uint8_t>());
    }
}

// A PNG chunk of type `type` holding `data`, with its length and checksum.
std::vector<std::uint8_t> pngChunk(const char* type, const std::vector<std::uint8_t>& data)
{
    std::string c(4, '\0');
    for (int i = 0; i < 4; ++i)
        c[std::size_t(i)] = char(data.size() >> (24 - 8 * i));
    c.append(type, 4);
    c.append(reinterpret_cast<const char*>(data.data()), data.size());
    const uLong crc
        = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(c.data()) + 4, uInt(c.size() - 4));
    for (int i = 0; i < 4; ++i)
        c.push_back(char(crc >> (24 - 8 * i)));
    return std::vector<std::uint8_t>(c.begin(), c.end());
}

// A small PNG with `chunks` put in before its IEND.
std::vector<std::uint8_t> pngWith(const std::vector<std::vector<std::uint8_t>>& chunks)
{
    std::vector<std::uint8_t> png = encodePng(*test::patternPicture(8, 8));
    png.resize(png.size() - 12); // IEND
    for (const auto& c : chunks)
        png.insert(png.end(), c.begin(), c.end());
    const std::vector<std::uint8_t> end = pngChunk("IEND", {});
    png.insert(png.end(), end.begin(), end.end());
    return png;
}

// Text chunks are bounded all together, not one by one: ten zTXt chunks of a few kilobytes
// that inflate to 20 MiB each keep three (60 MiB) and name the seven dropped; more than a
// thousand small entries keep the first thousand and name the rest. Damaged ones are named.
TEST(Metadata, TextChunksAreBoundedAllTogether)
{
    std::vector<std::uint8_t> z = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    {
        const std::string big(std::size_t(20) << 20, 'a');
        uLongf size = compressBound(uLong(big.size()));
        std::vector<std::uint8_t> packed(size);
        ASSERT_EQ(
            compress2(packed.data(), &size, reinterpret_cast<const Bytef*>(big.data()), uLong(big.size()), 9),
            Z_OK);
        z.insert(z.end(), packed.begin(), packed.begin() + std::ptrdiff_t(size));
    }
    const PictureRef bomb = decodePicture(pngWith(std::vector(10, pngChunk("zTXt", z))));
    ASSERT_EQ(bomb->metadata().text.size(), 3u);
    EXPECT_EQ(bomb->metadata().text[2].text.size(), std::size_t(20) << 20);
    EXPECT_EQ(bomb->source().notes,
        std::vector<std::string>{"PNG: 7 text chunk(s) dropped: all text together may take at most 64 MiB"});

    std::vector<std::vector<std::uint8_t>> many;
    for (int i = 0; i < 1500; ++i) {
        const std::string entry = "Note" + std::string(1, '\0') + std::to_string(i);
        many.push_back(pngChunk("tEXt", std::vector<std::uint8_t>(entry.begin(), entry.end())));
    }
    many.push_back(pngChunk("zTXt", {'B', 'a', 'd', 0, 0, 1, 2, 3})); // not a zlib stream
    const PictureRef crowded = decodePicture(pngWith(many));
    ASSERT_EQ(crowded->metadata().text.size(), 1000u);
    EXPECT_EQ(crowded->metadata().text[999].text, "999");
    EXPECT_EQ(crowded->source().notes,
        std::vector<std::string>{"PNG: 501 text chunk(s) dropped beyond the first 1000"});

    // iTXt, compressed or not, and a damaged chunk among good ones.
    std::vector<std::uint8_t> itxt = {'T', 'i', 't', 'l', 'e', 0, 0, 0, 'h', 'r', 0, 'N', 0};
    for (const char c : std::string("Mačka"))
        itxt.push_back(std::uint8_t(c));
    const PictureRef mixed
        = decodePicture(pngWith({pngChunk("iTXt", itxt), pngChunk("zTXt", {'X', 0, 0, 9})}));
    ASSERT_EQ(mixed->metadata().text.size(), 1u);
    EXPECT_EQ(mixed->metadata().text[0].keyword, "Title");
    EXPECT_EQ(mixed->metadata().text[0].text, "Mačka");
    EXPECT_EQ(mixed->source().notes, std::vector<std::string>{"PNG: a damaged text chunk was dropped"});
}

// A WebP metadata chunk over the carried limit is dropped with a note, as every format's is.
TEST(Metadata, OversizedWebpChunkIsNamed)
{
    PictureRef p = test::patternPicture(8, 8);
    p->metadata().exif.assign(kMaxMetadataBlock + 1, 7);
    p->metadata().xmp = {'<', 'x', '/', '>'};
    const PictureRef back = decodePicture(encodeWebp(*p, 0));
    EXPECT_TRUE(back->metadata().exif.empty());
    EXPECT_EQ(back->metadata().xmp, p->metadata().xmp);
    EXPECT_EQ(back->source().notes,
        std::vector<std::string>{"WebP: the EXIF chunk of 67108865 bytes is over 64 MiB; it was dropped"});
}

TEST(Jpeg, QualityIsEstimatedAndSubsamplingFollowsTheInput)
{
    const PictureRef p = test::patternPicture(48, 32);
    for (const int q : {30, 50, 75, 90, 95, 100}) {
        SCOPED_TRACE(q);
        EXPECT_EQ(decodePicture(encodeJpeg(*p, q))->source().jpegQuality, q);
    }
    for (const Subsampling s : {Subsampling::S444, Subsampling::S422, Subsampling::S420}) {
        const PictureRef j = decodePicture(encodeJpeg(*p, 80, s));
        EXPECT_EQ(j->source().subsampling, s);
        // Written again without a choice: as the input.
        EXPECT_EQ(decodePicture(encodeJpeg(*j, 80))->source().subsampling, s);
    }
    EXPECT_EQ(decodePicture(encodeJpeg(*p, 80))->source().subsampling, Subsampling::S420);
    // "Same quality": the input's estimate.
    const PictureRef q75 = decodePicture(encodeJpeg(*p, 75));
    SaveOptions same;
    same.sameQuality = true;
    EXPECT_EQ(decodePicture(encodePicture(*q75, ImageFormat::Jpeg, same))->source().jpegQuality, 75);
}

TEST(Exif, DamagedBlocksReadAsEmptyOrPartial)
{
    const std::vector<std::uint8_t> good
        = writeExifDirectory({{exif::Copyright, "(c) someone", std::nullopt}});
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        const std::vector<std::uint8_t> part(good.begin(), good.begin() + std::ptrdiff_t(cut));
        EXPECT_NO_THROW(readExifDirectory(part));
    }
    std::vector<std::uint8_t> pointer = good;
    pointer[4] = 0xff; // directory offset past the end
    EXPECT_TRUE(readExifDirectory(pointer).empty());
    EXPECT_EQ(exifText(good, exif::Copyright), "(c) someone");
}

} // namespace
} // namespace pelinor
