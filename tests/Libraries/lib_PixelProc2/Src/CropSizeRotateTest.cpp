#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ConvertTestPixmap.h"
#include "CropSizeRotate.h"
#include "FException.h"
#include "FLUT.h"
#include "FPixelAccessors.h"

namespace
{

// T[i] = i as a 16-bit pattern, so that the table step changes nothing.
struct IdentityLUT {
    IdentityLUT() : lut(65536)
    {
        for (int i = 0; i < 65536; ++i)
            lut.m_pData[i] = int16_t(uint16_t(i));
    }
    FLUT lut;
};

void FillRandom(TestPixmap& p, unsigned seed, int mod = 256)
{
    std::mt19937 rng(seed);
    if (p.Bpp() == 1 || p.Bpp() == 4 || p.Bpp() == 3) {
        for (uint8_t& b : p.bytes)
            b = uint8_t(rng());
        return;
    }
    for (size_t i = 0; i + 1 < p.bytes.size(); i += 2)
        Put16(&p.bytes[i], int(rng() % unsigned(mod)));
}

std::string Message(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const FExceptionPixelProc2& e) {
        return e.GetMessage();
    }
    return "(no exception)";
}

struct MoreOut {
    MoreOut(int cols, int rows) : color(16, cols, rows, 0xAB), l(4, cols, rows, 0xAB) {}
    TestPixmap color;
    TestPixmap l;
};

double RunMore(const TestPixmap& source, const FRect& crop, int outCols, int outRows, const FRect& outRect,
               unsigned rot, const FLUT& lut, MoreOut& out, double weight = 0.0, int hi = 0, int lo = 0)
{
    return CropSizeRotateMore(*source.pixmap, crop, 1000, 800, outCols, outRows, outRect, rot, lut,
                              *out.color.pixmap, *out.l.pixmap, weight, hi, lo);
}

