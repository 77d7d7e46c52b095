#include "CamFileApi.h"
#include "CamTestSupport.h"
#include "FScopedTempFolder.h"
#include "SimCamera.h"

#include <sys/stat.h>

namespace
{

// The virtual camera in a temporary folder, switched on or off by its "Connected" file.
class FileApiTest : public CamLinkTest
{
protected:
    void SetUp() override
    {
        CamLinkTest::SetUp();
        m_pClock = std::make_unique<VirtualClock>();
        VirtualCamSetRoot(m_temp.GetPath());
    }
    void TearDown() override
    {
        VirtualCamSetRoot("");
        m_pClock.reset();
        CamLinkTest::TearDown();
    }
    void SwitchVirtual(bool on)
    {
        if (on)
            ASSERT_TRUE(m_temp.WriteFile("Connected", ""));
        else
            ::unlink(m_temp.Join("Connected").c_str());
    }
    std::string List(char* buffer, uint32_t capacity, int& count)
    {
        uint32_t length = capacity;
        count = CamListCameras(buffer, length);
        m_iLength = length;
        return buffer ? std::string(buffer) : std::string();
    }

    std::unique_ptr<VirtualClock> m_pClock;
    FScopedTempFolder m_temp;
    uint32_t m_iLength = 0;
};

TEST_F(FileApiTest, CameraList)
{
    int count = -1;
    char buffer[256];
    EXPECT_EQ(List(buffer, sizeof buffer, count), "");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(m_iLength, 1u);

    FakeTransport usb;
    usb.m_iCount = 2;
    usb.Install(kCamTransportUsb);
    SwitchVirtual(true);
    const std::string full = "USB@cam0\nUSB@cam1\n<<<VirtualCamera>>>";
    EXPECT_EQ(List(buffer, sizeof buffer, count), full);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(m_iLength, full.size() + 1);

    // The size query, and a buffer one byte short: whole names only.
    List(nullptr, 0, count);
    EXPECT_EQ(m_iLength, full.size() + 1);
    EXPECT_EQ(List(buffer, static_cast<uint32_t>(full.size()), count), "USB@cam0\nUSB@cam1");
    EXPECT_EQ(m_iLength, full.size() + 1);
    EXPECT_EQ(List(buffer, 12, count), "USB@cam0");
    // A buffer of length 0 is only a size query: not even its first byte is written.
    for (auto* list : {&CamListCameras, &CamProtoListCameras}) {
        buffer[0] = 'x';
        uint32_t length = 0;
        EXPECT_GT(list(buffer, length), 0);
        EXPECT_EQ(buffer[0], 'x');
        EXPECT_GT(length, 1u);
    }

    EXPECT_EQ(U8(CamListNameAt(2)), kVirtualCameraName);
    EXPECT_EQ(U8(CamListNameAt(0)), "USB@cam0");
    EXPECT_TRUE(CamListNameAt(3).IsEmpty());
    // The fake devices do not answer the probe: the first available one is the virtual camera.
    EXPECT_EQ(U8(CamFirstConnected()), kVirtualCameraName);
}

TEST_F(FileApiTest, SilentCameraFallsThroughToTheVirtualOne)
{
    SimCamera sim;
    sim.Install(kCamTransportUsb);
    sim.AddFile("/cf/a", {1, 2, 3});
    ASSERT_TRUE(m_temp.WriteFile("a", "virtual"));
    SwitchVirtual(true);
    const std::string name = sim.DeviceName();
    char bytes[16] = {};
    EXPECT_EQ(CamFileRead(name.c_str(), "/cf/a", 0, bytes, 16), 3u);
    EXPECT_TRUE(CamIsAvailable(name.c_str()));

    sim.Unplug();
    EXPECT_EQ(CamFileRead(name.c_str(), "/cf/a", 0, bytes, 16), 0u)
        << "the named camera is not the virtual one";
    EXPECT_FALSE(CamIsAvailable(name.c_str()));
    EXPECT_EQ(CamFileRead("", "/a", 0, bytes, 16), 7u);
    EXPECT_EQ(std::string(bytes, 7), "virtual");
    EXPECT_EQ(CamFileRead(kVirtualCameraName, "/a", 0, bytes, 16), 7u);
}

TEST_F(FileApiTest, VirtualCamera)
{
    const char* vc = kVirtualCameraName;
    ASSERT_EQ(::mkdir(m_temp.Join("cf").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(m_temp.Join("cf/images").c_str(), 0755), 0);
    ASSERT_TRUE(m_temp.WriteFile("cf/images/IMG_1.q7f", "0123456789"));
    ASSERT_TRUE(m_temp.WriteFile("cf/images/bad\tname", "x"));
    ASSERT_TRUE(m_temp.WriteFile("cf/images/bad\nline", "x"));
    ASSERT_EQ(::mkdir(m_temp.Join("cf/images/sub").c_str(), 0755), 0);
    uint32_t size = 0;
    EXPECT_FALSE(CamFileStat(vc, "/cf/images/IMG_1.q7f", &size, nullptr, nullptr)) << "off without Connected";
    SwitchVirtual(true);

    uint32_t time = 0;
    uint32_t attributes = 0;
    ASSERT_TRUE(CamFileStat(vc, "/cf/images/IMG_1.q7f", &size, &time, &attributes));
    EXPECT_EQ(size, 10u);
    EXPECT_GT(time, 0u);
    EXPECT_EQ(attributes, 2u);

    char text[4096] = {};
    const uint32_t got = CamFileRead(vc, "/cf/images/*", 0, text, sizeof text - 1);
    const std::string listing(text, got);
    EXPECT_NE(listing.find("/cf/images/IMG_1.q7f\t10\t" + std::to_string(time) + "\t\n"), std::string::npos);
    EXPECT_NE(listing.find("/cf/images/sub\t"), std::string::npos);
    EXPECT_NE(listing.find("\tD\n"), std::string::npos);
    EXPECT_EQ(listing.find("bad"), std::string::npos) << "names that would forge lines are left out";
    ASSERT_TRUE(CamFileStat(vc, "/cf/images/*", &size, &time, nullptr));
    EXPECT_EQ(size, got);
    EXPECT_EQ(CamFileRead(vc, "/cf/images/*", got, text, 10), 0u);

    ASSERT_TRUE(CamFileWrite(vc, "/cf/images/IMG_1.q7f", 0, "abcd", 4));
    std::string bytes;
    ASSERT_TRUE(m_temp.ReadFile("cf/images/IMG_1.q7f", bytes));
    EXPECT_EQ(bytes, "abcd456789");

    ASSERT_TRUE(CamFileSetAttributes(vc, "/cf/images/IMG_1.q7f", 1));
    ASSERT_TRUE(CamFileStat(vc, "/cf/images/IMG_1.q7f", nullptr, nullptr, &attributes));
    EXPECT_EQ(attributes, 3u);
    ASSERT_TRUE(CamFileSetAttributes(vc, "/cf/images/IMG_1.q7f", 2));
    ASSERT_TRUE(CamFileStat(vc, "/cf/images/IMG_1.q7f", nullptr, nullptr, &attributes));
    EXPECT_EQ(attributes, 2u);

    EXPECT_TRUE(CamFileDelete(vc, "/cf/images/IMG_1.q7f"));
    EXPECT_FALSE(m_temp.ReadFile("cf/images/IMG_1.q7f", bytes));
}

TEST_F(FileApiTest, VirtualPathsStayInTheirFolder)
{
    FScopedTempFolder outside;
    ASSERT_TRUE(outside.WriteFile("secret", "s"));
    SwitchVirtual(true);
    const std::string escape =
        "/../" + outside.GetPath().substr(outside.GetPath().rfind('/') + 1) + "/secret";
    const char* vc = kVirtualCameraName;
    char bytes[4];
    uint32_t size = 0;
    const std::string paths[] = {escape, "/./Connected", "/cf/../../x", "/..", "/../*"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(CamFileStat(vc, path.c_str(), &size, nullptr, nullptr));
        EXPECT_EQ(CamFileRead(vc, path.c_str(), 0, bytes, 4), 0u);
        EXPECT_FALSE(CamFileWrite(vc, path.c_str(), 0, "x", 1));
        EXPECT_FALSE(CamFileDelete(vc, path.c_str()));
        EXPECT_FALSE(CamFileSetAttributes(vc, path.c_str(), 1));
    }
    std::string kept;
    EXPECT_TRUE(outside.ReadFile("secret", kept));
    EXPECT_EQ(kept, "s");
}

TEST_F(FileApiTest, ConsolePathGoesToTheConsole)
{
    SimCamera sim;
    sim.Install(kCamTransportUsb);
    const std::string name = sim.DeviceName();
    EXPECT_TRUE(CamFileWrite(name.c_str(), "/DEBUG/Console", 0, "hello", 5));
    EXPECT_EQ(sim.ConsoleText(), "hello");
    sim.SetConsoleMessage("reply");
    char text[64];
    EXPECT_EQ(CamFileRead(name.c_str(), "/debug/console", 0, text, sizeof text), 5u);
    EXPECT_TRUE(CamFileDelete(name.c_str(), "/debug/console"));
    EXPECT_FALSE(sim.ConsoleOn());
}

} // namespace
