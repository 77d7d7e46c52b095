// The camera journey through the real program and script: a simulated camera on
// the simulated USB wire, its card listed by the download dialog, the dialog's
// requests copied by the bridge and compared byte for byte, then "delete all"
// leaving only the locked images.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BrowserFixtures.h"
#include "CamDevice.h"
#include "CamProtocol.h"
#include "CamSupport.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FIPManager.h"
#include "FImageFileList.h"
#include "FProbeObject.h"
#include "FScopedTempFolder.h"
#include "FUiCameraObject.h"
#include "FUiCopyCameraWindow.h"
#include "FUiDynaString.h"
#include "FUiIpObject.h"
#include "FUiIpObjectRequest.h"
#include "SimCamera.h"
#include "SimUsbDriver.h"
#include "StorageClassRegistry.h"

namespace
{

constexpr int kImages = 200;
constexpr int kLocked[] = {7, 77, 177};

SimCamera::Bytes Words(uint32_t a, uint32_t b)
{
    return {uint8_t(a), uint8_t(a >> 8), uint8_t(a >> 16), uint8_t(a >> 24),
            uint8_t(b), uint8_t(b >> 8), uint8_t(b >> 16), uint8_t(b >> 24)};
}

std::string ImagePath(int i)
{
    char name[64];
    std::snprintf(name, sizeof(name), "/cf/images/IMG_%04d.q7f", i);
    return name;
}

bool IsLocked(int i)
{
    return std::find(std::begin(kLocked), std::end(kLocked), i) != std::end(kLocked);
}

struct Copy {
    FWideString from, to;
    bool deleteSource;
};

// The camera's clock runs on the test's time: its polls never sleep for real.
class CameraJourneyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CamLinkResetForTests();
        CamSetClockHooks({[this] { return m_dNow; }, [this](int ms) { m_dNow += ms / 1000.0; }});
        m_camera.AddFile("/dev/CF", Words(1000000, 400000), SimCamera::kDefaultFlags | kCamStatusWholeFile);
        m_camera.AddFile("/dev/Battery", SimCamera::Bytes{0x08, 0, 0, 0},
                         SimCamera::kDefaultFlags | kCamStatusWholeFile);
        for (int i = 1; i <= kImages; ++i) {
            browsertest::RawOptions options;
            options.idByte = uint8_t(i);
            options.previewCols = 16;
            options.previewRows = 12;
            const rawtest::Bytes raw = browsertest::MakeRaw(options);
            m_camera.AddFile(ImagePath(i), SimCamera::Bytes(raw.begin(), raw.end()));
            if (IsLocked(i))
                m_camera.SetAttributes(ImagePath(i), 1);
        }
        m_driver.Install();
    }
    void TearDown() override
    {
        CamLinkShutdown();
        UsbSetDriverFactory({});
        CamSetClockHooks({});
        CamLinkResetForTests();
    }

    double m_dNow = 1000;
    SimCamera m_camera;
    SimUsbDriver m_driver{m_camera};
};

std::string Shown(FAppHarness& app, const std::string& path)
{
    auto* text = dynamic_cast<FUiDynaString*>(app.Object(path));
    return text ? Utf8FromWide(text->GetShownText()) : std::string("<none>");
}

} // namespace

