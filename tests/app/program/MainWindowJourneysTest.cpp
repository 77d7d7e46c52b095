// Journeys of the browser window through the real program and script: the View menu's
// ticks, Mark and Lock's words, the information window's one / none / several states, a
// path handed over by a second start, the status bar and its words.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "BrowserFixtures.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FImageFileListEntry.h"
#include "FOsMenuBar.h"
#include "FSCDiskWin.h"
#include "FTempDiskFolder.h"
#include "FUiButton.h"
#include "FUiCheckbox.h"
#include "FUiDirectoryWindow.h"
#include "FUiDynaString.h"
#include "FUiFrame.h"
#include "FUiMainWindow.h"
#include "FUiMenu.h"
#include "FUiReviewWindow.h"
#include "FUiScrollList.h"
#include "FUiTextBox.h"
#include "FUiThumbnails.h"
#include "StorageClassRegistry.h"

using namespace browsertest;

namespace
{

std::string Bytes(const rawtest::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string Shown(const FAppHarness& app, const std::string& path)
{
    if (auto* line = dynamic_cast<FUiDynaString*>(app.Object(path)))
        return Utf8FromWide(line->GetShownText());
    auto* box = dynamic_cast<FUiTextBox*>(app.Object(path));
    return box ? Utf8FromWide(box->GetText()) : "<none>";
}

FUiMenuItem* Item(const FAppHarness& app, const std::string& path)
{
    return dynamic_cast<FUiMenuItem*>(app.App()->GetUiRelay(WideFromUtf8(path)));
}

// The item as the menu bar draws it.
const FOsMenu::Item* Drawn(const FAppHarness& app, const std::string& path)
{
    FUiMenuItem* wanted = Item(app, path);
    auto* os = dynamic_cast<FHeadlessUiWindow*>(app.Window(path.substr(0, path.find('.')))->GetOsWindow());
    if (!wanted || !os)
        return nullptr;
    for (const auto& menu : os->GetMenuBar().GetMenus()) {
        auto* portable = dynamic_cast<FUiMenu*>(menu->GetMenu());
        for (FUiMenuItem* item = portable ? portable->GetFirstItem() : nullptr; item; item = item->GetNext())
            if (item == wanted)
                return &menu->GetItems()[size_t(item->GetPosition())];
    }
    return nullptr;
}

// The ticked items among the given ones.
std::vector<std::string> Ticked(const FAppHarness& app, const std::vector<std::string>& paths)
{
    std::vector<std::string> ticked;
    for (const std::string& path : paths) {
        const FOsMenu::Item* item = Drawn(app, path);
        if (item && item->checked)
            ticked.push_back(path.substr(path.rfind('.') + 1));
    }
    return ticked;
}

bool AllThumbnailsShown(FUiThumbnails* view)
{
    for (ThumbnailCell* cell = view->GetFirstCell(); cell; cell = cell->next)
        if (!cell->entry || !cell->entry->m_pThumbnail)
            return false;
    return view->GetCellCount() > 0;
}

// Three raws (one marked) and a JPEG.
void WriteFolder(const FTempDiskFolder& folder)
{
    ASSERT_TRUE(folder.WriteFile("a.q7f", Bytes(MakeRaw(RawOptions{.cols = 800, .rows = 600}))));
    ASSERT_TRUE(folder.WriteFile("b.q7f", Bytes(MakeRaw(RawOptions{.markBits = 1}))));
    ASSERT_TRUE(folder.WriteFile("c.q7f", Bytes(MakeRaw(RawOptions{}))));
    ASSERT_TRUE(folder.WriteFile("d.jpg", Bytes(MakeJpeg(40, 30))));
}

// A folder's URL with or without its final slash.
std::string Folder(const FWideString& url)
{
    std::string text = Utf8FromWide(url);
    if (!text.empty() && text.back() == '/')
        text.pop_back();
    return text;
}

// Starts the program on a folder of WriteFolder's images and runs the body inside it.
void RunOnFolder(const std::function<void(FAppHarness&, const FTempDiskFolder&)>& body)
{
    FTempDiskFolder folder;
    WriteFolder(folder);
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) { body(app, folder); }, folder.GetPath());
    EXPECT_TRUE(harness.BodyRan());
}

const std::vector<std::string> kFilters = {"MainWin.View.ShowAll", "MainWin.View.ShowMarked",
                                           "MainWin.View.ShowUnmarked", "MainWin.View.ShowLocked",
                                           "MainWin.View.ShowUnlocked"};
