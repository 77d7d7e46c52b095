#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "FLUT.h"
#include "FPixmap.h"

// Fill light: a signed 16-bit image of how far the local log luminance lies from its
// large-scale surroundings, in units of local contrast, and the table that turns such a
// value into a gain (256 = 1.0 for the engine's base).

using FRetinexImage = FPixmapTemplate<FPixelClass16SMono>;

// Size of the gain table.
inline constexpr int kRetinexGainLUTSize = 0x10000;
// Levels this wide or narrower give the pyramid statistics.
inline constexpr int kRetinexStatisticsWidth = 200;

struct FRetinexStatistics {
    int32_t mean = 0;
    int32_t min = 0;
    int32_t max = 0;
};

// The integer mean of the per-row integer means, and the extremes. The pixmap must have at
// least one row and one column.
int RetinexMinMaxMean(const FRetinexImage& pixmap, int& min, int& max, int threads = 1);

// Halves a level: 2 x 2 means, the last column of an odd width averaged with its left
// neighbour. `mean` (may be null) receives the mean of the written values.
void RetinexDownsample2x(const FRetinexImage* in, FRetinexImage* out, double* mean, int threads = 1);

// out = coarse upsampled x a + fine x b, weights in Q8; out may be fine. scratch holds
// RetinexUpsampleScratch(coarse columns) samples.
void RetinexUpsampleBlend(const FRetinexImage* coarse, const FRetinexImage* fine, FRetinexImage* out,
                          double coarseWeight, double fineWeight, int16_t* scratch);
inline int64_t RetinexUpsampleScratch(int coarseCols)
{
    return 6 * (static_cast<int64_t>(coarseCols) + 4);
}

// Large-scale smoothing of `in` into `out` (may be the same pixmap) through an image
// pyramid kept on the scratch block; returns the statistics of the first level at most
// 200 wide (zeros when none is). Blends are split over `threads` threads; the result does
// not depend on their number.
FRetinexStatistics RetinexPyramidSmooth(const FRetinexImage* in, FRetinexImage* out, int16_t* scratch,
                                        uint32_t scratchCount, int threads = 1);
// Scratch samples RetinexPyramidSmooth needs for an image of this size.
int64_t RetinexPyramidScratch(int cols, int rows);

// The retinex image of a stage-2 image (id 16) into `out` (id 4, at least the input's
// size) and the suggested fill-light strength from the exposure data. Throws
// FExceptionPixelProc2 "Retinexing: input image too small" below 3 x 3 and for an output
// smaller than the input. A set cancel flag ends the work after the current row and gives
// 0.0.
double MultiScaleRetinex(const FPixmapTemplate<FPixelClass48SRGB>& in, FRetinexImage& out,
                         double exposureTime, double fNumber, int iso, const std::atomic<bool>* cancel);

// The tables of MultiScaleRetinex, kept by a caller that develops image after image; the
// working planes of a call come from the page store and go back to it.
class FRetinexScratch
{
public:
    size_t Bytes() const;
    void Release();

private:
    friend struct FRetinexScratchAccess;
    std::vector<int16_t> m_logs, m_roots;
};

// The same with kept storage and the row passes split over `threads` threads (the result
// does not depend on their number). Throws std::bad_alloc when storage cannot be had or a
// working plane would pass the image size cap.
double MultiScaleRetinex(const FPixmapTemplate<FPixelClass48SRGB>& in, FRetinexImage& out,
                         double exposureTime, double fNumber, int iso, const std::atomic<bool>* cancel,
                         FRetinexScratch& scratch, int threads = 1);
// The same, asking `cancelled` (when given) in place of the flag.
double MultiScaleRetinex(const FPixmapTemplate<FPixelClass48SRGB>& in, FRetinexImage& out,
                         double exposureTime, double fNumber, int iso, FRetinexScratch& scratch, int threads,
                         const std::function<bool()>& cancelled);

// The fill-light suggestion of MultiScaleRetinex from the surround's statistics.
double RetinexSuggestedFillLight(const FRetinexStatistics& statistics, double exposureTime, double fNumber,
                                 int iso);

// Fills the 65536-entry gain table for the fill-light strength x: positive retinex values
// rise toward base e^(1.33 x), negative ones fall toward base e^(-1.33 x). Entries
// saturate at 32767.
void MakeRetinexGainLUT(FLUT* pGainLUT, double fillLight, int base);
