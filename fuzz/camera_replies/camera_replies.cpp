// Every byte a camera answers comes from the input: the capability directory,
// status words, sizes, the data window and the console. No read past a buffer,
// no hang, and a read never claims more than was asked.
#include "CamDevice.h"
#include "CamProtocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

class ReplyTransport : public CamTransportOps
{
public:
    ReplyTransport(const uint8_t* data, size_t size) : m_pData(data), m_iSize(size) {}
    int Count() override { return 1; }
    bool IdAt(int, std::string& id) override
    {
        id = "fuzz";
        return true;
    }
    void* Open(const std::string&) override { return this; }
    void Close(void*) override {}
    bool Read(void*, uint32_t offset, uint32_t space, void* buffer, uint32_t count) override
    {
        // The probe always answers, so that the rest of the input reaches the protocol.
        if (space == kCamSpaceConfig && offset == kCamProbeOffset && count == 4) {
            std::memcpy(buffer, kCamProbeBytes, 4);
            return true;
        }
        if (m_iAt + count > m_iSize)
            return false;
        std::memcpy(buffer, m_pData + m_iAt, count);
        m_iAt += count;
        return true;
    }
    bool Write(void*, uint32_t, uint32_t, const void*, uint32_t) override { return m_iAt < m_iSize; }
    bool ReadConfig(void*, CamConfig& config) override
    {
        if (m_iAt + sizeof config.m_words > m_iSize)
            return false;
        for (int i = 0; i < kCamConfigWords; ++i)
            std::memcpy(&config.m_words[i], m_pData + m_iAt + 4 * i, 4);
        m_iAt += sizeof config.m_words;
        return true;
    }

private:
    const uint8_t* m_pData;
    size_t m_iSize;
    size_t m_iAt = 0;
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
    const int transport = (data[0] & 1) ? kCamTransport1394 : kCamTransportUsb;
    ReplyTransport replies(data + 1, size - 1);
    CamSetTransportOps(transport, &replies);
    CamDevice* device = CamOpen(transport == kCamTransport1394 ? "1394@fuzz" : "USB@fuzz");
    if (device) {
        if (device->m_config.m_words[kCamCfgEntryCount] > static_cast<uint32_t>(kCamMaxDirectoryEntries) &&
            device->m_iTransport == kCamTransportUsb)
            abort();
        uint8_t buffer[300];
        uint32_t got = 0;
        uint32_t sizeWord = 0;
        uint32_t time = 0;
        uint32_t attributes = 0;
        uint32_t status = 0;
        CamProtoStat(device, "/cf/images/IMG_0001.q7f", &sizeWord, &time, &attributes, &status);
        if (CamProtoRead(device, "/cf/images/IMG_0001.q7f", 5, buffer, 250, &got) && got > 250)
            abort();
        CamProtoWrite(device, "/dev/Time", 2, "abcdef", 6);
        CamProtoDelete(device, "/cf/images/IMG_0001.q7f");
        if (CamConsoleRead(device, buffer, 200, &got) && got > 127)
            abort();
        CamDevRelease(device);
    }
    CamLinkShutdown();
    CamSetTransportOps(transport, nullptr);
    return 0;
}
