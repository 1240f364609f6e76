#include "cli/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace pelinor::cli {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is not one (overlong
// forms, encoded surrogates and code points past U+10FFFF included).
std::size_t utf8Length(const std::string& s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return n;
}

void appendEscape(std::string& out, unsigned code)
{
    char esc[8];
    std::snprintf(esc, sizeof esc, "\\u%04x", code);
    out += esc;
}

} // namespace

std::string JsonObject::quote(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            const std::size_t n = utf8Length(text, i);
            if (n == 0) {
                appendEscape(out, 0xDC00 + u);
                ++i;
            } else {
                out.append(text, i, n);
                i += n;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7F)
                appendEscape(out, u);
            else
                out += c;
        }
        ++i;
    }
    return out + "\"";
}

std::string JsonObject::number(double value)
{
    if (!std::isfinite(value)) return "null";
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc()) return "null";
    return std::string(text, end);
}

void JsonObject::addRaw(const std::string& key, const std::string& json)
{
    if (!m_body.empty()) m_body += ", ";
    m_body += quote(key) + ": " + json;
}

JsonObject& JsonObject::add(const std::string& key, const std::string& text)
{
    addRaw(key, quote(text));
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, double value)
{
    addRaw(key, number(value));
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, long long value)
{
    addRaw(key, std::to_string(value));
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, bool value)
{
    addRaw(key, value ? "true" : "false");
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, const JsonObject& object)
{
    addRaw(key, object.str());
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, const JsonArray& array)
{
    addRaw(key, array.str());
    return *this;
}

JsonObject& JsonObject::addNull(const std::string& key)
{
    addRaw(key, "null");
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, std::span<const double> numbers)
{
    std::string json = "[";
    for (std::size_t i = 0; i < numbers.size(); ++i)
        json += (i ? ", " : "") + number(numbers[i]);
    addRaw(key, json + "]");
    return *this;
}

JsonArray& JsonArray::add(const JsonObject& object)
{
    m_items.push_back(object.str());
    return *this;
}

std::string JsonArray::str() const
{
    std::string s = "[";
    for (std::size_t i = 0; i < m_items.size(); ++i)
        s += (i ? ",\n " : "") + m_items[i];
    return s + "]";
}

void addLogProbability(JsonObject& o, const std::string& key, double logP)
{
    if (std::isnan(logP)) {
        o.addNull(key).addNull("log10_" + key);
        return;
    }
    o.add(key, std::exp(logP));
    if (std::isinf(logP))
        o.addNull("log10_" + key);
    else
        o.add("log10_" + key, logP / std::numbers::ln10);
}

} // namespace pelinor::cli
