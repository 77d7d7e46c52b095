#include "Despeckle.h"

#include <algorithm>
#include <emmintrin.h>
#include <vector>

#include "FException.h"
#include "RowUndo.h"
#include "RunInRowBands.h"

namespace
{

inline int32_t Luma(const int16_t* p)
{
    return p[0] + 2 * p[1] + p[2];
}

// The first of `candidates` whose luma is `target`, else the first with the extreme luma
// of the group (the floor of 5 can make the target one no neighbour has).
const int16_t* FindByLuma(const int16_t* const candidates[4], const int32_t luma[4], int32_t target,
                          bool brightest)
{
    for (int i = 0; i < 4; ++i)
        if (luma[i] == target)
            return candidates[i];
    int best = 0;
    for (int i = 1; i < 4; ++i)
        if (brightest ? luma[i] > luma[best] : luma[i] < luma[best])
            best = i;
    return candidates[best];
}

} // namespace

namespace
{

// Per sample i of a row of triples: the largest and smallest of the eight neighbours, as
// the largest (smallest) of three column extremes: the two side columns with the centre
// row, the centre column without it. `current` is the row as it was before the call.
inline void ChannelLimits(const int16_t* previous, const int16_t* current, const int16_t* next, size_t i,
                          int32_t& lo, int32_t& hi)
{
    auto colMax = [&](size_t j) {
        return std::max({int32_t{previous[j]}, int32_t{current[j]}, int32_t{next[j]}});
    };
    auto colMin = [&](size_t j) {
        return std::min({int32_t{previous[j]}, int32_t{current[j]}, int32_t{next[j]}});
    };
    hi = std::max({colMax(i - 3), colMax(i + 3), int32_t{previous[i]}, int32_t{next[i]}});
    lo = std::min({colMin(i - 3), colMin(i + 3), int32_t{previous[i]}, int32_t{next[i]}});
}

// Eight samples at once; the centre clamped to the neighbours' range is what the
// comparisons with their largest and smallest give.
inline __m128i ChannelClamp8(const int16_t* previous, const int16_t* current, const int16_t* next, size_t i)
{
    auto load = [](const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i pl = load(previous + i - 3), cl = load(current + i - 3), nl = load(next + i - 3);
    const __m128i pc = load(previous + i), cc = load(current + i), nc = load(next + i);
    const __m128i pr = load(previous + i + 3), cr = load(current + i + 3), nr = load(next + i + 3);
    const __m128i hi = _mm_max_epi16(_mm_max_epi16(_mm_max_epi16(pl, cl), _mm_max_epi16(nl, pr)),
                                     _mm_max_epi16(_mm_max_epi16(cr, nr), _mm_max_epi16(pc, nc)));
    const __m128i lo = _mm_min_epi16(_mm_min_epi16(_mm_min_epi16(pl, cl), _mm_min_epi16(nl, pr)),
                                     _mm_min_epi16(_mm_min_epi16(cr, nr), _mm_min_epi16(pc, nc)));
    return _mm_min_epi16(_mm_max_epi16(cc, lo), hi);
}

// `original` holds the current row as it was: the results go to `current`.
void DespeckleChannels(const int16_t* previous, const int16_t* original, int16_t* current,
                       const int16_t* next, uint32_t columns)
{
    const size_t end = 3 * (static_cast<size_t>(columns) - 1);
    size_t i = 3;
    for (; i + 8 <= end; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(current + i), ChannelClamp8(previous, original, next, i));
    for (; i < end; ++i) {
        int32_t lo = 0;
        int32_t hi = 0;
        ChannelLimits(previous, original, next, i, lo, hi);
        current[i] = static_cast<int16_t>(std::clamp<int32_t>(original[i], lo, hi));
    }
}

} // namespace

void DespeckleRowChannels(const int16_t* previous, int16_t* current, const int16_t* next, uint32_t columns)
{
    if (columns <= 2)
        return;
    const std::vector<int16_t> original(current, current + 3 * static_cast<size_t>(columns));
    DespeckleChannels(previous, original.data(), current, next, columns);
}

namespace
{

void RowLuma(const int16_t* row, size_t columns, int32_t* luma)
{
    for (size_t x = 0; x < columns; ++x)
        luma[x] = Luma(row + 3 * x);
}

inline __m128i Max32(__m128i a, __m128i b)
{
    const __m128i m = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
}

inline __m128i Min32(__m128i a, __m128i b)
{
    const __m128i m = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(m, b), _mm_andnot_si128(m, a));
}

// For four pixels from x on, a bit each: whether the pixel may be a spike or a pit, by
// the very tests the full look makes; the others are left alone.
int CandidateMask4(const int32_t* up, const int32_t* row, const int32_t* down, const int32_t* brightest,
                   size_t x)
{
    auto load = [](const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i lc = load(row + x), ll = load(row + x - 1), lr = load(row + x + 1);
    const __m128i lu = load(up + x), ld = load(down + x);
    const __m128i lul = load(up + x - 1), lur = load(up + x + 1), ldl = load(down + x - 1),
                  ldr = load(down + x + 1);
    const __m128i five = _mm_set1_epi32(5);
    const __m128i e = Max32(Max32(Max32(ll, lr), Max32(lu, ld)), five);
    const __m128i w = Max32(Max32(Max32(lul, lur), Max32(ldl, ldr)), five);
    const __m128i f = Min32(Min32(ll, lr), Min32(lu, ld));
    const __m128i v = Min32(Min32(lul, lur), Min32(ldl, ldr));
    const __m128i half = _mm_add_epi32(_mm_srai_epi32(lc, 1), _mm_set1_epi32(10));
    const __m128i coloured =
        _mm_and_si128(_mm_cmpgt_epi32(lc, e), _mm_cmpgt_epi32(load(brightest + x), half));
    const __m128i strong =
        _mm_and_si128(_mm_cmpgt_epi32(lc, _mm_add_epi32(e, e)), _mm_cmpgt_epi32(lc, _mm_add_epi32(w, w)));
    const __m128i peak = _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi32(lc, ll), _mm_cmpgt_epi32(lc, lr)),
                                       _mm_or_si128(_mm_and_si128(coloured, _mm_cmpgt_epi32(lc, w)), strong));
    const __m128i pit = _mm_and_si128(_mm_and_si128(_mm_cmplt_epi32(lc, ll), _mm_cmplt_epi32(lc, lr)),
                                      _mm_and_si128(_mm_cmplt_epi32(lc, f), _mm_cmplt_epi32(lc, v)));
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_or_si128(peak, pit)));
}

