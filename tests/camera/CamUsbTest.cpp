#include "CamEndToEnd.h"
#include "CamFileApi.h"
#include "CamFw1394Transport.h"
#include "CamProtocol.h"
#include "CamTestSupport.h"
#include "CamUsbTransport.h"
#include "FScopedTempFolder.h"
#include "SimUsbDriver.h"
#include "os/LibusbDriver.h"

#include <libusb.h>

#include <algorithm>
#include <numeric>

namespace
{

using Bytes = SimCamera::Bytes;

// A simulated camera behind the simulated USB wire, reached by the real USB transport.
class UsbTest : public CamLinkTest
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
        UsbSetDriverFactory({});
        m_pClock.reset();
        CamLinkTest::TearDown();
    }
    void OpenCamera()
    {
        m_pDevice = CamOpen("USB@camera0");
        ASSERT_NE(m_pDevice, nullptr);
    }
    // Selects a file and starts a READ of it, so that the data window holds its bytes.
    void StartWindow(const char* path, uint32_t length)
    {
        uint32_t status = 0;
        ASSERT_TRUE(CamProtoSelectFile(m_pDevice, path, &status));
        ASSERT_TRUE(CamWriteQuadlet(m_pDevice, kCamRegTransfer, kCamSpaceFile, length));
        ASSERT_TRUE(CamWriteQuadlet(m_pDevice, kCamRegOffset, kCamSpaceFile, 0));
        ASSERT_TRUE(CamWriteQuadlet(m_pDevice, kCamRegLength, kCamSpaceFile, length));
        ASSERT_TRUE(CamWriteQuadlet(m_pDevice, kCamRegCommand, kCamSpaceFile, kCamCmdRead));
    }
    int Sleeps(int ms) const
    {
        return static_cast<int>(std::count(m_pClock->m_sleeps.begin(), m_pClock->m_sleeps.end(), ms));
    }

    std::unique_ptr<VirtualClock> m_pClock;
    SimCamera m_camera;
    SimUsbDriver m_driver{m_camera};
    CamDevice* m_pDevice = nullptr;
};

TEST(UsbWire, AddressBlockChunksAndRequestType)
{
    uint8_t block[6];
    UsbAddressBlock(0x12345678, 0x1009, block);
    EXPECT_EQ(Bytes(block, block + 6), Bytes({0x09, 0x10, 0x34, 0x12, 0x78, 0x56}));
    EXPECT_EQ(UsbWireRequestType(kUsbVendorRequestType, kUsbDirectionIn), 0xC0);
    EXPECT_EQ(UsbWireRequestType(kUsbVendorRequestType, kUsbDirectionOut), 0x40);

    struct Case {
        uint32_t offset, space, remaining;
        bool reading;
        uint32_t chunk;
    };
    const Case cases[] = {
        {0x10000000, 0x1009, 20000, true, 0x4000},
        {0x10000000, 0x1009, 3616, true, 0x400},
        {0x10000000, 0x1009, 544, true, 0x80},
        {0x10000000, 0x1009, 0x80, true, 16},
        {0x10000000, 0x1009, 20000, false, 16},
        {0x100, 0x1009, 20000, true, 16},
        {0x0, 0x1007, 3, true, 3},
        {0x0, 0x100A, 5000, true, 0x1000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UsbChunkSize(c.offset, c.space, c.remaining, c.reading), c.chunk) << c.remaining;

    EXPECT_EQ(UsbStatusFromLibusb(LIBUSB_ERROR_PIPE), kUsbStall);
    EXPECT_EQ(UsbStatusFromLibusb(LIBUSB_ERROR_NO_DEVICE), kUsbNotResponding);
    EXPECT_NE(UsbStatusFromLibusb(LIBUSB_ERROR_ACCESS), kUsbNotResponding)
        << "no permission is not a vanished device";
    EXPECT_EQ(UsbStatusFromLibusb(LIBUSB_ERROR_TIMEOUT), kUsbTimeout);
}

TEST(UsbWire, CameraIdsConfiguration)
{
    const auto ids =
        ParseUsbCameraIds("# cameras\n1a2b:3C4d\n  dead:beef:2  # second\nxyz:1\n1:2:3:4\n12345:1\n\n");
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids[0].m_vendor, 0x1A2B);
    EXPECT_EQ(ids[0].m_product, 0x3C4D);
    EXPECT_EQ(ids[0].m_interface, 0);
    EXPECT_EQ(ids[1].m_interface, 2);
    EXPECT_TRUE(ParseUsbCameraIds("").empty()) << "nothing matches until configured";
}

