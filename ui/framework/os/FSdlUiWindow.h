#pragma once

// The display backend: windows of the display server through SDL2 (X11 driver),
// with the self-drawn menu bar above the client area and the 10 ms ticks as
// deadlines of the one message loop.

#include <cstdint>
#include <string>
#include <vector>

#include "FIOsUiWindow.h"

class FOsMenuBar;
class FIOsUiAppOwner;
class FIOsUiApp;

FIOsUiWindow* CreateSdlUiWindow(FIOsUiWindowOwner* owner);
FIOsUiApp* CreateSdlUiApp(FIOsUiAppOwner* owner);
// SDL's own box; false when it could not be shown (no display).
bool ShowSdlMessageBox(const std::string& title, const std::string& text);

// Opens the display once per process; the reason on failure.
bool OpenSdlDisplay(std::string& error);
void CloseSdlDisplay();

// One pass of the loop: waits up to `waitMs` (less when a tick is due) for
// events, dispatches them, then runs the ticks that are due.
void SdlPumpEvents(int waitMs);
// A window that ends the loop was destroyed.
bool SdlQuitRequested();
// A new application starts with a loop that has not ended.
void ResetSdlQuit();
// Called once per pass, inside the dispatcher (the instance socket, the volumes).
void SetSdlLoopHook(void (*hook)());

// What tests and the screenshot tool read of a display window.
struct FSdlWindowProbe {
    uint32_t windowId = 0;
    int menuBarHeight = 0;
    FOsMenuBar* menuBar = nullptr;
};
bool GetSdlWindowProbe(FIOsUiWindow* window, FSdlWindowProbe& probe);
// The window's presented pixels (0xAARRGGBB, the bar's rows first) as the
// surface holds them.
bool ReadSdlWindowPixels(FIOsUiWindow* window, int& width, int& height, std::vector<uint32_t>& pixels);
