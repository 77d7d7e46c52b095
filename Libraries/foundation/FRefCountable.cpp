#include "FRefCountable.h"

#include "FException.h"

void FRefCountable::AddReference()
{
    FCriticalSectionLock lock(m_lock);
    ++m_iRefCount;
}

bool FRefCountable::DropReference()
{
    int before = 0;
    {
        FCriticalSectionLock lock(m_lock);
        before = m_iRefCount;
        if (before > 0)
            --m_iRefCount;
    }
    // A surplus release would make the count negative and a later one delete twice.
    if (before <= 0) {
        ReportAssertion(__FILE__, __LINE__, "m_iRefCount > 0", kAssertAssumption, before);
        return false;
    }
    return before == 1;
}

int FRefCountable::GetRefCount() const
{
    FCriticalSectionLock lock(m_lock);
    return m_iRefCount;
}
