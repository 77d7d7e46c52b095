#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FCodePage.h"
#include "FException.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FIOsTextLayer.h"
#include "FOsKeyInput.h"
#include "FOsMenuBar.h"
#include "FOsPointerInput.h"
#include "FProbeObject.h"
#include "FUiMenu.h"
#include "FUiTestApp.h"

namespace
{

// The fixture's root: Ctrl and Del have display strings ("Ctrl+"/"Strg+", "Del"/"Entf").
std::string Script(const std::string& menu)
{
    return R"(<UI_SCRIPT Name="TestApp" AppName="TestAppWnd" CtrlMenuDisplayString="KeyCtrl"
        DelMenuDisplayString="KeyDel">
  <LANGUAGES><LANGUAGE Name="English" Default="true"/><LANGUAGE Name="German"/></LANGUAGES>
  <FONTS><APPFONT Name="Body" Height="14"><MSWFONT><English Fontname="DejaVu Sans"/></MSWFONT></APPFONT></FONTS>
  <DISPLAY_STRING Name="MenuFile" AppFont="Body"><English Text="File"/><German Text="Datei"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="Open" AppFont="Body"><English Text="Open"/><German Text="Oeffnen"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="Quit" AppFont="Body"><English Text="Quit"/><German Text="Ende"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="KeyCtrl" AppFont="Body"><English Text="Ctrl+"/><German Text="Strg+"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="KeyDel" AppFont="Body"><English Text="Del"/><German Text="Entf"/></DISPLAY_STRING>
  <WINDOW Name="W" DX="200" DY="100" BgColor="#FFFFFF">
    <PROBE Name="Probe"/>
    <MENU>)" +
           menu +
           R"(</MENU>
  </WINDOW>
</UI_SCRIPT>)";
}

const char* const kMenus = R"(
      <MENUITEM Name="File" DisplayString="MenuFile">
        <MENUITEM Name="Open" DisplayString="Open" Key="C-O" _UseCheck="true">
          <ON_CHECK LocalRelay="Probe" Message="check"/>
          <ON_UNCHECK LocalRelay="Probe" Message="uncheck"/>
          <ON_CHECK_STATE LocalRelay="Probe" Message="state"/>
          <ON_SELECT LocalRelay="Probe" Message="open"/>
        </MENUITEM>
        <MENUITEM Name="Unlabelled" Key="C-U"><ON_SELECT LocalRelay="Probe" Message="unlabelled"/></MENUITEM>
        <MENUSEPARATOR/>
        <MENUITEM Name="Save" Label="Save" Key="CS-S"><ON_SELECT LocalRelay="Probe" Message="save"/></MENUITEM>
        <MENUITEM Name="Quit" DisplayString="Quit" HiddenKey="C-Q"><ON_SELECT LocalRelay="Probe" Message="quit"/></MENUITEM>
        <MENUITEM Name="Erase" Label="Erase" Key="Del"><ON_SELECT LocalRelay="Probe" Message="erase"/></MENUITEM>
        <MENUITEM Name="Plain" Label="Plain" Key="X"><ON_SELECT LocalRelay="Probe" Message="plain"/></MENUITEM>
      </MENUITEM>
      <MENUITEM Name="Empty" Label="Empty"/>
      <MENUITEM Name="Edit" Label="Edit">
        <MENUITEM Name="Again" Label="Again" Key="C-O"><ON_SELECT LocalRelay="Probe" Message="again"/></MENUITEM>
        <MENUITEM Name="Alt" Label="Alt" Key="A-x"><ON_SELECT LocalRelay="Probe" Message="alt"/></MENUITEM>
      </MENUITEM>)";

struct MenuRun {
    FUiTestApp run;
    FGenericUiWindow* window = nullptr;
    FHeadlessUiWindow* os = nullptr;
    FProbeObject* probe = nullptr;

