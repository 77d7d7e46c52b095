#include "FPowerControl.h"

#include "FDebugTrace.h"

namespace
{

class FTracePowerControl final : public FIPowerControl
{
public:
    bool EnableShutdownPrivilege() override { return true; }
    void Exit(EPowerExit kind, bool force) override
    {
        static const char* const kNames[] = {"log-off", "shutdown", "restart"};
        DebugTrace("FTracePowerControl: a %s%s was asked for and is not needed here\n",
                   force ? "forced " : "", kNames[static_cast<int>(kind)]);
    }
};

FTracePowerControl g_traceControl;
FIPowerControl* g_pControl = nullptr;

} // namespace

FIPowerControl& GetPowerControl()
{
    return g_pControl ? *g_pControl : g_traceControl;
}

void SetPowerControl(FIPowerControl* control)
{
    g_pControl = control;
}
