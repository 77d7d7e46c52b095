// The check run of the application's script: every command a user can reach acts and
// reaches a handler, and every event that the managers' contracts hand to another object
// has a receiver, in every language.

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
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "FUiObject.h"
#include "RelayEvent.h"
#include "ScriptCommands.h"

namespace
{

const char* const kLanguages[] = {"English", "French", "German", "Japanese"};

// Commands that do nothing on purpose, each with its reason.
const std::map<std::string, std::string> kInert = {};

// Types whose answer says nothing of whether they know a message: these managers answer
// false to everything by contract, and a reply request passes on its target's answer (none
// before a question is asked). Their vocabulary is checked instead.
const std::map<std::string, std::set<std::string>> kSilentTypes = {
    {"SAVE_IMAGES_AS_WIN_MGR",
     {"SetSaveSettings", "SetProcMode", "SaveProcMode", "Reset", "ImageFileList", "DefaultMode", "AutoMode",
      "CustomMode", "AddImageSizeMenuItem", "AddImageSizeMenuItemNoSize", "SelectedSetting", "DeletedSetting",
      "RequestedSetting", "PerformSave", "AllImages", "MarkedImages", "SelectedImages"}},
    {"DELETE_ALL_WIN_MGR", {"DelDir", "OK", "Cancel"}},
    {"AUTO_LAUNCH_MGR", {"QueryState", "SetAutoLaunchState", "Remove"}},
    {"REPLY_REQUEST", {"Relay", "Reply", "Reply2"}},
};

// The vocabulary of a silent type, or null for a type whose answer counts.
const std::set<std::string>* SilentVocabulary(FIUiRelay* target)
{
    auto* object = dynamic_cast<FUiObject*>(target);
    if (!object)
        return nullptr;
    const auto found = kSilentTypes.find(object->GetTypeName());
    return found == kSilentTypes.end() ? nullptr : &found->second;
}

// Events that the managers hand to other objects: a script that leaves one without a
// receiver breaks a road the user takes.
struct RequiredEvent {
    const char* type;
    const char* event;
};
const RequiredEvent kRequired[] = {
    // The browser's hand-overs to the view, the other windows and the dialogs.
    {"MAIN_WIN_MGR", "ON_NEW_THUMBNAIL_LIST"},
    {"MAIN_WIN_MGR", "ON_NEW_THUMBNAIL"},
    {"MAIN_WIN_MGR", "ON_REMOVE_THUMBNAIL"},
    {"MAIN_WIN_MGR", "ON_REMOVE_ALL_THUMBNAILS"},
    {"MAIN_WIN_MGR", "ON_SET_URL"},
    {"MAIN_WIN_MGR", "ON_GET_INFO_WINDOW_PTR"},
    {"MAIN_WIN_MGR", "ON_REVIEW_IMAGES"},
    {"MAIN_WIN_MGR", "ON_PROC_AND_SAVE"},
    {"MAIN_WIN_MGR", "ON_DOWNLOAD"},
    {"MAIN_WIN_MGR", "ON_DOWNLOAD_NEW"},
    {"MAIN_WIN_MGR", "ON_DOWNLOAD_DST_DIR"},
    {"MAIN_WIN_MGR", "ON_DELETE_ALL_CAMERA_IMAGES"},
    {"MAIN_WIN_MGR", "ON_SHOW_DELETE_ALL_DIALOG"},
    {"MAIN_WIN_MGR", "ON_START_COPY_BATCH"},
    {"MAIN_WIN_MGR", "ON_COPY_REQUEST"},
    {"MAIN_WIN_MGR", "ON_IS_ROTATE_ALLOWED"},
    {"MAIN_WIN_MGR", "ON_SET_REPLY"},
    {"MAIN_WIN_MGR", "ON_SET_DELETE_TEXT"},
    {"MAIN_WIN_MGR", "ON_SHOW_WHITEBAL_DLG"},
    {"MAIN_WIN_MGR", "ON_SET_WHITEBAL_FILENAME"},
    {"MAIN_WIN_MGR", "ON_SET_WHITEBAL"},
    {"MAIN_WIN_MGR", "ON_SET_WHITEBAL_NAME"},
    {"MAIN_WIN_MGR", "ON_SET_WHITEBAL_REPLY"},
    {"MAIN_WIN_MGR", "ON_QUERY_AUTO_LAUNCH_STATE"},
    {"MAIN_WIN_MGR", "ON_SET_AUTO_LAUNCH_STATE"},
    {"MAIN_WIN_MGR", "ON_SHOW_AUTO_LAUNCH"},
    {"MAIN_WIN_MGR", "ON_LANG_DIALOG"},
    {"MAIN_WIN_MGR", "ON_SHOW_INFO_WINDOW"},
    {"MAIN_WIN_MGR", "ON_HIDE_INFO_WINDOW"},
    {"MAIN_WIN_MGR", "ON_SHOW_ADJUSTMENT_PALETTE"},
    {"MAIN_WIN_MGR", "ON_HIDE_ADJUSTMENT_PALETTE"},
    {"MAIN_WIN_MGR", "ON_CAMERA_CONNECTED"},
    {"MAIN_WIN_MGR", "ON_CFCARD_CAPACITY"},
    {"MAIN_WIN_MGR", "ON_STATUS_IMAGES"},
    {"MAIN_WIN_MGR", "ON_IMAGE_INFO"},
    {"MAIN_WIN_MGR", "ON_STATUS_SELECTION"},
    {"MAIN_WIN_MGR", "ON_CFCARD_USED"},
    {"MAIN_WIN_MGR", "ON_CAMERA_CLOCK"},
    {"MAIN_WIN_MGR", "ON_SHOW_CANNOT_OPEN_PATH"},
    {"MAIN_WIN_MGR", "ON_SET_MENU_MARK"},
    {"MAIN_WIN_MGR", "ON_SET_MENU_UNMARK"},
    {"MAIN_WIN_MGR", "ON_SET_MENU_LOCK"},
    {"MAIN_WIN_MGR", "ON_SET_MENU_UNLOCK"},
    {"MAIN_WIN_MGR", "ON_NO_IMAGES_SELECTED"},
    {"MAIN_WIN_MGR", "ON_MULTI_IMAGES_SELECTED"},
    {"MAIN_WIN_MGR", "ON_SHOW_INVALID"},
    {"MAIN_WIN_MGR", "ON_SHOW_INSUFFICIENT"},
    {"MAIN_WIN_MGR", "ON_SHOW_NO_USERMANUAL"},
    {"MAIN_WIN_MGR", "ON_SHOW_NO_ACROBAT"},
    {"MAIN_WIN_MGR", "ON_NEW_VISIBLE_LIST"},
    {"MAIN_WIN_MGR", "ON_UPDATE_IMAGE"},
    {"MAIN_WIN_MGR", "ON_DELETING_IMAGE"},
    // The camera's notices reach the browser and the side bar.
    {"CAMERA_OBJECT", "ON_CONNECTED"},
    {"CAMERA_OBJECT", "ON_CFCARD_PRESENT"},
    {"CAMERA_OBJECT", "ON_STORAGE_CHANGE"},
    {"CAMERA_OBJECT", "ON_AC_POWER"},
    {"CAMERA_OBJECT", "ON_BATTERY_POWER"},
    {"CAMERA_OBJECT", "ON_GET_CAMERA_TIME"},
    // The view and the folder tree tell the browser what the user did.
    {"THUMBNAIL_LIST", "ON_THUMBNAIL_SIZE"},
    {"THUMBNAIL_LIST", "ON_SELECT_IMAGE"},
    {"THUMBNAIL_LIST", "ON_SELECT_IMAGE_LIST"},
    {"THUMBNAIL_LIST", "ON_DESELECT_IMAGE"},
    {"THUMBNAIL_LIST", "ON_DESELECT_IMAGE_NO_UPDATE"},
    {"THUMBNAIL_LIST", "ON_DESELECT_IMAGE_LIST"},
    {"THUMBNAIL_LIST", "ON_D-CLICK_IMAGE"},
    {"THUMBNAIL_LIST", "ON_RETURN_KEY_HIT"},
    {"DIRTREE", "ON_DIRSELECTED"},
    // The information window's thumbnail and its one / none / several states.
    {"INFO_WIN_MGR", "ON_NEW_THUMBNAIL"},
    {"INFO_WIN_MGR", "ON_NEW_IMAGE_NAME"},
    {"INFO_WIN_MGR", "ON_NO_IMAGES"},
    {"INFO_WIN_MGR", "ON_ONE_IMAGE"},
    {"INFO_WIN_MGR", "ON_MULTI_IMAGES"},
    // The review window reaches the engine and the browser.
    {"REVIEW_WIN_MGR", "ON_GET_PREVIEW"},
    {"REVIEW_WIN_MGR", "ON_GET_IMAGE"},
    {"REVIEW_WIN_MGR", "ON_DISPLAY_IMAGE"},
    {"REVIEW_WIN_MGR", "ON_GET_PREV_VISIBLE_IMAGE"},
    {"REVIEW_WIN_MGR", "ON_GET_NEXT_VISIBLE_IMAGE"},
    {"REVIEW_WIN_MGR", "ON_GET_IMAGE_LIST_POS"},
    {"REVIEW_WIN_MGR", "ON_UPDATE_IMAGE"},
    {"REVIEW_WIN_MGR", "ON_DELETING_IMAGE"},
    // The batch worker and the dialogs that feed it.
    {"PROGRESS_WIN_MGR", "ON_DO_IMAGE_PROC"},
    {"PROGRESS_WIN_MGR", "ON_UPDATE_IMAGE"},
    {"PROGRESS_WIN_MGR", "ON_IMAGE_QUEUE_EMPTY"},
    {"COPY_CAMERA_WIN_MGR", "ON_PERFORM_SAVE"},
    {"COPY_CAMERA_WIN_MGR", "ON_START_DOWNLOAD_BATCH"},
    {"COPY_CAMERA_WIN_MGR", "ON_GET_PATH"},
    {"COPY_CAMERA_WIN_MGR", "ON_IS_READY"},
    {"DELETE_ALL_WIN_MGR", "ON_IS_DELETE_ALLOWED"},
    {"DELETE_ALL_WIN_MGR", "ON_DELETING_IMAGE"},
    {"SAVE_IMAGES_AS_WIN_MGR", "ON_PERFORM_SAVE"},
    {"SAVE_IMAGES_AS_WIN_MGR", "ON_START_SAVE_BATCH"},
    {"SAVE_IMAGE_WIN_MGR", "ON_PERFORM_SAVE"},
    {"SAVE_IMAGE_WIN_MGR", "ON_START_SAVE_BATCH"},
    {"SPLASH_SCREEN_MGR", "ON_HIDE_SPLASH"},
    {"SPLASH_SCREEN_MGR", "ON_DISPLAY_VERSION"},
};

// The application's own events, top-level tags of the script.
const char* const kAppEvents[] = {"ON_OPEN_PATH_EVENT", "ON_VOLUMES_CHANGED_EVENT", "ON_SHOW_MAIN_WINDOW"};

// A handler that only says it is not there yet.
bool SaysPending(const std::string& trace)
{
    for (const char* word : {"pending", "not implemented", "not yet", "unrecognised", "unknown message"})
        if (trace.find(word) != std::string::npos)
            return true;
    return false;
}

bool EndsTheProgram(FGenericUiApp* app, const CommandTarget& target)
{
    auto* window = dynamic_cast<FGenericUiWindow*>(target.target);
    return window && window == app->GetFirstWindow() &&
           (target.message == "Close" || target.message == "InternalClose");
}

} // namespace