    explicit MenuRun(const char* menus = kMenus) : run(Script(menus))
    {
        window = dynamic_cast<FGenericUiWindow*>(run.GetApp()->FindUiWindow(FWideString("W")));
        os = window ? dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow()) : nullptr;
        probe = FProbeObject::FindLive("Probe");
        if (probe) {
            probe->SetDataKind("state", EProbeData::kBool);
            probe->Clear();
        }
        HeadlessPumpUntilIdle();
    }
    std::string Take()
    {
        HeadlessPumpUntilIdle();
        std::string messages;
        for (const FProbeRecord& r : probe->GetRecords()) {
            if (r.message == "Post Creation Initialization")
                continue;
            messages += (messages.empty() ? "" : ",") + r.message + (r.data.empty() ? "" : "=" + r.data);
        }
        probe->Clear();
        return messages;
    }
    FOsMenu& Os(int index) { return *os->GetMenuBar().GetMenus()[static_cast<size_t>(index)]; }
    FUiMenuItem* Item(const char* name)
    {
        return dynamic_cast<FUiMenuItem*>(window->GetUiRelay(FWideString(name)));
    }
};

std::string Narrow(const FWideString& text)
{
    return Utf8FromWide(text);
}

TEST(MenuAcceleratorTest, KeyTextsParse)
{
    struct Case {
        const char* text;
        bool ctrl, shift, alt;
        uint16_t key;
    };
    const Case cases[] = {
        {"C-O", true, false, false, 'O'},   {"CS-S", true, true, false, 'S'},
        {"A-X", false, false, true, 'X'},   {"Del", false, false, false, 127},
        {"F1", false, false, false, 112},   {"F9", false, false, false, 120},
        {"[", false, false, false, 91},     {"C-]", true, false, false, 93},
        {"o", false, false, false, 'O'},    {"7", false, false, false, '7'},
        {"QX-5", false, false, false, '5'}, {"F10", false, false, false, 42},
        {"Home", false, false, false, 42},  {"C-", true, false, false, 42},
        {"f1", false, false, false, 42},    {"C-f9", true, false, false, 42}, // case folds for letters only
    };
    for (const Case& c : cases) {
        const FOsAccelerator a = ParseOsAccelerator(FWideString(c.text));
        EXPECT_TRUE(a.active) << c.text;
        EXPECT_EQ(a.ctrl, c.ctrl) << c.text;
        EXPECT_EQ(a.shift, c.shift) << c.text;
        EXPECT_EQ(a.alt, c.alt) << c.text;
        EXPECT_EQ(a.key, c.key) << c.text;
    }
}

TEST(MenuAcceleratorTest, ShortcutTextsUseTheApplicationsWords)
{
    MenuRun m;
    ASSERT_TRUE(m.os);
    const auto& items = m.Os(0).GetItems();
    ASSERT_EQ(items.size(), 7u);
    EXPECT_EQ(Narrow(items[0].label), "Open");
    EXPECT_EQ(Narrow(items[0].shortcut), "Ctrl+O");
    EXPECT_FALSE(items[1].shown); // no label: not in the pull-down, but it keeps its position
    EXPECT_TRUE(items[2].separator);
    EXPECT_EQ(Narrow(items[3].shortcut), "Ctrl+Shift+S"); // no Shift text in the application
    EXPECT_EQ(Narrow(items[4].shortcut), "");             // a hidden key is never shown
    EXPECT_EQ(Narrow(items[5].shortcut), "Del");
    EXPECT_EQ(Narrow(items[6].shortcut), "X");
    EXPECT_TRUE(m.Os(1).IsEmpty());
    EXPECT_EQ(Narrow(m.Os(2).GetTitle()), "Edit");

    m.run.GetApp()->SetLanguage(FWideString("German"));
    EXPECT_EQ(Narrow(m.Os(0).GetTitle()), "Datei");
    EXPECT_EQ(Narrow(items[0].label), "Oeffnen");
    EXPECT_EQ(Narrow(items[0].shortcut), "Strg+O");
    EXPECT_EQ(Narrow(items[4].label), "Ende");
    EXPECT_EQ(Narrow(items[4].shortcut), ""); // relabelling keeps the hidden key hidden
}

