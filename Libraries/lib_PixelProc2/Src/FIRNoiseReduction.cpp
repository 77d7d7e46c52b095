#include "FIRNoiseReduction.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include <immintrin.h>

#include "FBandPool.h"
#include "FDebugTrace.h"
#include "FLargePageAllocator.h"
#include "RunInRowBands.h"

namespace
{

using RGBPixmap = FPixmapTemplate<FPixelClassFlt32RGB>;
using MonoPixmap = FPixmapTemplate<FPixelClassFlt32Mono>;
using SamplePixmap = FPixmapTemplate<FPixelClass48SRGB>;

// Table index per unit of base-2 logarithm.
constexpr double kLogSteps = 16384.0;
constexpr double kLn2 = 0.69314718055994530942;
// Index steps per unit of natural logarithm: 16384 / ln 2.
constexpr double kIndexPerLn = kLogSteps / kLn2;
// Most rows filtered together, one per vector lane (eight in AVX2 registers).
constexpr int kMaxLanes = 8;
// Pixels per strip of the column passes: the strip's running sums over all rows stay in
// the core's own cache.
constexpr int kStripPixels = 32;
// Slots start on cache lines.
constexpr size_t kAlignFloats = 16;

// Four rows of four samples each, turned into four samples of the four rows.
inline void Transpose4(const __m128 in[4], __m128 out[4])
{
    const __m128 t0 = _mm_unpacklo_ps(in[0], in[1]);
    const __m128 t1 = _mm_unpacklo_ps(in[2], in[3]);
    const __m128 t2 = _mm_unpackhi_ps(in[0], in[1]);
    const __m128 t3 = _mm_unpackhi_ps(in[2], in[3]);
    out[0] = _mm_movelh_ps(t0, t1);
    out[1] = _mm_movehl_ps(t1, t0);
    out[2] = _mm_movelh_ps(t2, t3);
    out[3] = _mm_movehl_ps(t3, t2);
}

// Floats of one band's slot: the larger of a row pass over kMaxLanes rows (samples, sums,
// weights and their sums, as vectors, and staging rows) and a column pass over one strip.
size_t SlotFloats(int cols, int rows)
{
    const size_t c = static_cast<size_t>(std::max(cols, 1));
    const size_t r = static_cast<size_t>(std::max(rows, 1));
    const size_t rowPass = kMaxLanes * (2 * 3 * c + 2 * c) + kMaxLanes * 3 * c;
    const size_t strip = 3 * kStripPixels;
    const size_t columnPass = 2 * r * strip + 3 * strip;
    return (std::max(rowPass, columnPass) + kAlignFloats - 1) / kAlignFloats * kAlignFloats;
}

float* AlignUp(float* p)
{
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    const uintptr_t mask = kAlignFloats * sizeof(float) - 1;
    return reinterpret_cast<float*>((a + mask) & ~mask);
}

// A pass given up at a band's start because the caller cancelled.
struct FIRCancelled {
};

// The pool the passes run on, fixed for a whole call: its slots size the scratch.
FBandPool* PassPool()
{
    return GetRowBandPool();
}

int SlotCount(const FBandPool* pool)
{
    return pool != nullptr ? pool->GetSlotCount() : 1;
}

// Running-sum slots for the passes; the work of a pass goes in chunks to whichever thread
// is free, each using its own thread's slot.
struct FIRBands {
    int threads = 1;
    FBandPool* pool = nullptr;
    float* scratch = nullptr; // aligned, SlotCount(pool) slots
    size_t slotFloats = 0;
    // Asked at the start of every chunk; null: never.
    const std::function<bool()>* cancelled = nullptr;

    // f(first, end, slot) over [0, count) in chunks of `grain`.
    template <class F>
    void Run(int count, F&& f, int grain = 8) const
    {
        if (count <= 0)
            return;
        auto chunk = [&](int first, int end) {
            if (cancelled != nullptr && (*cancelled)())
                throw FIRCancelled{};
            const int slot = pool != nullptr ? pool->SlotOfThisThread() : 0;
            f(first, end, scratch + static_cast<size_t>(slot) * slotFloats);
        };
        if (pool == nullptr || threads <= 1) {
            chunk(0, count);
            return;
        }
        RunRowChunks(count, threads, grain, chunk);
    }
};

// The constant-decay denominators 1/d + Q[k-1] + P[k+1] of one row length.
void MakeDenominators(std::vector<float>& den, int n, float d)
{
    den.assign(static_cast<size_t>(n), 0.0f);
    if (n <= 0)
        return;
    std::vector<float> q(static_cast<size_t>(n)), p(static_cast<size_t>(n));
    q[0] = 1.0f;
    for (int k = 1; k < n; ++k)
        q[k] = d * q[k - 1] + 1.0f;
    p[n - 1] = 1.0f;
    for (int k = n - 2; k >= 0; --k)
        p[k] = d * p[k + 1] + 1.0f;
    const float invD = 1.0f / d;
    for (int k = 0; k < n; ++k) {
        float s = invD;
        if (k > 0)
            s += q[k - 1];
        if (k < n - 1)
            s += p[k + 1];
        den[k] = s;
    }
}

// Both filters, written once for a scalar or a vector of rows. For sample k of a line of
// n: back[k] = c[k] + a[k] back[k+1] and f[k] = c[k] + a[k] f[k-1] with a[k] = d t[k] (or d),
// out[k] = (c[k] / d + f[k-1] + back[k+1]) / (1/d + q[k-1] + bw[k+1]), where q and bw are
// the same sums over ones. Every sample goes through the same operations in the same
// order whatever the layout, so rows and columns, any band split and any lane give the
// same floats.

// Loads, stores and broadcasts for one float or four, so that one body serves the vector
// loop and its scalar tail.
inline float Load(const float* p, float)
{
    return *p;
}
inline __m128 Load(const float* p, __m128)
{
    return _mm_loadu_ps(p);
}
inline void Store(float* p, float v)
{
    *p = v;
}
inline void Store(float* p, __m128 v)
{
    _mm_storeu_ps(p, v);
}
inline float Splat(float x, float)
{
    return x;
}
inline __m128 Splat(float x, __m128)
{
    return _mm_set1_ps(x);
}

// Samples j .. count - 1 of the first `lanes` rows from their interleaved vectors.
template <class V>
void DeinterleaveTail(const V* c, size_t j, size_t count, float* const* rows, int lanes)
{
    for (; j < count; ++j) {
        float v[sizeof(V) / sizeof(float)];
        std::memcpy(v, &c[j], sizeof(V));
        for (int r = 0; r < lanes; ++r)
            rows[r][j] = v[r];
    }
}

namespace narrow
{
using Wide = __m128;
constexpr int kWideLanes = 4;
using Lanes = __m128;
constexpr int kLanes = 4;
// Samples j of the rows, interleaved lane by lane: c[j][r] = rows[r][j].
void Interleave(const float* const rows[kLanes], size_t count, Lanes* c)
{
    size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const __m128 in[4] = {_mm_loadu_ps(rows[0] + j), _mm_loadu_ps(rows[1] + j), _mm_loadu_ps(rows[2] + j),
                              _mm_loadu_ps(rows[3] + j)};
        Transpose4(in, c + j);
    }
    for (; j < count; ++j)
        c[j] = _mm_setr_ps(rows[0][j], rows[1][j], rows[2][j], rows[3][j]);
}

// The inverse, for the first `lanes` rows.
void Deinterleave(const Lanes* c, size_t count, float* const rows[kLanes], int lanes)
{
    size_t j = 0;
    if (lanes == kLanes) {
        for (; j + 4 <= count; j += 4) {
            __m128 out[4];
            Transpose4(c + j, out);
            for (int r = 0; r < kLanes; ++r)
                _mm_storeu_ps(rows[r] + j, out[r]);
        }
    }
    DeinterleaveTail(c, j, count, rows, lanes);
}

#include "FIRNoiseReductionFilters.inc"
} // namespace narrow

