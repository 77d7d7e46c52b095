#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FPixmap.h"

// A pixmap over a buffer of exactly rows x stride bytes, so that the sanitizers see any
// access past its last row. The pixmap object is of the class its id names.
struct TestPixmap {
    TestPixmap(int type, int cols, int rows, uint8_t fill = 0)
        : bytes(size_t(cols) * size_t(GetPixelTypeBytesPerPixel(type)) * size_t(rows) + (rows == 0 ? 1 : 0),
                fill),
          pixmap(NewFPixmap(type, bytes.data(), cols, rows, cols * GetPixelTypeBytesPerPixel(type)))
    {
    }
    TestPixmap(const TestPixmap&) = delete;
    TestPixmap& operator=(const TestPixmap&) = delete;

    uint8_t* At(int x, int y) const
    {
        return pixmap->GetRowAddress(y) + ptrdiff_t(x) * GetPixelTypeBytesPerPixel(pixmap->GetPixelType());
    }
    int Bpp() const { return GetPixelTypeBytesPerPixel(pixmap->GetPixelType()); }

    std::vector<uint8_t> bytes;
    std::unique_ptr<FPixmap> pixmap;
};

inline void Put16(uint8_t* p, int v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(unsigned(v) >> 8);
}
inline int Get16u(const uint8_t* p)
{
    return p[0] | p[1] << 8;
}
inline int Get16s(const uint8_t* p)
{
    return int16_t(uint16_t(Get16u(p)));
}
