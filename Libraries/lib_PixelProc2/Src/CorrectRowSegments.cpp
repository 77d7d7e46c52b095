#include "CorrectRowSegments.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <immintrin.h>

#include "FCamdataAccessors.h"
#include "RunInRowBands.h"

namespace
{

constexpr int32_t kClipHigh = 32000;

// Camera-data values can be anything a file holds: every conversion to an integer is
// finite and bounded, so the 64-bit column arithmetic below cannot overflow. The bounds
// lie far outside any working calibration.
constexpr double kCoefficientLimit = 2147483648.0; // Q14 values, |coefficient| < 131072
constexpr double kPolyLimit = 16777216.0;          // Q14 polynomial, |coefficient| < 1024
constexpr double kGainLimit = 1099511627776.0;     // Q22 gain accumulator, |gain| < 262144
constexpr int64_t kValueLimit = int64_t{1} << 20;  // corrected values before the polynomial
constexpr int64_t kPolyValueLimit = int64_t{1} << 24;

int64_t TruncBounded(double v, double limit)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int64_t>(std::trunc(std::clamp(v, -limit, limit)));
}

int64_t Q14(double v)
{
    return TruncBounded(v * 16384.0, kCoefficientLimit);
}

// Q14 coefficients of the polynomial, by truncation.
struct PolyFixed {
    int64_t a[3][9] = {};

    explicit PolyFixed(const FPostPolyMatrix& p)
    {
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 9; ++k)
                a[c][k] = TruncBounded(p.m[9 * c + k] * 16384.0, kPolyLimit);
    }
};

// Products in 64 bits: the same as 32-bit arithmetic for in-range samples, and no
// overflow for extreme ones.
inline int64_t Sq(int64_t v)
{
    return (v * v) >> 14;
}
inline int64_t Cube(int64_t v)
{
    return (v * Sq(v)) >> 14;
}

// Inlined: called once per pixel, a call costs as much as the arithmetic.
[[gnu::always_inline]] inline void PolyFull(const PolyFixed& p, int64_t w[3])
{
    const int64_t r = w[0], g = w[1], b = w[2];
    const int64_t t[9] = {Sq(r),         Sq(g),   Sq(b),   (r * g) >> 14, (r * b) >> 14,
                          (g * b) >> 14, Cube(r), Cube(g), Cube(b)};
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        const int64_t* a = p.a[c];
        // Written out: the exact integer sum in registers, with no loop over the terms.
        const int64_t sum = a[0] * t[0] + a[1] * t[1] + a[2] * t[2] + a[3] * t[3] + a[4] * t[4] +
                            a[5] * t[5] + a[6] * t[6] + a[7] * t[7] + a[8] * t[8];
        w[c] += sum >> 14;
    }
}

[[gnu::always_inline]] inline void PolySquares(const PolyFixed& p, int64_t w[3])
{
    const int64_t sr = Sq(w[0]), sg = Sq(w[1]), sb = Sq(w[2]);
    for (int c = 0; c < 3; ++c)
        w[c] += (p.a[c][0] * sr + p.a[c][1] * sg + p.a[c][2] * sb) >> 14;
}

[[gnu::always_inline]] inline void PolyOwnChannel(const PolyFixed& p, int64_t w[3])
{
    for (int c = 0; c < 3; ++c) {
        const int64_t v = w[c];
        w[c] = (v * 16384 + p.a[c][c] * Sq(v) + p.a[c][6 + c] * Cube(v)) >> 14;
    }
}

enum class PolyForm { None, OwnChannel, Squares, Full };

PolyForm ChoosePolyForm(const PolyFixed& p)
{
    bool any = false;
    bool ownOnly = true;
    bool squaresOnly = true;
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 9; ++k) {
            if (p.a[c][k] == 0)
                continue;
            any = true;
            if (k != c && k != 6 + c)
                ownOnly = false;
            if (k > 2)
                squaresOnly = false;
        }
    if (!any)
        return PolyForm::None;
    if (ownOnly)
        return PolyForm::OwnChannel;
    if (squaresOnly)
        return PolyForm::Squares;
    return PolyForm::Full;
}

struct RowSetup {
    int64_t k1[3], k2[3], k3[3], k4[3], o[3];
    int64_t d[3], s[3];
    bool anyK2 = false;
};

template <PolyForm Form>
void ApplyPoly(const PolyFixed& p, int64_t w[3])
{
    if constexpr (Form == PolyForm::Full)
        PolyFull(p, w);
    else if constexpr (Form == PolyForm::Squares)
        PolySquares(p, w);
    else if constexpr (Form == PolyForm::OwnChannel)
        PolyOwnChannel(p, w);
}

// Gain nodes along the row: a Q22 accumulator moved by a fixed increment per column and
// reset at each node.
struct GainWalk {
    const float* nodes = nullptr;
    uint32_t count = 0;
    uint32_t k = 0;
    float step = 0.0f;
    float boundary = 0.0f;
    double g[3] = {};
    float gs[3] = {};
    int64_t acc[3] = {};
    int64_t inc[3] = {};

    float Node(uint32_t i, int c) const { return nodes != nullptr ? nodes[3 * i + c] : 1.0f; }

    void Start(const float* gainRow, uint32_t nodeCount, uint32_t columns, const FDoubleRGB& gain)
    {
        nodes = nodeCount > 0 ? gainRow : nullptr;
        count = nodes != nullptr ? nodeCount : 0;
        g[0] = gain.r * 4194304.0;
        g[1] = gain.g * 4194304.0;
        g[2] = gain.b * 4194304.0;
        for (int c = 0; c < 3; ++c) {
            gs[c] = static_cast<float>(g[c]);
            acc[c] = TruncBounded(gs[c] * Node(0, c), kGainLimit);
            inc[c] = 0;
        }
        // Fewer than two nodes: one constant gain, no boundary ever reached.
        if (count < 2) {
            boundary = static_cast<float>(columns) + 1.0f;
            return;
        }
        step = static_cast<float>(columns) / static_cast<float>(count - 1);
        boundary = step;
        for (int c = 0; c < 3; ++c)
            inc[c] = TruncBounded(((Node(1, c) - Node(0, c)) / step) * gs[c], kGainLimit);
    }

    void Advance()
    {
        ++k;
        for (int c = 0; c < 3; ++c) {
            acc[c] = TruncBounded(g[c] * Node(k, c), kGainLimit);
            inc[c] =
                k + 1 < count ? TruncBounded(((Node(k + 1, c) - Node(k, c)) / step) * gs[c], kGainLimit) : 0;
        }
        boundary = k + 1 < count ? boundary + step : static_cast<float>(1e30);
    }
};

// One pixel: v its input, prev the input of the column before, g its spatial gain.
template <PolyForm Form>
[[gnu::always_inline]] inline void CorrectPixel(int16_t* px, const int64_t v[3], const int64_t prev[3],
                                                bool boundary, const int64_t drift[3], const int64_t g[3],
                                                const RowSetup& su, const PolyFixed& poly)
{
    int64_t w[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        const int64_t d = v[c] - prev[c];
        int64_t t = v[c] * 16384 + su.k1[c] * d;
        if (su.anyK2)
            t += su.k2[c] * ((d * d) >> 14);
        if (boundary)
            t += su.k3[c] * prev[c] + su.k4[c];
        w[c] = std::clamp((t - drift[c] - su.o[c]) >> 14, -kValueLimit, kValueLimit);
    }
    ApplyPoly<Form>(poly, w);
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        int64_t out = (std::clamp(w[c], -kPolyValueLimit, kPolyValueLimit) * g[c]) >> 14;
        if (out > kClipHigh)
            out = kClipHigh;
        px[c] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(out)));
    }
}

inline int64_t GainOf(int64_t acc)
{
    return std::clamp<int64_t>(acc >> 8, INT32_MIN, INT32_MAX);
}

