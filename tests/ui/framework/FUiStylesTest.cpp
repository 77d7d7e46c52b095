#include <gtest/gtest.h>

#include <string>

#include "FCodePage.h"
#include "FException.h"
#include "FPropList.h"
#include "FUiScriptFixture.h"
#include "FUiStyles.h"

namespace
{

// The first element of the tree whose Name attribute is `name`.
FPropList* Named(FPropList* node, const char* name)
{
    for (; node; node = node->GetNext()) {
        if (node->GetString("Name", FWideString()) == name)
            return node;
        if (FPropList* found = Named(node->GetFirstChild(), name))
            return found;
    }
    return nullptr;
}

std::string Attr(FPropList* node, const char* key)
{
    return node ? Utf8FromWide(node->GetString(key, FWideString("-"))) : "no node";
}

class UiStylesTest : public ::testing::Test
{
protected:
    std::unique_ptr<FPropList> Styled(const std::string& body, std::string* error = nullptr)
    {
        auto root = m_folder.Parse("<UI_SCRIPT>" + body + "</UI_SCRIPT>");
        EXPECT_TRUE(root) << body;
        try {
            ApplyStyles(root.get());
        } catch (const FExceptionUiScript& e) {
            if (error)
                *error = e.GetMessage();
            else
                ADD_FAILURE() << e.GetMessage();
        }
        return root;
    }
    FUiScriptFolder m_folder;
};

TEST_F(UiStylesTest, AttributesBeforeTheReferenceWin)
{
    auto root = Styled(R"(<STYLE StyleName="A" Color="#111111" Size="3"/>
        <TEXT Name="Before" Color="#222222" Style="A"/>
        <TEXT Name="After" Style="A" Color="#222222"/>)");
    EXPECT_EQ(Attr(Named(root.get(), "Before"), "Color"), "#222222");
    EXPECT_EQ(Attr(Named(root.get(), "After"), "Color"), "#111111");
    EXPECT_EQ(Attr(Named(root.get(), "After"), "Size"), "3");
}

TEST_F(UiStylesTest, StylesAreSeenFromLaterSiblingsAndTheirInsidesOnly)
{
    auto root = Styled(R"(<STYLE StyleName="Outer" Color="#010101"/>
        <WINDOW><VBOX><STYLE StyleName="Inner" Size="7" Style="Outer"/>
          <HBOX><TEXT Name="Deep" Style="Inner"/></HBOX></VBOX></WINDOW>)");
    FPropList* deep = Named(root.get(), "Deep");
    EXPECT_EQ(Attr(deep, "Size"), "7");
    EXPECT_EQ(Attr(deep, "Color"), "#010101"); // a chained Style inside a STYLE

    std::string error;
    Styled(R"(<TEXT Name="Early" Style="Late"/><STYLE StyleName="Late" Size="1"/>)", &error);
    EXPECT_EQ(error, "failed to find the referenced STYLE tag 'Late'");
}

TEST_F(UiStylesTest, SwitchedStylesPickTheSwitchOrTheDefault)
{
    auto root = Styled(R"(<SWITCHED_STYLE Name="Accent" Switch="Dark" DefaultSwitch="Light">
          <Light Color="#000000"/><Dark Color="#FFFFFF"/></SWITCHED_STYLE>
        <SWITCHED_STYLE Name="Fallback" Switch="Missing" DefaultSwitch="Light">
          <Light Color="#000000"/></SWITCHED_STYLE>
        <TEXT Name="A" SwitchedStyle="Accent"/><TEXT Name="B" SwitchedStyle="Fallback"/>)");
    EXPECT_EQ(Attr(Named(root.get(), "A"), "Color"), "#FFFFFF");
    EXPECT_EQ(Attr(Named(root.get(), "B"), "Color"), "#000000");

    std::string error;
    Styled(R"(<SWITCHED_STYLE Name="S" Switch="X"><Y Color="#000000"/></SWITCHED_STYLE>
        <TEXT SwitchedStyle="S"/>)",
           &error);
    EXPECT_EQ(error, "failed to find the referenced SWITCHED_STYLE tag 'S'");
}

TEST_F(UiStylesTest, SelfReferringStyleFailsInsteadOfGrowingForEver)
{
    std::string error;
    Styled(R"(<STYLE StyleName="Loop" Style="Loop" Size="1"/><TEXT Style="Loop"/>)", &error);
    EXPECT_EQ(error, "style references do not end at 'Loop'");
}

TEST_F(UiStylesTest, PlatformSectionsOfThisFamilyAreKept)
{
    auto root =
        m_folder.Parse(R"(<UI_SCRIPT><MSW_OS><TEXT Name="Win"/></MSW_OS><BORG_OS><TEXT Name="Borg"/></BORG_OS>
        <MAC_OS><TEXT Name="Mac"/></MAC_OS></UI_SCRIPT>)");
    ASSERT_TRUE(root);
    ApplyPlatformSections(root.get(), false, true);
    EXPECT_NE(Named(root.get(), "Win"), nullptr);
    EXPECT_NE(Named(root.get(), "Borg"), nullptr);
    EXPECT_EQ(Named(root.get(), "Mac"), nullptr);
    EXPECT_TRUE(Named(root.get(), "Win")->GetParent() == root.get());
    EXPECT_EQ(root->FindChild("MSW_OS"), nullptr);
}

} // namespace
