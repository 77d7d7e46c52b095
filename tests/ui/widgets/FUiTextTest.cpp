#include <gtest/gtest.h>

#include <string>

#include "FCodePage.h"
#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiText.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

std::string TextScript(const std::string& texts)
{
    return WidgetScript(R"(<PROBE Name="Probe"/>
      <LANGUAGE Name="Lang"><ON_INIT Relay="Probe" Message="Init"/><ON_PING Relay="Probe" Message="Ping"/></LANGUAGE>
      <WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="100"><VBOX>)" +
                        texts + "</VBOX></WINDOW>");
}

std::unique_ptr<FUiTestApp> TextRun(const std::string& texts)
{
    return MakeWidgetRun(TextScript(texts), {RegisterUiHVBox, RegisterUiText, RegisterUiLanguage});
}

FUiText* Text(FUiTestApp& run, const char* name)
{
    return dynamic_cast<FUiText*>(FindWidget(run, name));
}

// The first column, from the left of the target, where something was drawn.
int FirstDrawnColumn(FIUiPixmap* target)
{
    for (int x = 0; x < target->GetWidth(); ++x) {
        for (int y = 0; y < target->GetHeight(); ++y) {
            FUiColor c;
            target->GetPixel(x, y, c);
            if (!(c == FUiColor(255, 255, 255, 255)))
                return x;
        }
    }
    return -1;
}

int FirstOpaqueColumn(FIUiPixmap* picture)
{
    for (int x = 0; x < picture->GetWidth(); ++x) {
        for (int y = 0; y < picture->GetHeight(); ++y) {
            if (picture->GetAlpha(x, y) != 0)
                return x;
        }
    }
    return -1;
}

TEST(TextTest, JustificationAndMinimumSize)
{
    auto run = TextRun(R"(
        <TEXT Name="Centre" DisplayString="Title" AppFont="Body" _MinHSize="100" _MinVSize="30"/>
        <TEXT Name="Right" DisplayString="Title" AppFont="Body" _MinHSize="100" _CenterJust="false"/>
        <TEXT Name="Left" DisplayString="Title" AppFont="Body" _MinHSize="100" _CenterJust="false"
              _RightJust="false"/>
        <TEXT Name="Own" DisplayString="Title"/>)");
    ASSERT_TRUE(run->GetInitResult());
    struct Case {
        const char* name;
        int expectedLeft; // of the text pixmap inside a 100-wide text, -1: centred
    };
    FIUiPixmap* target = CreateUiPixmap(120, 40, false);
    for (const Case& c : {Case{"W.Centre", -1}, Case{"W.Right", -2}, Case{"W.Left", 0}}) {
        FUiText* text = Text(*run, c.name);
        ASSERT_NE(text, nullptr) << c.name;
        FIUiPixmap* picture = text->GetTextPixmap();
        ASSERT_NE(picture, nullptr) << c.name;
        EXPECT_EQ(text->GetRect().Width(), 100) << c.name;
        // With an application font the text is at least a line high whatever _MinVSize says.
        EXPECT_GE(text->GetLayoutObject(false)->GetMinSize(), 14) << c.name;
        EXPECT_TRUE(text->GetLayoutObject(true)->m_bFixed);
        const int w = picture->GetWidth();
        const int left = c.expectedLeft == -1 ? (100 - w) / 2 : c.expectedLeft == -2 ? 100 - w : 0;
        target->FillRGBA(255, 255, 255, 255);
        text->Display(target, -text->GetRect().left, -text->GetRect().top, FRect(0, 0, 120, 40));
        EXPECT_EQ(FirstDrawnColumn(target), left + FirstOpaqueColumn(picture)) << c.name;
    }
    EXPECT_EQ(Text(*run, "W.Centre")->GetRect().Height(), 30);
    // Without an application font the display string renders with its own.
    EXPECT_NE(Text(*run, "W.Own")->GetTextPixmap(), nullptr);
    // Offered another size by its box the text keeps its own.
    FUiText* own = Text(*run, "W.Own");
    const int width = own->GetRect().Width();
    own->SetRect(3, 4, 500, 500);
    EXPECT_EQ(RectText(own->GetRect()),
              RectText(FRect(3, 4, 3 + width, 4 + own->GetLayoutObject(false)->GetSize())));
    ReleaseUiPixmap(target);
}

