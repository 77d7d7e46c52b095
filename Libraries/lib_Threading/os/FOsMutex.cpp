#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "os/FOsSync.h"

namespace
{

using Clock = std::chrono::steady_clock;

class RecursiveLock;

// The locks a thread holds; whatever it still holds when it ends is released
// for it, as the system does with an abandoned mutex.
class HeldLocks
{
public:
    ~HeldLocks();
    void Add(const std::shared_ptr<RecursiveLock>& lock) { m_locks.push_back(lock); }
    void Remove(const RecursiveLock* lock);

private:
    std::vector<std::weak_ptr<RecursiveLock>> m_locks;
};

thread_local HeldLocks t_heldLocks;

// Recursive and owned by a thread, as the mutexes of the original design.
class RecursiveLock : public std::enable_shared_from_this<RecursiveLock>
{
public:
    // onFree runs while the lock is still owned, when the last acquisition
    // goes.
    explicit RecursiveLock(std::function<void()> onFree = {}) : m_onFree(std::move(onFree)) {}

    // The depth after acquiring (1 for a first acquisition); 0 on a time-out.
    int Acquire(int milliseconds)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        const std::thread::id self = std::this_thread::get_id();
        if (m_iDepth > 0 && m_owner == self)
            return ++m_iDepth;
        auto free = [this] { return m_iDepth == 0; };
        if (milliseconds < 0)
            m_released.wait(guard, free);
        else if (!m_released.wait_for(guard, std::chrono::milliseconds(milliseconds), free))
            return 0;
        m_owner = self;
        m_iDepth = 1;
        t_heldLocks.Add(shared_from_this());
        return 1;
    }

    bool Release()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_iDepth == 0 || m_owner != std::this_thread::get_id())
            return false;
        if (m_iDepth == 1) {
            priFree();
            t_heldLocks.Remove(this);
        } else {
            --m_iDepth;
        }
        return true;
    }

    bool IsOwnedByCurrentThread()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_iDepth > 0 && m_owner == std::this_thread::get_id();
    }

    // The owning thread ends: the next waiter gets the lock.
    void Abandon()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_iDepth > 0 && m_owner == std::this_thread::get_id())
            priFree();
    }

private:
    void priFree()
    {
        if (m_onFree)
            m_onFree();
        m_iDepth = 0;
        m_owner = std::thread::id();
        m_released.notify_one();
    }

    std::function<void()> m_onFree;
    std::mutex m_lock;
    std::condition_variable m_released;
    std::thread::id m_owner;
    int m_iDepth = 0;
};

HeldLocks::~HeldLocks()
{
    for (const std::weak_ptr<RecursiveLock>& held : m_locks) {
        if (std::shared_ptr<RecursiveLock> lock = held.lock())
            lock->Abandon();
    }
}

void HeldLocks::Remove(const RecursiveLock* lock)
{
    for (auto it = m_locks.begin(); it != m_locks.end(); ++it) {
        std::shared_ptr<RecursiveLock> held = it->lock();
        if (!held || held.get() == lock) {
            m_locks.erase(it);
            return;
        }
    }
}

class UnnamedMutex : public FOsMutexHandle
{
public:
    bool Wait(int milliseconds) override { return m_pLock->Acquire(milliseconds) > 0; }
    bool IsOwnedByCurrentThread() override { return m_pLock->IsOwnedByCurrentThread(); }
    bool Release() override { return m_pLock->Release(); }

private:
    std::shared_ptr<RecursiveLock> m_pLock = std::make_shared<RecursiveLock>();
};

// ---- named mutexes: one record per name in the process, plus an flock on a
// lock file that excludes other processes and dies with its holder.

bool IsPrivateFolder(const std::string& path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string LockFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && IsPrivateFolder(runtime))
        return runtime;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    const std::string folder = base + "/rawbench-" + std::to_string(getuid());
    mkdir(folder.c_str(), 0700);
    if (IsPrivateFolder(folder))
        return folder;
    return std::string();
}

