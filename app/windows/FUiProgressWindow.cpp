#include "FUiProgressWindow.h"

#include <utility>
#include <vector>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIPManager.h"
#include "FIStorageClass.h"
#include "FIUiWindow.h"
#include "FImageFileListEntry.h"
#include "FUiObjectFactory.h"
#include "ImageChangeQuery.h"
#include "StorageClassRegistry.h"

namespace
{

class FUiProgressWindowCreator final : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new FUiProgressWindow(typeName); }
};

void ClearStatus(FAsyncStatus& status)
{
    status.SetProgress(0.0);
    status.SetState(kInitialized);
    status.m_iErrorCode.store(kErrNone);
    status.m_usErrorText.Clear();
    status.m_bCancel.store(0);
}

bool Exists(const FWideString& url, bool& isFolder)
{
    isFolder = false;
    try {
        return ExistsURL(url, isFolder);
    } catch (const FException&) {
        return false;
    }
}

// The name the user knows the file by: the URL's last part, unescaped.
FWideString FileNameOf(const FWideString& url)
{
    std::vector<FWideString> parts;
    FWideString name;
    if (SplitURL(url, parts) && !parts.empty())
        UnescapeURLChars(parts.back(), name);
    return name;
}

} // namespace

void CopyProcAndSaveRequest(FUiIpObjectProcAndSaveReq& to, const FUiIpObjectProcAndSaveReq& from)
{
    to = from;
}

void CopyCopyRequest(FUiIpObjectCopyReq& to, const FUiIpObjectCopyReq& from)
{
    to = from;
}

bool RegisterProgressWindowCreator(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    auto* creator = new FUiProgressWindowCreator;
    if (factory->Register("PROGRESS_WIN_MGR", creator))
        return true;
    delete creator;
    return false;
}

FUiProgressWindow::FUiProgressWindow(const char* typeName, FIPManager* pool) : FUiObject(typeName)
{
    if (pool) {
        m_pPool = pool;
    } else {
        m_pPool = GetIPManagerPool();
        m_bHoldsPool = m_pPool != nullptr;
    }
    m_pOnImageInQueue = AddEvent(FWideString("ON_IMAGE_IN_QUEUE"));
    m_pOnImageInfo = AddEvent(FWideString("ON_IMAGE_INFO"));
    m_pOnNoImage = AddEvent(FWideString("ON_NO_IMAGE"));
    m_pOnDstImageName = AddEvent(FWideString("ON_DST_IMAGE_NAME"));
    AddEvent(FWideString("ON_BEGIN_PROC"));
    m_pOnDoImageProc = AddEvent(FWideString("ON_DO_IMAGE_PROC"));
    m_pOnProgress = AddEvent(FWideString("ON_PROGRESS"));
    AddEvent(FWideString("ON_END_PROC"));
    m_pOnQueueEmpty = AddEvent(FWideString("ON_IMAGE_QUEUE_EMPTY"));
    m_pOnImageError = AddEvent(FWideString("ON_IMAGE_ERROR"));
    m_pOnCancel = AddEvent(FWideString("ON_CANCEL"));
    m_pOnShowMultiOverwrite = AddEvent(FWideString("ON_SHOW_MULTI_OVERWRITE"));
    m_pOnShowOverwrite = AddEvent(FWideString("ON_SHOW_OVERWRITE"));
    m_pOnSetReply = AddEvent(FWideString("ON_SET_REPLY"));
    m_pOnUpdateImage = AddEvent(FWideString("ON_UPDATE_IMAGE"));
    m_pOnSetFileX = AddEvent(FWideString("ON_SET_FILE_X"));
    m_pOnSetFileY = AddEvent(FWideString("ON_SET_FILE_Y"));
    m_pOnSetMultiOverwriteName = AddEvent(FWideString("ON_SET_MULTI_OVERWRITE_NAME"));
    m_pOnSetOverwriteName = AddEvent(FWideString("ON_SET_OVERWRITE_NAME"));
}

