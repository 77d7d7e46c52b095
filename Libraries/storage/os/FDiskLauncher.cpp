#include "FDiskOs.h"
#include "FSCDiskWin.h"

#include <chrono>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace
{

// An opener normally answers at once; one that keeps running is taken as started.
constexpr auto kOpenerWait = std::chrono::seconds(5);
constexpr auto kOpenerPoll = std::chrono::milliseconds(10);

std::mutex s_launcherLock;
FDiskLauncher s_launcher;

void ReapInBackground(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

int SpawnProcess(const FLaunchRequest& request)
{
    if (request.m_argv.empty())
        return -1;
    std::vector<char*> argv;
    for (const std::string& arg : request.m_argv)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!request.m_workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, request.m_workingFolder.c_str());
    pid_t pid = 0;
    int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -1;
    if (!request.m_bWaitForResult) {
        ReapInBackground(pid);
        return 0;
    }
    auto deadline = std::chrono::steady_clock::now() + kOpenerWait;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        std::this_thread::sleep_for(kOpenerPoll);
    }
    ReapInBackground(pid);
    return 0;
}

} // namespace

void SetDiskLauncher(FDiskLauncher launcher)
{
    std::lock_guard lock(s_launcherLock);
    s_launcher = std::move(launcher);
}

int RunDiskLauncher(const FLaunchRequest& request)
{
    FDiskLauncher launcher;
    {
        std::lock_guard lock(s_launcherLock);
        launcher = s_launcher;
    }
    if (launcher)
        return launcher(request);
    return SpawnProcess(request);
}
