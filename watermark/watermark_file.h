// The watermark file: a "CXSG" tag line, N, alpha, mean, deviation, then N values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelinor {

struct Watermark {
    std::string tag = "\"CXSG\"";
    std::int32_t length = 0;
    double alpha = 0.0;
    double mean = 0.0;
    double deviation = 0.0;
    std::vector<double> values;  // exactly `length` values once read
};

// Reads the five header fields and then N values, ignoring anything after them.
// Errors: 53 file not found, 13 a field that is not a number, 62 fewer values than
// announced, 9 N below 1.
Watermark readWatermark(const std::string& path);
Watermark parseWatermark(std::string_view text);

// A real as the file stores it: period separator, up to 15 significant digits,
// exponent notation for very large or small magnitudes, no blanks.
std::string formatReal(double value);

// The whole file text (CRLF after every line), and writing it atomically.
std::string formatWatermark(const Watermark& watermark);
void writeWatermark(const std::string& path, const Watermark& watermark);

}  // namespace pelinor
