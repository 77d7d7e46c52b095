#include "FTiffLineWriter.h"
#include "FBrisalTag.h"
#include "FException.h"
#include "FHasProperties.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffImageReader.h"
#include "FWideString.h"
#include "RawTestFolder.h"
#include "TiffStoragePort.h"
#include "TiffTestFiles.h"
#include "TiffTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace
{

using tifftest::TestPixmap;
using tifftest::U16;

// Reads a file with the library directly, as an independent reader.
class RawTiff
{
public:
    explicit RawTiff(const std::string& path)
    {
        InstallTiffHandlers(); // knows the private tag
        m_tif = TIFFOpen(path.c_str(), "r");
    }
    ~RawTiff()
    {
        if (m_tif)
            TIFFClose(m_tif);
    }
    TIFF* Get() const { return m_tif; }
    uint16_t Short(ttag_t tag) const
    {
        uint16_t v = 0;
        TIFFGetField(m_tif, tag, &v);
        return v;
    }
    std::string Text(ttag_t tag) const
    {
        char* v = nullptr;
        return TIFFGetField(m_tif, tag, &v) && v ? v : "<absent>";
    }
    float Float(ttag_t tag) const
    {
        float v = 0;
        TIFFGetField(m_tif, tag, &v);
        return v;
    }
    std::vector<uint8_t> Bytes(ttag_t tag) const
    {
        uint32_t n = 0;
        void* data = nullptr;
        if (!TIFFGetField(m_tif, tag, &n, &data) || !data)
            return {};
        const uint8_t* p = static_cast<const uint8_t*>(data);
        return std::vector<uint8_t>(p, p + n);
    }
    // The private tag's words as the blob's little-endian bytes, unscrambled.
    tifftest::ParsedBlob TagSet() const
    {
        uint32_t n = 0;
        uint32_t* words = nullptr;
        if (!TIFFGetField(m_tif, kTiffTagBrisal, &n, &words) || !words) {
            tifftest::ParsedBlob none;
            none.error = "no private tag";
            return none;
        }
        std::vector<uint8_t> blob(size_t(n) * 4);
        for (uint32_t i = 0; i < n; ++i)
            for (int b = 0; b < 4; ++b)
                blob[4 * i + b] = uint8_t(words[i] >> (8 * b));
        return tifftest::ParseBlob(
            tifftest::Unscramble(blob, kBrisalTagKeyK1, kBrisalTagKeyK2, kBrisalTagKeyK3));
    }
    std::vector<uint8_t> Row(uint32_t y) const
    {
        std::vector<uint8_t> row(size_t(TIFFScanlineSize64(m_tif)));
        if (TIFFReadScanline(m_tif, row.data(), y, 0) < 0)
            row.clear();
        return row;
    }

private:
    TIFF* m_tif = nullptr;
};

class TiffWriterTest : public ::testing::Test
{
protected:
    std::string Path(const std::string& name) const { return m_folder.NativePath(name); }
    FWideString URL(const std::string& name) const { return m_folder.URL(name); }

    // Writes rows of `rowType` made by `fill` into a file of `fileType`.
    void Write(const std::string& name, int cols, int rows, int fileType, int rowType,
               const std::function<void(int y, uint8_t* row)>& fill,
               const std::function<void(FTiffLineWriter&)>& extra = nullptr)
    {
        FTiffLineWriter writer(URL(name), true);
        writer.SetDimensions(cols, rows, fileType);
        if (extra)
            extra(writer);
        std::vector<uint8_t> row(size_t(cols) * GetPixelTypeBytesPerPixel(rowType));
        for (int y = 0; y < rows; ++y) {
            fill(y, row.data());
            writer.WriteLine(row.data(), rowType);
        }
        writer.Finish();
    }

    rawtest::RawTestFolder m_folder;
};

TEST_F(TiffWriterTest, EachPixelTypeHasItsLayoutAndRowsComeBackByteForByte)
{
    const struct {
        int type;
        uint16_t bits, samples, photometric, extra;
    } cases[] = {{1, 8, 1, PHOTOMETRIC_MINISBLACK, 0},
                 {3, 16, 1, PHOTOMETRIC_MINISBLACK, 0},
                 {7, 8, 3, PHOTOMETRIC_RGB, 0},
                 {8, 8, 4, PHOTOMETRIC_RGB, 1},
                 {15, 16, 3, PHOTOMETRIC_RGB, 0}};
    std::mt19937 random(7);
    for (const auto& c : cases) {
        const std::string name = "t" + std::to_string(c.type) + ".tif";
        const int cols = 37, rows = 19, bpp = GetPixelTypeBytesPerPixel(c.type);
        std::vector<uint8_t> pixels(size_t(cols) * rows * bpp);
        for (uint8_t& b : pixels)
            b = uint8_t(random());
        if (c.type == 8) {
            const uint8_t first[4] = {0x60, 0x40, 0x20, 0xE5};
            std::memcpy(pixels.data(), first, 4);
        }
        Write(name, cols, rows, c.type, c.type, [&](int y, uint8_t* row) {
            std::memcpy(row, &pixels[size_t(y) * cols * bpp], size_t(cols) * bpp);
        });

        RawTiff raw(Path(name));
        ASSERT_NE(raw.Get(), nullptr) << name;
        EXPECT_EQ(raw.Short(TIFFTAG_BITSPERSAMPLE), c.bits) << name;
        EXPECT_EQ(raw.Short(TIFFTAG_SAMPLESPERPIXEL), c.samples) << name;
        EXPECT_EQ(raw.Short(TIFFTAG_PHOTOMETRIC), c.photometric) << name;
        EXPECT_EQ(raw.Short(TIFFTAG_COMPRESSION), COMPRESSION_NONE) << name;
        EXPECT_EQ(raw.Short(TIFFTAG_PLANARCONFIG), PLANARCONFIG_CONTIG) << name;
        uint16_t extraCount = 0;
        uint16_t* extraKinds = nullptr;
        TIFFGetFieldDefaulted(raw.Get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
        EXPECT_EQ(extraCount, c.extra) << name;
        if (c.extra) {
            EXPECT_EQ(extraKinds[0], EXTRASAMPLE_UNSPECIFIED);
        }
        for (int y = 0; y < rows; ++y) {
            const std::vector<uint8_t> row = raw.Row(uint32_t(y));
            ASSERT_EQ(row.size(), size_t(cols) * bpp) << name;
            EXPECT_EQ(std::memcmp(row.data(), &pixels[size_t(y) * cols * bpp], row.size()), 0)
                << name << " y" << y;
        }

        FTiffImageReader reader(URL(name));
        int readCols = 0, readRows = 0, native = 0;
        reader.GetDimensions(readCols, readRows, native);
        EXPECT_EQ(native, c.type) << name;
        TestPixmap back(c.type, cols, rows);
        reader.ReadImage(back.Get());
        EXPECT_EQ(back.Bytes(), pixels) << name;
    }
}

TEST_F(TiffWriterTest, SixteenBitFilesKeepEveryBit)
{
    const int cols = 256, rows = 256;
    // Every 16-bit value occurs in every channel.
    auto value = [](int x, int y, int c) { return uint16_t((y * 256 + x) * 40503u + c * 21845u); };
    Write("deep.tif", cols, rows, 15, 15, [&](int y, uint8_t* row) {
        for (int x = 0; x < cols; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint16_t v = value(x, y, c);
                std::memcpy(row + (x * 3 + c) * 2, &v, 2);
            }
    });
    Write("gray.tif", cols, rows, 3, 3, [&](int y, uint8_t* row) {
        for (int x = 0; x < cols; ++x) {
            const uint16_t v = uint16_t(y * 256 + x);
            std::memcpy(row + x * 2, &v, 2);
        }
    });

    TestPixmap rgb(15, cols, rows);
    FTiffImageReader(URL("deep.tif")).ReadImage(rgb.Get());
    TestPixmap gray(3, cols, rows);
    FTiffImageReader(URL("gray.tif")).ReadImage(gray.Get());
    int mismatches = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            for (int c = 0; c < 3; ++c)
                mismatches += U16(rgb.Row(y) + (x * 3 + c) * 2) != value(x, y, c);
            mismatches += U16(gray.Row(y) + x * 2) != y * 256 + x;
        }
    EXPECT_EQ(mismatches, 0);

    RawTiff raw(Path("deep.tif"));
    const std::vector<uint8_t> last = raw.Row(rows - 1);
    ASSERT_EQ(last.size(), size_t(cols) * 6);
    EXPECT_EQ(U16(&last[(cols - 1) * 6 + 4]), value(cols - 1, rows - 1, 2));
}

TEST_F(TiffWriterTest, RowsOfOtherTypesAreConvertedToTheFileType)
{
    const struct {
        int file;
        int row;
        std::vector<uint8_t> in;
        std::vector<uint8_t> out;
    } cases[] = {
        {3, 1, {0xAB}, {0x00, 0xAB}},                                      // << 8
        {3, 2, {0xBC, 0x0A}, {0xC0, 0xAB}},                                // << 4
        {3, 4, {0xCD, 0xAB}, {0xCD, 0xAB}},                                // unchanged
        {3, 5, {0xBC, 0x0A, 0x0F, 0x00}, {0xC0, 0xAB}},                    // low 16 bits << 4
        {7, 6, {1, 2, 3}, {3, 2, 1}},                                      // BGR reordered
        {7, 13, {1, 2, 3, 4}, {3, 2, 1}},                                  // BGRA
        {7, 15, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}, {0x12, 0x56, 0x9A}}, // >> 8
        {7, 17, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}, {0x9A, 0x56, 0x12}}, // BGR words
        {7, 8, {0x60, 0x40, 0x20, 0xE5}, {0x60, 0x40, 0x20}},              // top 8 of 11 bits
        {8, 7, {0x60, 0x40, 0x20}, {0x60, 0x40, 0x20, 0x00}},              // low bits 0
        {8, 11, {9, 0x60, 0x40, 0x20}, {0x60, 0x40, 0x20, 0x00}},
        {8, 15, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}},
        {15, 7, {0x12, 0x56, 0x9A}, {0x00, 0x12, 0x00, 0x56, 0x00, 0x9A}},       // v x 256
        {15, 8, {0x60, 0x40, 0x20, 0xE5}, {0xE0, 0x60, 0x20, 0x40, 0x40, 0x20}}, // 11 bits << 5
        {15, 16, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {15, 17, {1, 2, 3, 4, 5, 6}, {5, 6, 3, 4, 1, 2}},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string name = "c" + std::to_string(i++) + ".tif";
        Write(name, 1, 1, c.file, c.row,
              [&](int, uint8_t* row) { std::memcpy(row, c.in.data(), c.in.size()); });
        RawTiff raw(Path(name));
        EXPECT_EQ(raw.Row(0), c.out) << c.file << " <- " << c.row;
    }
}

