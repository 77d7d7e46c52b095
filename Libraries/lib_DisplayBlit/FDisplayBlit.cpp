#include "FDisplayBlit.h"

#include "FBlitRects.h"
#include "FPixmap.h"

#include <algorithm>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <vector>

namespace
{

constexpr uint32_t kOne = 0x8000;

// The kernel K sampled at n / 128 for n = 0..256 (K is symmetric). The anchors are the
// fixed points; samples between them are linear, then one sample of every group of four
// that share a row is corrected so that each row sums to one.
struct FAnchor {
    int n;
    int32_t value;
};
constexpr FAnchor kAnchors[] = {
    {0, 32768},   {1, 32776},   {16, 31727},  {32, 28465}, {48, 23626}, {64, 17985},  {80, 12271},
    {96, 7096},   {112, 2916},  {127, 143},   {128, 0},    {129, -138}, {144, -1644}, {160, -2227},
    {176, -2092}, {192, -1601}, {208, -1037}, {224, -565}, {240, -232}, {255, -13},   {256, 0},
};

constexpr std::array<int32_t, 257> MakeHalfKernel()
{
    std::array<int32_t, 257> v{};
    const int anchors = static_cast<int>(sizeof(kAnchors) / sizeof(kAnchors[0]));
    for (int a = 0; a + 1 < anchors; ++a) {
        const FAnchor lo = kAnchors[a];
        const FAnchor hi = kAnchors[a + 1];
        for (int n = lo.n; n < hi.n; ++n) {
            const int64_t num = int64_t(lo.value) * (hi.n - n) + int64_t(hi.value) * (n - lo.n);
            const int64_t den = hi.n - lo.n;
            v[size_t(n)] = static_cast<int32_t>(num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den));
        }
    }
    v[256] = 0;
    // Rows k and 128 - k hold the samples k, 128 - k, 128 + k and 256 - k.
    for (int k = 2; k < 64; ++k) {
        if (k % 16 == 0)
            continue;
        const int32_t sum = v[size_t(k)] + v[size_t(128 - k)] + v[size_t(128 + k)] + v[size_t(256 - k)];
        v[size_t(k)] += 32768 - sum;
    }
    return v;
}

constexpr std::array<int32_t, 512> MakeKernelTable()
{
    const std::array<int32_t, 257> half = MakeHalfKernel();
    std::array<int32_t, 512> table{};
    for (int i = -256; i < 256; ++i)
        table[size_t(i + 256)] = half[size_t(i < 0 ? -i : i)];
    return table;
}

// Entry i is K((i - 256) / 128).
constexpr std::array<int32_t, 512> kKernelTable = MakeKernelTable();

FCubicKernel MakeRows()
{
    FCubicKernel rows{};
    for (size_t k = 0; k < 128; ++k)
        rows[k] = {kKernelTable[k], kKernelTable[k + 128], kKernelTable[k + 256], kKernelTable[k + 384]};
    return rows;
}

uint8_t ClampByte(int32_t sum)
{
    return static_cast<uint8_t>(std::clamp(sum >> 15, 0, 255));
}

bool IsUsable(const FPixmap* p)
{
    return p != nullptr && p->GetPixelType() == FPixmap::PIXEL_32_BGRA && p->GetBuffer() != nullptr;
}

uint8_t* PixelAt(const FPixmap& p, int x, int y)
{
    return p.GetRowAddress(y) + ptrdiff_t(x) * 4;
}

bool SharesPixels(const FPixmap& a, const FPixmap& b)
{
    return a.GetBuffer() == b.GetBuffer();
}

