#include "IPManager2.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "FCache.h"
#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIPERequest.h"
#include "FIPEStage2Setup.h"
#include "FIPEngine2.h"
#include "FIPMImage.h"
#include "FIPManagerRequest.h"
#include "FIPNonRawRender.h"
#include "FIPSubManagers.h"
#include "FIPWorkSignal.h"
#include "FIStorageClass.h"
#include "FImage.h"
#include "FLUT.h"
#include "FMutex.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "Retinex.h"
#include "StorageClassRegistry.h"

namespace
{

// Progress weight of each machine state.
constexpr double kWeights[kMgrStateCount] = {0.0,   0.0,   0.0,  0.0,  0.0,  0.1, 0.1, 0.19,
                                             0.19,  0.2,   0.2,  0.25, 0.25, 0.8, 0.8, 0.825,
                                             0.825, 0.838, 0.85, 0.85, 0.9,  1.0, 1.0, 1.0};

// The largest external camera-data file read whole.
constexpr uint64_t kMaxExternalCamfileBytes = 256u << 20;

// How long cleanup waits for an engine or retriever request it has asked to stop.
constexpr auto kStopWait = std::chrono::seconds(10);

#define IPM_ASSERT(test)                                                                                     \
    do {                                                                                                     \
        if (!(test))                                                                                         \
            ReportAssertion(__FILE__, __LINE__, #test, 0, 0);                                                \
    } while (false)

FIPMStageImageRecord* Rec(FCacheObject* object)
{
    return FIPMCommon::GetStageImageRecord(object);
}

FIPMStageLUTRecord* Lut(FCacheObject* object)
{
    return FIPMCommon::GetStageLUTRecord(object);
}

void ReleaseObject(FCacheObject*& object)
{
    if (object != nullptr)
        object->Release();
    object = nullptr;
}

void ReleaseData(FIDataObject*& object)
{
    if (object != nullptr)
        object->Release();
    object = nullptr;
}

bool IsValid(FCacheObject* object)
{
    return object != nullptr && Rec(object)->m_bValid.load(std::memory_order_acquire) != 0;
}

void SetValid(FCacheObject* object, bool valid)
{
    if (object != nullptr)
        Rec(object)->m_bValid.store(valid ? 1 : 0, std::memory_order_release);
}

void CapturePropsFreed(FCacheObject* object)
{
    FPropList* list = nullptr;
    std::memcpy(&list, object->GetData(), sizeof(list));
    DeletePropList(list);
}

// Ends the request as the sub-request ended: cancelled stays cancelled, anything else is
// its error (progress is not copied, so it never goes back).
void EndAs(FAsyncStatus& target, const FAsyncStatus& source, bool fileIOForException = false)
{
    if (source.GetState() == kCancelled) {
        target.Cancel();
        return;
    }
    int code = source.GetErrorCode();
    if (fileIOForException && code == kErrException)
        code = kErrFileIO;
    target.Fail(code, source.m_usErrorText);
}

template <class P>
P* PixmapAs(FCacheObject* object)
{
    return static_cast<P*>(Rec(object)->m_pPixmap);
}

} // namespace

bool FIPManagerPrivate::IsBusy()
{
    return m_pParent->HasCurrentRequest();
}

void FIPManagerPrivate::Idle()
{
    m_pParent->Idle();
}

void FIPManagerPrivate::Request(FIPManagerRequest* request)
{
    m_pParent->priRequest(request);
}

void IPManager2::priRunHandler(int state)
{
    switch (state) {
    case 1:
        priInitRequest();
        return;
    case 2:
        priFindImages();
        return;
    case 3:
        priLoadRaw();
        return;
    case 4:
        priCompleteLoadRaw();
        return;
    case 5:
        priLoadDark();
        return;
    case 6:
        priCompleteLoadDark();
        return;
    case 7:
        priLoadCamfile();
        return;
    case 8:
        priCompleteLoadCamfile();
        return;
    case 9:
        priStage1Process();
        return;
    case 10:
        priCompleteStage1();
        return;
    case 11:
        priStage2Process();
        return;
    case 12:
        priCompleteStage2();
        return;
    case 13:
        priStage3Process();
        return;
    case 14:
        priCompleteStage3();
        return;
    case 15:
        priMakeToneLUT();
        return;
    case 16:
        priCompleteToneLUT();
        return;
    case 17:
        priMakeRetinexLUT();
        return;
    case 18:
        priStage4Process();
        return;
    case 19:
        priCompleteStage4();
        return;
    case 20:
        priCompleteOutputImage();
        return;
    case 21:
        priCompleteAutoSettings();
        return;
    case 22:
        priCompleteGetGrayBalance();
        return;
    case 23:
        priCompleteGetIlluminants();
        return;
    case 24:
        priNonRawLoad();
        return;
    case 25:
        priNonRawRender();
        return;
    default:
        return;
    }
}

IPManager2::IPManager2()
{
    m_pCache = GetGlobalCache();
    m_pDataRetriever = CreateDataRetriever();
    m_pIPEngine = CreateIPEngine2();
    if (m_pDataRetriever == nullptr || m_pIPEngine == nullptr) {
        ReleaseDataRetriever(m_pDataRetriever);
        ReleaseIPEngine2(&m_pIPEngine);
        throw std::bad_alloc();
    }
}

IPManager2::~IPManager2()
{
    // A request left on the machine ends as cancelled once nothing works for it any more.
    // It may be a sub-manager's own record (a save's strip), so it ends before the
    // sub-managers go: deleting them first would leave it running in freed memory.
    FIPManagerRequest* current = m_pCurrentRequest;
    if (current != nullptr)
        current->m_Async.RequestCancel();
    priCleanup();
    if (current != nullptr) {
        m_pCurrentRequest = nullptr;
        m_eMgrState = kMgrIdle;
        current->m_Async.Cancel();
    }
    // The sub-managers still borrow the retriever and engine, so they go before those.
    delete m_pSaveManager;
    m_pSaveManager = nullptr;
    delete m_pPreviewManager;
    m_pPreviewManager = nullptr;
    m_pSaveRequest = nullptr;
    m_pPreviewRequest = nullptr;
    ReleaseDataRetriever(m_pDataRetriever);
    ReleaseIPEngine2(&m_pIPEngine);
    delete m_pPrivate;
}

bool IPManager2::IsBusy()
{
    return m_pCurrentRequest != nullptr || m_pSaveRequest != nullptr || m_pPreviewRequest != nullptr;
}

void IPManager2::Idle()
{
    // The engine and the loaders work on their own threads; a pass only looks at them. A
    // wait here would be stretched by every busy core before the caller got its thread back.
    FIPNoWaitScope noWait;
    // A sub-manager that ticks its parent from its own Idle gets the machine's pass only,
    // not a second round of the sub-managers.
    if (m_bInIdle) {
        if (m_pCurrentRequest != nullptr)
            priProcessIdle();
        return;
    }
    m_bInIdle = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_bInIdle};
    if (m_pCurrentRequest != nullptr) {
        priProcessIdle();
    } else {
        m_pIPEngine->Idle();
        m_pDataRetriever->Idle();
    }
    if (m_pSaveManager != nullptr)
        m_pSaveManager->Idle();
    if (m_pPreviewManager != nullptr)
        m_pPreviewManager->Idle();
    if (m_pSaveRequest != nullptr && !m_pSaveRequest->m_Async.IsInProgress())
        m_pSaveRequest = nullptr;
    if (m_pPreviewRequest != nullptr && !m_pPreviewRequest->m_Async.IsInProgress())
        m_pPreviewRequest = nullptr;
}

void IPManager2::Request(FIPManagerRequest* request)
{
    if (request == nullptr)
        return;
    FIPNoWaitScope noWait;
    if (m_pSaveRequest != nullptr || m_pPreviewRequest != nullptr) {
        request->m_Async.Fail(kErrBusy, "IPManager2 is busy.");
        return;
    }
    // The caller may be the window's thread: nothing is read or worked out here.
    priRequest(request, false);
}

void IPManager2::priRequest(FIPManagerRequest* request, bool startNow)
{
    if (request == nullptr)
        return;
    if (m_pCurrentRequest != nullptr) {
        request->m_Async.Fail(kErrBusy, "IPManager2 is busy.");
        return;
    }
    request->m_Async.m_iErrorCode.store(kErrNone, std::memory_order_release);
    if (request->m_eKind < kReqNone || request->m_eKind > kReqLast) {
        request->m_Async.Fail(kErrUnsupported);
        return;
    }
    switch (request->m_eKind) {
    case kReqNone:
        request->m_Async.Complete();
        return;
    case kReqProperties:
        priHandlePropertiesRequest(request);
        return;
    case kReqPreview:
        priHandlePreviewRequest(request, startNow);
        return;
    case kReqProcAndSave:
        priHandleSaveRequest(request);
        return;
    case kReqModify:
        priHandleModifyRequest(request);
        return;
    default:
        priStartRequest(request, startNow);
        return;
    }
}

const FWideString& IPManager2::GetLabel(int index) const
{
    return m_usLabels[index >= 0 && index < kLabelCount ? index : 0];
}

void IPManager2::priStartRequest(FIPManagerRequest* request, bool startNow)
{
    m_eMgrState = kMgrInitRequest;
    m_pCurrentRequest = request;
    request->m_Async.SetState(kInProgress);
    request->m_Async.SetProgress(0.0);
    m_Stopwatch.Reset();
    m_Stopwatch.Start();
    if (startNow)
        priProcessIdle();
}

// ---------------------------------------------------------------------------------------
// Requests answered at once

void IPManager2::priHandlePropertiesRequest(FIPManagerRequest* request)
{
    if (request->m_pImageProps == nullptr) {
        request->m_Async.Fail(kErrInvalid,
                              "IPManager2::priHandlePropertiesRequest: Property list ptr is NULL.");
        return;
    }
    if (m_pCapturePropList != nullptr)
        priCleanup();
    priGetCaptureProps(request);
    if (request->m_Async.GetState() == kError) {
        priCleanup();
        return;
    }
    request->m_pImageProps->CopyPropsFrom(*m_pCapturePropList);
    priCleanup();
    request->m_Async.Complete();
}

void IPManager2::priHandleModifyRequest(FIPManagerRequest* request)
{
    FWideString uniqueId;
    priGetUniqueID(request, uniqueId);
    if (request->m_pImageProps == nullptr) {
        request->m_Async.Fail(kErrInvalid, "IPManager2::priHandleModifyRequest: Property list ptr is NULL.");
        return;
    }
    if (m_DataReq.m_Async.IsInProgress()) {
        request->m_Async.Fail(kErrException, "IPManager2::priHandleModifyRequest: data retriever is busy!");
        return;
    }
    m_DataReq.m_usFileName = request->m_usFileName;
    m_DataReq.m_eKind = kRetrieveModify;
    m_DataReq.SetChanges(request->m_pImageProps);
    m_DataReq.m_iArg = 0;
    std::fill(std::begin(m_DataReq.m_aiResult), std::end(m_DataReq.m_aiResult), 0);
    m_DataReq.m_Async = FAsyncStatus();
    m_pDataRetriever->Request(&m_DataReq);
    while (m_DataReq.m_Async.IsInProgress())
        m_pDataRetriever->Idle();
    request->m_Async = m_DataReq.m_Async;
    // The next reader loads the properties again.
    FWideString label = request->m_usFileName;
    label += "-";
    label += uniqueId;
    label += "-Properties";
    if (FCacheObject* props = m_pCache->Get(label.GetBuffer(), 0)) {
        props->SetLabel(u"");
        props->SetPriority(0);
        props->Release();
    }
}

