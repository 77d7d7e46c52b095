#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiInstallCopyControl.h"
#include "FUiInstallerMain.h"
#include "FUiObjectFactory.h"
#include "InstallerHarness.h"
#include "InstallerPaths.h"
#include "InstallerStart.h"
#include "StorageClassRegistry.h"

namespace
{

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const char* const kAppList = R"(<INSTALL_LIST><FILELIST>
  <GROUP Filename="rawbench.bin"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>" DestFileName="Rawbench" TargetExe="T"/></GROUP>
  <GROUP Filename="ui.btb"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>"/></GROUP>
</FILELIST></INSTALL_LIST>)";

const std::vector<ArchiveMember> kAppFiles = {{"rawbench.bin", "program"}, {"ui.btb", "script"}};

// The ON_ events a probe received, in order.
std::string Events(FProbeObject* probe)
{
    std::string text;
    for (const FProbeRecord& record : probe->GetRecords()) {
        if (record.message.rfind("ON_", 0) != 0)
            continue;
        text += (text.empty() ? "" : ",") + record.message;
    }
    return text;
}

std::vector<std::string> Data(FProbeObject* probe, const std::string& message)
{
    std::vector<std::string> data;
    for (const FProbeRecord& record : probe->GetRecords()) {
        if (record.message == message)
            data.push_back(record.data);
    }
    return data;
}

void DeclareKinds(FProbeObject* probe)
{
    for (const char* text : {"ON_SET_SPACE_FREE", "ON_SET_CHOOSE_PATH", "ON_SET_DIR_SELECT_PATH",
                             "ON_SET_ERROR_TEXT", "ON_SEND_UNINSTALL_STAGE", "ON_SEND_PATH_TO_TREE",
                             "ON_SEND_LANGUAGE", "ON_SEND_COPY_DIR", "ON_INSTALL_AUTO_LAUNCH"})
        probe->SetDataKind(text, EProbeData::kString);
    for (const char* flag : {"ON_ENABLE_CHOOSE_NEXT", "ON_ENABLE_DIR_SELECT_OK"})
        probe->SetDataKind(flag, EProbeData::kBool);
}

void Send(InstallerHarness& h, const char* message, FWideString text)
{
    h.Main()->UiRelayMessage(FWideString(message), &text);
}

void Send(InstallerHarness& h, const char* message)
{
    h.Main()->UiRelayMessage(FWideString(message), nullptr);
}

// Runs an installation in the language through the script's connections, to its end.
void Install(InstallerHarness& h, const char* languageButton, const std::string& list = kAppList,
             const std::vector<ArchiveMember>& files = kAppFiles)
{
    ASSERT_TRUE(h.Start(list, files));
    DeclareKinds(h.MainProbe());
    Send(h, languageButton);
    Send(h, "ShowWelcome");
    Send(h, "CopyFiles");
    ASSERT_GT(h.TickCopy(), 0);
}

// A factory that records the names in the order registered and refuses one of them.
class RecordingFactory : public FIUiObjectFactory
{
public:
    explicit RecordingFactory(std::string refused = "") : m_refused(std::move(refused)) {}
    bool Register(const char* typeName, FIUiObjectCreator* creator) override
    {
        names.push_back(typeName);
        if (!creator || m_refused == typeName)
            return false;
        m_factory.Register(typeName, creator);
        return true;
    }
    FIUiObject* CreateUiObject(const char* typeName) override { return m_factory.CreateUiObject(typeName); }
    void GetCounts(int& registered, int& created) override { m_factory.GetCounts(registered, created); }
    void DumpCreators() override {}
    std::vector<std::string> names;

private:
    std::string m_refused;
    FUiObjectFactory m_factory;
};

} // namespace