// Right to left over every row; the fraction starts at 0, so the first and last output
// pixels fall exactly on the first and last source pixels.
void ScaleDisplayRowsWiderCubic(const FPixmap& src, const FRect& s, const FPixmap& dst, const FRect& d)
{
    const FCubicKernel& kernel = GetCubicKernel();
    const int sw = s.Width();
    const int dw = d.Width();
    const uint32_t step = uint32_t(sw - 1) * kOne / uint32_t(dw - 1);
    std::vector<uint8_t> row(size_t(sw) * 4);
    const auto tap = [&](int i) { return row.data() + ptrdiff_t(std::clamp(i, 0, sw - 1)) * 4; };
    for (int y = 0; y < s.Height(); ++y) {
        std::memcpy(row.data(), PixelAt(src, s.left, s.top + y), row.size());
        uint8_t* out = PixelAt(dst, d.left, d.top + y);
        int current = sw - 1;
        uint32_t f = 0;
        for (int x = dw - 1; x >= 0; --x) {
            const auto& w = kernel[f >> 8];
            const uint8_t* p0 = tap(current - 2);
            const uint8_t* p1 = tap(current - 1);
            const uint8_t* p2 = tap(current);
            const uint8_t* p3 = tap(current + 1);
            uint8_t* o = out + ptrdiff_t(x) * 4;
            for (int k = 0; k < 4; ++k)
                o[k] = ClampByte(w[0] * p0[k] + w[1] * p1[k] + w[2] * p2[k] + w[3] * p3[k]);
            f += step;
            if (f >= kOne) {
                f -= kOne;
                --current;
            }
        }
    }
}

// Bottom up; rows outside the source rectangle repeat its nearest row. When source and
// destination share pixels the source rows are read from a copy.
void ScaleDisplayColumnsTallerCubic(const FPixmap& src, const FRect& s, const FPixmap& dst, const FRect& d)
{
    const FCubicKernel& kernel = GetCubicKernel();
    const int sh = s.Height();
    const size_t rowBytes = size_t(s.Width()) * 4;
    std::vector<uint8_t> copy;
    if (SharesPixels(src, dst)) {
        copy.resize(rowBytes * size_t(sh));
        for (int y = 0; y < sh; ++y)
            std::memcpy(copy.data() + rowBytes * size_t(y), PixelAt(src, s.left, s.top + y), rowBytes);
    }
    const auto rowOf = [&](int i) -> const uint8_t* {
        i = std::clamp(i, 0, sh - 1);
        return copy.empty() ? PixelAt(src, s.left, s.top + i) : copy.data() + rowBytes * size_t(i);
    };
    const uint32_t step = uint32_t(sh - 1) * kOne / uint32_t(d.Height() - 1);
    int current = sh - 1;
    uint32_t f = 0;
    for (int y = d.Height() - 1; y >= 0; --y) {
        uint8_t* out = PixelAt(dst, d.left, d.top + y);
        if (f == 0) {
            std::memmove(out, rowOf(current), rowBytes);
        } else {
            const auto& w = kernel[f >> 8];
            const uint8_t* r0 = rowOf(current - 2);
            const uint8_t* r1 = rowOf(current - 1);
            const uint8_t* r2 = rowOf(current);
            const uint8_t* r3 = rowOf(current + 1);
            for (size_t k = 0; k < rowBytes; ++k)
                out[k] = ClampByte(w[0] * r0[k] + w[1] * r1[k] + w[2] * r2[k] + w[3] * r3[k]);
        }
        f += step;
        if (f >= kOne) {
            f -= kOne;
            --current;
        }
    }
}

// The weights add up to one pixel exactly, so flat areas keep their value.
uint32_t Lerp(uint32_t a, uint32_t b, uint32_t f)
{
    return (a * (kOne - f) + b * f) >> 15;
}

