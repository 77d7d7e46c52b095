#include "CropSizeRotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <string>

#include "FException.h"

namespace
{

// Positions hold the integer pixel in 16 bits.
constexpr int32_t kMaxPositionPixels = 65535;
constexpr double kPi = 3.14159; // the kernel's own constant, not M_PI
constexpr int32_t kFillMore = 8000;
constexpr int32_t kFillMono = 8000;

[[noreturn]] void Fail(const char* where, const char* what)
{
    throw FExceptionPixelProc2((std::string(where) + ": " + what).c_str());
}

unsigned CheckRotation(unsigned rotation, const char* where)
{
    if (rotation % 90 != 0)
        Fail(where, "rotation is not multiple of 90 degrees.");
    return rotation % 360;
}

bool IsQuarterTurn(unsigned rot)
{
    return rot == 90 || rot == 270;
}

void CheckPixelSize(const FPixmap& pixmap, int bytes, const char* where, const char* which)
{
    if (GetPixelTypeBytesPerPixel(pixmap.GetPixelType()) != bytes)
        Fail(where, which);
}

// True when there is nothing to compute.
bool CheckOutput(int outCols, int outRows, const FRect& outRect, const FPixmap* const* outs, int outCount,
                 const char* where)
{
    if (outRect.left < 0 || outRect.top < 0 || outRect.left > outRect.right || outRect.top > outRect.bottom ||
        outRect.right > outCols || outRect.bottom > outRows)
        Fail(where, "the output rectangle is outside the output image.");
    for (int i = 0; i < outCount; ++i) {
        if (outs[i]->GetCols() < outRect.Width() || outs[i]->GetRows() < outRect.Height())
            Fail(where, "an output pixmap is smaller than the output rectangle.");
    }
    return outRect.Width() == 0 || outRect.Height() == 0;
}

int32_t StepFor(double step, const char* where)
{
    if (!(step >= 0.0 && step <= double(INT32_MAX)))
        Fail(where, "the scale is out of range.");
    return int32_t(step);
}

// Truncation toward zero, held to the int32 range; NaN gives 0.
int32_t SaturatedTrunc(double v)
{
    if (!(v == v))
        return 0;
    if (v >= double(INT32_MAX))
        return INT32_MAX;
    if (v <= double(INT32_MIN))
        return INT32_MIN;
    return int32_t(v);
}

// Origin and steps of the output, in unsigned 16.16 positions.
struct Walk {
    uint32_t originX = 0;
    uint32_t originY = 0;
    uint32_t colStepX = 0;
    uint32_t colStepY = 0;
    uint32_t rowStepX = 0;
    uint32_t rowStepY = 0;
};

// The walk for extent [lo, hi) on each axis, steps sx and sy, and half-pixel offset e.
Walk MakeWalk(unsigned rot, int32_t l, int32_t t, int32_t r, int32_t b, int32_t stepX, int32_t stepY,
              uint32_t e)
{
    const uint32_t left = (uint32_t(l) << 16) + e;
    const uint32_t top = (uint32_t(t) << 16) + e;
    const uint32_t right = (uint32_t(r - 1) << 16) - e;
    const uint32_t bottom = (uint32_t(b - 1) << 16) - e;
    const uint32_t sx = uint32_t(stepX);
    const uint32_t sy = uint32_t(stepY);
    Walk w;
    if (rot == 0) {
        w = {left, top, sx, 0, 0, sy};
    } else if (rot == 90) {
        w = {left, bottom, 0, 0u - sy, sx, 0};
    } else if (rot == 180) {
        w = {right, bottom, 0u - sx, 0, 0, 0u - sy};
    } else {
        w = {right, top, 0, sy, 0u - sx, 0};
    }
    return w;
}

// --- Filtering over 4 x 4 windows; callers keep the window inside the source.

inline int16_t Load16s(const uint8_t* p)
{
    int16_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

inline bool Inside(uint32_t qx, uint32_t qy, const FPixmap& source)
{
    return qx >= 32 && qy >= 32 && int64_t(qx) < (int64_t(source.GetCols()) - 2) * 16 &&
           int64_t(qy) < (int64_t(source.GetRows()) - 2) * 16;
}

// One channel of 16-bit samples at byte offset `channel` within pixels of `bpp` bytes.
inline int32_t Filter16(const FPixmap& source, uint32_t qx, uint32_t qy, int bpp, int channel,
                        const FResampleKernel& table)
{
    const int ix = int(qx >> 4);
    const int iy = int(qy >> 4);
    const int32_t* c = table.Phase(int(qy & 15), int(qx & 15));
    int64_t sum = 0;
    for (int k = 0; k < 4; ++k) {
        const uint8_t* p = source.GetRowAddress(iy - 1 + k) + ptrdiff_t(ix - 1) * bpp + channel;
        for (int n = 0; n < 4; ++n, p += bpp)
            sum += int64_t(Load16s(p)) * c[k * 4 + n];
    }
    return int32_t(sum >> 16);
}

inline void Filter32(const FPixmap& source, uint32_t qx, uint32_t qy, const FResampleKernel& table,
                     uint8_t* out)
{
    const int ix = int(qx >> 4);
    const int iy = int(qy >> 4);
    const int32_t* c = table.Phase(int(qy & 15), int(qx & 15));
    int64_t sum[3] = {0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        const uint8_t* p = source.GetRowAddress(iy - 1 + k) + ptrdiff_t(ix - 1) * 4;
        for (int n = 0; n < 4; ++n, p += 4) {
            const int32_t w = c[k * 4 + n];
            sum[0] += int64_t(p[0]) * w;
            sum[1] += int64_t(p[1]) * w;
            sum[2] += int64_t(p[2]) * w;
        }
    }
    for (int i = 0; i < 3; ++i)
        out[i] = uint8_t(std::clamp<int64_t>(sum[i] >> 16, 0, 255));
    out[3] = 255;
}

// --- The whole-image filters: two taps per multiply-add of 16-bit pairs.
//
// A coefficient c is split as c = 256 hi + lo, 0 <= lo < 256, so that both parts are
// 16-bit; the sums of sample x hi and sample x lo are exact in 32 bits where checked
// below, and their combination is exact in the width the one-pixel filters use.

// Per phase and tap pair (0-1, 2-3 of each tap row): the hi parts as one 32-bit word
// (first tap low), then the lo parts.
struct FSplitKernel {
    uint32_t m_aPairs[FResampleKernel::kPhases * FResampleKernel::kPhases][8][2];
    // Every coefficient splits into 16-bit parts, and 16-bit samples times the hi parts of
    // any phase sum within 32 bits.
    bool m_bUsable = true;
    // The same words laid out for the eight-lane filters, one 8-word vector each:
    // colour: per tap row, hi of taps 0-1 four times then hi of 2-3 four times, then lo alike;
    // mono: per two tap rows, hi 0-1, hi 2-3, lo 0-1, lo 2-3 of the first row, then the second.
    alignas(32) uint32_t m_aColour[FResampleKernel::kPhases * FResampleKernel::kPhases][4][2][8];
    alignas(32) uint32_t m_aMono[FResampleKernel::kPhases * FResampleKernel::kPhases][2][8];
};

std::unique_ptr<FSplitKernel> SplitKernel(const FResampleKernel& table)
{
    auto split = std::make_unique<FSplitKernel>();
    for (int phase = 0; phase < FResampleKernel::kPhases * FResampleKernel::kPhases; ++phase) {
        const int32_t* c = table.m_aCoef + phase * 16;
        int64_t hiSum = 0;
        for (int i = 0; i < 16; ++i)
            hiSum += std::abs(int64_t(c[i] >> 8));
        if (hiSum >= 65536)
            split->m_bUsable = false;
        for (int pair = 0; pair < 8; ++pair) {
            uint32_t hi = 0;
            uint32_t lo = 0;
            for (int t = 0; t < 2; ++t) {
                const int32_t v = c[2 * pair + t];
                const int32_t h = v >> 8;
                if (h < INT16_MIN || h > INT16_MAX)
                    split->m_bUsable = false;
                hi |= uint32_t(uint16_t(int16_t(h))) << (16 * t);
                lo |= uint32_t(v & 255) << (16 * t);
            }
            split->m_aPairs[phase][pair][0] = hi;
            split->m_aPairs[phase][pair][1] = lo;
        }
        for (int k = 0; k < 4; ++k)
            for (int part = 0; part < 2; ++part)
                for (int lane = 0; lane < 8; ++lane)
                    split->m_aColour[phase][k][part][lane] = split->m_aPairs[phase][2 * k + lane / 4][part];
        for (int r = 0; r < 4; ++r)
            for (int w = 0; w < 4; ++w)
                split->m_aMono[phase][r / 2][4 * (r % 2) + w] = split->m_aPairs[phase][2 * r + w % 2][w / 2];
    }
    return split;
}

// Whether 4-byte sums fit 32 bits: bytes below 256 times the largest absolute coefficient
// sum of any phase, plus the lo parts' own sum.
bool Fits32BitSums(const FResampleKernel& table)
{
    int64_t widest = 0;
    for (int phase = 0; phase < FResampleKernel::kPhases * FResampleKernel::kPhases; ++phase) {
        int64_t s = 0;
        for (int i = 0; i < 16; ++i)
            s += std::abs(int64_t(table.m_aCoef[phase * 16 + i]));
        widest = std::max(widest, s);
    }
    return (widest + 16 * 256) * 256 < (int64_t(1) << 31);
}

// Filter32 for the whole image: pixels n and n + 1 of a tap row as byte pairs.
inline void Filter32Pairs(const FPixmap& source, uint32_t qx, uint32_t qy, const FSplitKernel& split,
                          uint8_t* out)
{
    const int ix = int(qx >> 4);
    const int iy = int(qy >> 4);
    const uint32_t(*pairs)[2] = split.m_aPairs[(qy & 15) * 16 + (qx & 15)];
    const __m128i zero = _mm_setzero_si128();
    __m128i hi = zero;
    __m128i lo = zero;
    for (int k = 0; k < 4; ++k) {
        const uint8_t* p = source.GetRowAddress(iy - 1 + k) + ptrdiff_t(ix - 1) * 4;
        for (int h = 0; h < 2; ++h) {
            const __m128i words =
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * h)), zero);
            const __m128i paired = _mm_unpacklo_epi16(words, _mm_srli_si128(words, 8));
            const uint32_t* c = pairs[2 * k + h];
            hi = _mm_add_epi32(hi, _mm_madd_epi16(paired, _mm_set1_epi32(int32_t(c[0]))));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(paired, _mm_set1_epi32(int32_t(c[1]))));
        }
    }
    const __m128i sum = _mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(hi, 8), lo), 16);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(sum, zero), zero);
    const uint32_t packed = uint32_t(_mm_cvtsi128_si32(bytes));
    out[0] = uint8_t(packed);
    out[1] = uint8_t(packed >> 8);
    out[2] = uint8_t(packed >> 16);
    out[3] = 255;
}

