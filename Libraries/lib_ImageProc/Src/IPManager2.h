#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "FDataRetriever.h"
#include "FIPManager.h"
#include "FRect.h"
#include "FStopwatch.h"
#include "FWideString.h"

class FCache;
class FCacheObject;
class FCamdata;
class FImage;
class FNonRawColor;
class FNonRawRenderer;
class FIIPEngine2;
class FIPERequest;
class FPropList;
class IPManager2;

// States of the manager's stage machine. A handler that leaves the state unchanged is
// waiting (for the engine, the retriever, or a stage object another manager computes).
enum FIPMgrState : int {
    kMgrIdle = 0,
    kMgrInitRequest = 1,
    kMgrFindImages = 2,
    kMgrLoadRaw = 3,
    kMgrCompleteLoadRaw = 4,
    kMgrLoadDark = 5,
    kMgrCompleteLoadDark = 6,
    kMgrLoadCamfile = 7,
    kMgrCompleteLoadCamfile = 8,
    kMgrStage1 = 9,
    kMgrCompleteStage1 = 10,
    kMgrStage2 = 11,
    kMgrCompleteStage2 = 12,
    kMgrStage3 = 13,
    kMgrCompleteStage3 = 14,
    kMgrToneLUT = 15,
    kMgrCompleteToneLUT = 16,
    kMgrRetinexLUT = 17,
    kMgrStage4 = 18,
    kMgrCompleteStage4 = 19,
    kMgrCompleteOutputImage = 20,
    kMgrCompleteAutoSettings = 21,
    kMgrCompleteGrayBalance = 22,
    kMgrCompleteIlluminants = 23,
    // A picture that is not a raw capture: loaded, then rendered in time slices.
    kMgrNonRawLoad = 24,
    kMgrNonRawRender = 25,
    kMgrStateCount = 26,
};

// Cache priorities of the stage objects.
enum FIPMStagePriority : unsigned {
    kPrioStage1 = 5,
    kPrioStage2 = 30,
    kPrioStage2Demoted = 15,
    kPrioStage3 = 10,
    kPrioStage3Demoted = 3,
    kPrioStage4 = 20,
    kPrioStage4Demoted = 4,
    kPrioTable = 10,
    kPrioTableDemoted = 2,
    kPrioCaptureProps = 3,
    kPrioPartialView = 0,
};

// The face an IPManager2 shows its own preview and save managers: requests sent here go
// straight to the parent's stage machine, past its test for pending sub-requests.
class FIPManagerPrivate : public FIPManager
{
public:
    explicit FIPManagerPrivate(IPManager2* parent) : m_pParent(parent) {}

    // True while the parent's stage machine holds a request.
    bool IsBusy() override;
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

    IPManager2* GetParent() const { return m_pParent; }

private:
    IPManager2* m_pParent;
};

// The working manager: answers properties, modify and kind-0 requests at once, hands
// preview and save requests to its sub-managers, and runs the processing kinds (3, 5, 7,
// 8) on a stage machine that advances in time slices of about 10 ms per Idle, starting at
// the last stage whose result the process-wide cache already holds. Neither Idle nor
// Request waits for the engine or the loaders: a caller with nothing else to do waits with
// WaitForIPWork.
class IPManager2 : public FIPManager
{
public:
    IPManager2();
    // A request still on the machine ends as cancelled; nothing a running engine request
    // uses is released before the engine lets go of it.
    ~IPManager2() override;
    IPManager2(const IPManager2&) = delete;
    IPManager2& operator=(const IPManager2&) = delete;

    bool IsBusy() override;
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

    // As Request, without the test for pending preview and save requests. A request from
    // outside (`startNow` false) only waits for the next Idle; a sub-manager's own request
    // starts at once, as the sub-managers expect.
    void priRequest(FIPManagerRequest* request, bool startNow = true);

    // Progress of the current request between two states: the weighted fraction done,
    // counted from the entry state and kept within [0, 1].
    double priProgress(int fromState, int toState, double fraction) const;

