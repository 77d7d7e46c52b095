// Downloading a card of large images from the simulated camera through the bridge object,
// ticked every 10 ms as a window ticks it, beside the camera storage class copying the same
// files into the same folder directly.

#include "../support/BesideCopy.h"

#include "CamDevice.h"
#include "FCodePage.h"
#include "FCopyableFile.h"
#include "FSCCamera.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "FUiIpObject.h"
#include "FUiIpObjectRequest.h"
#include "SimCamera.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

constexpr size_t kFileBytes = 10u << 20;
constexpr auto kWindowTick = std::chrono::milliseconds(10);

// Counts the final replies; the download goes on from the sender's next tick.
class DoneRelay : public FIUiRelay
{
public:
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = FWideString("DOWNLOAD"); }
    void GetFullName(FWideString& name) override { name = FWideString("DOWNLOAD"); }
    bool ConnectRelays() override { return true; }
    FIUiRelay* GetUiRelay(const FWideString&) override { return nullptr; }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }
    bool UiRelayMessage(const FWideString&, void* data) override
    {
        const int state = static_cast<FUiIpObjectReply*>(data)->m_pRequest->m_Async.GetState();
        if (state == kCompleted)
            ++m_iDone;
        else if (state != kInProgress)
            throw std::runtime_error("copy failed");
        return true;
    }
    int m_iDone = 0;
};

FWideString DiskURL(const FScopedTempFolder& folder, const std::string& name)
{
    FWideString url;
    NativePathToURL(WideFromUtf8(folder.Join(name)), url);
    return url;
}

// Temporary folders under `base`, or under the usual temporary folder when it is empty.
std::unique_ptr<FScopedTempFolder> TempFolderIn(const std::string& base)
{
    if (base.empty())
        return std::make_unique<FScopedTempFolder>();
    FScopedEnv env("TMPDIR", base);
    return std::make_unique<FScopedTempFolder>();
}

struct Card {
    Card(int files, const std::string& base)
        : m_pDirectFolder(TempFolderIn(base)), m_pBridgeFolder(TempFolderIn(base))
    {
        static const bool registered = [] {
            RegisterDiskStorageClass();
            RegisterCameraStorageClass();
            return true;
        }();
        (void)registered;
        SimCamera::Options options;
        options.m_bCrc = false;
        m_pSim = std::make_unique<SimCamera>(options);
        m_pSim->Install(kCamTransportUsb);
        auto bytes = std::make_shared<SimCamera::Bytes>(kFileBytes);
        for (size_t i = 0; i < kFileBytes; ++i)
            (*bytes)[i] = static_cast<uint8_t>(i * 13 + (i >> 12));
        for (int i = 0; i < files; ++i) {
            const std::string name = "IMG_" + std::to_string(1000 + i) + ".q7f";
            m_pSim->AddSharedFile("/cf/images/" + name, bytes);
            m_sources.push_back(WideFromUtf8("camera://" + m_pSim->DeviceName() + "/cf/images/" + name));
            m_direct.push_back(DiskURL(*m_pDirectFolder, name));
            m_destinations.push_back(DiskURL(*m_pBridgeFolder, name));
        }
    }
    ~Card() { CamLinkShutdown(); }

    void CopyDirectly()
    {
        for (size_t i = 0; i < m_sources.size(); ++i) {
            FIFile* file = OpenFileURL(m_sources[i], kFileRead);
            auto* copyable = dynamic_cast<FCopyableFile*>(file);
            int total = 0;
            if (!copyable || !copyable->BeginCopy(m_direct[i], &total, FUiIpObject::kCopyChunk))
                throw std::runtime_error("camera copy did not start");
            while (copyable->CopyChunk(FUiIpObject::kCopyChunk) > 0) {
            }
            copyable->EndCopy();
            file->Release();
        }
    }

