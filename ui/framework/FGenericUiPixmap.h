#pragma once

#include "FIGenericUiPixmap.h"

#include <cstdint>
#include <cstring>

class FIOsUiPixmap;

// The portable UI pixmap over the pixels its OS pixmap owns.
class FGenericUiPixmap : public FIGenericUiPixmap
{
public:
    FGenericUiPixmap();
    ~FGenericUiPixmap() override;
    FGenericUiPixmap(const FGenericUiPixmap&) = delete;
    FGenericUiPixmap& operator=(const FGenericUiPixmap&) = delete;

    // Takes the OS pixmap made for this pixmap.
    void SetOsPixmap(FIOsUiPixmap* os) { m_pOsPixmap = os; }

    void* GetOsInfo(int kind) override;
    bool SetOsInfo(int kind, void* info) override;

    FPixmap_Display* GetDisplayPixmap() override { return m_pDisplay; }
    int GetWidth() override;
    int GetHeight() override;
    void GetRect(FRect& rect) override;
    void GetPixel(int x, int y, FUiColor& colour) override;
    uint8_t GetAlpha(int x, int y) override;
    void FillRGB(uint8_t r, uint8_t g, uint8_t b) override;
    void FillRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) override;
    void DrawFrame(const FRect& rect, const FUiColor& colour, const FRect* clip) override;
    void FillRect(const FRect& rect, const FUiColor& colour) override;
    void FillRectRGBA(const FRect& rect, uint8_t r, uint8_t g, uint8_t b, uint8_t a) override;
    void FillRectRGB(const FRect& rect, uint8_t r, uint8_t g, uint8_t b) override;
    void BlendRect(const FRect& rect, const FUiColor& colour) override;
    bool Blit(FIUiPixmap* target, const FRect& destination, const FRect& source) override;
    bool BlendBlit(FIUiPixmap* target, const FRect& destination, const FRect& source) override;
    void DrawNineSlice(FIUiPixmap* target, int left, int top, int right, int bottom,
                       bool fillCentre) override;
    void DrawNineSliceRect(FIUiPixmap* target, const FRect& band, bool fillCentre) override;
    void DrawThreeSlice(FIUiPixmap* target, int left, int top, int right, int bottom) override;
    void DrawThreeSliceRect(FIUiPixmap* target, const FRect& band) override;

    void SetDisplayPixmap(FPixmap_Display* display) override;
    void AlphaFromGreen() override;
    void ScaleAlpha(int factor) override;
    void SetRGB(uint8_t r, uint8_t g, uint8_t b) override;

private:
    // The pixel at (x, y), or null outside or without pixels.
    uint8_t* priPixel(int x, int y) const;
    // The rectangle cut to the pixmap; false when nothing is left.
    bool priClip(const FRect& rect, FRect& clipped) const;
    template <typename PixelOp>
    void priForEachPixel(const FRect& rect, PixelOp op);

    FIOsUiPixmap* m_pOsPixmap = nullptr;
    FPixmap_Display* m_pDisplay = nullptr;
};

// Composites one source pixel (b, g, r, a) over one destination pixel (b, g, r, a):
// integer arithmetic with one division in the general case. Inline: it runs per pixel.
inline void CompositeUiPixel(const uint8_t* source, uint8_t* destination)
{
    const auto blend255 = [](uint32_t c) { return static_cast<uint8_t>((c + 1 + (c >> 8)) >> 8); };
    const uint32_t t = source[3];
    const uint32_t u = destination[3];
    if (t == 0)
        return;
    if (t == 255 || u == 0) {
        std::memcpy(destination, source, 4);
        return;
    }
    if (u == 255) {
        for (int k = 0; k < 3; ++k)
            destination[k] = blend255(source[k] * t + destination[k] * (255 - t));
        destination[3] = 255;
        return;
    }
    const uint32_t rest = (255 - t) * u;
    const uint32_t v = (rest + 1 + (rest >> 8)) >> 8;
    const uint32_t a = t + v;
    const uint32_t w = (uint32_t(1) << 24) / a;
    for (int k = 0; k < 3; ++k)
        destination[k] = static_cast<uint8_t>((source[k] * t * w + destination[k] * v * w) >> 24);
    destination[3] = static_cast<uint8_t>(a);
}
