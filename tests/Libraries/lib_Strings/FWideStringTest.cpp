#include <gtest/gtest.h>

#include <string>

#include "FWideString.h"

namespace
{

std::u16string Units(const FWideString& s)
{
    return std::u16string(s.GetBuffer(), s.GetLength());
}

} // namespace

TEST(FWideString, EmptyStringOwnsATerminatedBuffer)
{
    const FWideString cases[] = {FWideString(), FWideString(static_cast<const char*>(nullptr)),
                                 FWideString(static_cast<const char16_t*>(nullptr)), FWideString("")};
    for (const FWideString& s : cases) {
        EXPECT_EQ(0, s.GetLength());
        EXPECT_TRUE(s.IsEmpty());
        ASSERT_NE(nullptr, s.GetBuffer());
        EXPECT_EQ(0, s.GetBuffer()[0]);
        EXPECT_STREQ("", s.GetNarrow());
    }
}

TEST(FWideString, NarrowTextIsWidenedAsSignedBytes)
{
    // Explicit signed bytes, so the test means the same where char is unsigned.
    const signed char bytes[] = {0x63, 0x61, 0x66, static_cast<signed char>(0xE9), 0};
    const char* text = reinterpret_cast<const char*>(bytes);
    FWideString s(text);
    ASSERT_EQ(4, s.GetLength());
    EXPECT_EQ(u'c', s.GetBuffer()[0]);
    EXPECT_EQ(0xFFE9, s.GetBuffer()[3]);
    EXPECT_STREQ("caf?", s.GetNarrow());
    EXPECT_TRUE(s == text);

    FWideString appended;
    appended += text;
    appended += static_cast<char>(0x80);
    EXPECT_EQ(0xFF80, appended.GetBuffer()[4]);
    EXPECT_EQ(0, FWideString(text).CompareNoCase(text));
}

TEST(FWideString, NarrowCopyAndAsciiCopyHaveDifferentThresholds)
{
    FWideString s;
    s.Append(u'a');
    s.Append(127);
    s.Append(128);
    s.Append(0x4E2D);
    EXPECT_STREQ("a???", s.GetNarrow());

    char ascii[8];
    EXPECT_EQ(4, WideToAscii(s.GetBuffer(), ascii, sizeof ascii));
    EXPECT_EQ('a', ascii[0]);
    EXPECT_EQ(127, ascii[1]);
    EXPECT_EQ('?', ascii[2]);
    EXPECT_EQ('?', ascii[3]);
    EXPECT_EQ(0, ascii[4]);
}

