#pragma once

// What the steps of stage 2 hand to the pixel library, computed apart from the calls so
// that the values can be checked against the calibration they come from.

#include <cstdint>

#include "FColorMatrix.h"
#include "FIntRGB.h"

class FCamdata;
struct FStage2Params;

namespace IPEngineStages
{

// Step 0's column filters.
struct FStage2ColumnFilters {
    FDoubleRGB filter;
    FDoubleRGB square;
};
FStage2ColumnFilters Stage2ColumnFilters(const FStage2Params& p, const FCamdata& cam);

// A chroma filter of steps 5, 6 and 9: whether it runs, its amplitude and strength.
struct FStage2ChromaArgs {
    bool run = false;
    FDoubleRGB amplitude;
    int strength = 0;
    uint32_t sumShift = 3;
};
FStage2ChromaArgs Stage2SmallChromaArgs(const FStage2Params& p, const FCamdata& cam);
FStage2ChromaArgs Stage2ChromaArgs(const FStage2Params& p, const FCamdata& cam);
FStage2ChromaArgs Stage2ChromaBlurArgs(const FStage2Params& p, const FCamdata& cam);

// Step 7: the matrix before fixed point, its green-row sum (1 without the noise filter)
// and the colour-noise amplitude.
struct FStage2ColorArgs {
    FColorMatrix matrix;
    double greenSum = 1.0;
    FDoubleRGB noise;
};
FStage2ColorArgs Stage2ColorArgs(const FStage2Params& p, const FCamdata& cam);

// Step 8, in the noise filter's own names: m is the output factor (step 7's green-row
// sum), g the gain (the reduced ISO ratio).
struct FStage2FIRArgs {
    bool run = false;
    float ref = 0, edgeRef = 0, imgEdgeRef = 0, locality = 0;
    float sigmoid = 0, edgeScale = 0, meanScale = 0, exponent = 0;
    float m = 1, g = 1;
};
FStage2FIRArgs Stage2FIRArgs(const FStage2Params& p, const FCamdata& cam);

} // namespace IPEngineStages
