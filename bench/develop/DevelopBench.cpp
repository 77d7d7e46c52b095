// A generated 2640 x 1760 raw file developed through the manager pool as the application
// does it, beside references measured in the same run:
// - BM_DevelopToJPEG: a cold full development saved as JPEG (sRGB, quality index 10), with
//   the time of each manager state, the longest single Idle and the cache's peak; beside
//   libjpeg encoding a same-size 24-bit image alone ("x_libjpeg") and, when libvips is
//   there, a libvips pipeline that reads a 16-bit TIFF of the same size, sharpens,
//   converts colour and writes JPEG ("x_vips").
//   Its argument is the engine's thread count (libvips gets the same); each iteration also
//   develops the same cold image as one processed image, no file, and "x_whole" is the
//   save over that ("save_extra_ms" the difference).
// - BM_DevelopWholeImage: the same development as one processed image, no file.
// - BM_Thumbnail / BM_Preview: a 160 x 160 thumbnail and a 1024 x 1024 preview from the
//   file's embedded previews with an empty cache, and again from the cache, beside the
//   scaling of the same embedded preview alone.
// The cache holds its default 120 MiB; every cold pass empties it first.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef RB_WITH_VIPS
#include <vips/vips.h>
#endif

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "FCache.h"
#include "FDataRetriever.h"
#include "FDisplayBlit.h"
#include "FIPEngine2.h"
#include "FIPManager.h"
#include "FJPEGLineWriter.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FSyntheticCapture.h"
#include "IPPreviewManager.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;
constexpr int kQualityIndex = 10;

struct Fixture {
    std::filesystem::path folder;
    FWideString raw;
    FWideString jpeg;
    std::vector<uint8_t> rgb; // a same-size 24-bit image for libjpeg alone
    std::vector<uint16_t> scene16;

    Fixture()
    {
        folder = std::filesystem::temp_directory_path() / "rb_bench_develop";
        std::filesystem::create_directories(folder);
        developtest::DevelopableRawOptions options;
        options.cols = kCols;
        options.rows = kRows;
        options.previewCols = {kCols / 2, kCols / 8};
        const rawtest::Bytes bytes = developtest::MakeDevelopableRaw(options);
        const std::string path = (folder / "bench.xxx").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        raw = developtest::DiskURL(path);
        jpeg = developtest::DiskURL((folder / "bench.jpg").string());

        const FSyntheticCapture capture = MakeSyntheticCapture(kCols, kRows);
        rgb.resize(size_t(kCols) * kRows * 3);
        scene16.resize(rgb.size());
        for (size_t i = 0; i < rgb.size(); ++i) {
            const int linear = std::clamp(int(capture.raw[i]) - int(capture.dark[i]), 0, 4095);
            scene16[i] = uint16_t(linear * 16);
            rgb[i] = uint8_t(linear >> 4);
        }
    }
    ~Fixture()
    {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
};

Fixture& TheFixture()
{
    static Fixture fixture;
    return fixture;
}

void EmptyCache()
{
    GetGlobalCache()->SetSize(0);
    GetGlobalCache()->SetSize(FCache::kDefaultLimit);
}

double EncodeAlone(const Fixture& f)
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> memory;
    FJPEGLineWriter writer(&memory, kQualityIndex, true);
    writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_24_RGB);
    for (int y = 0; y < kRows; ++y)
        writer.WriteLine(f.rgb.data() + size_t(y) * kCols * 3, FPixmap::PIXEL_24_RGB);
    writer.Finish();
    benchmark::DoNotOptimize(memory.data());
    return bench::SecondsSince(start);
}

#ifdef RB_WITH_VIPS
struct VipsInput {
    void* tiff = nullptr;
    size_t size = 0;

    explicit VipsInput(const Fixture& f)
    {
        if (VIPS_INIT("bench_develop") != 0)
            throw std::runtime_error("libvips did not start");
        vips_cache_set_max(0);
        VipsImage* raw = vips_image_new_from_memory(f.scene16.data(), f.scene16.size() * sizeof(uint16_t),
                                                    kCols, kRows, 3, VIPS_FORMAT_USHORT);
        VipsImage* tagged = nullptr;
        if (raw == nullptr ||
            vips_copy(raw, &tagged, "interpretation", VIPS_INTERPRETATION_RGB16, nullptr) != 0 ||
            vips_tiffsave_buffer(tagged, &tiff, &size, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_NONE,
                                 nullptr) != 0)
            throw std::runtime_error(vips_error_buffer());
        g_object_unref(tagged);
        g_object_unref(raw);
    }
};

