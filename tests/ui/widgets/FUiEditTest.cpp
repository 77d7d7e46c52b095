#include <gtest/gtest.h>

#include <string>

#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FProbeObject.h"
#include "FUiEdit.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

// Box font "Body" at 14 pixels: every unit 7 pixels wide, so unit i ends at 7 (i + 1).
std::string EditScript(const std::string& keys)
{
    return WidgetScript(R"(<PROBE Name="Probe"/>
  <WINDOW Name="W" BgColor="#E0E0E0" DX="300" DY="100"><VBOX>
    <EDIT_BOX Name="E" MinHSize="60" HStretch="0" FrameColor="#000000" FrameThickness="1" AppFont="Body"
        _FillColor="#FFFFFF" )" +
                        keys +
                        R"(>
      <ON_SEND_STRING Relay="Probe" Message="Send"/>
      <ON_STRING_NOT_EMPTY Relay="Probe" Message="NotEmpty"/>
      <ON_NEW_STRING Relay="Probe" Message="New"/>
      <ON_ENTER_HIT Relay="Probe" Message="Enter"/>
    </EDIT_BOX>
  </VBOX></WINDOW>)");
}

struct EditRun {
    std::unique_ptr<FUiTestApp> run;
    FUiEdit* edit = nullptr;
    FProbeObject* probe = nullptr;

    explicit EditRun(const std::string& keys = "")
    {
        run = MakeWidgetRun(EditScript(keys), {RegisterUiHVBox, RegisterUiEdit});
        edit = dynamic_cast<FUiEdit*>(FindWidget(*run, "W.E"));
        probe = FProbeObject::FindLive("Probe");
        if (probe) {
            probe->SetDataKind("Send", EProbeData::kString);
            probe->SetDataKind("NotEmpty", EProbeData::kBool);
            probe->Clear();
        }
        if (edit)
            edit->SetRect(0, 0, 60, 20);
    }
    void SetText(const std::u16string& text)
    {
        FWideString w(text.c_str());
        edit->UiRelayMessage(FWideString("SetText"), &w);
        probe->Clear();
    }
    void Key(uint16_t code, bool shift = false) { edit->KeyEvent(code, false, shift); }
    void Type(const std::u16string& text)
    {
        for (char16_t c : text)
            Key(uint16_t(c));
    }
    std::u16string Text() const { return std::u16string(edit->GetText().GetBuffer()); }
};

TEST(EditBoxTest, SizeFollowsTheFontAndFrame)
{
    EditRun r;
    ASSERT_NE(r.edit, nullptr);
    EXPECT_EQ(r.edit->GetLayoutObject(false)->GetMinSize(), 14 + 2 + 2);
    EXPECT_EQ(r.edit->GetLayoutObject(true)->GetMinSize(), 60);
    auto missing = MakeWidgetRun(WidgetScript(R"(<WINDOW Name="W" DX="100" DY="50"><VBOX>
        <EDIT_BOX Name="E" MinHSize="60" HStretch="0" FrameColor="#000000"/></VBOX></WINDOW>)"),
                                 {RegisterUiHVBox, RegisterUiEdit});
    EXPECT_EQ(FindWidget(*missing, "W.E"), nullptr);
}

TEST(EditBoxTest, ShiftHomeSelectsAndTypingReplacesWithOneReport)
{
    EditRun r;
    ASSERT_NE(r.edit, nullptr);
    r.SetText(u"abc");
    r.Key(2);
    EXPECT_EQ(r.edit->GetCursor(), 3);
    r.Key(20, true);
    EXPECT_EQ(r.edit->GetAnchor(), 3);
    EXPECT_EQ(r.edit->GetCursor(), 0);
    int left = 0, width = 0;
    r.edit->GetHighlight(left, width);
    EXPECT_EQ(left, 2);
    EXPECT_EQ(width, 22);
    r.Type(u"x");
    EXPECT_EQ(r.Text(), u"x");
    EXPECT_EQ(r.edit->GetCursor(), 1);
    EXPECT_EQ(r.probe->GetMessages(), "Send,NotEmpty");
    EXPECT_EQ(r.probe->GetRecords()[0].data, "x");
    EXPECT_EQ(r.probe->GetRecords()[1].data, "true");

    // Nothing to delete: no change and no report.
    r.probe->Clear();
    r.Key(20);
    r.Key(8);
    r.Key(2);
    r.Key(127);
    EXPECT_EQ(r.probe->GetMessages(), "");
    r.Key(8);
    EXPECT_EQ(r.Text(), u"");
    EXPECT_EQ(r.probe->GetMessages(), "Send,NotEmpty");
    EXPECT_EQ(r.probe->GetRecords()[1].data, "false");
}

