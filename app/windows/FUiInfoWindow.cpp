#include "FUiInfoWindow.h"

#include <cstdio>
#include <iterator>
#include <vector>

#include "ColorCompensation.h"
#include "FDebugTrace.h"
#include "FDisplayBlit.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FUiManagerCreator.h"
#include "FUiMultiLangString.h"
#include "LocalNumbers.h"
#include "RelayEvent.h"
#include "StorageClassRegistry.h"

namespace
{

// The events in their declared order; the enum below indexes them.
constexpr const char* kEventNames[] = {
    "ON_NEW_WINDOW_TITLE_POSTFIX",
    "ON_IS_Q7F_FILE",
    "ON_IS_NOT_Q7F_FILE",
    "ON_NO_IMAGES",
    "ON_ONE_IMAGE",
    "ON_MULTI_IMAGES",
    "ON_IMAGE_ERROR",
    "ON_EXPOSURE_MODE",
    "ON_EXPOSURE_COMP",
    "ON_SHUTTER",
    "ON_APERTURE",
    "ON_METERING",
    "ON_METERING_INDEX",
    "ON_FOCAL_LEN",
    "ON_ISO",
    "ON_WHITE_BALANCE",
    "ON_IMAGE_RESOLUTION",
    "ON_IMAGE_RESOLUTION_INDEX",
    "ON_AUTO_FOCUS",
    "ON_FIRMWARE_VERSION",
    "ON_CAMERA_SERIAL_NO",
    "ON_SHOOTING_MODE",
    "ON_NEW_THUMBNAIL",
    "ON_NEW_IMAGE",
    "ON_NEW_IMAGE_NAME",
    "ON_NEW_IMAGE_TYPE",
    "ON_NEW_IMAGE_PATH",
    "ON_NEW_IMAGE_RES",
    "ON_NEW_IMAGE_SIZE",
    "ON_NEW_IMAGE_LOCK",
    "ON_NEW_IMAGE_MARK",
    "ON_NEW_IMAGE_XFER",
    "ON_REMOVE_ALL_THUMBNAILS",
    "ON_CAPTURE_DATE",
    "ON_CAPTURE_TIME",
    "ON_FLASH_SETTING",
    "ON_GET_Q7F_EXPOSURE_SETTING_LABEL",
    "ON_Q7F_EXPOSURE_SETTING",
    "ON_GET_Q7F_CONTRAST_SETTING_LABEL",
    "ON_Q7F_CONTRAST_SETTING",
    "ON_GET_Q7F_SHADOW_SETTING_LABEL",
    "ON_Q7F_SHADOW_SETTING",
    "ON_GET_Q7F_HIGHLIGHT_SETTING_LABEL",
    "ON_Q7F_HIGHLIGHT_SETTING",
    "ON_GET_Q7F_SATURATION_SETTING_LABEL",
    "ON_Q7F_SATURATION_SETTING",
    "ON_GET_Q7F_SHARPNESS_SETTING_LABEL",
    "ON_Q7F_SHARPNESS_SETTING",
    "ON_GET_Q7F_RETINEX_SETTING_LABEL",
    "ON_Q7F_RETINEX_SETTING",
    "ON_GET_Q7F_COLOR_ADJ_SETTING_LABEL",
    "ON_Q7F_COLOR_ADJ_SETTING",
    "ON_GET_Q7F_ADJ_MODE_SETTING_LABEL",
    "ON_Q7F_ADJ_MODE_SETTING",
    "ON_GET_Q7F_SW_VERSION_LABEL",
    "ON_Q7F_SW_VERSION",
    "ON_GET_COLOR_SPACE_LABEL",
    "ON_COLOR_SPACE",
    "ON_SET_PROC_SETTING_SUMMARY",
    "ON_GET_EXIF_MODIFIED_DATE_LABEL",
    "ON_EXIF_MODIFIED_DATE",
    "ON_EXIF_MODIFIED_TIME",
    "ON_GET_EXIF_RENDER_SW_LABEL",
    "ON_EXIF_RENDER_SW",
    "ON_GET_QUALITY_LABEL",
    "ON_QUALITY",
    "ON_GET_IMAGE_FILENAME_LABEL",
    "ON_GET_IMAGE_TYPE_LABEL",
    "ON_GET_IMAGE_DIR_LABEL",
    "ON_GET_IMAGE_RES_LABEL",
    "ON_GET_IMAGE_FILE_SIZE_LABEL",
    "ON_GET_IMAGE_CAPTURE_DATE_LABEL",
    "ON_GET_IMAGE_CAPTURE_TIME_LABEL",
    "ON_GET_EXPOSURE_MODE_LABEL",
    "ON_GET_EXPOSURE_COMP_LABEL",
    "ON_GET_ISO_LABEL",
    "ON_GET_WHITE_BAL_LABEL",
    "ON_GET_FLASH_LABEL",
    "ON_GET_SHUTTER_SPEED_LABEL",
    "ON_GET_F-STOP_LABEL",
    "ON_GET_METERING_MODE_LABEL",
    "ON_GET_AUTO_FOCUS_LABEL",
    "ON_GET_FOCAL_LENGTH_LABEL",
    "ON_GET_CAPTURE_RES_LABEL",
    "ON_GET_SHOOTING_MODE_LABEL",
    "ON_GET_CAMERA_SERIAL_NO_LABEL",
    "ON_GET_FIRMWARE_VER_LABEL",
    "ON_GET_UNIQUE_ID_LABEL",
    "ON_UNIQUE_ID",
};
static_assert(std::size(kEventNames) == 89);

enum Event : int {
    eTitlePostfix,
    eIsRaw,
    eIsNotRaw,
    eNoImages,
    eOneImage,
    eMultiImages,
    eImageError,
    eExposureMode,
    eExposureComp,
    eShutter,
    eAperture,
    eMetering,
    eMeteringIndex,
    eFocalLen,
    eIso,
    eWhiteBalance,
    eResolution,
    eResolutionIndex,
    eAutoFocus,
    eFirmware,
    eSerial,
    eShootingMode,
    eNewThumbnail,
    eNewImage,
    eName,
    eType,
    ePath,
    eRes,
    eSize,
    eLock,
    eMark,
    eXfer,
    eRemoveThumbnails,
    eCaptureDate,
    eCaptureTime,
    eFlash,
    eExposureLabel,
    eExposureValue,
    eContrastLabel,
    eContrastValue,
    eShadowLabel,
    eShadowValue,
    eHighlightLabel,
    eHighlightValue,
    eSaturationLabel,
    eSaturationValue,
    eSharpnessLabel,
    eSharpnessValue,
    eRetinexLabel,
    eRetinexValue,
    eColorAdjLabel,
    eColorAdjValue,
    eAdjModeLabel,
    eAdjModeValue,
    eSwVersionLabel,
    eSwVersion,
    eColorSpaceLabel,
    eColorSpace,
    eSummary,
    eExifDateLabel,
    eExifDate,
    eExifTime,
    eRenderSwLabel,
    eRenderSw,
    eQualityLabel,
    eQuality,
    eFileNameLabel,
    eTypeLabel,
    eDirLabel,
    eResLabel,
    eSizeLabel,
    eCaptureDateLabel,
    eCaptureTimeLabel,
    eExposureModeLabel,
    eExposureCompLabel,
    eIsoLabel,
    eWhiteBalLabel,
    eFlashLabel,
    eShutterLabel,
    eFStopLabel,
    eMeteringLabel,
    eAutoFocusLabel,
    eFocalLengthLabel,
    eCaptureResLabel,
    eShootingModeLabel,
    eSerialLabel,
    eFirmwareLabel,
    eUniqueIdLabel,
    eUniqueId,
};

// Script keys of the strings, in StringId order.
constexpr const char* kStringKeys[] = {
    "UnavailableString",
    "SpacerString",
    "ProgramExpModeString",
    "ShutterExpModeString",
    "ApertureExpModeString",
    "ManualExpModeString",
    "InfoWinBitString",
    "InfoWinCustomString",
    "InfoWinModifiedString",
    "AutoWBString",
    "SunlightWBString",
    "DaylightWBString",
    "ShadeWBString",
    "OvercastWBString",
    "CloudyWBString",
    "IncandescentWBString",
    "TungstenWBString",
    "FluorescentWBString",
    "FlashWBString",
    "CustomWBString",
    "MonochromeWBString",
    "FlashOnString",
    "FlashOffString",
    "FlashRedEyeString",
    "8SegMeteringModeString",
    "AverageMeteringModeString",
    "CenterAreaMeteringModeString",
    "AutoFocusSingleString",
    "AutoFocusContinuousString",
    "AutoFocusManualString",
    "ResHighString",
    "ResMedString",
    "ResLowString",
    "SingleFrameDriveModeString",
    "ContinuousDriveModeString",
    "SelfTimerDriveModeString",
    "MirrorLockUpDriveModeString",
    "FStopPrefixString",
    "SecondsPostFixString",
    "BulbModeFixString",
    "CameraString",
    "InfoWinFileName",
    "AdjModeDefaultString",
    "AdjModeAutoString",
    "AdjModeCustomString",
    "SavedQ7FSettingsString",
    "DigitzedString",
    "NoProcInfoString",
    "SaveImagesAssRGB",
    "SaveImagesAsAdobeRGB",
    "SaveImagesAsAppleRGB",
    "SaveImagesAsColorMatchRGB",
};
static_assert(std::size(kStringKeys) == FUiInfoWindow::kStringCount);

using S = FUiInfoWindow::StringId;

constexpr double kAbsentAdjustment = -999.9;

// The entry marks an absent property with one blank; an empty text is as absent.
bool IsBlank(const FWideString& text)
{
    return text.IsEmpty() || text == " ";
}

FWideString Printf(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return FWideString(text);
}

FWideString Join(std::initializer_list<const FWideString*> parts)
{
    FWideString out;
    for (const FWideString* part : parts)
        out += *part;
    return out;
}

} // namespace

