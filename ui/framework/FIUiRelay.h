#pragma once

#include "FWideString.h"

class FPropList;

// A named message endpoint. Objects never call one another directly: they send
// messages to relays found by (dotted) name. A message's data pointer has the
// type the message fixes; a handler that needs data answers a null one as not
// handled.
class FIUiRelay
{
public:
    virtual ~FIUiRelay() = default;

    virtual bool InitRelay(FPropList* tag) = 0;
    virtual void GetName(FWideString& name) = 0;
    virtual void GetFullName(FWideString& name) = 0;
    virtual bool ConnectRelays() = 0;
    virtual FIUiRelay* GetUiRelay(const FWideString& name) = 0;
    virtual bool UiRelayMessage(const FWideString& message, void* data) = 0;
    virtual bool AddEventTarget(const FWideString& eventName, const FWideString& message,
                                FIUiRelay* target) = 0;
};