void IPManager2::priHandlePreviewRequest(FIPManagerRequest* request, bool startNow)
{
    if (m_pPrivate == nullptr)
        m_pPrivate = new (std::nothrow) FIPManagerPrivate(this);
    if (m_pPrivate != nullptr && m_pPreviewManager == nullptr)
        m_pPreviewManager = CreateIPPreviewManager(m_pPrivate, m_pDataRetriever, m_pIPEngine);
    if (m_pPreviewManager == nullptr) {
        request->m_Async.Fail(kErrException,
                              "IPManager2::priHandlePreviewRequest: Unable to create FIPPreviewManager!");
        return;
    }
    m_pPreviewManager->Request(request);
    if (startNow && request->m_Async.IsInProgress())
        m_pPreviewManager->Idle();
    if (request->m_Async.IsInProgress())
        m_pPreviewRequest = request;
}

void IPManager2::priHandleSaveRequest(FIPManagerRequest* request)
{
    if (m_pPrivate == nullptr)
        m_pPrivate = new (std::nothrow) FIPManagerPrivate(this);
    if (m_pPrivate != nullptr && m_pSaveManager == nullptr)
        m_pSaveManager = CreateIPSaveManager(m_pPrivate, true);
    if (m_pSaveManager == nullptr) {
        request->m_Async.Fail(kErrException,
                              "IPManager2::priHandleSaveRequest: Unable to create FIPSaveManager!");
        return;
    }
    m_pSaveManager->Request(request);
    if (request->m_Async.IsInProgress())
        m_pSaveRequest = request;
}

// ---------------------------------------------------------------------------------------
// Blocking retriever calls

bool IPManager2::priRetrieveNow(FIPManagerRequest* request)
{
    m_pDataRetriever->Request(&m_DataReq);
    while (m_DataReq.m_Async.IsInProgress()) {
        // A cancel of the request reaches the loader; the retriever still answers.
        if (request->m_Async.IsCancelRequested())
            m_DataReq.m_Async.RequestCancel();
        m_pDataRetriever->Idle();
    }
    if (m_DataReq.m_Async.GetState() == kCompleted)
        return true;
    EndAs(request->m_Async, m_DataReq.m_Async);
    return false;
}

void IPManager2::priGetUniqueID(FIPManagerRequest* request, FWideString& uniqueId)
{
    uniqueId.Clear();
    if (m_DataReq.m_Async.IsInProgress()) {
        request->m_Async.Fail(kErrException, "IPManager2::priGetUniqueID: data retriever is busy!");
        return;
    }
    std::unique_ptr<FPropList> list(new FPropList(nullptr, "UniqueIDProp"));
    m_DataReq.m_usFileName = request->m_usFileName;
    m_DataReq.m_eKind = kRetrieveInfo;
    m_DataReq.m_iSubKind = kInfoUniqueID;
    m_DataReq.SetList(list.get());
    std::fill(std::begin(m_DataReq.m_aiResult), std::end(m_DataReq.m_aiResult), 0);
    m_DataReq.m_Async = FAsyncStatus();
    const bool ok = priRetrieveNow(request);
    m_DataReq.m_iArg = 0;
    if (ok)
        uniqueId = list->GetString(FWideString("UNIQUEID"), FWideString("NO-UNIQUEID"));
}

void IPManager2::priGetCaptureProps(FIPManagerRequest* request)
{
    if (m_pCapturePropList != nullptr)
        return;
    FWideString uniqueId;
    priGetUniqueID(request, uniqueId);
    if (request->m_Async.IsFinal())
        return;
    FWideString label = request->m_usFileName;
    label += "-";
    label += uniqueId;
    label += "-Properties";
    if (FCacheObject* found = m_pCache->Get(label.GetBuffer(), 0)) {
        std::memcpy(&m_pCapturePropList, found->GetData(), sizeof(m_pCapturePropList));
        m_pCapturePropsObj = found;
        return;
    }
    FCacheObject* object = m_pCache->Get(label.GetBuffer(), static_cast<int>(sizeof(FPropList*)));
    if (object == nullptr) {
        request->m_Async.Fail(kErrOutOfMemory,
                              "IPManager2::priGetCaptureProps: Out of memory allocating capture props");
        return;
    }
    object->SetPriority(kPrioCaptureProps);
    FPropList* list = new FPropList(nullptr, request->m_usFileName);
    std::memcpy(object->GetData(), &list, sizeof(list));
    object->SetFreeCallback(CapturePropsFreed);
    m_pCapturePropsObj = object;
    m_pCapturePropList = list;
    if (m_DataReq.m_Async.IsInProgress()) {
        request->m_Async.Fail(kErrException, "IPManager2::priGetCaptureProps: data retriever is busy!");
    } else {
        m_DataReq.m_usFileName = request->m_usFileName;
        m_DataReq.m_eKind = kRetrieveInfo;
        m_DataReq.m_iSubKind = kInfoProperties;
        m_DataReq.SetList(list);
        std::fill(std::begin(m_DataReq.m_aiResult), std::end(m_DataReq.m_aiResult), 0);
        m_DataReq.m_Async = FAsyncStatus();
        priRetrieveNow(request);
        m_DataReq.m_iArg = 0;
    }
    if (request->m_Async.GetState() == kError || request->m_Async.GetState() == kCancelled) {
        object->SetLabel(u"");
        object->SetPriority(0);
        m_pCapturePropList = nullptr;
        ReleaseObject(m_pCapturePropsObj);
    }
}

// ---------------------------------------------------------------------------------------
// The pass

double IPManager2::priProgress(int fromState, int toState, double fraction) const
{
    auto weight = [](int state) { return state >= 0 && state < kMgrStateCount ? kWeights[state] : 0.0; };
    const double entry = weight(m_eEntryState);
    // Nothing left to count from an entry at the end: progress shows only at the end.
    if (1.0 - entry <= 0.0)
        return 0.0;
    const double f = std::clamp(fraction, 0.0, 1.0);
    const double p = (weight(fromState) * (1.0 - f) + weight(toState) * f - entry) / (1.0 - entry);
    return std::clamp(p, 0.0, 1.0);
}

void IPManager2::priSetProgress(double progress)
{
    FAsyncStatus& status = m_pCurrentRequest->m_Async;
    if (progress > status.GetProgress())
        status.SetProgress(progress);
}

void IPManager2::priProcessIdle()
{
    if (m_pCurrentRequest == nullptr)
        return;
    if (m_pCurrentRequest->m_Async.IsCancelRequested()) {
        if (m_pIPEngineReq != nullptr && m_pIPEngineReq->m_Async.IsInProgress())
            m_pIPEngineReq->m_Async.RequestCancel();
        if (m_DataReq.m_Async.IsInProgress())
            m_DataReq.m_Async.RequestCancel();
    }
    FStopwatch watch;
    watch.Start();
    int last = kMgrIdle;
    while (m_pCurrentRequest != nullptr && watch.GetElapsed() < 0.01 && m_eMgrState != last) {
        try {
            m_pIPEngine->Idle();
            m_pDataRetriever->Idle();
            last = m_eMgrState;
            if (last == kMgrIdle) {
                DebugTrace(
                    "IPManager2: Someone left the a request open and the state machine in the Idle state.");
                m_pCurrentRequest->m_Async.Fail(kErrException);
            } else if (last < 0 || last >= kMgrStateCount) {
                DebugTrace("IPManager2: IPManager2 in an invalid state.");
                m_pCurrentRequest->m_Async.Fail(kErrException);
            } else {
                if (m_StateObserver)
                    m_StateObserver(last);
                priRunHandler(last);
            }
            if (!m_pCurrentRequest->m_Async.IsInProgress())
                priFinishRequest();
        } catch (const FExceptionFileIO& e) {
            FWideString text;
            text.Format("IPManager2::priProcessIdle: caught FExceptionFileIO(%s, %s)!", e.GetDescription(),
                        e.GetMessage());
            priEndRequestWithException(kErrFileIO, text);
        } catch (const FException& e) {
            DebugTrace("IPManager2::priProcessIdle caught unhandled FException(%s, %s)\n", e.GetDescription(),
                       e.GetMessage());
            FWideString text;
            text.Format("IPManager2::priProcessIdle: caught FException(%s, %s)!", e.GetDescription(),
                        e.GetMessage());
            priEndRequestWithException(kErrException, text);
        } catch (const std::bad_alloc&) {
            DebugTrace("IPManager2::priProcessIdle caught out of memory\n");
            priEndRequestWithException(kErrOutOfMemory,
                                       FWideString("IPManager2::priProcessIdle: out of memory!"));
        } catch (...) {
            DebugTrace("IPManager2::priProcessIdle caught unhandled unknown exception\n");
            priEndRequestWithException(kErrException,
                                       FWideString("IPManager2::priProcessIdle: caught exception!"));
        }
    }
}

void IPManager2::priEndRequestWithException(int code, const FWideString& text)
{
    if (m_pCurrentRequest == nullptr) {
        m_eMgrState = kMgrIdle;
        return;
    }
    FIPManagerRequest* request = m_pCurrentRequest;
    // Nothing stays locked or referenced: other managers would wait on it for ever.
    m_pCurrentRequest = nullptr;
    m_eMgrState = kMgrIdle;
    m_Stopwatch.Stop();
    priCleanup();
    request->m_Async.Fail(code, text);
}

void IPManager2::priFinishRequest()
{
    FIPManagerRequest* request = m_pCurrentRequest;
    m_Stopwatch.Stop();
    m_pCurrentRequest = nullptr;
    m_eMgrState = kMgrIdle;
    priCleanup();
    if (request->m_Async.GetState() == kCompleted)
        request->m_Async.SetProgress(1.0);
}

void IPManager2::priFailRequest(int code, const char* text)
{
    m_pCurrentRequest->m_Async.Fail(code, text);
}

void IPManager2::priLockHeld(FCacheObject* object)
{
    for (FCacheObject*& slot : m_apLocked) {
        if (slot == nullptr) {
            slot = object;
            return;
        }
    }
    IPM_ASSERT(!"more stage objects locked than a stage uses");
}

void IPManager2::priUnlockObject(FCacheObject* object)
{
    for (FCacheObject*& slot : m_apLocked) {
        if (slot == object) {
            slot = nullptr;
            Rec(object)->m_pMutex->Unlock();
            return;
        }
    }
}

bool IPManager2::priTryLock(FCacheObject* object, const char* waitTrace)
{
    if (!Rec(object)->m_pMutex->Lock(0)) {
        DebugTrace("%s: waiting for someone else to process.\n", waitTrace);
        return false;
    }
    priLockHeld(object);
    return true;
}

bool IPManager2::priTryLockLUT(FCacheObject* object, const char* waitTrace)
{
    if (!Lut(object)->m_pMutex->Lock(0)) {
        DebugTrace("%s: waiting for someone else to process.\n", waitTrace);
        return false;
    }
    priLockHeld(object);
    return true;
}

void IPManager2::priUnlockLUT(FCacheObject* object)
{
    for (FCacheObject*& slot : m_apLocked) {
        if (slot == object) {
            slot = nullptr;
            Lut(object)->m_pMutex->Unlock();
            return;
        }
    }
}

