#include "FUiScriptFixture.h"

#include <png.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "FCodePage.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "FXmlParser.h"
#include "StorageClassRegistry.h"

namespace
{

const char* const kScriptHead =
    R"(<UI_SCRIPT Name="TestApp" AppName="TestAppWnd" HasPersistantDataStore="true"
    CtrlMenuDisplayString="KeyCtrl" DelMenuDisplayString="KeyDel">
)";

const char* const kScriptHeadNoStore = R"(<UI_SCRIPT Name="TestApp" AppName="TestAppWnd"
    CtrlMenuDisplayString="KeyCtrl" DelMenuDisplayString="KeyDel">
)";

const char* const kScriptHeadSingle =
    R"(<UI_SCRIPT Name="TestApp" AppName="TestAppWnd" HasPersistantDataStore="true"
    CtrlMenuDisplayString="KeyCtrl" DelMenuDisplayString="KeyDel"
    _SingleInstApp="true" _DeclareAppName="TestAppLock" _CreateOldMutex="true" _MutexName="TestFamily">
)";

const char* const kScriptBody = R"(  <xi:define Name="TEST_BUILD"/>
  <LANGUAGES>
    <LANGUAGE Name="English" Default="true"/>
    <LANGUAGE Name="German"/>
  </LANGUAGES>
  <FONTS>
    <APPFONT Name="Body" Height="14" Color="#000000">
      <MSWFONT>
        <English Fontname="DejaVu Sans"/>
        <German Fontname="DejaVu Sans" Height="13"/>
      </MSWFONT>
    </APPFONT>
  </FONTS>
  <DISPLAY_STRING Name="MainTitle" AppFont="Body"><English Text="Main"/><German Text="Haupt"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="OkLabel" AppFont="Body" Bold="true"><English Text="OK"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="MenuFile" AppFont="Body"><English Text="File"/><German Text="Datei"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="KeyCtrl" AppFont="Body"><English Text="Ctrl+"/><German Text="Strg+"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="KeyDel" AppFont="Body"><English Text="Del"/><German Text="Entf"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="BrisalOtherAppWinTitle" AppFont="Body"><English Text="Busy"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="BrisalOtherAppWinText" AppFont="Body"><English Text="Other app runs"/></DISPLAY_STRING>
  <STYLE StyleName="StdButton" MinHSize="60" MinVSize="22" HStretch="0" VStretch="0"
         ColorN="#C0C0C0" ColorO="#D0D0D0" ColorP="#808080" ColorD="#606060"/>
  <SWITCHED_STYLE Name="Accent" Switch="Dark" DefaultSwitch="Light">
    <Light Color="#000000"/><Dark Color="#FFFFFF"/>
  </SWITCHED_STYLE>
  <xi:ifdef Name="TEST_BUILD"><PROBE Name="Probe"/></xi:ifdef>
  <ON_OPEN_PATH_EVENT Relay="Probe" Message="OpenPath"/>
  <ON_VOLUMES_CHANGED_EVENT Relay="Probe" Message="Volumes"/>
  <ON_SHOW_MAIN_WINDOW Relay="MainWin" Message="Show"/>
  <WINDOW Name="MainWin" DisplayString="MainTitle" DX="320" DY="200" BgColor="#E0E0E0"
          FrameColor="#000000" FrameThickness="1" _SaveState="true">
    <ON_CTRL_E Relay="Dialog.All" Message="Hide"/>
    <VBOX Name="Body">
      <TEXT Name="Caption" DisplayString="MainTitle" AppFont="Body" SwitchedStyle="Accent"/>
      <MSW_OS><HLINE MinHSize="10" HStretch="100" Color="#000000"/></MSW_OS>
      <MAC_OS><TEXT Name="MustNotExist" DisplayString="MainTitle"/></MAC_OS>
      <HBOX>
        <BUTTON Name="Ok" Style="StdButton">
          <HBOX><TEXT DisplayString="OkLabel" AppFont="Body"/></HBOX>
          <ON_PRESS Relay="TestApp" Message="ShowTopOrCreateWindow" Data="Dialog"/>
        </BUTTON>
        <SPACER Stretch="100"/>
      </HBOX>
    </VBOX>
  </WINDOW>
  <WINDOWCLASS Name="Dialog" WindowTitle="Dialog" _Modal="true" _Parent="MainWin"
               _Visible="false" _Cascade="true" _SaveState="true" BgColor="#FFFFFF">
    <VBOX>
      <TEXT DisplayString="MainTitle" AppFont="Body"/>
      <BUTTON Name="Close" Style="StdButton"><ON_PRESS LocalRelay="" Message="InternalClose"/></BUTTON>
    </VBOX>
  </WINDOWCLASS>
