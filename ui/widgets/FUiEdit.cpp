#include "FUiEdit.h"

#include <algorithm>
#include <cstdint>

#include "FGenericUiWindow.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiTextLayout.h"
#include "FUiWidgets.h"

namespace
{

class FUiEditCreator final : public FUiWidgetCreator<FUiEdit>
{
};

constexpr uint16_t kKeyEnd = 2;
constexpr uint16_t kKeyCopyNothing = 3;
constexpr uint16_t kKeyBackspace = 8;
constexpr uint16_t kKeyTab = 9;
constexpr uint16_t kKeyEnter = 13;
constexpr uint16_t kKeyUp = 14;
constexpr uint16_t kKeyPageUp = 17;
constexpr uint16_t kKeyPageDown = 18;
constexpr uint16_t kKeyDown = 19;
constexpr uint16_t kKeyHome = 20;
constexpr uint16_t kKeyDelete = 127;
constexpr uint16_t kKeyRight = 145;
constexpr uint16_t kKeyLeft = 146;

constexpr int kBlinkPeriodMs = 325;
constexpr int kCursorWidth = 1;

FWideString Units(const FWideString& text, int start, int end)
{
    FWideString out;
    if (end > start)
        out.Assign(text.GetBuffer() + start, text.GetBuffer() + end - 1);
    return out;
}

// Cut to at most `limit` units without splitting a pair.
FWideString CutToUnits(const FWideString& text, int64_t limit)
{
    if (text.GetLength() <= limit)
        return text;
    const int end = FloorCharBoundary(text.GetBuffer(), text.GetLength(), int(std::max<int64_t>(limit, 0)));
    return Units(text, 0, end);
}

} // namespace

bool RegisterUiEdit(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiEditCreator>(factory, "EDIT_BOX");
}

FUiEdit::FUiEdit(const char* typeName) : FUiObject(typeName)
{
    m_pOnInit = AddEvent(FWideString("ON_INIT"));
    m_pOnSendString = AddEvent(FWideString("ON_SEND_STRING"));
    m_pOnNewString = AddEvent(FWideString("ON_NEW_STRING"));
    m_pOnEnterHit = AddEvent(FWideString("ON_ENTER_HIT"));
    m_pOnStringNotEmpty = AddEvent(FWideString("ON_STRING_NOT_EMPTY"));
    AddStringProperty("_Text", false, &m_usInitialText, FWideString());
    AddStringProperty("DisplayString", false, &m_usDisplayString, FWideString());
    AddIntProperty("MinHSize", true, &m_iMinHSize, 0);
    AddIntProperty("HStretch", true, &m_iHStretch, 0);
    AddColorProperty("FrameColor", true, &m_frameColor, FUiColor(0, 0, 0, 255));
    AddIntProperty("FrameThickness", true, &m_iFrameThickness, -1);
    AddColorProperty("_FillColor", false, &m_fillColor, FUiColor(255, 255, 255, 255));
    AddColorProperty("_DisabledColor", false, &m_disabledColor, FUiColor(127, 127, 127, 255));
    AddColorProperty("_CursorColor", false, &m_cursorColor, FUiColor(255, 0, 0, 255));
    AddColorProperty("_HighlightColor", false, &m_highlightColor, FUiColor(0, 0, 255, 32));
    AddIntProperty("_MaxTextLen", false, &m_iMaxTextLen, 1000000);
    AddStringProperty("AppFont", false, &m_usAppFont, FWideString());
}

FUiEdit::~FUiEdit()
{
    ReleaseUiPixmap(m_pSlice);
}

