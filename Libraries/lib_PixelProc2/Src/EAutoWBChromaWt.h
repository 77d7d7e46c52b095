#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "CorrectRowSegments.h"
#include "FColorMatrix.h"
#include "FIntRGB.h"
#include "FPixmap.h"

// Chroma-weighted automatic white balance: the neutral (largest channel 1.0) from the
// nearly achromatic pixels of a subsample of a stage-2 image (id 16), weighted by their
// chroma under the current white point and by how crowded their tone-adjusted colour is,
// then held to the plausible illuminants for the scene's brightness.

inline constexpr int kChromaCandidates = 6;
inline constexpr int kChromaCubeRootEntries = 10000;

// CIE XYZ white points (Y = 100) of the candidate illuminants.
extern const FDoubleRGB kChromaCandidateWhites[kChromaCandidates];

// entry i = x^(1/3) for x = -1 + 0.0016 i, x advanced by repeated addition.
std::vector<double> MakeChromaCubeRootTable();
// entry j = (1 - (j / limit)^3)^3 for j < limit, and 0 at j = limit.
std::vector<double> MakeTricubeTable(int limit);

// CIELAB of (X, Y, Z) against the white (Xn, Yn, Zn), cube roots from the table.
void XYZToLab(double X, double Y, double Z, double Xn, double Yn, double Zn, const double* cubeRoot,
              double& L, double& a, double& b);

// The initial candidate from the mean chroma under each (NaN where no pixel qualified):
// the candidates within 50 % of the least colourful form a list; five or six give
// candidate 2, three or four the second of the list, one or two the first. An empty list
// gives candidate 2.
int ChooseChromaCandidate(const double means[kChromaCandidates]);

class EAutoWBChromaWt
{
public:
    EAutoWBChromaWt(const FPixmap* image, const FDoubleRGB& saturation,
                    const FPostPolyMatrix& postCoefficients, double fNumber, double exposureTime,
                    double compensation, bool flash, const FColorMatrix& camToXYZ, double isoGain,
                    const FDoubleRGB& offset, bool constrain, int threads = 1);
    EAutoWBChromaWt(const EAutoWBChromaWt&) = delete;
    EAutoWBChromaWt& operator=(const EAutoWBChromaWt&) = delete;

    // The whole estimate; the result is left in m_Neutral. Throws FException (through an
    // assertion report) when the subsample buffers cannot be had, and FExceptionPixelProc2
    // when the shared tables cannot be reached.
    void CalculateNeutral();
    const FDoubleRGB& GetNeutral() const { return m_Neutral; }
    int GetSubCols() const { return m_iSubCols; }
    int GetSubRows() const { return m_iSubRows; }
    int GetColMargin() const { return m_iColMargin; }
    int GetRowMargin() const { return m_iRowMargin; }
    double GetBrightness() const { return m_dBrightness; }

private:
    // Sub-rows [first, end): one pixel per 4 columns x 8 rows, its tone-matrix copy, and
    // the largest of each channel.
    void priSubsampleRows(int first, int end, FPixmapTemplate<FPixelClassFlt32RGB>& subsample,
                          FPixmapTemplate<FPixelClass48SRGB>& toneImage, float* sums, double maxima[3]) const;
    void priToneAdjust();
    void priComputeWhitePoint(double whiteX, double whiteY, double whiteZ, float limit);
    FDoubleRGB priConstrainNeutral();
    int priInitialCandidate();

    const FPixmapTemplate<FPixelClass48SRGB>* m_pImage = nullptr;
    FPixmapTemplate<FPixelClassFlt32RGB>* m_pSubsample = nullptr;
    FPixmapTemplate<FPixelClass48SRGB>* m_pToneImage = nullptr;
    float* m_cfChroma = nullptr;
    // Per subsample pixel: its crowding bin (-1: not counted); its weight or chroma root.
    int32_t* m_pBins = nullptr;
    double* m_pValues = nullptr;
    int32_t m_iCols = 0;
    int32_t m_iRows = 0;
    int32_t m_iSubCols = 0;
    int32_t m_iSubRows = 0;
    int32_t m_iColMargin = 0;
    int32_t m_iRowMargin = 0;
    FDoubleRGB m_Neutral;
    FDoubleRGB m_Saturation;
    FDoubleRGB m_Ceiling;
    double m_dFNumber = 0.0;
    double m_dExposureTime = 0.0;
    double m_dCompensation = 0.0;
    double m_dBrightness = 0.0;
    bool m_bFlash = false;
    FColorMatrix m_CamToXYZ;
    FColorMatrix m_WorkingMatrix;
    double m_dIsoGain = 0.0;
    bool m_bConstrain = false;
    int m_iThreads = 1;
    std::array<int32_t, 32768> m_Histogram{};
    FDoubleRGB m_Offset;
    FPostPolyMatrix m_PostCoefficients;
    bool m_bHasPostCorrection = false;
    std::vector<double> m_CubeRoot;
    std::vector<double> m_Tricube;
};

// Runs one EAutoWBChromaWt over the image (pixel type 16; another type throws
// FExceptionPixelProc2) and returns its neutral, the same at any thread count.
FDoubleRGB AutoWhiteBalanceChromaWt(const FPixmap* image, const FIntRGB& saturation,
                                    const FPostPolyMatrix& postCoefficients, double fNumber,
                                    double exposureTime, double compensation, bool flash,
                                    const FColorMatrix& camToXYZ, double isoGain, const FDoubleRGB& offset,
                                    bool constrain, int threads = 1);
