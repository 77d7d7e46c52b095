#include "IPPreviewManager.h"

#include "FIPSubManagers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include "ChromaBlur.h"
#include "ConvertColorPixmap.h"
#include "FCache.h"
#include "FDebugTrace.h"
#include "FDisplayBlit.h"
#include "FIPERequest.h"
#include "FIPEngine2.h"
#include "FIPMImage.h"
#include "FImage.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FRefCountable.h"

namespace
{

enum PreviewState : int {
    kIdleState = 0,
    kRequestProperties = 1,
    kWaitProperties = 2,
    kAllocate = 3,
    kRequestImageInfo = 4,
    kChooseImage = 5,
    kLoadImage = 6,
    kConvertImage = 7,
    kRotate = 8,
    kRotateDone = 9,
    kResize = 10,
    kDeliver = 13,
};

// Rows of a display image are aligned to 4 bytes (they are anyway: 4 bytes a pixel).
constexpr int kDisplayRowAlignment = 4;
constexpr int kFilterAmplitude = 1200;
constexpr int kFilterShift = 12;

FPixmap* CachePixmap(FCacheObject* object)
{
    return FIPMCommon::GetStageImageRecord(object)->m_pPixmap;
}

} // namespace

IPPreviewManager::IPPreviewManager(FIPManager* parent, FIDataRetriever* retriever, FIIPEngine2* engine)
    : m_pParent(parent), m_pDataRetriever(retriever), m_pEngine(engine)
{
}

IPPreviewManager::~IPPreviewManager()
{
    FIPManagerRequest* current = m_pCurReq;
    m_pCurReq = nullptr;
    priCleanup();
    if (current != nullptr)
        current->m_Async.Cancel();
}

void IPPreviewManager::Request(FIPManagerRequest* request)
{
    if (request == nullptr)
        return;
    FAsyncStatus& status = request->m_Async;
    if (m_pCurReq != nullptr) {
        status.Fail(kErrBusy, "IPPreviewManager is busy.");
        return;
    }
    if (request->m_eKind != kReqPreview) {
        status.Fail(kErrUnsupported, "IPPreviewManager can only handle Preview requests.");
        return;
    }
    if (request->m_eOutputFormat != kDisplay) {
        status.Fail(kErrInvalid, "IPPreviewManager: cannot process a preview for non-display output format.");
        return;
    }
    status.m_iErrorCode.store(kErrNone, std::memory_order_release);
    m_iState = kRequestProperties;
    m_pCurReq = request;
    // Read and decoded from the next Idle on, so that handing a request over never blocks.
    status.SetState(kInProgress);
}

void IPPreviewManager::Idle()
{
    priProcessIdle();
}

void IPPreviewManager::priProcessIdle()
{
    if (m_pCurReq == nullptr)
        return;
    if (m_pCurReq->m_Async.IsCancelRequested()) {
        if (m_pIPEngineReq != nullptr && m_pIPEngineReq->m_Async.IsInProgress())
            m_pIPEngineReq->m_Async.RequestCancel();
        if (m_DataReq.m_Async.IsInProgress())
            m_DataReq.m_Async.RequestCancel();
    }
    const auto start = std::chrono::steady_clock::now();
    bool changed = true;
    while (m_pCurReq != nullptr && changed) {
        const int before = m_iState;
        try {
            if (m_pEngine != nullptr)
                m_pEngine->Idle();
            if (m_pDataRetriever != nullptr)
                m_pDataRetriever->Idle();
            priRunState();
        } catch (...) {
            m_iState = kIdleState;
            m_pCurReq->m_Async.Fail(kErrException, "IPPreviewManager::priProcessIdle: caught exception!");
        }
        if (!m_pCurReq->m_Async.IsInProgress()) {
            m_pCurReq = nullptr;
            m_iState = kIdleState;
            priCleanup();
            break;
        }
        changed = m_iState != before;
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        if (spent.count() >= kIdleSlice)
            break;
    }
}

