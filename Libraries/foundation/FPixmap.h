#pragma once

#include <cstddef>
#include <cstdint>

// A view of rows of pixels in memory; it never owns or frees the pixels.
class FPixmap
{
public:
    // Pixel type ids, the values of GetPixelType and of every pixel-type argument.
    enum {
        PIXEL_8_MONO = 1,
        PIXEL_12_MONO = 2,
        PIXEL_16_MONO = 3,
        PIXEL_16S_MONO = 4,
        PIXEL_32_MONO = 5,
        PIXEL_24_BGR = 6,
        PIXEL_24_RGB = 7,
        PIXEL_30_RGBL = 8,
        PIXEL_30_BGRL = 9,
        PIXEL_30_RGB = 10,
        PIXEL_32_ARGB = 11,
        PIXEL_32_ABGR = 12,
        PIXEL_32_BGRA = 13,
        PIXEL_32_RGBA = 14,
        PIXEL_48_RGB = 15,
        PIXEL_48S_RGB = 16,
        PIXEL_48_BGR = 17,
        PIXEL_FLT32_RGB = 18,
        PIXEL_FLT32_MONO = 19,
    };

    FPixmap(void* buffer, int cols, int rows, int stride)
        : m_pBuffer(static_cast<uint8_t*>(buffer)), m_iCols(cols), m_iRows(rows), m_iStride(stride)
    {
    }
    virtual ~FPixmap() = default;

    virtual int GetPixelType() const = 0;

    int GetCols() const { return m_iCols; }
    int GetRows() const { return m_iRows; }
    int GetStride() const { return m_iStride; }
    uint8_t* GetBuffer() const { return m_pBuffer; }

    // First byte of row y; the offset is computed in pointer width.
    uint8_t* GetRowAddress(int y) const
    {
        return m_pBuffer + static_cast<ptrdiff_t>(y) * static_cast<ptrdiff_t>(m_iStride);
    }

protected:
    FPixmap(const FPixmap&) = default;
    FPixmap& operator=(const FPixmap&) = default;

    uint8_t* m_pBuffer;
    int m_iCols;
    int m_iRows;
    int m_iStride;
};

// Pixel classes: one per pixel type. `Sample` is the unit that GetRow and GetPixel point
// at, `kChannels` the samples of one pixel, and the k...Index members the sample index of
// each colour channel within a pixel (-1 where the layout has none). Packed types (8 to 10)
// are one 32-bit sample whose bits are read by the conversion code.
template <int Type, typename S, int Channels, int R = -1, int G = -1, int B = -1, int A = -1>
struct FPixelClassBase {
    using Sample = S;
    static constexpr int kPixelType = Type;
    static constexpr int kChannels = Channels;
    static constexpr int kBytesPerPixel = static_cast<int>(sizeof(S)) * Channels;
    static constexpr int kRedIndex = R;
    static constexpr int kGreenIndex = G;
    static constexpr int kBlueIndex = B;
    static constexpr int kAlphaIndex = A;
};

struct FPixelClass8Mono : FPixelClassBase<FPixmap::PIXEL_8_MONO, uint8_t, 1> {
};
struct FPixelClass12Mono : FPixelClassBase<FPixmap::PIXEL_12_MONO, uint16_t, 1> {
};
struct FPixelClass16Mono : FPixelClassBase<FPixmap::PIXEL_16_MONO, uint16_t, 1> {
};
struct FPixelClass16SMono : FPixelClassBase<FPixmap::PIXEL_16S_MONO, int16_t, 1> {
};
struct FPixelClass32Mono : FPixelClassBase<FPixmap::PIXEL_32_MONO, uint32_t, 1> {
};
struct FPixelClass24BGR : FPixelClassBase<FPixmap::PIXEL_24_BGR, uint8_t, 3, 2, 1, 0> {
};
struct FPixelClass24RGB : FPixelClassBase<FPixmap::PIXEL_24_RGB, uint8_t, 3, 0, 1, 2> {
};
struct FPixelClass30RGBL : FPixelClassBase<FPixmap::PIXEL_30_RGBL, uint32_t, 1> {
};
struct FPixelClass30BGRL : FPixelClassBase<FPixmap::PIXEL_30_BGRL, uint32_t, 1> {
};
struct FPixelClass30RGB : FPixelClassBase<FPixmap::PIXEL_30_RGB, uint32_t, 1> {
};
struct FPixelClass32ARGB : FPixelClassBase<FPixmap::PIXEL_32_ARGB, uint8_t, 4, 1, 2, 3, 0> {
};
struct FPixelClass32ABGR : FPixelClassBase<FPixmap::PIXEL_32_ABGR, uint8_t, 4, 3, 2, 1, 0> {
};
struct FPixelClass32BGRA : FPixelClassBase<FPixmap::PIXEL_32_BGRA, uint8_t, 4, 2, 1, 0, 3> {
};
struct FPixelClass32RGBA : FPixelClassBase<FPixmap::PIXEL_32_RGBA, uint8_t, 4, 0, 1, 2, 3> {
};
struct FPixelClass48RGB : FPixelClassBase<FPixmap::PIXEL_48_RGB, uint16_t, 3, 0, 1, 2> {
};
struct FPixelClass48SRGB : FPixelClassBase<FPixmap::PIXEL_48S_RGB, int16_t, 3, 0, 1, 2> {
};
struct FPixelClass48BGR : FPixelClassBase<FPixmap::PIXEL_48_BGR, uint16_t, 3, 2, 1, 0> {
};
struct FPixelClassFlt32RGB : FPixelClassBase<FPixmap::PIXEL_FLT32_RGB, float, 3, 0, 1, 2> {
};
struct FPixelClassFlt32Mono : FPixelClassBase<FPixmap::PIXEL_FLT32_MONO, float, 1> {
};

