#pragma once

// REVIEW_WIN_MGR: the review window's logic. It shows one image file at a time, feeding the
// display widgets through events, and gets every image from the image-processing bridges by
// request records it keeps at fixed addresses (one bridge for the preview, one for the rest).

#include <cstdint>
#include <memory>
#include <vector>

#include "FUiIpObjectRequest.h"
#include "FUiObject.h"
#include "FUiSaveImageCmd.h"
#include "FWideString.h"
#include "ImageChangeQuery.h"
#include "ProcessingSettings.h"

class FIPManager;
class FIPMImage;
class FIUiObjectFactory;
class FImageFileListEntry;
class FPropList;

// The data of the neighbour probes: the receiver replaces the pointer with its own entry for
// the neighbour, or with null.
struct FImageNeighbourProbe {
    FImageFileListEntry* m_pEntry = nullptr;
};

class FUiReviewWindow : public FUiObject
{
public:
    enum Purpose : int {
        kPreview = 0,
        kIlluminants = 1,
        kAutoSet = 2,
        kProcessed = 3,
        kLoupe = 4,
        kGrayBalance = 5,
        kWhiteBalance = 6,
        kPurposeCount = 7,
    };
    enum EngineState : int {
        kIdle = 0,
        kRunIlluminants = 2,
        kRunAutoSet = 3,
        kRunProcessed = 4,
        kRunLoupe = 5,
        kRunGrayBalance = 6,
        kRunWhiteBalance = 7,
        kClosing = 8,
        kWaitCancels = 9,
    };

