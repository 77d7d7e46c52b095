// Opens the installer built by this tree on the display, walks its pages as a
// user would (installing into a temporary home, then starting again and
// removing it), in English and in Japanese, and saves each page and the folder
// chooser as a PNG so that a person can look at the real rendering. Fails when
// a page comes out blank or the window changes its size between pages.
//
//   rb_setup_screenshots <RawbenchSetup> <out-folder>

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "FBundleFolder.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FOsBackend.h"
#include "FScopedTempFolder.h"
#include "FSdlUiWindow.h"
#include "FUiInstallCopyControl.h"
#include "FUiScriptFixture.h"
#include "FUiWidgets.h"
#include "InstallerStart.h"
#include "StorageClassRegistry.h"

namespace
{

// Saves the window's pixels; the number of distinct colours, or -1 when not saved.
int SavePage(FGenericUiWindow* window, const std::string& path, int& width, int& height)
{
    for (int i = 0; i < 10; ++i)
        SdlPumpEvents(10);
    width = height = 0;
    std::vector<uint32_t> pixels;
    if (!ReadSdlWindowPixels(window->GetOsWindow(), width, height, pixels))
        return -1;
    std::vector<uint8_t> rgb;
    std::set<uint32_t> colours;
    for (uint32_t p : pixels) {
        rgb.push_back(static_cast<uint8_t>(p >> 16));
        rgb.push_back(static_cast<uint8_t>(p >> 8));
        rgb.push_back(static_cast<uint8_t>(p));
        colours.insert(p & 0xFFFFFF);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr))
        return -1;
    return static_cast<int>(colours.size());
}

struct Run {
    FGenericUiApp* app = nullptr;
    FGenericUiWindow* window = nullptr;

    explicit Run(const FWideString& installerUrl)
    {
        app = CreateGenericUiApp();
        RegisterUiWidgets(app->GetUiObjectFactory());
        installer::BrisalMain(app, FWideString("RawbenchSetup"), FWideString());
        bool another = false;
        if (app->InitFromScript(new FBundleFolder(installerUrl), FWideString("ui.xml"), another))
            window = dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(FWideString("SetupWin")));
    }
    ~Run() { DeleteGenericUiApp(app); }

    void Send(const char* message)
    {
        if (FIUiRelay* main = app->GetUiRelay(FWideString("SetupWin.Main")))
            main->UiRelayMessage(FWideString(message), nullptr);
    }
    FGenericUiWindow* Find(const char* name)
    {
        return dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(FWideString(name)));
    }
    void Tick(int ticks)
    {
        auto* copy = dynamic_cast<FUiInstallCopyControl*>(app->GetUiRelay(FWideString("SetupWin.Copy")));
        for (int i = 0; copy && i < ticks; ++i)
            copy->Tick(10);
    }
    void FinishCopy()
    {
        auto* copy = dynamic_cast<FUiInstallCopyControl*>(app->GetUiRelay(FWideString("SetupWin.Copy")));
        while (copy && copy->GetRemaining() > 0)
            copy->Tick(10);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: rb_setup_screenshots <RawbenchSetup> <out-folder>\n");
        return 2;
    }
    SetOsBackend(EOsBackend::kDisplay);
    std::string error;
    if (!OpenSdlDisplay(error)) {
        std::fprintf(stderr, "rb_setup_screenshots: cannot open the display (%s); run under xvfb-run\n",
                     error.c_str());
        return 1;
    }
    EnsureDiskStorageClass();
    FScopedTempFolder home;
    FScopedEnv envHome("HOME", home.GetPath());
    FScopedEnv envConfig("XDG_CONFIG_HOME", home.Join(".config"));
    FScopedEnv envData("XDG_DATA_HOME", home.Join(".local/share"));
    std::filesystem::create_directories(home.Join(".config"));
    std::filesystem::create_directories(home.Join(".local/share"));
    const std::string installer = home.Join("RawbenchSetup");
    std::filesystem::copy_file(argv[1], installer);
    FWideString url;
    NativePathToURL(WideFromUtf8(installer), url);
    const std::string out = argv[2];
    std::filesystem::create_directories(out);

    int status = 0;
    for (const char* language : {"English", "Japanese"}) {
        std::filesystem::remove_all(home.Join(".config"));
        std::filesystem::remove_all(home.Join(".local"));
        std::filesystem::remove_all(home.Join("Desktop"));
        std::filesystem::create_directories(home.Join(".config"));
        std::filesystem::create_directories(home.Join(".local/share"));
        const std::string prefix = out + "/" + language + "-";
        int width = -1, height = -1;
        auto shoot = [&](Run& run, FGenericUiWindow* window, const char* page, bool pageOfSetup) {
            const std::string path = prefix + page + ".png";
            int w = 0, h = 0;
            const int colours = window ? SavePage(window, path, w, h) : -1;
            std::printf("%s: %d colours, %dx%d\n", path.c_str(), colours, w, h);
            if (colours < 4) {
                std::fprintf(stderr, "rb_setup_screenshots: %s is blank or missing\n", page);
                status = 1;
            }
            if (!pageOfSetup)
                return;
            if (width < 0) {
                width = w;
                height = h;
            } else if (w != width || h != height) {
                std::fprintf(stderr, "rb_setup_screenshots: %s is %dx%d, the first page %dx%d\n", page, w, h,
                             width, height);
                status = 1;
            }
            (void)run;
        };
        {
            Run run(url);
            shoot(run, run.window, "1-language", true);
            run.Send(std::string(language) == "Japanese" ? "JapaneseInstall" : "EnglishInstall");
            run.Send("ShowWelcome");
            shoot(run, run.window, "2-welcome", true);
            run.Send("ShowChoose");
            shoot(run, run.window, "3-destination", true);
            run.Send("ShowDirSelect");
            shoot(run, run.Find("DirectoryWin"), "4-folder-chooser", false);
            if (FGenericUiWindow* chooser = run.Find("DirectoryWin"))
                chooser->UiRelayMessage(FWideString("Hide"), nullptr);
            run.Send("ShowProgress");
            run.Send("CopyFiles");
            run.Tick(2);
            shoot(run, run.window, "5-progress", true);
            run.FinishCopy();
            shoot(run, run.window, "6-installed", true);
        }
        {
            Run run(url);
            shoot(run, run.window, "7-uninstall", true);
            run.Send("Uninstall");
            shoot(run, run.window, "8-removed", true);
        }
        {
            // A copy that fails: the error page with the copy's own words.
            Run run(url);
            run.Send(std::string(language) == "Japanese" ? "JapaneseInstall" : "EnglishInstall");
            run.Send("ShowWelcome");
            FWideString failure(
                "Error copying from README.md to /home/user/Programs/Rawbench/README.md: the file "
                "could not be written (is the disk full?).");
            if (FIUiRelay* main = run.app->GetUiRelay(FWideString("SetupWin.Main")))
                main->UiRelayMessage(FWideString("InstallFailed"), &failure);
            shoot(run, run.window, "9-error", true);
        }
    }
    return status;
}
