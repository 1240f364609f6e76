// Splitting row loops of large arrays over two threads.
#pragma once

#include <thread>

namespace pelinor {

// Whether forRowsInParallel would hand part of the work to a second thread.
inline bool worthASecondThread(long long count, long long costPerItem) noexcept
{
    constexpr long long kWorthAThread = 1LL << 20;
    return count >= 2 && count * costPerItem >= kWorthAThread && std::thread::hardware_concurrency() >= 2;
}

// Calls body(begin, end) over [0, count) in at most two parts, the second on its own
// thread when count * costPerItem is large enough to pay for starting one. `body`
// must not throw. Without a thread (none available or not worth it) it runs inline.
template <class Body>
void forRowsInParallel(long long count, long long costPerItem, const Body& body)
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

}  // namespace pelinor
