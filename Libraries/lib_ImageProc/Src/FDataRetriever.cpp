#include "FDataRetriever.h"

#include "FDataObject.h"
#include "FLoaderMailbox.h"

#include "FCache.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FWinThread.h"

#include <cstdio>
#include <memory>

namespace
{

constexpr const char* kUnsupported = "File type not supported.";
// The destructor waits for a running load at most nine times 0.109 s.
constexpr int kDestroyWaitMs = 9 * 109;

// Loader request type of each information sub-kind.
constexpr int kInfoLoaderType[] = {kLoaderImageCount,  kLoaderImage,      kLoaderCamfile,
                                   kLoaderCAMbCamfile, kLoaderProperties, kLoaderUniqueID};

// Outcome only: the caller's cancel byte is the caller's own.
void CopyOutcome(FAsyncStatus& to, const FAsyncStatus& from)
{
    to.SetProgress(from.GetProgress());
    const int state = from.GetState();
    if (state == kInProgress) {
        to.SetState(kInProgress);
        return;
    }
    to.m_iErrorCode.store(from.GetErrorCode());
    to.m_usErrorText = from.m_usErrorText;
    to.SetState(state);
}

// The file's URL and identity, then what part of it the block holds.
FWideString priLabel(const FWideString& url, const FWideString& id, const FWideString& part)
{
    FWideString label(url);
    label += "-";
    label += id;
    label += part;
    return label;
}

bool EndsWithNoCase(const FWideString& url, const FWideString& extension)
{
    const int n = extension.GetLength();
    if (n == 0 || url.GetLength() < n)
        return false;
    const char16_t* tail = url.GetBuffer() + url.GetLength() - n;
    for (int i = 0; i < n; ++i) {
        char16_t a = tail[i];
        char16_t b = extension.GetBuffer()[i];
        a = (a >= u'A' && a <= u'Z') ? char16_t(a + 32) : a;
        b = (b >= u'A' && b <= u'Z') ? char16_t(b + 32) : b;
        if (a != b)
            return false;
    }
    return true;
}

class FDataRetriever final : public FIDataRetriever
{
public:
    explicit FDataRetriever(std::vector<FLoaderTableEntry> table) : m_pCache(GetGlobalCache())
    {
        for (FLoaderTableEntry& entry : table)
            m_table.push_back({nullptr, std::move(entry)});
    }
    ~FDataRetriever() override;

    void Idle() override;
    void Request(FDataRetrieverRequest* req) override;

private:
    struct FTableRow {
        FILoader* m_pLoader;
        FLoaderTableEntry m_entry;
    };

    FILoader* priFindLoader(const FDataRetrieverRequest& req);
    void HandleInfoRequest(FDataRetrieverRequest* req);
    void HandleDataRequest(FDataRetrieverRequest* req);
    void priHandleModifyRequest(FDataRetrieverRequest* req);
    FDataObject* priGetCacheDataImage(FDataRetrieverRequest* req, FILoader* loader);
    FDataObject* priGetCacheDataCamfile(FDataRetrieverRequest* req, FILoader* loader);
    bool priGetUniqueID(FDataRetrieverRequest* req, FILoader* loader, FWideString& id);
    bool priRunToEnd(FDataRetrieverRequest* req, FILoader* loader, FLoaderRequest& local);
    void priBegin(FDataRetrieverRequest* req, FILoader* loader, int type);
    void priOwnIdle();
    void priCopyResults();
    void priFinish();
    void priDeleteLoaderRequest();
    void priAbandonLoaderRequest();

