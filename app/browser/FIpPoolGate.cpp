#include "FIpPoolGate.h"

#include "FDebugTrace.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

namespace
{

// Recursive: a manager's tick may call back into code that reaches the pool again.
std::recursive_mutex& PoolMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

std::atomic<double> g_waitLimit{600.0};

// Extra time a cancelled request gets to come back before it is given up.
constexpr double kCancelGrace = 2.0;

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Ticks while the request is in progress and the limit is not reached; false on time-out.
bool TickWhileInProgress(FIPManager* manager, FIPManagerRequest& request, double limit)
{
    const auto start = std::chrono::steady_clock::now();
    while (request.m_Async.IsInProgress()) {
        if (SecondsSince(start) >= limit)
            return false;
        GatedIdle(manager);
    }
    return true;
}

// Records a manager still held when their sender gave up; each is freed by a later wait
// once nothing holds it any more.
std::mutex g_parkedMutex;
std::vector<std::unique_ptr<FIPManagerRequest>> g_parked;

void GiveUp(std::unique_ptr<FIPManagerRequest>& request)
{
    DebugTrace("RunGatedRequest: request for '%s' still held by a manager; record parked\n",
               request->m_usFileName.GetNarrow());
    std::lock_guard<std::mutex> hold(g_parkedMutex);
    g_parked.push_back(std::move(request));
}

void FreeFinishedParked()
{
    std::lock_guard<std::mutex> hold(g_parkedMutex);
    std::erase_if(g_parked,
                  [](const std::unique_ptr<FIPManagerRequest>& r) { return !r->m_Async.IsInProgress(); });
}

} // namespace

void GatedRequest(FIPManager* manager, FIPManagerRequest* request)
{
    std::lock_guard<std::recursive_mutex> hold(PoolMutex());
    manager->Request(request);
}

void GatedIdle(FIPManager* manager)
{
    std::lock_guard<std::recursive_mutex> hold(PoolMutex());
    manager->Idle();
}

void FreeGatedRequest(std::unique_ptr<FIPManagerRequest>& request)
{
    std::lock_guard<std::recursive_mutex> hold(PoolMutex());
    request.reset();
}

int RunGatedRequest(FIPManager* manager, std::unique_ptr<FIPManagerRequest>& request)
{
    FreeFinishedParked();
    FIPManagerRequest& r = *request;
    try {
        GatedRequest(manager, &r);
        if (TickWhileInProgress(manager, r, GetGatedWaitLimit()))
            return r.m_Async.GetState();
        DebugTrace("RunGatedRequest: '%s' took too long; cancelling\n", r.m_usFileName.GetNarrow());
        r.m_Async.RequestCancel();
        if (TickWhileInProgress(manager, r, std::min(kCancelGrace, GetGatedWaitLimit())))
            return r.m_Async.GetState();
    } catch (...) {
        DebugTrace("RunGatedRequest: exception while '%s' was with the manager\n",
                   r.m_usFileName.GetNarrow());
        if (!r.m_Async.IsInProgress())
            return -1;
        r.m_Async.RequestCancel();
        try {
            if (TickWhileInProgress(manager, r, kCancelGrace))
                return -1;
        } catch (...) {
        }
    }
    GiveUp(request);
    return -1;
}

void AbandonGatedRequest(FIPManager* manager, std::unique_ptr<FIPManagerRequest>& request)
{
    if (!request)
        return;
    request->m_Async.RequestCancel();
    try {
        if (manager == nullptr ||
            TickWhileInProgress(manager, *request, std::min(kCancelGrace, GetGatedWaitLimit()))) {
            if (!request->m_Async.IsInProgress()) {
                request.reset();
                return;
            }
        }
    } catch (...) {
        DebugTrace("AbandonGatedRequest: exception while '%s' was with the manager\n",
                   request->m_usFileName.GetNarrow());
    }
    if (request->m_Async.IsInProgress())
        GiveUp(request);
    else
        request.reset();
}

void SetGatedWaitLimit(double seconds)
{
    g_waitLimit.store(seconds);
}

double GetGatedWaitLimit()
{
    return g_waitLimit.load();
}
