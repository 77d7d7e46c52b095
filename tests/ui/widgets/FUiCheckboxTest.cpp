#include <gtest/gtest.h>

#include <string>

#include "ControlsTestSupport.h"
#include "FProbeObject.h"
#include "FUiCheckbox.h"
#include "FUiToggle.h"
#include "WidgetTestSupport.h"

namespace
{

const FUiColor kOn(200, 0, 0, 255);
const FUiColor kOff(0, 200, 0, 255);
const FUiColor kOver(0, 0, 200, 255);
const FUiColor kDisabled(90, 90, 90, 255);
const FUiColor kClear(0, 0, 0, 0);

std::vector<FTestSkin> TwoStateSkins()
{
    return {
        {"on.png", 16, 16, kOn, kOn},
        {"off.png", 16, 16, kOff, kOff},
        {"over.png", 16, 16, kOver, kOver},
        {"disabled.png", 16, 16, kDisabled, kDisabled},
        {"wide.png", 20, 16, kOn, kOn},
        // Opaque but for a transparent first pixel.
        {"tab_on.png", 30, 12, kOn, kClear},
        {"tab_off.png", 30, 12, kOff, kClear},
    };
}

const char* const kCheckEvents =
    R"(<ON_TRUE Relay="Probe" Message="True"/><ON_FALSE Relay="Probe" Message="False"/>
    <ON_STATE Relay="Probe" Message="State"/><ON_SEND_STATE Relay="Probe" Message="Sent"/>
    <ON_INIT Relay="Probe" Message="Init"/>)";

std::unique_ptr<FUiTestApp> CheckRun(const std::string& type, const std::string& attributes)
{
    return ControlsRun("<HBOX><" + type + R"( Name="C" File_On="on.png" File_Off="off.png" )" + attributes +
                           ">" + kCheckEvents + "</" + type + "></HBOX>",
                       TwoStateSkins());
}

FProbeObject* Probe()
{
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    probe->SetDataKind("State", EProbeData::kBool);
    probe->SetDataKind("Sent", EProbeData::kBool);
    return probe;
}

bool Send(FIUiObject* object, const char* message, void* data = nullptr)
{
    return object->UiRelayMessage(FWideString(message), data);
}

TEST(CheckboxTest, CheckBoxFlipsAndFiresItsEvents)
{
    auto run = CheckRun("CHECKBOX", "");
    ASSERT_TRUE(run->GetInitResult());
    FUiCheckbox* box = FindControl<FUiCheckbox>(*run, "W.C");
    ASSERT_NE(box, nullptr);
    FProbeObject* probe = Probe();
    EXPECT_EQ(TakeProbeMessages(probe), "Init");
    // Without "_MinHSize" and stretch the control has the on image's size.
    EXPECT_EQ(RectText(box->GetRect()), "0,0,16,16");
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kOff));
    Press(*run, 5, 5);
    Release(*run, 5, 5);
    EXPECT_EQ(TakeProbeMessages(probe), "True,State=true");
    MoveTo(*run, 100, 50);
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kOn));
    Press(*run, 5, 5);
    EXPECT_EQ(TakeProbeMessages(probe), "False,State=false");
    EXPECT_TRUE(Send(box, "Press"));
    EXPECT_EQ(TakeProbeMessages(probe), "True,State=true");
    EXPECT_TRUE(box->GetState());
}

TEST(CheckboxTest, SettersAreSilent)
{
    auto run = CheckRun("CHECKBOX", R"(_InitialState="true")");
    ASSERT_TRUE(run->GetInitResult());
    FUiCheckbox* box = FindControl<FUiCheckbox>(*run, "W.C");
    FProbeObject* probe = Probe();
    probe->Clear();
    EXPECT_TRUE(box->GetState());
    EXPECT_TRUE(Send(box, "Deselect"));
    EXPECT_FALSE(box->GetState());
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kOff));
    EXPECT_TRUE(Send(box, "SetTrue"));
    EXPECT_TRUE(box->GetState());
    bool value = false;
    EXPECT_TRUE(Send(box, "SetState", &value));
    EXPECT_FALSE(box->GetState());
    EXPECT_FALSE(Send(box, "SetState"));
    EXPECT_TRUE(Send(box, "Select"));
    EXPECT_TRUE(Send(box, "SetFalse"));
    EXPECT_EQ(TakeProbeMessages(probe), "");
    EXPECT_FALSE(Send(box, "Toggle"));
}

