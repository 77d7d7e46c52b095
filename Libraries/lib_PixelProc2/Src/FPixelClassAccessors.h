#pragma once

#include <cstdint>
#include <cstring>

#include "FIntRGB.h"
#include "FPixelAccessors.h"
#include "FPixmap.h"

// Per-pixel accessors of the colour pixel classes, completing those of FPixelAccessors.h:
// GetPixelRGB<P>, SetPixelRGB<P>, SetPixelRGB3<P> and SetPixelMono<P> on a pointer to the
// first byte of a pixel. Words are little-endian. Nothing clamps: stores keep the low bits
// a channel holds.

namespace pixel_detail
{
inline uint32_t Load32(const void* p)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
inline void Store32(void* p, uint32_t w)
{
    uint8_t* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(w);
    b[1] = uint8_t(w >> 8);
    b[2] = uint8_t(w >> 16);
    b[3] = uint8_t(w >> 24);
}
inline uint16_t Load16(const void* p)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return uint16_t(b[0] | b[1] << 8);
}
inline void Store16(void* p, uint32_t v)
{
    uint8_t* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(v);
    b[1] = uint8_t(v >> 8);
}

// The 11-bit channels of a 30-bit "L" word. Byte 0 holds the top bits of R (id 8) or B
// (id 9) and byte 2 those of the other; the low bits in byte 3 are always R bits 0-2,
// G bits 0-2 and B bits 1-2 (B bit 0 is not stored).
inline FIntRGB Unpack30L(uint32_t w, bool blueFirst)
{
    const uint32_t top0 = w & 0xFF;
    const uint32_t top2 = (w >> 16) & 0xFF;
    const int32_t r = int32_t(((blueFirst ? top2 : top0) << 3) | (w >> 29));
    const int32_t g = int32_t((((w >> 8) & 0xFF) << 3) | ((w >> 26) & 7));
    const int32_t b = int32_t(((blueFirst ? top0 : top2) << 3) | (((w >> 24) & 3) << 1));
    return {r, g, b};
}

inline uint32_t Pack30RGBL(int32_t r, int32_t g, int32_t b)
{
    const uint32_t ur = uint32_t(r) & 2047;
    const uint32_t ug = uint32_t(g) & 2047;
    const uint32_t ub = uint32_t(b) & 2047;
    return (ur >> 3) | (ug >> 3) << 8 | (ub >> 3) << 16 | ((ub >> 1) & 3) << 24 | (ug & 7) << 26 |
           (ur & 7) << 29;
}

inline uint32_t Pack30RGB(int32_t r, int32_t g, int32_t b)
{
    return (uint32_t(r) & 2047) | (uint32_t(g) & 2047) << 11 | (uint32_t(b >> 1) & 1023) << 22;
}
} // namespace pixel_detail

template <class P>
void SetPixelRGB3(void* pixel, int32_t r, int32_t g, int32_t b) = delete;
template <class P>
void SetPixelMono(void* pixel, int32_t v) = delete;

// --- 24-bit BGR (also reads the first three bytes of 32-bit BGRA)
template <>
inline FIntRGB GetPixelRGB<FPixelClass24BGR>(const void* pixel)
{
    const uint8_t* p = static_cast<const uint8_t*>(pixel);
    return {p[2], p[1], p[0]};
}
template <>
inline void SetPixelRGB<FPixelClass24BGR>(void* pixel, const FIntRGB& t)
{
    uint8_t* p = static_cast<uint8_t*>(pixel);
    p[0] = uint8_t(t.b);
    p[1] = uint8_t(t.g);
    p[2] = uint8_t(t.r);
}
template <>
inline void SetPixelMono<FPixelClass24BGR>(void* pixel, int32_t v)
{
    std::memset(pixel, uint8_t(v), 3);
}

// --- 24-bit RGB (also reads the first three bytes of 32-bit RGBA)
template <>
inline FIntRGB GetPixelRGB<FPixelClass24RGB>(const void* pixel)
{
    const uint8_t* p = static_cast<const uint8_t*>(pixel);
    return {p[0], p[1], p[2]};
}
template <>
inline void SetPixelMono<FPixelClass24RGB>(void* pixel, int32_t v)
{
    std::memset(pixel, uint8_t(v), 3);
}

