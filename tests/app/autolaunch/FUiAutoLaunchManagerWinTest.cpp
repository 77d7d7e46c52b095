#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FCodePage.h"
#include "FException.h"
#include "FHeadlessDesktop.h"
#include "FOsAutoLaunchLink.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "FUiAutoLaunchManagerWin.h"
#include "StorageClassRegistry.h"

extern char** environ;

namespace
{

// A private configuration and runtime folder per test, and a recording launcher.
class AutoLaunchTest : public ::testing::Test
{
protected:
    AutoLaunchTest()
        : m_config("XDG_CONFIG_HOME", m_temp.Join("config")), m_runtime("XDG_RUNTIME_DIR", m_temp.Join("run"))
    {
        mkdir(m_temp.Join("config").c_str(), 0700);
        mkdir(m_temp.Join("run").c_str(), 0700);
        FWideString path;
        if (!FindStorageClass(FWideString("disk"), path))
            RegisterDiskStorageClass();
        SetDiskLauncher([this](const FLaunchRequest& request) {
            launches.push_back(request.m_argv);
            return 0;
        });
    }
    ~AutoLaunchTest() override
    {
        SetDiskLauncher({});
        if (m_stub > 0) {
            kill(m_stub, SIGTERM);
            waitpid(m_stub, nullptr, 0);
        }
    }

    std::string PrefFolder() const { return m_temp.Join("config/Rawbench/Talvo"); }
    void WritePrefs(const std::string& text)
    {
        mkdir(m_temp.Join("config/Rawbench").c_str(), 0700);
        mkdir(PrefFolder().c_str(), 0700);
        std::ofstream(PrefFolder() + "/AutoLaunchPreferences.xml") << text;
    }
    // Names a program "launcher" in the test's folder, which exists.
    std::string Prefs()
    {
        m_temp.WriteFile("launcher", "#!/bin/sh\n");
        FWideString url;
        NativePathToURL(WideFromUtf8(m_temp.GetPath()), url);
        url += u"/";
        return "<AUTO_LAUNCH_PREFS AutoLaunchApplication_Name=\"launcher\" AutoLaunchApplication_Path=\"" +
               Utf8FromWide(url) + "\" Application_Name=\"file:///opt/rawbench/Rawbench\" State=\"True\"/>";
    }
    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string Socket() const { return GetOsAutoLaunchSocketPath("AutoLauncher", "AutoLaunchApp"); }

    void StartStub(bool on, const char* mode = "plain")
    {
        const std::string socket = Socket();
        std::vector<std::string> args = {RB_AUTOLAUNCH_STUB, socket, Log(), on ? "1" : "0", mode};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&m_stub, RB_AUTOLAUNCH_STUB, nullptr, nullptr, argv.data(), environ), 0);
        for (int i = 0; i < 500 && !OsAutoLaunchWindowExists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(OsAutoLaunchWindowExists(socket));
    }
    std::string Log() const { return m_temp.Join("stub.log"); }
    std::string LogText() const
    {
        std::ifstream in(Log());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The stub has handled every message once a query comes back.
    void Settle(FUiAutoLaunchManagerWin& manager)
    {
        bool state = false;
        manager.UiRelayMessage(FWideString("QueryState"), &state);
    }

    FScopedTempFolder m_temp;
    FScopedEnv m_config;
    FScopedEnv m_runtime;
    pid_t m_stub = 0;
    std::vector<std::vector<std::string>> launches;
};

} // namespace

