#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiDynaString.h"
#include "FUiTextArray.h"
#include "FUiTextList.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

std::string Items(int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += "<ITEM Name=\"item" + std::to_string(i) + "\"/>";
    return out;
}

const std::string kTexts = R"(<PROBE Name="Probe"/>
  <WINDOW Name="W" BgColor="#E0E0E0" DX="300" DY="200"><VBOX>
    <TEXTARRAY Name="A" AppFont="Body" NumStrings="3" Text1="Ok"/>
    <TEXTARRAY Name="Two" AppFont="Body" NumStrings="2" Text1="off" Text2="a longer on"/>
    <TEXTARRAY Name="None" AppFont="Body" NumStrings="0"/>
    <TEXTARRAY Name="Huge" AppFont="Body" NumStrings="2147483647"/>
    <TEXTLIST Name="L" Font="DejaVu Sans" FontSize="14" FontColor="#000000" StartIndex="10" IncMsg="Up"
        DecMsg="Down"><ITEM Name="a"/><ITEM Name="bb"/><ITEM Name="ccc"/></TEXTLIST>
    <TEXTLIST Name="Many" Font="DejaVu Sans" FontSize="14" FontColor="#000000" StartIndex="-1" IncMsg="Up"
        DecMsg="Down">)" + Items(70) +
                           R"(</TEXTLIST>
    <TEXTLIST Name="NoFont" FontSize="14" FontColor="#000000"><ITEM Name="a"/></TEXTLIST>
    <TEXTLIST Name="Empty" Font="DejaVu Sans" FontSize="14" FontColor="#000000"/>
    <DYNA_STRING Name="D" AppFont="Body" MinHSize="5" HStretch="0" VStretch="0" _DisplayString="Title"/>
    <DYNA_STRING Name="NoFontD" AppFont="Missing" MinHSize="5" HStretch="0" VStretch="0"/>
  </VBOX></WINDOW>
  <REPLY_REQUEST Name="R"/>)";

std::unique_ptr<FUiTestApp> TextsRun()
{
    return MakeWidgetRun(WidgetScript(kTexts), {RegisterUiHVBox, RegisterUiTextArray, RegisterUiTextList,
                                                RegisterUiDynaString, RegisterUiReplyRequest});
}

