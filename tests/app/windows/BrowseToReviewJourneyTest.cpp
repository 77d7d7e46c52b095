// From the browser to the review window and back, through the script's routes alone:
// the real program, the real script and pool, on the sample raws.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FTempDiskFolder.h"
#include "FUiButton.h"
#include "FUiImageView.h"
#include "FUiMainWindow.h"
#include "FUiReviewWindow.h"
#include "FUiThumbnails.h"
#include "FUiWhiteBalance.h"
#include "SampleSet.h"

namespace
{

bool AllThumbnailsShown(FUiThumbnails* view)
{
    for (ThumbnailCell* cell = view->GetFirstCell(); cell; cell = cell->next)
        if (!cell->entry || !cell->entry->m_pThumbnail)
            return false;
    return view->GetCellCount() > 1;
}

// A click then a double click in the middle of the cell, as the display delivers them.
bool DoubleClick(FAppHarness& app, const ThumbnailCell& cell)
{
    FGenericUiWindow* window = app.Window("MainWin");
    auto* os = window ? dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow()) : nullptr;
    if (!os)
        return false;
    const int x = (cell.rect.left + cell.rect.right) / 2;
    const int y = (cell.rect.top + cell.rect.bottom) / 2;
    os->InjectMouseDown(x, y, 1);
    os->InjectMouseUp(x, y);
    os->InjectMouseDown(x, y, 2);
    os->InjectMouseUp(x, y);
    HeadlessPumpUntilIdle();
    return true;
}

std::string Name(const FImageFileListEntry* entry)
{
    return entry ? entry->m_usFileName.GetNarrow() : "<none>";
}

class BrowseToReviewJourney : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = new FTempDiskFolder();
        SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
        samples::SampleReport report;
        s_made = samples::MakeSamples(s_folder->GetPath(), report, *s_error);
        SetIPManagerPoolSize(0);
    }
    static void TearDownTestSuite()
    {
        delete s_folder;
        s_folder = nullptr;
    }
    // Shows the sample folder through the folder tree; null unless every thumbnail came.
    static FUiThumbnails* ShowSamples(FAppHarness& app)
    {
        auto* thumbs = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
        FWideString url = s_folder->GetUrl();
        if (!thumbs || !app.Send("MainWin.Folders", "SelectDir", &url) ||
            !app.RunUntil([&] { return AllThumbnailsShown(thumbs); }, 3000))
            return nullptr;
        return thumbs;
    }
    static FTempDiskFolder* s_folder;
    static bool s_made;
    static std::string* s_error;
};

FTempDiskFolder* BrowseToReviewJourney::s_folder = nullptr;
bool BrowseToReviewJourney::s_made = false;
std::string* BrowseToReviewJourney::s_error = new std::string;