TEST(CropSizeRotate, ExactSizeCopiesTheCrop)
{
    IdentityLUT id;
    TestPixmap source(16, 20, 15);
    FillRandom(source, 1, 4000);
    const FRect crop(3, 4, 13, 11);
    MoreOut out(10, 7);
    EXPECT_EQ(RunMore(source, crop, 10, 7, FRect(0, 0, 10, 7), 0, id.lut, out), 1.0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_TRUE(std::equal(out.color.At(x, y), out.color.At(x, y) + 6, source.At(3 + x, 4 + y)));

    TestPixmap mono(4, 20, 15);
    FillRandom(mono, 2, 65536);
    TestPixmap monoOut(4, 10, 7);
    CropSizeRotateMono(*mono.pixmap, crop, 0, 0, 10, 7, FRect(0, 0, 10, 7), 360, *monoOut.pixmap);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(Get16u(monoOut.At(x, y)), Get16u(mono.At(3 + x, 4 + y)));

    // The display path keeps byte 3 at scale 1.0.
    TestPixmap display(13, 9, 5);
    FillRandom(display, 3);
    TestPixmap displayOut(13, 9, 5);
    CropSizeRotate(*display.pixmap, *displayOut.pixmap, 9, 5, FRect(0, 0, 9, 5), 0);
    EXPECT_EQ(displayOut.bytes, display.bytes);
}

TEST(CropSizeRotate, QuarterTurnCorners)
{
    TestPixmap mono(4, 12, 10);
    FillRandom(mono, 4, 65536);
    const FRect crop(2, 1, 8, 5); // 6 x 4
    for (const unsigned rot : {90u, 450u}) {
        TestPixmap out(4, 4, 6);
        CropSizeRotateMono(*mono.pixmap, crop, 0, 0, 4, 6, FRect(0, 0, 4, 6), rot, *out.pixmap);
        EXPECT_EQ(Get16u(out.At(0, 0)), Get16u(mono.At(2, 4))) << "bottom-left";
        EXPECT_EQ(Get16u(out.At(3, 0)), Get16u(mono.At(2, 1))) << "top-left";
        EXPECT_EQ(Get16u(out.At(0, 5)), Get16u(mono.At(7, 4))) << "bottom-right";
    }
}

// Four quarter turns of the exact size through each entry point give the original back.
TEST(CropSizeRotate, FourQuarterTurnsGiveTheOriginal)
{
    TestPixmap display(13, 11, 7);
    FillRandom(display, 5);
    TestPixmap a(13, 7, 11), b(13, 11, 7), c(13, 7, 11), d(13, 11, 7);
    CropSizeRotate(*display.pixmap, *a.pixmap, 7, 11, FRect(0, 0, 7, 11), 90);
    CropSizeRotate(*a.pixmap, *b.pixmap, 11, 7, FRect(0, 0, 11, 7), 90);
    CropSizeRotate(*b.pixmap, *c.pixmap, 7, 11, FRect(0, 0, 7, 11), 90);
    CropSizeRotate(*c.pixmap, *d.pixmap, 11, 7, FRect(0, 0, 11, 7), 90);
    EXPECT_EQ(d.bytes, display.bytes);

    TestPixmap mono(4, 11, 7);
    FillRandom(mono, 6, 65536);
    TestPixmap m1(4, 7, 11), m2(4, 11, 7), m3(4, 7, 11), m4(4, 11, 7);
    CropSizeRotateMono(*mono.pixmap, FRect(0, 0, 11, 7), 0, 0, 7, 11, FRect(0, 0, 7, 11), 270, *m1.pixmap);
    CropSizeRotateMono(*m1.pixmap, FRect(0, 0, 7, 11), 0, 0, 11, 7, FRect(0, 0, 11, 7), 270, *m2.pixmap);
    CropSizeRotateMono(*m2.pixmap, FRect(0, 0, 11, 7), 0, 0, 7, 11, FRect(0, 0, 7, 11), 270, *m3.pixmap);
    CropSizeRotateMono(*m3.pixmap, FRect(0, 0, 7, 11), 0, 0, 11, 7, FRect(0, 0, 11, 7), 270, *m4.pixmap);
    EXPECT_EQ(m4.bytes, mono.bytes);

    // Two half turns are the identity as well.
    TestPixmap h1(4, 11, 7), h2(4, 11, 7);
    CropSizeRotateMono(*mono.pixmap, FRect(0, 0, 11, 7), 0, 0, 11, 7, FRect(0, 0, 11, 7), 180, *h1.pixmap);
    CropSizeRotateMono(*h1.pixmap, FRect(0, 0, 11, 7), 0, 0, 11, 7, FRect(0, 0, 11, 7), 180, *h2.pixmap);
    EXPECT_EQ(h2.bytes, mono.bytes);
}

TEST(CropSizeRotate, RotationsThatAreNotQuarterTurnsThrowBeforeWriting)
{
    IdentityLUT id;
    TestPixmap source(16, 8, 8);
    TestPixmap mono(4, 8, 8);
    TestPixmap display(13, 8, 8);
    for (const unsigned rot : {45u, unsigned(-90), 1u}) {
        MoreOut out(8, 8);
        EXPECT_EQ(
            Message([&] { RunMore(source, FRect(0, 0, 8, 8), 8, 8, FRect(0, 0, 8, 8), rot, id.lut, out); }),
            "CropSizeRotateMore: rotation is not multiple of 90 degrees.");
        EXPECT_EQ(Message([&] {
                      CropSizeRotateMono(*mono.pixmap, FRect(0, 0, 8, 8), 0, 0, 8, 8, FRect(0, 0, 8, 8), rot,
                                         *out.l.pixmap);
                  }),
                  "CropSizeRotateMono: rotation is not multiple of 90 degrees.");
        TestPixmap displayOut(13, 8, 8, 0xAB);
        EXPECT_EQ(Message([&] {
                      CropSizeRotate(*display.pixmap, *displayOut.pixmap, 8, 8, FRect(0, 0, 8, 8), rot);
                  }),
                  "CropSizeRotate: rotation is not multiple of 90 degrees.");
        EXPECT_EQ(out.color.bytes, std::vector<uint8_t>(out.color.bytes.size(), 0xAB));
        EXPECT_EQ(out.l.bytes, std::vector<uint8_t>(out.l.bytes.size(), 0xAB));
        EXPECT_EQ(displayOut.bytes, std::vector<uint8_t>(displayOut.bytes.size(), 0xAB));
    }
}

// Geometry the caller could get wrong (crops stored in files among them) is refused
// before anything is read or written.
TEST(CropSizeRotate, BadGeometryIsRefused)
{
    IdentityLUT id;
    TestPixmap source(16, 20, 10);
    struct Case {
        const char* name;
        FRect crop;
        int outCols, outRows;
        FRect outRect;
        int destCols, destRows;
        const char* message;
    };
    const Case cases[] = {
        {"crop past the right edge",
         {10, 0, 21, 10},
         11,
         10,
         {0, 0, 11, 10},
         11,
         10,
         "CropSizeRotateMore: the crop is outside the source image."},
        {"negative crop",
         {-1, 0, 5, 5},
         6,
         5,
         {0, 0, 6, 5},
         6,
         5,
         "CropSizeRotateMore: the crop is outside the source image."},
        {"empty crop",
         {5, 5, 5, 9},
         1,
         4,
         {0, 0, 1, 4},
         1,
         4,
         "CropSizeRotateMore: the crop is outside the source image."},
        {"one-pixel crop scaled",
         {5, 0, 6, 10},
         3,
         10,
         {0, 0, 3, 10},
         3,
         10,
         "CropSizeRotateMore: the crop is too small to scale."},
        {"output rectangle outside the output",
         {0, 0, 20, 10},
         20,
         10,
         {0, 0, 21, 10},
         21,
         10,
         "CropSizeRotateMore: the output rectangle is outside the output image."},
        {"destination smaller than the output rectangle",
         {0, 0, 20, 10},
         20,
         10,
         {0, 0, 20, 10},
         19,
         10,
         "CropSizeRotateMore: an output pixmap is smaller than the output rectangle."},
        {"one-pixel output", {0, 0, 20, 10}, 1, 1, {0, 0, 1, 1}, 1, 1, "(no exception)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MoreOut out(c.destCols, c.destRows);
        EXPECT_EQ(Message([&] { RunMore(source, c.crop, c.outCols, c.outRows, c.outRect, 0, id.lut, out); }),
                  c.message);
    }
    MoreOut out(10, 5);
    EXPECT_EQ(Message([&] {
                  CropSizeRotateMore(*source.pixmap, FRect(0, 0, 20, 10), 0, 0, 10, 5, FRect(0, 0, 10, 5), 0,
                                     id.lut, *out.color.pixmap, *out.l.pixmap, 0, 0, 0);
              }),
              "CropSizeRotateMore: the reference width is not positive.");
    TestPixmap display(13, 4, 4);
    TestPixmap displayOut(13, 4, 4);
    EXPECT_EQ(
        Message([&] { CropSizeRotate(*display.pixmap, *displayOut.pixmap, 4, 4, FRect(0, 0, 5, 4), 0); }),
        "CropSizeRotate: the output rectangle is outside the output image.");
    TestPixmap mono(4, 4, 4);
    EXPECT_EQ(Message([&] { CropSizeRotate(*mono.pixmap, *displayOut.pixmap, 4, 4, FRect(0, 0, 4, 4), 0); }),
              "CropSizeRotate: the source does not have 4-byte pixels.");
}

// Scaling a constant image keeps it constant away from the edges, whatever the scale and
// turn; the edges get the fill.
TEST(CropSizeRotate, ConstantStaysConstant)
{
    TestPixmap mono(4, 40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            Put16(mono.At(x, y), 3000);
    TestPixmap display(13, 40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            uint8_t* p = display.At(x, y);
            p[0] = 40;
            p[1] = 120;
            p[2] = 200;
            p[3] = 7;
        }
    struct Case {
        int outCols, outRows;
        unsigned rot;
    };
    const Case cases[] = {{20, 15, 0}, {73, 55, 0}, {30, 35, 90}, {41, 31, 180}, {15, 20, 270}, {60, 20, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.outCols) + "x" + std::to_string(c.outRows) + " rot " +
                     std::to_string(c.rot));
        TestPixmap out(4, c.outCols, c.outRows);
        CropSizeRotateMono(*mono.pixmap, FRect(0, 0, 40, 30), 0, 0, c.outCols, c.outRows,
                           FRect(0, 0, c.outCols, c.outRows), c.rot, *out.pixmap);
        int inner = 0;
        int fills = 0;
        for (int y = 0; y < c.outRows; ++y) {
            for (int x = 0; x < c.outCols; ++x) {
                const int v = Get16s(out.At(x, y));
                if (v == 8000) {
                    ++fills;
                    continue;
                }
                ++inner;
                ASSERT_NEAR(v, 3000, 1) << x << "," << y;
            }
        }
        EXPECT_GT(inner, 0);
        EXPECT_GT(fills, 0);

        TestPixmap dOut(13, c.outCols, c.outRows);
        CropSizeRotate(*display.pixmap, *dOut.pixmap, c.outCols, c.outRows, FRect(0, 0, c.outCols, c.outRows),
                       c.rot);
        for (int y = 0; y < c.outRows; ++y) {
            for (int x = 0; x < c.outCols; ++x) {
                const uint8_t* p = dOut.At(x, y);
                ASSERT_EQ(p[3], 255);
                if (p[0] == 0 && p[1] == 0 && p[2] == 255)
                    continue; // the fill
                ASSERT_NEAR(p[0], 40, 1);
                ASSERT_NEAR(p[1], 120, 1);
                ASSERT_NEAR(p[2], 200, 1);
            }
        }
    }
}

// A ramp across the source stays monotonic across the output, up and down in size.
TEST(CropSizeRotate, RampStaysMonotonic)
{
    IdentityLUT id;
    TestPixmap source(16, 64, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x)
            SetRGB48(source.At(x, y), FIntRGB(100 * x, 50 * x + 10, 3000 - 40 * x));
    for (const int outCols : {23, 40, 63, 97, 150}) {
        SCOPED_TRACE(outCols);
        MoreOut out(outCols, 16);
        RunMore(source, FRect(0, 0, 64, 16), outCols, 16, FRect(0, 0, outCols, 16), 0, id.lut, out);
        const int y = 8;
        int previous[3] = {INT32_MIN, INT32_MIN, INT32_MAX};
        int compared = 0;
        for (int x = 0; x < outCols; ++x) {
            const uint8_t* p = out.color.At(x, y);
            const int r = Get16s(p);
            const int g = Get16s(p + 2);
            const int b = Get16s(p + 4);
            if (r == 8000 && g == 0 && b == 0)
                continue; // the fill near the edges
            ASSERT_GE(r, previous[0]) << x;
            ASSERT_GE(g, previous[1]) << x;
            ASSERT_LE(b, previous[2]) << x;
            previous[0] = r;
            previous[1] = g;
            previous[2] = b;
            ++compared;
        }
        EXPECT_GT(compared, outCols / 2);
    }
}

TEST(CropSizeRotate, FillValuesAndAlphaWhenScaling)
{
    TestPixmap display(13, 10, 10, 50);
    TestPixmap out(13, 20, 20);
    CropSizeRotate(*display.pixmap, *out.pixmap, 20, 20, FRect(0, 0, 20, 20), 0);
    EXPECT_EQ(std::vector<uint8_t>(out.At(0, 0), out.At(0, 0) + 4), (std::vector<uint8_t>{0, 0, 255, 255}));
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(out.At(10, 10)[i], 50, 1);
    EXPECT_EQ(out.At(10, 10)[3], 255);

    TestPixmap mono(4, 10, 10);
    TestPixmap monoOut(4, 20, 20);
    CropSizeRotateMono(*mono.pixmap, FRect(0, 0, 10, 10), 0, 0, 20, 20, FRect(0, 0, 20, 20), 0,
                       *monoOut.pixmap);
    EXPECT_EQ(Get16s(monoOut.At(0, 0)), 8000);
    EXPECT_EQ(Get16s(monoOut.At(10, 10)), 0);
}

// A sub-rectangle of the output is the same as the corresponding part of the whole.
TEST(CropSizeRotate, OutputRectangleIsAWindowOfTheWhole)
{
    TestPixmap mono(4, 50, 40);
    FillRandom(mono, 9, 4096);
    const FRect crop(3, 2, 47, 38);
    for (const unsigned rot : {0u, 90u, 180u, 270u}) {
        const bool turned = rot == 90 || rot == 270;
        const int cols = turned ? 27 : 33;
        const int rows = turned ? 33 : 27;
        TestPixmap whole(4, cols, rows);
        CropSizeRotateMono(*mono.pixmap, crop, 0, 0, cols, rows, FRect(0, 0, cols, rows), rot, *whole.pixmap);
        const FRect part(5, 7, 20, 19);
        TestPixmap window(4, part.Width(), part.Height());
        CropSizeRotateMono(*mono.pixmap, crop, 0, 0, cols, rows, part, rot, *window.pixmap);
        for (int y = 0; y < part.Height(); ++y)
            for (int x = 0; x < part.Width(); ++x)
                ASSERT_EQ(Get16u(window.At(x, y)), Get16u(whole.At(part.left + x, part.top + y))) << rot;
    }
}

TEST(CropSizeRotate, GreenCorrectionAndLightness)
{
    IdentityLUT id;
    TestPixmap source(16, 4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            SetRGB48(source.At(x, y), FIntRGB(100, 300, 50));
    MoreOut out(4, 4);
    RunMore(source, FRect(0, 0, 4, 4), 4, 4, FRect(0, 0, 4, 4), 0, id.lut, out, 0.001, 200, -120);
    EXPECT_EQ(Get16s(out.color.At(1, 1)), 100);
    EXPECT_EQ(Get16s(out.color.At(1, 1) + 2), 339);
    EXPECT_EQ(Get16s(out.color.At(1, 1) + 4), 50);
    EXPECT_EQ(Get16s(out.l.At(1, 1)), (5734 * 100 + 9011 * 300 + 1638 * 50 + 8192) >> 14);

    MoreOut plain(4, 4);
    RunMore(source, FRect(0, 0, 4, 4), 4, 4, FRect(0, 0, 4, 4), 0, id.lut, plain, 0.0, 50, 50);
    EXPECT_EQ(Get16s(plain.color.At(2, 3) + 2), 300);

    // A grey above 8192 comes out one lower: the weights sum to 16383.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            SetRGB48(source.At(x, y), FIntRGB(10000, 10000, 10000));
    RunMore(source, FRect(0, 0, 4, 4), 4, 4, FRect(0, 0, 4, 4), 0, id.lut, plain);
    EXPECT_EQ(Get16s(plain.l.At(0, 0)), 9999);
}

TEST(ResampleKernel, PhasesSumToOneAndRadialIsSymmetric)
{
    for (const double s : {0.25, 0.5, 0.9, 1.0, 1.7, 3.0}) {
        const auto radial = BuildResampleKernel(s, s * 1.05);
        const auto separable = BuildResampleKernelSeparable(s, s * 2.0);
        for (int i = 0; i < 16; ++i) {
            for (int j = 0; j < 16; ++j) {
                int64_t sumR = 0;
                int64_t sumS = 0;
                for (int t = 0; t < 16; ++t) {
                    sumR += radial->Phase(i, j)[t];
                    sumS += separable->Phase(i, j)[t];
                    const int k = t / 4;
                    const int n = t % 4;
                    ASSERT_EQ(radial->Phase(i, j)[t], radial->Phase(15 - i, 15 - j)[(3 - k) * 4 + 3 - n]);
                    ASSERT_EQ(radial->Phase(i, j)[t], radial->Phase(j, i)[n * 4 + k]);
                }
                // Rounding each of 16 coefficients can move the sum by up to 16.
                ASSERT_NEAR(sumR, 65536, 16) << s << " " << i << " " << j;
                ASSERT_NEAR(sumS, 65536, 16) << s << " " << i << " " << j;
            }
        }
    }
    EXPECT_THROW(BuildResampleKernel(0.0, 1.0), FExceptionPixelProc2);
    EXPECT_THROW(BuildResampleKernelSeparable(1.0, std::nan("")), FExceptionPixelProc2);
}

TEST(ResampleKernel, PixelFiltersRefuseEdgePositions)
{
    const auto table = BuildResampleKernel(1.0, 1.0);
    TestPixmap mono(4, 8, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            Put16(mono.At(x, y), 1234);
    int v = 0;
    ResamplePixelMono(*mono.pixmap, v, 3 * 16 + 5, 4 * 16 + 9, *table);
    EXPECT_NEAR(v, 1234, 1);
    EXPECT_THROW(ResamplePixelMono(*mono.pixmap, v, 31, 40, *table), FExceptionPixelProc2);
    EXPECT_THROW(ResamplePixelMono(*mono.pixmap, v, 40, 6 * 16, *table), FExceptionPixelProc2);
    FIntRGB rgb;
    TestPixmap display(13, 8, 8, 100);
    ResamplePixel32(*display.pixmap, rgb, 60, 60, *table);
    EXPECT_NEAR(rgb.r, 100, 1);
    EXPECT_THROW(ResamplePixel32(*mono.pixmap, rgb, 60, 60, *table), FExceptionPixelProc2);
}

} // namespace

namespace
{

// Interior output pixels equal one filter evaluation at the documented 16.16 position
// with the documented table: a scale ratio of exactly 0.9 takes the separable table.
TEST(CropSizeRotate, InteriorPixelsFollowThePositionsAndTheTableChoice)
{
    TestPixmap mono(4, 11, 10);
    FillRandom(mono, 12, 8000);
    TestPixmap out(4, 9, 9);
    CropSizeRotateMono(*mono.pixmap, FRect(0, 0, 11, 10), 0, 0, 9, 9, FRect(0, 0, 9, 9), 0, *out.pixmap);
    const auto separable = BuildResampleKernelSeparable(0.9, 1.0);
    const auto radial = BuildResampleKernel(0.9, 1.0);
    const uint32_t stepX = uint32_t(65536.0 / 0.9);
    const uint32_t stepY = 65536;
    int differs = 0;
    for (int y = 3; y <= 5; ++y) {
        for (int x = 3; x <= 5; ++x) {
            const int qx = int((0x8000 + uint32_t(x) * stepX) >> 12);
            const int qy = int((0x8000 + uint32_t(y) * stepY) >> 12);
            int want = 0;
            int other = 0;
            ResamplePixelMono(*mono.pixmap, want, qx, qy, *separable);
            ResamplePixelMono(*mono.pixmap, other, qx, qy, *radial);
            EXPECT_EQ(Get16s(out.At(x, y)), int16_t(want)) << x << "," << y;
            differs += want != other;
        }
    }
    EXPECT_GT(differs, 0);

    // The display path rounds its step and its 1/16 positions.
    TestPixmap display(13, 12, 12);
    FillRandom(display, 13);
    TestPixmap dOut(13, 17, 17);
    CropSizeRotate(*display.pixmap, *dOut.pixmap, 17, 17, FRect(0, 0, 17, 17), 0);
    const double s = 17.0 / 12.0;
    const auto table = BuildResampleKernel(s, s);
    const uint32_t f = uint32_t(65536.0 / s + 0.5);
    for (int x = 5; x <= 9; ++x) {
        const int q = int((uint32_t(x) * f + 0x800) >> 12);
        FIntRGB want;
        ResamplePixel32(*display.pixmap, want, q, q, *table);
        const uint8_t* p = dOut.At(x, x);
        EXPECT_EQ(FIntRGB(p[2], p[1], p[0]), want) << x;
        EXPECT_EQ(p[3], 255);
    }
}

// The whole-image filters against the one-pixel ones, over full-range samples, at the
// display's half size and a working-image enlargement, in every quarter turn.
TEST(CropSizeRotate, WholeImagesEqualTheOnePixelFilters)
{
    const IdentityLUT id;
    TestPixmap display(13, 37, 29);
    FillRandom(display, 21);
    TestPixmap working(16, 37, 29);
    FillRandom(working, 22, 65536);
    TestPixmap mono(FPixmap::PIXEL_16S_MONO, 37, 29);
    FillRandom(mono, 23, 65536);
    for (unsigned rot : {0u, 90u, 180u, 270u}) {
        SCOPED_TRACE(rot);
        const bool turn = rot % 180 != 0;
        const int halfCols = turn ? 14 : 18;
        const int halfRows = turn ? 18 : 14;
        TestPixmap dOut(13, halfCols, halfRows);
        CropSizeRotate(*display.pixmap, *dOut.pixmap, halfCols, halfRows, FRect(0, 0, halfCols, halfRows),
                       rot);
        const double s = double(turn ? halfRows : halfCols) / 37.0;
        const auto table = BuildResampleKernel(s, s);
        const uint32_t f = uint32_t(65536.0 / s + 0.5);
        int inner = 0;
        for (int y = 0; y < halfRows; ++y)
            for (int x = 0; x < halfCols; ++x) {
                const uint8_t* p = dOut.At(x, y);
                if (p[0] == 0 && p[1] == 0 && p[2] == 255)
                    continue;
                // Source position of output (x, y) for this turn.
                const uint32_t right = uint32_t(36) << 16, bottom = uint32_t(28) << 16;
                uint32_t sx = 0, sy = 0;
                if (rot == 0) {
                    sx = uint32_t(x) * f, sy = uint32_t(y) * f;
                } else if (rot == 90) {
                    sx = uint32_t(y) * f, sy = bottom - uint32_t(x) * f;
                } else if (rot == 180) {
                    sx = right - uint32_t(x) * f, sy = bottom - uint32_t(y) * f;
                } else {
                    sx = right - uint32_t(y) * f, sy = uint32_t(x) * f;
                }
                FIntRGB want;
                ResamplePixel32(*display.pixmap, want, int((sx + 0x800) >> 12), int((sy + 0x800) >> 12),
                                *table);
                ASSERT_EQ(FIntRGB(p[2], p[1], p[0]), want) << x << "," << y;
                ++inner;
            }
        EXPECT_GT(inner, halfCols * halfRows / 2);

        MoreOut out(turn ? 50 : 70, turn ? 70 : 50);
        RunMore(working, FRect(0, 0, 37, 29), turn ? 50 : 70, turn ? 70 : 50,
                FRect(0, 0, turn ? 50 : 70, turn ? 70 : 50), rot, id.lut, out);
        const auto kernel = BuildResampleKernelSeparable(70.0 / 36.0, 50.0 / 28.0);
        const auto radial = BuildResampleKernel(70.0 / 36.0, 50.0 / 28.0);
        const double ratio = (70.0 / 36.0) / (50.0 / 28.0);
        const FResampleKernel& k = ratio > 0.9 && ratio < 1.1 ? *radial : *kernel;
        const uint32_t stepX = uint32_t(65536.0 / (70.0 / 36.0)), stepY = uint32_t(65536.0 / (50.0 / 28.0));
        TestPixmap monoOut(FPixmap::PIXEL_16S_MONO, turn ? 50 : 70, turn ? 70 : 50);
        CropSizeRotateMono(*mono.pixmap, FRect(0, 0, 37, 29), 0, 0, turn ? 50 : 70, turn ? 70 : 50,
                           FRect(0, 0, turn ? 50 : 70, turn ? 70 : 50), rot, *monoOut.pixmap);
        for (int y = 0; y < (turn ? 70 : 50); ++y)
            for (int x = 0; x < (turn ? 50 : 70); ++x) {
                const int alongX = turn ? y : x, alongY = turn ? x : y;
                uint32_t sx = 0x8000 + uint32_t(alongX) * stepX, sy = 0x8000 + uint32_t(alongY) * stepY;
                if (rot == 90 || rot == 180)
                    sy = ((uint32_t(28) << 16) - 0x8000) - uint32_t(alongY) * stepY;
                if (rot == 180 || rot == 270)
                    sx = ((uint32_t(36) << 16) - 0x8000) - uint32_t(alongX) * stepX;
                const int qx = int(sx >> 12), qy = int(sy >> 12);
                if (qx < 32 || qy < 32 || qx >= 35 * 16 || qy >= 27 * 16)
                    continue;
                FIntRGB want;
                ResamplePixel48(*working.pixmap, want, FIntRGB(qx, qx, qx), FIntRGB(qy, qy, qy), k);
                const uint8_t* p = out.color.At(x, y);
                ASSERT_EQ(Get16s(p), std::clamp(want.r, -32768, 32767)) << x << "," << y;
                ASSERT_EQ(Get16s(p + 2), std::clamp(want.g, -32768, 32767));
                ASSERT_EQ(Get16s(p + 4), std::clamp(want.b, -32768, 32767));
                int wantMono = 0;
                ResamplePixelMono(*mono.pixmap, wantMono, qx, qy, k);
                ASSERT_EQ(Get16s(monoOut.At(x, y)), std::clamp(wantMono, -32768, 32767)) << x << "," << y;
            }
    }
}

// The scaled colour image's store (table, green correction, lightness) against its formula
// over the one-pixel filter: full-range samples, a random table, and green weights and
// limits small enough for 32-bit products and too large for them.
TEST(CropSizeRotate, ScaledColourStoreFollowsTheFormula)
{
    TestPixmap working(16, 37, 29);
    FillRandom(working, 31, 65536);
    FLUT lut(65536);
    std::mt19937 rng(32);
    for (int i = 0; i < 65536; ++i)
        lut.m_pData[i] = int16_t(rng());
    const auto radial = BuildResampleKernel(45.0 / 36.0, 35.0 / 28.0);
    const uint32_t stepX = uint32_t(65536.0 / (45.0 / 36.0)), stepY = uint32_t(65536.0 / (35.0 / 28.0));
    struct Green {
        double weight;
        int high, low;
    };
    for (const Green& green : {Green{0.001, 200, -120}, Green{0.5, 300, -300}, Green{0.02, -50, 90},
                               Green{40.0, 70000, -70000}, Green{-3.0, 1000, -1000}}) {
        SCOPED_TRACE(green.weight);
        MoreOut out(45, 35);
        RunMore(working, FRect(0, 0, 37, 29), 45, 35, FRect(0, 0, 45, 35), 0, lut, out, green.weight,
                green.high, green.low);
        const int64_t k = std::clamp<int64_t>(int64_t(green.weight * 16384.0), -(1 << 28), 1 << 28);
        int inner = 0;
        for (int y = 0; y < 35; ++y)
            for (int x = 0; x < 45; ++x) {
                const int qx = int((0x8000 + uint32_t(x) * stepX) >> 12);
                const int qy = int((0x8000 + uint32_t(y) * stepY) >> 12);
                if (qx < 32 || qy < 32 || qx >= 35 * 16 || qy >= 27 * 16)
                    continue;
                FIntRGB f;
                ResamplePixel48(*working.pixmap, f, FIntRGB(qx, qx, qx), FIntRGB(qy, qy, qy), *radial);
                const int32_t r = std::clamp(f.r, -32768, 32767), g = std::clamp(f.g, -32768, 32767),
                              b = std::clamp(f.b, -32768, 32767);
                const int32_t lr = lut.Get(r), lg = lut.Get(g), lb = lut.Get(b);
                const int32_t d = lg - lr;
                const int64_t c = std::clamp<int64_t>(
                    d < green.low ? green.low : (d > green.high ? green.high : d), -65536, 65536);
                const uint8_t* p = out.color.At(x, y);
                ASSERT_EQ(Get16s(p), int16_t(lr)) << x << "," << y;
                ASSERT_EQ(Get16s(p + 2), int16_t(uint16_t(int64_t(lg) + ((c * d * k) >> 14))))
                    << x << "," << y;
                ASSERT_EQ(Get16s(p + 4), int16_t(lb)) << x << "," << y;
                const int64_t l = (5734 * int64_t(r) + 9011 * int64_t(g) + 1638 * int64_t(b) + 8192) >> 14;
                ASSERT_EQ(Get16s(out.l.At(x, y)), int16_t(lut.Get(int32_t(l)))) << x << "," << y;
                ++inner;
            }
        EXPECT_GT(inner, 45 * 35 / 2);
    }
}

// Ringing past a bright edge saturates instead of wrapping round to black.
TEST(CropSizeRotate, BrightEdgesSaturate)
{
    const IdentityLUT id;
    TestPixmap working(16, 30, 24);
    TestPixmap mono(4, 30, 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 30; ++x) {
            const int v = (x / 5 + y / 4) % 2 == 0 ? 32767 : 0;
            for (int c = 0; c < 3; ++c)
                Put16(working.At(x, y) + 2 * c, v);
            Put16(mono.At(x, y), v);
        }
    for (auto [cols, rows] : {std::pair{15, 12}, std::pair{61, 49}}) {
        SCOPED_TRACE(cols);
        MoreOut out(cols, rows);
        RunMore(working, FRect(0, 0, 30, 24), cols, rows, FRect(0, 0, cols, rows), 0, id.lut, out);
        TestPixmap monoOut(4, cols, rows);
        CropSizeRotateMono(*mono.pixmap, FRect(0, 0, 30, 24), 0, 0, cols, rows, FRect(0, 0, cols, rows), 0,
                           *monoOut.pixmap);
        int saturated = 0;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                for (const uint8_t* p : {out.color.At(x, y), out.color.At(x, y) + 2, monoOut.At(x, y)}) {
                    ASSERT_GT(Get16s(p), -16384) << x << "," << y;
                    saturated += Get16s(p) == 32767;
                }
                ASSERT_GT(Get16s(out.l.At(x, y)), -16384) << x << "," << y;
            }
        EXPECT_GT(saturated, 0);
    }
}

} // namespace

// Bands of one request share one table per scale pair; what they produce is what a call
// that builds its own table gives.
TEST(CropSizeRotate, KeptKernelsAreBuiltOncePerScaleAndChangeNothing)
{
    TestPixmap colour(16, 60, 44);
    FillRandom(colour, 21, 30000);
    TestPixmap mono(4, 60, 44);
    FillRandom(mono, 22, 30000);
    IdentityLUT table;
    const FRect crop(2, 3, 58, 41);
    struct Size {
        int cols, rows, builds;
    } sizes[] = {{56, 38, 0}, {71, 49, 1}, {40, 20, 1}};
    for (const Size& size : sizes) {
        SCOPED_TRACE(std::to_string(size.cols) + " x " + std::to_string(size.rows));
        const FRect whole(0, 0, size.cols, size.rows);
        MoreOut alone(size.cols, size.rows);
        RunMore(colour, crop, size.cols, size.rows, whole, 0, table.lut, alone, 0.001, 200, -120);
        TestPixmap monoAlone(4, size.cols, size.rows);
        CropSizeRotateMono(*mono.pixmap, crop, 0, 0, size.cols, size.rows, whole, 0, *monoAlone.pixmap);

        FResampleKernelCache kernels;
        MoreOut banded(size.cols, size.rows);
        TestPixmap monoBanded(4, size.cols, size.rows);
        for (int top = 0; top < size.rows; top += 7) {
            const int bottom = std::min(size.rows, top + 7);
            const FRect band(0, top, size.cols, bottom);
            std::unique_ptr<FPixmap> c(NewFPixmap(16, banded.color.At(0, top), size.cols, bottom - top,
                                                  banded.color.pixmap->GetStride()));
            std::unique_ptr<FPixmap> l(
                NewFPixmap(4, banded.l.At(0, top), size.cols, bottom - top, banded.l.pixmap->GetStride()));
            std::unique_ptr<FPixmap> m(NewFPixmap(4, monoBanded.At(0, top), size.cols, bottom - top,
                                                  monoBanded.pixmap->GetStride()));
            CropSizeRotateMore(*colour.pixmap, crop, 1000, 800, size.cols, size.rows, band, 0, table.lut, *c,
                               *l, 0.001, 200, -120, &kernels);
            CropSizeRotateMono(*mono.pixmap, crop, 0, 0, size.cols, size.rows, band, 0, *m, &kernels);
        }
        EXPECT_EQ(kernels.GetBuildCount(), size.builds);
        EXPECT_EQ(banded.color.bytes, alone.color.bytes);
        EXPECT_EQ(banded.l.bytes, alone.l.bytes);
        EXPECT_EQ(monoBanded.bytes, monoAlone.bytes);
    }
}
