#include "FColorMatrix.h"

#include <cmath>
#include <limits>

void FColorMatrix::Clear()
{
    *this = FColorMatrix();
}

void FColorMatrix::Set(double m00, double m01, double m02, double m10, double m11, double m12, double m20,
                       double m21, double m22)
{
    m[0][0] = m00;
    m[0][1] = m01;
    m[0][2] = m02;
    m[1][0] = m10;
    m[1][1] = m11;
    m[1][2] = m12;
    m[2][0] = m20;
    m[2][1] = m21;
    m[2][2] = m22;
}

FColorMatrix FColorMatrix::Identity()
{
    FColorMatrix r;
    r.Set(1, 0, 0, 0, 1, 0, 0, 0, 1);
    return r;
}

FColorMatrix FColorMatrix::ScaledCopy(double s) const
{
    FColorMatrix r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[i][j] = m[i][j] * s;
    return r;
}

FColorMatrix FColorMatrix::Multiply(const FColorMatrix& a, const FColorMatrix& b)
{
    FColorMatrix r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    return r;
}

double FColorMatrix::Determinant() const
{
    return m[0][0] * (m[1][1] * m[2][2] - m[2][1] * m[1][2]) -
           m[0][1] * (m[2][2] * m[1][0] - m[1][2] * m[2][0]) +
           m[0][2] * (m[2][1] * m[1][0] - m[1][1] * m[2][0]);
}

bool FColorMatrix::Inverse(FColorMatrix& out, const FColorMatrix& in)
{
    const auto& a = in.m;
    const double invDet = 1.0 / in.Determinant();
    FColorMatrix adj;
    adj.m[0][0] = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    adj.m[0][1] = a[0][2] * a[2][1] - a[0][1] * a[2][2];
    adj.m[0][2] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
    adj.m[1][0] = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    adj.m[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
    adj.m[1][2] = a[0][2] * a[1][0] - a[0][0] * a[1][2];
    adj.m[2][0] = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    adj.m[2][1] = a[0][1] * a[2][0] - a[0][0] * a[2][1];
    adj.m[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    out = adj.ScaledCopy(invDet);
    for (const auto& row : out.m)
        for (double v : row)
            if (!std::isfinite(v))
                return false;
    return true;
}

FDoubleRGB FColorMatrix::Apply(const FDoubleRGB& c) const
{
    return {m[0][0] * c.r + m[0][1] * c.g + m[0][2] * c.b, m[1][0] * c.r + m[1][1] * c.g + m[1][2] * c.b,
            m[2][0] * c.r + m[2][1] * c.g + m[2][2] * c.b};
}

namespace
{

// trunc(v x 8192 + 0.5) without the undefined conversions of NaN or huge values.
int32_t ToQ13(double v)
{
    const double scaled = v * 8192.0 + 0.5;
    if (!std::isfinite(scaled))
        return 0;
    if (scaled >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (scaled <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(scaled);
}

} // namespace

FColorMatrixFixed FColorMatrix::ToFixed() const
{
    FColorMatrixFixed f;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            f.m[i][j] = ToQ13(m[i][j]);
    return f;
}
