// Starts Rawbench itself, with its real script, on the display and saves
// every visible window as a PNG, and the main window once more with its File
// menu pulled down, so that a person can look at what a user sees.
//
//   rb_app_screenshot <out folder> [English|French|German|Japanese]
#include <png.h>

#include <SDL.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FIUiPixmap.h"
#include "FImageFileListEntry.h"
#include "FOsBackend.h"
#include "FPropList.h"
#include "FScopedTempFolder.h"
#include "FSdlUiWindow.h"
#include "FUiFont.h"
#include "FUiImageView.h"
#include "FUiMainWindow.h"
#include "FUiMultiLangString.h"
#include "FUiReviewWindow.h"
#include "FUiSaveImageCmd.h"
#include "RawbenchStart.h"
#include "ScreenshotSupport.h"
#include "StorageClassRegistry.h"

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

// Shows the review window and the palette on a raw file and waits until its processed
// image is on screen; false when that does not happen.
bool OpenReview(FGenericUiApp* app, const std::string& rawPath)
{
    auto* manager = dynamic_cast<FUiReviewWindow*>(app->GetUiRelay(FWideString("ReviewWin.WinMgr")));
    auto* view = dynamic_cast<FUiImageView*>(app->GetUiRelay(FWideString("ReviewWin.View")));
    FIUiRelay* review = app->GetUiRelay(FWideString("ReviewWin"));
    FIUiRelay* palette = app->GetUiRelay(FWideString("PaletteWin"));
    if (!manager || !view || !review || !palette)
        return false;
    review->UiRelayMessage(FWideString("Show"), nullptr);
    palette->UiRelayMessage(FWideString("Show"), nullptr);
    FWideString url;
    NativePathToURL(WideFromUtf8(rawPath), url);
    FImageFileListEntry entry;
    entry.SetURL(url);
    manager->UiRelayMessage(FWideString("ImageFileListEntry"), &entry);
    for (int i = 0; i < 3000; ++i) {
        if (manager->GetEntry() && manager->IsIdle() && view->GetImage())
            return true;
        SdlPumpEvents(10);
    }
    return false;
}

// A raw image as the list would describe it, for the dialogs to show.
void FillSample(FImageFileListEntry& e, int index)
{
    char name[64];
    std::snprintf(name, sizeof(name), "IMG_%04d.q7f", index);
    e.m_usFileName = FWideString(name);
    e.m_usURL = FWideString("camera://sim0/cf/images/");
    e.m_usURL += e.m_usFileName;
    e.m_bRaw = true;
    e.m_bCamera = true;
    e.m_nCols = 2268;
    e.m_nRows = 1512;
    e.m_nFileSize = 10485760;
    e.m_nThumbReqWidth = e.m_nThumbReqHeight = 160;
    e.m_usDate = FWideString("2026-12-11");
    e.m_usTime = FWideString("09:41:00");
    e.m_usProgramMode = FWideString("A");
    e.m_usExposureComp = FWideString("+0.3");
    e.m_usBracket = FWideString(" ");
    e.m_usIso = FWideString("200");
    e.m_usWhiteBalance = FWideString("Daylight");
    e.m_usOrigWhiteBalance = FWideString("Auto");
    e.m_usFlash = FWideString("OFF");
    e.m_usShutter = FWideString("1/125");
    e.m_usAperture = FWideString("5.6");
    e.m_usAEMode = FWideString("8");
    e.m_usAFMode = FWideString("AF-S");
    e.m_usFocalLength = FWideString("35mm");
    e.m_usResolution = FWideString("HI");
    e.m_usDriveMode = FWideString("SINGLE");
    e.m_usCameraName = FWideString("Q7");
    e.m_usCameraSerial = FWideString("000421");
    e.m_usFirmware = FWideString("1.02");
    e.m_usUniqueID = FWideString("5F3A-0001");
    e.m_Settings.Exposure = 0.5;
}

