#pragma once

#include "FImageFileList.h"
#include "FUiObject.h"

class FIPManager;
class FIUiMultiLangString;
class FIUiObjectFactory;

// IMAGE_FILE_LIST: a script object that owns a browser list, reads the folder the script
// names, queues thumbnails and carries out the browser's commands, reporting by events.
// It draws nothing.
class FUiImageFileList : public FUiObject
{
public:
    explicit FUiImageFileList(const char* typeName);
    ~FUiImageFileList() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;

    FImageFileList& GetList() { return m_List; }
    int GetThumbSize() const { return m_nThumbSize; }
    const FWideString& GetCurrentFolder() const { return m_usCurrentFolder; }
    // Seconds of folder reading per command or tick: a folder of thousands of files is
    // read over many ticks, never in one.
    static constexpr double kReadBudget = 0.004;
    // The program's first argument, which start-up opens; set by the start hook.
    static void SetStartArgument(const FWideString& argument);

private:
    RelayEvent* priEvent(const char* name) const;
    void priFire(const char* name, void* data = nullptr) const;
    void priFireBool(const char* name, bool value) const;
    void priFireText(const char* name, FWideString text) const;
    void priStart();
    void priShowFolder(const FWideString& url);
    void priReread();
    void priReadFolder();
    void priListRead();
    void priSelectPending();
    void priRequestThumbnails(FThumbnailDone callback);
    void priReannounce();
    void priUpdateEnableEvents();
    void priUpdateFolderInfo();
    void priUpdateSelectionInfo();
    void priMenuEvents();
    void priFireShowFilter();
    void priUpdateImage(const FImageFileListEntry& changed);
    void priAfterSelection(bool stateEvents);
    FWideString priText(FIUiMultiLangString* string, const char* fallback) const;

    static void ThumbnailReady(void* context, FImageFileListEntry* entry);
    static void ThumbnailReadyAfterRead(void* context, FImageFileListEntry* entry);
    static bool ApproveRotate(void* context, FImageFileListEntry* entry);
    static bool ApproveDelete(void* context, FImageFileListEntry* entry);
    static bool AfterImageStep(void* context, FImageFileListEntry* entry);
    static bool AfterDeleteStep(void* context, FImageFileListEntry* entry);

    FIPManager* m_pIpMgr = nullptr;
    FImageFileList m_List;
    FIUiMultiLangString* m_pFStopPrefix = nullptr;
    FIUiMultiLangString* m_pSecondsSuffix = nullptr;
    FIUiMultiLangString* m_pBulbText = nullptr;
    FIUiMultiLangString* m_pSpacer = nullptr;
    int m_nThumbSize = -1;
    FWideString m_usCurrentFolder;
    FWideString m_usSavedFolder;
    // The start argument's image, selected once the read under way has listed it.
    FWideString m_usPendingSelectURL;
    bool m_bUpdateImageEvents = false;
};

bool RegisterImageFileListCreator(FIUiObjectFactory* factory);
