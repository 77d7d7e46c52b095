#include "CamUsbTransport.h"

#include "FDebugTrace.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace
{

constexpr uint8_t kAck[3] = {'V', 'I', '!'};

struct RequestShape {
    uint8_t m_request;
    uint8_t m_direction;
};

constexpr RequestShape kShapes[] = {
    {0, kUsbDirectionOut}, {4, kUsbDirectionOut}, {1, kUsbDirectionOut},
    {5, kUsbDirectionOut}, {8, kUsbDirectionIn},
};

bool InDataWindow(uint32_t offset, uint32_t space)
{
    return space == kCamSpaceFile && offset >= 0x10000000;
}

bool IsGoneStatus(uint32_t status)
{
    return status == kUsbAccessDenied || status == kUsbNotResponding;
}

// Closed when its last user lets go, so that a retired handle is never closed under a transfer.
struct Connection {
    Connection(UsbDriver* driver, UsbHandle handle, uint64_t generation)
        : m_pDriver(driver), m_handle(handle), m_iGeneration(generation)
    {
    }
    ~Connection() { m_pDriver->Close(m_handle); }
    UsbDriver* m_pDriver;
    UsbHandle m_handle;
    uint64_t m_iGeneration;
};

struct UsbRecord {
    std::mutex m_lock;
    std::shared_ptr<Connection> m_pConnection;
    uint32_t m_errorWord = 0;
    uint8_t m_data[0x4000 + 16];
    uint32_t m_transferLength = 0;
};

struct UsbState {
    std::mutex m_lock;
    UsbDriverFactory m_factory;
    std::unique_ptr<UsbDriver> m_pDriver;
    bool m_bTried = true;
    bool m_bLoaded = false;
    std::shared_ptr<Connection> m_pShared;
    uint64_t m_iGeneration = 0;
    double m_dReopenAt = -1;
    // When the wire began stalling every bulk transfer; -1 while transfers go through.
    double m_dStallingSince = -1;
};

UsbState& State()
{
    static UsbState state;
    return state;
}

void RetireShared(UsbState& s)
{
    s.m_pShared.reset();
}

void OpenShared(UsbState& s)
{
    const UsbHandle handle = s.m_pDriver->Open(0);
    if (handle != kUsbNoHandle)
        s.m_pShared = std::make_shared<Connection>(s.m_pDriver.get(), handle, ++s.m_iGeneration);
}

bool LoadLocked(UsbState& s)
{
    if (s.m_bLoaded)
        return true;
    if (!s.m_bTried)
        return false;
    if (!s.m_pDriver) {
        s.m_pDriver = s.m_factory ? s.m_factory() : CreateOsUsbDriver();
        if (!s.m_pDriver) {
            s.m_bTried = false;
            return false;
        }
    }
    if (!s.m_pDriver->RegisterEvents())
        return false;
    OpenShared(s);
    s.m_bLoaded = true;
    s.m_dStallingSince = -1;
    return true;
}

// Device notices are taken when devices are counted, so nothing sleeps on the thread that
// delivers them: an arrival only sets the time of the reopen.
void TakeEventsLocked(UsbState& s)
{
    std::vector<UsbDeviceEvent> events;
    s.m_pDriver->PollEvents(events);
    for (const UsbDeviceEvent& event : events) {
        RetireShared(s);
        s.m_dReopenAt = event.m_bArrived ? CamClockSeconds() + kUsbArrivalDelayMs / 1000.0 : -1;
    }
    if (!s.m_pShared && s.m_dReopenAt >= 0 && CamClockSeconds() >= s.m_dReopenAt) {
        s.m_dReopenAt = -1;
        OpenShared(s);
    }
}

class UsbTransport : public CamTransportOps
{
public:
    int Count() override
    {
        UsbState& s = State();
        std::lock_guard lock(s.m_lock);
        if (!LoadLocked(s))
            return 0;
        TakeEventsLocked(s);
        if (s.m_pShared)
            return 1;
        if (s.m_dReopenAt >= 0)
            return 0;
        OpenShared(s);
        return s.m_pShared ? 1 : 0;
    }

    bool IdAt(int index, std::string& id) override
    {
        UsbState& s = State();
        std::lock_guard lock(s.m_lock);
        if (!s.m_bLoaded || index < 0)
            return false;
        id = kUsbIdPrefix + std::to_string(index);
        return true;
    }

    void* Open(const std::string& id) override
    {
        int family = 0;
        int code = 0;
        if (!CamOsVersionCode(family, code))
            return nullptr;
        const size_t prefix = std::strlen(kUsbIdPrefix);
        if (id.compare(0, prefix, kUsbIdPrefix) != 0 || id.size() == prefix ||
            !std::all_of(id.begin() + prefix, id.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            id.size() - prefix > 4)
            return nullptr;
        // One USB camera is supported, as its shared handle is.
        if (std::stoi(id.substr(prefix)) != 0)
            return nullptr;
        UsbState& s = State();
        std::lock_guard lock(s.m_lock);
        if (!s.m_bLoaded)
            return nullptr;
        if (!s.m_pShared)
            OpenShared(s);
        if (!s.m_pShared)
            return nullptr;
        auto* record = new UsbRecord();
        record->m_pConnection = s.m_pShared;
        return record;
    }

    void Close(void* handle) override { delete static_cast<UsbRecord*>(handle); }

    bool IsGone(void* handle) override
    {
        auto* record = static_cast<UsbRecord*>(handle);
        std::lock_guard lock(record->m_lock);
        return record->m_errorWord != 0;
    }

    bool HasQuadletRead() override { return true; }

    bool ReadQuadlet(void* handle, uint32_t offset, uint32_t space, uint32_t& value) override
    {
        auto* record = static_cast<UsbRecord*>(handle);
        std::lock_guard lock(record->m_lock);
        for (int attempt = 0; attempt < kUsbAttempts && record->m_errorWord == 0; ++attempt) {
            uint8_t block[6];
            UsbAddressBlock(offset, space, block);
            uint8_t word[4] = {};
            if (Vendor(record, UsbRequestKind::ReadAddress, 0, block, 6) &&
                Vendor(record, UsbRequestKind::Quadlet, 4, word, 4)) {
                value = static_cast<uint32_t>(word[0]) | (static_cast<uint32_t>(word[1]) << 8) |
                        (static_cast<uint32_t>(word[2]) << 16) | (static_cast<uint32_t>(word[3]) << 24);
                return true;
            }
        }
        return false;
    }

    bool Read(void* handle, uint32_t offset, uint32_t space, void* buffer, uint32_t count) override
    {
        auto* record = static_cast<UsbRecord*>(handle);
        auto* out = static_cast<uint8_t*>(buffer);
        std::lock_guard lock(record->m_lock);
        while (count > 0) {
            const uint32_t chunk = UsbChunkSize(offset, space, count, true);
            bool ok = false;
            for (int attempt = 0; attempt < kUsbAttempts && record->m_errorWord == 0 && !ok; ++attempt)
                ok = ReadBlock(record, offset, space, chunk);
            if (!ok)
                return false;
            const uint32_t got = std::min(record->m_transferLength, chunk);
            std::memcpy(out, record->m_data, got);
            out += got;
            count -= got;
            CamAddressAdvance(offset, space, got);
        }
        return true;
    }

    bool Write(void* handle, uint32_t offset, uint32_t space, const void* data, uint32_t count) override
    {
        auto* record = static_cast<UsbRecord*>(handle);
        const auto* in = static_cast<const uint8_t*>(data);
        std::lock_guard lock(record->m_lock);
        while (count > 0) {
            const uint32_t chunk = UsbChunkSize(offset, space, count, false);
            bool ok = false;
            for (int attempt = 0; attempt < kUsbAttempts && record->m_errorWord == 0 && !ok; ++attempt) {
                std::memcpy(record->m_data, in, chunk);
                ok = WriteBlock(record, offset, space, chunk);
            }
            if (!ok)
                return false;
            in += chunk;
            count -= chunk;
            CamAddressAdvance(offset, space, chunk);
        }
        return true;
    }

    void Unload() override
    {
        UsbState& s = State();
        std::lock_guard lock(s.m_lock);
        if (!s.m_bLoaded)
            return;
        s.m_bLoaded = false;
        RetireShared(s);
        s.m_dReopenAt = -1;
        s.m_pDriver->UnregisterEvents();
    }

private:
    // A record may be used while its connection is still the shared one; any reopening retires it.
    bool CheckHandle(UsbRecord* record, UsbHandle& handle)
    {
        UsbState& s = State();
        std::lock_guard lock(s.m_lock);
        const bool current = s.m_bLoaded && record->m_errorWord == 0 && record->m_pConnection &&
                             s.m_pShared == record->m_pConnection;
        if (!current) {
            record->m_errorWord = kUsbNotResponding;
            return false;
        }
        handle = record->m_pConnection->m_handle;
        return true;
    }

    bool SetError(UsbRecord* record, uint32_t status)
    {
        if (IsGoneStatus(status)) {
            record->m_errorWord = status;
            UsbState& s = State();
            std::lock_guard lock(s.m_lock);
            if (s.m_pShared == record->m_pConnection)
                RetireShared(s);
            record->m_pConnection.reset();
        }
        return record->m_errorWord != 0;
    }

    bool Vendor(UsbRecord* record, UsbRequestKind kind, uint32_t length, uint8_t* data, uint32_t dataLength)
    {
        UsbHandle handle = kUsbNoHandle;
        if (!CheckHandle(record, handle))
            return false;
        const RequestShape shape = kShapes[static_cast<int>(kind)];
        const bool carriesLength =
            kind != UsbRequestKind::ReadAddress && kind != UsbRequestKind::WriteAddress;
        const uint16_t value = carriesLength ? static_cast<uint16_t>(length >> 16) : 0;
        const uint16_t index = carriesLength ? static_cast<uint16_t>(length & 0xFFFF) : 0;
        uint32_t count = 0;
        const uint32_t status =
            State().m_pDriver->Control(handle, kUsbVendorRequestType, shape.m_request, value, index,
                                       shape.m_direction, data, dataLength, count, kUsbControlTimeoutMs);
        if (status != kUsbOk) {
            SetError(record, status);
            return false;
        }
        // A quadlet must come whole.
        return kind != UsbRequestKind::Quadlet || count == 4;
    }

    // One bulk transfer, clearing a stalled pipe and trying again a bounded number of times.
    bool BulkWithStallRetry(UsbRecord* record, uint8_t pipe, uint8_t* data, uint32_t length, uint32_t& count)
    {
        for (int stalls = 0;; ++stalls) {
            UsbHandle handle = kUsbNoHandle;
            if (!CheckHandle(record, handle))
                return false;
            count = 0;
            const uint32_t status =
                State().m_pDriver->Bulk(handle, pipe, data, length, count, kUsbBulkTimeoutMs);
            count = std::min(count, length);
            if (status == kUsbOk) {
                priNoteStall(false);
                return true;
            }
            if (status != kUsbStall || stalls >= kUsbStallRetries) {
                SetError(record, status);
                return false;
            }
            // Retries bound each transfer; this bounds the whole operation, however many
            // transfers it makes, when none of them gets through.
            if (priNoteStall(true)) {
                DebugTrace("UsbTransport: every transfer stalled for %d ms; the camera is not answering.\n",
                           kUsbStallGiveUpMs);
                record->m_errorWord = kUsbTimeout;
                return false;
            }
            if (State().m_pDriver->ClearStall(handle, pipe) != kUsbOk)
                return false;
            CamSleep(kUsbStallSleepMs);
        }
    }

    // True once the wire has stalled, with nothing through, for longer than allowed.
    static bool priNoteStall(bool stalled)
    {
        UsbState& s = State();
        std::lock_guard lock(s.m_lock);
        if (!stalled) {
            s.m_dStallingSince = -1;
            return false;
        }
        const double now = CamClockSeconds();
        if (s.m_dStallingSince < 0)
            s.m_dStallingSince = now;
        return (now - s.m_dStallingSince) * 1000.0 >= kUsbStallGiveUpMs;
    }

    bool ReadBlock(UsbRecord* record, uint32_t offset, uint32_t space, uint32_t chunk)
    {
        uint8_t block[6];
        UsbAddressBlock(offset, space, block);
        if (!Vendor(record, UsbRequestKind::ReadAddress, 0, block, 6) ||
            !Vendor(record, UsbRequestKind::ReadLength, chunk, nullptr, 0))
            return false;
        if (offset >= 0x10000000 && chunk >= 0x80)
            return BulkInUnits(record, chunk);
        return BulkIn(record, offset, space, chunk);
    }

    bool BulkIn(UsbRecord* record, uint32_t offset, uint32_t space, uint32_t chunk)
    {
        uint32_t count = 0;
        // Exactly the chunk is asked for, so that a device that says more cannot overrun it.
        const uint32_t ask = std::max<uint32_t>(chunk, 3);
        if (!BulkWithStallRetry(record, kUsbPipeIn, record->m_data, ask, count))
            return false;
        bool acknowledged = false;
        if (count == 3 && std::memcmp(record->m_data, kAck, 3) == 0) {
            acknowledged = true;
            if (!BulkWithStallRetry(record, kUsbPipeIn, record->m_data, chunk, count))
                return false;
        }
        count = std::min(count, chunk);
        const bool reverse =
            acknowledged ? (offset < 0x10000000 || space == kCamSpaceConfig) : offset < 0x10000000;
        if (count == 4 && reverse)
            CamReverseWords(record->m_data, 4);
        record->m_transferLength = count;
        // Nothing received is a failed attempt, not a step of no length.
        return count > 0 && count % 4 == 0;
    }

    bool BulkInUnits(UsbRecord* record, uint32_t length)
    {
        const uint32_t unit = length >= 0x4000   ? 0x4000
                              : length >= 0x1000 ? 0x1000
                              : length >= 0x400  ? 0x400
                                                 : 0x80;
        const uint32_t units = length / unit;
        for (uint32_t i = 0; i < units; ++i) {
            uint8_t* place = record->m_data + i * unit;
            uint32_t count = 0;
            if (!BulkWithStallRetry(record, kUsbPipeIn, place, unit, count))
                return false;
            if (count == unit)
                continue;
            // An acknowledgement or a short reply: the unit comes again, and must come whole.
            if (!BulkWithStallRetry(record, kUsbPipeIn, place, unit, count) || count != unit)
                return false;
        }
        record->m_transferLength = units * unit;
        return units > 0;
    }

    bool WriteBlock(UsbRecord* record, uint32_t offset, uint32_t space, uint32_t chunk)
    {
        uint8_t block[6];
        UsbAddressBlock(offset, space, block);
        if (!Vendor(record, UsbRequestKind::WriteAddress, 0, block, 6) ||
            !Vendor(record, UsbRequestKind::WriteLength, chunk, nullptr, 0))
            return false;
        if (chunk == 4 && !InDataWindow(offset, space))
            CamReverseWords(record->m_data, 4);
        uint32_t count = 0;
        const bool ok =
            BulkWithStallRetry(record, kUsbPipeOut, record->m_data, chunk, count) && count == chunk;
        if (chunk == 4 && !InDataWindow(offset, space))
            CamReverseWords(record->m_data, 4); // the buffer is sent again on a retry
        return ok;
    }
};

} // namespace

void UsbSetDriverFactory(UsbDriverFactory factory)
{
    UsbState& s = State();
    std::lock_guard lock(s.m_lock);
    RetireShared(s);
    if (s.m_pDriver && s.m_bLoaded)
        s.m_pDriver->UnregisterEvents();
    s.m_pDriver.reset();
    s.m_factory = std::move(factory);
    s.m_bLoaded = false;
    s.m_bTried = true;
    s.m_dReopenAt = -1;
}

void UsbAddressBlock(uint32_t offset, uint32_t space, uint8_t block[6])
{
    block[0] = static_cast<uint8_t>(space);
    block[1] = static_cast<uint8_t>(space >> 8);
    block[2] = static_cast<uint8_t>(offset >> 16);
    block[3] = static_cast<uint8_t>(offset >> 24);
    block[4] = static_cast<uint8_t>(offset);
    block[5] = static_cast<uint8_t>(offset >> 8);
}

uint32_t UsbChunkSize(uint32_t offset, uint32_t space, uint32_t remaining, bool reading)
{
    const bool registers = space < kCamSpaceFile || (space == kCamSpaceFile && offset < 0x10000000);
    if (registers || !reading)
        return std::min(remaining, kUsbRegisterChunk);
    if (remaining >= 0x4000)
        return 0x4000;
    if (remaining >= 0x1000)
        return 0x1000;
    if (remaining >= 0x400)
        return 0x400;
    if (remaining > 0x80)
        return 0x80;
    return std::min(remaining, kUsbRegisterChunk);
}

uint8_t UsbWireRequestType(uint8_t requestType, uint8_t direction)
{
    return static_cast<uint8_t>(requestType | (direction == kUsbDirectionIn ? 0x80 : 0));
}

CamTransportOps& CamUsbTransportOps()
{
    static UsbTransport transport;
    return transport;
}

bool UsbIsLoaded()
{
    UsbState& s = State();
    std::lock_guard lock(s.m_lock);
    return s.m_bLoaded;
}

bool UsbIsTried()
{
    UsbState& s = State();
    std::lock_guard lock(s.m_lock);
    return s.m_bTried;
}

namespace
{

bool ParseHex16(const std::string& text, uint16_t& value)
{
    if (text.empty() || text.size() > 4)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        v = v * 16 + static_cast<uint32_t>(digit);
    }
    value = static_cast<uint16_t>(v);
    return true;
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

std::vector<UsbCameraId> ParseUsbCameraIds(const std::string& text)
{
    std::vector<UsbCameraId> ids;
    size_t start = 0;
    while (start <= text.size() && ids.size() < static_cast<size_t>(kUsbMaxCameraIds)) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t comment = line.find('#');
        if (comment != std::string::npos)
            line.erase(comment);
        line = Trimmed(line);
        if (line.empty())
            continue;
        std::vector<std::string> fields;
        for (size_t at = 0;;) {
            const size_t colon = line.find(':', at);
            fields.push_back(line.substr(at, colon == std::string::npos ? std::string::npos : colon - at));
            if (colon == std::string::npos)
                break;
            at = colon + 1;
        }
        UsbCameraId id;
        uint16_t interface = 0;
        if (fields.size() < 2 || fields.size() > 3 || !ParseHex16(fields[0], id.m_vendor) ||
            !ParseHex16(fields[1], id.m_product) ||
            (fields.size() == 3 && !ParseHex16(fields[2], interface)) || interface > 0xFF)
            continue;
        id.m_interface = static_cast<uint8_t>(interface);
        ids.push_back(id);
    }
    return ids;
}
