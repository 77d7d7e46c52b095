#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "CalculateAutoAdjustSettings.h"
#include "ChromaBlur.h"
#include "CorrectBadPixels.h"
#include "CorrectRowSegments.h"
#include "Despeckle.h"
#include "EstimateFlare.h"
#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FIPERequest.h"
#include "FIPEStage2Calls.h"
#include "FIPEStage2Setup.h"
#include "FIPEngineStages.h"
#include "FIPMemoryBudget.h"
#include "FIPWorkerPool.h"
#include "FIRNoiseReduction.h"
#include "FImage.h"
#include "FPixelProc2.h"
#include "FPropList.h"
#include "FTiffLineWriter.h"
#include "NeighborizeOutliers.h"
#include "RedSharpenRow.h"
#include "Retinex.h"
#include "RunInRowBands.h"

namespace IPEngineStages
{

namespace
{

constexpr int kSteps = 14;
constexpr double kWeights[kSteps] = {1.502, 0.001, 0.255, 0.25,  0.584, 1.5,   2.214,
                                     0.453, 10.0,  1.709, 2.225, 0.075, 0.071, 0.001};
constexpr const char* kDumpNames[kSteps] = {"CorrectionProcess",
                                            "ReplaceBadPixels",
                                            "SharpenRed",
                                            "NeutralizeHighlight",
                                            "Despeckle1",
                                            "ChromaBlurSmall",
                                            "ChromaBlur1",
                                            "ColorTransform",
                                            "DoNotDump",
                                            "DoNotDump",
                                            "DoNotDump",
                                            "DoNotDump",
                                            nullptr,
                                            nullptr};

// Tables and small buffers the steps keep from one image to the next, per engine thread.
// The large working planes come from the page store, which keeps their pages mapped.
struct Stage2Scratch {
    std::vector<FDoubleRGB> rowOffsets;
    std::vector<float> gainProduct;
    FIRScratch noiseFilter;
    FRetinexScratch retinex;
};

Stage2Scratch& Scratch()
{
    thread_local Stage2Scratch scratch;
    return scratch;
}

// A coring or filter table of zero amplitude: values pass unchanged. Used where the
// calibration gives no positive amplitude, which the shared tanh tables refuse.
const FColorLUT& ZeroTable()
{
    static const FColorLUT table(512);
    return table;
}

const FColorLUT& TanhOrZero(const FDoubleRGB& amplitude)
{
    const bool usable = std::isfinite(amplitude.r) && std::isfinite(amplitude.g) &&
                        std::isfinite(amplitude.b) && amplitude.r > 0.0 && amplitude.g > 0.0 &&
                        amplitude.b > 0.0;
    return usable ? *FGlobalLUTsClass::GetTanhLUTs(amplitude, FDoubleRGB(0.8, 0.8, 0.8)) : ZeroTable();
}

FDoubleRGB Times(const FDoubleRGB& a, const FDoubleRGB& b)
{
    return {a.r * b.r, a.g * b.g, a.b * b.b};
}

FDoubleRGB Scale(const FDoubleRGB& a, double s)
{
    return {a.r * s, a.g * s, a.b * s};
}

int Trunc(double v)
{
    return std::isfinite(v) ? static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0)) : 0;
}

uint32_t ChromaSumShift(const FCamdata& cam)
{
    bool found = false;
    const uint16_t v = GetCamdataUShort("ChromaSumShift", cam, &found);
    return found ? v : 3u;
}

struct Stage2Context {
    FIPERequestStage2& request;
    const FCamdata& cam;
    FStage2Params& p;
    FPixmap48SRGB& image;
    int threads;
};

