#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "FProbeObject.h"
#include "FUiScrollbar.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

const char* kSkinKeys = R"( BgColor="#101010" BgClickColor="#202020" File_ButtonANormal="button_normal.png"
    File_ButtonAPressed="button_pressed.png" File_ButtonBNormal="button_normal.png"
    File_ButtonBPressed="button_pressed.png" File_Slider="button_normal.png" File_SliderKnurls="cursor_no.png"
    SliderResizeRect="4,4,11,11")";

std::string BarScript(const std::string& type, const std::string& extra = "")
{
    return WidgetScript(R"(<PROBE Name="Probe"/>
  <WINDOW Name="W" BgColor="#E0E0E0" DX="300" DY="100"><VBOX>
    <)" + type + R"( Name="Bar" Stretch="100")" +
                        kSkinKeys + extra + R"(><ON_SCROLL Relay="Probe" Message="Scroll"/></)" + type + R"(>
  </VBOX></WINDOW>)");
}

struct BarRun {
    std::unique_ptr<FUiTestApp> run;
    FUiScrollbar* bar = nullptr;
    FProbeObject* probe = nullptr;

    explicit BarRun(const std::string& type = "HSCROLLBAR", const std::string& extra = "")
    {
        run = MakeWidgetRun(BarScript(type, extra), {RegisterUiHVBox, RegisterUiScrollbar});
        bar = dynamic_cast<FUiScrollbar*>(FindWidget(*run, "W.Bar"));
        probe = FProbeObject::FindLive("Probe");
        if (probe) {
            probe->SetDataKind("Scroll", EProbeData::kInt);
            probe->Clear();
        }
    }
    bool Set(double surface, double window, double offset)
    {
        double values[3] = {surface, window, offset};
        return bar->UiRelayMessage(FWideString("Set"), values);
    }
    std::string Scrolls() const
    {
        std::string out;
        for (const FProbeRecord& r : probe->GetRecords())
            out += (out.empty() ? "" : ",") + r.data;
        return out;
    }
};

TEST(ScrollbarTest, OrientationAndMinimumSizeFollowTheTypeAndSkins)
{
    struct Case {
        const char* type;
        const char* extra;
        bool horizontal;
        int minWidth, minHeight;
    };
    const Case kCases[] = {
        {"SCROLLBAR", "", true, 48, 17},
        {"SCROLLBAR", R"( _Horizontal="false")", false, 17, 48},
        {"HSCROLLBAR", R"( _Horizontal="false")", true, 48, 17},
        {"VSCROLLBAR", "", false, 17, 48},
    };
    for (const Case& c : kCases) {
        BarRun r(c.type, c.extra);
        ASSERT_NE(r.bar, nullptr) << c.type;
        EXPECT_EQ(r.bar->IsHorizontal(), c.horizontal) << c.type << c.extra;
        EXPECT_EQ(r.bar->GetLayoutObject(true)->GetMinSize(), c.minWidth);
        EXPECT_EQ(r.bar->GetLayoutObject(false)->GetMinSize(), c.minHeight);
    }
    // A knurls image taller than the buttons, or a missing image, refuses the bar.
    auto bad = MakeWidgetRun(WidgetScript(R"(<WINDOW Name="W" DX="100" DY="50"><VBOX>
        <HSCROLLBAR Name="Bar" Stretch="0" BgColor="#000000" BgClickColor="#000000"
          File_ButtonANormal="button_normal.png" File_ButtonAPressed="button_pressed.png"
          File_ButtonBNormal="button_normal.png" File_ButtonBPressed="button_pressed.png"
          File_Slider="button_normal.png" File_SliderKnurls="cursor_too_big.png" SliderResizeRect="4,4,11,11"/>
        <HSCROLLBAR Name="Missing" Stretch="0" BgColor="#000000" BgClickColor="#000000"
          File_ButtonANormal="button_normal.png" File_ButtonAPressed="button_pressed.png"
          File_ButtonBNormal="button_normal.png" File_ButtonBPressed="nothing.png"
          File_Slider="button_normal.png" File_SliderKnurls="cursor_no.png" SliderResizeRect="4,4,11,11"/>
        </VBOX></WINDOW>)"),
                             {RegisterUiHVBox, RegisterUiScrollbar});
    EXPECT_EQ(FindWidget(*bad, "W.Bar"), nullptr);
    EXPECT_EQ(FindWidget(*bad, "W.Missing"), nullptr);
}

