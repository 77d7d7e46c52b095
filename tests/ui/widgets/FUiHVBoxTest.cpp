#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "FUiHVBox.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

struct Kid {
    int minimum;
    int stretch;
    bool fixed;
    int maximum = -1;
};

struct DistributionCase {
    const char* what;
    bool horizontal;
    int length;
    std::vector<Kid> kids;
    bool ok;
    std::vector<int> sizes; // along the axis, in child order
};

TEST(HVBoxTest, DistributionTable)
{
    const DistributionCase kCases[] = {
        {"two stretches and a fixed child",
         true,
         230,
         {{0, 100, false}, {0, 100, false}, {30, 0, true}},
         true,
         {100, 100, 30}},
        {"equal weights: the last takes the rounding",
         true,
         100,
         {{0, 1, false}, {0, 1, false}, {0, 1, false}},
         true,
         {33, 33, 34}},
        {"stretch 0, not fixed: equal shares",
         false,
         100,
         {{0, 0, false}, {0, 0, false}, {0, 0, false}},
         true,
         {33, 33, 34}},
        {"a child held at its minimum, the rest shared again",
         true,
         100,
         {{60, 1, false}, {0, 1, false}, {0, 1, false}},
         true,
         {60, 20, 20}},
        {"a maximum honoured", false, 100, {{0, 1, false, 10}, {0, 1, false}}, true, {10, 90}},
        {"fixed children that do not fit", true, 100, {{60, 0, true}, {50, 0, true}}, false, {}},
        {"stretches at the limit of 32 bits",
         true,
         1000,
         {{0, INT_MAX, false}, {0, INT_MAX, false}, {0, 1, false}},
         true,
         {499, 499, 2}},
        {"a negative stretch counts as none", true, 100, {{0, -50, false}, {0, 50, false}}, true, {0, 100}},
        {"minimums at the limit of 32 bits", true, INT_MAX, {{INT_MAX, 1, false}, {5, 1, false}}, false, {}},
        {"no children", true, 50, {}, true, {}},
    };
    for (const DistributionCase& c : kCases) {
        FUiHVBox box(c.horizontal ? "HBOX" : "VBOX");
        std::vector<FIUiObject*> kids;
        for (const Kid& k : c.kids) {
            FTestLeaf* leaf = FTestLeaf::Make(c.horizontal, k.minimum, k.stretch, k.fixed, k.maximum);
            box.AppendChild(leaf);
            kids.push_back(leaf);
        }
        box.ReInitLayout();
        const int w = c.horizontal ? c.length : 40;
        const int h = c.horizontal ? 40 : c.length;
        ASSERT_EQ(box.SetRect(7, 9, w, h), c.ok) << c.what;
        if (!c.ok)
            continue;
        int position = c.horizontal ? 7 : 9;
        for (size_t i = 0; i < kids.size(); ++i) {
            const FRect r = kids[i]->GetRect();
            const int size = c.horizontal ? r.Width() : r.Height();
            EXPECT_EQ(size, c.sizes[i]) << c.what << ", child " << i;
            EXPECT_EQ(c.horizontal ? r.left : r.top, position) << c.what << ", child " << i;
            EXPECT_EQ(c.horizontal ? r.Height() : r.Width(), 40) << c.what << ": the whole extent across";
            position += size;
        }
        EXPECT_EQ(RectText(box.GetRect()), RectText(FRect(7, 9, 7 + w, 9 + h))) << c.what;
    }
}

TEST(HVBoxTest, RequirementsAlongAndAcross)
{
    FUiHVBox box("HBOX");
    FTestLeaf* a = FTestLeaf::Make(true, 10, 0, true);
    FTestLeaf* b = FTestLeaf::Make(true, 25, 3, false);
    a->GetLayoutObject(false)->m_iMinSize = 12;
    b->GetLayoutObject(false)->m_iMinSize = 30;
    b->GetLayoutObject(false)->m_bFixed = false;
    box.AppendChild(a);
    box.AppendChild(b);
    box.ReInitLayout();
    const FLayoutObject* along = box.GetLayoutObject(true);
    const FLayoutObject* across = box.GetLayoutObject(false);
    EXPECT_EQ(along->GetMinSize(), 35);
    EXPECT_FALSE(along->m_bFixed);
    EXPECT_EQ(across->GetMinSize(), 30);
    EXPECT_FALSE(across->m_bFixed); // one child stretches across
    // Offered less than its minimum the box refuses and keeps its children where they were.
    EXPECT_FALSE(box.SetRect(0, 0, 34, 30));
    EXPECT_FALSE(box.SetRect(0, 0, 35, 29));
    EXPECT_TRUE(box.SetRect(0, 0, 35, 30));
}

