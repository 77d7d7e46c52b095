#include <gtest/gtest.h>

#include <string>

#include "ControlsTestSupport.h"
#include "FGenericUiApp.h"
#include "FHeadlessDesktop.h"
#include "FProbeObject.h"
#include "FUiButton.h"
#include "FUiWidgets.h"
#include "FUiWindowClass.h"
#include "WidgetTestSupport.h"

namespace
{

const char* const kEvents =
    R"(<ON_PRESS Relay="Probe" Message="Press"/><ON_DOWN Relay="Probe" Message="Down"/>
    <ON_UP Relay="Probe" Message="Up"/><ON_ENABLED_STATE Relay="Probe" Message="Enabled"/>)";

std::unique_ptr<FUiTestApp> ButtonRun(const std::string& attributes, const std::string& children = "",
                                      const std::vector<FTestSkin>& skins = {})
{
    return ControlsRun(R"(<HBOX><BUTTON Name="B" MinHSize="40" MinVSize="20" ColorN="#102030" ColorO="#203040"
        ColorP="#304050" ColorD="#405060" )" +
                           attributes + ">" + kEvents + children + "</BUTTON></HBOX>",
                       skins);
}

FProbeObject* Probe()
{
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    probe->SetDataKind("Enabled", EProbeData::kBool);
    return probe;
}

TEST(ButtonTest, ClickReleaseOutsideAndSlidingOffAndOn)
{
    auto run = ButtonRun("");
    ASSERT_TRUE(run->GetInitResult());
    FUiButton* button = FindControl<FUiButton>(*run, "W.B");
    ASSERT_NE(button, nullptr);
    FProbeObject* probe = Probe();
    EXPECT_EQ(RectText(button->GetRect()), "0,0,40,20");
    probe->Clear();

    Press(*run, 10, 10);
    EXPECT_EQ(button->GetState(), FUiButton::kPressed);
    Release(*run, 10, 10);
    EXPECT_EQ(TakeProbeMessages(probe), "Down,Press,Up");
    EXPECT_EQ(button->GetState(), FUiButton::kOver);

    Press(*run, 10, 10);
    Release(*run, 100, 50);
    EXPECT_EQ(TakeProbeMessages(probe), "Down,Up");
    EXPECT_EQ(button->GetState(), FUiButton::kNormal);

    Press(*run, 10, 10);
    MoveTo(*run, 100, 50);
    EXPECT_EQ(button->GetState(), FUiButton::kOver); // held outside
    MoveTo(*run, 12, 12);
    EXPECT_EQ(button->GetState(), FUiButton::kPressed);
    Release(*run, 12, 12);
    EXPECT_EQ(TakeProbeMessages(probe), "Down,Up,Down,Press,Up");
}

TEST(ButtonTest, StatesDrawTheirColours)
{
    auto run = ButtonRun("");
    ASSERT_TRUE(run->GetInitResult());
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "16,32,48,255");
    MoveTo(*run, 5, 5);
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "32,48,64,255");
    Press(*run, 5, 5);
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "48,64,80,255");
    Release(*run, 5, 5);
    FindControl<FUiButton>(*run, "W.B")->UiRelayMessage(FWideString("Disable"), nullptr);
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "64,80,96,255");
    EXPECT_EQ(PresentedPixel(*run, 45, 5), "255,255,255,255");
}

TEST(ButtonTest, DisabledIgnoresInputAndEnablingReportsOnce)
{
    auto run = ButtonRun(R"(_Disabled="true")");
    ASSERT_TRUE(run->GetInitResult());
    FUiButton* button = FindControl<FUiButton>(*run, "W.B");
    FProbeObject* probe = Probe();
    // "Post Creation Initialization" reported the starting state.
    EXPECT_EQ(TakeProbeMessages(probe), "Enabled");
    Press(*run, 10, 10);
    Release(*run, 10, 10);
    ControlsOs(*run)->InjectKey(13);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(TakeProbeMessages(probe), "");
    EXPECT_EQ(button->GetState(), FUiButton::kDisabled);

    EXPECT_TRUE(button->UiRelayMessage(FWideString("Enable"), nullptr));
    EXPECT_TRUE(button->UiRelayMessage(FWideString("Enable"), nullptr));
    EXPECT_EQ(TakeProbeMessages(probe), "Enabled=true");
    bool off = false;
    EXPECT_FALSE(button->UiRelayMessage(FWideString("SetEnabled"), nullptr));
    EXPECT_TRUE(button->UiRelayMessage(FWideString("SetEnabled"), &off));
    EXPECT_TRUE(button->UiRelayMessage(FWideString("ToggleEnabled"), nullptr));
    EXPECT_EQ(TakeProbeMessages(probe), "Enabled=false,Enabled=true");
    EXPECT_FALSE(button->UiRelayMessage(FWideString("enable"), nullptr));
}

