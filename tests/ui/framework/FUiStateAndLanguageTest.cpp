#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <string>
#include <vector>

#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiTestApp.h"

namespace
{

const char* const kLanguages =
    R"(<LANGUAGES><LANGUAGE Name="English" Default="true"/><LANGUAGE Name="German"/>
    <LANGUAGE Name="French"/></LANGUAGES>)";

std::string Script(const std::string& body, bool store = true)
{
    return std::string("<UI_SCRIPT Name=\"TestApp\"") + (store ? " HasPersistantDataStore=\"true\"" : "") +
           ">" + kLanguages + body + "<WINDOW Name=\"MainWin\"/></UI_SCRIPT>";
}

std::string StateFile(const std::string& language)
{
    return "<STATE><PERDATA Name=\"BrisalLanguageSelector\"" +
           (language.empty() ? std::string() : " CurrentLanguage=\"" + language + "\"") + "/></STATE>";
}

std::string Text(const FWideString& text)
{
    return Utf8FromWide(text);
}

std::string SavedLanguage(const FPropList* state)
{
    for (FPropList* entry = state ? state->GetFirstChild() : nullptr; entry; entry = entry->GetNext()) {
        if (entry->GetString("Name", FWideString()) == "BrisalLanguageSelector")
            return Text(entry->GetString("CurrentLanguage", FWideString("<none>")));
    }
    return "<no entry>";
}

