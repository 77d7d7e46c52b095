#pragma once

// What lets one caller tick many managers without waiting on each in turn: every engine and
// loader thread counts the requests it finishes, and a caller that found nothing to do waits
// once for the count to move, whichever thread moves it.

#include <cstdint>

// Called by a worker thread once a request's final state is written.
void SignalIPWorkDone();
// Requests finished so far, process-wide.
uint64_t GetIPWorkCount();
// Waits until the count differs from `seen` or `milliseconds` pass; true when it moved.
bool WaitForIPWork(uint64_t seen, int milliseconds);

// While one lives on a thread, the engines' and loaders' Idle on that thread return at once
// instead of waiting for their request: the caller waits itself, once, with WaitForIPWork.
class FIPNoWaitScope
{
public:
    FIPNoWaitScope();
    ~FIPNoWaitScope();
    FIPNoWaitScope(const FIPNoWaitScope&) = delete;
    FIPNoWaitScope& operator=(const FIPNoWaitScope&) = delete;
};
// False inside an FIPNoWaitScope.
bool IPIdleMayWait();
