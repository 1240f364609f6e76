// A minimal JSON object writer for machine-readable output.
#pragma once

#include <string>

namespace pelinor::cli {

class JsonObject {
public:
    JsonObject& add(const std::string& key, const std::string& text);
    JsonObject& add(const std::string& key, const char* text) { return add(key, std::string(text)); }
    JsonObject& add(const std::string& key, double number); // non-finite numbers as null
    JsonObject& add(const std::string& key, long long number);
    JsonObject& add(const std::string& key, int number) { return add(key, static_cast<long long>(number)); }
    JsonObject& add(const std::string& key, bool value);
    JsonObject& add(const std::string& key, const JsonObject& object);

    std::string str() const { return "{" + m_body + "}"; }

    static std::string quote(const std::string& text);

private:
    void addRaw(const std::string& key, const std::string& json);
    std::string m_body;
};

} // namespace pelinor::cli
