// A process-wide cache of FFTW plans for batches of 1-D cosine transforms.
#pragma once

#include <fftw3.h>
#include <memory>
#include <type_traits>

namespace pelinor {

using SharedPlan = std::shared_ptr<std::remove_pointer_t<fftw_plan>>;

enum class CosineKind {
    Forward, // REDFT10 (DCT-II), unnormalised
    Inverse, // REDFT01 (DCT-III), unnormalised
};

// `count` transforms of length `n`: element k of transform t sits at t * dist + k * stride.
struct CosineBatch {
    int n;
    int count;
    int stride;
    int dist;
    CosineKind kind;
    bool inPlace;
    bool aligned; // whether the arrays it runs on have FFTW's preferred alignment
    bool operator==(const CosineBatch&) const = default;
};

// Returns a single-threaded plan for the batch (run it with fftw_execute_r2r). FFTW's
// planner is not thread-safe, so planning and destroying plans happen behind one mutex;
// executing a plan may run concurrently. A few recent plans are kept; a plan dropped from
// the cache stays valid while a caller still holds it. An out-of-place plan keeps its
// input. Throws error 7 if FFTW cannot make the plan, or when too little memory is left
// for FFTW to plan and run it (FFTW aborts the process when its own allocations fail).
SharedPlan cosinePlan(const CosineBatch& batch);

// True when FFTW may use its SIMD code on the array at p.
inline bool fftwAligned(const double* p) noexcept
{
    return fftw_alignment_of(const_cast<double*>(p)) == 0;
}

} // namespace pelinor
