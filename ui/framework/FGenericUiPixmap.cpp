#include "FGenericUiPixmap.h"

#include "FBlitRects.h"
#include "FIOsUiPixmap.h"
#include "FPixmap.h"
#include "FUiPixmapScale.h"

#include <algorithm>
#include <cstring>

namespace
{

FPixmap_Display* DisplayOf(FIUiPixmap* pixmap)
{
    if (pixmap == nullptr)
        return nullptr;
    FPixmap_Display* display = pixmap->GetDisplayPixmap();
    return display != nullptr && display->GetBuffer() != nullptr ? display : nullptr;
}

// The copy of `source` of `from` into `destination` of `to`: both pixmaps' pixels and the
// clipped rectangles; false when there is nothing to draw.
struct FUiBlit {
    FPixmap_Display* dst = nullptr;
    FPixmap_Display* src = nullptr;
    FRect d;
    FRect s;

    bool Prepare(FIUiPixmap* from, FIUiPixmap* to, const FRect& destination, const FRect& source)
    {
        dst = DisplayOf(to);
        src = DisplayOf(from);
        if (dst == nullptr || src == nullptr)
            return false;
        d = destination;
        s = source;
        return ClipBlitRectsToSizes(dst->GetCols(), dst->GetRows(), d, src->GetCols(), src->GetRows(), s);
    }
};

} // namespace

FGenericUiPixmap::FGenericUiPixmap() = default;

FGenericUiPixmap::~FGenericUiPixmap()
{
    DeleteOsUiPixmap(m_pOsPixmap);
    delete m_pDisplay;
}

void* FGenericUiPixmap::GetOsInfo(int kind)
{
    return m_pOsPixmap != nullptr ? m_pOsPixmap->GetOsInfo(kind) : nullptr;
}

bool FGenericUiPixmap::SetOsInfo(int kind, void* info)
{
    return m_pOsPixmap != nullptr && m_pOsPixmap->SetOsInfo(kind, info);
}

int FGenericUiPixmap::GetWidth()
{
    return m_pDisplay != nullptr ? m_pDisplay->GetCols() : 0;
}

int FGenericUiPixmap::GetHeight()
{
    return m_pDisplay != nullptr ? m_pDisplay->GetRows() : 0;
}

void FGenericUiPixmap::GetRect(FRect& rect)
{
    rect.Set(0, 0, GetWidth(), GetHeight());
}

uint8_t* FGenericUiPixmap::priPixel(int x, int y) const
{
    if (m_pDisplay == nullptr || m_pDisplay->GetBuffer() == nullptr)
        return nullptr;
    if (x < 0 || y < 0 || x >= m_pDisplay->GetCols() || y >= m_pDisplay->GetRows())
        return nullptr;
    return m_pDisplay->GetRowAddress(y) + ptrdiff_t(x) * 4;
}

void FGenericUiPixmap::GetPixel(int x, int y, FUiColor& colour)
{
    const uint8_t* p = priPixel(x, y);
    if (p == nullptr) {
        colour.Set(0, 0, 0, 0);
        return;
    }
    colour.Set(p[2], p[1], p[0], p[3]);
}

uint8_t FGenericUiPixmap::GetAlpha(int x, int y)
{
    const uint8_t* p = priPixel(x, y);
    return p != nullptr ? p[3] : 0;
}

bool FGenericUiPixmap::priClip(const FRect& rect, FRect& clipped) const
{
    if (m_pDisplay == nullptr || m_pDisplay->GetBuffer() == nullptr)
        return false;
    clipped.Set(std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, m_pDisplay->GetCols()),
                std::min(rect.bottom, m_pDisplay->GetRows()));
    return clipped.Width() > 0 && clipped.Height() > 0;
}

template <typename PixelOp>
void FGenericUiPixmap::priForEachPixel(const FRect& rect, PixelOp op)
{
    FRect r;
    if (!priClip(rect, r))
        return;
    for (int y = r.top; y < r.bottom; ++y) {
        uint8_t* p = m_pDisplay->GetRowAddress(y) + ptrdiff_t(r.left) * 4;
        for (int x = r.left; x < r.right; ++x, p += 4)
            op(p);
    }
}

void FGenericUiPixmap::FillRGB(uint8_t r, uint8_t g, uint8_t b)
{
    FRect all;
    GetRect(all);
    FillRectRGB(all, r, g, b);
}

void FGenericUiPixmap::FillRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    FRect all;
    GetRect(all);
    FillRectRGBA(all, r, g, b, a);
}

void FGenericUiPixmap::DrawFrame(const FRect& rect, const FUiColor& colour, const FRect* clip)
{
    const FRect edges[4] = {
        FRect(rect.left, rect.top, rect.left + 1, rect.bottom),
        FRect(rect.right - 1, rect.top, rect.right, rect.bottom),
        FRect(rect.left, rect.top, rect.right, rect.top + 1),
        FRect(rect.left, rect.bottom - 1, rect.right, rect.bottom),
    };
    for (FRect edge : edges) {
        if (clip != nullptr)
            edge.Set(std::max(edge.left, clip->left), std::max(edge.top, clip->top),
                     std::min(edge.right, clip->right), std::min(edge.bottom, clip->bottom));
        FillRect(edge, colour);
    }
}

