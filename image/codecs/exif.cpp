#include "image/codecs/exif.h"

#include <algorithm>
#include <cstring>

namespace pelinor {

namespace {

constexpr std::uint16_t kAscii = 2, kShort = 3, kLong = 4;
// More entries than this in one directory is damage, not a photograph.
constexpr std::size_t kMaxEntries = 1000;

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> b)
        : m_b(b)
    {
        m_big = b.size() >= 2 && b[0] == 'M';
    }
    bool has(std::size_t at, std::size_t n) const { return at <= m_b.size() && m_b.size() - at >= n; }
    std::uint16_t u16(std::size_t at) const
    {
        return m_big ? std::uint16_t(m_b[at] << 8 | m_b[at + 1]) : std::uint16_t(m_b[at] | m_b[at + 1] << 8);
    }
    std::uint32_t u32(std::size_t at) const
    {
        return m_big ? std::uint32_t(u16(at)) << 16 | u16(at + 2)
                     : u16(at) | std::uint32_t(u16(at + 2)) << 16;
    }
    const std::uint8_t* at(std::size_t i) const { return m_b.data() + i; }

private:
    std::span<const std::uint8_t> m_b;
    bool m_big = false;
};

void put16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

} // namespace

std::vector<ExifEntry> readExifDirectory(std::span<const std::uint8_t> block)
{
    std::vector<ExifEntry> entries;
    if (block.size() < 8) return entries;
    const bool little = block[0] == 'I' && block[1] == 'I' && block[2] == 42 && block[3] == 0;
    const bool big = block[0] == 'M' && block[1] == 'M' && block[2] == 0 && block[3] == 42;
    if (!little && !big) return entries;
    const Reader r(block);
    const std::size_t dir = r.u32(4);
    if (!r.has(dir, 2)) return entries;
    const std::size_t count = std::min<std::size_t>(r.u16(dir), kMaxEntries);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t e = dir + 2 + 12 * i;
        if (!r.has(e, 12)) break;
        ExifEntry entry;
        entry.tag = r.u16(e);
        const std::uint16_t type = r.u16(e + 2);
        const std::uint32_t n = r.u32(e + 4);
        if (type == kAscii) {
            const std::size_t value = n <= 4 ? e + 8 : r.u32(e + 8);
            if (n == 0 || !r.has(value, n)) continue;
            const char* text = reinterpret_cast<const char*>(r.at(value));
            entry.text.assign(text, std::find(text, text + n, '\0'));
        } else if (type == kShort && n >= 1) {
            entry.number = r.u16(e + 8);
        } else if (type == kLong && n >= 1) {
            entry.number = r.u32(e + 8);
        } else {
            entry.number = 0; // other types: present, value not read
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<std::uint8_t> writeExifDirectory(const std::vector<ExifEntry>& given)
{
    std::vector<ExifEntry> entries = given;
    std::stable_sort(
        entries.begin(), entries.end(), [](const ExifEntry& a, const ExifEntry& b) { return a.tag < b.tag; });
    std::vector<std::uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    put16(out, std::uint32_t(entries.size()));
    std::uint32_t data = std::uint32_t(8 + 2 + 12 * entries.size() + 4);
    std::vector<std::uint8_t> values;
    for (const ExifEntry& e : entries) {
        put16(out, e.tag);
        if (e.number) {
            put16(out, kShort);
            put32(out, 1);
            put16(out, *e.number & 0xffff);
            put16(out, 0);
            continue;
        }
        const std::uint32_t n = std::uint32_t(e.text.size() + 1);
        put16(out, kAscii);
        put32(out, n);
        if (n <= 4) {
            std::uint8_t inline4[4] = {};
            std::memcpy(inline4, e.text.data(), std::min<std::size_t>(e.text.size(), 3));
            out.insert(out.end(), inline4, inline4 + 4);
        } else {
            put32(out, data + std::uint32_t(values.size()));
            values.insert(values.end(), e.text.begin(), e.text.end());
            values.push_back(0);
            if (values.size() & 1) values.push_back(0);
        }
    }
    put32(out, 0); // no next directory
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

std::optional<std::string> exifText(std::span<const std::uint8_t> block, std::uint16_t tag)
{
    for (const ExifEntry& e : readExifDirectory(block))
        if (e.tag == tag && !e.number) return e.text;
    return std::nullopt;
}

std::optional<std::uint32_t> exifNumber(std::span<const std::uint8_t> block, std::uint16_t tag)
{
    for (const ExifEntry& e : readExifDirectory(block))
        if (e.tag == tag && e.number) return e.number;
    return std::nullopt;
}

bool isTiffDescriptiveTag(std::uint16_t tag) noexcept
{
    switch (tag) {
    case exif::ImageDescription:
    case exif::Make:
    case exif::Model:
    case exif::Orientation:
    case exif::Software:
    case exif::DateTime:
    case exif::Artist:
    case exif::HostComputer:
    case exif::Copyright:
        return true;
    default:
        return false;
    }
}

} // namespace pelinor
