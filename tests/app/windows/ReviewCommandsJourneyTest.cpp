// The review window's commands as a photographer gives them, through the real program,
// script and pool: keys, the white-balance chooser, the loupe and the toolbar's state.

#include <gtest/gtest.h>

#include <string>

#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FHeadlessUiWindow.h"
#include "FImageFileListEntry.h"
#include "FTempDiskFolder.h"
#include "FUiCheckbox.h"
#include "FUiReviewWindow.h"
#include "FUiScrollList.h"
#include "FUiWhiteBalance.h"
#include "SampleJourney.h"

namespace
{

class ReviewCommandsJourney : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_NE(journey::Samples(error), nullptr) << error;
    }
    FTempDiskFolder m_folder;
};

// W opens the chooser with the image's own white balance marked in the list.
TEST_F(ReviewCommandsJourney, TheChooserMarksTheImagesWhiteBalance)
{
    ASSERT_TRUE(journey::CopySample(m_folder, "tungsten-cast.q7f", "a.q7f"));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        auto* list = dynamic_cast<FUiScrollList*>(app.Object("WhiteBalanceWin.Illum"));
        auto* chooser = dynamic_cast<FUiWhiteBalance*>(app.Object("WhiteBalanceWin.WinMgr"));
        ASSERT_TRUE(review && list && chooser);
        ASSERT_NE(journey::ShowFolder(app, m_folder.GetUrl(), 1), nullptr);
        ASSERT_TRUE(journey::ReviewAndWait(app, m_folder.GetUrl("a.q7f")));
        const std::string own = review->GetEntry()->m_usWhiteBalance.GetNarrow();
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'W'));
        ASSERT_TRUE(app.Window("WhiteBalanceWin")->IsVisible());
        ASSERT_NE(list->GetSelectedItem(), nullptr) << "nothing marked for " << own;
        EXPECT_EQ(list->GetSelectedItem()->text.GetNarrow(), own);
        // OK without a new choice keeps the white balance as it was.
        ASSERT_TRUE(app.Click("WhiteBalanceWin.OK"));
        ASSERT_TRUE(journey::WaitForNewPicture(app));
        EXPECT_EQ(review->GetEntry()->m_usWhiteBalance.GetNarrow(), own);
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// The arrow keys go from image to image and Ctrl+= and Ctrl+- change the loupe, as the
// menus say; the menu shows the arrows themselves, whatever the language.
TEST_F(ReviewCommandsJourney, ArrowAndLoupeKeysDoWhatTheMenusShow)
{
    for (const char* name : {"a.q7f", "b.q7f", "c.q7f"})
        ASSERT_TRUE(journey::CopySample(m_folder, "chart.q7f", name));
    FAppHarness harness;
    harness.SetStartLanguage("German");
    harness.Start([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        ASSERT_NE(review, nullptr);
        ASSERT_NE(journey::ShowFolder(app, m_folder.GetUrl(), 3), nullptr);
        ASSERT_TRUE(journey::ReviewThroughBrowser(app, m_folder.GetUrl("b.q7f")));
        auto reviewing = [&](const char* name) {
            return app.RunUntil([&] { return journey::Reviewing(app) == name && review->IsIdle(); }, 3000);
        };
        ASSERT_TRUE(reviewing("b.q7f"));
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kRight));
        EXPECT_TRUE(reviewing("c.q7f")) << journey::Reviewing(app);
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLeft));
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLeft));
        EXPECT_TRUE(reviewing("a.q7f")) << journey::Reviewing(app);

        const double before = review->GetLoupeMag();
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kEquals, 0, true));
        EXPECT_GT(review->GetLoupeMag(), before);
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kMinus, 0, true));
        EXPECT_DOUBLE_EQ(review->GetLoupeMag(), before);

        auto* os = dynamic_cast<FHeadlessUiWindow*>(app.Window("ReviewWin")->GetOsWindow());
        ASSERT_NE(os, nullptr);
        std::string shortcuts;
        for (const auto& item : os->GetMenuBar().GetMenus().front()->GetItems())
            shortcuts += "[" + Utf8FromWide(item.shortcut) + "]";
        EXPECT_EQ(shortcuts.find("Left"), std::string::npos) << shortcuts;
        EXPECT_EQ(shortcuts.find("Right"), std::string::npos) << shortcuts;
        EXPECT_NE(shortcuts.find("[\u2190][\u2192]"), std::string::npos) << shortcuts;
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// The toolbar's mark and lock show the state of the image on screen and change it.
TEST_F(ReviewCommandsJourney, TheToolbarShowsMarkAndLock)
{
    for (const char* name : {"a.q7f", "b.q7f"})
        ASSERT_TRUE(journey::CopySample(m_folder, "chart.q7f", name));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        auto* mark = dynamic_cast<FUiCheckbox*>(app.Object("ReviewWin.Mark"));
        auto* lock = dynamic_cast<FUiCheckbox*>(app.Object("ReviewWin.Lock"));
        ASSERT_TRUE(review && mark && lock);
        ASSERT_NE(journey::ShowFolder(app, m_folder.GetUrl(), 2), nullptr);
        // b is marked in the browser before it is reviewed.
        FWideString b = m_folder.GetUrl("b.q7f");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &b));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'M'));
        ASSERT_TRUE(journey::ReviewThroughBrowser(app, m_folder.GetUrl("a.q7f")));
        auto reviewing = [&](const char* name) {
            return app.RunUntil([&] { return journey::Reviewing(app) == name && review->IsIdle(); }, 3000);
        };
        ASSERT_TRUE(reviewing("a.q7f"));
        EXPECT_FALSE(mark->GetState());
        EXPECT_FALSE(lock->GetState());
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kRight));
        ASSERT_TRUE(reviewing("b.q7f"));
        EXPECT_TRUE(mark->GetState());

        ASSERT_TRUE(app.Click("ReviewWin.Mark"));
        EXPECT_FALSE(review->GetEntry()->m_bMarked);
        EXPECT_FALSE(mark->GetState());
        ASSERT_TRUE(app.Click("ReviewWin.Lock"));
        EXPECT_TRUE(review->GetEntry()->m_bLocked);
        EXPECT_TRUE(lock->GetState());
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'L'));
        EXPECT_FALSE(review->GetEntry()->m_bLocked);
        EXPECT_FALSE(lock->GetState()) << "the menu's lock shows on the toolbar";
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

} // namespace
