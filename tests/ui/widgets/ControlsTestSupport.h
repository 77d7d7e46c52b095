#pragma once

// Shared pieces of the control and animation tests: a run with the families
// of these widgets registered, solid skins written before the script is read,
// and reading the presented pixels.

#include <memory>
#include <string>
#include <vector>

#include "FGenericUiWindow.h"
#include "FHeadlessUiWindow.h"
#include "FUiTestApp.h"

struct FTestSkin {
    std::string name;
    int width;
    int height;
    FUiColor fill;
    FUiColor mark; // pixel (0, 0)
};

// A run of a window body (and top-level PROBE "Probe") with the widget
// families of the library registered and the skins written.
std::unique_ptr<FUiTestApp> ControlsRun(const std::string& body, const std::vector<FTestSkin>& skins = {});

// The window "W" of such a run and its headless OS window.
FGenericUiWindow* ControlsWindow(FUiTestApp& run);
FHeadlessUiWindow* ControlsOs(FUiTestApp& run);

// "r,g,b,a" of a presented pixel of "W" after it repainted what was waiting.
std::string PresentedPixel(FUiTestApp& run, int x, int y);
std::string ColourText(const FUiColor& colour);

// Injects a press or release at (x, y) and runs the dispatcher.
void Press(FUiTestApp& run, int x, int y);
void Release(FUiTestApp& run, int x, int y);
void MoveTo(FUiTestApp& run, int x, int y);

// A widget of the run by its global dotted name, as its class.
template <class T>
T* FindControl(FUiTestApp& run, const char* dottedName)
{
    return dynamic_cast<T*>(run.GetApp()->GetUiRelay(FWideString(dottedName)));
}
