#include "FLargePageAllocator.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "FBandPool.h"
#include "os/FOsMemory.h"

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

constexpr size_t kPage = kOsLargePageBytes;
constexpr size_t kDefaultBudget = size_t(160) << 20;
// Below this the fresh pages are faulted in by the calling thread alone.
constexpr size_t kTouchOnPoolBytes = size_t(8) << 20;
constexpr size_t kSmallPage = 4096;

// Pages inside one mapping of the system's, so that they can be moved as one.
struct FPiece {
    uintptr_t m_uAddress;
    size_t m_uBytes;
    bool m_bFresh; // not yet faulted in by TouchFreshPages
};

struct FBlock {
    std::vector<FPiece> m_pieces;
    size_t m_uBytes;
};

// Only kept pages are poisoned; pages leave the store or move unpoisoned, so that no
// address the store gives up stays marked.
struct FStore {
    std::mutex m_lock;
    std::map<uintptr_t, FBlock> m_live;
    std::vector<FPiece> m_kept; // oldest first
    size_t m_uKept = 0;
    size_t m_uUsed = 0;
    size_t m_uBudget = kDefaultBudget;
    FLargePageRoomHook m_pfnRoom = nullptr;
};

// Never destroyed: blocks are freed into it until the very end of the process.
FStore& Store()
{
    static FStore* const store = new FStore;
    return *store;
}

void* AsPointer(uintptr_t address)
{
    return reinterpret_cast<void*>(address);
}

// The kept piece that holds `bytes` with the least left over, or -1.
int priBestFit(const FStore& s, size_t bytes)
{
    int best = -1;
    for (size_t i = 0; i < s.m_kept.size(); ++i)
        if (s.m_kept[i].m_uBytes >= bytes &&
            (best < 0 || s.m_kept[i].m_uBytes < s.m_kept[size_t(best)].m_uBytes))
            best = int(i);
    return best;
}

// Takes `bytes` from the front of kept piece i. Caller holds the lock.
FPiece priTakeFront(FStore& s, size_t i, size_t bytes)
{
    FPiece& kept = s.m_kept[i];
    const FPiece taken{kept.m_uAddress, bytes, kept.m_bFresh};
    RB_UNPOISON(AsPointer(taken.m_uAddress), bytes);
    kept.m_uAddress += bytes;
    kept.m_uBytes -= bytes;
    if (kept.m_uBytes == 0)
        s.m_kept.erase(s.m_kept.begin() + std::ptrdiff_t(i));
    s.m_uKept -= bytes;
    return taken;
}

// A block of n bytes from kept pages and, for the rest, fresh ones; null when the system
// refuses the mapping. Caller holds the lock.
bool priAssemble(FStore& s, size_t n, FBlock& block, uintptr_t& start)
{
    const int fit = priBestFit(s, n);
    if (fit >= 0) {
        const FPiece piece = priTakeFront(s, size_t(fit), n);
        block.m_pieces.push_back(piece);
        start = piece.m_uAddress;
        return true;
    }
    void* target = OsMapPages(n);
    if (target == nullptr)
        return false;
    start = reinterpret_cast<uintptr_t>(target);
    size_t done = 0;
    // The largest kept pieces first: fewest moves.
    while (done < n && !s.m_kept.empty()) {
        size_t largest = 0;
        for (size_t i = 1; i < s.m_kept.size(); ++i)
            if (s.m_kept[i].m_uBytes > s.m_kept[largest].m_uBytes)
                largest = i;
        const size_t take = std::min(s.m_kept[largest].m_uBytes, n - done);
        const uintptr_t from = s.m_kept[largest].m_uAddress;
        RB_UNPOISON(AsPointer(from), take);
        if (!OsMovePages(AsPointer(from), take, AsPointer(start + done))) {
            RB_POISON(AsPointer(from), take);
            break;
        }
        FPiece piece = priTakeFront(s, largest, take);
        piece.m_uAddress = start + done;
        block.m_pieces.push_back(piece);
        done += take;
    }
    if (done < n)
        block.m_pieces.push_back({start + done, n - done, true});
    return true;
}

