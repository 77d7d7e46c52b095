#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "FAppHarness.h"

// A damaged auto-launch preference file stops the start with a clear box; the
// file itself is left as it was for the user (or the installer) to mend.
TEST(AutoLaunchInProgramTest, ADamagedPreferenceFileEndsTheStartWithABox)
{
    FAppHarness harness;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(config, nullptr);
    const std::string folder = std::string(config) + "/Rawbench/Talvo";
    mkdir((std::string(config) + "/Rawbench").c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    const std::string damaged = "<AUTO_LAUNCH_PREFS AutoLaunchApplication_Name=\"launch";
    std::ofstream(folder + "/AutoLaunchPreferences.xml") << damaged;
    const int status = harness.Start([](FAppHarness&) {});
    EXPECT_NE(status, 0);
    EXPECT_FALSE(harness.BodyRan());
    ASSERT_FALSE(harness.MessageBoxes().empty());
    std::ifstream in(folder + "/AutoLaunchPreferences.xml");
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, damaged);
}
