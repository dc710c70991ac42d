// Global allocation functions for the command-line programs that build meshes of millions of
// faces. Every block of 2 MiB or more is aligned to 2 MiB and offered to the kernel for huge
// pages: filling it then takes one page fault per 2 MiB instead of one per 4 KiB. On virtual
// machines a page fault costs tens of microseconds, so a mesh's vectors, strings and vertex
// chunks (hundreds of megabytes) would otherwise spend a large share of a run in the kernel.
// Smaller blocks come from the ordinary heap. Everything is released with free(), so blocks from
// either path, and from the C library's own aligned allocation, mix freely.
//
// Linked as an object into the programs (not into libraries), so that tests and other users of
// the libraries keep the standard allocation functions.
#include <cstddef>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace
{

constexpr std::size_t kHugeBytes = std::size_t(2) << 20;

// Memory for `bytes` aligned to at least `alignment` (a power of two), or null.
void* allocate(std::size_t bytes, std::size_t alignment)
{
    if (bytes >= kHugeBytes)
    {
        if (bytes > std::size_t(-1) - kHugeBytes)
        {
            return nullptr;
        }
        const std::size_t rounded = (bytes + kHugeBytes - 1) / kHugeBytes * kHugeBytes;
        void* memory = std::aligned_alloc(alignment > kHugeBytes ? alignment : kHugeBytes, rounded);
#ifdef MADV_HUGEPAGE
        if (memory != nullptr)
        {
            madvise(memory, rounded, MADV_HUGEPAGE); // a hint: failure changes nothing
        }
#endif
        return memory;
    }
    if (bytes == 0)
    {
        bytes = 1;
    }
    if (alignment <= alignof(std::max_align_t))
    {
        return std::malloc(bytes);
    }
    // aligned_alloc wants a size that is a multiple of the alignment.
    return std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
}

void* allocateOrThrow(std::size_t bytes, std::size_t alignment)
{
    void* memory = allocate(bytes, alignment);
    if (memory == nullptr)
    {
        throw std::bad_alloc();
    }
    return memory;
}

} // namespace

void* operator new(std::size_t bytes)
{
    return allocateOrThrow(bytes, alignof(std::max_align_t));
}

void* operator new[](std::size_t bytes)
{
    return allocateOrThrow(bytes, alignof(std::max_align_t));
}

void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept
{
    return allocate(bytes, alignof(std::max_align_t));
}

void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept
{
    return allocate(bytes, alignof(std::max_align_t));
}

void* operator new(std::size_t bytes, std::align_val_t alignment)
{
    return allocateOrThrow(bytes, std::size_t(alignment));
}

void* operator new[](std::size_t bytes, std::align_val_t alignment)
{
    return allocateOrThrow(bytes, std::size_t(alignment));
}

void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocate(bytes, std::size_t(alignment));
}

void* operator new[](std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocate(bytes, std::size_t(alignment));
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::align_val_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::align_val_t) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t, std::align_val_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(memory);
}
