// Draws every skin of the application into a folder.
//
//   rb_skingen <out folder>
#include <cstdio>
#include <string>

#include "SkinPainter.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: rb_skingen <out folder>\n");
        return 2;
    }
    for (const FSkinImage& image : PaintAllSkins()) {
        const std::string path = std::string(argv[1]) + "/" + image.name;
        if (!WriteSkinPng(path, image)) {
            std::fprintf(stderr, "rb_skingen: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