void IPPreviewManager::priRunState()
{
    switch (m_iState) {
    case kRequestProperties:
        priPreviewRequestProperties();
        return;
    case kWaitProperties:
        priPreviewWaitProperties();
        return;
    case kAllocate:
        priHandlePreviewAllocate();
        return;
    case kRequestImageInfo:
        priPreviewRequestImageInfo();
        return;
    case kChooseImage:
        priPreviewChooseImage();
        return;
    case kLoadImage:
        priPreviewLoadImage();
        return;
    case kConvertImage:
        priPreviewConvertImage();
        return;
    case kRotate:
        priPreviewRotate();
        return;
    case kRotateDone:
        priPreviewRotateDone();
        return;
    case kResize:
        priPreviewResize();
        return;
    case kDeliver:
        priPreviewDeliver();
        return;
    case kIdleState:
        DebugTrace(
            "IPPreviewManager: Someone left a request open and the state machine in the Idle state.\n");
        m_pCurReq->m_Async.Fail(kErrException);
        return;
    }
    DebugTrace("IPPreviewManager: IPPreviewManager in an invalid state.\n");
    m_pCurReq->m_Async.Fail(kErrException);
}

void IPPreviewManager::priFail(int errorCode, const char* text)
{
    m_pCurReq->m_Async.Fail(errorCode, text);
}

void IPPreviewManager::priFailWith(const FAsyncStatus& status)
{
    m_pCurReq->m_Async = status;
    if (m_pCurReq->m_Async.IsInProgress())
        m_pCurReq->m_Async.Fail(kErrException);
}

void IPPreviewManager::priRunRetrieverToEnd()
{
    while (m_DataReq.m_Async.IsInProgress())
        m_pDataRetriever->Idle();
}

void IPPreviewManager::priPreviewRequestProperties()
{
    if (m_PropsReq.m_Async.IsInProgress()) {
        priFail(kErrException, "IPPreviewManager::priPreviewRequestProperties: IP Manager is busy!");
        return;
    }
    DeletePropList(m_pImageProps);
    m_pImageProps = new FPropList(nullptr, "ImageProps");
    m_PropsReq.Reset();
    // The record's own list is replaced by the manager's, which it keeps afterwards.
    DeletePropList(m_PropsReq.m_pImageProps);
    m_PropsReq.m_eKind = kReqProperties;
    m_PropsReq.m_usFileName = m_pCurReq->m_usFileName;
    m_PropsReq.m_pImageProps = m_pImageProps;
    m_iState = kWaitProperties;
    m_pParent->Request(&m_PropsReq);
}

void IPPreviewManager::priPreviewWaitProperties()
{
    if (m_PropsReq.m_Async.IsInProgress())
        return;
    m_PropsReq.m_pImageProps = nullptr;
    if (m_PropsReq.m_Async.GetState() != kCompleted) {
        priFailWith(m_PropsReq.m_Async);
        return;
    }
    m_iState = kAllocate;
}

