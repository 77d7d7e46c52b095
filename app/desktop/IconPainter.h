#pragma once

// Rawbench's application icon, drawn by program at any size: a lens on a dark
// tile, holding the three colour discs that every pixel of its raw files records.
// The same drawing makes the installed theme icons and the windows' icon.

#include <cstdint>
#include <vector>

struct FIconImage {
    int size = 0;
    std::vector<uint8_t> rgba; // size * size * 4, straight alpha, rows top down
};

// The sizes the icon theme gets, in pixels.
inline constexpr int kRawbenchIconSizes[] = {16, 24, 32, 48, 64, 128, 256};
// The size the windows show; window managers scale it as they need.
inline constexpr int kRawbenchWindowIconSize = 64;

// An empty image for a size outside 1 to 1024.
FIconImage PaintRawbenchIcon(int size);
