#pragma once

#include <vector>

#include "FIOsUiWindow.h"
#include "FIUiWindow.h"
#include "FRect.h"
#include "FUiColor.h"
#include "RelayEvent.h"

class FIUiObject;
class FIUiPixmap;
class FUiMenu;
class FUiWindowClass;

// The largest client side a script or a saved state can ask for: a window's
// pixmaps then stay within 256 MiB each.
inline constexpr int kMaxUiWindowSide = 8192;
// Windows and window classes one script may declare; each costs buffers once shown.
inline constexpr int kMaxUiScriptWindows = 256;

// The data of "GetChildWindow": the name asked for, and the answer.
struct FUiChildWindowQuery {
    FWideString name;
    FIUiWindow* window = nullptr;
};

// The portable window: made from a WINDOW or WINDOWCLASS tag, it owns the
// objects of the tag and an OS window, draws through a dirty list, routes
// pointer and key input to its objects, carries out the window commands and
// fires the window events.
class FGenericUiWindow : public FIUiWindow, public FIOsUiWindowOwner
{
public:
    FGenericUiWindow(FIUiApp* app, FUiWindowClass* windowClass);
    ~FGenericUiWindow() override;
    FGenericUiWindow(const FGenericUiWindow&) = delete;
    FGenericUiWindow& operator=(const FGenericUiWindow&) = delete;

    // FIOsObject
    void* GetOsInfo(int kind) override;
    bool SetOsInfo(int kind, void* value) override;

