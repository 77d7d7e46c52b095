#include "ChromaBlur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include <immintrin.h>

#include "FGlobalLUTsClass.h"
#include "RunInRowBands.h"

namespace
{

// Offsets are strengths derived from camera data; 0 would divide by zero, and beyond this
// bound the 64-bit brightness products could overflow.
constexpr int64_t kMaxOffset = int64_t{1} << 20;

inline int64_t BoundedOffset(int64_t offset)
{
    return std::clamp<int64_t>(offset, 1, kMaxOffset);
}

inline int16_t Store16(int64_t v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v)));
}

inline int16_t Saturate16(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
}

// Pulls pixel p toward target q through the soft-limit table, removing the mean of the
// change so that the channel sum is kept.
inline void CorrectToward(int16_t* p, const int64_t q[3], const FColorLUT& table, uint32_t sumShift)
{
    const int64_t limit = table.m_iSize / 2 - 1;
    const int16_t* lut[3] = {table.m_pRedData, table.m_pGreenData, table.m_pBlueData};
    int32_t d[3];
    for (int c = 0; c < 3; ++c) {
        const int64_t diff = std::clamp<int64_t>(q[c] - p[c], -limit, limit);
        d[c] = lut[c][static_cast<int32_t>(diff) & table.m_iMask];
    }
    const int32_t t = (d[0] + d[1] + d[2]) >> (sumShift & 31);
    for (int c = 0; c < 3; ++c)
        p[c] = Store16(static_cast<int64_t>(p[c]) + d[c] - t);
}

// The target q scaled to the brightness of pixel p. 64-bit products: the 32-bit ones
// overflow for bright pixels and bend the tone scale.
inline void MatchBrightness(int64_t q[3], const int16_t* p, const int64_t target[3], int64_t oP, int64_t oQ)
{
    const int64_t sP = static_cast<int64_t>(p[0]) + p[1] + p[2] + oP;
    if (sP < 0) {
        q[0] = q[1] = q[2] = 0;
        return;
    }
    const int64_t sQ = target[0] + target[1] + target[2] + oQ;
    const int64_t f = sQ > oQ ? (sP * 65536) / sQ : sP * (65536 / oQ);
    for (int c = 0; c < 3; ++c)
        q[c] = (target[c] * f + 32768) >> 16;
}

int32_t RoundedWeight(double v)
{
    return static_cast<int32_t>(std::trunc(256.0 * v + 0.5));
}

// exp(-1 / t) for the recursive filters; a time constant of 0 or less stops the smoothing.
double Decay(double numerator, double t)
{
    if (!(t > 0.0) || !std::isfinite(t))
        return 0.0;
    return std::exp(-numerator / t);
}

} // namespace

namespace
{

// ---- Brightness match and soft-limit pull of whole rows, two pixels per step ----
//
// For pixel i, with planar channels p (the pixel) and t (the target): sP = p0 + p1 + p2 + oP,
// sQ = t0 + t1 + t2 + oQ, f = sP * 65536 / sQ when sQ > oQ, else sP * (65536 / oQ), and
// 0 when sP < 0; q = (t * f + 32768) >> 16. Each channel's table index is
// clamp(q - p, -limit, limit) & mask. In doubles every step is exact for the callers'
// ranges (|p| <= 2^15, |t * f| < 2^53, oP <= 2^20): the quotient is below 2^37 over an
// integer divisor, so its rounding never crosses an integer, and the rest are sums and
// products of integers below 2^53 and scalings by powers of two.
struct PullRanges {
    int64_t oP;
    int64_t oQ;
    int32_t limit;
    int32_t mask;
};

// Pixels and targets in planes of 32-bit samples.
struct PlanarSource {
    const int32_t *p0, *p1, *p2;
    const int32_t *t0, *t1, *t2;

    static __m128d Load(const int32_t* a)
    {
        return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)));
    }
    void Pair(size_t i, __m128d out[6]) const
    {
        out[0] = Load(p0 + i);
        out[1] = Load(p1 + i);
        out[2] = Load(p2 + i);
        out[3] = Load(t0 + i);
        out[4] = Load(t1 + i);
        out[5] = Load(t2 + i);
    }
    int64_t P(size_t i, int c) const { return (c == 0 ? p0 : c == 1 ? p1 : p2)[i]; }
    int64_t T(size_t i, int c) const { return (c == 0 ? t0 : c == 1 ? t1 : t2)[i]; }
};

// Pixels as interleaved 16-bit triples, targets as interleaved 16-bit states shifted down
// by 4.
struct TripleSource {
    const int16_t* p;
    const int16_t* state;

    // The R, G, B pairs of pixels i and i + 1, 32-bit, from their twelve bytes; `shift` is
    // 16 plus the samples' own shift.
    static void Pairs(const int16_t* triples, size_t i, int shift, __m128d out[3])
    {
        uint32_t tail;
        std::memcpy(&tail, triples + 3 * i + 4, sizeof(tail));
        const __m128i words =
            _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(triples + 3 * i)),
                               _mm_cvtsi32_si128(static_cast<int32_t>(tail)));
        const __m128i count = _mm_cvtsi32_si128(shift);
        const __m128i lo = _mm_sra_epi32(_mm_unpacklo_epi16(words, words), count); // R0 G0 B0 R1
        const __m128i hi = _mm_sra_epi32(_mm_unpackhi_epi16(words, words), count); // G1 B1
        out[0] = _mm_cvtepi32_pd(_mm_shuffle_epi32(lo, _MM_SHUFFLE(3, 3, 3, 0)));
        out[1] = _mm_cvtepi32_pd(_mm_unpacklo_epi32(_mm_srli_si128(lo, 4), hi));
        out[2] = _mm_cvtepi32_pd(_mm_unpacklo_epi32(_mm_srli_si128(lo, 8), _mm_srli_si128(hi, 4)));
    }
    void Pair(size_t i, __m128d out[6]) const
    {
        Pairs(p, i, 16, out);
        Pairs(state, i, 20, out + 3);
    }
    int64_t P(size_t i, int c) const { return p[3 * i + c]; }
    int64_t T(size_t i, int c) const { return state[3 * i + c] >> 4; }
};

