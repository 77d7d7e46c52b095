#include "FUiScrollbar.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "FDebugTrace.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiScrollbarCreator final : public FUiWidgetCreator<FUiScrollbar>
{
};

// Key codes of the window layer.
constexpr uint16_t kKeyUp = 14;
constexpr uint16_t kKeyDown = 19;
constexpr uint16_t kKeyLeft = 146;
constexpr uint16_t kKeyRight = 145;
constexpr uint16_t kKeyPageUp = 17;
constexpr uint16_t kKeyPageDown = 18;

constexpr int kRepeatDelayMs = 300;
constexpr int kRepeatPeriodMs = 100;

bool SameSize(FIUiPixmap* a, FIUiPixmap* b)
{
    return a->GetWidth() == b->GetWidth() && a->GetHeight() == b->GetHeight();
}

} // namespace

bool RegisterUiScrollbar(FIUiObjectFactory* factory)
{
    bool all = RegisterUiWidgetCreator<FUiScrollbarCreator>(factory, "SCROLLBAR");
    all = RegisterUiWidgetCreator<FUiScrollbarCreator>(factory, "HSCROLLBAR") && all;
    all = RegisterUiWidgetCreator<FUiScrollbarCreator>(factory, "VSCROLLBAR") && all;
    return all;
}

FUiScrollbarParts ComputeScrollbarParts(bool horizontal, const FRect& rect, int buttonALength,
                                        int buttonBLength, int surface, int window, int offset)
{
    FUiScrollbarParts parts;
    if (surface < 1 || window < 1)
        return parts;
    const int start = horizontal ? rect.left : rect.top;
    const int end = horizontal ? rect.right : rect.bottom;
    const int across0 = (horizontal ? rect.top : rect.left) + 1;
    const int across1 = horizontal ? rect.bottom : rect.right;
    auto make = [&](int64_t a0, int64_t a1) {
        const int lo = int(a0);
        const int hi = int(std::max(a0, a1));
        return horizontal ? FRect(lo, across0, hi, across1) : FRect(across0, lo, across1, hi);
    };
    const int64_t track = std::max<int64_t>(int64_t(end) - start - buttonALength - buttonBLength, 0);
    const int64_t thumbLength = std::max<int64_t>(int64_t(window) * track / surface, 1);
    const int64_t thumbOffset = track * offset / surface;
    int64_t thumbStart = int64_t(start) + buttonALength + thumbOffset;
    // At the end the thumb touches button B whatever the rounding left.
    if (int64_t(offset) + window == surface)
        thumbStart = int64_t(end) - buttonBLength - thumbLength;
    const int64_t thumbEnd = thumbStart + thumbLength;
    parts.thumbLength = int(thumbLength);
    parts.buttonA = make(start, int64_t(start) + buttonALength);
    parts.buttonB = make(int64_t(end) - buttonBLength, end);
    parts.thumb = make(thumbStart, thumbEnd);
    parts.pageBefore = make(int64_t(start) + buttonALength, thumbStart);
    parts.pageAfter = make(thumbEnd, int64_t(end) - buttonBLength);
    return parts;
}

int ScrollbarDragOffset(int surface, int window, int start, int minStart, int maxStart)
{
    if (maxStart <= minStart || surface <= window)
        return 0;
    const int64_t range = int64_t(surface) - window;
    const int64_t position = std::clamp<int64_t>(int64_t(start) - minStart, 0, int64_t(maxStart) - minStart);
    return int(range * position / (int64_t(maxStart) - minStart));
}

int ScrollValueFromDouble(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(std::trunc(value));
}

FUiScrollbar::FUiScrollbar(const char* typeName) : FUiObject(typeName)
{
    m_pOnScroll = AddEvent(FWideString("ON_SCROLL"));
    m_pOnInit = AddEvent(FWideString("ON_INIT"));
}

FUiScrollbar::~FUiScrollbar()
{
    for (FIUiPixmap** pixmap : {&m_pButtonANormal, &m_pButtonAPressed, &m_pButtonBNormal, &m_pButtonBPressed,
                                &m_pSlider, &m_pThumb, &m_pKnurls})
        ReleaseUiPixmap(*pixmap);
}

