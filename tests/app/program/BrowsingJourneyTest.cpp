#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BrowserFixtures.h"
#include "FAppHarness.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FImageFileListEntry.h"
#include "FTempDiskFolder.h"
#include "FUiDynaString.h"
#include "FUiMainWindow.h"
#include "FUiReviewWindow.h"
#include "FUiTextArray.h"
#include "FUiTextBox.h"
#include "FUiThumbnails.h"

using namespace browsertest;

namespace
{

std::string Bytes(const rawtest::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string Text(const FAppHarness& app, const std::string& path)
{
    if (auto* line = dynamic_cast<FUiDynaString*>(app.Object(path)))
        return line->GetShownText().GetNarrow();
    auto* box = dynamic_cast<FUiTextBox*>(app.Object(path));
    return box ? box->GetText().GetNarrow() : "<none>";
}

// The number a status text starts with ("4 images (1.2 MB)"), empty without one.
std::string Leading(const std::string& text)
{
    return text.substr(0, text.find_first_not_of("0123456789"));
}

// Names of the cells in view order.
std::vector<std::string> Cells(FUiThumbnails* view)
{
    std::vector<std::string> names;
    for (ThumbnailCell* cell = view->GetFirstCell(); cell; cell = cell->next)
        names.push_back(cell->entry ? cell->entry->m_usFileName.GetNarrow() : "?");
    return names;
}

bool AllThumbnailsShown(FUiThumbnails* view)
{
    for (ThumbnailCell* cell = view->GetFirstCell(); cell; cell = cell->next)
        if (!cell->entry || !cell->entry->m_pThumbnail)
            return false;
    return view->GetCellCount() > 0;
}

// Small raws of the given names in the folder.
bool WriteRaws(const FTempDiskFolder& folder, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        if (!folder.WriteFile(name, Bytes(MakeRaw(RawOptions{}))))
            return false;
    return true;
}

int Mode(const std::string& path)
{
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// Open a folder through the folder tree, then sort, filter, select, mark, lock, rotate and
// delete by mouse, keys and menus, through the real script and the real pool.
TEST(BrowsingJourney, FolderToDeleteThroughTheRealScript)
{
    FTempDiskFolder folder;
    ASSERT_TRUE(folder.WriteFile("c.q7f", Bytes(MakeRaw(RawOptions{.cols = 800, .rows = 600}))));
    ASSERT_TRUE(folder.WriteFile("a.q7f", Bytes(MakeRaw(RawOptions{.cols = 320, .rows = 240}))));
    ASSERT_TRUE(folder.WriteFile("b 100% #1.q7f", Bytes(MakeRaw(RawOptions{.cols = 640, .rows = 480}))));
    ASSERT_TRUE(folder.WriteFile("d.jpg", Bytes(MakeJpeg(40, 30))));

    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
        auto* mgr = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        ASSERT_NE(view, nullptr);
        ASSERT_NE(mgr, nullptr);

        FWideString url = folder.GetUrl();
        ASSERT_TRUE(app.Send("MainWin.Folders", "SelectDir", &url));
        ASSERT_TRUE(app.RunUntil([&] { return AllThumbnailsShown(view); }, 3000));
        EXPECT_EQ(view->GetCellCount(), 4);
        EXPECT_EQ(Cells(view), (std::vector<std::string>{"a.q7f", "b 100% #1.q7f", "c.q7f", "d.jpg"}));
        EXPECT_EQ(Leading(Text(app, "MainWin.StatusImages")), "4");
        EXPECT_EQ(Text(app, "MainWin.StatusImages").rfind("4 images (", 0), 0u);

        // Reverse the order and back by the View menu's key (Ctrl+Shift+R).
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'R', true, true));
        EXPECT_EQ(Cells(view), (std::vector<std::string>{"d.jpg", "c.q7f", "b 100% #1.q7f", "a.q7f"}));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'R', true, true));
        EXPECT_EQ(Cells(view).front(), "a.q7f");

        // Edit's selection keys and View's size keys reach the view.
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'A', true));
        EXPECT_EQ(Leading(Text(app, "MainWin.StatusSelection")), "4");
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'A', true, true));
        EXPECT_EQ(mgr->GetList().GetSelectedCount(), 0);
        const int medium = mgr->GetThumbnailSize();
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kDigit, '1'));
        EXPECT_LT(mgr->GetThumbnailSize(), medium);

        // Select a.q7f by mouse, then mark it by key, lock it by the toolbar button.
        ASSERT_TRUE(app.RunUntil([&] { return AllThumbnailsShown(view); }, 3000));
        ThumbnailCell* first = view->GetFirstCell();
        ASSERT_TRUE(first && first->entry);
        FWideString aURL = first->entry->m_usURL;
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &aURL));
        EXPECT_EQ(Leading(Text(app, "MainWin.StatusSelection")), "1");
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'M'));
        ASSERT_TRUE(app.RunUntil([&] { return !mgr->GetList().IsBatchRunning(); }, 1000));
        EXPECT_TRUE(mgr->GetList().FindByURL(aURL)->m_bMarked);
        ASSERT_TRUE(app.Click("MainWin.Lock"));
        ASSERT_TRUE(app.RunUntil([&] { return !mgr->GetList().IsBatchRunning(); }, 1000));
        EXPECT_EQ(Mode(folder.GetPath() + "/a.q7f") & 0200, 0);
        EXPECT_TRUE(view->GetFirstCell()->entry->m_bLocked);

        // Rotate by the menu's key; the lock stays on disk.
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kCloseBracket, ']', true));
        ASSERT_TRUE(app.RunUntil([&] { return !mgr->GetList().IsBatchRunning(); }, 1000));
        EXPECT_EQ(mgr->GetList().FindByURL(aURL)->m_nRotation, 90);
        EXPECT_EQ(Mode(folder.GetPath() + "/a.q7f") & 0200, 0);

        // Show marked only (Ctrl+2): one cell.
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kDigit, '2', true));
        ASSERT_TRUE(app.RunUntil([&] { return !mgr->GetList().HasQueuedThumbnails(); }, 1000));
        EXPECT_EQ(Cells(view), (std::vector<std::string>{"a.q7f"}));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kDigit, '1', true));
        EXPECT_EQ(view->GetCellCount(), 4);

        // Delete c.q7f: the toolbar button asks, Cancel keeps the file; the Delete key asks
        // again, the question's Delete button moves it away.
        FWideString cURL = folder.GetUrl("c.q7f");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "DeselectImage", &aURL));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &cURL));
        FGenericUiWindow* question = app.Window("ConfirmDeleteWin");
        ASSERT_NE(question, nullptr);
        EXPECT_FALSE(question->IsVisible());
        ASSERT_TRUE(app.Click("MainWin.Delete"));
        ASSERT_TRUE(question->IsVisible());
        auto* text = dynamic_cast<FUiTextArray*>(app.Object("ConfirmDeleteWin.Question"));
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->GetTextAt(text->GetIndex()).GetNarrow(), std::string("QDeleteOne"));
        ASSERT_TRUE(app.Click("ConfirmDeleteWin.Cancel"));
        EXPECT_FALSE(question->IsVisible());
        app.RunUntil([&] { return mgr->GetList().IsBatchRunning(); }, 20);
        EXPECT_TRUE(folder.Exists("c.q7f"));
        EXPECT_EQ(view->GetCellCount(), 4);

        ASSERT_TRUE(app.Key("MainWin", EOsKey::kDelete));
        ASSERT_TRUE(question->IsVisible());
        ASSERT_TRUE(app.Click("ConfirmDeleteWin.Delete"));
        EXPECT_FALSE(question->IsVisible());
        ASSERT_TRUE(app.RunUntil([&] { return !mgr->GetList().IsBatchRunning(); }, 1000));
        EXPECT_FALSE(folder.Exists("c.q7f"));
        EXPECT_EQ(view->GetCellCount(), 3);
        EXPECT_EQ(Leading(Text(app, "MainWin.StatusImages")), "3");

        // A file that arrived behind the browser's back shows after File > Refresh (F5).
        ASSERT_TRUE(folder.WriteFile("e.q7f", Bytes(MakeRaw(RawOptions{}))));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kFunction, 5));
        EXPECT_EQ(Leading(Text(app, "MainWin.StatusImages")), "4");
        EXPECT_TRUE(
            app.RunUntil([&] { return AllThumbnailsShown(view) && view->GetCellCount() == 4; }, 3000));
    });
    EXPECT_TRUE(harness.BodyRan());
}

// The review window asks the same question about the image it shows; its answer moves the
// file away and the browser drops the cell.
TEST(BrowsingJourney, ReviewWindowDeletesThroughTheQuestion)
{
    FTempDiskFolder folder;
    // JPEG files: the fixture's raw files carry no calibration, which the review window
    // reports as an image it cannot develop.
    for (const char* name : {"a.jpg", "b.jpg"})
        ASSERT_TRUE(folder.WriteFile(name, Bytes(MakeJpeg(320, 240))));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
        ASSERT_NE(view, nullptr);
        FWideString url = folder.GetUrl();
        ASSERT_TRUE(app.Send("MainWin.Folders", "SelectDir", &url));
        ASSERT_TRUE(app.RunUntil([&] { return AllThumbnailsShown(view); }, 3000));
        FWideString aURL = folder.GetUrl("a.jpg");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &aURL));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'E'));
        FGenericUiWindow* review = app.Window("ReviewWin");
        auto* reviewer = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        ASSERT_TRUE(review && review->IsVisible() && reviewer);
        ASSERT_TRUE(app.RunUntil([&] { return reviewer->GetEntry() && reviewer->IsIdle(); }, 3000));

        FGenericUiWindow* question = app.Window("ConfirmDeleteWin");
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kDelete));
        ASSERT_TRUE(question && question->IsVisible());
        auto* text = dynamic_cast<FUiTextArray*>(app.Object("ConfirmDeleteWin.Question"));
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->GetTextAt(text->GetIndex()).GetNarrow(), std::string("QDeleteReview"));
        ASSERT_TRUE(app.Click("ConfirmDeleteWin.Delete"));
        ASSERT_TRUE(app.RunUntil([&] { return view->GetCellCount() == 1; }, 1000));
        EXPECT_FALSE(folder.Exists("a.jpg"));
        EXPECT_TRUE(folder.Exists("b.jpg"));
    });
    EXPECT_TRUE(harness.BodyRan());
}

// A file as the program's argument: its folder is shown, the file selected, and review
// is asked for at the first idle tick; a folder that does not exist shows nothing.
TEST(BrowsingJourney, StartWithAFileOrAMissingFolder)
{
    FTempDiskFolder folder;
    ASSERT_TRUE(WriteRaws(folder, {"a.q7f", "b.q7f"}));
    FAppHarness harness;
    harness.Start(
        [&](FAppHarness& app) {
            auto* mgr = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
            ASSERT_NE(mgr, nullptr);
            EXPECT_EQ(mgr->GetList().GetCount(), 2);
            EXPECT_EQ(mgr->GetList().GetSelectedCount(), 1);
            EXPECT_FALSE(mgr->IsCameraMode());
            ASSERT_TRUE(app.Watch("MainWin.WinMgr", "ON_KICK_OFF_REVIEW"));
            ASSERT_TRUE(app.Watch("MainWin.WinMgr", "ON_REVIEW_IMAGES"));
            ASSERT_TRUE(app.RunUntil([&] { return app.Log().size() >= 2; }, 3000));
            EXPECT_EQ(app.Log(), (std::vector<std::string>{"ON_KICK_OFF_REVIEW", "ON_REVIEW_IMAGES"}));
        },
        folder.GetPath() + "/b.q7f");
    EXPECT_TRUE(harness.BodyRan());

    FAppHarness second;
    second.Start(
        [&](FAppHarness& app) {
            auto* mgr = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
            ASSERT_NE(mgr, nullptr);
            EXPECT_EQ(mgr->GetList().GetCount(), 0);
            EXPECT_EQ(Leading(Text(app, "MainWin.StatusImages")), "");
        },
        folder.GetPath() + "/no such folder/");
    EXPECT_TRUE(second.BodyRan());
    EXPECT_TRUE(second.MessageBoxes().empty());
}

// File > Language opens the language dialog; a choice applies at once, OK starts the
// browser over in it (the folder stays shown), and the next start keeps it.
TEST(BrowsingJourney, LanguageDialogChangesTheLanguage)
{
    FTempDiskFolder folder;
    ASSERT_TRUE(WriteRaws(folder, {"a.q7f"}));
    auto language = [](FAppHarness& app) {
        FWideString name;
        app.App()->AddLanguageListener(nullptr, name);
        return std::string(name.GetNarrow());
    };
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* mgr = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        FGenericUiWindow* dialog = app.Window("LanguageWin");
        ASSERT_TRUE(mgr && dialog);
        FWideString url = folder.GetUrl();
        ASSERT_TRUE(app.Send("MainWin.Folders", "SelectDir", &url));
        EXPECT_EQ(language(app), "English");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectLanguage"));
        ASSERT_TRUE(dialog->IsVisible());
        FWideString german("German");
        app.Send("LanguageWin.Languages", "SelectID", &german);
        EXPECT_EQ(language(app), "German");
        ASSERT_TRUE(app.Click("LanguageWin.OK"));
        EXPECT_FALSE(dialog->IsVisible());
        EXPECT_EQ(language(app), "German");
        EXPECT_EQ(mgr->GetList().GetCount(), 1);
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
    harness.Start([&](FAppHarness& app) { EXPECT_EQ(language(app), "German"); });
    EXPECT_TRUE(harness.BodyRan());
}

