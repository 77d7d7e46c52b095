#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "ToneLUT.h"

namespace
{

uint16_t Code(const FLUT& t, int index)
{
    return static_cast<uint16_t>(t.m_pData[index & t.m_iMask]);
}

struct NeutralCurve {
    double P = 1.289375;
    double Q = 0.5;
    double K = std::pow(0.18, 1.0 - 1.289375);
    FGammaSegment seg;
    double T, m, c0;
    NeutralCurve()
    {
        MakeGammaSegment(seg, 1.0 / 2.4, 0.00304);
        const double PP = P / 2.4;
        c0 = (1.0 - PP) * 0.06;
        T = std::pow(std::pow(0.18, (P - 1.0) / 2.4) * (seg.A + c0) / ((seg.A + 1.0) * (1.0 - PP)), 1.0 / PP);
        const double F = ToneCurveValue(T, 1.0, 0.0, P, Q, 0.0, 0.0, 0.0, K, seg, 0.0);
        m = (GammaSegmentEncode(seg, F) - c0) / T;
    }
    double operator()(double x, double gain = 1.0) const
    {
        return ToneCurveValue(x, gain, 0.0, P, Q, T, m, c0, K, seg, 0.01);
    }
};

} // namespace

TEST(GammaSegment, KnownValues)
{
    FGammaSegment s;
    MakeGammaSegment(s, 1.0 / 2.4, 0.00304);
    EXPECT_NEAR(s.A, 0.0521332, 1e-6);
    EXPECT_NEAR(s.S1, 12.92305, 1e-4);
    EXPECT_NEAR(s.x1, 0.0056260, 1e-6);
    EXPECT_NEAR(s.B, 0.0162184, 1e-6);
    EXPECT_EQ(s.S2, 9.0);
    for (double x : {0.001, 0.00304, 0.01, 0.18, 1.0})
        EXPECT_NEAR(GammaSegmentDecode(s, GammaSegmentEncode(s, x)), x, 1e-12) << x;

    MakeGammaSegment(s, 1.0, 0.0);
    EXPECT_EQ(s.A, 0.0);
    EXPECT_EQ(s.S1, 1.0);
    EXPECT_EQ(s.x1, 0.0);
    EXPECT_EQ(s.B, 0.0);
    EXPECT_EQ(s.S2, 1.0);
}

TEST(OutputTransferLUT, KnownEntries)
{
    const auto srgb = MakeOutputTransferLUT(2, 8);
    ASSERT_EQ(srgb->m_iSize, 65536);
    EXPECT_TRUE(srgb->m_bOwnsData);
    EXPECT_EQ(Code(*srgb, 0), 4);
    EXPECT_EQ(Code(*srgb, 4096), 244);
    EXPECT_EQ(Code(*srgb, 4617), 254);
    for (int i = 4618; i <= 32767; ++i)
        ASSERT_EQ(Code(*srgb, i), 255) << i;
    const uint16_t negative[] = {4, 3, 2, 2, 1, 1, 0, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Code(*srgb, 65535 - i), negative[i]) << i;
    for (int i = 32768; i < 65528; ++i)
        ASSERT_EQ(Code(*srgb, i), 0) << i;

    const auto linear = MakeOutputTransferLUT(0, 16);
    EXPECT_EQ(Code(*linear, 0), 0);
    EXPECT_EQ(Code(*linear, 2048), 32667);
    EXPECT_EQ(Code(*linear, 4096), 62645);
    for (int i = 32768; i < 65536; ++i)
        ASSERT_EQ(Code(*linear, i), 0) << i;

    EXPECT_EQ(Code(*MakeOutputTransferLUT(3, 8), 0), 12);
    EXPECT_EQ(Code(*MakeOutputTransferLUT(4, 8), 0), 3);
}