const char* const kNested = R"(
  <WINDOW Name="W" BgColor="#E0E0E0" DX="100" DY="100">
    <VBOX>
      <HBOX Name="Row">
        <LEAF Name="A" MinHSize="10" MinVSize="20" HStretch="1"/>
        <NOSUCHTYPE Name="Ghost"/>
        <LEAF Name="B" MinHSize="10" MinVSize="10"/>
      </HBOX>
      <HBOX Name="Fixed"><LEAF Name="C" MinHSize="30" MinVSize="15"/></HBOX>
      <VBOX><LEAF Name="D" MinHSize="5" MinVSize="5" VStretch="1"/></VBOX>
    </VBOX>
  </WINDOW>)";

TEST(HVBoxTest, ScriptedStretchesAndDottedNames)
{
    auto run = MakeWidgetRun(WidgetScript(kNested), {RegisterUiHVBox});
    ASSERT_TRUE(run->GetInitResult());
    FIUiObject* row = FindWidget(*run, "W.Row");
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->IsHBox());
    EXPECT_EQ(FindWidget(*run, "W.Row.A"), row->GetFirstChild());
    EXPECT_NE(FindWidget(*run, "W.D"), nullptr); // through unnamed boxes
    EXPECT_EQ(FindWidget(*run, "W.A"), nullptr); // a named box must be in the path
    EXPECT_EQ(FindWidget(*run, "W.Row."), nullptr);
    EXPECT_EQ(FindWidget(*run, "W.Ghost"), nullptr);
    EXPECT_EQ(FindWidget(*run, "W.Row.B")->GetPrev(), FindWidget(*run, "W.Row.A"));

    // An HBOX stretches across by its _VStretch (0) and along by 100 while a child stretches.
    EXPECT_EQ(row->GetLayoutObject(true)->GetStretch(), 100);
    EXPECT_EQ(row->GetLayoutObject(false)->GetStretch(), 0);
    // Every child fixed along the axis: the box stops stretching along it.
    FIUiObject* fixedRow = FindWidget(*run, "W.Fixed");
    EXPECT_EQ(fixedRow->GetLayoutObject(true)->GetStretch(), 0);
    EXPECT_EQ(fixedRow->GetLayoutObject(true)->GetMinSize(), 30);
    EXPECT_TRUE(fixedRow->GetLayoutObject(false)->m_bFixed);
}

