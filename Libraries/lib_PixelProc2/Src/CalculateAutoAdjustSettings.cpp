#include "CalculateAutoAdjustSettings.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "ColorCompensation.h"
#include "FException.h"

namespace
{

constexpr int kLevels = 7;
constexpr double kPercentiles[kLevels] = {0.005, 0.02, 0.1, 0.5, 0.9, 0.98, 0.995};
constexpr double kTargets[kLevels] = {60, 75, 95, 150, 205, 235, 255}; // 8-bit, cube-root domain
constexpr double kExposureWeights[kLevels] = {0, 16, 16, 8, 4, 2, 1};
constexpr double kBaseWeights[kLevels] = {0, 0, 0, 0, 0, 0, 0};
constexpr double kContrastWeights[kLevels] = {0, -1, -1, 0, 1, 1, 0};
constexpr double kShadowWeights[kLevels] = {6, -1, -1, 0, 1, 1, 0};
constexpr double kHighlightWeights[kLevels] = {0, 1, 1, 0, -1, -1, 6};
constexpr double kColorWeights[3] = {0.96, 1.0, 1.04};

constexpr double kLumaRed = 0.3;
constexpr double kLumaGreen = 0.5;
constexpr double kLumaBlue = 0.2;

constexpr int kFirstRow = 19;
constexpr int kRowStep = 4;
constexpr int kFirstColumn = 13;
constexpr int kGroupWidth = 4;
constexpr int kCubeRootDomainEnd = 0xEFFF;  // 15.0 in Q12, just below
constexpr int kCubeRootDomainStart = -4096; // -1.0 in Q12

template <class T>
std::unique_ptr<T[]> AllocateZeroed(size_t n)
{
    std::unique_ptr<T[]> p(new (std::nothrow) T[n]());
    CheckAutoAdjustAllocation(p.get());
    return p;
}

double Sum(const double* weights, const double* values)
{
    double s = 0.0;
    for (int k = 0; k < kLevels; ++k)
        s += weights[k] * values[k];
    return s;
}

struct Subsample {
    std::unique_ptr<int16_t[]> pixels; // bufferRows x bufferCols x 3, zero-filled
    int bufferRows = 0;
    int bufferCols = 0;
    int sampledRows = 0;
    int sampledCols = 0;
    int32_t maxima[3] = {1, 1, 1};

    const int16_t* Pixel(int y, int x) const
    {
        return pixels.get() +
               (static_cast<size_t>(y) * static_cast<size_t>(bufferCols) + static_cast<size_t>(x)) * 3;
    }
};

// One pixel per group of four adjacent pixels, on every fourth row from row 19.
Subsample MakeSubsample(const FPixmapTemplate<FPixelClass48SRGB>& image)
{
    const int W = image.GetCols();
    const int H = image.GetRows();
    Subsample s;
    // The buffer is one row (column) larger than the samples when H - 39 (W - 31) is a
    // multiple of 4; the statistics window is computed from the buffer's size but never
    // reaches past the samples.
    s.bufferRows = (H - 39) / 4 + 1;
    s.bufferCols = (W - 31) / 4 + 1;
    s.pixels =
        AllocateZeroed<int16_t>(static_cast<size_t>(s.bufferRows) * static_cast<size_t>(s.bufferCols) * 3);
    const int groups = (W - 28) / 4;
    s.sampledCols = std::min(groups, s.bufferCols);
    for (int y = kFirstRow; y < H - 20 && s.sampledRows < s.bufferRows; y += kRowStep, ++s.sampledRows) {
        const int16_t* row = image.GetRow(y);
        int16_t* out =
            s.pixels.get() + static_cast<size_t>(s.sampledRows) * static_cast<size_t>(s.bufferCols) * 3;
        for (int gI = 0; gI < s.sampledCols; ++gI) {
            const int16_t* p = row + 3 * static_cast<ptrdiff_t>(kFirstColumn + kGroupWidth * gI);
            for (int c = 0; c < 3; ++c) {
                const int32_t v = (p[c] + p[c + 3] + p[c + 6] + p[c + 9]) / 4;
                out[3 * gI + c] = static_cast<int16_t>(v);
                s.maxima[c] = std::max(s.maxima[c], v);
            }
        }
    }
    return s;
}

} // namespace

double ClampRoundTenth(double x, double low, double high)
{
    if (std::isnan(x))
        x = 0.0;
    x = std::clamp(x, low, high);
    return std::floor(10.0 * x + 0.5) * 0.1;
}