    std::vector<FTableRow> m_table;
    FCache* m_pCache;
    FDataRetrieverRequest* m_pCurrent = nullptr;
    std::unique_ptr<FLoaderRequest> m_pLoaderReq;
    FILoader* m_pLoader = nullptr;
    // The handle of the current data request, and whether it waits for a load of the
    // same block that another retriever runs.
    FDataObject* m_pHandle = nullptr;
    bool m_bWaitingForBlock = false;
};

FDataRetriever::~FDataRetriever()
{
    // Nothing was posted for a block another retriever loads, and its status is not ours.
    if (m_bWaitingForBlock) {
        m_pCurrent->m_Async.Cancel();
        priFinish();
    }
    if (m_pLoaderReq) {
        m_pLoaderReq->m_Async.RequestCancel();
        for (int waited = 0; waited < kDestroyWaitMs && m_pLoaderReq->m_Async.IsInProgress(); ++waited)
            SleepMilliseconds(1);
        if (m_pLoaderReq->m_Async.IsInProgress()) {
            DebugTrace("~FDataRetriever(): load request still busy in destructor.\n");
            priAbandonLoaderRequest();
        } else {
            try {
                priOwnIdle();
            } catch (...) {
                // A destructor must not throw.
            }
        }
    }
    if (m_pCurrent && m_pCurrent->m_Async.IsInProgress()) {
        DebugTrace("~FDataRetriever: Current request still active in destructor\n");
        m_pCurrent->m_Async.Cancel();
    }
    m_pCurrent = nullptr;
    if (m_pHandle) {
        m_pHandle->Release();
        m_pHandle = nullptr;
    }
    priDeleteLoaderRequest();
    for (FTableRow& row : m_table) {
        if (row.m_pLoader)
            row.m_pLoader->Destroy();
        row.m_pLoader = nullptr;
    }
}

void FDataRetriever::Request(FDataRetrieverRequest* req)
{
    if (m_pCurrent) {
        req->m_Async.Fail(kErrBusy, "FDataRetriever");
        return;
    }
    try {
        switch (req->m_eKind) {
        case kRetrieveInfo:
            HandleInfoRequest(req);
            return;
        case kRetrieveData:
            HandleDataRequest(req);
            return;
        case kRetrieveModify:
            priHandleModifyRequest(req);
            return;
        default:
            req->m_Async.Fail(kErrInvalid, "FDataRetriever:Request unknown request");
            return;
        }
    } catch (const FException& e) {
        char text[kDebugTraceLimit];
        std::snprintf(text, sizeof(text), "FDataRetriever: Caught unhandled Brisal exception: %s (%s)",
                      e.GetDescription(), e.GetMessage());
        priFinish();
        req->m_Async.Fail(kErrException, text);
    } catch (...) {
        priFinish();
        req->m_Async.Fail(kErrException, "FDataRetriever: Caught unhandled unknown exception");
    }
}

void FDataRetriever::Idle()
{
    for (FTableRow& row : m_table) {
        if (row.m_pLoader)
            row.m_pLoader->Idle();
    }
    priOwnIdle();
}

FILoader* FDataRetriever::priFindLoader(const FDataRetrieverRequest& req)
{
    for (FTableRow& row : m_table) {
        for (const FWideString& extension : row.m_entry.m_extensions) {
            if (!EndsWithNoCase(req.m_usFileName, extension))
                continue;
            if (!row.m_pLoader)
                row.m_pLoader = row.m_entry.m_pfnFactory();
            return row.m_pLoader;
        }
    }
    return nullptr;
}

void FDataRetriever::priBegin(FDataRetrieverRequest* req, FILoader* loader, int type)
{
    StartRequest(req->m_Async);
    m_pCurrent = req;
    m_pLoader = loader;
    m_pLoaderReq = std::make_unique<FLoaderRequest>();
    m_pLoaderReq->m_usFileURL = req->m_usFileName;
    m_pLoaderReq->m_eType = type;
}

void FDataRetriever::HandleInfoRequest(FDataRetrieverRequest* req)
{
    FILoader* loader = priFindLoader(*req);
    if (!loader) {
        req->m_Async.Fail(kErrUnsupported, kUnsupported);
        return;
    }
    const intptr_t subKind = req->m_iSubKind;
    if (subKind < kInfoImageCount || subKind > kInfoUniqueID) {
        req->m_Async.Fail(kErrInvalid, "FDataRetriever:HandleInfoRequest unknown info request");
        return;
    }
    priBegin(req, loader, kInfoLoaderType[subKind]);
    // An index for images, a list for properties and identity.
    m_pLoaderReq->m_iArg = req->m_iArg;
    loader->Request(m_pLoaderReq.get());
    priOwnIdle();
}

void FDataRetriever::HandleDataRequest(FDataRetrieverRequest* req)
{
    FILoader* loader = priFindLoader(*req);
    if (!loader) {
        req->m_Async.Fail(kErrUnsupported, kUnsupported);
        return;
    }
    const intptr_t subKind = req->m_iSubKind;
    FDataObject* handle = nullptr;
    if (subKind == kDataImage)
        handle = priGetCacheDataImage(req, loader);
    else if (subKind == kDataCamfile || subKind == kDataCAMbCamfile)
        handle = priGetCacheDataCamfile(req, loader);
    else {
        req->m_Async.Fail(kErrInvalid, "FDataRetriever:HandleDataRequest unknown data request");
        return;
    }
    if (!handle)
        return;
    req->m_aiResult[0] = reinterpret_cast<intptr_t>(static_cast<FIDataObject*>(handle));
    const int type = subKind == kDataImage     ? kLoaderImage
                     : subKind == kDataCamfile ? kLoaderCamfile
                                               : kLoaderCAMbCamfile;
    priBegin(req, loader, type);
    m_pHandle = handle;
    if (subKind == kDataImage) {
        m_pLoaderReq->m_iArg = req->m_iArg;
        m_pLoaderReq->m_iReduction = req->m_iReduction;
        m_pLoaderReq->m_bPreview = req->m_bPreview;
        m_pLoaderReq->m_pTarget = handle->GetImagePixmapPtr();
    } else {
        m_pLoaderReq->SetBuffer(handle->GetCamfileData());
    }
    const FAsyncStatus& block = *handle->GetLoadStatus();
    CopyOutcome(m_pLoaderReq->m_Async, block);
    // Another retriever is filling the block: wait for its load instead of racing it.
    if (block.IsInProgress()) {
        m_bWaitingForBlock = true;
        return;
    }
    if (block.GetState() != kCompleted)
        loader->Request(m_pLoaderReq.get());
    priOwnIdle();
}

void FDataRetriever::priHandleModifyRequest(FDataRetrieverRequest* req)
{
    FILoader* loader = priFindLoader(*req);
    if (!loader) {
        req->m_Async.Fail(kErrUnsupported,
                          "FDataRetriever::priHandleModifyRequest: File type not supported.");
        return;
    }
    priBegin(req, loader, kLoaderModify);
    m_pLoaderReq->m_iArg = req->m_iSubKind;
    loader->Request(m_pLoaderReq.get());
    priOwnIdle();
}

bool FDataRetriever::priRunToEnd(FDataRetrieverRequest* req, FILoader* loader, FLoaderRequest& local)
{
    loader->Request(&local);
    while (local.m_Async.IsInProgress() || loader->IsHolding(local))
        loader->Idle();
    if (local.m_Async.GetState() == kCompleted)
        return true;
    CopyOutcome(req->m_Async, local.m_Async);
    return false;
}

bool FDataRetriever::priGetUniqueID(FDataRetrieverRequest* req, FILoader* loader, FWideString& id)
{
    std::unique_ptr<FPropList> list = std::make_unique<FPropList>(nullptr, "UniqueIDProp");
    FLoaderRequest local;
    local.m_usFileURL = req->m_usFileName;
    local.m_eType = kLoaderUniqueID;
    local.SetList(list.get());
    if (!priRunToEnd(req, loader, local))
        return false;
    id = list->GetString(FWideString("UNIQUEID"), FWideString("NO-UNIQUEID"));
    return true;
}

FDataObject* FDataRetriever::priGetCacheDataImage(FDataRetrieverRequest* req, FILoader* loader)
{
    FWideString id;
    if (!priGetUniqueID(req, loader, id))
        return nullptr;
    FWideString frame;
    frame.Format("-FileImage-%d", int(req->m_iArg));
    if (req->m_iReduction > 0) {
        FWideString reduced;
        reduced.Format("-Reduced-%d", req->m_iReduction);
        frame += reduced;
    }
    const FWideString label = priLabel(req->m_usFileName, id, frame);
    FCacheObject* block = m_pCache->Get(label.GetBuffer(), 0);
    if (!block) {
        FLoaderRequest info;
        info.m_usFileURL = req->m_usFileName;
        info.m_eType = kLoaderImage;
        info.m_iArg = req->m_iArg;
        info.m_iReduction = req->m_iReduction;
        if (!priRunToEnd(req, loader, info))
            return nullptr;
        block = NewFrameBlock(*m_pCache, label, info.m_iImageKind, info.m_iPixelType, info.m_iColumns,
                              int(info.m_iRows));
        if (!block) {
            req->m_Async.Fail(kErrOutOfMemory, "FDataRetriever: no cache memory for the image.");
            return nullptr;
        }
    }
    auto* handle = new FDataObject(0, block);
    block->Release();
    return handle;
}

FDataObject* FDataRetriever::priGetCacheDataCamfile(FDataRetrieverRequest* req, FILoader* loader)
{
    FWideString id;
    if (!priGetUniqueID(req, loader, id))
        return nullptr;
    const bool camb = req->m_iSubKind == kDataCAMbCamfile;
    const FWideString label =
        priLabel(req->m_usFileName, id, FWideString(camb ? "-FileCAMbFile" : "-FileCamfile"));
    FCacheObject* block = m_pCache->Get(label.GetBuffer(), 0);
    if (!block) {
        FLoaderRequest info;
        info.m_usFileURL = req->m_usFileName;
        info.m_eType = camb ? kLoaderCAMbCamfile : kLoaderCamfile;
        if (!priRunToEnd(req, loader, info))
            return nullptr;
        block = NewCamfileBlock(*m_pCache, label, info.m_iColumns, int(info.m_iArg));
        if (!block) {
            req->m_Async.Fail(kErrOutOfMemory, "FDataRetriever: no cache memory for the camera data.");
            return nullptr;
        }
    }
    auto* handle = new FDataObject(1, block);
    block->Release();
    return handle;
}

void FDataRetriever::priOwnIdle()
{
    if (!m_pCurrent)
        return;
    if (!m_pLoaderReq)
        throw FException("FDataRetriever::Idle() current request has no load request.");
    FLoaderRequest& loaderReq = *m_pLoaderReq;
    // The other side may finish between two reads: each decision rests on one read of the
    // state, taken before the outcome is copied, so nothing ends with a copy still in progress.
    if (m_bWaitingForBlock) {
        const FAsyncStatus& block = *m_pHandle->GetLoadStatus();
        if (block.IsInProgress()) {
            m_pCurrent->m_Async.SetProgress(block.GetProgress());
            return;
        }
        CopyOutcome(loaderReq.m_Async, block);
        m_bWaitingForBlock = false;
    }
    if (m_pCurrent->m_Async.IsCancelRequested())
        loaderReq.m_Async.RequestCancel();
    const int state = loaderReq.m_Async.GetState();
    CopyOutcome(m_pCurrent->m_Async, loaderReq.m_Async);
    if (m_pCurrent->m_eKind == kRetrieveData) {
        FAsyncStatus& block = *m_pHandle->GetLoadStatus();
        CopyOutcome(block, loaderReq.m_Async);
    }
    if (state == kInProgress)
        return;
    priCopyResults();
    if (m_pCurrent->m_eKind == kRetrieveData && state != kCompleted) {
        m_pHandle->Release();
        m_pCurrent->m_aiResult[0] = 0;
    }
    m_pHandle = nullptr;
    priFinish();
}

void FDataRetriever::priCopyResults()
{
    if (m_pCurrent->m_eKind != kRetrieveInfo)
        return;
    const FLoaderRequest& loaderReq = *m_pLoaderReq;
    switch (m_pCurrent->m_iSubKind) {
    case kInfoImageCount:
        m_pCurrent->m_iArg = loaderReq.m_iArg;
        return;
    case kInfoImage:
        m_pCurrent->m_aiResult[0] = loaderReq.m_iColumns;
        m_pCurrent->m_aiResult[1] = loaderReq.m_iRows;
        m_pCurrent->m_aiResult[2] = loaderReq.m_iImageKind;
        m_pCurrent->m_aiResult[3] = loaderReq.m_iPixelType;
        return;
    case kInfoCamfile:
    case kInfoCAMbCamfile:
        // Both kinds of camera data answer with their size and kind code.
        m_pCurrent->m_iArg = loaderReq.m_iArg;
        m_pCurrent->m_aiResult[0] = loaderReq.m_iColumns;
        return;
    }
}

void FDataRetriever::priFinish()
{
    if (m_pHandle) {
        m_pHandle->Release();
        if (m_pCurrent)
            m_pCurrent->m_aiResult[0] = 0;
        m_pHandle = nullptr;
    }
    m_bWaitingForBlock = false;
    priDeleteLoaderRequest();
    m_pCurrent = nullptr;
    m_pLoader = nullptr;
}

void FDataRetriever::priDeleteLoaderRequest()
{
    if (!m_pLoaderReq)
        return;
    // The thread may still be letting go of a finished request: it deletes the record then,
    // so that nobody waits for it here.
    if (m_pLoader && m_pLoader->IsHolding(*m_pLoaderReq)) {
        FLoaderRequest* held = m_pLoaderReq.release();
        m_pLoader->Abandon(*held, [held] { delete held; });
        return;
    }
    m_pLoaderReq.reset();
}

void FDataRetriever::priAbandonLoaderRequest()
{
    FLoaderRequest* orphan = m_pLoaderReq.release();
    FDataObject* handle = m_pHandle;
    m_pHandle = nullptr;
    if (m_pCurrent)
        m_pCurrent->m_aiResult[0] = 0;
    if (handle) {
        // No later request may find, or load into, a block a stray thread still writes.
        handle->GetBlock()->SetLabel(u"");
        handle->GetLoadStatus()->Cancel();
    }
    m_pLoader->Abandon(*orphan, [orphan, handle] {
        delete orphan;
        if (handle)
            handle->Release();
    });
}

} // namespace

