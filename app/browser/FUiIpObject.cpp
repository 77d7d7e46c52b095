#include "FUiIpObject.h"

#include <algorithm>
#include <utility>

#include "ColorCompensation.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIStorageClass.h"
#include "FIpFileCopy.h"
#include "FNarrowString.h"
#include "FPropList.h"
#include "FUiIpObjectRequest.h"
#include "FUiObjectFactory.h"
#include "ImagePropKeys.h"
#include "StorageClassRegistry.h"

namespace
{

FIpUpdateImageSender& UpdateImageSender()
{
    static FIpUpdateImageSender sender;
    return sender;
}

// The destructor waits this long for a cancelled manager request to end.
constexpr std::chrono::seconds kDestructorWait{60};

class FUiIpObjectCreator final : public FIUiObjectCreator
{
public:
    explicit FUiIpObjectCreator(FIPManager* manager) : m_pManager(manager) {}
    FIUiObject* CreateUiObject(const char* typeName) override
    {
        return new FUiIpObject(typeName, m_pManager);
    }

private:
    FIPManager* m_pManager;
};

FUiIpObjectFileReq* FileReq(FUiIpObjectRequest* request)
{
    return static_cast<FUiIpObjectFileReq*>(request);
}

void SetStatus(FAsyncStatus& status, int state, int errorCode)
{
    status.m_iErrorCode.store(errorCode, std::memory_order_release);
    status.SetState(state);
}

void SettingsToManager(const ProcessingSettings& settings, FIPManagerRequest& request)
{
    request.m_dExposure = settings.Exposure;
    request.m_dShadow = settings.Blackness;
    request.m_dContrast = settings.Contrast;
    request.m_dHighlight = settings.Highlight;
    request.m_dSaturation = settings.Saturation;
    request.m_dSharpness = settings.Sharpness;
    request.m_dFillLight = settings.Retinex;
    request.m_adColorAdjust[0] = settings.ColorAdjustR;
    request.m_adColorAdjust[1] = settings.ColorAdjustG;
    request.m_adColorAdjust[2] = settings.ColorAdjustB;
}

// The colour space stays as it was.
void SettingsFromManager(const FIPManagerRequest& request, ProcessingSettings& settings)
{
    settings.Exposure = request.m_dExposure;
    settings.Blackness = request.m_dShadow;
    settings.Contrast = request.m_dContrast;
    settings.Highlight = request.m_dHighlight;
    settings.Saturation = request.m_dSaturation;
    settings.Sharpness = request.m_dSharpness;
    settings.Retinex = request.m_dFillLight;
    settings.ColorAdjustR = request.m_adColorAdjust[0];
    settings.ColorAdjustG = request.m_adColorAdjust[1];
    settings.ColorAdjustB = request.m_adColorAdjust[2];
}

void AddImageProp(FIPManagerRequest& request, const char* name, const FWideString& value)
{
    if (!request.m_pImageProps)
        request.m_pImageProps = new FPropList(nullptr, "ImageProps");
    request.m_pImageProps->AddProp(FWideString(name), value);
}

bool IsAutoSetFirst(const FUiIpObjectRequest* request)
{
    return request->m_eKind == kUiReqProcAndSave &&
           static_cast<const FUiIpObjectProcAndSaveReq*>(request)->m_bAutoSetFirst;
}

} // namespace

bool RegisterIpObjectCreator(FIUiObjectFactory* factory, FIPManager* manager)
{
    if (!factory)
        return false;
    auto* creator = new FUiIpObjectCreator(manager);
    if (factory->Register("IP_OBJECT2", creator))
        return true;
    delete creator;
    return false;
}

FIpUpdateImageSender SetIpUpdateImageSender(FIpUpdateImageSender sender)
{
    return std::exchange(UpdateImageSender(), std::move(sender));
}

FUiIpObject::FUiIpObject(const char* typeName, FIPManager* manager) : FUiObject(typeName)
{
    if (manager) {
        m_pIpMgr = manager;
    } else {
        m_pIpMgr = GetIPManagerPool();
        m_bHoldsPool = m_pIpMgr != nullptr;
    }
    m_pOnUpdateImage = AddEvent(FWideString("ON_UPDATE_IMAGE"));
    AddEvent(FWideString("ON_PANIC"));
}

