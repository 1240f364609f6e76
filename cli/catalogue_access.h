// How the commands that keep records (catalogue, mark, trace) find and open the catalogue.
#pragma once

#include "catalogue/catalogue.h"
#include "cli/args.h"

#include <memory>

namespace pelinor::cli {

inline constexpr Option kCatalogueOption{"--catalogue", "FILE",
    "the catalogue to use (default: $PELINOR_CATALOGUE, else\n$XDG_DATA_HOME/pelinor/catalogue.sqlite, "
    "else\n~/.local/share/pelinor/catalogue.sqlite)"};

// The catalogue named by --catalogue or the default one, opened (and created when
// `create`). Warns on stderr when others may read it: it holds the keys.
std::unique_ptr<Catalogue> openCatalogue(const ParsedArgs& a, const char* command, bool create);

} // namespace pelinor::cli
