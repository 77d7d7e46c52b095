#include <gtest/gtest.h>

#include <SDL.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FOsBackend.h"
#include "FOsMenuBar.h"
#include "FProbeObject.h"
#include "FScopedTempFolder.h"
#include "FSdlUiWindow.h"
#include "FUiTestApp.h"

extern char** environ;

namespace
{

const char* const kScript = R"(<UI_SCRIPT Name="TestApp" AppName="TestAppWnd">
  <WINDOW Name="W" DX="240" DY="120" BgColor="#FFFFFF" X="30" Y="30">
    <BLOCK Name="Blk" X="20" Y="20" W="60" H="40" Color="#00C000"/>
    <PROBE Name="Probe"/>
    <MENU>
      <MENUITEM Name="File" Label="File">
        <MENUITEM Name="Open" Label="Open" Key="C-O"><ON_SELECT LocalRelay="Probe" Message="open"/></MENUITEM>
        <MENUITEM Name="Save" Label="Save" Key="CS-S"><ON_SELECT LocalRelay="Probe" Message="save"/></MENUITEM>
      </MENUITEM>
    </MENU>
  </WINDOW>
</UI_SCRIPT>)";

class DisplayWindowTest : public testing::Test
{
protected:
    void SetUp() override { SetOsBackend(EOsBackend::kDisplay); }
    void TearDown() override { SetOsBackend(EOsBackend::kHeadless); }

    static void Pump(int passes = 5)
    {
        for (int i = 0; i < passes; ++i)
            SdlPumpEvents(10);
    }
    static std::vector<std::string> TakeLog()
    {
        std::vector<std::string> log;
        for (const std::string& e : FProbeObject::SharedLog()) {
            if (e.find("Post Creation") == std::string::npos && e.find("tick") == std::string::npos &&
                e.find("enter") == std::string::npos && e.find("leave") == std::string::npos)
                log.push_back(e);
        }
        FProbeObject::SharedLog().clear();
        return log;
    }
};