TEST(InstallerStart, RegistersTheBuiltTypesInOrderAndGoesOnPastARefusal)
{
    RecordingFactory all;
    EXPECT_TRUE(installer::RegisterInstallerTypes(&all));
    EXPECT_EQ(all.names,
              (std::vector<std::string>{"INSTALLER_MAIN", "INSTALLER_MAIN_WIN", "DIRECTORY_WIN_MGR", "REBOOT",
                                        "REGISTRY", "SHELL_LINK", "COPY_CONTROL", "AUTO_LAUNCH_MGR"}));

    RecordingFactory refusing("INSTALLER_MAIN");
    EXPECT_FALSE(installer::RegisterInstallerTypes(&refusing));
    EXPECT_EQ(refusing.names, all.names);
    FIUiObject* copy = refusing.CreateUiObject("COPY_CONTROL");
    EXPECT_NE(copy, nullptr);
    delete copy;
    // Managers of the application have no creator here.
    EXPECT_EQ(refusing.CreateUiObject("MAIN_WIN_MGR"), nullptr);
}

TEST(InstallerStart, HookLeavesTheApplicationsDefaultVersion)
{
    FGenericUiApp* app = CreateGenericUiApp();
    EXPECT_TRUE(installer::BrisalMain(app, FWideString("RawbenchSetup"), FWideString("ignored")));
    // Twice is a second registration of every name.
    EXPECT_FALSE(installer::BrisalMain(app, FWideString("RawbenchSetup"), FWideString()));
    const FUiVersion version = app->GetVersion();
    EXPECT_EQ(version.major, 1);
    EXPECT_EQ(version.minor, 0);
    EXPECT_TRUE(installer::g_usArg1.IsEmpty());
    DeleteGenericUiApp(app);
}

TEST(InstallerMain, StartsWithTheLanguagePageWhenNothingIsInstalled)
{
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    EXPECT_EQ(Events(h.MainProbe()), "ON_SHOW_LANGUAGE");
    EXPECT_EQ(Utf8FromWide(h.Main()->GetDestination()), Utf8FromWide(UrlOf(h.Destination())) + "/");
}

TEST(InstallerMain, ChecksTheFreeSpaceOfTheDestinationsVolume)
{
    struct Case {
        bool opens;
        int64_t freeBytes;
        bool usable;
    } const cases[] = {
        {true, 15000000, true},
        {true, 14999999, false},
        {true, 0, false},
        {false, 0, false},
    };
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    DeclareKinds(h.MainProbe());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.freeBytes);
        h.Main()->SetFreeSpaceProbe([&](const FWideString&, int64_t& bytes) {
            bytes = c.freeBytes;
            return c.opens;
        });
        h.MainProbe()->Clear();
        Send(h, "ShowChoose");
        EXPECT_EQ(Events(h.MainProbe()),
                  "ON_CREATE_CHOOSE,ON_SET_CHOOSE_PATH,ON_SET_SPACE_FREE,ON_ENABLE_CHOOSE_NEXT");
        FWideString expected("0 MB");
        if (c.opens)
            expected.SetByteSize(c.freeBytes);
        EXPECT_EQ(Data(h.MainProbe(), "ON_SET_SPACE_FREE"),
                  (std::vector<std::string>{Utf8FromWide(expected)}));
        EXPECT_EQ(Data(h.MainProbe(), "ON_ENABLE_CHOOSE_NEXT"),
                  (std::vector<std::string>{c.usable ? "true" : "false"}));
        EXPECT_EQ(Data(h.MainProbe(), "ON_SET_CHOOSE_PATH"), (std::vector<std::string>{h.Destination()}));
    }
}

TEST(InstallerMain, DirectoryChangedKeepsTheDestinationUnlessTheFolderIsUsable)
{
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    DeclareKinds(h.MainProbe());
    const FWideString before = h.Main()->GetDestination();
    const FWideString small = UrlOf(h.Home() + "/small");
    h.Main()->SetFreeSpaceProbe([&](const FWideString& url, int64_t& bytes) {
        bytes = url == small ? 1000 : 20000000;
        return true;
    });
    for (const FWideString& refused : {small, FWideString("disk://"), FWideString("nonsense")}) {
        h.MainProbe()->Clear();
        Send(h, "DirectoryChanged", refused);
        EXPECT_EQ(Data(h.MainProbe(), "ON_ENABLE_DIR_SELECT_OK"), (std::vector<std::string>{"false"}));
        EXPECT_TRUE(h.Main()->GetDestination() == before);
    }
    // With the real volume: the deepest folder that exists decides, here the temporary home's.
    h.Main()->SetFreeSpaceProbe(nullptr);
    h.MainProbe()->Clear();
    const FWideString chosen = UrlOf(h.Home() + "/not/yet/there");
    Send(h, "DirectoryChanged", chosen);
    EXPECT_NE(Data(h.MainProbe(), "ON_SET_SPACE_FREE"), (std::vector<std::string>{"0 MB"}));
    EXPECT_EQ(Data(h.MainProbe(), "ON_SET_CHOOSE_PATH"),
              (std::vector<std::string>{h.Home() + "/not/yet/there"}));
    EXPECT_TRUE(h.Main()->GetDestination() == chosen);
}

