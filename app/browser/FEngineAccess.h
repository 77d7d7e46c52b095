#pragma once

// How the browser reaches the engine: only through an engine service. The process's pool is
// served by the process's service; a manager handed in (a test's or a tool's) gets one service
// of its own, shared by all its users, that runs it on the ticks of whoever delivers or pumps.

#include <memory>

class FIPEngineService;
class FIPManager;
class FIPManagerRequest;

class FEngineAccess
{
public:
    // Null, or the process's pool, means the process's service.
    explicit FEngineAccess(FIPManager* manager);
    ~FEngineAccess();
    FEngineAccess(const FEngineAccess&) = delete;
    FEngineAccess& operator=(const FEngineAccess&) = delete;

    // Null when there is no pool to serve.
    FIPEngineService* Get();
    // The service if there is one, never making the process's own: for leaving.
    FIPEngineService* Peek();

private:
    std::shared_ptr<FIPEngineService> m_pOwn;
};

// Runs the record's job through the service that serves `manager` and writes the result back
// into the record; answers its final state. The caller waits, so this is for threads other
// than the window's and for the few steps that cannot go on without the answer.
int RunEngineRequest(FIPManager* manager, FIPManagerRequest& request);

// Seconds RunEngineRequest waits before it cancels; 600 unless changed.
void SetEngineWaitLimit(double seconds);
double GetEngineWaitLimit();
