#include "FUiDispatcher.h"

#include <cstdio>

#include "FException.h"
#include "FIOsUiApp.h"

namespace
{

int g_depth = 0;
std::function<void()> g_afterDispatch;

} // namespace

void ReportEscapedException(const char* description, const char* message)
{
    if (description) {
        std::printf("Caught unhandled FException: %s (%s)\n", description, message);
        FWideString text;
        text.Format("E: %s (%s)", description, message);
        ShowOsMessageBox(FWideString("EXCEPTION"), text);
    } else {
        std::printf("Caught unknown unhandled\n");
        ShowOsMessageBox(FWideString("EXCEPTION"), FWideString("Caught unknown unhandled exception."));
    }
    std::fflush(stdout);
}

void DispatchOsEvent(const std::function<void()>& event)
{
    ++g_depth;
    // One failed handler must not end the program: report it and go on.
    try {
        event();
    } catch (const FException& e) {
        ReportEscapedException(e.GetDescription(), e.GetMessage());
    } catch (...) {
        ReportEscapedException(nullptr, nullptr);
    }
    --g_depth;
    if (g_depth == 0 && g_afterDispatch) {
        ++g_depth;
        try {
            g_afterDispatch();
        } catch (const FException& e) {
            ReportEscapedException(e.GetDescription(), e.GetMessage());
        }
        --g_depth;
    }
}

bool IsInsideOsDispatch()
{
    return g_depth > 0;
}

void SetOsAfterDispatchHook(std::function<void()> hook)
{
    g_afterDispatch = std::move(hook);
}