TEST(InstallerMain, CreateNewFolderRecordsOnlyAFolderItMade)
{
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    DeclareKinds(h.MainProbe());
    // The home itself takes no installation; a folder in it does.
    Send(h, "DirectoryChanged", UrlOf(h.Home()));
    EXPECT_FALSE(h.Main()->GetDestination() == FolderKey(UrlOf(h.Home())));
    std::filesystem::create_directories(h.Home() + "/Apps");
    Send(h, "DirectoryChanged", UrlOf(h.Home() + "/Apps"));
    h.MainProbe()->Clear();
    Send(h, "CreateNewFolder");
    EXPECT_EQ(Events(h.MainProbe()), "");

    for (const char* refused : {"..", "a/b"}) {
        Send(h, "NewFolderName", FWideString(refused));
        Send(h, "CreateNewFolder");
    }
    EXPECT_EQ(Events(h.MainProbe()), "");

    std::filesystem::create_directories(h.Home() + "/Apps/Existing");
    Send(h, "NewFolderName", FWideString("Existing"));
    Send(h, "CreateNewFolder");
    Send(h, "NewFolderName", FWideString("Mine"));
    Send(h, "CreateNewFolder");
    EXPECT_TRUE(std::filesystem::is_directory(h.Home() + "/Apps/Existing/Mine"));
    const std::string mine = Utf8FromWide(UrlOf(h.Home() + "/Apps")) + "/Existing/Mine/";
    EXPECT_EQ(Data(h.MainProbe(), "ON_SEND_PATH_TO_TREE"),
              (std::vector<std::string>{Utf8FromWide(UrlOf(h.Home() + "/Apps")) + "/Existing/", mine}));
    EXPECT_EQ(DumpTree(h.Main()->GetOwnFolderList()),
              "UNINSTALL_FOLDERS\n  FOLDER FolderName=" + mine + "\n");
    // Recorded with the identity that removal checks before it takes the folder away.
    EXPECT_NE(DumpTree(h.Main()->GetOwnFolderList(), 0, true).find(" Identity="), std::string::npos);
}

TEST(InstallerMain, ExitIsSkippedOnceAfterMotionFlag)
{
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    h.MainProbe()->Clear();
    Send(h, "MotionFlag");
    Send(h, "Exit");
    EXPECT_EQ(h.MainProbe()->GetMessages(), "");
    Send(h, "Exit");
    EXPECT_EQ(h.MainProbe()->GetMessages(), "WindowClosePressed");
}

TEST(InstallerMain, LanguageButtonsChooseAndTheLanguagePageGoesBackToEnglish)
{
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    Send(h, "FrenchInstall");
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "English");
    Send(h, "ShowWelcome");
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "French");
    Send(h, "ShowLanguage");
    EXPECT_EQ(Utf8FromWide(h.Main()->GetLanguage()), "English");
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "English");
}

TEST(InstallerMain, MergesListsOfOneNameIntoOneChildInArrivalOrder)
{
    FPropList root(nullptr, "UNINSTALL");
    FPropList first(nullptr, "UNINSTALL_FILES");
    (new FPropList(&first, "FILE"))->AddProp(FWideString("FileName"), FWideString("one"));
    FPropList other(nullptr, "LAUNCH_LIST");
    FPropList second(nullptr, "UNINSTALL_FILES");
    (new FPropList(&second, "FILE"))->AddProp(FWideString("FileName"), FWideString("two"));
    FUiInstallerMain::MergeIntoUninstallTree(&root, &first);
    FUiInstallerMain::MergeIntoUninstallTree(&root, &other);
    FUiInstallerMain::MergeIntoUninstallTree(&root, &second);
    FUiInstallerMain::MergeIntoUninstallTree(&root, nullptr);
    EXPECT_EQ(DumpTree(&root),
              "UNINSTALL\n  UNINSTALL_FILES\n    FILE FileName=one\n    FILE FileName=two\n  "
              "LAUNCH_LIST\n");
    EXPECT_EQ(first.GetChildCount(), 1);
}

