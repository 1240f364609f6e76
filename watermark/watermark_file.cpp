#include "watermark/watermark_file.h"

#include "base/atomic_file.h"
#include "base/error.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <system_error>

namespace pelinor {

namespace {

constexpr std::string_view kTagLine = "\"CXSG\"";
constexpr std::string_view kLineEnd = "\r\n";
constexpr int kHeaderFields = 5;
// Longest text formatReal produces: "-1.23456789012345E-308".
constexpr std::size_t kRealChars = 32;

// Writes value at out; returns the end. The text uses a period whatever the locale,
// because to_chars never consults one.
char* formatRealTo(char* out, double value)
{
    if (!std::isfinite(value))
        throw Error(err::Overflow, "Overflow: a watermark value is not a finite number");
    if (value == 0.0) value = 0.0; // no "-0"
    char* end = std::to_chars(out, out + kRealChars, value, std::chars_format::general, 15).ptr;
    char* e = std::find(out, end, 'e');
    if (e != end) {
        *e = 'E';
        // Rounding to 15 digits can carry a value next to the largest double past it
        // (1.79769313486232E+308), which would not read back: round toward zero there.
        double back = 0.0;
        if (std::from_chars(out, end, back).ec == std::errc::result_out_of_range) --e[-1];
    }
    return end;
}

std::string_view trimBlanks(std::string_view s)
{
    constexpr std::string_view blanks = " \t\r";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::string quoted(std::string_view field)
{
    constexpr std::size_t maxShown = 40;
    std::string out = "\"";
    for (char c : field.substr(0, maxShown))
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    if (field.size() > maxShown) out += "...";
    return out + "\"";
}

[[noreturn]] void notANumber(int line, std::string_view field, const char* what)
{
    throw Error(err::TypeMismatch,
        "Type mismatch: line " + std::to_string(line) + " of the watermark file (" + quoted(field)
            + ") is not " + what);
}

// Splits the text into lines (LF or CRLF; the line end is not part of the line).
class LineReader {
public:
    explicit LineReader(std::string_view text)
        : m_rest(text)
    {
    }

    bool next(std::string_view& line)
    {
        if (m_rest.empty()) return false;
        const auto lf = m_rest.find('\n');
        line = m_rest.substr(0, lf);
        m_rest = lf == std::string_view::npos ? std::string_view{} : m_rest.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++m_number;
        return true;
    }
    int number() const noexcept { return m_number; }
    std::size_t remaining() const noexcept { return m_rest.size(); }

private:
    std::string_view m_rest;
    int m_number = 0;
};

// Decimal exponent of the leading significant digit of a validated real: tells an
// underflow (negative) from an overflow when from_chars reports the value out of range.
long long leadingExponent(std::string_view mantissa, std::string_view exponent)
{
    long long exp = 0;
    bool negative = false;
    for (char c : exponent) {
        if (c == '-') negative = true;
        if (c >= '0' && c <= '9') exp = std::min(exp * 10 + (c - '0'), 1'000'000'000LL);
    }
    if (negative) exp = -exp;
    const auto point = std::min(mantissa.find('.'), mantissa.size());
    const auto first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return 0;
    return exp
        + (first < point ? static_cast<long long>(point - first) - 1
                         : -static_cast<long long>(first - point));
}

// A real: optional sign, digits with an optional period (a digit on at least one side),
// optional exponent E/e with optional sign and digits. Blanks around it are allowed.
double parseReal(std::string_view field, int line)
{
    const std::string_view text = trimBlanks(field);
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    auto isDigit = [&](std::size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
    while (isDigit(i))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (isDigit(i))
            ++i, ++digits;
    }
    const std::string_view mantissa = text.substr(mantissaStart, i - mantissaStart);
    std::string_view exponent;
    if (digits > 0 && i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        const std::size_t start = i++;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (!isDigit(i)) notANumber(line, field, "a number");
        while (isDigit(i))
            ++i;
        exponent = text.substr(start + 1, i - start - 1);
    }
    if (digits == 0 || i != text.size()) notANumber(line, field, "a number");

    // from_chars takes no '+'; it reads a period whatever the locale.
    const std::size_t from = text[0] == '+' ? 1 : 0;
    double value = 0.0;
    const auto result = std::from_chars(text.data() + from, text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (leadingExponent(mantissa, exponent) < 0) return text[0] == '-' ? -0.0 : 0.0;
        throw Error(err::Overflow,
            "Overflow: line " + std::to_string(line) + " of the watermark file (" + quoted(field)
                + ") is too large a number");
    }
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
        notANumber(line, field, "a number");
    return value;
}

std::int32_t parseLength(std::string_view field, int line)
{
    std::string_view text = trimBlanks(field);
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    std::int32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        throw Error(err::Overflow,
            "Overflow: the watermark length on line " + std::to_string(line) + " (" + quoted(field)
                + ") is out of range");
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        notANumber(line, field, "a whole number");
    return value;
}

} // namespace

std::string formatReal(double value)
{
    char buffer[kRealChars];
    return std::string(buffer, formatRealTo(buffer, value));
}

std::string formatWatermarkHeader(std::int32_t length, double alpha, double mean, double deviation)
{
    std::string text(kTagLine);
    text += kLineEnd;
    text += std::to_string(length);
    text += kLineEnd;
    for (double value : {alpha, mean, deviation})
        appendWatermarkValue(text, value);
    return text;
}

void appendWatermarkValue(std::string& text, double value)
{
    char buffer[kRealChars];
    text.append(buffer, formatRealTo(buffer, value));
    text += kLineEnd;
}

std::string formatWatermark(const Watermark& watermark)
{
    if (watermark.values.size() != static_cast<std::size_t>(std::max(watermark.length, std::int32_t(0))))
        throw Error(err::InvalidCall,
            "Invalid procedure call: the watermark announces " + std::to_string(watermark.length)
                + " values but holds " + std::to_string(watermark.values.size()));
    std::string text
        = formatWatermarkHeader(watermark.length, watermark.alpha, watermark.mean, watermark.deviation);
    text.reserve(text.size() + watermark.values.size() * 20);
    for (double value : watermark.values)
        appendWatermarkValue(text, value);
    return text;
}

Watermark parseWatermark(std::string_view text)
{
    LineReader lines(text);
    std::string_view fields[kHeaderFields];
    for (int i = 0; i < kHeaderFields; ++i) {
        if (!lines.next(fields[i]))
            throw Error(err::InputPastEnd,
                "Input past end of file: the watermark file ends after " + std::to_string(i) + " of "
                    + std::to_string(kHeaderFields) + " header lines");
    }
    Watermark w;
    w.tag = std::string(trimBlanks(fields[0]));
    w.length = parseLength(fields[1], 2);
    w.alpha = parseReal(fields[2], 3);
    w.mean = parseReal(fields[3], 4);
    w.deviation = parseReal(fields[4], 5);
    if (w.length < 1)
        throw Error(err::SubscriptOutOfRange,
            "Subscript out of range: the watermark file announces " + std::to_string(w.length)
                + " values (at least 1 needed)");
    // Refused from the header, before any memory is set aside: no watermark this program
    // generates is longer.
    if (w.length > kMaxWatermarkLength)
        throw Error(err::SubscriptOutOfRange,
            "Subscript out of range: the watermark file announces " + std::to_string(w.length)
                + " values (at most " + std::to_string(kMaxWatermarkLength) + ")");

    // Every value takes at least two bytes ("0" and a line end) but the last, so the text
    // itself bounds the reservation whatever the header claims.
    const std::size_t wanted = static_cast<std::size_t>(w.length);
    try {
        w.values.reserve(std::min(wanted, lines.remaining() / 2 + 1));
        std::string_view line;
        while (w.values.size() < wanted && lines.next(line))
            w.values.push_back(parseReal(line, lines.number()));
    } catch (const std::bad_alloc&) {
        throw Error(
            err::OutOfMemory, "Out of memory: reading " + std::to_string(wanted) + " watermark values");
    }
    if (w.values.size() < wanted)
        throw Error(err::InputPastEnd,
            "Input past end of file: the watermark file holds " + std::to_string(w.values.size()) + " of the "
                + std::to_string(wanted) + " values it announces");
    return w;
}

Watermark readWatermark(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = readFileBytes(path, kMaxWatermarkFileBytes);
    try {
        return parseWatermark(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } catch (const Error& e) {
        throw Error(e.number(), std::string(e.what()) + " (" + path + ")");
    }
}

void requireUsableWatermark(const Watermark& watermark)
{
    if (watermark.alpha == 0.0)
        throw Error(err::ZeroAlpha,
            "The watermark's alpha is 0: the embedded values cannot be extracted (they are divided by it)");
    if (std::all_of(watermark.values.begin(), watermark.values.end(), [](double w) { return w == 0.0; }))
        throw Error(
            err::ZeroWatermark, "Every value of the watermark is 0: there is nothing to correlate with");
}

bool startsAsWatermarkFile(std::string_view head)
{
    // The readers never check the tag, but every writer puts it first: a file that starts
    // otherwise was not written as a watermark.
    return head.starts_with(kTagLine);
}

} // namespace pelinor
