// rb_handover_peer <folder> <app name> <lock name> <argument> <seconds>
// Exit: 0 a path arrived (first start), 3 handed over (second start), 4 the
// hand-over failed, 5 nothing arrived in time, 2 bad use.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "FCodePage.h"
#include "FOsProgramArgs.h"
#include "FOsSingleInstance.h"

int main(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    FOsSingleInstance instance(argv[1]);
    if (!instance.TryLock(argv[3])) {
        char cwd[4096];
        const std::string folder = getcwd(cwd, sizeof(cwd)) ? cwd : "/";
        const FWideString argument = AbsoluteProgramArgument(argv[4], folder);
        return instance.HandOver(argv[2], BuildOsHandOverRecords(argument)) ? 3 : 4;
    }
    if (!instance.Listen(argv[2]))
        return 4;
    bool done = false;
    instance.onShow = [] {
        std::printf("show\n");
        std::fflush(stdout);
    };
    instance.onOpenPath = [&done](const FWideString& path) {
        std::printf("open:%s\n", Utf8FromWide(path).c_str());
        std::fflush(stdout);
        done = true;
    };
    std::printf("listening\n");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[5]));
    while (!done && std::chrono::steady_clock::now() < end) {
        instance.Poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done ? 0 : 5;
}
