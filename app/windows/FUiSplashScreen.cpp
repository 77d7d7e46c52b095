#include "FUiSplashScreen.h"

#include <cstdio>

#include "FIUiApp.h"
#include "FUiManagerCreator.h"
#include "RelayEvent.h"

FWideString FormatVersionText(const FUiVersion& version)
{
    char text[96];
    std::snprintf(text, sizeof(text), "v%d.%d %s (%d)", version.major, version.minor, "Release",
                  version.build);
    return FWideString(text);
}

FUiSplashScreen::FUiSplashScreen(const char* typeName) : FUiObject(typeName)
{
    m_pOnHideSplash = AddEvent(FWideString("ON_HIDE_SPLASH"));
    m_pOnShowOk = AddEvent(FWideString("ON_SHOW_OK"));
    m_pOnShowSplash = AddEvent(FWideString("ON_SHOW_SPLASH"));
    m_pOnDisplayVersion = AddEvent(FWideString("ON_DISPLAY_VERSION"));
}

FUiSplashScreen::~FUiSplashScreen() = default;

bool FUiSplashScreen::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

FWideString FUiSplashScreen::priVersionText() const
{
    FIUiApp* app = GetApp();
    return app ? FormatVersionText(app->GetVersion()) : FormatVersionText(FUiVersion{});
}

bool FUiSplashScreen::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == FWideString("Post Creation Initialization")) {
        m_pOnHideSplash->Fire(nullptr);
        FWideString version = priVersionText();
        m_pOnDisplayVersion->Fire(&version);
        return true;
    }
    if (message == FWideString("we're goin' bye-bye"))
        return true;
    if (message == FWideString("ShowSplash")) {
        bool ok = true;
        m_pOnShowOk->Fire(&ok);
        m_pOnShowSplash->Fire(nullptr);
        return true;
    }
    if (message == FWideString("GetVersionString")) {
        if (!data)
            return false;
        m_pOnHideSplash->Fire(nullptr);
        *static_cast<FWideString*>(data) = priVersionText();
        return true;
    }
    return false;
}

bool RegisterSplashScreenManager(FIUiObjectFactory* factory)
{
    return RegisterUiManager<FUiSplashScreen>(factory, "SPLASH_SCREEN_MGR");
}
