#include "CreateColorSpaceWhitePoint.h"

#include "FException.h"

namespace
{

struct SpaceMatrix {
    double m[9];
};

// Row by row: R, G and B from X, Y and Z. Index 0 is the identity and is not stored.
// The space at index 8 is the one whose matrices were derived from the published
// primaries and white again: the earlier constants put its blue primary at (0.155, 0.077)
// instead of (0.150, 0.075), so its pixels disagreed with the profile written beside them.
constexpr SpaceMatrix kD65[kColorSpaceCount] = {
    {{1, 0, 0, 0, 1, 0, 0, 0, 1}},
    {{3.241, -1.5374, -0.4986, -0.9692, 1.876, 0.0416, 0.0556, -0.204, 1.057}},
    {{3.241, -1.5374, -0.4986, -0.9692, 1.876, 0.0416, 0.0556, -0.204, 1.057}},
    {{2.0416, -0.565, -0.3447, -0.9692, 1.876, 0.0416, 0.0134, -0.1184, 1.0152}},
    {{2.952, -1.2896, -0.4739, -1.0851, 1.9908, 0.0372, 0.0855, -0.2694, 1.091}},
    {{3.0634, -1.3934, -0.4758, -0.9692, 1.876, 0.0416, 0.0679, -0.2288, 1.0691}},
    {{3.0634, -1.3934, -0.4758, -0.8278, 1.7613, 0.0234, -0.0112, -0.1981, 1.1099}},
    {{3.506, -1.7398, -0.5441, -1.069, 1.9778, 0.0352, 0.0563, -0.197, 1.05}},
    {{2.7361, -1.1572, -0.4072, -1.1045, 2.0142, 0.0326, 0.0644, -0.2543, 1.0958}},
    {{1.5294, -0.1534, -0.2758, -0.5057, 1.4231, 0.0527, 0.0216, -0.0747, 0.9681}},
    {{2.7458, -1.136, -0.4351, -0.9692, 1.876, 0.0416, 0.0113, -0.1139, 1.013}},
    {{1.4032, -0.2231, -0.1016, -0.5263, 1.4816, 0.017, -0.0112, 0.0183, 0.9113}},
};

constexpr SpaceMatrix kD50[kColorSpaceCount] = {
    {{1, 0, 0, 0, 1, 0, 0, 0, 1}},
    {{3.1342, -1.6173, -0.4907, -0.9788, 1.9163, 0.0335, 0.0719, -0.229, 1.4053}},
    {{3.1342, -1.6173, -0.4907, -0.9788, 1.9163, 0.0335, 0.0719, -0.229, 1.4053}},
    {{1.9625, -0.6107, -0.3413, -0.9788, 1.9163, 0.0335, 0.0286, -0.1407, 1.3489}},
    {{2.8513, -1.3609, -0.4709, -1.0928, 2.035, 0.0228, 0.1027, -0.2965, 1.4511}},
    {{2.9607, -1.4682, -0.4686, -0.9788, 1.9163, 0.0335, 0.0844, -0.2546, 1.4217}},
    {{2.9607, -1.4682, -0.4686, -0.8406, 1.7976, 0.0159, 0.0085, -0.2226, 1.4716}},
    {{3.3926, -1.8269, -0.5386, -1.0771, 2.0215, 0.0208, 0.0723, -0.2218, 1.3962}},
    {{2.6423, -1.2234, -0.393, -1.112, 2.059, 0.016, 0.0822, -0.2807, 1.456}},
    {{1.4623, -0.1845, -0.2734, -0.5229, 1.448, 0.0681, 0.0346, -0.0958, 1.2877}},
    {{2.6505, -1.2017, -0.429, -0.9788, 1.9163, 0.0335, 0.0264, -0.1362, 1.3459}},
    {{1.3458, -0.2556, -0.0511, -0.5446, 1.5082, 0.0205, 0, 0, 1.212}},
};

} // namespace

void CreateColorSpaceWhitePoint(FColorMatrix& out, int colorSpace, int pcsWhite)
{
    if (pcsWhite != kPcsWhiteD50 && pcsWhite != kPcsWhiteD65)
        throw FException("CreateColorSpaceWhitePoint(): Unknown PCS white point");
    if (colorSpace < 0 || colorSpace >= kColorSpaceCount) {
        // The two texts differ only in capitals; callers may match either.
        throw FException(pcsWhite == kPcsWhiteD65 ? "CreateColorSpaceWhitePoint(): Unknown color space"
                                                  : "CreateColorSpaceWhitePoint(): Unknown Color Space");
    }
    const double* v = (pcsWhite == kPcsWhiteD65 ? kD65 : kD50)[colorSpace].m;
    out.Set(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
}
