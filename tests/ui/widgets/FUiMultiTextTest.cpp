#include <gtest/gtest.h>

#include <string>

#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIUiPixmap.h"
#include "FUiMultiText.h"
#include "FUiScrollbar.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

// 101 pixels wide less a 17-pixel bar, a 2-pixel margin and one column: 11 units a
// line; 70 pixels high at a pitch of 14: five lines visible.
std::string MultiScript(const std::string& languages = "")
{
    std::string script = WidgetScript(R"(<WINDOW Name="W" BgColor="#E0E0E0" DX="300" DY="200"><VBOX>
    <MULTITEXT Name="M" AppFont="Body" MinHSize="100" MinVSize="70" HStretch="0" VStretch="0" MultiLine="Title"
        BGColor="#FFFFFF">
      <SCROLLBAR _Horizontal="false" Stretch="100" BgColor="#101010" BgClickColor="#202020"
        File_ButtonANormal="button_normal.png" File_ButtonAPressed="button_pressed.png"
        File_ButtonBNormal="button_normal.png" File_ButtonBPressed="button_pressed.png"
        File_Slider="button_normal.png" File_SliderKnurls="cursor_no.png" SliderResizeRect="4,4,11,11"/>
    </MULTITEXT>
    <MULTITEXT Name="NoBar" AppFont="Body" MinHSize="100" MinVSize="70" HStretch="0" VStretch="0"/>
  </VBOX></WINDOW>)");
    if (!languages.empty()) {
        const std::string german = R"(<LANGUAGE Name="German"/>)";
        script.replace(script.find(german), german.size(), languages);
    }
    return script;
}

struct MultiRun {
    std::unique_ptr<FUiTestApp> run;
    FUiMultiText* text = nullptr;
    FUiScrollbar* bar = nullptr;

    explicit MultiRun(const std::string& languages = "")
    {
        run = MakeWidgetRun(MultiScript(languages),
                            {RegisterUiHVBox, RegisterUiScrollbar, RegisterUiMultiText});
        text = dynamic_cast<FUiMultiText*>(FindWidget(*run, "W.M"));
        if (!text)
            return;
        bar = dynamic_cast<FUiScrollbar*>(text->GetScrollbar());
        // The widget takes whatever its box offers; the tests want the fixed size.
        text->SetRect(0, 0, 101, 70);
    }
    void SetText(const std::u16string& value)
    {
        FWideString w(value.c_str());
        text->UiRelayMessage(FWideString("SetText"), &w);
        text->EnsureLaidOut();
    }
    std::vector<std::u16string> Lines() const
    {
        std::vector<std::u16string> out;
        for (int i = 0; i < text->GetLineCount(); ++i)
            out.push_back(text->GetLine(i).GetBuffer());
        return out;
    }
};

TEST(MultiTextTest, AShortTextNeedsNoScrollBar)
{
    MultiRun r;
    ASSERT_NE(r.text, nullptr);
    ASSERT_NE(r.bar, nullptr);
    EXPECT_EQ(FindWidget(*r.run, "W.NoBar"), nullptr);
    EXPECT_EQ(r.text->GetRect().Width(), 101);
    EXPECT_EQ(r.text->GetAvailableWidth(), 81);
    r.text->EnsureLaidOut();
    EXPECT_EQ(r.text->GetLineCount(), 1);
    EXPECT_EQ(r.text->GetLine(0), "Main");
    EXPECT_EQ(r.bar->GetSurface(), 10);
    EXPECT_EQ(r.bar->GetWindowLength(), 10);
    EXPECT_EQ(r.bar->GetOffset(), 0);
    // Inside the widget the bar is not hit while it is not shown.
    EXPECT_EQ(r.text->HitTest(r.text->GetRect().right - 2, r.text->GetRect().top + 2), r.text);
}

