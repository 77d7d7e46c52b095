#include "IPSaveManager.h"

#include "FIPSubManagers.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "ColorCompensation.h"
#include "FDataRetriever.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIPJob.h"
#include "FIPMImage.h"
#include "FJPEGLineWriter.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffLineWriter.h"
#include "IPOutputProfiles.h"
#include "ImagePropKeys.h"

namespace
{

constexpr int kOpenWriter = 1;
constexpr int kRequestProperties = 2;
constexpr int kWaitProperties = 3;
constexpr int kCreateThumbnail = 4;
constexpr int kWriteProperties = 5;
constexpr int kRequestStrip = 6;
constexpr int kWriteStrip = 7;
constexpr int kFinish = 8;

bool IsPlainCustomName(const FWideString& name)
{
    if (name.IsEmpty())
        return false;
    const char16_t* p = name.GetBuffer();
    for (int i = 0; i < name.GetLength(); ++i)
        if (p[i] > 126 || p[i] == u'?')
            return false;
    return true;
}

} // namespace

FWideString SettingModeText(int settingMode, const FWideString& settingName)
{
    switch (settingMode) {
    case kSettingModeAutomatic:
        return FWideString("Auto Setting Mode");
    case kSettingModeCustom: {
        if (!IsPlainCustomName(settingName))
            return FWideString("Custom Setting Mode");
        FWideString text("Custom: ");
        text += settingName;
        return text;
    }
    case kSettingModeAsShot:
        return FWideString("Q7F Setting Mode");
    }
    return FWideString("Unknown Setting Mode");
}

void CopyRequestParameters(FIPManagerRequest& to, const FIPManagerRequest& from)
{
    FillManagerRequest(JobOfRequest(from), to);
}

IPSaveManager::IPSaveManager(FIPManager* parent, bool parentStreams)
    : m_pParent(parent), m_bParentStreams(parentStreams)
{
}

IPSaveManager::~IPSaveManager()
{
    FIPManagerRequest* current = m_pCurReq;
    m_pCurReq = nullptr;
    priCleanup();
    if (current != nullptr)
        current->m_Async.Cancel();
}

void IPSaveManager::Request(FIPManagerRequest* request)
{
    if (request == nullptr)
        return;
    FAsyncStatus& status = request->m_Async;
    if (m_pCurReq != nullptr) {
        status.Fail(kErrBusy, "IPSaveManager is busy.");
        return;
    }
    if (request->m_eKind != kReqProcAndSave) {
        status.Fail(kErrUnsupported, "IPSaveManager can only handle save requests.");
        return;
    }
    if (request->m_eOutputFormat == kDisplay) {
        status.Fail(kErrInvalid, "IPSaveManager: Cannot save with an output format of kDisplay");
        return;
    }
    // Checked before any file is made, so that a refused save leaves nothing behind.
    if (request->m_eOutputFormat != kRGB24 && request->m_eOutputFormat != kRGB48) {
        status.Fail(kErrInvalid, "IPSaveManager: Unsupported output format.");
        return;
    }
    if (request->m_eFileType != kSaveTIFF && request->m_eFileType != kSaveJPEG) {
        status.Fail(kErrInvalid, "IPSaveManager: Unsupported file type.");
        return;
    }
    status.m_iErrorCode.store(kErrNone, std::memory_order_release);
    m_pCurReq = request;
    status.SetState(kInProgress);
    m_iState = kOpenWriter;
    Idle();
}

void IPSaveManager::Idle()
{
    priProcessIdle();
}

void IPSaveManager::priProcessIdle()
{
    if (m_pCurReq == nullptr)
        return;
    if (m_pCurReq->m_Async.IsCancelRequested() && m_PropsReq.m_Async.IsInProgress())
        m_PropsReq.m_Async.RequestCancel();
    const auto start = std::chrono::steady_clock::now();
    bool changed = true;
    while (m_pCurReq != nullptr && changed) {
        const int before = m_iState;
        try {
            priRunState();
        } catch (const FException& e) {
            // The writer's own words say why, such as a size the format cannot hold.
            m_iState = 0;
            m_pCurReq->m_Async.Fail(kErrException, e.GetMessage());
        } catch (...) {
            m_iState = 0;
            m_pCurReq->m_Async.Fail(kErrException, "IPSaveManager::priProcessIdle: caught exception!");
        }
        if (!m_pCurReq->m_Async.IsInProgress()) {
            m_pCurReq = nullptr;
            m_iState = 0;
            priCleanup();
            break;
        }
        changed = m_iState != before;
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        if (spent.count() >= kIdleSlice)
            break;
    }
}

