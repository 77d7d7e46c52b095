#pragma once

#include "FIntRGB.h"
#include "FPixmap.h"

// The veil of stray light per channel: the mean colour over every fourth pixel of every
// fourth row times `factor`. Passes on the exceptions of SubsampledColorAverage.
void EstimateFlare(FDoubleRGB& flare, const FPixmap& image, const FDoubleRGB& factor);
