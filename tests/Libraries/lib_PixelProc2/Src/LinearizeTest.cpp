#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FCamdataBuilder.h"
#include "FException.h"
#include "FLUT.h"
#include "FPixmap.h"
#include "FSyntheticCapture.h"
#include "LinearizeAndDarkSubtract.h"

namespace
{

// An identity table of `size` entries per channel, offset per channel so that a wrong
// channel shows.
struct IdentityTable {
    explicit IdentityTable(int size) : table(size)
    {
        for (int i = 0; i < size; ++i) {
            table.m_pRedData[i] = static_cast<int16_t>(i);
            table.m_pGreenData[i] = static_cast<int16_t>(i + 1);
            table.m_pBlueData[i] = static_cast<int16_t>(2 * i);
        }
    }
    FColorLUT table;
};

TEST(DarkSubtract, WithoutTableStoresLow16BitsOfTheDifference)
{
    const uint16_t dark[6] = {100, 0, 65535, 5, 5, 5};
    const uint16_t raw[6] = {90, 65535, 0, 5, 6, 4};
    int16_t out[6];
    DarkSubtractRow(dark, raw, 2, nullptr, out);
    EXPECT_EQ(static_cast<uint16_t>(out[0]), 0xFFF6);
    EXPECT_EQ(out[0], -10);
    EXPECT_EQ(out[1], -1); // 65535 wraps
    EXPECT_EQ(out[2], 1);  // -65535 wraps
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 1);
    EXPECT_EQ(out[5], -1);
}

TEST(DarkSubtract, TableLookupIsMaskedPerChannel)
{
    IdentityTable id(4096);
    const uint16_t dark[6] = {100, 100, 100, 0, 0, 0};
    const uint16_t raw[6] = {4000, 4000, 4000, 4100, 4095, 8191};
    int16_t out[6];
    DarkSubtractRow(dark, raw, 2, &id.table, out);
    EXPECT_EQ(out[0], 3900);
    EXPECT_EQ(out[1], 3900);
    EXPECT_EQ(out[2], 7800);
    // 4100 reads entry 4; the green table adds 1 to both sides, blue doubles.
    EXPECT_EQ(out[3], 4);
    EXPECT_EQ(out[4], 4095);
    EXPECT_EQ(out[5], 2 * 4095);

    // A table whose entries clip: values above the clip level map to it.
    FColorLUT clip(4096);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 4096; ++i)
            clip.GetChannel(c)[i] = static_cast<int16_t>(std::min(i, 3000));
    const uint16_t dark2[3] = {64, 64, 64};
    const uint16_t raw2[3] = {2000, 3500, 4095};
    DarkSubtractRow(dark2, raw2, 1, &clip, out);
    EXPECT_EQ(out[0], 1936);
    EXPECT_EQ(out[1], 2936);
    EXPECT_EQ(out[2], 2936);
}

TEST(DarkSubtract, OffsetsShiftBothLookupsAndCancelWithoutTable)
{
    std::mt19937 rng(7);
    const int cols = 37;
    std::vector<uint16_t> dark(3 * cols), raw(3 * cols);
    std::vector<int16_t> offsets(3 * cols), plain(3 * cols), shifted(3 * cols);
    for (int i = 0; i < 3 * cols; ++i) {
        dark[i] = static_cast<uint16_t>(rng() % 200);
        raw[i] = static_cast<uint16_t>(rng());
        offsets[i] = static_cast<int16_t>(rng());
    }
    DarkSubtractRow(dark.data(), raw.data(), cols, nullptr, plain.data());
    DarkSubtractRowWithOffset(dark.data(), raw.data(), cols, nullptr, shifted.data(), offsets.data());
    EXPECT_EQ(plain, shifted);
    for (int i = 0; i < 3 * cols; ++i)
        ASSERT_EQ(plain[i], static_cast<int16_t>(raw[i] - dark[i])) << i;

    // With a table: entry[(r + o) & mask] - entry[(d + o) & mask]; a negative sum wraps to
    // the top of the table.
    FColorLUT t(16);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 16; ++i)
            t.GetChannel(c)[i] = static_cast<int16_t>(i * i);
    const uint16_t d[3] = {2, 2, 2};
    const uint16_t r[3] = {5, 5, 5};
    const int16_t o[3] = {1, -3, 0};
    int16_t out[3];
    DarkSubtractRowWithOffset(d, r, 1, &t, out, o);
    EXPECT_EQ(out[0], 36 - 9);
    EXPECT_EQ(out[1], 4 - 225); // 2 - 3 = -1 reads entry 15
    EXPECT_EQ(out[2], 25 - 4);
}

