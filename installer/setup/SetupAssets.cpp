// Makes the installer's assets in a folder: the skin pictures (the progress
// bar's track and fill, in the application's dark theme, and the folder tree's
// icons and scroll bar, the application's own) and the script, kept
// in the tree as UTF-8 and stored as the UTF-16 with byte-order mark that the
// script reader takes for text beyond ASCII.

#include <png.h>

#include "FCodePage.h"
#include "FWideString.h"
#include "SkinPainter.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

struct Rgba {
    unsigned char r, g, b, a;
};

// A rectangle of `fill` with a one-pixel `edge`.
bool WritePanel(const std::string& path, int width, int height, Rgba fill, Rgba edge)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info;
    std::vector<png_byte> row(static_cast<size_t>(width) * 4);
    if (ok && setjmp(png_jmpbuf(png)) != 0) {
        ok = false;
    } else if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool border = x == 0 || y == 0 || x == width - 1 || y == height - 1;
                const Rgba c = border ? edge : fill;
                png_byte* p = &row[static_cast<size_t>(x) * 4];
                p[0] = c.r;
                p[1] = c.g;
                p[2] = c.b;
                p[3] = c.a;
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return std::fclose(file) == 0 && ok;
}

bool WriteUtf16Script(const std::string& source, const std::string& target)
{
    std::ifstream in(source, std::ios::binary);
    if (!in)
        return false;
    const std::string utf8((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const FWideString text = WideFromUtf8(utf8);
    std::string bytes = "\xFF\xFE";
    for (int i = 0; i < text.GetLength(); ++i) {
        const char16_t unit = text.GetBuffer()[i];
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

// The folder chooser's pictures, as the application draws them.
const char* const kChooserSkins[] = {
    "tree_disk.png",   "tree_removable.png", "tree_cd.png",  "tree_folder.png", "tree_folder_open.png",
    "tree_closed.png", "tree_open.png",      "sb_a_n.png",   "sb_a_p.png",      "sb_b_n.png",
    "sb_b_p.png",      "sb_thumb.png",       "sb_knurl.png",
};

bool WriteChooserSkins(const std::string& folder)
{
    int written = 0;
    for (const FSkinImage& image : PaintAllSkins()) {
        for (const char* name : kChooserSkins) {
            if (image.name != name)
                continue;
            if (!WriteSkinPng(folder + "/" + name, image))
                return false;
            ++written;
        }
    }
    return written == static_cast<int>(std::size(kChooserSkins));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: rb_setup_assets FOLDER SCRIPT\n");
        return 2;
    }
    const std::string folder = argv[1];
    const Rgba track{0x33, 0x33, 0x33, 0xFF};
    const Rgba hairline{0x14, 0x14, 0x14, 0xFF};
    const Rgba accent{0x3D, 0x8F, 0xD6, 0xFF};
    const bool ok = WritePanel(folder + "/prog_bg.png", 460, 10, track, hairline) &&
                    WritePanel(folder + "/prog_fg.png", 460, 10, accent, accent) &&
                    WriteChooserSkins(folder) && WriteUtf16Script(argv[2], folder + "/ui.xml");
    if (!ok)
        std::fprintf(stderr, "rb_setup_assets: cannot write into %s\n", folder.c_str());
    return ok ? 0 : 1;
}
