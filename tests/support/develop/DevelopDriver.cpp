#include "DevelopDriver.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "FCache.h"
#include "FIPManager.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "IPManager2.h"
#include "StorageClassRegistry.h"

namespace developtest
{

namespace
{

using Clock = std::chrono::steady_clock;

// Watches every manager of the pool: the state each handler is about to run, stamped.
struct StateClock {
    std::map<const IPManager2*, std::pair<int, Clock::time_point>> current;
    DevelopTimes* times = nullptr;
    Clock::time_point start = Clock::now();

    void Observe(const IPManager2* manager, int state)
    {
        const Clock::time_point now = Clock::now();
        auto it = current.find(manager);
        // The passes a manager ran before it could be watched (it is made by the request).
        if (it == current.end() && state >= 0 && times != nullptr)
            times->stateSeconds[0] += std::chrono::duration<double>(now - start).count();
        if (it != current.end() && times != nullptr) {
            const int previous = it->second.first;
            if (previous >= 0 && previous < int(times->stateSeconds.size()))
                times->stateSeconds[size_t(previous)] +=
                    std::chrono::duration<double>(now - it->second.second).count();
        }
        current[manager] = {state, now};
    }
    void Close()
    {
        for (auto& [manager, entry] : current)
            Observe(manager, -1);
        current.clear();
    }
};

void WatchManagers(StateClock& clock)
{
    FIPManagerPool* pool = GetIPManagerPool();
    if (pool == nullptr)
        return;
    for (int i = 0; i < pool->GetManagerCount(); ++i) {
        auto* manager = dynamic_cast<IPManager2*>(pool->GetManager(i));
        if (manager != nullptr)
            manager->SetStateObserver([&clock, manager](int state) { clock.Observe(manager, state); });
    }
}

void UnwatchManagers()
{
    FIPManagerPool* pool = GetIPManagerPool();
    if (pool == nullptr)
        return;
    for (int i = 0; i < pool->GetManagerCount(); ++i)
        if (auto* manager = dynamic_cast<IPManager2*>(pool->GetManager(i)))
            manager->SetStateObserver(nullptr);
}

} // namespace

void DevelopTimes::Add(const DevelopTimes& other)
{
    for (size_t i = 0; i < stateSeconds.size(); ++i)
        stateSeconds[i] += other.stateSeconds[i];
    totalSeconds += other.totalSeconds;
    longestIdleSeconds = std::max(longestIdleSeconds, other.longestIdleSeconds);
    peakCacheBytes = std::max(peakCacheBytes, other.peakCacheBytes);
    idleCalls += other.idleCalls;
}

const char* ManagerStateName(int state)
{
    static const char* const kNames[] = {
        "first passes",   "start",         "find images",    "load raw",     "wait raw",
        "load dark",      "wait dark",     "load camfile",   "wait camfile", "stage 1",
        "stage 1 (wait)", "stage 2",       "stage 2 (wait)", "stage 3",      "stage 3 (wait)",
        "tone table",     "tone (wait)",   "retinex table",  "stage 4",      "stage 4 (wait)",
        "output image",   "auto settings", "gray balance",   "illuminants",  "picture load",
        "picture render",
    };
    if (state < 0 || state >= int(sizeof(kNames) / sizeof(kNames[0])))
        return "";
    return kNames[state];
}

bool RunThroughPool(FIPManagerRequest& request, DevelopTimes* times, std::chrono::milliseconds deadline)
{
    FIPManagerPool* pool = GetIPManagerPool();
    if (pool == nullptr)
        return false;
    DevelopTimes local;
    StateClock clock;
    clock.times = &local;
    const Clock::time_point start = Clock::now();
    clock.start = start;
    pool->Request(&request);
    WatchManagers(clock);
    FCache* cache = GetGlobalCache();
    bool finished = true;
    while (request.m_Async.IsInProgress()) {
        if (Clock::now() - start > deadline) {
            finished = false;
            break;
        }
        const Clock::time_point before = Clock::now();
        pool->Idle();
        const double spent = std::chrono::duration<double>(Clock::now() - before).count();
        local.longestIdleSeconds = std::max(local.longestIdleSeconds, spent);
        local.peakCacheBytes = std::max(local.peakCacheBytes, cache->GetUsedBytes());
        ++local.idleCalls;
        // Managers made during the request are watched from their first pass on.
        WatchManagers(clock);
    }
    clock.Close();
    UnwatchManagers();
    local.totalSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    local.peakCacheBytes = std::max(local.peakCacheBytes, cache->GetUsedBytes());
    if (times != nullptr)
        times->Add(local);
    return finished;
}

FWideString DiskURL(const std::string& nativePath)
{
    // Checked on every call, not once per process: a program run in the same process
    // shuts every storage class down when it ends.
    static std::mutex registering;
    {
        const std::lock_guard<std::mutex> lock(registering);
        FWideString path;
        if (FindStorageClass(FWideString("disk"), path) == nullptr)
            RegisterDiskStorageClass();
    }
    FWideString url;
    NativePathToURL(FWideString(nativePath.c_str()), url);
    return url;
}

void PrepareProperties(FIPManagerRequest& request, const FWideString& file)
{
    request.Reset();
    request.m_eKind = kReqProperties;
    request.m_usFileName = file;
    if (request.m_pImageProps == nullptr)
        request.m_pImageProps = new FPropList(nullptr, "ImageProps");
}

void PreparePreview(FIPManagerRequest& request, const FWideString& file, int box)
{
    request.Reset();
    request.m_eKind = kReqPreview;
    request.m_usFileName = file;
    request.m_eOutputFormat = kDisplay;
    request.m_iOutCols = box;
    request.m_iOutRows = box;
    request.m_rCrop = FRect(0, 0, box, box);
}

void PrepareProcessed(FIPManagerRequest& request, const FWideString& file, int cols, int rows, int format)
{
    request.Reset();
    request.m_eKind = kReqProcessed;
    request.m_usFileName = file;
    request.m_eOutputFormat = format;
    request.m_iOutCols = cols;
    request.m_iOutRows = rows;
    request.m_rCrop = FRect(0, 0, cols, rows);
    // Neutral colour adjustment, as the application sends it (the record's reset leaves 0).
    for (double& gain : request.m_adColorAdjust)
        gain = 1.0;
}

void PrepareSave(FIPManagerRequest& request, const FWideString& file, const FWideString& output, int fileType,
                 int format, int colorSpace, int cols, int rows)
{
    PrepareProcessed(request, file, cols, rows, format);
    request.m_eKind = kReqProcAndSave;
    request.m_usOutputFile = output;
    request.m_eFileType = fileType;
    request.m_iColorSpace = colorSpace;
    request.m_usSoftwareName = "Rawbench";
    request.m_aiVersion[0] = 2;
    request.m_aiVersion[1] = 3;
    request.m_aiVersion[2] = 0;
    request.m_aiVersion[3] = 3152;
    request.m_iSettingMode = kSettingModeAsShot;
}

} // namespace developtest