void IPManager2::priUnlockHeld()
{
    for (FCacheObject*& slot : m_apLocked) {
        if (slot == nullptr)
            continue;
        // A locked object was never finished by this manager.
        const bool table = slot == m_pToneLUTObj || slot == m_pRtnxLUTObj || slot == m_pGammaLUTObj;
        if (table) {
            Lut(slot)->m_bValid.store(0);
            Lut(slot)->m_pMutex->Unlock();
        } else {
            SetValid(slot, false);
            Rec(slot)->m_pMutex->Unlock();
        }
        slot = nullptr;
    }
}

void IPManager2::priCleanup()
{
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    if (m_DataReq.m_Async.IsInProgress()) {
        DebugTrace("IPManager2::priCleanup: retriever request is not done!\n");
        m_DataReq.m_Async.RequestCancel();
        while (m_DataReq.m_Async.IsInProgress() && std::chrono::steady_clock::now() < deadline)
            m_pDataRetriever->Idle();
    }
    if (!m_DataReq.m_Async.IsInProgress() && m_DataReq.m_eKind == kRetrieveData) {
        // A load that finished after its request ended: give its handle back.
        if (FIDataObject* handle = m_DataReq.GetDataObject())
            handle->Release();
        m_DataReq.m_aiResult[0] = 0;
    }
    bool engineHolds = false;
    if (m_pIPEngineReq != nullptr) {
        if (m_pIPEngineReq->m_Async.IsInProgress()) {
            DebugTrace("IPManager2::priCleanup: IP engine request is not done!\n");
            m_pIPEngineReq->m_Async.RequestCancel();
            while (m_pIPEngineReq->m_Async.IsInProgress() && std::chrono::steady_clock::now() < deadline)
                m_pIPEngine->Idle();
        }
        if (m_pIPEngineReq->m_Async.IsInProgress()) {
            // The worker still writes into what the request names: leave all of it alone.
            engineHolds = true;
        } else {
            delete m_pIPEngineReq;
            m_pIPEngineReq = nullptr;
        }
    }
    if (engineHolds) {
        DebugTrace("IPManager2::priCleanup: engine still busy; its inputs and outputs are kept.\n");
        m_pRawImageObj = m_pDarkImageObj = m_pCamfileDataObj = nullptr;
        m_pCambData = nullptr;
        m_pExtCamfileBuffer = nullptr;
        m_pCapturePropList = nullptr;
        m_pCapturePropsObj = nullptr;
        for (FCacheObject** object : {&m_pStage1OutImageObj, &m_pStage2OutImageObj, &m_pStage2OutRtnxImageObj,
                                      &m_pStage2OutRefQ7ImageObj, &m_pStage3OutImageObj,
                                      &m_pStage3OutLImageObj, &m_pStage3OutRtnxImageObj,
                                      &m_pStage4OutImageObj, &m_pToneLUTObj, &m_pGammaLUTObj, &m_pRtnxLUTObj})
            *object = nullptr;
        std::fill(std::begin(m_apLocked), std::end(m_apLocked), nullptr);
        m_pIPEngineReq = nullptr;
        return;
    }
    priUnlockHeld();
    priCleanupNonRaw();
    ReleaseData(m_pRawImageObj);
    ReleaseData(m_pDarkImageObj);
    delete m_pCambData;
    m_pCambData = nullptr;
    delete[] m_pExtCamfileBuffer;
    m_pExtCamfileBuffer = nullptr;
    ReleaseData(m_pCamfileDataObj);
    m_pCapturePropList = nullptr;
    ReleaseObject(m_pCapturePropsObj);
    ReleaseObject(m_pStage1OutImageObj);
    ReleaseObject(m_pStage2OutImageObj);
    ReleaseObject(m_pStage2OutRtnxImageObj);
    ReleaseObject(m_pStage2OutRefQ7ImageObj);
    ReleaseObject(m_pStage3OutImageObj);
    ReleaseObject(m_pStage3OutLImageObj);
    ReleaseObject(m_pStage3OutRtnxImageObj);
    ReleaseObject(m_pStage4OutImageObj);
    ReleaseObject(m_pToneLUTObj);
    ReleaseObject(m_pGammaLUTObj);
    ReleaseObject(m_pRtnxLUTObj);
}

// ---------------------------------------------------------------------------------------
// Labels, priorities and reuse

void IPManager2::priRenameLabel(int index, unsigned priority)
{
    const FWideString& label = m_usLabels[index];
    FWideString& previous = m_usPrevLabels[index];
    if (label == previous)
        return;
    // An empty label would match the blocks whose labels were cleared.
    if (!previous.IsEmpty()) {
        if (FCacheObject* old = m_pCache->Get(previous.GetBuffer(), 0)) {
            old->SetPriority(priority);
            old->Release();
        }
        m_usRecycleLabels[index] = m_usSupersededLabels[index];
        m_usSupersededLabels[index] = previous;
    }
    previous = label;
}

const char16_t* IPManager2::priRecycleLabel(int index) const
{
    // While the cache is less than half full, old results cost nothing and make going back
    // instant. Past that they would soon be evicted anyway, and their blocks are already
    // mapped: memory fresh from the system costs a page fault per page on first touch.
    if (m_pCache->GetUsedBytes() * 2 < static_cast<int64_t>(m_pCache->GetSize()))
        return nullptr;
    const FWideString& label = m_usRecycleLabels[index];
    // Going back to earlier settings makes the recycled label current again.
    for (const FWideString& current : m_usLabels) {
        if (label == current)
            return nullptr;
    }
    return label.IsEmpty() ? nullptr : label.GetBuffer();
}

void IPManager2::priBuildLabels(const FWideString& uniqueId, const FWideString& wbDesc, int rotation)
{
    const FIPManagerRequest& r = *m_pCurrentRequest;
    FWideString k = r.m_usFileName;
    k += "-";
    k += uniqueId;
    FWideString e;
    if (!r.m_usCamfile.IsEmpty()) {
        e = "-";
        e += r.m_usCamfile;
    }
    // Everything stage 2 depends on besides the file: its white-balance label, and the
    // colour space, white-balance override and input neutral of the request.
    FWideString p1 = wbDesc;
    FWideString part;
    part.Format(",%d,", r.m_iColorSpace);
    p1 += part;
    p1 += r.m_usWhiteBalance;
    part.Format(",%g,%g,%g", r.m_adNeutral[0], r.m_adNeutral[1], r.m_adNeutral[2]);
    p1 += part;
    FWideString p2 = p1;
    part.Format(",%dx%d,%dx%d,%dx%d,%d", r.m_rCrop.left, r.m_rCrop.top, r.m_rCrop.right, r.m_rCrop.bottom,
                r.m_iOutCols, r.m_iOutRows, rotation);
    p2 += part;
    FWideString s;
    s.Format(",%g,%g,%g,%g,%g,%g,%g", r.m_dShadow, r.m_dContrast, r.m_dExposure, r.m_dHighlight,
             r.m_adColorAdjust[0], r.m_adColorAdjust[1], r.m_adColorAdjust[2]);
    FWideString g;
    g.Format(",%d,%d", r.m_iColorSpace, r.m_eOutputFormat);
    FWideString rt;
    rt.Format(",%g", r.m_dFillLight);
    FWideString q;
    q.Format(",%g,%g", r.m_dSharpness, r.m_dSaturation);

    auto make = [&](const FWideString& head, const char* name, const FWideString& tail) {
        FWideString label = head;
        label += name;
        label += tail;
        return label;
    };
    FWideString ke = k;
    ke += e;
    m_usLabels[kLabelStage1] = make(k, "-Stage1Out", FWideString());
    m_usLabels[kLabelStage2] = make(ke, "-Stage2Out-", p1);
    m_usLabels[kLabelStage2Rtnx] = make(ke, "-Stage2RtnxOut-", p1);
    m_usLabels[kLabelStage2RefQ7] = make(ke, "-Stage2RefQ7Out-", p1);
    m_usLabels[kLabelStage3] = make(ke, "-Stage3-", p2);
    // The luminance image comes from the stage-2 image, so the camera data counts too.
    m_usLabels[kLabelStage3L] = make(ke, "-Stage3L-", p2);
    m_usLabels[kLabelStage3Rtnx] = make(ke, "-Stage3Rtnx-", p2);
    m_usLabels[kLabelToneLUT] = make(FWideString(), "ToneLUT-", s);
    m_usLabels[kLabelGammaLUT] = make(FWideString(), "GammaLUT-", g);
    m_usLabels[kLabelRtnxLUT] = make(FWideString(), "RtnxLUT-", rt);
    FWideString tail = p2;
    tail += s;
    tail += g;
    tail += rt;
    tail += q;
    m_usLabels[kLabelStage4] = make(ke, "-Stage4-", tail);
}

// Checked before anything is loaded: no pixel type fits another format.
bool IPManager2::priPrepareOutputRequest()
{
    FIPManagerRequest& r = *m_pCurrentRequest;
    if (r.m_eKind == kReqProcessed && (r.m_eOutputFormat < kDisplay || r.m_eOutputFormat > kRGB48)) {
        FWideString text;
        text.Format("IPManager2::priStage4Process: output format %d has no pixel type.", r.m_eOutputFormat);
        r.m_Async.Fail(kErrException, text);
        return false;
    }
    m_bPartialView =
        r.m_rCrop.right - r.m_rCrop.left < r.m_iOutCols || r.m_rCrop.bottom - r.m_rCrop.top < r.m_iOutRows;
    priGetCaptureProps(&r);
    return !r.m_Async.IsFinal();
}

