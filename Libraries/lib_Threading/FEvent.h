#pragma once

#include "FSyncObject.h"

// An unnamed auto-reset event, not signalled at creation: one Set releases
// exactly one Wait.
class FEvent : public FSyncObject
{
public:
    // Throws FExceptionSyncObject("Can't create handle for FEvent").
    FEvent();
    ~FEvent() override;

    void Set();
    void Reset();
    bool Wait(int milliseconds) override;
};