const std::vector<std::string> kSorts = {"MainWin.View.SortName", "MainWin.View.SortDate",
                                         "MainWin.View.SortSize", "MainWin.View.SortType",
                                         "MainWin.View.SortResolution"};
const std::vector<std::string> kSizes = {"MainWin.View.Small", "MainWin.View.Medium", "MainWin.View.Large",
                                         "MainWin.View.Detailed"};
const std::vector<std::string> kModes = {"MainWin.View.Computer", "MainWin.View.Camera"};

} // namespace

// Each group of the View menu ticks the one choice in force, whether it was chosen by the
// menu, by its key or stored from the last run; choosing it again keeps it ticked.
TEST(MainWindowJourneys, TheViewMenuTicksWhatIsInForce)
{
    FTempDiskFolder folder;
    WriteFolder(folder);
    FAppHarness harness;
    ASSERT_TRUE(harness.WriteStateFile("<STATE><PERDATA Name=\"Rawbench.MainWin.WinMgr\" SortMethod=\"2\" "
                                       "FilterMethod=\"3\"/></STATE>"));
    harness.Start(
        [&](FAppHarness& app) {
            auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
            ASSERT_NE(view, nullptr);
            EXPECT_EQ(Ticked(app, kFilters), std::vector<std::string>{"ShowUnmarked"});
            EXPECT_EQ(Ticked(app, kSorts), std::vector<std::string>{"SortDate"});
            EXPECT_EQ(Ticked(app, kSizes), std::vector<std::string>{"Medium"});
            EXPECT_EQ(Ticked(app, kModes), std::vector<std::string>{"Computer"});

            struct Step {
                const char* what;
                EOsKey key;
                int value;
                bool ctrl;
                std::vector<std::string> group;
                std::vector<std::string> ticked;
            };
            const Step steps[] = {
                {"Ctrl+2 shows the marked", EOsKey::kDigit, '2', true, kFilters, {"ShowMarked"}},
                {"Ctrl+2 again keeps it", EOsKey::kDigit, '2', true, kFilters, {"ShowMarked"}},
                {"Ctrl+1 shows all", EOsKey::kDigit, '1', true, kFilters, {"ShowAll"}},
                {"1 makes them small", EOsKey::kDigit, '1', false, kSizes, {"Small"}},
                {"4 gives details", EOsKey::kDigit, '4', false, kSizes, {"Detailed"}},
                {"F3 keeps the computer", EOsKey::kFunction, 3, false, kModes, {"Computer"}},
            };
            for (const Step& step : steps) {
                SCOPED_TRACE(step.what);
                ASSERT_TRUE(app.Key("MainWin", step.key, step.value, step.ctrl));
                EXPECT_EQ(Ticked(app, step.group), step.ticked);
            }
            ASSERT_TRUE(app.Send("MainWin.View.SortSize", "Select"));
            EXPECT_EQ(Ticked(app, kSorts), std::vector<std::string>{"SortSize"});
            ASSERT_TRUE(app.Send("MainWin.View.SortSize", "Select"));
            EXPECT_EQ(Ticked(app, kSorts), std::vector<std::string>{"SortSize"});
            auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
            EXPECT_EQ(browser->GetList().m_nSortMethod, 3);
            EXPECT_EQ(browser->GetList().m_nFilterMethod, 1);
            app.Send("MainWin", "Close");
        },
        folder.GetPath());
    EXPECT_TRUE(harness.BodyRan());
}

