#pragma once

// Reader of JPEG files (and of JPEG streams held in memory, such as the
// previews inside raw files) into pixmaps, at 1/1 to 1/8 of their size.

#include <cstddef>
#include <cstdint>
#include <memory>

class FWideString;
class FPixmap;
class FPropList;

// What one decode may spend. A picture the user opens decodes under the process's
// memory limit and the scan limit; previews and thumbnails under tighter limits, so
// that a hostile file costs little and shows as its file-type icon instead.
struct FJPEGDecodeBudget {
    int maxScans;
    // Bytes the library may hold; 0: the process's limit.
    uint64_t maxMemory;
    // Seconds from the start of the decode; 0: no limit.
    double maxSeconds;
};

// Pictures opened by the user.
inline constexpr FJPEGDecodeBudget kJPEGPictureBudget{100, 0, 0.0};
// Previews: a 24-megapixel progressive file with full-resolution colour still fits.
inline constexpr FJPEGDecodeBudget kJPEGPreviewBudget{100, uint64_t(160) << 20, 5.0};

class FJPEGImageReader
{
public:
    // Opens the file by URL and reads its header.
    explicit FJPEGImageReader(const FWideString& url);
    // Reads a stream held in memory; the bytes must outlive the reader.
    FJPEGImageReader(const uint8_t* bytes, size_t size);
    virtual ~FJPEGImageReader();
    FJPEGImageReader(const FJPEGImageReader&) = delete;
    FJPEGImageReader& operator=(const FJPEGImageReader&) = delete;

    // Read at 1 / 2^n of the full size; n is kept to 0 to 3.
    void SetScale(int n);
    // Size at the current scale; pixel type 1 (gray) or 7 (RGB).
    void GetDimensions(int& cols, int& rows, int& pixelType);
    // Adds the capture properties of the first APP1 marker when it holds EXIF,
    // ORIENTATION (1 to 8) among them.
    void GetProperties(FPropList* list);
    // Limits the decode of ReadImage, and gives it a byte that ends it once set (may be
    // null). A limit reached throws FExceptionJPEG naming it.
    void SetBudget(const FJPEGDecodeBudget& budget, const char* cancel = nullptr);
    // Decodes the image once, converting rows to the pixmap's own type.
    void ReadImage(FPixmap& image);
    // The last ReadImage threw because its cancel byte was set.
    bool Cancelled() const;
    // The file ended before the image read last did: its missing rows came out gray.
    bool EndedEarly() const;

private:
    struct State;
    std::unique_ptr<State> m_pState;
};
