#pragma once

// Blocks of whole large pages for images, cache blocks and working planes. A freed block
// keeps its pages mapped in the process's page store, and later blocks of any size are
// made of kept pages first (moved into place, never copied): memory a development used
// once is not faulted in again by the next, which on a virtual machine costs more than
// most pixel passes. Mapped memory, in use and kept, stays within a budget: kept pages go
// back to the system beyond it, and a block that would pass it first asks the room hook
// (the global cache) to give up unreferenced blocks. A block is never refused for the
// budget alone.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

// Blocks from this size on come from the page store; smaller ones from the heap.
inline constexpr size_t kLargePageBlockMin = size_t(2) << 20;

// A block of `bytes` (heap or page store); null when refused. Its contents are
// unspecified: kept pages hold what they held before.
void* AllocLargePageBlock(size_t bytes);
// Gives back any block AllocLargePageBlock made; null is ignored.
void FreeLargePageBlock(void* block);
// Faults in, on the process's band pool, the pages that came fresh from the system of the
// block that holds `inside` (any address in it; others are ignored), so that the work that
// fills it does not stop on each; pages kept from earlier blocks are already in. Cheap when
// there are none. Call it on the thread that will fill the block, not on one that must
// stay responsive.
void TouchFreshPages(const void* inside);

// The budget of mapped page-store memory, in use and kept (160 MiB until set). Lowering
// it gives back kept pages that no longer fit.
void SetLargePageBudget(size_t bytes);
size_t GetLargePageBudget();
// Bytes of kept pages, and of blocks in use.
size_t GetKeptLargePageBytes();
size_t GetUsedLargePageBytes();
// Gives every kept page back to the system.
void ReleaseKeptLargePages();
// Asked, without any lock of the store held, to free one unreferenced block when a new
// block would pass the budget; returns false when it has none.
using FLargePageRoomHook = bool (*)();
void SetLargePageRoomHook(FLargePageRoomHook hook);

// Working planes of whole images.
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
    void deallocate(T* block, size_t) noexcept { FreeLargePageBlock(block); }

    template <class U>
    bool operator==(const FLargePageAllocator<U>&) const noexcept
    {
        return true;
    }
};

// An owned plane of T that is never initialised: filling it is the caller's work, so no
// pass over it is spent on zeros.
template <class T>
class FLargeBlock
{
public:
    FLargeBlock() = default;
    ~FLargeBlock() { Release(); }
    FLargeBlock(FLargeBlock&& other) noexcept
        : m_pData(std::exchange(other.m_pData, nullptr)), m_uCount(std::exchange(other.m_uCount, 0))
    {
    }
    FLargeBlock& operator=(FLargeBlock&& other) noexcept
    {
        if (this != &other) {
            Release();
            m_pData = std::exchange(other.m_pData, nullptr);
            m_uCount = std::exchange(other.m_uCount, 0);
        }
        return *this;
    }
    FLargeBlock(const FLargeBlock&) = delete;
    FLargeBlock& operator=(const FLargeBlock&) = delete;

    // Room for at least `count` elements, its fresh pages faulted in; contents are kept
    // only when no growth was needed. False when the memory cannot be had.
    bool Reserve(size_t count)
    {
        if (count <= m_uCount)
            return true;
        Release();
        if (count > static_cast<size_t>(PTRDIFF_MAX) / sizeof(T))
            return false;
        void* block = AllocLargePageBlock(count * sizeof(T));
        if (block == nullptr)
            return false;
        TouchFreshPages(block);
        m_pData = static_cast<T*>(block);
        m_uCount = count;
        return true;
    }
    void Release()
    {
        FreeLargePageBlock(m_pData);
        m_pData = nullptr;
        m_uCount = 0;
    }
    T* Data() const { return m_pData; }
    size_t Count() const { return m_uCount; }
    size_t Bytes() const { return m_uCount * sizeof(T); }

private:
    T* m_pData = nullptr;
    size_t m_uCount = 0;
};
