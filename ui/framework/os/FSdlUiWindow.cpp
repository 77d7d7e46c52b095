#include "FSdlUiWindow.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "FCodePage.h"
#include "FIUiPixmap.h"
#include "FOsKeyInput.h"
#include "FOsMenuBar.h"
#include "FOsPointerInput.h"
#include "FOsWindowIcon.h"
#include "FOsWindowPlacement.h"
#include "FUiDispatcher.h"

namespace
{

constexpr uint64_t kTimerMs = 10;

uint64_t NowMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

class FSdlUiWindow;

struct LoopState {
    std::vector<FSdlUiWindow*> windows; // creation order
    bool quit = false;
    void (*hook)() = nullptr;
};

LoopState& Loop()
{
    static LoopState state;
    return state;
}

bool IsLive(const FSdlUiWindow* window)
{
    const auto& w = Loop().windows;
    return std::find(w.begin(), w.end(), window) != w.end();
}

FOsKeyPress KeyPressOf(const SDL_Keysym& keysym, bool repeat)
{
    FOsKeyPress press;
    press.repeat = repeat;
    const SDL_Keycode sym = keysym.sym;
    switch (sym) {
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        press.key = EOsKey::kShift;
        return press;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        press.key = EOsKey::kCtrl;
        return press;
    case SDLK_LALT:
        press.key = EOsKey::kAlt;
        return press;
    case SDLK_PAGEUP:
        press.key = EOsKey::kPageUp;
        return press;
    case SDLK_PAGEDOWN:
        press.key = EOsKey::kPageDown;
        return press;
    case SDLK_END:
        press.key = EOsKey::kEnd;
        return press;
    case SDLK_HOME:
        press.key = EOsKey::kHome;
        return press;
    case SDLK_LEFT:
        press.key = EOsKey::kLeft;
        return press;
    case SDLK_UP:
        press.key = EOsKey::kUp;
        return press;
    case SDLK_RIGHT:
        press.key = EOsKey::kRight;
        return press;
    case SDLK_DOWN:
        press.key = EOsKey::kDown;
        return press;
    case SDLK_INSERT:
        press.key = EOsKey::kInsert;
        return press;
    case SDLK_DELETE:
        press.key = EOsKey::kDelete;
        return press;
    case SDLK_BACKSPACE:
        press.key = EOsKey::kBackspace;
        return press;
    case SDLK_TAB:
        press.key = EOsKey::kTab;
        return press;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        press.key = EOsKey::kReturn;
        return press;
    case SDLK_ESCAPE:
        press.key = EOsKey::kEscape;
        return press;
    case SDLK_LEFTBRACKET:
        press.key = EOsKey::kOpenBracket;
        return press;
    case SDLK_RIGHTBRACKET:
        press.key = EOsKey::kCloseBracket;
        return press;
    case SDLK_BACKSLASH:
        press.key = EOsKey::kBackslash;
        return press;
    case SDLK_MINUS:
    case SDLK_KP_MINUS:
        press.key = EOsKey::kMinus;
        return press;
    case SDLK_EQUALS:
    case SDLK_PLUS:
    case SDLK_KP_PLUS:
        press.key = EOsKey::kEquals;
        return press;
    default:
        break;
    }
    if (sym >= SDLK_a && sym <= SDLK_z) {
        press.key = EOsKey::kLetter;
        press.value = 'A' + (sym - SDLK_a);
    } else if (keysym.scancode >= SDL_SCANCODE_A && keysym.scancode <= SDL_SCANCODE_Z &&
               !(sym >= 32 && sym < 127)) {
        // A layout without Latin letters: the key's place names it.
        press.key = EOsKey::kLetter;
        press.value = 'A' + (keysym.scancode - SDL_SCANCODE_A);
    } else if (sym >= SDLK_0 && sym <= SDLK_9) {
        press.key = EOsKey::kDigit;
        press.value = '0' + (sym - SDLK_0);
    } else if (sym >= SDLK_F1 && sym <= SDLK_F12) {
        press.key = EOsKey::kFunction;
        press.value = 1 + (sym - SDLK_F1);
    }
    return press;
}

class FSdlUiWindow : public FIOsUiWindow
{
public:
    explicit FSdlUiWindow(FIOsUiWindowOwner* owner)
        : m_pOwner(owner), m_keys(owner, &m_menuBar), m_pointer(owner)
    {
        m_keys.copyToClipboard = [](const FWideString& text) {
            SDL_SetClipboardText(Utf8FromWide(text).c_str());
        };
        m_keys.pasteFromClipboard = [](FWideString& text) {
            if (!SDL_HasClipboardText())
                return false;
            char* bytes = SDL_GetClipboardText();
            if (!bytes)
                return false;
            text = WideFromUtf8(bytes);
            SDL_free(bytes);
            return true;
        };
    }
    ~FSdlUiWindow() override
    {
        if (m_pWindow)
            Destroy();
        if (m_pCursor)
            SDL_FreeCursor(m_pCursor);
    }

