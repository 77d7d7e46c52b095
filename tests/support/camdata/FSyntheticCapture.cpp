#include "FSyntheticCapture.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace
{

bool Inside(const FRect& r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Linear Q12 scene values of the six colour patches.
constexpr int kPatchColours[6][3] = {{2400, 300, 250},  {350, 2200, 400},  {300, 450, 2300},
                                     {400, 1900, 2100}, {2100, 400, 1900}, {2300, 2100, 350}};

} // namespace

FSyntheticCapture MakeSyntheticCapture(int width, int height, uint32_t seed,
                                       const std::array<double, 3>& light)
{
    FSyntheticCapture c;
    c.width = std::max(width, 64);
    c.height = std::max(height, 48);
    const int w = c.width;
    const int h = c.height;
    const size_t samples = 3 * static_cast<size_t>(w) * h;
    c.raw.resize(samples);
    c.dark.resize(samples);

    // The active area of AddPlausibleCalibration, exclusive edges.
    const FRect active(16, 12, w - 16, h - 12);
    const int aw = active.Width();
    const int ah = active.Height();
    c.greyCard =
        FRect(active.left + aw / 8, active.top + ah / 4, active.left + 3 * aw / 8, active.top + ah / 2);
    c.whitePatch =
        FRect(active.left + aw / 2, active.top + ah / 4, active.left + 5 * aw / 8, active.top + ah / 2);
    c.colourPatches = FRect(active.left + aw / 8, active.top + 5 * ah / 8, active.left + 7 * aw / 8,
                            active.top + 7 * ah / 8);
    for (int k = 0; k < 3; ++k) {
        const int x = active.left + aw * (11 + 2 * k) / 16;
        const int y = active.top + ah / 4 + k * 3;
        c.clippedSpots.emplace_back(x, y, x + 2, y + 2);
    }

    std::mt19937 rng(seed);
    const int patchWidth = std::max(1, c.colourPatches.Width() / 6);
    for (int y = 0; y < h; ++y) {
        uint16_t* raw = c.RawRow(y);
        uint16_t* dark = c.DarkRow(y);
        for (int x = 0; x < w; ++x) {
            int scene[3] = {0, 0, 0};
            if (Inside(active, x, y)) {
                // A gentle grey ramp from left to right as the background.
                const int ramp = 200 + 2800 * (x - active.left) / std::max(1, aw - 1);
                scene[0] = scene[1] = scene[2] = ramp;
                if (Inside(c.greyCard, x, y))
                    scene[0] = scene[1] = scene[2] = FSyntheticCapture::kGreyLevel;
                if (Inside(c.whitePatch, x, y))
                    scene[0] = scene[1] = scene[2] = FSyntheticCapture::kWhiteLevel;
                if (Inside(c.colourPatches, x, y)) {
                    const int p = std::min(5, (x - c.colourPatches.left) / patchWidth);
                    std::copy(kPatchColours[p], kPatchColours[p] + 3, scene);
                }
            }
            bool clipped = false;
            for (const FRect& s : c.clippedSpots)
                clipped = clipped || Inside(s, x, y);
            for (int ch = 0; ch < 3; ++ch) {
                const int d = FSyntheticCapture::kDarkLevel + static_cast<int>(rng() % 5) - 2;
                dark[3 * x + ch] = static_cast<uint16_t>(d);
                const int lit = static_cast<int>(std::lround(scene[ch] * light[ch]));
                const int v = clipped ? FSyntheticCapture::kClipLevel : d + lit;
                raw[3 * x + ch] = static_cast<uint16_t>(std::clamp(v, 0, FSyntheticCapture::kClipLevel));
            }
        }
    }
    return c;
}