void ScaleDisplayBilinearReduce(const FPixmap& src, const FRect& s, const FPixmap& dst, const FRect& d)
{
    FFixedStep sy(uint32_t(s.Height() - 1) * kOne / uint32_t(d.Height()));
    for (int y = 0; y < d.Height(); ++y, sy.Next()) {
        const uint8_t* upper = PixelAt(src, s.left, s.top + sy.pos);
        const uint8_t* lower = PixelAt(src, s.left, s.top + std::min(sy.pos + 1, s.Height() - 1));
        uint8_t* out = PixelAt(dst, d.left, d.top + y);
        FFixedStep sx(uint32_t(s.Width() - 1) * kOne / uint32_t(d.Width()));
        for (int x = 0; x < d.Width(); ++x, sx.Next()) {
            const ptrdiff_t x0 = ptrdiff_t(sx.pos) * 4;
            const ptrdiff_t x1 = ptrdiff_t(std::min(sx.pos + 1, s.Width() - 1)) * 4;
            uint8_t* o = out + ptrdiff_t(x) * 4;
            for (int k = 0; k < 3; ++k) {
                const uint32_t top = Lerp(upper[x0 + k], upper[x1 + k], sx.f);
                const uint32_t bottom = Lerp(lower[x0 + k], lower[x1 + k], sx.f);
                o[k] = static_cast<uint8_t>(Lerp(top, bottom, sy.f));
            }
            o[3] = 255;
        }
    }
}

void TintPixel(uint8_t* p, uint32_t colour)
{
    const uint32_t a = colour >> 24;
    const uint32_t rgb[3] = {colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF};
    for (int k = 0; k < 3; ++k) {
        // Byte 0 is blue, byte 2 red.
        const uint32_t c = p[k] * (255 - a) + rgb[2 - k] * a;
        p[k] = static_cast<uint8_t>((c + 1 + (c >> 8)) >> 8);
    }
    p[3] = 255;
}

// Four pixels whose colour channels all lie within low..high (inclusive) are copied at once.
struct FQuadBand {
    FQuadBand(int low, int high)
#ifdef __SSE2__
        : lowVec(_mm_set1_epi8(char(low))), highVec(_mm_set1_epi8(char(high))),
          alphaLanes(_mm_set1_epi32(int(0xFF000000u)))
#endif
    {
        for (int k = 0; k < 16; ++k) {
            lows[k] = uint8_t(k % 4 == 3 ? 0 : low);
            highs[k] = uint8_t(k % 4 == 3 ? 255 : high);
        }
    }
    // Copies the four when they all lie in the band; false (nothing written) otherwise.
    bool CopyInside(const uint8_t* in, uint8_t* out) const
    {
#ifdef __SSE2__
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i aboveLow = _mm_cmpeq_epi8(_mm_max_epu8(v, lowVec), v);
        const __m128i belowHigh = _mm_cmpeq_epi8(_mm_min_epu8(v, highVec), v);
        const __m128i inside = _mm_or_si128(_mm_and_si128(aboveLow, belowHigh), alphaLanes);
        if (_mm_movemask_epi8(inside) != 0xFFFF)
            return false;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
        return true;
#else
        for (int k = 0; k < 16; ++k) {
            if (in[k] < lows[k] || in[k] > highs[k])
                return false;
        }
        std::memcpy(out, in, 16);
        return true;
#endif
    }

#ifdef __SSE2__
    __m128i lowVec;
    __m128i highVec;
    __m128i alphaLanes;
#endif
    uint8_t lows[16];
    uint8_t highs[16];
};

// The warning tints of one copy: each colour's channels by byte value, worked out once
// with TintPixel's arithmetic.
struct FWarningTints {
    FWarningTints(int shadowThreshold, int highlightThreshold, uint32_t shadowColour,
                  uint32_t highlightColour)
        : highlight(highlightThreshold)
    {
        // Luminance <= threshold exactly when 100 x luminance + 50 (before the division) is
        // below 100 x (threshold + 1); kept in 64 bits for any threshold.
        shadowLimit = std::clamp<int64_t>(100 * (int64_t(shadowThreshold) + 1), -1, 100000);
        for (int v = 0; v < 256; ++v) {
            for (int k = 0; k < 3; ++k) {
                uint8_t p[4] = {0, 0, 0, 0};
                p[k] = uint8_t(v);
                TintPixel(p, shadowColour);
                shadow[k][v] = p[k];
                p[k] = uint8_t(v);
                TintPixel(p, highlightColour);
                high[k][v] = p[k];
            }
        }
    }
    // Copies one pixel, tinted: shadow first, else highlight.
    void Apply(const uint8_t* in, uint8_t* out) const
    {
        const int blue = in[0];
        const int green = in[1];
        const int red = in[2];
        const uint8_t(*table)[256] = nullptr;
        if (55 * green + 15 * blue + 30 * red + 50 < shadowLimit)
            table = shadow;
        else if (red >= highlight || green >= highlight || blue >= highlight)
            table = high;
        if (!table) {
            if (in != out)
                std::memcpy(out, in, 4);
            return;
        }
        out[0] = table[0][blue];
        out[1] = table[1][green];
        out[2] = table[2][red];
        out[3] = 255;
    }

