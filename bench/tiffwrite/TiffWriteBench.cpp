// Writing a 2640 x 1760 16-bit RGB TIFF row by row through the line writer
// (storage port, tags, tag set, EXIF directory), beside libtiff writing the same
// pixels with the same layout straight to a file: the library is the floor.

#include "FPixmap.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "FTiffLineWriter.h"
#include "FWideString.h"
#include "StorageClassRegistry.h"

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;
constexpr int kRowBytes = kCols * 6;

const std::vector<uint16_t>& Pixels()
{
    static const std::vector<uint16_t> pixels = [] {
        std::vector<uint16_t> p(size_t(kCols) * kRows * 3);
        uint32_t state = 12345;
        for (size_t i = 0; i < p.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            p[i] = uint16_t((i % (kCols * 3)) * 8 + (state >> 28));
        }
        return p;
    }();
    return pixels;
}

// A temporary folder for the run, removed at exit.
const std::string& Folder()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tiffbench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        std::atexit([] { std::filesystem::remove_all(Folder()); });
        return pattern;
    }();
    return folder;
}

FWideString DiskURL(const std::string& path)
{
    static std::once_flag once;
    std::call_once(once, [] { RegisterDiskStorageClass(); });
    FWideString url;
    if (!NativePathToURL(FWideString(path.c_str()), url))
        throw std::runtime_error("no URL for " + path);
    return url;
}

void BM_TiffLineWriter48RGB(benchmark::State& state)
{
    const std::vector<uint16_t>& pixels = Pixels();
    const FWideString url = DiskURL(Folder() + "/writer.tif");
    FPropList props(nullptr, "props");
    props.AddProp("CAMMANUF", "Maker");
    props.AddProp("SH_DESC", "1/250");
    props.AddProp("ISO", "200");
    for (auto _ : state) {
        FTiffLineWriter writer(url, true);
        writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_48_RGB);
        writer.WriteTags(&props);
        for (int y = 0; y < kRows; ++y)
            writer.WriteLine(&pixels[size_t(y) * kCols * 3], FPixmap::PIXEL_48_RGB);
        writer.Finish();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kRowBytes * kRows);
}
BENCHMARK(BM_TiffLineWriter48RGB)->Unit(benchmark::kMillisecond);

// The same rows handed over as 24-bit RGB, widened by the writer.
void BM_TiffLineWriter48RGBFrom24RGB(benchmark::State& state)
{
    std::vector<uint8_t> rows(size_t(kCols) * kRows * 3);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = uint8_t(Pixels()[i] >> 8);
    const FWideString url = DiskURL(Folder() + "/writer24.tif");
    for (auto _ : state) {
        FTiffLineWriter writer(url, true);
        writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_48_RGB);
        for (int y = 0; y < kRows; ++y)
            writer.WriteLine(&rows[size_t(y) * kCols * 3], FPixmap::PIXEL_24_RGB);
        writer.Finish();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kRowBytes * kRows);
}
BENCHMARK(BM_TiffLineWriter48RGBFrom24RGB)->Unit(benchmark::kMillisecond);

// Reference: libtiff alone, on a native path, same layout and default strips.
void BM_LibtiffDirect48RGB(benchmark::State& state)
{
    const std::vector<uint16_t>& pixels = Pixels();
    const std::string path = Folder() + "/direct.tif";
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path.c_str(), "wl");
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(kRows));
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(kCols));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        // A little-endian file on a little-endian host: the rows are not swapped.
        for (int y = 0; y < kRows; ++y)
            TIFFWriteScanline(tif, const_cast<uint16_t*>(&pixels[size_t(y) * kCols * 3]), uint32_t(y), 0);
        TIFFClose(tif);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kRowBytes * kRows);
}
BENCHMARK(BM_LibtiffDirect48RGB)->Unit(benchmark::kMillisecond);

} // namespace