FUiInfoWindow::FUiInfoWindow(const char* typeName, FIPManager* pool) : FUiObject(typeName), m_pool(pool)
{
    for (size_t i = 0; i < std::size(kEventNames); ++i)
        m_events[i] = AddEvent(FWideString(kEventNames[i]));
}

FUiInfoWindow::~FUiInfoWindow()
{
    delete m_pEntry;
}

bool FUiInfoWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    if (app) {
        FWideString language;
        m_bListening = app->AddLanguageListener(this, language);
    }
    if (tag) {
        m_nThumbSize = tag->GetInt(FWideString("_ThumbnailSize"), 0);
        for (int i = 0; i < kStringCount; ++i) {
            const FWideString name = tag->GetString(FWideString(kStringKeys[i]), FWideString());
            m_strings[i] = (app && !name.IsEmpty()) ? app->GetDisplayString(name) : nullptr;
        }
    }
    return true;
}

bool FUiInfoWindow::priUnrecognised(const FWideString& message)
{
    FWideString name;
    GetName(name);
    DebugTrace(">>> %s was sent unrecognised msg='%s'\n", Utf8FromWide(name).c_str(),
               Utf8FromWide(message).c_str());
    return false;
}

bool FUiInfoWindow::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization")
        return true;
    if (message == "we're goin' bye-bye") {
        if (m_bListening && GetApp())
            GetApp()->RemoveLanguageListener(this);
        m_bListening = false;
        return true;
    }
    if (message == "Set Language" && data) {
        if (m_pEntry)
            priShowEntry(m_pEntry);
        else
            priShowNoImage();
        return true;
    }
    if (message == "ThumbnailSize" && data) {
        m_nThumbSize = *static_cast<int*>(data);
        return true;
    }
    if (message == "ShowImageInfo" && data && m_nThumbSize != 0) {
        priShowEntry(static_cast<const FImageFileListEntry*>(data));
        return true;
    }
    if (message == "NoImage") {
        if (m_bObeyMulti)
            priShowNoImage();
        return true;
    }
    if (message == "MultipleImages") {
        if (m_bObeyMulti && m_nState != 2) {
            FWideString empty;
            priFire(eTitlePostfix, &empty);
            m_nState = 2;
            priFire(eMultiImages, nullptr);
        }
        return true;
    }
    if (message == "CopyToClipboard") {
        if (GetApp())
            GetApp()->CopyTextToClipboard(m_usClipboard, GetWindow());
        return true;
    }
    if (message == "UpdateImage" && data) {
        const auto* entry = static_cast<const FImageFileListEntry*>(data);
        if (m_pEntry && EqualsNoCase(m_pEntry->m_usURL, entry->m_usURL))
            priShowEntry(entry);
        return true;
    }
    if (message == "ObeyMultiImagesMsgs") {
        m_bObeyMulti = true;
        return true;
    }
    return priUnrecognised(message);
}

