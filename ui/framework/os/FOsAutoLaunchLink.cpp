#include "FOsAutoLaunchLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "FOsSingleInstance.h"

namespace
{

// Connects without blocking for long: a listener whose backlog is full counts as absent.
int Connect(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendWord(int fd, uint32_t word)
{
    uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                        static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
    size_t done = 0;
    while (done < sizeof(bytes)) {
        const ssize_t n = send(fd, bytes + done, sizeof(bytes) - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadWord(int fd, uint32_t& word, int timeoutMs)
{
    uint8_t bytes[4] = {};
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (done < sizeof(bytes)) {
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
        const ssize_t n = recv(fd, bytes + done, sizeof(bytes) - done, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    word = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

} // namespace

std::string GetOsAutoLaunchSocketPath(const std::string& windowClass, const std::string& windowTitle)
{
    const std::string folder = GetOsInstanceFolder();
    if (folder.empty())
        return {};
    return folder + "/" + SanitiseOsInstanceName(windowClass + "-" + windowTitle) + ".sock";
}

bool OsAutoLaunchWindowExists(const std::string& socketPath)
{
    const int fd = Connect(socketPath);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool OsAutoLaunchPost(const std::string& socketPath, uint32_t message)
{
    const int fd = Connect(socketPath);
    if (fd < 0)
        return false;
    const bool sent = SendWord(fd, message);
    close(fd);
    return sent;
}

uint32_t OsAutoLaunchSend(const std::string& socketPath, uint32_t message, int timeoutMs)
{
    const int fd = Connect(socketPath);
    if (fd < 0)
        return 0;
    uint32_t answer = 0;
    if (!SendWord(fd, message) || !ReadWord(fd, answer, timeoutMs))
        answer = 0;
    close(fd);
    return answer;
}

void OsSleepMilliseconds(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