TEST(TextArrayTest, MissingTextsShowTheirKeysAndIndexesClamp)
{
    auto run = TextsRun();
    auto* a = dynamic_cast<FUiTextArray*>(FindWidget(*run, "W.A"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(FindWidget(*run, "W.None"), nullptr);
    EXPECT_EQ(FindWidget(*run, "W.Huge"), nullptr);
    ASSERT_EQ(a->GetCount(), 3);
    EXPECT_EQ(a->GetTextAt(1), "Text2");
    EXPECT_EQ(a->GetTextAt(2), "Text3");
    // As wide as its widest text, whichever is shown.
    EXPECT_EQ(a->GetRect().Width(), 5 * 7 + 2);
    struct Case {
        int value;
        int index;
    };
    for (const Case& c : {Case{-5, 0}, Case{99, 2}, Case{1, 1}, Case{INT_MIN, 0}}) {
        int v = c.value;
        EXPECT_TRUE(a->UiRelayMessage(FWideString("StringNum"), &v));
        EXPECT_EQ(a->GetIndex(), c.index) << c.value;
        EXPECT_EQ(a->GetRect().Width(), 37);
    }
    struct TextCase {
        const char* text;
        int index;
    };
    for (const TextCase& c : {TextCase{" 2x", 2}, TextCase{"-1", 0}, TextCase{"99999999999999", 2},
                              TextCase{"", 0}, TextCase{"+1", 1}}) {
        FWideString text(c.text);
        EXPECT_TRUE(a->UiRelayMessage(FWideString("StrStringNum"), &text));
        EXPECT_EQ(a->GetIndex(), c.index) << c.text;
    }
    bool on = true;
    EXPECT_FALSE(a->UiRelayMessage(FWideString("BoolString"), &on));
    EXPECT_EQ(a->GetIndex(), 1);
    EXPECT_FALSE(a->UiRelayMessage(FWideString("StringNum"), nullptr));

    auto* two = dynamic_cast<FUiTextArray*>(FindWidget(*run, "W.Two"));
    ASSERT_NE(two, nullptr);
    EXPECT_TRUE(two->UiRelayMessage(FWideString("BoolString"), &on));
    EXPECT_EQ(two->GetIndex(), 1);
    EXPECT_EQ(two->GetTextPixmap()->GetWidth(), 11 * 7 + 2);
    EXPECT_TRUE(two->UiRelayMessage(FWideString("Hide"), nullptr));
    EXPECT_FALSE(two->IsVisible());
    EXPECT_EQ(two->HitTest(two->GetRect().left + 1, two->GetRect().top + 1), nullptr);
}

TEST(TextListTest, StepsWithinItsItems)
{
    auto run = TextsRun();
    auto* list = dynamic_cast<FUiTextList*>(FindWidget(*run, "W.L"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(FindWidget(*run, "W.NoFont"), nullptr);
    EXPECT_EQ(FindWidget(*run, "W.Empty"), nullptr);
    EXPECT_EQ(list->GetIndex(), 2u);
    EXPECT_FALSE(list->UiRelayMessage(FWideString("Up"), nullptr));
    EXPECT_TRUE(list->UiRelayMessage(FWideString("Down"), nullptr));
    EXPECT_EQ(list->GetIndex(), 1u);
    EXPECT_EQ(list->GetRect().Width(), 2 * 7 + 2);
    EXPECT_TRUE(list->UiRelayMessage(FWideString("Down"), nullptr));
    EXPECT_FALSE(list->UiRelayMessage(FWideString("Down"), nullptr));
    EXPECT_FALSE(list->UiRelayMessage(FWideString("Set Language"), nullptr));

    auto* many = dynamic_cast<FUiTextList*>(FindWidget(*run, "W.Many"));
    ASSERT_NE(many, nullptr);
    EXPECT_EQ(many->GetCount(), 64);
    EXPECT_EQ(many->GetIndex(), 63u);
}

TEST(DynaStringTest, SwitchesBetweenTextAndDisplayString)
{
    auto run = TextsRun();
    auto* d = dynamic_cast<FUiDynaString*>(FindWidget(*run, "W.D"));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(FindWidget(*run, "W.NoFontD"), nullptr);
    EXPECT_FALSE(d->IsTextMode());
    EXPECT_EQ(d->GetShownText(), "Main");
    EXPECT_EQ(d->GetLayoutObject(true)->GetMinSize(), 4 * 7 + 2);
    FWideString text("hello!");
    EXPECT_TRUE(d->UiRelayMessage(FWideString("SetText"), &text));
    EXPECT_TRUE(d->IsTextMode());
    EXPECT_EQ(d->GetLayoutObject(true)->GetMinSize(), 6 * 7 + 2);
    EXPECT_TRUE(d->UiRelayMessage(FWideString("SetText"), nullptr));
    EXPECT_EQ(d->GetShownText(), " ");
    FWideString title("Title");
    EXPECT_TRUE(d->UiRelayMessage(FWideString("SetDisplayString"), &title));
    EXPECT_FALSE(d->IsTextMode());
    EXPECT_EQ(d->GetShownText(), "Main");
    FWideString missing("NoSuchString");
    EXPECT_TRUE(d->UiRelayMessage(FWideString("SetDisplayString"), &missing));
    EXPECT_EQ(d->GetTextPixmap(), nullptr);
    EXPECT_EQ(d->GetLayoutObject(true)->GetMinSize(), 0);
    run->GetApp()->SetLanguage(FWideString("German"));
    EXPECT_TRUE(d->UiRelayMessage(FWideString("SetDisplayString"), &title));
    EXPECT_EQ(d->GetShownText(), "Hauptfenster");
}

TEST(ReplyRequestTest, ForwardsExactlyTheTargetsAnswer)
{
    auto run = TextsRun();
    FIUiObject* reply = FindWidget(*run, "R");
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->GetRect().Width(), 0);
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    probe->Clear();
    EXPECT_FALSE(reply->UiRelayMessage(FWideString("Reply"), nullptr));
    EXPECT_FALSE(reply->UiRelayMessage(FWideString("Relay"), nullptr));
    EXPECT_TRUE(reply->UiRelayMessage(FWideString("Relay"), static_cast<FIUiRelay*>(probe)));
    EXPECT_TRUE(reply->UiRelayMessage(FWideString("Reply"), nullptr));
    probe->SetAnswer(false);
    EXPECT_FALSE(reply->UiRelayMessage(FWideString("Reply2"), nullptr));
    EXPECT_EQ(probe->GetMessages(), "Reply,Reply2");
    EXPECT_FALSE(reply->UiRelayMessage(FWideString("Other"), nullptr));
}

} // namespace
