#include "ExifWriter.h"
#include "FByteOrder.h"

#include "ExifReader.h"
#include "FException.h"
#include "FHasProperties.h"
#include "FPropList.h"
#include "ImagePropKeys.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

namespace
{

constexpr unsigned kExifEntries = 26;
constexpr unsigned kMakerNoteEntries = 23;
constexpr unsigned kDirectoryBytes = 2 + 12 * kExifEntries + 4;             // 318
constexpr unsigned kMakerNoteHead = 8 + 2 + 2 + 12 * kMakerNoteEntries + 4; // 292
constexpr unsigned kUniqueIdLength = 32;
constexpr double kLongLimit = 2147483647.0;

enum ExifType : uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kUndefined = 7,
    kSRational = 10,
};

int Round(double v)
{
    if (!std::isfinite(v)) {
        return 0;
    }
    if (std::fabs(v) >= kLongLimit) {
        return v < 0 ? -int(kLongLimit) : int(kLongLimit);
    }
    return int(std::round(v));
}

std::string Narrow(FPropList* properties, const char* name, const char* fallback = " ")
{
    return properties->GetString(name, fallback).GetNarrow();
}

std::string Signed41(const char* prefix, double v)
{
    // "%+4.1f", independent of the process locale.
    char digits[400];
    const auto r = std::to_chars(digits, digits + sizeof(digits), std::isfinite(v) ? v : 0.0,
                                 std::chars_format::fixed, 1);
    std::string number(digits, r.ptr);
    if (number[0] != '-') {
        number.insert(number.begin(), '+');
    }
    while (number.size() < 4) {
        number.insert(number.begin(), ' ');
    }
    return prefix + number;
}

std::string Quality(int q)
{
    std::string number = std::to_string(q);
    while (number.size() < 2) {
        number.insert(number.begin(), ' ');
    }
    return "Qual:" + number;
}

const char* ColorSpaceName(int space)
{
    static constexpr const char* kNames[] = {
        "Identity",   "LCD",         "sRGB",           "AdobeRGB(1998)", "AppleRGB", "EbuRGB",
        "Corbis RGB", "SMPTE-C RGB", "Colormatch RGB", "WideGamut RGB",  "BruceRGB", "ROMM RGB"};
    if (space < 0 || space > 11) {
        return "Unknown ColorSpace";
    }
    return kNames[space];
}

// Leading decimal integer of a text (sign allowed), or false.
bool LeadingInt(const char* text, const char*& end, int& value)
{
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    const char* start = *text == '+' ? text + 1 : text;
    const auto r = std::from_chars(start, start + std::strlen(start), value);
    if (r.ec != std::errc()) {
        return false;
    }
    end = r.ptr;
    return true;
}

void ExposureTime(const std::string& text, int32_t& numerator, int32_t& denominator)
{
    numerator = 0;
    denominator = 1;
    if (text.find('.') != std::string::npos) {
        double v = 0;
        ReadLeadingDouble(text.c_str(), v);
        numerator = Round(v * 10);
        denominator = 10;
        return;
    }
    const char* end = nullptr;
    int a = 0;
    if (!LeadingInt(text.c_str(), end, a)) {
        return;
    }
    numerator = a;
    if (text.find('/') == std::string::npos) {
        return;
    }
    int b = 0;
    if (*end == '/' && LeadingInt(end + 1, end, b)) {
        denominator = b;
    }
}

int32_t MaxApertureTenths(const std::string& range)
{
    double low = 0;
    double high = 0;
    const char* p = range.c_str();
    if (!ReadLeadingDouble(p, low)) {
        return 0;
    }
    const char* to = std::strstr(p, "to");
    if (to == nullptr || !ReadLeadingDouble(to + 2, high) || !(high > 1) || !std::isfinite(high)) {
        return 0;
    }
    return Round(10 * 2 * std::log2(high));
}

