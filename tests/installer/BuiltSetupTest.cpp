#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FBundleFolder.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FUiInstallCopyControl.h"
#include "FUiInstallerMain.h"
#include "FUiScriptFixture.h"
#include "InstallerHarness.h"

namespace
{

void Send(InstallerHarness& h, const char* message)
{
    h.Main()->UiRelayMessage(FWideString(message), nullptr);
}

} // namespace

TEST(BuiltSetup, CarriesItsScriptListAndFilesInTheAppendedArchive)
{
    EnsureDiskStorageClass();
    FBundleFolder archive(UrlOf(RB_SETUP_EXECUTABLE));
    std::vector<FWideString> members;
    archive.ListFiles(members);
    std::vector<std::string> names;
    for (const FWideString& member : members)
        names.push_back(Utf8FromWide(member));
    for (const char* needed : {"ui.xml", "InstallList.xml", "prog_bg.png", "prog_fg.png", "README.md"})
        EXPECT_NE(std::find(names.begin(), names.end(), needed), names.end()) << needed;
}

TEST(BuiltSetup, InstallsWithItsOwnScriptAndRemovesItAllOnTheNextStart)
{
    InstallerHarness h;
    std::filesystem::copy_file(RB_SETUP_EXECUTABLE, h.InstallerPath());
    ASSERT_TRUE(h.Launch());
    ASSERT_NE(h.Main(), nullptr);
    ASSERT_NE(h.Copy(), nullptr);
    h.StartInstall("GermanInstall");
    EXPECT_GT(h.TickCopy(), 0);
    EXPECT_EQ(ReadWholeFile(h.Destination() + "/README.md"), ReadWholeFile(RB_SOURCE_README));
    const std::string record = DumpTree(ReadXmlFile(h.MakerFolder() + "/Uninstall.xml").get());
    EXPECT_NE(record.find("README.md"), std::string::npos) << record;
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "German");
    // The language went to the registry store as well, and was recorded.
    EXPECT_NE(ReadWholeFile(h.MakerFolder() + "/Registry.tsv").find("Language\tREG_SZ\tGerman"),
              std::string::npos);
    EXPECT_NE(record.find("SubKey_Value=Language"), std::string::npos) << record;
    // A build with the application installs it beside its packed script, where its start looks.
    if (std::filesystem::exists(h.Destination() + "/Rawbench")) {
        const auto perms = std::filesystem::status(h.Destination() + "/Rawbench").permissions();
        EXPECT_NE(perms & std::filesystem::perms::owner_exec, std::filesystem::perms::none);
        FBundleFolder script(UrlOf(h.Destination() + "/ui.btb"));
        for (const char* member : {"ui.xml", "win_main.xml", "strings.xml"}) {
            FIFile* file = script.OpenFile(FWideString(member), kFileRead);
            EXPECT_NE(file, nullptr) << member;
            if (file) {
                EXPECT_GT(file->GetSize(), 0) << member;
                file->Release();
            }
        }
        EXPECT_NE(record.find("ui.btb"), std::string::npos) << record;
    }

    ASSERT_TRUE(h.Launch());
    ASSERT_NE(h.Main()->GetPreviousUninstallTree(), nullptr);
    EXPECT_EQ(DumpTree(h.Main()->GetPreviousUninstallTree()), record);
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "German");

    // The script hands the record through the stages to the copy control.
    Send(h, "Uninstall");
    EXPECT_FALSE(std::filesystem::exists(h.Destination()));
    EXPECT_FALSE(std::filesystem::exists(h.MakerFolder() + "/Uninstall.xml"));
    EXPECT_FALSE(std::filesystem::exists(h.MakerFolder() + "/Registry.tsv"));
}

namespace
{

int Mode(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

} // namespace

// The built script and the list a build with the application packs, around a stand-in program.
TEST(BuiltSetup, InstallsTheApplicationWithDesktopEntriesThatOpenRawFiles)
{
    InstallerHarness h;
    // Another program's entry of the same name is kept, and not recorded as ours.
    std::filesystem::create_directories(h.Home() + "/Desktop");
    const std::string theirs = "[Desktop Entry]\nType=Application\nName=Theirs\nExec=theirs\n";
    std::ofstream(h.Home() + "/Desktop/Rawbench.desktop") << theirs;
    ASSERT_TRUE(h.WriteBuiltInstaller());
    ASSERT_TRUE(h.Launch());
    h.StartInstall("JapaneseInstall");
    EXPECT_GT(h.TickCopy(), 0);

    const std::string menuEntry = h.DataHome() + "/applications/Rawbench.desktop";
    EXPECT_EQ(Mode(h.Destination() + "/Rawbench") & 0111, 0111);
    const std::string entry = ReadWholeFile(menuEntry);
    for (const std::string& line :
         {"Exec=" + h.Destination() + "/Rawbench %F\n", std::string("Icon=rawbench\n"),
          std::string("Categories=Graphics;Photography;\n"), std::string("MimeType=image/x-rawbench-raw;\n")})
        EXPECT_NE(entry.find(line), std::string::npos) << line << entry;
    EXPECT_EQ(ValidateDesktopEntry(menuEntry), "");
    EXPECT_EQ(ReadWholeFile(h.Home() + "/Desktop/Rawbench.desktop"), theirs);
    EXPECT_NE(ReadWholeFile(h.MakerFolder() + "/Registry.tsv").find("Japanese"), std::string::npos);
    const std::string record = DumpTree(ReadXmlFile(h.MakerFolder() + "/Uninstall.xml").get());
    EXPECT_NE(record.find("SHELL_LINK Link_Name=" + menuEntry + " Folder=F"), std::string::npos) << record;
    EXPECT_EQ(record.find("Desktop/Rawbench.desktop"), std::string::npos) << record;

    ASSERT_TRUE(h.Launch());
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "Japanese");
    Send(h, "Uninstall");
    h.Stop();
    EXPECT_FALSE(PathExists(menuEntry));
    EXPECT_EQ(ReadWholeFile(h.Home() + "/Desktop/Rawbench.desktop"), theirs);
}

