#include "CamFileApi.h"

#include "CamDevice.h"
#include "CamProtocol.h"

#include <cstring>
#include <mutex>
#include <strings.h>
#include <vector>

namespace
{

// The whole of each call runs under the link's call lock, so that a probe on
// one thread cannot close a record another thread is transferring on.
class CallGuard
{
public:
    CallGuard() { CamLinkCallLock(); }
    ~CallGuard() { CamLinkCallUnlock(); }
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
};

// An opened device that answers the probe, released at the end of the call.
class OpenCamera
{
public:
    explicit OpenCamera(const char* name)
    {
        // Empty and virtual names name no device, so they open none.
        m_pDevice = name ? CamOpen(name) : nullptr;
        if (m_pDevice && !CamIsConnected(m_pDevice)) {
            CamDevRelease(m_pDevice);
            m_pDevice = nullptr;
        }
    }
    ~OpenCamera()
    {
        if (m_pDevice)
            CamDevRelease(m_pDevice);
    }
    OpenCamera(const OpenCamera&) = delete;
    OpenCamera& operator=(const OpenCamera&) = delete;
    CamDevice* Get() const { return m_pDevice; }

private:
    CamDevice* m_pDevice = nullptr;
};

bool IsConsole(const char* path)
{
    return path && strcasecmp(path, kConsolePath) == 0;
}

std::vector<std::string> DeviceNames(int& count)
{
    count = CamDevCount();
    std::vector<std::string> names;
    std::string name;
    for (int i = 0; i < count; ++i) {
        if (CamDevNameAt(i, name))
            names.push_back(name);
    }
    return names;
}

} // namespace

int CamProtoListCameras(char* buffer, uint32_t& length)
{
    if (!buffer && length)
        return 0;
    CallGuard guard;
    // A buffer of no bytes only asks for the size: nothing is written to it.
    if (length == 0)
        buffer = nullptr;
    if (buffer)
        buffer[0] = 0;
    int count = 0;
    const std::vector<std::string> names = DeviceNames(count);
    uint64_t needed = 1;
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        needed += names[i].size() + (i > 0 ? 1 : 0);
        if (buffer && length >= needed) {
            if (i > 0)
                text += '\n';
            text += names[i];
        }
    }
    if (buffer)
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    length = static_cast<uint32_t>(needed);
    return count;
}

int CamListCameras(char* buffer, uint32_t& length)
{
    if (!buffer && length)
        return 0;
    CallGuard guard;
    const uint32_t capacity = length;
    int count = CamProtoListCameras(buffer, length);
    if (!VirtualCamIsEnabled())
        return count;
    const bool hasDevices = length > 1;
    const uint32_t added = static_cast<uint32_t>(std::strlen(kVirtualCameraName)) + (hasDevices ? 1 : 0);
    // Appended only whole: a cut name would be taken for another camera.
    if (buffer && length + added <= capacity) {
        const size_t used = std::strlen(buffer);
        if (used + 1 == length) {
            std::string tail = std::string(hasDevices ? "\n" : "") + kVirtualCameraName;
            std::memcpy(buffer + used, tail.c_str(), tail.size() + 1);
        }
    }
    length += added;
    return count + 1;
}

FWideString CamListNameAt(int n)
{
    CallGuard guard;
    uint32_t length = 0;
    const int count = CamListCameras(nullptr, length);
    if (count <= 0 || n < 0 || n >= count)
        return FWideString();
    std::vector<char> text(length + 1, 0);
    uint32_t size = length;
    CamListCameras(text.data(), size);
    if (size > length)
        return FWideString(); // the list grew between the two calls
    const char* start = text.data();
    for (int i = 0; i < n; ++i) {
        start = std::strchr(start, '\n');
        if (!start)
            return FWideString();
        ++start;
    }
    const char* end = std::strchr(start, '\n');
    return WideFromUtf8(end ? std::string(start, end) : std::string(start));
}

FWideString CamFirstConnected()
{
    CallGuard guard;
    for (int n = 0;; ++n) {
        FWideString name = CamListNameAt(n);
        if (name.IsEmpty())
            return FWideString();
        if (CamIsAvailable(Utf8FromWide(name).c_str()))
            return name;
    }
}

bool CamIsAvailable(const char* name)
{
    CallGuard guard;
    if (name && *name && std::strcmp(name, kVirtualCameraName) != 0) {
        OpenCamera camera(name);
        if (camera.Get())
            return true;
    }
    return CamIsVirtual(name);
}

bool CamIsVirtual(const char* name)
{
    if (!VirtualCamIsEnabled())
        return false;
    return !name || !*name || std::strcmp(name, kVirtualCameraName) == 0;
}

bool CamFileStat(const char* camera, const char* path, uint32_t* size, uint32_t* time, uint32_t* attributes)
{
    CallGuard guard;
    OpenCamera device(camera);
    if (device.Get())
        return CamProtoStat(device.Get(), path, size, time, attributes, nullptr) != 0;
    return CamIsVirtual(camera) && VirtualCamStat(path, size, time, attributes);
}

bool CamFileIsReadable(const char* camera, const char* path, bool& readable)
{
    readable = false;
    CallGuard guard;
    OpenCamera device(camera);
    uint32_t status = 0;
    if (!device.Get() || !CamProtoStat(device.Get(), path, nullptr, nullptr, nullptr, &status))
        return false;
    readable = (status & kCamStatusReadable) != 0;
    return true;
}

uint32_t CamFileRead(const char* camera, const char* path, uint32_t offset, void* buffer, uint32_t length)
{
    CallGuard guard;
    OpenCamera device(camera);
    uint32_t got = 0;
    if (device.Get()) {
        if (IsConsole(path))
            return CamConsoleRead(device.Get(), buffer, length, &got) ? got : 0;
        return CamProtoRead(device.Get(), path, offset, buffer, length, &got) ? got : 0;
    }
    return CamIsVirtual(camera) ? VirtualCamRead(path, offset, buffer, length) : 0;
}

bool CamFileWrite(const char* camera, const char* path, uint32_t offset, const void* data, uint32_t length)
{
    CallGuard guard;
    OpenCamera device(camera);
    if (device.Get()) {
        if (IsConsole(path))
            return CamConsoleWrite(device.Get(), data, length) != 0;
        return CamProtoWrite(device.Get(), path, offset, data, length) != 0;
    }
    return CamIsVirtual(camera) && VirtualCamWrite(path, offset, data, length);
}

bool CamFileDelete(const char* camera, const char* path)
{
    CallGuard guard;
    OpenCamera device(camera);
    if (device.Get()) {
        if (IsConsole(path))
            return CamConsoleOff(device.Get()) != 0;
        return CamProtoDelete(device.Get(), path) != 0;
    }
    return CamIsVirtual(camera) && VirtualCamDelete(path);
}

bool CamFileSetAttributes(const char* camera, const char* path, uint32_t attributes)
{
    CallGuard guard;
    OpenCamera device(camera);
    if (device.Get())
        return CamProtoSetAttributes(device.Get(), path, attributes) != 0;
    return CamIsVirtual(camera) && VirtualCamSetAttributes(path, attributes);
}

bool CamIsPatternPath(const char* path)
{
    return path && std::strpbrk(path, "*?") != nullptr;
}
