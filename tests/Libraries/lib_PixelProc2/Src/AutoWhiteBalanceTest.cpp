#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "EAutoWB.h"
#include "EAutoWBChromaWt.h"
#include "FDebugTrace.h"
#include "FPixelProc2.h"
#include "FPolygon.h"

namespace
{

// Camera RGB = linear sRGB.
FColorMatrix CamToXYZ()
{
    FColorMatrix m;
    m.Set(0.4124, 0.3576, 0.1805, 0.2126, 0.7152, 0.0722, 0.0193, 0.1192, 0.9505);
    return m;
}

FColorMatrix RimmMatrix()
{
    FColorMatrix m;
    ComputeWorkingColorMatrix(m, CamToXYZ(), FDoubleRGB(-1.0, -1.0, -1.0), 1.0, 0.0);
    return m;
}

FDoubleRGB CameraNeutralOfRimmPoint(double x, double y)
{
    FColorMatrix inverse;
    EXPECT_TRUE(FColorMatrix::Inverse(inverse, RimmMatrix()));
    return NormalizeNeutral(inverse.Apply(FDoubleRGB(x / 10000.0, 1.0, y / 10000.0)));
}

FRimmPoint RimmPointOfNeutral(const FDoubleRGB& n)
{
    FRimmPoint p;
    EXPECT_TRUE(RimmPointOf(RimmMatrix().Apply(n), p));
    return p;
}

// Exposure data for a brightness value of about 0.97: polygon 1, no brightness tint.
constexpr double kF = 2.8, kT = 0.125;
const FIntRGB kSaturation(4000, 4000, 4000);

struct Scene {
    int cols = 384;
    int rows = 352;
    std::vector<int16_t> data;
    FPixmapTemplate<FPixelClass48SRGB> Pixmap()
    {
        return FPixmapTemplate<FPixelClass48SRGB>(data.data(), cols, rows, 0);
    }
};

// A grey ramp under the illuminant with three complementary colour pairs (each pair sums to
// grey) and a little noise.
Scene MakeScene(const FDoubleRGB& neutral, uint32_t seed)
{
    Scene s;
    s.data.resize(3 * static_cast<size_t>(s.cols) * s.rows);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    const double pairs[6][3] = {{0.6, 0.15, 0.15}, {0.15, 0.6, 0.6},  {0.15, 0.6, 0.15},
                                {0.6, 0.15, 0.6},  {0.15, 0.15, 0.6}, {0.6, 0.6, 0.15}};
    const double n[3] = {neutral.r, neutral.g, neutral.b};
    for (int y = 0; y < s.rows; ++y)
        for (int x = 0; x < s.cols; ++x) {
            const double grey = 0.04 + 0.81 * x / s.cols;
            double refl[3] = {grey, grey, grey};
            const int patch = (x - 48) / 48;
            if (y >= 60 && y < 120 && x >= 48 && patch < 6)
                std::copy_n(pairs[patch], 3, refl);
            for (int ch = 0; ch < 3; ++ch)
                s.data[3 * (static_cast<size_t>(y) * s.cols + x) + ch] =
                    static_cast<int16_t>(3600.0 * refl[ch] * n[ch] + noise(random));
        }
    return s;
}

FDoubleRGB GrayWorld(Scene& s, bool constrain = true, double fNumber = kF)
{
    auto p = s.Pixmap();
    return AutoWhiteBalanceGrayWorld(&p, FPostPolyMatrix(), kSaturation, fNumber, kT, 0.0, RimmMatrix(), 1.0,
                                     FDriftPair(), constrain);
}

FDoubleRGB ChromaWeighted(Scene& s, bool flash = false, double fNumber = kF, bool constrain = true)
{
    auto p = s.Pixmap();
    return AutoWhiteBalanceChromaWt(&p, kSaturation, FPostPolyMatrix(), fNumber, kT, 0.0, flash, CamToXYZ(),
                                    1.0, FDoubleRGB(), constrain);
}

// The gray-world result carries the 0.98 / 1.08 tint in RIMM space.
FDoubleRGB Tinted(const FDoubleRGB& n)
{
    FDoubleRGB v = RimmMatrix().Apply(n);
    v.r *= 0.98;
    v.b *= 1.08;
    FColorMatrix inverse;
    FColorMatrix::Inverse(inverse, RimmMatrix());
    return NormalizeNeutral(inverse.Apply(v));
}

FDoubleRGB Untinted(const FDoubleRGB& n)
{
    FDoubleRGB v = RimmMatrix().Apply(n);
    v.r /= 0.98;
    v.b /= 1.08;
    FColorMatrix inverse;
    FColorMatrix::Inverse(inverse, RimmMatrix());
    return NormalizeNeutral(inverse.Apply(v));
}

double WorstChannelError(const FDoubleRGB& a, const FDoubleRGB& b)
{
    return std::max({std::fabs(a.r - b.r), std::fabs(a.g - b.g), std::fabs(a.b - b.b)});
}

double DistanceToPolygon(FRimmPoint p, int number)
{
    FRimmPoint points[kMaxRimmPolygonPoints];
    const int count = GetRimmPolygon(points, number);
    FRimmPoint copy[kMaxRimmPolygonPoints];
    std::copy_n(points, count, copy);
    if (PointInPolygon(p.x, p.y, copy, count) != 'o')
        return 0.0;
    const FRimmPoint q = FPolygon(points, count).NearestBoundaryPoint(p);
    return std::hypot(p.x - q.x, p.y - q.y);
}

} // namespace