void FGenericUiPixmap::FillRect(const FRect& rect, const FUiColor& colour)
{
    FillRectRGBA(rect, colour.red, colour.green, colour.blue, colour.alpha);
}

void FGenericUiPixmap::FillRectRGBA(const FRect& rect, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    FRect clipped;
    if (!priClip(rect, clipped))
        return;
    const uint8_t pixel[4] = {b, g, r, a};
    uint8_t* first = m_pDisplay->GetRowAddress(clipped.top) + ptrdiff_t(clipped.left) * 4;
    for (int x = 0; x < clipped.Width(); ++x)
        std::memcpy(first + ptrdiff_t(x) * 4, pixel, 4);
    const size_t rowBytes = size_t(clipped.Width()) * 4;
    for (int y = clipped.top + 1; y < clipped.bottom; ++y)
        std::memcpy(m_pDisplay->GetRowAddress(y) + ptrdiff_t(clipped.left) * 4, first, rowBytes);
}

void FGenericUiPixmap::FillRectRGB(const FRect& rect, uint8_t r, uint8_t g, uint8_t b)
{
    priForEachPixel(rect, [=](uint8_t* p) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
    });
}

void FGenericUiPixmap::BlendRect(const FRect& rect, const FUiColor& colour)
{
    const uint8_t source[4] = {colour.blue, colour.green, colour.red, colour.alpha};
    if (colour.alpha == 0)
        return;
    priForEachPixel(rect, [&](uint8_t* p) { CompositeUiPixel(source, p); });
}

bool FGenericUiPixmap::Blit(FIUiPixmap* target, const FRect& destination, const FRect& source)
{
    FUiBlit b;
    if (!b.Prepare(this, target, destination, source))
        return false;
    if (b.d.Width() != b.s.Width() || b.d.Height() != b.s.Height())
        return ScaleUiBlit(*b.src, b.s, *b.dst, b.d);
    const size_t rowBytes = size_t(b.d.Width()) * 4;
    for (int k = 0; k < b.d.Height(); ++k)
        std::memmove(b.dst->GetRowAddress(b.d.top + k) + ptrdiff_t(b.d.left) * 4,
                     b.src->GetRowAddress(b.s.top + k) + ptrdiff_t(b.s.left) * 4, rowBytes);
    return true;
}

bool FGenericUiPixmap::BlendBlit(FIUiPixmap* target, const FRect& destination, const FRect& source)
{
    FUiBlit b;
    if (!b.Prepare(this, target, destination, source))
        return false;
    const int width = std::min(b.d.Width(), b.s.Width());
    const int height = std::min(b.d.Height(), b.s.Height());
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = b.src->GetRowAddress(b.s.top + y) + ptrdiff_t(b.s.left) * 4;
        uint8_t* out = b.dst->GetRowAddress(b.d.top + y) + ptrdiff_t(b.d.left) * 4;
        for (int x = 0; x < width; ++x)
            CompositeUiPixel(in + ptrdiff_t(x) * 4, out + ptrdiff_t(x) * 4);
    }
    return true;
}

void FGenericUiPixmap::DrawNineSlice(FIUiPixmap* target, int left, int top, int right, int bottom,
                                     bool fillCentre)
{
    if (target == nullptr || DisplayOf(this) == nullptr || DisplayOf(target) == nullptr)
        return;
    const int sw = GetWidth();
    const int sh = GetHeight();
    const int w = target->GetWidth();
    const int h = target->GetHeight();
    if (right < left || bottom < top) {
        Blit(target, FRect(0, 0, w, h), FRect(0, 0, sw, sh));
        return;
    }
    const int rc = sw - right - 1;
    const int bc = sh - bottom - 1;
    const int mw = w - rc - left;
    const int mh = h - bc - top;
    const auto copy = [&](int sx, int sy, int cw, int ch, int tx, int ty) {
        if (cw > 0 && ch > 0)
            Blit(target, FRect(tx, ty, tx + cw, ty + ch), FRect(sx, sy, sx + cw, sy + ch));
    };
    copy(0, 0, left, top, 0, 0);
    copy(right + 1, 0, rc, top, w - rc, 0);
    copy(0, bottom + 1, left, bc, 0, h - bc);
    copy(right + 1, bottom + 1, rc, bc, w - rc, h - bc);
    for (int k = 0; k < mh; ++k) {
        copy(0, top, left, 1, 0, top + k);
        copy(right + 1, top, rc, 1, w - rc, top + k);
    }
    for (int k = 0; k < mw; ++k) {
        copy(left, 0, 1, top, left + k, 0);
        copy(left, bottom + 1, 1, bc, left + k, h - bc);
    }
    if (fillCentre && mw > 0 && mh > 0) {
        FUiColor centre;
        GetPixel(left, top, centre);
        target->FillRect(FRect(left, top, left + mw, top + mh), centre);
    }
}