TEST(ButtonTest, DisablingWhileHeldDoesNotLeaveTheButtonStuck)
{
    auto run = ButtonRun("");
    ASSERT_TRUE(run->GetInitResult());
    FUiButton* button = FindControl<FUiButton>(*run, "W.B");
    FProbeObject* probe = Probe();
    Press(*run, 10, 10);
    button->UiRelayMessage(FWideString("Disable"), nullptr);
    Release(*run, 10, 10);
    button->UiRelayMessage(FWideString("Enable"), nullptr);
    probe->Clear();
    Press(*run, 10, 10);
    Release(*run, 10, 10);
    EXPECT_EQ(TakeProbeMessages(probe), "Down,Press,Up");
}

TEST(ButtonTest, ClickKeysGiveTheKeyboardBackAndPress)
{
    auto run = ButtonRun("");
    ASSERT_TRUE(run->GetInitResult());
    FUiButton* button = FindControl<FUiButton>(*run, "W.B");
    FGenericUiWindow* window = ControlsWindow(*run);
    FProbeObject* probe = Probe();
    for (uint16_t code : {uint16_t(13), uint16_t(32), uint16_t(3)}) {
        probe->Clear();
        EXPECT_TRUE(button->UiRelayMessage(FWideString("GrabKeyboard"), nullptr));
        EXPECT_EQ(window->GetKeyboardObject(), button);
        ControlsOs(*run)->InjectKey(code);
        HeadlessPumpUntilIdle();
        EXPECT_EQ(TakeProbeMessages(probe), "Press") << code;
        EXPECT_EQ(window->GetKeyboardObject(), nullptr) << code;
    }
    button->UiRelayMessage(FWideString("GrabKeyboard"), nullptr);
    ControlsOs(*run)->InjectKey(65);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(TakeProbeMessages(probe), "");
    EXPECT_EQ(window->GetKeyboardObject(), button);
}