TEST(ScrollbarTest, SetCorrectsTheOffsetAndReportsItOnce)
{
    BarRun r;
    ASSERT_NE(r.bar, nullptr);
    r.bar->SetRect(0, 0, 132, 17);
    EXPECT_TRUE(r.Set(100, 10, 95));
    EXPECT_EQ(r.Scrolls(), "90");
    EXPECT_EQ(r.bar->GetOffset(), 90);
    // The same values again: handled, nothing fired.
    EXPECT_TRUE(r.Set(100, 10, 90));
    EXPECT_EQ(r.Scrolls(), "90");
    EXPECT_TRUE(r.Set(100, 10, -4));
    EXPECT_EQ(r.Scrolls(), "90,0");
    EXPECT_FALSE(r.bar->UiRelayMessage(FWideString("Set"), nullptr));

    // Invalid values make the bar inert and report no offset at all.
    r.probe->Clear();
    EXPECT_TRUE(r.Set(5, 10, 3));
    EXPECT_FALSE(r.bar->IsScrollInfoSet());
    EXPECT_EQ(r.bar->GetOffset(), 0);
    EXPECT_TRUE(r.bar->MouseDown(5, 5, false, false));
    r.bar->MouseWheel(50, 5, 0, 1);
    r.bar->KeyEvent(145, false, false);
    EXPECT_EQ(r.Scrolls(), "");
    // Values beyond 32 bits and NaN neither wrap nor trap.
    EXPECT_TRUE(r.Set(1e300, NAN, -1e300));
    EXPECT_FALSE(r.bar->IsScrollInfoSet());
    EXPECT_TRUE(r.Set(1e300, 1e10, 1e300));
    EXPECT_TRUE(r.bar->IsScrollInfoSet());
    EXPECT_EQ(r.bar->GetOffset(), 0);
    EXPECT_EQ(ScrollValueFromDouble(-2.9), -2);
    EXPECT_EQ(ScrollValueFromDouble(1e20), INT_MAX);
    EXPECT_TRUE(r.bar->UiRelayMessage(FWideString("Set100%"), nullptr));
    EXPECT_EQ(r.bar->GetSurface(), 100);
    EXPECT_EQ(r.bar->GetWindowLength(), 100);
}

TEST(ScrollbarTest, ThumbIsAtLeastOnePixelAndTouchesButtonBAtTheEnd)
{
    BarRun r;
    ASSERT_NE(r.bar, nullptr);
    r.bar->SetRect(0, 0, 132, 17); // track 100
    r.Set(1000, 10, 0);
    EXPECT_EQ(RectText(r.bar->GetParts().thumb), "16,1,17,17");
    EXPECT_EQ(RectText(r.bar->GetParts().buttonA), "0,1,16,17");
    EXPECT_EQ(RectText(r.bar->GetParts().buttonB), "116,1,132,17");
    // 3 * 100 / 7 = 42 and 100 * 4 / 7 = 57 leave a gap of one pixel; the thumb closes it.
    r.Set(7, 3, 4);
    EXPECT_EQ(RectText(r.bar->GetParts().thumb), "74,1,116,17");
    EXPECT_TRUE(IsWidgetRectEmpty(r.bar->GetParts().pageAfter));
    r.Set(7, 3, 0);
    EXPECT_TRUE(IsWidgetRectEmpty(r.bar->GetParts().pageBefore));

    BarRun v("VSCROLLBAR");
    v.bar->SetRect(0, 0, 17, 132);
    v.Set(100, 50, 50);
    EXPECT_EQ(RectText(v.bar->GetParts().thumb), "1,66,17,116");
}

