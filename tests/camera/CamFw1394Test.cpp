#include "CamEndToEnd.h"
#include "CamFileApi.h"
#include "CamFw1394Transport.h"
#include "CamProtocol.h"
#include "CamTestSupport.h"
#include "Sim1394Driver.h"

#include <algorithm>

namespace
{

using Bytes = SimCamera::Bytes;

SimCamera::Options WithFastRead()
{
    SimCamera::Options options;
    options.m_bFastRead = true;
    return options;
}

// A simulated camera behind a simulated 1394 driver of either layout.
class Fw1394Test : public CamLinkTest, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        CamLinkTest::SetUp();
        m_pClock = std::make_unique<VirtualClock>();
        m_driver.Install();
    }
    void TearDown() override
    {
        if (m_pDevice)
            CamDevRelease(m_pDevice);
        CamLinkShutdown();
        Fw1394SetDriverFactory({});
        m_pClock.reset();
        CamLinkTest::TearDown();
    }
    void OpenCamera()
    {
        m_pDevice = CamOpen("1394@fw1");
        ASSERT_NE(m_pDevice, nullptr);
    }
    std::vector<uint32_t> DataLengths(uint32_t code) const
    {
        std::vector<uint32_t> lengths;
        for (const auto& r : m_driver.Requests()) {
            if (r.m_code == code)
                lengths.push_back(r.m_dataLength);
        }
        return lengths;
    }
    bool Newer() const { return GetParam(); }

    std::unique_ptr<VirtualClock> m_pClock;
    SimCamera m_camera{WithFastRead()};
    Sim1394Driver m_driver{m_camera, GetParam()};
    CamDevice* m_pDevice = nullptr;
};

TEST_P(Fw1394Test, InterfacesOfTheSecondEntryAreTheFallback)
{
    EXPECT_EQ(CamDevCount(), 1);
    m_driver.m_iEntry = 2;
    EXPECT_EQ(CamDevCount(), 1);
    std::string name;
    ASSERT_TRUE(CamDevNameAt(0, name));
    EXPECT_EQ(name, "1394@fw1");
    OpenCamera();
    EXPECT_FALSE(CamFw1394TransportOps().UsesNewerLayout(m_pDevice->m_pHandle))
        << "only the first entry's driver is asked which layout it takes";
    CamDevRelease(m_pDevice);
    m_pDevice = nullptr;
    m_driver.m_iEntry = 3;
    EXPECT_EQ(CamDevCount(), 0);
}

TEST_P(Fw1394Test, IdentifyDecidesLayoutAndConfiguration)
{
    OpenCamera();
    EXPECT_EQ(CamFw1394TransportOps().UsesNewerLayout(m_pDevice->m_pHandle), Newer());
    // The newer driver has no configuration request: the defaults stay.
    EXPECT_EQ(CamHasCapability(m_pDevice, kCamCapFileService), !Newer());
    EXPECT_EQ(CamCapabilityUsable(m_pDevice, kCamCapFastRead), !Newer());
    if (!Newer()) {
        EXPECT_EQ(DataLengths(kFw1394ReadConfig), std::vector<uint32_t>({kFw1394ConfigBytes}));
    }
}

TEST_P(Fw1394Test, RequestBlocksAndChunks)
{
    OpenCamera();
    const Bytes data = Pattern(20000);
    m_driver.ClearLog();
    ASSERT_TRUE(CamWriteRaw(m_pDevice, 0x1000, 0x1001, data.data(), 20000));
    Bytes out(20000);
    ASSERT_TRUE(CamReadRaw(m_pDevice, 0x1000, 0x1001, out.data(), 20000));
    EXPECT_EQ(out, data) << "no byte of a large write is lost";
    const std::vector<uint32_t> older = {8108, 8108, 3784};
    const std::vector<uint32_t> newer = {8076, 8076, 3848}; // header, data and trailing word fit the area
    EXPECT_EQ(DataLengths(kFw1394ReadBlock), Newer() ? newer : older);
    EXPECT_EQ(DataLengths(Newer() ? kFw1394WriteBlockNewer : kFw1394WriteBlock), Newer() ? newer : older);
    if (!Newer()) {
        const auto requests = m_driver.Requests();
        for (size_t i = 1; i < requests.size(); ++i)
            EXPECT_EQ(requests[i].m_sequence, requests[i - 1].m_sequence + 1);
        EXPECT_EQ(requests[0].m_inLength, kFw1394HeaderBytes + 8108);
        EXPECT_EQ(requests[3].m_outLength, kFw1394HeaderBytes + 8108);
    }
}

TEST_P(Fw1394Test, BusyAndFailedRequestsAreRetriedWithinBounds)
{
    OpenCamera();
    uint8_t bytes[8];
    m_driver.ClearLog();
    m_driver.m_iBusy = 2;
    ASSERT_TRUE(CamReadRaw(m_pDevice, 0x100, kCamSpaceFile, bytes, 8));
    EXPECT_EQ(m_driver.Requests().size(), 3u);

    m_driver.ClearLog();
    m_pClock->m_sleeps.clear();
    m_driver.m_iFailures = 1000;
    EXPECT_FALSE(CamReadRaw(m_pDevice, 0x100, kCamSpaceFile, bytes, 8));
    EXPECT_EQ(m_driver.Requests().size(), static_cast<size_t>(kFw1394Attempts));
    for (int ms : m_pClock->m_sleeps) {
        EXPECT_GE(ms, 1);
        EXPECT_LE(ms, 20);
    }

    // A driver that stays busy is given up on after a bounded time.
    m_driver.m_iFailures = 0;
    m_driver.m_iBusy = 1000000;
    const double start = m_pClock->m_dNow;
    EXPECT_FALSE(CamReadRaw(m_pDevice, 0x100, kCamSpaceFile, bytes, 8));
    EXPECT_LE(m_pClock->m_dNow - start, kFw1394MaxBusyMs / 1000.0 + 0.021);
    m_driver.m_iBusy = 0;
}

TEST_P(Fw1394Test, FastReadOnlyOnTheOlderLayoutForLargeReads)
{
    const Bytes data = Pattern(1000);
    m_camera.AddFile("/f", data);
    OpenCamera();
    m_driver.ClearLog();
    Bytes out(1000);
    uint32_t got = 0;
    ASSERT_TRUE(CamProtoRead(m_pDevice, "/f", 0, out.data(), 1000, &got));
    EXPECT_EQ(out, data) << "window words come reversed on 1394 and are put back";
    EXPECT_EQ(DataLengths(kFw1394FastRead).size(), Newer() ? 0u : 1u);
    m_driver.ClearLog();
    ASSERT_TRUE(CamProtoRead(m_pDevice, "/f", 0, out.data(), 128, &got));
    EXPECT_TRUE(DataLengths(kFw1394FastRead).empty()) << "128 bytes or fewer take the plain read";
}

TEST_P(Fw1394Test, ShortConfigurationKeepsTheDefaults)
{
    m_driver.m_bShortConfig = true;
    OpenCamera();
    EXPECT_FALSE(CamHasCapability(m_pDevice, kCamCapFileService));
    EXPECT_EQ(m_pDevice->m_config.m_words[kCamCfgSwap], 1u);
}

TEST_P(Fw1394Test, EndToEndReadWriteTimeAndUnplug)
{
    ExpectReadWriteAndUnplug(m_camera, "1394@fw1", 100000);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Fw1394Test, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Newer" : "Older"; });

} // namespace
