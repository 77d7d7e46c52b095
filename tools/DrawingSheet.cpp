// Draws a sheet of what the user interface's drawing code produces (skins, blends,
// scaled pictures, texts in several languages) into a PNG file, then reads the file
// back to check that it decodes. Usage: rb_drawing_sheet <output.png>

#include "FCodePage.h"
#include "FDisplayBlit.h"
#include "FException.h"
#include "FGenericUiPixmap.h"
#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FPixmap.h"
#include "FPngPixmap.h"
#include "FSCDiskWin.h"
#include "FWideString.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

namespace
{

constexpr int kSheetWidth = 960;
constexpr int kSheetHeight = 720;

struct PixmapHolder {
    FIUiPixmap* p;
    explicit PixmapHolder(FIUiPixmap* pixmap) : p(pixmap) {}
    ~PixmapHolder() { ReleaseUiPixmap(p); }
    PixmapHolder(const PixmapHolder&) = delete;
    PixmapHolder& operator=(const PixmapHolder&) = delete;
    FIUiPixmap* operator->() const { return p; }
};

// A rounded button skin, 24 x 24: a dark border, a lighter face with a highlight at the
// top, transparent corners.
FIUiPixmap* MakeButtonSkin(const FUiColor& face)
{
    FIUiPixmap* skin = CreateUiPixmap(24, 24, false);
    skin->FillRGBA(0, 0, 0, 0);
    skin->FillRect(FRect(2, 0, 22, 24), FUiColor(30, 30, 40, 255));
    skin->FillRect(FRect(0, 2, 24, 22), FUiColor(30, 30, 40, 255));
    skin->FillRect(FRect(1, 1, 23, 23), FUiColor(30, 30, 40, 255));
    skin->FillRect(FRect(2, 2, 22, 22), face);
    skin->BlendRect(FRect(2, 2, 22, 8), FUiColor(255, 255, 255, 90));
    return skin;
}

// A small picture with sharp and smooth parts, to show the scalers.
FIUiPixmap* MakePicture()
{
    FIUiPixmap* p = CreateUiPixmap(16, 16, false);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool check = ((x / 4) + (y / 4)) % 2 == 0;
            p->FillRect(FRect(x, y, x + 1, y + 1),
                        check ? FUiColor(uint8_t(x * 16), 40, uint8_t(255 - y * 16), 255)
                              : FUiColor(240, 240, 220, 255));
        }
    }
    return p;
}

void Label(FIUiPixmap* sheet, const char16_t* text, const char16_t* face, int height, int x, int y,
           const FUiColor& colour, bool bold = false, bool italic = false, bool underline = false)
{
    PixmapHolder t(CreateTextUiPixmap(text, face, height, bold, italic, underline, colour, nullptr, false));
    if (t.p == nullptr)
        return;
    t->BlendBlit(sheet, FRect(x, y, x + t->GetWidth(), y + t->GetHeight()),
                 FRect(0, 0, t->GetWidth(), t->GetHeight()));
}

