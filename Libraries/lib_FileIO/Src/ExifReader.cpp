#include "ExifReader.h"

#include "FDebugTrace.h"
#include "FException.h"
#include "FHasProperties.h"
#include "FPropList.h"
#include "ImagePropKeys.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace
{

constexpr unsigned kTypeSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr int kTypeAscii = 2;
constexpr int kMaxType = 12;
constexpr int kEntrySize = 12;
constexpr unsigned kMaxMakerNoteCount = 255;
// Values that cannot be a real int are kept out of the conversions.
constexpr double kIntLimit = 2147483647.0;

constexpr unsigned kFallbackTime = 946728000; // 2000-01-01 12:00:00 UTC
constexpr int64_t kLastExifTime = 0xFFFFFFFFll;

// The held bytes of one walk, read in its byte order.
struct ExifBytes {
    const uint8_t* base;
    uint64_t first;
    uint64_t end;
    bool big;

    bool Holds(uint64_t offset, uint64_t size) const
    {
        return offset >= first && size <= end && offset <= end - size;
    }
    uint16_t U16(uint64_t offset) const
    {
        const uint8_t* p = base + offset;
        return big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }
    uint32_t U32(uint64_t offset) const
    {
        const uint8_t* p = base + offset;
        if (big) {
            return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        }
        return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
    uint64_t U64(uint64_t offset) const
    {
        const uint64_t a = U32(offset);
        const uint64_t b = U32(offset + 4);
        return big ? (a << 32 | b) : (b << 32 | a);
    }
};

struct ExifWalk {
    int directoriesLeft = kMaxExifDirectories;
};

// The first number of a value, by its type.
double ReadNumber(const ExifBytes& bytes, int type, uint64_t at)
{
    switch (type) {
    case 1:
    case 6:
        return type == 1 ? double(bytes.base[at]) : double(int8_t(bytes.base[at]));
    case 3:
        return bytes.U16(at);
    case 4:
        return bytes.U32(at);
    case 5:
    case 10: {
        const int32_t num = int32_t(bytes.U32(at));
        const int32_t den = int32_t(bytes.U32(at + 4));
        if (den == 0) {
            return 0;
        }
        if (type == 5) {
            return double(uint32_t(num)) / double(uint32_t(den));
        }
        return double(num) / double(den);
    }
    case 8:
        return int16_t(bytes.U16(at));
    case 9:
        return int32_t(bytes.U32(at));
    case 11: {
        const uint32_t raw = bytes.U32(at);
        float f;
        std::memcpy(&f, &raw, 4);
        return f;
    }
    case 12: {
        const uint64_t raw = bytes.U64(at);
        double d;
        std::memcpy(&d, &raw, 8);
        return d;
    }
    }
    return 0;
}

// Fixed-point text of a number, independent of the process locale.
std::string Fixed(double v, int precision)
{
    char text[400];
    const auto r = std::to_chars(text, text + sizeof(text), v, std::chars_format::fixed, precision);
    if (r.ec != std::errc()) {
        return "0";
    }
    return std::string(text, r.ptr);
}

int RoundHalfAway(double v)
{
    return int(std::round(v));
}

bool Plausible(double v)
{
    return std::isfinite(v) && std::fabs(v) < kIntLimit;
}

// Shutter text of an exposure time in seconds; empty when there is none.
std::string ShutterText(double t)
{
    if (!(t > 0) || !Plausible(t) || !Plausible(1.0 / t)) {
        return "";
    }
    if (t >= 4) {
        return std::to_string(RoundHalfAway(t));
    }
    if (t >= 0.28) {
        return Fixed(t, 1);
    }
    return "1/" + std::to_string(RoundHalfAway(1.0 / t));
}

std::string ApertureText(double f)
{
    if (!Plausible(f * 10)) {
        return "";
    }
    if (RoundHalfAway(10 * f) % 10 != 0) {
        return Fixed(f, 1);
    }
    return std::to_string(RoundHalfAway(f));
}

void AddText(FPropList* list, const char* name, const std::string& text)
{
    list->AddProp(name, text.c_str());
}

bool IsPassedOver(unsigned tag)
{
    static constexpr unsigned kSilent[] = {282,   283,   296,   513,   514,   531,   36864, 37121,
                                           37122, 37381, 37382, 37384, 37510, 40960, 40961, 41486,
                                           41488, 41495, 41728, 41985, 41986, 41987, 41989, 41990};
    for (unsigned t : kSilent) {
        if (t == tag) {
            return true;
        }
    }
    return false;
}

// One entry's value: where its bytes are and how many.
struct EntryValue {
    uint64_t at;
    uint64_t size;
};

// The text of an ASCII value cut at its last NUL; false when it has none.
bool ReadAsciiValue(const ExifBytes& bytes, unsigned tag, const EntryValue& value, const char* where,
                    std::string& text)
{
    const uint8_t* p = bytes.base + value.at;
    if (value.size == 0) {
        return false;
    }
    if (p[value.size - 1] != 0) {
        DebugTrace("String in %s not properly terminated %d %d %d\n", where, int(tag), kTypeAscii,
                   int(value.size));
    }
    const void* nul = std::memchr(p, 0, size_t(value.size));
    if (nul == nullptr) {
        return false;
    }
    text.assign(reinterpret_cast<const char*>(p), static_cast<const uint8_t*>(nul) - p);
    return true;
}

bool ReadDirectory(const ExifBytes& bytes, uint64_t directory, FPropList* list, int depth, ExifWalk& walk);

void ReadMakerNoteValue(const ExifBytes& bytes, const EntryValue& value, FPropList* list)
{
    if (value.size < 10) {
        return;
    }
    const char* name = reinterpret_cast<const char*>(bytes.base + value.at);
    const bool known = std::memcmp(name, "TALVO", 6) == 0 || std::memcmp(name, "BRISAL", 7) == 0;
    if (!known) {
        return;
    }
    const unsigned version = bytes.U16(value.at + 8);
    if (version != 1) {
        DebugTrace(" ---->>>> Bad MakerNote Version %d\n", int(version));
    }
    const uint64_t directory = value.at + 10;
    if (bytes.Holds(directory, 2)) {
        ReadMakerNote(bytes.base, unsigned(bytes.first), unsigned(bytes.end), unsigned(directory), bytes.big,
                      list);
    }
}

bool ReadDirectory(const ExifBytes& bytes, uint64_t directory, FPropList* list, int depth, ExifWalk& walk)
{
    if (walk.directoriesLeft <= 0 || !bytes.Holds(directory, 2)) {
        return false;
    }
    --walk.directoriesLeft;
    const unsigned count = bytes.U16(directory);
    bool hasOriginal = false;
    bool hasDigitized = false;
    unsigned original = 0;
    unsigned digitized = 0;
    bool normal = true;
    for (unsigned i = 0; i < count; ++i) {
        const uint64_t entry = directory + 2 + uint64_t(i) * kEntrySize;
        if (!bytes.Holds(entry, kEntrySize)) {
            normal = false;
            break;
        }
        const unsigned tag = bytes.U16(entry);
        const unsigned type = bytes.U16(entry + 2);
        const uint64_t n = bytes.U32(entry + 4);
        if (type > kMaxType) {
            normal = false;
            break;
        }
        EntryValue value{entry + 8, n * kTypeSize[type]};
        if (value.size > 4) {
            value.at = bytes.U32(entry + 8);
            if (!bytes.Holds(value.at, value.size)) {
                DebugTrace("File seems to be truncated in Exif %d + %d > %d + %d\n", int(value.at),
                           int(value.size), int(bytes.first), int(bytes.end - bytes.first));
                normal = false;
                break;
            }
        }
        std::string text;
        if (type == kTypeAscii && !ReadAsciiValue(bytes, tag, value, "Exif", text)) {
            normal = false;
            break;
        }
        const bool isText = type == kTypeAscii;
        // Numbers are read only from values that hold one.
        const double number = value.size >= kTypeSize[type] && type != 0 && !isText
                                  ? ReadNumber(bytes, int(type), value.at)
                                  : 0.0;
        switch (tag) {
        case 271:
        case 272:
        case 305:
        case 42016:
            if (isText) {
                AddText(list,
                        tag == 271   ? "CAMMANUF"
                        : tag == 272 ? "CAMMODEL"
                        : tag == 305 ? propkey::kSoftware
                                     : propkey::kUniqueID,
                        text);
            }
            break;
        case 306:
        case 36867:
        case 36868: {
            const unsigned t = isText ? ParseExifDateTime(text.c_str()) : 0;
            const char* name = tag == 306     ? "EXIF_DATETIME"
                               : tag == 36867 ? "EXIF_DATETIME_ORIGINAL"
                                              : "EXIF_DATETIME_DIGITIZED";
            if (t != 0) {
                list->SetInt(name, int(t));
            }
            if (tag == 36867) {
                hasOriginal = true;
                original = t;
            } else if (tag == 36868) {
                hasDigitized = true;
                digitized = t;
            }
            break;
        }
        case 33434: {
            const std::string s = number > 60 ? std::string("BULB") : ShutterText(number);
            if (!s.empty()) {
                AddText(list, "SH_DESC", s);
            }
            break;
        }
        case 37377: {
            const std::string s = ShutterText(double(float(std::pow(0.5, number))));
            if (!s.empty()) {
                AddText(list, "SH_DESC", s);
            }
            break;
        }
        case 33437:
        case 37378: {
            const double f = tag == 33437 ? number : std::pow(2.0, number / 2);
            const std::string s = ApertureText(double(float(f)));
            if (!s.empty()) {
                AddText(list, "AP_DESC", s);
            }
            break;
        }
        case 34850: {
            static constexpr const char* kModes[] = {"U", "M", "P", "A", "S", "C", "X", "I", "L"};
            const int mode = number >= 1 && number <= 8 ? int(number) : 0;
            AddText(list, "PMODE", kModes[mode]);
            break;
        }
        case 34855: {
            if (!Plausible(number * 200)) {
                break;
            }
            int iso = int(number);
            if (iso < 50) {
                iso *= 200;
            }
            AddText(list, "ISO", std::to_string(iso));
            break;
        }
        case 37380: {
            std::string s = Fixed(number, 1);
            if (s.find(".0") != std::string::npos) {
                s = Fixed(number, 0);
            }
            AddText(list, "EXPCOMP", s);
            AddText(list, "EXPNET", s);
            break;
        }
        case 37383:
            AddText(list, "AEMODE", number == 1 ? "A" : number == 2 ? "C" : number == 5 ? "8" : "U");
            break;
        case 37385:
            AddText(list, "FLASH", (Plausible(number) && (int64_t(number) & 1) != 0) ? "ON" : "OFF");
            break;
        case 37386: {
            const double f = double(float(number));
            AddText(list, "FLENGTH", f == std::floor(f) ? Fixed(f, 0) : Fixed(f, 1));
            break;
        }
        case 37500:
            ReadMakerNoteValue(bytes, value, list);
            break;
        case 40962:
        case 40963:
            if (Plausible(number)) {
                AddText(list, tag == 40962 ? "COLS" : "ROWS", std::to_string(int(number)));
            }
            break;
        case 274:
            // The picture's own orientation; a thumbnail directory's does not count.
            if (depth == 0 && !isText && number >= 1 && number <= 8) {
                list->SetInt("ORIENTATION", int(number));
            }
            break;
        case 34665:
        case 40965: {
            const uint64_t sub = bytes.U32(entry + 8);
            if (depth < kMaxExifDepth && bytes.Holds(sub, 2)) {
                ReadDirectory(bytes, sub, list, depth + 1, walk);
            }
            break;
        }
        default:
            if (!IsPassedOver(tag)) {
                DebugTrace("Unknown Exif tag %d\n", int(tag));
            }
            break;
        }
    }
    if (hasOriginal) {
        list->SetInt("TIME", int(original));
    } else if (hasDigitized) {
        list->SetInt("TIME", int(digitized));
    }
    return normal;
}

// The number after `prefix` at the start of `text`, or 0.
double NumberAfter(const std::string& text, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    double v = 0;
    if (text.compare(0, n, prefix) != 0 || !ReadLeadingDouble(text.c_str() + n, v) || !std::isfinite(v)) {
        return 0;
    }
    return v;
}

int ColorSpaceOfName(const std::string& text)
{
    if (text == "Colormatch RGB") {
        return 8;
    }
    if (text == "AdobeRGB(1998)") {
        return 3;
    }
    if (text == "sRGB") {
        return 2;
    }
    if (text == "AppleRGB") {
        return 4;
    }
    return 0;
}

void ApplyMakerNoteText(FPropList* list, unsigned tag, const std::string& text)
{
    static constexpr const char* kTextNames[] = {nullptr,      nullptr,  "CAMSERIAL", "DRIVE",
                                                 "RESOLUTION", "AFMODE", "FOCUS",     "WB_DESC",
                                                 "PMODE",      "AEMODE", "LENSFRANGE"};
    static constexpr const char* kFloatNames[] = {
        propkey::kExposure,   propkey::kContrast,  propkey::kShadow,   propkey::kHighlight,
        propkey::kSaturation, propkey::kSharpness, propkey::kFillLight};
    static constexpr const char* kFloatPrefixes[] = {
        "Expo:", "Cont:", "Shad:", "High:", "Satu:", "Shar:", "Fill:"};
    if (tag >= 2 && tag <= 10) {
        AddText(list, kTextNames[tag], text);
        return;
    }
    if (tag >= 12 && tag <= 18) {
        list->SetFloat(kFloatNames[tag - 12], NumberAfter(text, kFloatPrefixes[tag - 12]));
        return;
    }
    switch (tag) {
    case 11:
        list->SetInt(propkey::kColorSpace, ColorSpaceOfName(text));
        return;
    case 20: {
        std::string word;
        if (text.compare(0, 3, "CC:") == 0) {
            size_t i = 3;
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
                ++i;
            }
            size_t j = i;
            while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) {
                ++j;
            }
            word = text.substr(i, j - i);
        }
        list->SetString(propkey::kColorAdjust, word.c_str());
        return;
    }
    case 21:
        list->SetString(propkey::kSettingMode, text.c_str());
        return;
    case 22: {
        const double q = NumberAfter(text, "Qual:");
        list->SetInt(propkey::kQuality, Plausible(q) ? int(q) : 0);
        return;
    }
    case 23:
        list->SetString("FIRMVERS", text.c_str());
        return;
    case 24:
        list->SetString(propkey::kMakerNoteSoftware, text.c_str());
        return;
    case 25:
        list->SetString("BRACKET", text.c_str());
        return;
    }
    DebugTrace("Unknown MakerNote tag %d\n", int(tag));
}