void StepCorrection(Stage2Context& c)
{
    const FCamdata& cam = c.cam;
    FStage2Params& p = c.p;
    const int rows = c.image.GetRows();
    const int cols = c.image.GetCols();
    FDoubleRGB flare;
    EstimateFlare(flare, c.image, Stage2Setup::CamFloatRGB("FlareFactor", cam, FDoubleRGB(0, 0, 0)));
    const FStage2ColumnFilters filters = Stage2ColumnFilters(p, cam);
    const FDoubleRGB cf = filters.filter;

    // The gains are the engine's own table: the camera data stays as it was read.
    std::unique_ptr<FCamdataGainTable> spatial(GetCamdataGainTable("SpatialGain", cam));
    std::unique_ptr<FCamdataGainTable> shading(GetCamdataGainTable("Shading", cam));
    FCamdataGainTable product;
    const FCamdataGainTable* gains = spatial.get();
    if (spatial && shading) {
        Check(spatial->m_iColumns == shading->m_iColumns, __LINE__, "uiSpatialGainCols == uiShadingCols");
        Check(spatial->m_iRows == shading->m_iRows, __LINE__, "uiSpatialGainRows == uiShadingRows");
        const size_t n = 3 * static_cast<size_t>(spatial->m_iColumns) * static_cast<size_t>(spatial->m_iRows);
        std::vector<float>& buffer = Scratch().gainProduct;
        buffer.resize(n);
        for (size_t i = 0; i < n; ++i)
            buffer[i] = spatial->m_pData[i] * shading->m_pData[i];
        product = {buffer.data(), spatial->m_iColumns, spatial->m_iRows};
        gains = &product;
    }

    double rg = Stage2Setup::CamFloat("RowCorrectionGain", cam);
    double rs = Stage2Setup::CamFloat("RowCorrectionScale", cam);
    if (rs == 0.0 || (rs == 12.0 && std::fabs(rg - 0.8) < 0.01)) {
        rg = p.m_bRowOffsetMode ? 0.75 : 0.9;
        rs = p.m_bRowOffsetMode ? 13.0 : 22.0;
    }
    int32_t range[4] = {0, 0, 0, 0};
    const uint32_t dims[2] = {2, 2};
    if (const FCamdataMatrix* m = cam.GetMatrix("DarkShieldColRange", kCamdataUInt32, 2, dims)) {
        const uint32_t* v = m->GetData<uint32_t>();
        for (int i = 0; i < 4; ++i)
            range[i] = static_cast<int32_t>(std::min<uint32_t>(v[i], 0x7FFFFFFF));
    } else {
        static constexpr int32_t kWide[4] = {6, 14, 2292, 2300};
        static constexpr int32_t kNarrow[4] = {3, 7, 1146, 1150};
        if (cols == 2304)
            std::copy_n(kWide, 4, range);
        else if (cols == 1152)
            std::copy_n(kNarrow, 4, range);
        DebugTrace("Camdata dark shield '%s' not found.\n", "DarkShieldColRange");
    }
    std::vector<FDoubleRGB>& offsets = Scratch().rowOffsets;
    offsets.assign(static_cast<size_t>(rows), FDoubleRGB());
    CorrectRowSegments(offsets.data(), c.image, static_cast<uint32_t>(rows), range[0], range[1], range[2],
                       range[3], cf, p.m_Drift, rg, rs, p.m_rActive, p.m_bRowOffsetMode);
    if (p.m_bBulb)
        flare = FDoubleRGB(0, 0, 0);
    const double capacitance = Stage2Setup::CamFloat("SegmentCapacitance", cam);
    const double feedThrough = Stage2Setup::CamFloat("SegmentChargeFeedThrough", cam);

    FRowTransformSettings settings;
    settings.columnFilter = cf;
    settings.columnFilterSquare = filters.square;
    settings.segmentCapacitance = FDoubleRGB(capacitance, capacitance, capacitance);
    settings.segmentFeedThrough = FDoubleRGB(feedThrough, feedThrough, feedThrough);
    settings.segmentInterval = GetCamdataInt("SegmentBoundaryInterval", cam);
    settings.drift = p.m_Drift;
    settings.rowOffsets = offsets.data();
    settings.flare = flare;
    settings.poly = p.m_Post;
    settings.gainTable = (p.m_uSkipFlags & kSkipSpatialGain) != 0 ? nullptr : gains;
    settings.gain = Scale(p.m_W, p.m_iIsoGain);
    TransformImageFixed(c.image, settings, c.threads);
}