// Pixels as interleaved 16-bit triples, targets as interleaved 32-bit sums.
struct TripleBoxSource {
    const int16_t* p;
    const int32_t* box;

    void Pair(size_t i, __m128d out[6]) const
    {
        TripleSource::Pairs(p, i, 16, out);
        const int32_t* b = box + 3 * i;
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));     // R0 G0 B0 R1
        const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + 4)); // G1 B1
        out[3] = _mm_cvtepi32_pd(_mm_shuffle_epi32(lo, _MM_SHUFFLE(3, 3, 3, 0)));
        out[4] = _mm_cvtepi32_pd(_mm_unpacklo_epi32(_mm_srli_si128(lo, 4), hi));
        out[5] = _mm_cvtepi32_pd(_mm_unpacklo_epi32(_mm_srli_si128(lo, 8), _mm_srli_si128(hi, 4)));
    }
    int64_t P(size_t i, int c) const { return p[3 * i + c]; }
    int64_t T(size_t i, int c) const { return box[3 * i + c]; }
};

// Each pixel moved by its channels' table entries at `index`, less their mean.
void ApplyPull(int16_t* row, size_t n, const FColorLUT& table, uint32_t sumShift,
               const int32_t* const index[3])
{
    const int16_t* const lutR = table.m_pRedData;
    const int16_t* const lutG = table.m_pGreenData;
    const int16_t* const lutB = table.m_pBlueData;
    const int32_t* const i0 = index[0];
    const int32_t* const i1 = index[1];
    const int32_t* const i2 = index[2];
    const int shift = sumShift & 31;
    for (size_t x = 0; x < n; ++x) {
        const int32_t d0 = lutR[i0[x]];
        const int32_t d1 = lutG[i1[x]];
        const int32_t d2 = lutB[i2[x]];
        const int32_t t = (d0 + d1 + d2) >> shift;
        int16_t* px = row + 3 * x;
        px[0] = static_cast<int16_t>(static_cast<uint16_t>(px[0] + d0 - t));
        px[1] = static_cast<int16_t>(static_cast<uint16_t>(px[1] + d1 - t));
        px[2] = static_cast<int16_t>(static_cast<uint16_t>(px[2] + d2 - t));
    }
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
// The vector loop of PullIndices four pixels at a time in AVX2 registers, for tables that
// take the lifted path: the same operations on every pixel, so the same indices. Returns
// the pixels done.
template <class Source>
size_t PullIndicesWide(const Source& source, size_t n, const PullRanges& r, int32_t* const out[3])
{
    const __m256d oP = _mm256_set1_pd(static_cast<double>(r.oP));
    const __m256d oQ = _mm256_set1_pd(static_cast<double>(r.oQ));
    const __m256d flat = _mm256_set1_pd(static_cast<double>(65536 / r.oQ));
    const __m256d scale = _mm256_set1_pd(65536.0);
    const __m256d unscale = _mm256_set1_pd(1.0 / 65536.0);
    const __m256d half = _mm256_set1_pd(32768.0);
    const __m256d big = _mm256_set1_pd(4503599627370496.0); // 2^52
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d lo = _mm256_set1_pd(-static_cast<double>(r.limit));
    const __m256d hi = _mm256_set1_pd(static_cast<double>(r.limit));
    const __m128i mask = _mm_set1_epi32(r.mask);
    const __m256d lift = _mm256_set1_pd(double(int32_t(1) << 20));
    auto channel = [&](__m256d t, __m256d p, __m256d f) {
        const __m256d q = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(t, f), half), unscale);
        const __m256d d = _mm256_min_pd(_mm256_max_pd(_mm256_sub_pd(q, p), lo), hi);
        return _mm_and_si128(_mm256_cvttpd_epi32(_mm256_add_pd(d, lift)), mask);
    };
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        __m256d p0, p1, p2, t0, t1, t2;
        if constexpr (std::is_same_v<Source, PlanarSource>) {
            auto load = [i](const int32_t* a) {
                return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)));
            };
            p0 = load(source.p0);
            p1 = load(source.p1);
            p2 = load(source.p2);
            t0 = load(source.t0);
            t1 = load(source.t1);
            t2 = load(source.t2);
        } else {
            __m128d a[6], b[6];
            source.Pair(i, a);
            source.Pair(i + 2, b);
            // Written out: a loop here keeps the six vectors in memory.
            p0 = _mm256_set_m128d(b[0], a[0]);
            p1 = _mm256_set_m128d(b[1], a[1]);
            p2 = _mm256_set_m128d(b[2], a[2]);
            t0 = _mm256_set_m128d(b[3], a[3]);
            t1 = _mm256_set_m128d(b[4], a[4]);
            t2 = _mm256_set_m128d(b[5], a[5]);
        }
        const __m256d sP = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(p0, p1), p2), oP);
        const __m256d sQ = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(t0, t1), t2), oQ);
        const __m256d quotient = _mm256_div_pd(_mm256_mul_pd(sP, scale), _mm256_max_pd(sQ, one));
        const __m256d rounded = _mm256_sub_pd(_mm256_add_pd(quotient, big), big);
        const __m256d down =
            _mm256_sub_pd(rounded, _mm256_and_pd(_mm256_cmp_pd(rounded, quotient, _CMP_GT_OQ), one));
        const __m256d steep = _mm256_cmp_pd(sQ, oQ, _CMP_GT_OQ);
        __m256d f = _mm256_blendv_pd(_mm256_mul_pd(sP, flat), down, steep);
        f = _mm256_and_pd(f, _mm256_cmp_pd(sP, zero, _CMP_GE_OQ));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[0] + i), channel(t0, p0, f));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[1] + i), channel(t1, p1, f));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[2] + i), channel(t2, p2, f));
    }
    return i;
}
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

