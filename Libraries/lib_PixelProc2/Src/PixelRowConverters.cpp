#include "PixelRowConverters.h"

#include <cstdint>

#include "FPixelClassAccessors.h"
#include "FRowFormatConverters.h"

namespace
{

enum class Dest { k32BGRA, k32ARGB, k48RGB, k48BGR };

constexpr int SourceWidth(int type)
{
    if (type >= FPixmap::PIXEL_30_RGBL && type <= FPixmap::PIXEL_30_RGB)
        return 11;
    if (type >= FPixmap::PIXEL_48_RGB)
        return 16;
    return 8;
}

constexpr int DestWidth(Dest d)
{
    return d == Dest::k32BGRA || d == Dest::k32ARGB ? 8 : 16;
}

constexpr int DestBytes(Dest d)
{
    return d == Dest::k32BGRA || d == Dest::k32ARGB ? 4 : 6;
}

template <Dest D>
inline void Store(uint8_t* d, const FIntRGB& t)
{
    if constexpr (D == Dest::k32BGRA) {
        d[0] = uint8_t(t.b);
        d[1] = uint8_t(t.g);
        d[2] = uint8_t(t.r);
        d[3] = 255;
    } else if constexpr (D == Dest::k32ARGB) {
        SetPixelRGB<FPixelClass32ARGB>(d, t);
    } else if constexpr (D == Dest::k48RGB) {
        pixel_detail::Store16(d, uint32_t(t.r));
        pixel_detail::Store16(d + 2, uint32_t(t.g));
        pixel_detail::Store16(d + 4, uint32_t(t.b));
    } else {
        pixel_detail::Store16(d, uint32_t(t.b));
        pixel_detail::Store16(d + 2, uint32_t(t.g));
        pixel_detail::Store16(d + 4, uint32_t(t.r));
    }
}

template <class S, Dest D>
void ConvertRowT(unsigned count, const void* src, void* dst)
{
    constexpr int ws = SourceWidth(S::kPixelType);
    constexpr int wd = DestWidth(D);
    const uint8_t* s = static_cast<const uint8_t*>(src);
    uint8_t* d = static_cast<uint8_t*>(dst);
    for (unsigned i = 0; i < count; ++i, s += S::kBytesPerPixel, d += DestBytes(D)) {
        FIntRGB t = GetPixelRGB<S>(s);
        if constexpr (wd < ws)
            t = t.ShiftRight(ws - wd);
        else if constexpr (wd > ws)
            t = t << (wd - ws);
        Store<D>(d, t);
    }
}

} // namespace

#define RB_ROW_CONVERTER(Name, Src, D)                                                                       \
    void Name(unsigned count, const void* src, void* dst)                                                    \
    {                                                                                                        \
        ConvertRowT<Src, D>(count, src, dst);                                                                \
    }

RB_ROW_CONVERTER(ConvertRow24BGRTo32BGRA, FPixelClass24BGR, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow24RGBTo32BGRA, FPixelClass24RGB, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow30RGBLTo32BGRA, FPixelClass30RGBL, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow30BGRLTo32BGRA, FPixelClass30BGRL, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow30RGBTo32BGRA, FPixelClass30RGB, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow32ARGBTo32BGRA, FPixelClass32ARGB, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow32ABGRTo32BGRA, FPixelClass32ABGR, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow32BGRATo32BGRA, FPixelClass32BGRA, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow32RGBATo32BGRA, FPixelClass32RGBA, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow48RGBTo32BGRA, FPixelClass48RGB, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow48SRGBTo32BGRA, FPixelClass48SRGB, Dest::k32BGRA)
RB_ROW_CONVERTER(ConvertRow48BGRTo32BGRA, FPixelClass48BGR, Dest::k32BGRA)

RB_ROW_CONVERTER(ConvertRow48SRGBTo32ARGB, FPixelClass48SRGB, Dest::k32ARGB)
RB_ROW_CONVERTER(ConvertRow48BGRTo32ARGB, FPixelClass48BGR, Dest::k32ARGB)

