#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "FException.h"
#include "FIPNonRawRender.h"
#include "FPixmap.h"

namespace
{

// An 8-bit RGB picture whose pixel (x, y) holds (20 x + 1, 20 y + 1, 100).
struct Picture {
    int cols, rows;
    std::vector<uint8_t> bytes;
    std::unique_ptr<FPixmap> pixmap;
    Picture(int c, int r) : cols(c), rows(r), bytes(size_t(c) * r * 3)
    {
        for (int y = 0; y < r; ++y)
            for (int x = 0; x < c; ++x) {
                uint8_t* p = &bytes[(size_t(y) * c + x) * 3];
                p[0] = uint8_t(20 * x + 1);
                p[1] = uint8_t(20 * y + 1);
                p[2] = 100;
            }
        pixmap.reset(NewFPixmap(FPixmap::PIXEL_24_RGB, bytes.data(), c, r, c * 3));
    }
};

struct Output {
    std::vector<uint8_t> bytes;
    std::unique_ptr<FPixmap> pixmap;
    Output(int cols, int rows) : bytes(size_t(cols) * rows * 3)
    {
        pixmap.reset(NewFPixmap(FPixmap::PIXEL_24_RGB, bytes.data(), cols, rows, cols * 3));
    }
    const uint8_t* At(int x, int y) const { return &bytes[(size_t(y) * pixmap->GetCols() + x) * 3]; }
};

std::shared_ptr<const FNonRawColor> SameSpace()
{
    return std::make_shared<const FNonRawColor>(2, 2, 8);
}

FNonRawGeometry Geometry(int outCols, int outRows, FRect crop, int rotation)
{
    FNonRawGeometry g;
    g.m_iOutCols = outCols;
    g.m_iOutRows = outRows;
    g.m_rCrop = crop;
    g.m_iRotation = rotation;
    return g;
}

Output Render(const Picture& source, int outCols, int outRows, FRect crop, int rotation)
{
    FNonRawRenderer renderer(source.cols, source.rows, Geometry(outCols, outRows, crop, rotation),
                             SameSpace());
    Output out(crop.Width(), crop.Height());
    renderer.RenderRows(*source.pixmap, *out.pixmap, 0, crop.Height());
    return out;
}

TEST(NonRawRender, QuarterTurnsMoveEveryPixelWhereTheTurnPutsIt)
{
    const Picture source(3, 2);
    struct Case {
        int rotation;
        // The source pixel that lands at output (u, v) of an output of w x h.
        int w, h;
        int (*sx)(int u, int v);
        int (*sy)(int u, int v);
    };
    const Case cases[] = {
        {0, 3, 2, [](int u, int) { return u; }, [](int, int v) { return v; }},
        {90, 2, 3, [](int, int v) { return v; }, [](int u, int) { return 1 - u; }},
        {180, 3, 2, [](int u, int) { return 2 - u; }, [](int, int v) { return 1 - v; }},
        {270, 2, 3, [](int, int v) { return 2 - v; }, [](int u, int) { return u; }},
    };
    for (const Case& c : cases) {
        const Output out = Render(source, c.w, c.h, FRect(0, 0, c.w, c.h), c.rotation);
        for (int v = 0; v < c.h; ++v)
            for (int u = 0; u < c.w; ++u) {
                EXPECT_EQ(out.At(u, v)[0], 20 * c.sx(u, v) + 1) << c.rotation << " at " << u << "," << v;
                EXPECT_EQ(out.At(u, v)[1], 20 * c.sy(u, v) + 1) << c.rotation << " at " << u << "," << v;
            }
    }
}

TEST(NonRawRender, ReducingAveragesAndEnlargingInterpolates)
{
    const Picture source(4, 4);
    // Half size: each output pixel is the mean of a 2 x 2 block.
    const Output half = Render(source, 2, 2, FRect(0, 0, 2, 2), 0);
    EXPECT_EQ(half.At(0, 0)[0], 11);
    EXPECT_EQ(half.At(1, 1)[0], 51);
    EXPECT_EQ(half.At(1, 1)[1], 51);
    EXPECT_EQ(half.At(1, 1)[2], 100);
    // Double size: columns 1 and 2 lie a quarter and three quarters between source 0 and 1.
    const Output twice = Render(source, 8, 8, FRect(0, 0, 8, 8), 0);
    EXPECT_EQ(twice.At(0, 0)[0], 1);
    EXPECT_EQ(twice.At(1, 0)[0], 6);
    EXPECT_EQ(twice.At(2, 0)[0], 16);
    EXPECT_EQ(twice.At(7, 0)[0], 61);
}

TEST(NonRawRender, ACropIsTheSamePixelsAsTheWholeOutput)
{
    const Picture source(12, 9);
    const Output whole = Render(source, 8, 6, FRect(0, 0, 8, 6), 90);
    const FRect crop(3, 2, 7, 5);
    const Output part = Render(source, 8, 6, crop, 90);
    for (int y = 0; y < crop.Height(); ++y)
        for (int x = 0; x < crop.Width(); ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(part.At(x, y)[c], whole.At(crop.left + x, crop.top + y)[c]) << x << "," << y;
}

TEST(NonRawRender, RefusesWhatItCannotRender)
{
    const Picture source(4, 4);
    auto make = [&](int outCols, int outRows, FRect crop, int rotation) {
        FNonRawRenderer renderer(source.cols, source.rows, Geometry(outCols, outRows, crop, rotation),
                                 SameSpace());
    };
    EXPECT_THROW(make(4, 4, FRect(0, 0, 4, 4), 45), FException);
    EXPECT_THROW(make(4, 4, FRect(0, 0, 5, 4), 0), FException);
    EXPECT_THROW(make(4, 4, FRect(2, 2, 2, 4), 0), FException);
    EXPECT_THROW(make(0, 4, FRect(0, 0, 1, 1), 0), FException);
    EXPECT_THROW(FNonRawColor(2, 12, 8), FException);
    EXPECT_THROW(FNonRawColor(2, 3, 12), FException);

    FNonRawRenderer renderer(4, 4, Geometry(4, 4, FRect(0, 0, 4, 4), 0), SameSpace());
    const Picture other(5, 4);
    Output out(4, 4);
    EXPECT_THROW(renderer.RenderRows(*other.pixmap, *out.pixmap, 0, 4), FException);
    Output narrow(3, 4);
    EXPECT_THROW(renderer.RenderRows(*source.pixmap, *narrow.pixmap, 0, 4), FException);
}

TEST(NonRawRender, ReductionKeepsTheOutputCovered)
{
    struct Case {
        int cols, rows, outCols, outRows, rotation, expected;
    };
    const Case cases[] = {
        {6000, 4000, 6000, 4000, 0, 0}, {6000, 4000, 3000, 2000, 0, 1},  {6000, 4000, 160, 107, 0, 3},
        {6000, 4000, 3001, 2000, 0, 0}, {6000, 4000, 2000, 3000, 90, 1}, {6000, 4000, 2000, 3000, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NonRawReduction(c.cols, c.rows, c.outCols, c.outRows, c.rotation), c.expected)
            << c.outCols << "x" << c.outRows << " turned " << c.rotation;
}

} // namespace
