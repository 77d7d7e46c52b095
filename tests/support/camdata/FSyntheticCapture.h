#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FRect.h"

// Raw and dark frames that go with AddPlausibleCalibration: three unsigned 12-bit samples
// per pixel (R, G, B), rows packed. The dark frame is 64 +- 2 everywhere; the raw frame
// equals its dark frame in the shields and outside the active area, and adds a scene in
// linear Q12 inside it: a grey gradient, an 18 % grey card, a white patch, six colour
// patches and a few clipped spots. Deterministic for a seed.
struct FSyntheticCapture {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> raw;
    std::vector<uint16_t> dark;

    FRect greyCard;      // linear level kGreyLevel in every channel
    FRect whitePatch;    // linear level kWhiteLevel in every channel
    FRect colourPatches; // six patches side by side: red, green, blue, cyan, magenta, yellow
    std::vector<FRect> clippedSpots;

    static constexpr int kDarkLevel = 64;
    static constexpr int kGreyLevel = 737;
    static constexpr int kWhiteLevel = 3600;
    static constexpr int kClipLevel = 4095;

    uint16_t* RawRow(int y) { return raw.data() + 3 * static_cast<size_t>(width) * y; }
    uint16_t* DarkRow(int y) { return dark.data() + 3 * static_cast<size_t>(width) * y; }
    int Stride() const { return 3 * width * static_cast<int>(sizeof(uint16_t)); }
};

// At least 64 x 48; 256 x 192 suits unit tests, 2640 x 1760 benchmarks. `light` scales
// the scene per channel: the camera's response to the light it was taken under (grey
// surfaces then read as that triple); white light by default.
FSyntheticCapture MakeSyntheticCapture(int width, int height, uint32_t seed = 1,
                                       const std::array<double, 3>& light = {1.0, 1.0, 1.0});
