#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "ControlsTestSupport.h"
#include "FCodePage.h"
#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiScriptFixture.h"
#include "FUiSlider.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

const FUiColor kTrack(60, 60, 60, 255);
const FUiColor kKnob(250, 200, 0, 255);

std::vector<FTestSkin> SliderSkins()
{
    return {
        {"sl_bg.png", 110, 6, kTrack, kTrack},      {"sl_knob.png", 10, 16, kKnob, kKnob},
        {"sl_knob_down.png", 10, 16, kKnob, kKnob}, {"sl_knob_odd.png", 12, 16, kKnob, kKnob},
        {"sl_long.png", 1010, 6, kTrack, kTrack},   {"sl_vbg.png", 6, 110, kTrack, kTrack},
        {"sl_vknob.png", 16, 10, kKnob, kKnob},     {"sl_short.png", 10, 6, kTrack, kTrack},
    };
}

const char* const kFont = R"(Font="DejaVu Sans" FontSize="10" FontColor="#000000" )";
const char* const kEvents =
    R"(<ON_RELEASE Relay="Probe" Message="Release"/><ON_UPDATE Relay="Probe" Message="Update"/>
    <ON_SLIDE Relay="Probe" Message="Slide"/><ON_MANUAL Relay="Probe" Message="Manual"/>
    <ON_SEND_VALUE Relay="Probe" Message="Sent"/><ON_INIT Relay="Probe" Message="Init"/>)";

std::unique_ptr<FUiTestApp> SliderRun(const std::string& attributes, const std::string& extraEvents = "")
{
    return ControlsRun(std::string(R"(<HBOX><SLIDER Name="S" )") + kFont + attributes + ">" + kEvents +
                           extraEvents + "</SLIDER></HBOX>",
                       SliderSkins());
}

// A horizontal slider 0..10 by 1 whose track is 100 pixels long.
std::string Plain(const std::string& more = "")
{
    return R"(File_Image_Bg="sl_bg.png" File_Image_Knob="sl_knob.png" Lower="0" Upper="10" Step="1"
        DontScaleKnob="true" )" +
           more;
}

FProbeObject* Probe()
{
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    for (const char* message : {"Release", "Update", "Slide", "Sent", "Snap"})
        probe->SetDataKind(message, EProbeData::kDouble);
    return probe;
}

bool Send(FUiSlider* slider, const char* message, void* data = nullptr)
{
    return slider->UiRelayMessage(FWideString(message), data);
}

// Places the knob at an exact offset of a 100-pixel track without events.
void PlaceAt(FUiSlider* slider, int offset)
{
    double fraction = (offset + 0.5) / 100;
    Send(slider, "SetWithNoUpdate", &fraction);
    ASSERT_EQ(slider->GetOffset(), offset);
}

TEST(SliderTest, ComputedValuesSnapToTheStepGrid)
{
    auto run = SliderRun(Plain());
    ASSERT_TRUE(run->GetInitResult());
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(RectText(slider->GetRect()), "0,0,110,16");
    EXPECT_EQ(slider->GetTrack(), 100);
    struct Case {
        int offset;
        double value;
        const char* label;
    };
    const Case kCases[] = {
        {47, 5, "5.0"}, {45, 4, "4.0"}, {96, 10, "10.0"}, {0, 0, "0.0"},
        {4, 0, "0.0"},  {5, 0, "0.0"},  {6, 1, "1.0"},    {100, 10, "10.0"},
    };
    for (const Case& c : kCases) {
        PlaceAt(slider, c.offset);
        EXPECT_DOUBLE_EQ(slider->ComputeValue(), c.value) << c.offset;
        EXPECT_DOUBLE_EQ(slider->GetValue(), c.value) << c.offset;
        EXPECT_EQ(Utf8FromWide(slider->GetLabelText()), c.label) << c.offset;
    }
}

