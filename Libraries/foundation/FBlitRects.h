#pragma once

#include "FRect.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Clips a copy of source rectangle `s` (in a source of srcW x srcH) to destination
// rectangle `d` (in a destination of dstW x dstH): each side cut off one rectangle
// moves the matching side of the other by the same share of its size, with signed
// divisions truncating toward zero. False when nothing is left to copy.
inline bool ClipBlitRectsToSizes(int dstW, int dstH, FRect& d, int srcW, int srcH, FRect& s)
{
    // One side of `a` is cut to [0, limit); `b`'s matching side moves in proportion.
    // 64-bit products: rectangles from scripts may be large.
    const auto clip = [](FRect& a, FRect& b, int limitX, int limitY) {
        if (a.left < 0) {
            b.left -= static_cast<int32_t>(int64_t(b.Width()) * a.left / a.Width());
            a.left = 0;
        }
        if (a.top < 0) {
            b.top -= static_cast<int32_t>(int64_t(b.Height()) * a.top / a.Height());
            a.top = 0;
        }
        if (a.right > limitX) {
            b.right -= static_cast<int32_t>(int64_t(b.Width()) * (int64_t(a.right) - limitX) / a.Width());
            a.right = limitX;
        }
        if (a.bottom > limitY) {
            b.bottom -= static_cast<int32_t>(int64_t(b.Height()) * (int64_t(a.bottom) - limitY) / a.Height());
            a.bottom = limitY;
        }
    };
    const auto outside = [](const FRect& r, int w, int h) {
        return r.left > w - 1 || r.top > h - 1 || r.right - 1 < 0 || r.bottom - 1 < 0;
    };
    if (dstW <= 0 || dstH <= 0 || srcW <= 0 || srcH <= 0)
        return false;
    if (d.Width() <= 0 || d.Height() <= 0 || s.Width() <= 0 || s.Height() <= 0 || outside(d, dstW, dstH))
        return false;
    clip(d, s, dstW, dstH);
    if (s.Width() <= 0 || s.Height() <= 0 || outside(s, srcW, srcH))
        return false;
    clip(s, d, srcW, srcH);
    return d.Width() > 0 && d.Height() > 0 && !outside(d, dstW, dstH);
}

// Nearest-pixel reductions shared by the UI pixmap and the display blitters; 4-byte
// pixels, 15-bit fractions starting at 0, rectangles already clipped. Reads run ahead of
// writes, so the source and destination may be the same rows of one buffer.
namespace blit_detail
{

inline uint8_t* PixelAt(uint8_t* base, int stride, int x, int y)
{
    return base + ptrdiff_t(y) * stride + ptrdiff_t(x) * 4;
}

} // namespace blit_detail

// A position that advances by a 15-bit fixed-point step: `pos` is the whole part, `f` the
// fraction (0 to 0x7FFF). Used by the reductions, which start at the first pixel.
struct FFixedStep {
    uint32_t step;
    uint32_t f = 0;
    int pos = 0;

    explicit FFixedStep(uint32_t s) : step(s) {}
    void Next()
    {
        f += step;
        pos += int(f >> 15);
        f &= 0x7FFFu;
    }
};

// Every row of `s` into the narrower `d` (same height).
inline void ScaleRowsNarrowerNearest(uint8_t* src, int srcStride, const FRect& s, uint8_t* dst, int dstStride,
                                     const FRect& d)
{
    const uint32_t step = uint32_t(s.Width() - 1) * 0x8000u / uint32_t(d.Width());
    for (int row = 0; row < s.Height(); ++row) {
        const uint8_t* in = blit_detail::PixelAt(src, srcStride, s.left, s.top + row);
        uint8_t* out = blit_detail::PixelAt(dst, dstStride, d.left, d.top + row);
        FFixedStep x(step);
        for (int i = 0; i < d.Width(); ++i, x.Next())
            std::memmove(out + ptrdiff_t(i) * 4, in + ptrdiff_t(x.pos) * 4, 4);
    }
}

// Rows of `s` into the shorter `d` (same width).
inline void ScaleColumnsShorterNearest(uint8_t* src, int srcStride, const FRect& s, uint8_t* dst,
                                       int dstStride, const FRect& d)
{
    const size_t rowBytes = size_t(s.Width()) * 4;
    FFixedStep y(uint32_t(s.Height() - 1) * 0x8000u / uint32_t(d.Height()));
    for (int i = 0; i < d.Height(); ++i, y.Next())
        std::memmove(blit_detail::PixelAt(dst, dstStride, d.left, d.top + i),
                     blit_detail::PixelAt(src, srcStride, s.left, s.top + y.pos), rowBytes);
}
