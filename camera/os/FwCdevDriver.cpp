// The 1394 camera driver's requests carried out in user space over the kernel's
// firewire character devices: block reads and writes become asynchronous
// transactions to the camera node, and the configuration block is built from
// the camera's capability directory. Only the older request layout is offered.

#include "CamFw1394Transport.h"

#include "FByteOrder.h"

#include <linux/firewire-cdev.h>
#include <linux/firewire-constants.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

// Small enough for every bus speed.
constexpr uint32_t kPayloadBytes = 512;
constexpr int kResponseTimeoutMs = 1000;
constexpr uint64_t kDirectoryAddress = 0xFFFFF0010000ull;

struct Node {
    int m_fd = -1;
    uint32_t m_generation = 0;
    uint64_t m_closure = 0;
};

bool RefreshInfo(Node& node, bool& local)
{
    fw_cdev_event_bus_reset reset = {};
    fw_cdev_get_info info = {};
    info.version = 4;
    info.bus_reset = reinterpret_cast<uintptr_t>(&reset);
    if (ioctl(node.m_fd, FW_CDEV_IOC_GET_INFO, &info) != 0)
        return false;
    node.m_generation = reset.generation;
    local = reset.node_id == reset.local_node_id;
    return true;
}

// One transaction; answers a status of the driver seam (0 for success).
uint32_t Transaction(Node& node, uint32_t tcode, uint64_t address, uint8_t* data, uint32_t length)
{
    for (int generationRetries = 0; generationRetries < 3; ++generationRetries) {
        fw_cdev_send_request request = {};
        request.tcode = tcode;
        request.length = length;
        request.offset = address;
        request.closure = ++node.m_closure;
        request.data = reinterpret_cast<uintptr_t>(data);
        request.generation = node.m_generation;
        if (ioctl(node.m_fd, FW_CDEV_IOC_SEND_REQUEST, &request) < 0)
            return errno == ENODEV ? kFw1394StatusGone : kFw1394StatusNoCode;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kResponseTimeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return kFw1394StatusBusy;
            pollfd wait = {node.m_fd, POLLIN, 0};
            if (poll(&wait, 1, static_cast<int>(left.count())) <= 0)
                continue;
            alignas(8) uint8_t event[sizeof(fw_cdev_event_response) + 4096];
            const ssize_t got = read(node.m_fd, event, sizeof event);
            if (got < 0)
                return errno == ENODEV ? kFw1394StatusGone : kFw1394StatusBusy;
            if (static_cast<size_t>(got) < 16)
                continue;
            const auto* common = reinterpret_cast<const fw_cdev_event_response*>(event);
            if (common->type == FW_CDEV_EVENT_BUS_RESET) {
                node.m_generation = reinterpret_cast<const fw_cdev_event_bus_reset*>(event)->generation;
                continue;
            }
            if (common->type != FW_CDEV_EVENT_RESPONSE || common->closure != request.closure)
                continue;
            if (common->rcode == RCODE_GENERATION)
                break; // the bus was reset: once more with the new generation
            if (common->rcode == RCODE_BUSY)
                return kFw1394StatusBusy;
            if (common->rcode != RCODE_COMPLETE)
                return kFw1394StatusNoCode;
            const size_t header = sizeof(fw_cdev_event_response);
            const uint32_t delivered =
                std::min<uint32_t>(common->length, static_cast<uint32_t>(got - header));
            if (tcode == TCODE_READ_QUADLET_REQUEST || tcode == TCODE_READ_BLOCK_REQUEST) {
                if (delivered < length)
                    return kFw1394StatusNoCode;
                std::memcpy(data, event + header, length);
            }
            return 0;
        }
        bool local = false;
        RefreshInfo(node, local);
    }
    return kFw1394StatusBusy;
}

uint32_t Transfer(Node& node, bool reading, uint64_t address, uint8_t* data, uint32_t length)
{
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = std::min(kPayloadBytes, length - done);
        const uint32_t tcode = reading
                                   ? (piece == 4 ? TCODE_READ_QUADLET_REQUEST : TCODE_READ_BLOCK_REQUEST)
                                   : (piece == 4 ? TCODE_WRITE_QUADLET_REQUEST : TCODE_WRITE_BLOCK_REQUEST);
        const uint32_t status =
            Transaction(node, tcode, (address + done) & 0xFFFFFFFFFFFFull, data + done, piece);
        if (status != 0)
            return status;
        done += piece;
    }
    return 0;
}

bool ReadBusWord(Node& node, uint64_t address, uint32_t& value)
{
    uint8_t bytes[4];
    if (Transfer(node, true, address, bytes, 4) != 0)
        return false;
    value = LoadBE32(bytes);
    return true;
}

// The configuration block a driver would return, from the camera's directory.
bool BuildConfig(Node& node, uint8_t* out)
{
    CamConfig config;
    CamDefaultConfig(config);
    uint32_t* w = config.m_words;
    uint32_t magic = 0;
    if (!ReadBusWord(node, kDirectoryAddress, magic))
        return false;
    w[kCamCfgRead] = 1;
    bool reversed = false;
    if (magic == __builtin_bswap32(kCamDirectoryMagic)) {
        reversed = true;
        w[kCamCfgSwap] = 0;
    } else if (magic != kCamDirectoryMagic) {
        return false;
    }
    w[kCamCfgMagic] = kCamDirectoryMagic;
    auto word = [&](uint64_t address, uint32_t& value) {
        if (!ReadBusWord(node, address, value))
            return false;
        if (reversed)
            value = __builtin_bswap32(value);
        return true;
    };
    uint32_t count = 0;
    if (word(kDirectoryAddress + 4, count)) {
        count = std::min<uint32_t>(count, kCamMaxDirectoryEntries);
        uint32_t read = 0;
        for (; read < count; ++read) {
            uint32_t entry[4];
            bool ok = true;
            for (int k = 0; k < 4 && ok; ++k)
                ok = word(kDirectoryAddress + 0x10 + 16 * read + 4 * k, entry[k]);
            if (!ok)
                break;
            std::copy(entry, entry + 4, w + kCamCfgEntries + 4 * read);
        }
        w[kCamCfgEntryCount] = read;
    }
    for (int i = 0; i < kCamConfigWords; ++i)
        StoreLE32(out + 4 * i, w[i]);
    return true;
}

