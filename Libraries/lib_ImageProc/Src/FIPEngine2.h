#pragma once

#include <functional>
#include <memory>

class FIPERequest;
class FIThread;
struct FIPEngineShared;

// The compute half of a manager: one request at a time on its own worker thread.
class FIIPEngine2
{
public:
    virtual ~FIIPEngine2() = default;
    // Posts the request, or answers it at once (busy slot, unknown type). Waits at most
    // about 200 ms.
    virtual void Request(FIPERequest* request) = 0;
    // Waits at most kIdleWaitMs for a posted request; returns at once when none is, and
    // inside an FIPNoWaitScope.
    virtual void Idle() = 0;
};

// Called on the worker thread before each handler; tests use it to delay or to throw.
using FIPEngineHook = std::function<void(FIPERequest&)>;

// The worker and the user-interface thread meet in the request slot and the request's
// state word. The worker empties the slot before it writes a request's final state, so a
// creator that has seen the final state may delete the record at once.
class FIPEngine2 : public FIIPEngine2
{
public:
    FIPEngine2();
    // Never kills the worker: asks it to stop (cancelling a running request) and waits up
    // to 5 s. A worker still busy then is traced and left to finish on its own; the state it
    // shares with this object outlives it.
    ~FIPEngine2() override;
    FIPEngine2(const FIPEngine2&) = delete;
    FIPEngine2& operator=(const FIPEngine2&) = delete;

    void Request(FIPERequest* request) override;
    void Idle() override;

    // True while a request is posted and not yet answered.
    bool IsRunning() const;
    // Only while no request runs.
    void SetHook(FIPEngineHook hook);

    // Longest wait of one Idle: short, so that a window ticking the engine keeps drawing.
    static constexpr int kIdleWaitMs = 4;
    static constexpr int kShutdownPollMs = 10;
    static constexpr int kShutdownLimitMs = 5000;

private:
    std::shared_ptr<FIPEngineShared> m_pShared;
    FIThread* m_pThread = nullptr;
    bool m_bNoWorker = false;
};

FIIPEngine2* CreateIPEngine2();
void ReleaseIPEngine2(FIIPEngine2** holder);

// Bands a stage splits its rows into (at least 1), run on the process's band pool
// (FIPWorkerPool.h). Process-wide; the default is the machine's hardware threads, at most
// 8. Output never depends on it.
void SetIPEngineThreadCount(int threads);
int GetIPEngineThreadCount();
