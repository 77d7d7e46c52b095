#include "FMemoryAllocator.h"

#include <cstdlib>
#include <malloc.h>
#include <mutex>
#include <utility>

#include "FException.h"
#include "FLargePageAllocator.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define RB_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define RB_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define RB_POISON(p, n) ((void)(p), (void)(n))
#define RB_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace
{

// Constant-initialised, so that they outlive every object destroyed at exit (the global
// cache frees its blocks through the allocator then).
constinit std::mutex gAllocatorLock;
constinit unsigned staulMemoryAllocatorRefCount = 0;
constinit FMemoryAllocator* gpAllocator = nullptr;

// Freed large blocks kept for the next block of about their size. Memory fresh from the
// system costs a page fault per page on first touch, which for a frame or stage image of
// tens of MiB took longer than loading or computing it; a development allocates the same
// sizes again and again. Reachable from here, so never reported as leaked.
constexpr size_t kRetainMinBytes = size_t(1) << 20;
constexpr size_t kRetainDefaultBytes = size_t(160) << 20;
constexpr int kRetainMaxBlocks = 16;

struct FRetained {
    void* m_pBlock;
    size_t m_uiBytes;
};

constinit std::mutex gRetainLock;
constinit FRetained gRetained[kRetainMaxBlocks] = {};
constinit int giRetained = 0;
constinit size_t guiRetainedBytes = 0;
// Raised for images whose blocks would not fit the default (guarded by gRetainLock).
constinit size_t guiRetainLimit = kRetainDefaultBytes;

// The index of the smallest kept block that holds `bytes` without wasting more than a
// quarter of it, or -1.
int priFindRetained(size_t bytes)
{
    int best = -1;
    for (int i = 0; i < giRetained; ++i) {
        const size_t have = gRetained[i].m_uiBytes;
        if (have >= bytes && have - bytes <= bytes / 4 && (best < 0 || have < gRetained[best].m_uiBytes))
            best = i;
    }
    return best;
}

FRetained priTakeRetained(int index)
{
    const FRetained taken = gRetained[index];
    for (int i = index; i + 1 < giRetained; ++i)
        gRetained[i] = gRetained[i + 1];
    --giRetained;
    guiRetainedBytes -= taken.m_uiBytes;
    return taken;
}

void priFreeAllRetained()
{
    std::unique_lock<std::mutex> lock(gRetainLock);
    while (giRetained > 0) {
        const FRetained oldest = priTakeRetained(0);
        RB_UNPOISON(oldest.m_pBlock, oldest.m_uiBytes);
        std::free(oldest.m_pBlock);
    }
}

} // namespace

void* FMemoryAllocator::Alloc(size_t bytes)
{
    if (bytes >= kRetainMinBytes) {
        std::unique_lock<std::mutex> lock(gRetainLock);
        const int index = priFindRetained(bytes);
        if (index >= 0) {
            const FRetained reused = priTakeRetained(index);
            lock.unlock();
            // The slack past the asked size stays out of bounds for the sanitizer.
            RB_UNPOISON(reused.m_pBlock, bytes);
            return reused.m_pBlock;
        }
    }
    void* block = AllocLargePageBlock(bytes);
    if (block == nullptr && bytes >= kRetainMinBytes) {
        // What is kept must never make an allocation fail.
        priFreeAllRetained();
        block = AllocLargePageBlock(bytes);
    }
    return block;
}

void FMemoryAllocator::Free(void* block)
{
    if (block == nullptr)
        return;
    const size_t bytes = malloc_usable_size(block);
    if (bytes < kRetainMinBytes) {
        std::free(block);
        return;
    }
    void* dropped[kRetainMaxBlocks + 1] = {};
    int droppedCount = 0;
    {
        std::unique_lock<std::mutex> lock(gRetainLock);
        if (bytes > guiRetainLimit) {
            lock.unlock();
            std::free(block);
            return;
        }
        // The oldest kept blocks make room.
        while (giRetained > 0 &&
               (giRetained == kRetainMaxBlocks || guiRetainedBytes + bytes > guiRetainLimit)) {
            const FRetained oldest = priTakeRetained(0);
            RB_UNPOISON(oldest.m_pBlock, oldest.m_uiBytes);
            dropped[droppedCount++] = oldest.m_pBlock;
        }
        RB_POISON(block, bytes);
        gRetained[giRetained++] = {block, bytes};
        guiRetainedBytes += bytes;
    }
    for (int i = 0; i < droppedCount; ++i)
        std::free(dropped[i]);
}

void FreeRetainedMemory()
{
    priFreeAllRetained();
    // Freed blocks the heap kept for itself go back too.
    malloc_trim(0);
}

size_t GetRetainedMemoryBytes()
{
    std::lock_guard<std::mutex> lock(gRetainLock);
    return guiRetainedBytes;
}

void SetRetainedMemoryLimit(size_t bytes)
{
    void* dropped[kRetainMaxBlocks] = {};
    int droppedCount = 0;
    {
        std::lock_guard<std::mutex> lock(gRetainLock);
        guiRetainLimit = bytes;
        while (giRetained > 0 && guiRetainedBytes > guiRetainLimit) {
            const FRetained oldest = priTakeRetained(0);
            RB_UNPOISON(oldest.m_pBlock, oldest.m_uiBytes);
            dropped[droppedCount++] = oldest.m_pBlock;
        }
    }
    for (int i = 0; i < droppedCount; ++i)
        std::free(dropped[i]);
}

size_t GetRetainedMemoryLimit()
{
    std::lock_guard<std::mutex> lock(gRetainLock);
    return guiRetainLimit;
}

FMemoryAllocator* GetMemoryAllocator(FLowMemoryHook /*hook*/)
{
    std::lock_guard<std::mutex> lock(gAllocatorLock);
    if (gpAllocator == nullptr)
        gpAllocator = new FMemoryAllocator;
    ++staulMemoryAllocatorRefCount;
    return gpAllocator;
}

void ReleaseMemoryAllocator(FMemoryAllocator*& holder)
{
    FMemoryAllocator* doomed = nullptr;
    {
        std::unique_lock<std::mutex> lock(gAllocatorLock);
        if (staulMemoryAllocatorRefCount == 0) {
            lock.unlock();
            ReportAssertion("lib_Threading\\Src\\FMemoryAllocator", 62, "staulMemoryAllocatorRefCount", 0, 0);
            return;
        }
        holder = nullptr;
        if (--staulMemoryAllocatorRefCount == 0)
            doomed = std::exchange(gpAllocator, nullptr);
    }
    delete doomed;
}

unsigned GetMemoryAllocatorRefCount()
{
    std::lock_guard<std::mutex> lock(gAllocatorLock);
    return staulMemoryAllocatorRefCount;
}
