// The folder chooser is shared by the save dialogs and the download dialog: through the
// real script, a choice reaches the dialog that opened the chooser and no other, whoever
// opened it before.

#include <gtest/gtest.h>

#include <string>

#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FTempDiskFolder.h"

namespace
{

const char* const kDialogs[] = {"SaveImagesWin", "SaveImageWin", "DownloadWin"};

std::string Text(FAppHarness& app, const std::string& path)
{
    FWideString text;
    app.Send(path, "GetText", &text);
    return Utf8FromWide(text);
}

bool OpenChooser(FAppHarness& app, const std::string& dialog)
{
    return app.Send(dialog, "Show") && app.Click(dialog + ".Browse") &&
           app.Window("DirectoryWin")->IsVisible();
}

// Closes the chooser by `button`, then the dialog that opened it.
bool CloseChooser(FAppHarness& app, const std::string& dialog, const std::string& button)
{
    return app.Click("DirectoryWin." + button) && !app.Window("DirectoryWin")->IsVisible() &&
           app.Send(dialog, "Hide");
}

TEST(ChooserOpeners, OnlyTheDialogThatOpenedTheChooserGetsTheChoice)
{
    FTempDiskFolder folders;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        int step = 0;
        for (const char* cancelled : kDialogs) {
            for (const char* chooser : kDialogs) {
                if (std::string(cancelled) == chooser)
                    continue;
                SCOPED_TRACE(std::string(cancelled) + " cancelled, then " + chooser + " chose");
                const std::string name = "pick" + std::to_string(step++);
                ASSERT_TRUE(folders.MakeFolder(name));
                std::string before[3];
                for (int i = 0; i < 3; ++i)
                    before[i] = Text(app, std::string(kDialogs[i]) + ".DstDir");

                FWideString url = folders.GetUrl(name);
                ASSERT_TRUE(OpenChooser(app, cancelled));
                ASSERT_TRUE(app.Send("DirectoryWin.WinMgr", "DirSelected", &url));
                ASSERT_TRUE(CloseChooser(app, cancelled, "Cancel"));
                ASSERT_TRUE(OpenChooser(app, chooser));
                ASSERT_TRUE(app.Send("DirectoryWin.WinMgr", "DirSelected", &url));
                ASSERT_TRUE(CloseChooser(app, chooser, "OK"));

                for (int i = 0; i < 3; ++i) {
                    const std::string now = Text(app, std::string(kDialogs[i]) + ".DstDir");
                    if (std::string(kDialogs[i]) == chooser)
                        EXPECT_EQ(now.rfind(folders.GetPath() + "/" + name, 0), 0u) << now;
                    else
                        EXPECT_EQ(now, before[i]) << kDialogs[i];
                }
            }
        }
    });
    EXPECT_TRUE(harness.BodyRan());
}

} // namespace
