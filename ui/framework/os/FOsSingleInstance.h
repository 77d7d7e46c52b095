#pragma once

// Only one instance of a program runs: the first start holds an flock lock for
// its declared name (and one for its family) for the life of the process and
// listens on a per-user Unix socket named after the application. A second start
// finds the lock held, connects and hands its argument over as 4-byte records
// {message, parameter}: 0x1094 show, 0x1091 begin, 0x1092 one UTF-16 unit (0
// ends), 0x1093 open. The running side answers each open, and the end of a
// stream without one, with {0x1095, 1}, or {0x1095, 0} when it refused the
// stream, so that the second start can tell what became of its argument. Locks
// go with the process, so a killed instance leaves none behind; its socket file
// is replaced by the next first start.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FWideString.h"

struct FOsHandOverRecord {
    uint16_t message = 0;
    uint16_t parameter = 0;
    bool operator==(const FOsHandOverRecord&) const = default;
};

// The longest argument a running instance takes, in UTF-16 units; a longer one is refused.
inline constexpr int kMaxHandOverUnits = 32768;
inline constexpr uint16_t kHandOverAnswer = 0x1095;
// A connection still open this long after it was accepted is closed.
inline constexpr int kHandOverConnectionMs = 2000;
// Bytes read from one connection in one Poll, so that a flooding client cannot hold it.
inline constexpr size_t kHandOverPollBytes = 65536;

// The folder of locks and sockets: $XDG_RUNTIME_DIR when it is ours, else a
// 0700 folder of this user; empty when none can be made.
std::string GetOsInstanceFolder();
// Where that folder is, without making it; `fallback` tells the per-user folder from
// the session's runtime folder.
std::string GetOsInstanceFolderPath(bool& fallback);
// A name safe as one file name: letters, digits, '.', '_' and '-' kept, others '_', bounded.
std::string SanitiseOsInstanceName(const std::string& name);

// The records of a second start: show, then the argument without double quotes.
std::vector<FOsHandOverRecord> BuildOsHandOverRecords(const FWideString& argument);

// The running side of the records. Each connection has its own.
class FOsHandOverReceiver
{
public:
    std::function<void()> onShow;
    std::function<void(const FWideString&)> onOpenPath;
    // False once the stream was refused (an argument beyond the cap).
    bool Feed(const FOsHandOverRecord& record);
    // Open records taken so far.
    int GetOpenCount() const { return m_iOpens; }

private:
    int m_iOpens = 0;
    FWideString m_usArgument;
    bool m_bEnded = false;
    bool m_bRefused = false;
};

// The bytes of one connection, records split anywhere between reads.
class FOsHandOverStream
{
public:
    FOsHandOverReceiver receiver;
    // False once the stream was refused.
    bool Feed(const uint8_t* bytes, size_t size);

private:
    uint8_t m_partial[4] = {};
    int m_iPartial = 0;
};

class FOsSingleInstance
{
public:
    explicit FOsSingleInstance(std::string folder = GetOsInstanceFolder());
    ~FOsSingleInstance();
    FOsSingleInstance(const FOsSingleInstance&) = delete;
    FOsSingleInstance& operator=(const FOsSingleInstance&) = delete;

    // Takes the lock of the name; false when another process holds it.
    bool TryLock(const std::string& name);

    // The first instance listens; a stale socket file is replaced.
    bool Listen(const std::string& appName);
    // Accepts and reads what has arrived, without waiting and within a bounded amount of
    // work; closes connections past their time.
    void Poll();
    void SetConnectionTimeout(int milliseconds) { m_iConnectionMs = milliseconds; }
    std::function<void()> onShow;
    std::function<void(const FWideString&)> onOpenPath;
    // Connections refused: another user, too long, too many at once.
    int GetRefusedCount() const { return m_iRefused; }
    // The user a peer must be; this process's own unless a test says otherwise.
    void SetExpectedUid(uid_t uid) { m_expectedUid = uid; }
    int GetListenDescriptor() const { return m_iListen; }

    // The second start: connects (retrying up to `timeoutMs` while the first one
    // is not listening yet), sends the records and waits, within the same time, for
    // the running side to take them. False unless it did.
    bool HandOver(const std::string& appName, const std::vector<FOsHandOverRecord>& records,
                  int timeoutMs = 1000);

    std::string SocketPath(const std::string& appName) const;

private:
    struct Connection;
    void priClose(size_t index);
    static bool priAwaitAnswer(int fd, std::chrono::steady_clock::time_point deadline);

    std::string m_folder;
    std::vector<int> m_locks;
    int m_iListen = -1;
    std::string m_socketPath;
    uid_t m_expectedUid;
    int m_iRefused = 0;
    int m_iConnectionMs = kHandOverConnectionMs;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
