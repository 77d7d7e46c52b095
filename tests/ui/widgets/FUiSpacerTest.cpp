#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "FHeadlessUiWindow.h"
#include "FPropList.h"
#include "FUiSpacer.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

std::string DividerScript(const std::string& divider = R"(<SPACER Name="Div" MinSize="4" Stretch="0"
        _SlidingDivider="true" File_Cursor="cursor_no.png" CursorX="3"/>)",
                          const char* leafKeys = R"(MinHSize="10" MinVSize="10" HStretch="1" VStretch="1")")
{
    return WidgetScript(R"(<WINDOW Name="W" BgColor="#E0E0E0" DX="104" DY="20"><HBOX>
        <LEAF Name="A" )" +
                        std::string(leafKeys) + "/>" + divider + R"(<LEAF Name="B" )" + leafKeys +
                        "/></HBOX></WINDOW>");
}

int Width(FUiTestApp& run, const char* name)
{
    return FindWidget(run, name)->GetRect().Width();
}

std::string CursorOf(FUiTestApp& run)
{
    auto* os = dynamic_cast<FHeadlessUiWindow*>(FindWidgetWindow(run, "W")->GetOsWindow());
    return os ? os->GetCursor() : "no window";
}

TEST(SpacerTest, DraggingMovesRoomBetweenTheNeighbours)
{
    auto run = MakeWidgetRun(DividerScript(), {RegisterUiHVBox, RegisterUiSpacer});
    ASSERT_TRUE(run->GetInitResult());
    auto* divider = dynamic_cast<FUiSpacer*>(FindWidget(*run, "W.Div"));
    ASSERT_NE(divider, nullptr);
    EXPECT_EQ(RectText(divider->GetRect()), "50,0,54,20");
    EXPECT_EQ(divider->HitTest(51, 3), divider);

    EXPECT_TRUE(divider->MouseDown(52, 5, false, false));
    EXPECT_EQ(FindWidget(*run, "W.A")->GetLayoutObject(true)->GetStretch(), 50);
    divider->MouseMove(62, 5);
    EXPECT_EQ(Width(*run, "W.A"), 60);
    EXPECT_EQ(Width(*run, "W.B"), 40);
    EXPECT_EQ(divider->GetRect().left, 60);
    // Beyond the previous neighbour's whole length: its stretch stops at 0 and it keeps its minimum.
    divider->MouseMove(-100, 5);
    EXPECT_EQ(FindWidget(*run, "W.A")->GetLayoutObject(true)->GetStretch(), 0);
    EXPECT_EQ(Width(*run, "W.A"), 10);
    EXPECT_EQ(Width(*run, "W.B"), 90);
    divider->MouseUp(-100, 5, false, false);
    EXPECT_FALSE(divider->IsDragging());
    divider->MouseMove(50, 5); // no longer dragging
    EXPECT_EQ(Width(*run, "W.A"), 10);

    divider->MouseEnter(12, 5);
    EXPECT_NE(CursorOf(*run), "arrow");
    divider->MouseLeave(0, 0);
    EXPECT_EQ(CursorOf(*run), "arrow");
}

TEST(SpacerTest, NoDividerCursorWhileBothNeighboursSitAtTheirMinimum)
{
    auto run = MakeWidgetRun(DividerScript(R"(<SPACER Name="Div" Stretch="1" _SlidingDivider="true"
        File_Cursor="cursor_no.png"/>)",
                                           R"(MinHSize="10" MinVSize="10")"),
                             {RegisterUiHVBox, RegisterUiSpacer});
    ASSERT_TRUE(run->GetInitResult());
    FIUiObject* divider = FindWidget(*run, "W.Div");
    const std::string before = CursorOf(*run);
    divider->MouseEnter(15, 5);
    EXPECT_EQ(CursorOf(*run), before);
}