double RunVips(const VipsInput& input)
{
    const auto start = std::chrono::steady_clock::now();
    VipsImage* in = nullptr;
    VipsImage* sharp = nullptr;
    VipsImage* rgb = nullptr;
    void* jpeg = nullptr;
    size_t size = 0;
    if (vips_tiffload_buffer(input.tiff, input.size, &in, nullptr) != 0 ||
        vips_sharpen(in, &sharp, nullptr) != 0 ||
        vips_colourspace(sharp, &rgb, VIPS_INTERPRETATION_sRGB, nullptr) != 0 ||
        vips_jpegsave_buffer(rgb, &jpeg, &size, "Q", JPEGQualityOfIndex(kQualityIndex), nullptr) != 0)
        throw std::runtime_error(vips_error_buffer());
    g_free(jpeg);
    g_object_unref(rgb);
    g_object_unref(sharp);
    g_object_unref(in);
    return bench::SecondsSince(start);
}
#endif

bool Completed(benchmark::State& state, FIPManagerRequest& req)
{
    if (req.m_Async.GetState() == kCompleted)
        return true;
    state.SkipWithError(
        (std::string("the request did not complete: ") + req.m_Async.m_usErrorText.GetNarrow()).c_str());
    return false;
}

void BM_DevelopToJPEG(benchmark::State& state)
{
    Fixture& f = TheFixture();
#ifdef RB_WITH_VIPS
    static VipsInput vipsInput(f);
#endif
    const int threads = int(state.range(0));
    const int threadsBefore = GetIPEngineThreadCount();
    SetIPEngineThreadCount(threads);
#ifdef RB_WITH_VIPS
    vips_concurrency_set(threads);
#endif
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    double bestTotal = 1e9, bestLibjpeg = 1e9, bestVips = 0.0, bestWhole = 1e9;
    developtest::DevelopTimes best, bestWholeTimes;
    for (auto _ : state) {
        bestLibjpeg = std::min(bestLibjpeg, EncodeAlone(f));
#ifdef RB_WITH_VIPS
        const double vips = RunVips(vipsInput);
        bestVips = bestVips == 0.0 ? vips : std::min(bestVips, vips);
#endif
        EmptyCache();
        FIPManagerRequest render;
        developtest::PrepareProcessed(render, f.raw, kCols, kRows, kRGB24);
        render.m_iColorSpace = 2;
        developtest::DevelopTimes wholeTimes;
        developtest::RunThroughPool(render, &wholeTimes);
        if (!Completed(state, render))
            return;
        render.ReleaseOutputImage();
        if (wholeTimes.totalSeconds < bestWhole) {
            bestWhole = wholeTimes.totalSeconds;
            bestWholeTimes = wholeTimes;
        }
        EmptyCache();
        FIPManagerRequest save;
        developtest::PrepareSave(save, f.raw, f.jpeg, kSaveJPEG, kRGB24, 2, kCols, kRows);
        save.m_iJPEGQuality = kQualityIndex;
        developtest::DevelopTimes times;
        developtest::RunThroughPool(save, &times);
        if (!Completed(state, save))
            return;
        state.SetIterationTime(times.totalSeconds);
        if (times.totalSeconds < bestTotal) {
            bestTotal = times.totalSeconds;
            best = times;
        }
    }
    for (size_t s = 0; s < best.stateSeconds.size(); ++s)
        if (best.stateSeconds[s] >= 0.001)
            state.counters[std::string(developtest::ManagerStateName(int(s))) + "_ms"] =
                best.stateSeconds[s] * 1e3;
    state.counters["total_ms"] = bestTotal * 1e3;
    state.counters["longest_idle_ms"] = best.longestIdleSeconds * 1e3;
    state.counters["peak_cache_MiB"] = double(best.peakCacheBytes) / 1048576.0;
    state.counters["libjpeg_ms"] = bestLibjpeg * 1e3;
    state.counters["x_libjpeg"] = bestTotal / bestLibjpeg;
    for (size_t s = 0; s < bestWholeTimes.stateSeconds.size(); ++s)
        if (bestWholeTimes.stateSeconds[s] >= 0.001)
            state.counters[std::string("whole ") + developtest::ManagerStateName(int(s)) + "_ms"] =
                bestWholeTimes.stateSeconds[s] * 1e3;
    state.counters["whole_ms"] = bestWhole * 1e3;
    state.counters["save_extra_ms"] = (bestTotal - bestWhole) * 1e3;
    state.counters["x_whole"] = bestTotal / bestWhole;
    if (bestVips > 0.0) {
        state.counters["vips_ms"] = bestVips * 1e3;
        state.counters["x_vips"] = bestTotal / bestVips;
    }
    SetIPEngineThreadCount(threadsBefore);
}

// The same cold development as one processed 24-bit image of the whole frame, without
// strips, thumbnail or file: what the save adds is the difference to BM_DevelopToJPEG.
void BM_DevelopWholeImage(benchmark::State& state)
{
    Fixture& f = TheFixture();
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    double best = 1e9;
    developtest::DevelopTimes bestTimes;
    for (auto _ : state) {
        EmptyCache();
        FIPManagerRequest render;
        developtest::PrepareProcessed(render, f.raw, kCols, kRows, kRGB24);
        developtest::DevelopTimes times;
        developtest::RunThroughPool(render, &times);
        if (!Completed(state, render))
            return;
        render.ReleaseOutputImage();
        state.SetIterationTime(times.totalSeconds);
        if (times.totalSeconds < best) {
            best = times.totalSeconds;
            bestTimes = times;
        }
    }
    for (size_t s = 0; s < bestTimes.stateSeconds.size(); ++s)
        if (bestTimes.stateSeconds[s] >= 0.001)
            state.counters[std::string(developtest::ManagerStateName(int(s))) + "_ms"] =
                bestTimes.stateSeconds[s] * 1e3;
    state.counters["total_ms"] = best * 1e3;
    state.counters["peak_cache_MiB"] = double(bestTimes.peakCacheBytes) / 1048576.0;
}