double HighlightBiasFactor(double h)
{
    if (h < -1.9)
        return 0.9;
    if (h < -1.5)
        return 0.8;
    if (h < -1.0)
        return 0.7;
    return 0.6;
}

void CheckAutoAdjustAllocation(const void* pointer)
{
    if (pointer == nullptr)
        throw FExceptionPixelProc2("CalculateAutoAdjustSettings: error mallocing memory");
}

void AutoAdjustToneSettings(const double* cumulative, int bins, const FLUT& cubeRoot, const FLUT& cube,
                            double bias, double& exposure, double& contrast, double& shadow,
                            double& highlight)
{
    double P[kLevels] = {};
    if (bins > 0 && cumulative != nullptr) {
        int i = 0;
        for (int k = 0; k < kLevels; ++k) {
            while (i < bins - 1 && !(cumulative[i] >= kPercentiles[k]))
                ++i;
            P[k] = i;
        }
    }

    double Z[kLevels];
    double T[kLevels];
    for (int k = 0; k < kLevels; ++k) {
        Z[k] = cube.Get(static_cast<int32_t>(std::lround(16.0 * P[k])));
        T[k] = cube.Get(static_cast<int32_t>(std::lround(16.0 * kTargets[k])));
    }
    const double cap = std::pow(4.0, 10.0 / 7.0);
    double G = Sum(kExposureWeights, T) / Sum(kExposureWeights, Z);
    if (!(G >= 0.0) || G > cap)
        G = cap;
    G = std::pow(G, 0.7); // at most 4, two stops

    double D[kLevels];
    for (int k = 0; k < kLevels; ++k) {
        // Held to the table's domain (-1.0 to just below 15.0) so that a bright level
        // pushed up by G cannot wrap into the entries of negative inputs.
        const double index = std::clamp(std::round(G * Z[k]), static_cast<double>(kCubeRootDomainStart),
                                        static_cast<double>(kCubeRootDomainEnd));
        const double V = cubeRoot.Get(static_cast<int32_t>(index)) * 0.0625;
        D[k] = kTargets[k] - V;
    }

    const double b = ClampRoundTenth(bias, -1.5, 1.5);
    exposure = ClampRoundTenth(std::log2(G) + Sum(kBaseWeights, D), -1.5, 1.5);
    contrast = ClampRoundTenth(0.005 * Sum(kContrastWeights, D) + 0.5 * b, -1.5, 1.5);
    shadow = ClampRoundTenth(0.004 * Sum(kShadowWeights, D), -1.5, 1.5);
    const double h = 0.003 * Sum(kHighlightWeights, D);
    highlight = ClampRoundTenth(h + HighlightBiasFactor(h) * b, -1.5, 1.5);
}

void AutoAdjustColorSettings(uint32_t* cube, const int32_t maxima[3], FDoubleRGB& gains, double& saturation)
{
    constexpr int N = kAutoAdjustCubeSide;
    const auto at = [cube](int r, int g, int b) -> uint32_t& { return cube[r + N * g + N * N * b]; };
    // Each pass adds the next cell's count from before the pass; cells with an index of 31
    // never change.
    const int step[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const auto& s : step) {
        for (int b = 0; b < N - 1; ++b)
            for (int g = 0; g < N - 1; ++g)
                for (int r = 0; r < N - 1; ++r)
                    at(r, g, b) += at(r + s[0], g + s[1], b + s[2]);
    }

    double sw = 0.0;
    double sxyz[3] = {0.0, 0.0, 0.0};
    double sc[3] = {0.0, 0.0, 0.0};
    double sc2[3] = {0.0, 0.0, 0.0};
    for (int b = 0; b < N; ++b) {
        for (int g = 0; g < N; ++g) {
            for (int r = 0; r < N; ++r) {
                const uint32_t n = at(r, g, b);
                if (n == 0)
                    continue;
                const double w = std::pow(static_cast<double>(n) + 1.0, 0.125) - 1.0;
                const double xyz[3] = {r + 1.0, g + 1.0, b + 1.0};
                const double sum = xyz[0] + xyz[1] + xyz[2] + 1.0;
                sw += w;
                for (int c = 0; c < 3; ++c) {
                    const double chroma = xyz[c] / sum;
                    sxyz[c] += xyz[c] * w;
                    sc[c] += chroma * w;
                    sc2[c] += chroma * chroma * w;
                }
            }
        }
    }
    if (!(sw > 0.0)) {
        gains.Set(1.0, 1.0, 1.0);
        saturation = 0.0;
        return;
    }

    double a[3];
    for (int c = 0; c < 3; ++c)
        a[c] = (sxyz[c] / sw / 32.0 * maxima[c] + 100.0) * kColorWeights[c];
    const double m = std::min({a[0], a[1], a[2]});
    double v[3];
    for (int c = 0; c < 3; ++c)
        v[c] = std::min(1.0, std::pow(a[c] / m, -0.5));
    // Through the filter notation, so the gains lie on its 1/100-density grid.
    int32_t densities[3];
    RGBGainsToCCDensities(densities, v[0], v[1], v[2]);
    CCDensitiesToRGBGains(gains, densities[0], densities[1], densities[2]);

    double variance = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double mean = sc[c] / sw;
        variance += sc2[c] / sw - mean * mean;
    }
    // Rounding can leave a one-cell variance slightly below 0.
    const double sigma = std::sqrt(std::max(0.0, variance));
    const double spread = sigma > 0.0 ? std::exp(-0.09 / sigma) : 0.0;
    saturation = ClampRoundTenth(0.7 * (1.0 - 2.0 * spread), -1.0, 1.0);
}