void IPSaveManager::priRunState()
{
    switch (m_iState) {
    case kOpenWriter:
        priOpenWriter();
        return;
    case kRequestProperties:
        priSaveRequestProperties();
        return;
    case kWaitProperties:
        priSaveWaitProperties();
        return;
    case kCreateThumbnail:
        priSaveCreateThumbnail();
        return;
    case kWriteProperties:
        priSaveWriteProperties();
        return;
    case kRequestStrip:
        if (priStreams())
            priSaveRequestStream();
        else
            priSaveRequestStrip();
        return;
    case kWriteStrip:
        if (priStreams())
            priSaveWaitStream();
        else
            priSaveWriteStrip();
        return;
    case kFinish:
        priSaveFinish();
        return;
    case 0:
        DebugTrace(
            "IPSaveManager: Someone left the a request open and the state machine in the Idle state.\n");
        m_pCurReq->m_Async.Fail(kErrException);
        return;
    }
    DebugTrace("IPSaveManager: IPSaveManager in an invalid state.\n");
    m_pCurReq->m_Async.Fail(kErrException);
}

// A picture from another camera is rendered whole per request, not streamed by the engine:
// it keeps the strips, which also keep each tick short.
bool IPSaveManager::priStreams() const
{
    return m_bParentStreams && !IsNonRawImageFile(m_pCurReq->m_usFileName);
}

void IPSaveManager::priFail(int errorCode, const char* text)
{
    m_pCurReq->m_Async.Fail(errorCode, text);
}

void IPSaveManager::priFailWithSubRequest()
{
    m_pCurReq->m_Async = m_PropsReq.m_Async;
    if (m_pCurReq->m_Async.IsInProgress())
        m_pCurReq->m_Async.Fail(kErrException);
}

bool IPSaveManager::priStartImageRequest(const char* busyText)
{
    if (m_PropsReq.m_Async.IsInProgress()) {
        priFail(kErrException, busyText);
        return false;
    }
    if (priCancelledBeforeSend())
        return false;
    m_PropsReq.Reset();
    CopyRequestParameters(m_PropsReq, *m_pCurReq);
    m_PropsReq.m_eKind = kReqProcessed;
    return true;
}

bool IPSaveManager::priCancelledBeforeSend()
{
    if (!m_pCurReq->m_Async.IsCancelRequested())
        return false;
    m_pCurReq->m_Async.Cancel();
    return true;
}

void IPSaveManager::priOpenWriter()
{
    const FIPManagerRequest& req = *m_pCurReq;
    m_iRowsToWrite = req.m_rCrop.bottom - req.m_rCrop.top;
    m_iRowsWritten = 0;
    m_usOutputFile = req.m_usOutputFile;
    // A JPEG file holds 8 bits a channel: its strips are asked as 24-bit rows.
    m_eStripFormat = req.m_eFileType == kSaveJPEG ? kRGB24 : req.m_eOutputFormat;
    m_iWriterPixelType = m_eStripFormat == kRGB48 ? FPixmap::PIXEL_48_RGB : FPixmap::PIXEL_24_RGB;
    if (req.m_eFileType == kSaveJPEG)
        m_pWriter =
            std::make_unique<FJPEGLineWriter>(m_usOutputFile, req.m_iJPEGQuality, req.m_bJPEGFlag != 0);
    else
        m_pWriter = std::make_unique<FTiffLineWriter>(m_usOutputFile, false);
    m_pCurReq->m_Async.SetProgress(0.0);
    m_iState = kRequestProperties;
}

void IPSaveManager::priSaveRequestProperties()
{
    if (m_PropsReq.m_Async.IsInProgress()) {
        priFail(kErrException, "IPSaveManager::priSaveRequestProperties: IP Manager is busy!");
        return;
    }
    if (priCancelledBeforeSend())
        return;
    m_PropsReq.Reset();
    m_PropsReq.m_eKind = kReqProperties;
    m_PropsReq.m_usFileName = m_pCurReq->m_usFileName;
    if (m_PropsReq.m_pImageProps == nullptr)
        m_PropsReq.m_pImageProps = new FPropList(nullptr, "ImageProps");
    m_iState = kWaitProperties;
    m_pParent->Request(&m_PropsReq);
}

