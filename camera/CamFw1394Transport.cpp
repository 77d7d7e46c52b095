#include "CamFw1394Transport.h"

#include "FByteOrder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace
{

struct FwState {
    std::mutex m_lock;
    Fw1394DriverFactory m_factory;
    std::unique_ptr<Fw1394Driver> m_pDriver;
    int m_iEntry = 1;
};

FwState& State()
{
    static FwState state;
    return state;
}

std::atomic<uint32_t> g_sequence{1};

Fw1394Driver* Driver()
{
    FwState& s = State();
    std::lock_guard lock(s.m_lock);
    if (!s.m_pDriver)
        s.m_pDriver = s.m_factory ? s.m_factory() : CreateOsFw1394Driver();
    return s.m_pDriver.get();
}

void Pause()
{
    static std::once_flag seeded;
    std::call_once(seeded, [] { CamRandomSeed(kFw1394RandomSeed); });
    CamSleep(static_cast<int>(CamRandomRange(1, 20)));
}

struct FwRecord {
    std::mutex m_lock;
    Fw1394Handle m_handle = kFw1394NoHandle;
    bool m_bNewer = false;
    std::vector<uint8_t> m_block;
    uint32_t m_lastStatus = 0;
    uint32_t m_lastSuccess = 1;
    uint32_t m_errorWord = 0;

    uint8_t* Data() { return m_block.data() + kFw1394HeaderBytes; }
    uint32_t Field(uint32_t at) const { return LoadLE32(m_block.data() + at); }
    void SetField(uint32_t at, uint32_t value) { StoreLE32(m_block.data() + at, value); }
};

// One request of the record's block. Answers success; the block's output length then holds
// the data bytes received (reads) and its input length the data bytes sent (writes).
bool Request(FwRecord& record)
{
    // A handle whose device vanished stays dead: the device layer opens a new one.
    if (record.m_errorWord != 0)
        return false;
    Fw1394Driver* driver = Driver();
    record.SetField(kFw1394FieldSuccess, 0);
    record.SetField(kFw1394FieldStatus, kFw1394StatusPreset);
    record.m_lastSuccess = 0;
    record.m_lastStatus = kFw1394StatusPreset;
    record.SetField(kFw1394FieldMagic, kFw1394Magic);
    record.SetField(kFw1394FieldSequence, g_sequence.fetch_add(1));
    const uint32_t code = record.Field(kFw1394FieldCode);
    uint32_t inLength = record.Field(kFw1394FieldInLength);
    uint32_t outLength = record.Field(kFw1394FieldOutLength);
    bool ok = false;
    uint32_t status = 0;
    uint32_t returned = 0;

    if (!record.m_bNewer) {
        ok = driver->Ioctl(record.m_handle, code, record.m_block.data(), kFw1394HeaderBytes + inLength,
                           kFw1394HeaderBytes + outLength, returned, status);
        if (!ok)
            record.SetField(kFw1394FieldStatus, status);
        ok = ok && record.Field(kFw1394FieldSuccess) != 0;
        const uint32_t received = returned > kFw1394HeaderBytes ? returned - kFw1394HeaderBytes : 0;
        record.SetField(kFw1394FieldOutLength, std::min(received, outLength));
    } else {
        uint32_t translated = code;
        if (code == kFw1394WriteBlock)
            translated = kFw1394WriteBlockNewer;
        else if (code != kFw1394ReadBlock && code != kFw1394ReadQuadlet && code != kFw1394Identify)
            translated = 0;
        if (translated == 0) {
            record.SetField(kFw1394FieldStatus, kFw1394StatusNoCode);
            record.m_lastStatus = kFw1394StatusNoCode;
            return false;
        }
        const uint32_t capacity = record.Field(kFw1394FieldCapacity);
        // Header, data and the trailing word must all fit the data area.
        const uint32_t dataLimit = capacity - kFw1394NewerHeaderBytes - 4;
        uint8_t* data = record.Data();
        uint8_t header[kFw1394NewerHeaderBytes] = {};
        StoreLE32(header + 4, record.Field(kFw1394FieldSpace));
        StoreLE32(header + 8, record.Field(kFw1394FieldOffset));
        StoreLE32(header + 16, 128);
        uint32_t ioIn = 0;
        uint32_t ioOut = 0;
        if (translated == kFw1394WriteBlockNewer) {
            inLength = std::min(inLength, dataLimit);
            StoreLE32(header + 12, inLength);
            std::memmove(data + kFw1394NewerHeaderBytes, data, inLength);
            std::memcpy(data, header, kFw1394NewerHeaderBytes);
            ioIn = inLength + kFw1394NewerHeaderBytes + 4;
            ioOut = kFw1394NewerHeaderBytes + 4;
        } else {
            outLength = std::min(outLength, dataLimit);
            StoreLE32(header + 12, outLength);
            std::memcpy(data, header, kFw1394NewerHeaderBytes);
            ioIn = outLength + kFw1394NewerHeaderBytes + 4;
            ioOut = ioIn;
        }
        ok = driver->Ioctl(record.m_handle, translated, data, ioIn, ioOut, returned, status);
        if (!ok) {
            record.SetField(kFw1394FieldStatus, status);
        } else if (translated == kFw1394WriteBlockNewer) {
            record.SetField(kFw1394FieldInLength, inLength);
        } else {
            uint32_t count = std::min(returned, ioOut);
            if (count >= kFw1394NewerHeaderBytes) {
                std::memmove(data, data + kFw1394NewerHeaderBytes, count - kFw1394NewerHeaderBytes);
                count -= kFw1394NewerHeaderBytes;
                if (count >= 4)
                    count -= 4;
            } else {
                count = 0;
            }
            record.SetField(kFw1394FieldOutLength, std::min(count, outLength));
        }
        if (ok) {
            record.SetField(kFw1394FieldStatus, 0);
            record.SetField(kFw1394FieldSuccess, 1);
        }
    }
    record.m_lastStatus = record.Field(kFw1394FieldStatus);
    record.m_lastSuccess = record.Field(kFw1394FieldSuccess);
    if (record.m_lastStatus == kFw1394StatusGone)
        record.m_errorWord = kFw1394StatusGone;
    return ok;
}

// Retries a failed request after a short random pause: busy answers do not count as
// attempts but are bounded in time; a vanished device ends at once.
bool RequestWithRetry(FwRecord& record, const std::function<void()>& fill)
{
    const double busyUntil = CamClockSeconds() + kFw1394MaxBusyMs / 1000.0;
    for (int attempts = 0; attempts < kFw1394Attempts;) {
        fill();
        if (Request(record))
            return true;
        if (record.m_errorWord != 0)
            return false;
        Pause();
        if (record.m_lastStatus == kFw1394StatusBusy) {
            if (CamClockSeconds() > busyUntil)
                return false;
            continue;
        }
        ++attempts;
    }
    return false;
}

void PrepareBlock(FwRecord& record)
{
    if (record.m_block.empty())
        record.m_block.assign(kFw1394HeaderBytes + kFw1394Capacity, 0);
}

void SetRequest(FwRecord& record, uint32_t code, uint32_t offset, uint32_t space, uint32_t in, uint32_t out)
{
    std::memset(record.m_block.data(), 0, kFw1394HeaderBytes);
    record.SetField(kFw1394FieldCode, code);
    record.SetField(kFw1394FieldOffset, offset);
    record.SetField(kFw1394FieldSpace, space);
    record.SetField(kFw1394FieldInLength, in);
    record.SetField(kFw1394FieldOutLength, out);
    record.SetField(kFw1394FieldCapacity, kFw1394Capacity);
}

bool ReadWith(FwRecord& record, uint32_t code, uint32_t offset, uint32_t space, uint8_t* out, uint32_t count)
{
    std::lock_guard lock(record.m_lock);
    PrepareBlock(record);
    while (count > 0) {
        const uint32_t chunk = std::min(count, kFw1394Capacity);
        if (!RequestWithRetry(record, [&] { SetRequest(record, code, offset, space, 0, chunk); }))
            return false;
        const uint32_t got = std::min(record.Field(kFw1394FieldOutLength), chunk);
        if (got == 0)
            return false; // nothing delivered would never end
        std::memcpy(out, record.Data(), got);
        out += got;
        count -= got;
        CamAddressAdvance(offset, space, got);
    }
    return true;
}

class Fw1394Transport : public CamTransportOps
{
public:
    int Count() override { return static_cast<int>(Ids().size()); }

    bool IdAt(int index, std::string& id) override
    {
        const std::vector<std::string> ids = Ids();
        if (index < 0 || index >= static_cast<int>(ids.size()))
            return false;
        id = ids[index];
        return true;
    }

    void* Open(const std::string& id) override
    {
        int family = 0;
        int code = 0;
        if (!CamOsVersionCode(family, code) || id.empty() || id.find('/') != std::string::npos)
            return nullptr;
        Fw1394Driver* driver = Driver();
        if (!driver)
            return nullptr;
        const Fw1394Handle handle = driver->Open(id);
        if (handle == kFw1394NoHandle)
            return nullptr;
        auto* record = new FwRecord();
        record->m_handle = handle;
        // Only the first descriptor entry's driver may be the newer one.
        if (EntryInUse() == 1)
            record->m_bNewer = Identify(*driver, handle);
        return record;
    }

    void Close(void* handle) override
    {
        auto* record = static_cast<FwRecord*>(handle);
        if (Fw1394Driver* driver = Driver())
            driver->Close(record->m_handle);
        delete record;
    }

    bool Read(void* handle, uint32_t offset, uint32_t space, void* buffer, uint32_t count) override
    {
        return ReadWith(*static_cast<FwRecord*>(handle), kFw1394ReadBlock, offset, space,
                        static_cast<uint8_t*>(buffer), count);
    }

    bool ReadFast(void* handle, uint32_t offset, uint32_t space, void* buffer, uint32_t count) override
    {
        return ReadWith(*static_cast<FwRecord*>(handle), kFw1394FastRead, offset, space,
                        static_cast<uint8_t*>(buffer), count);
    }

    bool Write(void* handle, uint32_t offset, uint32_t space, const void* data, uint32_t count) override
    {
        auto& record = *static_cast<FwRecord*>(handle);
        const auto* in = static_cast<const uint8_t*>(data);
        std::lock_guard lock(record.m_lock);
        PrepareBlock(record);
        while (count > 0) {
            const uint32_t chunk = std::min(count, kFw1394Capacity);
            const bool ok = RequestWithRetry(record, [&] {
                SetRequest(record, kFw1394WriteBlock, offset, space, chunk, 0);
                std::memcpy(record.Data(), in, chunk);
            });
            if (!ok)
                return false;
            // On by the data bytes actually sent, which the newer layout may have cut.
            const uint32_t sent = std::min(record.Field(kFw1394FieldInLength), chunk);
            if (sent == 0)
                return false;
            in += sent;
            count -= sent;
            CamAddressAdvance(offset, space, sent);
        }
        return true;
    }

    bool ReadConfig(void* handle, CamConfig& config) override
    {
        auto& record = *static_cast<FwRecord*>(handle);
        std::lock_guard lock(record.m_lock);
        PrepareBlock(record);
        if (!RequestWithRetry(record,
                              [&] { SetRequest(record, kFw1394ReadConfig, 0, 0, 0, kFw1394ConfigBytes); }))
            return false;
        // A short block would leave words of the configuration unset.
        if (record.Field(kFw1394FieldOutLength) < kFw1394ConfigBytes)
            return false;
        for (int i = 0; i < kCamConfigWords; ++i)
            config.m_words[i] = LoadLE32(record.Data() + 4 * i);
        return true;
    }

    bool UsesNewerLayout(void* handle) override { return static_cast<FwRecord*>(handle)->m_bNewer; }

    bool IsGone(void* handle) override
    {
        auto& record = *static_cast<FwRecord*>(handle);
        std::lock_guard lock(record.m_lock);
        return record.m_errorWord != 0;
    }

private:
    std::vector<std::string> Ids()
    {
        Fw1394Driver* driver = Driver();
        if (!driver)
            return {};
        std::vector<std::string> ids = driver->Enumerate(1);
        int entry = 1;
        if (ids.empty()) {
            ids = driver->Enumerate(2);
            entry = 2;
        }
        // Ids become the first part of camera URLs.
        ids.erase(std::remove_if(
                      ids.begin(), ids.end(),
                      [](const std::string& id) { return id.empty() || id.find('/') != std::string::npos; }),
                  ids.end());
        FwState& s = State();
        std::lock_guard lock(s.m_lock);
        s.m_iEntry = entry;
        return ids;
    }

    int EntryInUse()
    {
        FwState& s = State();
        std::lock_guard lock(s.m_lock);
        return s.m_iEntry;
    }

    static bool Identify(Fw1394Driver& driver, Fw1394Handle handle)
    {
        uint8_t reply[16] = {};
        uint32_t returned = 0;
        uint32_t status = 0;
        return driver.Ioctl(handle, kFw1394Identify, reply, 16, 16, returned, status) && returned >= 7 &&
               std::memcmp(reply, "BRI1394", 7) == 0;
    }
};

} // namespace

void Fw1394SetDriverFactory(Fw1394DriverFactory factory)
{
    FwState& s = State();
    std::lock_guard lock(s.m_lock);
    s.m_pDriver.reset();
    s.m_factory = std::move(factory);
    s.m_iEntry = 1;
}

CamTransportOps& CamFw1394TransportOps()
{
    static Fw1394Transport transport;
    return transport;
}

uint32_t Fw1394NextSequence()
{
    return g_sequence.load();
}
