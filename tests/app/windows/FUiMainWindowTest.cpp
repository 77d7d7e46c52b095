#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BrowserFixtures.h"
#include "FException.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "FUiMainWindow.h"
#include "FUiTestApp.h"
#include "StorageClassRegistry.h"

using namespace browsertest;

namespace
{

// Every event of the manager lands here as a message named after the event, with the
// data it carried rendered as text where the type is known.
class FEventLog : public FIUiRelay
{
public:
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = FWideString("LOG"); }
    void GetFullName(FWideString& name) override { name = FWideString("LOG"); }
    bool ConnectRelays() override { return true; }
    FIUiRelay* GetUiRelay(const FWideString&) override { return nullptr; }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        std::string line = message.GetNarrow();
        const std::string name = line;
        if (data && IsTextEvent(name))
            line += "=" + std::string(static_cast<FWideString*>(data)->GetNarrow());
        else if (data && IsBoolEvent(name))
            line += *static_cast<bool*>(data) ? "=1" : "=0";
        else if (data && IsIntEvent(name))
            line += "=" + std::to_string(*static_cast<int*>(data));
        else if (data && name == "ON_IS_ROTATE_ALLOWED" && !allow.empty()) {
            auto* query = static_cast<ImageChangeQuery*>(data);
            query->m_bAllowed = std::string(query->m_usURL.GetNarrow()).find(allow) == std::string::npos;
        }
        lines.push_back(line);
        if (data && name == "ON_SET_URL" && treeTarget)
            treeTarget->UiRelayMessage(FWideString("DirSelected"), data);
        return true;
    }
    static bool IsTextEvent(const std::string& n)
    {
        return n.find("COUNT") != std::string::npos || n.find("STORAGE_USED") != std::string::npos ||
               n == "ON_IMAGE_INFO" || n == "ON_SET_IMAGE_INFO_NUM" || n == "ON_SET_IMAGE_INFO_SIZE" ||
               n == "ON_DESELECT_IMAGE" || n == "ON_DOWNLOAD_DST_DIR" || n == "ON_DELETING_IMAGE" ||
               n == "ON_CFCARD_CAPACITY" || n == "ON_DISPLAY_VERSION";
    }
    static bool IsBoolEvent(const std::string& n)
    {
        return n.find("_ARE_") != std::string::npos || n == "ON_VISIBLE_IMAGES" ||
               n == "ON_CAMERA_WITH_IMAGES" || n == "ON_CAMERA_SELECTED" || n == "ON_DIRECTORY_READ_ONLY" ||
               n == "ON_CAMERA_CONNECTED";
    }
    static bool IsIntEvent(const std::string& n)
    {
        return n.find("IMAGES_TEXT") != std::string::npos || n == "ON_SEL_IMAGE_INFO" ||
               n == "ON_SHOW_FILTER" || n == "ON_SET_DELETE_TEXT" || n == "ON_CFCARD_INSTALLED";
    }
    // The lines that are one of the names, in order.
    std::vector<std::string> Only(std::initializer_list<const char*> names) const
    {
        std::vector<std::string> out;
        for (const std::string& line : lines)
            for (const char* name : names)
                if (line.substr(0, line.find('=')) == name)
                    out.push_back(line);
        return out;
    }
    int Count(const char* name) const { return int(Only({name}).size()); }

    std::vector<std::string> lines;
    std::string allow;               // rotations and deletes of URLs holding this are refused
    FIUiRelay* treeTarget = nullptr; // answers ON_SET_URL with "DirSelected", as the folder tree does
};

FWideString FolderOf(const FWideString& fileURL)
{
    std::vector<FWideString> parts;
    SplitURL(fileURL, parts);
    parts.pop_back();
    FWideString url;
    JoinURL(parts, url, true);
    return url;
}

class MainWindowTest : public BrowserTest
{
protected:
    void SetUp() override
    {
        BrowserTest::SetUp();
        m_pWin = std::make_unique<FUiMainWindow>("MAIN_WIN_MGR", GetIPManagerPool());
        for (int i = 0; i < FUiMainWindow::kEventCount; ++i) {
            const FWideString name(FUiMainWindow::EventName(FUiMainWindow::Event(i)));
            m_pWin->AddEventTarget(name, name, &m_Log);
        }
    }
    void TearDown() override
    {
        m_pWin.reset();
        BrowserTest::TearDown();
    }
    FWideString Folder() { return FolderOf(m_pFolder->URL("x")); }
    bool Send(const char* message, void* data = nullptr)
    {
        return m_pWin->UiRelayMessage(FWideString(message), data);
    }
    bool SendText(const char* message, const FWideString& text)
    {
        FWideString copy = text;
        return Send(message, &copy);
    }
    void Drain()
    {
        for (int i = 0; i < 100000 && (m_pWin->GetList().IsReading() || m_pWin->GetList().IsBatchRunning() ||
                                       m_pWin->GetList().HasQueuedThumbnails());
             ++i)
            m_pWin->Tick(10);
    }
    std::vector<std::string> Order()
    {
        std::vector<std::string> names;
        for (auto* e = m_pWin->GetList().m_pHead; e; e = e->m_pNext)
            if (e->m_bVisible)
                names.push_back(e->m_usFileName.GetNarrow());
        return names;
    }
    void Open(int size = 32)
    {
        m_Log.lines.clear();
        ASSERT_TRUE(SendText("DirSelected", Folder()));
        if (size > 0) {
            ASSERT_TRUE(Send("ThumbnailSize", &size));
        }
        Drain();
    }

    FEventLog m_Log;
    std::unique_ptr<FUiMainWindow> m_pWin;
};

TEST_F(MainWindowTest, OpeningAFolderCountsItAndIgnoresTheSameFolderInOtherCase)
{
    PutRaw("b.q7f", RawOptions{.cols = 100});
    PutRaw("a.q7f");
    ASSERT_TRUE(SendText("DirSelected", Folder()));
    EXPECT_EQ(m_pWin->GetList().GetCount(), 2);
    EXPECT_EQ(Order(), (std::vector<std::string>{"a.q7f", "b.q7f"}));
    // Computer counts first, then the camera's blanked.
    const auto counts = m_Log.Only({"ON_COMPUTER_DIR_IMAGE_COUNT", "ON_SET_COMPUTER_IMAGES_TEXT",
                                    "ON_SET_CAMERA_IMAGES_TEXT", "ON_CAMERA_IMAGE_COUNT"});
    ASSERT_GE(counts.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(counts.end() - 4, counts.end()),
              (std::vector<std::string>{"ON_COMPUTER_DIR_IMAGE_COUNT=2", "ON_SET_COMPUTER_IMAGES_TEXT=2",
                                        "ON_SET_CAMERA_IMAGES_TEXT=0", "ON_CAMERA_IMAGE_COUNT= "}));
    EXPECT_EQ(m_Log.Count("ON_NEW_THUMBNAIL_LIST"), 1);
    // No thumbnails are asked for before the view told its size.
    EXPECT_FALSE(m_pWin->GetList().HasQueuedThumbnails());

    m_Log.lines.clear();
    std::string upper = Folder().GetNarrow();
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(SendText("DirSelected", FWideString(upper.c_str())));
    ASSERT_TRUE(SendText("DirSelected", FWideString()));
    EXPECT_TRUE(m_Log.lines.empty());

    int size = 32;
    ASSERT_TRUE(Send("ThumbnailSize", &size));
    Drain();
    EXPECT_EQ(m_Log.Count("ON_NEW_THUMBNAIL"), 2);
}

TEST_F(MainWindowTest, ALargeFolderIsReadAcrossTicks)
{
    for (int i = 0; i < 40; ++i)
        PutRaw("r" + std::to_string(100 + i) + ".q7f");
    std::filesystem::create_directory(m_pFolder->NativePath("other"));
    PutRaw("other/z.q7f");
    m_pWin->m_dReadBudget = 0;
    int size = 32;
    ASSERT_TRUE(Send("ThumbnailSize", &size));

    // Another folder chosen mid-read replaces the read; none of its files show.
    ASSERT_TRUE(SendText("DirSelected", FolderOf(m_pFolder->URL("other/z.q7f"))));
    ASSERT_TRUE(SendText("DirSelected", Folder()));
    EXPECT_TRUE(m_pWin->GetList().IsReading());
    m_pWin->Tick(10);
    ASSERT_TRUE(m_pWin->GetList().IsReading());
    m_Log.lines.clear();
    // The view is told of the empty list at once, so it never draws deleted entries.
    ASSERT_TRUE(SendText("DirSelected", FolderOf(m_pFolder->URL("other/z.q7f"))));
    ASSERT_TRUE(SendText("DirSelected", Folder()));
    EXPECT_EQ(m_Log.Count("ON_NEW_THUMBNAIL_LIST"), 2);
    EXPECT_EQ(m_pWin->GetList().m_pHead, nullptr);
    ASSERT_TRUE(m_pWin->GetList().IsReading());
    // Settings given meanwhile hold for the list that arrives.
    ASSERT_TRUE(SendText("ReverseState", FWideString("True")));

    m_Log.lines.clear();
    int ticks = 0;
    while (m_pWin->GetList().IsReading() && ticks < 100) {
        m_pWin->Tick(10);
        ++ticks;
    }
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(m_Log.Count("ON_NEW_THUMBNAIL_LIST"), 1);
    EXPECT_EQ(m_Log.Only({"ON_COMPUTER_DIR_IMAGE_COUNT"}).back(), "ON_COMPUTER_DIR_IMAGE_COUNT=40");
    EXPECT_EQ(m_Log.Only({"ON_NEW_VISIBLE_LIST"}).size(), 1u);
    const std::vector<std::string> order = Order();
    ASSERT_EQ(order.size(), 40u);
    EXPECT_EQ(order.front(), "r139.q7f");
    EXPECT_EQ(order.back(), "r100.q7f");
    Drain();
    EXPECT_EQ(m_Log.Count("ON_NEW_THUMBNAIL"), 40);
}

TEST_F(MainWindowTest, BadFoldersShowAnEmptyListAndAFileShowsItsFolder)
{
    PutRaw("file.q7f");
    std::filesystem::create_directory(m_pFolder->NativePath("locked"));
    std::filesystem::permissions(m_pFolder->NativePath("locked"), std::filesystem::perms::none);
    struct Case {
        const char* tail;
        int count;
    };
    const Case cases[] = {{"gone/", 0}, {"locked/", 0}, {"file.q7f/", 1}};
    for (const Case& c : cases) {
        FWideString url = Folder();
        url += c.tail;
        m_Log.lines.clear();
        ASSERT_TRUE(SendText("DirSelected", url));
        EXPECT_EQ(m_pWin->GetList().GetCount(), c.count) << c.tail;
        EXPECT_EQ(m_Log.Only({"ON_IMAGES_ARE_PRESENT"}).back(),
                  "ON_IMAGES_ARE_PRESENT=" + std::to_string(c.count))
            << c.tail;
    }
    std::filesystem::permissions(m_pFolder->NativePath("locked"), std::filesystem::perms::owner_all);
}

TEST_F(MainWindowTest, StateUpdateOrderAndSelectionTexts)
{
    PutRaw("a.q7f");
    PutRaw("b.q7f");
    Open(0);
    m_Log.lines.clear();
    const FWideString a = m_pFolder->URL("a.q7f");
    ASSERT_TRUE(SendText("SelectImage", a));
    const std::vector<std::string> expected = {"ON_SET_MENU_MARK",
                                               "ON_SET_MENU_LOCK",
                                               "ON_IMAGES_ARE_PRESENT=1",
                                               "ON_BRISAL_IMAGES_ARE_SELECTED=1",
                                               "ON_ONE_IMAGE_SELECTED",
                                               "ON_IMAGES_ARE_LOCKED=0",
                                               "ON_IMAGES_ARE_MARKED=0",
                                               "ON_VISIBLE_IMAGES=1",
                                               "ON_IMAGES_ARE_SELECTED=1",
                                               "ON_NO_IMAGES_ARE_SELECTED=0",
                                               "ON_UNLOCKED_IMAGES_ARE_SELECTED=1",
                                               "ON_BRISAL_CAMERA_IMAGES_ARE_PRESENT=0",
                                               "ON_BRISAL_IMAGES_ARE_PRESENT=1",
                                               "ON_CAMERA_WITH_IMAGES=0",
                                               "ON_COMPUTER_DIR_IMAGE_COUNT=2"};
    ASSERT_GE(m_Log.lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(m_Log.lines.begin(), m_Log.lines.begin() + long(expected.size())),
              expected);
    EXPECT_EQ(m_Log.Only({"ON_SET_IMAGE_INFO_NUM", "ON_SEL_IMAGE_INFO"}),
              (std::vector<std::string>{"ON_SET_IMAGE_INFO_NUM=1", "ON_SEL_IMAGE_INFO=1"}));

    m_Log.lines.clear();
    std::vector<FWideString> both = {a, m_pFolder->URL("b.q7f")};
    ASSERT_TRUE(Send("SelectImageList", &both));
    EXPECT_EQ(m_Log.Only({"ON_SET_IMAGE_INFO_NUM", "ON_MULTI_IMAGES_SELECTED"}),
              (std::vector<std::string>{"ON_MULTI_IMAGES_SELECTED", "ON_SET_IMAGE_INFO_NUM=2"}));

    // Deselecting tells the URL; the no-update form skips the state update; an unknown URL
    // is not announced.
    m_Log.lines.clear();
    ASSERT_TRUE(SendText("DeselectImageNoUpdate", a));
    ASSERT_TRUE(SendText("DeselectImage", m_pFolder->URL("zz.q7f")));
    EXPECT_EQ(m_Log.Count("ON_DESELECT_IMAGE"), 1);
    EXPECT_EQ(m_Log.Count("ON_ONE_IMAGE_SELECTED"), 1);

    // Pointer commands without data are unknown; so are unknown words.
    EXPECT_FALSE(Send("SelectImage"));
    EXPECT_FALSE(Send("Sort"));
    EXPECT_FALSE(Send("NoSuchCommand"));
}

TEST_F(MainWindowTest, SettingsFireOnlyOnAChangeAndOrderTheList)
{
    PutRaw("c.q7f", RawOptions{.cols = 800, .rows = 600});
    PutRaw("a.q7f", RawOptions{.cols = 320, .rows = 240});
    PutRaw("b.q7f", RawOptions{.cols = 640, .rows = 480});
    m_pFolder->Write("d.jpg", MakeJpeg(40, 30));
    Open();
    EXPECT_EQ(Order(), (std::vector<std::string>{"a.q7f", "b.q7f", "c.q7f", "d.jpg"}));

    m_Log.lines.clear();
    ASSERT_TRUE(SendText("Sort", FWideString("Name")));
    ASSERT_TRUE(SendText("Sort", FWideString("Bogus")));
    ASSERT_TRUE(SendText("ReverseState", FWideString("False")));
    ASSERT_TRUE(SendText("Filter", FWideString("ShowAll")));
    ASSERT_TRUE(SendText("ShowBriOnly", FWideString("maybe")));
    EXPECT_TRUE(m_Log.lines.empty());

    ASSERT_TRUE(SendText("ReverseState", FWideString("True")));
    EXPECT_EQ(Order(), (std::vector<std::string>{"d.jpg", "c.q7f", "b.q7f", "a.q7f"}));
    EXPECT_EQ(m_Log.Count("ON_REMOVE_ALL_THUMBNAILS"), 1);
    EXPECT_EQ(m_Log.Count("ON_NEW_THUMBNAIL"), 4);
    ASSERT_TRUE(SendText("ReverseState", FWideString("False")));
    ASSERT_TRUE(SendText("Sort", FWideString("Filetype")));
    EXPECT_EQ(Order().back(), "d.jpg");

    m_Log.lines.clear();
    ASSERT_TRUE(SendText("ShowBriOnly", FWideString("True")));
    EXPECT_EQ(Order().size(), 3u);
    EXPECT_EQ(m_Log.Only({"ON_SHOW_FILTER"}), (std::vector<std::string>{"ON_SHOW_FILTER=6"}));
    ASSERT_TRUE(SendText("ShowBriOnly", FWideString("False")));

    // Mark one, then show marked only: a hidden selection is dropped.
    ASSERT_TRUE(SendText("SelectImage", m_pFolder->URL("b.q7f")));
    ASSERT_TRUE(Send("Mark"));
    Drain();
    ASSERT_TRUE(SendText("SelectImage", m_pFolder->URL("a.q7f")));
    m_Log.lines.clear();
    ASSERT_TRUE(SendText("Filter", FWideString("ShowMarked")));
    EXPECT_EQ(Order(), (std::vector<std::string>{"b.q7f"}));
    EXPECT_EQ(m_Log.Only({"ON_SHOW_FILTER"}), (std::vector<std::string>{"ON_SHOW_FILTER=2"}));
    EXPECT_EQ(m_pWin->GetList().GetSelectedCount(), 1);
}