void IPPreviewManager::priHandlePreviewAllocate()
{
    FIPManagerRequest& req = *m_pCurReq;
    const FWideString uniqueId = m_pImageProps->GetString("UNIQUEID", "NO-UNIQUEID");
    m_iRotation = m_pImageProps->GetInt("ROTATION", 0);
    m_bMirror = m_pImageProps->GetInt("MIRROR", 0) != 0;
    FWideString tail;
    tail.Format("-IPManagerPreview-%dx%d-%dx%dx%dx%d,%d", req.m_iOutCols, req.m_iOutRows, req.m_rCrop.left,
                req.m_rCrop.top, req.m_rCrop.right, req.m_rCrop.bottom, m_iRotation);
    if (m_bMirror)
        tail += ",mirrored";
    m_usPreviewLabel = req.m_usFileName;
    m_usPreviewLabel += "-";
    m_usPreviewLabel += uniqueId;
    m_usPreviewLabel += tail;

    m_pCacheObj = GetGlobalCache()->Get(m_usPreviewLabel.GetBuffer(), 0);
    if (m_pCacheObj != nullptr) {
        m_iState = kDeliver;
        return;
    }
    if (m_DataReq.m_Async.IsInProgress()) {
        priFail(kErrException, "IPPreviewManager::priHandlePreviewAllocate: data retriever is busy!");
        return;
    }
    m_DataReq = FDataRetrieverRequest();
    m_DataReq.m_usFileName = req.m_usFileName;
    m_DataReq.m_eKind = kRetrieveInfo;
    m_DataReq.m_iSubKind = kInfoImageCount;
    m_pDataRetriever->Request(&m_DataReq);
    priRunRetrieverToEnd();
    if (m_DataReq.m_Async.GetState() != kCompleted) {
        priFailWith(m_DataReq.m_Async);
        return;
    }
    m_iImageIndex = int(m_DataReq.m_iArg);

    // The choice and the fit work in the frame of the image as stored.
    m_rCrop = req.m_rCrop;
    m_iBoxCols = req.m_iOutCols;
    m_iBoxRows = req.m_iOutRows;
    if (m_iRotation != 0)
        FIPMCommon::TurnRect(m_rCrop, m_iBoxCols, m_iBoxRows, -m_iRotation);
    m_Large = Candidate();
    m_Small = Candidate();
    m_iState = kRequestImageInfo;
}

void IPPreviewManager::priPreviewRequestImageInfo()
{
    --m_iImageIndex;
    if (m_iImageIndex >= 0) {
        m_DataReq = FDataRetrieverRequest();
        m_DataReq.m_usFileName = m_pCurReq->m_usFileName;
        m_DataReq.m_eKind = kRetrieveInfo;
        m_DataReq.m_iSubKind = kInfoImage;
        m_DataReq.m_iArg = m_iImageIndex;
        m_pDataRetriever->Request(&m_DataReq);
    }
    m_iState = kChooseImage;
}

void IPPreviewManager::priPreviewChooseImage()
{
    if (m_iImageIndex >= 0) {
        if (m_DataReq.m_Async.IsInProgress())
            return;
        if (m_DataReq.m_Async.GetState() != kCompleted) {
            priFailWith(m_DataReq.m_Async);
            return;
        }
        Candidate image;
        image.m_iIndex = m_iImageIndex;
        image.m_iCols = int(m_DataReq.m_aiResult[0]);
        image.m_iRows = int(m_DataReq.m_aiResult[1]);
        image.m_iKind = int(m_DataReq.m_aiResult[2]);
        image.m_iPixelType = int(m_DataReq.m_aiResult[3]);
        if (image.m_iKind == kImageKindPreview && image.m_iPixelType != 0 && image.m_iCols > 0 &&
            image.m_iRows > 0) {
            // Columns are held against the crop's height and rows against its width.
            const bool small = image.m_iCols < m_rCrop.Height() && image.m_iRows < m_rCrop.Width();
            if (small) {
                if (m_Small.m_iIndex < 0 || image.m_iCols > m_Small.m_iCols)
                    m_Small = image;
            } else if (m_Large.m_iIndex < 0 || image.m_iCols < m_Large.m_iCols) {
                m_Large = image;
            }
        }
        if (m_iImageIndex > 0) {
            m_iState = kRequestImageInfo;
            return;
        }
    }
    m_Chosen = m_Large.m_iIndex >= 0 ? m_Large : m_Small;
    if (m_Chosen.m_iIndex < 0) {
        priFail(kErrNoPreview, "No preview images found in image file");
        return;
    }
    m_iState = kLoadImage;
}