// The first column x with float(x) >= boundary, the test the gain walk makes per column.
uint32_t FirstColumnAtOrPast(float boundary, uint32_t columns)
{
    if (!(boundary > 0.0f))
        return 0;
    if (!(boundary < static_cast<float>(columns)))
        return columns;
    uint32_t c = static_cast<uint32_t>(std::ceil(static_cast<double>(boundary)));
    while (c > 0 && static_cast<float>(c - 1) >= boundary)
        --c;
    while (static_cast<float>(c) < boundary)
        ++c;
    return c;
}

template <PolyForm Form>
void TransformColumns(int16_t* row, uint32_t columns, const RowSetup& su, int32_t interval,
                      const PolyFixed& poly, GainWalk& gw)
{
    int64_t prev[3] = {row[0], row[1], row[2]};
    int64_t drift[3] = {su.d[0], su.d[1], su.d[2]};
    const bool segments = interval > 1;
    // Columns until the next segment boundary, counted down instead of divided out.
    uint32_t toBoundary = 0;
    uint32_t x = 0;
    while (x < columns) {
        if (static_cast<float>(x) >= gw.boundary)
            gw.Advance();
        // Up to the next gain node the walk only adds: its state stays in registers.
        const uint32_t end = std::min(columns, std::max(x + 1, FirstColumnAtOrPast(gw.boundary, columns)));
        int64_t acc[3] = {gw.acc[0], gw.acc[1], gw.acc[2]};
        const int64_t inc[3] = {gw.inc[0], gw.inc[1], gw.inc[2]};
        for (; x < end; ++x) {
            const bool boundary = segments && toBoundary == 0;
            toBoundary = toBoundary == 0 ? static_cast<uint32_t>(interval) - 1 : toBoundary - 1;
            int16_t* px = row + 3 * static_cast<size_t>(x);
            const int64_t v[3] = {px[0], px[1], px[2]};
            const int64_t g[3] = {GainOf(acc[0]), GainOf(acc[1]), GainOf(acc[2])};
            CorrectPixel<Form>(px, v, prev, boundary, drift, g, su, poly);
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                prev[c] = v[c];
                acc[c] += inc[c];
                drift[c] += su.s[c];
            }
        }
        for (int c = 0; c < 3; ++c)
            gw.acc[c] = acc[c];
    }
}

// Row storage of the four-column path: the input as doubles per channel with the first
// column repeated in front (so that entry x is the column before x), and the gains.
struct RowPlanes {
    std::vector<double> values; // 3 x (columns + 1)
    std::vector<double> gains;  // 3 x columns
};

// Every step of the column arithmetic stays an exact integer below 2^53 in doubles when
// the polynomial's Q14 coefficients are below 2^17 (8.0), the drift line below 2^50 and the
// gains below 2^28; the four-column path is taken only then.
constexpr double kWideCoefficient = 131072.0;
constexpr double kWideDrift = 1125899906842624.0;
constexpr int64_t kWideGain = int64_t{1} << 28;

bool WideCoefficients(const PolyFixed& p)
{
    for (const auto& row : p.a)
        for (int64_t a : row)
            if (static_cast<double>(a < 0 ? -a : a) >= kWideCoefficient)
                return false;
    return true;
}

