#pragma once

// Removes what a program's single-instance check leaves in the instance folder
// when the program no longer runs: its lock file and a socket a killed instance
// left, and the per-user fallback folder once it is empty. Nothing is removed
// while an instance holds the lock, and no folder is made.
void RemoveOsInstanceLeftovers(const char* appName);
