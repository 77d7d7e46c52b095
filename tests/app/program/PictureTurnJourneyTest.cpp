// A portrait photograph from a phone (a JPEG whose EXIF orientation turns it) shows upright
// in the browser and the review window, and the rotate commands turn it further there as
// they turn raws, without ever rewriting the picture.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "BrowserFixtures.h"
#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FIPMImage.h"
#include "FImageFileListEntry.h"
#include "FPixmap.h"
#include "FTempDiskFolder.h"
#include "FUiButton.h"
#include "FUiImageView.h"
#include "FUiMainWindow.h"
#include "FUiReviewWindow.h"
#include "FUiThumbnails.h"
#include "LoaderTestFiles.h"

using namespace browsertest;

namespace
{

bool AllThumbnailsShown(FUiThumbnails* view)
{
    for (ThumbnailCell* cell = view->GetFirstCell(); cell; cell = cell->next)
        if (!cell->entry || !cell->entry->m_pThumbnail)
            return false;
    return view->GetCellCount() > 0;
}

bool Enabled(const FAppHarness& app, const std::string& path)
{
    auto* button = dynamic_cast<FUiButton*>(app.Object(path));
    return button && button->GetState() != FUiButton::kDisabled;
}

// Which stored quadrant the thumbnail shows at its top left.
loadertest::Corner TopLeftOf(const FImageFileListEntry& entry)
{
    const FPixmap& p = *entry.m_pThumbnail->GetPixmap();
    const uint8_t* bgra = p.GetRowAddress(p.GetRows() / 6) + 4 * (p.GetCols() / 6);
    return loadertest::NearestCorner(bgra[2], bgra[1], bgra[0]);
}

std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(PictureTurnJourney, PhonePortraitShowsUprightAndTurnsLikeARaw)
{
    FTempDiskFolder folder;
    const rawtest::Bytes phone = loadertest::MakeCornerJPEG(96, 64, 6);
    ASSERT_TRUE(folder.WriteFile("phone.jpg", std::string(phone.begin(), phone.end())));
    const std::string stored = FileBytes(folder.GetPath() + "/phone.jpg");

    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* thumbs = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
        auto* mgr = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        auto* view = dynamic_cast<FUiImageView*>(app.Object("ReviewWin.View"));
        ASSERT_TRUE(thumbs && mgr && review && view);
        FWideString url = folder.GetUrl();
        ASSERT_TRUE(app.Send("MainWin.Folders", "SelectDir", &url));
        ASSERT_TRUE(app.RunUntil([&] { return AllThumbnailsShown(thumbs); }, 3000));

        // Upright: portrait, the stored bottom left at the top left.
        FImageFileListEntry* entry = thumbs->GetFirstCell()->entry;
        EXPECT_GT(entry->m_nThumbRows, entry->m_nThumbCols);
        EXPECT_EQ(TopLeftOf(*entry), loadertest::kBottomLeft);
        EXPECT_EQ(entry->m_nCols, 64);

        // Selected, the picture can be turned; the toolbar turns it back to how it was stored.
        FWideString pictureURL = entry->m_usURL;
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &pictureURL));
        ASSERT_TRUE(Enabled(app, "MainWin.RotateCCW"));
        ASSERT_TRUE(app.Click("MainWin.RotateCCW"));
        ASSERT_TRUE(app.RunUntil([&] { return !mgr->GetList().IsBatchRunning(); }, 1000));
        entry = mgr->GetList().FindByURL(pictureURL);
        EXPECT_EQ(entry->m_nRotation, 0);
        ASSERT_TRUE(app.RunUntil([&] { return AllThumbnailsShown(thumbs); }, 3000));
        EXPECT_LT(entry->m_nThumbRows, entry->m_nThumbCols);
        EXPECT_EQ(TopLeftOf(*entry), loadertest::kTopLeft);

        // The review window shows it as turned and turns it by its own key.
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'E'));
        auto shown = [&](bool portrait) {
            return app.RunUntil(
                [&] {
                    FIPMImage* image = view->GetImage();
                    return review->GetEntry() && review->IsIdle() && image && image->GetPixmap() &&
                           (image->GetPixmap()->GetRows() > image->GetPixmap()->GetCols()) == portrait;
                },
                3000);
        };
        ASSERT_TRUE(shown(false));
        ASSERT_TRUE(Enabled(app, "ReviewWin.RotateCW"));
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kCloseBracket, ']', true));
        EXPECT_TRUE(shown(true));
        EXPECT_EQ(review->GetEntry()->m_nRotation, 90);

        // Kept beside the picture, which is as it was.
        const char* config = std::getenv("XDG_CONFIG_HOME");
        ASSERT_NE(config, nullptr);
        EXPECT_FALSE(FileBytes(std::string(config) + "/Rawbench/PictureTurns.xml").empty());
        EXPECT_EQ(FileBytes(folder.GetPath() + "/phone.jpg"), stored);
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}
