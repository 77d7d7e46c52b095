// The review window's image view on a 1920 x 1080 processed image: a whole paint with
// the exposure warnings on (a typical and a harsh image) and off, and the loupe following the pointer across
// the image (move, answer with a magnified image, repaint), beside a plain blit of the same image in the same
// run. Each result carries its best time, the best blit time and "x_copy", their ratio.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FDisplayBlit.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIPMImage.h"
#include "FIUiPixmap.h"
#include "FPixmap.h"
#include "FReviewDisplayWidgets.h"
#include "FTestDisplayImage.h"
#include "FUiImageView.h"
#include "FUiObjectFactory.h"
#include "FUiScriptFixture.h"
#include "FUiTestApp.h"
#include "FUiWidgets.h"

namespace
{

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kLoupe = 192;

// A produced image: smooth tones, with the near-black and near-white ones in patches as in
// a photograph. `clipped` is the share of pixels near either end of the scale (half dark,
// half bright); the rest are mid-tones that no warning level of the defaults marks.
FTestDisplayImage* MakeBenchImage(int cols, int rows, double clipped = 0.05)
{
    auto* image = new FTestDisplayImage(cols, rows);
    const int dark = int(clipped * 50);
    for (int y = 0; y < rows; ++y) {
        uint8_t* p = image->Pixels() + size_t(y) * size_t(cols) * 4;
        for (int x = 0; x < cols; ++x, p += 4) {
            const int cell = (x / 40 * 7 + y / 30 * 13) % 100;
            const int shade = (x * 3 + y * 2) % 160;
            int v = 50 + shade;
            if (cell < dark)
                v = shade % 12;
            else if (cell >= 100 - dark)
                v = 250 + shade % 6;
            p[0] = uint8_t(std::clamp(v - 10, 0, 255));
            p[1] = uint8_t(v);
            p[2] = uint8_t(std::clamp(v + 5, 0, 255));
            p[3] = 255;
        }
    }
    return image;
}

struct ViewFixture {
    explicit ViewFixture(double clipped = 0.05)
    {
        const std::string script =
            R"(<UI_SCRIPT Name="BenchApp"><LANGUAGES><LANGUAGE Name="English" Default="true"/></LANGUAGES>
  <WINDOW Name="W" BgColor="#1E1E1E" DX="1924" DY="1084">
  <IMAGE_VIEW Name="V" File_EyeDropperIcon="eye.png" MinHSize="1924" MinVSize="1084" HStretch="0" VStretch="0"
    FrameColor="#141414" FrameThickness="2" FillColor="#404040" Font="DejaVu Sans" FontSize="12"
    _FontBgColor="#000000B0" LoupeSize="192"/></WINDOW></UI_SCRIPT>)";
        run = std::make_unique<FUiTestApp>(script, false);
        FIUiObjectFactory* factory = run->GetApp()->GetUiObjectFactory();
        RegisterUiWidgets(factory);
        RegisterReviewDisplayCreators(factory);
        WriteTestPng(run->GetScriptFolder().Join("eye.png"), 16, 16, FUiColor(250, 250, 0, 255),
                     FUiColor(250, 250, 0, 255));
        if (run->Init())
            HeadlessPumpUntilIdle();
        view = dynamic_cast<FUiImageView*>(run->GetApp()->GetUiRelay(FWideString("W.V")));
        target = CreateUiPixmap(1924, 1084, true);
        blitTarget = CreateUiPixmap(kWidth, kHeight, true);
        image = MakeBenchImage(kWidth, kHeight, clipped);
        loupeImage = MakeBenchImage(kLoupe, kLoupe);
        if (view)
            view->UiRelayMessage(FWideString("NewImage"), image);
    }
    ~ViewFixture()
    {
        run.reset();
        image->Release();
        loupeImage->Release();
        ReleaseUiPixmap(target);
        ReleaseUiPixmap(blitTarget);
    }
    void Blit()
    {
        const FRect whole(0, 0, kWidth, kHeight);
        CopyDisplayPixmapRect(blitTarget->GetDisplayPixmap(), &whole, image->GetPixmap(), &whole);
    }
    void SetWarnings(bool on)
    {
        int shadow = 10, highlight = 250;
        view->UiRelayMessage(FWideString("SetShadowWarning"), &shadow);
        view->UiRelayMessage(FWideString("SetHighlightWarning"), &highlight);
        view->UiRelayMessage(FWideString("EnableWarnings"), &on);
    }

    std::unique_ptr<FUiTestApp> run;
    FUiImageView* view = nullptr;
    FIUiPixmap* target = nullptr;
    FIUiPixmap* blitTarget = nullptr;
    FTestDisplayImage* image = nullptr;
    FTestDisplayImage* loupeImage = nullptr;
};

void PaintView(benchmark::State& state, bool warnings, double clipped = 0.05)
{
    ViewFixture f(clipped);
    if (!f.view) {
        state.SkipWithError("the view was not made");
        return;
    }
    f.SetWarnings(warnings);
    const FRect whole(0, 0, 1924, 1084);
    bench::RunBesideCopy(
        state, [&f] { f.Blit(); }, [&f, &whole] { f.view->Display(f.target, 0, 0, whole); });
}

void BM_ViewWithWarnings(benchmark::State& state)
{
    PaintView(state, true);
}

// A harsh image: a third of it near black or white.
void BM_ViewWithWarningsHarsh(benchmark::State& state)
{
    PaintView(state, true, 0.33);
}

void BM_ViewPlain(benchmark::State& state)
{
    PaintView(state, false);
}

// One move of the loupe: the pointer moves, the manager answers with the magnified image,
// and the window repaints the old and the new loupe rectangles.
void BM_LoupeMove(benchmark::State& state)
{
    ViewFixture f;
    if (!f.view) {
        state.SkipWithError("the view was not made");
        return;
    }
    f.SetWarnings(true);
    bool on = true;
    f.view->UiRelayMessage(FWideString("SetEnabled"), &on);
    const FRect image = f.view->GetImageRect();
    int step = 0;
    double best = 1e9;
    double bestBlit = 1e9;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        f.Blit();
        benchmark::ClobberMemory();
        bestBlit = std::min(bestBlit, bench::SecondsSince(start));

        // Across the image on a diagonal, 37 pixels a move.
        const int x = image.left + (step * 37) % image.Width();
        const int y = image.top + (step * 23) % image.Height();
        ++step;
        start = std::chrono::steady_clock::now();
        const FRect before = f.view->GetLoupeRect();
        f.view->MouseMove(x, y);
        const FRect after = f.view->GetLoupeRect();
        FLoupeImageMessage answer{f.loupeImage, after.left, after.top};
        f.view->UiRelayMessage(FWideString("NewLoupeImage"), &answer);
        f.view->Display(f.target, 0, 0, before);
        f.view->Display(f.target, 0, 0, after);
        benchmark::ClobberMemory();
        const double seconds = bench::SecondsSince(start);
        best = std::min(best, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["best_ms"] = best * 1e3;
    state.counters["copy_ms"] = bestBlit * 1e3;
    state.counters["x_copy"] = best / bestBlit;
}

} // namespace

BENCHMARK(BM_ViewWithWarnings)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ViewWithWarningsHarsh)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ViewPlain)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_LoupeMove)->Unit(benchmark::kMillisecond)->UseManualTime();
