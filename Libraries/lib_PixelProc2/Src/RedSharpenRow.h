#pragma once

#include <cstdint>

#include "FPixmap.h"

// Five rows of `columns` horizontally blurred red values, oldest first.
struct FRedSharpenRing {
    int32_t* rows[5] = {};
};

// Blurs the red of `source` into the newest ring row, sharpens the red of `target` (the
// row two above, or null) against the ring's 5 x 5 blur with Q14 left and right weights,
// clipping above 32000, then rotates the ring. Green and blue are kept; an amount of 0 or
// less sharpens nothing (the ring is still filled).
void RedSharpenRow(const int16_t* source, int16_t* target, int32_t amount, FRedSharpenRing& ring,
                   uint32_t columns, int32_t leftWeight, int32_t rightWeight);

// The whole sweep in place, the rows split over `threads` threads; the result does not
// depend on the thread count.
void RedSharpenImage(const FPixmapTemplate<FPixelClass48SRGB>& image, int32_t amount, int32_t leftWeight,
                     int32_t rightWeight, int threads);