    void* GetOsInfo(int kind) override { return kind == kOsInfoHandle && m_pWindow ? &m_pWindow : nullptr; }
    bool SetOsInfo(int, void*) override { return false; }

    bool Create(FIOsUiWindow* ownerWindow, const FWideString& title) override
    {
        if (m_pWindow)
            return true;
        const FOsWindowStyle style = m_pOwner->GetOsWindowStyle();
        m_style = style;
        Uint32 flags = SDL_WINDOW_HIDDEN;
        if (style.resizable)
            flags |= SDL_WINDOW_RESIZABLE;
        if (style.titleBarHidden)
            flags |= SDL_WINDOW_BORDERLESS;
        if (style.toolWindow)
            flags |= SDL_WINDOW_UTILITY;
        if (style.topMost)
            flags |= SDL_WINDOW_ALWAYS_ON_TOP;
        m_pOwnerWindow = dynamic_cast<FSdlUiWindow*>(ownerWindow);
        if (m_pOwnerWindow)
            flags |= SDL_WINDOW_SKIP_TASKBAR;
        m_iBar = m_menuBar.GetHeight();
        m_menuBar.SetWindowWidth(m_rect.Width());
        m_pWindow = SDL_CreateWindow(Utf8FromWide(title).c_str(), m_rect.left, m_rect.top, m_rect.Width(),
                                     m_rect.Height() + m_iBar, flags);
        if (!m_pWindow) {
            // No client buffer stands behind the rectangle, so later sizing copies nothing.
            m_rect = FRect(m_rect.left, m_rect.top, m_rect.left, m_rect.top);
            return false;
        }
        priApplyIcon();
        if (m_pOwnerWindow && m_pOwnerWindow->m_pWindow)
            SDL_SetWindowModalFor(m_pWindow, m_pOwnerWindow->m_pWindow);
        SDL_SetWindowMinimumSize(m_pWindow, std::max(1, style.minWidth),
                                 std::max(1, style.minHeight + m_iBar));
        m_iId = SDL_GetWindowID(m_pWindow);
        Loop().windows.push_back(this);
        m_lastTick = NowMs();
        m_nextTick = m_lastTick + kTimerMs;
        return true;
    }

    void priApplyIcon()
    {
        const FOsWindowIcon& icon = GetOsWindowIcon();
        if (icon.size == 0)
            return;
        // The surface only borrows the pixels; SDL copies them into the window's icon.
        SDL_Surface* surface =
            SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(icon.rgba.data()), icon.size, icon.size,
                                               32, icon.size * 4, SDL_PIXELFORMAT_RGBA32);
        if (!surface)
            return;
        SDL_SetWindowIcon(m_pWindow, surface);
        SDL_FreeSurface(surface);
    }

    void Destroy() override
    {
        if (!m_pWindow)
            return;
        SDL_Window* window = m_pWindow;
        m_pWindow = nullptr;
        auto& windows = Loop().windows;
        windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
        for (FSdlUiWindow* other : windows) {
            if (other->m_pOwnerWindow == this)
                other->m_pOwnerWindow = nullptr;
        }
        SDL_DestroyWindow(window);
        if (m_bQuitOnDestroy)
            Loop().quit = true;
        m_pOwner->OnOsDestroyed();
    }

