#include "FGenericUiWindow.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIUiApp.h"
#include "FIUiObject.h"
#include "FIUiPixmap.h"
#include "FNarrowString.h"
#include "FPropList.h"
#include "FUiMenu.h"
#include "FUiMultiLangString.h"
#include "FUiObject.h"
#include "FUiObjectFactory.h"
#include "FUiScriptLimits.h"
#include "FUiWindowClass.h"

namespace
{

const char* const kWindowEvents[] = {
    "ON_CLOSE_PRESSED", "ON_BEING_SHOWN", "ON_BEEN_HIDDEN",  "ON_ACTIVATE",     "ON_CREATE",
    "ON_DEACTIVATE",    "ON_MOVE",        "ON_RESIZE",       "ON_CTRL_I",       "ON_CTRL_E",
    "ON_CTRL_Q",        "ON_LEFT_ARROW",  "ON_RIGHT_ARROW",  "ON_SEND_WINDOW",  "ON_MINIMIZED",
    "ON_MAXIMIZED",     "ON_RESTORED",    "ON_CTRL_SHIFT_F", "ON_CTRL_SHIFT_X",
};

std::vector<FIUiWindow*>& PendingDeletions()
{
    static std::vector<FIUiWindow*> pending;
    return pending;
}

// Vertical neighbours with the same sides, or horizontal ones with the same top and bottom, merge.
bool MergeInto(FRect& into, const FRect& r)
{
    if (into.left == r.left && into.right == r.right && r.top <= into.bottom + 1 &&
        r.bottom >= into.top - 1) {
        into.top = std::min(into.top, r.top);
        into.bottom = std::max(into.bottom, r.bottom);
        return true;
    }
    if (into.top == r.top && into.bottom == r.bottom && r.left <= into.right + 1 &&
        r.right >= into.left - 1) {
        into.left = std::min(into.left, r.left);
        into.right = std::max(into.right, r.right);
        return true;
    }
    return false;
}

FRect Intersection(const FRect& a, const FRect& b)
{
    FRect r(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom));
    if (r.Width() <= 0 || r.Height() <= 0)
        r.Clear();
    return r;
}

struct FKeyRecord {
    uint16_t code;
    bool ctrl;
    bool shift;
};

} // namespace

FGenericUiWindow::FGenericUiWindow(FIUiApp* app, FUiWindowClass* windowClass)
    : m_pApp(app), m_pClass(windowClass)
{
    for (const char* name : kWindowEvents)
        m_events.push_back(new RelayEvent(FWideString(name)));
}

FGenericUiWindow::~FGenericUiWindow()
{
    m_bDestroying = true;
    if (m_pOsWindow)
        m_pOsWindow->Destroy();
    while (m_pFirstMenu) {
        FUiMenu* next = m_pFirstMenu->GetNext();
        delete m_pFirstMenu;
        m_pFirstMenu = next;
    }
    if (m_pApp) {
        m_pApp->RemoveLanguageListener(this);
        m_pApp->OnWindowDeleted(this);
    }
    delete m_pBusyAnimation;
    DeleteUiObjectChain(m_pFirstObject);
    ReleaseUiPixmap(m_pSkin);
    ReleaseUiPixmap(m_pBackground);
    ReleaseUiPixmap(m_pWindowPixmap);
    const std::vector<FGenericUiWindow*> children = m_childWindows;
    for (FGenericUiWindow* child : children) {
        child->m_pParentWindow = nullptr;
        child->CloseInstance();
    }
    DeleteOsUiWindow(m_pOsWindow);
    if (m_pParentWindow)
        m_pParentWindow->RemoveChildWindow(this);
    for (RelayEvent* event : m_events)
        delete event;
}

void* FGenericUiWindow::GetOsInfo(int kind)
{
    return m_pOsWindow ? m_pOsWindow->GetOsInfo(kind) : nullptr;
}

bool FGenericUiWindow::SetOsInfo(int kind, void* value)
{
    return m_pOsWindow ? m_pOsWindow->SetOsInfo(kind, value) : false;
}

FIUiObjectFactory* FGenericUiWindow::GetFactory()
{
    return m_pApp ? m_pApp->GetUiObjectFactory() : nullptr;
}

RelayEvent* FGenericUiWindow::FindEvent(const char* name)
{
    for (RelayEvent* event : m_events) {
        if (event->GetName() == name)
            return event;
    }
    return nullptr;
}

bool FGenericUiWindow::priFire(const char* eventName, void* data)
{
    RelayEvent* event = FindEvent(eventName);
    return event ? event->Fire(data) : true;
}

bool FGenericUiWindow::InitRelay(FPropList* tag)
{
    bool found = false;
    const FWideString name = tag ? tag->GetString("Name", FWideString(), &found) : FWideString();
    m_bNameFound = found;
    if (found)
        m_usName = name;
    if (m_pApp)
        m_pApp->GetFullName(m_usFullName);
    if (found) {
        m_usFullName += ".";
        m_usFullName += m_usName;
    }
    return true;
}

void FGenericUiWindow::priMakeDefaultLook(FPropList* tag)
{
    m_bResizable = false;
    const int width = std::clamp(tag->GetInt("Width", 200), 1, kMaxUiWindowSide);
    const int height = std::clamp(tag->GetInt("Height", 100), 1, kMaxUiWindowSide);
    m_rect.SetWidth(width);
    m_rect.SetHeight(height);
    m_usDefaultText = tag->GetString("Text", FWideString());
    m_usDefaultFont = tag->GetString("Font", FWideString("Courier"));
    m_iDefaultFontHeight = tag->GetInt("FontHeight", 14);
}

