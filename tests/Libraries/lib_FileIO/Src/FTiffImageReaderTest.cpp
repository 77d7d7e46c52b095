#include "FTiffImageReader.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FWideString.h"
#include "RawTestFolder.h"
#include "TiffTestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using tifftest::TestPixmap;
using tifftest::TiffLayout;
using tifftest::U16;
using tifftest::U32;
using tifftest::WriteTiff;

struct Triple {
    int r, g, b, bits;
};

// The channels of one pixel of a destination type, read from its layout.
Triple Decode(int type, const uint8_t* p)
{
    const uint32_t w = (type == 8 || type == 10) ? U32(p) : 0;
    switch (type) {
    case 6:
        return {p[2], p[1], p[0], 8};
    case 7:
    case 14:
        return {p[0], p[1], p[2], 8};
    case 8:
        return {int(p[0] << 3 | w >> 29), int(p[1] << 3 | ((w >> 26) & 7)),
                int(p[2] << 3 | ((w >> 24) & 3) << 1), 11};
    case 10:
        return {int(w & 2047), int((w >> 11) & 2047), int((w >> 22) << 1), 11};
    case 11:
        return {p[1], p[2], p[3], 8};
    case 12:
        return {p[3], p[2], p[1], 8};
    case 13:
        return {p[2], p[1], p[0], 8};
    case 15:
    case 16:
        return {U16(p), U16(p + 2), U16(p + 4), 16};
    case 17:
        return {U16(p + 4), U16(p + 2), U16(p), 16};
    }
    return {-1, -1, -1, 0};
}

int Shift(int v, int from, int to)
{
    return to >= from ? v << (to - from) : v >> (from - to);
}

class TiffReaderTest : public ::testing::Test
{
protected:
    std::string Path(const std::string& name) const { return m_folder.NativePath(name); }
    FWideString URL(const std::string& name) const { return m_folder.URL(name); }

    rawtest::RawTestFolder m_folder;
};

TEST_F(TiffReaderTest, NativeTypeComesFromTheLayoutAndOnlyExactSampleCounts)
{
    const struct {
        const char* name;
        uint16_t photometric, samples, bits;
        std::vector<uint16_t> extra;
        int native;
    } cases[] = {
        {"gray8", PHOTOMETRIC_MINISBLACK, 1, 8, {}, 1},
        {"gray16", PHOTOMETRIC_MINISBLACK, 1, 16, {}, 3},
        {"rgb8", PHOTOMETRIC_RGB, 3, 8, {}, 7},
        {"rgba8", PHOTOMETRIC_RGB, 4, 8, {EXTRASAMPLE_ASSOCALPHA}, 8},
        {"rgb16", PHOTOMETRIC_RGB, 3, 16, {}, 15},
        // The library counts a fourth sample without its tag as an extra sample.
        {"rgb8x4", PHOTOMETRIC_RGB, 4, 8, {}, 8},
        // Any other count would make a straight read write a scanline wider
        // than the pixmap row.
        {"rgb16x4", PHOTOMETRIC_RGB, 4, 16, {}, 0},
        {"rgba16", PHOTOMETRIC_RGB, 4, 16, {EXTRASAMPLE_UNSPECIFIED}, 0},
        {"rgb8x5", PHOTOMETRIC_RGB, 5, 8, {EXTRASAMPLE_UNSPECIFIED}, 0},
        {"gray8x2", PHOTOMETRIC_MINISBLACK, 2, 8, {EXTRASAMPLE_UNSPECIFIED}, 0},
        {"white8", PHOTOMETRIC_MINISWHITE, 1, 8, {}, 0},
        {"sep", PHOTOMETRIC_SEPARATED, 4, 8, {}, 0},
    };
    for (const auto& c : cases) {
        TiffLayout layout;
        layout.width = 5;
        layout.height = 2;
        layout.photometric = c.photometric;
        layout.samples = c.samples;
        layout.bits = c.bits;
        layout.extra = c.extra;
        WriteTiff(Path(c.name), layout,
                  [](uint32_t x, uint32_t y, uint32_t s) { return x * 40 + y * 7 + s; });
        FTiffImageReader reader(URL(c.name));
        int cols = 0, rows = 0, type = -1;
        reader.GetDimensions(cols, rows, type);
        EXPECT_EQ(type, c.native) << c.name;
        EXPECT_EQ(cols, 5) << c.name;
        EXPECT_EQ(rows, 2) << c.name;
        if (c.native == 0) {
            // Nothing is read into any pixmap, however wide a scanline is.
            for (int destination : {1, 7, 8, 15}) {
                TestPixmap pixmap(destination, 5, 2);
                EXPECT_THROW(reader.ReadImage(pixmap.Get()), FExceptionUnknownPixelType) << c.name;
            }
        }
    }
}