// Days from 1970-01-01 to the first day of a month; months and days are 1-based.
int64_t DaysSince1970(int year, int month, int day)
{
    static constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    int64_t days = 0;
    for (int y = 1970; y < year; ++y) {
        days += leap(y) ? 366 : 365;
    }
    days += kDaysBefore[month - 1] + (month > 2 && leap(year) ? 1 : 0);
    return days + day - 1;
}

std::mutex& LocalTimeMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool UniversalTime(int64_t time, std::tm& out)
{
    if (time < 0 || time > kLastExifTime) {
        return false;
    }
    int64_t days = time / 86400;
    const int64_t seconds = time % 86400;
    const auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    out = std::tm{};
    out.tm_wday = int((days + 4) % 7);
    int year = 1970;
    while (days >= (leap(year) ? 366 : 365)) {
        days -= leap(year) ? 366 : 365;
        ++year;
    }
    out.tm_yday = int(days);
    static constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    for (; month < 11; ++month) {
        const int length = kMonthDays[month] + (month == 1 && leap(year) ? 1 : 0);
        if (days < length) {
            break;
        }
        days -= length;
    }
    out.tm_year = year - 1900;
    out.tm_mon = month;
    out.tm_mday = int(days) + 1;
    out.tm_hour = int(seconds / 3600);
    out.tm_min = int(seconds / 60 % 60);
    out.tm_sec = int(seconds % 60);
    return true;
}

