// A processed request through the manager on a 2640 x 1760 synthetic raw file with every
// stage-2 step on, beside the same work done by calling each stage directly in the same
// iteration (frames read with the container reader, the engine's stage functions on the
// same thread count). Then re-renders after single slider changes on a warm cache, each
// beside the cold request measured first. The cache limit is raised to kCacheLimit so that
// a whole development stays cached; counters give per-stage times and the peak cache use,
// and the longest single call a window would make (the request or one Idle pass), which
// must stay under a frame (16 ms) for a window that ticks the manager.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "BesideCopy.h"
#include "FAsyncStatus.h"
#include "FBribImageReader.h"
#include "FCache.h"
#include "FCamdata.h"
#include "FIPERequest.h"
#include "FIPEStage2Setup.h"
#include "FIPEngine2.h"
#include "FIPEngineStages.h"
#include "FIPMImage.h"
#include "FIPManagerRequest.h"
#include "FIPWorkSignal.h"
#include "FLUT.h"
#include "FLargePageAllocator.h"
#include "FMemoryAllocator.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FWinThread.h"
#include "IPManager2.h"
#include "ManagerTestFiles.h"
#include "RawTestFolder.h"
#include "Retinex.h"
#include "os/FOsMemory.h"

namespace
{

constexpr int kW = 2640;
constexpr int kH = 1760;
constexpr int kOutW = 1320;
constexpr int kOutH = 880;
constexpr uint32_t kCacheLimit = 512u << 20;
constexpr int kWindowWaitMs = 4;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// A display image of cols x rows of the whole file, neutral gains.
void Processed(FIPManagerRequest& r, const FWideString& url, int cols, int rows)
{
    r.Reset();
    r.m_usFileName = url;
    r.m_eKind = kReqProcessed;
    r.m_eOutputFormat = kDisplay;
    r.m_iOutCols = cols;
    r.m_iOutRows = rows;
    r.m_rCrop.Set(0, 0, cols, rows);
    r.m_adColorAdjust[0] = r.m_adColorAdjust[1] = r.m_adColorAdjust[2] = 1.0;
}

struct Fixture {
    rawtest::RawTestFolder folder;
    FWideString url;
    std::unique_ptr<IPManager2> manager;
    std::unique_ptr<FPropList> props;
    double coldBest = 0.0;
    int stamp = 0;
    // Longest Request or Idle call of the last Run, and the state it began in.
    double longestCall = 0.0;
    int longestCallState = 0;

    Fixture()
    {
        rawtest::EnsureDiskStorageClass();
        mgrtest::RawFileOptions options;
        options.width = kW;
        options.height = kH;
        options.skipFlags = 0;
        url = folder.Write("bench.bri", mgrtest::MakeRawFile(options));
        GetGlobalCache()->SetSize(kCacheLimit);
        manager = std::make_unique<IPManager2>();
        FIPManagerRequest r;
        r.m_usFileName = url;
        r.m_eKind = kReqProperties;
        manager->Request(&r);
        props.reset(r.m_pImageProps->Clone());
    }

    void Base(FIPManagerRequest& r) const { Processed(r, url, kOutW, kOutH); }

