#pragma once

#include <functional>

#include "FWideString.h"

class FGenericUiApp;

// The program's own parts of the start: the start-up hook registers the
// program's object types (false ends the program), the exit hook runs after
// the application object is gone.
struct FProgramHooks {
    std::function<bool(FGenericUiApp* app, const FWideString& exeName, const FWideString& argument)> startup;
    std::function<void()> shutdown;
    // Called with the initialised application right before its loop runs.
    std::function<void(FGenericUiApp* app)> running;
};

// The whole run of a program: finds the script beside the executable, makes
// and initialises the application, runs it and tears everything down. Every
// failure is shown in a box; the answer is 0, or 1 when no display can be
// opened (then the reason goes to standard error).
int RunProgram(const FWideString& exeNativePath, const FWideString& argument, const FProgramHooks& hooks);

// Splits a command line into the executable name and the first argument by
// the rules of the platform the scripts were written on.
void GetExeNameAndArg1(const char16_t* commandLine, FWideString& exeName, FWideString& argument);