FUiIpObject::~FUiIpObject()
{
    if (m_pCurReq && m_bCopying) {
        priStopCopy();
        try {
            priFinishPlain(kCancelled);
        } catch (...) {
            m_pCurReq = nullptr;
        }
    }
    if (m_pCurReq) {
        m_IpMgrReq.m_Async.RequestCancel();
        m_bCancelPending = true;
        const auto deadline = std::chrono::steady_clock::now() + kDestructorWait;
        for (int count = 0; m_pCurReq; ++count) {
            DebugTrace("---FUiIpObject::~FUiIpObject() looping until idle. [%d]\n", count);
            try {
                Tick(0);
            } catch (...) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                DebugTrace("FUiIpObject::~FUiIpObject() gave up waiting for the manager\n");
                break;
            }
        }
    }
    priStopCopy();
    if (m_bHoldsPool)
        ReleaseIPManager(&m_pIpMgr);
}

bool FUiIpObject::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

void FUiIpObject::SetCopyBudget(std::chrono::microseconds budget, int maxPieces)
{
    m_CopyBudget = budget;
    m_nCopyMaxPieces = maxPieces;
    // What is left of a tick spent under the old budget does not carry over.
    m_bChainOpen = false;
}

// Also busy while a finished request waits for its answer: someone else may tick the pool.
bool FUiIpObject::priIsBusy() const
{
    return m_pCurReq || m_bCopying || m_IpMgrReq.m_Async.GetState() == kInProgress;
}

bool FUiIpObject::UiRelayMessage(const FWideString& message, void* data)
{
    if (!(message == "IpRequest") || !data)
        return false;
    auto* request = static_cast<FUiIpObjectRequest*>(data);
    if (priIsBusy()) {
        DebugTrace("FUiIpObject::UiRelayMessage(IpRequest) BUSY!\n");
        SetStatus(request->m_Async, kError, kErrBusy);
        FNarrowString text("FUiIpObject::UiRelayMessage() %s FAILING! we're already busy!",
                           m_usFullName.GetNarrow());
        throw FExceptionUiScript(text.GetCString());
    }
    if (request->m_nTag != kUiIpRequestTag)
        throw FExceptionUiScript("FUiIpObject::UiRelayMessage() FAILING! invalid IdRequest data!");
    if (!request->m_pReturnRelay) {
        DebugTrace("FUiIpObject::UiRelayMessage(IpRequest) no return relay.\n");
        SetStatus(request->m_Async, kError, kErrInvalid);
        throw FExceptionUiScript("FUiIpObject::UiRelayMessage() FAILING! IpRequest wo/return relay!");
    }
    if (static_cast<unsigned>(request->m_eKind) > static_cast<unsigned>(kUiReqLast)) {
        DebugTrace("FUiIpObject::UiRelayMessage(IpRequest) unknown request\n");
        SetStatus(request->m_Async, kError, kErrUnsupported);
        return false;
    }
    if (!m_pIpMgr && request->m_eKind != kUiReqCopy) {
        DebugTrace("FUiIpObject::UiRelayMessage(IpRequest) no image-processing manager\n");
        SetStatus(request->m_Async, kError, kErrInvalid);
        return false;
    }
    const bool chain = m_bChainOpen && request->m_eKind == kUiReqCopy;
    m_bChainOpen = false;
    if (priDispatch(request)) {
        priAfterIntake(request);
        if (chain && m_bCopying && m_pCurReq == request && priBudgetLeft())
            priCopyWithinTick();
    }
    return false;
}

bool FUiIpObject::priDispatch(FUiIpObjectRequest* request)
{
    switch (static_cast<FUiIpRequestKind>(request->m_eKind)) {
    case kUiReqProps:
        return priBeginFileRequest(request, "FUiIpObject::priInitiatePropsReq() given an empty filename\n",
                                   kReqProperties) &&
               priSubmit(request);
    case kUiReqPreview: {
        if (!priBeginFileRequest(request, "FUiIpObject::priInitiatePreviewReq() given an empty filename\n",
                                 kReqPreview))
            return false;
        const auto* preview = static_cast<FUiIpObjectPreviewReq*>(request);
        m_IpMgrReq.m_eOutputFormat = kDisplay;
        m_IpMgrReq.m_iOutCols = preview->m_nOutCols;
        m_IpMgrReq.m_iOutRows = preview->m_nOutRows;
        m_IpMgrReq.m_rCrop = preview->m_rCrop;
        m_IpMgrReq.m_iColorSpace = preview->m_nColorSpace;
        return priSubmit(request);
    }
    case kUiReqMark:
    case kUiReqLock:
    case kUiReqRotate: {
        static const char* const kEmptyLogs[] = {
            "FUiIpObject::priInitiateMarkReq() given an empty filename\n",
            "FUiIpObject::priInitiateLockReq() given an empty filename\n",
            "FUiIpObject::priInitiateRotateReq() given an empty filename\n",
        };
        const int index = request->m_eKind - kUiReqMark;
        if (!priBeginFileRequest(request, kEmptyLogs[index], kReqModify))
            return false;
        const bool flag = static_cast<FUiIpObjectFlagReq*>(request)->m_bFlag;
        if (request->m_eKind == kUiReqRotate)
            AddImageProp(m_IpMgrReq, "ROTATION", FWideString(flag ? "+90" : "-90"));
        else
            AddImageProp(m_IpMgrReq, request->m_eKind == kUiReqMark ? "MARKBITS" : "LOCK",
                         FWideString(flag ? "1" : "0"));
        return priSubmit(request);
    }
    case kUiReqWhiteBal:
        return priInitiateWhiteBalReq(request);
    case kUiReqAutoSet:
        return priBeginFileRequest(request, "FUiIpObject::priInitiateAutoSetReq() given an empty filename\n",
                                   kReqAutoSet) &&
               priSubmit(request);
    case kUiReqProcessed: {
        if (!priBeginFileRequest(request, "FUiIpObject::priInitiateProcessedReq() given an empty filename\n",
                                 kReqProcessed))
            return false;
        const auto* processed = static_cast<FUiIpObjectProcessedReq*>(request);
        m_IpMgrReq.m_eOutputFormat = kDisplay;
        m_IpMgrReq.m_iOutCols = processed->m_nOutCols;
        m_IpMgrReq.m_iOutRows = processed->m_nOutRows;
        FRect crop = processed->m_rCrop;
        crop.left = std::max(crop.left, 0);
        crop.top = std::max(crop.top, 0);
        crop.right = std::min(crop.right, processed->m_nOutCols);
        crop.bottom = std::min(crop.bottom, processed->m_nOutRows);
        m_IpMgrReq.m_rCrop = crop;
        SettingsToManager(processed->m_Settings, m_IpMgrReq);
        m_IpMgrReq.m_iColorSpace = processed->m_Settings.ColorSpace;
        return priSubmit(request);
    }
    case kUiReqProcAndSave:
        return priInitiateProcAndSaveReq(static_cast<FUiIpObjectProcAndSaveReq*>(request));
    case kUiReqCopy:
        return priInitiateCopyReq(request);
    case kUiReqGetGrayBalance: {
        if (!priBeginFileRequest(request,
                                 "FUiIpObject::priInitiateGetGrayBalanceReq() given an empty filename\n",
                                 kReqGetGrayBalance))
            return false;
        const auto* gray = static_cast<FUiIpObjectGetGrayBalanceReq*>(request);
        m_IpMgrReq.m_ptGray.x = gray->m_nX;
        m_IpMgrReq.m_ptGray.y = gray->m_nY;
        return priSubmit(request);
    }
    case kUiReqIlluminants:
        return priBeginFileRequest(request,
                                   "FUiIpObject::priInitiateIlluminantsReq() given an empty filename\n",
                                   kReqIlluminants) &&
               priSubmit(request);
    }
    return false;
}

bool FUiIpObject::priBeginFileRequest(FUiIpObjectRequest* request, const char* emptyNameLog, int managerKind)
{
    const FWideString& url = FileReq(request)->m_usFileURL;
    if (url.IsEmpty()) {
        DebugTraceText(emptyNameLog);
        SetStatus(request->m_Async, kError, kErrInvalid);
        return false;
    }
    m_IpMgrReq.m_Async.SetState(kInitialized);
    m_IpMgrReq.m_eKind = managerKind;
    m_IpMgrReq.m_usFileName = url;
    return true;
}

// A submission that throws ends the request at once, so that its sender never waits for a
// reply that cannot come.
bool FUiIpObject::priSubmit(FUiIpObjectRequest* request)
{
    try {
        m_pIpMgr->Request(&m_IpMgrReq);
        return true;
    } catch (...) {
        DebugTrace("FUiIpObject: exception after call to m_pIpMgr->Request (kind %d)\n", request->m_eKind);
    }
    m_IpMgrReq.Reset();
    priFail(request, kErrException, true);
    return false;
}