// Clang ignores GCC's target pragma; it takes the target per function instead.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace wide
{
using Wide = __m256;
constexpr int kWideLanes = 8;
using ::Load;
using ::Splat;
using ::Store;
inline __m256 Load(const float* p, __m256)
{
    return _mm256_loadu_ps(p);
}
inline void Store(float* p, __m256 v)
{
    _mm256_storeu_ps(p, v);
}
inline __m256 Splat(float x, __m256)
{
    return _mm256_set1_ps(x);
}
using Lanes = __m256;
constexpr int kLanes = 8;

// Samples j of eight rows, interleaved lane by lane, as two four-row transpositions.
void Interleave(const float* const rows[kLanes], size_t count, Lanes* c)
{
    size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const __m128 first[4] = {_mm_loadu_ps(rows[0] + j), _mm_loadu_ps(rows[1] + j),
                                 _mm_loadu_ps(rows[2] + j), _mm_loadu_ps(rows[3] + j)};
        const __m128 second[4] = {_mm_loadu_ps(rows[4] + j), _mm_loadu_ps(rows[5] + j),
                                  _mm_loadu_ps(rows[6] + j), _mm_loadu_ps(rows[7] + j)};
        __m128 lo[4], hi[4];
        Transpose4(first, lo);
        Transpose4(second, hi);
        for (int k = 0; k < 4; ++k)
            c[j + k] = _mm256_set_m128(hi[k], lo[k]);
    }
    for (; j < count; ++j)
        c[j] = _mm256_setr_ps(rows[0][j], rows[1][j], rows[2][j], rows[3][j], rows[4][j], rows[5][j],
                              rows[6][j], rows[7][j]);
}

// The inverse, for the first `lanes` rows.
void Deinterleave(const Lanes* c, size_t count, float* const rows[kLanes], int lanes)
{
    size_t j = 0;
    if (lanes == kLanes) {
        for (; j + 4 <= count; j += 4) {
            __m128 lo[4], hi[4], first[4], second[4];
            for (int k = 0; k < 4; ++k) {
                lo[k] = _mm256_castps256_ps128(c[j + k]);
                hi[k] = _mm256_extractf128_ps(c[j + k], 1);
            }
            Transpose4(lo, first);
            Transpose4(hi, second);
            for (int r = 0; r < 4; ++r) {
                _mm_storeu_ps(rows[r] + j, first[r]);
                _mm_storeu_ps(rows[4 + r] + j, second[r]);
            }
        }
    }
    DeinterleaveTail(c, j, count, rows, lanes);
}

#include "FIRNoiseReductionFilters.inc"
} // namespace wide
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// Every row of `out` filtered along the row from the rows source(y, staging) gives.
template <int C, class Pixmap, class Source>
void RowPassFrom(const Source& source, const MonoPixmap* t, Pixmap& out, float d, const FIRBands& bands)
{
    const int n = out.GetCols();
    std::vector<float> den;
    if (t == nullptr)
        MakeDenominators(den, n, d);
    const bool useWide = HasAvx2();
    const int lanes = useWide ? wide::kLanes : narrow::kLanes;
    bands.Run(out.GetRows(), [&](int first, int end, float* slot) {
        for (int y = first; y < end; y += lanes) {
            const int count = std::min(lanes, end - y);
            if (useWide)
                wide::RowGroup<C>(n, source, t, out, y, count, d, den.data(), slot);
            else
                narrow::RowGroup<C>(n, source, t, out, y, count, d, den.data(), slot);
        }
    });
}

template <int C, class Pixmap>
void RowPass(const Pixmap& in, const MonoPixmap* t, Pixmap& out, float d, const FIRBands& bands)
{
    RowPassFrom<C>([&](int y, float*) -> const float* { return in.GetRow(y); }, t, out, d, bands);
}

template <int C, bool kWeighted, class Pixmap>
void ColumnStrip(Pixmap& image, const MonoPixmap* t, int x0, int x1, float d, const float* den, float* slot)
{
    if (HasAvx2())
        wide::ColumnStrip<C, kWeighted>(image, t, x0, x1, d, den, slot);
    else
        narrow::ColumnStrip<C, kWeighted>(image, t, x0, x1, d, den, slot);
}

