#include "FUiClock.h"

#include <algorithm>
#include <cstdio>

#include "FException.h"
#include "FIUiPixmap.h"
#include "FOsWallClock.h"
#include "FPropList.h"
#include "FUiWidgets.h"

class FUiClockCreator final : public FUiWidgetCreator<FUiClock>
{
};

bool RegisterUiClock(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiClockCreator>(factory, "CLOCK");
}

FUiClock::FUiClock(const char* typeName) : FUiObject(typeName) {}

FUiClock::~FUiClock()
{
    ReleaseUiPixmap(m_pText);
}

FWideString FUiClock::FormatTime(int64_t calendarTime, int hourDelta)
{
    int64_t secondOfDay = calendarTime % 86400;
    if (secondOfDay < 0)
        secondOfDay += 86400;
    // Any whole-hour shift lands on a real hour of the day.
    int64_t hour = (secondOfDay / 3600 + hourDelta % 24) % 24;
    if (hour < 0)
        hour += 24;
    const int minute = static_cast<int>(secondOfDay % 3600 / 60);
    char text[16];
    std::snprintf(text, sizeof text, "%02i:%02i", static_cast<int>(hour), minute);
    return FWideString(text);
}

bool FUiClock::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    bool fontFound = false, sizeFound = false, colourFound = false;
    if (tag) {
        tag->GetString("Font", FWideString(), &fontFound);
        tag->GetInt("FontSize", 0, &sizeFound);
        tag->GetColor("FontColor", FUiColor(0, 0, 0, 255), &colourFound);
    }
    if (!fontFound || !sizeFound || !colourFound)
        throw FExceptionUiScript("FUiClock::InitUiObject() failed: missing required font property(s)");
    m_font.Read(tag);
    m_iGmtDelta = tag->GetInt("GmtDelta", 0);
    m_bRendered = false;
    priFormatTime();
    return true;
}

void FUiClock::priFormatTime()
{
    const int64_t now = GetOsCalendarTime();
    if (m_bRendered && now == m_llLastTime)
        return;
    m_bRendered = true;
    m_llLastTime = now;
    m_usText = FormatTime(now, m_iGmtDelta);
    ReleaseUiPixmap(m_pText);
    m_pText = RenderInlineFontText(m_font, m_usText, nullptr);
    if (m_pText) {
        m_rect.SetWidth(m_pText->GetWidth());
        m_rect.SetHeight(m_pText->GetHeight());
    }
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}

void FUiClock::Tick(int)
{
    priFormatTime();
}

void FUiClock::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_pText || !target)
        return;
    FRect destination = OffsetWidgetRect(m_rect, xOffset, yOffset);
    // A box may have placed the clock larger than its text until the next rendering.
    FRect source(0, 0, std::min(m_rect.Width(), m_pText->GetWidth()),
                 std::min(m_rect.Height(), m_pText->GetHeight()));
    destination.SetWidth(source.Width());
    destination.SetHeight(source.Height());
    if (ClipWidgetRects(clip, destination, source))
        m_pText->BlendBlit(target, destination, source);
}

FIUiObject* FUiClock::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}