void FGenericUiWindow::priPaintDefaultLook(int width, int height)
{
    ReleaseUiPixmap(m_pBackground);
    m_pBackground = CreateUiPixmap(width, height, true);
    if (!m_pBackground)
        return;
    const uint8_t greys[4] = {0, 140, 210, 245};
    for (int inset = 0; inset < 4; ++inset) {
        const FRect r(inset, inset, width - inset, height - inset);
        if (r.Width() > 0 && r.Height() > 0)
            m_pBackground->FillRectRGBA(r, greys[inset], greys[inset], greys[inset], 255);
    }
    if (!m_usDefaultText.IsEmpty()) {
        FIUiPixmap* caption =
            CreateTextUiPixmap(m_usDefaultText.GetBuffer(), m_usDefaultFont.GetBuffer(), m_iDefaultFontHeight,
                               false, false, false, FUiColor(0, 0, 0, 255), nullptr, false);
        if (caption) {
            const FRect source(0, 0, caption->GetWidth(), caption->GetHeight());
            const FRect destination(20, 20, 20 + caption->GetWidth(), 20 + caption->GetHeight());
            caption->BlendBlit(m_pBackground, destination, source);
            ReleaseUiPixmap(caption);
        }
    }
    ReleaseUiPixmap(m_pWindowPixmap);
    m_pWindowPixmap = CreateUiPixmap(width, height, true);
    if (m_pWindowPixmap)
        m_pBackground->Blit(m_pWindowPixmap, FRect(0, 0, width, height), FRect(0, 0, width, height));
}

void FGenericUiWindow::priReadLook(FPropList* tag)
{
    bool hasImage = false;
    const FWideString image = tag->GetString("BgImage", FWideString(), &hasImage);
    bool hasColour = false;
    const FUiColor colour = tag->GetColor("BgColor", m_bgColor, &hasColour);
    if (hasImage) {
        m_pSkin = m_pApp ? m_pApp->LoadUiPixmap(image) : nullptr;
        m_bgX0 = tag->GetInt("BgX0", -1);
        m_bgX1 = tag->GetInt("BgX1", -1);
        m_bgY0 = tag->GetInt("BgY0", -1);
        m_bgY1 = tag->GetInt("BgY1", -1);
        m_bResizable = tag->GetBool("_Resizable", true);
        m_bSkinned = true;
        if (m_pSkin) {
            const int w = m_pSkin->GetWidth(), h = m_pSkin->GetHeight();
            m_pWindowPixmap = CreateUiPixmap(w, h, true);
            if (m_pWindowPixmap)
                m_pSkin->Blit(m_pWindowPixmap, FRect(0, 0, w, h), FRect(0, 0, w, h));
        }
    } else if (hasColour) {
        m_bgColor = colour;
        m_frameColor = tag->GetColor("FrameColor", FUiColor(0, 0, 0, 255));
        m_iFrameThickness = tag->GetInt("FrameThickness", -1);
        m_bResizable = tag->GetBool("_Resizable", true);
    } else {
        m_bDefaultLook = true;
        priMakeDefaultLook(tag);
    }
}

bool FGenericUiWindow::InitUiWindow(FPropList* tag, FIUiWindow* parent)
{
    if (!tag || !(tag->GetName() == "WINDOW" || tag->GetName() == "WINDOWCLASS"))
        throw FExceptionUiScript("failed trying to initalize a window with a non-window tag!");
    if (!InitRelay(tag))
        return false;
    FWideString current;
    m_bListening = m_pApp && m_pApp->AddLanguageListener(this, current);

    m_bModal = tag->GetBool("_Modal", false);
    m_bCentreOnParent = tag->GetBool("_CenterOnParent", false);
    m_bCascade = tag->GetBool("_Cascade", false);
    m_bYellowRects = tag->GetBool("_YellowRects", false);
    m_bVisible = tag->GetBool("_Visible", true);
    m_bToolWindow = tag->GetBool("_ToolWindow", false);
    m_bHasGrowIcon = tag->GetBool("_HasGrowIcon", false);
    m_bHideOnClose = tag->GetBool("_HideOnClose", false);
    m_bMessageOnClose = tag->GetBool("_MessageOnClose", false);
    m_bTopMost = tag->GetBool("_TopMost", false);
    m_disabledColor = tag->GetColor("_DisabledColor", m_disabledColor);
    m_bDrawDisabledColor = tag->GetBool("_DrawDisabledColor", false);
    m_bBagTheTitleBar = tag->GetBool("_BagTheTitleBar", false);
    m_bQuitOnDestroy = tag->GetBool("_QuitOnDestroy", true);
    m_bSaveState = tag->GetBool("_SaveState", false);
    const int x = tag->GetInt("X", 0);
    const int y = tag->GetInt("Y", 0);
    m_rect.Set(x, y, x, y);
    m_usTitle = tag->GetString("WindowTitle", FWideString("Window"));
    m_usDisplayString = tag->GetString("DisplayString", FWideString());
    if (!m_usDisplayString.IsEmpty() && m_pApp) {
        if (FIUiMultiLangString* title = m_pApp->GetDisplayString(m_usDisplayString)) {
            const FWideString* text = title->GetText();
            m_usTitle = text ? *text : FWideString();
        }
    }
    priReadLook(tag);

    FIUiObjectFactory* factory = GetFactory();
    FPropList* menuTag = nullptr;
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        if (RelayEvent* event = FindEvent(child->GetName().GetNarrow())) {
            event->ReadRelay(child);
            continue;
        }
        if (child->GetName() == "MENU") {
            menuTag = child;
            continue;
        }
        if (!factory)
            continue;
        if (child->GetName() == "FILMSTRIP") {
            if (m_pBusyAnimation)
                continue;
            FIUiObject* busy = factory->CreateUiObject("FILMSTRIP");
            if (busy && busy->InitUiObject(m_pApp, this, nullptr, child))
                m_pBusyAnimation = busy;
            else
                delete busy;
            continue;
        }
        FIUiObject* object = factory->CreateUiObject(child->GetName().GetNarrow());
        if (!object)
            continue;
        bool ok = false;
        try {
            ok = object->InitUiObject(m_pApp, this, nullptr, child);
        } catch (...) {
            // A script error ends the start; the object that raised it is not kept.
            delete object;
            throw;
        }
        if (ok)
            AppendUiObject(m_pFirstObject, object);
        else
            delete object;
    }

    if (!m_bDefaultLook) {
        if (m_pFirstObject) {
            int minW = 0, minH = 0;
            GetMinSize(minW, minH);
            // Each key is within its limit, but rows and columns of them add up.
            if (minW > kMaxScriptSize || minH > kMaxScriptSize) {
                throw FExceptionUiScript(FNarrowString("window %s needs at least %d x %d pixels; at most %d "
                                                       "x %d are allowed",
                                                       m_usName.GetNarrow(), minW, minH, kMaxScriptSize,
                                                       kMaxScriptSize)
                                             .GetCString());
            }
            const int w = std::clamp(std::max(tag->GetInt("DX", 0), minW), 0, kMaxUiWindowSide);
            const int h = std::clamp(std::max(tag->GetInt("DY", 0), minH), 0, kMaxUiWindowSide);
            m_rect.SetWidth(w);
            m_rect.SetHeight(h);
            m_pFirstObject->SetRect(0, 0, w, h);
            SetClientSize(w, h);
            priCentreBusyAnimation();
        } else {
            SetClientSize(200, 100);
        }
    }

    m_pOsWindow = CreateOsUiWindow(this);
    if (menuTag)
        CreateMenus(menuTag);
    if (!m_bQuitOnDestroy)
        m_pOsWindow->ClearQuitOnDestroy();
    FGenericUiWindow* owner = dynamic_cast<FGenericUiWindow*>(parent);
    if (!owner && m_pApp) {
        bool hasParent = false;
        const FWideString parentName = tag->GetString("_Parent", FWideString(), &hasParent);
        if (hasParent)
            owner = dynamic_cast<FGenericUiWindow*>(m_pApp->FindUiWindow(parentName));
    }
    if (owner)
        owner->AddChildWindow(this);
    FWideString title;
    GetTitle(title);
    const FRect wanted = m_rect;
    m_pOsWindow->Create(owner ? owner->m_pOsWindow : nullptr, title);
    m_pOsWindow->SetClientSize(wanted.Width(), wanted.Height());
    m_pOsWindow->Move(wanted.left, wanted.top);
    m_pOsWindow->GetWindowRect(m_rect);

    FPropList* entry = (m_bSaveState && m_pApp) ? m_pApp->GetPersistentData(m_usFullName) : nullptr;
    if (entry) {
        FGenericUiWindow* top = nullptr;
        if (m_pClass && m_bCascade)
            top = dynamic_cast<FGenericUiWindow*>(m_pClass->GetTopInstance());
        bool hasX = false, hasY = false;
        int left = entry->GetInt("X", 40, &hasX);
        int topY = entry->GetInt("Y", 40, &hasY);
        FRect topRect;
        if (top)
            top->GetWindowRect(topRect);
        if (hasX && hasY) {
            if (top) {
                left = topRect.left + 15;
                topY = topRect.top + 15;
            }
            m_pOsWindow->Move(std::max(left, 1), std::max(topY, 1));
        }
        bool hasDx = false, hasDy = false;
        int dx = entry->GetInt("Dx", 0, &hasDx);
        int dy = entry->GetInt("Dy", 0, &hasDy);
        if (hasDx && hasDy && m_bResizable) {
            if (top) {
                dx = topRect.Width();
                dy = topRect.Height();
            }
            if (dx < 10)
                dx = 200;
            if (dy < 10)
                dy = 100;
            m_pOsWindow->SetClientSize(std::min(dx, kMaxUiWindowSide), std::min(dy, kMaxUiWindowSide));
        }
        m_pOsWindow->GetWindowRect(m_rect);
    }
    Invalidate(nullptr);
    SetVisible(m_bVisible);
    return true;
}

