// A 24-megapixel JPEG from another camera saved as JPEG at full size through the manager
// pool, as the application saves it, beside decoding and encoding the same file directly.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "DevelopDriver.h"
#include "FCache.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FJPEGImageReader.h"
#include "FJPEGLineWriter.h"
#include "FPixmap.h"
#include "RawTestFolder.h"

namespace
{

constexpr int kCols = 6000;
constexpr int kRows = 4000;

struct Fixture {
    Fixture()
    {
        rawtest::EnsureDiskStorageClass();
        source = folder.URL("DSC_2400.jpg");
        FJPEGLineWriter writer(source, kDefaultJPEGQuality, false);
        writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_24_RGB);
        std::vector<uint8_t> row(size_t(kCols) * 3);
        for (int y = 0; y < kRows; ++y) {
            for (int x = 0; x < kCols; ++x) {
                row[size_t(x) * 3] = uint8_t(x * 255 / kCols);
                row[size_t(x) * 3 + 1] = uint8_t(y * 255 / kRows);
                row[size_t(x) * 3 + 2] = uint8_t((x ^ y) & 0x3F);
            }
            writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
        }
        writer.Finish();
    }
    rawtest::RawTestFolder folder;
    FWideString source;
};

Fixture& Shared()
{
    static Fixture fixture;
    return fixture;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void SaveDirect(const FWideString& output)
{
    FJPEGImageReader reader(Shared().source);
    int cols = 0, rows = 0, type = 0;
    reader.GetDimensions(cols, rows, type);
    std::vector<uint8_t> pixels(size_t(cols) * rows * 3);
    FPixmap24RGB pixmap(pixels.data(), cols, rows, cols * 3);
    reader.ReadImage(pixmap);
    FJPEGLineWriter writer(output, kDefaultJPEGQuality, false);
    writer.SetDimensions(cols, rows, FPixmap::PIXEL_24_RGB);
    for (int y = 0; y < rows; ++y)
        writer.WriteLine(pixmap.GetRowAddress(y), FPixmap::PIXEL_24_RGB);
    writer.Finish();
}

bool SaveThroughManager(const FWideString& output)
{
    FIPManagerRequest request;
    developtest::PrepareSave(request, Shared().source, output, kSaveJPEG, kRGB24, kDefaultColorSpace, kCols,
                             kRows);
    FIPManagerPool* pool = GetIPManagerPool();
    pool->Request(&request);
    while (request.m_Async.IsInProgress())
        pool->Idle();
    return request.m_Async.GetState() == kCompleted;
}

void BM_PictureSaveJpeg24MP(benchmark::State& state)
{
    Shared();
    double bestManager = 1e9, bestDirect = 1e9;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        SaveDirect(Shared().folder.URL("direct.jpg"));
        bestDirect = std::min(bestDirect, SecondsSince(start));

        // Nothing of the picture is cached from the last pass: the manager decodes it too.
        GetGlobalCache()->SetSize(0);
        GetGlobalCache()->SetSize(FCache::kDefaultLimit);
        start = std::chrono::steady_clock::now();
        const bool saved = SaveThroughManager(Shared().folder.URL("manager.jpg"));
        const double seconds = SecondsSince(start);
        bestManager = std::min(bestManager, seconds);
        state.SetIterationTime(seconds);
        if (!saved)
            state.SkipWithError("the manager did not save the picture");
    }
    state.counters["manager_ms"] = bestManager * 1e3;
    state.counters["direct_ms"] = bestDirect * 1e3;
    state.counters["x_direct"] = bestManager / bestDirect;
}

} // namespace

BENCHMARK(BM_PictureSaveJpeg24MP)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