TEST(SpacerTest, TheSplitSurvivesARestart)
{
    std::string state;
    {
        auto run = MakeWidgetRun(DividerScript(), {RegisterUiHVBox, RegisterUiSpacer});
        ASSERT_TRUE(run->GetInitResult());
        FIUiObject* divider = FindWidget(*run, "W.Div");
        divider->MouseDown(52, 5, false, false);
        divider->MouseMove(72, 5);
        divider->MouseUp(72, 5, false, false);
        ASSERT_EQ(Width(*run, "W.A"), 70);
        run->Finish();
        std::unique_ptr<FPropList> root = run->ReadStateFile();
        ASSERT_NE(root, nullptr);
        FPropList* entry = root->GetFirstChild();
        while (entry && !(entry->GetString("Name", FWideString()) == "TestApp.W.Div"))
            entry = entry->GetNext();
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->GetInt("PrevFillPercentage", 0), 70);
        EXPECT_EQ(entry->GetInt("NextFillPercentage", 0), 30);
        std::ifstream in(run->GetAppDataPath() + "/TestApp.state.xml", std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        state = bytes.str();
    }
    auto run = MakeWidgetRun(DividerScript(), {RegisterUiHVBox, RegisterUiSpacer},
                             [&](FUiTestApp& r) { r.WriteAppDataFile("TestApp.state.xml", state); });
    ASSERT_TRUE(run->GetInitResult());
    EXPECT_EQ(Width(*run, "W.A"), 70);
    EXPECT_EQ(Width(*run, "W.B"), 30);
}

TEST(SpacerTest, SavedSplitRestoredOnlyWhenBothLengthsArePresent)
{
    auto run = MakeWidgetRun(DividerScript(), {RegisterUiHVBox, RegisterUiSpacer});
    ASSERT_TRUE(run->GetInitResult());
    FIUiObject* divider = FindWidget(*run, "W.Div");
    FPropList* node = run->GetApp()->GetPersistentData(FWideString("TestApp.W.Div"));
    ASSERT_NE(node, nullptr);
    node->SetInt("PrevFillPercentage", 90);
    EXPECT_TRUE(divider->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
    EXPECT_EQ(Width(*run, "W.A"), 50);
    node->SetInt("NextFillPercentage", 10);
    EXPECT_TRUE(divider->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
    EXPECT_EQ(Width(*run, "W.A"), 90);
    EXPECT_EQ(Width(*run, "W.B"), 10);
}

TEST(SpacerTest, BadPlacesAndPlainSpacers)
{
    // A divider without a neighbour on one side, a spacer outside a box and one without Stretch.
    auto run = MakeWidgetRun(WidgetScript(R"(<WINDOW Name="W" BgColor="#E0E0E0" DX="50" DY="20"><HBOX>
        <SPACER Name="First" MinSize="4" Stretch="0" _SlidingDivider="true" File_Cursor="cursor_no.png"/>
        <LEAF Name="A" MinHSize="10" MinVSize="10" HStretch="1"/>
        <SPACER Name="Plain" MinSize="6" Stretch="0"/>
        <SPACER Name="NoStretch"/>
        <LEAF Name="B" MinHSize="10" MinVSize="10" HStretch="1"/>
        <SPACER Name="Last" Stretch="2" _SlidingDivider="true"/></HBOX></WINDOW>
        <WINDOW Name="V" BgColor="#E0E0E0"><SPACER Name="Lone" Stretch="1"/></WINDOW>)"),
                             {RegisterUiHVBox, RegisterUiSpacer});
    ASSERT_TRUE(run->GetInitResult());
    EXPECT_EQ(FindWidget(*run, "W.NoStretch"), nullptr);
    EXPECT_EQ(FindWidget(*run, "V.Lone"), nullptr);
    for (const char* name : {"W.First", "W.Last", "W.Plain"}) {
        auto* spacer = dynamic_cast<FUiSpacer*>(FindWidget(*run, name));
        ASSERT_NE(spacer, nullptr) << name;
        EXPECT_FALSE(spacer->MouseDown(1, 1, false, false)) << name;
        spacer->MouseMove(30, 1);
        spacer->MouseEnter(1, 1);
        EXPECT_FALSE(spacer->IsDragging()) << name;
        EXPECT_TRUE(spacer->UiRelayMessage(FWideString("we're goin' bye-bye"), nullptr)) << name;
        EXPECT_TRUE(spacer->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr)) << name;
        EXPECT_FALSE(spacer->UiRelayMessage(FWideString("Show"), nullptr)) << name;
    }
    EXPECT_EQ(Width(*run, "W.Plain"), 6); // Stretch 0: fixed at MinSize
    EXPECT_EQ(Width(*run, "W.First"), 4);
    run->Finish();
    std::unique_ptr<FPropList> root = run->ReadStateFile();
    for (FPropList* entry = root ? root->GetFirstChild() : nullptr; entry; entry = entry->GetNext())
        EXPECT_FALSE(entry->FindProp("PrevFillPercentage"))
            << entry->GetString("Name", FWideString()).GetNarrow();
}

} // namespace
