#pragma once

// Row conversions of the TIFF reader and writer that have no named converter:
// a colour pixel is read as its channels and stored in another type, each
// channel moved between widths (8 bits for ids 6, 7 and 11 to 14, 11 bits for
// ids 8 to 10, 16 bits for ids 15 to 17) by a shift. Signed and BGR 48-bit
// sources shift arithmetically, so an 8-bit result is the word's high byte.

#include "FPixelClassAccessors.h"
#include "FPixmap.h"
#include "PixelRowConverters.h"

#include <cstdint>

namespace tiffrows
{

template <class P>
constexpr int ChannelBits()
{
    if (P::kPixelType >= FPixmap::PIXEL_30_RGBL && P::kPixelType <= FPixmap::PIXEL_30_RGB)
        return 11;
    if (P::kPixelType >= FPixmap::PIXEL_48_RGB && P::kPixelType <= FPixmap::PIXEL_48_BGR)
        return 16;
    return 8;
}

template <class S, class D>
void ConvertByShift(unsigned count, const void* src, void* dst)
{
    constexpr int kFrom = ChannelBits<S>();
    constexpr int kTo = ChannelBits<D>();
    const uint8_t* s = static_cast<const uint8_t*>(src);
    uint8_t* d = static_cast<uint8_t*>(dst);
    for (unsigned i = 0; i < count; ++i) {
        FIntRGB t = GetPixelRGB<S>(s);
        if constexpr (kTo > kFrom)
            t = t << (kTo - kFrom);
        else if constexpr (kFrom > kTo)
            t = t.ShiftRight(kFrom - kTo);
        SetPixelRGB<D>(d, t);
        s += S::kBytesPerPixel;
        d += D::kBytesPerPixel;
    }
}

template <class D>
FRowConverter ShiftConverterFrom(int sourceType)
{
    switch (sourceType) {
    case FPixmap::PIXEL_24_BGR:
        return ConvertByShift<FPixelClass24BGR, D>;
    case FPixmap::PIXEL_24_RGB:
        return ConvertByShift<FPixelClass24RGB, D>;
    case FPixmap::PIXEL_30_RGBL:
        return ConvertByShift<FPixelClass30RGBL, D>;
    case FPixmap::PIXEL_30_BGRL:
        return ConvertByShift<FPixelClass30BGRL, D>;
    case FPixmap::PIXEL_30_RGB:
        return ConvertByShift<FPixelClass30RGB, D>;
    case FPixmap::PIXEL_32_ARGB:
        return ConvertByShift<FPixelClass32ARGB, D>;
    case FPixmap::PIXEL_32_ABGR:
        return ConvertByShift<FPixelClass32ABGR, D>;
    case FPixmap::PIXEL_32_BGRA:
        return ConvertByShift<FPixelClass32BGRA, D>;
    case FPixmap::PIXEL_32_RGBA:
        return ConvertByShift<FPixelClass32RGBA, D>;
    case FPixmap::PIXEL_48_RGB:
        return ConvertByShift<FPixelClass48RGB, D>;
    case FPixmap::PIXEL_48S_RGB:
        return ConvertByShift<FPixelClass48SRGB, D>;
    case FPixmap::PIXEL_48_BGR:
        return ConvertByShift<FPixelClass48BGR, D>;
    }
    return nullptr;
}

// From a colour source (6 to 17) into 6, 7, 8, 10, 11, 15 or 16; null otherwise.
inline FRowConverter GetShiftConverter(int sourceType, int destinationType)
{
    switch (destinationType) {
    case FPixmap::PIXEL_24_BGR:
        return ShiftConverterFrom<FPixelClass24BGR>(sourceType);
    case FPixmap::PIXEL_24_RGB:
        return ShiftConverterFrom<FPixelClass24RGB>(sourceType);
    case FPixmap::PIXEL_30_RGBL:
        return ShiftConverterFrom<FPixelClass30RGBL>(sourceType);
    case FPixmap::PIXEL_30_RGB:
        return ShiftConverterFrom<FPixelClass30RGB>(sourceType);
    case FPixmap::PIXEL_32_ARGB:
        return ShiftConverterFrom<FPixelClass32ARGB>(sourceType);
    case FPixmap::PIXEL_48_RGB:
        return ShiftConverterFrom<FPixelClass48RGB>(sourceType);
    case FPixmap::PIXEL_48S_RGB:
        return ShiftConverterFrom<FPixelClass48SRGB>(sourceType);
    }
    return nullptr;
}

} // namespace tiffrows