void Push(SDL_Event event)
{
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

SDL_Event Click(uint32_t window, Uint32 type, int x, int y)
{
    SDL_Event e{};
    e.type = type;
    e.button.windowID = window;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = x;
    e.button.y = y;
    return e;
}

TEST_F(DisplayWindowTest, MenuClickAcceleratorTextWheelPixelsAndClipboard)
{
    FUiTestApp run(kScript);
    ASSERT_TRUE(run.GetInitResult()) << run.GetInitException();
    auto* window = dynamic_cast<FGenericUiWindow*>(run.GetApp()->FindUiWindow(FWideString("W")));
    ASSERT_TRUE(window);
    FSdlWindowProbe probe;
    ASSERT_TRUE(GetSdlWindowProbe(window->GetOsWindow(), probe));
    ASSERT_GT(probe.menuBarHeight, 0);
    Pump();
    TakeLog();

    // The presented pixels: the bar's grey on top, the block's green below it.
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(ReadSdlWindowPixels(window->GetOsWindow(), width, height, pixels));
    EXPECT_EQ(width, 240);
    EXPECT_EQ(height, 120 + probe.menuBarHeight);
    EXPECT_EQ(pixels[static_cast<size_t>(width - 2)] & 0xFFFFFF, 0xE6E6E6u);
    EXPECT_EQ(pixels[static_cast<size_t>(probe.menuBarHeight + 30) * width + 40] & 0xFFFFFF, 0x00C000u);
    EXPECT_EQ(pixels[static_cast<size_t>(probe.menuBarHeight + 100) * width + 200] & 0xFFFFFF, 0xFFFFFFu);

    // A click on the title opens the pull-down, whose first row is Open.
    Push(Click(probe.windowId, SDL_MOUSEBUTTONDOWN, 12, probe.menuBarHeight / 2));
    Pump();
    ASSERT_TRUE(probe.menuBar->IsOpen());
    const FRect pull = probe.menuBar->GetPullDownRect();
    ASSERT_TRUE(ReadSdlWindowPixels(window->GetOsWindow(), width, height, pixels));
    EXPECT_EQ(pixels[static_cast<size_t>(pull.top + 2) * width + static_cast<size_t>(pull.right - 3)] &
                  0xFFFFFF,
              0xF8F8F8u);
    Push(Click(probe.windowId, SDL_MOUSEBUTTONDOWN, pull.left + 30, pull.top + 5));
    Push(Click(probe.windowId, SDL_MOUSEBUTTONUP, pull.left + 30, pull.top + 5));
    Pump();
    EXPECT_FALSE(probe.menuBar->IsOpen());
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Probe:open"}));
    // The pull-down is gone from the screen again.
    ASSERT_TRUE(ReadSdlWindowPixels(window->GetOsWindow(), width, height, pixels));
    EXPECT_EQ(pixels[static_cast<size_t>(pull.top + 2) * width + static_cast<size_t>(pull.right - 3)] &
                  0xFFFFFF,
              0xFFFFFFu);

    // The accelerator Ctrl+Shift+S.
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.windowID = probe.windowId;
    key.key.state = SDL_PRESSED;
    key.key.keysym.sym = SDLK_s;
    key.key.keysym.scancode = SDL_SCANCODE_S;
    key.key.keysym.mod = KMOD_LCTRL | KMOD_LSHIFT;
    Push(key);
    key.type = SDL_KEYUP;
    key.key.state = SDL_RELEASED;
    key.key.keysym.mod = KMOD_NONE;
    Push(key);
    Pump();
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Probe:save"}));

    // Typed text reaches the keyboard object, one code per UTF-16 unit.
    FIUiObject* block = window->GetFirstObject();
    ASSERT_TRUE(block);
    window->SetKeyboardObject(block, true);
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    text.text.windowID = probe.windowId;
    std::strcpy(text.text.text, "h\xC3\xA9");
    Push(text);
    Pump();
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Blk:key 104", "Blk:key 233"}));

    // One wheel step over the block is one notch.
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = probe.windowId;
    wheel.wheel.y = -1;
    wheel.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    wheel.wheel.mouseX = 40;
    wheel.wheel.mouseY = probe.menuBarHeight + 30;
    Push(wheel);
    Pump();
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Blk:wheel -1"}));

    // The clipboard round trip through the display server.
    const FWideString sent = WideFromUtf8("Bild \xC3\xA9t\xC3\xA9 \xF0\x9F\x93\xB7");
    run.GetApp()->CopyTextToClipboard(sent, window);
    FWideString back;
    run.GetApp()->PasteTextFromClipboard(back, window);
    EXPECT_EQ(Utf8FromWide(back), Utf8FromWide(sent));
}

TEST_F(DisplayWindowTest, ClosingTheLastWindowEndsTheLoop)
{
    FUiTestApp run(kScript);
    ASSERT_TRUE(run.GetInitResult());
    auto* window = dynamic_cast<FGenericUiWindow*>(run.GetApp()->FindUiWindow(FWideString("W")));
    FSdlWindowProbe probe;
    ASSERT_TRUE(GetSdlWindowProbe(window->GetOsWindow(), probe));
    FProbeObject::SharedLog().clear();
    Pump(8);
    // The 10 ms timer is a deadline of the loop: the block ticked with measured, positive times.
    int ticks = 0;
    for (const std::string& e : FProbeObject::SharedLog()) {
        if (e.rfind("Blk:tick ", 0) == 0) {
            ++ticks;
            EXPECT_GE(std::stoi(e.substr(9)), 0);
        }
    }
    EXPECT_GE(ticks, 2);
    EXPECT_FALSE(SdlQuitRequested());
    window->GetOsWindow()->PostClose();
    Pump();
    EXPECT_TRUE(SdlQuitRequested());
    // Run returns at once now that the loop has ended.
    EXPECT_TRUE(run.GetApp()->Run(false));
}

TEST_F(DisplayWindowTest, ASecondStartHandsItsPathToTheRunningLoop)
{
    FScopedTempFolder runtime;
    chmod(runtime.GetPath().c_str(), 0700);
    FScopedEnv env("XDG_RUNTIME_DIR", runtime.GetPath());
    FUiTestApp run(R"(<UI_SCRIPT Name="TestApp" AppName="TestAppWnd" _SingleInstApp="true"
        _DeclareAppName="TestAppLock">
  <ON_OPEN_PATH_EVENT Relay="W.Probe" Message="OpenPath"/>
  <ON_SHOW_MAIN_WINDOW Relay="W.Probe" Message="Shown"/>
  <WINDOW Name="W" DX="120" DY="80" BgColor="#FFFFFF"><PROBE Name="Probe"/></WINDOW>
</UI_SCRIPT>)");
    ASSERT_TRUE(run.GetInitResult());
    ASSERT_FALSE(run.GetAnotherInstance());
    auto* window = dynamic_cast<FGenericUiWindow*>(run.GetApp()->FindUiWindow(FWideString("W")));
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    ASSERT_TRUE(window && probe);
    probe->SetDataKind("OpenPath", EProbeData::kString);
    // The path closes the window, which ends the loop.
    probe->SetOnMessage([window](const FProbeRecord& r) {
        if (r.message == "OpenPath")
            window->UiRelayMessage(FWideString("Close"), nullptr);
    });
    FSdlWindowProbe sdl;
    ASSERT_TRUE(GetSdlWindowProbe(window->GetOsWindow(), sdl));
    // Should nothing arrive, the window is closed after a while so that the loop ends anyway.
    static uint32_t s_window;
    s_window = sdl.windowId;
    const SDL_TimerID guard = SDL_AddTimer(
        20000,
        [](Uint32, void*) -> Uint32 {
            SDL_Event e{};
            e.type = SDL_WINDOWEVENT;
            e.window.event = SDL_WINDOWEVENT_CLOSE;
            e.window.windowID = s_window;
            SDL_PushEvent(&e);
            return 0;
        },
        nullptr);

    // The second start: another process, in another working folder, with a relative path.
    const std::string work = runtime.Join("work");
    mkdir(work.c_str(), 0700);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
    std::string program = RB_HANDOVER_PEER;
    std::vector<std::string> args = {program,       runtime.GetPath(), "TestAppWnd",
                                     "TestAppLock", "Day 1/IMG 7.q7f", "5"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    EXPECT_TRUE(run.GetApp()->Run(false));
    SDL_RemoveTimer(guard);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    std::vector<std::string> got;
    for (const FProbeRecord& r : probe->GetRecords()) {
        if (r.message == "OpenPath")
            got.push_back("open " + r.data);
        else if (r.message == "Shown")
            got.push_back("shown");
    }
    EXPECT_EQ(got, (std::vector<std::string>{"shown", "open " + work + "/Day 1/IMG 7.q7f"}));
}

} // namespace
