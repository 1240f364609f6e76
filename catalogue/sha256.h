// SHA-256 (FIPS 180-4) of files and byte strings, as lower-case hexadecimal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pelinor {

class Sha256 {
public:
    Sha256();
    void update(std::span<const std::uint8_t> bytes);
    void update(std::string_view text);
    std::array<std::uint8_t, 32> digest(); // once; the object is spent afterwards
    std::string hex();

private:
    void block(const std::uint8_t* p);
    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0; // bytes
};

std::string sha256Hex(std::span<const std::uint8_t> bytes);
std::string sha256Hex(std::string_view text);
// Of a whole file, read in pieces (error 53 when missing, 75 when not a regular file).
std::string sha256File(const std::string& path);

} // namespace pelinor
