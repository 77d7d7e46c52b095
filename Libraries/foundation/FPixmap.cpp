#include "FPixmap.h"

#include <cstdint>
#include <new>
#include <type_traits>

#include "FException.h"

namespace
{

// Calls `fn` with a null pointer of the pixmap class of `type` (1 to 19); false when the
// id is unknown. Keeps the id-to-class table in one place.
template <class Fn>
bool WithPixmapClass(int type, Fn&& fn)
{
    switch (type) {
    case FPixmap::PIXEL_8_MONO:
        fn(static_cast<FPixmap8Mono*>(nullptr));
        return true;
    case FPixmap::PIXEL_12_MONO:
        fn(static_cast<FPixmap12Mono*>(nullptr));
        return true;
    case FPixmap::PIXEL_16_MONO:
        fn(static_cast<FPixmap16Mono*>(nullptr));
        return true;
    case FPixmap::PIXEL_16S_MONO:
        fn(static_cast<FPixmap16SMono*>(nullptr));
        return true;
    case FPixmap::PIXEL_32_MONO:
        fn(static_cast<FPixmap32Mono*>(nullptr));
        return true;
    case FPixmap::PIXEL_24_BGR:
        fn(static_cast<FPixmap24BGR*>(nullptr));
        return true;
    case FPixmap::PIXEL_24_RGB:
        fn(static_cast<FPixmap24RGB*>(nullptr));
        return true;
    case FPixmap::PIXEL_30_RGBL:
        fn(static_cast<FPixmap30RGBL*>(nullptr));
        return true;
    case FPixmap::PIXEL_30_BGRL:
        fn(static_cast<FPixmap30BGRL*>(nullptr));
        return true;
    case FPixmap::PIXEL_30_RGB:
        fn(static_cast<FPixmap30RGB*>(nullptr));
        return true;
    case FPixmap::PIXEL_32_ARGB:
        fn(static_cast<FPixmap32ARGB*>(nullptr));
        return true;
    case FPixmap::PIXEL_32_ABGR:
        fn(static_cast<FPixmap32ABGR*>(nullptr));
        return true;
    case FPixmap::PIXEL_32_BGRA:
        fn(static_cast<FPixmap_Display*>(nullptr));
        return true;
    case FPixmap::PIXEL_32_RGBA:
        fn(static_cast<FPixmap32RGBA*>(nullptr));
        return true;
    case FPixmap::PIXEL_48_RGB:
        fn(static_cast<FPixmap48RGB*>(nullptr));
        return true;
    case FPixmap::PIXEL_48S_RGB:
        fn(static_cast<FPixmap48SRGB*>(nullptr));
        return true;
    case FPixmap::PIXEL_48_BGR:
        fn(static_cast<FPixmap48BGR*>(nullptr));
        return true;
    case FPixmap::PIXEL_FLT32_RGB:
        fn(static_cast<FPixmapFlt32RGB*>(nullptr));
        return true;
    case FPixmap::PIXEL_FLT32_MONO:
        fn(static_cast<FPixmapFlt32Mono*>(nullptr));
        return true;
    }
    return false;
}

// The block functions handle ids 1 to 17 only.
bool IsBlockType(int type)
{
    return type >= FPixmap::PIXEL_8_MONO && type <= FPixmap::PIXEL_48_BGR;
}

// All pixmap classes share one layout; the header room must hold any of them.
static_assert(sizeof(FPixmap_Display) <= static_cast<size_t>(kFPixmapHeaderSize));
static_assert(sizeof(FPixmap48SRGB) == sizeof(FPixmap));
static_assert(alignof(FPixmap) <= kFPixmapHeaderAlign);

} // namespace

int GetPixelTypeBytesPerPixel(int type)
{
    int bytes = 0;
    WithPixmapClass(type,
                    [&](auto* p) { bytes = std::remove_pointer_t<decltype(p)>::PixelClass::kBytesPerPixel; });
    return bytes;
}

void GetFPixmapSizes(int type, int cols, int /*rows*/, int& headerSize, int& rowBytes)
{
    if (!IsBlockType(type))
        throw FException("GetFPixmapSizes: unknown pixmap type.");
    headerSize = kFPixmapHeaderSize;
    // Rounded up to a multiple of 4, in 64 bits so that no width wraps.
    const int64_t bytes = static_cast<int64_t>(cols) * GetPixelTypeBytesPerPixel(type);
    const int64_t rounded = (bytes + 3) / 4 * 4;
    if (bytes < 0 || rounded > INT32_MAX)
        throw FException("GetFPixmapSizes: row too large.");
    rowBytes = static_cast<int>(rounded);
}

FPixmap* MapFPixmapHeader(int type, int cols, int rows, int stride, void* buffer, void* header)
{
    if (!IsBlockType(type))
        throw FException("MapFPixmapHeader: unknown pixmap type.");
    if (header == nullptr || reinterpret_cast<uintptr_t>(header) % kFPixmapHeaderAlign != 0)
        throw FException("MapFPixmapHeader: header room is not aligned.");
    FPixmap* result = nullptr;
    WithPixmapClass(type, [&](auto* p) {
        using Pixmap = std::remove_pointer_t<decltype(p)>;
        result = ::new (header) Pixmap(buffer, cols, rows, stride);
    });
    return result;
}

void DestroyFPixmapHeader(FPixmap* pixmap)
{
    if (pixmap != nullptr)
        pixmap->~FPixmap();
}

FPixmap* NewFPixmap(int type, void* buffer, int cols, int rows, int stride, const char* where)
{
    FPixmap* result = nullptr;
    const bool known = WithPixmapClass(type, [&](auto* p) {
        using Pixmap = std::remove_pointer_t<decltype(p)>;
        result = new Pixmap(buffer, cols, rows, stride);
    });
    if (!known)
        throw FExceptionUnknownPixelType(where);
    return result;
}
