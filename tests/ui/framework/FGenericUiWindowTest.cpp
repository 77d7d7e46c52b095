#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FTestBlock.h"
#include "FUiObjectFactory.h"
#include "FUiScriptLimits.h"
#include "FUiTestApp.h"
#include "FUiWindowClass.h"

namespace
{

std::string Script(const std::string& body, const std::string& rootAttributes = "")
{
    return "<UI_SCRIPT Name=\"TestApp\" HasPersistantDataStore=\"true\" " + rootAttributes + ">" + body +
           "</UI_SCRIPT>";
}

FGenericUiWindow* Window(FUiTestApp& run, const char* name)
{
    return dynamic_cast<FGenericUiWindow*>(run.GetApp()->FindUiWindow(FWideString(name)));
}

FHeadlessUiWindow* Os(FGenericUiWindow* window)
{
    return window ? dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow()) : nullptr;
}

// "r,g,b,a" of a presented pixel.
std::string Pixel(FHeadlessUiWindow* os, int x, int y)
{
    const uint32_t p = os->GetPixel(x, y);
    return std::to_string((p >> 16) & 0xFF) + "," + std::to_string((p >> 8) & 0xFF) + "," +
           std::to_string(p & 0xFF) + "," + std::to_string(p >> 24);
}

// The shared log since the last call, without Post-Creation lines.
std::vector<std::string> TakeLog()
{
    std::vector<std::string> log;
    for (const std::string& entry : FProbeObject::SharedLog()) {
        if (entry.find("Post Creation") == std::string::npos)
            log.push_back(entry);
    }
    FProbeObject::SharedLog().clear();
    return log;
}

