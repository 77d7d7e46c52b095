#pragma once

#include <cstddef>

// Called when the allocator finds memory low; never kept by this allocator.
using FLowMemoryHook = void (*)();

class FIMemoryAllocator
{
public:
    virtual void* Alloc(size_t bytes) = 0;
    virtual void Free(void* block) = 0;
    virtual void* Relocate(void* block) = 0;
    virtual bool IsMemoryLow() = 0;
    virtual ~FIMemoryAllocator() = default;
};

// The process-wide allocator behind images and cache blocks: blocks never move and it
// never reports low memory. Large blocks come from the page store (FLargePageAllocator.h),
// whose freed pages are kept within its budget and serve later blocks of any size; their
// contents are then whatever was there before, as with any heap block.
class FMemoryAllocator : public FIMemoryAllocator
{
public:
    // Null when the heap cannot give the block.
    void* Alloc(size_t bytes) override;
    void Free(void* block) override;
    void* Relocate(void* block) override { return block; }
    bool IsMemoryLow() override { return false; }
};

// Takes one count of the process-wide instance, creating it on first use.
FMemoryAllocator* GetMemoryAllocator(FLowMemoryHook hook);
// Asserts that a count is held, nulls the holder and gives one count back; the instance
// goes with the last count.
void ReleaseMemoryAllocator(FMemoryAllocator*& holder);
// The counts currently held (staulMemoryAllocatorRefCount).
unsigned GetMemoryAllocatorRefCount();
// Gives every kept page, and what the heap keeps free, back to the system.
void FreeRetainedMemory();
