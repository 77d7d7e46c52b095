#include "ByteWriter.h"

#include <stdexcept>

namespace rawtest
{

uint32_t FourCC(std::string_view code)
{
    if (code.size() != 4)
        throw std::invalid_argument("a four-character code needs four characters");
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16 |
           uint32_t(uint8_t(code[3])) << 24;
}

ByteWriter& ByteWriter::U8(uint8_t v)
{
    m_bytes.push_back(v);
    return *this;
}

ByteWriter& ByteWriter::U16(uint16_t v)
{
    return U8(uint8_t(v)).U8(uint8_t(v >> 8));
}

ByteWriter& ByteWriter::U32(uint32_t v)
{
    return U16(uint16_t(v)).U16(uint16_t(v >> 16));
}

ByteWriter& ByteWriter::U64(uint64_t v)
{
    return U32(uint32_t(v)).U32(uint32_t(v >> 32));
}

ByteWriter& ByteWriter::U32BE(uint32_t v)
{
    return U8(uint8_t(v >> 24)).U8(uint8_t(v >> 16)).U8(uint8_t(v >> 8)).U8(uint8_t(v));
}

ByteWriter& ByteWriter::HiLo(uint64_t v)
{
    return U32(uint32_t(v >> 32)).U32(uint32_t(v));
}

ByteWriter& ByteWriter::Code(std::string_view fourCC)
{
    return U32(FourCC(fourCC));
}

ByteWriter& ByteWriter::Append(const Bytes& bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

ByteWriter& ByteWriter::Append(const void* bytes, size_t count)
{
    const auto* p = static_cast<const uint8_t*>(bytes);
    m_bytes.insert(m_bytes.end(), p, p + count);
    return *this;
}

ByteWriter& ByteWriter::Zeros(size_t count)
{
    m_bytes.resize(m_bytes.size() + count, 0);
    return *this;
}

ByteWriter& ByteWriter::Align(size_t multiple)
{
    while (multiple > 0 && m_bytes.size() % multiple != 0)
        m_bytes.push_back(0);
    return *this;
}

void PatchU8(Bytes& bytes, size_t offset, uint8_t v)
{
    if (bytes.size() < offset + 1)
        bytes.resize(offset + 1, 0);
    bytes[offset] = v;
}

void PatchU32(Bytes& bytes, size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        PatchU8(bytes, offset + size_t(i), uint8_t(v >> (8 * i)));
}

void PatchCode(Bytes& bytes, size_t offset, std::string_view fourCC)
{
    PatchU32(bytes, offset, FourCC(fourCC));
}

uint32_t LoadU32(const Bytes& bytes, size_t offset)
{
    return uint32_t(bytes.at(offset)) | uint32_t(bytes.at(offset + 1)) << 8 |
           uint32_t(bytes.at(offset + 2)) << 16 | uint32_t(bytes.at(offset + 3)) << 24;
}

std::u16string Utf16(std::string_view utf8)
{
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const uint8_t lead = uint8_t(utf8[i]);
        uint32_t cp = lead;
        size_t extra = 0;
        if (lead >= 0xF0) {
            cp = lead & 0x07;
            extra = 3;
        } else if (lead >= 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
        } else if (lead >= 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
        }
        if (i + extra >= utf8.size())
            throw std::invalid_argument("truncated UTF-8 text");
        for (size_t k = 1; k <= extra; ++k)
            cp = cp << 6 | (uint8_t(utf8[i + k]) & 0x3F);
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
            continue;
        }
        out.push_back(char16_t(cp));
    }
    return out;
}

} // namespace rawtest