TEST(UsbWire, SystemLibrariesWithNoConfiguredCameraCountNone)
{
    FScopedTempFolder config;
    FScopedEnv home("XDG_CONFIG_HOME", config.GetPath());
    EXPECT_EQ(UsbCameraIdsPath(), config.GetPath() + "/Rawbench/CameraUsbIds.txt");
    CamLinkResetForTests();
    UsbSetDriverFactory({});
    EXPECT_EQ(CamUsbTransportOps().Count(), 0);
    CamLinkResetForTests();
    // The firewire devices of this machine: whatever is there, nothing breaks.
    auto fw = CreateOsFw1394Driver();
    ASSERT_NE(fw, nullptr);
    for (const std::string& id : fw->Enumerate(1))
        EXPECT_EQ(id.find('/'), std::string::npos);
    EXPECT_TRUE(fw->Enumerate(2).empty());
    EXPECT_EQ(fw->Open("../null"), kFw1394NoHandle);
}

TEST_F(UsbTest, RequestsOfQuadletBlockAndWrite)
{
    OpenCamera();
    m_driver.ClearLog();
    uint32_t value = 0;
    ASSERT_TRUE(CamUsbTransportOps().ReadQuadlet(m_pDevice->m_pHandle, 0xF0010000, kCamSpaceConfig, value));
    auto controls = m_driver.Controls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].m_request, 0);
    EXPECT_EQ(controls[0].m_data, Bytes({0xFF, 0xFF, 0x01, 0xF0, 0x00, 0x00}));
    EXPECT_EQ(controls[1].m_request, 8);
    EXPECT_EQ(controls[1].m_direction, kUsbDirectionIn);
    EXPECT_EQ(controls[1].m_index, 4);

    m_driver.ClearLog();
    uint8_t bytes[8];
    ASSERT_TRUE(CamReadRaw(m_pDevice, kCamRegStatus, kCamSpaceFile, bytes, 8));
    controls = m_driver.Controls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].m_request, 0);
    EXPECT_EQ(controls[1].m_request, 4);
    EXPECT_EQ(controls[1].m_value, 0);
    EXPECT_EQ(controls[1].m_index, 8);
    for (const auto& c : controls)
        EXPECT_EQ(c.m_requestType, kUsbVendorRequestType);

    m_driver.ClearLog();
    ASSERT_TRUE(CamWriteQuadlet(m_pDevice, kCamRegOffset, kCamSpaceFile, 0x01020304));
    controls = m_driver.Controls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].m_request, 1);
    EXPECT_EQ(controls[1].m_request, 5);
    EXPECT_EQ(controls[1].m_index, 4);
    EXPECT_EQ(m_camera.LastCommandOffset(), 0x01020304u) << "a 4-byte write outside the window arrives right";
}

TEST_F(UsbTest, DataWindowReadGoesInUnits)
{
    const Bytes data = Pattern(20000);
    m_camera.AddFile("/f", data);
    OpenCamera();
    StartWindow("/f", 20000);
    m_driver.ClearLog();
    Bytes out(20000);
    ASSERT_TRUE(
        CamUsbTransportOps().Read(m_pDevice->m_pHandle, 0x10000000, kCamSpaceFile, out.data(), 20000));
    EXPECT_EQ(out, data) << "data-window bytes are never reversed";
    const std::vector<uint32_t> blocks = {16384, 1024, 1024, 1024, 128, 128, 128, 128, 16, 16};
    EXPECT_EQ(m_driver.BulkInLengths(), blocks);
    std::vector<uint32_t> announced;
    std::vector<int> requests;
    for (const auto& c : m_driver.Controls()) {
        requests.push_back(c.m_request);
        if (c.m_request == 4)
            announced.push_back((uint32_t(c.m_value) << 16) | c.m_index);
    }
    EXPECT_EQ(announced, blocks) << "each block announced by its own request";
    EXPECT_EQ(requests.size(), 2 * blocks.size());
}

