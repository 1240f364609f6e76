#include <cstdio>

#include "cli/commands.h"

namespace pelinor::cli {

int cmdEmbed(const Args&)
{
    std::fprintf(stderr, "pelinor-cli embed: not available yet\n");
    return 2;
}

}  // namespace pelinor::cli
