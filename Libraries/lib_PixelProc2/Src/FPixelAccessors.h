#pragma once

#include <cstdint>
#include <cstring>

#include "FIntRGB.h"
#include "FPixmap.h"

// Moving a triple in and out of a pixmap row; a pixel is addressed by a pointer to its
// first byte. Stores never clamp: a caller that needs saturation clamps first.

// The three signed 16-bit channels R, G, B of a signed 48-bit pixel, sign-extended.
inline FIntRGB GetRGB48S(const void* pixel)
{
    int16_t s[3];
    std::memcpy(s, pixel, sizeof(s));
    return {s[0], s[1], s[2]};
}

// The low 16 bits of r, g, b as the 16-bit channels R, G, B (unsigned and signed 48-bit
// RGB alike).
inline void SetRGB48(void* pixel, const FIntRGB& t)
{
    const uint16_t s[3] = {static_cast<uint16_t>(t.r), static_cast<uint16_t>(t.g),
                           static_cast<uint16_t>(t.b)};
    std::memcpy(pixel, s, sizeof(s));
}

// The low 8 bits of r, g, b as bytes R, G, B.
inline void SetRGB24(void* pixel, const FIntRGB& t)
{
    uint8_t* p = static_cast<uint8_t*>(pixel);
    p[0] = static_cast<uint8_t>(t.r);
    p[1] = static_cast<uint8_t>(t.g);
    p[2] = static_cast<uint8_t>(t.b);
}

// The same accessors named by pixel class: GetPixelRGB<FPixelClass48SRGB>(p),
// SetPixelRGB<FPixelClass48RGB>(p, t), SetPixelRGB<FPixelClass48SRGB>(p, t),
// SetPixelRGB<FPixelClass24RGB>(p, t). Other classes do not compile.
template <class P>
FIntRGB GetPixelRGB(const void* pixel) = delete;
template <class P>
void SetPixelRGB(void* pixel, const FIntRGB& t) = delete;

template <>
inline FIntRGB GetPixelRGB<FPixelClass48SRGB>(const void* pixel)
{
    return GetRGB48S(pixel);
}
template <>
inline void SetPixelRGB<FPixelClass48RGB>(void* pixel, const FIntRGB& t)
{
    SetRGB48(pixel, t);
}
template <>
inline void SetPixelRGB<FPixelClass48SRGB>(void* pixel, const FIntRGB& t)
{
    SetRGB48(pixel, t);
}
template <>
inline void SetPixelRGB<FPixelClass24RGB>(void* pixel, const FIntRGB& t)
{
    SetRGB24(pixel, t);
}