bool StepBadPixels(Stage2Context& c)
{
    if ((c.p.m_uSkipFlags & kSkipBadPixels) != 0)
        return false;
    uint32_t count = 0;
    const uint32_t* list = GetCamdataUIntArray("BadPixels", c.cam, count);
    if (list == nullptr)
        return false;
    uint32_t badnessCount = 0;
    const uint8_t* badness = GetCamdataByteArray("BPBadness", c.cam, badnessCount);
    std::vector<uint32_t> kept(list, list + count);
    if (badness != nullptr) {
        Check(count == badnessCount, __LINE__, "uiBPCount == uiBPBadnessCount");
        uint32_t levelCount = 0, timeCount = 0;
        const uint32_t* levels = GetCamdataUIntArray("BadPixThreshLevels", c.cam, levelCount);
        const float* times = GetCamdataFloatArray("BadPixThreshTimes", c.cam, timeCount);
        const float seconds = static_cast<float>(Stage2Setup::CamFloat("CaptureShutter", c.cam) * 0.000001);
        const uint8_t threshold = CalculateBadPixelThreshold(seconds, levels, levelCount, times, timeCount);
        kept = SelectBadPixels(list, count, badness, badnessCount, threshold);
    }
    const uint32_t origin[2] = {static_cast<uint32_t>(-c.p.m_rKeep.left),
                                static_cast<uint32_t>(-c.p.m_rKeep.top)};
    CorrectBadPixels(c.image, kept.data(), static_cast<uint32_t>(kept.size()), origin);
    return true;
}

bool StepRedSharpen(Stage2Context& c)
{
    const int amount = 2 * Trunc(Stage2Setup::CamFloat("RedSharpen", c.cam));
    if (amount == 0 || c.p.m_bMonochrome)
        return false;
    int left = GetCamdataInt("RedLeftWeight", c.cam);
    int right = GetCamdataInt("RedRightWeight", c.cam);
    if (left == 0 && right == 0) {
        left = 2048;
        right = 0;
    }
    RedSharpenImage(c.image, amount, left, right, c.threads);
    return true;
}

bool StepNeutralizeHighlight(Stage2Context& c)
{
    const FStage2Params& p = c.p;
    if (!(p.m_Saturation.g > 0) || p.m_bMonochrome || (p.m_uSkipFlags & kSkipNeutralizeHighlight) != 0)
        return false;
    FIntRGB s = p.m_Saturation;
    if (p.m_bMV3) {
        s = {s.r - s.r / 32, s.g - s.g / 32, s.b - s.b / 32};
        s.r -= s.r / 6;
    } else if (p.m_bMV60) {
        s = {s.r - s.r / 64, s.g - s.g / 64, s.b - s.b / 64};
        s.r -= s.r / 8;
        s.r = std::min(s.r, s.g - s.g / 16);
        s.b = std::min(s.b, s.g + s.g / 16);
    }
    FIntRGB low, clip, chroma;
    NeighborizeThresholds(FDoubleRGB(1, 1, 1), s, low, clip, chroma);
    const int count = NeighborizeImage(c.image, p.m_bBulb, low, clip, chroma, c.threads);
    DebugTrace("----------> %d pixels neighborized.\n", count);
    return true;
}

bool StepDespeckle(Stage2Context& c)
{
    if ((c.p.m_uSkipFlags & kSkipDespeckle) != 0)
        return false;
    DespeckleImage(c.image, c.p.m_bDespecklePerChannel, c.threads);
    return true;
}

bool StepChromaSmall(Stage2Context& c)
{
    const FStage2ChromaArgs a = Stage2SmallChromaArgs(c.p, c.cam);
    if (!a.run)
        return false;
    BinomialChromaDQImage(c.image, TanhOrZero(a.amplitude), a.sumShift, c.threads);
    return true;
}

bool StepChroma(Stage2Context& c)
{
    const FStage2ChromaArgs a = Stage2ChromaArgs(c.p, c.cam);
    if (!a.run)
        return false;
    SpatialChromaDQImage(c.image, a.strength, TanhOrZero(a.amplitude), a.sumShift, c.threads);
    return true;
}