void FGenericUiWindow::AddChildWindow(FGenericUiWindow* window)
{
    if (!window)
        return;
    m_childWindows.push_back(window);
    window->SetParentWindow(this);
}

void FGenericUiWindow::RemoveChildWindow(FGenericUiWindow* window)
{
    auto it = std::find(m_childWindows.begin(), m_childWindows.end(), window);
    if (it != m_childWindows.end())
        m_childWindows.erase(it);
}

void FGenericUiWindow::ClearQuitOnDestroy()
{
    m_bQuitOnDestroy = false;
    if (m_pOsWindow)
        m_pOsWindow->ClearQuitOnDestroy();
}

void FGenericUiWindow::CreateMenus(FPropList* menuTag)
{
    FUiMenu* last = m_pFirstMenu;
    while (last && last->GetNext())
        last = last->GetNext();
    for (FPropList* child = menuTag ? menuTag->GetFirstChild() : nullptr; child; child = child->GetNext()) {
        auto* menu = new FUiMenu(m_pApp, this);
        if (last)
            last->SetNext(menu);
        else
            m_pFirstMenu = menu;
        last = menu;
        menu->Init(child);
        if (m_pOsWindow)
            menu->SetOsMenu(m_pOsWindow->CreateMenu(m_pApp, menu, child));
    }
}

bool FGenericUiWindow::ConnectRelays()
{
    bool all = true;
    for (RelayEvent* event : m_events)
        all = event->Connect(this) && all;
    for (FUiMenu* menu = m_pFirstMenu; menu; menu = menu->GetNext())
        menu->ConnectRelays();
    for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext())
        all = object->ConnectRelays() && all;
    return all;
}

FIUiRelay* FGenericUiWindow::GetUiRelay(const FWideString& name)
{
    if (name == m_usName)
        return this;
    FWideString left, rest;
    if (!name.Split(u".", left, rest) || left.IsEmpty() || rest.IsEmpty() || !(left == m_usName))
        return nullptr;
    for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext()) {
        if (FIUiRelay* found = object->GetUiRelay(rest))
            return found;
    }
    for (FUiMenu* menu = m_pFirstMenu; menu; menu = menu->GetNext()) {
        if (FIUiRelay* found = menu->GetUiRelay(rest))
            return found;
    }
    return nullptr;
}

int FGenericUiWindow::SendToAllObjects(const FWideString& message, void* data)
{
    // Pre-order without recursion: first child, else next sibling, else climb.
    int count = 0;
    FIUiObject* object = m_pFirstObject;
    while (object) {
        object->UiRelayMessage(message, data);
        ++count;
        if (FIUiObject* child = object->GetFirstChild()) {
            object = child;
            continue;
        }
        while (object && !object->GetNext())
            object = object->GetParent();
        if (object)
            object = object->GetNext();
    }
    return count;
}

// ---- Showing, closing, geometry ----