TEST(CheckboxTest, RadioButtonStaysOnAndRepeatsTrueOnlyWhenAsked)
{
    for (bool always : {false, true}) {
        auto run = CheckRun("RADIO_BUTTON", always ? R"(_AlwaysSendTrueWhenClicked="true")" : "");
        ASSERT_TRUE(run->GetInitResult());
        FUiCheckbox* radio = FindControl<FUiCheckbox>(*run, "W.C");
        FProbeObject* probe = Probe();
        probe->Clear();
        Press(*run, 5, 5);
        Release(*run, 5, 5);
        EXPECT_EQ(TakeProbeMessages(probe), "True,State=true");
        Press(*run, 5, 5);
        Release(*run, 5, 5);
        EXPECT_EQ(TakeProbeMessages(probe), always ? "True" : "") << always;
        EXPECT_TRUE(radio->GetState());
        // "Press" never repeats the ON_TRUE.
        EXPECT_TRUE(Send(radio, "Press"));
        EXPECT_EQ(TakeProbeMessages(probe), "");
        // A sibling's ON_TRUE turns it off silently; a click turns it on again.
        EXPECT_TRUE(Send(radio, "Deselect"));
        EXPECT_EQ(TakeProbeMessages(probe), "");
        Press(*run, 5, 5);
        EXPECT_EQ(TakeProbeMessages(probe), "True,State=true");
    }
}

TEST(CheckboxTest, DisabledIgnoresClicksAndSettersButAnswersQueries)
{
    auto run = CheckRun("CHECKBOX", R"(File_Disabled="disabled.png" File_MouseOver="over.png")");
    ASSERT_TRUE(run->GetInitResult());
    FUiCheckbox* box = FindControl<FUiCheckbox>(*run, "W.C");
    FProbeObject* probe = Probe();
    bool no = false;
    EXPECT_TRUE(Send(box, "SetEnabled", &no));
    EXPECT_FALSE(Send(box, "SetEnabled"));
    EXPECT_TRUE(box->IsDisabled());
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kDisabled));
    probe->Clear();
    Press(*run, 5, 5);
    Release(*run, 5, 5);
    EXPECT_TRUE(Send(box, "Press"));
    EXPECT_TRUE(Send(box, "Select"));
    bool yes = true;
    EXPECT_TRUE(Send(box, "SetState", &yes));
    EXPECT_FALSE(box->GetState());
    bool state = true;
    EXPECT_TRUE(Send(box, "StateQuery", &state));
    EXPECT_FALSE(state);
    EXPECT_FALSE(Send(box, "StateQuery"));
    EXPECT_TRUE(Send(box, "SendState"));
    EXPECT_EQ(TakeProbeMessages(probe), "Sent=false");
    // The pointer is over it: the mouse-over picture wins even while disabled.
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kOver));
    MoveTo(*run, 100, 50);
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kDisabled));
    EXPECT_TRUE(Send(box, "Enable"));
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kOff));
}

TEST(CheckboxTest, MissingOrMismatchedImagesRefuseTheControl)
{
    const char* const kBad[] = {
        R"(<CHECKBOX Name="C" File_On="on.png"/>)",
        R"(<CHECKBOX Name="C" File_Off="off.png"/>)",
        R"(<CHECKBOX Name="C" File_On="on.png" File_Off="missing.png"/>)",
        R"(<RADIO_BUTTON Name="C" File_On="on.png" File_Off="wide.png"/>)",
    };
    for (const char* tag : kBad) {
        auto run = ControlsRun(std::string("<HBOX>") + tag + "</HBOX>", TwoStateSkins());
        ASSERT_TRUE(run->GetInitResult()) << tag;
        EXPECT_EQ(FindWidget(*run, "W.C"), nullptr) << tag;
    }
    auto run = ControlsRun(R"(<HBOX><CHECKBOX Name="C" File_On="on.png" File_Off="off.png" _MinHSize="30"
        _HStretch="1"/></HBOX>)",
                           TwoStateSkins());
    FUiCheckbox* box = FindControl<FUiCheckbox>(*run, "W.C");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->GetLayoutObject(true)->GetMinSize(), 30);
    EXPECT_FALSE(box->GetLayoutObject(true)->m_bFixed);
    EXPECT_EQ(RectText(box->GetRect()), "0,0,200,16");

    auto hidden = CheckRun("CHECKBOX", R"(Hidden="true")");
    FUiCheckbox* invisible = FindControl<FUiCheckbox>(*hidden, "W.C");
    ASSERT_NE(invisible, nullptr);
    EXPECT_EQ(PresentedPixel(*hidden, 5, 5), "255,255,255,255");
    EXPECT_EQ(invisible->HitTest(5, 5), nullptr);
}

std::unique_ptr<FUiTestApp> ToggleRun(const std::string& attributes, const std::string& children)
{
    return ControlsRun(R"(<HBOX><TOGGLE Name="T" )" + attributes + ">" + children + "</TOGGLE></HBOX>",
                       TwoStateSkins());
}

const char* const kPictures = R"(<ON File_Image="tab_on.png"/><OFF File_Image="tab_off.png"/>)";

