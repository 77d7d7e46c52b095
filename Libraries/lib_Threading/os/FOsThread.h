#pragma once

#include <cstddef>

// Threads run with a stack of this size: libraries and the pixel code keep
// large buffers on the stack.
inline constexpr std::size_t kThreadStackSize = 8u << 20;

// Starts a detached thread that runs entry(argument). False when no thread
// could be started (entry then never runs).
bool OsStartThread(void (*entry)(void*), void* argument);
// The system's id of the calling thread.
long OsCurrentThreadId();
// Relative priority -2 (lowest) to +2 (highest) for a running thread. False
// when the system refused.
bool OsSetThreadPriority(long threadId, int priority);

// Threads started since the process began (a measure: the pool's aim is that this stays put).
long OsStartedThreadCount();

// Test seam: the next `count` starts fail as if the system had refused them.
void OsFailNextThreadStarts(int count);
