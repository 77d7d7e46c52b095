#include "FIPEngineStages.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "CropSizeRotate.h"
#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FIPERequest.h"
#include "FIPWorkerPool.h"
#include "FLargePageAllocator.h"
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

void TouchStageOutput(const FPixmap* pixmap)
{
    if (pixmap != nullptr && pixmap->GetRows() > 0)
        TouchFreshPages(pixmap->GetRowAddress(0));
}

void RunBands(int rows, int threads, const std::function<void(int first, int end)>& band)
{
    StartIPWorkerPool();
    RunInRowBands(rows, BalancedBands(rows, threads, 16), band);
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
    TouchStageOutput(request->m_pOutImage);
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
    FResampleKernelCache kernels;
    return ProcessStage3(request, threads, kernels);
}

int ProcessStage3(FIPERequestStage3* request, int threads, FResampleKernelCache& kernels)
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
    TouchStageOutput(request->m_pOutImage);
    TouchStageOutput(request->m_pOutImageL);
    TouchStageOutput(request->m_pOutImageRtnx);
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
        const double s =
            CropSizeRotateMore(*request->m_pStage2Image, active, request->m_iRawCols, request->m_iRawRows,
                               request->m_iOutCols, request->m_iOutRows, band, rotation, *cube, colorView,
                               lView, greenWeight, greenHigh, greenLow, &kernels);
        if (first == 0)
            scales[0] = s;
        CropSizeRotateMono(*request->m_pStage2ImageRtnx, active, request->m_iRawCols, request->m_iRawRows,
                           request->m_iOutCols, request->m_iOutRows, band, rotation, rtnxView, &kernels);
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
    TouchStageOutput(request->m_pOutImage);
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

namespace
{

// The buffers of one strip in flight: stage 3's three planes and stage 4's rows, in one
// block from the page store, whose pages outlast the save (a heap would keep them in
// pieces no later block fits).
struct StripSlot {
    FLargeBlock<int16_t> block;
    int16_t* colour = nullptr;
    int16_t* lightness = nullptr;
    int16_t* retinex = nullptr;
    uint8_t* rows = nullptr;
};

struct StripPlan {
    FRect crop;
    int strips;
    int stripRows;
    int margin;

    // Rows [top, top + height) are written; [first, end) are rendered.
    void Bounds(int index, int& top, int& height, int& first, int& end) const
    {
        top = crop.top + index * stripRows;
        height = std::min(stripRows, crop.bottom - top);
        first = top < margin ? top : top - margin;
        end = crop.bottom - (top + height) < margin ? top + height : top + height + margin;
    }
};

void RenderStrip(const FIPERequestStreamOutput& request, const StripPlan& plan, int index, StripSlot& slot,
                 FResampleKernelCache& kernels)
{
    int top, height, first, end;
    plan.Bounds(index, top, height, first, end);
    const int cols = plan.crop.Width();
    const int rows = end - first;
    const size_t pixels = static_cast<size_t>(cols) * static_cast<size_t>(rows);
    const int bytes = GetPixelTypeBytesPerPixel(request.m_iOutputType);
    const size_t rowSamples = (static_cast<size_t>(bytes) * pixels + 1) / 2;
    if (!slot.block.Reserve(5 * pixels + rowSamples))
        throw std::bad_alloc();
    slot.colour = slot.block.Data();
    slot.lightness = slot.colour + 3 * pixels;
    slot.retinex = slot.lightness + pixels;
    slot.rows = reinterpret_cast<uint8_t*>(slot.retinex + pixels);
    FPixmap48SRGB colour(slot.colour, cols, rows, 0);
    FPixmap16SMono lightness(slot.lightness, cols, rows, 0);
    FPixmap16SMono retinex(slot.retinex, cols, rows, 0);
    const std::unique_ptr<FPixmap> out(
        NewFPixmap(request.m_iOutputType, slot.rows, cols, rows, cols * bytes));

    const FIPERequestStage3& from3 = request.m_Stage3;
    FIPERequestStage3 stage3;
    stage3.m_pStage2Image = from3.m_pStage2Image;
    stage3.m_pStage2ImageRtnx = from3.m_pStage2ImageRtnx;
    stage3.m_iOutCols = from3.m_iOutCols;
    stage3.m_iOutRows = from3.m_iOutRows;
    stage3.m_rCrop = FRect(plan.crop.left, first, plan.crop.right, end);
    stage3.m_iRotation = from3.m_iRotation;
    stage3.m_iRawCols = from3.m_iRawCols;
    stage3.m_iRawRows = from3.m_iRawRows;
    stage3.m_pCambData = from3.m_pCambData;
    stage3.m_pTempData = &slot;
    stage3.m_pOutImage = &colour;
    stage3.m_pOutImageL = &lightness;
    stage3.m_pOutImageRtnx = &retinex;
    stage3.m_bGreenWeighting = from3.m_bGreenWeighting;
    ProcessStage3(&stage3, 1, kernels);

    const FIPERequestStage4& from4 = request.m_Stage4;
    FIPERequestStage4 stage4;
    stage4.m_pStage3Image = &colour;
    stage4.m_pStage3ImageL = &lightness;
    stage4.m_pStage3ImageRtnx = &retinex;
    stage4.m_pCambData = from4.m_pCambData;
    stage4.m_pToneLUT = from4.m_pToneLUT;
    stage4.m_pRtnxLUT = from4.m_pRtnxLUT;
    stage4.m_iColorSpace = from4.m_iColorSpace;
    stage4.m_dSharpness = from4.m_dSharpness;
    stage4.m_dSaturation = from4.m_dSaturation;
    stage4.m_pOutImage = out.get();
    stage4.m_bOlderModel = from4.m_bOlderModel;
    ProcessStage4(&stage4, 1);
}

} // namespace

