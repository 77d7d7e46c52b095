#include "EAutoWB.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "FDebugTrace.h"
#include "FException.h"
#include "FPolygon.h"

namespace
{

int32_t TruncToInt(double v)
{
    if (!std::isfinite(v))
        return 0;
    return static_cast<int32_t>(std::clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}

int32_t BinOf(int64_t v, int32_t scale)
{
    if (v <= 0)
        return 0;
    return static_cast<int32_t>(std::min<int64_t>((v * scale + 1) >> 24, kAutoWBBins));
}

// Per coordinate trunc(a (1 - d) + 0.5) + trunc(b d + 0.5).
FRimmPoint BlendPoints(const FRimmPoint& a, const FRimmPoint& b, double d)
{
    return {TruncToInt(a.x * (1.0 - d) + 0.5) + TruncToInt(b.x * d + 0.5),
            TruncToInt(a.y * (1.0 - d) + 0.5) + TruncToInt(b.y * d + 0.5)};
}

} // namespace

EAutoWB::EAutoWB(const FPixmap* image, const FPostPolyMatrix& postCoefficients, const FDoubleRGB& saturation,
                 double fNumber, double exposureTime, double compensation, const FColorMatrix& rimmMatrix,
                 double isoGain, const FDriftPair& drift, bool constrain)
    : m_pImage(static_cast<const FPixmapTemplate<FPixelClass48SRGB>*>(image)), m_iCols(image->GetCols()),
      m_iRows(image->GetRows()), m_Saturation(saturation), m_dFNumber(fNumber), m_dExposureTime(exposureTime),
      m_dCompensation(compensation), m_RimmMatrix(rimmMatrix), m_dIsoGain(isoGain), m_bConstrain(constrain),
      m_PostCoefficients(postCoefficients), m_Drift(drift)
{
    m_pHistogram.reset(new (std::nothrow) uint32_t[kAutoWBHistogramSize]());
    if (!m_pHistogram)
        throw FException("Allocation error in EAutoWB constructor");
    m_iColMargin = static_cast<int32_t>(static_cast<double>(static_cast<int64_t>(m_iCols)) * 0.1);
    m_iRowMargin = static_cast<int32_t>(static_cast<double>(static_cast<int64_t>(m_iRows)) * 0.1);
    m_iRow = m_iRowMargin;
}

EAutoWB::~EAutoWB()
{
    m_pHistogram.reset();
}

double EAutoWB::BinWeight(int i)
{
    if (3 * i <= 64)
        return 1.0;
    const double e = 3.0 * i - 64.0;
    return 1.0 - e * e / 1024.0;
}

void EAutoWB::priUpdateRowMax()
{
    const int16_t* row = m_pImage->GetRow(m_iRow);
    for (int32_t x = m_iColMargin; x < m_iCols - m_iColMargin; ++x) {
        const int16_t* p = row + 3 * static_cast<ptrdiff_t>(x);
        if (p[0] > m_iMaxR)
            m_iMaxR = p[0];
        if (p[1] > m_iMaxG)
            m_iMaxG = p[1];
        if (p[2] > m_iMaxB)
            m_iMaxB = p[2];
    }
}

void EAutoWB::priAccumulateBlockRow()
{
    const int32_t y = m_iRow;
    FDrift rowDrift;
    InterpolateDriftForRow(rowDrift, m_Drift, static_cast<uint32_t>(y), static_cast<uint32_t>(m_iRows));
    const int32_t drift[3] = {TruncToInt(rowDrift.level.r), TruncToInt(rowDrift.level.g),
                              TruncToInt(rowDrift.level.b)};
    const int32_t scale[3] = {m_iScaleR, m_iScaleG, m_iScaleB};
    const double saturation[3] = {m_Saturation.r, m_Saturation.g, m_Saturation.b};
    for (int32_t x = m_iColMargin; x < m_iCols - m_iColMargin - 3; x += 4) {
        int32_t maxima[3] = {0, 0, 0};
        for (int dy = 0; dy < 4; ++dy) {
            const int16_t* p = m_pImage->GetPixel(x, y + dy);
            for (int dx = 0; dx < 4; ++dx)
                for (int c = 0; c < 3; ++c)
                    maxima[c] = std::max<int32_t>(maxima[c], p[3 * dx + c]);
        }
        FDoubleRGB corrected;
        m_PostCoefficients.Apply(corrected, FDoubleRGB(maxima[0], maxima[1], maxima[2]));
        const double correctedMax[3] = {corrected.r, corrected.g, corrected.b};
        bool clipped = false;
        for (int c = 0; c < 3; ++c)
            clipped = clipped || TruncToInt(correctedMax[c]) >= saturation[c];
        if (clipped)
            continue;

        int32_t centre[3] = {0, 0, 0};
        for (int dy = 1; dy <= 2; ++dy) {
            const int16_t* p = m_pImage->GetPixel(x + 1, y + dy);
            for (int c = 0; c < 3; ++c)
                centre[c] += p[c] + p[3 + c];
        }
        FDoubleRGB mean;
        m_PostCoefficients.Apply(mean, FDoubleRGB(centre[0] * 0.25, centre[1] * 0.25, centre[2] * 0.25));
        const int64_t v[3] = {int64_t{TruncToInt(mean.r)} - drift[0], int64_t{TruncToInt(mean.g)} - drift[1],
                              int64_t{TruncToInt(mean.b)} - drift[2]};
        m_GrayWorld1.AddInPlace(
            FDoubleRGB(static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])));
        const int32_t bR = BinOf(v[0], scale[0]);
        const int32_t bG = BinOf(v[1], scale[1]);
        const int32_t bB = BinOf(v[2], scale[2]);
        if (bR >= kAutoWBBins || bG >= kAutoWBBins || bB >= kAutoWBBins)
            continue;
        ++m_pHistogram[bR + kAutoWBBins * bG + kAutoWBBins * kAutoWBBins * bB];
        ++m_uBinnedCount;
    }
}