TEST(ScriptRoutes, EveryCommandActsAndReachesItsHandler)
{
    // Help opens its pages through the launcher: record instead of starting programs.
    SetDiskLauncher([](const FLaunchRequest&) { return 0; });
    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        FAppHarness harness;
        harness.SetStartLanguage(language);
        harness.Start([&](FAppHarness& app) {
            FGenericUiApp* ui = app.App();
            const std::vector<ScriptCommand> commands = FindScriptCommands(ui);
            ASSERT_GT(commands.size(), 50u);
            for (const ScriptCommand& command : commands) {
                if (kInert.count(command.path))
                    continue;
                EXPECT_FALSE(command.acts.empty()) << command.path << " does nothing";
                for (const CommandTarget& target : ResolveTargets(ui, command)) {
                    if (!target.target) {
                        ADD_FAILURE() << target.description << ": no such target";
                        continue;
                    }
                    if (EndsTheProgram(ui, target))
                        continue;
                    if (const std::set<std::string>* words = SilentVocabulary(target.target)) {
                        EXPECT_TRUE(words->count(Utf8FromWide(target.message)))
                            << target.description << " is not a message of its target";
                        continue;
                    }
                    FDebugTraceCapture trace;
                    bool handled = false;
                    try {
                        handled = SendAsScript(target);
                    } catch (const FException& e) {
                        ADD_FAILURE() << target.description << " threw " << e.GetMessage();
                        continue;
                    }
                    EXPECT_TRUE(handled) << target.description << " is not handled";
                    EXPECT_FALSE(SaysPending(trace.GetText()))
                        << target.description << ": " << trace.GetText();
                }
            }
        });
    }
    SetDiskLauncher(nullptr);
}