TEST_F(CameraJourneyTest, ListDownloadCompareAndDeleteAllKeepsTheLockedImages)
{
    FScopedTempFolder destination;
    FAppHarness harness;
    std::vector<Copy> copies;
    const int status = harness.Start([&](FAppHarness& app) {
        auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
        ASSERT_NE(camera, nullptr);
        ASSERT_TRUE(app.RunUntil([&] { return camera->IsConnected(); }, 100));
        FWideString folder = camera->GetRootURL();
        folder += "/cf/images/";

        // The dialog scans the card on the list's thread; it is ready on a later tick.
        auto* download = dynamic_cast<FUiCopyCameraWindow*>(app.Object("DownloadWin.WinMgr"));
        ASSERT_NE(download, nullptr);
        EXPECT_TRUE(app.Send("DownloadWin.WinMgr", "DownloadDir", &folder));
        ASSERT_TRUE(app.RunUntil([&] { return !download->IsScanning(); }, 60000));
        EXPECT_EQ(download->GetList().GetCount(), kImages);
        EXPECT_EQ(Shown(app, "DownloadWin.AllCount").rfind("(200 images, ", 0), 0u)
            << Shown(app, "DownloadWin.AllCount");

        FWideString native = WideFromUtf8(destination.GetPath());
        app.Send("DownloadWin.DstDir", "SetText", &native);
        ASSERT_TRUE(app.Watch("DownloadWin.WinMgr", "ON_PERFORM_SAVE"));
        app.Probe()->SetOnMessage([&](const FProbeRecord& record) {
            if (record.message != "ON_PERFORM_SAVE")
                return;
            auto* request = static_cast<FUiIpObjectCopyReq*>(record.pointer);
            copies.push_back({request->m_usFileURL, request->m_usDstURL, request->m_bDeleteSrc});
        });
        EXPECT_TRUE(app.Send("DownloadWin.WinMgr", "PerformDownload"));
        app.Probe()->SetOnMessage({});
        ASSERT_EQ(copies.size(), size_t(kImages));

        // The bridge copies each one, as the progress window would have it do.
        FUiIpObject bridge("IP_OBJECT2", GetIPManagerPool());
        for (const Copy& copy : copies) {
            FUiIpObjectCopyReq request;
            request.m_usFileURL = copy.from;
            request.m_usDstURL = copy.to;
            request.m_bDeleteSrc = copy.deleteSource;
            request.m_pReturnRelay = app.Probe();
            // The bridge answers every request false; its state tells the outcome.
            bridge.UiRelayMessage(FWideString("IpRequest"), &request);
            for (int i = 0; i < 100000 && !bridge.IsIdle(); ++i)
                bridge.Tick(10);
            ASSERT_TRUE(bridge.IsIdle());
            EXPECT_EQ(request.m_Async.m_eState.load(), kCompleted) << Utf8FromWide(copy.from);
        }

        FWideString del = folder;
        EXPECT_FALSE(app.Send("DeleteAllWin.WinMgr", "DelDir", &del));
        EXPECT_EQ(Shown(app, "DeleteAllWin.Status"), "Some images are locked and will be kept.");
        app.Send("DeleteAllWin.WinMgr", "OK");
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    ASSERT_EQ(copies.size(), size_t(kImages));

    for (int i = 1; i <= kImages; ++i) {
        SCOPED_TRACE(i);
        SimCamera::Bytes card;
        const bool onCard = m_camera.GetFile(ImagePath(i), card);
        EXPECT_EQ(onCard, IsLocked(i));
        std::string name = ImagePath(i).substr(ImagePath(i).rfind('/') + 1);
        std::string copied;
        ASSERT_TRUE(destination.ReadFile(name, copied));
        browsertest::RawOptions options;
        options.idByte = uint8_t(i);
        options.previewCols = 16;
        options.previewRows = 12;
        const rawtest::Bytes raw = browsertest::MakeRaw(options);
        EXPECT_EQ(copied, std::string(raw.begin(), raw.end()));
    }
}

// The browser hears of the camera from the camera object and opens both camera dialogs
// on the card's image folder.
TEST_F(CameraJourneyTest, TheBrowserOpensTheCameraDialogsOnTheCard)
{
    FAppHarness harness;
    const int status = harness.Start([&](FAppHarness& app) {
        auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
        auto* download = dynamic_cast<FUiCopyCameraWindow*>(app.Object("DownloadWin.WinMgr"));
        ASSERT_TRUE(camera && download);
        ASSERT_TRUE(app.RunUntil([&] { return camera->IsConnected() && camera->GetCardUsed() > 0; }, 100));

        ASSERT_TRUE(app.Send("MainWin.WinMgr", "DeleteAllCameraImages"));
        EXPECT_TRUE(app.Window("DeleteAllWin")->IsVisible());
        EXPECT_EQ(Shown(app, "DeleteAllWin.Status"), "Some images are locked and will be kept.");
        ASSERT_TRUE(app.Send("DeleteAllWin", "Hide"));

        ASSERT_TRUE(app.Send("MainWin.WinMgr", "Download"));
        EXPECT_TRUE(app.Window("DownloadWin")->IsVisible());
        ASSERT_TRUE(app.RunUntil([&] { return !download->IsScanning(); }, 60000));
        EXPECT_EQ(download->GetList().GetCount(), kImages);
        app.Send("DownloadWin", "Hide");
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(harness.BodyRan());
}

TEST_F(CameraJourneyTest, AnUnplugMidDownloadLeavesNoPartialFile)
{
    SimCamera::Bytes big(3 * 1024 * 1024);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 31 + (i >> 9));
    m_camera.AddFile("/cf/images/BIG_0001.q7f", big);
    FScopedTempFolder destination;
    FAppHarness harness;
    int state = -1;
    bool stillConnected = true;
    const int status = harness.Start([&](FAppHarness& app) {
        auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
        ASSERT_NE(camera, nullptr);
        ASSERT_TRUE(app.RunUntil([&] { return camera->IsConnected(); }, 100));
        FUiIpObject bridge("IP_OBJECT2", GetIPManagerPool());
        bridge.SetCopyBudget(std::chrono::microseconds(1), 1);
        FUiIpObjectCopyReq request;
        request.m_usFileURL = camera->GetRootURL();
        request.m_usFileURL += "/cf/images/BIG_0001.q7f";
        FWideString url;
        NativePathToURL(WideFromUtf8(destination.Join("BIG_0001.q7f")), url);
        request.m_usDstURL = url;
        request.m_pReturnRelay = app.Probe();
        bridge.UiRelayMessage(FWideString("IpRequest"), &request);
        bridge.Tick(10);
        bridge.Tick(10);
        m_camera.Unplug();
        for (int i = 0; i < 100000 && !bridge.IsIdle(); ++i)
            bridge.Tick(10);
        state = request.m_Async.m_eState.load();
        // The status object notices within its polling interval.
        app.RunUntil([&] { return !camera->IsConnected(); }, 200);
        stillConnected = camera->IsConnected();
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(state, kError);
    EXPECT_FALSE(stillConnected);
    // Neither the copy nor its temporary file is left behind.
    EXPECT_TRUE(std::filesystem::is_empty(destination.GetPath()));
}

TEST_F(CameraJourneyTest, ACameraAnsweringGarbageLosesNothingAndHangsNothing)
{
    FAppHarness harness;
    int listed = -1;
    std::string status;
    const int exitStatus = harness.Start([&](FAppHarness& app) {
        auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
        ASSERT_NE(camera, nullptr);
        ASSERT_TRUE(app.RunUntil([&] { return camera->IsConnected(); }, 100));
        FWideString folder = camera->GetRootURL();
        folder += "/cf/images/";
        // From now on every transfer answers a status the wire does not know.
        m_driver.m_iGarbageStatus = 1 << 30;
        auto* download = dynamic_cast<FUiCopyCameraWindow*>(app.Object("DownloadWin.WinMgr"));
        ASSERT_NE(download, nullptr);
        app.Send("DownloadWin.WinMgr", "DownloadDir", &folder);
        ASSERT_TRUE(app.RunUntil([&] { return !download->IsScanning(); }, 60000));
        listed = download->GetList().GetCount();
        FWideString del = folder;
        app.Send("DeleteAllWin.WinMgr", "DelDir", &del);
        app.Send("DeleteAllWin.WinMgr", "OK");
        status = Shown(app, "DeleteAllWin.Status");
        app.RunUntil([&] { return !camera->IsConnected(); }, 200);
        app.Send("MainWin", "Close");
    });
    m_driver.m_iGarbageStatus = 0;
    EXPECT_EQ(exitStatus, 0);
    // Nothing readable was listed, so nothing could be offered or deleted.
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(status, "There are no images on the camera.");
    for (int i = 1; i <= kImages; ++i)
        EXPECT_TRUE(m_camera.HasFile(ImagePath(i))) << i;
}
