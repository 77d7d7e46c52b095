#pragma once

#include <cstdint>

// A colour of four bytes in the order red, green, blue, alpha; new colours are opaque black.
struct FUiColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 255;

    FUiColor() = default;
    FUiColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) : red(r), green(g), blue(b), alpha(a) {}

    void Set(uint8_t r, uint8_t g, uint8_t b, uint8_t a)
    {
        red = r;
        green = g;
        blue = b;
        alpha = a;
    }

    bool operator==(const FUiColor&) const = default;
};
