#pragma once

#include <cstdint>
#include <functional>

#include "FAsyncStatus.h"
#include "FRect.h"
#include "FWideString.h"

class FPixmap;
class FPropList;
class FIPMImage;
class FIPManager;

enum FIPManagerRequestKind : int {
    kReqNone = 0,
    kReqProperties = 1,
    kReqPreview = 2,
    kReqProcessed = 3,
    kReqProcAndSave = 4,
    kReqAutoSet = 5,
    kReqModify = 6,
    kReqGetGrayBalance = 7,
    kReqIlluminants = 8,
    kReqLast = kReqIlluminants,
};

// Pixel formats of a produced image.
enum FIPMOutputFormat : int {
    kOutputNone = 0,
    kDisplay = 1, // 32-bit BGRA display pixmap
    kRGB24 = 2,
    kRGB48 = 3,
};

enum FIPMSaveFileType : int {
    kSaveNone = 0,
    kSaveTIFF = 1,
    kSaveJPEG = 2,
};

// Setting-mode codes of the adjustments.
inline constexpr int kSettingModeAutomatic = 962000;
inline constexpr int kSettingModeCustom = 969421;
inline constexpr int kSettingModeAsShot = 974586;

inline constexpr int kDefaultColorSpace = 2;
inline constexpr int kDefaultJPEGQuality = 10;

struct FIPMPoint {
    int x = 0;
    int y = 0;
};

// One job for image processing: what to do, on which file, with which settings, and where
// the answer goes. The sender owns it; from the moment it is sent until its state leaves
// kInProgress it belongs to the managers and must be neither reset nor destroyed.
class FIPManagerRequest
{
public:
    FIPManagerRequest();
    // Releases the output image, if any.
    ~FIPManagerRequest();
    FIPManagerRequest(const FIPManagerRequest&) = delete;
    FIPManagerRequest& operator=(const FIPManagerRequest&) = delete;

    // Ready for the next job. Version, software name, setting mode, setting name and gray
    // point keep their values; progress becomes -1 (not yet started).
    void Reset();

    // {1, 0, 0, 0}
    static void InitParamBlock(int32_t version[4]);

    // Releases the output image the record holds and forgets it.
    void ReleaseOutputImage();

    FWideString m_usFileName;
    int m_eKind = kReqNone;
    int32_t m_aiVersion[4] = {1, 0, 0, 0};
    FWideString m_usSoftwareName;
    int m_iSettingMode = 0;
    FWideString m_usSettingName;
    FAsyncStatus m_Async;
    int m_iOutCols = 0;
    int m_iOutRows = 0;
    FRect m_rCrop;
    int m_eOutputFormat = kOutputNone;
    FPropList* m_pImageProps = nullptr; // "ImageProps", owned
    double m_dExposure = 0.0;
    double m_dShadow = 0.0;
    double m_dContrast = 0.0;
    double m_dHighlight = 0.0;
    double m_dSaturation = 0.0;
    double m_dSharpness = 0.0;
    double m_dFillLight = 0.0;
    double m_adColorAdjust[3] = {0.0, 0.0, 0.0};
    int m_iColorSpace = kDefaultColorSpace;
    double m_adNeutral[3] = {-1.0, -1.0, -1.0};
    FWideString m_usWhiteBalance;
    uint8_t m_bDumpStages = 0;
    FWideString m_usOutputFile;
    int m_eFileType = kSaveNone;
    int m_iJPEGQuality = kDefaultJPEGQuality;
    uint8_t m_bJPEGFlag = 0;
    uint8_t m_bProfileOptional = 1;
    FIPMPoint m_ptGray;
    FWideString m_usCamfile;
    FIPMImage* m_pOutputImage = nullptr; // one reference held
    // Set on a processed request, the rows go here in order from the top (on an engine
    // thread) instead of into an output image; the request then ends without one.
    std::function<void(const FPixmap& rows)> m_WriteRows;
    FIPManager* m_pHandlingManager = nullptr;
    FPropList* m_pIPManagerData = nullptr; // "IPManagerData", owned

private:
    void priResetSettings();
};
