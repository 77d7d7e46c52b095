#pragma once

#include <cstdint>

#include "FIntRGB.h"
#include "FLUT.h"
#include "FPixmap.h"

// Cells of the RGB occupancy cube: 32 per axis, index r + 32 g + 1024 b.
inline constexpr int kAutoAdjustCubeSide = 32;
inline constexpr int kAutoAdjustCubeCells = kAutoAdjustCubeSide * kAutoAdjustCubeSide * kAutoAdjustCubeSide;
// Smallest image the subsampling can read.
inline constexpr int kAutoAdjustMinRows = 40;
inline constexpr int kAutoAdjustMinCols = 32;

// Proposes exposure (stops), contrast, shadow, highlight and saturation settings and a
// pair of colour-balance gains for a stage-2 image (linear, Q12). Every setting is clamped
// and on a step of 0.1; the gains lie on the 1/100-density grid with the strongest 1.0.
// An image smaller than 40 rows or 32 columns gives settings of 0 and gains of 1. Throws
// FExceptionPixelProc2 when a buffer cannot be allocated; the outputs are then untouched.
void CalculateAutoAdjustSettings(const FPixmapTemplate<FPixelClass48SRGB>& image, const FLUT& cubeRoot,
                                 const FLUT& cube, double bias, double& exposure, double& contrast,
                                 double& shadow, double& highlight, double& saturation, FDoubleRGB& gains);

// Tone settings from the cumulative luma distribution (bins entries, each in [0, 1]; an
// empty distribution puts every percentile at bin 0).
void AutoAdjustToneSettings(const double* cumulative, int bins, const FLUT& cubeRoot, const FLUT& cube,
                            double bias, double& exposure, double& contrast, double& shadow,
                            double& highlight);

// Colour gains and saturation from the occupancy cube (kAutoAdjustCubeCells counts,
// smoothed in place) and the channel maxima used to fill it.
void AutoAdjustColorSettings(uint32_t* cube, const int32_t maxima[3], FDoubleRGB& gains, double& saturation);

// x clamped to [low, high], then floor(10 x + 0.5) x 0.1. A NaN counts as 0.
double ClampRoundTenth(double x, double low, double high);

// The weight given to the bias in the highlight setting, for the raw highlight value h.
double HighlightBiasFactor(double h);

// Throws FExceptionPixelProc2 "CalculateAutoAdjustSettings: error mallocing memory" for null.
void CheckAutoAdjustAllocation(const void* pointer);