bool WideDrift(const RowSetup& su, uint32_t columns)
{
    for (int c = 0; c < 3; ++c) {
        const double reach = std::fabs(static_cast<double>(su.d[c])) +
                             std::fabs(static_cast<double>(su.s[c])) * static_cast<double>(columns);
        if (!(reach < kWideDrift))
            return false;
    }
    return true;
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256d Floor14(__m256d v)
{
    return _mm256_floor_pd(_mm256_mul_pd(v, _mm256_set1_pd(1.0 / 16384.0)));
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256d Splat(int64_t v)
{
    return _mm256_set1_pd(static_cast<double>(v));
}

// Columns 0 .. columns - columns % 4 - 1 through the full polynomial (zero coefficients
// give the reduced forms' results exactly), four at a time in doubles, boundaries of
// segments left to the caller. Returns false, touching nothing, where AVX2 is missing.
[[gnu::target("avx2")]] void WideColumns(int16_t* row, uint32_t columns, const RowSetup& su,
                                         const PolyFixed& p, const RowPlanes& planes)
{
    const size_t stride = static_cast<size_t>(columns) + 1;
    const __m256d q14 = _mm256_set1_pd(16384.0);
    const __m256d valueLimit = _mm256_set1_pd(static_cast<double>(kValueLimit));
    const __m256d polyLimit = _mm256_set1_pd(static_cast<double>(kPolyValueLimit));
    const __m256d clip = _mm256_set1_pd(static_cast<double>(kClipHigh));
    const __m256d wrap = _mm256_set1_pd(65536.0), invWrap = _mm256_set1_pd(1.0 / 65536.0);
    __m256d xs = _mm256_setr_pd(0.0, 1.0, 2.0, 3.0);
    const __m256d four = _mm256_set1_pd(4.0);
    const uint32_t wideEnd = columns - columns % 4;
    for (uint32_t x = 0; x < wideEnd; x += 4, xs = _mm256_add_pd(xs, four)) {
        __m256d w[3];
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            const double* vc = planes.values.data() + c * stride;
            const __m256d prev = _mm256_loadu_pd(vc + x);
            const __m256d v = _mm256_loadu_pd(vc + x + 1);
            const __m256d d = _mm256_sub_pd(v, prev);
            __m256d t = _mm256_add_pd(_mm256_mul_pd(v, q14), _mm256_mul_pd(Splat(su.k1[c]), d));
            if (su.anyK2)
                t = _mm256_add_pd(t, _mm256_mul_pd(Splat(su.k2[c]), Floor14(_mm256_mul_pd(d, d))));
            const __m256d drift = _mm256_add_pd(Splat(su.d[c]), _mm256_mul_pd(xs, Splat(su.s[c])));
            const __m256d shifted = Floor14(_mm256_sub_pd(_mm256_sub_pd(t, drift), Splat(su.o[c])));
            w[c] = _mm256_min_pd(_mm256_max_pd(shifted, _mm256_sub_pd(_mm256_setzero_pd(), valueLimit)),
                                 valueLimit);
        }
        const __m256d r = w[0], g = w[1], b = w[2];
        const __m256d sr = Floor14(_mm256_mul_pd(r, r)), sg = Floor14(_mm256_mul_pd(g, g)),
                      sb = Floor14(_mm256_mul_pd(b, b));
        const __m256d terms[9] = {sr,
                                  sg,
                                  sb,
                                  Floor14(_mm256_mul_pd(r, g)),
                                  Floor14(_mm256_mul_pd(r, b)),
                                  Floor14(_mm256_mul_pd(g, b)),
                                  Floor14(_mm256_mul_pd(r, sr)),
                                  Floor14(_mm256_mul_pd(g, sg)),
                                  Floor14(_mm256_mul_pd(b, sb))};
        alignas(32) int32_t codes[3][4];
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            __m256d sum = _mm256_mul_pd(Splat(p.a[c][0]), terms[0]);
#pragma GCC unroll 8
            for (int k = 1; k < 9; ++k)
                sum = _mm256_add_pd(sum, _mm256_mul_pd(Splat(p.a[c][k]), terms[k]));
            const __m256d polished = _mm256_add_pd(w[c], Floor14(sum));
            const __m256d bounded = _mm256_min_pd(
                _mm256_max_pd(polished, _mm256_sub_pd(_mm256_setzero_pd(), polyLimit)), polyLimit);
            const __m256d gain = _mm256_loadu_pd(planes.gains.data() + c * static_cast<size_t>(columns) + x);
            const __m256d out = _mm256_min_pd(Floor14(_mm256_mul_pd(bounded, gain)), clip);
            // The low 16 bits of the integer, as the scalar store keeps them.
            const __m256d low =
                _mm256_sub_pd(out, _mm256_mul_pd(wrap, _mm256_floor_pd(_mm256_mul_pd(out, invWrap))));
            _mm_store_si128(reinterpret_cast<__m128i*>(codes[c]), _mm256_cvttpd_epi32(low));
        }
        int16_t* px = row + 3 * static_cast<size_t>(x);
        for (int k = 0; k < 4; ++k)
            for (int c = 0; c < 3; ++c)
                px[3 * k + c] = static_cast<int16_t>(static_cast<uint16_t>(codes[c][k]));
    }
}

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// The whole row through the four-column path where it is exact, the segment boundaries
// and the last columns one by one; false when the row must take the one-by-one path.
bool TransformColumnsWide(int16_t* row, uint32_t columns, const RowSetup& su, int32_t interval,
                          const PolyFixed& poly, GainWalk gw, RowPlanes& planes)
{
    if (columns < 4 || !HasAvx2() || !WideCoefficients(poly) || !WideDrift(su, columns))
        return false;
    const size_t stride = static_cast<size_t>(columns) + 1;
    planes.values.resize(3 * stride);
    planes.gains.resize(3 * static_cast<size_t>(columns));
    int64_t acc[3] = {gw.acc[0], gw.acc[1], gw.acc[2]};
    for (uint32_t x = 0; x < columns;) {
        if (static_cast<float>(x) >= gw.boundary) {
            gw.Advance();
            std::copy_n(gw.acc, 3, acc);
        }
        const uint32_t end = std::min(columns, std::max(x + 1, FirstColumnAtOrPast(gw.boundary, columns)));
        for (int c = 0; c < 3; ++c) {
            // Between nodes the accumulator is linear, so the run's ends bound its gains.
            int64_t a = acc[c];
            const int64_t inc = gw.inc[c];
            const int64_t last = GainOf(a + static_cast<int64_t>(end - 1 - x) * inc);
            const int64_t lo = std::min(GainOf(a), last), hi = std::max(GainOf(a), last);
            if (hi >= kWideGain || lo <= -kWideGain)
                return false;
            double* gains = planes.gains.data() + c * static_cast<size_t>(columns);
            for (uint32_t i = x; i < end; ++i, a += inc)
                gains[i] = static_cast<double>(a >> 8);
            acc[c] = a;
        }
        x = end;
    }
    for (int c = 0; c < 3; ++c) {
        double* vc = planes.values.data() + c * stride;
        vc[0] = row[c];
        for (uint32_t x = 0; x < columns; ++x)
            vc[x + 1] = row[3 * static_cast<size_t>(x) + c];
    }
    WideColumns(row, columns, su, poly, planes);
    // Segment boundaries and the columns past the last group of four, from the kept input.
    auto single = [&](uint32_t x, bool boundary) {
        int64_t v[3], prev[3], drift[3], g[3];
        for (int c = 0; c < 3; ++c) {
            const double* vc = planes.values.data() + c * stride;
            v[c] = static_cast<int64_t>(vc[x + 1]);
            prev[c] = static_cast<int64_t>(vc[x]);
            drift[c] = su.d[c] + static_cast<int64_t>(x) * su.s[c];
            g[c] = static_cast<int64_t>(planes.gains[c * static_cast<size_t>(columns) + x]);
        }
        CorrectPixel<PolyForm::Full>(row + 3 * static_cast<size_t>(x), v, prev, boundary, drift, g, su, poly);
    };
    const uint32_t wideEnd = columns - columns % 4;
    if (interval > 1)
        for (uint32_t x = 0; x < wideEnd; x += static_cast<uint32_t>(interval))
            single(x, true);
    for (uint32_t x = wideEnd; x < columns; ++x)
        single(x, interval > 1 && x % static_cast<uint32_t>(interval) == 0);
    return true;
}

