#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FScopedFileSizeLimit.h"
#include "FUiInstallCopyControl.h"
#include "FUiInstallerMain.h"
#include "InstallerHarness.h"

namespace
{

const char* const kToDest = R"(Install_OS="Linux" DestDir="<TARGETDIR>")";

std::vector<std::string> Messages(FProbeObject* probe, const std::string& name)
{
    std::vector<std::string> data;
    for (const FProbeRecord& record : probe->GetRecords()) {
        if (record.message == name)
            data.push_back(record.data);
    }
    return data;
}

// Records every list the copy control sends, as text.
struct ListRecorder {
    std::vector<std::string> lists;
    explicit ListRecorder(FProbeObject* probe)
    {
        probe->SetOnMessage([this](const FProbeRecord& record) {
            if (record.message == "ON_SEND_PROP_TREE")
                lists.push_back(DumpTree(static_cast<FPropList*>(record.pointer)));
        });
    }
};

void DeclareKinds(FProbeObject* probe)
{
    probe->SetDataKind("ON_PROGRESS", EProbeData::kDouble);
    probe->SetDataKind("ON_SEND_ERROR", EProbeData::kString);
    probe->SetDataKind("ON_COPY_FAILED", EProbeData::kString);
    probe->SetDataKind("ON_SEND_TARGET_EXE_NAME", EProbeData::kString);
    probe->SetDataKind("ON_SEND_TARGET_EXE_FOLDER", EProbeData::kString);
    probe->SetDataKind("ON_SEND_AUTO_LAUNCH_EXE_NAME", EProbeData::kString);
    probe->SetDataKind("ON_SEND_DEBUG_OS", EProbeData::kString);
}

// Starts the installer, points the copy at the destination in the language, and starts the copy.
bool StartCopy(InstallerHarness& h, const std::string& list, const std::vector<ArchiveMember>& payload,
               const char* language = "English", bool written = false)
{
    if (!(written ? h.Launch() : h.Start(list, payload)))
        return false;
    DeclareKinds(h.CopyProbe());
    FWideString lang(language), dest = UrlOf(h.Destination());
    h.Copy()->UiRelayMessage(FWideString("Language"), &lang);
    h.Copy()->UiRelayMessage(FWideString("TargetDirectory"), &dest);
    h.CopyProbe()->Clear();
    h.Copy()->UiRelayMessage(FWideString("CopyFiles"), nullptr);
    return true;
}

std::vector<std::string> EntryNames(FUiInstallCopyControl* copy)
{
    std::vector<std::string> names;
    for (const InstallFileRecord& entry : copy->GetEntries())
        names.push_back(Utf8FromWide(entry.m_subPath) + (entry.m_subPath.IsEmpty() ? "" : "/") +
                        Utf8FromWide(entry.m_fileName));
    return names;
}

// Temporary copies left behind below a folder.
int TempFilesIn(const InstallerHarness& h, const std::string& folder)
{
    int count = 0;
    for (const std::string& name : h.ListTree(folder))
        count += name.find(".rbinst") != std::string::npos ? 1 : 0;
    return count;
}

int Mode(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

} // namespace
TEST(ReplaceAllTokens, ReplacesEveryOccurrenceLeftmostFirstWithoutRescanning)
{
    struct Case {
        const char* text;
        const char* token;
        const char* replacement;
        const char* expected;
    } const cases[] = {
        {"<A>/x/<A>", "<A>", "/t", "/t/x//t"},
        {"no token here", "<A>", "/t", "no token here"},
        {"aaa", "aa", "b", "ba"},
        {"<A>", "<A>", "<A><A>", "<A><A>"},
        {"keep", "", "x", "keep"},
        {"<a>", "<A>", "x", "<a>"},
    };
    for (const Case& c : cases) {
        FWideString text(c.text);
        ReplaceAllTokens(text, FWideString(c.token), FWideString(c.replacement));
        EXPECT_EQ(Utf8FromWide(text), c.expected) << c.text << " / " << c.token;
    }
}

TEST(InstallCopyControl, KeepsOnlyTargetsForThisSystemAndTheChosenLanguage)
{
    InstallerHarness h;
    const std::string list = FileList({
        {"no_os", R"(DestDir="<TARGETDIR>")"},
        {"all_windows", R"(Install_OS="AllWindows" DestDir="<TARGETDIR>")"},
        {"linux", R"(Install_OS="Linux" DestDir="<TARGETDIR>")"},
        {"linux_lower", R"(Install_OS="linux" DestDir="<TARGETDIR>")"},
        {"xp", R"(Install_OS="WindowsXP" DestDir="<TARGETDIR>")"},
        {"french", R"(Install_OS="Linux" Language="French" DestDir="<TARGETDIR>")"},
        {"german", R"(Install_OS="Linux" Language="German" DestDir="<TARGETDIR>")"},
        {"all_languages", R"(Install_OS="Linux" Language="All" DestDir="<TARGETDIR>")"},
        {"french_lower", R"(Install_OS="Linux" Language="french" DestDir="<TARGETDIR>")"},
    });
    ASSERT_TRUE(StartCopy(h, list, {}, "French"));
    EXPECT_EQ(Utf8FromWide(h.Copy()->GetOsName()), "Linux");
    EXPECT_EQ(EntryNames(h.Copy()),
              (std::vector<std::string>{"all_windows", "linux", "french", "all_languages"}));
}

TEST(InstallCopyControl, ExpandsPlaceholdersAndRefusesFoldersOutsideTheDestination)
{
    struct Case {
        const char* destDir;
        const char* expectedSub; // below the destination, or null when refused
        const char* error;
    } const cases[] = {
        {"<TARGETDIR>", "", nullptr},
        {"<TARGETDIR>/bin", "bin/", nullptr},
        {"<TARGETDIR>\\bin", "bin/", nullptr},
        {"<TEMPDIR>", nullptr, "outside the destination"},
        {"<SYSTEMDIR>", nullptr, "outside the destination"},
        {"<TARGETDIR>/../escape", nullptr, "outside the destination"},
        {"/etc", nullptr, "outside the destination"},
        {"<TARGETDIR>/<VERSION>", nullptr, "unknown placeholder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destDir);
        InstallerHarness h;
        const std::string list =
            FileList({{"a.bin", std::string("Install_OS=\"Linux\" DestDir=\"") + c.destDir + "\""}});
        ASSERT_TRUE(StartCopy(h, list, {{"a.bin", "A"}}));
        if (!c.expectedSub) {
            const std::vector<std::string> errors = Messages(h.CopyProbe(), "ON_SEND_ERROR");
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
            EXPECT_EQ(Messages(h.CopyProbe(), "ON_COPY_FAILED").size(), 1u);
            EXPECT_TRUE(h.Copy()->GetEntries().empty());
            EXPECT_TRUE(h.ListTree(h.DataHome() + "/Talvo").empty());
            continue;
        }
        ASSERT_EQ(h.Copy()->GetEntries().size(), 1u);
        const InstallFileRecord& entry = h.Copy()->GetEntries()[0];
        EXPECT_EQ(Utf8FromWide(entry.m_destFolderURL),
                  Utf8FromWide(UrlOf(h.Destination())) + "/" + c.expectedSub);
        EXPECT_EQ(h.TickCopy(), 2);
        EXPECT_EQ(ReadWholeFile(h.Destination() + "/" + c.expectedSub + "a.bin"), "A");
    }
}

TEST(InstallCopyControl, RecordsLaunchesByTheStoredNameAndMakesStartableFilesExecutable)
{
    InstallerHarness h;
    const std::string list = R"(<INSTALL_LIST><FILELIST>
      <GROUP Filename="tool.bin"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>/bin" DestFileName="tool">
        <LAUNCH RunTime="PostInstall" CommandLine="--home &#34;<TARGETDIR>&#34;"/>
        <LAUNCH RunTime="PreDeletion" CommandLine="--quit"/>
      </TARGET></GROUP>
      <GROUP Filename="rawbench.bin"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>" DestFileName="Rawbench" TargetExe="T"/></GROUP>
      <GROUP Filename="helper.bin" AutoLaunchExe="YES"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>"/></GROUP>
      <GROUP Filename="readme.txt"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>" Uninstall="F"/></GROUP>
    </FILELIST></INSTALL_LIST>)";
    ASSERT_TRUE(StartCopy(
        h, list, {{"tool.bin", "T"}, {"rawbench.bin", "R"}, {"helper.bin", "H"}, {"readme.txt", "read me"}}));
    ListRecorder recorder(h.CopyProbe());
    const std::string dest = Utf8FromWide(UrlOf(h.Destination()));
    EXPECT_EQ(Messages(h.CopyProbe(), "ON_SEND_TARGET_EXE_NAME"), (std::vector<std::string>{"Rawbench"}));
    EXPECT_EQ(Messages(h.CopyProbe(), "ON_SEND_TARGET_EXE_FOLDER"), (std::vector<std::string>{dest + "/"}));
    EXPECT_EQ(Messages(h.CopyProbe(), "ON_SEND_AUTO_LAUNCH_EXE_NAME"),
              (std::vector<std::string>{dest + "/helper.bin"}));
    // A file with two launch entries is copied twice.
    EXPECT_EQ(EntryNames(h.Copy()),
              (std::vector<std::string>{"tool.bin", "tool.bin", "rawbench.bin", "helper.bin", "readme.txt"}));
    EXPECT_EQ(h.TickCopy(), 10);

    ASSERT_EQ(recorder.lists.size(), 3u);
    EXPECT_EQ(recorder.lists[1], "UNINSTALL_FILES\n  FILE FileName=" + dest + "/bin/tool\n  FILE FileName=" +
                                     dest + "/bin/tool\n  FILE FileName=" + dest +
                                     "/Rawbench\n  FILE FileName=" + dest + "/helper.bin\n");
    EXPECT_EQ(recorder.lists[2], "LAUNCH_LIST\n  LAUNCH FileName=" + dest +
                                     "/bin/tool CommandLine=--home \"" + h.Destination() +
                                     "\" RunTime=PostInstall\n  LAUNCH FileName=" + dest +
                                     "/bin/tool CommandLine=--quit RunTime=PreDeletion\n");
    for (const char* startable : {"/bin/tool", "/Rawbench", "/helper.bin"})
        EXPECT_EQ(Mode(h.Destination() + startable) & 0111, 0111) << startable;
    EXPECT_EQ(Mode(h.Destination() + "/readme.txt") & 0111, 0);
    EXPECT_EQ(ReadWholeFile(h.Destination() + "/readme.txt"), "read me");
}

TEST(InstallCopyControl, CopiesOnePieceOfAtMost256KiBPerTickAfterAStartTick)
{
    const std::string exact(262144, 'x');
    std::string longer(262145, 'y');
    longer.back() = 'z';
    struct Case {
        std::vector<ArchiveMember> files;
        int ticks;
        std::vector<std::string> progress;
    } const cases[] = {
        {{{"exact.bin", exact}}, 2, {"0", "1"}},
        {{{"longer.bin", longer}}, 3, {"0", "1"}},
        {{{"exact.bin", exact}, {"longer.bin", longer}}, 5, {"0", "0.5", "1"}},
        // An empty file is done in its start tick, and still recorded.
        {{{"exact.bin", exact}, {"empty.bin", ""}}, 3, {"0", "0.5", "1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ticks);
        InstallerHarness h;
        std::vector<std::pair<std::string, std::string>> groups;
        for (const ArchiveMember& file : c.files)
            groups.push_back({file.name, kToDest});
        ASSERT_TRUE(StartCopy(h, FileList(groups), c.files));
        ListRecorder recorder(h.CopyProbe());
        EXPECT_EQ(h.TickCopy(), c.ticks);
        EXPECT_EQ(Messages(h.CopyProbe(), "ON_PROGRESS"), c.progress);
        EXPECT_EQ(Messages(h.CopyProbe(), "ON_COPY_COMPLETE").size(), 1u);
        for (const ArchiveMember& file : c.files)
            EXPECT_EQ(ReadWholeFile(h.Destination() + "/" + file.name), file.bytes) << file.name;
        ASSERT_EQ(recorder.lists.size(), 3u);
        EXPECT_EQ(std::count(recorder.lists[1].begin(), recorder.lists[1].end(), '\n'),
                  static_cast<long>(c.files.size() + 1));
        EXPECT_EQ(TempFilesIn(h, h.Destination()), 0);
    }
}

TEST(InstallCopyControl, ListWithEveryTargetFilteredOutFinishesAtOnce)
{
    InstallerHarness h;
    ASSERT_TRUE(StartCopy(h, FileList({{"a.bin", R"(DestDir="<TARGETDIR>")"}}), {{"a.bin", "A"}}));
    // The start is announced in full, with a progress of 0, before the copy finishes.
    EXPECT_EQ(h.CopyProbe()->GetMessages(),
              "ON_START_COPY,ON_PROGRESS,ON_SEND_DEBUG_OS,ON_SEND_DEBUG_SYS,ON_SEND_DEBUG_TAR,"
              "ON_SEND_PROP_TREE,ON_SEND_PROP_TREE,ON_SEND_PROP_TREE,ON_COPY_COMPLETE");
    EXPECT_EQ(Messages(h.CopyProbe(), "ON_PROGRESS"), std::vector<std::string>{"0"});
    EXPECT_EQ(Messages(h.CopyProbe(), "ON_SEND_DEBUG_OS"), std::vector<std::string>{"Linux"});
    EXPECT_EQ(h.TickCopy(), 0);
}

TEST(InstallCopyControl, NotesMissingFoldersOutermostFirstOnce)
{
    InstallerHarness h;
    const std::string list = FileList({
        {"a.bin", R"(Install_OS="Linux" DestDir="<TARGETDIR>/Sub/Deeper")"},
        {"b.bin", R"(Install_OS="Linux" DestDir="<TARGETDIR>/Sub")"},
        // Another folder on this file system, though it differs only in case.
        {"c.bin", R"(Install_OS="Linux" DestDir="<TARGETDIR>/sub")"},
    });
    ASSERT_TRUE(StartCopy(h, list, {{"a.bin", "A"}, {"b.bin", "B"}, {"c.bin", "C"}}));
    ListRecorder recorder(h.CopyProbe());
    EXPECT_EQ(h.TickCopy(), 6);
    const std::string data = Utf8FromWide(UrlOf(h.DataHome()));
    ASSERT_EQ(recorder.lists.size(), 3u);
    EXPECT_EQ(recorder.lists[0],
              "UNINSTALL_FOLDERS\n  FOLDER FolderName=" + data + "/Talvo/\n  FOLDER FolderName=" + data +
                  "/Talvo/Rawbench/\n  FOLDER FolderName=" + data +
                  "/Talvo/Rawbench/Sub/\n  FOLDER FolderName=" + data +
                  "/Talvo/Rawbench/Sub/Deeper/\n  FOLDER FolderName=" + data + "/Talvo/Rawbench/sub/\n");
}

TEST(InstallCopyControl, FolderGroupsCopyTheirTreeFromBesideTheInstallerOrFromTheArchive)
{
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive);
        InstallerHarness h;
        const std::string list =
            std::string("<INSTALL_LIST><FILELIST ") + (archive ? "" : R"(Bundle="F" Folder="payload")") +
            R"(><FOLDER Filename="grp"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>/share"/></FOLDER>
              </FILELIST></INSTALL_LIST>)";
        std::vector<ArchiveMember> payload;
        if (archive) {
            payload = {{"grp/x.txt", "x"}, {"grp/y.txt", "y"}, {"grp/sub/z.txt", "z"}, {"other/w.txt", "w"}};
        } else {
            std::filesystem::create_directories(h.Home() + "/Downloads/payload/grp/sub");
            std::ofstream(h.Home() + "/Downloads/payload/grp/x.txt") << "x";
            std::ofstream(h.Home() + "/Downloads/payload/grp/y.txt") << "y";
            std::ofstream(h.Home() + "/Downloads/payload/grp/sub/z.txt") << "z";
        }
        ASSERT_TRUE(StartCopy(h, list, payload));
        std::vector<std::string> names = EntryNames(h.Copy());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"grp/sub/z.txt", "grp/x.txt", "grp/y.txt"}));
        EXPECT_EQ(h.TickCopy(), 6);
        EXPECT_EQ(ReadWholeFile(h.Destination() + "/share/grp/sub/z.txt"), "z");
        EXPECT_EQ(ReadWholeFile(h.Destination() + "/share/grp/x.txt"), "x");
        EXPECT_FALSE(PathExists(h.Destination() + "/share/other"));
    }
}

