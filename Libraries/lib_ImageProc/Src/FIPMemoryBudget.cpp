#include "FIPMemoryBudget.h"

#include <algorithm>
#include <atomic>

#include "FCache.h"
#include "FLargePageAllocator.h"
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
// The engine's largest working planes: the noise filter's float colour and weight planes.
constexpr int64_t kEngineBytesPerPixel = 16;
// A development's peak: the stage-2 image, its pre-matrix copy and the retinex plane,
// beside the noise filter's planes.
constexpr int64_t kPeakBytesPerPixel = 14 + kEngineBytesPerPixel;
constexpr int64_t kPageHeadroom = int64_t(32) << 20;
// Up to this the store keeps the whole cache and the engine's planes; past it, what one
// development holds at its peak, and the cache gives up unreferenced blocks for the rest.
constexpr uint64_t kGenerousPageBytes = uint64_t(768) << 20;
constexpr uint64_t kDefaultPageBudget = uint64_t(160) << 20;
// The cache counts in 32 bits.
constexpr uint64_t kCacheCeiling = 0xF0000000u;

std::atomic<uint64_t> g_ceiling{0};

} // namespace

FIPMemoryBudget MemoryBudgetForImage(int64_t pixels, uint64_t physical)
{
    pixels = std::clamp<int64_t>(pixels, 0, int64_t(1) << 40);
    const uint64_t cacheCap = physical != 0 ? std::min(physical / 2, kCacheCeiling) : kCacheCeiling;
    const uint64_t generous = static_cast<uint64_t>(pixels * kBytesPerPixel + kCacheHeadroom);
    const uint64_t held = static_cast<uint64_t>(pixels * kHeldBytesPerPixel + kCacheHeadroom);
    const uint64_t wanted = std::min(generous, std::max(held, kGenerousCacheBytes));
    const uint64_t cache = std::max<uint64_t>(FCache::kDefaultLimit, std::min(wanted, cacheCap));

    const uint64_t whole = cache + static_cast<uint64_t>(pixels * kEngineBytesPerPixel + kPageHeadroom);
    const uint64_t peak = static_cast<uint64_t>(pixels * kPeakBytesPerPixel + kPageHeadroom);
    const uint64_t pageCap = physical != 0 ? physical / 2 : UINT64_MAX;
    const uint64_t pages =
        std::max(kDefaultPageBudget, std::min({whole, std::max(kGenerousPageBytes, peak), pageCap}));
    return {static_cast<uint32_t>(cache), pages};
}

bool ImageFitsMemory(int64_t cols, int64_t rows, uint64_t physical)
{
    if (cols <= 0 || rows <= 0)
        return true;
    const int64_t pixels = cols * rows;
    if (pixels > (int64_t(1) << 40) / kPeakBytesPerPixel)
        return false;
    // The cache must hold what a stage holds at once, and the machine the peak.
    const uint64_t cacheCap = physical != 0 ? std::min(physical / 2, kCacheCeiling) : kCacheCeiling;
    if (static_cast<uint64_t>(pixels * kHeldBytesPerPixel) > cacheCap)
        return false;
    return physical == 0 || static_cast<uint64_t>(pixels * kPeakBytesPerPixel) <= physical / 4 * 3;
}

bool ImageFitsMemory(int cols, int rows)
{
    const uint64_t ceiling = g_ceiling.load(std::memory_order_relaxed);
    return ImageFitsMemory(cols, rows, ceiling != 0 ? ceiling : OsPhysicalMemoryBytes());
}

void SetImageMemoryCeiling(uint64_t bytes)
{
    g_ceiling.store(bytes, std::memory_order_relaxed);
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
    if (GetLargePageBudget() < budget.pageBudget)
        SetLargePageBudget(static_cast<size_t>(budget.pageBudget));
}

void FitPageBudgetToImage(int cols, int rows)
{
    if (cols <= 0 || rows <= 0)
        return;
    const FIPMemoryBudget budget = MemoryBudgetForImage(int64_t(cols) * rows, OsPhysicalMemoryBytes());
    if (GetLargePageBudget() < budget.pageBudget)
        SetLargePageBudget(static_cast<size_t>(budget.pageBudget));
}