bool StepColorTransform(Stage2Context& c)
{
    const FStage2Params& p = c.p;
    if ((p.m_uSkipFlags & kSkipColorTransform) != 0)
        return false;
    const FStage2ColorArgs a = Stage2ColorArgs(p, c.cam);
    const FColorMatrixFixed Q = a.matrix.ToFixed();
    const FDoubleRGB& q = a.noise;
    const FColorLUT& t = TanhOrZero(q);
    FIntRGB b;
    AverageDarkestPixels(b, c.image, q.r, q.g, q.b, 0, 0, 0);
    const int32_t shift = (b.r + 2 * b.g + b.b) >> 2;
    b = {b.r - shift, b.g - shift, b.b - shift};
    const bool pair = !p.m_bFIRDisabled && c.request.m_pStage2PreMatImage != nullptr;
    FPixmap48SRGB* preMat = c.request.m_pStage2PreMatImage;
    if (pair && (preMat->GetCols() < c.image.GetCols() || preMat->GetRows() < c.image.GetRows()))
        throw FExceptionPixelProc2("Stage 2: pre-matrix image smaller than the working image.");
    const int cols = c.image.GetCols();
    const FStage2ColorTransform transform(Q, t, b.r, b.g, b.b, -500, 24000);
    StartIPWorkerPool();
    RunRowChunks(c.image.GetRows(), c.threads, 16, [&](int first, int end) {
        for (int y = first; y < end; ++y)
            transform.Apply(c.image.GetRow(y), pair ? preMat->GetRow(y) : nullptr, cols);
    });
    return true;
}

// False when the request was cancelled before the filter changed the image: the step
// runs again whole when the request is continued.
bool StepFIR(Stage2Context& c, bool& ran)
{
    const FStage2FIRArgs a = Stage2FIRArgs(c.p, c.cam);
    ran = a.run && c.request.m_pStage2PreMatImage != nullptr;
    if (!ran)
        return true;
    const FAsyncStatus& status = c.request.m_Async;
    const FIRResult result =
        FIRNoiseReduction(c.image, *c.request.m_pStage2PreMatImage, a.ref, a.edgeRef, a.imgEdgeRef,
                          a.locality, a.sigmoid, a.edgeScale, a.meanScale, a.exponent, a.m, a.g,
                          Scratch().noiseFilter, c.threads, [&status] { return status.IsCancelRequested(); });
    switch (result) {
    case FIRResult::kFiltered:
    case FIRResult::kLeftAsIs:
        return true;
    case FIRResult::kCancelled:
        return false;
    case FIRResult::kNoMemory:
        // An image left unfiltered would pass for a finished one.
        throw FIPEStatusError{kErrOutOfMemory, "Stage 2: not enough memory for the noise filter."};
    }
    return true;
}

bool StepChromaBlur(Stage2Context& c)
{
    const FStage2ChromaArgs a = Stage2ChromaBlurArgs(c.p, c.cam);
    if (!a.run)
        return false;
    ChromaBlurImage(c.image, 5.0, 5.0, 5.0, a.strength, TanhOrZero(a.amplitude), static_cast<int>(a.sumShift),
                    c.threads);
    return true;
}

