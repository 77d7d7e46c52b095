#include "ThumbnailsTestSupport.h"

#include <vector>

#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiObjectFactory.h"
#include "FUiScriptFixture.h"
#include "FUiThumbnails.h"
#include "FUiWidgets.h"

namespace
{

struct SkinFile {
    const char* key;
    const char* file;
    int w, h;
    FUiColor colour;
};

const SkinFile kSkinFiles[] = {
    {"File_LargeFrame", "lf.png", 30, 30, {100, 0, 0, 255}},
    {"File_LargeHighlight", "lh.png", 32, 32, {255, 0, 255, 255}},
    {"File_LargeInvalid", "inv.png", 8, 8, {50, 50, 50, 255}},
    {"File_MediumFrame", "mf.png", 24, 24, {0, 100, 0, 255}},
    {"File_MediumHighlight", "mh.png", 26, 26, {255, 0, 255, 255}},
    {"File_MediumInvalid", "inv.png", 8, 8, {50, 50, 50, 255}},
    {"File_SmallFrame", "sf.png", 16, 16, {0, 0, 100, 255}},
    {"File_SmallHighlight", "sh.png", 18, 18, {255, 0, 255, 255}},
    {"File_SmallInvalid", "inv.png", 8, 8, {50, 50, 50, 255}},
    {"File_DetailedFrame", "df.png", 200, 40, {100, 100, 0, 255}},
    {"File_DetailedHighlight", "dh.png", 202, 42, {255, 0, 255, 255}},
    {"File_DetailedInvalid", "inv.png", 8, 8, {50, 50, 50, 255}},
    {"File_MarkIcon", "mark.png", 4, 4, {255, 200, 0, 255}},
    {"File_LockIcon", "lock.png", 4, 4, {200, 200, 200, 255}},
    {"File_TransferIcon", "xfer.png", 4, 4, {0, 200, 0, 255}},
    {"File_Q7F_Icon", "kraw.png", 6, 6, {10, 10, 200, 255}},
    {"File_TIF_Icon", "ktif.png", 6, 6, {10, 200, 10, 255}},
    {"File_JPG_Icon", "kjpg.png", 6, 6, {200, 10, 10, 255}},
    {"File_Q7FFrameIcon", "braw.png", 5, 3, {1, 2, 3, 255}},
    {"File_JPGFrameIcon", "bjpg.png", 5, 3, {4, 5, 6, 255}},
    {"File_TIFFrameIcon", "btif.png", 5, 3, {7, 8, 9, 255}},
};

const char* const kSkinNumbers =
    R"( LargeThumbnailImageSize="20" LargeThumbnailImageCenter="15,15" LargeMargin="2" LargeHighlightOffset="-1,-1")"
    R"( MediumThumbnailImageSize="16" MediumThumbnailImageCenter="12,12" MediumMargin="2" MediumHighlightOffset="-1,-1")"
    R"( SmallThumbnailImageSize="10" SmallThumbnailImageCenter="8,8" SmallMargin="2" SmallHighlightOffset="-1,-1")"
    R"( DetailedThumbnailImageSize="30" DetailedThumbnailImageCenter="20,20" DetailedMargin="2" DetailedHighlightOffset="-1,-1")";

// URLs are logged by their names.
std::string Text(const FWideString& text)
{
    std::string narrow = text.GetNarrow() ? text.GetNarrow() : "";
    if (narrow.rfind("file:///p/", 0) == 0)
        narrow.erase(0, 10);
    return narrow;
}

} // namespace

std::string ThumbnailKeys(const std::string& extra, const std::string& drop)
{
    std::string keys = R"( AppFont="Body" MinHSize="10" MinVSize="10" HStretch="1" VStretch="1")";
    for (const SkinFile& file : kSkinFiles)
        keys += std::string(" ") + file.key + "=\"" + file.file + "\"";
    keys += kSkinNumbers;
    keys += " " + extra;
    if (!drop.empty()) {
        const size_t at = keys.find(" " + drop + "=\"");
        if (at != std::string::npos)
            keys.erase(at, keys.find('"', keys.find('"', at) + 1) + 1 - at);
    }
    return keys;
}

