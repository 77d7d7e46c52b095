#include "FIPEngineService.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <utility>

#include "FDebugTrace.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPWorkSignal.h"
#include "FPropList.h"
#include "FWinThread.h"

struct FIPEngineService::Posted {
    // Set under the service's lock, read without it first so that a look costs no lock.
    std::atomic<bool> ended{false};
    bool taken = false;
    FIPJobResult result;
};

struct FIPEngineService::Job {
    uint64_t ticket = 0;
    Key key;
    FIPJob job;
    Done done;
    Progress progress;
    Supersede policy = Supersede::kCancelRunning;
    // Made by the engine step when the job is handed over; freed by it once final.
    std::unique_ptr<FIPManagerRequest> record;
    // Set when the job must not end as done; the reason stays in `end`.
    bool cancel = false;
    FIPJobEnd end = FIPJobEnd::kDone;
    bool forgotten = false;
    bool ended = false;
    double share = -1.0;
    bool progressPending = false;
    // A caller of Run waits for this job: its result goes to the caller, not to Deliver.
    bool waited = false;
    // A posted job: its result goes to this box.
    std::shared_ptr<Posted> box;
    FIPJobResult result;
};

namespace
{

using JobPtr = std::shared_ptr<FIPEngineService::Job>;

bool IsFinalState(int state)
{
    return state >= kCompleted;
}

void DropPropList(FPropList* list)
{
    DeletePropList(list);
}

} // namespace

FIPEngineService::FIPEngineService(FIPManager* pool, Mode mode) : m_pPool(pool), m_eMode(mode)
{
    if (m_eMode != Mode::kThread)
        return;
    // Level 3: above normal, so that a window's job is not starved by the engine's own bands.
    m_pThread = CreateWinThread(&FIPEngineService::priThreadMain, this, 3);
    if (m_pThread == nullptr || (m_pThread->IsDone() && m_pThread->GetResult() == kThreadResultFailed)) {
        // Without a thread the window's own ticks run the pool, as before there was one.
        DebugTrace("FIPEngineService: no engine thread; the window thread runs the pool\n");
        DeleteThread(m_pThread);
        m_eMode = Mode::kPumped;
    }
}

FIPEngineService::~FIPEngineService()
{
    Stop();
}

int FIPEngineService::priThreadMain(void* self)
{
    static_cast<FIPEngineService*>(self)->priEngineLoop();
    return 0;
}

bool FIPEngineService::priWorkLocked() const
{
    return !m_queued.empty() || !m_running.empty();
}

void FIPEngineService::priEngineLoop()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, [this] { return priWorkLocked() || m_bStopping; });
            if (m_bStopping && !priWorkLocked())
                break;
            if (m_bStopped)
                break;
        }
        bool moved = false;
        const uint64_t seen = GetIPWorkCount();
        {
            std::lock_guard<std::mutex> step(m_stepLock);
            moved = priStep();
        }
        if (!moved) {
            // Nothing moved: wait for a manager to finish something (its threads signal it),
            // so that a finished job is collected at once, not at the next poll.
            bool running = false;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_bStopped)
                    break;
                running = !m_running.empty();
            }
            if (running) {
                WaitForIPWork(seen, 1);
            } else {
                std::unique_lock<std::mutex> lock(m_lock);
                m_wake.wait_for(lock, std::chrono::milliseconds(1));
                if (m_bStopped)
                    break;
            }
        }
    }
    // Notified under the lock: once the flag is seen the service may go at any moment.
    std::lock_guard<std::mutex> lock(m_lock);
    m_bThreadDone = true;
    m_drained.notify_all();
}

