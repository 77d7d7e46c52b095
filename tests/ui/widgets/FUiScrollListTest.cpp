#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiScrollList.h"
#include "FUiWidgets.h"
#include "ListTestSupport.h"
#include "WidgetTestSupport.h"

namespace
{

std::string ListScript(const std::string& attributes = "")
{
    return WidgetScript(R"(<PROBE Name="Probe"/>
  <WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="100"><VBOX>
    <SCROLLLIST Name="L" MinHSize="80" MinVSize="50" HStretch="1" VStretch="1" Font="DejaVu Sans" FontSize="12"
      SelectedFontColor="#FF0000" DisabledFontColor="#808080" )" +
                        attributes + R"(>
      <SCROLLBAR _Horizontal="false"/>
      <ON_SELECT Relay="Probe" Message="Sel"/>
      <ON_SELECT_ID Relay="Probe" Message="Id"/>
      <ON_ADD_ITEM Relay="Probe" Message="Add"/>
    </SCROLLLIST></VBOX></WINDOW>)");
}

struct ListRun {
    std::unique_ptr<FUiTestApp> run;
    FUiScrollList* list = nullptr;
    FTestScrollbar* bar = nullptr;
    FProbeObject* probe = nullptr;

    explicit ListRun(const std::string& script)
    {
        run = MakeWidgetRun(script, {RegisterUiHVBox, RegisterUiScrollList, RegisterTestScrollbar});
        list = dynamic_cast<FUiScrollList*>(FindWidget(*run, "W.L"));
        probe = FProbeObject::FindLive("Probe");
        if (probe) {
            probe->SetDataKind("Sel", EProbeData::kString);
            probe->SetDataKind("Id", EProbeData::kString);
        }
        if (list)
            bar = dynamic_cast<FTestScrollbar*>(list->GetScrollbar());
    }

    // Room for `lines` whole lines.
    void Place(int lines) { list->SetRect(0, 0, 120, lines * list->GetLineHeight() + 3); }

    bool NewList(const char* message, std::vector<FWideString> strings)
    {
        return list->UiRelayMessage(FWideString(message), &strings);
    }

    void Draw(FIUiPixmap* target = nullptr)
    {
        FIUiPixmap* own = target ? nullptr : CreateUiPixmap(200, 400, true);
        list->Display(target ? target : own, 0, 0, FRect(0, 0, 200, 400));
        ReleaseUiPixmap(own);
    }

    FUiScrollListItem* Item(int index) const
    {
        FUiScrollListItem* item = list->GetFirstItem();
        while (item && index-- > 0)
            item = item->next;
        return item;
    }

    void Click(int index)
    {
        const FRect r = Item(index)->hitRect;
        list->MouseDown(r.left + 1, r.top + 1, false, false);
    }

    std::string Events() const
    {
        std::string text;
        for (const FProbeRecord& record : probe->GetRecords())
            text += record.message + (record.data.empty() ? "" : "=" + record.data) + ";";
        return text;
    }
};

std::vector<FWideString> Lines(int count)
{
    std::vector<FWideString> lines;
    for (int i = 0; i < count; ++i)
        lines.emplace_back(("line " + std::to_string(i)).c_str());
    return lines;
}

TEST(ScrollListTest, ScrollValuesFollowTheLineCount)
{
    ListRun l(ListScript());
    ASSERT_NE(l.list, nullptr);
    EXPECT_GE(l.list->GetLineHeight(), 1);
    EXPECT_EQ(l.list->GetLayoutObject(true)->GetMinSize(), 81); // MinHSize + 1
    l.Place(8);
    EXPECT_EQ(l.bar->LastSet(), "10,10,0"); // empty
    l.NewList("NewList", Lines(5));
    EXPECT_EQ(l.bar->LastSet(), "10,10,0"); // all fit
    l.NewList("NewList", Lines(20));
    EXPECT_EQ(l.bar->LastSet(), "20,8,0");
    EXPECT_TRUE(l.bar->Scroll(30));
    EXPECT_EQ(l.list->GetFirstVisibleLine(), 30);
    l.Place(8); // clamped at the next update
    EXPECT_EQ(l.bar->LastSet(), "20,8,12");
    // The list draws from the first visible line: line 12 is at the top.
    l.Draw();
    EXPECT_EQ(l.Item(12)->hitRect.top >= 0 && l.Item(12)->hitRect.top < l.list->GetLineHeight(), true);
    EXPECT_NE(l.Item(12)->textPixmap, nullptr);
    EXPECT_EQ(l.Item(0)->textPixmap, nullptr); // lines out of view are not rendered
}