TEST(ToggleTest, PicturesArePlacedDrawnAndHitByAlpha)
{
    auto run = ToggleRun("", kPictures);
    ASSERT_TRUE(run->GetInitResult());
    FUiToggle* toggle = FindControl<FUiToggle>(*run, "W.T");
    ASSERT_NE(toggle, nullptr);
    EXPECT_TRUE(toggle->GetState()); // on unless the script says otherwise
    EXPECT_EQ(RectText(toggle->GetRect()), "0,0,30,12");
    EXPECT_EQ(toggle->GetLayoutObject(true)->GetMinSize(), 30);
    EXPECT_EQ(PresentedPixel(*run, 10, 5), ColourText(kOn));
    EXPECT_EQ(toggle->HitTest(0, 0), nullptr);
    EXPECT_EQ(toggle->HitTest(10, 5), toggle);
    Press(*run, 10, 5);
    EXPECT_FALSE(toggle->GetState());
    // A second press before the release is ignored.
    EXPECT_TRUE(toggle->MouseDown(10, 5, false, false));
    EXPECT_FALSE(toggle->GetState());
    Release(*run, 10, 5);
    EXPECT_EQ(PresentedPixel(*run, 10, 5), ColourText(kOff));
    Press(*run, 10, 5);
    Release(*run, 10, 5);
    EXPECT_TRUE(toggle->GetState());
}

TEST(ToggleTest, LabelIsCentredOverThePictures)
{
    auto run = ToggleRun("", std::string(kPictures) + R"(<TEXT DisplayString="Ok" AppFont="Body"/>)");
    ASSERT_TRUE(run->GetInitResult());
    FUiToggle* toggle = FindControl<FUiToggle>(*run, "W.T");
    ASSERT_NE(toggle, nullptr);
    FIUiObject* label = toggle->GetLabel();
    ASSERT_NE(label, nullptr);
    const FRect outer = toggle->GetRect();
    const FRect inner = label->GetRect();
    ASSERT_GT(inner.Width(), 0);
    ASSERT_GT(inner.Height(), 0);
    EXPECT_GE(outer.Width(), 30);
    EXPECT_EQ(inner.left - outer.left, (outer.Width() - inner.Width()) / 2);
    EXPECT_EQ(inner.top - outer.top, (outer.Height() - inner.Height()) / 2);
    // The label does not take the clicks of the pictures.
    Press(*run, 1, 1);
    Release(*run, 1, 1);
    EXPECT_FALSE(toggle->GetState());
}

TEST(ToggleTest, RadioButtonTurnsOnOnceAndSendsItsMessage)
{
    auto run = ToggleRun(R"(Type="RadioButton" InitialState="false")",
                         std::string(kPictures) + R"(<ONRELAY Relay="Probe" Message="Chosen"/>)");
    ASSERT_TRUE(run->GetInitResult());
    FUiToggle* toggle = FindControl<FUiToggle>(*run, "W.T");
    ASSERT_NE(toggle, nullptr);
    FProbeObject* probe = Probe();
    probe->Clear();
    Press(*run, 10, 5);
    Release(*run, 10, 5);
    EXPECT_EQ(TakeProbeMessages(probe), "Chosen");
    Press(*run, 10, 5);
    Release(*run, 10, 5);
    EXPECT_TRUE(toggle->GetState());
    EXPECT_EQ(TakeProbeMessages(probe), "");
    EXPECT_TRUE(Send(toggle, "Off"));
    EXPECT_TRUE(Send(toggle, "On"));
    EXPECT_TRUE(Send(toggle, "Off"));
    EXPECT_EQ(TakeProbeMessages(probe), "");
    EXPECT_FALSE(toggle->GetState());
    Press(*run, 10, 5);
    Release(*run, 10, 5);
    EXPECT_EQ(TakeProbeMessages(probe), "Chosen");
    EXPECT_FALSE(Send(toggle, "Flip"));
}

TEST(ToggleTest, WithoutBothPicturesThereIsNoToggleAndAnUnknownRelayIsReported)
{
    auto run = ToggleRun("", R"(<ON File_Image="tab_on.png"/>)");
    ASSERT_TRUE(run->GetInitResult());
    EXPECT_EQ(FindWidget(*run, "W.T"), nullptr);

    auto unresolved = ToggleRun(R"(Type="Tab" InitialState="false")",
                                std::string(kPictures) + R"(<ONRELAY Relay="Nobody" Message="Chosen"/>)");
    FUiToggle* toggle = FindControl<FUiToggle>(*unresolved, "W.T");
    ASSERT_NE(toggle, nullptr);
    EXPECT_FALSE(toggle->ConnectRelays());
    EXPECT_TRUE(toggle->MouseDown(10, 5, false, false));
    EXPECT_TRUE(toggle->GetState());
}

} // namespace
