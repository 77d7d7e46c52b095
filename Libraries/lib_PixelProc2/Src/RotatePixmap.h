#pragma once

#include "FPixmap.h"

// Turns `source` by `angle` degrees into `destination` by forward mapping: each source pixel
// is copied whole to its turned position when that lies inside the destination. The
// destination is not cleared; where several source pixels land on one destination pixel
// the last in row order stays. 90 degrees is a clockwise quarter turn (source (x, y) to
// (H - 1 - y, x)), 270 the counter-clockwise one.
//
// The destination id must be 7, 11, 13 or 15 and the source of the destination's pixel
// class; otherwise FExceptionPpUnknownPixelType. An angle that is not finite throws
// FExceptionPixelProc. Nothing is written on failure.
void Rotate(const FPixmap& source, FPixmap& destination, double angle);

// The 4-byte-pixel body of Rotate (ids 11 and 13).
void RotatePixmap32(const FPixmap& source, FPixmap& destination, double angle);