    // Runs to the end; seconds spent in each state and the peak cache use.
    bool Run(FIPManagerRequest& r, std::map<int, double>* perState = nullptr, int64_t* peak = nullptr,
             IPManager2* on = nullptr)
    {
        IPManager2* manager = on != nullptr ? on : this->manager.get();
        int current = -1;
        Clock::time_point since = Clock::now();
        manager->SetStateObserver([&](int state) {
            if (state == current)
                return;
            if (perState != nullptr && current >= 0)
                (*perState)[current] += Since(since);
            current = state;
            since = Clock::now();
        });
        auto call = Clock::now();
        manager->Request(&r);
        longestCall = Since(call);
        longestCallState = 0;
        while (r.m_Async.IsInProgress()) {
            const int began = current;
            const uint64_t finished = GetIPWorkCount();
            call = Clock::now();
            manager->Idle();
            if (Since(call) > longestCall) {
                longestCall = Since(call);
                longestCallState = began;
            }
            // The manager never waits; a window with nothing else to do does, between passes
            // that moved nothing on.
            if (r.m_Async.IsInProgress() && current == began)
                WaitForIPWork(finished, kWindowWaitMs);
            if (peak != nullptr)
                *peak = std::max(*peak, GetGlobalCache()->GetUsedBytes());
        }
        if (perState != nullptr && current >= 0)
            (*perState)[current] += Since(since);
        manager->SetStateObserver(nullptr);
        return r.m_Async.GetState() == kCompleted;
    }
};

Fixture& GetFixture()
{
    static Fixture fixture;
    return fixture;
}

// Every stage of a cold request done directly, each timed.
struct Alone {
    std::vector<uint16_t> raw = std::vector<uint16_t>(3 * size_t(kW) * kH);
    std::vector<uint16_t> dark = std::vector<uint16_t>(3 * size_t(kW) * kH);
    std::vector<int16_t> stage12 = std::vector<int16_t>(3 * size_t(kW) * kH);
    std::vector<int16_t> ref = std::vector<int16_t>(3 * size_t(kW) * kH);
    std::vector<int16_t> rtnx2 = std::vector<int16_t>(size_t(kW) * kH);
    std::vector<int16_t> scratch2;
    std::vector<int16_t> s3 = std::vector<int16_t>(3 * size_t(kOutW) * kOutH);
    std::vector<int16_t> s3L = std::vector<int16_t>(size_t(kOutW) * kOutH);
    std::vector<int16_t> s3R = std::vector<int16_t>(size_t(kOutW) * kOutH);
    std::vector<int16_t> s3scratch = std::vector<int16_t>(3 * size_t(kOutW) * 5);
    std::vector<int16_t> tone = std::vector<int16_t>(3 * 65536);
    std::vector<int16_t> rtnxLut = std::vector<int16_t>(65536);
    std::vector<uint8_t> out = std::vector<uint8_t>(4 * size_t(kOutW) * kOutH);
    std::vector<uint8_t> camBytes;
    double seconds[9] = {};

    Alone() { scratch2.resize(3 * size_t(kW) * size_t(Stage2Setup::ScratchRowsNeeded(kW, kH))); }

    template <class F>
    void Time(int index, F f)
    {
        const auto t = Clock::now();
        f();
        seconds[index] = Since(t);
    }

    void Run(const Fixture& fx)
    {
        const int threads = GetIPEngineThreadCount();
        FBribImageReader reader(fx.url.GetBuffer());
        FAsyncStatus status;
        FPixmap48RGB rawPm(raw.data(), kW, kH, kW * 6), darkPm(dark.data(), kW, kH, kW * 6);
        Time(0, [&] { reader.GetImage(1, rawPm, ProgressOf(status), CancelOf(status)); });
        Time(1, [&] { reader.GetImage(0, darkPm, ProgressOf(status), CancelOf(status)); });
        std::unique_ptr<FCamdata> cam;
        Time(2, [&] {
            int size = 0, kind = 0;
            reader.GetCamfileInfo(0, size, kind);
            camBytes.resize(size_t(size));
            reader.ReadCamfile(0, camBytes.data(), unsigned(size), ProgressOf(status), CancelOf(status));
            cam = std::make_unique<FCamdata>(camBytes.data(), camBytes.size());
        });
        FPixmap48SRGB work(stage12.data(), kW, kH, kW * 6);
        FIPERequestStage1 s1;
        Time(3, [&] {
            s1.m_pRawImage = &rawPm;
            s1.m_pDarkImage = &darkPm;
            s1.m_pCambData = cam.get();
            s1.m_pOutImage = &work;
            IPEngineStages::ProcessStage1(&s1, threads);
        });
        FPixmap48SRGB refPm(ref.data(), kW, kH, kW * 6);
        FPixmap16SMono rtnxPm(rtnx2.data(), kW, kH, kW * 2);
        FPixmap48SRGB scratchPm(scratch2.data(), kW, int(scratch2.size() / (3 * size_t(kW))), kW * 6);
        FIPERequestStage2 s2;
        Time(4, [&] {
            s2.m_pStage1Image = &work;
            s2.m_pStage2PreMatImage = &refPm;
            s2.m_pRtnxImage = &rtnxPm;
            s2.m_pTempData = &scratchPm;
            s2.m_pCambData = cam.get();
            s2.m_pCaptureProps = fx.props.get();
            s2.m_dISO = 100;
            s2.m_iExposureTime = 8000;
            s2.m_dAperture = 8.0;
            std::memcpy(s2.m_aiSaturationLevel, s1.m_aiSaturationLevel, sizeof(s2.m_aiSaturationLevel));
            std::memcpy(s2.m_aiDarkShieldLevel, s1.m_aiDarkShieldLevel, sizeof(s2.m_aiDarkShieldLevel));
            IPEngineStages::ProcessStage2(&s2, threads);
        });
        FPixmap48SRGB s3Pm(s3.data(), kOutW, kOutH, kOutW * 6);
        FPixmap16SMono s3LPm(s3L.data(), kOutW, kOutH, kOutW * 2), s3RPm(s3R.data(), kOutW, kOutH, kOutW * 2);
        FPixmap48SRGB s3ScratchPm(s3scratch.data(), kOutW, 5, kOutW * 6);
        Time(5, [&] {
            FIPERequestStage3 q;
            q.m_pStage2Image = &work;
            q.m_pStage2ImageRtnx = &rtnxPm;
            q.m_iOutCols = kOutW;
            q.m_iOutRows = kOutH;
            q.m_rCrop.Set(0, 0, kOutW, kOutH);
            q.m_iRawCols = kW;
            q.m_iRawRows = kH;
            q.m_pCambData = cam.get();
            q.m_pTempData = &s3ScratchPm;
            q.m_pOutImage = &s3Pm;
            q.m_pOutImageL = &s3LPm;
            q.m_pOutImageRtnx = &s3RPm;
            q.m_bGreenWeighting = s2.m_bOlderModel;
            IPEngineStages::ProcessStage3(&q, threads);
        });
        Time(6, [&] {
            FIPERequestGenerateToneLUT q;
            q.m_pToneLUT = tone.data();
            IPEngineStages::GenerateToneLUT(&q);
        });
        Time(7, [&] {
            FLUT table(rtnxLut.data(), 0x10000, false);
            MakeRetinexGainLUT(&table, 0.0, 256);
        });
        FPixmap_Display outPm(out.data(), kOutW, kOutH, kOutW * 4);
        Time(8, [&] {
            FIPERequestStage4 q;
            q.m_pStage3Image = &s3Pm;
            q.m_pStage3ImageL = &s3LPm;
            q.m_pStage3ImageRtnx = &s3RPm;
            q.m_pOutImage = &outPm;
            q.m_pToneLUT = tone.data();
            q.m_pRtnxLUT = rtnxLut.data();
            q.m_pCambData = cam.get();
            q.m_bOlderModel = s2.m_bOlderModel;
            IPEngineStages::ProcessStage4(&q, threads);
        });
    }

