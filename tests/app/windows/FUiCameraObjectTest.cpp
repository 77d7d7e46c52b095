#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "FCodePage.h"
#include "FIStorageClass.h"
#include "FMemStorageClass.h"
#include "FProbeObject.h"
#include "FUiCameraObject.h"
#include "RelayEvent.h"
#include "StorageClassRegistry.h"

namespace
{

std::string Words(uint32_t a)
{
    return std::string{static_cast<char>(a), static_cast<char>(a >> 8), static_cast<char>(a >> 16),
                       static_cast<char>(a >> 24)};
}
std::string Words(uint32_t a, uint32_t b)
{
    return Words(a) + Words(b);
}

// One in-memory "camera" class for the process, registered before the object
// looks, so that it stands in for the real link; every test starts unplugged.
FMemStorageClass& Camera()
{
    static FMemStorageClass* camera = RegisterMemStorageClass(FWideString("camera"));
    return *camera;
}

void Unplug()
{
    Camera();
    FWideString name;
    FIFolder* root = OpenFolderURL(FWideString("camera://"), name, true);
    ASSERT_NE(root, nullptr);
    root->DeleteFolder(FWideString("camera://MyCam"), 1);
    root->Release();
}

void Plug(uint32_t capacity, uint32_t free, uint32_t battery)
{
    Camera().PutFile(FWideString("MyCam/dev/CF"), Words(capacity, free));
    Camera().PutFile(FWideString("MyCam/dev/Battery"), Words(battery));
}

struct CameraRig {
    FUiCameraObject camera{"CAMERA_OBJECT"};
    FProbeObject probe{"PROBE"};
    CameraRig()
    {
        // Every answer is waited for, so the events follow each message and poll in order.
        camera.SetDeviceWait(std::chrono::seconds(10));
        Unplug();
        for (const char* event : {"ON_CONNECTED", "ON_POWER_TYPE", "ON_AC_POWER", "ON_BATTERY_POWER",
                                  "ON_CFCARD_PRESENT", "ON_GET_CAMERA_TIME", "ON_STORAGE_CHANGE"})
            camera.FindEvent(FWideString(event))->AddTarget(FWideString(event), &probe);
        for (const char* event :
             {"ON_POWER_TYPE", "ON_CFCARD_PRESENT", "ON_GET_CAMERA_TIME", "ON_STORAGE_CHANGE"})
            probe.SetDataKind(event, EProbeData::kInt);
        probe.SetDataKind("ON_CONNECTED", EProbeData::kString);
    }
    // Messages with their data, as "NAME=data" or "NAME" for null.
    std::string Take()
    {
        std::string out;
        for (const FProbeRecord& record : probe.GetRecords()) {
            out += out.empty() ? "" : ",";
            out += record.message;
            if (record.hadData)
                out += "=" + record.data;
        }
        probe.Clear();
        return out;
    }
    void Poll()
    {
        for (int i = 0; i < 30; ++i)
            camera.Tick(10);
    }
};

} // namespace

TEST(CameraObjectTest, NominalCardCapacity)
{
    const struct {
        uint32_t kib, nominal;
    } cases[] = {
        {250000, 262144},         {180000, 163840},   {20 * 1024, 16 * 1024},
        {1000000, 1048576},       {1023, 0},          {0, 0},
        {3000000, 2097152},       {3145728, 4194304}, {4000000, 4194304},
        {UINT32_MAX, UINT32_MAX}, {2097151, 2097152},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NominalCardCapacity(c.kib), c.nominal) << c.kib;
}