double Channel(const FDoubleRGB& v, int c)
{
    return c == 0 ? v.r : (c == 1 ? v.g : v.b);
}

void SetChannel(FDoubleRGB& v, int c, double x)
{
    (c == 0 ? v.r : (c == 1 ? v.g : v.b)) = x;
}

// The trimmed mean excess of one shield's columns [first, last] over the expected level
// (Q11), in sample steps.
FDoubleRGB ShieldOffset(const int16_t* row, int32_t first, int32_t last, const int64_t filter[3],
                        const int64_t expected[3])
{
    FDoubleRGB out;
    for (int c = 0; c < 3; ++c) {
        int64_t p = row[3 * (first - 1) + c];
        int64_t sum = 0;
        int64_t largest = -(int64_t{1} << 30);
        int64_t smallest = int64_t{1} << 30;
        for (int32_t x = first; x <= last; ++x) {
            const int64_t v = row[3 * x + c];
            const int64_t e = v * 2048 + filter[c] * (v - p) - expected[c];
            p = v;
            sum += e;
            largest = std::max(largest, e);
            smallest = std::min(smallest, e);
        }
        const double trimmed = static_cast<double>(sum - largest - smallest);
        SetChannel(out, c, trimmed / (static_cast<double>(last - first - 1) * 2048.0));
    }
    return out;
}