template <int C, bool kWeighted, class Pixmap>
void ColumnPass(Pixmap& image, const MonoPixmap* t, float d, const FIRBands& bands)
{
    std::vector<float> den;
    if (!kWeighted)
        MakeDenominators(den, image.GetRows(), d);
    const int cols = image.GetCols();
    const int strips = (cols + kStripPixels - 1) / kStripPixels;
    bands.Run(
        strips,
        [&](int first, int end, float* slot) {
            for (int s = first; s < end; ++s)
                ColumnStrip<C, kWeighted>(image, t, s * kStripPixels, std::min(cols, (s + 1) * kStripPixels),
                                          d, den.data(), slot);
        },
        1);
}

template <int C, class Pixmap>
void Smooth2D(Pixmap& output, const Pixmap& input, float d, const FIRBands& bands)
{
    RowPass<C>(input, nullptr, output, d, bands);
    ColumnPass<C, false>(output, nullptr, d, bands);
}

void EdgeAwareSmooth(RGBPixmap& output, const RGBPixmap& input, const MonoPixmap& weights, float d,
                     const FIRBands& bands)
{
    RowPass<3>(input, &weights, output, d, bands);
    ColumnPass<3, true>(output, &weights, d, bands);
}

// One row of the gradient from the rows around it; e: working space for 3 cols floats.
void GradientRowPlain(float* out, const float* above, const float* row, const float* below, int cols,
                      float* e)
{
    // Each sample's dx^2 + dy^2 four at a time, then summed per pixel in channel order.
    const int last = 3 * (cols - 1);
    int i = 3;
    for (; i + 4 <= last; i += 4) {
        const __m128 dx = _mm_sub_ps(_mm_loadu_ps(row + i - 3), _mm_loadu_ps(row + i + 3));
        const __m128 dy = _mm_sub_ps(_mm_loadu_ps(below + i), _mm_loadu_ps(above + i));
        _mm_storeu_ps(e + i, _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)));
    }
    for (; i < last; ++i) {
        const float dx = row[i - 3] - row[i + 3];
        const float dy = below[i] - above[i];
        e[i] = dx * dx + dy * dy;
    }
    for (int x = 1; x < cols - 1; ++x)
        out[x] = (e[3 * x] + e[3 * x + 1]) + e[3 * x + 2];
    // Square roots four at a time (the sums are never negative).
    int x = 1;
    for (; x + 4 <= cols - 1; x += 4)
        _mm_storeu_ps(out + x, _mm_sqrt_ps(_mm_loadu_ps(out + x)));
    for (; x < cols - 1; ++x)
        out[x] = std::sqrt(out[x]);
    out[0] = out[1];
    out[cols - 1] = out[cols - 2];
}

#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
// GradientRowPlain eight pixels at a time, the samples' squares kept in registers: the
// same operations on each sample and pixel in the same order, so the same bits.
void GradientRowWide(float* out, const float* above, const float* row, const float* below, int cols)
{
    // Lanes of the three sample vectors that hold one channel, and where each pixel's
    // sample lands once the three are blended (blend masks: bit k takes lane k).
    const __m256i orderR = _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5);
    const __m256i orderG = _mm256_setr_epi32(1, 4, 7, 2, 5, 0, 3, 6);
    const __m256i orderB = _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7);
    auto squares = [&](int i) {
        const __m256 dx = _mm256_sub_ps(_mm256_loadu_ps(row + i - 3), _mm256_loadu_ps(row + i + 3));
        const __m256 dy = _mm256_sub_ps(_mm256_loadu_ps(below + i), _mm256_loadu_ps(above + i));
        return _mm256_add_ps(_mm256_mul_ps(dx, dx), _mm256_mul_ps(dy, dy));
    };
    int x = 1;
    for (; x + 8 <= cols - 1; x += 8) {
        const int i = 3 * x;
        const __m256 e0 = squares(i);
        const __m256 e1 = squares(i + 8);
        const __m256 e2 = squares(i + 16);
        const __m256 r =
            _mm256_permutevar8x32_ps(_mm256_blend_ps(_mm256_blend_ps(e0, e1, 0x92), e2, 0x24), orderR);
        const __m256 g =
            _mm256_permutevar8x32_ps(_mm256_blend_ps(_mm256_blend_ps(e0, e1, 0x24), e2, 0x49), orderG);
        const __m256 b =
            _mm256_permutevar8x32_ps(_mm256_blend_ps(_mm256_blend_ps(e0, e1, 0x49), e2, 0x92), orderB);
        _mm256_storeu_ps(out + x, _mm256_sqrt_ps(_mm256_add_ps(_mm256_add_ps(r, g), b)));
    }
    for (; x < cols - 1; ++x) {
        float e[3];
        for (int c = 0; c < 3; ++c) {
            const int i = 3 * x + c;
            const float dx = row[i - 3] - row[i + 3];
            const float dy = below[i] - above[i];
            e[c] = dx * dx + dy * dy;
        }
        out[x] = std::sqrt((e[0] + e[1]) + e[2]);
    }
    out[0] = out[1];
    out[cols - 1] = out[cols - 2];
}
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

void GradientRow(float* out, const float* above, const float* row, const float* below, int cols, float* e)
{
    if (HasAvx2())
        GradientRowWide(out, above, row, below, cols);
    else
        GradientRowPlain(out, above, row, below, cols, e);
}

