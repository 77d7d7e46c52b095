#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FAppHarness.h"

// A damaged or missing script, strings or skin file ends the start with an
// error box and a non-zero status, before any window is used. A file that
// does not parse gets the program start's "FException" box naming the file.
TEST(BadInputTest, DamagedOrMissingFilesEndTheStartWithABox)
{
    struct Case {
        const char* what;
        std::function<void(FAppHarness&)> damage;
        const char* title;
        const char* boxPiece;
    };
    const std::string garbage = "\x89PNG\r\n\x1a\n this is not a picture";
    const Case cases[] = {
        {"no script", [](FAppHarness& h) { h.RemoveScriptFile("ui.xml"); }, "ERROR", "UI script"},
        {"script cut short",
         [](FAppHarness& h) {
             std::string text;
             h.ReadScriptFile("ui.xml", text);
             h.WriteScriptFile("ui.xml", text.substr(0, text.size() / 2));
         },
         "FException", "'ui.xml'"},
        {"window file missing", [](FAppHarness& h) { h.RemoveScriptFile("win_main.xml"); }, "ERROR",
         "init app"},
        {"no strings", [](FAppHarness& h) { h.RemoveScriptFile("strings.xml"); }, "ERROR", "init app"},
        {"strings cut short",
         [](FAppHarness& h) {
             std::string text;
             h.ReadScriptFile("strings.xml", text);
             // Inside a quoted value a third of the way in (UTF-16): the reader's own error.
             const std::string quote("=\0\"\0", 4);
             const size_t at = text.find(quote, text.size() / 3 & ~size_t(1));
             ASSERT_NE(at, std::string::npos);
             h.WriteScriptFile("strings.xml", text.substr(0, at + 6));
         },
         "FException", "'strings.xml'"},
        {"a string row gone",
         [](FAppHarness& h) {
             std::string text;
             h.ReadScriptFile("strings.xml", text);
             // "MnuQuit" in UTF-16: the row's name becomes one the script never asks for.
             const std::string name("M\0n\0u\0Q\0u\0i\0t\0", 14);
             const size_t at = text.find(name);
             ASSERT_NE(at, std::string::npos);
             text[at] = 'X';
             h.WriteScriptFile("strings.xml", text);
         },
         "ERROR", "string MnuQuit"},
        {"no skin", [](FAppHarness& h) { h.RemoveScriptFile("tbtn_n.png"); }, "ERROR", "skin tbtn_n.png"},
        {"skin not a picture", [&](FAppHarness& h) { h.WriteScriptFile("tb_camera_n.png", garbage); },
         "ERROR", "skin tb_camera_n.png"},
        {"skin empty", [](FAppHarness& h) { h.WriteScriptFile("tree_folder.png", ""); }, "ERROR",
         "skin tree_folder.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FAppHarness harness;
        c.damage(harness);
        const int status = harness.Start([](FAppHarness&) { ADD_FAILURE() << "the program went on"; });
        EXPECT_NE(status, 0);
        EXPECT_FALSE(harness.BodyRan());
        ASSERT_EQ(harness.MessageBoxes().size(), 1u);
        const auto& [title, text] = harness.MessageBoxes()[0];
        EXPECT_EQ(title, c.title);
        EXPECT_NE(text.find(c.boxPiece), std::string::npos) << text;
        if (title == "ERROR") {
            EXPECT_NE(text.find("Program terminating."), std::string::npos) << text;
        }
    }
}
