// The camera journey through the real program and script: a simulated camera on
// the simulated USB wire, its card listed by the download dialog, copied by the
// progress window and compared byte for byte, then "delete all" leaving only the
// locked images.
#include <gtest/gtest.h>

#include <signal.h>

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

#include "BribFileBuilder.h"
#include "BrowserFixtures.h"
#include "CamDevice.h"
#include "CamProtocol.h"
#include "CamSupport.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIPManager.h"
#include "FImageFileList.h"
#include "FOsQuitSignal.h"
#include "FProbeObject.h"
#include "FScopedFileSizeLimit.h"
#include "FScopedTempFolder.h"
#include "FUiCameraObject.h"
#include "FUiCopyCameraWindow.h"
#include "FUiDeleteAllWindow.h"
#include "FUiDynaString.h"
#include "FUiIpObject.h"
#include "FUiIpObjectRequest.h"
#include "FUiProgressWindow.h"
#include "SimCamera.h"
#include "SimCameraTest.h"
#include "SimUsbDriver.h"
#include "StorageClassRegistry.h"

namespace
{

constexpr int kImages = 200;
constexpr int kLocked[] = {7, 77, 177};
// Card attributes: bit 0 locked, bit 1 not yet transferred.
constexpr uint32_t kLockedNew = 3;
constexpr uint32_t kLockedTransferred = 1;

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

rawtest::Bytes CardImage(int i)
{
    browsertest::RawOptions options;
    options.idByte = uint8_t(i);
    options.previewCols = 16;
    options.previewRows = 12;
    return browsertest::MakeRaw(options);
}

class CameraJourneyTest : public SimCameraTest
{
protected:
    void SetUp() override
    {
        SimCameraTest::SetUp();
        for (int i = 1; i <= kImages; ++i) {
            const rawtest::Bytes raw = CardImage(i);
            m_camera.AddFile(ImagePath(i), SimCamera::Bytes(raw.begin(), raw.end()));
            if (IsLocked(i))
                m_camera.SetAttributes(ImagePath(i), kLockedNew);
        }
        Plug();
    }
};

// A raw image of a few megabytes, copied in many pieces.
rawtest::Bytes BigCardImage()
{
    rawtest::BribFileBuilder file;
    file.GetHeader().columns = 640;
    file.GetHeader().rows = 480;
    file.GetHeader().uniqueId.fill(0xB1);
    rawtest::ImageSection preview;
    preview.imageType = 2;
    preview.pixelFormat = 18;
    preview.columns = 16;
    preview.rows = 12;
    preview.payload = browsertest::PreviewJPEG(16, 12);
    file.Top().AddImage(preview);
    // A section the readers pass over, standing for the sensor data.
    rawtest::Bytes bulk(3 << 20);
    for (size_t i = 0; i < bulk.size(); ++i)
        bulk[i] = uint8_t(i * 31 + (i >> 9));
    file.Top().AddSection("BULK", bulk);
    return file.Build();
}

// The delete-all dialog reads the card and deletes over the ticks.
bool DeleteAllSettles(FAppHarness& app)
{
    auto* manager = dynamic_cast<FUiDeleteAllWindow*>(app.Object("DeleteAllWin.WinMgr"));
    return manager && app.RunUntil([&] { return !manager->IsReading() && !manager->IsDeleting(); }, 60000);
}

bool CopyingBigImage(const FUiProgressWindow& progress)
{
    const FUiIpObjectCopyReq& request = progress.GetCopyRequest();
    return Utf8FromWide(request.m_usFileURL).find("BIG_0001") != std::string::npos &&
           request.m_Async.GetProgress() > 0.1;
}

bool BatchDone(const FUiProgressWindow& progress)
{
    return progress.GetWaitingCount() == 0 && !progress.IsBatchRunning() &&
           progress.GetState() == FUiProgressWindow::kIdle;
}

std::string Shown(FAppHarness& app, const std::string& path)
{
    auto* text = dynamic_cast<FUiDynaString*>(app.Object(path));
    return text ? Utf8FromWide(text->GetShownText()) : std::string("<none>");
}

struct Download {
    FUiCameraObject* camera = nullptr;
    FUiCopyCameraWindow* dialog = nullptr;
    FUiProgressWindow* progress = nullptr;
    FUiIpObject* bridge = nullptr;
};

// As the user does once the camera is there: the main window opens the dialog on the
// card, the dialog scans it, and the destination is typed in.
void OpenDownload(FAppHarness& app, const std::string& destination, Download& d)
{
    d.camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
    d.dialog = dynamic_cast<FUiCopyCameraWindow*>(app.Object("DownloadWin.WinMgr"));
    d.progress = dynamic_cast<FUiProgressWindow*>(app.Object("ProgressWin.WinMgr"));
    d.bridge = dynamic_cast<FUiIpObject*>(app.Object("ProgressWin.Bridge"));
    ASSERT_TRUE(d.camera && d.dialog && d.progress && d.bridge);
    ASSERT_TRUE(RunUntilCamera(
        app, d.camera, [&] { return d.camera->IsConnected() && d.camera->GetCardUsed() > 0; }, 100));
    ASSERT_TRUE(app.Send("MainWin.WinMgr", "Download"));
    ASSERT_TRUE(app.RunUntil([&] { return !d.dialog->IsScanning(); }, 60000));
    FWideString native = WideFromUtf8(destination);
    app.Send("DownloadWin.DstDir", "SetText", &native);
}

} // namespace

