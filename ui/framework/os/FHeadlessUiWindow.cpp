#include "FHeadlessUiWindow.h"

#include <algorithm>

#include "FHeadlessDesktop.h"
#include "FIUiPixmap.h"
#include "FOsBackend.h"
#include "FOsWindowIcon.h"
#include "FOsWindowPlacement.h"
#include "FSdlUiWindow.h"
#include "FUiDispatcher.h"

namespace
{

int g_nextWindowId = 1;

constexpr uint64_t kTimerMs = 10;

} // namespace

FHeadlessUiWindow::FHeadlessUiWindow(FIOsUiWindowOwner* owner) : m_pOwner(owner), m_iId(g_nextWindowId++)
{
    m_keys.copyToClipboard = [](const FWideString& text) {
        GetHeadlessDesktop().clipboard = text;
        GetHeadlessDesktop().clipboardHasText = true;
    };
    m_keys.pasteFromClipboard = [](FWideString& text) {
        if (!GetHeadlessDesktop().clipboardHasText)
            return false;
        text = GetHeadlessDesktop().clipboard;
        return true;
    };
}

FHeadlessUiWindow::~FHeadlessUiWindow()
{
    if (m_bCreated)
        Destroy();
}

void* FHeadlessUiWindow::GetOsInfo(int kind)
{
    return kind == 1 && m_bCreated ? &m_iId : nullptr;
}

bool FHeadlessUiWindow::Create(FIOsUiWindow* ownerWindow, const FWideString& title)
{
    if (m_bCreated)
        return true;
    m_pOwnerWindow = dynamic_cast<FHeadlessUiWindow*>(ownerWindow);
    m_usTitle = title;
    m_bCreated = true;
    m_iIconSize = GetOsWindowIcon().size;
    FHeadlessDesktop& desktop = GetHeadlessDesktop();
    desktop.windows.push_back(this);
    m_lastTick = desktop.clockMs;
    m_nextTick = desktop.clockMs + kTimerMs;
    return true;
}

void FHeadlessUiWindow::Destroy()
{
    if (!m_bCreated)
        return;
    m_bCreated = false;
    m_bShown = false;
    FHeadlessDesktop& desktop = GetHeadlessDesktop();
    desktop.windows.erase(std::remove(desktop.windows.begin(), desktop.windows.end(), this),
                          desktop.windows.end());
    if (desktop.activeWindow == this)
        desktop.activeWindow = nullptr;
    for (FHeadlessUiWindow* other : desktop.windows) {
        if (other->m_pOwnerWindow == this)
            other->m_pOwnerWindow = nullptr;
        if (other->m_pActivatedFrom == this)
            other->m_pActivatedFrom = nullptr;
    }
    if (m_bQuitOnDestroy)
        desktop.quit = true;
    if (m_pOwner)
        m_pOwner->OnOsDestroyed();
}

void FHeadlessUiWindow::Show(bool show, bool centre)
{
    if (!m_bCreated)
        return;
    FHeadlessDesktop& desktop = GetHeadlessDesktop();
    if (show) {
        const FRect screen(0, 0, desktop.screenWidth, desktop.screenHeight);
        FHeadlessUiWindow* owner = m_pOwnerWindow;
        // A dialog without an owner of its own belongs to the window it was opened from (a
        // palette's owner when a palette had the focus).
        if (!owner) {
            owner = desktop.activeWindow == this ? m_pActivatedFrom : desktop.activeWindow;
            while (owner && owner->m_pOwnerWindow && owner->m_pOwner->GetOsWindowStyle().toolWindow)
                owner = owner->m_pOwnerWindow;
            if (owner && (owner == this || !owner->m_bShown))
                owner = nullptr;
        }
        FRect around = screen;
        if (centre && owner)
            owner->GetWindowRect(around);
        const FRect placed = PlaceOsWindow(m_rect, centre ? &around : nullptr, screen);
        m_rect.Offset(placed.left - m_rect.left, placed.top - m_rect.top);
        m_bShown = true;
        if (!m_bHasFrame) {
            m_bHasFrame = true;
            priResizeFrame(m_rect.Width(), m_rect.Height());
        }
        Activate();
    } else {
        m_bShown = false;
        if (desktop.activeWindow == this)
            desktop.activeWindow = m_pOwnerWindow;
    }
}

