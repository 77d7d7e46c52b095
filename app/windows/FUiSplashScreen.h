#pragma once

// SPLASH_SCREEN_MGR: hides the splash once the script is built, gives the script
// the version text and shows the splash again on request.

#include "FUiObject.h"
#include "FWideString.h"

class FIUiObjectFactory;
struct FUiVersion;

class FUiSplashScreen : public FUiObject
{
public:
    explicit FUiSplashScreen(const char* typeName);
    ~FUiSplashScreen() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

private:
    FWideString priVersionText() const;

    RelayEvent* m_pOnHideSplash = nullptr;
    RelayEvent* m_pOnShowOk = nullptr;
    RelayEvent* m_pOnShowSplash = nullptr;
    RelayEvent* m_pOnDisplayVersion = nullptr;
};

// "v<major>.<minor> Release (<build>)"; the third number is left out.
FWideString FormatVersionText(const FUiVersion& version);

bool RegisterSplashScreenManager(FIUiObjectFactory* factory);
