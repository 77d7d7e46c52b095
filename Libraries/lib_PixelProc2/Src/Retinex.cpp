#include "Retinex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include <emmintrin.h>

#include "FException.h"
#include "FImage.h"
#include "FLargePageAllocator.h"
#include "RunInRowBands.h"

namespace
{

constexpr const char* kFile = "Retinex";

void Check(bool ok, int line, const char* test)
{
    if (!ok)
        ReportAssertion(kFile, line, test, 0, 0);
}

bool Cancelled(const std::atomic<bool>* cancel)
{
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// m0 / mean, or 1.0 where the quotient means nothing: the level means of a shifted log
// image lie near 0 for bright scenes, and 0 / 0 there would wreck the whole pyramid.
double MeanRatio(double m0, double mean)
{
    if (std::fabs(mean) < 1.0 || m0 * mean < 0.0)
        return 1.0;
    return m0 / mean;
}

int16_t Low16(int64_t v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v)));
}

int64_t Q8Weight(double w)
{
    const double q = std::trunc(256.0 * w + 0.5);
    if (!std::isfinite(q))
        return 0;
    return static_cast<int64_t>(std::clamp(q, -1e12, 1e12));
}

// The start of the horizontal interpolation and blend of RetinexUpsampleBlend, eight
// outputs at a time in 32-bit lanes: exact while the interpolated values fit 16 bits, which
// a 28000 bound on the T row guarantees (|c| <= 36 x 28000 / 32). Returns how many outputs
// it wrote; the caller does the rest one by one.
int BlendRowPairs(const int16_t* t, const int16_t* f, int16_t* o, int count, int64_t A, int64_t B)
{
    if (count < 8)
        return 0;
    const int width = count / 8 * 4 + 4; // T samples the groups below read
    const auto [lo, hi] = std::minmax_element(t, t + width);
    if (*lo < -28000 || *hi > 28000)
        return 0;
    const __m128i weights = _mm_set1_epi32(static_cast<int32_t>((B << 16) | (A & 0xFFFF)));
    auto load = [&](int m) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + m));
        return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
    };
    auto times25 = [](__m128i x) {
        return _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(x, 4), _mm_slli_epi32(x, 3)), x);
    };
    auto times9 = [](__m128i x) { return _mm_add_epi32(_mm_slli_epi32(x, 3), x); };
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const int m = i / 2;
        const __m128i t0 = load(m), t1 = load(m + 1), t2 = load(m + 2), t3 = load(m + 3), t4 = load(m + 4);
        const __m128i even =
            _mm_srai_epi32(_mm_sub_epi32(_mm_sub_epi32(_mm_add_epi32(times25(t2), times9(t1)), t3), t0), 5);
        const __m128i odd =
            _mm_srai_epi32(_mm_sub_epi32(_mm_sub_epi32(_mm_add_epi32(times25(t2), times9(t3)), t1), t4), 5);
        const __m128i c = _mm_packs_epi32(_mm_unpacklo_epi32(even, odd), _mm_unpackhi_epi32(even, odd));
        const __m128i fv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + i));
        // c A + f B per output, then the low 16 bits of the shifted sum.
        __m128i r0 = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(c, fv), weights), 8);
        __m128i r1 = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(c, fv), weights), 8);
        r0 = _mm_srai_epi32(_mm_slli_epi32(r0, 16), 16);
        r1 = _mm_srai_epi32(_mm_slli_epi32(r1, 16), 16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), _mm_packs_epi32(r0, r1));
    }
    return i;
}

// o = low16(low16(E (p - q) / d) - p) for columns from 0, four at a time, in doubles: with
// 0 <= E <= 2^16, |p - q| < 2^17 and d >= 256 the product is exact and the rounded quotient
// truncates to the integer one. Returns how many columns it did.
int ContrastRow(const int16_t* p, const int16_t* q, const int16_t* d, int16_t* o, int cols, int64_t E)
{
    const __m128d e = _mm_set1_pd(static_cast<double>(E));
    auto widen = [](const int16_t* s) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s));
        return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
    };
    auto low16 = [](__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); };
    int x = 0;
    for (; x + 4 <= cols; x += 4) {
        const __m128i pv = widen(p + x);
        const __m128i diff = _mm_sub_epi32(pv, widen(q + x));
        const __m128i dv = widen(d + x);
        const __m128d lo = _mm_div_pd(_mm_mul_pd(e, _mm_cvtepi32_pd(diff)), _mm_cvtepi32_pd(dv));
        const __m128d hi = _mm_div_pd(_mm_mul_pd(e, _mm_cvtepi32_pd(_mm_srli_si128(diff, 8))),
                                      _mm_cvtepi32_pd(_mm_srli_si128(dv, 8)));
        const __m128i quotient = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
        const __m128i result = low16(_mm_sub_epi32(low16(quotient), pv));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + x), _mm_packs_epi32(result, result));
    }
    return x;
}

