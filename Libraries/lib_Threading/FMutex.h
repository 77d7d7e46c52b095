#pragma once

#include <atomic>
#include <thread>

#include "FSyncObject.h"

// A recursive, thread-owned mutex with a timed lock. A named one is shared by
// every object of that name in every process of the user, and is released
// when the process holding it dies.
class FMutex : public FSyncObject
{
public:
    // Both throw FExceptionSyncObject("Can't create handle for FMutex").
    FMutex();
    explicit FMutex(const char* name);
    ~FMutex() override;

    // False on a time-out, and when this object is already held through Lock
    // (the mutex then stays as it was).
    bool Lock(int milliseconds = kInfinite);
    // True when the calling thread held the mutex and released it.
    bool Unlock();

private:
    std::atomic<bool> m_bHeld;
    std::thread::id m_heldBy;
};

// Holds a mutex for a scope when Lock succeeded.
class FMutexLock
{
public:
    explicit FMutexLock(FMutex& mutex, int milliseconds = FSyncObject::kInfinite)
        : m_mutex(mutex), m_bLocked(mutex.Lock(milliseconds))
    {
    }
    ~FMutexLock()
    {
        if (m_bLocked)
            m_mutex.Unlock();
    }
    FMutexLock(const FMutexLock&) = delete;
    FMutexLock& operator=(const FMutexLock&) = delete;
    bool IsLocked() const { return m_bLocked; }

private:
    FMutex& m_mutex;
    bool m_bLocked;
};
