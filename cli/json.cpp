#include "cli/json.h"

#include <cmath>
#include <cstdio>

namespace pelinor::cli {

std::string JsonObject::quote(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
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
            if (u < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", u);
                out += esc;
            } else {
                out += c; // UTF-8 passes through
            }
        }
    }
    return out + "\"";
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

JsonObject& JsonObject::add(const std::string& key, double number)
{
    if (!std::isfinite(number)) {
        addRaw(key, "null");
    } else {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", number);
        addRaw(key, text);
    }
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, long long number)
{
    addRaw(key, std::to_string(number));
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

} // namespace pelinor::cli
