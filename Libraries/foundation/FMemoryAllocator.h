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

// The process-wide allocator behind images and cache blocks: a plain heap whose blocks
// never move and which never reports low memory. Freed blocks of 1 MiB and more are kept
// (at most GetRetainedMemoryLimit(), oldest given back first) and handed out again for a block of about
// their size; their contents are then whatever was there before, as with any heap block.
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
// Gives every kept freed block, and what the heap keeps free, back to the system.
void FreeRetainedMemory();
// What the kept freed blocks hold, in bytes.
size_t GetRetainedMemoryBytes();
// The most the kept freed blocks may hold (160 MiB unless set); a block larger than it is
// never kept. Lowering it gives back what no longer fits.
void SetRetainedMemoryLimit(size_t bytes);
size_t GetRetainedMemoryLimit();