TEST_F(TiffWriterTest, UnconvertibleRowsAndMisuseThrowTheWritersExceptions)
{
    const struct {
        int file;
        int row;
        const char* message;
    } refused[] = {{1, 3, "TiffLineWriter: Unknown source pixel type"},
                   {1, 7, "TiffLineWriter: Unknown source pixel type"},
                   {3, 7, "TiffLineWriter: Cannot convert source to dest pixel type."},
                   {7, 1, "TiffLineWriter: Cannot convert source to dest pixel type."},
                   {15, 18, "TiffLineWriter: Cannot convert source to dest pixel type."},
                   {8, 3, "TiffLineWriter: Cannot convert source to dest pixel type."}};
    for (const auto& c : refused) {
        FTiffLineWriter writer(URL("r.tif"), false);
        writer.SetDimensions(2, 1, c.file);
        const std::vector<uint8_t> row(64, 0);
        try {
            writer.WriteLine(row.data(), c.row);
            ADD_FAILURE() << c.file << " <- " << c.row;
        } catch (const FExceptionUnknownPixelType& e) {
            EXPECT_STREQ(e.GetMessage(), c.message);
        }
    }

    FTiffLineWriter writer(URL("u.tif"), false);
    const uint8_t row[8] = {};
    try {
        writer.WriteLine(row, 7);
        ADD_FAILURE();
    } catch (const FExceptionWriteUninitialized& e) {
        EXPECT_STREQ(e.GetMessage(), "TiffLineWriter");
    }
    for (int type : {0, 2, 6, 16, 20}) {
        try {
            writer.SetDimensions(4, 4, type);
            ADD_FAILURE() << type;
        } catch (const FExceptionUnknownPixelType& e) {
            EXPECT_STREQ(e.GetMessage(), "TiffLineWriter: while setting dimensions");
        }
    }
    EXPECT_THROW(writer.SetDimensions(0, 4, 7), FExceptionFileWrite);
    EXPECT_THROW(writer.SetDimensions(4, -1, 7), FExceptionFileWrite);

    try {
        FTiffLineWriter nowhere(URL("no/such/folder/x.tif"), true);
        ADD_FAILURE();
    } catch (const FExceptionFileOpen& e) {
        EXPECT_NE(std::string(e.GetMessage()).find("x.tif"), std::string::npos) << e.GetMessage();
    }
}