TEST_F(MainWindowTest, MarkLockRotateChangeTheFilesAndIgnoreABusyList)
{
    FScopedEnv dataHome("XDG_DATA_HOME", m_pFolder->NativePath("data"));
    PutRaw("a.q7f");
    PutRaw("b.q7f");
    Open();
    std::vector<FWideString> both = {m_pFolder->URL("a.q7f"), m_pFolder->URL("b.q7f")};
    ASSERT_TRUE(Send("SelectImageList", &both));

    m_Log.lines.clear();
    ASSERT_TRUE(Send("Mark"));
    ASSERT_TRUE(m_pWin->GetList().IsBatchRunning());
    // While the batch runs the other batch commands are ignored yet answered.
    ASSERT_TRUE(Send("Lock"));
    ASSERT_TRUE(Send("RotateCW"));
    Drain();
    EXPECT_EQ(m_Log.Count("ON_UPDATE_IMAGE"), 2);
    EXPECT_EQ(m_Log.Only({"ON_SET_MENU_UNMARK"}).size(), 1u);
    FImageFileList reread;
    ASSERT_TRUE(reread.ReadFolder(GetIPManagerPool(), Folder()));
    reread.Refilter();
    EXPECT_EQ(reread.m_aCounts[kCountMarked].m_nCount, 2);
    EXPECT_EQ(Permissions(m_pFolder->NativePath("a.q7f")) & 0200, 0200);

    ASSERT_TRUE(Send("Lock"));
    Drain();
    EXPECT_EQ(Permissions(m_pFolder->NativePath("a.q7f")) & 0200, 0);
    EXPECT_TRUE(m_pWin->GetList().AllSelectedLocked());

    // Rotation asks first; the refused image keeps its rotation, the lock is kept on disk.
    m_Log.allow = "b.q7f";
    ASSERT_TRUE(Send("RotateCW"));
    Drain();
    EXPECT_EQ(m_pWin->GetList().FindByURL(both[0])->m_nRotation, 90);
    EXPECT_EQ(m_pWin->GetList().FindByURL(both[1])->m_nRotation, 0);
    EXPECT_EQ(Permissions(m_pFolder->NativePath("a.q7f")) & 0200, 0);
}

TEST_F(MainWindowTest, DeleteConfirmationTextAndDelete)
{
    PutRaw("a.q7f");
    PutRaw("b.q7f");
    PutRaw("c.q7f");
    Open(0);
    struct Case {
        std::vector<const char*> select;
        bool lockFirst;
        int text;
    };
    const Case cases[] = {
        {{"a.q7f"}, true, 0}, {{"a.q7f", "b.q7f"}, false, 1}, {{"a.q7f", "b.q7f"}, true, 2}};
    for (const Case& c : cases) {
        for (auto* e = m_pWin->GetList().m_pHead; e; e = e->m_pNext) {
            e->m_bSelected = false;
            e->SetLock(false);
        }
        std::vector<FWideString> urls;
        for (const char* name : c.select)
            urls.push_back(m_pFolder->URL(name));
        ASSERT_TRUE(Send("SelectImageList", &urls));
        if (c.lockFirst) {
            ASSERT_TRUE(m_pWin->GetList().FindByURL(urls[0])->SetLock(true));
        }
        m_Log.lines.clear();
        ASSERT_TRUE(Send("DeletePressed"));
        EXPECT_EQ(m_Log.lines,
                  (std::vector<std::string>{"ON_SET_REPLY", "ON_SET_DELETE_TEXT=" + std::to_string(c.text)}));
    }
    // a locked, b and c selected: b goes, c is refused by a listener, a stays locked.
    ASSERT_TRUE(SendText("SelectImage", m_pFolder->URL("c.q7f")));
    m_Log.allow = "c.q7f";
    m_Log.lines.clear();
    ASSERT_TRUE(SendText("Reply", FWideString("Cancel")));
    EXPECT_EQ(m_pWin->GetList().IsBatchRunning(), false);
    ASSERT_TRUE(SendText("Reply", FWideString("Delete")));
    Drain();
    EXPECT_EQ(
        m_Log.Only({"ON_DELETING_IMAGE"}),
        (std::vector<std::string>{"ON_DELETING_IMAGE=" + std::string(m_pFolder->URL("b.q7f").GetNarrow())}));
    EXPECT_FALSE(m_pFolder->Exists("b.q7f"));
    EXPECT_TRUE(m_pFolder->Exists("a.q7f"));
    EXPECT_EQ(m_pWin->GetList().GetCount(), 2);
}

TEST_F(MainWindowTest, ChangesMadeElsewhereWithAwkwardNames)
{
    const FWideString odd = PutRaw("100% \"best\" #1.q7f");
    PutRaw("plain.q7f");
    // A name that is not UTF-8 is listed and found again by its stored URL.
    const rawtest::Bytes raw = MakeRaw(RawOptions{});
    std::ofstream(m_pFolder->NativePath("bad \xff\xfe.q7f"), std::ios::binary)
        .write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size()));
    Open();
    ASSERT_EQ(m_pWin->GetList().GetCount(), 3);
    FImageFileListEntry* bad = nullptr;
    for (auto* e = m_pWin->GetList().m_pHead; e; e = e->m_pNext)
        if (std::string(e->m_usFileName.GetNarrow()).rfind("bad", 0) == 0)
            bad = e;
    ASSERT_NE(bad, nullptr);
    FImageFileListEntry badCopy;
    badCopy.SetURL(bad->m_usURL);
    ASSERT_TRUE(Send("UpdateImage", &badCopy));
    ASSERT_EQ(m_pWin->GetList().GetCount(), 3);
    ASSERT_TRUE(SendText("DeletingImage", bad->m_usURL));
    ASSERT_EQ(m_pWin->GetList().GetCount(), 2);
    EXPECT_TRUE(std::filesystem::exists(m_pFolder->NativePath("bad \xff\xfe.q7f")));
    // A present entry is read again, not added twice.
    FImageFileListEntry given;
    given.SetURL(odd);
    m_Log.lines.clear();
    ASSERT_TRUE(Send("UpdateImage", &given));
    EXPECT_EQ(m_pWin->GetList().GetCount(), 2);
    EXPECT_EQ(m_Log.Count("ON_NEW_THUMBNAIL"), 1);

    // Marked elsewhere while only unmarked ones show: it leaves the view and the selection.
    ASSERT_TRUE(SendText("Filter", FWideString("ShowUnmarked")));
    ASSERT_TRUE(SendText("SelectImage", odd));
    FImageFileListEntry* entry = m_pWin->GetList().FindByURL(odd);
    ASSERT_TRUE(entry->MarkImage(GetIPManagerPool(), true));
    m_Log.lines.clear();
    ASSERT_TRUE(Send("UpdateImage", &given));
    EXPECT_EQ(m_Log.Count("ON_REMOVE_THUMBNAIL"), 1);
    EXPECT_EQ(m_pWin->GetList().GetSelectedCount(), 0);
    ASSERT_TRUE(SendText("Filter", FWideString("ShowAll")));

    // A new file written by another window is added.
    const FWideString added = PutRaw("new 50%.q7f");
    FImageFileListEntry fresh;
    fresh.SetURL(added);
    ASSERT_TRUE(Send("UpdateImage", &fresh));
    EXPECT_EQ(m_pWin->GetList().GetCount(), 3);

    // Deleted elsewhere.
    m_Log.lines.clear();
    ASSERT_TRUE(SendText("DeletingImage", added));
    ASSERT_TRUE(SendText("DeletingImage", added));
    EXPECT_EQ(m_Log.Count("ON_REMOVE_THUMBNAIL"), 1);
    EXPECT_EQ(m_pWin->GetList().GetCount(), 2);
}

TEST_F(MainWindowTest, PanelFlagsAndReviewNavigation)
{
    struct Case {
        const char* message;
        const char* event;
    };
    const Case cases[] = {
        {"RequestInfoWindowVisibility", "ON_HIDE_INFO_WINDOW"},
        {"ToggleInfoWindow", "ON_SHOW_INFO_WINDOW"},
        {"RequestInfoWindowVisibility", "ON_SHOW_INFO_WINDOW"},
        {"HideInfoWindow", "ON_HIDE_INFO_WINDOW"},
        {"ShowAdjustmentPalette", "ON_SHOW_ADJUSTMENT_PALETTE"},
        {"ToggleAdjustmentPalette", "ON_HIDE_ADJUSTMENT_PALETTE"},
        {"ShowAdjustmentPaletteModeSection", "ON_SHOW_ADJUSTMENT_PALETTE_MODE"},
        {"ToggleAdjustmentPaletteSlidersSection", "ON_SHOW_ADJUSTMENT_PALETTE_SLIDERS"},
        {"HideAdjustmentPaletteWheelSection", "ON_HIDE_ADJUSTMENT_PALETTE_WHEEL"},
        {"RequestAdjustmentPaletteHistogramSectionVisibility", "ON_HIDE_ADJUSTMENT_PALETTE_HISTOGRAM"},
    };
    for (const Case& c : cases) {
        m_Log.lines.clear();
        ASSERT_TRUE(Send(c.message)) << c.message;
        EXPECT_EQ(m_Log.lines, (std::vector<std::string>{c.event})) << c.message;
    }
    EXPECT_FALSE(Send("ToggleNothing"));

    PutRaw("a.q7f");
    PutRaw("b.q7f");
    Open(0);
    m_Log.lines.clear();
    ASSERT_TRUE(Send("ReviewImages"));
    EXPECT_EQ(m_Log.lines, (std::vector<std::string>{"ON_REVIEW_IMAGES"}));
    FImageFileListEntry* entry = m_pWin->GetList().m_pHead;
    ASSERT_TRUE(Send("GetNextVisibleImage", &entry));
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->m_usFileName.GetNarrow(), "b.q7f");
    ASSERT_TRUE(Send("GetNextVisibleImage", &entry));
    EXPECT_EQ(entry, nullptr);

    FImageFileListEntry probe;
    probe.SetURL(m_pFolder->URL("b.q7f"));
    ASSERT_TRUE(Send("GetImageListPos", &probe));
    EXPECT_EQ(probe.m_nVisibleIndex, 1);
    EXPECT_EQ(probe.m_nVisibleCount, 2);
    probe.SetURL(m_pFolder->URL("none.q7f"));
    ASSERT_TRUE(Send("GetImageListPos", &probe));
    EXPECT_EQ(probe.m_nVisibleIndex, 0);
    EXPECT_EQ(probe.m_nVisibleCount, 1);

    // A pending review goes out at the first idle tick, once.
    m_pWin->SetPendingReview(m_pFolder->URL("b.q7f"));
    m_Log.lines.clear();
    m_pWin->Tick(10);
    m_pWin->Tick(10);
    EXPECT_EQ(m_Log.lines, (std::vector<std::string>{"ON_KICK_OFF_REVIEW", "ON_REVIEW_IMAGES"}));
}

