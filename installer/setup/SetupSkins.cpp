// Draws the installer's skin pictures into a folder: the progress bar's track
// and fill, in the application's dark theme.

#include <png.h>

#include <cstdio>
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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: rb_setup_skins FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const Rgba track{0x33, 0x33, 0x33, 0xFF};
    const Rgba hairline{0x14, 0x14, 0x14, 0xFF};
    const Rgba accent{0x3D, 0x8F, 0xD6, 0xFF};
    const bool ok = WritePanel(folder + "/prog_bg.png", 460, 10, track, hairline) &&
                    WritePanel(folder + "/prog_fg.png", 460, 10, accent, accent);
    if (!ok)
        std::fprintf(stderr, "rb_setup_skins: cannot write into %s\n", folder.c_str());
    return ok ? 0 : 1;
}