TEST(MenuAcceleratorTest, CtrlOTogglesTheCheckAndFiresInOrder)
{
    MenuRun m;
    ASSERT_TRUE(m.probe && m.os);
    m.os->InjectKeyDown(EOsKey::kCtrl);
    m.os->InjectKeyDown(EOsKey::kLetter, 'O');
    EXPECT_EQ(m.Take(), "check,state=true,open");
    EXPECT_TRUE(m.Item("W.File.Open")->IsChecked());
    EXPECT_TRUE(m.Os(0).GetItems()[0].checked);
    // Holding the key repeats it: the item is not chosen again.
    m.os->InjectKeyDown(EOsKey::kLetter, 'O', true);
    EXPECT_EQ(m.Take(), "");
    m.os->InjectKeyDown(EOsKey::kLetter, 'O');
    EXPECT_EQ(m.Take(), "uncheck,state=false,open");
    // Modifiers must match exactly.
    m.os->InjectKeyDown(EOsKey::kShift);
    m.os->InjectKeyDown(EOsKey::kLetter, 'O');
    EXPECT_EQ(m.Take(), "");
    m.os->InjectKeyDown(EOsKey::kLetter, 'S');
    EXPECT_EQ(m.Take(), "save");
    m.os->InjectKeyUp(EOsKey::kShift);
    m.os->InjectKeyDown(EOsKey::kLetter, 'S');
    EXPECT_EQ(m.Take(), "");
    m.os->InjectKeyDown(EOsKey::kLetter, 'Q');
    EXPECT_EQ(m.Take(), "quit");
    // An item without a label is not shown, yet its shortcut works at its own position.
    m.os->InjectKeyDown(EOsKey::kLetter, 'U');
    EXPECT_EQ(m.Take(), "unlabelled");
    m.os->InjectKeyUp(EOsKey::kCtrl);
    m.os->InjectKeyDown(EOsKey::kAlt);
    m.os->InjectKeyDown(EOsKey::kLetter, 'X');
    EXPECT_EQ(m.Take(), "alt");
}

TEST(MenuAcceleratorTest, DeleteGoesToItsItemEvenWhenRepeatedAndDisabledItemsIgnoreEverything)
{
    MenuRun m;
    ASSERT_TRUE(m.probe && m.os);
    m.os->InjectKeyDown(EOsKey::kDelete);
    m.os->InjectKeyDown(EOsKey::kDelete, 0, true);
    EXPECT_EQ(m.Take(), "erase,erase");
    FUiMenuItem* erase = m.Item("W.File.Erase");
    ASSERT_TRUE(erase);
    EXPECT_TRUE(erase->UiRelayMessage(FWideString("Disable"), nullptr));
    EXPECT_FALSE(m.Os(0).GetItems()[5].enabled);
    m.os->InjectKeyDown(EOsKey::kDelete);
    m.os->ChooseMenuItem(0, 5);
    EXPECT_EQ(m.Take(), "");
    bool on = true;
    EXPECT_TRUE(erase->UiRelayMessage(FWideString("SetEnabled"), &on));
    EXPECT_FALSE(erase->UiRelayMessage(FWideString("SetEnabled"), nullptr));
    m.os->ChooseMenuItem(0, 5);
    EXPECT_EQ(m.Take(), "erase");
    // Identifiers beyond the window's menus do nothing.
    m.os->ChooseMenuItem(9, 0);
    m.os->ChooseMenuItem(0, 200);
    EXPECT_EQ(m.Take(), "");
}

TEST(MenuAcceleratorTest, MenusAreSearchedInOrderAndEachTableFromItsEnd)
{
    // File's Open and Edit's Again share C-O: File comes first.
    MenuRun m;
    ASSERT_TRUE(m.os);
    m.Item("W.File.Open")->UiRelayMessage(FWideString("Disable"), nullptr);
    m.os->InjectKeyDown(EOsKey::kCtrl);
    m.os->InjectKeyDown(EOsKey::kLetter, 'O');
    // The disabled entry still takes the key: a shortcut never falls through to another menu.
    EXPECT_EQ(m.Take(), "");
}

TEST(MenuAcceleratorTest, WithinOnePullDownTheLastEntryWins)
{
    MenuRun m(R"(<MENUITEM Name="M" Label="M">
        <MENUITEM Name="A" Label="A" Key="C-K"><ON_SELECT LocalRelay="Probe" Message="first"/></MENUITEM>
        <MENUITEM Name="B" Label="B" Key="C-K"><ON_SELECT LocalRelay="Probe" Message="last"/></MENUITEM>
      </MENUITEM>)");
    ASSERT_TRUE(m.os);
    m.os->InjectKeyDown(EOsKey::kCtrl);
    m.os->InjectKeyDown(EOsKey::kLetter, 'K');
    EXPECT_EQ(m.Take(), "last");
}

TEST(MenuAcceleratorTest, ItemCommands)
{
    MenuRun m;
    FUiMenuItem* open = m.Item("W.File.Open");
    FUiMenuItem* plain = m.Item("W.File.Plain");
    ASSERT_TRUE(open && plain);
    EXPECT_TRUE(open->UiRelayMessage(FWideString("Check"), nullptr));
    EXPECT_EQ(m.Take(), "check,state=true");
    bool on = true;
    EXPECT_TRUE(open->UiRelayMessage(FWideString("SetCheck"), &on)); // no change, no events
    EXPECT_EQ(m.Take(), "");
    EXPECT_TRUE(open->UiRelayMessage(FWideString("Disable"), nullptr));
    EXPECT_TRUE(open->UiRelayMessage(FWideString("Enable"), nullptr));
    EXPECT_TRUE(m.Os(0).GetItems()[0].checked); // enabling shows the check mark again
    EXPECT_TRUE(open->UiRelayMessage(FWideString("Uncheck"), nullptr));
    EXPECT_EQ(m.Take(), "uncheck,state=false");
    // Items without _UseCheck take the commands and change nothing.
    EXPECT_TRUE(plain->UiRelayMessage(FWideString("Check"), nullptr));
    EXPECT_FALSE(plain->IsChecked());
    EXPECT_EQ(m.Take(), "");
    // An unknown display string changes nothing; a known one relabels with the key kept.
    FWideString unknown("NoSuchString"), quit("Quit");
    EXPECT_TRUE(plain->UiRelayMessage(FWideString("SetLabel"), &unknown));
    EXPECT_EQ(Narrow(m.Os(0).GetItems()[6].label), "Plain");
    EXPECT_TRUE(plain->UiRelayMessage(FWideString("SetLabel"), &quit));
    EXPECT_EQ(Narrow(m.Os(0).GetItems()[6].label), "Quit");
    EXPECT_EQ(Narrow(m.Os(0).GetItems()[6].shortcut), "X");
    EXPECT_FALSE(plain->UiRelayMessage(FWideString("SetLabel"), nullptr));
    EXPECT_FALSE(plain->UiRelayMessage(FWideString("Frobnicate"), nullptr));
    // Relay names: the menu, its items, and the window's full names.
    EXPECT_NE(m.window->GetUiRelay(FWideString("W.File")), nullptr);
    EXPECT_EQ(m.window->GetUiRelay(FWideString("W.File.Nothing")), nullptr);
    FWideString full;
    open->GetFullName(full);
    EXPECT_EQ(Narrow(full), "TestApp.W.File.Open");
}

