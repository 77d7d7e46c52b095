// The stage-2 corrections over a 2640 x 1760 signed 48-bit image, each beside a plain copy
// of the same bytes made in the same iteration (the copy also resets the image). Each
// result carries its best time, the best copy time and "x_copy", their ratio. Filters
// split across threads take the thread count as argument (1, 2, 4 and 8). Stages that read
// only part of the image (the drift pair, the row-segment offsets, the bad-pixel list) say
// so in their label: their ratio is to a copy of the whole image, not of what they touch.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "CalculateDrift.h"
#include "ChromaBlur.h"
#include "CorrectBadPixels.h"
#include "CorrectRowSegments.h"
#include "Despeckle.h"
#include "DevChain.h"
#include "FCamdataAccessors.h"
#include "FGlobalLUTsClass.h"
#include "NeighborizeOutliers.h"
#include "RedSharpenRow.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;
constexpr size_t kSamples = 3 * static_cast<size_t>(kCols) * kRows;

// Smooth gradients, noise, saturated blobs and hot pixels, as a stage-1 image looks.
struct Images {
    Images()
        : source(kSamples), work(kSamples), display(4 * static_cast<size_t>(kCols) * kRows),
          displayWork(display.size())
    {
        std::mt19937 rng(2026);
        for (int y = 0; y < kRows; ++y)
            for (int x = 0; x < kCols; ++x)
                for (int c = 0; c < 3; ++c) {
                    int v = 300 + (x * 7 + y * 3 + c * 500) % 9000 + static_cast<int>(rng() % 200) - 100;
                    if ((x / 40 + y / 40) % 17 == 0)
                        v = 31000 + c * 500;
                    if (rng() % 20000 == 0)
                        v = 32767;
                    source[3 * (static_cast<size_t>(y) * kCols + x) + c] = static_cast<int16_t>(v);
                }
        for (size_t i = 0; i < display.size(); ++i)
            display[i] = static_cast<uint8_t>((i / 4 % kCols + i % 4 * 40 + rng() % 16) & 0xff);
    }
    std::vector<int16_t> source;
    std::vector<int16_t> work;
    std::vector<uint8_t> display;
    std::vector<uint8_t> displayWork;

    FPixmapTemplate<FPixelClass48SRGB> Work() { return {work.data(), kCols, kRows, 0}; }
};

Images& GetImages()
{
    static Images images;
    return images;
}

template <typename Body>
void Run(benchmark::State& state, Body body, bool displayImage = false)
{
    Images& im = GetImages();
    bench::RunBesideCopy(
        state,
        [&] {
            if (displayImage)
                std::memcpy(im.displayWork.data(), im.display.data(), im.display.size());
            else
                std::memcpy(im.work.data(), im.source.data(), kSamples * sizeof(int16_t));
        },
        [&] { body(im); });
}

void BM_PlainCopy(benchmark::State& state)
{
    Run(state, [](Images& im) { std::memcpy(im.work.data(), im.source.data(), kSamples * sizeof(int16_t)); });
}

void BM_CalculateDriftPair(benchmark::State& state)
{
    Run(state, [](Images& im) {
        auto pm = im.Work();
        FDriftPair pair;
        CalculateDriftPair(pair, &pm, FRect(0, 2, kCols, 10), FRect(0, kRows - 10, kCols, kRows - 2));
        benchmark::DoNotOptimize(pair);
    });
    state.SetLabel("reads 16 of 1760 rows");
}

void BM_CorrectRowSegments(benchmark::State& state)
{
    std::vector<FDoubleRGB> offsets(kRows);
    Run(state, [&](Images& im) {
        const double zero[12] = {};
        CorrectRowSegments(offsets.data(), im.Work(), kRows, 6, 14, kCols - 12, kCols - 4,
                           FDoubleRGB(0.02, 0.02, 0.02), FDriftPair::FromCoefficients(zero), 0.8, 16.0,
                           FRect(20, 20, kCols - 20, kRows - 20), true);
    });
    state.SetLabel("reads 2 x 9 shield columns of 2640");
}