void FUiIpObject::priFail(FUiIpObjectRequest* request, int errorCode, bool reply)
{
    SetStatus(request->m_Async, kError, errorCode);
    if (!reply)
        return;
    FUiIpObjectReply plain(request);
    request->m_pReturnRelay->UiRelayMessage(FWideString("IpReply"), &plain);
}

void FUiIpObject::priAfterIntake(FUiIpObjectRequest* request)
{
    const int state = m_IpMgrReq.m_Async.GetState();
    if (state == kError) {
        const int code = m_IpMgrReq.m_Async.GetErrorCode();
        DebugTrace("FUiIpObject::UiRelayMessage(IpRequest)  IPManager immediately returned error %d (%s)\n",
                   code, m_IpMgrReq.m_Async.m_usErrorText.GetNarrow());
        // Code 3 too ends the request: a sender left without a reply would wait for ever.
        m_IpMgrReq.Reset();
        priFail(request, code, true);
        return;
    }
    m_pCurReq = request;
    if (state == kCompleted) {
        priComplete();
        return;
    }
    if (request->m_bProgressReplies)
        m_dLastProgress = 0.0;
    request->m_Async.SetState(kInProgress);
}

bool FUiIpObject::priInitiateWhiteBalReq(FUiIpObjectRequest* request)
{
    auto* whiteBal = static_cast<FUiIpObjectWhiteBalReq*>(request);
    if (whiteBal->m_usFileURL.IsEmpty()) {
        DebugTrace("FUiIpObject::priInitiateWhiteBalReq() given an empty filename\n");
        SetStatus(request->m_Async, kError, kErrInvalid);
        return false;
    }
    FWideString value = whiteBal->m_usWhiteBal;
    if (whiteBal->m_usWhiteBal == "Original") {
        try {
            priLookUpOriginalWhiteBalance(whiteBal->m_usFileURL, value);
        } catch (...) {
            DebugTrace("FUiIpObject::priInitiateWhiteBalReq() caught an exception while reading the original "
                       "white balance\n");
            m_IpMgrReq.Reset();
            priFail(request, kErrException, true);
            return false;
        }
    }
    m_IpMgrReq.Reset();
    AddImageProp(m_IpMgrReq, "WB_DESC", value);
    m_IpMgrReq.m_Async.SetState(kInitialized);
    m_IpMgrReq.m_eKind = kReqModify;
    m_IpMgrReq.m_usFileName = whiteBal->m_usFileURL;
    return priSubmit(request);
}

void FUiIpObject::priLookUpOriginalWhiteBalance(const FWideString& url, FWideString& value)
{
    m_IpMgrReq.m_Async.SetState(kInitialized);
    m_IpMgrReq.m_eKind = kReqProperties;
    m_IpMgrReq.m_usFileName = url;
    priRunBlocking(m_IpMgrReq);
    if (m_IpMgrReq.m_Async.GetState() == kError)
        DebugTrace("FUiIpObject: original white balance not read: error %d (%s)\n",
                   m_IpMgrReq.m_Async.GetErrorCode(), m_IpMgrReq.m_Async.m_usErrorText.GetNarrow());
    value = FWideString("Auto");
    if (m_IpMgrReq.m_pImageProps) {
        bool found = false;
        FWideString original =
            m_IpMgrReq.m_pImageProps->GetString(FWideString("WB_DESC_ORIG"), value, &found);
        if (found)
            value = original;
    }
}

// Blocks the user-interface thread, as the few synchronous steps of the bridge must.
void FUiIpObject::priRunBlocking(FIPManagerRequest& request)
{
    m_pIpMgr->Request(&request);
    while (request.m_Async.GetState() == kInProgress)
        m_pIpMgr->Idle();
}

bool FUiIpObject::priInitiateProcAndSaveReq(FUiIpObjectProcAndSaveReq* request)
{
    if (!priBeginFileRequest(request, "FUiIpObject::priInitiateProcAndSaveReq() given an empty filename\n",
                             request->m_bAutoSetFirst ? kReqAutoSet : kReqProcAndSave))
        return false;
    m_IpMgrReq.m_iSettingMode = request->m_nSettingMode;
    m_IpMgrReq.m_usSettingName = request->m_usCustomName;
    if (request->m_bAutoSetFirst) {
        request->m_bSecondPass = false;
        return priSubmit(request);
    }
    if (request->m_bStoreSettings)
        priStoreSettings(request->m_usFileURL, request->m_Settings);
    priFillSavePass(*request);
    SettingsToManager(request->m_Settings, m_IpMgrReq);
    m_IpMgrReq.m_iColorSpace = request->m_Settings.ColorSpace;
    return priSubmit(request);
}