bool FUiEdit::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag) || !app || !tag)
        return false;
    // A negative thickness draws no frame; a limit outside 0 .. the cap is held to it.
    m_iFrameThickness = std::max(m_iFrameThickness, 0);
    m_iMaxTextLen = std::clamp(m_iMaxTextLen, 0, kMaxEditTextUnits);
    m_usText = CutToUnits(m_usInitialText, kMaxEditTextUnits);
    m_inlineFont.Read(tag);
    if (!m_usAppFont.IsEmpty()) {
        m_pFont = app->GetAppFont(m_usAppFont);
        if (m_pFont) {
            FWideString language;
            app->AddLanguageListener(this, language);
            if (m_usText.IsEmpty() && !m_usDisplayString.IsEmpty()) {
                if (FIUiMultiLangString* ds = app->GetDisplayString(m_usDisplayString)) {
                    ds->SelectLanguage(language);
                    if (const FWideString* text = ds->GetText())
                        m_usText = CutToUnits(*text, kMaxEditTextUnits);
                }
            }
        }
    }
    m_bFill = WasPropertySet("_FillColor");
    int average = 0;
    m_iLineHeight = 0;
    if (m_pFont)
        m_pFont->GetFontMetrics(nullptr, m_iLineHeight, average);
    else
        MeasureUiText(m_inlineFont.face.GetBuffer(), m_inlineFont.size, m_inlineFont.bold,
                      m_inlineFont.italic, m_inlineFont.underline, &m_iLineHeight, &average);
    m_iHeight = SaturatedSize(int64_t(m_iLineHeight) + 2LL * m_iFrameThickness + 2);
    SetWidgetLayout(m_hLayout, m_iMinHSize, m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iHeight, 0);
    m_rect = FRect(0, 0, m_hLayout.GetMinSize(), m_iHeight);
    return true;
}

bool FUiEdit::SetRect(int x, int y, int width, int height)
{
    const int w = PlacedWidgetLength(m_hLayout, width);
    const int h = PlacedWidgetLength(m_vLayout, height);
    m_rect = FRect(x, y, x + w, y + h);
    ReleaseUiPixmap(m_pSlice);
    priSetCursor(m_iCursor, true);
    return true;
}

bool FUiEdit::priMeasure(const char16_t* text, int length, int* widths)
{
    const FWideString units(text, text + length - 1);
    if (m_pFont)
        return m_pFont->MeasureText(nullptr, units, widths);
    return MeasureUiTextExtents(units.GetBuffer(), m_inlineFont.face.GetBuffer(), m_inlineFont.size,
                                m_inlineFont.bold, m_inlineFont.italic, m_inlineFont.underline, widths);
}

FIUiPixmap* FUiEdit::priRenderSlice(int start, int end)
{
    const FWideString units = Units(m_usText, start, end);
    if (units.IsEmpty())
        return nullptr;
    if (m_pFont)
        return m_pFont->RenderText(nullptr, units, false);
    return RenderInlineFontText(m_inlineFont, units, nullptr);
}

void FUiEdit::priRenderText()
{
    ReleaseUiPixmap(m_pSlice);
    m_widths.clear();
    if (m_pFont && m_pPendingString) {
        if (const FWideString* text = m_pPendingString->GetText())
            m_usText = CutToUnits(*text, kMaxEditTextUnits);
        m_pPendingString = nullptr;
    }
    const int length = m_usText.GetLength();
    if (length > 0) {
        // Only the visible part is ever drawn, so any length can be measured and edited.
        m_widths.assign(size_t(length), 0);
        if (!priMeasure(m_usText.GetBuffer(), length, m_widths.data()))
            m_widths.clear();
    }
    m_pOnSendString->Fire(&m_usText);
    bool notEmpty = !m_usText.IsEmpty();
    m_pOnStringNotEmpty->Fire(&notEmpty);
}

int FUiEdit::priWidth(int index) const
{
    if (index < 0 || m_widths.empty())
        return 0;
    return m_widths[size_t(std::min<int64_t>(index, int64_t(m_widths.size()) - 1))];
}

void FUiEdit::priSetCursor(int position, bool extend)
{
    const char16_t* units = m_usText.GetBuffer();
    const int length = m_usText.GetLength();
    position = std::clamp(position, 0, length);
    if (!IsUnitBoundary(units, length, position))
        ++position;
    m_iCursor = position;
    if (!extend)
        m_iAnchor = position;
    priScrollToCursor();
}

void FUiEdit::priScrollToCursor()
{
    const char16_t* units = m_usText.GetBuffer();
    const int length = m_usText.GetLength();
    const int t = m_iFrameThickness;
    const int64_t innerLeft = int64_t(m_rect.left) + t + 1;
    const int64_t innerRight = int64_t(m_rect.right) - t - 1;
    const int64_t c = priWidth(m_iCursor - 1);
    const int oldScroll = m_iScroll;
    if (innerLeft + c - m_iScroll > innerRight) {
        m_iScroll = int(std::max<int64_t>(c + innerLeft - innerRight, 0));
    } else if (m_iScroll >= c) {
        // One character stays visible left of the cursor.
        const int before = PrevCharBoundary(units, length, m_iCursor);
        m_iScroll = before == 0 ? 0 : priWidth(before - 1);
    }
    if (m_iScroll != oldScroll)
        ReleaseUiPixmap(m_pSlice);
}

