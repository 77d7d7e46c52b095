#include "EstimateFlare.h"

#include "SubsampledColorAverage.h"

void EstimateFlare(FDoubleRGB& flare, const FPixmap& image, const FDoubleRGB& factor)
{
    FDoubleRGB mean;
    SubsampledColorAverage(mean, image, 4);
    mean.Multiply(factor);
    flare = mean;
}
