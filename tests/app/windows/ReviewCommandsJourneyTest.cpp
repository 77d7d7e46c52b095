// The review window's commands as a photographer gives them, through the real program,
// script and pool: keys, the white-balance chooser, the loupe and the toolbar's state.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FIPMImage.h"
#include "FIUiPixmap.h"
#include "FImageFileListEntry.h"
#include "FPixmap.h"
#include "FTempDiskFolder.h"
#include "FUiCheckbox.h"
#include "FUiImageView.h"
#include "FUiReviewWindow.h"
#include "FUiScrollList.h"
#include "FUiTextBox.h"
#include "FUiThumbnails.h"
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

// The loupe on a photograph the view enlarges: every step shows it larger than the view
// does, the text says by how much, the loupe comes as the pointer enters, and where the
// pointer leaves, the loupe leaves too, after a click as well.
TEST_F(ReviewCommandsJourney, TheLoupeMagnifiesAndLeavesNothingBehind)
{
    ASSERT_TRUE(journey::CopySample(m_folder, "chart.q7f", "a.q7f"));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        auto* view = dynamic_cast<FUiImageView*>(app.Object("ReviewWin.View"));
        auto* text = dynamic_cast<FUiTextBox*>(app.Object("ReviewWin.LoupeMag"));
        FGenericUiWindow* window = app.Window("ReviewWin");
        ASSERT_TRUE(review && view && text && window);
        ASSERT_NE(journey::ShowFolder(app, m_folder.GetUrl(), 1), nullptr);
        ASSERT_TRUE(journey::ReviewAndWait(app, m_folder.GetUrl("a.q7f")));
        const double viewScale = double(review->GetFittedWidth()) / review->GetEntry()->m_nCols;
        ASSERT_GT(viewScale, 1.0) << "the sample should be enlarged by the view";
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'Z'));
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kMinus, 0, true));
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kMinus, 0, true));
        double last = 0.0;
        for (int step = 0; step < 3; ++step) {
            const double scale = review->GetLoupeScale();
            EXPECT_GE(scale, viewScale * 1.5 - 1e-9) << "step " << step;
            EXPECT_GT(scale, last) << "step " << step;
            last = scale;
            EXPECT_EQ(text->GetText().GetNarrow(), std::to_string(std::lround(scale * 100)) + "%");
            ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kEquals, 0, true));
        }

        auto* os = dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow());
        const FRect image = view->GetImageRect();
        const int cx = (image.left + image.right) / 2, cy = (image.top + image.bottom) / 2;
        os->InjectMouseMove(cx, cy);
        HeadlessPumpUntilIdle();
        ASSERT_TRUE(app.RunUntil([&] { return view->IsLoupeDrawn() && review->IsIdle(); }, 300))
            << "the loupe waits for a second move";
        // Where the loupe was, the photograph shows once the pointer left, after a click too.
        auto photographShowsAt = [&](int x, int y) {
            window->UpdateIfInvalid();
            FUiColor shown;
            window->GetWindowPixmap()->GetPixel(x, y, shown);
            FPixmap* pixmap = view->GetImage()->GetPixmap();
            const uint8_t* p = pixmap->GetRowAddress(y - image.top) + ptrdiff_t(x - image.left) * 4;
            return shown.red == p[2] && shown.green == p[1] && shown.blue == p[0];
        };
        const FRect was = view->GetLoupeRect();
        EXPECT_FALSE(photographShowsAt(was.left, was.top)) << "the loupe's frame should be drawn there";
        os->InjectMouseDown(cx, cy);
        os->InjectMouseUp(cx, cy);
        HeadlessPumpUntilIdle();
        os->InjectMouseMove(image.left + 20, image.bottom - 20);
        HeadlessPumpUntilIdle();
        app.RunUntil([&] { return review->IsIdle(); }, 300);
        EXPECT_TRUE(photographShowsAt(was.left, was.top)) << "the loupe stayed behind";
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// Names whose bytes are not UTF-8 (a Latin-1 "é", a stray byte) are reviewed like any other.
TEST_F(ReviewCommandsJourney, NamesThatAreNotUtf8AreReviewed)
{
    ASSERT_TRUE(journey::CopySample(m_folder, "chart.q7f", "a.q7f"));
    ASSERT_TRUE(journey::CopySample(m_folder, "tungsten-cast.q7f", "caf\xe9.q7f"));
    ASSERT_TRUE(journey::CopySample(m_folder, "astronaut.jpg", "d\xff\xfe.jpg"));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        auto* view = dynamic_cast<FUiImageView*>(app.Object("ReviewWin.View"));
        FUiThumbnails* thumbs = journey::ShowFolder(app, m_folder.GetUrl(), 3);
        ASSERT_TRUE(review && view && thumbs);
        ASSERT_TRUE(journey::ReviewAndWait(app, m_folder.GetUrl("a.q7f")));
        for (ThumbnailCell* cell = thumbs->GetFirstCell(); cell; cell = cell->next) {
            const FWideString url = cell->entry->m_usURL;
            if (cell->entry->m_usFileName == FWideString("a.q7f"))
                continue;
            ASSERT_TRUE(journey::ReviewThroughBrowser(app, url));
            EXPECT_TRUE(app.RunUntil(
                [&] {
                    return review->GetEntry() && review->GetEntry()->m_usURL == url && review->IsIdle() &&
                           view->GetImage();
                },
                3000))
                << "reviewing " << journey::Reviewing(app) << " instead of " << url.GetNarrow();
            EXPECT_FALSE(app.Window("ReviewErrWin")->IsVisible()) << url.GetNarrow();
        }
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

} // namespace
