// Downloading 200 images of 10 MB from the simulated camera as the download dialog
// drives it: the dialog's scope and checks, its copy requests queued in the progress
// window, which hands them one at a time to the bridge; both ticked every 10 ms in the
// order of the script's window. Beside it, the camera storage class copies the same
// files directly.
// Also the longest tick of the bridge while the camera stops answering mid-copy, beside the
// longest tick of the same copy from a camera that answers.

#include "../support/BesideCopy.h"

#include "BribFileBuilder.h"
#include "CamDevice.h"
#include "FCodePage.h"
#include "FCopyableFile.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FSCCamera.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "FUiCopyCameraWindow.h"
#include "FUiIpObject.h"
#include "FUiIpObjectRequest.h"
#include "FUiProgressWindow.h"
#include "RelayEvent.h"
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

constexpr int kFiles = 200;
constexpr size_t kFileBytes = 10u << 20;
constexpr auto kWindowTick = std::chrono::milliseconds(10);

// Stands for the dialog's window (and takes a bare bridge's replies): answers the destination; counts what
// the progress window could not copy.
class DialogSide : public FIUiRelay
{
public:
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = FWideString("DownloadWin"); }
    void GetFullName(FWideString& name) override { name = FWideString("DownloadWin"); }
    bool ConnectRelays() override { return true; }
    FIUiRelay* GetUiRelay(const FWideString&) override { return nullptr; }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        if (message == "GetPath")
            *static_cast<FWideString*>(data) = m_usNative;
        else if (message == "Error")
            ++m_iErrors;
        return true;
    }
    FWideString m_usNative;
    int m_iErrors = 0;
};

// A raw image of about 10 MB: a header the progress window can read, and bulk data.
std::shared_ptr<SimCamera::Bytes> TenMegabyteRaw()
{
    rawtest::BribFileBuilder file;
    file.GetHeader().columns = 2268;
    file.GetHeader().rows = 1512;
    rawtest::Bytes bulk(kFileBytes - 4096);
    for (size_t i = 0; i < bulk.size(); ++i)
        bulk[i] = static_cast<uint8_t>(i * 13 + (i >> 12));
    file.Top().AddSection("BULK", bulk);
    const rawtest::Bytes built = file.Build();
    return std::make_shared<SimCamera::Bytes>(built.begin(), built.end());
}

struct Card {
    Card()
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
        auto bytes = TenMegabyteRaw();
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "IMG_" + std::to_string(1000 + i) + ".q7f";
            m_pSim->AddSharedFile("/cf/images/" + name, bytes);
            auto entry = std::make_unique<FImageFileListEntry>();
            entry->m_usURL = WideFromUtf8("camera://" + m_pSim->DeviceName() + "/cf/images/" + name);
            entry->m_usFileName = WideFromUtf8(name);
            entry->m_bRaw = true;
            entry->m_bCamera = true;
            entry->m_nCols = 2268;
            entry->m_nRows = 1512;
            entry->m_nFileSize = static_cast<int64_t>(bytes->size());
            if (!m_entries.empty()) {
                m_entries.back()->m_pNext = entry.get();
                entry->m_pPrev = m_entries.back().get();
            }
            m_entries.push_back(std::move(entry));
        }
    }
    ~Card()
    {
        for (auto& entry : m_entries)
            entry->m_pNext = entry->m_pPrev = nullptr;
        CamLinkShutdown();
    }

    static FWideString Url(const FScopedTempFolder& folder, const std::string& name)
    {
        FWideString url;
        NativePathToURL(WideFromUtf8(folder.Join(name)), url);
        return url;
    }

    void CopyDirectly(const FScopedTempFolder& into)
    {
        for (const auto& entry : m_entries) {
            FIFile* file = OpenFileURL(entry->m_usURL, kFileRead);
            auto* copyable = dynamic_cast<FCopyableFile*>(file);
            int total = 0;
            if (!copyable || !copyable->BeginCopy(Url(into, Utf8FromWide(entry->m_usFileName)), &total,
                                                  FUiIpObject::kCopyChunk))
                throw std::runtime_error("camera copy did not start");
            while (copyable->CopyChunk(FUiIpObject::kCopyChunk) > 0) {
            }
            copyable->EndCopy();
            file->Release();
        }
    }

    void DownloadThroughDialog(const FScopedTempFolder& into)
    {
        FUiCopyCameraWindow dialog("COPY_CAMERA_WIN_MGR", GetIPManagerPool());
        FUiProgressWindow progress("PROGRESS_WIN_MGR", GetIPManagerPool());
        FUiIpObject bridge("IP_OBJECT2");
        DialogSide side;
        side.m_usNative = WideFromUtf8(into.GetPath());
        dialog.FindEvent(FWideString("ON_GET_PATH"))->AddTarget(FWideString("GetPath"), &side);
        dialog.FindEvent(FWideString("ON_START_DOWNLOAD_BATCH"))
            ->AddTarget(FWideString("StartOfBatch"), &progress);
        dialog.FindEvent(FWideString("ON_PERFORM_SAVE"))->AddTarget(FWideString("CopyFile"), &progress);
        progress.FindEvent(FWideString("ON_DO_IMAGE_PROC"))->AddTarget(FWideString("IpRequest"), &bridge);
        progress.FindEvent(FWideString("ON_IMAGE_ERROR"))->AddTarget(FWideString("Error"), &side);
        dialog.UiRelayMessage(FWideString("ImageFileList"), m_entries.front().get());
        dialog.UiRelayMessage(FWideString("PerformDownload"), nullptr);
        if (progress.GetWaitingCount() != kFiles)
            throw std::runtime_error("the dialog did not send every image");
        auto tickStart = std::chrono::steady_clock::now();
        while (progress.GetWaitingCount() > 0 || progress.IsBatchRunning() ||
               progress.GetState() != FUiProgressWindow::kIdle) {
            // The window's order: the bridge comes before the progress window in the script.
            bridge.Tick(10);
            progress.Tick(10);
            dialog.Tick(10);
            tickStart += kWindowTick;
            std::this_thread::sleep_until(tickStart);
            tickStart = std::max(tickStart, std::chrono::steady_clock::now() - kWindowTick);
        }
        if (side.m_iErrors != 0)
            throw std::runtime_error("a copy failed");
    }

    std::unique_ptr<SimCamera> m_pSim;
    std::vector<std::unique_ptr<FImageFileListEntry>> m_entries;
};