int StreamOutput(FIPERequestStreamOutput* request, int threads)
{
    IPE_CHECK(request != nullptr, "pReq != NULL");
    IPE_CHECK(static_cast<bool>(request->m_WriteRows), "pReq->m_WriteRows");
    const int type = request->m_iOutputType;
    if (type != FPixmap::PIXEL_24_RGB && type != FPixmap::PIXEL_32_BGRA && type != FPixmap::PIXEL_48_RGB)
        throw FExceptionPixelProc2("Stream output: unknown pixel type of the rows.");
    const FIPERequestStage3& s3 = request->m_Stage3;
    const FRect crop = s3.m_rCrop;
    if (crop.left < 0 || crop.top < 0 || crop.right <= crop.left || crop.bottom <= crop.top ||
        crop.right > s3.m_iOutCols || crop.bottom > s3.m_iOutRows)
        throw FExceptionPixelProc2("Stream output: output rectangle outside the output image.");
    if (request->m_iStripRows <= 0 || request->m_iStripMargin < 0 ||
        request->m_iStripMargin > request->m_iStripRows)
        throw FExceptionPixelProc2("Stream output: strip height or margin out of range.");
    FAsyncStatus& status = request->m_Async;
    StripPlan plan{crop, 0, request->m_iStripRows, request->m_iStripMargin};
    plan.strips =
        static_cast<int>((static_cast<int64_t>(crop.Height()) + plan.stripRows - 1) / plan.stripRows);
    threads = std::clamp(threads, 1, plan.strips);
    // A few strips more than threads, so that a thread finishing early finds work while the
    // strip to write next is still being made; no more, or memory grows with the threads.
    const int window = threads + 2;
    std::vector<StripSlot> slots(static_cast<size_t>(window));
    FResampleKernelCache kernels;

    std::mutex lock;
    std::condition_variable changed;
    int next = 0;
    int written = 0;
    bool writing = false;
    bool stop = false;
    std::exception_ptr failure;
    std::vector<char> done(static_cast<size_t>(plan.strips), 0);
    auto fail = [&](std::exception_ptr e) {
        std::lock_guard<std::mutex> hold(lock);
        if (!failure)
            failure = e;
        stop = true;
        changed.notify_all();
    };
    // Each worker takes the next strip while the window has room; whoever finishes the strip
    // due next writes every finished strip in order. One worker alone does all of it.
    auto worker = [&](int, int) {
        for (;;) {
            int index;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return stop || next >= plan.strips || next < written + window; });
                if (stop || next >= plan.strips)
                    return;
                if (status.IsCancelRequested()) {
                    stop = true;
                    changed.notify_all();
                    return;
                }
                index = next++;
            }
            try {
                RenderStrip(*request, plan, index, slots[static_cast<size_t>(index % window)], kernels);
            } catch (...) {
                fail(std::current_exception());
                return;
            }
            std::unique_lock<std::mutex> hold(lock);
            done[static_cast<size_t>(index)] = 1;
            if (writing)
                continue;
            writing = true;
            while (!stop && written < plan.strips && done[static_cast<size_t>(written)] != 0) {
                const int w = written;
                hold.unlock();
                try {
                    int top, height, first, end;
                    plan.Bounds(w, top, height, first, end);
                    StripSlot& slot = slots[static_cast<size_t>(w % window)];
                    const int bytes = GetPixelTypeBytesPerPixel(type);
                    const size_t skipped =
                        static_cast<size_t>(top - first) * static_cast<size_t>(crop.Width());
                    const std::unique_ptr<FPixmap> rows(NewFPixmap(
                        type, slot.rows + skipped * bytes, crop.Width(), height, crop.Width() * bytes));
                    request->m_WriteRows(*rows);
                } catch (...) {
                    hold.lock();
                    writing = false;
                    hold.unlock();
                    fail(std::current_exception());
                    return;
                }
                hold.lock();
                written = w + 1;
                RaiseProgress(status, static_cast<double>(written) / plan.strips);
                changed.notify_all();
            }
            writing = false;
        }
    };
    RunBands(threads, threads, worker);
    if (failure)
        std::rethrow_exception(failure);
    if (written < plan.strips)
        return kCancelled;
    status.SetProgress(1.0);
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
