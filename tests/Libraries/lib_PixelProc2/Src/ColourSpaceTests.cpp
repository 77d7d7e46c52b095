#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "CreateColorSpaceWhitePoint.h"
#include "FException.h"
#include "FPixelProc2.h"

namespace
{

struct XY {
    double x, y;
};

FDoubleRGB XYZOf(XY c, double Y = 1.0)
{
    return {c.x / c.y * Y, Y, (1.0 - c.x - c.y) / c.y * Y};
}

FColorMatrix Inverse(const FColorMatrix& m)
{
    FColorMatrix out;
    EXPECT_TRUE(FColorMatrix::Inverse(out, m));
    return out;
}

FColorMatrix Diagonal(double a, double b, double c)
{
    FColorMatrix d;
    d.Set(a, 0, 0, 0, b, 0, 0, 0, c);
    return d;
}

// RGB to XYZ from the primaries' chromaticities, scaled so that RGB (1, 1, 1) is the white.
FColorMatrix RGBToXYZ(const XY (&p)[3], const FDoubleRGB& white)
{
    FColorMatrix P;
    const FDoubleRGB r = XYZOf(p[0]), g = XYZOf(p[1]), b = XYZOf(p[2]);
    P.Set(r.r, g.r, b.r, r.g, g.g, b.g, r.b, g.b, b.b);
    const FDoubleRGB s = Inverse(P).Apply(white);
    return FColorMatrix::Multiply(P, Diagonal(s.r, s.g, s.b));
}

// The linear Bradford cone-response adaptation from one white to another.
FColorMatrix Adaptation(const FDoubleRGB& from, const FDoubleRGB& to)
{
    FColorMatrix br;
    br.Set(0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296);
    const FDoubleRGB a = br.Apply(from), b = br.Apply(to);
    return FColorMatrix::Multiply(Inverse(br),
                                  FColorMatrix::Multiply(Diagonal(b.r / a.r, b.g / a.g, b.b / a.b), br));
}

const FDoubleRGB kD65{0.95047, 1.0, 1.08883};
const FDoubleRGB kD50{0.96422, 1.0, 0.82521};

// The published primaries and native white of the standard spaces.
struct Space {
    int index;
    XY primaries[3];
    const FDoubleRGB* white;
};
const Space kSpaces[] = {
    {1, {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}, &kD65},
    {2, {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}, &kD65},
    {3, {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}}, &kD65},
    {4, {{0.625, 0.34}, {0.28, 0.595}, {0.155, 0.07}}, &kD65},
    {5, {{0.64, 0.33}, {0.29, 0.60}, {0.15, 0.06}}, &kD65},
    {7, {{0.63, 0.34}, {0.31, 0.595}, {0.155, 0.07}}, &kD65},
    {8, {{0.63, 0.34}, {0.295, 0.605}, {0.15, 0.075}}, &kD50},
    {9, {{0.7347, 0.2653}, {0.1152, 0.8264}, {0.1566, 0.0177}}, &kD50},
    {10, {{0.64, 0.33}, {0.28, 0.65}, {0.15, 0.06}}, &kD65},
    {11, {{0.7347, 0.2653}, {0.1596, 0.8404}, {0.0366, 0.0001}}, &kD50},
};

FColorMatrix Space(int index, int white)
{
    FColorMatrix m;
    CreateColorSpaceWhitePoint(m, index, white);
    return m;
}

std::string MessageOf(auto&& f)
{
    try {
        f();
    } catch (const FException& e) {
        return e.GetMessage();
    }
    return "(no exception)";
}

} // namespace

// The table entries carry four decimals, so each matrix is within 1e-3 of the one made
// from the published primaries (adapted to the other white with Bradford).
TEST(ColourSpaceMatrix, MatchesPublishedPrimariesAndWhite)
{
    for (const auto& s : kSpaces) {
        for (int white : {kPcsWhiteD65, kPcsWhiteD50}) {
            const FDoubleRGB& target = white == kPcsWhiteD65 ? kD65 : kD50;
            const FColorMatrix expected = Inverse(
                FColorMatrix::Multiply(Adaptation(*s.white, target), RGBToXYZ(s.primaries, *s.white)));
            const FColorMatrix m = Space(s.index, white);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(m.m[r][c], expected.m[r][c], 1e-3)
                        << "space " << s.index << " white " << white << " entry " << r << c;
            // In its native white each primary maps to its own channel alone.
            if ((white == kPcsWhiteD65) != (s.white == &kD65))
                continue;
            for (int p = 0; p < 3; ++p) {
                const FDoubleRGB v = m.Apply(XYZOf(s.primaries[p]));
                const double ch[3] = {v.r, v.g, v.b};
                for (int c = 0; c < 3; ++c) {
                    if (c != p) {
                        EXPECT_NEAR(ch[c] / ch[p], 0.0, 5e-4) << "space " << s.index << " primary " << p;
                    }
                }
            }
        }
    }
}

TEST(ColourSpaceMatrix, EveryMatrixMapsItsWhiteToOne)
{
    for (int i = 0; i < kColorSpaceCount; ++i) {
        const FDoubleRGB d65 = Space(i, kPcsWhiteD65).Apply({0.9505, 1.0, 1.089});
        const FDoubleRGB d50 = Space(i, kPcsWhiteD50).Apply({0.9642, 1.0, 0.8249});
        if (i == 0) {
            EXPECT_EQ(Space(0, kPcsWhiteD65), FColorMatrix::Identity());
            EXPECT_EQ(Space(0, kPcsWhiteD50), FColorMatrix::Identity());
            continue;
        }
        for (double v : {d65.r, d65.g, d65.b})
            EXPECT_NEAR(v, 1.0, 5e-4) << "D65 space " << i;
        for (double v : {d50.r, d50.g, d50.b})
            EXPECT_NEAR(v, 1.0, 6e-4) << "D50 space " << i;
    }
    EXPECT_EQ(Space(1, kPcsWhiteD65), Space(2, kPcsWhiteD65));
    EXPECT_EQ(Space(1, kPcsWhiteD50), Space(2, kPcsWhiteD50));
}

