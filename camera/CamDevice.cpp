#include "CamDevice.h"

#include "CamFileDevice.h"
#include "CamFw1394Transport.h"
#include "CamUsbTransport.h"
#include "FByteOrder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace
{

constexpr const char* kTransportTexts[kCamTransportCount] = {"NONE", "1394", "USB", "FILE", "TCP"};
constexpr int kProbeAttempts = 3;
constexpr int kProbeRetrySleepMs = 500;

struct LinkState {
    CamLock m_lock;
    bool m_bInitialised = false;
    std::vector<std::unique_ptr<CamDevice>> m_devices;
    std::unordered_map<std::string, CamDevice*> m_byName;
    CamDevice* m_pLastFound = nullptr;
};

LinkState& Link()
{
    static LinkState state;
    return state;
}

std::recursive_mutex& CallMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

std::array<std::atomic<CamTransportOps*>, kCamTransportCount>& OpsTable()
{
    static std::array<std::atomic<CamTransportOps*>, kCamTransportCount> table{};
    return table;
}

std::atomic<bool> g_bFileDevicesEnabled{false};

CamTransportOps* BuiltInOps(int transport)
{
    if (transport == kCamTransportFile)
        return &CamFileTransportOps();
    if (transport == kCamTransportUsb)
        return &CamUsbTransportOps();
    if (transport == kCamTransport1394)
        return &CamFw1394TransportOps();
    return nullptr;
}

int CountOf(int transport)
{
    CamTransportOps* ops = CamGetTransportOps(transport);
    return ops ? std::max(ops->Count(), 0) : 0;
}

int CountDevices()
{
    return CountOf(kCamTransport1394) + CountOf(kCamTransportUsb) + FileDevCount();
}

bool NameAt(int index, std::string& name)
{
    if (index < 0)
        return false;
    for (int transport : {kCamTransport1394, kCamTransportUsb}) {
        const int count = CountOf(transport);
        if (index < count) {
            std::string id;
            if (!CamGetTransportOps(transport)->IdAt(index, id))
                return false;
            name = std::string(kTransportTexts[transport]) + "@" + id;
            return true;
        }
        index -= count;
    }
    std::string text;
    if (!FileDevNameAt(index, text))
        return false;
    name = std::string("FILE@") + text;
    return true;
}

int IndexOfName(const char* name)
{
    if (!name || !*name)
        return -1;
    std::string candidate;
    for (int i = 0; NameAt(i, candidate); ++i) {
        if (candidate == name)
            return i;
    }
    return -1;
}

CamDevice* CreateLocked(LinkState& link, const char* name)
{
    int family = 0;
    int code = 0;
    if (!CamOsVersionCode(family, code))
        return nullptr;
    const int transport = CamTransportOfName(name);
    if (transport == kCamTransportNone)
        return nullptr;
    if (transport == kCamTransportFile && !g_bFileDevicesEnabled.load())
        return nullptr;
    if (link.m_devices.size() >= static_cast<size_t>(kCamMaxDeviceRecords))
        return nullptr;
    auto device = std::make_unique<CamDevice>();
    device->m_iOsFamily = family;
    device->m_iOsCode = code;
    device->m_name = name;
    device->m_id = device->m_name.substr(device->m_name.find('@') + 1);
    device->m_iTransport = transport;
    device->m_iDeviceIndex = IndexOfName(name);
    CamDefaultConfig(device->m_config);
    CamDevice* record = device.get();
    link.m_byName.emplace(record->m_name, record);
    link.m_devices.push_back(std::move(device));
    return record;
}

// A directory quadlet as the transport assembles it, least significant byte first from the
// bytes in wire order. The device's word swap is for the file registers, not for this.
bool ReadDirectoryWord(CamDevice* device, uint32_t offset, uint32_t space, uint32_t& value)
{
    if (device->m_pOps && device->m_pOps->HasQuadletRead()) {
        uint32_t word = 0;
        const bool ok =
            device->m_pHandle && device->m_pOps->ReadQuadlet(device->m_pHandle, offset, space, word);
        CamSetLastStatus(device, ok ? 1 : 0);
        if (ok)
            value = word;
        return ok;
    }
    uint8_t bytes[4];
    if (!CamReadRaw(device, offset, space, bytes, 4))
        return false;
    value = LoadLE32(bytes);
    return true;
}

void ReadDirectory(CamDevice* device)
{
    uint32_t* w = device->m_config.m_words;
    uint32_t magic = 0;
    if (ReadDirectoryWord(device, w[kCamCfgMagicAddress], w[kCamCfgMagicAddress + 1], magic)) {
        w[kCamCfgMagic] = magic;
        w[kCamCfgRead] = 1;
    }
    // The bytes "BCVB" in wire order read forward; in reverse order they invert the swap.
    const uint8_t forward[4] = {'B', 'C', 'V', 'B'};
    if (w[kCamCfgMagic] == __builtin_bswap32(LoadLE32(forward))) {
        w[kCamCfgSwap] = w[kCamCfgSwap] ? 0 : 1;
        w[kCamCfgMagic] = kCamDirectoryMagic;
    } else if (w[kCamCfgMagic] == LoadLE32(forward)) {
        w[kCamCfgMagic] = kCamDirectoryMagic;
    }
    if (w[kCamCfgMagic] != kCamDirectoryMagic)
        return;
    uint32_t count = 0;
    if (!ReadDirectoryWord(device, w[kCamCfgCountAddress], w[kCamCfgCountAddress + 1], count))
        return;
    count = std::min<uint32_t>(count, kCamMaxDirectoryEntries);
    uint32_t read = 0;
    for (; read < count; ++read) {
        uint32_t entry[4];
        uint32_t offset = w[kCamCfgEntryAddress];
        uint32_t space = w[kCamCfgEntryAddress + 1];
        CamAddressAdvance(offset, space, 16 * read);
        bool ok = true;
        for (int k = 0; k < 4 && ok; ++k) {
            ok = ReadDirectoryWord(device, offset, space, entry[k]);
            CamAddressAdvance(offset, space, 4);
        }
        if (!ok)
            break;
        std::copy(entry, entry + 4, w + kCamCfgEntries + 4 * read);
        switch (entry[0]) {
        case 0x50000:
            w[219] = entry[3];
            break;
        case 0x20000:
            w[212] = 0;
            w[213] = entry[2];
            w[214] = 0x08000000;
            w[215] = entry[2];
            break;
        case 0x60000:
            w[216] = entry[3];
            break;
        case 0x70000:
            w[217] = entry[3];
            break;
        default:
            break;
        }
    }
    // Only whole entries count, so a half-read entry is never taken for a capability.
    w[kCamCfgEntryCount] = read;
}

void ReadConfigLocked(CamDevice* device)
{
    CamDefaultConfig(device->m_config);
    if (!device->m_pHandle || !device->m_pOps)
        return;
    if (device->m_iTransport == kCamTransport1394) {
        CamConfig delivered;
        if (device->m_pOps->ReadConfig(device->m_pHandle, delivered))
            device->m_config = delivered;
    } else if (device->m_iTransport == kCamTransportUsb) {
        ReadDirectory(device);
    }
}

bool ConnectLocked(CamDevice* device)
{
    CamSetLastStatus(device, 0);
    device->m_pOps = CamGetTransportOps(device->m_iTransport);
    if (device->m_iTransport != kCamTransportTcp && device->m_pOps && !device->m_pHandle) {
        if (device->m_iTransport != kCamTransportFile || g_bFileDevicesEnabled.load())
            device->m_pHandle = device->m_pOps->Open(device->m_id);
    }
    device->m_iDeviceIndex = IndexOfName(device->m_name.c_str());
    if (!device->m_pHandle)
        return false;
    ReadConfigLocked(device);
    return true;
}

void CloseLocked(CamDevice* device)
{
    if (device->m_pHandle && device->m_pOps)
        device->m_pOps->Close(device->m_pHandle);
    device->m_pHandle = nullptr;
}

} // namespace

