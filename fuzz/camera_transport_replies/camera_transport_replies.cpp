// The USB and 1394 transports under a driver whose every answer comes from the
// input: statuses, byte counts, reply bytes, identify replies and request blocks.
// Nothing is read or written past a buffer, nothing hangs, reads stay in bounds.
#include "CamDevice.h"
#include "CamFw1394Transport.h"
#include "CamProtocol.h"
#include "CamUsbTransport.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

struct Input {
    const uint8_t* m_pData;
    size_t m_iSize;
    size_t m_iAt = 0;
    uint8_t Byte() { return m_iAt < m_iSize ? m_pData[m_iAt++] : 0xFF; }
    uint32_t Word()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | Byte();
        return v;
    }
    bool Done() const { return m_iAt >= m_iSize; }
    void Fill(uint8_t* out, uint32_t n)
    {
        for (uint32_t i = 0; i < n; ++i)
            out[i] = Byte();
    }
};

// Statuses drawn from a small set, so that the interesting ones come up often.
uint32_t UsbStatus(Input& in)
{
    static const uint32_t statuses[] = {kUsbOk,      kUsbOk, kUsbOk, kUsbStall, kUsbNotResponding,
                                        kUsbTimeout, 0x1234};
    return in.Done() ? kUsbNotResponding : statuses[in.Byte() % 7];
}

class FuzzUsb : public UsbDriver
{
public:
    explicit FuzzUsb(Input& in) : m_in(in) {}
    bool RegisterEvents() override { return true; }
    void UnregisterEvents() override {}
    UsbHandle Open(int) override { return m_in.Done() ? kUsbNoHandle : 1; }
    void Close(UsbHandle) override {}
    uint32_t Control(UsbHandle, uint8_t, uint8_t, uint16_t, uint16_t, uint8_t direction, uint8_t* data,
                     uint32_t length, uint32_t& count, int) override
    {
        const uint32_t status = UsbStatus(m_in);
        count = std::min<uint32_t>(m_in.Byte() % 8, length);
        if (direction == kUsbDirectionIn && data)
            m_in.Fill(data, count);
        return status;
    }
    uint32_t Bulk(UsbHandle, uint8_t pipe, uint8_t* data, uint32_t length, uint32_t& count, int) override
    {
        const uint32_t status = UsbStatus(m_in);
        // Sometimes a count larger than asked: the transport must cut it.
        const uint32_t claimed = m_in.Byte() % 3 == 0
                                     ? length + m_in.Byte()
                                     : std::min<uint32_t>(m_in.Word() % (length + 1), length);
        if (pipe == kUsbPipeIn)
            m_in.Fill(data, std::min(claimed, length));
        count = claimed;
        return status;
    }
    uint32_t ClearStall(UsbHandle, uint8_t) override { return m_in.Byte() & 1 ? kUsbOk : kUsbStall; }
    void PollEvents(std::vector<UsbDeviceEvent>&) override {}

private:
    Input& m_in;
};

class FuzzFw : public Fw1394Driver
{
public:
    explicit FuzzFw(Input& in) : m_in(in) {}
    std::vector<std::string> Enumerate(int entry) override
    {
        if (entry == 1 && (m_in.Byte() & 1))
            return {"fw1"};
        return {"fw2"};
    }
    Fw1394Handle Open(const std::string&) override { return m_in.Done() ? kFw1394NoHandle : 3; }
    void Close(Fw1394Handle) override {}
    bool Ioctl(Fw1394Handle, uint32_t, uint8_t* buffer, uint32_t inLength, uint32_t outLength,
               uint32_t& returned, uint32_t& status) override
    {
        static const uint32_t statuses[] = {0, 0, kFw1394StatusBusy, kFw1394StatusNoCode, kFw1394StatusGone};
        status = m_in.Done() ? kFw1394StatusGone : statuses[m_in.Byte() % 5];
        returned = m_in.Word() % (outLength + 64);
        m_in.Fill(buffer, std::min(outLength, std::max(inLength, returned)) & 0x3FF);
        return status == 0;
    }

private:
    Input& m_in;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const bool once = [] {
        CamSetClockHooks({[] { return 0.0; }, [](int) {}});
        return true;
    }();
    (void)once;
    Input in{data + 1, size - 1};
    const bool usb = (data[0] & 1) == 0;
    if (usb)
        UsbSetDriverFactory([&in] { return std::make_unique<FuzzUsb>(in); });
    else
        Fw1394SetDriverFactory([&in] { return std::make_unique<FuzzFw>(in); });
    CamDevCount();
    CamDevice* device = CamOpen(usb ? "USB@camera0" : "1394@fw1");
    if (!device && !usb)
        device = CamOpen("1394@fw2");
    if (device) {
        uint8_t buffer[700];
        uint32_t got = 0;
        if (CamProtoRead(device, "/cf/images/IMG_0001.q7f", 3, buffer, 600, &got) && got > 600)
            abort();
        CamReadRaw(device, 0x10000000, kCamSpaceFile, buffer, 700);
        CamProtoWrite(device, "/dev/Time", 0, "abcd", 4);
        CamDevRelease(device);
    }
    CamLinkShutdown();
    if (usb)
        UsbSetDriverFactory({});
    else
        Fw1394SetDriverFactory({});
    return 0;
}
