#pragma once

// The one front door to image processing. Windows hand it jobs; it alone calls the manager
// pool, on an engine thread of its own, so that no window ever waits for a manager. Each
// requester's newest job wins; finished jobs come back as callbacks when the window thread
// calls Deliver from its tick.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "FIPJob.h"

class FIPManager;
class FIThread;

class FIPEngineService
{
public:
    // kThread runs the pool on the service's own thread; kPumped runs one engine step inside
    // each Deliver (or Pump) on the caller's thread, which tests with scripted pools use.
    enum class Mode { kThread, kPumped };

    // A requester: the object that waits, and which of its lanes (one job at a time each).
    struct Key {
        const void* owner = nullptr;
        uintptr_t lane = 0;
        bool operator==(const Key& other) const { return owner == other.owner && lane == other.lane; }
    };

    // What happens to the requester's older job when a newer one comes.
    enum class Supersede {
        kCancelRunning, // a running older job is cancelled
        kLetRunningEnd, // a running older job ends as it would, then the newer one starts
    };

    using Done = std::function<void(FIPJobResult& result)>;
    using Progress = std::function<void(double share)>;

    // `pool` is kept, not owned.
    FIPEngineService(FIPManager* pool, Mode mode);
    // Stops, as Stop does.
    ~FIPEngineService();
    FIPEngineService(const FIPEngineService&) = delete;
    FIPEngineService& operator=(const FIPEngineService&) = delete;

    // Any thread. A job of the same key that no manager has taken yet ends superseded; one a
    // manager holds is treated as `policy` says. Every job ends exactly once: `done` runs in a
    // later Deliver, unless its owner was forgotten first. Answers the job's ticket.
    uint64_t Submit(const Key& key, FIPJob job, Done done, Progress progress = {},
                    Supersede policy = Supersede::kCancelRunning);
    // For threads other than the window's (a folder scan, a tool): runs the job and waits for
    // it, at most `wait`, after which it is cancelled and the call waits for its end as long
    // again (at most 2 s); a manager that still holds it then keeps its record, never freed.
    // The result comes back here and never through Deliver. In kPumped mode the caller pumps.
    FIPJobResult Run(FIPJob job, std::chrono::milliseconds wait = std::chrono::minutes(10));

    // For threads other than the window's that follow many jobs at once (a folder scan): the job
    // runs like any other and its result waits in the answered box, for TakePosted, instead
    // of going to Deliver. Cancel(PostedKey(box)) cancels it; a box dropped unread frees the
    // result when the job ends.
    struct Posted;
    std::shared_ptr<Posted> Post(FIPJob job);
    static Key PostedKey(const std::shared_ptr<Posted>& box) { return Key{box.get(), 0}; }
    // True once the posted job has ended; its result is moved into `result` once.
    bool TakePosted(const std::shared_ptr<Posted>& box, FIPJobResult& result);
    // Waits at most `wait` for the posted job to end (in kPumped mode, pumping); true if it has.
    bool WaitForPosted(const std::shared_ptr<Posted>& box, std::chrono::milliseconds wait);

    // The key's job, queued or running, ends cancelled.
    void Cancel(const Key& key);
    // Every job of the owner ends cancelled.
    void CancelOwner(const void* owner);
    // Window thread, before the owner goes: its jobs are cancelled and nothing more of it is
    // delivered, not even what has already finished.
    void Forget(const void* owner);

    // Window thread: hands out progress, then finished jobs one by one, until none is left or
    // `budget` is spent. Answers how many jobs it delivered.
    int Deliver(std::chrono::microseconds budget = std::chrono::microseconds{4000});
    // One engine step on the caller's thread (kPumped only; ignored otherwise).
    void Pump();

    // Waits at most `wait` until a job has something to deliver or nothing is left to run; for
    // tests that run the windows on a simulated clock.
    void WaitForDelivery(std::chrono::milliseconds wait);

    // Nothing queued, running or waiting for delivery.
    bool IsIdle() const;
    // Jobs of the owner not yet delivered.
    int Outstanding(const void* owner) const;

    // Every job is cancelled; the call waits up to `wait` for the managers to let go of them,
    // then ends each job not yet ended as stopped and delivers what is owed. Later submissions
    // end stopped at once. Safe to call twice.
    void Stop(std::chrono::milliseconds wait = std::chrono::milliseconds{10000});
    bool IsStopped() const;

    // Records that a manager still held when Stop gave up waiting; kept, never freed.
    int GetAbandonedCount() const;

    // One job as the service keeps it; only the service sees inside.
    struct Job;

private:
    static int priThreadMain(void* self);
    void priEngineLoop();
    // One step: hand new jobs over, tick the pool, collect what ended. True when anything moved.
    bool priStep();
    void priHandOver(const std::shared_ptr<Job>& job);
    void priCollect(std::vector<std::shared_ptr<Job>>& ended);
    void priFinishLocked(const std::shared_ptr<Job>& job, FIPJobEnd end, int state, int error);
    bool priWorkLocked() const;
    void priAbandon(const std::shared_ptr<Job>& job);
    void priEnqueue(const std::shared_ptr<Job>& entry);

    FIPManager* m_pPool;
    Mode m_eMode;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    // Wakes the callers of Run.
    std::condition_variable m_ran;
    uint64_t m_uNextTicket = 1;
    // Not yet handed to a manager, oldest first.
    std::deque<std::shared_ptr<Job>> m_queued;
    // Handed over and not yet final; only the engine step adds or removes.
    std::vector<std::shared_ptr<Job>> m_running;
    // Ended, waiting for Deliver, oldest first.
    std::deque<std::shared_ptr<Job>> m_finished;
    // Jobs whose progress moved since the last Deliver.
    std::vector<std::shared_ptr<Job>> m_progressed;
    bool m_bStopping = false;
    bool m_bStopped = false;
    bool m_bThreadDone = false;
    // Held while an engine step runs, so that Pump and the thread never overlap.
    std::mutex m_stepLock;
    FIThread* m_pThread = nullptr;
    std::vector<std::unique_ptr<FIPManagerRequest>> m_abandoned;
};

// The process's service over the manager pool, made on first use with its own thread; null
// only when it cannot be made.
FIPEngineService* GetIPEngineService();
// The process's service if there is one; never makes one.
FIPEngineService* PeekIPEngineService();
// Puts `service` (kept, not owned; null restores the process's own) in the place of the
// process's service; answers the one it replaces.
FIPEngineService* SetIPEngineService(FIPEngineService* service);
// Stops and deletes the process's own service; the next GetIPEngineService makes a new one.
void ShutDownIPEngineService();
