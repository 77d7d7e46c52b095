#pragma once

// Facts of the raw container format shared by its reader, its header writer and
// the image decoders.

#include <cstddef>
#include <cstdint>

// Four-character codes are stored as their characters in reading order, so read
// as a little-endian word "SECd" is 0x64434553.
constexpr uint32_t BribFourCC(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16 |
           uint32_t(uint8_t(code[3])) << 24;
}

inline constexpr uint32_t kBribMagic = BribFourCC("BRIb");
inline constexpr uint32_t kBribDirectoryMagic = BribFourCC("SECd");
inline constexpr uint32_t kBribPropertyMagic = BribFourCC("SECp");
inline constexpr uint32_t kBribCamfileMagic = BribFourCC("SECc");
inline constexpr uint32_t kBribImageMagic = BribFourCC("SECi");
inline constexpr uint32_t kBribEncryptedCamfileMagic = BribFourCC("BCEb");

// Directory entry types.
inline constexpr uint32_t kBribTypeDirectory = BribFourCC("DIRP");
inline constexpr uint32_t kBribTypeProperties = BribFourCC("PROP");
inline constexpr uint32_t kBribTypeCamfile = BribFourCC("CAMF");
inline constexpr uint32_t kBribTypeImage = BribFourCC("IMAG");
inline constexpr uint32_t kBribTypeImage2 = BribFourCC("IMA2");

// "1.0" and a zero byte, read as a number; it has the version-2 layouts.
inline constexpr uint32_t kBribVersion10 = 0x00302E31;
// The label and the extended-data slots exist from this version on (compared unsigned).
inline constexpr uint32_t kBribVersion21 = 0x00020001;

inline constexpr uint32_t kBribHeaderSizeV2 = 232;
inline constexpr uint32_t kBribHeaderSizeV3 = 240;
inline constexpr int kBribLabelSize = 32;
inline constexpr int kBribExtDataSlots = 32;

// Header field offsets, version-2 layout ("1.0" and 2.x).
inline constexpr int kBribV2MarkBitsOffset = 24;
inline constexpr int kBribV2ColumnsOffset = 28;
inline constexpr int kBribV2RowsOffset = 32;
inline constexpr int kBribV2RotationOffset = 36;
inline constexpr int kBribV2LabelOffset = 40;
inline constexpr int kBribV2ExtTypesOffset = 72;
inline constexpr int kBribV2ExtValuesOffset = 104;

// Header field offsets, version-3 layout.
inline constexpr int kBribV3HeaderSizeOffset = 8;
inline constexpr int kBribV3ReservedOffset = 12;
inline constexpr int kBribV3UniqueIdOffset = 16;
inline constexpr int kBribV3MarkBitsOffset = 32;
inline constexpr int kBribV3ColumnsOffset = 36;
inline constexpr int kBribV3RowsOffset = 40;
inline constexpr int kBribV3RotationOffset = 44;
inline constexpr int kBribV3LabelOffset = 48;
inline constexpr int kBribV3ExtTypesOffset = 80;
inline constexpr int kBribV3ExtValuesOffset = 112;

inline constexpr bool BribIsVersion2Layout(uint32_t version)
{
    return (version >> 16) == 2 || version == kBribVersion10;
}
inline constexpr bool BribIsVersion3(uint32_t version)
{
    return (version >> 16) == 3;
}
inline constexpr bool BribIsKnownVersion(uint32_t version)
{
    return BribIsVersion2Layout(version) || BribIsVersion3(version);
}
inline constexpr bool BribHasExtData(uint32_t version)
{
    return version >= kBribVersion21;
}

// The keystream of scrambled camera data: s = (s * multiplier + increment) mod
// modulus with the product and sum taken modulo 2^32 first, and each byte XORed
// with the low byte of (s * 256) / divisor.
struct FBribKeystream {
    uint32_t m_uiMultiplier;
    uint32_t m_uiIncrement;
    uint32_t m_uiModulus;
    uint32_t m_uiDivisor;
};

// The one place that holds the key of scrambled camera data: a four-digit
// multiplier, five-digit increment and six-digit modulus; the divisor spreads the
// state over one byte.
inline constexpr FBribKeystream kBribCamfileKeystream = {7141, 54773, 259200, 259200};

// Scrambling is its own inverse; the state starts at the seed for the first byte.
void BribDescramble(uint8_t* bytes, size_t count, uint32_t seed, const FBribKeystream& key);
