#pragma once

#include "FRect.h"

#include <array>
#include <cstdint>

class FPixmap;

// Copies and scaled copies between 32-bit display pixmaps (blue, green, red, alpha). Every
// function does nothing for missing arguments, pixmaps of another pixel type or without
// pixels, and empty or disjoint rectangles.

// Equal sizes copy all four bytes; other sizes scale with ScaleDisplayPixmapRect.
void CopyDisplayPixmapRect(FPixmap* destination, const FRect* destinationRect, FPixmap* source,
                           const FRect* sourceRect);

// As CopyDisplayPixmapRect; at equal sizes, a pixel whose luminance is at most
// `shadowThreshold` is tinted with `shadowColour`, else one with a channel at least
// `highlightThreshold` with `highlightColour`. Colours are packed with red in the lowest
// byte and the tint strength (alpha) in the highest.
void BlendDisplayPixmapRect(FPixmap* destination, const FRect* destinationRect, FPixmap* source,
                            const FRect* sourceRect, int shadowThreshold, int highlightThreshold,
                            uint32_t shadowColour, uint32_t highlightColour);

// Clips both rectangles as a copy of `sourceRect` into `destinationRect` would; false when
// nothing is left to copy.
bool ClipBlitRects(FPixmap* destination, FRect& destinationRect, FPixmap* source, FRect& sourceRect);

// Scaled copy between rectangles already inside their pixmaps: four-tap interpolation to
// enlarge, nearest pixel or a bilinear average to reduce.
void ScaleDisplayPixmapRect(FPixmap* destination, const FRect& destinationRect, FPixmap* source,
                            const FRect& sourceRect);

// The interpolation weights: 128 rows of four taps in 15-bit fixed point, for the samples
// two back, one back, current and one forward; row k is for the fraction k / 128.
using FCubicKernel = std::array<std::array<int32_t, 4>, 128>;
const FCubicKernel& GetCubicKernel();
