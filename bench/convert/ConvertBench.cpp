// Conversion of a 2640 x 1760 image to the 32-bit display type, and resizing, beside a
// plain copy of the source's bytes: each result carries its best time, the best copy time
// of the same run and "x_copy", their ratio.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ConvertColorPixmap.h"
#include "CropSizeRotate.h"
#include "FLUT.h"
#include "FPixmap.h"

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;

struct Image {
    Image(int type, int cols, int rows)
        : bytes(size_t(cols) * rows * GetPixelTypeBytesPerPixel(type)),
          pixmap(NewFPixmap(type, bytes.data(), cols, rows, 0))
    {
    }
    std::vector<uint8_t> bytes;
    std::unique_ptr<FPixmap> pixmap;
};

// A smooth picture with some grain, as a developed photograph would be.
void Fill(Image& image)
{
    std::mt19937 rng(7);
    const int bpp = GetPixelTypeBytesPerPixel(image.pixmap->GetPixelType());
    for (int y = 0; y < image.pixmap->GetRows(); ++y) {
        uint8_t* row = image.pixmap->GetRowAddress(y);
        for (int x = 0; x < image.pixmap->GetCols() * bpp; ++x)
            row[x] = uint8_t((x / bpp + y) / 16 + rng() % 8);
    }
}

struct Frames {
    Frames()
        : rgb48(FPixmap::PIXEL_48_RGB, kCols, kRows), srgb48(FPixmap::PIXEL_48S_RGB, kCols, kRows),
          rgb24(FPixmap::PIXEL_24_RGB, kCols, kRows), mono12(FPixmap::PIXEL_12_MONO, kCols, kRows),
          display(FPixmap::PIXEL_32_BGRA, kCols, kRows), bgr24(FPixmap::PIXEL_24_BGR, kCols, kRows),
          copy(rgb48.bytes.size()), lut(65536)
    {
        for (Image* image : {&rgb48, &srgb48, &rgb24, &mono12, &display})
            Fill(*image);
        // Keep the signed working image in its usual Q12 range.
        for (size_t i = 1; i < srgb48.bytes.size(); i += 2)
            srgb48.bytes[i] &= 0x3F;
        for (int i = 0; i < 65536; ++i)
            lut.m_pData[i] = int16_t(i >> 2);
    }
    Image rgb48, srgb48, rgb24, mono12, display, bgr24;
    std::vector<uint8_t> copy;
    FLUT lut;
};

Frames& GetFrames()
{
    static Frames frames;
    return frames;
}

template <typename Body>
void Run(benchmark::State& state, const Image& source, Body body)
{
    Frames& f = GetFrames();
    bench::RunBesideCopy(
        state, [&] { std::memcpy(f.copy.data(), source.bytes.data(), source.bytes.size()); },
        [&] { body(f); });
}

void BM_PlainCopy48(benchmark::State& state)
{
    Run(state, GetFrames().rgb48,
        [](Frames& f) { std::memcpy(f.copy.data(), f.rgb48.bytes.data(), f.copy.size()); });
}

void BM_Convert48RGBToDisplay(benchmark::State& state)
{
    Run(state, GetFrames().rgb48,
        [](Frames& f) { ConvertColorPixmap(*f.rgb48.pixmap, f.display.pixmap.get(), nullptr); });
}

void BM_Convert48SRGBToDisplay(benchmark::State& state)
{
    Run(state, GetFrames().srgb48,
        [](Frames& f) { ConvertColorPixmap(*f.srgb48.pixmap, f.display.pixmap.get(), nullptr); });
}

void BM_Convert24RGBToDisplay(benchmark::State& state)
{
    Run(state, GetFrames().rgb24,
        [](Frames& f) { ConvertColorPixmap(*f.rgb24.pixmap, f.display.pixmap.get(), nullptr); });
}

void BM_Convert12MonoToDisplay(benchmark::State& state)
{
    Run(state, GetFrames().mono12,
        [](Frames& f) { ConvertColorPixmap(*f.mono12.pixmap, f.display.pixmap.get(), nullptr); });
}

void BM_Convert48RGBTo24BGR(benchmark::State& state)
{
    Run(state, GetFrames().rgb48,
        [](Frames& f) { ConvertColorPixmap(*f.rgb48.pixmap, f.bgr24.pixmap.get(), nullptr); });
}

// The preview path: the whole display image to half size, and turned at full size.
void BM_ResizeDisplayHalf(benchmark::State& state)
{
    static Image out(FPixmap::PIXEL_32_BGRA, kCols / 2, kRows / 2);
    Run(state, GetFrames().display, [](Frames& f) {
        CropSizeRotate(*f.display.pixmap, *out.pixmap, kCols / 2, kRows / 2,
                       FRect(0, 0, kCols / 2, kRows / 2), 0);
    });
}

void BM_TurnDisplayFullSize(benchmark::State& state)
{
    static Image out(FPixmap::PIXEL_32_BGRA, kRows, kCols);
    Run(state, GetFrames().display, [](Frames& f) {
        CropSizeRotate(*f.display.pixmap, *out.pixmap, kRows, kCols, FRect(0, 0, kRows, kCols), 90);
    });
}

// The development path: the working image to 1320 x 880 with its L image.
void BM_ResizeWorkingImageHalf(benchmark::State& state)
{
    static Image color(FPixmap::PIXEL_48S_RGB, kCols / 2, kRows / 2);
    static Image l(FPixmap::PIXEL_16S_MONO, kCols / 2, kRows / 2);
    Run(state, GetFrames().srgb48, [](Frames& f) {
        CropSizeRotateMore(*f.srgb48.pixmap, FRect(0, 0, kCols, kRows), kCols, kRows, kCols / 2, kRows / 2,
                           FRect(0, 0, kCols / 2, kRows / 2), 0, f.lut, *color.pixmap, *l.pixmap, 0.5, 200,
                           -200);
    });
}

} // namespace

BENCHMARK(BM_PlainCopy48)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Convert48RGBToDisplay)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Convert48SRGBToDisplay)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Convert24RGBToDisplay)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Convert12MonoToDisplay)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Convert48RGBTo24BGR)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ResizeDisplayHalf)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_TurnDisplayFullSize)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ResizeWorkingImageHalf)->Unit(benchmark::kMillisecond)->UseManualTime();
