#pragma once

#include "FRect.h"

class FPixmap_Display;

// Scaled copy between clipped rectangles of different sizes, both inside their pixmaps.
// 15-bit fixed point; linear enlargement, nearest-pixel reduction. False when the sizes
// are equal (nothing to scale).
bool ScaleUiBlit(const FPixmap_Display& source, const FRect& s, const FPixmap_Display& target,
                 const FRect& d);