TEST_F(MainWindowTest, WhiteBalanceIsWrittenAroundTheLock)
{
    FScopedEnv dataHome("XDG_DATA_HOME", m_pFolder->NativePath("data"));
    PutRaw("a.q7f");
    PutRaw("b.q7f");
    m_pFolder->Write("c.jpg", MakeJpeg(40, 30));
    Open(0);
    std::vector<FWideString> all = {m_pFolder->URL("a.q7f"), m_pFolder->URL("b.q7f"),
                                    m_pFolder->URL("c.jpg")};
    ASSERT_TRUE(Send("SelectImageList", &all));
    ASSERT_TRUE(m_pWin->GetList().FindByURL(all[0])->SetLock(true));

    m_Log.lines.clear();
    ASSERT_TRUE(SendText("Reply2", FWideString("Daylight")));
    EXPECT_EQ(m_Log.Count("ON_UPDATE_IMAGE"), 2);
    EXPECT_EQ(Permissions(m_pFolder->NativePath("a.q7f")) & 0200, 0);
    EXPECT_EQ(Permissions(m_pFolder->NativePath("b.q7f")) & 0200, 0200);
    for (int i = 0; i < 2; ++i) {
        FImageFileListEntry reread;
        reread.SetURL(all[size_t(i)]);
        ASSERT_TRUE(reread.GetProps(GetIPManagerPool()));
        EXPECT_STREQ(reread.m_usWhiteBalance.GetNarrow(), "Daylight");
    }
    // "Original" on a file that recorded none gives automatic, never a blank name.
    ASSERT_TRUE(SendText("Reply2", FWideString("Original")));
    FImageFileListEntry reread;
    reread.SetURL(all[1]);
    ASSERT_TRUE(reread.GetProps(GetIPManagerPool()));
    EXPECT_STREQ(reread.m_usWhiteBalance.GetNarrow(), "Auto");

    // A running batch refuses the chooser.
    ASSERT_TRUE(Send("Lock"));
    ASSERT_TRUE(m_pWin->GetList().IsBatchRunning());
    EXPECT_FALSE(Send("WhiteBalPressed"));
    Drain();
}

TEST_F(MainWindowTest, OpenPathShowsTheFolderAndReviewsTheFile)
{
    PutRaw("a.q7f");
    PutRaw("b.q7f");
    FWideString native(m_pFolder->NativePath("b.q7f").c_str());
    ASSERT_TRUE(Send("OpenPath", &native));
    EXPECT_EQ(m_pWin->GetList().GetCount(), 2);
    EXPECT_EQ(m_pWin->GetList().GetSelectedCount(), 1);
    const auto review = m_Log.Only({"ON_KICK_OFF_REVIEW", "ON_REVIEW_IMAGES"});
    EXPECT_EQ(review, (std::vector<std::string>{"ON_KICK_OFF_REVIEW", "ON_REVIEW_IMAGES"}));

    // A download from the computer needs a card; camera hand-overs need a camera.
    m_Log.lines.clear();
    ASSERT_TRUE(Send("Download"));
    ASSERT_TRUE(Send("DeleteAllCameraImages"));
    EXPECT_TRUE(m_Log.lines.empty());
}

// Start-up from a stored state: version, init, the information window lookup, the camera
// state, the stored folder read inside ON_SET_URL (the tree answers with "DirSelected"), the
// auto-launch query, the stored settings' events, the filter, then the state update.
TEST_F(MainWindowTest, StartUpFiresItsEventsInOrder)
{
    PutRaw("a.q7f");
    FUiTestApp app(R"(<UI_SCRIPT Name="TestApp" HasPersistantDataStore="true">
        <LANGUAGES><LANGUAGE Name="English" Default="true"/></LANGUAGES>
        <FONTS><APPFONT Name="Body" Height="10"><MSWFONT><English Fontname="DejaVu Sans"/></MSWFONT></APPFONT></FONTS>
        <WINDOW Name="W" DX="60" DY="40"><VBOX/></WINDOW></UI_SCRIPT>)",
                   false);
    ASSERT_TRUE(app.WriteAppDataFile("TestApp.state.xml",
                                     "<STATE><PERDATA Name=\"TestApp.WinMgr\" DirectoryURL=\"" +
                                         std::string(Folder().GetNarrow()) +
                                         "\" SortMethod=\"3\" ReverseSort=\"T\" FilterMethod=\"2\" "
                                         "BriOnly=\"T\"/></STATE>"));
    ASSERT_TRUE(app.Init());
    app.GetApp()->SetVersion(2, 3, 0, 3152);
    FPropList tag(nullptr, "MAIN_WIN_MGR");
    tag.SetString(FWideString("Name"), FWideString("WinMgr"));
    ASSERT_TRUE(m_pWin->InitUiObject(app.GetApp(), nullptr, nullptr, &tag));
    m_Log.treeTarget = m_pWin.get();
    m_Log.lines.clear();
    ASSERT_TRUE(Send("Post Creation Initialization"));
    EXPECT_EQ(m_Log.Only({"ON_DISPLAY_VERSION", "ON_INIT", "ON_GET_INFO_WINDOW_PTR", "ON_CAMERA_CONNECTED",
                          "ON_SET_URL", "ON_NEW_THUMBNAIL_LIST", "ON_QUERY_AUTO_LAUNCH_STATE",
                          "ON_SET_FILTER_TO_ALL", "ON_SET_FILTER_TO_MARKED", "ON_SET_SORT_BY_NAME",
                          "ON_SET_SORT_BY_FILE_SIZE", "ON_SET_REVERSE_ORDER", "ON_SET_SHOW_BRI_ONLY",
                          "ON_SHOW_FILTER"}),
              (std::vector<std::string>{"ON_DISPLAY_VERSION=v2.3 Release (3152)", "ON_INIT",
                                        "ON_GET_INFO_WINDOW_PTR", "ON_CAMERA_CONNECTED=0", "ON_SET_URL",
                                        "ON_NEW_THUMBNAIL_LIST", "ON_QUERY_AUTO_LAUNCH_STATE",
                                        "ON_SET_FILTER_TO_MARKED", "ON_SET_SORT_BY_FILE_SIZE",
                                        "ON_SET_REVERSE_ORDER", "ON_SET_SHOW_BRI_ONLY", "ON_SHOW_FILTER=7"}));
    // The state update closes the sequence, after the filter.
    const auto filter = std::find(m_Log.lines.begin(), m_Log.lines.end(), "ON_SHOW_FILTER=7");
    ASSERT_NE(filter, m_Log.lines.end());
    EXPECT_NE(std::find(filter, m_Log.lines.end(), "ON_IMAGES_ARE_PRESENT=1"), m_Log.lines.end());
    // The status bar's texts close it: one image, none selected.
    EXPECT_EQ(m_Log.lines.back(), "ON_STATUS_SELECTION");
    EXPECT_NE(std::find(filter, m_Log.lines.end(), "ON_SET_IMAGE_INFO_SIZE="), m_Log.lines.end());
    EXPECT_EQ(m_pWin->GetDirectoryURL(), Folder());
    EXPECT_EQ(m_pWin->GetList().GetCount(), 1);
    ASSERT_TRUE(Send("we're goin' bye-bye"));
    m_pWin.reset(); // before the application it belongs to
}

TEST_F(MainWindowTest, WebLinksGoThroughAShortcutToTheDesktopOpener)
{
    FScopedEnv tmp("TMPDIR", m_pFolder->NativePath(""));
    std::vector<FLaunchRequest> launched;
    SetDiskLauncher([&](const FLaunchRequest& request) {
        launched.push_back(request);
        return true;
    });
    FUiTestApp app(R"(<UI_SCRIPT Name="T"><LANGUAGES><LANGUAGE Name="English" Default="true"/></LANGUAGES>
        <FONTS><APPFONT Name="Body" Height="10"><MSWFONT><English Fontname="DejaVu Sans"/></MSWFONT></APPFONT></FONTS>
        <DISPLAY_STRING Name="Q7FWWW" AppFont="Body"><English Text="https://example.invalid/q7f?a=1#x"/></DISPLAY_STRING>
        <WINDOW Name="W" DX="60" DY="40"><VBOX/></WINDOW></UI_SCRIPT>)");
    ASSERT_TRUE(app.GetInitResult());
    FPropList tag(nullptr, "MAIN_WIN_MGR");
    tag.SetString(FWideString("Name"), FWideString("WinMgr"));
    ASSERT_TRUE(m_pWin->InitUiObject(app.GetApp(), nullptr, nullptr, &tag));
    ASSERT_TRUE(Send("Q7FWWW"));
    ASSERT_TRUE(Send("TalvoWWW")); // no display string: nothing happens
    // No manual beside the executable: the user is told, nothing is launched.
    m_Log.lines.clear();
    ASSERT_TRUE(Send("UserGuide"));
    EXPECT_EQ(m_Log.lines, (std::vector<std::string>{"ON_SHOW_NO_USERMANUAL"}));
    SetDiskLauncher(nullptr);
    ASSERT_TRUE(Send("we're goin' bye-bye"));
    m_pWin.reset(); // before the application it belongs to
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].m_argv,
              (std::vector<std::string>{"xdg-open", "https://example.invalid/q7f?a=1#x"}));
}