// The three channels of Filter16 over 6-byte pixels at once; hi and lo sums stay below
// 2^28 in 32 bits and meet in 64.
inline void Filter48Pairs(const FPixmap& source, uint32_t qx, uint32_t qy, const FSplitKernel& split,
                          int32_t out[3])
{
    const int ix = int(qx >> 4);
    const int iy = int(qy >> 4);
    const uint32_t(*pairs)[2] = split.m_aPairs[(qy & 15) * 16 + (qx & 15)];
    __m128i hi = _mm_setzero_si128();
    __m128i lo = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k) {
        const uint8_t* p = source.GetRowAddress(iy - 1 + k) + ptrdiff_t(ix - 1) * 6;
        for (int h = 0; h < 2; ++h) {
            // R0 G0 B0 R1 | G1 B1: twelve bytes, read without passing the pixel pair.
            uint32_t tail;
            std::memcpy(&tail, p + 12 * h + 8, 4);
            const __m128i words =
                _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 12 * h)),
                                   _mm_cvtsi32_si128(int32_t(tail)));
            const __m128i paired = _mm_unpacklo_epi16(words, _mm_srli_si128(words, 6));
            const uint32_t* c = pairs[2 * k + h];
            hi = _mm_add_epi32(hi, _mm_madd_epi16(paired, _mm_set1_epi32(int32_t(c[0]))));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(paired, _mm_set1_epi32(int32_t(c[1]))));
        }
    }
    alignas(16) int32_t h[4];
    alignas(16) int32_t l[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(h), hi);
    _mm_store_si128(reinterpret_cast<__m128i*>(l), lo);
    for (int i = 0; i < 3; ++i)
        out[i] = int32_t((int64_t(h[i]) * 256 + l[i]) >> 16);
}

// Filter16 for 2-byte pixels: the four taps of a row twice, madd with hi then lo pairs.
// Each lane holds a part of the hi or lo sum, so it stays within the bounds above.
inline int32_t FilterMonoPairs(const FPixmap& source, uint32_t qx, uint32_t qy, const FSplitKernel& split)
{
    const int ix = int(qx >> 4);
    const int iy = int(qy >> 4);
    const uint32_t(*pairs)[2] = split.m_aPairs[(qy & 15) * 16 + (qx & 15)];
    __m128i sum = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k) {
        const uint8_t* p = source.GetRowAddress(iy - 1 + k) + ptrdiff_t(ix - 1) * 2;
        const __m128i taps = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        const __m128i coef = _mm_setr_epi32(int32_t(pairs[2 * k][0]), int32_t(pairs[2 * k + 1][0]),
                                            int32_t(pairs[2 * k][1]), int32_t(pairs[2 * k + 1][1]));
        sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi64(taps, taps), coef));
    }
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
    const int64_t hi = int64_t(lanes[0]) + lanes[1];
    const int64_t lo = int64_t(lanes[2]) + lanes[3];
    return int32_t((hi * 256 + lo) >> 16);
}

inline int32_t Saturated16(int32_t v)
{
    return std::clamp<int32_t>(v, INT16_MIN, INT16_MAX);
}

inline bool InsideSource(uint32_t x, uint32_t y, const FPixmap& source)
{
    return int64_t(x >> 16) < source.GetCols() && int64_t(y >> 16) < source.GetRows();
}

inline const uint8_t* SourcePixel(const FPixmap& source, uint32_t x, uint32_t y, int bpp)
{
    return source.GetRowAddress(int(y >> 16)) + ptrdiff_t(x >> 16) * bpp;
}

// --- Kernel construction

using Kernel = std::unique_ptr<FResampleKernel>;

void CheckScales(double sx, double sy, const char* where)
{
    if (!(sx > 0.0 && sy > 0.0 && std::isfinite(sx) && std::isfinite(sy)))
        Fail(where, "scales must be positive and finite.");
}

void Normalise(const double values[16], int32_t* coef)
{
    double s = 0.0;
    for (int i = 0; i < 16; ++i)
        s += values[i];
    const double f = 65536.0 / s;
    for (int i = 0; i < 16; ++i)
        coef[i] = int32_t(values[i] * f + 0.5);
}

double WindowedSinc(double t, double c, double w, double q)
{
    return (std::sin(t * c) / (t * c)) * std::pow(std::max(std::cos(t * w / 4.0), 0.0), q);
}

struct AxisParams {
    double c;
    double w;
    double q;
};

AxisParams SeparableAxis(double s)
{
    return {std::min(0.94 * s, 1.0), std::min(std::sqrt(std::sqrt(s)), 0.9), std::min(2.0 * s, 2.0)};
}

// --- Shared geometry of the two cropped entry points

struct CropPlan {
    unsigned rot = 0;
    bool exact = false;
    double sx = 1.0;
    double sy = 1.0;
    Walk walk;
};

CropPlan PlanCrop(const FPixmap& source, const FRect& crop, int outCols, int outRows, unsigned rot,
                  const char* where)
{
    if (crop.left < 0 || crop.top < 0 || crop.left >= crop.right || crop.top >= crop.bottom ||
        crop.right > source.GetCols() || crop.bottom > source.GetRows() || crop.right > kMaxPositionPixels ||
        crop.bottom > kMaxPositionPixels)
        Fail(where, "the crop is outside the source image.");
    CropPlan plan;
    plan.rot = rot;
    const int32_t cw = crop.Width();
    const int32_t ch = crop.Height();
    const int32_t alongX = IsQuarterTurn(rot) ? outRows : outCols;
    const int32_t alongY = IsQuarterTurn(rot) ? outCols : outRows;
    plan.exact = alongX == cw && alongY == ch;
    if (!plan.exact) {
        // The denominators are one less than the crop's extents.
        if (cw < 2 || ch < 2)
            Fail(where, "the crop is too small to scale.");
        plan.sx = double(alongX) / double(cw - 1);
        plan.sy = double(alongY) / double(ch - 1);
    }
    const int32_t stepX = StepFor(65536.0 / plan.sx, where);
    const int32_t stepY = StepFor(65536.0 / plan.sy, where);
    plan.walk =
        MakeWalk(rot, crop.left, crop.top, crop.right, crop.bottom, stepX, stepY, plan.exact ? 0 : 0x8000);
    return plan;
}

Kernel KernelFor(double sx, double sy)
{
    const double ratio = sx / sy;
    if (ratio > 0.9 && ratio < 1.1)
        return BuildResampleKernel(sx, sy);
    return BuildResampleKernelSeparable(sx, sy);
}

// Calls body(destination column, destination row, x, y) for every pixel of the output
// rectangle, with x, y its 16.16 source position.
template <class Body>
void WalkOutput(const Walk& w, const FRect& outRect, Body body)
{
    uint32_t rowX = w.originX + uint32_t(outRect.left) * w.colStepX + uint32_t(outRect.top) * w.rowStepX;
    uint32_t rowY = w.originY + uint32_t(outRect.left) * w.colStepY + uint32_t(outRect.top) * w.rowStepY;
    const int cols = outRect.Width();
    const int rows = outRect.Height();
    for (int oy = 0; oy < rows; ++oy, rowX += w.rowStepX, rowY += w.rowStepY) {
        uint32_t x = rowX;
        uint32_t y = rowY;
        for (int ox = 0; ox < cols; ++ox, x += w.colStepX, y += w.colStepY)
            body(ox, oy, x, y);
    }
}

