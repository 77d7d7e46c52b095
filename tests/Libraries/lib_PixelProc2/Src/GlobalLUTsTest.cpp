#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "FEvent.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FMutex.h"

namespace
{

// A getter may lose the 100 ms race on a loaded machine; callers see the exception and
// try again on a later pass, and so do these tests.
template <typename F>
auto WithRetries(F get) -> decltype(get())
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (true) {
        try {
            return get();
        } catch (const FExceptionPixelProc2&) {
            if (std::chrono::steady_clock::now() > deadline)
                throw;
        }
    }
}

TEST(GlobalLUTs, CubeRootTableByKnownValues)
{
    const FLUT* t = WithRetries([] { return FGlobalLUTsClass::GetCubeRootLUT(); });
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->m_iSize, 0x10000);
    EXPECT_EQ(t->m_iMask, 0xFFFF);
    EXPECT_FALSE(t->m_bOwnsData);
    const std::pair<int, int> known[] = {{0, 819},       {1, 827},     {4096, 4107}, {32767, 8195},
                                         {61439, 10103}, {65535, 811}, {65534, 803}, {65436, 198},
                                         {65340, 0},     {61440, 0}};
    for (auto [index, value] : known)
        EXPECT_EQ(t->Get(index), value) << "index " << index;
    EXPECT_EQ(t->Get(-1), 811);
    // Monotone on both halves.
    for (int i = 1; i < 61440; ++i)
        ASSERT_LE(t->Get(i - 1), t->Get(i)) << i;
    for (int i = 61441; i < 65536; ++i)
        ASSERT_LE(t->Get(i - 1), t->Get(i)) << i;
    EXPECT_EQ(WithRetries([] { return FGlobalLUTsClass::GetCubeRootLUT(); }), t);
}

TEST(GlobalLUTs, CubeTableInvertsTheCubeRoot)
{
    const FLUT* cube = WithRetries([] { return FGlobalLUTsClass::GetCubeLUT(); });
    const FLUT* root = WithRetries([] { return FGlobalLUTsClass::GetCubeRootLUT(); });
    const std::pair<int, int> known[] = {{0, -98},       {818, 0},      {819, 0},
                                         {4096, 4063},   {8194, 32759}, {8195, 32767},
                                         {61439, 32767}, {61440, 0},    {65535, 0}};
    for (auto [index, value] : known)
        EXPECT_EQ(cube->Get(index), value) << "index " << index;
    for (int i = 0; i <= 32767; ++i) {
        const int limit = i < 4096 ? 1 : (i < 8192 ? 2 : (i < 16384 ? 4 : 6));
        ASSERT_LE(std::abs(cube->Get(root->Get(i)) - i), limit) << i;
    }
}

TEST(GlobalLUTs, TanhTablesAreOddCachedAndSized)
{
    const FDoubleRGB a(100, 100, 100);
    const FDoubleRGB s(1, 1, 1);
    EXPECT_EQ(FGlobalLUTsClass::TanhTableSize(a, s), 4096);
    const FColorLUT* t = WithRetries([&] { return FGlobalLUTsClass::GetTanhLUTs(a, s); });
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->m_iSize, 4096);
    EXPECT_EQ(t->m_iMask, 4095);
    EXPECT_FALSE(t->m_bOwnsData);
    for (int c = 0; c < 3; ++c) {
        const int16_t* d = t->GetChannel(c);
        EXPECT_EQ(d[0], 0);
        EXPECT_EQ(d[1], 1); // slope S near zero
        EXPECT_EQ(d[4095], -d[1]);
        for (int j = 1; j < 2048; ++j)
            ASSERT_EQ(d[(-j) & 4095], -d[j]) << j;
        EXPECT_EQ(d[2048], d[2049]);
    }
    // Peak near the amplitude, then the taper returns to 0 by j of about 12.57 m.
    int peak = 0;
    for (int j = 0; j < 2048; ++j)
        peak = std::max<int>(peak, t->m_pRedData[j]);
    EXPECT_GE(peak, 90);
    EXPECT_LE(peak, 100);
    EXPECT_EQ(t->m_pRedData[1300], 0);

    EXPECT_EQ(WithRetries([&] { return FGlobalLUTsClass::GetTanhLUTs(a, s); }), t);
    const FDoubleRGB nudged(100, std::nextafter(100.0, 200.0), 100);
    const FColorLUT* other = WithRetries([&] { return FGlobalLUTsClass::GetTanhLUTs(nudged, s); });
    EXPECT_NE(other, t);

    // Sizes: n = trunc(6.2853 / (0.25 / m)) with m the largest A/S.
    struct Case {
        double m;
        int size;
    };
    const Case sizes[] = {{512 / 25.1412 + 1e-9, 512}, {20.0, 512}, {21.0, 1024},
                          {4097 / 25.1412, 8192},      {1e6, 8192}, {1e300, 8192}};
    for (const Case& c : sizes)
        EXPECT_EQ(FGlobalLUTsClass::TanhTableSize({c.m, 1, 1}, {1, 1, 1}), c.size) << c.m;
    EXPECT_EQ(FGlobalLUTsClass::TanhTableSize({1, 1, 100}, {1, 1, 4}), 1024) << "the largest ratio decides";

    // Large amplitudes saturate instead of wrapping.
    const FColorLUT* big = WithRetries([] {
        return FGlobalLUTsClass::GetTanhLUTs({1e6, 1, 1}, {1e6, 1, 1});
    });
    int bigPeak = 0;
    for (int j = 0; j < big->m_iSize / 2; ++j)
        bigPeak = std::max<int>(bigPeak, big->m_pRedData[j]);
    EXPECT_EQ(bigPeak, 32767);
}

TEST(GlobalLUTs, TanhRejectsZeroNegativeAndNonFiniteParameters)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [a, s] : std::vector<std::pair<FDoubleRGB, FDoubleRGB>>{{{0, 1, 1}, {1, 1, 1}},
                                                                             {{1, 1, 1}, {1, 0, 1}},
                                                                             {{1, 1, -1}, {1, 1, 1}},
                                                                             {{nan, 1, 1}, {1, 1, 1}},
                                                                             {{1, 1, 1}, {1, 1, inf}}}) {
        EXPECT_THROW(FGlobalLUTsClass::GetTanhLUTs(a, s), FExceptionPixelProc2);
    }
}

TEST(GlobalLUTs, ConcurrentFirstUseBuildsOneTable)
{
    // A key no other test uses, so that the race includes the build.
    const FDoubleRGB a(77, 55, 33);
    const FDoubleRGB s(3, 2, 1);
    constexpr int kThreads = 8;
    std::vector<const FColorLUT*> tanh(kThreads);
    std::vector<const FLUT*> cube(kThreads);
    std::vector<const FLUT*> root(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k)
        threads.emplace_back([&, k] {
            ++ready;
            while (ready.load() < kThreads)
                std::this_thread::yield();
            tanh[k] = WithRetries([&] { return FGlobalLUTsClass::GetTanhLUTs(a, s); });
            cube[k] = WithRetries([] { return FGlobalLUTsClass::GetCubeLUT(); });
            root[k] = WithRetries([] { return FGlobalLUTsClass::GetCubeRootLUT(); });
        });
    for (auto& t : threads)
        t.join();
    for (int k = 1; k < kThreads; ++k) {
        EXPECT_EQ(tanh[k], tanh[0]);
        EXPECT_EQ(cube[k], cube[0]);
        EXPECT_EQ(root[k], root[0]);
    }
    EXPECT_EQ(root[0]->Get(4096), 4107);
    EXPECT_EQ(tanh[0]->m_pBlueData[0], 0);
}

TEST(GlobalLUTs, HeldMutexGivesTheExceptionNotADeadlock)
{
    FMutex& mutex = FGlobalLUTsClass::GetMutex();

    // Re-entry on the calling thread.
    ASSERT_TRUE(mutex.Lock(FSyncObject::kInfinite));
    try {
        FGlobalLUTsClass::GetCubeRootLUT();
        ADD_FAILURE() << "re-entry must throw";
    } catch (const FExceptionPixelProc2& e) {
        EXPECT_STREQ(e.GetMessage(), "FGlobalLUTsClass: error acquiring MUTEX");
        EXPECT_STREQ(e.GetDescription(), "Pixel processing2 exception");
    }
    mutex.Unlock();

    // Held by another thread for longer than the wait.
    FEvent held;
    FEvent release;
    std::thread holder([&] {
        mutex.Lock(FSyncObject::kInfinite);
        held.Set();
        release.Wait(60000);
        mutex.Unlock();
    });
    ASSERT_TRUE(held.Wait(60000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(FGlobalLUTsClass::GetTanhLUTs({5, 5, 5}, {1, 1, 1}), FExceptionPixelProc2);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    release.Set();
    holder.join();
    EXPECT_NE(WithRetries([] { return FGlobalLUTsClass::GetTanhLUTs({5, 5, 5}, {1, 1, 1}); }), nullptr);
}

} // namespace