    // `pool` (kept, not owned) stands in for the process-wide pool; null takes the pool.
    explicit FUiReviewWindow(const char* typeName, FIPManager* pool = nullptr);
    // Cancels every request in flight and waits, with a bound, for the bridges to answer.
    ~FUiReviewWindow() override;
    FUiReviewWindow(const FUiReviewWindow&) = delete;
    FUiReviewWindow& operator=(const FUiReviewWindow&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;

    // Shutdown: cancel every request in flight; true once none is busy any more. The owner
    // ticks the bridges between calls (they answer only in their own tick).
    bool CancelAll();
    bool IsQuiet() const;
    // Nothing in flight and nothing waiting: the image on screen is the last one asked for.
    bool IsIdle() const;

    int GetEngineState() const { return m_nEngineState; }
    int GetSettingMode() const { return m_nSettingMode; }
    const ProcessingSettings& GetCustomSettings() const { return m_Custom; }
    const ProcessingSettings& GetAutoSettings() const { return m_Auto; }
    const ProcessingSettings& GetFileSettings() const { return m_File; }
    const FImageFileListEntry* GetEntry() const { return m_pEntry.get(); }
    double GetLoupeMag() const { return m_dLoupeMag; }
    // The magnification the loupe applies to the photograph's pixels: the step, raised on an
    // image the view already enlarges.
    double GetLoupeScale() const;
    int GetFittedWidth() const { return m_nFitW; }
    int GetFittedHeight() const { return m_nFitH; }
    // The store-settings permission, evaluated now.
    bool CanStoreSettings() const;

private:
    struct Slot {
        std::unique_ptr<FUiIpObjectFileReq> next;
        std::unique_ptr<FUiIpObjectFileReq> inFlight;
        bool pending = false;
        int nextX = 0, nextY = 0; // the loupe's screen point, kept beside its record
        int flightX = 0, flightY = 0;
    };

    void priFire(const char* event, void* data = nullptr);
    void priFireBool(const char* event, bool value);
    void priFireText(const char* event, const FWideString& text);
    void priFireDouble(const char* event, double value);

    // Engine.
    void priRunEngine();
    bool priRunSlot(int purpose, bool processing);
    void priRunPreview();
    // The record was made for the image on screen, and no other is waiting to replace it.
    bool priIsCurrent(const FUiIpObjectFileReq& record) const;
    void priStartClosing();
    void priOpenNext();
    bool priComplete(int purpose);
    void priCameraCheck();
    void priProcError(int code);
    void priFireRecord(int purpose);
    static void priReset(FUiIpObjectRequest& request);
    bool priAnyBusy() const;

    // Queueing.
    bool priHasSizedEntry() const;
    void priFit();
    void priQueuePreview();
    void priQueueIlluminants();
    void priQueueAutoSet();
    void priQueueProcessed();
    void priQueueOpening();
    void priRequeueAfterChange();
    void priQueueWhiteBalance(const FWideString& name);

    // Showing and navigating.
    void priShowEntry();
    void priPositionEvents();
    void priSwitchTo(const FImageFileListEntry& entry);
    FImageFileListEntry* priProbe(bool next);
    void priGoNeighbour(bool next);
    void priInfoLine(FWideString& line);
    FWideString priTranslateWhiteBalance(const FWideString& name);

    // Commands.
    bool priSettingsMode(double position);
    void priSettingsModeText(const FWideString& text);
    void priSwitchModeSlider(int32_t mode);
    void priSendCheckedMenus();
    void priManualAdjust();
    void priAdjust(double ProcessingSettings::*field, double value);
    void priReply2(const FWideString& name);
    void priRotate(const FWideString& direction);
    void priToggleMark();
    void priToggleLock();
    void priDelete();
    void priErrorAcknowledged();
    void priDeletingImage(const FWideString& url);
    void priUpdateImage(const FImageFileListEntry& other);
    void priSave();
    void priSaveSettings();
    void priStoreSettingsInFile();
    bool priEvaluatePermission();
    void priFireUpdateImage(FImageFileListEntry* entry);
    bool priAskChangeAllowed();
    void priSetGrayBalance(bool on);

    // Loupe and persistence.
    void priNormaliseLoupe();
    void priLoupeText();
    void priNeedLoupe(const double* values);
    void priRestoreState();
    void priStoreState();
    const ProcessingSettings& priCurrentSettings() const;

    FIPManager* m_pPool = nullptr;
    bool m_bOwnPool = false;

    std::unique_ptr<FImageFileListEntry> m_pEntry;
    std::unique_ptr<FImageFileListEntry> m_pNextEntry;
    int m_nImageW = 0, m_nImageH = 0;
    int m_nViewW = 0, m_nViewH = 0;
    int m_nFitW = 0, m_nFitH = 0;
    int m_nShownFitW = 0; // the fit the loupe's text was last made for

    ProcessingSettings m_Defaults, m_File, m_Auto, m_Custom;
    int32_t m_nSettingMode = Q7FSettingMode;
    bool m_bDefaultChecked = false, m_bAutoChecked = false, m_bCustomChecked = false;

    bool m_bAutoReceived = false;
    bool m_bIlluminantsReceived = false;
    bool m_bProcessedShown = false;
    bool m_bLoupeOn = false;
    bool m_bGrayBalanceOn = false;
    bool m_bWarningOn = false;
    bool m_bErrorPending = false;
    bool m_bNoCameraError = false;
    bool m_bNewWorkQueued = false;
    bool m_bUpdatingItself = false;
    bool m_bDeleting = false;
    bool m_bFolderReadOnly = false;
    bool m_bWaitingForCancels = false;
    bool m_bRelock = false;

    int m_nLoupeType = 2;
    double m_dLoupeMag = 1.0, m_dLoupeMin = 1.0, m_dLoupeMax = 4.0;

    FIPMImage* m_pPreviewImage = nullptr;
    FIPMImage* m_pProcessedImage = nullptr;
    FIPMImage* m_pLoupeImage = nullptr;
    double m_adGrayGains[3] = {1.0, 1.0, 1.0};
    std::unique_ptr<FPropList> m_pIlluminants;
    std::vector<FWideString> m_illuminantNames;
    FWideString m_usWhiteBalance;

    FWideString m_usFStop, m_usSeconds, m_usBulb, m_usSpacer;
    FWideString m_aWbStringNames[12];

    Slot m_slots[kPurposeCount];
    int m_nEngineState = kIdle;
};

// Registers "REVIEW_WIN_MGR"; objects made with a null pool use the process pool.
bool RegisterReviewWindowCreator(FIUiObjectFactory* factory, FIPManager* pool = nullptr);
