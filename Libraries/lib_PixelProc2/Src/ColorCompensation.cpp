#include "ColorCompensation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{

int32_t Density(double gain, double strongest)
{
    if (std::isnan(gain))
        return 0;
    if (gain <= 0.0)
        return kMaxCCDensity;
    const double d = std::trunc(0.3 - 100.0 * std::log10(gain / strongest));
    if (!(d < kMaxCCDensity))
        return kMaxCCDensity;
    return std::max(0, static_cast<int32_t>(d));
}

double Gain(int32_t density)
{
    return std::pow(10.0, -0.01 * density);
}

} // namespace

void RGBGainsToCCDensities(int32_t out[3], double red, double green, double blue)
{
    const double rg = red > green ? red : green;
    const double m = rg > blue ? rg : blue;
    if (!(m > 0.0) || !std::isfinite(m)) {
        out[0] = out[1] = out[2] = 0;
        return;
    }
    out[0] = Density(red, m);
    out[1] = Density(green, m);
    out[2] = Density(blue, m);
}

void CCDensitiesToRGBGains(FDoubleRGB& out, int32_t cyan, int32_t magenta, int32_t yellow)
{
    out.Set(Gain(cyan), Gain(magenta), Gain(yellow));
}

void RGBGainsToCCString(double red, double green, double blue, char* buffer, size_t size)
{
    if (buffer == nullptr || size == 0)
        return;
    int32_t d[3];
    RGBGainsToCCDensities(d, red, green, blue);
    const int c = d[0], m = d[1], y = d[2];
    if (c != 0 && m != 0)
        std::snprintf(buffer, size, "%dC+%dM", c, m);
    else if (c != 0 && y != 0)
        std::snprintf(buffer, size, "%dC+%dY", c, y);
    else if (c != 0)
        std::snprintf(buffer, size, "%dC", c);
    else if (m != 0 && y != 0)
        std::snprintf(buffer, size, "%dM+%dY", m, y);
    else if (m != 0)
        std::snprintf(buffer, size, "%dM", m);
    else if (y != 0)
        std::snprintf(buffer, size, "%dY", y);
    else
        std::snprintf(buffer, size, "0");
}

std::string RGBGainsToCCString(double red, double green, double blue)
{
    char text[kCCStringSize];
    RGBGainsToCCString(red, green, blue, text, sizeof(text));
    return text;
}

void CCStringToRGBGains(FDoubleRGB& out, const char* text)
{
    int32_t v = 0;
    int32_t d[3] = {0, 0, 0};
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        switch (*p) {
        case '+':
            v = 0;
            break;
        case 'C':
            d[0] = v;
            break;
        case 'M':
            d[1] = v;
            break;
        case 'Y':
            d[2] = v;
            break;
        default:
            // Any other character counts as a digit; long runs saturate instead of
            // overflowing.
            v = static_cast<int32_t>(std::clamp<int64_t>(
                int64_t(10) * v + (static_cast<unsigned char>(*p) - 48), -kMaxCCDensity, kMaxCCDensity));
            break;
        }
    }
    CCDensitiesToRGBGains(out, d[0], d[1], d[2]);
}
