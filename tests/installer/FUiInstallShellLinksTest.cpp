#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "FUiInstallShellLinks.h"
#include "InstallerHarness.h"
#include "InstallerRecord.h"

namespace fs = std::filesystem;

namespace
{

int Mode(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

const char* const kShortcutList = R"(<INSTALL_LIST>
  <SHORTCUTS>
    <GROUP Link="<STARTMENU>\Rawbench" Desc="Rawbench" Folder="T"/>
    <LINK Target_Name="<TARGETDIR>/<EXE>" Link="<STARTMENU>\Rawbench" Desc="Rawbench" Arguments="--open &quot;My Pictures&quot;"/>
    <LINK Target_Name="<TARGETDIR>/<EXE>" Link="<DESKTOP>" Desc="Rawbench 100%"/>
    <LINK Target_Name="<TARGETDIR>/<EXE>" Link="<STARTUP>" Desc="Rawbench" Install_OS="Linux"/>
    <LINK Target_Name="<TARGETDIR>/<EXE>" Link="<DESKTOP>" Desc="Skipped" Install_OS="WindowsXP"/>
    <LINK Target_Name="x" Link="<DESKTOP>" Desc="../escape"/>
    <LINK Target_Name="x" Link="<DESKTOP>" Desc="a/b"/>
    <LINK Target_Name="x" Link="<TEMPDIR>" Desc="Elsewhere"/>
    <GROUP Link="<STARTMENU>" Desc="Whole menu" Folder="T"/>
  </SHORTCUTS>
</INSTALL_LIST>)";

} // namespace

