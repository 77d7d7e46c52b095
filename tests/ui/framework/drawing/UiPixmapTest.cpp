#include "FBlitRects.h"
#include "FGenericUiPixmap.h"
#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FPixmap.h"
#include "FUiPixmapLimits.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

struct PixmapDeleter {
    void operator()(FIUiPixmap* p) const { ReleaseUiPixmap(p); }
};
using Pixmap = std::unique_ptr<FIUiPixmap, PixmapDeleter>;

Pixmap Make(int w, int h, const FUiColor& fill = FUiColor(0, 0, 0, 255))
{
    Pixmap p(CreateUiPixmap(w, h, false));
    if (p)
        p->FillRGBA(fill.red, fill.green, fill.blue, fill.alpha);
    return p;
}

FUiColor At(FIUiPixmap& p, int x, int y)
{
    FUiColor c;
    p.GetPixel(x, y, c);
    return c;
}

// A row of grey levels as opaque pixels.
Pixmap GreyRow(const std::vector<uint8_t>& levels, bool vertical = false)
{
    const int n = static_cast<int>(levels.size());
    Pixmap p = vertical ? Make(1, n) : Make(n, 1);
    for (int i = 0; i < n; ++i) {
        const FRect r = vertical ? FRect(0, i, 1, i + 1) : FRect(i, 0, i + 1, 1);
        p->FillRect(r, FUiColor(levels[size_t(i)], levels[size_t(i)], levels[size_t(i)], 255));
    }
    return p;
}

TEST(UiPixmap, FactoriesRefuseEmptyAndHugeSizes)
{
    EXPECT_EQ(CreateUiPixmap(0, 5, false), nullptr);
    EXPECT_EQ(CreateUiPixmap(5, -1, true), nullptr);
    EXPECT_EQ(CreateUiPixmap(kMaxUiPixmapSide + 1, 1, false), nullptr);
    EXPECT_EQ(CreateUiPixmapFromDisplay(nullptr, false), nullptr);

    FIUiPixmap* p = CreateUiPixmap(3, 2, true);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetWidth(), 3);
    EXPECT_EQ(p->GetDisplayPixmap()->GetStride(), 12);
    EXPECT_EQ(p->GetDisplayPixmap()->GetPixelType(), FPixmap::PIXEL_32_BGRA);
    // The OS bitmap flag shows as a non-null handle; plain pixmaps have none.
    ASSERT_NE(p->GetOsInfo(kOsInfoHandle), nullptr);
    EXPECT_NE(*static_cast<void**>(p->GetOsInfo(kOsInfoHandle)), nullptr);
    EXPECT_EQ(p->GetOsInfo(2), nullptr);
    ReleaseUiPixmap(p);
    EXPECT_EQ(p, nullptr);
    ReleaseUiPixmap(p); // a null holder is allowed

    Pixmap plain = Make(2, 2);
    EXPECT_EQ(*static_cast<void**>(plain->GetOsInfo(kOsInfoHandle)), nullptr);
}

TEST(UiPixmap, PixelAccessAndCopyFromDisplay)
{
    Pixmap p = Make(4, 3, FUiColor(1, 2, 3, 4));
    p->FillRectRGB(FRect(1, 1, 9, 9), 10, 20, 30);
    EXPECT_EQ(At(*p, 0, 0), FUiColor(1, 2, 3, 4));
    EXPECT_EQ(At(*p, 3, 2), FUiColor(10, 20, 30, 4)); // alpha kept
    EXPECT_EQ(At(*p, 4, 0), FUiColor(0, 0, 0, 0));
    EXPECT_EQ(At(*p, -1, 0), FUiColor(0, 0, 0, 0));
    EXPECT_EQ(p->GetAlpha(0, 3), 0);
    // Bytes are blue, green, red, alpha.
    const uint8_t* first = p->GetDisplayPixmap()->GetBuffer();
    EXPECT_EQ(first[0], 3);
    EXPECT_EQ(first[2], 1);

    Pixmap copy(CreateUiPixmapFromDisplay(p->GetDisplayPixmap(), false));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->GetDisplayPixmap()->GetBuffer(), first);
    EXPECT_EQ(At(*copy, 3, 2), FUiColor(10, 20, 30, 4));
}