TEST(CameraObjectTest, FindsTheCameraItsCardAndItsPowerAtStartThenPollsEveryThirtyTicks)
{
    CameraRig rig;
    Plug(1000000, 400000, 0x01);
    EXPECT_TRUE(rig.camera.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
    // The first poll on battery fires no power-type change.
    EXPECT_EQ(rig.Take(), "ON_CONNECTED=camera://MyCam,ON_CFCARD_PRESENT=1048576,ON_STORAGE_CHANGE=600000,"
                          "ON_BATTERY_POWER");

    Plug(1000000, 390000, 0x08);
    for (int i = 0; i < 29; ++i)
        rig.camera.Tick(10);
    EXPECT_EQ(rig.Take(), "");
    rig.camera.Tick(10);
    EXPECT_EQ(rig.Take(), "ON_AC_POWER,ON_POWER_TYPE=1,ON_STORAGE_CHANGE=610000");
    rig.Poll();
    EXPECT_EQ(rig.Take(), "ON_AC_POWER");

    bool connected = false;
    EXPECT_TRUE(rig.camera.UiRelayMessage(FWideString("IsCameraConnected"), &connected));
    EXPECT_TRUE(connected);
    EXPECT_FALSE(rig.camera.UiRelayMessage(FWideString("IsCameraConnected"), nullptr));
    EXPECT_FALSE(rig.camera.UiRelayMessage(FWideString("isCameraConnected"), &connected));
}

TEST(CameraObjectTest, ARemovedCardShowsNothingUsedAndALostCameraReportsItsCardGone)
{
    CameraRig rig;
    Plug(1000000, 400000, 0);
    rig.camera.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    rig.Take();
    Plug(0, 400000, 0);
    rig.Poll();
    EXPECT_EQ(rig.Take(), "ON_CFCARD_PRESENT,ON_STORAGE_CHANGE=0");
    EXPECT_EQ(rig.camera.GetCardUsed(), 0);

    // An empty slot reads 0 and 0: nothing to say.
    Plug(0, 0, 0);
    rig.Poll();
    EXPECT_EQ(rig.Take(), "");

    Plug(250000, 10000, 0);
    rig.Poll();
    EXPECT_EQ(rig.Take(), "ON_CFCARD_PRESENT=262144,ON_STORAGE_CHANGE=240000");
    Unplug();
    rig.Poll();
    EXPECT_EQ(rig.Take(), "ON_CONNECTED,ON_CFCARD_PRESENT,ON_CFCARD_PRESENT,ON_STORAGE_CHANGE=0");
    EXPECT_FALSE(rig.camera.IsConnected());
    EXPECT_TRUE(rig.camera.GetRootURL().IsEmpty());
}

TEST(CameraObjectTest, GarbageFromTheCameraGivesNoEventsAndNoCrash)
{
    CameraRig rig;
    Camera().PutFile(FWideString("MyCam/dev/CF"), "abc");
    Camera().PutFile(FWideString("MyCam/dev/Battery"), "xy");
    Camera().PutFile(FWideString("MyCam/dev/Time"), "12");
    rig.camera.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    EXPECT_EQ(rig.Take(), "ON_CONNECTED=camera://MyCam");
    EXPECT_TRUE(rig.camera.UiRelayMessage(FWideString("GetTime"), nullptr));
    EXPECT_EQ(rig.Take(), "");
    // More free than room counts as full, never as a negative use.
    Plug(1000, 5000, 0);
    rig.Poll();
    EXPECT_EQ(rig.Take(), "ON_CFCARD_PRESENT=0,ON_STORAGE_CHANGE=0");
}

TEST(CameraObjectTest, SetsAndReadsTheCameraClockOnlyWhenConnected)
{
    CameraRig rig;
    EXPECT_TRUE(rig.camera.UiRelayMessage(FWideString("SetTime"), nullptr));
    EXPECT_TRUE(rig.camera.UiRelayMessage(FWideString("GetTime"), nullptr));
    std::string bytes;
    EXPECT_FALSE(Camera().GetFileBytes(FWideString("MyCam/dev/Time"), bytes));

    Plug(0, 0, 0);
    Camera().PutFile(FWideString("MyCam/dev/Time"), Words(0x12345678));
    rig.camera.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    rig.Take();
    EXPECT_TRUE(rig.camera.UiRelayMessage(FWideString("GetTime"), nullptr));
    EXPECT_EQ(rig.Take(), "ON_GET_CAMERA_TIME=305419896");
    rig.camera.UiRelayMessage(FWideString("SetTime"), nullptr);
    ASSERT_TRUE(Camera().GetFileBytes(FWideString("MyCam/dev/Time"), bytes));
    EXPECT_EQ(bytes.size(), 4u);
    EXPECT_NE(bytes, Words(0x12345678));
}