void StepRetinex(Stage2Context& c)
{
    FPixmap48SRGB& image = c.image;
    FPixmap16SMono& rtnx = *c.request.m_pRtnxImage;
    const int cols = image.GetCols();
    const int rows = image.GetRows();
    if (cols < 3 || rows < 3)
        throw FExceptionPixelProc2("Retinexing: input image too small");
    // The active area, clipped to the image; an unusable one means the whole image.
    FRect a = c.p.m_rActive;
    a.left = std::max(a.left, 0);
    a.top = std::max(a.top, 0);
    a.right = std::min(a.right, cols);
    a.bottom = std::min(a.bottom, rows);
    if (a.Width() < 3 || a.Height() < 3)
        a = FRect(0, 0, cols, rows);
    const FPixmap48SRGB in(image.GetPixel(a.left, a.top), a.Width(), a.Height(), image.GetStride());
    FRetinexImage out(rtnx.GetPixel(a.left, a.top), a.Width(), a.Height(), rtnx.GetStride());
    const FAsyncStatus& status = c.request.m_Async;
    c.request.m_dRetinex =
        MultiScaleRetinex(in, out, c.p.m_dExposureSeconds, c.request.m_dAperture, Trunc(c.request.m_dISO),
                          Scratch().retinex, c.threads, [&status] { return status.IsCancelRequested(); });
    for (int x = a.left; x < a.right; ++x) {
        for (int y = 0; y < a.top; ++y)
            *rtnx.GetPixel(x, y) = *rtnx.GetPixel(x, a.top);
        for (int y = a.bottom; y < rows; ++y)
            *rtnx.GetPixel(x, y) = *rtnx.GetPixel(x, a.bottom - 1);
    }
    for (int y = 0; y < rows; ++y) {
        int16_t* row = rtnx.GetRow(y);
        std::fill(row, row + a.left, row[a.left]);
        std::fill(row + a.right, row + cols, row[a.right - 1]);
    }
}

void StepAutoSettings(Stage2Context& c)
{
    double o[5] = {};
    FDoubleRGB neutral(0, 0, 0);
    CalculateAutoAdjustSettings(c.image, *FGlobalLUTsClass::GetCubeRootLUT(), *FGlobalLUTsClass::GetCubeLUT(),
                                c.request.m_dRetinex, o[0], o[1], o[2], o[3], o[4], neutral);
    double* r = c.request.m_adAutoSettings;
    r[0] = o[0];
    r[1] = o[2];
    r[2] = o[1];
    r[3] = o[3];
    r[4] = c.p.m_bCL7 ? 0.0 : o[4];
    const FDoubleRGB out = c.p.m_bPreset ? neutral : FDoubleRGB(1, 1, 1);
    c.request.m_adOutputNeutral[0] = out.r;
    c.request.m_adOutputNeutral[1] = out.g;
    c.request.m_adOutputNeutral[2] = out.b;
}

// The chroma amplitude of steps 5, 6 and 9 before their own last factors.
FDoubleRGB ChromaAmplitude(const FStage2Params& p, const FCamdata& cam, int& spatial)
{
    spatial = Trunc(Trunc(Stage2Setup::CamFloat("SpatialDQ", cam)) * p.m_dNoiseScale);
    const FDoubleRGB q = Stage2Setup::CamFloatRGB("ChromaDQ", cam, FDoubleRGB(0, 0, 0));
    return Times(Scale(q, p.m_dNoiseScale), p.m_W);
}

double FIRValue(const FCamdata& cam, const char* key, double fallback)
{
    const double v = Stage2Setup::CamFloat(key, cam);
    return v != 0.0 ? v : fallback;
}

} // namespace

FStage2ColumnFilters Stage2ColumnFilters(const FStage2Params& p, const FCamdata& cam)
{
    const double all = Stage2Setup::CamFloat("ColumnFilter", cam);
    FDoubleRGB cf = Stage2Setup::CamFloatRGB("ColumnFilterRGB", cam, FDoubleRGB(all, all, all));
    if (p.m_bMV60 && cf.g == cf.r)
        cf.g *= 0.94;
    // Read whether or not the frames are accumulated; only the default differs.
    const FDoubleRGB square =
        Stage2Setup::CamFloatRGB("ColumnFilterSquareRGB", cam, p.m_bBulb ? FDoubleRGB(0, 0, 0) : cf);
    return {cf, square};
}

FStage2ChromaArgs Stage2SmallChromaArgs(const FStage2Params& p, const FCamdata& cam)
{
    FStage2ChromaArgs a;
    const int cb = Trunc(Stage2Setup::CamFloat("ChromaBlur", cam));
    a.run = cb != 0 && (p.m_uSkipFlags & kSkipChromaSmall) == 0;
    a.sumShift = ChromaSumShift(cam);
    int spatial = 0;
    FDoubleRGB q = ChromaAmplitude(p, cam, spatial);
    if (p.m_bMonochrome)
        q = Scale(q, 2.0);
    q = Scale(q, p.m_iIsoGain * 2.0);
    const double m = (q.r + q.g + q.b) / 3.0;
    a.amplitude = FDoubleRGB(m, m, m);
    return a;
}

