#pragma once

#include <cstdint>

#include "FIntRGB.h"
#include "FPixmap.h"
#include "FRect.h"

// The dark level of one shield rectangle (mean sample per channel) and its change across
// the full image width. A row drift has the same layout.
struct FDrift {
    FDoubleRGB slope;
    FDoubleRGB level;
};

// Top and bottom shield drifts; the twelve camera-data coefficients are in this order.
struct FDriftPair {
    FDrift top;
    FDrift bottom;

    // top slope, top level, bottom slope, bottom level, each R G B.
    static FDriftPair FromCoefficients(const double coefficients[12]);
};

// Throws FExceptionPixelProc2 for a missing image or buffer and for a rectangle whose top
// or bottom lies outside the image rows; nothing is written then. An empty rectangle gives
// zeros. Columns outside the image and a top above it are clipped away.
void CalculateDrift(FDrift& out, const FPixmapTemplate<FPixelClass48SRGB>* image, const FRect& rect);

// CalculateDrift on the top rectangle, then on the bottom one.
void CalculateDriftPair(FDriftPair& out, const FPixmapTemplate<FPixelClass48SRGB>* image, const FRect& top,
                        const FRect& bottom);

// Linear between the top drift (row 0) and the bottom drift (row rowCount - 1). A row
// count below 2 gives the top drift.
void InterpolateDriftForRow(FDrift& out, const FDriftPair& pair, uint32_t row, uint32_t rowCount);
