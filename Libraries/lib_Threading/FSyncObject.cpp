#include "FSyncObject.h"

#include "os/FOsSync.h"

FSyncObject::FSyncObject() = default;

FSyncObject::~FSyncObject() = default;

bool FSyncObject::Wait(int milliseconds)
{
    return m_pHandle && m_pHandle->Wait(milliseconds);
}
