#include "FOsSingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace
{

constexpr size_t kMaxConnections = 8;
// Connections taken in one Poll; more wait for the next.
constexpr int kAcceptsPerPoll = 16;
constexpr size_t kMaxNameBytes = 80;

bool IsOwnPrivateFolder(const std::string& path)
{
    struct stat info {
    };
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = send(fd, bytes + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void SendAnswer(int fd, bool accepted)
{
    const uint8_t bytes[4] = {kHandOverAnswer & 0xFF, kHandOverAnswer >> 8,
                              accepted ? uint8_t{1} : uint8_t{0}, 0};
    WriteAll(fd, bytes, sizeof bytes);
}

bool FillAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

std::string GetOsInstanceFolderPath(bool& fallback)
{
    fallback = false;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        if (IsOwnPrivateFolder(runtime))
            return runtime;
    }
    fallback = true;
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        base = cache;
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        base = std::string(home) + "/.cache";
    else
        base = "/tmp";
    return base + "/rawbench-instances-" + std::to_string(geteuid());
}

std::string GetOsInstanceFolder()
{
    bool fallback = false;
    const std::string folder = GetOsInstanceFolderPath(fallback);
    if (!fallback)
        return folder;
    mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return std::string();
    return IsOwnPrivateFolder(folder) ? folder : std::string();
}

std::string SanitiseOsInstanceName(const std::string& name)
{
    std::string safe;
    for (const char c : name) {
        if (safe.size() >= kMaxNameBytes)
            break;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-' || (c == '.' && !safe.empty());
        safe += plain ? c : '_';
    }
    return safe.empty() ? std::string("_") : safe;
}

std::vector<FOsHandOverRecord> BuildOsHandOverRecords(const FWideString& argument)
{
    std::vector<FOsHandOverRecord> records{{0x1094, 0}};
    if (argument.IsEmpty())
        return records;
    records.push_back({0x1091, 0});
    for (int i = 0; i < argument.GetLength(); ++i) {
        const char16_t unit = argument.GetBuffer()[i];
        if (unit != u'"')
            records.push_back({0x1092, static_cast<uint16_t>(unit)});
    }
    records.push_back({0x1092, 0});
    records.push_back({0x1093, 0});
    return records;
}

bool FOsHandOverReceiver::Feed(const FOsHandOverRecord& record)
{
    if (m_bRefused)
        return false;
    switch (record.message) {
    case 0x1094:
        if (onShow)
            onShow();
        break;
    case 0x1091:
        m_usArgument.Clear();
        m_bEnded = false;
        break;
    case 0x1092:
        if (record.parameter == 0) {
            m_bEnded = true;
        } else if (!m_bEnded) {
            if (m_usArgument.GetLength() >= kMaxHandOverUnits) {
                m_bRefused = true;
                m_usArgument.Clear();
                return false;
            }
            m_usArgument.Append(static_cast<char16_t>(record.parameter));
        }
        break;
    case 0x1093:
        ++m_iOpens;
        if (onOpenPath && !m_usArgument.IsEmpty())
            onOpenPath(m_usArgument);
        m_usArgument.Clear();
        m_bEnded = false;
        break;
    default:
        break; // unknown records are skipped
    }
    return true;
}

bool FOsHandOverStream::Feed(const uint8_t* bytes, size_t size)
{
    for (size_t k = 0; k < size; ++k) {
        m_partial[m_iPartial++] = bytes[k];
        if (m_iPartial < 4)
            continue;
        m_iPartial = 0;
        const FOsHandOverRecord record{static_cast<uint16_t>(m_partial[0] | m_partial[1] << 8),
                                       static_cast<uint16_t>(m_partial[2] | m_partial[3] << 8)};
        if (!receiver.Feed(record))
            return false;
    }
    return true;
}

struct FOsSingleInstance::Connection {
    int fd = -1;
    FOsHandOverStream stream;
    std::chrono::steady_clock::time_point deadline;
    int answered = 0;
};

FOsSingleInstance::FOsSingleInstance(std::string folder)
    : m_folder(std::move(folder)), m_expectedUid(geteuid())
{
}

FOsSingleInstance::~FOsSingleInstance()
{
    while (!m_connections.empty())
        priClose(m_connections.size() - 1);
    if (m_iListen >= 0) {
        close(m_iListen);
        unlink(m_socketPath.c_str());
    }
    for (int fd : m_locks)
        close(fd);
}

std::string FOsSingleInstance::SocketPath(const std::string& appName) const
{
    return m_folder + "/" + SanitiseOsInstanceName(appName) + ".sock";
}

bool FOsSingleInstance::TryLock(const std::string& name)
{
    if (m_folder.empty())
        return true; // without a private folder every start runs, as without the feature
    const std::string path = m_folder + "/" + SanitiseOsInstanceName(name) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return !held;
    }
    m_locks.push_back(fd);
    return true;
}

bool FOsSingleInstance::Listen(const std::string& appName)
{
    if (m_iListen >= 0 || m_folder.empty())
        return m_iListen >= 0;
    sockaddr_un address{};
    const std::string path = SocketPath(appName);
    if (!FillAddress(path, address))
        return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Whoever holds the lock owns the name: a file left there is a killed instance's.
    struct stat info {
    };
    if (lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return false;
    }
    chmod(path.c_str(), 0600);
    m_iListen = fd;
    m_socketPath = path;
    return true;
}

void FOsSingleInstance::priClose(size_t index)
{
    close(m_connections[index]->fd);
    m_connections.erase(m_connections.begin() + static_cast<std::ptrdiff_t>(index));
}

void FOsSingleInstance::Poll()
{
    if (m_iListen < 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    for (int accepted = 0; accepted < kAcceptsPerPoll; ++accepted) {
        const int fd = accept4(m_iListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            break;
        ucred peer{};
        socklen_t size = sizeof(peer);
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != m_expectedUid ||
            m_connections.size() >= kMaxConnections) {
            ++m_iRefused;
            close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->deadline = now + std::chrono::milliseconds(m_iConnectionMs);
        connection->stream.receiver.onShow = [this] {
            if (onShow)
                onShow();
        };
        connection->stream.receiver.onOpenPath = [this](const FWideString& path) {
            if (onOpenPath)
                onOpenPath(path);
        };
        m_connections.push_back(std::move(connection));
    }
    for (size_t i = m_connections.size(); i-- > 0;) {
        Connection& c = *m_connections[i];
        bool done = false;
        size_t taken = 0;
        uint8_t buffer[4096];
        while (taken < kHandOverPollBytes) {
            const ssize_t n = recv(c.fd, buffer, sizeof(buffer), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                done = errno != EAGAIN && errno != EWOULDBLOCK;
                break;
            }
            if (n == 0) {
                // A stream that ends without an open still wants to know it was taken.
                if (c.answered == 0)
                    SendAnswer(c.fd, true);
                done = true;
                break;
            }
            taken += static_cast<size_t>(n);
            if (!c.stream.Feed(buffer, static_cast<size_t>(n))) {
                ++m_iRefused;
                SendAnswer(c.fd, false);
                done = true;
                break;
            }
            for (; c.answered < c.stream.receiver.GetOpenCount(); ++c.answered)
                SendAnswer(c.fd, true);
        }
        // A silent or endless client would otherwise keep its place for good.
        if (!done && now >= c.deadline) {
            ++m_iRefused;
            done = true;
        }
        if (done)
            priClose(i);
    }
}

bool FOsSingleInstance::HandOver(const std::string& appName, const std::vector<FOsHandOverRecord>& records,
                                 int timeoutMs)
{
    sockaddr_un address{};
    if (!FillAddress(SocketPath(appName), address))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            std::vector<uint8_t> bytes;
            bytes.reserve(records.size() * 4);
            for (const FOsHandOverRecord& r : records) {
                bytes.push_back(static_cast<uint8_t>(r.message & 0xFF));
                bytes.push_back(static_cast<uint8_t>(r.message >> 8));
                bytes.push_back(static_cast<uint8_t>(r.parameter & 0xFF));
                bytes.push_back(static_cast<uint8_t>(r.parameter >> 8));
            }
            bool ok = WriteAll(fd, bytes.data(), bytes.size()) && shutdown(fd, SHUT_WR) == 0;
            ok = ok && priAwaitAnswer(fd, deadline);
            close(fd);
            return ok;
        }
        close(fd);
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool FOsSingleInstance::priAwaitAnswer(int fd, std::chrono::steady_clock::time_point deadline)
{
    // Only the running side's own word counts: a refusal, a closed connection or
    // silence until the deadline is a failed hand-over.
    uint8_t answer[4] = {};
    size_t got = 0;
    while (got < sizeof answer) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd waiting{fd, POLLIN, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = recv(fd, answer + got, sizeof answer - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return (answer[0] | answer[1] << 8) == kHandOverAnswer && answer[2] == 1 && answer[3] == 0;
}