void FHeadlessUiWindow::Move(int left, int top)
{
    if (left == m_rect.left && top == m_rect.top)
        return;
    m_rect.Offset(left - m_rect.left, top - m_rect.top);
    if (m_bCreated && m_pOwner)
        m_pOwner->OnOsMove(left, top);
}

void FHeadlessUiWindow::SetClientSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == m_rect.Width() && height == m_rect.Height() &&
        (!m_bHasFrame || (width == m_iFrameWidth && height == m_iFrameHeight)))
        return;
    m_rect.SetWidth(width);
    m_rect.SetHeight(height);
    if (m_bHasFrame)
        priResizeFrame(width, height);
    if (m_bCreated && m_pOwner)
        m_pOwner->OnOsResize(width, height);
}

void FHeadlessUiWindow::priResizeFrame(int width, int height)
{
    std::vector<uint32_t> frame(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    for (int y = 0; y < std::min(height, m_iFrameHeight); ++y) {
        for (int x = 0; x < std::min(width, m_iFrameWidth); ++x)
            frame[static_cast<size_t>(y) * width + x] = m_frame[static_cast<size_t>(y) * m_iFrameWidth + x];
    }
    m_frame.swap(frame);
    m_iFrameWidth = width;
    m_iFrameHeight = height;
}

void FHeadlessUiWindow::Present(const FRect& destination, const FRect& source, FIUiPixmap* pixmap)
{
    if (!pixmap)
        return;
    m_presented.push_back(destination);
    const int width = std::min(destination.Width(), source.Width());
    const int height = std::min(destination.Height(), source.Height());
    for (int y = 0; y < height; ++y) {
        const int fy = destination.top + y;
        if (fy < 0 || fy >= m_iFrameHeight)
            continue;
        for (int x = 0; x < width; ++x) {
            const int fx = destination.left + x;
            if (fx < 0 || fx >= m_iFrameWidth)
                continue;
            FUiColor c;
            pixmap->GetPixel(source.left + x, source.top + y, c);
            m_frame[static_cast<size_t>(fy) * m_iFrameWidth + fx] =
                uint32_t(c.blue) | uint32_t(c.green) << 8 | uint32_t(c.red) << 16 | uint32_t(c.alpha) << 24;
        }
    }
}

void FHeadlessUiWindow::FillWithColor(const FUiColor& colour)
{
    const uint32_t value = uint32_t(colour.blue) | uint32_t(colour.green) << 8 | uint32_t(colour.red) << 16 |
                           uint32_t(colour.alpha) << 24;
    std::fill(m_frame.begin(), m_frame.end(), value);
    m_presented.push_back(FRect(0, 0, m_iFrameWidth, m_iFrameHeight));
}

uint32_t FHeadlessUiWindow::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_iFrameWidth || y >= m_iFrameHeight)
        return 0;
    return m_frame[static_cast<size_t>(y) * m_iFrameWidth + x];
}

void FHeadlessUiWindow::Activate()
{
    FHeadlessDesktop& desktop = GetHeadlessDesktop();
    if (!m_bCreated || desktop.activeWindow == this)
        return;
    FHeadlessUiWindow* previous = desktop.activeWindow;
    desktop.activeWindow = this;
    m_pActivatedFrom = previous;
    if (previous && previous->m_pOwner)
        previous->priQueue([previous] { previous->m_pOwner->OnDeactivate(); });
    priQueue([this] {
        m_pOwner->OnActivate();
        m_pOwner->OnZOrderChanged();
    });
}

void FHeadlessUiWindow::SetCursor(FIUiPixmap* pixmap, int, int)
{
    if (!pixmap || pixmap->GetWidth() != 16 || pixmap->GetHeight() != 16) {
        m_cursor = "arrow";
        return;
    }
    m_cursor.clear();
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            FUiColor c;
            pixmap->GetPixel(x, y, c);
            m_cursor += c.alpha <= 128 ? '.' : (c.green > 128 ? 'W' : 'B');
        }
    }
}

void FHeadlessUiWindow::PostClose()
{
    priQueue([this] { m_pOwner->OnOsClose(); });
}

