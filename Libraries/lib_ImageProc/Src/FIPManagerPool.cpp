#include <cstdint>
#include <new>

#include "FDebugTrace.h"
#include "FIPEngineService.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIPWorkSignal.h"
#include "FPictureTurns.h"

namespace
{

FIPManagerPool* s_pPool = nullptr;
int s_iPoolSize = kDefaultIPManagerPoolSize;

FIPManagerFactory& Factory()
{
    static FIPManagerFactory factory;
    return factory;
}

} // namespace

FIPManagerPool::~FIPManagerPool()
{
    while (m_pManagers != nullptr) {
        ManagerNode* node = m_pManagers;
        m_pManagers = node->m_pNext;
        ReleaseIPManager(&node->m_pManager);
        delete node;
    }
    m_pCursor = nullptr;
    m_iManagerCount = 0;
    while (m_pWaiting != nullptr) {
        WaitingNode* node = m_pWaiting;
        m_pWaiting = node->m_pNext;
        DebugTrace("FIPManagerPool destroy: request 0x%llx never handled.\n",
                   static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(node->m_pRequest)));
        node->m_pRequest->m_Async.Fail(kErrBusy);
        delete node;
    }
}

bool FIPManagerPool::IsBusy()
{
    return false;
}

int FIPManagerPool::GetQueueLength() const
{
    int n = 0;
    for (WaitingNode* node = m_pWaiting; node != nullptr; node = node->m_pNext)
        ++n;
    return n;
}

FIPManager* FIPManagerPool::GetManager(int index) const
{
    ManagerNode* node = m_pManagers;
    for (int i = 0; node != nullptr && i < index; ++i)
        node = node->m_pNext;
    return index >= 0 && node != nullptr ? node->m_pManager : nullptr;
}

void FIPManagerPool::priHandTo(FIPManager* manager, FIPManagerRequest* request)
{
    request->m_pHandlingManager = manager;
    manager->Request(request);
}

FIPManager* FIPManagerPool::priCreateManager()
{
    try {
        const FIPManagerFactory& factory = Factory();
        return factory ? factory() : CreateIPManager2();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void FIPManagerPool::Request(FIPManagerRequest* request)
{
    if (request == nullptr)
        return;
    // A manager starting a load must not wait for it: the caller has others to hand out.
    FIPNoWaitScope noWait;
    request->m_Async.m_iErrorCode.store(kErrNone, std::memory_order_release);
    request->m_Async.SetState(kInitialized);

    for (ManagerNode* node = m_pManagers; node != nullptr; node = node->m_pNext) {
        if (!node->m_pManager->IsBusy()) {
            priHandTo(node->m_pManager, request);
            return;
        }
    }
    if (m_iManagerCount < s_iPoolSize) {
        FIPManager* manager = priCreateManager();
        ManagerNode* node = nullptr;
        if (manager != nullptr) {
            node = new (std::nothrow) ManagerNode{manager, nullptr};
            if (node == nullptr)
                ReleaseIPManager(&manager);
        }
        if (node != nullptr) {
            ManagerNode** tail = &m_pManagers;
            while (*tail != nullptr)
                tail = &(*tail)->m_pNext;
            *tail = node;
            if (m_pCursor == nullptr)
                m_pCursor = node;
            ++m_iManagerCount;
            priHandTo(manager, request);
            return;
        }
        // Without any manager the request would wait for ever.
        if (m_iManagerCount == 0) {
            request->m_Async.Fail(kErrOutOfMemory, "FIPManagerPool: unable to create a manager.");
            return;
        }
    }
    WaitingNode* waiting = new (std::nothrow) WaitingNode{request, nullptr};
    if (waiting == nullptr) {
        request->m_Async.Fail(kErrOutOfMemory, "FIPManagerPool: out of memory.");
        return;
    }
    WaitingNode** tail = &m_pWaiting;
    while (*tail != nullptr)
        tail = &(*tail)->m_pNext;
    *tail = waiting;
    request->m_Async.SetState(kInProgress);
}

void FIPManagerPool::Idle()
{
    if (m_pCursor == nullptr)
        return;
    // Managers are ticked without waiting, so that one whose load is still running never
    // holds up another whose load has finished; the pool waits instead, once a round has
    // passed without any request finishing, for the first that does.
    if (m_pCursor == m_pManagers) {
        if (m_bQuietRound && IPIdleMayWait())
            WaitForIPWork(m_uRoundStart, kIdleWaitMs);
        m_uRoundStart = GetIPWorkCount();
    }
    FIPNoWaitScope noWait;
    while (m_pCursor != nullptr) {
        FIPManager* manager = m_pCursor->m_pManager;
        bool ticked = false;
        if (manager->IsBusy()) {
            manager->Idle();
            ticked = true;
        }
        if (m_pWaiting != nullptr && !manager->IsBusy()) {
            WaitingNode* oldest = m_pWaiting;
            m_pWaiting = oldest->m_pNext;
            FIPManagerRequest* request = oldest->m_pRequest;
            delete oldest;
            priHandTo(manager, request);
        }
        m_pCursor = m_pCursor->m_pNext;
        if (ticked)
            break;
    }
    if (m_pCursor == nullptr) {
        m_pCursor = m_pManagers;
        m_bQuietRound = GetIPWorkCount() == m_uRoundStart;
    }
}

FIPManagerPool* GetIPManagerPool()
{
    if (s_pPool == nullptr)
        s_pPool = new (std::nothrow) FIPManagerPool();
    return s_pPool;
}

void SetIPManagerPoolSize(int n)
{
    s_iPoolSize = n > 0 ? n : 0;
    // The process's engine service drives the pool: it stops before the pool goes.
    if (s_iPoolSize == 0)
        ShutDownIPEngineService();
    if (s_iPoolSize == 0 && s_pPool != nullptr) {
        FIPManagerPool* pool = s_pPool;
        s_pPool = nullptr;
        delete pool;
    }
    // Closing the pool ends a run: the next one reads the pictures' turns afresh.
    if (s_iPoolSize == 0)
        ForgetPictureTurns();
}

int GetIPManagerPoolSize()
{
    return s_iPoolSize;
}

FIPManagerFactory SetIPManagerFactory(FIPManagerFactory factory)
{
    FIPManagerFactory previous = std::move(Factory());
    Factory() = std::move(factory);
    return previous;
}

void ReleaseIPManager(FIPManager** holder)
{
    if (holder == nullptr)
        return;
    FIPManager* manager = *holder;
    *holder = nullptr;
    if (manager != nullptr && dynamic_cast<FIPManagerPool*>(manager) == nullptr)
        delete manager;
}
