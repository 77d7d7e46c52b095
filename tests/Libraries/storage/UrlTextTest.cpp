#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"

namespace
{

TEST(UrlEscape, NineCharactersBecomeFourHexDigits)
{
    struct Case {
        const char16_t* in;
        const char16_t* out;
    };
    const Case kCases[] = {
        {u"a:b#c", u"a%003Ab%0023c"},
        {u"%/:\\'\"?*#", u"%0025%002F%003A%005C%0027%0022%003F%002A%0023"},
        {u"plain name.q7f", u"plain name.q7f"},
        {u"", u""},
    };
    for (const Case& c : kCases) {
        FWideString escaped;
        EscapeURLChars(c.in, escaped);
        EXPECT_EQ(U8(escaped), U8(c.out)) << U8(c.in);
        FWideString back;
        UnescapeURLChars(escaped, back);
        EXPECT_EQ(U8(back), U8(c.in));
    }
}

TEST(UrlEscape, UnescapeTable)
{
    struct Case {
        const char16_t* in;
        std::u16string out;
    };
    const Case kCases[] = {
        {u"%FFFF", std::u16string(1, u'\uFFFF')},
        {u"%0041%0042", u"AB"},
        {u"%003a", u":"},
        // Not an escape: kept as written, never read past the end.
        {u"100% crop.jpg", u"100% crop.jpg"},
        {u"%", u"%"},
        {u"a%00", u"a%00"},
        {u"%12G4x", u"%12G4x"},
        {u"% 0c1", u"% 0c1"},
        {u"%+041", u"%+041"},
        // A NUL cannot be part of a name.
        {u"%0000", u"%0000"},
    };
    for (const Case& c : kCases) {
        FWideString out;
        UnescapeURLChars(c.in, out);
        EXPECT_EQ(std::u16string(out.GetBuffer(), static_cast<size_t>(out.GetLength())), c.out) << U8(c.in);
    }
}

TEST(UrlEscape, ControlUnitsSurviveTheRoundTrip)
{
    // Backspace and other control units are legal in native names.
    const char16_t units[] = {u'a', 8, u'b', 1, 0x7F, 0xDC80, u'%'};
    FWideString name;
    for (char16_t u : units)
        name.Append(u);
    FWideString escaped;
    EscapeURLChars(name, escaped);
    FWideString back;
    UnescapeURLChars(escaped, back);
    ASSERT_EQ(back.GetLength(), name.GetLength());
    EXPECT_TRUE(back == name);
}

TEST(UrlText, SplitString)
{
    struct Case {
        const char16_t* text;
        std::vector<std::string> pieces;
    };
    const Case kCases[] = {
        {u"a/b/", {"a", "b"}}, {u"a//b", {"a", "", "b"}}, {u"/a", {"", "a"}}, {u"", {}}, {u"abc", {"abc"}},
    };
    for (const Case& c : kCases) {
        std::vector<FWideString> pieces{u"stale"};
        SplitString(c.text, pieces, u"/");
        EXPECT_EQ(U8(pieces), c.pieces) << U8(c.text);
    }
    std::vector<FWideString> pieces;
    SplitString(u"a://b://", pieces, u"://");
    EXPECT_EQ(U8(pieces), (std::vector<std::string>{"a", "b"}));
}

TEST(UrlText, JoinStrings)
{
    FWideString text{u"stale"};
    JoinStrings({}, text, u"/");
    EXPECT_TRUE(text.IsEmpty());
    JoinStrings({u"a", u"", u"b"}, text, u"\\");
    EXPECT_EQ(U8(text), "a\\\\b");
}

TEST(UrlText, SplitURL)
{
    struct Case {
        const char16_t* url;
        std::vector<std::string> parts;
    };
    const Case kCases[] = {
        {u"disk://D//x/", {"disk", "D", "x"}},
        {u"foo", {"foo"}},
        {u"", {""}},
        {u"disk://", {"disk"}},
        {u"://a", {"a"}},
        {u"disk:///", {"disk"}},
    };
    for (const Case& c : kCases) {
        std::vector<FWideString> parts;
        EXPECT_TRUE(SplitURL(c.url, parts));
        EXPECT_EQ(U8(parts), c.parts) << U8(c.url);
    }
}

TEST(UrlText, JoinURL)
{
    FWideString url;
    EXPECT_TRUE(JoinURL({u"disk", u"D", u"x"}, url, false));
    EXPECT_EQ(U8(url), "disk://D/x");
    EXPECT_TRUE(JoinURL({u"disk", u"D", u"x"}, url, true));
    EXPECT_EQ(U8(url), "disk://D/x/");
    EXPECT_TRUE(JoinURL({u"disk"}, url, true));
    EXPECT_EQ(U8(url), "disk:///");
    EXPECT_FALSE(JoinURL({}, url, true));
    EXPECT_TRUE(url.IsEmpty());
}

TEST(UrlText, FileExtensions)
{
    struct Case {
        const char16_t* path;
        bool found;
        const char* extension;
        const char* removed;
    };
    const Case kCases[] = {
        {u"disk://D/a.b/c", true, ".b/c", "disk://D/a"},
        {u"abc", false, "", "abc"},
        {u".cfg", true, ".cfg", ""},
        {u"", false, "", ""},
        {u"x.tar.gz", true, ".gz", "x.tar"},
    };
    for (const Case& c : kCases) {
        FWideString extension{u"stale"};
        EXPECT_EQ(GetFileExtension(c.path, extension), c.found) << U8(c.path);
        EXPECT_EQ(U8(extension), c.extension);
        FWideString path = c.path;
        RemoveFileExtension(path);
        EXPECT_EQ(U8(path), c.removed);
    }
}

TEST(UrlText, EqualsNoCase)
{
    EXPECT_TRUE(EqualsNoCase(u"Disk", u"dISK"));
    EXPECT_FALSE(EqualsNoCase(u"disk", u"disks"));
    EXPECT_FALSE(EqualsNoCase(u"disks", u"disk"));
    EXPECT_FALSE(EqualsNoCase(u"\u00e9", u"\u00c9"));
}

} // namespace
