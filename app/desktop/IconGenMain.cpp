// Draws Rawbench's icon into an icon theme folder:
//
//   rb_icongen <theme folder>     writes <theme folder>/<n>x<n>/apps/rawbench.png
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "IconPainter.h"
#include "SkinPainter.h"

namespace
{

bool MakeFolder(const std::string& path)
{
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
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
            !WriteSkinPng(path, FSkinImage{"rawbench.png", size, size, PaintRawbenchIcon(size).rgba})) {
            std::fprintf(stderr, "rb_icongen: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