bool FGenericUiWindow::SetVisible(bool visible)
{
    if (m_bModal && m_pApp)
        m_pApp->SetModalWindow(visible ? this : nullptr);
    m_bVisible = visible;
    if (visible) {
        priFire("ON_BEING_SHOWN");
        if (m_pOsWindow && !m_bHeldHidden) {
            if (!m_bBuffersWanted) {
                m_bBuffersWanted = true;
                FRect client;
                m_pOsWindow->GetWindowRect(client);
                if (m_bDefaultLook)
                    priPaintDefaultLook(client.Width(), client.Height());
                else
                    SetClientSize(client.Width(), client.Height());
            }
            m_pOsWindow->Show(true, m_bCentreOnParent);
            m_pOsWindow->GetWindowRect(m_rect);
            Invalidate(nullptr);
        }
        return m_bVisible;
    }
    if (m_pOsWindow)
        m_pOsWindow->Show(false, false);
    return priFire("ON_BEEN_HIDDEN");
}

void FGenericUiWindow::HoldHidden()
{
    m_bHeldHidden = true;
    SetVisible(m_bVisible);
}

void FGenericUiWindow::ReleaseHold()
{
    m_bHeldHidden = false;
    SetVisible(m_bVisible);
}

void FGenericUiWindow::Activate()
{
    if (m_pOsWindow)
        m_pOsWindow->Activate();
}

void FGenericUiWindow::Move(int x, int y)
{
    DebugTrace("Window moved to %i %i\n", x, y);
    if (m_pOsWindow)
        m_pOsWindow->Move(x, y);
}

void FGenericUiWindow::Close()
{
    if (m_bModal && m_pApp && m_bVisible)
        m_pApp->SetModalWindow(nullptr);
    m_bVisible = false;
    if (m_pOsWindow)
        m_pOsWindow->Destroy();
}

bool FGenericUiWindow::CloseInstance()
{
    if (!m_pClass)
        return false;
    if (m_bModal && m_pApp && m_bVisible)
        m_pApp->SetModalWindow(nullptr);
    m_bVisible = false;
    // Gone from the screen now; the object itself once no handler of it runs.
    if (m_pOsWindow) {
        m_pOsWindow->Show(false, false);
        m_pOsWindow->Destroy();
    }
    m_pClass->RemoveInstance(this);
    return true;
}

bool FGenericUiWindow::priCloseRequested(bool internal)
{
    if (m_bMessageOnClose) {
        priFire("ON_CLOSE_PRESSED");
        return true;
    }
    if (m_bHideOnClose) {
        SetVisible(false);
        return true;
    }
    if (!internal) {
        if (m_pOsWindow && m_pOsWindow->IsCreated())
            m_pOsWindow->PostClose();
        return true;
    }
    if (m_pClass)
        CloseInstance();
    else
        Close();
    return true;
}

void FGenericUiWindow::GetWindowRect(FRect& rect)
{
    if (m_pOsWindow && m_pOsWindow->IsCreated())
        m_pOsWindow->GetWindowRect(m_rect);
    rect = m_rect;
}

void FGenericUiWindow::priSaveState()
{
    if (!m_bSaveState || !m_pApp)
        return;
    FPropList* entry = m_pApp->GetPersistentData(m_usFullName);
    if (!entry)
        return;
    FRect rect;
    GetWindowRect(rect);
    entry->SetInt(FWideString("X"), rect.left);
    entry->SetInt(FWideString("Y"), rect.top);
    entry->SetInt(FWideString("Dx"), rect.Width());
    entry->SetInt(FWideString("Dy"), rect.Height());
}

void FGenericUiWindow::GetTitle(FWideString& title)
{
    title = m_usTitle;
    title += m_usTitlePostfix;
}

void FGenericUiWindow::SetCursor(FIUiPixmap* pixmap, int hotX, int hotY)
{
    if (m_pOsWindow)
        m_pOsWindow->SetCursor(pixmap, hotX, hotY);
}

void FGenericUiWindow::GetMinSize(int& width, int& height)
{
    if (!m_pFirstObject) {
        width = 20;
        height = 20;
        return;
    }
    width = m_pFirstObject->GetLayoutObject(true)->GetMinSize();
    height = m_pFirstObject->GetLayoutObject(false)->GetMinSize();
}

void FGenericUiWindow::SetClientSize(int width, int height)
{
    width = std::clamp(width, 0, kMaxUiWindowSide);
    height = std::clamp(height, 0, kMaxUiWindowSide);
    m_rect.SetWidth(width);
    m_rect.SetHeight(height);
    if (width <= 0 || height <= 0)
        return;
    ReleaseUiPixmap(m_pBackground);
    if (!m_bBuffersWanted) {
        // A window never shown holds no pixels; the first showing makes them at the size then.
        ReleaseUiPixmap(m_pWindowPixmap);
        Invalidate(nullptr);
        return;
    }
    m_pBackground = CreateUiPixmap(width, height, true);
    if (m_pBackground) {
        const FRect all(0, 0, width, height);
        if (m_bSkinned && m_pSkin) {
            m_pSkin->DrawNineSlice(m_pBackground, m_bgX0, m_bgY0, m_bgX1, m_bgY1, true);
        } else if (m_bDefaultLook) {
            m_pBackground->FillRect(all, FUiColor(245, 245, 245, 255));
        } else {
            m_pBackground->FillRect(all, m_frameColor);
            const FRect inner(m_iFrameThickness, m_iFrameThickness, width - m_iFrameThickness,
                              height - m_iFrameThickness);
            if (inner.Width() > 0 && inner.Height() > 0)
                m_pBackground->FillRect(Intersection(inner, all).Width() > 0 ? inner : all, m_bgColor);
        }
    }
    ReleaseUiPixmap(m_pWindowPixmap);
    m_pWindowPixmap = CreateUiPixmap(width, height, true);
    if (m_pWindowPixmap && m_pBackground)
        m_pBackground->Blit(m_pWindowPixmap, FRect(0, 0, width, height), FRect(0, 0, width, height));
    Invalidate(nullptr);
}