    int64_t shadowLimit;
    int highlight;
    uint8_t shadow[3][256];
    uint8_t high[3][256];
};

#ifdef __SSE2__
// The tinted copy of four pixels at once, with the arithmetic of TintPixel in 16-bit lanes
// (every intermediate stays below 65536).
struct FQuadTint {
    FQuadTint(int64_t shadowLimit, int highlightThreshold, uint32_t shadowColour, uint32_t highlightColour)
        : limit(_mm_set1_epi32(int32_t(shadowLimit))),
          highVec(_mm_set1_epi8(char(std::clamp(highlightThreshold, 0, 255)))),
          rgbLanes(_mm_set1_epi32(0x00FFFFFF)), alphaLanes(_mm_set1_epi32(int(0xFF000000u))),
          weights(_mm_setr_epi16(15, 55, 30, 0, 15, 55, 30, 0)), highAll(highlightThreshold <= 0),
          highNone(highlightThreshold > 255)
    {
        Prepare(shadowColour, shadowKeep, shadowAdd);
        Prepare(highlightColour, highKeep, highAdd);
    }
    static void Prepare(uint32_t colour, __m128i& keep, __m128i& add)
    {
        const int a = int(colour >> 24);
        const int r = int(colour & 0xFF), g = int((colour >> 8) & 0xFF), b = int((colour >> 16) & 0xFF);
        keep = _mm_set1_epi16(short(255 - a));
        add = _mm_setr_epi16(short(b * a), short(g * a), short(r * a), 0, short(b * a), short(g * a),
                             short(r * a), 0);
    }
    static __m128i Tinted(__m128i lo, __m128i hi, __m128i keep, __m128i add, __m128i alpha)
    {
        const __m128i one = _mm_set1_epi16(1);
        const auto half = [&](__m128i p) {
            const __m128i c = _mm_add_epi16(_mm_mullo_epi16(p, keep), add);
            return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(c, one), _mm_srli_epi16(c, 8)), 8);
        };
        return _mm_or_si128(_mm_packus_epi16(half(lo), half(hi)), alpha);
    }
    void Tint(const uint8_t* in, uint8_t* out) const
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i lo = _mm_unpacklo_epi8(v, zero);
        const __m128i hi = _mm_unpackhi_epi8(v, zero);
        // 15 blue + 55 green + 30 red per pixel.
        const __m128i mlo = _mm_madd_epi16(lo, weights);
        const __m128i mhi = _mm_madd_epi16(hi, weights);
        const __m128i slo = _mm_add_epi32(mlo, _mm_srli_epi64(mlo, 32));
        const __m128i shi = _mm_add_epi32(mhi, _mm_srli_epi64(mhi, 32));
        const __m128i sums = _mm_castps_si128(
            _mm_shuffle_ps(_mm_castsi128_ps(slo), _mm_castsi128_ps(shi), _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i shadow = _mm_cmplt_epi32(_mm_add_epi32(sums, _mm_set1_epi32(50)), limit);
        __m128i high;
        if (highAll) {
            high = _mm_set1_epi32(-1);
        } else if (highNone) {
            high = zero;
        } else {
            const __m128i atLeast = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, highVec), v), rgbLanes);
            high = _mm_xor_si128(_mm_cmpeq_epi32(atLeast, zero), _mm_set1_epi32(-1));
        }
        high = _mm_andnot_si128(shadow, high);
        if (_mm_movemask_epi8(_mm_or_si128(shadow, high)) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
            return;
        }
        // Patches of a picture are mostly dark or mostly bright: only the tints in use are made.
        __m128i result = v;
        if (_mm_movemask_epi8(shadow) != 0) {
            const __m128i toShadow = Tinted(lo, hi, shadowKeep, shadowAdd, alphaLanes);
            result = _mm_or_si128(_mm_andnot_si128(shadow, result), _mm_and_si128(shadow, toShadow));
        }
        if (_mm_movemask_epi8(high) != 0) {
            const __m128i toHigh = Tinted(lo, hi, highKeep, highAdd, alphaLanes);
            result = _mm_or_si128(_mm_andnot_si128(high, result), _mm_and_si128(high, toHigh));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), result);
    }

    __m128i limit;
    __m128i highVec;
    __m128i rgbLanes;
    __m128i alphaLanes;
    __m128i weights;
    __m128i shadowKeep, shadowAdd, highKeep, highAdd;
    bool highAll;
    bool highNone;
};
#endif

