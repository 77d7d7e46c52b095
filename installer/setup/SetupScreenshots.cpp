// Opens the installer built by this tree on the display, walks its pages as a
// user would (installing into a temporary home, then starting again and
// removing it), and saves each page as a PNG so that a person can look at the
// real rendering. Fails when a page comes out blank.
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
int SavePage(FGenericUiWindow* window, const std::string& path)
{
    for (int i = 0; i < 10; ++i)
        SdlPumpEvents(10);
    int width = 0, height = 0;
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
    auto shoot = [&](Run& run, const char* page) {
        const std::string path = out + "/" + page + ".png";
        const int colours = run.window ? SavePage(run.window, path) : -1;
        std::printf("%s: %d colours\n", path.c_str(), colours);
        if (colours < 4) {
            std::fprintf(stderr, "rb_setup_screenshots: %s is blank or missing\n", page);
            status = 1;
        }
    };
    {
        Run run(url);
        shoot(run, "1-language");
        run.Send("FrenchInstall");
        run.Send("ShowWelcome");
        shoot(run, "2-welcome-french");
        run.Send("ShowChoose");
        shoot(run, "3-destination");
        run.Send("ShowProgress");
        run.Send("CopyFiles");
        shoot(run, "4-progress");
        run.FinishCopy();
        shoot(run, "5-installed");
    }
    {
        Run run(url);
        shoot(run, "6-uninstall");
        run.Send("Uninstall");
        shoot(run, "7-removed");
    }
    return status;
}
