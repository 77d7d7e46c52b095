// Draws Rawbench's icon into an icon theme folder:
//
//   rb_icongen <theme folder>     writes <theme folder>/<n>x<n>/apps/rawbench.png
#include <png.h>
#include <sys/stat.h>

#include <cerrno>

#include <cstdio>
#include <string>

#include "IconPainter.h"

namespace
{

bool MakeFolder(const std::string& path)
{
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WritePng(const std::string& path, const FIconImage& image)
{
    png_image out{};
    out.version = PNG_IMAGE_VERSION;
    out.width = static_cast<png_uint_32>(image.size);
    out.height = static_cast<png_uint_32>(image.size);
    out.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&out, path.c_str(), 0, image.rgba.data(), 0, nullptr) != 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: rb_icongen <theme folder>\n");
        return 2;
    }
    const std::string theme = argv[1];
    if (!MakeFolder(theme))
        return 1;
    for (int size : kRawbenchIconSizes) {
        const std::string folder = theme + "/" + std::to_string(size) + "x" + std::to_string(size);
        const std::string path = folder + "/apps/rawbench.png";
        if (!MakeFolder(folder) || !MakeFolder(folder + "/apps") ||
            !WritePng(path, PaintRawbenchIcon(size))) {
            std::fprintf(stderr, "rb_icongen: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