TEST(InstallerMain, UninstallRunsItsStagesInOrderEvenWithoutAnEarlierInstallation)
{
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    DeclareKinds(h.MainProbe());
    h.MainProbe()->Clear();
    Send(h, "Uninstall");
    EXPECT_EQ(Events(h.MainProbe()), "ON_INIT_UNINSTALL,ON_SEND_UNINSTALL_STAGE,ON_REMOVE_AUTO_LAUNCH,"
                                     "ON_SEND_UNINSTALL_STAGE,ON_SEND_UNINSTALL_TREE,ON_SEND_UNINSTALL_STAGE,"
                                     "ON_SHOW_UNINSTALL_REBOOT");
    EXPECT_EQ(Data(h.MainProbe(), "ON_SEND_UNINSTALL_STAGE"),
              (std::vector<std::string>{"PreDeletion", "Deletion", "PostUninstall"}));
    for (const FProbeRecord& record : h.MainProbe()->GetRecords()) {
        if (record.message == "ON_INIT_UNINSTALL" || record.message == "ON_SEND_UNINSTALL_TREE") {
            EXPECT_EQ(record.pointer, nullptr) << record.message;
        }
    }
}

TEST(InstallerMain, FinishWritesTheUninstallRecordAndTheApplicationsPreferences)
{
    InstallerHarness h;
    Install(h, "FrenchInstall");
    EXPECT_EQ(Events(h.MainProbe()),
              "ON_SHOW_LANGUAGE,ON_ENABLE_LANGUAGE_NEXT,ON_CREATE_WELCOME,ON_SEND_LANGUAGE,ON_SEND_COPY_DIR,"
              "ON_COPY_FILES,"
              "ON_SEND_TARGET_EXE_NAME,ON_PROGRESS,"
              "ON_PROGRESS,ON_PROGRESS,ON_CLOSE_PROGRESS,ON_SHOW_INSTALL_SUCCESS,ON_FINISH_INSTALL,"
              "ON_INSTALL_AUTO_LAUNCH,ON_SEND_LAUNCH_TREE");
    const std::string data = Utf8FromWide(UrlOf(h.DataHome()));
    const std::string dest = data + "/Talvo/Rawbench";
    const std::string appData = Utf8FromWide(UrlOf(h.AppData()));
    const std::string expected = "UNINSTALL\n"
                                 "  INSTALL_ROOT FolderName=" +
                                 dest +
                                 "/\n"
                                 "  UNINSTALL_FOLDERS\n"
                                 "    FOLDER FolderName=" +
                                 data +
                                 "/Talvo/\n"
                                 "    FOLDER FolderName=" +
                                 dest +
                                 "/\n"
                                 "    FOLDER FolderName=" +
                                 appData +
                                 "/\n"
                                 "    FOLDER FolderName=" +
                                 appData +
                                 "/Talvo/\n"
                                 "  UNINSTALL_FILES\n"
                                 "    FILE FileName=" +
                                 dest +
                                 "/Rawbench\n"
                                 "    FILE FileName=" +
                                 dest +
                                 "/ui.btb\n"
                                 "    FILE FileName=" +
                                 dest +
                                 "/Preferences.xml\n"
                                 "    FILE FileName=" +
                                 appData +
                                 "/Rawbench.state.xml\n"
                                 "    FILE FileName=" +
                                 appData +
                                 "/Talvo/Uninstall.xml\n"
                                 "  LAUNCH_LIST\n";
    std::unique_ptr<FPropList> record = ReadXmlFile(h.MakerFolder() + "/Uninstall.xml");
    EXPECT_EQ(DumpTree(record.get()), expected);
    // Every folder carries its identity and every file but the record itself its size and
    // digest; the destination holds the stamp the record's id names.
    const std::string full = DumpTree(record.get(), 0, true);
    EXPECT_EQ(Count(full, " Identity="), 4);
    EXPECT_EQ(Count(full, " Sha256="), 4);
    EXPECT_NE(full.find("Rawbench/Preferences.xml Size="), std::string::npos) << full;
    const FPropList* root = record ? record->FindChild("INSTALL_ROOT") : nullptr;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(ReadWholeFile(h.Destination() + "/.rawbench-install"),
              "Rawbench installation " +
                  Utf8FromWide(root->GetString(FWideString("InstallId"), FWideString())) + "\n");

    const std::string language = "STATE\n  PERDATA Name=BrisalLanguageSelector CurrentLanguage=French\n";
    EXPECT_EQ(DumpTree(ReadXmlFile(h.Destination() + "/Preferences.xml").get()), language);
    EXPECT_EQ(DumpTree(ReadXmlFile(h.AppData() + "/Rawbench.state.xml").get()), language);
    // No auto-launch program in the list: only the application and the state.
    EXPECT_EQ(DumpTree(ReadXmlFile(h.MakerFolder() + "/AutoLaunchPreferences.xml").get()),
              "AUTO_LAUNCH_PREFS Application_Name=" + dest + "/Rawbench State=True\n");

    // A second run finds the installation and shows its uninstall page in French.
    ASSERT_TRUE(h.Launch());
    EXPECT_EQ(Events(h.MainProbe()), "ON_SHOW_UNINSTALL");
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "French");
    EXPECT_EQ(DumpTree(h.Main()->GetPreviousUninstallTree()), expected);
}

