// Starts Rawbench on a display with a folder of sample raw files written by the fixture
// writer and two pictures from other cameras, lets the main window show their thumbnails and saves it as a
// PNG, so that a person can look at the browser as a user sees it.
//
//   rb_browse_screenshot <out.png>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BrowserFixtures.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FImageFileListEntry.h"
#include "FOsBackend.h"
#include "FScopedTempFolder.h"
#include "FSdlUiWindow.h"
#include "FUiMainWindow.h"
#include "FUiThumbnails.h"
#include "LoaderTestFiles.h"
#include "RawbenchStart.h"
#include "ScreenshotSupport.h"
#include "StorageClassRegistry.h"

namespace
{

bool AllShown(FUiThumbnails* view)
{
    for (ThumbnailCell* cell = view->GetFirstCell(); cell; cell = cell->next)
        if (!cell->entry || !cell->entry->m_pThumbnail)
            return false;
    return view->GetCellCount() > 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: rb_browse_screenshot <out.png>\n");
        return 2;
    }
    const std::string out = argv[1];
    FScopedTempFolder config;
    FScopedEnv env("XDG_CONFIG_HOME", config.GetPath());
    FScopedTempFolder samples;
    for (int i = 0; i < 12; ++i) {
        browsertest::RawOptions options;
        options.cols = 640 + 16 * i;
        options.rows = i % 3 == 0 ? 800 : 480;
        options.previewCols = 96;
        options.previewRows = i % 3 == 0 ? 128 : 64;
        options.markBits = i % 4 == 1 ? 1u : 0u;
        const rawtest::Bytes bytes = browsertest::MakeRaw(options);
        char name[32];
        std::snprintf(name, sizeof name, "sample_%02d.q7f", i + 1);
        samples.WriteFile(name, std::string(bytes.begin(), bytes.end()));
    }
    // Pictures from other cameras beside them: a phone's portrait (stored on its side,
    // turned by its orientation tag) and a landscape.
    for (const auto& [name, orientation] : {std::pair{"phone.jpg", 6}, std::pair{"landscape.jpg", 1}}) {
        const rawtest::Bytes bytes = loadertest::MakeCornerJPEG(120, 80, orientation);
        samples.WriteFile(name, std::string(bytes.begin(), bytes.end()));
    }
    SetOsBackend(EOsBackend::kDisplay);
    bool saved = false;
    FRawbenchExtras extras;
    extras.running = [&](FGenericUiApp* app) {
        auto* main = dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(FWideString("MainWin")));
        auto* mgr =
            main ? dynamic_cast<FUiMainWindow*>(app->GetUiRelay(FWideString("MainWin.WinMgr"))) : nullptr;
        auto* view =
            main ? dynamic_cast<FUiThumbnails*>(app->GetUiRelay(FWideString("MainWin.Thumbs"))) : nullptr;
        FWideString url;
        if (!mgr || !view || !NativePathToURL(WideFromUtf8(samples.GetPath() + "/"), url)) {
            std::fprintf(stderr, "rb_browse_screenshot: no browser in the main window\n");
            if (main)
                main->UiRelayMessage(FWideString("Close"), nullptr);
            return;
        }
        mgr->UiRelayMessage(FWideString("DirSelected"), &url);
        for (int i = 0; i < 3000 && !AllShown(view); ++i)
            SdlPumpEvents(10);
        for (int i = 0; i < 20; ++i)
            SdlPumpEvents(10);
        int width = 0, height = 0;
        std::vector<uint32_t> pixels;
        saved = AllShown(view) && ReadSdlWindowPixels(main->GetOsWindow(), width, height, pixels) &&
                WriteScreenshotPng(out, width, height, pixels);
        std::printf("%s: %d x %d, %d cells\n", out.c_str(), width, height, view->GetCellCount());
        main->UiRelayMessage(FWideString("Close"), nullptr);
    };
    RunRawbench(WideFromUtf8(std::string(RB_APP_DIR) + "/Rawbench"), FWideString(), &extras);
    return saved ? 0 : 1;
}
