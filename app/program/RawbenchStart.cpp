#include "RawbenchStart.h"

#include <algorithm>
#include <cstring>

#include "BrisalMain.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FIOsUiApp.h"
#include "FIUiPixmap.h"
#include "FOsWindowIcon.h"
#include "FProgramStart.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"
#include "IconPainter.h"

namespace
{

bool EndsWith(const std::string& text, const char* tail)
{
    const size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

bool IsSkinKey(const std::string& key)
{
    return key.rfind("File_", 0) == 0;
}

// Keys whose value names a display string: "DisplayString" itself and the
// managers' "...String" keys.
bool IsStringKey(const std::string& key)
{
    return EndsWith(key, "String");
}

void CollectMissing(FIUiApp* app, const FPropList* node, std::vector<std::string>& missing)
{
    for (const FPropPair* pair = node->GetFirstProp(); pair; pair = pair->GetNext()) {
        const std::string key = Utf8FromWide(pair->GetName());
        const FWideString& value = pair->GetValue();
        std::string problem;
        if (IsSkinKey(key)) {
            FIUiPixmap* pixmap = app->LoadUiPixmap(value);
            if (!pixmap)
                problem = "skin " + Utf8FromWide(value);
            ReleaseUiPixmap(pixmap);
        } else if (IsStringKey(key) && !value.IsEmpty() && !app->GetDisplayString(value)) {
            problem = "string " + Utf8FromWide(value);
        }
        if (!problem.empty() && std::find(missing.begin(), missing.end(), problem) == missing.end())
            missing.push_back(problem);
    }
    for (const FPropList* child = node->GetFirstChild(); child; child = child->GetNext())
        CollectMissing(app, child, missing);
}

void CloseFirstWindow(FGenericUiApp* app)
{
    for (FPropList* tag = app->GetScriptRoot()->GetFirstChild(); tag; tag = tag->GetNext()) {
        if (tag->GetName() == "WINDOW") {
            if (FIUiRelay* window = app->GetUiRelay(tag->GetString("Name", FWideString())))
                window->UiRelayMessage(FWideString("InternalClose"), nullptr);
            return;
        }
    }
}

} // namespace

std::vector<std::string> FindMissingScriptParts(FIUiApp* app)
{
    std::vector<std::string> missing;
    if (app && app->GetScriptRoot())
        CollectMissing(app, app->GetScriptRoot(), missing);
    return missing;
}

int RunRawbench(const FWideString& exePath, const FWideString& argument, const FRawbenchExtras* extras)
{
    bool started = false;
    bool incomplete = false;
    FProgramHooks hooks;
    hooks.startup = [extras](FGenericUiApp* app, const FWideString& exeName, const FWideString& arg) {
        bool ok = BrisalMain(app, exeName, arg);
        if (extras && extras->startup)
            ok = extras->startup(app) && ok;
        return ok;
    };
    hooks.running = [&](FGenericUiApp* app) {
        started = true;
        const std::vector<std::string> missing = FindMissingScriptParts(app);
        if (!missing.empty()) {
            // A half-dressed window would mislead: say what is missing and end.
            std::string text = "The application's files are incomplete. Missing:";
            for (size_t i = 0; i < missing.size() && i < 8; ++i)
                text += "\n" + missing[i];
            if (missing.size() > 8)
                text += "\n...";
            text += "\nPlease reinstall Rawbench.\nProgram terminating.";
            ShowOsMessageBox(FWideString("ERROR"), WideFromUtf8(text));
            incomplete = true;
            CloseFirstWindow(app);
            return;
        }
        if (extras && extras->running)
            extras->running(app);
    };
    hooks.shutdown = [] { AppShutdownHook(); };
    if (GetOsWindowIcon().size == 0) {
        FIconImage icon = PaintRawbenchIcon(kRawbenchWindowIconSize);
        SetOsWindowIcon(icon.size, std::move(icon.rgba));
    }
    const int status = RunProgram(exePath, argument, hooks);
    if (status != 0)
        return status;
    return started && !incomplete ? 0 : 1;
}
