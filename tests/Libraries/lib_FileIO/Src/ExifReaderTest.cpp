#include "ExifReader.h"
#include "ExifTestBlob.h"
#include "FDebugTrace.h"
#include "FPropList.h"

#include <gtest/gtest.h>

using exiftest::Blob;
using exiftest::Bytes;
using exiftest::Value;

namespace
{

std::string Prop(const FPropList& list, const char* name)
{
    const FPropPair* p = list.FindProp(name);
    return p != nullptr ? std::string(p->GetValue().GetNarrow()) : std::string("<absent>");
}

int PropCount(const FPropList& list, const char* name)
{
    int n = 0;
    for (const FPropPair* p = list.GetFirstProp(); p != nullptr; p = p->GetNext()) {
        n += p->GetName() == name ? 1 : 0;
    }
    return n;
}

bool Read(const Blob& blob, FPropList& list, unsigned directory = 8)
{
    return ReadExif(blob.Data().data(), 0, unsigned(blob.Data().size()), directory, blob.Big(), &list);
}

} // namespace

TEST(ExifReader, TagsBecomePropertiesInBothByteOrders)
{
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        Blob b(big);
        b.Header();
        const size_t exifAt = 600;
        const size_t end = b.Directory(8, {
                                              {271, b.Ascii("Cam")},
                                              {272, b.Ascii("Model X")},
                                              {305, b.Ascii("Soft 1.0")},
                                              {306, b.Ascii("2007:12:04 10:20:30")},
                                              {274, b.Short(1)},
                                              {34665, b.Long(uint32_t(exifAt))},
                                          });
        ASSERT_LT(end, exifAt);
        b.Directory(exifAt, {
                                {33434, b.Rational(1, 250)},
                                {33437, b.Rational(56, 10)},
                                {34850, b.Short(3)},
                                {34855, b.Short(100)},
                                {36867, b.Ascii("2007:12:04 10:20:30")},
                                {36868, b.Ascii("2008:01:01 00:00:00")},
                                {37380, b.Rational(uint32_t(-3), 10, true)},
                                {37383, b.Short(5)},
                                {37385, b.Short(0x19)},
                                {37386, b.Rational(50, 1)},
                                {40962, b.Long(640)},
                                {40963, b.Short(480)},
                                {42016, b.Ascii("ABCDEF0123456789")},
                            });
        FPropList list(nullptr, "p");
        EXPECT_TRUE(Read(b, list));
        const std::pair<const char*, const char*> expected[] = {
            {"CAMMANUF", "Cam"},
            {"CAMMODEL", "Model X"},
            {"rpSoftware", "Soft 1.0"},
            {"EXIF_DATETIME", "1196763630"},
            {"SH_DESC", "1/250"},
            {"AP_DESC", "5.6"},
            {"PMODE", "A"},
            {"ISO", "100"},
            {"EXIF_DATETIME_ORIGINAL", "1196763630"},
            {"EXIF_DATETIME_DIGITIZED", "1199145600"},
            {"TIME", "1196763630"},
            {"EXPCOMP", "-0.3"},
            {"EXPNET", "-0.3"},
            {"AEMODE", "8"},
            {"FLASH", "ON"},
            {"FLENGTH", "50"},
            {"COLS", "640"},
            {"ROWS", "480"},
            {"rpUniqueID", "ABCDEF0123456789"},
        };
        for (const auto& e : expected) {
            EXPECT_EQ(Prop(list, e.first), e.second) << e.first;
        }
    }
}

