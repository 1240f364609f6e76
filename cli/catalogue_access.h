// How the commands that keep records (catalogue, mark, trace) find and open the catalogue.
#pragma once

#include "catalogue/catalogue.h"
#include "cli/args.h"
#include "image/picture.h"

#include <memory>
#include <optional>
#include <string>

namespace pelinor::cli {

inline constexpr Option kCatalogueOption{"--catalogue", "FILE",
    "the catalogue to use (default: $PELINOR_CATALOGUE, else\n$XDG_DATA_HOME/pelinor/catalogue.sqlite, "
    "else\n~/.local/share/pelinor/catalogue.sqlite)"};

// The catalogue named by --catalogue or the default one, opened (and created when
// `create`). Warns on stderr when others may read it: it holds the keys.
std::unique_ptr<Catalogue> openCatalogue(const ParsedArgs& a, const char* command, bool create);

// For detect and identify: when the default catalogue exists and knows a picture that
// `original` resembles but is not byte for byte (a re-export, an edit), or `original` is
// one of its marked copies, warns on stderr that it is not the picture that was marked,
// which would make the marks look weaker or absent. Says nothing when there is no
// catalogue, and never fails the command over it.
void warnIfNotMarkedOriginal(const char* command, const std::string& path, const Picture& original);

// What the default catalogue records of the key whose watermark file has this SHA-256 (an
// imported key): its recipient and the copy marked with it. Nothing when there is no
// catalogue, no such key, or the catalogue cannot be read.
struct KeyOwner {
    std::string recipient;
    std::optional<MarkView> mark;
};
std::optional<KeyOwner> keyOwner(const std::string& keySha256);

} // namespace pelinor::cli