// Mark and Lock say what choosing them would do to the selected images, in the browser and
// in the review window, and follow the language.
TEST(MainWindowJourneys, MarkAndLockOfferTheirOpposite)
{
    RunOnFolder([&](FAppHarness& app, const FTempDiskFolder& folder) {
        auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        ASSERT_NE(browser, nullptr);
        auto label = [&](const char* path) {
            const FOsMenu::Item* item = Drawn(app, path);
            return item ? Utf8FromWide(item->label) : std::string("<none>");
        };
        FWideString marked = folder.GetUrl("b.q7f");
        FWideString plain = folder.GetUrl("a.q7f");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &marked));
        EXPECT_EQ(label("MainWin.Image.Mark"), "Unmark");
        EXPECT_EQ(label("MainWin.Image.Lock"), "Lock");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &plain));
        EXPECT_EQ(label("MainWin.Image.Mark"), "Mark");
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'L'));
        ASSERT_TRUE(app.RunUntil([&] { return !browser->GetList().IsBatchRunning(); }, 1000));
        EXPECT_EQ(label("MainWin.Image.Lock"), "Unlock");
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'M'));
        ASSERT_TRUE(app.RunUntil([&] { return !browser->GetList().IsBatchRunning(); }, 1000));
        EXPECT_EQ(label("MainWin.Image.Mark"), "Unmark");

        FWideString french("French");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SetLang", &french));
        EXPECT_EQ(label("MainWin.Image.Mark"), "Retirer la marque");
        FWideString english("English");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SetLang", &english));

        // The review window's Image menu follows its own image.
        ASSERT_TRUE(app.Send("MainWin.Thumbs", "DeselectAll"));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &marked));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "ReviewImages"));
        ASSERT_TRUE(app.Window("ReviewWin")->IsVisible());
        EXPECT_TRUE(app.RunUntil([&] { return label("ReviewWin.Image.Mark") == "Unmark"; }, 300));
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'M'));
        EXPECT_EQ(label("ReviewWin.Image.Mark"), "Mark");
        app.Send("MainWin", "Close");
    });
}

// The information window shows the one selected image; with none or several it says so
// and keeps nothing of the last image.
TEST(MainWindowJourneys, TheInformationWindowFollowsTheSelection)
{
    RunOnFolder([&](FAppHarness& app, const FTempDiskFolder& folder) {
        auto* rows = dynamic_cast<FUiFrame*>(app.Object("InformationWin.Rows"));
        ASSERT_NE(rows, nullptr);
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "ShowInfoWindow"));
        FWideString a = folder.GetUrl("a.q7f");
        FWideString b = folder.GetUrl("b.q7f");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &a));
        EXPECT_EQ(Shown(app, "InformationWin.HeadName"), "a.q7f");
        EXPECT_TRUE(rows->IsVisible());

        // The view's selection keys: all, then none.
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'A', true));
        EXPECT_EQ(Shown(app, "InformationWin.HeadName"), "Several images selected");
        EXPECT_FALSE(rows->IsVisible());
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'A', true, true));
        EXPECT_EQ(Shown(app, "InformationWin.HeadName"), "No image selected");
        EXPECT_FALSE(rows->IsVisible());

        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &b));
        EXPECT_EQ(Shown(app, "InformationWin.HeadName"), "b.q7f");
        EXPECT_TRUE(rows->IsVisible());
        app.Send("MainWin", "Close");
    });
}