struct Level {
    FRetinexImage pixmap;
    double mean;
};

} // namespace

namespace
{

// Rows [first, end): the sum of their integer means, and their extremes.
struct FRowStatistics {
    int64_t sumOfMeans = 0;
    int min = 2000000000;
    int max = -2000000000;
};

FRowStatistics RowStatistics(const FRetinexImage& pixmap, int first, int end)
{
    FRowStatistics r;
    const int cols = pixmap.GetCols();
    __m128i low = _mm_set1_epi16(32767), high = _mm_set1_epi16(-32768);
    const __m128i ones = _mm_set1_epi16(1);
    for (int y = first; y < end; ++y) {
        const int16_t* s = pixmap.GetRow(y);
        int64_t sum = 0;
        int x = 0;
        // Eight samples at a time; the 32-bit lane sums are emptied long before they could overflow.
        while (x + 8 <= cols) {
            __m128i lanes = _mm_setzero_si128();
            for (int k = 0; k < 4096 && x + 8 <= cols; ++k, x += 8) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
                low = _mm_min_epi16(low, v);
                high = _mm_max_epi16(high, v);
                lanes = _mm_add_epi32(lanes, _mm_madd_epi16(v, ones));
            }
            alignas(16) int32_t part[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(part), lanes);
            sum += static_cast<int64_t>(part[0]) + part[1] + part[2] + part[3];
        }
        for (; x < cols; ++x) {
            sum += s[x];
            r.min = std::min<int>(r.min, s[x]);
            r.max = std::max<int>(r.max, s[x]);
        }
        r.sumOfMeans += sum / cols;
    }
    alignas(16) int16_t lows[8], highs[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lows), low);
    _mm_store_si128(reinterpret_cast<__m128i*>(highs), high);
    if (cols >= 8 && end > first) {
        r.min = std::min<int>(r.min, *std::min_element(lows, lows + 8));
        r.max = std::max<int>(r.max, *std::max_element(highs, highs + 8));
    }
    return r;
}

} // namespace

int RetinexMinMaxMean(const FRetinexImage& pixmap, int& min, int& max, int threads)
{
    min = 2000000000;
    max = -2000000000;
    const int cols = pixmap.GetCols();
    const int rows = pixmap.GetRows();
    if (cols < 1 || rows < 1)
        return 0;
    // Integer sums and extremes: any split of the rows gives the same.
    const int bands = BalancedBands(rows, threads, 16);
    std::vector<FRowStatistics> parts(static_cast<size_t>(bands));
    RunInRowBands(rows, bands, [&](int first, int end) {
        int band = 0;
        while (band + 1 < bands && RowBandStart(rows, bands, band + 1) <= first)
            ++band;
        parts[static_cast<size_t>(band)] = RowStatistics(pixmap, first, end);
    });
    int64_t sumOfMeans = 0;
    for (const FRowStatistics& part : parts) {
        sumOfMeans += part.sumOfMeans;
        min = std::min(min, part.min);
        max = std::max(max, part.max);
    }
    return static_cast<int>(sumOfMeans / rows);
}

