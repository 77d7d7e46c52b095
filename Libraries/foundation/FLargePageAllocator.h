#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#include "os/FOsMemory.h"

// Working planes of whole images: their first touch costs a page fault per page, so blocks
// of a megabyte and more ask for large pages before anything is written to them.
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
        if (count > static_cast<size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        const size_t bytes = count * sizeof(T);
        void* block = std::malloc(bytes != 0 ? bytes : 1);
        if (block == nullptr)
            throw std::bad_alloc();
        if (bytes >= kLargeBytes)
            OsAdviseLargePages(block, bytes);
        return static_cast<T*>(block);
    }
    void deallocate(T* block, size_t) noexcept { std::free(block); }

    template <class U>
    bool operator==(const FLargePageAllocator<U>&) const noexcept
    {
        return true;
    }

private:
    static constexpr size_t kLargeBytes = size_t(1) << 20;
};