// Everything is clicked: the toolbar's Download, the dialog's Download, the delete-all
// dialog's Delete; the progress window and its bridge do the copying.
TEST_F(CameraJourneyTest, ListDownloadCompareAndDeleteAllKeepsTheLockedImages)
{
    FScopedTempFolder destination;
    FAppHarness harness;
    std::string deleteStatus;
    const int status = harness.Start([&](FAppHarness& app) {
        auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
        auto* download = dynamic_cast<FUiCopyCameraWindow*>(app.Object("DownloadWin.WinMgr"));
        auto* progress = dynamic_cast<FUiProgressWindow*>(app.Object("ProgressWin.WinMgr"));
        ASSERT_TRUE(camera && download && progress);
        ASSERT_TRUE(RunUntilCamera(
            app, camera, [&] { return camera->IsConnected() && camera->GetCardUsed() > 0; }, 100));

        ASSERT_TRUE(app.Click("MainWin.Download"));
        ASSERT_TRUE(app.Window("DownloadWin")->IsVisible());
        ASSERT_TRUE(app.RunUntil([&] { return !download->IsScanning(); }, 60000));
        EXPECT_EQ(download->GetList().GetCount(), kImages);
        EXPECT_EQ(Shown(app, "DownloadWin.AllCount").rfind("(200 images, ", 0), 0u)
            << Shown(app, "DownloadWin.AllCount");

        FWideString native = WideFromUtf8(destination.GetPath());
        app.Send("DownloadWin.DstDir", "SetText", &native);
        ASSERT_TRUE(app.Watch("ProgressWin.WinMgr", "ON_IMAGE_ERROR"));
        ASSERT_TRUE(app.Click("DownloadWin.OK"));
        EXPECT_FALSE(app.Window("DownloadWin")->IsVisible());
        EXPECT_TRUE(app.Window("ProgressWin")->IsVisible());
        EXPECT_TRUE(app.RunUntil([&] { return BatchDone(*progress); }, 20000));
        EXPECT_FALSE(app.Window("ProgressWin")->IsVisible());
        EXPECT_TRUE(app.Log().empty());

        ASSERT_TRUE(app.Send("MainWin.WinMgr", "DeleteAllCameraImages"));
        ASSERT_TRUE(DeleteAllSettles(app));
        deleteStatus = Shown(app, "DeleteAllWin.Status");
        ASSERT_TRUE(app.Click("DeleteAllWin.OK"));
        ASSERT_TRUE(DeleteAllSettles(app));
        EXPECT_FALSE(app.Window("DeleteAllWin")->IsVisible());
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(deleteStatus, "Some images are locked and will be kept.");

    for (int i = 1; i <= kImages; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(m_camera.HasFile(ImagePath(i)), IsLocked(i));
        // The download marked what it took, without touching the image itself.
        if (IsLocked(i)) {
            EXPECT_EQ(m_camera.GetAttributes(ImagePath(i)), kLockedTransferred);
        }
        std::string name = ImagePath(i).substr(ImagePath(i).rfind('/') + 1);
        std::string copied;
        ASSERT_TRUE(destination.ReadFile(name, copied));
        const rawtest::Bytes raw = CardImage(i);
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
        ASSERT_TRUE(RunUntilCamera(
            app, camera, [&] { return camera->IsConnected() && camera->GetCardUsed() > 0; }, 100));

        ASSERT_TRUE(app.Send("MainWin.WinMgr", "DeleteAllCameraImages"));
        EXPECT_TRUE(app.Window("DeleteAllWin")->IsVisible());
        ASSERT_TRUE(DeleteAllSettles(app));
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

// "Delete all" asks the progress window before each image: one waiting to be converted
// stays on the card with the locked ones.
TEST_F(CameraJourneyTest, DeleteAllKeepsAnImageQueuedForConversion)
{
    FScopedTempFolder output;
    FAppHarness harness;
    const int status = harness.Start([&](FAppHarness& app) {
        auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
        ASSERT_NE(camera, nullptr);
        ASSERT_TRUE(RunUntilCamera(
            app, camera, [&] { return camera->IsConnected() && camera->GetCardUsed() > 0; }, 100));
        FUiIpObjectProcAndSaveReq save;
        save.m_usFileURL = camera->GetRootURL();
        save.m_usFileURL += FWideString(ImagePath(5).c_str());
        // The conversion waits on the question whether to replace its output, so it stays
        // queued however long the dialog takes to read the card.
        ASSERT_TRUE(output.WriteFile("IMG_0005.jpg", "older"));
        NativePathToURL(WideFromUtf8(output.Join("IMG_0005.jpg")), save.m_usDstURL);
        ASSERT_TRUE(app.Send("ProgressWin.WinMgr", "ProcAndSave", &save));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "DeleteAllCameraImages"));
        ASSERT_TRUE(DeleteAllSettles(app));
        app.Send("DeleteAllWin.WinMgr", "OK");
        ASSERT_TRUE(DeleteAllSettles(app));
        app.Send("ProgressWin.WinMgr", "OKCancel");
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    for (int i = 1; i <= kImages; ++i)
        EXPECT_EQ(m_camera.HasFile(ImagePath(i)), IsLocked(i) || i == 5) << i;
}

// The first image is large and copied one piece per tick, so the unplug falls inside it.
TEST_F(CameraJourneyTest, AnUnplugMidDownloadLeavesNoPartialFileAndTellsTheUser)
{
    const rawtest::Bytes big = BigCardImage();
    ASSERT_GT(big.size(), 2u << 20);
    m_camera.AddFile("/cf/images/BIG_0001.q7f", SimCamera::Bytes(big.begin(), big.end()));
    FScopedTempFolder destination;
    FAppHarness harness;
    bool stillConnected = true;
    std::string line1, line2;
    const int status = harness.Start([&](FAppHarness& app) {
        Download d;
        ASSERT_NO_FATAL_FAILURE(OpenDownload(app, destination.GetPath(), d));
        ASSERT_EQ(d.dialog->GetList().GetCount(), kImages + 1);
        d.bridge->SetCopyBudget(std::chrono::microseconds(1), 1);
        ASSERT_TRUE(app.Click("DownloadWin.OK"));
        ASSERT_TRUE(app.RunUntil([&] { return CopyingBigImage(*d.progress); }, 5000));
        m_camera.Unplug();
        EXPECT_TRUE(app.RunUntil([&] { return BatchDone(*d.progress); }, 20000));
        line1 = Shown(app, "ProgressErrWin.Line1");
        line2 = Shown(app, "ProgressErrWin.Line2");
        EXPECT_TRUE(app.Window("ProgressErrWin")->IsVisible());
        RunUntilCamera(
            app, d.camera, [&] { return !d.camera->IsConnected(); }, 200);
        stillConnected = d.camera->IsConnected();
        app.Send("ProgressErrWin", "Hide");
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(stillConnected);
    EXPECT_EQ(line1, "The image could not be downloaded.");
    EXPECT_NE(line2.find("could not be read or written"), std::string::npos) << line2;
    // What was copied before the unplug is whole; neither the broken copy nor a temporary
    // file is left behind, and the card keeps everything.
    int whole = 0;
    for (const auto& file : std::filesystem::directory_iterator(destination.GetPath())) {
        const std::string name = file.path().filename().string();
        ASSERT_EQ(name.rfind("IMG_", 0), 0u) << name;
        const int i = std::stoi(name.substr(4, 4));
        std::string copied;
        ASSERT_TRUE(destination.ReadFile(name, copied));
        const rawtest::Bytes raw = CardImage(i);
        EXPECT_EQ(copied, std::string(raw.begin(), raw.end())) << name;
        ++whole;
    }
    EXPECT_LT(whole, kImages);
    EXPECT_TRUE(m_camera.HasFile("/cf/images/BIG_0001.q7f"));
    for (int i = 1; i <= kImages; ++i)
        EXPECT_TRUE(m_camera.HasFile(ImagePath(i))) << i;
}

// Ticks the windows `ticks` times; answers the longest tick, in milliseconds.
double LongestTick(FAppHarness& app, int ticks)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point last = Clock::now();
    double longest = 0;
    bool first = true;
    app.RunUntil(
        [&] {
            const Clock::time_point now = Clock::now();
            if (!first)
                longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            first = false;
            last = now;
            return false;
        },
        ticks);
    return longest;
}

// The camera stops answering in the middle of a large image. The windows keep their
// pace; once it answers again the download ends whole, and a download cancelled during
// the stall leaves no partial file and the card untouched.
TEST_F(CameraJourneyTest, AStallingCameraNeverHoldsTheWindows)
{
    const rawtest::Bytes big = BigCardImage();
    m_camera.AddFile("/cf/images/BIG_0001.q7f", SimCamera::Bytes(big.begin(), big.end()));
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "completed");
        FScopedTempFolder destination;
        FAppHarness harness;
        double longest = -1;
        int stalled = 0;
        const int status = harness.Start([&](FAppHarness& app) {
            Download d;
            ASSERT_NO_FATAL_FAILURE(OpenDownload(app, destination.GetPath(), d));
            d.bridge->SetCopyBudget(FUiIpObject::kDefaultCopyBudget, 1);
            ASSERT_TRUE(app.Click("DownloadWin.OK"));
            ASSERT_TRUE(app.RunUntil([&] { return CopyingBigImage(*d.progress); }, 5000));
            m_camera.Stall();
            // Long enough for the camera object's polls to meet the stall too.
            longest = LongestTick(app, 100);
            stalled = m_camera.StalledCalls();
            if (cancel) {
                ASSERT_TRUE(app.Click("ProgressWin.Cancel"));
            }
            const double whileCancelling = LongestTick(app, 20);
            longest = std::max(longest, whileCancelling);
            m_camera.Release();
            EXPECT_TRUE(
                app.RunUntil([&] { return BatchDone(*d.progress) && d.bridge->IsCopyQuiet(); }, 20000));
            EXPECT_TRUE(d.camera->IsConnected());
            app.Send("MainWin", "Close");
        });
        EXPECT_EQ(status, 0);
        std::printf("longest tick while the camera stalled (%s): %.1f ms\n", cancel ? "cancel" : "complete",
                    longest);
        EXPECT_GT(stalled, 0);
        EXPECT_GE(longest, 0.0);
        // A tick that waited for the stalled camera would last until its release or the
        // device's timeout, seconds; the pace itself is the camera download benchmark's.
        EXPECT_LT(longest, 1000.0);
        // Whole copies only, the large one whole unless cancelled; the card keeps everything.
        std::string copied;
        EXPECT_EQ(destination.ReadFile("BIG_0001.q7f", copied), !cancel);
        if (!cancel) {
            EXPECT_EQ(copied, std::string(big.begin(), big.end()));
        }
        for (const auto& file : std::filesystem::directory_iterator(destination.GetPath())) {
            const std::string name = file.path().filename().string();
            if (name == "BIG_0001.q7f")
                continue;
            ASSERT_EQ(name.rfind("IMG_", 0), 0u) << name;
            ASSERT_TRUE(destination.ReadFile(name, copied));
            const rawtest::Bytes raw = CardImage(std::stoi(name.substr(4, 4)));
            EXPECT_EQ(copied, std::string(raw.begin(), raw.end())) << name;
        }
        EXPECT_TRUE(m_camera.HasFile("/cf/images/BIG_0001.q7f"));
    }
}

TEST_F(CameraJourneyTest, ACameraAnsweringGarbageLosesNothingAndHangsNothing)
{
    FAppHarness harness;
    int listed = -1;
    std::string status;
    const int exitStatus = harness.Start([&](FAppHarness& app) {
        auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
        ASSERT_NE(camera, nullptr);
        ASSERT_TRUE(RunUntilCamera(
            app, camera, [&] { return camera->IsConnected(); }, 100));
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
        ASSERT_TRUE(DeleteAllSettles(app));
        status = Shown(app, "DeleteAllWin.Status");
        app.Send("DeleteAllWin.WinMgr", "OK");
        RunUntilCamera(
            app, camera, [&] { return !camera->IsConnected(); }, 200);
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

// A destination that runs out of room in the middle of a large image, with "delete from
// camera" chosen: the image that did not fit stays on the card and leaves nothing behind,
// the user is told, and the others are copied whole (and only then deleted).
TEST_F(CameraJourneyTest, ADestinationOutOfRoomKeepsTheImageOnTheCard)
{
    const rawtest::Bytes big = BigCardImage();
    ASSERT_GT(big.size(), 2u << 20);
    m_camera.AddFile("/cf/images/BIG_0001.q7f", SimCamera::Bytes(big.begin(), big.end()));
    FScopedTempFolder destination;
    FAppHarness harness;
    bool told = false;
    const int status = harness.Start([&](FAppHarness& app) {
        Download d;
        ASSERT_NO_FATAL_FAILURE(OpenDownload(app, destination.GetPath(), d));
        ASSERT_EQ(d.dialog->GetList().GetCount(), kImages + 1);
        ASSERT_TRUE(app.Click("DownloadWin.Delete"));
        {
            // No file may grow past 1 MB: the large image's writes fail part way, as on a full disk.
            FScopedFileSizeLimit limit(1024 * 1024);
            ASSERT_TRUE(app.Click("DownloadWin.OK"));
            EXPECT_TRUE(app.RunUntil([&] { return BatchDone(*d.progress); }, 20000));
        }
        told = app.Window("ProgressErrWin")->IsVisible();
        app.Send("ProgressErrWin", "Hide");
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(told);
    EXPECT_TRUE(m_camera.HasFile("/cf/images/BIG_0001.q7f"));
    size_t files = 0;
    for (const auto& file : std::filesystem::directory_iterator(destination.GetPath())) {
        const std::string name = file.path().filename().string();
        ASSERT_EQ(name.rfind("IMG_", 0), 0u) << name;
        ++files;
    }
    EXPECT_EQ(files, size_t(kImages));
    for (int i = 1; i <= kImages; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(m_camera.HasFile(ImagePath(i)), IsLocked(i));
        std::string copied;
        ASSERT_TRUE(destination.ReadFile(ImagePath(i).substr(ImagePath(i).rfind('/') + 1), copied));
        const rawtest::Bytes raw = CardImage(i);
        EXPECT_EQ(copied, std::string(raw.begin(), raw.end()));
    }
}

// Logout's SIGTERM in the middle of a large image, with "delete from camera" chosen: the
// program ends as Quit does, the image stays on the card and nothing half copied is left.
TEST_F(CameraJourneyTest, AQuitSignalMidCopyKeepsTheImageOnTheCard)
{
    const rawtest::Bytes big = BigCardImage();
    m_camera.AddFile("/cf/images/BIG_0001.q7f", SimCamera::Bytes(big.begin(), big.end()));
    FScopedTempFolder destination;
    InstallOsQuitSignals();
    FAppHarness harness;
    bool signalled = false;
    const int status = harness.Start([&](FAppHarness& app) {
        Download d;
        ASSERT_NO_FATAL_FAILURE(OpenDownload(app, destination.GetPath(), d));
        // Small pieces, so that the signal finds the large image half copied.
        d.bridge->SetCopyBudget(std::chrono::microseconds(1), 1);
        ASSERT_TRUE(app.Click("DownloadWin.Delete"));
        ASSERT_TRUE(app.Click("DownloadWin.OK"));
        ASSERT_TRUE(app.RunUntil([&] { return CopyingBigImage(*d.progress); }, 5000));
        signalled = true;
        raise(SIGTERM);
        EXPECT_TRUE(app.RunUntil([] { return GetHeadlessDesktop().quit; }, 200));
    });
    RestoreOsQuitSignals();
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(signalled);
    EXPECT_TRUE(m_camera.HasFile("/cf/images/BIG_0001.q7f"));
    for (const auto& file : std::filesystem::directory_iterator(destination.GetPath())) {
        const std::string name = file.path().filename().string();
        ASSERT_EQ(name.rfind("IMG_", 0), 0u) << "left behind: " << name;
        // A copy that is there is whole, and only then gone from the card.
        const int i = std::stoi(name.substr(4, 4));
        std::string copied;
        ASSERT_TRUE(destination.ReadFile(name, copied));
        const rawtest::Bytes raw = CardImage(i);
        EXPECT_EQ(copied, std::string(raw.begin(), raw.end())) << name;
    }
}

// A camera that stops answering in the middle of a large image: the windows keep ticking,
// Cancel in the progress window ends the batch, the user is told, and nothing half
// copied is left.
TEST_F(CameraJourneyTest, AStallingCameraCanBeCancelled)
{
    const rawtest::Bytes big = BigCardImage();
    ASSERT_GT(big.size(), 2u << 20);
    m_camera.AddFile("/cf/images/BIG_0001.q7f", SimCamera::Bytes(big.begin(), big.end()));
    FScopedTempFolder destination;
    FAppHarness harness;
    bool told = false, ended = false;
    const int status = harness.Start([&](FAppHarness& app) {
        Download d;
        ASSERT_NO_FATAL_FAILURE(OpenDownload(app, destination.GetPath(), d));
        d.bridge->SetCopyBudget(std::chrono::microseconds(1), 1);
        ASSERT_TRUE(app.Click("DownloadWin.OK"));
        ASSERT_TRUE(app.RunUntil([&] { return CopyingBigImage(*d.progress); }, 5000));
        m_camera.SetCommandStuck(true);
        // Ticks go on while the camera says nothing.
        EXPECT_TRUE(app.RunUntil([&] { return app.Window("ProgressErrWin")->IsVisible(); }, 2000));
        ASSERT_TRUE(app.Click("ProgressWin.Cancel"));
        ended = app.RunUntil([&] { return BatchDone(*d.progress); }, 2000);
        told = app.Window("ProgressErrWin")->IsVisible();
        app.Send("ProgressErrWin", "Hide");
        app.Send("MainWin", "Close");
    });
    m_camera.SetCommandStuck(false);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(told);
    for (const auto& file : std::filesystem::directory_iterator(destination.GetPath())) {
        const std::string name = file.path().filename().string();
        ASSERT_EQ(name.rfind("IMG_", 0), 0u) << name;
        std::string copied;
        ASSERT_TRUE(destination.ReadFile(name, copied));
        const rawtest::Bytes raw = CardImage(std::stoi(name.substr(4, 4)));
        EXPECT_EQ(copied, std::string(raw.begin(), raw.end())) << name;
    }
    EXPECT_TRUE(m_camera.HasFile("/cf/images/BIG_0001.q7f"));
}

// A card of 100,000 images: the dialog reads them on the scan thread while the windows
// keep ticking, each image costs the camera a few questions of its own (never a listing
// of the whole card), and closing in the middle stops the scan.
TEST_F(CameraJourneyTest, AHundredThousandImagesAreReadWithoutListingTheCardForEach)
{
    constexpr int kMany = 100000;
    const rawtest::Bytes raw = CardImage(1);
    auto shared = std::make_shared<const SimCamera::Bytes>(raw.begin(), raw.end());
    for (int i = 1; i <= kMany; ++i) {
        char name[64];
        std::snprintf(name, sizeof(name), "/cf/many/IMG_%06d.q7f", i);
        m_camera.AddSharedFile(name, shared);
    }
    FAppHarness harness;
    int listingsBefore = 0, listings = -1, ticks = 0;
    bool scanning = false;
    const int status = harness.Start([&](FAppHarness& app) {
        auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
        auto* download = dynamic_cast<FUiCopyCameraWindow*>(app.Object("DownloadWin.WinMgr"));
        ASSERT_TRUE(camera && download);
        ASSERT_TRUE(RunUntilCamera(
            app, camera, [&] { return camera->IsConnected(); }, 100));
        FWideString folder = camera->GetRootURL();
        folder += "/cf/many/";
        listingsBefore = m_camera.Listings();
        const int questionsBefore = m_camera.NameWrites();
        ASSERT_TRUE(app.Send("DownloadWin.WinMgr", "DownloadDir", &folder));
        // A few thousand images read, with the windows ticking all along.
        EXPECT_TRUE(app.RunUntil(
            [&] {
                ++ticks;
                return m_camera.NameWrites() - questionsBefore > 20000;
            },
            10000000));
        listings = m_camera.Listings() - listingsBefore;
        scanning = download->IsScanning();
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(scanning);
    EXPECT_GT(ticks, 100);
    // The card's listing, and now and then its subfolders: not one listing per image.
    EXPECT_LT(listings, 100);
}
