#pragma once

// The memory a development of one image needs: the cache limit and the allocator's kept
// blocks grow with the largest image the program has met, within the machine's memory.

#include <cstdint>

struct FIPMemoryBudget {
    uint32_t cacheLimit;
    uint64_t retainedLimit;
};

// What an image of `pixels` needs on a machine with `physical` bytes (0: unknown): never
// below the cache's default limit and the allocator's default kept bytes, at most half of
// the machine's memory for the cache and an eighth for the kept blocks.
FIPMemoryBudget MemoryBudgetForImage(int64_t pixels, uint64_t physical);

// Raises the global cache limit and the allocator's kept bytes to what an image of cols x
// rows needs. A cache limit set below the default on purpose is left alone, and nothing is
// ever lowered.
void FitMemoryToImage(int cols, int rows);
