// Global allocation functions for pelinor-cli: large blocks (whole planes and pictures,
// tens or hundreds of megabytes) are marked for transparent huge pages. Filling such a
// block then costs a few hundred page faults instead of one per 4 KiB page, which is a
// measurable part of a whole-picture embedding or detection (about 40 ms of faults per
// 100 MB plane otherwise). Everything else is plain malloc; every block is freed by free().
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kAdviseFrom = 4 * kHugePage;

void* allocate(std::size_t size, std::size_t alignment)
{
    if (size == 0) size = 1;
    if (alignment < alignof(std::max_align_t)) alignment = alignof(std::max_align_t);
    for (;;) {
        void* p = nullptr;
        if (alignment == alignof(std::max_align_t)) {
            p = std::malloc(size);
        } else if (::posix_memalign(&p, alignment, size) != 0) {
            p = nullptr;
        }
        if (p != nullptr) {
            if (size >= kAdviseFrom) {
                // Only the whole huge pages inside the block; the hint may be refused.
                const auto begin = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
                const auto end = (reinterpret_cast<std::uintptr_t>(p) + size) & ~(kHugePage - 1);
                if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
            }
            return p;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

} // namespace

void* operator new(std::size_t size)
{
    return allocate(size, alignof(std::max_align_t));
}
void* operator new[](std::size_t size)
{
    return allocate(size, alignof(std::max_align_t));
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size, alignof(std::max_align_t));
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size, alignof(std::max_align_t));
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size, static_cast<std::size_t>(alignment));
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size, static_cast<std::size_t>(alignment));
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(p);
}