// The stages fit the output size to the image's aspect ratio and clamp the crop to it; the
// file gets the size of the rows they will deliver.
bool IPSaveManager::priFitToImage()
{
    const FIPManagerRequest& req = *m_pCurReq;
    const int imageCols = m_pWriteProps->GetInt("COLS", 0);
    const int imageRows = m_pWriteProps->GetInt("ROWS", 0);
    int cols = req.m_iOutCols;
    int rows = req.m_iOutRows;
    FRect crop = req.m_rCrop;
    if (imageCols <= 0 || imageRows <= 0 || cols <= 0 || rows <= 0) {
        priFail(kErrInvalid, "IPSaveManager: the image or output size is not known.");
        return false;
    }
    const double aspect = double(imageRows) / double(imageCols);
    if (double(rows) / double(cols) > aspect) {
        const int v = int(aspect * cols);
        if (v < rows - 1)
            rows = v;
    } else {
        const int v = int(rows / aspect);
        if (v < cols - 1)
            cols = v;
    }
    if (crop.left < 0 || crop.top < 0 || crop.left >= cols || crop.top >= rows || crop.right <= crop.left ||
        crop.bottom <= crop.top) {
        priFail(kErrInvalid, "IPSaveManager: Cropping rectangle out of bounds.");
        return false;
    }
    crop.right = std::min(crop.right, cols);
    crop.bottom = std::min(crop.bottom, rows);
    m_rFittedCrop = crop;
    m_iRowsToWrite = crop.bottom - crop.top;
    return true;
}

void IPSaveManager::priSaveWaitProperties()
{
    if (m_PropsReq.m_Async.IsInProgress())
        return;
    if (m_PropsReq.m_Async.GetState() != kCompleted) {
        priFailWithSubRequest();
        return;
    }
    DeletePropList(m_pWriteProps);
    m_pWriteProps = m_PropsReq.m_pImageProps != nullptr ? m_PropsReq.m_pImageProps->Clone()
                                                        : new FPropList(nullptr, "ImageProps");
    if (!priFitToImage())
        return;
    m_pWriter->SetDimensions(m_rFittedCrop.right - m_rFittedCrop.left, m_iRowsToWrite, m_iWriterPixelType);
    m_iState = kCreateThumbnail;
}

void IPSaveManager::priSaveCreateThumbnail()
{
    if (!priStartImageRequest("IPSaveManager::priSaveCreateThumbnail: IP Manager is busy!"))
        return;
    m_PropsReq.m_iColorSpace = kDefaultColorSpace;
    m_PropsReq.m_eOutputFormat = kRGB24;
    m_PropsReq.m_iOutCols = kThumbnailSize;
    m_PropsReq.m_iOutRows = kThumbnailSize;
    m_PropsReq.m_rCrop = FRect(0, 0, kThumbnailSize, kThumbnailSize);
    m_iState = kWriteProperties;
    m_pParent->Request(&m_PropsReq);
}

void IPSaveManager::priWriteSettings(FPropList& list) const
{
    const FIPManagerRequest& req = *m_pCurReq;
    FWideString software = req.m_usSoftwareName;
    FWideString version;
    version.Format(" %d.%d.%d.%04d", req.m_aiVersion[0], req.m_aiVersion[1], req.m_aiVersion[2],
                   req.m_aiVersion[3]);
    software += version;
    list.SetString(propkey::kSoftware, software);
    list.SetString(propkey::kMakerNoteSoftware, software);
    list.SetInt(propkey::kColorSpace, req.m_iColorSpace);
    list.SetFloat(propkey::kExposure, req.m_dExposure);
    list.SetFloat(propkey::kContrast, req.m_dContrast);
    list.SetFloat(propkey::kShadow, req.m_dShadow);
    list.SetFloat(propkey::kHighlight, req.m_dHighlight);
    list.SetFloat(propkey::kSaturation, req.m_dSaturation);
    list.SetFloat(propkey::kSharpness, req.m_dSharpness);
    list.SetFloat(propkey::kFillLight, req.m_dFillLight);
    const std::string gains =
        RGBGainsToCCString(req.m_adColorAdjust[0], req.m_adColorAdjust[1], req.m_adColorAdjust[2]);
    list.SetString(propkey::kColorAdjust, FWideString(gains.c_str()));
    list.SetString(propkey::kSettingMode, SettingModeText(req.m_iSettingMode, req.m_usSettingName));
    list.SetInt(propkey::kQuality, req.m_iJPEGQuality);
}