TEST_F(TiffReaderTest, ExtraSampleFileReadsAsItsFirstThreeBytes)
{
    TiffLayout layout;
    layout.width = 3;
    layout.height = 2;
    layout.samples = 4;
    layout.extra = {EXTRASAMPLE_ASSOCALPHA};
    WriteTiff(Path("rgba.tif"), layout,
              [](uint32_t x, uint32_t y, uint32_t s) { return 0x60 + x * 16 + y * 5 + s; });
    FTiffImageReader reader(URL("rgba.tif"));
    TestPixmap rgb(7, 3, 2);
    reader.ReadImage(rgb.Get());
    TestPixmap same(8, 3, 2);
    reader.ReadImage(same.Get());
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            for (int s = 0; s < 3; ++s)
                EXPECT_EQ(rgb.Row(y)[x * 3 + s], 0x60 + x * 16 + y * 5 + s);
            for (int s = 0; s < 4; ++s)
                EXPECT_EQ(same.Row(y)[x * 4 + s], 0x60 + x * 16 + y * 5 + s) << "stored byte for byte";
        }
    }
}

TEST_F(TiffReaderTest, ColourFilesConvertIntoEveryColourDestination)
{
    const uint32_t px16[2][3] = {{0x1234, 0x5678, 0x9ABC}, {0xFEDC, 0x0123, 0x8001}};
    const uint32_t px8[2][4] = {{0x12, 0x56, 0x9A, 0xE5}, {0xFE, 0x01, 0x80, 0x1B}};
    const struct {
        const char* name;
        uint16_t samples, bits;
        std::vector<uint16_t> extra;
        int native;
    } sources[] = {
        {"c7", 3, 8, {}, 7},
        {"c8", 4, 8, {EXTRASAMPLE_UNSPECIFIED}, 8},
        {"c15", 3, 16, {}, 15},
    };
    for (const auto& src : sources) {
        TiffLayout layout;
        layout.width = 2;
        layout.height = 1;
        layout.samples = src.samples;
        layout.bits = src.bits;
        layout.extra = src.extra;
        WriteTiff(Path(src.name), layout,
                  [&](uint32_t x, uint32_t, uint32_t s) { return src.bits == 16 ? px16[x][s] : px8[x][s]; });
        FTiffImageReader reader(URL(src.name));
        for (int destination = 6; destination <= 17; ++destination) {
            TestPixmap pixmap(destination, 2, 1);
            if (destination == 9) {
                try {
                    reader.ReadImage(pixmap.Get());
                    ADD_FAILURE() << "type 9 read";
                } catch (const FExceptionUnknownPixelType& e) {
                    EXPECT_STREQ(e.GetMessage(), "NOT IMPLEMENTED");
                }
                continue;
            }
            reader.ReadImage(pixmap.Get());
            const int bpp = GetPixelTypeBytesPerPixel(destination);
            for (int x = 0; x < 2; ++x) {
                uint8_t source[6] = {};
                Triple in{};
                if (src.native == 8) {
                    for (int s = 0; s < 4; ++s)
                        source[s] = uint8_t(px8[x][s]);
                    in = Decode(8, source);
                } else if (src.native == 7) {
                    in = {int(px8[x][0]), int(px8[x][1]), int(px8[x][2]), 8};
                } else {
                    in = {int(px16[x][0]), int(px16[x][1]), int(px16[x][2]), 16};
                }
                const Triple out = Decode(destination, pixmap.Row(0) + x * bpp);
                int expectedB = Shift(in.b, in.bits, out.bits);
                if (destination == 8 || destination == 10)
                    expectedB &= ~1; // blue keeps ten bits there
                EXPECT_EQ(out.r, Shift(in.r, in.bits, out.bits))
                    << src.name << " -> " << destination << " x" << x;
                EXPECT_EQ(out.g, Shift(in.g, in.bits, out.bits))
                    << src.name << " -> " << destination << " x" << x;
                EXPECT_EQ(out.b, expectedB) << src.name << " -> " << destination << " x" << x;
                const uint8_t* p = pixmap.Row(0) + x * bpp;
                if (destination == 11 || destination == 12) {
                    EXPECT_EQ(p[0], 255);
                }
                if (destination == 13 || destination == 14) {
                    EXPECT_EQ(p[3], 255);
                }
            }
        }
        for (int destination : {1, 2, 3, 4, 5, 18, 19}) {
            TestPixmap pixmap(destination, 2, 1);
            try {
                reader.ReadImage(pixmap.Get());
                ADD_FAILURE() << src.name << " read into " << destination;
            } catch (const FExceptionUnknownPixelType& e) {
                EXPECT_STREQ(e.GetMessage(), "Unknown dest pixel type");
            }
        }
    }
}

TEST_F(TiffReaderTest, GrayFilesConvertByTheirOwnRules)
{
    TiffLayout layout;
    layout.width = 2;
    layout.height = 1;
    layout.samples = 1;
    layout.bits = 16;
    layout.photometric = PHOTOMETRIC_MINISBLACK;
    WriteTiff(Path("g16.tif"), layout, [](uint32_t x, uint32_t, uint32_t) { return x ? 0x0010 : 0xABCD; });
    FTiffImageReader reader16(URL("g16.tif"));
    const struct {
        int type;
        uint32_t expected;
    } cases[] = {{1, 0xAB}, {2, 0x0ABC}, {3, 0xABCD}, {4, 0xABCD}, {5, 0x0ABC}};
    for (const auto& c : cases) {
        TestPixmap pixmap(c.type, 2, 1);
        reader16.ReadImage(pixmap.Get());
        const uint8_t* p = pixmap.Row(0);
        const uint32_t v = c.type == 1 ? p[0] : c.type == 5 ? U32(p) : U16(p);
        EXPECT_EQ(v, c.expected) << "type " << c.type;
    }
    TestPixmap colour(7, 2, 1);
    EXPECT_THROW(reader16.ReadImage(colour.Get()), FExceptionUnknownPixelType);

    layout.bits = 8;
    layout.height = 2;
    WriteTiff(Path("g8.tif"), layout, [](uint32_t x, uint32_t, uint32_t) { return 0x40 + x; });
    FTiffImageReader reader8(URL("g8.tif"));
    TestPixmap mono(1, 2, 2);
    reader8.ReadImage(mono.Get());
    EXPECT_EQ(mono.Row(0)[0], 0x40);
    EXPECT_EQ(mono.Row(0)[1], 0x41);
    TestPixmap wide(3, 2, 2);
    try {
        reader8.ReadImage(wide.Get());
        ADD_FAILURE();
    } catch (const FExceptionUnknownPixelType& e) {
        EXPECT_STREQ(e.GetMessage(), "TiffReader: Unknown destination pixel type");
    }
    reader8.SetScale(1);
    TestPixmap half(1, 1, 1);
    try {
        reader8.ReadImage(half.Get());
        ADD_FAILURE();
    } catch (const FExceptionUnknownPixelType& e) {
        EXPECT_STREQ(e.GetMessage(), "TiffReader:Scaling: Unknown source pixel type");
    }
}

