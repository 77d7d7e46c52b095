#include "ProcessingSettings.h"

#include <cmath>
#include <cstring>

#include "FWideString.h"

namespace
{

// The ten adjustment fields in record order, so both comparisons walk one list.
constexpr double ProcessingSettings::*kAdjustmentFields[] = {
    &ProcessingSettings::Exposure,     &ProcessingSettings::Blackness,    &ProcessingSettings::Contrast,
    &ProcessingSettings::Highlight,    &ProcessingSettings::Saturation,   &ProcessingSettings::Sharpness,
    &ProcessingSettings::Retinex,      &ProcessingSettings::ColorAdjustR, &ProcessingSettings::ColorAdjustG,
    &ProcessingSettings::ColorAdjustB,
};

} // namespace

bool ProcessingSettings::AdjustmentsEqual(const ProcessingSettings& other) const
{
    for (auto field : kAdjustmentFields)
        if (!(this->*field == other.*field))
            return false;
    return true;
}

bool ProcessingSettings::AdjustmentsNearlyEqual(const ProcessingSettings& other) const
{
    // Written as "not below" so that a NaN on either side counts as a difference.
    for (auto field : kAdjustmentFields)
        if (!(std::fabs(this->*field - other.*field) < kNearlyEqualLimit))
            return false;
    return true;
}

double ProcessingSettings::SliderPosition(double value)
{
    return (value + 2.0) * 0.25;
}

int32_t SettingModeFromSliderPosition(double position)
{
    if (position < 0.25)
        return Q7FSettingMode;
    if (position <= 0.75)
        return AutoSettingMode;
    return CustomSettingMode;
}

double SliderPositionOfSettingMode(int32_t code)
{
    switch (code) {
    case AutoSettingMode:
        return 0.5;
    case CustomSettingMode:
        return 1.0;
    default:
        return 0.0;
    }
}

const char* SettingModeLabel(int32_t code)
{
    switch (code) {
    case AutoSettingMode:
        return "Auto";
    case CustomSettingMode:
        return "Custom";
    case Q7FSettingMode:
        return "Default";
    default:
        return "";
    }
}

FWideString SettingModeStoredText(int32_t code, const FWideString& customName)
{
    switch (code) {
    case AutoSettingMode:
        return FWideString("Auto Setting Mode");
    case Q7FSettingMode:
        return FWideString("Q7F Setting Mode");
    case CustomSettingMode: {
        if (customName.IsEmpty() || std::strchr(customName.GetNarrow(), '?') != nullptr)
            return FWideString("Custom Setting Mode");
        FWideString text("Custom: ");
        text += customName;
        return text;
    }
    default:
        return FWideString("Unknown Setting Mode");
    }
}

FWideString SettingModeShownText(const FWideString& stored)
{
    if (stored == "Auto Setting Mode")
        return FWideString("Auto");
    if (stored == "Default Setting Mode" || stored == "Q7F Setting Mode")
        return FWideString("Default");
    if (stored == "Custom Setting Mode")
        return FWideString("Custom");
    return stored;
}

int32_t ColorSpaceFromChoiceName(const FWideString& name, int32_t current)
{
    struct Choice {
        const char* name;
        int32_t number;
    };
    static constexpr Choice kChoices[] = {
        {"PC", kColorSpaceSRGB},
        {"MAC", kColorSpaceAppleRGB},
        {"ColorMatch", kColorSpaceColorMatchRGB},
        {"Adobe", kColorSpaceAdobeRGB},
    };
    for (const Choice& choice : kChoices)
        if (name == choice.name)
            return choice.number;
    return current;
}
