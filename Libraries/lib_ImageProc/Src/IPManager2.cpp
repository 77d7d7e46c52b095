#include "IPManager2.h"

#include <new>

#include "FIPManagerRequest.h"

bool IPManager2::IsBusy()
{
    return m_pCurrentRequest != nullptr;
}

void IPManager2::Idle() {}

void IPManager2::Request(FIPManagerRequest* request)
{
    if (request == nullptr)
        return;
    if (m_pCurrentRequest != nullptr) {
        request->m_Async.Fail(kErrBusy, "IPManager2 is busy.");
        return;
    }
    request->m_Async.m_iErrorCode.store(kErrNone, std::memory_order_release);
    if (request->m_eKind < kReqNone || request->m_eKind > kReqLast) {
        request->m_Async.Fail(kErrUnsupported);
        return;
    }
    if (request->m_eKind == kReqNone) {
        request->m_Async.Complete();
        return;
    }
    request->m_Async.Fail(kErrUnsupported, "IPManager2: request kind not available.");
}

FIPManager* CreateIPManager2()
{
    return new (std::nothrow) IPManager2();
}