TEST(UiStateTest, StartLanguageComesFromStateThenPreferencesThenDefault)
{
    struct Case {
        const char* what;
        bool store;
        std::string state;       // empty: no state file
        std::string preferences; // empty: no Preferences.xml
        const char* language;
    };
    const std::string prefsFrench = "<PREFS><GENERAL CurrentLanguage=\"French\"/></PREFS>";
    const Case cases[] = {
        {"default only", true, "", "", "English"},
        {"state wins over preferences", true, StateFile("German"), prefsFrench, "German"},
        {"preferences when the entry lacks the language", true, StateFile(""), prefsFrench, "French"},
        {"preferences without any state file", true, "", prefsFrench, "French"},
        {"no store: preferences and state ignored", false, StateFile("German"), prefsFrench, "English"},
        {"an undeclared saved language is taken", true, StateFile("Klingon"), "", "Klingon"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FUiTestApp run(Script("", c.store), false);
        if (!c.state.empty())
            run.WriteAppDataFile("TestApp.state.xml", c.state);
        if (!c.preferences.empty())
            run.GetScriptFolder().WriteFile("Preferences.xml", c.preferences);
        ASSERT_TRUE(run.Init());
        EXPECT_EQ(Text(run.GetApp()->GetCurrentLanguage()), c.language);
        EXPECT_EQ(run.GetApp()->GetStateRoot() != nullptr, c.store);
    }
}

TEST(UiStateTest, WithoutStoreNothingIsWritten)
{
    FUiTestApp run(Script("", false));
    ASSERT_TRUE(run.GetInitResult());
    EXPECT_EQ(run.GetApp()->GetPersistentData(FWideString("Any")), nullptr);
    run.GetApp()->SetLanguage(FWideString("German"));
    run.Finish();
    EXPECT_EQ(run.ReadStateFile(), nullptr);
}

TEST(UiStateTest, EntriesAndTheLanguageAreWrittenAtExit)
{
    FUiTestApp run(Script(""));
    ASSERT_TRUE(run.GetInitResult());
    FPropList* entry = run.GetApp()->GetPersistentData(FWideString("TestApp.MainWin.Thing"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(run.GetApp()->GetPersistentData(FWideString("TestApp.MainWin.Thing")), entry);
    entry->SetInt(FWideString("Width"), 321);
    run.GetApp()->SetLanguage(FWideString("German"));
    run.Finish();
    auto state = run.ReadStateFile();
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->GetName() == "STATE");
    EXPECT_EQ(SavedLanguage(state.get()), "German");
    FPropList* thing = state->GetFirstChild();
    while (thing && !(thing->GetString("Name", FWideString()) == "TestApp.MainWin.Thing"))
        thing = thing->GetNext();
    ASSERT_NE(thing, nullptr);
    EXPECT_TRUE(thing->GetName() == "PERDATA");
    EXPECT_EQ(thing->GetInt("Width", 0), 321);
}

TEST(UiStateTest, UnreadableStateFileStartsEmptyAndIsReplacedAtExit)
{
    for (const char* damaged : {"this is not a tree", "<STATE><PERDATA Name=\"x\"", ""}) {
        SCOPED_TRACE(damaged);
        FUiTestApp run(Script(""), false);
        run.WriteAppDataFile("TestApp.state.xml", damaged);
        ASSERT_TRUE(run.Init());
        ASSERT_NE(run.GetApp()->GetStateRoot(), nullptr);
        EXPECT_EQ(run.GetApp()->GetStateRoot()->GetChildCount(), 1); // just the language entry it asked for
        EXPECT_EQ(Text(run.GetApp()->GetCurrentLanguage()), "English");
        run.GetApp()->SetLanguage(FWideString("French"));
        run.Finish();
        EXPECT_EQ(SavedLanguage(run.ReadStateFile().get()), "French");
    }
}

TEST(UiStateTest, FailedSaveKeepsThePreviousStateFile)
{
    FUiTestApp run(Script(""), false);
    run.WriteAppDataFile("TestApp.state.xml", StateFile("German"));
    ASSERT_TRUE(run.Init());
    run.GetApp()->SetLanguage(FWideString("French"));
    // No file may grow at all (this binds the superuser too): the save fails midway.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit none = old;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
    FDebugTraceCapture trace;
    run.Finish();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(trace.Contains("was not saved; the previous one is kept"));
    EXPECT_EQ(SavedLanguage(run.ReadStateFile().get()), "German");
}

TEST(UiStateTest, MissingApplicationDataFolderMeansNoState)
{
    FUiTestApp run(Script(""), false);
    // A file where the folder should be: it cannot be opened or made.
    rmdir(run.GetAppDataPath().c_str());
    ASSERT_TRUE(run.GetScriptFolder().WriteFile("unused", ""));
    {
        FILE* blocker = fopen(run.GetAppDataPath().c_str(), "w");
        ASSERT_NE(blocker, nullptr);
        fclose(blocker);
    }
    ASSERT_TRUE(run.Init());
    EXPECT_EQ(run.GetApp()->GetStateRoot(), nullptr);
    EXPECT_EQ(run.GetApp()->GetPersistentData(FWideString("Key")), nullptr);
    run.GetApp()->SetLanguage(FWideString("German"));
    run.Finish();
}

TEST(UiLanguageTest, LaterDefaultWinsAndUndeclaredNamesAreAccepted)
{
    FUiTestApp run(R"(<UI_SCRIPT Name="TestApp"><LANGUAGES><LANGUAGE Name="English" Default="true"/>
        <LANGUAGE/><LANGUAGE Name="German" Default="true"/></LANGUAGES><WINDOW Name="W"/></UI_SCRIPT>)");
    ASSERT_TRUE(run.GetInitResult());
    EXPECT_EQ(Text(run.GetApp()->GetCurrentLanguage()), "German");
    EXPECT_EQ(run.GetApp()->GetLanguages().size(), 2u); // the unnamed entry is skipped
    run.GetApp()->SetLanguage(FWideString("Esperanto"));
    EXPECT_EQ(Text(run.GetApp()->GetCurrentLanguage()), "Esperanto");
}

TEST(UiLanguageTest, SetLanguageRunsItsStepsInOrder)
{
    FUiTestApp run(Script(R"(<PROBE Name="L1"/><PROBE Name="L2"/>)"));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiApp* app = run.GetApp();
    auto* window = dynamic_cast<FGenericUiWindow*>(app->GetFirstWindow());
    FProbeObject* l1 = FProbeObject::FindLive("L1");
    FProbeObject* l2 = FProbeObject::FindLive("L2");
    FWideString current;
    ASSERT_TRUE(app->AddLanguageListener(l2, current));
    ASSERT_TRUE(app->AddLanguageListener(l1, current));
    ASSERT_TRUE(app->AddLanguageListener(l2, current)); // once only
    EXPECT_EQ(Text(current), "English");
    EXPECT_FALSE(app->AddLanguageListener(nullptr, current));

    std::vector<std::string> steps;
    auto observe = [&](const char* who) {
        return [&, who](const FProbeRecord& record) {
            std::string step = std::string(who) + ":" + record.message;
            step += window->IsDisplayDisabled() ? " (display off" : " (display on";
            step += ", saved " + SavedLanguage(app->GetStateRoot()) + ")";
            step += GetHeadlessDesktop().languageHooks.empty() ? "" : " hook";
            steps.push_back(step);
        };
    };
    l1->SetOnMessage(observe("L1"));
    l2->SetOnMessage(observe("L2"));
    l1->SetDataKind("Set Language", EProbeData::kString);
    GetHeadlessDesktop().languageHooks.clear();
    app->SetLanguage(FWideString("German"));
    // Listeners in the order added, while windows do not draw, before the state records the language.
    EXPECT_EQ(steps, (std::vector<std::string>{"L2:Set Language (display off, saved <none>)",
                                               "L1:Set Language (display off, saved <none>)"}));
    EXPECT_EQ(l1->GetRecords().back().data, "German");
    EXPECT_FALSE(window->IsDisplayDisabled());
    EXPECT_EQ(SavedLanguage(app->GetStateRoot()), "German");
    EXPECT_EQ(GetHeadlessDesktop().languageHooks, std::vector<std::string>{"German"});
    EXPECT_TRUE(app->HasLanguageEntry());

    EXPECT_TRUE(app->RemoveLanguageListener(l2));
    EXPECT_FALSE(app->RemoveLanguageListener(l2));
    EXPECT_TRUE(app->RemoveLanguageListener(nullptr));
    steps.clear();
    app->SetLanguage(FWideString("French"));
    EXPECT_EQ(steps.size(), 1u);
    l1->SetOnMessage(nullptr);
    l2->SetOnMessage(nullptr);
}

TEST(UiLanguageTest, NextLanguageWrapsAndIsNotSaved)
{
    FUiTestApp run(Script(""));
    ASSERT_TRUE(run.GetInitResult());
    FGenericUiApp* app = run.GetApp();
    app->SetLanguage(FWideString("German"));
    app->NextLanguage();
    EXPECT_EQ(Text(app->GetCurrentLanguage()), "French");
    app->NextLanguage();
    EXPECT_EQ(Text(app->GetCurrentLanguage()), "English");
    app->SetLanguage(FWideString("Esperanto"));
    app->NextLanguage();
    EXPECT_EQ(Text(app->GetCurrentLanguage()), ""); // not in the list
    app->SetLanguage(FWideString("German"));
    app->NextLanguage();
    run.Finish();
    EXPECT_EQ(SavedLanguage(run.ReadStateFile().get()), "German");
}

} // namespace
