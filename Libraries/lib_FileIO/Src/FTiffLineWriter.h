#pragma once

// An uncompressed, strip-organised TIFF written row by row: 8-bit and 16-bit
// gray, 8-bit and 16-bit RGB, and the 30-bit type stored as 8-bit RGB plus one
// extra sample of low bits. Besides the rows it stores capture tags, the tag
// set in the private tag, an EXIF directory, a thumbnail resource and an ICC
// profile; tag, thumbnail and profile calls may come at any time before
// Finish, which completes the file and puts it in place.

#include "FImageLineWriter.h"

#include <cstdint>
#include <memory>

class FBrisalTag;
class FWideString;

// The thumbnail resource's size field is 16 bits: its 40-byte head and the
// rows must fit. Larger thumbnails are reduced to fit.
inline constexpr unsigned kMaxTiffThumbnailBlock = 65535;
inline constexpr unsigned kTiffThumbnailHeadSize = 40;
// Largest width and height a writer accepts.
inline constexpr int kMaxTiffWriteDimension = 1 << 18;
// Pixel bytes a file with 32-bit offsets holds, leaving room for its tags, profile and thumbnail.
inline constexpr uint64_t kMaxTiffPixelBytes = 0xFFFFFFFFull - (64ull << 20);
// Strings of the extra-properties text of WriteTags(FPropList*).
inline constexpr int kMaxTiffExtraStrings = 100;
// Bytes of rows per strip: the library holds one strip in memory.
inline constexpr int kTiffStripBytes = 1 << 16;

class FTiffLineWriter : public FImageLineWriter
{
public:
    // Opens a temporary file beside the destination, whatever the mode flag;
    // FExceptionFileOpen with the URL when it cannot be made.
    FTiffLineWriter(const FWideString& url, bool mode);
    ~FTiffLineWriter() override;
    FTiffLineWriter(const FTiffLineWriter&) = delete;
    FTiffLineWriter& operator=(const FTiffLineWriter&) = delete;

    // Pixel types 1, 3, 7, 8 and 15.
    void SetDimensions(int cols, int rows, int pixelType) override;
    // Resolution, text tags and the tag set from a map of named properties.
    void WriteTags(const FHasProperties& tags) override;
    // Capture tags, the tag set and the EXIF directory from capture properties.
    void WriteTags(FPropList* properties) override;
    // A 24-bit RGB (type 7) pixmap; one too large for the resource is reduced.
    void WriteThumbnail(const FPixmap& thumbnail) override;
    void WriteProfile(unsigned size, const void* data) override;
    void WriteLine(const void* row, int pixelType) override;
    // FExceptionWriteUninitialized or FExceptionTIFF when rows are missing,
    // FExceptionFileWrite when the file cannot be completed or put in place.
    void Finish() override;

private:
    void priWriteTagSet(FBrisalTag& tagSet);
    void priPlaceExif();

    struct State;
    std::unique_ptr<State> m_pState;
};