TEST(InstallShellLinks, ExecLinesQuoteWhatAShellOrTheLauncherWouldRead)
{
    struct Case {
        const char* target;
        const char* arguments;
        const char* expected;
    } const cases[] = {
        {"/opt/rb/Rawbench", "", "/opt/rb/Rawbench"},
        {"/home/u/My Apps/Rawbench", "--x", "\"/home/u/My Apps/Rawbench\" --x"},
        {"/opt/rb/Rawbench", "\"a b\" $(rm) `id` 50%",
         "/opt/rb/Rawbench \"a b\" \"\\\\$(rm)\" \"\\\\`id\\\\`\" 50%%"},
        {"/opt/q\"uote", "back\\slash", "\"/opt/q\\\\\"uote\" \"back\\\\\\\\slash\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FUiInstallShellLinks::ExecLine(FWideString(c.target), FWideString(c.arguments)), c.expected)
            << c.target << " " << c.arguments;
    for (const char* refused : {"", ".", "..", "../x", "a/b", ".hidden", "tab\there"})
        EXPECT_FALSE(FUiInstallShellLinks::IsUsableName(WideFromUtf8(refused))) << refused;
    EXPECT_TRUE(FUiInstallShellLinks::IsUsableName(FWideString("Rawbench 2.3 (beta)")));
}

TEST(InstallShellLinks, MakesDesktopEntriesInTheUsersFoldersAndRemovesOnlyThose)
{
    InstallerHarness h;
    ASSERT_TRUE(h.WriteInstaller(kShortcutList, {}));
    const std::string desktop = h.Home() + "/Desktop";
    const std::string menu = h.DataHome() + "/applications";
    const std::string autostart = h.ConfigHome() + "/autostart";
    FUiInstallShellLinks links("SHELL_LINK");
    links.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    std::vector<std::string> records;
    std::unique_ptr<FPropList> sent;
    FProbeObject probe("PROBE");
    links.FindEvent(FWideString("ON_SEND_UNINSTALL_TREE"))->AddTarget(FWideString("Tree"), &probe);
    probe.SetOnMessage(
        [&](const FProbeRecord& record) { sent.reset(static_cast<FPropList*>(record.pointer)->Clone()); });
    FWideString dest = UrlOf(h.Destination());
    FWideString pair[2] = {h.InstallerUrl(), FWideString("InstallList.xml")};
    links.UiRelayMessage(FWideString("TargetDirectory"), &dest);
    links.UiRelayMessage(FWideString("ShellLinkFile"), pair);
    EXPECT_EQ(links.GetShortcuts().size(), 6u);
    EXPECT_FALSE(links.UiRelayMessage(FWideString("CreateLinks"), nullptr));

    const std::string entry = ReadWholeFile(menu + "/Rawbench/Rawbench.desktop");
    EXPECT_EQ(entry, "[Desktop Entry]\nType=Application\nName=Rawbench\nExec=" + h.Destination() +
                         "/Rawbench --open \"My Pictures\"\nTerminal=false\n");
    EXPECT_NE(ReadWholeFile(desktop + "/Rawbench 100%.desktop").find("Name=Rawbench 100%\n"),
              std::string::npos);
    EXPECT_EQ(Mode(desktop + "/Rawbench 100%.desktop") & 0111, 0111);
    EXPECT_EQ(Mode(menu + "/Rawbench/Rawbench.desktop") & 0111, 0);
    EXPECT_TRUE(PathExists(autostart + "/Rawbench.desktop"));
    EXPECT_FALSE(PathExists(desktop + "/Skipped.desktop"));
    EXPECT_FALSE(PathExists(h.Home() + "/escape.desktop"));
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(DumpTree(sent.get()), "UNINSTALL_SHELL_LINKS\n"
                                    "  SHELL_LINK Link_Name=" +
                                        menu +
                                        "/Rawbench Folder=T\n"
                                        "  SHELL_LINK Link_Name=" +
                                        menu +
                                        "/Rawbench/Rawbench.desktop Folder=F\n"
                                        "  SHELL_LINK Link_Name=" +
                                        desktop +
                                        "/Rawbench 100%.desktop Folder=F\n"
                                        "  SHELL_LINK Link_Name=" +
                                        autostart + "/Rawbench.desktop Folder=F\n");

    // The user's own entries stay, and so does the folder that holds one; an edited
    // record naming other files or the whole menu reaches nothing.
    std::ofstream(desktop + "/Mine.desktop") << "[Desktop Entry]\n";
    std::ofstream(h.Home() + "/notes.txt") << "keep";
    FPropList tree(nullptr, "UNINSTALL");
    FPropList* list = tree.AppendChild(*sent);
    for (const std::string& edited : {h.Home() + "/notes.txt", menu, desktop})
        (new FPropList(list, "SHELL_LINK"))->AddProp(FWideString("Link_Name"), WideFromUtf8(edited));
    list->GetFirstChild()->GetNext()->GetNext()->GetNext()->GetNext()->SetBool(FWideString("Folder"), true);
    links.UiRelayMessage(FWideString("UninstallTree"), &tree);
    EXPECT_FALSE(PathExists(menu + "/Rawbench"));
    EXPECT_FALSE(PathExists(desktop + "/Rawbench 100%.desktop"));
    EXPECT_FALSE(PathExists(autostart + "/Rawbench.desktop"));
    EXPECT_TRUE(PathExists(desktop + "/Mine.desktop"));
    EXPECT_EQ(ReadWholeFile(h.Home() + "/notes.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(menu));
}

TEST(InstallShellLinks, StartsTheProgramsOfAStageWithoutAShellAndOnlyFromTheDestination)
{
    InstallerHarness h;
    fs::create_directories(h.Destination() + "/bin");
    for (const char* program : {"/bin/first", "/bin/second", "/bin/later"}) {
        std::ofstream(h.Destination() + program) << "#!/bin/sh\n";
        fs::permissions(h.Destination() + program, fs::perms::owner_all);
    }
    std::ofstream(h.Home() + "/outside") << "#!/bin/sh\n";
    std::vector<std::vector<std::string>> started;
    std::vector<int> pauses;
    SetDiskLauncher([&](const FLaunchRequest& request) {
        started.push_back(request.m_argv);
        return 0;
    });
    FUiInstallShellLinks::SetPause([&](int ms) { pauses.push_back(ms); });

    const std::string dest = Utf8FromWide(UrlOf(h.Destination()));
    FPropList tree(nullptr, "UNINSTALL");
    FPropList* list = new FPropList(&tree, "LAUNCH_LIST");
    struct Launch {
        std::string file;
        const char* commandLine;
        const char* runTime;
    } const launches[] = {
        {dest + "/bin/first", "--setup; rm -rf ~ $(id)", "PreReboot"},
        {dest + "/bin/later", "", "PostUninstall"},
        {Utf8FromWide(UrlOf(h.Home())) + "/outside", "", "PreReboot"},
        {dest + "/bin/second", "\"two words\"", "PreReboot"},
    };
    for (const Launch& launch : launches) {
        FPropList* node = new FPropList(list, "LAUNCH");
        node->AddProp(FWideString("FileName"), WideFromUtf8(launch.file));
        node->AddProp(FWideString("CommandLine"), FWideString(launch.commandLine));
        node->AddProp(FWideString("RunTime"), FWideString(launch.runTime));
    }
    FPropList* root = new FPropList(&tree, "INSTALL_ROOT");
    root->AddProp(FWideString("FolderName"), WideFromUtf8(dest + "/"));
    root->AddProp(FWideString("InstallId"), FWideString("00112233445566778899aabbccddeeff"));
    // Only a destination that holds the stamp of the record's installation is trusted.
    FUiInstallShellLinks unstamped("SHELL_LINK");
    FWideString early("PreReboot");
    unstamped.UiRelayMessage(FWideString("LaunchTree"), &tree);
    unstamped.UiRelayMessage(FWideString("InstallStage"), &early);
    EXPECT_TRUE(started.empty());
    ASSERT_TRUE(WriteInstallStamp(UrlOf(h.Destination()), FWideString("00112233445566778899aabbccddeeff")));

    FUiInstallShellLinks links("SHELL_LINK");
    FWideString stage("PreReboot");
    links.UiRelayMessage(FWideString("InstallStage"), &stage);
    EXPECT_TRUE(started.empty());
    links.UiRelayMessage(FWideString("LaunchTree"), &tree);
    links.UiRelayMessage(FWideString("InstallStage"), &stage);
    SetDiskLauncher(nullptr);
    FUiInstallShellLinks::SetPause(nullptr);
    EXPECT_EQ(started, (std::vector<std::vector<std::string>>{
                           {h.Destination() + "/bin/first", "--setup;", "rm", "-rf", "~", "$(id)"},
                           {h.Destination() + "/bin/second", "two words"}}));
    EXPECT_EQ(pauses, (std::vector<int>{200}));
}
