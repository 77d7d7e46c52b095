#include "InstallerStart.h"

#include "FGenericUiApp.h"
#include "FUiAutoLaunchManagerWin.h"
#include "FUiDirectoryWindow.h"
#include "FUiInstallCopyControl.h"
#include "FUiInstallReboot.h"
#include "FUiInstallRegistry.h"
#include "FUiInstallShellLinks.h"
#include "FUiInstallerMain.h"
#include "FUiInstallerMainWin.h"
#include "FUiObjectFactory.h"

namespace installer
{

FWideString g_usArg1;

bool IsWinNT()
{
    return true;
}

bool RegisterInstallControlCreators(FIUiObjectFactory* factory)
{
    const bool reboot = RegisterInstallReboot(factory);
    const bool registry = RegisterInstallRegistry(factory);
    const bool links = RegisterInstallShellLinks(factory);
    const bool copy = RegisterInstallCopyControl(factory);
    return reboot && registry && links && copy;
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
    ok = RegisterInstallerMainWin(factory) && ok;
    ok = RegisterDirectoryWindowCreator(factory) && ok;
    ok = RegisterInstallControlCreators(factory) && ok;
    ok = RegisterAutoLaunchManager(factory) && ok;
    return ok;
}

bool BrisalExit()
{
    return true;
}

} // namespace installer