void FUiInfoWindow::priFire(int event, void* data)
{
    m_events[event]->Fire(data);
}

void FUiInfoWindow::priAskLabel(int event)
{
    m_events[event]->Fire(&m_usLabel);
}

const FWideString* FUiInfoWindow::priText(StringId id) const
{
    FIUiMultiLangString* string = m_strings[id];
    return string ? string->GetText() : nullptr;
}

FWideString FUiInfoWindow::priTextOr(StringId id, const char* fallback) const
{
    const FWideString* text = priText(id);
    return text ? *text : FWideString(fallback);
}

FWideString FUiInfoWindow::priOrUnavailable(const FWideString& value) const
{
    return IsBlank(value) ? m_usUnavailable : value;
}

FWideString FUiInfoWindow::priReplace(const FWideString& value, const char* const* raws, const StringId* ids,
                                      int count) const
{
    for (int i = 0; i < count; ++i) {
        if (value == raws[i]) {
            const FWideString* text = priText(ids[i]);
            return text ? *text : value;
        }
    }
    return value;
}

FWideString FUiInfoWindow::priTranslateWB(const FWideString& name) const
{
    static const char* const kNames[] = {"Auto",        "Sunlight", "Daylight",     "Shade",
                                         "Overcast",    "Cloudy",   "Incandescent", "Tungsten",
                                         "Fluorescent", "Flash",    "Custom",       "Monochrome"};
    static const StringId kIds[] = {S::kAutoWB,        S::kSunlightWB, S::kDaylightWB,     S::kShadeWB,
                                    S::kOvercastWB,    S::kCloudyWB,   S::kIncandescentWB, S::kTungstenWB,
                                    S::kFluorescentWB, S::kFlashWB,    S::kCustomWB,       S::kMonochromeWB};
    return priReplace(name, kNames, kIds, static_cast<int>(std::size(kNames)));
}

