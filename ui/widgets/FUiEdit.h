#pragma once

#include <vector>

#include "FUiColor.h"
#include "FUiObject.h"
#include "FUiWidgetFrame.h"

class FIUiFont;
class FIUiMultiLangString;
class FIUiPixmap;

// The longest text an edit box holds whatever its script asks: prefix widths
// then stay well inside 32 bits.
inline constexpr int kMaxEditTextUnits = 1 << 22;

// EDIT_BOX: a single-line text entry field with a blinking cursor, selection,
// horizontal scrolling, clipboard operations and a length limit. Positions
// count UTF-16 units but never fall between the halves of a surrogate pair.
class FUiEdit : public FUiObject
{
public:
    explicit FUiEdit(const char* typeName);
    ~FUiEdit() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseMove(int x, int y) override;
    void KeyEvent(uint16_t code, bool ctrl, bool shift) override;
    void Copy(FWideString& text) override;
    void Cut(FWideString& text) override;
    void Paste(const FWideString& text) override;
    void KeyboardFocusLost() override;

    const FWideString& GetText() const { return m_usText; }
    int GetCursor() const { return m_iCursor; }
    int GetAnchor() const { return m_iAnchor; }
    int GetScrollOffset() const { return m_iScroll; }
    bool IsFocused() const { return m_bFocused; }
    bool IsCursorShown() const { return m_bBlinkOn; }
    bool IsEnabled() const { return m_bEnabled; }
    int GetMaxTextLength() const { return m_iMaxTextLen; }
    // The highlight's left edge and width in window coordinates; width 0 without a selection.
    void GetHighlight(int& left, int& width) const;
    // The cursor bar's x in window coordinates.
    int GetCursorX() const;
    // The position a pointer at x stands for.
    int PositionAt(int x) const;

private:
    int priWidth(int index) const;
    void priRenderText();
    void priSetCursor(int position, bool extend);
    void priScrollToCursor();
    bool priDeleteSelection();
    void priInsert(const FWideString& units);
    void priReset();
    void priInvalidate(bool update);
    bool priMeasure(const char16_t* text, int length, int* widths);
    FIUiPixmap* priRenderSlice(int start, int end);

    // Declared properties.
    FWideString m_usInitialText;
    FWideString m_usDisplayString;
    int m_iMinHSize = 0;
    int m_iHStretch = 0;
    FUiColor m_frameColor{0, 0, 0, 255};
    int m_iFrameThickness = -1;
    FUiColor m_fillColor{255, 255, 255, 255};
    FUiColor m_disabledColor{127, 127, 127, 255};
    FUiColor m_cursorColor{255, 0, 0, 255};
    FUiColor m_highlightColor{0, 0, 255, 32};
    int m_iMaxTextLen = 1000000;
    FWideString m_usAppFont;

    FWideString m_usText;
    std::vector<int> m_widths;
    FUiInlineFont m_inlineFont;
    FIUiFont* m_pFont = nullptr;
    bool m_bEnabled = true;
    bool m_bFill = false;
    // The drawn part of the text: units [m_iSliceStart, m_iSliceEnd).
    FIUiPixmap* m_pSlice = nullptr;
    int m_iSliceStart = 0;
    int m_iSliceEnd = 0;
    int m_iAnchor = 0;
    int m_iCursor = 0;
    int m_iScroll = 0;
    bool m_bFocused = false;
    bool m_bBlinkOn = false;
    int m_iBlinkTime = 0;
    bool m_bDragging = false;
    bool m_bHalfRefused = false;
    int m_iLineHeight = 0;
    int m_iHeight = 0;
    FIUiMultiLangString* m_pPendingString = nullptr;

    RelayEvent* m_pOnInit = nullptr;
    RelayEvent* m_pOnSendString = nullptr;
    RelayEvent* m_pOnNewString = nullptr;
    RelayEvent* m_pOnEnterHit = nullptr;
    RelayEvent* m_pOnStringNotEmpty = nullptr;
};