RB_ROW_CONVERTER(ConvertRow24BGRTo48RGB, FPixelClass24BGR, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow30RGBLTo48RGB, FPixelClass30RGBL, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow30BGRLTo48RGB, FPixelClass30BGRL, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow30RGBTo48RGB, FPixelClass30RGB, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow32ARGBTo48RGB, FPixelClass32ARGB, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow32ABGRTo48RGB, FPixelClass32ABGR, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow32BGRATo48RGB, FPixelClass32BGRA, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow32RGBATo48RGB, FPixelClass32RGBA, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow48SRGBTo48RGB, FPixelClass48SRGB, Dest::k48RGB)
RB_ROW_CONVERTER(ConvertRow48BGRTo48RGB, FPixelClass48BGR, Dest::k48RGB)

RB_ROW_CONVERTER(ConvertRow24BGRTo48BGR, FPixelClass24BGR, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow24RGBTo48BGR, FPixelClass24RGB, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow30RGBLTo48BGR, FPixelClass30RGBL, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow30BGRLTo48BGR, FPixelClass30BGRL, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow30RGBTo48BGR, FPixelClass30RGB, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow32ARGBTo48BGR, FPixelClass32ARGB, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow32ABGRTo48BGR, FPixelClass32ABGR, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow32BGRATo48BGR, FPixelClass32BGRA, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow32RGBATo48BGR, FPixelClass32RGBA, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow48RGBTo48BGR, FPixelClass48RGB, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow48SRGBTo48BGR, FPixelClass48SRGB, Dest::k48BGR)
RB_ROW_CONVERTER(ConvertRow48BGRTo48BGR, FPixelClass48BGR, Dest::k48BGR)

#undef RB_ROW_CONVERTER

FRowConverter GetRowConverter(int sourceType, int destinationType)
{
    // Indexed by source id - 6.
    static constexpr FRowConverter kTo32BGRA[12] = {
        ConvertRow24BGRTo32BGRA,  ConvertRow24RGBTo32BGRA,  ConvertRow30RGBLTo32BGRA,
        ConvertRow30BGRLTo32BGRA, ConvertRow30RGBTo32BGRA,  ConvertRow32ARGBTo32BGRA,
        ConvertRow32ABGRTo32BGRA, ConvertRow32BGRATo32BGRA, ConvertRow32RGBATo32BGRA,
        ConvertRow48RGBTo32BGRA,  ConvertRow48SRGBTo32BGRA, ConvertRow48BGRTo32BGRA};
    static constexpr FRowConverter kTo48RGB[12] = {
        ConvertRow24BGRTo48RGB,  ConvertPixels24To48,     ConvertRow30RGBLTo48RGB, ConvertRow30BGRLTo48RGB,
        ConvertRow30RGBTo48RGB,  ConvertRow32ARGBTo48RGB, ConvertRow32ABGRTo48RGB, ConvertRow32BGRATo48RGB,
        ConvertRow32RGBATo48RGB, ConvertPixels48To48,     ConvertRow48SRGBTo48RGB, ConvertRow48BGRTo48RGB};
    static constexpr FRowConverter kTo48BGR[12] = {
        ConvertRow24BGRTo48BGR,  ConvertRow24RGBTo48BGR,  ConvertRow30RGBLTo48BGR, ConvertRow30BGRLTo48BGR,
        ConvertRow30RGBTo48BGR,  ConvertRow32ARGBTo48BGR, ConvertRow32ABGRTo48BGR, ConvertRow32BGRATo48BGR,
        ConvertRow32RGBATo48BGR, ConvertRow48RGBTo48BGR,  ConvertRow48SRGBTo48BGR, ConvertRow48BGRTo48BGR};

    if (sourceType < FPixmap::PIXEL_24_BGR || sourceType > FPixmap::PIXEL_48_BGR)
        return nullptr;
    const int i = sourceType - FPixmap::PIXEL_24_BGR;
    if (destinationType == FPixmap::PIXEL_32_BGRA)
        return kTo32BGRA[i];
    if (destinationType == FPixmap::PIXEL_48_RGB)
        return kTo48RGB[i];
    if (destinationType == FPixmap::PIXEL_48_BGR)
        return kTo48BGR[i];
    if (destinationType == FPixmap::PIXEL_32_ARGB && sourceType == FPixmap::PIXEL_48S_RGB)
        return ConvertRow48SRGBTo32ARGB;
    if (destinationType == FPixmap::PIXEL_32_ARGB && sourceType == FPixmap::PIXEL_48_BGR)
        return ConvertRow48BGRTo32ARGB;
    return nullptr;
}
