// The progress window shows which image it works on, through the real program and script:
// the thumbnail and the name of the file being written follow the queue, and both are
// cleared when the batch ends. Existing destinations hold each image on its question.
// Each kind of batch names its work and its failure in its own words.

#include <gtest/gtest.h>

#include <string>

#include "DevelopableRaw.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FIPMImage.h"
#include "FImageFileListEntry.h"
#include "FTempDiskFolder.h"
#include "FUiDynaString.h"
#include "FUiIpObjectRequest.h"
#include "FUiThumbnails.h"

namespace
{

TEST(ProgressShowsTheImage, TheThumbnailAndNameFollowTheQueueAndClearAtTheEnd)
{
    FTempDiskFolder folder;
    uint32_t seed = 7;
    for (const char* name : {"IMG_000.q7f", "IMG_001.q7f"}) {
        developtest::DevelopableRawOptions options;
        options.seed = seed++;
        const rawtest::Bytes bytes = developtest::MakeDevelopableRaw(options);
        ASSERT_TRUE(folder.WriteFile(name, std::string(bytes.begin(), bytes.end())));
    }
    ASSERT_TRUE(folder.WriteFile("first copy.q7f", "old"));
    ASSERT_TRUE(folder.WriteFile("second copy.q7f", "old"));

    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* thumb = dynamic_cast<FUiThumbnails*>(app.Object("ProgressWin.Thumb"));
        auto* name = dynamic_cast<FUiDynaString*>(app.Object("ProgressWin.FileName"));
        ASSERT_TRUE(thumb && name);
        // The image shown and the name beside it: "" without an image.
        auto shown = [&] {
            const ThumbnailCell* cell = thumb->GetFirstCell();
            if (!cell)
                return std::string();
            std::string text = Utf8FromWide(cell->entry->m_usFileName);
            const FPixmap* pixels =
                cell->entry->m_pThumbnail ? cell->entry->m_pThumbnail->GetPixmap() : nullptr;
            text += pixels ? " " + std::to_string(pixels->GetCols()) + "x" + std::to_string(pixels->GetRows())
                           : " no thumbnail";
            return text + " as " + Utf8FromWide(name->GetShownText());
        };

        ASSERT_TRUE(app.Send("ProgressWin.WinMgr", "StartOfBatch"));
        ASSERT_TRUE(app.Send("ProgressWin", "Show"));
        const struct {
            const char* source;
            const char* destination;
        } kCopies[] = {{"IMG_000.q7f", "first copy.q7f"}, {"IMG_001.q7f", "second copy.q7f"}};
        for (const auto& pair : kCopies) {
            FUiIpObjectCopyReq copy;
            copy.m_usFileURL = folder.GetUrl(pair.source);
            copy.m_usDstURL = folder.GetUrl(pair.destination);
            ASSERT_TRUE(app.Send("ProgressWin.WinMgr", "CopyFile", &copy));
        }
        FGenericUiWindow* multi = app.Window("MultiOverwriteWin");
        FGenericUiWindow* single = app.Window("OverwriteWin");
        ASSERT_TRUE(app.RunUntil([&] { return multi->IsVisible(); }, 500));
        // The Small skin's image size.
        EXPECT_EQ(shown(), "IMG_000.q7f 88x66 as first copy.q7f");

        ASSERT_TRUE(app.Click("MultiOverwriteWin.Skip"));
        ASSERT_TRUE(app.RunUntil([&] { return single->IsVisible(); }, 500));
        EXPECT_EQ(shown(), "IMG_001.q7f 88x66 as second copy.q7f");

        ASSERT_TRUE(app.Click("OverwriteWin.Cancel"));
        ASSERT_TRUE(app.RunUntil([&] { return !app.Window("ProgressWin")->IsVisible(); }, 500));
        EXPECT_EQ(thumb->GetFirstCell(), nullptr);
        EXPECT_EQ(Utf8FromWide(name->GetShownText()), " ");
        std::string old;
        EXPECT_TRUE(folder.ReadFile("first copy.q7f", old) && old == "old");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// Whoever starts a batch sets the heading and the failure notice, so a save after a
// download speaks of saving again.
TEST(ProgressShowsTheImage, EachKindOfBatchUsesItsOwnWords)
{
    const struct {
        const char* starter;
        const char* event;
        const char* heading;
        const char* failure;
    } kBatches[] = {
        {"DownloadWin.WinMgr", "ON_START_DOWNLOAD_BATCH", "Downloading images…",
         "The image could not be downloaded."},
        {"SaveImagesWin.WinMgr", "ON_START_SAVE_BATCH", "Saving converted images…",
         "The image could not be saved."},
        {"MainWin.WinMgr", "ON_START_COPY_BATCH", "Copying images…", "The image could not be copied."},
        {"SaveImageWin.WinMgr", "ON_START_SAVE_BATCH", "Saving converted images…",
         "The image could not be saved."},
    };
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto shown = [&](const std::string& path) {
            auto* text = dynamic_cast<FUiDynaString*>(app.Object(path));
            return text ? Utf8FromWide(text->GetShownText()) : std::string("<none>");
        };
        for (const auto& batch : kBatches) {
            SCOPED_TRACE(batch.starter);
            FUiObject* starter = app.Object(batch.starter);
            ASSERT_NE(starter, nullptr);
            starter->FindEvent(FWideString(batch.event))->Fire(nullptr);
            EXPECT_TRUE(app.Window("ProgressWin")->IsVisible());
            EXPECT_EQ(shown("ProgressWin.Heading"), batch.heading);
            EXPECT_EQ(shown("ProgressErrWin.Line1"), batch.failure);
            app.Send("ProgressWin", "Hide");
        }
    });
    EXPECT_TRUE(harness.BodyRan());
}

} // namespace