TEST_F(AutoLaunchTest, StartCreatesThePreferenceFolderAndReadsTheProgramsPlace)
{
    FUiAutoLaunchManagerWin bare(nullptr);
    EXPECT_EQ(bare.GetTypeName(), "AUTO_LAUNCH_MGR");
    EXPECT_TRUE(bare.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
    struct stat info {
    };
    EXPECT_EQ(stat(PrefFolder().c_str(), &info), 0);
    EXPECT_TRUE(bare.GetAutoLaunchName().IsEmpty());

    WritePrefs(Prefs());
    FUiAutoLaunchManagerWin manager("whatever");
    EXPECT_EQ(manager.GetTypeName(), "AUTO_LAUNCH_MGR");
    EXPECT_TRUE(manager.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
    EXPECT_EQ(Utf8FromWide(manager.GetAutoLaunchName()), "launcher");
    EXPECT_EQ(Utf8FromWide(manager.GetAutoLaunchPath()).back(), '/');
}

TEST_F(AutoLaunchTest, ADamagedPreferenceFileIsSetAsideLeavesAutoLaunchOffAndIsReportedOnce)
{
    const std::string damaged = "<AUTO_LAUNCH_PREFS AutoLaunchApplication_Name=\"launcher";
    WritePrefs(damaged);
    // A file set aside at an earlier start is not overwritten.
    std::ofstream(PrefFolder() + "/AutoLaunchPreferences.unreadable-0.xml") << "older";
    GetHeadlessDesktop().messageBoxes.clear();
    {
        FUiAutoLaunchManagerWin manager(nullptr);
        EXPECT_NO_THROW(manager.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
        EXPECT_TRUE(manager.GetAutoLaunchName().IsEmpty());
        EXPECT_TRUE(manager.GetAutoLaunchPath().IsEmpty());
        bool on = true;
        manager.UiRelayMessage(FWideString("SetAutoLaunchState"), &on);
        EXPECT_TRUE(launches.empty());
    }
    EXPECT_EQ(ReadFile(PrefFolder() + "/AutoLaunchPreferences.unreadable-1.xml"), damaged);
    EXPECT_EQ(ReadFile(PrefFolder() + "/AutoLaunchPreferences.unreadable-0.xml"), "older");
    struct stat info {
    };
    EXPECT_NE(stat((PrefFolder() + "/AutoLaunchPreferences.xml").c_str(), &info), 0);
    ASSERT_EQ(GetHeadlessDesktop().messageBoxes.size(), 1u);
    EXPECT_NE(GetHeadlessDesktop().messageBoxes[0].second.find("set aside"), std::string::npos);

    // The next start finds no damaged file and says nothing.
    FUiAutoLaunchManagerWin again(nullptr);
    again.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    EXPECT_EQ(GetHeadlessDesktop().messageBoxes.size(), 1u);
}

TEST_F(AutoLaunchTest, WithTheProgramAbsentQueryIsFalseAndEnableStartsItOnlyWhenNamed)
{
    for (bool named : {false, true}) {
        SCOPED_TRACE(named);
        launches.clear();
        if (named)
            WritePrefs(Prefs());
        FUiAutoLaunchManagerWin manager(nullptr);
        manager.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
        bool state = true;
        EXPECT_FALSE(manager.UiRelayMessage(FWideString("QueryState"), &state));
        EXPECT_FALSE(state);
        bool on = true;
        EXPECT_FALSE(manager.UiRelayMessage(FWideString("SetAutoLaunchState"), &on));
        if (named) {
            ASSERT_EQ(launches.size(), 1u);
            EXPECT_EQ(launches[0].back(), m_temp.Join("launcher"));
        } else {
            EXPECT_TRUE(launches.empty());
        }
        EXPECT_FALSE(manager.UiRelayMessage(FWideString("Remove"), nullptr));
        // Null data and unknown commands do nothing.
        EXPECT_FALSE(manager.UiRelayMessage(FWideString("QueryState"), nullptr));
        EXPECT_FALSE(manager.UiRelayMessage(FWideString("SetAutoLaunchState"), nullptr));
        EXPECT_FALSE(manager.UiRelayMessage(FWideString("queryState"), &state));
    }
}

TEST_F(AutoLaunchTest, TalksToARunningProgramAndDoesNotStartASecondOne)
{
    WritePrefs(Prefs());
    StartStub(false);
    FUiAutoLaunchManagerWin manager(nullptr);
    manager.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    bool state = true;
    manager.UiRelayMessage(FWideString("QueryState"), &state);
    EXPECT_FALSE(state);
    bool on = true;
    EXPECT_FALSE(manager.UiRelayMessage(FWideString("SetAutoLaunchState"), &on));
    EXPECT_TRUE(launches.empty());
    Settle(manager);
    manager.UiRelayMessage(FWideString("QueryState"), &state);
    EXPECT_TRUE(state);
    on = false;
    manager.UiRelayMessage(FWideString("SetAutoLaunchState"), &on);
    Settle(manager);
    manager.UiRelayMessage(FWideString("QueryState"), &state);
    EXPECT_FALSE(state);
    EXPECT_FALSE(manager.UiRelayMessage(FWideString("Remove"), nullptr));
    int status = -1;
    ASSERT_EQ(waitpid(m_stub, &status, 0), m_stub);
    m_stub = 0;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(LogText(), "4203\n4200\n4203\n4203\n4201\n4203\n4203\n4202\n");
}

TEST_F(AutoLaunchTest, AProgramThatAnswersGarbageReadsAsOff)
{
    StartStub(true, "garbage");
    FUiAutoLaunchManagerWin manager(nullptr);
    bool state = true;
    manager.UiRelayMessage(FWideString("QueryState"), &state);
    EXPECT_FALSE(state);
}