// The dialogs that start hidden, shown with sample content: the splash as the
// about box, the information window, the download dialog, the single save
// dialog, the batch save dialog, the folder chooser, the progress window and the notice and
// overwrite windows.
bool ShootDialogs(FGenericUiApp* app, const std::string& out)
{
    bool saved = true;
    auto shoot = [&](const char* window, const char* file) {
        auto* w = dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(FWideString(window)));
        if (!w)
            return false;
        w->UiRelayMessage(FWideString("Show"), nullptr);
        w->UiRelayMessage(FWideString("Enable Window Display & Redraw All."), nullptr);
        Pump();
        const bool ok = Save(w, out + "/" + file);
        w->UiRelayMessage(FWideString("Hide"), nullptr);
        return ok;
    };
    if (FIUiRelay* splash = app->GetUiRelay(FWideString("SplashWin.WinMgr")))
        splash->UiRelayMessage(FWideString("ShowSplash"), nullptr);
    saved = shoot("SplashWin", "SplashWin_about.png") && saved;

    FImageFileListEntry samples[3];
    for (int i = 0; i < 3; ++i) {
        FillSample(samples[i], i + 1);
        samples[i].m_pNext = i < 2 ? &samples[i + 1] : nullptr;
        samples[i].m_pPrev = i > 0 ? &samples[i - 1] : nullptr;
    }
    samples[1].m_bMarked = true;
    // The information window shows its state icons for the first.
    samples[0].m_bLocked = true;
    samples[0].m_bTransferred = true;
    if (FIUiRelay* info = app->GetUiRelay(FWideString("InformationWin.WinMgr")))
        info->UiRelayMessage(FWideString("ShowImageInfo"), &samples[0]);
    saved = shoot("InformationWin", "InformationWin.png") && saved;
    if (FIUiRelay* info = app->GetUiRelay(FWideString("InformationWin.WinMgr"))) {
        info->UiRelayMessage(FWideString("ObeyMultiImagesMsgs"), nullptr);
        info->UiRelayMessage(FWideString("MultipleImages"), nullptr);
    }
    saved = shoot("InformationWin", "InformationWin_several.png") && saved;
    if (FIUiRelay* download = app->GetUiRelay(FWideString("DownloadWin.WinMgr")))
        download->UiRelayMessage(FWideString("ImageFileList"), &samples[0]);
    saved = shoot("DownloadWin", "DownloadWin.png") && saved;
    saved = shoot("AutoLaunchWin", "AutoLaunchWin.png") && saved;
    if (FIUiRelay* batch = app->GetUiRelay(FWideString("SaveImagesWin.WinMgr")))
        batch->UiRelayMessage(FWideString("ImageFileList"), &samples[0]);
    saved = shoot("SaveImagesWin", "SaveImagesWin.png") && saved;
    for (FImageFileListEntry& sample : samples)
        sample.m_pNext = sample.m_pPrev = nullptr;

    FUiSaveImageCmd cmd;
    cmd.m_usSrcURL = FWideString("disk:///home/me/Pictures/IMG_0001.Q7F");
    cmd.m_nWidth = 2268;
    cmd.m_nHeight = 1512;
    cmd.m_nSettingMode = CustomSettingMode;
    if (FIUiRelay* single = app->GetUiRelay(FWideString("SaveImageWin.WinMgr"))) {
        single->UiRelayMessage(FWideString("SaveCmd"), &cmd);
        FWideString setting("Portrait, warm");
        single->UiRelayMessage(FWideString("CustomSettingName"), &setting);
    }
    if (FIUiRelay* folder = app->GetUiRelay(FWideString("SaveImageWin.DstDir"))) {
        FWideString text("/home/me/Pictures/converted");
        folder->UiRelayMessage(FWideString("SetText"), &text);
    }
    saved = shoot("SaveImageWin", "SaveImageWin.png") && saved;
    saved = shoot("SaveSettingWin", "SaveSettingWin.png") && saved;
    if (FIUiRelay* chooser = app->GetUiRelay(FWideString("DirectoryWin.WinMgr"))) {
        FWideString home("/tmp");
        chooser->UiRelayMessage(FWideString("InitDirNative"), &home);
    }
    saved = shoot("DirectoryWin", "DirectoryWin.png") && saved;
    for (const char* part : {"X", "Y"}) {
        if (FIUiRelay* label = app->GetUiRelay(WideFromUtf8(std::string("ProgressWin.") + part))) {
            FWideString text(part[0] == 'X' ? "2" : "5");
            label->UiRelayMessage(FWideString("SetText"), &text);
        }
    }
    if (FIUiRelay* thumb = app->GetUiRelay(FWideString("ProgressWin.Thumb")))
        thumb->UiRelayMessage(FWideString("NewThumbnail"), &samples[1]);
    if (FIUiRelay* name = app->GetUiRelay(FWideString("ProgressWin.FileName"))) {
        FWideString text("IMG_0002.jpg");
        name->UiRelayMessage(FWideString("SetText"), &text);
    }
    saved = shoot("ProgressWin", "ProgressWin.png") && saved;
    // The browser's notice of changes not written, one of its longest.
    for (const char* line : {"Line1", "Line2"}) {
        if (FIUiRelay* text = app->GetUiRelay(WideFromUtf8(std::string("MessageWin.") + line))) {
            FWideString name(line[4] == '1' ? "MsgChangeTitle" : "MsgChangeText");
            text->UiRelayMessage(FWideString("SetDisplayString"), &name);
        }
    }
    saved = shoot("MessageWin", "MessageWin.png") && saved;
    // The download's failure, the longest of the progress window's notices.
    for (const char* line : {"Line1", "Line2"}) {
        if (FIUiRelay* text = app->GetUiRelay(WideFromUtf8(std::string("ProgressErrWin.") + line))) {
            FWideString name(line[4] == '1' ? "MsgDlErrTitle" : "MsgSourceKept");
            text->UiRelayMessage(FWideString("SetDisplayString"), &name);
        }
    }
    saved = shoot("ProgressErrWin", "ProgressErrWin.png") && saved;
    if (FIUiRelay* name = app->GetUiRelay(FWideString("MultiOverwriteWin.Name"))) {
        FWideString text("/home/me/Pictures/converted/IMG_0001.jpg");
        name->UiRelayMessage(FWideString("SetText"), &text);
    }
    saved = shoot("MultiOverwriteWin", "MultiOverwriteWin.png") && saved;
    // The longest delete question: several images, some of them locked.
    if (FIUiRelay* question = app->GetUiRelay(FWideString("ConfirmDeleteWin.Question"))) {
        int kind = 2;
        question->UiRelayMessage(FWideString("StringNum"), &kind);
    }
    saved = shoot("ConfirmDeleteWin", "ConfirmDeleteWin.png") && saved;
    saved = shoot("LanguageWin", "LanguageWin.png") && saved;
    // Delete all, part way through a full card.
    if (FIUiRelay* status = app->GetUiRelay(FWideString("DeleteAllWin.Status"))) {
        FWideString name("DaDeleting");
        status->UiRelayMessage(FWideString("SetDisplayString"), &name);
    }
    if (FIUiRelay* count = app->GetUiRelay(FWideString("DeleteAllWin.Count"))) {
        FWideString text("1234 / 3000");
        count->UiRelayMessage(FWideString("SetText"), &text);
    }
    saved = shoot("DeleteAllWin", "DeleteAllWin.png") && saved;
    // The review window's notice, with its longest text.
    if (FIUiRelay* line = app->GetUiRelay(FWideString("ReviewErrWin.Line2"))) {
        FWideString name("RvErrFile");
        line->UiRelayMessage(FWideString("SetDisplayString"), &name);
    }
    saved = shoot("ReviewErrWin", "ReviewErrWin.png") && saved;
    // Deleting a saved setting: the list to choose from, then the question.
    if (FIUiRelay* list = app->GetUiRelay(FWideString("DeleteSettingWin.Names"))) {
        std::vector<FWideString> names = {FWideString("Portrait, warm"), FWideString("Night street"),
                                          FWideString("Custom0"), FWideString("Custom1")};
        list->UiRelayMessage(FWideString("NewListWithIDs"), &names);
    }
    saved = shoot("DeleteSettingWin", "DeleteSettingWin.png") && saved;
    if (FIUiRelay* name = app->GetUiRelay(FWideString("ConfirmSettingWin.Name"))) {
        FWideString text("Portrait, warm");
        name->UiRelayMessage(FWideString("SetText"), &text);
    }
    saved = shoot("ConfirmSettingWin", "ConfirmSettingWin.png") && saved;
    // The white-balance chooser with the image's own choice marked.
    if (FIUiRelay* chooser = app->GetUiRelay(FWideString("WhiteBalanceWin.WinMgr"))) {
        std::vector<FWideString> illuminants = {FWideString("Daylight"), FWideString("Cloudy"),
                                                FWideString("Tungsten"), FWideString("Fluorescent")};
        chooser->UiRelayMessage(FWideString("Illuminants"), &illuminants);
        FWideString current("Tungsten");
        chooser->UiRelayMessage(FWideString("WBName"), &current);
        FWideString file("IMG_0001.q7f");
        chooser->UiRelayMessage(FWideString("Filename"), &file);
    }
    saved = shoot("WhiteBalanceWin", "WhiteBalanceWin.png") && saved;
    return saved;
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
        // The folder's thumbnails arrive over the ticks; then the first raw is selected, so
        // that the status bar and the information window speak of it.
        if (std::getenv("RB_SCREENSHOT_FOLDER")) {
            for (int i = 0; i < 300; ++i)
                SdlPumpEvents(10);
            auto* browser = dynamic_cast<FUiMainWindow*>(app->GetUiRelay(FWideString("MainWin.WinMgr")));
            if (FImageFileListEntry* first = browser ? browser->GetList().FirstVisible() : nullptr) {
                FWideString url = first->m_usURL;
                browser->UiRelayMessage(FWideString("SelectImage"), &url);
                browser->UiRelayMessage(FWideString("ShowInfoWindow"), nullptr);
            }
            Pump();
        }
        // RB_SCREENSHOT_REVIEW names a raw file to show in the review window first.
        if (const char* raw = std::getenv("RB_SCREENSHOT_REVIEW")) {
            saved = OpenReview(app, raw) && saved;
            Pump();
        }
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
        saved = ShootDialogs(app, out) && saved;
        if (main)
            main->UiRelayMessage(FWideString("InternalClose"), nullptr);
    };
    // The real executable's folder, so that the real script is found.
    // RB_SCREENSHOT_FOLDER names a folder (or an image) to open, as the command line does.
    const char* folder = std::getenv("RB_SCREENSHOT_FOLDER");
    const int status = RunRawbench(WideFromUtf8(std::string(RB_APP_DIR) + "/Rawbench"),
                                   folder ? WideFromUtf8(folder) : FWideString(), &extras);
    return status != 0 ? status : (saved ? 0 : 1);
}
