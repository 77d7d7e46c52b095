#include "FIPWorkerPool.h"

#include "FBandPool.h"
#include "FWinThread.h"
#include "RunInRowBands.h"

FBandPool& StartIPWorkerPool()
{
    static FBandPool* const pool = [] {
        auto* made = new FBandPool(GetProcessorCount() - 1);
        SetRowBandPool(made);
        return made;
    }();
    return *pool;
}
