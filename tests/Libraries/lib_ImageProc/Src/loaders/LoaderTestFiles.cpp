#include "LoaderTestFiles.h"

#include "FJPEGLineWriter.h"
#include "FLatchStorageClass.h"
#include "FTiffLineWriter.h"
#include "StorageClassRegistry.h"
#include "TiffStoragePort.h"

#include <cstring>
#include <stdexcept>

namespace loadertest
{

FMemStorageClass& MemStorage()
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("ldrmem"));
    return *storage;
}

FWideString MemURL(const std::string& name)
{
    return FWideString(("ldrmem://" + name).c_str());
}

FWideString LatchURL(const std::string& name)
{
    return FWideString(("latch://" + name).c_str());
}

void UseLatchForMemFiles()
{
    MemStorage();
    GetLatchStorageClass().SetTarget(FWideString("ldrmem://"));
}

FWideString PutFile(const std::string& name, const rawtest::Bytes& bytes)
{
    MemStorage().PutFile(FWideString(name.c_str()), std::string(bytes.begin(), bytes.end()));
    return MemURL(name);
}

rawtest::Bytes GetFile(const std::string& name)
{
    std::string bytes;
    MemStorage().GetFileBytes(FWideString(name.c_str()), bytes);
    return rawtest::Bytes(bytes.begin(), bytes.end());
}

rawtest::Bytes MakeJPEG(int cols, int rows, bool gray)
{
    std::vector<uint8_t> memory;
    FJPEGLineWriter writer(&memory, 9, false);
    const int type = gray ? FPixmap::PIXEL_8_MONO : FPixmap::PIXEL_24_RGB;
    writer.SetDimensions(cols, rows, type);
    std::vector<uint8_t> row(size_t(cols) * (gray ? 1 : 3));
    for (int y = 0; y < rows; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = uint8_t(i * 7 + size_t(y) * 5);
        writer.WriteLine(row.data(), type);
    }
    writer.Finish();
    return rawtest::Bytes(memory.begin(), memory.end());
}

rawtest::Bytes MakeTiff(int cols, int rows)
{
    static int serial = 0;
    const std::string name = "made-" + std::to_string(++serial) + ".tif";
    {
        FTiffLineWriter writer(MemURL(name), false);
        writer.SetDimensions(cols, rows, FPixmap::PIXEL_24_RGB);
        std::vector<uint8_t> row(size_t(cols) * 3);
        for (int y = 0; y < rows; ++y) {
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = uint8_t(i + size_t(y) * 11);
            writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
        }
        writer.Finish();
    }
    return GetFile(name);
}

const uint8_t* CornerColour(Corner corner)
{
    static const uint8_t kColours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    return kColours[corner];
}

Corner NearestCorner(int r, int g, int b)
{
    Corner best = kTopLeft;
    int bestDistance = 1 << 30;
    for (Corner c : {kTopLeft, kTopRight, kBottomLeft, kBottomRight}) {
        const uint8_t* k = CornerColour(c);
        const int d = (r - k[0]) * (r - k[0]) + (g - k[1]) * (g - k[1]) + (b - k[2]) * (b - k[2]);
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
    }
    return best;
}

namespace
{

uint32_t CornerSample(int x, int y, int s, int cols, int rows)
{
    const bool right = x >= cols / 2;
    const bool bottom = y >= rows / 2;
    const Corner corner = bottom ? (right ? kBottomRight : kBottomLeft) : (right ? kTopRight : kTopLeft);
    return CornerColour(corner)[s];
}

} // namespace

rawtest::Bytes MakeCornerJPEG(int cols, int rows, int orientation)
{
    std::vector<uint8_t> memory;
    FJPEGLineWriter writer(&memory, 11, false);
    writer.SetDimensions(cols, rows, FPixmap::PIXEL_24_RGB);
    std::vector<uint8_t> row(size_t(cols) * 3);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x)
            for (int s = 0; s < 3; ++s)
                row[size_t(x) * 3 + size_t(s)] = uint8_t(CornerSample(x, y, s, cols, rows));
        writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
    }
    writer.Finish();
    if (orientation == 0)
        return rawtest::Bytes(memory.begin(), memory.end());
    // APP1: "Exif", a little-endian TIFF header and a first directory of one entry,
    // the orientation (tag 274, SHORT, one value).
    const uint8_t app1[] = {0xFF,
                            0xE1,
                            0,
                            34,
                            'E',
                            'x',
                            'i',
                            'f',
                            0,
                            0,
                            'I',
                            'I',
                            42,
                            0,
                            8,
                            0,
                            0,
                            0,
                            1,
                            0,
                            0x12,
                            0x01,
                            3,
                            0,
                            1,
                            0,
                            0,
                            0,
                            uint8_t(orientation),
                            0,
                            0,
                            0,
                            0,
                            0,
                            0,
                            0};
    rawtest::Bytes bytes(memory.begin(), memory.end());
    bytes.insert(bytes.begin() + 2, std::begin(app1), std::end(app1));
    return bytes;
}

