#pragma once

#include <cstdint>

#include "FRect.h"
#include "FUiColor.h"
#include "FUiObject.h"

class FIUiPixmap;

// Where the parts of a scroll bar lie for given scroll values.
struct FUiScrollbarParts {
    FRect buttonA;
    FRect pageBefore;
    FRect thumb;
    FRect pageAfter;
    FRect buttonB;
    int thumbLength = 0;
};

// The parts of a bar over `rect` (window coordinates) with buttons of the given
// lengths along the axis. The values must be valid (window >= 1, surface >= window).
FUiScrollbarParts ComputeScrollbarParts(bool horizontal, const FRect& rect, int buttonALength,
                                        int buttonBLength, int surface, int window, int offset);

// The offset a thumb dragged to `start` stands for: the first position gives 0 and the
// last gives surface - window exactly.
int ScrollbarDragOffset(int surface, int window, int start, int minStart, int maxStart);

// A scroll value from a script double: truncated toward zero, saturated to 32 bits,
// NaN as 0.
int ScrollValueFromDouble(double value);

// SCROLLBAR, HSCROLLBAR, VSCROLLBAR: a skinned bar showing a surface through a
// window at an offset, reporting every offset the user picks with ON_SCROLL.
class FUiScrollbar : public FUiObject
{
public:
    explicit FUiScrollbar(const char* typeName);
    ~FUiScrollbar() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString& eventName, const FWideString& message, FIUiRelay* target) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseEnter(int x, int y) override;
    void MouseLeave(int x, int y) override;
    void MouseMove(int x, int y) override;
    void MouseWheel(int x, int y, int flag, int notches) override;
    void KeyEvent(uint16_t code, bool ctrl, bool shift) override;

    bool IsHorizontal() const { return m_bHorizontal; }
    bool IsScrollInfoSet() const { return m_bScrollInfoSet; }
    int GetSurface() const { return m_iSurface; }
    int GetWindowLength() const { return m_iWindow; }
    int GetOffset() const { return m_iOffset; }
    const FUiScrollbarParts& GetParts() const { return m_parts; }

private:
    enum Part { kButtonA, kButtonB, kPageBefore, kPageAfter, kPartCount };

    void priRecalc();
    void priMoveThumb(int start);
    void priStep(int64_t delta, bool fireAlways);
    void priInvalidate(const FRect& rect);
    void priFire();
    const FRect& priPartRect(int part) const;
    int priAlong(int x, int y) const { return m_bHorizontal ? x : y; }
    int priMaxOffset() const { return m_iSurface - m_iWindow; }

    bool m_bLayedOut = false;
    bool m_bHorizontal = false;
    int m_iStretch = 0;
    FUiColor m_bgColor{0, 0, 0, 255};
    FUiColor m_bgClickColor{0, 0, 0, 255};
    FIUiPixmap* m_pButtonANormal = nullptr;
    FIUiPixmap* m_pButtonAPressed = nullptr;
    FIUiPixmap* m_pButtonBNormal = nullptr;
    FIUiPixmap* m_pButtonBPressed = nullptr;
    FRect m_sliderResizeRect;
    FIUiPixmap* m_pSlider = nullptr;
    FIUiPixmap* m_pThumb = nullptr;
    FIUiPixmap* m_pKnurls = nullptr;
    FUiColor m_separatorColor{0, 0, 0, 255};
    int m_iSeparator = 1;
    int m_iSurface = -1;
    int m_iWindow = -1;
    int m_iOffset = -1;
    bool m_bScrollInfoSet = false;
    FUiScrollbarParts m_parts;
    bool m_highlighted[kPartCount] = {false, false, false, false};
    bool m_held[kPartCount] = {false, false, false, false};
    bool m_bDragging = false;
    int m_iDragPointer = 0;
    int m_iDragThumbStart = 0;
    bool m_bRepeatArmed = false;
    bool m_bRepeatFast = false;
    int m_iRepeatTime = 0;
    RelayEvent* m_pOnScroll = nullptr;
    RelayEvent* m_pOnInit = nullptr;
    int m_iMinWidth = 0;
    int m_iMinHeight = 0;
};