    // FIUiRelay
    bool InitRelay(FPropList* tag) override;
    void GetName(FWideString& name) override { name = m_usName; }
    void GetFullName(FWideString& name) override { name = m_usFullName; }
    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }

    // FIUiWindow
    FIUiWindow* GetPrevWindow() override { return m_pPrevWindow; }
    FIUiWindow* GetNextWindow() override { return m_pNextWindow; }
    void SetTickWindow() override { m_bTickWindow = true; }
    void SetPrevWindow(FIUiWindow* window) override { m_pPrevWindow = window; }
    void SetNextWindow(FIUiWindow* window) override { m_pNextWindow = window; }
    FIUiApp* GetApp() override { return m_pApp; }
    FIUiObjectFactory* GetFactory() override;
    bool InitUiWindow(FPropList* tag, FIUiWindow* parent) override;
    bool SetVisible(bool visible) override;
    bool IsModal() override { return m_bModal; }
    bool IsVisible() override { return m_bVisible; }
    void EnableWindow() override;
    void DisableWindow() override;
    int SendToAllObjects(const FWideString& message, void* data) override;
    bool IsNamed(const FWideString& name) override { return m_usName == name; }
    void Activate() override;

    // Window operations objects use.
    void SetParentWindow(FGenericUiWindow* window) { m_pParentWindow = window; }
    void AddChildWindow(FGenericUiWindow* window);
    void RemoveChildWindow(FGenericUiWindow* window);
    void ClearQuitOnDestroy();
    void Invalidate(const FRect* rect);
    void Update() { UpdateIfInvalid(); }
    void InvalidateAndUpdate(const FRect* rect);
    void Move(int x, int y);
    void Close();
    bool CloseInstance();
    void PresentRect(const FRect& destination, const FRect& source, FIUiPixmap* pixmap);
    bool SetMouseCapture(FIUiObject* object, bool on);
    bool SetKeyboardObject(FIUiObject* object, bool on);
    void SetPopupObject(FIUiObject* object, bool on);
    void SetChildrenEnabled(bool enable);
    void GetTitle(FWideString& title);
    void LayoutObjects();
    // The objects lay themselves out again; the client area shrinks by (dx, dy) down to the minimum.
    void ReInitLayout(int dx, int dy);
    FIUiPixmap* GetBackgroundPixmap() const { return m_pBackground; }
    void HoldHidden();
    void ReleaseHold();
    void GetWindowRect(FRect& rect);
    void SetCursor(FIUiPixmap* pixmap, int hotX, int hotY);
    void GetMinSize(int& width, int& height);
    bool ApplyClientSize(int width, int height);
    void SetClientSize(int width, int height);
    void Redraw();

    // FIOsUiWindowOwner
    void OnOsClose() override;
    void OnOsResize(int width, int height) override;
    void OnOsMove(int left, int top) override;
    void OnActivate() override;
    void OnDeactivate() override;
    void OnZOrderChanged() override;
    void OnMinimized() override;
    void OnMaximized() override;
    void OnRestored() override;
    bool MouseDown(int button, int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int button, int x, int y, bool ctrl, bool shift) override;
    bool MouseDoubleClick(int button, int x, int y, bool ctrl, bool shift) override;
    void MouseMove(int x, int y) override;
    void MouseWheel(int x, int y, int flag, int notches) override;
    void MouseLeftWindow(int x, int y) override;
    void KeyEvent(uint16_t code, bool ctrl, bool shift) override;
    void Tick(double seconds) override;
    void UpdateIfInvalid() override;
    void OnOsDestroyed() override;
    FOsWindowStyle GetOsWindowStyle() override;

    void Copy(FWideString& text) override;
    void Cut(FWideString& text) override;
    void Paste(const FWideString& text) override;

    // The pull-downs of a MENU tag; the OS window makes their OS side.
    void CreateMenus(FPropList* menuTag);
    FUiMenu* GetFirstMenu() const { return m_pFirstMenu; }

    bool IsQuitOnDestroy() const { return m_bQuitOnDestroy; }
    bool IsTickWindow() const { return m_bTickWindow; }
    bool IsOsEnabled() const { return m_bOsEnabled; }
    bool AreChildrenEnabled() const { return m_bChildrenEnabled; }
    bool IsDisplayDisabled() const { return m_bDisplayDisabled; }
    bool IsHeldHidden() const { return m_bHeldHidden; }
    // Visible and not held off the screen (a tool window of a hidden owner is held).
    bool IsOnScreen() const { return m_bVisible && !m_bHeldHidden; }
    bool IsResizable() const { return m_bResizable; }
    FUiWindowClass* GetWindowClass() const { return m_pClass; }
    FIUiObject* GetFirstObject() const { return m_pFirstObject; }
    FIUiObject* GetHoverObject() const { return m_pHover; }
    // Where the shown tool tip lies; empty while none shows.
    const FRect& GetToolTipRect() const { return m_tipRect; }
    FIUiObject* GetPopupObject() const { return m_pPopup; }
    FIUiObject* GetKeyboardObject() const { return m_pKeyboard; }
    FIOsUiWindow* GetOsWindow() const { return m_pOsWindow; }
    FIUiPixmap* GetWindowPixmap() const { return m_pWindowPixmap; }
    // Bytes of the background and back buffer; none until the window is first shown.
    size_t GetBufferBytes() const;
    const std::vector<FRect>& GetDirtyList() const { return m_dirty; }
    RelayEvent* FindEvent(const char* name);