void IPPreviewManager::priPreviewLoadImage()
{
    const int64_t w = m_iBoxCols;
    const int64_t h = m_iBoxRows;
    const double ic = m_Chosen.m_iCols;
    const double ir = m_Chosen.m_iRows;
    // An empty box cannot be fitted (and would divide by zero).
    if (w <= 0 || h <= 0) {
        priFail(kErrInvalid,
                "IPPreviewManager::priPreviewLoadImage: cropping rectangle is outside of image size.");
        return;
    }
    if (ir / ic >= double(h) / double(w)) {
        m_iFittedCols = int(ic * double(h) / ir);
        m_iFittedRows = int(h);
    } else {
        m_iFittedCols = int(w);
        m_iFittedRows = int(ir * double(w) / ic);
    }
    FRect& crop = m_rCrop;
    const bool accepted = crop.left >= 0 && crop.top >= 0 && crop.left < m_iFittedCols &&
                          crop.top < m_iFittedRows && crop.right >= 2 && crop.bottom >= 2 &&
                          crop.right > crop.left && crop.bottom > crop.top;
    if (!accepted) {
        priFail(kErrInvalid,
                "IPPreviewManager::priPreviewLoadImage: cropping rectangle is outside of image size.");
        return;
    }
    crop.right = std::min(crop.right, m_iFittedCols);
    crop.bottom = std::min(crop.bottom, m_iFittedRows);

    m_DataReq = FDataRetrieverRequest();
    m_DataReq.m_usFileName = m_pCurReq->m_usFileName;
    m_DataReq.m_eKind = kRetrieveData;
    m_DataReq.m_iSubKind = kDataImage;
    m_DataReq.m_iArg = m_Chosen.m_iIndex;
    m_DataReq.m_bPreview = true;
    // A preview shown smaller is decoded smaller, as long as the decoded image still
    // covers the fitted size on both sides; one shown at full size is read as before.
    int reduction = 0;
    while (reduction < 3 &&
           ((int64_t(m_Chosen.m_iCols) + (int64_t(2) << reduction) - 1) >> (reduction + 1)) >=
               m_iFittedCols &&
           ((int64_t(m_Chosen.m_iRows) + (int64_t(2) << reduction) - 1) >> (reduction + 1)) >= m_iFittedRows)
        ++reduction;
    m_DataReq.m_iReduction = reduction;
    m_iState = kConvertImage;
    m_pDataRetriever->Request(&m_DataReq);
}

namespace
{

// Left and right exchanged, in place, for 32-bit pixels.
void MirrorRows(FPixmap& image)
{
    const int cols = image.GetCols();
    for (int y = 0; y < image.GetRows(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.GetRowAddress(y));
        std::reverse(row, row + cols);
    }
}

} // namespace

void IPPreviewManager::priPreviewConvertImage()
{
    if (m_DataReq.m_Async.IsInProgress())
        return;
    FIDataObject* data = m_DataReq.GetDataObject();
    m_DataReq.m_aiResult[0] = 0;
    struct DataGuard {
        FIDataObject* object;
        ~DataGuard()
        {
            if (object != nullptr)
                object->Release();
        }
    } guard{data};
    if (m_DataReq.m_Async.GetState() != kCompleted) {
        priFailWith(m_DataReq.m_Async);
        return;
    }
    FPixmap* source = data != nullptr ? data->GetImagePixmapPtr() : nullptr;
    if (source == nullptr) {
        priFail(kErrMissingImage, "IPPreviewManager::priPreviewConvertImage: no image data came back.");
        return;
    }
    ReleaseReference(m_pImage);
    m_pImage = new FImage(source->GetCols(), source->GetRows(), FPixmap::PIXEL_32_BGRA, kDisplayRowAlignment);
    ConvertColorPixmap(*source, m_pImage->GetPixmap(), nullptr);
    // Mirrored before it is turned, so the crop (turned back already) falls where it should.
    if (m_bMirror)
        MirrorRows(*m_pImage->GetPixmap());
    // Decided on the image's own size, so a reduced decode is filtered as the full one is.
    const int64_t pixels = int64_t(m_Chosen.m_iCols) * m_Chosen.m_iRows;
    if (m_pImageProps->GetInt("PROCESSABLE", 0) != 0 && pixels < kChromaFilterPixels) {
        ChromaFilterDisplayImage(*static_cast<FPixmap_Display*>(m_pImage->GetPixmap()), kFilterAmplitude,
                                 kFilterAmplitude, kFilterAmplitude, kFilterShift);
    }
    m_iState = m_iRotation != 0 ? kRotate : kResize;
}

