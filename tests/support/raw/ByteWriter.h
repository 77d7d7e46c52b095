#pragma once

// Little-endian byte output for building test files, with patching after the fact.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace rawtest
{

using Bytes = std::vector<uint8_t>;

// A four-character code as a little-endian word: its characters in reading order.
uint32_t FourCC(std::string_view code);

class ByteWriter
{
public:
    ByteWriter& U8(uint8_t v);
    ByteWriter& U16(uint16_t v);
    ByteWriter& U32(uint32_t v);
    ByteWriter& U64(uint64_t v);
    ByteWriter& U32BE(uint32_t v);
    // Two words, the high 32 bits first.
    ByteWriter& HiLo(uint64_t v);
    ByteWriter& Code(std::string_view fourCC);
    ByteWriter& Append(const Bytes& bytes);
    ByteWriter& Append(const void* bytes, size_t count);
    ByteWriter& Zeros(size_t count);
    // Zero bytes up to the next multiple.
    ByteWriter& Align(size_t multiple);

    size_t Size() const { return m_bytes.size(); }
    const Bytes& Get() const { return m_bytes; }
    Bytes Take() { return std::move(m_bytes); }

private:
    Bytes m_bytes;
};

// Patches in place; the vector grows when the field reaches past its end.
void PatchU8(Bytes& bytes, size_t offset, uint8_t v);
void PatchU32(Bytes& bytes, size_t offset, uint32_t v);
void PatchCode(Bytes& bytes, size_t offset, std::string_view fourCC);
uint32_t LoadU32(const Bytes& bytes, size_t offset);

// UTF-8 text as UTF-16 units (surrogate pairs for characters above U+FFFF).
std::u16string Utf16(std::string_view utf8);

} // namespace rawtest
