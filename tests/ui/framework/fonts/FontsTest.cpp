#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiDateText.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FWideString.h"
#include "FontAttributes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

namespace
{

using Props = std::initializer_list<std::pair<const char*, const char*>>;

struct TreeDeleter {
    void operator()(FPropList* p) const { DeletePropList(p); }
};
using Tree = std::unique_ptr<FPropList, TreeDeleter>;

FPropList* Add(FPropList* parent, const char* name, Props props = {})
{
    auto* node = new FPropList(parent, name);
    for (const auto& [key, value] : props)
        node->AddProp(key, value);
    return node;
}

struct PixmapDeleter {
    void operator()(FIUiPixmap* p) const { ReleaseUiPixmap(p); }
};
using Pixmap = std::unique_ptr<FIUiPixmap, PixmapDeleter>;

FUiColor At(FIUiPixmap& p, int x, int y)
{
    FUiColor c;
    p.GetPixel(x, y, c);
    return c;
}

// An APPFONT of height 21 (the default) with English at 20 and Japanese at 30 pixels.
Tree MakeFontTag()
{
    Tree font(Add(nullptr, "APPFONT", {{"Name", "Body"}, {"Color", "#102030"}}));
    FPropList* faces = Add(font.get(), "MSWFONT");
    Add(faces, "English", {{"Fontname", "Sans"}, {"Height", "20"}});
    Add(faces, "Japanese", {{"Fontname", "Gothic"}, {"Height", "30"}});
    Add(faces, "German"); // no Fontname: dropped
    // Only the first platform child counts.
    Add(Add(font.get(), "MSWFONT"), "Korean", {{"Fontname", "Batang"}});
    return font;
}

class Fonts : public testing::Test
{
protected:
    void SetUp() override { SelectOsTextLayer(FOsTextLayerKind::kBoxFont); }
};

TEST_F(Fonts, FontFollowsTheSelectedLanguageOnly)
{
    Tree tag = MakeFontTag();
    FUiFont font(false, true);
    ASSERT_TRUE(font.Init(tag.get()));
    EXPECT_EQ(font.GetName(), "Body");

    // Nothing before a language is chosen.
    EXPECT_EQ(font.RenderText(nullptr, FWideString("ab"), false), nullptr);
    int line = -1;
    int average = -1;
    font.GetFontMetrics(nullptr, line, average);
    EXPECT_EQ(line, 0);
    EXPECT_EQ(average, 0);
    int widths[2] = {};
    EXPECT_FALSE(font.MeasureText(nullptr, FWideString("ab"), widths));
    FUiColor colour(1, 1, 1, 1);
    font.GetColor(colour);
    EXPECT_EQ(colour, FUiColor(1, 1, 1, 1));

    EXPECT_TRUE(font.SelectLanguage(FWideString("English")));
    Pixmap english(font.RenderText(nullptr, FWideString("ab"), false));
    ASSERT_TRUE(english);
    EXPECT_EQ(english->GetHeight(), 20);
    font.GetColor(colour);
    EXPECT_EQ(colour, FUiColor(0x10, 0x20, 0x30, 255)); // from the APPFONT tag

    EXPECT_FALSE(font.SelectLanguage(FWideString("Korean")));
    EXPECT_FALSE(font.SelectLanguage(FWideString("German")));
    Pixmap still(font.RenderText(nullptr, FWideString("ab"), false));
    EXPECT_EQ(still->GetHeight(), 20);
    EXPECT_TRUE(font.SelectLanguage(FWideString("Japanese")));
    font.GetFontMetrics(nullptr, line, average);
    EXPECT_EQ(line, 30);
    EXPECT_EQ(average, 15);
    EXPECT_TRUE(font.MeasureText(nullptr, FWideString("ab"), widths));
    EXPECT_EQ(widths[1], 30);
}

TEST_F(Fonts, FontInitNeedsANameAndAFace)
{
    struct Case {
        const char* name;
        Tree tag;
        bool mac;
        bool ok;
    };
    Tree noName(Add(nullptr, "APPFONT"));
    Add(Add(noName.get(), "MSWFONT"), "English", {{"Fontname", "Sans"}});
    Tree noFaces(Add(nullptr, "APPFONT", {{"Name", "A"}}));
    Add(Add(noFaces.get(), "MSWFONT"), "English");
    Tree macOnly(Add(nullptr, "APPFONT", {{"Name", "A"}}));
    Add(Add(macOnly.get(), "MACFONT"), "English", {{"Fontname", "Sans"}});
    Case cases[] = {
        {"no Name", std::move(noName), false, false},
        {"no Fontname", std::move(noFaces), false, false},
        {"Mac faces on Windows", Tree(macOnly->Clone()), false, false},
        {"Mac faces on a Mac", std::move(macOnly), true, true},
    };
    for (Case& c : cases) {
        FUiFont font(c.mac, !c.mac);
        EXPECT_EQ(font.Init(c.tag.get()), c.ok) << c.name;
    }
}

TEST(FontAttributesRead, FlagsFollowTheKeysAndTheBase)
{
    Tree tag(Add(nullptr, "X", {{"Height", "30"}, {"Color", "#FF000080"}, {"Bold", "T"}}));
    FontAttributes plain;
    ReadFontAttributes(plain, tag.get(), nullptr);
    EXPECT_EQ(plain.m_iHeight, 30);
    EXPECT_TRUE(plain.m_bHeightSet);
    EXPECT_EQ(plain.m_Color, FUiColor(255, 0, 0, 128));
    EXPECT_TRUE(plain.m_bBold && plain.m_bBoldSet);
    EXPECT_FALSE(plain.m_bItalicSet);
    EXPECT_EQ(plain.m_DisabledColor, FUiColor(128, 128, 128, 255));
    EXPECT_EQ(plain.m_BgColor, FUiColor(255, 255, 255, 0));

    // With a base: missing keys take the base's values, flags are found-or-base.
    Tree child(Add(nullptr, "English", {{"Italic", "T"}}));
    FontAttributes entry;
    ReadFontAttributes(entry, child.get(), &plain);
    EXPECT_EQ(entry.m_iHeight, 30);
    EXPECT_TRUE(entry.m_bHeightSet);
    EXPECT_TRUE(entry.m_bItalic && entry.m_bItalicSet);
    EXPECT_FALSE(entry.m_bUnderlineSet);
    EXPECT_EQ(entry.m_Color, FUiColor(255, 0, 0, 128));
}

class DisplayStrings : public Fonts
{
protected:
    void SetUp() override
    {
        Fonts::SetUp();
        fontTag = Add(nullptr, "APPFONT", {{"Name", "Body"}});
        Add(Add(fontTag, "MSWFONT"), "English", {{"Fontname", "Sans"}});
        ASSERT_TRUE(font.Init(fontTag));
        font.SelectLanguage(FWideString("English"));
    }
    void TearDown() override { DeletePropList(fontTag); }

