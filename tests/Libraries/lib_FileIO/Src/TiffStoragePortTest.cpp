#include "TiffStoragePort.h"
#include "FDebugTrace.h"
#include "FTiffImageReader.h"
#include "FWideString.h"
#include "RawTestFolder.h"
#include "TiffTestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace
{

class TiffPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tifftest::TiffLayout layout;
        tifftest::WriteTiff(m_folder.NativePath("a.tif"), layout,
                            [](uint32_t x, uint32_t, uint32_t) { return x; });
        m_size = std::filesystem::file_size(m_folder.NativePath("a.tif"));
    }
    uint64_t SizeOnDisk(const std::string& name) const
    {
        return std::filesystem::file_size(m_folder.NativePath(name));
    }
    static toff_t Seek(TIFF* tif, toff_t offset, int whence)
    {
        return TIFFGetSeekProc(tif)(TIFFClientdata(tif), offset, whence);
    }
    static toff_t Size(TIFF* tif) { return TIFFGetSizeProc(tif)(TIFFClientdata(tif)); }

    rawtest::RawTestFolder m_folder;
    uint64_t m_size = 0;
};

TEST_F(TiffPortTest, SeekPastTheEndGrowsOnlyFilesOpenForWriting)
{
    TIFF* reading = TIFFOpenURL(m_folder.URL("a.tif"), "r");
    ASSERT_NE(reading, nullptr);
    EXPECT_EQ(Seek(reading, m_size + 100, SEEK_SET), static_cast<toff_t>(-1));
    EXPECT_EQ(Seek(reading, 100, SEEK_END), static_cast<toff_t>(-1));
    EXPECT_EQ(Size(reading), m_size);
    EXPECT_EQ(Seek(reading, static_cast<toff_t>(-4), SEEK_END), m_size - 4);
    EXPECT_EQ(Seek(reading, static_cast<toff_t>(-10), SEEK_CUR), m_size - 14);
    EXPECT_EQ(Seek(reading, static_cast<toff_t>(-1), SEEK_SET), static_cast<toff_t>(-1));
    EXPECT_EQ(Seek(reading, static_cast<toff_t>(-(int64_t(m_size) + 1)), SEEK_END), static_cast<toff_t>(-1));
    EXPECT_EQ(Seek(reading, 0, 7), m_size - 14) << "an unknown origin only reports the position";
    TIFFClose(reading);
    EXPECT_EQ(SizeOnDisk("a.tif"), m_size);

    TIFF* writing = TIFFOpenURL(m_folder.URL("b.tif"), "wl");
    ASSERT_NE(writing, nullptr);
    EXPECT_EQ(Seek(writing, 100, SEEK_SET), 100u);
    EXPECT_EQ(Size(writing), 100u);
    EXPECT_EQ(Seek(writing, 20, SEEK_CUR), 120u);
    EXPECT_EQ(Size(writing), 120u);
    EXPECT_EQ(Seek(writing, 4, SEEK_END), 124u);
    EXPECT_EQ(Size(writing), 124u);
    TIFFClose(writing);
}

TEST_F(TiffPortTest, ModesMapToStorageModes)
{
    // Update and append keep the contents; write truncates.
    for (const char* mode : {"r+", "a"}) {
        TIFF* tif = TIFFOpenURL(m_folder.URL("a.tif"), mode);
        ASSERT_NE(tif, nullptr) << mode;
        TIFFClose(tif);
        FTiffImageReader reader(m_folder.URL("a.tif"));
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        EXPECT_EQ(cols, 4) << mode;
    }
    TIFF* tif = TIFFOpenURL(m_folder.URL("a.tif"), "w");
    ASSERT_NE(tif, nullptr);
    TIFFClose(tif);
    EXPECT_LT(SizeOnDisk("a.tif"), m_size);

    for (const char* mode : {"x", "", "+r"})
        EXPECT_EQ(TIFFOpenURL(m_folder.URL("c.tif"), mode), nullptr) << mode;
    EXPECT_FALSE(m_folder.Exists("c.tif"));
}

TEST_F(TiffPortTest, OpenFailuresReachTheLogAndReleaseTheFile)
{
    FDebugTraceCapture capture;
    EXPECT_EQ(TIFFOpenURL(m_folder.URL("missing.tif"), "r"), nullptr);
    EXPECT_TRUE(capture.Contains("TIFFOpen: Cannot open file.\n")) << capture.GetText();
    EXPECT_EQ(TIFFOpenURL(FWideString("nosuchclass://x.tif"), "r"), nullptr);

    capture.Clear();
    m_folder.Write("junk.tif", rawtest::Bytes(64, 0x49));
    EXPECT_EQ(TIFFOpenURL(m_folder.URL("junk.tif"), "r"), nullptr);
    EXPECT_FALSE(capture.GetText().empty()) << "the library's message is logged";
    // The file was released: it can be replaced at once.
    std::filesystem::remove(m_folder.NativePath("junk.tif"));
    EXPECT_FALSE(m_folder.Exists("junk.tif"));
}

} // namespace
