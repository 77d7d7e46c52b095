#pragma once

#include <cstdint>

#include "FIUiRelay.h"
#include "FLayoutObject.h"
#include "FRect.h"

class FIUiApp;
class FIUiPixmap;
class FIUiWindow;

// A node of a window's (or the application's) object tree: a relay with a
// rectangle, one layout record per axis, drawing and input. Objects are made by
// the object factory and own their children.
class FIUiObject : public FIUiRelay
{
public:
    ~FIUiObject() override = default;

    virtual FIUiObject* GetNext() = 0;
    virtual FIUiObject* GetPrev() = 0;
    virtual FIUiObject* GetFirstChild() = 0;
    virtual FIUiObject* GetParent() = 0;
    virtual void SetNext(FIUiObject* next) = 0;
    virtual void SetPrev(FIUiObject* prev) = 0;

    // window is null for the application's top-level objects.
    virtual bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) = 0;
    virtual bool IsHBox() = 0;
    virtual bool IsVBox() = 0;
    virtual FLayoutObject* GetLayoutObject(bool horizontal) = 0;
    virtual bool SetRect(int x, int y, int width, int height) = 0;
    virtual bool ReInitLayout() = 0;
    virtual FRect GetRect() = 0;
    virtual void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) = 0;
    virtual void Tick(int elapsedMs) = 0;
    virtual FIUiObject* HitTest(int x, int y) = 0;
    virtual void MouseDoubleClick(int x, int y, bool ctrl, bool shift) = 0;
    virtual bool GetDragData(int x, int y, bool ctrl, bool shift, FWideString& dragData) = 0;
    virtual bool CanDrop(int x, int y) = 0;
    virtual bool Drop(int x, int y, bool ctrl, bool shift, const FWideString& dragData) = 0;
    virtual bool MouseDown(int x, int y, bool ctrl, bool shift) = 0;
    virtual void MouseUp(int x, int y, bool ctrl, bool shift) = 0;
    virtual void MouseEnter(int x, int y) = 0;
    virtual void MouseLeave(int x, int y) = 0;
    virtual void MouseMove(int x, int y) = 0;
    virtual void MouseWheel(int x, int y, int flag, int notches) = 0;
    virtual void KeyEvent(uint16_t code, bool ctrl, bool shift) = 0;
    virtual void Copy(FWideString& text) = 0;
    virtual void Cut(FWideString& text) = 0;
    virtual void Paste(const FWideString& text) = 0;
    virtual void KeyboardFocusLost() = 0;
    virtual void PopupClosed() = 0;
    virtual void PopupOpened() = 0;
    virtual void DebugDump() = 0;
    // The short help a pointer resting on the object shows; false when it has none.
    virtual bool GetToolTip(FWideString& /*text*/) { return false; }
};
