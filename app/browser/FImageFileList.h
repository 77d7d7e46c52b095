#pragma once

// The model behind every thumbnail browser: the entries of one folder as a doubly linked
// chain, the folder readers (synchronous, or on a scan thread of their own), the filter and
// its counters, sorting, the thumbnail queue and the batch operations that Idle advances.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "FWideString.h"

#include "FEngineAccess.h"
#include "FIPEngineService.h"

class FIPManager;
class FIPManagerRequest;
class FIThread;
class FImageFileListEntry;

struct ImageCount {
    int m_nCount = 0;
    int64_t m_nBytes = 0;
};

enum BatchKind : int {
    kBatchNone = 1,
    kBatchRotateCW = 2,
    kBatchRotateCCW = 3,
    kBatchMark = 4,
    kBatchUnmark = 5,
    kBatchLock = 6,
    kBatchUnlock = 7,
    kBatchDelete = 8,
};

// Counter indices of m_aCounts.
enum : int {
    kCountAll = 0,
    kCountVisible = 1,
    kCountMarked = 2,
    kCountLocked = 3,
    kCountTransferred = 4,
    kCountSelected = 5,
    kCountRaw = 6,
    kCountKinds = 7,
};

// Bits of AnyMatching.
enum : int {
    kMatchSelected = 0x0001,
    kMatchNotSelected = 0x0002,
    kMatchRaw = 0x0004,
    kMatchNotRaw = 0x0008,
    kMatchCamera = 0x0010,
    kMatchNotCamera = 0x0020,
    kMatchTransferred = 0x0040,
    kMatchNotTransferred = 0x0080,
    kMatchMarked = 0x0100,
    kMatchNotMarked = 0x0200,
    kMatchLocked = 0x0400,
    kMatchNotLocked = 0x0800,
    kMatchVisible = 0x1000,
    kMatchNotVisible = 0x2000,
};

using FEntryApproval = bool (*)(void* context, FImageFileListEntry* entry);
using FEntryStep = bool (*)(void* context, FImageFileListEntry* entry);
using FThumbnailDone = void (*)(void* context, FImageFileListEntry* entry);

// One queued thumbnail. The entry is null once its entry left the list.
struct ThumbnailRequest {
    ThumbnailRequest* m_pPrev = nullptr;
    ThumbnailRequest* m_pNext = nullptr;
    FImageFileListEntry* m_pEntry = nullptr;
    // What is asked, and how far it got: in progress once posted to the engine.
    std::unique_ptr<FIPManagerRequest> m_pRequest;
    std::shared_ptr<FIPEngineService::Posted> m_pPosted;
    bool m_bCancelSent = false;
};

// Image files by name: ".q7f", ".tif", ".tiff", ".jpg", ".jpeg", without regard to case.
bool IsImageFileName(const FWideString& name);
// Files of a folder that count as images and are not empty; false when the folder cannot
// be opened.
bool CountImageFilesInFolder(const FWideString& folderURL, int* count, int64_t* bytes);
// A byte total as the counts show it: "(12.3 MB)".
FWideString ByteSizeInParentheses(int64_t bytes);

class FImageFileList
{
public:
    // The process-wide pool, unless another manager is given (tests, fakes).
    FImageFileList();
    explicit FImageFileList(FIPManager* pool);
    // Stops and joins a running scan, empties the list and ends every queued thumbnail.
    ~FImageFileList();
    FImageFileList(const FImageFileList&) = delete;
    FImageFileList& operator=(const FImageFileList&) = delete;

    // Folder readers. ReadFolder lists only raw files of a camera folder and leaves out
    // files whose properties cannot be read; the scan keeps both.
    bool ReadFolder(FIPManager* pool, const FWideString& folderURL);
    // False while a scan runs or when the thread cannot start. Until IsScanDone answers
    // true the list belongs to the scan: call nothing else on it.
    bool StartScan(FIPManager* pool, const FWideString& folderURL);
    bool IsScanDone();
    // ReadFolder in slices, for the user-interface thread: BeginRead empties the list and
    // lists the folder (false, and nothing to continue, when it cannot be opened). Each
    // ContinueRead reads files for about the budget, at least kReadSliceFiles images, and
    // answers true once the list holds them all, sorted; until then the list stays empty.
    // Clear, ReadFolder and another BeginRead drop a read under way.
    bool BeginRead(FIPManager* pool, const FWideString& folderURL);
    bool ContinueRead(double budgetSeconds);
    bool IsReading() const { return m_pRead != nullptr; }

