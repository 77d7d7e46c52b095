#pragma once

// The set-up of stage 2: every sensor-level parameter, the camera matrix, the neutral and
// the gains that the step sequence uses, in the order they depend on one another. A
// calibration value that is not finite reads as absent, so no NaN reaches the steps.

#include <cstdint>

#include "CalculateDrift.h"
#include "CorrectRowSegments.h"
#include "FColorMatrix.h"
#include "FIntRGB.h"
#include "FRect.h"
#include "FWideString.h"

class FCamdata;
class FIPERequestStage2;
class FPropList;

// Skip-flag bits of "SkipStepFlags".
enum FStage2SkipFlags : uint32_t {
    kSkipSpatialGain = 0x10,
    kSkipBadPixels = 0x200,
    kSkipNeutralizeHighlight = 0x800,
    kSkipDespeckle = 0x4000,
    kSkipChromaSmall = 0x8000,
    kSkipChroma = 0x10000,
    kSkipColorNoise = 0x20000,
    kSkipColorTransform = 0x40000,
    kSkipChromaBlur = 0x200000,
    kSkipFIR = 0x400000,
    kAutoWBGrayWorld = 0x1000000,
    kAutoWBAlways = 0x2000000,
};

struct FStage2Params {
    // Sensor.
    bool m_bMaker = false;
    bool m_bOlderModel = false;
    bool m_bMV3 = false;
    bool m_bMV60 = false;
    bool m_bMV90 = false;
    bool m_bRowOffsetMode = false;
    bool m_bSlopeMode = false;
    double m_dCaptureISO = 0.0;
    double m_dIsoRatio = 1.0;
    int m_iIsoGain = 1;
    double m_dReducedRatio = 1.0;
    bool m_bBulb = false;
    uint32_t m_uBulbFrames = 0;
    FIntRGB m_Saturation;
    double m_dNoiseScale = 1.0;
    double m_dExposureSeconds = 0.0;
    double m_adRawDrift[12] = {};
    FDriftPair m_Drift;
    FDoubleRGB m_BlackDiff;
    FDoubleRGB m_DarkGain{1.0, 1.0, 1.0};
    FPostPolyMatrix m_Post;
    FRect m_rKeep;
    FRect m_rActive;
    uint32_t m_uSkipFlags = 0;
    bool m_bFIRDisabled = false;
    bool m_bDespecklePerChannel = false;
    // Colour.
    FWideString m_usWBName;
    FColorMatrix m_U;
    FDoubleRGB m_V;
    FDoubleRGB m_W{1.0, 1.0, 1.0};
    bool m_bCL7 = false;
    bool m_bMonochrome = false;
    bool m_bPreset = true;
    bool m_bIlluminantList = true;
    bool m_bAutoWB = false;
};

namespace Stage2Setup
{

// Rows the scratch pixmap needs for an image of cols x rows.
int64_t ScratchRowsNeeded(int cols, int rows);

// Items that depend only on the request, its capture properties and camera data.
void ReadSensor(const FIPERequestStage2& request, FStage2Params& p);
// The camera matrix and, for the CL7 path, its neutral; then the cross-talk correction.
void SelectMatrix(const FIPERequestStage2& request, FStage2Params& p);
// Black differences and dark gains (U picks the gains up), and the post-polynomial matrix.
void DarkGainsAndPost(const FIPERequestStage2& request, FStage2Params& p);
void SelectNeutral(const FIPERequestStage2& request, FStage2Params& p);
// Items that read or change the image: the linearisation reduction, the drift table and
// the automatic white balance. They run once per image; a continued request finds their
// values in the request's carry record and leaves the image alone. The same at any
// thread count.
void ImageItems(FIPERequestStage2& request, FStage2Params& p, int threads = 1);
// Neutral into gains, the working and output matrices, and the saturation in gain units.
void Normalise(const FIPERequestStage2& request, FStage2Params& p);

// All of the above, in the set-up's order.
void Run(FIPERequestStage2& request, FStage2Params& p, int threads = 1);

// Helpers shared with the steps: a non-finite value reads as 0 (absent).
double CamFloat(const char* name, const FCamdata& camdata);
FDoubleRGB CamFloatRGB(const char* name, const FCamdata& camdata, const FDoubleRGB& fallback);
FColorMatrix CamMatrix(const char* name, const FCamdata& camdata);
// U^-1 x white, or (1, 1, 1) when U has no usable inverse.
FDoubleRGB NeutralFor(const FColorMatrix& U, const FDoubleRGB& white);

inline constexpr FDoubleRGB kD65{0.3127, 0.3290, 0.3583};

} // namespace Stage2Setup
