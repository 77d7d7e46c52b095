#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FUiInstallerMain.h"
#include "InstallerHarness.h"

namespace fs = std::filesystem;

namespace
{

const char* const kList = R"(<INSTALL_LIST><FILELIST>
  <GROUP Filename="rawbench.bin"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>/bin" DestFileName="Rawbench" TargetExe="T"/></GROUP>
  <FOLDER Filename="skins"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>/share"/></FOLDER>
  <GROUP Filename="README"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>"/></GROUP>
</FILELIST></INSTALL_LIST>)";

const std::vector<ArchiveMember> kFiles = {
    {"rawbench.bin", "program"}, {"skins/a.png", "a"}, {"skins/dark/b.png", "b"}, {"README", "read me"}};

void Send(InstallerHarness& h, const char* message)
{
    h.Main()->UiRelayMessage(FWideString(message), nullptr);
}

void Install(InstallerHarness& h)
{
    ASSERT_TRUE(h.Start(kList, kFiles));
    Send(h, "FrenchInstall");
    Send(h, "ShowWelcome");
    Send(h, "CopyFiles");
    ASSERT_GT(h.TickCopy(), 0);
}

void Uninstall(InstallerHarness& h)
{
    ASSERT_TRUE(h.Launch());
    ASSERT_NE(h.Main()->GetPreviousUninstallTree(), nullptr);
    Send(h, "Uninstall");
}

std::vector<std::string> HomeTree(const InstallerHarness& h)
{
    std::vector<std::string> names = h.ListTree(h.Home());
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& name) { return name.rfind("Downloads/", 0) == 0; }),
                names.end());
    return names;
}

std::string Url(const std::string& path)
{
    return Utf8FromWide(UrlOf(path));
}

} // namespace

TEST(InstallRemoval, UninstallLeavesTheHomeAsItWasApartFromTheMakersLeftovers)
{
    InstallerHarness h;
    const std::vector<std::string> before = HomeTree(h);
    Install(h);
    EXPECT_EQ(ReadWholeFile(h.Destination() + "/share/skins/dark/b.png"), "b");
    Uninstall(h);
    std::set<std::string> expected(before.begin(), before.end());
    // What the application keeps of its maker.
    for (const char* leftover :
         {".config/Rawbench/", ".config/Rawbench/Talvo/", ".config/Rawbench/Talvo/AutoLaunchPreferences.xml"})
        expected.insert(leftover);
    const std::vector<std::string> after = HomeTree(h);
    EXPECT_EQ(std::set<std::string>(after.begin(), after.end()), expected);
}

TEST(InstallRemoval, FoldersHoldingTheUsersOwnFilesStay)
{
    InstallerHarness h;
    Install(h);
    std::ofstream(h.Destination() + "/share/skins/mine.png") << "mine";
    Uninstall(h);
    EXPECT_EQ(ReadWholeFile(h.Destination() + "/share/skins/mine.png"), "mine");
    EXPECT_FALSE(fs::exists(h.Destination() + "/share/skins/a.png"));
    EXPECT_FALSE(fs::exists(h.Destination() + "/share/skins/dark"));
    EXPECT_FALSE(fs::exists(h.Destination() + "/bin"));
    EXPECT_FALSE(fs::exists(h.Destination() + "/README"));
}

TEST(InstallRemoval, AnEditedRecordCannotReachBeyondWhatWasInstalled)
{
    struct Case {
        const char* name;
        std::string installRoot; // relative to the home; "" for the home itself
        std::string entries;     // children of UNINSTALL, with @HOME@ for the home's URL
    };
    const std::string dest = ".local/share/Talvo/Rawbench";
    const Case cases[] = {
        {"file outside every root", dest,
         R"(<UNINSTALL_FILES><FILE FileName="@HOME@/victim/file.txt"/></UNINSTALL_FILES>)"},
        {"home as the destination", "",
         R"(<UNINSTALL_FILES><FILE FileName="@HOME@/victim" Folder="T"/><FILE FileName="@HOME@/victim/file.txt"/></UNINSTALL_FILES>)"},
        {"root as the destination", "/",
         R"(<UNINSTALL_FILES><FILE FileName="@HOME@/victim" Folder="T"/></UNINSTALL_FILES>)"},
        {"dots out of the destination", dest,
         R"(<UNINSTALL_FILES><FILE FileName="@DEST@/../../../../victim/file.txt"/><FILE FileName="@DEST@/../../../../victim" Folder="T"/></UNINSTALL_FILES>)"},
        {"link out of the destination", dest,
         R"(<UNINSTALL_FILES><FILE FileName="@DEST@/link/file.txt"/><FILE FileName="@DEST@/link" Folder="T"/></UNINSTALL_FILES><UNINSTALL_FOLDERS><FOLDER FolderName="@DEST@/link/empty/"/></UNINSTALL_FOLDERS>)"},
        {"folders that were not made", dest,
         R"(<UNINSTALL_FOLDERS><FOLDER FolderName="@HOME@/victim/empty/"/><FOLDER FolderName="@HOME@/.local/share/"/><FOLDER FolderName="@HOME@/"/></UNINSTALL_FOLDERS>)"},
        {"other application data", dest,
         R"(<UNINSTALL_FILES><FILE FileName="@HOME@/.config/Rawbench/other.xml"/></UNINSTALL_FILES>)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallerHarness h;
        ASSERT_TRUE(h.WriteInstaller(kList, kFiles));
        fs::create_directories(h.Home() + "/victim/empty");
        std::ofstream(h.Home() + "/victim/file.txt") << "keep";
        fs::create_directories(h.Destination());
        fs::create_directory_symlink(h.Home() + "/victim", h.Destination() + "/link");
        std::ofstream(h.Destination() + "/ours.txt") << "ours";
        fs::create_directories(h.MakerFolder());
        std::ofstream(h.AppData() + "/other.xml") << "<OTHER/>";

        std::string record =
            "<UNINSTALL>" + c.entries +
            R"(<UNINSTALL_FILES><FILE FileName="@DEST@/ours.txt"/></UNINSTALL_FILES>)" +
            "<INSTALL_ROOT FolderName=\"" +
            (c.installRoot == "/" ? std::string("disk://%002F/")
                                  : Url(h.Home() + (c.installRoot.empty() ? "" : "/" + c.installRoot))) +
            "\"/></UNINSTALL>";
        for (const auto& [token, value] : {std::pair<std::string, std::string>{"@HOME@", Url(h.Home())},
                                           {"@DEST@", Url(h.Destination())}}) {
            for (size_t at; (at = record.find(token)) != std::string::npos;)
                record.replace(at, token.size(), value);
        }
        std::ofstream(h.MakerFolder() + "/Uninstall.xml") << record;
        Uninstall(h);
        EXPECT_EQ(ReadWholeFile(h.Home() + "/victim/file.txt"), "keep");
        EXPECT_TRUE(fs::is_directory(h.Home() + "/victim/empty"));
        EXPECT_TRUE(fs::is_directory(h.DataHome()));
        EXPECT_TRUE(fs::exists(h.AppData() + "/other.xml"));
        // What the record names inside a sound destination still goes.
        const bool soundRoot = c.installRoot == dest;
        EXPECT_EQ(fs::exists(h.Destination() + "/ours.txt"), !soundRoot);
    }
}
