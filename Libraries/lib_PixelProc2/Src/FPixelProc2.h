#pragma once

#include <cstdint>
#include <vector>

#include "FColorMatrix.h"
#include "FIntRGB.h"
#include "FLUT.h"
#include "FPixmap.h"

// The colour mathematics of the pipeline: camera to working space (ROMM RGB, D65-referred),
// working to output space, the stage-2 row transform and the final output conversion.

// Saturation matrix Sat(t): 1 - 2t on the diagonal, t elsewhere; rows sum to 1, so
// neutral colours are unchanged. A negative t increases saturation.
FColorMatrix SaturationMatrix(double t);

// out = k x Sat(t) x D x W x camToXYZ, where W takes XYZ to working RGB and D balances
// the neutral n to a grey (skipped when any component of n is negative).
void ComputeWorkingColorMatrix(FColorMatrix& out, const FColorMatrix& camToXYZ, const FDoubleRGB& neutral,
                               double k, double t);

// out = O x W^-1 x Sat(-s/6): working RGB to output space `colorSpace` (0 to 11) with the
// saturation s applied in working RGB. Index 0 gives XYZ.
void ComputeOutputMatrix(FColorMatrix& out, int colorSpace, double saturation);

// The mean offset-corrected colour of the darkest sampled pixels; (0, 0, 0) when too few
// qualify. a, b and c set the width of the brightness histogram.
void AverageDarkestPixels(FIntRGB& out, const FPixmapTemplate<FPixelClass48SRGB>& image, double a, double b,
                          double c, int oR, int oG, int oB);

// The stage-2 colour transform prepared once for an image. The first coring step of a
// channel depends on that channel's sample alone, so it is kept as an exact table per
// channel; the rest runs on short runs of pixels in vector arithmetic. Results equal
// TransformStage2Row / TransformStage2RowPair with the same arguments.
class FStage2ColorTransform
{
public:
    // `coring` must outlive the transform; low and high as TransformStage2RowPair takes them.
    FStage2ColorTransform(const FColorMatrixFixed& matrix, const FColorLUT& coring, int oR, int oG, int oB,
                          int low, int high);
    // In place; with `cored`, also the cored camera values.
    void Apply(int16_t* row, int16_t* cored, int count) const;

private:
    std::vector<int32_t> m_aFirst; // 3 x 65536, by the sample read as unsigned
    const FColorLUT& m_Coring;
    FColorMatrixFixed m_Matrix;
    int32_t m_iLimit;
    int32_t m_iLow;
    int32_t m_iHigh;
    int64_t m_iLargestEntry;
};

// Stage-2 colour transform of one row of signed 48-bit pixels, in place: black offsets,
// two-step noise coring through `coring`, then the Q13 matrix, clamped to [-500, 24000].
void TransformStage2Row(int16_t* row, int count, const FColorMatrixFixed& matrix, const FColorLUT& coring,
                        int oR, int oG, int oB);
// As TransformStage2Row, also writing the cored camera values into `cored`; the matrix
// result is clamped to [low, high].
void TransformStage2RowPair(int16_t* row, int16_t* cored, int count, const FColorMatrixFixed& matrix,
                            const FColorLUT& coring, int oR, int oG, int oB, int low, int high);

namespace FPixelProc2
{

// Converts the stage-3 image (cube-root domain, Q12) with its detail plane L and an
// optional retinex plane into a 24-bit RGB, 32-bit BGRA or 48-bit RGB pixmap through the
// tone table, the output matrix and the output transfer table. The detail is scaled by
// k + 1. Throws FExceptionPixelProc2 for another output type, for planes smaller than the
// output, or for a retinex plane without a gain table.
void ProcessToOutput(const FPixmapTemplate<FPixelClass48SRGB>& stage3,
                     const FPixmapTemplate<FPixelClass16SMono>& L,
                     const FPixmapTemplate<FPixelClass16SMono>* retinex, double k, const FColorLUT& tone,
                     const FLUT* retinexGain, const FColorMatrix& outputMatrix, const FLUT& transfer,
                     bool softToe, FPixmap& out);

// One row each; `detailGain` is k + 1. `retinexRow` may be null.
void ProcessToOutputRow32BGRA(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow,
                              double detailGain, const FColorLUT& tone, const FLUT* retinexGain,
                              const FColorMatrixFixed& matrix, const FLUT& transfer, bool softToe,
                              uint8_t* out, int count);
void ProcessToOutputRow24RGB(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow,
                             double detailGain, const FColorLUT& tone, const FLUT* retinexGain,
                             const FColorMatrixFixed& matrix, const FLUT& transfer, bool softToe,
                             uint8_t* out, int count);
void ProcessToOutputRow48RGB(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow,
                             double detailGain, const FColorLUT& tone, const FLUT* retinexGain,
                             const FColorMatrixFixed& matrix, const FLUT& transfer, bool softToe,
                             uint16_t* out, int count);

// The soft toe of one Q13 matrix result c, for a pixel whose largest channel is M.
int32_t SoftToe(int32_t c, int32_t M);

} // namespace FPixelProc2