bool EAutoWB::priInverse(FColorMatrix& inverse) const
{
    if (FColorMatrix::Inverse(inverse, m_RimmMatrix))
        return true;
    DebugTrace("EAutoWB: the RIMM matrix has no inverse\n");
    return false;
}

FDoubleRGB EAutoWB::priConstrainNeutral()
{
    FColorMatrix inverse;
    if (!priInverse(inverse))
        return {1.0, 1.0, 1.0};
    double bv = 0.0;
    if (!RimmBrightnessValue(m_dFNumber, m_dExposureTime, m_dCompensation, m_dIsoGain, bv)) {
        m_bConstrain = false;
        DebugTrace("Defaulting to unconstrained AWB due to missing info\n");
    }
    const FDoubleRGB v = m_RimmMatrix.Apply(m_Neutral);
    FRimmPoint p;
    FDoubleRGB n;
    if (m_bConstrain && RimmPointOf(v, p)) {
        FRimmPoint q;
        if (bv <= 3.2)
            q = ConstrainToRimmPolygon(1, p);
        else if (bv <= 5.7)
            q = BlendPoints(ConstrainToRimmPolygon(1, p), ConstrainToRimmPolygon(2, p), (bv - 3.2) * 0.4);
        else if (bv <= 5.8)
            q = ConstrainToRimmPolygon(2, p);
        else if (bv <= 8.3)
            q = BlendPoints(ConstrainToRimmPolygon(2, p), ConstrainToRimmPolygon(3, p),
                            (bv - 5.8) * 0.39999999999999986);
        else
            q = ConstrainToRimmPolygon(3, p);
        n = {q.x / 10000.0, 1.0, q.y / 10000.0};
    } else {
        n = UnconstrainedRimmNeutral(v);
    }
    n.r *= 0.98;
    n.b *= 1.08;
    return inverse.Apply(n);
}