uint64_t FIPEngineService::Submit(const Key& key, FIPJob job, Done done, Progress progress, Supersede policy)
{
    auto entry = std::make_shared<Job>();
    entry->key = key;
    entry->job = std::move(job);
    entry->done = std::move(done);
    entry->progress = std::move(progress);
    entry->policy = policy;
    std::lock_guard<std::mutex> lock(m_lock);
    entry->ticket = m_uNextTicket++;
    if (m_bStopping || m_bStopped) {
        priFinishLocked(entry, FIPJobEnd::kStopped, kCancelled, kErrNone);
        return entry->ticket;
    }
    for (auto it = m_queued.begin(); it != m_queued.end();) {
        if ((*it)->key == key) {
            priFinishLocked(*it, FIPJobEnd::kSuperseded, kCancelled, kErrNone);
            it = m_queued.erase(it);
        } else {
            ++it;
        }
    }
    if (policy == Supersede::kCancelRunning) {
        for (const JobPtr& running : m_running) {
            if (running->key == key && !running->cancel) {
                running->cancel = true;
                running->end = FIPJobEnd::kSuperseded;
                if (running->record)
                    running->record->m_Async.RequestCancel();
            }
        }
    }
    m_queued.push_back(entry);
    m_wake.notify_all();
    return entry->ticket;
}

FIPJobResult FIPEngineService::Run(FIPJob job, std::chrono::milliseconds wait)
{
    auto entry = std::make_shared<Job>();
    entry->key = Key{entry.get(), 0};
    entry->job = std::move(job);
    entry->waited = true;
    priEnqueue(entry);
    // After the wait the job is cancelled; a manager deaf to that gets as long again, and then
    // keeps the record for good while the caller goes on.
    const auto grace = std::min<std::chrono::milliseconds>(wait, std::chrono::seconds(2));
    auto deadline = std::chrono::steady_clock::now() + wait;
    bool cancelled = false;
    std::unique_lock<std::mutex> lock(m_lock);
    while (!entry->ended) {
        if (std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            if (!cancelled) {
                cancelled = true;
                Cancel(entry->key);
                deadline = std::chrono::steady_clock::now() + grace;
            } else {
                priAbandon(entry);
            }
            lock.lock();
            continue;
        }
        if (m_eMode == Mode::kPumped) {
            lock.unlock();
            Pump();
            lock.lock();
        } else {
            m_ran.wait_until(lock, deadline);
        }
    }
    return std::move(entry->result);
}

void FIPEngineService::priAbandon(const std::shared_ptr<Job>& job)
{
    std::lock_guard<std::mutex> step(m_stepLock);
    std::lock_guard<std::mutex> lock(m_lock);
    if (job->ended)
        return;
    auto it = std::find(m_running.begin(), m_running.end(), job);
    if (it == m_running.end())
        return;
    DebugTrace("FIPEngineService: a manager kept ticket %llu past its cancel; its record stays with it\n",
               static_cast<unsigned long long>(job->ticket));
    if (job->record)
        m_abandoned.push_back(std::move(job->record));
    m_running.erase(it);
    priFinishLocked(job, FIPJobEnd::kCancelled, kCancelled, kErrNone);
}

std::shared_ptr<FIPEngineService::Posted> FIPEngineService::Post(FIPJob job)
{
    auto box = std::make_shared<Posted>();
    auto entry = std::make_shared<Job>();
    entry->key = PostedKey(box);
    entry->job = std::move(job);
    entry->box = box;
    priEnqueue(entry);
    return box;
}

// A job with no older sibling to supersede: queued, or ended at once once the service stops.
void FIPEngineService::priEnqueue(const std::shared_ptr<Job>& entry)
{
    std::lock_guard<std::mutex> lock(m_lock);
    entry->ticket = m_uNextTicket++;
    if (m_bStopping || m_bStopped)
        priFinishLocked(entry, FIPJobEnd::kStopped, kCancelled, kErrNone);
    else
        m_queued.push_back(entry);
    m_wake.notify_all();
}

bool FIPEngineService::TakePosted(const std::shared_ptr<Posted>& box, FIPJobResult& result)
{
    if (!box || !box->ended.load(std::memory_order_acquire))
        return false;
    std::lock_guard<std::mutex> lock(m_lock);
    if (!box->taken) {
        box->taken = true;
        result = std::move(box->result);
    }
    return true;
}

bool FIPEngineService::WaitForPosted(const std::shared_ptr<Posted>& box, std::chrono::milliseconds wait)
{
    if (!box)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    if (m_eMode == Mode::kPumped) {
        while (!box->ended.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < deadline)
            Pump();
        return box->ended.load(std::memory_order_acquire);
    }
    std::unique_lock<std::mutex> lock(m_lock);
    return m_ran.wait_until(lock, deadline, [&] { return box->ended.load(std::memory_order_acquire); });
}

