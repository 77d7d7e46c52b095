#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "FDebugTrace.h"
#include "FEvent.h"
#include "FStopwatch.h"
#include "FWinThread.h"
#include "os/FOsThread.h"

namespace
{

bool WaitDone(FIThread* thread)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!thread->IsDone()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int ReturnArgument(void* argument)
{
    return *static_cast<int*>(argument);
}

int Throws(void*)
{
    throw std::runtime_error("worker failed");
}

// Touches most of 256 KiB of stack.
int UsesDeepStack(void*)
{
    volatile char block[256 * 1024];
    std::memset(const_cast<char*>(block), 1, sizeof block);
    int sum = 0;
    for (size_t i = 0; i < sizeof block; i += 4096)
        sum += block[i];
    return sum;
}

struct Gate {
    FEvent go;
    std::atomic<bool> finished{false};
};

int WaitsForGate(void* argument)
{
    auto* gate = static_cast<Gate*>(argument);
    gate->go.Wait(FSyncObject::kInfinite);
    gate->finished = true;
    return 9;
}

int OwnNice(void*)
{
    errno = 0;
    return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}

} // namespace

TEST(FWinThread, LevelsMapToThreadPriorities)
{
    const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    struct Case {
        int level;
        int nice;
    };
    // Lowering a thread's priority needs no privilege.
    const Case cases[] = {{0, base + 10}, {1, base + 5}, {2, base}, {7, base}, {-1, base}};
    for (const Case& c : cases) {
        if (c.nice > 19)
            continue;
        FIThread* thread = CreateWinThread(OwnNice, nullptr, c.level);
        ASSERT_TRUE(WaitDone(thread));
        EXPECT_EQ(c.nice, thread->GetResult()) << "level " << c.level;
        EXPECT_EQ(c.level, thread->GetPriority());
        DeleteThread(thread);
    }
}

TEST(FWinThread, StoresTheFunctionsResult)
{
    int value = 1234;
    FIThread* thread = CreateWinThread(ReturnArgument, &value, 2);
    ASSERT_NE(nullptr, thread);
    ASSERT_TRUE(WaitDone(thread));
    EXPECT_EQ(1234, thread->GetResult());
    DeleteThread(thread);
    EXPECT_EQ(nullptr, thread);
    DeleteThread(thread);
    EXPECT_EQ(nullptr, thread);
}

TEST(FWinThread, AThrowingFunctionEndsDoneWithTheFailureResult)
{
    FIThread* thread = CreateWinThread(Throws, nullptr, 2);
    ASSERT_TRUE(WaitDone(thread));
    EXPECT_EQ(static_cast<int>(0xDEADBEEF), thread->GetResult());
    DeleteThread(thread);
}

TEST(FWinThread, AFailedStartReportsDoneInsteadOfLeavingTheOwnerWaiting)
{
    FDebugTraceCapture capture;
    OsFailNextThreadStarts(1);
    int value = 5;
    FIThread* thread = CreateWinThread(ReturnArgument, &value, 2);
    ASSERT_NE(nullptr, thread);
    EXPECT_TRUE(thread->IsDone());
    EXPECT_EQ(kThreadResultFailed, thread->GetResult());
    EXPECT_TRUE(capture.Contains("FWinThread:CreateThread() failed"));
    DeleteThread(thread);
    // The next start works again.
    thread = CreateWinThread(ReturnArgument, &value, 2);
    ASSERT_TRUE(WaitDone(thread));
    EXPECT_EQ(5, thread->GetResult());
    DeleteThread(thread);
}

TEST(FWinThread, PriorityLevelIsStoredWhateverItMaps)
{
    Gate gate;
    FIThread* thread = CreateWinThread(WaitsForGate, &gate, 0);
    EXPECT_EQ(0, thread->GetPriority());
    EXPECT_FALSE(thread->IsDone());
    EXPECT_EQ(kThreadResultPending, thread->GetResult());
    thread->SetPriority(7);
    EXPECT_EQ(7, thread->GetPriority());
    thread->SetPriority(1);
    EXPECT_EQ(1, thread->GetPriority());
    gate.go.Set();
    ASSERT_TRUE(WaitDone(thread));
    EXPECT_EQ(9, thread->GetResult());
    DeleteThread(thread);
}

TEST(FWinThread, WorkersHaveALargeStack)
{
    FIThread* thread = CreateWinThread(UsesDeepStack, nullptr, 2);
    ASSERT_TRUE(WaitDone(thread));
    EXPECT_EQ(64, thread->GetResult());
    DeleteThread(thread);
}

TEST(FWinThread, DeletingARunningThreadNeverKillsIt)
{
    FDebugTraceCapture capture;
    Gate gate;
    FIThread* thread = CreateWinThread(WaitsForGate, &gate, 2);
    DeleteThread(thread);
    EXPECT_TRUE(capture.Contains("WARNING: Forcibly terminating thread in FWinThread destructor"));
    // The worker goes on and finishes on its own, writing nothing freed.
    gate.go.Set();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!gate.finished && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(gate.finished);
    // Let the worker leave before the gate goes out of scope.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST(Sleep, TruncatesAndClamps)
{
    const auto start = std::chrono::steady_clock::now();
    SleepSeconds(-5.0);
    SleepSeconds(0.0004);
    SleepSeconds(std::nan(""));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    const auto before = std::chrono::steady_clock::now();
    SleepMilliseconds(2);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1));
}

TEST(FStopwatch, IntervalsAndTicks)
{
    EXPECT_DOUBLE_EQ(1e-9, GetSecondsPerTick());
    FStopwatch watch;
    EXPECT_EQ(0.0, watch.GetLastInterval());
    EXPECT_EQ(0, watch.GetCount());
    watch.Start();
    EXPECT_EQ(0.0, watch.GetLastInterval());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    watch.Stop();
    const double interval = watch.GetLastInterval();
    EXPECT_GE(interval, 0.001);
    EXPECT_GE(watch.GetElapsed(), interval);
    EXPECT_EQ(1, watch.GetCount());
    watch.Start();
    watch.Stop();
    EXPECT_EQ(2, watch.GetCount());
    EXPECT_GE(watch.GetTotal(), interval);
    watch.Reset();
    EXPECT_EQ(0.0, watch.GetLastInterval());
    EXPECT_EQ(0.0, watch.GetTotal());
}