void FUiIpObject::priFillSavePass(const FUiIpObjectProcAndSaveReq& request)
{
    m_IpMgrReq.m_Async.SetState(kInitialized);
    m_IpMgrReq.m_eKind = kReqProcAndSave;
    m_IpMgrReq.m_usFileName = request.m_usFileURL;
    m_IpMgrReq.m_usOutputFile = request.m_usDstURL;
    m_IpMgrReq.m_iColorSpace = request.m_Settings.ColorSpace;
    std::copy(std::begin(request.m_anParams), std::end(request.m_anParams),
              std::begin(m_IpMgrReq.m_aiVersion));
    m_IpMgrReq.m_usSoftwareName = request.m_usSoftware;
    if (request.m_bJpeg) {
        m_IpMgrReq.m_eFileType = kSaveJPEG;
        m_IpMgrReq.m_eOutputFormat = kRGB24;
        m_IpMgrReq.m_iJPEGQuality = request.m_nJpegQuality;
        m_IpMgrReq.m_bJPEGFlag = request.m_bExif ? 1 : 0;
    } else {
        // The quality field carries bits per pixel for TIFF.
        m_IpMgrReq.m_eFileType = kSaveTIFF;
        const bool sixteen = request.m_nTiffBits == 16;
        m_IpMgrReq.m_eOutputFormat = sixteen ? kRGB48 : kRGB24;
        m_IpMgrReq.m_iJPEGQuality = sixteen ? 48 : 24;
    }
    m_IpMgrReq.m_iOutCols = request.m_nOutCols;
    m_IpMgrReq.m_iOutRows = request.m_nOutRows;
    m_IpMgrReq.m_rCrop = request.m_rCrop;
}

void FUiIpObject::priStoreSettings(const FWideString& url, const ProcessingSettings& settings)
{
    // A locked image is a read-only file: the lock is lifted for the write only.
    FFileInfo info;
    bool locked = false;
    try {
        GetFileInfoURL(url, info);
        locked = (info.m_iFlags & kFileAttrReadOnly) != 0;
        if (locked) {
            FFileInfo unlocked = info;
            unlocked.m_iFlags &= ~kFileAttrReadOnly;
            SetFileAttributesURL(url, unlocked);
        }
    } catch (const FException& e) {
        DebugTrace("FUiIpObject: lock of '%s' not read or lifted: %s\n", url.GetNarrow(), e.GetMessage());
    }
    try {
        FIPManagerRequest modify;
        modify.m_eKind = kReqModify;
        modify.m_usFileName = url;
        FPropList& props = *modify.m_pImageProps;
        SetStoredSettingProps(props, settings);
        priRunBlocking(modify);
        if (modify.m_Async.GetState() == kError)
            DebugTrace("FUiIpObject: settings not stored in '%s': error %d\n", url.GetNarrow(),
                       modify.m_Async.GetErrorCode());
    } catch (...) {
        DebugTrace("FUiIpObject: caught an exception while storing settings in '%s'\n", url.GetNarrow());
    }
    if (locked) {
        try {
            SetFileAttributesURL(url, info);
        } catch (const FException& e) {
            DebugTrace("FUiIpObject: lock of '%s' not restored: %s\n", url.GetNarrow(), e.GetMessage());
        }
    }
    if (!UpdateImageSender() || !m_pOnUpdateImage)
        return;
    // The save goes on whatever the receivers of the update make of it.
    try {
        UpdateImageSender()(url, *m_pOnUpdateImage);
    } catch (const FException& e) {
        DebugTrace("FUiIpObject: ON_UPDATE_IMAGE for '%s' failed: %s\n", url.GetNarrow(), e.GetMessage());
    }
}

void FUiIpObject::Tick(int)
{
    m_bChainOpen = false;
    m_tickDeadline = std::chrono::steady_clock::now() + m_CopyBudget;
    m_nTickPieces = 0;
    FUiIpObjectRequest* request = m_pCurReq;
    if (!request)
        return;
    if (!m_bCancelPending && request->m_Async.IsCancelRequested()) {
        if (m_bCopying) {
            priStopCopy();
            priFinishPlain(kCancelled);
            return;
        }
        m_IpMgrReq.m_Async.RequestCancel();
        m_pIpMgr->Idle();
        m_bCancelPending = true;
    }
    const int state = m_IpMgrReq.m_Async.GetState();
    if (m_bCancelPending && state != kInProgress) {
        // Whatever the manager ended with, the sender asked to cancel.
        m_bCancelPending = false;
        priFinishPlain(kCancelled);
        return;
    }
    switch (state) {
    case kInitialized:
        throw FExceptionUiScript(
            "FUiIpObject::Tick() PANIC!!! m_IpMgrReq.m_Async.m_eState = kInitialized after a request!");
    case kInProgress:
        if (m_bCopying) {
            priCopyWithinTick();
            return;
        }
        m_pIpMgr->Idle();
        priReportProgress();
        return;
    case kCompleted:
        priComplete();
        return;
    case kCancelled:
        m_bCancelPending = false;
        priStopCopy();
        priFinishPlain(kCancelled);
        return;
    case kError: {
        const int code = m_IpMgrReq.m_Async.GetErrorCode();
        DebugTrace("FUiIpObject::Tick() IPManager returned error %d (%s)\n", code,
                   m_IpMgrReq.m_Async.m_usErrorText.GetNarrow());
        priStopCopy();
        request->m_Async.m_iErrorCode.store(code, std::memory_order_release);
        priFinishPlain(kError);
        return;
    }
    default:
        throw FExceptionUiScript("FUiIpObject::Tick() PANIC!!! m_IpMgrReq.m_Async.m_eState = UNKNOWN!");
    }
}

void FUiIpObject::priReportProgress()
{
    FUiIpObjectRequest* request = m_pCurReq;
    const double progress = m_IpMgrReq.m_Async.GetProgress();
    if (!request->m_bProgressReplies || progress == m_dLastProgress)
        return;
    m_dLastProgress = progress;
    double shown = progress;
    if (IsAutoSetFirst(request))
        shown = static_cast<FUiIpObjectProcAndSaveReq*>(request)->m_bSecondPass ? progress * 0.5 + 0.5
                                                                                : progress * 0.5;
    request->m_Async.SetProgress(shown);
    FUiIpObjectReply plain(request);
    request->m_pReturnRelay->UiRelayMessage(FWideString("IpReply"), &plain);
}

void FUiIpObject::priSendFinal(FUiIpObjectReply& reply)
{
    FUiIpObjectRequest* request = m_pCurReq;
    struct Cleanup {
        FUiIpObject* self;
        ~Cleanup()
        {
            self->m_pCurReq = nullptr;
            self->m_IpMgrReq.Reset();
        }
    } cleanup{this};
    request->m_pReturnRelay->UiRelayMessage(FWideString("IpReply"), &reply);
}

void FUiIpObject::priFinishPlain(int state)
{
    m_pCurReq->m_Async.SetState(state);
    FUiIpObjectReply plain(m_pCurReq);
    priSendFinal(plain);
}

void FUiIpObject::priComplete()
{
    FUiIpObjectRequest* request = m_pCurReq;
    const FIPManagerRequest& m = m_IpMgrReq;
    switch (static_cast<FUiIpRequestKind>(request->m_eKind)) {
    case kUiReqProps: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectPropsReply reply(request, m.m_pImageProps);
        priSendFinal(reply);
        return;
    }
    case kUiReqPreview: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectPreviewReply reply(request, m.m_pOutputImage);
        priSendFinal(reply);
        return;
    }
    case kUiReqMark:
    case kUiReqLock: {
        request->m_Async.SetState(kCompleted);
        const bool flag = static_cast<FUiIpObjectFlagReq*>(request)->m_bFlag;
        if (request->m_eKind == kUiReqMark) {
            FUiIpObjectMarkReply reply(request, flag);
            priSendFinal(reply);
        } else {
            FUiIpObjectLockReply reply(request, flag);
            priSendFinal(reply);
        }
        return;
    }
    case kUiReqRotate: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectRotateReply reply(request);
        priSendFinal(reply);
        return;
    }
    case kUiReqWhiteBal: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectWhiteBalReply reply(request);
        priSendFinal(reply);
        return;
    }
    case kUiReqAutoSet: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectAutoSetReply reply(request);
        SettingsFromManager(m, reply.m_Settings);
        reply.m_Settings.ColorSpace = kColorSpaceSRGB;
        priSendFinal(reply);
        return;
    }
    case kUiReqProcessed: {
        if (m.m_pOutputImage)
            m.m_pOutputImage->GetHistogram();
        request->m_Async.SetState(kCompleted);
        FUiIpObjectProcessedReply reply(request, m.m_pOutputImage);
        priSendFinal(reply);
        return;
    }
    case kUiReqProcAndSave:
        priCompleteProcAndSave();
        return;
    case kUiReqCopy:
        priEndCopy();
        return;
    case kUiReqGetGrayBalance: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectGetGrayBalanceReply reply(request);
        std::copy(std::begin(m.m_adColorAdjust), std::end(m.m_adColorAdjust), std::begin(reply.m_adGains));
        priSendFinal(reply);
        return;
    }
    case kUiReqIlluminants: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectIlluminantsReply reply(request, m.m_pImageProps);
        priSendFinal(reply);
        return;
    }
    }
}