TEST(RimmPolygonTest, PointInPolygonClassifiesAndTranslates)
{
    struct Case {
        int polygon;
        FRimmPoint p;
        char expected;
    };
    const Case cases[] = {
        {2, {9500, 9700}, 'v'},   {2, {10350, 7750}, 'e'}, {2, {10300, 10000}, 'i'}, {2, {5000, 5000}, 'o'},
        {1, {10000, 10000}, 'i'}, {1, {14700, 5000}, 'v'}, {3, {10000, 10000}, 'i'}, {3, {12000, 9000}, 'o'},
        {4, {10000, 12000}, 'i'}, {4, {9000, 13200}, 'e'}, {4, {10000, 10000}, 'e'}, {4, {10000, 9000}, 'o'},
    };
    for (const Case& c : cases) {
        FRimmPoint points[kMaxRimmPolygonPoints], original[kMaxRimmPolygonPoints];
        const int count = GetRimmPolygon(points, c.polygon);
        GetRimmPolygon(original, c.polygon);
        EXPECT_EQ(PointInPolygon(c.p.x, c.p.y, points, count), c.expected)
            << c.polygon << " " << c.p.x << "," << c.p.y;
        if (c.expected != 'v') {
            EXPECT_EQ(points[1], (FRimmPoint{original[1].x - c.p.x, original[1].y - c.p.y}));
        }
    }
    FRimmPoint points[kMaxRimmPolygonPoints];
    EXPECT_EQ(GetRimmPolygon(points, 1), 12);
    EXPECT_EQ(GetRimmPolygon(points, 2), 10);
    EXPECT_EQ(GetRimmPolygon(points, 3), 10);
    EXPECT_EQ(GetRimmPolygon(points, 4), 12);
    EXPECT_EQ(GetRimmPolygon(points, 5), 0);
    // Far points must not overflow the crossing products.
    const int count = GetRimmPolygon(points, 1);
    EXPECT_EQ(PointInPolygon(1000000, -1000000, points, count), 'o');
}

