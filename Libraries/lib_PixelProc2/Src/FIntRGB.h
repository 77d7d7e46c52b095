#pragma once

#include <cstdint>

#include "FException.h" // FExceptionPixelProc2, the library's own exception

// An integer RGB triple: samples, sample differences, Q12/Q13 intermediates and sums
// alike. Arithmetic is 32-bit two's complement, unchecked.
struct FIntRGB {
    int32_t r = 0;
    int32_t g = 0;
    int32_t b = 0;

    FIntRGB() = default;
    constexpr FIntRGB(int32_t red, int32_t green, int32_t blue) : r(red), g(green), b(blue) {}

    void Clear() { r = g = b = 0; }
    void Set(int32_t red, int32_t green, int32_t blue)
    {
        r = red;
        g = green;
        b = blue;
    }
    void SetAll(int32_t v) { r = g = b = v; }

    void SubtractInPlace(const FIntRGB& o)
    {
        r -= o.r;
        g -= o.g;
        b -= o.b;
    }
    void SubtractScalarInPlace(int32_t v)
    {
        r -= v;
        g -= v;
        b -= v;
    }
    FIntRGB Subtract(const FIntRGB& o) const { return {r - o.r, g - o.g, b - o.b}; }
    FIntRGB SubtractScalar(int32_t v) const { return {r - v, g - v, b - v}; }
    FIntRGB Add(const FIntRGB& o) const { return {r + o.r, g + o.g, b + o.b}; }
    FIntRGB AddScalar(int32_t v) const { return {r + v, g + v, b + v}; }
    FIntRGB MulScalar(int32_t v) const { return {r * v, g * v, b * v}; }
    // Truncates toward zero.
    FIntRGB DivideScalar(int32_t v) const { return {r / v, g / v, b / v}; }
    // Arithmetic shift: -7 >> 1 is -4.
    FIntRGB ShiftRight(int n) const { return {r >> n, g >> n, b >> n}; }
    FIntRGB operator<<(int n) const
    {
        return {static_cast<int32_t>(static_cast<uint32_t>(r) << n),
                static_cast<int32_t>(static_cast<uint32_t>(g) << n),
                static_cast<int32_t>(static_cast<uint32_t>(b) << n)};
    }

    // Stores the low 8 bits of b, g, r and then 255 as the four bytes of a 32-bit BGRA pixel.
    void ToBGRA(void* pixel) const
    {
        uint8_t* p = static_cast<uint8_t*>(pixel);
        p[0] = static_cast<uint8_t>(b);
        p[1] = static_cast<uint8_t>(g);
        p[2] = static_cast<uint8_t>(r);
        p[3] = 255;
    }

    bool operator==(const FIntRGB&) const = default;
};

// A triple of doubles: gains, neutrals, averages and camera-data triples.
struct FDoubleRGB {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;

    FDoubleRGB() = default;
    constexpr FDoubleRGB(double red, double green, double blue) : r(red), g(green), b(blue) {}

    void Clear() { r = g = b = 0.0; }
    void Set(double red, double green, double blue)
    {
        r = red;
        g = green;
        b = blue;
    }
    void Fill(double v) { r = g = b = v; }
    void FromIntRGB(const FIntRGB& t)
    {
        r = t.r;
        g = t.g;
        b = t.b;
    }

    // In place, channel by channel.
    void Multiply(const FDoubleRGB& o)
    {
        r *= o.r;
        g *= o.g;
        b *= o.b;
    }
    void Scale(double s)
    {
        r *= s;
        g *= s;
        b *= s;
    }
    void Divide(double s)
    {
        r /= s;
        g /= s;
        b /= s;
    }
    void AddInPlace(const FDoubleRGB& o)
    {
        r += o.r;
        g += o.g;
        b += o.b;
    }
    FDoubleRGB ScaledCopy(double s) const { return {r * s, g * s, b * s}; }
    FDoubleRGB DivideCopy(double s) const { return {r / s, g / s, b / s}; }

    // Exact comparison of all three channels.
    bool operator==(const FDoubleRGB&) const = default;
};

// The D65 white point as a chromaticity triple.
inline constexpr FDoubleRGB kD65WhitePoint{0.3127, 0.329, 0.3583};
