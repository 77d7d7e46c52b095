// A whole development of a 2640 x 1760 frame, coded payload to JPEG bytes, beside libvips
// reading the same scene as a 16-bit TIFF from memory, sharpening it, converting it to
// sRGB and writing JPEG quality 90, in the same process and iteration with the same
// thread count. Counters: each stage's time in the fastest chain run, its ratio to a plain
// copy of the 48-bit image made in the same iteration, the total, the libvips time and
// "x_vips", the ratio of the fastest of each.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "DevChain.h"
#include "VipsReference.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;

devchain::Chain& TheChain()
{
    static devchain::Chain chain(kCols, kRows);
    return chain;
}

void BM_DevChain(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    devchain::Chain& chain = TheChain();
    static bench::VipsReference vips(chain.Scene16(), kCols, kRows);
    const size_t samples = 3 * static_cast<size_t>(kCols) * kRows;
    std::vector<int16_t> source(samples, 1), copy(samples);

    devchain::Result run, best;
    double bestTotal = 1e9, bestVips = 1e9, bestCopy = 1e9;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::memcpy(copy.data(), source.data(), samples * sizeof(int16_t));
        benchmark::ClobberMemory();
        bestCopy = std::min(bestCopy, bench::SecondsSince(start));

        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(vips.Run(threads));
        bestVips = std::min(bestVips, bench::SecondsSince(start));

        chain.Run(threads, run);
        const double total = run.Total();
        state.SetIterationTime(total);
        if (total < bestTotal) {
            bestTotal = total;
            std::copy(std::begin(run.seconds), std::end(run.seconds), std::begin(best.seconds));
        }
    }
    for (int s = 0; s < devchain::kStageCount; ++s) {
        const std::string name = devchain::StageName(s);
        state.counters[name + "_ms"] = best.seconds[s] * 1e3;
        state.counters[name + "_x_copy"] = best.seconds[s] / bestCopy;
    }
    state.counters["copy_ms"] = bestCopy * 1e3;
    state.counters["total_ms"] = bestTotal * 1e3;
    state.counters["vips_ms"] = bestVips * 1e3;
    state.counters["x_vips"] = bestTotal / bestVips;
    state.counters["jpeg_bytes"] = static_cast<double>(run.jpeg.size());
}

int Cores()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

} // namespace

BENCHMARK(BM_DevChain)->Arg(1)->Arg(Cores())->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3.0);
