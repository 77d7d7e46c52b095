#pragma once

// The terminal's Ctrl+C and the session's SIGTERM at logout: the first asks the program to
// end as Quit does (state written, engine stopped); a second ends it at once. The handler
// only counts; the loop acts on it.

// Installs the handlers of SIGTERM and SIGINT; RestoreOsQuitSignals puts the defaults back.
void InstallOsQuitSignals();
void RestoreOsQuitSignals();
// True once for each quit signal that arrived since the last call.
bool TakeOsQuitSignal();
