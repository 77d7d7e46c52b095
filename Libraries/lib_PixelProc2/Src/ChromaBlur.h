#pragma once

#include <cstdint>

#include "FLUT.h"
#include "FPixmap.h"

// Chroma noise filters over rows of signed 48-bit pixels (R, G, B as int16): each pixel's
// colour is pulled toward a smoothed colour of its surroundings through a soft-limiting
// table, keeping its channel sum. State lives in buffers the caller owns, so an image can
// be streamed through row by row.

// Sums the image in 4 x 4 blocks (capped at 32767 per channel) and smooths the block
// image from the bottom up. blocks: ((cols + 3) / 4) x ((rows + 3) / 4) triples, row-major.
// Any thread count gives the same blocks.
void BuildChromaBlurImage(const FPixmapTemplate<FPixelClass48SRGB>& source, double radius, int16_t* blocks,
                          int threads = 1);

// Corrects row y (called for rows 0, 1, 2, ... in order) against a recursive smoothing of
// the block image. work: 2 x columns triples kept between the calls of one image. An
// offset below 1 counts as 1.
void ChromaBlurRow(int16_t* row, int y, double horizontalTime, double verticalTime, int offset,
                   const int16_t* blocks, int16_t* work, int columns, const FColorLUT& table, int sumShift);

// A ring of 5 (spatial) or 3 (binomial) rows of `count` int16 triples, oldest first.
// Each call filters `input` horizontally into the last slot, corrects `output` (the row in
// the middle of the ring after this call; null while the ring fills) and rotates.
void SpatialChromaDQRow(const int16_t* input, int16_t* output, int offset, int16_t* ring[5], uint32_t count,
                        const FColorLUT& table, uint32_t sumShift);
void BinomialChromaDQRow(const int16_t* input, int16_t* output, int16_t* ring[3], uint32_t count,
                         const FColorLUT& table, uint32_t sumShift);

// Whole images in place, their rows split into `threads` bands with a result that does not
// depend on the thread count.
void ChromaBlurImage(const FPixmapTemplate<FPixelClass48SRGB>& image, double radius, double horizontalTime,
                     double verticalTime, int offset, const FColorLUT& table, int sumShift, int threads = 1);
void SpatialChromaDQImage(const FPixmapTemplate<FPixelClass48SRGB>& image, int offset, const FColorLUT& table,
                          uint32_t sumShift, int threads);
void BinomialChromaDQImage(const FPixmapTemplate<FPixelClass48SRGB>& image, const FColorLUT& table,
                           uint32_t sumShift, int threads);

// SpatialChromaDQRow over a 32-bit BGRA display image in a squared-intensity domain, with
// a soft-limit table of the given amplitudes; alpha becomes 255. Passes on the shared
// tables' exception.
void ChromaFilterDisplayImage(const FPixmapTemplate<FPixelClass32BGRA>& image, int amplitudeR, int amplitudeG,
                              int amplitudeB, int offsetFactor);
