// The longest single tick of the whole program, started by the harness on its real script
// and ticked as its timer would (every 10 ms), while a photographer works: opening a folder
// of 10,000 raws, stepping through images in the review window, dragging an adjustment
// slider there (a new value each tick) and saving 20 images in one batch. Each figure stands
// beside the ticks of the same program idle in the same run ("idle_*"), so the ratio means
// something on a busy machine. The review figures also give open-to-first-picture and
// step-to-next-picture times (goal: 150 ms each) and the slider's last value to the screen
// beside the engine developing that value alone (goal: 1.3 times).

#include "../support/BesideCopy.h"
#include "../support/HarnessTick.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "BribFileBuilder.h"
#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIPEngineService.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FJPEGLineWriter.h"
#include "FOsKeyInput.h"
#include "FPixmap.h"
#include "FSyntheticCapture.h"
#include "FTempDiskFolder.h"
#include "FUiMainWindow.h"
#include "FUiReviewWindow.h"
#include "FUiThumbnails.h"
#include "PhotoCapture.h"
#include "StorageClassRegistry.h"

namespace
{

using Clock = std::chrono::steady_clock;

// Seconds of each tick, with the figures the benchmarks report.
struct Ticks {
    std::vector<double> seconds;

    double Max() const { return seconds.empty() ? 0.0 : *std::max_element(seconds.begin(), seconds.end()); }
    double Percentile(int p) const
    {
        if (seconds.empty())
            return 0.0;
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, sorted.size() * size_t(p) / 100)];
    }
    int Over(double limit) const
    {
        return int(std::count_if(seconds.begin(), seconds.end(), [&](double s) { return s > limit; }));
    }
};

void Tick(Ticks& ticks)
{
    ticks.seconds.push_back(bench::TimedHarnessTick());
}

bool TickUntil(Ticks& ticks, const std::function<bool()>& done, int limit)
{
    for (int i = 0; i < limit; ++i) {
        if (done())
            return true;
        Tick(ticks);
    }
    return done();
}

// The reference: the same program with nothing to do.
Ticks IdleTicks()
{
    Ticks idle;
    for (int i = 0; i < 200; ++i)
        Tick(idle);
    return idle;
}

void Report(benchmark::State& state, const Ticks& work, const Ticks& idle)
{
    state.counters["max_tick_ms"] = work.Max() * 1e3;
    state.counters["p99_tick_ms"] = work.Percentile(99) * 1e3;
    state.counters["ticks_over_16ms"] = work.Over(0.016);
    state.counters["ticks"] = double(work.seconds.size());
    state.counters["idle_max_tick_ms"] = idle.Max() * 1e3;
    state.counters["idle_p50_tick_ms"] = idle.Percentile(50) * 1e3;
    state.counters["x_idle_max"] = idle.Max() > 0 ? work.Max() / idle.Max() : 0.0;
}

int Count(const FAppHarness& app, const std::string& event)
{
    int n = 0;
    for (const std::string& line : app.Log())
        n += line == event;
    return n;
}

// ---- A folder of 10,000 raws ----

constexpr int kFolderFiles = 10000;
constexpr int kPreviews = 64;

rawtest::Bytes JpegOf(const std::vector<uint8_t>& rgb, int cols, int rows)
{
    std::vector<uint8_t> memory;
    FJPEGLineWriter writer(&memory, 9, false);
    writer.SetDimensions(cols, rows, FPixmap::PIXEL_24_RGB);
    for (int y = 0; y < rows; ++y)
        writer.WriteLine(const_cast<uint8_t*>(rgb.data() + size_t(y) * size_t(cols) * 3),
                         FPixmap::PIXEL_24_RGB);
    writer.Finish();
    return rawtest::Bytes(memory.begin(), memory.end());
}