    FUiFontLookup Lookup()
    {
        return [this](const FWideString& name) -> FIUiFont* { return name == "Body" ? &font : nullptr; };
    }

    FPropList* fontTag = nullptr;
    FUiFont font{false, true};
};

TEST_F(DisplayStrings, UnknownLanguageFallsBackToTheFirstEntry)
{
    Tree tag(Add(nullptr, "DISPLAY_STRING", {{"Name", "Hello"}, {"AppFont", "Body"}}));
    Add(tag.get(), "English", {{"Text", "Hello"}});
    Add(tag.get(), "Spanish"); // no Text: dropped
    Add(tag.get(), "German", {{"Text", "Hallo"}});
    FUiMultiLangString s;
    ASSERT_TRUE(s.Init(Lookup(), tag.get()));
    EXPECT_EQ(s.GetText(), nullptr);
    EXPECT_EQ(s.Render(nullptr, false, nullptr), nullptr);
    EXPECT_TRUE(s.SelectLanguage(FWideString("German")));
    EXPECT_EQ(*s.GetText(), "Hallo");
    EXPECT_FALSE(s.SelectLanguage(FWideString("French")));
    EXPECT_EQ(*s.GetText(), "Hello");
    EXPECT_FALSE(s.SelectLanguage(FWideString("Spanish")));
    EXPECT_TRUE(s.HasText(FWideString("Hallo")));
    EXPECT_FALSE(s.HasText(FWideString("Hola")));
}

TEST_F(DisplayStrings, InitRefusesIncompleteTags)
{
    struct Case {
        const char* name;
        const char* tagName;
        Props props;
        bool withText;
    };
    const Case cases[] = {
        {"wrong tag", "TEXT", {{"Name", "A"}, {"AppFont", "Body"}}, true},
        {"no Name", "DISPLAY_STRING", {{"AppFont", "Body"}}, true},
        {"no AppFont", "DISPLAY_STRING", {{"Name", "A"}}, true},
        {"unknown AppFont", "DISPLAY_STRING", {{"Name", "A"}, {"AppFont", "Title"}}, true},
        {"no Text", "DISPLAY_STRING", {{"Name", "A"}, {"AppFont", "Body"}}, false},
    };
    for (const Case& c : cases) {
        Tree tag(Add(nullptr, c.tagName, c.props));
        Add(tag.get(), "English", c.withText ? Props{{"Text", "x"}} : Props{});
        FUiMultiLangString s;
        EXPECT_FALSE(s.Init(Lookup(), tag.get())) << c.name;
    }
}

TEST_F(DisplayStrings, CallerOverridesApplyToWhatTheStringSets)
{
    Tree tall(Add(nullptr, "DISPLAY_STRING", {{"Name", "A"}, {"AppFont", "Body"}, {"Height", "30"}}));
    Add(tall.get(), "English", {{"Text", "ab"}});
    Tree plain(Add(nullptr, "DISPLAY_STRING", {{"Name", "B"}, {"AppFont", "Body"}}));
    Add(plain.get(), "English", {{"Text", "ab"}});
    FUiMultiLangString setsHeight;
    FUiMultiLangString leavesHeight;
    ASSERT_TRUE(setsHeight.Init(Lookup(), tall.get()));
    ASSERT_TRUE(leavesHeight.Init(Lookup(), plain.get()));
    setsHeight.SelectLanguage(FWideString("English"));
    leavesHeight.SelectLanguage(FWideString("English"));

    FontAttributes small;
    small.m_iHeight = 12;
    small.m_bHeightSet = true;
    Pixmap a(setsHeight.Render(nullptr, false, nullptr));
    Pixmap b(setsHeight.Render(nullptr, false, &small));
    Pixmap c(leavesHeight.Render(nullptr, false, &small));
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->GetHeight(), 30);
    EXPECT_EQ(b->GetHeight(), 12);
    EXPECT_EQ(c->GetHeight(), 21);
}