void IPPreviewManager::priPreviewRotate()
{
    FRect empty;
    int cols = m_pImage->GetPixmap()->GetCols();
    int rows = m_pImage->GetPixmap()->GetRows();
    FIPMCommon::RotateRect(empty, cols, rows, double(m_iRotation));
    ReleaseReference(m_pRotImage);
    m_pRotImage = new FImage(cols, rows, FPixmap::PIXEL_32_BGRA, kDisplayRowAlignment);
    m_pIPEngineReq = std::make_unique<FIPERequestRotate>();
    m_pIPEngineReq->m_pInImage = static_cast<FPixmap_Display*>(m_pImage->GetPixmap());
    m_pIPEngineReq->m_pOutImage = m_pRotImage->GetPixmap();
    m_pIPEngineReq->m_iAngle = m_iRotation;
    m_iState = kRotateDone;
    m_pEngine->Request(m_pIPEngineReq.get());
}

void IPPreviewManager::priPreviewRotateDone()
{
    if (m_pIPEngineReq->m_Async.IsInProgress())
        return;
    const int state = m_pIPEngineReq->m_Async.GetState();
    // A turn that did not complete leaves a partly turned image, which is never cached.
    if (state != kCompleted) {
        priFailWith(m_pIPEngineReq->m_Async);
        m_pIPEngineReq.reset();
        priReleaseImages();
        return;
    }
    m_pIPEngineReq.reset();
    ReleaseReference(m_pImage);
    m_pImage = m_pRotImage;
    m_pRotImage = nullptr;
    FIPMCommon::TurnRect(m_rCrop, m_iFittedCols, m_iFittedRows, m_iRotation);
    m_iState = kResize;
}

void IPPreviewManager::priPreviewResize()
{
    const int cropCols = m_rCrop.Width();
    const int cropRows = m_rCrop.Height();
    m_pCacheObj =
        FIPMCommon::AllocCacheImage(m_usPreviewLabel.GetBuffer(), FPixmap::PIXEL_32_BGRA, cropCols, cropRows);
    FPixmap* target = m_pCacheObj != nullptr ? CachePixmap(m_pCacheObj) : nullptr;
    // A block of that label made elsewhere with another size is not ours to fill.
    if (target == nullptr || target->GetPixelType() != FPixmap::PIXEL_32_BGRA ||
        target->GetCols() != cropCols || target->GetRows() != cropRows) {
        if (m_pCacheObj != nullptr) {
            m_pCacheObj->Release();
            m_pCacheObj = nullptr;
        }
        ReleaseReference(m_pImage);
        priFail(kErrOutOfMemory, "IPPreviewManager::priPreviewResize: Cache allocation failed.");
        return;
    }
    FIPMStageImageRecord* record = FIPMCommon::GetStageImageRecord(m_pCacheObj);
    m_pCacheObj->SetPriority(kPreviewPriority);
    record->m_aiGeometry[0] = m_rCrop.left;
    record->m_aiGeometry[1] = m_rCrop.top;
    record->m_aiGeometry[2] = m_rCrop.right;
    record->m_aiGeometry[3] = m_rCrop.bottom;
    record->m_aiGeometry[4] = m_iFittedCols;
    record->m_aiGeometry[5] = m_iFittedRows;

    // The crop's part of the image, scaled as the whole image is scaled to the fitted size.
    FPixmap* source = m_pImage->GetPixmap();
    const int64_t ic = source->GetCols();
    const int64_t ir = source->GetRows();
    FRect from(int32_t(m_rCrop.left * ic / m_iFittedCols), int32_t(m_rCrop.top * ir / m_iFittedRows),
               int32_t((m_rCrop.right * ic + m_iFittedCols - 1) / m_iFittedCols),
               int32_t((m_rCrop.bottom * ir + m_iFittedRows - 1) / m_iFittedRows));
    from.right = std::clamp(from.right, from.left + 1, int32_t(ic));
    from.bottom = std::clamp(from.bottom, from.top + 1, int32_t(ir));
    FRect to(0, 0, cropCols, cropRows);
    CopyDisplayPixmapRect(target, &to, source, &from);
    ReleaseReference(m_pImage);
    m_iState = kDeliver;
}

