#include "FBribImageDecoder.h"
#include "BribFormat.h"
#include "FBribImageReaderImpl.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FPixmap.h"
#include "RawCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using rawcodec::EncodedImage;
using rawcodec::EncodeImage;
using rawcodec::EncodeOptions;

namespace
{

constexpr uint8_t kFill = 0xCD;

// A pixmap over a buffer of exactly rows x stride bytes, filled with kFill, so that
// the sanitizers see any write past the last row.
struct TestImage {
    TestImage(int type, int cols, int rows, int extraStride = 0)
    {
        const int stride = cols * GetPixelTypeBytesPerPixel(type) + extraStride;
        m_bytes.assign(size_t(stride) * size_t(rows), kFill);
        m_pixmap.reset(NewFPixmap(type, m_bytes.empty() ? nullptr : m_bytes.data(), cols, rows, stride));
    }
    FPixmap& Pixmap() { return *m_pixmap; }
    uint8_t* Row(int y) { return m_pixmap->GetRowAddress(y); }
    uint16_t At16(int x, int y, int c) const
    {
        const uint8_t* p =
            m_pixmap->GetRowAddress(y) + GetPixelTypeBytesPerPixel(m_pixmap->GetPixelType()) * x + 2 * c;
        return uint16_t(p[0] | p[1] << 8);
    }
    void Set16(int x, int y, int c, uint16_t v)
    {
        uint8_t* p =
            m_pixmap->GetRowAddress(y) + GetPixelTypeBytesPerPixel(m_pixmap->GetPixelType()) * x + 2 * c;
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
    }
    // The first `cols` pixels of every row.
    std::vector<uint8_t> Pixels(int cols) const
    {
        std::vector<uint8_t> out;
        const int bytes = cols * GetPixelTypeBytesPerPixel(m_pixmap->GetPixelType());
        for (int y = 0; y < m_pixmap->GetRows(); ++y) {
            const uint8_t* row = m_pixmap->GetRowAddress(y);
            out.insert(out.end(), row, row + bytes);
        }
        return out;
    }

    std::vector<uint8_t> m_bytes;
    std::unique_ptr<FPixmap> m_pixmap;
};

BribImageHead HeadOf(const EncodedImage& e)
{
    BribImageHead head{};
    head.m_uiMagic = kBribImageMagic;
    head.m_uiVersion = 0x00020002;
    head.m_uiHeadSize = 28;
    head.m_iType = 1;
    head.m_iPixelFormat = e.m_iFormat;
    head.m_iCols = e.m_iCols;
    head.m_iRows = e.m_iRows;
    head.m_iRowSize = e.m_iRowSize;
    return head;
}

bool DecodeInto(const EncodedImage& e, TestImage& image, double* progress = nullptr,
                const char* cancel = nullptr)
{
    FBribPayload payload(e.m_payload.data(), e.m_payload.size());
    return FBribImageDecoder::Decode(payload, HeadOf(e), image.Pixmap(), progress, cancel);
}

std::string MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const FException& e) {
        return e.GetMessage();
    }
    return "no exception";
}