    double Total() const
    {
        double t = 0.0;
        for (double s : seconds)
            t += s;
        return t;
    }

    static double* ProgressOf(FAsyncStatus&) { return nullptr; }
    static const char* CancelOf(const FAsyncStatus& s) { return reinterpret_cast<const char*>(&s.m_bCancel); }
};

const char* const kAloneNames[9] = {"load_raw", "load_dark", "camdata",  "stage1", "stage2",
                                    "stage3",   "tone",      "rtnx_lut", "stage4"};

// Manager states grouped as the stages of Alone (a start and its completion together).
void ReportStates(benchmark::State& state, std::map<int, double>& perState, const char* prefix = "")
{
    const std::pair<const char*, std::vector<int>> groups[] = {
        {"init", {1}},       {"find", {2}},       {"load_raw", {3, 4}}, {"load_dark", {5, 6}},
        {"camdata", {7, 8}}, {"stage1", {9, 10}}, {"stage2", {11, 12}}, {"stage3", {13, 14}},
        {"tone", {15, 16}},  {"rtnx_lut", {17}},  {"stage4", {18, 19}}, {"answer", {20}},
    };
    for (const auto& [name, states] : groups) {
        double s = 0.0;
        for (int st : states)
            s += perState[st];
        state.counters[std::string(prefix) + "mgr_" + name + "_ms"] = s * 1e3;
    }
}

void BM_ColdRequest(benchmark::State& state)
{
    Fixture& fx = GetFixture();
    static Alone alone;
    double bestCold = 1e9, bestAlone = 1e9;
    std::map<int, double> bestStates;
    double bestAloneStages[9] = {};
    int64_t peak = 0;
    double longestCall = 0.0;
    int longestCallState = 0;
    long threadsStarted = 0;
    for (auto _ : state) {
        alone.Run(fx);
        if (alone.Total() < bestAlone) {
            bestAlone = alone.Total();
            std::copy(std::begin(alone.seconds), std::end(alone.seconds), bestAloneStages);
        }
        GetGlobalCache()->SetSize(0);
        GetGlobalCache()->SetSize(kCacheLimit);
        FIPManagerRequest r;
        fx.Base(r);
        std::map<int, double> perState;
        int64_t runPeak = 0;
        const long threadsBefore = GetStartedThreadCount();
        const auto t = Clock::now();
        const bool ok = fx.Run(r, &perState, &runPeak);
        const double seconds = Since(t);
        threadsStarted = std::max(threadsStarted, GetStartedThreadCount() - threadsBefore);
        if (fx.longestCall > longestCall) {
            longestCall = fx.longestCall;
            longestCallState = fx.longestCallState;
        }
        if (!ok)
            state.SkipWithError("request failed");
        state.SetIterationTime(seconds);
        peak = std::max(peak, runPeak);
        if (seconds < bestCold) {
            bestCold = seconds;
            bestStates = perState;
        }
    }
    fx.coldBest = bestCold;
    state.counters["cold_ms"] = bestCold * 1e3;
    state.counters["alone_ms"] = bestAlone * 1e3;
    state.counters["x_alone"] = bestCold / bestAlone;
    state.counters["peak_cache_MB"] = double(peak) / (1 << 20);
    state.counters["longest_call_ms"] = longestCall * 1e3;
    state.counters["longest_call_state"] = longestCallState;
    state.counters["cache_limit_MB"] = double(kCacheLimit) / (1 << 20);
    // Threads started by the most a development started (the band pool is up by then:
    // the stages run alone first).
    state.counters["threads_started"] = static_cast<double>(threadsStarted);
    for (int i = 0; i < 9; ++i)
        state.counters[std::string("alone_") + kAloneNames[i] + "_ms"] = bestAloneStages[i] * 1e3;
    ReportStates(state, bestStates);
}

// 0 exposure, 1 contrast, 2 saturation, 3 sharpness, 4 white balance (input neutral),
// 5 crop; every iteration gives a value not seen before, so nothing comes whole from
// the cache.
void BM_Rerender(benchmark::State& state)
{
    Fixture& fx = GetFixture();
    const int change = static_cast<int>(state.range(0));
    static const char* const kNames[] = {"exposure",  "contrast",      "saturation",
                                         "sharpness", "white_balance", "crop"};
    state.SetLabel(kNames[change]);
    FIPManagerRequest warm;
    fx.Base(warm);
    if (!fx.Run(warm))
        state.SkipWithError("warm-up failed");
    warm.Reset();
    double best = 1e9;
    std::map<int, double> bestStates;
    double longestCall = 0.0;
    int longestCallState = 0;
    int entry = 0;
    for (auto _ : state) {
        const double v = 0.01 * (++fx.stamp);
        FIPManagerRequest r;
        fx.Base(r);
        switch (change) {
        case 0:
            r.m_dExposure = v;
            break;
        case 1:
            r.m_dContrast = v;
            break;
        case 2:
            r.m_dSaturation = v;
            break;
        case 3:
            r.m_dSharpness = v;
            break;
        case 4:
            r.m_adNeutral[0] = 1.0 + v;
            r.m_adNeutral[1] = 1.0;
            r.m_adNeutral[2] = 1.0;
            break;
        default:
            r.m_rCrop.Set(fx.stamp % 40, fx.stamp % 30, kOutW - 40 + fx.stamp % 40,
                          kOutH - 30 + fx.stamp % 30);
            break;
        }
        std::map<int, double> perState;
        const auto t = Clock::now();
        const bool ok = fx.Run(r, &perState);
        const double seconds = Since(t);
        if (fx.longestCall > longestCall) {
            longestCall = fx.longestCall;
            longestCallState = fx.longestCallState;
        }
        if (!ok)
            state.SkipWithError("request failed");
        entry = fx.manager->GetEntryState();
        state.SetIterationTime(seconds);
        if (seconds < best) {
            best = seconds;
            bestStates = perState;
        }
    }
    state.counters["best_ms"] = best * 1e3;
    state.counters["cold_ms"] = fx.coldBest * 1e3;
    state.counters["x_cold"] = fx.coldBest > 0.0 ? best / fx.coldBest : 0.0;
    state.counters["entry_state"] = entry;
    state.counters["longest_call_ms"] = longestCall * 1e3;
    state.counters["longest_call_state"] = longestCallState;
    ReportStates(state, bestStates);
}

// The first development of a process meets no kept blocks, no mapped heap and no engine
// working planes: every block is fresh from the system. Each iteration gives everything
// back (cache emptied, kept blocks and free heap returned to the system) and develops with
// a new manager, so a new engine ("fresh"); then empties the cache only and develops again
// with the same manager ("warm", what every later cold request meets).
void BM_FirstDevelopment(benchmark::State& state)
{
    Fixture& fx = GetFixture();
    double bestFresh = 1e9, bestWarm = 1e9;
    std::map<int, double> bestStates[2];
    for (auto _ : state) {
        double seconds[2] = {};
        std::map<int, double> perState[2];
        std::unique_ptr<IPManager2> manager;
        for (int pass = 0; pass < 2; ++pass) {
            GetGlobalCache()->SetSize(0);
            if (pass == 0) {
                manager.reset();
                FreeRetainedMemory();
                manager = std::make_unique<IPManager2>();
            }
            GetGlobalCache()->SetSize(kCacheLimit);
            FIPManagerRequest r;
            fx.Base(r);
            const auto t = Clock::now();
            if (!fx.Run(r, &perState[pass], nullptr, manager.get()))
                state.SkipWithError("request failed");
            seconds[pass] = Since(t);
        }
        state.SetIterationTime(seconds[0]);
        if (seconds[0] < bestFresh) {
            bestFresh = seconds[0];
            bestStates[0] = perState[0];
        }
        if (seconds[1] < bestWarm) {
            bestWarm = seconds[1];
            bestStates[1] = perState[1];
        }
    }
    ReportStates(state, bestStates[0]);
    ReportStates(state, bestStates[1], "warm_");
    state.counters["fresh_ms"] = bestFresh * 1e3;
    state.counters["warm_ms"] = bestWarm * 1e3;
    state.counters["x_warm"] = bestFresh / bestWarm;
}

// A full-size development of a 4.6 MP and of a 24 MP file with the program's memory
// defaults (the cache and kept blocks sized from the image), each after everything was
// given back to the system: time per megapixel, and the process's peak resident memory
// during the development beside the resident memory it started from.
void BM_FullSizeDevelopment(benchmark::State& state)
{
    const bool large = state.range(0) != 0;
    const int cols = large ? 6000 : kW;
    const int rows = large ? 4000 : kH;
    state.SetLabel(large ? "24MP" : "4.6MP");
    rawtest::EnsureDiskStorageClass();
    rawtest::RawTestFolder folder;
    mgrtest::RawFileOptions options;
    options.width = cols;
    options.height = rows;
    options.skipFlags = 0;
    options.idByte = large ? 92 : 91;
    const FWideString url = folder.Write("full.bri", mgrtest::MakeRawFile(options));
    double best = 1e9;
    uint64_t peak = 0, start = 0;
    for (auto _ : state) {
        GetGlobalCache()->SetSize(0);
        FreeRetainedMemory();
        GetGlobalCache()->SetSize(FCache::kDefaultLimit);
        OsResetPeakResident();
        const uint64_t before = OsResidentBytes();
        double seconds = 0.0;
        {
            IPManager2 manager;
            FIPManagerRequest r;
            Processed(r, url, cols, rows);
            const auto t = Clock::now();
            manager.Request(&r);
            while (r.m_Async.IsInProgress())
                manager.Idle();
            seconds = Since(t);
            if (r.m_Async.GetState() != kCompleted)
                state.SkipWithError(r.m_Async.m_usErrorText.GetNarrow());
        }
        state.SetIterationTime(seconds);
        best = std::min(best, seconds);
        peak = std::max(peak, OsPeakResidentBytes());
        start = std::max(start, before);
    }
    const double megapixels = double(cols) * rows / 1e6;
    state.counters["best_ms"] = best * 1e3;
    state.counters["ms_per_MP"] = best * 1e3 / megapixels;
    state.counters["peak_rss_MB"] = double(peak) / (1 << 20);
    state.counters["dev_peak_MB"] = double(peak - std::min(peak, start)) / (1 << 20);
    state.counters["start_rss_MB"] = double(start) / (1 << 20);
    state.counters["cache_limit_MB"] = double(GetGlobalCache()->GetSize()) / (1 << 20);
    state.counters["page_budget_MB"] = double(GetLargePageBudget()) / (1 << 20);
    GetGlobalCache()->SetSize(0);
    GetGlobalCache()->SetSize(kCacheLimit);
}

BENCHMARK(BM_ColdRequest)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Rerender)->DenseRange(0, 5)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FirstDevelopment)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FullSizeDevelopment)
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

} // namespace
