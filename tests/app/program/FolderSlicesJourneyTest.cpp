// Folders of thousands of images through the real program and script: each reader lists
// them over many ticks, never in the command that asked, and ends with the whole folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "BrowserFixtures.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FTempDiskFolder.h"
#include "FUiButton.h"
#include "FUiDeleteAllWindow.h"
#include "FUiDynaString.h"
#include "FUiMainWindow.h"
#include "FUiThumbnails.h"
#include "StorageClassRegistry.h"

using namespace browsertest;

namespace
{

std::string Name(int i)
{
    char name[32];
    std::snprintf(name, sizeof(name), "F%04d.q7f", i);
    return name;
}

// `count` small raws, every fifth with a sidecar beside it.
void WriteMany(const FTempDiskFolder& folder, int count)
{
    RawOptions o;
    o.previewCols = 0;
    const rawtest::Bytes raw = MakeRaw(o);
    const std::string bytes(raw.begin(), raw.end());
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(folder.WriteFile(Name(i), bytes));
        if (i % 5 == 0) {
            ASSERT_TRUE(folder.WriteFile(Name(i) + ".xmp", "x"));
        }
    }
}

std::string Shown(const FAppHarness& app, const std::string& path)
{
    auto* line = dynamic_cast<FUiDynaString*>(app.Object(path));
    return line ? Utf8FromWide(line->GetShownText()) : "<none>";
}

bool Enabled(const FAppHarness& app, const std::string& path)
{
    auto* button = dynamic_cast<FUiButton*>(app.Object(path));
    return button && button->GetState() != FUiButton::kDisabled;
}

// Names of the list in order, checked against F0000.. .
bool InOrder(const FImageFileList& list, int count)
{
    int i = 0;
    for (const FImageFileListEntry* e = list.m_pHead; e; e = e->m_pNext, ++i) {
        const std::string url = Utf8FromWide(e->m_usURL);
        if (i >= count || url.size() < 9 || url.substr(url.size() - 9) != Name(i))
            return false;
    }
    return i == count;
}

} // namespace

TEST(FolderSlicesJourney, TheBrowserListsAFolderOfThousandsOverItsTicks)
{
    constexpr int kCount = 3000;
    FTempDiskFolder folder;
    WriteMany(folder, kCount);
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
        ASSERT_TRUE(browser && view);
        FWideString url = folder.GetUrl();
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "DirSelected", &url));
        ASSERT_TRUE(browser->GetList().IsReading());
        int ticks = 0;
        EXPECT_TRUE(app.RunUntil(
            [&] {
                ++ticks;
                return !browser->GetList().IsReading();
            },
            100000));
        EXPECT_GT(ticks, 2);
        EXPECT_EQ(browser->GetList().GetCount(), kCount);
        EXPECT_TRUE(InOrder(browser->GetList(), kCount));
        EXPECT_EQ(view->GetCellCount(), kCount);
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// The delete-all dialog on a folder of thousands: it reads with OK disabled, deletes with a
// count of what is done, and Cancel stops it, leaving exactly the unreported images.
TEST(FolderSlicesJourney, DeleteAllReadsAndDeletesOverItsTicksAndCancels)
{
    constexpr int kCount = 2000;
    FTempDiskFolder folder;
    WriteMany(folder, kCount);
    FAppHarness harness;
    int reported = 0;
    harness.Start([&](FAppHarness& app) {
        auto* manager = dynamic_cast<FUiDeleteAllWindow*>(app.Object("DeleteAllWin.WinMgr"));
        ASSERT_NE(manager, nullptr);
        ASSERT_TRUE(app.Watch("DeleteAllWin.WinMgr", "ON_DELETING_IMAGE"));
        ASSERT_TRUE(app.Send("DeleteAllWin", "Show"));
        FWideString url = folder.GetUrl();
        app.Send("DeleteAllWin.WinMgr", "DelDir", &url);
        ASSERT_TRUE(manager->IsReading());
        EXPECT_EQ(Shown(app, "DeleteAllWin.Status"), "Reading the camera's card...");
        EXPECT_FALSE(Enabled(app, "DeleteAllWin.OK"));
        int ticks = 0;
        ASSERT_TRUE(app.RunUntil(
            [&] {
                ++ticks;
                return !manager->IsReading();
            },
            100000));
        EXPECT_GT(ticks, 2);
        EXPECT_EQ(manager->GetList().GetCount(), kCount);
        EXPECT_EQ(Shown(app, "DeleteAllWin.Status"), "Delete every unlocked image on the camera?");
        ASSERT_TRUE(Enabled(app, "DeleteAllWin.OK"));

        ASSERT_TRUE(app.Click("DeleteAllWin.OK"));
        ASSERT_TRUE(manager->IsDeleting());
        EXPECT_TRUE(app.Window("DeleteAllWin")->IsVisible());
        EXPECT_FALSE(Enabled(app, "DeleteAllWin.OK"));
        EXPECT_EQ(Shown(app, "DeleteAllWin.Status"), "Deleting images…");
        const std::string count = Shown(app, "DeleteAllWin.Count");
        EXPECT_NE(count.find(" / 2000"), std::string::npos) << count;
        ASSERT_TRUE(app.Click("DeleteAllWin.Cancel"));
        EXPECT_FALSE(app.Window("DeleteAllWin")->IsVisible());
        EXPECT_TRUE(app.RunUntil([&] { return !manager->IsDeleting(); }, 1000));
        reported = int(app.Log().size());
        EXPECT_EQ(manager->GetList().GetCount(), kCount - reported);
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
    EXPECT_GT(reported, 0);
    EXPECT_LT(reported, kCount);
    int kept = 0;
    for (int i = 0; i < kCount; ++i)
        kept += std::filesystem::exists(folder.GetPath() + "/" + Name(i)) ? 1 : 0;
    EXPECT_EQ(kept, kCount - reported);
}