TEST(OutputTransferLUT, PositiveHalfRisesToFullScaleInEverySpace)
{
    for (int space = 0; space < 12; ++space) {
        for (int bits : {8, 16}) {
            const auto t = MakeOutputTransferLUT(space, bits);
            const int max = (1 << bits) - 1;
            for (int i = 1; i <= 32767; ++i)
                ASSERT_GE(Code(*t, i), Code(*t, i - 1))
                    << "space " << space << " bits " << bits << " at " << i;
            EXPECT_EQ(Code(*t, 32767), max);
            // Negative inputs give codes no larger than input 0.
            for (int i = 32768; i < 65536; ++i)
                ASSERT_LE(Code(*t, i), Code(*t, 0)) << "space " << space << " at " << i;
        }
    }
}

TEST(OutputTransferLUT, RejectsUnknownSpacesAndDepths)
{
    for (auto [space, bits] : {std::pair{12, 8}, std::pair{-1, 8}, std::pair{2, 12}, std::pair{2, 0}}) {
        try {
            MakeOutputTransferLUT(space, bits);
            ADD_FAILURE() << space << "/" << bits;
        } catch (const FExceptionPixelProc2& e) {
            if (space == 12) {
                EXPECT_STREQ(e.GetMessage(), "Unknown Color Space");
            }
        }
    }
}

TEST(ToneCurve, NeutralSettingsKnownValues)
{
    const NeutralCurve curve;
    EXPECT_NEAR(curve.T, 0.0235450, 1e-6);
    EXPECT_NEAR(curve.m, 3.83432, 1e-4);
    EXPECT_NEAR(curve.c0, 0.0277656, 1e-6);
    EXPECT_NEAR(curve(0.18), 0.159618, 1e-5);
    EXPECT_NEAR(curve(1.0), 0.823209, 1e-5);
    EXPECT_NEAR(curve(2.0), 1.132846, 1e-5);
}

TEST(ToneLUT, SamplesAndInterpolationFollowTheCurve)
{
    const FLUT& cube = *FGlobalLUTsClass::GetCubeLUT();
    FColorLUT tone(65536);
    MakeToneLUT(0, 0, 0, 0, 1, 1, 1, cube, tone);
    const NeutralCurve curve;
    const auto entry = [](double v) {
        return static_cast<int>(std::min(16384.0, std::trunc(v * 4096 + 0.5)));
    };
    for (int p = 0; p <= 8160; p += 32) {
        const double v = curve(cube.Get(p) / 4096.0);
        ASSERT_EQ(tone.m_pGreenData[p], entry(v)) << p;
        if (p == 8160)
            break;
        const double next = curve(cube.Get(p + 32) / 4096.0);
        for (int j = 1; j < 32; ++j)
            ASSERT_EQ(tone.m_pGreenData[p + j], entry(v + (next - v) * j / 32)) << p + j;
    }
    EXPECT_EQ(tone.m_pRedData[4000], tone.m_pBlueData[4000]);
}

TEST(ToneLUT, ChannelGainsAreNormalisedByTheirMean)
{
    const FLUT& cube = *FGlobalLUTsClass::GetCubeLUT();
    FColorLUT tone(65536);
    MakeToneLUT(0, 0, 0, 0, 2, 1, 1, cube, tone);
    const double v = (1 / (0.2 + 0.15 + 0.5) + (0.2 + 0.6 + 0.5)) / 2;
    EXPECT_NEAR(v, 1.238235, 1e-6);
    const NeutralCurve curve;
    const int p = 4096;
    const double x = cube.Get(p) / 4096.0;
    EXPECT_EQ(tone.m_pRedData[p], static_cast<int>(curve(x, 2 / v) * 4096 + 0.5));
    EXPECT_EQ(tone.m_pGreenData[p], static_cast<int>(curve(x, 1 / v) * 4096 + 0.5));
    EXPECT_EQ(tone.m_pBlueData[p], tone.m_pGreenData[p]);
}

