#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "CorrectBadPixels.h"
#include "CorrectionsTestImage.h"
#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FCamdataBuilder.h"

namespace
{

uint32_t Entry(uint32_t row, uint32_t col, uint32_t mask)
{
    return (row << 20) | (col << 8) | mask;
}

TEST(CorrectBadPixels, MeanOfMaskedNeighboursTruncatesTowardZero)
{
    TestImage48 im(6, 6);
    im.At(1, 2, 0) = -3;
    im.At(3, 2, 0) = 0;
    im.At(1, 2, 1) = 7;
    im.At(3, 2, 1) = 8;
    const uint32_t list[] = {Entry(2, 2, 0x18)};
    CorrectBadPixels(im.Pixmap(), list, 1, nullptr);
    EXPECT_EQ(im.At(2, 2, 0), -1);
    EXPECT_EQ(im.At(2, 2, 1), 7);
}

TEST(CorrectBadPixels, EntriesOutsideTheAllowedAreaOrWithoutMaskAreSkipped)
{
    TestImage48 im = RandomImage48(12, 10, 4);
    const TestImage48 before = im;
    const uint32_t origin[2] = {static_cast<uint32_t>(-5), static_cast<uint32_t>(-5)};
    const uint32_t list[] = {Entry(1, 5, 0xFF), Entry(9, 5, 0xFF), Entry(5, 1, 0xFF), Entry(5, 11, 0xFF),
                             Entry(5, 5, 0)};
    CorrectBadPixels(im.Pixmap(), list, 5, nullptr);
    EXPECT_EQ(im.pixels, before.pixels);
    // Sensor pixels left of and above the image wrap to huge coordinates.
    const uint32_t wrapped[] = {Entry(3, 7, 0xFF), Entry(7, 3, 0xFF)};
    CorrectBadPixels(im.Pixmap(), wrapped, 2, origin);
    EXPECT_EQ(im.pixels, before.pixels);
    // The last allowed row and column are rows - 2 and columns - 2.
    const uint32_t edge[] = {Entry(8, 10, 0x02)};
    CorrectBadPixels(im.Pixmap(), edge, 1, nullptr);
    EXPECT_EQ(im.At(10, 8, 2), before.At(10, 7, 2));
    // Images too small for any entry.
    for (int rows : {0, 1, 2, 3}) {
        TestImage48 tiny(3, rows);
        const uint32_t any[] = {Entry(0, 0, 0xFF), Entry(1, 1, 0xFF), Entry(2, 2, 0xFF)};
        CorrectBadPixels(tiny.Pixmap(), any, 3, nullptr);
    }
}

TEST(CorrectBadPixels, LaterEntriesSeeEarlierReplacementsAndTheOriginMovesEntries)
{
    TestImage48 im(8, 8);
    im.At(2, 4, 0) = 100; // left of the first entry
    im.At(4, 4, 0) = 50;  // right of the second
    const uint32_t list[] = {Entry(14, 13, 0x08), Entry(14, 14, 0x18)};
    const uint32_t origin[2] = {static_cast<uint32_t>(-10), static_cast<uint32_t>(-10)};
    CorrectBadPixels(im.Pixmap(), list, 2, origin);
    EXPECT_EQ(im.At(3, 4, 0), 100);
    EXPECT_EQ(im.At(4, 4, 0), 50); // untouched: it is the neighbour
    // The second entry is at image (4, 4): (100 + 50) / 2 would need the old right pixel;
    // it reads its left neighbour (3, 4) = 100 after the first entry replaced it.
    const uint32_t second[] = {Entry(4, 5, 0x08)};
    CorrectBadPixels(im.Pixmap(), second, 1, nullptr);
    EXPECT_EQ(im.At(5, 4, 0), 50);
}

TEST(BadPixelSelection, ThresholdFollowsTheExposureTime)
{
    struct Case {
        double seconds;
        int expected;
    };
    const Case defaults[] = {{0.001, 128}, {2.0, 128}, {6.0, 79}, {10.0, 30}, {30.0, 30}};
    for (const Case& c : defaults)
        EXPECT_EQ(CalculateBadPixelThreshold(c.seconds, nullptr, 0, nullptr, 0), c.expected) << c.seconds;

    const uint32_t levels[] = {200, 40};
    const float sameTimes[] = {4.0f, 4.0f};
    EXPECT_EQ(CalculateBadPixelThreshold(4.0, levels, 2, sameTimes, 2), 200);
    EXPECT_EQ(CalculateBadPixelThreshold(4.001, levels, 2, sameTimes, 2), 40);
    const uint32_t oneLevel[] = {7};
    EXPECT_EQ(CalculateBadPixelThreshold(1.0, oneLevel, 1, sameTimes, 1), 128);

    const uint32_t list[] = {1, 2, 3, 4};
    const uint8_t badness[] = {79, 80, 255, 0};
    EXPECT_EQ(SelectBadPixels(list, 4, badness, 4, 79), std::vector<uint32_t>({2, 3}));
    // A badness array shorter than the list: entries without a value are dropped.
    EXPECT_EQ(SelectBadPixels(list, 4, badness, 2, 0), std::vector<uint32_t>({1, 2}));
}

TEST(BadPixelSelection, CalibrationListThinnedForAShortExposure)
{
    std::vector<uint8_t> data = BuildPlausibleCamdata(256, 192);
    FCamdata camdata(data.data(), data.size());
    uint32_t count = 0, badnessCount = 0, levelCount = 0, timeCount = 0;
    const uint32_t* list = GetCamdataUIntArray("BadPixels", camdata, count);
    const uint8_t* badness = GetCamdataByteArray("BPBadness", camdata, badnessCount);
    const uint32_t* levels = GetCamdataUIntArray("BadPixThreshLevels", camdata, levelCount);
    const float* times = GetCamdataFloatArray("BadPixThreshTimes", camdata, timeCount);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(badness, nullptr);
    const double seconds = GetCamdataFloat("CaptureShutter", camdata) * 0.000001;
    const uint8_t threshold = CalculateBadPixelThreshold(seconds, levels, levelCount, times, timeCount);
    EXPECT_EQ(threshold, 128);
    const std::vector<uint32_t> kept = SelectBadPixels(list, count, badness, badnessCount, threshold);
    ASSERT_EQ(kept.size(), 3u);

    TestImage48 im = RandomImage48(256, 192, 8, 1000, 10);
    TestImage48 before = im;
    CorrectBadPixels(im.Pixmap(), kept.data(), static_cast<uint32_t>(kept.size()), nullptr);
    int changed = 0;
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x)
            changed += im.At(x, y, 0) != before.At(x, y, 0) || im.At(x, y, 1) != before.At(x, y, 1);
    EXPECT_LE(changed, 3);
    EXPECT_GE(changed, 1);
}

} // namespace
