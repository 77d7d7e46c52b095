#pragma once

#include <cstdint>
#include <functional>

#include "FAsyncStatus.h"
#include "FPixmap.h"
#include "FRect.h"

class FCamdata;

// Type ids of the engine requests.
enum FIPERequestType : int {
    kIPEStage1 = 0,
    kIPEStage2 = 1,
    kIPEStage3 = 2,
    kIPEStage4 = 3,
    kIPEGenerateToneLUT = 4,
    kIPECropSizeRotate = 5,
    kIPERotate = 6,
    kIPEStreamOutput = 7,
    kIPELastType = kIPEStreamOutput,
};

// Tags of the resume state's first word.
inline constexpr uint32_t kResumeTagStage1 = 0x53544731;
inline constexpr uint32_t kResumeTagStage2 = 0x53544732;

// Words of the resume state the engine uses; the rest are carried unchanged. Stage 1 uses
// only the next-row word; stage 2 all three.
enum FIPEResumeWord : int {
    kResumeTag = 0,
    kResumeStep = 1,
    kResumeNextRow = 2,
    kResumePass = 3,
    kResumeWordCount = 10,
};

// One job for the engine's worker. The creator owns the record and must keep it, and
// everything it points to, alive and unchanged until its state leaves kInProgress.
class FIPERequest
{
public:
    virtual ~FIPERequest() = default;
    virtual int GetRequestType() const = 0;

    FAsyncStatus m_Async;
    // Copied by the manager from and back to the stage's cache object, so that a
    // cancelled stage can continue where it stopped.
    uint32_t m_ResumeState[kResumeWordCount] = {};
};

class FIPERequestStage1 : public FIPERequest
{
public:
    int GetRequestType() const override { return kIPEStage1; }

    FPixmap48RGB* m_pRawImage = nullptr;
    FPixmap48RGB* m_pDarkImage = nullptr;
    const FCamdata* m_pCambData = nullptr;
    FPixmap48SRGB* m_pOutImage = nullptr;
    // Results in linearised units: zero unless the camera data gives a saturation level
    // and the dark shield is not black.
    int32_t m_aiSaturationLevel[3] = {0, 0, 0};
    int32_t m_aiDarkShieldLevel[3] = {0, 0, 0};
};

class FIPERequestStage3 : public FIPERequest
{
public:
    int GetRequestType() const override { return kIPEStage3; }

    FPixmap48SRGB* m_pStage2Image = nullptr;
    FPixmap16SMono* m_pStage2ImageRtnx = nullptr;
    int32_t m_iOutCols = 0;
    int32_t m_iOutRows = 0;
    // The part of the cols x rows output to produce, right and bottom exclusive.
    FRect m_rCrop;
    int32_t m_iRotation = 0;
    // The capture's size in the rotated orientation.
    int32_t m_iRawCols = 0;
    int32_t m_iRawRows = 0;
    const FCamdata* m_pCambData = nullptr;
    void* m_pTempData = nullptr;
    FPixmap48SRGB* m_pOutImage = nullptr;
    FPixmap16SMono* m_pOutImageL = nullptr;
    FPixmap16SMono* m_pOutImageRtnx = nullptr;
    uint8_t m_bGreenWeighting = 0;
};

class FIPERequestStage4 : public FIPERequest
{
public:
    int GetRequestType() const override { return kIPEStage4; }

    FPixmap48SRGB* m_pStage3Image = nullptr;
    FPixmap16SMono* m_pStage3ImageL = nullptr;
    FPixmap16SMono* m_pStage3ImageRtnx = nullptr;
    const FCamdata* m_pCambData = nullptr;
    // Three tables of 65536 entries, red, green, blue, one after another.
    int16_t* m_pToneLUT = nullptr;
    int16_t* m_pRtnxLUT = nullptr;
    int32_t m_iColorSpace = 2;
    double m_dSharpness = 0.0;
    double m_dSaturation = 0.0;
    // Pixel type 7, 13 or 15.
    FPixmap* m_pOutImage = nullptr;
    uint8_t m_bOlderModel = 0;
};