    void Append(FImageFileListEntry* entry);
    void InsertBefore(FImageFileListEntry* entry, FImageFileListEntry* next);
    void InsertAfter(FImageFileListEntry* entry, FImageFileListEntry* prev);
    void InsertSorted(FImageFileListEntry* entry);
    // Drops the entry's queued thumbnails first, then deletes it and refilters.
    void Remove(FImageFileListEntry* entry);
    void Clear();
    bool Add(FImageFileListEntry* entry);
    void AddCopies(const FImageFileListEntry* first);
    FImageFileListEntry* AddFile(FIPManager* pool, const FWideString& fileURL);

    void StoreSortMethod(int method);
    void StoreReverseSort(bool reverse);
    void SetFilterMethod(int method);
    void SetBriOnly(bool rawOnly);
    void Refilter();
    void DeselectHidden();

    // Ignores case, so of two files whose names differ only in case the first is found.
    FImageFileListEntry* FindByURL(const FWideString& url) const;
    bool SelectByURL(const FWideString& url, bool select);
    FImageFileListEntry* FirstSelected() const;
    FImageFileListEntry* FirstVisible() const;
    FImageFileListEntry* FirstSelectedRaw() const;
    FImageFileListEntry* FirstRawSelectedOf(const FImageFileListEntry* entry) const;
    bool AnyMatching(int flags) const;
    int GetCount() const;
    int GetSelectedCount() const;
    bool AllSelectedRawMarked() const;
    bool AllSelectedLocked() const;
    int ForEach(void* context, int (*callback)(void*, FImageFileListEntry*));
    void ForEachVisible(void* context, void (*callback)(void*, FImageFileListEntry*));
    // The entry may be a copy held elsewhere: the list's own entry of that URL is the start.
    FImageFileListEntry* GetPrevVisible(const FImageFileListEntry* entry) const;
    FImageFileListEntry* GetNextVisible(const FImageFileListEntry* entry) const;

    // Sorting.
    void SetSort(int method, bool reverse);
    void SetSortMethod(int method);
    void SetReverseSort(bool reverse);
    void Resort();
    bool Sort(int method);
    void Reverse();

    // Thumbnail queue and batch operations, advanced by Idle.
    bool RequestThumbnails(int width, int height, void* context, FThumbnailDone callback);
    void CancelPending();
    void ReleaseThumbnails();
    void Idle();
    bool RotateSelected(FIPManager* pool, bool clockwise, void* approvalContext, FEntryApproval approval,
                        void* stepContext, FEntryStep step);
    bool MarkSelected(FIPManager* pool, bool mark, void* stepContext, FEntryStep step);
    bool LockSelected(bool lock, void* stepContext, FEntryStep step);
    // The approval is asked before each file is touched; a refusal keeps file and entry.
    bool DeleteSelected(void* approvalContext, FEntryApproval approval, void* stepContext, FEntryStep step);
    bool DeleteUnlockedRaw(void* approvalContext, FEntryApproval approval, void* stepContext,
                           FEntryStep step);
    void ClearPendingFlags();
    bool IsBatchRunning() const { return m_eBatch != kBatchNone; }
    // URLs of the files whose mark or rotation a batch could not write, oldest
    // first, handed over once: the window that started the batch tells the user.
    std::vector<FWideString> TakeUnwrittenChanges();
    bool HasQueuedThumbnails() const { return m_pFirstRequest != nullptr; }
    int GetQueuedThumbnailCount() const;