// Sum, sum of squares (double, in column order) and largest value of four rows, one row
// per lane.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
void RowStats4(const float* const out[4], int cols, double* sums, double* squares, float* maxima)
{
    __m256d sum = _mm256_setzero_pd(), sum2 = _mm256_setzero_pd();
    __m128 largest = _mm_setzero_ps();
    int x = 0;
    for (; x + 4 <= cols; x += 4) {
        const __m128 in[4] = {_mm_loadu_ps(out[0] + x), _mm_loadu_ps(out[1] + x), _mm_loadu_ps(out[2] + x),
                              _mm_loadu_ps(out[3] + x)};
        __m128 t[4];
        Transpose4(in, t);
        for (int k = 0; k < 4; ++k) {
            const __m256d v = _mm256_cvtps_pd(t[k]);
            sum = _mm256_add_pd(sum, v);
            sum2 = _mm256_add_pd(sum2, _mm256_mul_pd(v, v));
            // As std::max(largest, v): a NaN sample keeps the largest so far.
            largest = _mm_max_ps(t[k], largest);
        }
    }
    alignas(32) double s[4], s2[4];
    alignas(16) float m[4];
    _mm256_store_pd(s, sum);
    _mm256_store_pd(s2, sum2);
    _mm_store_ps(m, largest);
    for (int r = 0; r < 4; ++r) {
        for (int j = x; j < cols; ++j) {
            s[r] += out[r][j];
            s2[r] += static_cast<double>(out[r][j]) * out[r][j];
            m[r] = std::max(m[r], out[r][j]);
        }
        sums[r] = s[r];
        squares[r] = s2[r];
        maxima[r] = m[r];
    }
}
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// The gradient into output (or, with a null output, only measured), with each row's sum
// and sum of squares (in double, in column order) for the deviation.
void GradientMagnitude(MonoPixmap* output, const RGBPixmap& input, double* sums, double* squares,
                       float* maxima, const FIRBands& bands)
{
    const int cols = input.GetCols();
    const int rows = input.GetRows();
    if (cols < 3 || rows < 3) {
        for (int y = 0; y < rows; ++y) {
            if (output != nullptr)
                std::fill_n(output->GetRow(y), cols, 0.0f);
            sums[y] = squares[y] = 0.0;
            maxima[y] = 0.0f;
        }
        return;
    }
    bands.Run(rows - 2, [&](int first, int end, float* slot) {
        const bool useWide = HasAvx2();
        // Rows that are only measured go to the slot, after GradientRow's working space.
        auto target = [&](int y, int k) {
            return output != nullptr ? output->GetRow(y) : slot + static_cast<size_t>(3 + k) * cols;
        };
        for (int y = first + 1; y < end + 1;) {
            // Rows four at a time where they fit, so that the four rows' serial sums run
            // side by side; each row's sums still take its samples in column order.
            const int group = useWide && y + 4 <= end + 1 ? 4 : 1;
            for (int k = 0; k < group; ++k)
                GradientRow(target(y + k, k), input.GetRow(y + k - 1), input.GetRow(y + k),
                            input.GetRow(y + k + 1), cols, slot);
            if (group == 4) {
                const float* out[4] = {target(y, 0), target(y + 1, 1), target(y + 2, 2), target(y + 3, 3)};
                RowStats4(out, cols, sums + y, squares + y, maxima + y);
            } else {
                const float* out = target(y, 0);
                double sum = 0.0, sum2 = 0.0;
                float largest = 0.0f;
                for (int x = 0; x < cols; ++x) {
                    sum += out[x];
                    sum2 += static_cast<double>(out[x]) * out[x];
                    largest = std::max(largest, out[x]);
                }
                sums[y] = sum;
                squares[y] = sum2;
                maxima[y] = largest;
            }
            y += group;
        }
    });
    if (output != nullptr) {
        std::copy_n(output->GetRow(1), cols, output->GetRow(0));
        std::copy_n(output->GetRow(rows - 2), cols, output->GetRow(rows - 1));
    }
    sums[0] = sums[1];
    squares[0] = squares[1];
    maxima[0] = maxima[1];
    sums[rows - 1] = sums[rows - 2];
    squares[rows - 1] = squares[rows - 2];
    maxima[rows - 1] = maxima[rows - 2];
}

float SigmoidWeight(double x, float scale, float sigmoidOffset)
{
    return static_cast<float>(1.0 /
                              (1.0 + std::exp(-static_cast<double>(scale) *
                                              (1.0 + std::tanh(-x) - static_cast<double>(sigmoidOffset)))));
}

// Gradient into output, then each gradient replaced by its weight (or by the larger of
// its weight and `floor`'s pixel); `table` holds kFIRTableSize floats. `floor` may be the
// output itself: the gradient is then measured first and made again row by row for the
// weights, so that no plane holds it.
void EdgeWeights(MonoPixmap& output, const RGBPixmap& input, float locality, float scale, float sigmoidOffset,
                 float* table, const FIRBands& bands, const MonoPixmap* floor = nullptr)
{
    const int cols = output.GetCols();
    const int rows = output.GetRows();
    // Per-row partial sums added in row order, so the deviation is the same for any split.
    std::vector<double> sums(static_cast<size_t>(rows)), squares(static_cast<size_t>(rows));
    std::vector<float> maxima(static_cast<size_t>(std::max(rows, 1)));
    const bool inPlace = floor == &output;
    GradientMagnitude(inPlace ? nullptr : &output, input, sums.data(), squares.data(), maxima.data(), bands);
    double sum = 0.0, sumSquares = 0.0;
    for (int y = 0; y < rows; ++y) {
        sum += sums[y];
        sumSquares += squares[y];
    }
    const double n = static_cast<double>(cols) * rows;
    const double variance = n > 1.0 ? std::max(0.0, (sumSquares - sum * sum / n) / (n - 1.0)) : 0.0;
    const double h = std::sqrt(variance) * locality * 0.5;
    const bool flat = !(h > 0.0) || !std::isfinite(h);
    // A flat gradient has no scale: everything is a flat area.
    const float flatWeight = flat ? FIRFlatAreaWeight(scale, sigmoidOffset) : 0.0f;
    auto tableIndex = [](float gradient) {
        const double index = static_cast<double>(gradient) * kIndexPerLn * 0.5;
        return index >= kFIRTableSize - 1 ? kFIRTableSize - 1 : index > 0.0 ? static_cast<int>(index) : 0;
    };
    if (!flat) {
        // Only the entries up to the steepest gradient's are ever read.
        const float steepest = *std::max_element(maxima.begin(), maxima.end());
        const int used = tableIndex(steepest) + 1;
        const double step = 1.0 / (kIndexPerLn * h);
        bands.Run(
            used,
            [&](int first, int end, float*) {
                for (int i = first; i < end; ++i)
                    table[i] = SigmoidWeight(i * step, scale, sigmoidOffset);
            },
            2048);
    }
    bands.Run(rows, [&](int first, int end, float* slot) {
        std::vector<int32_t> indices(flat ? 0 : static_cast<size_t>(cols));
        const __m128d perLn = _mm_set1_pd(kIndexPerLn);
        const __m128d half = _mm_set1_pd(0.5);
        const __m128d zero = _mm_setzero_pd();
        const __m128d top = _mm_set1_pd(kFIRTableSize - 1);
        // As tableIndex, two at a time: the bound 0 first, so that NaN goes to 0.
        auto index = [&](__m128d v) {
            return _mm_cvttpd_epi32(
                _mm_min_pd(_mm_max_pd(_mm_mul_pd(_mm_mul_pd(v, perLn), half), zero), top));
        };
        for (int y = first; y < end; ++y) {
            float* g = output.GetRow(y);
            const float* low = floor != nullptr ? floor->GetRow(y) : nullptr;
            if (inPlace && !flat) {
                // The edge rows and columns take their neighbours' gradients, as measured.
                const int yy = std::clamp(y, 1, rows - 2);
                g = slot + 3 * static_cast<size_t>(cols);
                GradientRow(g, input.GetRow(yy - 1), input.GetRow(yy), input.GetRow(yy + 1), cols, slot);
            }
            float* const out = output.GetRow(y);
            if (flat) {
                for (int x = 0; x < cols; ++x)
                    out[x] = low != nullptr ? std::max(low[x], flatWeight) : flatWeight;
                continue;
            }
            int x = 0;
            for (; x + 4 <= cols; x += 4) {
                const __m128 v = _mm_loadu_ps(g + x);
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(indices.data() + x),
                    _mm_unpacklo_epi64(index(_mm_cvtps_pd(v)), index(_mm_cvtps_pd(_mm_movehl_ps(v, v)))));
            }
            for (; x < cols; ++x)
                indices[x] = tableIndex(g[x]);
            for (x = 0; x < cols; ++x) {
                const float w = table[indices[x]];
                out[x] = low != nullptr ? std::max(low[x], w) : w;
            }
        }
    });
}

