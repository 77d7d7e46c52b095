#pragma once

#include "FIOsObject.h"
#include "FIUiRelay.h"

class FIUiApp;
class FIUiObjectFactory;

// A window as objects see it; a relay that finds the objects inside it by
// "<window name>.<dotted name>".
class FIUiWindow : public FIOsObject, public FIUiRelay
{
public:
    ~FIUiWindow() override = default;

    virtual FIUiApp* GetApp() = 0;
    virtual FIUiObjectFactory* GetFactory() = 0;
};
