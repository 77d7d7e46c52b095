#pragma once

#include "FIOsObject.h"
#include "FIUiRelay.h"

class FIUiApp;
class FIUiObjectFactory;
class FPropList;

// A window as the application and objects see it; a relay that finds the
// objects inside it by "<window name>.<dotted name>".
class FIUiWindow : public FIOsObject, public FIUiRelay
{
public:
    ~FIUiWindow() override = default;

    virtual FIUiWindow* GetPrevWindow() = 0;
    virtual FIUiWindow* GetNextWindow() = 0;
    // This window also ticks the application's top-level objects.
    virtual void SetTickWindow() = 0;
    virtual void SetPrevWindow(FIUiWindow* window) = 0;
    virtual void SetNextWindow(FIUiWindow* window) = 0;
    virtual FIUiApp* GetApp() = 0;
    virtual FIUiObjectFactory* GetFactory() = 0;
    virtual bool InitUiWindow(FPropList* tag, FIUiWindow* parent) = 0;
    virtual bool SetVisible(bool visible) = 0;
    virtual bool IsModal() = 0;
    virtual bool IsVisible() = 0;
    virtual void EnableWindow() = 0;
    virtual void DisableWindow() = 0;
    // UiRelayMessage to every object of the tree in pre-order; how many got it.
    virtual int SendToAllObjects(const FWideString& message, void* data) = 0;
    virtual bool IsNamed(const FWideString& name) = 0;
    virtual void Activate() = 0;
};
