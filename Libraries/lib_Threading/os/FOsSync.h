#pragma once

#include <memory>

// The operating-system side of the waitable objects.
class FOsSyncHandle
{
public:
    virtual ~FOsSyncHandle() = default;
    // Acquires (a mutex) or consumes (an event); negative waits for ever.
    // False on a time-out or failure.
    virtual bool Wait(int milliseconds) = 0;
};

class FOsMutexHandle : public FOsSyncHandle
{
public:
    virtual bool IsOwnedByCurrentThread() = 0;
    // Undoes one acquisition by the calling thread; false when it holds none.
    virtual bool Release() = 0;
};

class FOsEventHandle : public FOsSyncHandle
{
public:
    virtual void Set() = 0;
    virtual void Reset() = 0;
};

// A recursive thread-owned mutex; a named one is shared with every process of
// the user and freed when its holder dies. Null on failure.
std::unique_ptr<FOsMutexHandle> OsCreateMutex(const char* name);
// An auto-reset event, not signalled. Null on failure.
std::unique_ptr<FOsEventHandle> OsCreateEvent();