bool FUiScrollbar::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    if (m_typeName == "HSCROLLBAR")
        m_bHorizontal = true;
    else if (m_typeName == "VSCROLLBAR")
        m_bHorizontal = false;
    else
        m_bHorizontal = tag->GetBool("_Horizontal", true);

    bool all = true;
    bool found = false;
    m_iStretch = std::max(tag->GetInt("Stretch", 0, &found), 0);
    all = all && found;
    m_bgColor = tag->GetColor("BgColor", m_bgColor, &found);
    all = all && found;
    m_bgClickColor = tag->GetColor("BgClickColor", m_bgClickColor, &found);
    all = all && found;
    m_pButtonANormal = LoadPixmapFromTag(tag, "File_ButtonANormal", &found);
    all = all && found;
    m_pButtonAPressed = LoadPixmapFromTag(tag, "File_ButtonAPressed", &found);
    all = all && found;
    m_pButtonBNormal = LoadPixmapFromTag(tag, "File_ButtonBNormal", &found);
    all = all && found;
    m_pButtonBPressed = LoadPixmapFromTag(tag, "File_ButtonBPressed", &found);
    all = all && found;
    m_pSlider = LoadPixmapFromTag(tag, "File_Slider", &found);
    all = all && found;
    m_pKnurls = LoadPixmapFromTag(tag, "File_SliderKnurls", &found);
    all = all && found;
    m_sliderResizeRect = tag->GetRect("SliderResizeRect", FRect(), &found);
    all = all && found;
    if (!all)
        return false;
    if (!SameSize(m_pButtonANormal, m_pButtonAPressed) || !SameSize(m_pButtonBNormal, m_pButtonBPressed) ||
        !SameSize(m_pButtonANormal, m_pButtonBNormal))
        return false;
    const int w = m_pButtonANormal->GetWidth();
    const int h = m_pButtonANormal->GetHeight();
    if (m_bHorizontal ? m_pKnurls->GetHeight() > h : m_pKnurls->GetWidth() > w)
        return false;

    if (m_bHorizontal) {
        m_iMinWidth = SaturatedSize(3LL * w);
        m_iMinHeight = h + m_iSeparator;
        SetWidgetLayout(m_hLayout, m_iMinWidth, m_iStretch);
        SetWidgetLayout(m_vLayout, m_iMinHeight, 0);
    } else {
        m_iMinWidth = w + m_iSeparator;
        m_iMinHeight = SaturatedSize(3LL * h);
        SetWidgetLayout(m_hLayout, m_iMinWidth, 0);
        SetWidgetLayout(m_vLayout, m_iMinHeight, m_iStretch);
    }
    m_parts.buttonA = FRect(0, 0, w, h);
    m_parts.buttonB = FRect(0, 0, w, h);
    return true;
}

bool FUiScrollbar::AddEventTarget(const FWideString& eventName, const FWideString& message, FIUiRelay* target)
{
    if (!(eventName == "ON_SCROLL"))
        return false;
    m_pOnScroll->AddTarget(message, target);
    return true;
}

bool FUiScrollbar::SetRect(int x, int y, int width, int height)
{
    m_rect = FRect(x, y, x + std::max(width, m_iMinWidth), y + std::max(height, m_iMinHeight));
    m_bLayedOut = true;
    priRecalc();
    return true;
}

void FUiScrollbar::priRecalc()
{
    if (!m_bLayedOut || !m_bScrollInfoSet)
        return;
    const int along = m_bHorizontal ? m_pButtonANormal->GetWidth() : m_pButtonANormal->GetHeight();
    const int alongB = m_bHorizontal ? m_pButtonBNormal->GetWidth() : m_pButtonBNormal->GetHeight();
    m_parts = ComputeScrollbarParts(m_bHorizontal, m_rect, along, alongB, m_iSurface, m_iWindow, m_iOffset);
    // Buttons keep their image size across the bar.
    const int w = m_pButtonANormal->GetWidth();
    const int h = m_pButtonANormal->GetHeight();
    m_parts.buttonA.SetWidth(w);
    m_parts.buttonA.SetHeight(h);
    m_parts.buttonB.SetWidth(w);
    m_parts.buttonB.SetHeight(h);

    ReleaseUiPixmap(m_pThumb);
    m_pThumb = CreateUiPixmap(m_parts.thumb.Width(), m_parts.thumb.Height(), false);
    if (!m_pThumb)
        return;
    m_pThumb->FillRGBA(0, 0, 0, 0);
    const FRect band(m_sliderResizeRect.left, m_sliderResizeRect.top, m_sliderResizeRect.right + 1,
                     m_sliderResizeRect.bottom + 1);
    m_pSlider->DrawNineSliceRect(m_pThumb, band, true);
    const int kw = m_pKnurls->GetWidth();
    const int kh = m_pKnurls->GetHeight();
    const int kx = (m_pThumb->GetWidth() - kw + 1) / 2;
    const int ky = (m_pThumb->GetHeight() - kh + 1) / 2;
    m_pKnurls->BlendBlit(m_pThumb, FRect(kx, ky, kx + kw, ky + kh), FRect(0, 0, kw, kh));
}

void FUiScrollbar::priMoveThumb(int start)
{
    const int length = m_parts.thumbLength;
    const FRect& a = m_parts.buttonA;
    const FRect& b = m_parts.buttonB;
    if (m_bHorizontal) {
        m_parts.thumb.left = start;
        m_parts.thumb.right = start + length;
        m_parts.pageBefore = FRect(a.right, a.top, start, a.bottom);
        m_parts.pageAfter = FRect(start + length, a.top, std::max(b.left, start + length), a.bottom);
    } else {
        m_parts.thumb.top = start;
        m_parts.thumb.bottom = start + length;
        m_parts.pageBefore = FRect(a.left, a.bottom, a.right, start);
        m_parts.pageAfter = FRect(a.left, start + length, a.right, std::max(b.top, start + length));
    }
}

void FUiScrollbar::priInvalidate(const FRect& rect)
{
    InvalidateWidgetRect(m_pWindow, rect, false);
}

void FUiScrollbar::priFire()
{
    int offset = m_iOffset;
    m_pOnScroll->Fire(&offset);
}

const FRect& FUiScrollbar::priPartRect(int part) const
{
    switch (part) {
    case kButtonA:
        return m_parts.buttonA;
    case kButtonB:
        return m_parts.buttonB;
    case kPageBefore:
        return m_parts.pageBefore;
    default:
        return m_parts.pageAfter;
    }
}

void FUiScrollbar::priStep(int64_t delta, bool fireAlways)
{
    const int64_t wanted = std::clamp<int64_t>(int64_t(m_iOffset) + delta, 0, priMaxOffset());
    const bool changed = wanted != m_iOffset;
    m_iOffset = int(wanted);
    if (!changed && !fireAlways)
        return;
    priRecalc();
    priInvalidate(m_rect);
    priFire();
}

bool FUiScrollbar::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        m_pOnInit->Fire(nullptr);
        return true;
    }
    if (message == "Set") {
        if (!data)
            return false;
        const double* values = static_cast<const double*>(data);
        const int surface = ScrollValueFromDouble(values[0]);
        const int window = ScrollValueFromDouble(values[1]);
        int offset = ScrollValueFromDouble(values[2]);
        if (surface == m_iSurface && window == m_iWindow && offset == m_iOffset && m_bScrollInfoSet)
            return true;
        m_iSurface = surface;
        m_iWindow = window;
        m_bScrollInfoSet = true;
        if (window < 1 || surface < 1 || surface < window) {
            DebugTrace(
                "FUiScrollbar::UiRelayMessage(\"Set\", surf=%d, win=%d, offset=%d) bad window and/or bad "
                "surface sizes!!!\n",
                surface, window, offset);
            // An inert bar reports nothing: there is no offset a target could use.
            m_bScrollInfoSet = false;
            m_iOffset = 0;
            priInvalidate(m_rect);
            return true;
        }
        const int corrected = std::clamp(offset, 0, surface - window);
        if (corrected != offset) {
            offset = corrected;
            m_pOnScroll->Fire(&offset);
        }
        m_iOffset = offset;
        priRecalc();
        priInvalidate(m_rect);
        return true;
    }
    if (message == "Set100%") {
        if (m_iSurface == 100 && m_iWindow == 100 && m_iOffset == 0 && m_bScrollInfoSet)
            return true;
        m_iOffset = 0;
        m_iSurface = 100;
        m_iWindow = 100;
        m_bScrollInfoSet = true;
        priRecalc();
        priInvalidate(m_rect);
        return true;
    }
    return false;
}

