#pragma once

// Small JPEG, TIFF and raw container files for the loader and retriever tests, kept
// in the in-memory storage class "ldrmem" and reachable through the latch class.

#include "BribFileBuilder.h"
#include "FMemStorageClass.h"
#include "FPixmap.h"

#include <memory>
#include <string>
#include <vector>

namespace loadertest
{

FMemStorageClass& MemStorage();
// "ldrmem://<name>"; the latch class reaches the same file as "latch://<name>".
FWideString PutFile(const std::string& name, const rawtest::Bytes& bytes);
rawtest::Bytes GetFile(const std::string& name);
FWideString MemURL(const std::string& name);
FWideString LatchURL(const std::string& name);
// Points the latch class at the in-memory files.
void UseLatchForMemFiles();

// A gradient image, 8-bit gray or RGB.
rawtest::Bytes MakeJPEG(int cols, int rows, bool gray);
rawtest::Bytes MakeTiff(int cols, int rows);

// A TIFF written by libtiff itself in a layout the program's writer never makes.
struct TiffOptions {
    int compression = 1;  // libtiff's codes: 1 none, 5 LZW, 7 JPEG, 8 Deflate
    int photometric = 2;  // 2 RGB, 6 YCbCr (JPEG only)
    int bits = 8;         // 8 or 16 a sample
    int rowsPerStrip = 0; // 0: the library's default
    int tile = 0;         // square tiles of this side instead of strips
    int orientation = 0;  // written when not 0
    bool corners = false; // the four-quadrant picture of CornerColour instead of TiffSample
};
// Sample s of pixel (x, y) is TiffSample(x, y, s), kept to the file's bits.
rawtest::Bytes MakeTiffWith(int cols, int rows, const TiffOptions& options);
uint32_t TiffSample(int x, int y, int s);

// Pictures whose four quadrants differ, to see which way a picture is shown.
enum Corner { kTopLeft, kTopRight, kBottomLeft, kBottomRight };
// Red, green, blue and yellow, 8 bits a channel.
const uint8_t* CornerColour(Corner corner);
// The quadrant whose colour is nearest to these 8-bit channels.
Corner NearestCorner(int r, int g, int b);
// The four-quadrant picture as a JPEG with an EXIF orientation tag (none when 0).
rawtest::Bytes MakeCornerJPEG(int cols, int rows, int orientation);

struct RawOptions {
    uint32_t version = rawtest::kVersion22;
    uint32_t columns = 2268;
    uint32_t rows = 1512;
    uint32_t rotation = 0;
    std::string label;
    std::vector<std::pair<std::string, std::string>> properties;
    // slot, type, value
    std::vector<std::tuple<int, uint8_t, float>> slots;
    // An RGB preview section of image type 2 (kind code 4) of this size; 0 leaves it out.
    int previewCols = 16;
    int previewRows = 8;
    // Camera-data sections: kind 0 (plain) and kind 1 (CAMb), or none (-1).
    int camfileKind = 0;
    size_t camfileSize = 64;
};
rawtest::Bytes MakeRaw(const RawOptions& options);
// The preview pixels MakeRaw stores: byte i of row y is (i + 3 * y) & 255.
uint8_t PreviewByte(int x, int y);

// A pixmap over its own buffer.
struct OwnedPixmap {
    OwnedPixmap(int type, int cols, int rows);
    std::vector<uint8_t> m_bytes;
    std::unique_ptr<FPixmap> m_pPixmap;
};

} // namespace loadertest