bool FUiEdit::priDeleteSelection()
{
    if (m_iAnchor == m_iCursor)
        return false;
    const int start = std::min(m_iAnchor, m_iCursor);
    const int end = std::max(m_iAnchor, m_iCursor);
    m_usText.Erase(start, end - start);
    m_iAnchor = m_iCursor = start;
    return true;
}

void FUiEdit::priInsert(const FWideString& units)
{
    m_usText.Insert(units.GetBuffer(), m_iCursor);
    m_iCursor += units.GetLength();
    m_iAnchor = m_iCursor;
}

void FUiEdit::priInvalidate(bool update)
{
    InvalidateWidgetRect(m_pWindow, m_rect, update);
}

void FUiEdit::priReset()
{
    m_iCursor = m_iAnchor = m_iScroll = 0;
    m_bFocused = false;
    m_bBlinkOn = false;
    ReleaseUiPixmap(m_pSlice);
    priInvalidate(true);
}

int FUiEdit::PositionAt(int x) const
{
    const int length = m_usText.GetLength();
    if (m_widths.empty() || length == 0)
        return 0;
    const int64_t xp = int64_t(x) + m_iScroll - m_iFrameThickness - m_rect.left - 1;
    auto w = [this](int i) { return int64_t(priWidth(i)); };
    if (xp < w(0) / 2)
        return 0;
    int position = length;
    for (int i = 0; i + 1 < length; ++i) {
        if (xp < w(i) + (w(i + 1) - w(i)) / 2) {
            position = i + 1;
            break;
        }
    }
    if (IsUnitBoundary(m_usText.GetBuffer(), length, position))
        return position;
    // Between the halves of a pair: the nearer edge of the whole character.
    const int64_t before = w(position - 2);
    const int64_t after = w(position);
    return xp < before + (after - before) / 2 ? position - 1 : position + 1;
}

int FUiEdit::GetCursorX() const
{
    const int c = m_iCursor == 0 ? 1 : priWidth(m_iCursor - 1);
    return m_rect.left + m_iFrameThickness + c - m_iScroll;
}

void FUiEdit::GetHighlight(int& left, int& width) const
{
    width = 0;
    left = 0;
    if (m_iAnchor == m_iCursor || m_widths.empty())
        return;
    const int start = std::min(m_iAnchor, m_iCursor);
    const int end = std::max(m_iAnchor, m_iCursor);
    const int t = m_iFrameThickness;
    if (start == 0) {
        width = priWidth(end - 1) + 1;
        left = m_rect.left + t + 1 - m_iScroll;
    } else {
        width = priWidth(end - 1) - priWidth(start - 1) + 1;
        left = m_rect.left + t + priWidth(start - 1) - m_iScroll;
    }
}