uint32_t Hash(uint32_t a, uint32_t b, uint32_t c, uint32_t seed)
{
    uint32_t h = seed * 0x9E3779B1u ^ a * 0x85EBCA77u ^ b * 0xC2B2AE3Du ^ c * 0x27D4EB2Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

struct FormatCase {
    int m_iFormat;
    int m_iType;
    int m_iCols; // delivered
    int m_iRows;
};

// Random content that the format can hold: 12-bit samples for packed formats,
// chroma shared where the format shares it, small steps for the summed formats.
void FillRandom(int format, TestImage& image, uint32_t seed)
{
    FPixmap& pm = image.Pixmap();
    const int cols = pm.GetCols();
    const int rows = pm.GetRows();
    const int type = pm.GetPixelType();
    const bool packed = format != 0 && format != 12 && format != 14 && format != 29 && format != 8;
    const uint32_t mask = packed ? 0xFFF : 0xFFFF;
    for (int y = 0; y < rows; ++y) {
        uint8_t* row = pm.GetRowAddress(y);
        if (type == FPixmap::PIXEL_24_RGB) {
            for (int i = 0; i < cols * 3; ++i) {
                row[i] = uint8_t(Hash(i, y, 0, seed));
            }
            continue;
        }
        if (type == FPixmap::PIXEL_30_RGB) {
            for (int x = 0; x < cols; ++x) {
                const uint32_t v = Hash(x, y, 0, seed);
                std::memcpy(row + 4 * x, &v, 4);
            }
            continue;
        }
        if (type == FPixmap::PIXEL_16_MONO) {
            for (int x = 0; x < cols; ++x) {
                image.Set16(x, y, 0, uint16_t(Hash(x, y, 0, seed) & mask));
            }
            continue;
        }
        int walk[3] = {0, 0, 0};
        for (int x = 0; x < cols; ++x) {
            for (int c = 0; c < 3; ++c) {
                uint32_t v = Hash(x, y, c, seed);
                const bool chroma = c != 1;
                if (chroma && (format == 14 || format == 16 || format == 20)) {
                    v = Hash(x / 2, y / 2, c, seed);
                } else if (chroma && format == 22) {
                    v = Hash(x, y / 2, c, seed);
                } else if (chroma && format == 21) {
                    v = Hash(x / 2, y, c, seed);
                }
                if (format == 5 || format == 6) {
                    walk[c] += int(v % 1024) - 512;
                    image.Set16(x, y, c, uint16_t(walk[c]));
                    continue;
                }
                image.Set16(x, y, c, uint16_t(v & mask));
            }
        }
    }
}

} // namespace

TEST(FBribImageDecoder, EveryFormatRoundTripsThroughItsEncoder)
{
    const std::vector<FormatCase> cases = {
        {0, FPixmap::PIXEL_48_RGB, 19, 5},   {1, FPixmap::PIXEL_30_RGB, 19, 5},
        {3, FPixmap::PIXEL_24_RGB, 19, 5},   {8, FPixmap::PIXEL_16_MONO, 19, 5},
        {29, FPixmap::PIXEL_48S_RGB, 19, 5}, {4, FPixmap::PIXEL_48_RGB, 32, 5},
        {5, FPixmap::PIXEL_48S_RGB, 19, 5},  {6, FPixmap::PIXEL_48S_RGB, 37, 7},
        {6, FPixmap::PIXEL_48S_RGB, 1, 3},   {9, FPixmap::PIXEL_16_MONO, 32, 5},
        {11, FPixmap::PIXEL_24_RGB, 37, 7},  {12, FPixmap::PIXEL_48_RGB, 19, 5},
        {13, FPixmap::PIXEL_48_RGB, 32, 5},  {24, FPixmap::PIXEL_48_RGB, 32, 5},
        {14, FPixmap::PIXEL_48_RGB, 38, 6},  {16, FPixmap::PIXEL_48_RGB, 64, 6},
        {16, FPixmap::PIXEL_48_RGB, 10, 2},  {17, FPixmap::PIXEL_16_MONO, 64, 6},
        {20, FPixmap::PIXEL_48_RGB, 64, 6},  {21, FPixmap::PIXEL_48_RGB, 64, 5},
        {22, FPixmap::PIXEL_48_RGB, 32, 6},  {22, FPixmap::PIXEL_48_RGB, 12, 4},
        {30, FPixmap::PIXEL_48S_RGB, 37, 7}, {30, FPixmap::PIXEL_48S_RGB, 1, 1},
    };
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        for (const auto& c : cases) {
            SCOPED_TRACE("format " + std::to_string(c.m_iFormat) + " cols " + std::to_string(c.m_iCols) +
                         " seed " + std::to_string(seed));
            TestImage source(c.m_iType, c.m_iCols, c.m_iRows);
            FillRandom(c.m_iFormat, source, seed);
            const EncodedImage e = EncodeImage(c.m_iFormat, source.Pixmap());
            TestImage decoded(c.m_iType, c.m_iCols, c.m_iRows);
            double progress = -1;
            EXPECT_TRUE(DecodeInto(e, decoded, &progress));
            EXPECT_EQ(decoded.Pixels(c.m_iCols), source.Pixels(c.m_iCols));
            EXPECT_GE(progress, 0.0);
        }
    }
}

