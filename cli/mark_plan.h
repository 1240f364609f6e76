// What `mark` will write before it writes anything: the recipients, and for every photo
// and recipient the output's name, with the plans that must not run refused.
#pragma once

#include <string>
#include <vector>

namespace pelinor::cli {

struct Recipient {
    std::string name;
    std::string note;
};

// A recipients file: one recipient a line, "NAME" or "NAME<TAB>NOTE"; blank lines and lines
// starting with '#' are skipped; surrounding blanks are dropped. A UsageError naming the
// line for a name that is empty.
std::vector<Recipient> parseRecipients(const std::string& text, const std::string& path);

// A recipient's name as a part of a file name: letters, digits (any script), '-', '_' and
// '.' are kept, every other run of characters becomes one '_'; never empty, never starting
// with '.', '-' or '_'.
std::string safeName(const std::string& name);

struct MarkItem {
    std::size_t photo = 0; // index into the photos
    std::size_t recipient = 0; // index into the recipients
    std::string output; // DIR/STEM-NAME.EXT
    std::string refusal; // set when this item must not run
};

// Every photo for every recipient. Refused: an output that is one of the photos, and two
// items writing the same file (two photos with one stem, two names made safe alike).
std::vector<MarkItem> planMarks(
    const std::vector<std::string>& photos, const std::vector<Recipient>& recipients, const std::string& dir);

} // namespace pelinor::cli