void FUiEdit::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    const FRect r = OffsetWidgetRect(m_rect, xOffset, yOffset);
    const int t = m_iFrameThickness;
    if (t > 0) {
        FillWidgetRect(target, FRect(r.left, r.top, r.right, r.top + t), clip, m_frameColor);
        FillWidgetRect(target, FRect(r.left, r.bottom - t, r.right, r.bottom), clip, m_frameColor);
        FillWidgetRect(target, FRect(r.left, r.top, r.left + t, r.bottom), clip, m_frameColor);
        FillWidgetRect(target, FRect(r.right - t, r.top, r.right, r.bottom), clip, m_frameColor);
    }
    if (m_bFill)
        FillWidgetRect(target, FRect(r.left + t, r.top + t, r.right - t, r.bottom - t), clip,
                       m_bEnabled ? m_fillColor : m_disabledColor);
    if (m_bBlinkOn && m_iAnchor == m_iCursor) {
        const int x = GetCursorX() + xOffset;
        FillWidgetRect(target, FRect(x, r.top + t + 1, x + kCursorWidth, r.bottom - t - 3), clip,
                       m_cursorColor);
    }
    const FRect textClip =
        IntersectWidgetRects(FRect(r.left + t + 1, r.top + t + 1, r.right - t - 1, r.bottom - t - 1), clip);
    if (IsWidgetRectEmpty(textClip))
        return;
    const int length = m_usText.GetLength();
    if (length > 0 && !m_widths.empty()) {
        // The units whose glyphs can reach into the visible part.
        const int64_t viewLeft = int64_t(m_iScroll) - 2;
        const int64_t viewRight = int64_t(m_iScroll) + (m_rect.Width() - 2 * t - 2) + 2;
        int start = int(std::upper_bound(m_widths.begin(), m_widths.end(), viewLeft) - m_widths.begin());
        int end = int(std::upper_bound(m_widths.begin(), m_widths.end(), viewRight) - m_widths.begin()) + 1;
        start = FloorCharBoundary(m_usText.GetBuffer(), length, start);
        end = std::min(end, length);
        if (!IsUnitBoundary(m_usText.GetBuffer(), length, end))
            ++end;
        if (!m_pSlice || start != m_iSliceStart || end != m_iSliceEnd) {
            ReleaseUiPixmap(m_pSlice);
            m_iSliceStart = start;
            m_iSliceEnd = end;
            if (start < end)
                m_pSlice = priRenderSlice(start, end);
        }
        if (m_pSlice) {
            const int x = r.left + t + 1 - m_iScroll + priWidth(start - 1);
            const int y = r.top + t + 1;
            DrawWidgetPicture(m_pSlice, target,
                              FRect(x, y, x + m_pSlice->GetWidth(), y + m_pSlice->GetHeight()), textClip);
        }
    }
    int left = 0, width = 0;
    GetHighlight(left, width);
    if (width > 0) {
        const int x = left + xOffset;
        const int y = r.top + t + 1;
        FillWidgetRect(target, FRect(x, y, x + width, y + m_iLineHeight), textClip, m_highlightColor);
    }
}

void FUiEdit::Tick(int elapsedMs)
{
    if (!m_bFocused)
        return;
    m_iBlinkTime += std::max(elapsedMs, 0);
    if (m_iBlinkTime <= kBlinkPeriodMs)
        return;
    if (m_pWindow && m_pWindow->IsVisible())
        priInvalidate(false);
    m_bBlinkOn = !m_bBlinkOn;
    m_iBlinkTime = 0;
}

FIUiObject* FUiEdit::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiEdit::MouseDown(int x, int, bool, bool shift)
{
    if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
        window->SetKeyboardObject(this, true);
    SetWidgetMouseCapture(m_pWindow, this, true);
    m_bFocused = true;
    m_bBlinkOn = true;
    m_iBlinkTime = 0;
    m_bDragging = true;
    priSetCursor(PositionAt(x), shift);
    priInvalidate(false);
    return true;
}

void FUiEdit::MouseMove(int x, int)
{
    if (!m_bDragging)
        return;
    priSetCursor(PositionAt(x), true);
    priInvalidate(false);
}

void FUiEdit::MouseUp(int, int, bool, bool)
{
    m_bDragging = false;
    SetWidgetMouseCapture(m_pWindow, this, false);
}

void FUiEdit::KeyboardFocusLost()
{
    m_bFocused = false;
    m_bBlinkOn = false;
    priInvalidate(true);
    m_pOnNewString->Fire(nullptr);
}