FStage2ChromaArgs Stage2ChromaArgs(const FStage2Params& p, const FCamdata& cam)
{
    FStage2ChromaArgs a;
    const int cb = Trunc(Stage2Setup::CamFloat("ChromaBlur", cam));
    a.run = cb != 0 && !p.m_bMonochrome && (p.m_uSkipFlags & kSkipChroma) == 0;
    a.sumShift = ChromaSumShift(cam);
    int spatial = 0;
    const FDoubleRGB q = Scale(ChromaAmplitude(p, cam, spatial), p.m_iIsoGain);
    const double m = (q.r + q.g + q.b) / 3.0;
    a.amplitude = FDoubleRGB(m, m, m);
    a.strength = Trunc(p.m_iIsoGain * 10.0) * spatial;
    return a;
}

FStage2ChromaArgs Stage2ChromaBlurArgs(const FStage2Params& p, const FCamdata& cam)
{
    FStage2ChromaArgs a;
    const int cb = Trunc(Stage2Setup::CamFloat("ChromaBlur", cam));
    a.run = cb > 100 && !p.m_bMonochrome && (p.m_uSkipFlags & kSkipChromaBlur) == 0;
    a.sumShift = ChromaSumShift(cam);
    int spatial = 0;
    a.amplitude = Scale(ChromaAmplitude(p, cam, spatial), p.m_dIsoRatio * 2.0 / 3.0 / 2.0);
    a.strength = static_cast<int>(static_cast<unsigned>(Trunc(p.m_dIsoRatio * 10.0) * spatial) >> 1);
    return a;
}

FStage2ColorArgs Stage2ColorArgs(const FStage2Params& p, const FCamdata& cam)
{
    FStage2ColorArgs a;
    a.matrix = p.m_U;
    const bool fir = !p.m_bFIRDisabled && !p.m_bMonochrome;
    if (p.m_bOlderModel)
        ComputeWorkingColorMatrix(a.matrix, p.m_U, p.m_V, fir ? 1.0 : p.m_dReducedRatio, -1.0 / 30.0);
    if (fir) {
        const double g = a.matrix.m[1][0] + a.matrix.m[1][1] + a.matrix.m[1][2];
        if (g != 0.0 && std::isfinite(g)) {
            a.matrix = a.matrix.ScaledCopy(1.0 / g);
            a.greenSum = g;
        }
    }
    FDoubleRGB q = Stage2Setup::CamFloatRGB("ColorDQCamRGB", cam, FDoubleRGB(0, 0, 0));
    if (q.r == 0.0 && q.g == 0.0 && q.b == 0.0) {
        const double v = 4.0 / std::pow(std::min(p.m_dIsoRatio, 8.0), 0.25);
        q = FDoubleRGB(v, v, v);
    }
    q = Times(Scale(q, p.m_dNoiseScale), Scale(p.m_W, p.m_iIsoGain));
    if ((p.m_uSkipFlags & kSkipColorNoise) != 0)
        q = FDoubleRGB(0, 0, 0);
    a.noise = q;
    return a;
}

