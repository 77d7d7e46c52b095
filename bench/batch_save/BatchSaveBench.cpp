// A batch save of 20 raw files of 2640 x 1760 to JPEG through the dialog, the progress
// window and the bridge, ticked every 10 ms as the window ticks them, beside the same 20
// requests handed to a bridge one after another and polled without the window's pace.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DevelopableRaw.h"
#include "FCodePage.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FScopedTempFolder.h"
#include "FUiIpObject.h"
#include "FUiProgressWindow.h"
#include "FUiSaveImagesAsWindow.h"
#include "RawTestFolder.h"
#include "StorageClassRegistry.h"

namespace
{

constexpr int kImages = 20;

class FBenchDialog : public FUiObject
{
public:
    FBenchDialog() : FUiObject("DIALOG") {}
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        if (message == "ON_GET_FILETYPE")
            *static_cast<FWideString*>(data) = FWideString("JPEG_EXIF");
        else if (message == "ON_GET_OUTPUTSIZE")
            *static_cast<FWideString*>(data) = FWideString("Same");
        else if (message == "ON_GET_COLORSPACE")
            *static_cast<FWideString*>(data) = FWideString("PC");
        else if (message == "ON_GET_JPEG_VALUE")
            *static_cast<double*>(data) = 9.0;
        else if (message == "ON_GET_NATIVE_DST_DIR")
            *static_cast<FWideString*>(data) = WideFromUtf8(destination);
        else if (message == "ON_IMAGE_QUEUE_EMPTY")
            ended = true;
        else if (message == "Keep") {
            auto copy = std::make_unique<FUiIpObjectProcAndSaveReq>();
            CopyProcAndSaveRequest(*copy, *static_cast<FUiIpObjectProcAndSaveReq*>(data));
            kept.push_back(std::move(copy));
        }
        return true;
    }
    std::string destination;
    bool ended = false;
    std::vector<std::unique_ptr<FUiIpObjectProcAndSaveReq>> kept;
};

struct Fixture {
    Fixture()
    {
        rawtest::EnsureDiskStorageClass();
        for (int i = 0; i < kImages; ++i) {
            developtest::DevelopableRawOptions options;
            options.cols = 2640;
            options.rows = 1760;
            options.seed = 100 + i;
            const FWideString url = raws.Write("IMG_" + std::to_string(1000 + i) + ".q7f",
                                               developtest::MakeDevelopableRaw(options));
            auto entry = std::make_unique<FImageFileListEntry>();
            entry->SetURL(url);
            entry->GetProps(GetIPManagerPool());
            if (!entries.empty())
                entries.back()->m_pNext = entry.get();
            entries.push_back(std::move(entry));
        }
    }
    rawtest::RawTestFolder raws;
    std::vector<std::unique_ptr<FImageFileListEntry>> entries;
};

Fixture& Shared()
{
    static Fixture fixture;
    return fixture;
}

// The windows' path; returns the requests the dialog sent, for the reference.
std::vector<std::unique_ptr<FUiIpObjectProcAndSaveReq>> SaveThroughWindows(const std::string& destination)
{
    FBenchDialog answers;
    answers.destination = destination;
    FUiSaveImagesAsWindow dialog("SAVE_IMAGES_AS_WIN_MGR");
    FUiProgressWindow progress("PROGRESS_WIN_MGR");
    FUiIpObject bridge("IP_OBJECT2");
    for (const char* event : {"ON_GET_FILETYPE", "ON_GET_OUTPUTSIZE", "ON_GET_COLORSPACE",
                              "ON_GET_JPEG_VALUE", "ON_GET_NATIVE_DST_DIR"})
        dialog.FindEvent(FWideString(event))->AddTarget(FWideString(event), &answers);
    dialog.FindEvent(FWideString("ON_START_SAVE_BATCH"))->AddTarget(FWideString("StartOfBatch"), &progress);
    dialog.FindEvent(FWideString("ON_PERFORM_SAVE"))->AddTarget(FWideString("ProcAndSave"), &progress);
    dialog.FindEvent(FWideString("ON_PERFORM_SAVE"))->AddTarget(FWideString("Keep"), &answers);
    progress.FindEvent(FWideString("ON_DO_IMAGE_PROC"))->AddTarget(FWideString("IpRequest"), &bridge);
    progress.FindEvent(FWideString("ON_IMAGE_QUEUE_EMPTY"))
        ->AddTarget(FWideString("ON_IMAGE_QUEUE_EMPTY"), &answers);
    dialog.UiRelayMessage(FWideString("ImageFileList"), Shared().entries[0].get());
    dialog.UiRelayMessage(FWideString("DefaultMode"), nullptr);
    dialog.UiRelayMessage(FWideString("PerformSave"), nullptr);
    auto next = std::chrono::steady_clock::now();
    while (!answers.ended) {
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
        progress.Tick(10);
        bridge.Tick(10);
    }
    return std::move(answers.kept);
}

// The same requests straight to a bridge, one after another, polled every millisecond.
void SaveDirect(const std::vector<std::unique_ptr<FUiIpObjectProcAndSaveReq>>& requests)
{
    FUiIpObject bridge("IP_OBJECT2");
    FBenchDialog relay;
    for (const auto& original : requests) {
        FUiIpObjectProcAndSaveReq request;
        CopyProcAndSaveRequest(request, *original);
        request.m_pReturnRelay = &relay;
        bridge.UiRelayMessage(FWideString("IpRequest"), &request);
        while (!bridge.IsIdle()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            bridge.Tick(1);
        }
    }
}

void BM_BatchSave20Jpeg(benchmark::State& state)
{
    Shared();
    double bestWindows = 1e9, bestDirect = 1e9;
    std::vector<std::unique_ptr<FUiIpObjectProcAndSaveReq>> requests;
    // The two paths take turns going first, so neither is always the one that finds the
    // files and the pool's caches as the other left them.
    bool directFirst = false;
    for (auto _ : state) {
        FScopedTempFolder windowsOut, directOut;
        const auto timeDirect = [&] {
            // The reference writes into its own folder.
            FWideString folderURL;
            NativePathToURL(WideFromUtf8(directOut.GetPath()), folderURL);
            for (auto& request : requests) {
                FWideString name = SavedFileName(request->m_usFileURL, true);
                request->m_usDstURL = folderURL;
                request->m_usDstURL += "/";
                request->m_usDstURL += name;
            }
            const auto start = std::chrono::steady_clock::now();
            SaveDirect(requests);
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        double direct = directFirst ? timeDirect() : 0.0;
        const auto start = std::chrono::steady_clock::now();
        requests = SaveThroughWindows(windowsOut.GetPath());
        const double windows =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!directFirst)
            direct = timeDirect();
        directFirst = !directFirst;
        bestWindows = std::min(bestWindows, windows);
        bestDirect = std::min(bestDirect, direct);
        state.SetIterationTime(windows);
        if (requests.size() != kImages)
            state.SkipWithError("the dialog did not send 20 requests");
    }
    state.counters["windows_ms"] = bestWindows * 1e3;
    state.counters["direct_ms"] = bestDirect * 1e3;
    state.counters["x_direct"] = bestWindows / bestDirect;
    state.counters["images_per_s"] = kImages / bestWindows;
}

} // namespace

BENCHMARK(BM_BatchSave20Jpeg)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
