// EXIF directories and maker notes over arbitrary bytes.
// Input: a flags byte (bit 0 big-endian, bit 1 read a maker note, bits 2-7 the
// directory offset), then the held bytes. The date parser gets the bytes as text.
#include "ExifReader.h"
#include "FPropList.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const bool big = (data[0] & 1) != 0;
    const bool makerNote = (data[0] & 2) != 0;
    const unsigned directory = unsigned(data[0] >> 2);
    const uint8_t* held = data + 1;
    const unsigned end = unsigned(size - 1);
    FPropList list(nullptr, "fuzz");
    if (makerNote) {
        ReadMakerNote(held, 0, end, directory, big, &list);
    } else {
        ReadExif(held, 0, end, directory, big, &list);
        // Held bytes that start after offset 0, as a TIFF reader's would.
        ReadExif(held, end / 3, end, directory + end / 3, big, &list);
    }
    const std::string text(reinterpret_cast<const char*>(held), std::min<size_t>(end, 64));
    const unsigned t = ParseExifDateTime(text.c_str());
    std::tm tm{};
    ExifUniversalTime(t, &tm);
    char out[20];
    FormatExifDate(&tm, out);
    return 0;
}