// Every slider value in range gives a table that never falls, stays within 4.0, repeats
// its last sample up to 32767 and maps the negative half to 0.
TEST(ToneLUT, MonotonicForEverySliderValue)
{
    const FLUT& cube = *FGlobalLUTsClass::GetCubeLUT();
    FColorLUT tone(65536);
    const double steps[] = {-2.0, -1.5, -0.5, 0.0, 1.0, 2.0};
    const double gains[][3] = {{1, 1, 1}, {2, 1, 0.5}, {0.6, 1, 1.7}};
    for (double exposure : {-3.0, 0.0, 3.0})
        for (double shadow : steps)
            for (double contrast : steps)
                for (double highlight : steps)
                    for (const auto& g : gains) {
                        MakeToneLUT(exposure, shadow, contrast, highlight, g[0], g[1], g[2], cube, tone);
                        for (const int16_t* t : {tone.m_pRedData, tone.m_pGreenData, tone.m_pBlueData}) {
                            bool ok = t[0] >= 0 && t[8160] <= 16384;
                            for (int i = 1; ok && i <= 8160; ++i)
                                ok = t[i] >= t[i - 1];
                            for (int i = 8161; ok && i <= 32767; ++i)
                                ok = t[i] == t[8160];
                            for (int i = 32768; ok && i < 65536; ++i)
                                ok = t[i] == 0;
                            ASSERT_TRUE(ok) << "exposure " << exposure << " shadow " << shadow << " contrast "
                                            << contrast << " highlight " << highlight << " gains " << g[0]
                                            << "," << g[1] << "," << g[2];
                        }
                    }
}

TEST(ToneLUT, RejectsSmallTablesAndBadSettings)
{
    const FLUT& cube = *FGlobalLUTsClass::GetCubeLUT();
    FColorLUT small(32768);
    try {
        MakeToneLUT(0, 0, 0, 0, 1, 1, 1, cube, small);
        ADD_FAILURE();
    } catch (const FException& e) {
        EXPECT_NE(std::string(e.GetMessage()).find("OutToneLUT->GetSize() >= 65536"), std::string::npos);
    }
    FColorLUT tone(65536);
    EXPECT_THROW(MakeToneLUT(0, 0, 0, 0, 0, 1, 1, cube, tone), FExceptionPixelProc2);
    EXPECT_THROW(MakeToneLUT(0, 0, 0, 0, 1, -1, 1, cube, tone), FExceptionPixelProc2);
    EXPECT_THROW(MakeToneLUT(NAN, 0, 0, 0, 1, 1, 1, cube, tone), FExceptionPixelProc2);
    EXPECT_THROW(MakeToneLUT(0, 0, INFINITY, 0, 1, 1, 1, cube, tone), FExceptionPixelProc2);
    // Out-of-range sliders (an edited settings file) are held to their range.
    FColorLUT edge(65536);
    MakeToneLUT(0, 2, -2, 2, 1, 1, 1, cube, edge);
    MakeToneLUT(0, 7, -9, 30, 1, 1, 1, cube, tone);
    EXPECT_EQ(std::vector<int16_t>(tone.m_pRedData, tone.m_pRedData + 65536 * 3),
              std::vector<int16_t>(edge.m_pRedData, edge.m_pRedData + 65536 * 3));
    MakeToneLUT(1000, 0, 0, 0, 1, 1, 1, cube, tone);
    EXPECT_EQ(tone.m_pGreenData[8160], 16384);
}

namespace
{

struct MonoImage {
    int cols, rows;
    std::vector<int16_t> data;
    FPixmapTemplate<FPixelClass16SMono> pixmap;
    MonoImage(int c, int r, int16_t v)
        : cols(c), rows(r), data(static_cast<size_t>(c) * r, v), pixmap(data.data(), c, r, 0)
    {
    }
    int16_t& at(int x, int y) { return data[static_cast<size_t>(y) * cols + x]; }
};

} // namespace

