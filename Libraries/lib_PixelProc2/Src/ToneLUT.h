#pragma once

#include <memory>

#include "FLUT.h"
#include "FPixmap.h"

// A power curve with a linear toe, and a slope-limited segment that replaces the
// infinitely steep start of a power below 1.
struct FGammaSegment {
    double g = 1.0;  // exponent of the power part
    double x0 = 0.0; // end of the linear toe of the encoding; 0 for none
    double A = 0.0;  // offset of the power part
    double S1 = 1.0; // slope of the toe
    double x1 = 0.0; // where the slope-limited segment meets the power part
    double B = 0.0;  // intercept of the slope-limited segment
    double S2 = 1.0; // slope of the slope-limited segment
};

inline constexpr int kToneLUTSize = 65536;
inline constexpr int kOutputTransferLUTSize = 65536;

void MakeGammaSegment(FGammaSegment& segment, double g, double x0);
// The encoding curve and its inverse.
double GammaSegmentEncode(const FGammaSegment& segment, double x);
double GammaSegmentDecode(const FGammaSegment& segment, double y);

// The encoding curve of colour space 0 to 11, without the output table's highlight
// shoulder; false for another index.
bool MakeOutputGammaSegment(int colorSpace, FGammaSegment& segment);

// Linear light in Q12 (index, signed) to 8- or 16-bit output codes (entries, unsigned)
// with the tone curve of colour space 0 to 11. Throws FExceptionPixelProc2 "Unknown Color
// Space" for another index, and for bits other than 8 or 16.
std::unique_ptr<FLUT> MakeOutputTransferLUT(int colorSpace, int bits);

// Fills `out` (at least 65536 entries per channel) with the tone table of the settings:
// index a cube-root-domain Q12 value, entry linear light in Q12, at most 16384. Shadow,
// contrast and highlight range over -2 to 2 and are held to that range; the gains must be
// positive and every setting finite, else FExceptionPixelProc2.
void MakeToneLUT(double exposure, double shadow, double contrast, double highlight, double redGain,
                 double greenGain, double blueGain, const FLUT& cube, FColorLUT& out);

// One point of the tone curve.
double ToneCurveValue(double x, double gain, double o1, double P, double Q, double T, double m, double c,
                      double K, const FGammaSegment& segment, double o2);

// Replaces the image by itself minus a smoothed copy (the detail image), in place.
void HighPassMonoImage(FPixmapTemplate<FPixelClass16SMono>& image, double strength);