TEST(FBribImageDecoder, PackedSamplesAreReadFromTheTopOfTheFirstWord)
{
    // Eight samples, two of which straddle words: written here by hand, not by the packer.
    const uint16_t samples[8] = {0x123, 0x456, 0x789, 0xABC, 0xDEF, 0x024, 0x68A, 0xCE1};
    EncodedImage e;
    e.m_iFormat = 9;
    e.m_iCols = 8;
    e.m_iRows = 1;
    e.m_iRowSize = 12;
    for (uint32_t w : {0x12345678u, 0x9ABCDEF0u, 0x2468ACE1u}) {
        for (int i = 0; i < 4; ++i) {
            e.m_payload.push_back(uint8_t(w >> (8 * i)));
        }
    }
    TestImage image(FPixmap::PIXEL_16_MONO, 8, 1);
    ASSERT_TRUE(DecodeInto(e, image));
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(image.At16(x, 0, 0), samples[x]) << x;
    }
    std::vector<uint8_t> packed;
    rawcodec::Pack12(samples, 8, packed);
    EXPECT_EQ(packed, e.m_payload);
}

namespace
{

// The colour conversion of the YCbCr formats, written from its formula.
std::array<int, 3> YCbCrOracle(int y, int cb, int cr, int y0, int c0)
{
    const double Y = y - y0;
    const double Cr = cr - c0;
    const double Cb = cb - c0;
    auto clamp = [](double v) { return int(std::min(4095.0, std::max(0.0, std::floor(v)))); };
    return {clamp(1.1644 * Y + 1.596 * Cr - 0.0001 * Cb), clamp(1.1644 * Y - 0.813 * Cr - 0.3917 * Cb),
            clamp(1.1644 * Y + 2.0173 * Cb - 0.0001 * Cr)};
}

void ExpectPixel(const TestImage& image, int x, int y, std::array<int, 3> rgb)
{
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(image.At16(x, y, c), rgb[c]) << "pixel " << x << "," << y << " channel " << c;
    }
}

} // namespace

TEST(FBribImageDecoder, YCbCrFormats)
{
    {
        // Format 25: per input column Y00 Y01 Y10 Y11 Cb Cr; three columns, a partial group.
        std::vector<uint16_t> s = {256, 4095, 1000, 2000, 2048, 2048, 500, 600,  700,
                                   800, 1500, 2600, 300,  301,  302,  303, 3000, 100};
        const EncodedImage e = rawcodec::PackSampleRows(25, 3, {s});
        TestImage image(FPixmap::PIXEL_48_RGB, 6, 2);
        ASSERT_TRUE(DecodeInto(e, image));
        ExpectPixel(image, 0, 0, {0, 0, 0});
        ExpectPixel(image, 1, 0, {4095, 4095, 4095});
        for (int k = 0; k < 3; ++k) {
            const uint16_t* c = s.data() + 6 * k;
            ExpectPixel(image, 2 * k, 0, YCbCrOracle(c[0], c[4], c[5], 256, 2048));
            ExpectPixel(image, 2 * k + 1, 0, YCbCrOracle(c[1], c[4], c[5], 256, 2048));
            ExpectPixel(image, 2 * k, 1, YCbCrOracle(c[2], c[4], c[5], 256, 2048));
            ExpectPixel(image, 2 * k + 1, 1, YCbCrOracle(c[3], c[4], c[5], 256, 2048));
        }
    }
    {
        // Format 26: bytes Y0 Cb Y1 Cr; each channel limited to 255 and times 16; three columns.
        EncodedImage e;
        e.m_iFormat = 26;
        e.m_iCols = 3;
        e.m_iRows = 1;
        e.m_iRowSize = 8;
        e.m_payload = {235, 128, 16, 128, 200, 90, 77, 160};
        TestImage image(FPixmap::PIXEL_48_RGB, 3, 1);
        ASSERT_TRUE(DecodeInto(e, image));
        ExpectPixel(image, 0, 0, {4080, 4080, 4080});
        ExpectPixel(image, 1, 0, {0, 0, 0});
        auto eight = YCbCrOracle(200, 90, 160, 16, 128);
        for (auto& v : eight) {
            v = std::min(v, 255) * 16;
        }
        ExpectPixel(image, 2, 0, eight);
    }
    {
        // Format 27: Y0 Cb Y1 Cr Y2 Cb Y3 Cr; pixels 0-1 and 2-3 share their chroma.
        const std::vector<uint16_t> s = {900, 1000, 1100, 3000, 1200, 2500, 1300, 1800, 600, 2048, 700, 2048};
        const EncodedImage e = rawcodec::PackSampleRows(27, 6, {s});
        TestImage image(FPixmap::PIXEL_48_RGB, 6, 1);
        ASSERT_TRUE(DecodeInto(e, image));
        ExpectPixel(image, 0, 0, YCbCrOracle(900, 1000, 3000, 256, 2048));
        ExpectPixel(image, 1, 0, YCbCrOracle(1100, 1000, 3000, 256, 2048));
        ExpectPixel(image, 2, 0, YCbCrOracle(1200, 2500, 1800, 256, 2048));
        ExpectPixel(image, 3, 0, YCbCrOracle(1300, 2500, 1800, 256, 2048));
        ExpectPixel(image, 4, 0, YCbCrOracle(600, 2048, 2048, 256, 2048));
        ExpectPixel(image, 5, 0, YCbCrOracle(700, 2048, 2048, 256, 2048));
    }
    {
        // Format 28: Y, Cr, Cb per pixel.
        std::vector<uint16_t> s;
        for (int x = 0; x < 8; ++x) {
            s.insert(s.end(), {uint16_t(500 + 300 * x), uint16_t(1000 + 200 * x), uint16_t(3000 - 250 * x)});
        }
        const EncodedImage e = rawcodec::PackSampleRows(28, 8, {s});
        TestImage image(FPixmap::PIXEL_48_RGB, 8, 1);
        ASSERT_TRUE(DecodeInto(e, image));
        for (int x = 0; x < 8; ++x) {
            ExpectPixel(image, x, 0, YCbCrOracle(s[3 * x], s[3 * x + 2], s[3 * x + 1], 256, 2048));
        }
    }
}

