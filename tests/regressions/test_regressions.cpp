// Every fuzzing seed and every input that once crashed or hung a reader goes through
// its reader again: it must be read or refused with a pelinor::Error, nothing else
// (the sanitizer build catches memory faults).
#include "base/error.h"
#include "image/image_io.h"
#include "watermark/watermark_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string_view>

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
            && (ext == ".bmp" || ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".wmk"
                || ext == ".bin"))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(Regressions, EveryKeptInputIsReadOrRefused)
{
    const auto files = filesUnder(fs::path(PELINOR_SOURCE_DIR) / "tests" / "regressions");
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        EXPECT_NO_THROW(readByExtension(file));
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
