#pragma once

#include <cstdint>

#include "FIOsObject.h"
#include "FRect.h"
#include "FUiColor.h"
#include "FWideString.h"

class FIGenericUiMenu;
class FIOsUiMenu;
class FIUiApp;
class FIUiPixmap;
class FPropList;

// How the OS window is to be made.
struct FOsWindowStyle {
    bool resizable = true;
    bool toolWindow = false;
    bool topMost = false;
    bool titleBarHidden = false;
    int minWidth = 0;
    int minHeight = 0;
};

// What the OS window reports to the portable window that owns it.
class FIOsUiWindowOwner
{
public:
    virtual ~FIOsUiWindowOwner() = default;
    virtual void OnOsClose() = 0;
    virtual void OnOsResize(int width, int height) = 0;
    virtual void OnOsMove(int left, int top) = 0;
    virtual void OnActivate() = 0;
    virtual void OnDeactivate() = 0;
    virtual void OnZOrderChanged() = 0;
    virtual void OnMinimized() = 0;
    virtual void OnMaximized() = 0;
    virtual void OnRestored() = 0;
    virtual bool MouseDown(int button, int x, int y, bool ctrl, bool shift) = 0;
    virtual void MouseUp(int button, int x, int y, bool ctrl, bool shift) = 0;
    virtual bool MouseDoubleClick(int button, int x, int y, bool ctrl, bool shift) = 0;
    virtual void MouseMove(int x, int y) = 0;
    virtual void MouseWheel(int x, int y, int flag, int notches) = 0;
    virtual void MouseLeftWindow(int x, int y) = 0;
    virtual void KeyEvent(uint16_t code, bool ctrl, bool shift) = 0;
    // The keyboard object's selection for Ctrl+C and Ctrl+X, and Ctrl+V's text.
    virtual void Copy(FWideString& text) = 0;
    virtual void Cut(FWideString& text) = 0;
    virtual void Paste(const FWideString& text) = 0;
    virtual void Tick(double seconds) = 0;
    virtual void UpdateIfInvalid() = 0;
    // While the application shuts down the OS window's end says no farewell.
    virtual void OnOsDestroyed() = 0;
    virtual FOsWindowStyle GetOsWindowStyle() { return FOsWindowStyle(); }
};

// The operating-system side of one window: geometry, showing, presenting pixels.
class FIOsUiWindow : public FIOsObject
{
public:
    ~FIOsUiWindow() override = default;

    virtual bool Create(FIOsUiWindow* ownerWindow, const FWideString& title) = 0;
    virtual void Destroy() = 0;
    virtual bool IsCreated() = 0;
    virtual void Show(bool show, bool centre) = 0;
    virtual void Move(int left, int top) = 0;
    virtual void SetClientSize(int width, int height) = 0;
    // The last normal rectangle of the client area on the screen; never changes the window's state.
    virtual void GetWindowRect(FRect& rect) = 0;
    virtual void Present(const FRect& destination, const FRect& source, FIUiPixmap* pixmap) = 0;
    virtual void FillWithColor(const FUiColor& colour) = 0;
    virtual void Enable(bool enable) = 0;
    virtual void Activate() = 0;
    virtual void SetTitle(const FWideString& title) = 0;
    // Null means the arrow.
    virtual void SetCursor(FIUiPixmap* pixmap, int hotX, int hotY) = 0;
    virtual void ShowCursor(bool show) = 0;
    // Destroying the window will not end the message loop.
    virtual void ClearQuitOnDestroy() = 0;
    // A close request that arrives later, as if the user asked.
    virtual void PostClose() = 0;
    // The OS side of one pull-down, made only before the window exists; null
    // afterwards or without a tag. Owned by the OS window.
    virtual FIOsUiMenu* CreateMenu(FIUiApp* app, FIGenericUiMenu* menu, FPropList* tag) = 0;
};

FIOsUiWindow* CreateOsUiWindow(FIOsUiWindowOwner* owner);
void DeleteOsUiWindow(FIOsUiWindow*& window);