template <class Source>
void PullIndices(const Source& from, size_t n, const PullRanges& r, int32_t* const index[3])
{
    const Source source = from; // a copy the stores cannot touch
    const __m128d oP = _mm_set1_pd(static_cast<double>(r.oP));
    const __m128d oQ = _mm_set1_pd(static_cast<double>(r.oQ));
    const __m128d flat = _mm_set1_pd(static_cast<double>(65536 / r.oQ));
    const __m128d scale = _mm_set1_pd(65536.0);
    const __m128d unscale = _mm_set1_pd(1.0 / 65536.0);
    const __m128d half = _mm_set1_pd(32768.0);
    const __m128d big = _mm_set1_pd(4503599627370496.0); // 2^52
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d zero = _mm_setzero_pd();
    const __m128d lo = _mm_set1_pd(-static_cast<double>(r.limit));
    const __m128d hi = _mm_set1_pd(static_cast<double>(r.limit));
    const __m128i mask = _mm_set1_epi32(r.mask);
    constexpr int32_t kLift = int32_t(1) << 20;
    const bool lifted = r.mask >= 0 && r.mask < kLift && r.limit < kLift;
    const __m128d lift = _mm_set1_pd(double(kLift));
    // Index pointers held apart from the array, which the stores could otherwise touch.
    int32_t* const out[3] = {index[0], index[1], index[2]};
    // Lifted above 0, truncation is the floor; the lift is a power of two above the mask,
    // so the masked index does not see it. Tables too large for that take the exact
    // integer steps below for every pixel.
    auto channel = [&](__m128d t, __m128d p, __m128d f) {
        const __m128d q = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(t, f), half), unscale);
        const __m128d d = _mm_min_pd(_mm_max_pd(_mm_sub_pd(q, p), lo), hi);
        return _mm_and_si128(_mm_cvttpd_epi32(_mm_add_pd(d, lift)), mask);
    };
    size_t i = lifted && HasAvx2() ? PullIndicesWide(source, n, r, out) : 0;
    for (; lifted && i + 2 <= n; i += 2) {
        __m128d v[6];
        source.Pair(i, v);
        const __m128d p0 = v[0], p1 = v[1], p2 = v[2];
        const __m128d t0 = v[3], t1 = v[4], t2 = v[5];
        const __m128d sP = _mm_add_pd(_mm_add_pd(_mm_add_pd(p0, p1), p2), oP);
        const __m128d sQ = _mm_add_pd(_mm_add_pd(_mm_add_pd(t0, t1), t2), oQ);
        // sQ may be 0 or negative on the flat side; the quotient is then not used.
        const __m128d quotient = _mm_div_pd(_mm_mul_pd(sP, scale), _mm_max_pd(sQ, one));
        const __m128d rounded = _mm_sub_pd(_mm_add_pd(quotient, big), big);
        const __m128d down = _mm_sub_pd(rounded, _mm_and_pd(_mm_cmpgt_pd(rounded, quotient), one));
        const __m128d steep = _mm_cmpgt_pd(sQ, oQ);
        __m128d f = _mm_or_pd(_mm_and_pd(steep, down), _mm_andnot_pd(steep, _mm_mul_pd(sP, flat)));
        f = _mm_and_pd(f, _mm_cmpge_pd(sP, zero));
        const __m128i i0 = channel(t0, p0, f);
        const __m128i i1 = channel(t1, p1, f);
        const __m128i i2 = channel(t2, p2, f);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[0] + i), i0);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[1] + i), i1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[2] + i), i2);
    }
    for (; i < n; ++i) {
        const int64_t sP = source.P(i, 0) + source.P(i, 1) + source.P(i, 2) + r.oP;
        const int64_t sQ = source.T(i, 0) + source.T(i, 1) + source.T(i, 2) + r.oQ;
        const int64_t f = sP < 0 ? 0 : (sQ > r.oQ ? (sP * 65536) / sQ : sP * (65536 / r.oQ));
        for (int c = 0; c < 3; ++c) {
            const int64_t q = (source.T(i, c) * f + 32768) >> 16;
            out[c][i] =
                static_cast<int32_t>(std::clamp<int64_t>(q - source.P(i, c), -r.limit, r.limit)) & r.mask;
        }
    }
}

} // namespace

void BuildChromaBlurImage(const FPixmapTemplate<FPixelClass48SRGB>& source, double radius, int16_t* blocks,
                          int threads)
{
    const int cols = source.GetCols();
    const int rows = source.GetRows();
    if (cols <= 0 || rows <= 0)
        return;
    const double e = Decay(4.0, radius);
    const int64_t a = RoundedWeight(1.0 - e);
    const int64_t b = RoundedWeight(e);
    const int qcols = (cols + 3) / 4;
    const int qrows = (rows + 3) / 4;
    const size_t rowTriples = 3 * static_cast<size_t>(qcols);
    // Capped block sums: each block row stands alone, so they are summed in bands; past the
    // last column and row the edge pixel counts again.
    const auto capped = std::make_unique_for_overwrite<int32_t[]>(rowTriples * static_cast<size_t>(qrows));
    const int wholeBlocks = cols / 4;
    RunInRowBands(qrows, std::clamp(BalancedBands(qrows, threads, 8), 1, qrows), [&](int first, int end) {
        std::vector<int32_t> sums(rowTriples);
        for (int by = first; by < end; ++by) {
            std::fill(sums.begin(), sums.end(), 0);
            for (int dy = 0; dy < 4; ++dy) {
                const int16_t* row = source.GetRow(std::min(4 * by + dy, rows - 1));
                for (int bx = 0; bx < wholeBlocks; ++bx) {
                    const int16_t* p = row + 12 * static_cast<size_t>(bx);
                    int32_t* s = &sums[3 * static_cast<size_t>(bx)];
                    s[0] += p[0] + p[3] + p[6] + p[9];
                    s[1] += p[1] + p[4] + p[7] + p[10];
                    s[2] += p[2] + p[5] + p[8] + p[11];
                }
                for (int bx = wholeBlocks; bx < qcols; ++bx)
                    for (int dx = 0; dx < 4; ++dx) {
                        const int16_t* p = row + 3 * static_cast<size_t>(std::min(4 * bx + dx, cols - 1));
                        for (int c = 0; c < 3; ++c)
                            sums[3 * static_cast<size_t>(bx) + c] += p[c];
                    }
            }
            int32_t* out = &capped[rowTriples * static_cast<size_t>(by)];
            for (size_t i = 0; i < rowTriples; ++i)
                out[i] = std::min(sums[i], 32767);
        }
    });
    // The smoothing from the bottom up runs down each column of blocks on its own.
    RunInRowBands(qcols, std::clamp(BalancedBands(qcols, threads, 64), 1, qcols), [&](int first, int end) {
        const size_t from = 3 * static_cast<size_t>(first);
        const size_t to = 3 * static_cast<size_t>(end);
        for (int by = qrows - 1; by >= 0; --by) {
            const size_t at = rowTriples * static_cast<size_t>(by);
            for (size_t i = from; i < to; ++i) {
                const int64_t s = capped[at + i] * a;
                blocks[at + i] =
                    Saturate16(by == qrows - 1 ? s >> 8 : (s + blocks[at + rowTriples + i] * b) >> 8);
            }
        }
    });
}