// The pixmap class of one pixel class; it adds no fields.
template <class P>
class FPixmapTemplate : public FPixmap
{
public:
    using PixelClass = P;
    using Sample = typename P::Sample;

    // A stride of 0 means cols x bytes per pixel, not rounded.
    FPixmapTemplate(void* buffer, int cols, int rows, int stride)
        : FPixmap(buffer, cols, rows, stride != 0 ? stride : cols * P::kBytesPerPixel)
    {
    }
    FPixmapTemplate(const FPixmapTemplate&) = default;
    FPixmapTemplate& operator=(const FPixmapTemplate&) = default;

    int GetPixelType() const override { return P::kPixelType; }

    Sample* GetRow(int y) const { return reinterpret_cast<Sample*>(GetRowAddress(y)); }
    Sample* GetPixel(int x, int y) const
    {
        return reinterpret_cast<Sample*>(GetRowAddress(y) + static_cast<ptrdiff_t>(x) *
                                                                static_cast<ptrdiff_t>(P::kBytesPerPixel));
    }
};

using FPixmap8Mono = FPixmapTemplate<FPixelClass8Mono>;
using FPixmap12Mono = FPixmapTemplate<FPixelClass12Mono>;
using FPixmap16Mono = FPixmapTemplate<FPixelClass16Mono>;
using FPixmap16SMono = FPixmapTemplate<FPixelClass16SMono>;
using FPixmap32Mono = FPixmapTemplate<FPixelClass32Mono>;
using FPixmap24BGR = FPixmapTemplate<FPixelClass24BGR>;
using FPixmap24RGB = FPixmapTemplate<FPixelClass24RGB>;
using FPixmap30RGBL = FPixmapTemplate<FPixelClass30RGBL>;
using FPixmap30BGRL = FPixmapTemplate<FPixelClass30BGRL>;
using FPixmap30RGB = FPixmapTemplate<FPixelClass30RGB>;
using FPixmap32ARGB = FPixmapTemplate<FPixelClass32ARGB>;
using FPixmap32ABGR = FPixmapTemplate<FPixelClass32ABGR>;
using FPixmap32BGRA = FPixmapTemplate<FPixelClass32BGRA>;
using FPixmap32RGBA = FPixmapTemplate<FPixelClass32RGBA>;
using FPixmap48RGB = FPixmapTemplate<FPixelClass48RGB>;
using FPixmap48SRGB = FPixmapTemplate<FPixelClass48SRGB>;
using FPixmap48BGR = FPixmapTemplate<FPixelClass48BGR>;
using FPixmapFlt32RGB = FPixmapTemplate<FPixelClassFlt32RGB>;
using FPixmapFlt32Mono = FPixmapTemplate<FPixelClassFlt32Mono>;

// The display pixmap of the user interface (id 13).
class FPixmap_Display : public FPixmapTemplate<FPixelClass32BGRA>
{
public:
    FPixmap_Display(void* buffer, int cols, int rows, int stride)
        : FPixmapTemplate<FPixelClass32BGRA>(buffer, cols, rows, stride)
    {
    }
};

// Bytes per pixel of ids 1 to 19; 0 for any other id.
int GetPixelTypeBytesPerPixel(int type);

// Room and alignment that MapFPixmapHeader needs for the pixmap object in a block.
constexpr int kFPixmapHeaderSize = static_cast<int>((sizeof(FPixmap) + alignof(std::max_align_t) - 1) /
                                                    alignof(std::max_align_t) * alignof(std::max_align_t));
constexpr size_t kFPixmapHeaderAlign = alignof(std::max_align_t);

// For ids 1 to 17: the header size (the room of one pixmap object) and cols x bytes per
// pixel rounded up to a multiple of 4. Other ids throw FException
// "GetFPixmapSizes: unknown pixmap type.".
void GetFPixmapSizes(int type, int cols, int rows, int& headerSize, int& rowBytes);

// Builds the pixmap object of id 1 to 17 (13: FPixmap_Display) over `buffer` inside the
// header room `header` of a block (kFPixmapHeaderSize bytes aligned to
// kFPixmapHeaderAlign), and returns it; a stride of 0 means cols x bytes per pixel. The
// object is complete: it answers through its virtual operations. Other ids throw
// FException "MapFPixmapHeader: unknown pixmap type.". Undo with DestroyFPixmapHeader.
FPixmap* MapFPixmapHeader(int type, int cols, int rows, int stride, void* buffer, void* header);

// Ends the life of a pixmap object built by MapFPixmapHeader; the block stays.
void DestroyFPixmapHeader(FPixmap* pixmap);

// A new pixmap object of id 1 to 19 (13: FPixmap_Display) over `buffer`; the caller
// deletes it. Other ids throw FExceptionUnknownPixelType with `where` as message.
FPixmap* NewFPixmap(int type, void* buffer, int cols, int rows, int stride, const char* where = "NewFPixmap");