// A second start hands over its path: the running browser opens that folder, selects and
// reviews the image, and comes to the front. A path that names nothing it shows is said so,
// and the browser stays as it was.
TEST(MainWindowJourneys, ASecondStartHandsOverItsPath)
{
    FTempDiskFolder first, other;
    WriteFolder(first);
    ASSERT_TRUE(other.WriteFile("x.q7f", Bytes(MakeRaw(RawOptions{}))));
    ASSERT_TRUE(other.WriteFile("y.q7f", Bytes(MakeRaw(RawOptions{}))));
    ASSERT_TRUE(other.WriteFile("notes.txt", "no image"));
    FAppHarness harness;
    harness.Start(
        [&](FAppHarness& app) {
            auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
            auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
            ASSERT_TRUE(browser && review);
            auto handOver = [&](const std::string& path) {
                FWideString native = WideFromUtf8(path);
                app.App()->FireOpenPathEvent(&native);
                app.App()->UiRelayMessage(FWideString("ShowMainWindow"), nullptr);
            };
            ASSERT_EQ(Folder(browser->GetDirectoryURL()), Folder(first.GetUrl()));

            struct Bad {
                const char* what;
                std::string path;
            };
            const Bad bad[] = {{"nothing there", other.GetPath() + "/gone.q7f"},
                               {"a file of another kind", other.GetPath() + "/notes.txt"},
                               {"an empty path", ""}};
            for (const Bad& b : bad) {
                SCOPED_TRACE(b.what);
                handOver(b.path);
                EXPECT_TRUE(app.Window("MessageWin")->IsVisible());
                EXPECT_EQ(Shown(app, "MessageWin.Line1"), "This cannot be opened.");
                EXPECT_EQ(Folder(browser->GetDirectoryURL()), Folder(first.GetUrl()));
                EXPECT_EQ(browser->GetList().GetCount(), 4);
                EXPECT_FALSE(app.Window("ReviewWin")->IsVisible());
                app.Send("MessageWin", "Hide");
            }

            app.Send("MainWin", "Hide");
            handOver(other.GetPath() + "/y.q7f");
            EXPECT_FALSE(app.Window("MessageWin")->IsVisible());
            EXPECT_TRUE(app.Window("MainWin")->IsVisible());
            EXPECT_EQ(Folder(browser->GetDirectoryURL()), Folder(other.GetUrl()));
            EXPECT_EQ(browser->GetList().GetSelectedCount(), 1);
            ASSERT_NE(browser->GetList().FirstSelected(), nullptr);
            EXPECT_EQ(browser->GetList().FirstSelected()->m_usFileName, FWideString("y.q7f"));
            EXPECT_TRUE(app.Window("ReviewWin")->IsVisible());
            ASSERT_TRUE(app.RunUntil([&] { return review->GetEntry() != nullptr; }, 300));
            EXPECT_EQ(review->GetEntry()->m_usFileName, FWideString("y.q7f"));

            // A folder opens as the folder tree would open it.
            app.Send("ReviewWin", "Hide");
            handOver(first.GetPath());
            EXPECT_EQ(Folder(browser->GetDirectoryURL()), Folder(first.GetUrl()));
            auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
            EXPECT_TRUE(app.RunUntil([&] { return AllThumbnailsShown(view); }, 3000));
            EXPECT_EQ(view->GetCellCount(), 4);
            EXPECT_FALSE(app.Window("ReviewWin")->IsVisible());
            app.Send("MainWin", "Close");
        },
        first.GetPath());
    EXPECT_TRUE(harness.BodyRan());
    EXPECT_TRUE(harness.MessageBoxes().empty());
}

