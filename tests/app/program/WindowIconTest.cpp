#include <gtest/gtest.h>

#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FHeadlessUiWindow.h"
#include "IconPainter.h"

// Every window of the program carries the program's icon.
TEST(WindowIconTest, RawbenchsWindowsCarryItsIcon)
{
    FAppHarness harness;
    int windows = 0;
    const int status = harness.Start([&](FAppHarness& app) {
        for (const char* name : {"MainWin", "ReviewWin"}) {
            SCOPED_TRACE(name);
            FGenericUiWindow* window = app.Window(name);
            ASSERT_NE(window, nullptr);
            auto* os = dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow());
            ASSERT_NE(os, nullptr);
            EXPECT_EQ(os->GetIconSize(), kRawbenchWindowIconSize);
            ++windows;
        }
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(windows, 2);
}