void FUiScrollbar::Display(FIUiPixmap* target, int, int, const FRect& clip)
{
    if (!m_bLayedOut) {
        DebugTraceText("FUiScrollbar::Display() !draw becasue !m_bLayedOut\n");
        return;
    }
    if (!m_bScrollInfoSet) {
        DebugTraceText("FUiScrollbar::Display() !draw becasue !m_bScrollInfoSet\n");
        return;
    }
    const FRect separator = m_bHorizontal ? FRect(m_rect.left, m_rect.top, m_rect.right, m_rect.top + 1)
                                          : FRect(m_rect.left, m_rect.top, m_rect.left + 1, m_rect.bottom);
    FillWidgetRect(target, separator, clip, m_separatorColor);
    DrawWidgetPicture(m_highlighted[kButtonA] ? m_pButtonAPressed : m_pButtonANormal, target, m_parts.buttonA,
                      clip);
    if (!IsWidgetRectEmpty(m_parts.pageBefore))
        FillWidgetRect(target, m_parts.pageBefore, clip,
                       m_highlighted[kPageBefore] ? m_bgClickColor : m_bgColor);
    DrawWidgetPicture(m_pThumb, target, m_parts.thumb, clip);
    if (!IsWidgetRectEmpty(m_parts.pageAfter))
        FillWidgetRect(target, m_parts.pageAfter, clip,
                       m_highlighted[kPageAfter] ? m_bgClickColor : m_bgColor);
    DrawWidgetPicture(m_highlighted[kButtonB] ? m_pButtonBPressed : m_pButtonBNormal, target, m_parts.buttonB,
                      clip);
}

FIUiObject* FUiScrollbar::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiScrollbar::MouseDown(int x, int y, bool, bool)
{
    if (!m_bScrollInfoSet)
        return true;
    m_bDragging = false;
    auto press = [&](int part, int64_t wanted) {
        SetWidgetMouseCapture(m_pWindow, this, true);
        m_highlighted[part] = true;
        m_held[part] = true;
        m_iOffset = int(std::clamp<int64_t>(wanted, 0, std::max(priMaxOffset(), 0)));
        priRecalc();
        priInvalidate(m_rect);
        priFire();
    };
    const int64_t offset = m_iOffset;
    if (WidgetRectContains(m_parts.buttonA, x, y)) {
        press(kButtonA, offset - 1);
    } else if (WidgetRectContains(m_parts.pageBefore, x, y)) {
        press(kPageBefore, offset - m_iWindow);
    } else if (WidgetRectContains(m_parts.thumb, x, y)) {
        SetWidgetMouseCapture(m_pWindow, this, true);
        m_bDragging = true;
        m_iDragPointer = priAlong(x, y);
        m_iDragThumbStart = m_bHorizontal ? m_parts.thumb.left : m_parts.thumb.top;
    } else if (WidgetRectContains(m_parts.pageAfter, x, y)) {
        press(kPageAfter, offset + m_iWindow);
    } else if (WidgetRectContains(m_parts.buttonB, x, y)) {
        press(kButtonB, offset + 1);
    }
    return true;
}

void FUiScrollbar::MouseUp(int, int, bool, bool)
{
    if (!m_bScrollInfoSet)
        return;
    if (m_bDragging) {
        SetWidgetMouseCapture(m_pWindow, this, false);
        m_bDragging = false;
        priRecalc();
        priInvalidate(m_rect);
        return;
    }
    for (int part : {kButtonA, kButtonB, kPageBefore, kPageAfter}) {
        if (!m_held[part])
            continue;
        SetWidgetMouseCapture(m_pWindow, this, false);
        m_held[part] = false;
        if (m_highlighted[part]) {
            m_highlighted[part] = false;
            m_bRepeatArmed = false;
            priInvalidate(priPartRect(part));
        }
    }
}

