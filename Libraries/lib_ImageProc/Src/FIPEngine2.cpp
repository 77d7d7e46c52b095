#include "FIPEngine2.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "FDebugTrace.h"
#include "FEvent.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FIPERequest.h"
#include "FIPEngineStages.h"
#include "FIPWorkSignal.h"
#include "FIPWorkerPool.h"
#include "FWinThread.h"

struct FIPEngineShared {
    FEvent m_requestEvent;
    FEvent m_doneEvent;
    std::atomic<FIPERequest*> m_pSlot{nullptr};
    std::atomic<bool> m_bQuit{false};
    std::mutex m_hookLock;
    FIPEngineHook m_hook;
};

namespace
{

// 0 until set: the machine's default, found on first use (other files' static
// initialisers may ask before this file's have run).
std::atomic<int> s_iThreadCount{0};

// Writes the error before the state: the state is written later, once the slot is empty.
int RecordError(FIPERequest& request, int code, const FWideString& text)
{
    request.m_Async.m_iErrorCode.store(code, std::memory_order_release);
    request.m_Async.m_usErrorText = text;
    return kError;
}

int Dispatch(FIPEngineShared& shared, FIPERequest& request)
{
    FAsyncStatus& status = request.m_Async;
    status.SetProgress(0.0);
    status.m_iErrorCode.store(kErrNone, std::memory_order_release);
    const int threads = GetIPEngineThreadCount();
    try {
        FIPEngineHook hook;
        {
            std::lock_guard<std::mutex> lock(shared.m_hookLock);
            hook = shared.m_hook;
        }
        if (hook)
            hook(request);
        // The record must be of the class its type id names.
        switch (request.GetRequestType()) {
        case kIPEStage1:
            return IPEngineStages::ProcessStage1(dynamic_cast<FIPERequestStage1*>(&request), threads);
        case kIPEStage2:
            return IPEngineStages::ProcessStage2(dynamic_cast<FIPERequestStage2*>(&request), threads);
        case kIPEStage3:
            return IPEngineStages::ProcessStage3(dynamic_cast<FIPERequestStage3*>(&request), threads);
        case kIPEStage4:
            return IPEngineStages::ProcessStage4(dynamic_cast<FIPERequestStage4*>(&request), threads);
        case kIPEGenerateToneLUT:
            return IPEngineStages::GenerateToneLUT(dynamic_cast<FIPERequestGenerateToneLUT*>(&request));
        case kIPECropSizeRotate:
            return IPEngineStages::CropSizeRotateRequest(dynamic_cast<FIPERequestCropSizeRotate*>(&request));
        case kIPERotate:
            return IPEngineStages::RotateRequest(dynamic_cast<FIPERequestRotate*>(&request));
        case kIPEStreamOutput:
            return IPEngineStages::StreamOutput(dynamic_cast<FIPERequestStreamOutput*>(&request), threads);
        default:
            return RecordError(request, kErrUnsupported, "FIPEngine2: Request not supported.");
        }
    } catch (const IPEngineStages::FIPEStatusError& e) {
        return RecordError(request, e.m_iCode, e.m_pText);
    } catch (const FException& e) {
        DebugTrace("FIPEngine2::priHandleRequest caught unhandled FException(%s, %s)\n", e.GetDescription(),
                   e.GetMessage());
        const FNarrowString text("FIPEngine2: %s (%s)", e.GetDescription(), e.GetMessage());
        return RecordError(request, kErrException, FWideString(text.GetCString()));
    } catch (const std::bad_alloc&) {
        DebugTrace("FIPEngine2::priHandleRequest caught unhandled bad_alloc exception\n");
        return RecordError(request, kErrOutOfMemory, "FIPEngine2");
    } catch (...) {
        DebugTrace("FIPEngine2::priHandleRequest caught unhandled unknown exception\n");
        return RecordError(request, kErrException, "FIPEngine2: unknown exception");
    }
}

int ThreadMain(void* argument)
{
    // The worker's own share: the engine may be gone before this thread ends.
    std::unique_ptr<std::shared_ptr<FIPEngineShared>> holder(
        static_cast<std::shared_ptr<FIPEngineShared>*>(argument));
    FIPEngineShared& shared = **holder;
    while (!shared.m_bQuit.load(std::memory_order_acquire)) {
        shared.m_requestEvent.Wait(-1);
        FIPERequest* request = shared.m_pSlot.load(std::memory_order_acquire);
        if (request == nullptr)
            continue;
        const int finalState = Dispatch(shared, *request);
        if (finalState == kCompleted)
            request->m_Async.SetProgress(1.0);
        shared.m_pSlot.store(nullptr, std::memory_order_release);
        request->m_Async.SetState(finalState);
        shared.m_doneEvent.Set();
        SignalIPWorkDone();
    }
    // A request handed over as the engine closed, before this loop took it, is answered
    // rather than left in progress for ever.
    if (FIPERequest* left = shared.m_pSlot.exchange(nullptr, std::memory_order_acq_rel)) {
        left->m_Async.SetState(kCancelled);
        shared.m_doneEvent.Set();
        SignalIPWorkDone();
    }
    return 0;
}

} // namespace