std::string ScrollbarTag()
{
    return R"(<SCROLLBAR _Horizontal="false" Stretch="100" BgColor="#101010" BgClickColor="#202020"
        File_ButtonANormal="sb.png" File_ButtonAPressed="sb.png" File_ButtonBNormal="sb.png"
        File_ButtonBPressed="sb.png" File_Slider="sb.png" File_SliderKnurls="sb.png" SliderResizeRect="2,2,9,9"/>)";
}

std::string ListTag(const std::string& extra, const std::string& drop, int minH, int minV)
{
    std::string keys =
        ThumbnailKeys(R"(FrameColor="#5A5A5A" FrameThickness="1" FillColor="#141414" )" + extra, drop);
    keys.replace(keys.find("MinHSize=\"10\""), 13, "MinHSize=\"" + std::to_string(minH) + "\"");
    keys.replace(keys.find("MinVSize=\"10\""), 13, "MinVSize=\"" + std::to_string(minV) + "\"");
    return "<THUMBNAIL_LIST Name=\"T\" " + keys + ">" + (drop == "SCROLLBAR" ? "" : ScrollbarTag()) +
           R"(<ON_THUMBNAIL_SIZE Relay="Probe" Message="ON_THUMBNAIL_SIZE"/>
  <ON_SMALL_THUMBNAILS Relay="Probe" Message="ON_SMALL_THUMBNAILS"/>
  <ON_MEDIUM_THUMBNAILS Relay="Probe" Message="ON_MEDIUM_THUMBNAILS"/>
  <ON_LARGE_THUMBNAILS Relay="Probe" Message="ON_LARGE_THUMBNAILS"/>
  <ON_DETAILED_THUMBNAILS Relay="Probe" Message="ON_DETAILED_THUMBNAILS"/>
  <ON_SELECT_IMAGE Relay="Probe" Message="SEL"/>
  <ON_SELECT_IMAGE_IFLE Relay="Probe" Message="IFLE"/>
  <ON_SELECT_IMAGE_LIST Relay="Probe" Message="SEL_LIST"/>
  <ON_DESELECT_IMAGE_LIST Relay="Probe" Message="DESEL_LIST"/>
  <ON_DESELECT_IMAGE Relay="Probe" Message="DESEL"/>
  <ON_DESELECT_IMAGE_NO_UPDATE Relay="Probe" Message="DESEL_NU"/>
  <ON_D-CLICK_IMAGE Relay="Probe" Message="DCLICK"/>
  <ON_RETURN_KEY_HIT Relay="Probe" Message="RETURN"/>
</THUMBNAIL_LIST>)";
}

std::string SingleTag(const std::string& extra)
{
    return "<THUMBNAIL Name=\"T\" " + ThumbnailKeys(extra) +
           R"(><ON_THUMBNAIL_SIZE Relay="Probe" Message="ON_THUMBNAIL_SIZE"/>
  <ON_SMALL_THUMBNAILS Relay="Probe" Message="ON_SMALL_THUMBNAILS"/>
  <ON_MEDIUM_THUMBNAILS Relay="Probe" Message="ON_MEDIUM_THUMBNAILS"/>
  <ON_LARGE_THUMBNAILS Relay="Probe" Message="ON_LARGE_THUMBNAILS"/>
  <ON_DETAILED_THUMBNAILS Relay="Probe" Message="ON_DETAILED_THUMBNAILS"/></THUMBNAIL>)";
}

