// Stage 2 on a 2640 x 1760 photo-like capture (a synthetic one without the photographs)
// with every step on: the whole stage, and each step alone (the set-up's image measurements carried in, as a
// continued request has them), each beside a plain copy of the image made in the same iteration. The argument
// is the thread count (1, and the engine's own); "identical" is 1 when the threaded whole
// stage equals the single-threaded one byte for byte.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "FIPERequest.h"
#include "FIPEStage2Setup.h"
#include "FIPEngine2.h"
#include "FIPEngineStages.h"
#include "FPropList.h"
#include "FSyntheticCapture.h"
#ifdef RB_WITH_PHOTOS
#include "PhotoCapture.h"
#endif

namespace
{

constexpr int kW = 2640;
constexpr int kH = 1760;
constexpr size_t kSamples = 3 * static_cast<size_t>(kW) * kH;

struct Stage2Inputs {
    std::vector<uint8_t> camBytes;
    std::unique_ptr<FCamdata> cam;
    FPropList props{nullptr, "Capture"};
    std::vector<int16_t> stage1 = std::vector<int16_t>(kSamples);
    std::vector<int16_t> work = std::vector<int16_t>(kSamples);
    std::vector<int16_t> copy = std::vector<int16_t>(kSamples);
    std::vector<int16_t> preMat = std::vector<int16_t>(kSamples);
    std::vector<int16_t> rtnx = std::vector<int16_t>(static_cast<size_t>(kW) * kH);
    std::vector<int16_t> scratch;
    FPixmap48SRGB workPixmap{work.data(), kW, kH, 0};
    FPixmap48SRGB preMatPixmap{preMat.data(), kW, kH, 0};
    FPixmap16SMono rtnxPixmap{rtnx.data(), kW, kH, 0};
    std::unique_ptr<FPixmap48SRGB> scratchPixmap;
    int32_t saturation[3] = {}, shield[3] = {};
    FIPEStage2Carry carry;
    bool photo = false;

