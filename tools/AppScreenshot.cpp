// Starts Rawbench itself, with its real script, on the display and saves
// every visible window as a PNG, and the main window once more with its File
// menu pulled down, so that a person can look at what a user sees.
//
//   rb_app_screenshot <out folder> [English|French|German|Japanese]
#include <png.h>

#include <SDL.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FIUiPixmap.h"
#include "FOsBackend.h"
#include "FPropList.h"
#include "FScopedTempFolder.h"
#include "FSdlUiWindow.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "RawbenchStart.h"
#include "ScreenshotSupport.h"

namespace
{

void Pump()
{
    for (int i = 0; i < 15; ++i)
        SdlPumpEvents(10);
}

bool Save(FGenericUiWindow* window, const std::string& path)
{
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    if (!ReadSdlWindowPixels(window->GetOsWindow(), width, height, pixels) ||
        !WriteScreenshotPng(path, width, height, pixels)) {
        std::fprintf(stderr, "rb_app_screenshot: could not save %s\n", path.c_str());
        return false;
    }
    std::printf("%s: %d x %d\n", path.c_str(), width, height);
    return true;
}

// Two pictures of the same size and pixels.
bool SamePixels(FIUiPixmap* a, FIUiPixmap* b)
{
    if (!a || !b || a->GetWidth() != b->GetWidth() || a->GetHeight() != b->GetHeight())
        return false;
    for (int y = 0; y < a->GetHeight(); ++y)
        for (int x = 0; x < a->GetWidth(); ++x) {
            FUiColor p, q;
            a->GetPixel(x, y, p);
            b->GetPixel(x, y, q);
            if (p.red != q.red || p.green != q.green || p.blue != q.blue || p.alpha != q.alpha)
                return false;
        }
    return true;
}

// Every character of the File menu's title draws as a glyph of its own, not as
// the box a font shows for a character it lacks (a private-use character's).
bool TitleHasRealGlyphs(FGenericUiApp* app)
{
    FIUiMultiLangString* title = app->GetDisplayString(FWideString("MnuFile"));
    FIUiFont* font = app->GetAppFont(FWideString("Body"));
    const FWideString* text = title ? title->GetText() : nullptr;
    if (!text || !font)
        return false;
    FIUiPixmap* missing = font->RenderText(nullptr, FWideString(u"\uE000"), false);
    bool real = true;
    for (int i = 0; i < text->GetLength() && real; ++i) {
        const char16_t one[2] = {text->GetBuffer()[i], 0};
        FIUiPixmap* glyph = font->RenderText(nullptr, FWideString(one), false);
        real = glyph && !SamePixels(glyph, missing);
        if (!real)
            std::fprintf(stderr, "rb_app_screenshot: '%s' draws as a box\n",
                         Utf8FromWide(FWideString(one)).c_str());
        ReleaseUiPixmap(glyph);
    }
    ReleaseUiPixmap(missing);
    return real;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: rb_app_screenshot <out folder> [English|French|German|Japanese]\n");
        return 2;
    }
    const std::string out = argv[1];
    // A private settings folder: the user's own state stays untouched, and the
    // language is the one asked for.
    FScopedTempFolder config;
    FScopedEnv env("XDG_CONFIG_HOME", config.GetPath());
    if (argc == 3) {
        mkdir(config.Join("Rawbench").c_str(), 0700);
        config.WriteFile("Rawbench/Rawbench.state.xml",
                         std::string("<STATE><PERDATA Name=\"BrisalLanguageSelector\" CurrentLanguage=\"") +
                             argv[2] + "\"/></STATE>");
    }
    SetOsBackend(EOsBackend::kDisplay);
    bool saved = true;
    FRawbenchExtras extras;
    extras.running = [&](FGenericUiApp* app) {
        Pump();
        FGenericUiWindow* main = nullptr;
        for (FPropList* tag = app->GetScriptRoot()->GetFirstChild(); tag; tag = tag->GetNext()) {
            if (!(tag->GetName() == "WINDOW"))
                continue;
            const FWideString name = tag->GetString("Name", FWideString());
            auto* window = dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(name));
            if (!main)
                main = window;
            if (window && window->IsVisible())
                saved = Save(window, out + "/" + Utf8FromWide(name) + ".png") && saved;
        }
        FSdlWindowProbe probe;
        if (main && GetSdlWindowProbe(main->GetOsWindow(), probe)) {
            PushFirstMenuTitleClick(probe);
            Pump();
            saved = Save(main, out + "/MainWin_menu.png") && saved;
        } else {
            saved = false;
        }
        saved = TitleHasRealGlyphs(app) && saved;
        if (main)
            main->UiRelayMessage(FWideString("InternalClose"), nullptr);
    };
    // The real executable's folder, so that the real script is found.
    const int status =
        RunRawbench(WideFromUtf8(std::string(RB_APP_DIR) + "/Rawbench"), FWideString(), &extras);
    return status != 0 ? status : (saved ? 0 : 1);
}