namespace
{

// Block row `blockRow` of the block image, smoothed along the row both ways and spread
// to one triple per column.
void SmoothBlockRow(int blockRow, double horizontalTime, const int16_t* blocks, int16_t* buffer, int columns)
{
    const int64_t u = RoundedWeight(1.0 - Decay(1.0, horizontalTime));
    const int64_t w = 256 - u;
    const int qcols = (columns + 3) / 4;
    const int16_t* blockRowStart = blocks + 3 * static_cast<size_t>(blockRow) * qcols;
    // Weights summing to 256 keep the sums within the 16-bit inputs' range, so 32 bits
    // hold them; one variable per channel keeps each recursion in a register.
    const int32_t u32 = static_cast<int32_t>(u);
    const int32_t w32 = static_cast<int32_t>(w);
    int32_t s0 = 0, s1 = 0, s2 = 0;
    for (int bx = qcols - 1; bx >= 0; --bx) {
        const int16_t* v = blockRowStart + 3 * static_cast<size_t>(bx);
        for (int k = 3; k >= 0; --k) {
            s0 = (u32 * v[0] + w32 * s0) >> 8;
            s1 = (u32 * v[1] + w32 * s1) >> 8;
            s2 = (u32 * v[2] + w32 * s2) >> 8;
            int16_t* out = buffer + 3 * static_cast<size_t>(std::min(4 * bx + k, columns - 1));
            out[0] = Store16(s0);
            out[1] = Store16(s1);
            out[2] = Store16(s2);
        }
    }
    s0 = s1 = s2 = 0;
    for (size_t x = 0; x < static_cast<size_t>(columns); ++x) {
        int16_t* b = buffer + 3 * x;
        s0 = (u32 * b[0] + w32 * s0) >> 8;
        s1 = (u32 * b[1] + w32 * s1) >> 8;
        s2 = (u32 * b[2] + w32 * s2) >> 8;
        b[0] = Store16(s0);
        b[1] = Store16(s1);
        b[2] = Store16(s2);
    }
}

// The vertical recursion of the state toward the smoothed block row of the current row.
void AdvanceState(const int16_t* buffer, int16_t* state, double verticalTime, int columns)
{
    const double ev = Decay(1.0, verticalTime);
    const int64_t yv = RoundedWeight(1.0 - ev);
    const int64_t zv = RoundedWeight(ev);
    const size_t n = static_cast<size_t>(columns);
    // Weights of at most 256 on 16-bit values: one 16-bit multiply-add per sample pair, the
    // result wrapped to 16 bits.
    const int32_t yv32 = static_cast<int32_t>(yv);
    const int32_t zv32 = static_cast<int32_t>(zv);
    const __m128i weights =
        _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(zv32) << 16 | static_cast<uint32_t>(yv32)));
    size_t i = 0;
    for (; i + 8 <= 3 * n; i += 8) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + i));
        const __m128i st = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + i));
        auto wrap = [](__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(v, 8), 16), 16); };
        const __m128i lo = wrap(_mm_madd_epi16(_mm_unpacklo_epi16(b, st), weights));
        const __m128i hi = wrap(_mm_madd_epi16(_mm_unpackhi_epi16(b, st), weights));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(state + i), _mm_packs_epi32(lo, hi));
    }
    for (; i < 3 * n; ++i)
        state[i] = static_cast<int16_t>(static_cast<uint16_t>((yv32 * buffer[i] + zv32 * state[i]) >> 8));
}

// A row's pull toward the state.
void PullRow(int16_t* row, const int16_t* state, int offset, int columns, const FColorLUT& table,
             int sumShift)
{
    const size_t n = static_cast<size_t>(columns);
    const int64_t o = BoundedOffset(offset);
    thread_local std::vector<int32_t> scratch;
    scratch.resize(3 * n);
    int32_t* const index[3] = {&scratch[0], &scratch[n], &scratch[2 * n]};
    PullIndices(TripleSource{row, state}, n, PullRanges{o, o, table.m_iSize / 2 - 1, table.m_iMask}, index);
    ApplyPull(row, n, table, static_cast<uint32_t>(sumShift), index);
}

} // namespace

