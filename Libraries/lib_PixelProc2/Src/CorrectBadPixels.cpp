#include "CorrectBadPixels.h"

#include <algorithm>
#include <cmath>

void CorrectBadPixels(const FPixmapTemplate<FPixelClass48SRGB>& image, const uint32_t* list, uint32_t count,
                      const uint32_t* origin)
{
    static constexpr int kOffsets[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                                           {0, 1},   {1, -1}, {1, 0},  {1, 1}};
    const uint32_t ox = origin != nullptr ? origin[0] : 0;
    const uint32_t oy = origin != nullptr ? origin[1] : 0;
    // 64-bit limits, so that images of fewer than 2 rows or columns accept nothing.
    const int64_t lastRow = static_cast<int64_t>(image.GetRows()) - 2;
    const int64_t lastCol = static_cast<int64_t>(image.GetCols()) - 2;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t e = list[i];
        const uint32_t row = (e >> 20) + oy;
        const uint32_t col = ((e >> 8) & 0xfff) + ox;
        const uint32_t mask = e & 0xff;
        if (mask == 0 || row < 2 || col < 2 || row > lastRow || col > lastCol)
            continue;
        int32_t sum[3] = {0, 0, 0};
        int32_t n = 0;
        for (int b = 0; b < 8; ++b) {
            if ((mask & (1u << b)) == 0)
                continue;
            const int16_t* p = image.GetPixel(static_cast<int>(col) + kOffsets[b][1],
                                              static_cast<int>(row) + kOffsets[b][0]);
            for (int c = 0; c < 3; ++c)
                sum[c] += p[c];
            ++n;
        }
        int16_t* px = image.GetPixel(static_cast<int>(col), static_cast<int>(row));
        for (int c = 0; c < 3; ++c)
            px[c] = static_cast<int16_t>(sum[c] / n);
    }
}

uint8_t CalculateBadPixelThreshold(double seconds, const uint32_t* levels, uint32_t levelCount,
                                   const float* times, uint32_t timeCount)
{
    const bool haveLevels = levels != nullptr && levelCount >= 2;
    const bool haveTimes = times != nullptr && timeCount >= 2;
    const double l0 = haveLevels ? static_cast<float>(levels[0]) : 128.0;
    const double l1 = haveLevels ? static_cast<float>(levels[1]) : 30.0;
    const double t0 = haveTimes ? times[0] : 2.0;
    const double t1 = haveTimes ? times[1] : 10.0;
    double threshold;
    if (!(seconds > t0))
        threshold = l0;
    else if (seconds > t1)
        threshold = l1;
    else
        threshold = std::trunc(l0 + (l1 - l0) * (seconds - t0) / (t1 - t0) + 0.5);
    // Levels come from the camera as unsigned words; a byte is kept, as the camera data intends.
    if (!std::isfinite(threshold))
        threshold = l0;
    return static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int64_t>(threshold)));
}

std::vector<uint32_t> SelectBadPixels(const uint32_t* list, uint32_t count, const uint8_t* badness,
                                      uint32_t badnessCount, uint8_t threshold)
{
    std::vector<uint32_t> kept;
    const uint32_t n = badness != nullptr ? std::min(count, badnessCount) : 0;
    for (uint32_t i = 0; i < n; ++i)
        if (badness[i] > threshold)
            kept.push_back(list[i]);
    return kept;
}