TEST(SliderTest, IntegerLabelsAndValuesNearZero)
{
    auto run = SliderRun(Plain(R"(_DisplayIntegers="true")"));
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    PlaceAt(slider, 47);
    EXPECT_EQ(Utf8FromWide(slider->GetLabelText()), "5");

    // A grid that passes close by zero.
    auto zero = SliderRun(R"(File_Image_Bg="sl_bg.png" File_Image_Knob="sl_knob.png" Lower="-1.0004" Upper="1"
        Step="0.5" DontScaleKnob="true")");
    FUiSlider* z = FindControl<FUiSlider>(*zero, "W.S");
    ASSERT_NE(z, nullptr);
    PlaceAt(z, 50); // v = -0.0002
    EXPECT_EQ(z->ComputeValue(), 0.0);
    PlaceAt(z, 60); // v = 0.19984, on the tick -0.0004
    EXPECT_EQ(z->ComputeValue(), 0.0);
    PlaceAt(z, 80);
    EXPECT_NEAR(z->ComputeValue(), 0.4996, 1e-9);
}

TEST(SliderTest, SetClampsTheFractionAndReports)
{
    auto run = SliderRun(Plain());
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    FProbeObject* probe = Probe();
    EXPECT_EQ(TakeProbeMessages(probe), "Init");
    double fraction = 1.5;
    EXPECT_TRUE(Send(slider, "Set", &fraction));
    EXPECT_EQ(TakeProbeMessages(probe), "Release=1,Update=10");
    EXPECT_EQ(slider->GetKnobRect().right, 110);
    EXPECT_TRUE(Send(slider, "Set", &fraction)); // no move, no events
    EXPECT_EQ(TakeProbeMessages(probe), "");
    fraction = -0.5;
    EXPECT_TRUE(Send(slider, "Set", &fraction));
    EXPECT_EQ(TakeProbeMessages(probe), "Release=0,Update=0");
    EXPECT_EQ(slider->GetKnobRect().left, 0);
    fraction = 0.73;
    Send(slider, "Set", &fraction);
    probe->Clear();
    fraction = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(Send(slider, "Set", &fraction));
    EXPECT_EQ(slider->GetOffset(), 0);
    EXPECT_EQ(TakeProbeMessages(probe), "Release=0,Update=0");
    EXPECT_FALSE(Send(slider, "Set"));
    EXPECT_FALSE(Send(slider, "SetWithNoUpdate"));

    double value = 0;
    EXPECT_TRUE(Send(slider, "SetDisplayValue", &(value = 7)));
    EXPECT_EQ(slider->GetOffset(), 70);
    EXPECT_EQ(TakeProbeMessages(probe), "Release=0.7,Update=7");
    // Values outside the range place the knob at the end, never beyond it.
    EXPECT_TRUE(Send(slider, "SetDisplayValue", &(value = 1e300)));
    EXPECT_EQ(slider->GetOffset(), 100);
    EXPECT_TRUE(Send(slider, "SetDisplayValue", &(value = -1e300)));
    EXPECT_EQ(slider->GetOffset(), 0);
    EXPECT_EQ(slider->GetKnobRect().left, 0);
    probe->Clear();
    EXPECT_TRUE(Send(slider, "Increment"));
    EXPECT_EQ(TakeProbeMessages(probe), "Release=0.1,Update=1");
    EXPECT_TRUE(Send(slider, "Decrement"));
    EXPECT_TRUE(Send(slider, "Decrement"));
    EXPECT_EQ(TakeProbeMessages(probe), "Release=0,Update=0,Release=0,Update=0");
    EXPECT_TRUE(Send(slider, "GetValue", &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(Send(slider, "SendValue"));
    EXPECT_EQ(TakeProbeMessages(probe), "Sent=0");
    EXPECT_FALSE(Send(slider, "GetValue"));
}

TEST(SliderTest, InitAndResetStayOnTheTrack)
{
    auto run = SliderRun(Plain(R"(Init="50")"));
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->GetOffset(), 100);
    EXPECT_EQ(slider->GetValue(), 10);
    EXPECT_TRUE(Send(slider, "Reset"));
    EXPECT_EQ(slider->GetOffset(), 0);
    EXPECT_EQ(slider->GetValue(), 0);

    // A range that leaves zero out resets to its nearest end.
    auto shifted = SliderRun(R"(File_Image_Bg="sl_bg.png" File_Image_Knob="sl_knob.png" Lower="5" Upper="10"
        Step="1" Init="7.5" DontScaleKnob="true")");
    FUiSlider* s = FindControl<FUiSlider>(*shifted, "W.S");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetOffset(), 50);
    EXPECT_TRUE(Send(s, "Reset"));
    EXPECT_EQ(s->GetOffset(), 0);
    EXPECT_EQ(s->GetValue(), 5);
}