TEST(EditBoxTest, ClickPositionsAndHighlightUseThePrefixWidths)
{
    EditRun r;
    ASSERT_NE(r.edit, nullptr);
    r.SetText(u"abc");
    // x' = x - 2; the middle of the first character is at 3, of the last at 17.
    struct Case {
        int x, position;
    };
    const Case kCases[] = {{-50, 0}, {4, 0}, {5, 1}, {11, 1}, {12, 2}, {18, 2}, {19, 3}, {500, 3}};
    for (const Case& c : kCases)
        EXPECT_EQ(r.edit->PositionAt(c.x), c.position) << c.x;
    r.edit->MouseDown(12, 5, false, false);
    r.edit->MouseMove(19, 5);
    r.edit->MouseUp(19, 5, false, false);
    EXPECT_EQ(r.edit->GetAnchor(), 2);
    EXPECT_EQ(r.edit->GetCursor(), 3);
    int left = 0, width = 0;
    r.edit->GetHighlight(left, width);
    EXPECT_EQ(left, 1 + 14);
    EXPECT_EQ(width, 21 - 14 + 1);
    FWideString copied("unchanged");
    r.edit->Copy(copied);
    EXPECT_EQ(copied, "c");
    r.edit->Cut(copied);
    EXPECT_EQ(r.Text(), u"ab");
}

TEST(EditBoxTest, PastesYieldToTheLimitWithoutEatingTheText)
{
    EditRun r(R"(_MaxTextLen="5")");
    ASSERT_NE(r.edit, nullptr);
    r.SetText(u"abcd");
    r.Key(2);
    r.edit->Paste(FWideString("xyz"));
    EXPECT_EQ(r.Text(), u"abcdx");
    EXPECT_EQ(r.edit->GetCursor(), 5);
    // In the middle only the paste is cut: the text after the cursor stays.
    r.SetText(u"abcd");
    r.Key(145);
    r.Key(145);
    r.edit->Paste(FWideString("xyz"));
    EXPECT_EQ(r.Text(), u"abxcd");
    EXPECT_EQ(r.edit->GetCursor(), 3);
    // Typing at the limit changes nothing and reports nothing.
    r.probe->Clear();
    r.Type(u"q");
    EXPECT_EQ(r.Text(), u"abxcd");
    EXPECT_EQ(r.probe->GetMessages(), "");
    // A selection makes room for the paste.
    r.Key(20);
    r.Key(2, true);
    r.edit->Paste(FWideString("0123456789"));
    EXPECT_EQ(r.Text(), u"01234");
    // SetText is not limited.
    r.SetText(u"longer than five");
    EXPECT_EQ(r.Text(), u"longer than five");
}

TEST(EditBoxTest, TypingPastTheRightEdgeScrollsAndHomeScrollsBack)
{
    EditRun r;
    ASSERT_NE(r.edit, nullptr);
    r.SetText(u"");
    r.Type(u"abcdefghij");
    // Inner edges 2 and 58; the cursor after 70 pixels of text stays at the right edge.
    EXPECT_EQ(r.edit->GetScrollOffset(), 14);
    EXPECT_EQ(r.edit->GetCursorX(), 57);
    r.Key(146);
    r.Key(146);
    EXPECT_EQ(r.edit->GetScrollOffset(), 14);
    r.Key(20);
    EXPECT_EQ(r.edit->GetScrollOffset(), 0);
    r.Key(2);
    EXPECT_EQ(r.edit->GetScrollOffset(), 14);
    // Moving left past the hidden part keeps one character visible left of the cursor.
    for (int i = 0; i < 8; ++i)
        r.Key(146);
    EXPECT_EQ(r.edit->GetCursor(), 2);
    EXPECT_EQ(r.edit->GetScrollOffset(), 7);
}

TEST(EditBoxTest, EnterAndFocusLossReportTheNewString)
{
    EditRun r;
    ASSERT_NE(r.edit, nullptr);
    r.SetText(u"abc");
    r.edit->MouseDown(5, 5, false, false);
    r.edit->MouseUp(5, 5, false, false);
    EXPECT_TRUE(r.edit->IsFocused());
    EXPECT_EQ(r.probe->GetMessages(), "");
    // A click into the box that already has the focus reports once.
    r.edit->MouseDown(5, 5, false, false);
    r.edit->MouseUp(5, 5, false, false);
    EXPECT_EQ(r.probe->GetMessages(), "New");
    r.probe->Clear();
    r.Key(13);
    EXPECT_EQ(r.probe->GetMessages(), "New,Enter");
    EXPECT_FALSE(r.edit->IsFocused());

    // The cursor blinks only while focused.
    r.edit->Tick(400);
    EXPECT_FALSE(r.edit->IsCursorShown());
    EXPECT_TRUE(r.edit->UiRelayMessage(FWideString("GrabKeyboard"), nullptr));
    EXPECT_TRUE(r.edit->IsFocused());
    EXPECT_EQ(r.edit->GetCursor(), 0);
    EXPECT_TRUE(r.edit->IsCursorShown());
    r.edit->Tick(300);
    EXPECT_TRUE(r.edit->IsCursorShown());
    r.edit->Tick(30);
    EXPECT_FALSE(r.edit->IsCursorShown());
}

