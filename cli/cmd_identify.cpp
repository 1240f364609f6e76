#include <cstdio>

#include "cli/commands.h"

namespace pelinor::cli {

int cmdIdentify(const Args&)
{
    std::fprintf(stderr, "pelinor-cli identify: not available yet\n");
    return 2;
}

}  // namespace pelinor::cli