    bool IsCreated() override { return m_pWindow != nullptr; }

    void Show(bool show, bool centre) override
    {
        if (!m_pWindow)
            return;
        if (!show) {
            SDL_HideWindow(m_pWindow);
            if (m_pOwnerWindow && m_pOwnerWindow->m_pWindow)
                SDL_RaiseWindow(m_pOwnerWindow->m_pWindow);
            return;
        }
        SDL_Rect usable{0, 0, 1024, 768};
        SDL_GetDisplayUsableBounds(std::max(0, SDL_GetWindowDisplayIndex(m_pWindow)), &usable);
        const FRect screen(usable.x, usable.y, usable.x + usable.w, usable.y + usable.h);
        // A dialog without an owner of its own belongs to the window it was opened from.
        FSdlUiWindow* owner = m_pOwnerWindow ? m_pOwnerWindow : priFocusedWindow();
        FRect around = screen;
        if (centre && owner)
            owner->GetWindowRect(around);
        // The menu bar is part of the window on screen.
        FRect whole(m_rect.left, m_rect.top, m_rect.right, m_rect.bottom + m_iBar);
        const FRect placed = PlaceOsWindow(whole, centre ? &around : nullptr, screen);
        Move(placed.left, placed.top);
        if (!m_bHasClient) {
            // Hidden windows hold no pixels; the owner repaints all of it once shown.
            m_client.assign(static_cast<size_t>(m_rect.Width()) * static_cast<size_t>(m_rect.Height()),
                            0xFF000000);
            m_bHasClient = true;
        }
        if (SDL_GetWindowFlags(m_pWindow) & SDL_WINDOW_MINIMIZED)
            SDL_RestoreWindow(m_pWindow);
        SDL_ShowWindow(m_pWindow);
        // Window managers may place a window where they like when it is mapped.
        SDL_SetWindowPosition(m_pWindow, m_rect.left, m_rect.top);
        SDL_RaiseWindow(m_pWindow);
        priCompose();
    }

    FSdlUiWindow* priFocusedWindow() const
    {
        SDL_Window* focused = SDL_GetKeyboardFocus();
        FSdlUiWindow* found = nullptr;
        for (FSdlUiWindow* window : Loop().windows)
            if (window != this && window->m_pWindow == focused)
                found = window;
        // A palette stands for the window it belongs to.
        while (found && found->m_style.toolWindow && found->m_pOwnerWindow)
            found = found->m_pOwnerWindow;
        return found == this ? nullptr : found;
    }

    void Move(int left, int top) override
    {
        if (left == m_rect.left && top == m_rect.top)
            return;
        m_rect.Offset(left - m_rect.left, top - m_rect.top);
        if (!m_pWindow)
            return;
        SDL_SetWindowPosition(m_pWindow, left, top);
        m_pOwner->OnOsMove(left, top);
    }

    void SetClientSize(int width, int height) override
    {
        width = std::max(width, 1);
        height = std::max(height, 1);
        if (width == m_rect.Width() && height == m_rect.Height())
            return;
        priResizeClient(width, height);
        if (!m_pWindow)
            return;
        SDL_SetWindowSize(m_pWindow, width, height + m_iBar);
        m_pOwner->OnOsResize(width, height);
    }

    // The user resized the window.
    void SetClientSizeFromOs(int width, int height)
    {
        priResizeClient(width, height);
        m_pOwner->OnOsResize(width, height);
    }

    void priResizeClient(int width, int height)
    {
        if (!m_bHasClient) {
            m_rect.SetWidth(width);
            m_rect.SetHeight(height);
            m_menuBar.SetWindowWidth(width);
            return;
        }
        std::vector<uint32_t> client(static_cast<size_t>(width) * static_cast<size_t>(height), 0xFF000000);
        for (int y = 0; y < std::min(height, m_rect.Height()); ++y) {
            for (int x = 0; x < std::min(width, m_rect.Width()); ++x)
                client[static_cast<size_t>(y) * width + x] =
                    m_client[static_cast<size_t>(y) * m_rect.Width() + x];
        }
        m_client.swap(client);
        m_rect.SetWidth(width);
        m_rect.SetHeight(height);
        m_menuBar.SetWindowWidth(width);
    }

