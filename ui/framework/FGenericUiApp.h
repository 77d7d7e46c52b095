#pragma once

#include <memory>
#include <vector>

#include "FIOsUiApp.h"
#include "FIUiApp.h"
#include "FUiTextRegistry.h"
#include "RelayEvent.h"

class FIUiObject;
class FUiWindowClass;

// The portable application: builds the run from the script, resolves relay
// names, carries out the application commands, keeps the state file, the
// languages and the modal stack.
class FGenericUiApp : public FIUiApp, public FIOsUiAppOwner
{
public:
    FGenericUiApp();
    ~FGenericUiApp() override;
    FGenericUiApp(const FGenericUiApp&) = delete;
    FGenericUiApp& operator=(const FGenericUiApp&) = delete;

    // FIOsObject
    void* GetOsInfo(int kind) override;
    bool SetOsInfo(int kind, void* value) override;

    // FIUiRelay
    bool InitRelay(FPropList* tag) override { return ReadAppSettings(tag); }
    void GetName(FWideString& name) override { name = m_usName; }
    void GetFullName(FWideString& name) override { name = m_usName; }
    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return true; }

    // FIUiApp
    FIUiObjectFactory* GetUiObjectFactory() override { return m_pFactory.get(); }
    bool InitFromScript(FIFolder* scriptFolder, const FWideString& fileName, bool& anotherInstance) override;
    bool Run(bool anotherInstance) override;
    FIUiPixmap* LoadUiPixmap(const FWideString& fileName) override;
    void CutTextToClipboard(const FWideString& text, FIUiWindow* window) override;
    void CopyTextToClipboard(const FWideString& text, FIUiWindow* window) override;
    void PasteTextFromClipboard(FWideString& text, FIUiWindow* window) override;
    void GetOsName(FWideString& name) override;
    bool FireOpenPathEvent(void* data) override { return m_openPathEvent.Fire(data); }
    void SetModalWindow(FIUiWindow* window) override;
    void SetHelpURL(const FWideString& url) override { m_usHelpURL = url; }
    const FWideString& GetHelpURL() override { return m_usHelpURL; }
    bool GetShowTheHVBoxes() override { return m_bShowTheHVBoxes; }
    FIUiWindow* FindUiWindow(const FWideString& name) override;
    FPropList* GetPersistentData(const FWideString& key) override;
    FIFile* OpenScriptFile(const FWideString& fileName) override;
    const std::vector<FWideString>& GetLanguages() override { return m_languages; }
    bool HasLanguageEntry() override { return m_bLanguageEntry; }
    void SetLanguage(const FWideString& language) override;
    void NextLanguage() override;
    bool AddLanguageListener(FIUiRelay* relay, FWideString& currentLanguage) override;
    bool RemoveLanguageListener(FIUiRelay* relay) override;
    bool IsMacOS() override { return m_pOsApp && m_pOsApp->IsMacOS(); }
    bool IsWindowsOS() override { return m_pOsApp && m_pOsApp->IsWindowsOS(); }
    FIUiPixmap* GetDragNoCursor(int& hotX, int& hotY) override { return m_cursors[0].Get(hotX, hotY); }
    FIUiPixmap* GetDragYesCursor(int& hotX, int& hotY) override { return m_cursors[1].Get(hotX, hotY); }
    FIUiPixmap* GetWaitCursor(int& hotX, int& hotY) override { return m_cursors[2].Get(hotX, hotY); }
    FIUiFont* GetAppFont(const FWideString& name) override { return m_text.GetAppFont(name); }
    FIUiMultiLangString* GetDisplayString(const FWideString& name) override
    {
        return m_text.GetDisplayString(name);
    }
    const FWideString* GetCtrlMenuText() override { return priMenuKeyText(0); }
    const FWideString* GetShiftMenuText() override { return priMenuKeyText(1); }
    const FWideString* GetAltMenuText() override { return priMenuKeyText(2); }
    const FWideString* GetDelMenuText() override { return priMenuKeyText(3); }
    FPropList* GetScriptRoot() override { return m_pScriptRoot; }
    void Tick(int elapsedMs) override;
    void SetVersion(int major, int minor, int revision, int build) override;
    FUiVersion GetVersion() override { return m_version; }
    const FWideString& GetAppName() override { return m_usAppName; }
    int NextSerialNumber() override { return m_iSerial++; }
    bool FireVolumesChangedEvent() override { return m_volumesChangedEvent.Fire(nullptr); }
    bool IsShuttingDown() override { return m_bShuttingDown; }

    // FIOsUiAppOwner
    bool GetDisplayStringText(const FWideString& name, FWideString& text) override;

    // Reads the root's settings, languages, fonts and display strings; true when the root has a Name.
    bool ReadAppSettings(FPropList* root);
    // Messages to every window and every class instance.
    void BroadcastToWindows(const FWideString& message);
    // First each window's objects, then the window itself.
    void BroadcastToWindowsAndObjects(const FWideString& message);

    // Where "Preferences.xml" is looked for; the executable's folder unless set.
    void SetExecutableFolderURL(const FWideString& url) { m_usExeFolderURL = url; }
    FWideString GetExecutableFolderURL() override { return m_usExeFolderURL; }
    FIOsUiApp* GetOsUiApp() { return m_pOsApp; }
    FIUiObject* GetFirstTopLevelObject() { return m_pFirstObject; }
    FIUiWindow* GetFirstWindow() { return m_pFirstWindow; }
    FUiWindowClass* GetFirstWindowClass() { return m_pFirstClass; }
    FUiWindowClass* FindWindowClass(const FWideString& name);
    void OnWindowDeleted(FIUiWindow* window) override;
    const FWideString& GetCurrentLanguage() const { return m_usCurrentLanguage; }
    const FWideString& GetSavedLanguage() const { return m_usSavedLanguage; }
    FPropList* GetStateRoot() { return m_pStateRoot; }
    const FWideString& GetStateFileName() const { return m_usStateFileName; }

