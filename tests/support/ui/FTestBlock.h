#pragma once

// BLOCK: a test object with a fixed rectangle from its script keys (X, Y, W, H)
// that paints itself in Color, is hit inside its rectangle, fires ON_PRESS when
// released, can be dragged (DragData) and accept drops (AcceptDrop), and logs
// every input it receives to the probes' shared log as "<name>:<what>".

#include "FUiObject.h"

class FIUiObjectFactory;

class FTestBlock : public FUiObject
{
public:
    explicit FTestBlock(const char* typeName);

    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool SetRect(int, int, int, int) override { return true; }
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    void MouseDoubleClick(int x, int y, bool ctrl, bool shift) override;
    bool GetDragData(int x, int y, bool ctrl, bool shift, FWideString& dragData) override;
    bool CanDrop(int x, int y) override;
    bool Drop(int x, int y, bool ctrl, bool shift, const FWideString& dragData) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseEnter(int x, int y) override;
    void MouseLeave(int x, int y) override;
    void MouseWheel(int x, int y, int flag, int notches) override;
    void KeyEvent(uint16_t code, bool ctrl, bool shift) override;
    void PopupClosed() override;

private:
    void priLog(const std::string& what);

    FUiColor m_colour;
    FWideString m_usDragData;
    bool m_bAcceptDrop = false;
    int m_x = 0, m_y = 0, m_w = 0, m_h = 0;
};

bool RegisterTestBlock(FIUiObjectFactory* factory);