TEST(ScrollListTest, ClickSelectsAndReportsTextAndIdentifier)
{
    ListRun l(ListScript(R"(_SelectedFontBgColor="#0000FF")"));
    ASSERT_NE(l.list, nullptr);
    l.Place(8);
    l.probe->Clear();
    EXPECT_TRUE(l.NewList("NewListWithIDs", {u"Red", u"Green", u"r", u"g"}));
    l.Draw();
    l.Click(1);
    EXPECT_EQ(l.Events(), "Sel=Green;Id=g;");
    EXPECT_TRUE(l.Item(1)->selected);
    FIUiPixmap* target = CreateUiPixmap(200, 400, true);
    target->FillRGBA(255, 255, 255, 255);
    l.Draw(target);
    const FRect band = l.Item(1)->hitRect;
    EXPECT_EQ(PixelText(target, band.right - 2, band.top + 1), "0,0,255"); // selected band
    EXPECT_EQ(PixelText(target, band.right, band.top + 1), "0,0,0");       // column left of the bar
    ReleaseUiPixmap(target);

    // SelectID fires as a click would, but the highlight stays and the answer is false.
    l.probe->Clear();
    FWideString id("r");
    EXPECT_FALSE(l.list->UiRelayMessage(FWideString("SelectID"), &id));
    EXPECT_EQ(l.Events(), "Sel=Red;Id=r;");
    EXPECT_TRUE(l.Item(1)->selected);
    l.probe->Clear();
    id = "none";
    EXPECT_FALSE(l.list->UiRelayMessage(FWideString("SelectID"), &id));
    EXPECT_EQ(l.Events(), "");
    l.list->MouseDown(-50, -50, false, false); // on no line
    EXPECT_EQ(l.Events(), "");
}

TEST(ScrollListTest, OddCountsAndOddTextsAreShownCleanly)
{
    ListRun l(ListScript());
    ASSERT_NE(l.list, nullptr);
    l.Place(8);
    // An unpaired last text gets an empty identifier instead of ending the program.
    EXPECT_TRUE(l.NewList("NewListWithIDs", {u"A", u"B", u"C", u"a", u"b"}));
    EXPECT_EQ(l.list->GetItemCount(), 3);
    EXPECT_EQ(l.Item(2)->text, "C");
    EXPECT_TRUE(l.Item(2)->identifier.IsEmpty());
    EXPECT_TRUE(l.NewList("NewListWithIDs", {u"only"}));
    EXPECT_EQ(l.list->GetItemCount(), 1);
    EXPECT_TRUE(l.NewList("NewListWithIDs", {}));
    EXPECT_EQ(l.list->GetItemCount(), 0);
    EXPECT_FALSE(l.list->UiRelayMessage(FWideString("NewList"), nullptr));
    EXPECT_FALSE(l.list->UiRelayMessage(FWideString("AddToListWithID"), nullptr));

    const FWideString odd[] = {FWideString("quote\"s'"),   FWideString("#%20%"), FWideString("new\nline\r\n"),
                               FWideString("bad\xff\xfe"), FWideString(""),      FWideString(u"\xd800 lone")};
    for (const FWideString& text : odd) {
        FWideString pair[2] = {text, text};
        EXPECT_TRUE(l.list->UiRelayMessage(FWideString("AddToListWithID"), pair));
    }
    l.Draw();
    l.probe->Clear();
    l.Click(4); // the empty text is drawn as a space and can still be chosen
    EXPECT_EQ(l.Events(), "Sel;Id;");
}

TEST(ScrollListTest, EmptyListMouseOverAndDisplayStrings)
{
    ListRun l(ListScript(R"(_MouseOver="true")"));
    ASSERT_NE(l.list, nullptr);
    l.Place(8);
    l.NewList("NewListWithIDs", {u"Title", u"plain", u"t", u"p"});
    EXPECT_TRUE(l.Item(0)->isDisplayString);
    EXPECT_FALSE(l.Item(1)->isDisplayString);
    FWideString pair[2] = {FWideString("Ok"), FWideString("ok")};
    l.list->UiRelayMessage(FWideString("AddStringToListWithID"), pair);
    FWideString missing[2] = {FWideString("NoSuchString"), FWideString("x")};
    l.list->UiRelayMessage(FWideString("AddStringToListWithID"), missing);
    l.Draw();
    ASSERT_NE(l.Item(3)->textPixmap, nullptr); // a missing display string is drawn as a space
    EXPECT_GT(l.Item(0)->textPixmap->GetWidth(), l.Item(3)->textPixmap->GetWidth());

    // The highlight follows the pointer without events; a click then reports the line.
    l.probe->Clear();
    const FRect second = l.Item(1)->hitRect;
    l.list->MouseMove(second.left + 1, second.top + 1);
    EXPECT_TRUE(l.Item(1)->selected);
    l.list->MouseMove(l.Item(0)->hitRect.left + 1, l.Item(0)->hitRect.top + 1);
    EXPECT_FALSE(l.Item(1)->selected);
    EXPECT_TRUE(l.Item(0)->selected);
    EXPECT_EQ(l.Events(), "");
    l.Click(0);
    EXPECT_EQ(l.Events(), "Sel=Title;Id=t;"); // the display string's name

    const size_t sets = l.bar->GetSets().size();
    l.probe->Clear();
    EXPECT_TRUE(l.list->UiRelayMessage(FWideString("EmptyList"), nullptr));
    EXPECT_EQ(l.Events(), "Add;");
    EXPECT_EQ(l.list->GetItemCount(), 0);
    EXPECT_EQ(l.list->GetSelectedItem(), nullptr);
    EXPECT_EQ(l.bar->GetSets().size(), sets); // the bar waits for the next list
    l.list->MouseMove(second.left + 1, second.top + 1);
    l.Draw();

    // "Set Language" is heard but answered false, and the lines render again.
    l.NewList("NewList", Lines(3));
    l.Draw();
    FWideString language("German");
    EXPECT_FALSE(l.list->UiRelayMessage(FWideString("Set Language"), &language));
    EXPECT_EQ(l.Item(0)->textPixmap, nullptr);
    EXPECT_FALSE(l.list->UiRelayMessage(FWideString("we're goin' bye-bye"), nullptr));
}

TEST(ScrollListTest, MissingKeysOrScrollbarFail)
{
    std::string script = ListScript();
    script.replace(script.find("<SCROLLBAR _Horizontal=\"false\"/>"), 32, "");
    ListRun noBar(script);
    EXPECT_EQ(noBar.list, nullptr);
    script = ListScript();
    script.replace(script.find("SelectedFontColor"), 17, "Other");
    ListRun noKey(script);
    EXPECT_EQ(noKey.list, nullptr);
}

} // namespace