bool FGenericUiWindow::ApplyClientSize(int width, int height)
{
    width = std::clamp(width, 0, kMaxUiWindowSide);
    height = std::clamp(height, 0, kMaxUiWindowSide);
    if (width == m_rect.Width() && height == m_rect.Height() && m_pWindowPixmap) {
        if (m_pFirstObject)
            m_pFirstObject->SetRect(0, 0, width, height);
        priCentreBusyAnimation();
        Invalidate(nullptr);
        return true;
    }
    int minW = 0, minH = 0;
    GetMinSize(minW, minH);
    width = std::min(std::max(width, minW), kMaxUiWindowSide);
    height = std::min(std::max(height, minH), kMaxUiWindowSide);
    if (m_pFirstObject && !m_pFirstObject->SetRect(0, 0, width, height))
        return false;
    priCentreBusyAnimation();
    SetClientSize(width, height);
    Invalidate(nullptr);
    return true;
}

void FGenericUiWindow::LayoutObjects()
{
    if (m_pFirstObject)
        m_pFirstObject->SetRect(0, 0, m_rect.Width(), m_rect.Height());
    Invalidate(nullptr);
    priCentreBusyAnimation();
}

void FGenericUiWindow::ReInitLayout(int dx, int dy)
{
    if (m_pFirstObject)
        m_pFirstObject->ReInitLayout();
    else
        DebugTraceText(
            "Ignoring NULL m_pUiObjects and skipping ReInitLayout in m_pUiObjects->ReInitLayout\n");
    int minW = 0, minH = 0;
    GetMinSize(minW, minH);
    // Held to the same cap as at set-up: an object may ask for more than the OS can give.
    const int width = static_cast<int>(std::clamp<long long>(
        std::max<long long>(static_cast<long long>(m_rect.Width()) - dx, minW), 0, kMaxUiWindowSide));
    const int height = static_cast<int>(std::clamp<long long>(
        std::max<long long>(static_cast<long long>(m_rect.Height()) - dy, minH), 0, kMaxUiWindowSide));
    ApplyClientSize(width, height);
    if (m_pOsWindow)
        m_pOsWindow->SetClientSize(width, height);
    priCentreBusyAnimation();
}

void FGenericUiWindow::priCentreBusyAnimation()
{
    if (!m_pBusyAnimation)
        return;
    const FRect r = m_pBusyAnimation->GetRect();
    m_pBusyAnimation->SetRect(m_rect.Width() / 2 - r.Width() / 2, m_rect.Height() / 2 - r.Height() / 2,
                              r.Width(), r.Height());
}

// ---- Drawing ----

void FGenericUiWindow::Invalidate(const FRect* rect)
{
    FRect r = rect ? *rect : FRect(0, 0, m_rect.Width(), m_rect.Height());
    if (!rect && m_pWindowPixmap)
        r = FRect(0, 0, m_pWindowPixmap->GetWidth(), m_pWindowPixmap->GetHeight());
    for (const FRect& existing : m_dirty) {
        if (existing == r) {
            m_bStale = true;
            return;
        }
    }
    bool merged = false;
    for (FRect& existing : m_dirty) {
        if (MergeInto(existing, r)) {
            merged = true;
            break;
        }
    }
    if (!merged)
        m_dirty.push_back(r);
    if (m_dirty.size() >= 2 && MergeInto(m_dirty[0], m_dirty[1]))
        m_dirty.erase(m_dirty.begin() + 1);
    m_bStale = true;
}

void FGenericUiWindow::InvalidateAndUpdate(const FRect* rect)
{
    Invalidate(rect);
    UpdateIfInvalid();
}

void FGenericUiWindow::UpdateIfInvalid()
{
    if (m_bStale)
        Redraw();
}

void FGenericUiWindow::Redraw()
{
    if (m_bDisplayDisabled || !m_pOsWindow || !m_pOsWindow->IsCreated())
        return;
    if (!m_pWindowPixmap) {
        m_pOsWindow->FillWithColor(m_bgColor);
        m_dirty.clear();
        m_bStale = false;
        return;
    }
    const FRect bounds(0, 0, m_pWindowPixmap->GetWidth(), m_pWindowPixmap->GetHeight());
    if (!m_dirty.empty()) {
        std::vector<FRect> dirty;
        dirty.swap(m_dirty);
        for (const FRect& d : dirty) {
            const FRect clip = Intersection(d, bounds);
            if (clip.Width() <= 0 || !m_bStale)
                continue;
            if (m_pBackground)
                m_pBackground->Blit(m_pWindowPixmap, clip, clip);
            for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext()) {
                const FRect meet = Intersection(object->GetRect(), clip);
                if (meet.Width() > 0)
                    object->Display(m_pWindowPixmap, 0, 0, meet);
            }
            if (m_pPopup)
                m_pPopup->Display(m_pWindowPixmap, 0, 0, clip);
        }
        for (const FRect& d : dirty) {
            const FRect clip = Intersection(d, bounds);
            if (clip.Width() > 0)
                priPresentClipped(clip);
        }
        m_bStale = false;
        return;
    }
    if (m_bStale) {
        if (m_pBackground)
            m_pBackground->Blit(m_pWindowPixmap, bounds, bounds);
        for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext())
            object->Display(m_pWindowPixmap, 0, 0, object->GetRect());
        if (m_pPopup)
            m_pPopup->Display(m_pWindowPixmap, 0, 0, m_pPopup->GetRect());
        m_bStale = false;
    }
    priPresentClipped(bounds);
}

void FGenericUiWindow::priPresentClipped(const FRect& rect)
{
    if (!m_bChildrenEnabled && m_bDrawDisabledColor) {
        FIUiPixmap* tinted = CreateUiPixmap(rect.Width(), rect.Height(), false);
        if (tinted) {
            const FRect local(0, 0, rect.Width(), rect.Height());
            m_pWindowPixmap->Blit(tinted, local, rect);
            tinted->BlendRect(local, m_disabledColor);
            if (m_pBusyAnimation)
                m_pBusyAnimation->Display(tinted, -rect.left, -rect.top, local);
            PresentRect(rect, local, tinted);
            ReleaseUiPixmap(tinted);
            return;
        }
    }
    PresentRect(rect, rect, m_pWindowPixmap);
}

void FGenericUiWindow::PresentRect(const FRect& destination, const FRect& source, FIUiPixmap* pixmap)
{
    if (!m_pOsWindow)
        return;
    if (m_bYellowRects) {
        FIUiPixmap* yellow = CreateUiPixmap(destination.Width(), destination.Height(), false);
        if (yellow) {
            yellow->FillRGBA(255, 255, 0, 255);
            m_pOsWindow->Present(destination, FRect(0, 0, destination.Width(), destination.Height()), yellow);
            ReleaseUiPixmap(yellow);
        }
    }
    m_pOsWindow->Present(destination, source, pixmap);
}