    void GetWindowRect(FRect& rect) override { rect = m_rect; }

    void Present(const FRect& destination, const FRect& source, FIUiPixmap* pixmap) override
    {
        if (!pixmap || !m_bHasClient)
            return;
        const int width = std::min(destination.Width(), source.Width());
        const int height = std::min(destination.Height(), source.Height());
        for (int y = 0; y < height; ++y) {
            const int fy = destination.top + y;
            if (fy < 0 || fy >= m_rect.Height())
                continue;
            for (int x = 0; x < width; ++x) {
                const int fx = destination.left + x;
                if (fx < 0 || fx >= m_rect.Width())
                    continue;
                FUiColor c;
                pixmap->GetPixel(source.left + x, source.top + y, c);
                m_client[static_cast<size_t>(fy) * m_rect.Width() + fx] =
                    0xFF000000u | uint32_t(c.red) << 16 | uint32_t(c.green) << 8 | uint32_t(c.blue);
            }
        }
        priCompose();
    }

    void FillWithColor(const FUiColor& colour) override
    {
        std::fill(m_client.begin(), m_client.end(),
                  0xFF000000u | uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 |
                      uint32_t(colour.blue));
        priCompose();
    }

    void Enable(bool enable) override { m_bEnabled = enable; }
    void Activate() override
    {
        if (m_pWindow)
            SDL_RaiseWindow(m_pWindow);
    }
    void SetTitle(const FWideString& title) override
    {
        if (m_pWindow)
            SDL_SetWindowTitle(m_pWindow, Utf8FromWide(title).c_str());
    }

    void SetCursor(FIUiPixmap* pixmap, int hotX, int hotY) override
    {
        if (!pixmap) {
            SDL_Cursor* arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
            priReplaceCursor(arrow);
            return;
        }
        if (pixmap->GetWidth() != 16 || pixmap->GetHeight() != 16)
            return;
        unsigned char alpha[256], green[256];
        for (int i = 0; i < 256; ++i) {
            FUiColor c;
            pixmap->GetPixel(i % 16, i / 16, c);
            alpha[i] = c.alpha;
            green[i] = c.green;
        }
        FOsCursorMasks masks = BuildOsCursorMasks(alpha, green);
        priReplaceCursor(SDL_CreateCursor(masks.data, masks.mask, 16, 16, std::clamp(hotX, 0, 15),
                                          std::clamp(hotY, 0, 15)));
    }

    void ShowCursor(bool show) override
    {
        if (show == m_bCursorShown)
            return;
        m_bCursorShown = show;
        SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
    }

    void ClearQuitOnDestroy() override { m_bQuitOnDestroy = false; }

    void PostClose() override
    {
        if (!m_pWindow)
            return;
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.event = SDL_WINDOWEVENT_CLOSE;
        event.window.windowID = m_iId;
        m_bPostedClose = true;
        SDL_PushEvent(&event);
    }

    FIOsUiMenu* CreateMenu(FIUiApp* app, FIGenericUiMenu* menu, FPropList* tag) override
    {
        if (m_pWindow || !tag)
            return nullptr;
        return m_menuBar.AddMenu(app, menu, tag);
    }

    // ---- The loop's side ----

    uint32_t GetId() const { return m_iId; }
    FIOsUiWindowOwner* GetOwner() const { return m_pOwner; }
    FOsMenuBar& GetMenuBar() { return m_menuBar; }
    int GetBarHeight() const { return m_iBar; }

    void HandleEvent(const SDL_Event& e);

