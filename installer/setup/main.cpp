// RawbenchSetup: the installer program. Its script, its install list and the
// files it installs travel in the archive appended to this executable.

#include "FGenericUiApp.h"
#include "FOsBackend.h"
#include "FOsProgramArgs.h"
#include "FProgramStart.h"
#include "FUiWidgets.h"
#include "InstallerStart.h"

int main(int argc, char** argv)
{
    SetOsBackend(EOsBackend::kDisplay);
    FWideString exePath, argument;
    GetOsProgramArgs(argc, argv, exePath, argument);
    FProgramHooks hooks;
    hooks.startup = [](FGenericUiApp* app, const FWideString& exeName, const FWideString& first) {
        const bool widgets = RegisterUiWidgets(app->GetUiObjectFactory());
        return installer::BrisalMain(app, exeName, first) && widgets;
    };
    hooks.shutdown = [] { installer::BrisalExit(); };
    return RunProgram(exePath, argument, hooks);
}
