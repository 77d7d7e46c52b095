#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "FBandPool.h"
#include "FLargePageAllocator.h"
#include "FMemoryAllocator.h"

namespace
{

constexpr size_t kMiB = size_t(1) << 20;

// Each test starts from an empty store with its own budget, and puts the budget back.
class LargePageStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_uBudget = GetLargePageBudget();
        ReleaseKeptLargePages();
        m_uUsed = GetUsedLargePageBytes();
    }
    void TearDown() override
    {
        SetLargePageRoomHook(nullptr);
        SetLargePageBudget(m_uBudget);
        ReleaseKeptLargePages();
    }
    size_t m_uBudget = 0;
    size_t m_uUsed = 0;
};

bool AllBytes(const void* block, size_t bytes, uint8_t value)
{
    const auto* p = static_cast<const uint8_t*>(block);
    for (size_t i = 0; i < bytes; ++i)
        if (p[i] != value)
            return false;
    return true;
}

// Freed pages serve later blocks of any size: a smaller block from the front of a kept
// one, a larger one assembled from several by moving their pages, whose old contents show
// that nothing was mapped afresh.
TEST_F(LargePageStore, FreedPagesServeBlocksOfAnySize)
{
    SetLargePageBudget(256 * kMiB);
    void* a = AllocLargePageBlock(8 * kMiB);
    void* b = AllocLargePageBlock(8 * kMiB);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::memset(a, 0x5A, 8 * kMiB);
    std::memset(b, 0x5A, 8 * kMiB);
    FreeLargePageBlock(a);
    FreeLargePageBlock(b);
    EXPECT_EQ(GetKeptLargePageBytes(), 16 * kMiB);
    EXPECT_EQ(GetUsedLargePageBytes(), m_uUsed);

    void* small = AllocLargePageBlock(6 * kMiB - 100);
    ASSERT_NE(small, nullptr);
    EXPECT_TRUE(small == a || small == b);
    EXPECT_EQ(GetKeptLargePageBytes(), 10 * kMiB);
    void* large = AllocLargePageBlock(10 * kMiB);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(GetKeptLargePageBytes(), 0u);
    EXPECT_TRUE(AllBytes(large, 10 * kMiB, 0x5A));
    // Larger than everything kept: the rest is fresh, and all of it is ours to write.
    FreeLargePageBlock(small);
    void* larger = AllocLargePageBlock(20 * kMiB);
    ASSERT_NE(larger, nullptr);
    EXPECT_TRUE(AllBytes(larger, 6 * kMiB, 0x5A));
    TouchFreshPages(larger);
    EXPECT_TRUE(AllBytes(larger, 6 * kMiB, 0x5A));
    std::memset(larger, 1, 20 * kMiB);
    FreeLargePageBlock(larger);
    FreeLargePageBlock(large);
    EXPECT_EQ(GetUsedLargePageBytes(), m_uUsed);
    EXPECT_EQ(GetKeptLargePageBytes(), 30 * kMiB);
    ReleaseKeptLargePages();
    EXPECT_EQ(GetKeptLargePageBytes(), 0u);
}

TEST_F(LargePageStore, MappedPagesStayWithinTheBudget)
{
    SetLargePageBudget(m_uUsed + 32 * kMiB);
    std::vector<void*> blocks;
    for (int i = 0; i < 5; ++i)
        blocks.push_back(AllocLargePageBlock(12 * kMiB));
    for (void* block : blocks)
        FreeLargePageBlock(block);
    EXPECT_LE(GetUsedLargePageBytes() + GetKeptLargePageBytes(), m_uUsed + 32 * kMiB);
    EXPECT_GT(GetKeptLargePageBytes(), 24 * kMiB);
    // Lowering the budget gives back what no longer fits.
    SetLargePageBudget(m_uUsed + 4 * kMiB);
    EXPECT_LE(GetKeptLargePageBytes(), 4 * kMiB);
}

// Past the budget a block first asks for room: what the hook frees comes back as kept
// pages and serves the block. Without anything to free, the block is still given.
TEST_F(LargePageStore, ABlockPastTheBudgetAsksForRoomFirst)
{
    SetLargePageBudget(m_uUsed + 16 * kMiB);
    static void* s_held = nullptr;
    static int s_calls = 0;
    s_calls = 0;
    s_held = AllocLargePageBlock(16 * kMiB);
    std::memset(s_held, 0x33, 16 * kMiB);
    SetLargePageRoomHook([] {
        ++s_calls;
        if (s_held == nullptr)
            return false;
        FreeLargePageBlock(s_held);
        s_held = nullptr;
        return true;
    });
    void* next = AllocLargePageBlock(16 * kMiB);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(s_calls, 1);
    EXPECT_TRUE(AllBytes(next, 16 * kMiB, 0x33));
    void* beyond = AllocLargePageBlock(4 * kMiB);
    EXPECT_NE(beyond, nullptr);
    EXPECT_EQ(s_calls, 2);
    FreeLargePageBlock(beyond);
    FreeLargePageBlock(next);
}

TEST_F(LargePageStore, SmallBlocksComeFromTheHeap)
{
    void* small = AllocLargePageBlock(64 * 1024);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(GetUsedLargePageBytes(), m_uUsed);
    FreeLargePageBlock(small);
    FreeLargePageBlock(nullptr);
    FMemoryAllocator* a = GetMemoryAllocator(nullptr);
    void* large = a->Alloc(3 * kMiB);
    EXPECT_EQ(GetUsedLargePageBytes(), m_uUsed + 4 * kMiB);
    a->Free(large);
    ReleaseMemoryAllocator(a);
}

// Threads taking and giving back blocks at once, some faulting theirs in on a pool: every
// block keeps what its owner wrote.
TEST_F(LargePageStore, ThreadsShareTheStore)
{
    SetLargePageBudget(m_uUsed + 64 * kMiB);
    FBandPool pool(3);
    FBandPool::SetProcessPool(&pool);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                const size_t bytes = size_t(2 + (t + i) % 5) * kMiB + size_t(i) * 4096;
                auto* block = static_cast<uint8_t*>(AllocLargePageBlock(bytes));
                if (i % 2 == 0)
                    TouchFreshPages(block);
                std::memset(block, t * 16 + i, bytes);
                std::this_thread::yield();
                if (!AllBytes(block, bytes, uint8_t(t * 16 + i)))
                    ++wrong;
                FreeLargePageBlock(block);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    FBandPool::SetProcessPool(nullptr);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(GetUsedLargePageBytes(), m_uUsed);
    EXPECT_LE(GetKeptLargePageBytes(), 64 * kMiB);
}

} // namespace
