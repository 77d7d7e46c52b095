// Photo-like raw files (the sample maker's photographs with sensor noise, PhotoCapture.h)
// developed and saved as JPEG through the manager pool as the application saves them, at
// 4.6 MP (2640 x 1760) and 24 MP (6000 x 4000), each beside a reference measured in the
// same run:
// - BM_PhotoSave/<MP>/<threads>: a cold save (the cache emptied first) beside libvips
//   reading the same scene as a 16-bit TIFF from memory, sharpening it, converting it to
//   sRGB and writing JPEG at the same quality, on as many threads. Counters: the best of
//   each, "x_vips", "ms_per_MP", and the time of each manager state of the best save
//   ("stage 2 (wait)_ms" is stage 2 on the engine).
// - BM_RepeatedSaveRSS: six 24 MP saves in a row, two files taking turns, in a fresh process
//   (bench_devchain_first), so that nothing this one ran before counts, and that process's
//   peak resident memory during each ("first_MiB", "later_max_MiB"), beside the bytes of
//   one 48-bit frame of that size ("x_frame"), and its resident memory before the first
//   ("resident_before_MiB").
// - BM_FirstSave/<MP>: a fresh process (bench_devchain_first) saving once and then again
//   three times: "x_steady" is its first save over its best later one. Once right after
//   the previous process ended and once after 15 s of idling ("after_idle").
// The load average is in the benchmark's context lines; compare ratios, not times.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "FCache.h"
#include "FIPEngine2.h"
#include "FIPManager.h"
#include "FJPEGLineWriter.h"
#include "PhotoCapture.h"
#include "VipsReference.h"

extern char** environ;

namespace
{

namespace fs = std::filesystem;

struct Size {
    int cols, rows;
};
constexpr Size kSizes[2] = {{2640, 1760}, {6000, 4000}};
constexpr int kQualityIndex = 10;

struct PhotoFile {
    int cols = 0, rows = 0;
    std::string path;
    FWideString url;
    std::unique_ptr<bench::VipsReference> vips;
};

fs::path Folder()
{
    static const fs::path folder = [] {
        const fs::path f = fs::temp_directory_path() / "rb_bench_photo_develop";
        fs::create_directories(f);
        return f;
    }();
    return folder;
}

// Written once per process; an empty path when the photographs are missing.
PhotoFile* File(int size, uint32_t seed, std::string& why)
{
    static std::unique_ptr<PhotoFile> files[2][2];
    std::unique_ptr<PhotoFile>& slot = files[size][seed - 1];
    if (slot)
        return slot.get();
    FSyntheticCapture capture;
    if (!bench::MakePhotoCapture(kSizes[size].cols, kSizes[size].rows, seed, capture, why))
        return nullptr;
    developtest::DevelopableRawOptions options;
    options.cols = capture.width;
    options.rows = capture.height;
    options.seed = 1000 + seed * 10 + uint32_t(size);
    options.whiteBalance = "Daylight";
    options.previewCols = {1024, 160};
    options.jpegPreviews = true;
    options.capture = &capture;
    const rawtest::Bytes bytes = developtest::MakeDevelopableRaw(options);
    auto file = std::make_unique<PhotoFile>();
    file->cols = capture.width;
    file->rows = capture.height;
    file->path = (Folder() / ("photo" + std::to_string(size) + "_" + std::to_string(seed) + ".q7f")).string();
    std::ofstream(file->path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    file->url = developtest::DiskURL(file->path);
    if (seed == 1)
        file->vips =
            std::make_unique<bench::VipsReference>(bench::Scene16(capture), capture.width, capture.height);
    slot = std::move(file);
    return slot.get();
}

void EmptyCache()
{
    FCache* cache = GetGlobalCache();
    const uint32_t limit = cache->GetSize();
    cache->SetSize(0);
    cache->SetSize(limit);
}

bool Save(benchmark::State& state, const PhotoFile& f, developtest::DevelopTimes& times)
{
    FIPManagerRequest save;
    developtest::PrepareSave(save, f.url, developtest::DiskURL((Folder() / "out.jpg").string()), kSaveJPEG,
                             kRGB24, 2, f.cols, f.rows);
    save.m_iJPEGQuality = kQualityIndex;
    developtest::RunThroughPool(save, &times);
    if (save.m_Async.GetState() == kCompleted)
        return true;
    state.SkipWithError(
        (std::string("the save did not complete: ") + save.m_Async.m_usErrorText.GetNarrow()).c_str());
    return false;
}

void BM_PhotoSave(benchmark::State& state)
{
    std::string why;
    PhotoFile* f = File(int(state.range(0)), 1, why);
    if (f == nullptr || !f->vips) {
        state.SkipWithError(("no photographs, or the reference was dropped: " + why).c_str());
        return;
    }
    const int threads = int(state.range(1));
    const int threadsBefore = GetIPEngineThreadCount();
    SetIPEngineThreadCount(threads);
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    double bestSave = 1e9, bestVips = 1e9;
    developtest::DevelopTimes best;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(f->vips->Run(threads));
        bestVips = std::min(bestVips, bench::SecondsSince(start));
        EmptyCache();
        developtest::DevelopTimes times;
        if (!Save(state, *f, times))
            break;
        state.SetIterationTime(times.totalSeconds);
        if (times.totalSeconds < bestSave) {
            bestSave = times.totalSeconds;
            best = times;
        }
    }
    SetIPEngineThreadCount(threadsBefore);
    for (size_t s = 0; s < best.stateSeconds.size(); ++s)
        if (best.stateSeconds[s] >= 0.001)
            state.counters[std::string(developtest::ManagerStateName(int(s))) + "_ms"] =
                best.stateSeconds[s] * 1e3;
    const double megapixels = double(f->cols) * f->rows / 1e6;
    state.counters["save_ms"] = bestSave * 1e3;
    state.counters["vips_ms"] = bestVips * 1e3;
    state.counters["x_vips"] = bestSave / bestVips;
    state.counters["ms_per_MP"] = bestSave * 1e3 / megapixels;
    state.counters["vips_ms_per_MP"] = bestVips * 1e3 / megapixels;
}

// The first and best later save of a fresh process, in seconds; false when it failed. With
// a second file, six saves take turns between the two and `peaks` gets the process's
// resident MiB before them, then its peak during each.
bool RunFresh(const PhotoFile& f, double& first, double& steady, const PhotoFile* second = nullptr,
              std::vector<double>* peaks = nullptr)
{
    const std::string program =
        (fs::path(fs::read_symlink("/proc/self/exe")).parent_path() / "bench_devchain_first").string();
    const std::string report = (Folder() / "first.txt").string();
    fs::remove(report);
    std::vector<std::string> args = {
        program, f.path, (Folder() / "first.jpg").string(), "8", second != nullptr ? "6" : "4", report};
    if (second != nullptr)
        args.push_back(second->path);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(report);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !(in >> first >> steady))
        return false;
    for (double v = 0.0; peaks != nullptr && in >> v;)
        peaks->push_back(v);
    return true;
}

