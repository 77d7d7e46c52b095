#pragma once

// The link to the auto-launch program. That program listens on a per-user Unix
// socket named after its window class and title; a "window" exists while
// something accepts on that socket. A client sends one little-endian 32-bit
// message number; a sent message then waits for a 32-bit answer, a posted one
// does not. Connections of another user are refused by the listener.

#include <cstdint>
#include <string>

inline constexpr uint32_t kAutoLaunchEnable = 0x4200;
inline constexpr uint32_t kAutoLaunchDisable = 0x4201;
inline constexpr uint32_t kAutoLaunchRemove = 0x4202;
inline constexpr uint32_t kAutoLaunchQuery = 0x4203;

// The socket's path: the instance folder (see FOsSingleInstance.h) and a name
// built from the class and the title. Empty when no folder can be had.
std::string GetOsAutoLaunchSocketPath(const std::string& windowClass, const std::string& windowTitle);

// True when the program's socket accepts a connection.
bool OsAutoLaunchWindowExists(const std::string& socketPath);
// Queues a message without waiting; false when the program is not there.
bool OsAutoLaunchPost(const std::string& socketPath, uint32_t message);
// Sends a message and waits up to `timeoutMs` for the answer; 0 when the program
// is not there, does not answer in time or answers garbage.
uint32_t OsAutoLaunchSend(const std::string& socketPath, uint32_t message, int timeoutMs);

// Waits `ms` milliseconds.
void OsSleepMilliseconds(int ms);
