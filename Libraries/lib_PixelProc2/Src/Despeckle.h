#pragma once

#include <cstdint>

#include "FPixmap.h"

// Single-pixel spikes and pits of signed 48-bit rows. Each changes the current row in
// place, columns 1 ... columns - 2, comparing with the left neighbour as it was before the
// call; rows of 2 columns or fewer are left alone.

// Per channel: a value above all eight neighbours becomes their largest, one below all
// eight their smallest.
void DespeckleRowChannels(const int16_t* previous, int16_t* current, const int16_t* next, uint32_t columns);

// On the luma R + 2G + B: bright or coloured spikes and dark pits are replaced by the
// brightest (darkest) neighbour, pulled back toward the centre's own channels.
void DespeckleRowLuma(const int16_t* previous, int16_t* current, const int16_t* next, uint32_t columns);

// Rows 1 ... rows - 2 from the top, in place, with one of the two, each row against the
// row above as already changed; in `threads` bands with the result of one sweep. Throws
// FExceptionPixelProc2 "Despeckle: input image too small" below 3 rows or 3 columns.
void DespeckleImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool perChannel, int threads = 1);
// The same with the rows each band sweeps above its own to guess the row above it as it
// will end. Fewer rows guess wrong more often, and a wrong guess is swept again: the
// result does not change, only the time.
void DespeckleImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool perChannel, int threads,
                    int haloRows);