void FGenericUiWindow::priPresentWhole(bool tinted)
{
    if (!m_pWindowPixmap || !m_pOsWindow || !m_pOsWindow->IsCreated())
        return;
    const FRect bounds(0, 0, m_pWindowPixmap->GetWidth(), m_pWindowPixmap->GetHeight());
    if (tinted)
        priPresentClipped(bounds);
    else
        PresentRect(bounds, bounds, m_pWindowPixmap);
}

void FGenericUiWindow::EnableWindow()
{
    m_bOsEnabled = true;
    if (m_pOsWindow)
        m_pOsWindow->Enable(true);
    priPresentWhole(!m_bChildrenEnabled && m_bDrawDisabledColor);
}

void FGenericUiWindow::DisableWindow()
{
    m_bOsEnabled = false;
    if (m_pOsWindow)
        m_pOsWindow->Enable(false);
    if (!m_bChildrenEnabled && m_bDrawDisabledColor)
        priPresentWhole(true);
}

// ---- Commands ----

bool FGenericUiWindow::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        if (!m_bPostInitDone) {
            m_bPostInitDone = true;
            SendToAllObjects(message, nullptr);
            priFire("ON_CREATE");
            priFire("ON_SEND_WINDOW", static_cast<FIUiWindow*>(this));
        }
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp && m_bListening) {
            m_pApp->RemoveLanguageListener(this);
            m_bListening = false;
        }
        priSaveState();
        return true;
    }
    if (message == "Disable Window Display.") {
        m_bDisplayDisabled = true;
        return true;
    }
    if (message == "Enable Window Display & Redraw All.") {
        m_bDisplayDisabled = false;
        InvalidateAndUpdate(nullptr);
        return true;
    }
    if (message == "Close")
        return priCloseRequested(false);
    if (message == "InternalClose")
        return priCloseRequested(true);
    if (message == "Show") {
        SetVisible(true);
        return true;
    }
    if (message == "Hide") {
        SetVisible(false);
        return true;
    }
    if (message == "ToggleVisibility") {
        SetVisible(!m_bVisible);
        return true;
    }
    if (message == "SetVisibility") {
        if (!data)
            return false;
        const bool wanted = *static_cast<bool*>(data);
        if (wanted != m_bVisible)
            SetVisible(wanted);
        return true;
    }
    if (message == "Move") {
        if (!data)
            return false;
        const int* xy = static_cast<int*>(data);
        Move(xy[0], xy[1]);
        priSaveState();
        return true;
    }
    if (message == "Resize") {
        if (!data)
            return false;
        const int* wh = static_cast<int*>(data);
        if (m_pOsWindow)
            m_pOsWindow->SetClientSize(std::clamp(wh[0], 0, kMaxUiWindowSide),
                                       std::clamp(wh[1], 0, kMaxUiWindowSide));
        priSaveState();
        return true;
    }
    if (message == "Set Language") {
        if (!data)
            return false;
        if (!m_usDisplayString.IsEmpty() && m_pApp) {
            if (FIUiMultiLangString* title = m_pApp->GetDisplayString(m_usDisplayString)) {
                const FWideString* text = title->GetText();
                m_usTitle = text ? *text : FWideString();
                FWideString full;
                GetTitle(full);
                if (m_pOsWindow)
                    m_pOsWindow->SetTitle(full);
            }
        }
        return true;
    }
    if (message == "SetTitlePostfix") {
        if (!data)
            return false;
        m_usTitlePostfix = *static_cast<FWideString*>(data);
        FWideString full;
        GetTitle(full);
        if (m_pOsWindow)
            m_pOsWindow->SetTitle(full);
        return true;
    }
    if (message == "EnableWindow") {
        if (!data)
            return false;
        *static_cast<bool*>(data) ? EnableWindow() : DisableWindow();
        return true;
    }
    if (message == "EnableWindowsChildren" || message == "DisableWindowsChildren") {
        if (!data)
            return false;
        const bool value = *static_cast<bool*>(data);
        SetChildrenEnabled(message == "EnableWindowsChildren" ? value : !value);
        return true;
    }
    if (message == "GetChildWindow") {
        if (!data)
            return false;
        auto* query = static_cast<FUiChildWindowQuery*>(data);
        query->window = nullptr;
        for (FGenericUiWindow* child : m_childWindows) {
            if (child->m_usName == query->name) {
                query->window = child;
                break;
            }
        }
        return true;
    }
    if (message == "SetWaitCursor") {
        int hx = 0, hy = 0;
        FIUiPixmap* cursor = m_pApp ? m_pApp->GetWaitCursor(hx, hy) : nullptr;
        SetCursor(cursor, hx, hy);
        return true;
    }
    if (message == "ResetCursor") {
        SetCursor(nullptr, 0, 0);
        return true;
    }
    return false;
}

// ---- Events from the OS window ----

void FGenericUiWindow::OnOsClose()
{
    UiRelayMessage(FWideString("InternalClose"), nullptr);
}

size_t FGenericUiWindow::GetBufferBytes() const
{
    size_t bytes = 0;
    for (FIUiPixmap* pixmap : {m_pBackground, m_pWindowPixmap}) {
        if (pixmap)
            bytes += static_cast<size_t>(pixmap->GetWidth()) * static_cast<size_t>(pixmap->GetHeight()) * 4;
    }
    return bytes;
}

void FGenericUiWindow::OnOsResize(int width, int height)
{
    if (ApplyClientSize(width, height)) {
        int size[2] = {std::max(width, 0), std::max(height, 0)};
        int minW = 0, minH = 0;
        GetMinSize(minW, minH);
        size[0] = std::max(size[0], minW);
        size[1] = std::max(size[1], minH);
        priFire("ON_RESIZE", size);
    }
}

void FGenericUiWindow::OnOsMove(int left, int top)
{
    m_rect.Offset(left - m_rect.left, top - m_rect.top);
    int position[2] = {left, top};
    priFire("ON_MOVE", position);
}