TEST(ColourSpaceMatrix, ErrorsNameTheFaultAndCheckTheWhiteFirst)
{
    FColorMatrix m;
    EXPECT_EQ(MessageOf([&] { CreateColorSpaceWhitePoint(m, 2, 2); }),
              "CreateColorSpaceWhitePoint(): Unknown PCS white point");
    EXPECT_EQ(MessageOf([&] { CreateColorSpaceWhitePoint(m, 12, -1); }),
              "CreateColorSpaceWhitePoint(): Unknown PCS white point");
    EXPECT_EQ(MessageOf([&] { CreateColorSpaceWhitePoint(m, 12, 1); }),
              "CreateColorSpaceWhitePoint(): Unknown color space");
    EXPECT_EQ(MessageOf([&] { CreateColorSpaceWhitePoint(m, 12, 0); }),
              "CreateColorSpaceWhitePoint(): Unknown Color Space");
    EXPECT_EQ(MessageOf([&] { CreateColorSpaceWhitePoint(m, -1, 1); }),
              "CreateColorSpaceWhitePoint(): Unknown color space");
    // A plain FException, not the pixel library's.
    try {
        CreateColorSpaceWhitePoint(m, 12, 1);
    } catch (const FExceptionPixelProc2&) {
        ADD_FAILURE() << "wrong class";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetDescription(), FException("").GetDescription());
    }
}

TEST(WorkingColorMatrix, BalancesTheNeutralToGrey)
{
    const FColorMatrix W = Space(kColorSpaceWorking, kPcsWhiteD65);
    const FColorMatrix Winv = Inverse(W);
    FColorMatrix out;
    ComputeWorkingColorMatrix(out, Winv, {1, 1, 1}, 1.0, 0.0);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out.m[r][c], r == c ? 1.0 : 0.0, 1e-12);

    ComputeWorkingColorMatrix(out, Winv, {2, 1, 1}, 1.0, 0.0);
    const double diag[3] = {0.65, 1.3, 1.3};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out.m[r][c], r == c ? diag[r] : 0.0, 1e-12);

    // A far-off neutral: green and blue are raised to a quarter of its luma first, which
    // bounds their gains (luma 6.7, raised to 1.675, balanced luma 7.1725).
    ComputeWorkingColorMatrix(out, Winv, {20, 1, 1}, 1.0, 0.0);
    const double raised[3] = {7.1725 / 20, 7.1725 / 1.675, 7.1725 / 1.675};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out.m[r][c], r == c ? raised[r] : 0.0, 1e-12);

    // A negative component leaves the matrix unbalanced.
    FColorMatrix cam;
    cam.Set(0.6, 0.3, 0.1, 0.25, 0.7, 0.05, 0.02, 0.1, 0.9);
    ComputeWorkingColorMatrix(out, cam, {-1, 1, 1}, 2.0, 0.1);
    const FColorMatrix expected =
        FColorMatrix::Multiply(SaturationMatrix(0.1), FColorMatrix::Multiply(W, cam)).ScaledCopy(2.0);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out.m[r][c], expected.m[r][c], 1e-12);

    // Any camera matrix and a positive neutral: the neutral comes out grey, whatever t.
    for (const FDoubleRGB n :
         {FDoubleRGB{0.5, 1.0, 0.7}, FDoubleRGB{1.0, 0.8, 0.45}, FDoubleRGB{0.9, 1.0, 1.0}}) {
        for (double t : {-0.3, 0.0, 0.2}) {
            ComputeWorkingColorMatrix(out, cam, n, 1.5, t);
            const FDoubleRGB g = out.Apply(n);
            EXPECT_NEAR(g.r, g.g, 1e-9);
            EXPECT_NEAR(g.b, g.g, 1e-9);
        }
    }

    // A black neutral cannot be balanced and must not make NaNs.
    ComputeWorkingColorMatrix(out, cam, {0, 0, 0}, 1.0, 0.0);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_TRUE(std::isfinite(out.m[r][c]));
}

TEST(OutputMatrix, IdentityForWorkingSpaceAndGreyKeptEverywhere)
{
    FColorMatrix out;
    ComputeOutputMatrix(out, kColorSpaceWorking, 0.0);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out.m[r][c], r == c ? 1.0 : 0.0, 1e-12);

    ComputeOutputMatrix(out, 2, 0.0);
    const FColorMatrix expected =
        FColorMatrix::Multiply(Space(2, kPcsWhiteD65), Inverse(Space(kColorSpaceWorking, kPcsWhiteD65)));
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out.m[r][c], expected.m[r][c], 1e-12);

    // Working grey stays grey in every output space, for any saturation (within the four
    // decimals of the tables).
    for (int space = 1; space < kColorSpaceCount; ++space) {
        for (double s : {-2.0, 0.0, 1.0, 3.0}) {
            ComputeOutputMatrix(out, space, s);
            const FDoubleRGB g = out.Apply({0.5, 0.5, 0.5});
            EXPECT_NEAR(g.r, 0.5, 5e-4) << space;
            EXPECT_NEAR(g.g, 0.5, 5e-4) << space;
            EXPECT_NEAR(g.b, 0.5, 5e-4) << space;
        }
    }
    EXPECT_THROW(ComputeOutputMatrix(out, 12, 0.0), FException);
}
