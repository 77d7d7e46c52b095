#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "ColorCompensation.h"

namespace
{

TEST(ColorCompensation, GainsToDensitiesAndText)
{
    struct Case {
        double r, g, b;
        int c, m, y;
        const char* text;
    };
    const Case cases[] = {
        {1, 1, 1, 0, 0, 0, "0"},
        {0.5, 1, 1, 30, 0, 0, "30C"},
        {1, 0.5, 0.25, 0, 30, 60, "30M+60Y"},
        {2, 2, 1, 0, 0, 30, "30Y"},
        {0.5, 0.5, 1, 30, 30, 0, "30C+30M"},
        {0.5, 1, 0.25, 30, 0, 60, "30C+60Y"},
        {0.25, 0.5, 1, 60, 30, 0, "60C+30M"},
        {1, 0.5, 1, 0, 30, 0, "30M"},
        // 0.7 or more goes up (29.75 gives 30), anything less is cut (29.65 gives 29).
        {std::pow(10.0, -0.2975), 1, 1, 30, 0, 0, "30C"},
        {std::pow(10.0, -0.2965), 1, 1, 29, 0, 0, "29C"},
    };
    for (const Case& k : cases) {
        int32_t d[3] = {-1, -1, -1};
        RGBGainsToCCDensities(d, k.r, k.g, k.b);
        EXPECT_EQ(d[0], k.c) << k.text;
        EXPECT_EQ(d[1], k.m) << k.text;
        EXPECT_EQ(d[2], k.y) << k.text;
        EXPECT_EQ(RGBGainsToCCString(k.r, k.g, k.b), k.text);
    }
    char small[4];
    RGBGainsToCCString(1, 0.5, 0.25, small, sizeof(small));
    EXPECT_STREQ(small, "30M");
}

TEST(ColorCompensation, TextToGains)
{
    struct Case {
        const char* text;
        int c, m, y;
    };
    const Case cases[] = {
        {"0", 0, 0, 0},
        {"30C", 30, 0, 0},
        {"30M+60Y", 0, 30, 60},
        {"20C+10M", 20, 10, 0},
        {"20C10M", 20, 2010, 0},
        {"10C+20C", 20, 0, 0},
        {"", 0, 0, 0},
        {"5Y+", 0, 0, 5},
        // Every other character counts as a digit: ' ' is 32 - 48 = -16.
        {" 1M", 0, -16 * 10 + 1, 0},
    };
    for (const Case& k : cases) {
        FDoubleRGB g;
        CCStringToRGBGains(g, k.text);
        EXPECT_NEAR(g.r, std::pow(10.0, -0.01 * k.c), 1e-12) << k.text;
        EXPECT_NEAR(g.g, std::pow(10.0, -0.01 * k.m), 1e-12) << k.text;
        EXPECT_NEAR(g.b, std::pow(10.0, -0.01 * k.y), 1e-12) << k.text;
    }
    FDoubleRGB g;
    CCStringToRGBGains(g, "30M+60Y");
    EXPECT_NEAR(g.g, 0.501, 0.001);
    EXPECT_NEAR(g.b, 0.251, 0.001);
    CCDensitiesToRGBGains(g, 30, 0, 0);
    EXPECT_NEAR(g.r, 0.501, 0.001);
    EXPECT_EQ(g.g, 1.0);
}

TEST(ColorCompensation, RoundTripKeepsTextsWithAZeroDensity)
{
    for (const char* text : {"0", "30C", "5M", "30M+60Y", "120C+7Y", "1C+1M", "99Y"}) {
        FDoubleRGB g;
        CCStringToRGBGains(g, text);
        EXPECT_EQ(RGBGainsToCCString(g.r, g.g, g.b), text);
    }
    FDoubleRGB g;
    CCStringToRGBGains(g, "10C+10M+10Y");
    EXPECT_EQ(RGBGainsToCCString(g.r, g.g, g.b), "0");
}

TEST(ColorCompensation, HostileInputStaysDefined)
{
    FDoubleRGB g;
    CCStringToRGBGains(g, "99999999999999999999999999C+99999999999999999999M");
    EXPECT_EQ(g.r, std::pow(10.0, -0.01 * kMaxCCDensity));
    EXPECT_TRUE(std::isfinite(g.g));
    CCStringToRGBGains(g, nullptr);
    EXPECT_EQ(g, FDoubleRGB(1, 1, 1));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    int32_t d[3];
    RGBGainsToCCDensities(d, 0, 1, 1);
    EXPECT_EQ(d[0], kMaxCCDensity);
    RGBGainsToCCDensities(d, -1, 1, 1e-300);
    EXPECT_EQ(d[0], kMaxCCDensity);
    EXPECT_EQ(d[2], kMaxCCDensity);
    RGBGainsToCCDensities(d, 0, 0, 0);
    EXPECT_EQ(d[0] + d[1] + d[2], 0);
    RGBGainsToCCDensities(d, inf, 1, 1);
    EXPECT_EQ(d[0] + d[1] + d[2], 0);
    RGBGainsToCCDensities(d, nan, 1, 1);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(RGBGainsToCCString(0, 0, 0), "0");
}

} // namespace
