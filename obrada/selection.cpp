#include "obrada/selection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace pelinor {

namespace {

// One of the N + 1 slots: the signed value it holds and its slot number.
struct Slot {
    double value;
    long long index;
};

// The slot that the slot procedure replaces next: the smallest magnitude, and among
// equal magnitudes the lowest slot number. `before(a, b)` says a is chosen over b.
inline bool before(const Slot& a, const Slot& b) noexcept
{
    const double ma = std::fabs(a.value), mb = std::fabs(b.value);
    return ma < mb || (ma == mb && a.index < b.index);
}

// Restores the min-heap (by `before`) after the root's value changed.
void siftDown(std::vector<Slot>& heap) noexcept
{
    const std::size_t n = heap.size();
    const Slot moving = heap[0];
    std::size_t i = 0;
    for (;;) {
        std::size_t child = 2 * i + 1;
        if (child >= n) break;
        if (child + 1 < n && before(heap[child + 1], heap[child])) ++child;
        if (!before(heap[child], moving)) break;
        heap[i] = heap[child];
        i = child;
    }
    heap[i] = moving;
}

// Walks the candidates in scan order and leaves in `heap` the filled slots.
void keepLargest(const Plane& coeffs, long long slots, std::vector<Slot>& heap)
{
    const int n1 = coeffs.n1();
    const int n2 = coeffs.n2();
    double floor = 0.0; // a candidate enters only if its magnitude is strictly greater
    const double* data = coeffs.data();
    for (int u = 1; u < n1; ++u) {
        const double* row = data + std::size_t(u) * std::size_t(n2);
        for (int v = 1; v < n2; ++v) {
            const double c = row[v];
            if (!(std::fabs(c) > floor)) continue;
            if ((long long)(heap.size()) < slots) {
                heap.push_back(Slot{c, (long long)(heap.size())});
                if ((long long)(heap.size()) < slots) continue;
                std::make_heap(
                    heap.begin(), heap.end(), [](const Slot& a, const Slot& b) { return before(b, a); });
            } else {
                heap[0].value = c;
                siftDown(heap);
            }
            floor = std::fabs(heap[0].value);
        }
    }
}

} // namespace

// The result is that of the plain procedure: N + 1 slots, all 0.0 at the start; for
// each candidate in scan order, find the slot with the smallest magnitude (lowest slot
// number among equals) and put the candidate there if its magnitude is strictly
// greater; finally return the value of the smallest-magnitude slot (lowest number).
// Both minimum searches start from +infinity, so the result is the (N + 1)-th largest
// candidate magnitude however large the coefficients are.
//
// Done here with a heap of the slots keyed on (magnitude, slot number), so a candidate
// costs one comparison with the current smallest magnitude, and a log(N) step only when
// it enters. Empty slots are always the smallest, so they fill in slot order with the
// first non-zero candidates; they are not stored until then, which keeps memory to the
// number of candidates when N exceeds it.
double OdrediPrag(const Plane& coeffs, int n)
{
    if (n < 0)
        throw Error(err::SubscriptOutOfRange,
            "Subscript out of range: the coefficient count " + std::to_string(n) + " is negative");
    const int n1 = coeffs.n1();
    const int n2 = coeffs.n2();
    const long long slots = (long long)(n) + 1;
    const long long candidates = n1 > 1 && n2 > 1 ? (long long)(n1 - 1) * (n2 - 1) : 0;

    // Reserved up to a bound, then grown as non-zero candidates arrive: N may far exceed
    // the non-zero candidates of a large matrix.
    constexpr long long kReserved = 1 << 20;
    std::vector<Slot> heap;
    try {
        heap.reserve(std::size_t(std::min({slots, candidates, kReserved})));
        keepLargest(coeffs, slots, heap);
    } catch (const std::bad_alloc&) {
        throw Error(
            err::OutOfMemory, "Out of memory: cannot hold " + std::to_string(slots) + " coefficients");
    }
    if ((long long)(heap.size()) < slots) return 0.0; // an empty slot is the smallest
    // The final search keeps its starting +infinity when no slot is below it.
    if (std::isinf(heap[0].value)) return std::numeric_limits<double>::infinity();
    return heap[0].value;
}

} // namespace pelinor