// The maker note's 23 entries, with their texts cut to the room of its data area.
void WriteMakerNote(uint8_t* base, unsigned at, FPropList* properties, int colorSpace)
{
    const bool talvo = properties->GetString("CAMMANUF", "") == "TALVO";
    std::memset(base + at, 0, 8);
    std::memcpy(base + at, talvo ? "TALVO" : "BRISAL", talvo ? 5 : 6);
    StoreLE16(base + at + 8, 1);
    const unsigned dataStart = at + kMakerNoteHead;
    const unsigned dataEnd = dataStart + kMakerNoteDataSize;
    FExifDirectoryBuilder note(base, at + 10, kMakerNoteEntries, dataStart);

    struct Item {
        unsigned tag;
        std::string text;
    };
    const Item items[kMakerNoteEntries] = {
        {2, Narrow(properties, "CAMSERIAL")},
        {3, Narrow(properties, "DRIVE")},
        {4, Narrow(properties, "RESOLUTION")},
        {5, Narrow(properties, "AFMODE")},
        {6, Narrow(properties, "FOCUS")},
        {7, Narrow(properties, "WB_DESC")},
        {8, Narrow(properties, "PMODE")},
        {9, Narrow(properties, "AEMODE")},
        {10, Narrow(properties, "LENSFRANGE")},
        {11, ColorSpaceName(colorSpace)},
        {12, Signed41("Expo:", properties->GetFloat(propkey::kExposure, 0))},
        {13, Signed41("Cont:", properties->GetFloat(propkey::kContrast, 0))},
        {14, Signed41("Shad:", properties->GetFloat(propkey::kShadow, 0))},
        {15, Signed41("High:", properties->GetFloat(propkey::kHighlight, 0))},
        {16, Signed41("Satu:", properties->GetFloat(propkey::kSaturation, 0))},
        {17, Signed41("Shar:", properties->GetFloat(propkey::kSharpness, 0))},
        {18, Signed41("Fill:", properties->GetFloat(propkey::kFillLight, 0))},
        {20, "CC:" + Narrow(properties, propkey::kColorAdjust)},
        {21, Narrow(properties, propkey::kSettingMode)},
        {22, Quality(properties->GetInt(propkey::kQuality, 0))},
        {23, Narrow(properties, "FIRMVERS")},
        {24, Narrow(properties, propkey::kMakerNoteSoftware)},
        {25, Narrow(properties, "BRACKET")},
    };
    for (const Item& item : items) {
        std::string text = item.text;
        // Texts from a raw file's properties are untrusted: never run past the area.
        const unsigned room = dataEnd - note.GetDataEnd();
        if (text.size() + 1 > 4 && text.size() + 1 > room) {
            text.resize(room > 4 ? room - 1 : 3);
        }
        note.Ascii(item.tag, text);
    }
    note.NextDirectory(0);
}

} // namespace

FExifDirectoryBuilder::FExifDirectoryBuilder(uint8_t* base, unsigned directory, unsigned entryCount,
                                             unsigned data)
    : m_base(base), m_entry(directory + 2), m_data(data)
{
    StoreLE16(base + directory, entryCount);
}

uint8_t* FExifDirectoryBuilder::priEntry(unsigned tag, unsigned type, unsigned count)
{
    uint8_t* e = m_base + m_entry;
    StoreLE16(e, tag);
    StoreLE16(e + 2, type);
    StoreLE32(e + 4, count);
    m_entry += 12;
    return e;
}

void FExifDirectoryBuilder::Short(unsigned tag, unsigned value)
{
    StoreLE16(priEntry(tag, kShort, 1) + 8, value);
}

void FExifDirectoryBuilder::Long(unsigned tag, uint32_t value)
{
    StoreLE32(priEntry(tag, kLong, 1) + 8, value);
}

void FExifDirectoryBuilder::Undefined(unsigned tag, const uint8_t* bytes, unsigned n)
{
    std::memcpy(priEntry(tag, kUndefined, n) + 8, bytes, n);
}

void FExifDirectoryBuilder::Rational(unsigned tag, int32_t numerator, int32_t denominator, bool isSigned)
{
    StoreLE32(priEntry(tag, isSigned ? kSRational : kRational, 1) + 8, m_data);
    StoreLE32(m_base + m_data, uint32_t(numerator));
    StoreLE32(m_base + m_data + 4, uint32_t(denominator));
    m_data += 8;
}

void FExifDirectoryBuilder::Ascii(unsigned tag, const std::string& text)
{
    const unsigned count = unsigned(text.size()) + 1;
    uint8_t* e = priEntry(tag, kAscii, count);
    if (count <= 4) {
        std::memset(e + 8, 0, 4);
        std::memcpy(e + 8, text.data(), text.size());
        return;
    }
    StoreLE32(e + 8, m_data);
    std::memcpy(m_base + m_data, text.c_str(), count);
    m_data += count;
}

void FExifDirectoryBuilder::Offset(unsigned tag, unsigned type, unsigned count, uint32_t offset)
{
    StoreLE32(priEntry(tag, type, count) + 8, offset);
}

void FExifDirectoryBuilder::NextDirectory(uint32_t offset)
{
    StoreLE32(m_base + m_entry, offset);
}

