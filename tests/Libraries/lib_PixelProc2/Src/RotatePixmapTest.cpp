#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ConvertTestPixmap.h"
#include "FException.h"
#include "RotatePixmap.h"

namespace
{

// Every pixel of a source carries its own index, so a destination pixel names the source
// pixel that landed there (0 when none did).
void Number(TestPixmap& p)
{
    const int bpp = p.Bpp();
    int n = 1;
    for (int y = 0; y < p.pixmap->GetRows(); ++y) {
        for (int x = 0; x < p.pixmap->GetCols(); ++x, ++n) {
            std::fill(p.At(x, y), p.At(x, y) + bpp, uint8_t(0));
            p.At(x, y)[0] = uint8_t(n);
            p.At(x, y)[bpp - 1] = uint8_t(n * 7);
        }
    }
}

bool SamePixel(const TestPixmap& a, int ax, int ay, const TestPixmap& b, int bx, int by)
{
    return std::equal(a.At(ax, ay), a.At(ax, ay) + a.Bpp(), b.At(bx, by));
}

TEST(Rotate, QuarterTurnsMapAsDocumented)
{
    for (const int type : {7, 11, 13, 15}) {
        SCOPED_TRACE(type);
        const int w = 3;
        const int h = 2;
        TestPixmap source(type, w, h);
        Number(source);
        TestPixmap turned90(type, h, w);
        Rotate(*source.pixmap, *turned90.pixmap, 90);
        EXPECT_TRUE(SamePixel(turned90, 1, 0, source, 0, 0));
        EXPECT_TRUE(SamePixel(turned90, 0, 2, source, 2, 1));
        TestPixmap turned180(type, w, h);
        Rotate(*source.pixmap, *turned180.pixmap, 180);
        TestPixmap turned270(type, h, w);
        Rotate(*source.pixmap, *turned270.pixmap, 270);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                EXPECT_TRUE(SamePixel(turned90, h - 1 - y, x, source, x, y));
                EXPECT_TRUE(SamePixel(turned180, w - 1 - x, h - 1 - y, source, x, y));
                EXPECT_TRUE(SamePixel(turned270, y, w - 1 - x, source, x, y));
            }
        }
    }
}

TEST(Rotate, FourQuarterTurnsGiveTheOriginal)
{
    for (const int type : {7, 13, 15}) {
        TestPixmap a(type, 37, 23);
        std::mt19937 rng{static_cast<unsigned>(type)};
        for (uint8_t& b : a.bytes)
            b = uint8_t(rng());
        TestPixmap b(type, 23, 37);
        TestPixmap c(type, 37, 23);
        for (const double angle : {90.0, -270.0}) {
            Rotate(*a.pixmap, *b.pixmap, angle);
            Rotate(*b.pixmap, *c.pixmap, angle);
            TestPixmap d(type, 23, 37);
            TestPixmap e(type, 37, 23);
            Rotate(*c.pixmap, *d.pixmap, angle);
            Rotate(*d.pixmap, *e.pixmap, angle);
            EXPECT_EQ(e.bytes, a.bytes) << type << " " << angle;
        }
    }
}

TEST(Rotate, ArbitraryAngleKeepsUnreachedPixelsAndStaysInside)
{
    TestPixmap source(13, 20, 10, 0x11);
    for (const double angle : {45.0, 30.0, 200.0, 333.3}) {
        // Destinations smaller than the turned image: pixels that land outside are skipped.
        TestPixmap out(13, 12, 9, 0xEE);
        Rotate(*source.pixmap, *out.pixmap, angle);
        int untouched = 0;
        int written = 0;
        for (size_t i = 0; i < out.bytes.size(); i += 4) {
            untouched += out.bytes[i] == 0xEE;
            written += out.bytes[i] == 0x11;
        }
        EXPECT_EQ(untouched + written, 12 * 9) << angle;
        EXPECT_GT(written, 0) << angle;
        if (angle == 45.0) {
            EXPECT_GT(untouched, 0);
        }
    }
}

TEST(Rotate, RefusesOtherTypesBeforeWriting)
{
    TestPixmap source(6, 4, 4);
    TestPixmap out(6, 4, 4, 0xAB);
    try {
        Rotate(*source.pixmap, *out.pixmap, 90);
        ADD_FAILURE() << "no exception";
    } catch (const FExceptionPpUnknownPixelType& e) {
        EXPECT_STREQ(e.GetMessage(), "Rotate: output image buffer is not display, 24 RGB, or 48 RGB");
    }
    // A source of another class than the destination is refused in the same family.
    for (const int dst : {7, 11, 13, 15}) {
        TestPixmap wrongSource(dst == 13 ? 11 : 13, 4, 4);
        TestPixmap target(dst, 4, 4, 0xAB);
        EXPECT_THROW(Rotate(*wrongSource.pixmap, *target.pixmap, 90), FExceptionPpUnknownPixelType) << dst;
        EXPECT_EQ(target.bytes, std::vector<uint8_t>(target.bytes.size(), 0xAB));
    }
    TestPixmap display(13, 4, 4, 0xAB);
    EXPECT_THROW(Rotate(*display.pixmap, *display.pixmap, std::nan("")), FExceptionPixelProc);
    EXPECT_THROW(RotatePixmap32(*source.pixmap, *out.pixmap, 0), FExceptionPpUnknownPixelType);
}

} // namespace
