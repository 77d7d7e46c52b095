// Every window of the real script, opened on the sample folder, with every enabled menu item
// and button used in turn as a user would: nothing crashes, nothing reports an error, and
// the window still answers. Questions a command asks are answered with Cancel.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "FAppHarness.h"
#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "FUiButton.h"
#include "FUiMainWindow.h"
#include "FUiMenu.h"
#include "FUiThumbnails.h"
#include "SampleSet.h"
#include "ScriptCommands.h"

namespace
{

// Commands left out, each with its reason.
const std::map<std::string, std::string> kNotUsed = {
    {"MainWin.File.Quit", "ends the program; the quit journeys cover it"},
};

// How a window is opened when "Show" alone would show it without its content.
struct Opener {
    const char* relay;
    const char* message;
};
const std::map<std::string, Opener> kOpeners = {
    {"ReviewWin", {"MainWin.WinMgr", "ReviewImages"}},
    {"SaveImagesWin", {"MainWin.WinMgr", "ProcAndSave"}},
    {"SaveImageWin", {"ReviewWin.WinMgr", "Save"}},
    {"WhiteBalanceWin", {"ReviewWin.WinMgr", "WhiteBalPressed"}},
    {"LanguageWin", {"MainWin.WinMgr", "SelectLanguage"}},
    {"AutoLaunchWin", {"MainWin.WinMgr", "AutoLaunchWindow"}},
};

// Words of the debug trace that only an error writes.
bool TracesAnError(const std::string& trace, std::string& line)
{
    for (const char* word : {"unhandled", "unrecognised", "EXCEPTION", "FAILED", "exception after"}) {
        const size_t at = trace.find(word);
        if (at != std::string::npos) {
            const size_t start = trace.rfind('\n', at);
            line = trace.substr(start == std::string::npos ? 0 : start + 1, 160);
            return true;
        }
    }
    return false;
}

bool Enabled(FAppHarness& app, const ScriptCommand& command)
{
    if (command.kind == "MENUITEM") {
        auto* item = dynamic_cast<FUiMenuItem*>(app.App()->GetUiRelay(WideFromUtf8(command.path)));
        return item && item->IsEnabled();
    }
    auto* button = dynamic_cast<FUiButton*>(app.Object(command.path));
    if (button)
        return button->GetState() != FUiButton::kDisabled && button->GetRect().Width() > 0;
    FUiObject* object = app.Object(command.path);
    return object && object->GetRect().Width() > 0;
}

std::vector<std::string> VisibleWindows(FAppHarness& app)
{
    std::vector<std::string> names;
    for (FPropList* tag : FindWindowTags(app.App())) {
        const std::string name = TagName(tag);
        FGenericUiWindow* window = app.Window(name);
        if (window && window->IsVisible())
            names.push_back(name);
    }
    return names;
}

// Closes what a command opened: Cancel where there is one, else the window hides.
void AnswerWithCancel(FAppHarness& app, const std::set<std::string>& keep)
{
    for (int round = 0; round < 4; ++round) {
        bool closed = false;
        for (const std::string& name : VisibleWindows(app)) {
            if (keep.count(name))
                continue;
            for (const ScriptCommand& command : FindScriptCommands(app.App()))
                if (command.path == name + ".Cancel" && Enabled(app, command))
                    app.Click(command.path);
            if (app.Window(name)->IsVisible())
                app.Send(name, "Hide");
            closed = true;
        }
        if (!closed)
            return;
        app.RunUntil([] { return false; }, 5);
    }
}

void Open(FAppHarness& app, const std::string& window)
{
    const auto opener = kOpeners.find(window);
    if (opener != kOpeners.end())
        app.Send(opener->second.relay, opener->second.message);
    if (!app.Window(window)->IsVisible())
        app.Send(window, "Show");
    app.RunUntil([] { return false; }, 20);
}

} // namespace

TEST(ActivateEverything, EveryEnabledCommandOfEveryWindowOnTheSampleFolder)
{
    FScopedTempFolder samples;
    {
        // The generated scenes, a JPEG and a TIFF: small and the same on every machine.
        FScopedEnv noPhotos("RB_SAMPLE_PHOTOS", samples.Join("no photographs"));
        samples::SampleReport report;
        std::string error;
        ASSERT_TRUE(samples::MakeSamples(samples.Join("folder"), report, error)) << error;
    }
    SetDiskLauncher([](const FLaunchRequest&) { return 0; });
    FAppHarness harness;
    int used = 0;
    const int status = harness.Start(
        [&](FAppHarness& app) {
            auto* view = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
            auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
            ASSERT_TRUE(view && browser);
            ASSERT_TRUE(app.RunUntil([&] { return view->GetCellCount() >= 4; }, 3000));
            for (FPropList* tag : FindWindowTags(app.App())) {
                const std::string window = TagName(tag);
                SCOPED_TRACE(window);
                // Commands act on a selected image, as a user's usually do.
                auto selectOne = [&] {
                    if (view->GetFirstCell() && browser->GetList().GetSelectedCount() == 0) {
                        FWideString url = view->GetFirstCell()->entry->m_usURL;
                        app.Send("MainWin.WinMgr", "SelectImage", &url);
                    }
                };
                AnswerWithCancel(app, {"MainWin"});
                selectOne();
                Open(app, window);
                for (const ScriptCommand& command : FindScriptCommands(app.App())) {
                    if (command.window != window || kNotUsed.count(command.path))
                        continue;
                    if (window == "MainWin")
                        selectOne();
                    if (!app.Window(window)->IsVisible())
                        Open(app, window);
                    if (!Enabled(app, command))
                        continue;
                    SCOPED_TRACE(command.path);
                    FDebugTraceCapture trace;
                    try {
                        if (command.kind == "MENUITEM")
                            app.Send(command.path, "Select");
                        else
                            app.Click(command.path);
                        app.RunUntil([] { return false; }, 20);
                        AnswerWithCancel(app, {"MainWin", window});
                    } catch (const FException& e) {
                        ADD_FAILURE() << "threw " << e.GetMessage();
                    }
                    ++used;
                    std::string line;
                    EXPECT_FALSE(TracesAnError(trace.GetText(), line)) << line;
                    EXPECT_TRUE(app.MessageBoxes().empty()) << app.MessageBoxes().front().second;
                    GetHeadlessDesktop().messageBoxes.clear();
                    FUiChildWindowQuery query;
                    EXPECT_TRUE(app.Send(window, "GetChildWindow", &query)) << "the window no longer answers";
                }
                if (window != "MainWin")
                    app.Send(window, "Hide");
            }
            app.Send("MainWin", "Close");
        },
        samples.Join("folder"));
    SetDiskLauncher(nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_GT(used, 60);
}
