#include "FMutex.h"

#include "FException.h"
#include "os/FOsSync.h"

namespace
{

FOsMutexHandle& MutexHandle(const std::unique_ptr<FOsSyncHandle>& handle)
{
    return static_cast<FOsMutexHandle&>(*handle);
}

} // namespace

FMutex::FMutex() : FMutex(nullptr) {}

FMutex::FMutex(const char* name) : m_bHeld(false)
{
    m_pHandle = OsCreateMutex(name);
    if (!m_pHandle)
        throw FExceptionSyncObject("Can't create handle for FMutex");
}

FMutex::~FMutex() = default;

bool FMutex::Lock(int milliseconds)
{
    if (!Wait(milliseconds))
        return false;
    // Holding the mutex now, this thread alone reads and writes the flags. A
    // flag left by a thread that ended while holding is stale.
    const std::thread::id self = std::this_thread::get_id();
    if (m_bHeld.load() && m_heldBy == self) {
        // Already held by this thread through Lock: undo this acquisition.
        MutexHandle(m_pHandle).Release();
        return false;
    }
    m_heldBy = self;
    m_bHeld.store(true);
    return true;
}

bool FMutex::Unlock()
{
    FOsMutexHandle& handle = MutexHandle(m_pHandle);
    // Another thread's hold is not ours to clear.
    if (!handle.IsOwnedByCurrentThread())
        return false;
    m_bHeld.store(false);
    m_heldBy = std::thread::id();
    return handle.Release();
}
