#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FOsAutoLaunchLink.h"
#include "FScopedTempFolder.h"
#include "FUiCheckbox.h"

extern char** environ;

// A damaged auto-launch preference file never keeps the program from starting: it is
// set aside for the user to inspect, automatic launching stays off, and one box says so.
TEST(AutoLaunchInProgramTest, ADamagedPreferenceFileIsSetAsideAndTheProgramStarts)
{
    FAppHarness harness;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(config, nullptr);
    const std::string folder = std::string(config) + "/Rawbench/Talvo";
    mkdir((std::string(config) + "/Rawbench").c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    const std::string damaged = "<AUTO_LAUNCH_PREFS AutoLaunchApplication_Name=\"launch";
    std::ofstream(folder + "/AutoLaunchPreferences.xml") << damaged;
    size_t boxes = 0;
    const int status = harness.Start([&](FAppHarness& app) {
        boxes = app.MessageBoxes().size();
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(harness.BodyRan());
    ASSERT_EQ(boxes, 1u);
    EXPECT_EQ(harness.MessageBoxes()[0].first, "Start When Camera Connects");
    std::ifstream in(folder + "/AutoLaunchPreferences.unreadable-0.xml");
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, damaged);
    EXPECT_FALSE(std::ifstream(folder + "/AutoLaunchPreferences.xml").good());
}

// File ▸ Start When Camera Connects: the dialog shows the running program's state, a click
// on the box and OK switch it on, and Cancel leaves it as it was.
TEST(AutoLaunchInProgramTest, TheDialogShowsAndSwitchesTheState)
{
    FScopedTempFolder run;
    FScopedEnv runtime("XDG_RUNTIME_DIR", run.GetPath());
    const std::string socket = GetOsAutoLaunchSocketPath("AutoLauncher", "AutoLaunchApp");
    const std::string log = run.Join("stub.log");
    std::vector<std::string> args = {RB_AUTOLAUNCH_STUB, socket, log, "0", "plain"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t stub = 0;
    ASSERT_EQ(posix_spawn(&stub, RB_AUTOLAUNCH_STUB, nullptr, nullptr, argv.data(), environ), 0);
    for (int i = 0; i < 500 && !OsAutoLaunchWindowExists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(OsAutoLaunchWindowExists(socket));

    FAppHarness harness;
    bool shownOff = true, shownOn = false, afterCancel = false;
    const int status = harness.Start([&](FAppHarness& app) {
        auto* check = dynamic_cast<FUiCheckbox*>(app.Object("AutoLaunchWin.Check"));
        ASSERT_NE(check, nullptr);
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "AutoLaunchWindow"));
        ASSERT_TRUE(app.Window("AutoLaunchWin")->IsVisible());
        shownOff = !check->GetState();
        ASSERT_TRUE(app.Click("AutoLaunchWin.Check"));
        ASSERT_TRUE(app.Click("AutoLaunchWin.OK"));
        EXPECT_FALSE(app.Window("AutoLaunchWin")->IsVisible());

        ASSERT_TRUE(app.Send("MainWin.WinMgr", "AutoLaunchWindow"));
        shownOn = check->GetState();
        ASSERT_TRUE(app.Click("AutoLaunchWin.Check"));
        ASSERT_TRUE(app.Click("AutoLaunchWin.Cancel"));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "AutoLaunchWindow"));
        afterCancel = check->GetState();
        app.Send("AutoLaunchWin", "Hide");
        app.Send("MainWin", "Close");
    });
    kill(stub, SIGTERM);
    waitpid(stub, nullptr, 0);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(shownOff);
    EXPECT_TRUE(shownOn);
    EXPECT_TRUE(afterCancel);
}
