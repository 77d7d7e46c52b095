#include "IPOutputProfiles.h"

#include <lcms2.h>

#include <array>
#include <cmath>
#include <mutex>

#include "CreateColorSpaceWhitePoint.h"

namespace
{

constexpr FOutputSpaceDefinition kSpaces[] = {
    {kColorSpaceSRGB,
     "sRGB IEC61966-2.1",
     {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}},
     {0.3127, 0.3290},
     kToneCurveSRGB,
     0.0},
    {kOutputSpaceAdobeRGB,
     "Adobe RGB (1998)",
     {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}},
     {0.3127, 0.3290},
     kToneCurveGamma,
     563.0 / 256.0},
    {kOutputSpaceAppleRGB,
     "Apple RGB",
     {{0.625, 0.34}, {0.28, 0.595}, {0.155, 0.07}},
     {0.3127, 0.3290},
     kToneCurveGamma,
     1.8},
    {kOutputSpaceColorMatch,
     "ColorMatch RGB",
     {{0.63, 0.34}, {0.295, 0.605}, {0.15, 0.075}},
     {0.3457, 0.3585},
     kToneCurveGamma,
     1.8},
    {kOutputSpaceProPhoto,
     "ProPhoto RGB",
     {{0.7347, 0.2653}, {0.1596, 0.8404}, {0.0366, 0.0001}},
     {0.3457, 0.3585},
     kToneCurveGamma,
     1.8},
};
constexpr int kSpaceCount = int(sizeof(kSpaces) / sizeof(kSpaces[0]));

// Entries of the sampled sRGB curve, as in the profiles in common use.
constexpr int kSRGBCurveEntries = 1024;

using Matrix = std::array<std::array<double, 3>, 3>;

Matrix Multiply(const Matrix& a, const Matrix& b)
{
    Matrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[i][j] += a[i][k] * b[k][j];
    return r;
}

