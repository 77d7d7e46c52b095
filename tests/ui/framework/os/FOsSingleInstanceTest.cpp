#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "FCodePage.h"
#include "FOsSingleInstance.h"
#include "FScopedTempFolder.h"

extern char** environ;

namespace
{

using Records = std::vector<FOsHandOverRecord>;

TEST(HandOverRecordsTest, ShowThenTheArgumentUnitByUnitWithoutQuotes)
{
    EXPECT_EQ(BuildOsHandOverRecords(FWideString()), (Records{{0x1094, 0}}));
    const Records records = BuildOsHandOverRecords(FWideString("\"/a b\""));
    EXPECT_EQ(records, (Records{{0x1094, 0},
                                {0x1091, 0},
                                {0x1092, '/'},
                                {0x1092, 'a'},
                                {0x1092, ' '},
                                {0x1092, 'b'},
                                {0x1092, 0},
                                {0x1093, 0}}));
}

TEST(HandOverRecordsTest, ReceiverRebuildsThePathAndRefusesAnOversizedOne)
{
    std::vector<std::string> events;
    FOsHandOverReceiver receiver;
    receiver.onShow = [&] { events.push_back("show"); };
    receiver.onOpenPath = [&](const FWideString& p) { events.push_back("open:" + Utf8FromWide(p)); };
    for (const FOsHandOverRecord& r : BuildOsHandOverRecords(WideFromUtf8("/pics/\xC3\xA9t\xC3\xA9")))
        EXPECT_TRUE(receiver.Feed(r));
    // One start opens one argument: a second open refuses the stream.
    EXPECT_TRUE(receiver.Feed({0x1091, 0}));
    EXPECT_TRUE(receiver.Feed({0x1092, 'x'}));
    EXPECT_FALSE(receiver.Feed({0x1093, 0}));
    EXPECT_EQ(events, (std::vector<std::string>{"show", "open:/pics/\xC3\xA9t\xC3\xA9"}));

    // Units after the ending 0 do not count; unknown records and repeated shows are skipped.
    events.clear();
    FOsHandOverReceiver second;
    second.onShow = receiver.onShow;
    second.onOpenPath = receiver.onOpenPath;
    for (const FOsHandOverRecord r : std::vector<FOsHandOverRecord>{{0x1094, 0},
                                                                    {0x1094, 0},
                                                                    {0x1091, 0},
                                                                    {0x1092, 'x'},
                                                                    {0x1092, 0},
                                                                    {0x1092, 'y'},
                                                                    {0x7777, 1},
                                                                    {0x1093, 0}})
        EXPECT_TRUE(second.Feed(r));
    EXPECT_EQ(events, (std::vector<std::string>{"show", "open:x"}));

    FOsHandOverReceiver big;
    bool opened = false;
    big.onOpenPath = [&](const FWideString&) { opened = true; };
    big.Feed({0x1091, 0});
    bool accepted = true;
    for (int i = 0; i <= kMaxHandOverUnits && accepted; ++i)
        accepted = big.Feed({0x1092, 'a'});
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(big.Feed({0x1093, 0}));
    EXPECT_FALSE(opened);
}

// Hands a path over from another thread while this one polls the running side, as its loop would.
bool HandOverWhilePolling(FOsSingleInstance& running, FOsSingleInstance& sender, const std::string& path,
                          int timeoutMs)
{
    std::atomic<bool> finished{false};
    bool result = false;
    std::thread client([&] {
        result = sender.HandOver("Wnd", BuildOsHandOverRecords(WideFromUtf8(path)), timeoutMs);
        finished = true;
    });
    while (!finished) {
        running.Poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    client.join();
    return result;
}

int ConnectSilently(const std::string& socketPath)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A running side in a folder of its own that records the paths it opens.
struct RunningSide {
    FScopedTempFolder folder;
    FOsSingleInstance instance{folder.GetPath()};
    std::vector<std::string> opened;
    bool listening = false;
    explicit RunningSide(int connectionMs)
    {
        listening = instance.Listen("Wnd");
        instance.SetConnectionTimeout(connectionMs);
        instance.onOpenPath = [this](const FWideString& p) { opened.push_back(Utf8FromWide(p)); };
    }
};

TEST(SingleInstanceTest, SilentClientsTimeOutAndTheSenderLearnsTheOutcome)
{
    RunningSide side(300);
    ASSERT_TRUE(side.listening);
    FScopedTempFolder& folder = side.folder;
    FOsSingleInstance& running = side.instance;
    std::vector<std::string>& opened = side.opened;

    // Eight connections that never say anything fill every place.
    std::vector<int> silent;
    for (int i = 0; i < 8; ++i) {
        silent.push_back(ConnectSilently(running.SocketPath("Wnd")));
        ASSERT_GE(silent.back(), 0);
    }
    running.Poll();
    FOsSingleInstance sender(folder.GetPath());
    // Told that every place is taken, a start that cannot wait long gives up, and says so.
    EXPECT_FALSE(HandOverWhilePolling(running, sender, "/first", 100)) << "refused, so not reported as sent";
    EXPECT_TRUE(opened.empty());

    // One that can wait tries again and gets through once they are past their time.
    EXPECT_TRUE(HandOverWhilePolling(running, sender, "/second", 5000));
    EXPECT_EQ(opened, (std::vector<std::string>{"/second"}));
    for (int fd : silent) {
        char byte = 0;
        EXPECT_EQ(recv(fd, &byte, 1, 0), 0) << "closed by the running side";
        close(fd);
    }

    // A refused stream is reported as refused: the sender does not wait out its time.
    running.SetExpectedUid(geteuid() + 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(HandOverWhilePolling(running, sender, "/third", 20000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(opened.size(), 1u);
}

TEST(SingleInstanceTest, OnePollDoesBoundedWorkForAFloodingClient)
{
    FScopedTempFolder folder;
    FOsSingleInstance running(folder.GetPath());
    ASSERT_TRUE(running.Listen("Wnd"));
    running.SetConnectionTimeout(500);
    size_t shown = 0;
    running.onShow = [&] { ++shown; };
    const int fd = ConnectSilently(running.SocketPath("Wnd"));
    ASSERT_GE(fd, 0);
    running.Poll();
    // Show records without end, as fast as the socket takes them.
    std::thread flood([fd] {
        std::vector<uint8_t> records(65536);
        for (size_t i = 0; i < records.size(); i += 4) {
            records[i] = 0x94;
            records[i + 1] = 0x10;
        }
        while (send(fd, records.data(), records.size(), MSG_NOSIGNAL) > 0) {
        }
    });
    // Each call takes a bounded share; past its time the connection is closed, which ends the flood.
    size_t most = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (running.GetRefusedCount() == 0 && std::chrono::steady_clock::now() < deadline) {
        const size_t before = shown;
        running.Poll();
        most = std::max(most, shown - before);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    shutdown(fd, SHUT_RDWR);
    flood.join();
    close(fd);
    EXPECT_GT(shown, 0u);
    EXPECT_LE(most, kHandOverPollBytes / 4 + 4096 / 4);
    EXPECT_EQ(running.GetRefusedCount(), 1);
}

// Eight clients that send show records without end, each of which raises the window (a
// slow call): every Poll stays within its time, each flood is cut off long before its
// time is up, and a real second start that arrives among them still gets through.
TEST(SingleInstanceTest, FloodingClientsCannotHoldAPollOrKeepASecondStartWaiting)
{
    RunningSide side(20000);
    ASSERT_TRUE(side.listening);
    FOsSingleInstance& running = side.instance;
    running.onShow = [] { std::this_thread::sleep_for(std::chrono::microseconds(50)); };
    std::vector<int> fds;
    std::vector<std::thread> floods;
    for (int i = 0; i < 8; ++i) {
        const int fd = ConnectSilently(running.SocketPath("Wnd"));
        ASSERT_GE(fd, 0);
        fds.push_back(fd);
        floods.emplace_back([fd] {
            std::vector<uint8_t> records(65536);
            for (size_t k = 0; k < records.size(); k += 4) {
                records[k] = 0x94;
                records[k + 1] = 0x10;
            }
            while (send(fd, records.data(), records.size(), MSG_NOSIGNAL) > 0) {
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the socket buffers fill

    std::chrono::steady_clock::duration longest{};
    std::atomic<bool> finished{false};
    bool handedOver = false;
    FOsSingleInstance sender(side.folder.GetPath());
    std::thread client([&] {
        // Retried as a user would start again: the first try may find every place taken.
        for (int attempt = 0; attempt < 20 && !handedOver; ++attempt)
            handedOver = sender.HandOver("Wnd", BuildOsHandOverRecords(FWideString("/pics")), 3000);
        finished = true;
    });
    const auto start = std::chrono::steady_clock::now();
    while (!finished && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
        const auto before = std::chrono::steady_clock::now();
        running.Poll();
        longest = std::max(longest, std::chrono::steady_clock::now() - before);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    client.join();
    for (int fd : fds)
        shutdown(fd, SHUT_RDWR);
    for (std::thread& t : floods)
        t.join();
    for (int fd : fds)
        close(fd);
    EXPECT_TRUE(handedOver);
    EXPECT_EQ(side.opened, std::vector<std::string>{"/pics"});
    EXPECT_GE(running.GetRefusedCount(), 8) << "every flood was refused";
    // The cap is a few milliseconds; the margin is for a loaded machine under the sanitizers.
    EXPECT_LT(longest, std::chrono::milliseconds(250))
        << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms";
}

TEST(SingleInstanceTest, NamesAreSanitised)
{
    EXPECT_EQ(SanitiseOsInstanceName("Raw App/../x"), "Raw_App_.._x");
    EXPECT_EQ(SanitiseOsInstanceName(".hidden"), "_hidden");
    EXPECT_EQ(SanitiseOsInstanceName(""), "_");
    EXPECT_EQ(SanitiseOsInstanceName(std::string(500, 'a')).size(), 80u);
}

TEST(SingleInstanceTest, TheLockIsHeldOnceAndListeningReplacesAStaleSocket)
{
    FScopedTempFolder folder;
    chmod(folder.GetPath().c_str(), 0700);
    FOsSingleInstance first(folder.GetPath());
    FOsSingleInstance second(folder.GetPath());
    EXPECT_TRUE(first.TryLock("App"));
    EXPECT_FALSE(second.TryLock("App"));
    EXPECT_TRUE(second.TryLock("Other"));
    // A socket file left by a killed instance.
    const std::string path = first.SocketPath("Wnd");
    {
        FOsSingleInstance killed(folder.GetPath());
        ASSERT_TRUE(killed.Listen("Wnd"));
        // Leave the file behind as a crash would.
        const std::string kept = path + ".kept";
        ASSERT_EQ(link(path.c_str(), kept.c_str()), 0);
    }
    ASSERT_EQ(rename((path + ".kept").c_str(), path.c_str()), 0);
    EXPECT_FALSE(second.HandOver("Wnd", BuildOsHandOverRecords(FWideString("x")), 50));
    ASSERT_TRUE(first.Listen("Wnd"));
    std::vector<std::string> opened;
    first.onOpenPath = [&](const FWideString& p) { opened.push_back(Utf8FromWide(p)); };
    EXPECT_TRUE(HandOverWhilePolling(first, second, "/p", 5000));
    EXPECT_EQ(opened, (std::vector<std::string>{"/p"}));
    struct stat info {
    };
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u);
}

TEST(SingleInstanceTest, AnotherUserOrAnOversizedHandOverIsRefused)
{
    FScopedTempFolder folder;
    FOsSingleInstance first(folder.GetPath());
    ASSERT_TRUE(first.Listen("Wnd"));
    int opened = 0, shown = 0;
    first.onOpenPath = [&](const FWideString&) { ++opened; };
    first.onShow = [&] { ++shown; };
    first.SetExpectedUid(geteuid() + 1);
    FOsSingleInstance sender(folder.GetPath());
    sender.HandOver("Wnd", BuildOsHandOverRecords(FWideString("/p")), 200);
    for (int i = 0; i < 5000 && first.GetRefusedCount() == 0; ++i) {
        first.Poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(first.GetRefusedCount(), 1);
    EXPECT_EQ(opened + shown, 0);

    first.SetExpectedUid(geteuid());
    std::string huge(static_cast<size_t>(kMaxHandOverUnits) + 10, 'a');
    std::thread client(
        [&] { sender.HandOver("Wnd", BuildOsHandOverRecords(WideFromUtf8("/" + huge)), 20000); });
    // A deadline, not a count of polls: a loaded machine under the sanitizers is slow.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (first.GetRefusedCount() < 2 && std::chrono::steady_clock::now() < deadline) {
        first.Poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    client.join();
    EXPECT_EQ(first.GetRefusedCount(), 2);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(shown, 1); // the show record came before the argument
}

// ---- Two real processes ----

struct Peer {
    pid_t pid = -1;
    FILE* out = nullptr;

    Peer(const std::vector<std::string>& args, const std::string& cwd = "")
    {
        int pipes[2];
        if (pipe(pipes) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipes[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipes[0]);
        if (!cwd.empty())
            posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::vector<char*> argv;
        std::string program = RB_HANDOVER_PEER;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(pipes[1]);
        out = fdopen(pipes[0], "r");
    }
    ~Peer()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            Wait();
        }
        if (out)
            fclose(out);
    }
    std::string Line()
    {
        char buffer[8192];
        if (!out || !std::fgets(buffer, sizeof(buffer), out))
            return std::string();
        std::string line = buffer;
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        return line;
    }
    int Wait()
    {
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, 0) != pid)
            return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST(SingleInstanceTest, ASecondProcessHandsItsPathToTheFirst)
{
    FScopedTempFolder folder;
    chmod(folder.GetPath().c_str(), 0700);
    const std::string work = folder.Join("work");
    mkdir(work.c_str(), 0700);

    // A first instance killed outright leaves its socket file; the next one recovers.
    {
        Peer killed({folder.GetPath(), "TestWnd", "TestLock", "", "20"});
        ASSERT_EQ(killed.Line(), "listening");
        kill(killed.pid, SIGKILL);
        EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
    }
    Peer first({folder.GetPath(), "TestWnd", "TestLock", "", "20"});
    ASSERT_EQ(first.Line(), "listening");
    Peer second({folder.GetPath(), "TestWnd", "TestLock", "My Pictures/day 1", "5"}, work);
    EXPECT_EQ(second.Wait(), 3);
    EXPECT_EQ(first.Line(), "show");
    EXPECT_EQ(first.Line(), "open:" + work + "/My Pictures/day 1");
    EXPECT_EQ(first.Wait(), 0);
}

} // namespace
