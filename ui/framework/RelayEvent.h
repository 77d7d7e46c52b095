#pragma once

#include "FWideString.h"

class FIUiApp;
class FIUiRelay;
class FIUiWindow;
class FPropList;

// One named event of an object with the relays the script attached to it.
// Firing sends each relay's message to its resolved target.
class RelayEvent
{
public:
    struct Relay {
        FWideString message;
        FWideString relay;
        bool relayGiven = false;
        FWideString localRelay;
        bool localRelayGiven = false;
        // Data and Data2 side by side: receivers get a pointer to data[0] and read data[1].
        FWideString data[2];
        bool dataGiven = false;
        bool data2Given = false;
        FIUiRelay* target = nullptr;
        Relay* next = nullptr;
    };

    explicit RelayEvent(const FWideString& name);
    ~RelayEvent();
    RelayEvent(const RelayEvent&) = delete;
    RelayEvent& operator=(const RelayEvent&) = delete;

    const FWideString& GetName() const { return m_usName; }
    RelayEvent* GetNext() const { return m_pNext; }
    void SetNext(RelayEvent* next) { m_pNext = next; }
    bool IsInUse() const { return m_bInUse; }
    const Relay* GetFirstRelay() const { return m_pFirstRelay; }

    // One relay from the element's keys (long key, else short key); appended
    // even when no key is present.
    void ReadRelay(FPropList* element);
    // ReadRelay for every "SEND" child, in order.
    void ReadSendTags(FPropList* element);
    // A relay whose target is already known.
    void AddTarget(const FWideString& message, FIUiRelay* target);

    // Resolves the relays that have no target yet; false when any stays unresolved.
    bool Connect(FIUiWindow* window);
    // As Connect for objects outside windows: only global names resolve.
    bool ConnectToApp(FIUiApp* app);

    // The AND of every resolved target's answer; true when none is resolved.
    bool Fire(void* data);

private:
    Relay* priAppend();
    bool priConnect(FIUiWindow* window, FIUiApp* app);

    FWideString m_usName;
    RelayEvent* m_pNext = nullptr;
    bool m_bInUse = false;
    Relay* m_pFirstRelay = nullptr;
    Relay* m_pLastRelay = nullptr;
};