    bool IsTickDue(uint64_t now) const { return m_pWindow && now >= m_nextTick; }
    uint64_t GetNextTick() const { return m_nextTick; }
    void TickAt(uint64_t now)
    {
        const double seconds = static_cast<double>(now - m_lastTick) * 0.001;
        m_lastTick = now;
        m_nextTick = now + kTimerMs;
        // The pointer left when it is outside the client area or over another window.
        int gx = 0, gy = 0;
        SDL_GetGlobalMouseState(&gx, &gy);
        int wx = 0, wy = 0;
        SDL_GetWindowPosition(m_pWindow, &wx, &wy);
        const bool outside =
            gx < wx || gy < wy + m_iBar || gx >= wx + m_rect.Width() || gy >= wy + m_iBar + m_rect.Height();
        FSdlUiWindow* self = this;
        DispatchOsEvent([self, seconds, outside, gx, gy] {
            if (outside || SDL_GetMouseFocus() != self->m_pWindow)
                self->m_pOwner->MouseLeftWindow(gx, gy);
            if (IsLive(self))
                self->m_pOwner->Tick(seconds);
        });
        if (IsLive(self))
            m_pOwner->UpdateIfInvalid();
    }

    bool ReadPixels(int& width, int& height, std::vector<uint32_t>& pixels)
    {
        SDL_Surface* surface = m_pWindow ? SDL_GetWindowSurface(m_pWindow) : nullptr;
        if (!surface)
            return false;
        width = surface->w;
        height = surface->h;
        pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
        return SDL_ConvertPixels(width, height, surface->format->format, surface->pixels, surface->pitch,
                                 SDL_PIXELFORMAT_ARGB8888, pixels.data(), width * 4) == 0;
    }

private:
    void priReplaceCursor(SDL_Cursor* cursor)
    {
        if (!cursor)
            return;
        SDL_SetCursor(cursor);
        if (m_pCursor)
            SDL_FreeCursor(m_pCursor);
        m_pCursor = cursor;
    }

    // The client pixels below the bar, then the bar and any open pull-down over them.
    void priCompose()
    {
        if (!m_pWindow || !m_bHasClient)
            return;
        SDL_Surface* surface = SDL_GetWindowSurface(m_pWindow);
        if (!surface)
            return;
        const int width = surface->w, height = surface->h;
        m_frame.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0xFF000000);
        for (int y = 0; y < std::min(m_rect.Height(), height - m_iBar); ++y) {
            const int cols = std::min(m_rect.Width(), width);
            if (cols > 0)
                std::memcpy(&m_frame[static_cast<size_t>(y + m_iBar) * width],
                            &m_client[static_cast<size_t>(y) * m_rect.Width()],
                            static_cast<size_t>(cols) * 4);
        }
        m_menuBar.Draw(m_frame.data(), width, height);
        SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_ARGB8888, m_frame.data(), width * 4,
                          surface->format->format, surface->pixels, surface->pitch);
        SDL_UpdateWindowSurface(m_pWindow);
    }

    void priSyncModifiers(Uint16 mod)
    {
        m_keys.SetModifiers((mod & KMOD_CTRL) != 0, (mod & KMOD_SHIFT) != 0, (mod & KMOD_LALT) != 0);
    }

    FIOsUiWindowOwner* m_pOwner;
    FSdlUiWindow* m_pOwnerWindow = nullptr;
    SDL_Window* m_pWindow = nullptr;
    SDL_Cursor* m_pCursor = nullptr;
    uint32_t m_iId = 0;
    FOsWindowStyle m_style;
    FRect m_rect{40, 40, 240, 140};
    int m_iBar = 0;
    std::vector<uint32_t> m_client;
    bool m_bHasClient = false;
    std::vector<uint32_t> m_frame;
    FOsMenuBar m_menuBar;
    FOsKeyInput m_keys;
    FOsPointerInput m_pointer;
    bool m_bQuitOnDestroy = true;
    bool m_bEnabled = true;
    bool m_bCursorShown = true;
    bool m_bPostedClose = false;
    bool m_bMinimised = false;
    bool m_bMaximised = false;
    uint64_t m_lastTick = 0;
    uint64_t m_nextTick = 0;
};

