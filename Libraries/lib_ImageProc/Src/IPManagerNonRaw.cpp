// The stage machine's branch for pictures that are not raw captures: a JPEG or TIFF file
// has no frames to develop, so a processed image is the decoded picture taken through the
// output steps alone. What only raw data gives (automatic settings, a gray balance, the
// camera's illuminants) answers as neutral, so that nothing built on it fails.

#include "IPManager2.h"

#include <algorithm>

#include "ConvertColorPixmap.h"
#include "FCache.h"
#include "FDebugTrace.h"
#include "FIPEngine2.h"
#include "FIPEngineStages.h"
#include "FIPMImage.h"
#include "FIPManagerRequest.h"
#include "FIPNonRawRender.h"
#include "FImage.h"
#include "FMutex.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FStopwatch.h"
#include "ImagePropKeys.h"
#include "PictureOrientation.h"

namespace
{

// Rows a thread renders between looks at the clock, and the share of a pass they may take.
constexpr int kRowsPerCheck = 8;
constexpr double kRenderSlice = 0.008;
// Progress reached once the picture is loaded; rendering fills the rest.
constexpr double kLoadedProgress = 0.1;

int OutputPixelType(int format)
{
    switch (format) {
    case kDisplay:
        return FPixmap::PIXEL_32_BGRA;
    case kRGB24:
        return FPixmap::PIXEL_24_RGB;
    case kRGB48:
        return FPixmap::PIXEL_48_RGB;
    }
    return 0;
}

FIPMStageImageRecord* Record(FCacheObject* object)
{
    return FIPMCommon::GetStageImageRecord(object);
}

} // namespace

void IPManager2::priInitNonRawRequest(const FWideString& uniqueId)
{
    FIPManagerRequest& r = *m_pCurrentRequest;
    switch (r.m_eKind) {
    case kReqAutoSet:
        r.m_dExposure = r.m_dShadow = r.m_dContrast = r.m_dHighlight = r.m_dSaturation = r.m_dFillLight = 0.0;
        std::fill(std::begin(r.m_adColorAdjust), std::end(r.m_adColorAdjust), 1.0);
        r.m_Async.Complete();
        return;
    case kReqGetGrayBalance:
        std::fill(std::begin(r.m_adColorAdjust), std::end(r.m_adColorAdjust), 1.0);
        r.m_Async.Complete();
        return;
    case kReqIlluminants:
        r.m_Async.Complete();
        return;
    default:
        break;
    }
    if (!priPrepareOutputRequest())
        return;
    m_iNonRawRotation = QuarterTurnOf(m_pCapturePropList->GetInt(FWideString("ROTATION"), 0));
    m_bNonRawMirror = m_pCapturePropList->GetInt(FWideString("MIRROR"), 0) != 0;
    if (!priFitGeometry())
        return;
    const FRect& c = r.m_rCrop;
    FWideString part;
    part.Format("-Picture-%d-%d-%d-%d-%d-%d-%d-%d-%d-%d", r.m_iOutCols, r.m_iOutRows, c.left, c.top, c.right,
                c.bottom, m_iNonRawRotation, m_bNonRawMirror ? 1 : 0, r.m_iColorSpace, r.m_eOutputFormat);
    m_usNonRawLabel = r.m_usFileName;
    m_usNonRawLabel += "-";
    m_usNonRawLabel += uniqueId;
    m_usNonRawLabel += part;
    m_eEntryState = kMgrNonRawLoad;
    m_pStage4OutImageObj = m_pCache->Get(m_usNonRawLabel.GetBuffer(), 0);
    if (m_pStage4OutImageObj != nullptr && Record(m_pStage4OutImageObj)->m_bValid.load() != 0) {
        m_pStage4OutImageObj->SetPriority(m_bPartialView ? kPrioPartialView : kPrioStage4);
        m_eMgrState = kMgrCompleteOutputImage;
        m_eEntryState = kMgrCompleteOutputImage;
        return;
    }
    m_eMgrState = kMgrNonRawLoad;
}

void IPManager2::priNonRawLoad()
{
    if (priCancelled())
        return;
    const FIPManagerRequest& r = *m_pCurrentRequest;
    // Sizes as shown, the turn already applied.
    const int cols = m_pCapturePropList->GetInt(FWideString("COLS"), 0);
    const int rows = m_pCapturePropList->GetInt(FWideString("ROWS"), 0);
    // For these loaders the image index is the reduction.
    const int reduction = NonRawReduction(cols, rows, r.m_iOutCols, r.m_iOutRows, 0);
    m_DataReq.m_iReduction = 0;
    if (!priStartRetriever("IPManager2::priNonRawLoad: data retriever is busy!", kRetrieveData, kDataImage,
                           reduction))
        return;
    m_eMgrState = kMgrNonRawRender;
}

