// A minimal JSON writer for machine-readable output (documented in docs/json.md).
#pragma once

#include <span>
#include <string>
#include <vector>

namespace pelinor::cli {

// The version of the documented JSON; every top-level object carries it as "schema".
inline constexpr int kJsonSchema = 1;

class JsonArray;

class JsonObject {
public:
    JsonObject& add(const std::string& key, const std::string& text);
    JsonObject& add(const std::string& key, const char* text) { return add(key, std::string(text)); }
    JsonObject& add(const std::string& key, double number); // non-finite numbers as null
    JsonObject& add(const std::string& key, long long number);
    JsonObject& add(const std::string& key, int number) { return add(key, static_cast<long long>(number)); }
    JsonObject& add(const std::string& key, bool value);
    JsonObject& add(const std::string& key, const JsonObject& object);
    JsonObject& add(const std::string& key, const JsonArray& array);
    // Numbers as one array on the line.
    JsonObject& add(const std::string& key, std::span<const double> numbers);
    JsonObject& addNull(const std::string& key);

    std::string str() const { return "{" + m_body + "}"; }

    // A JSON string. UTF-8 passes through; quotes, backslashes and control characters are
    // escaped; each byte that is not part of valid UTF-8 (a file name may hold any bytes)
    // becomes \udc80..\udcff, the lone surrogate that Python's "surrogateescape" uses, so
    // the exact bytes can be recovered.
    static std::string quote(const std::string& text);
    // The shortest decimal text that reads back as the same double; null when not finite.
    static std::string number(double value);

private:
    void addRaw(const std::string& key, const std::string& json);
    std::string m_body;
};

class JsonArray {
public:
    JsonArray& add(const JsonObject& object);
    bool empty() const noexcept { return m_items.empty(); }
    // One item per line, so long lists stay readable.
    std::string str() const;

private:
    std::vector<std::string> m_items;
};

// A probability given by its natural logarithm as KEY (0 where it underflows) with the
// exact "log10_KEY" beside it; both null when the figure does not hold (NaN).
void addLogProbability(JsonObject& o, const std::string& key, double logP);

} // namespace pelinor::cli
