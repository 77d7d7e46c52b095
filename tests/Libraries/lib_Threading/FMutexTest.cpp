#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "FCriticalSection.h"
#include "FException.h"
#include "FMutex.h"

namespace
{

// Runs body on another thread and returns its answer.
template <class F>
bool OnOtherThread(F body)
{
    bool answer = false;
    std::thread thread([&] { answer = body(); });
    thread.join();
    return answer;
}

// A name no other test process uses.
std::string UniqueName(const char* tag)
{
    static std::atomic<int> counter{0};
    return std::string("rb-test/") + tag + "/" + std::to_string(getpid()) + "/" + std::to_string(counter++);
}

} // namespace

TEST(FMutex, LockIsExclusiveBetweenThreads)
{
    FMutex mutex;
    ASSERT_TRUE(mutex.Lock(0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(OnOtherThread([&] { return mutex.Lock(0); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(OnOtherThread([&] { return mutex.Lock(30); }));
    // Only the holder may unlock.
    EXPECT_FALSE(OnOtherThread([&] { return mutex.Unlock(); }));
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_FALSE(mutex.Unlock());
    EXPECT_TRUE(OnOtherThread([&] { return mutex.Lock(0) && mutex.Unlock(); }));
}

TEST(FMutex, SecondLockOnTheSameThreadFailsAndOneUnlockFrees)
{
    FMutex mutex;
    ASSERT_TRUE(mutex.Lock());
    EXPECT_FALSE(mutex.Lock(0));
    EXPECT_FALSE(mutex.Lock(FSyncObject::kInfinite));
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_TRUE(OnOtherThread([&] { return mutex.Lock(0) && mutex.Unlock(); }));
}

TEST(FMutex, TimedLockSucceedsOnceTheHolderLetsGo)
{
    FMutex mutex;
    std::atomic<bool> locked{false};
    std::thread holder([&] {
        mutex.Lock();
        locked = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        mutex.Unlock();
    });
    while (!locked)
        std::this_thread::yield();
    EXPECT_TRUE(mutex.Lock(60000));
    EXPECT_TRUE(mutex.Unlock());
    holder.join();
}

TEST(FMutex, AThreadEndingWhileHoldingLetsGo)
{
    FMutex mutex;
    std::thread([&] { EXPECT_TRUE(mutex.Lock(0)); }).join();
    EXPECT_TRUE(mutex.Lock(60000));
    EXPECT_TRUE(mutex.Unlock());
}

TEST(FMutex, ScopedLock)
{
    FMutex mutex;
    {
        FMutexLock lock(mutex);
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_FALSE(OnOtherThread([&] { return mutex.Lock(0); }));
    }
    EXPECT_TRUE(OnOtherThread([&] { return mutex.Lock(0) && mutex.Unlock(); }));
}

// Each test keeps its lock files in a folder of its own, removed at the end.
class FNamedMutex : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        m_bHadRuntime = runtime != nullptr;
        m_savedRuntime = runtime ? runtime : "";
        const std::filesystem::path base = std::filesystem::temp_directory_path() / "rb-mutex-XXXXXX";
        std::string pattern = base.string();
        ASSERT_NE(nullptr, mkdtemp(pattern.data()));
        m_folder = pattern;
        setenv("XDG_RUNTIME_DIR", m_folder.c_str(), 1);
    }

    void TearDown() override
    {
        if (m_bHadRuntime)
            setenv("XDG_RUNTIME_DIR", m_savedRuntime.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    std::string m_folder;
    std::string m_savedRuntime;
    bool m_bHadRuntime = false;
};

TEST_F(FNamedMutex, ObjectsOfOneNameShareTheMutex)
{
    const std::string name = UniqueName("shared");
    FMutex first(name.c_str());
    FMutex second(name.c_str());
    ASSERT_TRUE(first.Lock(0));
    // The same thread takes it again through another object: no deadlock.
    EXPECT_TRUE(second.Lock(0));
    EXPECT_FALSE(OnOtherThread([&] {
        FMutex third(name.c_str());
        return third.Lock(20);
    }));
    EXPECT_TRUE(second.Unlock());
    EXPECT_FALSE(OnOtherThread([&] { return second.Lock(0); }));
    EXPECT_TRUE(first.Unlock());
    EXPECT_TRUE(OnOtherThread([&] {
        FMutex third(name.c_str());
        return third.Lock(0) && third.Unlock();
    }));
}

TEST_F(FNamedMutex, AnyTextIsAName)
{
    const std::string names[] = {UniqueName("a/b\\c:d e"), UniqueName("") + std::string(400, 'x'),
                                 UniqueName("..") + "/../..", UniqueName("\xC3\xA9")};
    for (const std::string& name : names) {
        FMutex mutex(name.c_str());
        EXPECT_TRUE(mutex.Lock(0)) << name;
        EXPECT_TRUE(mutex.Unlock()) << name;
    }
    EXPECT_FALSE(std::filesystem::is_empty(m_folder));
    // Long names that share a prefix stay distinct.
    const std::string base = UniqueName("long") + std::string(300, 'y');
    FMutex a((base + "1").c_str());
    FMutex b((base + "2").c_str());
    ASSERT_TRUE(a.Lock(0));
    EXPECT_TRUE(OnOtherThread([&] { return b.Lock(0) && b.Unlock(); }));
    a.Unlock();
}

namespace
{

// A child process that takes the named mutex, tells the parent, and then
// waits to be killed (or exits after `holdMs` without unlocking).
pid_t StartHoldingChild(const std::string& name, int& readyFd)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        FMutex mutex(name.c_str());
        const char answer = mutex.Lock(10000) ? 'L' : 'F';
        if (write(fds[1], &answer, 1) != 1)
            _exit(3);
        for (;;)
            pause();
    }
    close(fds[1]);
    readyFd = fds[0];
    return pid;
}

} // namespace

TEST_F(FNamedMutex, ExcludesAnotherProcessAndIsFreedWhenItDies)
{
    const std::string name = UniqueName("process");
    int readyFd = -1;
    const pid_t child = StartHoldingChild(name, readyFd);
    ASSERT_GT(child, 0);
    char answer = 0;
    ASSERT_EQ(1, read(readyFd, &answer, 1));
    close(readyFd);
    ASSERT_EQ('L', answer);

    FMutex mutex(name.c_str());
    EXPECT_FALSE(mutex.Lock(0));
    EXPECT_FALSE(mutex.Lock(50));

    // The holder dies without unlocking.
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(mutex.Lock(60000));
    EXPECT_TRUE(mutex.Unlock());
}

TEST_F(FNamedMutex, ForkedChildDoesNotInheritTheParentsHold)
{
    const std::string name = UniqueName("inherit");
    FMutex mutex(name.c_str());
    ASSERT_TRUE(mutex.Lock(0));
    const pid_t pid = fork();
    if (pid == 0) {
        // The parent still holds it: neither a new object nor the inherited
        // one may take it here.
        FMutex own(name.c_str());
        const bool ownLocked = own.Lock(0);
        const bool inheritedLocked = mutex.Lock(0);
        _exit((ownLocked ? 1 : 0) | (inheritedLocked ? 2 : 0));
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_TRUE(mutex.Unlock());
}

namespace
{

// Runs body in a child process and returns its exit code.
template <class F>
int InChild(F body)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

TEST_F(FNamedMutex, ForkedChildCannotReleaseTheParentsHold)
{
    const std::string name = UniqueName("release");
    FMutex mutex(name.c_str());
    ASSERT_TRUE(mutex.Lock(0));
    // The child's copy of the held object lets go: only the child's view.
    InChild([&] {
        mutex.Unlock();
        return 0;
    });
    EXPECT_EQ(0, InChild([&] {
                  FMutex other(name.c_str());
                  return other.Lock(0) ? 1 : 0;
              }));
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_EQ(1, InChild([&] {
                  FMutex other(name.c_str());
                  return other.Lock(0) ? 1 : 0;
              }));
}

TEST_F(FNamedMutex, AThreadEndingWhileHoldingLetsGo)
{
    const std::string name = UniqueName("abandon");
    FMutex held(name.c_str());
    // The thread ends without unlocking, while the mutex object lives on.
    std::thread([&] { EXPECT_TRUE(held.Lock(0)); }).join();
    EXPECT_TRUE(held.Lock(60000));
    EXPECT_EQ(0, InChild([&] {
                  FMutex other(name.c_str());
                  return other.Lock(0) ? 1 : 0;
              }));
    EXPECT_TRUE(held.Unlock());
    EXPECT_EQ(1, InChild([&] {
                  FMutex other(name.c_str());
                  return other.Lock(0) ? 1 : 0;
              }));
}

TEST_F(FNamedMutex, NoPlaceForTheLockFileIsASyncObjectError)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string savedTmp = tmp ? tmp : "";
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", "/proc/self/no-such-folder", 1);
    try {
        FMutex mutex(UniqueName("nowhere").c_str());
        ADD_FAILURE() << "no throw";
    } catch (const FExceptionSyncObject& e) {
        EXPECT_STREQ("Can't create handle for FMutex", e.GetMessage());
        EXPECT_STREQ("Sync object exception", e.GetDescription());
    }
    if (tmp)
        setenv("TMPDIR", savedTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(FCriticalSection, RecursiveAndExclusive)
{
    FCriticalSection section;
    section.Enter();
    section.Enter();
    section.Leave();
    section.Leave();

    long counter = 0;
    std::thread threads[4];
    for (std::thread& thread : threads) {
        thread = std::thread([&] {
            for (int i = 0; i < 10000; ++i) {
                FCriticalSectionLock lock(section);
                ++counter;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(40000, counter);
}
