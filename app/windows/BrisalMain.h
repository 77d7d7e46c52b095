#pragma once

// The application's two hooks into the program start, and the first
// command-line argument they keep for the objects that open it.

#include <cstdint>

#include "FWideString.h"

class FIUiApp;
class FIUiObjectFactory;

// The first argument as the program start received it; empty when none.
extern FWideString g_usArg1;

inline constexpr int kRawbenchVersionMajor = 2;
inline constexpr int kRawbenchVersionMinor = 3;
inline constexpr int kRawbenchVersionThird = 0;
inline constexpr int kRawbenchBuild = 3152;
inline constexpr uint32_t kRawbenchCacheLimit = 125829120;

// Registers the widget library and then the application's own creators in
// their fixed order; every registration runs, and the answer is their AND.
bool RegisterAppCreators(FIUiObjectFactory* factory);

// Sets the version and the cache limit, keeps the argument and registers the
// creators; false when any registration failed.
bool BrisalMain(FIUiApp* app, const FWideString& exeName, const FWideString& argument);

// Runs once the application object is gone: frees the cache and the pool of
// image-processing managers. Always true.
bool AppShutdownHook();
