#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "FHeadlessDesktop.h"
#include "FUiObjectFactory.h"
#include "FUiScriptFixture.h"
#include "FUiScriptLimits.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

TEST(WidgetTypesTest, EveryBuiltTypeNameIsRegisteredOnceAndExactly)
{
    FUiObjectFactory factory;
    EXPECT_TRUE(RegisterUiWidgets(&factory));
    const char* const kNames[] = {
        "TEXT",         "LANGUAGE",      "VARIABLE",  "STRCMP",         "TEXT_BOX",      "DYNA_TEXT",
        "DYNA_STRING",  "REPLY_REQUEST", "MULTITEXT", "EDIT_BOX",       "TEXTARRAY",     "TEXTLIST",
        "TIMER",        "CLOCK",         "BLINK",     "SCROLLBAR",      "HSCROLLBAR",    "VSCROLLBAR",
        "SCROLLLIST",   "DIRTREE",       "PULLDOWN",  "SCROLLED_FRAME", "PROGRESSBAR",   "HBOX",
        "VBOX",         "SPACER",        "BUTTON",    "IMAGE",          "RESIZED_IMAGE", "CHECKBOX",
        "RADIO_BUTTON", "TOGGLE",        "SLIDER",    "FRAME",          "RECT",          "HLINE",
        "VLINE",        "IMAGE_FRAME",   "FILMSTRIP"};
    for (const char* name : kNames) {
        FIUiObject* object = factory.CreateUiObject(name);
        EXPECT_NE(object, nullptr) << name;
        delete object;
        std::string lower(name);
        for (char& c : lower) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        EXPECT_EQ(factory.CreateUiObject(lower.c_str()), nullptr) << lower;
        if (lower.size() > 1) {
            lower[0] = name[0];
            EXPECT_EQ(factory.CreateUiObject(lower.c_str()), nullptr) << lower;
        }
    }
    int registered = 0, created = 0;
    factory.GetCounts(registered, created);
    EXPECT_EQ(registered, static_cast<int>(std::size(kNames)));
    // A second registration finds every name taken.
    EXPECT_FALSE(RegisterUiWidgets(&factory));
    int again = 0;
    factory.GetCounts(again, created);
    EXPECT_EQ(again, registered);
}

// The main window of the shared fixture script, laid out by the boxes, with
// the text, line and spacer families (the button of the script is not one of
// them, so it is skipped as an unknown type).
TEST(WidgetLayoutTest, FixtureWindowFollowsItsSize)
{
    auto run = MakeWidgetRun(UiBaseScript(), {RegisterUiHVBox, RegisterUiText, RegisterUiHVLine,
                                              RegisterUiSpacer, RegisterUiLanguage});
    ASSERT_TRUE(run->GetInitResult());
    FGenericUiWindow* window = FindWidgetWindow(*run, "MainWin");
    ASSERT_NE(window, nullptr);
    FIUiObject* body = FindWidget(*run, "MainWin.Body");
    FIUiObject* caption = FindWidget(*run, "MainWin.Body.Caption");
    ASSERT_TRUE(body && caption);
    EXPECT_EQ(FindWidget(*run, "MainWin.Body.MustNotExist"), nullptr);
    // The platform section of the line is the one kept here.
    FIUiObject* line = caption->GetNext();
    ASSERT_NE(line, nullptr);
    FIUiObject* row = line->GetNext();
    ASSERT_TRUE(row && row->IsHBox());
    FIUiObject* spacer = row->GetFirstChild();
    ASSERT_NE(spacer, nullptr);
    EXPECT_EQ(spacer->GetNext(), nullptr);

    struct Case {
        int width, height;
        const char* body;
        const char* caption;
        const char* line;
        const char* row;
        const char* spacer;
    };
    // The caption is 30 x 14 ("Main" in the 14-pixel box font) and keeps its size; the line
    // stretches across; the row, fixed across by its fixed spacer, gets no height.
    const Case kCases[] = {
        {320, 200, "0,0,320,200", "0,0,30,14", "0,14,320,15", "0,15,320,15", "0,15,320,15"},
        {500, 80, "0,0,500,80", "0,0,30,14", "0,14,500,15", "0,15,500,15", "0,15,500,15"},
        {31, 16, "0,0,31,16", "0,0,30,14", "0,14,31,15", "0,15,31,15", "0,15,31,15"},
        // Below its minimum (30 x 15) the window keeps the minimum.
        {5, 5, "0,0,30,15", "0,0,30,14", "0,14,30,15", "0,15,30,15", "0,15,30,15"},
    };
    for (const Case& c : kCases) {
        int size[2] = {c.width, c.height};
        window->UiRelayMessage(FWideString("Resize"), size);
        HeadlessPumpUntilIdle();
        EXPECT_EQ(RectText(body->GetRect()), c.body) << c.width << "x" << c.height;
        EXPECT_EQ(RectText(caption->GetRect()), c.caption) << c.width << "x" << c.height;
        EXPECT_EQ(RectText(line->GetRect()), c.line) << c.width << "x" << c.height;
        EXPECT_EQ(RectText(row->GetRect()), c.row) << c.width << "x" << c.height;
        EXPECT_EQ(RectText(spacer->GetRect()), c.spacer) << c.width << "x" << c.height;
    }
}

