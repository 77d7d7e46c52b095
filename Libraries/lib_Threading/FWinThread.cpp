#include "FWinThread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "FDebugTrace.h"
#include "os/FOsThread.h"

// Shared by the owner's object and the running thread, so that a thread
// outliving its object never writes into freed memory.
struct FThreadControl {
    FThreadFunction function = nullptr;
    void* argument = nullptr;
    std::atomic<int> result{kThreadResultPending};
    std::atomic<bool> done{false};
    std::atomic<int> level{2};
    std::atomic<long> threadId{0};
};

namespace
{

int SystemPriority(int level)
{
    switch (level) {
    case 0:
        return -2;
    case 1:
        return -1;
    case 3:
        return 1;
    case 4:
        return 2;
    }
    return 0;
}

void ApplyPriority(long threadId, int level)
{
    if (!OsSetThreadPriority(threadId, SystemPriority(level)))
        DebugTrace("%s failed", "FWinThread::SetPriority:SetThreadPriority");
}

void ThreadEntry(void* raw)
{
    std::shared_ptr<FThreadControl> control = std::move(*static_cast<std::shared_ptr<FThreadControl>*>(raw));
    delete static_cast<std::shared_ptr<FThreadControl>*>(raw);

    const long self = OsCurrentThreadId();
    control->threadId.store(self);
    // The level may have been set before this thread had an id; a thread
    // also inherits its creator's priority, which need not be normal.
    ApplyPriority(self, control->level.load());

    int result = kThreadResultFailed;
    try {
        result = control->function(control->argument);
    } catch (...) {
        result = kThreadResultFailed;
    }
    // The result is stored before the flag that publishes it.
    control->result.store(result, std::memory_order_release);
    control->done.store(true, std::memory_order_release);
}

} // namespace

FIThread::~FIThread() = default;

FWinThread::FWinThread(FThreadFunction function, void* argument, int level)
    : m_pControl(std::make_shared<FThreadControl>())
{
    m_pControl->function = function;
    m_pControl->argument = argument;
    m_pControl->level.store(level);

    auto* handover = new std::shared_ptr<FThreadControl>(m_pControl);
    if (!function || !OsStartThread(ThreadEntry, handover)) {
        delete handover;
        DebugTrace("%s failed", "FWinThread:CreateThread()");
        // Reported as finished with an error, so that no owner polls for ever.
        m_pControl->result.store(kThreadResultFailed, std::memory_order_release);
        m_pControl->done.store(true, std::memory_order_release);
    }
}

FWinThread::~FWinThread()
{
    if (!m_pControl->done.load(std::memory_order_acquire))
        DebugTraceText("WARNING: Forcibly terminating thread in FWinThread destructor");
}

bool FWinThread::IsDone()
{
    return m_pControl->done.load(std::memory_order_acquire);
}

int FWinThread::GetResult()
{
    return m_pControl->result.load(std::memory_order_acquire);
}

void FWinThread::SetPriority(int level)
{
    m_pControl->level.store(level);
    const long threadId = m_pControl->threadId.load();
    // Before the thread has its id it applies the level itself.
    if (threadId == 0 || m_pControl->done.load())
        return;
    ApplyPriority(threadId, level);
}

int FWinThread::GetPriority()
{
    return m_pControl->level.load();
}

FIThread* CreateWinThread(FThreadFunction function, void* argument, int level)
{
    try {
        return new FWinThread(function, argument, level);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void DeleteThread(FIThread*& holder)
{
    delete holder;
    holder = nullptr;
}

long GetStartedThreadCount()
{
    return OsStartedThreadCount();
}

int GetProcessorCount()
{
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

void SleepMilliseconds(unsigned milliseconds)
{
    SleepSeconds(milliseconds * 0.001);
}

void SleepSeconds(double seconds)
{
    // Negative and NaN sleep 0; the cap keeps the conversion defined.
    constexpr double kMaxMilliseconds = 2147483647.0;
    double milliseconds = seconds > 0 ? seconds * 1000.0 : 0.0;
    if (milliseconds > kMaxMilliseconds)
        milliseconds = kMaxMilliseconds;
    const auto whole = static_cast<long long>(milliseconds);
    if (whole == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(whole));
}