void FUiInfoWindow::priAddLine(const FWideString& label, const FWideString& value)
{
    m_usClipboard += label;
    m_usClipboard += u"\t";
    m_usClipboard += value;
    m_usClipboard += u"\r\n";
}

void FUiInfoWindow::priShowNoImage()
{
    FWideString empty;
    priFire(eTitlePostfix, &empty);
    if (m_nState != 0) {
        m_nState = 0;
        priFire(eNoImages, nullptr);
    }
}

void FUiInfoWindow::priShowEntry(const FImageFileListEntry* entry)
{
    FWideString title(" - ");
    title += entry->m_usFileName;
    priFire(eTitlePostfix, &title);
    if (m_nState != 1) {
        m_nState = 1;
        priFire(eOneImage, nullptr);
    }
    if (entry != m_pEntry) {
        // Copy first: the given entry may be a copy that the old one shares a thumbnail with.
        auto* copy = new FImageFileListEntry(*entry);
        delete m_pEntry;
        m_pEntry = copy;
    }
    m_pEntry->m_bSelected = false;
    if (m_nThumbSize > 0 && m_pool.Get() &&
        (m_pEntry->m_nThumbReqWidth != m_nThumbSize || m_pEntry->m_nThumbReqHeight != m_nThumbSize)) {
        try {
            m_pEntry->GetIFLEThumbnail(m_pool.Get(), m_nThumbSize, m_nThumbSize);
        } catch (const FException&) {
            DebugTrace("Information window: thumbnail of the image could not be read.\n");
        }
    }
    priFire(eRemoveThumbnails, nullptr);
    priFire(eNewThumbnail, m_pEntry);
    if (FIPMImage* thumb = m_pEntry->m_pThumbnail) {
        FPixmap* source = thumb->GetPixmap();
        const int width = m_pEntry->m_nThumbCols;
        const int height = m_pEntry->m_nThumbRows;
        if (source && width > 0 && height > 0) {
            if (FIUiPixmap* pixmap = CreateUiPixmap(width, height, true)) {
                const FRect rect(0, 0, width, height);
                CopyDisplayPixmapRect(pixmap->GetDisplayPixmap(), &rect, source, &rect);
                priFire(eNewImage, pixmap);
                ReleaseUiPixmap(pixmap);
            }
        }
    }
    priFormat();
}