void RetinexDownsample2x(const FRetinexImage* in, FRetinexImage* out, double* mean, int threads)
{
    Check(in != nullptr, 332, "pInImage != NULL");
    Check(out != nullptr, 333, "pOutImage != NULL");
    Check(out->GetCols() >= in->GetCols() / 2, 334, "pOutImage->GetCols() >= pInImage->GetCols()/2");
    Check(out->GetRows() >= in->GetRows() / 2, 335, "pOutImage->GetRows() >= pInImage->GetRows()/2");
    const int inRows = in->GetRows();
    const int outRows = inRows > 0 ? out->GetRows() : 0;
    const int outCols = out->GetCols();
    const int n = std::min(outCols, in->GetCols() / 2);
    // Integer sums per band, added afterwards: any split gives the same mean.
    const int bands = BalancedBands(outRows, threads, 16);
    std::vector<int64_t> sums(static_cast<size_t>(std::max(bands, 1)), 0);
    RunInRowBands(outRows, bands, [&](int first, int end) {
        int band = 0;
        while (band + 1 < bands && RowBandStart(outRows, bands, band + 1) <= first)
            ++band;
        int64_t sum = 0;
        for (int i = first; i < end; ++i) {
            const int16_t* a = in->GetRow(std::min(2 * i, inRows - 1));
            const int16_t* b = in->GetRow(std::min(2 * i + 1, inRows - 1));
            int16_t* o = out->GetRow(i);
            for (int j = 0; j < n; ++j) {
                o[j] = static_cast<int16_t>((a[2 * j] + a[2 * j + 1] + b[2 * j] + b[2 * j + 1]) >> 2);
                sum += o[j];
            }
            if (n < outCols && in->GetCols() > 0) {
                // An odd width: the last column with its left neighbour.
                const int left = std::max(2 * n - 1, 0);
                const int last = std::min(2 * n, in->GetCols() - 1);
                o[n] = static_cast<int16_t>((a[left] + a[last] + b[left] + b[last]) >> 2);
                sum += o[n];
            }
        }
        sums[static_cast<size_t>(band)] = sum;
    });
    int64_t sum = 0;
    for (int64_t part : sums)
        sum += part;
    const int64_t count = static_cast<int64_t>(outRows) * (n + (n < outCols && in->GetCols() > 0 ? 1 : 0));
    if (mean != nullptr)
        *mean = count > 0 ? static_cast<double>(sum) / static_cast<double>(count) : 0.0;
}

