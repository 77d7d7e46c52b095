// Files of the TIFF line writer read by independent command-line readers.

#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffLineWriter.h"
#include "FWideString.h"
#include "RawTestFolder.h"
#include "TiffTestFiles.h"
#include "TiffTestUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using tifftest::HaveTool;
using tifftest::RunCommand;
using tifftest::ShellQuote;

void PutBe32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (24 - 8 * i));
}

void PutText(std::vector<uint8_t>& b, size_t at, const char* text)
{
    for (size_t i = 0; text[i]; ++i)
        b[at + i] = uint8_t(text[i]);
}

// A small display profile: a valid header and one copyright text.
std::vector<uint8_t> TestProfile()
{
    const char copyright[] = "Test profile";
    const size_t textAt = 144;
    const size_t textSize = 8 + sizeof(copyright);
    std::vector<uint8_t> p((textAt + textSize + 3) & ~size_t(3), 0);
    PutBe32(p, 0, uint32_t(p.size()));
    PutBe32(p, 8, 0x02100000); // version 2.1
    PutText(p, 12, "mntr");
    PutText(p, 16, "RGB ");
    PutText(p, 20, "XYZ ");
    p[24] = 0x07;
    p[25] = 0xEA; // 2026
    p[27] = 12;
    p[29] = 10;
    PutText(p, 36, "acsp");
    PutBe32(p, 68, 0x0000F6D6); // D50
    PutBe32(p, 72, 0x00010000);
    PutBe32(p, 76, 0x0000D32D);
    PutBe32(p, 128, 1);
    PutText(p, 132, "cprt");
    PutBe32(p, 136, uint32_t(textAt));
    PutBe32(p, 140, uint32_t(textSize));
    PutText(p, textAt, "text");
    PutText(p, textAt + 8, copyright);
    return p;
}

// "[Group] Name : value" lines of the tool's short listing, keyed "Group:Name".
std::map<std::string, std::string> ParseListing(const std::string& text)
{
    std::map<std::string, std::string> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t close = line.find(']');
        const size_t colon = line.find(" : ");
        if (line.empty() || line[0] != '[' || close == std::string::npos || colon == std::string::npos)
            continue;
        std::string name = line.substr(close + 1, colon - close - 1);
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        out[line.substr(1, close - 1) + ":" + name] = line.substr(colon + 3);
    }
    return out;
}

class TiffToolsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_path = m_folder.NativePath("tools.tif");
        FPropList props(nullptr, "props");
        props.AddProp("CAMMANUF", "TALVO");
        props.AddProp("CAMMODEL", "Model 2");
        props.AddProp("rpSoftware", "Rawbench");
        props.AddProp("SH_DESC", "1/250");
        props.AddProp("AP_DESC", "5.6");
        props.AddProp("ISO", "400");
        props.AddProp("FLENGTH", "50");
        props.AddProp("TIME", "1196763630");
        props.AddProp("rpExposureCompensation", "0.5");
        m_profile = TestProfile();
        tifftest::TestPixmap thumb(7, 160, 107, 480);
        FTiffLineWriter writer(m_folder.URL("tools.tif"), true);
        writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_48_RGB);
        writer.WriteThumbnail(thumb.Get());
        writer.WriteTags(&props);
        writer.WriteProfile(unsigned(m_profile.size()), m_profile.data());
        std::vector<uint16_t> row(kCols * 3);
        for (int y = 0; y < kRows; ++y) {
            for (int i = 0; i < kCols * 3; ++i)
                row[i] = uint16_t(y * 1021 + i * 257);
            writer.WriteLine(row.data(), FPixmap::PIXEL_48_RGB);
        }
        writer.Finish();
    }

    static constexpr int kCols = 96;
    static constexpr int kRows = 64;
    rawtest::RawTestFolder m_folder;
    std::string m_path;
    std::vector<uint8_t> m_profile;
};

