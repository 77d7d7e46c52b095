// A scroll list and a folder tree of 10000 entries: build, scroll by a page and
// redraw, beside rendering and drawing the same number of text labels directly.
// Each result carries its best time, the best time of the labels in the same run
// and "x_copy", their ratio.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FMemStorageClass.h"
#include "FScopedTempFolder.h"
#include "FUiObjectFactory.h"
#include "FUiScrollList.h"
#include "FUiTestApp.h"
#include "FUiTree.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"
#include "StorageClassRegistry.h"

namespace
{

constexpr int kEntries = 10000;

const char kBar[] = R"(<SCROLLBAR _Horizontal="false" Stretch="100" BgColor="#C0C0C0" BgClickColor="#808080"
    File_ButtonANormal="button_normal.png" File_ButtonAPressed="button_pressed.png"
    File_ButtonBNormal="button_normal.png" File_ButtonBPressed="button_pressed.png"
    File_Slider="button_normal.png" File_SliderKnurls="button_pressed.png" SliderResizeRect="4,4,11,11"/>)";

std::string Script(const std::string& body)
{
    return R"(<UI_SCRIPT Name="TestApp"><LANGUAGES><LANGUAGE Name="English" Default="true"/></LANGUAGES>
  <WINDOW Name="W" BgColor="#FFFFFF" DX="300" DY="600"><VBOX>)" +
           body + "</VBOX></WINDOW></UI_SCRIPT>";
}

std::unique_ptr<FUiTestApp> MakeRun(const std::string& script)
{
    SelectOsTextLayer(FOsTextLayerKind::kBoxFont);
    auto run = std::make_unique<FUiTestApp>(script, false);
    FIUiObjectFactory* factory = run->GetApp()->GetUiObjectFactory();
    RegisterUiWidgets(factory);
    if (run->Init())
        HeadlessPumpUntilIdle();
    return run;
}

std::vector<FWideString> Names()
{
    std::vector<FWideString> names;
    for (int i = 0; i < kEntries; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "entry %05d", i);
        names.emplace_back(name);
    }
    return names;
}

// The reference: every label rendered and drawn straight into the target.
void DrawLabels(const std::vector<FWideString>& names, FIUiPixmap* target)
{
    FUiInlineFont font;
    font.face = "DejaVu Sans";
    font.size = 12;
    int y = 0;
    for (const FWideString& name : names) {
        FIUiPixmap* label = RenderInlineFontText(font, name, nullptr);
        if (label) {
            DrawWidgetPicture(label, target, FRect(2, y, 2 + label->GetWidth(), y + label->GetHeight()),
                              FRect(0, 0, 300, 600));
            ReleaseUiPixmap(label);
        }
        y = (y + 15) % 600;
    }
}

void BM_ScrollList(benchmark::State& state)
{
    auto run = MakeRun(Script(std::string(R"(<SCROLLLIST Name="L" MinHSize="80" MinVSize="50" HStretch="1"
      VStretch="1" Font="DejaVu Sans" FontSize="12" SelectedFontColor="#FF0000" DisabledFontColor="#808080">)") +
                              kBar + "</SCROLLLIST>"));
    auto* list = dynamic_cast<FUiScrollList*>(run->GetApp()->GetUiRelay(FWideString("W.L")));
    if (!list) {
        state.SkipWithError("no list");
        return;
    }
    const std::vector<FWideString> names = Names();
    FIUiPixmap* target = CreateUiPixmap(300, 600, true);
    int offset = 0;
    bench::RunBesideCopy(
        state, [&] { DrawLabels(names, target); },
        [&] {
            std::vector<FWideString> copy = names;
            list->UiRelayMessage(FWideString("NewList"), &copy);
            const int page = list->GetRect().Height() / list->GetLineHeight();
            offset = (offset + page) % (kEntries - page);
            list->UiRelayMessage(FWideString("Scroll"), &offset);
            list->Display(target, 0, 0, FRect(0, 0, 300, 600));
        });
    ReleaseUiPixmap(target);
}
BENCHMARK(BM_ScrollList)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// A tree rooted at rootURL, whose only folder "V" holds the 10000 entries.
void RunFolderTree(benchmark::State& state, const FWideString& rootURL)
{
    std::string icons;
    for (const char* key : {"File_DiskIcon", "File_RemovableDiskIcon", "File_CDRomIcon", "File_FolderIcon",
                            "File_OpenFolderIcon", "File_IsClosedIcon", "File_IsOpenIcon"})
        icons += std::string(key) + R"(="button_normal.png" )";
    std::string bar = kBar;
    bar.replace(0, 10, "<VSCROLLBAR");
    auto run = MakeRun(Script(R"(<DIRTREE Name="T" MinHSize="100" MinVSize="40" HStretch="1" VStretch="1"
      Font="DejaVu Sans" FontSize="12" SelectedFontColor="#FFFFFF" SelectedBgColor="#000080"
      DisabledFontColor="#808080" LowerLeftColor="#00FF00" _RootURL=")" +
                              std::string(rootURL.GetNarrow()) + "\" " + icons + ">" + bar + "</DIRTREE>"));
    auto* tree = dynamic_cast<FUiTree*>(run->GetApp()->GetUiRelay(FWideString("W.T")));
    if (!tree || !tree->GetRoot()->firstChild) {
        state.SkipWithError("no tree");
        return;
    }
    const std::vector<FWideString> names = Names();
    FIUiPixmap* target = CreateUiPixmap(300, 600, true);
    FWideString volume = tree->GetRoot()->firstChild->url;
    tree->UiRelayMessage(FWideString("SelectDir"), &volume);
    int offset = 0;
    bench::RunBesideCopy(
        state, [&] { DrawLabels(names, target); },
        [&] {
            // Collapsed and expanded again: the volume's 10000 folders are listed afresh.
            if (tree->GetRoot()->firstChild->expanded)
                tree->KeyEvent(13, false, false);
            tree->KeyEvent(13, false, false);
            const int page = tree->GetVisibleRows();
            offset = (offset + page) % (kEntries - page);
            tree->UiRelayMessage(FWideString("VScroll"), &offset);
            tree->Display(target, 0, 0, FRect(0, 0, 300, 600));
        });
    ReleaseUiPixmap(target);
}

void BM_FolderTree(benchmark::State& state)
{
    // Real folders: the tree's cost over the disk class, not a test class's.
    static FScopedTempFolder* folder = [] {
        auto* made = new FScopedTempFolder;
        mkdir(made->Join("V").c_str(), 0755);
        for (const FWideString& name : Names())
            mkdir(made->Join(std::string("V/") + name.GetNarrow()).c_str(), 0755);
        return made;
    }();
    EnsureDiskStorageClass();
    FWideString rootURL;
    NativePathToURL(WideFromUtf8(folder->GetPath()), rootURL);
    RunFolderTree(state, rootURL);
}
BENCHMARK(BM_FolderTree)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FolderTreeInMemory(benchmark::State& state)
{
    // The in-memory test class, as the widget tests use it.
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("benchmem"));
        for (const FWideString& name : Names()) {
            FWideString escaped;
            EscapeURLChars(name, escaped);
            FWideString path(u"V/");
            path += escaped;
            made->MakeFolder(path);
        }
        return made;
    }();
    (void)storage;
    RunFolderTree(state, FWideString("benchmem://"));
}
BENCHMARK(BM_FolderTreeInMemory)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
