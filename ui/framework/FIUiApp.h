#pragma once

#include <vector>

#include "FIOsObject.h"
#include "FIUiRelay.h"

class FIFile;
class FIFolder;
class FIUiFont;
class FIUiMultiLangString;
class FIUiObjectFactory;
class FIUiPixmap;
class FIUiWindow;
class FPropList;

struct FUiVersion {
    int major = 1;
    int minor = 0;
    int revision = 0;
    int build = 0;
};

// The application as objects and windows see it. It is a relay too: its
// GetUiRelay resolves every global (dotted) name of the script.
class FIUiApp : public FIOsObject, public FIUiRelay
{
public:
    ~FIUiApp() override = default;

    virtual FIUiObjectFactory* GetUiObjectFactory() = 0;
    // Takes the script folder over whatever the answer.
    virtual bool InitFromScript(FIFolder* scriptFolder, const FWideString& fileName,
                                bool& anotherInstance) = 0;
    virtual bool Run(bool anotherInstance) = 0;
    // A new pixmap from a PNG of the script folder, or null.
    virtual FIUiPixmap* LoadUiPixmap(const FWideString& fileName) = 0;
    virtual void CutTextToClipboard(const FWideString& text, FIUiWindow* window) = 0;
    virtual void CopyTextToClipboard(const FWideString& text, FIUiWindow* window) = 0;
    virtual void PasteTextFromClipboard(FWideString& text, FIUiWindow* window) = 0;
    virtual void GetOsName(FWideString& name) = 0;
    virtual bool FireOpenPathEvent(void* data) = 0;
    // Null pops the top of the modal stack.
    virtual void SetModalWindow(FIUiWindow* window) = 0;
    virtual void SetHelpURL(const FWideString& url) = 0;
    virtual const FWideString& GetHelpURL() = 0;
    virtual bool GetShowTheHVBoxes() = 0;
    virtual FIUiWindow* FindUiWindow(const FWideString& name) = 0;
    // The state entry of the key, made when missing; null without a state file.
    virtual FPropList* GetPersistentData(const FWideString& key) = 0;
    virtual FIFile* OpenScriptFile(const FWideString& fileName) = 0;
    virtual const std::vector<FWideString>& GetLanguages() = 0;
    virtual bool HasLanguageEntry() = 0;
    virtual void SetLanguage(const FWideString& language) = 0;
    virtual void NextLanguage() = 0;
    // Writes the current language; a listener is kept once however often it is added.
    virtual bool AddLanguageListener(FIUiRelay* relay, FWideString& currentLanguage) = 0;
    // True also for a null relay; false when the relay was not listening.
    virtual bool RemoveLanguageListener(FIUiRelay* relay) = 0;
    virtual bool IsMacOS() = 0;
    virtual bool IsWindowsOS() = 0;
    virtual FIUiPixmap* GetDragNoCursor(int& hotX, int& hotY) = 0;
    virtual FIUiPixmap* GetDragYesCursor(int& hotX, int& hotY) = 0;
    virtual FIUiPixmap* GetWaitCursor(int& hotX, int& hotY) = 0;
    // The script's fonts and display strings by name, or null.
    virtual FIUiFont* GetAppFont(const FWideString& /*name*/) { return nullptr; }
    virtual FIUiMultiLangString* GetDisplayString(const FWideString& /*name*/) { return nullptr; }
    // The folder of the program's executable, where its script and guide lie; empty when unknown.
    virtual FWideString GetExecutableFolderURL() { return FWideString(); }
    // Null when no display string has the name the script gave for the key.
    virtual const FWideString* GetCtrlMenuText() = 0;
    virtual const FWideString* GetShiftMenuText() = 0;
    virtual const FWideString* GetAltMenuText() = 0;
    virtual const FWideString* GetDelMenuText() = 0;
    virtual FPropList* GetScriptRoot() = 0;
    virtual void Tick(int elapsedMs) = 0;
    virtual void SetVersion(int major, int minor, int revision, int build) = 0;
    virtual FUiVersion GetVersion() = 0;
    virtual const FWideString& GetAppName() = 0;
    virtual int NextSerialNumber() = 0;
    virtual bool FireVolumesChangedEvent() = 0;
    // While the application is being deleted: windows then skip their farewells.
    virtual bool IsShuttingDown() = 0;
    // A window is being deleted: nothing may keep pointing at it.
    virtual void OnWindowDeleted(FIUiWindow* window) = 0;
};