void EAutoWB::CalculateNeutral()
{
    const int32_t satR = TruncToInt(m_Saturation.r);
    const int32_t satG = TruncToInt(m_Saturation.g);
    const int32_t satB = TruncToInt(m_Saturation.b);
    m_iMaxR = m_iMaxG = m_iMaxB = 0;
    m_MeanRGB.Clear();
    m_uPixelCount = 0;

    for (m_iRow = m_iRowMargin; m_iRow < m_iRows - m_iRowMargin; m_iRow += 4) {
        const int16_t* row = m_pImage->GetRow(m_iRow);
        for (int32_t x = m_iColMargin; x < m_iCols - m_iColMargin; ++x) {
            const int16_t* p = row + 3 * static_cast<ptrdiff_t>(x);
            m_MeanRGB.AddInPlace(FDoubleRGB(p[0], p[1], p[2]));
            ++m_uPixelCount;
        }
        if (m_iMaxR < satR || m_iMaxG < satG || m_iMaxB < satB)
            priUpdateRowMax();
    }

    FColorMatrix inverse;
    if (!priInverse(inverse)) {
        m_Neutral = {1.0, 1.0, 1.0};
        return;
    }
    bool degenerate = m_uPixelCount == 0;
    if (!degenerate) {
        m_MeanRGB.Divide(m_uPixelCount);
        m_MeanRGB.r -= (m_Drift.top.level.r + m_Drift.bottom.level.r) * 0.5;
        m_MeanRGB.g -= (m_Drift.top.level.g + m_Drift.bottom.level.g) * 0.5;
        m_MeanRGB.b -= (m_Drift.top.level.b + m_Drift.bottom.level.b) * 0.5;
        DebugTrace("mean RGB = %f %f %f\n", m_MeanRGB.r, m_MeanRGB.g, m_MeanRGB.b);
        m_iMaxR = std::min(m_iMaxR, satR);
        m_iMaxG = std::min(m_iMaxG, satG);
        m_iMaxB = std::min(m_iMaxB, satB);
        DebugTrace("max RGB = %d %d %d\n", m_iMaxR, m_iMaxG, m_iMaxB);
        m_iMaxR = std::min(m_iMaxR, TruncToInt(20.0 * m_MeanRGB.r));
        m_iMaxG = std::min(m_iMaxG, TruncToInt(20.0 * m_MeanRGB.g));
        m_iMaxB = std::min(m_iMaxB, TruncToInt(20.0 * m_MeanRGB.b));
        degenerate = m_iMaxR <= 0 || m_iMaxG <= 0 || m_iMaxB <= 0;
    }
    if (degenerate) {
        // Nothing to measure: the prior alone, through the same constraint and tint.
        DebugTrace("EAutoWB: no usable pixels, using the prior neutral\n");
        m_Neutral = NormalizeNeutral(inverse.Apply(FDoubleRGB(1.0, 1.0, 1.0)));
        m_Neutral = NormalizeNeutral(priConstrainNeutral());
        return;
    }

    std::fill_n(m_pHistogram.get(), kAutoWBHistogramSize, 0u);
    m_iScaleR = static_cast<int32_t>(std::floor(536870911.0 / m_iMaxR));
    m_iScaleG = static_cast<int32_t>(std::floor(536870911.0 / m_iMaxG));
    m_iScaleB = static_cast<int32_t>(std::floor(536870911.0 / m_iMaxB));
    for (m_iRow = m_iRowMargin; m_iRow < m_iRows - m_iRowMargin - 3; m_iRow += 4)
        priAccumulateBlockRow();

    double weight[kAutoWBBins];
    for (int i = 0; i < kAutoWBBins; ++i)
        weight[i] = BinWeight(i);
    const double c = static_cast<double>(m_uBinnedCount / 10000 + 2);
    const double s0 = std::sqrt(c);
    for (int iB = 0; iB < kAutoWBBins; ++iB) {
        for (int iG = 0; iG < kAutoWBBins; ++iG) {
            for (int iR = 0; iR < kAutoWBBins; ++iR) {
                const uint32_t count = m_pHistogram[iR + kAutoWBBins * iG + kAutoWBBins * kAutoWBBins * iB];
                if (count == 0)
                    continue;
                const double w = weight[iR] * weight[iG] * weight[iB];
                const FDoubleRGB centre(iR + 0.5, iG + 0.5, iB + 0.5);
                m_GrayWorld2.AddInPlace(centre.ScaledCopy(count * w));
                m_Neutral.AddInPlace(centre.ScaledCopy((std::sqrt(count + c) - s0) * w));
            }
        }
    }
    const FDoubleRGB maxima(m_iMaxR, m_iMaxG, m_iMaxB);
    m_Neutral.Multiply(maxima);
    m_GrayWorld2.Multiply(maxima);
    const FDoubleRGB prior = inverse.Apply(FDoubleRGB(1.0, 1.0, 1.0)).ScaledCopy(32.0 * m_iMaxG);
    m_Neutral.AddInPlace(prior.ScaledCopy(std::sqrt(2.0 * c) - s0));

    m_GrayWorld1 = NormalizeNeutral(m_GrayWorld1);
    m_GrayWorld2 = NormalizeNeutral(m_GrayWorld2);
    m_Neutral = NormalizeNeutral(m_Neutral);
    DebugTrace("GrayWorld1 RGBNeutral is:        (%f, %f, %f)\r\n", m_GrayWorld1.r, m_GrayWorld1.g,
               m_GrayWorld1.b);
    DebugTrace("GrayWorld2 RGBNeutral is:        (%f, %f, %f)\r\n", m_GrayWorld2.r, m_GrayWorld2.g,
               m_GrayWorld2.b);
    DebugTrace("Squashed  RGBNeutral is:         (%f, %f, %f)\r\n", m_Neutral.r, m_Neutral.g, m_Neutral.b);
    if (!m_bConstrain) {
        m_Neutral = FDoubleRGB(m_GrayWorld1.r + m_Neutral.r + m_GrayWorld2.r,
                               m_GrayWorld1.g + m_Neutral.g + m_GrayWorld2.g,
                               m_GrayWorld1.b + m_Neutral.b + m_GrayWorld2.b)
                        .ScaledCopy(0.3333333333333333);
    }
    m_Neutral = NormalizeNeutral(priConstrainNeutral());
    DebugTrace("Final constrained RGBNeutral is: (%f, %f, %f)\r\n", m_Neutral.r, m_Neutral.g, m_Neutral.b);
}

FDoubleRGB AutoWhiteBalanceGrayWorld(const FPixmap* image, const FPostPolyMatrix& postCoefficients,
                                     const FIntRGB& saturation, double fNumber, double exposureTime,
                                     double compensation, const FColorMatrix& rimmMatrix, double isoGain,
                                     const FDriftPair& drift, bool constrain)
{
    if (image == nullptr || image->GetPixelType() != FPixmap::PIXEL_48S_RGB)
        throw FExceptionPixelProc2("AutoWhiteBalanceGrayWorld: the image must be signed 48-bit RGB");
    FDoubleRGB level;
    level.FromIntRGB(saturation);
    EAutoWB estimator(image, postCoefficients, level, fNumber, exposureTime, compensation, rimmMatrix,
                      isoGain, drift, constrain);
    estimator.CalculateNeutral();
    return estimator.GetNeutral();
}
