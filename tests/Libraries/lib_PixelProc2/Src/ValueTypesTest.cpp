#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "PixelProc2Types.h"

namespace
{

TEST(ColorMatrixFixed, ToFixedRoundsAsQ13)
{
    struct Case {
        double value;
        int32_t q13;
    };
    const Case cases[] = {
        {1.0, 8192},
        {0.0, 0},
        {0.49999 / 8192, 0},
        {0.5 / 8192, 1},
        {-1.0, -8191},
        {-0.5, -4095},
        {1.5, 12288},
        {-0.25, -2047},
        {3.9999, 32767},
        {std::nan(""), 0},
        {1e300, std::numeric_limits<int32_t>::max()},
        {-1e300, std::numeric_limits<int32_t>::min()},
    };
    for (const Case& c : cases) {
        FColorMatrix m;
        m.Set(c.value, 0, 0, 0, 0, 0, 0, 0, c.value);
        const FColorMatrixFixed f = m.ToFixed();
        EXPECT_EQ(f.m[0][0], c.q13) << "value " << c.value;
        EXPECT_EQ(f.m[2][2], c.q13) << "value " << c.value;
        EXPECT_EQ(f.m[1][1], 0);
    }
    const FColorMatrixFixed id = FColorMatrix::Identity().ToFixed();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(id.m[i][j], i == j ? 8192 : 0);
}

TEST(ColorMatrixFixed, ApplyRoundsAndShiftsWithSign)
{
    const FColorMatrixFixed id = FColorMatrix::Identity().ToFixed();
    for (int32_t v : {-32768, -4096, -1, 0, 1, 4095, 4096, 32767})
        EXPECT_EQ(id.Apply({v, -v, v / 2}), FIntRGB(v, -v, v / 2)) << v;

    FColorMatrix m;
    m.Set(0.5, 0.25, 0.25, -0.5, 1.0, 0.0, 0.0, 0.0, 2.0);
    // Row 0: (0.5*100 + 0.25*200 + 0.25*301) = 175.25 -> 175; row 1: -50 + 200 = 150;
    // row 2: 602. Q13 -0.5 is -4095, so row 1 is (-4095*100 + 8192*200 + 4096) >> 13 = 150.
    EXPECT_EQ(m.ToFixed().Apply({100, 200, 301}), FIntRGB(175, 150, 602));

    // Halves round up, also below zero: (-3 * 4096 + 4096) >> 13 = -1.
    FColorMatrixFixed half;
    half.m[0][0] = 4096;
    EXPECT_EQ(half.Apply({-3, 0, 0}).r, -1);
    EXPECT_EQ(half.Apply({3, 0, 0}).r, 2);

    // Full-scale samples with large coefficients do not overflow the sum.
    FColorMatrixFixed big;
    big.m[0][0] = big.m[0][1] = big.m[0][2] = 32767;
    EXPECT_EQ(big.Apply({32767, 32767, 32767}).r, static_cast<int32_t>((3LL * 32767 * 32767 + 4096) >> 13));
}

TEST(ColorMatrix, ProductDeterminantAndInverse)
{
    FColorMatrix a;
    a.Set(2, 0, 1, 1, 3, 0, 0, 1, 4);
    EXPECT_DOUBLE_EQ(a.Determinant(), 2 * 12 - 0 + 1 * 1);
    FColorMatrix inv;
    ASSERT_TRUE(FColorMatrix::Inverse(inv, a));
    const FColorMatrix p = FColorMatrix::Multiply(a, inv);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(p.m[i][j], i == j ? 1.0 : 0.0, 1e-12);
    const FDoubleRGB v = a.Apply({1, 2, 3});
    EXPECT_EQ(v, FDoubleRGB(5, 7, 14));
    EXPECT_EQ(a.ScaledCopy(0.5).m[2][2], 2.0);

    FColorMatrix singular;
    singular.Set(1, 2, 3, 2, 4, 6, 0, 0, 1);
    FColorMatrix out;
    EXPECT_FALSE(FColorMatrix::Inverse(out, singular));
    EXPECT_FALSE(std::isfinite(out.m[0][0]));
}

TEST(IntRGB, ArithmeticTruncatesAndShiftsArithmetically)
{
    const FIntRGB t(-7, 7, 0);
    EXPECT_EQ(t.DivideScalar(2), FIntRGB(-3, 3, 0));
    EXPECT_EQ(t.ShiftRight(1), FIntRGB(-4, 3, 0));
    EXPECT_EQ(t << 2, FIntRGB(-28, 28, 0));
    EXPECT_EQ(t.Add({1, 2, 3}).Subtract({1, 1, 1}).MulScalar(2), FIntRGB(-14, 16, 4));
    FIntRGB u = t;
    u.SubtractInPlace({1, 1, 1});
    u.SubtractScalarInPlace(1);
    EXPECT_EQ(u, FIntRGB(-9, 5, -2));

    FDoubleRGB d;
    d.FromIntRGB(t);
    d.Multiply({2, 2, 2});
    d.AddInPlace({1, 1, 1});
    EXPECT_EQ(d, FDoubleRGB(-13, 15, 1));
    EXPECT_EQ(d.DivideCopy(2), FDoubleRGB(-6.5, 7.5, 0.5));
}

TEST(LookupTables, MaskedIndexAndSignedness)
{
    FColorLUT lut(16);
    for (int i = 0; i < 16; ++i) {
        lut.m_pRedData[i] = static_cast<int16_t>(i);
        lut.m_pGreenData[i] = static_cast<int16_t>(100 + i);
        lut.m_pBlueData[i] = static_cast<int16_t>(-i);
    }
    EXPECT_EQ(lut.m_pGreenData, lut.m_pRedData + 16);
    EXPECT_EQ(lut.Lookup({-1, -1, -1}), FIntRGB(15, 115, -15));
    EXPECT_EQ(lut.Lookup({16, 16, 16}), FIntRGB(0, 100, 0));

    int16_t data[4] = {-1, 1, 2, 3};
    FLUT single(data, 4, false);
    EXPECT_EQ(single.LookupRGB(0, 4, -1), FIntRGB(65535, 65535, 3));
    EXPECT_EQ(single.Get(0), -1);
    FColorLUT same(data, data, data, 4, false);
    EXPECT_EQ(same.Lookup({0, 0, 0}), FIntRGB(-1, -1, -1));
}

TEST(PixelAccessors, StoreLowBitsWithoutClamping)
{
    uint8_t rgb[3];
    SetPixelRGB<FPixelClass24RGB>(rgb, {256, -1, 300});
    EXPECT_EQ(rgb[0], 0);
    EXPECT_EQ(rgb[1], 255);
    EXPECT_EQ(rgb[2], 44);

    uint8_t bgra[4];
    FIntRGB(1, 2, 3).ToBGRA(bgra);
    EXPECT_EQ(bgra[0], 3);
    EXPECT_EQ(bgra[1], 2);
    EXPECT_EQ(bgra[2], 1);
    EXPECT_EQ(bgra[3], 255);

    int16_t px[3];
    SetPixelRGB<FPixelClass48SRGB>(px, {-5, 70000, 32767});
    EXPECT_EQ(GetPixelRGB<FPixelClass48SRGB>(px), FIntRGB(-5, 70000 - 65536, 32767));
    uint16_t upx[3];
    SetPixelRGB<FPixelClass48RGB>(upx, {-1, 2, 65535});
    EXPECT_EQ(upx[0], 65535);
    EXPECT_EQ(upx[2], 65535);
}

} // namespace
