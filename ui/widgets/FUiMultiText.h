#pragma once

#include <map>

#include "FUiColor.h"
#include "FUiObject.h"
#include "FUiTextLayout.h"

class FIUiFont;
class FIUiPixmap;

// MULTITEXT: a long text (a display string, or one set at run time) wrapped into
// lines that fit its width, with its own vertical scroll bar shown only when the
// text is taller than the widget. Only the visible lines are ever drawn, so a
// text of any length lays out and scrolls.
class FUiMultiText : public FUiObject
{
public:
    explicit FUiMultiText(const char* typeName);
    ~FUiMultiText() override;

    bool ConnectRelays() override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int, int, bool, bool) override { return true; }
    void MouseWheel(int x, int y, int flag, int notches) override;

    // Lays the text out now when it is not laid out.
    void EnsureLaidOut();
    int GetLineCount() const { return int(m_lines.size()); }
    // The text of laid-out line i (a blank line is " ").
    FWideString GetLine(int index) const;
    int GetTopLine() const { return m_iTopLine; }
    int GetLinePitch() const { return m_iLinePitch; }
    int GetTotalHeight() const { return m_iTotalHeight; }
    // The width each line must fit in.
    int GetAvailableWidth() const;
    FIUiObject* GetScrollbar() const { return m_pScrollbar; }
    FWideString GetSourceText();

private:
    void priDiscard();
    void priLayOut();
    void priSetScrollBar();
    void priInvalidate();
    void priReleaseLinePixmaps();
    bool priIsEastAsian();

    FIUiFont* m_pFont = nullptr;
    int m_iMinHSize = 0;
    int m_iMinVSize = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    FWideString m_usSourceName;
    FUiColor m_bgColor{255, 255, 255, 0};
    bool m_bBgColorGiven = false;
    int m_iMargin = 2;
    FWideString m_usSetText;
    bool m_bTextSet = false;
    FIUiObject* m_pScrollbar = nullptr;
    RelayEvent m_onAddItem;
    int m_iLinePitch = 0;
    int m_iLineHeight = 0;
    int m_iTopLine = 0;
    int m_iTotalHeight = 0;
    bool m_bLaidOut = false;
    FWideString m_usLaidText;
    std::vector<FUiTextLine> m_lines;
    std::map<int, FIUiPixmap*> m_linePixmaps;
    FRect m_scrollbarRect;
};
