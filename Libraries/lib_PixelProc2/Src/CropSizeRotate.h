#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "FIntRGB.h"
#include "FLUT.h"
#include "FPixmap.h"
#include "FRect.h"

// The geometry stage: a rectangle of a source image turned into an output image of a
// chosen size and a quarter turn, in one pass. Positions are unsigned 16.16 fixed point;
// scaling filters a 4 x 4 window through a table of Q16 coefficients for 16 x 16
// sub-pixel phases. Only the output rectangle `outRect` of the whole output (outCols x
// outRows) is computed, into the destinations from their row 0 and column 0.
//
// Rotations are unsigned degrees, a multiple of 90 taken modulo 360; 90 is a clockwise
// quarter turn. Each entry point throws FExceptionPixelProc2 before writing anything for
// a rotation that is not a multiple of 90, for pixmaps of the wrong pixel size, for a crop
// outside the source (or beyond 65535 pixels), for an output rectangle outside the output
// size or larger than a destination, for a crop narrower or shorter than 2 pixels when
// scaling, and for a scale whose step does not fit the position arithmetic.

// Coefficients of one table: 16 vertical x 16 horizontal phases x 4 tap rows x 4 tap
// columns, Q16. A phase p stands for a sample (p + 0.5) / 16 of a pixel past the integer
// position.
struct FResampleKernel {
    static constexpr int kPhases = 16;
    static constexpr int kTaps = 4;
    int32_t m_aCoef[kPhases * kPhases * kTaps * kTaps] = {};

    const int32_t* Phase(int verticalPhase, int horizontalPhase) const
    {
        return m_aCoef + (verticalPhase * kPhases + horizontalPhase) * kTaps * kTaps;
    }
};

// The radial windowed-sinc table for scales sx, sy (output pixels per source pixel).
std::unique_ptr<FResampleKernel> BuildResampleKernel(double sx, double sy);
// The separable table, for scales that differ by more than 10 % between the axes.
std::unique_ptr<FResampleKernel> BuildResampleKernelSeparable(double sx, double sy);

// Filter tables built once for the scales of one request and shared by every band and
// strip of it, from any thread. Each distinct pair of scales is built at most once.
class FResampleKernelCache
{
public:
    struct Entry;
    FResampleKernelCache();
    ~FResampleKernelCache();
    FResampleKernelCache(const FResampleKernelCache&) = delete;
    FResampleKernelCache& operator=(const FResampleKernelCache&) = delete;

    const Entry& For(double sx, double sy);
    // Tables built so far (tests).
    int GetBuildCount();

private:
    std::mutex m_Mutex;
    std::vector<std::unique_ptr<Entry>> m_Entries;
};

// One filtered output sample at positions in 1/16 pixels (per channel for the 48-bit
// source). Positions must lie at least 2 pixels inside every edge of the source, else
// FExceptionPixelProc2. 48-bit and mono sources are read as signed 16-bit; results are
// not clamped. For a 4-byte source, out.b, out.g, out.r are bytes 0, 1, 2 filtered and
// clamped to 0..255.
void ResamplePixel48(const FPixmap& source, FIntRGB& out, const FIntRGB& x, const FIntRGB& y,
                     const FResampleKernel& table);
void ResamplePixelMono(const FPixmap& source, int& out, int x, int y, const FResampleKernel& table);
void ResamplePixel32(const FPixmap& source, FIntRGB& out, int x, int y, const FResampleKernel& table);

// The working colour image (6-byte pixels, signed R, G, B) into the colour image (6-byte
// pixels) and the lightness image L (2-byte pixels), every channel through `lut` on the
// way, with the green correction LG + ((c x (LG - LR) x k) >> 14), c the difference
// limited to [greenLow, greenHigh] and k = greenWeight x 16384. Samples within 2 pixels of
// a source edge take the fill (8000, 0, 0) when scaling; filtered samples saturate at the
// 16-bit range. Returns 1.0 when the output has the crop's size, else the output's extent
// along the source's horizontal axis over `refWidth`, which must then be positive.
// `refHeight` is not used.
double CropSizeRotateMore(const FPixmap& source, const FRect& crop, int refWidth, int refHeight, int outCols,
                          int outRows, const FRect& outRect, unsigned rotation, const FLUT& lut,
                          FPixmap& colorOut, FPixmap& lOut, double greenWeight, int greenHigh, int greenLow,
                          FResampleKernelCache* kernels = nullptr);

// A signed 16-bit mono image with the same geometry; the fill is 8000, and filtered samples
// saturate at the 16-bit range. The reference sizes are not used.
void CropSizeRotateMono(const FPixmap& source, const FRect& crop, int refWidth, int refHeight, int outCols,
                        int outRows, const FRect& outRect, unsigned rotation, FPixmap& out,
                        FResampleKernelCache* kernels = nullptr);

// A whole 4-byte-per-pixel image into a 4-byte-per-pixel image with one scale. At scale
// 1.0 the pixels are copied whole; when scaling, bytes 0 to 2 are filtered and byte 3 is
// 255, and positions near an edge (or outside the source) get bytes (0, 0, 255, 255).
void CropSizeRotate(const FPixmap& source, FPixmap& out, int outCols, int outRows, const FRect& outRect,
                    unsigned rotation);