TEST(FWideString, WideToAsciiRespectsTheDestinationSize)
{
    char dest[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(3, WideToAscii(u"abcdef", dest, 4));
    EXPECT_STREQ("abc", dest);
    // A size of 0 writes nothing at all.
    dest[0] = 'x';
    EXPECT_EQ(0, WideToAscii(u"abc", dest, 0));
    EXPECT_EQ('x', dest[0]);
    EXPECT_EQ(0, WideToAscii(u"abc", dest, 1));
    EXPECT_EQ(0, dest[0]);
}

TEST(FWideString, NarrowCopyIsRefilledOnEveryCall)
{
    FWideString s("abc");
    EXPECT_STREQ("abc", s.GetNarrow());
    // Same length, new content.
    s += '\b';
    s += 'x';
    EXPECT_STREQ("abx", s.GetNarrow());
    FWideString upper("ABC");
    upper.GetNarrow();
    upper.ToLower();
    EXPECT_STREQ("abc", upper.GetNarrow());
    EXPECT_TRUE(upper == u"abc");
}

TEST(FWideString, InclusiveRangeConstructor)
{
    const char16_t* text = u"hello";
    EXPECT_EQ(u"", Units(FWideString(text + 1, text)));
    EXPECT_EQ(u"h", Units(FWideString(text, text)));
    EXPECT_EQ(u"ell", Units(FWideString(text + 1, text + 3)));

    FWideString s("abcdef");
    s.Assign(s.GetBuffer() + 2, s.GetBuffer() + 4);
    EXPECT_EQ(u"cde", Units(s));
    const char* narrow = "xyz";
    s.Assign(narrow, narrow + 1);
    EXPECT_EQ(u"xy", Units(s));
    s.Assign(narrow + 1, narrow);
    EXPECT_TRUE(s.IsEmpty());
}

TEST(FWideString, AssignmentFormsAndSelfAssignment)
{
    FWideString s("abc");
    s = s.GetBuffer();
    EXPECT_EQ(u"abc", Units(s));
    const FWideString& alias = s;
    s = alias;
    EXPECT_EQ(u"abc", Units(s));
    s = static_cast<const char16_t*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    s = "q";
    EXPECT_EQ(u"q", Units(s));
    s.Clear();
    EXPECT_TRUE(s.IsEmpty());
    // Assignment copies every unit, as the copy constructor does.
    FWideString withNul("a");
    withNul.Append(0);
    withNul.Append(u'b');
    FWideString assigned("old");
    assigned = withNul;
    EXPECT_EQ(std::u16string(u"a\0b", 3), Units(assigned));
    EXPECT_EQ(std::u16string(u"a\0b", 3), Units(FWideString(withNul)));
    FWideString copy(u"zz");
    FWideString other(copy);
    copy += u"y";
    EXPECT_EQ(u"zz", Units(other));
}

TEST(FWideString, AppendAndBackspaceRules)
{
    struct Case {
        const char* name;
        const char16_t* start;
        void (*edit)(FWideString&);
        const char16_t* expected;
    };
    const Case cases[] = {
        {"+= 0 does nothing", u"ab", [](FWideString& s) { s += char16_t(0); }, u"ab"},
        {"+= 8 deletes last", u"ab", [](FWideString& s) { s += char16_t(8); }, u"a"},
        {"+= 8 on empty", u"", [](FWideString& s) { s += char16_t(8); }, u""},
        {"narrow += 8", u"ab", [](FWideString& s) { s += '\b'; }, u"a"},
        {"narrow += 0", u"ab", [](FWideString& s) { s += '\0'; }, u"ab"},
        {"+= other", u"ab", [](FWideString& s) { s += u'c'; }, u"abc"},
        {"+= empty text", u"ab", [](FWideString& s) { s += ""; }, u"ab"},
        {"+= self", u"ab", [](FWideString& s) { s += s; }, u"abab"},
        {"Insert past end", u"ab", [](FWideString& s) { s.Insert(u'z', 99); }, u"abz"},
        {"Insert at 0", u"ab", [](FWideString& s) { s.Insert(u"xy", 0); }, u"xyab"},
        {"Insert empty", u"ab", [](FWideString& s) { s.Insert(u"", 1); }, u"ab"},
        {"Erase middle", u"abcde", [](FWideString& s) { s.Erase(1, 2); }, u"ade"},
        {"Erase count cut", u"abcde", [](FWideString& s) { s.Erase(3, 10); }, u"abc"},
        {"Erase at length", u"abc", [](FWideString& s) { s.Erase(3, 2); }, u"abc"},
        {"Erase count 0", u"abc", [](FWideString& s) { s.Erase(0, 0); }, u"abc"},
        {"DropRight 1", u"abc", [](FWideString& s) { s.DropRight(1); }, u"ab"},
        {"ToLower ASCII only", u"AbC\u00C9", [](FWideString& s) { s.ToLower(); }, u"abc\u00C9"},
    };
    for (const Case& c : cases) {
        FWideString s(c.start);
        c.edit(s);
        EXPECT_EQ(std::u16string(c.expected), Units(s)) << c.name;
        EXPECT_EQ(0, s.GetBuffer()[s.GetLength()]) << c.name;
    }

    FWideString s;
    s.Append(8);
    s.Append(0);
    ASSERT_EQ(2, s.GetLength());
    EXPECT_EQ(8, s.GetBuffer()[0]);
    EXPECT_EQ(0, s.GetBuffer()[1]);
}

TEST(FWideString, UnitByUnitAppendsReuseTheirRoom)
{
    // Built one unit at a time, the buffer moves only a few dozen times, not once per unit.
    FWideString s;
    std::u16string expected;
    int moves = 0;
    const char16_t* buffer = s.GetBuffer();
    for (int i = 0; i < 100000; ++i) {
        const char16_t unit = static_cast<char16_t>(u'a' + i % 26);
        s.Append(unit);
        expected.push_back(unit);
        if (s.GetBuffer() != buffer) {
            ++moves;
            buffer = s.GetBuffer();
        }
    }
    EXPECT_LT(moves, 40);
    EXPECT_EQ(expected, Units(s));
    EXPECT_EQ(0, s.GetBuffer()[s.GetLength()]);

    // Appends into spare room: from the string itself, after a drop, and seen by the narrow copy.
    FWideString t;
    for (char16_t unit : {u'a', u'b', u'c'})
        t.Append(unit);
    EXPECT_STREQ("abc", t.GetNarrow());
    t.DropRight(2);
    t += t;
    EXPECT_EQ(u"aa", Units(t));
    t += u"xyz";
    t.Insert(u'-', 1);
    EXPECT_EQ(u"a-axyz", Units(t));
    EXPECT_STREQ("a-axyz", t.GetNarrow());
    EXPECT_EQ(0, t.GetBuffer()[t.GetLength()]);
    const FWideString copy(t);
    EXPECT_TRUE(copy == t);
}

TEST(FWideString, InsertsBeforeTheEndUseTheRoomThereIs)
{
    // Each insert used to double the capacity even with room to spare.
    FWideString s(u"0123456789012345678901234567890123");
    std::u16string expected = Units(s);
    for (int i = 0; i < 10000; ++i) {
        const char16_t unit = static_cast<char16_t>(u'a' + i % 26);
        s.Insert(unit, 0);
        expected.insert(expected.begin(), unit);
        ASSERT_LE(s.GetCapacity(), 2 * s.GetLength()) << i;
    }
    EXPECT_EQ(expected, Units(s));

    // Middle inserts, also of the string's own units, stay exact.
    FWideString t(u"abcdef");
    t.Insert(u"XY", 3);
    t.Insert(t.GetBuffer() + 1, 2);
    EXPECT_EQ(u"abbcXYdefcXYdef", Units(t));
    EXPECT_EQ(0, t.GetBuffer()[t.GetLength()]);
    EXPECT_LE(t.GetCapacity(), 2 * t.GetLength());
}

TEST(FWideString, DropRightReturnsTheLength)
{
    FWideString s("abc");
    EXPECT_EQ(3, s.DropRight(5));
    EXPECT_EQ(u"abc", Units(s));
    EXPECT_EQ(1, s.DropRight(2));
    EXPECT_EQ(0, s.DropRight(1));
    EXPECT_EQ(0, s.GetBuffer()[0]);
}

TEST(FWideString, EqualityIsFullEquality)
{
    FWideString s("abc");
    EXPECT_TRUE(s == "abc");
    EXPECT_FALSE(s == "ab");
    EXPECT_FALSE(s == "abcd");
    EXPECT_TRUE(s == u"abc");
    EXPECT_FALSE(s == u"ab");
    EXPECT_TRUE(s != u"abd");
    EXPECT_TRUE(s != FWideString("ab"));
    EXPECT_TRUE(FWideString() == "");
    EXPECT_FALSE(FWideString() == "a");
    EXPECT_FALSE(s == static_cast<const char*>(nullptr));
    EXPECT_TRUE(FWideString("ab") < FWideString("abc"));
    EXPECT_TRUE(FWideString("a\x7F") < FWideString(u"a\u0080"));
}

TEST(FWideString, CompareNoCase)
{
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int sign;
    };
    const Case cases[] = {
        {u"abc", u"ABC", 0}, {u"abc", u"ABD", -1}, {u"abc", u"ab", 1},        {u"ab", u"abc", -1},
        {u"", u"", 0},       {u"[", u"a", 1},      {u"\u00E9", u"\u00C9", 1}, {u"Zeta", u"alpha", 1},
        {u"_", u"A", 1},     {u"", u"a", -1},
    };
    for (const Case& c : cases) {
        const int result = FWideString(c.a).CompareNoCase(c.b);
        EXPECT_EQ(c.sign, (result > 0) - (result < 0))
            << std::string(FWideString(c.a).GetNarrow()) << " vs " << FWideString(c.b).GetNarrow();
    }
    // A difference of folded units, not just a sign.
    EXPECT_EQ(u'C' - u'D', FWideString("abc").CompareNoCase(u"ABD"));
    EXPECT_EQ(0, FWideString(u"HeLLo").CompareNoCase("hello"));
    EXPECT_LT(FWideString(u"hell").CompareNoCase("hello"), 0);
    EXPECT_EQ(0, CompareNoCase(u"MiXeD", "mixed"));
    EXPECT_NE(0, CompareNoCase(u"\u00C9", "\xC9"));
}