TEST(MenuAcceleratorTest, AnExceptionFromAnItemIsReportedAndInputGoesOn)
{
    MenuRun m;
    ASSERT_TRUE(m.probe && m.os);
    m.probe->SetOnMessage([](const FProbeRecord& r) {
        if (r.message == "save")
            throw FExceptionUiScript("save failed");
    });
    testing::internal::CaptureStdout();
    m.os->InjectKeyDown(EOsKey::kCtrl);
    m.os->InjectKeyDown(EOsKey::kShift);
    m.os->InjectKeyDown(EOsKey::kLetter, 'S');
    m.os->InjectKeyUp(EOsKey::kShift);
    m.os->InjectKeyDown(EOsKey::kLetter, 'Q');
    HeadlessPumpUntilIdle();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Caught unhandled FException: User Interface Script Error (save failed)\n");
    ASSERT_EQ(GetHeadlessDesktop().messageBoxes.size(), 1u);
    EXPECT_EQ(GetHeadlessDesktop().messageBoxes[0].second, "E: User Interface Script Error (save failed)");
    m.probe->SetOnMessage(nullptr);
    EXPECT_EQ(m.Take(), "save,quit");
}

// ---- The key model ----

class KeyOwner : public FIOsUiWindowOwner
{
public:
    std::vector<std::string> log;
    std::string selection;

    void OnOsClose() override {}
    void OnOsResize(int, int) override {}
    void OnOsMove(int, int) override {}
    void OnActivate() override {}
    void OnDeactivate() override {}
    void OnZOrderChanged() override {}
    void OnMinimized() override {}
    void OnMaximized() override {}
    void OnRestored() override {}
    bool downAnswer = false;
    bool MouseDown(int, int x, int y, bool, bool) override
    {
        log.push_back("down " + std::to_string(x) + "," + std::to_string(y));
        return downAnswer;
    }
    void MouseUp(int, int, int, bool, bool) override { log.push_back("up"); }
    bool MouseDoubleClick(int, int, int, bool, bool) override
    {
        log.push_back("double");
        return true;
    }
    void MouseMove(int x, int y) override
    {
        log.push_back("move " + std::to_string(x) + "," + std::to_string(y));
    }
    void MouseWheel(int, int, int, int) override {}
    void MouseLeftWindow(int, int) override {}
    void KeyEvent(uint16_t code, bool ctrl, bool shift) override
    {
        log.push_back(std::to_string(code) + (ctrl ? "c" : "") + (shift ? "s" : ""));
    }
    void Copy(FWideString& text) override { text = WideFromUtf8(selection); }
    void Cut(FWideString& text) override
    {
        text = WideFromUtf8(selection);
        selection.clear();
    }
    void Paste(const FWideString& text) override { log.push_back("paste:" + Utf8FromWide(text)); }
    void Tick(double) override {}
    void UpdateIfInvalid() override {}
    void OnOsDestroyed() override {}
};