TEST(SliderTest, ClicksBesideTheKnobStepAndDraggingSlides)
{
    for (bool displayValue : {false, true}) {
        auto run = SliderRun(
            Plain(std::string(R"(Init="5" _DisplayValue=")") + (displayValue ? "true" : "false") + "\""));
        FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
        ASSERT_NE(slider, nullptr);
        FProbeObject* probe = Probe();
        probe->Clear();
        EXPECT_EQ(RectText(slider->GetKnobRect()), "50,0,60,16");
        Press(*run, 5, 8);
        Release(*run, 5, 8);
        EXPECT_EQ(TakeProbeMessages(probe), "Manual,Release=0.4,Update=4");
        Press(*run, 100, 8);
        Release(*run, 100, 8);
        EXPECT_EQ(TakeProbeMessages(probe), "Manual,Release=0.5,Update=5");

        Press(*run, 55, 8);
        EXPECT_EQ(TakeProbeMessages(probe), "Manual");
        MoveTo(*run, 75, 30); // across the axis does not matter
        EXPECT_EQ(TakeProbeMessages(probe), displayValue ? "Slide=0.7,Update=7" : "Slide=0.7");
        MoveTo(*run, 500, 8);
        EXPECT_EQ(slider->GetOffset(), 100);
        EXPECT_EQ(slider->GetKnobRect().right, 110);
        probe->Clear();
        Release(*run, 500, 8);
        EXPECT_EQ(TakeProbeMessages(probe), "Release=1");
        MoveTo(*run, 20, 8); // no longer captured
        EXPECT_EQ(slider->GetOffset(), 100);
    }
}

// A live slider sends its values while dragged without showing them on the knob, and on
// release only a value the drag has not sent yet; a text beside it follows every change.
TEST(SliderTest, LiveUpdatesAndTheValueText)
{
    auto run = SliderRun(Plain(R"(Init="5" _DisplayValue="false" _LiveUpdate="true")"),
                         R"(<ON_VALUE_TEXT Relay="Probe" Message="Text"/>)");
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    FProbeObject* probe = Probe();
    probe->SetDataKind("Text", EProbeData::kString);
    probe->Clear();
    Press(*run, 55, 8);
    MoveTo(*run, 75, 8);
    EXPECT_EQ(TakeProbeMessages(probe), "Manual,Slide=0.7,Update=7,Text=+7.00");
    Release(*run, 75, 8);
    EXPECT_EQ(TakeProbeMessages(probe), "Release=0.7");
    // A press and release without a move: nothing changed, nothing more to send.
    Press(*run, 75, 8);
    Release(*run, 75, 8);
    EXPECT_EQ(TakeProbeMessages(probe), "Manual,Release=0.7");
    double fraction = 0.25;
    Send(slider, "SetWithNoUpdate", &fraction);
    EXPECT_EQ(TakeProbeMessages(probe), "Text=+2.00");

    auto decimals = SliderRun(R"(File_Image_Bg="sl_bg.png" File_Image_Knob="sl_knob.png" Lower="-2" Upper="2"
        Step="0.05" DontScaleKnob="true" _DisplayValue="false")");
    FUiSlider* fine = FindControl<FUiSlider>(*decimals, "W.S");
    ASSERT_NE(fine, nullptr);
    for (const auto& [at, text] : {std::pair{0.0, "-2.00"}, {0.5, "0.00"}, {0.7, "+0.80"}}) {
        double where = at;
        Send(fine, "SetWithNoUpdate", &where);
        EXPECT_EQ(fine->GetValueText().GetNarrow(), std::string(text)) << at;
    }
}

TEST(SliderTest, SnapModeGoesToTheNearestTick)
{
    auto run =
        SliderRun(R"(File_Image_Bg="sl_long.png" File_Image_Knob="sl_knob.png" Lower="0" Upper="4" Step="1"
        _DisplayValue="false")",
                  R"(<ON_SNAP Relay="Probe" Message="Snap"/>)");
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    ASSERT_EQ(slider->GetTrack(), 1000);
    FProbeObject* probe = Probe();
    struct Case {
        int x;
        const char* snapped;
        int knobLeft;
        double value;
    };
    // Inner ticks centre the knob on k x (1010 / 4) pixels.
    const Case kCases[] = {
        {125, "Snap=0", 0, 0},    {126, "Snap=0.25", 247, 1}, {500, "Snap=0.5", 499, 2},
        {875, "Snap=1", 1000, 4}, {624, "Snap=0.5", 499, 2},  {626, "Snap=0.75", 751, 3},
    };
    for (const Case& c : kCases) {
        probe->Clear();
        Press(*run, c.x, 8);
        Release(*run, c.x, 8);
        EXPECT_EQ(TakeProbeMessages(probe), c.snapped) << c.x;
        EXPECT_EQ(slider->GetKnobRect().left, c.knobLeft) << c.x;
        EXPECT_EQ(slider->GetValue(), c.value) << c.x;
    }
}