TEST(InstallerMain, ADestinationWithADoubleQuoteStillReadsBack)
{
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    const std::string quoted = h.Home() + "/My \"best\" & <apps>";
    Send(h, "DirectoryChanged", UrlOf(quoted));
    Send(h, "CopyFiles");
    ASSERT_GT(h.TickCopy(), 0);
    EXPECT_EQ(ReadWholeFile(quoted + "/Rawbench"), "program");
    const std::string written = DumpTree(ReadXmlFile(h.MakerFolder() + "/Uninstall.xml").get());
    EXPECT_NE(written.find(Utf8FromWide(UrlOf(quoted + "/Rawbench"))), std::string::npos) << written;
    ASSERT_TRUE(h.Launch());
    EXPECT_EQ(Events(h.MainProbe()), "ON_SHOW_UNINSTALL");
    EXPECT_EQ(DumpTree(h.Main()->GetPreviousUninstallTree()), written);
}

TEST(InstallerMain, TheApplicationsStateFileKeepsItsOtherEntries)
{
    InstallerHarness h;
    std::filesystem::create_directories(h.AppData());
    std::ofstream(h.AppData() + "/Rawbench.state.xml")
        << R"(<STATE><PERDATA Name="MainWin" X="10"/><PERDATA Name="BrisalLanguageSelector" CurrentLanguage="English"/></STATE>)";
    Install(h, "GermanInstall");
    EXPECT_EQ(
        DumpTree(ReadXmlFile(h.AppData() + "/Rawbench.state.xml").get()),
        "STATE\n  PERDATA Name=MainWin X=10\n  PERDATA Name=BrisalLanguageSelector CurrentLanguage=German\n");
    // The user's own file is not the installer's to remove.
    const std::string record = DumpTree(ReadXmlFile(h.MakerFolder() + "/Uninstall.xml").get());
    EXPECT_EQ(record.find("Rawbench.state.xml"), std::string::npos) << record;
}

TEST(InstallerMain, DamagedFilesOfAnEarlierRunAreReportedOrReplaced)
{
    InstallerHarness h;
    // A state file that does not read gives the language entry alone.
    std::filesystem::create_directories(h.AppData());
    std::ofstream(h.AppData() + "/Rawbench.state.xml") << "<STATE><PERDATA Name=";
    Install(h, "JapaneseInstall");
    EXPECT_EQ(DumpTree(ReadXmlFile(h.AppData() + "/Rawbench.state.xml").get()),
              "STATE\n  PERDATA Name=BrisalLanguageSelector CurrentLanguage=Japanese\n");

    // A record that does not read: an error page, neither road.
    std::ofstream(h.MakerFolder() + "/Uninstall.xml") << "<UNINSTALL><UNINSTALL_FILES";
    ASSERT_TRUE(h.Launch());
    EXPECT_EQ(Events(h.MainProbe()), "ON_SHOW_ERROR,ON_SET_ERROR_TEXT");
}

