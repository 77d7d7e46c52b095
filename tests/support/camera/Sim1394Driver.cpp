#include "Sim1394Driver.h"

#include "FByteOrder.h"

#include <cstring>

void Sim1394Driver::Install()
{
    Fw1394SetDriverFactory([this]() -> std::unique_ptr<Fw1394Driver> {
        struct Forward : Fw1394Driver {
            explicit Forward(Sim1394Driver& d) : m_d(d) {}
            std::vector<std::string> Enumerate(int entry) override { return m_d.Enumerate(entry); }
            Fw1394Handle Open(const std::string& id) override { return m_d.Open(id); }
            void Close(Fw1394Handle handle) override { m_d.Close(handle); }
            bool Ioctl(Fw1394Handle h, uint32_t code, uint8_t* buffer, uint32_t in, uint32_t out,
                       uint32_t& returned, uint32_t& status) override
            {
                return m_d.Ioctl(h, code, buffer, in, out, returned, status);
            }
            Sim1394Driver& m_d;
        };
        return std::make_unique<Forward>(*this);
    });
}

std::vector<Sim1394Driver::RequestRecord> Sim1394Driver::Requests() const
{
    std::lock_guard lock(m_lock);
    return m_requests;
}

void Sim1394Driver::ClearLog()
{
    std::lock_guard lock(m_lock);
    m_requests.clear();
}

uint32_t Sim1394Driver::priInjectedFault()
{
    if (m_iBusy > 0) {
        --m_iBusy;
        return kFw1394StatusBusy;
    }
    if (m_iFailures > 0) {
        --m_iFailures;
        return kFw1394StatusNoCode;
    }
    return 0;
}

std::vector<std::string> Sim1394Driver::Enumerate(int entry)
{
    if (entry != m_iEntry || m_camera.Count() == 0)
        return {};
    return {"fw1"};
}

Fw1394Handle Sim1394Driver::Open(const std::string& id)
{
    return id == "fw1" && m_camera.Count() ? 7 : kFw1394NoHandle;
}

bool Sim1394Driver::Ioctl(Fw1394Handle, uint32_t code, uint8_t* buffer, uint32_t inLength, uint32_t outLength,
                          uint32_t& returned, uint32_t& status)
{
    std::lock_guard lock(m_lock);
    returned = 0;
    status = 0;
    if (code == kFw1394Identify) {
        std::memset(buffer, 0, 16);
        std::memcpy(buffer, m_bNewer ? "BRI1394" : "B1394", m_bNewer ? 7 : 5);
        returned = 16;
        return true;
    }
    if (m_camera.IsGone(nullptr)) {
        status = kFw1394StatusGone;
        return false;
    }
    auto fail = [&](uint32_t why) {
        status = why;
        if (!m_bNewer) {
            StoreLE32(buffer + kFw1394FieldStatus, why);
            StoreLE32(buffer + kFw1394FieldSuccess, 0);
        }
        return false;
    };
    if (!m_bNewer) {
        const uint32_t wanted = LoadLE32(buffer + kFw1394FieldOutLength);
        const uint32_t given = LoadLE32(buffer + kFw1394FieldInLength);
        m_requests.push_back({code, LoadLE32(buffer + kFw1394FieldSequence), inLength, outLength,
                              code == kFw1394WriteBlock ? given : wanted});
        if (LoadLE32(buffer + kFw1394FieldMagic) != kFw1394Magic ||
            LoadLE32(buffer + kFw1394FieldStatus) != kFw1394StatusPreset)
            return fail(kFw1394StatusNoCode);
        if (const uint32_t injected = priInjectedFault())
            return fail(injected);
        const uint32_t offset = LoadLE32(buffer + kFw1394FieldOffset);
        const uint32_t space = LoadLE32(buffer + kFw1394FieldSpace);
        uint8_t* data = buffer + kFw1394HeaderBytes;
        uint32_t delivered = 0;
        bool ok = false;
        if (code == kFw1394ReadBlock || code == kFw1394FastRead) {
            ok = wanted + kFw1394HeaderBytes <= outLength &&
                 m_camera.Read(nullptr, offset, space, data, wanted);
            delivered = wanted;
        } else if (code == kFw1394WriteBlock) {
            ok =
                given + kFw1394HeaderBytes <= inLength && m_camera.Write(nullptr, offset, space, data, given);
        } else if (code == kFw1394ReadConfig) {
            CamConfig config;
            ok = m_camera.ReadConfig(nullptr, config);
            delivered = m_bShortConfig ? 100 : kFw1394ConfigBytes;
            for (int i = 0; ok && i < kCamConfigWords; ++i)
                StoreLE32(data + 4 * i, config.m_words[i]);
        }
        if (!ok)
            return fail(kFw1394StatusNoCode);
        StoreLE32(buffer + kFw1394FieldStatus, 0);
        StoreLE32(buffer + kFw1394FieldSuccess, 1);
        returned = kFw1394HeaderBytes + delivered;
        return true;
    }
    // Newer layout: the data area starts with a 28-byte header, and a trailing word follows the data.
    if (code != kFw1394ReadBlock && code != kFw1394WriteBlockNewer)
        return fail(kFw1394StatusNoCode);
    const uint32_t space = LoadLE32(buffer + 4);
    const uint32_t offset = LoadLE32(buffer + 8);
    const uint32_t length = LoadLE32(buffer + 12);
    m_requests.push_back({code, 0, inLength, outLength, length});
    // The data area is the capacity: anything past it would be outside the request block.
    if (inLength > kFw1394Capacity || outLength > kFw1394Capacity ||
        length + kFw1394NewerHeaderBytes + 4 > kFw1394Capacity)
        return fail(kFw1394StatusNoCode);
    if (const uint32_t injected = priInjectedFault())
        return fail(injected);
    uint8_t* data = buffer + kFw1394NewerHeaderBytes;
    if (code == kFw1394ReadBlock) {
        if (!m_camera.Read(nullptr, offset, space, data, length))
            return fail(kFw1394StatusNoCode);
        std::memset(data + length, 0, 4);
        returned = kFw1394NewerHeaderBytes + length + 4;
        return true;
    }
    if (inLength != length + kFw1394NewerHeaderBytes + 4 ||
        !m_camera.Write(nullptr, offset, space, data, length))
        return fail(kFw1394StatusNoCode);
    returned = kFw1394NewerHeaderBytes + 4;
    return true;
}
