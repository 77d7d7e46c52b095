#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "EngineTestSupport.h"
#include "FCache.h"
#include "FException.h"
#include "FIPMImage.h"
#include "FImage.h"
#include "FMutex.h"
#include "FPixmap.h"
#include "FPropList.h"

namespace
{

using OutputImageTest = FEngineTest;

void ExpectWorkedExample(const FIHistogram& h)
{
    const FIHistogram::ColorBin* bins = h.GetColorBins();
    EXPECT_EQ(bins[30].red, 1u);
    EXPECT_EQ(bins[100].red, 1u);
    EXPECT_EQ(bins[20].green, 1u);
    EXPECT_EQ(bins[0].green, 1u);
    EXPECT_EQ(bins[10].blue, 1u);
    EXPECT_EQ(bins[0].blue, 1u);
    EXPECT_EQ(bins[0].red, 0u);
    EXPECT_EQ(h.GetLumBins()[22], 1u);
    EXPECT_EQ(h.GetLumBins()[30], 1u);
    uint32_t lumTotal = 0;
    for (int i = 0; i < 256; ++i)
        lumTotal += h.GetLumBins()[i];
    EXPECT_EQ(lumTotal, 2u);
    EXPECT_EQ(h.GetCount(), 2u);
}

TEST_F(OutputImageTest, HistogramWorkedExampleAlsoOverPaddedRows)
{
    const uint8_t pixels[8] = {10, 20, 30, 255, 0, 0, 100, 7};
    FPixmap_Display tight(const_cast<uint8_t*>(pixels), 2, 1, 0);
    FIHistogram h;
    h.Compute(tight);
    ExpectWorkedExample(h);

    // One pixel per row, rows 12 bytes apart; the padding holds bytes that must not count.
    std::vector<uint8_t> padded(24, 99);
    std::memcpy(padded.data(), pixels, 4);
    std::memcpy(padded.data() + 12, pixels + 4, 4);
    FPixmap_Display strided(padded.data(), 1, 2, 12);
    h.Compute(strided);
    ExpectWorkedExample(h);

    FPixmap48RGB wrongType(padded.data(), 1, 1, 0);
    h.Compute(wrongType);
    EXPECT_EQ(h.GetCount(), 0u);
    EXPECT_EQ(h.GetLumBins()[22], 0u);
}

TEST_F(OutputImageTest, ImageOverAStageObject)
{
    FCacheObject* object = FIPMCommon::AllocCacheImage(u"S4 test", FPixmap::PIXEL_32_BGRA, 2, 1);
    ASSERT_NE(object, nullptr);
    FPixmap* pixmap = FIPMCommon::GetStageImageRecord(object)->m_pPixmap;
    ASSERT_NE(pixmap, nullptr);
    const uint8_t pixels[8] = {10, 20, 30, 255, 0, 0, 100, 7};
    std::memcpy(pixmap->GetRowAddress(0), pixels, 8);

    auto* image = new FIPMCommon::Image(object);
    object->Release(); // the manager's reference; the image keeps its own
    EXPECT_EQ(image->GetPixmap(), pixmap);
    EXPECT_EQ(image->GetHistogramPtr(), nullptr);
    ASSERT_NE(image->GetHistogram(), nullptr);
    ExpectWorkedExample(*image->GetHistogramPtr());

    image->SetProperties(new FPropList(nullptr, "Props"));
    image->SetProperties(new FPropList(nullptr, "Props2")); // the first is deleted
    EXPECT_EQ(image->GetProperties()->GetName(), "Props2");

    // Referenced through the image, the block survives a cache emptied to nothing.
    GetGlobalCache()->SetSize(0);
    EXPECT_TRUE(GetGlobalCache()->Exists(u"S4 test", 0));
    EXPECT_EQ(image->GetPixmap()->GetRowAddress(0)[2], 30);

    EXPECT_EQ(image->AddRef(), 2u);
    EXPECT_EQ(image->Release(), 1u);
    EXPECT_EQ(image->Release(), 0u); // deleted here, its cache reference given back
    GetGlobalCache()->SetSize(0);
    EXPECT_FALSE(GetGlobalCache()->Exists(u"S4 test", 0));
}

TEST_F(OutputImageTest, StageImageRecordAndLookup)
{
    FCacheObject* object = FIPMCommon::AllocCacheImage(u"S1 a", FPixmap::PIXEL_48S_RGB, 5, 3);
    ASSERT_NE(object, nullptr);
    FIPMStageImageRecord* record = FIPMCommon::GetStageImageRecord(object);
    for (int32_t g : record->m_aiGeometry)
        EXPECT_EQ(g, 0);
    for (uint32_t w : record->m_ResumeState)
        EXPECT_EQ(w, 0u);
    EXPECT_EQ(record->m_bValid.load(), 0);
    EXPECT_EQ(record->m_pScratch, nullptr);
    ASSERT_NE(record->m_pMutex, nullptr);
    EXPECT_TRUE(record->m_pMutex->Lock(0));
    record->m_pMutex->Unlock();
    FPixmap* pixmap = record->m_pPixmap;
    ASSERT_NE(pixmap, nullptr);
    EXPECT_EQ(pixmap->GetPixelType(), FPixmap::PIXEL_48S_RGB);
    EXPECT_EQ(pixmap->GetCols(), 5);
    EXPECT_EQ(pixmap->GetRows(), 3);
    EXPECT_EQ(pixmap->GetStride(), 32); // 30 bytes rounded up to 4
    // The rows lie inside the block, after the record and the header.
    uint8_t* block = static_cast<uint8_t*>(object->GetData());
    EXPECT_GE(pixmap->GetBuffer(), block + sizeof(FIPMStageImageRecord));
    EXPECT_LE(pixmap->GetRowAddress(2) + 32, block + object->GetSize());
    // Whatever size or type is asked for, an existing label gives its object unchanged.
    record->m_aiGeometry[0] = 7;
    FCacheObject* again = FIPMCommon::AllocCacheImage(u"S1 a", FPixmap::PIXEL_32_BGRA, 100, 100);
    EXPECT_EQ(again, object);
    EXPECT_EQ(FIPMCommon::GetStageImageRecord(again)->m_aiGeometry[0], 7);
    again->Release();

    // A scratch image given to the record is freed with the block (the leak checker sees it).
    record->m_pScratch = new FImage(4, 4, FPixmap::PIXEL_48S_RGB, 4);
    object->Release();
    GetGlobalCache()->SetSize(0);
    EXPECT_EQ(GetGlobalCache()->GetEntryCount(), 0);
}

TEST_F(OutputImageTest, StageLUTRecord)
{
    for (bool color : {false, true}) {
        const char16_t* label = color ? u"tone" : u"gamma";
        FCacheObject* object = FIPMCommon::AllocCacheLUT(label, color);
        ASSERT_NE(object, nullptr);
        FIPMStageLUTRecord* record = FIPMCommon::GetStageLUTRecord(object);
        EXPECT_EQ(record->m_bColorLUT, color ? 1 : 0);
        EXPECT_EQ(record->m_bValid.load(), 0);
        ASSERT_NE(record->m_pMutex, nullptr);
        const int entries = (color ? 3 : 1) * FIPMStageLUTRecord::kTableEntries;
        uint8_t* block = static_cast<uint8_t*>(object->GetData());
        EXPECT_GE(reinterpret_cast<uint8_t*>(record->m_pData), block + sizeof(FIPMStageLUTRecord));
        EXPECT_LE(reinterpret_cast<uint8_t*>(record->m_pData + entries), block + object->GetSize());
        record->m_pData[entries - 1] = -5;
        EXPECT_EQ(FIPMCommon::AllocCacheLUT(label, !color), object);
        object->Release();
        object->Release();
    }
    GetGlobalCache()->SetSize(0);
    EXPECT_EQ(GetGlobalCache()->GetEntryCount(), 0);
}

TEST_F(OutputImageTest, BadSizesGiveNoObject)
{
    struct Case {
        int cols;
        int rows;
    };
    const Case cases[] = {{0, 10}, {10, 0}, {-1, 10}, {10, -5}, {100000, 100000}, {0x7FFFFFFF, 2}};
    for (const Case& c : cases)
        EXPECT_EQ(FIPMCommon::AllocCacheImage(u"bad", FPixmap::PIXEL_48_RGB, c.cols, c.rows), nullptr)
            << c.cols << "x" << c.rows;
    GetGlobalCache()->SetSize(1000);
    EXPECT_EQ(FIPMCommon::AllocCacheImage(u"too big for the cache", FPixmap::PIXEL_48_RGB, 100, 100),
              nullptr);
    EXPECT_EQ(FIPMCommon::AllocCacheLUT(u"too big for the cache", true), nullptr);
    EXPECT_THROW(FIPMCommon::AllocCacheImage(u"odd type", 42, 10, 10), FException);
    EXPECT_EQ(GetGlobalCache()->GetEntryCount(), 0);
}

// Boxes of whole pixels, as the gray balance and the preview's crop use them, worked out by
// hand for a 256 x 192 image: a pixel (x, y) goes to (y, 255 - x) at -90 degrees, to
// (191 - y, x) at 90 and to (255 - x, 191 - y) at 180.
TEST_F(OutputImageTest, TurnRectKeepsTheSamePixels)
{
    struct Case {
        double degrees;
        FRect expected;
        int cols, rows;
    };
    const FRect box(10, 20, 18, 28);
    const Case cases[] = {
        {-90, {20, 238, 28, 246}, 192, 256}, {270, {20, 238, 28, 246}, 192, 256},
        {90, {164, 10, 172, 18}, 192, 256},  {180, {238, 164, 246, 172}, 256, 192},
        {0, {10, 20, 18, 28}, 256, 192},
    };
    for (const Case& c : cases) {
        FRect r = box;
        int cols = 256, rows = 192;
        FIPMCommon::TurnRect(r, cols, rows, c.degrees);
        EXPECT_EQ(r, c.expected) << c.degrees;
        EXPECT_EQ(cols, c.cols) << c.degrees;
        EXPECT_EQ(rows, c.rows) << c.degrees;
        FIPMCommon::TurnRect(r, cols, rows, -c.degrees);
        EXPECT_EQ(r, box) << "and back, " << c.degrees;
    }
}

TEST_F(OutputImageTest, RotateRect)
{
    struct Case {
        double degrees;
        FRect rect;
        int cols, rows;
        FRect expected;
        int expectedCols, expectedRows;
    };
    const Case cases[] = {
        {-90, {0, 0, 10, 5}, 100, 50, {0, 89, 5, 99}, 50, 100},
        {90, {0, 0, 10, 5}, 100, 50, {44, 0, 49, 10}, 50, 100},
        {180, {0, 0, 10, 5}, 100, 50, {89, 44, 99, 49}, 100, 50},
        {270, {0, 0, 10, 5}, 100, 50, {0, 89, 5, 99}, 50, 100},
        {0, {3, 4, 10, 5}, 100, 50, {3, 4, 10, 5}, 100, 50},
    };
    for (const Case& c : cases) {
        FRect r = c.rect;
        int cols = c.cols, rows = c.rows;
        FIPMCommon::RotateRect(r, cols, rows, c.degrees);
        EXPECT_EQ(r, c.expected) << c.degrees;
        EXPECT_EQ(cols, c.expectedCols) << c.degrees;
        EXPECT_EQ(rows, c.expectedRows) << c.degrees;
        // And back again.
        FIPMCommon::RotateRect(r, cols, rows, -c.degrees);
        EXPECT_EQ(r, c.rect) << c.degrees;
        EXPECT_EQ(cols, c.cols);
        EXPECT_EQ(rows, c.rows);
    }
    // Sensor-sized images beyond 32767 rows must not overflow the fixed-point products.
    FRect big(0, 0, 40000, 50000);
    int cols = 40000, rows = 50000;
    FIPMCommon::RotateRect(big, cols, rows, 90);
    EXPECT_EQ(cols, 50000);
    EXPECT_EQ(rows, 40000);
    EXPECT_EQ(big.Width(), 50000);

    FRect same(1, 2, 3, 4);
    FIPMCommon::RotateRect(same, cols, rows, std::nan(""));
    EXPECT_EQ(same, FRect(1, 2, 3, 4));
    EXPECT_EQ(cols, 50000);
}

} // namespace
