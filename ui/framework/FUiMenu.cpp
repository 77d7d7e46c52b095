#include "FUiMenu.h"

#include "FIUiApp.h"
#include "FIUiWindow.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"

// ---- Items ----

FUiMenuItem::FUiMenuItem(FIUiApp* app, FIUiWindow* window, FUiMenu* menu, int position)
    : m_pApp(app), m_pWindow(window), m_pMenu(menu), m_iPosition(position)
{
}

FUiMenuItem::~FUiMenuItem()
{
    if (m_pApp && m_bListening)
        m_pApp->RemoveLanguageListener(this);
}

void FUiMenuItem::Init(FPropList* tag)
{
    FWideString language;
    m_bListening = m_pApp && m_pApp->AddLanguageListener(this, language);
    if (!tag)
        return;
    bool hasName = false;
    const FWideString stringName = tag->GetString("DisplayString", FWideString(), &hasName);
    if (hasName && m_pApp) {
        m_pDisplayString = m_pApp->GetDisplayString(stringName);
        if (m_pDisplayString)
            m_pDisplayString->SelectLanguage(language);
    }
    InitRelay(tag);
    m_usKey = tag->GetString("Key", FWideString());
    m_bCheckable = tag->GetBool("_UseCheck", false);
    m_usGroup = tag->GetString("_CheckGroup", FWideString());
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        for (RelayEvent* event : {&m_onSelect, &m_onCheck, &m_onUncheck, &m_onCheckState}) {
            if (child->GetName() == event->GetName())
                event->ReadRelay(child);
        }
    }
}

bool FUiMenuItem::InitRelay(FPropList* tag)
{
    m_usName = tag ? tag->GetString("Name", FWideString()) : FWideString();
    if (m_pMenu)
        m_pMenu->GetFullName(m_usFullName);
    m_usFullName += ".";
    m_usFullName += m_usName;
    return true;
}

bool FUiMenuItem::ConnectRelays()
{
    bool all = true;
    for (RelayEvent* event : {&m_onSelect, &m_onCheck, &m_onUncheck, &m_onCheckState})
        all = event->Connect(m_pWindow) && all;
    return all;
}

FIUiRelay* FUiMenuItem::GetUiRelay(const FWideString& name)
{
    return !m_usName.IsEmpty() && name == m_usName ? this : nullptr;
}

FIOsUiMenu* FUiMenuItem::priOs() const
{
    return m_pMenu ? m_pMenu->GetOsMenu() : nullptr;
}

void FUiMenuItem::priUncheckGroup()
{
    if (m_usGroup.IsEmpty() || !m_pMenu)
        return;
    for (FUiMenuItem* item = m_pMenu->GetFirstItem(); item; item = item->GetNext())
        if (item != this && item->m_bChecked && item->m_usGroup == m_usGroup)
            item->priSetChecked(false);
}

void FUiMenuItem::priSetChecked(bool checked)
{
    if (checked)
        priUncheckGroup();
    m_bChecked = checked;
    if (FIOsUiMenu* os = priOs())
        os->CheckItem(m_iPosition, checked);
    (checked ? m_onCheck : m_onUncheck).Fire(nullptr);
    bool state = m_bChecked;
    m_onCheckState.Fire(&state);
}

void FUiMenuItem::priRelabel()
{
    const FWideString* text = m_pDisplayString ? m_pDisplayString->GetText() : nullptr;
    if (text)
        if (FIOsUiMenu* os = priOs())
            os->SetItemLabel(m_iPosition, *text, m_usKey);
}

