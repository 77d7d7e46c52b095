// Writing a rendered 2640 x 1760 image as JPEG quality 90 (index 9) through our
// line writer, beside libjpeg encoding the same pixels with the same settings
// directly into memory: the difference is the cost of our layer.
#include "FHasProperties.h"
#include "FJPEGLineWriter.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "RawTestFolder.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include <jpeglib.h>

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;
constexpr int kQualityIndex = 9; // libjpeg quality 90, chroma sampled 1 x 1

// A smooth scene with some noise, so that the coded size is typical of a photograph.
const std::vector<uint8_t>& Pixels()
{
    static const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> p(size_t(kCols) * kRows * 3);
        std::mt19937 rng(7);
        std::normal_distribution<double> noise(0.0, 6.0);
        for (int y = 0; y < kRows; ++y) {
            for (int x = 0; x < kCols; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const double wave = std::sin(x * 0.004 + c) * std::cos(y * 0.003 - c);
                    const int v = int(128 + 90 * wave + noise(rng));
                    p[(size_t(y) * kCols + x) * 3 + c] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
                }
            }
        }
        return p;
    }();
    return pixels;
}

void OurWriterToMemory(benchmark::State& state)
{
    const std::vector<uint8_t>& pixels = Pixels();
    std::unique_ptr<FPixmap> image(
        NewFPixmap(FPixmap::PIXEL_24_RGB, const_cast<uint8_t*>(pixels.data()), kCols, kRows, kCols * 3));
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> out;
        {
            FJPEGImageWriter writer(&out, kQualityIndex, true);
            writer.WriteImage(*image, FHasProperties());
        }
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(bytes);
    state.SetItemsProcessed(state.iterations() * kCols * kRows);
}

// The save path: a file through the storage classes, with EXIF, thumbnail and rows.
void OurLineWriterToFile(benchmark::State& state)
{
    const std::vector<uint8_t>& pixels = Pixels();
    rawtest::RawTestFolder folder;
    const FWideString url = folder.URL("bench.jpg");
    std::vector<uint8_t> thumbPixels(160 * 107 * 3, 128);
    std::unique_ptr<FPixmap> thumb(NewFPixmap(FPixmap::PIXEL_24_RGB, thumbPixels.data(), 160, 107, 480));
    FPropList properties(nullptr, "p");
    properties.AddProp("CAMMANUF", "BENCH");
    for (auto _ : state) {
        FJPEGLineWriter writer(url, kQualityIndex, true);
        writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_24_RGB);
        writer.WriteThumbnail(*thumb);
        writer.WriteTags(&properties);
        for (int y = 0; y < kRows; ++y) {
            writer.WriteLine(pixels.data() + size_t(y) * kCols * 3, FPixmap::PIXEL_24_RGB);
        }
        writer.Finish();
    }
    state.SetItemsProcessed(state.iterations() * kCols * kRows);
}

void LibjpegDirectToMemory(benchmark::State& state)
{
    const std::vector<uint8_t>& pixels = Pixels();
    size_t bytes = 0;
    // A buffer large enough for the whole stream, so that the library never regrows it.
    std::vector<unsigned char> buffer(size_t(kCols) * kRows * 3);
    for (auto _ : state) {
        jpeg_compress_struct c{};
        jpeg_error_mgr err{};
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        unsigned char* out = buffer.data();
        unsigned long size = buffer.size();
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = kCols;
        c.image_height = kRows;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        c.write_JFIF_header = FALSE;
        c.comp_info[0].h_samp_factor = 1;
        c.comp_info[0].v_samp_factor = 1;
        jpeg_set_quality(&c, 90, TRUE);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + size_t(c.next_scanline) * kCols * 3);
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        bytes = size;
        benchmark::DoNotOptimize(out);
    }
    state.counters["bytes"] = double(bytes);
    state.SetItemsProcessed(state.iterations() * kCols * kRows);
}

} // namespace

BENCHMARK(LibjpegDirectToMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(OurWriterToMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(OurLineWriterToFile)->Unit(benchmark::kMillisecond);
