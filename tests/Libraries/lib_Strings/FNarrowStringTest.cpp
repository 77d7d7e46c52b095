#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "FNarrowString.h"

TEST(FNarrowString, EmptyAndFormatted)
{
    FNarrowString empty;
    EXPECT_EQ(0, empty.GetLength());
    EXPECT_STREQ("", empty.GetCString());

    FNarrowString formatted("%s=%d", "x", -3);
    EXPECT_STREQ("x=-3", formatted.GetCString());
    EXPECT_EQ(4, formatted.GetLength());

    const std::string longText(12000, 'b');
    FNarrowString cut("%s", longText.c_str());
    EXPECT_EQ(FNarrowString::kFormatLimit - 1, cut.GetLength());
}

TEST(FNarrowString, CopiesAreIndependent)
{
    FNarrowString a("abc");
    FNarrowString b(a);
    b.Append("def");
    EXPECT_STREQ("abc", a.GetCString());
    EXPECT_STREQ("abcdef", b.GetCString());
    a = b;
    b.AppendChar('!');
    EXPECT_STREQ("abcdef", a.GetCString());
    EXPECT_STREQ("abcdef!", b.GetCString());
    a.AssignString(a);
    EXPECT_STREQ("abcdef", a.GetCString());
    a.Assign(a.GetCString() + 3);
    EXPECT_STREQ("def", a.GetCString());
    a.Assign(nullptr);
    EXPECT_STREQ("", a.GetCString());
}

TEST(FNarrowString, CompareIsBytewiseUnsigned)
{
    FNarrowString s("abc");
    EXPECT_EQ(0, s.Compare("abc"));
    EXPECT_EQ(-1, s.Compare("abd"));
    EXPECT_EQ(1, s.Compare("ab"));
    EXPECT_EQ(1, s.Compare(nullptr));
    // 0xE9 sorts above ASCII whatever the signedness of char.
    EXPECT_EQ(-1, s.Compare("\xE9"));
}

TEST(FNarrowString, GetAtThrowsTheStandardRangeError)
{
    FNarrowString s("ab");
    EXPECT_EQ('b', s.GetAt(1));
    try {
        s.GetAt(2);
        FAIL() << "no throw";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ("invalid string position", e.what());
    }
    EXPECT_THROW(s.GetAt(-1), std::out_of_range);
    EXPECT_THROW(FNarrowString().GetAt(0), std::out_of_range);
}

TEST(FNarrowString, GetBufferIsWritableCString)
{
    FNarrowString s("xy");
    char* buffer = s.GetBuffer(10);
    EXPECT_STREQ("xy", buffer);
    std::snprintf(buffer, 11, "%s", "0123456789");
    EXPECT_STREQ("0123456789", s.GetCString());
    EXPECT_EQ(10, s.GetLength());
    std::snprintf(s.GetBuffer(10), 11, "%s", "abc");
    EXPECT_EQ(3, s.GetLength());
    s.AppendChar('d');
    EXPECT_STREQ("abcd", s.GetCString());
}
