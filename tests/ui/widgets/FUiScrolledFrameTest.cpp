#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiScrolledFrame.h"
#include "FUiWidgets.h"
#include "ListTestSupport.h"
#include "WidgetTestSupport.h"

namespace
{

// Rows of 20 pixels, row i painted with red 10 x (i + 1), then a last row of `tail` pixels.
std::string FrameScript(int rows, int tail, int minV = 104)
{
    std::string content;
    for (int i = 0; i < rows; ++i) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "#%02X0000", 10 * (i + 1));
        content += std::string(R"(<PAINT Name="R)") + std::to_string(i) +
                   R"(" MinVSize="20" HStretch="1" Color=")" + colour + R"("/>)";
    }
    if (tail > 0)
        content +=
            R"(<PAINT Name="Tail" MinVSize=")" + std::to_string(tail) + R"(" HStretch="1" Color="#00FF00"/>)";
    return WidgetScript(R"(<PROBE Name="Probe"/>
  <WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="400"><VBOX>
    <SCROLLED_FRAME Name="F" MinHSize="100" MinVSize=")" +
                        std::to_string(minV) + R"(" HStretch="0" VStretch="0" FrameColor="#0000FF"
        FrameThickness="2" LineSize="15" SpacerSize="5" _FillColor="#FFFFFF">
      <VBOX Name="Box">)" +
                        content +
                        R"(</VBOX>
      <SIZECHANGED Relay="Probe" Message="Size"/>
      <SCROLLBAR _Horizontal="false" Thick="12"/>
    </SCROLLED_FRAME></VBOX></WINDOW>)");
}

struct FrameRun {
    std::unique_ptr<FUiTestApp> run;
    FUiScrolledFrame* frame = nullptr;
    FTestScrollbar* bar = nullptr;
    FProbeObject* probe = nullptr;
    std::string sizes;

    explicit FrameRun(const std::string& script)
    {
        run = MakeWidgetRun(
            script, {RegisterUiHVBox, RegisterUiScrolledFrame, RegisterTestScrollbar, RegisterTestPaint});
        frame = dynamic_cast<FUiScrolledFrame*>(FindWidget(*run, "W.F"));
        probe = FProbeObject::FindLive("Probe");
        if (probe)
            probe->SetOnMessage([this](const FProbeRecord& record) {
                if (record.message != "Size" || !record.pointer)
                    return;
                const double* v = static_cast<const double*>(record.pointer);
                sizes += std::to_string(static_cast<int>(v[0])) + "," +
                         std::to_string(static_cast<int>(v[1])) + "," +
                         std::to_string(static_cast<int>(v[2])) + ";";
            });
        if (frame)
            bar = dynamic_cast<FTestScrollbar*>(frame->GetScrollbar());
    }
};

TEST(ScrolledFrameTest, ScrollValuesInWholePitches)
{
    FrameRun f(FrameScript(12, 10)); // 250 pixels of content
    ASSERT_NE(f.frame, nullptr);
    EXPECT_TRUE(f.frame->IsScrolling());
    EXPECT_EQ(f.frame->GetContentHeight(), 260);
    EXPECT_EQ(f.bar->LastSet(), "13,5,0");
    f.sizes.clear();
    f.frame->SetRect(f.frame->GetRect().left, f.frame->GetRect().top, 100, 104);
    EXPECT_EQ(f.sizes, "13,5,0;"); // SIZECHANGED carries the same values

    FrameRun exact(FrameScript(12, 0)); // 240, a multiple of the pitch, also becomes 260
    ASSERT_NE(exact.frame, nullptr);
    EXPECT_EQ(exact.frame->GetContentHeight(), 260);

    FrameRun fits(FrameScript(3, 0, 300));
    ASSERT_NE(fits.frame, nullptr);
    EXPECT_FALSE(fits.frame->IsScrolling());
    EXPECT_EQ(fits.bar->LastSet(), "14,14,0"); // inner 296 / pitch 20
    EXPECT_TRUE(fits.bar->Scroll(3));
    EXPECT_EQ(fits.frame->GetOffset(), 0);
}