bool LocalTime(int64_t time, std::tm& out)
{
    if (time < 0 || time > kLastExifTime) {
        return false;
    }
    // The run-time's converter shares one result record.
    std::lock_guard<std::mutex> lock(LocalTimeMutex());
    const std::time_t t = static_cast<std::time_t>(time);
    const std::tm* local = std::localtime(&t);
    if (local == nullptr) {
        return false;
    }
    out = *local;
    return true;
}

void ConvertExifTime(unsigned time, std::tm* out, bool (*convert)(int64_t, std::tm&))
{
    if (out == nullptr) {
        return;
    }
    if (convert(time, *out) || convert(kFallbackTime, *out)) {
        return;
    }
    throw FException("bad time");
}

} // namespace

bool ReadExif(const uint8_t* base, unsigned first, unsigned end, unsigned directory, bool bigEndian,
              FPropList* list)
{
    if (base == nullptr || list == nullptr) {
        return false;
    }
    const ExifBytes bytes{base, first, end, bigEndian};
    ExifWalk walk;
    return ReadDirectory(bytes, directory, list, 0, walk);
}

bool ReadMakerNote(const uint8_t* base, unsigned first, unsigned end, unsigned directory, bool bigEndian,
                   FPropList* list)
{
    if (base == nullptr || list == nullptr) {
        return false;
    }
    ExifBytes bytes{base, first, end, bigEndian};
    if (!bytes.Holds(directory, 2)) {
        return false;
    }
    unsigned count = bytes.U16(directory);
    if (count > kMaxMakerNoteCount) {
        DebugTrace("Illegally high tag count %d in MakerNote -- maybe wrong byte order\n", int(count));
        if ((count & 0xFF) != 0) {
            DebugTrace("Bad tag count can not be fixed by byte order fix\n");
            return false;
        }
        bytes.big = !bytes.big;
        count = bytes.U16(directory);
        DebugTrace("Swapped tag count %d in MakerNote\n", int(count));
        if (count > kMaxMakerNoteCount) {
            return false;
        }
    }
    if (count == 0) {
        return true;
    }
    enum class Offsets { Unknown, Good, Corrected };
    Offsets state = Offsets::Unknown;
    int64_t correction = 0;
    int64_t expected = int64_t(directory) + 2 + int64_t(kEntrySize) * count + 4;
    for (unsigned i = 0; i < count; ++i) {
        const uint64_t entry = directory + 2 + uint64_t(i) * kEntrySize;
        if (!bytes.Holds(entry, kEntrySize)) {
            return false;
        }
        const unsigned tag = bytes.U16(entry);
        const unsigned type = bytes.U16(entry + 2);
        const uint64_t n = bytes.U32(entry + 4);
        if (type > kMaxType) {
            return false;
        }
        EntryValue value{entry + 8, n * kTypeSize[type]};
        if (value.size > 4) {
            const int64_t stored = bytes.U32(entry + 8);
            // A directory written without its next-directory field.
            if (stored + 4 == expected) {
                expected -= 4;
            }
            if (!bytes.Holds(uint64_t(expected), value.size)) {
                DebugTrace("File seems to be truncated in MakerNote %d + %d > %d + %d\n", int(expected),
                           int(value.size), int(bytes.first), int(bytes.end - bytes.first));
                return false;
            }
            if (stored == expected) {
                if (state == Offsets::Corrected) {
                    DebugTrace("Initially bad offsets in MakerNote now seem good %d\n", int(stored));
                }
                state = Offsets::Good;
            } else {
                DebugTrace("Bad offset %d in MakerNote should be %d\n", int(stored), int(expected));
                if (state == Offsets::Good) {
                    DebugTrace("Initially good MakerNote offsets now seem bad %d != %d\n", int(stored),
                               int(expected));
                    return false;
                }
                if (state == Offsets::Corrected) {
                    if (correction != expected - stored) {
                        DebugTrace("Initial MakerNote offset correction not working out %d != %d - %d\n",
                                   int(correction), int(expected), int(stored));
                        return false;
                    }
                } else {
                    correction = expected - stored;
                    state = Offsets::Corrected;
                    DebugTrace("Fixing to use MakerNote offset correction %d = %d - %d\n", int(correction),
                               int(expected), int(stored));
                }
            }
            value.at = uint64_t(expected);
            expected += int64_t(value.size);
        }
        if (type != kTypeAscii) {
            DebugTrace("Bad item Format in MakerNote %d %d %d\n", int(tag), int(type), int(value.size));
            continue;
        }
        std::string text;
        if (!ReadAsciiValue(bytes, tag, value, "MakerNote", text)) {
            return false;
        }
        ApplyMakerNoteText(list, tag, text);
    }
    return true;
}

