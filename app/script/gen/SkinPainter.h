#pragma once

// The application's skins, drawn by program: rounded panels, line-art icons
// and cursors in the application's neutral dark theme. Nothing is read from
// outside, so every build draws the same pixels.

#include <cstdint>
#include <string>
#include <vector>

struct FSkinImage {
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba; // width * height * 4, straight alpha

    uint32_t Pixel(int x, int y) const; // 0xRRGGBBAA
};

// Every skin file of the application, in a fixed order.
std::vector<FSkinImage> PaintAllSkins();

// Writes an 8-bit RGBA PNG; false on failure.
bool WriteSkinPng(const std::string& path, const FSkinImage& image);
