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
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <vips/vips.h>

#include "DevChain.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;

devchain::Chain& TheChain()
{
    static devchain::Chain chain(kCols, kRows);
    return chain;
}

// The scene as an uncompressed 16-bit RGB TIFF in memory; reading it costs libvips little.
struct VipsInput {
    void* tiff = nullptr;
    size_t size = 0;

    VipsInput()
    {
        if (VIPS_INIT("bench_devchain") != 0)
            throw std::runtime_error("libvips did not start");
        vips_cache_set_max(0); // every pass does the whole work
        const std::vector<uint16_t>& scene = TheChain().Scene16();
        VipsImage* raw = vips_image_new_from_memory(scene.data(), scene.size() * sizeof(uint16_t), kCols,
                                                    kRows, 3, VIPS_FORMAT_USHORT);
        VipsImage* tagged = nullptr;
        if (raw == nullptr ||
            vips_copy(raw, &tagged, "interpretation", VIPS_INTERPRETATION_RGB16, nullptr) != 0 ||
            vips_tiffsave_buffer(tagged, &tiff, &size, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_NONE,
                                 nullptr) != 0)
            throw std::runtime_error(vips_error_buffer());
        g_object_unref(tagged);
        g_object_unref(raw);
    }
};

size_t RunVips(const VipsInput& input)
{
    VipsImage* in = nullptr;
    VipsImage* sharp = nullptr;
    VipsImage* rgb = nullptr;
    void* jpeg = nullptr;
    size_t size = 0;
    if (vips_tiffload_buffer(input.tiff, input.size, &in, nullptr) != 0 ||
        vips_sharpen(in, &sharp, nullptr) != 0 ||
        vips_colourspace(sharp, &rgb, VIPS_INTERPRETATION_sRGB, nullptr) != 0 ||
        vips_jpegsave_buffer(rgb, &jpeg, &size, "Q", 90, nullptr) != 0)
        throw std::runtime_error(vips_error_buffer());
    g_free(jpeg);
    g_object_unref(rgb);
    g_object_unref(sharp);
    g_object_unref(in);
    return size;
}

void BM_DevChain(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    devchain::Chain& chain = TheChain();
    static VipsInput input;
    vips_concurrency_set(threads);
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
        benchmark::DoNotOptimize(RunVips(input));
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