void BM_RepeatedSaveRSS(benchmark::State& state)
{
    std::string why;
    PhotoFile* files[2] = {File(1, 1, why), File(1, 2, why)};
    if (files[0] == nullptr || files[1] == nullptr) {
        state.SkipWithError(("no photographs: " + why).c_str());
        return;
    }
    // The reference pipelines' inputs are not the development's memory.
    for (PhotoFile* f : files)
        f->vips.reset();
    const double frameMiB = 6.0 * files[0]->cols * files[0]->rows / 1048576.0;
    double first = 0.0, laterMax = 0.0, before = 0.0;
    for (auto _ : state) {
        double seconds = 0.0, ignored = 0.0;
        std::vector<double> peaks;
        if (!RunFresh(*files[0], seconds, ignored, files[1], &peaks) || peaks.size() < 3) {
            state.SkipWithError("bench_devchain_first failed");
            return;
        }
        before = peaks[0];
        first = peaks[1];
        laterMax = *std::max_element(peaks.begin() + 2, peaks.end());
        state.SetIterationTime(seconds);
    }
    state.counters["first_MiB"] = first;
    state.counters["later_max_MiB"] = laterMax;
    state.counters["frame_MiB"] = frameMiB;
    state.counters["x_frame"] = std::max(first, laterMax) / frameMiB;
    state.counters["resident_before_MiB"] = before;
}

void BM_FirstSave(benchmark::State& state)
{
    std::string why;
    PhotoFile* f = File(int(state.range(0)), 1, why);
    if (f == nullptr) {
        state.SkipWithError(("no photographs: " + why).c_str());
        return;
    }
    double first = 0.0, steady = 0.0, idleFirst = 0.0, idleSteady = 0.0;
    for (auto _ : state) {
        // A process that ends first, so that the measured one starts right after a free.
        double ignored = 0.0;
        if (!RunFresh(*f, ignored, ignored) || !RunFresh(*f, first, steady)) {
            state.SkipWithError("bench_devchain_first failed");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(15));
        if (!RunFresh(*f, idleFirst, idleSteady)) {
            state.SkipWithError("bench_devchain_first failed");
            return;
        }
        state.SetIterationTime(first);
    }
    state.counters["first_ms"] = first * 1e3;
    state.counters["steady_ms"] = steady * 1e3;
    state.counters["x_steady"] = first / steady;
    state.counters["after_idle_first_ms"] = idleFirst * 1e3;
    state.counters["after_idle_steady_ms"] = idleSteady * 1e3;
    state.counters["after_idle_x_steady"] = idleFirst / idleSteady;
}

int Cores()
{
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

} // namespace

BENCHMARK(BM_PhotoSave)
    ->ArgsProduct({{0, 1}, {1, Cores()}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(4.0);
BENCHMARK(BM_RepeatedSaveRSS)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_FirstSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