TEST(RimmPolygonTest, ConstrainMovesOnlyOutsidePointsToTheNearestBoundaryPoint)
{
    std::mt19937 random(4);
    std::uniform_int_distribution<int> coordinate(2000, 18000);
    for (int polygon = 1; polygon <= 4; ++polygon) {
        FRimmPoint points[kMaxRimmPolygonPoints];
        const int count = GetRimmPolygon(points, polygon);
        for (int i = 0; i < 200; ++i) {
            const FRimmPoint p{coordinate(random), coordinate(random)};
            const FRimmPoint q =
                polygon <= 3 ? ConstrainToRimmPolygon(polygon, p) : ConstrainToRimmPolygonEx(4, p, false);
            bool notOutside = false;
            const FRimmPoint ex = ConstrainToRimmPolygonEx(polygon, p, false, &notOutside);
            if (notOutside) {
                EXPECT_EQ(q, p);
                EXPECT_EQ(ex, p);
                continue;
            }
            // Brute force: the nearest point of the boundary, sampled finely.
            double best = 1e30;
            for (int e = 0; e + 1 < count; ++e)
                for (int s = 0; s <= 2000; ++s) {
                    const double t = s / 2000.0;
                    const double x = points[e].x + t * (points[e + 1].x - points[e].x);
                    const double y = points[e].y + t * (points[e + 1].y - points[e].y);
                    best = std::min(best, std::hypot(p.x - x, p.y - y));
                }
            EXPECT_NEAR(std::hypot(p.x - q.x, p.y - q.y), best, 2.0) << polygon;
            EXPECT_NEAR(std::hypot(p.x - ex.x, p.y - ex.y), best, 2.0) << polygon;
        }
    }
    // An illegal number leaves the point alone.
    EXPECT_EQ(ConstrainToRimmPolygon(7, FRimmPoint{1, 2}), (FRimmPoint{1, 2}));
    EXPECT_EQ(ConstrainToRimmPolygonEx(0, FRimmPoint{1, 2}, true), (FRimmPoint{1, 2}));
}

TEST(RimmPolygonTest, BrightnessValueAndClamps)
{
    double bv = 0;
    ASSERT_TRUE(RimmBrightnessValue(2.8, 0.125, 0.5, 2.0, bv));
    EXPECT_NEAR(bv, 3.322 * std::log10(2.8 * 2.8 / 0.125) + 0.5 - std::log2(64.0), 1e-12);
    EXPECT_FALSE(RimmBrightnessValue(0.0, 0.125, 0, 1, bv));
    EXPECT_FALSE(RimmBrightnessValue(2.8, 0.0, 0, 1, bv));
    EXPECT_FALSE(RimmBrightnessValue(2.8, 0.125, 0, 0, bv));
    EXPECT_EQ(bv, 0.0);

    const FDoubleRGB n = UnconstrainedRimmNeutral(FDoubleRGB(0.05, 2.0, 0.05));
    // 0.1, 2.0, 0.1 -> x 3 / 2.2 -> R and B raised to 0.6 and 0.5 -> / G.
    EXPECT_NEAR(n.r, 0.6 / (2.0 * 3 / 2.2), 1e-12);
    EXPECT_EQ(n.g, 1.0);
    EXPECT_NEAR(n.b, 0.5 / (2.0 * 3 / 2.2), 1e-12);
    const FDoubleRGB nan = UnconstrainedRimmNeutral(FDoubleRGB(std::nan(""), std::nan(""), std::nan("")));
    EXPECT_TRUE(std::isfinite(nan.r + nan.g + nan.b));
    FRimmPoint p;
    EXPECT_FALSE(RimmPointOf(FDoubleRGB(1, 0, 1), p));
    EXPECT_TRUE(RimmPointOf(FDoubleRGB(1e9, 1e-9, 1), p));
    EXPECT_EQ(p.x, 1000000);
}

TEST(GrayWorldTest, BinWeights)
{
    EXPECT_EQ(EAutoWB::BinWeight(0), 1.0);
    EXPECT_EQ(EAutoWB::BinWeight(21), 1.0);
    EXPECT_EQ(EAutoWB::BinWeight(22), 0.99609375);
    EXPECT_EQ(EAutoWB::BinWeight(31), 0.1787109375);
}

