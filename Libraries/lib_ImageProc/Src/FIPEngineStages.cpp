#include "FIPEngineStages.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <memory>
#include <vector>

#include "CropSizeRotate.h"
#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FIPERequest.h"
#include "FIPWorkerPool.h"
#include "FPixelProc2.h"
#include "LinearizeAndDarkSubtract.h"
#include "RotatePixmap.h"
#include "RunInRowBands.h"
#include "ToneLUT.h"

namespace IPEngineStages
{

void Check(bool test, int line, const char* text)
{
    if (!test)
        ReportAssertion("FIPEngine2", line, text, 0, 0);
}

void RunBands(int rows, int threads, const std::function<void(int first, int end)>& band)
{
    StartIPWorkerPool();
    RunInRowBands(rows, threads, band);
}

namespace
{

constexpr int kProgressRows = 50;
constexpr uint32_t kSkipOutputMatrix = 0x40000;
constexpr int kTableEntries = 65536;

// A pixmap must hold its columns in every row before any row function may read it.
void CheckRows(const FPixmap& pixmap, const char* what)
{
    const int64_t need =
        static_cast<int64_t>(pixmap.GetCols()) * GetPixelTypeBytesPerPixel(pixmap.GetPixelType());
    if (pixmap.GetCols() < 0 || pixmap.GetRows() < 0 || pixmap.GetStride() < need ||
        (pixmap.GetRows() > 0 && pixmap.GetBuffer() == nullptr))
        throw FExceptionPixelProc2(what);
}

// Raises progress to `value` unless a band already reported more.
void RaiseProgress(FAsyncStatus& status, double value)
{
    double seen = status.m_dProgress.load(std::memory_order_acquire);
    while (seen < value &&
           !status.m_dProgress.compare_exchange_weak(seen, value, std::memory_order_acq_rel)) {
    }
}

template <class P>
FPixmapTemplate<P> RowView(const FPixmapTemplate<P>& pixmap, int first, int end)
{
    return FPixmapTemplate<P>(pixmap.GetRowAddress(first), pixmap.GetCols(), end - first, pixmap.GetStride());
}

void Stage1Levels(FIPERequestStage1& request, const FColorLUT* table)
{
    for (int c = 0; c < 3; ++c)
        request.m_aiSaturationLevel[c] = request.m_aiDarkShieldLevel[c] = 0;
    const FCamdata& camdata = *request.m_pCambData;
    FIntRGB saturation;
    GetCamdataShortRGB(saturation, "RawSaturationLevel", camdata);
    if (saturation.r == 0 && saturation.g == 0 && saturation.b == 0)
        return;
    FRect keep, shield;
    GetCamdataRect(keep, "KeepImageArea", camdata);
    GetCamdataRect(shield, "DarkShieldTop", camdata);
    const FPixmap48RGB& dark = *request.m_pDarkImage;
    // Into image coordinates, then clipped to the image on every side.
    const int64_t left = std::max<int64_t>(0, static_cast<int64_t>(shield.left) - keep.left);
    const int64_t right = std::min<int64_t>(dark.GetCols(), static_cast<int64_t>(shield.right) - keep.left);
    const int64_t top = std::max<int64_t>(0, static_cast<int64_t>(shield.top) - keep.top);
    const int64_t bottom = std::min<int64_t>(dark.GetRows(), static_cast<int64_t>(shield.bottom) - keep.top);
    if (top >= bottom || left >= right)
        return;
    uint64_t sum[3] = {0, 0, 0};
    for (int64_t y = top; y < bottom; ++y) {
        const uint16_t* row = dark.GetRow(static_cast<int>(y));
        for (int64_t x = left; x < right; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += row[3 * x + c];
    }
    const uint64_t count = static_cast<uint64_t>(bottom - top) * static_cast<uint64_t>(right - left);
    int32_t mean[3];
    for (int c = 0; c < 3; ++c)
        mean[c] = static_cast<int32_t>(static_cast<double>(sum[c]) / static_cast<double>(count) + 0.5);
    if (mean[0] == 0 && mean[1] == 0 && mean[2] == 0)
        return;
    const int32_t levels[3] = {saturation.r, saturation.g, saturation.b};
    for (int c = 0; c < 3; ++c) {
        // Without a table the rows were subtracted unconverted, so the levels stay raw too.
        if (table != nullptr) {
            const int16_t* t = table->GetChannel(c);
            request.m_aiDarkShieldLevel[c] = t[mean[c] & table->m_iMask];
            request.m_aiSaturationLevel[c] = t[levels[c] & table->m_iMask];
        } else {
            request.m_aiDarkShieldLevel[c] = mean[c];
            request.m_aiSaturationLevel[c] = levels[c];
        }
    }
}

// The detail filter of stage 3 over the produced rectangle. Each output row depends on the
// two rows on either side as they were before filtering, so every band filters a copy of
// its rows with that margin, and the results go back only once every band is done.
void HighPassInBands(FPixmap16SMono& image, double strength, int threads)
{
    constexpr int kMargin = 2;
    const int rows = image.GetRows();
    const int cols = image.GetCols();
    if (threads <= 1 || rows < 8 * kMargin * threads) {
        HighPassMonoImage(image, strength);
        return;
    }
    struct Band {
        int first, end, top;
        std::vector<int16_t> rows;
    };
    std::vector<Band> bands(static_cast<size_t>(threads));
    for (int i = 0; i < threads; ++i)
        bands[static_cast<size_t>(i)] = {
            RowBandStart(rows, threads, i), RowBandStart(rows, threads, i + 1), 0, {}};
    const size_t width = static_cast<size_t>(cols);
    // One band per index: RunBands over as many rows as there are bands.
    RunBands(threads, threads, [&](int i, int) {
        Band& b = bands[static_cast<size_t>(i)];
        b.top = std::max(0, b.first - kMargin);
        const int bottom = std::min(rows, b.end + kMargin);
        b.rows.resize(width * static_cast<size_t>(bottom - b.top));
        for (int y = b.top; y < bottom; ++y)
            std::copy_n(image.GetRow(y), width, b.rows.data() + width * static_cast<size_t>(y - b.top));
        FPixmap16SMono copy(b.rows.data(), cols, bottom - b.top, 0);
        HighPassMonoImage(copy, strength);
    });
    RunBands(threads, threads, [&](int i, int) {
        const Band& b = bands[static_cast<size_t>(i)];
        for (int y = b.first; y < b.end; ++y)
            std::copy_n(b.rows.data() + width * static_cast<size_t>(y - b.top), width, image.GetRow(y));
    });
}

} // namespace

int ProcessStage1(FIPERequestStage1* request, int threads)
{
    StartIPWorkerPool();
    IPE_CHECK(request != nullptr, "pReq != NULL");
    IPE_CHECK(request->m_pCambData != nullptr, "pReq->m_pCambData != NULL");
    IPE_CHECK(request->m_pDarkImage != nullptr, "pReq->m_pDarkImage != NULL");
    IPE_CHECK(request->m_pOutImage != nullptr, "pReq->m_pOutImage != NULL");
    IPE_CHECK(request->m_pRawImage != nullptr, "pReq->m_pRawImage != NULL");
    FAsyncStatus& status = request->m_Async;
    status.SetProgress(0.0);
    uint32_t* resume = request->m_ResumeState;
    if (resume[kResumeTag] != kResumeTagStage1) {
        resume[kResumeTag] = kResumeTagStage1;
        resume[kResumeStep] = 0;
        resume[kResumeNextRow] = 0;
    }
    const FCamdata& camdata = *request->m_pCambData;
    std::unique_ptr<FColorLUT> table(GetCamdataColorLUT("LinLUTs", camdata));
    const FPixmap48RGB& raw = *request->m_pRawImage;
    const FPixmap48RGB& dark = *request->m_pDarkImage;
    FPixmap48SRGB& out = *request->m_pOutImage;
    LinearizeAndDarkSubtractImage(&dark, &raw, table.get(), &out);
    CheckRows(raw, "Stage 1: raw image rows shorter than their pixels.");
    CheckRows(dark, "Stage 1: dark image rows shorter than their pixels.");
    CheckRows(out, "Stage 1: output image rows shorter than their pixels.");
    const int rows = out.GetRows();
    const int cols = out.GetCols();

    std::vector<int16_t> offsetRow;
    uint32_t count = 0;
    const uint32_t* source = GetCamdataUIntArray("RawOffsetSourceRows", camdata, count);
    if (source != nullptr) {
        const bool plausible =
            count == 3 && source[1] < static_cast<uint32_t>(rows) && source[1] >= source[0];
        if (plausible) {
            offsetRow.resize(3 * static_cast<size_t>(cols));
            const uint32_t shift = GetCamdataUInt("RawOffsetFilterShift", camdata) & 31u;
            // Too few rows or a zero step cannot give a trimmed mean: the same as invalid.
            if (!CalculateRawOffsetRow(&dark, offsetRow.data(), source[0], source[1], source[2], shift))
                offsetRow.clear();
        }
        if (offsetRow.empty())
            DebugTrace("Camdata raw offset row parameters '%s' invalid.\n", "RawOffsetSourceRows");
    }

    const int start =
        static_cast<int>(std::min<uint32_t>(resume[kResumeNextRow], static_cast<uint32_t>(rows)));
    std::atomic<int> done{start};
    const FColorLUT* t = table.get();
    const int16_t* offsets = offsetRow.empty() ? nullptr : offsetRow.data();
    RunBands(rows - start, threads, [&](int first, int end) {
        int sinceReport = 0;
        for (int y = start + first; y < start + end; ++y) {
            if (offsets != nullptr)
                DarkSubtractRowWithOffset(dark.GetRow(y), raw.GetRow(y), cols, t, out.GetRow(y), offsets);
            else
                DarkSubtractRow(dark.GetRow(y), raw.GetRow(y), cols, t, out.GetRow(y));
            if (++sinceReport == kProgressRows) {
                const int reached = done.fetch_add(sinceReport, std::memory_order_acq_rel) + sinceReport;
                RaiseProgress(status, static_cast<double>(reached) / rows);
                sinceReport = 0;
            }
        }
    });

    Stage1Levels(*request, t);
    resume[kResumeNextRow] = static_cast<uint32_t>(rows);
    if (status.IsCancelRequested())
        return kCancelled;
    status.SetProgress(1.0);
    return kCompleted;
}

int ProcessStage3(FIPERequestStage3* request, int threads)
{
    StartIPWorkerPool();
    IPE_CHECK(request != nullptr, "pReq != NULL");
    IPE_CHECK(request->m_pCambData != nullptr, "pReq->m_pCambData != NULL");
    IPE_CHECK(request->m_pOutImage != nullptr, "pReq->m_pOutImage != NULL");
    IPE_CHECK(request->m_pOutImageL != nullptr, "pReq->m_pOutImageL != NULL");
    IPE_CHECK(request->m_pOutImageRtnx != nullptr, "pReq->m_pOutImageRtnx != NULL");
    IPE_CHECK(request->m_pStage2ImageRtnx != nullptr, "pReq->m_pStage2ImageRtnx != NULL");
    IPE_CHECK(request->m_pStage2Image != nullptr, "pReq->m_pStage2Image != NULL");
    IPE_CHECK(request->m_pTempData != nullptr, "pReq->m_pTempData != NULL");
    const FLUT* cube = FGlobalLUTsClass::GetCubeRootLUT();
    const FCamdata& camdata = *request->m_pCambData;
    FRect keep, active;
    GetCamdataRect(keep, "KeepImageArea", camdata);
    GetCamdataRect(active, "ActiveImageArea", camdata);
    active.OffsetFrom(keep.left, keep.top);
    double greenWeight = GetCamdataFloat("GreenWeight", camdata);
    int greenHigh = GetCamdataInt("GreenHighLimit", camdata);
    int greenLow = GetCamdataInt("GreenLowLimit", camdata);
    if (greenHigh == 0 && greenLow == 0 && greenWeight == 0.0) {
        greenWeight = 0.001;
        greenHigh = 200;
        greenLow = -120;
    }
    if (request->m_bGreenWeighting == 0)
        greenWeight = 0.0;

    const FRect crop = request->m_rCrop;
    FPixmap48SRGB& out = *request->m_pOutImage;
    FPixmap16SMono& outL = *request->m_pOutImageL;
    FPixmap16SMono& outRtnx = *request->m_pOutImageRtnx;
    // Bands cut the destinations into row views, so the whole rectangle must fit first.
    const bool fits = crop.left >= 0 && crop.top >= 0 && crop.right > crop.left && crop.bottom > crop.top &&
                      crop.right <= request->m_iOutCols && crop.bottom <= request->m_iOutRows;
    if (!fits)
        throw FExceptionPixelProc2("Stage 3: output rectangle outside the output image.");
    for (const FPixmap* destination : {static_cast<const FPixmap*>(&out), static_cast<const FPixmap*>(&outL),
                                       static_cast<const FPixmap*>(&outRtnx)}) {
        if (destination->GetCols() < crop.Width() || destination->GetRows() < crop.Height())
            throw FExceptionPixelProc2("Stage 3: output image smaller than the output rectangle.");
        CheckRows(*destination, "Stage 3: output rows shorter than their pixels.");
    }
    const unsigned rotation = static_cast<unsigned>(request->m_iRotation);
    std::vector<double> scales(static_cast<size_t>(std::max(1, threads)), 0.0);
    RunBands(crop.Height(), threads, [&](int first, int end) {
        FRect band(crop.left, crop.top + first, crop.right, crop.top + end);
        FPixmap48SRGB colorView = RowView(out, first, end);
        FPixmap16SMono lView = RowView(outL, first, end);
        FPixmap16SMono rtnxView = RowView(outRtnx, first, end);
        const double s = CropSizeRotateMore(
            *request->m_pStage2Image, active, request->m_iRawCols, request->m_iRawRows, request->m_iOutCols,
            request->m_iOutRows, band, rotation, *cube, colorView, lView, greenWeight, greenHigh, greenLow);
        if (first == 0)
            scales[0] = s;
        CropSizeRotateMono(*request->m_pStage2ImageRtnx, active, request->m_iRawCols, request->m_iRawRows,
                           request->m_iOutCols, request->m_iOutRows, band, rotation, rtnxView);
    });
    FPixmap16SMono lProduced(outL.GetBuffer(), crop.Width(), crop.Height(), outL.GetStride());
    HighPassInBands(lProduced, scales[0], threads);
    return kCompleted;
}

int GenerateToneLUT(FIPERequestGenerateToneLUT* request)
{
    IPE_CHECK(request != nullptr, "pReq != NULL");
    IPE_CHECK(request->m_pToneLUT != nullptr, "pReq->m_pToneLUT != NULL");
    int16_t* tables = request->m_pToneLUT;
    FColorLUT view(tables, tables + kTableEntries, tables + 2 * kTableEntries, kTableEntries, false);
    MakeToneLUT(request->m_dExposure, request->m_dShadow, request->m_dContrast, request->m_dHighlight,
                request->m_adGain[0], request->m_adGain[1], request->m_adGain[2],
                *FGlobalLUTsClass::GetCubeLUT(), view);
    return kCompleted;
}

FColorMatrix Stage4OutputMatrix(int colorSpace, double saturation, bool olderModel, uint32_t skipFlags)
{
    FColorMatrix matrix;
    if (olderModel && (skipFlags & kSkipOutputMatrix) == 0) {
        ComputeOutputMatrix(matrix, colorSpace, saturation);
        return matrix;
    }
    const double d = saturation * (-1.0 / 6.0);
    return SaturationMatrix(d);
}

int ProcessStage4(FIPERequestStage4* request, int threads)
{
    StartIPWorkerPool();
    IPE_CHECK(request != nullptr, "pReq != NULL");
    IPE_CHECK(request->m_pOutImage != nullptr, "pReq->m_pOutImage != NULL");
    IPE_CHECK(request->m_pStage3Image != nullptr, "pReq->m_pStage3Image != NULL");
    IPE_CHECK(request->m_pStage3ImageL != nullptr, "pReq->m_pStage3ImageL != NULL");
    IPE_CHECK(request->m_pStage3ImageRtnx != nullptr, "pReq->m_pStage3ImageRtnx != NULL");
    IPE_CHECK(request->m_pToneLUT != nullptr, "pReq->m_pToneLUT != NULL");
    IPE_CHECK(request->m_pRtnxLUT != nullptr, "pReq->m_pRtnxLUT != NULL");
    const uint32_t flags =
        request->m_pCambData != nullptr ? GetCamdataUInt("SkipStepFlags", *request->m_pCambData) : 0u;
    FPixmap& out = *request->m_pOutImage;
    const int outType = out.GetPixelType();
    const std::unique_ptr<FLUT> transfer =
        MakeOutputTransferLUT(request->m_iColorSpace, outType == FPixmap::PIXEL_48_RGB ? 16 : 8);
    // A saturation that is not a number would make every matrix entry zero: a black picture.
    if (!std::isfinite(request->m_dSaturation))
        throw FExceptionPixelProc2("Stage 4: saturation is not a number.");
    const FColorMatrix matrix = Stage4OutputMatrix(request->m_iColorSpace, request->m_dSaturation,
                                                   request->m_bOlderModel != 0, flags);
    int16_t* tone = request->m_pToneLUT;
    const FColorLUT toneView(tone, tone + kTableEntries, tone + 2 * kTableEntries, kTableEntries, false);
    const FLUT rtnxView(request->m_pRtnxLUT, kTableEntries, false);
    const FPixmap48SRGB& s3 = *request->m_pStage3Image;
    const FPixmap16SMono& L = *request->m_pStage3ImageL;
    const FPixmap16SMono& R = *request->m_pStage3ImageRtnx;
    const bool knownType = outType == FPixmap::PIXEL_24_RGB || outType == FPixmap::PIXEL_32_BGRA ||
                           outType == FPixmap::PIXEL_48_RGB;
    // Row views of the planes must stay inside them; columns are the output function's.
    const bool planesCover =
        s3.GetRows() >= out.GetRows() && L.GetRows() >= out.GetRows() && R.GetRows() >= out.GetRows();
    // Anything the output function refuses is refused by it, in one call, with its text.
    if (threads <= 1 || !knownType || !planesCover) {
        FPixelProc2::ProcessToOutput(s3, L, &R, request->m_dSharpness, toneView, &rtnxView, matrix, *transfer,
                                     request->m_bOlderModel != 0, out);
        return kCompleted;
    }
    CheckRows(out, "Stage 4: output rows shorter than their pixels.");
    RunBands(out.GetRows(), threads, [&](int first, int end) {
        const FPixmap48SRGB s3View = RowView(s3, first, end);
        const FPixmap16SMono lView = RowView(L, first, end);
        const FPixmap16SMono rView = RowView(R, first, end);
        std::unique_ptr<FPixmap> outView(
            NewFPixmap(outType, out.GetRowAddress(first), out.GetCols(), end - first, out.GetStride()));
        FPixelProc2::ProcessToOutput(s3View, lView, &rView, request->m_dSharpness, toneView, &rtnxView,
                                     matrix, *transfer, request->m_bOlderModel != 0, *outView);
    });
    return kCompleted;
}

int CropSizeRotateRequest(FIPERequestCropSizeRotate* request)
{
    IPE_CHECK(request != nullptr, "pReq != NULL");
    IPE_CHECK(request->m_pInImage != nullptr, "pReq->m_pInImage != NULL");
    IPE_CHECK(request->m_pOutImage != nullptr, "pReq->m_pOutImage != NULL");
    CropSizeRotate(*request->m_pInImage, *request->m_pOutImage, request->m_iOutCols, request->m_iOutRows,
                   request->m_rCrop, static_cast<unsigned>(request->m_iRotation));
    return kCompleted;
}

int RotateRequest(FIPERequestRotate* request)
{
    IPE_CHECK(request != nullptr, "pReq != NULL");
    IPE_CHECK(request->m_pInImage != nullptr, "pReq->m_pInImage != NULL");
    IPE_CHECK(request->m_pOutImage != nullptr, "pReq->m_pOutImage != NULL");
    Rotate(*request->m_pInImage, *request->m_pOutImage, static_cast<double>(request->m_iAngle));
    return kCompleted;
}

} // namespace IPEngineStages
