#pragma once
#include <cstdint>

class FWideString;

// Where the values of a ProcessingSettings came from; stored as these codes, never
// as an index.
constexpr int32_t AutoSettingMode = 962000;
constexpr int32_t CustomSettingMode = 969421;
constexpr int32_t Q7FSettingMode = 974586;

// Output colour-space numbers of the pixel library that the application offers.
constexpr int32_t kColorSpaceSRGB = 2;
constexpr int32_t kColorSpaceAdobeRGB = 3;
constexpr int32_t kColorSpaceAppleRGB = 4;
constexpr int32_t kColorSpaceColorMatchRGB = 8;

// The user's image adjustments, copied whole by assignment.
struct ProcessingSettings {
    double Exposure = 0.0;
    // Every user-visible text calls this "Shadow".
    double Blackness = 0.0;
    double Contrast = 0.0;
    double Highlight = 0.0;
    double Saturation = 0.0;
    double Sharpness = 0.0;
    // Fill light: the retinex strength of the raw pipeline.
    double Retinex = 0.0;
    double ColorAdjustR = 1.0;
    double ColorAdjustG = 1.0;
    double ColorAdjustB = 1.0;
    int32_t ColorSpace = kColorSpaceSRGB;

    // The ten doubles, exactly; the colour space is not compared.
    bool AdjustmentsEqual(const ProcessingSettings& other) const;
    // The ten doubles each closer than kNearlyEqualLimit; the colour space is not compared.
    bool AdjustmentsNearlyEqual(const ProcessingSettings& other) const;
    // -2 .. +2 onto 0 .. 1, unclamped.
    static double SliderPosition(double value);

    static constexpr double kNearlyEqualLimit = 0.001;
};

// Below 0.25 the raw file's own, up to and including 0.75 automatic, above that custom.
int32_t SettingModeFromSliderPosition(double position);
// 0.0, 0.5 or 1.0; an unknown code gives 0.0.
double SliderPositionOfSettingMode(int32_t code);
// The label of the adjustment controls: "Auto", "Custom", "Default"; "" for an unknown code.
const char* SettingModeLabel(int32_t code);
// The "rpSettingMode" text written into a rendered image. The custom form carries the
// saved setting's name only when its narrow form is free of "?".
FWideString SettingModeStoredText(int32_t code, const FWideString& customName);
// The label shown for a stored "rpSettingMode" text; any other text comes back unchanged.
FWideString SettingModeShownText(const FWideString& stored);
// "PC", "MAC", "ColorMatch", "Adobe" to their colour-space numbers; any other name
// leaves the number as it was.
int32_t ColorSpaceFromChoiceName(const FWideString& name, int32_t current);
