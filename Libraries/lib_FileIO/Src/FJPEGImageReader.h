#pragma once

// Reader of JPEG files (and of JPEG streams held in memory, such as the
// previews inside raw files) into pixmaps, at 1/1 to 1/8 of their size.

#include <cstddef>
#include <cstdint>
#include <memory>

class FWideString;
class FPixmap;
class FPropList;

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
    // Adds the capture properties of the first APP1 marker when it holds EXIF.
    void GetProperties(FPropList* list);
    // Decodes the image once, converting rows to the pixmap's own type.
    void ReadImage(FPixmap& image);
    // The file ended before the image read last did: its missing rows came out gray.
    bool EndedEarly() const;

private:
    struct State;
    std::unique_ptr<State> m_pState;
};