TEST_F(TiffReaderTest, ScaledReadsAverageAlongTheRowAndSkipRows)
{
    TiffLayout layout;
    layout.width = 101;
    layout.height = 51;
    layout.bits = 16;
    auto value = [](uint32_t x, uint32_t y, uint32_t s) { return (x * 977 + y * 131 + s * 7001) % 65536; };
    WriteTiff(Path("s.tif"), layout, value);
    FTiffImageReader reader(URL("s.tif"));
    reader.SetScale(1);
    int cols = 0, rows = 0, type = 0;
    reader.GetDimensions(cols, rows, type);
    ASSERT_EQ(cols, 50);
    ASSERT_EQ(rows, 25);
    TestPixmap pixmap(15, 50, 25);
    reader.ReadImage(pixmap.Get());
    for (int y : {0, 3, 24}) {
        for (int x : {0, 17, 49}) {
            for (int s = 0; s < 3; ++s) {
                const uint32_t mean = (value(2 * x, 2 * y, s) + value(2 * x + 1, 2 * y, s)) / 2;
                EXPECT_EQ(U16(pixmap.Row(y) + x * 6 + s * 2), mean) << x << "," << y << " s" << s;
            }
        }
    }

    TestPixmap rgb8(7, 50, 25);
    reader.ReadImage(rgb8.Get());
    EXPECT_EQ(rgb8.Row(3)[0], ((value(0, 6, 0) + value(1, 6, 0)) / 2) >> 8);

    reader.SetScale(2);
    reader.GetDimensions(cols, rows, type);
    EXPECT_EQ(cols, 25);
    EXPECT_EQ(rows, 12);
    reader.SetScale(0);
    reader.GetDimensions(cols, rows, type);
    EXPECT_EQ(cols, 101);
}

TEST_F(TiffReaderTest, ScaledExtraSampleFileAveragesElevenBitChannels)
{
    TiffLayout layout;
    layout.width = 4;
    layout.height = 2;
    layout.samples = 4;
    layout.extra = {EXTRASAMPLE_UNSPECIFIED};
    const uint8_t bytes[4][4] = {
        {0x10, 0x20, 0x30, 0xFF}, {0x11, 0x21, 0x31, 0x00}, {1, 2, 3, 4}, {5, 6, 7, 8}};
    WriteTiff(Path("l.tif"), layout, [&](uint32_t x, uint32_t, uint32_t s) { return bytes[x][s]; });
    FTiffImageReader reader(URL("l.tif"));
    reader.SetScale(1);
    TestPixmap pixmap(15, 2, 1);
    reader.ReadImage(pixmap.Get());
    const Triple a = Decode(8, bytes[0]);
    const Triple b = Decode(8, bytes[1]);
    EXPECT_EQ(U16(pixmap.Row(0)), ((a.r + b.r) / 2) << 5);
    EXPECT_EQ(U16(pixmap.Row(0) + 2), ((a.g + b.g) / 2) << 5);
    EXPECT_EQ(U16(pixmap.Row(0) + 4), (((a.b + b.b) / 2) & ~1) << 5);
}

// The reader's own scaling applied to a full read: file row y s, and the mean of
// pixels x s to x s + s - 1 of it, channel by channel.
std::vector<uint32_t> ScaleFullRead(const TestPixmap& full, int channels, int bytes, int cols, int rows,
                                    int scale)
{
    std::vector<uint32_t> out;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = full.Row(y * scale);
        for (int x = 0; x < cols; ++x) {
            for (int c = 0; c < channels; ++c) {
                uint64_t sum = 0;
                for (int k = 0; k < scale; ++k) {
                    const uint8_t* p = row + (size_t(x * scale + k) * channels + c) * bytes;
                    sum += bytes == 2 ? U16(p) : *p;
                }
                out.push_back(uint32_t(sum / uint64_t(scale)));
            }
        }
    }
    return out;
}

std::vector<uint32_t> Samples(const TestPixmap& pixmap, int channels, int bytes, int cols, int rows)
{
    std::vector<uint32_t> out;
    for (int y = 0; y < rows; ++y)
        for (int i = 0; i < cols * channels; ++i) {
            const uint8_t* p = pixmap.Row(y) + size_t(i) * bytes;
            out.push_back(bytes == 2 ? U16(p) : *p);
        }
    return out;
}