void FSdlUiWindow::HandleEvent(const SDL_Event& e)
{
    const bool ctrl = m_keys.IsCtrl(), shift = m_keys.IsShift();
    switch (e.type) {
    case SDL_WINDOWEVENT:
        switch (e.window.event) {
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN:
            priCompose();
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
            const int width = e.window.data1, height = std::max(1, e.window.data2 - m_iBar);
            if (width != m_rect.Width() || height != m_rect.Height()) {
                SetClientSizeFromOs(width, height);
            }
            priCompose();
            break;
        }
        case SDL_WINDOWEVENT_MOVED:
            if (!m_bMinimised && !m_bMaximised &&
                (e.window.data1 != m_rect.left || e.window.data2 != m_rect.top)) {
                m_rect.Offset(e.window.data1 - m_rect.left, e.window.data2 - m_rect.top);
                m_pOwner->OnOsMove(e.window.data1, e.window.data2);
            }
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
            m_bMinimised = true;
            m_pOwner->OnMinimized();
            break;
        case SDL_WINDOWEVENT_MAXIMIZED:
            m_bMaximised = true;
            m_pOwner->OnMaximized();
            break;
        case SDL_WINDOWEVENT_RESTORED:
            if (m_bMinimised || m_bMaximised) {
                m_bMinimised = m_bMaximised = false;
                m_pOwner->OnRestored();
            }
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            priSyncModifiers(static_cast<Uint16>(SDL_GetModState()));
            m_pOwner->OnActivate();
            m_pOwner->OnZOrderChanged();
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            m_keys.SetModifiers(false, false, false);
            m_pointer.Cancel();
            m_menuBar.Close();
            m_pOwner->OnDeactivate();
            break;
        case SDL_WINDOWEVENT_LEAVE:
            m_pOwner->MouseLeftWindow(-1, -1);
            break;
        case SDL_WINDOWEVENT_CLOSE:
            // A disabled window ignores the user's close; its own request still counts.
            if (m_bEnabled || m_bPostedClose)
                m_pOwner->OnOsClose();
            m_bPostedClose = false;
            break;
        default:
            break;
        }
        break;
    case SDL_MOUSEBUTTONDOWN: {
        if (!m_bEnabled || e.button.button != SDL_BUTTON_LEFT)
            break;
        if (m_menuBar.IsOpen() || e.button.y < m_iBar) {
            m_menuBar.MouseDown(e.button.x, e.button.y);
            break;
        }
        int gx = 0, gy = 0;
        SDL_GetGlobalMouseState(&gx, &gy);
        m_pointer.Down(e.button.x, e.button.y - m_iBar, e.button.clicks, ctrl, shift, m_style.titleBarHidden,
                       gx, gy);
        if (IsLive(this))
            SDL_CaptureMouse(SDL_TRUE);
        break;
    }
    case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT)
            break;
        SDL_CaptureMouse(SDL_FALSE);
        if (m_bEnabled)
            m_pointer.Up(e.button.x, e.button.y - m_iBar, ctrl, shift);
        else
            m_pointer.Cancel();
        break;
    case SDL_MOUSEMOTION: {
        if (!m_bEnabled)
            break;
        if (m_menuBar.IsOpen()) {
            m_menuBar.MouseMove(e.motion.x, e.motion.y);
            break;
        }
        int gx = 0, gy = 0, dx = 0, dy = 0;
        SDL_GetGlobalMouseState(&gx, &gy);
        if (m_pointer.Move(e.motion.x, e.motion.y - m_iBar, gx, gy, dx, dy) && (dx || dy))
            Move(m_rect.left + dx, m_rect.top + dy);
        break;
    }
    case SDL_MOUSEWHEEL: {
        if (!m_bEnabled)
            break;
        int notches = e.wheel.y;
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
            notches = -notches;
        if (notches != 0)
            m_pOwner->MouseWheel(e.wheel.mouseX, e.wheel.mouseY - m_iBar, 0, notches);
        break;
    }
    case SDL_KEYDOWN:
        if (!m_bEnabled)
            break;
        priSyncModifiers(e.key.keysym.mod);
        m_keys.KeyDown(KeyPressOf(e.key.keysym, e.key.repeat != 0));
        break;
    case SDL_KEYUP:
        m_keys.KeyUp(KeyPressOf(e.key.keysym, false).key);
        break;
    case SDL_TEXTINPUT:
        if (m_bEnabled)
            m_keys.Text(e.text.text);
        break;
    default:
        break;
    }
    if (IsLive(this) && m_menuBar.TakeChanged())
        priCompose();
}