void IPManager2::priInitRequest()
{
    FIPManagerRequest& r = *m_pCurrentRequest;
    FWideString uniqueId;
    priGetUniqueID(&r, uniqueId);
    priCleanup();
    if (r.m_Async.IsFinal())
        return;
    if (IsNonRawImageFile(r.m_usFileName)) {
        priInitNonRawRequest(uniqueId);
        return;
    }
    if (r.m_eKind == kReqGetGrayBalance) {
        r.m_iOutCols = 100;
        r.m_iOutRows = 100;
        r.m_rCrop.Set(0, 0, 100, 100);
    }
    if (r.m_eKind == kReqIlluminants) {
        m_eMgrState = kMgrLoadCamfile;
        m_eEntryState = kMgrLoadCamfile;
        m_eAfterCamfileState = kMgrCompleteIlluminants;
        return;
    }
    if (!priPrepareOutputRequest())
        return;
    const int rotation = m_pCapturePropList->GetInt(FWideString("ROTATION"), 0);
    const FWideString wbDesc = m_pCapturePropList->GetString(FWideString("WB_DESC"), FWideString());
    m_iRawIndex = m_iDarkIndex = m_iDarkSubIndex = -1;
    priBuildLabels(uniqueId, wbDesc, rotation);
    m_eAfterCamfileState = kMgrStage1;

    FWideString* l = m_usLabels;
    priRenameLabel(kLabelStage2, kPrioStage2Demoted);
    priRenameLabel(kLabelStage2Rtnx, kPrioStage2Demoted);
    priRenameLabel(kLabelStage2RefQ7, kPrioStage2Demoted);
    priRenameLabel(kLabelStage1, 0);
    const bool partial = m_bPartialView;
    if (r.m_eKind != kReqAutoSet) {
        priRenameLabel(kLabelStage4, partial ? kPrioPartialView : kPrioStage4Demoted);
        const unsigned s3 = partial ? kPrioPartialView : kPrioStage3Demoted;
        priRenameLabel(kLabelStage3, s3);
        priRenameLabel(kLabelStage3L, s3);
        priRenameLabel(kLabelStage3Rtnx, s3);
        priRenameLabel(kLabelToneLUT, kPrioTableDemoted);
        priRenameLabel(kLabelGammaLUT, kPrioTableDemoted);
        priRenameLabel(kLabelRtnxLUT, kPrioTableDemoted);
    }
    // Streamed rows are made afresh from stage 2: no stage-3 or stage-4 image stands for them.
    if (r.m_eKind != kReqAutoSet && !priStreams()) {
        m_pStage4OutImageObj = m_pCache->Get(l[kLabelStage4].GetBuffer(), 0);
        if (m_pStage4OutImageObj != nullptr) {
            m_pStage4OutImageObj->SetPriority(partial ? kPrioPartialView : kPrioStage4);
            if (IsValid(m_pStage4OutImageObj)) {
                m_eMgrState = kMgrCompleteOutputImage;
                m_eEntryState = kMgrCompleteOutputImage;
                return;
            }
        }
        m_pStage3OutImageObj = m_pCache->Get(l[kLabelStage3].GetBuffer(), 0);
        m_pStage3OutLImageObj = m_pCache->Get(l[kLabelStage3L].GetBuffer(), 0);
        m_pStage3OutRtnxImageObj = m_pCache->Get(l[kLabelStage3Rtnx].GetBuffer(), 0);
        if (m_pStage3OutImageObj != nullptr && m_pStage3OutLImageObj != nullptr &&
            m_pStage3OutRtnxImageObj != nullptr) {
            const unsigned prio = partial ? kPrioPartialView : kPrioStage3;
            m_pStage3OutImageObj->SetPriority(prio);
            m_pStage3OutLImageObj->SetPriority(prio);
            m_pStage3OutRtnxImageObj->SetPriority(prio);
            if (IsValid(m_pStage3OutImageObj)) {
                m_eMgrState = kMgrToneLUT;
                m_eEntryState = kMgrToneLUT;
                return;
            }
        }
    }
    m_pStage2OutImageObj = m_pCache->Get(l[kLabelStage2].GetBuffer(), 0);
    m_pStage2OutRtnxImageObj = m_pCache->Get(l[kLabelStage2Rtnx].GetBuffer(), 0);
    m_pStage2OutRefQ7ImageObj = m_pCache->Get(l[kLabelStage2RefQ7].GetBuffer(), 0);
    if (m_pStage2OutImageObj != nullptr) {
        if (m_pStage2OutRtnxImageObj != nullptr && m_pStage2OutRefQ7ImageObj != nullptr) {
            m_pStage2OutImageObj->SetPriority(kPrioStage2);
            m_pStage2OutRtnxImageObj->SetPriority(kPrioStage2);
            m_pStage2OutRefQ7ImageObj->SetPriority(kPrioStage2);
            m_eMgrState = kMgrLoadCamfile;
            if (IsValid(m_pStage2OutImageObj)) {
                const int next = r.m_eKind == kReqAutoSet          ? kMgrCompleteAutoSettings
                                 : r.m_eKind == kReqGetGrayBalance ? kMgrCompleteGrayBalance
                                                                   : kMgrStage3;
                m_eAfterCamfileState = next;
                m_eEntryState = next;
            } else {
                m_eAfterCamfileState = kMgrStage2;
                m_eEntryState = kMgrStage2;
            }
            return;
        }
        ReleaseObject(m_pStage2OutImageObj);
    }
    m_pStage1OutImageObj = m_pCache->Get(l[kLabelStage1].GetBuffer(), 0);
    if (m_pStage1OutImageObj != nullptr) {
        m_pStage1OutImageObj->SetPriority(kPrioStage1);
        if (IsValid(m_pStage1OutImageObj)) {
            m_eMgrState = kMgrLoadCamfile;
            m_eAfterCamfileState = kMgrStage2;
            m_eEntryState = kMgrStage2;
            return;
        }
    }
    m_eMgrState = kMgrFindImages;
    m_eEntryState = kMgrFindImages;
}

// ---------------------------------------------------------------------------------------
// Shared pieces of the handlers

bool IPManager2::priCancelled()
{
    if (!m_pCurrentRequest->m_Async.IsCancelRequested())
        return false;
    m_pCurrentRequest->m_Async.Cancel();
    return true;
}

bool IPManager2::priStartRetriever(const char* busyText, int kind, intptr_t subKind, intptr_t arg)
{
    if (m_DataReq.m_Async.IsInProgress()) {
        priFailRequest(kErrException, busyText);
        return false;
    }
    m_DataReq.m_usFileName = m_pCurrentRequest->m_usFileName;
    m_DataReq.m_eKind = kind;
    m_DataReq.m_iSubKind = subKind;
    m_DataReq.m_iArg = arg;
    std::fill(std::begin(m_DataReq.m_aiResult), std::end(m_DataReq.m_aiResult), 0);
    m_DataReq.m_Async = FAsyncStatus();
    m_pDataRetriever->Request(&m_DataReq);
    return true;
}

int IPManager2::priCompleteRetriever(int fromState, int toState)
{
    priSetProgress(priProgress(fromState, toState, m_DataReq.m_Async.GetProgress()));
    const int state = m_DataReq.m_Async.GetState();
    if (state == kInProgress)
        return 0;
    if (state == kCompleted)
        return 1;
    EndAs(m_pCurrentRequest->m_Async, m_DataReq.m_Async, true);
    return -1;
}

FIDataObject* IPManager2::priTakeDataResult()
{
    FIDataObject* handle = m_DataReq.GetDataObject();
    m_DataReq.m_aiResult[0] = 0;
    return handle;
}

void IPManager2::priPostEngine(FIPERequest* request, int completionState)
{
    IPM_ASSERT(m_pIPEngineReq == nullptr);
    m_pIPEngineReq = request;
    m_pIPEngine->Request(request);
    m_eMgrState = completionState;
}

int IPManager2::priCompleteEngine(int fromState, int toState)
{
    IPM_ASSERT(m_pIPEngineReq != nullptr);
    priSetProgress(priProgress(fromState, toState, m_pIPEngineReq->m_Async.GetProgress()));
    const int state = m_pIPEngineReq->m_Async.GetState();
    if (state == kInProgress)
        return 0;
    return state == kCompleted ? 1 : -1;
}

void IPManager2::priDropEngineRequest()
{
    delete m_pIPEngineReq;
    m_pIPEngineReq = nullptr;
}

bool IPManager2::priHeldLabelIs(FCacheObject* object, int labelIndex)
{
    return object->GetLabel() == m_usLabels[labelIndex];
}

// ---------------------------------------------------------------------------------------
// Loading

void IPManager2::priFindImages()
{
    FIPManagerRequest& r = *m_pCurrentRequest;
    if (m_DataReq.m_Async.IsInProgress()) {
        priFailRequest(kErrException, "FIPManager::priFindImages: data retriever is busy!");
        return;
    }
    auto info = [&](intptr_t subKind, intptr_t arg) {
        m_DataReq.m_usFileName = r.m_usFileName;
        m_DataReq.m_eKind = kRetrieveInfo;
        m_DataReq.m_iSubKind = subKind;
        m_DataReq.m_iArg = arg;
        std::fill(std::begin(m_DataReq.m_aiResult), std::end(m_DataReq.m_aiResult), 0);
        m_DataReq.m_Async = FAsyncStatus();
        return priRetrieveNow(&r);
    };
    if (!info(kInfoImageCount, 0))
        return;
    const int count = static_cast<int>(m_DataReq.m_iArg);
    for (int index = count - 1; index >= 0; --index) {
        if (!info(kInfoImage, index))
            return;
        switch (m_DataReq.m_aiResult[2]) {
        case 1:
            m_iRawIndex = index;
            break;
        case 2:
            m_iDarkIndex = index;
            break;
        case 3:
            m_iDarkSubIndex = index;
            break;
        default:
            break;
        }
    }
    m_DataReq.m_iArg = 0;
    if ((m_iDarkIndex >= 0 && m_iRawIndex >= 0) || m_iDarkSubIndex >= 0) {
        m_eMgrState = kMgrLoadRaw;
        return;
    }
    FWideString text("Image does not contain: ");
    if (m_iDarkSubIndex < 0)
        text += "dark subtracted frame ";
    if (m_iDarkIndex < 0)
        text += "dark frame ";
    if (m_iRawIndex < 0)
        text += "raw frame";
    r.m_Async.Fail(kErrMissingImage, text);
}

void IPManager2::priLoadRaw()
{
    if (priCancelled())
        return;
    const bool darkSub = m_iDarkSubIndex >= 0;
    if (m_DataReq.m_Async.IsInProgress()) {
        priFailRequest(kErrException, "FIPManager::priLoadRaw: data retriever is busy!");
        return;
    }
    DebugTrace("Loading %s...\n", darkSub ? "darksub" : "raw");
    if (priStartRetriever("FIPManager::priLoadRaw: data retriever is busy!", kRetrieveData, kDataImage,
                          darkSub ? m_iDarkSubIndex : m_iRawIndex))
        m_eMgrState = kMgrCompleteLoadRaw;
}

void IPManager2::priCompleteLoadRaw()
{
    const int next = m_iDarkSubIndex >= 0 ? kMgrLoadCamfile : kMgrLoadDark;
    if (priCompleteRetriever(kMgrCompleteLoadRaw, next) != 1)
        return;
    m_pRawImageObj = priTakeDataResult();
    m_eMgrState = next;
}

void IPManager2::priLoadDark()
{
    if (priCancelled())
        return;
    if (m_DataReq.m_Async.IsInProgress()) {
        priFailRequest(kErrException, "FIPManager::priLoadDark: data retriever is busy!");
        return;
    }
    DebugTrace("Loading dark...\n");
    if (priStartRetriever("FIPManager::priLoadDark: data retriever is busy!", kRetrieveData, kDataImage,
                          m_iDarkIndex))
        m_eMgrState = kMgrCompleteLoadDark;
}

void IPManager2::priCompleteLoadDark()
{
    if (priCompleteRetriever(kMgrCompleteLoadDark, kMgrLoadCamfile) != 1)
        return;
    m_pDarkImageObj = priTakeDataResult();
    m_eMgrState = kMgrLoadCamfile;
}

void IPManager2::priLoadCamfile()
{
    if (priCancelled())
        return;
    FIPManagerRequest& r = *m_pCurrentRequest;
    if (!r.m_usCamfile.IsEmpty()) {
        FIFile* file = nullptr;
        try {
            file = OpenFileURL(r.m_usCamfile, kFileRead);
        } catch (const FExceptionFileIO&) {
            file = nullptr;
        } catch (const FExceptionStorageClassDoesNotExist&) {
            file = nullptr;
        }
        if (file == nullptr) {
            priFailRequest(kErrFileNotFound, "FIPManager::priLoadCamfile: external camfile not found.");
            return;
        }
        struct Closer {
            FIFile* f;
            ~Closer() { f->Release(); }
        } closer{file};
        const uint64_t size = file->GetSize();
        if (size == 0 || size > kMaxExternalCamfileBytes) {
            priFailRequest(kErrReaderFailed,
                           "FIPManager::priLoadCamfile: external camfile size out of range.");
            return;
        }
        m_pExtCamfileBuffer = new uint8_t[size];
        uint64_t done = 0;
        while (done < size) {
            const int chunk = static_cast<int>(std::min<uint64_t>(size - done, 1u << 24));
            const int n = file->Read(m_pExtCamfileBuffer + done, chunk);
            if (n <= 0)
                break;
            done += static_cast<uint64_t>(n);
        }
        if (done != size) {
            priFailRequest(kErrReaderFailed, "FIPManager::priLoadCamfile: external camfile not read whole.");
            return;
        }
        m_pCambData = new FCamdata(m_pExtCamfileBuffer, size);
        m_eMgrState = m_eAfterCamfileState;
        return;
    }
    if (priStartRetriever("FIPManager::priLoadCamfile: data retriever is busy!", kRetrieveData,
                          kDataCAMbCamfile, 0))
        m_eMgrState = kMgrCompleteLoadCamfile;
}

