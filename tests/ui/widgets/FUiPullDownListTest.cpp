#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiObjectFactory.h"
#include "FUiPullDownList.h"
#include "FUiWidgets.h"
#include "ListTestSupport.h"
#include "WidgetTestSupport.h"

namespace
{

std::string PullDownScript(const std::string& button = "button_normal.png", const std::string& extra = "")
{
    return WidgetScript(R"(<PROBE Name="Probe"/>
  <WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="150"><VBOX>
    <PULLDOWN Name="P" MinHSize="60" HStretch="1" File_Normal=")" +
                        button + R"(" File_MouseOver=")" + button + R"(" File_Pressed=")" + button +
                        R"(" File_Disabled=")" + button + R"(" File_Frame="frame.png" FrameRect="3,3,36,16"
        Font="DejaVu Sans" FontSize="12" _DisplayText="Start" _IDText="s0" )" +
                        extra + R"(>
      <VBOX><LEAF Name="x" MinHSize="80" MinVSize="50"/></VBOX>
      <ON_SELECT Relay="Probe" Message="Sel"/>
      <ON_SELECT_ID Relay="Probe" Message="Id"/>
      <ON_SEND_ID Relay="Probe" Message="Send"/>
    </PULLDOWN>
    <LEAF Name="Below" MinHSize="10" MinVSize="10"/></VBOX></WINDOW>)");
}

struct PullRun {
    std::unique_ptr<FUiTestApp> run;
    FUiPullDownList* pull = nullptr;
    FProbeObject* probe = nullptr;

    // With `state`, the state file holds these bytes before the script is read.
    explicit PullRun(const std::string& script, const std::string& state = "")
    {
        UseBoxFont();
        run = std::make_unique<FUiTestApp>(script, false);
        FIUiObjectFactory* factory = run->GetApp()->GetUiObjectFactory();
        RegisterTestLeaf(factory);
        RegisterUiHVBox(factory);
        RegisterUiPullDownList(factory);
        if (!state.empty())
            run->WriteAppDataFile("TestApp.state.xml", state);
        if (run->Init())
            HeadlessPumpUntilIdle();
        pull = dynamic_cast<FUiPullDownList*>(FindWidget(*run, "W.P"));
        probe = FProbeObject::FindLive("Probe");
        if (probe) {
            for (const FProbeRecord& record : probe->GetRecords())
                if (record.message != "Post Creation Initialization")
                    startMessages += (startMessages.empty() ? "" : ",") + record.message;
            for (const char* message : {"Sel", "Id", "Send"})
                probe->SetDataKind(message, EProbeData::kString);
        }
    }

    std::string startMessages;

    std::string Events() const
    {
        std::string text;
        for (const FProbeRecord& record : probe->GetRecords())
            text += record.message + "=" + record.data + ";";
        return text;
    }

    void Send(const char* message, FWideString a = FWideString(), FWideString b = FWideString())
    {
        FWideString pair[2] = {a, b};
        pull->UiRelayMessage(FWideString(message), pair);
    }

    FGenericUiWindow* Window() const { return FindWidgetWindow(*run, "W"); }

    void Click()
    {
        const FRect r = pull->GetRect();
        pull->MouseDown(r.left + 2, r.top + 2, false, false);
        pull->MouseUp(r.left + 2, r.top + 2, false, false);
    }
};

