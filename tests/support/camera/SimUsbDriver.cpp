#include "SimUsbDriver.h"

#include <algorithm>
#include <cstring>

namespace
{

const std::vector<uint8_t> kAck = {'V', 'I', '!'};

} // namespace

void SimUsbDriver::Install()
{
    UsbSetDriverFactory([this]() -> std::unique_ptr<UsbDriver> {
        // The transport owns what it is given: hand it a forwarder to this driver.
        struct Forward : UsbDriver {
            explicit Forward(SimUsbDriver& d) : m_d(d) {}
            bool RegisterEvents() override { return m_d.RegisterEvents(); }
            void UnregisterEvents() override {}
            UsbHandle Open(int index) override { return m_d.Open(index); }
            void Close(UsbHandle handle) override { m_d.Close(handle); }
            uint32_t Control(UsbHandle h, uint8_t t, uint8_t r, uint16_t v, uint16_t i, uint8_t dir,
                             uint8_t* data, uint32_t length, uint32_t& count, int ms) override
            {
                return m_d.Control(h, t, r, v, i, dir, data, length, count, ms);
            }
            uint32_t Bulk(UsbHandle h, uint8_t pipe, uint8_t* data, uint32_t length, uint32_t& count,
                          int ms) override
            {
                return m_d.Bulk(h, pipe, data, length, count, ms);
            }
            uint32_t ClearStall(UsbHandle h, uint8_t pipe) override { return m_d.ClearStall(h, pipe); }
            void PollEvents(std::vector<UsbDeviceEvent>& events) override { m_d.PollEvents(events); }
            SimUsbDriver& m_d;
        };
        return std::make_unique<Forward>(*this);
    });
}

std::vector<SimUsbDriver::ControlRecord> SimUsbDriver::Controls() const
{
    std::lock_guard lock(m_lock);
    return m_controls;
}

std::vector<uint32_t> SimUsbDriver::BulkInLengths() const
{
    std::lock_guard lock(m_lock);
    return m_bulkIn;
}

std::vector<uint32_t> SimUsbDriver::BulkOutLengths() const
{
    std::lock_guard lock(m_lock);
    return m_bulkOut;
}

int SimUsbDriver::ClearStalls() const
{
    std::lock_guard lock(m_lock);
    return m_iClears;
}

std::set<UsbHandle> SimUsbDriver::ClosedHandles() const
{
    std::lock_guard lock(m_lock);
    return m_closed;
}

int SimUsbDriver::OpenCount() const
{
    std::lock_guard lock(m_lock);
    return m_iOpens;
}

void SimUsbDriver::ClearLog()
{
    std::lock_guard lock(m_lock);
    m_controls.clear();
    m_bulkIn.clear();
    m_bulkOut.clear();
    m_iClears = 0;
}

void SimUsbDriver::Notify(bool arrived)
{
    std::lock_guard lock(m_lock);
    UsbDeviceEvent event;
    event.m_bArrived = arrived;
    m_events.push_back(event);
}

bool SimUsbDriver::RegisterEvents()
{
    std::lock_guard lock(m_lock);
    return !m_bRegisterFails;
}

UsbHandle SimUsbDriver::Open(int index)
{
    std::lock_guard lock(m_lock);
    if (index != 0 || m_camera.Count() == 0)
        return kUsbNoHandle;
    ++m_iOpens;
    const UsbHandle handle = m_iNextHandle++;
    m_open.insert(handle);
    return handle;
}

void SimUsbDriver::Close(UsbHandle handle)
{
    std::lock_guard lock(m_lock);
    m_open.erase(handle);
    m_closed.insert(handle);
}

bool SimUsbDriver::priLive(UsbHandle handle) const
{
    return m_open.count(handle) && !m_camera.IsGone(nullptr);
}

void SimUsbDriver::PollEvents(std::vector<UsbDeviceEvent>& events)
{
    std::lock_guard lock(m_lock);
    events.insert(events.end(), m_events.begin(), m_events.end());
    m_events.clear();
}