// Raws as a camera writes them for browsing: a header of a 2640 x 1760 capture and an
// embedded JPEG preview of a photograph (the sensor data, which browsing never reads, is
// left out to keep the folder small).
const FTempDiskFolder* ManyRaws(std::string& why)
{
    static FTempDiskFolder* made = nullptr;
    static std::string failure;
    if (made || !failure.empty()) {
        why = failure;
        return made;
    }
    std::vector<rawtest::Bytes> previews;
    for (int i = 0; i < kPreviews; ++i) {
        std::vector<uint8_t> rgb;
        if (!bench::MakePhotoPicture(480, 320, uint32_t(i + 1), rgb, failure)) {
            why = failure;
            return nullptr;
        }
        previews.push_back(JpegOf(rgb, 480, 320));
    }
    made = new FTempDiskFolder();
    for (int i = 0; i < kFolderFiles; ++i) {
        rawtest::BribFileBuilder file;
        file.GetHeader().columns = 2640;
        file.GetHeader().rows = 1760;
        file.GetHeader().uniqueId.fill(0x5A);
        file.GetHeader().uniqueId[0] = uint8_t(i);
        file.GetHeader().uniqueId[1] = uint8_t(i >> 8);
        rawtest::ImageSection section;
        section.imageType = 2;
        section.pixelFormat = 18;
        section.columns = 480;
        section.rows = 320;
        section.payload = previews[size_t(i % kPreviews)];
        file.Top().AddImage(section);
        const rawtest::Bytes bytes = file.Build();
        char name[32];
        std::snprintf(name, sizeof(name), "IMG_%05d.q7f", i);
        made->WriteFile(name, std::string(bytes.begin(), bytes.end()));
    }
    return made;
}

void BM_OpenFolderOf10000Raws(benchmark::State& state)
{
    std::string why;
    const FTempDiskFolder* folder = ManyRaws(why);
    if (!folder) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        FAppHarness harness;
        harness.Start([&](FAppHarness& app) {
            auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
            auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
            if (!browser || !view) {
                state.SkipWithError("no browser");
                return;
            }
            const Ticks idle = IdleTicks();
            FWideString url = folder->GetUrl();
            const auto start = Clock::now();
            app.Send("MainWin.WinMgr", "DirSelected", &url);
            const double command = bench::SecondsSince(start);
            Ticks reading;
            const bool listed = TickUntil(
                reading, [&] { return !browser->GetList().IsReading(); }, 1000000);
            const double listedAt = bench::SecondsSince(start);
            // Then the thumbnails, as far as a minute of them.
            Ticks thumbnails;
            TickUntil(
                thumbnails, [&] { return !browser->GetList().HasQueuedThumbnails(); }, 6000);
            const double seconds = bench::SecondsSince(start);
            if (!listed || browser->GetList().GetCount() != kFolderFiles) {
                state.SkipWithError("the folder was not listed whole");
                return;
            }
            Ticks all = reading;
            all.seconds.insert(all.seconds.end(), thumbnails.seconds.begin(), thumbnails.seconds.end());
            Report(state, all, idle);
            state.counters["command_ms"] = command * 1e3;
            state.counters["max_read_tick_ms"] = reading.Max() * 1e3;
            state.counters["listed_ms"] = listedAt * 1e3;
            state.counters["cells"] = view->GetCellCount();
            state.counters["thumbnails_left"] = browser->GetList().GetQueuedThumbnailCount();
            state.SetIterationTime(seconds);
            app.Send("MainWin", "Close");
        });
    }
}
BENCHMARK(BM_OpenFolderOf10000Raws)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- The review window ----

constexpr int kCols = 2640;
constexpr int kRows = 1760;
constexpr int kReviewImages = 6;

// A developable raw of the photograph capture at the camera's size, its sensor data and
// JPEG previews of the given widths, written into the folder.
void WritePhotoRaw(FTempDiskFolder& folder, const char* name, uint32_t seed, const FSyntheticCapture& capture,
                   std::vector<int> previewCols)
{
    developtest::DevelopableRawOptions options;
    options.cols = kCols;
    options.rows = kRows;
    // Another seed gives another unique id, so no result of another file is reused.
    options.seed = seed;
    options.capture = &capture;
    options.jpegPreviews = true;
    options.previewCols = std::move(previewCols);
    const rawtest::Bytes bytes = developtest::MakeDevelopableRaw(options);
    folder.WriteFile(name, std::string(bytes.begin(), bytes.end()));
}