TEST(OsKeyModelTest, KeysAndTextBecomeFrameworkCodes)
{
    KeyOwner owner;
    FOsKeyInput keys(&owner, nullptr);
    std::string clipboard;
    bool hasClipboard = false;
    keys.copyToClipboard = [&](const FWideString& t) {
        clipboard = Utf8FromWide(t);
        hasClipboard = true;
    };
    keys.pasteFromClipboard = [&](FWideString& t) {
        t = WideFromUtf8(clipboard);
        return hasClipboard;
    };
    struct Case {
        std::vector<FOsKeyPress> presses;
        bool ctrl, shift;
        const char* text;
        std::vector<std::string> expected;
    };
    using K = EOsKey;
    const Case cases[] = {
        {{{K::kPageUp}, {K::kPageDown}, {K::kEnd}, {K::kHome}}, false, false, "", {"17", "18", "2", "20"}},
        {{{K::kLeft}, {K::kUp}, {K::kRight}, {K::kDown}, {K::kInsert}},
         true,
         false,
         "",
         {"146c", "14c", "145c", "19c", "9c"}},
        {{{K::kLeft, 0, true}}, false, true, "", {"146s"}}, // navigation repeats
        {{{K::kBackspace}, {K::kTab}, {K::kReturn}, {K::kEscape}}, false, false, "", {"8", "9", "13", "27"}},
        {{{K::kBackspace}, {K::kTab}, {K::kReturn}}, true, false, "", {"127c"}}, // Ctrl+Return is 10: dropped
        {{{K::kOpenBracket}, {K::kBackslash}, {K::kCloseBracket}}, true, false, "", {"91c", "92c", "93c"}},
        {{{K::kDigit, '6'}, {K::kMinus}}, true, true, "", {"94cs", "95cs"}},
        {{{K::kLetter, 'A'}, {K::kLetter, 'I'}, {K::kLetter, 'E'}, {K::kLetter, 'Q'}},
         true,
         false,
         "",
         {"9c", "5c", "17c"}},
        {{{K::kDelete}, {K::kDelete, 0, true}}, false, false, "", {"127", "127"}},
        {{{K::kFunction, 5}, {K::kOther}}, false, false, "", {}},
        {{},
         false,
         false,
         "a\xC3\xA9\xF0\x9F\x98\x80",
         {"97", "233", "55357", "56832"}}, // a surrogate pair: two
        {{}, false, true, "Z", {"90s"}},
    };
    for (const Case& c : cases) {
        owner.log.clear();
        keys.SetModifiers(c.ctrl, c.shift, false);
        for (const FOsKeyPress& p : c.presses)
            keys.KeyDown(p);
        keys.Text(c.text);
        EXPECT_EQ(owner.log, c.expected) << c.text << " " << c.presses.size();
    }
    // Alt with a letter is a command, not text.
    owner.log.clear();
    keys.SetModifiers(false, false, true);
    keys.Text("x");
    EXPECT_TRUE(owner.log.empty());

    // Ctrl+C, Ctrl+X and Ctrl+V with and without text.
    keys.SetModifiers(true, false, false);
    owner.log.clear();
    keys.KeyDown({K::kLetter, 'C'});
    keys.KeyDown({K::kLetter, 'V'});
    EXPECT_EQ(owner.log,
              (std::vector<std::string>{"3c", "22c"})); // nothing selected, nothing on the clipboard
    owner.selection = "picked";
    owner.log.clear();
    keys.KeyDown({K::kLetter, 'C'});
    EXPECT_EQ(clipboard, "picked");
    keys.KeyDown({K::kLetter, 'X'});
    EXPECT_EQ(owner.selection, "");
    keys.KeyDown({K::kLetter, 'X'});
    keys.KeyDown({K::kLetter, 'V'});
    EXPECT_EQ(owner.log, (std::vector<std::string>{"24c", "paste:picked"}));
}

TEST(OsPointerTest, PressesClicksAndDraggingATitlelessWindow)
{
    KeyOwner owner;
    FOsPointerInput pointer(&owner);
    int dx = 0, dy = 0;
    // A second press while the button is held is no press; the release clears the button.
    pointer.Down(5, 6, 1, false, false, false, 100, 100);
    pointer.Down(5, 6, 1, false, false, false, 100, 100);
    pointer.Up(5, 6, false, false);
    pointer.Up(5, 6, false, false);
    pointer.Down(7, 8, 1, false, false, false, 100, 100);
    EXPECT_EQ(owner.log, (std::vector<std::string>{"down 5,6", "up", "down 7,8"}));
    // Every second click of a series is also a double click.
    owner.log.clear();
    pointer.Up(7, 8, false, false);
    pointer.Down(7, 8, 2, false, false, false, 100, 100);
    pointer.Up(7, 8, false, false);
    pointer.Down(7, 8, 3, false, false, false, 100, 100);
    pointer.Up(7, 8, false, false);
    pointer.Down(7, 8, 4, false, false, false, 100, 100);
    pointer.Cancel();
    EXPECT_EQ(owner.log, (std::vector<std::string>{"up", "down 7,8", "double", "up", "down 7,8", "up",
                                                   "down 7,8", "double"}));
    EXPECT_FALSE(pointer.IsButtonDown());
    // Without a title bar, a press no object takes drags the window by the pointer's moves on the screen.
    owner.log.clear();
    pointer.Down(1, 1, 1, false, false, true, 100, 100);
    EXPECT_TRUE(pointer.Move(1, 1, 110, 95, dx, dy));
    EXPECT_EQ(dx, 10);
    EXPECT_EQ(dy, -5);
    pointer.Up(1, 1, false, false);
    EXPECT_FALSE(pointer.Move(2, 2, 111, 95, dx, dy));
    // A press an object took does not drag.
    owner.downAnswer = true;
    pointer.Down(3, 3, 1, false, false, true, 111, 95);
    EXPECT_FALSE(pointer.Move(4, 4, 130, 95, dx, dy));
    EXPECT_EQ(owner.log, (std::vector<std::string>{"down 1,1", "up", "move 2,2", "down 3,3", "move 4,4"}));
}