bool Invert(const Matrix& m, Matrix& out)
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!(std::fabs(det) > 1e-12))
        return false;
    out[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    out[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    out[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    out[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    out[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    out[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    out[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    out[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    out[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return true;
}

std::array<double, 3> XYZOfxy(double x, double y)
{
    return {x / y, 1.0, (1.0 - x - y) / y};
}

// Linear RGB to XYZ under the space's own white (columns are the primaries' XYZ).
bool RGBToXYZ(const FOutputSpaceDefinition& space, Matrix& out)
{
    Matrix p{};
    for (int c = 0; c < 3; ++c) {
        const auto xyz = XYZOfxy(space.m_adPrimaries[c][0], space.m_adPrimaries[c][1]);
        for (int r = 0; r < 3; ++r)
            p[r][c] = xyz[r];
    }
    Matrix inv{};
    if (!Invert(p, inv))
        return false;
    const auto w = XYZOfxy(space.m_adWhite[0], space.m_adWhite[1]);
    for (int c = 0; c < 3; ++c) {
        const double s = inv[c][0] * w[0] + inv[c][1] * w[1] + inv[c][2] * w[2];
        for (int r = 0; r < 3; ++r)
            p[r][c] *= s;
    }
    out = p;
    return true;
}

// Bradford adaptation from one white to another, both as XYZ with Y = 1.
Matrix Bradford(const std::array<double, 3>& from, const std::array<double, 3>& to)
{
    const Matrix m = {{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    Matrix inv{};
    Invert(m, inv);
    Matrix scale{};
    for (int i = 0; i < 3; ++i) {
        const double f = m[i][0] * from[0] + m[i][1] * from[1] + m[i][2] * from[2];
        const double t = m[i][0] * to[0] + m[i][1] * to[1] + m[i][2] * to[2];
        scale[i][i] = t / f;
    }
    return Multiply(inv, Multiply(scale, m));
}

double SRGBEncodedToLinear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

struct ProfileGuard {
    cmsHPROFILE h = nullptr;
    ~ProfileGuard()
    {
        if (h != nullptr)
            cmsCloseProfile(h);
    }
};

struct CurveGuard {
    cmsToneCurve* c = nullptr;
    ~CurveGuard()
    {
        if (c != nullptr)
            cmsFreeToneCurve(c);
    }
};

struct MLUGuard {
    cmsMLU* m = nullptr;
    ~MLUGuard()
    {
        if (m != nullptr)
            cmsMLUfree(m);
    }
};

bool WriteText(cmsHPROFILE h, cmsTagSignature tag, const char* text)
{
    MLUGuard mlu{cmsMLUalloc(nullptr, 1)};
    return mlu.m != nullptr && cmsMLUsetASCII(mlu.m, "en", "US", text) && cmsWriteTag(h, tag, mlu.m);
}

// The creation date goes into the header as it is written; a fixed one keeps the profiles,
// and so the saved files, the same from run to run.
void FixCreationDate(std::vector<uint8_t>& bytes)
{
    const uint16_t date[6] = {2026, 1, 1, 0, 0, 0};
    for (int i = 0; i < 6; ++i) {
        bytes[24 + 2 * i] = uint8_t(date[i] >> 8);
        bytes[25 + 2 * i] = uint8_t(date[i] & 0xFF);
    }
}

std::vector<uint8_t> BuildProfile(const FOutputSpaceDefinition& space)
{
    Matrix toXYZ{};
    if (!RGBToXYZ(space, toXYZ))
        return {};
    const auto white = XYZOfxy(space.m_adWhite[0], space.m_adWhite[1]);
    const cmsCIEXYZ* d50 = cmsD50_XYZ();
    const Matrix toPCS = Multiply(Bradford(white, {d50->X, d50->Y, d50->Z}), toXYZ);

    ProfileGuard profile{cmsCreateProfilePlaceholder(nullptr)};
    if (profile.h == nullptr)
        return {};
    cmsHPROFILE h = profile.h;
    cmsSetProfileVersion(h, 2.1);
    cmsSetDeviceClass(h, cmsSigDisplayClass);
    cmsSetColorSpace(h, cmsSigRgbData);
    cmsSetPCS(h, cmsSigXYZData);
    cmsSetHeaderRenderingIntent(h, INTENT_PERCEPTUAL);

    if (!WriteText(h, cmsSigProfileDescriptionTag, space.m_pszDescription) ||
        !WriteText(h, cmsSigCopyrightTag, "No copyright, use freely"))
        return {};
    // Version 2 profiles give the white of the space itself, not the connection white.
    cmsCIEXYZ mediaWhite = {white[0], white[1], white[2]};
    if (!cmsWriteTag(h, cmsSigMediaWhitePointTag, &mediaWhite))
        return {};
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                          cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c) {
        cmsCIEXYZ xyz = {toPCS[0][c], toPCS[1][c], toPCS[2][c]};
        if (!cmsWriteTag(h, colorants[c], &xyz))
            return {};
    }

    CurveGuard curve;
    if (space.m_eToneCurve == kToneCurveSRGB) {
        std::vector<cmsUInt16Number> table(kSRGBCurveEntries);
        for (int i = 0; i < kSRGBCurveEntries; ++i) {
            const double v = SRGBEncodedToLinear(double(i) / (kSRGBCurveEntries - 1));
            table[i] = cmsUInt16Number(std::lround(v * 65535.0));
        }
        curve.c = cmsBuildTabulatedToneCurve16(nullptr, kSRGBCurveEntries, table.data());
    } else {
        curve.c = cmsBuildGamma(nullptr, space.m_dGamma);
    }
    if (curve.c == nullptr)
        return {};
    // One curve for the three channels, stored once and shared by the three tags.
    if (!cmsWriteTag(h, cmsSigRedTRCTag, curve.c) || !cmsLinkTag(h, cmsSigGreenTRCTag, cmsSigRedTRCTag) ||
        !cmsLinkTag(h, cmsSigBlueTRCTag, cmsSigRedTRCTag))
        return {};

    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(h, nullptr, &size) || size < 128)
        return {};
    std::vector<uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(h, bytes.data(), &size) || size != bytes.size())
        return {};
    FixCreationDate(bytes);
    return bytes;
}

} // namespace

const FOutputSpaceDefinition* GetOutputSpaceDefinition(int colorSpace)
{
    for (const FOutputSpaceDefinition& space : kSpaces)
        if (space.m_iColorSpace == colorSpace)
            return &space;
    return nullptr;
}

const std::vector<uint8_t>& GetOutputProfile(int colorSpace)
{
    static const std::vector<uint8_t> kNone;
    static std::mutex lock;
    static std::vector<uint8_t> built[kSpaceCount];
    static bool done[kSpaceCount] = {};
    for (int i = 0; i < kSpaceCount; ++i) {
        if (kSpaces[i].m_iColorSpace != colorSpace)
            continue;
        std::lock_guard<std::mutex> guard(lock);
        if (!done[i]) {
            built[i] = BuildProfile(kSpaces[i]);
            done[i] = true;
        }
        return built[i];
    }
    return kNone;
}