TEST(HighPassMonoImage, ConstantAndZeroStrengthGiveZero)
{
    for (auto [w, h] :
         {std::pair{1, 1}, std::pair{2, 3}, std::pair{3, 7}, std::pair{4, 4}, std::pair{9, 5}}) {
        for (double s : {0.0, 1.0, 2.0, 100.0}) {
            MonoImage img(w, h, 1234);
            HighPassMonoImage(img.pixmap, s);
            for (int16_t v : img.data)
                ASSERT_EQ(v, 0) << w << "x" << h << " s " << s;
        }
    }
    MonoImage ramp(6, 6, 0);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            ramp.at(x, y) = static_cast<int16_t>(x * 100 + y * 37 - 300);
    HighPassMonoImage(ramp.pixmap, 0.0);
    for (int16_t v : ramp.data)
        EXPECT_EQ(v, 0);
}

TEST(HighPassMonoImage, ImpulseLeavesItsCentreMinusTheKernel)
{
    // s = 1: b = 0.25, kernel [256, 1024, 1536, 1024, 256] / 4096 in both directions.
    MonoImage img(9, 9, 0);
    img.at(4, 4) = 4096;
    HighPassMonoImage(img.pixmap, 1.0);
    const int k[5] = {256, 1024, 1536, 1024, 256};
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            int expected = 0;
            if (std::abs(x - 4) <= 2 && std::abs(y - 4) <= 2) {
                const int v = (k[y - 2] * 4096 + 2048) >> 12;
                expected = -((k[x - 2] * v + 2048) >> 12);
            }
            if (x == 4 && y == 4)
                expected += 4096;
            EXPECT_EQ(img.at(x, y), expected) << x << "," << y;
        }
    }
}

// The filter against its definition in 64-bit sums (edges repeated, results held to 16
// bits), over random and saturated samples at widths on both sides of the eight-column
// blocks, for strengths across the clamped range.
TEST(HighPassMonoImage, EqualsItsDefinitionOnRandomImages)
{
    uint32_t seed = 99;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int16_t>(seed >> 16);
    };
    for (auto [w, h] : {std::pair{37, 9}, std::pair{8, 5}, std::pair{16, 3}, std::pair{61, 2}}) {
        for (double strength : {0.3, 1.0, 4.0 / 3.0, 2.0, 9.0}) {
            MonoImage img(w, h, 0);
            for (size_t i = 0; i < img.data.size(); ++i)
                img.data[i] = i % 5 == 0 ? (i % 2 == 0 ? INT16_MAX : INT16_MIN) : next();
            const std::vector<int16_t> before = img.data;
            HighPassMonoImage(img.pixmap, strength);

            const double b = std::clamp(strength / 4.0, 0.0, 0.5);
            const int64_t c = static_cast<int64_t>(4096.0 * b * b + 0.5);
            const int64_t d = static_cast<int64_t>(8192.0 * (b - 2.0 * b * b) + 0.5);
            const int64_t e = 2 * (2048 - d - c);
            const auto at = [&](int x, int y) {
                return int64_t(before[size_t(std::clamp(y, 0, h - 1)) * w + size_t(std::clamp(x, 0, w - 1))]);
            };
            for (int y = 0; y < h; ++y) {
                std::vector<int64_t> v(static_cast<size_t>(w));
                for (int x = 0; x < w; ++x)
                    v[size_t(x)] = (d * (at(x, y - 1) + at(x, y + 1)) + c * (at(x, y - 2) + at(x, y + 2)) +
                                    e * at(x, y) + 2048) >>
                                   12;
                const auto col = [&](int x) { return v[size_t(std::clamp(x, 0, w - 1))]; };
                for (int x = 0; x < w; ++x) {
                    const int64_t s =
                        c * (col(x - 2) + col(x + 2)) + d * (col(x - 1) + col(x + 1)) + e * col(x) + 2048;
                    const int64_t want = std::clamp<int64_t>(at(x, y) - (s >> 12), INT16_MIN, INT16_MAX);
                    ASSERT_EQ(img.at(x, y), want)
                        << w << "x" << h << " s " << strength << " at " << x << "," << y;
                }
            }
        }
    }
}
