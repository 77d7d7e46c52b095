#pragma once

// The two writer interfaces of the image file formats: a row-by-row writer of
// one file, and a writer of one whole pixmap.
//
// Line writer calling order: construct, SetDimensions, WriteThumbnail,
// WriteTags(FPropList*), WriteProfile, WriteLine once per row, delete. The file
// is complete only after the destructor, which never throws.

class FHasProperties;
class FPixmap;
class FPropList;

class FImageLineWriter
{
public:
    virtual ~FImageLineWriter() = default;
    virtual void SetDimensions(int cols, int rows, int pixelType) = 0;
    virtual void WriteTags(const FHasProperties& tags) = 0;
    virtual void WriteTags(FPropList* properties) = 0;
    virtual void WriteThumbnail(const FPixmap& thumbnail) = 0;
    // An ICC profile of `size` bytes.
    virtual void WriteProfile(unsigned size, const void* data) = 0;
    // The next row, in the given pixel type.
    virtual void WriteLine(const void* row, int pixelType) = 0;
};

class FImageWriter
{
public:
    virtual ~FImageWriter() = default;
    // Remembers a profile to embed; not copied: the caller keeps it alive until WriteImage returns.
    virtual void SetProfile(unsigned size, const void* data) = 0;
    // Writes the whole image; returns the number of rows written.
    virtual int WriteImage(const FPixmap& image, const FHasProperties& tags) = 0;
};
