#pragma once

// The EXIF directory of a rendered image, with the maker note that
// ReadMakerNote reads back, built from the capture and processing properties.
// Little-endian; offsets are counted from `base`.

#include <cstdint>
#include <string>

class FPropList;

// The buffer that writers build EXIF data in (filled with 0xFF first).
inline constexpr unsigned kExifBufferSize = 65535;
// The maker note's own value area.
inline constexpr unsigned kMakerNoteDataSize = 512;
// Bytes from the maker note's start to the EXIF data area that follows it.
inline constexpr unsigned kMakerNoteSpan = 804;

// Writes the directory at base + offset and returns the offset just past its
// data. Every byte written stays below `limit`: texts too long for the maker
// note's area are cut; FException when the directory itself does not fit.
unsigned WriteExif(uint8_t* base, unsigned offset, FPropList* properties, unsigned width, unsigned height,
                   unsigned limit = kExifBufferSize);

// One little-endian directory under construction: 12-byte entries in order
// from directory + 2, values longer than 4 bytes appended to a data area. The
// caller sizes the buffer; nothing here checks room.
class FExifDirectoryBuilder
{
public:
    FExifDirectoryBuilder(uint8_t* base, unsigned directory, unsigned entryCount, unsigned data);

    unsigned GetDataEnd() const { return m_data; }
    void SkipData(unsigned n) { m_data += n; }
    unsigned GetEntryEnd() const { return m_entry; }

    void Short(unsigned tag, unsigned value);
    void Long(unsigned tag, uint32_t value);
    void Undefined(unsigned tag, const uint8_t* bytes, unsigned n);
    // RATIONAL, or SRATIONAL when signed; 8 bytes in the data area.
    void Rational(unsigned tag, int32_t numerator, int32_t denominator, bool isSigned = false);
    // The text and its NUL; up to 4 bytes sit in the entry, zero-filled.
    void Ascii(unsigned tag, const std::string& text);
    // An entry whose value lies elsewhere, at `offset`.
    void Offset(unsigned tag, unsigned type, unsigned count, uint32_t offset);
    void NextDirectory(uint32_t offset);

private:
    uint8_t* priEntry(unsigned tag, unsigned type, unsigned count);

    uint8_t* m_base;
    unsigned m_entry;
    unsigned m_data;
};
