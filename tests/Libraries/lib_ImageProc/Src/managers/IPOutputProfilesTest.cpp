#include <gtest/gtest.h>

#include <lcms2.h>

#include <cmath>
#include <memory>
#include <string>

#include "IPOutputProfiles.h"

namespace
{

struct SpaceCase {
    int space;
    const char* description;
    double primaries[3][2];
    double white[2];
    double gamma; // 0 for the sRGB curve
};

// Published definitions, written out here independently of the library's table.
const SpaceCase kCases[] = {
    {2, "sRGB IEC61966-2.1", {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}, {0.3127, 0.3290}, 0.0},
    {3, "Adobe RGB (1998)", {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}}, {0.3127, 0.3290}, 2.2},
    {4, "Apple RGB", {{0.625, 0.34}, {0.28, 0.595}, {0.155, 0.07}}, {0.3127, 0.3290}, 1.8},
    {8, "ColorMatch RGB", {{0.63, 0.34}, {0.295, 0.605}, {0.15, 0.075}}, {0.3457, 0.3585}, 1.8},
    {11, "ProPhoto RGB", {{0.7347, 0.2653}, {0.1596, 0.8404}, {0.0366, 0.0001}}, {0.3457, 0.3585}, 1.8},
};

struct ProfileCloser {
    void operator()(void* h) const { cmsCloseProfile(h); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

cmsCIExyY ToxyY(const cmsCIEXYZ& xyz)
{
    cmsCIExyY out;
    cmsXYZ2xyY(&out, &xyz);
    return out;
}

std::string Description(cmsHPROFILE h)
{
    char text[256] = {};
    cmsGetProfileInfoASCII(h, cmsInfoDescription, "en", "US", text, sizeof(text));
    return text;
}

} // namespace

TEST(IPOutputProfiles, EachSpaceReadsBackWithItsPrimariesWhiteAndCurve)
{
    for (const SpaceCase& c : kCases) {
        SCOPED_TRACE(c.description);
        const std::vector<uint8_t>& bytes = GetOutputProfile(c.space);
        ASSERT_FALSE(bytes.empty());
        ProfilePtr profile(cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size())));
        ASSERT_NE(profile, nullptr);
        cmsHPROFILE h = profile.get();
        EXPECT_EQ(cmsGetEncodedICCversion(h), 0x02100000u);
        EXPECT_EQ(cmsGetDeviceClass(h), cmsSigDisplayClass);
        EXPECT_EQ(cmsGetColorSpace(h), cmsSigRgbData);
        EXPECT_EQ(cmsGetPCS(h), cmsSigXYZData);
        EXPECT_EQ(Description(h), c.description);
        EXPECT_TRUE(cmsIsMatrixShaper(h));

        const auto* wtpt = static_cast<const cmsCIEXYZ*>(cmsReadTag(h, cmsSigMediaWhitePointTag));
        ASSERT_NE(wtpt, nullptr);
        const cmsCIExyY white = ToxyY(*wtpt);
        EXPECT_NEAR(white.x, c.white[0], 1e-3);
        EXPECT_NEAR(white.y, c.white[1], 1e-3);

        // The colorants are adapted to the connection white; taken back to the space's own
        // white they are the published primaries.
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        for (int i = 0; i < 3; ++i) {
            const auto* colorant = static_cast<const cmsCIEXYZ*>(cmsReadTag(h, tags[i]));
            ASSERT_NE(colorant, nullptr);
            cmsCIEXYZ native;
            ASSERT_TRUE(cmsAdaptToIlluminant(&native, cmsD50_XYZ(), wtpt, colorant));
            const cmsCIExyY xy = ToxyY(native);
            EXPECT_NEAR(xy.x, c.primaries[i][0], 1e-3) << "primary " << i;
            EXPECT_NEAR(xy.y, c.primaries[i][1], 1e-3) << "primary " << i;
        }

        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(h, cmsSigGreenTRCTag));
        ASSERT_NE(curve, nullptr);
        const float mid = cmsEvalToneCurveFloat(curve, 0.5f);
        const double expected =
            c.gamma == 0.0 ? std::pow((0.5 + 0.055) / 1.055, 2.4) : std::pow(0.5, c.gamma);
        EXPECT_NEAR(mid, expected, 2e-3);
        if (c.gamma == 0.0) { // the linear toe of the sRGB curve
            EXPECT_NEAR(cmsEvalToneCurveFloat(curve, 0.02f), 0.02 / 12.92, 1e-4);
        }
    }
}

TEST(IPOutputProfiles, WhiteOfEverySpaceConvertsToTheConnectionWhite)
{
    ProfilePtr xyz(cmsCreateXYZProfile());
    for (const SpaceCase& c : kCases) {
        SCOPED_TRACE(c.description);
        const std::vector<uint8_t>& bytes = GetOutputProfile(c.space);
        ProfilePtr profile(cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size())));
        ASSERT_NE(profile, nullptr);
        cmsHTRANSFORM t = cmsCreateTransform(profile.get(), TYPE_RGB_DBL, xyz.get(), TYPE_XYZ_DBL,
                                             INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
        ASSERT_NE(t, nullptr);
        const double rgb[3] = {1.0, 1.0, 1.0};
        cmsCIEXYZ out;
        cmsDoTransform(t, rgb, &out, 1);
        cmsDeleteTransform(t);
        EXPECT_NEAR(out.X, cmsD50_XYZ()->X, 2e-3);
        EXPECT_NEAR(out.Y, 1.0, 2e-3);
        EXPECT_NEAR(out.Z, cmsD50_XYZ()->Z, 2e-3);
    }
}

TEST(IPOutputProfiles, SpacesWithoutProfileGiveNothingAndBytesAreStable)
{
    for (int space : {0, 1, 5, 6, 7, 9, 10, 12, -1})
        EXPECT_TRUE(GetOutputProfile(space).empty()) << space;
    // Built once: the same bytes (same object) on every call, so saved files are reproducible.
    EXPECT_EQ(&GetOutputProfile(3), &GetOutputProfile(3));
    EXPECT_NE(GetOutputSpaceDefinition(11), nullptr);
    EXPECT_EQ(GetOutputSpaceDefinition(5), nullptr);
}
