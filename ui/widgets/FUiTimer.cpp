#include "FUiTimer.h"

#include <algorithm>

#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

class FUiTimerCreator final : public FUiWidgetCreator<FUiTimer>
{
};

bool RegisterUiTimer(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiTimerCreator>(factory, "TIMER");
}

FUiTimer::FUiTimer(const char* typeName) : FUiObject(typeName)
{
    AddEvent(FWideString("ON_BEGIN"));
    AddEvent(FWideString("ON_TICK"));
    AddEvent(FWideString("ON_PAUSED"));
    AddEvent(FWideString("ON_UNPAUSED"));
    AddEvent(FWideString("ON_CANCELED"));
    AddEvent(FWideString("ON_END"));
}

bool FUiTimer::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Begin") {
        if (m_bRunning || m_bPaused || m_uTick == 0 || m_uTick >= m_uPeriod)
            return true;
        m_uElapsed = 0;
        m_uAccumulator = 0;
        m_bPaused = false;
        m_bRunning = true;
        priFire("ON_BEGIN");
        return true;
    }
    if (message == "SetTimer") {
        if (!data)
            return false;
        if (!m_bRunning && !m_bPaused) {
            const uint32_t* values = static_cast<const uint32_t*>(data);
            m_uPeriod = values[0];
            m_uTick = values[1];
        }
        return true;
    }
    if (message == "Pause") {
        if (m_bRunning && !m_bPaused) {
            m_bRunning = false;
            m_bPaused = true;
            priFire("ON_PAUSED");
        }
        return true;
    }
    if (message == "Unpause") {
        if (m_bPaused && !m_bRunning) {
            m_bRunning = true;
            m_bPaused = false;
            priFire("ON_UNPAUSED");
        }
        return true;
    }
    if (message == "Cancel") {
        if (!m_bRunning && !m_bPaused)
            return true;
        if (m_bPaused) {
            m_bPaused = false;
            priFire("ON_UNPAUSED");
        }
        m_bRunning = false;
        priFire("ON_CANCELED");
        return true;
    }
    return false;
}

bool FUiTimer::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    // Negative script values count as 0, which refuses "Begin".
    m_uPeriod = tag ? static_cast<uint32_t>(std::max(tag->GetInt("_Period", 0), 0)) : 0;
    m_uTick = tag ? static_cast<uint32_t>(std::max(tag->GetInt("_Tick", 0), 0)) : 0;
    // Nothing to see: the timer takes no room in a box.
    m_rect.Clear();
    SetWidgetLayout(m_hLayout, 0, 0);
    SetWidgetLayout(m_vLayout, 0, 0);
    return true;
}

bool FUiTimer::SetRect(int x, int y, int, int)
{
    m_rect.Set(x, y, x, y);
    return true;
}

void FUiTimer::Tick(int elapsedMs)
{
    if (!m_bRunning || m_bPaused)
        return;
    const uint32_t d = static_cast<uint32_t>(std::max(elapsedMs, 0));
    m_uElapsed += d;
    m_uAccumulator += d;
    double progress = static_cast<double>(m_uElapsed) / static_cast<double>(m_uPeriod);
    // A handler may pause or cancel the timer; the events of this tick stop then.
    while (m_bRunning && m_uAccumulator > m_uTick) {
        m_uAccumulator -= m_uTick;
        priFire("ON_TICK", &progress);
    }
    if (m_bRunning && m_uElapsed > m_uPeriod) {
        double done = 1.0;
        priFire("ON_TICK", &done);
        m_bRunning = false;
        priFire("ON_END");
    }
}

void FUiTimer::priFire(const char* eventName, void* data)
{
    if (RelayEvent* event = FindEvent(FWideString(eventName)))
        event->Fire(data);
}