FStage2FIRArgs Stage2FIRArgs(const FStage2Params& p, const FCamdata& cam)
{
    FStage2FIRArgs a;
    a.run = !p.m_bFIRDisabled && !p.m_bMonochrome;
    const double I = p.m_dCaptureISO;
    double ref, edgeRef, imgEdgeRef, locality;
    if (p.m_bMV3 || p.m_bMV60) {
        ref = I > 1200 ? 0.000846 : 0.00093;
        edgeRef = I > 600 ? 0.000846 : 0.001606;
        imgEdgeRef = I > 1200 ? 0.008455 : (I > 600 ? 0.012682 : 0.016064);
        locality = I > 1200 ? 2 : (I > 600 ? 1.5 : 1);
    } else {
        ref = FIRValue(cam, "FIR_ProportionLocalMeanRef", I > 2400 ? 0.008 : (I > 1200 ? 0.001 : 0.0011));
        edgeRef = FIRValue(cam, "FIR_ProportionLocalMeanEdgeRef", I > 600 ? 0.001 : 0.0019);
        imgEdgeRef = FIRValue(cam, "FIR_ProportionLocalMeanImgWithEdgeRef",
                              I > 2400 ? 0.015 : (I > 1200 ? 0.01 : (I > 600 ? 0.015 : 0.019)));
        locality = FIRValue(cam, "FIR_Locality", I > 2400 ? 3 : (I > 1200 ? 2 : (I > 600 ? 1.5 : 1)));
    }
    a.ref = static_cast<float>(ref);
    a.edgeRef = static_cast<float>(edgeRef);
    a.imgEdgeRef = static_cast<float>(imgEdgeRef);
    a.locality = static_cast<float>(locality);
    a.edgeScale = static_cast<float>(FIRValue(cam, "FIR_ScaleFactorEdgeRef", 5.0));
    a.meanScale = static_cast<float>(FIRValue(cam, "FIR_ScaleFactorLocalMeanEdgeRef", 7.0));
    a.sigmoid = static_cast<float>(FIRValue(cam, "FIR_SigmoidOffset", 0.55));
    a.exponent = static_cast<float>(FIRValue(cam, "FIR_EdgeMapExponent", 0.7));
    // The filter scales its output by min(m, 7) x g and sizes its tables by g.
    a.m = static_cast<float>(Stage2ColorArgs(p, cam).greenSum);
    a.g = static_cast<float>(p.m_dReducedRatio);
    return a;
}

namespace
{

void Dump(Stage2Context& c, const char* name)
{
    if (c.request.m_bDumpStages == 0 || name == nullptr)
        return;
    FWideString path;
    if (MakeDumpPath(name, c.request.m_usDumpBase, path))
        DumpImage(c.image, path);
}

} // namespace

double Stage2ProgressMark(int step)
{
    // Divided by the weights' own sum (20.84), so the marks end at exactly 1.
    double total = 0.0;
    for (double w : kWeights)
        total += w;
    double sum = 0.0;
    for (int s = 0; s < std::clamp(step, 0, kSteps); ++s)
        sum += kWeights[s];
    return step >= kSteps ? 1.0 : sum / total;
}

bool MakeDumpPath(const char* stepName, const FWideString& base, FWideString& path)
{
    if (FWideString(stepName) == "DoNotDump")
        return false;
    // Less the raw file's extension, such as ".q7f".
    path = base;
    if (base.GetLength() >= 4)
        path.DropRight(4);
    else
        path.Clear();
    path += "-";
    path += stepName;
    path += ".tif";
    return true;
}

void DumpImage(const FPixmap48SRGB& image, const FWideString& path)
{
    FTiffLineWriter writer(path, false);
    FPropList properties(nullptr, "Properties");
    writer.WriteTags(&properties);
    writer.SetDimensions(image.GetCols(), image.GetRows(), FPixmap::PIXEL_48_RGB);
    std::vector<uint16_t> line(3 * static_cast<size_t>(image.GetCols()));
    for (int y = 0; y < image.GetRows(); ++y) {
        const int16_t* row = image.GetRow(y);
        for (size_t i = 0; i < line.size(); ++i)
            line[i] = static_cast<uint16_t>(row[i] + 32768);
        writer.WriteLine(line.data(), FPixmap::PIXEL_48_RGB);
    }
    writer.Finish();
}

