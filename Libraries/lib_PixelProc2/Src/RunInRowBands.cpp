#include "RunInRowBands.h"

#include <algorithm>
#include <atomic>

#include "FBandPool.h"

int RowBandStart(int rows, int threads, int band)
{
    return static_cast<int>(static_cast<long long>(rows) * band / threads);
}

void RunRowChunks(int rows, int threads, int grain, const std::function<void(int first, int end)>& body)
{
    if (rows <= 0)
        return;
    FBandPool* pool = GetRowBandPool();
    grain = std::max(grain, 1);
    const int chunks = (rows + grain - 1) / grain;
    const int takers = pool != nullptr ? std::min({threads, pool->GetSlotCount(), chunks}) : 1;
    if (takers <= 1) {
        body(0, rows);
        return;
    }
    std::atomic<int> next{0};
    pool->Run(takers, [&](int) {
        for (int c = next.fetch_add(1, std::memory_order_relaxed); c < chunks;
             c = next.fetch_add(1, std::memory_order_relaxed))
            body(c * grain, std::min(rows, (c + 1) * grain));
    });
}

int BalancedBands(int rows, int threads, int minRows)
{
    if (threads <= 1 || rows <= 1)
        return 1;
    // A whole number of bands a thread, so that equal bands end together.
    const int perThread = std::clamp(rows / (std::max(minRows, 1) * threads), 1, 4);
    return std::clamp(perThread * threads, 1, rows);
}

void SetRowBandPool(FBandPool* pool)
{
    FBandPool::SetProcessPool(pool);
}

FBandPool* GetRowBandPool()
{
    return FBandPool::GetProcessPool();
}

void RunInRowBands(int rows, int threads, const std::function<void(int first, int end)>& band)
{
    if (rows <= 0)
        return;
    threads = std::clamp(threads, 1, rows);
    if (threads == 1) {
        band(0, rows);
        return;
    }
    auto run = [&](int i) { band(RowBandStart(rows, threads, i), RowBandStart(rows, threads, i + 1)); };
    if (FBandPool* pool = GetRowBandPool()) {
        pool->Run(threads, run);
        return;
    }
    for (int i = 0; i < threads; ++i)
        run(i);
}
