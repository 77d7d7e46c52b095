#include "FHeadlessDesktop.h"

#include "FHeadlessUiWindow.h"
#include "FOsQuitSignal.h"
#include "FUiDispatcher.h"

FHeadlessDesktop& GetHeadlessDesktop()
{
    static FHeadlessDesktop desktop;
    return desktop;
}

void FHeadlessDesktop::Reset()
{
    // Windows still alive stay registered: they belong to whoever made them.
    const std::vector<FHeadlessUiWindow*> live = windows;
    *this = FHeadlessDesktop();
    windows = live;
}

void HeadlessPumpUntilIdle()
{
    auto& queue = GetHeadlessDesktop().queue;
    while (!queue.empty()) {
        std::function<void()> event = std::move(queue.front());
        queue.pop_front();
        DispatchOsEvent(event);
    }
}

void HeadlessAdvanceTime(uint64_t ms)
{
    FHeadlessDesktop& desktop = GetHeadlessDesktop();
    if (TakeOsQuitSignal() && desktop.onQuitSignal)
        desktop.onQuitSignal();
    if (desktop.beforeTicks)
        desktop.beforeTicks();
    desktop.clockMs += ms;
    const uint64_t now = desktop.clockMs;
    // A tick may close windows: take the list first and check each is still there.
    const std::vector<FHeadlessUiWindow*> windows = desktop.windows;
    for (FHeadlessUiWindow* window : windows) {
        bool live = false;
        for (FHeadlessUiWindow* w : desktop.windows)
            live = live || w == window;
        if (live && window->IsTickDue(now))
            window->TickAt(now);
    }
    HeadlessPumpUntilIdle();
}

bool HeadlessRunUntilQuit(uint64_t maxVirtualMs)
{
    FHeadlessDesktop& desktop = GetHeadlessDesktop();
    HeadlessPumpUntilIdle();
    for (uint64_t spent = 0; !desktop.quit && spent < maxVirtualMs; spent += 10)
        HeadlessAdvanceTime(10);
    return desktop.quit;
}
