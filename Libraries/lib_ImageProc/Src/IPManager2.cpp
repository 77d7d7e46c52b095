#include "IPManager2.h"

#include <new>

#include "FCache.h"
#include "FIPEngine2.h"
#include "FIPManagerRequest.h"
#include "FIPSubManagers.h"

bool FIPManagerPrivate::IsBusy()
{
    return m_pParent->GetMgrState() != kMgrIdle;
}

void FIPManagerPrivate::Idle()
{
    m_pParent->Idle();
}

void FIPManagerPrivate::Request(FIPManagerRequest* request)
{
    m_pParent->priRequest(request);
}

const IPManager2::Handler IPManager2::s_aHandlers[kMgrStateCount] = {};

IPManager2::IPManager2()
{
    m_pCache = GetGlobalCache();
    m_pDataRetriever = CreateDataRetriever();
    m_pIPEngine = CreateIPEngine2();
}

IPManager2::~IPManager2()
{
    delete m_pSaveManager;
    delete m_pPreviewManager;
    ReleaseDataRetriever(m_pDataRetriever);
    ReleaseIPEngine2(&m_pIPEngine);
    delete m_pPrivate;
}

bool IPManager2::IsBusy()
{
    return m_pCurrentRequest != nullptr || m_pSaveRequest != nullptr || m_pPreviewRequest != nullptr;
}

void IPManager2::Idle() {}

void IPManager2::Request(FIPManagerRequest* request)
{
    if (request == nullptr)
        return;
    if (m_pSaveRequest != nullptr || m_pPreviewRequest != nullptr) {
        request->m_Async.Fail(kErrBusy, "IPManager2 is busy.");
        return;
    }
    priRequest(request);
}

void IPManager2::priRequest(FIPManagerRequest* request)
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
    request->m_Async.Fail(kErrUnsupported, "IPManager2: request kind not available yet.");
}

double IPManager2::priProgress(int, int, double) const
{
    return 0.0;
}

const FWideString& IPManager2::GetLabel(int index) const
{
    return m_usLabels[index >= 0 && index < kLabelCount ? index : 0];
}

FIPManager* CreateIPManager2()
{
    return new (std::nothrow) IPManager2();
}