// Whether c x d x k of the colour store fits 32 bits: |c| is at most the larger green
// limit (and 65536), |d| at most 65535.
bool GreenFits32(int32_t low, int32_t high, int32_t k)
{
    const int64_t c = std::min<int64_t>(65536, std::max(std::abs(int64_t(low)), std::abs(int64_t(high))));
    return c * 65535 * std::max<int64_t>(1, std::abs(int64_t(k))) < (int64_t(1) << 31);
}

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// Clang ignores GCC's target pragma; it takes the target per function instead.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace wide
{

// Filter48Pairs with both tap pairs of a row at once, pixels 0 and 1 in the low half and
// 2 and 3 in the high, as [r g b -]. Each lane holds a part of the sums the narrow filter
// forms, so the same bounds hold; (h * 256 + l) >> 16 is (h >> 8) plus
// ((h & 255) * 256 + l) >> 16, whose parts fit 32 bits.
inline __m128i Filter48Vector(const FPixmap& source, uint32_t qx, uint32_t qy, const FSplitKernel& split)
{
    const int ix = int(qx >> 4);
    const int iy = int(qy >> 4);
    const int phase = int((qy & 15) * 16 + (qx & 15));
    __m256i hi = _mm256_setzero_si256();
    __m256i lo = _mm256_setzero_si256();
    for (int k = 0; k < 4; ++k) {
        // The four pixels are 24 bytes; both reads stay inside them.
        const uint8_t* p = source.GetRowAddress(iy - 1 + k) + ptrdiff_t(ix - 1) * 6;
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i second = _mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 4);
        const __m256i words = _mm256_set_m128i(second, first);
        const __m256i paired = _mm256_unpacklo_epi16(words, _mm256_srli_si256(words, 6));
        const uint32_t(*c)[8] = split.m_aColour[phase][k];
        hi = _mm256_add_epi32(
            hi, _mm256_madd_epi16(paired, _mm256_load_si256(reinterpret_cast<const __m256i*>(c[0]))));
        lo = _mm256_add_epi32(
            lo, _mm256_madd_epi16(paired, _mm256_load_si256(reinterpret_cast<const __m256i*>(c[1]))));
    }
    const __m128i h = _mm_add_epi32(_mm256_castsi256_si128(hi), _mm256_extracti128_si256(hi, 1));
    const __m128i l = _mm_add_epi32(_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1));
    const __m128i rest = _mm_add_epi32(_mm_slli_epi32(_mm_and_si128(h, _mm_set1_epi32(255)), 8), l);
    return _mm_add_epi32(_mm_srai_epi32(h, 8), _mm_srai_epi32(rest, 16));
}

// What CropSizeRotateMore's per-pixel store needs, for eight pixels at a time.
struct MoreStore {
    const int16_t* lut = nullptr;
    int32_t mask = 0;
    int32_t low = 0;
    int32_t high = 0;
    int32_t k = 0;
    uint8_t* colorBase = nullptr;
    ptrdiff_t colorStride = 0;
    uint8_t* lBase = nullptr;
    ptrdiff_t lStride = 0;
};

inline __m256i Lookup8(const int16_t* t, int32_t mask, __m256i index)
{
    alignas(32) int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), _mm256_and_si256(index, _mm256_set1_epi32(mask)));
    return _mm256_setr_epi32(t[at[0]], t[at[1]], t[at[2]], t[at[3]], t[at[4]], t[at[5]], t[at[6]], t[at[7]]);
}

// The store of n <= 8 pixels from column ox of row oy, in 32-bit lanes: the caller has
// checked that the green product fits them (GreenFits32), and the lightness sum of 16-bit
// samples always does.
inline void Store8(const MoreStore& s, int ox, int oy, int n, __m256i r, __m256i g, __m256i b)
{
    const __m256i lr = Lookup8(s.lut, s.mask, r);
    const __m256i lg = Lookup8(s.lut, s.mask, g);
    const __m256i lb = Lookup8(s.lut, s.mask, b);
    const __m256i d = _mm256_sub_epi32(lg, lr);
    const __m256i low = _mm256_set1_epi32(s.low);
    const __m256i high = _mm256_set1_epi32(s.high);
    // d < low gives low, else d > high gives high, else d; then held to +-65536.
    __m256i c = _mm256_blendv_epi8(d, high, _mm256_cmpgt_epi32(d, high));
    c = _mm256_blendv_epi8(c, low, _mm256_cmpgt_epi32(low, d));
    c = _mm256_min_epi32(_mm256_max_epi32(c, _mm256_set1_epi32(-65536)), _mm256_set1_epi32(65536));
    const __m256i green = _mm256_add_epi32(
        lg, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_mullo_epi32(c, d), _mm256_set1_epi32(s.k)), 14));
    __m256i l = _mm256_mullo_epi32(r, _mm256_set1_epi32(5734));
    l = _mm256_add_epi32(l, _mm256_mullo_epi32(g, _mm256_set1_epi32(9011)));
    l = _mm256_add_epi32(l, _mm256_mullo_epi32(b, _mm256_set1_epi32(1638)));
    l = _mm256_srai_epi32(_mm256_add_epi32(l, _mm256_set1_epi32(8192)), 14);
    const __m256i lv = Lookup8(s.lut, s.mask, l);
    uint8_t* color = s.colorBase + ptrdiff_t(oy) * s.colorStride + ptrdiff_t(ox) * 6;
    uint8_t* light = s.lBase + ptrdiff_t(oy) * s.lStride + ptrdiff_t(ox) * 2;
    if (n == 8) {
        // The low 16 bits of each value, interleaved R G B per pixel by byte shuffles: each
        // 128-bit half holds four pixels, 24 bytes written as 16 and 8.
        const __m256i words = _mm256_set1_epi32(0xFFFF);
        const __m256i rg = _mm256_packus_epi32(_mm256_and_si256(lr, words), _mm256_and_si256(green, words));
        const __m256i bz = _mm256_packus_epi32(_mm256_and_si256(lb, words), _mm256_setzero_si256());
        const char z = char(0x80);
        const __m256i m1 = _mm256_setr_epi8(0, 1, 8, 9, z, z, 2, 3, 10, 11, z, z, 4, 5, 12, 13, 0, 1, 8, 9, z,
                                            z, 2, 3, 10, 11, z, z, 4, 5, 12, 13);
        const __m256i m2 = _mm256_setr_epi8(z, z, z, z, 0, 1, z, z, z, z, 2, 3, z, z, z, z, z, z, z, z, 0, 1,
                                            z, z, z, z, 2, 3, z, z, z, z);
        const __m256i m3 = _mm256_setr_epi8(z, z, 6, 7, 14, 15, z, z, z, z, z, z, z, z, z, z, z, z, 6, 7, 14,
                                            15, z, z, z, z, z, z, z, z, z, z);
        const __m256i m4 = _mm256_setr_epi8(4, 5, z, z, z, z, 6, 7, z, z, z, z, z, z, z, z, 4, 5, z, z, z, z,
                                            6, 7, z, z, z, z, z, z, z, z);
        const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(rg, m1), _mm256_shuffle_epi8(bz, m2));
        const __m256i last = _mm256_or_si256(_mm256_shuffle_epi8(rg, m3), _mm256_shuffle_epi8(bz, m4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(color), _mm256_castsi256_si128(first));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(color + 16), _mm256_castsi256_si128(last));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(color + 24), _mm256_extracti128_si256(first, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(color + 40), _mm256_extracti128_si256(last, 1));
        const __m256i lw = _mm256_and_si256(lv, words);
        const __m256i lp = _mm256_permute4x64_epi64(_mm256_packus_epi32(lw, lw), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(light), _mm256_castsi256_si128(lp));
        return;
    }
    alignas(32) int32_t out[4][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(out[0]), lr);
    _mm256_store_si256(reinterpret_cast<__m256i*>(out[1]), green);
    _mm256_store_si256(reinterpret_cast<__m256i*>(out[2]), lb);
    _mm256_store_si256(reinterpret_cast<__m256i*>(out[3]), lv);
    for (int j = 0; j < n; ++j) {
        const uint16_t words[3] = {uint16_t(out[0][j]), uint16_t(out[1][j]), uint16_t(out[2][j])};
        std::memcpy(color + 6 * j, words, sizeof(words));
        const uint16_t lw = uint16_t(out[3][j]);
        std::memcpy(light + 2 * j, &lw, sizeof(lw));
    }
}

