#include "RunInRowBands.h"

#include <algorithm>

#include "FBandPool.h"

int RowBandStart(int rows, int threads, int band)
{
    return static_cast<int>(static_cast<long long>(rows) * band / threads);
}

int BalancedBands(int rows, int threads, int minRows)
{
    if (threads <= 1 || rows <= 1)
        return 1;
    const int wanted = std::clamp(rows / std::max(minRows, 1), threads, 4 * threads);
    return std::clamp(wanted, 1, rows);
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