void ChromaBlurRow(int16_t* row, int y, double horizontalTime, double verticalTime, int offset,
                   const int16_t* blocks, int16_t* work, int columns, const FColorLUT& table, int sumShift)
{
    if (columns <= 0)
        return;
    int16_t* state = work;
    int16_t* buffer = work + 3 * static_cast<size_t>(columns);
    if (y % 4 == 0) {
        if (y == 0)
            std::fill(state, state + 3 * static_cast<size_t>(columns), int16_t{0});
        SmoothBlockRow(y / 4, horizontalTime, blocks, buffer, columns);
    }
    AdvanceState(buffer, state, verticalTime, columns);
    PullRow(row, state, offset, columns, table, sumShift);
}

namespace
{

template <int N>
void RotateRows(int16_t* ring[N])
{
    int16_t* oldest = ring[0];
    for (int i = 0; i + 1 < N; ++i)
        ring[i] = ring[i + 1];
    ring[N - 1] = oldest;
}

inline const int16_t* Pixel(const int16_t* row, int64_t j, int64_t count)
{
    return row + 3 * std::clamp<int64_t>(j, 0, count - 1);
}

} // namespace

void SpatialChromaDQRow(const int16_t* input, int16_t* output, int offset, int16_t* ring[5], uint32_t count,
                        const FColorLUT& table, uint32_t sumShift)
{
    const int64_t n = count;
    int16_t* newest = ring[4];
    auto clampedTaps = [&](int64_t j) {
        for (int c = 0; c < 3; ++c) {
            int64_t s = 2;
            for (int64_t k = -2; k <= 2; ++k)
                s += Pixel(input, j + k, n)[c];
            // Gain 5/4: saturate rather than wrap the brightest values.
            newest[3 * j + c] = Saturate16(s >> 2);
        }
    };
    // Away from the ends no tap needs clamping: eight samples at a time, the sums in 32
    // bits and the saturation done by the pack.
    const int64_t first = std::min<int64_t>(2, n);
    const int64_t last = std::max(first, n - 2);
    for (int64_t j = 0; j < first; ++j)
        clampedTaps(j);
    int64_t i = 3 * first;
    const int64_t end = 3 * last;
    const __m128i two = _mm_set1_epi32(2);
    for (; i + 8 <= end; i += 8) {
        __m128i lo = two, hi = two;
        for (int k = -6; k <= 6; k += 3) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + i + k));
            lo = _mm_add_epi32(lo, _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
            hi = _mm_add_epi32(hi, _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(newest + i),
                         _mm_packs_epi32(_mm_srai_epi32(lo, 2), _mm_srai_epi32(hi, 2)));
    }
    for (; i < end; ++i) {
        const int32_t s = 2 + input[i - 6] + input[i - 3] + input[i] + input[i + 3] + input[i + 6];
        newest[i] = Saturate16(s >> 2);
    }
    for (int64_t j = last; j < n; ++j)
        clampedTaps(j);
    if (output != nullptr) {
        const int64_t oP = BoundedOffset(offset);
        const int64_t oQ = oP * 25 / 4;
        // Box sums of at most 5 x 2^15 and offsets of at most 2^20 keep every step of the
        // pull exact in doubles (see PullIndices).
        const size_t samples = 3 * static_cast<size_t>(n);
        thread_local std::vector<int32_t> work;
        work.resize(4 * samples);
        int32_t* box = work.data();
        size_t i = 0;
        for (; i + 8 <= samples; i += 8) {
            __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
            for (int r = 0; r < 5; ++r) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ring[r] + i));
                lo = _mm_add_epi32(lo, _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
                hi = _mm_add_epi32(hi, _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(box + i), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(box + i + 4), hi);
        }
        for (; i < samples; ++i)
            box[i] = int32_t{ring[0][i]} + ring[1][i] + ring[2][i] + ring[3][i] + ring[4][i];
        int32_t* const index[3] = {box + samples, box + samples + n, box + samples + 2 * n};
        PullIndices(TripleBoxSource{output, box}, static_cast<size_t>(n),
                    PullRanges{oP, oQ, table.m_iSize / 2 - 1, table.m_iMask}, index);
        ApplyPull(output, static_cast<size_t>(n), table, sumShift, index);
    }
    RotateRows<5>(ring);
}

