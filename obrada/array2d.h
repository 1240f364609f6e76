// Two-dimensional arrays with lower bounds 0, as the numeric routines use them.
#pragma once

#include "base/error.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <sys/mman.h>
#include <type_traits>
#include <vector>

namespace pelinor {

[[noreturn]] inline void throwSubscript(long long i, long long j, long long n1, long long n2)
{
    throw Error(err::SubscriptOutOfRange,
        "Subscript out of range: (" + std::to_string(i) + ", " + std::to_string(j) + ") outside (0.."
            + std::to_string(n1 - 1) + ", 0.." + std::to_string(n2 - 1) + ")");
}

// Marks the whole 2 MiB pages inside a large block for transparent huge pages: filling a
// whole-picture plane or picture then costs a few hundred page faults instead of one per
// 4 KiB page, a measurable part of an embedding or a detection (about 40 ms per 100 MB).
// Only a hint; the kernel may ignore it.
inline void adviseHugePages(void* p, std::size_t bytes) noexcept
{
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
    if (bytes < 4 * kHugePage) return;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// Hands out memory aligned to 64 bytes (a cache line, and enough for any SIMD width FFTW
// uses), so that transforms planned on aligned buffers run on planes; large blocks are
// marked for huge pages. Used for the planes, the colour planes and the pictures' pixels,
// the only large buffers there are.
template <class T> struct AlignedAllocator {
    using value_type = T;
    static constexpr std::align_val_t alignment{64};
    AlignedAllocator() noexcept = default;
    template <class U> AlignedAllocator(const AlignedAllocator<U>&) noexcept { }
    T* allocate(std::size_t n)
    {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        T* p = static_cast<T*>(::operator new(n * sizeof(T), alignment));
        adviseHugePages(p, n * sizeof(T));
        return p;
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, alignment); }
    template <class U> bool operator==(const AlignedAllocator<U>&) const noexcept { return true; }
};

// Allocates n1 * n2 elements or throws error 7; never lets a bad_alloc or a length_error escape.
template <class T, class Alloc = std::allocator<T>>
std::vector<T, Alloc> allocateElements(std::size_t n1, std::size_t n2)
{
    if (n1 != 0 && n2 > std::numeric_limits<std::size_t>::max() / sizeof(T) / n1)
        throw Error(err::OutOfMemory, "Out of memory: array too large");
    try {
        return std::vector<T, Alloc>(n1 * n2);
    } catch (const std::bad_alloc&) {
        throw Error(err::OutOfMemory,
            "Out of memory: cannot allocate " + sizeText((long long)(n1), (long long)(n2)) + " elements");
    } catch (const std::length_error&) {
        throw Error(err::OutOfMemory, "Out of memory: array too large");
    }
}

// A plane or coefficient matrix of doubles, indices (0..n1-1, 0..n2-1).
// First index = column x / horizontal frequency u, second = row y / vertical frequency v.
// Memory is first-index-major: element (i, j) sits at data()[i * n2 + j], so the
// selection scan (first index outer, second inner) walks memory in order.
class Plane {
public:
    Plane() = default;
    Plane(int n1, int n2) { resize(n1, n2); }

    void resize(int n1, int n2)
    {
        if (n1 < 0 || n2 < 0) throwSubscript(n1, n2, 0, 0);
        m_data = allocateElements<double, AlignedAllocator<double>>(std::size_t(n1), std::size_t(n2));
        m_n1 = n1;
        m_n2 = n2;
    }
    int n1() const noexcept { return m_n1; }
    int n2() const noexcept { return m_n2; }
    int upper1() const noexcept { return m_n1 - 1; }
    int upper2() const noexcept { return m_n2 - 1; }
    bool empty() const noexcept { return m_data.empty(); }

    // Index-checked access (error 9).
    double& at(int i, int j)
    {
        if (i < 0 || j < 0 || i >= m_n1 || j >= m_n2) throwSubscript(i, j, m_n1, m_n2);
        return m_data[std::size_t(i) * std::size_t(m_n2) + std::size_t(j)];
    }
    double at(int i, int j) const { return const_cast<Plane*>(this)->at(i, j); }
    // Unchecked access for loops whose bounds are already known.
    double& operator()(int i, int j) noexcept
    {
        return m_data[std::size_t(i) * std::size_t(m_n2) + std::size_t(j)];
    }
    double operator()(int i, int j) const noexcept
    {
        return m_data[std::size_t(i) * std::size_t(m_n2) + std::size_t(j)];
    }

