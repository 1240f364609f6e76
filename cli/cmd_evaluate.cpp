#include <cstdio>

#include "cli/commands.h"

namespace pelinor::cli {

int cmdEvaluate(const Args&)
{
    std::fprintf(stderr, "pelinor-cli evaluate: not available yet\n");
    return 2;
}

}  // namespace pelinor::cli