TEST(ExifReader, ValueTexts)
{
    struct Case {
        uint16_t tag;
        Value (*make)(const Blob&);
        const char* property;
        const char* text;
    };
    const Case cases[] = {
        {33434, [](const Blob& b) { return b.Rational(1, 250); }, "SH_DESC", "1/250"},
        {33434, [](const Blob& b) { return b.Rational(1, 2); }, "SH_DESC", "0.5"},
        {33434, [](const Blob& b) { return b.Rational(8, 1); }, "SH_DESC", "8"},
        {33434, [](const Blob& b) { return b.Rational(120, 1); }, "SH_DESC", "BULB"},
        {33434, [](const Blob& b) { return b.Rational(0, 1); }, "SH_DESC", "<absent>"},
        {37377, [](const Blob& b) { return b.Rational(8, 1, true); }, "SH_DESC", "1/256"},
        {33437, [](const Blob& b) { return b.Rational(56, 10); }, "AP_DESC", "5.6"},
        {33437, [](const Blob& b) { return b.Rational(8, 1); }, "AP_DESC", "8"},
        {37378, [](const Blob& b) { return b.Rational(6, 1); }, "AP_DESC", "8"},
        {34855, [](const Blob& b) { return b.Short(1); }, "ISO", "200"},
        {34855, [](const Blob& b) { return b.Short(100); }, "ISO", "100"},
        {37380, [](const Blob& b) { return b.Rational(uint32_t(-3), 10, true); }, "EXPCOMP", "-0.3"},
        {37380, [](const Blob& b) { return b.Rational(1, 1, true); }, "EXPCOMP", "1"},
        {37380, [](const Blob& b) { return b.Rational(1, 0, true); }, "EXPCOMP", "0"},
        {37386, [](const Blob& b) { return b.Rational(245, 10); }, "FLENGTH", "24.5"},
        {34850, [](const Blob& b) { return b.Short(9); }, "PMODE", "U"},
        {37385, [](const Blob& b) { return b.Short(0x10); }, "FLASH", "OFF"},
    };
    for (bool big : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.tag) + " " + c.text + (big ? " MM" : " II"));
            Blob b(big);
            b.Header();
            b.Directory(8, {{c.tag, c.make(b)}});
            FPropList list(nullptr, "p");
            EXPECT_TRUE(Read(b, list));
            EXPECT_EQ(Prop(list, c.property), c.text);
        }
    }
}

TEST(ExifReader, TimePrefersOriginalThenDigitized)
{
    Blob b(false);
    b.Header();
    b.Directory(8, {{36868, b.Ascii("2008:01:01 00:00:00")}});
    FPropList list(nullptr, "p");
    Read(b, list);
    EXPECT_EQ(Prop(list, "TIME"), "1199145600");
}

TEST(ExifReader, MalformedDirectoriesEndTheWalkKeepingEarlierProperties)
{
    FDebugTraceCapture trace;
    {
        // A value whose offset runs past the held bytes.
        Blob b(false);
        b.Header();
        const size_t end = b.Directory(8, {{271, b.Ascii("Make")}, {272, b.Ascii("Model")}});
        b.Put(8 + 2 + 12 + 8, b.U32(uint32_t(end)));
        FPropList list(nullptr, "p");
        EXPECT_FALSE(Read(b, list));
        EXPECT_EQ(Prop(list, "CAMMANUF"), "Make");
        EXPECT_EQ(Prop(list, "CAMMODEL"), "<absent>");
        EXPECT_TRUE(trace.Contains("File seems to be truncated in Exif"));
    }
    {
        // A count whose size wraps 32 bits must not pass the held-bytes test.
        Blob b(false);
        b.Header();
        b.Directory(8, {{271, b.Ascii("Make")}, {33434, b.Rational(1, 2)}});
        b.Put(8 + 2 + 12 + 4, b.U32(0x20000000)); // 0x20000000 x 8 = 2^32
        b.Put(8 + 2 + 12 + 8, b.U32(0));
        FPropList list(nullptr, "p");
        EXPECT_FALSE(Read(b, list));
        EXPECT_EQ(Prop(list, "SH_DESC"), "<absent>");
    }
    {
        // ASCII cut at its last NUL; without any NUL the walk stops.
        Blob b(false);
        b.Header();
        b.Directory(8, {{271, b.RawAscii({'A', 'B', 0, 'C', 'D', 'E'})},
                        {272, b.RawAscii({'X', 'Y', 'Z', 'W', 'V'})},
                        {305, b.Ascii("never")}});
        FPropList list(nullptr, "p");
        trace.Clear();
        EXPECT_FALSE(Read(b, list));
        EXPECT_EQ(Prop(list, "CAMMANUF"), "AB");
        EXPECT_EQ(Prop(list, "CAMMODEL"), "<absent>");
        EXPECT_EQ(Prop(list, "rpSoftware"), "<absent>");
        EXPECT_TRUE(trace.Contains("String in Exif not properly terminated 271 2 6"));
    }
    {
        // A type above 12 stops the walk; an entry list past the end is not read.
        Blob b(false);
        b.Header();
        b.Directory(8, {{271, b.Ascii("Make")}, {272, Value{13, 1, {0, 0, 0, 0}}}});
        FPropList list(nullptr, "p");
        EXPECT_FALSE(Read(b, list));
        EXPECT_EQ(Prop(list, "CAMMANUF"), "Make");
        Blob cut(false);
        cut.Header();
        cut.Put(8, cut.U16(2000));
        FPropList none(nullptr, "p");
        EXPECT_FALSE(Read(cut, none));
        EXPECT_FALSE(ReadExif(cut.Data().data(), 0, unsigned(cut.Data().size()), 1u << 31, false, &none));
    }
}

