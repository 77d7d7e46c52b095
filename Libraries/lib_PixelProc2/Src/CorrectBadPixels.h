#pragma once

#include <cstdint>
#include <vector>

#include "FPixmap.h"

// Bad-pixel entries: row in bits 31-20, column in bits 19-8, and in bits 7-0 the mask of
// the neighbours that replace the pixel (1 up-left, 2 up, 4 up-right, 8 left, 16 right,
// 32 down-left, 64 down, 128 down-right).

// Replaces each listed pixel by the truncated mean of its masked neighbours, in list
// order (a later entry sees earlier replacements). origin (x, y), added modulo 2^32, maps
// sensor to image coordinates; null means (0, 0). Entries outside rows and columns
// 2 ... size - 2, and empty masks, are skipped.
void CorrectBadPixels(const FPixmapTemplate<FPixelClass48SRGB>& image, const uint32_t* list, uint32_t count,
                      const uint32_t* origin);

// The badness a pixel must exceed to be corrected after an exposure of `seconds`: levels
// L0, L1 (default 128, 30) and times T0, T1 (default 2 s, 10 s) from the first two
// elements of each array when it has at least two.
uint8_t CalculateBadPixelThreshold(double seconds, const uint32_t* levels, uint32_t levelCount,
                                   const float* times, uint32_t timeCount);

// The entries whose badness is greater than the threshold, in order. Entries without a
// badness value (a shorter badness array) are dropped.
std::vector<uint32_t> SelectBadPixels(const uint32_t* list, uint32_t count, const uint8_t* badness,
                                      uint32_t badnessCount, uint8_t threshold);
