// Splitting work over threads: row loops of large arrays, and independent items.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace pelinor {

// How many worker threads to use: `requested` when positive, else one per core.
inline unsigned jobCount(long long requested)
{
    if (requested > 0) return unsigned(requested);
    return std::max(1u, std::thread::hardware_concurrency());
}

// Whether forRowsInParallel would hand part of the work to a second thread.
inline bool worthASecondThread(long long count, long long costPerItem) noexcept
{
    constexpr long long kWorthAThread = 1LL << 20;
    return count >= 2 && count * costPerItem >= kWorthAThread && std::thread::hardware_concurrency() >= 2;
}

// Calls body(begin, end) over [0, count) in at most two parts, the second on its own
// thread when count * costPerItem is large enough to pay for starting one. `body`
// must not throw. Without a thread (none available or not worth it) it runs inline.
template <class Body> void forRowsInParallel(long long count, long long costPerItem, const Body& body)
{
    if (worthASecondThread(count, costPerItem)) {
        const long long half = count / 2;
        std::thread second;
        try {
            second = std::thread([&] { body(half, count); });
        } catch (...) {
            // No thread to be had (system_error or bad_alloc): do it all here.
        }
        if (second.joinable()) {
            body(0, half);
            second.join();
            return;
        }
    }
    body(0, count);
}

// Calls work(i) for i = 0..count-1 on up to `jobs` threads (this one included), each
// taking the next index. After a failure no further item starts; once every thread
// has stopped, the first failure is rethrown. A thread that cannot be started leaves
// its share to the others.
template <class F> void runParallel(std::size_t count, unsigned jobs, F&& work)
{
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto loop = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(failureMutex);
                if (!failure) failure = std::current_exception();
                next = count;
            }
        }
    };
    const std::size_t threads = std::min<std::size_t>(jobs, count);
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(loop);
        } catch (...) {
            break; // no more threads to be had
        }
    }
    loop();
    for (std::thread& t : pool)
        t.join();
    if (failure) std::rethrow_exception(failure);
}

} // namespace pelinor
