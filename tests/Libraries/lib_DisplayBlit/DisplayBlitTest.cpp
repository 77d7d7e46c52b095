#include "FDisplayBlit.h"
#include "FPixmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

namespace
{

// A display pixmap over its own pixels, all set to one blue, green, red, alpha value.
struct Display {
    std::vector<uint8_t> pixels;
    FPixmap_Display pixmap;

    Display(int w, int h, std::array<uint8_t, 4> bgra = {0, 0, 0, 255})
        : pixels(size_t(w) * size_t(h) * 4), pixmap(pixels.data(), w, h, w * 4)
    {
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = bgra[i % 4];
    }
    uint8_t* At(int x, int y) { return pixmap.GetPixel(x, y); }
    std::array<uint8_t, 4> Get(int x, int y)
    {
        const uint8_t* p = At(x, y);
        return {p[0], p[1], p[2], p[3]};
    }
    void Set(int x, int y, std::array<uint8_t, 4> bgra) { std::copy(bgra.begin(), bgra.end(), At(x, y)); }
};

TEST(DisplayBlit, KernelHasItsFixedRowsAndSumsToOne)
{
    const FCubicKernel& k = GetCubicKernel();
    const std::pair<int, std::array<int32_t, 4>> fixed[] = {
        {0, {0, 0, 32768, 0}},
        {16, {-232, 2916, 31727, -1644}},
        {32, {-565, 7096, 28465, -2227}},
        {48, {-1037, 12271, 23626, -2092}},
        {64, {-1601, 17985, 17985, -1601}},
        {96, {-2227, 28465, 7096, -565}},
        {127, {-138, 32776, 143, -13}},
    };
    for (const auto& [row, weights] : fixed)
        EXPECT_EQ(k[size_t(row)], weights) << "row " << row;
    for (size_t r = 0; r < 128; ++r) {
        const int32_t sum = k[r][0] + k[r][1] + k[r][2] + k[r][3];
        EXPECT_TRUE(sum >= 32767 && sum <= 32769) << "row " << r << " sums to " << sum;
        if (r > 0) {
            EXPECT_EQ(k[r][0], k[128 - r][3]) << r;
            EXPECT_EQ(k[r][1], k[128 - r][2]) << r;
        }
    }
}

TEST(DisplayBlit, EqualSizesCopyAllFourBytes)
{
    Display source(3, 3, {1, 2, 3, 40});
    Display target(5, 5, {9, 9, 9, 9});
    const FRect d(-1, 1, 2, 4);
    const FRect s(0, 0, 3, 3);
    CopyDisplayPixmapRect(&target.pixmap, &d, &source.pixmap, &s);
    EXPECT_EQ(target.Get(0, 1), (std::array<uint8_t, 4>{1, 2, 3, 40}));
    EXPECT_EQ(target.Get(1, 3), (std::array<uint8_t, 4>{1, 2, 3, 40}));
    EXPECT_EQ(target.Get(2, 1), (std::array<uint8_t, 4>{9, 9, 9, 9}));
    EXPECT_EQ(target.Get(0, 0), (std::array<uint8_t, 4>{9, 9, 9, 9}));
}

TEST(DisplayBlit, MissingOrWrongArgumentsDoNothing)
{
    Display target(2, 2, {9, 9, 9, 9});
    Display source(2, 2, {1, 1, 1, 1});
    std::vector<uint8_t> rgbPixels(12, 1);
    FPixmap24RGB rgb(rgbPixels.data(), 2, 2, 6);
    FPixmap_Display noPixels(nullptr, 2, 2, 8);
    const FRect r(0, 0, 2, 2);
    CopyDisplayPixmapRect(&target.pixmap, nullptr, &source.pixmap, &r);
    CopyDisplayPixmapRect(&target.pixmap, &r, &rgb, &r);
    CopyDisplayPixmapRect(&target.pixmap, &r, &noPixels, &r);
    CopyDisplayPixmapRect(nullptr, &r, &source.pixmap, &r);
    BlendDisplayPixmapRect(&target.pixmap, &r, &rgb, &r, 10, 250, 0, 0);
    EXPECT_EQ(target.Get(1, 1), (std::array<uint8_t, 4>{9, 9, 9, 9}));
    FRect d = r;
    FRect s(5, 5, 8, 8);
    EXPECT_FALSE(ClipBlitRects(&target.pixmap, d, &source.pixmap, s));
}

TEST(DisplayBlit, ReductionByAverageIsOpaque)
{
    Display source(100, 100, {200, 100, 50, 0});
    Display target(50, 50, {0, 0, 0, 0});
    const FRect d(0, 0, 50, 50);
    const FRect s(0, 0, 100, 100);
    CopyDisplayPixmapRect(&target.pixmap, &d, &source.pixmap, &s);
    for (int y = 0; y < 50; y += 7) {
        for (int x = 0; x < 50; x += 7)
            EXPECT_EQ(target.Get(x, y), (std::array<uint8_t, 4>{200, 100, 50, 255})) << x << "," << y;
    }
}

TEST(DisplayBlit, TintedCopyAtEqualSizes)
{
    // Shadow colour red 200, alpha 128; highlight colour blue 255, alpha 64.
    const uint32_t shadow = 200u | (128u << 24);
    const uint32_t highlight = (255u << 16) | (64u << 24);
    const auto tint = [](uint32_t pixel, uint32_t colour, uint32_t a) {
        const uint32_t c = pixel * (255 - a) + colour * a;
        return static_cast<uint8_t>((c + 1 + (c >> 8)) >> 8);
    };
    Display source(3, 1);
    source.Set(0, 0, {0, 0, 0, 7});       // black: luminance 0
    source.Set(1, 0, {0, 0, 255, 7});     // red 255: luminance 77, highlight
    source.Set(2, 0, {128, 128, 128, 7}); // mid grey: copied as it is
    Display target(3, 1, {1, 1, 1, 1});
    const FRect r(0, 0, 3, 1);
    BlendDisplayPixmapRect(&target.pixmap, &r, &source.pixmap, &r, 10, 250, shadow, highlight);
    EXPECT_EQ(target.Get(0, 0), (std::array<uint8_t, 4>{0, 0, tint(0, 200, 128), 255}));
    EXPECT_EQ(target.Get(1, 0), (std::array<uint8_t, 4>{tint(0, 255, 64), 0, tint(255, 0, 64), 255}));
    EXPECT_EQ(target.Get(2, 0), (std::array<uint8_t, 4>{128, 128, 128, 7}));

    // Different sizes only scale: the black pixel stays (nearly) black, untinted.
    Display wide(6, 1, {1, 1, 1, 1});
    const FRect d(0, 0, 6, 1);
    BlendDisplayPixmapRect(&wide.pixmap, &d, &source.pixmap, &r, 10, 250, shadow, highlight);
    EXPECT_EQ(wide.Get(5, 0), (std::array<uint8_t, 4>{128, 128, 128, 7}));
    EXPECT_LE(wide.Get(0, 0)[2], 2);
}

// The tinted copy pixel by pixel, as the rule states it.
std::array<uint8_t, 4> TintedByRule(std::array<uint8_t, 4> p, int shadowLevel, int highlightLevel,
                                    uint32_t shadow, uint32_t highlight)
{
    const int luminance = (55 * p[1] + 15 * p[0] + 30 * p[2] + 50) / 100;
    uint32_t colour = 0;
    if (luminance <= shadowLevel)
        colour = shadow;
    else if (p[0] >= highlightLevel || p[1] >= highlightLevel || p[2] >= highlightLevel)
        colour = highlight;
    else
        return p;
    const uint32_t a = colour >> 24;
    for (int k = 0; k < 3; ++k) {
        const uint32_t c = p[k] * (255 - a) + ((colour >> (8 * (2 - k))) & 0xFF) * a;
        p[k] = static_cast<uint8_t>((c + 1 + (c >> 8)) >> 8);
    }
    p[3] = 255;
    return p;
}

TEST(DisplayBlit, TintedCopyOfWideRowsFollowsTheRuleAtEveryLevel)
{
    // Rows of 37 pixels: runs of mid-tones, near-black and near-white pixels, so that both
    // whole groups and single pixels are looked at.
    Display source(37, 9);
    uint32_t seed = 12345;
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 37; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int kind = (x / 5 + y) % 3;
            const int base = kind == 0   ? 40 + int(seed >> 25)
                             : kind == 1 ? int(seed >> 28)
                                         : 240 + int(seed >> 28);
            source.Set(x, y,
                       {uint8_t(base), uint8_t(std::min(255, base + int((seed >> 8) & 7))),
                        uint8_t(std::max(0, base - int((seed >> 12) & 7))), uint8_t(seed >> 3)});
        }
    }
    const uint32_t shadow = 30u | (60u << 8) | (250u << 16) | (200u << 24);
    const uint32_t highlight = 240u | (10u << 8) | (20u << 16) | (90u << 24);
    const std::pair<int, int> levels[] = {{10, 250}, {-1, 256},  {0, 255},   {255, 0},
                                          {40, 41},  {-50, 300}, {300, -50}, {128, 128}};
    const FRect r(0, 0, 37, 9);
    for (const auto& [low, high] : levels) {
        Display target(37, 9, {1, 2, 3, 4});
        BlendDisplayPixmapRect(&target.pixmap, &r, &source.pixmap, &r, low, high, shadow, highlight);
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 37; ++x)
                ASSERT_EQ(target.Get(x, y), TintedByRule(source.Get(x, y), low, high, shadow, highlight))
                    << low << "/" << high << " at " << x << "," << y;
        }
    }
    // Within one pixmap, moved one pixel left over itself.
    Display same = source;
    same.pixmap = FPixmap_Display(same.pixels.data(), 37, 9, 37 * 4);
    const FRect from(1, 0, 37, 9);
    const FRect to(0, 0, 36, 9);
    BlendDisplayPixmapRect(&same.pixmap, &to, &same.pixmap, &from, 10, 250, shadow, highlight);
    for (int x = 0; x < 36; ++x)
        ASSERT_EQ(same.Get(x, 4), TintedByRule(source.Get(x + 1, 4), 10, 250, shadow, highlight)) << x;
}

