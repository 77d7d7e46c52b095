#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FScopedFileSizeLimit.h"
#include "FScopedTempFolder.h"
#include "FUiInstallCopyControl.h"
#include "FUiInstallerMain.h"
#include "FXmlWriter.h"
#include "InstallerHarness.h"
#include "StorageClassRegistry.h"

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

// The built installer's own script: copy, registry, shortcuts and preference files.
void InstallBuilt(InstallerHarness& h)
{
    ASSERT_TRUE(h.WriteBuiltInstaller());
    ASSERT_TRUE(h.Launch());
    h.StartInstall("JapaneseInstall");
    ASSERT_GT(h.TickCopy(), 0);
}

void Uninstall(InstallerHarness& h)
{
    ASSERT_TRUE(h.Launch());
    ASSERT_NE(h.Main()->GetPreviousUninstallTree(), nullptr);
    Send(h, "Uninstall");
    h.Stop();
}

// The instance folder a program makes in the home when the session has no runtime folder.
std::string InstanceFolder(const InstallerHarness& h)
{
    return h.Home() + "/.cache/rawbench-instances-" + std::to_string(geteuid());
}

std::string Url(const std::string& path)
{
    return Utf8FromWide(UrlOf(path));
}

void RewriteRecord(InstallerHarness& h, const std::function<void(FPropList&)>& edit)
{
    std::unique_ptr<FPropList> record = ReadXmlFile(h.MakerFolder() + "/Uninstall.xml");
    ASSERT_NE(record, nullptr);
    edit(*record);
    FWideString name;
    FIFolder* folder = OpenFolderURL(UrlOf(h.MakerFolder()), name, false);
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(WritePropListXml(record.get(), folder, FWideString("Uninstall.xml")));
    folder->Release();
}

// Every FileName, FolderName and Link_Name that begins with `from` begins with `to` instead.
void MoveNames(FPropList& node, const std::string& from, const std::string& to)
{
    for (const char* key : {"FileName", "FolderName", "Link_Name"}) {
        const std::string value = Utf8FromWide(node.GetString(FWideString(key), FWideString()));
        if (value.rfind(from, 0) == 0)
            node.SetString(FWideString(key), WideFromUtf8(to + value.substr(from.size())));
    }
    for (FPropList* child = node.GetFirstChild(); child; child = child->GetNext())
        MoveNames(*child, from, to);
}

} // namespace

TEST(InstallRemoval, InstallThenUninstallLeavesTheHomeByteForByteAsItWas)
{
    InstallerHarness h;
    FScopedEnv runtime("XDG_RUNTIME_DIR", "");
    FScopedEnv cache("XDG_CACHE_HOME", h.Home() + "/.cache");
    fs::create_directories(h.Home() + "/.cache");
    ASSERT_TRUE(h.WriteBuiltInstaller());
    const std::map<std::string, std::string> before = SnapshotTree(h.Home());
    InstallBuilt(h);
    EXPECT_TRUE(PathExists(h.Destination() + "/Rawbench"));
    EXPECT_TRUE(PathExists(h.MakerFolder() + "/AutoLaunchPreferences.xml"));
    // The program ran once and left its instance lock, as a start without a runtime folder does.
    fs::create_directories(InstanceFolder(h));
    fs::permissions(InstanceFolder(h), fs::perms::owner_all);
    std::ofstream(InstanceFolder(h) + "/Rawbench.lock") << "";
    Uninstall(h);
    EXPECT_EQ(SnapshotTree(h.Home()), before);
}

TEST(InstallRemoval, AFailedOrCancelledInstallationIsTakenBackWhole)
{
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "disk full");
        InstallerHarness h;
        // The read-me comes last and is too big for the disk that is left.
        ASSERT_TRUE(h.WriteBuiltInstaller(std::string(400000, 'r')));
        const std::map<std::string, std::string> before = SnapshotTree(h.Home());
        ASSERT_TRUE(h.Launch());
        h.StartInstall("EnglishInstall");
        if (cancel) {
            for (int i = 0; i < 4; ++i)
                h.Copy()->Tick(10);
            ASSERT_TRUE(PathExists(h.Destination() + "/Rawbench"));
            ASSERT_TRUE(h.Click("SetupWin.ProgressPage.CancelButton"));
            // The window closes once the loop takes the close it was sent.
            EXPECT_TRUE(h.RunQueuedEvents());
        } else {
            FScopedFileSizeLimit limit(300000);
            h.TickCopy();
            EXPECT_NE(h.ShownText("SetupWin.ErrorPage.ErrorText").find("disk"), std::string::npos);
        }
        h.Stop();
        EXPECT_EQ(SnapshotTree(h.Home()), before);
    }
}

