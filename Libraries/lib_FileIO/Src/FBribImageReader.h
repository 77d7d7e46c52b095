#pragma once

// Reads one raw container: its header, property lists, camera-data blocks and
// the information of its image sections. Opening reads only the header; the
// section directory is read once, by the first call that needs it.

#include <cstdint>
#include <utility>

class FBribImageReaderImpl;
class FPixmap;
class FPropList;

class FBribImageReader
{
public:
    // Throws FExceptionFileNotFound, FExceptionNotABrib or FExceptionBribIncompatible
    // (message: the URL) when the file cannot be used.
    explicit FBribImageReader(const char16_t* url);
    ~FBribImageReader();
    FBribImageReader(const FBribImageReader&) = delete;
    FBribImageReader& operator=(const FBribImageReader&) = delete;

    // Header fields.
    std::pair<int, int> GetDimensions() const;
    // 16 bytes, owned by the reader.
    const unsigned char* GetUniqueID() const;
    uint32_t GetMarkBits() const;
    uint32_t GetRotation() const;
    // Null before version 2.1; always terminated within its 32 bytes.
    const char* GetWBLabel() const;
    int GetExtDataCount() const;
    int GetExtDataType(int slot) const;
    // The bits of a single-precision float.
    uint32_t GetExtDataValue(int slot) const;

    // Appends the pairs of every property section, in section order.
    void GetProperties(FPropList* list);

    int GetCamfileCount();
    // Size and kind as ReadCamfile delivers them: scrambled data is reported as kind 1.
    void GetCamfileInfo(int n, int& size, int& kind);
    // Delivers at most `max` bytes of the n-th camera-data payload; 0 when cancelled.
    // `progress` and `cancel` may be null.
    unsigned ReadCamfile(int n, void* buffer, unsigned max, double* progress, const char* cancel);

    // "IMAG" sections are numbered before "IMA2" sections.
    int GetImageCount();
    // Delivered columns and rows, pixmap type (0 when the format is not supported) and image type.
    // `reduction` (0..3) divides each side of a JPEG section by 2^reduction, as GetImage
    // delivers it then; other formats ignore it.
    void GetImageInfo(int n, int dims[2], int& pixmapType, int& imageType, int reduction = 0);
    // Decodes image n into the pixmap; false when cancelled. Defined with the image decoders.
    bool GetImage(int n, FPixmap& pixmap, double* progress, const char* cancel, int reduction = 0);

private:
    FBribImageReaderImpl* m_pImpl;
};