// A dark frame of unsigned 48-bit pixels.
struct DarkFrame {
    DarkFrame(int cols, int rows)
        : pixels(3 * static_cast<size_t>(cols) * rows), pixmap(pixels.data(), cols, rows, 0)
    {
    }
    uint16_t* Row(int y) { return pixels.data() + 3 * static_cast<size_t>(pixmap.GetCols()) * y; }
    std::vector<uint16_t> pixels;
    FPixmap48RGB pixmap;
};

TEST(RawOffsetRow, FlatRowsGiveZeroOffsets)
{
    DarkFrame dark(9, 6);
    std::fill(dark.pixels.begin(), dark.pixels.end(), 321);
    std::vector<int16_t> offsets(27, 99);
    ASSERT_TRUE(CalculateRawOffsetRow(&dark.pixmap, offsets.data(), 0, 5, 1, 2));
    EXPECT_EQ(offsets, std::vector<int16_t>(27, 0));
}

TEST(RawOffsetRow, SmoothsTrimmedSumsAcrossColumns)
{
    // Rows (0, T, 2T) give sum 3T, maximum 2T, minimum 0: a trimmed sum of T.
    const int trimmed[5] = {0, 0, 8, 0, 0};
    DarkFrame dark(5, 3);
    for (int j = 0; j < 5; ++j)
        for (int c = 0; c < 3; ++c)
            for (int y = 0; y < 3; ++y)
                dark.Row(y)[3 * j + c] = static_cast<uint16_t>(y * trimmed[j]);
    int16_t offsets[15];
    ASSERT_TRUE(CalculateRawOffsetRow(&dark.pixmap, offsets, 0, 2, 1, 1));
    const int expected[5] = {0, 1, -6, 1, 1};
    for (int j = 0; j < 5; ++j)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(offsets[3 * j + c], expected[j]) << "column " << j << " channel " << c;

    // Shift 0: the profile is the trimmed sums themselves.
    ASSERT_TRUE(CalculateRawOffsetRow(&dark.pixmap, offsets, 0, 2, 1, 0));
    for (int16_t o : offsets)
        EXPECT_EQ(o, 0);
    // Shifts are taken modulo 32.
    ASSERT_TRUE(CalculateRawOffsetRow(&dark.pixmap, offsets, 0, 2, 1, 33));
    EXPECT_EQ(offsets[6], -6);
}

TEST(RawOffsetRow, TrimsByTheRealMinimumAbove12Bits)
{
    // 14-bit data: column j holds (9000 + 50 j, 9500, 9600). Dropping the real minimum and
    // maximum leaves 9500 in every column, so the offsets are 0.
    DarkFrame dark(6, 3);
    for (int j = 0; j < 6; ++j)
        for (int c = 0; c < 3; ++c) {
            dark.Row(0)[3 * j + c] = static_cast<uint16_t>(9000 + 50 * j);
            dark.Row(1)[3 * j + c] = 9500;
            dark.Row(2)[3 * j + c] = 9600;
        }
    int16_t offsets[18];
    ASSERT_TRUE(CalculateRawOffsetRow(&dark.pixmap, offsets, 0, 2, 1, 2));
    for (int16_t o : offsets)
        EXPECT_EQ(o, 0);
}

TEST(RawOffsetRow, RejectsSelectionsItCannotAverage)
{
    DarkFrame dark(4, 10);
    int16_t offsets[12];
    struct Case {
        uint32_t first, last, step;
    };
    const Case bad[] = {{0, 1, 1}, {0, 9, 5}, {5, 4, 1}, {0, 10, 1}, {2, 9, 0}, {0, 0xFFFFFFFFu, 1}};
    for (const Case& c : bad)
        EXPECT_FALSE(CalculateRawOffsetRow(&dark.pixmap, offsets, c.first, c.last, c.step, 4))
            << c.first << ".." << c.last << " step " << c.step;
    EXPECT_TRUE(CalculateRawOffsetRow(&dark.pixmap, offsets, 0, 9, 4, 4)); // rows 0, 4, 8
    EXPECT_FALSE(CalculateRawOffsetRow(nullptr, offsets, 0, 9, 1, 4));

    std::vector<uint8_t> bytes(4 * 10 * 3);
    FPixmap24RGB narrow(bytes.data(), 4, 10, 0);
    EXPECT_FALSE(CalculateRawOffsetRow(&narrow, offsets, 0, 9, 1, 4)) << "not a 16-bit RGB pixmap";
}

TEST(LinearizeAndDarkSubtractImage, ChecksInOrder)
{
    std::vector<uint16_t> a(3 * 4 * 3), b(3 * 4 * 3), c(3 * 4 * 3);
    FPixmap48RGB dark(a.data(), 4, 3, 0);
    FPixmap48RGB raw(b.data(), 4, 3, 0);
    FPixmap48SRGB out(c.data(), 4, 3, 0);
    FPixmap48RGB shortRaw(b.data(), 4, 2, 0);
    FPixmap48RGB narrowRaw(b.data(), 3, 3, 0);
    FPixmap48SRGB shortOut(c.data(), 4, 2, 0);
    struct Case {
        const FPixmap* dark;
        const FPixmap* raw;
        const FPixmap* out;
        const char* message;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "LinearizeAndDarkSubtractImage: dark image pointer is NULL.\n"},
        {&dark, nullptr, nullptr, "LinearizeAndDarkSubtractImage: raw image pointer is NULL.\n"},
        {&dark, &raw, nullptr, "LinearizeAndDarkSubtractImage: out image pointer is NULL.\n"},
        {&dark, &shortRaw, &out, "LinearizeAndDarkSubtractImage: dark and raw are different sizes.\n"},
        {&dark, &narrowRaw, &out, "LinearizeAndDarkSubtractImage: dark and raw are different sizes.\n"},
        {&dark, &raw, &shortOut, "LinearizeAndDarkSubtractImage: raw and output are different sizes.\n"},
    };
    for (const Case& k : cases) {
        try {
            LinearizeAndDarkSubtractImage(k.dark, k.raw, nullptr, k.out);
            ADD_FAILURE() << "no exception for " << k.message;
        } catch (const FExceptionPixelProc2& e) {
            EXPECT_STREQ(e.GetMessage(), k.message);
        }
    }
    EXPECT_NO_THROW(LinearizeAndDarkSubtractImage(&dark, &raw, nullptr, &out));
}

// Stage 1 as the engine runs it, over the synthetic capture and the plausible calibration:
// the grey card and the white patch come out at their linear levels, the shields at 0.
TEST(LinearizeAndDarkSubtractImage, SyntheticCaptureLinearisesToItsScene)
{
    FSyntheticCapture capture = MakeSyntheticCapture(256, 192);
    std::vector<uint8_t> buffer = BuildPlausibleCamdata(capture.width, capture.height);
    FCamdata camdata(buffer.data(), buffer.size());
    std::unique_ptr<FColorLUT> table(GetCamdataColorLUT("LinLUTs", camdata));
    ASSERT_NE(table, nullptr);

    const int w = capture.width;
    const int h = capture.height;
    FPixmap48RGB raw(capture.raw.data(), w, h, 0);
    FPixmap48RGB dark(capture.dark.data(), w, h, 0);
    std::vector<int16_t> pixels(3 * static_cast<size_t>(w) * h);
    FPixmap48SRGB out(pixels.data(), w, h, 0);
    LinearizeAndDarkSubtractImage(&dark, &raw, table.get(), &out);

    const uint32_t three = 3;
    const FCamdataMatrix* rows = camdata.GetMatrix("RawOffsetSourceRows", kCamdataUInt32, 1, &three);
    ASSERT_NE(rows, nullptr);
    const uint32_t* r = rows->GetData<uint32_t>();
    std::vector<int16_t> offsets(3 * static_cast<size_t>(w));
    ASSERT_TRUE(CalculateRawOffsetRow(&dark, offsets.data(), r[0], r[1], r[2],
                                      GetCamdataUInt("RawOffsetFilterShift", camdata)));
    for (int y = 0; y < h; ++y)
        DarkSubtractRowWithOffset(capture.DarkRow(y), capture.RawRow(y), w, table.get(), out.GetRow(y),
                                  offsets.data());

    auto mean = [&](const FRect& area, int channel) {
        double sum = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                sum += out.GetPixel(x, y)[channel];
        return sum / (static_cast<double>(area.Width()) * area.Height());
    };
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(mean(capture.greyCard, c), FSyntheticCapture::kGreyLevel, 3) << c;
        EXPECT_NEAR(mean(capture.whitePatch, c), FSyntheticCapture::kWhiteLevel, 3) << c;
        FRect shield;
        GetCamdataRect(shield, "DarkShieldTop", camdata);
        EXPECT_NEAR(mean(shield, c), 0, 1) << c;
    }
    EXPECT_GT(mean(capture.colourPatches, 0), 0);
}

} // namespace
