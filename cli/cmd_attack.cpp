#include <cstdio>

#include "cli/commands.h"

namespace pelinor::cli {

int cmdAttack(const Args&)
{
    std::fprintf(stderr, "pelinor-cli attack: not available yet\n");
    return 2;
}

}  // namespace pelinor::cli
