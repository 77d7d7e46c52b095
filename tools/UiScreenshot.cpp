// Opens the test script's main window on the display, with its File menu
// pulled down, and saves what the window shows as a PNG so that a person can
// look at the real rendering. Fails when the picture is blank.
//
//   rb_ui_screenshot <out.png>
#include <png.h>

#include <SDL.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FOsBackend.h"
#include "FOsMenuBar.h"
#include "FProbeObject.h"
#include "FScopedTempFolder.h"
#include "FSdlUiWindow.h"
#include "FTestBlock.h"
#include "FUiScriptFixture.h"
#include "FUiWidgets.h"
#include "ScreenshotSupport.h"

namespace
{

// A swatch that draws without the widget library, then the menu bar.
const char* const kMenu = R"(<BLOCK Name="Swatch" X="180" Y="100" W="120" H="80" Color="#3080C0"/>
    <MENU>
      <MENUITEM Name="File" DisplayString="MenuFile">
        <MENUITEM Name="Open" Label="Open..." Key="C-O" _UseCheck="true"/>
        <MENUITEM Name="Save" Label="Save a copy as" Key="CS-S"/>
        <MENUSEPARATOR/>
        <MENUITEM Name="Erase" Label="Move to trash" Key="Del"/>
        <MENUITEM Name="Quit" Label="Quit" HiddenKey="C-Q"/>
      </MENUITEM>
      <MENUITEM Name="View" Label="View"><MENUITEM Name="Full" Label="Full screen" Key="F9"/></MENUITEM>
    </MENU>
    )";

bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
                row[static_cast<size_t>(x) * 3] = static_cast<uint8_t>(p >> 16);
                row[static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(p >> 8);
                row[static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(p);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

// The number of distinct colours of the PNG as read back from the file; -1 when it does not decode.
int CountColours(const std::string& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return -1;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr))
        return -1;
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3)
        colours.insert(uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2]);
    return static_cast<int>(colours.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: rb_ui_screenshot <out.png> [<closed-menu.png>]\n");
        return 2;
    }
    SetOsBackend(EOsBackend::kDisplay);
    std::string error;
    if (!OpenSdlDisplay(error)) {
        std::fprintf(stderr,
                     "rb_ui_screenshot: cannot open the display (%s); set DISPLAY or run under xvfb-run\n",
                     error.c_str());
        return 1;
    }
    FScopedTempFolder config;
    FScopedEnv env("XDG_CONFIG_HOME", config.GetPath());
    FUiScriptFolder folder;
    std::string script = UiBaseScript();
    // After the body, which the window lays out as its content.
    const size_t body = script.find("</VBOX>");
    if (body != std::string::npos)
        script.insert(body + 7, kMenu);
    folder.WriteFile("ui.xml", script);
    folder.WriteSkins();

    FGenericUiApp* app = CreateGenericUiApp();
    RegisterProbe(app->GetUiObjectFactory());
    RegisterTestBlock(app->GetUiObjectFactory());
    RegisterUiWidgets(app->GetUiObjectFactory());
    app->SetExecutableFolderURL(folder.GetUrl());
    bool another = false;
    int status = 0;
    auto* window = app->InitFromScript(folder.OpenFolder(), FWideString("ui.xml"), another)
                       ? dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(FWideString("MainWin")))
                       : nullptr;
    FSdlWindowProbe probe;
    if (!window || !GetSdlWindowProbe(window->GetOsWindow(), probe)) {
        std::fprintf(stderr, "rb_ui_screenshot: the script's main window could not be made\n");
        status = 1;
    } else {
        for (int i = 0; i < 10; ++i)
            SdlPumpEvents(10);
        // The window as it opens, before the menu covers part of it.
        if (argc > 2) {
            int width = 0, height = 0;
            std::vector<uint32_t> pixels;
            if (!ReadSdlWindowPixels(window->GetOsWindow(), width, height, pixels) ||
                !WritePng(argv[2], width, height, pixels)) {
                std::fprintf(stderr, "rb_ui_screenshot: could not save %s\n", argv[2]);
                status = 1;
            }
        }
        // Pull the File menu down, as a click on its title does.
        PushFirstMenuTitleClick(probe);
        for (int i = 0; i < 10; ++i)
            SdlPumpEvents(10);
        int width = 0, height = 0;
        std::vector<uint32_t> pixels;
        if (!ReadSdlWindowPixels(window->GetOsWindow(), width, height, pixels) ||
            !WritePng(argv[1], width, height, pixels)) {
            std::fprintf(stderr, "rb_ui_screenshot: could not save %s\n", argv[1]);
            status = 1;
        } else {
            const int colours = CountColours(argv[1]);
            std::printf("%s: %d x %d, %d colours\n", argv[1], width, height, colours);
            if (colours < 8) {
                std::fprintf(stderr, "rb_ui_screenshot: the picture is blank\n");
                status = 1;
            }
        }
    }
    DeleteGenericUiApp(app);
    return status;
}
