#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "FPixmap.h"

// Noise reduction in the logarithmic domain: the log ratio of the image to a reference is
// smoothed by recursive exponential filters that stop at the reference's edges, put back
// onto the reference, and mixed with the unfiltered image where the reference has edges
// or is bright. Intermediate images are single-precision float pixmaps.

// Entries of the edge-weight and exponential tables.
inline constexpr int kFIRTableSize = 15 << 14;
// Largest value range M.
inline constexpr int kFIRMaxRange = 24000;
// Images beyond this many pixels are refused as if their working storage could not be had.
inline constexpr int64_t kFIRMaxPixels = int64_t{1} << 28;

// M = min(24000, trunc(36000 / g)); 0 when g is not positive and finite.
int FIRValueRange(double g);

// 2^(-1 / (p ((cols + rows) >> 2))): half weight after p (cols + rows) / 4 pixels. 0 for a
// proportion or size that gives no positive finite decay.
float FIRDecay(float proportion, int cols, int rows);

// Normalised two-sided exponential smoothing in both directions; output may be input. The
// sizes of output and input must match. Throws std::bad_alloc when scratch cannot be had;
// does nothing for a proportion FIRDecay refuses.
void FIRSmooth2D(FPixmapTemplate<FPixelClassFlt32RGB>& output,
                 const FPixmapTemplate<FPixelClassFlt32RGB>& input, float proportion, int threads = 1);
void FIRSmooth2D(FPixmapTemplate<FPixelClassFlt32Mono>& output,
                 const FPixmapTemplate<FPixelClassFlt32Mono>& input, float proportion, int threads = 1);

// The same smoothing with each link of the chain scaled by the weight map; output may be
// input. A decay that is not in (0, 1] leaves the output untouched.
void FIREdgeAwareSmooth(FPixmapTemplate<FPixelClassFlt32RGB>& output,
                        const FPixmapTemplate<FPixelClassFlt32RGB>& input,
                        const FPixmapTemplate<FPixelClassFlt32Mono>& weights, float decay, int threads = 1);

// Gradient magnitude over the four direct neighbours, edges copied from the interior. An
// image of fewer than 3 rows or columns has no interior: its gradient is 0.
void FIRGradientMagnitude(FPixmapTemplate<FPixelClassFlt32Mono>& output,
                          const FPixmapTemplate<FPixelClassFlt32RGB>& input, int threads = 1);

// Sigmoid edge weights from the gradient, scaled by its sample standard deviation. A flat
// input (deviation 0) gives every pixel the flat-area weight.
void FIREdgeWeights(FPixmapTemplate<FPixelClassFlt32Mono>& output,
                    const FPixmapTemplate<FPixelClassFlt32RGB>& input, float locality, float scale,
                    float sigmoidOffset, int threads = 1);

// The weight of a pixel with gradient 0, and the one FIREdgeWeights gives everywhere when
// the gradient has no spread.
float FIRFlatAreaWeight(float scale, float sigmoidOffset);

// The whole filter: `image` is replaced by the filtered image times k = min(m, 7) g,
// clamped to [-500, 24000]; `reference` is clamped to [1, M - 1]. The dimensions are the
// reference's; an image smaller than the reference, parameters that give no valid range or
// decay, or working storage that cannot be had leave both images unchanged (traced). The
// scratch area holds the running sums when it has FIRScratchBytes(cols, rows, threads)
// bytes; otherwise the call allocates its own. Never throws. Rows are split over `threads`
// threads; the result does not depend on the thread count.
void FIRNoiseReduction(FPixmapTemplate<FPixelClass48SRGB>& image,
                       FPixmapTemplate<FPixelClass48SRGB>& reference, float pLocalMeanRef,
                       float pLocalMeanEdgeRef, float pLocalMeanImgWithEdgeRef, float locality,
                       float sigmoidOffset, float scaleEdgeRef, float scaleLocalMeanEdgeRef,
                       float edgeExponent, float m, float g, void* scratch = nullptr, size_t scratchBytes = 0,
                       int threads = 1);

// Bytes of running-sum scratch one call uses.
size_t FIRScratchBytes(int cols, int rows, int threads);

// The tables of FIRNoiseReduction, kept by a caller that filters image after image; the
// planes of a call come from the page store and go back to it (FLargePageAllocator.h), so
// that only the first call of a size pays for fresh pages.
class FIRScratch
{
public:
    // Bytes held.
    size_t Bytes() const;
    void Release();

private:
    friend struct FIRScratchAccess;
    std::vector<float> m_logs, m_powers, m_sigmoid;
    std::vector<uint16_t> m_exponentials;
    // What the kept tables were made for: the value range of the log, luma-power and
    // exponential tables, and the range and exponent bits of the edge-power table (0: none).
    int m_tablesRange = 0;
    int m_edgePowersRange = 0;
    uint32_t m_edgePowersExponent = 0;
};

enum class FIRResult {
    kFiltered,
    kLeftAsIs,  // sizes or parameters the filter cannot use; nothing changed
    kNoMemory,  // working storage could not be had; nothing changed
    kCancelled, // given up before the image changed: the images are only clamped, and
                // a repeat gives what an uncancelled call would have
};

// The whole filter with tables from `scratch`; otherwise as above. `cancelled`, when
// given, is asked as each band of the passes before the mix starts.
FIRResult FIRNoiseReduction(FPixmapTemplate<FPixelClass48SRGB>& image,
                            FPixmapTemplate<FPixelClass48SRGB>& reference, float pLocalMeanRef,
                            float pLocalMeanEdgeRef, float pLocalMeanImgWithEdgeRef, float locality,
                            float sigmoidOffset, float scaleEdgeRef, float scaleLocalMeanEdgeRef,
                            float edgeExponent, float m, float g, FIRScratch& scratch, int threads = 1,
                            const std::function<bool()>& cancelled = {});