TEST(ExifReader, SubDirectoriesThatLoopEndTheWalk)
{
    for (bool big : {false, true}) {
        Blob b(big);
        b.Header();
        // IFD0 points at itself; the EXIF directory at 200 points back at IFD0 and at itself.
        b.Directory(8, {{271, b.Ascii("Make")}, {34665, b.Long(8)}, {40965, b.Long(200)}});
        b.Directory(200, {{272, b.Ascii("Model")}, {34665, b.Long(8)}, {40965, b.Long(200)}});
        FPropList list(nullptr, "p");
        Read(b, list);
        EXPECT_GE(PropCount(list, "CAMMANUF"), 1);
        EXPECT_LE(PropCount(list, "CAMMANUF") + PropCount(list, "CAMMODEL"), kMaxExifDirectories);
    }
}

TEST(ExifReader, MakerNoteSettingsAndNames)
{
    const std::vector<std::pair<uint16_t, std::string>> texts = {
        {2, "SN12345"},    {7, "Auto"},    {11, "AdobeRGB(1998)"}, {12, "Expo:+1.5"}, {13, "Cont: -0.7"},
        {20, "CC:warm x"}, {21, "Custom"}, {22, "Qual:12"},        {25, "AEB"},       {3, "S"},
    };
    for (bool big : {false, true}) {
        for (const char* name : {"BRISAL", "TALVO", "OTHERCO"}) {
            SCOPED_TRACE(std::string(name) + (big ? " MM" : " II"));
            // The builder places the value right after the directory: at 8 + 2 + 12 + 4 = 26.
            Blob placed(big);
            placed.Header();
            const Bytes at26 = exiftest::MakerNote(big, 26, name, texts);
            placed.Directory(8, {{37500, placed.Undefined(at26)}});
            FPropList list(nullptr, "p");
            EXPECT_TRUE(Read(placed, list));
            if (std::string(name) == "OTHERCO") {
                EXPECT_EQ(Prop(list, "rpColorSpace"), "<absent>");
                EXPECT_EQ(Prop(list, "CAMSERIAL"), "<absent>");
                continue;
            }
            EXPECT_EQ(Prop(list, "CAMSERIAL"), "SN12345");
            EXPECT_EQ(Prop(list, "WB_DESC"), "Auto");
            EXPECT_EQ(Prop(list, "DRIVE"), "S");
            EXPECT_EQ(Prop(list, "rpColorSpace"), "3");
            EXPECT_EQ(Prop(list, "rpExposureCompensation"), "1.5000");
            EXPECT_EQ(Prop(list, "rpContrast"), "-0.7000");
            EXPECT_EQ(Prop(list, "rpColorAdjust"), "warm");
            EXPECT_EQ(Prop(list, "rpSettingMode"), "Custom");
            EXPECT_EQ(Prop(list, "rpQuality"), "12");
            EXPECT_EQ(Prop(list, "BRACKET"), "AEB");
        }
    }
}