TEST_F(TiffToolsTest, TiffinfoAndTiffdumpReadTheWritersFile)
{
    ASSERT_TRUE(HaveTool("tiffinfo") && HaveTool("tiffdump"))
        << "tiffinfo and tiffdump are missing: install libtiff-tools (scripts/setup.sh)";
    bool ok = false;
    const std::string info = RunCommand("tiffinfo " + ShellQuote(m_path) + " 2>&1", ok);
    EXPECT_TRUE(ok) << info;
    for (const char* expected : {"Image Width: 96 Image Length: 64", "Bits/Sample: 16", "Samples/Pixel: 3",
                                 "Photometric Interpretation: RGB", "Compression Scheme: None", "Make: TALVO",
                                 "Model: Model 2", "Resolution: 180, 180 pixels/inch",
                                 "Photoshop Data: <present>, 51400 bytes", "EXIFIFDOffset:", "Tag 37717:"}) {
        EXPECT_NE(info.find(expected), std::string::npos) << expected << "\n" << info;
    }
    EXPECT_NE(info.find("ICC Profile: <present>, " + std::to_string(m_profile.size()) + " bytes"),
              std::string::npos)
        << info;

    const std::string dump = RunCommand("tiffdump " + ShellQuote(m_path) + " 2>&1", ok);
    EXPECT_TRUE(ok) << dump;
    EXPECT_NE(dump.find("Magic: 0x4949 <little-endian>"), std::string::npos) << dump;
    EXPECT_NE(dump.find("37717 (0x9355) LONG (4)"), std::string::npos) << dump;
    EXPECT_NE(dump.find("34665 (0x8769)"), std::string::npos) << dump;
    EXPECT_NE(dump.find("BitsPerSample (258) SHORT (3) 3<16 16 16>"), std::string::npos) << dump;
}

TEST_F(TiffToolsTest, ExiftoolReadsTheExifDirectoryProfileAndPrivateTag)
{
    ASSERT_TRUE(HaveTool("exiftool"))
        << "exiftool is missing: install libimage-exiftool-perl (scripts/setup.sh)";
    bool ok = false;
    const std::string text = RunCommand("exiftool -a -u -G1 -s " + ShellQuote(m_path) + " 2>&1", ok);
    ASSERT_TRUE(ok) << text;
    const std::map<std::string, std::string> tags = ParseListing(text);
    auto tag = [&](const std::string& key) {
        auto it = tags.find(key);
        return it == tags.end() ? std::string("<absent>") : it->second;
    };
    EXPECT_EQ(tag("ExifIFD:ExposureTime"), "1/250") << text;
    EXPECT_EQ(tag("ExifIFD:FNumber"), "5.6");
    EXPECT_EQ(tag("ExifIFD:ISO"), "400");
    EXPECT_EQ(tag("ExifIFD:DateTimeOriginal"), "2007:12:04 10:20:30");
    EXPECT_EQ(tag("ExifIFD:FocalLength"), "50.0 mm");
    EXPECT_EQ(tag("ExifIFD:ExifImageWidth"), "96");
    EXPECT_EQ(tag("ExifIFD:ExifImageHeight"), "64");
    // The maker note's entries are found at their relocated offsets.
    EXPECT_EQ(tag("MakerUnknown:Unknown_0x000c"), "Expo:+0.5") << text;

    EXPECT_EQ(tag("ICC-header:ProfileVersion"), "2.1.0") << text;
    EXPECT_EQ(tag("ICC-header:ProfileClass"), "Display Device Profile");
    EXPECT_EQ(tag("ICC-header:ColorSpaceData"), "RGB");
    EXPECT_EQ(tag("ICC_Profile:ProfileCopyright"), "Test profile");

    EXPECT_EQ(tag("IFD0:Make"), "TALVO");
    const std::string blob = tag("IFD0:Exif_0x9355");
    EXPECT_EQ(blob.rfind("1986359857 ", 0), 0u) << "the tag set's magic word first: " << blob;
    EXPECT_NE(tag("Photoshop:PhotoshopBGRThumbnail"), "<absent>") << text;
    EXPECT_EQ(text.find("Warning"), std::string::npos) << text;
}

} // namespace
