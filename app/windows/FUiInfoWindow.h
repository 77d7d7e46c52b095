#pragma once

// INFO_WIN_MGR: turns one image's properties into the information window's
// lines, each sent through its own event, with the next line's label asked of
// the script; keeps a tab-separated copy for the clipboard.

#include <array>

#include "FUiObject.h"
#include "FUiPoolHolder.h"
#include "FWideString.h"

class FIPManager;
class FIUiMultiLangString;
class FIUiObjectFactory;
class FImageFileListEntry;

class FUiInfoWindow : public FUiObject
{
public:
    // `pool` (kept, not owned) stands in for the process pool in tests.
    explicit FUiInfoWindow(const char* typeName, FIPManager* pool = nullptr);
    ~FUiInfoWindow() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    const FWideString& GetClipboardText() const { return m_usClipboard; }
    int GetDisplayState() const { return m_nState; }

    enum StringId : int {
        kUnavailable,
        kSpacer,
        kProgramExp,
        kShutterExp,
        kApertureExp,
        kManualExp,
        kBit,
        kCustom,
        kModified,
        kAutoWB,
        kSunlightWB,
        kDaylightWB,
        kShadeWB,
        kOvercastWB,
        kCloudyWB,
        kIncandescentWB,
        kTungstenWB,
        kFluorescentWB,
        kFlashWB,
        kCustomWB,
        kMonochromeWB,
        kFlashOn,
        kFlashOff,
        kFlashRedEye,
        kMetering8Seg,
        kMeteringAverage,
        kMeteringCenter,
        kFocusSingle,
        kFocusContinuous,
        kFocusManual,
        kResHigh,
        kResMed,
        kResLow,
        kDriveSingle,
        kDriveContinuous,
        kDriveSelfTimer,
        kDriveMirror,
        kFStopPrefix,
        kSecondsPostfix,
        kBulb,
        kCamera,
        kFileName,
        kAdjDefault,
        kAdjAuto,
        kAdjCustom,
        kSavedSettings,
        kDigitized,
        kNoProcInfo,
        kSaveSRGB,
        kSaveAdobeRGB,
        kSaveAppleRGB,
        kSaveColorMatchRGB,
        kStringCount
    };

private:
    void priShowEntry(const FImageFileListEntry* entry);
    void priShowNoImage();
    void priFormat();
    void priProcessingSection();
    void priAddLine(const FWideString& label, const FWideString& value);
    void priFire(int event, void* data);
    // Fires the label event with the label string, which the receiver may replace.
    void priAskLabel(int event);
    // The string's text in the current language, or null.
    const FWideString* priText(StringId id) const;
    FWideString priTextOr(StringId id, const char* fallback) const;
    FWideString priOrUnavailable(const FWideString& value) const;
    FWideString priReplace(const FWideString& value, const char* const* raws, const StringId* ids,
                           int count) const;
    FWideString priTranslateWB(const FWideString& name) const;
    bool priUnrecognised(const FWideString& message);

    int m_nState = 3;
    FUiPoolHolder m_pool;
    int m_nThumbSize = 0;
    FImageFileListEntry* m_pEntry = nullptr;
    FWideString m_usClipboard;
    bool m_bObeyMulti = false;
    bool m_bListening = false;
    std::array<FIUiMultiLangString*, kStringCount> m_strings{};
    std::array<RelayEvent*, 89> m_events{};
    // Display-time state of one formatting pass.
    FWideString m_usLabel;
    FWideString m_usUnavailable;
    FWideString m_usSpacer;
    FWideString m_usSeparator;
    FWideString m_usColonSeparator;
};

bool RegisterInfoWindowManager(FIUiObjectFactory* factory);
