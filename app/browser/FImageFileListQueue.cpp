// The thumbnail queue and the batch operations of the image file list, both advanced by
// Idle in time slices so that the window stays responsive.
#include <chrono>
#include <vector>

#include "FIPEngineService.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"

namespace
{

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

// Appends after the given tail (the queue's last node, or null for an empty queue) and
// answers the new node, so that a long run of appends never searches for the tail.
ThumbnailRequest* FImageFileList::priNewThumbnailRequest(ThumbnailRequest* tail)
{
    auto* node = new ThumbnailRequest;
    node->m_pRequest = std::make_unique<FIPManagerRequest>();
    node->m_pPrev = tail;
    if (tail != nullptr)
        tail->m_pNext = node;
    else
        m_pFirstRequest = node;
    return node;
}

ThumbnailRequest* FImageFileList::priQueueThumbnail(FImageFileListEntry* entry, int width, int height,
                                                    ThumbnailRequest* tail)
{
    ThumbnailRequest* node = priNewThumbnailRequest(tail);
    node->m_pEntry = entry;
    entry->m_nThumbReqWidth = width;
    entry->m_nThumbReqHeight = height;
    SetPreviewRequest(*node->m_pRequest, entry->m_usURL, width, height);
    return node;
}

void FImageFileList::priRemoveRequest(ThumbnailRequest* node)
{
    if (node->m_pPrev != nullptr)
        node->m_pPrev->m_pNext = node->m_pNext;
    else
        m_pFirstRequest = node->m_pNext;
    if (node->m_pNext != nullptr)
        node->m_pNext->m_pPrev = node->m_pPrev;
    priCancelPosted(node);
    delete node;
}

void FImageFileList::priCancelPosted(ThumbnailRequest* node)
{
    if (!node->m_pPosted || !node->m_pRequest->m_Async.IsInProgress())
        return;
    if (FIPEngineService* service = m_engine.Peek())
        service->Cancel(FIPEngineService::PostedKey(node->m_pPosted));
    node->m_pPosted.reset();
}

void FImageFileList::priDetachRequest(ThumbnailRequest* node)
{
    if (node->m_pRequest->m_Async.IsInProgress()) {
        node->m_pRequest->m_Async.RequestCancel();
        node->m_pEntry = nullptr;
        return;
    }
    priRemoveRequest(node);
}

void FImageFileList::priDropRequestsOf(const FImageFileListEntry* entry)
{
    if (entry == nullptr)
        return;
    for (ThumbnailRequest* node = m_pFirstRequest; node != nullptr;) {
        ThumbnailRequest* next = node->m_pNext;
        if (node->m_pEntry == entry)
            priDetachRequest(node);
        node = next;
    }
}

int FImageFileList::GetQueuedThumbnailCount() const
{
    int n = 0;
    for (const ThumbnailRequest* node = m_pFirstRequest; node != nullptr; node = node->m_pNext)
        ++n;
    return n;
}

bool FImageFileList::RequestThumbnails(int width, int height, void* context, FThumbnailDone callback)
{
    if (m_pHead == nullptr)
        return false;
    ThumbnailRequest* tail = m_pFirstRequest;
    while (tail != nullptr && tail->m_pNext != nullptr)
        tail = tail->m_pNext;
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (priPasses(e))
            tail = priQueueThumbnail(e, width, height, tail);
    m_nThumbWidth = width;
    m_nThumbHeight = height;
    m_pThumbnailContext = context;
    m_pfnThumbnailDone = callback;
    return true;
}

void FImageFileList::CancelPending()
{
    for (ThumbnailRequest* node = m_pFirstRequest; node != nullptr;) {
        ThumbnailRequest* next = node->m_pNext;
        if (node->m_pRequest->m_Async.IsInProgress())
            node->m_pRequest->m_Async.RequestCancel();
        else
            priRemoveRequest(node);
        node = next;
    }
}

void FImageFileList::ReleaseThumbnails()
{
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        e->ReleaseThumbnail();
}

void FImageFileList::Idle()
{
    priQueuePass();
    priBatchStep();
}

// Waiting requests are posted to the engine in one go (the pool queues what its managers
// cannot take); ended ones are collected. The engine runs them on its own thread; a pool
// handed in is pumped here, once a pass, so a long queue never freezes the window.
void FImageFileList::priQueuePass()
{
    if (m_pFirstRequest == nullptr || m_pIpMgr == nullptr)
        return;
    FIPEngineService* service = m_engine.Get();
    if (service != nullptr)
        service->Pump();
    std::vector<FImageFileListEntry*> done;
    for (ThumbnailRequest* node = m_pFirstRequest; node != nullptr;) {
        ThumbnailRequest* next = node->m_pNext;
        FIPManagerRequest& r = *node->m_pRequest;
        if (r.m_Async.GetState() == kInProgress && service != nullptr) {
            if (r.m_Async.IsCancelRequested() && !node->m_bCancelSent) {
                node->m_bCancelSent = true;
                service->Cancel(FIPEngineService::PostedKey(node->m_pPosted));
            }
            FIPJobResult result;
            if (service->TakePosted(node->m_pPosted, result)) {
                node->m_pPosted.reset();
                PutResultInRecord(std::move(result), r);
            }
        }
        switch (r.m_Async.GetState()) {
        case kInitialized:
            if (node->m_pEntry == nullptr || r.m_Async.IsCancelRequested()) {
                priRemoveRequest(node);
            } else if (service == nullptr) {
                r.m_Async.Fail(kErrInvalid, "No image-processing manager.");
            } else {
                node->m_pPosted = service->Post(JobOfRecord(r));
                r.m_Async.SetState(kInProgress);
            }
            break;
        case kCompleted:
            if (node->m_pEntry != nullptr && !r.m_Async.IsCancelRequested()) {
                if (r.m_eKind == kReqPreview)
                    TakeThumbnail(*node->m_pEntry, r.m_pOutputImage);
                done.push_back(node->m_pEntry);
            }
            priRemoveRequest(node);
            break;
        case kCancelled:
        case kError:
            priRemoveRequest(node);
            break;
        default:
            break;
        }
        node = next;
    }
    // Reported after the walk, since a callback may change the queue or the list.
    const unsigned removals = m_uRemovals;
    for (FImageFileListEntry* entry : done) {
        if (m_pfnThumbnailDone == nullptr)
            break;
        if (removals != m_uRemovals && !priContains(entry))
            continue;
        m_pfnThumbnailDone(m_pThumbnailContext, entry);
    }
}

bool FImageFileList::priContains(const FImageFileListEntry* entry) const
{
    for (const FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (e == entry)
            return true;
    return false;
}

void FImageFileList::priResetBatch()
{
    m_pBatchEntry = nullptr;
    m_pBatchMgr = nullptr;
    m_pBeforeEachContext = nullptr;
    m_pfnBeforeEach = nullptr;
    m_pAfterEachContext = nullptr;
    m_pfnAfterEach = nullptr;
    m_eBatch = kBatchNone;
    ++m_uBatchGeneration;
}

std::vector<FWideString> FImageFileList::TakeUnwrittenChanges()
{
    std::vector<FWideString> taken;
    taken.swap(m_unwrittenChanges);
    return taken;
}

void FImageFileList::ClearPendingFlags()
{
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        e->m_bPending = false;
}

void FImageFileList::priBatchStep()
{
    if (m_bInIdle)
        return;
    m_bInIdle = true;
    const auto start = std::chrono::steady_clock::now();
    while (m_eBatch != kBatchNone && SecondsSince(start) < kBatchBudget) {
        const unsigned generation = m_uBatchGeneration;
        FImageFileListEntry* e = m_pBatchEntry;
        if (e == nullptr) {
            priResetBatch();
            break;
        }
        FImageFileListEntry* next = e->m_pNext;
        if (e->m_bPending) {
            e->m_bPending = false;
            bool report = true;
            FImageFileListEntry* reported = e;
            switch (m_eBatch) {
            case kBatchRotateCW:
            case kBatchRotateCCW:
                if (m_pfnBeforeEach != nullptr && !m_pfnBeforeEach(m_pBeforeEachContext, e))
                    report = false;
                else if (!e->RotateImage(m_pBatchMgr, m_eBatch == kBatchRotateCW) && e->m_bChangeUnwritten)
                    m_unwrittenChanges.push_back(e->m_usURL);
                break;
            case kBatchMark:
            case kBatchUnmark:
                if (!e->MarkImage(m_pBatchMgr, m_eBatch == kBatchMark) && e->m_bChangeUnwritten)
                    m_unwrittenChanges.push_back(e->m_usURL);
                break;
            case kBatchLock:
            case kBatchUnlock:
                e->SetLock(m_eBatch == kBatchLock);
                break;
            case kBatchDelete:
                // Asked before the file is touched: a refusal must be able to keep it.
                if (m_pfnBeforeEach != nullptr && !m_pfnBeforeEach(m_pBeforeEachContext, e)) {
                    report = false;
                } else if (e->DeleteImage()) {
                    Remove(e);
                    reported = nullptr;
                }
                break;
            default:
                break;
            }
            if (generation != m_uBatchGeneration)
                break;
            if (report && m_pfnAfterEach != nullptr && !m_pfnAfterEach(m_pAfterEachContext, reported)) {
                priResetBatch();
                break;
            }
            if (generation != m_uBatchGeneration)
                break;
        }
        while (next != nullptr && !next->m_bPending)
            next = next->m_pNext;
        m_pBatchEntry = next;
        if (next == nullptr)
            priResetBatch();
    }
    m_bInIdle = false;
}

bool FImageFileList::priStartBatch(BatchKind kind, FIPManager* pool, void* approvalContext,
                                   FEntryApproval approval, bool setApproval, void* stepContext,
                                   FEntryStep step)
{
    FImageFileListEntry* first = nullptr;
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext) {
        if (e->m_bPending) {
            first = e;
            break;
        }
    }
    if (first == nullptr)
        return false;
    const void* keptApprovalContext = m_pBeforeEachContext;
    const FEntryApproval keptApproval = m_pfnBeforeEach;
    priResetBatch();
    if (setApproval) {
        m_pBeforeEachContext = approvalContext;
        m_pfnBeforeEach = approval;
    } else {
        m_pBeforeEachContext = const_cast<void*>(keptApprovalContext);
        m_pfnBeforeEach = keptApproval;
    }
    m_pAfterEachContext = stepContext;
    m_pfnAfterEach = step;
    m_pBatchMgr = pool;
    m_pBatchEntry = first;
    m_eBatch = kind;
    return true;
}

bool FImageFileList::RotateSelected(FIPManager* pool, bool clockwise, void* approvalContext,
                                    FEntryApproval approval, void* stepContext, FEntryStep step)
{
    if (pool == nullptr || FirstSelected() == nullptr)
        return false;
    ClearPendingFlags();
    // Pictures from other cameras turn too: their turns are kept beside them.
    for (FImageFileListEntry* e = FirstSelected(); e != nullptr; e = e->m_pNext)
        e->m_bPending = e->m_bSelected;
    return priStartBatch(clockwise ? kBatchRotateCW : kBatchRotateCCW, pool, approvalContext, approval, true,
                         stepContext, step);
}

bool FImageFileList::MarkSelected(FIPManager* pool, bool mark, void* stepContext, FEntryStep step)
{
    if (pool == nullptr || FirstSelected() == nullptr)
        return false;
    ClearPendingFlags();
    for (FImageFileListEntry* e = FirstSelected(); e != nullptr; e = e->m_pNext)
        e->m_bPending = e->m_bSelected && e->m_bRaw && e->m_bMarked != mark;
    return priStartBatch(mark ? kBatchMark : kBatchUnmark, pool, nullptr, nullptr, false, stepContext, step);
}

bool FImageFileList::LockSelected(bool lock, void* stepContext, FEntryStep step)
{
    if (FirstSelected() == nullptr)
        return false;
    ClearPendingFlags();
    for (FImageFileListEntry* e = FirstSelected(); e != nullptr; e = e->m_pNext)
        e->m_bPending = e->m_bSelected && e->m_bLocked != lock;
    return priStartBatch(lock ? kBatchLock : kBatchUnlock, nullptr, nullptr, nullptr, false, stepContext,
                         step);
}

bool FImageFileList::DeleteSelected(void* approvalContext, FEntryApproval approval, void* stepContext,
                                    FEntryStep step)
{
    if (FirstSelected() == nullptr)
        return false;
    ClearPendingFlags();
    for (FImageFileListEntry* e = FirstSelected(); e != nullptr; e = e->m_pNext)
        e->m_bPending = e->m_bSelected && !e->m_bLocked;
    return priStartBatch(kBatchDelete, nullptr, approvalContext, approval, true, stepContext, step);
}

bool FImageFileList::DeleteUnlockedRaw(void* approvalContext, FEntryApproval approval, void* stepContext,
                                       FEntryStep step)
{
    if (m_pHead == nullptr)
        return false;
    ClearPendingFlags();
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        e->m_bPending = e->m_bRaw && !e->m_bLocked;
    return priStartBatch(kBatchDelete, nullptr, approvalContext, approval, true, stepContext, step);
}
