#include "FFreeTypeTextLayer.h"
#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FOsFont.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace
{

constexpr char16_t kDejaVu[] = u"DejaVu Sans";

struct PixmapDeleter {
    void operator()(FIUiPixmap* p) const { ReleaseUiPixmap(p); }
};
using Pixmap = std::unique_ptr<FIUiPixmap, PixmapDeleter>;

Pixmap Text(const char16_t* text, const char16_t* face, int height, bool bold = false, bool underline = false,
            int* widths = nullptr)
{
    return Pixmap(CreateTextUiPixmap(text, face, height, bold, false, underline, FUiColor(0, 0, 0, 255),
                                     widths, false));
}

int CoveredPixels(FIUiPixmap& p, int fromRow = 0)
{
    int n = 0;
    for (int y = fromRow; y < p.GetHeight(); ++y) {
        for (int x = 0; x < p.GetWidth(); ++x)
            n += p.GetAlpha(x, y) > 0 ? 1 : 0;
    }
    return n;
}

class TextLayer : public testing::Test
{
protected:
    void SetUp() override
    {
        SelectOsTextLayer(FOsTextLayerKind::kSystemFonts);
        // The character-set rules look at the locale; these tests want a non-Japanese one.
        setenv("LC_ALL", "C.UTF-8", 1);
    }
};

TEST_F(TextLayer, PinnedFontHasStableMetrics)
{
    FFreeTypeTextLayer layer;
    const FOsFont font = ResolveOsFont(kDejaVu, 16, false, false, false, false);
    const std::string file = layer.GetFontFileFor(font, U'H');
    ASSERT_NE(file.find("DejaVuSans.ttf"), std::string::npos)
        << "the set-up script installs DejaVu Sans; got " << file;

    int line = 0;
    int average = 0;
    ASSERT_TRUE(MeasureUiText(kDejaVu, 16, false, false, false, &line, &average));
    EXPECT_EQ(line, 16); // a cell height
    EXPECT_EQ(average, 7);
    int widths[11] = {};
    ASSERT_TRUE(MeasureUiTextExtents(u"Hello world", kDejaVu, 16, false, false, false, widths));
    const int expected[11] = {10, 18, 22, 26, 34, 38, 49, 57, 63, 67, 76};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(widths[i], expected[i]) << i;

    int drawnWidths[11] = {};
    Pixmap text = Text(u"Hello world", kDejaVu, 16, false, false, drawnWidths);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->GetWidth(), 78);
    EXPECT_EQ(text->GetHeight(), 16);
    EXPECT_EQ(drawnWidths[10], 76);
    for (int y = 0; y < 16; ++y) {
        EXPECT_EQ(text->GetAlpha(0, y), 0) << y;
        EXPECT_EQ(text->GetAlpha(77, y), 0) << y;
    }
    // The left stem of the H: about one pixel of ink per row over the cap height.
    int stemRows = 0;
    for (int y = 0; y < 16; ++y)
        stemRows += text->GetAlpha(2, y) + text->GetAlpha(3, y) >= 200 ? 1 : 0;
    EXPECT_GE(stemRows, 9);
}

TEST_F(TextLayer, MissingGlyphsComeFromFallbackFonts)
{
    FFreeTypeTextLayer layer;
    const FOsFont font = ResolveOsFont(kDejaVu, 16, false, false, false, false);
    for (char32_t c : {U'日', U'語', U'한'}) {
        const std::string file = layer.GetFontFileFor(font, c);
        EXPECT_FALSE(file.empty());
        EXPECT_EQ(file.find("DejaVu"), std::string::npos)
            << "no CJK fallback font for U+" << std::hex << uint32_t(c);
    }
    for (const char16_t* text : {u"日本語", u"한국어"}) {
        int widths[3] = {};
        Pixmap p = Text(text, kDejaVu, 16, false, false, widths);
        ASSERT_TRUE(p);
        EXPECT_GT(widths[0], 8);
        EXPECT_EQ(p->GetWidth(), widths[2] + 2);
        // Each of the three glyphs has ink in its own cell.
        int previous = 0;
        for (int i = 0; i < 3; ++i) {
            int ink = 0;
            for (int y = 0; y < 16; ++y) {
                for (int x = 1 + previous; x < 1 + widths[i]; ++x)
                    ink += p->GetAlpha(x, y) > 0 ? 1 : 0;
            }
            EXPECT_GT(ink, 20) << "glyph " << i;
            previous = widths[i];
        }
    }
}

