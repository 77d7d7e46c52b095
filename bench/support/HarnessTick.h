#pragma once

// One tick of a program run by the test harness, timed. The harness first lets the engine's
// thread catch up with the simulated clock; that wait is the test's, not the window's, so it
// is left out of the time.

#include <chrono>
#include <functional>
#include <utility>

#include "FHeadlessDesktop.h"

namespace bench
{

inline double TimedHarnessTick()
{
    FHeadlessDesktop& desktop = GetHeadlessDesktop();
    std::function<void()> catchUp = std::move(desktop.beforeTicks);
    if (catchUp)
        catchUp();
    const auto start = std::chrono::steady_clock::now();
    HeadlessAdvanceTime(10);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    desktop.beforeTicks = std::move(catchUp);
    return seconds;
}

} // namespace bench
