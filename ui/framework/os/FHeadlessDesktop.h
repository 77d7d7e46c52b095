#pragma once

// The simulated desktop behind the headless OS layer: what tests inject and
// what they read back instead of a screen.

#include <cstdint>
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

    void Reset() { *this = FHeadlessDesktop(); }
};

// The one headless desktop of the process.
FHeadlessDesktop& GetHeadlessDesktop();