// The lumas of the three rows are taken once, before any change: the current row's are
// those of its original pixels, which is what every comparison within it uses. Most
// pixels are neither above nor below both side neighbours and need nothing more.
// The full look at pixel x of the current row, not yet changed, whose left neighbour was
// `left` before any change; true when the pixel changed.
bool DespeckleLumaPixel(const int16_t* previous, const int16_t* left, int16_t* current, const int16_t* next,
                        const int32_t* const lumas[3], size_t x)
{
    const int32_t* lumaUp = lumas[0];
    const int32_t* lumaRow = lumas[1];
    const int32_t* lumaDown = lumas[2];
    const int16_t centre[3] = {current[3 * x], current[3 * x + 1], current[3 * x + 2]};
    const int16_t* right = current + 3 * x + 3;
    const int32_t lc = lumaRow[x];
    const int32_t ll = lumaRow[x - 1];
    const int32_t lr = lumaRow[x + 1];
    const int16_t* up = previous + 3 * x;
    const int16_t* down = next + 3 * x;
    const int16_t* direct[4] = {left, right, up, down};
    const int16_t* diagonal[4] = {up - 3, up + 3, down - 3, down + 3};
    const int32_t directLuma[4] = {ll, lr, lumaUp[x], lumaDown[x]};
    const int32_t diagonalLuma[4] = {lumaUp[x - 1], lumaUp[x + 1], lumaDown[x - 1], lumaDown[x + 1]};
    const int16_t* source = nullptr;
    bool peak = false;
    if (lc > ll && lc > lr) {
        const int32_t e = std::max(*std::max_element(directLuma, directLuma + 4), 5);
        const int32_t w = std::max(*std::max_element(diagonalLuma, diagonalLuma + 4), 5);
        const int32_t half = (lc >> 1) + 10;
        const bool coloured = lc > e && (centre[0] > half || centre[1] > half || centre[2] > half);
        if ((coloured && lc > w) || (lc > 2 * e && lc > 2 * w)) {
            peak = true;
            source =
                w > e ? FindByLuma(diagonal, diagonalLuma, w, true) : FindByLuma(direct, directLuma, e, true);
        }
    } else if (lc < ll && lc < lr) {
        const int32_t f = *std::min_element(directLuma, directLuma + 4);
        const int32_t v = *std::min_element(diagonalLuma, diagonalLuma + 4);
        if (lc < f && lc < v)
            source = v < f ? FindByLuma(diagonal, diagonalLuma, v, false)
                           : FindByLuma(direct, directLuma, f, false);
    }
    if (source == nullptr)
        return false;
    int32_t r = source[0], g = source[1], b = source[2];
    // Beyond the centre: peaks compare greater, pits smaller.
    auto beyond = [peak](int32_t v, int32_t c) { return peak ? v > c : v < c; };
    if (beyond(r, centre[0])) {
        const int32_t d = (centre[0] - r) >> 2;
        r = centre[0] - d;
        g -= d;
        b -= d;
    }
    if (beyond(g, centre[1])) {
        const int32_t d = (2 * (centre[1] - g)) >> 2;
        g = centre[1] - d;
        r -= d;
        b -= d;
    }
    if (beyond(b, centre[2])) {
        const int32_t d = (centre[2] - b) >> 2;
        b = centre[2] - d;
        r -= d;
        g -= d;
    }
    int16_t* px = current + 3 * x;
    px[0] = static_cast<int16_t>(r);
    px[1] = static_cast<int16_t>(g);
    px[2] = static_cast<int16_t>(b);
    return true;
}