void BinomialChromaDQRow(const int16_t* input, int16_t* output, int16_t* ring[3], uint32_t count,
                         const FColorLUT& table, uint32_t sumShift)
{
    const int64_t n = count;
    int16_t* newest = ring[2];
    auto clampedTaps = [&](int64_t j) {
        for (int c = 0; c < 3; ++c)
            newest[3 * j + c] =
                Saturate16((Pixel(input, j - 1, n)[c] + 2 * static_cast<int64_t>(input[3 * j + c]) +
                            Pixel(input, j + 1, n)[c] + 2) >>
                           2);
    };
    // Away from the ends no tap needs clamping: eight samples at a time in 32 bits, the
    // saturation done by the pack.
    const int64_t first = std::min<int64_t>(1, n);
    const int64_t last = std::max(first, n - 1);
    for (int64_t j = 0; j < first; ++j)
        clampedTaps(j);
    int64_t i = 3 * first;
    const int64_t end = 3 * last;
    auto widen = [](__m128i v, bool high) {
        return _mm_srai_epi32(high ? _mm_unpackhi_epi16(v, v) : _mm_unpacklo_epi16(v, v), 16);
    };
    const __m128i two = _mm_set1_epi32(2);
    for (; i + 8 <= end; i += 8) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + i - 3));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + i));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + i + 3));
        __m128i half[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i mid = widen(m, h == 1);
            half[h] = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(widen(l, h == 1), widen(r, h == 1)),
                                                   _mm_add_epi32(_mm_add_epi32(mid, mid), two)),
                                     2);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(newest + i), _mm_packs_epi32(half[0], half[1]));
    }
    for (; i < end; ++i)
        newest[i] = Saturate16((input[i - 3] + 2 * int32_t{input[i]} + input[i + 3] + 2) >> 2);
    for (int64_t j = last; j < n; ++j)
        clampedTaps(j);
    if (output != nullptr) {
        // Each sample's table index, eight at a time: the target and the pixel are 16-bit,
        // so the difference and its clamp fit 32 bits.
        const size_t samples = 3 * static_cast<size_t>(n);
        thread_local std::vector<int32_t> work;
        work.resize(samples);
        int32_t* index = work.data();
        const int32_t limit = table.m_iSize / 2 - 1;
        const int32_t mask = table.m_iMask;
        size_t k = 0;
        if (limit >= 0) {
            const __m128i hi = _mm_set1_epi32(limit), lo = _mm_set1_epi32(-limit),
                          bits = _mm_set1_epi32(mask);
            // Signed 32-bit min and max from SSE2 compares.
            auto clamp = [&](__m128i v) {
                const __m128i over = _mm_cmpgt_epi32(v, hi);
                v = _mm_or_si128(_mm_and_si128(over, hi), _mm_andnot_si128(over, v));
                const __m128i under = _mm_cmpgt_epi32(lo, v);
                return _mm_or_si128(_mm_and_si128(under, lo), _mm_andnot_si128(under, v));
            };
            for (; k + 8 <= samples; k += 8) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ring[0] + k));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ring[1] + k));
                const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ring[2] + k));
                const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(output + k));
                for (int h = 0; h < 2; ++h) {
                    const __m128i mid = widen(b, h == 1);
                    const __m128i q =
                        _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(widen(a, h == 1), widen(c, h == 1)),
                                                     _mm_add_epi32(mid, mid)),
                                       2);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(index + k + 4 * h),
                                     _mm_and_si128(clamp(_mm_sub_epi32(q, widen(p, h == 1))), bits));
                }
            }
        }
        for (; k < samples; ++k) {
            const int64_t q = (ring[0][k] + 2 * static_cast<int64_t>(ring[1][k]) + ring[2][k]) >> 2;
            index[k] =
                static_cast<int32_t>(std::clamp<int64_t>(q - output[k], -int64_t{limit}, limit)) & mask;
        }
        const int16_t* const lut[3] = {table.m_pRedData, table.m_pGreenData, table.m_pBlueData};
        const int shift = sumShift & 31;
        for (int64_t j = 0; j < n; ++j) {
            const int32_t* ix = index + 3 * j;
            const int32_t d0 = lut[0][ix[0]];
            const int32_t d1 = lut[1][ix[1]];
            const int32_t d2 = lut[2][ix[2]];
            const int32_t t = (d0 + d1 + d2) >> shift;
            int16_t* px = output + 3 * j;
            px[0] = static_cast<int16_t>(static_cast<uint16_t>(px[0] + d0 - t));
            px[1] = static_cast<int16_t>(static_cast<uint16_t>(px[1] + d1 - t));
            px[2] = static_cast<int16_t>(static_cast<uint16_t>(px[2] + d2 - t));
        }
    }
    RotateRows<3>(ring);
}

namespace
{

// Four 32-bit lanes, so that the whole-row sums run four columns at a time.
using Lanes = int32_t __attribute__((vector_size(16)));
constexpr size_t kLanes = 4;

inline Lanes LoadLanes(const int32_t* p)
{
    Lanes v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

inline void StoreLanes(int32_t* p, Lanes v)
{
    std::memcpy(p, &v, sizeof(v));
}

// Five-tap sums (2 + b[x] + ... + b[x + 4]) / 4 of a padded row, b = a / 4.
void SmoothFive(const int32_t* a, int32_t* h, size_t n)
{
    size_t x = 0;
    for (; x + kLanes <= n; x += kLanes)
        StoreLanes(h + x,
                   (2 + (LoadLanes(a + x) >> 2) + (LoadLanes(a + x + 1) >> 2) + (LoadLanes(a + x + 2) >> 2) +
                    (LoadLanes(a + x + 3) >> 2) + (LoadLanes(a + x + 4) >> 2)) >>
                       2);
    for (; x < n; ++x)
        h[x] = (2 + (a[x] >> 2) + (a[x + 1] >> 2) + (a[x + 2] >> 2) + (a[x + 3] >> 2) + (a[x + 4] >> 2)) >> 2;
}

void SlideSums(int32_t* sum, const int32_t* add, const int32_t* sub, size_t n)
{
    size_t x = 0;
    for (; x + kLanes <= n; x += kLanes)
        StoreLanes(sum + x, LoadLanes(sum + x) + LoadLanes(add + x) - LoadLanes(sub + x));
    for (; x < n; ++x)
        sum[x] += add[x] - sub[x];
}

// The display filter works on squared levels: v * v / 16 smoothed, v * v / 4 corrected.
// The level back from a corrected sample, for each of its 65536 bit patterns: 0 at or
// below 0, else min(255, trunc(sqrt(4 v))), made with the very expression it replaces.
const uint8_t* DisplayLevels()
{
    static const std::vector<uint8_t> levels = [] {
        std::vector<uint8_t> t(65536, 0);
        for (int v = 1; v < 32768; ++v)
            t[v] = static_cast<uint8_t>(std::min(static_cast<int32_t>(std::sqrt(4.0 * v)), 255));
        return t;
    }();
    return levels.data();
}

// One display row's squared levels v * v / 4, per channel (R, G, B) with two edge copies
// each side for the five-tap sums. (v * v / 4) / 4 is v * v / 16, the smoothing's input.
void SquareDisplayRow(const uint8_t* src, int cols, int32_t* const planes[3])
{
    int32_t* r = planes[0] + 2;
    int32_t* g = planes[1] + 2;
    int32_t* b = planes[2] + 2;
    // Four pixels as four words; a byte in the low half of a lane squares by one 16-bit
    // multiply-add with itself.
    const __m128i byte = _mm_set1_epi32(0xFF);
    auto square = [&](__m128i v) { return _mm_srai_epi32(_mm_madd_epi16(v, v), 2); };
    int x = 0;
    for (; x + 4 <= cols; x += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + x), square(_mm_and_si128(px, byte)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g + x),
                         square(_mm_and_si128(_mm_srli_epi32(px, 8), byte)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + x),
                         square(_mm_and_si128(_mm_srli_epi32(px, 16), byte)));
    }
    for (; x < cols; ++x) {
        const uint8_t* p = src + 4 * x;
        b[x] = (int32_t{p[0]} * p[0]) >> 2;
        g[x] = (int32_t{p[1]} * p[1]) >> 2;
        r[x] = (int32_t{p[2]} * p[2]) >> 2;
    }
    for (int k = 0; k < 3; ++k) {
        int32_t* out = planes[k] + 2;
        out[-2] = out[-1] = out[0];
        out[cols] = out[cols + 1] = out[cols - 1];
    }
}

} // namespace

