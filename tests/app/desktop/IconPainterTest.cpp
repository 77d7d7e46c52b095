#include <gtest/gtest.h>

#include <cstdint>

#include "IconPainter.h"

namespace
{

struct Pixel {
    int r, g, b, a;
};

Pixel At(const FIconImage& icon, double fx, double fy)
{
    const int x = static_cast<int>(fx * icon.size), y = static_cast<int>(fy * icon.size);
    const uint8_t* p = &icon.rgba[(size_t(y) * icon.size + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

} // namespace

// At every theme size: a clear margin, an opaque tile, a light lens ring, and inside
// it the three colour discs, each leaning to its own colour, white where all meet.
TEST(IconPainterTest, EverySizeShowsTheTileTheLensAndTheThreeDiscs)
{
    for (int size : kRawbenchIconSizes) {
        SCOPED_TRACE(size);
        const FIconImage icon = PaintRawbenchIcon(size);
        ASSERT_EQ(icon.size, size);
        ASSERT_EQ(icon.rgba.size(), size_t(size) * size * 4);
        EXPECT_EQ(At(icon, 0.0, 0.0).a, 0) << "corner";
        EXPECT_EQ(At(icon, 0.12, 0.5).a, 255) << "tile";
        if (size < 32)
            continue; // the small sizes blend the details; their shape is the tile and the lens
        const Pixel ring = At(icon, 0.5, 0.16);
        EXPECT_GT(ring.r, 150);
        const Pixel centre = At(icon, 0.5, 0.5);
        EXPECT_GT(centre.r + centre.g + centre.b, 3 * 200) << "the discs add up to white";
        const Pixel red = At(icon, 0.5, 0.32), green = At(icon, 0.66, 0.6), blue = At(icon, 0.34, 0.6);
        EXPECT_GT(red.r, red.g + 60);
        EXPECT_GT(green.g, green.r + 60);
        EXPECT_GT(blue.b, blue.r + 60);
    }
    EXPECT_EQ(PaintRawbenchIcon(0).size, 0);
    EXPECT_EQ(PaintRawbenchIcon(4096).size, 0);
}