TEST(ScrolledFrameTest, HitTestsMatchWhatIsDrawnAfterScrolling)
{
    FrameRun f(FrameScript(12, 10));
    ASSERT_NE(f.frame, nullptr);
    const FRect r = f.frame->GetRect();
    const FRect inner = f.frame->GetInnerRect();
    FIUiObject* row0 = FindWidget(*f.run, "W.F.Box.R0");
    ASSERT_NE(row0, nullptr);
    const int row0Top = row0->GetRect().top;
    ASSERT_TRUE(f.bar->Scroll(3));
    EXPECT_EQ(f.frame->GetOffset(), 3);
    EXPECT_EQ(row0->GetRect().top, row0Top - 60); // the content moved 60 pixels up

    FIUiPixmap* target = CreateUiPixmap(300, 400, true);
    target->FillRGBA(255, 255, 255, 255);
    f.frame->Display(target, 0, 0, FRect(0, 0, 300, 400));
    const int x = inner.left + 5;
    for (int y = r.top; y < r.bottom + 20; ++y) {
        FIUiObject* hit = f.frame->HitTest(x, y);
        FUiColor drawn;
        target->GetPixel(x, y, drawn);
        if (!hit) {
            EXPECT_GE(y, r.bottom);
            EXPECT_EQ(PixelText(target, x, y), "255,255,255") << y; // nothing spills below the frame
            continue;
        }
        if (hit == f.frame) {
            EXPECT_TRUE(y < inner.top || y >= inner.bottom) << y;
            EXPECT_EQ(PixelText(target, x, y), "0,0,255") << y; // the frame band
            continue;
        }
        FWideString name;
        hit->GetName(name);
        const std::string text = name.GetNarrow();
        ASSERT_EQ(text[0], 'R') << y;
        const int index = std::stoi(text.substr(1));
        EXPECT_EQ(drawn.red, 10 * (index + 1)) << y;
        EXPECT_EQ(index, (y - inner.top + 60) / 20) << y;
    }
    // Out-of-range offsets are held to the surface.
    EXPECT_TRUE(f.bar->Scroll(50));
    EXPECT_EQ(f.frame->GetOffset(), 8);
    EXPECT_FALSE(f.frame->UiRelayMessage(FWideString("Scroll"), nullptr));
    ReleaseUiPixmap(target);
}

TEST(ScrolledFrameTest, HiddenContentKeepsFrameFillAndBar)
{
    FrameRun f(FrameScript(12, 10));
    ASSERT_NE(f.frame, nullptr);
    bool hide = false;
    EXPECT_TRUE(f.frame->UiRelayMessage(FWideString("Visibility"), &hide));
    const FRect r = f.frame->GetRect();
    const FRect inner = f.frame->GetInnerRect();
    FIUiPixmap* target = CreateUiPixmap(300, 400, true);
    target->FillRGBA(0, 0, 0, 255);
    f.frame->Display(target, 0, 0, FRect(0, 0, 300, 400));
    EXPECT_EQ(PixelText(target, r.left, r.top), "0,0,255");                     // frame
    EXPECT_EQ(PixelText(target, inner.left + 3, inner.top + 3), "255,255,255"); // fill, no content
    EXPECT_EQ(PixelText(target, inner.right + 2, inner.top + 3), "0,0,255");    // the stand-in bar
    EXPECT_EQ(f.frame->HitTest(inner.left + 3, inner.top + 3), f.frame);
    EXPECT_EQ(f.frame->HitTest(inner.right + 2, inner.top + 3), f.bar);
    ReleaseUiPixmap(target);

    f.frame->Tick(10);
    EXPECT_EQ(f.bar->GetTicks(), 0); // the bar gets no ticks
    f.frame->MouseWheel(0, 0, 0, -1);
    EXPECT_EQ(f.bar->GetWheel(), -1);
}

TEST(ScrolledFrameTest, WithoutContentOrWithoutBar)
{
    std::string script = FrameScript(0, 0);
    script.replace(script.find(R"(<VBOX Name="Box"></VBOX>)"), 24, "");
    FrameRun empty(script);
    ASSERT_NE(empty.frame, nullptr);
    FIUiPixmap* target = CreateUiPixmap(300, 400, true);
    empty.frame->Display(target, 0, 0, FRect(0, 0, 300, 400));
    EXPECT_EQ(PixelText(target, empty.frame->GetRect().left, empty.frame->GetRect().top), "0,0,255");
    ReleaseUiPixmap(target);

    script = FrameScript(2, 0);
    script.replace(script.find(R"(<SCROLLBAR _Horizontal="false" Thick="12"/>)"), 43, "");
    FrameRun noBar(script);
    EXPECT_EQ(noBar.frame, nullptr);
    script = FrameScript(2, 0);
    script.replace(script.find(R"(LineSize="15")"), 13, R"(LineSize="0" )");
    script.replace(script.find(R"(SpacerSize="5")"), 14, R"(SpacerSize="0")");
    FrameRun zeroPitch(script); // no division by a zero pitch
    ASSERT_NE(zeroPitch.frame, nullptr);
    EXPECT_EQ(zeroPitch.frame->GetLinePitch(), 1);
}

} // namespace
