// Properties and embedded-preview latency through the raw loader and its load thread,
// for one raw file with a 1536 x 1024 preview and for 500 small raw files, each beside
// plain reads of the same files' bytes through the same storage class; and the same
// work with the reader alone on the caller's thread.

#include "BesideCopy.h"
#include "BribFileBuilder.h"
#include "FBribImageReader.h"
#include "FJPEGLineWriter.h"
#include "FLoader.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "RawTestFolder.h"
#include "StorageClassRegistry.h"

#include <benchmark/benchmark.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace
{

constexpr int kSmallFiles = 500;

rawtest::Bytes PreviewJPEG(int cols, int rows)
{
    std::vector<uint8_t> memory;
    FJPEGLineWriter writer(&memory, 9, false);
    writer.SetDimensions(cols, rows, FPixmap::PIXEL_24_RGB);
    std::vector<uint8_t> row(size_t(cols) * 3);
    for (int y = 0; y < rows; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = uint8_t((i * 3 + size_t(y) * 2) ^ (i >> 5));
        writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
    }
    writer.Finish();
    return rawtest::Bytes(memory.begin(), memory.end());
}

// A container as a camera writes it: properties, camera data and a JPEG preview.
rawtest::Bytes RawFile(int previewCols, int previewRows, size_t camfileBytes)
{
    rawtest::BribFileBuilder file;
    file.GetHeader().columns = 2268;
    file.GetHeader().rows = 1512;
    file.GetHeader().SetLabel("Daylight");
    file.GetHeader().SetExtData(0, 1, 0.5f);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 40; ++i)
        pairs.emplace_back("PROP" + std::to_string(i), "value " + std::to_string(i * 37));
    file.Top().AddProperties(pairs);
    file.Top().AddCamfile(0, rawtest::Bytes(camfileBytes, 0x3C));
    rawtest::ImageSection preview;
    preview.imageType = 2;
    preview.pixelFormat = 18;
    preview.columns = uint32_t(previewCols);
    preview.rows = uint32_t(previewRows);
    preview.payload = PreviewJPEG(previewCols, previewRows);
    file.Top().AddImage(preview);
    return file.Build();
}

struct BenchFiles {
    rawtest::RawTestFolder folder;
    FWideString big;
    std::vector<FWideString> small;
};

BenchFiles& Files()
{
    static BenchFiles* files = [] {
        auto* made = new BenchFiles();
        made->big = made->folder.Write("big.q7f", RawFile(1536, 1024, 64 << 10));
        const rawtest::Bytes small = RawFile(160, 120, 4 << 10);
        for (int i = 0; i < kSmallFiles; ++i)
            made->small.push_back(made->folder.Write("small" + std::to_string(i) + ".q7f", small));
        return made;
    }();
    return *files;
}

// The reference: every byte of the file read in 64 KiB pieces.
void PlainRead(const FWideString& url, std::vector<uint8_t>& buffer)
{
    FIFile* file = OpenFileURL(url, kFileRead);
    int n = 0;
    while ((n = file->ReadSome(buffer.data(), int(buffer.size()))) > 0)
        benchmark::DoNotOptimize(buffer.data());
    file->Release();
}

struct LoaderHolder {
    LoaderHolder() : m_pLoader(CreateBRIbLoader()) {}
    ~LoaderHolder() { m_pLoader->Destroy(); }
    FILoader* m_pLoader;
};

void Properties(FILoader& loader, const FWideString& url)
{
    FPropList list(nullptr, "props");
    FLoaderRequest req;
    req.m_usFileURL = url;
    req.m_eType = kLoaderProperties;
    req.SetList(&list);
    loader.Request(&req);
}

