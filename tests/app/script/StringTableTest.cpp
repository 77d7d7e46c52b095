#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FCodePage.h"
#include "FPropList.h"
#include "FUiScriptFixture.h"
#include "StringTable.h"

namespace
{

std::string Row(const std::string& name, const std::string& en, const std::string& rest = "\tfr\tde\tja")
{
    return name + "\tBody\t" + en + rest + "\n";
}

} // namespace

TEST(StringTableTest, RefusesWhatTheScriptCannotHold)
{
    struct Case {
        const char* what;
        std::string table;
        const char* reason;
    };
    const Case cases[] = {
        {"quote", Row("A", "say \"hi\""), "line 1: A (English): the character \""},
        {"less-than", Row("A", "ok", "\ta<b\tde\tja"), "A (French): the character <"},
        {"greater-than", Row("A", "ok", "\tfr\ta>b\tja"), "A (German): the character >"},
        {"ampersand", "# comment\n" + Row("A", "ok", "\tfr\tde\tR&D"),
         "line 2: A (Japanese): the character &"},
        {"control character", Row("A", "bell\x07"), "control character"},
        {"broken UTF-8", Row("A", "caf\xC3"), "not valid UTF-8"},
        {"overlong UTF-8", Row("A", "\xC0\xAF"), "not valid UTF-8"},
        {"encoded surrogate", Row("A", "\xED\xA0\x80"), "not valid UTF-8"},
        {"duplicate", Row("A", "one") + "\n" + Row("A", "two"), "line 3: duplicate name A (first on line 1)"},
        {"no English", Row("A", "", "\tfr"), "A has no English text"},
        {"name with a space", Row("Two words", "x"), "not a plain identifier"},
        {"too many cells", Row("A", "x", "\tfr\tde\tja\textra"), "expected a name"},
        {"too few cells", "A\tBody\n", "expected a name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<FStringRow> rows;
        std::string error;
        EXPECT_FALSE(ParseStringTable(c.table, rows, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(StringTableTest, NamesTheScriptUsesMustHaveRows)
{
    const std::string script = R"(<UI_SCRIPT CtrlMenuDisplayString="KeyCtrl">
      <WINDOW DisplayString="TtlMain"><TEXT DisplayString = "LblA" AppFont="Body"/>
      <MGR FStopPrefixString="FStop" Name="NotAString"/></WINDOW></UI_SCRIPT>)";
    EXPECT_EQ(FindScriptStringNames(script), (std::set<std::string>{"FStop", "KeyCtrl", "LblA", "TtlMain"}));
    std::vector<FStringRow> rows;
    std::string error;
    ASSERT_TRUE(ParseStringTable(Row("KeyCtrl", "Ctrl+") + Row("TtlMain", "Main"), rows, error)) << error;
    EXPECT_EQ(FindUndefinedNames(rows, FindScriptStringNames(script)),
              (std::vector<std::string>{"FStop", "LblA"}));
}

// The generated file is UTF-16 with a byte-order mark that the script reader
// takes; empty cells give no entry, so those fall back to English.
TEST(StringTableTest, GeneratedFileReadsBackInEveryLanguage)
{
    std::vector<FStringRow> rows;
    std::string error;
    const std::string table = "# head\r\n" + Row("Quit", "Quit", "\tQuitter\tBeenden\t終了") +
                              Row("Wide", "𝄞 clef", "\t\tNoten\t") + "\n";
    ASSERT_TRUE(ParseStringTable(table, rows, error)) << error;
    const std::string bytes = WriteStringsXml(rows);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");

    FUiScriptFolder folder;
    std::unique_ptr<FPropList> root = folder.Parse(bytes, "strings.xml");
    ASSERT_NE(root, nullptr);
    const FPropList* quit = root->FindChild("DISPLAY_STRING");
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(Utf8FromWide(quit->GetString("Name", FWideString())), "Quit");
    EXPECT_EQ(Utf8FromWide(quit->GetString("AppFont", FWideString())), "Body");
    const char* expected[] = {"Quit", "Quitter", "Beenden", "終了"};
    for (int i = 0; i < kStringLanguages; ++i) {
        const FPropList* entry = quit->FindChild(kStringLanguageNames[i]);
        ASSERT_NE(entry, nullptr) << kStringLanguageNames[i];
        EXPECT_EQ(Utf8FromWide(entry->GetString("Text", FWideString())), expected[i]);
    }
    const FPropList* wide = quit->GetNext();
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->GetChildCount(), 2);
    EXPECT_EQ(Utf8FromWide(wide->FindChild("English")->GetString("Text", FWideString())), "𝄞 clef");
    EXPECT_EQ(wide->FindChild("French"), nullptr);
}