TEST(InstallerMain, AutoLaunchPreferencesNameTheProgramWhereItWasStored)
{
    InstallerHarness h;
    const std::string list = R"(<INSTALL_LIST><FILELIST>
      <GROUP Filename="rawbench.bin"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>/bin" DestFileName="Rawbench" TargetExe="T"/></GROUP>
      <GROUP Filename="watch.bin" AutoLaunchExe="T"><TARGET Install_OS="Linux" DestDir="<TARGETDIR>/bin" DestFileName="RawbenchWatch"/></GROUP>
    </FILELIST></INSTALL_LIST>)";
    Install(h, "EnglishInstall", list, {{"rawbench.bin", "program"}, {"watch.bin", "watcher"}});
    const std::string bin = Utf8FromWide(UrlOf(h.Destination())) + "/bin";
    EXPECT_EQ(DumpTree(ReadXmlFile(h.MakerFolder() + "/AutoLaunchPreferences.xml").get()),
              "AUTO_LAUNCH_PREFS AutoLaunchApplication_Name=RawbenchWatch AutoLaunchApplication_Path=" + bin +
                  "/ Application_Name=" + bin + "/Rawbench State=True\n");
    // Preferences lie beside the program.
    EXPECT_TRUE(PathExists(h.Destination() + "/bin/Preferences.xml"));
}

TEST(InstallerMain, TheApplicationStartsInTheLanguageTheInstallerSeeded)
{
    InstallerHarness h;
    Install(h, "FrenchInstall");
    h.Stop();
    const std::string script =
        R"(<UI_SCRIPT Name="Rawbench" AppName="RawbenchWnd" HasPersistantDataStore="true">
      <LANGUAGES><LANGUAGE Name="English" Default="true"/><LANGUAGE Name="French"/></LANGUAGES>
      <WINDOW Name="MainWin" DX="100" DY="100"/></UI_SCRIPT>)";
    const std::string scriptFolder = h.Home() + "/appscript";
    std::filesystem::create_directories(scriptFolder);
    std::ofstream(scriptFolder + "/ui.xml") << script;
    // Once from the state file, once (without it) from the preferences beside the program.
    for (const bool withState : {true, false}) {
        SCOPED_TRACE(withState);
        if (!withState)
            std::filesystem::remove(h.AppData() + "/Rawbench.state.xml");
        FGenericUiApp* app = CreateGenericUiApp();
        app->SetExecutableFolderURL(UrlOf(h.Destination() + "/"));
        FWideString name;
        bool another = false;
        EXPECT_TRUE(app->InitFromScript(OpenFolderURL(UrlOf(scriptFolder + "/"), name, false),
                                        FWideString("ui.xml"), another));
        EXPECT_EQ(Utf8FromWide(app->GetCurrentLanguage()), "French");
        DeleteGenericUiApp(app);
    }
}

TEST(InstallerMain, ErrorShowsTheNamedStringInTheCurrentLanguage)
{
    InstallerHarness h;
    ASSERT_TRUE(h.Start(kAppList, kAppFiles));
    DeclareKinds(h.MainProbe());
    struct Case {
        const char* languageButton;
        const char* name;
        const char* events;
        const char* text;
    } const cases[] = {
        {"EnglishInstall", "ErrorDiskFull", "ON_SHOW_ERROR,ON_SET_ERROR_TEXT", "The disk is full."},
        {"FrenchInstall", "ErrorDiskFull", "ON_SHOW_ERROR,ON_SET_ERROR_TEXT", "Le disque est plein."},
        {"EnglishInstall", "NoSuchString", "ON_SHOW_ERROR", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Send(h, c.languageButton);
        Send(h, "ShowWelcome");
        h.MainProbe()->Clear();
        Send(h, "Error", FWideString(c.name));
        EXPECT_EQ(Events(h.MainProbe()), c.events);
        if (c.text) {
            EXPECT_EQ(Data(h.MainProbe(), "ON_SET_ERROR_TEXT"), (std::vector<std::string>{c.text}));
        }
    }
}
