#include "ChromaBlur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <emmintrin.h>

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

void BuildChromaBlurImage(const FPixmapTemplate<FPixelClass48SRGB>& source, double radius, int16_t* blocks)
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
    for (int by = qrows - 1; by >= 0; --by) {
        for (int bx = qcols - 1; bx >= 0; --bx) {
            int64_t sum[3] = {0, 0, 0};
            for (int dy = 0; dy < 4; ++dy) {
                const int16_t* row = source.GetRow(std::min(4 * by + dy, rows - 1));
                for (int dx = 0; dx < 4; ++dx) {
                    const int16_t* p = row + 3 * static_cast<size_t>(std::min(4 * bx + dx, cols - 1));
                    for (int c = 0; c < 3; ++c)
                        sum[c] += p[c];
                }
            }
            int16_t* out = blocks + 3 * (static_cast<size_t>(by) * qcols + bx);
            const int16_t* below = out + 3 * static_cast<size_t>(qcols);
            for (int c = 0; c < 3; ++c) {
                const int64_t s = std::min<int64_t>(sum[c], 32767) * a;
                out[c] = Saturate16(by == qrows - 1 ? s >> 8 : (s + below[c] * b) >> 8);
            }
        }
    }
}

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
        const int64_t u = RoundedWeight(1.0 - Decay(1.0, horizontalTime));
        const int64_t w = 256 - u;
        const int qcols = (columns + 3) / 4;
        const int16_t* blockRow = blocks + 3 * static_cast<size_t>(y / 4) * qcols;
        int64_t s[3] = {0, 0, 0};
        for (int bx = qcols - 1; bx >= 0; --bx) {
            const int16_t* v = blockRow + 3 * static_cast<size_t>(bx);
            for (int k = 3; k >= 0; --k) {
                const int x = std::min(4 * bx + k, columns - 1);
                for (int c = 0; c < 3; ++c) {
                    s[c] = (u * v[c] + w * s[c]) >> 8;
                    buffer[3 * static_cast<size_t>(x) + c] = Store16(s[c]);
                }
            }
        }
        s[0] = s[1] = s[2] = 0;
        for (int x = 0; x < columns; ++x)
            for (int c = 0; c < 3; ++c) {
                int16_t& b = buffer[3 * static_cast<size_t>(x) + c];
                s[c] = (u * b + w * s[c]) >> 8;
                b = Store16(s[c]);
            }
    }
    const double ev = Decay(1.0, verticalTime);
    const int64_t yv = RoundedWeight(1.0 - ev);
    const int64_t zv = RoundedWeight(ev);
    const int64_t o = BoundedOffset(offset);
    for (int x = 0; x < columns; ++x) {
        int16_t* st = state + 3 * static_cast<size_t>(x);
        const int16_t* b = buffer + 3 * static_cast<size_t>(x);
        int64_t target[3];
        for (int c = 0; c < 3; ++c) {
            st[c] = Store16((yv * b[c] + zv * st[c]) >> 8);
            target[c] = st[c] >> 4;
        }
        int16_t* p = row + 3 * static_cast<size_t>(x);
        int64_t q[3];
        MatchBrightness(q, p, target, o, o);
        CorrectToward(p, q, table, static_cast<uint32_t>(sumShift));
    }
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
        for (int64_t j = 0; j < n; ++j) {
            int64_t box[3];
            for (int c = 0; c < 3; ++c)
                box[c] = static_cast<int64_t>(ring[0][3 * j + c]) + ring[1][3 * j + c] + ring[2][3 * j + c] +
                         ring[3][3 * j + c] + ring[4][3 * j + c];
            int16_t* p = output + 3 * j;
            int64_t q[3];
            MatchBrightness(q, p, box, oP, oQ);
            CorrectToward(p, q, table, sumShift);
        }
    }
    RotateRows<5>(ring);
}

