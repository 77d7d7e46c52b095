// Where the program's windows appear on a 1920 x 1080 screen: on it, beside each other,
// and dialogs on the window they were opened from.

#include <gtest/gtest.h>

#include <string>

#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FTempDiskFolder.h"
#include "SampleJourney.h"

namespace
{

std::string Text(const FRect& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

bool Overlap(const FRect& a, const FRect& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST(WindowPlacementJourney, WindowsSitOnTheScreenBesideEachOtherAndDialogsOnTheirOwner)
{
    std::string error;
    ASSERT_NE(journey::Samples(error), nullptr) << error;
    FTempDiskFolder folder;
    ASSERT_TRUE(journey::CopySample(folder, "chart.q7f", "a.q7f"));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        const FRect screen(0, 0, GetHeadlessDesktop().screenWidth, GetHeadlessDesktop().screenHeight);
        auto rectOf = [&](const char* name) {
            FRect rect;
            app.Window(name)->GetWindowRect(rect);
            return rect;
        };
        auto onScreen = [&](const FRect& r) {
            return r.left >= screen.left && r.top >= screen.top && r.right <= screen.right &&
                   r.bottom <= screen.bottom;
        };
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'I'));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'P'));
        ASSERT_NE(journey::ShowFolder(app, folder.GetUrl(), 1), nullptr);
        ASSERT_TRUE(journey::ReviewAndWait(app, folder.GetUrl("a.q7f")));
        ASSERT_TRUE(app.Window("InformationWin")->IsOnScreen());
        ASSERT_TRUE(app.Window("PaletteWin")->IsOnScreen());
        for (const char* name : {"MainWin", "InformationWin", "ReviewWin", "PaletteWin"})
            EXPECT_TRUE(onScreen(rectOf(name))) << name << " at " << Text(rectOf(name));
        EXPECT_FALSE(Overlap(rectOf("MainWin"), rectOf("InformationWin")));
        EXPECT_FALSE(Overlap(rectOf("ReviewWin"), rectOf("PaletteWin")));
        EXPECT_FALSE(Overlap(rectOf("PaletteWin"), rectOf("InformationWin")))
            << Text(rectOf("PaletteWin")) << " over " << Text(rectOf("InformationWin"));

        // The chooser has no owner in the script: it opens on the review window.
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'W'));
        ASSERT_TRUE(app.Window("WhiteBalanceWin")->IsVisible());
        const FRect review = rectOf("ReviewWin");
        const FRect chooser = rectOf("WhiteBalanceWin");
        EXPECT_NEAR((chooser.left + chooser.right) / 2, (review.left + review.right) / 2, 1);
        EXPECT_NEAR((chooser.top + chooser.bottom) / 2, (review.top + review.bottom) / 2, 1);
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

} // namespace
