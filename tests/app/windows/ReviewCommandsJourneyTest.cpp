// The review window's commands as a photographer gives them, through the real program,
// script and pool: keys, the white-balance chooser, the loupe and the toolbar's state.

#include <gtest/gtest.h>

#include <string>

#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FImageFileListEntry.h"
#include "FTempDiskFolder.h"
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

} // namespace