TEST(SliderTest, VerticalSlidersHaveTheirLowerEndAtTheBottom)
{
    auto run = SliderRun(R"(File_Image_Bg="sl_vbg.png" File_Image_Knob="sl_vknob.png" Lower="0" Upper="10"
        Step="1" _Horizontal="false" DontScaleKnob="true")");
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(RectText(slider->GetRect()), "0,0,16,110");
    EXPECT_EQ(RectText(slider->GetKnobRect()), "0,100,16,110");
    EXPECT_EQ(slider->GetValue(), 0);
    double fraction = 1;
    Send(slider, "Set", &fraction);
    EXPECT_EQ(RectText(slider->GetKnobRect()), "0,0,16,10");
    EXPECT_EQ(slider->GetValue(), 10);
    FProbeObject* probe = Probe();
    probe->Clear();
    Press(*run, 8, 60); // below the knob: one step down
    Release(*run, 8, 60);
    EXPECT_EQ(TakeProbeMessages(probe), "Manual,Release=0.9,Update=9");
    // Dragging up raises the value.
    Press(*run, 8, 15);
    MoveTo(*run, 8, 5);
    EXPECT_EQ(slider->GetOffset(), 100);
    Release(*run, 8, 5);
}

TEST(SliderTest, BadLimitsAndMissingPartsRefuseTheSlider)
{
    const std::string kImages =
        R"(File_Image_Bg="sl_bg.png" File_Image_Knob="sl_knob.png" DontScaleKnob="true" )";
    struct Case {
        std::string tag;
        std::string events;
    };
    const Case kCases[] = {
        {std::string(R"(<SLIDER Name="S" )") + kFont + kImages + R"(Lower="0" Upper="0" Step="1"/>)", ""},
        {std::string(R"(<SLIDER Name="S" )") + kFont + kImages + R"(Lower="5" Upper="1" Step="1"/>)", ""},
        {std::string(R"(<SLIDER Name="S" )") + kFont + kImages + R"(Lower="0" Upper="10" Step="0"/>)", ""},
        {std::string(R"(<SLIDER Name="S" )") + kFont + kImages + R"(Lower="0" Upper="10" Step="-1"/>)", ""},
        {std::string(R"(<SLIDER Name="S" )") + kFont + kImages + R"(/>)", ""}, // every limit 0
        {std::string(R"(<SLIDER Name="S" )") + kFont + kImages + R"(Lower="0" Upper="1" Step="2">)",
         R"(<ON_SNAP Relay="Probe" Message="Snap"/></SLIDER>)"},
        {std::string(R"(<SLIDER Name="S" Font="DejaVu Sans" FontSize="10" )") + kImages +
             R"(Lower="0" Upper="10" Step="1"/>)",
         ""},
        {std::string(R"(<SLIDER Name="S" )") + kFont +
             R"(File_Image_Knob="sl_knob.png" DontScaleKnob="true" Lower="0" Upper="10" Step="1"/>)",
         ""},
        {std::string(R"(<SLIDER Name="S" )") + kFont +
             R"(File_Image_Bg="sl_bg.png" File_Image_Knob="missing.png" Lower="0" Upper="10" Step="1"/>)",
         ""},
        // The knob fills the whole track.
        {std::string(R"(<SLIDER Name="S" )") + kFont +
             R"(File_Image_Bg="sl_short.png" File_Image_Knob="sl_knob.png" DontScaleKnob="true" Lower="0"
             Upper="10" Step="1"/>)",
         ""},
    };
    for (const Case& c : kCases) {
        auto run = ControlsRun("<HBOX>" + c.tag + c.events + "</HBOX>", SliderSkins());
        ASSERT_TRUE(run->GetInitResult()) << c.tag;
        EXPECT_EQ(FindWidget(*run, "W.S"), nullptr) << c.tag;
    }
    // Straight in the window, which deletes the object whose script error ends the start.
    auto odd = ControlsRun(std::string(R"(<SLIDER Name="S" )") + kFont + kImages +
                               R"(File_Image_Knob_Down="sl_knob_odd.png" Lower="0" Upper="10" Step="1"/>)",
                           SliderSkins());
    EXPECT_FALSE(odd->GetInitResult());
    EXPECT_NE(odd->GetInitException().find("on and off images are NOT the same size!"), std::string::npos)
        << odd->GetInitException();
    // Inside a box the error travels through the box, which must not keep (or leak) the slider.
    auto boxed = ControlsRun(std::string(R"(<VBOX><HBOX><SLIDER Name="S" )") + kFont + kImages +
                                 R"(File_Image_Knob_Down="sl_knob_odd.png" Lower="0" Upper="10" Step="1"/>)" +
                                 "</HBOX></VBOX>",
                             SliderSkins());
    EXPECT_FALSE(boxed->GetInitResult());
    EXPECT_NE(boxed->GetInitException().find("on and off images are NOT the same size!"), std::string::npos)
        << boxed->GetInitException();
    // Straight in the script, outside any window: the application does not keep it either.
    auto loose = MakeWidgetRun(
        WidgetScript(std::string(R"(<SLIDER Name="S" )") + kFont + kImages +
                     R"(File_Image_Knob_Down="sl_knob_odd.png" Lower="0" Upper="10" Step="1"/>)"),
        {RegisterUiWidgets}, [](FUiTestApp& run) {
            for (const FTestSkin& skin : SliderSkins())
                WriteTestPng(run.GetScriptFolder().Join(skin.name), skin.width, skin.height, skin.fill,
                             skin.mark);
        });
    EXPECT_FALSE(loose->GetInitResult());
    EXPECT_NE(loose->GetInitException().find("on and off images are NOT the same size!"), std::string::npos)
        << loose->GetInitException();
}

