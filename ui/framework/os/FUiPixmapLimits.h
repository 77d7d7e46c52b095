#pragma once

#include <cstdint>

// The largest side of any UI pixmap, made or decoded: at 4 bytes per pixel a pixmap stays
// within 1 GiB, and products of sides fit in 32 bits.
inline constexpr int kMaxUiPixmapSide = 16384;

inline bool IsUiPixmapSizeAllowed(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= kMaxUiPixmapSide && height <= kMaxUiPixmapSide;
}