// The scaled walk of CropSizeRotateMore over the output rectangle, eight pixels at a time.
inline void ScaledMore(const Walk& w, const FRect& outRect, const FPixmap& image, const FSplitKernel& split,
                       const MoreStore& store)
{
    // A local view: the output stores cannot reach it, so its fields stay in registers.
    const FPixmap48SRGB source(image.GetBuffer(), image.GetCols(), image.GetRows(), image.GetStride());
    uint32_t rowX = w.originX + uint32_t(outRect.left) * w.colStepX + uint32_t(outRect.top) * w.rowStepX;
    uint32_t rowY = w.originY + uint32_t(outRect.left) * w.colStepY + uint32_t(outRect.top) * w.rowStepY;
    const int cols = outRect.Width();
    const int rows = outRect.Height();
    __m128i pixel[8];
    const __m128i fill = _mm_setr_epi32(kFillMore, 0, 0, 0);
    const __m256i bottom = _mm256_set1_epi32(INT16_MIN);
    const __m256i top = _mm256_set1_epi32(INT16_MAX);
    for (int oy = 0; oy < rows; ++oy, rowX += w.rowStepX, rowY += w.rowStepY) {
        uint32_t x = rowX;
        uint32_t y = rowY;
        for (int ox = 0; ox < cols; ox += 8) {
            const int n = std::min(8, cols - ox);
            for (int j = 0; j < n; ++j, x += w.colStepX, y += w.colStepY) {
                const uint32_t qx = x >> 12;
                const uint32_t qy = y >> 12;
                pixel[j] = Inside(qx, qy, source) ? Filter48Vector(source, qx, qy, split) : fill;
            }
            for (int j = n; j < 8; ++j)
                pixel[j] = _mm_setzero_si128();
            // Eight [r g b -] into r, g and b of eight pixels; the fill is inside 16 bits, so
            // holding everything to them leaves it as it is.
            const __m256i a0 = _mm256_set_m128i(pixel[4], pixel[0]);
            const __m256i a1 = _mm256_set_m128i(pixel[5], pixel[1]);
            const __m256i a2 = _mm256_set_m128i(pixel[6], pixel[2]);
            const __m256i a3 = _mm256_set_m128i(pixel[7], pixel[3]);
            const __m256i t0 = _mm256_unpacklo_epi32(a0, a1);
            const __m256i t1 = _mm256_unpacklo_epi32(a2, a3);
            const __m256i t2 = _mm256_unpackhi_epi32(a0, a1);
            const __m256i t3 = _mm256_unpackhi_epi32(a2, a3);
            const auto hold = [&](__m256i v) { return _mm256_min_epi32(_mm256_max_epi32(v, bottom), top); };
            Store8(store, ox, oy, n, hold(_mm256_unpacklo_epi64(t0, t1)), hold(_mm256_unpackhi_epi64(t0, t1)),
                   hold(_mm256_unpacklo_epi64(t2, t3)));
        }
    }
}

// FilterMonoPairs with two tap rows in each multiply-add, before its lanes meet: each lane
// holds a part of the hi or lo sum.
inline __m128i FilterMonoLanes(const FPixmap& source, uint32_t qx, uint32_t qy, const FSplitKernel& split)
{
    const int ix = int(qx >> 4);
    const int iy = int(qy >> 4);
    const int phase = int((qy & 15) * 16 + (qx & 15));
    __m256i sum = _mm256_setzero_si256();
    for (int k = 0; k < 4; k += 2) {
        const uint8_t* p0 = source.GetRowAddress(iy - 1 + k) + ptrdiff_t(ix - 1) * 2;
        const uint8_t* p1 = source.GetRowAddress(iy + k) + ptrdiff_t(ix - 1) * 2;
        const __m128i both = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0)),
                                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1)));
        const __m256i taps = _mm256_permute4x64_epi64(_mm256_castsi128_si256(both), 0x50);
        const __m256i coef = _mm256_load_si256(reinterpret_cast<const __m256i*>(split.m_aMono[phase][k / 2]));
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(taps, coef));
    }
    return _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
}