// Lumas and largest channels of a row.
void LumaAndBrightest(const int16_t* row, size_t columns, int32_t* luma, int32_t* brightest)
{
    for (size_t x = 0; x < columns; ++x, row += 3) {
        luma[x] = Luma(row);
        brightest[x] = std::max({int32_t{row[0]}, int32_t{row[1]}, int32_t{row[2]}});
    }
}

// The lumas of a row through its despeckling: above (final), the row's own (original
// while the row is looked at, final after), below, and the largest channels of the row
// and of the row below.
struct LumaRows {
    explicit LumaRows(size_t columns) : m_store(5 * columns)
    {
        for (size_t i = 0; i < 5; ++i)
            m_rows[i] = m_store.data() + i * columns;
        m_changed.reserve(columns);
    }
    int32_t* Up() { return m_rows[0]; }
    int32_t* Row() { return m_rows[1]; }
    int32_t* Down() { return m_rows[2]; }
    int32_t* Brightest() { return m_rows[3]; }
    int32_t* BrightestDown() { return m_rows[4]; }
    // The row goes up, the row below becomes the row.
    void Advance()
    {
        std::swap(m_rows[0], m_rows[1]);
        std::swap(m_rows[1], m_rows[2]);
        std::swap(m_rows[3], m_rows[4]);
    }

    std::vector<int32_t> m_store;
    int32_t* m_rows[5];
    std::vector<uint32_t> m_changed; // pixels of the row changed so far
};