void FIPEngineService::Cancel(const Key& key)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_queued.begin(); it != m_queued.end();) {
        if ((*it)->key == key) {
            priFinishLocked(*it, FIPJobEnd::kCancelled, kCancelled, kErrNone);
            it = m_queued.erase(it);
        } else {
            ++it;
        }
    }
    for (const JobPtr& running : m_running) {
        if (running->key == key && !running->cancel) {
            running->cancel = true;
            running->end = FIPJobEnd::kCancelled;
            if (running->record)
                running->record->m_Async.RequestCancel();
        }
    }
    m_wake.notify_all();
}

void FIPEngineService::CancelOwner(const void* owner)
{
    std::vector<Key> keys;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const JobPtr& job : m_queued)
            if (job->key.owner == owner)
                keys.push_back(job->key);
        for (const JobPtr& job : m_running)
            if (job->key.owner == owner)
                keys.push_back(job->key);
    }
    for (const Key& key : keys)
        Cancel(key);
}

void FIPEngineService::Forget(const void* owner)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto owned = [owner](const JobPtr& job) { return job->key.owner == owner; };
    for (const JobPtr& job : m_queued) {
        if (owned(job)) {
            job->forgotten = true;
            job->ended = true;
        }
    }
    m_queued.erase(std::remove_if(m_queued.begin(), m_queued.end(), owned), m_queued.end());
    for (const JobPtr& job : m_running) {
        if (!owned(job))
            continue;
        job->forgotten = true;
        if (!job->cancel) {
            job->cancel = true;
            job->end = FIPJobEnd::kCancelled;
            if (job->record)
                job->record->m_Async.RequestCancel();
        }
    }
    for (const JobPtr& job : m_finished)
        if (owned(job))
            job->forgotten = true;
    m_finished.erase(std::remove_if(m_finished.begin(), m_finished.end(), owned), m_finished.end());
    m_progressed.erase(std::remove_if(m_progressed.begin(), m_progressed.end(), owned), m_progressed.end());
    m_wake.notify_all();
}

// Under the lock. The job leaves the engine's hands for good and waits for Deliver.
void FIPEngineService::priFinishLocked(const JobPtr& job, FIPJobEnd end, int state, int error)
{
    job->ended = true;
    job->cancel = job->cancel || end != FIPJobEnd::kDone;
    FIPJobResult& result = job->result;
    result.ticket = job->ticket;
    result.end = end;
    result.state = state;
    result.error = error;
    if (end != FIPJobEnd::kDone) {
        result.image.Reset();
        result.props.reset();
    }
    if (job->box) {
        job->box->result = std::move(job->result);
        job->box->ended.store(true, std::memory_order_release);
        // The box holds the result now; nothing of it may stay behind with the job.
        job->box.reset();
    } else if (!job->waited && !job->forgotten) {
        m_finished.push_back(job);
    }
    m_ran.notify_all();
}

void FIPEngineService::priHandOver(const JobPtr& job)
{
    auto record = std::make_unique<FIPManagerRequest>();
    FIPManagerRequest* raw = record.get();
    bool cancelled = false;
    try {
        FillManagerRequest(job->job, *record);
    } catch (...) {
        record->m_Async.Fail(kErrException, "FIPEngineService: the job could not be prepared.");
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        job->record = std::move(record);
        cancelled = job->cancel;
    }
    if (raw->m_Async.IsFinal())
        return;
    try {
        // A request cancelled before it starts still goes through a manager, which ends it as
        // cancelled: the pool's queue is the only place that may hold it.
        m_pPool->Request(raw);
        if (cancelled)
            raw->m_Async.RequestCancel();
    } catch (...) {
        DebugTrace("FIPEngineService: exception while handing '%s' (kind %d) over\n",
                   job->job.file.GetNarrow(), job->job.kind);
        if (!raw->m_Async.IsFinal())
            raw->m_Async.Fail(kErrException, "FIPEngineService: the manager refused the job.");
    }
}

