#pragma once

#include <cstdint>
#include <memory>

#include "CalculateDrift.h"
#include "CorrectRowSegments.h"
#include "FColorMatrix.h"
#include "FIntRGB.h"
#include "FPixmap.h"

// Gray-world automatic white balance: the camera's response to a neutral grey (largest
// channel 1.0) from three blended gray-world statistics of a stage-2 image (id 16), pulled
// into the plausible illuminants for the scene's brightness.

// Histogram bins per channel and counters in all.
inline constexpr int kAutoWBBins = 32;
inline constexpr int kAutoWBHistogramSize = kAutoWBBins * kAutoWBBins * kAutoWBBins;

class EAutoWB
{
public:
    // Throws FException "Allocation error in EAutoWB constructor" when the histogram
    // cannot be had.
    EAutoWB(const FPixmap* image, const FPostPolyMatrix& postCoefficients, const FDoubleRGB& saturation,
            double fNumber, double exposureTime, double compensation, const FColorMatrix& rimmMatrix,
            double isoGain, const FDriftPair& drift, bool constrain);
    ~EAutoWB();
    EAutoWB(const EAutoWB&) = delete;
    EAutoWB& operator=(const EAutoWB&) = delete;

    // The whole estimate; the result is left in m_Neutral. An image with nothing inside its
    // margins, or without a positive level in some channel, gives the prior (a RIMM grey)
    // through the same constraint, traced.
    void CalculateNeutral();
    const FDoubleRGB& GetNeutral() const { return m_Neutral; }

    // The weight of bin i (0 to 31) along one axis.
    static double BinWeight(int i);

private:
    void priUpdateRowMax();
    void priAccumulateBlockRow();
    FDoubleRGB priConstrainNeutral();
    bool priInverse(FColorMatrix& inverse) const;

    const FPixmapTemplate<FPixelClass48SRGB>* m_pImage = nullptr;
    int32_t m_iCols = 0;
    int32_t m_iRows = 0;
    int32_t m_iRow = 0;
    int32_t m_iColMargin = 0;
    int32_t m_iRowMargin = 0;
    FDoubleRGB m_Neutral;
    FDoubleRGB m_GrayWorld1;
    FDoubleRGB m_GrayWorld2;
    FDoubleRGB m_Saturation;
    int32_t m_iMaxR = 0;
    int32_t m_iMaxG = 0;
    int32_t m_iMaxB = 0;
    FDoubleRGB m_MeanRGB;
    uint32_t m_uPixelCount = 0;
    std::unique_ptr<uint32_t[]> m_pHistogram;
    int32_t m_iScaleR = 0;
    int32_t m_iScaleG = 0;
    int32_t m_iScaleB = 0;
    double m_dFNumber = 0.0;
    double m_dExposureTime = 0.0;
    double m_dCompensation = 0.0;
    FColorMatrix m_RimmMatrix;
    double m_dIsoGain = 0.0;
    uint32_t m_uBinnedCount = 0;
    bool m_bConstrain = false;
    FPostPolyMatrix m_PostCoefficients;
    FDriftPair m_Drift;
};

// Runs one EAutoWB over the image (pixel type 16; another type throws
// FExceptionPixelProc2) and returns its neutral.
FDoubleRGB AutoWhiteBalanceGrayWorld(const FPixmap* image, const FPostPolyMatrix& postCoefficients,
                                     const FIntRGB& saturation, double fNumber, double exposureTime,
                                     double compensation, const FColorMatrix& rimmMatrix, double isoGain,
                                     const FDriftPair& drift, bool constrain);