TEST_F(BrowseToReviewJourney, DoubleClickReviewsTheCellAndNextMovesToItsNeighbour)
{
    ASSERT_TRUE(s_made) << *s_error;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        auto* view = dynamic_cast<FUiImageView*>(app.Object("ReviewWin.View"));
        FGenericUiWindow* reviewWin = app.Window("ReviewWin");
        ASSERT_TRUE(review && view && reviewWin);
        EXPECT_FALSE(reviewWin->IsVisible());
        FUiThumbnails* thumbs = ShowSamples(app);
        ASSERT_NE(thumbs, nullptr);

        // The second cell, so that both neighbours exist.
        ThumbnailCell* cell = thumbs->GetFirstCell()->next;
        ASSERT_NE(cell, nullptr);
        const std::string chosen = Name(cell->entry);
        const std::string previous = Name(thumbs->GetFirstCell()->entry);
        const std::string following = Name(cell->next ? cell->next->entry : nullptr);
        ASSERT_TRUE(DoubleClick(app, *cell));

        EXPECT_TRUE(reviewWin->IsVisible());
        // The review window takes the entry on its next tick.
        auto reviewing = [&](const std::string& name) {
            return app.RunUntil(
                [&] {
                    FIPMImage* image = view->GetImage();
                    return Name(review->GetEntry()) == name && image && image->GetPixmap() &&
                           review->IsIdle();
                },
                3000);
        };
        ASSERT_TRUE(reviewing(chosen)) << Name(review->GetEntry());
        FPixmap* pixmap = view->GetImage()->GetPixmap();
        EXPECT_EQ(pixmap->GetCols(), review->GetFittedWidth());
        EXPECT_EQ(pixmap->GetRows(), review->GetFittedHeight());
        EXPECT_GT(review->GetFittedWidth(), 0);

        // The list position came from the browser: both arrows are live.
        EXPECT_EQ(review->GetEntry()->m_nVisibleIndex, 1);
        EXPECT_EQ(review->GetEntry()->m_nVisibleCount, thumbs->GetCellCount());
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "GotoNextImage"));
        ASSERT_TRUE(reviewing(following)) << Name(review->GetEntry());
        EXPECT_EQ(review->GetEntry()->m_nVisibleIndex, 2);
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "GotoPrevImage"));
        ASSERT_TRUE(reviewing(chosen)) << Name(review->GetEntry());
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "GotoPrevImage"));
        ASSERT_TRUE(reviewing(previous)) << Name(review->GetEntry());
        EXPECT_EQ(review->GetEntry()->m_nVisibleIndex, 0);
        // At the start of the list there is nothing before.
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "GotoPrevImage"));
        ASSERT_TRUE(reviewing(previous));
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// The E key reviews the selected image; a saved setting chosen there comes back from the
// settings manager as the review window's custom values.
TEST_F(BrowseToReviewJourney, ReviewKeyAndASavedSettingRoundTrip)
{
    ASSERT_TRUE(s_made) << *s_error;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        ASSERT_NE(review, nullptr);
        FUiThumbnails* thumbs = ShowSamples(app);
        ASSERT_NE(thumbs, nullptr);
        const std::string first = Name(thumbs->GetFirstCell()->entry);
        // The menu item is live once something is selected.
        FWideString firstURL = thumbs->GetFirstCell()->entry->m_usURL;
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &firstURL));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'E'));
        EXPECT_TRUE(app.Window("ReviewWin")->IsVisible());
        ASSERT_TRUE(app.RunUntil([&] { return Name(review->GetEntry()) == first && review->IsIdle(); }, 3000))
            << Name(review->GetEntry());

        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ManualAdjust"));
        double exposure = 1.0;
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure));
        ASSERT_NE(review->GetCustomSettings().Exposure, 0.0);

        // The zero setting is always first in the manager's list.
        std::vector<FWideString> names;
        ASSERT_TRUE(app.Send("Settings", "GetList", &names));
        ASSERT_FALSE(names.empty());
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "SelectedSetting", &names.front()));
        EXPECT_EQ(review->GetCustomSettings().Exposure, 0.0);
        EXPECT_EQ(review->GetSettingMode(), CustomSettingMode);
        ASSERT_TRUE(app.RunUntil([&] { return review->IsIdle(); }, 3000));
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// The W key opens the white-balance chooser for the selected raw; its OK writes the
// choice into the file through the browser.
TEST_F(BrowseToReviewJourney, TheBrowsersWhiteBalanceChoiceReachesTheFile)
{
    ASSERT_TRUE(s_made) << *s_error;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        auto* chooser = dynamic_cast<FUiWhiteBalance*>(app.Object("WhiteBalanceWin.WinMgr"));
        ASSERT_TRUE(browser && chooser);
        FUiThumbnails* thumbs = ShowSamples(app);
        ASSERT_NE(thumbs, nullptr);
        ThumbnailCell* cell = thumbs->GetFirstCell();
        while (cell && !(cell->entry && cell->entry->m_bRaw))
            cell = cell->next;
        ASSERT_NE(cell, nullptr);
        FImageFileListEntry* entry = cell->entry;
        const FWideString imageURL = entry->m_usURL;
        FWideString selected = imageURL;
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &selected));

        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'W'));
        ASSERT_TRUE(app.Window("WhiteBalanceWin")->IsVisible());
        FWideString wanted;
        // A preset whose English text is its own name, other than the file's.
        for (const FWideString& name : chooser->GetShownList())
            for (const char* preset : {"Tungsten", "Shade", "Cloudy", "Flash", "Daylight"})
                if (wanted.IsEmpty() && name == FWideString(preset) && name != entry->m_usWhiteBalance)
                    wanted = name;
        ASSERT_FALSE(wanted.IsEmpty());
        ASSERT_TRUE(app.Send("WhiteBalanceWin.WinMgr", "WBName", &wanted));
        ASSERT_TRUE(app.Click("WhiteBalanceWin.OK"));
        EXPECT_FALSE(app.Window("WhiteBalanceWin")->IsVisible());
        FImageFileListEntry* after = browser->GetList().FindByURL(imageURL);
        ASSERT_NE(after, nullptr);
        EXPECT_EQ(std::string(after->m_usWhiteBalance.GetNarrow()), std::string(wanted.GetNarrow()));
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// "Save All" waits for images, then opens the batch save dialog on the browsed folder.
TEST_F(BrowseToReviewJourney, SaveAllOpensTheBatchDialogOnTheFolder)
{
    ASSERT_TRUE(s_made) << *s_error;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        FGenericUiWindow* dialog = app.Window("SaveImagesWin");
        auto* saveAll = dynamic_cast<FUiButton*>(app.Object("MainWin.SaveAll"));
        ASSERT_TRUE(dialog && saveAll);
        EXPECT_EQ(saveAll->GetState(), FUiButton::kDisabled);
        FUiThumbnails* thumbs = ShowSamples(app);
        ASSERT_NE(thumbs, nullptr);
        EXPECT_NE(saveAll->GetState(), FUiButton::kDisabled);
        EXPECT_FALSE(dialog->IsVisible());
        ASSERT_TRUE(app.Click("MainWin.SaveAll"));
        EXPECT_TRUE(dialog->IsVisible());
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// The I key and the toolbar button show and hide the information window through the
// browser, which keeps the choice.
TEST(BrowseToInformationJourney, TheKeyAndTheButtonToggleTheWindow)
{
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        FGenericUiWindow* info = app.Window("InformationWin");
        ASSERT_NE(info, nullptr);
        EXPECT_FALSE(info->IsVisible());
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'I'));
        EXPECT_TRUE(info->IsVisible());
        ASSERT_TRUE(app.Click("MainWin.Info"));
        EXPECT_FALSE(info->IsVisible());
        ASSERT_TRUE(app.Click("MainWin.Info"));
        EXPECT_TRUE(info->IsVisible());
        // Closed by its title bar: the next press shows it again.
        auto* os = dynamic_cast<FHeadlessUiWindow*>(info->GetOsWindow());
        ASSERT_NE(os, nullptr);
        os->InjectClose();
        HeadlessPumpUntilIdle();
        EXPECT_FALSE(info->IsVisible());
        ASSERT_TRUE(app.Click("MainWin.Info"));
        EXPECT_TRUE(info->IsVisible());
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
    // Shown when the program ended: shown at the next start.
    std::string state;
    ASSERT_TRUE(harness.ReadStateFile(state));
    std::erase(state, '\0');
    EXPECT_NE(state.find("InfoWindowVisible=\"T\""), std::string::npos) << state;
}

} // namespace
