#pragma once

#include "FUiObject.h"

class FIUiObjectFactory;

// REBOOT: passes the script's log-off, shutdown and restart requests to the power control.
class FUiInstallReboot : public FUiObject
{
public:
    explicit FUiInstallReboot(const char* typeName);
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

private:
    bool m_bForce = false;
};

bool RegisterInstallReboot(FIUiObjectFactory* factory);