void IPManager2::priCompleteLoadCamfile()
{
    if (priCompleteRetriever(kMgrCompleteLoadCamfile, m_eAfterCamfileState) != 1)
        return;
    m_pCamfileDataObj = priTakeDataResult();
    m_pCambData = new FCamdata(static_cast<uint8_t*>(m_pCamfileDataObj->GetCamfileData()),
                               static_cast<size_t>(m_pCamfileDataObj->GetCamfileSize()));
    m_eMgrState = m_eAfterCamfileState;
}

// ---------------------------------------------------------------------------------------
// Stages 1 and 2

void IPManager2::priStage1Process()
{
    if (priCancelled())
        return;
    IPM_ASSERT(m_pRawImageObj != nullptr);
    FPixmap* raw = m_pRawImageObj->GetImagePixmapPtr();
    IPM_ASSERT(raw != nullptr);
    if (m_pStage1OutImageObj == nullptr) {
        // Stage 2 turns this block into its result, so a superseded stage-2 result fits.
        m_pStage1OutImageObj =
            FIPMCommon::AllocCacheImage(m_usLabels[kLabelStage1].GetBuffer(), FPixmap::PIXEL_48S_RGB,
                                        raw->GetCols(), raw->GetRows(), priRecycleLabel(kLabelStage2));
        if (m_pStage1OutImageObj == nullptr) {
            priFailRequest(kErrOutOfMemory, "IPManager2::priStage1Process:Cache allocation failed.");
            return;
        }
    }
    if (!priTryLock(m_pStage1OutImageObj, "priStage1Process"))
        return;
    // Another manager turned the block into its stage-2 result meanwhile: start again
    // and take that result from the cache.
    if (!priHeldLabelIs(m_pStage1OutImageObj, kLabelStage1)) {
        priUnlockObject(m_pStage1OutImageObj);
        m_eMgrState = kMgrInitRequest;
        return;
    }
    FIPMStageImageRecord* rec = Rec(m_pStage1OutImageObj);
    if (IsValid(m_pStage1OutImageObj)) {
        priUnlockObject(m_pStage1OutImageObj);
        m_eMgrState = kMgrStage2;
        return;
    }
    m_pStage1OutImageObj->SetPriority(kPrioStage1);
    FPixmap* out = rec->m_pPixmap;
    if (out->GetCols() != raw->GetCols() || out->GetRows() != raw->GetRows()) {
        priFailRequest(kErrReaderFailed,
                       "IPManager2::priStage1Process: frame and stage image differ in size.");
        return;
    }
    if (m_pDarkImageObj != nullptr) {
        FPixmap* dark = m_pDarkImageObj->GetImagePixmapPtr();
        if (raw->GetPixelType() != FPixmap::PIXEL_48_RGB || dark == nullptr ||
            dark->GetPixelType() != FPixmap::PIXEL_48_RGB || dark->GetCols() != raw->GetCols() ||
            dark->GetRows() != raw->GetRows()) {
            priFailRequest(kErrReaderFailed,
                           "IPManager2::priStage1Process: raw and dark frames do not match.");
            return;
        }
        auto* request = new FIPERequestStage1();
        request->m_pRawImage = static_cast<FPixmap48RGB*>(raw);
        request->m_pDarkImage = static_cast<FPixmap48RGB*>(dark);
        request->m_pCambData = m_pCambData;
        request->m_pOutImage = static_cast<FPixmap48SRGB*>(out);
        std::memcpy(request->m_ResumeState, rec->m_ResumeState, sizeof(request->m_ResumeState));
        priPostEngine(request, kMgrCompleteStage1);
        return;
    }
    // A dark-subtracted frame is the stage-1 image already.
    if (raw->GetPixelType() != FPixmap::PIXEL_48S_RGB) {
        priFailRequest(kErrReaderFailed,
                       "IPManager2::priStage1Process: dark-subtracted frame has an unexpected pixel type.");
        return;
    }
    const size_t rowBytes = static_cast<size_t>(raw->GetCols()) * 6;
    for (int y = 0; y < raw->GetRows(); ++y)
        std::memcpy(out->GetRowAddress(y), raw->GetRowAddress(y), rowBytes);
    ReleaseData(m_pRawImageObj);
    std::fill(std::begin(rec->m_aiGeometry), std::end(rec->m_aiGeometry), 0);
    SetValid(m_pStage1OutImageObj, true);
    priUnlockObject(m_pStage1OutImageObj);
    m_eMgrState = kMgrStage2;
}

void IPManager2::priCompleteStage1()
{
    const int outcome = priCompleteEngine(kMgrCompleteStage1, kMgrStage2);
    if (outcome == 0)
        return;
    ReleaseData(m_pRawImageObj);
    ReleaseData(m_pDarkImageObj);
    std::fill(std::begin(m_aiStage1Results), std::end(m_aiStage1Results), 0);
    auto* request = static_cast<FIPERequestStage1*>(m_pIPEngineReq);
    FIPMStageImageRecord* rec = Rec(m_pStage1OutImageObj);
    if (outcome == 1) {
        std::memcpy(m_aiStage1Results, request->m_aiSaturationLevel, sizeof(request->m_aiSaturationLevel));
        std::memcpy(m_aiStage1Results + 3, request->m_aiDarkShieldLevel,
                    sizeof(request->m_aiDarkShieldLevel));
        // The levels travel with the image, so that a stage 2 started from the cached
        // block gets the levels of that block and not of another file.
        std::memcpy(rec->m_aiGeometry, m_aiStage1Results, sizeof(m_aiStage1Results));
        priDropEngineRequest();
        SetValid(m_pStage1OutImageObj, true);
        priUnlockObject(m_pStage1OutImageObj);
        m_eMgrState = kMgrStage2;
        return;
    }
    std::memcpy(rec->m_ResumeState, request->m_ResumeState, sizeof(rec->m_ResumeState));
    SetValid(m_pStage1OutImageObj, false);
    priUnlockObject(m_pStage1OutImageObj);
    EndAs(m_pCurrentRequest->m_Async, request->m_Async);
    priDropEngineRequest();
}

bool IPManager2::priCachedStage2CompanionsValid()
{
    bool valid = true;
    for (int label : {kLabelStage2Rtnx, kLabelStage2RefQ7}) {
        FCacheObject* companion = m_pCache->Get(m_usLabels[label].GetBuffer(), 0);
        valid = valid && IsValid(companion);
        if (companion != nullptr)
            companion->Release();
    }
    return valid;
}

void IPManager2::priStage2Process()
{
    IPM_ASSERT(!(m_pStage1OutImageObj && m_pStage2OutImageObj));
    IPM_ASSERT(m_pStage1OutImageObj || m_pStage2OutImageObj);
    if (priCancelled())
        return;
    FIPManagerRequest& r = *m_pCurrentRequest;
    bool locked = false;
    if (m_pStage1OutImageObj != nullptr) {
        // The block is relabelled only by the manager that holds it and only while it is
        // still the stage-1 result, so no finished stage-2 result is processed twice.
        if (!priTryLock(m_pStage1OutImageObj, "priStage2Process"))
            return;
        if (!priHeldLabelIs(m_pStage1OutImageObj, kLabelStage1)) {
            priUnlockObject(m_pStage1OutImageObj);
            m_eMgrState = kMgrInitRequest;
            return;
        }
        // An older block under the stage-2 label (a result whose companions were evicted)
        // gives its label up, so that the label names one block.
        if (FCacheObject* other = m_pCache->Get(m_usLabels[kLabelStage2].GetBuffer(), 0)) {
            if (!Rec(other)->m_pMutex->Lock(0)) {
                other->Release();
                priUnlockObject(m_pStage1OutImageObj);
                DebugTrace("priStage2Process: waiting for someone else to process.\n");
                return;
            }
            // Another manager finished this stage 2 while this one waited: take its result
            // from the cache instead of running the stage again.
            if (IsValid(other) && priCachedStage2CompanionsValid()) {
                Rec(other)->m_pMutex->Unlock();
                other->Release();
                priUnlockObject(m_pStage1OutImageObj);
                m_eMgrState = kMgrInitRequest;
                return;
            }
            other->SetLabel(u"");
            other->SetPriority(0);
            Rec(other)->m_pMutex->Unlock();
            other->Release();
        }
        m_pStage1OutImageObj->SetLabel(m_usLabels[kLabelStage2].GetBuffer());
        m_pStage2OutImageObj = m_pStage1OutImageObj;
        m_pStage1OutImageObj = nullptr;
        FIPMStageImageRecord* rec = Rec(m_pStage2OutImageObj);
        SetValid(m_pStage2OutImageObj, false);
        std::fill(std::begin(rec->m_ResumeState), std::end(rec->m_ResumeState), 0u);
        rec->m_Stage2Carry = FIPEStage2Carry();
        locked = true;
    }
    FPixmap* image = Rec(m_pStage2OutImageObj)->m_pPixmap;
    const int cols = image->GetCols();
    const int rows = image->GetRows();
    if (m_pStage2OutRtnxImageObj == nullptr) {
        m_pStage2OutRtnxImageObj =
            FIPMCommon::AllocCacheImage(m_usLabels[kLabelStage2Rtnx].GetBuffer(), FPixmap::PIXEL_16S_MONO,
                                        cols, rows, priRecycleLabel(kLabelStage2Rtnx));
        if (m_pStage2OutRtnxImageObj == nullptr) {
            priFailRequest(kErrOutOfMemory,
                           "IPManager2::priStage2Process:Cache allocation failed on rtnx image.");
            return;
        }
    }
    if (m_pStage2OutRefQ7ImageObj == nullptr) {
        m_pStage2OutRefQ7ImageObj =
            FIPMCommon::AllocCacheImage(m_usLabels[kLabelStage2RefQ7].GetBuffer(), FPixmap::PIXEL_48S_RGB,
                                        cols, rows, priRecycleLabel(kLabelStage2RefQ7));
        if (m_pStage2OutRefQ7ImageObj == nullptr) {
            priFailRequest(kErrOutOfMemory,
                           "IPManager2::priStage2Process:Cache allocation failed on refQ7 image.");
            return;
        }
    }
    IPM_ASSERT(priHeldLabelIs(m_pStage2OutRtnxImageObj, kLabelStage2Rtnx));
    IPM_ASSERT(priHeldLabelIs(m_pStage2OutRefQ7ImageObj, kLabelStage2RefQ7));
    if (!locked && !priTryLock(m_pStage2OutImageObj, "priStage2Process"))
        return;
    const int next = r.m_eKind == kReqAutoSet          ? kMgrCompleteAutoSettings
                     : r.m_eKind == kReqGetGrayBalance ? kMgrCompleteGrayBalance
                                                       : kMgrStage3;
    if (IsValid(m_pStage2OutImageObj) && IsValid(m_pStage2OutRtnxImageObj) &&
        IsValid(m_pStage2OutRefQ7ImageObj)) {
        priUnlockObject(m_pStage2OutImageObj);
        m_eMgrState = next;
        return;
    }
    FPixmap* rtnx = Rec(m_pStage2OutRtnxImageObj)->m_pPixmap;
    FPixmap* ref = Rec(m_pStage2OutRefQ7ImageObj)->m_pPixmap;
    if (image->GetPixelType() != FPixmap::PIXEL_48S_RGB || rtnx->GetPixelType() != FPixmap::PIXEL_16S_MONO ||
        ref->GetPixelType() != FPixmap::PIXEL_48S_RGB || rtnx->GetCols() != cols || rtnx->GetRows() != rows ||
        ref->GetCols() != cols || ref->GetRows() != rows) {
        priFailRequest(kErrException, "IPManager2::priStage2Process: cached stage-2 images do not match.");
        return;
    }
    m_pStage2OutImageObj->SetPriority(kPrioStage2);
    m_pStage2OutRtnxImageObj->SetPriority(kPrioStage2);
    m_pStage2OutRefQ7ImageObj->SetPriority(kPrioStage2);
    FIPMStageImageRecord* rec = Rec(m_pStage2OutImageObj);
    if (rec->m_pScratch == nullptr) {
        const int64_t scratchRows = Stage2Setup::ScratchRowsNeeded(cols, rows);
        rec->m_pScratch = new FImage(cols, static_cast<int>(scratchRows), FPixmap::PIXEL_48S_RGB, 1);
    }
    auto* request = new FIPERequestStage2();
    request->m_pStage1Image = static_cast<FPixmap48SRGB*>(image);
    request->m_pRtnxImage = static_cast<FPixmap16SMono*>(rtnx);
    request->m_pStage2PreMatImage = static_cast<FPixmap48SRGB*>(ref);
    request->m_pCambData = m_pCambData;
    request->m_pCaptureProps = m_pCapturePropList;
    request->m_pTempData = static_cast<FPixmap48SRGB*>(rec->m_pScratch->GetPixmap());
    const FWideString iso = m_pCapturePropList->GetString(FWideString("ISO"), FWideString());
    if (iso.IsEmpty())
        DebugTrace("IPManager2: warning ISO property is missing or empty!  Defaulting to 100.\n");
    request->m_dISO = static_cast<double>(m_pCapturePropList->GetInt(FWideString("ISO"), 100));
    std::copy(std::begin(r.m_adNeutral), std::end(r.m_adNeutral), request->m_adInputNeutral);
    request->m_usWhiteBalance = r.m_usWhiteBalance;
    request->m_iColorSpace = r.m_iColorSpace;
    request->m_iExposureTime = m_pCapturePropList->GetInt(FWideString("EXPTIME"), 0);
    request->m_dAperture = m_pCapturePropList->GetFloat(FWideString("APERTURE"), 0.0);
    request->m_bDumpStages = r.m_bDumpStages;
    request->m_usDumpBase = r.m_usOutputFile;
    // The levels of the stage-1 result this block holds.
    std::memcpy(m_aiStage1Results, rec->m_aiGeometry, sizeof(m_aiStage1Results));
    std::memcpy(request->m_aiSaturationLevel, m_aiStage1Results, sizeof(request->m_aiSaturationLevel));
    std::memcpy(request->m_aiDarkShieldLevel, m_aiStage1Results + 3, sizeof(request->m_aiDarkShieldLevel));
    std::memcpy(request->m_ResumeState, rec->m_ResumeState, sizeof(request->m_ResumeState));
    request->m_Carry = rec->m_Stage2Carry;
    priPostEngine(request, kMgrCompleteStage2);
}