// Developable raws of photographs at the camera's size, written once.
const FTempDiskFolder* ReviewRaws(int count, std::string& why)
{
    static FTempDiskFolder* made = nullptr;
    static int madeCount = 0;
    static std::string failure;
    if (madeCount >= count || !failure.empty()) {
        why = failure;
        return made;
    }
    if (!made)
        made = new FTempDiskFolder();
    for (int i = madeCount; i < count; ++i) {
        FSyntheticCapture capture;
        if (!bench::MakePhotoCapture(kCols, kRows, uint32_t(100 + i), capture, failure)) {
            why = failure;
            return nullptr;
        }
        char name[32];
        std::snprintf(name, sizeof(name), "DSC_%04d.q7f", i);
        WritePhotoRaw(*made, name, uint32_t(100 + i), capture, {kCols / 2, kCols / 8});
    }
    madeCount = count;
    return made;
}

// Waits for the browser to list the program's folder and watches the review window's
// pictures; answers false (with the reason in `why`) when it cannot.
bool OpenReview(FAppHarness& app, std::string& why)
{
    auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
    if (!browser || !app.Watch("ReviewWin.WinMgr", "ON_DISPLAY_IMAGE") ||
        !app.Watch("ReviewWin.WinMgr", "ON_DISPLAY_HISTOGRAM")) {
        why = "no review window";
        return false;
    }
    Ticks unused;
    if (!TickUntil(
            unused, [&] { return !browser->GetList().IsReading() && browser->GetList().GetCount() > 0; },
            100000)) {
        why = "the folder was not listed";
        return false;
    }
    return true;
}

// Ticks until a picture (the event) newer than `before` is on screen; answers the seconds
// from `start`, or a negative number when none came.
double UntilShown(FAppHarness& app, Ticks& ticks, const char* event, int before, Clock::time_point start)
{
    if (!TickUntil(
            ticks, [&] { return Count(app, event) > before; }, 100000))
        return -1.0;
    return bench::SecondsSince(start);
}