TEST(HVBoxTest, HidingCollapsesAndShrinksTheWindow)
{
    auto run = MakeWidgetRun(WidgetScript(kNested), {RegisterUiHVBox});
    ASSERT_TRUE(run->GetInitResult());
    FGenericUiWindow* window = FindWidgetWindow(*run, "W");
    FIUiObject* row = FindWidget(*run, "W.Row");
    FRect before;
    window->GetWindowRect(before);
    const FRect rowRect = row->GetRect();
    EXPECT_EQ(RectText(rowRect), "0,0,100,20");

    EXPECT_TRUE(row->UiRelayMessage(FWideString("HideChildren"), nullptr));
    const FLayoutObject* v = row->GetLayoutObject(false);
    EXPECT_EQ(v->GetSize(), 0);
    EXPECT_TRUE(v->IsSizeSet());
    EXPECT_TRUE(v->m_bFixed);
    EXPECT_EQ(row->HitTest(5, 5), nullptr);
    FRect after;
    window->GetWindowRect(after);
    EXPECT_EQ(after.Height(), before.Height() - 20);
    EXPECT_EQ(RectText(FindWidget(*run, "W.Fixed")->GetRect()), "0,0,100,15");
    EXPECT_EQ(RectText(FindWidget(*run, "W.Row.A")->GetRect()), "0,0,90,20"); // last placement kept
    EXPECT_TRUE(row->UiRelayMessage(FWideString("HideChildren"), nullptr));   // twice: nothing more
    window->GetWindowRect(after);
    EXPECT_EQ(after.Height(), before.Height() - 20);

    EXPECT_TRUE(row->UiRelayMessage(FWideString("ShowChildren"), nullptr));
    EXPECT_EQ(row->GetLayoutObject(false)->GetMinSize(), 20);
    EXPECT_NE(row->HitTest(5, 5), nullptr);

    // "Visibility" false collapses without shrinking the window; without data it does nothing.
    window->GetWindowRect(before);
    EXPECT_TRUE(row->UiRelayMessage(FWideString("Visibility"), nullptr));
    EXPECT_FALSE(static_cast<FUiHVBox*>(row)->IsHidden());
    bool no = false;
    EXPECT_TRUE(row->UiRelayMessage(FWideString("Visibility"), &no));
    EXPECT_TRUE(static_cast<FUiHVBox*>(row)->IsHidden());
    window->GetWindowRect(after);
    EXPECT_EQ(after.Height(), before.Height());
    EXPECT_TRUE(row->UiRelayMessage(FWideString("ToggleChildren"), nullptr));
    EXPECT_FALSE(static_cast<FUiHVBox*>(row)->IsHidden());
    EXPECT_TRUE(row->UiRelayMessage(FWideString("NoSuchMessage"), nullptr));
}

TEST(HVBoxTest, OutlineNeedsTwoPixelsAndInsetsChildren)
{
    auto run = MakeWidgetRun(WidgetScript(R"(<WINDOW Name="W" BgColor="#E0E0E0" DX="50" DY="40"><HBOX>
          <LEAF Name="A" MinHSize="10" MinVSize="10" HStretch="1" VStretch="1"/></HBOX>
          <HBOX Name="Empty"/></WINDOW>)",
                                          R"(_ShowTheHVBoxes="true")"),
                             {RegisterUiHVBox});
    ASSERT_TRUE(run->GetInitResult());
    FIUiObject* leaf = FindWidget(*run, "W.A");
    ASSERT_NE(leaf, nullptr);
    FIUiObject* box = leaf->GetParent();
    EXPECT_EQ(box->GetLayoutObject(true)->GetMinSize(), 12);
    EXPECT_EQ(box->GetLayoutObject(false)->GetMinSize(), 12);
    EXPECT_EQ(RectText(box->GetRect()), "0,0,50,40");
    EXPECT_EQ(RectText(leaf->GetRect()), "1,1,49,39");
    FIUiObject* empty = FindWidget(*run, "W.Empty");
    EXPECT_EQ(empty->GetLayoutObject(true)->GetMinSize(), 2);
    EXPECT_EQ(empty->GetLayoutObject(true)->GetStretch(), 0);
}

TEST(HVBoxTest, DrawingAndHitTestingFollowChildOrder)
{
    auto run = MakeWidgetRun(WidgetScript(R"(<WINDOW Name="W" BgColor="#E0E0E0" DX="40" DY="20"><HBOX>
          <VBOX Name="Stack"><LEAF Name="A" MinHSize="10" MinVSize="10"/></VBOX>
          <LEAF Name="B" MinHSize="10" MinVSize="10" HStretch="1"/></HBOX></WINDOW>)"),
                             {RegisterUiHVBox});
    ASSERT_TRUE(run->GetInitResult());
    FIUiObject* root = FindWidget(*run, "W.Stack")->GetParent();
    EXPECT_EQ(root->HitTest(5, 5), FindWidget(*run, "W.Stack.A"));
    EXPECT_EQ(root->HitTest(25, 5), FindWidget(*run, "W.B"));
    EXPECT_EQ(root->HitTest(5, 15), nullptr); // below A, inside its box
}

} // namespace
