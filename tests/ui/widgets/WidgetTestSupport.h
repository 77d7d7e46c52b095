#pragma once

// Shared pieces of the widget tests: a leaf with layout records from its
// script keys (LEAF) or set directly, scripts, runs with chosen widget
// families registered, and lookups of windows and objects.

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "FGenericUiWindow.h"
#include "FUiObject.h"
#include "FUiTestApp.h"

class FIUiObjectFactory;
class FProbeObject;

// LEAF: MinHSize, MinVSize, HStretch, VStretch (fixed when 0), MaxHSize and
// MaxVSize when given, Fixed="false" for a non-fixed record of stretch 0. It
// takes the rectangle it is offered and is hit inside it.
class FTestLeaf : public FUiObject
{
public:
    explicit FTestLeaf(const char* typeName);
    // A leaf outside any script, with the records of one axis given (the other fixed at 0).
    static FTestLeaf* Make(bool horizontal, int minimum, int stretch, bool fixed, int maximum = -1);

    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    FIUiObject* HitTest(int x, int y) override;
};

bool RegisterTestLeaf(FIUiObjectFactory* factory);

// A script root with the given body.
std::string WidgetScript(const std::string& body, const std::string& rootAttributes = "");

using FWidgetRegistration = bool (*)(FIUiObjectFactory*);

// A run whose factory knows LEAF and the given families (PROBE and BLOCK too).
// `prepare` runs before the script is read (to leave a state file, say).
std::unique_ptr<FUiTestApp> MakeWidgetRun(const std::string& script,
                                          std::initializer_list<FWidgetRegistration> families,
                                          const std::function<void(FUiTestApp&)>& prepare = {});

FGenericUiWindow* FindWidgetWindow(FUiTestApp& run, const char* name);
// An object by its global dotted name ("Window.Box.Name"), or null.
FIUiObject* FindWidget(FUiTestApp& run, const char* dottedName);
// "left,top,right,bottom".
std::string RectText(const FRect& rect);
// Selects the box font for every text of the test binary.
void UseBoxFont();

// The probe's records since the last call, as "message=data" joined by commas
// (the creation notice left out), and the probe emptied.
std::string TakeProbeMessages(FProbeObject* probe);