int ProcessStage2(FIPERequestStage2* request, int threads)
{
    StartIPWorkerPool();
    IPE_CHECK(request != nullptr, "pReq != NULL");
    IPE_CHECK(request->m_pCambData != nullptr, "pReq->m_pCambData != NULL");
    IPE_CHECK(request->m_pStage1Image != nullptr, "pReq->m_pStage1Image != NULL");
    IPE_CHECK(request->m_pRtnxImage != nullptr, "pReq->m_pRtnxImage != NULL");
    IPE_CHECK(request->m_pTempData != nullptr, "pReq->m_pTempData != NULL");
    IPE_CHECK(request->m_pCaptureProps != nullptr, "pReq->m_pCaptureProps != NULL");
    FPixmap48SRGB& image = *request->m_pStage1Image;
    // Stage 2's working planes are the largest a development has: kept for the next.
    FitPageBudgetToImage(image.GetCols(), image.GetRows());
    TouchStageOutput(request->m_pStage2PreMatImage);
    TouchStageOutput(request->m_pRtnxImage);
    const FPixmap48SRGB& scratch = *request->m_pTempData;
    if (scratch.GetCols() < image.GetCols() ||
        scratch.GetRows() < Stage2Setup::ScratchRowsNeeded(image.GetCols(), image.GetRows()))
        throw FIPEStatusError{kErrInvalid, "FIPEngine2::priProcessStage2 temporary buffer is the wrong size"};
    const FPixmap16SMono& rtnx = *request->m_pRtnxImage;
    if (rtnx.GetCols() < image.GetCols() || rtnx.GetRows() < image.GetRows())
        throw FExceptionPixelProc2("Stage 2: retinex image smaller than the working image.");

    FAsyncStatus& status = request->m_Async;
    uint32_t* resume = request->m_ResumeState;
    if (resume[kResumeTag] != kResumeTagStage2) {
        resume[kResumeTag] = kResumeTagStage2;
        resume[kResumeStep] = 0;
        resume[kResumeNextRow] = 0;
        resume[kResumePass] = 0;
        status.SetProgress(0.0);
    }

    FStage2Params p;
    Stage2Setup::Run(*request, p, threads);
    request->m_bOlderModel = p.m_bOlderModel ? 1 : 0;
    Stage2Context c{*request, *request->m_pCambData, p, image, threads};

    while (resume[kResumeStep] < static_cast<uint32_t>(kSteps)) {
        if (status.IsCancelRequested())
            return kCancelled;
        const int step = static_cast<int>(resume[kResumeStep]);
        status.SetProgress(Stage2ProgressMark(step));
        if (step == 0)
            Dump(c, "Linearized");
        bool ran = true;
        switch (step) {
        case 0:
            StepCorrection(c);
            break;
        case 1:
            ran = StepBadPixels(c);
            break;
        case 2:
            ran = StepRedSharpen(c);
            break;
        case 3:
            ran = StepNeutralizeHighlight(c);
            break;
        case 4:
            ran = StepDespeckle(c);
            break;
        case 5:
            ran = StepChromaSmall(c);
            break;
        case 6:
        case 9:
            // One pass each; once done it is marked, so a continued request never filters
            // the image twice.
            if (resume[kResumePass] < 1) {
                ran = step == 6 ? StepChroma(c) : StepChromaBlur(c);
                resume[kResumePass] = 1;
                if (ran && status.IsCancelRequested()) {
                    if (request->m_StepObserver)
                        request->m_StepObserver(step, ran);
                    return kCancelled;
                }
            } else {
                ran = false;
            }
            break;
        case 7:
            ran = StepColorTransform(c);
            break;
        case 8:
            if (!StepFIR(c, ran))
                return kCancelled;
            break;
        case 10:
            ran = false;
            break;
        case 11:
            StepRetinex(c);
            // A retinex cut short is recomputed whole by a continued request.
            if (status.IsCancelRequested())
                return kCancelled;
            break;
        case 12:
            StepAutoSettings(c);
            break;
        default:
            break;
        }
        if (request->m_StepObserver)
            request->m_StepObserver(step, ran);
        status.SetProgress(Stage2ProgressMark(step + 1));
        Dump(c, kDumpNames[step]);
        resume[kResumeStep] = static_cast<uint32_t>(step + 1);
        resume[kResumeNextRow] = 0;
        resume[kResumePass] = 0;
    }
    status.SetProgress(1.0);
    return kCompleted;
}

} // namespace IPEngineStages