void IPManager2::priCompleteStage2()
{
    const int outcome = priCompleteEngine(kMgrCompleteStage2, kMgrStage3);
    if (outcome == 0)
        return;
    FIPManagerRequest& r = *m_pCurrentRequest;
    auto* request = static_cast<FIPERequestStage2*>(m_pIPEngineReq);
    FIPMStageImageRecord* rec = Rec(m_pStage2OutImageObj);
    std::copy(std::begin(request->m_adAutoSettings), std::end(request->m_adAutoSettings),
              rec->m_adAutoSettings);
    rec->m_dRetinex = request->m_dRetinex;
    std::copy(std::begin(request->m_adOutputNeutral), std::end(request->m_adOutputNeutral),
              rec->m_adOutputNeutral);
    rec->m_bOlderModel = request->m_bOlderModel;
    if (outcome == 1) {
        priDropEngineRequest();
        SetValid(m_pStage2OutImageObj, true);
        SetValid(m_pStage2OutRtnxImageObj, true);
        SetValid(m_pStage2OutRefQ7ImageObj, true);
        ReleaseObject(m_pStage2OutRefQ7ImageObj);
        priUnlockObject(m_pStage2OutImageObj);
        m_eMgrState = r.m_eKind == kReqAutoSet          ? kMgrCompleteAutoSettings
                      : r.m_eKind == kReqGetGrayBalance ? kMgrCompleteGrayBalance
                                                        : kMgrStage3;
        return;
    }
    ReleaseObject(m_pStage2OutRefQ7ImageObj);
    std::memcpy(rec->m_ResumeState, request->m_ResumeState, sizeof(rec->m_ResumeState));
    rec->m_Stage2Carry = request->m_Carry;
    SetValid(m_pStage2OutImageObj, false);
    SetValid(m_pStage2OutRtnxImageObj, false);
    priUnlockObject(m_pStage2OutImageObj);
    EndAs(r.m_Async, request->m_Async);
    priDropEngineRequest();
}

// ---------------------------------------------------------------------------------------
// Stage 3, tables, stage 4

bool IPManager2::priFitGeometry()
{
    FIPManagerRequest& r = *m_pCurrentRequest;
    const int cols = m_pCapturePropList->GetInt(FWideString("COLS"), 0);
    const int rows = m_pCapturePropList->GetInt(FWideString("ROWS"), 0);
    static const char* kOutOfBounds = "IPManager2::priStage3Process: Cropping rectangle out of bounds.";
    // Without a size on either side there is nothing to fit; and an empty or negative crop
    // would give no image to produce.
    if (cols <= 0 || rows <= 0 || r.m_iOutCols <= 0 || r.m_iOutRows <= 0) {
        priFailRequest(kErrInvalid, kOutOfBounds);
        return false;
    }
    const double a = static_cast<double>(rows) / static_cast<double>(cols);
    if (static_cast<double>(r.m_iOutRows) / static_cast<double>(r.m_iOutCols) > a) {
        const int v = static_cast<int>(a * r.m_iOutCols);
        if (v < r.m_iOutRows - 1) {
            DebugTrace("Reduce number of Rows in m_pCurrentRequest from %d to %d\n", r.m_iOutRows, v);
            r.m_iOutRows = v;
        }
    } else {
        const int v = static_cast<int>(r.m_iOutRows / a);
        if (v < r.m_iOutCols - 1) {
            DebugTrace("Reduce number of Cols in m_pCurrentRequest from %d to %d\n", r.m_iOutCols, v);
            r.m_iOutCols = v;
        }
    }
    FRect& c = r.m_rCrop;
    if (r.m_iOutCols <= 0 || r.m_iOutRows <= 0 || c.left >= r.m_iOutCols || c.top >= r.m_iOutRows ||
        c.right - 1 < 0 || c.bottom - 1 < 0 || c.left < 0 || c.top < 0) {
        priFailRequest(kErrInvalid, kOutOfBounds);
        return false;
    }
    if (c.right - 1 >= r.m_iOutCols)
        c.right = r.m_iOutCols;
    if (c.bottom - 1 >= r.m_iOutRows)
        c.bottom = r.m_iOutRows;
    if (c.right <= c.left || c.bottom <= c.top) {
        priFailRequest(kErrInvalid, kOutOfBounds);
        return false;
    }
    return true;
}

void IPManager2::priStage3Process()
{
    if (priCancelled())
        return;
    IPM_ASSERT(m_pStage2OutImageObj != nullptr);
    IPM_ASSERT(m_pStage2OutRtnxImageObj != nullptr);
    FIPManagerRequest& r = *m_pCurrentRequest;
    priGetCaptureProps(&r);
    if (r.m_Async.IsFinal())
        return;
    const int rotation = m_pCapturePropList->GetInt(FWideString("ROTATION"), 0);
    const int capCols = m_pCapturePropList->GetInt(FWideString("COLS"), 0);
    const int capRows = m_pCapturePropList->GetInt(FWideString("ROWS"), 0);
    if (!priFitGeometry())
        return;
    if (priStreams()) {
        m_eMgrState = kMgrToneLUT;
        return;
    }
    const int w = r.m_rCrop.Width();
    const int h = r.m_rCrop.Height();
    struct Want {
        FCacheObject** object;
        int label;
        int type;
        const char* text;
    };
    const Want wants[3] = {
        {&m_pStage3OutImageObj, kLabelStage3, FPixmap::PIXEL_48S_RGB,
         "IPManager2::priStage3Process:Cache allocation failed on stg3 image."},
        {&m_pStage3OutLImageObj, kLabelStage3L, FPixmap::PIXEL_16S_MONO,
         "IPManager2::priStage3Process:Cache allocation failed on sharpL image."},
        {&m_pStage3OutRtnxImageObj, kLabelStage3Rtnx, FPixmap::PIXEL_16S_MONO,
         "IPManager2::priStage3Process:Cache allocation failed on rtnx image."},
    };
    for (const Want& want : wants) {
        if (*want.object == nullptr) {
            *want.object = FIPMCommon::AllocCacheImage(m_usLabels[want.label].GetBuffer(), want.type, w, h,
                                                       priRecycleLabel(want.label));
            if (*want.object == nullptr) {
                priFailRequest(kErrOutOfMemory, want.text);
                return;
            }
        }
        IPM_ASSERT(priHeldLabelIs(*want.object, want.label));
        FPixmap* pm = Rec(*want.object)->m_pPixmap;
        if (pm->GetPixelType() != want.type || pm->GetCols() != w || pm->GetRows() != h) {
            priFailRequest(kErrException,
                           "IPManager2::priStage3Process: cached stage-3 image does not match.");
            return;
        }
    }
    if (!priTryLock(m_pStage3OutImageObj, "priStage3Process"))
        return;
    if (IsValid(m_pStage3OutImageObj) && IsValid(m_pStage3OutLImageObj) &&
        IsValid(m_pStage3OutRtnxImageObj)) {
        priUnlockObject(m_pStage3OutImageObj);
        m_eMgrState = kMgrToneLUT;
        return;
    }
    m_pStage3OutImageObj->SetPriority(kPrioStage3);
    m_pStage3OutLImageObj->SetPriority(kPrioStage3);
    m_pStage3OutRtnxImageObj->SetPriority(kPrioStage3);
    FIPMStageImageRecord* rec = Rec(m_pStage3OutImageObj);
    const int32_t geometry[6] = {r.m_rCrop.left,   r.m_rCrop.top, r.m_rCrop.right,
                                 r.m_rCrop.bottom, r.m_iOutCols,  r.m_iOutRows};
    std::memcpy(rec->m_aiGeometry, geometry, sizeof(geometry));
    if (rec->m_pScratch == nullptr)
        rec->m_pScratch = new FImage(w, 5, FPixmap::PIXEL_48S_RGB, 1);
    const uint8_t older = Rec(m_pStage2OutImageObj)->m_bOlderModel;
    rec->m_bOlderModel = older;
    const bool swap = rotation != 0 && rotation != 180;
    auto* request = new FIPERequestStage3();
    request->m_pStage2Image = PixmapAs<FPixmap48SRGB>(m_pStage2OutImageObj);
    request->m_pStage2ImageRtnx = PixmapAs<FPixmap16SMono>(m_pStage2OutRtnxImageObj);
    request->m_iOutCols = r.m_iOutCols;
    request->m_iOutRows = r.m_iOutRows;
    request->m_rCrop = r.m_rCrop;
    request->m_iRotation = rotation;
    request->m_iRawCols = swap ? capRows : capCols;
    request->m_iRawRows = swap ? capCols : capRows;
    request->m_pCambData = m_pCambData;
    request->m_pTempData = rec->m_pScratch->GetPixmap();
    request->m_pOutImage = PixmapAs<FPixmap48SRGB>(m_pStage3OutImageObj);
    request->m_pOutImageL = PixmapAs<FPixmap16SMono>(m_pStage3OutLImageObj);
    request->m_pOutImageRtnx = PixmapAs<FPixmap16SMono>(m_pStage3OutRtnxImageObj);
    request->m_bGreenWeighting = older;
    std::memcpy(request->m_ResumeState, rec->m_ResumeState, sizeof(request->m_ResumeState));
    priPostEngine(request, kMgrCompleteStage3);
}