void DrawSheet(FIUiPixmap* sheet)
{
    for (int y = 0; y < kSheetHeight; ++y)
        sheet->FillRect(FRect(0, y, kSheetWidth, y + 1),
                        FUiColor(uint8_t(236 - y / 24), uint8_t(238 - y / 30), 244, 255));
    const FUiColor ink(20, 20, 30, 255);
    const char16_t* sans = u"DejaVu Sans";
    Label(sheet, u"Drawing sheet", sans, 28, 20, 12, ink, true);

    // Skins: nine-slice at several sizes, with and without the centre, and three-slice.
    Label(sheet, u"Nine- and three-slice skins", sans, 16, 20, 56, ink);
    PixmapHolder blue(MakeButtonSkin(FUiColor(70, 120, 210, 255)));
    PixmapHolder green(MakeButtonSkin(FUiColor(80, 170, 90, 255)));
    const int sizes[][2] = {{24, 24}, {60, 30}, {120, 40}, {200, 64}};
    int x = 20;
    for (const auto& size : sizes) {
        PixmapHolder button(CreateUiPixmap(size[0], size[1], false));
        button->FillRGBA(0, 0, 0, 0);
        blue->DrawNineSlice(button.p, 4, 4, 19, 19, true);
        button->BlendBlit(sheet, FRect(x, 84, x + size[0], 84 + size[1]), FRect(0, 0, size[0], size[1]));
        x += size[0] + 16;
    }
    PixmapHolder bar(CreateUiPixmap(300, 24, false));
    bar->FillRGBA(0, 0, 0, 0);
    green->DrawThreeSlice(bar.p, 6, 0, 17, 23);
    bar->BlendBlit(sheet, FRect(20, 160, 320, 184), FRect(0, 0, 300, 24));
    PixmapHolder hollow(CreateUiPixmap(140, 50, false));
    hollow->FillRGBA(255, 230, 120, 255);
    green->DrawNineSlice(hollow.p, 4, 4, 19, 19, false);
    hollow->Blit(sheet, FRect(340, 150, 480, 200), FRect(0, 0, 140, 50));

    // Blends: translucent rectangles over each other, a framed box.
    Label(sheet, u"Alpha blending", sans, 16, 520, 56, ink);
    sheet->BlendRect(FRect(520, 84, 640, 164), FUiColor(220, 40, 40, 160));
    sheet->BlendRect(FRect(580, 114, 700, 194), FUiColor(40, 160, 40, 128));
    sheet->BlendRect(FRect(550, 140, 670, 210), FUiColor(40, 60, 230, 96));
    sheet->DrawFrame(FRect(720, 84, 900, 204), ink, nullptr);
    PixmapHolder layer(CreateUiPixmap(150, 90, false));
    layer->FillRGBA(0, 0, 0, 0);
    layer->BlendRect(FRect(0, 0, 150, 90), FUiColor(250, 200, 0, 60));
    layer->BlendRect(FRect(30, 20, 120, 70), FUiColor(120, 0, 160, 200));
    layer->BlendBlit(sheet, FRect(735, 99, 885, 189), FRect(0, 0, 150, 90));

    // Scaling: the same picture through the pixmap's scaler and the display blitters.
    Label(sheet, u"Scaled pictures: pixmap linear / display cubic / reduced / tinted", sans, 16, 20, 224,
          ink);
    PixmapHolder picture(MakePicture());
    picture->Blit(sheet, FRect(20, 252, 36, 268), FRect(0, 0, 16, 16));
    picture->Blit(sheet, FRect(50, 252, 178, 380), FRect(0, 0, 16, 16));
    FPixmap_Display* pic = picture->GetDisplayPixmap();
    FPixmap_Display* sheetPixels = sheet->GetDisplayPixmap();
    const FRect picRect(0, 0, 16, 16);
    const FRect cubic(190, 252, 318, 380);
    CopyDisplayPixmapRect(sheetPixels, &cubic, pic, &picRect);
    const FRect wideCubic(330, 252, 530, 300);
    CopyDisplayPixmapRect(sheetPixels, &wideCubic, pic, &picRect);
    const FRect bigArea(190, 252, 318, 380);
    const FRect reduced(330, 316, 362, 348);
    CopyDisplayPixmapRect(sheetPixels, &reduced, sheetPixels, &bigArea);
    const FRect tinted(380, 316, 444, 380);
    const FRect tintSource(190, 252, 254, 316);
    BlendDisplayPixmapRect(sheetPixels, &tinted, sheetPixels, &tintSource, 60, 235, 0x800000FFu, 0x80FF0000u);

    // Texts in several languages, sizes and styles.
    Label(sheet, u"Text", sans, 16, 560, 224, ink);
    struct Line {
        const char16_t* text;
        const char16_t* face;
        int height;
        bool bold, italic, underline;
        FUiColor colour;
    };
    const Line lines[] = {
        {u"English: The quick brown fox jumps over the lazy dog.", sans, 16, false, false, false, ink},
        {u"Deutsch: Größe, Übermaß und Weiß", sans, 16, false, false, false, ink},
        {u"Français : élève, façade, cœur", sans, 16, false, true, false, FUiColor(20, 60, 160, 255)},
        {u"日本語: 画像を保存しています", sans, 18, false, false, false, ink},
        {u"한국어: 이미지를 저장하는 중", sans, 18, false, false, false, ink},
        {u"中文 (Chinese face)", u"Chinese", 16, false, false, false, FUiColor(160, 30, 30, 255)},
        {u"Bold and underlined", sans, 21, true, false, true, ink},
        {u"Half-transparent red text", sans, 21, false, false, false, FUiColor(255, 0, 0, 128)},
        {u"Small 10 px text", sans, 10, false, false, false, ink},
        {u"Large 40 px", sans, 40, false, false, false, FUiColor(40, 120, 60, 255)},
    };
    int y = 252;
    for (const Line& line : lines) {
        Label(sheet, line.text, line.face, line.height, 560, y, line.colour, line.bold, line.italic,
              line.underline);
        y += line.height + 8;
    }

    // Text on a skin, as a button shows it.
    PixmapHolder button(CreateUiPixmap(220, 44, false));
    button->FillRGBA(0, 0, 0, 0);
    blue->DrawNineSlice(button.p, 4, 4, 19, 19, true);
    PixmapHolder caption(CreateTextUiPixmap(u"Save image…", sans, 18, true, false, false,
                                            FUiColor(255, 255, 255, 255), nullptr, false));
    if (caption.p != nullptr) {
        const int cx = (220 - caption->GetWidth()) / 2;
        const int cy = (44 - caption->GetHeight()) / 2;
        caption->BlendBlit(button.p, FRect(cx, cy, cx + caption->GetWidth(), cy + caption->GetHeight()),
                           FRect(0, 0, caption->GetWidth(), caption->GetHeight()));
    }
    button->BlendBlit(sheet, FRect(20, 420, 240, 464), FRect(0, 0, 220, 44));
}

