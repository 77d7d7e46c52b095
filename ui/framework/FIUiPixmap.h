#pragma once

#include "FIOsObject.h"
#include "FRect.h"
#include "FUiColor.h"

#include <cstdint>

class FPixmap_Display;

// A picture of the user interface: 4 bytes per pixel (blue, green, red, alpha; 255 is
// opaque), rows top-down, stride width x 4. Made only by the factory functions below and
// released with ReleaseUiPixmap. Rectangles have exclusive right and bottom edges.
class FIUiPixmap : public FIOsObject
{
public:
    virtual FPixmap_Display* GetDisplayPixmap() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual void GetRect(FRect& rect) = 0;
    // 0, 0, 0, 0 outside the pixmap.
    virtual void GetPixel(int x, int y, FUiColor& colour) = 0;
    virtual uint8_t GetAlpha(int x, int y) = 0;
    virtual void FillRGB(uint8_t r, uint8_t g, uint8_t b) = 0;
    virtual void FillRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) = 0;
    // A one-pixel outline, each edge clipped to `clip` when one is given.
    virtual void DrawFrame(const FRect& rect, const FUiColor& colour, const FRect* clip) = 0;
    virtual void FillRect(const FRect& rect, const FUiColor& colour) = 0;
    virtual void FillRectRGBA(const FRect& rect, uint8_t r, uint8_t g, uint8_t b, uint8_t a) = 0;
    // Keeps the alpha of the pixels.
    virtual void FillRectRGB(const FRect& rect, uint8_t r, uint8_t g, uint8_t b) = 0;
    // Composites the colour, by its alpha, over the rectangle.
    virtual void BlendRect(const FRect& rect, const FUiColor& colour) = 0;
    // Copies `source` of this pixmap into `destination` of `target`, scaled when the sizes
    // differ; false when nothing was drawn.
    virtual bool Blit(FIUiPixmap* target, const FRect& destination, const FRect& source) = 0;
    // Composites `source` of this pixmap over `destination` of `target` by alpha, without
    // scaling: rectangles of different sizes composite only their common top-left part.
    virtual bool BlendBlit(FIUiPixmap* target, const FRect& destination, const FRect& source) = 0;
    // This pixmap is a skin whose inner band is columns left..right and rows top..bottom
    // (inclusive); it fills the whole target with fixed corners and repeated edges.
    virtual void DrawNineSlice(FIUiPixmap* target, int left, int top, int right, int bottom,
                               bool fillCentre) = 0;
    // The band as a rectangle with exclusive right and bottom.
    virtual void DrawNineSliceRect(FIUiPixmap* target, const FRect& band, bool fillCentre) = 0;
    // Fixed left and right caps over the full height, the middle scaled.
    virtual void DrawThreeSlice(FIUiPixmap* target, int left, int top, int right, int bottom) = 0;
    virtual void DrawThreeSliceRect(FIUiPixmap* target, const FRect& band) = 0;
    virtual ~FIUiPixmap() = default;
};

// Null for an empty size or when the pixels cannot be made. The pixels are not cleared.
FIUiPixmap* CreateUiPixmap(int width, int height, bool osBitmap);
// A copy of `display`'s pixels; null for a null display pixmap.
FIUiPixmap* CreateUiPixmapFromDisplay(const FPixmap_Display* display, bool osBitmap);
// The text in `colour`, its alpha the glyph coverage times the colour's alpha / 255; one
// column of margin left and right. Null for a null or empty text, a null face, or a font
// that cannot be made. `prefixWidths`, when given, holds one entry per UTF-16 unit.
FIUiPixmap* CreateTextUiPixmap(const char16_t* text, const char16_t* face, int height, bool bold, bool italic,
                               bool underline, const FUiColor& colour, int* prefixWidths, bool osBitmap);
// Deletes the pixmap the holder points to and clears the holder.
void ReleaseUiPixmap(FIUiPixmap*& holder);

bool MeasureUiText(const char16_t* face, int height, bool bold, bool italic, bool underline, int* lineHeight,
                   int* averageWidth);
bool MeasureUiTextExtents(const char16_t* text, const char16_t* face, int height, bool bold, bool italic,
                          bool underline, int* prefixWidths);
