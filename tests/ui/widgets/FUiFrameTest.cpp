#include <gtest/gtest.h>

#include <string>

#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiFrame.h"
#include "FUiImageFrame.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

std::unique_ptr<FUiTestApp> FrameRun(const std::string& body, const char* size = R"(DX="200" DY="100")")
{
    return MakeWidgetRun(WidgetScript(R"(<PROBE Name="Probe"/><WINDOW Name="W" BgColor="#E0E0E0" )" +
                                      std::string(size) + "><HBOX>" + body + "</HBOX></WINDOW>"),
                         {RegisterUiHVBox, RegisterUiText, RegisterUiFrame, RegisterUiRect, RegisterUiHVLine,
                          RegisterUiImageFrame});
}

FUiColor PixelOf(FIUiPixmap* pixmap, int x, int y)
{
    FUiColor c;
    pixmap->GetPixel(x, y, c);
    return c;
}

// Draws the object alone onto a white pixmap of the window's size.
FIUiPixmap* Draw(FIUiObject* object, const FRect& clip = FRect(0, 0, 200, 100))
{
    FIUiPixmap* target = CreateUiPixmap(200, 100, false);
    target->FillRGBA(255, 255, 255, 255);
    object->Display(target, 0, 0, clip);
    return target;
}

const FUiColor kWhite(255, 255, 255, 255);
const FUiColor kRed(255, 0, 0, 255);
const FUiColor kGreen(0, 255, 0, 255);

TEST(FrameTest, CaptionInsets)
{
    struct Case {
        int thickness, topInset, sideInset, captionX;
    };
    for (const Case& c : {Case{1, 13, 7, 7}, Case{10, 16, 10, 16}}) {
        const std::string t = std::to_string(c.thickness);
        auto run = FrameRun(R"(<FRAME Name="F" MinHSize="0" MinVSize="0" HStretch="1" VStretch="1"
            FrameColor="#FF0000" FrameThickness=")" +
                            t + R"(">
            <TEXT Name="Caption" DisplayString="Ok" AppFont="Body" Height="13"/>
            <TEXT Name="Second" DisplayString="Title" AppFont="Body"/>
            <HBOX Name="Box"><LEAF Name="L" MinHSize="20" MinVSize="20" HStretch="1" VStretch="1"/></HBOX></FRAME>)");
        ASSERT_TRUE(run->GetInitResult());
        auto* frame = dynamic_cast<FUiFrame*>(FindWidget(*run, "W.F"));
        ASSERT_NE(frame, nullptr);
        FIUiObject* caption = frame->GetCaption();
        ASSERT_NE(caption, nullptr);
        ASSERT_EQ(caption->GetLayoutObject(false)->GetMinSize(), 13);
        EXPECT_EQ(frame->GetTopInset(), c.topInset) << t;
        EXPECT_EQ(frame->GetSideInset(), c.sideInset) << t;
        EXPECT_EQ(frame->GetCaptionX(), c.captionX) << t;
        EXPECT_EQ(caption->GetRect().left, frame->GetRect().left + c.captionX) << t;
        const int cw = caption->GetLayoutObject(true)->GetMinSize();
        const int f = 6;
        EXPECT_EQ(frame->GetLayoutObject(true)->GetMinSize(),
                  std::max(20 + 2 * c.sideInset, cw + 2 * (f + c.sideInset)))
            << t;
        EXPECT_EQ(frame->GetLayoutObject(false)->GetMinSize(), c.sideInset + c.topInset + 20) << t;
        FIUiObject* leaf = FindWidget(*run, "W.F.Box.L");
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(RectText(leaf->GetRect()),
                  RectText(FRect(c.sideInset, c.topInset, 200 - c.sideInset, 100 - c.sideInset)));
        // The caption's own name is not reached through the frame: only its content box is.
        EXPECT_EQ(FindWidget(*run, "W.F.Caption"), nullptr);
        EXPECT_EQ(FindWidget(*run, "W.F.Second"), nullptr);
    }
}

TEST(FrameTest, BarsFillClicksAndColours)
{
    auto run = FrameRun(R"(<FRAME Name="F" MinHSize="50" MinVSize="30" HStretch="0" VStretch="0"
        FrameColor="#FF0000" FrameThickness="2"><ON_PRESS Relay="Probe" Message="Framed"/>
        <HBOX><LEAF Name="L" MinHSize="10" MinVSize="10" HStretch="1" VStretch="1"/></HBOX></FRAME>
        <FRAME Name="Click" MinHSize="20" MinVSize="20" HStretch="0" VStretch="0" FrameColor="#000000"
        FrameThickness="1" _Clickable="true"/>
        <FRAME Name="NoColour" MinHSize="20" MinVSize="20" HStretch="0" VStretch="0" FrameThickness="1"/>)");
    ASSERT_TRUE(run->GetInitResult());
    EXPECT_EQ(FindWidget(*run, "W.NoColour"), nullptr);
    auto* frame = dynamic_cast<FUiFrame*>(FindWidget(*run, "W.F"));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(RectText(frame->GetRect()), "0,0,50,30");
    FIUiPixmap* target = Draw(frame);
    EXPECT_EQ(PixelOf(target, 0, 0), kRed);
    EXPECT_EQ(PixelOf(target, 1, 15), kRed);
    EXPECT_EQ(PixelOf(target, 48, 29), kRed);
    EXPECT_EQ(PixelOf(target, 10, 10), kWhite); // no fill
    EXPECT_EQ(PixelOf(target, 50, 10), kWhite);
    ReleaseUiPixmap(target);

    FWideString lower("#00ff00"), green("#00FF00"), halfBlue("#0000FF80");
    EXPECT_TRUE(frame->UiRelayMessage(FWideString("SetColor"), &lower));
    target = Draw(frame);
    EXPECT_EQ(PixelOf(target, 10, 10), kWhite); // lower case refused
    ReleaseUiPixmap(target);
    EXPECT_TRUE(frame->UiRelayMessage(FWideString("SetColor"), &green));
    target = Draw(frame, FRect(0, 0, 5, 100));
    EXPECT_EQ(PixelOf(target, 2, 10), kGreen);
    EXPECT_EQ(PixelOf(target, 10, 10), kWhite); // outside the clip
    ReleaseUiPixmap(target);
    EXPECT_TRUE(frame->UiRelayMessage(FWideString("SetColor"), &halfBlue));
    target = Draw(frame);
    EXPECT_EQ(PixelOf(target, 10, 10).alpha, 128);
    ReleaseUiPixmap(target);
    EXPECT_TRUE(frame->UiRelayMessage(FWideString("SetColor"), nullptr));

    // Not clickable: transparent but for its content; a press fires ON_PRESS and is not taken.
    EXPECT_EQ(frame->HitTest(0, 0), nullptr);
    EXPECT_EQ(frame->HitTest(10, 10), FindWidget(*run, "W.F.L"));
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    probe->Clear();
    EXPECT_FALSE(frame->MouseDown(0, 0, false, false));
    EXPECT_EQ(probe->GetMessages(), "Framed");
    FIUiObject* click = FindWidget(*run, "W.Click");
    EXPECT_EQ(click->HitTest(click->GetRect().left, 0), click);
    EXPECT_EQ(click->HitTest(click->GetRect().left + 10, 10), click);

    EXPECT_TRUE(frame->UiRelayMessage(FWideString("Hide"), nullptr));
    target = Draw(frame);
    EXPECT_EQ(PixelOf(target, 0, 0), kWhite);
    ReleaseUiPixmap(target);
    EXPECT_TRUE(frame->UiRelayMessage(FWideString("Show"), nullptr));
    EXPECT_TRUE(frame->UiRelayMessage(FWideString("NoSuchMessage"), nullptr));
}

TEST(FrameTest, CaptionWithoutContentIsPlacedInTheFrame)
{
    auto run =
        FrameRun(R"(<LEAF MinHSize="30" MinVSize="5"/><FRAME Name="F" MinHSize="60" MinVSize="40" HStretch="0"
        VStretch="0" FrameColor="#FF0000" FrameThickness="1">
        <TEXT Name="Caption" DisplayString="Ok" AppFont="Body" Height="13"/></FRAME>)");
    ASSERT_TRUE(run->GetInitResult());
    auto* frame = dynamic_cast<FUiFrame*>(FindWidget(*run, "W.F"));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->GetCaption()->GetRect().left, 30 + frame->GetCaptionX());
}

