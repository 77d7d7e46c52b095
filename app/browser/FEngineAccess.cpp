#include "FEngineAccess.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

#include "FIPEngineService.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"

namespace
{

bool IsProcessPool(FIPManager* manager)
{
    if (manager == nullptr)
        return true;
    FIPManager* pool = GetIPManagerPool();
    const bool same = pool == manager;
    ReleaseIPManager(&pool);
    return same;
}

// One service per manager handed in, shared by everyone who uses that manager, so that
// two threads never drive one manager at once.
std::shared_ptr<FIPEngineService> ServiceFor(FIPManager* manager)
{
    static std::mutex lock;
    static std::map<FIPManager*, std::weak_ptr<FIPEngineService>> services;
    std::lock_guard<std::mutex> guard(lock);
    for (auto it = services.begin(); it != services.end();)
        it = it->second.expired() ? services.erase(it) : std::next(it);
    std::weak_ptr<FIPEngineService>& slot = services[manager];
    std::shared_ptr<FIPEngineService> service = slot.lock();
    if (!service) {
        service = std::make_shared<FIPEngineService>(manager, FIPEngineService::Mode::kPumped);
        slot = service;
    }
    return service;
}

std::atomic<double>& WaitLimit()
{
    static std::atomic<double> seconds{600.0};
    return seconds;
}

} // namespace

void SetEngineWaitLimit(double seconds)
{
    WaitLimit().store(seconds);
}

double GetEngineWaitLimit()
{
    return WaitLimit().load();
}

FEngineAccess::FEngineAccess(FIPManager* manager)
{
    if (!IsProcessPool(manager))
        m_pOwn = ServiceFor(manager);
}

FEngineAccess::~FEngineAccess() = default;

FIPEngineService* FEngineAccess::Get()
{
    return m_pOwn ? m_pOwn.get() : GetIPEngineService();
}

FIPEngineService* FEngineAccess::Peek()
{
    return m_pOwn ? m_pOwn.get() : PeekIPEngineService();
}

int RunEngineRequest(FIPManager* manager, FIPManagerRequest& request)
{
    FEngineAccess access(manager);
    FIPEngineService* service = access.Get();
    if (service == nullptr) {
        request.m_Async.Fail(kErrInvalid, "No image-processing manager.");
        return kError;
    }
    const auto wait = std::chrono::milliseconds(static_cast<int64_t>(GetEngineWaitLimit() * 1000.0));
    PutResultInRecord(service->Run(JobOfRecord(request), wait), request);
    return request.m_Async.GetState();
}