// Unmaps kept pages, oldest first, until what is mapped fits the budget. Caller holds the
// lock; the pieces to unmap are handed out, to be unmapped without it.
void priTrim(FStore& s, std::vector<FPiece>& dropped)
{
    while (!s.m_kept.empty() && s.m_uUsed + s.m_uKept > s.m_uBudget) {
        const size_t excess = s.m_uUsed + s.m_uKept - s.m_uBudget;
        FPiece& oldest = s.m_kept.front();
        const size_t drop = std::min(oldest.m_uBytes, (excess + kPage - 1) / kPage * kPage);
        // The end of the piece goes, so that its start stays where it was.
        const FPiece gone{oldest.m_uAddress + oldest.m_uBytes - drop, drop, oldest.m_bFresh};
        RB_UNPOISON(AsPointer(gone.m_uAddress), drop);
        dropped.push_back(gone);
        oldest.m_uBytes -= drop;
        s.m_uKept -= drop;
        if (oldest.m_uBytes == 0)
            s.m_kept.erase(s.m_kept.begin());
    }
}

void Unmap(const std::vector<FPiece>& pieces)
{
    for (const FPiece& piece : pieces)
        OsUnmapPages(AsPointer(piece.m_uAddress), piece.m_uBytes);
}

// One write per small page, of what is there: each page is faulted in, none changes. The
// slack past a block's asked size is the store's own and poisoned for the sanitizer.
__attribute__((no_sanitize_address)) void TouchRange(uintptr_t address, size_t bytes)
{
    volatile char* p = static_cast<volatile char*>(AsPointer(address));
    for (size_t i = 0; i < bytes; i += kSmallPage)
        p[i] = p[i];
}

} // namespace

void* AllocLargePageBlock(size_t bytes)
{
    if (bytes < kLargePageBlockMin)
        return std::malloc(bytes != 0 ? bytes : 1);
    if (bytes > static_cast<size_t>(PTRDIFF_MAX) - kPage)
        return nullptr;
    const size_t n = (bytes + kPage - 1) / kPage * kPage;
    FStore& s = Store();
    std::unique_lock<std::mutex> hold(s.m_lock);
    // Past the budget, unreferenced blocks of the cache make room first: their pages come
    // back kept and serve this block.
    while (s.m_pfnRoom != nullptr) {
        const size_t fresh = n > s.m_uKept && priBestFit(s, n) < 0 ? n - s.m_uKept : 0;
        if (fresh == 0 || s.m_uUsed + s.m_uKept + fresh <= s.m_uBudget)
            break;
        const FLargePageRoomHook room = s.m_pfnRoom;
        hold.unlock();
        const bool freed = room();
        hold.lock();
        if (!freed)
            break;
    }
    FBlock block{{}, n};
    uintptr_t start = 0;
    if (!priAssemble(s, n, block, start)) {
        // What is kept must never make a block fail.
        std::vector<FPiece> dropped(s.m_kept.begin(), s.m_kept.end());
        for (const FPiece& piece : dropped)
            RB_UNPOISON(AsPointer(piece.m_uAddress), piece.m_uBytes);
        s.m_kept.clear();
        s.m_uKept = 0;
        hold.unlock();
        Unmap(dropped);
        hold.lock();
        if (!priAssemble(s, n, block, start))
            return nullptr;
    }
    s.m_uUsed += n;
    s.m_live.emplace(start, std::move(block));
    hold.unlock();
    // The slack past the asked size stays out of bounds for the sanitizer.
    RB_UNPOISON(AsPointer(start), bytes);
    RB_POISON(AsPointer(start + bytes), n - bytes);
    return AsPointer(start);
}

