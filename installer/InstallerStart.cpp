#include "InstallerStart.h"

#include "FGenericUiApp.h"
#include "FUiInstallCopyControl.h"
#include "FUiInstallerMain.h"
#include "FUiObjectFactory.h"

namespace installer
{

FWideString g_usArg1;

bool RegisterInstallControlCreators(FIUiObjectFactory* factory)
{
    // The shortcut, registry and restart controls join here, before the copy control.
    return RegisterInstallCopyControl(factory);
}

bool BrisalMain(FGenericUiApp* app, const FWideString&, const FWideString&)
{
    // No version, no cache limit and no first argument: the installer keeps the defaults.
    FIUiObjectFactory* factory = app ? app->GetUiObjectFactory() : nullptr;
    return factory && RegisterInstallerTypes(factory);
}

bool RegisterInstallerTypes(FIUiObjectFactory* factory)
{
    bool ok = RegisterInstallerMain(factory);
    // The page sequencer and the folder chooser register between these two once built.
    ok = RegisterInstallControlCreators(factory) && ok;
    // So does the auto-launch manager, after the controls.
    return ok;
}

bool BrisalExit()
{
    return true;
}

} // namespace installer
