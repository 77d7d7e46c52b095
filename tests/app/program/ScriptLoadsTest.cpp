#include <gtest/gtest.h>

#include <set>
#include <string>

#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FIUiObject.h"
#include "FOsKeyInput.h"
#include "FOsMenuBar.h"
#include "FPropList.h"
#include "FUiObjectFactory.h"
#include "RawbenchStart.h"

namespace
{

std::string Text(const FWideString& text)
{
    return Utf8FromWide(text);
}

// Elements that the framework reads as parts of other tags rather than as objects.
const std::set<std::string> kStructural = {
    "UI_SCRIPT", "LANGUAGES",     "LANGUAGE", "FONTS",      "APPFONT",        "MSWFONT", "English",
    "French",    "German",        "Japanese", "STYLE",      "DISPLAY_STRING", "WINDOW",  "MENU",
    "MENUITEM",  "MENUSEPARATOR", "BGIMAGES", "VSCROLLBAR", "HSCROLLBAR",     "EVENT",   "xi:define"};

// Every element that no creator makes and the framework does not read.
void FindUnknown(FIUiObjectFactory* factory, const FPropList* node, std::set<std::string>& unknown)
{
    const std::string name = Text(node->GetName());
    if (!kStructural.count(name) && name.rfind("ON_", 0) != 0) {
        if (FIUiObject* made = factory->CreateUiObject(name.c_str()))
            delete made;
        else
            unknown.insert(name);
    }
    for (const FPropList* child = node->GetFirstChild(); child; child = child->GetNext())
        FindUnknown(factory, child, unknown);
}

// Every relay target of the script that does not resolve: global names through
// the application, local names inside the enclosing window.
void FindUnresolved(FGenericUiApp* app, const FPropList* node, const std::string& window,
                    std::set<std::string>& unresolved)
{
    std::string inside = window;
    if (node->GetName() == "WINDOW")
        inside = Text(node->GetString("Name", FWideString()));
    bool found = false;
    const FWideString global = node->GetString("Relay", FWideString(), &found);
    if (found && !app->GetUiRelay(global))
        unresolved.insert(Text(global));
    const FWideString local = node->GetString("LocalRelay", FWideString(), &found);
    if (found) {
        const std::string path = inside + (local.IsEmpty() ? "" : "." + Text(local));
        if (!app->GetUiRelay(WideFromUtf8(path)))
            unresolved.insert(path);
    }
    for (const FPropList* child = node->GetFirstChild(); child; child = child->GetNext())
        FindUnresolved(app, child, inside, unresolved);
}

FHeadlessUiWindow* OsWindow(FAppHarness& app, const char* name)
{
    FGenericUiWindow* window = app.Window(name);
    return window ? dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow()) : nullptr;
}

} // namespace

TEST(ScriptLoadsTest, CompleteInEveryLanguage)
{
    struct Case {
        const char* language;
        const char* fileMenu;
        const char* quit;
    };
    const Case cases[] = {
        {"English", "File", "Quit"},
        {"French", "Fichier", "Quitter"},
        {"German", "Datei", "Beenden"},
        {"Japanese", "ファイル", "終了"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        FAppHarness harness;
        harness.SetStartLanguage(c.language);
        const int status = harness.Start([&](FAppHarness& app) {
            FGenericUiApp* ui = app.App();
            EXPECT_EQ(Text(ui->GetAppName()), "Rawbench");
            std::set<std::string> unknown, unresolved;
            FindUnknown(ui->GetUiObjectFactory(), ui->GetScriptRoot(), unknown);
            FindUnresolved(ui, ui->GetScriptRoot(), "", unresolved);
            EXPECT_TRUE(unknown.empty()) << *unknown.begin();
            EXPECT_TRUE(unresolved.empty()) << *unresolved.begin();
            const std::vector<std::string> missing = FindMissingScriptParts(ui);
            EXPECT_TRUE(missing.empty()) << missing.front();
            ASSERT_NE(app.Probe(), nullptr) << "the test block was not read";

            // The main window shows its menus in the chosen language; only what
            // works is enabled.
            FHeadlessUiWindow* os = OsWindow(app, "MainWin");
            ASSERT_NE(os, nullptr);
            EXPECT_TRUE(os->IsShown());
            const auto& menus = os->GetMenuBar().GetMenus();
            ASSERT_EQ(menus.size(), 6u);
            EXPECT_EQ(Text(menus[0]->GetTitle()), c.fileMenu);
            // Before a folder is shown: Refresh, auto-launch, Language, Quit, the five selection
            // commands, the view's sizes, filter, sort, order and raw-only choices, the
            // computer mode, the information window, the palette, the user guide and About.
            std::vector<std::string> enabled;
            for (const auto& menu : menus)
                for (const FOsMenu::Item& item : menu->GetItems())
                    if (!item.separator && item.enabled)
                        enabled.push_back(Text(item.label));
            ASSERT_EQ(enabled.size(), 30u);
            EXPECT_EQ(enabled[3], c.quit);
        });
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(harness.MessageBoxes().empty());
    }
}

TEST(ScriptLoadsTest, WithoutTheTestDefineThereIsNoProbe)
{
    FAppHarness harness(false);
    harness.Start([](FAppHarness& app) { EXPECT_EQ(app.Probe(), nullptr); });
    EXPECT_TRUE(harness.BodyRan());
}

// The toolbar's buttons wait disabled for their managers: a click does nothing
// until a manager enables the button, which enables its menu item too.
TEST(ScriptLoadsTest, ToolbarButtonsStartDisabledAndFollowTheirState)
{
    FAppHarness harness;
    harness.Start([](FAppHarness& app) {
        ASSERT_TRUE(app.Watch("MainWin.Camera", "ON_PRESS"));
        ASSERT_TRUE(app.Watch("MainWin.Camera", "ON_ENABLED_STATE"));
        ASSERT_TRUE(app.Click("MainWin.Camera"));
        EXPECT_TRUE(app.Log().empty());
        EXPECT_TRUE(app.Send("MainWin.Camera", "Enable"));
        ASSERT_TRUE(app.Click("MainWin.Camera"));
        EXPECT_EQ(app.Log(), (std::vector<std::string>{"ON_ENABLED_STATE", "ON_PRESS"}));
        FHeadlessUiWindow* os = OsWindow(app, "MainWin");
        ASSERT_NE(os, nullptr);
        bool cameraEnabled = false;
        for (const auto& menu : os->GetMenuBar().GetMenus()) {
            for (const FOsMenu::Item& item : menu->GetItems())
                cameraEnabled = cameraEnabled || (item.enabled && Text(item.label) == "Camera");
        }
        EXPECT_TRUE(cameraEnabled);
    });
}

TEST(ScriptLoadsTest, QuitFromTheMenuKeyEndsTheProgram)
{
    FAppHarness harness;
    harness.Start([](FAppHarness& app) {
        EXPECT_FALSE(GetHeadlessDesktop().quit);
        // A bare letter without Ctrl is no accelerator of Quit.
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'Q'));
        EXPECT_FALSE(GetHeadlessDesktop().quit);
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'Q', true));
        EXPECT_TRUE(app.RunUntil([] { return GetHeadlessDesktop().quit; }, 10));
    });
}