// Help > User Guide (F1) without a guide installed beside the program, and a file dropped
// on a folder that is gone, each tell the user so.
TEST(BrowsingJourney, UserGuideAndCopyRefusalsAreNotices)
{
    FTempDiskFolder folder;
    ASSERT_TRUE(WriteRaws(folder, {"a.q7f"}));
    FAppHarness harness;
    ASSERT_TRUE(harness.RemoveScriptFile("Rawbench-User-Guide.html"));
    harness.Start([&](FAppHarness& app) {
        FGenericUiWindow* notice = app.Window("MessageWin");
        auto* line = dynamic_cast<FUiDynaString*>(app.Object("MessageWin.Line2"));
        ASSERT_TRUE(notice && line);
        EXPECT_FALSE(notice->IsVisible());
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kFunction, 1));
        ASSERT_TRUE(notice->IsVisible());
        EXPECT_EQ(std::string(line->GetShownText().GetNarrow()),
                  "The user guide is not installed beside Rawbench.");
        ASSERT_TRUE(app.Click("MessageWin.OK"));
        EXPECT_FALSE(notice->IsVisible());

        std::vector<FWideString> drop = {folder.GetUrl("a.q7f"), folder.GetUrl("gone/")};
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "CopyFile", &drop));
        ASSERT_TRUE(notice->IsVisible());
        EXPECT_EQ(std::string(line->GetShownText().GetNarrow()),
                  "The folder does not exist or cannot be written to.");
        ASSERT_TRUE(app.Click("MessageWin.OK"));
        EXPECT_TRUE(folder.Exists("a.q7f"));
    });
    EXPECT_TRUE(harness.BodyRan());
}

// A mark that cannot be written into a damaged file is told once the batch ends; the
// images that took it keep it.
TEST(BrowsingJourney, AChangeThatCouldNotBeWrittenIsANotice)
{
    FTempDiskFolder folder;
    ASSERT_TRUE(WriteRaws(folder, {"a.q7f", "b.q7f"}));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* mgr = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        FGenericUiWindow* notice = app.Window("MessageWin");
        auto* line = dynamic_cast<FUiDynaString*>(app.Object("MessageWin.Line2"));
        ASSERT_TRUE(mgr && notice && line);
        FWideString url = folder.GetUrl();
        ASSERT_TRUE(app.Send("MainWin.Folders", "SelectDir", &url));
        ASSERT_TRUE(app.RunUntil([&] { return mgr->GetList().GetCount() == 2; }, 1000));
        // Damaged after it was listed.
        ASSERT_TRUE(folder.WriteFile("b.q7f", std::string(300, 'Z')));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'A', true));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "Mark"));
        ASSERT_TRUE(
            app.RunUntil([&] { return !mgr->GetList().IsBatchRunning() && notice->IsVisible(); }, 1000));
        EXPECT_EQ(std::string(line->GetShownText().GetNarrow()),
                  "Some images were not changed. Their files may be damaged or locked.");
        EXPECT_TRUE(mgr->GetList().FindByURL(folder.GetUrl("a.q7f"))->m_bMarked);
        ASSERT_TRUE(app.Click("MessageWin.OK"));
        app.RunUntil([] { return false; }, 10);
        EXPECT_FALSE(notice->IsVisible());
    });
    EXPECT_TRUE(harness.BodyRan());
}