TEST(RectTest, FillsHitsAndHoldsItsContent)
{
    auto run =
        FrameRun(R"(<RECT Name="R" MinHSize="40" MinVSize="30" HStretch="0" VStretch="0" Color="#FF0000"/>
        <RECT Name="Holder" MinHSize="10" MinVSize="10" HStretch="1" VStretch="0" Color="#00FF00">
          <HBOX><LEAF Name="In" MinHSize="20" MinVSize="10"/></HBOX></RECT>
        <RECT Name="TooSmall" MinHSize="10" MinVSize="10" HStretch="0" VStretch="0" Color="#00FF00">
          <HBOX><LEAF MinHSize="20" MinVSize="10"/></HBOX></RECT>
        <RECT Name="NoColour" MinHSize="10" MinVSize="10" HStretch="0" VStretch="0"/>)");
    ASSERT_TRUE(run->GetInitResult());
    EXPECT_EQ(FindWidget(*run, "W.TooSmall"), nullptr);
    EXPECT_EQ(FindWidget(*run, "W.NoColour"), nullptr);
    auto* rect = dynamic_cast<FUiRect*>(FindWidget(*run, "W.R"));
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(RectText(rect->GetRect()), "0,0,40,30");
    EXPECT_EQ(rect->HitTest(0, 0), rect);
    EXPECT_EQ(rect->HitTest(39, 29), rect);
    EXPECT_EQ(rect->HitTest(40, 29), nullptr);
    FIUiPixmap* target = Draw(rect);
    EXPECT_EQ(PixelOf(target, 39, 29), kRed);
    EXPECT_EQ(PixelOf(target, 40, 29), kWhite);
    ReleaseUiPixmap(target);
    FWideString green("#00FF00"), bad("green");
    EXPECT_TRUE(rect->UiRelayMessage(FWideString("SetColor"), &bad));
    EXPECT_EQ(rect->GetColor(), kRed);
    EXPECT_TRUE(rect->UiRelayMessage(FWideString("SetColor"), &green));
    EXPECT_EQ(rect->GetColor(), kGreen);
    EXPECT_TRUE(rect->UiRelayMessage(FWideString("SetColor"), nullptr));
    EXPECT_TRUE(rect->UiRelayMessage(FWideString("Whatever"), nullptr));

    FIUiObject* holder = FindWidget(*run, "W.Holder");
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->GetLayoutObject(true)->GetMinSize(), 20);
    FIUiObject* in = FindWidget(*run, "W.Holder.In");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(holder->HitTest(in->GetRect().left, 0), in);
    ASSERT_GT(holder->GetRect().right, in->GetRect().right);
    EXPECT_EQ(holder->HitTest(in->GetRect().right, 5), holder);
}

TEST(LineTest, OnePixelAcrossAndTheMinimumAlong)
{
    auto run =
        FrameRun(R"(<VBOX Name="V" _HStretch="0"><HLINE Name="H" MinHSize="30" HStretch="0" Color="#FF0000"/>
        <HLINE Name="Missing" MinHSize="30" Color="#FF0000"/></VBOX>
        <VLINE Name="L" MinVSize="8" VStretch="1" Color="#00FF00"/>)");
    ASSERT_TRUE(run->GetInitResult());
    EXPECT_EQ(FindWidget(*run, "W.V.Missing"), nullptr);
    FIUiObject* line = FindWidget(*run, "W.V.H");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->GetLayoutObject(false)->GetMinSize(), 1);
    line->SetRect(5, 6, 10, 40);
    EXPECT_EQ(RectText(line->GetRect()), "5,6,35,7");
    EXPECT_EQ(line->HitTest(6, 6), nullptr);
    FIUiPixmap* target = Draw(line);
    EXPECT_EQ(PixelOf(target, 5, 6), kRed);
    EXPECT_EQ(PixelOf(target, 5, 7), kWhite);
    ReleaseUiPixmap(target);
    FIUiObject* vertical = FindWidget(*run, "W.L");
    ASSERT_NE(vertical, nullptr);
    EXPECT_EQ(vertical->GetRect().Width(), 1);
    EXPECT_EQ(vertical->GetRect().Height(), 100);
}

std::unique_ptr<FUiTestApp> ImageFrameRun(const std::string& body)
{
    return FrameRun(body, R"(DX="100" DY="60")");
}

