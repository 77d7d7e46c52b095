#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FException.h"
#include "FGenericUiApp.h"
#include "FPowerControl.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiInstallReboot.h"
#include "FUiInstallerMainWin.h"
#include "InstallerHarness.h"

namespace
{

// Records what would have been asked of the system; never acts.
class RecordingPowerControl : public FIPowerControl
{
public:
    bool EnableShutdownPrivilege() override
    {
        ++privilegeRequests;
        return grantPrivilege;
    }
    void Exit(EPowerExit kind, bool force) override { exits.push_back({kind, force}); }

    bool grantPrivilege = true;
    int privilegeRequests = 0;
    std::vector<std::pair<EPowerExit, bool>> exits;
};

struct ScopedPowerControl {
    explicit ScopedPowerControl(FIPowerControl* control) { SetPowerControl(control); }
    ~ScopedPowerControl() { SetPowerControl(nullptr); }
};

const char* const kWinScript = R"(  <PROBE Name="WinProbe"/>
  <INSTALLER_MAIN_WIN Name="MainWin">
    <ON_SEND_REGISTRY_FILE Relay="WinProbe" Message="ON_SEND_REGISTRY_FILE"/>
    <ON_SEND_SHELL_LINK_FILE Relay="WinProbe" Message="ON_SEND_SHELL_LINK_FILE"/>
    <ON_SEND_TARGET_DIR Relay="WinProbe" Message="ON_SEND_TARGET_DIR"/>
    <ON_SAVE_TO_REGISTRY Relay="WinProbe" Message="ON_SAVE_TO_REGISTRY"/>
    <ON_CREATE_LINKS Relay="WinProbe" Message="ON_CREATE_LINKS"/>
    <ON_SEND_UNINSTALL_TREE Relay="WinProbe" Message="ON_SEND_UNINSTALL_TREE"/>
    <ON_SEND_LANGUAGE Relay="WinProbe" Message="ON_SEND_LANGUAGE"/>
    <ON_SEND_LAUNCH_TREE Relay="WinProbe" Message="ON_SEND_LAUNCH_TREE"/>
    <ON_SEND_INSTALL_STAGE Relay="WinProbe" Message="ON_SEND_INSTALL_STAGE"/>
  </INSTALLER_MAIN_WIN>
)";

struct WinRun {
    InstallerHarness h;
    FUiInstallerMainWin* win = nullptr;
    FProbeObject* probe = nullptr;

    WinRun()
    {
        if (!h.Start(FileList({}), {}, kWinScript))
            throw std::runtime_error("the installer did not start");
        win = dynamic_cast<FUiInstallerMainWin*>(h.App()->GetUiRelay(FWideString("MainWin")));
        probe = FProbeObject::FindLive("WinProbe");
        for (const char* text : {"ON_SEND_INSTALL_STAGE", "ON_SEND_LANGUAGE", "ON_SEND_TARGET_DIR"})
            probe->SetDataKind(text, EProbeData::kString);
        probe->SetDataKind("ON_SEND_REGISTRY_FILE", EProbeData::kStrings2);
        probe->Clear();
    }
    void Send(const char* message, void* data = nullptr) { win->UiRelayMessage(FWideString(message), data); }
};

} // namespace

TEST(InstallReboot, AsksThePowerControlAndAnswersFalse)
{
    struct Case {
        std::vector<const char*> messages;
        std::vector<std::pair<EPowerExit, bool>> exits;
    } const cases[] = {
        {{"RebootNow"}, {{EPowerExit::kReboot, false}}},
        {{"Force", "RebootNow"}, {{EPowerExit::kReboot, true}}},
        {{"Shutdown", "Force", "Logoff", "Shutdown"},
         {{EPowerExit::kShutdown, false}, {EPowerExit::kLogoff, true}, {EPowerExit::kShutdown, true}}},
    };
    for (const Case& c : cases) {
        RecordingPowerControl power;
        ScopedPowerControl scoped(&power);
        FUiInstallReboot reboot("REBOOT");
        for (const char* message : c.messages)
            EXPECT_FALSE(reboot.UiRelayMessage(FWideString(message), nullptr)) << message;
        EXPECT_EQ(power.exits, c.exits);
    }
}