TEST(InstallCopyControl, RefusesHostileNamesAndUnknownKeysBeforeWritingAnything)
{
    struct Case {
        const char* name;
        std::string list;
        std::vector<ArchiveMember> payload;
        const char* error;
    } const cases[] = {
        {"file name with ..", FileList({{"../evil", kToDest}}), {{"../evil", "E"}}, "unsafe file"},
        {"stored name with a slash",
         FileList({{"a.bin", R"(Install_OS="Linux" DestDir="<TARGETDIR>" DestFileName="/tmp/evil")"}}),
         {{"a.bin", "A"}},
         "unsafe file"},
        {"archive member leaving its folder",
         R"(<INSTALL_LIST><FILELIST><FOLDER Filename="grp"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>"/></FOLDER></FILELIST></INSTALL_LIST>)",
         {{"grp/ok.txt", "ok"}, {"grp/../../../evil", "E"}},
         "unsafe name"},
        {"source folder leaving the installer's folder",
         FileList({{"a.bin", kToDest}}, R"(Bundle="F" Folder="..")"),
         {},
         "unsafe source folder"},
        {"misspelt key",
         FileList({{"a.bin", R"(Install_OS="Linux" DestDri="<TARGETDIR>")"}}),
         {{"a.bin", "A"}},
         "unknown key \"DestDri\""},
        {"damaged list", "<INSTALL_LIST><FILELIST", {}, "missing or damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallerHarness h;
        ASSERT_TRUE(StartCopy(h, c.list, c.payload));
        const std::vector<std::string> errors = Messages(h.CopyProbe(), "ON_SEND_ERROR");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
        EXPECT_EQ(Messages(h.CopyProbe(), "ON_COPY_FAILED").size(), 1u);
        EXPECT_EQ(h.TickCopy(), 0);
        EXPECT_TRUE(h.ListTree(h.DataHome() + "/Talvo").empty());
        EXPECT_FALSE(PathExists(h.Home() + "/evil"));
        EXPECT_FALSE(PathExists("/tmp/evil"));
    }
}

