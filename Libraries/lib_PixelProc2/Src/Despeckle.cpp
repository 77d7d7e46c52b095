#include "Despeckle.h"

#include <algorithm>

#include "FException.h"

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

void DespeckleRowChannels(const int16_t* previous, int16_t* current, const int16_t* next, uint32_t columns)
{
    if (columns <= 2)
        return;
    for (int c = 0; c < 3; ++c) {
        int32_t left = current[c];
        int32_t centre = current[3 + c];
        for (uint32_t x = 1; x + 1 < columns; ++x) {
            const size_t i = 3 * static_cast<size_t>(x) + c;
            const int32_t right = current[i + 3];
            const int32_t n[8] = {left,        right,   previous[i - 3], previous[i], previous[i + 3],
                                  next[i - 3], next[i], next[i + 3]};
            const int32_t hi = *std::max_element(n, n + 8);
            const int32_t lo = *std::min_element(n, n + 8);
            if (centre > hi)
                current[i] = static_cast<int16_t>(hi);
            else if (centre < lo)
                current[i] = static_cast<int16_t>(lo);
            left = centre;
            centre = right;
        }
    }
}

void DespeckleRowLuma(const int16_t* previous, int16_t* current, const int16_t* next, uint32_t columns)
{
    if (columns <= 2)
        return;
    int16_t left[3] = {current[0], current[1], current[2]};
    for (uint32_t x = 1; x + 1 < columns; ++x) {
        int16_t* px = current + 3 * static_cast<size_t>(x);
        const int16_t centre[3] = {px[0], px[1], px[2]};
        const int16_t* right = px + 3;
        const int16_t* up = previous + 3 * static_cast<size_t>(x);
        const int16_t* down = next + 3 * static_cast<size_t>(x);
        const int32_t lc = Luma(centre);
        const int32_t ll = Luma(left);
        const int32_t lr = Luma(right);
        const int16_t* direct[4] = {left, right, up, down};
        const int16_t* diagonal[4] = {up - 3, up + 3, down - 3, down + 3};
        const int32_t directLuma[4] = {ll, lr, Luma(up), Luma(down)};
        const int32_t diagonalLuma[4] = {Luma(diagonal[0]), Luma(diagonal[1]), Luma(diagonal[2]),
                                         Luma(diagonal[3])};
        const int16_t* source = nullptr;
        bool peak = false;
        if (lc > ll && lc > lr) {
            const int32_t e = std::max(*std::max_element(directLuma, directLuma + 4), 5);
            const int32_t w = std::max(*std::max_element(diagonalLuma, diagonalLuma + 4), 5);
            const int32_t half = (lc >> 1) + 10;
            const bool coloured = lc > e && (centre[0] > half || centre[1] > half || centre[2] > half);
            if ((coloured && lc > w) || (lc > 2 * e && lc > 2 * w)) {
                peak = true;
                source = w > e ? FindByLuma(diagonal, diagonalLuma, w, true)
                               : FindByLuma(direct, directLuma, e, true);
            }
        } else if (lc < ll && lc < lr) {
            const int32_t f = *std::min_element(directLuma, directLuma + 4);
            const int32_t v = *std::min_element(diagonalLuma, diagonalLuma + 4);
            if (lc < f && lc < v)
                source = v < f ? FindByLuma(diagonal, diagonalLuma, v, false)
                               : FindByLuma(direct, directLuma, f, false);
        }
        if (source == nullptr) {
            std::copy(centre, centre + 3, left);
            continue;
        }
        int32_t r = source[0], g = source[1], b = source[2];
        std::copy(centre, centre + 3, left);
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
        px[0] = static_cast<int16_t>(r);
        px[1] = static_cast<int16_t>(g);
        px[2] = static_cast<int16_t>(b);
    }
}

void DespeckleImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool perChannel)
{
    if (image.GetRows() < 3 || image.GetCols() < 3)
        throw FExceptionPixelProc2("Despeckle: input image too small");
    const uint32_t cols = static_cast<uint32_t>(image.GetCols());
    for (int y = 1; y + 1 < image.GetRows(); ++y) {
        if (perChannel)
            DespeckleRowChannels(image.GetRow(y - 1), image.GetRow(y), image.GetRow(y + 1), cols);
        else
            DespeckleRowLuma(image.GetRow(y - 1), image.GetRow(y), image.GetRow(y + 1), cols);
    }
}
