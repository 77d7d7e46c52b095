#pragma once

#include "FIOsObject.h"
#include "FIUiRelay.h"

class FIUiObjectFactory;
class FIUiPixmap;

// The application as objects see it. It is a relay too: its GetUiRelay resolves
// every global (dotted) name of the script.
class FIUiApp : public FIOsObject, public FIUiRelay
{
public:
    ~FIUiApp() override = default;

    virtual FIUiObjectFactory* GetUiObjectFactory() = 0;
    // A new pixmap from a PNG of the script folder, or null.
    virtual FIUiPixmap* LoadUiPixmap(const FWideString& fileName) = 0;
    // Writes the current language; a listener is kept once however often it is added.
    virtual bool AddLanguageListener(FIUiRelay* relay, FWideString& currentLanguage) = 0;
    // True also for a null relay; false when the relay was not listening.
    virtual bool RemoveLanguageListener(FIUiRelay* relay) = 0;
};
