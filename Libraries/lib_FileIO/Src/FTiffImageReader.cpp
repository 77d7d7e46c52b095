#include "FTiffImageReader.h"

#include "ExifReader.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FReadSignals.h"
#include "FRowFormatConverters.h"
#include "FWideString.h"
#include "ImagePropKeys.h"
#include "PixelRowConverters.h"
#include "TiffPixelRows.h"
#include "TiffStoragePort.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace
{

// The EXIF walk addresses the window by file offsets from a buffer that starts
// at the file's first byte; only the window's pages are ever written, so the
// bytes before it cost address space, not memory. Directories further into the
// file than this are skipped.
constexpr uint64_t kMaxExifWindowEnd = uint64_t(1) << 30;

int NativeBytesPerPixel(int type)
{
    return type == 0 ? 0 : GetPixelTypeBytesPerPixel(type);
}

void Row16MonoTo8Mono(unsigned count, const void* src, void* dst)
{
    const uint16_t* s = static_cast<const uint16_t*>(src);
    uint8_t* d = static_cast<uint8_t*>(dst);
    for (unsigned i = 0; i < count; ++i)
        d[i] = uint8_t(s[i] >> 8);
}

void Row16MonoTo12Mono(unsigned count, const void* src, void* dst)
{
    const uint16_t* s = static_cast<const uint16_t*>(src);
    uint16_t* d = static_cast<uint16_t*>(dst);
    for (unsigned i = 0; i < count; ++i)
        d[i] = uint16_t(s[i] >> 4);
}

void Row16MonoTo32Mono(unsigned count, const void* src, void* dst)
{
    const uint16_t* s = static_cast<const uint16_t*>(src);
    uint32_t* d = static_cast<uint32_t*>(dst);
    for (unsigned i = 0; i < count; ++i)
        d[i] = uint32_t(s[i] >> 4);
}

template <int R, int G, int B, int A>
void Row24RGBTo32(unsigned count, const void* src, void* dst)
{
    const uint8_t* s = static_cast<const uint8_t*>(src);
    uint8_t* d = static_cast<uint8_t*>(dst);
    for (unsigned i = 0; i < count; ++i, s += 3, d += 4) {
        d[R] = s[0];
        d[G] = s[1];
        d[B] = s[2];
        d[A] = 255;
    }
}

[[noreturn]] void ThrowUnknownDestination()
{
    throw FExceptionUnknownPixelType("Unknown dest pixel type");
}

FRowConverter MonoConverter(int destination)
{
    switch (destination) {
    case FPixmap::PIXEL_8_MONO:
        return Row16MonoTo8Mono;
    case FPixmap::PIXEL_12_MONO:
        return Row16MonoTo12Mono;
    case FPixmap::PIXEL_16_MONO:
    case FPixmap::PIXEL_16S_MONO:
        return ConvertRow16MonoTo16Mono;
    case FPixmap::PIXEL_32_MONO:
        return Row16MonoTo32Mono;
    }
    ThrowUnknownDestination();
}

FRowConverter From24RGB(int destination)
{
    switch (destination) {
    case FPixmap::PIXEL_32_ABGR:
        return Row24RGBTo32<3, 2, 1, 0>;
    case FPixmap::PIXEL_32_RGBA:
        return Row24RGBTo32<0, 1, 2, 3>;
    case FPixmap::PIXEL_32_BGRA:
    case FPixmap::PIXEL_48_BGR:
        return GetRowConverter(FPixmap::PIXEL_24_RGB, destination);
    case FPixmap::PIXEL_48_RGB:
    case FPixmap::PIXEL_48S_RGB:
        return ConvertPixels24To48;
    }
    return tiffrows::GetShiftConverter(FPixmap::PIXEL_24_RGB, destination);
}

FRowConverter From30RGBL(int destination)
{
    switch (destination) {
    case FPixmap::PIXEL_24_BGR:
        return ConvertRow30RGBLTo24BGR;
    case FPixmap::PIXEL_24_RGB:
        return ConvertRow30RGBLTo24RGB;
    case FPixmap::PIXEL_30_RGBL:
        return ConvertRow30RGBLTo30RGBL;
    case FPixmap::PIXEL_30_RGB:
        return ConvertRow30RGBLTo30RGB;
    case FPixmap::PIXEL_32_ARGB:
        return ConvertRow30RGBLTo32ARGB;
    case FPixmap::PIXEL_32_ABGR:
        return ConvertRow30RGBLTo32ABGR;
    case FPixmap::PIXEL_32_RGBA:
        return ConvertRow30RGBLTo32RGBA;
    case FPixmap::PIXEL_48S_RGB:
        return GetRowConverter(FPixmap::PIXEL_30_RGBL, FPixmap::PIXEL_48_RGB);
    }
    return GetRowConverter(FPixmap::PIXEL_30_RGBL, destination);
}

FRowConverter From48RGB(int destination)
{
    switch (destination) {
    case FPixmap::PIXEL_24_BGR:
        return ConvertRow48RGBTo24BGR;
    case FPixmap::PIXEL_24_RGB:
        return ConvertRow48RGBTo24RGB;
    case FPixmap::PIXEL_30_RGBL:
        return ConvertRow48RGBTo30RGBL;
    case FPixmap::PIXEL_30_RGB:
        return ConvertRow48RGBTo30RGB;
    case FPixmap::PIXEL_32_ARGB:
        return ConvertRow48RGBTo32ARGB;
    case FPixmap::PIXEL_32_ABGR:
        return ConvertRow48RGBTo32ABGR;
    case FPixmap::PIXEL_32_RGBA:
        return ConvertRow48RGBTo32RGBA;
    case FPixmap::PIXEL_48_RGB:
    case FPixmap::PIXEL_48S_RGB:
        return ConvertPixels48To48;
    }
    return GetRowConverter(FPixmap::PIXEL_48_RGB, destination);
}

// The converter from a native type into a destination type; throws for pairs
// the reader does not convert.
FRowConverter ReaderConverter(int native, int destination)
{
    if (native == FPixmap::PIXEL_16_MONO)
        return MonoConverter(destination);
    if (native != FPixmap::PIXEL_24_RGB && native != FPixmap::PIXEL_30_RGBL &&
        native != FPixmap::PIXEL_48_RGB)
        throw FExceptionUnknownPixelType("TiffReader: Unknown destination pixel type");
    if (destination < FPixmap::PIXEL_24_BGR || destination > FPixmap::PIXEL_48_BGR)
        ThrowUnknownDestination();
    if (destination == FPixmap::PIXEL_30_BGRL)
        return ConvertRowNotImplemented;
    FRowConverter converter = native == FPixmap::PIXEL_24_RGB    ? From24RGB(destination)
                              : native == FPixmap::PIXEL_30_RGBL ? From30RGBL(destination)
                                                                 : From48RGB(destination);
    if (!converter)
        ThrowUnknownDestination();
    return converter;
}

// Output pixel x becomes the mean of file pixels x s to x s + s - 1, in place.
template <typename Sample, int Channels>
void AverageRun(uint8_t* row, int cols, int scale)
{
    for (int x = 0; x < cols; ++x) {
        uint64_t sums[Channels] = {};
        for (int k = 0; k < scale; ++k) {
            Sample pixel[Channels];
            std::memcpy(pixel, row + (size_t(x) * scale + k) * sizeof(pixel), sizeof(pixel));
            for (int c = 0; c < Channels; ++c)
                sums[c] += pixel[c];
        }
        Sample mean[Channels];
        for (int c = 0; c < Channels; ++c)
            mean[c] = Sample(sums[c] / uint64_t(scale));
        std::memcpy(row + size_t(x) * sizeof(mean), mean, sizeof(mean));
    }
}

void Average30RGBL(uint8_t* row, int cols, int scale)
{
    for (int x = 0; x < cols; ++x) {
        uint64_t r = 0;
        uint64_t g = 0;
        uint64_t b = 0;
        for (int k = 0; k < scale; ++k) {
            const FIntRGB t = GetPixelRGB<FPixelClass30RGBL>(row + (size_t(x) * scale + k) * 4);
            r += uint64_t(t.r);
            g += uint64_t(t.g);
            b += uint64_t(t.b);
        }
        SetPixelRGB3<FPixelClass30RGBL>(row + size_t(x) * 4, int32_t(r / scale), int32_t(g / scale),
                                        int32_t(b / scale));
    }
}

void AverageRow(int native, uint8_t* row, int cols, int scale)
{
    switch (native) {
    case FPixmap::PIXEL_16_MONO:
        return AverageRun<uint16_t, 1>(row, cols, scale);
    case FPixmap::PIXEL_24_RGB:
        return AverageRun<uint8_t, 3>(row, cols, scale);
    case FPixmap::PIXEL_30_RGBL:
        return Average30RGBL(row, cols, scale);
    case FPixmap::PIXEL_48_RGB:
        return AverageRun<uint16_t, 3>(row, cols, scale);
    }
    throw FExceptionUnknownPixelType("TiffReader:Scaling: Unknown source pixel type");
}

bool CanAverage(int native)
{
    return native == FPixmap::PIXEL_16_MONO || native == FPixmap::PIXEL_24_RGB ||
           native == FPixmap::PIXEL_30_RGBL || native == FPixmap::PIXEL_48_RGB;
}

// The native type from the layout tags. Exactly the sample counts of each
// layout are accepted, so that a straight scanline read never writes more than
// one pixmap row.
int NativeType(uint16_t photometric, uint16_t samples, uint16_t bits, uint16_t extra)
{
    if (photometric == PHOTOMETRIC_MINISBLACK && samples == 1 && extra == 0) {
        if (bits == 8)
            return FPixmap::PIXEL_8_MONO;
        if (bits == 16)
            return FPixmap::PIXEL_16_MONO;
        return 0;
    }
    if (photometric != PHOTOMETRIC_RGB)
        return 0;
    if (samples == 3 && extra == 0) {
        if (bits == 8)
            return FPixmap::PIXEL_24_RGB;
        if (bits == 16)
            return FPixmap::PIXEL_48_RGB;
        return 0;
    }
    if (samples == 4 && extra == 1 && bits == 8)
        return FPixmap::PIXEL_30_RGBL;
    return 0;
}

} // namespace

struct FTiffImageReader::State {
    TIFF* tif = nullptr;
    FWideString url;
    uint64_t scanlineSize = 0;
    uint16_t bitsPerSample = 0;
    uint16_t samplesPerPixel = 0;
    uint16_t extraSamples = 0;
    uint16_t compression = 0;
    uint16_t photometric = 0;
    uint16_t planarConfig = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t readableWidth = 0; // 0 x 0 for files over the size cap
    uint32_t readableHeight = 0;
    uint32_t rowsPerStrip = 0;
    bool tiled = false;
    uint32_t tileWidth = 0;
    uint32_t tileLength = 0;
    int cols = 0;
    int rows = 0;
    int nativeType = 0;
    std::vector<uint8_t> buffer; // one file row, made on the first row that needs it
    int scale = 1;
    const char* cancel = nullptr;
    bool cancelled = false;

    void CheckCancel()
    {
        if (!ReadCancelled(cancel))
            return;
        cancelled = true;
        throw FExceptionFileRead("TiffImageReader: the read was cancelled");
    }

    // Output row i from one file row in the native type (full width).
    void EmitRow(int i, uint8_t* fileRow, FPixmap& image, FRowConverter converter) const;
    void ReadStrips(FPixmap& image, bool straight, FRowConverter converter);
    void ReadTiles(FPixmap& image, FRowConverter converter);
};

FTiffImageReader::FTiffImageReader(const FWideString& url) : m_pState(std::make_unique<State>())
{
    State& s = *m_pState;
    s.url = url;
    s.tif = TIFFOpenURL(url, "r");
    if (!s.tif)
        throw FExceptionFileNotFound(
            FNarrowString("TiffImageReader: Cannot open file '%s'", url.GetNarrow()).GetCString());

    TIFFGetField(s.tif, TIFFTAG_IMAGELENGTH, &s.height);
    TIFFGetField(s.tif, TIFFTAG_IMAGEWIDTH, &s.width);
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_BITSPERSAMPLE, &s.bitsPerSample);
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_SAMPLESPERPIXEL, &s.samplesPerPixel);
    uint16_t* extraKinds = nullptr;
    if (!TIFFGetFieldDefaulted(s.tif, TIFFTAG_EXTRASAMPLES, &s.extraSamples, &extraKinds))
        s.extraSamples = 0;
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_COMPRESSION, &s.compression);
    TIFFGetField(s.tif, TIFFTAG_PHOTOMETRIC, &s.photometric);
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_PLANARCONFIG, &s.planarConfig);
    // JPEG-compressed colour is usually stored as YCbCr; the codec hands it out as RGB.
    if (s.compression == COMPRESSION_JPEG && s.photometric == PHOTOMETRIC_YCBCR &&
        TIFFSetField(s.tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
        s.photometric = PHOTOMETRIC_RGB;
    s.scanlineSize = uint64_t(TIFFScanlineSize64(s.tif));
    s.tiled = TIFFIsTiled(s.tif) != 0;
    if (s.tiled) {
        TIFFGetField(s.tif, TIFFTAG_TILEWIDTH, &s.tileWidth);
        TIFFGetField(s.tif, TIFFTAG_TILELENGTH, &s.tileLength);
    } else {
        TIFFGetFieldDefaulted(s.tif, TIFFTAG_ROWSPERSTRIP, &s.rowsPerStrip);
    }

    s.nativeType = NativeType(s.photometric, s.samplesPerPixel, s.bitsPerSample, s.extraSamples);
    const uint64_t pixelBytes = uint64_t(NativeBytesPerPixel(s.nativeType));
    const bool sizeOk =
        s.width > 0 && s.height > 0 && s.width <= kMaxTiffDimension && s.height <= kMaxTiffDimension;
    if (!sizeOk) {
        s.nativeType = 0;
    } else if (s.planarConfig == PLANARCONFIG_CONTIG && s.scanlineSize != uint64_t(s.width) * pixelBytes) {
        s.nativeType = 0;
    } else if (s.tiled && s.planarConfig == PLANARCONFIG_CONTIG &&
               (s.tileWidth == 0 || s.tileLength == 0 ||
                uint64_t(s.tileWidth) * s.tileLength * pixelBytes > kMaxTiffTileBytes ||
                uint64_t(TIFFTileRowSize64(s.tif)) != uint64_t(s.tileWidth) * pixelBytes)) {
        s.nativeType = 0;
    }
    if (sizeOk) {
        s.readableWidth = s.width;
        s.readableHeight = s.height;
    }
    SetScale(0);
}

FTiffImageReader::~FTiffImageReader()
{
    if (m_pState->tif)
        TIFFClose(m_pState->tif);
}

void FTiffImageReader::SetScale(int n)
{
    State& s = *m_pState;
    s.scale = 1 << std::clamp(n, 0, 30);
    s.cols = int(s.readableWidth / uint32_t(s.scale));
    s.rows = int(s.readableHeight / uint32_t(s.scale));
}

void FTiffImageReader::GetDimensions(int& cols, int& rows, int& pixelType)
{
    cols = m_pState->cols;
    rows = m_pState->rows;
    pixelType = m_pState->nativeType;
}

void FTiffImageReader::State::EmitRow(int i, uint8_t* fileRow, FPixmap& image, FRowConverter converter) const
{
    uint8_t* out = image.GetRowAddress(i);
    if (scale > 1)
        AverageRow(nativeType, fileRow, cols, scale);
    if (converter)
        converter(unsigned(cols), fileRow, out);
    else
        std::memcpy(out, fileRow, size_t(cols) * size_t(NativeBytesPerPixel(nativeType)));
}

void FTiffImageReader::State::ReadStrips(FPixmap& image, bool straight, FRowConverter converter)
{
    // A compressed strip decodes from its first row on: rows inside it are read in order,
    // never skipped. Strips holding no wanted row are not decoded at all.
    const bool randomAccess = compression == COMPRESSION_NONE;
    const uint32_t strip = rowsPerStrip == 0 ? height : std::min(rowsPerStrip, height);
    uint32_t next = 0; // the row the library reads next without going back
    for (int i = 0; i < rows; ++i) {
        const uint32_t fileRow = uint32_t(i) * uint32_t(scale);
        CheckCancel();
        uint8_t* target = straight ? image.GetRowAddress(i) : buffer.data();
        if (!randomAccess) {
            const uint32_t stripStart = fileRow - fileRow % strip;
            for (uint32_t r = std::max(next, stripStart); r < fileRow; ++r) {
                if (TIFFReadScanline(tif, target, r, 0) < 0)
                    throw FExceptionFileRead(
                        FNarrowString("TIFFReadScanline failed at row %d", int(r)).GetCString());
            }
        }
        if (TIFFReadScanline(tif, target, fileRow, 0) < 0)
            throw FExceptionFileRead(
                FNarrowString("TIFFReadScanline failed at row %d", int(fileRow)).GetCString());
        next = fileRow + 1;
        if (!straight)
            EmitRow(i, target, image, converter);
    }
}

void FTiffImageReader::State::ReadTiles(FPixmap& image, FRowConverter converter)
{
    const size_t pixelBytes = size_t(NativeBytesPerPixel(nativeType));
    const size_t rowBytes = size_t(width) * pixelBytes;
    const size_t tileRowBytes = size_t(tileWidth) * pixelBytes;
    // The wanted rows of one band of tiles, at full width.
    const uint64_t bandRows = std::min<uint64_t>(uint64_t(tileLength) / uint64_t(scale) + 1, uint64_t(rows));
    if (bandRows * rowBytes > kMaxTiffBandBytes)
        throw FExceptionTIFF("TiffImageReader: the tiles are too large to read");
    std::vector<uint8_t> band(size_t(bandRows) * rowBytes);
    std::vector<uint8_t> tile(size_t(uint64_t(tileWidth) * tileLength * pixelBytes));
    int i = 0;
    for (uint32_t top = 0; top < height && i < rows; top += tileLength) {
        const uint32_t bottom = std::min(height, top + tileLength);
        const int first = i;
        int end = first;
        while (end < rows && uint32_t(end) * uint32_t(scale) < bottom)
            ++end;
        if (end == first)
            continue;
        for (uint32_t left = 0; left < width; left += tileWidth) {
            CheckCancel();
            // Bounded by our buffer, whatever size the library computes for a tile.
            if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, 0), tile.data(),
                                    tmsize_t(tile.size())) < 0)
                throw FExceptionFileRead(
                    FNarrowString("TIFFReadTile failed at row %d, column %d", int(top), int(left))
                        .GetCString());
            const size_t bytes = size_t(std::min(tileWidth, width - left)) * pixelBytes;
            for (int k = first; k < end; ++k) {
                const uint32_t inTile = uint32_t(k) * uint32_t(scale) - top;
                std::memcpy(band.data() + size_t(k - first) * rowBytes + size_t(left) * pixelBytes,
                            tile.data() + size_t(inTile) * tileRowBytes, bytes);
            }
        }
        for (int k = first; k < end; ++k)
            EmitRow(k, band.data() + size_t(k - first) * rowBytes, image, converter);
        i = end;
    }
}

void FTiffImageReader::ReadImage(FPixmap& image)
{
    State& s = *m_pState;
    s.cancelled = false;
    if (image.GetCols() < s.cols || image.GetRows() < s.rows)
        throw FExceptionPixmapTooSmall("");
    const int destination = image.GetPixelType();
    const int64_t destinationRow = int64_t(s.cols) * GetPixelTypeBytesPerPixel(destination);
    if (std::llabs(int64_t(image.GetStride())) < destinationRow)
        throw FExceptionPixmapTooSmall("");
    if (s.rows == 0)
        return;

    if (s.planarConfig != PLANARCONFIG_CONTIG)
        throw FExceptionUnknownPixelType("Tiff planar config is not contiguous");
    if (s.scale > 1 && !CanAverage(s.nativeType))
        throw FExceptionUnknownPixelType("TiffReader:Scaling: Unknown source pixel type");
    const bool straight = destination == s.nativeType && s.scale == 1;
    FRowConverter converter = nullptr;
    if (!straight) {
        if (s.nativeType == FPixmap::PIXEL_8_MONO || s.nativeType == 0)
            throw FExceptionUnknownPixelType("TiffReader: Unknown destination pixel type");
        converter = destination == s.nativeType ? nullptr : ReaderConverter(s.nativeType, destination);
    }
    if (s.tiled) {
        if (s.nativeType == 0)
            throw FExceptionUnknownPixelType("TiffReader: Unknown destination pixel type");
        s.ReadTiles(image, converter);
        return;
    }
    if (!straight && s.buffer.empty())
        s.buffer.resize(size_t(s.scanlineSize));
    s.ReadStrips(image, straight, converter);
}

void FTiffImageReader::SetCancel(const char* cancel)
{
    m_pState->cancel = cancel;
}

bool FTiffImageReader::Cancelled() const
{
    return m_pState->cancelled;
}

void FTiffImageReader::GetProperties(FPropList* list)
{
    if (!list)
        return;
    State& s = *m_pState;

    uint64_t exifOffset = 0;
    if (TIFFGetField(s.tif, TIFFTAG_EXIFIFD, &exifOffset) && exifOffset > 0) {
        try {
            thandle_t client = TIFFClientdata(s.tif);
            const uint64_t size = TIFFGetSizeProc(s.tif)(client);
            // An offset at or past the end holds nothing to read.
            if (exifOffset < size) {
                const uint64_t count = std::min<uint64_t>(size - exifOffset, kMaxTiffExifBytes);
                const uint64_t end = exifOffset + count;
                if (end > kMaxExifWindowEnd) {
                    DebugTrace("TiffImageReader: EXIF directory at %llu skipped.\n",
                               static_cast<unsigned long long>(exifOffset));
                } else {
                    std::unique_ptr<uint8_t[]> bytes(new uint8_t[end]);
                    TIFFSeekProc seek = TIFFGetSeekProc(s.tif);
                    const toff_t saved = seek(client, 0, SEEK_CUR);
                    uint64_t got = 0;
                    if (seek(client, exifOffset, SEEK_SET) == exifOffset) {
                        TIFFReadWriteProc read = TIFFGetReadProc(s.tif);
                        while (got < count) {
                            const tmsize_t n =
                                read(client, bytes.get() + exifOffset + got, tmsize_t(count - got));
                            if (n <= 0)
                                break;
                            got += uint64_t(n);
                        }
                    }
                    seek(client, saved, SEEK_SET);
                    if (got > 0)
                        ReadExif(bytes.get(), unsigned(exifOffset), unsigned(exifOffset + got),
                                 unsigned(exifOffset), TIFFIsBigEndian(s.tif) != 0, list);
                }
            }
        } catch (...) {
            // Properties are a courtesy: a damaged directory adds what it reached.
        }
    }

    try {
        list->AddProp("ROWS", FNarrowString("%u", s.height).GetCString());
        list->AddProp("COLS", FNarrowString("%u", s.width).GetCString());
        const struct {
            ttag_t tag;
            const char* name;
        } texts[] = {
            {TIFFTAG_MAKE, "CAMMANUF"}, {TIFFTAG_MODEL, "CAMMODEL"}, {TIFFTAG_SOFTWARE, propkey::kSoftware}};
        for (const auto& t : texts) {
            char* value = nullptr;
            if (TIFFGetField(s.tif, t.tag, &value) && value)
                list->AddProp(t.name, value);
        }
        uint16_t orientation = 0;
        if (TIFFGetField(s.tif, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8)
            list->SetInt(FWideString("ORIENTATION"), int(orientation));
        char* date = nullptr;
        if (TIFFGetField(s.tif, TIFFTAG_DATETIME, &date) && date) {
            if (const unsigned time = ParseExifDateTime(date))
                list->SetInt(FWideString("EXIF_DATETIME"), int(time));
        }
    } catch (...) {
    }
}
