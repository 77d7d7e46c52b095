// The stage-2 colour transform (step 7) on one thread over a 2640 x 1760 working image
// with a coring table and a typical camera matrix, prepared once with per-channel tables
// and vector runs, beside the per-row reference it must equal, in the same iteration.
// "x_rows" is their ratio and "identical" 1 when both wrote the same bytes.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "FGlobalLUTsClass.h"
#include "FPixelProc2.h"

namespace
{

constexpr int kW = 2640;
constexpr int kH = 1760;
constexpr size_t kSamples = 3 * static_cast<size_t>(kW) * kH;

void BM_ColorTransform(benchmark::State& state)
{
    // A smooth scene with noise, in the working range stage 2 sees.
    std::vector<int16_t> scene(kSamples);
    std::mt19937 rng(5);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 3; ++c)
                scene[(size_t(y) * kW + x) * 3 + c] =
                    int16_t(std::clamp(200 + 6 * x + 3 * y + 900 * c + int(rng() % 301) - 150, -500, 24000));
    const FColorLUT& coring =
        *FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(40.0, 30.0, 45.0), FDoubleRGB(0.8, 0.8, 0.8));
    FColorMatrix camera;
    camera.Set(1.8, -0.6, -0.2, -0.25, 1.5, -0.25, 0.05, -0.55, 1.5);
    const FColorMatrixFixed q = camera.ToFixed();
    const int offsets[3] = {14, -6, 9};
    std::vector<int16_t> rows(kSamples), rowsCored(kSamples), prepared(kSamples), preparedCored(kSamples);
    double bestRows = 1e9, bestPrepared = 1e9;
    bool identical = true;
    for (auto _ : state) {
        rows = scene;
        prepared = scene;
        auto start = std::chrono::steady_clock::now();
        for (int y = 0; y < kH; ++y)
            TransformStage2RowPair(rows.data() + size_t(y) * kW * 3, rowsCored.data() + size_t(y) * kW * 3,
                                   kW, q, coring, offsets[0], offsets[1], offsets[2], -500, 24000);
        benchmark::ClobberMemory();
        bestRows = std::min(bestRows, bench::SecondsSince(start));

        start = std::chrono::steady_clock::now();
        const FStage2ColorTransform transform(q, coring, offsets[0], offsets[1], offsets[2], -500, 24000);
        for (int y = 0; y < kH; ++y)
            transform.Apply(prepared.data() + size_t(y) * kW * 3, preparedCored.data() + size_t(y) * kW * 3,
                            kW);
        benchmark::ClobberMemory();
        const double seconds = bench::SecondsSince(start);
        bestPrepared = std::min(bestPrepared, seconds);
        state.SetIterationTime(seconds);
        identical = identical && prepared == rows && preparedCored == rowsCored;
    }
    state.counters["best_ms"] = bestPrepared * 1e3;
    state.counters["rows_ms"] = bestRows * 1e3;
    state.counters["x_rows"] = bestPrepared / bestRows;
    state.counters["identical"] = identical ? 1.0 : 0.0;
}

} // namespace

BENCHMARK(BM_ColorTransform)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);
