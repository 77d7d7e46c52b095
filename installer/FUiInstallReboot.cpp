#include "FUiInstallReboot.h"

#include "FException.h"
#include "FPowerControl.h"
#include "InstallerPaths.h"
#include "InstallerStart.h"

FUiInstallReboot::FUiInstallReboot(const char* typeName) : FUiObject(typeName) {}

bool FUiInstallReboot::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

bool FUiInstallReboot::UiRelayMessage(const FWideString& message, void*)
{
    // Every message is answered false, also those acted on.
    if (message == "Force")
        m_bForce = true;
    else if (message == "Shutdown")
        GetPowerControl().Exit(EPowerExit::kShutdown, m_bForce);
    else if (message == "Logoff")
        GetPowerControl().Exit(EPowerExit::kLogoff, m_bForce);
    else if (message == "RebootNow") {
        if (installer::IsWinNT() && !GetPowerControl().EnableShutdownPrivilege())
            throw FException("Could not adjust the Token Privileges!");
        GetPowerControl().Exit(EPowerExit::kReboot, m_bForce);
    }
    return false;
}

bool RegisterInstallReboot(FIUiObjectFactory* factory)
{
    return RegisterInstallerCreator<FUiInstallReboot>(factory, "REBOOT");
}