TEST_F(TiffWriterTest, SizesPastWhatTheFormatHoldsAreRefusedBeforeWriting)
{
    const std::vector<uint8_t> old{'o', 'l', 'd'};
    m_folder.Write("huge.tif", old);
    {
        FTiffLineWriter writer(URL("huge.tif"), true);
        try {
            writer.SetDimensions(65535, 65535, FPixmap::PIXEL_48_RGB);
            ADD_FAILURE() << "a 24 GB file was begun";
        } catch (const FExceptionFileWrite& e) {
            EXPECT_NE(std::string(e.GetMessage()).find("more than a TIFF file can hold"), std::string::npos)
                << e.GetMessage();
        }
        // The largest that fits is still taken.
        writer.SetDimensions(32768, 21000, FPixmap::PIXEL_48_RGB);
    }
    EXPECT_EQ(m_folder.Read("huge.tif"), old);
}

TEST_F(TiffWriterTest, FewerRowsThanAnnouncedAreRefusedAndTheOldFileStays)
{
    const std::vector<uint8_t> old{'o', 'l', 'd'};
    m_folder.Write("short.tif", old);
    {
        FTiffLineWriter writer(URL("short.tif"), true);
        writer.SetDimensions(8, 2000, 7);
        std::vector<uint8_t> row(24, 0x5A);
        for (int y = 0; y < 700; ++y)
            writer.WriteLine(row.data(), 7);
        EXPECT_THROW(writer.Finish(), FExceptionTIFF);
    }
    EXPECT_EQ(m_folder.Read("short.tif"), old);
}