namespace
{

// Output rows [first, end) of RetinexUpsampleBlend. Each row depends only on the coarse
// level and its own fine row, so bands of rows with scratch of their own give the same
// result as one sweep.
void BlendRows(const FRetinexImage* coarse, const FRetinexImage* fine, FRetinexImage* out,
               double coarseWeight, double fineWeight, int16_t* scratch, int first, int end)
{
    const int kc = coarse->GetCols();
    const int kr = coarse->GetRows();
    const int oc = out->GetCols();
    const int orows = std::min(out->GetRows(), fine->GetRows());
    if (kc < 1 || kr < 1 || oc < 1 || fine->GetCols() < 1)
        return;
    const int64_t A = Q8Weight(coarseWeight);
    const int64_t B = Q8Weight(fineWeight);
    const int width = kc + 4;
    int16_t* t = scratch + 5 * static_cast<ptrdiff_t>(width);
    int64_t tags[5] = {-1, -1, -1, -1, -1};

    // S(k): the coarse row k smoothed [1 2 1] both ways, extended by two samples each side.
    auto smoothedRow = [&](int64_t k) -> const int16_t* {
        k = std::max<int64_t>(k, 0);
        const int slot = static_cast<int>(k % 5);
        int16_t* s = scratch + static_cast<ptrdiff_t>(slot) * width;
        if (tags[slot] == k)
            return s;
        tags[slot] = k;
        auto clampRow = [&](int64_t r) {
            return coarse->GetRow(static_cast<int>(std::clamp<int64_t>(r, 0, kr - 1)));
        };
        const int16_t* up = clampRow(k - 1);
        const int16_t* mid = clampRow(k);
        const int16_t* down = clampRow(k + 1);
        int16_t* v = t; // the T row is free while S rows are made
        for (int x = 0; x < kc; ++x)
            v[x] = static_cast<int16_t>((up[x] + 2 * mid[x] + down[x]) >> 2);
        auto horizontal = [&](int x, int l, int r) {
            s[x + 2] = static_cast<int16_t>((l + 2 * v[x] + r) >> 2);
        };
        horizontal(0, v[0], v[std::min(1, kc - 1)]);
        for (int x = 1; x < kc - 1; ++x)
            horizontal(x, v[x - 1], v[x + 1]);
        if (kc > 1)
            horizontal(kc - 1, v[kc - 2], v[kc - 1]);
        s[0] = s[1] = s[2];
        s[kc + 2] = s[kc + 3] = s[kc + 1];
        return s;
    };

    const int interpolated = std::min({oc, 2 * kc, fine->GetCols()});
    const bool smallWeights = A >= -32767 && A <= 32767 && B >= -32767 && B <= 32767;
    for (int l = std::max(first, 0); l < std::min(end, orows); ++l) {
        const int64_t k = l / 2;
        const int16_t* s0 = smoothedRow(k);
        const int16_t* sm1 = smoothedRow(k - 1);
        const int16_t* sp1 = smoothedRow(k + 1);
        const int16_t* sm2 = smoothedRow(k - 2);
        const int16_t* sp2 = smoothedRow(k + 2);
        // Even rows lean on the row above, odd rows on the one below; one loop each, so
        // that neither carries a choice per sample.
        const int16_t* near = (l & 1) == 0 ? sm1 : sp1;
        const int16_t* nearOther = (l & 1) == 0 ? sp1 : sm1;
        const int16_t* far = (l & 1) == 0 ? sm2 : sp2;
        for (int p = 0; p < width; ++p)
            t[p] = static_cast<int16_t>((25 * s0[p] + 9 * near[p] - nearOther[p] - far[p]) >> 5);
        const int16_t* f = fine->GetRow(l);
        int16_t* o = out->GetRow(l);
        int i = smallWeights ? BlendRowPairs(t, f, o, interpolated, A, B) : 0;
        for (; i < interpolated; ++i) {
            const int j = i / 2 + 2;
            const int c = (i & 1) == 0 ? (25 * t[j] + 9 * t[j - 1] - t[j + 1] - t[j - 2]) >> 5
                                       : (25 * t[j] + 9 * t[j + 1] - t[j - 1] - t[j + 2]) >> 5;
            o[i] = Low16((c * A + f[i] * B) >> 8);
        }
        for (int i = interpolated; i < oc; ++i)
            o[i] = o[interpolated - 1];
    }
}

// The blend over row bands on `threads` threads; scratch of the first band is the caller's.
void BlendInBands(const FRetinexImage* coarse, const FRetinexImage* fine, FRetinexImage* out,
                  double coarseWeight, double fineWeight, int16_t* scratch, int threads)
{
    const int rows = std::min(out->GetRows(), fine->GetRows());
    threads = BalancedBands(rows, threads, 32);
    if (threads <= 1 || rows < 2 * threads) {
        BlendRows(coarse, fine, out, coarseWeight, fineWeight, scratch, 0, rows);
        return;
    }
    const size_t bandScratch = static_cast<size_t>(RetinexUpsampleScratch(coarse->GetCols()));
    std::vector<int16_t> more(bandScratch * static_cast<size_t>(threads - 1));
    RunInRowBands(rows, threads, [&](int first, int end) {
        int band = 0;
        while (band + 1 < threads && RowBandStart(rows, threads, band + 1) <= first)
            ++band;
        int16_t* own = band == 0 ? scratch : more.data() + bandScratch * static_cast<size_t>(band - 1);
        BlendRows(coarse, fine, out, coarseWeight, fineWeight, own, first, end);
    });
}

} // namespace

void RetinexUpsampleBlend(const FRetinexImage* coarse, const FRetinexImage* fine, FRetinexImage* out,
                          double coarseWeight, double fineWeight, int16_t* scratch)
{
    Check(coarse != nullptr, 100, "pInImageHalf != NULL");
    Check(fine != nullptr, 101, "pInImageFull != NULL");
    Check(out != nullptr, 102, "pOutImage != NULL");
    Check(scratch != nullptr, 103, "pTmp != NULL");
    BlendRows(coarse, fine, out, coarseWeight, fineWeight, scratch, 0,
              std::min(out->GetRows(), fine->GetRows()));
}

int64_t RetinexPyramidScratch(int cols, int rows)
{
    int64_t total = 0;
    int64_t firstCols = 0;
    int64_t c = cols, r = rows;
    while (c >= 2 && r >= 2) {
        c = (c + 1) / 2;
        r = (r + 1) / 2;
        if (firstCols == 0)
            firstCols = c;
        total += c * r;
    }
    return firstCols == 0 ? 0 : total + RetinexUpsampleScratch(static_cast<int>(firstCols));
}