void IPManager2::priCompleteStage3()
{
    const int outcome = priCompleteEngine(kMgrCompleteStage3, kMgrToneLUT);
    if (outcome == 0)
        return;
    ReleaseObject(m_pStage2OutImageObj);
    ReleaseObject(m_pStage2OutRtnxImageObj);
    if (outcome == 1) {
        priDropEngineRequest();
        SetValid(m_pStage3OutImageObj, true);
        SetValid(m_pStage3OutLImageObj, true);
        SetValid(m_pStage3OutRtnxImageObj, true);
        priUnlockObject(m_pStage3OutImageObj);
        m_eMgrState = kMgrToneLUT;
        return;
    }
    std::memcpy(Rec(m_pStage3OutImageObj)->m_ResumeState, m_pIPEngineReq->m_ResumeState,
                sizeof(m_pIPEngineReq->m_ResumeState));
    SetValid(m_pStage3OutImageObj, false);
    SetValid(m_pStage3OutLImageObj, false);
    SetValid(m_pStage3OutRtnxImageObj, false);
    priUnlockObject(m_pStage3OutImageObj);
    EndAs(m_pCurrentRequest->m_Async, m_pIPEngineReq->m_Async);
    priDropEngineRequest();
}

void IPManager2::priMakeToneLUT()
{
    if (priCancelled())
        return;
    FIPManagerRequest& r = *m_pCurrentRequest;
    if (m_pToneLUTObj == nullptr) {
        m_pToneLUTObj = FIPMCommon::AllocCacheLUT(m_usLabels[kLabelToneLUT].GetBuffer(), true);
        if (m_pToneLUTObj == nullptr) {
            priFailRequest(kErrOutOfMemory, "IPManager2::priMakeToneLUT:Cache allocation failed.");
            return;
        }
    }
    FIPMStageLUTRecord* cmipml = Lut(m_pToneLUTObj);
    IPM_ASSERT(cmipml->m_bColorLUT);
    if (!priTryLockLUT(m_pToneLUTObj, "priMakeToneLUT"))
        return;
    if (cmipml->m_bValid.load() != 0) {
        priUnlockLUT(m_pToneLUTObj);
        m_eMgrState = kMgrRetinexLUT;
        return;
    }
    m_pToneLUTObj->SetPriority(kPrioTable);
    auto* request = new FIPERequestGenerateToneLUT();
    request->m_pToneLUT = cmipml->m_pData;
    request->m_dExposure = r.m_dExposure;
    request->m_dShadow = r.m_dShadow;
    request->m_dContrast = r.m_dContrast;
    request->m_dHighlight = r.m_dHighlight;
    // A record's gains start at zero, meaning no colour adjustment was chosen; the tone
    // table needs positive gains, so that default renders as neutral gains.
    const bool gainsUnset =
        r.m_adColorAdjust[0] == 0.0 && r.m_adColorAdjust[1] == 0.0 && r.m_adColorAdjust[2] == 0.0;
    for (int c = 0; c < 3; ++c)
        request->m_adGain[c] = gainsUnset ? 1.0 : r.m_adColorAdjust[c];
    std::memcpy(request->m_ResumeState, cmipml->m_ResumeState, sizeof(request->m_ResumeState));
    priPostEngine(request, kMgrCompleteToneLUT);
}

void IPManager2::priCompleteToneLUT()
{
    const int outcome = priCompleteEngine(kMgrCompleteToneLUT, kMgrRetinexLUT);
    if (outcome == 0)
        return;
    FIPMStageLUTRecord* cmipml = Lut(m_pToneLUTObj);
    if (outcome == 1) {
        priDropEngineRequest();
        cmipml->m_bValid.store(1);
        priUnlockLUT(m_pToneLUTObj);
        m_eMgrState = kMgrRetinexLUT;
        return;
    }
    std::memcpy(cmipml->m_ResumeState, m_pIPEngineReq->m_ResumeState, sizeof(cmipml->m_ResumeState));
    cmipml->m_bValid.store(0);
    priUnlockLUT(m_pToneLUTObj);
    EndAs(m_pCurrentRequest->m_Async, m_pIPEngineReq->m_Async);
    priDropEngineRequest();
}

void IPManager2::priMakeRetinexLUT()
{
    if (priCancelled())
        return;
    if (m_pRtnxLUTObj == nullptr) {
        m_pRtnxLUTObj = FIPMCommon::AllocCacheLUT(m_usLabels[kLabelRtnxLUT].GetBuffer(), false);
        if (m_pRtnxLUTObj == nullptr) {
            priFailRequest(kErrOutOfMemory, "IPManager2::priMakeRetinexLUT:Cache allocation failed.");
            return;
        }
    }
    FIPMStageLUTRecord* cmipml = Lut(m_pRtnxLUTObj);
    IPM_ASSERT(!cmipml->m_bColorLUT);
    if (!priTryLockLUT(m_pRtnxLUTObj, "priMakeRtnxLUT"))
        return;
    if (cmipml->m_bValid.load() == 0) {
        m_pRtnxLUTObj->SetPriority(kPrioTable);
        FLUT table(cmipml->m_pData, 0x10000, false);
        MakeRetinexGainLUT(&table, m_pCurrentRequest->m_dFillLight, 256);
        cmipml->m_bValid.store(1);
    }
    priUnlockLUT(m_pRtnxLUTObj);
    m_eMgrState = kMgrStage4;
}

void IPManager2::priStage4Process()
{
    if (priStreams()) {
        priStreamOutput();
        return;
    }
    IPM_ASSERT(m_pStage3OutImageObj != nullptr);
    IPM_ASSERT(m_pStage3OutLImageObj != nullptr);
    if (priCancelled())
        return;
    FIPManagerRequest& r = *m_pCurrentRequest;
    FIPMStageImageRecord* rec3 = Rec(m_pStage3OutImageObj);
    // An older model's output matrix depends on the camera data's skip flags: a stage 3
    // taken from the cache loads the camera data first.
    if (m_pCambData == nullptr && rec3->m_bOlderModel != 0) {
        m_eAfterCamfileState = kMgrStage4;
        m_eMgrState = kMgrLoadCamfile;
        return;
    }
    const int32_t* g = rec3->m_aiGeometry;
    r.m_rCrop.Set(g[0], g[1], g[2], g[3]);
    r.m_iOutCols = g[4];
    r.m_iOutRows = g[5];
    const int type = r.m_eOutputFormat == kDisplay ? FPixmap::PIXEL_32_BGRA
                     : r.m_eOutputFormat == kRGB24 ? FPixmap::PIXEL_24_RGB
                     : r.m_eOutputFormat == kRGB48 ? FPixmap::PIXEL_48_RGB
                                                   : 0;
    if (m_pStage4OutImageObj == nullptr) {
        m_pStage4OutImageObj =
            FIPMCommon::AllocCacheImage(m_usLabels[kLabelStage4].GetBuffer(), type, r.m_rCrop.Width(),
                                        r.m_rCrop.Height(), priRecycleLabel(kLabelStage4));
        if (m_pStage4OutImageObj == nullptr) {
            priFailRequest(kErrOutOfMemory, "IPManager2::priStage4Process:Cache allocation failed.");
            return;
        }
    }
    IPM_ASSERT(priHeldLabelIs(m_pStage4OutImageObj, kLabelStage4));
    if (!priTryLock(m_pStage4OutImageObj, "priStage4Process"))
        return;
    if (IsValid(m_pStage4OutImageObj)) {
        priUnlockObject(m_pStage4OutImageObj);
        m_eMgrState = kMgrCompleteOutputImage;
        return;
    }
    FIPMStageImageRecord* rec4 = Rec(m_pStage4OutImageObj);
    FPixmap* out = rec4->m_pPixmap;
    if (out->GetPixelType() != type || out->GetCols() != r.m_rCrop.Width() ||
        out->GetRows() != r.m_rCrop.Height()) {
        priFailRequest(kErrException, "IPManager2::priStage4Process: cached stage-4 image does not match.");
        return;
    }
    m_pStage4OutImageObj->SetPriority(kPrioStage4);
    // The answer's geometry travels with the image, for requests served from it.
    std::memcpy(rec4->m_aiGeometry, rec3->m_aiGeometry, sizeof(rec4->m_aiGeometry));
    IPM_ASSERT(m_pToneLUTObj != nullptr);
    IPM_ASSERT(Lut(m_pToneLUTObj)->m_bColorLUT);
    IPM_ASSERT(m_pRtnxLUTObj != nullptr);
    IPM_ASSERT(!Lut(m_pRtnxLUTObj)->m_bColorLUT);
    auto* request = new FIPERequestStage4();
    request->m_pStage3Image = PixmapAs<FPixmap48SRGB>(m_pStage3OutImageObj);
    request->m_pStage3ImageL = PixmapAs<FPixmap16SMono>(m_pStage3OutLImageObj);
    request->m_pStage3ImageRtnx = PixmapAs<FPixmap16SMono>(m_pStage3OutRtnxImageObj);
    request->m_pOutImage = out;
    request->m_pToneLUT = Lut(m_pToneLUTObj)->m_pData;
    request->m_pRtnxLUT = Lut(m_pRtnxLUTObj)->m_pData;
    request->m_dSharpness = r.m_dSharpness;
    request->m_dSaturation = r.m_dSaturation;
    request->m_iColorSpace = r.m_iColorSpace;
    request->m_bOlderModel = rec3->m_bOlderModel;
    request->m_pCambData = m_pCambData;
    std::memcpy(request->m_ResumeState, rec4->m_ResumeState, sizeof(request->m_ResumeState));
    priPostEngine(request, kMgrCompleteStage4);
}

