#include "ConvertColorPixmap.h"

#include <algorithm>
#include <cstdint>

#include "FException.h"
#include "FPixelClassAccessors.h"
#include "PixelRowConverters.h"

namespace
{

using RowFn = void (*)(int count, const uint8_t* src, uint8_t* dst);

// Source rows [top, top + rows), columns [left, left + cols) go to destination rows
// [0, rows), columns [0, cols).
struct Region {
    int left = 0;
    int top = 0;
    int cols = 0;
    int rows = 0;
};

bool IsConvertibleDestination(int type)
{
    switch (type) {
    case FPixmap::PIXEL_24_BGR:
    case FPixmap::PIXEL_24_RGB:
    case FPixmap::PIXEL_30_RGBL:
    case FPixmap::PIXEL_30_RGB:
    case FPixmap::PIXEL_32_ARGB:
    case FPixmap::PIXEL_32_BGRA:
    case FPixmap::PIXEL_48_RGB:
    case FPixmap::PIXEL_48_BGR:
        return true;
    }
    return false;
}

Region ResolveRegion(const FPixmap& source, const FPixmap& destination, const FRect* crop,
                     const char* tooLarge, const char* outside)
{
    Region region;
    region.cols = std::max(0, destination.GetCols());
    if (crop == nullptr) {
        // Without a crop only the rows the destination holds are converted.
        region.rows = std::max(0, std::min(source.GetRows(), destination.GetRows()));
        return region;
    }
    if (crop->Width() > destination.GetCols() || crop->Height() > destination.GetRows())
        throw FException(tooLarge);
    const bool inside = crop->left >= 0 && crop->top >= 0 && crop->left <= crop->right &&
                        crop->top <= crop->bottom && crop->right <= source.GetCols() &&
                        crop->bottom <= source.GetRows() &&
                        int64_t(crop->left) + region.cols <= int64_t(source.GetCols());
    if (!inside)
        throw FException(outside);
    region.left = crop->left;
    region.top = crop->top;
    region.rows = crop->Height();
    return region;
}

void RunRows(const FPixmap& source, FPixmap& destination, const Region& region, RowFn fn)
{
    const int srcBpp = GetPixelTypeBytesPerPixel(source.GetPixelType());
    for (int y = 0; y < region.rows; ++y) {
        const uint8_t* s = source.GetRowAddress(region.top + y) + ptrdiff_t(region.left) * srcBpp;
        fn(region.cols, s, destination.GetRowAddress(y));
    }
}

// --- Colour sources

constexpr int ChannelWidth(int type)
{
    if (type >= FPixmap::PIXEL_30_RGBL && type <= FPixmap::PIXEL_30_RGB)
        return 11;
    if (type >= FPixmap::PIXEL_48_RGB)
        return 16;
    return 8;
}

template <class S, class D>
void ColorRow(int count, const uint8_t* src, uint8_t* dst)
{
    constexpr int ws = ChannelWidth(S::kPixelType);
    constexpr int wd = ChannelWidth(D::kPixelType);
    for (int i = 0; i < count; ++i, src += S::kBytesPerPixel, dst += D::kBytesPerPixel) {
        FIntRGB t = GetPixelRGB<S>(src);
        if constexpr (wd < ws)
            t = t.ShiftRight(ws - wd);
        else if constexpr (wd > ws)
            t = t << (wd - ws);
        SetPixelRGB<D>(dst, t);
    }
}

template <class D>
RowFn ColorRowFor(int sourceType)
{
    switch (sourceType) {
    case FPixmap::PIXEL_24_BGR:
        return ColorRow<FPixelClass24BGR, D>;
    case FPixmap::PIXEL_24_RGB:
        return ColorRow<FPixelClass24RGB, D>;
    case FPixmap::PIXEL_30_RGBL:
        return ColorRow<FPixelClass30RGBL, D>;
    case FPixmap::PIXEL_30_BGRL:
        return ColorRow<FPixelClass30BGRL, D>;
    case FPixmap::PIXEL_30_RGB:
        return ColorRow<FPixelClass30RGB, D>;
    case FPixmap::PIXEL_32_ARGB:
        return ColorRow<FPixelClass32ARGB, D>;
    case FPixmap::PIXEL_32_ABGR:
        return ColorRow<FPixelClass32ABGR, D>;
    case FPixmap::PIXEL_32_BGRA:
        return ColorRow<FPixelClass32BGRA, D>;
    case FPixmap::PIXEL_32_RGBA:
        return ColorRow<FPixelClass32RGBA, D>;
    case FPixmap::PIXEL_48_RGB:
        return ColorRow<FPixelClass48RGB, D>;
    case FPixmap::PIXEL_48S_RGB:
        return ColorRow<FPixelClass48SRGB, D>;
    case FPixmap::PIXEL_48_BGR:
        return ColorRow<FPixelClass48BGR, D>;
    }
    return nullptr;
}

// --- Mono sources

// The mono sample of id Src brought to a destination channel width of W bits.
template <int Src, int W>
int32_t MonoValue(const uint8_t* p)
{
    if constexpr (Src == FPixmap::PIXEL_8_MONO) {
        return int32_t(p[0]) << (W - 8);
    } else if constexpr (Src == FPixmap::PIXEL_12_MONO || Src == FPixmap::PIXEL_32_MONO) {
        // Id 5 is taken through the low 16 bits of its word, as a 12-bit value.
        const int32_t v = pixel_detail::Load16(p);
        if constexpr (W < 12)
            return v >> (12 - W);
        else
            return (v << (W - 12)) & 0xFFFF;
    } else if constexpr (Src == FPixmap::PIXEL_16_MONO) {
        return int32_t(pixel_detail::Load16(p)) >> (16 - W);
    } else {
        // Id 4: the 16-bit pattern for 8- and 16-bit destinations, signed for 11 bits.
        if constexpr (W == 11)
            return int32_t(int16_t(pixel_detail::Load16(p))) >> 5;
        else
            return int32_t(pixel_detail::Load16(p)) >> (16 - W);
    }
}

template <class D>
void StoreMono(uint8_t* dst, int32_t v)
{
    if constexpr (D::kPixelType == FPixmap::PIXEL_30_RGBL || D::kPixelType == FPixmap::PIXEL_30_RGB)
        SetPixelRGB3<D>(dst, v, v, v);
    else
        SetPixelMono<D>(dst, v);
}

template <int Src, class D>
void MonoRow(int count, const uint8_t* src, uint8_t* dst)
{
    constexpr int srcBytes = Src == FPixmap::PIXEL_8_MONO ? 1 : (Src == FPixmap::PIXEL_32_MONO ? 4 : 2);
    constexpr int wd = ChannelWidth(D::kPixelType);
    for (int i = 0; i < count; ++i, src += srcBytes, dst += D::kBytesPerPixel)
        StoreMono<D>(dst, MonoValue<Src, wd>(src));
}

template <class D>
RowFn MonoRowFor(int sourceType)
{
    switch (sourceType) {
    case FPixmap::PIXEL_8_MONO:
        return MonoRow<FPixmap::PIXEL_8_MONO, D>;
    case FPixmap::PIXEL_12_MONO:
        return MonoRow<FPixmap::PIXEL_12_MONO, D>;
    case FPixmap::PIXEL_16_MONO:
        return MonoRow<FPixmap::PIXEL_16_MONO, D>;
    case FPixmap::PIXEL_16S_MONO:
        return MonoRow<FPixmap::PIXEL_16S_MONO, D>;
    case FPixmap::PIXEL_32_MONO:
        return MonoRow<FPixmap::PIXEL_32_MONO, D>;
    }
    return nullptr;
}

template <template <class> class Pick>
RowFn ForDestination(int destinationType, int sourceType)
{
    switch (destinationType) {
    case FPixmap::PIXEL_24_BGR:
        return Pick<FPixelClass24BGR>::Get(sourceType);
    case FPixmap::PIXEL_24_RGB:
        return Pick<FPixelClass24RGB>::Get(sourceType);
    case FPixmap::PIXEL_30_RGBL:
        return Pick<FPixelClass30RGBL>::Get(sourceType);
    case FPixmap::PIXEL_30_RGB:
        return Pick<FPixelClass30RGB>::Get(sourceType);
    case FPixmap::PIXEL_32_ARGB:
        return Pick<FPixelClass32ARGB>::Get(sourceType);
    case FPixmap::PIXEL_32_BGRA:
        return Pick<FPixelClass32BGRA>::Get(sourceType);
    case FPixmap::PIXEL_48_RGB:
        return Pick<FPixelClass48RGB>::Get(sourceType);
    case FPixmap::PIXEL_48_BGR:
        return Pick<FPixelClass48BGR>::Get(sourceType);
    }
    return nullptr;
}

template <class D>
struct PickMono {
    static RowFn Get(int sourceType) { return MonoRowFor<D>(sourceType); }
};

// The colour pixel classes that the generic accessor path writes; the others go through
// the row converters.
template <class D>
struct PickColor {
    static RowFn Get(int sourceType)
    {
        if constexpr (D::kPixelType == FPixmap::PIXEL_32_BGRA || D::kPixelType == FPixmap::PIXEL_48_RGB ||
                      D::kPixelType == FPixmap::PIXEL_48_BGR)
            return nullptr;
        else
            return ColorRowFor<D>(sourceType);
    }
};

void RunRowConverter(const FPixmap& source, FPixmap& destination, const Region& region, FRowConverter fn)
{
    const int srcBpp = GetPixelTypeBytesPerPixel(source.GetPixelType());
    for (int y = 0; y < region.rows; ++y) {
        const uint8_t* s = source.GetRowAddress(region.top + y) + ptrdiff_t(region.left) * srcBpp;
        fn(unsigned(region.cols), s, destination.GetRowAddress(y));
    }
}

bool IsMonoType(int type)
{
    return type >= FPixmap::PIXEL_8_MONO && type <= FPixmap::PIXEL_32_MONO;
}

bool IsColorType(int type)
{
    return type >= FPixmap::PIXEL_24_BGR && type <= FPixmap::PIXEL_48_BGR;
}

const char kUnknownSource[] = "Unknown source pixel type in ConvertColorPixmap";
const char kUnknownDestination[] = "Unknown destination pixel type in ConvertColorPixmap";

} // namespace

