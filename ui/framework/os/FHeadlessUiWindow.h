#pragma once

// The headless OS window: an off-screen framebuffer with a log of what was
// presented, input injected by tests and a virtual 10 ms timer.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FIOsUiWindow.h"
#include "FOsKeyInput.h"
#include "FOsMenuBar.h"

class FHeadlessUiWindow : public FIOsUiWindow
{
public:
    explicit FHeadlessUiWindow(FIOsUiWindowOwner* owner);
    ~FHeadlessUiWindow() override;

    void* GetOsInfo(int kind) override;
    bool SetOsInfo(int, void*) override { return false; }
    bool Create(FIOsUiWindow* ownerWindow, const FWideString& title) override;
    void Destroy() override;
    bool IsCreated() override { return m_bCreated; }
    void Show(bool show, bool centre) override;
    void Move(int left, int top) override;
    void SetClientSize(int width, int height) override;
    void GetWindowRect(FRect& rect) override { rect = m_rect; }
    void Present(const FRect& destination, const FRect& source, FIUiPixmap* pixmap) override;
    void FillWithColor(const FUiColor& colour) override;
    void Enable(bool enable) override { m_bEnabled = enable; }
    void Activate() override;
    void SetTitle(const FWideString& title) override { m_usTitle = title; }
    void SetCursor(FIUiPixmap* pixmap, int hotX, int hotY) override;
    void ShowCursor(bool show) override { m_bCursorShown = show; }
    void ClearQuitOnDestroy() override { m_bQuitOnDestroy = false; }
    void PostClose() override;
    FIOsUiMenu* CreateMenu(FIUiApp* app, FIGenericUiMenu* menu, FPropList* tag) override;

    // Input as the user would give it; ignored while the window is disabled.
    void InjectMouseDown(int x, int y, int clicks = 1, bool ctrl = false, bool shift = false);
    void InjectMouseUp(int x, int y, bool ctrl = false, bool shift = false);
    void InjectMouseMove(int x, int y);
    void InjectWheel(int x, int y, int notches);
    void InjectKey(uint16_t code, bool ctrl = false, bool shift = false);
    void InjectClose();
    void InjectPointerLeft();
    // Keys and text through the shared key model, accelerators and clipboard included.
    void InjectKeyDown(EOsKey key, int value = 0, bool repeat = false);
    void InjectKeyUp(EOsKey key);
    void InjectText(const std::string& utf8);
    // A choice from the menu bar, as a click on the item would make it.
    void ChooseMenuItem(int menuIndex, int position);
    FOsMenuBar& GetMenuBar() { return m_menuBar; }
    // The size of the icon the window was made with; 0 for none.
    int GetIconSize() const { return m_iIconSize; }

    bool IsShown() const { return m_bShown; }
    bool IsEnabled() const { return m_bEnabled; }
    const FWideString& GetTitle() const { return m_usTitle; }
    FIOsUiWindowOwner* GetOwner() const { return m_pOwner; }
    FHeadlessUiWindow* GetOwnerWindow() const { return m_pOwnerWindow; }
    // Blue, green, red, alpha of a client pixel as last presented; 0 outside.
    uint32_t GetPixel(int x, int y) const;
    // Bytes of the client pixels; none until the window is first shown.
    size_t GetFrameBytes() const { return m_frame.size() * sizeof(uint32_t); }
    // Every presented rectangle since the log was last cleared.
    const std::vector<FRect>& GetPresented() const { return m_presented; }
    void ClearPresented() { m_presented.clear(); }
    // The cursor: "arrow", or 16 rows of '.', 'W', 'B' (transparent, white, black).
    const std::string& GetCursor() const { return m_cursor; }
    bool IsCursorShown() const { return m_bCursorShown; }

    // The virtual timer.
    bool IsTickDue(uint64_t now) const { return m_bCreated && now >= m_nextTick; }
    void TickAt(uint64_t now);

private:
    void priQueue(std::function<void()> event);
    void priResizeFrame(int width, int height);

    FIOsUiWindowOwner* m_pOwner;
    FHeadlessUiWindow* m_pOwnerWindow = nullptr;
    bool m_bCreated = false;
    int m_iIconSize = 0;
    bool m_bShown = false;
    FHeadlessUiWindow* m_pActivatedFrom = nullptr; // the window that had the focus before
    bool m_bEnabled = true;
    bool m_bQuitOnDestroy = true;
    bool m_bCursorShown = true;
    bool m_bButtonDown = false;
    bool m_bHasFrame = false;
    FWideString m_usTitle;
    FRect m_rect{40, 40, 240, 140};
    int m_iFrameWidth = 0;
    int m_iFrameHeight = 0;
    std::vector<uint32_t> m_frame;
    std::vector<FRect> m_presented;
    std::string m_cursor = "arrow";
    uint64_t m_lastTick = 0;
    uint64_t m_nextTick = 0;
    int m_iId;
    FOsMenuBar m_menuBar;
    FOsKeyInput m_keys{m_pOwner, &m_menuBar};
};
