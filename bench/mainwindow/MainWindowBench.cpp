// The main window manager from "DirSelected" on a folder of 500 raw files with embedded
// previews to the last thumbnail, ticked as the window ticks it, beside the image file list
// and its thumbnail queue doing the same work alone in the same run ("x_copy" is the ratio).
// "max_tick_ms" is the longest single tick of the window (with its 99th percentile and the
// share of ticks past 16 ms, over every pass), "dirselected_ms" the command itself
// (the folder read's first slice; the rest is read on the ticks, the longest of those
// being "max_read_tick_ms"), "list_max_idle_ms" the longest time slice
// of the list alone: each the worst seen in any pass.

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "BesideCopy.h"
#include "BribFileBuilder.h"
#include "FCache.h"
#include "FIPManager.h"
#include "FIStorageClass.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FJPEGLineWriter.h"
#include "FPixmap.h"
#include "FUiMainWindow.h"
#include "RawTestFolder.h"
#include "StorageClassRegistry.h"

#include <benchmark/benchmark.h>

namespace
{

constexpr int kFiles = 500;
constexpr int kEdge = 128;

rawtest::Bytes Preview(int seed)
{
    std::vector<uint8_t> memory;
    FJPEGLineWriter writer(&memory, 9, false);
    writer.SetDimensions(640, 480, FPixmap::PIXEL_24_RGB);
    std::vector<uint8_t> row(640 * 3);
    for (int y = 0; y < 480; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = uint8_t((i + size_t(y) * 3 + size_t(seed)) ^ (i >> 4));
        writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
    }
    writer.Finish();
    return rawtest::Bytes(memory.begin(), memory.end());
}

struct Folder {
    rawtest::RawTestFolder files;
    FWideString url;
};

// The test folder's URL, with its final slash.
FWideString FolderURL(rawtest::RawTestFolder& files)
{
    std::vector<FWideString> parts;
    SplitURL(files.URL("x"), parts);
    parts.pop_back();
    FWideString url;
    JoinURL(parts, url, true);
    return url;
}

Folder& Samples()
{
    static Folder* made = [] {
        auto* f = new Folder();
        for (int i = 0; i < kFiles; ++i) {
            rawtest::BribFileBuilder file;
            file.GetHeader().columns = 2268;
            file.GetHeader().rows = 1512;
            file.GetHeader().uniqueId.fill(0x33);
            file.GetHeader().uniqueId[0] = uint8_t(i);
            file.GetHeader().uniqueId[1] = uint8_t(i >> 8);
            rawtest::ImageSection section;
            section.imageType = 2;
            section.pixelFormat = 18;
            section.columns = 640;
            section.rows = 480;
            section.payload = Preview(i);
            file.Top().AddImage(section);
            f->files.Write("R" + std::to_string(i) + ".q7f", file.Build());
        }
        f->url = FolderURL(f->files);
        return f;
    }();
    return *made;
}

void EmptyCache()
{
    FCache* cache = GetGlobalCache();
    const uint32_t limit = cache->GetSize();
    cache->SetSize(0);
    cache->SetSize(limit);
}

// Stands for the thumbnail view and the other receivers of the window's events.
class CountingRelay : public FIUiRelay
{
public:
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = FWideString("COUNT"); }
    void GetFullName(FWideString& name) override { name = FWideString("COUNT"); }
    bool ConnectRelays() override { return true; }
    FIUiRelay* GetUiRelay(const FWideString&) override { return nullptr; }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }
    bool UiRelayMessage(const FWideString&, void*) override
    {
        ++messages;
        return true;
    }
    long messages = 0;
};

