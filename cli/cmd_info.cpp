#include <cstdio>

#include "cli/commands.h"

namespace pelinor::cli {

int cmdInfo(const Args&)
{
    std::fprintf(stderr, "pelinor-cli info: not available yet\n");
    return 2;
}

}  // namespace pelinor::cli