uint64_t Fnv1a(const std::string& text)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// Any name becomes one safe file name component.
std::string LockFileName(const std::string& name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-' || c == '.';
        if (plain) {
            escaped += static_cast<char>(c);
            continue;
        }
        escaped += '%';
        escaped += kHex[c >> 4];
        escaped += kHex[c & 15];
    }
    constexpr size_t kMaxEscaped = 160;
    if (escaped.size() > kMaxEscaped) {
        char hash[17];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(name)));
        escaped = escaped.substr(0, kMaxEscaped) + "~" + hash;
    }
    return "rawbench-mutex-" + escaped + ".lock";
}

struct NamedRecord {
    explicit NamedRecord(int fileDescriptor)
        : fd(fileDescriptor), lock(std::make_shared<RecursiveLock>([fileDescriptor, owner = getpid()] {
              // The file lock goes while the record is still owned, so no
              // other thread of the process can take the record in between.
              // A forked child shares the parent's lock and must leave it.
              if (getpid() == owner)
                  flock(fileDescriptor, LOCK_UN);
          }))
    {
    }

    ~NamedRecord() { close(fd); }

    int fd;
    pid_t pid = getpid();
    std::shared_ptr<RecursiveLock> lock;
};

class Registry
{
public:
    // The record of this process for the name; null when its lock file
    // cannot be opened.
    std::shared_ptr<NamedRecord> Find(const std::string& name)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const pid_t pid = getpid();
        auto it = m_records.find(name);
        if (it != m_records.end()) {
            std::shared_ptr<NamedRecord> record = it->second.lock();
            // A record inherited through fork shares the parent's lock.
            if (record && record->pid == pid)
                return record;
        }
        const std::string folder = LockFolder();
        if (folder.empty())
            return nullptr;
        const std::string path = folder + "/" + LockFileName(name);
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd < 0)
            return nullptr;
        struct stat info;
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close(fd);
            return nullptr;
        }
        auto record = std::make_shared<NamedRecord>(fd);
        priForgetUnused();
        m_records[name] = record;
        return record;
    }

private:
    void priForgetUnused()
    {
        for (auto it = m_records.begin(); it != m_records.end();) {
            if (it->second.expired())
                it = m_records.erase(it);
            else
                ++it;
        }
    }

    std::mutex m_lock;
    std::map<std::string, std::weak_ptr<NamedRecord>> m_records;
};

Registry& TheRegistry()
{
    // Immortal: mutexes may be destroyed during static destruction.
    static Registry* registry = new Registry;
    return *registry;
}

bool TakeFileLock(int fd, int milliseconds, Clock::time_point deadline)
{
    if (milliseconds < 0) {
        while (flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR)
                return false;
        }
        return true;
    }
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

class NamedMutex : public FOsMutexHandle
{
public:
    NamedMutex(std::string name, std::shared_ptr<NamedRecord> record)
        : m_name(std::move(name)), m_pRecord(std::move(record))
    {
    }

    bool Wait(int milliseconds) override
    {
        if (m_pRecord->pid != getpid()) {
            std::shared_ptr<NamedRecord> own = TheRegistry().Find(m_name);
            if (!own)
                return false;
            m_pRecord = own;
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        const int depth = m_pRecord->lock->Acquire(milliseconds);
        if (depth == 0)
            return false;
        if (depth > 1)
            return true;
        if (TakeFileLock(m_pRecord->fd, milliseconds, deadline))
            return true;
        m_pRecord->lock->Release();
        return false;
    }

    bool IsOwnedByCurrentThread() override { return m_pRecord->lock->IsOwnedByCurrentThread(); }

    bool Release() override { return m_pRecord->lock->Release(); }

private:
    std::string m_name;
    std::shared_ptr<NamedRecord> m_pRecord;
};

} // namespace

std::unique_ptr<FOsMutexHandle> OsCreateMutex(const char* name)
{
    if (!name || !name[0])
        return std::make_unique<UnnamedMutex>();
    std::shared_ptr<NamedRecord> record = TheRegistry().Find(name);
    if (!record)
        return nullptr;
    return std::make_unique<NamedMutex>(name, std::move(record));
}