TEST(FWideString, Find)
{
    FWideString s("abcabc");
    EXPECT_EQ(s.GetBuffer() + 1, s.Find(FWideString("bc")));
    EXPECT_EQ(nullptr, s.Find(FWideString("cb")));
    EXPECT_EQ(nullptr, s.Find(FWideString()));
    EXPECT_EQ(nullptr, FWideString().Find(FWideString("a")));
    EXPECT_EQ(nullptr, s.Find(FWideString("abcabcd")));
}

TEST(FWideString, Split)
{
    struct Case {
        const char16_t* text;
        const char16_t* separator;
        bool result;
        const char16_t* left;
        const char16_t* right;
    };
    // "untouched" outputs keep the marker they held before.
    const Case cases[] = {
        {u"a=b=c", u"=", true, u"a", u"b=c"},
        {u"abc", u"x", false, u"", u""},
        {u"=x", u"=", true, u"", u"x"},
        {u"x=", u"=", true, u"x", u""},
        {u"key::value", u"::", true, u"key", u"value"},
        {u"abc", u"", false, u"marker", u"marker"},
        {u"", u"=", false, u"marker", u"marker"},
    };
    for (const Case& c : cases) {
        FWideString left("marker"), right("marker");
        EXPECT_EQ(c.result, FWideString(c.text).Split(c.separator, left, right))
            << FWideString(c.text).GetNarrow();
        EXPECT_EQ(std::u16string(c.left), Units(left)) << FWideString(c.text).GetNarrow();
        EXPECT_EQ(std::u16string(c.right), Units(right)) << FWideString(c.text).GetNarrow();
    }
    // The outputs may be the string itself.
    FWideString s("k=v");
    FWideString other;
    EXPECT_TRUE(s.Split(FWideString("="), s, other));
    EXPECT_EQ(u"k", Units(s));
    EXPECT_EQ(u"v", Units(other));
}

