// Every fuzzing seed and every input that once crashed or hung a reader goes through
// its reader again: it must be read or refused with a pelinor::Error, nothing else
// (the sanitizer build catches memory faults).
#include "base/error.h"
#include "image/codecs/codecs.h"
#include "image/image_io.h"
#include "watermark/watermark_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string_view>
#include <tuple>

namespace pelinor {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> bytesOf(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Reads the file with the reader its extension names (.bin: by content only); false if
// refused.
bool readByExtension(const fs::path& path)
{
    const std::vector<std::uint8_t> bytes = bytesOf(path);
    const std::string ext = path.extension().string();
    try {
        if (ext == ".wmk") {
            parseWatermark(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            return true;
        }
        if (ext == ".bmp") decodeBmp(bytes);
        if (ext == ".png") decodePng(bytes);
        if (ext == ".jpg" || ext == ".jpeg") decodeJpeg(bytes);
        if (ext == ".tif" || ext == ".tiff") decodeTiff(bytes);
        if (ext == ".webp") decodeWebp(bytes);
        decodePicture(bytes); // by content, as loading does
        return true;
    } catch (const Error&) {
        return false;
    }
}

// The input files under a folder, by extension (the folder also holds this test).
std::vector<fs::path> filesUnder(const fs::path& folder)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file()
            && (ext == ".bmp" || ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".tif"
                || ext == ".webp" || ext == ".wmk" || ext == ".bin"))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// FNV-1a over the pixels as seen, top row first, padding left out.
std::uint64_t visualHash(const Picture& p)
{
    std::uint64_t h = 14695981039346656037ull;
    for (int y = 0; y < p.height(); ++y) {
        const std::uint8_t* row = p.bits() + std::size_t(p.storedRow(y)) * p.stride();
        for (std::size_t i = 0; i < 3 * std::size_t(p.width()); ++i)
            h = (h ^ row[i]) * 1099511628211ull;
    }
    return h;
}

// What each kept input must give: a picture of this size, depth and pixel hash, or a
// refusal with this number and text (a watermark file: read, or that refusal). Every kept
// input has a row, and every row a file.
struct Kept {
    const char* name;
    int width, height, bitsPerPixel;
    std::uint64_t hash;
    int error; // with `refusal`, instead of a picture
    const char* refusal;
    const char* note = nullptr; // the one note the picture must carry
    std::int64_t maxPixels = kDefaultMaxPixels; // the budget it is read under
};
const Kept kKept[] = {
    // A 1 kB RLE8 file whose header asks for 50331653 x 4 pixels and whose stream ends at
    // once: a valid, all-black picture, but the desktop program took 4.5 GB to show it; over
    // the default pixel budget, refused from the header.
    {"bmp_rle8_604mb_canvas_from_1kb_file.bmp", 0, 0, 0, 0, err::PixelBudget,
        "Out of memory: a 50331653 x 4 picture (201.3 megapixels) is over the limit of 150 megapixels"},
    // 5 x 4 RLE8 whose runs cover each row's padding: rows black, 0x55, 0xaa and white from
    // the bottom, nothing of the runs' overhang.
    {"bmp_rle8_runs_into_row_padding.bmp", 5, 4, 8, 0x6ac9fec456df9871ull, 0, nullptr},
    // A 380-byte PNG whose XMP chunk claims 1.9 GB: libpng would size its buffer from the
    // length before finding the file short (seconds and gigabytes); refused from the chunk list.
    {"png_itxt_chunk_claiming_1_9_gb_in_380_bytes.png", 0, 0, 0, 0, err::InvalidPicture,
        "Invalid picture: PNG: a chunk of 1929379874 bytes runs past the end of the file"},
    // 34 bytes of WebP whose header claims a picture of about a gigabyte: once took 2 GB and
    // seconds (our buffers were cleared before libwebp found the data missing). Over the
    // default budget; PixelBudget.WebpDataIsCheckedBeforeOurPixels reads it with a larger one.
    {"webp_34_bytes_claiming_a_huge_canvas.webp", 0, 0, 0, 0, err::PixelBudget,
        "Out of memory: a 3145734 x 97 picture (305.1 megapixels) is over the limit of 150 megapixels"},
    // 5 x 4 lossless WebP with EXIF, ICC and XMP: written as JPEG and read back, its
    // subsampling was once read after libjpeg had freed the component descriptions.
    {"metadata_jpeg_subsampling_read_after_its_memory_was_freed.webp", 5, 4, 24, 0x09e4c49ae0eb5211ull, 0,
        nullptr},
    // tests/data/hostile: inputs of the attacks on the program, small enough to keep.
    // A 38-byte lossless WebP declaring 16383 x 9000 pixels: every Huffman code has one symbol,
    // so no pixel costs a bit. Within the default budget it decodes (seconds, about a gigabyte:
    // cli_limits_canvas holds it to that); here a budget below it refuses it from the header.
    {"webp_38_bytes_lossless_16383x9000.webp", 0, 0, 0, 0, err::PixelBudget,
        "Out of memory: a 16383 x 9000 picture (147.4 megapixels) is over the limit of 100 megapixels",
        nullptr, 100'000'000},
    // An empty tEXt chunk: libpng hands it over without a data pointer, which was searched
    // for the keyword's end (undefined behaviour); dropped as damaged, the picture read.
    {"png_empty_text_chunk.png", 3, 2, 1, 0xa5316b26ceb6bc2full, 0, nullptr,
        "PNG: a damaged text chunk was dropped"},
    // A BigTIFF (magic number 43, 64-bit offsets) was refused as no known format.
    {"tiff_big_5x3_rgb.tif", 5, 3, 24, 0x6a765098d4edfb17ull, 0, nullptr},
    // Three pages: the first is read, and the two left out are named.
    {"tiff_three_pages.tif", 4, 3, 8, 0x7d36b0acc21ea8f5ull, 0, nullptr,
        "TIFF: only the first of its 3 pages is read; the other 2 are left out"},
};

// Where kept inputs live: the readers' own regressions, and the attacks' inputs.
std::vector<fs::path> keptInputs()
{
    std::vector<fs::path> files = filesUnder(fs::path(PELINOR_SOURCE_DIR) / "tests" / "regressions");
    for (const fs::path& f : filesUnder(fs::path(PELINOR_TESTDATA) / "hostile"))
        files.push_back(f);
    return files;
}

TEST(Regressions, EveryKeptInputIsReadOrRefused)
{
    const auto files = keptInputs();
    EXPECT_EQ(files.size(), std::size(kKept));
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        const Kept* kept = std::find_if(
            std::begin(kKept), std::end(kKept), [&](const Kept& k) { return file.filename() == k.name; });
        ASSERT_NE(kept, std::end(kKept)) << "a kept input without its expected result";
        try {
            // Read once, by content as loading does (a large canvas is costly to read twice).
            const std::vector<std::uint8_t> bytes = bytesOf(file);
            if (file.extension() == ".wmk") {
                parseWatermark(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
                EXPECT_EQ(kept->refusal, nullptr) << "read, but should be refused";
                continue;
            }
            const PictureRef p = decodePicture(bytes, kept->maxPixels);
            ASSERT_EQ(kept->refusal, nullptr) << "read, but should be refused";
            EXPECT_EQ(std::tuple(p->width(), p->height(), p->bitsPerPixel()),
                std::tuple(kept->width, kept->height, kept->bitsPerPixel));
            EXPECT_EQ(visualHash(*p), kept->hash);
            EXPECT_EQ(p->source().notes,
                kept->note ? std::vector<std::string>{kept->note} : std::vector<std::string>());
        } catch (const Error& e) {
            ASSERT_NE(kept->refusal, nullptr) << "refused, but should be read: " << e.what();
            EXPECT_EQ(e.number(), kept->error);
            EXPECT_EQ(std::string(e.what()), kept->refusal);
        }
    }
}

// The metadata of every kept picture that has some, carried into each format and read back
// (the sanitizers watch the way there and back).
TEST(Regressions, KeptMetadataGoesThroughEveryFormat)
{
    for (const auto& file : keptInputs()) {
        if (!file.filename().string().starts_with("metadata_")) continue;
        SCOPED_TRACE(file.string());
        const PictureRef source = decodePicture(bytesOf(file));
        ASSERT_FALSE(source->metadata().empty());
        for (const ImageFormat format :
            {ImageFormat::Jpeg, ImageFormat::Png, ImageFormat::Tiff, ImageFormat::WebP}) {
            const PictureRef back = decodePicture(encodePicture(*source, format));
            EXPECT_EQ(back->metadata().xmp, source->metadata().xmp) << formatName(format);
        }
    }
}

TEST(Regressions, FuzzSeedsAreRead)
{
    const auto files = filesUnder(fs::path(PELINOR_SOURCE_DIR) / "fuzz" / "corpus");
    EXPECT_GE(files.size(), 16u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        const bool refusedOnPurpose = file.filename().string().starts_with("refused_");
        EXPECT_EQ(readByExtension(file), !refusedOnPurpose);
    }
}

} // namespace
} // namespace pelinor