TEST(UiPixmap, DrawFrameDrawsFourClippedEdges)
{
    Pixmap p = Make(6, 5);
    const FUiColor white(255, 255, 255, 255);
    const FRect clip(0, 0, 6, 3);
    p->DrawFrame(FRect(1, 1, 5, 5), white, &clip);
    EXPECT_EQ(At(*p, 1, 2), white);
    EXPECT_EQ(At(*p, 4, 2), white);
    EXPECT_EQ(At(*p, 2, 1), white);
    EXPECT_EQ(At(*p, 2, 2), FUiColor(0, 0, 0, 255)); // inside
    EXPECT_EQ(At(*p, 1, 3), FUiColor(0, 0, 0, 255)); // clipped away
    EXPECT_EQ(At(*p, 2, 4), FUiColor(0, 0, 0, 255)); // bottom edge clipped
}

uint8_t Blend255(uint32_t c)
{
    return static_cast<uint8_t>((c + 1 + (c >> 8)) >> 8);
}

TEST(UiPixmap, CompositingCases)
{
    struct Case {
        const char* name;
        uint8_t source[4]; // blue, green, red, alpha
        uint8_t destination[4];
        uint8_t expected[4];
    };
    const Case cases[] = {
        {"transparent source", {9, 9, 9, 0}, {1, 2, 3, 77}, {1, 2, 3, 77}},
        {"opaque source", {9, 8, 7, 255}, {1, 2, 3, 77}, {9, 8, 7, 255}},
        {"transparent destination", {9, 8, 7, 40}, {1, 2, 3, 0}, {9, 8, 7, 40}},
        {"opaque destination",
         {255, 0, 100, 128},
         {0, 255, 200, 255},
         {Blend255(255 * 128), Blend255(255 * 127), Blend255(100 * 128 + 200 * 127), 255}},
        // v = 63, a = 191, w = 2^24 / 191 = 87838: 255 x 128 x w >> 24 = 170; 255 x 63 x w >> 24 = 84.
        {"both partial", {255, 0, 0, 128}, {0, 255, 0, 128}, {170, 84, 0, 191}},
    };
    for (const Case& c : cases) {
        uint8_t d[4] = {c.destination[0], c.destination[1], c.destination[2], c.destination[3]};
        CompositeUiPixel(c.source, d);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(d[k], c.expected[k]) << c.name << " byte " << k;
    }
}

TEST(UiPixmap, BlendRectOverOpaqueAndTransparentPixels)
{
    Pixmap p = Make(2, 1, FUiColor(10, 20, 30, 255));
    p->FillRectRGBA(FRect(1, 0, 2, 1), 10, 20, 30, 0);
    p->BlendRect(FRect(-5, -5, 5, 5), FUiColor(200, 100, 0, 128));
    EXPECT_EQ(At(*p, 0, 0), FUiColor(Blend255(200 * 128 + 10 * 127), Blend255(100 * 128 + 20 * 127),
                                     Blend255(0 * 128 + 30 * 127), 255));
    EXPECT_EQ(At(*p, 1, 0), FUiColor(200, 100, 0, 128));
}