void FreeLargePageBlock(void* block)
{
    if (block == nullptr)
        return;
    FStore& s = Store();
    std::vector<FPiece> dropped;
    {
        std::lock_guard<std::mutex> hold(s.m_lock);
        const auto it = s.m_live.find(reinterpret_cast<uintptr_t>(block));
        if (it == s.m_live.end()) {
            std::free(block);
            return;
        }
        for (const FPiece& piece : it->second.m_pieces) {
            RB_POISON(AsPointer(piece.m_uAddress), piece.m_uBytes);
            s.m_kept.push_back(piece);
        }
        s.m_uKept += it->second.m_uBytes;
        s.m_uUsed -= it->second.m_uBytes;
        s.m_live.erase(it);
        priTrim(s, dropped);
    }
    Unmap(dropped);
}

void TouchFreshPages(const void* inside)
{
    if (inside == nullptr)
        return;
    std::vector<FPiece> fresh;
    size_t total = 0;
    {
        FStore& s = Store();
        std::lock_guard<std::mutex> hold(s.m_lock);
        const uintptr_t address = reinterpret_cast<uintptr_t>(inside);
        auto it = s.m_live.upper_bound(address);
        if (it == s.m_live.begin())
            return;
        --it;
        if (address >= it->first + it->second.m_uBytes)
            return;
        for (FPiece& piece : it->second.m_pieces) {
            if (!piece.m_bFresh)
                continue;
            piece.m_bFresh = false;
            fresh.push_back(piece);
            total += piece.m_uBytes;
        }
    }
    if (fresh.empty())
        return;
    FBandPool* pool = FBandPool::GetProcessPool();
    if (pool == nullptr || total < kTouchOnPoolBytes) {
        for (const FPiece& piece : fresh)
            TouchRange(piece.m_uAddress, piece.m_uBytes);
        return;
    }
    // Large pages one by one over the pool: a first touch costs the system most, and the
    // pool's threads pay it side by side.
    std::vector<uintptr_t> pages;
    pages.reserve(total / kPage);
    for (const FPiece& piece : fresh)
        for (size_t off = 0; off < piece.m_uBytes; off += kPage)
            pages.push_back(piece.m_uAddress + off);
    const int count = int(pages.size());
    const int bands = std::min(count, 4 * (pool->GetWorkerCount() + 1));
    pool->Run(bands, [&](int band) {
        const int first = int(int64_t(count) * band / bands);
        const int end = int(int64_t(count) * (band + 1) / bands);
        for (int i = first; i < end; ++i)
            TouchRange(pages[size_t(i)], kPage);
    });
}

void SetLargePageBudget(size_t bytes)
{
    FStore& s = Store();
    std::vector<FPiece> dropped;
    {
        std::lock_guard<std::mutex> hold(s.m_lock);
        s.m_uBudget = bytes;
        priTrim(s, dropped);
    }
    Unmap(dropped);
}

size_t GetLargePageBudget()
{
    FStore& s = Store();
    std::lock_guard<std::mutex> hold(s.m_lock);
    return s.m_uBudget;
}

size_t GetKeptLargePageBytes()
{
    FStore& s = Store();
    std::lock_guard<std::mutex> hold(s.m_lock);
    return s.m_uKept;
}

size_t GetUsedLargePageBytes()
{
    FStore& s = Store();
    std::lock_guard<std::mutex> hold(s.m_lock);
    return s.m_uUsed;
}

void ReleaseKeptLargePages()
{
    FStore& s = Store();
    std::vector<FPiece> dropped;
    {
        std::lock_guard<std::mutex> hold(s.m_lock);
        dropped.swap(s.m_kept);
        s.m_uKept = 0;
        for (const FPiece& piece : dropped)
            RB_UNPOISON(AsPointer(piece.m_uAddress), piece.m_uBytes);
    }
    Unmap(dropped);
}

void SetLargePageRoomHook(FLargePageRoomHook hook)
{
    FStore& s = Store();
    std::lock_guard<std::mutex> hold(s.m_lock);
    s.m_pfnRoom = hook;
}
