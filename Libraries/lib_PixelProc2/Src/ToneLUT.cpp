#include "ToneLUT.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <immintrin.h>
#include <vector>

#include "FException.h"

namespace
{

constexpr int kQ12One = 4096;
constexpr int kPositiveHalfEnd = 32767;
constexpr int kNegativeHalfStart = 32768;
constexpr int kToneSampleStep = 32;
constexpr int kToneLastSample = 8160;
constexpr int kToneEntryMax = 16384; // 4.0 in Q12

// The shoulder starts above 0.4 and tends to 1.5, passing 1.0 at about 1.0566.
double TransferCurve(const FGammaSegment& s, double x)
{
    double f = x <= s.x1 ? s.S2 * x + s.B : (std::pow(x, s.g) - s.A) / (1.0 - s.A);
    if (f > 0.4)
        f = 1.5 * f / std::pow(f * f * f * f + 1.5 * 1.5 * 1.5 * 1.5, 0.25);
    return f;
}

int16_t StoreUnsigned(long v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(v));
}

// trunc(v x 4096 + 0.5) held to the table's range; a value that is not finite cannot
// reach the integer conversion.
int16_t ToneEntry(double v)
{
    const double q = v * kQ12One + 0.5;
    if (!(q > 0.0))
        return 0;
    if (q >= kToneEntryMax)
        return kToneEntryMax;
    return static_cast<int16_t>(q);
}

