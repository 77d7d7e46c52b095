// A damaged file in the review window, through the real program, script and pool: the error
// is shown with its text, no picture of another file stays on screen under its name, and
// once the user acknowledges it the window goes on to the next image or closes.

#include <gtest/gtest.h>

#include <string>

#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FIPMImage.h"
#include "FTempDiskFolder.h"
#include "FUiDynaString.h"
#include "FUiImageView.h"
#include "FUiReviewWindow.h"
#include "SampleJourney.h"

namespace
{

struct Damage {
    const char* label;
    const char* sample;
    const char* name; // sorts between "a.q7f" and "c.q7f"
    double keep;
};

const Damage kDamages[] = {
    {"RawHeader", "chart.q7f", "b.q7f", 0.3},
    {"Tiff", "chart.tif", "b.tif", 0.4},
    {"Jpeg", "astronaut.jpg", "b.jpg", 0.3},
};

class ReviewErrorJourney : public ::testing::TestWithParam<Damage>
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_NE(journey::Samples(error), nullptr) << error;
    }
    // The review window shows `name`'s own picture and has nothing left to do.
    static bool ShowsOwnPicture(FAppHarness& app, const std::string& name)
    {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        auto* view = dynamic_cast<FUiImageView*>(app.Object("ReviewWin.View"));
        return app.RunUntil(
            [&] {
                return journey::Reviewing(app) == name && review->IsIdle() && view->GetImage() &&
                       view->GetImage()->GetPixmap();
            },
            3000);
    }
    static std::string Shown(FAppHarness& app, const char* line)
    {
        auto* text = dynamic_cast<FUiDynaString*>(app.Object(std::string("ReviewErrWin.") + line));
        return text ? text->GetShownText().GetNarrow() : "<no line>";
    }
    FTempDiskFolder m_folder;
};

TEST_P(ReviewErrorJourney, TheErrorIsShownAndAcknowledgedThenTheNextImageFollows)
{
    const Damage& damage = GetParam();
    ASSERT_TRUE(journey::CopySample(m_folder, "chart.q7f", "a.q7f"));
    ASSERT_TRUE(journey::CopySample(m_folder, damage.sample, damage.name, damage.keep));
    ASSERT_TRUE(journey::CopySample(m_folder, "tungsten-cast.q7f", "c.q7f"));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* view = dynamic_cast<FUiImageView*>(app.Object("ReviewWin.View"));
        FGenericUiWindow* dialog = app.Window("ReviewErrWin");
        ASSERT_TRUE(view && dialog);
        ASSERT_NE(journey::ShowFolder(app, m_folder.GetUrl(), 3), nullptr);
        ASSERT_TRUE(journey::ReviewThroughBrowser(app, m_folder.GetUrl("a.q7f")));
        ASSERT_TRUE(ShowsOwnPicture(app, "a.q7f"));

        ASSERT_TRUE(app.Click("ReviewWin.Next"));
        ASSERT_TRUE(app.RunUntil([&] { return dialog->IsVisible(); }, 3000))
            << "no error shown for " << damage.name << "; reviewing " << journey::Reviewing(app);
        EXPECT_EQ(journey::Reviewing(app), damage.name);
        EXPECT_EQ(view->GetImage(), nullptr) << "a picture stays on screen under the damaged file's name";
        EXPECT_NE(Shown(app, "Line1").find("could not be shown"), std::string::npos) << Shown(app, "Line1");
        EXPECT_GT(Shown(app, "Line2").size(), 10u) << Shown(app, "Line2");

        ASSERT_TRUE(app.Click("ReviewErrWin.OK"));
        EXPECT_FALSE(dialog->IsVisible());
        EXPECT_TRUE(ShowsOwnPicture(app, "c.q7f")) << "reviewing " << journey::Reviewing(app);
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// With nothing after the damaged image and nothing before it, the acknowledged error closes
// the review window instead of leaving it empty.
TEST_P(ReviewErrorJourney, TheOnlyImageDamagedClosesTheWindow)
{
    const Damage& damage = GetParam();
    ASSERT_TRUE(journey::CopySample(m_folder, damage.sample, damage.name, damage.keep));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        FGenericUiWindow* dialog = app.Window("ReviewErrWin");
        FGenericUiWindow* review = app.Window("ReviewWin");
        ASSERT_TRUE(dialog && review);
        ASSERT_NE(journey::ShowFolder(app, m_folder.GetUrl(), 1), nullptr);
        ASSERT_TRUE(journey::ReviewThroughBrowser(app, m_folder.GetUrl(damage.name)));
        ASSERT_TRUE(app.RunUntil([&] { return dialog->IsVisible(); }, 3000));
        // Closed by its title bar, it counts as acknowledged too.
        ASSERT_TRUE(app.Send("ReviewErrWin", "Close"));
        EXPECT_FALSE(dialog->IsVisible());
        EXPECT_TRUE(app.RunUntil([&] { return !review->IsVisible(); }, 300));
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReviewErrorJourney, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) { return info.param.label; });

} // namespace