ThumbRun::ThumbRun(const std::string& tag, int dx, int dy, bool persistent)
{
    SelectOsTextLayer(FOsTextLayerKind::kBoxFont);
    const std::string script = std::string(R"(<UI_SCRIPT Name="TestApp" HasPersistantDataStore=")") +
                               (persistent ? "true" : "false") + R"(">
  <LANGUAGES><LANGUAGE Name="English" Default="true"/></LANGUAGES>
  <FONTS><APPFONT Name="Body" Height="8"><MSWFONT><English Fontname="DejaVu Sans"/></MSWFONT></APPFONT></FONTS>
  <PROBE Name="Probe"/><WINDOW Name="W" BgColor="#FFFFFF" DX=")" +
                               std::to_string(dx) + R"(" DY=")" + std::to_string(dy) + R"(">)" + tag +
                               "</WINDOW></UI_SCRIPT>";
    run = std::make_unique<FUiTestApp>(script, false);
    FIUiObjectFactory* factory = run->GetApp()->GetUiObjectFactory();
    RegisterUiWidgets(factory);
    RegisterThumbnailsCreators(factory);
    FUiScriptFolder& folder = run->GetScriptFolder();
    for (const SkinFile& file : kSkinFiles)
        WriteTestPng(folder.Join(file.file), file.w, file.h, file.colour, file.colour);
    WriteTestPng(folder.Join("sb.png"), 12, 12, FUiColor(60, 60, 60, 255), FUiColor(60, 60, 60, 255));
    if (run->Init()) {
        HeadlessPumpUntilIdle();
        view = dynamic_cast<FUiThumbnails*>(run->GetApp()->GetUiRelay(FWideString("W.T")));
    }
    probe = run->GetApp() ? dynamic_cast<FProbeObject*>(run->GetApp()->GetUiRelay(FWideString("Probe")))
                          : nullptr;
    if (probe) {
        probe->SetOnMessage([this](const FProbeRecord& r) {
            if (r.message == "Post Creation Initialization")
                return;
            std::string data;
            if (r.pointer) {
                if (r.message == "SEL" || r.message == "DESEL" || r.message == "DESEL_NU")
                    data = Text(*static_cast<FWideString*>(r.pointer));
                else if (r.message == "IFLE")
                    data = Text(static_cast<FImageFileListEntry*>(r.pointer)->m_usURL);
                else if (r.message == "ON_THUMBNAIL_SIZE")
                    data = std::to_string(*static_cast<int*>(r.pointer));
                else if (r.message == "SEL_LIST" || r.message == "DESEL_LIST") {
                    for (const FWideString& url : *static_cast<std::vector<FWideString>*>(r.pointer)) {
                        if (!data.empty())
                            data += '+';
                        data += Text(url);
                    }
                    data = "[" + data + "]";
                }
            }
            log += (log.empty() ? "" : ",") + r.message + (data.empty() ? "" : "=" + data);
        });
    }
}

ThumbRun::~ThumbRun()
{
    // The farewells reach the probe, whose log must still be there.
    run.reset();
}

bool ThumbRun::Send(const char* message, void* data)
{
    return view->UiRelayMessage(FWideString(message), data);
}

std::string ThumbRun::Events()
{
    std::string all = log;
    log.clear();
    return all;
}

std::string ThumbRun::Pixel(int x, int y)
{
    auto* window = dynamic_cast<FGenericUiWindow*>(run->GetApp()->FindUiWindow(FWideString("W")));
    window->Invalidate(nullptr);
    window->UpdateIfInvalid();
    FUiColor colour;
    window->GetWindowPixmap()->GetPixel(x, y, colour);
    return std::to_string(colour.red) + "," + std::to_string(colour.green) + "," +
           std::to_string(colour.blue);
}

FImageFileListEntry ThumbRun::Entry(const std::string& name, int visibleIndex)
{
    FImageFileListEntry entry;
    entry.SetURL(FWideString(("file:///p/" + name).c_str()));
    entry.m_nVisibleIndex = visibleIndex;
    entry.m_bVisible = true;
    return entry;
}

void ThumbRun::Fill(int count)
{
    for (int i = 0; i < count; ++i) {
        FImageFileListEntry entry = Entry(std::string(1, char('a' + i)));
        Send("NewThumbnail", &entry);
    }
    Events();
}