TEST(ScrollbarTest, DraggingTheThumbReachesBothEndsExactly)
{
    struct Case {
        double surface, window;
    };
    // Scroll ranges smaller than, equal to and far larger than the drag range.
    const Case kCases[] = {{100, 10}, {50, 10}, {1000, 10}, {1000000, 3}, {101, 100}};
    for (const Case& c : kCases) {
        BarRun r;
        ASSERT_NE(r.bar, nullptr);
        r.bar->SetRect(0, 0, 132, 17);
        r.Set(c.surface, c.window, 0);
        const FRect thumb = r.bar->GetParts().thumb;
        const int grab = thumb.left;
        r.bar->MouseDown(grab, 5, false, false);
        r.bar->MouseMove(grab + 1000, 5);
        EXPECT_EQ(r.bar->GetOffset(), int(c.surface - c.window)) << c.surface << "/" << c.window;
        EXPECT_EQ(r.bar->GetParts().thumb.right, 116);
        r.bar->MouseMove(grab - 1000, 5);
        EXPECT_EQ(r.bar->GetOffset(), 0);
        r.bar->MouseUp(grab - 1000, 5, false, false);
        EXPECT_EQ(r.bar->GetParts().thumb.left, 16);
    }
    // The arithmetic on its own: the ends exact, the middle proportional, no division by zero.
    EXPECT_EQ(ScrollbarDragOffset(1000, 10, 115, 16, 115), 990);
    EXPECT_EQ(ScrollbarDragOffset(1000, 10, 16, 16, 115), 0);
    EXPECT_EQ(ScrollbarDragOffset(100, 10, 61, 16, 106), 45);
    EXPECT_EQ(ScrollbarDragOffset(100, 10, 20, 16, 16), 0);
    EXPECT_EQ(ScrollbarDragOffset(INT_MAX, 1, 200, 0, 200), INT_MAX - 1);
}

TEST(ScrollbarTest, ButtonsPagesWheelAndKeysStepAndReport)
{
    BarRun r;
    ASSERT_NE(r.bar, nullptr);
    r.bar->SetRect(0, 0, 132, 17);
    r.Set(100, 10, 0);
    r.bar->MouseDown(5, 5, false, false); // button A at 0 still reports
    r.bar->MouseUp(5, 5, false, false);
    r.bar->MouseDown(125, 5, false, false); // button B
    r.bar->MouseUp(125, 5, false, false);
    r.bar->MouseDown(100, 5, false, false); // page after
    r.bar->MouseUp(100, 5, false, false);
    r.bar->MouseWheel(50, 5, 0, 1); // forward: toward 0
    r.bar->MouseWheel(50, 5, 0, -1000000);
    r.bar->MouseWheel(50, 5, 0, -1); // already at the end: nothing
    r.bar->KeyEvent(146, false, false);
    r.bar->KeyEvent(14, false, false); // Up means nothing to a horizontal bar
    r.bar->KeyEvent(17, false, false);
    r.bar->KeyEvent(18, false, false);
    EXPECT_EQ(r.Scrolls(), "0,1,11,10,90,89,79,89");
}

TEST(ScrollbarTest, HoldingThePageAreaRepeatsAfterTheDelay)
{
    BarRun r;
    ASSERT_NE(r.bar, nullptr);
    r.bar->SetRect(0, 0, 132, 17);
    r.Set(1000, 100, 0);
    r.bar->MouseDown(100, 5, false, false);
    EXPECT_EQ(r.Scrolls(), "100");
    r.bar->Tick(10); // arms
    for (int i = 0; i < 40; ++i)
        r.bar->Tick(10);
    EXPECT_EQ(r.Scrolls(), "100");
    r.bar->Tick(10); // 410 ms after arming
    EXPECT_EQ(r.Scrolls(), "100,200");
    for (int i = 0; i < 10; ++i)
        r.bar->Tick(10);
    EXPECT_EQ(r.Scrolls(), "100,200,300");

    // Off the area the repeat stops without a release; back on it waits again.
    r.bar->MouseMove(100, 60);
    for (int i = 0; i < 100; ++i)
        r.bar->Tick(10);
    EXPECT_EQ(r.Scrolls(), "100,200,300");
    r.bar->MouseMove(120 - 10, 5);
    r.bar->Tick(10);
    for (int i = 0; i < 40; ++i)
        r.bar->Tick(10);
    EXPECT_EQ(r.Scrolls(), "100,200,300");
    r.bar->Tick(10);
    EXPECT_EQ(r.Scrolls(), "100,200,300,400");
    r.bar->MouseUp(110, 5, false, false);
    for (int i = 0; i < 100; ++i)
        r.bar->Tick(10);
    EXPECT_EQ(r.Scrolls(), "100,200,300,400");
}

} // namespace