bool ValidShieldOffset(const FDoubleRGB& o)
{
    return o.r < 100.0 && o.g < 100.0 && o.b < 100.0;
}

double Median3(double a, double b, double c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

} // namespace

void FPostPolyMatrix::Apply(FDoubleRGB& out, const FDoubleRGB& in) const
{
    const PolyFixed p(*this);
    int64_t w[3] = {TruncBounded(in.r + 0.5, kValueLimit), TruncBounded(in.g + 0.5, kValueLimit),
                    TruncBounded(in.b + 0.5, kValueLimit)};
    PolyFull(p, w);
    out = {static_cast<double>(w[0]), static_cast<double>(w[1]), static_cast<double>(w[2])};
}

void CorrectRowSegments(FDoubleRGB* offsets, const FPixmapTemplate<FPixelClass48SRGB>& image, uint32_t rows,
                        int32_t l0, int32_t l1, int32_t r0, int32_t r1, const FDoubleRGB& columnFilter,
                        const FDriftPair& drift, double gain, double scale, const FRect& activeArea,
                        bool colourAverage)
{
    const int64_t n = rows;
    for (int64_t i = 0; i < n; ++i)
        offsets[i] = FDoubleRGB();
    // The active area is kept inside the rows, so the copies below stay in the array.
    const int64_t top = std::clamp<int64_t>(activeArea.top, 0, n);
    const int64_t bottom = std::clamp<int64_t>(activeArea.bottom, top, n);
    const int cols = image.GetCols();
    const bool shieldsInside = l0 >= 1 && r0 >= 1 && l1 < cols && r1 < cols;
    if (l1 - static_cast<int64_t>(l0) < 3 || r1 - static_cast<int64_t>(r0) < 3 || bottom - top < 10 ||
        !(gain > 0.0) || !(scale > 0.0) || n < 4 || n > image.GetRows() || !shieldsInside)
        return;

    const int64_t filter[3] = {TruncBounded(2048.0 * columnFilter.r, 268435456.0),
                               TruncBounded(2048.0 * columnFilter.g, 268435456.0),
                               TruncBounded(2048.0 * columnFilter.b, 268435456.0)};
    for (int64_t r = 0; r < n; ++r) {
        FDrift d;
        InterpolateDriftForRow(d, drift, static_cast<uint32_t>(r), static_cast<uint32_t>(n));
        int64_t leftLevel[3], rightLevel[3];
        for (int c = 0; c < 3; ++c) {
            const int64_t m = TruncBounded(2048.0 * Channel(d.level, c), kGainLimit);
            const int64_t h = TruncBounded(2048.0 * 0.5 * Channel(d.slope, c), kGainLimit);
            leftLevel[c] = m - h;
            rightLevel[c] = m + h;
        }
        const int16_t* row = image.GetRow(static_cast<int>(r));
        const FDoubleRGB left = ShieldOffset(row, l0, l1, filter, leftLevel);
        const FDoubleRGB right = ShieldOffset(row, r0, r1, filter, rightLevel);
        const bool leftOk = ValidShieldOffset(left);
        const bool rightOk = ValidShieldOffset(right);
        if (leftOk && rightOk)
            offsets[r] = {(left.r + 3 * right.r) / 4, (left.g + 3 * right.g) / 4, (left.b + 3 * right.b) / 4};
        else if (leftOk)
            offsets[r] = left;
        else if (rightOk)
            offsets[r] = right;
    }

    for (int64_t i = 0; i < top; ++i)
        offsets[i] = offsets[std::min(top + i, n - 1)];
    for (int64_t i = bottom; i < n; ++i)
        offsets[i] = offsets[std::max<int64_t>(i - (n - bottom), 0)];

    const std::vector<FDoubleRGB> before(offsets, offsets + n);
    for (int64_t i = 1; i + 1 < n; ++i)
        for (int c = 0; c < 3; ++c)
            SetChannel(offsets[i], c,
                       Median3(Channel(before[i - 1], c), Channel(before[i], c), Channel(before[i + 1], c)));
    for (int c = 0; c < 3; ++c) {
        SetChannel(offsets[n - 1], c, (Channel(before[n - 2], c) + Channel(before[n - 1], c)) / 2);
        SetChannel(offsets[0], c, (Channel(offsets[1], c) + Channel(offsets[3], c)) / 2);
    }

    const double alpha = 1.0 - std::exp(-1.0 / scale);
    for (int c = 0; c < 3; ++c) {
        double s = Channel(offsets[0], c);
        double sum = 0.0;
        for (int64_t i = 0; i < n; ++i) {
            s = s + alpha * (Channel(offsets[i], c) - s);
            SetChannel(offsets[i], c, s);
            sum += s;
        }
        const double mean = sum / static_cast<double>(n);
        double b = s;
        for (int64_t i = n - 1; i >= 0; --i) {
            b = b + alpha * ((Channel(offsets[i], c) - mean) - b);
            SetChannel(offsets[i], c, b * gain);
        }
    }

    if (!colourAverage)
        return;
    double cross[3] = {0.0, 0.0, 0.0};
    double square = 0.0;
    std::vector<double> grey(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const FDoubleRGB& o = offsets[i];
        grey[i] = (o.r + 2 * o.g + o.b) / 4;
        cross[0] += o.r * grey[i];
        cross[1] += o.g * grey[i];
        cross[2] += o.b * grey[i];
        square += grey[i] * grey[i];
    }
    // All grey offsets zero: nothing to share out, and no 0/0.
    if (square == 0.0) {
        for (int64_t i = 0; i < n; ++i)
            offsets[i] = FDoubleRGB();
        return;
    }
    for (int64_t i = 0; i < n; ++i)
        offsets[i] = {cross[0] / square * grey[i], cross[1] / square * grey[i], cross[2] / square * grey[i]};
}

