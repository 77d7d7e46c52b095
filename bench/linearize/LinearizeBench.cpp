// Dark subtraction over a 2640 x 1760 three-channel frame, beside a plain copy of the same
// bytes: each result carries its best time, the best copy time of the same run and
// "x_copy", their ratio.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "FLUT.h"
#include "LinearizeAndDarkSubtract.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;
constexpr size_t kSamples = 3 * static_cast<size_t>(kCols) * kRows;

struct Frames {
    Frames() : dark(kSamples), raw(kSamples), out(kSamples), offsets(3 * kCols), table(4096)
    {
        std::mt19937 rng(2024);
        for (size_t i = 0; i < kSamples; ++i) {
            dark[i] = static_cast<uint16_t>(60 + rng() % 9);
            raw[i] = static_cast<uint16_t>(std::min<uint32_t>(4095, dark[i] + (i / 3 % kCols) + rng() % 64));
        }
        for (auto& o : offsets)
            o = static_cast<int16_t>(static_cast<int>(rng() % 7) - 3);
        // A gently bent curve, as a camera's linearisation would be.
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 4096; ++i)
                table.GetChannel(c)[i] =
                    static_cast<int16_t>(std::lround(4095.0 * std::pow(i / 4095.0, 1.05)));
    }
    std::vector<uint16_t> dark;
    std::vector<uint16_t> raw;
    std::vector<int16_t> out;
    std::vector<int16_t> offsets;
    FColorLUT table;
};

Frames& GetFrames()
{
    static Frames frames;
    return frames;
}

template <typename Body>
void Run(benchmark::State& state, Body body)
{
    Frames& f = GetFrames();
    bench::RunBesideCopy(
        state, [&] { std::memcpy(f.out.data(), f.raw.data(), kSamples * sizeof(uint16_t)); },
        [&] { body(f); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSamples * sizeof(uint16_t));
}

void BM_PlainCopy(benchmark::State& state)
{
    Run(state, [](Frames& f) { std::memcpy(f.out.data(), f.raw.data(), kSamples * sizeof(uint16_t)); });
}

void BM_DarkSubtractNoTable(benchmark::State& state)
{
    Run(state, [](Frames& f) {
        for (int y = 0; y < kRows; ++y) {
            const size_t row = 3 * static_cast<size_t>(kCols) * y;
            DarkSubtractRow(&f.dark[row], &f.raw[row], kCols, nullptr, &f.out[row]);
        }
    });
}

void BM_DarkSubtractWithTable(benchmark::State& state)
{
    Run(state, [](Frames& f) {
        for (int y = 0; y < kRows; ++y) {
            const size_t row = 3 * static_cast<size_t>(kCols) * y;
            DarkSubtractRow(&f.dark[row], &f.raw[row], kCols, &f.table, &f.out[row]);
        }
    });
}

void BM_DarkSubtractWithTableAndOffsets(benchmark::State& state)
{
    Run(state, [](Frames& f) {
        for (int y = 0; y < kRows; ++y) {
            const size_t row = 3 * static_cast<size_t>(kCols) * y;
            DarkSubtractRowWithOffset(&f.dark[row], &f.raw[row], kCols, &f.table, &f.out[row],
                                      f.offsets.data());
        }
    });
}

} // namespace

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DarkSubtractNoTable)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DarkSubtractWithTable)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DarkSubtractWithTableAndOffsets)->Unit(benchmark::kMillisecond)->UseManualTime();
