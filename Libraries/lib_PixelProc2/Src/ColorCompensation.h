#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "FIntRGB.h"

// White-balance gains in colour-compensation filter notation: cyan, magenta and yellow
// densities in hundredths of an optical density (cyan belongs to red, magenta to green,
// yellow to blue), and the text "20C+10M".

// Densities stay within 0 to kMaxCCDensity; non-positive or non-finite gains count as
// fully attenuated, and all-invalid gains give densities 0.
inline constexpr int32_t kMaxCCDensity = 9999;
// Room for the longest text and its NUL.
inline constexpr size_t kCCStringSize = 32;

void RGBGainsToCCDensities(int32_t out[3], double red, double green, double blue);
void CCDensitiesToRGBGains(FDoubleRGB& out, int32_t cyan, int32_t magenta, int32_t yellow);

// Writes the text (at most size - 1 characters and a NUL) into `buffer`.
void RGBGainsToCCString(double red, double green, double blue, char* buffer, size_t size);
std::string RGBGainsToCCString(double red, double green, double blue);

// Accepts any text: "+" restarts the number, C/M/Y store it, every other character is
// taken as a digit (code - 48). Densities saturate at +-kMaxCCDensity.
void CCStringToRGBGains(FDoubleRGB& out, const char* text);