// Into memory-backed folders, where the disk's own pace does not hide the dialog's.
void BM_CameraDownload200x10MB(benchmark::State& state)
{
    const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "";
    FScopedEnv env("TMPDIR", base.empty() ? std::string("/tmp") : base);
    Card card;
    double bestDialog = 1e9;
    double bestDirect = 1e9;
    for (auto _ : state) {
        {
            FScopedTempFolder direct;
            auto start = std::chrono::steady_clock::now();
            card.CopyDirectly(direct);
            bestDirect = std::min(bestDirect, bench::SecondsSince(start));
        }
        FScopedTempFolder download;
        auto start = std::chrono::steady_clock::now();
        card.DownloadThroughDialog(download);
        const double seconds = bench::SecondsSince(start);
        bestDialog = std::min(bestDialog, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["best_ms"] = bestDialog * 1e3;
    state.counters["direct_ms"] = bestDirect * 1e3;
    state.counters["x_direct"] = bestDialog / bestDirect;
    state.SetBytesProcessed(state.iterations() * kFiles * static_cast<int64_t>(kFileBytes));
}
BENCHMARK(BM_CameraDownload200x10MB)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);

// One copy through the bridge, ticked every 10 ms; answers its longest tick and whether it
// completed. A stalling camera goes silent right after the copy was taken in.
double LongestCopyTick(Card& card, bool stall, bool& completed)
{
    FScopedTempFolder into;
    FUiIpObject bridge("IP_OBJECT2");
    DialogSide sink;
    FUiIpObjectCopyReq copy;
    copy.m_usFileURL = card.m_entries.front()->m_usURL;
    copy.m_usDstURL = Card::Url(into, "IMG_1000.q7f");
    copy.m_pReturnRelay = &sink;
    copy.m_bProgressReplies = true;
    bridge.UiRelayMessage(FWideString("IpRequest"), &copy);
    if (stall)
        card.m_pSim->SetCommandStuck(true);
    double longest = 0;
    auto tickStart = std::chrono::steady_clock::now();
    while (!bridge.IsIdle()) {
        const auto start = std::chrono::steady_clock::now();
        bridge.Tick(10);
        longest = std::max(longest, bench::SecondsSince(start));
        tickStart += kWindowTick;
        std::this_thread::sleep_until(tickStart);
        tickStart = std::max(tickStart, std::chrono::steady_clock::now() - kWindowTick);
    }
    card.m_pSim->SetCommandStuck(false);
    completed = copy.m_Async.GetState() == kCompleted;
    return longest;
}

// The bridge reads the camera on the window's thread: a camera that stalls holds one tick
// until the camera storage gives up on it.
void BM_BridgeTickWhileTheCameraStalls(benchmark::State& state)
{
    const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "";
    FScopedEnv env("TMPDIR", base.empty() ? std::string("/tmp") : base);
    Card card;
    double answering = 0;
    double stalled = 0;
    bool answeredCompleted = false;
    bool stalledCompleted = true;
    for (auto _ : state) {
        answering = std::max(answering, LongestCopyTick(card, false, answeredCompleted));
        stalled = std::max(stalled, LongestCopyTick(card, true, stalledCompleted));
        state.SetIterationTime(stalled);
    }
    state.counters["stalled_max_tick_ms"] = stalled * 1e3;
    state.counters["answering_max_tick_ms"] = answering * 1e3;
    state.counters["x_answering"] = stalled / std::max(answering, 1e-9);
    state.counters["answering_completed"] = answeredCompleted ? 1 : 0;
    state.counters["stalled_completed"] = stalledCompleted ? 1 : 0;
}
BENCHMARK(BM_BridgeTickWhileTheCameraStalls)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