void BM_ReviewStepThroughImages(benchmark::State& state)
{
    std::string why;
    const FTempDiskFolder* folder = ReviewRaws(kReviewImages, why);
    if (!folder) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        FAppHarness harness;
        harness.Start(
            [&](FAppHarness& app) {
                auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
                if (!review || !OpenReview(app, why)) {
                    state.SkipWithError(why.empty() ? "no review window" : why.c_str());
                    return;
                }
                const Ticks idle = IdleTicks();
                Ticks work;
                const auto openStart = Clock::now();
                app.Send("MainWin.WinMgr", "ReviewImages");
                const double openFirst = UntilShown(app, work, "ON_DISPLAY_IMAGE", 0, openStart);
                const double openDeveloped = UntilShown(app, work, "ON_DISPLAY_HISTOGRAM", 0, openStart);
                TickUntil(
                    work, [&] { return review->IsIdle(); }, 100000);
                double worstStepFirst = 0.0, worstStepDeveloped = 0.0, bestStepFirst = 1e9;
                const auto all = Clock::now();
                for (int i = 1; i < kReviewImages; ++i) {
                    const int shown = Count(app, "ON_DISPLAY_IMAGE");
                    const int developed = Count(app, "ON_DISPLAY_HISTOGRAM");
                    const auto start = Clock::now();
                    app.Send("ReviewWin.WinMgr", "GotoNextImage");
                    const double first = UntilShown(app, work, "ON_DISPLAY_IMAGE", shown, start);
                    const double done = UntilShown(app, work, "ON_DISPLAY_HISTOGRAM", developed, start);
                    if (first < 0 || done < 0) {
                        state.SkipWithError("a step showed nothing");
                        return;
                    }
                    worstStepFirst = std::max(worstStepFirst, first);
                    bestStepFirst = std::min(bestStepFirst, first);
                    worstStepDeveloped = std::max(worstStepDeveloped, done);
                    TickUntil(
                        work, [&] { return review->IsIdle(); }, 100000);
                }
                state.SetIterationTime(bench::SecondsSince(all));
                Report(state, work, idle);
                state.counters["open_first_picture_ms"] = openFirst * 1e3;
                state.counters["open_developed_ms"] = openDeveloped * 1e3;
                state.counters["step_first_picture_worst_ms"] = worstStepFirst * 1e3;
                state.counters["step_first_picture_best_ms"] = bestStepFirst * 1e3;
                state.counters["step_developed_worst_ms"] = worstStepDeveloped * 1e3;
                app.Send("MainWin", "Close");
            },
            folder->GetPath());
    }
}
BENCHMARK(BM_ReviewStepThroughImages)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The engine alone developing the review window's image at its fitted size with one
// exposure: the reference of the slider's time to the screen.
double EngineDevelops(const FWideString& file, int cols, int rows, double exposure,
                      const ProcessingSettings& s)
{
    FIPManagerRequest request;
    developtest::PrepareProcessed(request, file, cols, rows, kDisplay);
    FIPJob job = JobOfRecord(request);
    const int space = job.settings.ColorSpace;
    job.settings = s;
    job.settings.Exposure = exposure;
    job.settings.ColorSpace = space;
    FIPEngineService* service = GetIPEngineService();
    if (service == nullptr)
        return 0.0;
    const auto start = Clock::now();
    service->Run(std::move(job));
    return bench::SecondsSince(start);
}

void BM_ReviewDragExposureSlider(benchmark::State& state)
{
    constexpr int kDragTicks = 60;
    std::string why;
    const FTempDiskFolder* folder = ReviewRaws(1, why);
    if (!folder) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        FAppHarness harness;
        harness.Start(
            [&](FAppHarness& app) {
                auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
                if (!review || !OpenReview(app, why)) {
                    state.SkipWithError(why.empty() ? "no review window" : why.c_str());
                    return;
                }
                const Ticks idle = IdleTicks();
                Ticks unused;
                app.Send("MainWin.WinMgr", "ReviewImages");
                UntilShown(app, unused, "ON_DISPLAY_HISTOGRAM", 0, Clock::now());
                TickUntil(
                    unused, [&] { return review->IsIdle(); }, 100000);
                app.Send("ReviewWin.WinMgr", "ManualAdjust");
                TickUntil(
                    unused, [&] { return review->IsIdle(); }, 100000);
                const int fitW = review->GetFittedWidth(), fitH = review->GetFittedHeight();

                // The drag: a new value on every tick, as a slider under the pointer sends.
                Ticks drag;
                double exposure = 0.0;
                const auto dragStart = Clock::now();
                for (int i = 0; i < kDragTicks; ++i) {
                    exposure += 0.02;
                    const auto start = Clock::now();
                    app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure);
                    const double sent = bench::SecondsSince(start);
                    drag.seconds.push_back(sent + bench::TimedHarnessTick());
                }
                // The last value to the screen, from the pointer's release.
                const int developed = Count(app, "ON_DISPLAY_HISTOGRAM");
                const auto release = Clock::now();
                TickUntil(
                    drag, [&] { return Count(app, "ON_DISPLAY_HISTOGRAM") > developed && review->IsIdle(); },
                    100000);
                const double lastToScreen = bench::SecondsSince(release);
                state.SetIterationTime(bench::SecondsSince(dragStart));

                // One change from rest, beside the engine developing the same value alone.
                double bestWindow = 1e9, bestEngine = 1e9;
                const FWideString file = review->GetEntry() ? review->GetEntry()->m_usURL : FWideString();
                for (int i = 0; i < 5; ++i) {
                    exposure += 0.02;
                    bestEngine = std::min(
                        bestEngine, EngineDevelops(file, fitW, fitH, exposure, review->GetCustomSettings()));
                    exposure += 0.02;
                    const int before = Count(app, "ON_DISPLAY_HISTOGRAM");
                    const auto start = Clock::now();
                    app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure);
                    Ticks one;
                    if (UntilShown(app, one, "ON_DISPLAY_HISTOGRAM", before, start) < 0) {
                        state.SkipWithError("no new picture");
                        return;
                    }
                    bestWindow = std::min(bestWindow, bench::SecondsSince(start));
                    TickUntil(
                        one, [&] { return review->IsIdle(); }, 100000);
                }
                Report(state, drag, idle);
                state.counters["release_to_screen_ms"] = lastToScreen * 1e3;
                state.counters["slider_to_screen_ms"] = bestWindow * 1e3;
                state.counters["engine_ms"] = bestEngine * 1e3;
                state.counters["x_engine"] = bestWindow / bestEngine;
                state.counters["view_w"] = fitW;
                state.counters["view_h"] = fitH;
                app.Send("MainWin", "Close");
            },
            folder->GetPath());
    }
}
BENCHMARK(BM_ReviewDragExposureSlider)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- A batch save of 20 ----

