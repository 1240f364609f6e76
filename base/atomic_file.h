// Reading whole files and replacing files without ever leaving a half-written one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelinor {

// Writes to a temporary file in the target's folder, then renames it over the target.
// On failure the target is untouched, no temporary remains, and an Error names the
// file and the reason.
void writeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes);
void writeFileAtomic(const std::string& path, const std::string& text);

// Whole file; missing file is error 53. Refuses files over maxBytes (error 7).
std::vector<std::uint8_t> readFileBytes(const std::string& path, std::size_t maxBytes = std::size_t(2) << 30);

} // namespace pelinor