uint32_t SimUsbDriver::Control(UsbHandle handle, uint8_t requestType, uint8_t request, uint16_t value,
                               uint16_t index, uint8_t direction, uint8_t* data, uint32_t length,
                               uint32_t& count, int)
{
    std::lock_guard lock(m_lock);
    count = 0;
    ControlRecord record{requestType, request, value, index, direction, {}};
    if (data && direction == kUsbDirectionOut)
        record.m_data.assign(data, data + length);
    m_controls.push_back(record);
    if (!priLive(handle))
        return kUsbNotResponding;
    const uint32_t announced = (static_cast<uint32_t>(value) << 16) | index;
    switch (request) {
    case 0:
    case 1:
        if (length != 6)
            return kUsbFailed;
        m_space = data[0] | (data[1] << 8);
        m_offset = (static_cast<uint32_t>(data[3]) << 24) | (static_cast<uint32_t>(data[2]) << 16) |
                   (static_cast<uint32_t>(data[5]) << 8) | data[4];
        count = 6;
        return kUsbOk;
    case 4: {
        std::vector<uint8_t> bytes(announced);
        m_replies.clear();
        if (!m_camera.Read(nullptr, m_offset, m_space, bytes.data(), announced))
            return kUsbFailed;
        m_bUnitRead = m_offset >= 0x10000000 && announced >= 0x80;
        if (m_bUnitRead) {
            const uint32_t unit = announced;
            for (uint32_t at = 0; at < announced; at += unit) {
                if (m_bAcknowledgeUnits)
                    m_replies.push_back(kAck);
                m_replies.emplace_back(bytes.begin() + at, bytes.begin() + at + unit);
            }
            return kUsbOk;
        }
        // Mirror the reversal the host applies to a 4-byte reply.
        const bool reverse =
            m_bAcknowledge ? (m_offset < 0x10000000 || m_space == kCamSpaceConfig) : m_offset < 0x10000000;
        if (announced == 4 && reverse)
            std::reverse(bytes.begin(), bytes.end());
        if (m_bAcknowledge)
            m_replies.push_back(kAck);
        m_replies.push_back(bytes);
        return kUsbOk;
    }
    case 5:
        m_writeLength = announced;
        return kUsbOk;
    case 8:
        if (direction != kUsbDirectionIn || length != 4 ||
            !m_camera.Read(nullptr, m_offset, m_space, data, 4))
            return kUsbFailed;
        count = 4;
        return kUsbOk;
    default:
        return kUsbFailed;
    }
}

uint32_t SimUsbDriver::Bulk(UsbHandle handle, uint8_t pipe, uint8_t* data, uint32_t length, uint32_t& count,
                            int)
{
    std::lock_guard lock(m_lock);
    count = 0;
    (pipe == kUsbPipeIn ? m_bulkIn : m_bulkOut).push_back(length);
    if (!priLive(handle))
        return kUsbNotResponding;
    if (m_iStalls > 0) {
        --m_iStalls;
        return kUsbStall;
    }
    if (m_iTimeouts > 0) {
        --m_iTimeouts;
        return kUsbTimeout;
    }
    if (m_iGarbageStatus > 0) {
        --m_iGarbageStatus;
        return 0x12345678;
    }
    if (pipe == kUsbPipeOut) {
        if (length != m_writeLength)
            return kUsbFailed;
        std::vector<uint8_t> bytes(data, data + length);
        if (length == 4 && !(m_space == kCamSpaceFile && m_offset >= 0x10000000))
            std::reverse(bytes.begin(), bytes.end());
        if (!m_camera.Write(nullptr, m_offset, m_space, bytes.data(), length))
            return kUsbFailed;
        count = length;
        return kUsbOk;
    }
    if (m_iEmptyReplies > 0) {
        --m_iEmptyReplies;
        return kUsbOk;
    }
    if (m_replies.empty())
        return kUsbTimeout;
    std::vector<uint8_t> reply = m_replies.front();
    m_replies.pop_front();
    if (m_bUnitRead && m_iShortSecondUnit > 0 && reply != kAck && reply.size() > 1) {
        // This unit comes in two short halves.
        --m_iShortSecondUnit;
        m_replies.push_front(std::vector<uint8_t>(reply.begin() + reply.size() / 2, reply.end()));
        reply.resize(reply.size() / 2);
    }
    const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(reply.size()));
    std::memcpy(data, reply.data(), n);
    count = m_bClaimExtraBytes ? length + 64 : n;
    return kUsbOk;
}

uint32_t SimUsbDriver::ClearStall(UsbHandle handle, uint8_t)
{
    std::lock_guard lock(m_lock);
    ++m_iClears;
    if (!priLive(handle))
        return kUsbNotResponding;
    return m_bClearStallFails ? kUsbFailed : kUsbOk;
}