    // The sender and the bridge are ticked together every 10 ms; the sender hands over the
    // next file when the bridge is idle. Returns the longest tick.
    double CopyThroughBridge()
    {
        FUiIpObject bridge("IP_OBJECT2");
        DoneRelay relay;
        std::vector<std::unique_ptr<FUiIpObjectCopyReq>> requests;
        size_t next = 0;
        double longest = 0.0;
        auto tickStart = std::chrono::steady_clock::now();
        while (relay.m_iDone < static_cast<int>(m_sources.size())) {
            if (bridge.IsIdle() && next < m_sources.size()) {
                auto request = std::make_unique<FUiIpObjectCopyReq>();
                request->m_usFileURL = m_sources[next];
                request->m_usDstURL = m_destinations[next];
                request->m_bProgressReplies = true;
                request->m_pReturnRelay = &relay;
                bridge.UiRelayMessage(FWideString("IpRequest"), request.get());
                // Handed in with time left in the tick, a copy may already be done.
                const int accepted = request->m_Async.GetState();
                if (accepted != kInProgress && accepted != kCompleted)
                    throw std::runtime_error("copy refused");
                requests.push_back(std::move(request));
                ++next;
            }
            bridge.Tick(10);
            longest = std::max(longest, bench::SecondsSince(tickStart));
            tickStart += kWindowTick;
            std::this_thread::sleep_until(tickStart);
            tickStart = std::max(tickStart, std::chrono::steady_clock::now() - kWindowTick);
        }
        return longest;
    }

    // Each copy writes new files, as a download does; earlier copies are removed untimed,
    // so that at most one card's worth of copies exists at a time.
    static void Remove(const std::vector<FWideString>& urls)
    {
        for (const FWideString& url : urls) {
            bool isFolder = false;
            if (ExistsURL(url, isFolder))
                DeleteFileURL(url);
        }
    }

    std::unique_ptr<FScopedTempFolder> m_pDirectFolder;
    std::unique_ptr<FScopedTempFolder> m_pBridgeFolder;
    std::unique_ptr<SimCamera> m_pSim;
    std::vector<FWideString> m_sources;
    std::vector<FWideString> m_direct;
    std::vector<FWideString> m_destinations;
};

void RunBesideDirectCopy(benchmark::State& state, const std::string& base)
{
    Card card(200, base);
    double bestBridge = 1e9;
    double bestDirect = 1e9;
    double longest = 0.0;
    for (auto _ : state) {
        Card::Remove(card.m_destinations);
        auto start = std::chrono::steady_clock::now();
        card.CopyDirectly();
        bestDirect = std::min(bestDirect, bench::SecondsSince(start));
        Card::Remove(card.m_direct);

        start = std::chrono::steady_clock::now();
        longest = std::max(longest, card.CopyThroughBridge());
        const double seconds = bench::SecondsSince(start);
        bestBridge = std::min(bestBridge, seconds);
        state.SetIterationTime(seconds);
    }
    Card::Remove(card.m_destinations);
    state.counters["best_ms"] = bestBridge * 1e3;
    state.counters["direct_ms"] = bestDirect * 1e3;
    state.counters["x_direct"] = bestBridge / bestDirect;
    state.counters["longest_tick_ms"] = longest * 1e3;
    state.SetBytesProcessed(state.iterations() * 200 * static_cast<int64_t>(kFileBytes));
}

// Into the usual temporary folder, on a disk other programs share.
void BM_IpObjectCopy200x10MB_Disk(benchmark::State& state)
{
    RunBesideDirectCopy(state, std::string());
}
BENCHMARK(BM_IpObjectCopy200x10MB_Disk)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Into memory-backed folders, where the disk's own pace does not hide the bridge's.
void BM_IpObjectCopy200x10MB_Memory(benchmark::State& state)
{
    if (!std::filesystem::is_directory("/dev/shm")) {
        state.SkipWithError("no memory-backed folder");
        return;
    }
    RunBesideDirectCopy(state, "/dev/shm");
}
BENCHMARK(BM_IpObjectCopy200x10MB_Memory)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