// A compressed strip decodes only from its first row on, and a tile only as a whole:
// each scale must still give exactly what the full read gives, scaled.
TEST_F(TiffReaderTest, CompressedAndTiledFilesReadAtEveryScaleAsTheirFullReadScaled)
{
    const struct {
        const char* name;
        uint16_t compression, photometric, samples, bits;
        uint32_t tile, rowsPerStrip;
        uint16_t predictor;
        int native;
    } cases[] = {
        {"lzw8", COMPRESSION_LZW, PHOTOMETRIC_RGB, 3, 8, 0, 5, 0, 7},
        {"lzw16", COMPRESSION_LZW, PHOTOMETRIC_RGB, 3, 16, 0, 7, PREDICTOR_HORIZONTAL, 15},
        {"lzwgray16", COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 1, 16, 0, 6, PREDICTOR_HORIZONTAL, 3},
        {"deflate8", COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 3, 8, 0, 9, PREDICTOR_HORIZONTAL, 7},
        {"deflate16", COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 3, 16, 0, 4, 0, 15},
        {"jpegycc8", COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, 3, 8, 0, 16, 0, 7},
        {"jpegrgb8", COMPRESSION_JPEG, PHOTOMETRIC_RGB, 3, 8, 0, 16, 0, 7},
        // One strip for the whole picture.
        {"lzw8whole", COMPRESSION_LZW, PHOTOMETRIC_RGB, 3, 8, 0, 1000, 0, 7},
        {"none8tiles", COMPRESSION_NONE, PHOTOMETRIC_RGB, 3, 8, 16, 0, 0, 7},
        {"lzw8tiles", COMPRESSION_LZW, PHOTOMETRIC_RGB, 3, 8, 16, 0, 0, 7},
        {"deflate16tiles", COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 3, 16, 32, 0, PREDICTOR_HORIZONTAL,
         15},
        {"jpegycc8tiles", COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, 3, 8, 16, 0, 0, 7},
    };
    constexpr int kWidth = 75;
    constexpr int kHeight = 53;
    // Texture as well as gradients, so that a wrong row or column shows.
    auto value = [](uint32_t x, uint32_t y, uint32_t s) {
        return ((x * 997 + y * 1499 + s * 7919) ^ (x * y * 13)) & 0xFFFF;
    };
    for (const auto& c : cases) {
        TiffLayout layout;
        layout.width = kWidth;
        layout.height = kHeight;
        layout.compression = c.compression;
        layout.photometric = c.photometric;
        layout.samples = c.samples;
        layout.bits = c.bits;
        layout.tile = c.tile;
        layout.rowsPerStrip = c.rowsPerStrip;
        layout.predictor = c.predictor;
        WriteTiff(Path(c.name), layout, value);
        const int channels = c.samples;
        const int bytes = c.bits / 8;

        FTiffImageReader reader(URL(c.name));
        int cols = 0, rows = 0, type = -1;
        reader.GetDimensions(cols, rows, type);
        ASSERT_EQ(type, c.native) << c.name;
        TestPixmap full(c.native, kWidth, kHeight);
        ASSERT_NO_THROW(reader.ReadImage(full.Get())) << c.name;
        if (c.compression != COMPRESSION_JPEG) {
            const uint32_t mask = bytes == 2 ? 0xFFFF : 0xFF;
            std::vector<uint32_t> expected;
            for (uint32_t y = 0; y < kHeight; ++y)
                for (uint32_t x = 0; x < kWidth; ++x)
                    for (int s = 0; s < channels; ++s)
                        expected.push_back(value(x, y, uint32_t(s)) & mask);
            EXPECT_EQ(Samples(full, channels, bytes, kWidth, kHeight), expected) << c.name;
        }
        for (int n = 1; n <= 4; ++n) {
            FTiffImageReader scaled(URL(c.name));
            scaled.SetScale(n);
            scaled.GetDimensions(cols, rows, type);
            ASSERT_EQ(cols, kWidth >> n);
            ASSERT_EQ(rows, kHeight >> n);
            TestPixmap thumbnail(c.native, cols, rows);
            ASSERT_NO_THROW(scaled.ReadImage(thumbnail.Get())) << c.name << " scale " << n;
            EXPECT_EQ(Samples(thumbnail, channels, bytes, cols, rows),
                      ScaleFullRead(full, channels, bytes, cols, rows, 1 << n))
                << c.name << " scale " << n;
        }
    }
}

