#pragma once

// The Rawbench program start: the framework's program start with the
// application's hooks, plus a check that the script found every skin and
// display string it names. Tests and tools start the same program with extras.

#include <functional>
#include <string>
#include <vector>

#include "FWideString.h"

class FGenericUiApp;
class FIUiApp;

struct FRawbenchExtras {
    // Runs after the application's own start-up hook; false ends the start.
    std::function<bool(FGenericUiApp* app)> startup;
    // Runs with the checked, initialised application before its loop.
    std::function<void(FGenericUiApp* app)> running;
};

// Every skin file and display string the loaded script names but the
// application cannot find, as "skin <file>" and "string <name>".
std::vector<std::string> FindMissingScriptParts(FIUiApp* app);

// Starts the program; 0 after a normal run, non-zero when the start failed
// (the user has seen why in a box or, without a display, on standard error).
int RunRawbench(const FWideString& exePath, const FWideString& argument,
                const FRawbenchExtras* extras = nullptr);
