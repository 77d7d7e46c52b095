#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "FEvent.h"

namespace
{

// Polls until the predicate holds; generous, returns at once in practice.
template <class F>
bool Eventually(F predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

TEST(FEvent, OneSetReleasesOneWait)
{
    FEvent event;
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Wait(10));
    event.Set();
    FSyncObject& base = event;
    EXPECT_TRUE(base.Wait(FSyncObject::kInfinite));
}

TEST(FEvent, WakesExactlyOneOfSeveralWaiters)
{
    FEvent event;
    std::atomic<int> woken{0};
    std::atomic<int> waiting{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            ++waiting;
            if (event.Wait(FSyncObject::kInfinite))
                ++woken;
        });
    }
    ASSERT_TRUE(Eventually([&] { return waiting == 3; }));
    event.Set();
    ASSERT_TRUE(Eventually([&] { return woken >= 1; }));
    // Give a wrongly woken second waiter time to show.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(1, woken.load());
    event.Set();
    ASSERT_TRUE(Eventually([&] { return woken >= 2; }));
    event.Set();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(3, woken.load());
    EXPECT_FALSE(event.Wait(0));
}

TEST(FEvent, WaitTimesOut)
{
    FEvent event;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.Wait(20));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST(FEvent, SetFromAnotherThreadWakesAnInfiniteWait)
{
    FEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        event.Set();
    });
    EXPECT_TRUE(event.Wait(FSyncObject::kInfinite));
    setter.join();
}