FIPEngine2::FIPEngine2() : m_pShared(std::make_shared<FIPEngineShared>())
{
    // Built here, once, so that engines starting together never time out on the tables'
    // lock.
    try {
        FGlobalLUTsClass::GetCubeRootLUT();
        FGlobalLUTsClass::GetCubeLUT();
    } catch (const FException&) {
        // The stages ask again and report the failure in their request.
    }
    StartIPWorkerPool();
    auto* argument = new std::shared_ptr<FIPEngineShared>(m_pShared);
    m_pThread = CreateWinThread(ThreadMain, argument, 2);
    // A thread that could not start reports done at once; its loop only ends on quit.
    if (m_pThread == nullptr || (m_pThread->IsDone() && m_pThread->GetResult() == kThreadResultFailed)) {
        m_bNoWorker = true;
        delete argument;
    }
}

FIPEngine2::~FIPEngine2()
{
    m_pShared->m_bQuit.store(true, std::memory_order_release);
    if (FIPERequest* running = m_pShared->m_pSlot.load(std::memory_order_acquire))
        running->m_Async.RequestCancel();
    m_pShared->m_requestEvent.Set();
    bool done = m_pThread == nullptr || m_pThread->IsDone();
    for (int waited = 0; !done && waited < kShutdownLimitMs; waited += kShutdownPollMs) {
        SleepMilliseconds(kShutdownPollMs);
        done = m_pThread->IsDone();
    }
    if (!done)
        DebugTrace("FIPEngine2::~FIPEngine2: processing thread failed to exit!\n");
    DeleteThread(m_pThread);
}

void FIPEngine2::Request(FIPERequest* request)
{
    if (request == nullptr)
        return;
    Idle();
    if (m_bNoWorker) {
        request->m_Async.Fail(kErrException, "FIPEngine2: no worker thread.");
        return;
    }
    const int type = request->GetRequestType();
    if (type < 0 || type > kIPELastType) {
        request->m_Async.Fail(kErrUnsupported, "FIPEngine2: Unsupported request.");
        return;
    }
    FIPERequest* held = m_pShared->m_pSlot.load(std::memory_order_acquire);
    if (held == request)
        return; // already running; its status must not be touched
    if (held != nullptr) {
        request->m_Async.Fail(kErrBusy, "FIPEngine2");
        return;
    }
    FAsyncStatus& status = request->m_Async;
    status.SetProgress(0.0);
    status.m_iErrorCode.store(kErrNone, std::memory_order_release);
    status.m_usErrorText.Clear();
    status.SetState(kInProgress);
    m_pShared->m_doneEvent.Reset();
    m_pShared->m_pSlot.store(request, std::memory_order_release);
    m_pShared->m_requestEvent.Set();
    Idle();
}

void FIPEngine2::Idle()
{
    if (m_pShared->m_pSlot.load(std::memory_order_acquire) == nullptr || !IPIdleMayWait())
        return;
    m_pShared->m_doneEvent.Wait(kIdleWaitMs);
}

bool FIPEngine2::IsRunning() const
{
    return m_pShared->m_pSlot.load(std::memory_order_acquire) != nullptr;
}

void FIPEngine2::SetHook(FIPEngineHook hook)
{
    std::lock_guard<std::mutex> lock(m_pShared->m_hookLock);
    m_pShared->m_hook = std::move(hook);
}

FIIPEngine2* CreateIPEngine2()
{
    return new (std::nothrow) FIPEngine2();
}

void ReleaseIPEngine2(FIIPEngine2** holder)
{
    if (holder == nullptr)
        return;
    FIIPEngine2* engine = *holder;
    *holder = nullptr;
    delete engine;
}

void SetIPEngineThreadCount(int threads)
{
    s_iThreadCount.store(std::clamp(threads, 1, 64), std::memory_order_relaxed);
}

int GetIPEngineThreadCount()
{
    const int set = s_iThreadCount.load(std::memory_order_relaxed);
    return set > 0 ? set : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
}
