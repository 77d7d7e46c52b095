#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "FUiTestApp.h"
#include "FUiWindowClass.h"

namespace
{

std::string Script(const std::string& body, const std::string& rootAttributes = "Name=\"TestApp\"")
{
    return "<UI_SCRIPT " + rootAttributes + ">\n" + body + "\n</UI_SCRIPT>\n";
}

const char* const kOneWindow = R"(<WINDOW Name="MainWin"><PROBE Name="Inside"/></WINDOW>)";

TEST(GenericUiAppTest, InitFailsWithoutNameOrWindowAndSucceedsOtherwise)
{
    struct Case {
        const char* what;
        std::string script;
        bool ok;
        const char* exception;
    };
    std::string manyWindows;
    for (int i = 0; i <= kMaxUiScriptWindows; ++i)
        manyWindows += "<WINDOW Name=\"W" + std::to_string(i) + "\" DX=\"20\" DY=\"20\"/>";
    const Case cases[] = {
        {"more windows than allowed", Script(manyWindows), false,
         "User Interface Script Error (the script declares"},
        {"no Name", Script(kOneWindow, "AppName=\"X\""), false, ""},
        {"no WINDOW", Script("<PROBE Name=\"P\"/>"), false, ""},
        {"not a script at all", "this is not XML", false, "XML Parser Error"},
        {"unclosed element", "<UI_SCRIPT Name=\"X\"><WINDOW Name=\"W\">", false, "XML Parser Error"},
        {"empty file", "", false, ""},
        {"name and window", Script(kOneWindow), true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FUiTestApp run(c.script);
        EXPECT_EQ(run.GetInitResult(), c.ok);
        EXPECT_EQ(run.GetInitException().substr(0, std::string(c.exception).size()), c.exception)
            << run.GetInitException();
    }
}

TEST(GenericUiAppTest, UnknownElementsAreSkippedAndRelaysToNothingTraced)
{
    // Element types with no creator are left out with everything inside them; the rest
    // of the script still makes its objects. Relays whose targets do not exist are
    // traced at connection and do nothing when fired.
    FDebugTraceCapture trace;
    FUiTestApp run(Script(R"(
        <GADGET Name="G"><PROBE Name="InsideUnknown"/></GADGET>
        <PROBE Name="P"/>
        <WINDOW Name="MainWin">
          <WIDGET_OF_THE_FUTURE Size="3"><PROBE Name="AlsoLost"/></WIDGET_OF_THE_FUTURE>
          <PROBE Name="Kept"/>
          <ON_ACTIVATE Relay="Nobody" Message="Lost"/>
          <ON_DEACTIVATE LocalRelay="Missing.Child" Message="Lost"/>
          <ON_MOVE Relay="P" Message="Moved"/>
        </WINDOW>)"));
    ASSERT_TRUE(run.GetInitResult()) << run.GetInitException();
    EXPECT_EQ(FProbeObject::FindLive("InsideUnknown"), nullptr);
    EXPECT_EQ(FProbeObject::FindLive("AlsoLost"), nullptr);
    ASSERT_NE(FProbeObject::FindLive("Kept"), nullptr);
    ASSERT_NE(FProbeObject::FindLive("P"), nullptr);
    EXPECT_TRUE(trace.Contains("UiApp::GetUiRelay(Nobody) FAILED!\n"));
    EXPECT_TRUE(trace.Contains("RelayEvent::Connect() window target (MainWin.Missing.Child) FAILED!\n"));

    auto* window = dynamic_cast<FGenericUiWindow*>(run.GetApp()->GetFirstWindow());
    ASSERT_NE(window, nullptr);
    FProbeObject::FindLive("P")->Clear();
    window->OnActivate();
    window->OnDeactivate();
    window->OnOsMove(5, 6);
    EXPECT_EQ(FProbeObject::FindLive("P")->GetMessages(), "Moved");
}

TEST(GenericUiAppTest, PostCreationGoesToObjectsInPreOrderThenWindowsThenInstances)
{
    FProbeObject::SharedLog().clear();
    FUiTestApp run(Script(R"(
        <PROBE Name="A"/>
        <PROBE Name="B"/>
        <WINDOW Name="W1"><PROBE Name="InW1"/></WINDOW>
        <WINDOW Name="W2"><PROBE Name="InW2"/></WINDOW>
        <WINDOWCLASS Name="Dialog"><PROBE Name="InDialog"/></WINDOWCLASS>
        <ON_SHOW_MAIN_WINDOW Relay="A" Message="ShowMain"/>)"));
    ASSERT_TRUE(run.GetInitResult());
    std::vector<std::string> post;
    for (const std::string& entry : FProbeObject::SharedLog()) {
        if (entry.find("Post Creation Initialization") != std::string::npos)
            post.push_back(entry.substr(0, entry.find(':')));
    }
    EXPECT_EQ(post, (std::vector<std::string>{"A", "B", "InW1", "InW2"}));
    auto* first = dynamic_cast<FGenericUiWindow*>(run.GetApp()->GetFirstWindow());
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->IsTickWindow());
    EXPECT_FALSE(dynamic_cast<FGenericUiWindow*>(first->GetNextWindow())->IsTickWindow());
    // ON_SHOW_MAIN_WINDOW is an application event only: no object was made for it.
    EXPECT_EQ(FProbeObject::FindLive("A")->GetMessages(), "Post Creation Initialization");
    EXPECT_TRUE(run.GetApp()->UiRelayMessage(FWideString("ShowMainWindow"), nullptr));
    EXPECT_EQ(FProbeObject::FindLive("A")->GetMessages(), "Post Creation Initialization,ShowMain");

    // A class instance made later gets its own Post-Creation.
    FWideString names[2] = {FWideString("Dialog"), FWideString("NoParent")};
    EXPECT_TRUE(run.GetApp()->UiRelayMessage(FWideString("CreateWindow"), names));
    ASSERT_NE(FProbeObject::FindLive("InDialog"), nullptr);
    EXPECT_EQ(FProbeObject::FindLive("InDialog")->GetMessages(), "Post Creation Initialization");
}

TEST(GenericUiAppTest, RelayNamesResolveAsDocumented)
{
    FUiTestApp run(Script(R"(<PROBE Name="Bridge"/><WINDOW Name="MainWin"><PROBE Name="List"/></WINDOW>
        <WINDOWCLASS Name="Dialog"/>)",
                          "Name=\"App\""));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiApp* app = run.GetApp();
    FIUiRelay* bridge = FProbeObject::FindLive("Bridge");
    FIUiRelay* list = FProbeObject::FindLive("List");
    struct Case {
        const char* name;
        FIUiRelay* expected;
        const char* trace;
    };
    const Case cases[] = {
        {"App", app, ""},
        {"", app, ""},
        {"Bridge", bridge, ""},
        {"App.Bridge", bridge, "UiApp::GetUiRelay(App.Bridge) Success0\n"},
        {"MainWin.List", list, ""},
        {"App.MainWin.List", list, "UiApp::GetUiRelay(App.MainWin.List) Success1\n"},
        {"App.", nullptr, "UiApp::GetUiRelay(App.) FAILED!\n"},
        {"Other.List", nullptr, "UiApp::GetUiRelay(Other.List) FAILED!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FDebugTraceCapture trace;
        EXPECT_EQ(app->GetUiRelay(FWideString(c.name)), c.expected);
        EXPECT_EQ(trace.GetText(), c.trace);
    }
    FDebugTraceCapture trace;
    FIUiRelay* top = app->GetUiRelay(FWideString("App.Dialog.Top"));
    EXPECT_NE(top, nullptr);
    EXPECT_EQ(trace.GetText(), "UiApp::GetUiRelay(App.Dialog.Top) Success2\n");
    EXPECT_EQ(app->GetUiRelay(FWideString("Dialog.Top")), top); // one relay per suffix
}

TEST(GenericUiAppTest, CommandsNeedTheirDataAndOpenPathFiresInDocumentOrder)
{
    FUiTestApp run(Script(std::string(kOneWindow) + R"(<PROBE Name="P"/>
        <ON_OPEN_PATH_EVENT Relay="P" Message="First"/>
        <ON_OPEN_PATH_EVENT Relay="P" Message="Second"/>
        <ON_VOLUMES_CHANGED_EVENT Relay="P" Message="Volumes"/>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiApp* app = run.GetApp();
    for (const char* command : {"CreateWindow", "ShowTopOrCreateWindow", "LaunchURL", "SetLanguage"})
        EXPECT_FALSE(app->UiRelayMessage(FWideString(command), nullptr)) << command;
    EXPECT_FALSE(app->UiRelayMessage(FWideString("NoSuchCommand"), nullptr));

    FProbeObject* probe = FProbeObject::FindLive("P");
    probe->Clear();
    probe->SetDataKind("First", EProbeData::kString);
    FWideString path("/home/u/pictures");
    EXPECT_TRUE(app->FireOpenPathEvent(&path));
    EXPECT_TRUE(app->FireVolumesChangedEvent());
    EXPECT_EQ(probe->GetMessages(), "First,Second,Volumes");
    EXPECT_EQ(probe->GetRecords()[0].data, "/home/u/pictures");

    FDebugTraceCapture trace;
    FWideString names[2] = {FWideString("NoSuchClass"), FWideString("NoParent")};
    EXPECT_TRUE(app->UiRelayMessage(FWideString("CreateWindow"), names));
    EXPECT_TRUE(trace.Contains("***ERROR: APP FAILED TO CREATE WINDOW OF CLASS 'NoSuchClass'!\n"));
}

TEST(GenericUiAppTest, LaunchUrlWritesAPrivateShortcutAndLaunchesIt)
{
    FScopedTempFolder runtime;
    FScopedEnv env("XDG_RUNTIME_DIR", runtime.GetPath());
    std::vector<std::vector<std::string>> launched;
    SetDiskLauncher([&](const FLaunchRequest& request) {
        launched.push_back(request.m_argv);
        return 0;
    });
    {
        FUiTestApp run(Script(kOneWindow));
        ASSERT_TRUE(run.GetInitResult());
        run.GetApp()->SetHelpURL(FWideString("https://example.invalid/help"));
        FWideString key("HELP");
        EXPECT_TRUE(run.GetApp()->UiRelayMessage(FWideString("LaunchURL"), &key));
        FWideString plain("https://example.invalid/other");
        EXPECT_TRUE(run.GetApp()->UiRelayMessage(FWideString("LaunchURL"), &plain));
    }
    SetDiskLauncher(nullptr);
    const std::string folder = runtime.Join("rawbench-" + std::to_string(geteuid()));
    std::string bytes;
    ASSERT_TRUE(runtime.ReadFile("rawbench-" + std::to_string(geteuid()) + "/q7f.url", bytes));
    EXPECT_EQ(bytes, "[InternetShortcut]\nURL=https://example.invalid/other\n");
    ASSERT_EQ(launched.size(), 2u);
    std::string all;
    for (const std::string& arg : launched[0])
        all += arg + " ";
    EXPECT_NE(all.find("https://example.invalid/help"), std::string::npos) << all;
    struct stat info {
    };
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u);
}

TEST(GenericUiAppTest, SingleInstanceWithARunningInstanceCreatesNothing)
{
    GetHeadlessDesktop().Reset();
    const std::string script =
        Script(std::string(kOneWindow) + R"(<PROBE Name="Solo"/>)",
               "Name=\"TestApp\" _SingleInstApp=\"true\" _DeclareAppName=\"TestAppLock\"");
    FUiTestApp first(script);
    ASSERT_TRUE(first.GetInitResult());
    EXPECT_FALSE(first.GetAnotherInstance());
    // The second run shares the desktop on which the first holds the name.
    const auto held = GetHeadlessDesktop().heldNames;
    FUiTestApp second(script, false);
    GetHeadlessDesktop().heldNames = held;
    EXPECT_TRUE(second.Init());
    EXPECT_TRUE(second.GetAnotherInstance());
    EXPECT_EQ(second.GetApp()->GetFirstWindow(), nullptr);
    EXPECT_EQ(second.GetApp()->GetFirstTopLevelObject(), nullptr);
    SetOsProgramArgument(FWideString("/a \"b\""));
    second.GetApp()->Run(true);
    SetOsProgramArgument(FWideString());
    const auto& records = GetHeadlessDesktop().handOver;
    ASSERT_EQ(records.size(), 8u); // show, start, five units without the quotes, end of text, open
    EXPECT_EQ(records[0].first, 0x1094);
    EXPECT_EQ(records[1].first, 0x1091);
    EXPECT_EQ(records[2], (std::pair<uint16_t, uint16_t>{0x1092, u'/'}));
    EXPECT_EQ(records[5], (std::pair<uint16_t, uint16_t>{0x1092, u'b'}));
    EXPECT_EQ(records[6], (std::pair<uint16_t, uint16_t>{0x1092, 0}));
    EXPECT_EQ(records[7].first, 0x1093);
}

TEST(GenericUiAppTest, AnotherProgramOfTheFamilyGetsALocalisedBox)
{
    GetHeadlessDesktop().Reset();
    FUiTestApp run(UiBaseScript(EUiScriptVariant::kSingleInstance), false);
    GetHeadlessDesktop().heldNames = {"TestFamily"};
    GetHeadlessDesktop().systemLanguage = "de";
    EXPECT_TRUE(run.Init());
    EXPECT_TRUE(run.GetAnotherInstance());
    EXPECT_EQ(run.GetApp()->GetFirstWindow(), nullptr);
    EXPECT_EQ(Utf8FromWide(run.GetApp()->GetCurrentLanguage()), "German");
    const auto& boxes = GetHeadlessDesktop().messageBoxes;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], (std::pair<std::string, std::string>{"Busy", "Other app runs"}));
    run.Finish();
    auto state = run.ReadStateFile();
    ASSERT_TRUE(state);
    FPropList* entry = state->GetFirstChild();
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->GetString("CurrentLanguage", FWideString()) == "German");
}

TEST(GenericUiAppTest, ModalStackEnablesOnlyTheTop)
{
    FUiTestApp run(Script(R"(<WINDOW Name="Main"/><WINDOW Name="Other"/>
        <WINDOWCLASS Name="Dialog" _Modal="true" _Visible="false"/>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiApp* app = run.GetApp();
    auto* main = dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(FWideString("Main")));
    auto* other = dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(FWideString("Other")));
    FWideString dialog("Dialog");
    EXPECT_TRUE(app->UiRelayMessage(FWideString("ShowTopOrCreateWindow"), &dialog));
    FUiWindowClass* windowClass = app->FindWindowClass(dialog);
    auto* instance = dynamic_cast<FGenericUiWindow*>(windowClass->GetTopInstance());
    ASSERT_NE(instance, nullptr);
    EXPECT_TRUE(instance->IsVisible());
    EXPECT_TRUE(instance->IsOsEnabled());
    EXPECT_FALSE(main->IsOsEnabled());
    EXPECT_FALSE(other->IsOsEnabled());
    // Showing again reuses the instance.
    EXPECT_TRUE(app->UiRelayMessage(FWideString("ShowTopOrCreateWindow"), &dialog));
    EXPECT_EQ(windowClass->GetInstances().size(), 1u);

    instance->UiRelayMessage(FWideString("Hide"), nullptr);
    EXPECT_TRUE(main->IsOsEnabled());
    EXPECT_TRUE(other->IsOsEnabled());
    EXPECT_TRUE(instance->IsOsEnabled());
}

} // namespace