// Asks the preview's size, then loads it on the load thread into the buffer.
void Preview(FILoader& loader, const FWideString& url, std::vector<uint8_t>& pixels)
{
    FLoaderRequest info;
    info.m_usFileURL = url;
    info.m_eType = kLoaderImage;
    loader.Request(&info);
    const int cols = info.m_iColumns;
    const int rows = int(info.m_iRows);
    pixels.resize(size_t(cols) * size_t(rows) * 3);
    std::unique_ptr<FPixmap> target(NewFPixmap(FPixmap::PIXEL_24_RGB, pixels.data(), cols, rows, cols * 3));
    FLoaderRequest load;
    load.m_usFileURL = url;
    load.m_eType = kLoaderImage;
    load.m_pTarget = target.get();
    loader.Request(&load);
    while (load.m_Async.IsInProgress() || loader.IsHolding(load))
        loader.Idle();
    if (load.m_Async.GetState() != kCompleted)
        std::abort();
}

// The same work on the caller's thread with the reader alone, to show what the loader
// and its thread add.
void ReaderOnly(const FWideString& url, std::vector<uint8_t>& pixels)
{
    FBribImageReader reader(url.GetBuffer());
    FPropList list(nullptr, "props");
    reader.GetProperties(&list);
    int dims[2] = {0, 0};
    int pixelType = 0;
    int imageType = 0;
    reader.GetImageInfo(0, dims, pixelType, imageType);
    pixels.resize(size_t(dims[0]) * size_t(dims[1]) * 3);
    std::unique_ptr<FPixmap> target(NewFPixmap(pixelType, pixels.data(), dims[0], dims[1], dims[0] * 3));
    if (!reader.GetImage(0, *target, nullptr, nullptr))
        std::abort();
}

void BM_OneRawProperties(benchmark::State& state)
{
    LoaderHolder holder;
    std::vector<uint8_t> buffer(64 << 10);
    const FWideString& url = Files().big;
    bench::RunBesideCopy(
        state, [&] { PlainRead(url, buffer); }, [&] { Properties(*holder.m_pLoader, url); });
}
BENCHMARK(BM_OneRawProperties)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_OneRawPreview(benchmark::State& state)
{
    LoaderHolder holder;
    std::vector<uint8_t> buffer(64 << 10);
    std::vector<uint8_t> pixels;
    const FWideString& url = Files().big;
    bench::RunBesideCopy(
        state, [&] { PlainRead(url, buffer); }, [&] { Preview(*holder.m_pLoader, url, pixels); });
}
BENCHMARK(BM_OneRawPreview)->UseManualTime()->Unit(benchmark::kMillisecond);

// Each of the small files through `perFile`, beside plain reads of all of them.
void OverSmallFiles(benchmark::State& state, const std::function<void(const FWideString&)>& perFile)
{
    std::vector<uint8_t> buffer(64 << 10);
    const std::vector<FWideString>& urls = Files().small;
    bench::RunBesideCopy(
        state,
        [&] {
            for (const FWideString& url : urls)
                PlainRead(url, buffer);
        },
        [&] {
            for (const FWideString& url : urls)
                perFile(url);
        });
    state.counters["files"] = kSmallFiles;
}

void BM_SmallRawFilesPropertiesAndPreview(benchmark::State& state)
{
    LoaderHolder holder;
    std::vector<uint8_t> pixels;
    OverSmallFiles(state, [&](const FWideString& url) {
        Properties(*holder.m_pLoader, url);
        Preview(*holder.m_pLoader, url, pixels);
    });
}
BENCHMARK(BM_SmallRawFilesPropertiesAndPreview)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_OneRawReaderOnly(benchmark::State& state)
{
    std::vector<uint8_t> buffer(64 << 10);
    std::vector<uint8_t> pixels;
    const FWideString& url = Files().big;
    bench::RunBesideCopy(
        state, [&] { PlainRead(url, buffer); }, [&] { ReaderOnly(url, pixels); });
}
BENCHMARK(BM_OneRawReaderOnly)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SmallRawFilesReaderOnly(benchmark::State& state)
{
    std::vector<uint8_t> pixels;
    OverSmallFiles(state, [&](const FWideString& url) { ReaderOnly(url, pixels); });
}
BENCHMARK(BM_SmallRawFilesReaderOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
