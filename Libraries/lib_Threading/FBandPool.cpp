#include "FBandPool.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>

#include "FDebugTrace.h"
#include "FWinThread.h"

// One Run's bands. Everything but the band function is guarded by the pool's lock; the
// set lives on the caller's stack until its last band has ended.
struct FBandSet {
    const std::function<void(int)>* band = nullptr;
    int count = 0;
    int next = 0;
    int ended = 0;
    int failedAt = INT_MAX;
    std::exception_ptr failure;
    std::condition_variable allEnded;
};

namespace
{

std::atomic<FBandPool*> g_processPool{nullptr};

// The pool whose worker this thread is, and its slot there.
thread_local const FBandPool* t_pPool = nullptr;
thread_local int t_iSlot = 0;

// Bands above a failed one are ended unrun: their work would be thrown away.
bool Claim(FBandSet& set, int& band)
{
    if (set.next > set.failedAt) {
        set.ended += set.count - set.next;
        set.next = set.count;
        if (set.ended == set.count)
            set.allEnded.notify_all();
    }
    if (set.next >= set.count)
        return false;
    band = set.next++;
    return true;
}

} // namespace

void FBandPool::SetProcessPool(FBandPool* pool)
{
    g_processPool.store(pool, std::memory_order_release);
}

FBandPool* FBandPool::GetProcessPool()
{
    return g_processPool.load(std::memory_order_acquire);
}

int FBandPool::SlotOfThisThread() const
{
    return t_pPool == this ? t_iSlot : 0;
}

FBandPool::FBandPool(int workers)
{
    for (int i = 0; i < workers; ++i) {
        auto start = std::make_unique<WorkerStart>(WorkerStart{this, GetWorkerCount() + 1});
        auto worker = std::make_unique<FWinThread>(WorkerMain, start.get(), 2);
        // A thread that could not start reports done at once; the pool goes on without it.
        if (worker->IsDone() && worker->GetResult() == kThreadResultFailed) {
            DebugTrace("FBandPool: worker %d of %d did not start\n", i + 1, workers);
            continue;
        }
        m_starts.push_back(std::move(start));
        m_workers.push_back(std::move(worker));
    }
}

FBandPool::~FBandPool()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_bStopping = true;
    }
    m_wake.notify_all();
    for (auto& worker : m_workers)
        while (!worker->IsDone())
            SleepMilliseconds(1);
}

int FBandPool::WorkerMain(void* argument)
{
    const WorkerStart start = *static_cast<WorkerStart*>(argument);
    start.pool->WorkerLoop(start.slot);
    return 0;
}

bool FBandPool::TakeQueued(FBandSet*& set, int& band)
{
    while (!m_queue.empty()) {
        set = m_queue.front();
        if (Claim(*set, band))
            return true;
        m_queue.pop_front();
    }
    return false;
}

void FBandPool::Run(int count, const std::function<void(int band)>& band)
{
    if (count <= 0)
        return;
    if (count == 1 || m_workers.empty()) {
        for (int i = 0; i < count; ++i)
            band(i);
        return;
    }
    FBandSet set;
    set.band = &band;
    set.count = count;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_queue.push_back(&set);
    }
    for (int i = 1; i < count && i <= GetWorkerCount(); ++i)
        m_wake.notify_one();

    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        int index = 0;
        if (!Claim(set, index))
            break;
        hold.unlock();
        RunBand(set, index);
        hold.lock();
    }
    // Workers may still hold bands of this set; no one may take another.
    m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), &set), m_queue.end());
    set.allEnded.wait(hold, [&] { return set.ended == set.count; });
    if (set.failure)
        std::rethrow_exception(set.failure);
}

void FBandPool::RunBand(FBandSet& set, int index)
{
    std::exception_ptr failure;
    try {
        (*set.band)(index);
    } catch (...) {
        failure = std::current_exception();
    }
    std::lock_guard<std::mutex> hold(m_lock);
    if (failure && index < set.failedAt) {
        set.failedAt = index;
        set.failure = failure;
    }
    // Notified under the lock: once it is released the caller may return and free the set.
    if (++set.ended == set.count)
        set.allEnded.notify_all();
}

void FBandPool::WorkerLoop(int slot)
{
    t_pPool = this;
    t_iSlot = slot;
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        // Once every band of the queued sets is taken, a worker sleeps: looking for work it
        // cannot get would take a core from the threads still running bands.
        m_wake.wait(hold, [&] { return m_bStopping || !m_queue.empty(); });
        if (m_bStopping)
            return;
        FBandSet* set = nullptr;
        int index = 0;
        if (!TakeQueued(set, index))
            continue;
        hold.unlock();
        RunBand(*set, index);
        hold.lock();
    }
}