FRetinexStatistics RetinexPyramidSmooth(const FRetinexImage* in, FRetinexImage* out, int16_t* scratch,
                                        uint32_t scratchCount, int threads)
{
    Check(in != nullptr, 415, "pInImage != NULL");
    Check(out != nullptr, 416, "pOutImage != NULL");
    const int64_t need = RetinexPyramidScratch(in->GetCols(), in->GetRows());
    Check(need <= static_cast<int64_t>(scratchCount) && (need == 0 || scratch != nullptr), 443,
          "uiNeedSize <= uiTmpSize");
    int lo = 0, hi = 0;
    const double m0 = RetinexMinMaxMean(*in, lo, hi, threads);

    FRetinexStatistics statistics;
    bool haveStatistics = false;
    std::vector<Level> levels;
    levels.reserve(64); // halving 32-bit sizes never needs more; pointers into it stay valid
    int64_t used = 0;
    const FRetinexImage* current = in;
    while (current->GetCols() >= 2 && current->GetRows() >= 2) {
        const int cols = (current->GetCols() + 1) / 2;
        const int rows = (current->GetRows() + 1) / 2;
        levels.push_back({FRetinexImage(scratch + used, cols, rows, 0), 0.0});
        used += static_cast<int64_t>(cols) * rows;
        Level& level = levels.back();
        RetinexDownsample2x(current, &level.pixmap, &level.mean, threads);
        if (!haveStatistics && cols <= kRetinexStatisticsWidth) {
            statistics.mean = RetinexMinMaxMean(level.pixmap, statistics.min, statistics.max);
            haveStatistics = true;
        }
        current = &level.pixmap;
    }
    if (levels.empty()) {
        for (int y = 0; y < std::min(in->GetRows(), out->GetRows()) && in != out; ++y)
            std::memmove(out->GetRow(y), in->GetRow(y),
                         sizeof(int16_t) * static_cast<size_t>(std::min(in->GetCols(), out->GetCols())));
        return statistics;
    }

    // The coarsest level brought to the input's mean.
    Level& coarsest = levels.back();
    const double ratio = MeanRatio(m0, coarsest.mean);
    for (int y = 0; y < coarsest.pixmap.GetRows(); ++y) {
        int16_t* s = coarsest.pixmap.GetRow(y);
        for (int x = 0; x < coarsest.pixmap.GetCols(); ++x)
            s[x] = Low16(static_cast<int64_t>(std::trunc(ratio * s[x] + 0.5)));
    }

    int k = 0;
    while (levels.size() >= 2) {
        const Level& coarse = levels.back();
        Level& fine = levels[levels.size() - 2];
        Check(used + RetinexUpsampleScratch(coarse.pixmap.GetCols()) <= static_cast<int64_t>(scratchCount),
              560, "uiNeedSize <= uiTmpSize");
        const double g = 0.9 * std::pow(0.65, k);
        BlendInBands(&coarse.pixmap, &fine.pixmap, &fine.pixmap, 1.0 - g, g * MeanRatio(m0, fine.mean),
                     scratch + used, threads);
        used -= static_cast<int64_t>(coarse.pixmap.GetCols()) * coarse.pixmap.GetRows();
        levels.pop_back();
        ++k;
    }
    Check(used + RetinexUpsampleScratch(levels[0].pixmap.GetCols()) <= static_cast<int64_t>(scratchCount),
          560, "uiNeedSize <= uiTmpSize");
    const double g = 0.9 * std::pow(0.65, k);
    BlendInBands(&levels[0].pixmap, in, out, 1.0 - g, g, scratch + used, threads);
    return statistics;
}

double RetinexSuggestedFillLight(const FRetinexStatistics& statistics, double exposureTime, double fNumber,
                                 int iso)
{
    constexpr double kLog2e = 1.44269504;
    double avTv = 0.0, sv = 0.0;
    if (fNumber >= 0.5 && exposureTime > 0.00001 && iso >= 1) {
        avTv = std::log(fNumber * fNumber / exposureTime) * kLog2e;
        sv = std::log(0.32 * iso) * kLog2e;
    }
    double G = (std::exp(statistics.max * 0.001) - std::exp(statistics.min * 0.001)) * (avTv - sv);
    if (!(G > 0.0))
        G = 0.0;
    if (iso < 400 && exposureTime < 1.0)
        return 0.1 * std::trunc(0.8 * std::log(G + 1.0) + 0.5);
    if (iso < 800 && exposureTime < 1.0)
        return 0.1 * std::trunc(0.4 * std::log(G + 1.0) + 0.5);
    return 0.0;
}

size_t FRetinexScratch::Bytes() const
{
    return (m_logs.capacity() + m_roots.capacity()) * sizeof(int16_t);
}

void FRetinexScratch::Release()
{
    *this = FRetinexScratch();
}

// The tables, made once and kept.
struct FRetinexScratchAccess {
    static void MakeTables(FRetinexScratch& s)
    {
        if (!s.m_roots.empty())
            return;
        // Log luminance; u is at most 32767, so one table covers it.
        std::vector<int16_t> logs(32768), roots(32768);
        for (int u = 0; u < 32768; ++u)
            logs[u] = static_cast<int16_t>(std::trunc(1024.0 * std::log(u + 30.0)));
        for (int v = 0; v < 32768; ++v)
            roots[v] = static_cast<int16_t>(std::trunc(std::sqrt(1024.0 * (v + 64.0))));
        s.m_logs.swap(logs);
        s.m_roots.swap(roots);
    }
    static const int16_t* Logs(const FRetinexScratch& s) { return s.m_logs.data(); }
    static const int16_t* Roots(const FRetinexScratch& s) { return s.m_roots.data(); }
};

double MultiScaleRetinex(const FPixmapTemplate<FPixelClass48SRGB>& in, FRetinexImage& out,
                         double exposureTime, double fNumber, int iso, const std::atomic<bool>* cancel)
{
    FRetinexScratch scratch;
    return MultiScaleRetinex(in, out, exposureTime, fNumber, iso, cancel, scratch, 1);
}

double MultiScaleRetinex(const FPixmapTemplate<FPixelClass48SRGB>& in, FRetinexImage& out,
                         double exposureTime, double fNumber, int iso, const std::atomic<bool>* cancel,
                         FRetinexScratch& storage, int threads)
{
    return MultiScaleRetinex(in, out, exposureTime, fNumber, iso, storage, threads,
                             [cancel] { return Cancelled(cancel); });
}