// Every comparison within the row is with its original pixels, so the lumas are taken
// once per row, and most pixels are passed over four at a time. Only a changed pixel's
// original is kept, for its right neighbour's look.
void DespeckleLuma(const int16_t* previous, int16_t* current, const int16_t* next, uint32_t columns,
                   LumaRows& lumas)
{
    const size_t n = columns;
    const int32_t* const rows[3] = {lumas.Up(), lumas.Row(), lumas.Down()};
    lumas.m_changed.clear();
    int16_t kept[3] = {0, 0, 0}; // the original of the last changed pixel
    size_t keptAt = 0;
    auto look = [&](size_t x) {
        const int16_t* left = keptAt == x - 1 && x > 1 ? kept : current + 3 * (x - 1);
        int16_t original[3] = {current[3 * x], current[3 * x + 1], current[3 * x + 2]};
        if (DespeckleLumaPixel(previous, left, current, next, rows, x)) {
            std::copy(original, original + 3, kept);
            keptAt = x;
            lumas.m_changed.push_back(uint32_t(x));
        }
    };
    size_t x = 1;
    for (; x + 4 < n; x += 4) {
        for (int mask = CandidateMask4(rows[0], rows[1], rows[2], lumas.Brightest(), x); mask != 0;
             mask &= mask - 1)
            look(x + size_t(__builtin_ctz(unsigned(mask))));
    }
    for (; x + 1 < n; ++x)
        look(x);
    for (uint32_t changed : lumas.m_changed)
        lumas.Row()[changed] = Luma(current + 3 * static_cast<size_t>(changed));
}

} // namespace

void DespeckleRowLuma(const int16_t* previous, int16_t* current, const int16_t* next, uint32_t columns)
{
    if (columns <= 2)
        return;
    LumaRows lumas(columns);
    RowLuma(previous, columns, lumas.Up());
    LumaAndBrightest(current, columns, lumas.Row(), lumas.Brightest());
    RowLuma(next, columns, lumas.Down());
    DespeckleLuma(previous, current, next, columns, lumas);
}

namespace
{

// Despeckles rows in order from the top. Each row comes with the row above as it ended
// and the row below as it was.
class DespeckleSweep
{
public:
    DespeckleSweep(uint32_t columns, bool perChannel)
        : m_iColumns(columns), m_bPerChannel(perChannel), m_before(3 * static_cast<size_t>(columns)),
          m_lumas(perChannel ? 0 : columns)
    {
    }

    void Row(const int16_t* previous, int16_t* current, const int16_t* next, RowUndo* undo = nullptr)
    {
        if (m_bPerChannel || undo != nullptr)
            std::copy(current, current + m_before.size(), m_before.begin());
        if (m_bPerChannel) {
            DespeckleChannels(previous, m_before.data(), current, next, m_iColumns);
        } else {
            if (!m_bStarted) {
                RowLuma(previous, m_iColumns, m_lumas.Up());
                LumaAndBrightest(current, m_iColumns, m_lumas.Row(), m_lumas.Brightest());
                m_bStarted = true;
            }
            LumaAndBrightest(next, m_iColumns, m_lumas.Down(), m_lumas.BrightestDown());
            DespeckleLuma(previous, current, next, m_iColumns, m_lumas);
            m_lumas.Advance();
        }
        if (undo != nullptr)
            AppendRowChanges(current, m_before.data(), m_before.size(), *undo);
    }

private:
    uint32_t m_iColumns;
    bool m_bPerChannel;
    bool m_bStarted = false;
    std::vector<int16_t> m_before;
    LumaRows m_lumas;
};

// Rows a band sweeps above its first row to guess the row above it as it will end: the
// filter forgets within a few rows, so its guesses are almost never wrong.
constexpr int kDespeckleHalo = 16;

} // namespace

void DespeckleImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool perChannel, int threads)
{
    DespeckleImage(image, perChannel, threads, kDespeckleHalo);
}

void DespeckleImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool perChannel, int threads,
                    int haloRows)
{
    if (image.GetRows() < 3 || image.GetCols() < 3)
        throw FExceptionPixelProc2("Despeckle: input image too small");
    const uint32_t cols = static_cast<uint32_t>(image.GetCols());
    const int rows = image.GetRows();
    const int inner = rows - 2; // rows 1 ... rows - 2 change
    threads = std::clamp(BalancedBands(inner, threads, 10 * kDespeckleHalo), 1, inner);
    if (threads == 1) {
        DespeckleSweep sweep(cols, perChannel);
        for (int y = 1; y + 1 < rows; ++y)
            sweep.Row(image.GetRow(y - 1), image.GetRow(y), image.GetRow(y + 1));
        return;
    }
    // A row depends on the row above as it ended, so on every row before it. Each band
    // guesses its row above by sweeping a halo of original rows, keeps what it changed,
    // and afterwards, from the top, a band whose guess was wrong is swept again from its
    // originals until its rows agree with what the band made: the result is the one sweep's.
    const size_t rowSamples = 3 * static_cast<size_t>(cols);
    auto bandStart = [&](int band) { return 1 + RowBandStart(inner, threads, band); };
    std::vector<std::vector<int16_t>> halos(static_cast<size_t>(threads));
    std::vector<int> haloTop(static_cast<size_t>(threads), 0);
    for (int b = 1; b < threads; ++b) {
        const int first = bandStart(b);
        const int top = std::max(0, first - 1 - std::max(haloRows, 0));
        haloTop[b] = top;
        halos[b].resize(rowSamples * static_cast<size_t>(first - top + 1));
        for (int y = top; y <= first; ++y)
            std::copy(image.GetRow(y), image.GetRow(y) + rowSamples, &halos[b][rowSamples * (y - top)]);
    }
    std::vector<std::vector<int16_t>> guesses(static_cast<size_t>(threads));
    std::vector<RowUndo> undo(static_cast<size_t>(rows));
    RunInRowBands(inner, threads, [&](int innerFirst, int innerEnd) {
        const int first = 1 + innerFirst;
        const int end = 1 + innerEnd;
        int band = 0;
        while (bandStart(band) < first)
            ++band;
        const int16_t* above = image.GetRow(first - 1);
        if (band > 0) {
            // Row top of the halo stands for itself as it will end.
            std::vector<int16_t>& halo = halos[static_cast<size_t>(band)];
            const int top = haloTop[static_cast<size_t>(band)];
            DespeckleSweep guess(cols, perChannel);
            for (int y = top + 1; y < first; ++y)
                guess.Row(&halo[rowSamples * (y - 1 - top)], &halo[rowSamples * (y - top)],
                          &halo[rowSamples * (y + 1 - top)]);
            above = &halo[rowSamples * (first - 1 - top)];
            guesses[static_cast<size_t>(band)].assign(above, above + rowSamples);
        }
        DespeckleSweep sweep(cols, perChannel);
        for (int y = first; y < end; ++y) {
            // The band below changes its first row: its original is in that band's halo.
            const int16_t* below = image.GetRow(y + 1);
            if (y + 1 == end && band + 1 < threads)
                below = &halos[static_cast<size_t>(band) + 1][rowSamples * (end - haloTop[band + 1])];
            sweep.Row(y == first ? above : image.GetRow(y - 1), image.GetRow(y), below, &undo[y]);
        }
    });
    auto original = [&](int y, std::vector<int16_t>& out) {
        out.assign(image.GetRow(y), image.GetRow(y) + rowSamples);
        UndoRowChanges(out.data(), undo[static_cast<size_t>(y)]);
    };
    int repairedThrough = 0;
    std::vector<int16_t> current, next;
    for (int b = 1; b < threads; ++b) {
        const int first = bandStart(b);
        const int16_t* above = image.GetRow(first - 1);
        if (first <= repairedThrough || std::equal(above, above + rowSamples, guesses[b].begin()))
            continue;
        DespeckleSweep sweep(cols, perChannel);
        original(first, current);
        for (int y = first; y + 1 < rows; ++y) {
            original(y + 1, next);
            sweep.Row(image.GetRow(y - 1), current.data(), next.data());
            repairedThrough = y;
            int16_t* row = image.GetRow(y);
            if (std::equal(current.begin(), current.end(), row))
                break;
            std::copy(current.begin(), current.end(), row);
            current.swap(next);
        }
    }
}
