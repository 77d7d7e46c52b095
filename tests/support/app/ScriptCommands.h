#pragma once

// The commands of the loaded script, found by walking its tree: every leaf menu item,
// button, check box and radio button of every window, with the event tags by which the
// script makes it act.

#include <string>
#include <utility>
#include <vector>

#include "FWideString.h"

class FGenericUiApp;
class FGenericUiWindow;
class FIUiRelay;
class FPropList;

struct ScriptCommand {
    std::string window;           // the window's name
    std::string path;             // dotted path of its relay ("MainWin.View.Small")
    std::string kind;             // the tag's name
    FPropList* tag = nullptr;     // its script element
    std::vector<FPropList*> acts; // the event tags by which it acts
};

// One target of a command, resolved as the script's event would resolve it.
struct CommandTarget {
    std::string description; // "'Message' to Target"
    FIUiRelay* target = nullptr;
    FWideString message;
    // Data and Data2 side by side, as the script's events pass them.
    FWideString data[2];
    bool dataGiven = false;
    // The event passes a bool of its own (a check box's state) when the script gives none.
    bool passesBool = false;
};

std::vector<ScriptCommand> FindScriptCommands(FGenericUiApp* app);
// Every element of that tag name, with the dotted path of its relay.
std::vector<std::pair<std::string, FPropList*>> FindTagsOfKind(FGenericUiApp* app, const std::string& kind);
// The window tags of the script, in order.
std::vector<FPropList*> FindWindowTags(FGenericUiApp* app);
// Every target of the command's acting tags; unresolved targets have a null relay.
std::vector<CommandTarget> ResolveTargets(FGenericUiApp* app, const ScriptCommand& command);
// Sends one target its message as the script's event would; false when not handled.
bool SendAsScript(const CommandTarget& target);
// "Name" of the element, empty when none.
std::string TagName(const FPropList* tag);