TEST(DisplayBlit, CubicEnlargementKeepsFlatAreasAndEnds)
{
    struct Case {
        int sw, sh, dw, dh;
    };
    // Every route of the scaler; the destination sits inside a border that must stay.
    const Case cases[] = {
        {4, 3, 4, 9}, {4, 9, 4, 3}, {3, 4, 10, 4}, {3, 7, 10, 4}, {3, 3, 11, 8},
        {9, 4, 3, 4}, {9, 9, 4, 3}, {9, 3, 4, 8},  {2, 2, 5, 5},
    };
    for (const Case& c : cases) {
        Display source(c.sw, c.sh, {60, 120, 180, 200});
        source.Set(0, 0, {0, 0, 0, 200});
        source.Set(c.sw - 1, c.sh - 1, {255, 255, 255, 200});
        Display target(c.dw + 2, c.dh + 2, {7, 7, 7, 7});
        const FRect d(1, 1, 1 + c.dw, 1 + c.dh);
        const FRect s(0, 0, c.sw, c.sh);
        CopyDisplayPixmapRect(&target.pixmap, &d, &source.pixmap, &s);
        const auto label = testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
        const bool enlarging = c.dw >= c.sw && c.dh >= c.sh;
        if (enlarging) {
            EXPECT_EQ(target.Get(c.dw, c.dh), (std::array<uint8_t, 4>{255, 255, 255, 200})) << label;
            EXPECT_LE(target.Get(1, 1)[0], 2) << label;
            // Away from the two marked corners the picture stays flat, but for the far
            // taps of the kernel.
            EXPECT_NEAR(target.Get(c.dw, 1)[1], 120, 2) << label;
        }
        for (int y = 0; y < c.dh + 2; ++y) {
            for (int x = 0; x < c.dw + 2; ++x) {
                const bool inside = x >= 1 && y >= 1 && x <= c.dw && y <= c.dh;
                if (!inside) {
                    EXPECT_EQ(target.Get(x, y), (std::array<uint8_t, 4>{7, 7, 7, 7})) << label;
                }
            }
        }
    }
}

TEST(DisplayBlit, CubicOvershootIsClamped)
{
    // A hard edge enlarged overshoots on both sides; the bytes must saturate, not wrap.
    Display source(4, 1);
    source.Set(2, 0, {255, 255, 255, 255});
    source.Set(3, 0, {255, 255, 255, 255});
    Display target(13, 1);
    const FRect d(0, 0, 13, 1);
    const FRect s(0, 0, 4, 1);
    CopyDisplayPixmapRect(&target.pixmap, &d, &source.pixmap, &s);
    for (int x = 0; x < 13; ++x) {
        const uint8_t v = target.Get(x, 0)[1];
        if (x < 4) {
            EXPECT_LE(v, 20) << x;
        }
        if (x > 8) {
            EXPECT_GE(v, 235) << x;
        }
    }
}

} // namespace