TEST_F(TiffReaderTest, SetCancelByteEndsTheReadOfStripsAndTiles)
{
    for (uint32_t tile : {0u, 16u}) {
        TiffLayout layout;
        layout.width = 40;
        layout.height = 30;
        layout.tile = tile;
        layout.compression = COMPRESSION_LZW;
        const std::string name = tile ? "cancel-tiles.tif" : "cancel-strips.tif";
        WriteTiff(Path(name), layout, [](uint32_t x, uint32_t y, uint32_t) { return x + y; });
        FTiffImageReader reader(URL(name));
        const char cancel = 1;
        reader.SetCancel(&cancel);
        TestPixmap pixmap(7, 40, 30);
        EXPECT_THROW(reader.ReadImage(pixmap.Get()), FExceptionFileRead) << name;
        EXPECT_TRUE(reader.Cancelled()) << name;
        reader.SetCancel(nullptr);
        EXPECT_NO_THROW(reader.ReadImage(pixmap.Get())) << name;
        EXPECT_FALSE(reader.Cancelled()) << name;
    }
}

TEST_F(TiffReaderTest, BigEndianSixteenBitFilesComeOutInHostOrder)
{
    TiffLayout layout;
    layout.width = 2;
    layout.height = 2;
    layout.bits = 16;
    layout.mode = "wb";
    WriteTiff(Path("be.tif"), layout,
              [](uint32_t x, uint32_t y, uint32_t s) { return 0x0102 * (x + 1) + y * 0x1000 + s; });
    FTiffImageReader reader(URL("be.tif"));
    TestPixmap pixmap(15, 2, 2);
    reader.ReadImage(pixmap.Get());
    EXPECT_EQ(U16(pixmap.Row(1) + 6 + 4), 0x0102 * 2 + 0x1000 + 2);
}

TEST_F(TiffReaderTest, UnreadableLayoutsFailCleanly)
{
    TiffLayout planar;
    planar.planar = PLANARCONFIG_SEPARATE;
    WriteTiff(Path("planar.tif"), planar, [](uint32_t, uint32_t, uint32_t s) { return s; });
    FTiffImageReader planarReader(URL("planar.tif"));
    TestPixmap pixmap(7, 4, 3);
    try {
        planarReader.ReadImage(pixmap.Get());
        ADD_FAILURE();
    } catch (const FExceptionUnknownPixelType& e) {
        EXPECT_STREQ(e.GetMessage(), "Tiff planar config is not contiguous");
    }
}

TEST_F(TiffReaderTest, PixmapSmallerThanTheImageIsRefused)
{
    TiffLayout layout;
    WriteTiff(Path("p.tif"), layout, [](uint32_t, uint32_t, uint32_t) { return 1; });
    FTiffImageReader reader(URL("p.tif"));
    for (auto size : {std::pair{3, 3}, std::pair{4, 2}}) {
        TestPixmap pixmap(7, size.first, size.second);
        EXPECT_THROW(reader.ReadImage(pixmap.Get()), FExceptionPixmapTooSmall);
    }
    TestPixmap narrowRows(7, 4, 3, 9); // a stride too small for its columns
    EXPECT_THROW(reader.ReadImage(narrowRows.Get()), FExceptionPixmapTooSmall);
}

TEST_F(TiffReaderTest, MissingOrForeignFilesThrowFileNotFoundWithTheURL)
{
    m_folder.Write("text.tif", rawtest::Bytes{'n', 'o', 't', ' ', 'a', ' ', 't', 'i', 'f', 'f'});
    for (const char* name : {"missing.tif", "text.tif"}) {
        try {
            FTiffImageReader reader(URL(name));
            ADD_FAILURE() << name;
        } catch (const FExceptionFileNotFound& e) {
            const std::string message = e.GetMessage();
            EXPECT_EQ(message.rfind("TiffImageReader: Cannot open file '", 0), 0u) << message;
            EXPECT_NE(message.find(name), std::string::npos) << message;
        }
    }
}

