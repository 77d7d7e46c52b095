#include "EngineTestSupport.h"

#include <thread>

#include "FCache.h"
#include "FIPWorkSignal.h"
#include "FLatchStorageClass.h"

bool TickUntil(const std::function<bool()>& done, const std::function<void()>& tick,
               std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        const uint64_t finished = GetIPWorkCount();
        tick();
        // Managers never wait; like a window, the test does not spin while their threads work.
        if (!done())
            WaitForIPWork(finished, 1);
    }
    return true;
}

bool TickPoolUntilFinal(FIPManagerRequest& request, std::chrono::milliseconds deadline)
{
    return TickUntil([&] { return request.m_Async.IsFinal(); },
                     [] {
                         if (FIPManagerPool* pool = GetIPManagerPool())
                             pool->Idle();
                         std::this_thread::yield();
                     },
                     deadline);
}

FFakeManager::FFakeManager(std::string name, std::shared_ptr<FFakeManagerLog> log, int idlesPerRequest)
    : m_name(std::move(name)), m_pLog(std::move(log)), m_iIdlesPerRequest(idlesPerRequest)
{
}

FFakeManager::~FFakeManager()
{
    m_pLog->m_events.push_back("delete " + m_name);
    ++m_pLog->m_iDeleted;
}

void FFakeManager::Idle()
{
    m_pLog->m_events.push_back("idle " + m_name);
    if (m_pRequest == nullptr || --m_iIdlesLeft > 0)
        return;
    FIPManagerRequest* request = m_pRequest;
    m_pRequest = nullptr;
    request->m_Async.SetProgress(1.0);
    if (m_iFinalState == kError)
        request->m_Async.Fail(kErrException, "fake failure");
    else
        request->m_Async.SetState(m_iFinalState);
}

void FFakeManager::Request(FIPManagerRequest* request)
{
    m_pLog->m_events.push_back("request " + m_name);
    if (m_pRequest != nullptr) {
        request->m_Async.Fail(kErrBusy, "fake is busy");
        return;
    }
    m_pRequest = request;
    m_iIdlesLeft = m_iIdlesPerRequest;
    request->m_Async.SetState(kInProgress);
}

FFakeManagerFactory::FFakeManagerFactory(int idlesPerRequest)
    : m_pLog(std::make_shared<FFakeManagerLog>()), m_iIdlesPerRequest(idlesPerRequest)
{
    m_previous = SetIPManagerFactory([this]() -> FIPManager* {
        if (m_bFailing)
            return nullptr;
        const std::string name(1, static_cast<char>('A' + m_iCreated++));
        return new FFakeManager(name, m_pLog, m_iIdlesPerRequest);
    });
}

FFakeManagerFactory::~FFakeManagerFactory()
{
    // The pool's managers were made here; they go before the factory does.
    SetIPManagerPoolSize(0);
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    SetIPManagerFactory(std::move(m_previous));
}

uint32_t FCountingImage::AddRef()
{
    ++m_iAddRefs;
    return ++m_uRefCount;
}

uint32_t FCountingImage::Release()
{
    ++m_iReleases;
    if (m_uRefCount == 0)
        return 0;
    if (--m_uRefCount == 0)
        ++m_iDeletes;
    return m_uRefCount;
}

void FEngineTest::ResetEngineState()
{
    SetIPManagerPoolSize(0);
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    SetIPManagerFactory(nullptr);
    FCache* cache = GetGlobalCache();
    cache->SetSize(0);
    cache->SetSize(FCache::kDefaultLimit);
    GetLatchStorageClass().ResetControls();
}

void FEngineTest::SetUp()
{
    m_pConfig = std::make_unique<FScopedTempFolder>();
    m_pConfigEnv = std::make_unique<FScopedEnv>("XDG_CONFIG_HOME", m_pConfig->GetPath());
    ResetEngineState();
    m_pTrace = std::make_unique<FDebugTraceCapture>();
}

void FEngineTest::TearDown()
{
    ResetEngineState();
    m_pTrace.reset();
    m_pConfigEnv.reset();
    m_pConfig.reset();
}

const std::string& FEngineTest::ConfigPath() const
{
    return m_pConfig->GetPath();
}