    double* data() noexcept { return m_data.data(); }
    const double* data() const noexcept { return m_data.data(); }
    std::size_t size() const noexcept { return m_data.size(); }

private:
    int m_n1 = 0;
    int m_n2 = 0;
    std::vector<double, AlignedAllocator<double>> m_data;
};

// A non-owning view of bytes with bounds (0..n1-1, 0..n2-1): element (x, y) is the
// byte at y * stride + x. Over a 24-bit picture n1 = 3 * width, n2 = height and the
// stride is the picture's padded row length; padding is not part of the view.
// ByteView writes; ConstByteView only reads, and every ByteView converts to one.
template <class Byte> class BasicByteView {
public:
    BasicByteView() = default;
    BasicByteView(Byte* base, int n1, int n2, std::size_t stride) noexcept
        : m_base(base)
        , m_n1(n1)
        , m_n2(n2)
        , m_stride(stride)
    {
    }
    // A writable view is also a read-only one.
    template <class Other, class = std::enable_if_t<std::is_same_v<Byte, const Other>>>
    BasicByteView(const BasicByteView<Other>& other) noexcept
        : BasicByteView(other.data(), other.n1(), other.n2(), other.stride())
    {
    }

    int n1() const noexcept { return m_n1; }
    int n2() const noexcept { return m_n2; }
    int upper1() const noexcept { return m_n1 - 1; }
    int upper2() const noexcept { return m_n2 - 1; }
    std::size_t stride() const noexcept { return m_stride; }
    bool empty() const noexcept { return m_base == nullptr; }
    void release() noexcept { *this = BasicByteView(); }

    Byte& at(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= m_n1 || y >= m_n2) throwSubscript(x, y, m_n1, m_n2);
        return m_base[std::size_t(y) * m_stride + std::size_t(x)];
    }
    Byte* row(int y) const noexcept { return m_base + std::size_t(y) * m_stride; }
    Byte* data() const noexcept { return m_base; }

private:
    Byte* m_base = nullptr;
    int m_n1 = 0;
    int m_n2 = 0;
    std::size_t m_stride = 0;
};

using ByteView = BasicByteView<std::uint8_t>;
using ConstByteView = BasicByteView<const std::uint8_t>;

// An owned byte array with the same bounds and element order as a ByteView (stride = n1).
// Used for the colour planes.
class ByteArray2D {
public:
    ByteArray2D() = default;
    ByteArray2D(int n1, int n2) { resize(n1, n2); }
    void resize(int n1, int n2)
    {
        if (n1 < 0 || n2 < 0) throwSubscript(n1, n2, 0, 0);
        m_data = allocateElements<std::uint8_t, AlignedAllocator<std::uint8_t>>(
            std::size_t(n1), std::size_t(n2));
        m_n1 = n1;
        m_n2 = n2;
    }
    int n1() const noexcept { return m_n1; }
    int n2() const noexcept { return m_n2; }
    int upper1() const noexcept { return m_n1 - 1; }
    int upper2() const noexcept { return m_n2 - 1; }
    ByteView view() noexcept { return ByteView(m_data.data(), m_n1, m_n2, std::size_t(m_n1)); }
    ConstByteView view() const noexcept
    {
        return ConstByteView(m_data.data(), m_n1, m_n2, std::size_t(m_n1));
    }
    std::uint8_t& at(int x, int y) { return view().at(x, y); }
    std::uint8_t at(int x, int y) const { return const_cast<ByteArray2D*>(this)->at(x, y); }
    std::uint8_t* data() noexcept { return m_data.data(); }
    const std::uint8_t* data() const noexcept { return m_data.data(); }

private:
    int m_n1 = 0;
    int m_n2 = 0;
    std::vector<std::uint8_t, AlignedAllocator<std::uint8_t>> m_data;
};

} // namespace pelinor
