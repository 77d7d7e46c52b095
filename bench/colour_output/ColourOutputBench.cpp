#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "FGlobalLUTsClass.h"
#include "FPixelProc2.h"
#include "ToneLUT.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;

// A stage-3 image (cube-root domain) with a detail plane, and the tables of one output.
struct Scene {
    std::vector<int16_t> stage3 = std::vector<int16_t>(static_cast<size_t>(kCols) * kRows * 3);
    std::vector<int16_t> detail = std::vector<int16_t>(static_cast<size_t>(kCols) * kRows);
    FPixmapTemplate<FPixelClass48SRGB> src{stage3.data(), kCols, kRows, 0};
    FPixmapTemplate<FPixelClass16SMono> L{detail.data(), kCols, kRows, 0};
    FColorLUT tone{65536};
    std::unique_ptr<FLUT> transfer8 = MakeOutputTransferLUT(2, 8);
    std::unique_ptr<FLUT> transfer16 = MakeOutputTransferLUT(2, 16);
    FColorMatrix matrix;

    Scene()
    {
        // Smooth gradients with a little noise, as in a photograph: table look-ups then
        // stay as local as they are on real images.
        uint32_t seed = 12345;
        for (int y = 0; y < kRows; ++y) {
            for (int x = 0; x < kCols; ++x) {
                const size_t i = static_cast<size_t>(y) * kCols + static_cast<size_t>(x);
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1664525u + 1013904223u;
                    const int base = 800 + (x * (3 + c) + y * 2) % 7000;
                    stage3[3 * i + static_cast<size_t>(c)] =
                        static_cast<int16_t>(base + static_cast<int>((seed >> 8) % 64));
                }
                seed = seed * 1664525u + 1013904223u;
                detail[i] = static_cast<int16_t>(static_cast<int>((seed >> 8) % 129) - 64);
            }
        }
        MakeToneLUT(0.3, 0.2, 0.1, -0.2, 1.1, 1.0, 0.9, *FGlobalLUTsClass::GetCubeLUT(), tone);
        ComputeOutputMatrix(matrix, 2, 0.3);
    }
};

Scene& TheScene()
{
    static Scene scene;
    return scene;
}

void BM_PlainCopyOfStage3(benchmark::State& state)
{
    Scene& s = TheScene();
    std::vector<int16_t> copy(s.stage3.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), s.stage3.data(), s.stage3.size() * sizeof(int16_t));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.stage3.size() * sizeof(int16_t)));
}

void BM_OutputTo32BGRADisplay(benchmark::State& state)
{
    Scene& s = TheScene();
    std::vector<uint8_t> buffer(static_cast<size_t>(kCols) * kRows * 4);
    FPixmap_Display out(buffer.data(), kCols, kRows, 0);
    for (auto _ : state) {
        FPixelProc2::ProcessToOutput(s.src, s.L, nullptr, 0.5, s.tone, nullptr, s.matrix, *s.transfer8, false,
                                     out);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.stage3.size() * sizeof(int16_t)));
}

void BM_OutputTo48RGB(benchmark::State& state)
{
    Scene& s = TheScene();
    std::vector<uint16_t> buffer(static_cast<size_t>(kCols) * kRows * 3);
    FPixmapTemplate<FPixelClass48RGB> out(buffer.data(), kCols, kRows, 0);
    for (auto _ : state) {
        FPixelProc2::ProcessToOutput(s.src, s.L, nullptr, 0.5, s.tone, nullptr, s.matrix, *s.transfer16, true,
                                     out);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.stage3.size() * sizeof(int16_t)));
}

} // namespace

BENCHMARK(BM_PlainCopyOfStage3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OutputTo32BGRADisplay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OutputTo48RGB)->Unit(benchmark::kMillisecond);
