#pragma once

// ICC profiles of the colour spaces a saved file can be in, made from the published
// definitions of each space (primaries, white point, tone curve) on first use: version
// 2.1, display class, RGB data, XYZ connection space.

#include <cstdint>
#include <vector>

// Colour-space indices that carry a profile.
inline constexpr int kOutputSpaceAdobeRGB = 3;
inline constexpr int kOutputSpaceAppleRGB = 4;
inline constexpr int kOutputSpaceColorMatch = 8;
inline constexpr int kOutputSpaceProPhoto = 11;

enum FOutputToneCurve : int {
    kToneCurveSRGB = 0, // the piecewise curve of the sRGB standard
    kToneCurveGamma = 1,
};

struct FOutputSpaceDefinition {
    int m_iColorSpace;
    const char* m_pszDescription; // the profile's description text
    double m_adPrimaries[3][2];   // x, y of red, green and blue
    double m_adWhite[2];          // x, y of the white point
    int m_eToneCurve;
    double m_dGamma; // of kToneCurveGamma
};

// The definition of the colour space, null when it has no profile.
const FOutputSpaceDefinition* GetOutputSpaceDefinition(int colorSpace);

// The profile's bytes; empty when the colour space has none or the profile cannot be made.
// Built once per space and kept for the life of the process; safe from any thread.
const std::vector<uint8_t>& GetOutputProfile(int colorSpace);