TEST_F(UsbTest, AcknowledgedRepliesAndReversal)
{
    m_driver.m_bAcknowledge = true;
    m_driver.m_bAcknowledgeUnits = true;
    const Bytes data = Pattern(600);
    m_camera.AddFile("/f", data);
    OpenCamera();
    char probe[4];
    ASSERT_TRUE(CamReadRaw(m_pDevice, kCamProbeOffset, kCamSpaceConfig, probe, 4));
    EXPECT_EQ(std::string(probe, 4), "1394") << "\"VI!\" then \"4931\" is \"1394\"";
    Bytes out(600);
    uint32_t got = 0;
    ASSERT_TRUE(CamProtoRead(m_pDevice, "/f", 0, out.data(), 600, &got));
    EXPECT_EQ(out, data);
}

TEST_F(UsbTest, StallsAreClearedWithinBounds)
{
    m_camera.AddFile("/f", Pattern(64));
    OpenCamera();
    uint8_t bytes[4];
    m_driver.m_iStalls = 3;
    m_pClock->m_sleeps.clear();
    EXPECT_TRUE(CamReadRaw(m_pDevice, kCamRegSize, kCamSpaceFile, bytes, 4));
    EXPECT_EQ(m_driver.ClearStalls(), 3);
    EXPECT_EQ(Sleeps(500), 3);

    // A stall that never clears: 20 retries per attempt, then the read fails.
    m_driver.ClearLog();
    m_driver.m_iStalls = 1000000;
    EXPECT_FALSE(CamReadRaw(m_pDevice, kCamRegSize, kCamSpaceFile, bytes, 4));
    EXPECT_EQ(m_driver.ClearStalls(), kUsbAttempts * kUsbStallRetries);

    // A clear that fails ends the transfer at once.
    m_driver.ClearLog();
    m_driver.m_iStalls = 1000000;
    m_driver.m_bClearStallFails = true;
    EXPECT_FALSE(CamReadRaw(m_pDevice, kCamRegSize, kCamSpaceFile, bytes, 4));
    EXPECT_EQ(m_driver.ClearStalls(), kUsbAttempts);
}

TEST_F(UsbTest, UntrustedRepliesFailWithinBounds)
{
    const Bytes data = Pattern(4096);
    m_camera.AddFile("/f", data);
    OpenCamera();
    StartWindow("/f", 4096);
    struct Case {
        const char* what;
        int SimUsbDriver::*fault;
        int times;
        bool recovers; // fewer faults than attempts
    };
    const Case cases[] = {
        {"empty replies", &SimUsbDriver::m_iEmptyReplies, 3, true},
        {"empty replies always", &SimUsbDriver::m_iEmptyReplies, 1000, false},
        {"short second unit", &SimUsbDriver::m_iShortSecondUnit, 2, true},
        {"timeouts", &SimUsbDriver::m_iTimeouts, 1000, false},
        {"garbage status", &SimUsbDriver::m_iGarbageStatus, 1000, false},
    };
    auto clearFaults = [&] {
        m_driver.m_iEmptyReplies = m_driver.m_iShortSecondUnit = m_driver.m_iTimeouts = 0;
        m_driver.m_iGarbageStatus = 0;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clearFaults();
        m_driver.*c.fault = c.times;
        Bytes out(1024, 0xAA);
        const bool ok =
            CamUsbTransportOps().Read(m_pDevice->m_pHandle, 0x10000000, kCamSpaceFile, out.data(), 1024);
        EXPECT_EQ(ok, c.recovers);
        if (ok) {
            EXPECT_EQ(out, Bytes(data.begin(), data.begin() + 1024));
        }
        clearFaults();
    }
    // Counts that claim more than was asked are cut to the request.
    m_driver.m_bClaimExtraBytes = true;
    Bytes out(4096);
    uint32_t got = 0;
    ASSERT_TRUE(CamProtoRead(m_pDevice, "/f", 0, out.data(), 4096, &got));
    EXPECT_EQ(out, data);
}