void FUiIpObject::priCompleteProcAndSave()
{
    auto* request = static_cast<FUiIpObjectProcAndSaveReq*>(m_pCurReq);
    if (!request->m_bAutoSetFirst || request->m_bSecondPass) {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectProcAndSaveReply reply(request, m_IpMgrReq.m_usOutputFile);
        priSendFinal(reply);
        return;
    }
    // The automatic pass ended: the save pass keeps its adjustment values, not the sender's.
    request->m_bSecondPass = true;
    if (request->m_bStoreSettings) {
        SettingsFromManager(m_IpMgrReq, request->m_Settings);
        priStoreSettings(request->m_usFileURL, request->m_Settings);
    }
    m_IpMgrReq.m_Async.SetProgress(0.0);
    SetStatus(m_IpMgrReq.m_Async, kInitialized, kErrNone);
    m_IpMgrReq.m_Async.m_usErrorText.Clear();
    m_IpMgrReq.m_Async.m_bCancel.store(0, std::memory_order_release);
    priFillSavePass(*request);
    try {
        m_pIpMgr->Request(&m_IpMgrReq);
    } catch (...) {
        DebugTrace("FUiIpObject: exception after submitting the save pass\n");
        request->m_Async.m_iErrorCode.store(kErrException, std::memory_order_release);
        priFinishPlain(kError);
        return;
    }
    if (request->m_bProgressReplies)
        m_dLastProgress = 0.0;
    request->m_Async.SetState(kInProgress);
}

bool FUiIpObject::priInitiateCopyReq(FUiIpObjectRequest* request)
{
    auto* copy = static_cast<FUiIpObjectCopyReq*>(request);
    if (copy->m_usFileURL.IsEmpty() || copy->m_usDstURL.IsEmpty()) {
        DebugTrace("FUiIpObject::priInitiateCopyReq() given an empty source or save filename\n");
        SetStatus(request->m_Async, kError, kErrInvalid);
        return false;
    }
    // Copying a file onto itself, and then trashing "the source", would lose it.
    if (copy->m_usFileURL == copy->m_usDstURL) {
        DebugTrace("FUiIpObject::priInitiateCopyReq() source and destination are the same file\n");
        SetStatus(request->m_Async, kError, kErrInvalid);
        return false;
    }
    if (!m_pCopy)
        m_pCopy = std::make_unique<FIpFileCopy>();
    m_pCopy->Start(copy->m_usFileURL, copy->m_usDstURL, copy->m_bDeleteSrc);
    // Files that open within the budget are refused here; a source that stalls longer is
    // refused by a later tick, with the same error.
    if (m_pCopy->WaitOpened(std::chrono::steady_clock::now() + m_CopyBudget) ==
        FIpFileCopy::Opening::kRefused) {
        DebugTrace("FUiIpObject::priInitiateCopyReq() the copy's files could not be opened\n");
        m_pCopy->Cancel(std::chrono::steady_clock::now() + m_CopyBudget);
        SetStatus(request->m_Async, kError, kErrInvalid);
        return false;
    }
    m_dLastProgress = 0.0;
    m_IpMgrReq.m_Async.SetState(kInProgress);
    m_bCopying = true;
    return true;
}