int16_t SaturateInt16(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Widen(const int16_t* p)
{
    return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Load32(const int32_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The detail filter's two passes eight columns at a time, in the 32 bits the scalar loops
// use; each returns the columns it did.
[[gnu::target("avx2")]] ptrdiff_t HighPassDownWide(const int16_t* p1, const int16_t* down1, const int16_t* p2,
                                                   const int16_t* down2, const int16_t* here, int32_t* V,
                                                   ptrdiff_t n, int32_t c, int32_t d, int32_t e)
{
    const __m256i vc = _mm256_set1_epi32(c);
    const __m256i vd = _mm256_set1_epi32(d);
    const __m256i ve = _mm256_set1_epi32(e);
    const __m256i round = _mm256_set1_epi32(2048);
    ptrdiff_t j = 0;
    for (; j + 8 <= n; j += 8) {
        __m256i sum = _mm256_mullo_epi32(vd, _mm256_add_epi32(Widen(p1 + j), Widen(down1 + j)));
        sum =
            _mm256_add_epi32(sum, _mm256_mullo_epi32(vc, _mm256_add_epi32(Widen(p2 + j), Widen(down2 + j))));
        sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(ve, Widen(here + j)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(V + j),
                            _mm256_srai_epi32(_mm256_add_epi32(sum, round), 12));
    }
    return j;
}

[[gnu::target("avx2")]] ptrdiff_t HighPassAlongWide(const int32_t* V, const int16_t* cur, int16_t* here,
                                                    ptrdiff_t n, int32_t c, int32_t d, int32_t e)
{
    const __m256i vc = _mm256_set1_epi32(c);
    const __m256i vd = _mm256_set1_epi32(d);
    const __m256i ve = _mm256_set1_epi32(e);
    const __m256i round = _mm256_set1_epi32(2048);
    ptrdiff_t j = 0;
    for (; j + 8 <= n; j += 8) {
        __m256i sum = _mm256_mullo_epi32(vc, _mm256_add_epi32(Load32(V + j - 2), Load32(V + j + 2)));
        sum = _mm256_add_epi32(
            sum, _mm256_mullo_epi32(vd, _mm256_add_epi32(Load32(V + j - 1), Load32(V + j + 1))));
        sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(ve, Load32(V + j)));
        const __m256i diff =
            _mm256_sub_epi32(Widen(cur + j), _mm256_srai_epi32(_mm256_add_epi32(sum, round), 12));
        // Saturating packs are the clamp to 16 bits; the permute puts the halves in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(diff, diff), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(here + j), _mm256_castsi256_si128(packed));
    }
    return j;
}

} // namespace

void MakeGammaSegment(FGammaSegment& s, double g, double x0)
{
    s.g = g;
    s.x0 = x0;
    if (x0 > 0.0) {
        const double p = std::pow(x0, g);
        s.A = (1.0 - g) * p;
        s.S1 = (p - s.A) / ((1.0 - s.A) * x0);
    } else {
        s.A = 0.0;
        s.S1 = 1.0;
    }
    if (g < 1.0) {
        s.S2 = 9.0;
        // (A + 1), not (1 - A): the published tables of this curve depend on it.
        s.x1 = std::pow((9.0 / g) / (s.A + 1.0), 1.0 / (g - 1.0));
        s.B = GammaSegmentEncode(s, s.x1) - 9.0 * s.x1;
        return;
    }
    s.x1 = 0.0;
    s.B = 0.0;
    s.S2 = 1.0;
}

double GammaSegmentEncode(const FGammaSegment& s, double x)
{
    if (x > s.x0)
        return (std::pow(x, s.g) - s.A) / (1.0 - s.A);
    return s.S1 * x;
}

double GammaSegmentDecode(const FGammaSegment& s, double y)
{
    if (y / s.S1 > s.x0)
        return std::pow((1.0 - s.A) * y + s.A, 1.0 / s.g);
    return y / s.S1;
}

bool MakeOutputGammaSegment(int colorSpace, FGammaSegment& segment)
{
    double g = 0.0;
    double x0 = 0.0;
    switch (colorSpace) {
    case 0:
        g = 1.0;
        break;
    case 1:
    case 3:
    case 5:
    case 7:
    case 9:
    case 10:
        g = 1.0 / 2.2;
        break;
    case 2:
        g = 1.0 / 2.4;
        x0 = 0.00304;
        break;
    case 4:
    case 6:
    case 8:
    case 11:
        g = 1.0 / 1.8;
        break;
    default:
        return false;
    }
    MakeGammaSegment(segment, g, x0);
    return true;
}

std::unique_ptr<FLUT> MakeOutputTransferLUT(int colorSpace, int bits)
{
    FGammaSegment s;
    if (!MakeOutputGammaSegment(colorSpace, s))
        throw FExceptionPixelProc2("Unknown Color Space");
    if (bits != 8 && bits != 16)
        throw FExceptionPixelProc2("MakeOutputTransferLUT: bits must be 8 or 16.");

    const long maxCode = (1L << bits) - 1;
    const double max = static_cast<double>(maxCode);
    auto lut = std::make_unique<FLUT>(kOutputTransferLUTSize);
    int16_t* t = lut->m_pData;

    // Positive half: samples at 0, 8, 17, 27, ... with linear interpolation between them.
    double prevVal = TransferCurve(s, 0.0);
    t[0] = StoreUnsigned(std::lround(prevVal * max));
    int prevPos = 0;
    int step = 8;
    bool reachedMax = false;
    while (!reachedMax && prevPos < kPositiveHalfEnd) {
        const int pos = std::min(prevPos + step, kPositiveHalfEnd);
        const double val = TransferCurve(s, static_cast<double>(pos) / kQ12One);
        for (int i = prevPos + 1; i <= pos; ++i) {
            const double v = prevVal + (val - prevVal) * (i - prevPos) / (pos - prevPos);
            const long code = std::lround(v * max);
            if (code >= maxCode) {
                std::fill(t + i, t + kPositiveHalfEnd + 1, StoreUnsigned(maxCode));
                reachedMax = true;
                break;
            }
            t[i] = StoreUnsigned(std::max(code, 0L));
        }
        prevPos = pos;
        prevVal = val;
        ++step;
    }

    // Negative half: the slope-limited segment continues below 0 until the curve does.
    for (int i = kOutputTransferLUTSize - 1; i > kNegativeHalfStart; --i) {
        const double f = TransferCurve(s, static_cast<double>(i - kOutputTransferLUTSize) / kQ12One);
        if (f <= 0.0)
            break;
        t[i] = StoreUnsigned(std::lround(f * max));
    }
    return lut;
}

double ToneCurveValue(double x, double gain, double o1, double P, double Q, double T, double m, double c,
                      double K, const FGammaSegment& segment, double o2)
{
    const double E = std::pow(1.07, std::pow(1.5 * Q + 1.0, 4.0));
    const double y = (x - o1) * gain - o2;
    if (y < T)
        return GammaSegmentDecode(segment, std::max(0.0, m * y + c));
    // A soft minimum of the power curve and a ceiling, so highlights roll off.
    const double u = K * std::pow(y, P);
    const double w = std::pow(std::max(u, 0.01), 0.22) * (0.66 + 0.44 * Q);
    return u * w / std::pow(std::pow(u, E) + std::pow(w, E), 1.0 / E);
}

void MakeToneLUT(double exposure, double shadow, double contrast, double highlight, double redGain,
                 double greenGain, double blueGain, const FLUT& cube, FColorLUT& out)
{
    if (!(out.m_iSize >= kToneLUTSize) || out.m_pRedData == nullptr || out.m_pGreenData == nullptr ||
        out.m_pBlueData == nullptr)
        ReportAssertion(__FILE__, __LINE__, "OutToneLUT->GetSize() >= 65536", 0, 0);
    const double settings[] = {exposure, shadow, contrast, highlight, redGain, greenGain, blueGain};
    for (double v : settings) {
        if (!std::isfinite(v))
            throw FExceptionPixelProc2("MakeToneLUT: a setting is not a finite number.");
    }
    if (!(redGain > 0.0 && greenGain > 0.0 && blueGain > 0.0))
        throw FExceptionPixelProc2("MakeToneLUT: channel gains must be positive.");
    if (cube.m_pData == nullptr || cube.m_iSize < kToneLastSample + 1)
        throw FExceptionPixelProc2("MakeToneLUT: the cube table is too small.");
    // Outside these ranges the curve is no longer monotonic; stored settings may be edited.
    exposure = std::clamp(exposure, -16.0, 16.0);
    shadow = std::clamp(shadow, -2.0, 2.0);
    contrast = std::clamp(contrast, -2.0, 2.0);
    highlight = std::clamp(highlight, -2.0, 2.0);

    const double P = (contrast + 2.0) / 4.0 * (1.935 - 0.64375) + 0.64375;
    const double Q = (highlight + 2.0) / 4.0;

    const double e = redGain;
    const double f = greenGain;
    const double g = blueGain;
    const double v = (1.0 / (0.2 / g + 0.3 / e + 0.5 / f) + (0.2 * g + 0.3 * e + 0.5 * f)) / 2.0;
    const double stops = std::pow(2.0, exposure);
    const double gains[3] = {stops * e / v, stops * f / v, stops * g / v};

    const double o1 = ((2.0 - shadow) / 4.0 * 2.0 - 1.0) * 0.025;
    const double K = std::pow(0.18, 1.0 - P); // keeps 18 % grey under the power P

    FGammaSegment segment;
    MakeGammaSegment(segment, 1.0 / 2.4, 0.00304);
    const double PP = P / 2.4;
    double T = 0.0;
    double c0 = 0.0;
    double m = 0.0;
    if (PP < 1.0) {
        c0 = (1.0 - PP) * 0.06;
        T = std::pow(std::pow(0.18, (P - 1.0) / 2.4) * (segment.A + c0) / ((segment.A + 1.0) * (1.0 - PP)),
                     1.0 / PP);
        const double F = ToneCurveValue(T, 1.0, 0.0, P, Q, 0.0, 0.0, 0.0, K, segment, 0.0);
        m = (GammaSegmentEncode(segment, F) - c0) / T;
    }

    int16_t* channels[3] = {out.m_pRedData, out.m_pGreenData, out.m_pBlueData};
    for (int ch = 0; ch < 3; ++ch) {
        int16_t* t = channels[ch];
        double prev = 0.0;
        for (int p = 0; p <= kToneLastSample; p += kToneSampleStep) {
            const double x = static_cast<double>(cube.Get(p)) / kQ12One;
            const double value = ToneCurveValue(x, gains[ch], o1, P, Q, T, m, c0, K, segment, 0.01);
            if (p > 0) {
                for (int j = 1; j < kToneSampleStep; ++j)
                    t[p - kToneSampleStep + j] = ToneEntry(prev + (value - prev) * j / kToneSampleStep);
            }
            t[p] = ToneEntry(value);
            prev = value;
        }
        std::fill(t + kToneLastSample + 1, t + kPositiveHalfEnd + 1, t[kToneLastSample]);
        std::fill(t + kNegativeHalfStart, t + out.m_iSize, int16_t{0});
    }
}

void HighPassMonoImage(FPixmapTemplate<FPixelClass16SMono>& image, double strength)
{
    const int cols = image.GetCols();
    const int rows = image.GetRows();
    if (cols <= 0 || rows <= 0)
        return;

    double b = std::isfinite(strength) ? std::clamp(strength / 4.0, 0.0, 0.5) : 0.0;
    // [c, d, e, d, c] / 4096 is the 3-tap kernel [b, 1 - 2b, b] applied twice.
    const int64_t c = static_cast<int64_t>(4096.0 * b * b + 0.5);
    const int64_t d = static_cast<int64_t>(8192.0 * (b - 2.0 * b * b) + 0.5);
    const int64_t e = 2 * (2048 - d - c);

    // The coefficients are at least 0 and 2c + 2d + e is 4096, so every sum of 16-bit values
    // below stays under 2^28 and is exact in 32 bits.
    const int32_t c32 = static_cast<int32_t>(c);
    const int32_t d32 = static_cast<int32_t>(d);
    const int32_t e32 = static_cast<int32_t>(e);
    const bool narrow = c >= 0 && d >= 0 && e >= 0 && 2 * c + 2 * d + e <= 4096;
    const bool wide = narrow && HasAvx2();
    const ptrdiff_t n = cols;
    std::vector<int16_t> prev1(static_cast<size_t>(n)), prev2(prev1.size()), current(prev1.size());
    // V with two copies of its first and last value on either side: columns beyond the edges
    // repeat them, at any width.
    std::vector<int32_t> padded(prev1.size() + 4);
    int32_t* V = padded.data() + 2;
    const auto row = [&](int r) { return image.GetRow(std::clamp(r, 0, rows - 1)); };

    std::copy(row(0), row(0) + cols, prev1.begin());
    std::copy(row(0), row(0) + cols, prev2.begin());
    for (int r = 0; r < rows; ++r) {
        int16_t* here = row(r);
        const int16_t* down1 = row(r + 1);
        const int16_t* down2 = row(r + 2);
        const int16_t* p1 = prev1.data();
        const int16_t* p2 = prev2.data();
        if (narrow) {
            const ptrdiff_t done =
                wide ? HighPassDownWide(p1, down1, p2, down2, here, V, n, c32, d32, e32) : 0;
            for (ptrdiff_t j = done; j < n; ++j)
                V[j] = (d32 * (p1[j] + down1[j]) + c32 * (p2[j] + down2[j]) + e32 * here[j] + 2048) >> 12;
        } else {
            for (ptrdiff_t j = 0; j < n; ++j) {
                const int64_t s = d * (p1[j] + down1[j]) + c * (p2[j] + down2[j]) + e * here[j] + 2048;
                V[j] = static_cast<int32_t>(s >> 12);
            }
        }
        V[-2] = V[-1] = V[0];
        V[n] = V[n + 1] = V[n - 1];
        std::copy(here, here + cols, current.begin());
        const int16_t* cur = current.data();
        if (narrow) {
            const ptrdiff_t done = wide ? HighPassAlongWide(V, cur, here, n, c32, d32, e32) : 0;
            for (ptrdiff_t j = done; j < n; ++j) {
                const int32_t s =
                    c32 * (V[j - 2] + V[j + 2]) + d32 * (V[j - 1] + V[j + 1]) + e32 * V[j] + 2048;
                here[j] = static_cast<int16_t>(std::clamp(cur[j] - (s >> 12), -32768, 32767));
            }
        } else {
            for (ptrdiff_t j = 0; j < n; ++j) {
                const int64_t s = c * (V[j - 2] + V[j + 2]) + d * (V[j - 1] + V[j + 1]) + e * V[j] + 2048;
                here[j] = SaturateInt16(cur[j] - (s >> 12));
            }
        }
        std::swap(prev2, prev1);
        std::swap(prev1, current);
    }
}
