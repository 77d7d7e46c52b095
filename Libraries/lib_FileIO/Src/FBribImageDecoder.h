#pragma once

// Decoding of the pixel payload of one image section into a pixmap. The reader
// finds the section and its head; these decoders only see the payload, through
// FBribPayload, which keeps every read inside it.

#include <cstddef>
#include <cstdint>

class FIFile;
class FPixmap;
struct BribImageHead;

// Pixel formats with a name of their own.
inline constexpr int kBribPixelJPEG = 18;
inline constexpr int kBribPixelHuffmanM4 = 30;

// The bytes of one payload: a range of a storage file, or of memory. Positions
// are counted from the payload's start; a read past its end throws FExceptionEOF.
class FBribPayload
{
public:
    FBribPayload(FIFile* file, uint64_t start, uint64_t size);
    FBribPayload(const uint8_t* bytes, size_t size);

    uint64_t GetSize() const { return m_uiSize; }
    uint64_t Tell() const { return m_uiPosition; }
    void Seek(uint64_t position);
    // Exactly n bytes.
    void Read(void* buffer, size_t n);
    // At most n bytes, fewer near the end of the payload.
    size_t ReadSome(void* buffer, size_t n);
    // The payload's bytes when it lies in memory, else null.
    const uint8_t* GetBytes() const { return m_pBytes; }

private:
    FIFile* m_pFile = nullptr;
    const uint8_t* m_pBytes = nullptr;
    uint64_t m_uiStart = 0;
    uint64_t m_uiSize = 0;
    uint64_t m_uiPosition = 0;
};

class FBribImageDecoder
{
public:
    // Checks the pixmap against the head (size, pixel type) and runs the decoder
    // of the head's pixel format; false when cancelled. `progress` and `cancel`
    // may be null. The Huffman formats spread their rows or planes over `threads`
    // threads (0: one per processor) with a result that does not depend on the count.
    // A JPEG section is decoded with each side divided by 2^reduction (0..3); other
    // formats ignore it.
    static bool Decode(FBribPayload& payload, const BribImageHead& head, FPixmap& pixmap, double* progress,
                       const char* cancel, int threads = 0, int reduction = 0);

    static bool ReadImageFixedLineLength(FBribPayload& payload, const BribImageHead& head, FPixmap& pixmap,
                                         double* progress, const char* cancel);
    static bool ReadImageVariableLineLength(FBribPayload& payload, const BribImageHead& head, FPixmap& pixmap,
                                            double* progress, const char* cancel, int threads = 0);
    static bool priReadImageHuffmanM4(FBribPayload& payload, const BribImageHead& head, FPixmap& pixmap,
                                      double* progress, const char* cancel, int threads = 0);
};

// The M4 read window, and the room a 32-bit read needs after the byte position.
inline constexpr int kBribM4Window = 10000;
inline constexpr int kBribM4HeadSize = 48;