// The reference: the embedded preview the manager reads, scaled to the box alone.
double ScaleAlone(int box)
{
    const int cols = kCols / 2, rows = kRows / 2;
    static std::vector<uint8_t> source(size_t(cols) * rows * 4, 128);
    const int outRows = box * rows / cols;
    std::vector<uint8_t> target(size_t(box) * outRows * 4);
    FPixmap_Display from(source.data(), cols, rows, cols * 4);
    FPixmap_Display to(target.data(), box, outRows, box * 4);
    FRect a(0, 0, box, outRows), b(0, 0, cols, rows);
    const auto start = std::chrono::steady_clock::now();
    CopyDisplayPixmapRect(&to, &a, &from, &b);
    return bench::SecondsSince(start);
}

void Preview(benchmark::State& state, int box)
{
    Fixture& f = TheFixture();
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    double bestCold = 1e9, bestWarm = 1e9, bestScale = 1e9;
    for (auto _ : state) {
        bestScale = std::min(bestScale, ScaleAlone(box));
        EmptyCache();
        FIPManagerRequest cold;
        developtest::PreparePreview(cold, f.raw, box);
        developtest::DevelopTimes coldTimes;
        developtest::RunThroughPool(cold, &coldTimes);
        if (!Completed(state, cold))
            return;
        FIPManagerRequest warm;
        developtest::PreparePreview(warm, f.raw, box);
        developtest::DevelopTimes warmTimes;
        developtest::RunThroughPool(warm, &warmTimes);
        if (!Completed(state, warm))
            return;
        state.SetIterationTime(coldTimes.totalSeconds);
        bestCold = std::min(bestCold, coldTimes.totalSeconds);
        bestWarm = std::min(bestWarm, warmTimes.totalSeconds);
    }
    state.counters["cold_ms"] = bestCold * 1e3;
    state.counters["warm_ms"] = bestWarm * 1e3;
    state.counters["scale_alone_ms"] = bestScale * 1e3;
    state.counters["x_scale"] = bestCold / bestScale;
}

void BM_Thumbnail(benchmark::State& state)
{
    Preview(state, 160);
}

void BM_Preview(benchmark::State& state)
{
    Preview(state, 1024);
}

// The manager's parent reduced to what a preview asks of it: properties from the file.
class PropertiesParent : public FIPManager
{
public:
    explicit PropertiesParent(FIDataRetriever* retriever) : m_pRetriever(retriever) {}
    bool IsBusy() override { return false; }
    void Idle() override {}
    void Request(FIPManagerRequest* request) override
    {
        FDataRetrieverRequest info;
        info.m_usFileName = request->m_usFileName;
        info.m_eKind = kRetrieveInfo;
        info.m_iSubKind = kInfoProperties;
        info.SetList(request->m_pImageProps);
        m_pRetriever->Request(&info);
        while (info.m_Async.IsInProgress())
            m_pRetriever->Idle();
        request->m_Async = info.m_Async;
    }

private:
    FIDataRetriever* m_pRetriever;
};

// The preview manager alone, on its own retriever and engine, without the pool: the cold
// thumbnail's latency as the preview manager delivers it.
void BM_ThumbnailPreviewManager(benchmark::State& state)
{
    Fixture& f = TheFixture();
    std::unique_ptr<FIDataRetriever> retriever(CreateDataRetriever());
    FIPEngine2 engine;
    PropertiesParent parent(retriever.get());
    IPPreviewManager manager(&parent, retriever.get(), &engine);
    double best = 1e9, bestScale = 1e9;
    for (auto _ : state) {
        bestScale = std::min(bestScale, ScaleAlone(160));
        EmptyCache();
        FIPManagerRequest req;
        developtest::PreparePreview(req, f.raw, 160);
        const auto start = std::chrono::steady_clock::now();
        manager.Request(&req);
        while (req.m_Async.IsInProgress())
            manager.Idle();
        const double seconds = bench::SecondsSince(start);
        if (!Completed(state, req))
            return;
        state.SetIterationTime(seconds);
        best = std::min(best, seconds);
    }
    state.counters["cold_ms"] = best * 1e3;
    state.counters["scale_alone_ms"] = bestScale * 1e3;
    state.counters["x_scale"] = best / bestScale;
}

} // namespace

BENCHMARK(BM_ThumbnailPreviewManager)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_DevelopToJPEG)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(5.0);
BENCHMARK(BM_DevelopWholeImage)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(5.0);
BENCHMARK(BM_Thumbnail)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_Preview)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1.0);