bool FUiIpObject::IsCopyQuiet()
{
    return !m_pCopy || m_pCopy->IsQuiet();
}

bool FUiIpObject::priBudgetLeft() const
{
    return (m_nCopyMaxPieces <= 0 || m_nTickPieces < m_nCopyMaxPieces) &&
           std::chrono::steady_clock::now() < m_tickDeadline;
}

// Copies what this tick's budget allows; a copy that ends with budget to spare is put
// in place at once, and opens the chain for the next one.
void FUiIpObject::priCopyWithinTick()
{
    m_bEndCopyNow = false;
    if (!m_pCopy->IsAllWritten()) {
        if (!priCopyPieces())
            return;
        priReportProgress();
        if (!m_bEndCopyNow)
            return;
    }
    // The worker puts the copy in place; the tick waits for it only within its budget.
    m_pCopy->RequestEnd();
    if (m_pCopy->WaitEnded(m_tickDeadline) == FIpFileCopy::Ending::kPending)
        return;
    priEndCopy();
    // Only a tick that also wrote the copy's last pieces hands its rest to the next copy.
    m_bChainOpen = m_bEndCopyNow && m_pCurReq == nullptr && priBudgetLeft();
}

bool FUiIpObject::priCopyPieces()
{
    for (;;) {
        switch (m_pCopy->WriteNext(m_tickDeadline)) {
        case FIpFileCopy::Piece::kNotReady:
            return true;
        case FIpFileCopy::Piece::kRefused:
            DebugTrace("FUiIpObject::Tick: the copy's files could not be opened\n");
            SetStatus(m_IpMgrReq.m_Async, kError, kErrInvalid);
            return false;
        case FIpFileCopy::Piece::kFailed:
            DebugTrace("FUiIpObject::Tick: caught exception while copying\n");
            m_IpMgrReq.m_Async.SetState(kError);
            return false;
        case FIpFileCopy::Piece::kWritten:
            break;
        }
        ++m_nTickPieces;
        if (m_pCopy->IsAllWritten()) {
            m_IpMgrReq.m_Async.SetProgress(1.0);
            // Putting the copy in place is one more step of the budget.
            m_bEndCopyNow = priBudgetLeft();
            return true;
        }
        m_IpMgrReq.m_Async.SetProgress(static_cast<double>(m_pCopy->GetWritten()) /
                                       static_cast<double>(m_pCopy->GetSize()));
        if (!priBudgetLeft())
            return true;
    }
}

// The worker has put the copy in place, and trashed the source when asked, or failed.
void FUiIpObject::priEndCopy()
{
    FUiIpObjectRequest* request = m_pCurReq;
    const bool placed = m_pCopy && m_pCopy->WaitEnded(std::chrono::steady_clock::time_point{}) ==
                                       FIpFileCopy::Ending::kPlaced;
    priStopCopy();
    if (!placed) {
        request->m_Async.m_iErrorCode.store(kErrNone, std::memory_order_release);
        priFinishPlain(kError);
        return;
    }
    request->m_Async.SetState(kCompleted);
    FUiIpObjectCopyReply reply(request, static_cast<FUiIpObjectCopyReq*>(request)->m_usDstURL);
    priSendFinal(reply);
}

// Ends a copy that did not finish: its worker removes the temporary file, the destination
// stays as it was.
void FUiIpObject::priStopCopy()
{
    m_bCopying = false;
    if (m_pCopy)
        m_pCopy->Cancel(std::chrono::steady_clock::now() + m_CopyBudget);
}

void SetStoredSettingProps(FPropList& props, const ProcessingSettings& settings)
{
    props.SetFloat(FWideString(propkey::kExposure), settings.Exposure);
    props.SetFloat(FWideString(propkey::kContrast), settings.Contrast);
    props.SetFloat(FWideString(propkey::kShadow), settings.Blackness);
    props.SetFloat(FWideString(propkey::kHighlight), settings.Highlight);
    props.SetFloat(FWideString(propkey::kSharpness), settings.Sharpness);
    props.SetFloat(FWideString(propkey::kSaturation), settings.Saturation);
    props.SetFloat(FWideString(propkey::kFillLight), settings.Retinex);
    const std::string cc =
        RGBGainsToCCString(settings.ColorAdjustR, settings.ColorAdjustG, settings.ColorAdjustB);
    props.SetString(FWideString(propkey::kColorAdjust), FWideString(cc.c_str()));
}