TEST(OsPointerTest, CursorsAreWhiteBlackOrClear)
{
    unsigned char alpha[256] = {}, green[256] = {};
    alpha[0] = 255; // opaque dark: black
    alpha[1] = 129; // opaque bright: white
    green[1] = 200;
    alpha[2] = 128; // not opaque enough: clear
    green[2] = 255;
    alpha[17] = 255; // row 1, column 1: black
    green[17] = 128;
    const FOsCursorMasks masks = BuildOsCursorMasks(alpha, green);
    EXPECT_EQ(masks.mask[0], 0xC0);
    EXPECT_EQ(masks.data[0], 0x80);
    EXPECT_EQ(masks.mask[2], 0x40);
    EXPECT_EQ(masks.data[2], 0x40);
    int others = 0;
    for (int i = 0; i < 32; ++i)
        others += (i != 0 && i != 2) ? masks.mask[i] + masks.data[i] : 0;
    EXPECT_EQ(others, 0);
}

// ---- The self-drawn bar ----

TEST(OsMenuBarTest, ClicksOpenPullDownsAndChooseItems)
{
    SelectOsTextLayer(FOsTextLayerKind::kBoxFont);
    MenuRun m;
    ASSERT_TRUE(m.os);
    FOsMenuBar& bar = m.os->GetMenuBar();
    const int height = bar.GetHeight();
    ASSERT_GT(height, 0);
    // Below the bar nothing is taken while no pull-down is open.
    EXPECT_FALSE(bar.MouseDown(5, height + 5));
    EXPECT_TRUE(bar.MouseDown(12, height / 2));
    ASSERT_TRUE(bar.IsOpen());
    const FRect pull = bar.GetPullDownRect();
    EXPECT_EQ(pull.top, height);
    // The first row is Open; a click chooses it and closes the pull-down.
    EXPECT_TRUE(bar.MouseDown(pull.left + 30, pull.top + 4));
    EXPECT_FALSE(bar.IsOpen());
    EXPECT_EQ(m.Take(), "check,state=true,open");
    // A click on a disabled row keeps the pull-down open and chooses nothing.
    m.Item("W.File.Save")->UiRelayMessage(FWideString("Disable"), nullptr);
    bar.MouseDown(12, height / 2);
    const int rowHeight = (pull.Height() - 2 - 7) / 5;
    EXPECT_TRUE(bar.MouseDown(pull.left + 30, pull.top + 1 + rowHeight + 7 + 2));
    EXPECT_TRUE(bar.IsOpen());
    // A click elsewhere closes it and goes no further.
    EXPECT_TRUE(bar.MouseDown(pull.right + 50, pull.bottom + 2));
    EXPECT_FALSE(bar.IsOpen());
    EXPECT_EQ(m.Take(), "");

    // Drawing: the bar's grey, the title's glyph boxes, the open pull-down below it.
    bar.MouseDown(12, height / 2);
    std::vector<uint32_t> pixels(300u * 200u, 0xFF123456);
    bar.Draw(pixels.data(), 300, 200);
    EXPECT_EQ(pixels[299], 0xFFE6E6E6);
    EXPECT_EQ(pixels[static_cast<size_t>(pull.top + 1) * 300 + static_cast<size_t>(pull.right - 3)],
              0xFFF8F8F8);
    EXPECT_EQ(pixels[199u * 300u + 299u], 0xFF123456);
    SelectOsTextLayer(FOsTextLayerKind::kSystemFonts);
}

} // namespace
