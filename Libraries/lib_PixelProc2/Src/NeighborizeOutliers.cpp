#include "NeighborizeOutliers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "RowUndo.h"
#include "RunInRowBands.h"

namespace
{

constexpr int32_t kClipHigh = 32000;
// Ring rows: three pixel rows of three samples, then the three- and five-row flags.
constexpr int kFlagRows = 8;

inline int16_t Saturate16(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
}

inline int64_t Ch(const FIntRGB& t, int c)
{
    return c == 0 ? t.r : (c == 1 ? t.g : t.b);
}

inline int32_t Range(const FIntRGB& low, const FIntRGB& clip)
{
    return clip.g - low.g;
}

// A grey of the same channel sum.
inline void Neutral(int64_t out[3], const int16_t* p, const FIntRGB& chroma)
{
    const int64_t s = static_cast<int64_t>(p[0]) + p[1] + p[2];
    for (int c = 0; c < 3; ++c)
        out[c] = (s * Ch(chroma, c)) >> 12;
}

template <int N>
void Rotate(uint8_t* ring[N], uint32_t columns)
{
    uint8_t* oldest = ring[0];
    for (int i = 0; i + 1 < N; ++i)
        ring[i] = ring[i + 1];
    std::memset(oldest, 0, columns);
    ring[N - 1] = oldest;
}

void Flag(uint8_t* row, int64_t from, int64_t to)
{
    for (int64_t x = from; x <= to; ++x)
        row[x] = 1;
}

void WriteBack(int16_t* row, const int16_t* result, uint32_t columns)
{
    for (uint32_t x = 2; x + 2 < columns; ++x)
        std::memcpy(row + 3 * static_cast<size_t>(x), result + 3 * static_cast<size_t>(x),
                    3 * sizeof(int16_t));
}

// Pass 1: near-saturated pixels of `row` toward their neutral; fully saturated ones flag
// their neighbourhood.
void PullTowardNeutral(int16_t* row, FNeighborizeRings& rings, uint32_t columns, const FIntRGB& low,
                       const FIntRGB& chroma, int32_t range)
{
    const int64_t k = (int64_t{1} << 28) / range;
    for (int64_t x = 2; x + 2 < static_cast<int64_t>(columns); ++x) {
        int16_t* p = row + 3 * x;
        const int64_t m = std::min({p[0] - Ch(low, 0), p[1] - Ch(low, 1), p[2] - Ch(low, 2)});
        if (m <= 0)
            continue;
        int64_t n[3];
        Neutral(n, p, chroma);
        int64_t d[3] = {n[0] - p[0], n[1] - p[1], n[2] - p[2]};
        const int64_t dmin = std::min({d[0], d[1], d[2]});
        if (dmin < 0)
            for (auto& v : d)
                v -= dmin;
        if (m < range) {
            int64_t w = 16384 - ((m * k) >> 14);
            w = 16384 - ((w * w) >> 14);
            w = (w * w) >> 14;
            for (int c = 0; c < 3; ++c)
                p[c] = Saturate16(p[c] + ((w * d[c]) >> 14));
            continue;
        }
        for (int c = 0; c < 3; ++c)
            p[c] = Saturate16(p[c] + d[c]);
        for (auto* f : rings.flags3)
            Flag(f, x - 1, x + 1);
        Flag(rings.flags5[0], x - 1, x + 1);
        Flag(rings.flags5[4], x - 1, x + 1);
        for (int i = 1; i <= 3; ++i)
            Flag(rings.flags5[i], x - 2, x + 2);
    }
}

inline int64_t Third(const int16_t* p)
{
    return ((static_cast<int64_t>(p[0]) + p[1] + p[2]) * 1365) >> 12;
}

} // namespace

