// Downloading 200 images of 10 MB from the simulated camera as the download dialog
// drives it: the dialog's scope and checks, its copy requests handed one at a time to
// the bridge, which is ticked every 10 ms as a window ticks it; beside the camera
// storage class copying the same files directly.

#include "../support/BesideCopy.h"

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

// Stands for the dialog's window: answers the destination, queues each request the
// dialog sends, and counts the bridge's final replies.
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
        if (message == "GetPath") {
            *static_cast<FWideString*>(data) = m_usNative;
        } else if (message == "Save") {
            const auto* request = static_cast<const FUiIpObjectCopyReq*>(data);
            auto copy = std::make_unique<FUiIpObjectCopyReq>();
            copy->m_usFileURL = request->m_usFileURL;
            copy->m_usDstURL = request->m_usDstURL;
            copy->m_bDeleteSrc = request->m_bDeleteSrc;
            copy->m_bProgressReplies = true;
            copy->m_pReturnRelay = this;
            m_queue.push_back(std::move(copy));
        } else if (message == "IpReply") {
            const int state = static_cast<FUiIpObjectReply*>(data)->m_pRequest->m_Async.GetState();
            if (state == kCompleted)
                ++m_iDone;
            else if (state != kInProgress)
                throw std::runtime_error("copy failed");
        }
        return true;
    }
    FWideString m_usNative;
    std::vector<std::unique_ptr<FUiIpObjectCopyReq>> m_queue;
    int m_iDone = 0;
};

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
        auto bytes = std::make_shared<SimCamera::Bytes>(kFileBytes);
        for (size_t i = 0; i < kFileBytes; ++i)
            (*bytes)[i] = static_cast<uint8_t>(i * 13 + (i >> 12));
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
            entry->m_nFileSize = kFileBytes;
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
        DialogSide side;
        side.m_usNative = WideFromUtf8(into.GetPath());
        dialog.FindEvent(FWideString("ON_GET_PATH"))->AddTarget(FWideString("GetPath"), &side);
        dialog.FindEvent(FWideString("ON_PERFORM_SAVE"))->AddTarget(FWideString("Save"), &side);
        dialog.UiRelayMessage(FWideString("ImageFileList"), m_entries.front().get());
        dialog.UiRelayMessage(FWideString("PerformDownload"), nullptr);
        if (side.m_queue.size() != m_entries.size())
            throw std::runtime_error("the dialog did not send every image");
        FUiIpObject bridge("IP_OBJECT2");
        size_t next = 0;
        auto tickStart = std::chrono::steady_clock::now();
        while (side.m_iDone < kFiles) {
            if (bridge.IsIdle() && next < side.m_queue.size())
                bridge.UiRelayMessage(FWideString("IpRequest"), side.m_queue[next++].get());
            bridge.Tick(10);
            dialog.Tick(10);
            tickStart += kWindowTick;
            std::this_thread::sleep_until(tickStart);
            tickStart = std::max(tickStart, std::chrono::steady_clock::now() - kWindowTick);
        }
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
BENCHMARK(BM_CameraDownload200x10MB)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace
