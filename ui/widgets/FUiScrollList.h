#pragma once

// SCROLLLIST: a one-column list of text lines, each with an identifier, and
// its own vertical scroll bar. The script fills it by messages; a click
// selects a line and reports its text and identifier.

#include "FUiColor.h"
#include "FUiObject.h"
#include "FUiWidgetFrame.h"

class FIUiFont;
class FIUiPixmap;

struct FUiScrollListItem {
    bool isDisplayString = false;
    FWideString displayStringName;
    FWideString text;
    FWideString identifier;
    bool selected = false;
    FRect hitRect;
    FIUiPixmap* textPixmap = nullptr;
    FUiScrollListItem* next = nullptr;
};

class FUiScrollList : public FUiObject
{
public:
    explicit FUiScrollList(const char* typeName);
    ~FUiScrollList() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool ConnectRelays() override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseEnter(int x, int y) override;
    void MouseLeave(int x, int y) override;
    void MouseMove(int x, int y) override;
    void MouseWheel(int x, int y, int flag, int notches) override;

    int GetItemCount() const { return m_iCount; }
    int GetFirstVisibleLine() const { return m_iFirstVisible; }
    int GetLineHeight() const { return m_iLineHeight; }
    FUiScrollListItem* GetFirstItem() const { return m_pFirstItem; }
    FUiScrollListItem* GetSelectedItem() const { return m_pSelected; }
    FIUiObject* GetScrollbar() const { return m_pScrollbar; }

private:
    void priUpdateScrollInfo();
    void priAddItem(bool isDisplayString, const FWideString& textOrName, const FWideString& identifier);
    FUiScrollListItem* priFindItem(const FWideString& identifier);
    FUiScrollListItem* priItemAt(int x, int y);
    void priDeleteItems();
    void priSelectAt(int x, int y);
    void priFireSelection(FUiScrollListItem* item);
    void priDrawItems(FIUiPixmap* target, int xOffset, int lineTop, const FRect& clip);
    void priRender(FUiScrollListItem* item);
    int priScrollbarWidth() const;
    void priInvalidate();

    bool m_bMouseOver = false;
    bool m_bSelectedBgGiven = false;
    int m_iMinHSize = 0;
    int m_iMinVSize = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    FUiInlineFont m_font;
    FIUiFont* m_pAppFont = nullptr;
    FUiColor m_selectedFontColor{0, 0, 0, 255};
    FUiColor m_selectedBgColor{0, 0, 0, 255};
    FUiColor m_disabledFontColor{0, 0, 0, 255};
    int m_iLineHeight = 0;
    int m_iLeftMargin = 2;
    int m_iCount = 0;
    int m_iFirstVisible = 0;
    FRect m_scrollbarRect;
    RelayEvent* m_pOnSelect = nullptr;
    RelayEvent* m_pOnSelectID = nullptr;
    RelayEvent* m_pOnAddItem = nullptr;
    RelayEvent* m_pOnSetPulldown = nullptr;
    FUiScrollListItem* m_pFirstItem = nullptr;
    FUiScrollListItem* m_pLastItem = nullptr;
    FUiScrollListItem* m_pSelected = nullptr;
    FIUiObject* m_pScrollbar = nullptr;
    FRect m_textArea;
};
