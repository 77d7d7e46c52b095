// The saved settings inside the real program start: the script's manager names the zero
// setting by its display string, and a saved setting is there after a restart.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FAppHarness.h"
#include "FCodePage.h"
#include "FUiSettings.h"

namespace
{

class FNameAnswer : public FUiObject
{
public:
    explicit FNameAnswer(const char16_t* name) : FUiObject("ANSWER"), m_name(name) {}
    bool UiRelayMessage(const FWideString&, void* data) override
    {
        *static_cast<FWideString*>(data) = m_name;
        return true;
    }

private:
    FWideString m_name;
};

std::string Names(FAppHarness& app)
{
    std::vector<FWideString> names;
    EXPECT_TRUE(app.Send("Settings", "GetList", &names));
    std::string joined;
    for (const FWideString& name : names)
        joined += (joined.empty() ? "" : "|") + Utf8FromWide(name);
    return joined;
}

TEST(SettingsInProgramTest, ASavedSettingSurvivesARestart)
{
    FAppHarness harness;
    FNameAnswer answer(u"Portrait \"soft\" & <warm>");
    harness.Start([&](FAppHarness& app) {
        auto* settings = dynamic_cast<FUiSettings*>(app.Object("Settings"));
        ASSERT_NE(settings, nullptr);
        // The list carries the display string's name so that a list shows it in the current language.
        EXPECT_EQ(Names(app), "SetZeroAdjust|Custom0");
        settings->FindEvent(FWideString("ON_GET_SETTING_NAME"))->AddTarget(FWideString("Name"), &answer);
        ProcessingSettings values;
        values.Exposure = 0.5;
        ASSERT_TRUE(app.Send("Settings", "SettingsData", &values));
        ASSERT_TRUE(app.Send("Settings", "SaveSettings"));
    });
    ASSERT_TRUE(harness.BodyRan());
    // The program writes only its configuration folder; a restart is a new start over it.
    const std::string file = "../config/Rawbench/settings.xml";
    std::string bytes;
    ASSERT_TRUE(harness.ReadScriptFile(file, bytes));

    FAppHarness restarted;
    ASSERT_TRUE(restarted.WriteScriptFile(file, bytes));
    restarted.SetStartLanguage("German");
    restarted.Start([&](FAppHarness& app) {
        EXPECT_EQ(Names(app), "SetZeroAdjust|Portrait \"soft\" & <warm>|Custom0|Custom1");
        auto* settings = dynamic_cast<FUiSettings*>(app.Object("Settings"));
        ASSERT_NE(settings, nullptr);
        ASSERT_EQ(settings->GetEntries().size(), 2u);
        EXPECT_TRUE(settings->GetEntries()[0].m_usName == FWideString(u"SetZeroAdjust"));
        EXPECT_DOUBLE_EQ(settings->GetEntries()[1].m_Settings.Exposure, 0.5);
    });
    EXPECT_TRUE(restarted.BodyRan());
}

} // namespace
