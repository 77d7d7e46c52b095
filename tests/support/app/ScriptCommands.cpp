#include "ScriptCommands.h"

#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FPropList.h"
#include "RelayEvent.h"

namespace
{

const char* const kActs[] = {"ON_SELECT", "ON_CHECK", "ON_UNCHECK", "ON_PRESS",
                             "ON_STATE",  "ON_TRUE",  "ON_FALSE"};

bool IsAct(const FWideString& name)
{
    for (const char* act : kActs)
        if (name == act)
            return true;
    return false;
}

bool IsCommandKind(const std::string& kind)
{
    return kind == "MENUITEM" || kind == "BUTTON" || kind == "CHECKBOX" || kind == "RADIO_BUTTON";
}

bool HasChildItems(const FPropList* tag)
{
    for (const FPropList* child = tag->GetFirstChild(); child; child = child->GetNext())
        if (child->GetName() == "MENUITEM")
            return true;
    return false;
}

// Calls `visit` with each element, its window's name and its dotted relay path.
template <typename Visit>
void Walk(FPropList* node, const std::string& window, const std::string& path, Visit& visit)
{
    const std::string kind = Utf8FromWide(node->GetName());
    const std::string name = TagName(node);
    std::string inside = window;
    std::string here = path;
    if (kind == "WINDOW") {
        inside = name;
        here = name;
    } else if (!name.empty() && kind != "UI_SCRIPT") {
        here = path.empty() ? name : path + "." + name;
    }
    visit(node, inside, here);
    for (FPropList* child = node->GetFirstChild(); child; child = child->GetNext())
        Walk(child, inside, here, visit);
}

void WalkWindows(FPropList* node, std::vector<FPropList*>& out)
{
    if (node->GetName() == "WINDOW") {
        out.push_back(node);
        return;
    }
    for (FPropList* child = node->GetFirstChild(); child; child = child->GetNext())
        WalkWindows(child, out);
}

} // namespace

std::string TagName(const FPropList* tag)
{
    return Utf8FromWide(tag->GetString("Name", FWideString()));
}

std::vector<ScriptCommand> FindScriptCommands(FGenericUiApp* app)
{
    std::vector<ScriptCommand> commands;
    auto visit = [&](FPropList* node, const std::string& window, const std::string& path) {
        const std::string kind = Utf8FromWide(node->GetName());
        if (window.empty() || !IsCommandKind(kind) || (kind == "MENUITEM" && HasChildItems(node)))
            return;
        ScriptCommand command{window, path, kind, node, {}};
        for (FPropList* child = node->GetFirstChild(); child; child = child->GetNext())
            if (IsAct(child->GetName()))
                command.acts.push_back(child);
        commands.push_back(command);
    };
    Walk(app->GetScriptRoot(), "", "", visit);
    return commands;
}

std::vector<std::pair<std::string, FPropList*>> FindTagsOfKind(FGenericUiApp* app, const std::string& kind)
{
    std::vector<std::pair<std::string, FPropList*>> found;
    auto visit = [&](FPropList* node, const std::string&, const std::string& path) {
        if (Utf8FromWide(node->GetName()) == kind)
            found.emplace_back(path, node);
    };
    Walk(app->GetScriptRoot(), "", "", visit);
    return found;
}

std::vector<FPropList*> FindWindowTags(FGenericUiApp* app)
{
    std::vector<FPropList*> windows;
    WalkWindows(app->GetScriptRoot(), windows);
    return windows;
}

std::vector<CommandTarget> ResolveTargets(FGenericUiApp* app, const ScriptCommand& command)
{
    std::vector<CommandTarget> targets;
    auto* window = dynamic_cast<FGenericUiWindow*>(app->FindUiWindow(WideFromUtf8(command.window)));
    for (FPropList* act : command.acts) {
        RelayEvent event(act->GetName());
        event.ReadRelay(act);
        if (window)
            event.Connect(window);
        else
            event.ConnectToApp(app);
        for (const RelayEvent::Relay* relay = event.GetFirstRelay(); relay; relay = relay->next) {
            CommandTarget target;
            target.target = relay->target;
            target.message = relay->message;
            target.data[0] = relay->data[0];
            target.data[1] = relay->data[1];
            target.dataGiven = relay->dataGiven;
            target.passesBool = act->GetName() == "ON_STATE";
            const FWideString& name = relay->relayGiven ? relay->relay : relay->localRelay;
            target.description = command.path + " " + Utf8FromWide(act->GetName()) + ": '" +
                                 Utf8FromWide(relay->message) + "' to " + Utf8FromWide(name);
            targets.push_back(target);
        }
    }
    return targets;
}

bool SendAsScript(const CommandTarget& target)
{
    if (!target.target)
        return false;
    FWideString data[2] = {target.data[0], target.data[1]};
    bool state = true;
    void* passed = target.dataGiven ? static_cast<void*>(data) : nullptr;
    if (!passed && target.passesBool)
        passed = &state;
    return target.target->UiRelayMessage(target.message, passed);
}