// Scratch and a context for the public building blocks.
struct OwnBands {
    std::vector<float> scratch;
    FIRBands bands;

    OwnBands(int cols, int rows, int threads)
    {
        bands.threads = std::max(1, threads);
        bands.pool = PassPool();
        bands.slotFloats = SlotFloats(cols, rows);
        scratch.resize(bands.slotFloats * static_cast<size_t>(SlotCount(bands.pool)) + kAlignFloats);
        bands.scratch = AlignUp(scratch.data());
    }
};

bool SameSize(const FPixmap& a, const FPixmap& b)
{
    return a.GetCols() == b.GetCols() && a.GetRows() == b.GetRows();
}

} // namespace

int FIRValueRange(double g)
{
    if (!(g > 0.0) || !std::isfinite(g))
        return 0;
    const double m = std::trunc(9000.0 / g * 4.0);
    return m >= kFIRMaxRange ? kFIRMaxRange : static_cast<int>(m);
}

float FIRDecay(float proportion, int cols, int rows)
{
    const int64_t span = (static_cast<int64_t>(cols) + rows) >> 2;
    const double x = static_cast<double>(proportion) * static_cast<double>(span);
    if (!(x > 0.0) || !std::isfinite(x))
        return 0.0f;
    const float d = static_cast<float>(std::exp2(-1.0 / x));
    return d > 0.0f ? d : 0.0f;
}

float FIRFlatAreaWeight(float scale, float sigmoidOffset)
{
    return SigmoidWeight(0.0, scale, sigmoidOffset);
}

void FIRSmooth2D(RGBPixmap& output, const RGBPixmap& input, float proportion, int threads)
{
    const float d = FIRDecay(proportion, input.GetCols(), input.GetRows());
    if (d <= 0.0f || !SameSize(output, input) || input.GetCols() < 1 || input.GetRows() < 1)
        return;
    OwnBands own(input.GetCols(), input.GetRows(), threads);
    Smooth2D<3>(output, input, d, own.bands);
}

void FIRSmooth2D(MonoPixmap& output, const MonoPixmap& input, float proportion, int threads)
{
    const float d = FIRDecay(proportion, input.GetCols(), input.GetRows());
    if (d <= 0.0f || !SameSize(output, input) || input.GetCols() < 1 || input.GetRows() < 1)
        return;
    OwnBands own(input.GetCols(), input.GetRows(), threads);
    Smooth2D<1>(output, input, d, own.bands);
}

void FIREdgeAwareSmooth(RGBPixmap& output, const RGBPixmap& input, const MonoPixmap& weights, float decay,
                        int threads)
{
    if (!(decay > 0.0f && decay <= 1.0f) || !SameSize(output, input) || !SameSize(weights, input) ||
        input.GetCols() < 1 || input.GetRows() < 1)
        return;
    OwnBands own(input.GetCols(), input.GetRows(), threads);
    EdgeAwareSmooth(output, input, weights, decay, own.bands);
}

void FIRGradientMagnitude(MonoPixmap& output, const RGBPixmap& input, int threads)
{
    if (!SameSize(output, input))
        return;
    OwnBands own(input.GetCols(), 1, threads);
    const size_t rows = static_cast<size_t>(std::max(input.GetRows(), 0));
    std::vector<double> sums(2 * rows);
    std::vector<float> maxima(rows);
    GradientMagnitude(&output, input, sums.data(), sums.data() + rows, maxima.data(), own.bands);
}

void FIREdgeWeights(MonoPixmap& output, const RGBPixmap& input, float locality, float scale,
                    float sigmoidOffset, int threads)
{
    if (!SameSize(output, input))
        return;
    OwnBands own(input.GetCols(), 1, threads);
    std::vector<float> table(kFIRTableSize);
    EdgeWeights(output, input, locality, scale, sigmoidOffset, table.data(), own.bands);
}

size_t FIRScratchBytes(int cols, int rows, int threads)
{
    const size_t slots = static_cast<size_t>(std::max(std::max(1, threads), SlotCount(PassPool())));
    return (slots * SlotFloats(cols, rows) + kAlignFloats) * sizeof(float);
}