std::vector<FLoaderTableEntry> GetDefaultLoaderTable()
{
    return {
        {&CreateBRIbLoader, {FWideString(".xxx"), FWideString(".bri"), FWideString(".q7f")}},
        {&CreateTiffLoader, {FWideString(".tif")}},
        {&CreateTiffLoader, {FWideString(".tiff")}},
        {&CreateJPEGLoader, {FWideString(".jpg")}},
        {&CreateJPEGLoader, {FWideString(".jpeg")}},
    };
}

bool IsNonRawImageFile(const FWideString& url)
{
    for (const FLoaderTableEntry& entry : GetDefaultLoaderTable()) {
        if (entry.m_pfnFactory != &CreateJPEGLoader && entry.m_pfnFactory != &CreateTiffLoader)
            continue;
        for (const FWideString& extension : entry.m_extensions)
            if (EndsWithNoCase(url, extension))
                return true;
    }
    return false;
}

FIDataRetriever* CreateDataRetriever()
{
    return CreateDataRetriever(GetDefaultLoaderTable());
}

FIDataRetriever* CreateDataRetriever(std::vector<FLoaderTableEntry> table)
{
    return new FDataRetriever(std::move(table));
}

void ReleaseDataRetriever(FIDataRetriever*& holder)
{
    delete holder;
    holder = nullptr;
}