TEST(FBribImageDecoder, SummedFormatsRestartEveryRowAndWrap)
{
    {
        // Format 5, every code 0 with table[0] = 1000: 1000, 2000, ... wrapping at 16 bits.
        std::vector<int16_t> table(1024, 7);
        table[0] = 1000;
        EncodedImage e;
        e.m_iFormat = 5;
        e.m_iCols = 80;
        e.m_iRows = 2;
        e.m_iRowSize = 4 * 80;
        for (int16_t v : table) {
            e.m_payload.push_back(uint8_t(v));
            e.m_payload.push_back(uint8_t(uint16_t(v) >> 8));
        }
        e.m_payload.resize(e.m_payload.size() + 2 * 4 * 80, 0);
        TestImage image(FPixmap::PIXEL_48S_RGB, 80, 2);
        ASSERT_TRUE(DecodeInto(e, image));
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 80; ++x) {
                EXPECT_EQ(image.At16(x, y, 1), uint16_t(1000 * (x + 1))) << x;
            }
        }
    }
    {
        // Format 11, every symbol 1: 1, 2, 3, ... modulo 256, from 0 again on every row.
        std::vector<uint8_t> lengths(256, 0);
        lengths[0] = 1;
        lengths[1] = 1;
        const auto code = rawcodec::CanonicalCode(lengths);
        const int cols = 300;
        const std::vector<std::vector<uint16_t>> rows(2, std::vector<uint16_t>(3 * cols, 1));
        const EncodedImage e = rawcodec::EncodeHuffmanRows(11, cols, rows, code);
        TestImage image(FPixmap::PIXEL_24_RGB, cols, 2);
        ASSERT_TRUE(DecodeInto(e, image));
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < cols; ++x) {
                for (int c = 0; c < 3; ++c) {
                    EXPECT_EQ(image.Row(y)[3 * x + c], uint8_t(x + 1));
                }
            }
        }
    }
}

namespace
{

EncodedImage SmallHuffmanImage(int format, int cols, int rows, uint32_t seed)
{
    TestImage source(format == 6 ? FPixmap::PIXEL_48S_RGB : FPixmap::PIXEL_24_RGB, cols, rows);
    FillRandom(format, source, seed);
    return EncodeImage(format, source.Pixmap());
}

size_t RowTableOffset(const EncodedImage& e)
{
    return e.m_payload.size() - 4 * size_t(e.m_iRows);
}

void PutWord(std::vector<uint8_t>& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = uint8_t(v >> (8 * i));
    }
}

uint32_t GetWord(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

} // namespace

TEST(FBribImageDecoder, VariableLengthTableChecks)
{
    const EncodedImage good = SmallHuffmanImage(11, 9, 4, 5);
    struct Case {
        const char* m_name;
        std::function<void(EncodedImage&)> m_damage;
        std::string m_expected; // contained in the message
    };
    const std::vector<Case> cases = {
        {"row table not starting at 0",
         [](EncodedImage& e) {
             const size_t t = RowTableOffset(e);
             PutWord(e.m_payload, t, 4);
             PutWord(e.m_payload, t + 4, std::max<uint32_t>(4, GetWord(e.m_payload, t + 4)));
         },
         "(uiFilePosNow-uiFilePosHuffDat) == pRowPtrTable[row]"},
        {"data size not a multiple of 4",
         [](EncodedImage& e) { e.m_payload.insert(e.m_payload.begin() + long(RowTableOffset(e)), 2, 0); },
         "(uiSizeHuffData&3) == 0"},
        {"row length not a multiple of 4",
         [](EncodedImage& e) {
             const size_t t = RowTableOffset(e);
             PutWord(e.m_payload, t + 4, GetWord(e.m_payload, t + 4) + 2);
         },
         "(uiReadSize&3) == 0"},
        {"decreasing row table",
         [](EncodedImage& e) {
             const size_t t = RowTableOffset(e);
             PutWord(e.m_payload, t + 8, GetWord(e.m_payload, t + 4) - 4);
         },
         "ReadImageVariableLineLength: row pointer table out of order"},
        {"row table past the data",
         [](EncodedImage& e) { PutWord(e.m_payload, RowTableOffset(e) + 12, 0x7FFFFFF0); },
         "ReadImageVariableLineLength: row pointer table out of order"},
        {"payload smaller than its tables", [](EncodedImage& e) { e.m_payload.resize(1000); },
         "ReadImageVariableLineLength: payload too small for its tables"},
        {"not a Huffman format", [](EncodedImage& e) { e.m_iFormat = 3; },
         "ReadImageVariableLineLength: variable line length image type is not HUFFMAN!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        EncodedImage e = good;
        c.m_damage(e);
        TestImage image(FPixmap::PIXEL_24_RGB, 9, 4);
        const std::string message = MessageOf([&] { DecodeInto(e, image); });
        EXPECT_NE(message.find(c.m_expected), std::string::npos) << message;
    }
}

TEST(FBribImageDecoder, ShortOrUndecodableRowRepeatsTheRowAbove)
{
    std::vector<uint8_t> lengths(1024, 0);
    for (int s = 0; s < 16; ++s) {
        lengths[s] = 4;
    }
    const auto code = rawcodec::CanonicalCode(lengths);
    const int cols = 40;
    std::vector<std::vector<uint16_t>> rows(5);
    std::mt19937 rng(3);
    for (auto& r : rows) {
        for (int i = 0; i < 3 * cols; ++i) {
            r.push_back(uint16_t(rng() % 16));
        }
    }
    auto fullRows = rows;
    rows[0].resize(20); // too short: row 0 keeps what the pixmap held
    // Short by more than its padding can make up: a copy of row 1, not stale symbols.
    rows[2].resize(3 * cols - 9);
    const EncodedImage e = rawcodec::EncodeHuffmanRows(6, cols, rows, code, rawcodec::DefaultValueTable());
    const EncodedImage reference =
        rawcodec::EncodeHuffmanRows(6, cols, fullRows, code, rawcodec::DefaultValueTable());
    TestImage image(FPixmap::PIXEL_48S_RGB, cols, 5);
    TestImage expected(FPixmap::PIXEL_48S_RGB, cols, 5);
    FDebugTraceCapture trace;
    ASSERT_TRUE(DecodeInto(e, image));
    // Row 0 gave 24 symbols (20 and its padding) of 120; row 2 misses fewer than 32.
    EXPECT_EQ(trace.GetText(), "Found 32 or more bits left over in Huffman Decode 24 120\n");
    ASSERT_TRUE(DecodeInto(reference, expected));
    const size_t rowBytes = size_t(cols) * 6;
    EXPECT_EQ(std::vector<uint8_t>(image.Row(0), image.Row(0) + rowBytes),
              std::vector<uint8_t>(rowBytes, kFill));
    EXPECT_EQ(0, std::memcmp(image.Row(1), expected.Row(1), rowBytes));
    EXPECT_EQ(0, std::memcmp(image.Row(2), expected.Row(1), rowBytes));
    EXPECT_EQ(0, std::memcmp(image.Row(3), expected.Row(3), rowBytes));
    EXPECT_EQ(0, std::memcmp(image.Row(4), expected.Row(4), rowBytes));
}

namespace
{

TestImage RandomM4Source(int cols, int rows, uint32_t seed)
{
    TestImage source(FPixmap::PIXEL_48S_RGB, cols, rows);
    FillRandom(30, source, seed);
    return source;
}

} // namespace

TEST(FBribImageDecoder, M4RowsLongerThanTheReadWindow)
{
    // About 20 kB per plane row: the window must move within rows.
    TestImage source = RandomM4Source(9000, 3, 11);
    const EncodedImage e = EncodeImage(30, source.Pixmap());
    TestImage decoded(FPixmap::PIXEL_48S_RGB, 9000, 3);
    double progress = 0;
    ASSERT_TRUE(DecodeInto(e, decoded, &progress));
    EXPECT_EQ(decoded.Pixels(9000), source.Pixels(9000));
    EXPECT_EQ(progress, 1.0);
}

TEST(FBribImageDecoder, M4PlaneThatGoesWrongEndsThereAndTheOthersDecode)
{
    const int cols = 16;
    const int rows = 6;
    TestImage source(FPixmap::PIXEL_48S_RGB, cols, rows);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            source.Set16(x, y, 0, 512);
            // Green: flat until row 3, whose first value needs category 10.
            source.Set16(x, y, 1, uint16_t(y < 3 ? 512 : ((x / 2) % 2 == 0 ? 1500 : 2600)));
            source.Set16(x, y, 2, uint16_t(100 + x + y));
        }
    }
    EncodeOptions options;
    options.m_firstPredictor[2] = 105;
    EncodedImage e = EncodeImage(30, source.Pixmap(), options);
    // Category 10's code word gets length 0: the search stops there without a match.
    e.m_payload[8 + 2 * 10] = 0;
    e.m_payload[8 + 2 * 10 + 1] = 0;
    // Blue's first predictor 2: its first value 100 - 105 + 2 is negative.
    e.m_payload[4] = 2;
    e.m_payload[5] = 0;

    TestImage decoded(FPixmap::PIXEL_48S_RGB, cols, rows);
    EXPECT_TRUE(DecodeInto(e, decoded));
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            EXPECT_EQ(decoded.At16(x, y, 0), 512);
            EXPECT_EQ(decoded.At16(x, y, 1), y < 3 ? 512 : (kFill | kFill << 8)) << x << "," << y;
            EXPECT_EQ(decoded.At16(x, y, 2), kFill | kFill << 8);
        }
    }
}

TEST(FBribImageDecoder, M4TruncatedPlaneEndsWithoutReadingPastThePayload)
{
    TestImage source = RandomM4Source(50, 20, 4);
    EncodedImage e = EncodeImage(30, source.Pixmap());
    const size_t full = e.m_payload.size();
    e.m_payload.resize(full - 300);
    e.m_payload.shrink_to_fit();
    TestImage decoded(FPixmap::PIXEL_48S_RGB, 50, 20);
    EXPECT_TRUE(DecodeInto(e, decoded));
    // Red and green are whole; blue stops where its data does, and what it wrote is right.
    int bluePixels = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 50; ++x) {
            EXPECT_EQ(decoded.At16(x, y, 0), source.At16(x, y, 0));
            EXPECT_EQ(decoded.At16(x, y, 1), source.At16(x, y, 1));
            if (decoded.At16(x, y, 2) != (kFill | kFill << 8)) {
                EXPECT_EQ(decoded.At16(x, y, 2), source.At16(x, y, 2));
                ++bluePixels;
            }
        }
    }
    EXPECT_GT(bluePixels, 0);
    EXPECT_LT(bluePixels, 50 * 20);
}

TEST(FBribImageDecoder, CancelStopsAtRowEnds)
{
    const char cancel = 1;
    {
        // Each plane still decodes its first row.
        TestImage source = RandomM4Source(12, 4, 8);
        const EncodedImage e = EncodeImage(30, source.Pixmap());
        TestImage decoded(FPixmap::PIXEL_48S_RGB, 12, 4);
        EXPECT_FALSE(DecodeInto(e, decoded, nullptr, &cancel));
        EXPECT_EQ(decoded.Pixels(12).size(), source.Pixels(12).size());
        for (int x = 0; x < 12; ++x) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(decoded.At16(x, 0, c), source.At16(x, 0, c));
                EXPECT_EQ(decoded.At16(x, 1, c), kFill | kFill << 8);
            }
        }
    }
    for (int format : {4, 11}) {
        SCOPED_TRACE(format);
        const int type = format == 4 ? FPixmap::PIXEL_48_RGB : FPixmap::PIXEL_24_RGB;
        TestImage source(type, 16, 3);
        FillRandom(format, source, 2);
        const EncodedImage e = EncodeImage(format, source.Pixmap());
        TestImage decoded(type, 16, 3);
        EXPECT_FALSE(DecodeInto(e, decoded, nullptr, &cancel));
        const int bytes = 16 * GetPixelTypeBytesPerPixel(type);
        EXPECT_EQ(0, std::memcmp(decoded.Row(0), source.Row(0), size_t(bytes)));
        EXPECT_EQ(decoded.Row(1)[0], kFill);
    }
}