// The library holds one strip in memory: strips stay small whatever the image.
TEST_F(TiffWriterTest, StripsHoldAFewRowsOnly)
{
    Write("strips.tif", 3000, 40, 15, 15, [](int y, uint8_t* row) { std::memset(row, y, 3000 * 6); });
    Write("narrow.tif", 8, 3000, 7, 7, [](int y, uint8_t* row) { std::memset(row, y, 24); });
    Write("huge.tif", 40000, 2, 15, 15, [](int y, uint8_t* row) { std::memset(row, y, 40000 * 6); });
    RawTiff wide(Path("strips.tif"));
    ASSERT_NE(wide.Get(), nullptr);
    EXPECT_EQ(TIFFNumberOfStrips(wide.Get()), 14u); // 18000 bytes a row: three rows a strip
    EXPECT_EQ(wide.Row(39), std::vector<uint8_t>(3000 * 6, 39));
    RawTiff narrow(Path("narrow.tif"));
    ASSERT_NE(narrow.Get(), nullptr);
    EXPECT_LE(TIFFStripSize(narrow.Get()), kTiffStripBytes);
    EXPECT_GT(TIFFNumberOfStrips(narrow.Get()), 1u);
    EXPECT_EQ(narrow.Row(2999), std::vector<uint8_t>(24, uint8_t(2999)));
    RawTiff huge(Path("huge.tif")); // a row larger than the strip size is a strip of its own
    ASSERT_NE(huge.Get(), nullptr);
    EXPECT_EQ(TIFFNumberOfStrips(huge.Get()), 2u);
}