TEST_F(TextLayer, PrefixWidthsHaveOneEntryPerUnit)
{
    // A character outside the basic plane takes two units; the lead unit alone adds nothing.
    const char16_t text[] = u"a\U0001D400b";
    int widths[4] = {};
    ASSERT_TRUE(MeasureUiTextExtents(text, kDejaVu, 20, false, false, false, widths));
    EXPECT_EQ(widths[1], widths[0]);
    EXPECT_GT(widths[2], widths[1]);
    EXPECT_GT(widths[3], widths[2]);
    int drawn[4] = {};
    Pixmap p = Text(text, kDejaVu, 20, false, false, drawn);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetWidth(), widths[3] + 2);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(drawn[i], widths[i]);
}

TEST_F(TextLayer, StylesChangeTheGlyphs)
{
    Pixmap regular = Text(u"Wide", kDejaVu, 20);
    Pixmap bold = Text(u"Wide", kDejaVu, 20, true);
    Pixmap underlined = Text(u"Wide", kDejaVu, 20, false, true);
    ASSERT_TRUE(regular && bold && underlined);
    EXPECT_GT(bold->GetWidth(), regular->GetWidth());
    EXPECT_GT(CoveredPixels(*bold), CoveredPixels(*regular));
    // The underline lies below the baseline, where "Wide" has no ink.
    EXPECT_EQ(underlined->GetWidth(), regular->GetWidth());
    EXPECT_GT(CoveredPixels(*underlined, 16), CoveredPixels(*regular, 16) + regular->GetWidth() / 2);
}

TEST_F(TextLayer, UnknownFacesAndBadSizes)
{
    // An unknown face falls back to the default font; a height that is not positive fails.
    Pixmap fallback = Text(u"Text", u"No Such Face 123", 16);
    ASSERT_TRUE(fallback);
    EXPECT_GT(CoveredPixels(*fallback), 0);
    EXPECT_FALSE(Text(u"Text", kDejaVu, 0));
    EXPECT_FALSE(Text(u"Text", kDejaVu, 100000));
    EXPECT_FALSE(Text(std::u16string(3000, u'W').c_str(), kDejaVu, 16));
    EXPECT_FALSE(MeasureUiText(kDejaVu, -3, false, false, false, nullptr, nullptr));
}

TEST_F(TextLayer, ChineseFaceRenders)
{
    Pixmap p = Text(u"中文", u"chinese", 16);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetHeight(), 19);
    EXPECT_GT(CoveredPixels(*p), 40);
}

TEST(OsFont, CharacterSetRules)
{
    struct Case {
        const char16_t* face;
        bool bold;
        bool japanese;
        FOsFont expected;
    };
    const Case cases[] = {
        {u"Chinese", true, true, {"", "zh-tw", 21, 400, false, false}},
        {u"CHINESE", false, false, {"", "zh-tw", 19, 400, false, false}},
        {u"DejaVu Sans", true, true, {"DejaVu Sans", "ja", 16, 700, false, false}},
        {u"DejaVu Sans", true, false, {"DejaVu Sans", "", 16, 700, false, false}},
        {u"Chinese Sans", false, false, {"Chinese Sans", "", 16, 400, false, false}},
    };
    for (const Case& c : cases) {
        const FOsFont f = ResolveOsFont(c.face, 16, c.bold, false, false, c.japanese);
        EXPECT_EQ(f, c.expected) << std::u16string(c.face).size() << " " << c.japanese;
    }
    EXPECT_EQ(CreateOsFont(nullptr, 16, false, false, false), nullptr);

    setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_TRUE(IsOsJapaneseSystem());
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_FALSE(IsOsJapaneseSystem());
}

} // namespace
