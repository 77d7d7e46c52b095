#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "CalculateAutoAdjustSettings.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"

namespace
{

struct Settings {
    double exposure = 9, contrast = 9, shadow = 9, highlight = 9, saturation = 9;
    FDoubleRGB gains{9, 9, 9};
};

struct Image {
    int cols, rows;
    std::vector<int16_t> data;
    FPixmapTemplate<FPixelClass48SRGB> pixmap;
    Image(int c, int r, int16_t v = 0)
        : cols(c), rows(r), data(static_cast<size_t>(c) * r * 3, v), pixmap(data.data(), c, r, 0)
    {
    }
    int16_t* at(int x, int y) { return data.data() + (static_cast<size_t>(y) * cols + x) * 3; }
};

Settings AutoSettings(const Image& img, double bias = 0.0)
{
    Settings s;
    CalculateAutoAdjustSettings(img.pixmap, *FGlobalLUTsClass::GetCubeRootLUT(),
                                *FGlobalLUTsClass::GetCubeLUT(), bias, s.exposure, s.contrast, s.shadow,
                                s.highlight, s.saturation, s.gains);
    return s;
}

bool OnTenthGrid(double v)
{
    return std::fabs(v * 10.0 - std::round(v * 10.0)) < 1e-9;
}

void ExpectSane(const Settings& s, const char* what)
{
    for (double v : {s.exposure, s.contrast, s.shadow, s.highlight}) {
        EXPECT_TRUE(std::isfinite(v)) << what;
        EXPECT_GE(v, -1.5) << what;
        EXPECT_LE(v, 1.5) << what;
        EXPECT_TRUE(OnTenthGrid(v)) << what << " " << v;
    }
    EXPECT_TRUE(std::isfinite(s.saturation)) << what;
    EXPECT_GE(s.saturation, -1.0) << what;
    EXPECT_LE(s.saturation, 1.0) << what;
    EXPECT_TRUE(OnTenthGrid(s.saturation)) << what;
    for (double g : {s.gains.r, s.gains.g, s.gains.b}) {
        EXPECT_TRUE(std::isfinite(g)) << what;
        EXPECT_GT(g, 0.0) << what;
        EXPECT_LE(g, 1.0) << what;
    }
    EXPECT_EQ(std::max({s.gains.r, s.gains.g, s.gains.b}), 1.0) << what;
}

} // namespace

TEST(AutoAdjust, ClampRoundTenthAndHighlightBias)
{
    struct Case {
        double x, low, high, expected;
    };
    const Case cases[] = {{0.349, -1.5, 1.5, 0.3},   {0.36, -1.5, 1.5, 0.4},  {-2.0, -1.5, 1.5, -1.5},
                          {1.44, -1.0, 1.0, 1.0},    {-0.05, -1.5, 1.5, 0.0}, {NAN, -1.5, 1.5, 0.0},
                          {INFINITY, -1.0, 1.0, 1.0}};
    for (const auto& c : cases)
        EXPECT_NEAR(ClampRoundTenth(c.x, c.low, c.high), c.expected, 1e-12) << c.x;

    struct Bias {
        double h, factor;
    };
    for (const auto& b : {Bias{-1.0, 0.6}, Bias{-1.5, 0.7}, Bias{-1.6, 0.8}, Bias{-1.95, 0.9}, Bias{0.5, 0.6},
                          Bias{-1.2, 0.7}, Bias{-1.9, 0.8}})
        EXPECT_EQ(HighlightBiasFactor(b.h), b.factor) << b.h;
    EXPECT_THROW(CheckAutoAdjustAllocation(nullptr), FExceptionPixelProc2);
}

// One grey everywhere fills one cell of the cube: the colour weights give densities 0, 1
// and 2, and no spread means saturation 0.7.
TEST(AutoAdjust, UniformGreyAtManyLevelsAndSizes)
{
    const FDoubleRGB grey{1.0, std::pow(10.0, -0.01), std::pow(10.0, -0.02)};
    for (auto [w, h] : {std::pair{32, 40}, std::pair{35, 43}, std::pair{64, 64}, std::pair{301, 203}}) {
        for (int16_t v : {-500, 0, 1, 37, 410, 2000, 4096, 12000, 24000, 32767}) {
            Image img(w, h, v);
            const Settings s = AutoSettings(img);
            ExpectSane(s, "grey");
            EXPECT_NEAR(s.gains.r, grey.r, 1e-12) << w << "x" << h << " v " << v;
            EXPECT_NEAR(s.gains.g, grey.g, 1e-12) << w << "x" << h << " v " << v;
            EXPECT_NEAR(s.gains.b, grey.b, 1e-12) << w << "x" << h << " v " << v;
            EXPECT_NEAR(s.saturation, 0.7, 1e-12) << w << "x" << h << " v " << v;
        }
    }
}

