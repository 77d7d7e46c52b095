#include <gtest/gtest.h>

#include <string>

#include "FCodePage.h"
#include "FWideString.h"

TEST(FCodePage, Utf8ToUtf16Table)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string units;
    };
    const Case cases[] = {
        {"ascii", "abc", u"abc"},
        {"two bytes", "caf\xC3\xA9", u"caf\u00E9"},
        {"three bytes", "\xE4\xB8\xAD", u"\u4E2D"},
        {"surrogate pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"nul inside", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"lone byte", "caf\xE9", u"caf\xDCE9"},
        {"overlong", "\xC0\xAF", u"\xDCC0\xDCAF"},
        {"encoded surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
        {"above 10FFFF", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
        {"cut sequence", "a\xE4\xB8", u"a\xDCE4\xDCB8"},
        {"stray continuation", "\x80z", u"\xDC80z"},
        {"byte FF", "\xFF", u"\xDCFF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.units, Utf8ToUtf16(c.bytes)) << c.name;
        // Every byte string comes back unchanged: native names survive.
        EXPECT_EQ(c.bytes, Utf16ToUtf8(Utf8ToUtf16(c.bytes))) << c.name;
    }
}

TEST(FCodePage, EveryByteSequenceRoundTrips)
{
    // All two-byte strings, and a few longer mixes.
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(bytes, Utf16ToUtf8(Utf8ToUtf16(bytes))) << a << "," << b;
        }
    }
    const std::string mixed = "\xF0\x9F\x98\x80\xF0\x9F\x98\xC3\xA9\xE9\xED\xBF\xBF";
    EXPECT_EQ(mixed, Utf16ToUtf8(Utf8ToUtf16(mixed)));
}

TEST(FCodePage, Utf16ToUtf8OfUnpairedSurrogates)
{
    EXPECT_EQ("\xED\xA0\x80", Utf16ToUtf8(u"\xD800"));
    EXPECT_EQ("\xED\xB0\x80x", Utf16ToUtf8(u"\xDC00x"));
    EXPECT_EQ("\xF0\x9F\x98\x80", Utf16ToUtf8(u"\xD83D\xDE00"));
}

TEST(FCodePage, WideStringHelpersAndAnsiArrays)
{
    const FWideString name = WideFromUtf8("Bild \xC3\xA9t\xE9.q7f");
    EXPECT_EQ(12, name.GetLength());
    EXPECT_EQ(0xDCE9, name.GetBuffer()[7]);
    EXPECT_EQ("Bild \xC3\xA9t\xE9.q7f", Utf8FromWide(name));

    char* ansi = WideToAnsi(u"\u00E9\xDCFF");
    ASSERT_NE(nullptr, ansi);
    EXPECT_STREQ("\xC3\xA9\xFF", ansi);
    delete[] ansi;
    char16_t* wide = AnsiToWide("\xC3\xA9\xFF");
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ(std::u16string(u"\u00E9\xDCFF"), std::u16string(wide));
    delete[] wide;
    EXPECT_EQ(nullptr, WideToAnsi(nullptr));
    EXPECT_EQ(nullptr, AnsiToWide(nullptr));
    EXPECT_TRUE(IsWindowsNT());
}