void CamSetTransportOps(int transport, CamTransportOps* ops)
{
    if (transport > kCamTransportNone && transport < kCamTransportCount)
        OpsTable()[transport].store(ops);
}

CamTransportOps* CamGetTransportOps(int transport)
{
    if (transport <= kCamTransportNone || transport >= kCamTransportCount)
        return nullptr;
    CamTransportOps* ops = OpsTable()[transport].load();
    return ops ? ops : BuiltInOps(transport);
}

void CamSetFileDevicesEnabled(bool enabled)
{
    g_bFileDevicesEnabled.store(enabled);
}

bool CamLinkInit()
{
    LinkState& link = Link();
    std::lock_guard lock(link.m_lock);
    if (!link.m_bInitialised) {
        link.m_pLastFound = nullptr;
        link.m_bInitialised = true;
    }
    return true;
}

bool CamLinkIsInitialised()
{
    LinkState& link = Link();
    std::lock_guard lock(link.m_lock);
    return link.m_bInitialised;
}

void CamLinkShutdown()
{
    // In-flight file calls finish before their records go.
    std::lock_guard calls(CallMutex());
    LinkState& link = Link();
    std::lock_guard lock(link.m_lock);
    if (!link.m_bInitialised)
        return;
    for (auto& device : link.m_devices) {
        std::lock_guard record(device->m_lock);
        CloseLocked(device.get());
        device->m_iRefCount = 0;
    }
    link.m_devices.clear();
    link.m_byName.clear();
    link.m_pLastFound = nullptr;
    for (int transport = kCamTransportNone + 1; transport < kCamTransportCount; ++transport) {
        if (CamTransportOps* ops = CamGetTransportOps(transport))
            ops->Unload();
    }
    link.m_bInitialised = false;
}