// The wait is bounded: a bridge that is never ticked again must not hang the exit.
FUiProgressWindow::~FUiProgressWindow()
{
    // Windows before this one are gone at exit (the browser first): settling the batch
    // here tells nobody.
    for (RelayEvent** event :
         {&m_pOnImageInQueue, &m_pOnImageInfo, &m_pOnNoImage, &m_pOnDstImageName, &m_pOnDoImageProc,
          &m_pOnProgress, &m_pOnQueueEmpty, &m_pOnImageError, &m_pOnCancel, &m_pOnShowMultiOverwrite,
          &m_pOnShowOverwrite, &m_pOnSetReply, &m_pOnUpdateImage, &m_pOnSetFileX, &m_pOnSetFileY,
          &m_pOnSetMultiOverwriteName, &m_pOnSetOverwriteName})
        *event = &m_silent;
    if (m_SaveReq.m_Async.IsInProgress())
        m_bCancelPending = true;
    priEmptyQueue();
    m_nState = kCancelling;
    for (int pass = 0; m_nState != kIdle && pass < kDestructorPasses; ++pass) {
        DebugTrace("---FUiProgressWindow::~FUiProgressWindow() looping until idle. [%d]\n", pass);
        try {
            ProcessQueue();
        } catch (...) {
            break;
        }
    }
    m_pCurEntry.reset();
    if (m_bHoldsPool)
        ReleaseIPManager(&m_pPool);
}

bool FUiProgressWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

void FUiProgressWindow::Tick(int /*elapsedMs*/)
{
    ProcessQueue();
}

void FUiProgressWindow::priAppend(FUiIpObjectRequest* request, unsigned char kind)
{
    auto* node = new FUiProgressQueueNode;
    node->m_pRequest = request;
    node->m_nKind = kind;
    if (m_bNextBeginsBatch) {
        node->m_bFirstOfBatch = true;
        m_bNextBeginsBatch = false;
    }
    if (m_pTail)
        m_pTail->m_pNext = node;
    else
        m_pHead = node;
    m_pTail = node;
    ++m_nWaiting;
    ++m_nBatchTotal;
}

void FUiProgressWindow::priEmptyQueue()
{
    while (m_pHead) {
        FUiProgressQueueNode* node = std::exchange(m_pHead, m_pHead->m_pNext);
        delete node->m_pRequest;
        delete node;
    }
    m_pTail = nullptr;
    m_nWaiting = 0;
    m_nBatchTotal = 0;
    m_nTaken = 0;
}

void FUiProgressWindow::priFireText(RelayEvent* event, const FWideString& text)
{
    FWideString copy(text);
    event->Fire(&copy);
}

void FUiProgressWindow::priFireProgress()
{
    double progress = m_dLastProgress;
    m_pOnProgress->Fire(&progress);
}

bool FUiProgressWindow::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization")
        return true;
    if (message == "StartOfBatch") {
        m_bNextBeginsBatch = true;
        return true;
    }
    if (message == "OKCancel") {
        if (m_bBatchRunning) {
            if (m_SaveReq.m_Async.IsInProgress())
                m_bCancelPending = true;
            priEmptyQueue();
            m_nState = kCancelling;
            m_pOnCancel->Fire(nullptr);
        } else if (m_pWindow) {
            m_pWindow->SetVisible(false);
        }
        return true;
    }
    if (!data)
        return false;
    if (message == "ThumbnailSize") {
        m_nThumbWidth = m_nThumbHeight = *static_cast<const int*>(data);
        m_bThumbSizeSet = true;
        return true;
    }
    if (message == "ProcAndSave") {
        auto* copy = new FUiIpObjectProcAndSaveReq;
        CopyProcAndSaveRequest(*copy, *static_cast<const FUiIpObjectProcAndSaveReq*>(data));
        priAppend(copy, 0);
        return true;
    }
    if (message == "CopyFile") {
        auto* copy = new FUiIpObjectCopyReq;
        CopyCopyRequest(*copy, *static_cast<const FUiIpObjectCopyReq*>(data));
        priAppend(copy, 1);
        return true;
    }
    if (message == "IpReply")
        return true;
    if (message == "IsRotateAllowed") {
        auto* query = static_cast<ImageChangeQuery*>(data);
        bool queued = m_nState == kSaving && EqualsNoCase(query->m_usURL, m_SaveReq.m_usFileURL);
        for (FUiProgressQueueNode* node = m_pHead; node && !queued; node = node->m_pNext) {
            if (node->m_nKind == 0 && node->m_pRequest &&
                EqualsNoCase(query->m_usURL, static_cast<FUiIpObjectFileReq*>(node->m_pRequest)->m_usFileURL))
                queued = true;
        }
        if (queued)
            query->m_bAllowed = false;
        return true;
    }
    if (message == "Reply") {
        const FWideString& answer = *static_cast<const FWideString*>(data);
        m_bAnswered = true;
        if (answer == "OverWrite") {
            m_bOverwrite = true;
        } else if (answer == "OverWriteAll") {
            m_bOverwrite = true;
            m_bOverwriteAll = true;
        } else {
            m_bOverwrite = false;
            if (answer == "Cancel")
                m_bCancelAnswered = true;
        }
        return true;
    }
    return false;
}