bool FIPEngineService::priStep()
{
    std::vector<JobPtr> starting;
    bool anyRunning = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // A job whose older sibling was allowed to end waits for it.
        std::set<std::pair<const void*, uintptr_t>> busy;
        for (const JobPtr& r : m_running)
            if (!r->cancel)
                busy.emplace(r->key.owner, r->key.lane);
        std::deque<JobPtr> waiting;
        for (JobPtr& job : m_queued) {
            if (!busy.emplace(job->key.owner, job->key.lane).second) {
                waiting.push_back(std::move(job));
                continue;
            }
            starting.push_back(job);
            m_running.push_back(std::move(job));
        }
        m_queued.swap(waiting);
        anyRunning = !m_running.empty();
    }
    for (const JobPtr& job : starting)
        priHandOver(job);
    if (anyRunning) {
        try {
            m_pPool->Idle();
        } catch (...) {
            DebugTrace("FIPEngineService: exception in a manager's Idle\n");
        }
    }
    std::vector<JobPtr> ended;
    priCollect(ended);
    return !starting.empty() || !ended.empty();
}

void FIPEngineService::priCollect(std::vector<JobPtr>& ended)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_running.begin(); it != m_running.end();) {
        const JobPtr& job = *it;
        FIPManagerRequest* record = job->record.get();
        const int state = record ? record->m_Async.GetState() : kError;
        // Still initialised after the hand-over: no manager took it, and none will.
        const bool lost = state == kInitialized;
        if (!IsFinalState(state) && !lost) {
            const double share = record->m_Async.GetProgress();
            if (job->progress && share >= 0.0 && share != job->share && !job->cancel) {
                job->share = share;
                if (!job->progressPending) {
                    job->progressPending = true;
                    m_progressed.push_back(job);
                }
            }
            ++it;
            continue;
        }
        FIPJobResult& result = job->result;
        result.job = job->job;
        if (record) {
            result.errorText = record->m_Async.m_usErrorText;
            result.image = FIPImageRef::Adopt(std::exchange(record->m_pOutputImage, nullptr));
            result.props =
                std::shared_ptr<FPropList>(std::exchange(record->m_pImageProps, nullptr), DropPropList);
            ReadBackSettings(*record, result.job.settings);
            result.job.outputFile = record->m_usOutputFile;
            result.job.outCols = record->m_iOutCols;
            result.job.outRows = record->m_iOutRows;
            std::copy(std::begin(record->m_adNeutral), std::end(record->m_adNeutral),
                      std::begin(result.job.neutral));
        }
        const int error = lost ? kErrBusy : (record ? record->m_Async.GetErrorCode() : kErrException);
        if (lost)
            result.errorText = FWideString("FIPEngineService: no manager took the job.");
        // The manager's pass that ended it has returned: nothing holds the record any more.
        job->record.reset();
        priFinishLocked(job, job->cancel ? job->end : FIPJobEnd::kDone, lost ? kError : state, error);
        ended.push_back(job);
        it = m_running.erase(it);
    }
    if (!ended.empty())
        m_wake.notify_all();
}

void FIPEngineService::Pump()
{
    if (m_eMode != Mode::kPumped)
        return;
    std::lock_guard<std::mutex> step(m_stepLock);
    priStep();
}

int FIPEngineService::Deliver(std::chrono::microseconds budget)
{
    Pump();
    const auto deadline = std::chrono::steady_clock::now() + budget;
    std::vector<std::pair<Progress, double>> shares;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const JobPtr& job : m_progressed) {
            job->progressPending = false;
            if (!job->forgotten && !job->ended && !job->cancel)
                shares.emplace_back(job->progress, job->share);
        }
        m_progressed.clear();
    }
    for (auto& [callback, share] : shares) {
        try {
            callback(share);
        } catch (...) {
            DebugTrace("FIPEngineService: a progress receiver threw\n");
        }
    }
    int delivered = 0;
    for (;;) {
        JobPtr job;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_finished.empty())
                break;
            job = std::move(m_finished.front());
            m_finished.pop_front();
        }
        ++delivered;
        if (job->done) {
            try {
                job->done(job->result);
            } catch (...) {
                DebugTrace("FIPEngineService: the receiver of ticket %llu threw\n",
                           static_cast<unsigned long long>(job->ticket));
            }
        }
        // What the receiver did not keep goes now, on this thread.
        job->result.image.Reset();
        job->result.props.reset();
        if (std::chrono::steady_clock::now() >= deadline)
            break;
    }
    return delivered;
}