namespace
{

FRect WindowRect(InstallerHarness& h, const char* name)
{
    FRect rect;
    if (auto* window = dynamic_cast<FGenericUiWindow*>(h.App()->FindUiWindow(FWideString(name))))
        window->GetWindowRect(rect);
    return rect;
}

bool IsShown(InstallerHarness& h, const char* name)
{
    auto* window = dynamic_cast<FGenericUiWindow*>(h.App()->FindUiWindow(FWideString(name)));
    return window && window->IsVisible();
}

} // namespace

// The pages as a user walks them: one window size throughout, a way out on every page,
// and a destination chosen in the folder chooser (a folder made there goes at removal).
TEST(BuiltSetup, ThePagesKeepTheWindowsSizeOfferCancelAndLetTheUserChooseTheFolder)
{
    InstallerHarness h;
    std::filesystem::create_directories(h.Home() + "/Programs");
    ASSERT_TRUE(h.WriteBuiltInstaller());
    const std::map<std::string, std::string> before = SnapshotTree(h.Home());
    ASSERT_TRUE(h.Launch());
    const FRect first = WindowRect(h, "SetupWin");
    ASSERT_GT(first.Width(), 0);
    auto sameSize = [&](const char* page) {
        const FRect now = WindowRect(h, "SetupWin");
        EXPECT_EQ(now.Width(), first.Width()) << page;
        EXPECT_EQ(now.Height(), first.Height()) << page;
    };
    EXPECT_NE(h.App()->GetUiRelay(FWideString("SetupWin.LanguagePage.Cancel")), nullptr);
    EXPECT_TRUE(h.Click("SetupWin.LanguagePage.LangEnglish"));
    EXPECT_TRUE(h.Click("SetupWin.LanguagePage.LanguageNext"));
    sameSize("welcome");
    EXPECT_NE(h.App()->GetUiRelay(FWideString("SetupWin.WelcomePage.Cancel")), nullptr);
    EXPECT_TRUE(h.Click("SetupWin.WelcomePage.WelcomeNext"));
    sameSize("destination");
    EXPECT_EQ(h.ShownText("SetupWin.ChoosePage.ChoosePath"), h.Destination());

    // Change... opens the chooser; a folder made in it and then chosen becomes the destination.
    ASSERT_TRUE(h.Click("SetupWin.ChoosePage.ChangeButton"));
    EXPECT_TRUE(IsShown(h, "DirectoryWin"));
    FIUiRelay* chooser = h.App()->GetUiRelay(FWideString("DirectoryWin.WinMgr"));
    ASSERT_NE(chooser, nullptr);
    FWideString programs = UrlOf(h.Home() + "/Programs/");
    chooser->UiRelayMessage(FWideString("DirSelected"), &programs);
    FWideString name("Rawbench Studio");
    chooser->UiRelayMessage(FWideString("NewFolderName"), &name);
    chooser->UiRelayMessage(FWideString("CreateNewFolder"), nullptr);
    ASSERT_TRUE(h.Click("DirectoryWin.OK"));
    EXPECT_FALSE(IsShown(h, "DirectoryWin"));
    const std::string chosen = h.Home() + "/Programs/Rawbench Studio";
    EXPECT_EQ(h.ShownText("SetupWin.ChoosePage.ChoosePath"), chosen);
    sameSize("destination after choosing");

    EXPECT_TRUE(h.Click("SetupWin.ChoosePage.InstallButton"));
    sameSize("progress");
    EXPECT_NE(h.App()->GetUiRelay(FWideString("SetupWin.ProgressPage.CancelButton")), nullptr);
    EXPECT_GT(h.TickCopy(), 0);
    sameSize("installed");
    EXPECT_TRUE(PathExists(chosen + "/Rawbench"));

    ASSERT_TRUE(h.Launch());
    EXPECT_NE(h.App()->GetUiRelay(FWideString("SetupWin.UninstallPage.CancelUninstall")), nullptr);
    EXPECT_TRUE(h.Click("SetupWin.UninstallPage.UninstallButton"));
    EXPECT_EQ(WindowRect(h, "SetupWin").Height(), first.Height());
    h.Stop();
    EXPECT_EQ(SnapshotTree(h.Home()), before);
}

TEST(BuiltSetup, CancelOnTheFirstPagesEndsTheInstallerWithoutWritingAnything)
{
    for (const char* page : {"LanguagePage", "WelcomePage", "ChoosePage"}) {
        SCOPED_TRACE(page);
        InstallerHarness h;
        ASSERT_TRUE(h.WriteBuiltInstaller());
        const std::map<std::string, std::string> before = SnapshotTree(h.Home());
        ASSERT_TRUE(h.Launch());
        h.Click("SetupWin.LanguagePage.LangGerman");
        if (std::string(page) != "LanguagePage")
            h.Click("SetupWin.LanguagePage.LanguageNext");
        if (std::string(page) == "ChoosePage")
            h.Click("SetupWin.WelcomePage.WelcomeNext");
        GetHeadlessDesktop().quit = false;
        ASSERT_TRUE(h.Click((std::string("SetupWin.") + page + ".Cancel").c_str()));
        EXPECT_TRUE(h.RunQueuedEvents());
        h.Stop();
        EXPECT_EQ(SnapshotTree(h.Home()), before);
    }
}