TEST(GrayWorldTest, RecoversAKnownCast)
{
    // RIMM points inside polygon 1; the result is the cast with the fixed tint, within 2 %.
    const FRimmPoint casts[] = {{10000, 10000}, {10600, 9000}, {9000, 12500}, {12000, 6000}};
    for (const FRimmPoint& c : casts) {
        const FDoubleRGB neutral = CameraNeutralOfRimmPoint(c.x, c.y);
        Scene s = MakeScene(neutral, 1);
        for (bool constrain : {true, false}) {
            const FDoubleRGB n = GrayWorld(s, constrain);
            EXPECT_LT(WorstChannelError(n, Tinted(neutral)), 0.02)
                << c.x << "," << c.y << " constrain " << constrain << ": " << n.r << " " << n.g << " " << n.b;
        }
    }
}

TEST(GrayWorldTest, StrongCastStaysInsideThePlausibleIlluminants)
{
    const FDoubleRGB neutral = CameraNeutralOfRimmPoint(17000, 2500);
    ASSERT_GT(DistanceToPolygon(RimmPointOfNeutral(neutral), 1), 1000.0);
    Scene s = MakeScene(neutral, 2);
    const FDoubleRGB n = GrayWorld(s);
    EXPECT_LE(DistanceToPolygon(RimmPointOfNeutral(Untinted(n)), 1), 3.0);
    EXPECT_EQ(std::max({n.r, n.g, n.b}), 1.0);
}

TEST(GrayWorldTest, MissingExposureDataGivesTheUnconstrainedPathWithATrace)
{
    const FDoubleRGB neutral = CameraNeutralOfRimmPoint(17000, 2500);
    Scene s = MakeScene(neutral, 2);
    FDebugTraceCapture capture;
    const FDoubleRGB n = GrayWorld(s, true, 0.0);
    EXPECT_TRUE(capture.Contains("Defaulting to unconstrained AWB due to missing info\n"));
    // Unconstrained: the strong cast is only clamped, not pulled into polygon 1.
    EXPECT_GT(DistanceToPolygon(RimmPointOfNeutral(Untinted(n)), 1), 100.0);
}

TEST(GrayWorldTest, DegenerateImagesGiveAFiniteNeutral)
{
    struct Case {
        int cols, rows;
        int16_t level;
    };
    for (const Case& c : {Case{384, 352, 0}, Case{384, 352, -50}, Case{8, 8, 1000}, Case{1, 1, 1000}}) {
        std::vector<int16_t> data(3 * static_cast<size_t>(c.cols) * c.rows, c.level);
        FPixmapTemplate<FPixelClass48SRGB> p(data.data(), c.cols, c.rows, 0);
        const FDoubleRGB n = AutoWhiteBalanceGrayWorld(&p, FPostPolyMatrix(), kSaturation, kF, kT, 0.0,
                                                       RimmMatrix(), 1.0, FDriftPair(), true);
        EXPECT_TRUE(std::isfinite(n.r + n.g + n.b)) << c.cols << "x" << c.rows;
        EXPECT_EQ(std::max({n.r, n.g, n.b}), 1.0);
    }
    std::vector<uint8_t> bytes(64);
    FPixmapTemplate<FPixelClass24RGB> wrong(bytes.data(), 4, 4, 0);
    EXPECT_THROW(AutoWhiteBalanceGrayWorld(&wrong, FPostPolyMatrix(), kSaturation, kF, kT, 0.0, RimmMatrix(),
                                           1.0, FDriftPair(), true),
                 FExceptionPixelProc2);
}

TEST(GrayWorldTest, SaturatedBlocksAndDriftAreLeftOut)
{
    const FDoubleRGB neutral = CameraNeutralOfRimmPoint(10600, 9000);
    Scene s = MakeScene(neutral, 3);
    const FDoubleRGB clean = GrayWorld(s);
    // Clipped magenta blocks in the middle change nothing.
    for (int y = 200; y < 300; ++y)
        for (int x = 100; x < 300; ++x) {
            int16_t* p = &s.data[3 * (static_cast<size_t>(y) * s.cols + x)];
            p[0] = p[2] = 4000;
        }
    EXPECT_LT(WorstChannelError(GrayWorld(s), clean), 0.02);

    // A dark level added to every sample and reported as drift is taken off again.
    Scene lifted = MakeScene(neutral, 3);
    for (int16_t& v : lifted.data)
        v = static_cast<int16_t>(v + 100);
    FDriftPair drift;
    drift.top.level = drift.bottom.level = FDoubleRGB(100, 100, 100);
    auto p = lifted.Pixmap();
    const FDoubleRGB n = AutoWhiteBalanceGrayWorld(&p, FPostPolyMatrix(), kSaturation, kF, kT, 0.0,
                                                   RimmMatrix(), 1.0, drift, true);
    EXPECT_LT(WorstChannelError(n, clean), 0.02);
}