double MultiScaleRetinex(const FPixmapTemplate<FPixelClass48SRGB>& in, FRetinexImage& out,
                         double exposureTime, double fNumber, int iso, FRetinexScratch& storage, int threads,
                         const std::function<bool()>& cancelled)
{
    const int cols = in.GetCols();
    const int rows = in.GetRows();
    if (cols < 3 || rows < 3 || out.GetCols() < cols || out.GetRows() < rows)
        throw FExceptionPixelProc2("Retinexing: input image too small");
    auto isCancelled = [&] { return cancelled && cancelled(); };
    if (isCancelled())
        return 0.0;

    const int64_t pixels = static_cast<int64_t>(cols) * rows;
    const int64_t scratchCount = std::max({pixels / 2, int64_t{1024}, RetinexPyramidScratch(cols, rows)});
    if (scratchCount > UINT32_MAX)
        throw FExceptionPixelProc2("Retinexing: input image too large");
    // Each working plane is an image of its own, under the same cap as any image.
    if (pixels > kMaxImageBytes / static_cast<int64_t>(sizeof(int16_t)))
        throw std::bad_alloc();
    FRetinexScratchAccess::MakeTables(storage);
    // The planes come from the page store and go back to it when the call ends.
    FLargeBlock<int16_t> block;
    if (!block.Reserve(3 * static_cast<size_t>(pixels) + static_cast<size_t>(scratchCount)))
        throw std::bad_alloc();
    int16_t* planes = block.Data();
    int16_t* scratch = planes + 3 * pixels;
    const int16_t* logTable = FRetinexScratchAccess::Logs(storage);
    const int16_t* rootTable = FRetinexScratchAccess::Roots(storage);
    FRetinexImage P(planes, cols, rows, 0);
    FRetinexImage Q(planes + pixels, cols, rows, 0);
    FRetinexImage D(planes + 2 * pixels, cols, rows, 0);

    // Row passes split over the threads; each band stops after its current row once the
    // flag is set.
    auto rowPass = [&](auto body) {
        RunRowChunks(rows, threads, 16, [&](int first, int end) {
            for (int y = first; y < end && !isCancelled(); ++y)
                body(y);
        });
        return isCancelled();
    };

    if (rowPass([&](int y) {
            const int16_t* s = in.GetRow(y);
            int16_t* p = P.GetRow(y);
            for (int x = 0; x < cols; ++x) {
                const int u = (32 * s[3 * x] + 83 * s[3 * x + 1] + 13 * s[3 * x + 2]) >> 7;
                p[x] = logTable[std::max(u, 0)];
            }
        }))
        return 0.0;
    int lo = 0, hi = 0;
    const int m = RetinexMinMaxMean(P, lo, hi, threads);
    const int J = m + static_cast<int>(std::trunc((1024.0 * std::log(737.28) - m + 1024.0) * 0.5));
    if (rowPass([&](int y) {
            int16_t* p = P.GetRow(y);
            for (int x = 0; x < cols; ++x)
                p[x] = Low16(p[x] - J);
        }))
        return 0.0;

    const FRetinexStatistics statistics =
        RetinexPyramidSmooth(&P, &Q, scratch, static_cast<uint32_t>(scratchCount), threads);
    if (isCancelled())
        return 0.0;

    if (rowPass([&](int y) {
            const int16_t* p = P.GetRow(y);
            const int16_t* q = Q.GetRow(y);
            int16_t* d = D.GetRow(y);
            for (int x = 0; x < cols; ++x) {
                const int64_t diff = p[x] - q[x];
                d[x] = static_cast<int16_t>(std::min<int64_t>((diff * diff) >> 10, 32767));
            }
        }))
        return 0.0;
    RetinexPyramidSmooth(&D, &D, scratch, static_cast<uint32_t>(scratchCount), threads);
    if (isCancelled())
        return 0.0;

    if (rowPass([&](int y) {
            int16_t* d = D.GetRow(y);
            for (int x = 0; x < cols; ++x)
                d[x] = rootTable[std::max<int>(d[x], 0)];
        }))
        return 0.0;
    const int k = RetinexMinMaxMean(D, lo, hi, threads);
    const int64_t E = static_cast<int64_t>(std::trunc(std::sqrt(k / 1024.0) * 1024.0));
    // The root table keeps every deviation at 256 or more, so the quotient stays far from
    // the precision of a double whenever E is a plausible size.
    const bool exactInDoubles = E >= 0 && E <= 65536;

    if (rowPass([&](int y) {
            const int16_t* p = P.GetRow(y);
            const int16_t* q = Q.GetRow(y);
            const int16_t* d = D.GetRow(y);
            int16_t* o = out.GetRow(y);
            int x = exactInDoubles ? ContrastRow(p, q, d, o, cols, E) : 0;
            for (; x < cols; ++x) {
                const int16_t contrast = Low16(E * (p[x] - q[x]) / d[x]);
                o[x] = Low16(contrast - p[x]);
            }
        }))
        return 0.0;
    return RetinexSuggestedFillLight(statistics, exposureTime, fNumber, iso);
}

void MakeRetinexGainLUT(FLUT* pGainLUT, double fillLight, int base)
{
    Check(pGainLUT != nullptr, 862, "pGainLUT != NULL");
    Check(pGainLUT->m_iSize == kRetinexGainLUTSize, 863, "pGainLUT->GetSize() == 0x10000");
    int16_t* t = pGainLUT->m_pData;
    auto saturate = [](double v) {
        if (!std::isfinite(v))
            return static_cast<int16_t>(v > 0 ? 32767 : -32768);
        return static_cast<int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0));
    };
    const double s = 1.33 * fillLight;
    if (s == 0.0 || !std::isfinite(s)) {
        std::fill_n(t, kRetinexGainLUTSize, saturate(base));
        return;
    }
    const double d = 1.0 / (1024.0 * std::pow(std::fabs(s) + 0.0625, 0.25));
    const int16_t limit = saturate(base * std::exp(s));
    t[0] = saturate(base);
    int16_t o = 0;
    int16_t u = 0;
    for (int m = 1; m < 32768; ++m) {
        if (o != limit) {
            const double w = std::exp(s * std::tanh(m * d));
            o = saturate(base * w + 0.5);
            u = saturate(base / w + 0.5);
        }
        t[m] = o;
        t[kRetinexGainLUTSize - m] = u;
    }
    t[0x8000] = u;
}