    Stage2Inputs()
    {
        FCamdataBuilder b;
        b.AddFloat("RedSharpen", 2.0f); // the calibration's own switches it off
        AddPlausibleCalibration(b, kW, kH);
        camBytes = b.Build();
        cam = std::make_unique<FCamdata>(camBytes.data(), camBytes.size());
        // Photo-like frames where the photographs are installed.
        FSyntheticCapture capture;
#ifdef RB_WITH_PHOTOS
        std::string why;
        photo = bench::MakePhotoCapture(kW, kH, 1, capture, why);
#endif
        if (!photo)
            capture = MakeSyntheticCapture(kW, kH);
        FPixmap48RGB raw(capture.raw.data(), kW, kH, 0), dark(capture.dark.data(), kW, kH, 0);
        FPixmap48SRGB out(stage1.data(), kW, kH, 0);
        FIPERequestStage1 s1;
        s1.m_pRawImage = &raw;
        s1.m_pDarkImage = &dark;
        s1.m_pOutImage = &out;
        s1.m_pCambData = cam.get();
        IPEngineStages::ProcessStage1(&s1, GetIPEngineThreadCount());
        std::memcpy(saturation, s1.m_aiSaturationLevel, sizeof(saturation));
        std::memcpy(shield, s1.m_aiDarkShieldLevel, sizeof(shield));
        const int rows = static_cast<int>(Stage2Setup::ScratchRowsNeeded(kW, kH));
        scratch.assign(3 * static_cast<size_t>(kW) * rows, 0);
        scratchPixmap = std::make_unique<FPixmap48SRGB>(scratch.data(), kW, rows, 0);
        props.AddProp("WB_DESC", "Auto");
        props.AddProp("SHUTTER", "0.008");
        // The carried measurements of a first run.
        Restore();
        FIPERequestStage2 r;
        Fill(r);
        r.m_StepObserver = [&r](int, bool) { r.m_Async.RequestCancel(); };
        IPEngineStages::ProcessStage2(&r, GetIPEngineThreadCount());
        carry = r.m_Carry;
    }
    void Restore()
    {
        std::memcpy(work.data(), stage1.data(), kSamples * sizeof(int16_t));
    }
    void Fill(FIPERequestStage2& r)
    {
        r.m_pStage1Image = &workPixmap;
        r.m_pStage2PreMatImage = &preMatPixmap;
        r.m_pCaptureProps = &props;
        r.m_pCambData = cam.get();
        r.m_pTempData = scratchPixmap.get();
        r.m_pRtnxImage = &rtnxPixmap;
        r.m_dAperture = 8.0;
        r.m_iExposureTime = 8000;
        std::memcpy(r.m_aiSaturationLevel, saturation, sizeof(saturation));
        std::memcpy(r.m_aiDarkShieldLevel, shield, sizeof(shield));
    }
    // `stepSeconds`, when given, gets each step's time (the set-up's in the first step).
    void RunWhole(int threads, double* stepSeconds = nullptr)
    {
        FIPERequestStage2 r;
        Fill(r);
        auto last = std::chrono::steady_clock::now();
        if (stepSeconds != nullptr)
            r.m_StepObserver = [&](int step, bool) {
                const auto now = std::chrono::steady_clock::now();
                stepSeconds[step] = std::chrono::duration<double>(now - last).count();
                last = now;
            };
        IPEngineStages::ProcessStage2(&r, threads);
    }
    void RunStep(int step, int threads)
    {
        FIPERequestStage2 r;
        Fill(r);
        r.m_Carry = carry;
        r.m_ResumeState[kResumeTag] = kResumeTagStage2;
        r.m_ResumeState[kResumeStep] = static_cast<uint32_t>(step);
        r.m_StepObserver = [&r](int, bool) { r.m_Async.RequestCancel(); };
        IPEngineStages::ProcessStage2(&r, threads);
    }
};

Stage2Inputs& GetInputs()
{
    static Stage2Inputs inputs;
    return inputs;
}

void BM_Stage2Whole(benchmark::State& state)
{
    Stage2Inputs& in = GetInputs();
    const int threads = static_cast<int>(state.range(0));
    in.Restore();
    in.RunWhole(1);
    const std::vector<int16_t> one = in.work;
    in.Restore();
    in.RunWhole(threads);
    const double same = one == in.work ? 1.0 : 0.0;
    bench::RunBesideCopy(
        state, [&] { in.Restore(); },
        [&] { std::memcpy(in.copy.data(), in.stage1.data(), kSamples * sizeof(int16_t)); },
        [&] { in.RunWhole(threads); });
    state.counters["identical"] = same;
}

// The whole stage on the engine's thread count beside the same on one thread, alternating
// in every iteration: "x_threads" is the best single-threaded time over the best threaded;
// "sN_x" the same ratio for step N alone, taken from the whole runs.
void BM_Stage2ThreadsBesideOne(benchmark::State& state)
{
    Stage2Inputs& in = GetInputs();
    const int threads = GetIPEngineThreadCount();
    double bestOne = 1e9, bestThreads = 1e9;
    double stepOne[14], stepThreads[14], step[14] = {};
    std::fill(std::begin(stepOne), std::end(stepOne), 1e9);
    std::fill(std::begin(stepThreads), std::end(stepThreads), 1e9);
    for (auto _ : state) {
        in.Restore();
        auto start = std::chrono::steady_clock::now();
        in.RunWhole(1, step);
        bestOne = std::min(bestOne, bench::SecondsSince(start));
        for (int s = 0; s < 14; ++s)
            stepOne[s] = std::min(stepOne[s], step[s]);
        in.Restore();
        start = std::chrono::steady_clock::now();
        in.RunWhole(threads, step);
        const double seconds = bench::SecondsSince(start);
        bestThreads = std::min(bestThreads, seconds);
        for (int s = 0; s < 14; ++s)
            stepThreads[s] = std::min(stepThreads[s], step[s]);
        state.SetIterationTime(seconds);
    }
    state.counters["threads"] = threads;
    state.counters["photo"] = in.photo ? 1.0 : 0.0;
    state.counters["one_ms"] = bestOne * 1e3;
    state.counters["threads_ms"] = bestThreads * 1e3;
    state.counters["x_threads"] = bestOne / bestThreads;
    for (int s = 0; s < 14; ++s) {
        if (stepOne[s] < 1e-3)
            continue;
        const std::string name = "s" + std::to_string(s);
        state.counters[name + "_1_ms"] = stepOne[s] * 1e3;
        state.counters[name + "_n_ms"] = stepThreads[s] * 1e3;
    }
}

void BM_Stage2Step(benchmark::State& state)
{
    Stage2Inputs& in = GetInputs();
    const int step = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    bench::RunBesideCopy(
        state, [&] { in.Restore(); },
        [&] { std::memcpy(in.copy.data(), in.stage1.data(), kSamples * sizeof(int16_t)); },
        [&] { in.RunStep(step, threads); });
}

void WholeArgs(benchmark::internal::Benchmark* b)
{
    b->Arg(1)->Arg(GetIPEngineThreadCount())->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
}

void StepArgs(benchmark::internal::Benchmark* b)
{
    for (int threads : {1, GetIPEngineThreadCount()})
        for (int step = 0; step < 14; ++step)
            b->Args({step, threads});
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
}

BENCHMARK(BM_Stage2Whole)->Apply(WholeArgs);
BENCHMARK(BM_Stage2Step)->Apply(StepArgs);
BENCHMARK(BM_Stage2ThreadsBesideOne)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
