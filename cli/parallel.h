// Runs independent work items on a few threads.
#pragma once

#include "obrada/parallel.h"

#include <algorithm>
#include <thread>

namespace pelinor::cli {

// One job per core when `requested` is 0.
inline unsigned jobCount(long long requested)
{
    if (requested > 0) return unsigned(requested);
    return std::max(1u, std::thread::hardware_concurrency());
}

using pelinor::runParallel;

} // namespace pelinor::cli