void CamLinkCallLock()
{
    CallMutex().lock();
}

void CamLinkCallUnlock()
{
    CallMutex().unlock();
}

int CamDevCount()
{
    CamLinkInit();
    return CountDevices();
}

bool CamDevNameAt(int index, std::string& name)
{
    return NameAt(index, name);
}

int CamIndexOfName(const char* name)
{
    return IndexOfName(name);
}

int CamTransportOfName(const char* name)
{
    if (!name)
        return kCamTransportNone;
    const char* at = std::strchr(name, '@');
    if (!at)
        return kCamTransportNone;
    const size_t length = static_cast<size_t>(at - name);
    if (length > static_cast<size_t>(kCamMaxTransportTextLength))
        return kCamTransportNone;
    for (int transport = kCamTransportNone + 1; transport < kCamTransportCount; ++transport) {
        if (std::strlen(kTransportTexts[transport]) == length &&
            std::strncmp(kTransportTexts[transport], name, length) == 0)
            return transport;
    }
    return kCamTransportNone;
}

CamDevice* CamDevFind(const char* name)
{
    // Longer names are refused, not cut: a cut name would reach another device.
    if (!name || !*name || std::strlen(name) > static_cast<size_t>(kCamMaxNameLength))
        return nullptr;
    CamLinkInit();
    LinkState& link = Link();
    std::lock_guard lock(link.m_lock);
    if (link.m_pLastFound && link.m_pLastFound->m_name == name)
        return link.m_pLastFound;
    CamDevice* device = nullptr;
    auto it = link.m_byName.find(name);
    device = it != link.m_byName.end() ? it->second : CreateLocked(link, name);
    link.m_pLastFound = device;
    return device;
}

CamDevice* CamDevCreate(const char* name)
{
    if (!name || !*name || std::strlen(name) > static_cast<size_t>(kCamMaxNameLength))
        return nullptr;
    CamLinkInit();
    LinkState& link = Link();
    std::lock_guard lock(link.m_lock);
    if (link.m_byName.count(name))
        return nullptr;
    return CreateLocked(link, name);
}

CamDevice* CamDevOpen(const char* name)
{
    CamDevice* device = CamDevFind(name);
    if (!device)
        return nullptr;
    device->m_lock.Take();
    if (device->m_bGone) {
        // This answer reports the loss; the next open tries afresh.
        device->m_bGone = false;
        device->m_lock.Release();
        return nullptr;
    }
    bool ok = false;
    if (device->m_pHandle) {
        // The probe may reconnect, which takes this lock.
        device->m_lock.Release();
        ok = CamIsConnected(device);
        device->m_lock.Take();
    } else {
        ok = ConnectLocked(device);
    }
    if (ok)
        ++device->m_iRefCount;
    device->m_lock.Release();
    return ok ? device : nullptr;
}