TEST(TextTest, EnablingAndVisibility)
{
    auto run = TextRun(R"(<TEXT Name="T" DisplayString="Title" AppFont="Body">
        <ON_PRESS Relay="Probe" Message="Pressed"/></TEXT>)");
    ASSERT_TRUE(run->GetInitResult());
    FUiText* text = Text(*run, "W.T");
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    ASSERT_TRUE(text && probe);
    FIUiPixmap* first = text->GetTextPixmap();
    const int firstWidth = first->GetWidth();
    bool value = true;
    EXPECT_TRUE(text->UiRelayMessage(FWideString("SetEnabled"), &value));
    EXPECT_EQ(text->GetTextPixmap(), first); // the same value: nothing re-rendered
    EXPECT_FALSE(text->UiRelayMessage(FWideString("SetEnabled"), nullptr));
    EXPECT_FALSE(text->UiRelayMessage(FWideString("Enable"), nullptr));
    value = false;
    EXPECT_TRUE(text->UiRelayMessage(FWideString("SetEnabled"), &value));
    ASSERT_NE(text->GetTextPixmap(), nullptr);
    // Disabled text keeps the application font (and so its size), in the disabled colour.
    EXPECT_EQ(text->GetTextPixmap()->GetWidth(), firstWidth);
    FIUiPixmap* disabled = text->GetTextPixmap();
    FUiColor c;
    disabled->GetPixel(FirstOpaqueColumn(disabled), disabled->GetHeight() / 2, c);
    EXPECT_EQ(c.red, 128);

    probe->Clear();
    EXPECT_TRUE(text->MouseDown(1, 1, false, false));
    EXPECT_EQ(probe->GetMessages(), ""); // disabled: no event, the click still taken
    value = true;
    text->UiRelayMessage(FWideString("SetEnabled"), &value);
    EXPECT_TRUE(text->MouseDown(1, 1, false, false));
    EXPECT_EQ(probe->GetMessages(), "Pressed");

    FIUiPixmap* shown = text->GetTextPixmap();
    const FRect r = text->GetRect();
    EXPECT_EQ(text->HitTest(r.left, r.top), text);
    EXPECT_TRUE(text->UiRelayMessage(FWideString("Hide"), nullptr));
    EXPECT_EQ(text->HitTest(r.left, r.top), nullptr);
    FIUiPixmap* target = CreateUiPixmap(200, 50, false);
    target->FillRGBA(255, 255, 255, 255);
    text->Display(target, 0, 0, FRect(0, 0, 200, 50));
    EXPECT_EQ(FirstDrawnColumn(target), -1);
    EXPECT_TRUE(text->UiRelayMessage(FWideString("Show"), nullptr));
    EXPECT_EQ(text->GetTextPixmap(), shown); // shown again without re-rendering
    bool visible = false;
    EXPECT_TRUE(text->UiRelayMessage(FWideString("Visibility"), &visible));
    EXPECT_FALSE(text->IsVisible());
    EXPECT_FALSE(text->UiRelayMessage(FWideString("Visibility"), nullptr));
    EXPECT_TRUE(text->UiRelayMessage(FWideString("ToggleVisibility"), nullptr));
    EXPECT_TRUE(text->IsVisible());
    EXPECT_FALSE(text->UiRelayMessage(FWideString("NoSuchMessage"), nullptr));
    ReleaseUiPixmap(target);
}

TEST(TextTest, LanguageChangeRelaysOutTheText)
{
    auto run = TextRun(R"(<TEXT Name="T" DisplayString="Title" AppFont="Body"/>)");
    ASSERT_TRUE(run->GetInitResult());
    FUiText* text = Text(*run, "W.T");
    FWideString shown;
    EXPECT_TRUE(text->UiRelayMessage(FWideString("GetDisplayString"), &shown));
    EXPECT_EQ(Utf8FromWide(shown), "Main");
    const int before = text->GetRect().Width();
    run->GetApp()->SetLanguage(FWideString("German"));
    EXPECT_TRUE(text->UiRelayMessage(FWideString("GetDisplayString"), &shown));
    EXPECT_EQ(Utf8FromWide(shown), "Hauptfenster");
    ASSERT_NE(text->GetTextPixmap(), nullptr);
    EXPECT_GT(text->GetRect().Width(), before);
    EXPECT_EQ(text->GetRect().Width(), text->GetTextPixmap()->GetWidth());
    EXPECT_FALSE(text->UiRelayMessage(FWideString("Set Language"), nullptr));
    EXPECT_FALSE(text->UiRelayMessage(FWideString("GetDisplayString"), nullptr));
}

TEST(TextTest, MissingDisplayStringsLeaveNoTextAndNoListener)
{
    auto run = TextRun(R"(<TEXT Name="NoKey" AppFont="Body"/>
        <TEXT Name="Unknown" DisplayString="NoSuchString" AppFont="Body"/>
        <TEXT Name="BadFont" DisplayString="Title" AppFont="NoSuchFont"/>)");
    ASSERT_TRUE(run->GetInitResult());
    EXPECT_EQ(FindWidget(*run, "W.NoKey"), nullptr);
    EXPECT_EQ(FindWidget(*run, "W.Unknown"), nullptr);
    // A font that does not exist falls back to the display string's own.
    ASSERT_NE(Text(*run, "W.BadFont"), nullptr);
    EXPECT_NE(Text(*run, "W.BadFont")->GetTextPixmap(), nullptr);
    // The deleted texts were listening; a language change must not reach them (the sanitizers watch).
    run->GetApp()->SetLanguage(FWideString("German"));
}

TEST(LanguageTest, TellsTheLanguageAtStartAndOnPing)
{
    auto run = TextRun("");
    ASSERT_TRUE(run->GetInitResult());
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    ASSERT_NE(probe, nullptr);
    const auto lastString = [&](const char* message) -> std::string {
        for (auto it = probe->GetRecords().rbegin(); it != probe->GetRecords().rend(); ++it) {
            if (it->message == message && it->pointer)
                return Utf8FromWide(*static_cast<FWideString*>(it->pointer));
        }
        return "none";
    };
    EXPECT_EQ(lastString("Init"), "English");
    auto* language = dynamic_cast<FUiLanguage*>(run->GetApp()->GetUiRelay(FWideString("Lang")));
    ASSERT_NE(language, nullptr);
    probe->Clear();
    EXPECT_FALSE(language->UiRelayMessage(FWideString("Ping"), nullptr));
    EXPECT_EQ(probe->GetMessages(), "");
    run->GetApp()->SetLanguage(FWideString("German"));
    int any = 0;
    EXPECT_TRUE(language->UiRelayMessage(FWideString("Ping"), &any));
    EXPECT_EQ(lastString("Ping"), "German");
    EXPECT_FALSE(language->UiRelayMessage(FWideString("Set Language"), nullptr));
    EXPECT_EQ(language->GetLayoutObject(true)->GetMinSize(), 5);
}

} // namespace