uint32_t TiffSample(int x, int y, int s)
{
    return uint32_t((x * 997 + y * 1499 + s * 7919) ^ (x * y * 13)) & 0xFFFF;
}

rawtest::Bytes MakeTiffWith(int cols, int rows, const TiffOptions& o)
{
    static int serial = 0;
    const std::string name = "with-" + std::to_string(++serial) + ".tif";
    MemStorage();
    TIFF* tif = TIFFOpenURL(MemURL(name), "w");
    if (!tif)
        throw std::runtime_error("cannot create " + name);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(cols));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(rows));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(o.bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(o.photometric));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(o.compression));
    if (o.compression == COMPRESSION_JPEG && o.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (o.orientation != 0)
        TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(o.orientation));
    if (o.rowsPerStrip > 0)
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(o.rowsPerStrip));
    const size_t bytes = size_t(o.bits / 8);
    auto put = [&](uint8_t* p, int x, int y, int s) {
        const uint32_t v =
            o.corners ? CornerSample(x, y, s, cols, rows) * (bytes == 2 ? 257u : 1u) : TiffSample(x, y, s);
        if (bytes == 2) {
            const uint16_t w = uint16_t(v);
            std::memcpy(p, &w, 2);
        } else {
            *p = uint8_t(v);
        }
    };
    bool ok = true;
    if (o.tile > 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(o.tile));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(o.tile));
        std::vector<uint8_t> tile(size_t(TIFFTileSize(tif)));
        for (int ty = 0; ty < rows; ty += o.tile)
            for (int tx = 0; tx < cols; tx += o.tile) {
                for (int y = 0; y < o.tile; ++y)
                    for (int x = 0; x < o.tile; ++x)
                        for (int s = 0; s < 3; ++s)
                            put(&tile[(size_t(y * o.tile + x) * 3 + size_t(s)) * bytes], tx + x, ty + y, s);
                ok = ok && TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0, 0) >= 0;
            }
    } else {
        std::vector<uint8_t> row(size_t(cols) * 3 * bytes);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x)
                for (int s = 0; s < 3; ++s)
                    put(&row[(size_t(x) * 3 + size_t(s)) * bytes], x, y, s);
            ok = ok && TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0;
        }
    }
    TIFFClose(tif);
    if (!ok)
        throw std::runtime_error("cannot write " + name);
    return GetFile(name);
}

uint8_t PreviewByte(int x, int y)
{
    return uint8_t(x + 3 * y);
}

rawtest::Bytes MakeRaw(const RawOptions& options)
{
    rawtest::BribFileBuilder file(options.version);
    rawtest::BribHeader& header = file.GetHeader();
    header.columns = options.columns;
    header.rows = options.rows;
    header.rotation = options.rotation;
    for (size_t i = 0; i < header.uniqueId.size(); ++i)
        header.uniqueId[i] = uint8_t(0x0F + 0x11 * i);
    header.SetLabel(options.label);
    for (const auto& [slot, type, value] : options.slots)
        header.SetExtData(slot, type, value);
    if (!options.properties.empty())
        file.Top().AddProperties(options.properties, file.Top().version);
    if (options.camfileKind >= 0) {
        rawtest::CamfileSection camfile;
        camfile.version = file.Top().version;
        camfile.kind = uint32_t(options.camfileKind);
        for (size_t i = 0; i < options.camfileSize; ++i)
            camfile.payload.push_back(uint8_t(i * 13));
        file.Top().AddCamfile(camfile);
    }
    if (options.previewCols > 0) {
        rawtest::ImageSection preview;
        preview.version = file.Top().version;
        preview.imageType = 2;
        preview.pixelFormat = 3;
        preview.columns = uint32_t(options.previewCols);
        preview.rows = uint32_t(options.previewRows);
        preview.rowSize = uint32_t(options.previewCols * 3);
        for (int y = 0; y < options.previewRows; ++y) {
            for (int x = 0; x < options.previewCols * 3; ++x)
                preview.payload.push_back(PreviewByte(x, y));
        }
        file.Top().AddImage(preview);
    }
    return file.Build();
}

OwnedPixmap::OwnedPixmap(int type, int cols, int rows)
    : m_bytes(size_t(cols) * size_t(rows) * size_t(GetPixelTypeBytesPerPixel(type)), 0xEE),
      m_pPixmap(NewFPixmap(type, m_bytes.data(), cols, rows, cols * GetPixelTypeBytesPerPixel(type)))
{
}

} // namespace loadertest
