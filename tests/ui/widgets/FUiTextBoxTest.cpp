#include <gtest/gtest.h>

#include <string>

#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIUiPixmap.h"
#include "FUiTextBox.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

const char* kBoxes = R"(<WINDOW Name="W" BgColor="#E0E0E0" DX="300" DY="100"><VBOX>
    <TEXT_BOX Name="T" AppFont="Body" MinHSize="60" HStretch="0" VStretch="0" _Text="abcdefghijklmnopqrstuvwxyzab"/>
    <TEXT_BOX Name="P" AppFont="Body" DirPath="true" MinHSize="10" HStretch="1" VStretch="0"
        _Text="D:\a\b\c\file.q7f"/>
    <TEXT_BOX Name="I" Font="DejaVu Sans" FontSize="14" FontColor="#FF0000" MinHSize="60" HStretch="0"
        VStretch="0" _Text="ab"/>
    <DYNA_TEXT Name="D" AppFont="Body" MinHSize="10" HStretch="0" VStretch="0" _Text="ab"/>
    <TEXT_BOX Name="Bad" AppFont="Body" MinHSize="60" HStretch="0"/>
  </VBOX></WINDOW>)";

struct BoxRun {
    std::unique_ptr<FUiTestApp> run =
        MakeWidgetRun(WidgetScript(kBoxes), {RegisterUiHVBox, RegisterUiTextBox});
    FUiTextBox* Box(const char* name) { return dynamic_cast<FUiTextBox*>(FindWidget(*run, name)); }
};

FUiColor GlyphColour(FUiTextBox* box)
{
    FUiColor colour;
    box->GetTextPixmap()->GetPixel(2, 5, colour);
    return colour;
}

TEST(TextBoxTest, FixedBoxesShortenTheirTextToTheWidth)
{
    BoxRun r;
    FUiTextBox* text = r.Box("W.T");
    FUiTextBox* path = r.Box("W.P");
    ASSERT_NE(text, nullptr);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(r.Box("W.Bad"), nullptr);
    EXPECT_FALSE(text->IsDynamic());
    EXPECT_EQ(text->GetRect().Width(), 60);
    EXPECT_EQ(text->GetShownText(), "abcde...");
    EXPECT_EQ(text->GetTextPixmap()->GetWidth(), 58);
    // The maximum is the whole text's width, measured without drawing it.
    EXPECT_TRUE(text->GetLayoutObject(true)->HasMaxSize());
    EXPECT_EQ(text->GetLayoutObject(true)->GetMaxSize(), 28 * 7 + 2);
    path->SetRect(0, 0, 110, 14);
    EXPECT_STREQ(path->GetShownText().GetNarrow(), "D:\\...\\file.q7f");
    path->SetRect(0, 0, 40, 14);
    EXPECT_STREQ(path->GetShownText().GetNarrow(), "##");
    path->SetRect(0, 0, 200, 14);
    EXPECT_STREQ(path->GetShownText().GetNarrow(), "D:\\a\\b\\c\\file.q7f");
}

TEST(TextBoxTest, SetTextChangesOnlyOnANewText)
{
    BoxRun r;
    FUiTextBox* text = r.Box("W.T");
    ASSERT_NE(text, nullptr);
    FWideString same("abcdefghijklmnopqrstuvwxyzab");
    FGenericUiWindow* window = FindWidgetWindow(*r.run, "W");
    window->Redraw();
    HeadlessPumpUntilIdle();
    EXPECT_TRUE(text->UiRelayMessage(FWideString("SetText"), &same));
    EXPECT_TRUE(window->GetDirtyList().empty());
    FWideString shorter("abc");
    EXPECT_TRUE(text->UiRelayMessage(FWideString("SetText"), &shorter));
    EXPECT_EQ(text->GetShownText(), "abc");
    EXPECT_FALSE(window->GetDirtyList().empty());
    EXPECT_TRUE(text->UiRelayMessage(FWideString("SetText"), nullptr));
    EXPECT_EQ(text->GetText(), "");
    EXPECT_EQ(text->GetTextPixmap(), nullptr);
    FWideString got("x");
    EXPECT_TRUE(text->UiRelayMessage(FWideString("GetText"), &got));
    EXPECT_EQ(got, "");
    EXPECT_FALSE(text->UiRelayMessage(FWideString("GetText"), nullptr));
}

TEST(TextBoxTest, DynamicTextSizesItselfToItsText)
{
    BoxRun r;
    FUiTextBox* dyna = r.Box("W.D");
    ASSERT_NE(dyna, nullptr);
    EXPECT_TRUE(dyna->IsDynamic());
    EXPECT_EQ(dyna->GetLayoutObject(true)->GetMinSize(), 16);
    EXPECT_EQ(dyna->GetLayoutObject(false)->GetMinSize(), 14);
    FWideString longer("abcdef");
    EXPECT_TRUE(dyna->UiRelayMessage(FWideString("SetText"), &longer));
    EXPECT_EQ(dyna->GetLayoutObject(true)->GetMinSize(), 44);
    EXPECT_EQ(dyna->GetRect().Width(), 44);
    FWideString sameSize("uvwxyz");
    EXPECT_TRUE(dyna->UiRelayMessage(FWideString("SetText"), &sameSize));
    EXPECT_EQ(dyna->GetShownText(), "uvwxyz");
    EXPECT_EQ(dyna->GetLayoutObject(true)->GetMinSize(), 44);
    EXPECT_TRUE(dyna->UiRelayMessage(FWideString("SetText"), nullptr));
    EXPECT_EQ(dyna->GetLayoutObject(true)->GetMinSize(), 0);
    EXPECT_EQ(dyna->GetLayoutObject(false)->GetMinSize(), 0);
}

TEST(TextBoxTest, DisablingGreysOnlyApplicationFontText)
{
    BoxRun r;
    FUiTextBox* text = r.Box("W.T");
    FUiTextBox* inlineText = r.Box("W.I");
    ASSERT_NE(text, nullptr);
    ASSERT_NE(inlineText, nullptr);
    EXPECT_EQ(GlyphColour(text).red, 0);
    EXPECT_EQ(GlyphColour(inlineText).red, 255);
    EXPECT_TRUE(text->UiRelayMessage(FWideString("Disable"), nullptr));
    EXPECT_TRUE(inlineText->UiRelayMessage(FWideString("Disable"), nullptr));
    EXPECT_FALSE(text->IsEnabled());
    EXPECT_EQ(GlyphColour(text).red, 128);
    EXPECT_EQ(GlyphColour(inlineText).red, 255);
    bool on = true;
    EXPECT_TRUE(text->UiRelayMessage(FWideString("SetEnabled"), &on));
    EXPECT_EQ(GlyphColour(text).red, 0);
    EXPECT_FALSE(text->UiRelayMessage(FWideString("SetEnabled"), nullptr));
}

} // namespace
