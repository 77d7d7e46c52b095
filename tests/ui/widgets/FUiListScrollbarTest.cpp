#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FIUiPixmap.h"
#include "FMemStorageClass.h"
#include "FUiScrollList.h"
#include "FUiScrollbar.h"
#include "FUiScrolledFrame.h"
#include "FUiTree.h"
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

TEST(ListScrollbarTest, FolderTreeDrivenByTheRealBar)
{
    FMemStorageClass* mem = RegisterMemStorageClass(FWideString("barmem"));
    for (int i = 0; i < 30; ++i)
        mem->MakeFolder(FWideString(("vols/V" + std::to_string(10 + i)).c_str()));
    std::string icons;
    for (const char* key : {"File_DiskIcon", "File_RemovableDiskIcon", "File_CDRomIcon", "File_FolderIcon",
                            "File_OpenFolderIcon", "File_IsClosedIcon", "File_IsOpenIcon"})
        icons += std::string(key) + R"(="button_normal.png" )";
    std::string bar = kBar;
    bar.replace(0, 10, "<VSCROLLBAR");
    auto run = MakeWidgetRun(WidgetScript(R"(<WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="100"><VBOX>
    <DIRTREE Name="T" MinHSize="100" MinVSize="40" HStretch="1" VStretch="1" Font="DejaVu Sans" FontSize="12"
      SelectedFontColor="#FFFFFF" SelectedBgColor="#000080" DisabledFontColor="#808080" LowerLeftColor="#00FF00"
      _RootURL="barmem://vols/" )" + icons +
                                          ">" + bar + "</DIRTREE></VBOX></WINDOW>"),
                             {RegisterUiHVBox, RegisterUiTree, RegisterUiScrollbar});
    auto* tree = dynamic_cast<FUiTree*>(FindWidget(*run, "W.T"));
    ASSERT_NE(tree, nullptr);
    auto* vbar = dynamic_cast<FUiScrollbar*>(tree->GetVScrollbar());
    ASSERT_NE(vbar, nullptr);
    EXPECT_EQ(vbar->GetSurface(), 30);
    EXPECT_EQ(vbar->GetWindowLength(), tree->GetVisibleRows());
    tree->MouseWheel(5, 5, 0, -4);
    EXPECT_EQ(tree->GetFirstVisibleRow(), 4);
    // Up from the first volume selects the undrawn root.
    FWideString first("barmem://vols/V10/");
    tree->UiRelayMessage(FWideString("SelectDir"), &first);
    EXPECT_EQ(tree->GetFirstVisibleRow(), 0); // scrolled back to show it
    tree->KeyEvent(14, false, false);
    EXPECT_EQ(tree->GetSelected(), tree->GetRoot());
    FIUiPixmap* target = CreateUiPixmap(200, 100, true);
    tree->Display(target, 0, 0, FRect(0, 0, 200, 100));
    ReleaseUiPixmap(target);
}

} // namespace
