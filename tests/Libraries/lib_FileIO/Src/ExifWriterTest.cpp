#include "ExifWriter.h"
#include "ExifReader.h"
#include "ExifTestBlob.h"
#include "FException.h"
#include "FPropList.h"

#include <gtest/gtest.h>

using exiftest::AsciiLE;
using exiftest::RationalLE;
using exiftest::ReadDirectoryLE;

namespace
{

struct Written {
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kExifBufferSize, 0xFF);
    unsigned end = 0;
    std::map<uint16_t, exiftest::Entry> entries;
    const uint8_t* Base() const { return buffer.data(); }
};

Written Write(FPropList& list, unsigned at = 0)
{
    Written w;
    w.end = WriteExif(w.buffer.data(), at, &list, 640, 480);
    w.entries = ReadDirectoryLE(w.buffer.data(), at);
    return w;
}

std::string Prop(const FPropList& list, const char* name)
{
    const FPropPair* p = list.FindProp(name);
    return p != nullptr ? std::string(p->GetValue().GetNarrow()) : std::string("<absent>");
}

} // namespace

TEST(ExifWriter, EmptyListGivesDefaults)
{
    FPropList list(nullptr, "p");
    const Written w = Write(list);
    EXPECT_EQ(w.end, 1235u);
    ASSERT_EQ(w.entries.size(), 26u);
    EXPECT_EQ(exiftest::NextDirectoryLE(w.Base(), 0), 0u);
    EXPECT_EQ(RationalLE(w.Base(), w.entries.at(33434)), std::make_pair(1, 1));
    EXPECT_EQ(w.entries.at(40961).value & 0xFFFF, 65535u);
    EXPECT_EQ(AsciiLE(w.Base(), w.entries.at(36867)), "1970:01:01 00:00:00");
    EXPECT_EQ(w.entries.at(40962).value, 640u);
    EXPECT_EQ(w.entries.at(40963).value, 480u);
    EXPECT_EQ(AsciiLE(w.Base(), w.entries.at(42016)), std::string(32, '0').replace(0, 1, " "));
    const exiftest::Entry& note = w.entries.at(37500);
    EXPECT_EQ(note.type, 7);
    EXPECT_EQ(note.count, kMakerNoteSpan);
    EXPECT_EQ(std::memcmp(w.Base() + note.value, "BRISAL\0\0", 8), 0);
    // The maker note's own texts default to " ", sitting inside their entries.
    const auto noteEntries = ReadDirectoryLE(w.Base(), note.value + 10);
    ASSERT_EQ(noteEntries.size(), 23u);
    EXPECT_EQ(AsciiLE(w.Base(), noteEntries.at(2)), " ");
    EXPECT_EQ(AsciiLE(w.Base(), noteEntries.at(11)), "Identity");
    EXPECT_EQ(AsciiLE(w.Base(), noteEntries.at(12)), "Expo:+0.0");
    EXPECT_EQ(AsciiLE(w.Base(), noteEntries.at(22)), "Qual: 0");
}

TEST(ExifWriter, ValueEncodings)
{
    struct Case {
        const char* property;
        const char* value;
        uint16_t tag;
        int32_t numerator;
        int32_t denominator;
    };
    const Case cases[] = {
        {"SH_DESC", "1/250", 33434, 1, 250},
        {"SH_DESC", "0.5", 33434, 5, 10},
        {"SH_DESC", "8", 33434, 8, 1},
        {"SH_DESC", "BULB", 33434, 0, 1},
        {"AP_DESC", "5.6", 33437, 56, 10},
        {"EXPNET", "0.3", 37380, 3, 10},
        {"EXPNET", "0.7", 37380, 7, 10},
        {"EXPNET", "-1", 37380, -10, 10},
        {"LENSARANGE", "2.8 to 4.5", 37381, 43, 10},
        {"LENSARANGE", "junk", 37381, 0, 10},
        {"FLENGTH", "50", 37386, 50, 1},
        {"FLENGTH", "24.56", 37386, 245, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.property) + " " + c.value);
        FPropList list(nullptr, "p");
        list.AddProp(c.property, c.value);
        const Written w = Write(list);
        EXPECT_EQ(RationalLE(w.Base(), w.entries.at(c.tag)), std::make_pair(c.numerator, c.denominator));
    }
    FPropList list(nullptr, "p");
    list.AddProp("rpUniqueID", "0123456789ABCDEF");
    list.AddProp("PMODE", "M");
    list.AddProp("rpColorSpace", "2");
    list.AddProp("WB_DESC", "Auto");
    list.AddProp("CAMMANUF", "TALVO");
    const Written w = Write(list);
    EXPECT_EQ(AsciiLE(w.Base(), w.entries.at(42016)), "0123456789ABCDEF0000000000000000");
    EXPECT_EQ(w.entries.at(34850).value & 0xFFFF, 1u);
    EXPECT_EQ(w.entries.at(41986).value & 0xFFFF, 1u);
    EXPECT_EQ(w.entries.at(40961).value & 0xFFFF, 1u);
    EXPECT_EQ(w.entries.at(41987).value & 0xFFFF, 0u);
    EXPECT_EQ(std::memcmp(w.Base() + w.entries.at(37500).value, "TALVO\0\0\0", 8), 0);
}

