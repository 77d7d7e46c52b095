// Drives the output conversion, the detail filter, the darkest-pixel average and the
// automatic settings with images, settings and tables taken from the input.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CalculateAutoAdjustSettings.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FPixelProc2.h"
#include "ToneLUT.h"

namespace
{

constexpr int kMaxSide = 96;

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t Byte()
    {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
    int16_t Sample() { return static_cast<int16_t>(Byte() | (Byte() << 8)); }
    double Setting(double scale) { return (static_cast<int>(Byte()) - 128) * scale; }
};

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    const int cols = in.Byte() % (kMaxSide + 1);
    const int rows = in.Byte() % (kMaxSide + 1);
    const uint8_t flags = in.Byte();
    const int space = in.Byte() % 14; // 12 and 13 are unknown spaces
    const double k = in.Setting(0.05);
    const double saturation = in.Setting(0.05);
    const double exposure = in.Setting(0.05);
    const double shadow = in.Setting(0.03);
    const double contrast = in.Setting(0.03);
    const double highlight = in.Setting(0.03);
    const double gains[3] = {in.Setting(0.02), in.Setting(0.02), in.Setting(0.02)};
    const double bias = in.Setting(0.05);
    const double strength = in.Setting(0.05);

    const size_t pixels = static_cast<size_t>(cols) * static_cast<size_t>(rows);
    std::vector<int16_t> stage3(pixels * 3), L(pixels), retinex(pixels);
    for (auto& v : stage3)
        v = in.Sample();
    for (auto& v : L)
        v = in.Sample();
    for (auto& v : retinex)
        v = in.Sample();
    FPixmapTemplate<FPixelClass48SRGB> src(stage3.data(), cols, rows, 0);
    FPixmapTemplate<FPixelClass16SMono> lPlane(L.data(), cols, rows, 0);
    FPixmapTemplate<FPixelClass16SMono> rPlane(retinex.data(), cols, rows, 0);

    try {
        FColorLUT tone(65536);
        MakeToneLUT(exposure, shadow, contrast, highlight, gains[0], gains[1], gains[2],
                    *FGlobalLUTsClass::GetCubeLUT(), tone);
        const auto transfer = MakeOutputTransferLUT(space, flags & 1 ? 16 : 8);
        FColorMatrix matrix;
        ComputeOutputMatrix(matrix, space, saturation);
        FLUT retinexGain(65536);
        for (int i = 0; i < 65536; ++i)
            retinexGain.m_pData[i] = static_cast<int16_t>(i * 7);
        // The output may be a little smaller than the planes (allowed) or larger (refused).
        const int outCols = cols + (flags & 2 ? 1 : 0);
        const int outRows = rows - (flags & 4 && rows > 0 ? 1 : 0);
        std::vector<uint8_t> outBuffer(static_cast<size_t>(outCols) *
                                       static_cast<size_t>(std::max(outRows, 0)) * 6);
        const int types[] = {FPixmap::PIXEL_24_RGB, FPixmap::PIXEL_32_BGRA, FPixmap::PIXEL_48_RGB,
                             FPixmap::PIXEL_8_MONO};
        FPixmap* out =
            NewFPixmap(types[(flags >> 3) & 3], outBuffer.data(), outCols, std::max(outRows, 0), 0);
        try {
            FPixelProc2::ProcessToOutput(src, lPlane, flags & 32 ? &rPlane : nullptr, k, tone,
                                         flags & 64 ? &retinexGain : nullptr, matrix, *transfer, flags & 128,
                                         *out);
        } catch (const FException&) {
        }
        delete out;
    } catch (const FException&) {
    }

    FIntRGB dark;
    AverageDarkestPixels(dark, src, gains[0] * 10, gains[1] * 10, gains[2] * 10, L.empty() ? 0 : L[0], 0, 0);

    double e, c, s, h, sat;
    FDoubleRGB g;
    CalculateAutoAdjustSettings(src, *FGlobalLUTsClass::GetCubeRootLUT(), *FGlobalLUTsClass::GetCubeLUT(),
                                bias, e, c, s, h, sat, g);
    for (double v : {e, c, s, h})
        Require(std::isfinite(v) && std::fabs(v) <= 1.5 + 1e-9);
    Require(std::isfinite(sat) && std::fabs(sat) <= 1.0 + 1e-9);
    for (double v : {g.r, g.g, g.b})
        Require(std::isfinite(v) && v > 0.0 && v <= 1.0);

    HighPassMonoImage(lPlane, strength);
    return 0;
}
