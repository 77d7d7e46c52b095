#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "os/FOsMemory.h"

// A heap block (given back with std::free) whose first touch costs few page faults: from
// 2 MiB on it starts and ends on a large page and asks for large pages before anything is
// written to it, so that no page of it is left to small ones. Null when the heap refuses.
inline void* AllocLargePageBlock(size_t bytes)
{
    constexpr size_t kLargePage = size_t(2) << 20;
    if (bytes < kLargePage)
        return std::malloc(bytes != 0 ? bytes : 1);
    // No object may be larger than the largest pointer difference.
    if (bytes > static_cast<size_t>(PTRDIFF_MAX) - kLargePage)
        return nullptr;
    void* block = std::aligned_alloc(kLargePage, (bytes + kLargePage - 1) & ~(kLargePage - 1));
    if (block != nullptr)
        OsAdviseLargePages(block, bytes);
    return block;
}

// Working planes of whole images, from AllocLargePageBlock.
template <class T>
class FLargePageAllocator
{
public:
    using value_type = T;

    FLargePageAllocator() = default;
    template <class U>
    FLargePageAllocator(const FLargePageAllocator<U>&) noexcept
    {
    }

    T* allocate(size_t count)
    {
        if (count > static_cast<size_t>(PTRDIFF_MAX) / sizeof(T))
            throw std::bad_alloc();
        void* block = AllocLargePageBlock(count * sizeof(T));
        if (block == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, size_t) noexcept { std::free(block); }

    template <class U>
    bool operator==(const FLargePageAllocator<U>&) const noexcept
    {
        return true;
    }
};
