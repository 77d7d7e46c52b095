#include "EAutoWBChromaWt.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>

#include "CalculateAutoAdjustSettings.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FLUT.h"
#include "FPixelProc2.h"
#include "FPolygon.h"
#include "FStopwatch.h"
#include "RunInRowBands.h"
#include "ToneLUT.h"

const FDoubleRGB kChromaCandidateWhites[kChromaCandidates] = {
    {94.9466, 100.0, 138.4398}, {94.38, 100.0, 117.898},    {95.0456, 100.0, 108.9058},
    {95.5475, 100.0, 77.986},   {102.8524, 100.0, 49.5528}, {108.854, 100.0, 33.4394}};

namespace
{

constexpr const char* kFile = "AutoWB_ChromaWt";
constexpr int kQuantileBins = 1001;
constexpr int kFlashCandidate = 1;
constexpr int kDefaultCandidate = 2;

int32_t TruncToInt(double v)
{
    if (!std::isfinite(v))
        return 0;
    return static_cast<int32_t>(std::clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}

int16_t Low16(int32_t v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
}

double LabF(double t, const double* cubeRoot)
{
    if (t <= 0.008856)
        return 7.787 * t + 0.13793103448275862;
    if (t < 15.0)
        return cubeRoot[static_cast<int>((t + 1.0) * 625.0)];
    return std::pow(t, 1.0 / 3.0);
}

// Kept by each calling thread from one image to the next: fresh buffers would cost every
// image their first touch again.
struct FChromaWtScratch {
    std::vector<float> subsample;
    std::vector<int16_t> tone;
    std::vector<float> chroma;
    std::vector<int32_t> bins;
    std::vector<double> values;
    size_t Bytes() const
    {
        return subsample.size() * sizeof(float) + tone.size() * sizeof(int16_t) +
               chroma.size() * sizeof(float) + bins.size() * sizeof(int32_t) + values.size() * sizeof(double);
    }
};

// Buffers larger than this go after their image.
constexpr size_t kKeptScratchBytes = size_t(32) << 20;

FChromaWtScratch& Scratch()
{
    thread_local FChromaWtScratch scratch;
    return scratch;
}

// The margin of a side: trunc(0.01 n) rounded up to a multiple of 4.
int32_t ChromaMargin(int32_t n)
{
    return (static_cast<int32_t>(0.01 * n) + 3) & ~3;
}

FDoubleRGB SubsamplePixel(const float* p)
{
    return {p[0], p[1], p[2]};
}

} // namespace

std::vector<double> MakeChromaCubeRootTable()
{
    std::vector<double> table(kChromaCubeRootEntries);
    double x = -1.0;
    for (int i = 0; i < kChromaCubeRootEntries; ++i) {
        // Entries below 0 are never read; the power of a negative base is NaN there.
        table[i] = std::pow(x, 1.0 / 3.0);
        x += 0.0016;
    }
    return table;
}

std::vector<double> MakeTricubeTable(int limit)
{
    std::vector<double> table(static_cast<size_t>(std::max(limit, 0)) + 1, 0.0);
    for (int j = 0; j < limit; ++j) {
        const double r = static_cast<double>(j) / limit;
        const double u = 1.0 - r * r * r;
        table[j] = u * u * u;
    }
    return table;
}

void XYZToLab(double X, double Y, double Z, double Xn, double Yn, double Zn, const double* cubeRoot,
              double& L, double& a, double& b)
{
    const double fx = LabF(X / Xn, cubeRoot);
    const double fy = LabF(Y / Yn, cubeRoot);
    const double fz = LabF(Z / Zn, cubeRoot);
    L = 116.0 * fy - 16.0;
    a = 500.0 * (fx - fy);
    b = 200.0 * (fy - fz);
}

int ChooseChromaCandidate(const double means[kChromaCandidates])
{
    double least = 1000000.0;
    for (int i = 0; i < kChromaCandidates; ++i)
        if (std::isfinite(means[i]))
            least = std::min(least, means[i]);
    int list[kChromaCandidates];
    int count = 0;
    for (int i = 0; i < kChromaCandidates; ++i) {
        if (!std::isfinite(means[i]))
            continue;
        // Equal to the least counts even when the least is 0 (a perfectly grey scene).
        if (means[i] == least || (means[i] - least) / least < 0.5)
            list[count++] = i;
    }
    if (count >= 5 || count == 0)
        return kDefaultCandidate;
    if (count >= 3)
        return list[1];
    return list[0];
}

EAutoWBChromaWt::EAutoWBChromaWt(const FPixmap* image, const FDoubleRGB& saturation,
                                 const FPostPolyMatrix& postCoefficients, double fNumber, double exposureTime,
                                 double compensation, bool flash, const FColorMatrix& camToXYZ,
                                 double isoGain, const FDoubleRGB& offset, bool constrain, int threads)
    : m_pImage(static_cast<const FPixmapTemplate<FPixelClass48SRGB>*>(image)), m_iCols(image->GetCols()),
      m_iRows(image->GetRows()), m_Saturation(saturation), m_dFNumber(fNumber), m_dExposureTime(exposureTime),
      m_dCompensation(compensation), m_bFlash(flash), m_CamToXYZ(camToXYZ), m_dIsoGain(isoGain),
      m_bConstrain(constrain), m_iThreads(threads), m_Offset(offset), m_PostCoefficients(postCoefficients)
{
    m_bHasPostCorrection = std::any_of(std::begin(postCoefficients.m), std::end(postCoefficients.m),
                                       [](float c) { return c != 0.0f; });
    ComputeWorkingColorMatrix(m_WorkingMatrix, m_CamToXYZ, FDoubleRGB(1.0, 1.0, 1.0), m_dIsoGain, 0.0);
    m_iColMargin = ChromaMargin(m_iCols);
    m_iRowMargin = ChromaMargin(m_iRows);
    // A side too short for its margins has no subsample at all.
    m_iSubCols = std::max(0, (m_iCols - 2 * m_iColMargin) >> 2);
    m_iSubRows = std::max(0, (m_iRows - 2 * m_iRowMargin) >> 3);
}

void EAutoWBChromaWt::priToneAdjust()
{
    const FLUT* cubeRoot = FGlobalLUTsClass::GetCubeRootLUT();
    const FLUT* cube = FGlobalLUTsClass::GetCubeLUT();
    double exposure = 0.0, contrast = 0.0, shadow = 0.0, highlight = 0.0, saturation = 0.0;
    FDoubleRGB gains(1.0, 1.0, 1.0);
    CalculateAutoAdjustSettings(*m_pToneImage, *cubeRoot, *cube, 0.0, exposure, contrast, shadow, highlight,
                                saturation, gains);
    FColorLUT tone(kToneLUTSize);
    MakeToneLUT(exposure, shadow, contrast, highlight, gains.r, gains.g, gains.b, *cube, tone);
    for (int y = 0; y < m_iSubRows; ++y) {
        int16_t* p = m_pToneImage->GetRow(y);
        for (int x = 0; x < m_iSubCols; ++x)
            for (int c = 0; c < 3; ++c)
                p[3 * x + c] = tone.GetChannel(c)[cubeRoot->Get(p[3 * x + c]) & 0xFFFF];
    }
}

void EAutoWBChromaWt::priComputeWhitePoint(double whiteX, double whiteY, double whiteZ, float limit)
{
    const FColorMatrix m = m_CamToXYZ.ScaledCopy(m_dIsoGain * 0.0156);
    const float limit2 = limit * limit;
    double hi[3] = {0.0, 0.0, 0.0};
    double lo[3] = {10000.0, 10000.0, 10000.0};
    std::mutex merge;
    // Pixels are independent and extremes do not depend on order: any split gives the same.
    RunInRowBands(m_iSubRows, m_iThreads, [&](int first, int end) {
        double bandHi[3] = {0.0, 0.0, 0.0};
        double bandLo[3] = {10000.0, 10000.0, 10000.0};
        for (int y = first; y < end; ++y) {
            const float* row = m_pSubsample->GetRow(y);
            const int16_t* tone = m_pToneImage->GetRow(y);
            float* chroma = m_cfChroma + static_cast<size_t>(y) * m_iSubCols;
            for (int x = 0; x < m_iSubCols; ++x) {
                chroma[x] = 2.0f * limit2;
                const FDoubleRGB v = SubsamplePixel(row + 3 * x);
                if (!(v.r < m_Ceiling.r && v.g < m_Ceiling.g && v.b < m_Ceiling.b))
                    continue;
                const FDoubleRGB xyz = m.Apply(v);
                double L = 0.0, a = 0.0, b = 0.0;
                XYZToLab(xyz.r, xyz.g, xyz.b, whiteX, whiteY, whiteZ, m_CubeRoot.data(), L, a, b);
                const float c2 = static_cast<float>(a * a + b * b);
                if (!(L > 15.0) || !(c2 < limit2))
                    continue;
                chroma[x] = c2;
                for (int c = 0; c < 3; ++c) {
                    bandHi[c] = std::max<double>(bandHi[c], tone[3 * x + c]);
                    bandLo[c] = std::min<double>(bandLo[c], tone[3 * x + c]);
                }
            }
        }
        std::lock_guard<std::mutex> hold(merge);
        for (int c = 0; c < 3; ++c) {
            hi[c] = std::max(hi[c], bandHi[c]);
            lo[c] = std::min(lo[c], bandLo[c]);
        }
    });
    double range[3];
    for (int c = 0; c < 3; ++c)
        range[c] = hi[c] - lo[c] + 1.0;

    auto binOf = [&](const int16_t* t) {
        int bins[3];
        for (int c = 0; c < 3; ++c)
            bins[c] = std::clamp(TruncToInt(32.0 * (t[c] - lo[c]) / range[c]), 0, 31);
        return 1024 * bins[0] + 32 * bins[1] + bins[2];
    };
    // Bins and weights in bands; only the counting and the sum, whose order matters, run
    // in one sweep.
    int32_t* bins = m_pBins;
    RunInRowBands(m_iSubRows, m_iThreads, [&](int first, int end) {
        for (int y = first; y < end; ++y)
            for (int x = 0, i = y * m_iSubCols; x < m_iSubCols; ++x, ++i)
                bins[i] = m_cfChroma[i] < limit2 ? binOf(m_pToneImage->GetPixel(x, y)) : -1;
    });
    m_Histogram.fill(0);
    const int count = m_iSubCols * m_iSubRows;
    for (int i = 0; i < count; ++i)
        if (bins[i] >= 0)
            ++m_Histogram[bins[i]];

    double* weights = m_pValues;
    RunInRowBands(m_iSubRows, m_iThreads, [&](int first, int end) {
        for (int i = first * m_iSubCols; i < end * m_iSubCols; ++i) {
            if (bins[i] < 0)
                continue;
            const int32_t crowd = m_Histogram[bins[i]];
            const int index = std::clamp(TruncToInt(std::sqrt(static_cast<double>(m_cfChroma[i])) + 0.5), 0,
                                         static_cast<int>(m_Tricube.size()) - 1);
            weights[i] = (1.0 / std::sqrt(static_cast<double>(crowd))) * m_Tricube[index];
        }
    });
    FDoubleRGB sum;
    int64_t n = 0;
    for (int i = 0; i < count; ++i) {
        if (bins[i] < 0)
            continue;
        sum.AddInPlace(
            SubsamplePixel(m_pSubsample->GetPixel(i % m_iSubCols, i / m_iSubCols)).ScaledCopy(weights[i]));
        ++n;
    }
    if (n == 0) {
        DebugTrace("AutoWB: no pixel near the white point, keeping the previous neutral\n");
        return;
    }
    m_Neutral = NormalizeNeutral(sum.DivideCopy(static_cast<double>(n)));
}

FDoubleRGB EAutoWBChromaWt::priConstrainNeutral()
{
    double bv = 0.0;
    if (!RimmBrightnessValue(m_dFNumber, m_dExposureTime, m_dCompensation, m_dIsoGain, bv)) {
        m_bConstrain = false;
        DebugTrace("Defaulting to unconstrained AWB due to missing info\n");
    }
    m_dBrightness = bv;
    FColorMatrix toRimm, fromRimm;
    ComputeWorkingColorMatrix(toRimm, m_CamToXYZ, FDoubleRGB(-1.0, -1.0, -1.0), m_dIsoGain, 0.0);
    if (!FColorMatrix::Inverse(fromRimm, toRimm)) {
        DebugTrace("AutoWB: the camera matrix has no inverse\n");
        return {1.0, 1.0, 1.0};
    }
    const FDoubleRGB v = toRimm.Apply(m_Neutral);
    FRimmPoint p;
    FDoubleRGB n;
    if (m_bConstrain && RimmPointOf(v, p)) {
        auto blend = [&](int a, int b, double d) {
            const FRimmPoint A = ConstrainToRimmPolygonEx(a, p, true);
            bool notOutside = false;
            const FRimmPoint B = ConstrainToRimmPolygonEx(b, p, true, &notOutside);
            if (notOutside)
                return p;
            const FRimmPoint q{TruncToInt((1.0 - d) * A.x + 0.5) + TruncToInt(d * B.x + 0.5),
                               TruncToInt((1.0 - d) * A.y + 0.5) + TruncToInt(d * B.y + 0.5)};
            const FRimmPoint K = ConstrainToRimmPolygonEx(a, p, false);
            const double ex = static_cast<double>(B.x) - A.x;
            const double ey = static_cast<double>(B.y) - A.y;
            const double length = ex * ex + ey * ey;
            if (length == 0.0)
                return K == p ? p : q; // both forced points coincide: no direction to measure
            const double t =
                ((static_cast<double>(K.x) - A.x) * ex + (static_cast<double>(K.y) - A.y) * ey) / length;
            return t < d ? q : p;
        };
        FRimmPoint r;
        if (m_bFlash)
            r = ConstrainToRimmPolygonEx(4, p, false);
        else if (bv <= 4.9)
            r = ConstrainToRimmPolygonEx(1, p, false);
        else if (bv <= 5.7)
            r = blend(1, 2, (bv - 4.9) * 1.2500000000000002);
        else if (bv <= 5.8)
            r = ConstrainToRimmPolygonEx(2, p, false);
        else if (bv <= 8.3)
            r = blend(2, 3, (bv - 5.8) * 0.39999999999999986);
        else
            r = ConstrainToRimmPolygonEx(3, p, false);
        n = {r.x / 10000.0, 1.0, r.y / 10000.0};
    } else {
        n = UnconstrainedRimmNeutral(v);
    }
    return NormalizeNeutral(fromRimm.Apply(n));
}

int EAutoWBChromaWt::priInitialCandidate()
{
    if (m_bFlash)
        return kFlashCandidate;
    const int count = m_iSubCols * m_iSubRows;
    if (count == 0)
        return kDefaultCandidate;
    const FColorMatrix m = m_CamToXYZ.ScaledCopy(m_dIsoGain * 0.0156);
    double means[kChromaCandidates];
    for (int i = 0; i < kChromaCandidates; ++i) {
        const FDoubleRGB& white = kChromaCandidateWhites[i];
        float cmax = 0.0f;
        std::mutex merge;
        // NaN chromas never become the largest, in a band or across bands: any split agrees.
        RunInRowBands(m_iSubRows, m_iThreads, [&](int first, int end) {
            float bandMax = 0.0f;
            for (int y = first; y < end; ++y) {
                const float* row = m_pSubsample->GetRow(y);
                float* chroma = m_cfChroma + static_cast<size_t>(y) * m_iSubCols;
                for (int x = 0; x < m_iSubCols; ++x) {
                    const FDoubleRGB xyz = m.Apply(SubsamplePixel(row + 3 * x));
                    double L = 0.0, a = 0.0, b = 0.0;
                    XYZToLab(xyz.r, xyz.g, xyz.b, white.r, white.g, white.b, m_CubeRoot.data(), L, a, b);
                    chroma[x] = static_cast<float>(a * a + b * b);
                    bandMax = std::max(bandMax, chroma[x]);
                }
            }
            std::lock_guard<std::mutex> hold(merge);
            cmax = std::max(cmax, bandMax);
        });
        std::vector<int64_t> histogram(kQuantileBins, 0);
        const double q = 0.001 * cmax;
        double* roots = m_pValues;
        RunInRowBands(m_iSubRows, m_iThreads, [&](int first, int end) {
            std::vector<int64_t> band(kQuantileBins, 0);
            for (int j = first * m_iSubCols; j < end * m_iSubCols; ++j) {
                ++band[std::clamp(TruncToInt(m_cfChroma[j] / (q + 1.0) + 0.5), 0, kQuantileBins - 1)];
                roots[j] = std::sqrt(static_cast<double>(m_cfChroma[j]));
            }
            std::lock_guard<std::mutex> hold(merge);
            for (int b = 0; b < kQuantileBins; ++b)
                histogram[b] += band[b];
        });
        const double target = 0.25 * m_iSubCols * m_iSubRows;
        double running = 0.0;
        double quantile = 0.0;
        for (int j = 0; j < kQuantileBins; ++j) {
            const double previous = running;
            running += static_cast<double>(histogram[j]);
            if (running >= target) {
                quantile = (j + (target - previous) / (running - previous)) * q;
                break;
            }
        }
        double sum = 0.0;
        int64_t n = 0;
        for (int j = 0; j < count; ++j) {
            if (m_cfChroma[j] < quantile) {
                sum += roots[j];
                ++n;
            }
        }
        means[i] = n > 0 ? sum / static_cast<double>(n) : std::nan("");
    }
    return ChooseChromaCandidate(means);
}

void EAutoWBChromaWt::priSubsampleRows(int first, int end, FPixmapTemplate<FPixelClassFlt32RGB>& subsample,
                                       FPixmapTemplate<FPixelClass48SRGB>& toneImage, float* sums,
                                       double maxima[3]) const
{
    int32_t r = m_iRowMargin + 8 * first;
    for (int j = first; j < end; ++j) {
        std::fill(sums, sums + 3 * static_cast<size_t>(m_iSubCols), 0.0f);
        for (int i = 0; i < 8; ++i, ++r) {
            const int16_t* row = m_pImage->GetRow(r);
            int k = 0;
            for (int32_t c = m_iColMargin; c < m_iCols - m_iColMargin - 3 && k < m_iSubCols; c += 4, ++k) {
                const int16_t* p = row + 3 * static_cast<ptrdiff_t>(c);
                for (int ch = 0; ch < 3; ++ch)
                    sums[3 * k + ch] += static_cast<float>(p[ch] + p[3 + ch] + p[6 + ch] + p[9 + ch]);
            }
        }
        float* out = subsample.GetRow(j);
        int16_t* tone = toneImage.GetRow(j);
        for (int k = 0; k < m_iSubCols; ++k) {
            FDoubleRGB v(sums[3 * k] * 0.03125 - m_Offset.r, sums[3 * k + 1] * 0.03125 - m_Offset.g,
                         sums[3 * k + 2] * 0.03125 - m_Offset.b);
            if (m_bHasPostCorrection) {
                FDoubleRGB corrected;
                m_PostCoefficients.Apply(corrected, v);
                v = corrected;
            }
            out[3 * k] = static_cast<float>(v.r);
            out[3 * k + 1] = static_cast<float>(v.g);
            out[3 * k + 2] = static_cast<float>(v.b);
            const FDoubleRGB stored = SubsamplePixel(out + 3 * k);
            maxima[0] = std::max(maxima[0], stored.r);
            maxima[1] = std::max(maxima[1], stored.g);
            maxima[2] = std::max(maxima[2], stored.b);
            const FDoubleRGB w = m_WorkingMatrix.Apply(stored);
            tone[3 * k] = Low16(TruncToInt(w.r));
            tone[3 * k + 1] = Low16(TruncToInt(w.g));
            tone[3 * k + 2] = Low16(TruncToInt(w.b));
        }
    }
}

void EAutoWBChromaWt::CalculateNeutral()
{
    FStopwatch watch;
    watch.Start();
    auto lap = [&watch] {
        const double t = watch.GetElapsed();
        watch.Start();
        return t;
    };
    const size_t count = static_cast<size_t>(m_iSubCols) * static_cast<size_t>(m_iSubRows);
    FChromaWtScratch& scratch = Scratch();
    // Every element read below is written first, so kept buffers need no clearing.
    auto reserve = [&](auto& buffer, size_t n, int line, const char* test) {
        try {
            if (buffer.size() < n)
                buffer.resize(n);
        } catch (const std::bad_alloc&) {
            ReportAssertion(kFile, line, test, 0, 0);
        }
    };
    reserve(scratch.subsample, 3 * count + 1, 425, "pcBuf != NULL");
    reserve(scratch.tone, 3 * count + 1, 429, "pcBufTA != NULL");
    reserve(scratch.chroma, count + 1, 433, "m_cfChroma != NULL");
    reserve(scratch.bins, count, 433, "m_cfChroma != NULL");
    reserve(scratch.values, count, 433, "m_cfChroma != NULL");
    struct Trim {
        FChromaWtScratch& scratch;
        ~Trim()
        {
            if (scratch.Bytes() > kKeptScratchBytes)
                scratch = FChromaWtScratch();
        }
    } trim{scratch};
    FPixmapTemplate<FPixelClassFlt32RGB> subsample(scratch.subsample.data(), m_iSubCols, m_iSubRows,
                                                   12 * m_iSubCols);
    FPixmapTemplate<FPixelClass48SRGB> toneImage(scratch.tone.data(), m_iSubCols, m_iSubRows, 6 * m_iSubCols);
    m_pSubsample = &subsample;
    m_pToneImage = &toneImage;
    m_cfChroma = scratch.chroma.data();
    m_pBins = scratch.bins.data();
    m_pValues = scratch.values.data();
    struct Detach {
        EAutoWBChromaWt* self;
        ~Detach()
        {
            self->m_pSubsample = nullptr;
            self->m_pToneImage = nullptr;
            self->m_cfChroma = nullptr;
            self->m_pBins = nullptr;
            self->m_pValues = nullptr;
        }
    } detach{this};

    // Subsample: one pixel per 4 columns x 8 rows.
    double maxima[3] = {0.0, 0.0, 0.0};
    std::mutex merge;
    RunInRowBands(m_iSubRows, m_iThreads, [&](int first, int end) {
        std::vector<float> sums(3 * static_cast<size_t>(m_iSubCols));
        double bandMaxima[3] = {0.0, 0.0, 0.0};
        priSubsampleRows(first, end, subsample, toneImage, sums.data(), bandMaxima);
        std::lock_guard<std::mutex> hold(merge);
        for (int c = 0; c < 3; ++c)
            maxima[c] = std::max(maxima[c], bandMaxima[c]);
    });
    DebugTrace("-- Subsample time        %gs\n", lap());
    m_Ceiling = {std::min(m_Saturation.r, maxima[0]), std::min(m_Saturation.g, maxima[1]),
                 std::min(m_Saturation.b, maxima[2])};

    priToneAdjust();
    DebugTrace("-- Tone Adjust time      %gs\n", lap());
    m_Tricube = MakeTricubeTable(45);
    m_CubeRoot = MakeChromaCubeRootTable();
    DebugTrace("-- Gen CubeLUT time      %gs\n", lap());

    const int candidate = priInitialCandidate();
    DebugTrace("-- Initial WP time        %gs\n", lap());
    DebugTrace("---- LAB = %gs; Quantile = %gs\n", 0.0, 0.0);
    const FDoubleRGB& white = kChromaCandidateWhites[candidate];
    // Where no pixel qualifies, the candidate's own white stands.
    FColorMatrix toCamera;
    m_Neutral = FColorMatrix::Inverse(toCamera, m_CamToXYZ) ? NormalizeNeutral(toCamera.Apply(white))
                                                            : FDoubleRGB(1.0, 1.0, 1.0);
    priComputeWhitePoint(white.r, white.g, white.b, 45.0f);
    m_Neutral = priConstrainNeutral();
    DebugTrace("-- First Compute WP time %gs\n", lap());

    m_Tricube = MakeTricubeTable(30);
    double change = 100.0;
    for (int pass = 0; change > 0.005 && pass < 5; ++pass) {
        const FDoubleRGB previous = m_Neutral;
        const FDoubleRGB xyz = m_CamToXYZ.Apply(m_Neutral);
        if (!(xyz.g > 0.0) || !std::isfinite(xyz.r + xyz.g + xyz.b)) {
            DebugTrace("AutoWB: the neutral has no white point, loop ended\n");
            break;
        }
        priComputeWhitePoint(100.0 * xyz.r / xyz.g, 100.0, 100.0 * xyz.b / xyz.g, 30.0f);
        const FDoubleRGB& n = m_Neutral;
        change = (std::fabs((previous.r - n.r) / n.r) + std::fabs((previous.g - n.g) / n.g) +
                  std::fabs((previous.b - n.b) / n.b)) *
                 static_cast<double>(0.33333334f);
    }
    m_Neutral = priConstrainNeutral();
    DebugTrace("-- White Point Loop time  %gs\n", lap());

    if (m_dBrightness > 3.2) {
        const float s = m_dBrightness >= 5.7 ? 1.0f : static_cast<float>((m_dBrightness - 3.2) * 0.4);
        FColorMatrix toRimm, fromRimm;
        ComputeWorkingColorMatrix(toRimm, m_CamToXYZ, FDoubleRGB(-1.0, -1.0, -1.0), m_dIsoGain, 0.0);
        if (FColorMatrix::Inverse(fromRimm, toRimm)) {
            FDoubleRGB v = toRimm.Apply(m_Neutral);
            v.r *= 1.0 - static_cast<double>(0.02f) * s;
            v.b *= 1.0 + static_cast<double>(0.08f) * s;
            m_Neutral = fromRimm.Apply(v);
        }
    }
    m_Neutral = NormalizeNeutral(m_Neutral);
    DebugTrace("Final RGB Neutral  = %g %g %g\n", m_Neutral.r, m_Neutral.g, m_Neutral.b);
}

FDoubleRGB AutoWhiteBalanceChromaWt(const FPixmap* image, const FIntRGB& saturation,
                                    const FPostPolyMatrix& postCoefficients, double fNumber,
                                    double exposureTime, double compensation, bool flash,
                                    const FColorMatrix& camToXYZ, double isoGain, const FDoubleRGB& offset,
                                    bool constrain, int threads)
{
    if (image == nullptr || image->GetPixelType() != FPixmap::PIXEL_48S_RGB)
        throw FExceptionPixelProc2("AutoWhiteBalanceChromaWt: the image must be signed 48-bit RGB");
    FDoubleRGB level;
    level.FromIntRGB(saturation);
    EAutoWBChromaWt estimator(image, level, postCoefficients, fNumber, exposureTime, compensation, flash,
                              camToXYZ, isoGain, offset, constrain, threads);
    estimator.CalculateNeutral();
    return estimator.GetNeutral();
}
