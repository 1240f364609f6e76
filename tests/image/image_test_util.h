// Helpers shared by the image tests.
#pragma once

#include "base/error.h"
#include "image/picture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>

namespace pelinor::test {

inline const std::string kSuite = PELINOR_TESTDATA "/bmpsuite/";

// Blue, green, red of the pixel at (x, visual row y), 0 = top.
inline const std::uint8_t* pixelAt(const Picture& p, int x, int visualRow)
{
    return p.bits() + std::size_t(p.storedRow(visualRow)) * p.stride() + 3 * std::size_t(x);
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

// Smooth ramps, so that JPEG stays close, yet every channel, row and column (up to 150)
// differs, so that mistakes in row, column or channel order show.
inline PictureRef patternPicture(int width, int height, bool topDown = false)
{
    PictureRef p = Picture::create(width, height, 24, topDown);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* px = const_cast<std::uint8_t*>(pixelAt(*p, x, y));
            px[0] = std::uint8_t(40 + 150 * x / width);
            px[1] = std::uint8_t(200 - 150 * y / height);
            px[2] = std::uint8_t(60 + 100 * (x + y) / (width + height));
        }
    return p;
}

// The number and text of the error an action throws; 0 and no text when it throws none.
inline std::pair<int, std::string> failureOf(auto&& action)
{
    try {
        action();
    } catch (const Error& e) {
        return {e.number(), e.what()};
    }
    return {};
}

// A fresh, empty folder removed again at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "pelinor-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace pelinor::test