// Stages 3 and 4 of the output rectangle m_Stage3.m_rCrop in strips, whose rows go to
// m_WriteRows in order from the top; no image of the whole rectangle is made. Each strip is
// rendered with up to m_iStripMargin rows of neighbours above and below (none above output
// row m_iStripMargin, none below when fewer remain in the rectangle), exactly as a request
// for that strip alone would be. The output pointers of both records are unused.
class FIPERequestStreamOutput : public FIPERequest
{
public:
    int GetRequestType() const override { return kIPEStreamOutput; }

    FIPERequestStage3 m_Stage3;
    FIPERequestStage4 m_Stage4;
    // Pixel type of the rows: 7, 13 or 15.
    int32_t m_iOutputType = 0;
    int32_t m_iStripRows = 100;
    int32_t m_iStripMargin = 2;
    // Called on an engine thread, one strip at a time; may throw to end the request.
    std::function<void(const FPixmap& rows)> m_WriteRows;
};

class FIPERequestGenerateToneLUT : public FIPERequest
{
public:
    int GetRequestType() const override { return kIPEGenerateToneLUT; }

    double m_dExposure = 0.0;
    double m_dShadow = 0.0;
    double m_dContrast = 0.0;
    double m_dHighlight = 0.0;
    double m_adGain[3] = {1.0, 1.0, 1.0};
    int16_t* m_pToneLUT = nullptr;
};

class FIPERequestCropSizeRotate : public FIPERequest
{
public:
    int GetRequestType() const override { return kIPECropSizeRotate; }

    FPixmap_Display* m_pInImage = nullptr;
    int32_t m_iOutCols = 0;
    int32_t m_iOutRows = 0;
    FRect m_rCrop;
    int32_t m_iRotation = 0;
    FPixmap_Display* m_pOutImage = nullptr;
};

class FIPERequestRotate : public FIPERequest
{
public:
    int GetRequestType() const override { return kIPERotate; }

    FPixmap_Display* m_pInImage = nullptr;
    int32_t m_iAngle = 0;
    // Display, 24-bit RGB or 48-bit RGB.
    FPixmap* m_pOutImage = nullptr;
};

class FPropList;

// Values stage 2 derives from the image itself during its set-up. They are taken once, from
// the image as stage 1 left it, and kept here so that a continued request uses the same
// values instead of measuring its own half-processed image again. The creator saves and
// restores this record with the resume state.
struct FIPEStage2Carry {
    uint8_t m_bValid = 0;
    double m_adDrift[12] = {}; // top slope, top level, bottom slope, bottom level
    double m_adNeutral[3] = {};
    uint8_t m_bNeutralValid = 0;
};

class FIPERequestStage2 : public FIPERequest
{
public:
    int GetRequestType() const override { return kIPEStage2; }

    FPixmap48SRGB* m_pStage1Image = nullptr;
    FPixmap48SRGB* m_pStage2PreMatImage = nullptr;
    const FPropList* m_pCaptureProps = nullptr;
    int32_t m_iExposureTime = 0; // microseconds
    double m_dAperture = 0.0;
    const FCamdata* m_pCambData = nullptr;
    FPixmap48SRGB* m_pTempData = nullptr;
    double m_dISO = 100.0;
    double m_adInputNeutral[3] = {-1.0, -1.0, -1.0};
    FPixmap16SMono* m_pRtnxImage = nullptr;
    // Results.
    double m_adAutoSettings[5] = {};
    double m_dRetinex = 0.0;
    double m_adOutputNeutral[3] = {1.0, 1.0, 1.0};
    int32_t m_iColorSpace = 2;
    FWideString m_usWhiteBalance;
    uint8_t m_bDumpStages = 0;
    FWideString m_usDumpBase;
    int32_t m_aiSaturationLevel[3] = {0, 0, 0};
    int32_t m_aiDarkShieldLevel[3] = {0, 0, 0};
    uint8_t m_bOlderModel = 0;
    FIPEStage2Carry m_Carry;
    // Told after every step of the sequence whether it did its work (tests and tracing).
    std::function<void(int step, bool ran)> m_StepObserver;
};