size_t FIRScratch::Bytes() const
{
    return (m_logs.capacity() + m_powers.capacity() + m_sigmoid.capacity()) * sizeof(float) +
           m_exponentials.capacity() * sizeof(uint16_t);
}

void FIRScratch::Release()
{
    *this = FIRScratch();
}

// The tables of one call, kept by the caller's scratch. A table is marked as made for its
// value range only once it is whole, so a call cut short leaves nothing half made that a
// later call would take for ready.
struct FIRScratchAccess {
    struct Tables {
        float* logTable;
        float* powTable;
        float* lumaTable;
        float* edgeTable;
        uint16_t* expTable;
    };

    static bool Reserve(FIRScratch& s, int M, Tables& out)
    {
        try {
            s.m_logs.resize(std::max(s.m_logs.size(), static_cast<size_t>(M)));
            s.m_powers.resize(2 * 65536);
            s.m_sigmoid.resize(kFIRTableSize);
            s.m_exponentials.resize(kFIRTableSize);
        } catch (const std::bad_alloc&) {
            return false;
        }
        out = {s.m_logs.data(), s.m_powers.data(), s.m_powers.data() + 65536, s.m_sigmoid.data(),
               s.m_exponentials.data()};
        return true;
    }
    // Whether the log, luma-power and exponential tables of range M are whole; if not,
    // they are marked as not made until RangeTablesMade.
    static bool RangeTablesKept(FIRScratch& s, int M)
    {
        if (s.m_tablesRange == M)
            return true;
        s.m_tablesRange = 0;
        return false;
    }
    static void RangeTablesMade(FIRScratch& s, int M) { s.m_tablesRange = M; }
    static bool EdgePowersKept(FIRScratch& s, int M, float exponent)
    {
        if (s.m_edgePowersRange == M && s.m_edgePowersExponent == Bits(exponent))
            return true;
        s.m_edgePowersRange = 0;
        return false;
    }
    static void EdgePowersMade(FIRScratch& s, int M, float exponent)
    {
        s.m_edgePowersRange = M;
        s.m_edgePowersExponent = Bits(exponent);
    }
    static uint32_t Bits(float v)
    {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof(bits));
        return bits;
    }
};

namespace
{

bool AllFinite(std::initializer_list<float> values)
{
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

FIRResult Filter(SamplePixmap& image, SamplePixmap& reference, float pLocalMeanRef, float pLocalMeanEdgeRef,
                 float pLocalMeanImgWithEdgeRef, float locality, float sigmoidOffset, float scaleEdgeRef,
                 float scaleLocalMeanEdgeRef, float edgeExponent, float m, float g, FIRScratch& scratch,
                 float* sums, size_t sumBytes, int threads, const std::function<bool()>& cancelled);

// Samples clamped to [1, high] in place, eight at a time: data-dependent branches in the
// table passes cost more than the lookups on noisy dark images.
void ClampSamples(int16_t* v, int count, int high)
{
    const __m128i lo = _mm_set1_epi16(1);
    const __m128i hi = _mm_set1_epi16(static_cast<int16_t>(high));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i* p = reinterpret_cast<__m128i*>(v + i);
        _mm_storeu_si128(p, _mm_min_epi16(_mm_max_epi16(_mm_loadu_si128(p), lo), hi));
    }
    for (; i < count; ++i)
        v[i] = static_cast<int16_t>(std::clamp<int>(v[i], 1, high));
}

// The exponential-table index of each sample's filtered log value (the smoothed ratio put
// back onto the reference's log; the reference's log alone where that is not finite), four
// samples at a time.
void ExponentIndices(const float* ratio, const int16_t* r, const float* logTable, int count, int32_t* out)
{
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
    const __m128d scale = _mm_set1_pd(-kIndexPerLn);
    const __m128d zero = _mm_setzero_pd();
    const __m128d top = _mm_set1_pd(kFIRTableSize - 1);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 logRef =
            _mm_setr_ps(logTable[r[i]], logTable[r[i + 1]], logTable[r[i + 2]], logTable[r[i + 3]]);
        const __m128 sum = _mm_add_ps(_mm_loadu_ps(ratio + i), logRef);
        const __m128 finite = _mm_cmplt_ps(_mm_and_ps(sum, magnitude), infinity);
        const __m128 value = _mm_or_ps(_mm_and_ps(finite, sum), _mm_andnot_ps(finite, logRef));
        auto index = [&](__m128d v) {
            return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(_mm_mul_pd(v, scale), zero), top));
        };
        const __m128i lo = index(_mm_cvtps_pd(value));
        const __m128i hi = index(_mm_cvtps_pd(_mm_movehl_ps(value, value)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi64(lo, hi));
    }
    for (; i < count; ++i) {
        const float logRef = logTable[r[i]];
        float sum = ratio[i] + logRef;
        if (!std::isfinite(sum))
            sum = logRef;
        const double index = -static_cast<double>(sum) * kIndexPerLn;
        out[i] = index >= kFIRTableSize - 1 ? kFIRTableSize - 1 : index > 0.0 ? static_cast<int>(index) : 0;
    }
}

