#pragma once

// Test-side encoders that are the exact inverses of the raw image decoders: a
// Huffman encoder (formats 6 and 11), the three-plane predictive encoder
// (format 30) and the packers of the fixed-row formats. They write the payload of
// an image section; the fixture builder wraps it in a section head.

#include <cstddef>
#include <cstdint>
#include <vector>

class FPixmap;

namespace rawcodec
{

// Most significant bit first.
class BitWriter
{
public:
    void Put(uint32_t bits, int count);
    void PadToByte();
    // Zero bytes up to a multiple of n bytes.
    void PadBytesTo(size_t n);
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    size_t BitCount() const { return m_bytes.size() * 8 - (m_iFree == 8 ? 0 : size_t(m_iFree)); }

private:
    std::vector<uint8_t> m_bytes;
    int m_iFree = 8; // free bits in the last byte
};

// A prefix code: per symbol its length (0: no code) and its right-aligned code.
struct HuffmanCode {
    std::vector<uint8_t> m_lengths;
    std::vector<uint32_t> m_codes;

    // The decoder's table words: length << 27 | code.
    std::vector<uint32_t> TableWords() const;
    void Encode(BitWriter& out, uint16_t symbol) const;
};

// Canonical codes for the given lengths (shorter codes first, then symbol order).
HuffmanCode CanonicalCode(const std::vector<uint8_t>& lengths);
// Huffman lengths for the frequencies, at most maxLength bits; unused symbols get 0;
// a single used symbol gets length 1.
std::vector<uint8_t> LengthsFromFrequencies(const std::vector<uint64_t>& frequencies, int maxLength = 27);

// Eight 12-bit samples per three little-endian words, read as one 96-bit string
// from the top bit of the first word; a last partial group is padded with zeros.
void Pack12(const uint16_t* samples, size_t count, std::vector<uint8_t>& out);

struct EncodedImage {
    int m_iFormat = 0;
    int m_iCols = 0; // the head's columns and rows, not the delivered ones
    int m_iRows = 0;
    int m_iRowSize = 0;
    std::vector<uint8_t> m_payload;
};

struct EncodeOptions {
    // Formats 5 and 6: the value table (1024 entries); empty: the 10-bit codes
    // sign-extended, which covers differences from -512 to 511.
    std::vector<int16_t> m_valueTable;
    // Formats 6 and 11: code lengths to use instead of lengths from the symbols'
    // frequencies (every used symbol needs a code).
    std::vector<uint8_t> m_codeLengths;
    // Format 30: first predictors of R, G and B (low 10 bits used), and the code
    // lengths of the 13 categories (empty: a built-in complete code).
    uint16_t m_firstPredictor[3] = {512, 512, 512};
    std::vector<uint8_t> m_categoryLengths;
};

// The payload of the image in a pixmap of the format's pixel type, for every format
// but the YCbCr ones (25 to 28), format 2 and format 18; the pixmap holds the
// delivered image. Formats that share samples within a block (14, 16, 20, 21, 22)
// take the shared ones from the block's first pixel. Columns that are not a
// multiple of a packed format's group are padded with zero samples. Throws
// std::invalid_argument for content the format cannot hold.
EncodedImage EncodeImage(int format, const FPixmap& image, const EncodeOptions& options = {});

// Fixed-size rows of packed 12-bit samples given in file order (the YCbCr formats
// 25, 27 and 28); every row is padded to the same size.
EncodedImage PackSampleRows(int format, int cols, const std::vector<std::vector<uint16_t>>& rows);

// Format 6 or 11 from symbol rows (3 x cols symbols each) and a code; each row is
// padded with zero bits to a byte and with zero bytes to a multiple of 4.
EncodedImage EncodeHuffmanRows(int format, int cols, const std::vector<std::vector<uint16_t>>& rows,
                               const HuffmanCode& code, const std::vector<int16_t>& valueTable = {});

// The 10-bit codes sign-extended.
std::vector<int16_t> DefaultValueTable();

// Plane placement of format 30: each plane starts at the previous one's start plus
// its length rounded up to a multiple of 16; the first right after the 48-byte head.
inline uint64_t M4PlanePadding(uint64_t length)
{
    return (length + 15) / 16 * 16;
}

} // namespace rawcodec