constexpr int kBatch = 20;

const FTempDiskFolder* BatchRaws(std::string& why)
{
    static FTempDiskFolder* made = nullptr;
    static std::string failure;
    if (made || !failure.empty()) {
        why = failure;
        return made;
    }
    FSyntheticCapture capture;
    if (!bench::MakePhotoCapture(kCols, kRows, 7, capture, failure)) {
        why = failure;
        return nullptr;
    }
    made = new FTempDiskFolder();
    for (int i = 0; i < kBatch; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "BAT_%04d.q7f", i);
        WritePhotoRaw(*made, name, uint32_t(300 + i), capture, {kCols / 8});
    }
    return made;
}

void BM_BatchSave20Images(benchmark::State& state)
{
    std::string why;
    const FTempDiskFolder* folder = BatchRaws(why);
    if (!folder) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        FTempDiskFolder out;
        FAppHarness harness;
        harness.Start(
            [&](FAppHarness& app) {
                auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
                FGenericUiWindow* progress = app.Window("ProgressWin");
                Ticks unused;
                if (!browser || !progress ||
                    !TickUntil(
                        unused, [&] { return browser->GetList().GetCount() == kBatch; }, 100000)) {
                    state.SkipWithError("the folder was not listed");
                    return;
                }
                const Ticks idle = IdleTicks();
                if (!app.Key("MainWin", EOsKey::kLetter, 'S', true) ||
                    !app.Window("SaveImagesWin")->IsVisible()) {
                    state.SkipWithError("no batch dialog");
                    return;
                }
                FWideString native = WideFromUtf8(out.GetPath());
                app.Send("SaveImagesWin.DstDir", "SetText", &native);
                Ticks work;
                const auto start = Clock::now();
                if (!app.Click("SaveImagesWin.OK")) {
                    state.SkipWithError("no OK");
                    return;
                }
                const auto saved = [&] {
                    int n = 0;
                    for (const auto& f : std::filesystem::directory_iterator(out.GetPath()))
                        n += f.path().extension() == ".jpg";
                    return n;
                };
                const bool done = TickUntil(
                    work, [&] { return !progress->IsVisible() && saved() == kBatch; }, 1000000);
                state.SetIterationTime(bench::SecondsSince(start));
                if (!done) {
                    state.SkipWithError("the batch did not save 20 images");
                    return;
                }
                Report(state, work, idle);
                state.counters["images_per_s"] = kBatch / bench::SecondsSince(start);
                app.Send("MainWin", "Close");
            },
            folder->GetPath());
    }
}
BENCHMARK(BM_BatchSave20Images)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
