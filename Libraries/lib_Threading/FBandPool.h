#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class FWinThread;
struct FBandSet;

// A fixed set of worker threads, started once, that run band sets: Run(count, band)
// calls band(i) once for every i in [0, count) and returns when all have ended. The
// caller takes bands as the workers do, so a pool without workers (or a set of one band)
// runs everything on the calling thread, in order. A band may itself Run a set: its
// thread takes that set's bands first, so nesting cannot deadlock.
class FBandPool
{
public:
    // Starts up to `workers` threads; those the system refuses are traced and left out.
    explicit FBandPool(int workers);
    // Waits for the workers to end; no Run may be in progress.
    ~FBandPool();
    FBandPool(const FBandPool&) = delete;
    FBandPool& operator=(const FBandPool&) = delete;

    // The threads that started.
    int GetWorkerCount() const { return static_cast<int>(m_workers.size()); }

    // Working-storage slots for the bands of one set: the caller's and each worker's. A
    // band's slot is SlotOfThisThread(), never used by two of the set's bands at once.
    int GetSlotCount() const { return GetWorkerCount() + 1; }
    int SlotOfThisThread() const;

    // The process's pool, installed once by the layer that owns it; null until then.
    static void SetProcessPool(FBandPool* pool);
    static FBandPool* GetProcessPool();

    // When bands throw, the exception of the lowest such band reaches the caller once
    // every band has ended; bands above it that had not begun are skipped.
    void Run(int count, const std::function<void(int band)>& band);

private:
    struct WorkerStart {
        FBandPool* pool;
        int slot;
    };
    static int WorkerMain(void* argument);
    void WorkerLoop(int slot);
    // Takes the next band of the oldest set that has one; false when there is none.
    bool TakeQueued(FBandSet*& set, int& band);
    void RunBand(FBandSet& set, int band);

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<FBandSet*> m_queue;
    bool m_bStopping = false;
    std::vector<std::unique_ptr<WorkerStart>> m_starts;
    std::vector<std::unique_ptr<FWinThread>> m_workers;
};
