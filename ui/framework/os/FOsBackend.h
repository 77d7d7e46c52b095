#pragma once

// The OS layer behind the framework's seams is chosen once per process, before
// the application object is made: the desktop build uses the display server,
// tests the headless desktop.
enum class EOsBackend {
    kHeadless,
    kDisplay,
};

void SetOsBackend(EOsBackend backend);
EOsBackend GetOsBackend();