TEST(InstallReboot, NoRestartIsAskedWithoutThePrivilege)
{
    RecordingPowerControl power;
    power.grantPrivilege = false;
    ScopedPowerControl scoped(&power);
    FUiInstallReboot reboot("REBOOT");
    try {
        reboot.UiRelayMessage(FWideString("RebootNow"), nullptr);
        FAIL() << "no exception";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetMessage(), "Could not adjust the Token Privileges!");
    }
    EXPECT_EQ(power.privilegeRequests, 1);
    EXPECT_TRUE(power.exits.empty());
}

TEST(InstallerMainWin, FinishHasKeysAndShortcutsMadeThenAnnouncesTheNextStage)
{
    WinRun run;
    FPropList launch(nullptr, "UNINSTALL");
    run.Send("LaunchTree", &launch);
    FWideString language("French");
    run.Send("InstallLanguage", &language);
    run.Send("FinishInstall");
    run.Send("LaunchTree", &launch);
    EXPECT_EQ(
        run.probe->GetMessages(),
        "ON_SEND_LAUNCH_TREE,ON_SEND_INSTALL_STAGE,ON_SEND_REGISTRY_FILE,ON_SEND_SHELL_LINK_FILE,"
        "ON_SEND_LANGUAGE,ON_SAVE_TO_REGISTRY,ON_CREATE_LINKS,ON_SEND_LAUNCH_TREE,ON_SEND_INSTALL_STAGE");
    std::vector<std::string> stages, pairs;
    for (const FProbeRecord& record : run.probe->GetRecords()) {
        if (record.message == "ON_SEND_INSTALL_STAGE")
            stages.push_back(record.data);
        if (record.message == "ON_SEND_REGISTRY_FILE")
            pairs.push_back(record.data);
    }
    EXPECT_EQ(stages, (std::vector<std::string>{"PreInstall", "PreReboot"}));
    EXPECT_EQ(pairs, (std::vector<std::string>{Utf8FromWide(run.h.InstallerUrl()) + "|InstallList.xml"}));
}

TEST(InstallerMainWin, AFailingRegistryBlockEndsTheFinishAndKeepsTheStage)
{
    WinRun run;
    run.probe->SetOnMessage([](const FProbeRecord& record) {
        if (record.message == "ON_SAVE_TO_REGISTRY")
            throw FException("no store");
    });
    try {
        run.Send("FinishInstall");
        FAIL() << "no exception";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetMessage(), "no store");
    }
    EXPECT_EQ(run.probe->GetMessages(),
              "ON_SEND_REGISTRY_FILE,ON_SEND_SHELL_LINK_FILE,ON_SEND_LANGUAGE,ON_SAVE_TO_REGISTRY");
    EXPECT_EQ(Utf8FromWide(run.win->GetStage()), "PreInstall");
}

TEST(InstallerMainWin, UninstallStagesHandTheRecordOverAtDeletion)
{
    WinRun run;
    FWideString deletion("Deletion"), post("PostUninstall");
    run.Send("UninstallStage", &deletion);
    FPropList record(nullptr, "UNINSTALL");
    run.Send("InitUninstall", &record);
    run.Send("UninstallStage", &deletion);
    run.Send("UninstallStage", &post);
    EXPECT_EQ(run.probe->GetMessages(),
              "ON_SEND_UNINSTALL_TREE,ON_SEND_LAUNCH_TREE,ON_SEND_UNINSTALL_TREE,ON_SEND_INSTALL_STAGE");
    const std::vector<FProbeRecord>& records = run.probe->GetRecords();
    EXPECT_EQ(records[0].pointer, nullptr);
    EXPECT_EQ(records[2].pointer, &record);
    EXPECT_EQ(records[3].data, "PostUninstall");
}

TEST(InstallerMainWin, SaveUninstallWritesARecordOfItselfIntoTheTarget)
{
    WinRun run;
    FWideString missing = UrlOf(run.h.Home() + "/missing");
    run.Send("TargetDirectory", &missing);
    EXPECT_THROW(run.Send("SaveUninstall"), FException);

    FWideString target = UrlOf(run.h.Home());
    run.Send("TargetDirectory", &target);
    run.Send("SaveUninstall");
    run.Send("SaveUninstall");
    const std::string self = Utf8FromWide(target) + "/Uninstall.xml";
    EXPECT_EQ(DumpTree(ReadXmlFile(run.h.Home() + "/Uninstall.xml").get()),
              "UNINSTALL\n  UNINSTALL_FILES\n    FILE FileName=" + self +
                  "\n  UNINSTALL_FILES\n    FILE FileName=" + self + "\n");
}