TEST(UiPixmap, ClipMovesTheOtherRectangleInProportion)
{
    struct Case {
        const char* name;
        FRect d, s;
        bool ok;
        FRect dOut, sOut;
    };
    // Destination 20 x 10, source 30 x 30.
    const Case cases[] = {
        {"left overhang, equal sizes", {-10, 0, 10, 5}, {0, 0, 20, 5}, true, {0, 0, 10, 5}, {10, 0, 20, 5}},
        // 10 x (-3) / 7 = -4.28 truncates to -4.
        {"truncates toward zero", {-3, 0, 4, 5}, {0, 0, 10, 5}, true, {0, 0, 4, 5}, {4, 0, 10, 5}},
        {"right and bottom", {15, 8, 25, 12}, {0, 0, 10, 8}, true, {15, 8, 20, 10}, {0, 0, 5, 4}},
        {"source clipped moves destination",
         {0, 0, 10, 10},
         {25, 0, 35, 10},
         true,
         {0, 0, 5, 10},
         {25, 0, 30, 10}},
        {"wholly outside", {20, 0, 30, 5}, {0, 0, 10, 5}, false, {}, {}},
        {"empty source", {0, 0, 5, 5}, {3, 3, 3, 8}, false, {}, {}},
        {"source outside", {0, 0, 5, 5}, {-9, 0, -1, 5}, false, {}, {}},
    };
    for (const Case& c : cases) {
        FRect d = c.d;
        FRect s = c.s;
        EXPECT_EQ(ClipBlitRectsToSizes(20, 10, d, 30, 30, s), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(d, c.dOut) << c.name;
            EXPECT_EQ(s, c.sOut) << c.name;
        }
    }
}

TEST(UiPixmap, BlitCopiesOnlyTheVisiblePart)
{
    std::vector<uint8_t> levels;
    for (int i = 0; i < 20; ++i)
        levels.push_back(static_cast<uint8_t>(i * 10));
    Pixmap source = GreyRow(levels);
    Pixmap target = Make(15, 1, FUiColor(1, 1, 1, 1));
    EXPECT_TRUE(source->Blit(target.get(), FRect(-10, 0, 10, 1), FRect(0, 0, 20, 1)));
    EXPECT_EQ(At(*target, 0, 0).red, 100);
    EXPECT_EQ(At(*target, 9, 0).red, 190);
    EXPECT_EQ(At(*target, 10, 0), FUiColor(1, 1, 1, 1));
    EXPECT_FALSE(source->Blit(target.get(), FRect(15, 0, 20, 1), FRect(0, 0, 5, 1)));
    EXPECT_FALSE(source->Blit(nullptr, FRect(0, 0, 5, 1), FRect(0, 0, 5, 1)));
}

TEST(UiPixmap, LinearEnlargementKeepsFullIntensity)
{
    // The two weights of each step add up to a whole pixel: 0..255 over 4 pixels ends at 255.
    Pixmap row = GreyRow({0, 255});
    Pixmap wide = Make(4, 1);
    EXPECT_TRUE(row->Blit(wide.get(), FRect(0, 0, 4, 1), FRect(0, 0, 2, 1)));
    const uint8_t expected[] = {0, 85, 170, 255};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(At(*wide, x, 0).red, expected[x]) << x;
        EXPECT_EQ(At(*wide, x, 0).alpha, 255) << x;
    }

    // Vertical enlargement within one pixmap: rows 0-1 spread over rows 0-3.
    Pixmap column = Make(1, 4);
    column->FillRect(FRect(0, 1, 1, 2), FUiColor(255, 255, 255, 255));
    EXPECT_TRUE(column->Blit(column.get(), FRect(0, 0, 1, 4), FRect(0, 0, 1, 2)));
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(At(*column, 0, y).green, expected[y]) << y;
}