</UI_SCRIPT>
)";

struct SkinSpec {
    const char* name;
    int width;
    int height;
};

// Sizes the widgets that wear them expect.
const SkinSpec kSkins[] = {
    {"button_normal.png", 16, 16},  {"button_pressed.png", 16, 16}, {"slider_back.png", 100, 6},
    {"slider_knob.png", 10, 16},    {"progress_back.png", 200, 10}, {"progress_fore.png", 40, 10},
    {"filmstrip.png", 32, 320},     {"resized.png", 30, 30},        {"frame.png", 40, 20},
    {"cursor_no.png", 16, 16},      {"cursor_yes.png", 16, 16},     {"cursor_wait.png", 16, 16},
    {"cursor_too_big.png", 24, 24}, {"window_skin.png", 64, 48},
};

} // namespace

std::string UiBaseScript(EUiScriptVariant variant)
{
    const char* head = kScriptHead;
    if (variant == EUiScriptVariant::kNoPersistence)
        head = kScriptHeadNoStore;
    else if (variant == EUiScriptVariant::kSingleInstance)
        head = kScriptHeadSingle;
    return std::string(head) + kScriptBody;
}

bool WriteTestPng(const std::string& path, int width, int height, const FUiColor& fill, const FUiColor& mark)
{
    if (width <= 0 || height <= 0)
        return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(width) * 4);
    bool ok = png && info;
    if (ok && setjmp(png_jmpbuf(png)) != 0)
        ok = false;
    else if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const FUiColor& c = (x == 0 && y == 0) ? mark : fill;
                png_byte* p = &row[static_cast<size_t>(x) * 4];
                p[0] = c.red;
                p[1] = c.green;
                p[2] = c.blue;
                p[3] = c.alpha;
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return std::fclose(file) == 0 && ok;
}

void EnsureDiskStorageClass()
{
    FWideString path;
    if (FindStorageClass(FWideString("disk"), path) == nullptr)
        RegisterDiskStorageClass();
}

FUiScriptFolder::FUiScriptFolder()
{
    EnsureDiskStorageClass();
}

FUiScriptFolder::~FUiScriptFolder() = default;

FWideString FUiScriptFolder::GetUrl() const
{
    FWideString url;
    NativePathToURL(WideFromUtf8(GetPath()), url);
    return url;
}

void FUiScriptFolder::WriteBase(EUiScriptVariant variant)
{
    WriteFile("ui.xml", UiBaseScript(variant));
    WriteSkins();
}

void FUiScriptFolder::WriteSkins() const
{
    const FUiColor fill(40, 80, 120, 255);
    const FUiColor mark(255, 0, 0, 255);
    for (const SkinSpec& skin : kSkins)
        WriteTestPng(Join(skin.name), skin.width, skin.height, fill, mark);
}

FIFolder* FUiScriptFolder::OpenFolder() const
{
    FWideString fileName;
    return OpenFolderURL(GetUrl(), fileName, false);
}

std::unique_ptr<FPropList> FUiScriptFolder::Parse(const std::string& text, const std::string& name) const
{
    if (!WriteFile(name, text))
        return nullptr;
    FIFolder* folder = OpenFolder();
    if (!folder)
        return nullptr;
    std::unique_ptr<FPropList> root;
    try {
        FXmlParser parser;
        root.reset(parser.ParseFile(folder, WideFromUtf8(name)));
    } catch (...) {
        root.reset();
    }
    folder->Release();
    return root;
}

std::string TestPngBytes(int width, int height, const FUiColor& fill, const FUiColor& mark)
{
    char path[] = "/tmp/rb-test-png-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return std::string();
    close(fd);
    std::string bytes;
    if (WriteTestPng(path, width, height, fill, mark)) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        bytes = all.str();
    }
    std::remove(path);
    return bytes;
}