CamDevice* CamOpen(const char* name)
{
    CamLinkInit();
    if (name)
        return CamDevOpen(name);
    const int count = CountDevices();
    std::string candidate;
    for (int i = 0; i < count; ++i) {
        if (!NameAt(i, candidate))
            continue;
        if (CamDevice* device = CamDevOpen(candidate.c_str()))
            return device;
    }
    return nullptr;
}

bool CamDevRelease(CamDevice* device)
{
    if (!device)
        return false;
    std::lock_guard lock(device->m_lock);
    if (device->m_iRefCount <= 0)
        return false;
    --device->m_iRefCount;
    return true;
}

int CamOpenListCount()
{
    LinkState& link = Link();
    std::lock_guard lock(link.m_lock);
    int count = 0;
    for (auto& device : link.m_devices) {
        std::lock_guard record(device->m_lock);
        count += device->m_iRefCount > 0 ? 1 : 0;
    }
    return count;
}

bool CamDevConnect(CamDevice* device)
{
    if (!device)
        return false;
    std::lock_guard lock(device->m_lock);
    return ConnectLocked(device);
}

bool CamReconnect(CamDevice* device)
{
    if (!device)
        return false;
    std::lock_guard lock(device->m_lock);
    if (device->m_bGone)
        return false;
    if (device->m_pHandle && device->m_pOps && device->m_pOps->IsGone(device->m_pHandle))
        device->m_bGone = true;
    CloseLocked(device);
    if (device->m_bGone)
        return false;
    return ConnectLocked(device);
}

void CamDevClose(CamDevice* device)
{
    if (!device)
        return;
    std::lock_guard lock(device->m_lock);
    CloseLocked(device);
}

bool CamDevReadConfig(CamDevice* device)
{
    if (!device)
        return false;
    ReadConfigLocked(device);
    return device->m_config.m_words[kCamCfgRead] != 0;
}

void CamDefaultConfig(CamConfig& config)
{
    std::fill(std::begin(config.m_words), std::end(config.m_words), 0u);
    uint32_t* w = config.m_words;
    const uint32_t addresses[8] = {0xF0010000, 0xFFFF, 0xF0010000, 0xFFFF,
                                   0xF0010004, 0xFFFF, 0xF0010010, 0xFFFF};
    std::copy(addresses, addresses + 8, w);
    w[kCamCfgSwap] = 1;
    w[216] = w[217] = w[218] = w[219] = 128;
    w[kCamCfgValid] = 1;
}

bool CamHasCapability(CamDevice* device, uint32_t id)
{
    uint32_t unused = 0;
    return CamCapabilityWord(device, id, 0, unused);
}

bool CamCapabilityWord(CamDevice* device, uint32_t id, int word, uint32_t& value)
{
    if (!device || word < 0 || word > 3)
        return false;
    const uint32_t* w = device->m_config.m_words;
    if (w[kCamCfgValid] == 0)
        return false;
    const uint32_t count = std::min<uint32_t>(w[kCamCfgEntryCount], kCamMaxDirectoryEntries);
    for (uint32_t i = 0; i < count; ++i) {
        if (w[kCamCfgEntries + 4 * i] == id) {
            value = w[kCamCfgEntries + 4 * i + word];
            return true;
        }
    }
    return false;
}

bool CamCapabilityUsable(CamDevice* device, uint32_t id)
{
    if (id != kCamCapFastRead)
        return true;
    if (!device || device->m_iTransport != kCamTransport1394)
        return true;
    return !(device->m_pOps && device->m_pHandle && device->m_pOps->UsesNewerLayout(device->m_pHandle));
}

bool CamIsConnected(CamDevice* device)
{
    if (!device)
        return false;
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        {
            std::lock_guard lock(device->m_lock);
            if (device->m_bGone)
                return false;
        }
        char bytes[4] = {};
        if (CamReadRaw(device, kCamProbeOffset, kCamSpaceConfig, bytes, 4) &&
            std::memcmp(bytes, kCamProbeBytes, 4) == 0)
            return true;
        CamSetLastStatus(device, 0);
        if (attempt + 1 < kProbeAttempts) {
            CamSleep(kProbeRetrySleepMs);
            CamReconnect(device);
        }
    }
    return false;
}

