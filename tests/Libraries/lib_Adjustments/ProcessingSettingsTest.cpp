#include <gtest/gtest.h>

#include <cmath>

#include "FWideString.h"
#include "ProcessingSettings.h"

TEST(ProcessingSettings, DefaultsAndComparisonsIgnoreTheColourSpace)
{
    ProcessingSettings a;
    ProcessingSettings b;
    b.ColorSpace = kColorSpaceAdobeRGB;
    EXPECT_EQ(a.ColorSpace, 2);
    EXPECT_EQ(a.ColorAdjustG, 1.0);
    EXPECT_TRUE(a.AdjustmentsEqual(b));
    EXPECT_TRUE(a.AdjustmentsNearlyEqual(b));
    b.ColorAdjustB = 1.0 + 1e-12;
    EXPECT_FALSE(a.AdjustmentsEqual(b));
    EXPECT_TRUE(a.AdjustmentsNearlyEqual(b));
}

TEST(ProcessingSettings, NearlyEqualThresholdOnEveryField)
{
    struct Case {
        double ProcessingSettings::*field;
        double delta;
        bool nearly;
    };
    const Case cases[] = {
        {&ProcessingSettings::Exposure, 0.001, false},      {&ProcessingSettings::Exposure, 0.0009, true},
        {&ProcessingSettings::Retinex, -0.001, false},      {&ProcessingSettings::ColorAdjustR, 0.0009, true},
        {&ProcessingSettings::ColorAdjustB, 0.0011, false}, {&ProcessingSettings::Sharpness, NAN, false},
    };
    for (const Case& c : cases) {
        ProcessingSettings a;
        ProcessingSettings b;
        // Start away from zero so the difference is not exact in binary either way.
        a.*c.field = 0.3;
        b.*c.field = 0.3 + c.delta;
        EXPECT_EQ(a.AdjustmentsNearlyEqual(b), c.nearly) << c.delta;
    }
}

TEST(ProcessingSettings, SliderMappingAndModeThresholds)
{
    EXPECT_EQ(ProcessingSettings::SliderPosition(-2.0), 0.0);
    EXPECT_EQ(ProcessingSettings::SliderPosition(0.0), 0.5);
    EXPECT_EQ(ProcessingSettings::SliderPosition(2.0), 1.0);
    EXPECT_EQ(ProcessingSettings::SliderPosition(3.0), 1.25);

    struct Case {
        double position;
        int32_t mode;
    };
    const Case cases[] = {{0.0, Q7FSettingMode},   {0.2499, Q7FSettingMode},    {0.25, AutoSettingMode},
                          {0.75, AutoSettingMode}, {0.7501, CustomSettingMode}, {1.0, CustomSettingMode}};
    for (const Case& c : cases)
        EXPECT_EQ(SettingModeFromSliderPosition(c.position), c.mode) << c.position;
    for (int32_t mode : {Q7FSettingMode, AutoSettingMode, CustomSettingMode})
        EXPECT_EQ(SettingModeFromSliderPosition(SliderPositionOfSettingMode(mode)), mode);
}

TEST(ProcessingSettings, ModeTextsWrittenAndReadBack)
{
    struct Case {
        int32_t mode;
        FWideString name;
        const char* stored;
        const char* shown;
    };
    const char16_t accented[] = {u'C', u'a', u'f', 0xE9, 0};
    const Case cases[] = {
        {AutoSettingMode, "", "Auto Setting Mode", "Auto"},
        {Q7FSettingMode, "", "Q7F Setting Mode", "Default"},
        {CustomSettingMode, "", "Custom Setting Mode", "Custom"},
        {CustomSettingMode, "Portrait", "Custom: Portrait", "Custom: Portrait"},
        {CustomSettingMode, "Why?", "Custom Setting Mode", "Custom"},
        {CustomSettingMode, FWideString(accented), "Custom Setting Mode", "Custom"},
        {12345, "", "Unknown Setting Mode", "Unknown Setting Mode"},
    };
    for (const Case& c : cases) {
        FWideString stored = SettingModeStoredText(c.mode, c.name);
        EXPECT_TRUE(stored == c.stored) << stored.GetNarrow();
        EXPECT_TRUE(SettingModeShownText(stored) == c.shown) << c.stored;
    }
    EXPECT_TRUE(SettingModeShownText(FWideString("Default Setting Mode")) == "Default");
    EXPECT_STREQ(SettingModeLabel(Q7FSettingMode), "Default");
}

TEST(ProcessingSettings, ColourSpaceChoiceNames)
{
    EXPECT_EQ(ColorSpaceFromChoiceName("PC", 0), 2);
    EXPECT_EQ(ColorSpaceFromChoiceName("MAC", 0), 4);
    EXPECT_EQ(ColorSpaceFromChoiceName("ColorMatch", 0), 8);
    EXPECT_EQ(ColorSpaceFromChoiceName("Adobe", 0), 3);
    EXPECT_EQ(ColorSpaceFromChoiceName("ProPhoto", 7), 7);
}