void IPManager2::priCompleteStage4()
{
    if (priStreams()) {
        priCompleteStreamOutput();
        return;
    }
    const int outcome = priCompleteEngine(kMgrCompleteStage4, kMgrCompleteOutputImage);
    if (outcome == 0)
        return;
    ReleaseObject(m_pStage3OutImageObj);
    ReleaseObject(m_pStage3OutLImageObj);
    ReleaseObject(m_pStage3OutRtnxImageObj);
    ReleaseObject(m_pToneLUTObj);
    ReleaseObject(m_pRtnxLUTObj);
    if (outcome == 1) {
        priDropEngineRequest();
        SetValid(m_pStage4OutImageObj, true);
        priUnlockObject(m_pStage4OutImageObj);
        m_eMgrState = kMgrCompleteOutputImage;
        return;
    }
    std::memcpy(Rec(m_pStage4OutImageObj)->m_ResumeState, m_pIPEngineReq->m_ResumeState,
                sizeof(m_pIPEngineReq->m_ResumeState));
    SetValid(m_pStage4OutImageObj, false);
    priUnlockObject(m_pStage4OutImageObj);
    EndAs(m_pCurrentRequest->m_Async, m_pIPEngineReq->m_Async);
    priDropEngineRequest();
}

bool IPManager2::priStreams() const
{
    return m_pCurrentRequest != nullptr && m_pCurrentRequest->m_eKind == kReqProcessed &&
           static_cast<bool>(m_pCurrentRequest->m_WriteRows);
}

void IPManager2::priStreamOutput()
{
    IPM_ASSERT(m_pStage2OutImageObj != nullptr);
    IPM_ASSERT(m_pStage2OutRtnxImageObj != nullptr);
    if (priCancelled())
        return;
    if (m_pCambData == nullptr) {
        m_eAfterCamfileState = kMgrStage4;
        m_eMgrState = kMgrLoadCamfile;
        return;
    }
    FIPManagerRequest& r = *m_pCurrentRequest;
    const uint8_t older = Rec(m_pStage2OutImageObj)->m_bOlderModel;
    const int rotation = m_pCapturePropList->GetInt(FWideString("ROTATION"), 0);
    const int capCols = m_pCapturePropList->GetInt(FWideString("COLS"), 0);
    const int capRows = m_pCapturePropList->GetInt(FWideString("ROWS"), 0);
    const bool swap = rotation != 0 && rotation != 180;
    IPM_ASSERT(m_pToneLUTObj != nullptr && Lut(m_pToneLUTObj)->m_bColorLUT);
    IPM_ASSERT(m_pRtnxLUTObj != nullptr && !Lut(m_pRtnxLUTObj)->m_bColorLUT);
    auto* request = new FIPERequestStreamOutput();
    FIPERequestStage3& s3 = request->m_Stage3;
    s3.m_pStage2Image = PixmapAs<FPixmap48SRGB>(m_pStage2OutImageObj);
    s3.m_pStage2ImageRtnx = PixmapAs<FPixmap16SMono>(m_pStage2OutRtnxImageObj);
    s3.m_iOutCols = r.m_iOutCols;
    s3.m_iOutRows = r.m_iOutRows;
    s3.m_rCrop = r.m_rCrop;
    s3.m_iRotation = rotation;
    s3.m_iRawCols = swap ? capRows : capCols;
    s3.m_iRawRows = swap ? capCols : capRows;
    s3.m_pCambData = m_pCambData;
    s3.m_bGreenWeighting = older;
    FIPERequestStage4& s4 = request->m_Stage4;
    s4.m_pToneLUT = Lut(m_pToneLUTObj)->m_pData;
    s4.m_pRtnxLUT = Lut(m_pRtnxLUTObj)->m_pData;
    s4.m_dSharpness = r.m_dSharpness;
    s4.m_dSaturation = r.m_dSaturation;
    s4.m_iColorSpace = r.m_iColorSpace;
    s4.m_bOlderModel = older;
    s4.m_pCambData = m_pCambData;
    request->m_iOutputType = r.m_eOutputFormat == kDisplay ? FPixmap::PIXEL_32_BGRA
                             : r.m_eOutputFormat == kRGB24 ? FPixmap::PIXEL_24_RGB
                                                           : FPixmap::PIXEL_48_RGB;
    request->m_WriteRows = r.m_WriteRows;
    priPostEngine(request, kMgrCompleteStage4);
}

void IPManager2::priCompleteStreamOutput()
{
    const int outcome = priCompleteEngine(kMgrCompleteStage4, kMgrCompleteOutputImage);
    if (outcome == 0)
        return;
    ReleaseObject(m_pStage2OutImageObj);
    ReleaseObject(m_pStage2OutRtnxImageObj);
    ReleaseObject(m_pToneLUTObj);
    ReleaseObject(m_pRtnxLUTObj);
    if (outcome == 1) {
        priDropEngineRequest();
        m_pCurrentRequest->m_Async.Complete();
        m_eMgrState = kMgrIdle;
        return;
    }
    EndAs(m_pCurrentRequest->m_Async, m_pIPEngineReq->m_Async);
    priDropEngineRequest();
}

// ---------------------------------------------------------------------------------------
// The answers

void IPManager2::priCompleteOutputImage()
{
    IPM_ASSERT(m_pStage4OutImageObj != nullptr);
    FIPManagerRequest& r = *m_pCurrentRequest;
    const int32_t* g = Rec(m_pStage4OutImageObj)->m_aiGeometry;
    r.m_rCrop.Set(g[0], g[1], g[2], g[3]);
    r.m_iOutCols = g[4];
    r.m_iOutRows = g[5];
    r.ReleaseOutputImage();
    r.m_pOutputImage = new FIPMCommon::Image(m_pStage4OutImageObj);
    ReleaseObject(m_pStage4OutImageObj);
    r.m_Async.Complete();
    m_eMgrState = kMgrIdle;
}

void IPManager2::priCompleteAutoSettings()
{
    IPM_ASSERT(m_pStage2OutImageObj != nullptr);
    FIPManagerRequest& r = *m_pCurrentRequest;
    const FIPMStageImageRecord* rec = Rec(m_pStage2OutImageObj);
    r.m_dExposure = rec->m_adAutoSettings[0];
    r.m_dShadow = rec->m_adAutoSettings[1];
    r.m_dContrast = rec->m_adAutoSettings[2];
    r.m_dHighlight = rec->m_adAutoSettings[3];
    r.m_dSaturation = rec->m_adAutoSettings[4];
    r.m_dFillLight = rec->m_dRetinex;
    std::copy(std::begin(rec->m_adOutputNeutral), std::end(rec->m_adOutputNeutral), r.m_adColorAdjust);
    r.m_Async.Complete();
    m_eMgrState = kMgrIdle;
}

FRect IPManager2::GrayBox(int x, int y, int cols, int rows)
{
    return FRect(std::max(x - 4, 0), std::max(y - 4, 0), std::min(x + 4, cols), std::min(y + 4, rows));
}

void IPManager2::priCompleteGetGrayBalance()
{
    IPM_ASSERT(m_pStage2OutImageObj != nullptr);
    IPM_ASSERT(m_pCambData != nullptr);
    FIPManagerRequest& r = *m_pCurrentRequest;
    const int capCols = m_pCapturePropList->GetInt(FWideString("COLS"), 0);
    const int capRows = m_pCapturePropList->GetInt(FWideString("ROWS"), 0);
    const int rotation = m_pCapturePropList->GetInt(FWideString("ROTATION"), 0);
    static const char* kNoBox =
        "IPManager2::priCompleteGetGrayBalance: gray point outside the image or without signal.";
    FRect box = GrayBox(r.m_ptGray.x, r.m_ptGray.y, capCols, capRows);
    if (capCols <= 0 || capRows <= 0 || box.right <= box.left || box.bottom <= box.top) {
        priFailRequest(kErrInvalid, kNoBox);
        return;
    }
    int cols = capCols;
    int rows = capRows;
    FIPMCommon::TurnRect(box, cols, rows, -static_cast<double>(rotation));
    FRect keep, active;
    GetCamdataRect(keep, "KeepImageArea", *m_pCambData);
    GetCamdataRect(active, "ActiveImageArea", *m_pCambData);
    FPixmap* pm = Rec(m_pStage2OutImageObj)->m_pPixmap;
    IPM_ASSERT(pm != nullptr && pm->GetPixelType() == FPixmap::PIXEL_48S_RGB);
    if (pm->GetCols() == keep.Width() && pm->GetRows() == keep.Height())
        active.OffsetFrom(keep.left, keep.top);
    if (cols <= 0 || rows <= 0 || active.Width() <= 0 || active.Height() <= 0) {
        priFailRequest(kErrInvalid, kNoBox);
        return;
    }
    const double sx = static_cast<double>(active.Width()) / cols;
    const double sy = static_cast<double>(active.Height()) / rows;
    const int left = std::clamp(active.left + static_cast<int>(sx * box.left), 0, pm->GetCols());
    const int top = std::clamp(active.top + static_cast<int>(sy * box.top), 0, pm->GetRows());
    const int right = std::clamp(active.left + static_cast<int>(sx * box.right), 0, pm->GetCols());
    const int bottom = std::clamp(active.top + static_cast<int>(sy * box.bottom), 0, pm->GetRows());
    double sum[3] = {0.0, 0.0, 0.0};
    const auto* image = static_cast<FPixmap48SRGB*>(pm);
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const int16_t* p = image->GetPixel(x, y);
            sum[0] += p[0];
            sum[1] += p[1];
            sum[2] += p[2];
        }
    }
    // An empty or black box has no colour to balance.
    if (!(sum[0] > 0.0 && sum[1] > 0.0 && sum[2] > 0.0)) {
        priFailRequest(kErrInvalid, kNoBox);
        return;
    }
    const double y = 0.3 * sum[0] + 0.55 * sum[1] + 0.15 * sum[2];
    r.m_adColorAdjust[0] = y / sum[0];
    r.m_adColorAdjust[1] = y / sum[1];
    r.m_adColorAdjust[2] = y / sum[2];
    r.m_Async.Complete();
    m_eMgrState = kMgrIdle;
}

void IPManager2::priCompleteGetIlluminants()
{
    IPM_ASSERT(m_pCambData != nullptr);
    FIPManagerRequest& r = *m_pCurrentRequest;
    if (r.m_pImageProps == nullptr) {
        priFailRequest(kErrInvalid, "IPManager2::priCompleteGetIlluminants: Property list ptr is NULL.");
        return;
    }
    m_pCambData->GetPropertyList("WhiteBalanceIlluminants", r.m_pImageProps);
    const bool hasAuto = m_pCambData->GetMatrix("AutoRGBNeutral", 3, 0, nullptr) != nullptr;
    const bool hasCustom = m_pCambData->GetMatrix("CustomRGBNeutral", 3, 0, nullptr) != nullptr;
    FPropPair* pair = r.m_pImageProps->GetFirstProp();
    while (pair != nullptr) {
        FPropPair* next = pair->GetNext();
        pair->SetValue(FWideString());
        if ((!hasAuto && pair->GetName() == "Auto") || (!hasCustom && pair->GetName() == "Custom"))
            r.m_pImageProps->RemoveProp(pair);
        pair = next;
    }
    r.m_Async.Complete();
    m_eMgrState = kMgrIdle;
}

FIPManager* CreateIPManager2()
{
    try {
        return new IPManager2();
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const FException&) {
        return nullptr;
    }
}