void InterpolateGainTableRow(const FCamdataGainTable& table, uint32_t row, uint32_t imageRows, float* out)
{
    if (table.m_pData == nullptr || table.m_iRows < 1 || table.m_iColumns < 1)
        return;
    const double last = static_cast<double>(table.m_iRows - 1);
    double y = imageRows < 2 ? 0.0 : static_cast<double>(row) / static_cast<double>(imageRows - 1) * last;
    y = std::clamp(y, 0.0, last);
    const int64_t i0 = static_cast<int64_t>(std::floor(y));
    const int64_t i1 = static_cast<int64_t>(std::ceil(y));
    const double f = y - static_cast<double>(i0);
    const int64_t rowFloats = 3 * static_cast<int64_t>(table.m_iColumns);
    const float* a = table.m_pData + i0 * rowFloats;
    const float* b = table.m_pData + i1 * rowFloats;
    for (int64_t j = 0; j < rowFloats; ++j)
        out[j] = static_cast<float>(a[j] + f * (b[j] - a[j]));
}

namespace
{

void TransformRow(int16_t* row, uint32_t columns, const FDoubleRGB& columnFilter,
                  const FDoubleRGB& columnFilterSquare, const FDoubleRGB& segmentCapacitance,
                  const FDoubleRGB& segmentFeedThrough, int32_t segmentInterval, const FDrift& rowDrift,
                  const FDoubleRGB& offset, const FPostPolyMatrix& poly, const float* gainRow,
                  uint32_t gainNodes, const FDoubleRGB& gain, RowPlanes& planes)
{
    if (columns == 0)
        return;
    RowSetup su;
    for (int c = 0; c < 3; ++c) {
        const int64_t s = TruncBounded(16384.0 * Channel(rowDrift.slope, c) / columns, kCoefficientLimit);
        const int64_t l = Q14(Channel(rowDrift.level, c));
        su.s[c] = s;
        su.d[c] = l - s * (columns / 2);
        su.k1[c] = Q14(Channel(columnFilter, c));
        su.k2[c] = Q14(Channel(columnFilterSquare, c));
        su.k3[c] = Q14(Channel(segmentCapacitance, c));
        su.k4[c] = Q14(Channel(segmentFeedThrough, c));
        su.o[c] = Q14(Channel(offset, c));
        su.anyK2 = su.anyK2 || su.k2[c] != 0;
    }
    const PolyFixed p(poly);
    GainWalk gw;
    gw.Start(gainRow, gainNodes, columns, gain);
    const PolyForm form = ChoosePolyForm(p);
    // Zero coefficients make the full polynomial give the reduced forms' results exactly.
    if (TransformColumnsWide(row, columns, su, segmentInterval, p, gw, planes))
        return;
    switch (form) {
    case PolyForm::None:
        TransformColumns<PolyForm::None>(row, columns, su, segmentInterval, p, gw);
        return;
    case PolyForm::OwnChannel:
        TransformColumns<PolyForm::OwnChannel>(row, columns, su, segmentInterval, p, gw);
        return;
    case PolyForm::Squares:
        TransformColumns<PolyForm::Squares>(row, columns, su, segmentInterval, p, gw);
        return;
    case PolyForm::Full:
        TransformColumns<PolyForm::Full>(row, columns, su, segmentInterval, p, gw);
        return;
    }
}

} // namespace