TEST_F(TiffWriterTest, PropertyMapWritesTagsAndTheTagSet)
{
    FHasProperties tags;
    tags.SetString("Rows", "10");
    tags.SetString("Columns", "20");
    tags.SetString("Filename", "x.q7f");
    Write(
        "empty.tif", 2, 1, 7, 7, [](int, uint8_t*) {}, [&](FTiffLineWriter& w) { w.WriteTags(tags); });
    {
        RawTiff raw(Path("empty.tif"));
        const tifftest::ParsedBlob blob = raw.TagSet();
        ASSERT_TRUE(blob.ok) << blob.error;
        EXPECT_EQ(blob.entries.size(), 0u);
        EXPECT_EQ(blob.scrambled, 1u);
    }

    tags.SetString("XResolution", "300");
    tags.SetString("YResolution", "150.5");
    tags.SetString("ResolutionUnits", "3.9");
    tags.SetString("DocumentName", "doc");
    tags.SetString("Description", "desc");
    tags.SetString("CameraMake", "Make");
    tags.SetString("CameraModel", "Model");
    tags.SetString("CameraSoftware", "Soft");
    tags.SetString("Photographer", "Someone");
    tags.SetString("DateTime", "2007:12:04");
    tags.SetString("Lens", "28-70");
    tags.SetString("FocalLength", "50.5");
    tags.SetString("Exposure", "125.9");
    tags.SetString("ImageNumber", "1e30"); // kept in range
    tags.SetString("NeutralPointX", "-12");
    tags.SetString("Contrast", "-0.25");
    tags.SetString("Extra Key", "extra value");
    Write(
        "tags.tif", 2, 1, 7, 7, [](int, uint8_t*) {}, [&](FTiffLineWriter& w) { w.WriteTags(tags); });
    RawTiff raw(Path("tags.tif"));
    EXPECT_FLOAT_EQ(raw.Float(TIFFTAG_XRESOLUTION), 300.0f);
    EXPECT_FLOAT_EQ(raw.Float(TIFFTAG_YRESOLUTION), 150.5f);
    EXPECT_EQ(raw.Short(TIFFTAG_RESOLUTIONUNIT), RESUNIT_CENTIMETER);
    EXPECT_EQ(raw.Text(TIFFTAG_DOCUMENTNAME), "doc");
    EXPECT_EQ(raw.Text(TIFFTAG_IMAGEDESCRIPTION), "desc");
    EXPECT_EQ(raw.Text(TIFFTAG_MAKE), "Make");
    EXPECT_EQ(raw.Text(TIFFTAG_MODEL), "Model");
    EXPECT_EQ(raw.Text(TIFFTAG_SOFTWARE), "Soft");
    EXPECT_EQ(raw.Text(TIFFTAG_ARTIST), "Someone");
    EXPECT_EQ(raw.Text(TIFFTAG_DATETIME), "         2007:12:04");
    const tifftest::ParsedBlob blob = raw.TagSet();
    ASSERT_TRUE(blob.ok) << blob.error;
    EXPECT_EQ(blob.Text(BrisalTagCode("lens")), "28-70");
    double focal = 0;
    ASSERT_NE(blob.Find(BrisalTagCode("focl")), nullptr);
    std::memcpy(&focal, blob.Find(BrisalTagCode("focl"))->value.data(), 8);
    EXPECT_EQ(focal, 50.5);
    EXPECT_EQ(tifftest::LeU32(blob.Find(BrisalTagCode("issd"))->value.data()), 125u);
    EXPECT_EQ(tifftest::LeU32(blob.Find(BrisalTagCode("imgn"))->value.data()), 0x7FFFFFFFu);
    EXPECT_EQ(int32_t(tifftest::LeU32(blob.Find(BrisalTagCode("nptx"))->value.data())), -12);
    EXPECT_NE(blob.Find(BrisalTagCode("cont")), nullptr);
    EXPECT_EQ(tifftest::LeU32(blob.Find(BrisalTagCode("exsu"))->value.data()), 2u);
    EXPECT_EQ(blob.Text(BrisalTagCode("exst")), std::string("Extra Key\x8B") + "extra value");
}

