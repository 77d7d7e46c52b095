#pragma once

// The seam through which the installer would end the session or restart the
// computer. A per-user installation never needs either, so the product's
// backend only writes a trace; tests put a recording backend in its place.

enum class EPowerExit {
    kLogoff,
    kShutdown,
    kReboot,
};

class FIPowerControl
{
public:
    virtual ~FIPowerControl() = default;
    // The right to restart; false when it cannot be had.
    virtual bool EnableShutdownPrivilege() = 0;
    virtual void Exit(EPowerExit kind, bool force) = 0;
};

// The backend in use; the tracing one unless another was set.
FIPowerControl& GetPowerControl();
// Null puts the tracing backend back. The caller keeps ownership.
void SetPowerControl(FIPowerControl* control);
