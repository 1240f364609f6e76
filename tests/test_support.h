// What the core's tests share: temporary folders, error expectations, picture makers and
// watermarks.
#pragma once

#include "base/error.h"
#include "image/image_io.h"
#include "image/picture.h"
#include "watermark/watermark_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pelinor::test {

// The BMP suite in the shared test data.
inline const std::string kSuite = PELINOR_TESTDATA "/bmpsuite/";

// A fresh, empty folder removed again, with everything in it, at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "pelinor-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The number and text of the error an action throws; 0 and no text when it throws none.
inline std::pair<int, std::string> failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& e) {
        return {e.number(), e.what()};
    }
    return {};
}

// Expects f to throw error `number` with `part` in its text.
inline void expectError(const std::function<void()>& f, int number, const std::string& part = {})
{
    try {
        f();
        ADD_FAILURE() << "no error, expected " << number;
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), number) << e.what();
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
}

// Blue, green, red of pixel x in visual row y (0 = the top row), whatever the row order.
inline auto* pixelAt(auto& p, int x, int y)
{
    return p.bits() + p.stride() * std::size_t(p.storedRow(y)) + 3 * std::size_t(x);
}

// A 24-bit picture whose byte c (0 = blue) of pixel (x, visual row y) is value(x, y, c).
inline PictureRef makePicture(
    int w, int h, const std::function<int(int, int, int)>& value, bool topDown = false)
{
    PictureRef p = Picture::create(w, h, 24, topDown);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                pixelAt(*p, x, y)[c] = std::uint8_t(value(x, y, c));
    return p;
}

// The pixel bytes top row first, without the row padding: equal for equal-looking pictures.
inline std::vector<std::uint8_t> pixels(const Picture& p)
{
    std::vector<std::uint8_t> out;
    for (int y = 0; y < p.height(); ++y)
        out.insert(out.end(), pixelAt(p, 0, y), pixelAt(p, 0, y) + 3 * p.width());
    return out;
}

// Largest difference of any channel of any pixel as seen; 256 when the sizes differ. With
// black given, pixels black in a but not in b are left out and counted there.
inline int maxDifference(const Picture& a, const Picture& b, int* black = nullptr)
{
    if (a.width() != b.width() || a.height() != b.height()) return 256;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const std::uint8_t *pa = pixelAt(a, x, y), *pb = pixelAt(b, x, y);
            if (black && (pa[0] | pa[1] | pa[2]) == 0 && (pb[0] | pb[1] | pb[2]) != 0)
                ++*black;
            else
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(pa[c] - pb[c]));
        }
    return worst;
}

// Every byte drawn at random: distinct coefficient magnitudes.
inline PictureRef noisePicture(int w, int h, unsigned seed, bool topDown = false)
{
    std::mt19937 rng(seed);
    return makePicture(
        w, h, [&](int, int, int) { return int(rng() & 0xFF); }, topDown);
}

// Smooth ramps, so that JPEG stays close, yet every channel, row and column (up to 150)
// differs, so that mistakes in row, column or channel order show.
inline PictureRef patternPicture(int width, int height, bool topDown = false)
{
    return makePicture(
        width, height,
        [&](int x, int y, int c) {
            return c == 0 ? 40 + 150 * x / width
                : c == 1  ? 200 - 150 * y / height
                          : 60 + 100 * (x + y) / (width + height);
        },
        topDown);
}

// Smooth and photograph-like, with texture at several scales.
inline PictureRef texturedPicture(int w, int h, bool topDown = false)
{
    return makePicture(
        w, h,
        [](int x, int y, int c) {
            const double v = 128 + 60 * std::sin(x * 0.07 + c) * std::cos(y * 0.05)
                + 30 * std::sin(x * 0.31 + y * 0.23) + 15 * std::cos(x * 0.9 - y * 0.7 + c);
            return int(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
        },
        topDown);
}

// The sample photograph shipped with the sources (451 x 300, 24-bit).
inline PictureRef samplePhoto()
{
    return loadPicture(std::string(PELINOR_SOURCE_DIR) + "/samples/chelsea.png");
}

inline Watermark gaussianWatermark(int length, double alpha, unsigned seed)
{
    Watermark w{"", length, alpha, 0.0, 1.0, std::vector<double>(std::size_t(length))};
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (double& x : w.values)
        x = normal(rng);
    return w;
}

} // namespace pelinor::test
