#pragma once

#include <cstdint>

#include "CalculateDrift.h"
#include "FIntRGB.h"
#include "FPixmap.h"
#include "FRect.h"

struct FCamdataGainTable;

// The cubic colour correction: row c gives the correction of channel c from the terms
// r^2, g^2, b^2, rg, rb, gb, r^3, g^3, b^3 (in that order).
struct FPostPolyMatrix {
    float m[27] = {};

    // Inputs rounded as trunc(v + 0.5), the full polynomial in Q14 integers.
    void Apply(FDoubleRGB& out, const FDoubleRGB& in) const;
};

// One dark offset per image row (offsets[rows]) from the left and right shield columns
// [l0, l1] and [r0, r1] (inclusive), smoothed along the rows. Unusable parameters (narrow
// shields, shields outside the image or at column 0, fewer than 4 rows, a short active
// area, non-positive gain or scale) give zero offsets. Never throws.
void CorrectRowSegments(FDoubleRGB* offsets, const FPixmapTemplate<FPixelClass48SRGB>& image, uint32_t rows,
                        int32_t l0, int32_t l1, int32_t r0, int32_t r1, const FDoubleRGB& columnFilter,
                        const FDriftPair& drift, double gain, double scale, const FRect& activeArea,
                        bool colourAverage);

// Row `row` of an image of imageRows rows, interpolated between the gain table's rows:
// out holds table.m_iColumns float triples.
void InterpolateGainTableRow(const FCamdataGainTable& table, uint32_t row, uint32_t imageRows, float* out);

// Corrects one row of signed 48-bit pixels in place: column filter, segment steps, drift
// line and offset, the polynomial, the spatial gain (gainNodes triples, linear between
// them; none means unit nodes), then the clip at 32000. Integer arithmetic in the
// column loop.
void TransformRowFixed(int16_t* row, uint32_t columns, const FDoubleRGB& columnFilter,
                       const FDoubleRGB& columnFilterSquare, const FDoubleRGB& segmentCapacitance,
                       const FDoubleRGB& segmentFeedThrough, int32_t segmentInterval, const FDrift& rowDrift,
                       const FDoubleRGB& offset, const FPostPolyMatrix& poly, const float* gainRow,
                       uint32_t gainNodes, const FDoubleRGB& gain);

// Everything the per-row transform of a whole image needs.
struct FRowTransformSettings {
    FDoubleRGB columnFilter;
    FDoubleRGB columnFilterSquare;
    FDoubleRGB segmentCapacitance;
    FDoubleRGB segmentFeedThrough;
    int32_t segmentInterval = 0;
    FDriftPair drift;
    const FDoubleRGB* rowOffsets = nullptr; // one per image row, or null for zeros
    FDoubleRGB flare;                       // added to every row's offset
    FPostPolyMatrix poly;
    const FCamdataGainTable* gainTable = nullptr; // null: unit gain nodes
    FDoubleRGB gain{1.0, 1.0, 1.0};
};

// TransformRowFixed on every row with that row's drift, offset and gain row, the rows
// split over `threads` threads; the result does not depend on the thread count.
void TransformImageFixed(const FPixmapTemplate<FPixelClass48SRGB>& image,
                         const FRowTransformSettings& settings, int threads);
