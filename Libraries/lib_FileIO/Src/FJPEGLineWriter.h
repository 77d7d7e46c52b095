#pragma once

// Baseline JPEG files written row by row, with EXIF (or the same structure
// under a JFIF identifier) in APP1, an optional thumbnail inside it, an ICC
// profile in APP2 markers and an optional comment.

#include "FImageLineWriter.h"

#include <cstdint>
#include <memory>
#include <vector>

class FWideString;

// Quality indexes run from 0 to 12; others are clamped.
inline constexpr int kJPEGQualityIndexCount = 13;
inline constexpr int kJPEGThumbnailQualityIndex = 9;
inline constexpr int kMaxJPEGThumbnailSize = 160;
// Profile bytes per APP2 marker, and markers in all (the sequence number is one byte).
inline constexpr unsigned kICCBytesPerMarker = 65518;
inline constexpr unsigned kMaxICCMarkers = 255;

// libjpeg quality of a quality index (clamped to the table).
int JPEGQualityOfIndex(int qualityIndex);

class FJPEGLineWriter : public FImageLineWriter
{
public:
    // Opens a temporary file beside the destination; FExceptionFileOpen with the URL on failure.
    FJPEGLineWriter(const FWideString& url, int qualityIndex, bool exif);
    // Encodes into memory: the bytes are appended to `memory`, which must outlive
    // the writer; they form a whole file after Finish.
    FJPEGLineWriter(std::vector<uint8_t>* memory, int qualityIndex, bool exif);
    ~FJPEGLineWriter() override;
    FJPEGLineWriter(const FJPEGLineWriter&) = delete;
    FJPEGLineWriter& operator=(const FJPEGLineWriter&) = delete;

    void SetDimensions(int cols, int rows, int pixelType) override;
    void WriteTags(const FHasProperties& tags) override;
    void WriteTags(FPropList* properties) override;
    void WriteThumbnail(const FPixmap& thumbnail) override;
    void WriteProfile(unsigned size, const void* data) override;
    void WriteLine(const void* row, int pixelType) override;
    // FExceptionJPEG when rows are missing or the coder fails, FExceptionFileWrite
    // when the file cannot be completed or put in place.
    void Finish() override;

protected:
    // Builds and writes the APP1 marker.
    virtual void priWriteProperties(FPropList* properties);

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

class FJPEGImageWriter : public FImageWriter
{
public:
    FJPEGImageWriter(const FWideString& url, int qualityIndex, bool exif);
    FJPEGImageWriter(std::vector<uint8_t>* memory, int qualityIndex, bool exif);
    ~FJPEGImageWriter() override;
    FJPEGImageWriter(const FJPEGImageWriter&) = delete;
    FJPEGImageWriter& operator=(const FJPEGImageWriter&) = delete;

    void SetProfile(unsigned size, const void* data) override;
    // Pixmaps of types 1, 6 and 7.
    int WriteImage(const FPixmap& image, const FHasProperties& tags) override;

private:
    std::unique_ptr<FJPEGLineWriter> m_pWriter;
    const void* m_pProfile = nullptr;
    unsigned m_uiProfileSize = 0;
};
