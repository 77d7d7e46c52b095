#pragma once

// The memory a development of one image needs: the cache limit and the page store's
// budget grow with the largest image the program has met, within the machine's memory.

#include <cstdint>

struct FIPMemoryBudget {
    uint32_t cacheLimit;
    // Page-store memory, blocks in use and kept: the cache's stage images and the
    // engine's working planes, so that the next development finds its pages mapped.
    uint64_t pageBudget;
};

// What an image of `pixels` needs on a machine with `physical` bytes (0: unknown): never
// below the cache's default limit and the store's default budget, at most half of the
// machine's memory for either.
FIPMemoryBudget MemoryBudgetForImage(int64_t pixels, uint64_t physical);

// Whether a development of an image of cols x rows can have what it holds at its peak on
// a machine with `physical` bytes (0: unknown), and within the cache's 32-bit limit.
bool ImageFitsMemory(int64_t cols, int64_t rows, uint64_t physical);
// The same on this machine, or within the ceiling SetImageMemoryCeiling set.
bool ImageFitsMemory(int cols, int rows);
// Stands for the machine's memory in the test above (0: the machine's own again).
void SetImageMemoryCeiling(uint64_t bytes);

// Raises the global cache limit and the store's budget to what an image of cols x rows
// needs. A cache limit set below the default on purpose is left alone, and nothing is
// ever lowered.
void FitMemoryToImage(int cols, int rows);

// Raises only the store's budget (stages called without a manager).
void FitPageBudgetToImage(int cols, int rows);