TEST(FBribImageDecoder, RefusalsWithTheirMessages)
{
    TestImage source(FPixmap::PIXEL_48_RGB, 16, 2);
    FillRandom(13, source, 1);
    const EncodedImage packed = EncodeImage(13, source.Pixmap());
    const EncodedImage plain = EncodeImage(0, source.Pixmap());
    struct Case {
        const char* m_name;
        EncodedImage m_image;
        int m_iType;
        int m_iCols;
        int m_iRows;
        int m_iExtraStride;
        std::string m_expected;
    };
    auto with = [](EncodedImage e, const std::function<void(EncodedImage&)>& f) {
        f(e);
        return e;
    };
    const std::vector<Case> cases = {
        {"too few columns", packed, FPixmap::PIXEL_48_RGB, 15, 2, 6,
         "GetImage() : pixmap too small to receive image"},
        {"too few rows", packed, FPixmap::PIXEL_48_RGB, 16, 1, 0,
         "GetImage() : pixmap too small to receive image"},
        {"doubled rows", with(packed, [](EncodedImage& e) { e.m_iFormat = 16; }), FPixmap::PIXEL_48_RGB, 32,
         3, 0, "GetImage() : pixmap too small to receive image"},
        {"wrong type", packed, FPixmap::PIXEL_48S_RGB, 16, 2, 0,
         "GetImage() : pixmap has incompatible pixel type"},
        {"unsupported format", with(packed, [](EncodedImage& e) { e.m_iFormat = 7; }), FPixmap::PIXEL_48_RGB,
         16, 2, 0, "GetImage() : pixmap has incompatible pixel type"},
        {"rows wider than the pixmap's", with(plain, [](EncodedImage& e) { e.m_iRowSize += 4; }),
         FPixmap::PIXEL_48_RGB, 16, 2, 0,
         "ReadImageFixedLineLength() : pixmap's rows are too small for brib rows"},
        {"format 2", with(packed, [](EncodedImage& e) { e.m_iFormat = 2; }), FPixmap::PIXEL_48_RGB, 16, 2, 0,
         "ReadImageFixedLineLength() : unsupported resampling pixel type."},
        {"row size too small for the columns", with(packed, [](EncodedImage& e) { e.m_iRowSize = 24; }),
         FPixmap::PIXEL_48_RGB, 16, 2, 0,
         "ReadImageFixedLineLength() : brib rows are too small for the image's columns"},
        {"row size 0, not Huffman", with(packed, [](EncodedImage& e) { e.m_iRowSize = 0; }),
         FPixmap::PIXEL_48_RGB, 16, 2, 0,
         "ReadImageVariableLineLength: variable line length image type is not HUFFMAN!"},
        {"negative columns", with(packed, [](EncodedImage& e) { e.m_iCols = -8; }), FPixmap::PIXEL_48_RGB, 16,
         2, 0, "GetImage() : image dimensions out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        TestImage image(c.m_iType, c.m_iCols, c.m_iRows, c.m_iExtraStride);
        EXPECT_EQ(MessageOf([&] { DecodeInto(c.m_image, image); }), c.m_expected);
    }
    // A payload shorter than its rows ends in the storage's end-of-file exception.
    EncodedImage cut = packed;
    cut.m_payload.resize(cut.m_payload.size() - 1);
    TestImage image(FPixmap::PIXEL_48_RGB, 16, 2);
    EXPECT_THROW(DecodeInto(cut, image), FExceptionEOF);
}

TEST(FBribImageDecoder, M4StreamWrittenByHand)
{
    // Categories 0, 1 and 2 coded "0", "10" and "11"; red 5, 6, 4 from first predictor 5:
    // "0", "10" + "1", "10" + "0" = 0101100x. Green and blue repeat their first predictors.
    std::vector<uint8_t> p = {5, 0, 7, 0, 9, 0, 0, 0};
    for (uint16_t w : {0x0001, 0x8002, 0xC002}) {
        p.push_back(uint8_t(w));
        p.push_back(uint8_t(w >> 8));
    }
    p.resize(36, 0);
    for (int plane = 0; plane < 3; ++plane) {
        p.insert(p.end(), {1, 0, 0, 0});
    }
    // Each plane starts 16 bytes after the previous one: its length rounded up to 16.
    p.push_back(0x58);
    p.resize(64, 0);
    p.push_back(0x00);
    p.resize(80, 0);
    p.push_back(0x00);
    EncodedImage e;
    e.m_iFormat = 30;
    e.m_iCols = 3;
    e.m_iRows = 1;
    e.m_iRowSize = 18;
    e.m_payload = p;
    TestImage image(FPixmap::PIXEL_48S_RGB, 3, 1);
    ASSERT_TRUE(DecodeInto(e, image));
    const int expected[3][3] = {{5, 6, 4}, {7, 7, 7}, {9, 9, 9}};
    for (int c = 0; c < 3; ++c) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(image.At16(x, 0, c), expected[c][x]) << x << "," << c;
        }
    }
}