TEST(UiPixmap, EveryScalingRouteStaysInsideAndKeepsCorners)
{
    struct Case {
        int sw, sh, dw, dh;
    };
    const Case cases[] = {
        {5, 5, 5, 9}, {5, 9, 5, 4}, {4, 6, 9, 6}, {4, 4, 9, 11}, {4, 9, 11, 3},
        {9, 4, 5, 4}, {9, 3, 4, 8}, {9, 9, 4, 2}, {2, 1, 7, 5},  {7, 5, 1, 1},
    };
    for (const Case& c : cases) {
        Pixmap source = Make(c.sw, c.sh, FUiColor(40, 40, 40, 255));
        source->FillRect(FRect(0, 0, 1, 1), FUiColor(200, 0, 0, 255));
        source->FillRect(FRect(c.sw - 1, c.sh - 1, c.sw, c.sh), FUiColor(0, 0, 200, 255));
        // A border of another colour around the destination shows any write outside it.
        Pixmap target = Make(c.dw + 2, c.dh + 2, FUiColor(7, 7, 7, 7));
        EXPECT_TRUE(source->Blit(target.get(), FRect(1, 1, 1 + c.dw, 1 + c.dh), FRect(0, 0, c.sw, c.sh)));
        const auto label = testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
        // Enlarging steps are rounded down, so the first output pixel may take a trace of
        // its neighbour; the last falls exactly on the last source pixel.
        EXPECT_NEAR(At(*target, 1, 1).red, 200, 1) << label;
        if (c.dw >= c.sw && c.dh >= c.sh) {
            EXPECT_EQ(At(*target, c.dw, c.dh).blue, 200) << label;
        }
        for (int y = 0; y < c.dh + 2; ++y) {
            for (int x = 0; x < c.dw + 2; ++x) {
                const bool inside = x >= 1 && y >= 1 && x <= c.dw && y <= c.dh;
                EXPECT_EQ(At(*target, x, y).alpha, inside ? 255 : 7) << label << " at " << x << "," << y;
            }
        }
    }
}

TEST(UiPixmap, BlendBlitWithDifferentSizesCompositesTheCommonPart)
{
    Pixmap source = Make(2, 2, FUiColor(255, 255, 255, 255));
    Pixmap target = Make(4, 4, FUiColor(0, 0, 0, 255));
    EXPECT_TRUE(source->BlendBlit(target.get(), FRect(0, 0, 4, 4), FRect(0, 0, 2, 2)));
    EXPECT_EQ(At(*target, 1, 1).red, 255);
    EXPECT_EQ(At(*target, 2, 2).red, 0);
}

// A 5 x 5 skin: band at column 2, row 2; every region its own colour.
Pixmap NineSliceSkin()
{
    Pixmap skin = Make(5, 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x)
            skin->FillRect(FRect(x, y, x + 1, y + 1), FUiColor(uint8_t(x * 50), uint8_t(y * 50), 99, 255));
    }
    return skin;
}

TEST(UiPixmap, NineSliceCornersEdgesAndCentre)
{
    Pixmap skin = NineSliceSkin();
    Pixmap target = Make(9, 8, FUiColor(1, 2, 3, 255));
    skin->DrawNineSlice(target.get(), 2, 2, 2, 2, false);
    // Corners unscaled.
    EXPECT_EQ(At(*target, 1, 1), FUiColor(50, 50, 99, 255));
    EXPECT_EQ(At(*target, 8, 0), FUiColor(200, 0, 99, 255));
    EXPECT_EQ(At(*target, 7, 6), FUiColor(150, 150, 99, 255));
    // Edges repeat the band's first row or column.
    EXPECT_EQ(At(*target, 0, 5), FUiColor(0, 100, 99, 255));
    EXPECT_EQ(At(*target, 8, 4), FUiColor(200, 100, 99, 255));
    EXPECT_EQ(At(*target, 5, 1), FUiColor(100, 50, 99, 255));
    EXPECT_EQ(At(*target, 6, 7), FUiColor(100, 200, 99, 255));
    // No fill: the centre stays.
    EXPECT_EQ(At(*target, 4, 4), FUiColor(1, 2, 3, 255));
    skin->DrawNineSliceRect(target.get(), FRect(2, 2, 3, 3), true);
    EXPECT_EQ(At(*target, 4, 4), FUiColor(100, 100, 99, 255));
    EXPECT_EQ(At(*target, 6, 5), FUiColor(100, 100, 99, 255));

    // An inverted band scales the whole skin onto the target.
    Pixmap small = Make(5, 5, FUiColor(1, 2, 3, 255));
    Pixmap tiny = Make(3, 3, FUiColor(1, 2, 3, 255));
    skin->DrawNineSlice(tiny.get(), 3, 1, 1, 3, true);
    EXPECT_EQ(At(*tiny, 0, 0), FUiColor(0, 0, 99, 255));
    EXPECT_NE(At(*tiny, 2, 2), FUiColor(1, 2, 3, 255));
}

