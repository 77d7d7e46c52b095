#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FIUiPixmap.h"
#include "FUiScrollList.h"
#include "FUiScrollbar.h"
#include "FUiScrolledFrame.h"
#include "FUiWidgets.h"
#include "ListTestSupport.h"
#include "WidgetTestSupport.h"

// The lists with the real skinned scroll bar: its ON_SCROLL comes back to
// them as "Scroll", and what they send it is what it shows.

namespace
{

const char kBar[] = R"(<SCROLLBAR _Horizontal="false" Stretch="100" BgColor="#C0C0C0" BgClickColor="#808080"
    File_ButtonANormal="button_normal.png" File_ButtonAPressed="button_pressed.png"
    File_ButtonBNormal="button_normal.png" File_ButtonBPressed="button_pressed.png"
    File_Slider="button_normal.png" File_SliderKnurls="button_pressed.png" SliderResizeRect="4,4,11,11"/>)";

TEST(ListScrollbarTest, ScrollListDrivenByTheRealBar)
{
    auto run =
        MakeWidgetRun(WidgetScript(std::string(R"(<WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="100"><VBOX>
    <SCROLLLIST Name="L" MinHSize="80" MinVSize="50" HStretch="1" VStretch="1" Font="DejaVu Sans" FontSize="12"
      SelectedFontColor="#FF0000" DisabledFontColor="#808080">)") +
                                   kBar + "</SCROLLLIST></VBOX></WINDOW>"),
                      {RegisterUiHVBox, RegisterUiScrollList, RegisterUiScrollbar});
    auto* list = dynamic_cast<FUiScrollList*>(FindWidget(*run, "W.L"));
    ASSERT_NE(list, nullptr);
    auto* bar = dynamic_cast<FUiScrollbar*>(list->GetScrollbar());
    ASSERT_NE(bar, nullptr);
    list->SetRect(0, 0, 120, 8 * list->GetLineHeight() + 3);
    std::vector<FWideString> lines;
    for (int i = 0; i < 20; ++i)
        lines.emplace_back(("line " + std::to_string(i)).c_str());
    list->UiRelayMessage(FWideString("NewList"), &lines);
    EXPECT_EQ(bar->GetSurface(), 20);
    EXPECT_EQ(bar->GetWindowLength(), 8);
    list->MouseWheel(5, 5, 0, -3); // three notches away from the start
    EXPECT_EQ(bar->GetOffset(), 3);
    EXPECT_EQ(list->GetFirstVisibleLine(), 3);
    list->MouseWheel(5, 5, 0, -100);
    EXPECT_EQ(list->GetFirstVisibleLine(), 12);
    FIUiPixmap* target = CreateUiPixmap(200, 200, true);
    list->Display(target, 0, 0, FRect(0, 0, 200, 200));
    ReleaseUiPixmap(target);
    EXPECT_EQ(list->HitTest(list->GetRect().right - 2, 5), bar);
}

TEST(ListScrollbarTest, ScrolledFrameDrivenByTheRealBar)
{
    std::string rows;
    for (int i = 0; i < 12; ++i)
        rows += R"(<PAINT Name="R)" + std::to_string(i) + R"(" MinVSize="20" HStretch="1" Color="#FF0000"/>)";
    auto run =
        MakeWidgetRun(WidgetScript(R"(<WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="300"><VBOX>
    <SCROLLED_FRAME Name="F" MinHSize="100" MinVSize="104" HStretch="0" VStretch="0" FrameColor="#0000FF"
        FrameThickness="2" LineSize="20"><VBOX>)" +
                                   rows + "</VBOX>" + kBar + "</SCROLLED_FRAME></VBOX></WINDOW>"),
                      {RegisterUiHVBox, RegisterUiScrolledFrame, RegisterUiScrollbar, RegisterTestPaint});
    auto* frame = dynamic_cast<FUiScrolledFrame*>(FindWidget(*run, "W.F"));
    ASSERT_NE(frame, nullptr);
    auto* bar = dynamic_cast<FUiScrollbar*>(frame->GetScrollbar());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->GetSurface(), 13);
    EXPECT_EQ(bar->GetWindowLength(), 5);
    frame->MouseWheel(5, 5, 0, -2);
    EXPECT_EQ(frame->GetOffset(), 2);
    const FRect inner = frame->GetInnerRect();
    EXPECT_EQ(frame->HitTest(inner.left + 3, inner.top + 1), FindWidget(*run, "W.F.R2"));
}

} // namespace
