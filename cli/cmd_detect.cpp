#include <cstdio>

#include "cli/commands.h"

namespace pelinor::cli {

int cmdDetect(const Args&)
{
    std::fprintf(stderr, "pelinor-cli detect: not available yet\n");
    return 2;
}

}  // namespace pelinor::cli
