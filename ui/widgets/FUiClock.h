#pragma once

#include <cstdint>

#include "FUiObject.h"
#include "FUiWidgetFrame.h"

// CLOCK: the time of day as hours and minutes, in UTC shifted by whole hours.
class FUiClock final : public FUiObject
{
public:
    explicit FUiClock(const char* typeName);
    ~FUiClock() override;
    FUiClock(const FUiClock&) = delete;
    FUiClock& operator=(const FUiClock&) = delete;

    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;

    const FWideString& GetText() const { return m_usText; }
    // "hh:mm" of a calendar time shifted by whole hours.
    static FWideString FormatTime(int64_t calendarTime, int hourDelta);

private:
    void priFormatTime();

    int m_iGmtDelta = 0;
    int64_t m_llLastTime = 0;
    bool m_bRendered = false;
    FWideString m_usText;
    FIUiPixmap* m_pText = nullptr;
    FUiInlineFont m_font;
};