void FUiProgressWindow::ProcessQueue()
{
    for (;;) {
        bool again = false;
        switch (m_nState) {
        case kIdle:
            again = priIdle();
            break;
        case kTakeNext:
            again = priTakeNext();
            break;
        case kSaving:
            again = priFollow(m_SaveReq, m_SaveReq.m_usDstURL, true);
            break;
        case kCopying:
            again = priFollow(m_CopyReq, m_CopyReq.m_usDstURL, false);
            break;
        default:
            again = priCancelling();
            break;
        }
        if (!again)
            return;
    }
}

bool FUiProgressWindow::priIdle()
{
    if (m_nWaiting != 0) {
        m_pOnNoImage->Fire(nullptr);
        if (!m_pHead) {
            m_nWaiting = 0;
        } else if (m_pHead->m_bFirstOfBatch) {
            m_bOverwriteAll = false;
            m_bCancelAnswered = false;
        }
        if (m_bCancelAnswered) {
            priEmptyQueue();
            m_bNextBeginsBatch = true;
            if (m_bBatchRunning) {
                m_bBatchRunning = false;
                m_pOnQueueEmpty->Fire(nullptr);
            }
            return false;
        }
        if (m_nWaiting != 0) {
            m_nState = kTakeNext;
            m_bBatchRunning = true;
            m_pOnImageInQueue->Fire(nullptr);
            return true;
        }
    }
    if (m_bBatchRunning) {
        m_bBatchRunning = false;
        priEmptyQueue();
        m_bNextBeginsBatch = true;
        m_pOnQueueEmpty->Fire(nullptr);
        m_pOnNoImage->Fire(nullptr);
    }
    return false;
}

bool FUiProgressWindow::priTakeNext()
{
    if (m_nWaiting == 0 || !m_pHead) {
        m_nWaiting = 0;
        if (!m_pHead)
            m_pTail = nullptr;
        m_nState = kIdle;
        return true;
    }
    FUiProgressQueueNode* node = m_pHead;
    m_pHead = node->m_pNext;
    if (!m_pHead)
        m_pTail = nullptr;
    --m_nWaiting;
    ++m_nTaken;
    m_nCurKind = node->m_nKind;
    std::unique_ptr<FUiIpObjectRequest> request(node->m_pRequest);
    delete node;
    if (!request) {
        m_nState = kIdle;
        return true;
    }
    m_pCurEntry = std::make_unique<FImageFileListEntry>();
    if (m_nCurKind == 0) {
        ClearStatus(m_SaveReq.m_Async);
        CopyProcAndSaveRequest(m_SaveReq, *static_cast<FUiIpObjectProcAndSaveReq*>(request.get()));
        m_SaveReq.m_pReturnRelay = this;
        m_SaveReq.m_nUserData = 0;
        m_SaveReq.m_bProgressReplies = true;
        m_pCurEntry->SetURL(m_SaveReq.m_usFileURL);
    } else {
        CopyCopyRequest(m_CopyReq, *static_cast<FUiIpObjectCopyReq*>(request.get()));
        m_CopyReq.m_pReturnRelay = this;
        m_CopyReq.m_nUserData = 1;
        m_CopyReq.m_bProgressReplies = true;
        m_pCurEntry->SetURL(m_CopyReq.m_usFileURL);
    }
    request.reset();

    FWideString text;
    text.Format("%i", m_nBatchTotal - m_nWaiting);
    priFireText(m_pOnSetFileX, text);
    m_dLastProgress = 0.0;
    priFireProgress();
    text.Format("%i", m_nBatchTotal);
    priFireText(m_pOnSetFileY, text);
    priFireText(m_pOnDstImageName, FileNameOf(m_nCurKind == 0 ? m_SaveReq.m_usDstURL : m_CopyReq.m_usDstURL));

    bool readable = false;
    try {
        readable = m_pCurEntry->GetProps(m_pPool);
    } catch (const FException& error) {
        DebugTrace("FUiProgressWindow: properties not read (%s)\n", error.GetMessage());
    }
    if (!readable) {
        m_pOnImageError->Fire(nullptr);
        m_nState = kIdle;
        m_nCurKind = 0;
        return true;
    }
    bool thumbnail = false;
    try {
        thumbnail = m_pCurEntry->GetIFLEThumbnail(m_pPool, m_nThumbWidth, m_nThumbHeight);
    } catch (const FException&) {
    }
    if (thumbnail)
        m_pOnImageInfo->Fire(m_pCurEntry.get());
    m_nState = m_nCurKind == 1 ? kCopying : kSaving;
    return true;
}

