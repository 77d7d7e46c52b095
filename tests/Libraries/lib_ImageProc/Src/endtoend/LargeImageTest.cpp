// Images larger than the cache's default limit holds develop and save with the program's
// defaults: the cache and the page store's budget grow with the image.

#include <gtest/gtest.h>

#include <chrono>

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "DiskEngineTest.h"
#include "EngineTestSupport.h"
#include "FCache.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIPMemoryBudget.h"
#include "FJPEGImageReader.h"
#include "FMemoryAllocator.h"
#include "FPixmap.h"
#include "RawTestFolder.h"

namespace
{

constexpr uint64_t kMiB = uint64_t(1) << 20;
constexpr uint64_t kGiB = uint64_t(1) << 30;

TEST(MemoryBudget, GrowsWithTheImageWithinTheMachine)
{
    struct Case {
        int64_t pixels;
        uint64_t physical;
        uint64_t cacheAtLeast, cacheAtMost, pagesAtLeast, pagesAtMost;
    };
    const Case cases[] = {
        // Small images keep the defaults.
        {320 * 240, 24 * kGiB, 120 * kMiB, 120 * kMiB, 160 * kMiB, 160 * kMiB},
        // 4.6 megapixels: room for every stage image of several developments, and the
        // store holds the cache and the noise filter's planes beside it.
        {2640 * 1760, 24 * kGiB, 4646400ull * 44, 4646400ull * 64, 4646400ull * 80, 4646400ull * 100},
        // 12 and 24 megapixels: at most 512 MiB, unless what one development holds at once
        // (18 bytes a pixel) needs more; the store holds a development's peak.
        {4000 * 3000, 24 * kGiB, 512 * kMiB, 512 * kMiB, 12000000ull * 16 + 512 * kMiB, 768 * kMiB},
        {6000 * 4000, 24 * kGiB, 24000000ull * 18 + 32 * kMiB, 24000000ull * 24, 24000000ull * 30,
         768 * kMiB},
        {8000 * 6000, 24 * kGiB, 48000000ull * 18 + 32 * kMiB, 48000000ull * 24, 48000000ull * 30,
         48000000ull * 30 + 64 * kMiB},
        // A small machine caps both, never below the defaults.
        {6000 * 4000, 1 * kGiB, 512 * kMiB, 512 * kMiB, 512 * kMiB, 512 * kMiB},
        {6000 * 4000, 128 * kMiB, 120 * kMiB, 120 * kMiB, 160 * kMiB, 160 * kMiB},
        // An unknown machine: the cache's 32-bit ceiling.
        {30000 * 30000, 0, 3 * kGiB, 4 * kGiB - 1, 900000000ull * 16 + 3 * kGiB,
         900000000ull * 30 + 64 * kMiB},
    };
    for (const Case& c : cases) {
        const FIPMemoryBudget b = MemoryBudgetForImage(c.pixels, c.physical);
        EXPECT_GE(b.cacheLimit, c.cacheAtLeast) << c.pixels << " on " << c.physical;
        EXPECT_LE(b.cacheLimit, c.cacheAtMost) << c.pixels << " on " << c.physical;
        EXPECT_GE(b.pageBudget, c.pagesAtLeast) << c.pixels << " on " << c.physical;
        EXPECT_LE(b.pageBudget, c.pagesAtMost) << c.pixels << " on " << c.physical;
    }
}

// A development holds about 30 bytes a pixel at its peak: an image that cannot have that
// on the machine, or whose stages the cache cannot hold, is refused.
TEST(MemoryBudget, ImagesThatCannotFitAreRefused)
{
    struct Case {
        int64_t cols, rows;
        uint64_t physical;
        bool fits;
    };
    const Case cases[] = {
        {6000, 4000, 24 * kGiB, true},
        {6000, 4000, 1 * kGiB, true},
        {8000, 6000, 3 * kGiB / 2, false},
        {2640, 1760, 1 * kGiB, true},
        {640, 480, 128 * kMiB, true},
        {2640, 1760, 128 * kMiB, false},
        {20000, 20000, 64 * kGiB, false},
        {100000, 100000, 0, false},
        {10000, 10000, 0, true},
        {0, 0, 128 * kMiB, true},
        {int64_t(1) << 31, 1 << 20, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImageFitsMemory(c.cols, c.rows, c.physical), c.fits)
            << c.cols << " x " << c.rows << " on " << c.physical;
}

class LargeImage : public KeptMemoryEngineTest
{
};

TEST_F(LargeImage, FittingKeepsADeliberatelySmallCacheAndNeverShrinks)
{
    GetGlobalCache()->SetSize(750000);
    FitMemoryToImage(6000, 4000);
    EXPECT_EQ(GetGlobalCache()->GetSize(), 750000u);
    GetGlobalCache()->SetSize(FCache::kDefaultLimit);
    FitMemoryToImage(4000, 3000);
    const uint32_t grown = GetGlobalCache()->GetSize();
    EXPECT_GE(grown, 12000000u * 44);
    FitMemoryToImage(640, 480);
    EXPECT_EQ(GetGlobalCache()->GetSize(), grown);
}

// A raw image of more than nine megapixels, where the default cache held about 7.7, saves
// at full size with the defaults.
TEST_F(LargeImage, NineMegapixelRawSavesWithTheDefaults)
{
    constexpr int kCols = 3680, kRows = 2480;
    developtest::DevelopableRawOptions options;
    options.cols = kCols;
    options.rows = kRows;
    options.seed = 77;
    options.previewCols = {};
    const FWideString input = m_pFolder->Write("large.xxx", developtest::MakeDevelopableRaw(options));
    ASSERT_EQ(GetGlobalCache()->GetSize(), FCache::kDefaultLimit);
    FIPManagerRequest save;
    developtest::PrepareSave(save, input, m_pFolder->URL("out.jpg"), kSaveJPEG, kRGB24, 2, kCols, kRows);
    ASSERT_TRUE(developtest::RunThroughPool(save, nullptr, std::chrono::seconds(300)));
    ASSERT_EQ(save.m_Async.GetState(), kCompleted)
        << "error " << save.m_Async.GetErrorCode() << ": " << save.m_Async.m_usErrorText.GetNarrow();
    int cols = 0, rows = 0, type = 0;
    FJPEGImageReader reader(save.m_usOutputFile);
    reader.GetDimensions(cols, rows, type);
    EXPECT_EQ(cols, kCols);
    EXPECT_EQ(rows, kRows);
}

// An image whose development cannot have its memory fails at once with its text: no frame
// is read into the cache and no stage runs. The same file develops once the machine may
// hold it.
TEST_F(LargeImage, AnImageTooLargeForTheMemoryFailsBeforeAnyWork)
{
    developtest::DevelopableRawOptions options;
    options.cols = 1024;
    options.rows = 768;
    options.seed = 78;
    options.previewCols = {};
    const FWideString input = m_pFolder->Write("toolarge.xxx", developtest::MakeDevelopableRaw(options));
    struct Ceiling {
        Ceiling() { SetImageMemoryCeiling(16 * kMiB); }
        ~Ceiling() { SetImageMemoryCeiling(0); }
    };
    {
        Ceiling small;
        FIPManagerRequest save;
        developtest::PrepareSave(save, input, m_pFolder->URL("toolarge.jpg"), kSaveJPEG, kRGB24, 2, 1024,
                                 768);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(developtest::RunThroughPool(save, nullptr, std::chrono::seconds(60)));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(save.m_Async.GetState(), kError);
        EXPECT_EQ(save.m_Async.GetErrorCode(), kErrOutOfMemory);
        EXPECT_NE(std::string(save.m_Async.m_usErrorText.GetNarrow()).find("too large"), std::string::npos)
            << save.m_Async.m_usErrorText.GetNarrow();
        for (const FWideString& label : GetGlobalCache()->GetLabels())
            EXPECT_EQ(std::string(label.GetNarrow()).find("FileImage"), std::string::npos)
                << label.GetNarrow();
        EXPECT_FALSE(m_pFolder->Exists("toolarge.jpg"));
    }
    FIPManagerRequest save;
    developtest::PrepareSave(save, input, m_pFolder->URL("toolarge.jpg"), kSaveJPEG, kRGB24, 2, 1024, 768);
    ASSERT_TRUE(developtest::RunThroughPool(save, nullptr, std::chrono::seconds(120)));
    EXPECT_EQ(save.m_Async.GetState(), kCompleted) << save.m_Async.m_usErrorText.GetNarrow();
}

} // namespace
