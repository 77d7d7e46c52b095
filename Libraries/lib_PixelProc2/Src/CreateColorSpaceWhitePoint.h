#pragma once

#include "FColorMatrix.h"

// Colour-space indices carried by requests, settings and saved files.
inline constexpr int kColorSpaceNone = 0;     // identity: XYZ passed through
inline constexpr int kColorSpaceSRGB = 2;     // the default of a request; 1 is the same space
inline constexpr int kColorSpaceWorking = 11; // the linear working space of the pipeline
inline constexpr int kColorSpaceCount = 12;

// Reference whites: the white that the XYZ side of a matrix is normalised to.
inline constexpr int kPcsWhiteD50 = 0;
inline constexpr int kPcsWhiteD65 = 1;

// The matrix that takes CIE XYZ (white at Y = 1) to the linear RGB of a colour space.
// Throws FException for a reference white other than 0 or 1, or an index above 11.
void CreateColorSpaceWhitePoint(FColorMatrix& out, int colorSpace, int pcsWhite);