// A request that nobody took out of its first state would be sent again without end.
void FUiProgressWindow::priSend(FUiIpObjectRequest& request)
{
    m_pOnDoImageProc->Fire(&request);
    if (request.m_Async.GetState() == kInitialized)
        request.m_Async.Fail(kErrInvalid, "no image-processing object took the request");
}

bool FUiProgressWindow::priFollow(FUiIpObjectRequest& request, const FWideString& dstURL, bool saving)
{
    switch (request.m_Async.GetState()) {
    case kInitialized: {
        if (!m_bAwaiting) {
            m_dLastProgress = 0.0;
            priFireProgress();
            if (saving && m_SaveReq.m_bSecondPass) {
                m_bDstExisted = true;
                priSend(request);
                return true;
            }
            bool isFolder = false;
            const bool exists = Exists(dstURL, isFolder);
            m_bDstExisted = exists;
            if (!exists || (m_bOverwriteAll && !isFolder)) {
                priSend(request);
                return true;
            }
            if (isFolder)
                return priFinish(saving);
            m_bAwaiting = true;
            m_bAnswered = false;
            FWideString native;
            URLToNativePath(dstURL, native);
            if (m_nWaiting < 1) {
                m_pOnShowOverwrite->Fire(nullptr);
                if (saving)
                    priFireText(m_pOnSetOverwriteName, native);
            } else {
                m_pOnShowMultiOverwrite->Fire(nullptr);
                if (saving)
                    priFireText(m_pOnSetMultiOverwriteName, native);
            }
            m_pOnSetReply->Fire(static_cast<FIUiRelay*>(this));
            return false;
        }
        if (!m_bAnswered)
            return false;
        m_bAwaiting = false;
        if (!m_bOverwrite)
            return priFinish(saving);
        priSend(request);
        return true;
    }
    case kInProgress:
        if (request.m_Async.GetProgress() != m_dLastProgress) {
            m_dLastProgress = request.m_Async.GetProgress();
            priFireProgress();
        }
        return false;
    case kCompleted:
        // The copy's own worker has marked a camera source as taken.
        priReportWritten(dstURL);
        return priFinish(saving);
    case kCancelled:
        return priFinish(saving);
    default:
        m_pOnImageError->Fire(nullptr);
        return priFinish(saving);
    }
}

bool FUiProgressWindow::priFinish(bool saving)
{
    m_nState = kIdle;
    ClearStatus(saving ? m_SaveReq.m_Async : m_CopyReq.m_Async);
    if (!saving)
        m_nCurKind = 0;
    return true;
}

void FUiProgressWindow::priReportWritten(const FWideString& url)
{
    FImageFileListEntry written;
    written.SetURL(url);
    try {
        written.GetProps(m_pPool);
    } catch (const FException&) {
    }
    m_pOnUpdateImage->Fire(&written);
}

// The transfer mark is set through the file information, which opens for reading: opening
// the source for writing would truncate a disk-backed camera file.
bool FUiProgressWindow::priCancelling()
{
    priEmptyQueue();
    if (m_SaveReq.m_Async.IsInProgress()) {
        if (m_SaveReq.m_Async.IsCancelRequested())
            return false;
        m_SaveReq.m_Async.RequestCancel();
        m_bCancelPending = true;
        return true;
    }
    if (m_CopyReq.m_Async.IsInProgress()) {
        if (m_CopyReq.m_Async.IsCancelRequested())
            return false;
        m_CopyReq.m_Async.RequestCancel();
        return true;
    }
    if (m_bCancelPending) {
        m_bCancelPending = false;
        bool isFolder = false;
        // The writers replace a file whole, so a cancelled conversion leaves no partial
        // file; only a file this request made, and did not complete, is taken away.
        if (!m_bDstExisted && m_SaveReq.m_Async.GetState() != kCompleted &&
            Exists(m_SaveReq.m_usDstURL, isFolder) && !isFolder) {
            try {
                MoveToTrashURL(m_SaveReq.m_usDstURL);
            } catch (const FException&) {
            }
        }
    }
    ClearStatus(m_SaveReq.m_Async);
    ClearStatus(m_CopyReq.m_Async);
    m_bAwaiting = false;
    m_nState = kIdle;
    return true;
}