void ConvertColorPixmap(const FPixmap& source, FPixmap* destination, const FRect* crop)
{
    if (destination == nullptr)
        throw FException("The output pixmap has not been initialized: ConvertColorPixmap");
    if (destination->GetCols() > source.GetCols() || destination->GetRows() > source.GetRows())
        throw FException("The output pixmap is larger than the input pixmap: ConvertColorPixmap.");
    const int type = source.GetPixelType();
    if (IsMonoType(type)) {
        ConvertMonoPixmap(source, *destination, crop);
        return;
    }
    if (IsColorType(type)) {
        ConvertColorSourcePixmap(source, *destination, crop);
        return;
    }
    throw FException(kUnknownSource);
}

void ConvertMonoPixmap(const FPixmap& source, FPixmap& destination, const FRect* crop)
{
    if (!IsMonoType(source.GetPixelType()))
        throw FException(kUnknownSource);
    const Region region = ResolveRegion(
        source, destination, crop, "The crop region is larger than the output pixmap: ConvertMonoPixmap.",
        "The crop region is outside the input pixmap: ConvertMonoPixmap.");
    const int dstType = destination.GetPixelType();
    if (!IsConvertibleDestination(dstType))
        throw FException(kUnknownDestination);
    RunRows(source, destination, region, ForDestination<PickMono>(dstType, source.GetPixelType()));
}

void ConvertColorSourcePixmap(const FPixmap& source, FPixmap& destination, const FRect* crop)
{
    const int srcType = source.GetPixelType();
    if (!IsColorType(srcType))
        throw FException(kUnknownSource);
    const Region region = ResolveRegion(
        source, destination, crop, "The crop region is larger than the output pixmap: ConvertColorPixmap.",
        "The crop region is outside the input pixmap: ConvertColorPixmap.");
    const int dstType = destination.GetPixelType();
    if (!IsConvertibleDestination(dstType))
        throw FException(kUnknownDestination);
    if (const FRowConverter converter = GetRowConverter(srcType, dstType)) {
        RunRowConverter(source, destination, region, converter);
        return;
    }
    RunRows(source, destination, region, ForDestination<PickColor>(dstType, srcType));
}