private:
    bool priFire(const char* eventName, void* data = nullptr);
    bool priCloseRequested(bool internal);
    void priSaveState();
    void priToolWindowsFollow();
    void priFollowOwner(bool ownerOnScreen);
    void priReadLook(FPropList* tag);
    void priMakeDefaultLook(FPropList* tag);
    void priPaintDefaultLook(int width, int height);
    void priCentreBusyAnimation();
    void priTipTick(int elapsedMs);
    void priShowTip(const FWideString& text);
    void priHideTip();
    void priDrawTip(const FRect& clip);
    void priPresentWhole(bool tinted);
    void priDisplayPopup(const FRect& clip);
    void priPresentClipped(const FRect& rect);
    bool priUpdateDragCursor(FIUiObject* target, int x, int y);
    void priEndDrag();
    FIUiObject* priHitTopLevel(int x, int y);

    FIUiApp* m_pApp;
    FUiWindowClass* m_pClass;
    FWideString m_usName;
    FWideString m_usFullName;
    bool m_bNameFound = false;
    bool m_bPostInitDone = false;
    bool m_bTickWindow = false;
    bool m_bCursorResetPending = true;
    bool m_bOsEnabled = true;
    bool m_bChildrenEnabled = true;
    bool m_bDrawDisabledColor = false;
    bool m_bYellowRects = false;
    bool m_bDisplayDisabled = false;
    bool m_bVisible = true;
    bool m_bHeldHidden = false;
    bool m_bModal = false;
    bool m_bCentreOnParent = false;
    bool m_bCascade = false;
    bool m_bToolWindow = false;
    bool m_bHasGrowIcon = false;
    bool m_bTopMost = false;
    bool m_bBagTheTitleBar = false;
    bool m_bResizable = true;
    bool m_bSkinned = false;
    bool m_bDefaultLook = false;
    bool m_bBuffersWanted = false;
    FWideString m_usDefaultText;
    FWideString m_usDefaultFont;
    int m_iDefaultFontHeight = 14;
    bool m_bHideOnClose = false;
    bool m_bMessageOnClose = false;
    bool m_bQuitOnDestroy = true;
    bool m_bSaveState = false;
    bool m_bListening = false;
    bool m_bStale = false;
    bool m_bDestroying = false;
    FUiColor m_disabledColor{0, 0, 0, 128};
    FUiColor m_bgColor{198, 100, 88, 255};
    FUiColor m_frameColor;
    int m_iFrameThickness = -1;
    int m_bgX0 = -1, m_bgX1 = -1, m_bgY0 = -1, m_bgY1 = -1;
    FRect m_rect;
    FIOsUiWindow* m_pOsWindow = nullptr;
    FIUiWindow* m_pPrevWindow = nullptr;
    FIUiWindow* m_pNextWindow = nullptr;
    FGenericUiWindow* m_pParentWindow = nullptr;
    std::vector<FGenericUiWindow*> m_childWindows;
    FIUiObject* m_pFirstObject = nullptr;
    FUiMenu* m_pFirstMenu = nullptr;
    FIUiObject* m_pBusyAnimation = nullptr;
    FWideString m_usTitle;
    FWideString m_usTitlePostfix;
    FWideString m_usDisplayString;
    FIUiPixmap* m_pSkin = nullptr;
    FIUiPixmap* m_pBackground = nullptr;
    FIUiPixmap* m_pWindowPixmap = nullptr;
    std::vector<FRect> m_dirty;
    std::vector<RelayEvent*> m_events;

    // Input routing.
    FIUiObject* m_pKeyboard = nullptr;
    FIUiObject* m_pCapture = nullptr;
    FIUiObject* m_pPressed[2] = {nullptr, nullptr};
    FIUiObject* m_pHover = nullptr;
    FIUiObject* m_pPopup = nullptr;
    // The tool tip of the object the pointer rests on.
    FIUiObject* m_pTipObject = nullptr;
    int m_iTipWaitMs = 0;
    int m_iPointerX = 0;
    int m_iPointerY = 0;
    FRect m_tipRect;
    FIUiPixmap* m_pTipText = nullptr;
    bool m_bDragArmed = false;
    bool m_bDragging = false;
    int m_iDragX = 0;
    int m_iDragY = 0;
    FWideString m_usDragData;
};

// Makes a window from a WINDOW or WINDOWCLASS tag; null when it cannot be initialised.
FIUiWindow* CreateUiWindow(FIUiApp* app, FPropList* tag, FUiWindowClass* windowClass, FIUiWindow* parent);

// Windows closed from inside their own handlers are deleted only once the
// outermost dispatch has returned; these run the waiting deletions.
void DeleteUiWindowLater(FIUiWindow* window);
void RunDeferredUiWindowDeletions();
bool IsUiWindowDeletionPending(FIUiWindow* window);
