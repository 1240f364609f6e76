#include "obrada/fftw_plans.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "obrada/error.h"

namespace pelinor {

namespace {

// Planes at least this large are transformed with FFTW's threads.
constexpr long long kThreadedElements = 128LL * 128LL;
// Sizes kept; a batch over pictures of many sizes must not grow the cache without bound.
constexpr std::size_t kCachedPlans = 8;

struct PlanKey {
    int n1;
    int n2;
    CosineKind kind;
    bool aligned;
    bool operator==(const PlanKey&) const = default;
};

class PlanCache {
public:
    static PlanCache& instance()
    {
        // Never destroyed: plans may still be released by other static objects at exit.
        static PlanCache* cache = new PlanCache;
        return *cache;
    }

    SharedPlan get(const PlanKey& key)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        auto it = std::find_if(m_entries.begin(), m_entries.end(),
                               [&](const Entry& e) { return e.key == key; });
        if (it != m_entries.end()) {
            std::rotate(m_entries.begin(), it, it + 1);  // most recent first
            return m_entries.front().plan;
        }
        SharedPlan plan = makePlan(key);
        if (m_entries.size() >= kCachedPlans) m_entries.pop_back();
        m_entries.insert(m_entries.begin(), Entry{key, plan});
        return plan;
    }

private:
    struct Entry {
        PlanKey key;
        SharedPlan plan;
    };

    PlanCache()
    {
        m_threads = fftw_init_threads() != 0;
        m_maxThreads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
        m_entries.reserve(kCachedPlans);  // so that inserting never allocates
    }

    // Called with m_mutex held.
    SharedPlan makePlan(const PlanKey& key)
    {
        const std::size_t n = std::size_t(key.n1) * std::size_t(key.n2);
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(double))
            throw Error(err::OutOfMemory, "Out of memory: transform too large");
        // With FFTW_ESTIMATE the planner does not touch the arrays, so these untouched
        // buffers cost address space only; they just tell FFTW about alignment and
        // whether the transform is in place.
        double* in = fftw_alloc_real(n);
        double* out = key.kind == CosineKind::Forward ? fftw_alloc_real(n) : in;
        if (!in || !out) {
            fftw_free(in);
            if (out != in) fftw_free(out);
            throw Error(err::OutOfMemory, "Out of memory: cannot plan a transform of " +
                                              std::to_string(key.n1) + " x " + std::to_string(key.n2));
        }
        if (m_threads)
            fftw_plan_with_nthreads(
                (long long)(key.n1) * key.n2 >= kThreadedElements ? m_maxThreads : 1);
        const fftw_r2r_kind kind = key.kind == CosineKind::Forward ? FFTW_REDFT10 : FFTW_REDFT01;
        unsigned flags = FFTW_ESTIMATE;
        if (!key.aligned) flags |= FFTW_UNALIGNED;
        fftw_plan plan = fftw_plan_r2r_2d(key.n1, key.n2, in, out, kind, kind, flags);
        fftw_free(in);
        if (out != in) fftw_free(out);
        if (!plan)
            throw Error(err::OutOfMemory, "Out of memory: FFTW cannot plan a transform of " +
                                              std::to_string(key.n1) + " x " + std::to_string(key.n2));
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
    int m_maxThreads = 1;
};

}  // namespace

SharedPlan cosinePlan(int n1, int n2, CosineKind kind, bool aligned)
{
    return PlanCache::instance().get(PlanKey{n1, n2, kind, aligned});
}

}  // namespace pelinor
