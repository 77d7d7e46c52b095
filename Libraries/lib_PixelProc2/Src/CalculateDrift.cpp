#include "CalculateDrift.h"

#include <algorithm>

#include "FException.h"
#include "FPixelAccessors.h"

FDriftPair FDriftPair::FromCoefficients(const double c[12])
{
    FDriftPair p;
    p.top.slope = {c[0], c[1], c[2]};
    p.top.level = {c[3], c[4], c[5]};
    p.bottom.slope = {c[6], c[7], c[8]};
    p.bottom.level = {c[9], c[10], c[11]};
    return p;
}

void CalculateDrift(FDrift& out, const FPixmapTemplate<FPixelClass48SRGB>* image, const FRect& rect)
{
    if (image == nullptr)
        throw FExceptionPixelProc2("CalculateDrift: input image is NULL");
    if (image->GetBuffer() == nullptr)
        throw FExceptionPixelProc2("CalculateDrift: Input image has NULL buffer");
    if (rect.top >= image->GetRows() || rect.bottom > image->GetRows())
        throw FExceptionPixelProc2("Calculate drift: DarkShield out of range");

    FDrift result;
    // The centre column comes from the rectangle as given; only the pixels read are clipped.
    const int32_t xc = static_cast<int32_t>((static_cast<int64_t>(rect.left) + rect.right) / 2);
    const int top = std::max(rect.top, 0);
    const int left = std::max(rect.left, 0);
    const int right = std::min(rect.right, image->GetCols());
    double sum[3] = {0.0, 0.0, 0.0};
    double n = 0.0;
    for (int y = top; y < rect.bottom; ++y) {
        const int16_t* row = image->GetRow(y);
        for (int x = left; x < right; ++x) {
            for (int c = 0; c < 3; ++c)
                sum[c] += row[3 * x + c];
            n += 1.0;
        }
    }
    if (n == 0.0) {
        out = result;
        return;
    }
    const double mean[3] = {sum[0] / n, sum[1] / n, sum[2] / n};
    double s[3] = {0.0, 0.0, 0.0};
    for (int y = top; y < rect.bottom; ++y) {
        const int16_t* row = image->GetRow(y);
        for (int x = left; x < right; ++x) {
            const double dx = static_cast<double>(x) - xc;
            for (int c = 0; c < 3; ++c)
                s[c] += (row[3 * x + c] - mean[c]) * dx;
        }
    }
    // 12 / W: the mean square of the column offsets of a full row is about W^2 / 12.
    const double w = image->GetCols();
    result.slope = {12.0 * s[0] / (n * w), 12.0 * s[1] / (n * w), 12.0 * s[2] / (n * w)};
    result.level = {mean[0], mean[1], mean[2]};
    out = result;
}

void CalculateDriftPair(FDriftPair& out, const FPixmapTemplate<FPixelClass48SRGB>* image, const FRect& top,
                        const FRect& bottom)
{
    FDriftPair pair;
    CalculateDrift(pair.top, image, top);
    CalculateDrift(pair.bottom, image, bottom);
    out = pair;
}

namespace
{

FDoubleRGB Lerp(const FDoubleRGB& a, const FDoubleRGB& b, double t)
{
    return {a.r + t * (b.r - a.r), a.g + t * (b.g - a.g), a.b + t * (b.b - a.b)};
}

} // namespace

void InterpolateDriftForRow(FDrift& out, const FDriftPair& pair, uint32_t row, uint32_t rowCount)
{
    const double t = rowCount < 2 ? 0.0 : static_cast<double>(row) / static_cast<double>(rowCount - 1);
    out.slope = Lerp(pair.top.slope, pair.bottom.slope, t);
    out.level = Lerp(pair.top.level, pair.bottom.level, t);
}
