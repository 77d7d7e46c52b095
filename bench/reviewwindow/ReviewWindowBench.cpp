// An exposure change in the review window, from the slider's message to the new image in
// the view, on a 2640 x 1760 raw at the window's default size: the real program, script and
// pool, beside the engine re-rendering the same change by itself in the same run. Also the
// longest single tick of the user-interface thread while the image develops.

#include "../support/BesideCopy.h"
#include "../support/HarnessTick.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "FAppHarness.h"
#include "FHeadlessDesktop.h"
#include "FIPEngineService.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FImageFileListEntry.h"
#include "FTempDiskFolder.h"
#include "FUiReviewWindow.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;

int Shown(FAppHarness& app)
{
    int count = 0;
    for (const std::string& line : app.Log())
        count += line == "ON_DISPLAY_HISTOGRAM";
    return count;
}

void ExposureChange(benchmark::State& state)
{
    FTempDiskFolder folder;
    developtest::DevelopableRawOptions options;
    options.cols = kCols;
    options.rows = kRows;
    options.previewCols = {kCols / 2, kCols / 8};
    const rawtest::Bytes bytes = developtest::MakeDevelopableRaw(options);
    folder.WriteFile("bench.q7f", std::string(bytes.begin(), bytes.end()));

    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* window = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        if (!window || !app.Send("ReviewWin", "Show") ||
            !app.Watch("ReviewWin.WinMgr", "ON_DISPLAY_HISTOGRAM")) {
            state.SkipWithError("no review window");
            return;
        }
        FImageFileListEntry entry;
        entry.SetURL(folder.GetUrl("bench.q7f"));
        app.Send("ReviewWin.WinMgr", "ImageFileListEntry", &entry);
        double longestTick = 0.0;
        double longestShowTick = 0.0; // a tick that put the new image on screen
        int longTicks = 0;
        // Ticks the program as its timer would, timing each tick.
        auto waitForImage = [&](int before, bool timeTicks) {
            for (int i = 0; i < 100000; ++i) {
                if (Shown(app) > before && window->IsIdle())
                    return true;
                const int shownBefore = Shown(app);
                const double tick = bench::TimedHarnessTick();
                if (timeTicks) {
                    longestTick = std::max(longestTick, tick);
                    longTicks += tick > 0.016;
                    if (Shown(app) > shownBefore)
                        longestShowTick = std::max(longestShowTick, tick);
                }
            }
            return false;
        };
        if (!waitForImage(0, false) || GetIPEngineService() == nullptr) {
            state.SkipWithError("the first image never came");
            return;
        }
        app.Send("ReviewWin.WinMgr", "ManualAdjust");
        FIPEngineService* service = GetIPEngineService();
        const int fitW = window->GetFittedWidth(), fitH = window->GetFittedHeight();
        double exposure = 0.0;
        double bestEngine = 1e9, bestWindow = 1e9;
        for (auto _ : state) {
            // A value not seen before, so that neither side finds it cached.
            exposure += 0.01;
            ProcessingSettings settings = window->GetCustomSettings();
            settings.Exposure = exposure;
            FIPManagerRequest request;
            developtest::PrepareProcessed(request, entry.m_usURL, fitW, fitH, kDisplay);
            FIPJob job = JobOfRecord(request);
            const int space = job.settings.ColorSpace;
            job.settings = settings;
            job.settings.ColorSpace = space;
            // The engine alone, as the window's service runs it.
            auto start = std::chrono::steady_clock::now();
            service->Run(std::move(job));
            bestEngine = std::min(bestEngine, bench::SecondsSince(start));

            exposure += 0.01;
            const int before = Shown(app);
            start = std::chrono::steady_clock::now();
            app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure);
            if (!waitForImage(before, true)) {
                state.SkipWithError("no new image");
                break;
            }
            const double seconds = bench::SecondsSince(start);
            bestWindow = std::min(bestWindow, seconds);
            state.SetIterationTime(seconds);
        }
        state.counters["window_ms"] = bestWindow * 1e3;
        state.counters["engine_ms"] = bestEngine * 1e3;
        state.counters["ratio"] = bestWindow / bestEngine;
        state.counters["longest_tick_ms"] = longestTick * 1e3;
        state.counters["longest_show_tick_ms"] = longestShowTick * 1e3;
        state.counters["ticks_over_16ms"] = longTicks;
        state.counters["view_w"] = fitW;
        state.counters["view_h"] = fitH;
        app.Send("MainWin", "Close");
    });
}

BENCHMARK(ExposureChange)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace
