#pragma once

// The script's handle on the auto-launch program (AUTO_LAUNCH_MGR). It reads
// where the program lies from "AutoLaunchPreferences.xml", starts it when needed
// and talks to it through the link of FOsAutoLaunchLink.h. Shared with the
// installer, so it stands on the framework alone.

#include "FUiObject.h"
#include "FWideString.h"

class FIFolder;
class FIUiObjectFactory;

inline constexpr const char* kAutoLaunchPreferencesName = "AutoLaunchPreferences.xml";

class FUiAutoLaunchManagerWin : public FUiObject
{
public:
    // The factory's name is ignored: the type is always AUTO_LAUNCH_MGR.
    explicit FUiAutoLaunchManagerWin(const char* typeName = nullptr);
    ~FUiAutoLaunchManagerWin() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    const FWideString& GetAutoLaunchName() const { return m_usAutoLaunchName; }
    const FWideString& GetAutoLaunchPath() const { return m_usAutoLaunchPath; }

private:
    void priReadPreferences();
    void priSetAside(FIFolder* folder, const FWideString& name);
    void priTellDamaged();
    bool priQuery();
    void priEnable();
    void priDisable();
    void priRemove();

    FWideString m_usAutoLaunchName;
    FWideString m_usAutoLaunchPath;
};

// The folder URL of the preference file: application data + "Talvo/".
FWideString GetAutoLaunchPreferenceFolderURL();

bool RegisterAutoLaunchManager(FIUiObjectFactory* factory);
