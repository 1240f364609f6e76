#include <cstdio>

#include "cli/commands.h"

namespace pelinor::cli {

int cmdGenerate(const Args&)
{
    std::fprintf(stderr, "pelinor-cli generate: not available yet\n");
    return 2;
}

}  // namespace pelinor::cli