TEST(SliderTest, KnobWidensForItsLabel)
{
    auto run = SliderRun(R"(File_Image_Bg="sl_long.png" File_Image_Knob="sl_knob.png" Lower="0" Upper="10"
        Step="1" LabelRect="2,2,7,13" ResizeRect="3,3,6,12")");
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    FUiInlineFont font;
    font.face = FWideString("DejaVu Sans");
    font.size = 10;
    FIUiPixmap* text = RenderInlineFontText(font, FWideString("-8.88"), nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(slider->GetKnobRect().Width(), 10 + text->GetWidth() - 6);
    EXPECT_EQ(slider->GetKnobRect().Height(), 16 + text->GetHeight() - 12);
    EXPECT_EQ(slider->GetTrack(), 1010 - slider->GetKnobRect().Width());
    ReleaseUiPixmap(text);
    // Drawn: the knob's own colour where the label leaves it.
    EXPECT_EQ(PresentedPixel(*run, 0, 0), ColourText(kKnob));
}

TEST(SliderTest, DisabledOrHiddenSlidersIgnoreThePointer)
{
    auto run = SliderRun(Plain(R"(Init="5")"));
    FUiSlider* slider = FindControl<FUiSlider>(*run, "W.S");
    ASSERT_NE(slider, nullptr);
    bool enabled = false;
    EXPECT_TRUE(Send(slider, "SetEnabled", &enabled));
    EXPECT_EQ(slider->HitTest(55, 8), nullptr);
    EXPECT_FALSE(slider->MouseDown(55, 8, false, false));
    enabled = true;
    Send(slider, "SetEnabled", &enabled);
    EXPECT_EQ(slider->HitTest(55, 8), slider);
    EXPECT_EQ(PresentedPixel(*run, 5, 8), ColourText(kTrack));
    EXPECT_TRUE(Send(slider, "TogleVisibility"));
    EXPECT_EQ(slider->HitTest(55, 8), nullptr);
    EXPECT_EQ(PresentedPixel(*run, 5, 8), "255,255,255,255");
    EXPECT_TRUE(Send(slider, "Show"));
    EXPECT_EQ(PresentedPixel(*run, 5, 8), ColourText(kTrack));
    EXPECT_FALSE(Send(slider, "Visibility"));
}

} // namespace