TEST(ButtonTest, RepeatStartsOnTheTickAfterTheDelayThenFiresEveryTick)
{
    auto run = ButtonRun(R"(Repeat="true")");
    ASSERT_TRUE(run->GetInitResult());
    FProbeObject* probe = Probe();
    HeadlessAdvanceTime(10);
    probe->Clear();
    Press(*run, 10, 10);
    probe->Clear();
    // Held 210 ms after 21 ticks of 10 ms: the repeat is armed, nothing fired yet.
    for (int i = 0; i < 21; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_EQ(TakeProbeMessages(probe), "");
    HeadlessAdvanceTime(10);
    EXPECT_EQ(TakeProbeMessages(probe), "Press");
    for (int i = 0; i < 3; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_EQ(TakeProbeMessages(probe), "Press,Press,Press");
    // Off the button the repeat pauses, back on it resumes.
    MoveTo(*run, 100, 50);
    probe->Clear();
    for (int i = 0; i < 5; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_EQ(TakeProbeMessages(probe), "");
    MoveTo(*run, 10, 10);
    probe->Clear();
    HeadlessAdvanceTime(10);
    EXPECT_EQ(TakeProbeMessages(probe), "Press");
    Release(*run, 10, 10);
    EXPECT_EQ(TakeProbeMessages(probe), "Press,Up");
    for (int i = 0; i < 30; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_EQ(TakeProbeMessages(probe), "");
}

const FUiColor kSkinColour(200, 100, 50, 255);
const FUiColor kClear(0, 0, 0, 0);

std::vector<FTestSkin> ButtonSkins()
{
    return {
        {"b_normal.png", 16, 16, kSkinColour, kClear},
        {"b_pressed.png", 16, 16, FUiColor(50, 100, 200, 255), kClear},
        {"b_small.png", 8, 8, kSkinColour, kClear},
    };
}

TEST(ButtonTest, SkinWithoutContentTakesTheImageSizeAndHitsByAlpha)
{
    auto run = ButtonRun(R"(HStretch="5")",
                         R"(<BGIMAGES ScalingRect="4,4,11,11" LabelRect="4,4,11,11" File_Normal="b_normal.png"
                             File_Pressed="b_pressed.png"/>)",
                         ButtonSkins());
    ASSERT_TRUE(run->GetInitResult());
    FUiButton* button = FindControl<FUiButton>(*run, "W.B");
    ASSERT_TRUE(button->HasSkin());
    EXPECT_EQ(RectText(button->GetRect()), "0,0,16,16");
    EXPECT_TRUE(button->GetLayoutObject(true)->m_bFixed);
    EXPECT_EQ(button->GetLayoutObject(true)->GetStretch(), 0);
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "200,100,50,255");
    // The transparent corner of the drawn picture is not part of the button.
    EXPECT_EQ(button->HitTest(0, 0), nullptr);
    EXPECT_EQ(button->HitTest(5, 5), button);
    Press(*run, 5, 5);
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "50,100,200,255");
    Release(*run, 5, 5);
}

TEST(ButtonTest, BadSkinsFallBackToTheColours)
{
    const char* const kBad[] = {
        // no LabelRect
        R"(<BGIMAGES ScalingRect="4,4,11,11" File_Normal="b_normal.png" File_Pressed="b_pressed.png"/>)",
        // no pressed image
        R"(<BGIMAGES ScalingRect="4,4,11,11" LabelRect="4,4,11,11" File_Normal="b_normal.png"/>)",
        // an image that does not load
        R"(<BGIMAGES _NoLabel="true" File_Normal="b_normal.png" File_Pressed="missing.png"/>)",
        // images of different sizes
        R"(<BGIMAGES _NoLabel="true" File_Normal="b_normal.png" File_Pressed="b_small.png"/>)",
        // a label area larger than the image
        R"(<BGIMAGES ScalingRect="4,4,11,11" LabelRect="0,0,16,3" File_Normal="b_normal.png"
            File_Pressed="b_pressed.png"/>)",
    };
    for (const char* skin : kBad) {
        auto run = ButtonRun("", skin, ButtonSkins());
        ASSERT_TRUE(run->GetInitResult()) << skin;
        FUiButton* button = FindControl<FUiButton>(*run, "W.B");
        ASSERT_NE(button, nullptr) << skin;
        EXPECT_FALSE(button->HasSkin()) << skin;
        EXPECT_EQ(RectText(button->GetRect()), "0,0,40,20") << skin;
        EXPECT_EQ(PresentedPixel(*run, 30, 15), "16,32,48,255") << skin;
    }
}

TEST(ButtonTest, LabelBoxSitsInTheLabelAreaAndShiftsWhilePressed)
{
    auto run = ButtonRun(R"(PressedLabelX="3" PressedLabelY="2")",
                         R"(<BGIMAGES ScalingRect="4,4,11,11" LabelRect="4,4,11,11" File_Normal="b_normal.png"
                             File_Pressed="b_pressed.png"/>
                           <HBOX><RECT Name="L" MinHSize="30" MinVSize="10" HStretch="0" VStretch="0"
                             Color="#00FF00"/></HBOX>)",
                         ButtonSkins());
    ASSERT_TRUE(run->GetInitResult());
    FUiButton* button = FindControl<FUiButton>(*run, "W.B");
    ASSERT_TRUE(button->HasSkin());
    // The content's minimum plus the skin around the label area: 30 + 16 - 8 by 10 + 16 - 8.
    EXPECT_EQ(button->GetLayoutObject(true)->GetMinSize(), 40); // MinHSize is larger
    EXPECT_EQ(button->GetLayoutObject(false)->GetMinSize(), 20);
    EXPECT_TRUE(button->SetRect(10, 5, 50, 30));
    FIUiObject* leaf = FindWidget(*run, "W.B.L");
    ASSERT_NE(leaf, nullptr);
    // It does not stretch: the label area gets the content's share of the minimum only.
    EXPECT_EQ(RectText(button->GetRect()), "10,5,50,25");
    EXPECT_EQ(leaf->GetRect().left, 14);
    EXPECT_EQ(leaf->GetRect().top, 9);
    EXPECT_TRUE(button->SetRect(0, 0, 40, 20));
    ControlsWindow(*run)->Invalidate(nullptr);
    EXPECT_EQ(PresentedPixel(*run, 4, 4), "0,255,0,255");
    EXPECT_EQ(PresentedPixel(*run, 36, 15), "200,100,50,255");
    Press(*run, 2, 2);
    ControlsWindow(*run)->Invalidate(nullptr);
    EXPECT_EQ(PresentedPixel(*run, 4, 4), "50,100,200,255");
    EXPECT_EQ(PresentedPixel(*run, 36, 15), "0,255,0,255");
    Release(*run, 2, 2);
}