void FHeadlessUiWindow::priQueue(std::function<void()> event)
{
    // Found again by id on arrival: the window may be gone, and its address taken by another.
    const int id = m_iId;
    GetHeadlessDesktop().queue.push_back([id, event = std::move(event)] {
        auto live = [id]() -> FHeadlessUiWindow* {
            for (FHeadlessUiWindow* w : GetHeadlessDesktop().windows) {
                if (w->m_iId == id)
                    return w;
            }
            return nullptr;
        };
        if (!live())
            return;
        event();
        // The window may be gone after its own handler.
        if (FHeadlessUiWindow* self = live())
            self->m_pOwner->UpdateIfInvalid();
    });
}

void FHeadlessUiWindow::InjectMouseDown(int x, int y, int clicks, bool ctrl, bool shift)
{
    priQueue([=, this] {
        if (!m_bEnabled)
            return;
        // A second press while the button is held is not a new press.
        if (m_bButtonDown && clicks < 2)
            return;
        m_bButtonDown = true;
        m_pOwner->MouseDown(0, x, y, ctrl, shift);
        if (clicks >= 2 && clicks % 2 == 0)
            m_pOwner->MouseDoubleClick(0, x, y, ctrl, shift);
    });
}

void FHeadlessUiWindow::InjectMouseUp(int x, int y, bool ctrl, bool shift)
{
    priQueue([=, this] {
        m_bButtonDown = false;
        if (m_bEnabled)
            m_pOwner->MouseUp(0, x, y, ctrl, shift);
    });
}

void FHeadlessUiWindow::InjectMouseMove(int x, int y)
{
    priQueue([=, this] {
        if (m_bEnabled)
            m_pOwner->MouseMove(x, y);
    });
}

void FHeadlessUiWindow::InjectWheel(int x, int y, int notches)
{
    priQueue([=, this] {
        if (m_bEnabled)
            m_pOwner->MouseWheel(x, y, 0, notches);
    });
}

void FHeadlessUiWindow::InjectKey(uint16_t code, bool ctrl, bool shift)
{
    priQueue([=, this] {
        if (m_bEnabled)
            m_pOwner->KeyEvent(code, ctrl, shift);
    });
}

void FHeadlessUiWindow::InjectClose()
{
    priQueue([this] {
        if (m_bEnabled)
            m_pOwner->OnOsClose();
    });
}

void FHeadlessUiWindow::InjectPointerLeft()
{
    priQueue([this] { m_pOwner->MouseLeftWindow(-1, -1); });
}

void FHeadlessUiWindow::TickAt(uint64_t now)
{
    const double seconds = static_cast<double>(now - m_lastTick) * 0.001;
    m_lastTick = now;
    m_nextTick = now + kTimerMs;
    FHeadlessUiWindow* self = this;
    DispatchOsEvent([self, seconds] { self->m_pOwner->Tick(seconds); });
    const auto& windows = GetHeadlessDesktop().windows;
    if (std::find(windows.begin(), windows.end(), self) != windows.end())
        m_pOwner->UpdateIfInvalid();
}

FIOsUiMenu* FHeadlessUiWindow::CreateMenu(FIUiApp* app, FIGenericUiMenu* menu, FPropList* tag)
{
    if (m_bCreated || !tag)
        return nullptr;
    return m_menuBar.AddMenu(app, menu, tag);
}

void FHeadlessUiWindow::InjectKeyDown(EOsKey key, int value, bool repeat)
{
    priQueue([=, this] {
        if (m_bEnabled)
            m_keys.KeyDown(FOsKeyPress{key, value, repeat});
    });
}

void FHeadlessUiWindow::InjectKeyUp(EOsKey key)
{
    priQueue([=, this] { m_keys.KeyUp(key); });
}

void FHeadlessUiWindow::InjectText(const std::string& utf8)
{
    priQueue([=, this] {
        if (m_bEnabled)
            m_keys.Text(utf8);
    });
}

void FHeadlessUiWindow::ChooseMenuItem(int menuIndex, int position)
{
    priQueue([=, this] {
        if (m_bEnabled)
            m_menuBar.Command(((menuIndex & 255) << 8) | (position & 255));
    });
}

FIOsUiWindow* CreateOsUiWindow(FIOsUiWindowOwner* owner)
{
    if (GetOsBackend() == EOsBackend::kDisplay)
        return CreateSdlUiWindow(owner);
    return new FHeadlessUiWindow(owner);
}

void DeleteOsUiWindow(FIOsUiWindow*& window)
{
    delete window;
    window = nullptr;
}