// Help > User Guide (F1) hands the guide installed beside the program to the desktop's
// opener; without an opener, or one that cannot show it, the user is told.
TEST(MainWindowJourneys, HelpOpensTheGuideBesideTheProgram)
{
    struct Case {
        const char* what;
        int opener; // the launcher's result
        const char* notice;
    };
    const Case cases[] = {
        {"opened", 0, nullptr},
        {"no program for the file", 3, "No program to open the guide was found (xdg-open)."},
        {"no opener installed", -1, "No program to open the guide was found (xdg-open)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> launched;
        SetDiskLauncher([&](const FLaunchRequest& request) {
            for (const std::string& arg : request.m_argv)
                launched.push_back(arg);
            return c.opener;
        });
        FAppHarness harness;
        harness.Start([&](FAppHarness& app) {
            ASSERT_TRUE(app.Key("MainWin", EOsKey::kFunction, 1));
            ASSERT_EQ(launched.size(), 2u);
            EXPECT_EQ(launched[0], "xdg-open");
            EXPECT_EQ(launched[1], harness.ScriptPath("Rawbench-User-Guide.html"));
            EXPECT_EQ(app.Window("MessageWin")->IsVisible(), c.notice != nullptr);
            if (c.notice) {
                EXPECT_EQ(Shown(app, "MessageWin.Line2"), c.notice);
            }
        });
        SetDiskLauncher(nullptr);
        EXPECT_TRUE(harness.BodyRan());
    }
    // The guide itself is written: what a user needs is in it.
    std::string guide;
    FAppHarness harness;
    ASSERT_TRUE(harness.ReadScriptFile("Rawbench-User-Guide.html", guide));
    for (const char* topic :
         {"Browsing", "Reviewing", "Adjusting", "Saving", "Downloading", "Keyboard shortcuts"})
        EXPECT_NE(guide.find(topic), std::string::npos) << topic;
}

// The download dialog shows its chosen scope and what happens after the copy; the language
// dialog shows the language in force.
TEST(MainWindowJourneys, DialogsShowTheChoiceInForce)
{
    RunOnFolder([&](FAppHarness& app, const FTempDiskFolder&) {
        auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        ASSERT_NE(browser, nullptr);
        auto on = [&](const char* path) {
            auto* radio = dynamic_cast<FUiCheckbox*>(app.Object(path));
            return radio && radio->GetState();
        };
        auto chosen = [&](std::initializer_list<const char*> paths) {
            std::vector<std::string> names;
            for (const char* path : paths)
                if (on(path))
                    names.push_back(std::string(path).substr(std::string(path).rfind('.') + 1));
            return names;
        };
        const auto scope = {"DownloadWin.All", "DownloadWin.Marked", "DownloadWin.Selected"};
        const auto after = {"DownloadWin.Keep", "DownloadWin.Delete"};
        app.Send("DownloadWin.WinMgr", "ImageFileList", browser->GetList().m_pHead);
        ASSERT_TRUE(app.Send("DownloadWin", "Show"));
        EXPECT_EQ(chosen(scope), std::vector<std::string>{"All"});
        EXPECT_EQ(chosen(after), std::vector<std::string>{"Keep"});
        ASSERT_TRUE(app.Click("DownloadWin.Marked"));
        EXPECT_EQ(chosen(scope), std::vector<std::string>{"Marked"});
        ASSERT_TRUE(app.Click("DownloadWin.Delete"));
        EXPECT_EQ(chosen(after), std::vector<std::string>{"Delete"});
        ASSERT_TRUE(app.Click("DownloadWin.Keep"));
        EXPECT_EQ(chosen(after), std::vector<std::string>{"Keep"});
        ASSERT_TRUE(app.Click("DownloadWin.Cancel"));

        auto highlighted = [&] {
            auto* list = dynamic_cast<FUiScrollList*>(app.Object("LanguageWin.Languages"));
            for (FUiScrollListItem* item = list ? list->GetFirstItem() : nullptr; item; item = item->next)
                if (item->selected)
                    return Utf8FromWide(item->identifier);
            return std::string("<none>");
        };
        ASSERT_TRUE(app.Send("MainWin.File.Language", "Select"));
        ASSERT_TRUE(app.Window("LanguageWin")->IsVisible());
        EXPECT_EQ(highlighted(), "English");
        ASSERT_TRUE(app.Click("LanguageWin.OK"));
        FWideString german("German");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SetLang", &german));
        ASSERT_TRUE(app.Send("MainWin.File.Language", "Select"));
        EXPECT_EQ(highlighted(), "German");
        app.Send("MainWin", "Close");
    });
}

// Escape closes menus and dialogs; in the browser itself it does nothing, so that Quit is
// never one stray key away.
TEST(MainWindowJourneys, EscapeClosesDialogsButNeverQuits)
{
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kEscape));
        app.RunUntil([] { return GetHeadlessDesktop().quit; }, 20);
        EXPECT_FALSE(GetHeadlessDesktop().quit);
        EXPECT_TRUE(app.Window("MainWin")->IsVisible());

        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectLanguage"));
        ASSERT_TRUE(app.Window("LanguageWin")->IsVisible());
        ASSERT_TRUE(app.Key("LanguageWin", EOsKey::kEscape));
        EXPECT_FALSE(app.Window("LanguageWin")->IsVisible());
        EXPECT_FALSE(GetHeadlessDesktop().quit);

        // Quit itself still asks nothing.
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'Q', true));
        EXPECT_TRUE(app.RunUntil([] { return GetHeadlessDesktop().quit; }, 20));
    });
    EXPECT_TRUE(harness.BodyRan());
}

// The folder chooser opens where the user is: the save dialog's folder when it has one, the
// browsed folder otherwise; never at the top of the file system.
TEST(MainWindowJourneys, TheFolderChooserStartsAtTheImagesFolder)
{
    FTempDiskFolder folder, elsewhere;
    WriteFolder(folder);
    FAppHarness harness;
    harness.Start(
        [&](FAppHarness& app) {
            auto* chooser = dynamic_cast<FUiDirectoryWindow*>(app.Object("DirectoryWin.WinMgr"));
            ASSERT_NE(chooser, nullptr);
            ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'S', true));
            ASSERT_TRUE(app.Window("SaveImagesWin")->IsVisible());
            FWideString empty;
            ASSERT_TRUE(app.Send("SaveImagesWin.DstDir", "SetText", &empty));
            ASSERT_TRUE(app.Click("SaveImagesWin.Browse"));
            ASSERT_TRUE(app.Window("DirectoryWin")->IsVisible());
            EXPECT_EQ(Folder(chooser->GetURL()), Folder(folder.GetUrl()));
            ASSERT_TRUE(app.Click("DirectoryWin.Cancel"));

            FWideString native = WideFromUtf8(elsewhere.GetPath());
            ASSERT_TRUE(app.Send("SaveImagesWin.DstDir", "SetText", &native));
            ASSERT_TRUE(app.Click("SaveImagesWin.Browse"));
            EXPECT_EQ(Folder(chooser->GetURL()), Folder(elsewhere.GetUrl()));
            ASSERT_TRUE(app.Click("DirectoryWin.Cancel"));
            app.Send("SaveImagesWin", "Hide");
            app.Send("MainWin", "Close");
        },
        folder.GetPath());
    EXPECT_TRUE(harness.BodyRan());
}

