#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "FUiTextLayout.h"

namespace
{

// The box font at 14 pixels: every unit 7 pixels, so n units take 7 n + 2 rendered.
bool BoxMeasure(const char16_t*, int length, int* widths)
{
    for (int i = 0; i < length; ++i)
        widths[i] = 7 * (i + 1);
    return true;
}

int Fit(int units)
{
    return 7 * units + 2;
}

std::vector<std::u16string> Lines(const std::u16string& source, int width, bool eastAsian = false)
{
    const FUiLineBreakResult result =
        BreakTextLines(FWideString(source.c_str()), width, eastAsian, 7, BoxMeasure);
    std::vector<std::u16string> out;
    for (const FUiTextLine& line : result.lines)
        out.push_back(line.length == 0
                          ? u" "
                          : std::u16string(result.text.GetBuffer() + line.start, size_t(line.length)));
    return out;
}

using L = std::vector<std::u16string>;

TEST(TextLayoutTest, BoundariesNeverSplitASurrogatePair)
{
    const std::u16string t = u"a\U00020BB7b";
    const char16_t* p = t.c_str();
    const int n = int(t.size());
    EXPECT_FALSE(IsUnitBoundary(p, n, 2));
    EXPECT_EQ(NextCharBoundary(p, n, 1), 3);
    EXPECT_EQ(PrevCharBoundary(p, n, 3), 1);
    EXPECT_EQ(FloorCharBoundary(p, n, 2), 1);
    EXPECT_EQ(NextCharBoundary(p, n, 99), 4);
    EXPECT_EQ(PrevCharBoundary(p, n, -3), 0);
}

TEST(TextLayoutTest, EllipsisKeepsTheLongestPrefixThatFits)
{
    const FWideString text("abcdefghijklmnopqrstuvwxyzab"); // 28 units, 198 pixels
    EXPECT_EQ(FitTextToWidth(text, false, 60, BoxMeasure), "abcde...");
    EXPECT_EQ(FitTextToWidth(text, false, 198, BoxMeasure), text);
    EXPECT_EQ(FitTextToWidth(FWideString("a"), false, 8, BoxMeasure), "##");
    EXPECT_EQ(FitTextToWidth(FWideString("abcd"), false, Fit(3), BoxMeasure), "...");
    EXPECT_EQ(FitTextToWidth(FWideString(""), false, 0, BoxMeasure), "");
    // The last character dropped is a whole pair.
    const FWideString pairs(u"\U00020BB7\U00020BB7\U00020BB7");
    EXPECT_EQ(std::u16string(FitTextToWidth(pairs, false, Fit(5), BoxMeasure).GetBuffer()), u"\U00020BB7...");
    EXPECT_EQ(std::u16string(FitTextToWidth(pairs, false, Fit(4), BoxMeasure).GetBuffer()), u"...");
    // A text far wider than any pixmap is shortened by arithmetic alone.
    const FWideString huge(std::u16string(500000, u'x').c_str());
    EXPECT_EQ(FitTextToWidth(huge, false, Fit(5), BoxMeasure), "xx...");
}

TEST(TextLayoutTest, PathsLoseLeadingFoldersFirst)
{
    struct Case {
        const char* path;
        int units;
        const char* shown;
    };
    const Case kCases[] = {
        {"D:\\a\\b\\c\\file.q7f", 17, "D:\\a\\b\\c\\file.q7f"},
        {"D:\\a\\b\\c\\file.q7f", 16, "D:\\...\\file.q7f"},
        {"D:\\a\\b\\c\\file.q7f", 15, "D:\\...\\file.q7f"},
        {"D:\\a\\b\\c\\file.q7f", 14, "D:\\...\\"},
        {"D:\\a\\b\\c\\file.q7f", 7, "D:\\...\\"},
        {"D:\\a\\b\\c\\file.q7f", 6, "##"},
        {"/home/me/a/b.q7f", 15, "/.../me/a/b.q7f"},
        {"/home/me/a/b.q7f", 12, "/.../a/b.q7f"},
        {"/home/me/a/b.q7f", 11, "/.../b.q7f"},
        {"/home/me/a/b.q7f", 9, "/.../"},
        {"/home/me/a/b.q7f", 4, "##"},
        {"/home/me:2020/b.q7f", 13, "/.../b.q7f"},
        {"noseparator.q7f", 5, "\\...\\"},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(FitTextToWidth(FWideString(c.path), true, Fit(c.units), BoxMeasure), c.shown)
            << c.path << " in " << c.units;
    EXPECT_EQ(PathSeparatorOf(FWideString("a:b")), u':');
    EXPECT_EQ(PathSeparatorOf(FWideString("a:b/c")), u'/');
}

TEST(TextLayoutTest, LinesBreakAtBlanksAndCutLongWords)
{
    struct Case {
        std::u16string source;
        int units;
        L lines;
    };
    const Case kCases[] = {
        {u"hello world foo", 10, {u"hello", u"world foo"}},
        {u"abcdefghijklmnopqrstuvwxy", 10, {u"abcdefghij", u"klmnopqrst", u"uvwxy"}},
        {u"ab cdefghijklmnop", 10, {u"ab", u"cdefghijkl", u"mnop"}},
        {u"one<BR>two", 10, {u"one", u" ", u"two"}},
        {u"one<LF>two", 10, {u"one", u"two"}},
        {u"a<BR><BR>b", 10, {u"a", u" ", u" ", u"b"}},
        {u"a<LF>     <LF>b", 10, {u"a", u"b"}},
        {u"      ", 10, {}},
        {u"a\nb\r\nc\td", 10, {u"a b cd"}},
        {u"  lead", 10, {u"lead"}},
        {u"abc", -5, {u"a", u"b", u"c"}},
        {u"ab\U00020BB7\U00020BB7\U00020BB7", 5, {u"ab\U00020BB7", u"\U00020BB7\U00020BB7"}},
        {u"\U00020BB7", 0, {u"\U00020BB7"}},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(Lines(c.source, Fit(c.units)), c.lines) << std::string(c.source.begin(), c.source.end());
}

TEST(TextLayoutTest, EastAsianTextBreaksAnywhereButNotBeforeClosingMarks)
{
    struct Case {
        std::u16string source;
        int units;
        L lines;
    };
    const Case kCases[] = {
        {u"あいうえおかきくけ", 5, {u"あいうえお", u"かきくけ"}},
        {u"あいうえお。かき", 5, {u"あいうえ", u"お。かき"}},
        {u"あいうえお、かき", 5, {u"あいうえ", u"お、かき"}},
        {u"あいうえおーかき", 5, {u"あいうえ", u"おーかき"}},
        {u"日\n本", 5, {u"日本"}},
        {u"ab\ncd", 5, {u"ab cd"}},
        {u"abcあいう", 4, {u"abcあ", u"いう"}},
        // A mark that cannot move its line's only character stays where it is.
        {u"あ。", 1, {u"あ", u"。"}},
    };
    for (const Case& c : kCases) {
        const L lines = Lines(c.source, Fit(c.units), true);
        EXPECT_EQ(lines, c.lines) << c.units;
        for (size_t i = 1; i < lines.size(); ++i) {
            if (lines[i - 1].size() > 1) {
                EXPECT_NE(lines[i][0], u'\u3002');
            }
        }
    }
}

TEST(TextLayoutTest, LongTextsLoseNothingAndFailuresStopCleanly)
{
    std::u16string source;
    for (int i = 0; i < 100000; ++i)
        source += u"word" + std::u16string(i % 3 == 0 ? u"\n" : u" ");
    const L lines = Lines(source, Fit(10));
    size_t letters = 0;
    for (const std::u16string& line : lines) {
        EXPECT_LE(line.size(), 10u);
        for (char16_t c : line)
            letters += c != u' ';
    }
    EXPECT_EQ(letters, 400000u);
    EXPECT_EQ(lines.size(), 50000u);

    const FUiLineBreakResult failed = BreakTextLines(FWideString("some text"), 100, false, 7,
                                                     [](const char16_t*, int, int*) { return false; });
    EXPECT_FALSE(failed.complete);
    EXPECT_TRUE(failed.lines.empty());
}

TEST(TextLayoutTest, ClipboardFormJoinsLinesAndSpellsOutTags)
{
    struct Case {
        const char* source;
        const char* plain;
    };
    const Case kCases[] = {
        {"a\nb", "a b\r\n"},      {"a \r\nb", "a b\r\n"}, {"  x<BR>  y", "x\r\n\r\ny\r\n"},
        {"x<LF>y", "x\r\ny\r\n"}, {"\n\nx", "x\r\n"},     {"", ""},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(PlainTextForClipboard(FWideString(c.source)), c.plain) << c.source;
    std::u16string lines;
    for (int i = 0; i < 200000; ++i)
        lines += u"  line\r\n";
    EXPECT_EQ(PlainTextForClipboard(FWideString(lines.c_str())).GetLength(), 200000 * 5 - 1 + 2);
}

TEST(TextLayoutTest, DecimalsSaturateAndComparisonsMatchCase)
{
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case kCases[] = {
        {"  42abc", 42},
        {"-5", -5},
        {"+7", 7},
        {"", 0},
        {"x1", 0},
        {"-", 0},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(ParseDecimalSaturated(FWideString(c.text)), c.value) << c.text;
    EXPECT_TRUE(WideTextEquals(FWideString("abc"), FWideString("abc")));
    EXPECT_FALSE(WideTextEquals(FWideString("abc"), FWideString("ABC")));
    EXPECT_FALSE(WideTextEquals(FWideString("abc"), FWideString("abcd")));
}

} // namespace
