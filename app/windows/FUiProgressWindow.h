#pragma once

// PROGRESS_WIN_MGR: the one worker of every conversion and copy. Requests handed in with
// "ProcAndSave" and "CopyFile" are copied into a first-in, first-out queue; each tick
// takes the next, shows it, asks before overwriting, sends it to the bridge object with
// ON_DO_IMAGE_PROC and follows its status block to the end.

#include <memory>

#include "FUiIpObjectRequest.h"
#include "FUiObject.h"

class FIPManager;
class FIUiObjectFactory;
class FImageFileListEntry;

struct FUiProgressQueueNode {
    bool m_bFirstOfBatch = false;
    FUiIpObjectRequest* m_pRequest = nullptr;
    FUiProgressQueueNode* m_pNext = nullptr;
    // 0 process and save, 1 copy.
    unsigned char m_nKind = 0;
};

class FUiProgressWindow : public FUiObject
{
public:
    enum EState { kIdle = 0, kTakeNext = 1, kSaving = 2, kCopying = 3, kCancelling = 4 };
    // Longest the destructor waits for a bridge to let go of a cancelled request.
    static constexpr int kDestructorPasses = 6000;

    // `pool` (kept, not owned) stands in for the process-wide pool; null takes the pool.
    explicit FUiProgressWindow(const char* typeName, FIPManager* pool = nullptr);
    ~FUiProgressWindow() override;
    FUiProgressWindow(const FUiProgressWindow&) = delete;
    FUiProgressWindow& operator=(const FUiProgressWindow&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;

    void ProcessQueue();

    int GetState() const { return m_nState; }
    int GetWaitingCount() const { return m_nWaiting; }
    bool IsBatchRunning() const { return m_bBatchRunning; }
    const FUiIpObjectProcAndSaveReq& GetSaveRequest() const { return m_SaveReq; }
    const FUiIpObjectCopyReq& GetCopyRequest() const { return m_CopyReq; }

private:
    void priAppend(FUiIpObjectRequest* request, unsigned char kind);
    void priEmptyQueue();
    // Each returns true for "again" and false for "stop".
    bool priIdle();
    bool priTakeNext();
    bool priFollow(FUiIpObjectRequest& request, const FWideString& dstURL, bool saving);
    bool priFinish(bool saving);
    bool priCancelling();
    void priSend(FUiIpObjectRequest& request);
    void priReportWritten(const FWideString& url);
    void priFireProgress();
    void priFireText(RelayEvent* event, const FWideString& text);

    int m_nState = kIdle;
    FIPManager* m_pPool = nullptr;
    bool m_bHoldsPool = false;
    bool m_bThumbSizeSet = false;
    int m_nThumbWidth = 0;
    int m_nThumbHeight = 0;
    std::unique_ptr<FImageFileListEntry> m_pCurEntry;
    unsigned char m_nCurKind = 0;
    bool m_bCancelPending = false;
    // Whether the destination was there before the conversion was sent: only a file this
    // request made may go to the trash when it is cancelled.
    bool m_bDstExisted = false;
    FUiIpObjectProcAndSaveReq m_SaveReq;
    FUiIpObjectCopyReq m_CopyReq;

    int m_nWaiting = 0;
    int m_nBatchTotal = 0;
    int m_nTaken = 0;
    FUiProgressQueueNode* m_pHead = nullptr;
    FUiProgressQueueNode* m_pTail = nullptr;
    double m_dLastProgress = 0.0;

    bool m_bBatchRunning = false;
    bool m_bNextBeginsBatch = true;
    bool m_bAwaiting = false;
    bool m_bAnswered = false;
    bool m_bOverwrite = false;
    bool m_bOverwriteAll = false;
    bool m_bCancelAnswered = false;

    RelayEvent* m_pOnImageInQueue = nullptr;
    RelayEvent* m_pOnImageInfo = nullptr;
    RelayEvent* m_pOnNoImage = nullptr;
    RelayEvent* m_pOnDstImageName = nullptr;
    RelayEvent* m_pOnDoImageProc = nullptr;
    RelayEvent* m_pOnProgress = nullptr;
    RelayEvent* m_pOnQueueEmpty = nullptr;
    RelayEvent* m_pOnImageError = nullptr;
    RelayEvent* m_pOnCancel = nullptr;
    RelayEvent* m_pOnShowMultiOverwrite = nullptr;
    RelayEvent* m_pOnShowOverwrite = nullptr;
    RelayEvent* m_pOnSetReply = nullptr;
    RelayEvent* m_pOnUpdateImage = nullptr;
    RelayEvent* m_pOnSetFileX = nullptr;
    RelayEvent* m_pOnSetFileY = nullptr;
    RelayEvent* m_pOnSetMultiOverwriteName = nullptr;
    RelayEvent* m_pOnSetOverwriteName = nullptr;
    // Stands for every event while the manager is destroyed.
    RelayEvent m_silent{FWideString("")};
};

// Copies every field of a save request, the status block included.
void CopyProcAndSaveRequest(FUiIpObjectProcAndSaveReq& to, const FUiIpObjectProcAndSaveReq& from);
void CopyCopyRequest(FUiIpObjectCopyReq& to, const FUiIpObjectCopyReq& from);

// Registers "PROGRESS_WIN_MGR".
bool RegisterProgressWindowCreator(FIUiObjectFactory* factory);
