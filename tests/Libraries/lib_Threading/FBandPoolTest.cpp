#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FBandPool.h"
#include "FWinThread.h"
#include "os/FOsThread.h"

namespace
{

// Spins until `flag` is set, at most a minute; false when it never was.
bool AwaitFlag(const std::atomic<bool>& flag)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!flag.load()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(FBandPool, EveryBandRunsExactlyOnceWhateverThePoolAndTheCount)
{
    for (int workers : {0, 1, 3, 7}) {
        FBandPool pool(workers);
        EXPECT_EQ(pool.GetWorkerCount(), workers);
        for (int count : {0, 1, 2, 5, 64, 1000}) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            pool.Run(count, [&](int band) { runs[static_cast<size_t>(band)].fetch_add(1); });
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(runs[static_cast<size_t>(i)].load(), 1)
                    << workers << " workers, band " << i << " of " << count;
        }
    }
}

// Bands that run at once never share a working-storage slot: the caller's is 0 and each
// worker has its own below GetSlotCount(); a thread outside the pool has slot 0.
TEST(FBandPool, BandsRunningAtOnceHaveSlotsOfTheirOwn)
{
    FBandPool pool(3);
    ASSERT_EQ(pool.GetSlotCount(), 4);
    EXPECT_EQ(pool.SlotOfThisThread(), 0);
    std::vector<std::atomic<bool>> busy(4);
    std::atomic<int> clashes{0}, outOfRange{0}, onCaller{0};
    const auto caller = std::this_thread::get_id();
    pool.Run(200, [&](int) {
        const int slot = pool.SlotOfThisThread();
        if (slot < 0 || slot >= pool.GetSlotCount()) {
            ++outOfRange;
            return;
        }
        if (std::this_thread::get_id() == caller && slot != 0)
            ++onCaller;
        if (busy[size_t(slot)].exchange(true))
            ++clashes;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        busy[size_t(slot)].store(false);
    });
    EXPECT_EQ(clashes.load(), 0);
    EXPECT_EQ(outOfRange.load(), 0);
    EXPECT_EQ(onCaller.load(), 0);
    FBandPool other(2);
    int seen = -1;
    other.Run(1, [&](int) { seen = pool.SlotOfThisThread(); });
    EXPECT_EQ(seen, 0);
}

TEST(FBandPool, TheCallerAndAWorkerRunBandsAtOnce)
{
    FBandPool pool(1);
    std::atomic<bool> started[2] = {false, false};
    bool sawOther[2] = {false, false};
    std::thread::id ids[2];
    pool.Run(2, [&](int band) {
        ids[band] = std::this_thread::get_id();
        started[band].store(true);
        // Each band waits for the other: on one thread this would never end.
        sawOther[band] = AwaitFlag(started[1 - band]);
    });
    EXPECT_TRUE(sawOther[0] && sawOther[1]);
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_TRUE(ids[0] == std::this_thread::get_id() || ids[1] == std::this_thread::get_id());
}

TEST(FBandPool, ThreadsThatCannotStartLeaveAPoolThatStillRunsEveryBand)
{
    OsFailNextThreadStarts(2);
    FBandPool smaller(3);
    EXPECT_EQ(smaller.GetWorkerCount(), 1);
    OsFailNextThreadStarts(4);
    FBandPool none(4);
    OsFailNextThreadStarts(0);
    EXPECT_EQ(none.GetWorkerCount(), 0);
    for (FBandPool* pool : {&smaller, &none}) {
        std::vector<int> order;
        std::atomic<int> runs{0};
        pool->Run(50, [&](int band) {
            runs.fetch_add(1);
            if (pool == &none)
                order.push_back(band);
        });
        EXPECT_EQ(runs.load(), 50);
        if (pool == &none) {
            ASSERT_EQ(order.size(), 50u);
            for (int i = 0; i < 50; ++i)
                EXPECT_EQ(order[static_cast<size_t>(i)], i); // on the caller, in order
        }
    }
}

TEST(FBandPool, TheLowestThrowingBandReachesTheCallerOnceEveryBandHasEnded)
{
    for (int workers : {0, 3}) {
        FBandPool pool(workers);
        std::atomic<int> inside{0};
        std::vector<std::atomic<int>> ran(16);
        std::string caught;
        try {
            pool.Run(16, [&](int band) {
                inside.fetch_add(1);
                ran[static_cast<size_t>(band)].store(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(band % 3));
                inside.fetch_sub(1);
                if (band == 9 || band == 5)
                    throw std::runtime_error("band " + std::to_string(band));
            });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        EXPECT_EQ(caught, "band 5") << workers << " workers";
        EXPECT_EQ(inside.load(), 0);
        for (int i = 0; i <= 5; ++i)
            EXPECT_EQ(ran[static_cast<size_t>(i)].load(), 1) << "band " << i;
        // The pool is whole afterwards.
        std::atomic<int> runs{0};
        pool.Run(8, [&](int) { runs.fetch_add(1); });
        EXPECT_EQ(runs.load(), 8);
    }
}

TEST(FBandPool, NestedSetsAndSeveralCallersAtOnceEndWithoutDeadlock)
{
    // Fewer workers than bands at every level, so every level must also run on its caller.
    FBandPool pool(2);
    std::atomic<int> leaves{0};
    auto nested = [&] {
        pool.Run(5, [&](int) { pool.Run(4, [&](int) { pool.Run(3, [&](int) { leaves.fetch_add(1); }); }); });
    };
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i)
        callers.emplace_back(nested);
    nested();
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(leaves.load(), 4 * 5 * 4 * 3);
}

TEST(FBandPool, RunsStartNoThreadAndACancelledSetStillEndsEveryBand)
{
    FBandPool pool(3);
    const long before = GetStartedThreadCount();
    std::atomic<bool> cancel{false};
    std::atomic<int> ended{0};
    for (int set = 0; set < 100; ++set)
        pool.Run(8, [&](int band) {
            // A band cancelled mid-way stops at its next row.
            for (int row = 0; row < 1000 && !cancel.load(); ++row)
                if (set == 50 && band == 2 && row == 10)
                    cancel.store(true);
            ended.fetch_add(1);
        });
    EXPECT_EQ(ended.load(), 800);
    EXPECT_EQ(GetStartedThreadCount(), before);
}

} // namespace