TEST_F(DisplayStrings, BackgroundAndDisabledColours)
{
    FontAttributes box;
    box.m_BgColor = FUiColor(0, 0, 255, 255);
    box.m_bBgColorSet = true;
    Pixmap bare(font.RenderText(nullptr, FWideString("a a"), false));
    Pixmap boxed(font.RenderText(&box, FWideString("a a"), false));
    ASSERT_TRUE(bare && boxed);
    EXPECT_EQ(boxed->GetWidth(), bare->GetWidth());
    EXPECT_EQ(bare->GetAlpha(0, 0), 0);
    EXPECT_EQ(At(*boxed, 0, 0), FUiColor(0, 0, 255, 255));
    EXPECT_EQ(At(*boxed, 12, 5), FUiColor(0, 0, 255, 255)); // the space
    EXPECT_EQ(At(*boxed, 1, 5), FUiColor(0, 0, 0, 255));    // the glyph, black on blue

    Pixmap disabled(font.RenderText(nullptr, FWideString("a"), true));
    EXPECT_EQ(At(*disabled, 1, 5), FUiColor(128, 128, 128, 255));
    FontAttributes red;
    red.m_Color = FUiColor(255, 0, 0, 255);
    red.m_bColorSet = true;
    Pixmap redDisabled(font.RenderText(&red, FWideString("a"), true));
    EXPECT_EQ(At(*redDisabled, 1, 5), FUiColor(255, 0, 0, 255));
}

TEST(DateText, ShortDateAndTimeWithoutTimeZoneShift)
{
    // The headless backend (the tests' default) formats in the "C" locale. A zone far
    // from UTC shows that no shift is applied.
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    struct Case {
        uint32_t seconds;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {0, "01/01/70", "00:00:00"},
        {4294967295u, "02/07/06", "06:28:15"},
        {951782400u, "02/29/00", "00:00:00"},
    };
    for (const Case& c : cases) {
        FWideString date;
        FWideString time;
        FormatDateString(date, c.seconds);
        FormatTimeString(time, c.seconds);
        EXPECT_EQ(date, c.date) << c.seconds;
        EXPECT_EQ(time, c.time) << c.seconds;
    }
}

} // namespace
