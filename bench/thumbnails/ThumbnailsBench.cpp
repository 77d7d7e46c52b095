// The thumbnail view at 1920 x 1080 with 10,000 cells in the Medium and Large modes: scrolling by one
// screen and painting the view, beside copying the same visible thumbnails straight into a pixmap
// of the same size in the same run. Each result carries its best time, the best copy time and
// "x_copy", their ratio.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <memory>
#include <string>
#include <vector>

#include "FDisplayBlit.h"
#include "FHeadlessDesktop.h"
#include "FIPMImage.h"
#include "FIUiPixmap.h"
#include "FImageFileListEntry.h"
#include "FPixmap.h"
#include "FTestDisplayImage.h"
#include "FUiObjectFactory.h"
#include "FUiScriptFixture.h"
#include "FUiTestApp.h"
#include "FUiThumbnails.h"
#include "FUiWidgets.h"

namespace
{

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kCells = 10000;

// A thumbnail of its own colours, so cells differ.
FTestDisplayImage* MakeBenchThumbnail(int cols, int rows, int seed)
{
    auto* image = new FTestDisplayImage(cols, rows);
    uint8_t* pixels = image->Pixels();
    for (size_t i = 0; i < image->ByteCount(); i += 4) {
        pixels[i] = uint8_t(i / 4 * 7 + seed);
        pixels[i + 1] = uint8_t(i / 4 / cols * 3 + seed);
        pixels[i + 2] = uint8_t(seed * 11);
        pixels[i + 3] = 255;
    }
    return image;
}

struct Skin {
    const char* key;
    const char* file;
    int w, h;
};

// The application's thumbnail geometry.
const Skin kSkins[] = {
    {"File_SmallFrame", "sf.png", 104, 104},      {"File_SmallHighlight", "sh.png", 108, 108},
    {"File_MediumFrame", "mf.png", 176, 176},     {"File_MediumHighlight", "mh.png", 180, 180},
    {"File_LargeFrame", "lf.png", 280, 280},      {"File_LargeHighlight", "lh.png", 284, 284},
    {"File_DetailedFrame", "df.png", 320, 136},   {"File_DetailedHighlight", "dh.png", 324, 140},
    {"File_SmallInvalid", "inv.png", 64, 64},     {"File_MediumInvalid", "inv.png", 64, 64},
    {"File_LargeInvalid", "inv.png", 64, 64},     {"File_DetailedInvalid", "inv.png", 64, 64},
    {"File_MarkIcon", "mark.png", 14, 14},        {"File_LockIcon", "lock.png", 14, 14},
    {"File_TransferIcon", "xfer.png", 14, 14},    {"File_Q7FFrameIcon", "bq.png", 28, 12},
    {"File_JPGFrameIcon", "bj.png", 28, 12},      {"File_TIFFrameIcon", "bt.png", 28, 12},
    {"File_MediumInnerFrame", "inner.png", 3, 3}, {"File_LargeInnerFrame", "inner.png", 3, 3},
};

struct ViewFixture {
    explicit ViewFixture(const char* mode)
    {
        std::string keys;
        for (const Skin& skin : kSkins)
            keys += std::string(" ") + skin.key + "=\"" + skin.file + "\"";
        const std::string script =
            R"(<UI_SCRIPT Name="BenchApp"><LANGUAGES><LANGUAGE Name="English" Default="true"/></LANGUAGES>
  <FONTS><APPFONT Name="Small" Height="11"><MSWFONT><English Fontname="DejaVu Sans"/></MSWFONT></APPFONT></FONTS>
  <WINDOW Name="W" BgColor="#1E1E1E" DX="1920" DY="1080">
  <THUMBNAIL_LIST Name="T" AppFont="Small" MinHSize="1920" MinVSize="1080" HStretch="0" VStretch="0")" +
            keys + R"( SmallThumbnailImageSize="88" SmallThumbnailImageCenter="52,52" SmallMargin="6"
    SmallHighlightOffset="-2,-2" MediumThumbnailImageSize="144" MediumThumbnailImageCenter="88,84" MediumMargin="8"
    MediumHighlightOffset="-2,-2" LargeThumbnailImageSize="240" LargeThumbnailImageCenter="140,134" LargeMargin="10"
    LargeHighlightOffset="-2,-2" DetailedThumbnailImageSize="112" DetailedThumbnailImageCenter="62,68"
    DetailedMargin="6" DetailedHighlightOffset="-2,-2" FrameColor="#141414" FrameThickness="1" FillColor="#1E1E1E">
    <SCROLLBAR _Horizontal="false" Stretch="100" BgColor="#101010" BgClickColor="#202020"
      File_ButtonANormal="sb.png" File_ButtonAPressed="sb.png" File_ButtonBNormal="sb.png"
      File_ButtonBPressed="sb.png" File_Slider="sb.png" File_SliderKnurls="sb.png" SliderResizeRect="2,2,11,11"/>
  </THUMBNAIL_LIST></WINDOW></UI_SCRIPT>)";
        run = std::make_unique<FUiTestApp>(script, false);
        FIUiObjectFactory* factory = run->GetApp()->GetUiObjectFactory();
        RegisterUiWidgets(factory);
        RegisterThumbnailsCreators(factory);
        const FUiColor grey(0x26, 0x26, 0x26, 255);
        for (const Skin& skin : kSkins)
            WriteTestPng(run->GetScriptFolder().Join(skin.file), skin.w, skin.h, grey, grey);
        WriteTestPng(run->GetScriptFolder().Join("sb.png"), 14, 14, grey, grey);
        if (run->Init())
            HeadlessPumpUntilIdle();
        view = dynamic_cast<FUiThumbnails*>(run->GetApp()->GetUiRelay(FWideString("W.T")));
        target = CreateUiPixmap(kWidth, kHeight, true);
        copyTarget = CreateUiPixmap(kWidth, kHeight, true);
        if (!view)
            return;
        FWideString size(mode);
        view->UiRelayMessage(FWideString("ThumbnailSize"), &size);
        const int edge = view->GetThumbSize();
        for (int i = 0; i < 64; ++i)
            thumbnails.push_back(MakeBenchThumbnail(edge, edge * 2 / 3, i));
        for (int i = 0; i < kCells; ++i) {
            FImageFileListEntry entry;
            entry.SetURL(FWideString(("file:///bench/IMG_" + std::to_string(10000 + i) + ".q7f").c_str()));
            entry.m_pThumbnail = thumbnails[i % 64];
            entry.m_pThumbnail->AddRef();
            entry.m_bMarked = i % 3 == 0;
            entry.m_bLocked = i % 5 == 0;
            entry.m_bSelected = i % 7 == 0;
            view->UiRelayMessage(FWideString("NewThumbnail"), &entry);
        }
    }
    ~ViewFixture()
    {
        run.reset();
        for (FTestDisplayImage* t : thumbnails)
            t->Release();
        ReleaseUiPixmap(target);
        ReleaseUiPixmap(copyTarget);
    }
    // One screen further down, back to the top at the end.
    void Scroll()
    {
        const int rows = (kCells + view->GetColumns() - 1) / view->GetColumns();
        row += view->GetVisibleRows();
        if (row + view->GetVisibleRows() > rows)
            row = 0;
        view->UiRelayMessage(FWideString("Scroll"), &row);
    }
    void Paint() { view->Display(target, 0, 0, FRect(0, 0, kWidth, kHeight)); }
    // The thumbnails of the cells now in view, copied where the view places them.
    void CopyVisible()
    {
        const FRect screen(0, 0, kWidth, kHeight);
        for (ThumbnailCell* cell = view->GetFirstCell(); cell; cell = cell->next) {
            if (!cell->rect.Intersects(screen))
                continue;
            FPixmap* source = cell->entry->m_pThumbnail->GetPixmap();
            FRect from(0, 0, source->GetCols(), source->GetRows());
            FRect to(cell->rect.left + 8, cell->rect.top + 8, cell->rect.left + 8 + from.right,
                     cell->rect.top + 8 + from.bottom);
            CopyDisplayPixmapRect(copyTarget->GetDisplayPixmap(), &to, source, &from);
        }
    }

    std::unique_ptr<FUiTestApp> run;
    FUiThumbnails* view = nullptr;
    FIUiPixmap* target = nullptr;
    FIUiPixmap* copyTarget = nullptr;
    std::vector<FTestDisplayImage*> thumbnails;
    int row = 0;
};

void ScrollOneScreen(benchmark::State& state, const char* mode)
{
    ViewFixture fixture(mode);
    if (!fixture.view) {
        state.SkipWithError("the view was not made");
        return;
    }
    bench::RunBesideCopy(
        state, [&] { fixture.CopyVisible(); },
        [&] {
            fixture.Scroll();
            fixture.Paint();
        });
    state.counters["cells_drawn"] = double(fixture.view->GetColumns() * (fixture.view->GetVisibleRows() + 1));
}

} // namespace

BENCHMARK_CAPTURE(ScrollOneScreen, Medium, "Medium")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ScrollOneScreen, Large, "Large")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ScrollOneScreen, Detailed, "Detailed")->UseManualTime()->Unit(benchmark::kMillisecond);
