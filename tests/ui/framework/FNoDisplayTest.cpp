#include <gtest/gtest.h>

#include <string>

#include "FOsBackend.h"
#include "FProgramStart.h"
#include "FScopedTempFolder.h"

namespace
{

TEST(NoDisplayTest, TheProgramSaysSoOnStandardErrorAndFails)
{
    FScopedEnv display("DISPLAY", "");
    FScopedEnv driver("SDL_VIDEODRIVER", "x11");
    SetOsBackend(EOsBackend::kDisplay);
    bool started = false;
    FProgramHooks hooks;
    hooks.startup = [&](FGenericUiApp*, const FWideString&, const FWideString&) {
        started = true;
        return true;
    };
    testing::internal::CaptureStderr();
    const int status = RunProgram(FWideString("/nowhere/bin/rawbench"), FWideString(), hooks);
    const std::string err = testing::internal::GetCapturedStderr();
    SetOsBackend(EOsBackend::kHeadless);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("Cannot open the display: "), std::string::npos) << err;
    EXPECT_FALSE(started);
}

} // namespace