bool FUiMenuItem::UiRelayMessage(const FWideString& message, void* data)
{
    FIOsUiMenu* os = priOs();
    auto enable = [&](bool on) {
        if (on == m_bEnabled)
            return;
        m_bEnabled = on;
        if (!os)
            return;
        if (on) {
            os->EnableItem(m_iPosition);
            if (m_bChecked)
                os->CheckItem(m_iPosition, true);
        } else {
            os->DisableItem(m_iPosition);
        }
    };
    if (message == "Select") {
        // A group always keeps one choice: choosing the ticked item again leaves it ticked.
        if (m_bCheckable)
            priSetChecked(m_usGroup.IsEmpty() ? !m_bChecked : true);
        m_onSelect.Fire(nullptr);
        return true;
    }
    if (message == "Enable") {
        enable(true);
        return true;
    }
    if (message == "Disable") {
        enable(false);
        return true;
    }
    if (message == "SetEnabled") {
        if (!data)
            return false;
        enable(*static_cast<bool*>(data));
        return true;
    }
    if (message == "Check" || message == "Uncheck") {
        if (m_bCheckable)
            priSetChecked(message == "Check");
        return true;
    }
    if (message == "SetCheck") {
        if (!data)
            return false;
        const bool wanted = *static_cast<bool*>(data);
        if (m_bCheckable && wanted != m_bChecked)
            priSetChecked(wanted);
        return true;
    }
    if (message == "SetLabel") {
        if (!data)
            return false;
        FIUiMultiLangString* string =
            m_pApp ? m_pApp->GetDisplayString(*static_cast<FWideString*>(data)) : nullptr;
        if (string) {
            m_pDisplayString = string;
            FWideString language;
            if (m_pApp && m_pApp->AddLanguageListener(this, language)) {
                m_bListening = true;
                string->SelectLanguage(language);
            }
            priRelabel();
        }
        return true;
    }
    if (message == "Set Language") {
        if (!data)
            return false;
        if (m_pDisplayString) {
            m_pDisplayString->SelectLanguage(*static_cast<FWideString*>(data));
            priRelabel();
        }
        return true;
    }
    return false;
}

// ---- Pull-downs ----

FUiMenu::FUiMenu(FIUiApp* app, FIUiWindow* window) : m_pApp(app), m_pWindow(window) {}

FUiMenu::~FUiMenu()
{
    if (m_pApp && m_bListening)
        m_pApp->RemoveLanguageListener(this);
    while (m_pFirstItem) {
        FUiMenuItem* next = m_pFirstItem->GetNext();
        delete m_pFirstItem;
        m_pFirstItem = next;
    }
}

void FUiMenu::Init(FPropList* tag)
{
    InitRelay(tag);
    FWideString language;
    m_bListening = m_pApp && m_pApp->AddLanguageListener(this, language);
    if (!tag)
        return;
    bool hasName = false;
    const FWideString title = tag->GetString("DisplayString", FWideString(), &hasName);
    if (hasName && m_pApp) {
        m_pTitle = m_pApp->GetDisplayString(title);
        if (m_pTitle)
            m_pTitle->SelectLanguage(language);
    }
    FUiMenuItem* last = nullptr;
    int position = 0;
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        auto* item = new FUiMenuItem(m_pApp, m_pWindow, this, position++);
        item->Init(child);
        if (last)
            last->SetNext(item);
        else
            m_pFirstItem = item;
        last = item;
    }
}

bool FUiMenu::InitRelay(FPropList* tag)
{
    m_usName = tag ? tag->GetString("Name", FWideString(), &m_bHasName) : FWideString();
    if (m_pWindow)
        m_pWindow->GetFullName(m_usFullName);
    m_usFullName += ".";
    m_usFullName += m_usName;
    return true;
}

FUiMenuItem* FUiMenu::FindItem(int position) const
{
    for (FUiMenuItem* item = m_pFirstItem; item; item = item->GetNext()) {
        if (item->GetPosition() == position)
            return item;
    }
    return nullptr;
}

bool FUiMenu::SelectItem(int position)
{
    FUiMenuItem* item = FindItem(position);
    if (!item || !item->IsEnabled())
        return false;
    return item->UiRelayMessage(FWideString("Select"), nullptr);
}

bool FUiMenu::ConnectRelays()
{
    bool all = true;
    for (FUiMenuItem* item = m_pFirstItem; item; item = item->GetNext())
        all = item->ConnectRelays() && all;
    return all;
}

FIUiRelay* FUiMenu::GetUiRelay(const FWideString& name)
{
    auto askItems = [this](const FWideString& rest) -> FIUiRelay* {
        for (FUiMenuItem* item = m_pFirstItem; item; item = item->GetNext()) {
            if (FIUiRelay* found = item->GetUiRelay(rest))
                return found;
        }
        return nullptr;
    };
    if (!m_bHasName || m_usName.IsEmpty())
        return askItems(name);
    if (name == m_usName)
        return this;
    FWideString left, rest;
    if (name.Split(u".", left, rest) && left == m_usName && !rest.IsEmpty())
        return askItems(rest);
    return nullptr;
}

bool FUiMenu::UiRelayMessage(const FWideString& message, void* data)
{
    if (!(message == "Set Language") || !data)
        return false;
    if (m_pTitle) {
        m_pTitle->SelectLanguage(*static_cast<FWideString*>(data));
        if (const FWideString* text = m_pTitle->GetText(); text && m_pOsMenu)
            m_pOsMenu->SetTitle(*text);
    }
    return true;
}