// The final mix of whole groups of four pixels, in doubles: with |Z|, |Y| < 2^31 and
// |u|, |2 v - u| < 2^16 every product and sum is an exact integer below 2^53, and flooring
// the sum over 8192 is the integer shift. Returns the pixels done.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
int MixPixels(int16_t* v, const float* weight, const float* powers, const int32_t* u, int64_t Z, int cols)
{
    const __m256d z = _mm256_set1_pd(static_cast<double>(Z));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    const __m256d infinity = _mm256_set1_pd(std::numeric_limits<double>::infinity());
    const __m256d low = _mm256_set1_pd(-2147483648.0);
    const __m256d high = _mm256_set1_pd(2147483647.0);
    const __m256d outLow = _mm256_set1_pd(-500.0);
    const __m256d outHigh = _mm256_set1_pd(24000.0);
    const __m256d shift = _mm256_set1_pd(1.0 / 8192.0);
    int x = 0;
    for (; x + 4 <= cols; x += 4) {
        // std::min(w, 1) keeps a NaN weight, as minps with the bound first does.
        const __m128 w = _mm_min_ps(_mm_set1_ps(1.0f), _mm_loadu_ps(weight + x));
        __m256d yMix =
            _mm256_mul_pd(_mm256_sub_pd(one, _mm256_cvtps_pd(w)), _mm256_cvtps_pd(_mm_loadu_ps(powers + x)));
        yMix = _mm256_mul_pd(yMix, z);
        const __m256d finite = _mm256_cmp_pd(_mm256_and_pd(yMix, magnitude), infinity, _CMP_LT_OQ);
        const __m256d clamped = _mm256_min_pd(_mm256_max_pd(yMix, low), high);
        const __m256d Y =
            _mm256_and_pd(finite, _mm256_round_pd(clamped, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
        const __m256d ys[3] = {_mm256_permute4x64_pd(Y, 0x40), _mm256_permute4x64_pd(Y, 0xA5),
                               _mm256_permute4x64_pd(Y, 0xFE)};
        int16_t* vx = v + 3 * x;
        const int32_t* ux = u + 3 * x;
        for (int k = 0; k < 3; ++k) {
            const __m256d uk =
                _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ux + 4 * k)));
            const __m256d vk = _mm256_cvtepi32_pd(
                _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(vx + 4 * k))));
            const __m256d sum = _mm256_add_pd(_mm256_mul_pd(z, uk),
                                              _mm256_mul_pd(ys[k], _mm256_sub_pd(_mm256_add_pd(vk, vk), uk)));
            const __m256d out =
                _mm256_min_pd(_mm256_max_pd(_mm256_floor_pd(_mm256_mul_pd(sum, shift)), outLow), outHigh);
            const __m128i o = _mm256_cvttpd_epi32(out);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(vx + 4 * k), _mm_packs_epi32(o, o));
        }
    }
    return x;
}
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

} // namespace

void FIRNoiseReduction(SamplePixmap& image, SamplePixmap& reference, float pLocalMeanRef,
                       float pLocalMeanEdgeRef, float pLocalMeanImgWithEdgeRef, float locality,
                       float sigmoidOffset, float scaleEdgeRef, float scaleLocalMeanEdgeRef,
                       float edgeExponent, float m, float g, void* scratch, size_t scratchBytes, int threads)
{
    FIRScratch own;
    Filter(image, reference, pLocalMeanRef, pLocalMeanEdgeRef, pLocalMeanImgWithEdgeRef, locality,
           sigmoidOffset, scaleEdgeRef, scaleLocalMeanEdgeRef, edgeExponent, m, g, own,
           static_cast<float*>(scratch),
           reinterpret_cast<uintptr_t>(scratch) % alignof(float) == 0 ? scratchBytes : 0, threads, {});
}

FIRResult FIRNoiseReduction(SamplePixmap& image, SamplePixmap& reference, float pLocalMeanRef,
                            float pLocalMeanEdgeRef, float pLocalMeanImgWithEdgeRef, float locality,
                            float sigmoidOffset, float scaleEdgeRef, float scaleLocalMeanEdgeRef,
                            float edgeExponent, float m, float g, FIRScratch& scratch, int threads,
                            const std::function<bool()>& cancelled)
{
    return Filter(image, reference, pLocalMeanRef, pLocalMeanEdgeRef, pLocalMeanImgWithEdgeRef, locality,
                  sigmoidOffset, scaleEdgeRef, scaleLocalMeanEdgeRef, edgeExponent, m, g, scratch, nullptr, 0,
                  threads, cancelled);
}