void TransformRowFixed(int16_t* row, uint32_t columns, const FDoubleRGB& columnFilter,
                       const FDoubleRGB& columnFilterSquare, const FDoubleRGB& segmentCapacitance,
                       const FDoubleRGB& segmentFeedThrough, int32_t segmentInterval, const FDrift& rowDrift,
                       const FDoubleRGB& offset, const FPostPolyMatrix& poly, const float* gainRow,
                       uint32_t gainNodes, const FDoubleRGB& gain)
{
    RowPlanes planes;
    TransformRow(row, columns, columnFilter, columnFilterSquare, segmentCapacitance, segmentFeedThrough,
                 segmentInterval, rowDrift, offset, poly, gainRow, gainNodes, gain, planes);
}

void TransformImageFixed(const FPixmapTemplate<FPixelClass48SRGB>& image, const FRowTransformSettings& st,
                         int threads)
{
    const int rows = image.GetRows();
    const uint32_t cols = static_cast<uint32_t>(std::max(image.GetCols(), 0));
    const uint32_t nodes = st.gainTable != nullptr && st.gainTable->m_pData != nullptr
                               ? static_cast<uint32_t>(std::max(st.gainTable->m_iColumns, 0))
                               : 0;
    RunInRowBands(rows, BalancedBands(rows, threads, 16), [&](int first, int end) {
        std::vector<float> gainRow(3 * static_cast<size_t>(nodes));
        RowPlanes planes;
        for (int y = first; y < end; ++y) {
            FDrift d;
            InterpolateDriftForRow(d, st.drift, static_cast<uint32_t>(y), static_cast<uint32_t>(rows));
            if (nodes > 0)
                InterpolateGainTableRow(*st.gainTable, static_cast<uint32_t>(y), static_cast<uint32_t>(rows),
                                        gainRow.data());
            FDoubleRGB offset = st.flare;
            if (st.rowOffsets != nullptr)
                offset.AddInPlace(st.rowOffsets[y]);
            TransformRow(image.GetRow(y), cols, st.columnFilter, st.columnFilterSquare, st.segmentCapacitance,
                         st.segmentFeedThrough, st.segmentInterval, d, offset, st.poly,
                         nodes > 0 ? gainRow.data() : nullptr, nodes, st.gain, planes);
        }
    });
}
