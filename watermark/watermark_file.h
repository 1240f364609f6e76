// The watermark file: a "CXSG" tag line, N, alpha, mean, deviation, then N values.
#pragma once

#include <cstddef>
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
    std::vector<double> values; // exactly `length` values once read
};

// The longest watermark generated and the largest watermark file read. A file text is
// held in memory whole, so these keep it to a few hundred megabytes (a value line is at
// most 24 bytes).
inline constexpr std::int32_t kMaxWatermarkLength = std::int32_t(1) << 24;
inline constexpr std::size_t kMaxWatermarkFileBytes = std::size_t(512) << 20;

// Reads the five header fields and then N values, ignoring anything after them.
// Errors: 53 file not found, 13 a field that is not a number, 62 fewer values than
// announced, 9 N below 1 or above kMaxWatermarkLength.
Watermark readWatermark(const std::string& path);
Watermark parseWatermark(std::string_view text);

// True when a file's first bytes (kTagBytes of them suffice) are a watermark file's tag line.
inline constexpr std::size_t kTagBytes = 6;
bool startsAsWatermarkFile(std::string_view head);

// A real as the file stores it: period separator, up to 15 significant digits,
// exponent notation for very large or small magnitudes, no blanks.
std::string formatReal(double value);

// The whole file text (CRLF after every line). The tag line is always "CXSG" in quotes;
// values must hold max(length, 0) numbers (else error 5).
std::string formatWatermark(const Watermark& watermark);

// The pieces of formatWatermark, for writers that produce values one at a time.
std::string formatWatermarkHeader(std::int32_t length, double alpha, double mean, double deviation);
void appendWatermarkValue(std::string& text, double value);

// Refuses a watermark that gives no similarity: alpha 0 (err::ZeroAlpha), by which the
// embedded values would be divided, and all-zero values (err::ZeroWatermark).
void requireUsableWatermark(const Watermark& watermark);

} // namespace pelinor