TEST_F(TiffReaderTest, PropertiesWithoutExifComeFromTheBaselineTags)
{
    TiffLayout layout;
    layout.width = 7;
    layout.height = 5;
    layout.make = "Maker";
    layout.model = "Model 9";
    layout.software = "Soft 1.0";
    layout.date = "2007:12:04 10:20:30";
    WriteTiff(Path("props.tif"), layout, [](uint32_t, uint32_t, uint32_t) { return 0; });
    FTiffImageReader reader(URL("props.tif"));
    reader.SetScale(1); // the full size is reported whatever the scale
    FPropList list(nullptr, "props");
    reader.GetProperties(&list);
    EXPECT_EQ(list.GetString("ROWS", "", nullptr), FWideString("5"));
    EXPECT_EQ(list.GetString("COLS", "", nullptr), FWideString("7"));
    EXPECT_EQ(list.GetString("CAMMANUF", "", nullptr), FWideString("Maker"));
    EXPECT_EQ(list.GetString("CAMMODEL", "", nullptr), FWideString("Model 9"));
    EXPECT_EQ(list.GetString("rpSoftware", "", nullptr), FWideString("Soft 1.0"));
    EXPECT_EQ(list.GetInt("EXIF_DATETIME", 0, nullptr), 1196763630);

    TiffLayout bare;
    WriteTiff(Path("bare.tif"), bare, [](uint32_t, uint32_t, uint32_t) { return 0; });
    FTiffImageReader bareReader(URL("bare.tif"));
    FPropList bareList(nullptr, "props");
    bareReader.GetProperties(&bareList);
    EXPECT_EQ(bareList.GetPropCount(), 2);
    EXPECT_EQ(bareList.FindProp("CAMMANUF"), nullptr);
}

// Patches the EXIF directory pointer of a file written by libtiff.
void WriteWithExifPointer(const std::string& path, uint64_t offset, const std::vector<uint8_t>& tail)
{
    TIFF* tif = TIFFOpen(path.c_str(), "wl");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 2u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_MAKE, "Maker");
    TIFFSetField(tif, TIFFTAG_EXIFIFD, offset);
    uint8_t row[6] = {};
    TIFFWriteScanline(tif, row, 0, 0);
    TIFFClose(tif);
    FILE* f = fopen(path.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    fwrite(tail.data(), 1, tail.size(), f);
    fclose(f);
}

TEST_F(TiffReaderTest, DamagedOrMisplacedExifDirectoriesNeverStopTheOtherProperties)
{
    std::vector<uint8_t> garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 37 + 11);
    const struct {
        const char* name;
        uint64_t offset;
    } cases[] = {{"past.tif", 1u << 20}, {"huge.tif", uint64_t(1) << 40}, {"inside.tif", 9}, {"odd.tif", 3}};
    for (const auto& c : cases) {
        WriteWithExifPointer(Path(c.name), c.offset, garbage);
        FTiffImageReader reader(URL(c.name));
        FPropList list(nullptr, "props");
        EXPECT_NO_THROW(reader.GetProperties(&list)) << c.name;
        EXPECT_EQ(list.GetString("CAMMANUF", "", nullptr), FWideString("Maker")) << c.name;
        EXPECT_EQ(list.GetString("COLS", "", nullptr), FWideString("2")) << c.name;
    }
}

TEST_F(TiffReaderTest, FilesOverTheSizeCapReportNoReadableImage)
{
    TIFF* tif = TIFFOpen(Path("wide.tif").c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kMaxTiffDimension + 1);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    std::vector<uint8_t> row(kMaxTiffDimension + 1);
    TIFFWriteScanline(tif, row.data(), 0, 0);
    TIFFClose(tif);
    FTiffImageReader reader(URL("wide.tif"));
    int cols = -1, rows = -1, type = -1;
    reader.GetDimensions(cols, rows, type);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(cols, 0);
    EXPECT_EQ(rows, 0);
    FPropList list(nullptr, "props");
    reader.GetProperties(&list);
    EXPECT_EQ(list.GetString("COLS", "", nullptr),
              FWideString(std::to_string(kMaxTiffDimension + 1).c_str()));
}