void NeighborizeThresholds(const FDoubleRGB& neutral, const FIntRGB& saturation, FIntRGB& low, FIntRGB& clip,
                           FIntRGB& chroma)
{
    low = clip = chroma = FIntRGB();
    const double n[3] = {neutral.r, neutral.g, neutral.b};
    const double s[3] = {saturation.r + static_cast<double>(saturation.r >> 3),
                         saturation.g + static_cast<double>(saturation.g >> 3),
                         saturation.b + static_cast<double>(saturation.b >> 3)};
    for (double v : n)
        if (!(v > 0.0) || !std::isfinite(v))
            return;
    const double g = std::min({s[0] / n[0], s[1] / n[1], s[2] / n[2]});
    int64_t cl[3];
    for (int c = 0; c < 3; ++c)
        cl[c] = static_cast<int64_t>(std::trunc(std::clamp(g * n[c] + 0.5, -1e9, 1e9)));
    const int64_t sum = cl[0] + cl[1] + cl[2];
    if (sum == 0)
        return;
    const int64_t half = std::min({cl[0], cl[1], cl[2]}) / 2;
    int64_t ch[3];
    for (int c = 0; c < 3; ++c)
        ch[c] = static_cast<int64_t>(
            std::trunc(4096.0 * static_cast<double>(cl[c]) / static_cast<double>(sum) + 0.5));
    clip.Set(static_cast<int32_t>(cl[0]), static_cast<int32_t>(cl[1]), static_cast<int32_t>(cl[2]));
    chroma.Set(static_cast<int32_t>(ch[0]), static_cast<int32_t>(ch[1]), static_cast<int32_t>(ch[2]));
    low.Set(static_cast<int32_t>(cl[0] - half), static_cast<int32_t>(cl[1] - half),
            static_cast<int32_t>(cl[2] - half));
}