TEST_F(TiffWriterTest, LongDateTimeIsCutToItsField)
{
    FHasProperties tags;
    tags.SetString("DateTime", "2007:12:04 10:20:30 and more");
    Write(
        "date.tif", 1, 1, 1, 1, [](int, uint8_t*) {}, [&](FTiffLineWriter& w) { w.WriteTags(tags); });
    RawTiff raw(Path("date.tif"));
    EXPECT_EQ(raw.Text(TIFFTAG_DATETIME), "2007:12:04 10:20:30");
}

FPropList* CaptureProperties()
{
    FPropList* list = new FPropList(nullptr, "props");
    list->AddProp("CAMMANUF", "TALVO");
    list->AddProp("CAMMODEL", "TALVO MV3");
    list->AddProp("rpSoftware", "Rawbench 2.3.0");
    list->AddProp("SH_DESC", "1/250");
    list->AddProp("AP_DESC", "5.6");
    list->AddProp("CAMSERIAL", "SN12345");
    list->AddProp("ISO", "400");
    list->AddProp("FLENGTH", "50");
    list->AddProp("WB_DESC", "Auto");
    list->AddProp("COLS", "3000");
    list->AddProp("ROWS", "2000");
    list->AddProp("TIME", "1196763630");
    list->AddProp("rpColorSpace", "2");
    list->AddProp("rpExposureCompensation", "0.5");
    list->AddProp("rpContrast", "-1");
    return list;
}

void ExpectCaptureRoundTrip(const FWideString& url)
{
    FTiffImageReader reader(url);
    FPropList back(nullptr, "back");
    reader.GetProperties(&back);
    EXPECT_EQ(back.GetString("SH_DESC", "", nullptr), FWideString("1/250"));
    EXPECT_EQ(back.GetString("AP_DESC", "", nullptr), FWideString("5.6"));
    EXPECT_EQ(back.GetString("ISO", "", nullptr), FWideString("400"));
    EXPECT_EQ(back.GetInt("TIME", 0, nullptr), 1196763630);
    EXPECT_EQ(back.GetInt("rpColorSpace", -1, nullptr), 2);
    EXPECT_NEAR(back.GetFloat("rpExposureCompensation", 0, nullptr), 0.5, 1e-6);
    EXPECT_NEAR(back.GetFloat("rpContrast", 0, nullptr), -1.0, 1e-6);
    EXPECT_EQ(back.GetString("CAMMANUF", "", nullptr), FWideString("TALVO"));
    EXPECT_NE(back.GetInt("EXIF_DATETIME", 0, nullptr), 0);
}