    // Seconds of batch work per Idle call.
    static constexpr double kBatchBudget = 0.008;
    // Thumbnail jobs at the engine at once.
    static constexpr int kPostedAtOnce = 32;
    // So a small folder is read in the command that asked for it.
    static constexpr int kReadSliceFiles = 16;

    FIPManager* m_pIpMgr = nullptr;
    // The thumbnail queue's way to the engine.
    FEngineAccess m_engine;
    FWideString m_usFolderURL;
    bool m_bInIdle = false;
    int m_nSortMethod = 1;
    bool m_bReverse = false;
    int m_nFilterMethod = 1;
    bool m_bRawOnly = false;
    BatchKind m_eBatch = kBatchNone;
    FImageFileListEntry* m_pHead = nullptr;
    FImageFileListEntry* m_pTail = nullptr;
    FImageFileListEntry* m_pBatchEntry = nullptr;
    FIPManager* m_pBatchMgr = nullptr;
    void* m_pBeforeEachContext = nullptr;
    FEntryApproval m_pfnBeforeEach = nullptr;
    void* m_pAfterEachContext = nullptr;
    FEntryStep m_pfnAfterEach = nullptr;
    void* m_pThumbnailContext = nullptr;
    FThumbnailDone m_pfnThumbnailDone = nullptr;
    ThumbnailRequest* m_pFirstRequest = nullptr;
    int m_nThumbWidth = 0;
    int m_nThumbHeight = 0;
    ImageCount m_aCounts[kCountKinds];
    FIThread* m_pScanThread = nullptr;
    FIPManager* m_pScanMgr = nullptr;
    FWideString m_usScanURL;

    // Test hook: called by the scan thread after each file it placed.
    void (*m_pfnScanProgress)(void* context, int placed) = nullptr;
    void* m_pScanProgressContext = nullptr;

private:
    friend int ScanThreadMain(void* list);

public:
    // A folder read under way (defined with the list's code).
    struct FolderRead;

private:
    std::unique_ptr<FolderRead> priOpenRead(FIPManager* pool, const FWideString& folderURL, bool scan,
                                            bool listOnThread);
    std::unique_ptr<FImageFileListEntry> priReadOne(const FolderRead& read, const FWideString& name);
    void priFinishRead();

    bool priPasses(const FImageFileListEntry* entry) const;
    void priCountEntry(const FImageFileListEntry* entry);
    bool priRead(FIPManager* pool, const FWideString& folderURL, bool scan);
    void priUnlink(FImageFileListEntry* entry);
    void priResetBatch();
    bool priStartBatch(BatchKind kind, FIPManager* pool, void* approvalContext, FEntryApproval approval,
                       bool setApproval, void* stepContext, FEntryStep step);
    ThumbnailRequest* priQueueThumbnail(FImageFileListEntry* entry, int width, int height,
                                        ThumbnailRequest* tail);
    ThumbnailRequest* priNewThumbnailRequest(ThumbnailRequest* tail);
    std::unique_ptr<FImageFileListEntry> priPrepareOne(const FolderRead& read, const FWideString& name,
                                                       bool& asked);
    void priAskBatch(const FolderRead& read, std::vector<std::unique_ptr<FImageFileListEntry>>& batch,
                     const std::vector<bool>& begun);
    void priRemoveRequest(ThumbnailRequest* node);
    // A posted job still running is cancelled; its result is dropped when it ends.
    void priCancelPosted(ThumbnailRequest* node);
    void priDropRequestsOf(const FImageFileListEntry* entry);
    void priDetachRequest(ThumbnailRequest* node);
    void priQueuePass();
    void priBatchStep();
    void priStopScan();
    bool priContains(const FImageFileListEntry* entry) const;

    std::atomic<bool> m_bStopScan{false};
    std::unique_ptr<FolderRead> m_pRead;
    // Changes whenever a batch starts or ends, so a step can tell that a callback
    // replaced or ended the batch it runs in.
    unsigned m_uBatchGeneration = 0;
    // Counts entries deleted, so a report can tell whether its entry may have gone.
    unsigned m_uRemovals = 0;
    std::vector<FWideString> m_unwrittenChanges;
};