// Row y is corrected against the sum of the horizontally smoothed rows y - 2 ... y + 2
// (edges repeated), kept as running column sums; every row is read before it is written.
void ChromaFilterDisplayImage(const FPixmapTemplate<FPixelClass32BGRA>& image, int amplitudeR, int amplitudeG,
                              int amplitudeB, int offsetFactor)
{
    const FColorLUT* table = FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(amplitudeR, amplitudeG, amplitudeB),
                                                           FDoubleRGB(1.0, 1.0, 1.0));
    const int rows = image.GetRows();
    const int cols = image.GetCols();
    if (rows <= 0 || cols <= 0)
        return;
    const uint8_t* levels = DisplayLevels();
    const size_t n = static_cast<size_t>(cols);
    const size_t padded = n + 4;
    // Six smoothed rows (slot = row % 6), three squared rows (slot = row % 3), the column sums.
    std::vector<int32_t> storage(18 * n + 9 * padded + 6 * n);
    int32_t* smooth[6][3];
    for (int s = 0; s < 6; ++s)
        for (int k = 0; k < 3; ++k)
            smooth[s][k] = &storage[(3 * s + k) * n];
    int32_t* squared[3][3];
    for (int s = 0; s < 3; ++s)
        for (int k = 0; k < 3; ++k)
            squared[s][k] = &storage[18 * n + (3 * s + k) * padded];
    int32_t* box[3];
    int32_t* index[3];
    for (int k = 0; k < 3; ++k) {
        box[k] = &storage[18 * n + 9 * padded + k * n];
        index[k] = &storage[18 * n + 9 * padded + (3 + k) * n];
    }
    auto smoothRow = [&](int y) {
        SquareDisplayRow(image.GetRow(y), cols, squared[y % 3]);
        for (int k = 0; k < 3; ++k)
            SmoothFive(squared[y % 3][k], smooth[y % 6][k], n);
    };
    auto clampRow = [&](int y) { return std::clamp(y, 0, rows - 1); };
    for (int y = 0; y <= std::min(2, rows - 1); ++y)
        smoothRow(y);
    for (int k = 0; k < 3; ++k)
        for (size_t x = 0; x < n; ++x) {
            int32_t s = 0;
            for (int d = -2; d <= 2; ++d)
                s += smooth[clampRow(d) % 6][k][x];
            box[k][x] = s;
        }

    const int64_t oP = std::clamp<int64_t>(int64_t{offsetFactor} * 10, 1, kMaxOffset);
    const PullRanges ranges{oP, oP * 25 / 4, table->m_iSize / 2 - 1, table->m_iMask};
    const int16_t* lut[3] = {table->m_pRedData, table->m_pGreenData, table->m_pBlueData};
    for (int y = 0; y < rows; ++y) {
        if (y > 0) {
            if (y + 2 < rows)
                smoothRow(y + 2);
            for (int k = 0; k < 3; ++k)
                SlideSums(box[k], smooth[clampRow(y + 2) % 6][k], smooth[clampRow(y - 3) % 6][k], n);
        }
        uint8_t* row = image.GetRow(y);
        const int32_t* const p[3] = {squared[y % 3][0] + 2, squared[y % 3][1] + 2, squared[y % 3][2] + 2};
        PullIndices(PlanarSource{p[0], p[1], p[2], box[0], box[1], box[2]}, n, ranges, index);
        // Pointers held in locals: the byte stores could otherwise touch the arrays.
        const int32_t *const pr = p[0], *const pg = p[1], *const pb = p[2];
        const int32_t *const ir = index[0], *const ig = index[1], *const ib = index[2];
        const int16_t *const lr = lut[0], *const lg = lut[1], *const lb = lut[2];
        for (size_t x = 0; x < n; ++x) {
            const int32_t dr = lr[ir[x]];
            const int32_t dg = lg[ig[x]];
            const int32_t db = lb[ib[x]];
            const int32_t t = (dr + dg + db) >> 3;
            // B, G, R, then an opaque alpha, copied as one block.
            const uint8_t bgra[4] = {levels[static_cast<uint16_t>(pb[x] + db - t)],
                                     levels[static_cast<uint16_t>(pg[x] + dg - t)],
                                     levels[static_cast<uint16_t>(pr[x] + dr - t)], 255};
            std::memcpy(row + 4 * x, bgra, sizeof(bgra));
        }
    }
}