void FGenericUiWindow::OnActivate()
{
    if (m_pClass)
        m_pClass->BringInstanceToFront(this);
    priFire("ON_ACTIVATE");
}

void FGenericUiWindow::OnDeactivate()
{
    priFire("ON_DEACTIVATE");
}

void FGenericUiWindow::OnZOrderChanged()
{
    if (m_pClass)
        m_pClass->BringInstanceToFront(this);
}

void FGenericUiWindow::OnMinimized()
{
    priFire("ON_MINIMIZED");
}

void FGenericUiWindow::OnMaximized()
{
    priFire("ON_MAXIMIZED");
}

void FGenericUiWindow::OnRestored()
{
    priFire("ON_RESTORED");
}

FOsWindowStyle FGenericUiWindow::GetOsWindowStyle()
{
    FOsWindowStyle style;
    style.resizable = m_bResizable;
    style.toolWindow = m_bToolWindow;
    style.topMost = m_bTopMost;
    style.titleBarHidden = m_bBagTheTitleBar;
    GetMinSize(style.minWidth, style.minHeight);
    return style;
}

void FGenericUiWindow::OnOsDestroyed()
{
    // At shutdown everything already said goodbye before the state was saved.
    if (m_pApp && m_pApp->IsShuttingDown())
        return;
    UiRelayMessage(FWideString("we're goin' bye-bye"), nullptr);
}

// ---- Input ----

FIUiObject* FGenericUiWindow::priHitTopLevel(int x, int y)
{
    for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext()) {
        if (FIUiObject* hit = object->HitTest(x, y))
            return hit;
    }
    return nullptr;
}

bool FGenericUiWindow::SetMouseCapture(FIUiObject* object, bool on)
{
    if (!object)
        return false;
    if (on) {
        if (m_pCapture && m_pCapture != object)
            return false;
        m_pCapture = object;
        return true;
    }
    if (m_pCapture != object)
        return false;
    m_pCapture = nullptr;
    return true;
}

bool FGenericUiWindow::SetKeyboardObject(FIUiObject* object, bool on)
{
    if (!object)
        return false;
    if (on) {
        if (m_pKeyboard)
            m_pKeyboard->KeyboardFocusLost();
        m_pKeyboard = object;
        return true;
    }
    if (m_pKeyboard != object)
        return false;
    m_pKeyboard->KeyboardFocusLost();
    m_pKeyboard = nullptr;
    return true;
}

void FGenericUiWindow::SetPopupObject(FIUiObject* object, bool on)
{
    auto closeCurrent = [this] {
        const FRect r = m_pPopup->GetRect();
        Invalidate(&r);
        FIUiObject* popup = m_pPopup;
        m_pPopup = nullptr;
        popup->PopupClosed();
        m_pCapture = nullptr;
        if (m_pHover) {
            FIUiObject* hover = m_pHover;
            m_pHover = nullptr;
            hover->MouseLeave(0, 0);
        }
    };
    if (on) {
        if (m_pPopup)
            closeCurrent();
        if (!object)
            return;
        m_pPopup = object;
        object->PopupOpened();
        const FRect r = object->GetRect();
        Invalidate(&r);
    } else if (object && object == m_pPopup) {
        closeCurrent();
    }
}

bool FGenericUiWindow::priUpdateDragCursor(FIUiObject* target, int x, int y)
{
    int hx = 0, hy = 0;
    FIUiPixmap* refused = m_pApp ? m_pApp->GetDragNoCursor(hx, hy) : nullptr;
    if (!refused || !m_pPressed[0] || !m_bDragging || !target)
        return false;
    if (target->CanDrop(x, y)) {
        FIUiPixmap* accepted = m_pApp->GetDragYesCursor(hx, hy);
        SetCursor(accepted, hx, hy);
        return true;
    }
    m_pApp->GetDragNoCursor(hx, hy);
    SetCursor(refused, hx, hy);
    return false;
}

void FGenericUiWindow::priEndDrag()
{
    if (m_bDragging)
        SetCursor(nullptr, 0, 0);
    m_bDragging = false;
}

void FGenericUiWindow::MouseMove(int x, int y)
{
    if (!m_bChildrenEnabled)
        return;
    if (m_bDragArmed && !m_bDragging && (std::abs(x - m_iDragX) > 3 || std::abs(y - m_iDragY) > 3)) {
        m_bDragging = true;
        m_iDragX = x;
        m_iDragY = y;
        int hx = 0, hy = 0;
        FIUiPixmap* refused = m_pApp ? m_pApp->GetDragNoCursor(hx, hy) : nullptr;
        SetCursor(refused, hx, hy);
    }
    if (m_bCursorResetPending) {
        SetCursor(nullptr, 0, 0);
        m_bCursorResetPending = false;
    }
    if (m_pCapture)
        m_pCapture->MouseMove(x, y);
    FIUiObject* target = nullptr;
    FIUiObject* popupHit = m_pPopup ? m_pPopup->HitTest(x, y) : nullptr;
    if (popupHit) {
        if (popupHit == m_pHover)
            return;
        if (m_pHover)
            m_pHover->MouseLeave(x, y);
        m_pHover = popupHit;
        popupHit->MouseEnter(x, y);
        target = popupHit;
    } else {
        if (m_pHover) {
            if (m_pHover->HitTest(x, y) == m_pHover)
                return;
            FIUiObject* hover = m_pHover;
            m_pHover = nullptr;
            hover->MouseLeave(x, y);
        }
        if (!m_pPressed[0]) {
            if (FIUiObject* hit = priHitTopLevel(x, y)) {
                m_pHover = hit;
                hit->MouseEnter(x, y);
            }
            return;
        }
        if (FIUiObject* hit = m_pPressed[0]->HitTest(x, y)) {
            m_pHover = hit;
            hit->MouseEnter(x, y);
            target = hit;
        } else {
            target = priHitTopLevel(x, y);
            if (!target)
                return;
        }
    }
    priUpdateDragCursor(target, x, y);
}

