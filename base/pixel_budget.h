// One pixel budget shared by the jobs of a command, so that J jobs at once hold no more
// pictures than one job may.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

namespace pelinor {

// A number of pixels that jobs running at once share. A job takes its picture's pixels
// before it allocates them and gives them back when done; acquire waits until they fit in
// what the others leave. A job asking for more than the whole budget waits until it runs
// alone (the decoders refuse such a picture before asking).
class PixelBudget {
public:
    explicit PixelBudget(std::int64_t total)
        : m_total(total)
    {
    }
    PixelBudget(const PixelBudget&) = delete;
    PixelBudget& operator=(const PixelBudget&) = delete;

    // Pixels held until destroyed or reset; empty when default-made.
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept
            : m_budget(std::exchange(other.m_budget, nullptr))
            , m_pixels(std::exchange(other.m_pixels, 0))
        {
        }
        Lease& operator=(Lease&& other) noexcept
        {
            if (this != &other) {
                reset();
                m_budget = std::exchange(other.m_budget, nullptr);
                m_pixels = std::exchange(other.m_pixels, 0);
            }
            return *this;
        }
        ~Lease() { reset(); }
        void reset() noexcept
        {
            if (m_budget != nullptr) m_budget->release(m_pixels);
            m_budget = nullptr;
            m_pixels = 0;
        }
        std::int64_t pixels() const noexcept { return m_pixels; }

    private:
        friend class PixelBudget;
        Lease(PixelBudget* budget, std::int64_t pixels)
            : m_budget(budget)
            , m_pixels(pixels)
        {
        }
        PixelBudget* m_budget = nullptr;
        std::int64_t m_pixels = 0;
    };

    Lease acquire(std::int64_t pixels)
    {
        if (pixels <= 0) return {};
        std::unique_lock lock(m_mutex);
        m_freed.wait(lock, [&] { return m_used == 0 || m_used + pixels <= m_total; });
        m_used += pixels;
        m_peak = std::max(m_peak, m_used);
        return Lease(this, pixels);
    }

    // The pixels when they fit in what the holders leave now, nothing otherwise: for a caller
    // that refuses a picture rather than wait for room (the desktop program, whose one thread
    // holds all its windows' pictures, would wait forever).
    std::optional<Lease> tryAcquire(std::int64_t pixels)
    {
        if (pixels <= 0) return Lease();
        std::lock_guard lock(m_mutex);
        if (m_used + pixels > m_total) return std::nullopt;
        m_used += pixels;
        m_peak = std::max(m_peak, m_used);
        return Lease(this, pixels);
    }

    std::int64_t total() const noexcept { return m_total; }
    // What the holders hold now.
    std::int64_t used() const
    {
        std::lock_guard lock(m_mutex);
        return m_used;
    }
    // The most held at once so far.
    std::int64_t peak() const
    {
        std::lock_guard lock(m_mutex);
        return m_peak;
    }

private:
    void release(std::int64_t pixels) noexcept
    {
        {
            std::lock_guard lock(m_mutex);
            m_used -= pixels;
        }
        m_freed.notify_all();
    }

    const std::int64_t m_total;
    mutable std::mutex m_mutex;
    std::condition_variable m_freed;
    std::int64_t m_used = 0;
    std::int64_t m_peak = 0;
};

} // namespace pelinor