void FIPEngineService::WaitForDelivery(std::chrono::milliseconds wait)
{
    if (m_eMode == Mode::kPumped)
        return;
    std::unique_lock<std::mutex> lock(m_lock);
    m_ran.wait_for(lock, wait, [this] {
        return !m_finished.empty() || !m_progressed.empty() || (m_queued.empty() && m_running.empty()) ||
               m_bStopped;
    });
}

bool FIPEngineService::IsIdle() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queued.empty() && m_running.empty() && m_finished.empty();
}

int FIPEngineService::Outstanding(const void* owner) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    int count = 0;
    for (const auto* list : {&m_queued, &m_finished})
        for (const JobPtr& job : *list)
            count += job->key.owner == owner ? 1 : 0;
    for (const JobPtr& job : m_running)
        count += job->key.owner == owner && !job->forgotten ? 1 : 0;
    return count;
}

bool FIPEngineService::IsStopped() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bStopped;
}

int FIPEngineService::GetAbandonedCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_abandoned.size());
}

void FIPEngineService::Stop(std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bStopped)
            return;
        m_bStopping = true;
        for (const JobPtr& job : m_queued)
            priFinishLocked(job, FIPJobEnd::kStopped, kCancelled, kErrNone);
        m_queued.clear();
        for (const JobPtr& job : m_running) {
            if (!job->cancel || job->end != FIPJobEnd::kStopped) {
                job->cancel = true;
                job->end = FIPJobEnd::kStopped;
            }
            if (job->record)
                job->record->m_Async.RequestCancel();
        }
        m_wake.notify_all();
    }
    if (m_pThread != nullptr) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_drained.wait_until(lock, deadline, [this] { return m_bThreadDone; });
        // A manager deaf to cancel keeps the thread stepping; it leaves at its next turn, since
        // one step is one time slice of the pool.
        m_bStopped = true;
        m_wake.notify_all();
        m_drained.wait(lock, [this] { return m_bThreadDone; });
    } else {
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_running.empty())
                    break;
            }
            std::lock_guard<std::mutex> step(m_stepLock);
            priStep();
        }
    }
    {
        std::lock_guard<std::mutex> step(m_stepLock);
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStopped = true;
        for (const JobPtr& job : m_running) {
            // A manager still holds the record: it must outlive whatever the manager does.
            if (job->record)
                m_abandoned.push_back(std::move(job->record));
            priFinishLocked(job, FIPJobEnd::kStopped, kCancelled, kErrNone);
        }
        m_running.clear();
    }
    DeleteThread(m_pThread);
    while (Deliver(std::chrono::hours(1)) > 0) {
    }
}

namespace
{

std::unique_ptr<FIPEngineService>& OwnService()
{
    static std::unique_ptr<FIPEngineService> service;
    return service;
}

FIPEngineService*& GivenService()
{
    static FIPEngineService* service = nullptr;
    return service;
}

} // namespace

FIPEngineService* GetIPEngineService()
{
    if (GivenService() != nullptr)
        return GivenService();
    std::unique_ptr<FIPEngineService>& own = OwnService();
    if (!own) {
        FIPManager* pool = GetIPManagerPool();
        if (pool == nullptr)
            return nullptr;
        own = std::make_unique<FIPEngineService>(pool, FIPEngineService::Mode::kThread);
    }
    return own.get();
}

FIPEngineService* PeekIPEngineService()
{
    return GivenService() != nullptr ? GivenService() : OwnService().get();
}

FIPEngineService* SetIPEngineService(FIPEngineService* service)
{
    FIPEngineService* previous = GivenService() != nullptr ? GivenService() : OwnService().get();
    GivenService() = service;
    return previous;
}

void ShutDownIPEngineService()
{
    std::unique_ptr<FIPEngineService> own = std::move(OwnService());
    if (own)
        own->Stop();
}
