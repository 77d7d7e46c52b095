#include "RedSharpenRow.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "RunInRowBands.h"

namespace
{

constexpr int64_t kMaxGain = int64_t{1} << 20;

inline int32_t Red(const int16_t* row, int64_t x, int64_t columns)
{
    return row[3 * std::clamp<int64_t>(x, 0, columns - 1)];
}

void BlurRed(const int16_t* row, int32_t* out, uint32_t columns)
{
    const int64_t n = columns;
    // Edges repeat the outermost pixel; for rows of 4 or more columns this is the edge
    // taps (11, 4, 1) and (5, 6, 4, 1).
    for (int64_t j = 0; j < std::min<int64_t>(2, n); ++j)
        out[j] = (Red(row, j - 2, n) + 4 * Red(row, j - 1, n) + 6 * Red(row, j, n) + 4 * Red(row, j + 1, n) +
                  Red(row, j + 2, n) + 8) >>
                 4;
    for (int64_t j = 2; j + 2 < n; ++j) {
        const int16_t* p = row + 3 * j;
        out[j] = (p[-6] + 4 * p[-3] + 6 * p[0] + 4 * p[3] + p[6] + 8) >> 4;
    }
    for (int64_t j = std::max<int64_t>(2, n - 2); j < n; ++j)
        out[j] = (Red(row, j - 2, n) + 4 * Red(row, j - 1, n) + 6 * Red(row, j, n) + 4 * Red(row, j + 1, n) +
                  Red(row, j + 2, n) + 8) >>
                 4;
}

void RotateRing(FRedSharpenRing& ring)
{
    int32_t* oldest = ring.rows[0];
    for (int i = 0; i < 4; ++i)
        ring.rows[i] = ring.rows[i + 1];
    ring.rows[4] = oldest;
}

} // namespace

void RedSharpenRow(const int16_t* source, int16_t* target, int32_t amount, FRedSharpenRing& ring,
                   uint32_t columns, int32_t leftWeight, int32_t rightWeight)
{
    BlurRed(source, ring.rows[4], columns);
    if (target != nullptr && columns > 4 && amount > 0) {
        // Bounded far above any camera's amount, so that no product can overflow.
        const int64_t k = std::min<int64_t>((2 * static_cast<int64_t>(amount)) / 3, kMaxGain);
        const int64_t wc = 16384 - static_cast<int64_t>(leftWeight) - rightWeight;
        const int32_t* const* r = ring.rows;
        auto vertical = [r](uint32_t j) -> int64_t {
            return (r[0][j] + 4 * static_cast<int64_t>(r[1][j]) + 6 * static_cast<int64_t>(r[2][j]) +
                    4 * static_cast<int64_t>(r[3][j]) + r[4][j] + 8) >>
                   4;
        };
        int64_t bPrev = r[2][0];
        int64_t bCentre = r[2][1];
        for (uint32_t j = 2; j < columns; ++j) {
            const int64_t bNext = vertical(j);
            const int64_t s = (wc * bCentre + leftWeight * bPrev + rightWeight * bNext) >> 14;
            int16_t* px = target + 3 * static_cast<size_t>(j - 1);
            int64_t red = px[0];
            red -= ((s - red) * k) >> 9;
            if (red > 32000)
                red = 32000;
            px[0] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(red)));
            bPrev = bCentre;
            bCentre = bNext;
        }
    }
    RotateRing(ring);
}

void RedSharpenImage(const FPixmapTemplate<FPixelClass48SRGB>& image, int32_t amount, int32_t leftWeight,
                     int32_t rightWeight, int threads)
{
    const int rows = image.GetRows();
    const uint32_t cols = static_cast<uint32_t>(std::max(image.GetCols(), 0));
    if (rows <= 0 || cols == 0)
        return;
    const size_t rowSamples = 3 * static_cast<size_t>(cols);
    threads = std::clamp(BalancedBands(rows, threads, 64), 1, rows);

    // A band reads two rows on each side that neighbouring bands sharpen: they are copied
    // before any band starts, so every band sees the original red.
    std::vector<std::vector<int16_t>> halos(static_cast<size_t>(threads));
    for (int b = 0; b < threads; ++b) {
        const int first = RowBandStart(rows, threads, b);
        const int end = RowBandStart(rows, threads, b + 1);
        auto& h = halos[b];
        h.resize(4 * rowSamples);
        const int halo[4] = {first - 2, first - 1, end, end + 1};
        for (int i = 0; i < 4; ++i) {
            const int y = std::clamp(halo[i], 0, rows - 1);
            std::memcpy(&h[i * rowSamples], image.GetRow(y), rowSamples * sizeof(int16_t));
        }
    }

    RunInRowBands(rows, threads, [&](int first, int end) {
        const int band = [&] {
            for (int b = 0; b < threads; ++b)
                if (RowBandStart(rows, threads, b) == first)
                    return b;
            return 0;
        }();
        const auto& h = halos[band];
        auto sourceRow = [&](int y) -> const int16_t* {
            if (y < first)
                return &h[static_cast<size_t>(y - (first - 2)) * rowSamples];
            if (y >= end)
                return &h[static_cast<size_t>(2 + std::min(y - end, 1)) * rowSamples];
            return image.GetRow(y);
        };
        std::vector<int32_t> ringData(5 * static_cast<size_t>(cols));
        FRedSharpenRing ring;
        for (int i = 0; i < 5; ++i)
            ring.rows[i] = &ringData[i * static_cast<size_t>(cols)];
        // The rows above and below the image repeat its edge rows; the halo copies already
        // hold the clamped rows.
        for (int y = first - 2; y < first + 2; ++y)
            RedSharpenRow(sourceRow(y), nullptr, amount, ring, cols, leftWeight, rightWeight);
        for (int y = first; y < end; ++y)
            RedSharpenRow(sourceRow(y + 2), image.GetRow(y), amount, ring, cols, leftWeight, rightWeight);
    });
}