TEST(InstallRemoval, AReadOnlyDestinationIsRefusedWithAClearErrorAndNothingIsWritten)
{
    InstallerHarness h;
    ASSERT_TRUE(h.WriteBuiltInstaller());
    fs::create_directories(h.Home() + "/Apps/locked");
    const std::map<std::string, std::string> before = SnapshotTree(h.Home());
    ASSERT_TRUE(h.Launch());
    Send(h, "EnglishInstall");
    Send(h, "ShowWelcome");
    Send(h, "ShowChoose");
    // The destination page refuses a read-only folder outright.
    fs::permissions(h.Home() + "/Apps/locked", fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_FALSE(h.Main()->CheckDestination(UrlOf(h.Home() + "/Apps/locked/Rawbench")));
    fs::permissions(h.Home() + "/Apps/locked", fs::perms::owner_write, fs::perm_options::add);
    // One that turns read-only after it was chosen fails at the copy, before anything is written.
    FWideString chosen = UrlOf(h.Home() + "/Apps/locked/Rawbench/");
    h.Main()->UiRelayMessage(FWideString("DirectoryChanged"), &chosen);
    fs::permissions(h.Home() + "/Apps/locked", fs::perms::owner_write, fs::perm_options::remove);
    Send(h, "ShowProgress");
    Send(h, "CopyFiles");
    h.TickCopy();
    fs::permissions(h.Home() + "/Apps/locked", fs::perms::owner_write, fs::perm_options::add);
    const std::string error = h.ShownText("SetupWin.ErrorPage.ErrorText");
    EXPECT_NE(error.find(h.Home() + "/Apps/locked/Rawbench cannot be written"), std::string::npos) << error;
    h.Stop();
    EXPECT_EQ(SnapshotTree(h.Home()), before);
}

TEST(InstallRemoval, ARunningProgramKeepsItsInstanceLock)
{
    InstallerHarness h;
    FScopedEnv runtime("XDG_RUNTIME_DIR", "");
    FScopedEnv cache("XDG_CACHE_HOME", h.Home() + "/.cache");
    Install(h);
    fs::create_directories(InstanceFolder(h));
    fs::permissions(InstanceFolder(h), fs::perms::owner_all);
    const std::string lock = InstanceFolder(h) + "/Rawbench.lock";
    const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    Uninstall(h);
    close(fd);
    EXPECT_TRUE(PathExists(lock));
    EXPECT_FALSE(PathExists(h.Destination()));
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
    EXPECT_FALSE(fs::exists(h.Destination() + "/.rawbench-install"));
}

// A real installation whose record is then edited: whatever the record says, only what
// the installation wrote goes, and nothing of the user's.
TEST(InstallRemoval, AnEditedRecordDeletesNothingOfTheUsers)
{
    struct Case {
        const char* name;
        // Edits the record of an installation into `dest`; may put user files in place first.
        std::function<void(InstallerHarness&, FPropList&, const std::string& dest)> edit;
        // Files of the user's that must still be there afterwards, relative to the home.
        std::vector<std::string> kept;
        // Whether the real installation is still removed.
        bool installationGoes;
    };
    auto moveRoot = [](const char* folder, bool asFolderEntry) {
        return [folder, asFolderEntry](InstallerHarness& h, FPropList& record, const std::string& dest) {
            const std::string target = h.Home() + "/" + folder;
            fs::create_directories(target + "/Holiday");
            std::ofstream(target + "/README") << "the user's own read me";
            std::ofstream(target + "/Holiday/photo.jpg") << "photo";
            MoveNames(record, Url(dest), Url(target));
            if (asFolderEntry) {
                FPropList* files = record.FindChild("UNINSTALL_FILES");
                FPropList* node = new FPropList(files, "FILE");
                node->AddProp(FWideString("FileName"), UrlOf(target + "/Holiday"));
                node->SetBool(FWideString("Folder"), true);
            }
        };
    };
    const Case cases[] = {
        {"root at the documents",
         moveRoot("Documents", false),
         {"Documents/README", "Documents/Holiday/photo.jpg"},
         false},
        {"root at the pictures with a whole folder",
         moveRoot("Pictures", true),
         {"Pictures/README", "Pictures/Holiday/photo.jpg"},
         false},
        {"root at a sibling of the destination",
         moveRoot(".local/share/Talvo/Other", false),
         {".local/share/Talvo/Other/README", ".local/share/Talvo/Other/Holiday/photo.jpg"},
         false},
        {"a shortcut naming another program's entry",
         [](InstallerHarness& h, FPropList& record, const std::string&) {
             const std::string other = h.DataHome() + "/applications/other.desktop";
             std::ofstream(other) << "[Desktop Entry]\nType=Application\nName=Other\nExec=other\n";
             // Even with the digest of one of ours copied onto it.
             FPropList* links = record.FindChild("UNINSTALL_SHELL_LINKS");
             FPropList* copy = links->AppendChild(*links->GetFirstChild());
             copy->SetString(FWideString("Link_Name"), WideFromUtf8(other));
         },
         {".local/share/applications/other.desktop"},
         true},
        {"a file the user replaced after the installation",
         [](InstallerHarness&, FPropList&, const std::string& dest) {
             std::ofstream(dest + "/README.md") << "my notes";
         },
         {".local/share/Talvo/Rawbench/README.md"},
         true},
        {"names that climb out of the destination",
         [](InstallerHarness& h, FPropList& record, const std::string& dest) {
             std::ofstream(h.Home() + "/README.md") << "outside";
             FPropList* files = record.FindChild("UNINSTALL_FILES");
             for (FPropList* node = files->GetFirstChild(); node; node = node->GetNext()) {
                 const std::string name =
                     Utf8FromWide(node->GetString(FWideString("FileName"), FWideString()));
                 if (name.size() > 10 && name.compare(name.size() - 10, 10, "/README.md") == 0)
                     node->SetString(FWideString("FileName"),
                                     WideFromUtf8(Url(dest) + "/../../../../README.md"));
             }
         },
         {"README.md"},
         true},
        {"folders the installation did not make",
         [](InstallerHarness& h, FPropList& record, const std::string&) {
             fs::create_directories(h.Home() + "/Pictures/empty");
             FPropList* folders = record.FindChild("UNINSTALL_FOLDERS");
             // With and without the identity of a folder the installation did make.
             for (const char* folder : {"Pictures/empty", "Pictures"}) {
                 FPropList* node = folders->AppendChild(*folders->GetFirstChild());
                 node->SetString(FWideString("FolderName"), UrlOf(h.Home() + "/" + folder + "/"));
             }
             (new FPropList(folders, "FOLDER"))->AddProp(FWideString("FolderName"), UrlOf(h.Home() + "/"));
         },
         {"Pictures/empty/"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallerHarness h;
        InstallBuilt(h);
        h.Stop();
        RewriteRecord(h, [&](FPropList& record) { c.edit(h, record, h.Destination()); });
        std::map<std::string, std::string> kept;
        for (const std::string& name : c.kept)
            kept[name] =
                PathExists(h.Home() + "/" + name) ? ReadWholeFile(h.Home() + "/" + name) : "(missing)";
        Uninstall(h);
        for (const auto& [name, bytes] : kept) {
            EXPECT_TRUE(PathExists(h.Home() + "/" + name)) << name;
            EXPECT_EQ(ReadWholeFile(h.Home() + "/" + name), bytes) << name;
        }
        EXPECT_EQ(PathExists(h.Destination() + "/Rawbench"), !c.installationGoes);
        EXPECT_TRUE(fs::is_directory(h.Home()));
    }
}

// A home whose path holds blanks, quotes, "%", "$" and letters beyond ASCII: the entries
// start the program at its real path and the whole installation goes again.
TEST(InstallRemoval, AHomeWithCharactersThatNeedQuotingInstallsAndGoesCleanly)
{
    InstallerHarness h("my \"home\" 100% $HOME ça");
    ASSERT_TRUE(h.WriteBuiltInstaller());
    const std::map<std::string, std::string> before = SnapshotTree(h.Home());
    InstallBuilt(h);
    const std::string entry = ReadWholeFile(h.DataHome() + "/applications/Rawbench.desktop");
    const std::string quoted = "\"" + h.Destination() + "/Rawbench\"";
    std::string escaped;
    for (char c : quoted.substr(1, quoted.size() - 2)) {
        if (c == '"' || c == '$')
            escaped += "\\\\";
        escaped += c;
        if (c == '%')
            escaped += '%';
    }
    EXPECT_NE(entry.find("Exec=\"" + escaped + "\" %F\n"), std::string::npos) << entry;
    EXPECT_EQ(ValidateDesktopEntry(h.DataHome() + "/applications/Rawbench.desktop"), "");
    Uninstall(h);
    EXPECT_EQ(SnapshotTree(h.Home()), before);
}
