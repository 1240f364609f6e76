// Splitting row loops of large arrays over two threads.
#pragma once

#include <functional>
#include <system_error>
#include <thread>

namespace pelinor {

// Calls body(begin, end) over [0, count) in at most two parts, the second on its own
// thread when count * costPerItem is large enough to pay for starting one. `body`
// must not throw. Without a thread (none available or not worth it) it runs inline.
inline void forRowsInParallel(long long count, long long costPerItem,
                              const std::function<void(long long, long long)>& body)
{
    constexpr long long kWorthAThread = 1LL << 20;
    if (count >= 2 && count * costPerItem >= kWorthAThread && std::thread::hardware_concurrency() >= 2) {
        const long long half = count / 2;
        try {
            std::thread second([&] { body(half, count); });
            body(0, half);
            second.join();
            return;
        } catch (const std::system_error&) {
            // No thread to be had: do it all here.
        }
    }
    body(0, count);
}

}  // namespace pelinor