void ChromaBlurImage(const FPixmapTemplate<FPixelClass48SRGB>& image, double radius, double horizontalTime,
                     double verticalTime, int offset, const FColorLUT& table, int sumShift, int threads)
{
    const int cols = image.GetCols();
    const int rows = image.GetRows();
    if (cols <= 0 || rows <= 0)
        return;
    // Every sample is written before it is read; not clearing them spares touching fresh pages twice.
    const auto blocks =
        std::make_unique_for_overwrite<int16_t[]>(3 * static_cast<size_t>((cols + 3) / 4) * ((rows + 3) / 4));
    BuildChromaBlurImage(image, radius, blocks.get(), threads);
    threads = std::clamp(BalancedBands(rows, threads, 32), 1, rows);
    const size_t rowSamples = 3 * static_cast<size_t>(cols);
    if (threads == 1) {
        std::vector<int16_t> work(2 * rowSamples);
        for (int y = 0; y < rows; ++y)
            ChromaBlurRow(image.GetRow(y), y, horizontalTime, verticalTime, offset, blocks.get(), work.data(),
                          cols, table, sumShift);
        return;
    }
    // A row reads only itself and the state, a recursion down the smoothed block rows that
    // needs no pixel: the block rows are smoothed in bands, the cheap recursion is run once
    // to every band's first row, and the bands correct their rows from there.
    const int blockRows = (rows + 3) / 4;
    const auto smoothed =
        std::make_unique_for_overwrite<int16_t[]>(rowSamples * static_cast<size_t>(blockRows));
    auto smoothedRow = [&](int y) { return &smoothed[rowSamples * static_cast<size_t>(y / 4)]; };
    RunInRowBands(blockRows, threads, [&](int first, int end) {
        for (int k = first; k < end; ++k)
            SmoothBlockRow(k, horizontalTime, blocks.get(), smoothedRow(4 * k), cols);
    });
    // Each sample's recursion stands alone, so the run to the bands' first rows is split by
    // columns.
    std::vector<int16_t> starts(rowSamples * static_cast<size_t>(threads), 0);
    RunInRowBands(cols, std::clamp(BalancedBands(cols, threads, 256), 1, cols), [&](int x0, int x1) {
        const size_t from = 3 * static_cast<size_t>(x0);
        for (int b = 1, y = 0; b < threads; ++b) {
            int16_t* state = &starts[rowSamples * static_cast<size_t>(b)] + from;
            std::copy(state - rowSamples, state - rowSamples + 3 * static_cast<size_t>(x1 - x0), state);
            for (const int first = RowBandStart(rows, threads, b); y < first; ++y)
                AdvanceState(smoothedRow(y) + from, state, verticalTime, x1 - x0);
        }
    });
    RunInRowBands(rows, threads, [&](int first, int end) {
        size_t band = 0;
        while (RowBandStart(rows, threads, static_cast<int>(band)) < first)
            ++band;
        std::vector<int16_t> state(&starts[rowSamples * band], &starts[rowSamples * band] + rowSamples);
        for (int y = first; y < end; ++y) {
            AdvanceState(smoothedRow(y), state.data(), verticalTime, cols);
            PullRow(image.GetRow(y), state.data(), offset, cols, table, sumShift);
        }
    });
}

namespace
{

// Runs a ring filter of N rows over the image in bands. Row y is corrected against the
// original rows y - N/2 ... y + N/2 (edges repeated); the rows a band reads from its
// neighbours are copied before any band starts, since those bands change them.
template <int N, typename Filter>
void RingFilterImage(const FPixmapTemplate<FPixelClass48SRGB>& image, int threads, Filter filter)
{
    constexpr int kHalf = N / 2;
    const int rows = image.GetRows();
    const int cols = image.GetCols();
    if (rows <= 0 || cols <= 0)
        return;
    threads = std::clamp(BalancedBands(rows, threads, 64), 1, rows);
    const size_t rowSamples = 3 * static_cast<size_t>(cols);
    std::vector<std::vector<int16_t>> halos(static_cast<size_t>(threads));
    for (int b = 0; b < threads; ++b) {
        const int first = RowBandStart(rows, threads, b);
        const int end = RowBandStart(rows, threads, b + 1);
        halos[b].resize(2 * kHalf * rowSamples);
        for (int i = 0; i < kHalf; ++i) {
            const int above = std::clamp(first - kHalf + i, 0, rows - 1);
            const int below = std::clamp(end + i, 0, rows - 1);
            std::memcpy(&halos[b][i * rowSamples], image.GetRow(above), rowSamples * sizeof(int16_t));
            std::memcpy(&halos[b][(kHalf + i) * rowSamples], image.GetRow(below),
                        rowSamples * sizeof(int16_t));
        }
    }
    RunInRowBands(rows, threads, [&](int first, int end) {
        int band = 0;
        while (band + 1 < threads && RowBandStart(rows, threads, band + 1) <= first)
            ++band;
        const std::vector<int16_t>& h = halos[band];
        auto source = [&](int y) -> const int16_t* {
            if (y < first)
                return &h[static_cast<size_t>(y - (first - kHalf)) * rowSamples];
            if (y >= end)
                return &h[static_cast<size_t>(kHalf + std::min(y - end, kHalf - 1)) * rowSamples];
            return image.GetRow(y);
        };
        std::vector<int16_t> store(N * rowSamples);
        int16_t* ring[N];
        for (int i = 0; i < N; ++i)
            ring[i] = &store[i * rowSamples];
        for (int y = first - kHalf; y < first + kHalf; ++y)
            filter(source(y), nullptr, ring);
        for (int y = first; y < end; ++y)
            filter(source(y + kHalf), image.GetRow(y), ring);
    });
}

} // namespace

void SpatialChromaDQImage(const FPixmapTemplate<FPixelClass48SRGB>& image, int offset, const FColorLUT& table,
                          uint32_t sumShift, int threads)
{
    const uint32_t cols = static_cast<uint32_t>(std::max(image.GetCols(), 0));
    RingFilterImage<5>(image, threads, [&](const int16_t* in, int16_t* out, int16_t** ring) {
        SpatialChromaDQRow(in, out, offset, ring, cols, table, sumShift);
    });
}

void BinomialChromaDQImage(const FPixmapTemplate<FPixelClass48SRGB>& image, const FColorLUT& table,
                           uint32_t sumShift, int threads)
{
    const uint32_t cols = static_cast<uint32_t>(std::max(image.GetCols(), 0));
    RingFilterImage<3>(image, threads, [&](const int16_t* in, int16_t* out, int16_t** ring) {
        BinomialChromaDQRow(in, out, ring, cols, table, sumShift);
    });
}
