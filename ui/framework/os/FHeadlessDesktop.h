#pragma once

// The simulated desktop behind the headless OS layer: what tests inject and
// what they read back instead of a screen.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FWideString.h"

struct FHeadlessDesktop {
    // (title, text) of every message box, in order.
    std::vector<std::pair<std::string, std::string>> messageBoxes;
    FWideString clipboard;
    bool clipboardHasText = false;
    // Names of single-instance marks held by "running" programs.
    std::vector<std::string> heldNames;
    // Hand-over records {message, parameter} sent to the running instance.
    std::vector<std::pair<uint16_t, uint16_t>> handOver;
    // The primary subtag of the system language ("de", "en", ...).
    std::string systemLanguage = "en";
    // Languages handed to the OS language hook.
    std::vector<std::string> languageHooks;

    // The simulated screen and time.
    int screenWidth = 1920;
    int screenHeight = 1080;
    uint64_t clockMs = 0;
    // Events waiting for the loop, in order.
    std::deque<std::function<void()>> queue;
    // A window that ends the loop was destroyed.
    bool quit = false;
    // What the loop does with a quit signal: the application asks to end as Quit does.
    std::function<void()> onQuitSignal;
    // Runs before the clock moves: a test lets work on other threads catch up with the
    // simulated time, as it would in real time.
    std::function<void()> beforeTicks;
    // Live OS windows in creation order (not owned).
    std::vector<class FHeadlessUiWindow*> windows;
    class FHeadlessUiWindow* activeWindow = nullptr;

    void Reset();
};

// The one headless desktop of the process.
FHeadlessDesktop& GetHeadlessDesktop();

// Runs the queued events, each through the dispatcher, until none is left.
void HeadlessPumpUntilIdle();
// Moves the clock on; every window whose 10 ms timer is due ticks once with the
// time since its last tick. Then the queue is pumped.
void HeadlessAdvanceTime(uint64_t ms);
// Pumps and advances the clock in 10 ms steps until a quitting window was
// destroyed or the virtual time is used up; whether the loop ended.
bool HeadlessRunUntilQuit(uint64_t maxVirtualMs);
