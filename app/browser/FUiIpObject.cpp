#include "FUiIpObject.h"

#include <algorithm>
#include <utility>

#include "ColorCompensation.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIPEngineService.h"
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

FUiIpObject::FUiIpObject(const char* typeName, FIPManager* manager) : FUiObject(typeName), m_engine(manager)
{
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
    FIPEngineService* service = m_engine.Peek();
    // The engine keeps a job's record for as long as a manager holds it; the sender is
    // answered now.
    if (service)
        service->Forget(this);
    if (m_pCurReq) {
        try {
            priFinishPlain(kCancelled);
        } catch (...) {
            m_pCurReq = nullptr;
        }
    }
    priStopCopy();
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

bool FUiIpObject::priIsBusy() const
{
    return m_pCurReq || m_bCopying;
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
    if (!m_engine.Get() && request->m_eKind != kUiReqCopy) {
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
    m_eStep = Step::kMain;
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
        m_job.outputFormat = kDisplay;
        m_job.outCols = preview->m_nOutCols;
        m_job.outRows = preview->m_nOutRows;
        m_job.crop = preview->m_rCrop;
        m_job.settings.ColorSpace = preview->m_nColorSpace;
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
            m_job.changes.emplace_back(FWideString("ROTATION"), FWideString(flag ? "+90" : "-90"));
        else
            m_job.changes.emplace_back(FWideString(request->m_eKind == kUiReqMark ? "MARKBITS" : "LOCK"),
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
        m_job.outputFormat = kDisplay;
        m_job.outCols = processed->m_nOutCols;
        m_job.outRows = processed->m_nOutRows;
        FRect crop = processed->m_rCrop;
        crop.left = std::max(crop.left, 0);
        crop.top = std::max(crop.top, 0);
        crop.right = std::min(crop.right, processed->m_nOutCols);
        crop.bottom = std::min(crop.bottom, processed->m_nOutRows);
        m_job.crop = crop;
        m_job.settings = processed->m_Settings;
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
        m_job.gray.x = gray->m_nX;
        m_job.gray.y = gray->m_nY;
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
    m_job = FIPJob();
    m_job.kind = managerKind;
    m_job.file = url;
    return true;
}

// The job goes to the engine; its end comes back through priJobEnded on a later tick.
bool FUiIpObject::priSubmit(FUiIpObjectRequest* request)
{
    FIPEngineService* service = m_engine.Get();
    if (!service) {
        priFail(request, kErrInvalid, true);
        return false;
    }
    try {
        service->Submit(
            FIPEngineService::Key{this, 0}, m_job, [this](FIPJobResult& result) { priJobEnded(result); },
            [this](double share) { priReportProgress(share); });
        return true;
    } catch (...) {
        DebugTrace("FUiIpObject: exception while submitting a job (kind %d)\n", request->m_eKind);
    }
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
    m_pCurReq = request;
    m_bCancelPending = false;
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
    // The original balance is read from the file first; the change follows once it is known.
    if (whiteBal->m_usWhiteBal == "Original") {
        m_job = FIPJob::Properties(whiteBal->m_usFileURL);
        m_eStep = Step::kLookUpWhiteBalance;
        return priSubmit(request);
    }
    priFillWhiteBalance(whiteBal->m_usFileURL, whiteBal->m_usWhiteBal);
    return priSubmit(request);
}

void FUiIpObject::priFillWhiteBalance(const FWideString& url, const FWideString& value)
{
    m_job = FIPJob::Modify(url, "WB_DESC", value);
    m_eStep = Step::kMain;
}

void FUiIpObject::priLookedUpWhiteBalance(const FIPJobResult& result)
{
    if (result.state == kError)
        DebugTrace("FUiIpObject: original white balance not read: error %d (%s)\n", result.error,
                   result.errorText.GetNarrow());
    FWideString value("Auto");
    if (result.props) {
        bool found = false;
        FWideString original = result.props->GetString(FWideString("WB_DESC_ORIG"), value, &found);
        if (found)
            value = original;
    }
    priFillWhiteBalance(FileReq(m_pCurReq)->m_usFileURL, value);
    priResubmit();
}

// The next job of a request that takes several: the request stays in service.
void FUiIpObject::priResubmit()
{
    FUiIpObjectRequest* request = m_pCurReq;
    FIPEngineService* service = m_engine.Get();
    try {
        if (service) {
            service->Submit(
                FIPEngineService::Key{this, 0}, m_job, [this](FIPJobResult& result) { priJobEnded(result); },
                [this](double share) { priReportProgress(share); });
            return;
        }
    } catch (...) {
        DebugTrace("FUiIpObject: exception while submitting the next job (kind %d)\n", request->m_eKind);
    }
    request->m_Async.m_iErrorCode.store(kErrException, std::memory_order_release);
    priFinishPlain(kError);
}

bool FUiIpObject::priInitiateProcAndSaveReq(FUiIpObjectProcAndSaveReq* request)
{
    if (!priBeginFileRequest(request, "FUiIpObject::priInitiateProcAndSaveReq() given an empty filename\n",
                             request->m_bAutoSetFirst ? kReqAutoSet : kReqProcAndSave))
        return false;
    m_job.settingMode = request->m_nSettingMode;
    m_job.settingName = request->m_usCustomName;
    if (request->m_bAutoSetFirst) {
        request->m_bSecondPass = false;
        return priSubmit(request);
    }
    if (request->m_bStoreSettings) {
        // The settings are written into the raw file first; the save follows.
        priFillStoreSettings(request->m_usFileURL, request->m_Settings);
        return priSubmit(request);
    }
    priFillSavePass(*request, request->m_Settings);
    return priSubmit(request);
}

void FUiIpObject::priFillSavePass(const FUiIpObjectProcAndSaveReq& request,
                                  const ProcessingSettings& settings)
{
    m_eStep = Step::kMain;
    m_job = FIPJob();
    m_job.kind = kReqProcAndSave;
    m_job.file = request.m_usFileURL;
    m_job.outputFile = request.m_usDstURL;
    m_job.settingMode = request.m_nSettingMode;
    m_job.settingName = request.m_usCustomName;
    m_job.settings = settings;
    m_job.settings.ColorSpace = request.m_Settings.ColorSpace;
    std::copy(std::begin(request.m_anParams), std::end(request.m_anParams), std::begin(m_job.version));
    m_job.software = request.m_usSoftware;
    if (request.m_bJpeg) {
        m_job.fileType = kSaveJPEG;
        m_job.outputFormat = kRGB24;
        m_job.quality = request.m_nJpegQuality;
        m_job.exif = request.m_bExif;
    } else {
        // The quality field carries bits per pixel for TIFF.
        m_job.fileType = kSaveTIFF;
        const bool sixteen = request.m_nTiffBits == 16;
        m_job.outputFormat = sixteen ? kRGB48 : kRGB24;
        m_job.quality = sixteen ? 48 : 24;
    }
    m_job.outCols = request.m_nOutCols;
    m_job.outRows = request.m_nOutRows;
    m_job.crop = request.m_rCrop;
}

void FUiIpObject::priFillStoreSettings(const FWideString& url, const ProcessingSettings& settings)
{
    // A locked image is a read-only file: the lock is lifted for the write only.
    m_bRelock = false;
    try {
        GetFileInfoURL(url, m_LockedInfo);
        m_bRelock = (m_LockedInfo.m_iFlags & kFileAttrReadOnly) != 0;
        if (m_bRelock) {
            FFileInfo unlocked = m_LockedInfo;
            unlocked.m_iFlags &= ~kFileAttrReadOnly;
            SetFileAttributesURL(url, unlocked);
        }
    } catch (const FException& e) {
        DebugTrace("FUiIpObject: lock of '%s' not read or lifted: %s\n", url.GetNarrow(), e.GetMessage());
    }
    FPropList props(nullptr, "ImageProps");
    SetStoredSettingProps(props, settings);
    m_job = FIPJob();
    m_job.kind = kReqModify;
    m_job.file = url;
    for (FPropPair* pair = props.GetFirstProp(); pair; pair = pair->GetNext())
        m_job.changes.emplace_back(pair->GetName(), pair->GetValue());
    m_eStep = Step::kStoreSettings;
}

void FUiIpObject::priStoredSettings(const FIPJobResult& result)
{
    auto* request = static_cast<FUiIpObjectProcAndSaveReq*>(m_pCurReq);
    const FWideString& url = request->m_usFileURL;
    if (!result.Completed())
        DebugTrace("FUiIpObject: settings not stored in '%s': error %d\n", url.GetNarrow(), result.error);
    if (m_bRelock) {
        m_bRelock = false;
        try {
            SetFileAttributesURL(url, m_LockedInfo);
        } catch (const FException& e) {
            DebugTrace("FUiIpObject: lock of '%s' not restored: %s\n", url.GetNarrow(), e.GetMessage());
        }
    }
    if (UpdateImageSender() && m_pOnUpdateImage) {
        // The save goes on whatever the receivers of the update make of it.
        try {
            UpdateImageSender()(url, *m_pOnUpdateImage);
        } catch (const FException& e) {
            DebugTrace("FUiIpObject: ON_UPDATE_IMAGE for '%s' failed: %s\n", url.GetNarrow(), e.GetMessage());
        }
    }
    if (!m_pCurReq)
        return;
    if (m_bCancelPending) {
        m_bCancelPending = false;
        priFinishPlain(kCancelled);
        return;
    }
    priFillSavePass(*request, request->m_Settings);
    priResubmit();
}

void FUiIpObject::Tick(int)
{
    m_bChainOpen = false;
    m_tickDeadline = std::chrono::steady_clock::now() + m_CopyBudget;
    m_nTickPieces = 0;
    FUiIpObjectRequest* request = m_pCurReq;
    if (request && m_bCopying)
        priTickCopy(*request);
    // Only a service that exists can have work to hand back; a tick never makes one.
    FIPEngineService* service = m_engine.Peek();
    if (request && request == m_pCurReq && !m_bCopying && !m_bCancelPending &&
        request->m_Async.IsCancelRequested()) {
        m_bCancelPending = true;
        if (service)
            service->Cancel(FIPEngineService::Key{this, 0});
    }
    // Finished jobs come back here, on the window's thread, within a share of the tick.
    if (service)
        service->Deliver();
}

void FUiIpObject::priTickCopy(FUiIpObjectRequest& request)
{
    if (request.m_Async.IsCancelRequested()) {
        priStopCopy();
        priFinishPlain(kCancelled);
        return;
    }
    switch (m_CopyStatus.GetState()) {
    case kInProgress:
        priCopyWithinTick();
        return;
    case kCompleted:
        priEndCopy();
        return;
    default:
        DebugTrace("FUiIpObject::Tick() the copy failed\n");
        priStopCopy();
        request.m_Async.m_iErrorCode.store(m_CopyStatus.GetErrorCode(), std::memory_order_release);
        priFinishPlain(kError);
        return;
    }
}

void FUiIpObject::priJobEnded(FIPJobResult& result)
{
    if (!m_pCurReq)
        return;
    const Step step = m_eStep;
    if (step == Step::kStoreSettings) {
        priStoredSettings(result);
        return;
    }
    if (m_bCancelPending || result.end != FIPJobEnd::kDone || result.state == kCancelled) {
        // Whatever the manager ended with, the sender asked to cancel, or the engine stopped.
        m_bCancelPending = false;
        priFinishPlain(kCancelled);
        return;
    }
    if (result.state == kError) {
        DebugTrace("FUiIpObject: the engine ended a job with error %d (%s)\n", result.error,
                   result.errorText.GetNarrow());
        m_pCurReq->m_Async.m_iErrorCode.store(result.error, std::memory_order_release);
        priFinishPlain(kError);
        return;
    }
    if (step == Step::kLookUpWhiteBalance) {
        priLookedUpWhiteBalance(result);
        return;
    }
    priComplete(result);
}

void FUiIpObject::priReportProgress(double progress)
{
    FUiIpObjectRequest* request = m_pCurReq;
    if (!request || !request->m_bProgressReplies || progress == m_dLastProgress || m_eStep != Step::kMain)
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
            self->m_eStep = Step::kMain;
            self->m_CopyStatus.SetProgress(0.0);
            SetStatus(self->m_CopyStatus, kInitialized, kErrNone);
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

void FUiIpObject::priComplete(FIPJobResult& result)
{
    FUiIpObjectRequest* request = m_pCurReq;
    if (request->m_bProgressReplies && !IsAutoSetFirst(request))
        request->m_Async.SetProgress(1.0);
    FPropList* props = result.props.get();
    FIPMImage* image = result.image.Get();
    switch (static_cast<FUiIpRequestKind>(request->m_eKind)) {
    case kUiReqProps: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectPropsReply reply(request, props);
        priSendFinal(reply);
        return;
    }
    case kUiReqPreview: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectPreviewReply reply(request, image);
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
        reply.m_Settings = result.job.settings;
        reply.m_Settings.ColorSpace = kColorSpaceSRGB;
        priSendFinal(reply);
        return;
    }
    case kUiReqProcessed: {
        if (image)
            image->GetHistogram();
        request->m_Async.SetState(kCompleted);
        FUiIpObjectProcessedReply reply(request, image);
        priSendFinal(reply);
        return;
    }
    case kUiReqProcAndSave:
        priCompleteProcAndSave(result);
        return;
    case kUiReqCopy:
        return;
    case kUiReqGetGrayBalance: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectGetGrayBalanceReply reply(request);
        reply.m_adGains[0] = result.job.settings.ColorAdjustR;
        reply.m_adGains[1] = result.job.settings.ColorAdjustG;
        reply.m_adGains[2] = result.job.settings.ColorAdjustB;
        priSendFinal(reply);
        return;
    }
    case kUiReqIlluminants: {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectIlluminantsReply reply(request, props);
        priSendFinal(reply);
        return;
    }
    }
}

void FUiIpObject::priCompleteProcAndSave(FIPJobResult& result)
{
    auto* request = static_cast<FUiIpObjectProcAndSaveReq*>(m_pCurReq);
    if (!request->m_bAutoSetFirst || request->m_bSecondPass) {
        request->m_Async.SetState(kCompleted);
        FUiIpObjectProcAndSaveReply reply(request, result.job.outputFile);
        priSendFinal(reply);
        return;
    }
    // The automatic pass ended: the save pass keeps its adjustment values, not the sender's.
    request->m_bSecondPass = true;
    if (request->m_bProgressReplies)
        m_dLastProgress = 0.0;
    ProcessingSettings automatic = result.job.settings;
    automatic.ColorSpace = request->m_Settings.ColorSpace;
    if (request->m_bStoreSettings) {
        request->m_Settings = automatic;
        priFillStoreSettings(request->m_usFileURL, request->m_Settings);
    } else {
        priFillSavePass(*request, automatic);
    }
    priResubmit();
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
    m_CopyStatus.SetProgress(0.0);
    SetStatus(m_CopyStatus, kInProgress, kErrNone);
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
        priReportProgress(m_CopyStatus.GetProgress());
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
            SetStatus(m_CopyStatus, kError, kErrInvalid);
            return false;
        case FIpFileCopy::Piece::kFailed:
            DebugTrace("FUiIpObject::Tick: caught exception while copying\n");
            m_CopyStatus.SetState(kError);
            return false;
        case FIpFileCopy::Piece::kWritten:
            break;
        }
        ++m_nTickPieces;
        if (m_pCopy->IsAllWritten()) {
            m_CopyStatus.SetProgress(1.0);
            // Putting the copy in place is one more step of the budget.
            m_bEndCopyNow = priBudgetLeft();
            return true;
        }
        m_CopyStatus.SetProgress(static_cast<double>(m_pCopy->GetWritten()) /
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
