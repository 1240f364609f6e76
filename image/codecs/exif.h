// The first directory of an EXIF block (a TIFF structure), read and written without a
// library: enough to carry its descriptive tags into TIFF files, which keep them among
// their own tags, and to read a tag back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pelinor {

namespace exif {
inline constexpr std::uint16_t ImageDescription = 0x010e;
inline constexpr std::uint16_t Make = 0x010f;
inline constexpr std::uint16_t Model = 0x0110;
inline constexpr std::uint16_t Orientation = 0x0112;
inline constexpr std::uint16_t Software = 0x0131;
inline constexpr std::uint16_t DateTime = 0x0132;
inline constexpr std::uint16_t Artist = 0x013b;
inline constexpr std::uint16_t HostComputer = 0x013c;
inline constexpr std::uint16_t Copyright = 0x8298;
inline constexpr std::uint16_t ExifIfd = 0x8769;
inline constexpr std::uint16_t GpsIfd = 0x8825;
} // namespace exif

// One entry of the first directory, its value as text (ASCII) or a number (SHORT, LONG).
struct ExifEntry {
    std::uint16_t tag = 0;
    std::string text; // ASCII values, without the closing NUL
    std::optional<std::uint32_t> number; // SHORT or LONG values (the first of them)
};

// The entries of the first directory; empty when the block is not a TIFF structure.
// Damaged entries (values past the end, unknown types) are skipped.
std::vector<ExifEntry> readExifDirectory(std::span<const std::uint8_t> block);

// A little-endian EXIF block holding these entries (ASCII when `number` is empty, else SHORT).
std::vector<std::uint8_t> writeExifDirectory(const std::vector<ExifEntry>& entries);

std::optional<std::string> exifText(std::span<const std::uint8_t> block, std::uint16_t tag);
std::optional<std::uint32_t> exifNumber(std::span<const std::uint8_t> block, std::uint16_t tag);

// True for the first-directory tags a TIFF file keeps among its own.
bool isTiffDescriptiveTag(std::uint16_t tag) noexcept;

} // namespace pelinor
