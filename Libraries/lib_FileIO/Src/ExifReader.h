#pragma once

// EXIF directories and the camera maker's maker note, read into capture
// properties, and the EXIF time conversions that the writers share.
//
// Offsets are counted from `base`; only the bytes at offsets first to end - 1
// are read. Malformed data never throws: each defect goes to the debug log and
// either skips the item or ends the walk, keeping what was added so far.

#include <cstdint>
#include <ctime>

class FPropList;

// Sub-directories (EXIF, interoperability) followed below a directory, and the
// directories read by one walk in all, so that offsets that loop end the walk.
inline constexpr int kMaxExifDepth = 4;
inline constexpr int kMaxExifDirectories = 16;

// True when the walk ended normally, false when it stopped early.
bool ReadExif(const uint8_t* base, unsigned first, unsigned end, unsigned directory, bool bigEndian,
              FPropList* list);
bool ReadMakerNote(const uint8_t* base, unsigned first, unsigned end, unsigned directory, bool bigEndian,
                   FPropList* list);

// EXIF time: seconds since 1970 of a camera date text taken as UTC, in 32 bits
// unsigned. "%d:%d:%d %d:%d:%d"; 0 when the text does not hold six numbers in
// their ranges or the date lies outside 1970 to 2105.
unsigned ParseExifDateTime(const char* text);

// Broken-down local and universal time of an EXIF time. When the conversion
// fails, 2000-01-01 12:00:00 UTC is converted instead; FException "bad time"
// when that fails too. A null output does nothing.
void ExifLocalTime(unsigned time, std::tm* out);
void ExifUniversalTime(unsigned time, std::tm* out);

// The current local time as "YYYY:MM:DD hh:mm:ss" and a NUL.
void FormatExifNow(char out[20]);
// A broken-down time in the same form; null gives "1970:01:01 12:00:00".
void FormatExifDate(const std::tm* time, char out[20]);