TEST(ExifReader, MakerNoteByteOrderAndOffsetRepair)
{
    FDebugTraceCapture trace;
    const std::vector<std::pair<uint16_t, std::string>> texts = {
        {2, "SERIAL-1"}, {21, "Mode one"}, {23, "FW 1.2.3"}, {24, "Soft 9"}};
    {
        // Written big-endian, read little-endian: the count reads 0x0400.
        const Bytes note = exiftest::MakerNote(true, 0, "BRISAL", texts);
        FPropList list(nullptr, "p");
        EXPECT_TRUE(ReadMakerNote(note.data(), 0, unsigned(note.size()), 10, false, &list));
        EXPECT_EQ(Prop(list, "CAMSERIAL"), "SERIAL-1");
        EXPECT_TRUE(trace.Contains("Swapped tag count 4 in MakerNote"));
    }
    {
        // Stored offsets 8 short of where the values are: one correction, values read.
        trace.Clear();
        const Bytes note = exiftest::MakerNote(false, 0, "BRISAL", texts, -8);
        FPropList list(nullptr, "p");
        EXPECT_TRUE(ReadMakerNote(note.data(), 0, unsigned(note.size()), 10, false, &list));
        EXPECT_EQ(Prop(list, "FIRMVERS"), "FW 1.2.3");
        EXPECT_EQ(Prop(list, "rpMNSoftware"), "Soft 9");
        const std::string text = trace.GetText();
        EXPECT_NE(text.find("Fixing to use MakerNote offset correction 8"), std::string::npos);
        EXPECT_EQ(text.find("Fixing to use"), text.rfind("Fixing to use"));
    }
    {
        // A later offset off by another amount stops the reading.
        trace.Clear();
        Bytes note = exiftest::MakerNote(false, 0, "BRISAL", texts, -8);
        const size_t lastOffset = 10 + 2 + 12 * 3 + 8;
        note[lastOffset] = uint8_t(note[lastOffset] - 4);
        FPropList list(nullptr, "p");
        EXPECT_FALSE(ReadMakerNote(note.data(), 0, unsigned(note.size()), 10, false, &list));
        EXPECT_EQ(Prop(list, "FIRMVERS"), "FW 1.2.3");
        EXPECT_EQ(Prop(list, "rpMNSoftware"), "<absent>");
        EXPECT_TRUE(trace.Contains("Initial MakerNote offset correction not working out"));
    }
    {
        // Written without a next-directory field: values found without complaint.
        trace.Clear();
        Blob b(false);
        b.Put(0, Bytes(10, 0));
        std::vector<std::pair<uint16_t, Value>> entries;
        for (const auto& t : texts) {
            entries.push_back({t.first, b.Ascii(t.second)});
        }
        b.Directory(10, entries, 0, false);
        FPropList list(nullptr, "p");
        EXPECT_TRUE(ReadMakerNote(b.Data().data(), 0, unsigned(b.Data().size()), 10, false, &list));
        EXPECT_EQ(Prop(list, "rpSettingMode"), "Mode one");
        EXPECT_FALSE(trace.Contains("Bad offset"));
    }
    {
        // A count that no byte-order swap can fix.
        Bytes note(64, 0);
        note[10] = 0x34;
        note[11] = 0x12;
        FPropList list(nullptr, "p");
        EXPECT_FALSE(ReadMakerNote(note.data(), 0, unsigned(note.size()), 10, false, &list));
    }
}

TEST(ExifTime, ParseAndConvert)
{
    struct Case {
        const char* text;
        unsigned time;
    };
    const Case cases[] = {
        {"2007:12:04 10:20:30", 1196763630u},
        {"1970:01:01 00:00:00", 0u},
        {"2038:01:19 03:14:08", 2147483648u},
        {"2100:03:01 00:00:00", 4107542400u},
        {"2105:12:31 23:59:59", 4291747199u},
        {"2106:01:01 00:00:00", 0u},
        {"1969:12:31 23:59:59", 0u},
        {"2007:12:04", 0u},
        {"2007:13:04 10:20:30", 0u},
        {"9999999999:01:01 00:00:00", 0u},
        {"", 0u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseExifDateTime(c.text), c.time) << c.text;
    }
    for (const Case& c : cases) {
        if (c.time == 0) {
            continue;
        }
        std::tm tm{};
        ExifUniversalTime(c.time, &tm);
        char text[20];
        FormatExifDate(&tm, text);
        EXPECT_STREQ(text, c.text);
    }
    ExifUniversalTime(0, nullptr);
    std::tm local{};
    ExifLocalTime(1196763630u, &local);
    EXPECT_EQ(local.tm_year, 107);
    char now[20];
    FormatExifNow(now);
    EXPECT_EQ(ParseExifDateTime(now) != 0, true) << now;
}