// Home and End in the grid choose the first and the last image.
TEST(MainWindowJourneys, HomeAndEndChooseTheFirstAndLastImage)
{
    RunOnFolder([&](FAppHarness& app, const FTempDiskFolder&) {
        auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
        auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        ASSERT_TRUE(view && browser);
        ASSERT_TRUE(app.RunUntil([&] { return view->GetCellCount() == 4; }, 3000));
        ASSERT_TRUE(app.Click("MainWin.Thumbs"));
        auto chosen = [&] {
            const FImageFileListEntry* entry = browser->GetList().FirstSelected();
            return browser->GetList().GetSelectedCount() == 1 && entry ? Utf8FromWide(entry->m_usFileName)
                                                                       : std::string("<not one>");
        };
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kEnd));
        EXPECT_EQ(chosen(), "d.jpg");
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kHome));
        EXPECT_EQ(chosen(), "a.q7f");
        EXPECT_EQ(Shown(app, "InformationWin.HeadName"), "a.q7f");
        app.Send("MainWin", "Close");
    });
}

// The status bar names its numbers, counts what the filter shows and what is selected, in
// the words and decimal mark of the language.
TEST(MainWindowJourneys, TheStatusBarNamesItsNumbers)
{
    RunOnFolder([&](FAppHarness& app, const FTempDiskFolder&) {
        // Each text has its own place: the image's line stretches between the counts.
        const FRect left = app.Object("MainWin.StatusImages")->GetRect();
        const FRect line = app.Object("MainWin.ImageInfo")->GetRect();
        const FRect right = app.Object("MainWin.StatusSelection")->GetRect();
        EXPECT_LE(left.right, line.left);
        EXPECT_LE(line.right, right.left);
        EXPECT_GT(line.Width(), 400);
        const std::string images = Shown(app, "MainWin.StatusImages");
        EXPECT_EQ(images.rfind("4 images (", 0), 0u) << images;
        EXPECT_EQ(images.find("shown"), std::string::npos) << images;
        EXPECT_EQ(Shown(app, "MainWin.StatusSelection"), "");
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kDigit, '2', true));
        EXPECT_NE(Shown(app, "MainWin.StatusImages").find("), 1 shown"), std::string::npos)
            << Shown(app, "MainWin.StatusImages");
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kDigit, '1', true));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'A', true));
        EXPECT_EQ(Shown(app, "MainWin.StatusSelection").rfind("4 selected (", 0), 0u)
            << Shown(app, "MainWin.StatusSelection");

        FWideString german("German");
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SetLang", &german));
        const std::string bilder = Shown(app, "MainWin.StatusImages");
        EXPECT_EQ(bilder.rfind("4 Bilder (", 0), 0u) << bilder;
        // "12.3 KB" reads "12,3 KB" in German.
        std::string decimal = images;
        for (size_t i = 1; i + 1 < decimal.size(); ++i)
            if (decimal[i] == '.' && isdigit(decimal[i - 1]) && isdigit(decimal[i + 1]))
                decimal[i] = ',';
        ASSERT_NE(decimal, images) << "the size has no decimals to show";
        EXPECT_EQ(bilder.substr(bilder.find('(')), decimal.substr(decimal.find('(')));
        app.Send("MainWin", "Close");
    });
}