TEST(ScriptRoutes, EveryHandedOnEventHasAReceiver)
{
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        FGenericUiApp* ui = app.App();
        std::set<std::string> seenTypes;
        for (const RequiredEvent& required : kRequired) {
            for (const auto& [path, tag] : FindTagsOfKind(ui, required.type)) {
                seenTypes.insert(required.type);
                auto* object = dynamic_cast<FUiObject*>(ui->GetUiRelay(WideFromUtf8(path)));
                ASSERT_NE(object, nullptr) << path;
                RelayEvent* event = object->FindEvent(FWideString(required.event));
                ASSERT_NE(event, nullptr) << path << " declares no " << required.event;
                bool received = false;
                for (const RelayEvent::Relay* relay = event->GetFirstRelay(); relay; relay = relay->next)
                    received = received || relay->target != nullptr;
                EXPECT_TRUE(received) << path << " " << required.event << " reaches nobody";
            }
        }
        for (const RequiredEvent& required : kRequired)
            EXPECT_TRUE(seenTypes.count(required.type)) << "the script has no " << required.type;
        for (const char* name : kAppEvents) {
            bool received = false;
            for (FPropList* tag = ui->GetScriptRoot()->GetFirstChild(); tag; tag = tag->GetNext()) {
                if (!(tag->GetName() == name))
                    continue;
                RelayEvent event{FWideString(name)};
                event.ReadRelay(tag);
                received = event.ConnectToApp(ui) || received;
            }
            EXPECT_TRUE(received) << name << " reaches nobody";
        }
    });
}
