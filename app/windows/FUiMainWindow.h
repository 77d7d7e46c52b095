#pragma once

// MAIN_WIN_MGR: the logic of the main browser window. It owns the image file list of the
// folder being browsed, turns the script's commands into operations on it and fires the
// events that keep thumbnails, menus, counters and texts current.

#include "FImageFileList.h"
#include "FUiIpObjectRequest.h"
#include "FUiObject.h"
#include "FWideString.h"
#include "ImageChangeQuery.h"

class FIPManager;
class FIUiMultiLangString;
class FIUiObjectFactory;
class FImageFileListEntry;

class FUiMainWindow : public FUiObject
{
public:
    // Events in their order of declaration.
    enum Event : int {
#define RB_MAIN_EVENT(name) name,
#include "FUiMainWindowEvents.inc"
#undef RB_MAIN_EVENT
        kEventCount
    };

    // `manager` (kept, not owned) stands in for the process-wide pool; null takes the pool.
    explicit FUiMainWindow(const char* typeName, FIPManager* manager = nullptr);
    ~FUiMainWindow() override;
    FUiMainWindow(const FUiMainWindow&) = delete;
    FUiMainWindow& operator=(const FUiMainWindow&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;
    // Connects a target to one of the events from code, as a script's EVENT tag would.
    bool AddEventTarget(const FWideString& eventName, const FWideString& message, FIUiRelay* target) override;

    FImageFileList& GetList()
    {
        return m_ImageFileList;
    }
    bool IsCameraMode() const
    {
        return m_bCameraMode;
    }
    int GetThumbnailSize() const
    {
        return m_nThumbnailSize;
    }
    const FWideString& GetDirectoryURL() const
    {
        return m_usDirectoryURL;
    }
    // Open the given image in review once the list is idle.
    void SetPendingReview(const FWideString& url)
    {
        m_usPendingReviewURL = url;
    }

    static const char* EventName(Event event);

    // Seconds of folder reading per command or tick: a large folder is read across ticks.
    static constexpr double kReadBudget = 0.004;
    double m_dReadBudget = kReadBudget;

private:
    bool priDispatch(const FWideString& message, void* data);
    bool priPanelCommand(const FWideString& message);
    bool priFire(Event event, void* data = nullptr);
    void priFireBool(Event event, bool value);
    void priFireText(Event event, const FWideString& text);
    void priFireInt(Event event, int value);

    void priUpdateState();
    void priUpdateFolderTexts();
    void priUpdateImageInfo();
    void priStatusTexts();
    FWideString priWord(FIUiMultiLangString* string, const char* fallback) const;
    void priMenuState();
    void priRefreshVisible();
    void priRequestThumbnails(bool afterRead);
    void priFillList();
    void priListRead();
    // False when no read is under way.
    bool priReadSlice(double budgetSeconds);
    void priShowFolder(const FWideString& url);
    bool priSelectionCommand(const FWideString& message, void* data);
    bool priSettingsCommand(const FWideString& message, void* data);
    bool priBatchCommand(const FWideString& message, void* data);
    void priUpdateImage(FImageFileListEntry* given);
    void priStartUp();
    // Opens a path given to a start of the program: a folder, or an image (selected, then
    // reviewed at once when a second start handed it over). False, with a notice, for a path
    // that names nothing, and for another kind of file when handed over.
    bool priOpenPath(const FWideString& nativePath, bool reviewAtOnce);
    // Selects the image once its folder is read, then reviews it at once or when idle.
    void priSelectWhenRead(const FWideString& url, bool reviewAtOnce);
    void priTellUnwritten();
    void priSelectPending();
    void priCopyFile(const FWideString& source, const FWideString& destination);
    bool priReply2(FImageFileListEntry* entry, const FWideString& name);
    bool priCameraCommand(const FWideString& message, void* data);
    void priShowComputerImages();
    void priSelectCamera();
    void priCheckCameraImages();
    FWideString priCameraFolder() const;
    void priReadState();
    void priWriteState();
    void priReadDisplayString(FPropList* tag, const char* key, FIUiMultiLangString*& target);
    void priPiece(FIUiMultiLangString* string, const char* fallback, FWideString& out) const;

    static bool priPerImageRefresh(void* context, FImageFileListEntry* entry);
    static void priVisibleRefreshOne(void* context, FImageFileListEntry* entry);
    static void priThumbnailArrived(void* context, FImageFileListEntry* entry);
    static void priThumbnailAfterRead(void* context, FImageFileListEntry* entry);
    static bool priRotateAllowed(void* context, FImageFileListEntry* entry);
    static bool priDeletedFile(void* context, FImageFileListEntry* entry);
    static bool priAfterDelete(void* context, FImageFileListEntry* entry);

    FIPManager* m_pIpMgr = nullptr;
    bool m_bHoldsPool = false;
    FUiIpObjectCopyReq m_CopyReq;
    FImageFileList m_ImageFileList;
    FIUiMultiLangString* m_pFStopPrefix = nullptr;
    FIUiMultiLangString* m_pSecondsSuffix = nullptr;
    FIUiMultiLangString* m_pBulbText = nullptr;
    FIUiMultiLangString* m_pSpacer = nullptr;
    // Words of the status bar's texts.
    FIUiMultiLangString* m_pImageWord = nullptr;
    FIUiMultiLangString* m_pImagesWord = nullptr;
    FIUiMultiLangString* m_pOnCameraWord = nullptr;
    FIUiMultiLangString* m_pShownWord = nullptr;
    FIUiMultiLangString* m_pSelectedWord = nullptr;
    bool m_bInfoWindowVisible = false;
    bool m_bAdjustmentPaletteVisible = false;
    bool m_bModeSectionVisible = false;
    bool m_bSlidersSectionVisible = false;
    bool m_bWheelSectionVisible = false;
    bool m_bHistogramSectionVisible = false;
    bool m_bCameraMode = false;
    bool m_bAutoLaunch = false;
    int m_nThumbnailSize = -1;
    bool m_bCameraHasImages = false;
    unsigned m_uLastCardUsed = 0;
    FWideString m_usDirectoryURL;
    FWideString m_usStartURL;
    FWideString m_usPendingReviewURL;
    FWideString m_usPendingSelectURL;
    bool m_bReviewWhenRead = false;
    bool m_bCameraConnected = false;
    bool m_bCardPresent = false;
    FWideString m_usCameraURL;
    bool m_bUpdateImages = false;
    FIUiRelay* m_pInfoWinMgr = nullptr;
    bool m_bLanguageListener = false;
    // The shown folder's write test, made once per folder read: it creates a file, far too
    // slow for the state update that every arriving thumbnail runs.
    FWideString m_usReadOnlyTestedURL;
    bool m_bDirReadOnly = false;

    RelayEvent* m_apEvents[kEventCount] = {};
};

// Registers MAIN_WIN_MGR. Objects it makes use `manager` (kept, not owned) in place of the
// process-wide pool when it is not null.
bool RegisterMainWindowCreator(FIUiObjectFactory* factory, FIPManager* manager = nullptr);