// The output object, locked, and the renderer for the loaded picture; false when waiting
// or when the request ended.
bool IPManager2::priNonRawPrepare()
{
    FIPManagerRequest& r = *m_pCurrentRequest;
    if (m_pRawImageObj == nullptr) {
        const int outcome = priCompleteRetriever(kMgrNonRawLoad, kMgrNonRawRender);
        priSetProgress(kLoadedProgress * std::clamp(m_DataReq.m_Async.GetProgress(), 0.0, 1.0));
        if (outcome <= 0)
            return false;
        m_pRawImageObj = priTakeDataResult();
        if (m_pRawImageObj == nullptr || m_pRawImageObj->GetImagePixmapPtr() == nullptr) {
            priFailRequest(kErrMissingImage, "IPManager2::priNonRawRender: no image came back.");
            return false;
        }
    }
    if (m_pNonRawRenderer != nullptr)
        return true;
    FPixmap* source = m_pRawImageObj->GetImagePixmapPtr();
    if (!FNonRawRenderer::CanRead(source->GetPixelType()) && m_pNonRawSource == nullptr) {
        m_pNonRawSource = new FImage(source->GetCols(), source->GetRows(), FPixmap::PIXEL_24_RGB, 4);
        ConvertColorPixmap(*source, m_pNonRawSource->GetPixmap(), nullptr);
    }
    const int type = OutputPixelType(r.m_eOutputFormat);
    const int bits = type == FPixmap::PIXEL_48_RGB ? 16 : 8;
    // A file this program wrote names its space (0 when the name was not known); other
    // pictures are sRGB.
    int sourceSpace = m_pCapturePropList->GetInt(FWideString(propkey::kColorSpace), kDefaultColorSpace);
    if (sourceSpace < 1 || sourceSpace > 11)
        sourceSpace = kDefaultColorSpace;
    if (m_pNonRawColor == nullptr || !m_pNonRawColor->Matches(sourceSpace, r.m_iColorSpace, bits))
        m_pNonRawColor = std::make_shared<const FNonRawColor>(sourceSpace, r.m_iColorSpace, bits);
    FNonRawGeometry geometry;
    geometry.m_iOutCols = r.m_iOutCols;
    geometry.m_iOutRows = r.m_iOutRows;
    geometry.m_rCrop = r.m_rCrop;
    geometry.m_iRotation = m_iNonRawRotation;
    geometry.m_bMirror = m_bNonRawMirror;
    if (m_pStage4OutImageObj == nullptr) {
        m_pStage4OutImageObj = FIPMCommon::AllocCacheImage(m_usNonRawLabel.GetBuffer(), type,
                                                           r.m_rCrop.Width(), r.m_rCrop.Height());
        if (m_pStage4OutImageObj == nullptr) {
            priFailRequest(kErrOutOfMemory, "IPManager2::priNonRawRender: Cache allocation failed.");
            return false;
        }
    }
    if (!priTryLock(m_pStage4OutImageObj, "priNonRawRender"))
        return false;
    FIPMStageImageRecord* record = Record(m_pStage4OutImageObj);
    const FPixmap* out = record->m_pPixmap;
    if (out->GetPixelType() != type || out->GetCols() != r.m_rCrop.Width() ||
        out->GetRows() != r.m_rCrop.Height()) {
        priFailRequest(kErrException, "IPManager2::priNonRawRender: cached image does not match.");
        return false;
    }
    m_pStage4OutImageObj->SetPriority(m_bPartialView ? kPrioPartialView : kPrioStage4);
    const FPixmap& input = m_pNonRawSource != nullptr ? *m_pNonRawSource->GetPixmap() : *source;
    m_pNonRawRenderer =
        std::make_unique<FNonRawRenderer>(input.GetCols(), input.GetRows(), geometry, m_pNonRawColor);
    m_iNonRawRow = 0;
    return true;
}

void IPManager2::priNonRawRender()
{
    if (priCancelled())
        return;
    if (!priNonRawPrepare())
        return;
    FIPManagerRequest& r = *m_pCurrentRequest;
    FIPMStageImageRecord* record = Record(m_pStage4OutImageObj);
    // Valid already when another manager finished it while this one waited for the lock.
    if (record->m_bValid.load() == 0) {
        const FPixmap& source =
            m_pNonRawSource != nullptr ? *m_pNonRawSource->GetPixmap() : *m_pRawImageObj->GetImagePixmapPtr();
        const int total = m_pNonRawRenderer->GetCropRows();
        FStopwatch watch;
        watch.Start();
        const int threads = GetIPEngineThreadCount();
        FPixmap& out = *record->m_pPixmap;
        while (m_iNonRawRow < total) {
            const int start = m_iNonRawRow;
            const int end = std::min(total, start + kRowsPerCheck * threads);
            IPEngineStages::RunBands(end - start, threads, [&](int first, int last) {
                m_pNonRawRenderer->RenderRows(source, out, start + first, start + last);
            });
            m_iNonRawRow = end;
            if (watch.GetElapsed() >= kRenderSlice)
                break;
        }
        priSetProgress(kLoadedProgress + (1.0 - kLoadedProgress) * m_iNonRawRow / total);
        if (m_iNonRawRow < total)
            return;
        record->m_bValid.store(1);
    }
    const FRect& c = r.m_rCrop;
    const int32_t geometry[6] = {c.left, c.top, c.right, c.bottom, r.m_iOutCols, r.m_iOutRows};
    std::copy(std::begin(geometry), std::end(geometry), record->m_aiGeometry);
    priUnlockObject(m_pStage4OutImageObj);
    m_eMgrState = kMgrCompleteOutputImage;
}

void IPManager2::priCleanupNonRaw()
{
    m_pNonRawRenderer.reset();
    m_iNonRawRow = 0;
    if (m_pNonRawSource != nullptr) {
        ReleaseReference(m_pNonRawSource);
        m_pNonRawSource = nullptr;
    }
}