void FUiEdit::KeyEvent(uint16_t code, bool, bool shift)
{
    priInvalidate(false);
    const char16_t* units = m_usText.GetBuffer();
    const int length = m_usText.GetLength();
    switch (code) {
    case kKeyEnd:
        priSetCursor(length, shift);
        return;
    case kKeyHome:
        priSetCursor(0, shift);
        return;
    case kKeyLeft:
        if (m_iCursor > 0)
            priSetCursor(PrevCharBoundary(units, length, m_iCursor), shift);
        return;
    case kKeyRight:
        priSetCursor(NextCharBoundary(units, length, m_iCursor), shift);
        return;
    case kKeyEnter:
    case kKeyCopyNothing:
        if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
            window->SetKeyboardObject(this, false);
        m_pOnEnterHit->Fire(nullptr);
        return;
    case kKeyBackspace:
        if (m_iAnchor == m_iCursor && m_iCursor > 0)
            m_iAnchor = PrevCharBoundary(units, length, m_iCursor);
        if (priDeleteSelection()) {
            priRenderText();
            priSetCursor(m_iCursor, false);
        }
        return;
    case kKeyDelete:
        if (m_iAnchor == m_iCursor)
            m_iAnchor = NextCharBoundary(units, length, m_iCursor);
        if (priDeleteSelection()) {
            priRenderText();
            priSetCursor(m_iCursor, false);
        }
        return;
    case kKeyTab:
    case kKeyUp:
    case kKeyPageUp:
    case kKeyPageDown:
    case kKeyDown:
        return;
    default:
        break;
    }
    // Other control codes are shortcuts that reached the box, not text.
    if (code < 32)
        return;
    // The first half of a pair goes in only when its second half will fit too,
    // and the second half of a refused pair is refused with it.
    const bool refusedHalf = m_bHalfRefused;
    m_bHalfRefused = false;
    if (refusedHalf && IsLowSurrogate(char16_t(code)))
        return;
    const int needed = IsHighSurrogate(char16_t(code)) ? 2 : 1;
    if (int64_t(length) + needed > m_iMaxTextLen) {
        m_bHalfRefused = needed == 2;
        return;
    }
    priDeleteSelection();
    FWideString unit;
    unit.Append(char16_t(code));
    m_usText.Insert(unit.GetBuffer(), m_iCursor);
    priRenderText();
    // After a first half the cursor waits between the halves for the second.
    m_iAnchor = ++m_iCursor;
    priScrollToCursor();
}

void FUiEdit::Copy(FWideString& text)
{
    if (m_iAnchor == m_iCursor)
        return;
    text = Units(m_usText, std::min(m_iAnchor, m_iCursor), std::max(m_iAnchor, m_iCursor));
}

void FUiEdit::Cut(FWideString& text)
{
    Copy(text);
    if (priDeleteSelection()) {
        priRenderText();
        priSetCursor(m_iCursor, false);
        priInvalidate(false);
    }
}

void FUiEdit::Paste(const FWideString& text)
{
    const bool deleted = priDeleteSelection();
    // Only the pasted text yields to the limit: what the user already typed stays.
    const int64_t room = std::max<int64_t>(int64_t(m_iMaxTextLen) - m_usText.GetLength(), 0);
    const FWideString pasted = CutToUnits(text, room);
    if (!deleted && pasted.IsEmpty())
        return;
    priInsert(pasted);
    priRenderText();
    priSetCursor(m_iCursor, false);
    priInvalidate(false);
}

bool FUiEdit::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        m_pOnInit->Fire(nullptr);
        priRenderText();
        priInvalidate(false);
        return true;
    }
    if (message == "Set Language") {
        if (!data)
            return false;
        priRenderText();
        priInvalidate(false);
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return true;
    }
    bool changed = false;
    if (message == "Enable" || message == "Disable" || message == "SetEnabled") {
        if (!HandleWidgetEnabling(message, data, m_bEnabled, changed))
            return false;
        if (changed)
            priInvalidate(false);
        return true;
    }
    if (message == "GrabKeyboard") {
        MouseDown(m_rect.left, m_rect.top, false, false);
        MouseUp(m_rect.left, m_rect.top, false, false);
        return true;
    }
    if (message == "GetText") {
        if (!data)
            return false;
        *static_cast<FWideString*>(data) = m_usText;
        return true;
    }
    if (message == "SetText") {
        if (!data)
            return false;
        m_usText = CutToUnits(*static_cast<const FWideString*>(data), kMaxEditTextUnits);
        priRenderText();
        priReset();
        return true;
    }
    if (message == "SetTextString") {
        if (!data)
            return false;
        FIUiMultiLangString* ds =
            m_pApp ? m_pApp->GetDisplayString(*static_cast<const FWideString*>(data)) : nullptr;
        if (ds) {
            m_pPendingString = ds;
            if (const FWideString* text = ds->GetText())
                m_usText = CutToUnits(*text, kMaxEditTextUnits);
            priInvalidate(false);
        }
        priRenderText();
        priReset();
        return true;
    }
    if (message == "EmptyText") {
        m_usText.Clear();
        priRenderText();
        priReset();
        return true;
    }
    if (message == "SendText") {
        if (!data || !m_pApp)
            return false;
        const FWideString* names = static_cast<const FWideString*>(data);
        if (FIUiRelay* relay = m_pApp->GetUiRelay(names[0]))
            relay->UiRelayMessage(names[1], &m_usText);
        return true;
    }
    return false;
}
