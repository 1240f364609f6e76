// Runs independent work items on a few threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace pelinor::cli {

// One job per core when `requested` is 0.
inline unsigned jobCount(long long requested)
{
    if (requested > 0) return unsigned(requested);
    return std::max(1u, std::thread::hardware_concurrency());
}

// Calls work(i) for i = 0..count-1 on up to `jobs` threads, each taking the next index.
// `work` must not throw.
template <class F>
void runParallel(std::size_t count, unsigned jobs, F&& work)
{
    std::atomic<std::size_t> next{0};
    auto loop = [&] {
        for (std::size_t i = next++; i < count; i = next++) work(i);
    };
    const std::size_t threads = std::min<std::size_t>(jobs, count);
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(loop);
    loop();
    for (std::thread& t : pool) t.join();
}

}  // namespace pelinor::cli
