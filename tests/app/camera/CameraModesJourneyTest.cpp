// The camera as the browser shows it, through the real program and script: a simulated
// camera arrives while the user browses a folder, the side bar shows its power, card and
// clock, the toolbar switches to its images and back, the clock is set, and the camera
// leaves again.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "BrowserFixtures.h"
#include "CamDevice.h"
#include "CamProtocol.h"
#include "CamSupport.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FOsWallClock.h"
#include "FTempDiskFolder.h"
#include "FUiButton.h"
#include "FUiCameraObject.h"
#include "FUiDateText.h"
#include "FUiDynaString.h"
#include "FUiFrame.h"
#include "FUiMainWindow.h"
#include "FUiMenu.h"
#include "FUiMultiLangString.h"
#include "FUiTextArray.h"
#include "FUiTextBox.h"
#include "SimCameraTest.h"

namespace
{

constexpr uint32_t kCameraClock = 1700000000;

uint32_t Word(const SimCamera::Bytes& bytes)
{
    return bytes.size() < 4 ? 0
                            : uint32_t(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24);
}

std::string Raw()
{
    const rawtest::Bytes raw =
        browsertest::MakeRaw(browsertest::RawOptions{.previewCols = 16, .previewRows = 12});
    return std::string(raw.begin(), raw.end());
}

std::string Text(FAppHarness& app, const std::string& path)
{
    if (auto* box = dynamic_cast<FUiTextBox*>(app.Object(path)))
        return Utf8FromWide(box->GetText());
    if (auto* line = dynamic_cast<FUiDynaString*>(app.Object(path)))
        return Utf8FromWide(line->GetShownText());
    if (auto* choice = dynamic_cast<FUiTextArray*>(app.Object(path))) {
        FIUiMultiLangString* text = app.App()->GetDisplayString(choice->GetTextAt(choice->GetIndex()));
        return text && text->GetText() ? Utf8FromWide(*text->GetText()) : "<no string>";
    }
    return "<none>";
}

bool Ticked(FAppHarness& app, const char* path)
{
    auto* item = dynamic_cast<FUiMenuItem*>(app.App()->GetUiRelay(FWideString(path)));
    return item && item->IsChecked();
}

bool Enabled(FAppHarness& app, const char* path)
{
    auto* button = dynamic_cast<FUiButton*>(app.Object(path));
    return button && button->GetState() != FUiButton::kDisabled;
}

class CameraModesJourney : public SimCameraTest
{
protected:
    void SetUp() override
    {
        SimCameraTest::SetUp();
        m_camera.AddFile("/dev/Time", Words({kCameraClock}), SimCamera::kDefaultFlags | kCamStatusWholeFile);
        const std::string raw = Raw();
        for (const char* name :
             {"/cf/images/IMG_0001.q7f", "/cf/images/IMG_0002.q7f", "/cf/images/IMG_0003.q7f"})
            m_camera.AddFile(name, SimCamera::Bytes(raw.begin(), raw.end()));
        Plug();
    }
};

} // namespace

TEST_F(CameraModesJourney, TheCameraArrivesIsBrowsedHasItsClockSetAndLeaves)
{
    FTempDiskFolder folder;
    ASSERT_TRUE(folder.WriteFile("home.q7f", Raw()));
    m_camera.Unplug();
    FAppHarness harness;
    const int status = harness.Start(
        [&](FAppHarness& app) {
            auto* camera = dynamic_cast<FUiCameraObject*>(app.Object("Camera"));
            auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
            auto* details = dynamic_cast<FUiFrame*>(app.Object("MainWin.CameraBox.CamDetails"));
            ASSERT_TRUE(camera && browser && details);
            EXPECT_EQ(Text(app, "MainWin.CameraBox.CamState"), "No camera connected");
            EXPECT_FALSE(details->IsVisible());
            EXPECT_FALSE(Enabled(app, "MainWin.Camera"));
            EXPECT_EQ(browser->GetList().GetCount(), 1);

            m_camera.Plug();
            ASSERT_TRUE(RunUntilCamera(
                app, camera, [&] { return camera->IsConnected() && camera->GetCardUsed() > 0; }, 200));
            EXPECT_EQ(Text(app, "MainWin.CameraBox.CamState"), "Camera connected");
            EXPECT_TRUE(details->IsVisible());
            EXPECT_EQ(Text(app, "MainWin.CameraBox.CamDetails.Power"), "Mains");
            EXPECT_EQ(Text(app, "MainWin.CameraBox.CamDetails.Card"), "Inserted");
            EXPECT_EQ(Text(app, "MainWin.CameraBox.CamDetails.CardCapacity"), "1.00 GB");
            EXPECT_FALSE(Text(app, "MainWin.CameraBox.CamDetails.CardUsed").empty());
            FWideString date, time;
            FormatDateString(date, kCameraClock);
            FormatTimeString(time, kCameraClock);
            EXPECT_EQ(Text(app, "MainWin.CameraBox.CamDetails.Clock"),
                      Utf8FromWide(date) + "  " + Utf8FromWide(time));
            // Still browsing the folder: the camera waits to be chosen.
            EXPECT_FALSE(browser->IsCameraMode());
            EXPECT_TRUE(Enabled(app, "MainWin.Camera"));

            ASSERT_TRUE(app.Click("MainWin.Camera"));
            EXPECT_TRUE(browser->IsCameraMode());
            EXPECT_TRUE(app.RunUntil([&] { return browser->GetList().GetCount() == 3; }, 1000));
            EXPECT_TRUE(Ticked(app, "MainWin.View.Camera"));
            EXPECT_FALSE(Ticked(app, "MainWin.View.Computer"));
            EXPECT_NE(Text(app, "MainWin.StatusImages").find("3 images on the camera"), std::string::npos)
                << Text(app, "MainWin.StatusImages");

            // The clock is set to this computer's local time, counted as the camera counts it.
            const int64_t now = GetOsCalendarTime();
            ASSERT_TRUE(app.Click("MainWin.CameraBox.CamDetails.SetClock"));
            SimCamera::Bytes clock;
            ASSERT_TRUE(m_camera.GetFile("/dev/Time", clock));
            const int64_t local = now + GetOsLocalTimeOffset(now);
            EXPECT_NEAR(double(Word(clock)), double(local), 5.0);
            FormatDateString(date, Word(clock));
            EXPECT_EQ(Text(app, "MainWin.CameraBox.CamDetails.Clock").rfind(Utf8FromWide(date), 0), 0u);

            ASSERT_TRUE(app.Key("MainWin", EOsKey::kFunction, 3));
            EXPECT_FALSE(browser->IsCameraMode());
            EXPECT_TRUE(Ticked(app, "MainWin.View.Computer"));
            EXPECT_EQ(browser->GetList().GetCount(), 1);
            ASSERT_TRUE(app.Key("MainWin", EOsKey::kFunction, 4));
            EXPECT_TRUE(browser->IsCameraMode());

            // The camera leaves: the card goes with it and the browser is back on the computer.
            m_camera.Unplug();
            ASSERT_TRUE(RunUntilCamera(
                app, camera, [&] { return !camera->IsConnected(); }, 200));
            EXPECT_EQ(Text(app, "MainWin.CameraBox.CamState"), "No camera connected");
            EXPECT_FALSE(details->IsVisible());
            EXPECT_FALSE(browser->IsCameraMode());
            EXPECT_FALSE(Enabled(app, "MainWin.Camera"));
            app.Send("MainWin", "Close");
        },
        folder.GetPath());
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(harness.MessageBoxes().empty());
}
