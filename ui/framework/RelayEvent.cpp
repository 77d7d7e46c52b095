#include "RelayEvent.h"

#include "FDebugTrace.h"
#include "FIUiApp.h"
#include "FIUiWindow.h"
#include "FPropList.h"

namespace
{

// The long key wins; the short key is read only when the long one is absent.
bool ReadKey(FPropList* element, const char* longKey, const char* shortKey, FWideString& value)
{
    bool found = false;
    FWideString text = element->GetString(longKey, FWideString(), &found);
    if (!found)
        text = element->GetString(shortKey, FWideString(), &found);
    if (found)
        value = text;
    return found;
}

} // namespace

RelayEvent::RelayEvent(const FWideString& name) : m_usName(name) {}

RelayEvent::~RelayEvent()
{
    Relay* relay = m_pFirstRelay;
    while (relay) {
        Relay* next = relay->next;
        delete relay;
        relay = next;
    }
}

RelayEvent::Relay* RelayEvent::priAppend()
{
    m_bInUse = true;
    Relay* relay = new Relay;
    if (m_pLastRelay)
        m_pLastRelay->next = relay;
    else
        m_pFirstRelay = relay;
    m_pLastRelay = relay;
    return relay;
}

void RelayEvent::ReadRelay(FPropList* element)
{
    Relay* relay = priAppend();
    if (!element)
        return;
    ReadKey(element, "Message", "MSG", relay->message);
    relay->relayGiven = ReadKey(element, "Relay", "GRT", relay->relay);
    relay->localRelayGiven = ReadKey(element, "LocalRelay", "LRT", relay->localRelay);
    relay->dataGiven = ReadKey(element, "Data", "DI1", relay->data[0]);
    relay->data2Given = ReadKey(element, "Data2", "DI2", relay->data[1]);
}

void RelayEvent::ReadSendTags(FPropList* element)
{
    if (!element)
        return;
    for (FPropList* child = element->GetFirstChild(); child; child = child->GetNext()) {
        if (child->GetName() == "SEND")
            ReadRelay(child);
    }
}

void RelayEvent::AddTarget(const FWideString& message, FIUiRelay* target)
{
    Relay* relay = priAppend();
    relay->message = message;
    relay->target = target;
}

bool RelayEvent::Connect(FIUiWindow* window)
{
    return priConnect(window, window ? window->GetApp() : nullptr);
}

bool RelayEvent::ConnectToApp(FIUiApp* app)
{
    return priConnect(nullptr, app);
}

bool RelayEvent::priConnect(FIUiWindow* window, FIUiApp* app)
{
    if (!m_bInUse || !m_pFirstRelay)
        return true;
    bool all = true;
    for (Relay* relay = m_pFirstRelay; relay; relay = relay->next) {
        if (relay->target)
            continue;
        if (relay->relayGiven) {
            relay->target = app ? app->GetUiRelay(relay->relay) : nullptr;
        } else if (relay->localRelayGiven && window) {
            // Names inside a window are looked up as "<window>.<name>"; an empty one is the window.
            FWideString name;
            window->GetName(name);
            if (!relay->localRelay.IsEmpty()) {
                name += ".";
                name += relay->localRelay;
            }
            relay->target = window->GetUiRelay(name);
            if (!relay->target)
                DebugTrace("RelayEvent::Connect() window target (%s) FAILED!\n", name.GetNarrow());
        }
        if (!relay->target)
            all = false;
    }
    return all;
}

bool RelayEvent::Fire(void* data)
{
    bool all = true;
    for (Relay* relay = m_pFirstRelay; relay; relay = relay->next) {
        if (!relay->target)
            continue;
        void* passed = data;
        if (!passed && relay->dataGiven)
            passed = relay->data;
        if (!relay->target->UiRelayMessage(relay->message, passed))
            all = false;
    }
    return all;
}