TEST(MultiTextTest, LongTextsWrapAndScroll)
{
    MultiRun r;
    ASSERT_NE(r.text, nullptr);
    r.SetText(u"aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk");
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"aaaa bbbb", u"cccc dddd", u"eeee ffff", u"gggg hhhh",
                                                      u"iiii jjjj", u"kkkk"}));
    EXPECT_EQ(r.bar->GetSurface(), 6);
    EXPECT_EQ(r.bar->GetWindowLength(), 5);
    const FRect rect = r.text->GetRect();
    EXPECT_EQ(r.text->HitTest(rect.right - 2, rect.top + 30), r.bar);
    // The wheel goes to the bar, whose report scrolls the text.
    r.text->MouseWheel(rect.left + 5, rect.top + 5, 0, -3);
    EXPECT_EQ(r.text->GetTopLine(), 1);
    // "Scroll" beyond the end is clamped only when the text is laid out again.
    int far = 99;
    EXPECT_TRUE(r.text->UiRelayMessage(FWideString("Scroll"), &far));
    FindWidgetWindow(*r.run, "W")->Redraw();
    EXPECT_EQ(r.text->GetTopLine(), 99);
    FWideString language("English");
    EXPECT_TRUE(r.text->UiRelayMessage(FWideString("Set Language"), &language));
    r.text->EnsureLaidOut();
    EXPECT_EQ(r.text->GetTopLine(), 1);
    EXPECT_FALSE(r.text->UiRelayMessage(FWideString("Scroll"), nullptr));
}

TEST(MultiTextTest, WidthChangesBreakTheLinesAgain)
{
    MultiRun r;
    ASSERT_NE(r.text, nullptr);
    r.SetText(u"aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk");
    ASSERT_EQ(r.text->GetLineCount(), 6);
    // 50 pixels wider: 18 units a line.
    r.text->SetRect(0, 0, 151, 70);
    r.text->EnsureLaidOut();
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"aaaa bbbb cccc", u"dddd eeee ffff", u"gggg hhhh iiii",
                                                      u"jjjj kkkk"}));
    r.text->SetRect(0, 0, 101, 70);
    r.text->EnsureLaidOut();
    EXPECT_EQ(r.text->GetLineCount(), 6);
}

TEST(MultiTextTest, AddToListNamesTheSourceForTheNextLayout)
{
    MultiRun r;
    ASSERT_NE(r.text, nullptr);
    r.text->EnsureLaidOut();
    ASSERT_EQ(r.Lines(), (std::vector<std::u16string>{u"Main"}));
    FWideString name("Ok");
    EXPECT_TRUE(r.text->UiRelayMessage(FWideString("AddToList"), &name));
    EXPECT_FALSE(r.text->UiRelayMessage(FWideString("AddToList"), nullptr));
    r.text->EnsureLaidOut();
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"Main"})) << "laid-out lines stay";
    FWideString language("English");
    r.text->UiRelayMessage(FWideString("Set Language"), &language);
    r.text->EnsureLaidOut();
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"OK"}));
}

TEST(MultiTextTest, TagsLongWordsAndBlankLines)
{
    MultiRun r;
    ASSERT_NE(r.text, nullptr);
    r.SetText(u"one<BR>two<LF>three");
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"one", u" ", u"two", u"three"}));
    r.SetText(u"x abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"x", u"abcdefghijk", u"lmnopqrstuv", u"wxyz"}));
    // An all-blank paragraph neither shows nor swallows what follows it.
    r.SetText(u"first<LF>      <LF>last");
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"first", u"last"}));
    // An empty set text shows a single blank: nothing at all.
    r.SetText(u"");
    EXPECT_EQ(r.text->GetLineCount(), 0);
}

TEST(MultiTextTest, JapaneseLinesDoNotStartWithClosingMarks)
{
    MultiRun r(R"(<LANGUAGE Name="Japanese"/>)");
    ASSERT_NE(r.text, nullptr);
    r.run->GetApp()->SetLanguage(FWideString("Japanese"));
    r.SetText(u"あいうえおかきくけこさ。しすせ");
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"あいうえおかきくけこ", u"さ。しすせ"}));
    // East Asian text may break where its script changes; Latin text only at blanks.
    r.SetText(u"あいうえおかきくけabcdefgh");
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"あいうえおかきくけ", u"abcdefgh"}));
    r.run->GetApp()->SetLanguage(FWideString("English"));
    r.text->EnsureLaidOut();
    EXPECT_EQ(r.Lines(), (std::vector<std::u16string>{u"あいうえおかきくけab", u"cdefgh"}));
}

