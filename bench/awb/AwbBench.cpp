// The image-wide estimators of a development over a 2640 x 1760 stage-1 image (the
// synthetic capture, dark-subtracted), beside a plain copy of the same bytes: each result
// carries its best time, the best copy time of the same run and "x_copy", their ratio.
// Noise reduction filters a noisy image against the clean scene as its reference, on 1, 2,
// 4 and 8 threads, with working storage kept between calls as the engine keeps it; once
// more on one thread with fresh storage on every call. The retinex image keeps its storage
// too and runs its row passes on 1, 2, 4 and 8 threads.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "EAutoWB.h"
#include "EAutoWBChromaWt.h"
#include "FBandPool.h"
#include "FIRNoiseReduction.h"
#include "FPixelProc2.h"
#include "FSyntheticCapture.h"
#include "Retinex.h"
#include "RunInRowBands.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;
constexpr size_t kSamples = 3 * static_cast<size_t>(kCols) * kRows;

using Image = FPixmapTemplate<FPixelClass48SRGB>;

struct Frames {
    Frames()
        : stage1(kSamples), noisy(kSamples), image(kSamples), reference(kSamples), copy(kSamples),
          retinex(static_cast<size_t>(kCols) * kRows)
    {
        FSyntheticCapture capture = MakeSyntheticCapture(kCols, kRows, 7);
        std::mt19937 rng(11);
        std::normal_distribution<double> noise(0.0, 40.0);
        for (size_t i = 0; i < kSamples; ++i) {
            stage1[i] = static_cast<int16_t>(capture.raw[i] - capture.dark[i]);
            noisy[i] = static_cast<int16_t>(std::clamp(stage1[i] + std::lround(noise(rng)), -500L, 24000L));
        }
        camToXYZ.Set(0.4124, 0.3576, 0.1805, 0.2126, 0.7152, 0.0722, 0.0193, 0.1192, 0.9505);
        ComputeWorkingColorMatrix(rimm, camToXYZ, FDoubleRGB(-1.0, -1.0, -1.0), 1.0, 0.0);
    }
    std::vector<int16_t> stage1;
    std::vector<int16_t> noisy; // stage1 with sensor noise: what noise reduction is for
    std::vector<int16_t> image;
    std::vector<int16_t> reference;
    std::vector<int16_t> copy;
    std::vector<int16_t> retinex;
    FColorMatrix camToXYZ;
    FColorMatrix rimm;
};

Frames& GetFrames()
{
    // The threaded kernels' bands need a pool to run side by side, as in the engine.
    static FBandPool pool(7);
    SetRowBandPool(&pool);
    static Frames frames;
    return frames;
}

// Each pass restores the working copies untimed, then times a plain copy of the stage-1
// image and the stage itself.
template <typename Body>
void Run(benchmark::State& state, Body body)
{
    Frames& f = GetFrames();
    bench::RunBesideCopy(
        state, [&] { std::memcpy(f.reference.data(), f.stage1.data(), kSamples * sizeof(int16_t)); },
        [&] { std::memcpy(f.image.data(), f.stage1.data(), kSamples * sizeof(int16_t)); }, [&] { body(f); });
}

void BM_PlainCopy(benchmark::State& state)
{
    Run(state, [](Frames& f) { std::memcpy(f.image.data(), f.stage1.data(), kSamples * sizeof(int16_t)); });
}

// The noisy image against the clean reference; both restored untimed before each pass.
template <typename Filter>
void RunNoiseReduction(benchmark::State& state, Filter filter)
{
    Frames& f = GetFrames();
    bench::RunBesideCopy(
        state,
        [&] {
            std::memcpy(f.reference.data(), f.stage1.data(), kSamples * sizeof(int16_t));
            std::memcpy(f.image.data(), f.noisy.data(), kSamples * sizeof(int16_t));
        },
        [&] { std::memcpy(f.copy.data(), f.noisy.data(), kSamples * sizeof(int16_t)); },
        [&] {
            Image image(f.image.data(), kCols, kRows, 0);
            Image reference(f.reference.data(), kCols, kRows, 0);
            filter(image, reference);
        });
}

void BM_FIRNoiseReduction(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    FIRScratch scratch;
    RunNoiseReduction(state, [&](Image& image, Image& reference) {
        FIRNoiseReduction(image, reference, 0.0011f, 0.0019f, 0.019f, 1.0f, 0.55f, 5.0f, 7.0f, 0.7f, 1.0f,
                          1.0f, scratch, threads);
    });
}

void BM_FIRNoiseReductionFreshStorage(benchmark::State& state)
{
    RunNoiseReduction(state, [&](Image& image, Image& reference) {
        FIRNoiseReduction(image, reference, 0.0011f, 0.0019f, 0.019f, 1.0f, 0.55f, 5.0f, 7.0f, 0.7f, 1.0f,
                          1.0f);
    });
}

void BM_MultiScaleRetinex(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    FRetinexScratch scratch;
    Run(state, [&](Frames& f) {
        Image image(f.image.data(), kCols, kRows, 0);
        FRetinexImage out(f.retinex.data(), kCols, kRows, 0);
        benchmark::DoNotOptimize(
            MultiScaleRetinex(image, out, 1.0 / 60, 4.0, 100, nullptr, scratch, threads));
    });
}

void BM_GrayWorldWhiteBalance(benchmark::State& state)
{
    Run(state, [](Frames& f) {
        Image image(f.image.data(), kCols, kRows, 0);
        benchmark::DoNotOptimize(AutoWhiteBalanceGrayWorld(&image, FPostPolyMatrix(),
                                                           FIntRGB(3900, 3900, 3900), 4.0, 1.0 / 60, 0.0,
                                                           f.rimm, 1.0, FDriftPair(), true));
    });
}

void BM_ChromaWeightedWhiteBalance(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    Run(state, [&](Frames& f) {
        Image image(f.image.data(), kCols, kRows, 0);
        benchmark::DoNotOptimize(AutoWhiteBalanceChromaWt(&image, FIntRGB(3900, 3900, 3900),
                                                          FPostPolyMatrix(), 4.0, 1.0 / 60, 0.0, false,
                                                          f.camToXYZ, 1.0, FDoubleRGB(), true, threads));
    });
}

} // namespace

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_FIRNoiseReduction)->Apply(bench::ThreadCounts)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_FIRNoiseReductionFreshStorage)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_MultiScaleRetinex)->Apply(bench::ThreadCounts)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_GrayWorldWhiteBalance)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ChromaWeightedWhiteBalance)
    ->Apply(bench::ThreadCounts)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
