#pragma once

#include <cstdint>

#include "FUiObject.h"

// TIMER: a one-shot timer run by script messages, with progress events at an
// interval, pausing and cancelling; it counts the window's ticks.
class FUiTimer final : public FUiObject
{
public:
    explicit FUiTimer(const char* typeName);

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Tick(int elapsedMs) override;

    bool IsRunning() const { return m_bRunning; }
    bool IsPaused() const { return m_bPaused; }

private:
    void priFire(const char* eventName, void* data = nullptr);

    bool m_bRunning = false;
    bool m_bPaused = false;
    uint32_t m_uPeriod = 0;
    uint32_t m_uTick = 0;
    uint32_t m_uElapsed = 0;
    uint32_t m_uAccumulator = 0;
};
