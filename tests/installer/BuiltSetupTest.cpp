#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "FBundleFolder.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
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
    Send(h, "GermanInstall");
    Send(h, "ShowWelcome");
    Send(h, "ShowChoose");
    Send(h, "ShowProgress");
    Send(h, "CopyFiles");
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

std::string ArchiveMemberBytes(const char* name)
{
    FBundleFolder archive(UrlOf(RB_SETUP_EXECUTABLE));
    FIFile* file = archive.OpenFile(FWideString(name), kFileRead);
    if (!file)
        return std::string();
    std::string bytes(static_cast<size_t>(file->GetSize()), '\0');
    file->Read(bytes.data(), static_cast<int>(bytes.size()));
    file->Release();
    return bytes;
}

int Mode(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

} // namespace

// The built script and the list a build with the application packs, around a stand-in program.
TEST(BuiltSetup, InstallsTheApplicationWithShortcutsAndLeavesTheHomeAsItWasAfterRemoval)
{
    InstallerHarness h;
    std::vector<std::string> before = h.ListTree(h.Home());
    ASSERT_TRUE(h.WriteInstallerOf({{"ui.xml", ArchiveMemberBytes("ui.xml")},
                                    {"InstallList.xml", ReadWholeFile(RB_SETUP_LIST_WITH_APP)},
                                    {"prog_bg.png", ArchiveMemberBytes("prog_bg.png")},
                                    {"prog_fg.png", ArchiveMemberBytes("prog_fg.png")},
                                    {"README.md", "read me"},
                                    {"Rawbench", "#!/bin/sh\nexit 0\n"},
                                    {"ui.btb", "packed script"}}));
    before = h.ListTree(h.Home());
    ASSERT_TRUE(h.Launch());
    Send(h, "JapaneseInstall");
    Send(h, "ShowWelcome");
    Send(h, "ShowChoose");
    Send(h, "ShowProgress");
    Send(h, "CopyFiles");
    EXPECT_GT(h.TickCopy(), 0);

    const std::string menuEntry = h.DataHome() + "/applications/Rawbench.desktop";
    const std::string desktopEntry = h.Home() + "/Desktop/Rawbench.desktop";
    EXPECT_EQ(Mode(h.Destination() + "/Rawbench") & 0111, 0111);
    EXPECT_NE(ReadWholeFile(menuEntry).find("Exec=" + h.Destination() + "/Rawbench\n"), std::string::npos);
    EXPECT_EQ(Mode(desktopEntry) & 0111, 0111);
    EXPECT_NE(ReadWholeFile(h.MakerFolder() + "/Registry.tsv").find("Japanese"), std::string::npos);
    const std::string record = DumpTree(ReadXmlFile(h.MakerFolder() + "/Uninstall.xml").get());
    EXPECT_NE(record.find("SHELL_LINK Link_Name=" + menuEntry + " Folder=F"), std::string::npos) << record;
    EXPECT_NE(record.find("SHELL_LINK Link_Name=" + desktopEntry + " Folder=F"), std::string::npos) << record;

    ASSERT_TRUE(h.Launch());
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "Japanese");
    Send(h, "Uninstall");
    h.Stop();
    std::set<std::string> expected(before.begin(), before.end());
    // Folders the shortcuts were written into, and what the application keeps of its maker.
    for (const char* leftover :
         {".config/Rawbench/", ".config/Rawbench/Talvo/", ".config/Rawbench/Talvo/AutoLaunchPreferences.xml",
          ".local/share/applications/", "Desktop/"})
        expected.insert(leftover);
    const std::vector<std::string> after = h.ListTree(h.Home());
    EXPECT_EQ(std::set<std::string>(after.begin(), after.end()), expected);
}