void FUiScrollbar::MouseMove(int x, int y)
{
    if (m_bDragging) {
        const FRect& a = m_parts.buttonA;
        const FRect& b = m_parts.buttonB;
        const int minStart = m_bHorizontal ? a.right : a.bottom;
        const int maxStart = (m_bHorizontal ? b.left : b.top) - m_parts.thumbLength;
        const int64_t wanted = int64_t(m_iDragThumbStart) + priAlong(x, y) - m_iDragPointer;
        const int start = int(std::clamp<int64_t>(wanted, minStart, std::max(minStart, maxStart)));
        const int current = m_bHorizontal ? m_parts.thumb.left : m_parts.thumb.top;
        if (start == current)
            return;
        m_iOffset = ScrollbarDragOffset(m_iSurface, m_iWindow, start, minStart, maxStart);
        priMoveThumb(start);
        priInvalidate(m_rect);
        priFire();
        return;
    }
    for (int part : {kButtonA, kButtonB, kPageBefore, kPageAfter}) {
        if (!m_held[part])
            continue;
        const bool inside = WidgetRectContains(priPartRect(part), x, y);
        if (m_highlighted[part] && !inside) {
            m_highlighted[part] = false;
            m_bRepeatArmed = false;
            priInvalidate(priPartRect(part));
        } else if (!m_highlighted[part] && inside) {
            m_highlighted[part] = true;
            priInvalidate(priPartRect(part));
        }
        return;
    }
}

void FUiScrollbar::MouseEnter(int x, int y)
{
    for (int part : {kButtonA, kButtonB, kPageBefore, kPageAfter}) {
        if (m_held[part] && !m_highlighted[part] && WidgetRectContains(priPartRect(part), x, y)) {
            m_highlighted[part] = true;
            priInvalidate(priPartRect(part));
        }
    }
}

void FUiScrollbar::MouseLeave(int, int)
{
    for (int part : {kButtonA, kButtonB, kPageBefore, kPageAfter}) {
        if (m_highlighted[part]) {
            m_highlighted[part] = false;
            m_bRepeatArmed = false;
            priInvalidate(priPartRect(part));
        }
    }
}

void FUiScrollbar::Tick(int elapsedMs)
{
    if (!m_bScrollInfoSet)
        return;
    int part = -1;
    for (int p : {kButtonA, kButtonB, kPageBefore, kPageAfter}) {
        if (m_highlighted[p]) {
            part = p;
            break;
        }
    }
    if (part < 0)
        return;
    if (!m_bRepeatArmed) {
        m_bRepeatArmed = true;
        m_bRepeatFast = false;
        m_iRepeatTime = 0;
        return;
    }
    m_iRepeatTime += std::max(elapsedMs, 0);
    if (!m_bRepeatFast) {
        if (m_iRepeatTime <= kRepeatDelayMs)
            return;
        m_iRepeatTime -= kRepeatDelayMs;
        m_bRepeatFast = true;
        return;
    }
    if (m_iRepeatTime <= kRepeatPeriodMs)
        return;
    m_iRepeatTime -= kRepeatPeriodMs;
    const int steps[kPartCount] = {-1, 1, -m_iWindow, m_iWindow};
    priStep(steps[part], true);
}

void FUiScrollbar::MouseWheel(int, int, int, int notches)
{
    if (!m_bScrollInfoSet)
        return;
    priStep(-int64_t(notches), false);
}

void FUiScrollbar::KeyEvent(uint16_t code, bool, bool)
{
    if (!m_bScrollInfoSet)
        return;
    if ((code == kKeyUp && !m_bHorizontal) || (code == kKeyLeft && m_bHorizontal))
        priStep(-1, true);
    else if ((code == kKeyDown && !m_bHorizontal) || (code == kKeyRight && m_bHorizontal))
        priStep(1, true);
    else if (code == kKeyPageUp)
        priStep(-m_iWindow, true);
    else if (code == kKeyPageDown)
        priStep(m_iWindow, true);
}
