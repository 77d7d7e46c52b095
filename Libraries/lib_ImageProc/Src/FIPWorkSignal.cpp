#include "FIPWorkSignal.h"

#include <atomic>
#include <chrono>

#include "FEvent.h"

namespace
{

std::atomic<uint64_t> g_finished{0};
thread_local int t_noWaitDepth = 0;

// Auto-reset: a Set left over from a finish nobody waited for only ends one wait early,
// and the waiter checks the count again.
FEvent& FinishedEvent()
{
    static FEvent event;
    return event;
}

} // namespace

void SignalIPWorkDone()
{
    g_finished.fetch_add(1, std::memory_order_acq_rel);
    FinishedEvent().Set();
}

uint64_t GetIPWorkCount()
{
    return g_finished.load(std::memory_order_acquire);
}

bool WaitForIPWork(uint64_t seen, int milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (GetIPWorkCount() == seen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return false;
        FinishedEvent().Wait(int(left));
    }
    return true;
}

FIPNoWaitScope::FIPNoWaitScope()
{
    ++t_noWaitDepth;
}

FIPNoWaitScope::~FIPNoWaitScope()
{
    --t_noWaitDepth;
}

bool IPIdleMayWait()
{
    return t_noWaitDepth == 0;
}