void BinomialChromaDQRow(const int16_t* input, int16_t* output, int16_t* ring[3], uint32_t count,
                         const FColorLUT& table, uint32_t sumShift)
{
    const int64_t n = count;
    int16_t* newest = ring[2];
    for (int64_t j = 0; j < n; ++j)
        for (int c = 0; c < 3; ++c)
            newest[3 * j + c] =
                Saturate16((Pixel(input, j - 1, n)[c] + 2 * static_cast<int64_t>(input[3 * j + c]) +
                            Pixel(input, j + 1, n)[c] + 2) >>
                           2);
    if (output != nullptr) {
        for (int64_t j = 0; j < n; ++j) {
            int64_t q[3];
            for (int c = 0; c < 3; ++c)
                q[c] = (ring[0][3 * j + c] + 2 * static_cast<int64_t>(ring[1][3 * j + c]) +
                        ring[2][3 * j + c]) >>
                       2;
            CorrectToward(output + 3 * j, q, table, sumShift);
        }
    }
    RotateRows<3>(ring);
}

void ChromaFilterDisplayImage(const FPixmapTemplate<FPixelClass32BGRA>& image, int amplitudeR, int amplitudeG,
                              int amplitudeB, int offsetFactor)
{
    const FColorLUT* table = FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(amplitudeR, amplitudeG, amplitudeB),
                                                           FDoubleRGB(1.0, 1.0, 1.0));
    const int rows = image.GetRows();
    const int cols = image.GetCols();
    if (rows <= 0 || cols <= 0)
        return;
    const size_t rowSamples = 3 * static_cast<size_t>(cols);
    std::vector<int16_t> storage(7 * rowSamples, 0);
    int16_t* ring[5];
    for (int i = 0; i < 5; ++i)
        ring[i] = &storage[i * rowSamples];
    int16_t* input = &storage[5 * rowSamples];
    int16_t* output = &storage[6 * rowSamples];

    const int offset = static_cast<int>(std::clamp<int64_t>(int64_t{offsetFactor} * 10, 1, kMaxOffset));
    for (int c = 0; c <= rows + 1; ++c) {
        if (c >= 2) {
            const uint8_t* src = image.GetRow(c - 2);
            for (int x = 0; x < cols; ++x)
                for (int k = 0; k < 3; ++k) {
                    const int32_t v = src[4 * x + 2 - k];
                    output[3 * x + k] = static_cast<int16_t>((v * v) >> 2);
                }
        }
        const uint8_t* in = image.GetRow(std::min(c, rows - 1));
        for (int x = 0; x < cols; ++x)
            for (int k = 0; k < 3; ++k) {
                const int32_t v = in[4 * x + 2 - k];
                input[3 * x + k] = static_cast<int16_t>((v * v) >> 4);
            }
        if (c == 2) {
            std::memcpy(ring[0], ring[2], rowSamples * sizeof(int16_t));
            std::memcpy(ring[1], ring[2], rowSamples * sizeof(int16_t));
        }
        SpatialChromaDQRow(input, c >= 2 ? output : nullptr, offset, ring, static_cast<uint32_t>(cols),
                           *table, 3);
        if (c < 2)
            continue;
        uint8_t* dst = image.GetRow(c - 2);
        for (int x = 0; x < cols; ++x) {
            for (int k = 0; k < 3; ++k) {
                const int32_t v = output[3 * x + k];
                const int32_t level = v <= 0 ? 0 : static_cast<int32_t>(std::sqrt(4.0 * v));
                dst[4 * x + 2 - k] = static_cast<uint8_t>(std::min(level, 255));
            }
            dst[4 * x + 3] = 255;
        }
    }
}

void ChromaBlurImage(const FPixmapTemplate<FPixelClass48SRGB>& image, double radius, double horizontalTime,
                     double verticalTime, int offset, const FColorLUT& table, int sumShift)
{
    const int cols = image.GetCols();
    const int rows = image.GetRows();
    if (cols <= 0 || rows <= 0)
        return;
    std::vector<int16_t> blocks(3 * static_cast<size_t>((cols + 3) / 4) * ((rows + 3) / 4));
    std::vector<int16_t> work(6 * static_cast<size_t>(cols));
    BuildChromaBlurImage(image, radius, blocks.data());
    for (int y = 0; y < rows; ++y)
        ChromaBlurRow(image.GetRow(y), y, horizontalTime, verticalTime, offset, blocks.data(), work.data(),
                      cols, table, sumShift);
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
    threads = std::clamp(threads, 1, rows);
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