TEST(FBribImageDecoder, HuffmanResultDoesNotDependOnTheThreadCount)
{
    struct Case {
        int m_iFormat;
        int m_iType;
    };
    for (const Case c : {Case{6, FPixmap::PIXEL_48S_RGB}, Case{11, FPixmap::PIXEL_24_RGB},
                         Case{30, FPixmap::PIXEL_48S_RGB}}) {
        SCOPED_TRACE(c.m_iFormat);
        const int cols = 37;
        const int rows = 61;
        TestImage source(c.m_iType, cols, rows);
        FillRandom(c.m_iFormat, source, 9);
        EncodedImage e = EncodeImage(c.m_iFormat, source.Pixmap());
        if (c.m_iFormat != 30) {
            // Rows the whole-row path leaves to the byte-wise one: cut short, and garbled.
            const size_t t = RowTableOffset(e);
            const size_t data = c.m_iFormat == 6 ? 2 * 1024 + 4 * 1024 : 4 * 256;
            PutWord(e.m_payload, t + 4 * 7, GetWord(e.m_payload, t + 4 * 8) - 4);
            for (size_t i = GetWord(e.m_payload, t + 4 * 20); i < GetWord(e.m_payload, t + 4 * 21); ++i) {
                e.m_payload[data + i] ^= 0x5A;
            }
        } else {
            e.m_payload.resize(e.m_payload.size() - 40); // the last plane ends early
        }
        std::vector<uint8_t> first;
        std::string firstTrace;
        double firstProgress = 0;
        for (int threads : {1, 2, 3, 8}) {
            SCOPED_TRACE(threads);
            TestImage decoded(c.m_iType, cols, rows);
            FDebugTraceCapture trace;
            double progress = -1;
            FBribPayload payload(e.m_payload.data(), e.m_payload.size());
            ASSERT_TRUE(
                FBribImageDecoder::Decode(payload, HeadOf(e), decoded.Pixmap(), &progress, nullptr, threads));
            if (threads == 1) {
                first = decoded.Pixels(cols);
                firstTrace = trace.GetText();
                firstProgress = progress;
                EXPECT_NE(first, source.Pixels(cols));
                EXPECT_EQ(firstTrace.empty(), c.m_iFormat == 30);
                continue;
            }
            EXPECT_EQ(decoded.Pixels(cols), first);
            EXPECT_EQ(trace.GetText(), firstTrace);
            EXPECT_EQ(progress, firstProgress);
        }
    }
}
