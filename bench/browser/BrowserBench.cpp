// The browser's image file list, each beside a reference measured in the same run:
// - reading and sorting a folder of 10,000 small raw files, beside listing the same
//   folder through the storage class alone ("x_copy" is the ratio);
// - the thumbnails of 500 raw files with embedded JPEG previews of photographs (see
//   PhotoCapture.h) through the list's queue
//   and the real manager pool, beside decoding the same JPEG streams with libjpeg on
//   every core at the scale the thumbnails need (1/8). The argument is the pool size
//   (0: the default of 4; 1: one per core).

#include <cstdio>
#include <jpeglib.h>
#include <string>
#include <thread>
#include <vector>

#include "BesideCopy.h"
#include "BribFileBuilder.h"
#include "FCache.h"
#include "FIPManager.h"
#include "FIStorageClass.h"
#include "FImageFileList.h"
#include "FJPEGLineWriter.h"
#include "FPixmap.h"
#include "FWinThread.h"
#include "JpegPreviewSection.h"
#ifdef RB_WITH_PHOTOS
#include "PhotoCapture.h"
#endif
#include "RawTestFolder.h"
#include "StorageClassRegistry.h"

#include <benchmark/benchmark.h>

namespace
{

constexpr int kListedFiles = 10000;
constexpr int kThumbnailFiles = 500;
constexpr int kThumbnailEdge = 128;
constexpr int kPreviewCols = 1616;
constexpr int kPreviewRows = 1077;

// A photo-like preview (the sample maker's photographs, each file showing another part of
// their mosaic) where the photographs are installed; a generated pattern otherwise.
rawtest::Bytes PreviewJPEG(int cols, int rows, int seed)
{
    std::vector<uint8_t> rgb;
    std::string why;
#ifdef RB_WITH_PHOTOS
    const bool photo = bench::MakePhotoPicture(cols, rows, uint32_t(seed), rgb, why);
#else
    const bool photo = false;
#endif
    if (!photo) {
        rgb.resize(size_t(cols) * rows * 3);
        for (int y = 0; y < rows; ++y)
            for (size_t i = 0; i < size_t(cols) * 3; ++i)
                rgb[size_t(y) * cols * 3 + i] = uint8_t((i * 3 + size_t(y) * 2 + size_t(seed)) ^ (i >> 5));
    }
    const rawtest::ImageSection section = rawtest::JpegPreviewSection(rgb.data(), cols, rows);
    return section.payload;
}

rawtest::Bytes RawFile(const rawtest::Bytes* preview, int previewCols, int previewRows, int id)
{
    rawtest::BribFileBuilder file;
    file.GetHeader().columns = 2268;
    file.GetHeader().rows = 1512;
    // Distinct ids, so that no cached result of one file answers for another.
    file.GetHeader().uniqueId.fill(0x5A);
    file.GetHeader().uniqueId[0] = uint8_t(id);
    file.GetHeader().uniqueId[1] = uint8_t(id >> 8);
    file.GetHeader().SetLabel("Daylight");
    file.Top().AddProperties({{"CAMMANUF", "Talvo"},
                              {"CAMMODEL", "Talvo X1"},
                              {"TIME", "1000000000"},
                              {"AP_DESC", "5.6"},
                              {"SH_DESC", "1/250"},
                              {"ISO", "200"}});
    if (preview != nullptr) {
        rawtest::ImageSection section;
        section.imageType = 2;
        section.pixelFormat = rawtest::kPreviewFormatJPEG;
        section.columns = uint32_t(previewCols);
        section.rows = uint32_t(previewRows);
        section.payload = *preview;
        file.Top().AddImage(section);
    }
    return file.Build();
}

FWideString FolderOf(const rawtest::RawTestFolder& folder)
{
    std::vector<FWideString> parts;
    SplitURL(folder.URL("x"), parts);
    parts.pop_back();
    FWideString url;
    JoinURL(parts, url, true);
    return url;
}

struct ListedFolder {
    rawtest::RawTestFolder folder;
    FWideString url;
};

ListedFolder& Listed()
{
    static ListedFolder* made = [] {
        auto* f = new ListedFolder();
        const rawtest::Bytes raw = RawFile(nullptr, 0, 0, 1);
        for (int i = 0; i < kListedFiles; ++i)
            f->folder.Write("IMG_" + std::to_string((i * 7919) % kListedFiles) + ".q7f", raw);
        f->url = FolderOf(f->folder);
        return f;
    }();
    return *made;
}

struct PreviewFolder {
    rawtest::RawTestFolder folder;
    FWideString url;
    std::vector<rawtest::Bytes> jpegs;
};

PreviewFolder& Previews()
{
    static PreviewFolder* made = [] {
        auto* f = new PreviewFolder();
        for (int i = 0; i < kThumbnailFiles; ++i) {
            f->jpegs.push_back(PreviewJPEG(kPreviewCols, kPreviewRows, i));
            f->folder.Write("P" + std::to_string(i) + ".q7f",
                            RawFile(&f->jpegs.back(), kPreviewCols, kPreviewRows, i));
        }
        f->url = FolderOf(f->folder);
        return f;
    }();
    return *made;
}

// Nothing cached from an earlier pass may answer for this one.
void EmptyCache()
{
    FCache* cache = GetGlobalCache();
    const uint32_t limit = cache->GetSize();
    cache->SetSize(0);
    cache->SetSize(limit);
}

void StorageListing(const FWideString& url)
{
    FWideString name;
    FIFolder* folder = OpenFolderURL(url, name, false);
    std::vector<FWideString> names;
    folder->ListFiles(names);
    folder->Release();
    benchmark::DoNotOptimize(names.data());
}

void BM_ReadAndSortFolder(benchmark::State& state)
{
    ListedFolder& f = Listed();
    bench::RunBesideCopy(
        state, EmptyCache, [&] { StorageListing(f.url); },
        [&] {
            FImageFileList list;
            list.ReadFolder(GetIPManagerPool(), f.url);
            benchmark::DoNotOptimize(list.m_pHead);
        });
}
BENCHMARK(BM_ReadAndSortFolder)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void DecodeJPEG(const rawtest::Bytes& bytes, std::vector<uint8_t>& pixels)
{
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    d.scale_num = 1;
    d.scale_denom = 8;
    jpeg_start_decompress(&d);
    pixels.resize(size_t(d.output_width) * d.output_components * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = pixels.data() + size_t(d.output_scanline) * d.output_width * d.output_components;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
}

void ParallelDecode(const std::vector<rawtest::Bytes>& jpegs)
{
    const int threads = GetProcessorCount();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::vector<uint8_t> pixels;
            for (size_t i = size_t(t); i < jpegs.size(); i += size_t(threads))
                DecodeJPEG(jpegs[i], pixels);
            benchmark::DoNotOptimize(pixels.data());
        });
    }
    for (std::thread& w : workers)
        w.join();
}

void BM_ThumbnailsThroughTheQueue(benchmark::State& state)
{
    PreviewFolder& f = Previews();
    SetIPManagerPoolSize(0);
    SetIPManagerPoolSize(state.range(0) == 0 ? kDefaultIPManagerPoolSize : GetProcessorCount());
    FImageFileList list;
    list.ReadFolder(GetIPManagerPool(), f.url);
    int done = 0;
    bench::RunBesideCopy(
        state,
        [&] {
            list.ReleaseThumbnails();
            EmptyCache();
        },
        [&] { ParallelDecode(f.jpegs); },
        [&] {
            done = 0;
            list.RequestThumbnails(
                kThumbnailEdge, kThumbnailEdge, &done,
                [](void* context, FImageFileListEntry*) { ++*static_cast<int*>(context); });
            while (list.HasQueuedThumbnails())
                list.Idle();
        });
    state.counters["thumbnails"] = done;
    state.counters["pool"] = GetIPManagerPoolSize();
}
BENCHMARK(BM_ThumbnailsThroughTheQueue)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace
