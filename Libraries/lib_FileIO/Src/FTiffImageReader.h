#pragma once

// Reader of TIFF files into pixmaps, at 1 / 2^n of their size, for thumbnails,
// previews and the capture properties of TIFF files. Files in strips or tiles,
// uncompressed or compressed, of 8-bit and 16-bit gray (one sample), 8-bit and
// 16-bit RGB (three samples, JPEG-compressed YCbCr included) and 8-bit RGB with
// one extra sample are read; other layouts report pixel type 0.

#include <memory>

class FWideString;
class FPixmap;
class FPropList;

// Files wider or taller than this report pixel type 0 and a size of 0 x 0.
inline constexpr unsigned kMaxTiffDimension = 1u << 18;
// Larger tiles report pixel type 0.
inline constexpr uint64_t kMaxTiffTileBytes = uint64_t(64) << 20;
// The wanted rows of one band of tiles are held at full width; a read that would
// need more than this fails.
inline constexpr uint64_t kMaxTiffBandBytes = uint64_t(256) << 20;
// Bytes of an EXIF directory and what follows it that are read for properties.
inline constexpr unsigned kMaxTiffExifBytes = 65535;

class FTiffImageReader
{
public:
    // FExceptionFileNotFound "TiffImageReader: Cannot open file '<url>'" when
    // the file cannot be opened as a TIFF.
    explicit FTiffImageReader(const FWideString& url);
    virtual ~FTiffImageReader();
    FTiffImageReader(const FTiffImageReader&) = delete;
    FTiffImageReader& operator=(const FTiffImageReader&) = delete;

    // Read at 1 / 2^n of the full size in each direction, rounding down.
    void SetScale(int n);
    // Size at the current scale and the file's native pixel type (0: unreadable).
    void GetDimensions(int& cols, int& rows, int& pixelType);
    // Adds the EXIF properties and ROWS, COLS, CAMMANUF, CAMMODEL, rpSoftware,
    // ORIENTATION (1 to 8, when the file has it) and EXIF_DATETIME; never throws.
    void GetProperties(FPropList* list);
    // A byte that ends ReadImage once set (may be null): it then throws
    // FExceptionFileRead and Cancelled() answers true.
    void SetCancel(const char* cancel);
    // Fills rows 0 to rows - 1 of the pixmap, converting to its pixel type.
    void ReadImage(FPixmap& image);
    bool Cancelled() const;

private:
    struct State;
    std::unique_ptr<State> m_pState;
};
