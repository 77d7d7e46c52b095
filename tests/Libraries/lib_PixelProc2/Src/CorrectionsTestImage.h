#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "FPixmap.h"

// A signed 48-bit test image that owns its pixels: noise around a level, with square
// blobs clipped at `blobLevel` (some touching every edge) and a few extreme samples.
struct TestImage48 {
    int cols = 0;
    int rows = 0;
    std::vector<int16_t> pixels;

    TestImage48(int c, int r) : cols(c), rows(r), pixels(3 * static_cast<size_t>(c) * r, 0) {}

    FPixmapTemplate<FPixelClass48SRGB> Pixmap() { return {pixels.data(), cols, rows, 0}; }
    int16_t* Row(int y) { return pixels.data() + 3 * static_cast<size_t>(cols) * y; }
    int16_t& At(int x, int y, int c) { return pixels[3 * (static_cast<size_t>(cols) * y + x) + c]; }
    int16_t At(int x, int y, int c) const { return pixels[3 * (static_cast<size_t>(cols) * y + x) + c]; }
};

inline TestImage48 RandomImage48(int cols, int rows, uint32_t seed, int level = 2000, int noise = 1500,
                                 int blobLevel = 32000)
{
    TestImage48 im(cols, rows);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> n(-noise, noise);
    for (auto& v : im.pixels)
        v = static_cast<int16_t>(level + n(rng));
    // Blobs: one in each corner, one in the middle, one random; partly saturated channels.
    const int b = std::max(1, std::min(cols, rows) / 5);
    const int xs[6] = {0, cols - b, 0, cols - b, cols / 2 - b / 2, static_cast<int>(rng() % cols)};
    const int ys[6] = {0, 0, rows - b, rows - b, rows / 2 - b / 2, static_cast<int>(rng() % rows)};
    for (int i = 0; i < 6; ++i)
        for (int y = std::max(ys[i], 0); y < std::min(ys[i] + b, rows); ++y)
            for (int x = std::max(xs[i], 0); x < std::min(xs[i] + b, cols); ++x)
                for (int c = 0; c < 3; ++c)
                    im.At(x, y, c) = static_cast<int16_t>(
                        (i + c) % 3 == 0 ? blobLevel
                                         : blobLevel - static_cast<int>(rng() % (blobLevel / 3 + 1)));
    // A few hot and dead sites.
    for (int i = 0; i < cols * rows / 50 + 1; ++i) {
        const int x = static_cast<int>(rng() % cols);
        const int y = static_cast<int>(rng() % rows);
        const int c = static_cast<int>(rng() % 3);
        im.At(x, y, c) = static_cast<int16_t>(rng() % 2 ? 32767 : -2000);
    }
    return im;
}