void CalculateAutoAdjustSettings(const FPixmapTemplate<FPixelClass48SRGB>& image, const FLUT& cubeRoot,
                                 const FLUT& cube, double bias, double& exposure, double& contrast,
                                 double& shadow, double& highlight, double& saturation, FDoubleRGB& gains)
{
    if (image.GetRows() < kAutoAdjustMinRows || image.GetCols() < kAutoAdjustMinCols) {
        exposure = contrast = shadow = highlight = saturation = 0.0;
        gains.Set(1.0, 1.0, 1.0);
        return;
    }
    const Subsample s = MakeSubsample(image);

    const int lumaBins = cubeRoot.Get(kCubeRootDomainEnd) / 16 + 1;
    if (lumaBins < 1)
        throw FExceptionPixelProc2("CalculateAutoAdjustSettings: the cube-root table is not valid.");
    auto histogram = AllocateZeroed<uint64_t>(static_cast<size_t>(lumaBins));
    auto cells = AllocateZeroed<uint32_t>(kAutoAdjustCubeCells);

    const int rowMargin = s.bufferRows / 10;
    const int colMargin = s.bufferCols / 10;
    const int rowEnd = std::min(s.bufferRows - rowMargin, s.sampledRows);
    const int colEnd = std::min(s.bufferCols - colMargin, s.sampledCols);
    const int64_t scale[3] = {0x1FFFFFFF / s.maxima[0], 0x1FFFFFFF / s.maxima[1], 0x1FFFFFFF / s.maxima[2]};
    uint64_t total = 0;
    for (int y = rowMargin; y < rowEnd; ++y) {
        for (int x = colMargin; x < colEnd; ++x) {
            const int16_t* p = s.Pixel(y, x);
            const double Y = kLumaRed * p[0] + kLumaGreen * p[1] + kLumaBlue * p[2];
            const int bin = cubeRoot.Get(static_cast<int32_t>(std::floor(Y))) / 16;
            if (bin < 0 || bin >= lumaBins)
                ReportAssertion(__FILE__, __LINE__, "uiLumaIdx>=0 && uiLumaIdx<uiNLUMABINS", 0, 0);
            ++histogram[static_cast<size_t>(bin)];
            ++total;
            int cell[3];
            for (int c = 0; c < 3; ++c)
                cell[c] = static_cast<int>((std::max<int64_t>(p[c], 0) * scale[c]) >> 24);
            ++cells[static_cast<size_t>(cell[0] + kAutoAdjustCubeSide * cell[1] +
                                        kAutoAdjustCubeSide * kAutoAdjustCubeSide * cell[2])];
        }
    }

    auto cumulative = AllocateZeroed<double>(static_cast<size_t>(lumaBins));
    uint64_t running = 0;
    for (int i = 0; i < lumaBins; ++i) {
        running += histogram[static_cast<size_t>(i)];
        cumulative[static_cast<size_t>(i)] =
            total > 0 ? static_cast<double>(running) / static_cast<double>(total) : 0.0;
    }

    double e = 0.0, c = 0.0, sh = 0.0, hi = 0.0, sat = 0.0;
    FDoubleRGB g;
    AutoAdjustToneSettings(total > 0 ? cumulative.get() : nullptr, total > 0 ? lumaBins : 0, cubeRoot, cube,
                           bias, e, c, sh, hi);
    AutoAdjustColorSettings(cells.get(), s.maxima, g, sat);
    exposure = e;
    contrast = c;
    shadow = sh;
    highlight = hi;
    saturation = sat;
    gains = g;
}