void BM_WindowFromDirSelectedToLastThumbnail(benchmark::State& state)
{
    Folder& f = Samples();
    double maxTick = 0;
    std::vector<double> ticks;
    double maxCommand = 0;
    double maxReadTick = 0;
    double maxIdle = 0;
    int thumbnails = 0;
    bench::RunBesideCopy(
        state, EmptyCache,
        [&] {
            FImageFileList list;
            list.ReadFolder(GetIPManagerPool(), f.url);
            list.RequestThumbnails(kEdge, kEdge, nullptr, nullptr);
            while (list.HasQueuedThumbnails()) {
                const auto start = std::chrono::steady_clock::now();
                list.Idle();
                maxIdle = std::max(maxIdle, bench::SecondsSince(start));
            }
        },
        [&] {
            // Into the pass's own emptied cache: the reference above filled it.
            EmptyCache();
            CountingRelay receivers;
            FUiMainWindow window("MAIN_WIN_MGR", GetIPManagerPool());
            for (int i = 0; i < FUiMainWindow::kEventCount; ++i) {
                const FWideString name(FUiMainWindow::EventName(FUiMainWindow::Event(i)));
                window.AddEventTarget(name, name, &receivers);
            }
            int edge = kEdge;
            window.UiRelayMessage(FWideString("ThumbnailSize"), &edge);
            FWideString url = f.url;
            auto start = std::chrono::steady_clock::now();
            window.UiRelayMessage(FWideString("DirSelected"), &url);
            maxCommand = std::max(maxCommand, bench::SecondsSince(start));
            while (window.GetList().IsReading() || window.GetList().HasQueuedThumbnails()) {
                const bool reading = window.GetList().IsReading();
                start = std::chrono::steady_clock::now();
                window.Tick(10);
                ticks.push_back(bench::SecondsSince(start));
                maxTick = std::max(maxTick, ticks.back());
                if (reading)
                    maxReadTick = std::max(maxReadTick, ticks.back());
            }
            thumbnails = 0;
            for (auto* e = window.GetList().m_pHead; e; e = e->m_pNext)
                thumbnails += e->m_pThumbnail ? 1 : 0;
            benchmark::DoNotOptimize(receivers.messages);
        });
    state.counters["max_tick_ms"] = maxTick * 1e3;
    // One long tick on a loaded machine says little alone: the 99th percentile and the share
    // of ticks past a frame (16 ms) show how often the window stalls.
    std::sort(ticks.begin(), ticks.end());
    if (!ticks.empty()) {
        state.counters["p99_tick_ms"] = ticks[ticks.size() * 99 / 100] * 1e3;
        const auto over = ticks.end() - std::upper_bound(ticks.begin(), ticks.end(), 0.016);
        state.counters["ticks_over_16ms_pct"] = 100.0 * double(over) / double(ticks.size());
    }
    state.counters["list_max_idle_ms"] = maxIdle * 1e3;
    state.counters["dirselected_ms"] = maxCommand * 1e3;
    state.counters["max_read_tick_ms"] = maxReadTick * 1e3;
    state.counters["thumbnails"] = thumbnails;
}
BENCHMARK(BM_WindowFromDirSelectedToLastThumbnail)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// A folder of 100,000 files (a few hundred raws among sidecar files) opened by "DirSelected"
// and read over the window's ticks: the longest tick ("max_tick_ms") and the command itself
// ("dirselected_ms"), beside the plain listing of the same folder ("copy_ms").
constexpr int kManyFiles = 100000;
constexpr int kManyRaws = 200;

Folder& ManyFiles()
{
    static Folder* made = [] {
        auto* f = new Folder();
        rawtest::BribFileBuilder file;
        file.GetHeader().columns = 640;
        file.GetHeader().rows = 480;
        file.GetHeader().uniqueId.fill(0x44);
        const rawtest::Bytes raw = file.Build();
        for (int i = 0; i < kManyFiles; ++i) {
            if (i < kManyRaws)
                f->files.Write("R" + std::to_string(i) + ".q7f", raw);
            else
                f->files.Write("S" + std::to_string(i) + ".xmp", rawtest::Bytes{'x'});
        }
        f->url = FolderURL(f->files);
        return f;
    }();
    return *made;
}

void BM_WindowOnAHundredThousandFiles(benchmark::State& state)
{
    Folder& f = ManyFiles();
    double maxTick = 0;
    double maxCommand = 0;
    int listed = 0;
    bench::RunBesideCopy(
        state,
        [&] {
            FWideString name;
            FIFolder* folder = OpenFolderURL(f.url, name, false);
            std::vector<FWideString> names;
            if (folder) {
                folder->ListFiles(names);
                folder->Release();
            }
            benchmark::DoNotOptimize(names.data());
        },
        [&] {
            CountingRelay receivers;
            FUiMainWindow window("MAIN_WIN_MGR", GetIPManagerPool());
            for (int i = 0; i < FUiMainWindow::kEventCount; ++i) {
                const FWideString name(FUiMainWindow::EventName(FUiMainWindow::Event(i)));
                window.AddEventTarget(name, name, &receivers);
            }
            FWideString url = f.url;
            auto start = std::chrono::steady_clock::now();
            window.UiRelayMessage(FWideString("DirSelected"), &url);
            maxCommand = std::max(maxCommand, bench::SecondsSince(start));
            while (window.GetList().IsReading()) {
                start = std::chrono::steady_clock::now();
                window.Tick(10);
                maxTick = std::max(maxTick, bench::SecondsSince(start));
            }
            listed = window.GetList().GetCount();
        });
    state.counters["max_tick_ms"] = maxTick * 1e3;
    state.counters["dirselected_ms"] = maxCommand * 1e3;
    state.counters["images"] = listed;
}
BENCHMARK(BM_WindowOnAHundredThousandFiles)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