void FUiInfoWindow::priFormat()
{
    m_usClipboard = FWideString();
    m_usUnavailable = priTextOr(S::kUnavailable, "Unavailable");
    m_usSpacer = priTextOr(S::kSpacer, "  ");
    const bool single = m_usSpacer == " ";
    m_usSeparator = FWideString(single ? " " : "  ");
    m_usColonSeparator = FWideString(single ? ": " : ":  ");
    if (!m_pEntry)
        return;
    const FImageFileListEntry& e = *m_pEntry;
    priFire(e.m_bRaw ? eIsRaw : eIsNotRaw, nullptr);

    // 1 file name
    m_usLabel = priTextOr(S::kFileName, "File Name:");
    FWideString value = e.m_usFileName;
    priAddLine(m_usLabel, value);
    priFire(eName, &value);
    priAskLabel(eTypeLabel);

    // 2 type
    value = e.m_bRaw    ? FWideString("Q7F")
            : e.m_bJpeg ? FWideString("JPEG")
            : e.m_bTiff ? FWideString("TIFF")
                        : m_usUnavailable;
    priAddLine(m_usLabel, value);
    priFire(eType, &value);
    priAskLabel(eResLabel);

    // 3 resolution
    {
        char text[128];
        const double pixels = static_cast<double>(e.m_nCols) * e.m_nRows;
        if (e.m_bRaw) {
            const double v = pixels * 3 * 1e-6;
            std::snprintf(text, sizeof(text), v > 0.95 ? "%3.1f MP (%i%s%i%s3)" : "%04.2f MP (%i%s%i%s3)", v,
                          e.m_nCols, " x ", e.m_nRows, " x ");
        } else {
            const double v = pixels * 1e-6;
            std::snprintf(text, sizeof(text), v > 0.95 ? "%3.1f MP (%i%s%i)" : "%04.2f MP (%i%s%i)", v,
                          e.m_nCols, " x ", e.m_nRows);
        }
        value = FWideString(text);
    }
    UseLocalDecimalMark(GetApp(), value);
    priAddLine(m_usLabel, value);
    priFire(eRes, &value);
    priAskLabel(eSizeLabel);

    // 4 file size
    value.SetByteSize(e.m_nFileSize);
    UseLocalDecimalMark(GetApp(), value);
    priAddLine(m_usLabel, value);
    priFire(eSize, &value);
    priAskLabel(eDirLabel);

    // 5 folder
    {
        std::vector<FWideString> parts;
        SplitURL(e.m_usURL, parts);
        if (!parts.empty() && parts.front().CompareNoCase("camera") == 0) {
            value = priTextOr(S::kCamera, "CAMERA");
        } else {
            if (!parts.empty())
                parts.pop_back();
            FWideString folder;
            JoinURL(parts, folder, true);
            value = FWideString();
            if (!URLToNativePath(folder, value))
                value = folder;
        }
    }
    priAddLine(m_usLabel, value);
    priFire(ePath, &value);
    bool flag = e.m_bLocked;
    priFire(eLock, &flag);
    flag = e.m_bMarked;
    priFire(eMark, &flag);
    flag = e.m_bTransferred;
    priFire(eXfer, &flag);
    priAskLabel(eCaptureDateLabel);

    // 6 capture date and time
    if (IsBlank(e.m_usDate)) {
        value = m_usUnavailable;
        priFire(eCaptureDate, &value);
        // The time shown beside the date is the last image's no longer.
        FWideString none;
        priFire(eCaptureTime, &none);
    } else {
        FWideString date = e.m_usDate;
        FWideString time = e.m_usTime;
        priFire(eCaptureDate, &date);
        priFire(eCaptureTime, &time);
        value = Join({&e.m_usDate, &m_usSeparator, &e.m_usTime});
    }
    priAddLine(m_usLabel, value);
    priAskLabel(eExposureModeLabel);

    // 7 exposure mode
    {
        static const char* const kRaw[] = {"P", "A", "S", "M"};
        static const StringId kIds[] = {S::kProgramExp, S::kApertureExp, S::kShutterExp, S::kManualExp};
        value = priReplace(e.m_usProgramMode, kRaw, kIds, 4);
    }
    priAddLine(m_usLabel, value);
    priFire(eExposureMode, &value);
    priAskLabel(eExposureCompLabel);

    // 8 exposure compensation
    value = priOrUnavailable(e.m_usExposureComp);
    if (!IsBlank(e.m_usExposureComp) && !IsBlank(e.m_usBracket)) {
        value += " (AB ";
        value += e.m_usBracket;
        value += ")";
    }
    UseLocalDecimalMark(GetApp(), value);
    priAddLine(m_usLabel, value);
    priFire(eExposureComp, &value);
    priAskLabel(eIsoLabel);

    // 9 ISO
    value = priOrUnavailable(e.m_usIso);
    priAddLine(m_usLabel, value);
    priFire(eIso, &value);
    priAskLabel(eWhiteBalLabel);

    // 10 white balance
    value = priTranslateWB(e.m_usWhiteBalance);
    if (!(e.m_usOrigWhiteBalance == e.m_usWhiteBalance) && !IsBlank(e.m_usOrigWhiteBalance)) {
        value += " (ex-";
        value += priTranslateWB(e.m_usOrigWhiteBalance);
        value += ")";
    }
    value = priOrUnavailable(value);
    priAddLine(m_usLabel, value);
    priFire(eWhiteBalance, &value);
    priAskLabel(eFlashLabel);

    // 11 flash
    {
        static const char* const kRaw[] = {"ON", "OFF", "REDEYE"};
        static const StringId kIds[] = {S::kFlashOn, S::kFlashOff, S::kFlashRedEye};
        value = priOrUnavailable(priReplace(e.m_usFlash, kRaw, kIds, 3));
    }
    priAddLine(m_usLabel, value);
    priFire(eFlash, &value);
    priAskLabel(eShutterLabel);

    // 12 shutter
    if (e.m_usShutter.Find(FWideString("BULB"))) {
        const FWideString* bulb = priText(S::kBulb);
        value = bulb ? *bulb : e.m_usShutter;
    } else if (IsBlank(e.m_usShutter)) {
        value = m_usUnavailable;
    } else {
        value = e.m_usShutter;
        value += priTextOr(S::kSecondsPostfix, "s");
    }
    UseLocalDecimalMark(GetApp(), value);
    priAddLine(m_usLabel, value);
    priFire(eShutter, &value);
    priAskLabel(eFStopLabel);

    // 13 aperture
    if (IsBlank(e.m_usAperture)) {
        value = m_usUnavailable;
    } else {
        value = priTextOr(S::kFStopPrefix, "f/");
        value += e.m_usAperture;
    }
    UseLocalDecimalMark(GetApp(), value);
    priAddLine(m_usLabel, value);
    priFire(eAperture, &value);
    priAskLabel(eMeteringLabel);

    // 14 metering
    {
        static const char* const kRaw[] = {"8", "A", "C"};
        static const StringId kIds[] = {S::kMetering8Seg, S::kMeteringAverage, S::kMeteringCenter};
        value = priOrUnavailable(priReplace(e.m_usAEMode, kRaw, kIds, 3));
    }
    priAddLine(m_usLabel, value);
    priFire(eMetering, &value);
    int code = e.m_nAEModeCode;
    priFire(eMeteringIndex, &code);
    priAskLabel(eAutoFocusLabel);

    // 15 focus
    {
        static const char* const kRaw[] = {"AF-S", "AF-C", "MF"};
        static const StringId kIds[] = {S::kFocusSingle, S::kFocusContinuous, S::kFocusManual};
        value = priOrUnavailable(priReplace(e.m_usAFMode, kRaw, kIds, 3));
    }
    priAddLine(m_usLabel, value);
    priFire(eAutoFocus, &value);
    priAskLabel(eFocalLengthLabel);

    // 16 focal length
    value = priOrUnavailable(e.m_usFocalLength);
    UseLocalDecimalMark(GetApp(), value);
    priAddLine(m_usLabel, value);
    priFire(eFocalLen, &value);
    priAskLabel(eCaptureResLabel);

    // 17 capture resolution
    {
        static const char* const kRaw[] = {"HI", "MED", "LOW"};
        static const StringId kIds[] = {S::kResHigh, S::kResMed, S::kResLow};
        value = priOrUnavailable(priReplace(e.m_usResolution, kRaw, kIds, 3));
    }
    priAddLine(m_usLabel, value);
    priFire(eResolution, &value);
    code = e.m_nResolutionCode;
    priFire(eResolutionIndex, &code);
    priAskLabel(eShootingModeLabel);

    // 18 drive mode
    {
        static const char* const kRaw[] = {"SINGLE", "MULTI", "2S", "10S", "UP"};
        static const StringId kIds[] = {S::kDriveSingle, S::kDriveContinuous, S::kDriveSelfTimer,
                                        S::kDriveSelfTimer, S::kDriveMirror};
        value = priOrUnavailable(priReplace(e.m_usDriveMode, kRaw, kIds, 5));
    }
    priAddLine(m_usLabel, value);
    priFire(eShootingMode, &value);
    priAskLabel(eSerialLabel);

    // 19 camera and serial number
    if (!IsBlank(e.m_usCameraName)) {
        value = e.m_usCameraName;
        value += " ";
        value += e.m_usCameraSerial;
    } else {
        value = e.m_usCameraSerial;
    }
    value = priOrUnavailable(value);
    priAddLine(m_usLabel, value);
    priFire(eSerial, &value);
    priAskLabel(eFirmwareLabel);

    // 20 firmware
    value = priOrUnavailable(e.m_usFirmware);
    priAddLine(m_usLabel, value);
    priFire(eFirmware, &value);
    priAskLabel(eUniqueIdLabel);

    // 21 unique id
    value = priOrUnavailable(e.m_usUniqueID);
    priAddLine(m_usLabel, value);
    priFire(eUniqueId, &value);

    priProcessingSection();
}

void FUiInfoWindow::priProcessingSection()
{
    const FImageFileListEntry& e = *m_pEntry;
    bool withLines = false;
    FWideString summary;
    const FWideString modified = priTextOr(S::kModified, "Modified");
    FWideString softwareSuffix;
    if (!IsBlank(e.m_usSoftware))
        softwareSuffix = Join({&m_usSpacer, &e.m_usSoftware});
    const FWideString exifStamp = Join({&e.m_usExifDate, &m_usSeparator, &e.m_usExifTime, &softwareSuffix});

    if (e.m_bRaw) {
        summary = priTextOr(S::kSavedSettings, "Saved Q7F Settings");
        m_usLabel = summary;
        m_usLabel += ":";
        priAddLine(m_usLabel, FWideString(" "));
        withLines = true;
    } else if (IsBlank(e.m_usDigitizedTime) ||
               (e.m_usDate == e.m_usDigitizedDate && e.m_usTime == e.m_usDigitizedTime)) {
        summary = priTextOr(S::kNoProcInfo, "Processing Information Unavailable");
        if (!IsBlank(e.m_usExifDate))
            summary = Join({&modified, &m_usSpacer, &exifStamp});
    } else if (!IsBlank(e.m_usSettingMode)) {
        withLines = true;
        if (const FWideString* digitized = priText(S::kDigitized))
            m_usLabel = *digitized;
        const FWideString value = Join({&e.m_usDigitizedDate, &m_usSeparator, &e.m_usDigitizedTime});
        priAddLine(m_usLabel, value);
        summary = Join({&m_usLabel, &m_usSpacer, &value});
        if ((!IsBlank(e.m_usExifDate) && !(e.m_usExifDate == e.m_usDigitizedDate)) ||
            !(e.m_usExifTime == e.m_usDigitizedTime)) {
            m_usLabel = modified;
            summary += m_usSpacer;
            summary += "+";
            summary += m_usSpacer;
            summary += exifStamp;
            priAddLine(m_usLabel, exifStamp);
        }
    } else if (!IsBlank(e.m_usExifDate)) {
        m_usLabel = modified;
        summary = Join({&m_usLabel, &m_usSpacer, &exifStamp});
        priAddLine(m_usLabel, exifStamp);
    } else {
        // Converted elsewhere, with no record of how: say so.
        summary = priTextOr(S::kNoProcInfo, "Processing Information Unavailable");
    }
    priFire(eSummary, &summary);
    if (withLines)
        priAskLabel(eExposureLabel);

    const ProcessingSettings& s = e.m_Settings;
    const double adjustments[] = {s.Exposure,   s.Contrast,  s.Blackness, s.Highlight,
                                  s.Saturation, s.Sharpness, s.Retinex};
    const int valueEvents[] = {eExposureValue,   eContrastValue,  eShadowValue, eHighlightValue,
                               eSaturationValue, eSharpnessValue, eRetinexValue};
    const int nextLabels[] = {eContrastLabel,  eShadowLabel,  eHighlightLabel, eSaturationLabel,
                              eSharpnessLabel, eRetinexLabel, eColorAdjLabel};
    FWideString value;
    for (size_t i = 0; i < std::size(adjustments); ++i) {
        value = adjustments[i] == kAbsentAdjustment ? m_usUnavailable : Printf("%+1.1f", adjustments[i]);
        UseLocalDecimalMark(GetApp(), value);
        if (withLines)
            priAddLine(m_usLabel, value);
        priFire(valueEvents[i], &value);
        priAskLabel(nextLabels[i]);
    }

    if (s.ColorAdjustR == kAbsentAdjustment && s.ColorAdjustG == kAbsentAdjustment &&
        s.ColorAdjustB == kAbsentAdjustment)
        value = m_usUnavailable;
    else
        value = FWideString(RGBGainsToCCString(s.ColorAdjustR, s.ColorAdjustG, s.ColorAdjustB).c_str());
    if (withLines)
        priAddLine(m_usLabel, value);
    priFire(eColorAdjValue, &value);

    // Colour space
    if (e.m_bRaw) {
        value = FWideString("  ");
    } else {
        priAskLabel(eColorSpaceLabel);
        static const char* const kSpaces[] = {"sRGB",       "AdobeRGB",    "AppleRGB",       "EbuRGB",
                                              "Corbis RGB", "SMPTE-C RGB", "ColorMatch RGB", "WideGamut RGB",
                                              "BruceRGB",   "ROMM RGB"};
        value = (e.m_nColorSpace >= 2 && e.m_nColorSpace <= 11) ? FWideString(kSpaces[e.m_nColorSpace - 2])
                                                                : m_usUnavailable;
        if (withLines)
            priAddLine(m_usLabel, value);
    }
    priFire(eColorSpace, &value);

    // Quality
    if (e.m_bRaw) {
        value = FWideString("  ");
    } else {
        m_usLabel = FWideString("Quality:");
        priAskLabel(eQualityLabel);
        const FWideString bit = priTextOr(S::kBit, "bit");
        if (IsBlank(e.m_usQuality)) {
            value = m_usUnavailable;
        } else if (e.m_usQuality == "24") {
            value = FWideString("8 ");
            value += bit;
        } else if (e.m_usQuality == "48") {
            value = FWideString("16 ");
            value += bit;
        } else {
            value = e.m_usQuality;
        }
        if (withLines)
            priAddLine(m_usLabel, value);
    }
    priFire(eQuality, &value);

    // Adjustment mode
    if (e.m_bRaw) {
        value = FWideString("  ");
    } else {
        priAskLabel(eAdjModeLabel);
        const FWideString& mode = e.m_usSettingMode;
        if (IsBlank(mode)) {
            value = m_usUnavailable;
        } else if (mode == "Q7F") {
            value = mode;
        } else if (mode == "Default" || mode == "Auto" || mode == "Custom") {
            static const char* const kRaw[] = {"Default", "Auto", "Custom"};
            static const StringId kIds[] = {S::kAdjDefault, S::kAdjAuto, S::kAdjCustom};
            value = priReplace(mode, kRaw, kIds, 3);
        } else {
            FWideString head;
            FWideString rest;
            const FWideString* custom = priText(S::kCustom);
            if (custom && mode.Split(u" ", head, rest))
                value = Join({custom, &m_usColonSeparator, &rest});
            else
                value = mode;
        }
        if (withLines)
            priAddLine(m_usLabel, value);
    }
    priFire(eAdjModeValue, &value);
}

bool RegisterInfoWindowManager(FIUiObjectFactory* factory)
{
    return RegisterUiManager<FUiInfoWindow>(factory, "INFO_WIN_MGR");
}