TEST(FWideString, SetByteSize)
{
    struct Case {
        int64_t count;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 B"},
        {-5, "-5 B"},
        {1023, "1023 B"},
        {1024, "1.00 KB"},
        {15360, "15.0 KB"},
        {1048575, "1024 KB"},
        {1048576, "1.00 MB"},
        {10LL * 1024 * 1024, "10.0 MB"},
        {150LL * 1024 * 1024 * 1024, "150 GB"},
        {1LL << 50, "1024 TB"},
        {INT64_MAX, "8388608 TB"},
    };
    for (const Case& c : cases) {
        FWideString s("old");
        s.SetByteSize(c.count);
        EXPECT_STREQ(c.text, s.GetNarrow()) << c.count;
    }
}

TEST(FWideString, FormatCutsLongResults)
{
    FWideString s;
    s.Format("%d-%s", 42, "x");
    EXPECT_TRUE(s == "42-x");
    const std::string longText(20000, 'a');
    s.Format("%s", longText.c_str());
    EXPECT_EQ(FWideString::kFormatLimit - 1, s.GetLength());
}

TEST(FWideString, PlainArrayFunctions)
{
    EXPECT_EQ(0, FWideString::StrLen(nullptr));
    EXPECT_EQ(3, WideStrLen(u"abc"));
    char16_t dest[8];
    EXPECT_EQ(dest, WideStrCopy(dest, u"xyz"));
    EXPECT_EQ(std::u16string(u"xyz"), std::u16string(dest));
    const char16_t a[] = {1, 0xFFFF};
    const char16_t b[] = {1, 0x0001};
    EXPECT_EQ(1, FWideString::priCompareUnits(a, b, 2));
    EXPECT_EQ(-1, FWideString::priCompareUnits(b, a, 2));
    EXPECT_EQ(0, FWideString::priCompareUnits(a, b, 1));
}

TEST(FWideString, CompareLocaleIgnoresCaseAndOrdersNames)
{
    EXPECT_EQ(0, CompareLocale(FWideString("Image.q7f"), FWideString("IMAGE.Q7F")));
    EXPECT_EQ(-1, CompareLocale(FWideString("apple"), FWideString("Banana")));
    EXPECT_EQ(1, CompareLocale(FWideString("Banana"), FWideString("apple")));
    EXPECT_EQ(-1, CompareLocale(FWideString("a"), FWideString("ab")));
    EXPECT_EQ(0, CompareLocale(FWideString(), FWideString()));
}