// The scaled walk of CropSizeRotateMono, eight pixels at a time. Each pixel's lanes
// [hi, hi, lo, lo] are parts of its hi and lo sums, so each pair adds within 32 bits, and
// (h * 256 + l) >> 16 is formed as for the colour image.
inline void ScaledMono(const Walk& w, const FRect& outRect, const FPixmap& image, const FSplitKernel& split,
                       uint8_t* base, ptrdiff_t stride)
{
    const FPixmap16SMono source(image.GetBuffer(), image.GetCols(), image.GetRows(), image.GetStride());
    uint32_t rowX = w.originX + uint32_t(outRect.left) * w.colStepX + uint32_t(outRect.top) * w.rowStepX;
    uint32_t rowY = w.originY + uint32_t(outRect.left) * w.colStepY + uint32_t(outRect.top) * w.rowStepY;
    const int cols = outRect.Width();
    const int rows = outRect.Height();
    // Lanes that give the fill: h = fill x 256, l = 0.
    const __m128i fill = _mm_setr_epi32(kFillMono * 256, 0, 0, 0);
    const __m256i bottom = _mm256_set1_epi32(INT16_MIN);
    const __m256i top = _mm256_set1_epi32(INT16_MAX);
    __m128i pixel[8];
    for (int oy = 0; oy < rows; ++oy, rowX += w.rowStepX, rowY += w.rowStepY) {
        uint32_t x = rowX;
        uint32_t y = rowY;
        uint8_t* row = base + ptrdiff_t(oy) * stride;
        for (int ox = 0; ox < cols; ox += 8) {
            const int n = std::min(8, cols - ox);
            for (int j = 0; j < n; ++j, x += w.colStepX, y += w.colStepY) {
                const uint32_t qx = x >> 12;
                const uint32_t qy = y >> 12;
                pixel[j] = Inside(qx, qy, source) ? FilterMonoLanes(source, qx, qy, split) : fill;
            }
            for (int j = n; j < 8; ++j)
                pixel[j] = _mm_setzero_si128();
            // [h0 l0 h1 l1 | h4 l4 h5 l5] and [h2 l2 h3 l3 | h6 l6 h7 l7], then h and l apart.
            const __m256i x01 =
                _mm256_hadd_epi32(_mm256_set_m128i(pixel[4], pixel[0]), _mm256_set_m128i(pixel[5], pixel[1]));
            const __m256i x23 =
                _mm256_hadd_epi32(_mm256_set_m128i(pixel[6], pixel[2]), _mm256_set_m128i(pixel[7], pixel[3]));
            const __m256i h = _mm256_castps_si256(_mm256_shuffle_ps(
                _mm256_castsi256_ps(x01), _mm256_castsi256_ps(x23), _MM_SHUFFLE(2, 0, 2, 0)));
            const __m256i l = _mm256_castps_si256(_mm256_shuffle_ps(
                _mm256_castsi256_ps(x01), _mm256_castsi256_ps(x23), _MM_SHUFFLE(3, 1, 3, 1)));
            const __m256i rest =
                _mm256_add_epi32(_mm256_slli_epi32(_mm256_and_si256(h, _mm256_set1_epi32(255)), 8), l);
            __m256i v = _mm256_add_epi32(_mm256_srai_epi32(h, 8), _mm256_srai_epi32(rest, 16));
            v = _mm256_min_epi32(_mm256_max_epi32(v, bottom), top);
            const __m128i words =
                _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi32(v, v), 0x08));
            if (n == 8) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(row + ptrdiff_t(ox) * 2), words);
            } else {
                alignas(16) int16_t part[8];
                _mm_store_si128(reinterpret_cast<__m128i*>(part), words);
                std::memcpy(row + ptrdiff_t(ox) * 2, part, size_t(n) * 2);
            }
        }
    }
}

} // namespace wide
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

} // namespace

struct FResampleKernelCache::Entry {
    double sx;
    double sy;
    Kernel table;
    std::unique_ptr<FSplitKernel> split;
};

FResampleKernelCache::FResampleKernelCache() = default;
FResampleKernelCache::~FResampleKernelCache() = default;

const FResampleKernelCache::Entry& FResampleKernelCache::For(double sx, double sy)
{
    const std::lock_guard<std::mutex> lock(m_Mutex);
    for (const std::unique_ptr<Entry>& entry : m_Entries)
        if (entry->sx == sx && entry->sy == sy)
            return *entry;
    auto entry = std::make_unique<Entry>();
    entry->sx = sx;
    entry->sy = sy;
    entry->table = KernelFor(sx, sy);
    entry->split = SplitKernel(*entry->table);
    m_Entries.push_back(std::move(entry));
    return *m_Entries.back();
}

int FResampleKernelCache::GetBuildCount()
{
    const std::lock_guard<std::mutex> lock(m_Mutex);
    return int(m_Entries.size());
}

std::unique_ptr<FResampleKernel> BuildResampleKernel(double sx, double sy)
{
    CheckScales(sx, sy, "BuildResampleKernel");
    const double d = (sx + sy) / 2.0;
    const double c = std::min({0.43 * (d + 1.0), 0.88, 0.86 * d});
    const double w = std::min(std::sqrt(std::sqrt(d)), 0.88);
    const double q = std::clamp(1.6 * d, 0.7, 1.6);
    auto table = std::make_unique<FResampleKernel>();
    for (int i = 0; i < 16; ++i) {
        const double fy = (15.5 - i) / 16.0;
        for (int j = 0; j < 16; ++j) {
            const double fx = (15.5 - j) / 16.0;
            double values[16];
            for (int k = 0; k < 4; ++k) {
                for (int n = 0; n < 4; ++n) {
                    const double dy = k - 2 + fy;
                    const double dx = n - 2 + fx;
                    const double t = kPi * std::sqrt(dx * dx + dy * dy);
                    values[k * 4 + n] = WindowedSinc(t, c, w, q);
                }
            }
            Normalise(values, table->m_aCoef + (i * 16 + j) * 16);
        }
    }
    return table;
}

std::unique_ptr<FResampleKernel> BuildResampleKernelSeparable(double sx, double sy)
{
    CheckScales(sx, sy, "BuildResampleKernelSeparable");
    if (sx >= sy) {
        sy = std::min(sy, 0.8);
        sx = std::min(sx, 1.1);
    } else {
        sx = std::min(sx, 0.8);
        sy = std::min(sy, 1.1);
    }
    const AxisParams h = SeparableAxis(sx);
    const AxisParams v = SeparableAxis(sy);
    auto table = std::make_unique<FResampleKernel>();
    for (int i = 0; i < 16; ++i) {
        const double fy = (15.5 - i) / 16.0;
        for (int j = 0; j < 16; ++j) {
            const double fx = (15.5 - j) / 16.0;
            double values[16];
            for (int k = 0; k < 4; ++k) {
                const double gy = WindowedSinc(kPi * (k - 2 + fy), v.c, v.w, v.q);
                for (int n = 0; n < 4; ++n)
                    values[k * 4 + n] = gy * WindowedSinc(kPi * (n - 2 + fx), h.c, h.w, h.q);
            }
            Normalise(values, table->m_aCoef + (i * 16 + j) * 16);
        }
    }
    return table;
}

