#include "cli/catalogue_access.h"

#include <cstdio>

namespace pelinor::cli {

std::unique_ptr<Catalogue> openCatalogue(const ParsedArgs& a, const char* command, bool create)
{
    const std::string path = a.value("--catalogue").value_or(Catalogue::defaultPath());
    if (path.empty()) throw UsageError("--catalogue needs a file");
    std::unique_ptr<Catalogue> catalogue = withFile(path, [&] { return Catalogue::open(path, create); });
    if (catalogue->readableByOthers())
        std::fprintf(stderr,
            "pelinor-cli %s: warning: %s can be read by other users, and it holds the keys; make it private "
            "with: chmod 600 '%s'\n",
            command, path.c_str(), path.c_str());
    return catalogue;
}

} // namespace pelinor::cli
