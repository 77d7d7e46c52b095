#include "FBandPool.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <exception>

#include <immintrin.h>

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

FBandPool::FBandPool(int workers)
{
    for (int i = 0; i < workers; ++i) {
        auto worker = std::make_unique<FWinThread>(WorkerMain, this, 2);
        // A thread that could not start reports done at once; the pool goes on without it.
        if (worker->IsDone() && worker->GetResult() == kThreadResultFailed) {
            DebugTrace("FBandPool: worker %d of %d did not start\n", i + 1, workers);
            continue;
        }
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
    static_cast<FBandPool*>(argument)->WorkerLoop();
    return 0;
}

bool FBandPool::TakeQueued(FBandSet*& set, int& band)
{
    while (!m_queue.empty()) {
        set = m_queue.front();
        if (Claim(*set, band))
            return true;
        m_queue.pop_front();
        m_iQueued.store(static_cast<int>(m_queue.size()), std::memory_order_relaxed);
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
        m_iQueued.store(static_cast<int>(m_queue.size()), std::memory_order_relaxed);
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
    m_iQueued.store(static_cast<int>(m_queue.size()), std::memory_order_relaxed);
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

void FBandPool::WorkerLoop()
{
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        if (m_queue.empty() && !m_bStopping) {
            // Band sets come in runs with short gaps: a worker that looks for a while before
            // it sleeps is there at once, where a woken one may wait for the system.
            hold.unlock();
            const auto until =
                std::chrono::steady_clock::now() + std::chrono::microseconds(kSpinMicroseconds);
            while (m_iQueued.load(std::memory_order_relaxed) == 0 && std::chrono::steady_clock::now() < until)
                _mm_pause();
            hold.lock();
        }
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
