#pragma once

// The two writer interfaces of the image file formats: a row-by-row writer of
// one file, and a writer of one whole pixmap.
//
// Line writer calling order: construct, SetDimensions, WriteThumbnail,
// WriteTags(FPropList*), WriteProfile, WriteLine once per row, Finish, delete.
// A file is written under a temporary name and takes the place of the
// destination only in Finish, which throws when anything failed; a writer
// deleted without a successful Finish leaves the previous file untouched.

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
    // Completes the file after the last row and puts it in place.
    virtual void Finish() = 0;
};

class FImageWriter
{
public:
    virtual ~FImageWriter() = default;
    // Remembers a profile to embed; not copied: the caller keeps it alive until WriteImage returns.
    virtual void SetProfile(unsigned size, const void* data) = 0;
    // Writes and completes the whole file (it is in place when this returns);
    // returns the number of rows written.
    virtual int WriteImage(const FPixmap& image, const FHasProperties& tags) = 0;
};