// Full polynomial, column filters, segments and 13 gain nodes.
void BM_TransformImageFixed(benchmark::State& state)
{
    devchain::RowTransformCalibration calibration;
    std::vector<FDoubleRGB> offsets(kRows, FDoubleRGB(0.5, 0.25, 0.75));
    FRowTransformSettings& st = calibration.settings;
    st.rowOffsets = offsets.data();
    const int threads = static_cast<int>(state.range(0));
    Run(state, [&](Images& im) { TransformImageFixed(im.Work(), st, threads); });
}

void BM_CorrectBadPixels(benchmark::State& state)
{
    std::vector<uint32_t> list;
    std::mt19937 rng(3);
    for (int i = 0; i < 20000; ++i)
        list.push_back((static_cast<uint32_t>(rng() % kRows) << 20) |
                       (static_cast<uint32_t>(rng() % 4096) << 8) | (rng() & 0xff));
    Run(state, [&](Images& im) {
        CorrectBadPixels(im.Work(), list.data(), static_cast<uint32_t>(list.size()), nullptr);
    });
    state.SetLabel("20000 listed pixels of 4.6 M");
}

void BM_NeighborizeImage(benchmark::State& state)
{
    FIntRGB low, clip, chroma;
    NeighborizeThresholds(FDoubleRGB(0.9, 1.0, 0.8), FIntRGB(26000, 26000, 26000), low, clip, chroma);
    Run(state,
        [&](Images& im) { benchmark::DoNotOptimize(NeighborizeImage(im.Work(), false, low, clip, chroma)); });
}

void BM_DespeckleChannels(benchmark::State& state)
{
    Run(state, [](Images& im) { DespeckleImage(im.Work(), true); });
}

void BM_DespeckleLuma(benchmark::State& state)
{
    Run(state, [](Images& im) { DespeckleImage(im.Work(), false); });
}

void BM_RedSharpenImage(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    Run(state, [&](Images& im) { RedSharpenImage(im.Work(), 4, 2048, 0, threads); });
}

const FColorLUT& Table()
{
    return *FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(600, 480, 720), FDoubleRGB(1, 1, 1));
}

void BM_ChromaBlurImage(benchmark::State& state)
{
    const FColorLUT& t = Table();
    Run(state, [&](Images& im) { ChromaBlurImage(im.Work(), 5.0, 5.0, 5.0, 150, t, 3); });
}

void BM_SpatialChromaDQImage(benchmark::State& state)
{
    const FColorLUT& t = Table();
    const int threads = static_cast<int>(state.range(0));
    Run(state, [&](Images& im) { SpatialChromaDQImage(im.Work(), 150, t, 3, threads); });
}

void BM_BinomialChromaDQImage(benchmark::State& state)
{
    const FColorLUT& t = Table();
    const int threads = static_cast<int>(state.range(0));
    Run(state, [&](Images& im) { BinomialChromaDQImage(im.Work(), t, 3, threads); });
}

// The display image has 4 bytes per pixel, so its copy reference is that of its own bytes.
void BM_ChromaFilterDisplayImage(benchmark::State& state)
{
    Run(
        state,
        [](Images& im) {
            FPixmapTemplate<FPixelClass32BGRA> pm(im.displayWork.data(), kCols, kRows, 0);
            ChromaFilterDisplayImage(pm, 1200, 1200, 1200, 12);
        },
        true);
}

} // namespace

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_CalculateDriftPair)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_CorrectRowSegments)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_TransformImageFixed)->Apply(bench::ThreadCounts)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_CorrectBadPixels)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_NeighborizeImage)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DespeckleChannels)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DespeckleLuma)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_RedSharpenImage)->Apply(bench::ThreadCounts)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ChromaBlurImage)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_SpatialChromaDQImage)
    ->Apply(bench::ThreadCounts)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_BinomialChromaDQImage)
    ->Apply(bench::ThreadCounts)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_ChromaFilterDisplayImage)->Unit(benchmark::kMillisecond)->UseManualTime();
