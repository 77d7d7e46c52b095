#include "FBundleFileHandle.h"

#include "FIStorageClass.h"

FBundleFileHandle::~FBundleFileHandle()
{
    if (m_pContainer != nullptr)
        m_pContainer->Release();
}
