// Compositing, scaling and text on a 1920 x 1080 UI pixmap, beside a plain copy of the
// same pixels: each result carries its best time, the best copy time of the same run and
// "x_copy", their ratio.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "FDisplayBlit.h"
#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FPixmap.h"

namespace
{

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Frames {
    Frames()
        : screen(CreateUiPixmap(kWidth, kHeight, true)), overlay(CreateUiPixmap(kWidth, kHeight, false)),
          half(CreateUiPixmap(kWidth / 2, kHeight / 2, false)), pristine(size_t(kWidth) * kHeight * 4),
          copy(pristine.size())
    {
        std::mt19937 rng(11);
        uint8_t* s = screen->GetDisplayPixmap()->GetBuffer();
        uint8_t* o = overlay->GetDisplayPixmap()->GetBuffer();
        for (size_t i = 0; i < pristine.size(); i += 4) {
            const size_t pixel = i / 4;
            const uint8_t shade = uint8_t((pixel % kWidth + pixel / kWidth) / 12);
            s[i] = shade;
            s[i + 1] = uint8_t(shade + 40);
            s[i + 2] = uint8_t(255 - shade);
            s[i + 3] = 255;
            // An overlay like a skin layer: mostly transparent or opaque, edges in between.
            const uint32_t r = rng() % 8;
            o[i] = uint8_t(rng());
            o[i + 1] = uint8_t(rng());
            o[i + 2] = uint8_t(rng());
            o[i + 3] = r < 3 ? 0 : r < 6 ? 255 : uint8_t(rng());
        }
        std::memcpy(pristine.data(), s, pristine.size());
        half->FillRGBA(90, 120, 150, 255);
    }
    ~Frames()
    {
        ReleaseUiPixmap(screen);
        ReleaseUiPixmap(overlay);
        ReleaseUiPixmap(half);
    }
    void Restore() { std::memcpy(screen->GetDisplayPixmap()->GetBuffer(), pristine.data(), pristine.size()); }
    void Copy() { std::memcpy(copy.data(), screen->GetDisplayPixmap()->GetBuffer(), copy.size()); }

    FIUiPixmap* screen;
    FIUiPixmap* overlay;
    FIUiPixmap* half;
    std::vector<uint8_t> pristine;
    std::vector<uint8_t> copy;
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
        state, [&] { f.Restore(); }, [&] { f.Copy(); }, [&] { body(f); });
}

const FRect kFull(0, 0, kWidth, kHeight);
const FRect kHalf(0, 0, kWidth / 2, kHeight / 2);

void BM_PlainCopy(benchmark::State& state)
{
    Run(state, [](Frames& f) { f.Copy(); });
}

void BM_BlendBlitOverlay(benchmark::State& state)
{
    Run(state, [](Frames& f) { f.overlay->BlendBlit(f.screen, kFull, kFull); });
}

void BM_BlendRectTranslucent(benchmark::State& state)
{
    Run(state, [](Frames& f) { f.screen->BlendRect(kFull, FUiColor(30, 60, 200, 100)); });
}

void BM_BlitEqualSize(benchmark::State& state)
{
    Run(state, [](Frames& f) { f.overlay->Blit(f.screen, kFull, kFull); });
}

void BM_BlitEnlargeLinear(benchmark::State& state)
{
    Run(state, [](Frames& f) { f.half->Blit(f.screen, kFull, kHalf); });
}

void BM_BlitReduceNearest(benchmark::State& state)
{
    Run(state, [](Frames& f) { f.overlay->Blit(f.half, kHalf, kFull); });
}

void BM_DisplayEnlargeCubic(benchmark::State& state)
{
    Run(state, [](Frames& f) {
        CopyDisplayPixmapRect(f.screen->GetDisplayPixmap(), &kFull, f.half->GetDisplayPixmap(), &kHalf);
    });
}

void BM_DisplayReduceBilinear(benchmark::State& state)
{
    Run(state, [](Frames& f) {
        CopyDisplayPixmapRect(f.half->GetDisplayPixmap(), &kHalf, f.screen->GetDisplayPixmap(), &kFull);
    });
}

void BM_NineSliceSkin(benchmark::State& state)
{
    static FIUiPixmap* skin = [] {
        FIUiPixmap* p = CreateUiPixmap(24, 24, false);
        p->FillRGBA(70, 120, 210, 255);
        return p;
    }();
    Run(state, [](Frames& f) { skin->DrawNineSlice(f.screen, 4, 4, 19, 19, true); });
}

// 1000 short labels as a window of lists and buttons draws them: rendered through the
// installed fonts, then composited onto the screen.
void BM_Render1000Labels(benchmark::State& state)
{
    SelectOsTextLayer(FOsTextLayerKind::kSystemFonts);
    static const std::vector<std::u16string> labels = [] {
        std::vector<std::u16string> v;
        const char16_t* words[] = {u"Open",    u"Save as", u"IMG_0042.q7f", u"Exposure", u"Contrast",
                                   u"1/250 s", u"f/5.6",   u"ISO 200",      u"Batch",    u"Cancel"};
        for (int i = 0; i < 1000; ++i)
            v.push_back(std::u16string(words[i % 10]) + u" " + char16_t(u'0' + i % 10));
        return v;
    }();
    Run(state, [](Frames& f) {
        for (size_t i = 0; i < labels.size(); ++i) {
            FIUiPixmap* text = CreateTextUiPixmap(labels[i].c_str(), u"DejaVu Sans", 16, false, false, false,
                                                  FUiColor(20, 20, 30, 255), nullptr, false);
            if (text == nullptr)
                continue;
            const int x = int(i % 10) * 190;
            const int y = int(i / 10) * 10;
            text->BlendBlit(f.screen, FRect(x, y, x + text->GetWidth(), y + text->GetHeight()),
                            FRect(0, 0, text->GetWidth(), text->GetHeight()));
            ReleaseUiPixmap(text);
        }
    });
}

} // namespace

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_BlendBlitOverlay)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_BlendRectTranslucent)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_BlitEqualSize)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_BlitEnlargeLinear)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_BlitReduceNearest)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DisplayEnlargeCubic)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DisplayReduceBilinear)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_NineSliceSkin)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Render1000Labels)->Unit(benchmark::kMillisecond)->UseManualTime();