// Clips the rectangles and scales when their sizes differ; true when an equal-size copy
// is left to do.
bool PrepareEqualSizeCopy(FPixmap* destination, const FRect* destinationRect, FPixmap* source,
                          const FRect* sourceRect, FRect& d, FRect& s)
{
    if (destinationRect == nullptr || sourceRect == nullptr || !IsUsable(destination) || !IsUsable(source))
        return false;
    d = *destinationRect;
    s = *sourceRect;
    if (!ClipBlitRects(destination, d, source, s))
        return false;
    if (d.Width() == s.Width() && d.Height() == s.Height())
        return true;
    ScaleDisplayPixmapRect(destination, d, source, s);
    return false;
}

} // namespace

const FCubicKernel& GetCubicKernel()
{
    static const FCubicKernel rows = MakeRows();
    return rows;
}

bool ClipBlitRects(FPixmap* destination, FRect& destinationRect, FPixmap* source, FRect& sourceRect)
{
    if (!IsUsable(destination) || !IsUsable(source))
        return false;
    return ClipBlitRectsToSizes(destination->GetCols(), destination->GetRows(), destinationRect,
                                source->GetCols(), source->GetRows(), sourceRect);
}

void CopyDisplayPixmapRect(FPixmap* destination, const FRect* destinationRect, FPixmap* source,
                           const FRect* sourceRect)
{
    FRect d;
    FRect s;
    if (!PrepareEqualSizeCopy(destination, destinationRect, source, sourceRect, d, s))
        return;
    const size_t rowBytes = size_t(d.Width()) * 4;
    for (int k = 0; k < d.Height(); ++k)
        std::memmove(PixelAt(*destination, d.left, d.top + k), PixelAt(*source, s.left, s.top + k), rowBytes);
}

