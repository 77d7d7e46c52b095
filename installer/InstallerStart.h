#pragma once

// The installer's start-up and exit hooks and the registration of its objects.

#include "FWideString.h"

class FGenericUiApp;
class FIUiObjectFactory;

namespace installer
{

// The first argument of the program; the installer never keeps it.
extern FWideString g_usArg1;

// Registers the installer's object types; false when any registration failed
// (every one is still tried).
bool BrisalMain(FGenericUiApp* app, const FWideString& exeName, const FWideString& argument);
bool BrisalExit();
// The platform family test of the installer's controls: this system always
// takes the path of the family with privileges.
bool IsWinNT();
// Every installer type, in the order the start-up hook registers them.
bool RegisterInstallerTypes(FIUiObjectFactory* factory);
// The control types among the installer's objects that exist in this build.
bool RegisterInstallControlCreators(FIUiObjectFactory* factory);

} // namespace installer
