#include "FRowFormatConverters.h"
#include "FByteOrder.h"

#include "FException.h"

#include <cstdint>
#include <cstring>

// Pixels are read and written byte by byte, so rows need no alignment and words
// keep their little-endian layout on any host.
namespace
{

// Type 8 from 16-bit channels: the top bytes, then the next 3 bits of R and G and 2 of B.
uint32_t Pack30RGBL(uint16_t r, uint16_t g, uint16_t b)
{
    return uint32_t(r >> 8) | uint32_t(g >> 8) << 8 | uint32_t(b >> 8) << 16 | uint32_t((b >> 6) & 3) << 24 |
           uint32_t((g >> 5) & 7) << 26 | uint32_t((r >> 5) & 7) << 29;
}

template <typename F>
void ForEach(unsigned count, const void* src, void* dst, int srcBytes, int dstBytes, F f)
{
    const uint8_t* s = static_cast<const uint8_t*>(src);
    uint8_t* d = static_cast<uint8_t*>(dst);
    for (unsigned i = 0; i < count; ++i, s += srcBytes, d += dstBytes) {
        f(s, d);
    }
}

void Bytes4(uint8_t* d, uint8_t a, uint8_t b, uint8_t c, uint8_t e)
{
    d[0] = a;
    d[1] = b;
    d[2] = c;
    d[3] = e;
}

} // namespace

void ConvertRow30RGBLTo24BGR(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 3, [](const uint8_t* s, uint8_t* d) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
    });
}

void ConvertRow30RGBLTo24RGB(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 3, [](const uint8_t* s, uint8_t* d) { std::memcpy(d, s, 3); });
}

void ConvertRow30RGBLTo30RGBL(unsigned count, const void* src, void* dst)
{
    if (count != 0) {
        std::memmove(dst, src, size_t(count) * 4);
    }
}

void ConvertRowNotImplemented(unsigned count, const void*, void*)
{
    if (count == 0) {
        return;
    }
    // A family member, so that every handler of the family sees it.
    throw FExceptionUnknownPixelType("NOT IMPLEMENTED");
}

void ConvertRow30RGBLTo30RGB(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) {
        const uint32_t w = LoadLE32(s);
        const uint32_t r = uint32_t(s[0]) << 3 | (w >> 29);
        const uint32_t g = uint32_t(s[1]) << 3 | ((w >> 26) & 7);
        const uint32_t b = uint32_t(s[2]) << 2 | ((w >> 24) & 3);
        StoreLE32(d, r | g << 11 | b << 22);
    });
}

void ConvertRow30RGBLTo32ARGB(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, 255, s[0], s[1], s[2]); });
}

void ConvertRow30RGBLTo32ABGR(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, 255, s[2], s[1], s[0]); });
}

void ConvertRow30RGBLTo32RGBA(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, s[0], s[1], s[2], 255); });
}

void ConvertRow48RGBTo24BGR(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 6, 3, [](const uint8_t* s, uint8_t* d) {
        d[0] = s[5];
        d[1] = s[3];
        d[2] = s[1];
    });
}

void ConvertRow48RGBTo24RGB(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 6, 3, [](const uint8_t* s, uint8_t* d) {
        d[0] = s[1];
        d[1] = s[3];
        d[2] = s[5];
    });
}

void ConvertRow48RGBTo30RGBL(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 6, 4, [](const uint8_t* s, uint8_t* d) {
        StoreLE32(d, Pack30RGBL(LoadLE16(s), LoadLE16(s + 2), LoadLE16(s + 4)));
    });
}

void ConvertRow48RGBTo30RGB(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 6, 4, [](const uint8_t* s, uint8_t* d) {
        StoreLE32(d, uint32_t(LoadLE16(s) >> 5) | uint32_t(LoadLE16(s + 2) >> 5) << 11 |
                         uint32_t(LoadLE16(s + 4) >> 6) << 22);
    });
}

void ConvertRow48RGBTo32ARGB(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 6, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, 255, s[1], s[3], s[5]); });
}

void ConvertRow48RGBTo32ABGR(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 6, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, 255, s[5], s[3], s[1]); });
}

void ConvertRow48RGBTo32RGBA(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 6, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, s[1], s[3], s[5], 255); });
}

void ConvertPixels48To48(unsigned count, const void* src, void* dst)
{
    if (count != 0) {
        std::memmove(dst, src, size_t(count) * 6);
    }
}

void ConvertPixels24To48(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 3, 6, [](const uint8_t* s, uint8_t* d) {
        StoreLE16(d, uint16_t(s[0] << 8));
        StoreLE16(d + 2, uint16_t(s[1] << 8));
        StoreLE16(d + 4, uint16_t(s[2] << 8));
    });
}

void ConvertRow30BGRLTo30RGBL(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, s[2], s[1], s[0], s[3]); });
}

void ConvertRow30RGBTo30RGBL(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) {
        const uint32_t w = LoadLE32(s);
        const uint32_t r = w & 0x7FF;
        const uint32_t g = (w >> 11) & 0x7FF;
        const uint32_t b = w >> 22;
        StoreLE32(d,
                  (r >> 3) | (g >> 3) << 8 | (b >> 2) << 16 | (b & 3) << 24 | (g & 7) << 26 | (r & 7) << 29);
    });
}

void ConvertRow32ARGBTo30RGBL(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, s[1], s[2], s[3], 0); });
}

void ConvertRow32ABGRTo30RGBL(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, s[3], s[2], s[1], 0); });
}

void ConvertRow32BGRATo30RGBL(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, s[2], s[1], s[0], 0); });
}

void ConvertRow32RGBATo30RGBL(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 4, [](const uint8_t* s, uint8_t* d) { Bytes4(d, s[0], s[1], s[2], 0); });
}

void ConvertRow48SRGBTo30RGBL(unsigned count, const void* src, void* dst)
{
    ConvertRow48RGBTo30RGBL(count, src, dst);
}

void ConvertRow48BGRTo30RGBL(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 6, 4, [](const uint8_t* s, uint8_t* d) {
        StoreLE32(d, Pack30RGBL(LoadLE16(s + 4), LoadLE16(s + 2), LoadLE16(s)));
    });
}

void ConvertRow8MonoTo16Mono(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 1, 2, [](const uint8_t* s, uint8_t* d) { StoreLE16(d, uint16_t(s[0] << 8)); });
}

void ConvertRow12MonoTo16Mono(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 2, 2,
            [](const uint8_t* s, uint8_t* d) { StoreLE16(d, uint16_t(LoadLE16(s) << 4)); });
}

void ConvertRow16MonoTo16Mono(unsigned count, const void* src, void* dst)
{
    if (count != 0) {
        std::memmove(dst, src, size_t(count) * 2);
    }
}

void ConvertRow32MonoTo16Mono(unsigned count, const void* src, void* dst)
{
    ForEach(count, src, dst, 4, 2,
            [](const uint8_t* s, uint8_t* d) { StoreLE16(d, uint16_t(uint16_t(LoadLE32(s)) << 4)); });
}