TEST(ButtonTest, ShowAndHide)
{
    auto run = ButtonRun(R"(Hidden="true")");
    ASSERT_TRUE(run->GetInitResult());
    FUiButton* button = FindControl<FUiButton>(*run, "W.B");
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "255,255,255,255");
    EXPECT_TRUE(button->UiRelayMessage(FWideString("Show"), nullptr));
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "16,32,48,255");
    EXPECT_EQ(button->HitTest(5, 5), button);
    EXPECT_TRUE(button->UiRelayMessage(FWideString("Hide"), nullptr));
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "255,255,255,255");
    EXPECT_EQ(button->HitTest(5, 5), nullptr);
}

TEST(ButtonTest, ContentBoxSizesTheButtonWhichKeepsItsMinimumUnlessItStretches)
{
    for (bool stretch : {false, true}) {
        auto run = ControlsRun(std::string(R"(<BUTTON Name="B" ColorN="#102030" )") +
                               (stretch ? R"(HStretch="1" VStretch="1")" : "") +
                               R"(><HBOX><RECT MinHSize="30" MinVSize="12" HStretch="1" VStretch="1"
                                  Color="#00FF00"/></HBOX></BUTTON>)");
        ASSERT_TRUE(run->GetInitResult());
        FUiButton* button = FindControl<FUiButton>(*run, "W.B");
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->GetLayoutObject(true)->GetMinSize(), 30);
        EXPECT_EQ(button->GetLayoutObject(false)->GetMinSize(), 12);
        // The window offers its whole client area.
        EXPECT_EQ(RectText(button->GetRect()), stretch ? "0,0,200,100" : "0,0,30,12") << stretch;
    }
}

// The button's own press closes the dialog it sits in; the button carries on
// with its release (state, ON_UP) on a window whose deletion waits.
TEST(ButtonTest, PressThatClosesItsDialogIsSafe)
{
    auto run = MakeWidgetRun(WidgetScript(R"(<PROBE Name="Probe"/><WINDOW Name="Main"/>
        <WINDOWCLASS Name="Dialog" _Modal="true" BgColor="#FFFFFF" DX="100" DY="60">
          <HBOX><BUTTON Name="Close" MinHSize="40" MinVSize="20"><ON_PRESS LocalRelay="" Message="InternalClose"/>
            <ON_UP Relay="Probe" Message="Up"/></BUTTON></HBOX>
        </WINDOWCLASS>)"),
                             {RegisterUiWidgets});
    ASSERT_TRUE(run->GetInitResult());
    FGenericUiApp* app = run->GetApp();
    FWideString dialogName("Dialog");
    app->UiRelayMessage(FWideString("ShowTopOrCreateWindow"), &dialogName);
    FUiWindowClass* dialog = app->FindWindowClass(dialogName);
    auto* instance = dynamic_cast<FGenericUiWindow*>(dialog->GetTopInstance());
    ASSERT_NE(instance, nullptr);
    auto* os = dynamic_cast<FHeadlessUiWindow*>(instance->GetOsWindow());
    FProbeObject* probe = Probe();
    probe->Clear();
    os->InjectMouseMove(10, 10);
    os->InjectMouseDown(10, 10);
    os->InjectMouseUp(10, 10);
    HeadlessPumpUntilIdle();
    EXPECT_EQ(dialog->GetTopInstance(), nullptr);
    EXPECT_EQ(TakeProbeMessages(probe), "Up");
}

} // namespace
