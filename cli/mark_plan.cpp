#include "cli/mark_plan.h"

#include "cli/args.h"
#include "cli/io.h"

#include <filesystem>
#include <map>

namespace pelinor::cli {

namespace {

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::vector<Recipient> parseRecipients(const std::string& text, const std::string& path)
{
    std::vector<Recipient> out;
    std::size_t start = 0;
    for (int line = 1; start <= text.size(); ++line) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string raw = text.substr(start, end - start);
        start = end + 1;
        const std::string content = trimmed(raw);
        if (content.empty() || content[0] == '#') continue;
        const std::size_t tab = raw.find('\t');
        Recipient r{
            trimmed(raw.substr(0, tab)), tab == std::string::npos ? "" : trimmed(raw.substr(tab + 1))};
        if (r.name.empty()) throw FileError(path, "line " + std::to_string(line) + " has a note but no name");
        out.push_back(std::move(r));
    }
    return out;
}

std::string safeName(const std::string& name)
{
    std::string out;
    bool gap = false;
    for (unsigned char c : name) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '-' || c == '_' || c == '.' || c >= 0x80; // bytes of UTF-8 letters
        if (keep) {
            if (gap && !out.empty()) out += '_';
            gap = false;
            out += char(c);
        } else {
            gap = true;
        }
    }
    while (!out.empty() && (out[0] == '.' || out[0] == '-' || out[0] == '_'))
        out.erase(0, 1);
    return out.empty() ? "recipient" : out;
}

std::vector<MarkItem> planMarks(
    const std::vector<std::string>& photos, const std::vector<Recipient>& recipients, const std::string& dir)
{
    namespace fs = std::filesystem;
    std::vector<MarkItem> items;
    std::map<std::string, std::size_t> taken; // output as compared -> item
    for (std::size_t p = 0; p < photos.size(); ++p)
        for (std::size_t r = 0; r < recipients.size(); ++r) {
            const fs::path in(photos[p]);
            MarkItem item{p, r,
                (fs::path(dir) / (in.stem().string() + "-" + safeName(recipients[r].name))).string()
                    + outputExtension(photos[p], ""),
                {}};
            for (const std::string& photo : photos)
                if (sameFile(item.output, photo))
                    item.refusal = fileMessage(
                        photos[p], "the output " + item.output + " would replace the photo " + photo);
            std::error_code ec;
            fs::path key = fs::weakly_canonical(item.output, ec);
            if (ec) key = fs::path(item.output).lexically_normal();
            const auto [at, fresh] = taken.emplace(key.string(), items.size());
            if (!fresh && item.refusal.empty()) {
                const MarkItem& other = items[at->second];
                item.refusal = fileMessage(photos[p],
                    "the output " + item.output + " is also the output of " + photos[other.photo] + " for "
                        + recipients[other.recipient].name);
            }
            items.push_back(std::move(item));
        }
    return items;
}

} // namespace pelinor::cli