// Folder arguments with awkward names show their image; stored folders that cannot be
// reached (a camera that is gone, an unknown scheme, a broken escape, a name past any path
// limit) start on an empty list without a box.
TEST(BrowsingJourney, AwkwardAndUnreachableStartFolders)
{
    FTempDiskFolder folder;
    struct Case {
        const char* what;
        std::string argument; // a folder under `folder`, made with one raw in it
        std::string stored;   // DirectoryURL of the state file
        int count;
        std::string file = ""; // a text file in the argument's folder, named as the argument
    };
    const Case cases[] = {
        {"percent, quotes, hash", "100% \"q\" #1", "", 1},
        {"not UTF-8", "caf\xE9 \xFF", "", 1},
        {"a file that is no image", "plain", "", 1, "notes.txt"},
        {"camera gone", "", "camera://1/cf/images/", 0},
        {"unknown scheme", "", "nosuch://x/", 0},
        {"broken escape", "", "disk:///tmp/%zz%/", 0},
        {"too long", "", "disk:///" + std::string(5000, 'a') + "/", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string argument;
        if (!c.argument.empty()) {
            ASSERT_TRUE(folder.MakeFolder(c.argument));
            ASSERT_TRUE(folder.WriteFile(c.argument + "/a.q7f", Bytes(MakeRaw(RawOptions{}))));
            argument = folder.GetPath() + "/" + c.argument + "/" + c.file;
            if (!c.file.empty()) {
                ASSERT_TRUE(folder.WriteFile(c.argument + "/" + c.file, "not an image"));
            }
        }
        FAppHarness harness;
        if (!c.stored.empty()) {
            ASSERT_TRUE(
                harness.WriteStateFile("<STATE><PERDATA Name=\"Rawbench.MainWin.WinMgr\" DirectoryURL=\"" +
                                       c.stored + "\"/></STATE>"));
        }
        harness.Start(
            [&](FAppHarness& app) {
                auto* mgr = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
                ASSERT_NE(mgr, nullptr);
                EXPECT_EQ(mgr->GetList().GetCount(), c.count);
                if (c.count == 1) {
                    // The listed name reaches the file: marking it writes to disk.
                    FWideString url = mgr->GetList().m_pHead->m_usURL;
                    ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &url));
                    ASSERT_TRUE(app.Send("MainWin.WinMgr", "Mark"));
                    ASSERT_TRUE(app.RunUntil([&] { return !mgr->GetList().IsBatchRunning(); }, 1000));
                    EXPECT_TRUE(mgr->GetList().m_pHead->m_bMarked);
                    EXPECT_EQ(Leading(Text(app, "MainWin.StatusImages")), "1");
                }
                EXPECT_FALSE(mgr->IsCameraMode());
                // Nothing to review: the review window stays closed.
                app.RunUntil([] { return false; }, 10);
                EXPECT_FALSE(app.Window("ReviewWin")->IsVisible());
            },
            argument);
        EXPECT_TRUE(harness.BodyRan());
        EXPECT_TRUE(harness.MessageBoxes().empty());
    }
}

// A damaged state file: absurd methods, words for flags, a name with "%", quotes and "#"
// in the stored folder. The browser starts on sane settings and writes them back.
TEST(BrowsingJourney, StateFileWithWrongTypesAndAbsurdValues)
{
    FTempDiskFolder folder;
    ASSERT_TRUE(folder.MakeFolder("100% \"q\" #1"));
    ASSERT_TRUE(folder.WriteFile("100% \"q\" #1/a.q7f", Bytes(MakeRaw(RawOptions{}))));
    const std::string url = folder.GetUrl("100% \"q\" #1").GetNarrow();
    std::string escaped;
    for (char c : url)
        escaped += c == '"' ? std::string("&quot;") : c == '&' ? std::string("&amp;") : std::string(1, c);
    FAppHarness harness;
    ASSERT_TRUE(harness.WriteStateFile(
        "<STATE><PERDATA Name=\"Rawbench.MainWin.WinMgr\" SortMethod=\"99\" ReverseSort=\"maybe\" "
        "FilterMethod=\"-4\" BriOnly=\"17\" DirectoryURL=\"" +
        escaped + "/\" InfoWindowVisible=\"[]\"/></STATE>"));
    harness.Start([&](FAppHarness& app) {
        auto* mgr = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        ASSERT_NE(mgr, nullptr);
        EXPECT_EQ(mgr->GetList().m_nSortMethod, 1);
        EXPECT_EQ(mgr->GetList().m_nFilterMethod, 1);
        EXPECT_EQ(mgr->GetList().GetCount(), 1);
        EXPECT_EQ(Leading(Text(app, "MainWin.StatusImages")), "1");
        EXPECT_STREQ(app.App()->GetHelpURL().GetNarrow(), "https://example.invalid/q7f/help");
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
    std::string state;
    ASSERT_TRUE(harness.ReadStateFile(state));
    // Written as UTF-16: the ASCII keys are found once the zero bytes are gone.
    std::erase(state, '\0');
    EXPECT_NE(state.find("SortMethod=\"1\""), std::string::npos) << state;
    EXPECT_NE(state.find("FilterMethod=\"1\""), std::string::npos) << state;
}

} // namespace
