#include "FMemoryAllocator.h"

#include <malloc.h>
#include <mutex>
#include <utility>

#include "FException.h"
#include "FLargePageAllocator.h"

namespace
{

// Constant-initialised, so that they outlive every object destroyed at exit (the global
// cache frees its blocks through the allocator then).
constinit std::mutex gAllocatorLock;
constinit unsigned staulMemoryAllocatorRefCount = 0;
constinit FMemoryAllocator* gpAllocator = nullptr;

} // namespace

void* FMemoryAllocator::Alloc(size_t bytes)
{
    return AllocLargePageBlock(bytes);
}

void FMemoryAllocator::Free(void* block)
{
    FreeLargePageBlock(block);
}

void FreeRetainedMemory()
{
    ReleaseKeptLargePages();
    // Freed blocks the heap kept for itself go back too.
    malloc_trim(0);
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