// --- 30-bit packed types
template <>
inline FIntRGB GetPixelRGB<FPixelClass30RGBL>(const void* pixel)
{
    return pixel_detail::Unpack30L(pixel_detail::Load32(pixel), false);
}
template <>
inline void SetPixelRGB3<FPixelClass30RGBL>(void* pixel, int32_t r, int32_t g, int32_t b)
{
    pixel_detail::Store32(pixel, pixel_detail::Pack30RGBL(r, g, b));
}
template <>
inline void SetPixelRGB<FPixelClass30RGBL>(void* pixel, const FIntRGB& t)
{
    SetPixelRGB3<FPixelClass30RGBL>(pixel, t.r, t.g, t.b);
}
template <>
inline FIntRGB GetPixelRGB<FPixelClass30BGRL>(const void* pixel)
{
    return pixel_detail::Unpack30L(pixel_detail::Load32(pixel), true);
}
template <>
inline FIntRGB GetPixelRGB<FPixelClass30RGB>(const void* pixel)
{
    const uint32_t w = pixel_detail::Load32(pixel);
    return {int32_t(w & 2047), int32_t((w >> 11) & 2047), int32_t((w >> 22) << 1)};
}
template <>
inline void SetPixelRGB3<FPixelClass30RGB>(void* pixel, int32_t r, int32_t g, int32_t b)
{
    pixel_detail::Store32(pixel, pixel_detail::Pack30RGB(r, g, b));
}
template <>
inline void SetPixelRGB<FPixelClass30RGB>(void* pixel, const FIntRGB& t)
{
    SetPixelRGB3<FPixelClass30RGB>(pixel, t.r, t.g, t.b);
}

// --- 32-bit types; the alpha byte is never read
template <>
inline FIntRGB GetPixelRGB<FPixelClass32ARGB>(const void* pixel)
{
    const uint8_t* p = static_cast<const uint8_t*>(pixel);
    return {p[1], p[2], p[3]};
}
template <>
inline void SetPixelRGB<FPixelClass32ARGB>(void* pixel, const FIntRGB& t)
{
    uint8_t* p = static_cast<uint8_t*>(pixel);
    p[0] = 255;
    p[1] = uint8_t(t.r);
    p[2] = uint8_t(t.g);
    p[3] = uint8_t(t.b);
}
template <>
inline void SetPixelMono<FPixelClass32ARGB>(void* pixel, int32_t v)
{
    uint8_t* p = static_cast<uint8_t*>(pixel);
    p[0] = 255;
    p[1] = p[2] = p[3] = uint8_t(v);
}
template <>
inline FIntRGB GetPixelRGB<FPixelClass32ABGR>(const void* pixel)
{
    const uint8_t* p = static_cast<const uint8_t*>(pixel);
    return {p[3], p[2], p[1]};
}
template <>
inline FIntRGB GetPixelRGB<FPixelClass32BGRA>(const void* pixel)
{
    return GetPixelRGB<FPixelClass24BGR>(pixel);
}
template <>
inline void SetPixelMono<FPixelClass32BGRA>(void* pixel, int32_t v)
{
    uint8_t* p = static_cast<uint8_t*>(pixel);
    p[0] = p[1] = p[2] = uint8_t(v);
    p[3] = 255;
}
template <>
inline FIntRGB GetPixelRGB<FPixelClass32RGBA>(const void* pixel)
{
    return GetPixelRGB<FPixelClass24RGB>(pixel);
}

// --- 48-bit types
template <>
inline FIntRGB GetPixelRGB<FPixelClass48RGB>(const void* pixel)
{
    const uint8_t* p = static_cast<const uint8_t*>(pixel);
    return {pixel_detail::Load16(p), pixel_detail::Load16(p + 2), pixel_detail::Load16(p + 4)};
}
template <>
inline void SetPixelMono<FPixelClass48RGB>(void* pixel, int32_t v)
{
    uint8_t* p = static_cast<uint8_t*>(pixel);
    pixel_detail::Store16(p, uint32_t(v));
    pixel_detail::Store16(p + 2, uint32_t(v));
    pixel_detail::Store16(p + 4, uint32_t(v));
}
// Words B, G, R, read as signed.
template <>
inline FIntRGB GetPixelRGB<FPixelClass48BGR>(const void* pixel)
{
    const uint8_t* p = static_cast<const uint8_t*>(pixel);
    return {int16_t(pixel_detail::Load16(p + 4)), int16_t(pixel_detail::Load16(p + 2)),
            int16_t(pixel_detail::Load16(p))};
}
template <>
inline void SetPixelMono<FPixelClass48BGR>(void* pixel, int32_t v)
{
    SetPixelMono<FPixelClass48RGB>(pixel, v);
}