int NeighborizeOutliers(int16_t* current, int16_t* previous1, int16_t* previous2, int16_t* previous3,
                        int16_t* previous4, FNeighborizeRings& rings, bool multiFrame, uint32_t columns,
                        const FIntRGB& low, const FIntRGB& clip, const FIntRGB& chroma)
{
    if (columns < 5)
        return 0;
    Rotate<3>(rings.flags3, columns);
    Rotate<5>(rings.flags5, columns);
    int16_t* oldestPixels = rings.pixels[0];
    rings.pixels[0] = rings.pixels[1];
    rings.pixels[1] = rings.pixels[2];
    rings.pixels[2] = oldestPixels;
    int16_t* out = rings.pixels[2];

    const int32_t range = Range(low, clip);
    if (range < 100)
        return 0;
    PullTowardNeutral(current, rings, columns, low, chroma, range);

    const size_t rowSamples = 3 * static_cast<size_t>(columns);
    if (!previous1 || !previous2 || !previous3 || !previous4) {
        if (previous2 != nullptr)
            std::memcpy(out, previous2, rowSamples * sizeof(int16_t));
        else
            std::fill(out, out + rowSamples, int16_t{0});
        return 0;
    }

    const int64_t last = static_cast<int64_t>(columns) - 2;
    for (int64_t x = 2; x < last; ++x) {
        if (!rings.flags3[0][x])
            continue;
        int16_t* p = previous1 + 3 * x;
        const int64_t a = Third(p);
        for (int c = 0; c < 3; ++c) {
            const int64_t v = multiFrame ? a : (p[c] + a) / 2;
            p[c] = static_cast<int16_t>(std::min<int64_t>(v, kClipHigh));
        }
    }
    if (multiFrame)
        for (int64_t x = 2; x < last; ++x) {
            if (!rings.flags3[1][x])
                continue;
            int16_t* p = current + 3 * x;
            const int16_t a = static_cast<int16_t>(Third(p));
            p[0] = p[1] = p[2] = a;
        }

    int count = 0;
    const int16_t* rows5[5] = {previous4, previous3, previous2, previous1, current};
    const int16_t* pending = rings.pixels[0];
    for (int64_t x = 2; x < last; ++x) {
        const int16_t* centre = previous2 + 3 * x;
        int16_t* o = out + 3 * x;
        if (rings.flags5[0][x]) {
            int64_t sum[3] = {0, 0, 0};
            for (int r = 0; r < 5; ++r) {
                const int64_t reach = (r == 0 || r == 4) ? 1 : 2;
                for (int64_t dx = -reach; dx <= reach; ++dx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += rows5[r][3 * (x + dx) + c];
            }
            int64_t mean[3];
            for (int c = 0; c < 3; ++c)
                mean[c] = (sum[c] * 195) >> 12;
            const int64_t adjust =
                ((static_cast<int64_t>(centre[0]) + centre[1] + centre[2]) - (mean[0] + mean[1] + mean[2])) >>
                2;
            for (int c = 0; c < 3; ++c)
                o[c] = Saturate16(std::min<int64_t>(mean[c] + adjust, kClipHigh));
            ++count;
        } else {
            std::memcpy(o, centre, 3 * sizeof(int16_t));
        }
        std::memcpy(previous4 + 3 * x, pending + 3 * x, 3 * sizeof(int16_t));
    }
    return count;
}

FNeighborizeSweep::FNeighborizeSweep(uint32_t columns, bool multiFrame, const FIntRGB& low,
                                     const FIntRGB& clip, const FIntRGB& chroma)
    : m_iColumns(columns), m_bMultiFrame(multiFrame), m_low(low), m_clip(clip), m_chroma(chroma),
      m_pixelStore(9 * static_cast<size_t>(columns), 0),
      m_flagStore(kFlagRows * static_cast<size_t>(columns), 0)
{
    for (int i = 0; i < 3; ++i)
        m_rings.pixels[i] = &m_pixelStore[3 * static_cast<size_t>(i) * columns];
    for (int i = 0; i < 3; ++i)
        m_rings.flags3[i] = &m_flagStore[static_cast<size_t>(i) * columns];
    for (int i = 0; i < 5; ++i)
        m_rings.flags5[i] = &m_flagStore[static_cast<size_t>(3 + i) * columns];
}

int FNeighborizeSweep::AddRow(int16_t* row)
{
    const int count = NeighborizeOutliers(row, m_pRows[0], m_pRows[1], m_pRows[2], m_pRows[3], m_rings,
                                          m_bMultiFrame, m_iColumns, m_low, m_clip, m_chroma);
    m_pRows[3] = m_pRows[2];
    m_pRows[2] = m_pRows[1];
    m_pRows[1] = m_pRows[0];
    m_pRows[0] = row;
    m_bActive = m_iColumns >= 5 && Range(m_low, m_clip) >= 100;
    return count;
}

void FNeighborizeSweep::Finish()
{
    if (m_bFinished || !m_bActive)
        return;
    m_bFinished = true;
    // The newest result belongs to the row two above the last one, the one before it to
    // the row above that.
    if (m_pRows[2] != nullptr)
        WriteBack(m_pRows[2], m_rings.pixels[2], m_iColumns);
    if (m_pRows[3] != nullptr)
        WriteBack(m_pRows[3], m_rings.pixels[1], m_iColumns);
}

void FNeighborizeSweep::AppendState(std::vector<int16_t>& out) const
{
    // What the next steps read: the newest rings (the oldest are cleared or overwritten
    // first) and the rows, within the columns the filter changes.
    const size_t from = 2;
    const size_t to = m_iColumns > 4 ? m_iColumns - 2 : from;
    out.push_back(m_bActive ? 1 : 0);
    for (const int16_t* row : m_pRows) {
        out.push_back(row != nullptr ? 1 : 0);
        if (row != nullptr)
            out.insert(out.end(), row + 3 * from, row + 3 * to);
    }
    for (int i = 1; i < 3; ++i)
        out.insert(out.end(), m_rings.pixels[i] + 3 * from, m_rings.pixels[i] + 3 * to);
    for (int i = 1; i < 3; ++i)
        out.insert(out.end(), m_rings.flags3[i] + from, m_rings.flags3[i] + to);
    for (int i = 1; i < 5; ++i)
        out.insert(out.end(), m_rings.flags5[i] + from, m_rings.flags5[i] + to);
}

namespace
{

// Rows a band sweeps above its first row to guess the sweep's state there: a wrong pixel
// weighs 1/21 in its neighbours' means, so a difference dies out within a few rows.
constexpr int kNeighborizeHalo = 16;
// A band's first steps whose states are kept, for a sweep again to stop at.
constexpr int kNeighborizeCheckpoints = 8;
// A band at least this tall finishes the rows its halo copies stand for.
constexpr int kNeighborizeBandRows = 8;

int NeighborizeSerially(const FPixmapTemplate<FPixelClass48SRGB>& image, bool multiFrame, const FIntRGB& low,
                        const FIntRGB& clip, const FIntRGB& chroma)
{
    FNeighborizeSweep sweep(static_cast<uint32_t>(image.GetCols()), multiFrame, low, clip, chroma);
    int count = 0;
    for (int y = 0; y < image.GetRows(); ++y)
        count += sweep.AddRow(image.GetRow(y));
    sweep.Finish();
    return count;
}

struct NeighborizeBand {
    std::unique_ptr<FNeighborizeSweep> sweep;
    std::vector<std::vector<int16_t>> checkpoints; // states entering the first steps
    std::vector<int16_t> aboveFinal;               // the four rows above, as the band ended them
};

} // namespace

int NeighborizeImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool multiFrame, const FIntRGB& low,
                     const FIntRGB& clip, const FIntRGB& chroma, int threads)
{
    return NeighborizeImage(image, multiFrame, low, clip, chroma, threads, kNeighborizeHalo);
}

int NeighborizeImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool multiFrame, const FIntRGB& low,
                     const FIntRGB& clip, const FIntRGB& chroma, int threads, int haloRows)
{
    const int rows = image.GetRows();
    const int cols = image.GetCols();
    if (cols <= 0)
        return 0;
    threads = std::clamp(BalancedBands(rows, threads, 10 * kNeighborizeHalo), 1,
                         std::max(1, rows / kNeighborizeBandRows));
    // A sweep that changes nothing needs no bands.
    if (threads == 1 || cols < 5 || Range(low, clip) < 100)
        return NeighborizeSerially(image, multiFrame, low, clip, chroma);

    const uint32_t columns = static_cast<uint32_t>(cols);
    const size_t rowSamples = 3 * static_cast<size_t>(cols);
    auto bandStart = [&](int band) { return RowBandStart(rows, threads, band); };
    // The halo holds at least the four rows a band's first steps write back.
    std::vector<std::vector<int16_t>> halos(static_cast<size_t>(threads));
    std::vector<int> haloTop(static_cast<size_t>(threads), 0);
    for (int b = 1; b < threads; ++b) {
        const int first = bandStart(b);
        const int top = std::max(0, first - std::max(haloRows, 4));
        haloTop[b] = top;
        halos[b].resize(rowSamples * static_cast<size_t>(first - top));
        for (int y = top; y < first; ++y)
            std::copy(image.GetRow(y), image.GetRow(y) + rowSamples, &halos[b][rowSamples * (y - top)]);
    }
    std::vector<NeighborizeBand> bands(static_cast<size_t>(threads));
    std::vector<int> counts(static_cast<size_t>(rows), 0);
    std::vector<RowUndo> undo(static_cast<size_t>(rows));
    RunInRowBands(rows, threads, [&](int first, int end) {
        int b = 0;
        while (bandStart(b) < first)
            ++b;
        NeighborizeBand& band = bands[static_cast<size_t>(b)];
        band.sweep = std::make_unique<FNeighborizeSweep>(columns, multiFrame, low, clip, chroma);
        FNeighborizeSweep& sweep = *band.sweep;
        const int top = haloTop[static_cast<size_t>(b)];
        for (int y = top; b > 0 && y < first; ++y)
            sweep.AddRow(&halos[b][rowSamples * (y - top)]);
        std::vector<int16_t> originals[5];
        for (int y = first; y < end; ++y) {
            if (y - first < kNeighborizeCheckpoints) {
                band.checkpoints.emplace_back();
                sweep.AppendState(band.checkpoints.back());
            }
            int16_t* row = image.GetRow(y);
            originals[y % 5].assign(row, row + rowSamples);
            counts[y] = sweep.AddRow(row);
            if (y - 4 >= first)
                AppendRowChanges(image.GetRow(y - 4), originals[(y - 4) % 5].data(), rowSamples, undo[y - 4]);
            if (b > 0 && y == first + 3)
                band.aboveFinal.assign(halos[b].data() + rowSamples * (first - 4 - top),
                                       halos[b].data() + rowSamples * (first - top));
        }
        if (b + 1 == threads)
            sweep.Finish();
        for (int y = std::max(first, end - 4); y < end; ++y)
            AppendRowChanges(image.GetRow(y), originals[y % 5].data(), rowSamples, undo[y]);
    });

    // From the top: each band's first state against the true one, the end of the band above.
    std::vector<int16_t> state;
    std::vector<int16_t> kept[5];
    for (int b = 1; b < threads; ++b) {
        const int first = bandStart(b);
        const int end = bandStart(b + 1);
        NeighborizeBand& band = bands[static_cast<size_t>(b)];
        FNeighborizeSweep& truth = *bands[static_cast<size_t>(b) - 1].sweep;
        int y = first;
        for (; y < end; ++y) {
            if (y - first < kNeighborizeCheckpoints) {
                state.clear();
                truth.AppendState(state);
                if (state == band.checkpoints[static_cast<size_t>(y - first)])
                    break;
            }
            // Swept again from the original; the band's row is kept in case the sweeps meet.
            int16_t* row = image.GetRow(y);
            kept[y % 5].assign(row, row + rowSamples);
            UndoRowChanges(row, undo[y]);
            counts[y] = truth.AddRow(row);
        }
        if (y < end) {
            // The sweeps met: the band's own results stand for the four rows above.
            for (int r = y - 4; r < y; ++r) {
                const int16_t* from =
                    r < first ? &band.aboveFinal[rowSamples * (r - (first - 4))] : kept[r % 5].data();
                std::copy(from, from + rowSamples, image.GetRow(r));
            }
            continue;
        }
        // The whole band swept again: its end is the true one now.
        band.sweep = std::move(bands[static_cast<size_t>(b) - 1].sweep);
        if (b + 1 == threads)
            band.sweep->Finish();
    }
    int count = 0;
    for (int c : counts)
        count += c;
    return count;
}