    FIDataRetriever* GetDataRetriever() const { return m_pDataRetriever; }
    FIIPEngine2* GetEngine() const { return m_pIPEngine; }
    int GetMgrState() const { return m_eMgrState; }
    bool HasCurrentRequest() const { return m_pCurrentRequest != nullptr; }
    int GetEntryState() const { return m_eEntryState; }

    // Called with every state a handler is about to run, once per run (tests and tracing).
    using FStateObserver = std::function<void(int state)>;
    void SetStateObserver(FStateObserver observer) { m_StateObserver = std::move(observer); }

    // The labels of the last stage-machine request, by field.
    enum LabelIndex : int {
        kLabelStage1 = 0,
        kLabelStage2,
        kLabelStage2Rtnx,
        kLabelStage2RefQ7,
        kLabelStage3,
        kLabelStage3L,
        kLabelStage3Rtnx,
        kLabelStage4,
        kLabelToneLUT,
        kLabelGammaLUT,
        kLabelRtnxLUT,
        kLabelCount,
    };
    const FWideString& GetLabel(int index) const;

    // The 9 x 9 box around a gray point, clipped to an image of cols x rows (capture
    // orientation); empty when the point lies outside.
    static FRect GrayBox(int x, int y, int cols, int rows);

private:
    // Requests answered at once or handed on.
    void priHandlePropertiesRequest(FIPManagerRequest* request);
    void priHandleModifyRequest(FIPManagerRequest* request);
    void priHandlePreviewRequest(FIPManagerRequest* request, bool startNow);
    void priHandleSaveRequest(FIPManagerRequest* request);
    void priStartRequest(FIPManagerRequest* request, bool startNow);

    // Blocking retriever calls.
    void priGetUniqueID(FIPManagerRequest* request, FWideString& uniqueId);
    void priGetCaptureProps(FIPManagerRequest* request);
    bool priRetrieveNow(FIPManagerRequest* request);

    // One pass of the stage machine.
    void priProcessIdle();
    void priEndRequestWithException(int code, const FWideString& text);
    void priCleanup();
    void priUnlockHeld();

    // Labels, priorities and reuse.
    void priInitRequest();
    // The output format checked, a partial view noted, the capture properties loaded;
    // false when the request ended.
    bool priPrepareOutputRequest();
    void priBuildLabels(const FWideString& uniqueId, const FWideString& wbDesc, int rotation);
    void priRenameLabel(int index, unsigned priority);
    // The superseded block a new block of the stage under `index` may take over.
    const char16_t* priRecycleLabel(int index) const;

    // Handlers: loading, stages 1 and 2.
    void priFindImages();
    void priLoadRaw();
    void priCompleteLoadRaw();
    void priLoadDark();
    void priCompleteLoadDark();
    void priLoadCamfile();
    void priCompleteLoadCamfile();
    void priStage1Process();
    void priCompleteStage1();
    bool priCachedStage2CompanionsValid();
    void priStage2Process();
    void priCompleteStage2();

    // Handlers: stage 3, tables, stage 4 and the answers.
    void priStage3Process();
    void priCompleteStage3();
    void priMakeToneLUT();
    void priCompleteToneLUT();
    void priMakeRetinexLUT();
    void priStage4Process();
    void priCompleteStage4();
    // A processed request with a row sink: stages 3 and 4 in strips straight to the sink.
    bool priStreams() const;
    void priStreamOutput();
    void priCompleteStreamOutput();
    void priCompleteOutputImage();
    void priCompleteAutoSettings();
    void priCompleteGetGrayBalance();
    void priCompleteGetIlluminants();

    // Shared pieces of the handlers.
    bool priCancelled();
    bool priStartRetriever(const char* busyText, int kind, intptr_t subKind, intptr_t arg);
    // 1 done (result taken), 0 waiting, -1 failed (request ended).
    int priCompleteRetriever(int fromState, int toState);
    void priPostEngine(FIPERequest* request, int completionState);
    // 1 completed, 0 waiting, -1 failed (request ended, engine request deleted).
    int priCompleteEngine(int fromState, int toState);
    void priSetProgress(double progress);
    FIDataObject* priTakeDataResult();
    void priDropEngineRequest();
    bool priHeldLabelIs(FCacheObject* object, int labelIndex);
    // Try-locks without waiting; false (with the handler's waiting trace) when another
    // manager holds the object.
    bool priTryLock(FCacheObject* object, const char* waitTrace);
    bool priTryLockLUT(FCacheObject* object, const char* waitTrace);
    void priLockHeld(FCacheObject* object);
    void priUnlockObject(FCacheObject* object);
    void priUnlockLUT(FCacheObject* object);
    void priFailRequest(int code, const char* text);
    void priFinishRequest();
    bool priFitGeometry();

