#include "obrada/fftw_plans.h"

#include "base/error.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <vector>

namespace pelinor {

namespace {

// Plans kept: a forward and an inverse need up to four each, and a batch over pictures
// of many sizes must not grow the cache without bound.
constexpr std::size_t kCachedPlans = 24;

// FFTW allocates with its own malloc while planning and while executing (a buffer of the
// transform's length per call, on every thread), and aborts the process when that fails.
// So before a transform is planned or run we make sure that much memory can be had, with
// ample room: the planner's tables, and a buffer per thread for each of the two passes.
std::size_t headroomFor(const CosineBatch& key)
{
    constexpr std::size_t kPlanner = std::size_t(4) << 20;
    return kPlanner + std::size_t(64) * std::size_t(std::max(key.n, 1)) * sizeof(double);
}

// Mapped and unmapped rather than allocated: a failed mapping is simply an answer (a
// sanitizer's allocator would stop the process over a failed malloc of an absurd size), and
// the compiler cannot drop the pair as it may an unused malloc and free. Address space and
// the kernel's commit check are what FFTW's own allocations meet next.
void requireHeadroom(const CosineBatch& key)
{
    const std::size_t bytes = headroomFor(key);
    void* probe = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe == MAP_FAILED)
        throw Error(err::OutOfMemory,
            "Out of memory: no room left for the cosine transforms of length " + std::to_string(key.n));
    ::munmap(probe, bytes);
}

class PlanCache {
public:
    static PlanCache& instance()
    {
        // Never destroyed: plans may still be released by other static objects at exit.
        static PlanCache* cache = new PlanCache;
        return *cache;
    }

    SharedPlan get(const CosineBatch& key)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        auto it
            = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.key == key; });
        if (it != m_entries.end()) {
            std::rotate(m_entries.begin(), it, it + 1); // most recent first
            return m_entries.front().plan;
        }
        SharedPlan plan = makePlan(key);
        if (m_entries.size() >= kCachedPlans) m_entries.pop_back();
        m_entries.insert(m_entries.begin(), Entry{key, plan});
        return plan;
    }

private:
    struct Entry {
        CosineBatch key;
        SharedPlan plan;
    };

    PlanCache()
    {
        // Initialised so that plans can be pinned to one thread whatever else in the
        // process set FFTW's thread count to.
        m_threads = fftw_init_threads() != 0;
        m_entries.reserve(kCachedPlans); // so that inserting never allocates
    }

    [[noreturn]] static void cannotPlan(const CosineBatch& key)
    {
        throw Error(err::OutOfMemory,
            "Out of memory: cannot plan " + std::to_string(key.count) + " transforms of length "
                + std::to_string(key.n));
    }

    // Called with m_mutex held.
    SharedPlan makePlan(const CosineBatch& key)
    {
        if (key.n < 1 || key.count < 1 || key.stride < 1 || key.dist < 0) cannotPlan(key);
        // Elements spanned by the batch; every factor is below 2^31, so this cannot wrap.
        const unsigned long long span = (unsigned long long)(key.count - 1) * unsigned(key.dist)
            + (unsigned long long)(key.n - 1) * unsigned(key.stride) + 1;
        if (span > std::numeric_limits<std::size_t>::max() / sizeof(double)) cannotPlan(key);
        // With FFTW_ESTIMATE the planner does not touch the arrays, so these untouched
        // buffers cost address space only; they just tell FFTW about alignment and
        // whether the transform is in place.
        double* in = fftw_alloc_real(std::size_t(span));
        double* out = key.inPlace ? in : fftw_alloc_real(std::size_t(span));
        if (!in || !out) {
            fftw_free(in);
            if (out != in) fftw_free(out);
            cannotPlan(key);
        }
        const fftw_r2r_kind kind = key.kind == CosineKind::Forward ? FFTW_REDFT10 : FFTW_REDFT01;
        unsigned flags = FFTW_ESTIMATE;
        if (!key.aligned) flags |= FFTW_UNALIGNED;
        if (!key.inPlace) flags |= FFTW_PRESERVE_INPUT;
        if (m_threads) fftw_plan_with_nthreads(1); // callers split the work themselves
        fftw_plan plan = fftw_plan_many_r2r(1, &key.n, key.count, in, nullptr, key.stride, key.dist, out,
            nullptr, key.stride, key.dist, &kind, flags);
        fftw_free(in);
        if (out != in) fftw_free(out);
        if (!plan) cannotPlan(key);
        // The mutex is recursive because the deleter may run right here, with it held
        // (if the control block cannot be allocated).
        return SharedPlan(plan, [this](fftw_plan p) {
            std::lock_guard<std::recursive_mutex> destroyLock(m_mutex);
            fftw_destroy_plan(p);
        });
    }

    std::recursive_mutex m_mutex;
    std::vector<Entry> m_entries;
    bool m_threads = false;
};

} // namespace

SharedPlan cosinePlan(const CosineBatch& batch)
{
    requireHeadroom(batch);
    return PlanCache::instance().get(batch);
}

} // namespace pelinor
