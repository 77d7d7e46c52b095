#include "FUiObject.h"

#include "FDebugTrace.h"
#include "FIUiApp.h"
#include "FIUiWindow.h"
#include "FPropList.h"

FUiObject::FUiObject(const char* typeName) : m_typeName(typeName ? typeName : "") {}

FUiObject::~FUiObject()
{
    if (m_pApp)
        m_pApp->RemoveLanguageListener(this);
    RelayEvent* event = m_pFirstEvent;
    while (event) {
        RelayEvent* next = event->GetNext();
        delete event;
        event = next;
    }
    DeleteUiObjectChain(m_pFirstChild);
}

bool FUiObject::InitRelay(FPropList* tag)
{
    bool found = false;
    const FWideString name = tag ? tag->GetString("Name", m_usName, &found) : m_usName;
    m_bNameGiven = found;
    if (found)
        m_usName = name;
    if (m_pParent)
        m_pParent->GetFullName(m_usFullName);
    else if (m_pWindow)
        m_pWindow->GetFullName(m_usFullName);
    else if (m_pApp)
        m_pApp->GetFullName(m_usFullName);
    else
        m_usFullName.Clear();
    if (m_bNameGiven) {
        m_usFullName += ".";
        m_usFullName += m_usName;
    }
    return true;
}

bool FUiObject::ConnectRelays()
{
    bool all = true;
    for (RelayEvent* event = m_pFirstEvent; event; event = event->GetNext()) {
        const bool ok = m_pWindow ? event->Connect(m_pWindow) : event->ConnectToApp(m_pApp);
        all = ok && all;
    }
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        all = child->ConnectRelays() && all;
    return all;
}

FIUiRelay* FUiObject::GetUiRelay(const FWideString& name)
{
    return name == m_usName ? this : nullptr;
}

FIUiRelay* FUiObject::ContainerGetUiRelay(const FWideString& name)
{
    if (!m_bNameGiven) {
        for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
            if (FIUiRelay* found = child->GetUiRelay(name))
                return found;
        }
        return nullptr;
    }
    if (name == m_usName)
        return this;
    FWideString left, rest;
    if (!name.Split(u".", left, rest) || !(left == m_usName))
        return nullptr;
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext()) {
        if (FIUiRelay* found = child->GetUiRelay(rest))
            return found;
    }
    return nullptr;
}

bool FUiObject::UiRelayMessage(const FWideString&, void*)
{
    return false;
}

bool FUiObject::AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*)
{
    return true;
}

bool FUiObject::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    m_pApp = app;
    m_pWindow = window;
    m_pParent = parent;
    if (m_pFirstEvent && tag) {
        for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
            if (child->GetName() == "EVENT") {
                bool found = false;
                const FWideString eventName = child->GetString("Name", FWideString(), &found);
                if (RelayEvent* event = found ? FindEvent(eventName) : nullptr)
                    event->ReadSendTags(child);
            } else if (RelayEvent* event = FindEvent(child->GetName())) {
                event->ReadRelay(child);
            }
        }
    }
    const bool relayOk = InitRelay(tag);
    if (!LoadScriptedProps(app, tag)) {
        DebugTrace("FUiObject::InitUiObject(%s) FAILED! Did not get all required props.\n",
                   m_usFullName.GetNarrow());
        return false;
    }
    return relayOk;
}

bool FUiObject::SetRect(int x, int y, int width, int height)
{
    m_rect.Set(x, y, x + width, y + height);
    return true;
}

bool FUiObject::ReInitLayout()
{
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->ReInitLayout();
    return true;
}

void FUiObject::Tick(int elapsedMs)
{
    for (FIUiObject* child = m_pFirstChild; child; child = child->GetNext())
        child->Tick(elapsedMs);
}

void FUiObject::MouseWheel(int x, int y, int flag, int notches)
{
    if (m_pParent)
        m_pParent->MouseWheel(x, y, flag, notches);
}

void FUiObject::Copy(FWideString&)
{
    DebugTraceText("This copy request is not being handled.\n");
}

void FUiObject::Cut(FWideString&)
{
    DebugTraceText("This cut request is not being handled.\n");
}

void FUiObject::Paste(const FWideString&)
{
    DebugTraceText("This paste request is not being handled.\n");
}

void FUiObject::DebugDump()
{
    DebugTrace("OBJECT TYPE: %s\n", m_typeName.c_str());
    DumpScriptedProps();
    for (RelayEvent* event = m_pFirstEvent; event; event = event->GetNext())
        DebugTrace("   EVENT: %s\n", event->GetName().GetNarrow());
}

RelayEvent* FUiObject::AddEvent(const FWideString& eventName)
{
    RelayEvent* event = new RelayEvent(eventName);
    if (!m_pFirstEvent) {
        m_pFirstEvent = event;
        return event;
    }
    RelayEvent* last = m_pFirstEvent;
    while (last->GetNext())
        last = last->GetNext();
    last->SetNext(event);
    return event;
}

RelayEvent* FUiObject::FindEvent(const FWideString& eventName) const
{
    for (RelayEvent* event = m_pFirstEvent; event; event = event->GetNext()) {
        if (event->GetName() == eventName)
            return event;
    }
    return nullptr;
}

FIUiPixmap* FUiObject::LoadPixmapFromTag(FPropList* tag, const char* attribute, bool* found)
{
    bool present = false;
    const FWideString file = tag ? tag->GetString(attribute, FWideString(), &present) : FWideString();
    FIUiPixmap* pixmap = (present && m_pApp) ? m_pApp->LoadUiPixmap(file) : nullptr;
    if (found)
        *found = pixmap != nullptr;
    return pixmap;
}

void FUiObject::AppendChild(FIUiObject* child)
{
    AppendUiObject(m_pFirstChild, child);
}

void DeleteUiObjectChain(FIUiObject*& first)
{
    FIUiObject* object = first;
    first = nullptr;
    while (object) {
        FIUiObject* next = object->GetNext(); // fetched before the object goes
        delete object;
        object = next;
    }
}

void AppendUiObject(FIUiObject*& first, FIUiObject* object)
{
    if (!object)
        return;
    object->SetNext(nullptr);
    object->SetPrev(nullptr);
    if (!first) {
        first = object;
        return;
    }
    FIUiObject* last = first;
    while (last->GetNext())
        last = last->GetNext();
    last->SetNext(object);
    object->SetPrev(last);
}

bool InitNonVisualUiObject(FUiObject* object, FIUiApp* app, FIUiWindow* window, FIUiObject* parent,
                           FPropList* tag)
{
    // The base start-up, not the object's own: an override may be this very function.
    object->FUiObject::InitUiObject(app, window, parent, tag);
    for (bool horizontal : {true, false}) {
        FLayoutObject* layout = object->GetLayoutObject(horizontal);
        *layout = FLayoutObject();
        layout->m_iMinSize = 0;
        layout->m_iSize = 0;
    }
    object->FUiObject::SetRect(0, 0, 0, 0);
    return true;
}