TEST_F(TiffWriterTest, CapturePropertiesRoundTripThroughTheExifDirectory)
{
    FPropList* props = CaptureProperties();
    Write(
        "exif.tif", 64, 48, 15, 15, [](int y, uint8_t* row) { std::memset(row, y, 64 * 6); },
        [&](FTiffLineWriter& w) { w.WriteTags(props); });
    // Tags after rows reach the file too: the directory waits for Finish.
    {
        FTiffLineWriter writer(URL("late.tif"), true);
        writer.SetDimensions(64, 48, 7);
        std::vector<uint8_t> row(64 * 3, 9);
        for (int y = 0; y < 48; ++y)
            writer.WriteLine(row.data(), 7);
        writer.WriteTags(props);
        writer.Finish();
    }
    delete props;
    ExpectCaptureRoundTrip(URL("exif.tif"));
    ExpectCaptureRoundTrip(URL("late.tif"));

    RawTiff raw(Path("exif.tif"));
    EXPECT_FLOAT_EQ(raw.Float(TIFFTAG_XRESOLUTION), 180.0f);
    EXPECT_EQ(raw.Short(TIFFTAG_RESOLUTIONUNIT), RESUNIT_INCH);
    EXPECT_EQ(raw.Text(TIFFTAG_MODEL), "TALVO MV3");
    EXPECT_EQ(raw.Text(TIFFTAG_DATETIME).size(), 19u);
    const tifftest::ParsedBlob blob = raw.TagSet();
    ASSERT_TRUE(blob.ok) << blob.error;
    EXPECT_EQ(blob.Text(BrisalTagCode("sfsp")), "5.6");
    EXPECT_EQ(blob.Text(BrisalTagCode("sssd")), "1/250");
    EXPECT_EQ(blob.Text(BrisalTagCode("came")), "SN12345");
    EXPECT_EQ(tifftest::LeU32(blob.Find(BrisalTagCode("exsu"))->value.data()), 12u);
    const std::string s = "\x8B";
    EXPECT_EQ(blob.Text(BrisalTagCode("exst")), "ISO" + s + "400" + s + "FLENGTH" + s + "50" + s + "WB_DESC" +
                                                    s + "Auto" + s + "TIME" + s + "1196763630" + s +
                                                    "Q7FCOLS" + s + "3000" + s + "Q7FROWS" + s + "2000");
    RawTiff late(Path("late.tif"));
    EXPECT_EQ(late.Row(47), std::vector<uint8_t>(64 * 3, 9)) << "the rows survive the late directory";
}

TEST_F(TiffWriterTest, EmptyCapturePropertiesUseTheDefaults)
{
    FPropList empty(nullptr, "props");
    Write(
        "defaults.tif", 4, 4, 1, 1, [](int, uint8_t*) {}, [&](FTiffLineWriter& w) { w.WriteTags(&empty); });
    RawTiff raw(Path("defaults.tif"));
    EXPECT_EQ(raw.Text(TIFFTAG_MAKE), "");
    EXPECT_EQ(raw.Text(TIFFTAG_SOFTWARE), " ");
    const tifftest::ParsedBlob blob = raw.TagSet();
    ASSERT_TRUE(blob.ok) << blob.error;
    EXPECT_EQ(blob.entries.size(), 3u) << "the three texts only, no extra list";
    EXPECT_EQ(blob.Text(BrisalTagCode("came")), "");
    uint64_t exif = 0;
    EXPECT_TRUE(TIFFGetField(raw.Get(), TIFFTAG_EXIFIFD, &exif));
    EXPECT_EQ(exif % 2, 0u);
}

TEST_F(TiffWriterTest, ThumbnailIsAResourceBlockWithBgrRows)
{
    TestPixmap thumb(7, 100, 60, 300);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x) {
            uint8_t* p = thumb.MutableRow(y) + x * 3;
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = uint8_t(x + y);
        }
    Write(
        "thumb.tif", 4, 4, 7, 7, [](int, uint8_t*) {},
        [&](FTiffLineWriter& w) { w.WriteThumbnail(thumb.Get()); });
    RawTiff raw(Path("thumb.tif"));
    const std::vector<uint8_t> block = raw.Bytes(TIFFTAG_PHOTOSHOP);
    ASSERT_EQ(block.size(), 18040u);
    EXPECT_EQ(std::string(block.begin(), block.begin() + 4), "8BIM");
    EXPECT_EQ(tifftest::BeU16(&block[4]), 0x0409);
    EXPECT_EQ(tifftest::BeU16(&block[6]), 0);
    EXPECT_EQ(tifftest::BeU32(&block[8]), 18000u + 28);
    EXPECT_EQ(tifftest::BeU32(&block[12]), 0u);
    EXPECT_EQ(tifftest::BeU32(&block[16]), 100u);
    EXPECT_EQ(tifftest::BeU32(&block[20]), 60u);
    EXPECT_EQ(tifftest::BeU32(&block[24]), 300u);
    EXPECT_EQ(tifftest::BeU32(&block[28]), 18000u);
    EXPECT_EQ(tifftest::BeU32(&block[32]), 18000u);
    EXPECT_EQ(tifftest::BeU16(&block[36]), 24);
    EXPECT_EQ(tifftest::BeU16(&block[38]), 1);
    const uint8_t* pixel = &block[40 + 7 * 300 + 5 * 3];
    EXPECT_EQ(pixel[0], 12); // B
    EXPECT_EQ(pixel[1], 7);  // G
    EXPECT_EQ(pixel[2], 5);  // R
}

