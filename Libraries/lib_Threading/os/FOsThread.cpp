#include "os/FOsThread.h"

#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

std::atomic<int> g_failingStarts{0};
std::atomic<long> g_startedThreads{0};

struct StartRecord {
    void (*entry)(void*);
    void* argument;
};

void* ThreadMain(void* raw)
{
    StartRecord record = *static_cast<StartRecord*>(raw);
    delete static_cast<StartRecord*>(raw);
    record.entry(record.argument);
    return nullptr;
}

bool ConsumeFailingStart()
{
    int count = g_failingStarts.load();
    while (count > 0) {
        if (g_failingStarts.compare_exchange_weak(count, count - 1))
            return true;
    }
    return false;
}

// Nice value of the main thread when first asked: the normal level.
int BaseNice()
{
    static const int base = [] {
        errno = 0;
        const int value = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        return errno == 0 ? value : 0;
    }();
    return base;
}

} // namespace

bool OsStartThread(void (*entry)(void*), void* argument)
{
    if (ConsumeFailingStart())
        return false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, kThreadStackSize);
    auto* record = new StartRecord{entry, argument};
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, ThreadMain, record);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete record;
        return false;
    }
    g_startedThreads.fetch_add(1, std::memory_order_relaxed);
    return true;
}

long OsCurrentThreadId()
{
    return static_cast<long>(syscall(SYS_gettid));
}

bool OsSetThreadPriority(long threadId, int priority)
{
    // Nice steps of 5 per level; raising above normal needs privileges.
    int nice = BaseNice() - 5 * priority;
    if (nice < -20)
        nice = -20;
    if (nice > 19)
        nice = 19;
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(threadId));
    if (errno == 0 && current == nice)
        return true;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), nice) == 0;
}

long OsStartedThreadCount()
{
    return g_startedThreads.load(std::memory_order_relaxed);
}

void OsFailNextThreadStarts(int count)
{
    g_failingStarts.store(count);
}
