#include "FIPMemoryBudget.h"

#include <algorithm>

#include "FCache.h"
#include "FMemoryAllocator.h"
#include "os/FOsMemory.h"

namespace
{

// Every stage image of a development (the loaded frames, the stage-1/2 image with its
// pre-matrix copy, the retinex plane, the output-sized stage-3 and stage-4 images) comes to
// about 44 bytes per pixel; 48 leaves room for tables, previews and other files' entries.
constexpr int64_t kBytesPerPixel = 48;
constexpr int64_t kCacheHeadroom = int64_t(64) << 20;
// Past this the cache keeps only what a development holds at once (the frames and the
// stage-1 image, or the stage-2 and stage-3 images: 18 bytes per pixel), so that the frames
// and finished inputs make room for the next stage instead of staying resident beside the
// engine's working planes.
constexpr uint64_t kGenerousCacheBytes = uint64_t(512) << 20;
constexpr int64_t kHeldBytesPerPixel = 20;
// One 48-bit image, so that a new stage image finds a block of its size ready.
constexpr int64_t kRetainedBytesPerPixel = 6;
constexpr uint64_t kDefaultRetained = uint64_t(160) << 20;
// The cache counts in 32 bits.
constexpr uint64_t kCacheCeiling = 0xF0000000u;

} // namespace

FIPMemoryBudget MemoryBudgetForImage(int64_t pixels, uint64_t physical)
{
    pixels = std::max<int64_t>(pixels, 0);
    const uint64_t cacheCap = physical != 0 ? std::min(physical / 2, kCacheCeiling) : kCacheCeiling;
    const uint64_t generous = static_cast<uint64_t>(pixels * kBytesPerPixel + kCacheHeadroom);
    const uint64_t held = static_cast<uint64_t>(pixels * kHeldBytesPerPixel + kCacheHeadroom);
    const uint64_t wanted = std::min(generous, std::max(held, kGenerousCacheBytes));
    const uint64_t cache = std::max<uint64_t>(FCache::kDefaultLimit, std::min(wanted, cacheCap));
    const uint64_t retainedCap = physical != 0 ? physical / 8 : kDefaultRetained;
    const uint64_t retained = std::max(
        kDefaultRetained, std::min(static_cast<uint64_t>(pixels * kRetainedBytesPerPixel), retainedCap));
    return {static_cast<uint32_t>(cache), retained};
}

void FitMemoryToImage(int cols, int rows)
{
    if (cols <= 0 || rows <= 0)
        return;
    const FIPMemoryBudget budget = MemoryBudgetForImage(int64_t(cols) * rows, OsPhysicalMemoryBytes());
    FCache* cache = GetGlobalCache();
    const uint32_t limit = cache->GetSize();
    if (limit >= FCache::kDefaultLimit && limit < budget.cacheLimit)
        cache->SetSize(budget.cacheLimit);
    if (GetRetainedMemoryLimit() < budget.retainedLimit)
        SetRetainedMemoryLimit(static_cast<size_t>(budget.retainedLimit));
}
