#include <gtest/gtest.h>

#include "FCodePage.h"
#include "FIUiApp.h"
#include "FProbeObject.h"
#include "FUiSplashScreen.h"
#include "RelayEvent.h"

namespace
{

// A splash manager whose four events go to one probe, each under its own name.
struct SplashRig {
    FUiSplashScreen splash{"SPLASH_SCREEN_MGR"};
    FProbeObject probe{"PROBE"};
    SplashRig()
    {
        for (const char* event : {"ON_HIDE_SPLASH", "ON_SHOW_OK", "ON_SHOW_SPLASH", "ON_DISPLAY_VERSION"})
            splash.FindEvent(FWideString(event))->AddTarget(FWideString(event), &probe);
        probe.SetDataKind("ON_DISPLAY_VERSION", EProbeData::kString);
        probe.SetDataKind("ON_SHOW_OK", EProbeData::kBool);
    }
};

} // namespace

TEST(SplashScreenTest, VersionTextLeavesOutTheThirdNumber)
{
    FUiVersion version;
    version.major = 2;
    version.minor = 3;
    version.revision = 7;
    version.build = 3152;
    EXPECT_EQ(Utf8FromWide(FormatVersionText(version)), "v2.3 Release (3152)");
}

TEST(SplashScreenTest, CommandsFireTheirEventsInOrder)
{
    SplashRig rig;
    EXPECT_TRUE(rig.splash.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
    EXPECT_EQ(rig.probe.GetMessages(), "ON_HIDE_SPLASH,ON_DISPLAY_VERSION");
    EXPECT_FALSE(rig.probe.GetRecords()[0].hadData);
    EXPECT_TRUE(rig.probe.GetRecords()[1].hadData);

    rig.probe.Clear();
    EXPECT_TRUE(rig.splash.UiRelayMessage(FWideString("ShowSplash"), nullptr));
    ASSERT_EQ(rig.probe.GetMessages(), "ON_SHOW_OK,ON_SHOW_SPLASH");
    EXPECT_EQ(rig.probe.GetRecords()[0].data, "true");

    rig.probe.Clear();
    FWideString text;
    EXPECT_TRUE(rig.splash.UiRelayMessage(FWideString("GetVersionString"), &text));
    EXPECT_EQ(rig.probe.GetMessages(), "ON_HIDE_SPLASH");
    EXPECT_EQ(Utf8FromWide(text).substr(0, 1), "v");

    rig.probe.Clear();
    EXPECT_FALSE(rig.splash.UiRelayMessage(FWideString("GetVersionString"), nullptr));
    EXPECT_TRUE(rig.splash.UiRelayMessage(FWideString("we're goin' bye-bye"), nullptr));
    EXPECT_FALSE(rig.splash.UiRelayMessage(FWideString("showsplash"), nullptr));
    EXPECT_EQ(rig.probe.GetMessages(), "");
}
