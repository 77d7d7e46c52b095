#include "RotatePixmap.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "FException.h"

namespace
{

const char kWrongDestination[] = "Rotate: output image buffer is not display, 24 RGB, or 48 RGB";
const char kWrongSource[] = "Rotate: input image buffer is not of the output's pixel type";

template <class P>
void CheckClasses(const FPixmap& source, const FPixmap& destination)
{
    using Pixmap = FPixmapTemplate<P>;
    if (dynamic_cast<const Pixmap*>(&destination) == nullptr)
        throw FExceptionPpUnknownPixelType(kWrongDestination);
    if (dynamic_cast<const Pixmap*>(&source) == nullptr)
        throw FExceptionPpUnknownPixelType(kWrongSource);
}

// Q16 cosine and sine, truncated toward zero.
void RotationFactors(double angle, int32_t& kc, int32_t& ks)
{
    if (!std::isfinite(angle))
        throw FExceptionPixelProc("Rotate: the angle is not a finite number");
    const double theta = angle * 0.017453292522166666;
    kc = int32_t(65536.0 * std::cos(theta));
    ks = int32_t(65536.0 * std::sin(theta));
}

// Positions are formed by running sums; they are kept in 64 bits so that wide images
// cannot overflow, and each floor is its own arithmetic shift.
template <int Bytes>
void RotateBytes(const FPixmap& source, FPixmap& destination, int32_t kc, int32_t ks)
{
    const int64_t w = source.GetCols();
    const int64_t h = source.GetRows();
    const int64_t dw = destination.GetCols();
    const int64_t dh = destination.GetRows();
    if (w <= 0 || h <= 0 || dw <= 0 || dh <= 0)
        return;
    const int64_t x0 =
        (kc < 0 ? (-int64_t(kc) * (w - 1)) >> 16 : 0) + (ks > 0 ? (int64_t(ks) * (h - 1)) >> 16 : 0);
    const int64_t y0 =
        (ks < 0 ? (-int64_t(ks) * (w - 1)) >> 16 : 0) + (kc < 0 ? (-int64_t(kc) * (h - 1)) >> 16 : 0);

    int64_t rowX = 0; // -y * Ks
    int64_t rowY = 0; // y * Kc
    for (int64_t y = 0; y < h; ++y, rowX -= ks, rowY += kc) {
        const uint8_t* src = source.GetRowAddress(int(y));
        const int64_t offX = (rowX >> 16) + x0;
        const int64_t offY = (rowY >> 16) + y0;
        int64_t colX = 0; // x * Kc
        int64_t colY = 0; // x * Ks
        for (int64_t x = 0; x < w; ++x, src += Bytes, colX += kc, colY += ks) {
            const int64_t dx = (colX >> 16) + offX;
            const int64_t dy = (colY >> 16) + offY;
            if (dx < 0 || dx >= dw || dy < 0 || dy >= dh)
                continue;
            std::memcpy(destination.GetRowAddress(int(dy)) + dx * Bytes, src, Bytes);
        }
    }
}

} // namespace

void Rotate(const FPixmap& source, FPixmap& destination, double angle)
{
    const int type = destination.GetPixelType();
    if (type == FPixmap::PIXEL_32_ARGB || type == FPixmap::PIXEL_32_BGRA) {
        RotatePixmap32(source, destination, angle);
        return;
    }
    int32_t kc = 0;
    int32_t ks = 0;
    if (type == FPixmap::PIXEL_24_RGB) {
        CheckClasses<FPixelClass24RGB>(source, destination);
        RotationFactors(angle, kc, ks);
        RotateBytes<3>(source, destination, kc, ks);
        return;
    }
    if (type == FPixmap::PIXEL_48_RGB) {
        CheckClasses<FPixelClass48RGB>(source, destination);
        RotationFactors(angle, kc, ks);
        RotateBytes<6>(source, destination, kc, ks);
        return;
    }
    throw FExceptionPpUnknownPixelType(kWrongDestination);
}

void RotatePixmap32(const FPixmap& source, FPixmap& destination, double angle)
{
    const int type = destination.GetPixelType();
    if (type == FPixmap::PIXEL_32_ARGB)
        CheckClasses<FPixelClass32ARGB>(source, destination);
    else if (type == FPixmap::PIXEL_32_BGRA)
        CheckClasses<FPixelClass32BGRA>(source, destination);
    else
        throw FExceptionPpUnknownPixelType(kWrongDestination);
    int32_t kc = 0;
    int32_t ks = 0;
    RotationFactors(angle, kc, ks);
    RotateBytes<4>(source, destination, kc, ks);
}
