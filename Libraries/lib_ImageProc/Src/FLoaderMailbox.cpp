#include "FLoaderMailbox.h"

#include "FDebugTrace.h"
#include "FEvent.h"
#include "FException.h"
#include "FIPWorkSignal.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FWinThread.h"
#include "StorageClassRegistry.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace
{

// Longest wait of one Idle: short, so that a window ticking a loader keeps drawing.
constexpr int kIdleWaitMs = 4;
// The stop wait is bounded at 45 steps of 0.109 s; it is polled more finely so that
// a thread that stops at once costs no more than it takes.
constexpr int kStopWaitMs = 45 * 109;
constexpr int kThreadPriorityNormal = 2;

std::atomic<int> g_runningThreads{0};

} // namespace

void StartRequest(FAsyncStatus& status)
{
    status.m_iErrorCode.store(kErrNone);
    status.SetState(kInProgress);
}

void FailNamed(FAsyncStatus& status, int code, const char* name, const char* text)
{
    FWideString message(name);
    message += text;
    status.Fail(code, message);
}

struct FLoaderCore {
    FLoaderCore(const char* name, FLoaderMailbox::Handler handler) : m_pszName(name), m_pfnHandler(handler) {}

    const char* m_pszName;
    FLoaderMailbox::Handler m_pfnHandler;
    FEvent m_requestEvent;
    FEvent m_doneEvent;
    std::mutex m_lock;
    // Posted and not yet taken by the thread.
    FLoaderRequest* m_pPending = nullptr;
    // Taken by the thread, until it has let go of it (a little after its final state).
    FLoaderRequest* m_pRunning = nullptr;
    std::atomic<bool> m_bStop{false};
    // Requests given up while held (the running one and a posted one at most), each with
    // what runs once the thread lets go of it.
    std::vector<std::pair<FLoaderRequest*, std::function<void()>>> m_abandoned;
    FIThread* m_pThread = nullptr;
    // The thread's reference to the core; deleted by the thread, or by the mailbox when
    // the thread never ran.
    std::shared_ptr<FLoaderCore>* m_pThreadRef = nullptr;
    std::atomic<bool> m_bThreadRan{false};

    // Lets go of the request; returns what an abandoned request asked to run.
    std::function<void()> priFinish(FLoaderRequest* req)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_pRunning == req)
            m_pRunning = nullptr;
        if (m_pPending == req)
            m_pPending = nullptr;
        for (auto it = m_abandoned.begin(); it != m_abandoned.end(); ++it) {
            if (it->first != req)
                continue;
            std::function<void()> release = std::move(it->second);
            m_abandoned.erase(it);
            return release;
        }
        return {};
    }
};

namespace
{

int priThreadMain(void* argument)
{
    std::unique_ptr<std::shared_ptr<FLoaderCore>> ref(static_cast<std::shared_ptr<FLoaderCore>*>(argument));
    g_runningThreads.fetch_add(1);
    FLoaderCore& core = **ref;
    core.m_bThreadRan.store(true);
    while (!core.m_bStop.load()) {
        core.m_requestEvent.Wait(FSyncObject::kInfinite);
        FLoaderRequest* req = nullptr;
        {
            std::lock_guard<std::mutex> lock(core.m_lock);
            req = core.m_pPending;
            core.m_pPending = nullptr;
            core.m_pRunning = req;
        }
        if (!req)
            continue;
        core.m_pfnHandler(*req);
        std::function<void()> release = core.priFinish(req);
        core.m_doneEvent.Set();
        SignalIPWorkDone();
        if (release)
            release();
    }
    // A request posted while the loader was stopping never ran.
    FLoaderRequest* left = nullptr;
    {
        std::lock_guard<std::mutex> lock(core.m_lock);
        left = core.m_pPending;
    }
    if (left) {
        left->m_Async.Cancel();
        std::function<void()> release = core.priFinish(left);
        core.m_doneEvent.Set();
        if (release)
            release();
    }
    ref.reset();
    g_runningThreads.fetch_sub(1);
    return 0;
}

} // namespace

FLoaderMailbox::FLoaderMailbox(const char* name, Handler handler)
    : m_pCore(std::make_shared<FLoaderCore>(name, handler))
{
    m_pCore->m_pThreadRef = new std::shared_ptr<FLoaderCore>(m_pCore);
    m_pCore->m_pThread = CreateWinThread(priThreadMain, m_pCore->m_pThreadRef, kThreadPriorityNormal);
}