namespace
{

struct FringeTest {
    FIntRGB hi;
    int64_t t1 = 0;
    int64_t t2 = 0;
    const FIntRGB* chroma = nullptr;

    bool Saturated(const int16_t* p) const
    {
        return p[0] > hi.r && static_cast<int64_t>(p[1]) + p[2] > static_cast<int64_t>(hi.g) + hi.b;
    }

    void Repair(int16_t* p) const
    {
        const int64_t gb = (static_cast<int64_t>(p[1]) + p[2]) * 1024;
        int64_t n[3];
        Neutral(n, p, *chroma);
        if (gb < p[0] * t1) {
            for (int c = 0; c < 3; ++c)
                p[c] = Saturate16(n[c]);
            return;
        }
        if (gb < p[0] * t2)
            for (int c = 0; c < 3; ++c)
                p[c] = Saturate16((3 * static_cast<int64_t>(p[c]) + n[c]) >> 2);
    }
};

bool MakeFringeTest(FringeTest& t, uint32_t columns, const FIntRGB& low, const FIntRGB& clip,
                    const FIntRGB& chroma)
{
    if (columns <= 4 || Range(low, clip) < 100 || clip.r <= 0)
        return false;
    t.hi = {clip.r + (clip.r >> 4), clip.g + (clip.g >> 4), clip.b + (clip.b >> 4)};
    t.t1 = ((static_cast<int64_t>(clip.g) + clip.b) * 1280) / clip.r;
    t.t2 = ((static_cast<int64_t>(clip.g) + clip.b) * 1028) / clip.r;
    t.chroma = &chroma;
    return true;
}

} // namespace

void NeighborizeRow(int16_t* current, int16_t* previous, int16_t* next, uint32_t columns, const FIntRGB& low,
                    const FIntRGB& clip, const FIntRGB& chroma)
{
    FringeTest t;
    if (!MakeFringeTest(t, columns, low, clip, chroma))
        return;
    for (int64_t x = 2; x + 2 < static_cast<int64_t>(columns); ++x) {
        if (!t.Saturated(current + 3 * x))
            continue;
        for (int16_t* row : {previous, current, next})
            for (int64_t dx = -1; dx <= 1; ++dx)
                if (row != current || dx != 0)
                    t.Repair(row + 3 * (x + dx));
    }
}

void NeighborizeRowExtended(int16_t* current, int16_t* previous, int16_t* next, uint32_t columns,
                            const FIntRGB& low, const FIntRGB& clip, const FIntRGB& chroma)
{
    FringeTest t;
    if (!MakeFringeTest(t, columns, low, clip, chroma))
        return;
    for (int64_t x = 2; x + 2 < static_cast<int64_t>(columns); ++x) {
        if (t.Saturated(previous + 3 * x)) {
            for (int64_t dx : {-2, -1, 1, 2})
                t.Repair(previous + 3 * (x + dx));
            for (int64_t dx = -2; dx <= 2; ++dx)
                t.Repair(current + 3 * (x + dx));
            for (int64_t dx = -1; dx <= 1; ++dx)
                t.Repair(next + 3 * (x + dx));
        }
        if (t.Saturated(next + 3 * x)) {
            for (int64_t dx = -2; dx <= 2; ++dx)
                t.Repair(current + 3 * (x + dx));
            for (int64_t dx = -1; dx <= 1; ++dx)
                t.Repair(previous + 3 * (x + dx));
        }
    }
}