TEST(ChromaWeightedTest, GeometryLabAndCandidateChoice)
{
    std::vector<int16_t> data(3 * 1000 * 700);
    FPixmapTemplate<FPixelClass48SRGB> p(data.data(), 1000, 700, 0);
    EAutoWBChromaWt e(&p, FDoubleRGB(4000, 4000, 4000), FPostPolyMatrix(), kF, kT, 0, false, CamToXYZ(), 1.0,
                      FDoubleRGB(), true);
    EXPECT_EQ(e.GetColMargin(), 12); // trunc(10) rounded up to a multiple of 4
    EXPECT_EQ(e.GetRowMargin(), 8);
    EXPECT_EQ(e.GetSubCols(), (1000 - 24) >> 2);
    EXPECT_EQ(e.GetSubRows(), (700 - 16) >> 3);

    const std::vector<double> cube = MakeChromaCubeRootTable();
    const std::vector<double> tricube = MakeTricubeTable(30);
    EXPECT_EQ(tricube.size(), 31u);
    EXPECT_EQ(tricube[0], 1.0);
    EXPECT_EQ(tricube[30], 0.0);
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
    for (const FDoubleRGB& xyz : {FDoubleRGB(40, 50, 60), FDoubleRGB(90, 100, 20), FDoubleRGB(0.3, 0.5, 0.2),
                                  FDoubleRGB(2000, 1800, 2500)}) {
        double L = 0, a = 0, b = 0;
        XYZToLab(xyz.r, xyz.g, xyz.b, 95.0456, 100, 108.9058, cube.data(), L, a, b);
        EXPECT_NEAR(L, 116 * f(xyz.g / 100) - 16, 0.5);
        EXPECT_NEAR(a, 500 * (f(xyz.r / 95.0456) - f(xyz.g / 100)), 2.5);
        EXPECT_NEAR(b, 200 * (f(xyz.g / 100) - f(xyz.b / 108.9058)), 1.0);
    }

    const double nan = std::nan("");
    struct Case {
        double means[6];
        int expected;
    };
    const Case cases[] = {
        {{5, 5.1, 5.2, 5.3, 5.4, 9}, 2},     // five within 50 %
        {{5, 5, 5, 5, 5, 5}, 2},             // six
        {{20, 5, 6, 7, 20, 20}, 2},          // three: the second of the list
        {{20, 20, 20, 6, 5, 7}, 4},          // three: the second of the list
        {{20, 5, 20, 6, 20, 20}, 1},         // two: the first
        {{20, 20, 20, 20, 20, 2}, 5},        // one
        {{0, 3, 3, 3, 3, 3}, 0},             // a perfectly grey scene under candidate 0
        {{nan, nan, nan, nan, nan, nan}, 2}, // nothing qualifies
        {{nan, 8, nan, nan, nan, nan}, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseChromaCandidate(c.means), c.expected) << c.means[0] << " " << c.means[1];
}

TEST(ChromaWeightedTest, RecoversAKnownCast)
{
    // Inside polygon 1 at a brightness value below 3.2 there is neither a move nor a tint.
    const FRimmPoint casts[] = {{10000, 10000}, {10600, 9000}, {9000, 12500}, {12000, 6000}};
    for (const FRimmPoint& c : casts) {
        const FDoubleRGB neutral = CameraNeutralOfRimmPoint(c.x, c.y);
        Scene s = MakeScene(neutral, 5);
        const FDoubleRGB n = ChromaWeighted(s);
        EXPECT_LT(WorstChannelError(n, neutral), 0.02)
            << c.x << "," << c.y << ": " << n.r << " " << n.g << " " << n.b;
        // Stable under a stop more or less of exposure.
        Scene brighter = s;
        for (int16_t& v : brighter.data)
            v = static_cast<int16_t>(std::min(3990, v * 2));
        EXPECT_LT(WorstChannelError(ChromaWeighted(brighter), neutral), 0.03) << c.x << "," << c.y;
    }
}

TEST(ChromaWeightedTest, StrongCastStaysInsideThePlausibleIlluminants)
{
    const FDoubleRGB neutral = CameraNeutralOfRimmPoint(17000, 2500);
    Scene s = MakeScene(neutral, 6);
    EXPECT_LE(DistanceToPolygon(RimmPointOfNeutral(ChromaWeighted(s)), 1), 3.0);
    // With flash the flash polygon applies whatever the brightness.
    EXPECT_LE(DistanceToPolygon(RimmPointOfNeutral(ChromaWeighted(s, true)), 4), 3.0);
    // Missing exposure data: unconstrained, traced.
    FDebugTraceCapture capture;
    const FDoubleRGB n = ChromaWeighted(s, false, 0.0);
    EXPECT_TRUE(capture.Contains("Defaulting to unconstrained AWB due to missing info\n"));
    EXPECT_GT(DistanceToPolygon(RimmPointOfNeutral(n), 1), 100.0);
}

TEST(ChromaWeightedTest, DegenerateImagesGiveAFiniteNeutral)
{
    struct Case {
        int cols, rows;
        int16_t level;
    };
    for (const Case& c : {Case{384, 352, 0}, Case{384, 352, 4095}, Case{8, 8, 1000}, Case{1, 1, 1000}}) {
        std::vector<int16_t> data(3 * static_cast<size_t>(c.cols) * c.rows, c.level);
        FPixmapTemplate<FPixelClass48SRGB> p(data.data(), c.cols, c.rows, 0);
        const FDoubleRGB n = AutoWhiteBalanceChromaWt(&p, kSaturation, FPostPolyMatrix(), kF, kT, 0.0, false,
                                                      CamToXYZ(), 1.0, FDoubleRGB(), true);
        EXPECT_TRUE(std::isfinite(n.r + n.g + n.b)) << c.cols << "x" << c.rows;
        EXPECT_EQ(std::max({n.r, n.g, n.b}), 1.0);
    }
}

TEST(AutoWhiteBalanceTest, SameResultFromRunToRunAndAcrossThreads)
{
    const FDoubleRGB neutral = CameraNeutralOfRimmPoint(10600, 9000);
    Scene s = MakeScene(neutral, 7);
    const FDoubleRGB grey = GrayWorld(s), chroma = ChromaWeighted(s);
    std::vector<FDoubleRGB> greys(4), chromas(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] {
            Scene copy = s;
            greys[i] = GrayWorld(copy);
            chromas[i] = ChromaWeighted(copy);
        });
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(greys[i], grey);
        EXPECT_EQ(chromas[i], chroma);
    }
}

// The chroma-weighted estimate runs its per-pixel work in bands: any band count must give
// the one-band neutral to the bit, with and without the flash candidate, on sizes whose
// subsample rows do not split evenly.
TEST(ChromaWeightedTest, BandsGiveTheOneBandNeutral)
{
    for (const uint32_t seed : {3u, 9u}) {
        Scene s = MakeScene(CameraNeutralOfRimmPoint(10600, 9000), seed);
        auto p = s.Pixmap();
        for (const bool flash : {false, true}) {
            auto run = [&](int threads) {
                return AutoWhiteBalanceChromaWt(&p, kSaturation, FPostPolyMatrix(), kF, kT, 0.0, flash,
                                                CamToXYZ(), 1.0, FDoubleRGB(), true, threads);
            };
            const FDoubleRGB one = run(1);
            for (const int threads : {2, 3, 8, 13, 500})
                EXPECT_EQ(run(threads), one)
                    << "seed " << seed << " flash " << flash << " threads " << threads;
        }
    }
}