TEST_F(MainWindowTest, CopyingADroppedFile)
{
    const FWideString source = PutRaw("a.q7f");
    std::filesystem::create_directory(m_pFolder->NativePath("dst"));
    FWideString dst = Folder();
    dst += "dst/";
    FWideString gone = Folder();
    gone += "gone/";
    struct Case {
        FWideString to;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {gone, {"ON_SHOW_INVALID"}},
        {Folder(), {}}, // onto itself
        {dst, {"ON_START_COPY_BATCH", "ON_COPY_REQUEST"}},
    };
    for (const Case& c : cases) {
        m_Log.lines.clear();
        std::vector<FWideString> pair = {source, c.to};
        ASSERT_TRUE(Send("CopyFile", &pair));
        EXPECT_EQ(m_Log.lines, c.events) << c.to.GetNarrow();
    }
    // The probe file that tested the folder is gone again.
    EXPECT_FALSE(m_pFolder->Exists("dst/a.q7f"));
    std::vector<FWideString> one = {source};
    EXPECT_THROW(Send("CopyFile", &one), FArrayException);
}

// A file larger than the disk's free space, and far past 32 bits, is refused (sparse, so it
// takes no room itself).
TEST_F(MainWindowTest, CopyingAFileLargerThanTheFreeSpace)
{
    std::filesystem::create_directory(m_pFolder->NativePath("dst"));
    FWideString dst = Folder();
    dst += "dst/";
    FWideString ignored;
    FIFolder* folder = OpenFolderURL(dst, ignored, false);
    ASSERT_NE(folder, nullptr);
    const int64_t free = folder->GetFreeSpace();
    folder->Release();
    ASSERT_GT(free, 0);
    const std::string big = m_pFolder->NativePath("big.q7f");
    std::ofstream(big).close();
    std::error_code error;
    std::filesystem::resize_file(big, uint64_t(free) + (4ULL << 30), error);
    if (error)
        GTEST_SKIP() << "no sparse file of " << free << " bytes here: " << error.message();
    m_Log.lines.clear();
    std::vector<FWideString> pair = {m_pFolder->URL("big.q7f"), dst};
    ASSERT_TRUE(Send("CopyFile", &pair));
    EXPECT_EQ(m_Log.lines, (std::vector<std::string>{"ON_SHOW_INSUFFICIENT"}));
}

TEST_F(MainWindowTest, CameraNoticesModesAndCounts)
{
    PutRaw("computer.q7f");
    std::filesystem::create_directories(m_pFolder->NativePath("cam/cf/images"));
    PutRaw("cam/cf/images/c1.q7f");
    Open(0);
    FWideString camera = Folder();
    camera += "cam";

    m_Log.lines.clear();
    ASSERT_TRUE(SendText("CameraConnected", camera));
    int capacity = 4 * 1024 * 1024;
    ASSERT_TRUE(Send("CFCardPresent", &capacity));
    EXPECT_EQ(m_Log.Only({"ON_CAMERA_CONNECTED", "ON_CFCARD_CAPACITY", "ON_CFCARD_INSTALLED"}),
              (std::vector<std::string>{"ON_CAMERA_CONNECTED=1", "ON_CFCARD_CAPACITY=4.00 GB",
                                        "ON_CFCARD_INSTALLED=1"}));
    // No images known yet: selecting the camera does nothing until the card reports use.
    ASSERT_TRUE(Send("SelectCamera"));
    EXPECT_FALSE(m_pWin->IsCameraMode());
    unsigned used = 100;
    ASSERT_TRUE(Send("CameraStorageChange", &used));
    ASSERT_TRUE(Send("SelectCamera"));
    ASSERT_TRUE(m_pWin->IsCameraMode());
    EXPECT_EQ(Order(), (std::vector<std::string>{"c1.q7f"}));
    // Camera counts first, the computer's blanked.
    m_Log.lines.clear();
    ASSERT_TRUE(Send("RefreshList"));
    const auto counts = m_Log.Only({"ON_CAMERA_IMAGE_COUNT", "ON_COMPUTER_DIR_IMAGE_COUNT"});
    ASSERT_GE(counts.size(), 2u);
    EXPECT_EQ(counts[0], "ON_CAMERA_IMAGE_COUNT=1");
    EXPECT_EQ(counts[1], "ON_COMPUTER_DIR_IMAGE_COUNT= ");

    // Only growth reads the card again.
    PutRaw("cam/cf/images/c2.q7f");
    used = 50;
    ASSERT_TRUE(Send("CameraStorageChange", &used));
    EXPECT_EQ(m_pWin->GetList().GetCount(), 1);
    used = 200;
    ASSERT_TRUE(Send("CameraStorageChange", &used));
    EXPECT_EQ(m_pWin->GetList().GetCount(), 2);

    // The card leaves: back to the computer folder.
    ASSERT_TRUE(Send("CFCardPresent"));
    EXPECT_FALSE(m_pWin->IsCameraMode());
    EXPECT_EQ(Order(), (std::vector<std::string>{"computer.q7f"}));
    ASSERT_TRUE(Send("CameraConnected"));
    EXPECT_FALSE(Send("CameraStorageChange"));
}

} // namespace