TEST_F(UsbTest, GoneDeviceRetiresItsHandleAndReopensWithANewOne)
{
    m_camera.AddFile("/f", Pattern(64));
    OpenCamera();
    const UsbHandle first = 100;
    m_camera.Unplug();
    uint8_t bytes[4];
    EXPECT_FALSE(CamReadRaw(m_pDevice, kCamRegSize, kCamSpaceFile, bytes, 4));
    EXPECT_TRUE(CamUsbTransportOps().IsGone(m_pDevice->m_pHandle));
    EXPECT_FALSE(CamIsConnected(m_pDevice));
    EXPECT_TRUE(m_pDevice->m_bGone);
    CamDevRelease(m_pDevice);
    m_pDevice = nullptr;
    EXPECT_TRUE(m_driver.ClosedHandles().count(first))
        << "the retired handle is closed, so the interface is free";

    m_camera.Plug();
    EXPECT_EQ(CamOpen("USB@camera0"), nullptr) << "the first open reports the loss";
    OpenCamera();
    EXPECT_TRUE(CamReadRaw(m_pDevice, kCamRegSize, kCamSpaceFile, bytes, 4));
    EXPECT_EQ(m_driver.OpenCount(), 2);
}

TEST_F(UsbTest, LibraryStates)
{
    int made = 0;
    UsbSetDriverFactory([&made]() -> std::unique_ptr<UsbDriver> {
        ++made;
        return nullptr;
    });
    EXPECT_EQ(CamDevCount(), 0);
    EXPECT_EQ(CamDevCount(), 0);
    EXPECT_EQ(made, 1) << "a missing library is not looked for again";
    EXPECT_FALSE(UsbIsTried());

    m_driver.Install();
    m_driver.m_bRegisterFails = true;
    EXPECT_EQ(CamDevCount(), 0);
    EXPECT_FALSE(UsbIsLoaded());
    m_driver.m_bRegisterFails = false;
    EXPECT_EQ(CamDevCount(), 1) << "a failed registration is tried again at the next count";
    std::string name;
    ASSERT_TRUE(CamDevNameAt(0, name));
    EXPECT_EQ(name, "USB@camera0");
}

TEST_F(UsbTest, ArrivalReopensAfterThreeSecondsWithoutSleeping)
{
    EXPECT_EQ(CamDevCount(), 1);
    m_driver.Notify(true);
    m_pClock->m_sleeps.clear();
    EXPECT_EQ(CamDevCount(), 0);
    m_pClock->m_dNow += 2.9;
    EXPECT_EQ(CamDevCount(), 0);
    m_pClock->m_dNow += 0.2;
    EXPECT_EQ(CamDevCount(), 1);
    EXPECT_TRUE(m_pClock->m_sleeps.empty());
    m_driver.Notify(false);
    EXPECT_EQ(CamDevCount(), 1) << "after a removal the next count opens afresh";
}

TEST_F(UsbTest, EndToEndReadWriteTimeAndUnplug)
{
    ExpectReadWriteAndUnplug(m_camera, "USB@camera0", 300000);
    EXPECT_EQ(Sleeps(200), 1) << "the USB write pause";
}

} // namespace

namespace
{

// The directory of a camera behind the real USB transport: the entry count and ids are
// taken as the quadlet read assembles them, so only the entries that exist are asked for
// and the file-service version and the fast read are found.
TEST_F(CamLinkTest, UsbCapabilityDirectoryOfACamera)
{
    VirtualClock clock;
    for (const bool little : {false, true}) {
        SCOPED_TRACE(little ? "little-endian registers" : "big-endian registers");
        CamLinkResetForTests();
        SimCamera::Options options;
        options.m_bFastRead = true;
        options.m_bLittleEndianRegisters = little;
        SimCamera camera(options);
        SimUsbDriver driver(camera);
        driver.Install();
        CamDevice* device = CamOpen("USB@camera0");
        ASSERT_NE(device, nullptr);
        const uint32_t* w = device->m_config.m_words;
        EXPECT_EQ(w[kCamCfgEntryCount], 2u);
        EXPECT_EQ(w[kCamCfgSwap], little ? 0u : 1u);
        EXPECT_TRUE(CamHasCapability(device, kCamCapFastRead));
        uint32_t version = 0;
        EXPECT_TRUE(CamCapabilityWord(device, kCamCapFileService, 1, version));
        EXPECT_EQ(version, 0x20000u);
        const auto controls = driver.Controls();
        const auto quadlets =
            std::count_if(controls.begin(), controls.end(), [](const auto& c) { return c.m_request == 8; });
        EXPECT_EQ(quadlets, 2 + 4 * 2) << "the magic, the count and two entries of four words";
        CamDevRelease(device);
        CamLinkShutdown();
        UsbSetDriverFactory({});
    }
}

} // namespace
