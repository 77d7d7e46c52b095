#pragma once

// TIFF inputs for the reader tests, written by libtiff itself on native paths,
// so that our reader is checked against files it did not write.

#include "FException.h"
#include "FPixmap.h"

#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tifftest
{

struct TiffLayout {
    uint32_t width = 4;
    uint32_t height = 3;
    uint16_t samples = 3;
    uint16_t bits = 8;
    uint16_t photometric = PHOTOMETRIC_RGB;
    uint16_t planar = PLANARCONFIG_CONTIG;
    std::vector<uint16_t> extra; // kinds of the extra samples
    uint32_t tile = 0;           // tile size; 0 for strips
    uint32_t rowsPerStrip = 0;   // 0: the library's default
    uint16_t compression = COMPRESSION_NONE;
    uint16_t predictor = 0; // 0: none written
    const char* mode = "w";
    const char* make = nullptr;
    const char* model = nullptr;
    const char* software = nullptr;
    const char* date = nullptr;
};

// Sample s of pixel x in row y; 8-bit files keep the low byte.
using SampleFn = std::function<uint32_t(uint32_t x, uint32_t y, uint32_t s)>;

inline void WriteTiff(const std::string& path, const TiffLayout& l, const SampleFn& sample)
{
    TIFF* tif = TIFFOpen(path.c_str(), l.mode);
    if (!tif)
        throw std::runtime_error("cannot create " + path);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, l.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, l.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
    if (!l.extra.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(l.extra.size()), l.extra.data());
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
    if (l.predictor)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, l.predictor);
    // YCbCr JPEG is written from RGB rows, as cameras and editors store it.
    if (l.compression == COMPRESSION_JPEG && l.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (l.rowsPerStrip)
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
    if (l.make)
        TIFFSetField(tif, TIFFTAG_MAKE, l.make);
    if (l.model)
        TIFFSetField(tif, TIFFTAG_MODEL, l.model);
    if (l.software)
        TIFFSetField(tif, TIFFTAG_SOFTWARE, l.software);
    if (l.date)
        TIFFSetField(tif, TIFFTAG_DATETIME, l.date);
    const uint32_t bytes = l.bits / 8;
    auto put = [&](uint8_t* p, uint32_t v) {
        if (bytes == 2) {
            const uint16_t w = uint16_t(v);
            std::memcpy(p, &w, 2);
        } else {
            *p = uint8_t(v);
        }
    };
    bool ok = true;
    if (l.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, l.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, l.tile);
        std::vector<uint8_t> tile(size_t(TIFFTileSize(tif)));
        for (uint32_t ty = 0; ty < l.height; ty += l.tile) {
            for (uint32_t tx = 0; tx < l.width; tx += l.tile) {
                for (uint32_t y = 0; y < l.tile; ++y)
                    for (uint32_t x = 0; x < l.tile; ++x)
                        for (uint32_t s = 0; s < l.samples; ++s)
                            put(&tile[((y * l.tile + x) * l.samples + s) * bytes], sample(tx + x, ty + y, s));
                ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
            }
        }
    } else if (l.planar == PLANARCONFIG_SEPARATE) {
        std::vector<uint8_t> row(size_t(l.width) * bytes);
        for (uint32_t s = 0; s < l.samples; ++s) {
            for (uint32_t y = 0; y < l.height; ++y) {
                for (uint32_t x = 0; x < l.width; ++x)
                    put(&row[x * bytes], sample(x, y, s));
                ok = ok && TIFFWriteScanline(tif, row.data(), y, uint16_t(s)) >= 0;
            }
        }
    } else {
        std::vector<uint8_t> row(size_t(l.width) * l.samples * bytes);
        for (uint32_t y = 0; y < l.height; ++y) {
            for (uint32_t x = 0; x < l.width; ++x)
                for (uint32_t s = 0; s < l.samples; ++s)
                    put(&row[(x * l.samples + s) * bytes], sample(x, y, s));
            ok = ok && TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
        }
    }
    TIFFClose(tif);
    if (!ok)
        throw std::runtime_error("cannot write " + path);
}

// A pixmap of any type over its own zeroed buffer.
class TestPixmap
{
public:
    TestPixmap(int type, int cols, int rows, int stride = 0)
    {
        const int bpp = GetPixelTypeBytesPerPixel(type);
        m_stride = stride ? stride : cols * bpp;
        m_bytes.assign(size_t(m_stride) * size_t(rows > 0 ? rows : 1), 0);
        m_pixmap.reset(NewFPixmap(type, m_bytes.data(), cols, rows, m_stride));
    }
    FPixmap& Get() { return *m_pixmap; }
    const uint8_t* Row(int y) const { return m_bytes.data() + size_t(y) * size_t(m_stride); }
    uint8_t* MutableRow(int y) { return m_bytes.data() + size_t(y) * size_t(m_stride); }
    std::vector<uint8_t>& Bytes() { return m_bytes; }

private:
    int m_stride = 0;
    std::vector<uint8_t> m_bytes;
    std::unique_ptr<FPixmap> m_pixmap;
};

inline uint16_t U16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline uint32_t U32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

} // namespace tifftest