void IPSaveManager::priSaveWriteProperties()
{
    const double progress = m_PropsReq.m_Async.GetProgress();
    m_pCurReq->m_Async.SetProgress(0.5 * std::clamp(progress, 0.0, 1.0));
    if (m_PropsReq.m_Async.IsInProgress())
        return;
    if (m_PropsReq.m_Async.GetState() != kCompleted) {
        priFailWithSubRequest();
        return;
    }
    FIPMImage* thumbnail = m_PropsReq.m_pOutputImage;
    FPixmap* pixmap = thumbnail != nullptr ? thumbnail->GetPixmap() : nullptr;
    if (pixmap == nullptr) {
        priFail(kErrMissingImage, "IPSaveManager::priSaveWriteProperties: no thumbnail came back.");
        return;
    }
    m_pWriter->WriteThumbnail(*pixmap);
    m_PropsReq.ReleaseOutputImage();

    priWriteSettings(*m_pWriteProps);
    m_pWriter->WriteTags(m_pWriteProps);

    const int space = m_pCurReq->m_iColorSpace;
    const bool jpegInSRGB = m_pCurReq->m_eFileType == kSaveJPEG && space == kDefaultColorSpace;
    if (!jpegInSRGB) {
        const std::vector<uint8_t>& profile = GetOutputProfile(space);
        if (!profile.empty()) {
            m_pWriter->WriteProfile(unsigned(profile.size()), profile.data());
        } else if (m_pCurReq->m_bProfileOptional == 0) {
            priFail(kErrNoProfile, "IPSaveManager::priSaveWriteProperties: Color profile missing.");
            return;
        }
    }
    DeletePropList(m_pWriteProps);
    m_iState = kRequestStrip;
}

void IPSaveManager::priSaveRequestStrip()
{
    if (!priStartImageRequest("IPSaveManager::priSaveRequestStrip: IP Manager is busy!"))
        return;
    m_PropsReq.m_eOutputFormat = m_eStripFormat;
    m_iStripHeight = std::min(m_iRowsToWrite - m_iRowsWritten, int32_t(kStripRows));
    const int32_t stripTop = m_rFittedCrop.top + m_iRowsWritten;
    m_iTopMargin = stripTop < kStripMargin ? 0 : kStripMargin;
    m_iBottomMargin = m_rFittedCrop.bottom - (stripTop + m_iStripHeight) < kStripMargin ? 0 : kStripMargin;
    m_PropsReq.m_rCrop.left = m_rFittedCrop.left;
    m_PropsReq.m_rCrop.right = m_rFittedCrop.right;
    m_PropsReq.m_rCrop.top = stripTop - m_iTopMargin;
    m_PropsReq.m_rCrop.bottom = stripTop + m_iStripHeight + m_iBottomMargin;
    m_iState = kWriteStrip;
    m_pParent->Request(&m_PropsReq);
}

void IPSaveManager::priSaveWriteStrip()
{
    if (m_PropsReq.m_Async.IsInProgress())
        return;
    if (m_PropsReq.m_Async.GetState() != kCompleted) {
        priFailWithSubRequest();
        return;
    }
    FIPMImage* image = m_PropsReq.m_pOutputImage;
    FPixmap* pixmap = image != nullptr ? image->GetPixmap() : nullptr;
    // Rows are read only from a strip of exactly the size asked for.
    if (pixmap == nullptr || pixmap->GetPixelType() != m_iWriterPixelType ||
        pixmap->GetCols() != m_rFittedCrop.right - m_rFittedCrop.left ||
        pixmap->GetRows() != m_iTopMargin + m_iStripHeight + m_iBottomMargin) {
        priFail(kErrException, "IPSaveManager::priSaveWriteStrip: the strip does not match the image.");
        return;
    }
    for (int row = 0; row < m_iStripHeight; ++row)
        m_pWriter->WriteLine(pixmap->GetRowAddress(m_iTopMargin + row), m_iWriterPixelType);
    m_iRowsWritten += m_iStripHeight;
    m_PropsReq.ReleaseOutputImage();
    m_pCurReq->m_Async.SetProgress(0.5 + 0.48 * double(m_iRowsWritten) / double(m_iRowsToWrite));
    m_iState = m_iRowsWritten < m_iRowsToWrite ? kRequestStrip : kFinish;
}

