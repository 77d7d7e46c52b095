#pragma once

#include <memory>

class FOsSyncHandle;

// Base of the waitable objects. Time-outs are in milliseconds; a negative one
// waits for ever.
class FSyncObject
{
public:
    virtual ~FSyncObject();
    FSyncObject(const FSyncObject&) = delete;
    FSyncObject& operator=(const FSyncObject&) = delete;

    // True when the object was acquired (a mutex) or consumed (an event);
    // false on a time-out or failure.
    virtual bool Wait(int milliseconds);

    static constexpr int kInfinite = -1;

protected:
    FSyncObject();

    std::unique_ptr<FOsSyncHandle> m_pHandle;
};
