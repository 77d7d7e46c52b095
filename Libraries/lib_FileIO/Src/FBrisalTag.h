#pragma once

// A small set of typed values keyed by four-character codes, and its
// serialised form (the tag blob) that the TIFF line writer stores in its
// private tag. Only codes of a fixed table can be set; every value in the blob
// is little-endian.

#include <cstdint>
#include <memory>

class FNarrowString;

// A code from its four characters, the first one in the most significant byte:
// BrisalTagCode("lens") is 0x6C656E73.
constexpr uint32_t BrisalTagCode(const char (&text)[5])
{
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

// Value types of the known-code table.
enum class FBrisalTagType {
    Unknown = 0,
    Int = 1,
    Double = 2,
    Text = 3,
    IntArray = 4,
    DoubleArray = 5,
};

// Blob layout.
inline constexpr uint32_t kBrisalTagMagic = 0x76657231; // bytes "1rev"
inline constexpr int kBrisalTagHeadSize = 64;           // plain even when scrambled
inline constexpr int kBrisalTagEntrySize = 12;
inline constexpr int kBrisalTagKnownCodes = 193;
// Blobs above this size are refused; texts of a few properties never come near.
inline constexpr uint32_t kMaxBrisalTagBlobSize = 64u << 20;

// Scrambling key: the key starts at size x K1 - K2 and drops by K3 per word,
// all modulo 2^32.
inline constexpr uint32_t kBrisalTagKeyK1 = 52361;
inline constexpr uint32_t kBrisalTagKeyK2 = 3141592653u;
inline constexpr uint32_t kBrisalTagKeyK3 = 271828182;

class FBrisalTag
{
public:
    FBrisalTag();
    virtual ~FBrisalTag();
    FBrisalTag(const FBrisalTag&) = delete;
    FBrisalTag& operator=(const FBrisalTag&) = delete;

    // False, nothing stored, for a code not in the table or whose type is not
    // the setter's (an integer stored under a text code would be written as a
    // text pointer otherwise).
    bool SetInt(uint32_t code, int value);
    bool SetDouble(uint32_t code, double value);
    // The text is copied.
    bool SetString(uint32_t code, const char* text);

    // Builds the blob, scrambled when asked; the caller frees it with delete[]
    // on its bytes (uint8_t). False when it would exceed kMaxBrisalTagBlobSize.
    bool GetBuffer(void** blob, int& size, bool scramble);

    // The texts joined with the byte 0x8B between consecutive ones; "" for n <= 0.
    static void JoinStrings(FNarrowString& result, int n, const FNarrowString* texts);
    static bool IsKnown(uint32_t code);
    // 0 for a code not in the table, else 1 to 5 (FBrisalTagType).
    static int TypeOf(uint32_t code);
    // XORs every word from the end of the head to the end of the blob with the
    // key sequence; doing it twice gives the bytes back. `size` is the blob's
    // total size and a multiple of 4.
    static void Scramble(uint8_t* blob, uint32_t size);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