void BlendDisplayPixmapRect(FPixmap* destination, const FRect* destinationRect, FPixmap* source,
                            const FRect* sourceRect, int shadowThreshold, int highlightThreshold,
                            uint32_t shadowColour, uint32_t highlightColour)
{
    FRect d;
    FRect s;
    if (!PrepareEqualSizeCopy(destination, destinationRect, source, sourceRect, d, s))
        return;
    // Luminance is at least the darkest channel, so a pixel whose channels all lie
    // strictly between the two thresholds is never tinted: groups of four such pixels are
    // only copied. The band is usable when both of its ends are bytes.
    const int low = std::max(shadowThreshold + 1, 0);
    const int high = highlightThreshold - 1;
    const bool band = low <= 255 && high >= 0 && high <= 255 && low <= high;
    const FWarningTints tints(shadowThreshold, highlightThreshold, shadowColour, highlightColour);
    const FQuadBand quads(band ? low : 0, band ? high : 0);
#ifdef __SSE2__
    const FQuadTint quadTints(tints.shadowLimit, highlightThreshold, shadowColour, highlightColour);
#endif
    // Rows of one pixmap may overlap: they are then copied whole before they are looked at.
    const bool shared = SharesPixels(*destination, *source);
    const size_t rowBytes = size_t(d.Width()) * 4;
    for (int y = 0; y < d.Height(); ++y) {
        uint8_t* out = PixelAt(*destination, d.left, d.top + y);
        const uint8_t* in = PixelAt(*source, s.left, s.top + y);
        if (shared) {
            std::memmove(out, in, rowBytes);
            in = out;
        }
        int x = 0;
#ifdef __SSE2__
        for (; x + 4 <= d.Width(); x += 4) {
            const ptrdiff_t at = ptrdiff_t(x) * 4;
            if (!band || !quads.CopyInside(in + at, out + at))
                quadTints.Tint(in + at, out + at);
        }
#else
        if (band) {
            for (; x + 4 <= d.Width(); x += 4) {
                const ptrdiff_t at = ptrdiff_t(x) * 4;
                if (quads.CopyInside(in + at, out + at))
                    continue;
                for (int k = 0; k < 4; ++k)
                    tints.Apply(in + at + k * 4, out + at + k * 4);
            }
        }
#endif
        for (; x < d.Width(); ++x)
            tints.Apply(in + ptrdiff_t(x) * 4, out + ptrdiff_t(x) * 4);
    }
}

void ScaleDisplayPixmapRect(FPixmap* destination, const FRect& d, FPixmap* source, const FRect& s)
{
    if (!IsUsable(destination) || !IsUsable(source))
        return;
    // Only rectangles inside their pixmaps are scaled; ClipBlitRects makes them so.
    const auto inside = [](const FPixmap& p, const FRect& r) {
        return r.left >= 0 && r.top >= 0 && r.Width() > 0 && r.Height() > 0 && r.right <= p.GetCols() &&
               r.bottom <= p.GetRows();
    };
    if (!inside(*destination, d) || !inside(*source, s))
        return;
    FPixmap& src = *source;
    FPixmap& dst = *destination;
    uint8_t* sb = src.GetBuffer();
    uint8_t* db = dst.GetBuffer();
    const int sw = s.Width();
    const int sh = s.Height();
    const int dw = d.Width();
    const int dh = d.Height();
    if (dw == sw) {
        if (sh > dh)
            ScaleColumnsShorterNearest(sb, src.GetStride(), s, db, dst.GetStride(), d);
        else if (sh < dh)
            ScaleDisplayColumnsTallerCubic(src, s, dst, d);
        return;
    }
    if (dw > sw) {
        if (sh == dh) {
            ScaleDisplayRowsWiderCubic(src, s, dst, d);
        } else if (sh > dh) {
            const FRect band(d.left, d.top, d.left + sw, d.bottom);
            ScaleColumnsShorterNearest(sb, src.GetStride(), s, db, dst.GetStride(), band);
            ScaleDisplayRowsWiderCubic(dst, band, dst, d);
        } else {
            const FRect band(d.left, d.top, d.right, d.top + sh);
            ScaleDisplayRowsWiderCubic(src, s, dst, band);
            ScaleDisplayColumnsTallerCubic(dst, band, dst, d);
        }
        return;
    }
    if (sh == dh) {
        ScaleRowsNarrowerNearest(sb, src.GetStride(), s, db, dst.GetStride(), d);
    } else if (sh > dh) {
        ScaleDisplayBilinearReduce(src, s, dst, d);
    } else {
        const FRect band(d.left, d.top, d.right, d.top + sh);
        ScaleRowsNarrowerNearest(sb, src.GetStride(), s, db, dst.GetStride(), band);
        ScaleDisplayColumnsTallerCubic(dst, band, dst, d);
    }
}