TEST(EditBoxTest, MessagesSetGetAndSendTheText)
{
    EditRun r;
    ASSERT_NE(r.edit, nullptr);
    FWideString out;
    EXPECT_FALSE(r.edit->UiRelayMessage(FWideString("GetText"), nullptr));
    EXPECT_FALSE(r.edit->UiRelayMessage(FWideString("SetText"), nullptr));
    FWideString title("Title");
    EXPECT_TRUE(r.edit->UiRelayMessage(FWideString("SetTextString"), &title));
    EXPECT_TRUE(r.edit->UiRelayMessage(FWideString("GetText"), &out));
    EXPECT_EQ(out, "Main");
    FWideString names[2] = {FWideString("Probe"), FWideString("Got")};
    r.probe->SetDataKind("Got", EProbeData::kString);
    r.probe->Clear();
    EXPECT_TRUE(r.edit->UiRelayMessage(FWideString("SendText"), names));
    ASSERT_EQ(r.probe->GetMessages(), "Got");
    EXPECT_EQ(r.probe->GetRecords()[0].data, "Main");
    EXPECT_TRUE(r.edit->UiRelayMessage(FWideString("EmptyText"), nullptr));
    EXPECT_EQ(r.Text(), u"");
    EXPECT_TRUE(r.edit->UiRelayMessage(FWideString("Disable"), nullptr));
    EXPECT_FALSE(r.edit->IsEnabled());
    EXPECT_FALSE(r.edit->UiRelayMessage(FWideString("Unknown"), nullptr));
}

TEST(EditBoxTest, SurrogatePairsStayTogether)
{
    EditRun r(R"(_MaxTextLen="6")");
    ASSERT_NE(r.edit, nullptr);
    // 日 𠮷 本: the middle character is a pair.
    r.SetText(u"\u65E5\U00020BB7\u672C");
    r.Key(2);
    EXPECT_EQ(r.edit->GetCursor(), 4);
    r.Key(146);
    EXPECT_EQ(r.edit->GetCursor(), 3);
    r.Key(146);
    EXPECT_EQ(r.edit->GetCursor(), 1);
    r.Key(145, true);
    EXPECT_EQ(r.edit->GetCursor(), 3);
    FWideString copied;
    r.edit->Copy(copied);
    EXPECT_EQ(std::u16string(copied.GetBuffer()), u"\U00020BB7");
    r.Key(20);
    r.Key(145);
    r.Key(145);
    EXPECT_EQ(r.edit->GetCursor(), 3);
    r.Key(8);
    EXPECT_EQ(r.Text(), u"\u65E5\u672C");
    r.Key(20);
    r.Type(u"\U00020BB7");
    EXPECT_EQ(r.Text(), u"\U00020BB7\u65E5\u672C");
    EXPECT_EQ(r.edit->GetCursor(), 2);
    r.Key(20);
    r.Key(127);
    EXPECT_EQ(r.Text(), u"\u65E5\u672C");

    // Clicks never land between the halves: x' 7..13 is the first half, 14..20 the second.
    r.SetText(u"a\U00020BB7");
    EXPECT_EQ(r.edit->PositionAt(2 + 13), 1);
    EXPECT_EQ(r.edit->PositionAt(2 + 14), 3);

    // A pair does not go in when only one unit is left, and a paste never ends on a first half.
    r.SetText(u"abcde");
    r.Key(2);
    r.Type(u"\U00020BB7");
    EXPECT_EQ(r.Text(), u"abcde");
    r.SetText(u"abcd");
    r.Key(2);
    r.edit->Paste(FWideString(u"x\U00020BB7"));
    EXPECT_EQ(r.Text(), u"abcdx");
    r.SetText(u"abcd");
    r.Key(2);
    r.edit->Paste(FWideString(u"\U00020BB7"));
    EXPECT_EQ(r.Text(), u"abcd\U00020BB7");
}

TEST(EditBoxTest, TextsFarLongerThanAnyPixmapStayWholeAndDraw)
{
    EditRun r;
    ASSERT_NE(r.edit, nullptr);
    std::u16string longText(200000, u'w');
    r.SetText(longText);
    r.Key(2);
    EXPECT_EQ(r.edit->GetCursor(), 200000);
    EXPECT_EQ(r.edit->GetScrollOffset(), 200000 * 7 + 2 - 58);
    r.Key(8);
    EXPECT_EQ(r.edit->GetText().GetLength(), 199999);
    FGenericUiWindow* window = FindWidgetWindow(*r.run, "W");
    ASSERT_NE(window, nullptr);
    window->Redraw();
    HeadlessPumpUntilIdle();

    // The default limit holds a paste of two million units to one million in all.
    r.SetText(u"");
    r.edit->Paste(FWideString(std::u16string(2000000, u'p').c_str()));
    EXPECT_EQ(r.edit->GetText().GetLength(), 1000000);
    window->Redraw();
}

} // namespace