TEST(ExifWriter, RoundTripThroughTheReader)
{
    FPropList source(nullptr, "p");
    const std::pair<const char*, const char*> pairs[] = {
        {"SH_DESC", "1/250"},
        {"AP_DESC", "5.6"},
        {"ISO", "400"},
        {"TIME", "1196763630"},
        {"EXPNET", "-0.7"},
        {"FLENGTH", "35"},
        {"FLASH", "ON"},
        {"AEMODE", "C"},
        {"PMODE", "S"},
        {"CAMSERIAL", "SN-0042"},
        {"WB_DESC", "Daylight"},
        {"LENSFRANGE", "18-55mm"},
        {"rpColorSpace", "3"},
        {"rpExposureCompensation", "1.5"},
        {"rpContrast", "-0.3"},
        {"rpShadow", "0.2"},
        {"rpHighlight", "-1"},
        {"rpSaturation", "0.5"},
        {"rpSharpness", "1"},
        {"rpFillFlash", "0.4"},
        {"rpColorAdjust", "warm"},
        {"rpSettingMode", "Portrait"},
        {"rpQuality", "9"},
        {"FIRMVERS", "1.02"},
        {"rpMNSoftware", "Rawbench"},
        {"BRACKET", "3 frames"},
        {"rpUniqueID", "00112233445566778899AABBCCDDEEFF"},
    };
    for (const auto& p : pairs) {
        source.AddProp(p.first, p.second);
    }
    Written w = Write(source, 8);
    FPropList read(nullptr, "r");
    EXPECT_TRUE(ReadExif(w.Base(), 0, w.end, 8, false, &read));
    const std::pair<const char*, const char*> expected[] = {
        {"SH_DESC", "1/250"},
        {"AP_DESC", "5.6"},
        {"ISO", "400"},
        {"TIME", "1196763630"},
        {"EXPNET", "-0.7"},
        {"FLENGTH", "35"},
        {"FLASH", "ON"},
        {"AEMODE", "C"},
        {"PMODE", "S"},
        {"COLS", "640"},
        {"ROWS", "480"},
        {"CAMSERIAL", "SN-0042"},
        {"WB_DESC", "Daylight"},
        {"LENSFRANGE", "18-55mm"},
        {"rpColorSpace", "3"},
        {"rpExposureCompensation", "1.5000"},
        {"rpContrast", "-0.3000"},
        {"rpShadow", "0.2000"},
        {"rpHighlight", "-1.0000"},
        {"rpSaturation", "0.5000"},
        {"rpSharpness", "1.0000"},
        {"rpFillFlash", "0.4000"},
        {"rpColorAdjust", "warm"},
        {"rpSettingMode", "Portrait"},
        {"rpQuality", "9"},
        {"FIRMVERS", "1.02"},
        {"rpMNSoftware", "Rawbench"},
        {"BRACKET", "3 frames"},
        {"rpUniqueID", "00112233445566778899AABBCCDDEEFF"},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(Prop(read, e.first), e.second) << e.first;
    }
}

TEST(ExifWriter, LongTextsStayInsideTheMakerNoteAndTheBuffer)
{
    FPropList list(nullptr, "p");
    list.AddProp("CAMSERIAL", std::string(300, 'S').c_str());
    list.AddProp("FIRMVERS", std::string(400, 'F').c_str());
    list.AddProp("rpMNSoftware", std::string(5000, 'M').c_str());
    const Written w = Write(list);
    // Nothing past the fixed layout: the directory after the maker note is intact.
    EXPECT_EQ(w.end, 1235u);
    EXPECT_EQ(AsciiLE(w.Base(), w.entries.at(42016)), " " + std::string(31, '0'));
    FPropList read(nullptr, "r");
    ReadExif(w.Base(), 0, w.end, 0, false, &read);
    EXPECT_EQ(Prop(read, "CAMSERIAL"), std::string(300, 'S'));
    const std::string firmware = Prop(read, "FIRMVERS");
    EXPECT_LT(firmware.size(), 400u);
    EXPECT_EQ(firmware, std::string(firmware.size(), 'F'));
    // A buffer too small for the directory is refused before anything is written.
    std::vector<uint8_t> small(1000, 0xFF);
    EXPECT_THROW(WriteExif(small.data(), 0, &list, 1, 1, unsigned(small.size())), FException);
    EXPECT_EQ(small, std::vector<uint8_t>(1000, 0xFF));
}
