#include "base/pixel_budget.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <vector>

namespace pelinor {
namespace {

// Jobs at once never hold more than the budget, and a job that fits starts at once: eight
// jobs of 40 in a budget of 100 run two at a time, one of 150 runs alone, and one of 60
// waits until a holder gives its pixels back.
TEST(PixelBudget, JobsShareOneBudget)
{
    PixelBudget budget(100);
    std::atomic<std::int64_t> held{0}, most{0};
    const auto job = [&](std::int64_t pixels) {
        const PixelBudget::Lease lease = budget.acquire(pixels);
        const std::int64_t now = held += pixels;
        for (std::int64_t seen = most; now > seen && !most.compare_exchange_weak(seen, now);) { }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        held -= pixels;
    };
    std::vector<std::thread> jobs;
    for (int i = 0; i < 8; ++i)
        jobs.emplace_back(job, 40);
    jobs.emplace_back(job, 150);
    for (std::thread& t : jobs)
        t.join();
    EXPECT_LE(most.load(), 150);
    EXPECT_EQ(budget.peak(), 150);

    PixelBudget shared(100);
    PixelBudget::Lease first = shared.acquire(60);
    std::atomic<bool> started{false};
    std::thread second([&] {
        const PixelBudget::Lease lease = shared.acquire(60);
        started = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(started.load());
    first.reset();
    second.join();
    EXPECT_TRUE(started.load());
    EXPECT_EQ(shared.peak(), 60);
    EXPECT_EQ(shared.acquire(0).pixels(), 0);
}

// Taken only when they fit, never waiting: the desktop program refuses a window's picture
// instead. Each lease gives its pixels back when it goes, and a refusal takes nothing.
TEST(PixelBudget, TryAcquireTakesOnlyWhatFits)
{
    PixelBudget budget(100);
    std::vector<PixelBudget::Lease> held;
    const std::pair<std::int64_t, bool> steps[]
        = {{40, true}, {40, true}, {21, false}, {20, true}, {1, false}, {0, true}};
    std::int64_t used = 0;
    for (const auto& [pixels, fits] : steps) {
        SCOPED_TRACE(pixels);
        std::optional<PixelBudget::Lease> lease = budget.tryAcquire(pixels);
        EXPECT_EQ(lease.has_value(), fits);
        if (lease) {
            EXPECT_EQ(lease->pixels(), pixels);
            held.push_back(std::move(*lease));
            used += pixels;
        }
        EXPECT_EQ(budget.used(), used);
    }
    EXPECT_FALSE(budget.tryAcquire(101).has_value());
    held.erase(held.begin()); // the first 40 given back
    EXPECT_EQ(budget.used(), 60);
    EXPECT_TRUE(budget.tryAcquire(40).has_value()); // and given back again at once
    EXPECT_EQ(budget.used(), 60);
    held.clear();
    EXPECT_EQ(budget.used(), 0);
    EXPECT_EQ(budget.peak(), 100);
}

} // namespace
} // namespace pelinor
