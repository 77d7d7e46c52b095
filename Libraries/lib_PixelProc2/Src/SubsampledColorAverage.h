#pragma once

#include "FIntRGB.h"
#include "FPixmap.h"

// The mean colour over the pixels at rows and columns start, start + step, ... with
// start = step / 2 (a step below 1 is taken as 1); (0, 0, 0) when the grid holds no pixel.
// Accepts ids 7, 8, 10, 15, 16 and 17, read as their pixel accessors read them. Throws
// FExceptionPixelProc2 for another id, or for a pixmap that is not of the class its id
// names; `out` is untouched then. Returns `out`.
FDoubleRGB& SubsampledColorAverage(FDoubleRGB& out, const FPixmap& pixmap, int step);
