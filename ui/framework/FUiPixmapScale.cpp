#include "FUiPixmapScale.h"

#include "FBlitRects.h"
#include "FPixmap.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

constexpr uint32_t kOne = 0x8000;

uint8_t* PixelAt(const FPixmap_Display& p, int x, int y)
{
    return p.GetRowAddress(y) + ptrdiff_t(x) * 4;
}

// The weights add up to one pixel exactly, so a flat 255 stays 255.
uint8_t Mix(uint8_t towards, uint8_t current, uint32_t f)
{
    return static_cast<uint8_t>((uint32_t(towards) * f + uint32_t(current) * (kOne - f)) >> 15);
}

// Right to left. The source row is copied first: when enlarging within one pixmap the
// last output pixels may still read source pixels already overwritten.
void ScaleRowsWiderLinear(const FPixmap_Display& src, const FRect& s, const FPixmap_Display& dst,
                          const FRect& d)
{
    const int sw = s.Width();
    const int dw = d.Width();
    const uint32_t step = uint32_t(sw - 1) * kOne / uint32_t(dw - 1);
    std::vector<uint8_t> row(size_t(sw) * 4);
    for (int y = 0; y < s.Height(); ++y) {
        std::memcpy(row.data(), PixelAt(src, s.left, s.top + y), row.size());
        const uint8_t* in = row.data();
        uint8_t* out = PixelAt(dst, d.left, d.top + y);
        int current = sw - 1;
        uint32_t f = 0;
        for (int x = dw - 1; x >= 0; --x) {
            const uint8_t* c = in + ptrdiff_t(current) * 4;
            uint8_t* o = out + ptrdiff_t(x) * 4;
            if (f == 0 || current == 0) {
                std::memcpy(o, c, 4);
            } else {
                const uint8_t* l = c - 4;
                for (int k = 0; k < 4; ++k)
                    o[k] = Mix(l[k], c[k], f);
            }
            f += step;
            if (f >= kOne) {
                f -= kOne;
                --current;
            }
        }
    }
}

// Bottom up with the current source row kept aside, so that source and destination may be
// the same rows of one pixmap.
void ScaleColumnsTallerLinear(const FPixmap_Display& src, const FRect& s, const FPixmap_Display& dst,
                              const FRect& d)
{
    const int width = s.Width();
    const size_t rowBytes = size_t(width) * 4;
    const uint32_t step = uint32_t(s.Height() - 1) * kOne / uint32_t(d.Height() - 1);
    int current = s.Height() - 1;
    std::vector<uint8_t> buffer(PixelAt(src, s.left, s.top + current),
                                PixelAt(src, s.left, s.top + current) + rowBytes);
    uint32_t f = 0;
    for (int y = d.Height() - 1; y >= 0; --y) {
        uint8_t* out = PixelAt(dst, d.left, d.top + y);
        if (f == 0 || current == 0) {
            std::memmove(out, buffer.data(), rowBytes);
        } else {
            const uint8_t* above = PixelAt(src, s.left, s.top + current - 1);
            for (size_t k = 0; k < rowBytes; ++k)
                out[k] = Mix(above[k], buffer[k], f);
        }
        f += step;
        if (f >= kOne && current > 0) {
            f -= kOne;
            --current;
            std::memmove(buffer.data(), PixelAt(src, s.left, s.top + current), rowBytes);
        }
    }
}

void ScaleRowsNarrowerNearest(const FPixmap_Display& src, const FRect& s, const FPixmap_Display& dst,
                              const FRect& d)
{
    ::ScaleRowsNarrowerNearest(src.GetBuffer(), src.GetStride(), s, dst.GetBuffer(), dst.GetStride(), d);
}

void ScaleColumnsShorterNearest(const FPixmap_Display& src, const FRect& s, const FPixmap_Display& dst,
                                const FRect& d)
{
    ::ScaleColumnsShorterNearest(src.GetBuffer(), src.GetStride(), s, dst.GetBuffer(), dst.GetStride(), d);
}

void ScaleBothSmallerNearest(const FPixmap_Display& src, const FRect& s, const FPixmap_Display& dst,
                             const FRect& d)
{
    FFixedStep sy(uint32_t(s.Height() - 1) * kOne / uint32_t(d.Height()));
    for (int y = 0; y < d.Height(); ++y, sy.Next()) {
        const uint8_t* in = PixelAt(src, s.left, s.top + sy.pos);
        uint8_t* out = PixelAt(dst, d.left, d.top + y);
        FFixedStep sx(uint32_t(s.Width() - 1) * kOne / uint32_t(d.Width()));
        for (int x = 0; x < d.Width(); ++x, sx.Next())
            std::memmove(out + ptrdiff_t(x) * 4, in + ptrdiff_t(sx.pos) * 4, 4);
    }
}

} // namespace

bool ScaleUiBlit(const FPixmap_Display& src, const FRect& s, const FPixmap_Display& dst, const FRect& d)
{
    const int sw = s.Width();
    const int sh = s.Height();
    const int dw = d.Width();
    const int dh = d.Height();
    if (dw == sw) {
        if (dh == sh)
            return false;
        if (dh > sh)
            ScaleColumnsTallerLinear(src, s, dst, d);
        else
            ScaleColumnsShorterNearest(src, s, dst, d);
        return true;
    }
    if (dw > sw) {
        if (dh == sh) {
            ScaleRowsWiderLinear(src, s, dst, d);
        } else if (dh > sh) {
            const FRect band(d.left, d.top, d.right, d.top + sh);
            ScaleRowsWiderLinear(src, s, dst, band);
            ScaleColumnsTallerLinear(dst, band, dst, d);
        } else {
            const FRect band(d.left, d.top, d.left + sw, d.bottom);
            ScaleColumnsShorterNearest(src, s, dst, band);
            ScaleRowsWiderLinear(dst, band, dst, d);
        }
        return true;
    }
    if (dh == sh) {
        ScaleRowsNarrowerNearest(src, s, dst, d);
    } else if (dh > sh) {
        const FRect band(d.left, d.top, d.right, d.top + sh);
        ScaleRowsNarrowerNearest(src, s, dst, band);
        ScaleColumnsTallerLinear(dst, band, dst, d);
    } else {
        ScaleBothSmallerNearest(src, s, dst, d);
    }
    return true;
}