// A size or coordinate no screen could show ends the start as a script error
// before any window asks for pixmaps of that size, whichever key or widget it
// is on; sizes a real script uses still read.
TEST(WidgetLayoutTest, ScriptSizesBeyondTheLimitAreScriptErrors)
{
    const std::string over = std::to_string(kMaxScriptSize + 1);
    const std::string at = std::to_string(kMaxScriptSize);
    struct Case {
        std::string what;
        std::string window;
        std::string inside;
        bool ok;
    };
    const Case cases[] = {
        {"window width", R"(DX="2147483647" DY="20")", "", false},
        {"window height past 32 bits", R"(DX="20" DY="2147483648")", "", false},
        {"window position", R"(X="40000")", "", false},
        {"negative window position", R"(X="-32767" Y="-5")", "", true},
        {"leaf minimum", "", R"(<LEAF MinHSize="2147483647" MinVSize="1"/>)", false},
        {"leaf minimum at the limit", "", "<LEAF MinHSize=\"" + at + "\" MinVSize=\"1\"/>", true},
        {"spacer", "", "<HBOX><SPACER MinSize=\"" + over + "\"/></HBOX>", false},
        {"underscored key", "", R"(<HBOX _MinHSize="-99999"/>)", false},
        {"font size", "", R"(<TEXT DisplayString="Ok" FontSize="100000"/>)", false},
        {"rectangle", "", R"(<BUTTON><BGIMAGES LabelRect="0,0,99999,5"/></BUTTON>)", false},
        {"point", "", R"(<LEAF MinHSize="1" MediumThumbnailImageCenter="5,-70000"/>)", false},
        {"hot spot", "", R"(<LEAF MinHSize="1" CursorY="70000"/>)", false},
        {"words are left to their readers", "", R"(<LEAF MinHSize="1" ThumbnailSize="Medium"/>)", true},
        {"a row that adds up past the limit", "",
         "<HBOX><LEAF MinHSize=\"" + at + "\" HStretch=\"0\"/><LEAF MinHSize=\"" + at +
             "\" HStretch=\"0\"/></HBOX>",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto run = MakeWidgetRun(WidgetScript("<WINDOW Name=\"Main\" BgColor=\"#000000\" " + c.window + ">" +
                                              c.inside + "</WINDOW>"),
                                 {RegisterUiHVBox, RegisterUiSpacer, RegisterUiText, RegisterUiButton});
        EXPECT_EQ(run->GetInitResult(), c.ok) << run->GetInitException();
        if (!c.ok) {
            EXPECT_EQ(run->GetInitException().rfind("User Interface Script Error (", 0), 0u)
                << run->GetInitException();
        }
    }
}

} // namespace