private:
    struct Cursor {
        FIUiPixmap* pixmap = nullptr;
        int x = 0;
        int y = 0;
        FIUiPixmap* Get(int& hotX, int& hotY) const
        {
            hotX = x;
            hotY = y;
            return pixmap;
        }
    };

    void priLoadState(FPropList* root);
    void priSaveState();
    void priReadLanguages(FPropList* root);
    void priReadSavedLanguage();
    void priSelectLanguageEverywhere(const FWideString& language);
    void priNotifyListeners();
    FIUiRelay* priFindRelay(const FWideString& name, int& where);
    void priLaunchURL(const FWideString& key);
    const FWideString* priMenuKeyText(int index);
    void priReadCursors(FPropList* root);
    void priAppendWindow(FIUiWindow* window);
    std::vector<FIUiWindow*> priAllWindows();
    void priReadFontsAndStrings(FPropList* root);
    void priCreateWindowClasses(FPropList* root);
    void priPostCreateClassInstances(const FWideString& message);
    FIUiRelay* priFindClassRelay(const FWideString& name);
    void priCreateClassWindow(const FWideString& className, const FWideString& parentName);
    void priShowTopOrCreate(const FWideString& className);
    void priAppendClassInstances(std::vector<FIUiWindow*>& all);

    FWideString m_usName;
    FWideString m_usAppName;
    FWideString m_usHelpURL;
    bool m_bSingleInstApp = false;
    bool m_bHasPersistentStore = false;
    bool m_bShowTheHVBoxes = false;
    bool m_bShuttingDown = false;
    FIOsUiApp* m_pOsApp = nullptr;
    std::unique_ptr<FIUiObjectFactory> m_pFactory;
    FPropList* m_pScriptRoot = nullptr;
    FWideString m_usScriptFileName;
    FIFolder* m_pScriptFolder = nullptr;
    FWideString m_usExeFolderURL;

    // Persistent state and languages.
    FWideString m_usStateName{"BrisalApp"};
    FWideString m_usStateFileName;
    FPropList* m_pStateRoot = nullptr;
    std::vector<FWideString> m_languages;
    FWideString m_usCurrentLanguage;
    FWideString m_usSavedLanguage;
    bool m_bLanguageEntry = false;
    std::vector<FIUiRelay*> m_listeners;
    FWideString m_usCurrentText; // returned by the menu key texts

    FIUiObject* m_pFirstObject = nullptr;
    FIUiWindow* m_pFirstWindow = nullptr;
    FUiWindowClass* m_pFirstClass = nullptr;
    std::vector<FIUiWindow*> m_modalStack;
    Cursor m_cursors[3];
    FWideString m_menuKeyNames[4];
    FUiTextRegistry m_text;
    FUiVersion m_version;
    int m_iSerial = 0;

    RelayEvent m_openPathEvent{FWideString("ON_OPEN_PATH_EVENT")};
    RelayEvent m_volumesChangedEvent{FWideString("ON_VOLUMES_CHANGED_EVENT")};
    RelayEvent m_showMainWindowEvent{FWideString("ON_SHOW_MAIN_WINDOW")};
};

FGenericUiApp* CreateGenericUiApp();
void DeleteGenericUiApp(FGenericUiApp*& app);