bool Save(FIUiPixmap* sheet, const FWideString& url)
{
    FIFile* file = nullptr;
    try {
        file = OpenFileURL(url, kFileWrite);
    } catch (const FException& e) {
        std::fprintf(stderr, "cannot create the file: %s\n", e.GetMessage());
        return false;
    }
    const bool saved = SavePngPixmap(*sheet->GetDisplayPixmap(), file);
    file->Release();
    return saved;
}

bool CheckDecodes(const FWideString& url, FIUiPixmap* sheet)
{
    FIFile* file = nullptr;
    try {
        file = OpenFileURL(url, kFileRead);
    } catch (const FException& e) {
        std::fprintf(stderr, "cannot reopen the file: %s\n", e.GetMessage());
        return false;
    }
    FPixmap_Display* decoded = LoadPngPixmap(file);
    if (decoded == nullptr)
        return false;
    file->Release();
    bool same = decoded->GetCols() == kSheetWidth && decoded->GetRows() == kSheetHeight;
    for (int y = 0; same && y < kSheetHeight; ++y)
        same = std::equal(decoded->GetRowAddress(y), decoded->GetRowAddress(y) + kSheetWidth * 4,
                          sheet->GetDisplayPixmap()->GetRowAddress(y));
    FreePngPixmap(decoded);
    return same;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    RegisterDiskStorageClass();
    SelectOsTextLayer(FOsTextLayerKind::kSystemFonts);
    const std::string path = std::filesystem::absolute(argv[1]).string();
    FWideString url;
    if (!NativePathToURL(WideFromUtf8(path), url)) {
        std::fprintf(stderr, "not a usable path: %s\n", path.c_str());
        return 1;
    }
    PixmapHolder sheet(CreateUiPixmap(kSheetWidth, kSheetHeight, false));
    DrawSheet(sheet.p);
    int result = 0;
    if (!Save(sheet.p, url)) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        result = 1;
    } else if (!CheckDecodes(url, sheet.p)) {
        std::fprintf(stderr, "%s does not decode to the drawn sheet\n", path.c_str());
        result = 1;
    }
    ShutdownStorageClasses();
    return result;
}