void ResamplePixel48(const FPixmap& source, FIntRGB& out, const FIntRGB& x, const FIntRGB& y,
                     const FResampleKernel& table)
{
    CheckPixelSize(source, 6, "ResamplePixel48", "the source does not have 6-byte pixels.");
    const int32_t xs[3] = {x.r, x.g, x.b};
    const int32_t ys[3] = {y.r, y.g, y.b};
    int32_t result[3];
    for (int i = 0; i < 3; ++i) {
        if (xs[i] < 0 || ys[i] < 0 || !Inside(uint32_t(xs[i]), uint32_t(ys[i]), source))
            Fail("ResamplePixel48", "the position is too near the source's edge.");
        result[i] = Filter16(source, uint32_t(xs[i]), uint32_t(ys[i]), 6, 2 * i, table);
    }
    out.Set(result[0], result[1], result[2]);
}

void ResamplePixelMono(const FPixmap& source, int& out, int x, int y, const FResampleKernel& table)
{
    CheckPixelSize(source, 2, "ResamplePixelMono", "the source does not have 2-byte pixels.");
    if (x < 0 || y < 0 || !Inside(uint32_t(x), uint32_t(y), source))
        Fail("ResamplePixelMono", "the position is too near the source's edge.");
    out = Filter16(source, uint32_t(x), uint32_t(y), 2, 0, table);
}

void ResamplePixel32(const FPixmap& source, FIntRGB& out, int x, int y, const FResampleKernel& table)
{
    CheckPixelSize(source, 4, "ResamplePixel32", "the source does not have 4-byte pixels.");
    if (x < 0 || y < 0 || !Inside(uint32_t(x), uint32_t(y), source))
        Fail("ResamplePixel32", "the position is too near the source's edge.");
    uint8_t bytes[4];
    Filter32(source, uint32_t(x), uint32_t(y), table, bytes);
    out.Set(bytes[2], bytes[1], bytes[0]);
}

double CropSizeRotateMore(const FPixmap& source, const FRect& crop, int refWidth, int /*refHeight*/,
                          int outCols, int outRows, const FRect& outRect, unsigned rotation, const FLUT& lut,
                          FPixmap& colorOut, FPixmap& lOut, double greenWeight, int greenHigh, int greenLow,
                          FResampleKernelCache* kernels)
{
    static const char kWhere[] = "CropSizeRotateMore";
    const unsigned rot = CheckRotation(rotation, kWhere);
    CheckPixelSize(source, 6, kWhere, "the source does not have 6-byte pixels.");
    CheckPixelSize(colorOut, 6, kWhere, "the colour output does not have 6-byte pixels.");
    CheckPixelSize(lOut, 2, kWhere, "the L output does not have 2-byte pixels.");
    if (lut.m_pData == nullptr || lut.m_iMask < 0)
        Fail(kWhere, "the lookup table is empty.");
    const FPixmap* outs[] = {&colorOut, &lOut};
    const bool empty = CheckOutput(outCols, outRows, outRect, outs, 2, kWhere);
    const CropPlan plan = PlanCrop(source, crop, outCols, outRows, rot, kWhere);
    if (!plan.exact && refWidth <= 0)
        Fail(kWhere, "the reference width is not positive.");
    const double result =
        plan.exact ? 1.0 : double(IsQuarterTurn(rot) ? outRows : outCols) / double(refWidth);
    if (empty)
        return result;

    // |c x d| stays below 2^34 and |k| below 2^28, so the product fits 64 bits.
    const int32_t k = std::clamp(SaturatedTrunc(greenWeight * 16384.0), -(1 << 28), 1 << 28);
    // Copies in locals: the stores below may alias anything reached through a reference.
    const int16_t* const lutData = lut.m_pData;
    const int32_t lutMask = lut.m_iMask;
    uint8_t* const colorBase = colorOut.GetBuffer();
    const ptrdiff_t colorStride = colorOut.GetStride();
    uint8_t* const lBase = lOut.GetBuffer();
    const ptrdiff_t lStride = lOut.GetStride();
    const int32_t low = greenLow;
    const int32_t high = greenHigh;
    auto emit = [=](int ox, int oy, int32_t r, int32_t g, int32_t b) {
        const int32_t lr = lutData[r & lutMask];
        const int32_t lg = lutData[g & lutMask];
        const int32_t lb = lutData[b & lutMask];
        const int32_t d = lg - lr;
        const int64_t c = std::clamp<int64_t>(d < low ? low : (d > high ? high : d), -65536, 65536);
        const int64_t green = int64_t(lg) + ((c * d * k) >> 14);
        uint8_t* px = colorBase + ptrdiff_t(oy) * colorStride + ptrdiff_t(ox) * 6;
        const uint16_t words[3] = {uint16_t(lr), uint16_t(green), uint16_t(lb)};
        std::memcpy(px, words, sizeof(words));
        const int64_t l = (5734 * int64_t(r) + 9011 * int64_t(g) + 1638 * int64_t(b) + 8192) >> 14;
        const uint16_t lv = uint16_t(lutData[int32_t(l & 0xFFFFFFFF) & lutMask]);
        std::memcpy(lBase + ptrdiff_t(oy) * lStride + ptrdiff_t(ox) * 2, &lv, sizeof(lv));
    };

    if (plan.sx == 1.0 && plan.sy == 1.0) {
        WalkOutput(plan.walk, outRect, [&](int ox, int oy, uint32_t x, uint32_t y) {
            if (!InsideSource(x, y, source)) {
                emit(ox, oy, kFillMore, 0, 0);
                return;
            }
            const uint8_t* p = SourcePixel(source, x, y, 6);
            emit(ox, oy, Load16s(p), Load16s(p + 2), Load16s(p + 4));
        });
        return result;
    }
    FResampleKernelCache local;
    const FResampleKernelCache::Entry& kernel = (kernels != nullptr ? *kernels : local).For(plan.sx, plan.sy);
    const FResampleKernel* table = kernel.table.get();
    const FSplitKernel* split = kernel.split.get();
    if (split->m_bUsable && HasAvx2() && GreenFits32(greenLow, greenHigh, k)) {
        const wide::MoreStore store{lutData, lutMask, low, high, k, colorBase, colorStride, lBase, lStride};
        wide::ScaledMore(plan.walk, outRect, source, *split, store);
        return result;
    }
    WalkOutput(plan.walk, outRect, [&](int ox, int oy, uint32_t x, uint32_t y) {
        const uint32_t qx = x >> 12;
        const uint32_t qy = y >> 12;
        if (!Inside(qx, qy, source)) {
            emit(ox, oy, kFillMore, 0, 0);
            return;
        }
        // Overshoot past the 16-bit range saturates: wrapped, a bright edge turns black.
        int32_t rgb[3];
        if (split->m_bUsable) {
            Filter48Pairs(source, qx, qy, *split, rgb);
        } else {
            for (int c = 0; c < 3; ++c)
                rgb[c] = Filter16(source, qx, qy, 6, 2 * c, *table);
        }
        emit(ox, oy, Saturated16(rgb[0]), Saturated16(rgb[1]), Saturated16(rgb[2]));
    });
    return result;
}