void FGenericUiPixmap::DrawNineSliceRect(FIUiPixmap* target, const FRect& band, bool fillCentre)
{
    DrawNineSlice(target, band.left, band.top, band.right - 1, band.bottom - 1, fillCentre);
}

void FGenericUiPixmap::DrawThreeSlice(FIUiPixmap* target, int left, int /*top*/, int right, int /*bottom*/)
{
    if (target == nullptr || DisplayOf(this) == nullptr || DisplayOf(target) == nullptr)
        return;
    const int sw = GetWidth();
    const int sh = GetHeight();
    const int w = target->GetWidth();
    const int h = target->GetHeight();
    if (left > 0)
        Blit(target, FRect(0, 0, left, h), FRect(0, 0, left, sh));
    const int c = sw - right - 1;
    if (c > 0)
        Blit(target, FRect(w - c, 0, w, h), FRect(sw - c, 0, sw, sh));
    if (right >= left)
        Blit(target, FRect(left, 0, w - c, h), FRect(left, 0, right + 1, sh));
}

void FGenericUiPixmap::DrawThreeSliceRect(FIUiPixmap* target, const FRect& band)
{
    DrawThreeSlice(target, band.left, band.top, band.right - 1, band.bottom - 1);
}

void FGenericUiPixmap::SetDisplayPixmap(FPixmap_Display* display)
{
    if (display == m_pDisplay)
        return;
    delete m_pDisplay;
    m_pDisplay = display;
}

void FGenericUiPixmap::AlphaFromGreen()
{
    FRect all;
    GetRect(all);
    priForEachPixel(all, [](uint8_t* p) { p[3] = p[1]; });
}

void FGenericUiPixmap::ScaleAlpha(int factor)
{
    const uint32_t f = static_cast<uint32_t>(std::clamp(factor, 0, 255));
    FRect all;
    GetRect(all);
    priForEachPixel(all, [f](uint8_t* p) { p[3] = static_cast<uint8_t>(p[3] * f / 255); });
}

void FGenericUiPixmap::SetRGB(uint8_t r, uint8_t g, uint8_t b)
{
    FRect all;
    GetRect(all);
    FillRectRGB(all, r, g, b);
}

namespace
{

// A pixmap whose OS half made no pixels is of no use to anyone: the factories give null.
FIUiPixmap* KeepIfPixels(FGenericUiPixmap* pixmap)
{
    if (pixmap->GetDisplayPixmap() != nullptr && pixmap->GetDisplayPixmap()->GetBuffer() != nullptr)
        return pixmap;
    delete pixmap;
    return nullptr;
}

} // namespace

FIUiPixmap* CreateUiPixmap(int width, int height, bool osBitmap)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    auto* pixmap = new FGenericUiPixmap();
    pixmap->SetOsPixmap(CreateOsUiPixmap(pixmap, width, height, osBitmap));
    return KeepIfPixels(pixmap);
}

FIUiPixmap* CreateUiPixmapFromDisplay(const FPixmap_Display* display, bool osBitmap)
{
    if (display == nullptr)
        return nullptr;
    auto* pixmap = new FGenericUiPixmap();
    pixmap->SetOsPixmap(CreateOsUiPixmap(pixmap, display, osBitmap));
    return KeepIfPixels(pixmap);
}

FIUiPixmap* CreateTextUiPixmap(const char16_t* text, const char16_t* face, int height, bool bold, bool italic,
                               bool underline, const FUiColor& colour, int* prefixWidths, bool osBitmap)
{
    if (text == nullptr || face == nullptr || text[0] == u'\0')
        return nullptr;
    auto* pixmap = new FGenericUiPixmap();
    pixmap->SetOsPixmap(
        CreateOsUiPixmap(pixmap, text, face, height, bold, italic, underline, prefixWidths, osBitmap));
    if (KeepIfPixels(pixmap) == nullptr)
        return nullptr;
    pixmap->AlphaFromGreen();
    pixmap->ScaleAlpha(colour.alpha);
    pixmap->SetRGB(colour.red, colour.green, colour.blue);
    return pixmap;
}

void ReleaseUiPixmap(FIUiPixmap*& holder)
{
    delete holder;
    holder = nullptr;
}

bool MeasureUiText(const char16_t* face, int height, bool bold, bool italic, bool underline, int* lineHeight,
                   int* averageWidth)
{
    return MeasureOsText(face, height, bold, italic, underline, lineHeight, averageWidth);
}

bool MeasureUiTextExtents(const char16_t* text, const char16_t* face, int height, bool bold, bool italic,
                          bool underline, int* prefixWidths)
{
    return MeasureOsTextExtents(text, face, height, bold, italic, underline, prefixWidths);
}