namespace
{

// Sets the size field of a member's header in the installer file to `size`.
bool PatchMemberSize(const std::string& path, const std::string& member, uint64_t size)
{
    std::string bytes = ReadWholeFile(path);
    for (size_t at = 0; at + 512 <= bytes.size(); at += 512) {
        if (bytes.compare(at, member.size() + 1, member.c_str(), member.size() + 1) != 0)
            continue;
        char field[13];
        std::snprintf(field, sizeof field, "%011llo", static_cast<unsigned long long>(size));
        bytes.replace(at + 124, 11, field, 11);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return true;
    }
    return false;
}

} // namespace

TEST(InstallCopyControl, ACopyThatCannotFinishEndsWithItsErrorAndIsTakenBack)
{
    const std::string big(600000, 'b');
    struct Case {
        const char* name;
        const char* error;
    } const cases[] = {
        {"member past the end of the archive", "installer's copy of the file"},
        {"disk full", "could not be written"},
        {"destination in the way", "cannot be written"},
        {"member missing", "cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallerHarness h;
        const std::string second = std::string(c.name) == "member missing" ? "missing.bin" : "big.bin";
        ASSERT_TRUE(h.WriteInstaller(FileList({{"a.bin", R"(Install_OS="Linux" DestDir="<TARGETDIR>/a")"},
                                               {second, R"(Install_OS="Linux" DestDir="<TARGETDIR>/b")"}}),
                                     {{"a.bin", "A"}, {"big.bin", big}}));
        if (std::string(c.name) == "member past the end of the archive") {
            ASSERT_TRUE(PatchMemberSize(h.InstallerPath(), "big.bin", 700000));
        }
        if (std::string(c.name) == "destination in the way") {
            std::filesystem::create_directories(h.Destination());
            std::ofstream(h.Destination() + "/b") << "in the way";
        }
        // Through the controller, which takes back whatever a failed copy put in place.
        ASSERT_TRUE(h.Launch());
        DeclareKinds(h.CopyProbe());
        h.Main()->UiRelayMessage(FWideString("CopyFiles"), nullptr);
        {
            std::unique_ptr<FScopedFileSizeLimit> limit;
            if (std::string(c.name) == "disk full")
                limit = std::make_unique<FScopedFileSizeLimit>(300000);
            EXPECT_GT(h.TickCopy(), 0);
        }
        const std::vector<std::string> errors = Messages(h.CopyProbe(), "ON_SEND_ERROR");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
        EXPECT_EQ(Messages(h.CopyProbe(), "ON_COPY_FAILED").size(), 1u);
        EXPECT_TRUE(Messages(h.CopyProbe(), "ON_COPY_COMPLETE").empty());
        EXPECT_FALSE(PathExists(h.Destination() + "/b/big.bin"));
        EXPECT_EQ(TempFilesIn(h, h.DataHome()), 0);
        // The controller takes back what was put in place; nothing is left to uninstall.
        EXPECT_FALSE(PathExists(h.MakerFolder() + "/Uninstall.xml"));
        EXPECT_FALSE(PathExists(h.Destination() + "/a"));
        if (std::string(c.name) == "destination in the way")
            EXPECT_EQ(ReadWholeFile(h.Destination() + "/b"), "in the way");
        else
            EXPECT_FALSE(PathExists(h.Destination()));
    }
}

TEST(InstallCopyControl, UpdateCopyAddsToTheListsAndTakesOnlyTheArchivesFiles)
{
    InstallerHarness h;
    ASSERT_TRUE(StartCopy(h, FileList({{"a.bin", kToDest}}), {{"a.bin", "A"}, {"b.bin", "B"}}));
    EXPECT_EQ(h.TickCopy(), 2);
    const std::string updateList = h.Home() + "/Downloads/UpdateList.xml";
    const std::string dest = Utf8FromWide(UrlOf(h.Destination()));

    // No update list: done at once.
    ListRecorder recorder(h.CopyProbe());
    h.CopyProbe()->Clear();
    h.Copy()->UiRelayMessage(FWideString("CopyUpdateFiles"), nullptr);
    EXPECT_EQ(h.CopyProbe()->GetMessages(),
              "ON_SEND_PROP_TREE,ON_SEND_PROP_TREE,ON_SEND_PROP_TREE,ON_COPY_UPDATE_COMPLETE");

    std::ofstream(updateList) << FileList({{"b.bin", kToDest}});
    recorder.lists.clear();
    h.Copy()->UiRelayMessage(FWideString("CopyUpdateFiles"), nullptr);
    EXPECT_EQ(h.TickCopy(), 2);
    EXPECT_EQ(ReadWholeFile(h.Destination() + "/b.bin"), "B");
    ASSERT_EQ(recorder.lists.size(), 3u);
    EXPECT_EQ(recorder.lists[1],
              "UNINSTALL_FILES\n  FILE FileName=" + dest + "/a.bin\n  FILE FileName=" + dest + "/b.bin\n");
    EXPECT_EQ(Messages(h.CopyProbe(), "ON_COPY_UPDATE_COMPLETE").size(), 2u);

    // A list beside the installer may not name files beside the installer.
    std::ofstream(updateList) << FileList({{"c.bin", kToDest}}, R"(Bundle="F" Folder="Downloads")");
    h.CopyProbe()->Clear();
    h.Copy()->UiRelayMessage(FWideString("CopyUpdateFiles"), nullptr);
    EXPECT_EQ(Messages(h.CopyProbe(), "ON_COPY_FAILED").size(), 1u);
    EXPECT_EQ(h.TickCopy(), 0);
}