TEST(AutoAdjust, DarkImageGetsFullExposure)
{
    Image img(200, 160, 20);
    const Settings s = AutoSettings(img);
    ExpectSane(s, "dark");
    EXPECT_NEAR(s.exposure, 1.5, 1e-12);
}

TEST(AutoAdjust, TooSmallImagesGiveNeutralSettings)
{
    for (auto [w, h] : {std::pair{0, 0}, std::pair{31, 100}, std::pair{100, 39}, std::pair{1, 1}}) {
        Image img(w, h, 1000);
        const Settings s = AutoSettings(img);
        EXPECT_EQ(s.exposure, 0.0);
        EXPECT_EQ(s.contrast, 0.0);
        EXPECT_EQ(s.shadow, 0.0);
        EXPECT_EQ(s.highlight, 0.0);
        EXPECT_EQ(s.saturation, 0.0);
        EXPECT_EQ(s.gains, FDoubleRGB(1, 1, 1));
    }
}

TEST(AutoAdjust, RandomImagesStayInRange)
{
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 40; ++trial) {
        const int w = 32 + static_cast<int>(rng() % 200);
        const int h = 40 + static_cast<int>(rng() % 200);
        Image img(w, h);
        const int lo = -600 + static_cast<int>(rng() % 2000);
        const int span = 1 + static_cast<int>(rng() % 30000);
        for (auto& v : img.data)
            v = static_cast<int16_t>(std::min(32767, lo + static_cast<int>(rng() % span)));
        const double bias = (static_cast<int>(rng() % 61) - 30) / 10.0;
        ExpectSane(AutoSettings(img, bias), "random");
    }
}

// Every percentile in the darkest bin gives negative linear levels: the gain falls back
// to its cap (two stops) instead of dividing into a negative or infinite value.
TEST(AutoAdjust, DarkOrEmptyDistributionsGiveFiniteSettings)
{
    const FLUT& cubeRoot = *FGlobalLUTsClass::GetCubeRootLUT();
    const FLUT& cube = *FGlobalLUTsClass::GetCubeLUT();
    std::vector<double> F(632, 1.0);
    double e = 9, c = 9, s = 9, h = 9;
    AutoAdjustToneSettings(F.data(), 632, cubeRoot, cube, 0.0, e, c, s, h);
    EXPECT_NEAR(e, 1.5, 1e-12);
    for (double v : {c, s, h}) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_LE(std::fabs(v), 1.5);
    }
    // An empty distribution puts every percentile at bin 0.
    double e2 = 9, c2 = 9, s2 = 9, h2 = 9;
    AutoAdjustToneSettings(nullptr, 0, cubeRoot, cube, 0.0, e2, c2, s2, h2);
    EXPECT_EQ(e2, e);
    EXPECT_EQ(c2, c);
    EXPECT_EQ(s2, s);
    EXPECT_EQ(h2, h);
}

TEST(AutoAdjust, ColourfulImageGetsLessSaturation)
{
    Image img(128, 128);
    std::mt19937 rng(7);
    for (auto& v : img.data)
        v = static_cast<int16_t>(rng() % 20000);
    const Settings colourful = AutoSettings(img);
    ExpectSane(colourful, "colourful");
    EXPECT_LT(colourful.saturation, 0.7);
    // A red cast asks for less red.
    Image cast(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            int16_t* p = cast.at(x, y);
            const int16_t v = static_cast<int16_t>(1000 + 50 * ((x + y) % 100));
            p[0] = static_cast<int16_t>(v * 2);
            p[1] = v;
            p[2] = v;
        }
    const Settings red = AutoSettings(cast);
    ExpectSane(red, "cast");
    EXPECT_LT(red.gains.r, red.gains.g);
}