bool FGenericUiWindow::MouseDown(int button, int x, int y, bool ctrl, bool shift)
{
    MouseMove(x, y);
    if (m_pPopup && !m_pPopup->HitTest(x, y)) {
        const FRect r = m_pPopup->GetRect();
        Invalidate(&r);
        FIUiObject* popup = m_pPopup;
        m_pPopup = nullptr;
        popup->PopupClosed();
        // The click goes on to what lies below.
        MouseMove(x, y);
    }
    if (!m_pHover || button < 0 || button > 1)
        return false;
    m_pPressed[button] = m_pHover;
    if (button != 0)
        return false;
    // A press during a drag (the first half of a double click) ends it with the arrow before arming anew.
    priEndDrag();
    int hx = 0, hy = 0;
    if (m_pApp && m_pApp->GetDragNoCursor(hx, hy) && m_pHover->GetDragData(x, y, ctrl, shift, m_usDragData)) {
        m_bDragArmed = true;
        m_bDragging = false;
        m_iDragX = x;
        m_iDragY = y;
    }
    return m_pPressed[0]->MouseDown(x, y, ctrl, shift);
}

void FGenericUiWindow::MouseUp(int button, int x, int y, bool ctrl, bool shift)
{
    if (m_bDragging) {
        if (FIUiObject* hit = priHitTopLevel(x, y)) {
            if (priUpdateDragCursor(hit, x, y))
                hit->Drop(x, y, ctrl, shift, m_usDragData);
        }
        SetCursor(nullptr, 0, 0);
        m_bDragging = false;
        m_bDragArmed = false;
    } else {
        m_bDragArmed = false;
    }
    if (button >= 0 && button <= 1 && m_pPressed[button]) {
        FIUiObject* pressed = m_pPressed[button];
        m_pPressed[button] = nullptr;
        if (button == 0)
            pressed->MouseUp(x, y, ctrl, shift);
    }
    MouseMove(x, y);
}

bool FGenericUiWindow::MouseDoubleClick(int button, int x, int y, bool ctrl, bool shift)
{
    priEndDrag();
    MouseMove(x, y);
    if (!m_pHover || button < 0 || button > 1)
        return false;
    m_pPressed[button] = m_pHover;
    if (button == 0)
        m_pHover->MouseDoubleClick(x, y, ctrl, shift);
    return true;
}

void FGenericUiWindow::MouseWheel(int x, int y, int flag, int notches)
{
    MouseMove(x, y);
    if (FIUiObject* target = m_pCapture ? m_pCapture : m_pHover)
        target->MouseWheel(x, y, flag, notches);
}

void FGenericUiWindow::MouseLeftWindow(int x, int y)
{
    m_bCursorResetPending = true;
    if (m_pHover) {
        FIUiObject* hover = m_pHover;
        m_pHover = nullptr;
        hover->MouseLeave(x, y);
    }
}

void FGenericUiWindow::SetChildrenEnabled(bool enable)
{
    if (enable == m_bChildrenEnabled)
        return;
    m_bChildrenEnabled = enable;
    if (!enable) {
        if (m_pBusyAnimation)
            m_pBusyAnimation->UiRelayMessage(FWideString("Play"), nullptr);
        m_pHover = nullptr;
        for (FIUiObject*& pressed : m_pPressed) {
            FIUiObject* object = pressed;
            pressed = nullptr;
            if (object)
                object->MouseUp(0, 0, false, false);
        }
        priEndDrag();
        m_bDragArmed = false;
        if (m_pPopup) {
            FIUiObject* popup = m_pPopup;
            m_pPopup = nullptr;
            popup->PopupClosed();
        }
    }
    InvalidateAndUpdate(nullptr);
}

void FGenericUiWindow::KeyEvent(uint16_t code, bool ctrl, bool shift)
{
    if (code == 27) {
        UiRelayMessage(FWideString("Close"), nullptr);
        return;
    }
    if (ctrl && shift && code == 6) {
        priFire("ON_CTRL_SHIFT_F");
        return;
    }
    if (ctrl && shift && code == 24) {
        priFire("ON_CTRL_SHIFT_X");
        return;
    }
    if (m_pKeyboard)
        m_pKeyboard->KeyEvent(code, ctrl, shift);
    if (shift)
        return;
    FKeyRecord record{code, ctrl, shift};
    if (ctrl && code == 5)
        priFire("ON_CTRL_E", &record);
    else if (ctrl && code == 9)
        priFire("ON_CTRL_I", &record);
    else if (ctrl && code == 17)
        priFire("ON_CTRL_Q", &record);
    else if (!ctrl && code == 145)
        priFire("ON_RIGHT_ARROW", &record);
    else if (!ctrl && code == 146)
        priFire("ON_LEFT_ARROW", &record);
}

void FGenericUiWindow::Copy(FWideString& text)
{
    if (m_pKeyboard)
        m_pKeyboard->Copy(text);
}

void FGenericUiWindow::Cut(FWideString& text)
{
    if (m_pKeyboard)
        m_pKeyboard->Cut(text);
}

void FGenericUiWindow::Paste(const FWideString& text)
{
    if (m_pKeyboard)
        m_pKeyboard->Paste(text);
}

void FGenericUiWindow::Tick(double seconds)
{
    const int ms = static_cast<int>(seconds * 1000.0);
    if (m_bTickWindow && m_pApp)
        m_pApp->Tick(ms);
    for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext())
        object->Tick(ms);
    if (!m_bChildrenEnabled && m_pBusyAnimation)
        m_pBusyAnimation->Tick(ms);
}

FIUiWindow* CreateUiWindow(FIUiApp* app, FPropList* tag, FUiWindowClass* windowClass, FIUiWindow* parent)
{
    std::unique_ptr<FGenericUiWindow> window(new FGenericUiWindow(app, windowClass));
    if (!window->InitUiWindow(tag, parent))
        return nullptr;
    return window.release();
}

void DeleteUiWindowLater(FIUiWindow* window)
{
    if (window && !IsUiWindowDeletionPending(window))
        PendingDeletions().push_back(window);
}

void RunDeferredUiWindowDeletions()
{
    // Deleting a window may close its child instances, which queue more.
    while (!PendingDeletions().empty()) {
        std::vector<FIUiWindow*> batch;
        batch.swap(PendingDeletions());
        for (FIUiWindow* window : batch)
            delete window;
    }
}

bool IsUiWindowDeletionPending(FIUiWindow* window)
{
    const auto& pending = PendingDeletions();
    return std::find(pending.begin(), pending.end(), window) != pending.end();
}