TEST_F(TiffWriterTest, ThumbnailNeverBreaksTheSaveWhateverItsProportions)
{
    const struct {
        int cols, rows;
    } sizes[] = {{160, 140}, {160, 160}, {1, 5000}, {5000, 1}, {2000, 1500}, {1, 1}, {160, 136}, {0, 10}};
    for (const auto& size : sizes) {
        const int stride = (size.cols * 3 + 3) & ~3;
        TestPixmap thumb(7, size.cols, size.rows, stride > 0 ? stride : 4);
        const std::string name = "t" + std::to_string(size.cols) + "x" + std::to_string(size.rows) + ".tif";
        ASSERT_NO_THROW(Write(
            name, 8, 8, 7, 7, [](int, uint8_t*) {},
            [&](FTiffLineWriter& w) { w.WriteThumbnail(thumb.Get()); }))
            << name;
        RawTiff raw(Path(name));
        ASSERT_NE(raw.Get(), nullptr) << name;
        const std::vector<uint8_t> block = raw.Bytes(TIFFTAG_PHOTOSHOP);
        if (size.cols == 0) {
            EXPECT_TRUE(block.empty());
            continue;
        }
        ASSERT_GE(block.size(), 40u) << name;
        EXPECT_LE(block.size(), 65535u) << name;
        const uint32_t cols = tifftest::BeU32(&block[16]);
        const uint32_t rows = tifftest::BeU32(&block[20]);
        const uint32_t widthBytes = tifftest::BeU32(&block[24]);
        EXPECT_GE(widthBytes, cols * 3) << name;
        EXPECT_EQ(block.size(), 40u + size_t(widthBytes) * rows) << name;
        if (size_t(stride) * size.rows + 40 <= 65535) {
            EXPECT_EQ(cols, uint32_t(size.cols)) << name << " fits as it is";
            EXPECT_EQ(rows, uint32_t(size.rows)) << name;
        } else if (size.cols > 1 && size.rows > 1) {
            const double ratio = double(cols) / rows;
            EXPECT_NEAR(ratio, double(size.cols) / size.rows, 0.05 * double(size.cols) / size.rows) << name;
        }
    }

    TestPixmap bgr(6, 4, 4);
    FTiffLineWriter writer(URL("bgr.tif"), true);
    EXPECT_THROW(writer.WriteThumbnail(bgr.Get()), FExceptionUnknownPixelType);
}

TEST_F(TiffWriterTest, ProfileBytesAreStoredUnchanged)
{
    std::vector<uint8_t> profile(3001);
    for (size_t i = 0; i < profile.size(); ++i)
        profile[i] = uint8_t(i * 7);
    Write(
        "icc.tif", 2, 2, 15, 15, [](int, uint8_t*) {},
        [&](FTiffLineWriter& w) { w.WriteProfile(unsigned(profile.size()), profile.data()); });
    RawTiff raw(Path("icc.tif"));
    EXPECT_EQ(raw.Bytes(TIFFTAG_ICCPROFILE), profile);
}

} // namespace