    // JPEG and TIFF files: no frames to develop, only the output steps.
    void priInitNonRawRequest(const FWideString& uniqueId);
    void priNonRawLoad();
    void priNonRawRender();
    bool priNonRawPrepare();
    void priCleanupNonRaw();

    // The handler of a state from 1 to 25.
    void priRunHandler(int state);

    FIPManager* m_pSaveManager = nullptr;
    FIPManager* m_pPreviewManager = nullptr;
    FIPManagerPrivate* m_pPrivate = nullptr;
    FStopwatch m_Stopwatch;
    FIPManagerRequest* m_pCurrentRequest = nullptr;
    FIPManagerRequest* m_pSaveRequest = nullptr;
    FIPManagerRequest* m_pPreviewRequest = nullptr;
    FCache* m_pCache = nullptr;
    FIDataRetriever* m_pDataRetriever = nullptr;
    FIIPEngine2* m_pIPEngine = nullptr;
    FDataRetrieverRequest m_DataReq;
    FIPERequest* m_pIPEngineReq = nullptr;
    int m_eMgrState = kMgrIdle;
    int m_eAfterCamfileState = kMgrStage1;
    int m_eEntryState = kMgrFindImages;
    int m_iRawIndex = -1;
    int m_iDarkIndex = -1;
    int m_iDarkSubIndex = -1;
    FIDataObject* m_pRawImageObj = nullptr;
    FIDataObject* m_pDarkImageObj = nullptr;
    FIDataObject* m_pCamfileDataObj = nullptr;
    uint8_t* m_pExtCamfileBuffer = nullptr;
    FCacheObject* m_pStage1OutImageObj = nullptr;
    FCacheObject* m_pStage2OutImageObj = nullptr;
    FCacheObject* m_pStage2OutRefQ7ImageObj = nullptr;
    FCacheObject* m_pStage2OutRtnxImageObj = nullptr;
    FCacheObject* m_pStage3OutImageObj = nullptr;
    FCacheObject* m_pStage3OutLImageObj = nullptr;
    FCacheObject* m_pStage3OutRtnxImageObj = nullptr;
    FCacheObject* m_pStage4OutImageObj = nullptr;
    FCacheObject* m_pToneLUTObj = nullptr;
    FCacheObject* m_pGammaLUTObj = nullptr;
    FCacheObject* m_pRtnxLUTObj = nullptr;
    FCacheObject* m_pCapturePropsObj = nullptr;
    FPropList* m_pCapturePropList = nullptr;
    FWideString m_usLabels[kLabelCount];
    FWideString m_usPrevLabels[kLabelCount];
    // Per stage, the result the last change of settings replaced (kept, so that going back
    // is cheap) and the one before it, whose block the next new result of the stage takes.
    FWideString m_usSupersededLabels[kLabelCount];
    FWideString m_usRecycleLabels[kLabelCount];
    FCamdata* m_pCambData = nullptr;
    int32_t m_aiStage1Results[6] = {};
    // Stage objects whose mutex this manager holds, so that no ending leaves one locked.
    FCacheObject* m_apLocked[4] = {};
    bool m_bPartialView = false;
    bool m_bInIdle = false;
    FStateObserver m_StateObserver;
    FWideString m_usNonRawLabel;
    int m_iNonRawRotation = 0;
    bool m_bNonRawMirror = false;
    int m_iNonRawRow = 0;
    FImage* m_pNonRawSource = nullptr;
    std::shared_ptr<const FNonRawColor> m_pNonRawColor;
    std::unique_ptr<FNonRawRenderer> m_pNonRawRenderer;
};