TEST(UiPixmap, ThreeSliceKeepsCapsAndStretchesTheMiddle)
{
    Pixmap skin = NineSliceSkin();
    Pixmap target = Make(12, 5, FUiColor(1, 2, 3, 255));
    skin->DrawThreeSliceRect(target.get(), FRect(2, 0, 3, 5));
    EXPECT_EQ(At(*target, 1, 3), FUiColor(50, 150, 99, 255));
    EXPECT_EQ(At(*target, 11, 0), FUiColor(200, 0, 99, 255));
    EXPECT_EQ(At(*target, 10, 4), FUiColor(150, 200, 99, 255));
    for (int x = 2; x < 10; ++x)
        EXPECT_EQ(At(*target, x, 2), FUiColor(100, 100, 99, 255)) << x;
}

TEST(UiPixmap, TextPixmapIsColouredCoverage)
{
    SelectOsTextLayer(FOsTextLayerKind::kBoxFont);
    int widths[3] = {};
    Pixmap text(
        CreateTextUiPixmap(u"A B", u"Any", 16, false, false, false, FUiColor(255, 0, 0, 128), widths, false));
    ASSERT_TRUE(text);
    // Three boxes of 8 columns and a column of margin on each side.
    EXPECT_EQ(text->GetWidth(), 26);
    EXPECT_EQ(text->GetHeight(), 16);
    EXPECT_EQ(widths[0], 8);
    EXPECT_EQ(widths[2], 24);
    for (int y = 0; y < 16; ++y) {
        EXPECT_EQ(text->GetAlpha(0, y), 0);
        EXPECT_EQ(text->GetAlpha(25, y), 0);
    }
    EXPECT_EQ(At(*text, 1, 5), FUiColor(255, 0, 0, 128));
    EXPECT_EQ(text->GetAlpha(10, 5), 0); // the space
    EXPECT_EQ(CreateTextUiPixmap(u"", u"Any", 16, false, false, false, FUiColor(), nullptr, false), nullptr);
    EXPECT_EQ(CreateTextUiPixmap(u"x", nullptr, 16, false, false, false, FUiColor(), nullptr, false),
              nullptr);
    EXPECT_EQ(CreateTextUiPixmap(u"x", u"Any", 0, false, false, false, FUiColor(), nullptr, false), nullptr);
    // Wider than any pixmap may be: refused, not allocated.
    const std::u16string wide(5000, u'W');
    EXPECT_EQ(CreateTextUiPixmap(wide.c_str(), u"Any", 16, false, false, false, FUiColor(), nullptr, false),
              nullptr);

    int line = 0;
    int average = 0;
    EXPECT_TRUE(MeasureUiText(u"Any", 20, false, false, false, &line, &average));
    EXPECT_EQ(line, 20);
    EXPECT_EQ(average, 10);
}

TEST(UiPixmap, WholePixmapPassesOnGenericPixmap)
{
    FIUiPixmap* raw = CreateUiPixmap(2, 1, false);
    auto* p = static_cast<FIGenericUiPixmap*>(raw);
    p->FillRGBA(10, 200, 30, 255);
    p->AlphaFromGreen();
    EXPECT_EQ(p->GetAlpha(0, 0), 200);
    p->ScaleAlpha(128);
    EXPECT_EQ(p->GetAlpha(1, 0), 200 * 128 / 255);
    p->SetRGB(1, 2, 3);
    EXPECT_EQ(At(*p, 0, 0), FUiColor(1, 2, 3, 200 * 128 / 255));
    ReleaseUiPixmap(raw);
}

} // namespace
