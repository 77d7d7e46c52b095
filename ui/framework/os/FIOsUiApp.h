#pragma once

#include <string>

#include "FIOsObject.h"
#include "FWideString.h"

class FIOsUiWindow;

// What the OS application needs of the portable application that owns it.
class FIOsUiAppOwner
{
public:
    virtual ~FIOsUiAppOwner() = default;
    virtual const FWideString& GetAppName() = 0;
    virtual bool FireVolumesChangedEvent() = 0;
    virtual void SetLanguage(const FWideString& language) = 0;
    // The current text of a display string; false when the script has none of that name.
    virtual bool GetDisplayStringText(const FWideString& name, FWideString& text) = 0;
    // A second start handed over its argument (an FWideString) ...
    virtual bool FireOpenPathEvent(void* data) = 0;
    // ... and asks for "ShowMainWindow".
    virtual bool UiRelayMessage(const FWideString& message, void* data) = 0;
};

// The operating-system side of the application: the message loop, the
// clipboard, the platform's identity and the single-instance check.
class FIOsUiApp : public FIOsObject
{
public:
    ~FIOsUiApp() override = default;

    // With handOver the argument goes to the running instance instead of a loop. Always true.
    virtual bool Run(bool handOver) = 0;
    virtual void CopyToClipboard(const FWideString& text, FIOsObject* window) = 0;
    virtual void CopyTextToClipboard(const FWideString& text, FIOsObject* window) = 0;
    // Leaves the text unchanged when the clipboard holds none.
    virtual void PasteTextFromClipboard(FWideString& text, FIOsObject* window) = 0;
    virtual void GetOsName(FWideString& name) = 0;
    virtual bool IsMacOS() = 0;
    virtual bool IsWindowsOS() = 0;
    // True when this instance must not run because another one does.
    virtual bool CheckSingleInstance(const FWideString& declaredName, bool oldMutex,
                                     const FWideString& familyName) = 0;
    virtual void OnLanguageChanged(const FWideString& language) = 0;
};

FIOsUiApp* CreateOsUiApp(FIOsUiAppOwner* owner);
void DeleteOsUiApp(FIOsUiApp*& app);

// Opens the display of the chosen backend once; the reason when there is none.
bool OpenOsDisplay(std::string& error);

// A message box without owner window and with an OK button. Works before any
// application object exists.
void ShowOsMessageBox(const FWideString& title, const FWideString& text);

// The process's own argument as the running instance should see it.
void SetOsProgramArgument(const FWideString& argument);
const FWideString& GetOsProgramArgument();