void IPPreviewManager::priPreviewDeliver()
{
    FIPManagerRequest& req = *m_pCurReq;
    auto* image = new FIPMCommon::Image(m_pCacheObj);
    m_pCacheObj->Release();
    FCacheObject* object = image->GetCacheObject();
    m_pCacheObj = nullptr;
    const FIPMStageImageRecord* record = FIPMCommon::GetStageImageRecord(object);
    req.m_rCrop = FRect(record->m_aiGeometry[0], record->m_aiGeometry[1], record->m_aiGeometry[2],
                        record->m_aiGeometry[3]);
    req.m_iOutCols = record->m_aiGeometry[4];
    req.m_iOutRows = record->m_aiGeometry[5];
    req.ReleaseOutputImage();
    req.m_pOutputImage = image;
    auto* props = new FPropList(nullptr, "Props");
    props->CopyPropsFrom(*m_pImageProps);
    props->AddProp(FWideString("Filename"), req.m_usFileName);
    image->SetProperties(props);
    req.m_Async.Complete();
    m_iState = kIdleState;
}

void IPPreviewManager::priReleaseImages()
{
    ReleaseReference(m_pImage);
    ReleaseReference(m_pRotImage);
}

void IPPreviewManager::priCleanup()
{
    // Records other threads may still write are not touched: they are cancelled and left
    // for their owner to finish with.
    if (m_PropsReq.m_Async.IsInProgress()) {
        m_PropsReq.m_Async.RequestCancel();
        // The parent may still fill the list: it stays with the record.
        if (m_PropsReq.m_pImageProps == m_pImageProps)
            m_pImageProps = nullptr;
    } else {
        if (m_PropsReq.m_pImageProps == m_pImageProps)
            m_PropsReq.m_pImageProps = nullptr;
        m_PropsReq.m_usFileName.Clear();
        m_PropsReq.Reset();
    }
    if (m_DataReq.m_Async.IsInProgress()) {
        m_DataReq.m_Async.RequestCancel();
        priRunRetrieverToEnd();
    }
    // Only a data request's first result word is a handle; information requests put the
    // image's columns there.
    if (m_DataReq.m_eKind == kRetrieveData && m_DataReq.GetDataObject() != nullptr) {
        FIDataObject* data = m_DataReq.GetDataObject();
        m_DataReq.m_aiResult[0] = 0;
        data->Release();
    }
    if (m_pIPEngineReq != nullptr) {
        m_pIPEngineReq->m_Async.RequestCancel();
        while (m_pIPEngineReq->m_Async.IsInProgress())
            m_pEngine->Idle();
        m_pIPEngineReq.reset();
    }
    DeletePropList(m_pImageProps);
    priReleaseImages();
    // A preview not delivered must never be found: its block loses its label and goes first.
    if (m_pCacheObj != nullptr) {
        m_pCacheObj->SetLabel(u"");
        m_pCacheObj->SetPriority(0);
        m_pCacheObj->Release();
        m_pCacheObj = nullptr;
    }
    m_usPreviewLabel.Clear();
}

FIPManager* CreateIPPreviewManager(FIPManager* parent, FIDataRetriever* retriever, FIIPEngine2* engine)
{
    return new (std::nothrow) IPPreviewManager(parent, retriever, engine);
}
