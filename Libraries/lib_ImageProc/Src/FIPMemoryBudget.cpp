#include "FIPMemoryBudget.h"

#include <algorithm>

#include "FCache.h"
#include "FMemoryAllocator.h"
#include "os/FOsMemory.h"

namespace
{

// A development holds at once the loaded frame, the stage-1/2 image with its pre-matrix
// copy, the retinex and sharpening planes and the output-sized stage-3 and stage-4 images:
// about 44 bytes per pixel (48 with margin), plus room for tables, previews and other files' entries.
constexpr int64_t kBytesPerPixel = 48;
constexpr int64_t kCacheHeadroom = int64_t(64) << 20;
// Two 48-bit images, so that a re-render finds its largest blocks ready.
constexpr int64_t kRetainedBytesPerPixel = 12;
constexpr uint64_t kDefaultRetained = uint64_t(160) << 20;
// The cache counts in 32 bits.
constexpr uint64_t kCacheCeiling = 0xF0000000u;

} // namespace

FIPMemoryBudget MemoryBudgetForImage(int64_t pixels, uint64_t physical)
{
    pixels = std::max<int64_t>(pixels, 0);
    const uint64_t cacheCap = physical != 0 ? std::min(physical / 2, kCacheCeiling) : kCacheCeiling;
    const uint64_t wanted = static_cast<uint64_t>(pixels * kBytesPerPixel + kCacheHeadroom);
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