namespace
{

FIRResult Filter(SamplePixmap& image, SamplePixmap& reference, float pLocalMeanRef, float pLocalMeanEdgeRef,
                 float pLocalMeanImgWithEdgeRef, float locality, float sigmoidOffset, float scaleEdgeRef,
                 float scaleLocalMeanEdgeRef, float edgeExponent, float m, float g, FIRScratch& scratch,
                 float* sums, size_t sumBytes, int threads, const std::function<bool()>& cancelled)
{
    const int cols = reference.GetCols();
    const int rows = reference.GetRows();
    const int M = FIRValueRange(g);
    const float dRef = FIRDecay(pLocalMeanRef, cols, rows);
    const float dEdgeRef = FIRDecay(pLocalMeanEdgeRef, cols, rows);
    const float dImage = FIRDecay(pLocalMeanImgWithEdgeRef, cols, rows);
    if (cols < 1 || rows < 1 || image.GetCols() < cols || image.GetRows() < rows) {
        DebugTrace("FIRNoiseReduction: image and reference sizes do not fit\n");
        return FIRResult::kLeftAsIs;
    }
    if (M < 2 || dRef <= 0.0f || dEdgeRef <= 0.0f || dImage <= 0.0f ||
        !AllFinite({locality, sigmoidOffset, scaleEdgeRef, scaleLocalMeanEdgeRef, edgeExponent, m})) {
        DebugTrace("FIRNoiseReduction: unusable parameters, image left as it is\n");
        return FIRResult::kLeftAsIs;
    }
    const size_t pixels = static_cast<size_t>(cols) * static_cast<size_t>(rows);
    threads = std::max(1, threads);

    // Working storage; nothing is touched unless all of it is there. The planes go back to
    // the page store when the call ends, for the next stage's images to take.
    FIRBands bands;
    bands.threads = threads;
    bands.pool = threads > 1 ? PassPool() : nullptr;
    bands.slotFloats = SlotFloats(cols, rows);
    const size_t slots = static_cast<size_t>(SlotCount(bands.pool));
    const bool callerSums =
        sums != nullptr && sumBytes >= (slots * bands.slotFloats + kAlignFloats) * sizeof(float);
    const size_t sumFloats = callerSums ? 0 : bands.slotFloats * slots + kAlignFloats;
    FLargeBlock<float> planes;
    FIRScratchAccess::Tables t{};
    if (pixels > static_cast<size_t>(kFIRMaxPixels) || !planes.Reserve(4 * pixels + sumFloats) ||
        !FIRScratchAccess::Reserve(scratch, M, t)) {
        DebugTrace("FIRNoiseReduction: not enough memory for %d x %d, image left as it is\n", cols, rows);
        return FIRResult::kNoMemory;
    }
    float* const x = planes.Data();
    bands.scratch = AlignUp(callerSums ? sums : x + 4 * pixels);
    float* logTable = t.logTable;
    float* powTable = t.powTable;
    float* edgeTable = t.edgeTable;
    float* lumaTable = t.lumaTable;
    // At most 2 M = 48000: 16 bits hold every entry, and the table stays in the core's cache.
    uint16_t* expTable = t.expTable;
    RGBPixmap X(x, cols, rows, 0);
    // One weight plane: the edge weights, then the larger of them and those of the local
    // mean, then their smoothing.
    MonoPixmap W(x + 3 * pixels, cols, rows, 0);
    const double k = std::min(static_cast<double>(m), 7.0) * g;
    const int64_t Z = static_cast<int64_t>(std::clamp(std::trunc(k * 4096.0), -2147483648.0, 2147483647.0));

    // Both images are clamped to [1, M - 1] in the passes that first read them; clamping
    // again changes nothing, so a call cancelled before the mix leaves a repeat the same
    // result.
    const int high = M - 1;
    try {
        bands.cancelled = cancelled ? &cancelled : nullptr;
        // The reference mapped through a power, and its edges before and after a local
        // mean. Tables that depend only on M and the exponent are kept with the storage.
        if (!FIRScratchAccess::EdgePowersKept(scratch, M, edgeExponent)) {
            for (int i = 0; i < M; ++i)
                powTable[i] = static_cast<float>(
                    std::pow(static_cast<double>(i) / M, static_cast<double>(edgeExponent)));
            FIRScratchAccess::EdgePowersMade(scratch, M, edgeExponent);
        }
        bands.Run(rows, [&](int first, int end, float*) {
            for (int y = first; y < end; ++y) {
                int16_t* r = reference.GetRow(y);
                float* o = X.GetRow(y);
                ClampSamples(r, 3 * cols, high);
                for (int i = 0; i < 3 * cols; ++i)
                    o[i] = powTable[r[i]];
            }
        });
        EdgeWeights(W, X, locality, scaleEdgeRef, sigmoidOffset, edgeTable, bands);
        Smooth2D<3>(X, X, dRef, bands);
        EdgeWeights(W, X, locality, scaleLocalMeanEdgeRef, sigmoidOffset, edgeTable, bands, &W);

        // The log ratio, smoothed where the reference has no edges.
        if (!FIRScratchAccess::RangeTablesKept(scratch, M)) {
            for (int i = 0; i < M; ++i) {
                logTable[i] = static_cast<float>(std::log(static_cast<double>(i) / M + 1e-12));
                lumaTable[i] = static_cast<float>(std::pow(static_cast<double>(i) / M, 0.2));
            }
            bands.Run(
                kFIRTableSize,
                [&](int first, int end, float*) {
                    for (int j = first; j < end; ++j)
                        expTable[j] = static_cast<uint16_t>(std::trunc(2.0 * M * std::exp2(-j / kLogSteps)));
                },
                4096);
            FIRScratchAccess::RangeTablesMade(scratch, M);
        }
        // Made row by row as the edge-aware row filter takes them, never stored whole.
        auto logRatio = [&](int y, float* o) -> const float* {
            int16_t* v = image.GetRow(y);
            const int16_t* r = reference.GetRow(y);
            ClampSamples(v, 3 * cols, high);
            for (int i = 0; i < 3 * cols; ++i)
                o[i] = logTable[v[i]] - logTable[r[i]];
            return o;
        };
        RowPassFrom<3>(logRatio, &W, X, dImage, bands);
        ColumnPass<3, true>(X, &W, dImage, bands);
        Smooth2D<1>(W, W, dEdgeRef, bands);
        // Past this point the image changes: the mix runs to its end.
        if (bands.cancelled != nullptr && cancelled())
            return FIRResult::kCancelled;
        bands.cancelled = nullptr;
    } catch (const FIRCancelled&) {
        return FIRResult::kCancelled;
    }

    bands.Run(rows, [&](int first, int end, float*) {
        std::vector<int32_t> indices(3 * static_cast<size_t>(cols));
        std::vector<float> powers(static_cast<size_t>(cols));
        const bool useWide = HasAvx2();
        for (int y = first; y < end; ++y) {
            int16_t* v = image.GetRow(y);
            const int16_t* r = reference.GetRow(y);
            const float* weight = W.GetRow(y);
            ExponentIndices(X.GetRow(y), r, logTable, 3 * cols, indices.data());
            for (int i = 0; i < 3 * cols; ++i)
                indices[i] = expTable[indices[i]];
            int x = 0;
            if (useWide) {
                for (int p = 0; p < cols; ++p)
                    powers[p] = lumaTable[(r[3 * p] + 2 * r[3 * p + 1] + r[3 * p + 2]) >> 2];
                x = MixPixels(v, weight, powers.data(), indices.data(), Z, cols);
            }
            for (; x < cols; ++x) {
                const int64_t u[3] = {indices[3 * x], indices[3 * x + 1], indices[3 * x + 2]};
                const float w = std::min(weight[x], 1.0f);
                const int luma = (r[3 * x] + 2 * r[3 * x + 1] + r[3 * x + 2]) >> 2;
                // Clamping before the conversion truncates gives what truncating first would.
                double yMix = (1.0 - static_cast<double>(w)) * lumaTable[luma] * static_cast<double>(Z);
                if (!std::isfinite(yMix))
                    yMix = 0.0;
                const int64_t Y = static_cast<int64_t>(std::clamp(yMix, -2147483648.0, 2147483647.0));
                for (int ch = 0; ch < 3; ++ch) {
                    const int64_t out = (Z * u[ch] + Y * (2 * int64_t{v[3 * x + ch]} - u[ch])) >> 13;
                    v[3 * x + ch] = static_cast<int16_t>(std::clamp<int64_t>(out, -500, 24000));
                }
            }
        }
    });
    return FIRResult::kFiltered;
}

} // namespace
