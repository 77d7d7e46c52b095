#pragma once

#include <cstdint>

#include "FIntRGB.h"

struct FColorMatrixFixed;

// A 3 x 3 matrix of doubles, row-major, applied to a colour as a column vector:
// out.r = m[0][0] r + m[0][1] g + m[0][2] b.
struct FColorMatrix {
    double m[3][3] = {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};

    void Clear();
    void Set(double m00, double m01, double m02, double m10, double m11, double m12, double m20, double m21,
             double m22);

    static FColorMatrix Identity();

    // Every entry times s.
    FColorMatrix ScaledCopy(double s) const;
    // A x B.
    static FColorMatrix Multiply(const FColorMatrix& a, const FColorMatrix& b);
    // Expanded along the first row.
    double Determinant() const;
    // out = adjugate(in) / determinant. A singular matrix yields infinities or NaNs in
    // `out`; the result is false then (or when any entry of `out` is not finite).
    static bool Inverse(FColorMatrix& out, const FColorMatrix& in);

    // The colour times the matrix, in doubles.
    FDoubleRGB Apply(const FDoubleRGB& c) const;

    // The Q13 form, entry by entry trunc(m x 8192 + 0.5): positives round to nearest,
    // negatives do not round symmetrically (-1.0 gives -8191). Entries that are not
    // finite become 0; entries beyond the 32-bit range saturate.
    FColorMatrixFixed ToFixed() const;

    bool operator==(const FColorMatrix&) const = default;
};

// The Q13 form (value x 8192) of an FColorMatrix, row-major.
struct FColorMatrixFixed {
    int32_t m[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};

    // For each row (m[i][0] r + m[i][1] g + m[i][2] b + 4096) >> 13, arithmetic shift.
    // Accumulates in 64 bits so that full-scale samples times large coefficients cannot
    // overflow; the low 32 bits of the shifted sum are returned.
    FIntRGB Apply(const FIntRGB& c) const { return {Row(0, c), Row(1, c), Row(2, c)}; }

    bool operator==(const FColorMatrixFixed&) const = default;

private:
    int32_t Row(int i, const FIntRGB& c) const
    {
        const int64_t dot = static_cast<int64_t>(m[i][0]) * c.r + static_cast<int64_t>(m[i][1]) * c.g +
                            static_cast<int64_t>(m[i][2]) * c.b + 4096;
        return static_cast<int32_t>(dot >> 13);
    }
};