TEST_F(TiffReaderTest, ReaderWorksOverTheInMemoryStorageClass)
{
    TiffLayout layout;
    layout.width = 3;
    layout.height = 2;
    WriteTiff(Path("m.tif"), layout, [](uint32_t x, uint32_t y, uint32_t s) { return x + 10 * y + 100 * s; });
    const rawtest::Bytes bytes = m_folder.Read("m.tif");
    FTiffImageReader reader(rawtest::PutMemoryFile("tiff-reader-memory.tif", bytes));
    TestPixmap pixmap(7, 3, 2);
    reader.ReadImage(pixmap.Get());
    EXPECT_EQ(pixmap.Row(1)[2 * 3 + 2], 2 + 10 + 200);
}

} // namespace

namespace
{

// Sets the value of a one-value SHORT or LONG entry of the first directory of
// a little-endian file.
bool PatchEntry(rawtest::Bytes& file, uint16_t tag, uint32_t value)
{
    auto u16 = [&](size_t at) { return uint16_t(file[at] | file[at + 1] << 8); };
    const size_t directory = tifftest::U32(&file[4]);
    const unsigned count = u16(directory);
    for (unsigned i = 0; i < count; ++i) {
        const size_t entry = directory + 2 + 12 * i;
        if (u16(entry) != tag)
            continue;
        if (u16(entry + 2) == TIFF_SHORT) {
            file[entry + 8] = uint8_t(value);
            file[entry + 9] = uint8_t(value >> 8);
        } else {
            for (int b = 0; b < 4; ++b)
                file[entry + 8 + b] = uint8_t(value >> (8 * b));
        }
        return true;
    }
    return false;
}

TEST_F(TiffReaderTest, DamagedLayoutTagsAreRefusedOrReadSafely)
{
    const struct {
        const char* name;
        uint16_t tag;
        uint32_t value;
    } patches[] = {
        {"more samples", TIFFTAG_SAMPLESPERPIXEL, 5},
        {"fewer samples", TIFFTAG_SAMPLESPERPIXEL, 1},
        {"fewer rows per strip", TIFFTAG_ROWSPERSTRIP, 1},
        {"more rows per strip", TIFFTAG_ROWSPERSTRIP, 1000},
        {"wider", TIFFTAG_IMAGEWIDTH, 4000},
        {"taller", TIFFTAG_IMAGELENGTH, 4000},
        {"short strip", TIFFTAG_STRIPBYTECOUNTS, 10},
        {"strip past the end", TIFFTAG_STRIPOFFSETS, 1u << 30},
        {"sixteen bits", TIFFTAG_BITSPERSAMPLE, 16},
    };
    TiffLayout layout;
    layout.width = 6;
    layout.height = 5;
    layout.rowsPerStrip = 5; // one strip, so that one offset and one count describe it
    layout.mode = "wl";
    WriteTiff(Path("base.tif"), layout,
              [](uint32_t x, uint32_t y, uint32_t s) { return x * 30 + y * 3 + s; });
    const rawtest::Bytes base = m_folder.Read("base.tif");
    for (const auto& p : patches) {
        rawtest::Bytes bytes = base;
        ASSERT_TRUE(PatchEntry(bytes, p.tag, p.value)) << p.name;
        m_folder.Write("patched.tif", bytes);
        try {
            FTiffImageReader reader(URL("patched.tif"));
            int cols = 0, rows = 0, type = 0;
            reader.GetDimensions(cols, rows, type);
            FPropList list(nullptr, "props");
            reader.GetProperties(&list);
            // Exactly the reported size: any write past it is an overflow the
            // sanitizers report.
            for (int destination : {type == 0 ? 7 : type, 7, 15}) {
                TestPixmap pixmap(destination, cols, rows);
                try {
                    reader.ReadImage(pixmap.Get());
                } catch (const FException&) {
                }
            }
        } catch (const FException&) {
        }
    }
}

} // namespace