void IPSaveManager::priSaveRequestStream()
{
    if (!priStartImageRequest("IPSaveManager::priSaveRequestStrip: IP Manager is busy!"))
        return;
    m_PropsReq.m_eOutputFormat = m_eStripFormat;
    m_PropsReq.m_rCrop = m_rFittedCrop;
    m_pSink = std::make_shared<RowSink>();
    m_pSink->writer = m_pWriter.get();
    m_pSink->pixelType = m_iWriterPixelType;
    const int32_t cols = m_rFittedCrop.right - m_rFittedCrop.left;
    const int32_t total = m_iRowsToWrite;
    m_PropsReq.m_WriteRows = [sink = m_pSink, cols, total](const FPixmap& rows) {
        const std::lock_guard<std::mutex> hold(sink->lock);
        // Rows are taken only in the file's width and pixel type, and never past its end.
        if (sink->writer == nullptr)
            throw FExceptionPixelProc2("IPSaveManager: the save ended before its rows.");
        if (rows.GetPixelType() != sink->pixelType || rows.GetCols() != cols ||
            rows.GetRows() > total - sink->rows)
            throw FExceptionPixelProc2("IPSaveManager: the rows do not match the image.");
        for (int row = 0; row < rows.GetRows(); ++row)
            sink->writer->WriteLine(rows.GetRowAddress(row), sink->pixelType);
        sink->rows += rows.GetRows();
    };
    m_iState = kWriteStrip;
    m_pParent->Request(&m_PropsReq);
}

void IPSaveManager::priSaveWaitStream()
{
    int32_t rows = 0;
    {
        const std::lock_guard<std::mutex> hold(m_pSink->lock);
        rows = m_pSink->rows;
    }
    m_pCurReq->m_Async.SetProgress(0.5 + 0.48 * double(rows) / double(m_iRowsToWrite));
    if (m_PropsReq.m_Async.IsInProgress())
        return;
    if (m_PropsReq.m_Async.GetState() != kCompleted) {
        priFailWithSubRequest();
        return;
    }
    if (rows != m_iRowsToWrite) {
        priFail(kErrException, "IPSaveManager::priSaveWriteStrip: the strip does not match the image.");
        return;
    }
    m_iRowsWritten = rows;
    m_PropsReq.m_WriteRows = nullptr;
    {
        const std::lock_guard<std::mutex> hold(m_pSink->lock);
        m_pSink->writer = nullptr;
    }
    m_iState = kFinish;
}

void IPSaveManager::priSaveFinish()
{
    m_pWriter->Finish();
    m_pWriter.reset();
    m_pCurReq->m_Async.SetProgress(1.0);
    m_pCurReq->m_Async.Complete();
    m_iState = 0;
}

void IPSaveManager::priCleanup()
{
    // A sub-request the parent still holds must not be reset under it: it is cancelled,
    // and a next save finds the record busy until the parent lets it go.
    if (m_PropsReq.m_Async.IsInProgress())
        m_PropsReq.m_Async.RequestCancel();
    else
        m_PropsReq.Reset();
    DeletePropList(m_pWriteProps);
    if (m_pSink != nullptr) {
        const std::lock_guard<std::mutex> hold(m_pSink->lock);
        m_pSink->writer = nullptr;
    }
    m_pSink.reset();
    // A writer that was not finished discards its temporary file: the destination keeps
    // whatever it held before.
    if (m_pWriter != nullptr) {
        m_pWriter.reset();
        DebugTrace("IPSaveManager: unfinished save discarded.\n");
    }
    m_usOutputFile.Clear();
}

FIPManager* CreateIPSaveManager(FIPManager* parent, bool parentStreams)
{
    return new (std::nothrow) IPSaveManager(parent, parentStreams);
}