unsigned WriteExif(uint8_t* base, unsigned offset, FPropList* properties, unsigned width, unsigned height,
                   unsigned limit)
{
    // Everything but the texts has a fixed size: 5 rationals, 2 dates, the maker note, the unique ID.
    const uint64_t needed = uint64_t(offset) + kDirectoryBytes + 5 * 8 + 2 * 20 + kMakerNoteSpan + 33;
    if (base == nullptr || properties == nullptr || needed > limit) {
        throw FException("WriteExif: no room for the EXIF directory");
    }
    const int colorSpace = properties->GetInt(propkey::kColorSpace, 0);
    FExifDirectoryBuilder exif(base, offset, kExifEntries, offset + kDirectoryBytes);

    int32_t num = 0;
    int32_t den = 1;
    ExposureTime(Narrow(properties, "SH_DESC", "1/1"), num, den);
    exif.Rational(33434, num, den);
    exif.Rational(33437, Round(properties->GetFloat("AP_DESC", 0) * 10), 10);

    const std::string pmode = Narrow(properties, "PMODE");
    exif.Short(34850, pmode == "M" ? 1 : pmode == "P" ? 2 : pmode == "A" ? 3 : pmode == "S" ? 4 : 0);
    exif.Short(34855, unsigned(properties->GetInt("ISO", 0)) & 0xFFFF);
    exif.Undefined(36864, reinterpret_cast<const uint8_t*>("0220"), 4);

    std::tm original{};
    ExifUniversalTime(unsigned(properties->GetInt("TIME", 0)), &original);
    char date[20];
    FormatExifDate(&original, date);
    exif.Ascii(36867, date);
    FormatExifNow(date);
    exif.Ascii(36868, date);

    static constexpr uint8_t kComponents[4] = {1, 2, 3, 0};
    exif.Undefined(37121, kComponents, 4);

    const double bias = properties->GetFloat("EXPNET", 0);
    const int sixths = Round(6 * bias);
    exif.Rational(37380, Round(10.0 * sixths / 6), 10, true);
    exif.Rational(37381, MaxApertureTenths(Narrow(properties, "LENSARANGE", "")), 10);

    const std::string aemode = Narrow(properties, "AEMODE");
    exif.Short(37383, aemode == "A" ? 1 : aemode == "C" ? 2 : aemode == "8" ? 5 : 0);
    exif.Short(37385, Narrow(properties, "FLASH", "OFF") == "OFF" ? 0 : 1);

    const double focal = properties->GetFloat("FLENGTH", 0);
    if (std::isfinite(focal) && focal == std::floor(focal)) {
        exif.Rational(37386, Round(focal), 1);
    } else {
        exif.Rational(37386, std::isfinite(focal) ? Round(std::trunc(focal * 10)) : 0, 10);
    }

    // The maker note spans its head and its own data area; its count covers both.
    const unsigned makerNote = exif.GetDataEnd();
    WriteMakerNote(base, makerNote, properties, colorSpace);
    exif.Offset(37500, kUndefined, kMakerNoteSpan, makerNote);
    exif.SkipData(kMakerNoteSpan);

    static constexpr uint8_t kFlashpix[4] = {'0', '1', '0', '0'};
    exif.Undefined(40960, kFlashpix, 4);
    exif.Short(40961, colorSpace == 2 ? 1 : 65535);
    exif.Long(40962, width);
    exif.Long(40963, height);
    exif.Short(41495, 2);
    static constexpr uint8_t kFileSource[1] = {3};
    exif.Undefined(41728, kFileSource, 1);
    exif.Short(41985, 1);
    bool bracket = false;
    properties->GetString("BRACKET", "", &bracket);
    exif.Short(41986, bracket ? 2 : pmode == "M" ? 1 : 0);
    exif.Short(41987, Narrow(properties, "WB_DESC") == "Auto" ? 0 : 1);
    bool hasEquivalent = false;
    const int equivalent = properties->GetInt("FLEQ35MM", 0, &hasEquivalent);
    if (hasEquivalent) {
        exif.Short(41989, unsigned(equivalent) & 0xFFFF);
    } else if (Narrow(properties, "CAMMODEL") == "TALVO MV3") {
        exif.Short(41989, unsigned(Round(std::trunc(properties->GetInt("FLENGTH", 0) * 1.7))) & 0xFFFF);
    } else {
        exif.Short(41989, 0);
    }
    exif.Short(41990, 0);

    std::string id = Narrow(properties, propkey::kUniqueID);
    id.resize(kUniqueIdLength, '0');
    exif.Ascii(42016, id);
    exif.NextDirectory(0);
    return exif.GetDataEnd();
}