FLoaderMailbox::~FLoaderMailbox()
{
    FLoaderCore& core = *m_pCore;
    core.m_bStop.store(true);
    {
        // Nobody will collect what runs now: a reader that watches the cancel byte
        // ends at once instead of holding up the program's exit.
        std::lock_guard<std::mutex> lock(core.m_lock);
        if (core.m_pRunning)
            core.m_pRunning->m_Async.RequestCancel();
    }
    core.m_requestEvent.Set();
    bool done = !core.m_pThread || core.m_pThread->IsDone();
    for (int waited = 0; !done && waited < kStopWaitMs; ++waited) {
        SleepMilliseconds(1);
        done = core.m_pThread->IsDone();
    }
    if (!done)
        DebugTrace("%s::~%s: load thread failed to exit!\n", core.m_pszName, core.m_pszName);
    else if (!core.m_bThreadRan.exchange(true))
        delete core.m_pThreadRef;
    // Never kills: a stuck thread keeps the core through its own reference.
    DeleteThread(core.m_pThread);
}

void FLoaderMailbox::Idle()
{
    FLoaderCore& core = *m_pCore;
    bool pending = false;
    {
        std::lock_guard<std::mutex> lock(core.m_lock);
        pending = core.m_pPending != nullptr || core.m_pRunning != nullptr;
    }
    if (pending && IPIdleMayWait())
        core.m_doneEvent.Wait(kIdleWaitMs);
}

void FLoaderMailbox::Post(FLoaderRequest& req)
{
    FLoaderCore& core = *m_pCore;
    // Without a thread a posted request would stay in progress for ever.
    if (!core.m_pThread || core.m_pThread->IsDone()) {
        FailNamed(req.m_Async, kErrException, core.m_pszName, ": load thread is not running");
        return;
    }
    std::unique_lock<std::mutex> lock(core.m_lock);
    // One request at a time; a finished one the thread has not let go of yet does not hold
    // up the next, which the thread takes once it has.
    if (core.m_pPending || (core.m_pRunning && core.m_pRunning->m_Async.IsInProgress())) {
        lock.unlock();
        req.m_Async.Fail(kErrBusy, FWideString(core.m_pszName));
        return;
    }
    StartRequest(req.m_Async);
    core.m_pPending = &req;
    core.m_doneEvent.Reset();
    core.m_requestEvent.Set();
    lock.unlock();
    Idle();
}

bool FLoaderMailbox::IsPending(const FLoaderRequest& req) const
{
    std::lock_guard<std::mutex> lock(m_pCore->m_lock);
    return m_pCore->m_pPending == &req || m_pCore->m_pRunning == &req;
}

void FLoaderMailbox::Abandon(FLoaderRequest& req, std::function<void()> release)
{
    {
        std::lock_guard<std::mutex> lock(m_pCore->m_lock);
        if (m_pCore->m_pPending == &req || m_pCore->m_pRunning == &req) {
            m_pCore->m_abandoned.emplace_back(&req, std::move(release));
            return;
        }
    }
    if (release)
        release();
}

int FLoaderMailbox::GetRunningThreadCount()
{
    return g_runningThreads.load();
}

void HandleGuarded(FLoaderRequest& req, const char* name, bool (*isFamily)(const FException&),
                   const std::function<void()>& handle)
{
    char text[kDebugTraceLimit];
    try {
        handle();
    } catch (const FExceptionFileNotFound&) {
        req.m_Async.Fail(kErrFileNotFound, req.m_usFileURL);
    } catch (const FException& e) {
        std::snprintf(text, sizeof(text), "%s: %s (%s)", name, e.GetDescription(), e.GetMessage());
        req.m_Async.Fail(isFamily(e) ? kErrReaderFailed : kErrException, FWideString(text));
    } catch (const std::bad_alloc&) {
        FailNamed(req.m_Async, kErrOutOfMemory, name, ": out of memory");
    } catch (...) {
        FailNamed(req.m_Async, kErrException, name, ": unknown exception");
    }
}

bool GetFileUniqueID(FLoaderRequest& req, const char* name, FWideString& id)
{
    FIFile* file = nullptr;
    try {
        file = OpenFileURL(req.m_usFileURL, kFileRead);
    } catch (const FException&) {
        file = nullptr;
    }
    if (!file) {
        FailNamed(req.m_Async, kErrInvalid, name, "::priGetUniqueID: unable to open file");
        return false;
    }
    FFileInfo info;
    uint64_t size = 0;
    try {
        file->GetInfo(info);
        size = file->GetSize();
    } catch (...) {
        file->Release();
        throw;
    }
    file->Release();
    char text[48];
    std::snprintf(text, sizeof(text), "%X-%llX", unsigned(size & 0xFFFFFFFFu),
                  static_cast<unsigned long long>(info.m_iModified));
    id = FWideString(text);
    return true;
}

void AddFileUniqueID(FLoaderRequest& req, const char* name)
{
    FPropList* list = req.GetList();
    if (!list) {
        FailNamed(req.m_Async, kErrInvalid, name, ": Property list pointer is NULL");
        return;
    }
    FWideString id;
    if (!GetFileUniqueID(req, name, id))
        return;
    list->AddProp(FWideString("UNIQUEID"), id);
    req.m_Async.Complete();
}