// Choosing another language keeps the folder, the selection and the view as they were.
TEST(MainWindowJourneys, ALanguageSwitchKeepsTheSelection)
{
    FTempDiskFolder folder, other;
    WriteFolder(folder);
    ASSERT_TRUE(other.WriteFile("z.q7f", Bytes(MakeRaw(RawOptions{}))));
    FAppHarness harness;
    // The last run browsed another folder: the switch must not go back to it.
    ASSERT_TRUE(harness.WriteStateFile("<STATE><PERDATA Name=\"Rawbench.MainWin.WinMgr\" DirectoryURL=\"" +
                                       Utf8FromWide(other.GetUrl()) + "\"/></STATE>"));
    harness.Start([&](FAppHarness& app) {
        auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
        auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        ASSERT_TRUE(view && browser);
        FWideString url = folder.GetUrl();
        ASSERT_TRUE(app.Send("MainWin.Folders", "SelectDir", &url));
        ASSERT_TRUE(
            app.RunUntil([&] { return AllThumbnailsShown(view) && view->GetCellCount() == 4; }, 3000));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'A', true));
        ASSERT_EQ(browser->GetList().GetSelectedCount(), 4);

        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectLanguage"));
        FWideString french("French");
        app.Send("LanguageWin.Languages", "SelectID", &french);
        ASSERT_TRUE(app.Click("LanguageWin.OK"));
        app.RunUntil([] { return false; }, 20);
        EXPECT_EQ(Folder(browser->GetDirectoryURL()), Folder(folder.GetUrl()));
        EXPECT_EQ(browser->GetList().GetSelectedCount(), 4);
        int selectedCells = 0;
        for (ThumbnailCell* cell = view->GetFirstCell(); cell; cell = cell->next)
            selectedCells += cell->entry->m_bSelected ? 1 : 0;
        EXPECT_EQ(selectedCells, 4);
        EXPECT_EQ(Shown(app, "MainWin.StatusSelection").rfind("4 sélectionnées", 0), 0u)
            << Shown(app, "MainWin.StatusSelection");
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// A pointer resting on a toolbar button shows what it does, in the language in force, in the
// browser and in the review window; moving on or pressing takes the tip away.
TEST(MainWindowJourneys, ToolbarButtonsExplainThemselves)
{
    FAppHarness harness;
    harness.SetStartLanguage("German");
    harness.Start([&](FAppHarness& app) {
        struct Case {
            const char* window;
            const char* button;
            const char* tip;
        };
        const Case cases[] = {{"MainWin", "Download", "Von der Kamera laden..."},
                              {"MainWin", "Info", "Informationen"},
                              {"ReviewWin", "Palette", "Korrekturpalette"}};
        for (const Case& c : cases) {
            SCOPED_TRACE(c.button);
            FGenericUiWindow* window = app.Window(c.window);
            app.Send(c.window, "Show");
            auto* os = dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow());
            auto* button = dynamic_cast<FUiButton*>(app.Object(std::string(c.window) + "." + c.button));
            ASSERT_TRUE(os && button);
            FWideString tip;
            ASSERT_TRUE(button->GetToolTip(tip));
            EXPECT_EQ(Utf8FromWide(tip), c.tip);
            const FRect r = button->GetRect();
            os->InjectMouseMove((r.left + r.right) / 2, (r.top + r.bottom) / 2);
            HeadlessPumpUntilIdle();
            app.RunUntil([] { return false; }, 20);
            EXPECT_EQ(window->GetToolTipRect().Width(), 0) << "not at once";
            ASSERT_TRUE(app.RunUntil([&] { return window->GetToolTipRect().Width() > 0; }, 100));
            const FRect shown = window->GetToolTipRect();
            EXPECT_GE(shown.top, r.bottom) << "below the pointer, clear of the button";
            EXPECT_EQ(os->GetPixel(shown.left + 2, shown.top + 2), 0xFF3C3C3Cu);
            os->InjectMouseMove(r.left + 400, r.bottom + 300);
            HeadlessPumpUntilIdle();
            EXPECT_TRUE(app.RunUntil([&] { return window->GetToolTipRect().Width() == 0; }, 10));
        }
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
}

// A folder given with or without its final "/" is one folder: choosing it again in the tree
// reads nothing again.
TEST(MainWindowJourneys, AFolderIsReadOnceWhateverItsSpelling)
{
    RunOnFolder([&](FAppHarness& app, const FTempDiskFolder& folder) {
        ASSERT_TRUE(app.Watch("MainWin.WinMgr", "ON_NEW_THUMBNAIL_LIST"));
        for (const std::string& spelling : {folder.GetPath(), folder.GetPath() + "/"}) {
            FWideString url;
            ASSERT_TRUE(NativePathToURL(WideFromUtf8(spelling), url));
            ASSERT_TRUE(app.Send("MainWin.WinMgr", "DirSelected", &url));
        }
        EXPECT_TRUE(app.Log().empty());
        app.Send("MainWin", "Close");
    });
}