TEST(MultiTextTest, CopyGivesPlainLines)
{
    MultiRun r;
    ASSERT_NE(r.text, nullptr);
    r.SetText(u"a\nb");
    EXPECT_TRUE(r.text->UiRelayMessage(FWideString("CopyToClipboard"), nullptr));
    EXPECT_EQ(GetHeadlessDesktop().clipboard, "a b\r\n");
    EXPECT_TRUE(r.text->UiRelayMessage(FWideString("EmptyList"), nullptr));
    EXPECT_EQ(r.text->GetLineCount(), 0);
    EXPECT_FALSE(r.text->UiRelayMessage(FWideString("Unknown"), nullptr));
}

TEST(MultiTextTest, AVeryLongTextLaysOutAndScrollsToItsEnd)
{
    MultiRun r;
    ASSERT_NE(r.text, nullptr);
    std::u16string source;
    for (int i = 0; i < 50000; ++i)
        source += u"word word\n";
    r.SetText(source);
    EXPECT_EQ(r.text->GetLineCount(), 50000);
    EXPECT_EQ(r.bar->GetSurface(), 50000);
    r.bar->KeyEvent(18, false, false);
    const FUiScrollbarParts parts = r.bar->GetParts();
    r.bar->MouseDown(parts.thumb.left + 2, parts.thumb.top, false, false);
    r.bar->MouseMove(parts.thumb.left + 2, parts.thumb.top + 10000);
    EXPECT_EQ(r.text->GetTopLine(), 50000 - 5);
    FindWidgetWindow(*r.run, "W")->Redraw();
    HeadlessPumpUntilIdle();
}

} // namespace

namespace
{

std::string PixelText(FIUiPixmap* pixmap, int x, int y)
{
    FUiColor c;
    pixmap->GetPixel(x, y, c);
    return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue);
}

TEST(MultiTextTest, DrawsTheBarAndItsSeparatorOnlyForATallText)
{
    MultiRun r;
    ASSERT_NE(r.text, nullptr);
    FIUiPixmap* target = CreateUiPixmap(120, 80, false);
    ASSERT_NE(target, nullptr);
    const FRect clip(0, 0, 120, 80);
    target->FillRGBA(200, 200, 200, 255);
    r.text->Display(target, 0, 0, clip);
    EXPECT_EQ(PixelText(target, 4, 5), "0,0,0");         // "M" of "Main"
    EXPECT_EQ(PixelText(target, 83, 10), "255,255,255"); // no separator
    EXPECT_EQ(PixelText(target, 90, 5), "255,255,255");  // no bar
    EXPECT_EQ(PixelText(target, 110, 5), "200,200,200"); // outside

    r.SetText(u"aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk");
    target->FillRGBA(200, 200, 200, 255);
    r.text->Display(target, 0, 0, clip);
    EXPECT_EQ(PixelText(target, 83, 10), "0,0,0");    // separator
    EXPECT_EQ(PixelText(target, 84, 10), "0,0,0");    // the bar's own separator column
    EXPECT_EQ(PixelText(target, 90, 5), "40,80,120"); // button A
    EXPECT_EQ(PixelText(target, 40, 60), "0,0,0");    // "j" of the fifth line
    // Scrolled by one line, the last row shows "kkkk", which has nothing there.
    int one = 1;
    r.text->UiRelayMessage(FWideString("Scroll"), &one);
    target->FillRGBA(200, 200, 200, 255);
    r.text->Display(target, 0, 0, clip);
    EXPECT_EQ(PixelText(target, 4, 5), "0,0,0");
    EXPECT_EQ(PixelText(target, 40, 60), "255,255,255");
    ReleaseUiPixmap(target);
}

} // namespace