TEST(GenericUiWindowTest, DefaultLookIsAFixedGreyPanel)
{
    FUiTestApp run(Script(R"(<WINDOW Name="W"/>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiWindow* window = Window(run, "W");
    HeadlessPumpUntilIdle();
    window->UpdateIfInvalid();
    FHeadlessUiWindow* os = Os(window);
    ASSERT_TRUE(os && os->IsShown());
    FRect rect;
    window->GetWindowRect(rect);
    EXPECT_EQ(rect.Width(), 200);
    EXPECT_EQ(rect.Height(), 100);
    EXPECT_FALSE(window->IsResizable());
    EXPECT_EQ(Pixel(os, 0, 0), "0,0,0,255");
    EXPECT_EQ(Pixel(os, 1, 1), "140,140,140,255");
    EXPECT_EQ(Pixel(os, 2, 2), "210,210,210,255");
    EXPECT_EQ(Pixel(os, 100, 50), "245,245,245,255");
    EXPECT_EQ(Pixel(os, 199, 99), "0,0,0,255");
    int w = 0, h = 0;
    window->GetMinSize(w, h);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 20);
}

TEST(GenericUiWindowTest, PlainLookSizesAndFrame)
{
    FUiTestApp run(Script(R"(<WINDOW Name="Empty" BgColor="#102030"/>
        <WINDOW Name="Framed" BgColor="#E0E0E0" FrameColor="#000000" FrameThickness="2" DX="1" DY="1">
          <BLOCK Name="B" X="10" Y="10" W="5" H="5" Color="#00FF00"/></WINDOW>)"));
    ASSERT_TRUE(run.GetInitResult());
    HeadlessPumpUntilIdle();
    FRect rect;
    Window(run, "Empty")->GetWindowRect(rect);
    EXPECT_EQ(rect.Width(), 200); // no objects: 200 by 100
    EXPECT_EQ(rect.Height(), 100);
    EXPECT_TRUE(Window(run, "Empty")->IsResizable());
    FGenericUiWindow* framed = Window(run, "Framed");
    framed->GetWindowRect(rect);
    EXPECT_EQ(rect.Width(), 1); // the block asks for no room: DX stands
    FHeadlessUiWindow* os = Os(framed);
    framed->UiRelayMessage(FWideString("Resize"), std::vector<int>{40, 30}.data());
    HeadlessPumpUntilIdle();
    framed->UpdateIfInvalid();
    EXPECT_EQ(Pixel(os, 1, 1), "0,0,0,255");
    EXPECT_EQ(Pixel(os, 2, 2), "224,224,224,255");
    EXPECT_EQ(Pixel(os, 12, 12), "0,255,0,255");
}

TEST(GenericUiWindowTest, ReLayoutHoldsTheClientWithinTheCap)
{
    FUiTestApp run(Script(R"(<WINDOW Name="W" BgColor="#E0E0E0" DX="30" DY="20">
          <BLOCK Name="B" X="0" Y="0" W="5" H="5"/></WINDOW>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiWindow* window = Window(run, "W");
    ASSERT_NE(window->GetFirstObject(), nullptr);
    // An object that asks for more room than any window may have.
    window->GetFirstObject()->GetLayoutObject(true)->m_iMinSize = 3 * kMaxUiWindowSide;
    window->ReInitLayout(0, 0);
    FRect rect;
    Os(window)->GetWindowRect(rect);
    EXPECT_EQ(rect.Width(), kMaxUiWindowSide);
    EXPECT_EQ(rect.Height(), 20);
    // A shrink by a huge negative step (a grow) is capped too, without overflow.
    window->GetFirstObject()->GetLayoutObject(true)->m_iMinSize = 0;
    window->ReInitLayout(kMaxUiWindowSide - 30, std::numeric_limits<int>::min());
    Os(window)->GetWindowRect(rect);
    EXPECT_EQ(rect.Width(), 30);
    EXPECT_EQ(rect.Height(), kMaxUiWindowSide);
}

TEST(GenericUiWindowTest, SkinnedWindowStretchesItsSkinWithFixedCorners)
{
    FUiTestApp run(
        Script(R"(<WINDOW Name="W" BgImage="window_skin.png" BgX0="4" BgX1="59" BgY0="4" BgY1="43"/>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiWindow* window = Window(run, "W");
    EXPECT_TRUE(window->IsResizable());
    HeadlessAdvanceTime(10);
    FHeadlessUiWindow* os = Os(window);
    EXPECT_EQ(Pixel(os, 0, 0), "255,0,0,255"); // the skin's marked corner pixel, unscaled
    EXPECT_EQ(Pixel(os, 1, 1), "40,80,120,255");
    EXPECT_EQ(Pixel(os, 150, 70), "40,80,120,255");
    EXPECT_EQ(Pixel(os, 199, 99), "40,80,120,255");
}

TEST(GenericUiWindowTest, SavedStateIsReadCorrectedAndWritten)
{
    FUiTestApp run(Script(R"(<WINDOW Name="W" BgColor="#FFFFFF" _SaveState="true"/>)"), false);
    run.WriteAppDataFile("TestApp.state.xml",
                         "<STATE><PERDATA Name=\"TestApp.W\" X=\"0\" Y=\"-5\" Dx=\"5\" Dy=\"5\"/></STATE>");
    ASSERT_TRUE(run.Init());
    FGenericUiWindow* window = Window(run, "W");
    FRect rect;
    window->GetWindowRect(rect);
    EXPECT_EQ(rect, FRect(1, 1, 201, 101));
    int to[2] = {300, 200};
    window->UiRelayMessage(FWideString("Move"), to);
    FPropList* entry = run.GetApp()->GetPersistentData(FWideString("TestApp.W"));
    EXPECT_EQ(entry->GetInt("X", 0), 300);
    EXPECT_EQ(entry->GetInt("Y", 0), 200);
    int size[2] = {320, 240};
    window->UiRelayMessage(FWideString("Resize"), size);
    EXPECT_EQ(entry->GetInt("Dx", 0), 320);
    run.Finish();
    auto state = run.ReadStateFile();
    ASSERT_TRUE(state);
    FPropList* saved = state->GetFirstChild();
    EXPECT_EQ(saved->GetInt("Dy", 0), 240);
    EXPECT_EQ(saved->GetInt("X", 0), 300);
}

TEST(GenericUiWindowTest, DirtyListMergesAndOnlyDirtyAreasArePresented)
{
    FUiTestApp run(Script(R"(<WINDOW Name="W" BgColor="#FFFFFF" DX="100" DY="100"/>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiWindow* window = Window(run, "W");
    HeadlessPumpUntilIdle();
    window->UpdateIfInvalid();
    FHeadlessUiWindow* os = Os(window);
    os->ClearPresented();

    const FRect a(10, 10, 20, 20);
    window->Invalidate(&a);
    window->Invalidate(&a);
    EXPECT_EQ(window->GetDirtyList().size(), 1u);
    const FRect below(10, 21, 20, 30); // one pixel apart, same sides
    window->Invalidate(&below);
    ASSERT_EQ(window->GetDirtyList().size(), 1u);
    EXPECT_EQ(window->GetDirtyList()[0], FRect(10, 10, 20, 30));
    const FRect apart(50, 50, 60, 60);
    window->Invalidate(&apart);
    EXPECT_EQ(window->GetDirtyList().size(), 2u);
    window->UpdateIfInvalid();
    EXPECT_EQ(os->GetPresented(), (std::vector<FRect>{FRect(10, 10, 20, 30), FRect(50, 50, 60, 60)}));

    os->ClearPresented();
    window->UiRelayMessage(FWideString("Disable Window Display."), nullptr);
    window->Invalidate(&a);
    window->UpdateIfInvalid();
    EXPECT_TRUE(os->GetPresented().empty());
    window->UiRelayMessage(FWideString("Enable Window Display & Redraw All."), nullptr);
    EXPECT_FALSE(os->GetPresented().empty());
}

TEST(GenericUiWindowTest, CloseMatrix)
{
    struct Case {
        const char* keys;
        bool instance;
        const char* message; // "Close", "InternalClose" or "os" (the user closes the window)
        const char* outcome; // "event", "hidden", "gone"
    };
    const Case cases[] = {
        {"_MessageOnClose=\"true\" _HideOnClose=\"true\"", false, "Close", "event"},
        {"_MessageOnClose=\"true\"", true, "InternalClose", "event"},
        {"_MessageOnClose=\"true\"", false, "os", "event"},
        {"_HideOnClose=\"true\"", false, "Close", "hidden"},
        {"_HideOnClose=\"true\"", true, "os", "hidden"},
        {"", false, "Close", "gone"},
        {"", false, "InternalClose", "gone"},
        {"", true, "Close", "gone"},
        {"", true, "os", "gone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keys) + (c.instance ? " instance " : " window ") + c.message);
        const std::string tag = std::string("<") + (c.instance ? "WINDOWCLASS" : "WINDOW") + " Name=\"C\" " +
                                c.keys + "><ON_CLOSE_PRESSED Relay=\"Probe\" Message=\"Pressed\"/></" +
                                (c.instance ? "WINDOWCLASS" : "WINDOW") + ">";
        FUiTestApp run(Script("<PROBE Name=\"Probe\"/><WINDOW Name=\"Main\"/>" + tag));
        ASSERT_TRUE(run.GetInitResult());
        FGenericUiWindow* window = nullptr;
        if (c.instance) {
            FWideString names[2] = {FWideString("C"), FWideString("NoParent")};
            run.GetApp()->UiRelayMessage(FWideString("CreateWindow"), names);
            window = dynamic_cast<FGenericUiWindow*>(
                run.GetApp()->FindWindowClass(FWideString("C"))->GetTopInstance());
        } else {
            window = Window(run, "C");
        }
        ASSERT_NE(window, nullptr);
        HeadlessPumpUntilIdle();
        FHeadlessUiWindow* os = Os(window);
        GetHeadlessDesktop().quit = false;
        if (std::string(c.message) == "os")
            os->InjectClose();
        else
            GetHeadlessDesktop().queue.push_back(
                [window, c] { window->UiRelayMessage(FWideString(c.message), nullptr); });
        HeadlessPumpUntilIdle();
        const std::string outcome =
            FProbeObject::FindLive("Probe")->GetMessages().find("Pressed") != std::string::npos
                ? "event"
                : (std::find(GetHeadlessDesktop().windows.begin(), GetHeadlessDesktop().windows.end(), os) ==
                           GetHeadlessDesktop().windows.end()
                       ? "gone"
                       : (os->IsShown() ? "shown" : "hidden"));
        EXPECT_EQ(outcome, c.outcome);
        // Only a plain window ends the loop when it goes; class instances never do.
        EXPECT_EQ(GetHeadlessDesktop().quit, outcome == "gone" && !c.instance);
        if (c.instance && outcome == "gone") {
            EXPECT_EQ(run.GetApp()->FindWindowClass(FWideString("C"))->GetTopInstance(), nullptr);
        }
    }
}

TEST(GenericUiWindowTest, ShowingFiresAroundTheOsAndHoldsHidden)
{
    FUiTestApp run(Script(R"(<PROBE Name="P"/><WINDOW Name="W" _Visible="false">
        <ON_BEING_SHOWN Relay="P" Message="BeingShown"/><ON_BEEN_HIDDEN Relay="P" Message="BeenHidden"/></WINDOW>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiWindow* window = Window(run, "W");
    FHeadlessUiWindow* os = Os(window);
    FProbeObject* probe = FProbeObject::FindLive("P");
    std::vector<std::string> seen;
    probe->SetOnMessage(
        [&](const FProbeRecord& r) { seen.push_back(r.message + (os->IsShown() ? " shown" : " hidden")); });
    bool yes = true, no = false;
    window->UiRelayMessage(FWideString("SetVisibility"), &yes);
    window->UiRelayMessage(FWideString("SetVisibility"), &yes); // unchanged: nothing
    window->UiRelayMessage(FWideString("SetVisibility"), &no);
    EXPECT_EQ(seen, (std::vector<std::string>{"BeingShown hidden", "BeenHidden hidden"}));
    window->HoldHidden();
    window->UiRelayMessage(FWideString("Show"), nullptr);
    EXPECT_FALSE(os->IsShown());
    window->ReleaseHold();
    EXPECT_TRUE(os->IsShown());
    probe->SetOnMessage(nullptr);
}

class WindowInputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_run = std::make_unique<FUiTestApp>(Script(R"(<WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="100">
              <BLOCK Name="Back" X="0" Y="0" W="200" H="100" Color="#FFFFFF" AcceptDrop="true"/>
              <BLOCK Name="A" X="10" Y="10" W="40" H="40" Color="#FF0000" DragData="photo"/>
              <BLOCK Name="Pop" X="100" Y="10" W="40" H="40" Color="#0000FF"/>
              <ON_CTRL_E Relay="Probe" Message="CtrlE"/><ON_CTRL_Q Relay="Probe" Message="CtrlQ"/>
              <ON_CTRL_I Relay="Probe" Message="CtrlI"/><ON_CTRL_SHIFT_F Relay="Probe" Message="CtrlShiftF"/>
              <ON_CTRL_SHIFT_X Relay="Probe" Message="CtrlShiftX"/>
            </WINDOW><PROBE Name="Probe"/><BLOCK Name="Top"/>)",
                                                    "File_DragAndDropCursorNo=\"cursor_no.png\" "
                                                    "File_DragAndDropCursorYes=\"cursor_yes.png\""),
                                             false);
        // The accepting cursor white, so that the two can be told apart.
        WriteTestPng(m_run->GetScriptFolder().Join("cursor_yes.png"), 16, 16, FUiColor(255, 255, 255, 255),
                     FUiColor(255, 255, 255, 255));
        ASSERT_TRUE(m_run->Init());
        m_window = Window(*m_run, "W");
        m_os = Os(m_window);
        HeadlessPumpUntilIdle();
        TakeLog();
    }
    FIUiObject* Block(const char* name)
    {
        return dynamic_cast<FIUiObject*>(
            m_window->GetUiRelay(FWideString((std::string("W.") + name).c_str())));
    }
    // Block lines only ("A:down"), without enter and leave when asked.
    std::vector<std::string> Log(bool withHover = true)
    {
        std::vector<std::string> log;
        for (const std::string& entry : TakeLog()) {
            if (entry.rfind("Probe:", 0) == 0)
                continue;
            if (withHover ||
                (entry.find(":enter") == std::string::npos && entry.find(":leave") == std::string::npos))
                log.push_back(entry);
        }
        return log;
    }
    std::unique_ptr<FUiTestApp> m_run;
    FGenericUiWindow* m_window = nullptr;
    FHeadlessUiWindow* m_os = nullptr;
};

TEST_F(WindowInputTest, HoverFollowsThePointerAndLeavesWithIt)
{
    m_os->InjectMouseMove(20, 20);
    m_os->InjectMouseMove(25, 25);
    m_os->InjectMouseMove(150, 90);
    HeadlessPumpUntilIdle();
    // Back is the first top-level object and covers everything, so it takes the hover.
    EXPECT_EQ(Log(), (std::vector<std::string>{"Back:enter"}));
    m_os->InjectPointerLeft();
    HeadlessPumpUntilIdle();
    EXPECT_EQ(Log(), (std::vector<std::string>{"Back:leave"}));
    EXPECT_EQ(m_window->GetHoverObject(), nullptr);
}

TEST_F(WindowInputTest, PopupGetsThePointerFirstAndAClickOutsideClosesIt)
{
    m_window->SetPopupObject(Block("Pop"), true);
    m_os->InjectMouseMove(110, 20);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(m_window->GetHoverObject(), Block("Pop"));
    TakeLog();
    m_os->InjectMouseDown(20, 20);
    m_os->InjectMouseUp(20, 20);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(m_window->GetPopupObject(), nullptr);
    const auto log = Log(false);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "Pop:popup closed");
    EXPECT_EQ(log[1], "Back:down"); // the click still reaches what lies below
}

TEST_F(WindowInputTest, DragStartsBeyondThreePixelsAndDropsOnlyWhereAccepted)
{
    // Drags need the object under the pointer to offer data: make A the hover object.
    m_window->SetPopupObject(Block("A"), true);
    m_os->InjectMouseDown(20, 20);
    m_os->InjectMouseMove(23, 23); // 3 pixels: not yet
    HeadlessPumpUntilIdle();
    EXPECT_EQ(m_os->GetCursor(), "arrow");
    m_os->InjectMouseMove(24, 20); // 4 pixels: dragging, over A which refuses
    HeadlessPumpUntilIdle();
    EXPECT_NE(m_os->GetCursor(), "arrow");
    const std::string refused = m_os->GetCursor();
    m_window->SetPopupObject(Block("A"), false);
    m_os->InjectMouseMove(150, 80); // over Back, which accepts
    HeadlessPumpUntilIdle();
    EXPECT_NE(m_os->GetCursor(), refused);
    TakeLog();
    m_os->InjectMouseUp(150, 80);
    HeadlessPumpUntilIdle();
    const auto log = Log(false);
    EXPECT_NE(std::find(log.begin(), log.end(), "Back:drop photo"), log.end());
    EXPECT_EQ(m_os->GetCursor(), "arrow");
}

TEST_F(WindowInputTest, DoubleClickEndsADrag)
{
    m_window->SetPopupObject(Block("A"), true);
    m_os->InjectMouseDown(20, 20);
    m_os->InjectMouseMove(30, 30);
    HeadlessPumpUntilIdle();
    ASSERT_NE(m_os->GetCursor(), "arrow");
    m_os->InjectMouseDown(30, 30, 2);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(m_os->GetCursor(), "arrow");
    const auto log = Log(false);
    EXPECT_NE(std::find(log.begin(), log.end(), "A:double"), log.end());
}

TEST_F(WindowInputTest, MovesAndResizesFromTheOsFireWithTheirValues)
{
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    m_window->FindEvent("ON_MOVE")->AddTarget(FWideString("Moved"), probe);
    m_window->FindEvent("ON_RESIZE")->AddTarget(FWideString("Resized"), probe);
    std::vector<std::string> values;
    probe->SetOnMessage([&](const FProbeRecord& r) {
        const int* pair = static_cast<const int*>(r.pointer);
        values.push_back(r.message + " " + std::to_string(pair[0]) + "," + std::to_string(pair[1]));
    });
    m_os->Move(300, 200);
    m_os->SetClientSize(150, 90);
    probe->SetOnMessage(nullptr);
    EXPECT_EQ(values, (std::vector<std::string>{"Moved 300,200", "Resized 150,90"}));
}

TEST_F(WindowInputTest, WheelGoesToCaptureElseHover)
{
    m_os->InjectWheel(20, 20, -2);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(Log(false), (std::vector<std::string>{"Back:wheel -2"}));
    m_window->SetMouseCapture(Block("Pop"), true);
    EXPECT_FALSE(m_window->SetMouseCapture(Block("A"), true));
    m_os->InjectWheel(20, 20, 1);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(Log(false), (std::vector<std::string>{"Pop:wheel 1"}));
}

TEST_F(WindowInputTest, KeysGoToTheKeyboardObjectAndWindowEvents)
{
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    probe->Clear();
    m_window->SetKeyboardObject(Block("A"), true);
    struct Case {
        uint16_t code;
        bool ctrl, shift;
        std::vector<std::string> blocks;
        const char* events;
    };
    const Case cases[] = {
        {5, true, false, {"A:key 5"}, "CtrlE"},
        {5, true, true, {"A:key 5"}, ""}, // Ctrl+Shift+E fires nothing
        {17, true, false, {"A:key 17"}, "CtrlQ"},
        {9, true, false, {"A:key 9"}, "CtrlI"},
        {6, true, true, {}, "CtrlShiftF"},
        {24, true, true, {}, "CtrlShiftX"},
        {65, false, false, {"A:key 65"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        probe->Clear();
        m_os->InjectKey(c.code, c.ctrl, c.shift);
        HeadlessPumpUntilIdle();
        EXPECT_EQ(Log(false), c.blocks);
        EXPECT_EQ(probe->GetMessages(), c.events);
    }
    // Escape only asks the window to close.
    GetHeadlessDesktop().quit = false;
    m_os->InjectKey(27);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(Log(false), std::vector<std::string>{});
    EXPECT_TRUE(GetHeadlessDesktop().quit);
}

TEST_F(WindowInputTest, TicksCarryWholeMilliseconds)
{
    HeadlessAdvanceTime(37);
    const auto log = Log(false);
    // The first window ticks the application's own objects first.
    EXPECT_EQ(log, (std::vector<std::string>{"Top:tick 37", "Back:tick 37", "A:tick 37", "Pop:tick 37"}));
    HeadlessAdvanceTime(5); // not due yet
    EXPECT_TRUE(Log(false).empty());
}

TEST(GenericUiWindowTest, DisabledChildrenShowTheTintAndRunTheBusyAnimation)
{
    FUiTestApp run(Script(R"(<WINDOW Name="W" BgColor="#FFFFFF" DX="100" DY="60" _DrawDisabledColor="true">
          <BLOCK Name="Work" X="0" Y="0" W="1" H="1" Color="#FFFFFF"/>
          <FILMSTRIP Name="Busy" X="0" Y="0" W="10" H="10" Color="#FF0000"/>
          <FILMSTRIP Name="Second"/></WINDOW>)"),
                   false);
    // Any object type stands in for the animation.
    run.GetApp()->GetUiObjectFactory()->Register("FILMSTRIP", new FUiObjectCreatorOf<FTestBlock>);
    ASSERT_TRUE(run.Init());
    FGenericUiWindow* window = Window(run, "W");
    FHeadlessUiWindow* os = Os(window);
    HeadlessAdvanceTime(10);
    EXPECT_EQ(Pixel(os, 50, 30), "255,255,255,255");
    TakeLog();
    bool off = false;
    GetHeadlessDesktop().queue.push_back(
        [&] { window->UiRelayMessage(FWideString("EnableWindowsChildren"), &off); });
    HeadlessPumpUntilIdle();
    HeadlessAdvanceTime(10);
    const auto log = TakeLog();
    // The animation is not a child like the others: it only plays and ticks while the tree is disabled.
    EXPECT_EQ(log, (std::vector<std::string>{"Busy:msg Play", "Work:tick 10", "Busy:tick 10"}));
    EXPECT_EQ(Pixel(os, 50, 30), "127,127,127,255"); // white under the default tint, black at half
    EXPECT_EQ(Pixel(os, 5, 5), "255,0,0,255");       // the animation drawn over the tint
    EXPECT_EQ(window->GetUiRelay(FWideString("W.Busy")), nullptr);
}

TEST(GenericUiWindowTest, TitleEnablingAndCursorCommands)
{
    FUiTestApp run(Script(R"(<WINDOW Name="W" BgColor="#FFFFFF" DX="100" DY="60" WindowTitle="Browser">
          <BLOCK Name="Work" X="0" Y="0" W="10" H="10" Color="#FFFFFF"/></WINDOW>)",
                          R"(File_WaitCursor="cursor_yes.png" WaitCursor_X="3" WaitCursor_Y="4")"),
                   false);
    WriteTestPng(run.GetScriptFolder().Join("cursor_yes.png"), 16, 16, FUiColor(255, 255, 255, 255),
                 FUiColor(255, 255, 255, 255));
    ASSERT_TRUE(run.Init());
    HeadlessPumpUntilIdle();
    FGenericUiWindow* window = Window(run, "W");
    FHeadlessUiWindow* os = Os(window);
    ASSERT_NE(os, nullptr);
    auto command = [&](const char* message, void* data) {
        return window->UiRelayMessage(FWideString(message), data);
    };

    FWideString postfix(" - IMG_0001");
    EXPECT_TRUE(command("SetTitlePostfix", &postfix));
    EXPECT_EQ(os->GetTitle(), "Browser - IMG_0001");
    FWideString none;
    EXPECT_TRUE(command("SetTitlePostfix", &none));
    EXPECT_EQ(os->GetTitle(), "Browser");

    bool no = false, yes = true;
    EXPECT_TRUE(command("EnableWindow", &no));
    EXPECT_FALSE(os->IsEnabled());
    EXPECT_TRUE(command("EnableWindow", &yes));
    EXPECT_TRUE(os->IsEnabled());
    // "DisableWindowsChildren" true disables the tree, false enables it again.
    EXPECT_TRUE(command("DisableWindowsChildren", &yes));
    EXPECT_FALSE(window->AreChildrenEnabled());
    EXPECT_TRUE(command("DisableWindowsChildren", &no));
    EXPECT_TRUE(window->AreChildrenEnabled());

    EXPECT_TRUE(command("SetWaitCursor", nullptr));
    EXPECT_EQ(os->GetCursor(), std::string(256, 'W'));
    EXPECT_TRUE(command("ResetCursor", nullptr));
    EXPECT_EQ(os->GetCursor(), "arrow");

    // Commands that carry data are not handled without it.
    for (const char* message : {"SetTitlePostfix", "EnableWindow", "DisableWindowsChildren"})
        EXPECT_FALSE(command(message, nullptr)) << message;
}

TEST(GenericUiWindowTest, EscapedExceptionIsReportedAndTheLoopGoesOn)
{
    GetHeadlessDesktop().Reset();
    testing::internal::CaptureStdout();
    GetHeadlessDesktop().queue.push_back([] { throw FExceptionUiScript("bad relay"); });
    GetHeadlessDesktop().queue.push_back([] { throw 42; });
    bool later = false;
    GetHeadlessDesktop().queue.push_back([&] { later = true; });
    HeadlessPumpUntilIdle();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(later);
    EXPECT_EQ(
        out,
        "Caught unhandled FException: User Interface Script Error (bad relay)\nCaught unknown unhandled\n");
    const auto& boxes = GetHeadlessDesktop().messageBoxes;
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], (std::pair<std::string, std::string>{"EXCEPTION",
                                                             "E: User Interface Script Error (bad relay)"}));
    EXPECT_EQ(boxes[1],
              (std::pair<std::string, std::string>{"EXCEPTION", "Caught unknown unhandled exception."}));
}

TEST(WindowClassTest, CascadingInstancesFollowTheTopOne)
{
    FUiTestApp run(Script(R"(<WINDOW Name="Main"/>
        <WINDOWCLASS Name="Dialog" BgColor="#FFFFFF" _SaveState="true" _Cascade="true"/>)"),
                   false);
    run.WriteAppDataFile(
        "TestApp.state.xml",
        "<STATE><PERDATA Name=\"TestApp.Dialog\" X=\"100\" Y=\"50\" Dx=\"300\" Dy=\"200\"/></STATE>");
    ASSERT_TRUE(run.Init());
    FWideString names[2] = {FWideString("Dialog"), FWideString("NoParent")};
    run.GetApp()->UiRelayMessage(FWideString("CreateWindow"), names);
    run.GetApp()->UiRelayMessage(FWideString("CreateWindow"), names);
    FUiWindowClass* dialog = run.GetApp()->FindWindowClass(FWideString("Dialog"));
    ASSERT_EQ(dialog->GetInstances().size(), 2u);
    FRect older, newer;
    dynamic_cast<FGenericUiWindow*>(dialog->GetInstances()[1])->GetWindowRect(older);
    dynamic_cast<FGenericUiWindow*>(dialog->GetInstances()[0])->GetWindowRect(newer);
    EXPECT_EQ(older, FRect(100, 50, 400, 250));
    EXPECT_EQ(newer, FRect(115, 65, 415, 265));
    for (int i = 0; i < kMaxUiScriptWindows; ++i)
        run.GetApp()->UiRelayMessage(FWideString("CreateWindow"), names);
    EXPECT_EQ(dialog->GetInstances().size(),
              static_cast<size_t>(kMaxUiScriptWindows)); // no more than the cap
}

TEST(WindowClassTest, DynamicRelaysReachTheInstancesOfTheMoment)
{
    FUiTestApp run(Script(R"(<WINDOW Name="Main"/><PROBE Name="P"/>
        <WINDOWCLASS Name="Dialog" _Visible="true"><BLOCK Name="Info"/></WINDOWCLASS>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiApp* app = run.GetApp();
    FIUiRelay* top = app->GetUiRelay(FWideString("Dialog.Top"));
    FIUiRelay* all = app->GetUiRelay(FWideString("Dialog.All"));
    FIUiRelay* info = app->GetUiRelay(FWideString("Dialog.All.Info"));
    ASSERT_TRUE(top && all && info);
    EXPECT_FALSE(top->UiRelayMessage(FWideString("Show"), nullptr));

    FUiWindowClass* dialog = app->FindWindowClass(FWideString("Dialog"));
    FWideString names[2] = {FWideString("Dialog"), FWideString("NoParent")};
    for (int i = 0; i < 3; ++i)
        app->UiRelayMessage(FWideString("CreateWindow"), names);
    ASSERT_EQ(dialog->GetInstances().size(), 3u);
    const std::vector<FIUiWindow*> made = dialog->GetInstances(); // newest first
    HeadlessPumpUntilIdle();

    // "Hide" to all: the older ones first, the top one last.
    std::vector<FIUiWindow*> order;
    for (FIUiWindow* w : made)
        dynamic_cast<FGenericUiWindow*>(w)
            ->FindEvent("ON_BEEN_HIDDEN")
            ->AddTarget(FWideString("Hidden"), FProbeObject::FindLive("P"));
    FProbeObject::FindLive("P")->SetOnMessage([&](const FProbeRecord&) {
        for (FIUiWindow* w : made) {
            if (!w->IsVisible() && std::find(order.begin(), order.end(), w) == order.end())
                order.push_back(w);
        }
    });
    EXPECT_TRUE(all->UiRelayMessage(FWideString("Hide"), nullptr));
    FProbeObject::FindLive("P")->SetOnMessage(nullptr);
    EXPECT_EQ(order, (std::vector<FIUiWindow*>{made[1], made[2], made[0]}));

    TakeLog();
    EXPECT_TRUE(info->UiRelayMessage(FWideString("Ping"), nullptr));
    EXPECT_EQ(TakeLog().size(), 3u);

    // Activating an older instance makes it the top one; Top reaches it without reconnecting.
    dynamic_cast<FGenericUiWindow*>(made[2])->OnActivate();
    EXPECT_EQ(dialog->GetTopInstance(), made[2]);
    // Closing the top one makes the next one the top.
    GetHeadlessDesktop().queue.push_back([&] { top->UiRelayMessage(FWideString("InternalClose"), nullptr); });
    HeadlessPumpUntilIdle();
    EXPECT_EQ(dialog->GetTopInstance(), made[0]);
    EXPECT_EQ(dialog->GetInstances().size(), 2u);
}

TEST(WindowClassTest, InstancesMadeForAParentAreItsChildWindows)
{
    FUiTestApp run(Script(R"(<WINDOW Name="Main"/><WINDOWCLASS Name="Dialog" BgColor="#FFFFFF"/>)"));
    ASSERT_TRUE(run.GetInitResult());
    FWideString names[2] = {FWideString("Dialog"), FWideString("Main")};
    run.GetApp()->UiRelayMessage(FWideString("CreateWindow"), names);
    FIUiWindow* instance = run.GetApp()->FindWindowClass(FWideString("Dialog"))->GetTopInstance();
    ASSERT_NE(instance, nullptr);
    FUiChildWindowQuery query{FWideString("Dialog"), nullptr};
    EXPECT_TRUE(Window(run, "Main")->UiRelayMessage(FWideString("GetChildWindow"), &query));
    EXPECT_EQ(query.window, instance);
    EXPECT_EQ(Os(dynamic_cast<FGenericUiWindow*>(instance))->GetOwnerWindow(), Os(Window(run, "Main")));
    // The owner is a plain window: closing it ends the loop; its instances go with it at exit.
    GetHeadlessDesktop().queue.push_back(
        [&] { Window(run, "Main")->UiRelayMessage(FWideString("Close"), nullptr); });
    HeadlessPumpUntilIdle();
    EXPECT_TRUE(GetHeadlessDesktop().quit);
}

TEST(WindowClassTest, ButtonInsideClosesItsOwnInstance)
{
    FUiTestApp run(Script(R"(<WINDOW Name="Main"/>
        <WINDOWCLASS Name="Dialog" _Modal="true" BgColor="#FFFFFF" DX="100" DY="60">
          <BLOCK Name="Close" X="10" Y="10" W="30" H="20"><ON_PRESS LocalRelay="" Message="InternalClose"/></BLOCK>
        </WINDOWCLASS>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiApp* app = run.GetApp();
    FWideString dialogName("Dialog");
    app->UiRelayMessage(FWideString("ShowTopOrCreateWindow"), &dialogName);
    FUiWindowClass* dialog = app->FindWindowClass(dialogName);
    auto* instance = dynamic_cast<FGenericUiWindow*>(dialog->GetTopInstance());
    ASSERT_NE(instance, nullptr);
    EXPECT_FALSE(Window(run, "Main")->IsOsEnabled());
    FHeadlessUiWindow* os = Os(instance);
    os->InjectMouseMove(20, 20);
    os->InjectMouseDown(20, 20);
    os->InjectMouseUp(20, 20); // the handler closes the window whose block is still running
    HeadlessPumpUntilIdle();
    EXPECT_EQ(dialog->GetTopInstance(), nullptr);
    EXPECT_TRUE(Window(run, "Main")->IsOsEnabled());
    EXPECT_FALSE(GetHeadlessDesktop().quit);
}

TEST(GenericUiWindowTest, ScriptedWindowDrivenByInputShowsExpectedPixels)
{
    FUiTestApp run(Script(R"(<WINDOW Name="W" BgColor="#FFFFFF" FrameColor="#000000" FrameThickness="1"
          DX="120" DY="80">
          <BLOCK Name="Toggle" X="10" Y="10" W="20" H="20" Color="#00FF00">
            <ON_PRESS LocalRelay="Shade" Message="Show"/>
            <ON_PRESS Relay="TestApp" Message="ShowTopOrCreateWindow" Data="Dialog"/></BLOCK>
          <BLOCK Name="Shade" X="60" Y="40" W="30" H="20" Color="#0000FF"/>
          <ON_CTRL_SHIFT_F Relay="TestApp" Message="ShowTopOrCreateWindow" Data="Dialog"/>
        </WINDOW>
        <WINDOWCLASS Name="Dialog" BgColor="#FF00FF" DX="40" DY="30">
          <BLOCK Name="Dismiss" X="5" Y="5" W="10" H="10" Color="#FFFF00">
            <ON_PRESS LocalRelay="" Message="InternalClose"/></BLOCK>
        </WINDOWCLASS>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiWindow* window = Window(run, "W");
    FHeadlessUiWindow* os = Os(window);
    FUiWindowClass* dialog = run.GetApp()->FindWindowClass(FWideString("Dialog"));
    ASSERT_TRUE(os && dialog);
    HeadlessPumpUntilIdle();
    HeadlessAdvanceTime(10);
    EXPECT_EQ(Pixel(os, 0, 0), "0,0,0,255");       // frame
    EXPECT_EQ(Pixel(os, 5, 5), "255,255,255,255"); // background
    EXPECT_EQ(Pixel(os, 15, 15), "0,255,0,255");   // first block
    EXPECT_EQ(Pixel(os, 70, 50), "0,0,255,255");   // second block
    EXPECT_EQ(Pixel(os, 119, 79), "0,0,0,255");
    EXPECT_EQ(dialog->GetTopInstance(), nullptr);

    // From here on everything arrives as injected input. A click on the first block
    // makes a dialog, which draws its own background and block.
    TakeLog();
    os->InjectMouseMove(15, 15);
    os->InjectMouseDown(15, 15);
    os->InjectMouseUp(15, 15);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(TakeLog(),
              (std::vector<std::string>{"Toggle:enter", "Toggle:down", "Toggle:up", "Shade:msg Show"}));
    HeadlessAdvanceTime(10);
    FHeadlessUiWindow* shown = Os(dynamic_cast<FGenericUiWindow*>(dialog->GetTopInstance()));
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->IsShown());
    EXPECT_EQ(Pixel(shown, 2, 2), "255,0,255,255");
    EXPECT_EQ(Pixel(shown, 8, 8), "255,255,0,255");
    EXPECT_EQ(Pixel(shown, 39, 29), "255,0,255,255");
    EXPECT_EQ(Pixel(os, 15, 15), "0,255,0,255"); // the first window is unchanged
    EXPECT_EQ(Pixel(os, 70, 50), "0,0,255,255");

    // A click on the dialog's block closes it from inside its own handler; Ctrl+Shift+F
    // in the first window (an event without data of its own) makes a new one.
    shown->InjectMouseMove(8, 8);
    shown->InjectMouseDown(8, 8);
    shown->InjectMouseUp(8, 8);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(dialog->GetTopInstance(), nullptr);
    os->InjectKey(6, true, true);
    HeadlessPumpUntilIdle();
    HeadlessAdvanceTime(10);
    shown = Os(dynamic_cast<FGenericUiWindow*>(dialog->GetTopInstance()));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(Pixel(shown, 8, 8), "255,255,0,255");

    // A resize from the OS side redraws the new area.
    const int size[2] = {150, 90};
    window->UiRelayMessage(FWideString("Resize"), const_cast<int*>(size));
    HeadlessAdvanceTime(10);
    EXPECT_EQ(Pixel(os, 140, 85), "255,255,255,255");
    EXPECT_EQ(Pixel(os, 149, 89), "0,0,0,255");
}

} // namespace

TEST(GenericUiWindowTest, HiddenWindowsHoldNoPixelsUntilFirstShown)
{
    std::string body = R"(<WINDOW Name="Main" BgColor="#FFFFFF" DX="20" DY="20"/>
        <WINDOW Name="Later" BgColor="#102030" DX="300" DY="200" _Visible="false">
          <BLOCK Name="B" X="10" Y="10" W="5" H="5" Color="#00FF00"/></WINDOW>)";
    // Default looks and sized plain looks alike.
    for (int i = 0; i < 200; ++i) {
        body += "<WINDOW Name=\"Huge" + std::to_string(i) + "\" _Visible=\"false\"";
        const std::string side = std::to_string(kMaxScriptSize);
        body += i % 2 ? " BgColor=\"#000000\" DX=\"" + side + "\" DY=\"" + side +
                            "\"><BLOCK W=\"1\" H=\"1\"/></WINDOW>"
                      : " Text=\"Hidden\"/>";
    }
    FUiTestApp run(Script(body));
    ASSERT_TRUE(run.GetInitResult()) << run.GetInitException();
    HeadlessPumpUntilIdle();
    size_t hiddenBytes = 0;
    for (int i = 0; i < 200; ++i) {
        FGenericUiWindow* huge = Window(run, ("Huge" + std::to_string(i)).c_str());
        ASSERT_TRUE(huge);
        huge->UpdateIfInvalid();
        hiddenBytes += huge->GetBufferBytes() + Os(huge)->GetFrameBytes();
    }
    EXPECT_EQ(hiddenBytes, 0u);
    FRect rect;
    Window(run, "Huge1")->GetWindowRect(rect);
    EXPECT_EQ(rect.Width(), kMaxScriptSize); // the size is kept, only the pixels wait

    FGenericUiWindow* later = Window(run, "Later");
    FHeadlessUiWindow* os = Os(later);
    later->UiRelayMessage(FWideString("Resize"), std::vector<int>{40, 30}.data());
    HeadlessPumpUntilIdle();
    later->UpdateIfInvalid();
    EXPECT_EQ(later->GetBufferBytes() + os->GetFrameBytes(), 0u);

    later->SetVisible(true);
    HeadlessPumpUntilIdle();
    later->UpdateIfInvalid();
    ASSERT_TRUE(os->IsShown());
    EXPECT_EQ(later->GetBufferBytes(), 2u * 40 * 30 * 4);
    EXPECT_EQ(os->GetFrameBytes(), 40u * 30 * 4);
    EXPECT_EQ(Pixel(os, 2, 2), "16,32,48,255");
    EXPECT_EQ(Pixel(os, 12, 12), "0,255,0,255");
    EXPECT_EQ(Pixel(os, 39, 29), "16,32,48,255");
}
