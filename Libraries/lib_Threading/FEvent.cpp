#include "FEvent.h"

#include "FException.h"
#include "os/FOsSync.h"

namespace
{

FOsEventHandle& EventHandle(const std::unique_ptr<FOsSyncHandle>& handle)
{
    return static_cast<FOsEventHandle&>(*handle);
}

} // namespace

FEvent::FEvent()
{
    m_pHandle = OsCreateEvent();
    if (!m_pHandle)
        throw FExceptionSyncObject("Can't create handle for FEvent");
}

FEvent::~FEvent() = default;

void FEvent::Set()
{
    EventHandle(m_pHandle).Set();
}

void FEvent::Reset()
{
    EventHandle(m_pHandle).Reset();
}

bool FEvent::Wait(int milliseconds)
{
    return FSyncObject::Wait(milliseconds);
}