FSdlUiWindow* FindWindow(uint32_t id)
{
    for (FSdlUiWindow* w : Loop().windows) {
        if (w->GetId() == id)
            return w;
    }
    return nullptr;
}

uint32_t EventWindowId(const SDL_Event& e)
{
    switch (e.type) {
    case SDL_WINDOWEVENT:
        return e.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        return e.key.windowID;
    case SDL_TEXTINPUT:
        return e.text.windowID;
    case SDL_MOUSEMOTION:
        return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        return e.button.windowID;
    case SDL_MOUSEWHEEL:
        return e.wheel.windowID;
    default:
        return 0;
    }
}

bool g_displayOpen = false;

} // namespace

bool OpenSdlDisplay(std::string& error)
{
    if (g_displayOpen)
        return true;
    // Windows must be placeable, which only the X11 driver allows; the user may still choose.
    if (!SDL_getenv("SDL_VIDEODRIVER"))
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    SDL_SetHint(SDL_HINT_IME_SHOW_UI, "1");
    // The program takes SIGINT and SIGTERM itself, to end as Quit does.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        error = SDL_GetError();
        if (error.empty())
            error = "no display";
        return false;
    }
    SDL_StartTextInput();
    g_displayOpen = true;
    return true;
}

void CloseSdlDisplay()
{
    if (!g_displayOpen)
        return;
    SDL_StopTextInput();
    SDL_Quit();
    g_displayOpen = false;
}

FIOsUiWindow* CreateSdlUiWindow(FIOsUiWindowOwner* owner)
{
    return new FSdlUiWindow(owner);
}

bool ShowSdlMessageBox(const std::string& title, const std::string& text)
{
    return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), nullptr) == 0;
}

void SetSdlLoopHook(void (*hook)())
{
    Loop().hook = hook;
}

bool SdlQuitRequested()
{
    return Loop().quit;
}

void ResetSdlQuit()
{
    Loop().quit = false;
}

void SdlPumpEvents(int waitMs)
{
    uint64_t now = NowMs();
    uint64_t earliest = now + static_cast<uint64_t>(std::max(waitMs, 0));
    for (FSdlUiWindow* w : Loop().windows)
        earliest = std::min(earliest, std::max(w->GetNextTick(), now));
    SDL_Event event;
    const int timeout = static_cast<int>(earliest - now);
    bool have = timeout > 0 ? SDL_WaitEventTimeout(&event, timeout) != 0 : SDL_PollEvent(&event) != 0;
    while (have) {
        if (FSdlUiWindow* window = FindWindow(EventWindowId(event))) {
            const SDL_Event copy = event;
            DispatchOsEvent([window, copy] { window->HandleEvent(copy); });
            // Every event that invalidated something is followed by one redraw.
            if (IsLive(window))
                window->GetOwner()->UpdateIfInvalid();
        }
        have = SDL_PollEvent(&event) != 0;
    }
    if (Loop().hook)
        DispatchOsEvent(Loop().hook);
    now = NowMs();
    const std::vector<FSdlUiWindow*> windows = Loop().windows;
    for (FSdlUiWindow* w : windows) {
        if (IsLive(w) && w->IsTickDue(now))
            w->TickAt(now);
    }
}

bool GetSdlWindowProbe(FIOsUiWindow* window, FSdlWindowProbe& probe)
{
    auto* sdl = dynamic_cast<FSdlUiWindow*>(window);
    if (!sdl || !sdl->IsCreated())
        return false;
    probe.windowId = sdl->GetId();
    probe.menuBarHeight = sdl->GetBarHeight();
    probe.menuBar = &sdl->GetMenuBar();
    return true;
}

bool ReadSdlWindowPixels(FIOsUiWindow* window, int& width, int& height, std::vector<uint32_t>& pixels)
{
    auto* sdl = dynamic_cast<FSdlUiWindow*>(window);
    return sdl && sdl->ReadPixels(width, height, pixels);
}