bool IsCamera(Node& node)
{
    uint32_t magic = 0;
    return ReadBusWord(node, kDirectoryAddress, magic) &&
           (magic == kCamDirectoryMagic || magic == __builtin_bswap32(kCamDirectoryMagic));
}

class FwCdevDriver : public Fw1394Driver
{
public:
    ~FwCdevDriver() override
    {
        for (auto& [handle, node] : m_nodes)
            ::close(node.m_fd);
    }

    std::vector<std::string> Enumerate(int entry) override
    {
        std::vector<std::string> ids;
        if (entry != 1)
            return ids;
        DIR* dir = opendir("/dev");
        if (!dir)
            return ids;
        while (dirent* item = readdir(dir)) {
            const std::string name = item->d_name;
            if (name.size() < 3 || name.compare(0, 2, "fw") != 0 ||
                !std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            Node node;
            node.m_fd = ::open(("/dev/" + name).c_str(), O_RDWR | O_CLOEXEC);
            if (node.m_fd < 0)
                continue;
            bool local = true;
            if (RefreshInfo(node, local) && !local && IsCamera(node))
                ids.push_back(name);
            ::close(node.m_fd);
        }
        closedir(dir);
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    Fw1394Handle Open(const std::string& id) override
    {
        if (id.find('/') != std::string::npos)
            return kFw1394NoHandle;
        Node node;
        node.m_fd = ::open(("/dev/" + id).c_str(), O_RDWR | O_CLOEXEC);
        bool local = true;
        if (node.m_fd < 0)
            return kFw1394NoHandle;
        if (!RefreshInfo(node, local) || local) {
            ::close(node.m_fd);
            return kFw1394NoHandle;
        }
        std::lock_guard lock(m_lock);
        const Fw1394Handle handle = m_iNext++;
        m_nodes[handle] = node;
        return handle;
    }

    void Close(Fw1394Handle handle) override
    {
        std::lock_guard lock(m_lock);
        auto it = m_nodes.find(handle);
        if (it == m_nodes.end())
            return;
        ::close(it->second.m_fd);
        m_nodes.erase(it);
    }

    bool Ioctl(Fw1394Handle handle, uint32_t code, uint8_t* buffer, uint32_t inLength, uint32_t outLength,
               uint32_t& returned, uint32_t& status) override
    {
        returned = 0;
        status = 0;
        if (code == kFw1394Identify) {
            if (outLength < 16)
                return false;
            std::memset(buffer, 0, 16);
            std::memcpy(buffer, "B1394", 5);
            returned = 16;
            return true;
        }
        Node* node = Find(handle);
        if (!node || inLength < kFw1394HeaderBytes || outLength < kFw1394HeaderBytes) {
            status = kFw1394StatusGone;
            return false;
        }
        const uint32_t wanted = LoadLE32(buffer + kFw1394FieldOutLength);
        const uint32_t given = LoadLE32(buffer + kFw1394FieldInLength);
        const uint64_t address =
            (static_cast<uint64_t>(LoadLE32(buffer + kFw1394FieldSpace) & 0xFFFF) << 32) |
            LoadLE32(buffer + kFw1394FieldOffset);
        uint8_t* data = buffer + kFw1394HeaderBytes;
        uint32_t result = 0;
        uint32_t delivered = 0;
        switch (code) {
        case kFw1394ReadBlock:
        case kFw1394FastRead:
            if (wanted > outLength - kFw1394HeaderBytes)
                return false;
            result = Transfer(*node, true, address, data, wanted);
            delivered = wanted;
            break;
        case kFw1394WriteBlock:
            if (given > inLength - kFw1394HeaderBytes)
                return false;
            result = Transfer(*node, false, address, data, given);
            break;
        case kFw1394ReadConfig:
            if (outLength - kFw1394HeaderBytes < kFw1394ConfigBytes || !BuildConfig(*node, data))
                result = kFw1394StatusNoCode;
            delivered = kFw1394ConfigBytes;
            break;
        default:
            result = kFw1394StatusNoCode;
            break;
        }
        StoreLE32(buffer + kFw1394FieldStatus, result);
        StoreLE32(buffer + kFw1394FieldSuccess, result == 0 ? 1 : 0);
        status = result;
        if (result != 0)
            return false;
        returned = kFw1394HeaderBytes + delivered;
        return true;
    }

private:
    Node* Find(Fw1394Handle handle)
    {
        std::lock_guard lock(m_lock);
        auto it = m_nodes.find(handle);
        return it == m_nodes.end() ? nullptr : &it->second;
    }

    std::mutex m_lock;
    std::map<Fw1394Handle, Node> m_nodes;
    Fw1394Handle m_iNext = 1;
};

} // namespace

std::unique_ptr<Fw1394Driver> CreateOsFw1394Driver()
{
    return std::make_unique<FwCdevDriver>();
}
