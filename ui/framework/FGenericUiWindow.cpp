#include "FGenericUiWindow.h"

#include <algorithm>
#include <memory>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIUiApp.h"
#include "FIUiObject.h"
#include "FPropList.h"
#include "FUiObjectFactory.h"
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

} // namespace

FGenericUiWindow::FGenericUiWindow(FIUiApp* app, FUiWindowClass* windowClass)
    : m_pApp(app), m_pClass(windowClass)
{
    for (const char* name : kWindowEvents)
        m_events.push_back(new RelayEvent(FWideString(name)));
}

FGenericUiWindow::~FGenericUiWindow()
{
    if (m_pApp) {
        m_pApp->RemoveLanguageListener(this);
        m_pApp->OnWindowDeleted(this);
    }
    FIUiObject* object = m_pFirstObject;
    m_pFirstObject = nullptr;
    while (object) {
        FIUiObject* next = object->GetNext();
        delete object;
        object = next;
    }
    for (RelayEvent* event : m_events)
        delete event;
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

bool FGenericUiWindow::InitUiWindow(FPropList* tag, FIUiWindow* parent)
{
    if (!tag || !(tag->GetName() == "WINDOW" || tag->GetName() == "WINDOWCLASS"))
        throw FExceptionUiScript("failed trying to initalize a window with a non-window tag!");
    if (!InitRelay(tag))
        return false;
    FWideString current;
    m_bListening = m_pApp && m_pApp->AddLanguageListener(this, current);

    m_bModal = tag->GetBool("_Modal", false);
    m_bVisible = tag->GetBool("_Visible", true);
    m_bHideOnClose = tag->GetBool("_HideOnClose", false);
    m_bMessageOnClose = tag->GetBool("_MessageOnClose", false);
    m_bQuitOnDestroy = tag->GetBool("_QuitOnDestroy", true);
    m_bSaveState = tag->GetBool("_SaveState", false);
    m_usTitle = tag->GetString("WindowTitle", FWideString("Window"));

    FIUiObjectFactory* factory = GetFactory();
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        if (RelayEvent* event = FindEvent(child->GetName().GetNarrow())) {
            event->ReadRelay(child);
            continue;
        }
        if (child->GetName() == "MENU" || !factory)
            continue;
        FIUiObject* object = factory->CreateUiObject(child->GetName().GetNarrow());
        if (!object)
            continue;
        if (object->InitUiObject(m_pApp, this, nullptr, child))
            priAppendObject(object);
        else
            delete object;
    }
    m_pParentWindow = parent;
    if (!m_pParentWindow && m_pApp) {
        bool hasParent = false;
        const FWideString parentName = tag->GetString("_Parent", FWideString(), &hasParent);
        if (hasParent)
            m_pParentWindow = m_pApp->FindUiWindow(parentName);
    }
    SetVisible(m_bVisible);
    return true;
}

void FGenericUiWindow::priAppendObject(FIUiObject* object)
{
    object->SetNext(nullptr);
    object->SetPrev(nullptr);
    if (!m_pFirstObject) {
        m_pFirstObject = object;
        return;
    }
    FIUiObject* last = m_pFirstObject;
    while (last->GetNext())
        last = last->GetNext();
    last->SetNext(object);
    object->SetPrev(last);
}

bool FGenericUiWindow::ConnectRelays()
{
    bool all = true;
    for (RelayEvent* event : m_events)
        all = event->Connect(this) && all;
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

bool FGenericUiWindow::SetVisible(bool visible)
{
    if (m_bModal && m_pApp)
        m_pApp->SetModalWindow(visible ? this : nullptr);
    m_bVisible = visible;
    if (visible) {
        priFire("ON_BEING_SHOWN");
        return m_bVisible;
    }
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
    if (m_pClass)
        m_pClass->BringInstanceToFront(this);
}

void FGenericUiWindow::Close()
{
    if (m_bModal && m_pApp)
        m_pApp->SetModalWindow(nullptr);
}

bool FGenericUiWindow::CloseInstance()
{
    if (!m_pClass)
        return false;
    if (m_bModal && m_pApp && m_bVisible)
        m_pApp->SetModalWindow(nullptr);
    m_bVisible = false;
    m_pClass->RemoveInstance(this);
    return true;
}

bool FGenericUiWindow::priCloseRequested(bool internal)
{
    if (m_bMessageOnClose)
        return priFire("ON_CLOSE_PRESSED"), true;
    if (m_bHideOnClose) {
        SetVisible(false);
        return true;
    }
    if (!internal)
        return UiRelayMessage(FWideString("InternalClose"), nullptr);
    if (m_pClass)
        CloseInstance();
    else
        Close();
    return true;
}

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
        return true;
    }
    if (message == "Disable Window Display.") {
        m_bDisplayDisabled = true;
        return true;
    }
    if (message == "Enable Window Display & Redraw All.") {
        m_bDisplayDisabled = false;
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
    if (message == "Set Language")
        return data != nullptr;
    if (message == "EnableWindow") {
        if (!data)
            return false;
        *static_cast<bool*>(data) ? EnableWindow() : DisableWindow();
        return true;
    }
    return false;
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
