// Runs the PNG skin loader over arbitrary bytes, then uses a decoded skin as the
// application does: copied into a UI pixmap and drawn nine-sliced and scaled. A
// refusal is an accepted outcome; a crash, a leak or a read outside a buffer is not.

#include "FIUiPixmap.h"
#include "FMemoryFile.h"
#include "FPixmap.h"
#include "FPngPixmap.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    bool released = false;
    auto* file = new FMemoryFile(std::string(reinterpret_cast<const char*>(data), size), &released);
    FPixmap_Display* display = LoadPngPixmap(file);
    if (display == nullptr) {
        // A refused file has been released by the loader.
        if (!released)
            __builtin_trap();
        return 0;
    }
    file->Release();
    FIUiPixmap* skin = CreateUiPixmapFromDisplay(display, false);
    FreePngPixmap(display);
    FIUiPixmap* target = CreateUiPixmap(37, 23, false);
    if (skin != nullptr && target != nullptr) {
        const int w = skin->GetWidth();
        const int h = skin->GetHeight();
        skin->DrawNineSlice(target, w / 3, h / 3, w - w / 3 - 1, h - h / 3 - 1, true);
        skin->DrawThreeSlice(target, w / 4, 0, w - w / 4 - 1, h - 1);
        skin->Blit(target, FRect(-5, -5, 40, 30), FRect(0, 0, w, h));
        skin->BlendBlit(target, FRect(3, 3, 20, 20), FRect(0, 0, w, h));
    }
    ReleaseUiPixmap(skin);
    ReleaseUiPixmap(target);
    return 0;
}