void CropSizeRotateMono(const FPixmap& source, const FRect& crop, int /*refWidth*/, int /*refHeight*/,
                        int outCols, int outRows, const FRect& outRect, unsigned rotation, FPixmap& out,
                        FResampleKernelCache* kernels)
{
    static const char kWhere[] = "CropSizeRotateMono";
    const unsigned rot = CheckRotation(rotation, kWhere);
    CheckPixelSize(source, 2, kWhere, "the source does not have 2-byte pixels.");
    CheckPixelSize(out, 2, kWhere, "the output does not have 2-byte pixels.");
    const FPixmap* outs[] = {&out};
    const bool empty = CheckOutput(outCols, outRows, outRect, outs, 1, kWhere);
    const CropPlan plan = PlanCrop(source, crop, outCols, outRows, rot, kWhere);
    if (empty)
        return;

    auto store = [&](int ox, int oy, int32_t v) {
        const uint16_t w = uint16_t(v);
        std::memcpy(out.GetRowAddress(oy) + ptrdiff_t(ox) * 2, &w, sizeof(w));
    };
    if (plan.exact && plan.rot == 0) {
        // The walk steps whole source pixels along the rows: each output row is a run of one.
        const int64_t x0 = int64_t(crop.left) + outRect.left;
        const int64_t y0 = int64_t(crop.top) + outRect.top;
        if (x0 + outRect.Width() <= source.GetCols() && y0 + outRect.Height() <= source.GetRows()) {
            for (int oy = 0; oy < outRect.Height(); ++oy)
                std::memmove(out.GetRowAddress(oy), source.GetRowAddress(int(y0 + oy)) + x0 * 2,
                             size_t(outRect.Width()) * 2);
            return;
        }
    }
    if (plan.exact) {
        WalkOutput(plan.walk, outRect, [&](int ox, int oy, uint32_t x, uint32_t y) {
            store(ox, oy, InsideSource(x, y, source) ? Load16s(SourcePixel(source, x, y, 2)) : kFillMono);
        });
        return;
    }
    FResampleKernelCache local;
    const FResampleKernelCache::Entry& kernel = (kernels != nullptr ? *kernels : local).For(plan.sx, plan.sy);
    const FResampleKernel* table = kernel.table.get();
    const FSplitKernel* split = kernel.split.get();
    if (split->m_bUsable && HasAvx2()) {
        wide::ScaledMono(plan.walk, outRect, source, *split, out.GetBuffer(), out.GetStride());
        return;
    }
    WalkOutput(plan.walk, outRect, [&](int ox, int oy, uint32_t x, uint32_t y) {
        const uint32_t qx = x >> 12;
        const uint32_t qy = y >> 12;
        if (!Inside(qx, qy, source)) {
            store(ox, oy, kFillMono);
            return;
        }
        store(ox, oy,
              Saturated16(split->m_bUsable ? FilterMonoPairs(source, qx, qy, *split)
                                           : Filter16(source, qx, qy, 2, 0, *table)));
    });
}

void CropSizeRotate(const FPixmap& source, FPixmap& out, int outCols, int outRows, const FRect& outRect,
                    unsigned rotation)
{
    static const char kWhere[] = "CropSizeRotate";
    const unsigned rot = CheckRotation(rotation, kWhere);
    CheckPixelSize(source, 4, kWhere, "the source does not have 4-byte pixels.");
    CheckPixelSize(out, 4, kWhere, "the output does not have 4-byte pixels.");
    const int32_t ws = source.GetCols();
    const int32_t hs = source.GetRows();
    if (ws < 1 || hs < 1 || ws > kMaxPositionPixels || hs > kMaxPositionPixels)
        Fail(kWhere, "the source image is empty or too large.");
    const FPixmap* outs[] = {&out};
    if (CheckOutput(outCols, outRows, outRect, outs, 1, kWhere))
        return;

    const double s = double(IsQuarterTurn(rot) ? outRows : outCols) / double(ws);
    const int32_t f = StepFor(65536.0 / s + 0.5, kWhere);
    const Walk walk = MakeWalk(rot, 0, 0, ws, hs, f, f, 0);
    static const uint8_t kFill[4] = {0, 0, 255, 255};
    auto target = [&](int ox, int oy) { return out.GetRowAddress(oy) + ptrdiff_t(ox) * 4; };

    if (s == 1.0) {
        WalkOutput(walk, outRect, [&](int ox, int oy, uint32_t x, uint32_t y) {
            std::memcpy(target(ox, oy), InsideSource(x, y, source) ? SourcePixel(source, x, y, 4) : kFill, 4);
        });
        return;
    }
    const Kernel table = BuildResampleKernel(s, s);
    const std::unique_ptr<FSplitKernel> split = SplitKernel(*table);
    const bool pairs = split->m_bUsable && Fits32BitSums(*table);
    WalkOutput(walk, outRect, [&](int ox, int oy, uint32_t x, uint32_t y) {
        const uint32_t qx = (x + 0x800) >> 12;
        const uint32_t qy = (y + 0x800) >> 12;
        if (!Inside(qx, qy, source)) {
            std::memcpy(target(ox, oy), kFill, 4);
            return;
        }
        if (pairs)
            Filter32Pairs(source, qx, qy, *split, target(ox, oy));
        else
            Filter32(source, qx, qy, *table, target(ox, oy));
    });
}