TEST(ImageFrameTest, InsetsScalingAndKeys)
{
    auto run = ImageFrameRun(R"(
        <IMAGE_FRAME Name="F" File_Image="frame.png" HStretch="1" VStretch="1" InsideRect="3,3,36,16">
          <ON_PRESS Relay="Probe" Message="Pressed"/>
          <HBOX Name="Box"><LEAF Name="L" MinHSize="50" MinVSize="5" HStretch="1" VStretch="1"/></HBOX></IMAGE_FRAME>
        <IMAGE_FRAME Name="Fixed" File_Image="frame.png" _NoScale="true" InsideRect="3,3,36,16" _Clickable="true"/>
        <IMAGE_FRAME Name="NoStretch" File_Image="frame.png" InsideRect="3,3,36,16"/>
        <IMAGE_FRAME Name="NoInside" File_Image="frame.png" HStretch="1" VStretch="1"/>
        <IMAGE_FRAME Name="Outside" File_Image="frame.png" HStretch="1" VStretch="1" InsideRect="3,3,40,16"/>
        <IMAGE_FRAME Name="NoImage" File_Image="none.png" HStretch="1" VStretch="1" InsideRect="3,3,36,16"/>)");
    ASSERT_TRUE(run->GetInitResult());
    for (const char* name : {"W.NoStretch", "W.NoInside", "W.Outside", "W.NoImage"})
        EXPECT_EQ(FindWidget(*run, name), nullptr) << name;
    auto* frame = dynamic_cast<FUiImageFrame*>(FindWidget(*run, "W.F"));
    ASSERT_NE(frame, nullptr);
    // Without _LayoutRect the content covers the inside rectangle: borders of 3 on every side.
    EXPECT_EQ(frame->GetLayoutObject(true)->GetMinSize(), 56);
    EXPECT_EQ(frame->GetLayoutObject(false)->GetMinSize(), 20);
    EXPECT_EQ(RectText(frame->GetRect()), "0,0,60,60");
    EXPECT_EQ(RectText(FindWidget(*run, "W.F.Box.L")->GetRect()), "3,3,57,57");
    auto* fixed = dynamic_cast<FUiImageFrame*>(FindWidget(*run, "W.Fixed"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(RectText(fixed->GetRect()), "60,0,100,20");
    EXPECT_EQ(fixed->GetLayoutObject(true)->GetStretch(), 0);
    EXPECT_EQ(fixed->HitTest(61, 1), fixed);  // clickable: every point
    EXPECT_EQ(frame->HitTest(1, 1), nullptr); // not clickable: only the content answers
    EXPECT_EQ(frame->HitTest(5, 5), FindWidget(*run, "W.F.Box.L"));

    FIUiPixmap* target = Draw(frame);
    EXPECT_EQ(PixelOf(target, 0, 0), kRed); // the image's marked corner, kept
    EXPECT_EQ(PixelOf(target, 59, 59), FUiColor(40, 80, 120, 255));
    ReleaseUiPixmap(target);

    FProbeObject* probe = FProbeObject::FindLive("Probe");
    probe->Clear();
    EXPECT_FALSE(frame->MouseDown(1, 1, false, false));
    EXPECT_EQ(probe->GetMessages(), "Pressed");
    EXPECT_FALSE(frame->UiRelayMessage(FWideString("Redraw"), nullptr));
    EXPECT_TRUE(frame->UiRelayMessage(FWideString("Show"), nullptr));
    EXPECT_TRUE(frame->UiRelayMessage(FWideString("Hide"), nullptr));
    EXPECT_FALSE(frame->IsVisible());
    target = Draw(frame);
    EXPECT_EQ(PixelOf(target, 0, 0), kWhite);
    ReleaseUiPixmap(target);
    EXPECT_FALSE(frame->UiRelayMessage(FWideString("NoSuchMessage"), nullptr));
}

TEST(ImageFrameTest, OverlayDrawsTheFrameOverItsContent)
{
    for (const bool overlay : {false, true}) {
        auto run = ImageFrameRun(
            std::string(R"(<IMAGE_FRAME Name="F" File_Image="frame.png" HStretch="0" VStretch="0"
            InsideRect="3,3,36,16" _LayoutRect="0,0,39,19" _OverlayFrame=")") +
            (overlay ? "true" : "false") + R"(">
            <HBOX><RECT MinHSize="1" MinVSize="1" HStretch="1" VStretch="1" Color="#00FF00"/></HBOX></IMAGE_FRAME>)");
        ASSERT_TRUE(run->GetInitResult());
        FIUiObject* frame = FindWidget(*run, "W.F");
        ASSERT_NE(frame, nullptr);
        FIUiPixmap* target = Draw(frame);
        EXPECT_EQ(PixelOf(target, 10, 10), overlay ? FUiColor(40, 80, 120, 255) : kGreen) << overlay;
        ReleaseUiPixmap(target);
    }
}

} // namespace