void CamSetLastStatus(CamDevice* device, int status)
{
    if (!device)
        return;
    device->m_iLastStatus = status;
    device->m_dLastStatusTime = CamClockSeconds();
}

int CamReadRaw(CamDevice* device, uint32_t offset, uint32_t space, void* buffer, uint32_t count)
{
    if (!device)
        return 0;
    const bool ok = device->m_pHandle && device->m_pOps &&
                    device->m_pOps->Read(device->m_pHandle, offset, space, buffer, count);
    CamSetLastStatus(device, ok ? 1 : 0);
    return ok ? 1 : 0;
}

int CamWriteRaw(CamDevice* device, uint32_t offset, uint32_t space, const void* data, uint32_t count)
{
    if (!device)
        return 0;
    const bool ok = device->m_pHandle && device->m_pOps &&
                    device->m_pOps->Write(device->m_pHandle, offset, space, data, count);
    CamSetLastStatus(device, ok ? 1 : 0);
    return ok ? 1 : 0;
}

bool CamIsByteSwapped(const CamDevice* device)
{
    return device && device->m_config.m_words[kCamCfgValid] != 0 &&
           device->m_config.m_words[kCamCfgSwap] != 0;
}

void CamReverseWords(void* buffer, uint32_t count)
{
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i + 4 <= count; i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
}

int CamReadBlock(CamDevice* device, uint32_t offset, uint32_t space, void* buffer, uint32_t count)
{
    const int ok = CamReadRaw(device, offset, space, buffer, count);
    if (ok && CamIsByteSwapped(device))
        CamReverseWords(buffer, count);
    return ok;
}

int CamWriteBlock(CamDevice* device, uint32_t offset, uint32_t space, void* data, uint32_t count)
{
    const bool swapped = CamIsByteSwapped(device);
    if (swapped)
        CamReverseWords(data, count);
    const int ok = CamWriteRaw(device, offset, space, data, count);
    if (swapped)
        CamReverseWords(data, count);
    return ok;
}

int CamReadBlockFast(CamDevice* device, uint32_t offset, uint32_t space, void* buffer, uint32_t count)
{
    if (!device)
        return 0;
    if (count > 128 && device->m_iTransport == kCamTransport1394 &&
        CamHasCapability(device, kCamCapFastRead) && CamCapabilityUsable(device, kCamCapFastRead)) {
        const bool ok = device->m_pHandle && device->m_pOps &&
                        device->m_pOps->ReadFast(device->m_pHandle, offset, space, buffer, count);
        CamSetLastStatus(device, ok ? 1 : 0);
        return ok ? 1 : 0;
    }
    return CamReadRaw(device, offset, space, buffer, count);
}

int CamReadQuadlet(CamDevice* device, uint32_t offset, uint32_t space, uint32_t& value)
{
    uint8_t bytes[4];
    if (!CamReadRaw(device, offset, space, bytes, 4))
        return 0;
    const uint32_t word = LoadLE32(bytes);
    value = CamIsByteSwapped(device) ? __builtin_bswap32(word) : word;
    return 1;
}

int CamWriteQuadlet(CamDevice* device, uint32_t offset, uint32_t space, uint32_t value)
{
    uint8_t bytes[4];
    StoreLE32(bytes, CamIsByteSwapped(device) ? __builtin_bswap32(value) : value);
    return CamWriteRaw(device, offset, space, bytes, 4);
}

void CamAddressAdvance(uint32_t& offset, uint32_t& space, uint32_t count)
{
    const uint64_t next = static_cast<uint64_t>(offset) + count;
    offset = static_cast<uint32_t>(next);
    space = (space + static_cast<uint32_t>(next >> 32)) & 0xFFFF;
}

void CamLinkResetForTests()
{
    CamLinkShutdown();
    for (auto& entry : OpsTable())
        entry.store(nullptr);
    CamSetClockHooks({});
    CamSetOsVersionKnown(true);
    g_bFileDevicesEnabled.store(false);
}
