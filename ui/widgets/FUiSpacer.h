#pragma once

#include "FUiObject.h"

// SPACER: empty room along its box's axis. As a sliding divider it moves room
// between its two neighbours when dragged, and keeps the split in the state file.
class FUiSpacer : public FUiObject
{
public:
    explicit FUiSpacer(const char* typeName);
    ~FUiSpacer() override;

    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseMove(int x, int y) override;
    void MouseEnter(int x, int y) override;
    void MouseLeave(int x, int y) override;

    bool IsDragging() const { return m_bDragging; }

private:
    // A divider works only between two neighbours.
    bool priIsWorkingDivider();
    FLayoutObject* priNeighbour(FIUiObject* sibling);
    void priNeighboursStretchBySize();

    bool m_bHorizontal = true;
    int m_iMinSize = 0;
    int m_iStretch = 100;
    bool m_bSlidingDivider = false;
    bool m_bDragging = false;
    int m_iLastX = 0;
    int m_iLastY = 0;
    bool m_bShowOutline = false;
    FIUiPixmap* m_pCursor = nullptr;
    bool m_bHasCursor = false;
    int m_iCursorX = 0;
    int m_iCursorY = 0;
};
