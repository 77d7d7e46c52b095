#include "BrisalMain.h"

#include "AppWidgetCreators.h"
#include "FCache.h"
#include "FIPManager.h"
#include "FIUiApp.h"
#include "FUiAdjustment.h"
#include "FUiAutoLaunchManagerWin.h"
#include "FUiCameraObject.h"
#include "FUiCopyCameraWindow.h"
#include "FUiDeleteAllWindow.h"
#include "FUiDirectoryWindow.h"
#include "FUiInfoWindow.h"
#include "FUiMainWindow.h"
#include "FUiObjectFactory.h"
#include "FUiProgressWindow.h"
#include "FUiReviewWindow.h"
#include "FUiSaveImageWindow.h"
#include "FUiSaveImagesAsWindow.h"
#include "FUiSettings.h"
#include "FUiSplashScreen.h"
#include "FUiWhiteBalance.h"
#include "FUiWidgets.h"

FWideString g_usArg1;

namespace
{

// The cache limit the program found at its start, put back when it ends.
uint32_t s_uCacheLimitBefore = FCache::kDefaultLimit;

using FRegistration = bool (*)(FIUiObjectFactory*);

// The application's creators in their fixed order; each window manager takes
// its place here as it is built: CAMERA_OBJECT, MAIN_WIN_MGR, REVIEW_WIN_MGR,
// INFO_WIN_MGR, PROGRESS_WIN_MGR, SAVE_IMAGE_WIN_MGR, SAVE_IMAGES_AS_WIN_MGR,
// DIRECTORY_WIN_MGR, SETTINGS_MGR, ADJUSTMENT_MGR, COPY_CAMERA_WIN_MGR,
// DELETE_ALL_WIN_MGR, WHITE_BAL_WIN_MGR, SPLASH_SCREEN_MGR, the browser
// widgets, AUTO_LAUNCH_MGR.
const FRegistration kAppCreators[] = {
    RegisterCameraObject,
    [](FIUiObjectFactory* factory) { return RegisterMainWindowCreator(factory); },
    [](FIUiObjectFactory* factory) { return RegisterReviewWindowCreator(factory); },
    RegisterInfoWindowManager,
    RegisterProgressWindowCreator,
    RegisterSaveImageWindowCreator,
    RegisterSaveImagesAsWindowCreator,
    RegisterDirectoryWindowCreator,
    RegisterSettingsCreator,
    RegisterAdjustmentCreator,
    RegisterCopyCameraWindowManager,
    RegisterDeleteAllWindowManager,
    RegisterWhiteBalanceCreator,
    RegisterSplashScreenManager,
    RegisterAppWidgetCreators,
    RegisterAutoLaunchManager,
};

} // namespace

bool RegisterAppCreators(FIUiObjectFactory* factory)
{
    // The script's plain widgets come from the widget library.
    bool all = RegisterUiWidgets(factory);
    for (FRegistration registration : kAppCreators)
        all = registration(factory) && all;
    return all;
}

bool BrisalMain(FIUiApp* app, const FWideString& /*exeName*/, const FWideString& argument)
{
    if (!app)
        return false;
    app->SetVersion(kRawbenchVersionMajor, kRawbenchVersionMinor, kRawbenchVersionThird, kRawbenchBuild);
    s_uCacheLimitBefore = GetGlobalCache()->GetSize();
    GetGlobalCache()->SetSize(kRawbenchCacheLimit);
    FIUiObjectFactory* factory = app->GetUiObjectFactory();
    g_usArg1 = argument;
    return RegisterAppCreators(factory);
}

bool AppShutdownHook()
{
    // A zero limit empties the cache; the old limit comes back, since the process may
    // go on (a program run inside tests) and a cache of no bytes refuses every request.
    GetGlobalCache()->SetSize(0);
    SetIPManagerPoolSize(0);
    GetGlobalCache()->SetSize(s_uCacheLimitBefore);
    return true;
}