TEST(PullDownTest, StartStateAndPersistence)
{
    std::string state;
    {
        PullRun first(PullDownScript());
        ASSERT_NE(first.pull, nullptr);
        EXPECT_EQ(first.pull->GetDisplayText(), "Start");
        EXPECT_EQ(first.startMessages, "Sel,Id");     // once each at start, with nothing stored
        first.Send("InitPulldown", u"Chosen", u"c1"); // nothing stored: the script's values hold
        EXPECT_EQ(first.pull->GetDisplayText(), "Chosen");
        EXPECT_EQ(first.pull->GetIdentifier(), "c1");
        first.probe->Clear();
        first.Send("SetText", u"Picked");
        first.Send("SetID", u"p1");
        first.Send("SendID");
        EXPECT_EQ(first.Events(), "Sel=Picked;Id=p1;Send=p1;");
        FWideString text;
        first.pull->UiRelayMessage(FWideString("GetText"), &text);
        EXPECT_EQ(text, "Picked");
        first.run->Finish();
        std::unique_ptr<FPropList> tree = first.run->ReadStateFile();
        ASSERT_NE(tree, nullptr);
        std::string saved;
        for (FPropList* entry = tree->GetFirstChild(); entry; entry = entry->GetNext())
            if (entry->GetString("Name", FWideString()) == "TestApp.W.P")
                saved = std::string(entry->GetString("DisplayText", FWideString()).GetNarrow()) + "|" +
                        entry->GetString("IDText", FWideString()).GetNarrow();
        EXPECT_EQ(saved, "Picked|p1");
        FILE* file = std::fopen((first.run->GetAppDataPath() + "/TestApp.state.xml").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            state.append(buffer, n);
        std::fclose(file);
    }
    ASSERT_FALSE(state.empty());

    PullRun second(PullDownScript(), state);
    ASSERT_NE(second.pull, nullptr);
    EXPECT_EQ(second.pull->GetDisplayText(), "Picked");
    EXPECT_EQ(second.pull->GetIdentifier(), "p1");
    EXPECT_EQ(second.startMessages, "Sel,Id");
    second.probe->Clear();
    second.Send("InitPulldown", u"x", u"y"); // restored: the script's start values change nothing
    second.Send("InitText", u"z");
    second.Send("InitID", u"w");
    EXPECT_EQ(second.pull->GetDisplayText(), "Picked");
    EXPECT_EQ(second.pull->GetIdentifier(), "p1");
    EXPECT_EQ(second.Events(), "");
}

// The state file of a run that chose `text` and `id`.
std::string StateAfterChoosing(const char16_t* text, const char16_t* id)
{
    PullRun first(PullDownScript());
    if (!first.pull)
        return std::string();
    first.Send("SetText", text);
    first.Send("SetID", id);
    first.run->Finish();
    std::string state;
    if (FILE* file = std::fopen((first.run->GetAppDataPath() + "/TestApp.state.xml").c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            state.append(buffer, n);
        std::fclose(file);
    }
    return state;
}

TEST(PullDownTest, StoredDefaultTextComesBackInTheCurrentLanguage)
{
    const std::string state = StateAfterChoosing(u"Hauptfenster", u"d"); // the default's German text
    ASSERT_FALSE(state.empty());
    PullRun p(PullDownScript(), state);
    ASSERT_NE(p.pull, nullptr);
    p.Send("SetDefaultString", u"Title");
    p.pull->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    EXPECT_EQ(p.pull->GetDisplayText(), "Main");
    EXPECT_EQ(p.pull->GetIdentifier(), "d");
    p.run->GetApp()->SetLanguage(FWideString("German"));
    EXPECT_EQ(p.pull->GetDisplayText(), "Hauptfenster");
}

TEST(PullDownTest, OpensClosesAndRecoversFromOutsideClose)
{
    PullRun p(PullDownScript());
    ASSERT_NE(p.pull, nullptr);
    FGenericUiWindow* window = p.Window();
    ASSERT_NE(window, nullptr);
    const FRect r = p.pull->GetRect();
    EXPECT_EQ(r.Height(), p.pull->GetClosedHeight());
    EXPECT_EQ(RectText(p.pull->GetBox()->GetRect()), std::to_string(r.left) + "," + std::to_string(r.bottom) +
                                                         "," + std::to_string(r.right) + "," +
                                                         std::to_string(r.bottom + 50));
    p.Click();
    EXPECT_TRUE(p.pull->IsOpen());
    EXPECT_EQ(window->GetPopupObject(), p.pull->GetBox());
    EXPECT_EQ(p.pull->GetButtonState(), 1);

    // A press while open closes the box; the release shows mouse-over without reopening.
    p.Click();
    EXPECT_FALSE(p.pull->IsOpen());
    EXPECT_EQ(window->GetPopupObject(), nullptr);
    EXPECT_EQ(p.pull->GetButtonState(), 1);

    // The window closing the box by itself must not cost the next click.
    p.Click();
    ASSERT_TRUE(p.pull->IsOpen());
    window->SetPopupObject(p.pull->GetBox(), false);
    p.Click();
    EXPECT_TRUE(p.pull->IsOpen());
    EXPECT_EQ(window->GetPopupObject(), p.pull->GetBox());
    EXPECT_TRUE(p.pull->UiRelayMessage(FWideString("RollUp"), nullptr));
    EXPECT_FALSE(p.pull->IsOpen());
    EXPECT_EQ(window->GetPopupObject(), nullptr);

    // Released elsewhere: normal state, nothing opened.
    p.pull->MouseDown(r.left + 1, r.top + 1, false, false);
    EXPECT_EQ(p.pull->GetButtonState(), 2);
    p.pull->MouseUp(r.left - 50, r.top - 50, false, false);
    EXPECT_EQ(p.pull->GetButtonState(), 0);
    EXPECT_FALSE(p.pull->IsOpen());

    // The box's objects are reached through the pull-down's name.
    EXPECT_NE(FindWidget(*p.run, "W.P.x"), nullptr);
    EXPECT_EQ(FindWidget(*p.run, "W.P."), nullptr);
}

// The open box covers what lies beneath it with the window's background.
TEST(PullDownTest, TheOpenBoxHidesTheControlsBeneath)
{
    UseBoxFont();
    FUiTestApp run(WidgetScript(R"(<WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="150"><VBOX>
    <PULLDOWN Name="P" MinHSize="60" HStretch="1" File_Normal="button_normal.png" File_MouseOver="button_normal.png"
        File_Pressed="button_normal.png" File_Disabled="button_normal.png" File_Frame="frame.png" FrameRect="3,3,36,16"
        Font="DejaVu Sans" FontSize="12" _DisplayText="Start">
      <VBOX><LEAF Name="x" MinHSize="80" MinVSize="50"/></VBOX>
    </PULLDOWN>
    <RECT Name="Under" Color="#FF0000" MinHSize="100" MinVSize="80" HStretch="100" VStretch="100"/></VBOX></WINDOW>)"),
                   false);
    FIUiObjectFactory* factory = run.GetApp()->GetUiObjectFactory();
    RegisterTestLeaf(factory);
    RegisterUiHVBox(factory);
    RegisterUiRect(factory);
    RegisterUiPullDownList(factory);
    ASSERT_TRUE(run.Init());
    HeadlessPumpUntilIdle();
    auto* pull = dynamic_cast<FUiPullDownList*>(FindWidget(run, "W.P"));
    FGenericUiWindow* window = FindWidgetWindow(run, "W");
    ASSERT_TRUE(pull && window);
    const FRect box = pull->GetBox()->GetRect();
    const int x = box.left + 5, y = box.bottom - 5;
    window->UpdateIfInvalid();
    FUiColor under;
    window->GetWindowPixmap()->GetPixel(x, y, under);
    ASSERT_EQ(under.red, 255);
    ASSERT_EQ(under.green, 0) << "the rectangle lies under the box";
    const FRect r = pull->GetRect();
    pull->MouseDown(r.left + 2, r.top + 2, false, false);
    pull->MouseUp(r.left + 2, r.top + 2, false, false);
    ASSERT_TRUE(pull->IsOpen());
    window->UpdateIfInvalid();
    FUiColor shown;
    window->GetWindowPixmap()->GetPixel(x, y, shown);
    EXPECT_EQ(shown.green, 255) << "the rectangle shows through the open box";
}

TEST(PullDownTest, ButtonScaledUpNeverDownAndDisabledLook)
{
    PullRun small(PullDownScript());
    ASSERT_NE(small.pull, nullptr);
    const int closed = small.pull->GetClosedHeight();
    ASSERT_GT(closed, 16);
    EXPECT_EQ(small.pull->GetButtonRect().Height(), closed);
    EXPECT_EQ(small.pull->GetButtonRect().Width(), 16 * closed / 16);

    PullRun big(PullDownScript("window_skin.png"));
    ASSERT_NE(big.pull, nullptr);
    EXPECT_EQ(big.pull->GetClosedHeight(), 48);
    EXPECT_EQ(big.pull->GetButtonRect().Width(), 64);

    FIUiPixmap* target = CreateUiPixmap(300, 200, true);
    const FRect frame = small.pull->GetFrameRect();
    const int x = frame.left + 1;
    const int y = frame.bottom - 2;
    small.pull->Display(target, 0, 0, FRect(0, 0, 300, 200));
    FUiColor normal;
    target->GetPixel(x, y, normal);
    small.pull->UiRelayMessage(FWideString("Disable"), nullptr);
    EXPECT_EQ(small.pull->GetButtonState(), 3);
    small.pull->Display(target, 0, 0, FRect(0, 0, 300, 200));
    FUiColor dark;
    target->GetPixel(x, y, dark);
    EXPECT_LT(dark.blue, normal.blue);
    EXPECT_NEAR(dark.blue, normal.blue * 167 / 255, 1); // black at alpha 88 over the frame
    ReleaseUiPixmap(target);
    small.Click(); // ignored while disabled
    EXPECT_FALSE(small.pull->IsOpen());
    bool enable = true;
    small.pull->UiRelayMessage(FWideString("SetEnabled"), &enable);
    EXPECT_EQ(small.pull->GetButtonState(), 0);
    small.pull->UiRelayMessage(FWideString("ToggleEnabled"), nullptr);
    EXPECT_EQ(small.pull->GetButtonState(), 3);
}

TEST(PullDownTest, DisplayStringsFollowTheLanguage)
{
    PullRun p(PullDownScript());
    ASSERT_NE(p.pull, nullptr);
    p.probe->Clear();
    p.Send("SetDefaultString", u"Title");
    EXPECT_EQ(p.pull->GetDisplayText(), "Main");
    p.run->GetApp()->SetLanguage(FWideString("German"));
    EXPECT_EQ(p.pull->GetDisplayText(), "Hauptfenster");
    FWideString text;
    p.pull->UiRelayMessage(FWideString("GetText"), &text);
    EXPECT_EQ(text, "Hauptfenster");
    p.Send("SetTextString", u"NoSuchString"); // unknown names change nothing
    EXPECT_EQ(p.pull->GetDisplayText(), "Hauptfenster");
    p.Send("SetText", u"Ok"); // a display string's name shows its text
    EXPECT_EQ(p.pull->GetDisplayText(), "OK");
    p.Send("SetText", u"odd \"#%\n\xff text");
    EXPECT_EQ(p.pull->GetDisplayText(), u"odd \"#%\n\xff text");
    FIUiPixmap* target = CreateUiPixmap(300, 200, true);
    p.pull->Display(target, 0, 0, FRect(0, 0, 300, 200));
    ReleaseUiPixmap(target);
    EXPECT_FALSE(p.pull->UiRelayMessage(FWideString("SetText"), nullptr));
    EXPECT_FALSE(p.pull->UiRelayMessage(FWideString("Nonsense"), nullptr));
}

TEST(PullDownTest, StartFromADisplayStringThenNotifyTheDefault)
{
    PullRun p(PullDownScript());
    ASSERT_NE(p.pull, nullptr);
    p.probe->Clear();
    // Nothing restored: the display string's text shows and the identifier is taken.
    p.Send("InitPulldownString", u"Title", u"t1");
    FWideString text;
    p.pull->UiRelayMessage(FWideString("GetText"), &text);
    EXPECT_EQ(text, "Main");
    FWideString id;
    EXPECT_TRUE(p.pull->UiRelayMessage(FWideString("GetID"), &id));
    EXPECT_EQ(id, "t1");
    EXPECT_FALSE(p.pull->UiRelayMessage(FWideString("GetID"), nullptr));
    EXPECT_EQ(p.Events(), "") << "starting values fire nothing";
    // The default named is the string shown: it is shown as the default and selected.
    p.Send("NotifyDefaultString", u"Title");
    EXPECT_EQ(p.Events(), "Sel=Main;");
    EXPECT_EQ(p.pull->GetDisplayText(), "Main");
    // Another default is only remembered while something else shows.
    p.Send("SetText", u"Picked");
    p.probe->Clear();
    p.Send("NotifyDefaultString", u"Ok");
    p.Send("NotifyDefaultString", u"NoSuchString");
    EXPECT_EQ(p.pull->GetDisplayText(), "Picked");
    EXPECT_EQ(p.Events(), "");
    EXPECT_FALSE(p.pull->UiRelayMessage(FWideString("NotifyDefaultString"), nullptr));
    // A name the application does not know shows as it is.
    p.Send("InitPulldownString", u"Plain words", u"t2");
    EXPECT_EQ(p.pull->GetDisplayText(), "Plain words");
    p.pull->UiRelayMessage(FWideString("GetID"), &id);
    EXPECT_EQ(id, "t2");
}

TEST(PullDownTest, BadSkinsOrNoBoxFail)
{
    std::string script = PullDownScript();
    script.replace(script.find(R"(FrameRect="3,3,36,16")"), 21, R"(FrameRect="3,3,40,16")");
    PullRun outside(script);
    EXPECT_EQ(outside.pull, nullptr);
    script = PullDownScript();
    script.replace(script.find(R"(<VBOX><LEAF Name="x" MinHSize="80" MinVSize="50"/></VBOX>)"), 57, "");
    PullRun noBox(script);
    EXPECT_EQ(noBox.pull, nullptr);
    script = PullDownScript();
    script.replace(script.find(R"(File_Disabled="button_normal.png")"), 33,
                   R"(File_Disabled="window_skin.png")");
    PullRun unequal(script);
    EXPECT_EQ(unequal.pull, nullptr);
}

} // namespace
