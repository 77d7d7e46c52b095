// Noise reduction, retinex and both white-balance estimates over small images whose size,
// parameters and samples come from the input: no crash, no undefined behaviour, and a
// finite neutral with largest channel 1.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "EAutoWB.h"
#include "EAutoWBChromaWt.h"
#include "FException.h"
#include "FIRNoiseReduction.h"
#include "FPixelProc2.h"
#include "Retinex.h"

namespace
{

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    int16_t Sample()
    {
        const uint8_t lo = Byte();
        return static_cast<int16_t>(lo | (Byte() << 8));
    }
    // A parameter in [low, high] with 256 steps; step 255 is a hostile value.
    float Param(float low, float high)
    {
        const uint8_t b = Byte();
        if (b == 255)
            return b & 1 ? -1e30f : std::nanf("");
        return low + (high - low) * b / 254.0f;
    }
};

void CheckNeutral(const FDoubleRGB& n)
{
    if (!std::isfinite(n.r + n.g + n.b) || std::fmax(n.r, std::fmax(n.g, n.b)) != 1.0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    const int cols = 1 + in.Byte() % 48;
    const int rows = 1 + in.Byte() % 48;
    const size_t samples = 3 * static_cast<size_t>(cols) * rows;
    std::vector<int16_t> image(samples), reference(samples);
    for (size_t i = 0; i < samples; ++i) {
        image[i] = in.Sample();
        reference[i] = in.Sample();
    }
    const float p1 = in.Param(0.0f, 1.0f), p2 = in.Param(0.0f, 1.0f), p3 = in.Param(0.0f, 1.0f);
    const float locality = in.Param(0.0f, 4.0f), offset = in.Param(-1.0f, 2.0f),
                scale1 = in.Param(0.0f, 20.0f), scale2 = in.Param(0.0f, 20.0f),
                exponent = in.Param(-1.0f, 3.0f), m = in.Param(-1.0f, 12.0f), g = in.Param(0.0f, 40000.0f);
    const int threads = 1 + in.Byte() % 3;

    FPixmapTemplate<FPixelClass48SRGB> pixmap(image.data(), cols, rows, 0);
    FPixmapTemplate<FPixelClass48SRGB> refPixmap(reference.data(), cols, rows, 0);
    FIRNoiseReduction(pixmap, refPixmap, p1, p2, p3, locality, offset, scale1, scale2, exponent, m, g,
                      nullptr, 0, threads);

    std::vector<int16_t> retinex(static_cast<size_t>(cols) * rows);
    FRetinexImage retinexPixmap(retinex.data(), cols, rows, 0);
    try {
        const double fill =
            MultiScaleRetinex(pixmap, retinexPixmap, in.Param(0, 2), in.Param(0, 16), in.Byte() * 8, nullptr);
        if (!std::isfinite(fill))
            std::abort();
    } catch (const FExceptionPixelProc2&) {
        // Below 3 x 3.
    }
    FLUT gain(kRetinexGainLUTSize);
    MakeRetinexGainLUT(&gain, in.Param(-20.0f, 20.0f), 256);

    FColorMatrix camToXYZ;
    camToXYZ.Set(0.4124, 0.3576, 0.1805, 0.2126, 0.7152, 0.0722, 0.0193, 0.1192, 0.9505);
    FColorMatrix rimm;
    ComputeWorkingColorMatrix(rimm, camToXYZ, FDoubleRGB(-1.0, -1.0, -1.0), 1.0, 0.0);
    const FIntRGB saturation(in.Sample(), in.Sample(), in.Sample());
    const double fNumber = in.Param(0.0f, 22.0f), time = in.Param(0.0f, 4.0f),
                 isoGain = in.Param(0.0f, 64.0f);
    const bool constrain = in.Byte() & 1, flash = in.Byte() & 1;
    FDriftPair drift;
    drift.top.level = FDoubleRGB(in.Sample(), in.Sample(), in.Sample());
    CheckNeutral(AutoWhiteBalanceGrayWorld(&pixmap, FPostPolyMatrix(), saturation, fNumber, time, 0.0, rimm,
                                           1.0, drift, constrain));
    try {
        CheckNeutral(AutoWhiteBalanceChromaWt(&pixmap, saturation, FPostPolyMatrix(), fNumber, time, 0.0,
                                              flash, camToXYZ, isoGain, FDoubleRGB(), constrain));
    } catch (const FExceptionPixelProc2&) {
        // Unusable tone settings from extreme samples.
    }
    return 0;
}