unsigned ParseExifDateTime(const char* text)
{
    if (text == nullptr) {
        return 0;
    }
    int v[6];
    const char* p = text;
    for (int i = 0; i < 6; ++i) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') {
            ++p;
        }
        const char* start = *p == '+' ? p + 1 : p;
        const auto r = std::from_chars(start, p + std::strlen(p), v[i]);
        if (r.ec != std::errc()) {
            return 0;
        }
        p = r.ptr;
        // The space between date and time matches any white space, as in the scan format.
        if (i != 2 && i != 5) {
            if (*p != ':') {
                return 0;
            }
            ++p;
        }
    }
    const int year = v[0], month = v[1], day = v[2], hour = v[3], minute = v[4], second = v[5];
    if (year < 1970 || year > 2105 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
        return 0;
    }
    const int64_t t = DaysSince1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    if (t > kLastExifTime) {
        return 0;
    }
    return unsigned(t);
}

void ExifLocalTime(unsigned time, std::tm* out)
{
    ConvertExifTime(time, out, &LocalTime);
}

void ExifUniversalTime(unsigned time, std::tm* out)
{
    ConvertExifTime(time, out, &UniversalTime);
}

void FormatExifDate(const std::tm* time, char out[20])
{
    if (time == nullptr) {
        std::memcpy(out, "1970:01:01 12:00:00", 20);
        return;
    }
    const int fields[6] = {time->tm_year + 1900, time->tm_mon + 1, time->tm_mday,
                           time->tm_hour,        time->tm_min,     time->tm_sec};
    char* p = out;
    for (int i = 0; i < 6; ++i) {
        const int digits = i == 0 ? 4 : 2;
        int v = fields[i] < 0 ? 0 : fields[i];
        for (int d = digits - 1; d >= 0; --d) {
            p[d] = char('0' + v % 10);
            v /= 10;
        }
        p += digits;
        *p++ = i == 2 ? ' ' : i == 5 ? '\0' : ':';
    }
}

void FormatExifNow(char out[20])
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ExifLocalTime(now < 0 || now > kLastExifTime ? kFallbackTime : unsigned(now), &local);
    FormatExifDate(&local, out);
}
